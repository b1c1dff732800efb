// The widget-free core: reading the gateways' lines, the mode table, line
// framing, the line ring, the count worker and the log's spool.
#include "console/csvlog.h"
#include "link/countworker.h"
#include "link/lineframer.h"
#include "link/linering.h"
#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using namespace tavix;

Q_DECLARE_METATYPE(tavix::Gateway)
Q_DECLARE_METATYPE(tavix::Reply)

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestCore : public QObject
{
    Q_OBJECT

private slots:
    void identityReplies_data();
    void identityReplies();
    void replies_data();
    void replies();
    void statusFields_data();
    void statusFields();
    void modesAndRequests();
    void framer_data();
    void framer();
    void ringKeepsOrderAndNeverOverwrites();
    void countWorker();
    void logSpoolSurvivesFailures();
};

// Which gateway a line identifies, and the mode each gateway's reading takes
// from it: they disagree exactly where the two gateways' replies differ.
void TestCore::identityReplies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Gateway>("gateway");
    QTest::addColumn<int>("sernix");
    QTest::addColumn<int>("torvel");

    const auto row = [](const char *name, const QByteArray &line, Gateway g, int s, int t) {
        QTest::newRow(name) << line << g << s << t;
    };
    row("sernix 14*hh", "$PHLV,Halvane_S:14*5A\r\n", Gateway::Sernix, 14, 14);
    row("mid-line, no $", "boot Halvane_S v2:3\r\n", Gateway::Sernix, 3, 3);
    row("both tokens", "$PHLV,Halvane_Tor Halvane_S:1\r\n", Gateway::Sernix, 1, 1);
    row("token after zero byte", QByteArray("$\0Halvane_S:3\r\n", 15), Gateway::Sernix, 0, 0);
    row("lower case", "$PHLV,halvane_s:3\r\n", Gateway::None, 3, 3);
    row("truncated torvel", "$PHLV,Halvane_To:3\r\n", Gateway::None, 3, 3);
    row("3*hh", "$PHLV,Halvane_Tor:3*hh\r\n", Gateway::Torvel, 3, 3);
    row("15 line end", "Halvane_Tor:15\r\n", Gateway::Torvel, 15, 15);
    row("14 line end", "Halvane_Tor:14\r\n", Gateway::Torvel, 14, 1);
    row("empty mode field", "Halvane_Tor:", Gateway::Torvel, 0, 0);
    row("no colon", "Halvane_Tor\r\n", Gateway::Torvel, 0, 0);
    row("second colon ends it", "Halvane_S:14:99\r\n", Gateway::Sernix, 14, 1);
    row("zero byte cuts number", QByteArray("Halvane_S:1\0004\r\n", 15), Gateway::Sernix, 1, 1);
}

void TestCore::identityReplies()
{
    QFETCH(QByteArray, line);
    QFETCH(Gateway, gateway);
    QFETCH(int, sernix);
    QFETCH(int, torvel);
    QVERIFY(identityOf(line) == gateway);
    QCOMPARE(sernixModeFromIdentity(line), sernix);
    QCOMPARE(torvelModeFromIdentity(line), torvel);
}

void TestCore::replies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("sentence");
    QTest::addColumn<Reply>("reply");

    const auto row = [](const char *name, const QByteArray &line, bool sentence, Reply r) {
        QTest::newRow(name) << line << sentence << r;
    };
    row("status", "$PHLV,000000,12,0,5,3600,35\r\n", true, Reply::Status);
    row("mode ack prefix only", "$PHLV,ACK,TAVIX_M", true, Reply::ModeAck);
    row("tx off ack", "$PHLV,ACK,TX_LIMIT,OFF\r\n", true, Reply::TxLimitOffAck);
    row("init ack", "$PHLV,ACK,TAVIX_INIT,ALL\r\n", true, Reply::InitAck);
    row("tx on ack", "$PHLV,ACK,TX_LIMIT,ON\r\n", true, Reply::TxLimitOnAck);
    row("status without comma", "$PHLV,000000\r\n", true, Reply::Other);
    row("init ack cut short", "$PHLV,ACK,TAVIX_INI", true, Reply::Other);
    row("tx ack lower case", "$PHLV,ACK,TX_LIMIT,off\r\n", true, Reply::Other);
    row("raw frame", "!PHLV,000000,1\r\n", true, Reply::Other);
    row("blank first", " $PHLV,ACK\r\n", false, Reply::Other);
    row("zero byte first", QByteArray("\0$PHLV", 6), false, Reply::Other);
    row("empty", QByteArray(), false, Reply::Other);
}

void TestCore::replies()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, sentence);
    QFETCH(Reply, reply);
    QCOMPARE(isSentence(line), sentence);
    QVERIFY(classify(line) == reply);
}

void TestCore::statusFields_data()
{
    // Fields as shown (bus load, devices, uptime, address), none when the
    // line is cut short; and whether it is the empty status.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("empty");

    const auto row = [](const char *name, const QByteArray &line, const QStringList &fields,
                        bool empty) { QTest::newRow(name) << line << fields << empty; };
    row("normal", "$PHLV,000000,12,0,5,3600,35\r\n", { "12", "5", "3600", "35\r\n" }, false);
    row("more fields", "$PHLV,000000,12,0,5,3600,35,9*7F\r\n", { "12", "5", "3600", "35" }, false);
    row("empty status", "$PHLV,000000,,,,3600,35\r\n", { "", "", "3600", "35\r\n" }, true);
    row("field 3 set", "$PHLV,000000,,1,,3600,35\r\n", { "", "", "3600", "35\r\n" }, false);
    row("devices set", "$PHLV,000000,,,5,3600,35\r\n", { "", "5", "3600", "35\r\n" }, false);
    row("markup and markers kept", "$PHLV,000000, <b>1</b> ,0,%2,3600 ,\r\n",
        { " <b>1</b> ", "%2", "3600 ", "\r\n" }, false);
    row("6 fields", "$PHLV,000000,12,0,5,3600\r\n", {}, false);
    row("16 bytes", "$PHLV,000000,,,,", {}, true);
    row("15 bytes", "$PHLV,000000,,,", {}, false);
    row("cut by zero byte", QByteArray("$PHLV,000000,12,0\0,5,3600,35\r\n", 30), {}, false);
}

void TestCore::statusFields()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, fields);
    QFETCH(bool, empty);

    QCOMPARE(isEmptyStatus(line), empty);
    const std::optional<StatusFields> f = parseStatus(line);
    QCOMPARE(f.has_value(), !fields.isEmpty());
    if (!f)
        return;
    QCOMPARE((QStringList{ f->bus_load, f->devices, f->uptime, f->address }), fields);
    // The status bar's line shows the fields as they came, without the line
    // end; a "%2" is not filled in again.
    QCOMPARE(statusOneLine(*f),
             QStringLiteral("Bus Load: %1, Devices: %2, Uptime: %3 sec, Address: %4")
                 .arg(fields[0], fields[1], fields[2], QString(fields[3]).remove("\r\n")));
}

void TestCore::modesAndRequests()
{
    // The list skips modes 9 to 13; each mode has the Sernix's rate in it.
    const int modes[]{ 0, 1, 2, 3, 4, 5, 6, 7, 8, 14, 15 };
    const int baud[]{ 4800, 38400, 4800, 38400, 4800, 38400, 4800, 38400, 4800, 115200, 230400 };
    QCOMPARE(int(std::size(modes)), mode_count);
    for (int index = 0; index < mode_count; ++index) {
        const int mode = modes[index];
        QCOMPARE(modeForIndex(index), mode);
        QCOMPARE(indexForMode(mode), index);
        QCOMPARE(baudForMode(mode), baud[index]);
        QVERIFY(QString::fromUtf8(tavix::modeTable().at(index).list_text)
                    .startsWith(QString::number(mode) + " - "));
        const QByteArray sentence = "$PHLV,TAVIX_MODE," + QByteArray::number(mode) + ",\r\n";
        QCOMPARE(modeSentence(mode), sentence + sentence);
        // The rate form puts the rate line in front, except on row 2, whose
        // talker line is followed by a single line break.
        QString without = modeDescription(index, false);
        if (index == 2)
            without.replace("GP\r\n\r\n", "GP\r\n");
        QCOMPARE(modeDescription(index, true),
                 QStringLiteral("BaudRate: %1\r\n\r\n").arg(baud[index]) + without);
    }
    QCOMPARE(indexForMode(9), -1);
    QCOMPARE(modeForIndex(11), -1);
    QVERIFY(modeSentence(16).isEmpty());

    // Each request's payload is the PGN, three bytes little endian, in Base64.
    const auto pgnOf = [](const char *payload) {
        const QByteArray raw = QByteArray::fromBase64(payload);
        return raw.size() == 3 ? quint8(raw[0]) | quint8(raw[1]) << 8 | quint8(raw[2]) << 16 : -1;
    };
    QCOMPARE(pgnOf(iso::address_claim), 60928);
    QCOMPARE(pgnOf(iso::product_info), 126996);
    QCOMPARE(pgnOf(iso::config_info), 126998);
    QCOMPARE(pgnOf(iso::pgn_list), 126464);
    QCOMPARE(isoRequest("35", iso::pgn_list), QByteArray("!PHLV,59904,35,AO4B\r\n"));
}

// The same lines and drop count however the link cuts the stream: lines end
// at '\n' only, and a line longer than max_line is dropped whether its end
// comes in the same chunk or later.
void TestCore::framer_data()
{
    QTest::addColumn<int>("chunk");
    for (int chunk : { 1, 7, LineFramer::max_line, 1 << 20 })
        QTest::addRow("%d", chunk) << chunk;
}

void TestCore::framer()
{
    QFETCH(int, chunk);
    constexpr int max_line = LineFramer::max_line;
    QByteArray stream;
    QList<QByteArray> expected;
    qint64 dropped = 0;
    const auto add = [&](const QByteArray &line, bool kept = true) {
        stream += line;
        kept ? void(expected << line) : void(dropped += line.size());
    };
    add("$PHLV,000000,12,0,5,3600,35\r\n");
    add(QByteArray("a\rb\0c\n", 6));
    add("\n");
    add(QByteArray(max_line + 1, 'a') + '\n', false);
    add(QByteArray(max_line, 'b') + '\n');
    add(QByteArray(2 * max_line + 5, 'c') + "$PHLV,000000,\r\n", false);
    add(QByteArray(max_line - 1, 'd') + "\r\n");
    add(QByteArray(max_line, 'e') + "\r\n", false); // the '\r' makes it one too long
    for (int i = 0; i < 200; ++i)
        add("$GPRMC," + QByteArray::number(i) + "\r\n");
    stream += "$partial";

    LineFramer framer;
    QList<QByteArray> lines;
    for (int pos = 0; pos < stream.size(); pos += chunk)
        lines += framer.feed(stream.mid(pos, chunk));
    QCOMPARE(lines, expected);
    QCOMPARE(framer.droppedBytes(), dropped);
    QCOMPARE(framer.pending(), QByteArray("$partial"));

    // An overlong line is not kept while its end is awaited; a new connection
    // starts afresh, also in the middle of one.
    framer.feed(QByteArray(max_line + 1, 'x'));
    QCOMPARE(framer.pending(), QByteArray());
    framer.clear();
    QCOMPARE(framer.droppedBytes(), 0);
    QCOMPARE(framer.feed("$new\r\n"), QList<QByteArray>{ "$new\r\n" });
}

void TestCore::ringKeepsOrderAndNeverOverwrites()
{
    LineRing ring;
    QByteArray line;
    int taken = 0, stored = 0;
    // Many rounds through the ring, each round a few more lines than the
    // last, so that the positions wrap at every offset.
    for (int round = 1; round <= 60; ++round) {
        for (int i = 0; i < round * 7 % LineRing::slot_count + 1; ++i)
            QVERIFY(ring.put(QByteArray::number(stored++)));
        QCOMPARE(ring.size(), stored - taken);
        while (ring.take(&line))
            QCOMPARE(line, QByteArray::number(taken++));
        QCOMPARE(taken, stored);
    }
    // A full ring refuses the next line instead of overwriting the oldest.
    for (int i = 0; i < LineRing::slot_count; ++i)
        QVERIFY(ring.put("$" + QByteArray::number(i)));
    QVERIFY(ring.isFull());
    QVERIFY(!ring.put("$late"));
    QVERIFY(ring.take(&line));
    QCOMPARE(line, QByteArray("$0"));
    QVERIFY(ring.put("$late"));
    ring.clear();
    QVERIFY(ring.isEmpty() && !ring.take(&line));
    QCOMPARE(ring.writePos(), 1);
    QCOMPARE(ring.readPos(), 1);
}

void TestCore::countWorker()
{
    // Ticks counting from 0, received on the test's thread as the window
    // does from the worker's own, paced so that a receiver that is stuck
    // does not find them piled up, until a queued stop.
    InfiniteCountWorker worker;
    QThread thread;
    QList<int> ticks;
    bool finished = false;
    connect(&worker, &InfiniteCountWorker::updateCount, this, [&](int tick) { ticks << tick; });
    connect(&worker, &InfiniteCountWorker::finished, this, [&] { finished = true; });
    connect(&thread, &QThread::started, &worker, &InfiniteCountWorker::doWork);
    worker.moveToThread(&thread);
    thread.start();
    const auto join = qScopeGuard([&] {
        QMetaObject::invokeMethod(&worker, "stopWork", Qt::QueuedConnection);
        thread.quit();
        thread.wait();
    });
    QTRY_VERIFY(ticks.size() >= 5);
    QThread::msleep(500);
    const int before = ticks.size();
    QCoreApplication::processEvents();
    QVERIFY2(ticks.size() - before < 5000, qPrintable(QString::number(ticks.size())));
    for (int i = 0; i < ticks.size(); ++i)
        QCOMPARE(ticks[i], i);
    QMetaObject::invokeMethod(&worker, "stopWork", Qt::QueuedConnection);
    QTRY_VERIFY(finished);
    thread.quit();
    QVERIFY(thread.wait(5000));
    const int count = ticks.size();
    QTest::qWait(50);
    QCOMPARE(ticks.size(), count);
}

void TestCore::logSpoolSurvivesFailures()
{
    using Save = CsvLog::Save;
    QTemporaryDir tmp;
    const auto path = [&tmp](const char *name) { return tmp.filePath(QLatin1String(name)); };
    // 15 bytes a record in the spool.
    const auto entry
        = [](int i) { return QStringLiteral("$PHLV,%1\r\n").arg(i, 6, 10, QLatin1Char('0')); };
    const auto fill = [&](CsvLog &log, int from, int to) {
        QByteArray expected;
        for (int i = from; i < to; ++i) {
            log.append(entry(i));
            expected += entry(i).toUtf8() + '\n';
        }
        return expected;
    };
    QString why;

    // Entries added after a failed save, enough to reach the spool, go after
    // the earlier ones, not over them; on a full device the copy stops part
    // way through.
    {
        CsvLog log;
        QByteArray expected = fill(log, 0, 100000);
#ifdef Q_OS_UNIX
        QCOMPARE(log.writeTo(QStringLiteral("/dev/full"), &why), Save::TargetFailed);
        QVERIFY2(why.contains(QString::fromLocal8Bit(std::strerror(ENOSPC))), qPrintable(why));
#else
        QCOMPARE(log.writeTo(path("no-such-folder/log.csv"), &why), Save::TargetFailed);
#endif
        expected += fill(log, 100000, 105000);
        QCOMPARE(log.writeTo(path("good.csv"), &why), Save::Written);
        QCOMPARE(fileBytes(path("good.csv")), expected);
    }

    // With little memory and a temporary folder that is missing or a file,
    // no line is lost.
#ifdef Q_OS_WIN
    const char *const tmp_variable = "TMP";
#else
    const char *const tmp_variable = "TMPDIR";
#endif
    const QByteArray old_tmpdir = qgetenv(tmp_variable);
    QVERIFY(QFile(path("not-a-folder")).open(QIODevice::WriteOnly));
    for (const char *tmpdir : { "not-a-folder", "missing" }) {
        qputenv(tmp_variable, QFile::encodeName(path(tmpdir)));
        CsvLog log(100 * 15);
        const QByteArray expected = fill(log, 0, 20000);
        QCOMPARE(log.writeTo(path("out.csv"), &why), Save::Written);
        QCOMPARE(fileBytes(path("out.csv")), expected);
    }
    old_tmpdir.isNull() ? qunsetenv(tmp_variable) : qputenv(tmp_variable, old_tmpdir);

#ifdef Q_OS_UNIX

    // The disk fills up while logging (a file size limit stands in for it):
    // what the spool cannot take waits in memory and nothing is lost.
    signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit small = old_limit;
    small.rlim_cur = 100000;
    int losses = 0;
    CsvLog log;
    log.setLossHandler([&losses] { ++losses; });
    setrlimit(RLIMIT_FSIZE, &small);
    QByteArray expected = fill(log, 0, 50000);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    QCOMPARE(log.writeTo(path("full.csv"), &why), Save::Written);
    QCOMPARE(fileBytes(path("full.csv")), expected);
    QCOMPARE(losses, 0);

    // With neither disk nor memory left the log loses lines and says so once;
    // it keeps what it took, and takes lines again once the disk has room.
    CsvLog tight(100 * 15);
    tight.setLossHandler([&losses] { ++losses; });
    small.rlim_cur = 0;
    setrlimit(RLIMIT_FSIZE, &small);
    expected = fill(tight, 0, 100);
    fill(tight, 100, 150);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    expected += fill(tight, 150, 160);
    QCOMPARE(losses, 1);
    QCOMPARE(tight.lost(), 50);
    QCOMPARE(tight.writeTo(path("tight.csv"), &why), Save::Written);
    QCOMPARE(fileBytes(path("tight.csv")), expected);
#endif
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
