// The network link end to end: a real window on the offscreen platform
// talking to the simulated Torvel on loopback, from the first sentence to a
// lost connection, with every received line followed through the count
// worker's ticks to the console and the log.
#include "app/mainwindow.h"
#include "gatewaysim.h"
#include "testsupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QSerialPort>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <memory>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

using gatewaysim::TorvelSimulator;

namespace {

const QString connected_3 = QStringLiteral(" Torvel is connected in conversion mode: 3");
const QString lost_text = QStringLiteral("   Torvel disconnected");
const QString cant_connect
    = QStringLiteral(" Can`t connect Torvel. Make sure you are using TCP connection");

// Threads of this process, as the kernel sees them.
int threadCount()
{
    return QDir(QStringLiteral("/proc/self/task"))
        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
        .size();
}

// A loopback listener that never accepts and whose queue is already full,
// so that a further connection attempt gets no answer at all.
struct SilentListener
{
    int fd = -1;
    quint16 port = 0;
    QTcpSocket filler;

    SilentListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0
            || ::listen(fd, 0) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0)
            return;
        filler.connectToHost(QHostAddress::LocalHost, ntohs(addr.sin_port));
        if (filler.waitForConnected(1000))
            port = ntohs(addr.sin_port);
    }
    ~SilentListener()
    {
        if (fd >= 0)
            ::close(fd);
    }
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
    TorvelSimulator sim;
    std::unique_ptr<MainWindow> w;
    QTemporaryDir tmp;
    QString save_as;

    TorvelWindow()
        : sim(3)
        , w(new MainWindow)
    {
        sim.setStatusInterval(0);
        sim.setRestartDelay(20);
        sim.setModeChangeDelay(100);
        if (sim.start())
            w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), sim.port());
        w->setSaveNameAsker([this] { return save_as; });
    }

    QString statusText() const { return ::statusText(*w); }
    int page() const { return child<QStackedWidget>(*w, "stackedWidget")->currentIndex(); }
    // The newest line shown, without its line end.
    QString lastConsoleLine() const { return consoleLines(*w).value(consoleLines(*w).size() - 1); }
    QTcpSocket *socket() const { return w->findChild<QTcpSocket *>(); }
    int sockets() const { return w->findChildren<QTcpSocket *>().size(); }

    // Presses the Torvel button and waits for the gateway's identity reply.
    bool choose()
    {
        const int before = sim.identityRepliesSent();
        child<QPushButton>(*w, "TorvelButton")->click();
        return QTest::qWaitFor(
            [&] { return sim.identityRepliesSent() > before && statusText() == connected_3; },
            5000);
    }

    void startLog()
    {
        if (!w->state().logging_on)
            child<QPushButton>(*w, "logStartStopButton")->click();
    }
    // Saves the log and returns its records, each a line as received (all
    // lines here end in CR LF, and the log adds a line feed to each).
    QList<QByteArray> saveLog()
    {
        save_as = tmp.filePath(QStringLiteral("log.csv"));
        child<QPushButton>(*w, "logStartStopButton")->click();
        QList<QByteArray> records;
        for (const QByteArray &part : fileBytes(save_as).split('\n')) {
            if (!part.isEmpty())
                records << part + '\n';
        }
        return records;
    }
};

// The sequence numbers of numbered lines, with a marker for any other line.
QList<qint64> sequences(const QList<QByteArray> &lines)
{
    QList<qint64> out;
    for (const QByteArray &line : lines) {
        const std::optional<quint64> seq = gatewaysim::sequenceOf(line);
        out << (seq ? qint64(*seq) : -1);
    }
    return out;
}

QList<qint64> range(qint64 first, int count)
{
    QList<qint64> out;
    for (int i = 0; i < count; ++i)
        out << first + i;
    return out;
}

QByteArray numberedLines(quint64 first, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += gatewaysim::numberedLine(first + quint64(i));
    return out;
}

} // namespace

class TestTcpLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void identificationAndModeChange();
    void splitAndOverlongLines();
    void burstArrivesCompleteAndInOrder();
    void lossThenFreshConnection();
    void noGatewayThere();
    void oneLinkAtATime();
    void windowDestroyedWhileWorkerRuns();
};

void TestTcpLink::initTestCase()
{
    previous_handler = qInstallMessageHandler(catchThreadWarnings);
    // One connection and one window's life first, so that threads the
    // toolkit starts once per process are not counted as the tool's.
    auto tw = std::make_unique<TorvelWindow>();
    QVERIFY(tw->choose());
    tw.reset();
}

void TestTcpLink::cleanup()
{
    QCOMPARE(thread_warnings, QStringList());
    thread_warnings.clear();
}

void TestTcpLink::identificationAndModeChange()
{
    TorvelWindow tw;
    QVERIFY(tw.choose());

    // The gateway hears the restart sentence before anything else.
    QCOMPARE(tw.sim.received().value(0), wire::offline);
    QCOMPARE(tw.page(), 2);
    QCOMPARE(child<QComboBox>(*tw.w, "selectModeBox")->currentIndex(), 3);

    // A mode change: the acknowledgement makes the tool restart the
    // gateway, which comes back in the new mode.
    tw.sim.clearReceived();
    child<QComboBox>(*tw.w, "selectModeBox")->setCurrentIndex(10);
    child<QPushButton>(*tw.w, "changeModeButton")->click();
    QTRY_COMPARE(tw.statusText(), QStringLiteral(" Torvel is connected in conversion mode: 15"));
    const QList<QByteArray> heard = tw.sim.received();
    QCOMPARE(heard.value(0), QByteArray("$PHLV,TAVIX_MODE,15,\r\n"));
    QVERIFY(heard.indexOf(wire::offline) > 0);
    QCOMPARE(child<QComboBox>(*tw.w, "selectModeBox")->currentIndex(), 10);
    QVERIFY(!child<QPushButton>(*tw.w, "initButtonConfigTab")->isHidden());
}

void TestTcpLink::splitAndOverlongLines()
{
    TorvelWindow tw;
    QVERIFY(tw.choose());
    tw.startLog();

    // The first half of a status sentence is held back until its end comes,
    // however many ticks pass meanwhile.
    tw.sim.sendRaw("$PHLV,000000,12,0,");
    QTest::qWait(100);
    QCOMPARE(tw.w->state().log_lines.size(), 0);
    QCOMPARE(tw.statusText(), connected_3);
    tw.sim.sendRaw("7,42,34\r\n");
    QTRY_COMPARE(tw.w->state().log_lines.size(), 1);
    QCOMPARE(tw.statusText(),
             QStringLiteral("Bus Load: 12, Devices: 7, Uptime: 42 sec, Address: 34"));

    // Split between CR and LF.
    tw.sim.sendRaw("$PHLV,ACK,TX_LIMIT,OFF\r");
    QTest::qWait(50);
    QCOMPARE(tw.w->state().log_lines.size(), 1);
    tw.sim.sendRaw("\n");
    QTRY_COMPARE(tw.w->state().log_lines.size(), 2);

    // Several lines in one segment keep their order, the last one's end
    // arriving with the next segment.
    const QByteArray a = "$GPGLL,5130.00,N,00007.00,W,120000,A\r\n";
    const QByteArray c = "$PHLV,ACK,TX_LIMIT,ON\r\n";
    const QByteArray d = "$PHLV,TAVIX_DEVICES,3\r\n";
    tw.sim.sendRaw(a + wire::raw_frame + c + d.left(7));
    tw.sim.sendRaw(d.mid(7));
    QTRY_COMPARE(tw.w->state().log_lines.size(), 6);
    QCOMPARE(tw.lastConsoleLine(), QString::fromLatin1(d.chopped(2)));

    // 200 KiB without a line end, in pieces: the tool takes the bytes off
    // the socket as they come instead of waiting there for a line end. Every
    // piece starts with '$', so a fragment handed on would be logged.
    for (int i = 0; i < 50; ++i)
        tw.sim.sendRaw(QByteArray(4096, '$'));
    QTest::qWait(200);
    QCOMPARE(tw.socket()->bytesAvailable(), qint64(0));
    QCOMPARE(tw.w->state().log_lines.size(), 6);

    // The overlong line is dropped at its end; the next one comes through
    // whole, with nothing of the run glued to it.
    const QByteArray line = "$PHLV,000000,12,0,5,77,34\r\n";
    tw.sim.sendRaw("\r\n" + line);
    QTRY_COMPARE(tw.w->state().log_lines.size(), 7);
    QCOMPARE(tw.lastConsoleLine(), QString::fromLatin1(line.chopped(2)));
    QCOMPARE(tw.saveLog(),
             QList<QByteArray>({ "$PHLV,000000,12,0,7,42,34\r\n", "$PHLV,ACK,TX_LIMIT,OFF\r\n", a,
                                 wire::raw_frame, c, d, line }));
}

void TestTcpLink::burstArrivesCompleteAndInOrder()
{
    TorvelWindow tw;
    QVERIFY(tw.choose());
    tw.startLog();

    // Far more lines than the ring holds, as fast as loopback takes them.
    const quint64 first = 7000;
    const int count = 10000;
    tw.sim.flood(first, count);
    QTRY_COMPARE_WITH_TIMEOUT(tw.w->state().log_lines.size(), qint64(count), 30000);
    QTRY_VERIFY(tw.sim.floodDone());
    // Nothing handed on twice either: a straggler would still be logged.
    QTest::qWait(100);
    QCOMPARE(sequences(tw.saveLog()), range(qint64(first), count));
}

void TestTcpLink::lossThenFreshConnection()
{
    TorvelWindow tw;
    const int threads_idle = threadCount();
    QVERIFY(tw.choose());
    QCOMPARE(threadCount(), threads_idle + 1);
    tw.startLog();

    // Lines that arrive together with the loss are still shown and logged.
    tw.sim.sendRaw(numberedLines(100, 150));
    tw.sim.disconnectClient();
    QTRY_COMPARE(tw.statusText(), lost_text);
    QCOMPARE(tw.page(), 0);
    QTRY_COMPARE(tw.w->state().log_lines.size(), qint64(150));
    QCOMPARE(tw.lastConsoleLine(), QString::fromLatin1(gatewaysim::numberedLine(249).chopped(2)));
    // The worker of the lost link ends.
    QTRY_COMPARE(threadCount(), threads_idle);

    // A new choice connects a fresh socket, which identifies the gateway
    // again and carries lines as before.
    QVERIFY(tw.choose());
    QCOMPARE(tw.sim.connectionCount(), 2);
    QTRY_COMPARE(tw.sockets(), 1);
    QTRY_COMPARE(threadCount(), threads_idle + 1);
    tw.sim.sendRaw(numberedLines(250, 3));
    QTRY_COMPARE(tw.w->state().log_lines.size(), qint64(153));
    QCOMPARE(sequences(tw.saveLog()), range(100, 153));
}

void TestTcpLink::noGatewayThere()
{
    TorvelWindow tw;
    const int threads_idle = threadCount();

    // Refused: nothing listens on a port taken from the system and let go.
    auto *taken = new QTcpServer;
    QVERIFY(taken->listen(QHostAddress::LocalHost, 0));
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), taken->serverPort());
    delete taken;
    child<QPushButton>(*tw.w, "TorvelButton")->click();
    QCOMPARE(tw.statusText(), cant_connect);
    QCOMPARE(tw.page(), 0);
    // The failure text stays: the unconnected socket reports no loss.
    QTest::qWait(100);
    QCOMPARE(tw.statusText(), cant_connect);
    QCOMPARE(threadCount(), threads_idle);
    // A command has nowhere to go and is not shown as sent.
    tw.w->reset();
    QVERIFY(consoleText(*tw.w).isEmpty());

    // No answer at all: the attempt is given up after the bounded wait and
    // does not go on connecting behind the user's back.
    SilentListener silent;
    QVERIFY(silent.port != 0);
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), silent.port);
    child<QPushButton>(*tw.w, "TorvelButton")->click();
    QCOMPARE(tw.statusText(), cant_connect);
    QCOMPARE(tw.page(), 0);
    QCOMPARE(tw.socket()->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(threadCount(), threads_idle);

    // The same window connects once a gateway is there.
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), tw.sim.port());
    QVERIFY(tw.choose());
    QCOMPARE(tw.page(), 2);
    QCOMPARE(tw.sim.connectionCount(), 1);
    QTRY_COMPARE(threadCount(), threads_idle + 1);
}

void TestTcpLink::oneLinkAtATime()
{
    TorvelWindow tw;
    const int threads_idle = threadCount();
    QVERIFY(tw.choose());

    // Repeated choices, from the button and from the menu: each releases the
    // link before it, so one socket and one worker thread remain.
    auto *menu_choice = child<QAction>(*tw.w, "actionTorvel");
    for (int i = 0; i < 4; ++i) {
        const int before = tw.sim.identityRepliesSent();
        if (i % 2)
            menu_choice->trigger();
        else
            child<QPushButton>(*tw.w, "TorvelButton")->click();
        QTRY_VERIFY(tw.sim.identityRepliesSent() > before);
        QTRY_COMPARE(tw.statusText(), connected_3);
    }
    QCOMPARE(tw.sim.connectionCount(), 5);
    QTRY_COMPARE(tw.sockets(), 1);
    QTRY_COMPARE(threadCount(), threads_idle + 1);

    // Choosing the Sernix closes the network link quietly and ends its worker.
    Pty pty;
    QVERIFY(pty.isValid());
    tw.w->setPortLister(adapterAt(pty.path));
    child<QPushButton>(*tw.w, "SernixButton")->click();
    QVERIFY(!tw.w->state().link_is_tcp);
    QTRY_VERIFY(!tw.sim.clientConnected());
    QTRY_COMPARE(threadCount(), threads_idle);
    QTRY_COMPARE(tw.sockets(), 0);
    auto *serial = tw.w->findChild<QSerialPort *>();
    QVERIFY(serial->isOpen());
    QVERIFY(tw.statusText().startsWith(QStringLiteral(" Trying to connect Sernix")));
    // The restart sequence goes to the serial port, not the old socket.
    QByteArray on_serial;
    QVERIFY(QTest::qWaitFor(
        [&] { return (on_serial += pty.readAvailable(20)).contains(wire::offline); }, 2000));

    // Choosing the Torvel during the probe, before the port's restart
    // sequence is due: the port closes, and neither the pending restart nor
    // the probe's later steps reach the gateway or reopen the port.
    QVERIFY(tw.choose());
    QVERIFY(!serial->isOpen());
    child<QPushButton>(*tw.w, "SernixButton")->click();
    QVERIFY(serial->isOpen());
    tw.sim.clearReceived();
    QVERIFY(tw.choose());
    QVERIFY(!serial->isOpen());
    QTest::qWait(3500);
    QVERIFY(!serial->isOpen());
    QCOMPARE(tw.sim.received(), QList<QByteArray>({ wire::offline }));
    QCOMPARE(tw.statusText(), connected_3);
    QCOMPARE(tw.page(), 2);
    QCOMPARE(threadCount(), threads_idle + 1);
}

void TestTcpLink::windowDestroyedWhileWorkerRuns()
{
    TorvelWindow tw;
    const int threads_idle = threadCount();

    // Closed while lines pour in: the worker is stopped and its thread
    // joined, and the gateway sees the connection go.
    QVERIFY(tw.choose());
    tw.sim.flood(0, 100000);
    QTRY_VERIFY(tw.lastConsoleLine().startsWith(QStringLiteral("$GPTXT")));
    QCOMPARE(threadCount(), threads_idle + 1);
    tw.w.reset();
    QTRY_COMPARE(threadCount(), threads_idle);
    QTRY_VERIFY(!tw.sim.clientConnected());

    // And closed at once after connecting, before any line came back.
    tw.w.reset(new MainWindow);
    tw.w->setTorvelEndpoint(QStringLiteral("127.0.0.1"), tw.sim.port());
    tw.w->loadTorvel();
    QCOMPARE(threadCount(), threads_idle + 1);
    tw.w.reset();
    QTRY_COMPARE(threadCount(), threads_idle);
    // Whatever the worker had queued for the window went with it.
    QTest::qWait(50);
}

QTEST_MAIN(TestTcpLink)
#include "tst_tcp_link.moc"
