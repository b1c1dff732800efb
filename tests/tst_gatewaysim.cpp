// The gateway simulator's own behaviour, seen from a real QSerialPort on its
// pty and a real QTcpSocket on loopback. What the tool makes of it through
// the real window is left to the link tests.

#include "gatewaysim.h"

#include <QHostAddress>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

using namespace gatewaysim;

namespace {

// Collects everything a device receives, as raw bytes and as lines.
struct Collector
{
    explicit Collector(QIODevice *device)
    {
        QObject::connect(device, &QIODevice::readyRead, [this, device] {
            const QByteArray bytes = device->readAll();
            raw += bytes;
            partial += bytes;
            int start = 0;
            for (int nl; (nl = partial.indexOf('\n', start)) >= 0; start = nl + 1) {
                const QByteArray line = partial.mid(start, nl + 1 - start);
                if (const auto seq = sequenceOf(line))
                    seqs.push_back(*seq);
                else
                    lines.append(line);
            }
            partial.remove(0, start);
        });
    }
    int count(const QByteArray &prefix) const
    {
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const QByteArray &line) { return line.startsWith(prefix); }));
    }
    void clear()
    {
        raw.clear();
        lines.clear();
        seqs.clear();
    }

    QByteArray raw;
    QByteArray partial;
    QList<QByteArray> lines; // every line that is not a numbered data line
    std::vector<quint64> seqs; // numbered data lines, in arrival order
};

bool consecutive(const std::vector<quint64> &seqs)
{
    for (size_t i = 1; i < seqs.size(); ++i) {
        if (seqs[i] != seqs[i - 1] + 1)
            return false;
    }
    return true;
}

// 8N1 without flow control, the port's defaults, as the tool opens it.
bool openPort(QSerialPort &port, const QString &name, int baud)
{
    port.setPortName(name);
    port.setBaudRate(baud);
    return port.open(QIODevice::ReadWrite);
}

} // namespace

class TestGatewaySim : public QObject
{
    Q_OBJECT

private slots:
    void lineHelpers();
    void sernixPacingAndClosedPort();
    void sernixRawMode();
    void torvelFloodAndData();
};

void TestGatewaySim::lineHelpers()
{
    // A textbook sentence with a known checksum.
    const QByteArray body = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W";
    QCOMPARE(withChecksum(body), body + "*6A\r\n");
    QVERIFY(!checksumValid(body + "*6B\r\n"));

    // The link tests count on numbered lines to tell a lost, doubled,
    // reordered or damaged line.
    for (quint64 seq : { quint64(0), quint64(10000000000ULL), ~quint64(0) }) {
        QCOMPARE(sequenceOf(numberedLine(seq)), std::optional<quint64>(seq));
        QCOMPARE(sequenceOf(numberedFrame(seq)), std::optional<quint64>(seq));
    }
    QByteArray damaged = numberedLine(42);
    damaged[25] = '7'; // a digit changed under an unchanged checksum
    QVERIFY(!sequenceOf(damaged));
    QVERIFY(!sequenceOf(numberedFrame(7).left(20)));
    QVERIFY(!sequenceOf("$PHLV,000000,12,0,5,3601,34\r\n"));
}

void TestGatewaySim::sernixPacingAndClosedPort()
{
    SernixSimulator sim(14);
    sim.setStatusInterval(0);
    sim.setRestartDelay(200);
    QVERIFY(sim.start());

    // The identity reply falls due while the port is closed: it is lost, not
    // kept for the next opener.
    {
        QSerialPort port;
        QVERIFY(openPort(port, sim.portName(), 115200));
        QTRY_VERIFY(sim.portOpenedByTool());
        port.write("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,TAVIX_OFFLINE,\r\n"
                   "$PHLV,TAVIX_OFFLINE,\r\n");
        QTRY_COMPARE(sim.received().size(), 5);
        port.close();
    }
    QTRY_VERIFY(!sim.restarting());
    QCOMPARE(sim.identityRepliesSent(), 0);

    QSerialPort port;
    QVERIFY(openPort(port, sim.portName(), 4800));
    Collector c(&port);
    QTRY_COMPARE(sim.toolBaud(), 4800);
    QTest::qWait(300);
    QVERIFY2(c.raw.isEmpty(), c.raw.constData());

    // At a wrong rate what the gateway says arrives as noise.
    sim.setStatusInterval(20);
    QTRY_VERIFY(c.raw.size() > 200);
    QVERIFY(!c.raw.contains("$PHLV"));
    sim.setStatusInterval(0);

    // At its rate, output is paced: 4800 baud carries 480 bytes/s.
    sim.setMode(0);
    QTest::qWait(100);
    c.clear();
    const QByteArray block(480, 'x');
    sim.sendRaw(block);
    QTest::qWait(150);
    QVERIFY2(c.raw.size() < block.size() / 2, QByteArray::number(c.raw.size()).constData());
    QTRY_COMPARE_WITH_TIMEOUT(c.raw, block, 5000);
}

void TestGatewaySim::sernixRawMode()
{
    SernixSimulator sim(15);
    sim.setStatusInterval(50);
    QVERIFY(sim.start());
    QSerialPort port;
    QVERIFY(openPort(port, sim.portName(), 230400));
    Collector c(&port);

    // Not initialised: the status sentence has empty bus fields.
    QTRY_VERIFY(c.count("$PHLV,000000,") >= 1);
    QCOMPARE(c.count("$PHLV,000000,,,,"), c.count("$PHLV,000000,"));

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
