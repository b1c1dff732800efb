// The gateway simulator must behave like the devices the tool expects, seen
// from a real QSerialPort on its pty and a real QTcpSocket on loopback.

#include "gatewaysim.h"

#include <QFile>
#include <QHostAddress>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>

using namespace gatewaysim;

namespace {

// Collects everything a device receives, as raw bytes and as lines.
class Collector
{
public:
    explicit Collector(QIODevice *device)
        : m_device(device)
    {
        QObject::connect(device, &QIODevice::readyRead, [this] { pull(); });
    }

    void pull()
    {
        const QByteArray bytes = m_device->readAll();
        raw += bytes;
        m_partial += bytes;
        int start = 0;
        for (int nl = m_partial.indexOf('\n'); nl >= 0; nl = m_partial.indexOf('\n', start)) {
            const QByteArray line = m_partial.mid(start, nl + 1 - start);
            start = nl + 1;
            if (const auto seq = sequenceOf(line))
                seqs.push_back(*seq);
            else
                lines.append(line);
        }
        m_partial.remove(0, start);
    }

    QList<QByteArray> startingWith(const QByteArray &prefix) const
    {
        QList<QByteArray> out;
        for (const QByteArray &line : lines) {
            if (line.startsWith(prefix))
                out.append(line);
        }
        return out;
    }

    int count(const QByteArray &prefix) const { return startingWith(prefix).size(); }

    void clear()
    {
        raw.clear();
        lines.clear();
        seqs.clear();
    }

    QByteArray raw;
    QList<QByteArray> lines; // every line that is not a numbered data line
    std::vector<quint64> seqs; // numbered data lines, in arrival order

private:
    QIODevice *m_device;
    QByteArray m_partial;
};

bool consecutive(const std::vector<quint64> &seqs)
{
    for (size_t i = 1; i < seqs.size(); ++i) {
        if (seqs[i] != seqs[i - 1] + 1)
            return false;
    }
    return true;
}

bool openPort(QSerialPort &port, const QString &name, int baud)
{
    port.setPortName(name);
    port.setBaudRate(baud);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    return port.open(QIODevice::ReadWrite);
}

const QByteArray restart_cmds = "$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n";
const QByteArray restart_offline = "$PHLV,TAVIX_OFFLINE,\r\n$PHLV,TAVIX_OFFLINE,\r\n";

void sendRestart(QIODevice &device)
{
    device.write(restart_cmds);
    device.write(restart_offline);
}

} // namespace

class TestGatewaySim : public QObject
{
    Q_OBJECT

private slots:
    void lineHelpers();
    void sernixRestartAndRates();
    void sernixRawModeAndModeChange();
    void sernixClosedPortAndUnplug();
    void torvelProtocol();
    void torvelFloodAndData();
};

void TestGatewaySim::lineHelpers()
{
    // A textbook sentence with a known checksum.
    const QByteArray body = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
    QCOMPARE(withChecksum(body), body + "*6A\r\n");
    QVERIFY(checksumValid(body + "*6A\r\n"));
    QVERIFY(checksumValid(body + "*6a"));
    QVERIFY(!checksumValid(body + "*6B\r\n"));
    QVERIFY(!checksumValid(body + "\r\n"));
    QCOMPARE(sernixIdentityLine(14), QByteArray("$PHLV,Halvane_Sernix,FW 2.1.0:14*02\r\n"));
    QVERIFY(checksumValid(torvelIdentityLine(3)));
    QVERIFY(torvelIdentityLine(15).startsWith("$PHLV,Halvane_Torvel,FW 1.4.2:15*"));

    QVERIFY(numberedLine(42).startsWith("$GPTXT,01,01,02,SEQ 0000000042 ABCDEFGHIJ*"));
    QCOMPARE(numberedLine(42).size(), 46);
    QVERIFY(checksumValid(numberedLine(42)));
    for (quint64 seq : { quint64(0), quint64(1), quint64(42), quint64(9999999999ULL),
                         quint64(10000000000ULL), quint64(1) << 40, ~quint64(0) }) {
        QCOMPARE(sequenceOf(numberedLine(seq)), std::optional<quint64>(seq));
        QCOMPARE(sequenceOf(numberedLine(seq).chopped(2)), std::optional<quint64>(seq));
        QCOMPARE(sequenceOf(numberedFrame(seq)), std::optional<quint64>(seq));
    }
    QByteArray damaged = numberedLine(42);
    damaged[25] = '7'; // a digit changed under an unchanged checksum
    QVERIFY(!sequenceOf(damaged));
    QVERIFY(!sequenceOf(numberedFrame(7).left(20)));
    QVERIFY(!sequenceOf("$PHLV,000000,12,0,5,3601,34\r\n"));
    QVERIFY(!sequenceOf("!PHLV,60928,35,AAAAAAAAAAA=\r\n"));

    QCOMPARE(sernixBaudForMode(0), 4800);
    QCOMPARE(sernixBaudForMode(7), 38400);
    QCOMPARE(sernixBaudForMode(14), 115200);
    QCOMPARE(sernixBaudForMode(15), 230400);
    QCOMPARE(sernixBaudForMode(9), 0);
}

void TestGatewaySim::sernixRestartAndRates()
{
    SernixSimulator sim(14);
    sim.setStatusInterval(0);
    sim.setRestartDelay(100);
    QVERIFY(sim.start());
    QVERIFY(sim.portName().startsWith("/dev/pts/"));
    QCOMPARE(sim.gatewayBaud(), 115200);

    QSerialPort port;
    QVERIFY(openPort(port, sim.portName(), 115200));
    Collector c(&port);
    QTRY_COMPARE(sim.toolBaud(), 115200);

    // The tool's restart sequence at the right rate: one identity reply.
    sendRestart(port);
    QTRY_COMPARE(c.count("$PHLV,Halvane"), 1);
    QCOMPARE(c.startingWith("$PHLV,Halvane").first(), sernixIdentityLine(14));
    QTest::qWait(300);
    QCOMPARE(c.count("$PHLV,Halvane"), 1);
    QCOMPARE(sim.identityRepliesSent(), 1);
    QCOMPARE(sim.received(),
             QList<QByteArray>({ "$PHLV,CMD\r\n", "$PHLV,CMD\r\n", "$PHLV,CMD\r\n",
                                 "$PHLV,TAVIX_OFFLINE,\r\n", "$PHLV,TAVIX_OFFLINE,\r\n" }));
    QCOMPARE(sim.receivedRates(), QList<int>({ 115200, 115200, 115200, 115200, 115200 }));
    QVERIFY(!sim.commandMode());

    // At a wrong rate nothing is understood, and what the gateway says
    // arrives as noise.
    sim.clearReceived();
    QVERIFY(port.setBaudRate(4800));
    QTRY_COMPARE(sim.toolBaud(), 4800);
    sendRestart(port);
    QTRY_COMPARE(sim.misheard().size(), 5);
    QCOMPARE(sim.misheard().last(), QByteArray("$PHLV,TAVIX_OFFLINE,\r\n"));
    QCOMPARE(sim.misheardRates().last(), 4800);
    QVERIFY(sim.droppedBytes() >= quint64(restart_cmds.size() + restart_offline.size()));
    QTest::qWait(300);
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(sim.identityRepliesSent(), 1);

    c.clear();
    sim.setStatusInterval(20);
    QTRY_VERIFY(c.raw.size() > 200);
    QVERIFY(!c.raw.contains("$PHLV"));

    // Back at the gateway's rate the status sentences are readable.
    QVERIFY(port.setBaudRate(115200));
    QTRY_VERIFY(c.count("$PHLV,000000,12,0,5,") >= 2);
    const QByteArray status = c.startingWith("$PHLV,000000,").last();
    QVERIFY2(status.endsWith(",34\r\n"), status.constData());
    QCOMPARE(status.split(',').size(), 7);
    sim.setStatusInterval(0);

    // Output is paced at the gateway's rate: 4800 baud carries 480 bytes/s.
    sim.setMode(0);
    QVERIFY(port.setBaudRate(4800));
    QTest::qWait(100);
    c.clear();
    const QByteArray block(480, 'x');
    sim.sendRaw(block);
    QTest::qWait(150);
    QVERIFY2(c.raw.size() < block.size() / 2, QByteArray::number(c.raw.size()).constData());
    QTRY_COMPARE_WITH_TIMEOUT(c.raw, block, 5000);
}

void TestGatewaySim::sernixRawModeAndModeChange()
{
    SernixSimulator sim(15);
    sim.setStatusInterval(50);
    sim.setRestartDelay(50);
    sim.setModeChangeDelay(500);
    QVERIFY(sim.start());
    QSerialPort port;
    QVERIFY(openPort(port, sim.portName(), 230400));
    Collector c(&port);

    // Not initialised: the status sentence has empty bus fields.
    QTRY_VERIFY(c.count("$PHLV,000000,") >= 1);
    const QByteArray empty = c.startingWith("$PHLV,000000,").first();
    QCOMPARE(empty.mid(13, 3), QByteArray(",,,"));
    QVERIFY(empty.endsWith(",34\r\n"));

    port.write("$PHLV,TX_LIMIT,OFF\r\n");
    QTRY_COMPARE(c.count("$PHLV,ACK,TX_LIMIT,OFF\r\n"), 1);
    QVERIFY(sim.txLimitOff());
    port.write("$PHLV,TX_LIMIT,ON\r\n");
    QTRY_COMPARE(c.count("$PHLV,ACK,TX_LIMIT,ON\r\n"), 1);
    QVERIFY(!sim.txLimitOff());

    // Address claims are answered only once the RAW gateway is initialised.
    port.write("!PHLV,59904,255,AO4A\r\n");
    QTRY_COMPARE(sim.received().size(), 3);
    port.write("$PHLV,TAVIX_INIT,ALL,\r\n");
    QTRY_COMPARE(c.count("$PHLV,ACK,TAVIX_INIT\r\n"), 1);
    QVERIFY(sim.rawInitialised());
    QCOMPARE(c.count("!PHLV,60928,"), 0);
    QTRY_VERIFY(c.count("$PHLV,000000,12,0,5,") >= 1);
    port.write("!PHLV,59904,255,AO4A\r\n");
    QTRY_VERIFY(c.count("!PHLV,60928,") >= 2);
    for (const QByteArray &claim : c.startingWith("!PHLV,60928,")) {
        const QList<QByteArray> fields = claim.trimmed().split(',');
        QCOMPARE(fields.size(), 4);
        QCOMPARE(QByteArray::fromBase64(fields[3]).size(), 8);
    }

    // Data: numbered raw frames in order; command mode stops them.
    sim.setDataRate(200);
    QTRY_VERIFY(c.seqs.size() >= 20);
    QVERIFY(consecutive(c.seqs));
    port.write("$PHLV,CMD\r\n");
    QTRY_VERIFY(sim.commandMode());
    QTest::qWait(50);
    const size_t stopped_at = c.seqs.size();
    QTest::qWait(200);
    QCOMPARE(c.seqs.size(), stopped_at);
    port.write("$PHLV,EXIT\r\n");
    QTRY_VERIFY(c.seqs.size() >= stopped_at + 10);
    QVERIFY(consecutive(c.seqs));
    sim.setDataRate(0);

    // A mode change as the tool makes it: both copies acknowledged at the
    // old rate, the gateway moves to the new one, the tool's restart at the
    // old rate goes unheard, and the identity reply comes at the new rate.
    port.write("$PHLV,TAVIX_MODE,14,\r\n$PHLV,TAVIX_MODE,14,\r\n");
    QTRY_COMPARE(c.count("$PHLV,ACK,TAVIX_MODE,14\r\n"), 2);
    QCOMPARE(sim.gatewayBaud(), 115200);
    QCOMPARE(sim.mode(), 14);
    QVERIFY(!sim.rawInitialised());
    QVERIFY(sim.restarting());
    sendRestart(port);
    QTRY_VERIFY(sim.misheard().contains("$PHLV,TAVIX_OFFLINE,\r\n"));
    QVERIFY(port.setBaudRate(115200));
    QTRY_COMPARE(c.count("$PHLV,Halvane"), 1);
    QCOMPARE(c.startingWith("$PHLV,Halvane").first(), sernixIdentityLine(14));
    QCOMPARE(sim.identityRepliesSent(), 1);
}

void TestGatewaySim::sernixClosedPortAndUnplug()
{
    SernixSimulator sim(14);
    sim.setStatusInterval(0);
    sim.setRestartDelay(200);
    QVERIFY(sim.start());
    QVERIFY(!sim.portOpenedByTool());

    // The identity reply falls due while the port is closed: it is lost, not
    // kept for the next opener.
    {
        QSerialPort port;
        QVERIFY(openPort(port, sim.portName(), 115200));
        QTRY_VERIFY(sim.portOpenedByTool());
        sendRestart(port);
        QTRY_COMPARE(sim.received().size(), 5);
        port.close();
    }
    QTRY_VERIFY(!sim.restarting());
    QCOMPARE(sim.identityRepliesSent(), 0);

    QSerialPort port;
    QVERIFY(openPort(port, sim.portName(), 115200));
    Collector c(&port);
    QTest::qWait(300);
    QVERIFY2(c.raw.isEmpty(), c.raw.constData());

    // Reopened, the gateway talks again.
    sim.setStatusInterval(50);
    QTRY_VERIFY(c.count("$PHLV,000000,") >= 1);

    // Pulling the adapter hangs the tty up: reads on the port return 0, and
    // QSerialPort names that error from whatever errno its thread last left
    // (a stream of ReadError, or one ResourceError). A write then fails with
    // EIO, which it always reports as a ResourceError.
    int errors = 0;
    bool resource_error = false;
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError e) {
        errors += e != QSerialPort::NoError;
        resource_error = resource_error || e == QSerialPort::ResourceError;
    });
    sim.unplug();
    QTRY_VERIFY(errors > 0);
    port.write("$PHLV,CMD\r\n");
    QTRY_VERIFY(resource_error);
    port.close();
    QVERIFY(!QFile::exists(sim.portName()));
    QVERIFY(sim.unplugged());
    QVERIFY(!sim.start());
}

void TestGatewaySim::torvelProtocol()
{
    TorvelSimulator sim(3);
    sim.setStatusInterval(0);
    sim.setRestartDelay(50);
    sim.setModeChangeDelay(200);
    QVERIFY(sim.start());
    QVERIFY(sim.port() != 0);

    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(socket.waitForConnected(2000));
    Collector c(&socket);
    QTRY_VERIFY(sim.clientConnected());
    QCOMPARE(sim.connectionCount(), 1);

    socket.write("$PHLV,TAVIX_OFFLINE,\r\n");
    QTRY_COMPARE(c.count("$PHLV,Halvane"), 1);
    QCOMPARE(c.lines.last(), torvelIdentityLine(3));

    // Two copies of the mode sentence: two acknowledgements, one restart.
    socket.write("$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n");
    QTRY_COMPARE(c.count("$PHLV,ACK,TAVIX_MODE,15\r\n"), 2);
    QTRY_COMPARE(c.count("$PHLV,Halvane"), 2);
    QCOMPARE(c.lines.last(), torvelIdentityLine(15));
    QTest::qWait(300);
    QCOMPARE(sim.identityRepliesSent(), 2);
    sim.setStatusInterval(30);
    QTRY_VERIFY(c.count("$PHLV,000000,,,,") >= 1);
    sim.setStatusInterval(0);

    // Lines split over writes are put together; unknown ones are recorded.
    sim.clearReceived();
    socket.write("$PHLV,SHOW");
    socket.flush();
    QTest::qWait(20);
    socket.write("_DEVICES\r\n");
    QTRY_COMPARE(sim.received(), QList<QByteArray>({ "$PHLV,SHOW_DEVICES\r\n" }));

    // A dead gateway records but never answers.
    sim.setAnswering(false);
    const int lines_before = c.lines.size();
    socket.write("$PHLV,TX_LIMIT,OFF\r\n$PHLV,TAVIX_OFFLINE,\r\n");
    QTRY_COMPARE(sim.received().size(), 3);
    QTest::qWait(200);
    QCOMPARE(c.lines.size(), lines_before);
    QVERIFY(!sim.txLimitOff());
    sim.setAnswering(true);

    const QByteArray custom = "$PHLV,Halvane_Torvel,FW 0.0.1:9\r\n";
    sim.setIdentityLine(custom);
    socket.write("$PHLV,TAVIX_OFFLINE,\r\n");
    QTRY_COMPARE(c.lines.last(), custom);

    // A second client replaces the first.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(second.waitForConnected(2000));
    QTRY_COMPARE(socket.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sim.connectionCount(), 2);
    Collector c2(&second);
    sim.sendRaw("$PHLV,RAW\r\n");
    QTRY_COMPARE(c2.lines, QList<QByteArray>({ "$PHLV,RAW\r\n" }));
    sim.disconnectClient();
    QTRY_COMPARE(second.state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY(!sim.clientConnected());
}

void TestGatewaySim::torvelFloodAndData()
{
    TorvelSimulator sim(3);
    sim.setStatusInterval(0);
    QVERIFY(sim.start());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, sim.port());
    QVERIFY(socket.waitForConnected(2000));
    Collector c(&socket);
    QTRY_VERIFY(sim.clientConnected());

    // More lines than the write-time store keeps, all complete and in order.
    const quint64 first = 1000;
    const quint64 count = 200000;
    sim.flood(first, count);
    QTRY_COMPARE_WITH_TIMEOUT(c.seqs.size(), size_t(count), 20000);
    QVERIFY(c.lines.isEmpty());
    QCOMPARE(c.seqs.front(), first);
    QVERIFY(consecutive(c.seqs));
    QTRY_VERIFY(sim.floodDone());
    QCOMPARE(sim.floodLinesWritten(), count);
    const auto last_time = sim.writeTimeNs(first + count - 1);
    const auto earlier_time = sim.writeTimeNs(first + count - 50000);
    QVERIFY(last_time && earlier_time);
    QVERIFY(*last_time >= *earlier_time);
    QVERIFY(!sim.writeTimeNs(first));
    QVERIFY(!sim.writeTimeNs(first + count));

    // Paced data lines carry on from the chosen number and are timed too.
    c.clear();
    sim.setNextSequence(5000000);
    sim.setDataRate(1000);
    QTRY_VERIFY(c.seqs.size() >= 100);
    sim.setDataRate(0);
    QCOMPARE(c.seqs.front(), quint64(5000000));
    QVERIFY(consecutive(c.seqs));
    QVERIFY(sim.writeTimeNs(5000000));
    QVERIFY(sim.dataLinesSent() >= 100);
}

QTEST_GUILESS_MAIN(TestGatewaySim)
#include "tst_gatewaysim.moc"
