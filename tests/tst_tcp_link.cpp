// The network link end to end: a real window talking to the simulated Torvel
// on loopback, from a refused connection to a lost one and back, with
// received lines followed through the ring and the worker's ticks to the log.
#include "app/mainwindow.h"
#include "gatewaysim.h"
#include "testsupport.h"

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using gatewaysim::TorvelSimulator;

namespace {

const QString connected_3 = QStringLiteral(" Torvel is connected in conversion mode: 3");
const QString cant_connect
    = QStringLiteral(" Can`t connect Torvel. Make sure you are using TCP connection");

// Threads of this process, as the kernel sees them.
int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).count()) - 2;
}

QByteArray numberedLines(quint64 first, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += gatewaysim::numberedLine(first + quint64(i));
    return out;
}

// A loopback listener that never accepts and whose queue is already full,
// so that a further connection attempt gets no answer at all.
struct SilentListener
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    quint16 port = 0;
    QTcpSocket filler;

    SilentListener()
    {
        sockaddr_in addr{ AF_INET, 0, { htonl(INADDR_LOOPBACK) }, {} };
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0
            || ::listen(fd, 0) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        filler.connectToHost(QHostAddress::LocalHost, ntohs(addr.sin_port));
        if (filler.waitForConnected(1000))
            port = ntohs(addr.sin_port);
    }
    ~SilentListener() { ::close(fd); }
};

// Messages of the toolkit that mean a thread was mishandled.
QStringList thread_warnings;
QtMessageHandler previous_handler = nullptr;
void catchThreadWarnings(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (msg.contains("QThread") || msg.contains("another thread")
        || msg.contains("different thread"))
        thread_warnings << msg;
    previous_handler(type, context, msg);
}

// A window pointed at a simulated Torvel, logging into a folder of its own.
struct TorvelWindow
{
    TorvelSimulator sim{ 3 };
    std::unique_ptr<MainWindow> w{ new MainWindow };
    QTemporaryDir tmp;

    TorvelWindow()
    {
        sim.setStatusInterval(0);
        sim.setRestartDelay(20);
        if (sim.start())
            w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), sim.port());
        w->setSaveNameAsker([this] { return tmp.filePath(QStringLiteral("log.csv")); });
    }

    int page() const { return child<QStackedWidget>(*w, "stackedWidget")->currentIndex(); }
    int logged() const { return int(w->state().log_lines.size()); }

    // Chooses the Torvel and waits for the gateway's identity reply.
    bool choose(bool from_menu = false)
    {
        const int before = sim.identityRepliesSent();
        from_menu ? child<QAction>(*w, "actionTorvel")->trigger()
                  : child<QPushButton>(*w, "TorvelButton")->click();
        return QTest::qWaitFor(
            [&] { return sim.identityRepliesSent() > before && statusText(*w) == connected_3; },
            5000);
    }
    // Starts the log, or saves it and returns its bytes with each line as
    // it was received (all lines here end in CR LF; the log adds a line feed).
    QByteArray toggleLog()
    {
        child<QPushButton>(*w, "logStartStopButton")->click();
        return fileBytes(tmp.filePath(QStringLiteral("log.csv"))).replace("\r\n\n", "\r\n");
    }
};

} // namespace

class TestTcpLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        previous_handler = qInstallMessageHandler(catchThreadWarnings);
        // One connection and one window's life first, so that threads the
        // toolkit starts once per process are not counted as the tool's.
        QVERIFY(TorvelWindow().choose());
    }
    void cleanup() { QCOMPARE(thread_warnings, QStringList()); }
    void connectLoseChooseAgainAndClose();
};

void TestTcpLink::connectLoseChooseAgainAndClose()
{
    TorvelWindow tw;
    const int threads_idle = threadCount();

    // Refused (a port taken from the system and let go): the failure text
    // stays, no worker starts, and a command that goes nowhere is not shown.
    auto *taken = new QTcpServer;
    QVERIFY(taken->listen(QHostAddress::LocalHost, 0));
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), taken->serverPort());
    delete taken;
    child<QPushButton>(*tw.w, "TorvelButton")->click();
    QTest::qWait(100);
    QCOMPARE(statusText(*tw.w), cant_connect);
    QCOMPARE(tw.page(), 0);
    QCOMPARE(threadCount(), threads_idle);
    tw.w->reset();
    QVERIFY(consoleText(*tw.w).isEmpty());

    // No answer at all: the attempt is given up after the bounded wait and
    // does not go on connecting behind the user's back.
    SilentListener silent;
    QVERIFY(silent.port != 0);
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), silent.port);
    child<QPushButton>(*tw.w, "TorvelButton")->click();
    QCOMPARE(statusText(*tw.w), cant_connect);
    QCOMPARE(tw.w->findChild<QTcpSocket *>()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(threadCount(), threads_idle);

    // The same window connects once a gateway is there. Lines that arrive
    // together with the loss are still shown and logged, and the worker of
    // the lost link ends; a line the loss cut off is not carried over.
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), tw.sim.port());
    QVERIFY(tw.choose());
    // The gateway hears the restart sentence before anything else.
    QCOMPARE(tw.sim.received().value(0), wire::offline);
    QCOMPARE(threadCount(), threads_idle + 1);
    tw.toggleLog();
    tw.sim.sendRaw(numberedLines(100, 150) + "$GPTXT,CUT OFF:9");
    tw.sim.disconnectClient();
    QTRY_COMPARE(statusText(*tw.w), QStringLiteral("   Torvel disconnected"));
    QCOMPARE(tw.page(), 0);
    QTRY_COMPARE(tw.logged(), 150);
    QTRY_COMPARE(threadCount(), threads_idle);

    // Chosen again, from the button and from the menu: each choice connects
    // a fresh socket, which identifies the gateway again, and releases the
    // link before it, so that one socket and one worker thread remain.
    for (int i = 0; i < 4; ++i)
        QVERIFY(tw.choose(i % 2));
    QCOMPARE(tw.sim.connectionCount(), 5);
    QTRY_COMPARE(tw.w->findChildren<QTcpSocket *>().size(), 1);
    QTRY_COMPARE(threadCount(), threads_idle + 1);

    // 200 KiB without a line end, in pieces each starting with '$': taken off
    // the socket as they come, no fragment logged, the overlong line dropped
    // at its end and the next one whole.
    for (int i = 0; i < 50; ++i)
        tw.sim.sendRaw(QByteArray(4096, '$'));
    QTest::qWait(200);
    QCOMPARE(tw.w->findChild<QTcpSocket *>()->bytesAvailable(), qint64(0));
    QCOMPARE(tw.logged(), 150);
    tw.sim.sendRaw("\r\n" + wire::status);
    QTRY_COMPARE(tw.logged(), 151);

    // Far more lines than the ring holds, as fast as loopback takes them:
    // all of them reach the log, in order, none twice.
    tw.sim.flood(7000, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(tw.logged(), 10151, 30000);
    QTRY_VERIFY(tw.sim.floodDone());
    QTest::qWait(100);
    QCOMPARE(tw.toggleLog(), numberedLines(100, 150) + wire::status + numberedLines(7000, 10000));

    // Choosing the Sernix closes the network link quietly and ends its
    // worker; the restart sequence goes to the serial port.
    Pty pty;
    tw.w->setPortLister(adapterAt(pty.path));
    child<QPushButton>(*tw.w, "SernixButton")->click();
    QTRY_VERIFY(!tw.sim.clientConnected());
    QTRY_COMPARE(threadCount(), threads_idle);
    QTRY_COMPARE(tw.w->findChildren<QTcpSocket *>().size(), 0);
    auto *serial = tw.w->findChild<QSerialPort *>();
    QByteArray on_serial;
    QVERIFY(QTest::qWaitFor(
        [&] { return (on_serial += pty.readAvailable(20)).contains(wire::offline); }, 2000));

    // Choosing the Torvel during the probe closes the port, and the probe's
    // later steps neither reopen it nor reach the gateway.
    tw.sim.clearReceived();
    QVERIFY(tw.choose());
    QVERIFY(!serial->isOpen());
    QTest::qWait(3500);
    QVERIFY(!serial->isOpen());
    QCOMPARE(tw.sim.received(), QList<QByteArray>({ wire::offline }));
    QCOMPARE(statusText(*tw.w), connected_3);
    QCOMPARE(tw.page(), 2);
    QCOMPARE(threadCount(), threads_idle + 1);

    // Closed while lines pour in: the worker is stopped and its thread
    // joined, and the gateway sees the connection go.
    tw.sim.flood(0, 100000);
    QTRY_VERIFY(consoleText(*tw.w).contains(QStringLiteral("$GPTXT")));
    tw.w.reset();
    QTRY_COMPARE(threadCount(), threads_idle);
    QTRY_VERIFY(!tw.sim.clientConnected());
    // Whatever the worker had queued for the window went with it.
    QTest::qWait(50);
}

QTEST_MAIN(TestTcpLink)
#include "tst_tcp_link.moc"
