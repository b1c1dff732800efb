#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    // Follow the desktop's scale factor: the form's fixed geometry and its
    // pictures are in device-independent pixels, so on a display scaled to
    // 200% they double instead of shrinking to half. Both must be set before
    // the application object exists.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
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
