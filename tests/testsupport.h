#pragma once

// Shared helpers of the window-level tests: a loopback TCP peer that
// records what the tool sends, a bare pseudo-terminal, and a way to answer
// the modal boxes the tool opens.

#include <QApplication>
#include <QByteArray>
#include <QHostAddress>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

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
    quint16 port() const { return server.serverPort(); }
    bool send(const QByteArray &data)
    {
        if (!client)
            return false;
        client->write(data);
        return client->waitForBytesWritten(1000);
    }
    void drop()
    {
        if (client)
            client->disconnectFromHost();
    }

    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray bytes;
};

// A pseudo-terminal whose slave the tool opens as its serial port; the test
// reads what the tool writes on the master side.
class Pty
{
public:
    Pty()
    {
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0) {
            termios t {};
            tcgetattr(master, &t);
            cfmakeraw(&t);
            tcsetattr(master, TCSANOW, &t);
            // The tool takes its own exclusive open of the slave path.
            ::close(slave);
            slave = -1;
            path = QString::fromLocal8Bit(name);
            fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        }
    }
    ~Pty() { close(); }
    void close()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    bool isValid() const { return master >= 0; }

    // Everything the tool has written so far (waits up to timeout_ms for
    // the first byte).
    QByteArray readAvailable(int timeout_ms = 0)
    {
        QByteArray out;
        pollfd p {master, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0 || !(p.revents & POLLIN))
            return out;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(master, buf, sizeof buf)) > 0)
            out.append(buf, int(n));
        return out;
    }
    bool write(const QByteArray &data)
    {
        return ::write(master, data.constData(), size_t(data.size())) == data.size();
    }
    // The rate the tool's side of the line runs at.
    int toolBaud() const
    {
        termios t {};
        if (tcgetattr(master, &t) != 0)
            return -1;
        switch (cfgetospeed(&t)) {
        case B4800: return 4800;
        case B38400: return 38400;
        case B115200: return 115200;
        case B230400: return 230400;
        default: return 0;
        }
    }

    int master = -1;
    int slave = -1;
    QString path;
};

// Closes the next modal box the tool opens (from within its nested event
// loop) and records its title and text.
struct ModalCloser
{
    QStringList titles;
    QStringList texts;
    QTimer timer;

    ModalCloser()
    {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                titles << box->windowTitle();
                texts << box->text();
                box->done(QMessageBox::Ok);
            }
        });
        timer.start();
    }
};
