#include <QApplication>
#include <cstdio>
#include <exception>

#include "Form1.h"
#include "modXP.h"
#include "process_setup.h"
#include "single_instance.h"
#include "texts.h"
#include "version.h"

int main(int argc, char** argv) {
    velindra::EnsureStandardDescriptors();  // before anything opens a file or a socket
    velindra::EnsureHomeFolder();
    try {
        QApplication app(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Velindra"));
        QApplication::setApplicationVersion(QString::fromUtf8(velindra::kVersion));
        QGuiApplication::setDesktopFileName(QStringLiteral("velindra"));
        velindra::modXP::InstallTranslations();

        // A browser handing over the next link starts us again: the running program takes it.
        const QStringList links = QApplication::arguments().mid(1);
        const QString name = velindra::SingleInstance::DefaultName();
        if (velindra::SingleInstance::HandOver(name, links, 2000))
            return 0;
        velindra::SingleInstance instance;
        QObject::connect(&instance, &velindra::SingleInstance::argumentsArrived,
                         [](const QStringList& more) {
                             if (velindra::Form1* form = velindra::modXP::MainWindow())
                                 form->AppendLinks(more);
                         });
        instance.Listen(name);

        velindra::modXP::Main(links);
        return app.exec();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velindra: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "velindra: %s\n", velindra::texts::kInternalError);
    }
    return 1;
}
