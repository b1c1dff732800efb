#pragma once

// Helpers of the window-level tests: gateway lines, lookups into a window, a
// loopback peer, a pseudo-terminal, and a way to answer modal dialogs.

#include "console/console.h"
#include "link/serialports.h"

#include <QSerialPort>
#include <QtNetwork>
#include <QtTest>
#include <QtWidgets>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

// Lines as the gateways send them, and the tool's restart sequence.
namespace wire {
inline const QByteArray sernix_14 = "$PHLV,Halvane_Sernix,FW 2.1.0:14*3C\r\n";
inline const QByteArray sernix_15 = "$PHLV,Halvane_Sernix,FW 2.1.0:15*3D\r\n";
inline const QByteArray torvel_3 = "$PHLV,Halvane_Torvel,FW 1.4.2:3*2B\r\n";
inline const QByteArray status = "$PHLV,000000,12,0,5,3601,34\r\n";
inline const QByteArray empty_status = "$PHLV,000000,,,,3601,34\r\n";
inline const QByteArray raw_frame = "!PHLV,127250,1,AAAA\r\n";
inline const QByteArray offline = "$PHLV,TAVIX_OFFLINE,\r\n";
inline const QByteArray restart = "$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n" + offline + offline;
} // namespace wire

inline const QString select_text
    = QStringLiteral(" Select your product by clicking on Sernix or Torvel");

template<typename T> T *child(const QObject &parent, const char *name)
{
    return parent.findChild<T *>(QString::fromLatin1(name));
}

inline QLabel *statusLabel(const QMainWindow &w)
{
    return w.statusBar()->findChildren<QLabel *>().value(0);
}

inline QString statusText(const QMainWindow &w)
{
    return statusLabel(w)->text();
}

// Text that comes during a repaint frame goes into the console when the
// frame ends.
inline const QPlainTextEdit &settled(const QPlainTextEdit &edit)
{
    const auto *console = qobject_cast<const Console *>(&edit);
    for (int waited = 0; console && console->hasWaitingText() && waited < 5000; waited += 5)
        QTest::qWait(5);
    return edit;
}

inline QString consoleText(const QWidget &w)
{
    return settled(*w.findChild<QPlainTextEdit *>()).toPlainText();
}

// The console's non-empty lines, oldest first.
inline QStringList consoleLines(const QWidget &w)
{
    return consoleText(w).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : "<cannot read " + path.toUtf8() + ">";
}

// A port list in which the adapter sits at path.
inline auto adapterAt(const QString &path)
{
    return [path] { return QList<tavix::SerialPortEntry>{ { path, QStringLiteral("FTDI") } }; };
}

// Listens on 127.0.0.1 and keeps every byte its one client sends.
class LoopbackPeer : public QObject
{
public:
    LoopbackPeer()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            client = server.nextPendingConnection();
            connect(client, &QTcpSocket::readyRead, this, [this] { bytes += client->readAll(); });
        });
    }

    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray bytes;
};

#ifdef Q_OS_UNIX
// A pseudo-terminal whose slave the tool opens as its serial port; the test
// reads what the tool writes on the master side.
class Pty
{
public:
    Pty()
    {
        char name[128] = {};
        int slave = -1;
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            termios t{};
            tcgetattr(master, &t);
            cfmakeraw(&t);
            tcsetattr(master, TCSANOW, &t);
            // The tool takes its own exclusive open of the slave path.
            ::close(slave);
            path = QString::fromLocal8Bit(name);
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() { ::close(master); }

    // Everything the tool has written so far (waits up to timeout_ms for
    // the first byte).
    QByteArray readAvailable(int timeout_ms = 0)
    {
        QByteArray out;
        pollfd p{ master, POLLIN, 0 };
        if (::poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN))
            return out;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0)
            out.append(buf, int(n));
        return out;
    }

    int master = -1;
    QString path;
};
#endif

// Cancels every modal box or file dialog the tool opens (from within its
// nested event loop) and records its title, parent and text: for a file
// dialog, the name it proposes and its filters.
struct ModalCloser
{
    QStringList titles;
    QStringList texts;
    QList<QWidget *> parents;
    QTimer timer;

    ModalCloser()
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            titles << dialog->windowTitle();
            parents << dialog->parentWidget();
            auto *files = qobject_cast<QFileDialog *>(dialog);
            texts << (files
                          ? files->selectedFiles().join(';') + ' ' + files->nameFilters().join(";;")
                          : dialog->property("text").toString());
            dialog->reject();
        });
        timer.start();
    }
};

// The lines of a text pane as its document holds them, one per block.
inline QStringList blockTexts(const QPlainTextEdit &edit)
{
    QStringList texts;
    for (QTextBlock b = settled(edit).document()->firstBlock(); b.isValid(); b = b.next())
        texts << b.text();
    return texts;
}
