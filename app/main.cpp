#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    MainWindow::prepareApplication();
    QApplication app(argc, argv);
#ifdef Q_OS_WIN
    // The form marks buttons by colour (Change Mode green or red, LOG OFF
    // red), which Windows' own style leaves unpainted; Fusion paints them,
    // and looks as the tool does on Linux.
    QApplication::setStyle(QStringLiteral("Fusion"));
#endif
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("tavix-gateway-tool"));
    QApplication::setWindowIcon(MainWindow::toolIcon());
    MainWindow window;
    window.show();
    return app.exec();
}
