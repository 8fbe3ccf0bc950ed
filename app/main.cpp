#include <QApplication>
#include <cstdio>
#include <exception>

#include "modXP.h"
#include "process_setup.h"

int main(int argc, char** argv) {
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    velindra::EnsureHomeFolder();
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Velindra"));
        QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
        QGuiApplication::setDesktopFileName(QStringLiteral("velindra"));
        velindra::modXP::Main();
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velindra: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "velindra: 内部错误\n");
    }
    return 1;
}
