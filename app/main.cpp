#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    MainWindow::prepareApplication();
    QApplication app(argc, argv);
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tavix-gateway-tool"));
    QApplication::setWindowIcon(MainWindow::toolIcon());
    MainWindow window;
    window.show();
    return app.exec();
}
