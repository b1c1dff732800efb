#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

using namespace tavix;

Q_DECLARE_METATYPE(tavix::Gateway)
Q_DECLARE_METATYPE(tavix::Reply)

namespace {

// Answers every lookup in the window's context with a marked text, so a
// test can tell a translated string from a raw literal.
class MarkingTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char * = nullptr,
                      int = -1) const override
    {
        if (qstrcmp(context, "MainWindow") != 0)
            return QString();
        return QStringLiteral("T[") + QString::fromUtf8(source) + QLatin1Char(']');
    }
};

QByteArray bytes(const char *s, int n)
{
    return QByteArray(s, n);
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void identityReplies_data();
    void identityReplies();
    void sentenceFilter();
    void classify_data();
    void classify();
    void emptyStatus_data();
    void emptyStatus();
    void parseStatus_data();
    void parseStatus();
    void statusTexts();
    void modeTable();
    void isoRequestPayloads();
};

// Which gateway a line identifies, and the mode each gateway's reading
// takes from it: both readings run over every row, and they disagree exactly
// where the two gateways' replies are read differently.
void TestProtocol::identityReplies_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Gateway>("gateway");
    QTest::addColumn<int>("sernix");
    QTest::addColumn<int>("torvel");

    const auto row = [](const char *name, const QByteArray &line, Gateway g, int s, int t) {
        QTest::newRow(name) << line << g << s << t;
    };
    row("sernix 14*hh", "$PHLV,Halvane_S:14*5A\r\n", Gateway::Sernix, 14, 14);
    row("sernix mid-line, no $", "boot Halvane_S v2:3\r\n", Gateway::Sernix, 3, 3);
    row("both tokens", "$PHLV,Halvane_Tor Halvane_S:1\r\n", Gateway::Sernix, 1, 1);
    row("token after zero byte", bytes("$\0Halvane_S:3\r\n", 15), Gateway::Sernix, 0, 0);
    row("lower case", "$PHLV,halvane_s:3\r\n", Gateway::None, 3, 3);
    row("truncated torvel", "$PHLV,Halvane_To:3\r\n", Gateway::None, 3, 3);
    row("empty", QByteArray(), Gateway::None, 0, 0);
    row("3*hh", "$PHLV,Halvane_Tor:3*hh\r\n", Gateway::Torvel, 3, 3);
    row("15*hh", "$PHLV,Halvane_Tor:15*hh\r\n", Gateway::Torvel, 15, 15);
    row("15 line end", "Halvane_Tor:15\r\n", Gateway::Torvel, 15, 15);
    row("3 line end", "Halvane_Tor:3\r\n", Gateway::Torvel, 3, 3);
    row("14 line end", "Halvane_Tor:14\r\n", Gateway::Torvel, 14, 1);
    row("empty mode field", "Halvane_Tor:", Gateway::Torvel, 0, 0);
    row("second colon ends it", "Halvane_S:14:99\r\n", Gateway::Sernix, 14, 1);
    row("arabic-indic digit", "Halvane_S:\xd9\xa3*\r\n", Gateway::Sernix, 0, 0);
    row("zero byte cuts number",
        bytes("Halvane_S:1\0"
              "4\r\n",
              15),
        Gateway::Sernix, 1, 1);
}

void TestProtocol::identityReplies()
{
    QFETCH(QByteArray, line);
    QFETCH(Gateway, gateway);
    QFETCH(int, sernix);
    QFETCH(int, torvel);
    QVERIFY(tavix::identityOf(line) == gateway);
    QCOMPARE(sernixModeFromIdentity(line), sernix);
    QCOMPARE(torvelModeFromIdentity(line), torvel);
}

void TestProtocol::sentenceFilter()
{
    QVERIFY(isSentence("$"));
    QVERIFY(isSentence("!PHLV,127250,x\r\n"));
    QVERIFY(!isSentence(QByteArray()));
    QVERIFY(!isSentence(" $PHLV,ACK\r\n"));
    QVERIFY(!isSentence(bytes("\0$PHLV", 6)));
}

void TestProtocol::classify_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Reply>("reply");

    QTest::newRow("status") << QByteArray("$PHLV,000000,12,0,5,3600,35\r\n") << Reply::Status;
    QTest::newRow("mode ack prefix only") << QByteArray("$PHLV,ACK,TAVIX_M") << Reply::ModeAck;
    QTest::newRow("tx off ack") << QByteArray("$PHLV,ACK,TX_LIMIT,OFF\r\n") << Reply::TxLimitOffAck;
    QTest::newRow("init ack") << QByteArray("$PHLV,ACK,TAVIX_INIT,ALL\r\n") << Reply::InitAck;
    QTest::newRow("tx on ack") << QByteArray("$PHLV,ACK,TX_LIMIT,ON\r\n") << Reply::TxLimitOnAck;
    QTest::newRow("status without comma") << QByteArray("$PHLV,000000\r\n") << Reply::Other;
    QTest::newRow("init ack cut short") << QByteArray("$PHLV,ACK,TAVIX_INI") << Reply::Other;
    QTest::newRow("tx ack lower case") << QByteArray("$PHLV,ACK,TX_LIMIT,off\r\n") << Reply::Other;
    QTest::newRow("raw frame") << QByteArray("!PHLV,000000,1\r\n") << Reply::Other;
    QTest::newRow("empty") << QByteArray() << Reply::Other;
}

void TestProtocol::classify()
{
    QFETCH(QByteArray, line);
    QFETCH(Reply, reply);
    QVERIFY(tavix::classify(line) == reply);
}

void TestProtocol::emptyStatus_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("empty");

    QTest::newRow("empty fields 2 to 4") << QByteArray("$PHLV,000000,,,,3600,35\r\n") << true;
    QTest::newRow("exactly 16 bytes") << QByteArray("$PHLV,000000,,,,") << true;
    QTest::newRow("15 bytes") << QByteArray("$PHLV,000000,,,") << false;
    QTest::newRow("field 3 set") << QByteArray("$PHLV,000000,,1,,3600,35\r\n") << false;
    QTest::newRow("devices set") << QByteArray("$PHLV,000000,,,1,3600,35\r\n") << false;
}

void TestProtocol::emptyStatus()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, empty);
    QCOMPARE(isEmptyStatus(line), empty);
}

void TestProtocol::parseStatus_data()
{
    // fields: bus load, devices, uptime, address; empty when nothing parses.
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("fields");

    const auto row = [](const char *name, const QByteArray &line, const QStringList &fields) {
        QTest::newRow(name) << line << fields;
    };
    row("normal", "$PHLV,000000,12,0,5,3600,35\r\n", { "12", "5", "3600", "35\r\n" });
    row("more fields", "$PHLV,000000,12,0,5,3600,35,9*7F\r\n", { "12", "5", "3600", "35" });
    row("empty status", "$PHLV,000000,,,,3600,35\r\n", { "", "", "3600", "35\r\n" });
    row("blanks and markup kept", "$PHLV,000000, <b>1</b> ,0,%2,3600 ,\r\n",
        { " <b>1</b> ", "%2", "3600 ", "\r\n" });
    row("6 fields", "$PHLV,000000,12,0,5,3600\r\n", {});
    row("cut by zero byte", bytes("$PHLV,000000,12,0\0,5,3600,35\r\n", 30), {});
}

void TestProtocol::parseStatus()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, fields);

    const std::optional<StatusFields> f = tavix::parseStatus(line);
    QCOMPARE(f.has_value(), !fields.isEmpty());
    if (f)
        QCOMPARE((QStringList{ f->bus_load, f->devices, f->uptime, f->address }), fields);
}

void TestProtocol::statusTexts()
{
    // A field that holds a place marker must come out as it arrived, not be
    // substituted by a later argument.
    const StatusFields f{ QStringLiteral("12"), QStringLiteral("%3"), QStringLiteral("3600"),
                          QStringLiteral("35\r\n") };
    // The one-line form keeps the status bar one line tall.
    QCOMPARE(statusOneLine(f),
             QStringLiteral("Bus Load: 12, Devices: %3, Uptime: 3600 sec, Address: 35"));
    QCOMPARE(statusFourLines(f),
             QStringLiteral("Bus Load: 12\r\nDevices: %3\r\nUptime: 3600 sec\r\nAddress: 35\r\n"));

    // Both forms and the mode descriptions are looked up when shown.
    MarkingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    const QStringList texts{ statusOneLine(f), statusFourLines(f), modeDescription(10, true) };
    QCoreApplication::removeTranslator(&translator);
    for (const QString &text : texts)
        QVERIFY2(text.startsWith("T[") && text.endsWith(']'), qPrintable(text));
}

void TestProtocol::modeTable()
{
    // The list skips modes 9 to 13; each mode has the Sernix's rate in it.
    const QList<int> modes{ 0, 1, 2, 3, 4, 5, 6, 7, 8, 14, 15 };
    const QList<int> bauds{
        4800, 38400, 4800, 38400, 4800, 38400, 4800, 38400, 4800, 115200, 230400
    };
    for (int index = 0; index < mode_count; ++index) {
        const ConversionMode &row = tavix::modeTable().at(static_cast<std::size_t>(index));
        const int mode = modes.at(index);
        QCOMPARE(row.index, index);
        QCOMPARE(row.mode, mode);
        QCOMPARE(modeForIndex(index), mode);
        QCOMPARE(indexForMode(mode), index);
        QCOMPARE(baudForMode(mode), bauds.at(index));
        QVERIFY(QString::fromUtf8(row.list_text).startsWith(QString::number(mode) + " - "));
        // The rate form puts the rate line in front, except on row 2, whose
        // talker line is followed by a single line break.
        const QString rate_line = QStringLiteral("BaudRate: %1\r\n\r\n").arg(bauds.at(index));
        QString without = modeDescription(index, false);
        if (index == 2)
            without.replace("GP\r\n\r\n", "GP\r\n");
        QCOMPARE(modeDescription(index, true), rate_line + without);
    }
    QCOMPARE(modeDescription(2, false),
             QStringLiteral("Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA"));
    QCOMPARE(modeDescription(10, false),
             QStringLiteral("Talker ID: !PHLV\r\n\r\nRAW NMEA2000 data over serial"));

    // Modes the list does not offer, rows outside it.
    QCOMPARE(indexForMode(9), -1);
    QCOMPARE(baudForMode(13), 0);
    QVERIFY(modeSentence(16).isEmpty());
    QCOMPARE(modeForIndex(11), -1);
    QVERIFY(modeDescription(-1, true).isEmpty());
}

void TestProtocol::isoRequestPayloads()
{
    // Each payload is the requested PGN, three bytes little endian, in Base64.
    const auto pgnOf = [](const char *payload) {
        const QByteArray raw = QByteArray::fromBase64(payload);
        if (raw.size() != 3)
            return -1;
        return int(quint8(raw[0])) | int(quint8(raw[1])) << 8 | int(quint8(raw[2])) << 16;
    };
    QCOMPARE(pgnOf(iso::address_claim), 60928);
    QCOMPARE(pgnOf(iso::product_info), 126996);
    QCOMPARE(pgnOf(iso::config_info), 126998);
    QCOMPARE(pgnOf(iso::pgn_list), 126464);
    QCOMPARE(isoRequest("", iso::config_info), QByteArray("!PHLV,59904,,FvAB\r\n"));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
