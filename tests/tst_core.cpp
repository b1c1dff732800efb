// The widget-free core: reading the gateways' lines, the mode table, line
// framing, the line ring, the count worker, the log's spool, and the kinds,
// checksums and values of received sentences with their tally.
#include "console/csvlog.h"
#include "console/sentencetally.h"
#include "link/countworker.h"
#include "link/lineframer.h"
#include "link/linering.h"
#include "protocol/modes.h"
#include "protocol/sentencekinds.h"
#include "protocol/sentences.h"
#include "protocol/sentencevalues.h"

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
Q_DECLARE_METATYPE(tavix::Checksum)

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
    void sentenceKindsAndValues_data();
    void sentenceKindsAndValues();
    void tallyCountsRatesAndBounds();
    void modeCoverage();
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

// Lines as instruments send them, and as links and peers damage them: the
// row each goes in, its checksum, what the kind means and what it says.
void TestCore::sentenceKindsAndValues_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Checksum>("checksum");
    QTest::addColumn<QString>("meaning");
    QTest::addColumn<QString>("values");

    const auto row = [](const char *name, const QByteArray &line, const char *kind, Checksum c,
                        const char *meaning, const char *values) {
        QTest::newRow(name) << line << QString::fromUtf8(kind) << c << QString::fromUtf8(meaning)
                            << QString::fromUtf8(values);
    };
    const char *rmc = "GPS: recommended minimum data (position, course, speed, time)";
    row("rmc", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n", "$GPRMC",
        Checksum::Ok, rmc,
        "48°07.038′ N 011°31.000′ E, speed 022.4 kn, course 084.4°, 12:35:19 UTC 23 Mar 94, valid");
    row("rmc one bit off", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6B",
        "$GPRMC", Checksum::Bad, rmc,
        "48°07.038′ N 011°31.000′ E, speed 022.4 kn, course 084.4°, 12:35:19 UTC 23 Mar 94, valid");
    row("rmc truncated", "$GPRMC,123519,V,4807.0", "$GPRMC", Checksum::None, rmc,
        "48°07.0′ — —, speed —, course —, 12:35:19 UTC —, not valid");
    row("gga", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n", "$GPGGA",
        Checksum::Ok, "GPS: position fix (fix quality, satellites, altitude)",
        "48°07.038′ N 011°31.000′ E, GPS fix, 08 satellites, altitude 545.4 m, 12:35:19 UTC");
    row("gll star without digits", "$GPGLL,4916.45,N,12311.12,W,225444,A*\r\n", "$GPGLL",
        Checksum::Bad, "GPS: position (latitude, longitude)",
        "49°16.45′ N 123°11.12′ W, 22:54:44 UTC, valid");
    row("vtg", "$GPVTG,054.7,T,034.4,M,005.5,N,010.2,K*48\r\n", "$GPVTG", Checksum::Ok,
        "GPS: course and speed over ground",
        "course 054.7° true, 034.4° magnetic, speed 005.5 kn (010.2 km/h)");
    row("hdg lower-case hex", "$HCHDG,101.1,,,7.1,W*3c\r\n", "$HCHDG", Checksum::Ok,
        "magnetic compass: heading, deviation and variation",
        "heading 101.1° magnetic, deviation —, variation 7.1° W");
    row("hdg fields missing", "$HCHDG,98.3,,,,*70\r\n", "$HCHDG", Checksum::Ok,
        "magnetic compass: heading, deviation and variation",
        "heading 98.3° magnetic, deviation —, variation —");
    row("vhw lower-case hex", "$VWVHW,101.4,T,098.3,M,5.2,N,9.6,K*5a\r\n", "$VWVHW", Checksum::Ok,
        "speed log (water, mechanical): speed through water and heading",
        "speed through water 5.2 kn (9.6 km/h), heading 101.4° true, 098.3° magnetic");
    row("dpt to the keel", "$SDDPT,12.4,-0.3*4E\r\n", "$SDDPT", Checksum::Ok,
        "depth sounder: depth, with transducer offset",
        "depth 12.4 m below the transducer, offset -0.3 m (to the keel)");
    row("dpt zero byte", QByteArray("$SDDPT,12.4\0,0.5*65\r\n", 21), "$SDDPT", Checksum::Ok,
        "depth sounder: depth, with transducer offset",
        "depth 12.4 m below the transducer, offset —");
    row("dbt", "$SDDBT,40.7,f,12.4,M,6.8,F*0C\r\n", "$SDDBT", Checksum::Ok,
        "depth sounder: depth below transducer",
        "depth 12.4 m (40.7 ft, 6.8 fathoms) below the transducer");
    row("mwv true", "$IIMWV,270.0,T,12.5,M,A*0B\r\n", "$IIMWV", Checksum::Ok,
        "integrated instruments: wind speed and angle",
        "wind angle 270.0° true, speed 12.5 m/s, valid");
    row("mwv byte not text", "$WIMWV,045.0,R,1\xff.5,N,A*D9\r\n", "$WIMWV", Checksum::Ok,
        "weather instruments: wind speed and angle",
        "wind angle 045.0° relative (apparent), speed 1\uFFFD.5 kn, valid");
    row("mtw", "$IIMTW,18.5,C*1F\r\n", "$IIMTW", Checksum::Ok,
        "integrated instruments: water temperature", "water temperature 18.5 °C");
    row("rot", "$TIROT,-2.5,A*11\r\n", "$TIROT", Checksum::Ok,
        "rate of turn indicator: rate of turn", "rate of turn -2.5°/min to port, valid");
    row("rsa", "$AGRSA,3.5,A,,V*79\r\n", "$AGRSA", Checksum::Ok, "autopilot: rudder angle",
        "rudder 3.5° to starboard, valid");
    row("zda", "$GPZDA,201530.00,04,07,2002,00,00*60\r\n", "$GPZDA", Checksum::Ok,
        "GPS: date and time", "20:15:30 UTC, 04 Jul 2002, local zone 00:00");
    const char *vdm = "AIS: message from another vessel or station";
    row("ais only fragment", "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C\r\n", "!AIVDM",
        Checksum::Ok, vdm, "AIS message 1 (position report, class A), MMSI 477553000, channel B");
    row("ais first fragment",
        "!AIVDM,2,1,3,B,55P5TL01VIaAL@7WKO@mBplU@<PDhh000000001S;AJ::4A80?4i@E53,0*3E\r\n",
        "!AIVDM", Checksum::Ok, vdm,
        "AIS message 5 (ship name, size and voyage), MMSI 369190000, channel B, fragment 1 of 2");
    row("ais second fragment", "!AIVDM,2,2,3,B,1@0000000000000,2*55\r\n", "!AIVDM", Checksum::Ok,
        vdm, "AIS fragment 2 of 2, continuing the message before it, channel B");
    row("gateway status", "$PHLV,000000,12,0,5,3601,34\r\n", "$PHLV status", Checksum::None,
        "the gateway's status: bus load, devices, uptime, address",
        "bus load 12, 5 devices, up 3601 s, address 34");
    row("gateway ack", "$PHLV,ACK,TX_LIMIT,OFF\r\n", "$PHLV ACK", Checksum::None,
        "the gateway's acknowledgement of a command", "ACK, TX_LIMIT, OFF");
    row("raw frame", "!PHLV,127250,1,AAAA\r\n", "!PHLV raw frames", Checksum::None,
        "raw NMEA 2000 frames from the bus", "127250, 1, AAAA");
    row("unknown formatter", "$GPXYZ,1,,2*63\r\n", "$GPXYZ", Checksum::Ok,
        "GPS: not a standard sentence", "1, —, 2");
    row("unknown talker", "$QQMTW,18.5,C\r\n", "$QQMTW", Checksum::None,
        "unknown talker QQ: water temperature", "water temperature 18.5 °C");
    row("proprietary", "$PXYZA,7\r\n", "$PXYZA", Checksum::None,
        "proprietary sentence of maker code XYZ", "7");
    row("no comma, overlong", "$ABCDEFGHIJKLMNOP\r\n", "$ABCDEFGHIJK", Checksum::None,
        "not a standard sentence", "—");
    row("control byte in address", "$G\x01RMC,1\r\n", "$G\\x01RMC", Checksum::None,
        "not a standard sentence", "1");
}

void TestCore::sentenceKindsAndValues()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, kind);
    QFETCH(Checksum, checksum);
    QFETCH(QString, meaning);
    QFETCH(QString, values);
    const QByteArray k = sentenceKind(line);
    QCOMPARE(kindText(k), kind);
    QVERIFY(checksumOf(line) == checksum);
    QCOMPARE(kindMeaning(k), meaning);
    QCOMPARE(sentenceValues(line), values);
}

// Counts, bad checksums and rates from lines at known times; silence after
// five seconds; a gap that leaves no stale count; the bound on rows.
void TestCore::tallyCountsRatesAndBounds()
{
    SentenceTally t;
    const QByteArray hdg = "$HCHDG,98.3,,,,*70\r\n";
    const QByteArray bad_hdg = "$HCHDG,98.4,,,,*70\r\n";
    const QByteArray rmc = "$GPRMC,123519,A*hh\r\n";
    // Four HDG a second for twelve seconds, two of them damaged; RMC once a
    // second for the first six.
    for (qint64 ms = 1000; ms < 13000; ms += 250) {
        QCOMPARE(t.note(ms == 5000 || ms == 9000 ? bad_hdg : hdg, ms), 0);
        if (ms % 1000 == 0 && ms < 7000)
            QCOMPARE(t.note(rmc, ms + 100), 1);
    }
    const KindStats &h = t.rows().at(0);
    QCOMPARE(h.count, quint64(48));
    QCOMPARE(h.bad, quint64(2));
    QVERIFY(h.last_checksum == Checksum::Ok);
    QCOMPARE(SentenceTally::rate(h, 13000), 4.0);
    QVERIFY(!SentenceTally::silent(h, 13000));
    const KindStats &r = t.rows().at(1);
    QCOMPARE(SentenceTally::rate(r, 6500), 1.0);
    QVERIFY(SentenceTally::silent(r, 13000) && SentenceTally::rate(r, 13000) == 0);

    // A kind that came only lately is measured over the time it has been
    // there, not over ten seconds.
    for (qint64 ms = 11500; ms < 13000; ms += 100)
        t.note("$IIMTW,18.5,C*1F\r\n", ms);
    QCOMPARE(SentenceTally::rate(t.rows().at(2), 13000), 10.0);
    // After a long gap the slots of ten seconds ago count nothing.
    t.note(hdg, 30000);
    QCOMPARE(SentenceTally::rate(t.rows().at(0), 31000), 0.1);

    // A peer that makes up kinds without end fills max_rows rows; the rest
    // share the last, which a known kind never joins.
    t.clear();
    QVERIFY(t.rows().empty());
    for (int i = 0; i < 10000; ++i)
        t.note("$X" + QByteArray::number(i) + ",1\r\n", 1000);
    t.note(hdg, 1000);
    QCOMPARE(int(t.rows().size()), SentenceTally::max_rows + 1);
    QCOMPARE(t.rows().back().kind, QByteArray(kind::other_kinds));
    QCOMPARE(t.rows().back().count, quint64(10000 - SentenceTally::max_rows + 1));
    QCOMPARE(t.note("$X3,1\r\n", 1000), 3);
}

void TestCore::modeCoverage()
{
    QCOMPARE(tavix::modeCoverage(
                 0, { "RMC", "HDG", "VHW", "MWV", "DPT", "MTW", "VLW", "ROT", "RSA", "GSV" },
                 { "MTW", "GSV" }, 0),
             QStringLiteral("Mode 0 delivers 12 kinds of sentence, with mixed talker IDs: 9 seen, "
                            "not seen yet: APB, RMB, XTE (these come only when a device on the "
                            "bus sends their source data). Silent for more than 5 s: MTW."));
    QCOMPARE(tavix::modeCoverage(8, { "DPT", "MTW", "VHW", "VLW", "RMC" }, {}, 0),
             QStringLiteral("Mode 8 delivers 5 kinds of sentence, with talker ID SD: all 5 seen."));
    QCOMPARE(tavix::modeCoverage(15, {}, {}, 42),
             QStringLiteral("Mode 15 delivers raw NMEA 2000 frames, no NMEA 0183 sentences: 42 "
                            "received."));
    QVERIFY(tavix::modeCoverage(9, {}, {}, 0)
                .contains(QStringLiteral("mode 9, which the tool "
                                         "does not know")));
}

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
