#include <QApplication>

#include "modXP.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Velindra"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
    QGuiApplication::setDesktopFileName(QStringLiteral("velindra"));
    velindra::modXP::Main();
    return app.exec();
}
