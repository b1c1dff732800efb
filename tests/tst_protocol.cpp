#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

using namespace tavix;

Q_DECLARE_METATYPE(tavix::Gateway)
Q_DECLARE_METATYPE(tavix::Reply)

// Readable values in failure messages; found by QTest through ADL.
namespace tavix {
char *toString(Gateway g)
{
    static const char *const names[] = { "None", "Sernix", "Torvel" };
    return qstrdup(names[static_cast<int>(g)]);
}
char *toString(Reply r)
{
    static const char *const names[] = { "Status",       "ModeAck", "TxLimitOffAck", "InitAck",
                                         "TxLimitOnAck", "Devices", "Blacklist",     "Other" };
    return qstrdup(names[static_cast<int>(r)]);
}
} // namespace tavix

namespace {

// A translator that answers every lookup in the window's context with a
// marked text and remembers what was asked, so a test can tell a translated
// string from a raw literal.
class RecordingTranslator : public QTranslator
{
public:
    mutable QStringList asked;

    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char * = nullptr,
                      int = -1) const override
    {
        asked << QString::fromUtf8(source);
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
    void identityOf_data();
    void identityOf();
    void identityMode_data();
    void identityMode();
    void lineToText_data();
    void lineToText();
    void sentenceFilter_data();
    void sentenceFilter();
    void classify_data();
    void classify();
    void emptyStatus_data();
    void emptyStatus();
    void parseStatus_data();
    void parseStatus();
    void statusTexts();
    void modeTable_data();
    void modeTable();
    void modesNotOffered();
    void modeSentences_data();
    void modeSentences();
    void isoRequests();
    void textsGoThroughTranslation();
};

void TestProtocol::identityOf_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Gateway>("gateway");

    QTest::newRow("sernix") << QByteArray("$PHLV,Halvane_S:14*5A\r\n") << Gateway::Sernix;
    QTest::newRow("sernix not at start")
        << QByteArray("boot Halvane_S v2:3\r\n") << Gateway::Sernix;
    QTest::newRow("sernix without $") << QByteArray("Halvane_S:3\r\n") << Gateway::Sernix;
    QTest::newRow("both, torvel first")
        << QByteArray("$PHLV,Halvane_Tor Halvane_S:1\r\n") << Gateway::Sernix;
    QTest::newRow("both, sernix first")
        << QByteArray("$PHLV,Halvane_S Halvane_Tor:1\r\n") << Gateway::Sernix;
    QTest::newRow("torvel") << QByteArray("$PHLV,Halvane_Tor:3*hh\r\n") << Gateway::Torvel;
    QTest::newRow("torvel longer name") << QByteArray("Halvane_Torvel:15\r\n") << Gateway::Torvel;
    QTest::newRow("token after zero byte") << bytes("$\0Halvane_S:3\r\n", 15) << Gateway::Sernix;
    QTest::newRow("token at end of long line")
        << QByteArray(100000, 'x') + "Halvane_Tor" << Gateway::Torvel;
    QTest::newRow("lower case") << QByteArray("$PHLV,halvane_s:3\r\n") << Gateway::None;
    QTest::newRow("truncated torvel") << QByteArray("$PHLV,Halvane_To:3\r\n") << Gateway::None;
    QTest::newRow("bare maker") << QByteArray("$PHLV,Halvane_:3\r\n") << Gateway::None;
    QTest::newRow("token broken by zero") << bytes("Halvane_\0S:3\r\n", 14) << Gateway::None;
    QTest::newRow("empty") << QByteArray() << Gateway::None;
    QTest::newRow("status") << QByteArray("$PHLV,000000,1,2,3,4,5\r\n") << Gateway::None;
}

void TestProtocol::identityOf()
{
    QFETCH(QByteArray, line);
    QFETCH(Gateway, gateway);
    QCOMPARE(tavix::identityOf(line), gateway);
}

// Both readings run over every row: they disagree exactly where the two
// gateways' replies are read differently.
void TestProtocol::identityMode_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("sernix");
    QTest::addColumn<int>("torvel");

    QTest::newRow("14 checksummed") << QByteArray("$PHLV,Halvane_S:14*5A\r\n") << 14 << 14;
    QTest::newRow("15 checksummed") << QByteArray("$PHLV,Halvane_S:15*5B\r\n") << 15 << 15;
    QTest::newRow("3 checksummed") << QByteArray("$PHLV,Halvane_Tor:3*hh\r\n") << 3 << 3;
    QTest::newRow("0 checksummed") << QByteArray("Halvane_Tor:0*00\r\n") << 0 << 0;
    // toInt trims surrounding whitespace, line end included.
    QTest::newRow("15 line end") << QByteArray("Halvane_Tor:15\r\n") << 15 << 15;
    QTest::newRow("3 line end") << QByteArray("Halvane_Tor:3\r\n") << 3 << 3;
    QTest::newRow("14 line end") << QByteArray("Halvane_Tor:14\r\n") << 14 << 1;
    QTest::newRow("8 line end") << QByteArray("Halvane_Tor:8\r\n") << 8 << 8;
    QTest::newRow("padded") << QByteArray("Halvane_S: 14 *x\r\n") << 14 << 0;
    QTest::newRow("one digit at end") << QByteArray("Halvane_S:7") << 7 << 7;
    QTest::newRow("second colon ends it") << QByteArray("Halvane_S:14:99\r\n") << 14 << 1;
    QTest::newRow("second colon, star") << QByteArray("Halvane_S:2*1:5*\r\n") << 2 << 2;
    QTest::newRow("25 line end") << QByteArray("Halvane_Tor:25\r\n") << 25 << 15;
    QTest::newRow("x5") << QByteArray("Halvane_Tor:x5\r\n") << 0 << 15;
    QTest::newRow("star then 5") << QByteArray("Halvane_Tor:*5\r\n") << 0 << 15;
    QTest::newRow("signed") << QByteArray("Halvane_S:+14*\r\n") << 14 << 0;
    QTest::newRow("negative") << QByteArray("Halvane_S:-3*\r\n") << -3 << -3;
    QTest::newRow("leading zero") << QByteArray("Halvane_S:014*\r\n") << 14 << 0;
    QTest::newRow("hex is not decimal") << QByteArray("Halvane_S:0x1*\r\n") << 0 << 0;
    QTest::newRow("letters") << QByteArray("Halvane_S:ab*cd\r\n") << 0 << 0;
    QTest::newRow("letter star") << QByteArray("Halvane_S:a*cd\r\n") << 0 << 0;
    QTest::newRow("digits then letters") << QByteArray("Halvane_S:14x\r\n") << 0 << 1;
    QTest::newRow("empty mode field, line end") << QByteArray("Halvane_S:\r\n") << 0 << 0;
    QTest::newRow("empty mode field") << QByteArray("Halvane_Tor:") << 0 << 0;
    QTest::newRow("two colons") << QByteArray("Halvane_Tor::3\r\n") << 0 << 0;
    QTest::newRow("no colon") << QByteArray("Halvane_S 14\r\n") << 0 << 0;
    QTest::newRow("empty line") << QByteArray() << 0 << 0;
    QTest::newRow("zero byte cuts number") << bytes("Halvane_S:1\0"
                                                    "4\r\n",
                                                    15)
                                           << 1 << 1;
    QTest::newRow("zero byte before colon") << bytes("Halvane_S\0:14\r\n", 15) << 0 << 0;
    QTest::newRow("arabic-indic digit") << QByteArray("Halvane_S:\xd9\xa3*\r\n") << 0 << 0;
    QTest::newRow("too big for int") << QByteArray("Halvane_S:99999999999*\r\n") << 0 << 9;
    QTest::newRow("long text before colon") << QByteArray(100000, 'a') + "Halvane_S:5*hh\r\n"
                                            << 5 << 5;
    QTest::newRow("long number") << QByteArray("Halvane_S:") + QByteArray(100000, '7') << 0 << 7;
}

void TestProtocol::identityMode()
{
    QFETCH(QByteArray, line);
    QFETCH(int, sernix);
    QFETCH(int, torvel);
    QCOMPARE(sernixModeFromIdentity(line), sernix);
    QCOMPARE(torvelModeFromIdentity(line), torvel);
}

void TestProtocol::lineToText_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("text");

    QTest::newRow("line end kept") << QByteArray("$GPRMC,1\r\n") << QStringLiteral("$GPRMC,1\r\n");
    QTest::newRow("zero byte cuts") << bytes("$AB\0CD\r\n", 8) << QStringLiteral("$AB");
    QTest::newRow("zero byte first") << bytes("\0$AB\r\n", 6) << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("utf-8") << QByteArray("$X,Ger\xc3\xa4t,\xc2\xb0\r\n")
                           << QString::fromUtf8(u8"$X,Ger\u00e4t,\u00b0\r\n");
    QTest::newRow("utf-8 before zero byte")
        << bytes("\xe2\x82\xac\0\xe2\x82\xac", 7) << QString(QChar(0x20ac));
    QTest::newRow("invalid utf-8")
        << QByteArray("$\xff\r\n")
        << QStringLiteral("$") + QChar(QChar::ReplacementCharacter) + QStringLiteral("\r\n");
}

void TestProtocol::lineToText()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, text);
    QCOMPARE(tavix::lineToText(line), text);
}

void TestProtocol::sentenceFilter_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("sentence");

    QTest::newRow("$") << QByteArray("$") << true;
    QTest::newRow("!") << QByteArray("!PHLV,127250,x\r\n") << true;
    QTest::newRow("nmea") << QByteArray("$GPRMC,,V\r\n") << true;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("line end only") << QByteArray("\r\n") << false;
    QTest::newRow("leading blank") << QByteArray(" $PHLV,ACK\r\n") << false;
    QTest::newRow("zero byte first") << bytes("\0$PHLV", 6) << false;
    QTest::newRow("other") << QByteArray("#PHLV\r\n") << false;
}

void TestProtocol::sentenceFilter()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, sentence);
    QCOMPARE(isSentence(line), sentence);
}

void TestProtocol::classify_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<Reply>("reply");

    QTest::newRow("status") << QByteArray("$PHLV,000000,12,0,5,3600,35\r\n") << Reply::Status;
    QTest::newRow("status prefix only") << QByteArray("$PHLV,000000,") << Reply::Status;
    QTest::newRow("status, zero byte after prefix")
        << bytes("$PHLV,000000,\0", 14) << Reply::Status;
    QTest::newRow("mode ack") << QByteArray("$PHLV,ACK,TAVIX_MODE,14\r\n") << Reply::ModeAck;
    QTest::newRow("mode ack prefix only") << QByteArray("$PHLV,ACK,TAVIX_M") << Reply::ModeAck;
    QTest::newRow("tx off ack") << QByteArray("$PHLV,ACK,TX_LIMIT,OFF\r\n") << Reply::TxLimitOffAck;
    QTest::newRow("init ack") << QByteArray("$PHLV,ACK,TAVIX_INIT,ALL\r\n") << Reply::InitAck;
    QTest::newRow("init ack prefix only") << QByteArray("$PHLV,ACK,TAVIX_INIT") << Reply::InitAck;
    QTest::newRow("tx on ack") << QByteArray("$PHLV,ACK,TX_LIMIT,ON\r\n") << Reply::TxLimitOnAck;
    QTest::newRow("tx on ack, more") << QByteArray("$PHLV,ACK,TX_LIMIT,ONE") << Reply::TxLimitOnAck;
    QTest::newRow("devices") << QByteArray("$PHLV,TAVIX_DEVICES,3\r\n") << Reply::Devices;
    QTest::newRow("blacklist") << QByteArray("$PHLV,SHOW_BLACKLIST\r\n") << Reply::Blacklist;

    QTest::newRow("status without comma") << QByteArray("$PHLV,000000\r\n") << Reply::Other;
    QTest::newRow("status, five zeros") << QByteArray("$PHLV,00000,1,2\r\n") << Reply::Other;
    QTest::newRow("status, lower case") << QByteArray("$phlv,000000,1\r\n") << Reply::Other;
    QTest::newRow("status, leading blank") << QByteArray(" $PHLV,000000,1\r\n") << Reply::Other;
    QTest::newRow("status as raw frame") << QByteArray("!PHLV,000000,1\r\n") << Reply::Other;
    QTest::newRow("ack cut short") << QByteArray("$PHLV,ACK,TAVIX_\r\n") << Reply::Other;
    QTest::newRow("init ack cut short") << QByteArray("$PHLV,ACK,TAVIX_INI") << Reply::Other;
    QTest::newRow("tx ack cut short") << QByteArray("$PHLV,ACK,TX_LIMIT,O\r\n") << Reply::Other;
    QTest::newRow("tx ack lower case") << QByteArray("$PHLV,ACK,TX_LIMIT,off\r\n") << Reply::Other;
    QTest::newRow("devices cut short") << QByteArray("$PHLV,TAVIX_DEVICE\r\n") << Reply::Other;
    QTest::newRow("blacklist cut short") << QByteArray("$PHLV,SHOW_BLACK") << Reply::Other;
    QTest::newRow("command echo") << QByteArray("$PHLV,TAVIX_MODE,14,\r\n") << Reply::Other;
    QTest::newRow("raw frame") << QByteArray("!PHLV,59904,255,AO4A\r\n") << Reply::Other;
    QTest::newRow("nmea") << QByteArray("$GPRMC,1\r\n") << Reply::Other;
    QTest::newRow("empty") << QByteArray() << Reply::Other;
}

void TestProtocol::classify()
{
    QFETCH(QByteArray, line);
    QFETCH(Reply, reply);
    QCOMPARE(tavix::classify(line), reply);
}

void TestProtocol::emptyStatus_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("empty");

    QTest::newRow("empty fields 2 to 4") << QByteArray("$PHLV,000000,,,,3600,35\r\n") << true;
    QTest::newRow("exactly 16 bytes") << QByteArray("$PHLV,000000,,,,") << true;
    QTest::newRow("line end at offset 15") << QByteArray("$PHLV,000000,,,\r\n") << false;
    QTest::newRow("15 bytes") << QByteArray("$PHLV,000000,,,") << false;
    QTest::newRow("bus load set") << QByteArray("$PHLV,000000,1,,,3600,35\r\n") << false;
    QTest::newRow("field 3 set") << QByteArray("$PHLV,000000,,1,,3600,35\r\n") << false;
    QTest::newRow("devices set") << QByteArray("$PHLV,000000,,,1,3600,35\r\n") << false;
    QTest::newRow("data") << QByteArray("$PHLV,000000,12,0,5,3600,35\r\n") << false;
    QTest::newRow("prefix only") << QByteArray("$PHLV,000000,") << false;
    QTest::newRow("empty line") << QByteArray() << false;
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
    row("exactly seven, no line end", "$PHLV,000000,1,2,3,4,5", { "1", "3", "4", "5" });
    row("empty status", "$PHLV,000000,,,,3600,35\r\n", { "", "", "3600", "35\r\n" });
    row("blanks kept", "$PHLV,000000, 12 ,0, 5,3600 ,\r\n", { " 12 ", " 5", "3600 ", "\r\n" });
    row("markup verbatim", "$PHLV,000000,<img src=x>,0,<b>5</b>,&amp;,35\r\n",
        { "<img src=x>", "<b>5</b>", "&amp;", "35\r\n" });
    row("place markers", "$PHLV,000000,%1,0,%2,%3,%4\r\n", { "%1", "%2", "%3", "%4\r\n" });
    row("utf-8", "$PHLV,000000,\xc2\xb0,0,5,3600,35\r\n",
        { QString(QChar(0xb0)), "5", "3600", "35\r\n" });

    // Too short: every count of fields from one (a line without a comma) to
    // six, and a line that only looks long enough past a zero byte.
    row("empty line", QByteArray(), {});
    row("1 field", "$PHLV\r\n", {});
    row("2 fields", "$PHLV,000000\r\n", {});
    row("3 fields", "$PHLV,000000,12\r\n", {});
    row("4 fields", "$PHLV,000000,12,0\r\n", {});
    row("5 fields", "$PHLV,000000,12,0,5\r\n", {});
    row("6 fields", "$PHLV,000000,12,0,5,3600\r\n", {});
    row("6 fields, empty status", "$PHLV,000000,,,,\r\n", {});
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
    const StatusFields f{ QStringLiteral("12"), QStringLiteral("5"), QStringLiteral("3600"),
                          QStringLiteral("35\r\n") };
    QCOMPARE(statusOneLine(f),
             QStringLiteral("Bus Load: 12, Devices: 5, Uptime: 3600 sec, "
                            "Address: 35\r\n"));
    QCOMPARE(statusFourLines(f),
             QStringLiteral("Bus Load: 12\r\nDevices: 5\r\nUptime: 3600 sec\r\nAddress: 35\r\n"));

    // Fields that hold place markers must come out as they arrived, not be
    // substituted by a later argument.
    const StatusFields markers{ QStringLiteral("%2"), QStringLiteral("%3"), QStringLiteral("%4"),
                                QStringLiteral("%1") };
    QCOMPARE(statusOneLine(markers),
             QStringLiteral("Bus Load: %2, Devices: %3, Uptime: %4 sec, Address: %1"));
    QCOMPARE(statusFourLines(markers),
             QStringLiteral("Bus Load: %2\r\nDevices: %3\r\nUptime: %4 sec\r\nAddress: %1"));

    // Straight from a received line, the way the window uses them.
    const auto parsed = tavix::parseStatus("$PHLV,000000,,,,77,<i>9</i>");
    QVERIFY(parsed);
    QCOMPARE(statusOneLine(*parsed),
             QStringLiteral("Bus Load: , Devices: , Uptime: 77 sec, Address: <i>9</i>"));
}

void TestProtocol::modeTable_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QString>("listText");
    QTest::addColumn<QString>("description");

    const QString mixed0 = QStringLiteral("Talker ID: Mixed\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,DPT,"
                                          "\r\nMTW,APB,RMB,VLW,XTE,ROT,RSA");
    const QString mixed1 = QStringLiteral("Talker ID: Mixed\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,MTW,"
                                          "\r\nDPT,APB,RMB,VLW,RSA,ROT,VDO,VDM");
    const QString gps = QStringLiteral("Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA");
    QTest::newRow("0") << 0 << 0 << 4800 << "0 - Gateway Mode" << mixed0;
    QTest::newRow("1") << 1 << 1 << 38400 << "1 - Gateway HS Mode" << mixed1;
    QTest::newRow("2") << 2 << 2 << 4800 << "2 - GPS Mode (1Hz)" << gps;
    QTest::newRow("3") << 3 << 3 << 38400 << "3 - GPS HS Mode (10Hz)" << gps;
    QTest::newRow("4") << 4 << 4 << 4800 << "4 - Wind Mode (5Hz)"
                       << "Talker ID: WI\r\n\r\nNMEA Data: MWV";
    QTest::newRow("5") << 5 << 5 << 38400 << "5 - AIS Mode"
                       << "Talker ID: AI\r\n\r\nNMEA Data: VDO,VDM,RMC";
    QTest::newRow("6") << 6 << 6 << 4800 << "6 - Heading Mode"
                       << "Talker ID: HC\r\n\r\nNMEA Data: HDG";
    QTest::newRow("7") << 7 << 7 << 38400 << "7 - Instrument Mode"
                       << "Talker ID: II\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,DPT,\r\nMTW,APB,RMB,VLW,"
                          "XTE,ROT,RSA";
    QTest::newRow("8") << 8 << 8 << 4800 << "8 - Depth Mode"
                       << "Talker ID: SD\r\n\r\nNMEA Data: DPT,MTW,VHW,VLW,RMC";
    QTest::newRow("9") << 9 << 14 << 115200 << "14 - Full Mode" << mixed1;
    QTest::newRow("10") << 10 << 15 << 230400 << "15 - RAW Mode"
                        << "Talker ID: !PHLV\r\n\r\nRAW NMEA2000 data over serial";
}

void TestProtocol::modeTable()
{
    QFETCH(int, index);
    QFETCH(int, mode);
    QFETCH(int, baud);
    QFETCH(QString, listText);
    QFETCH(QString, description);

    const ConversionMode &row = tavix::modeTable().at(static_cast<std::size_t>(index));
    QCOMPARE(row.index, index);
    QCOMPARE(row.mode, mode);
    QCOMPARE(row.baud, baud);
    QCOMPARE(QString::fromUtf8(row.list_text), listText);

    QCOMPARE(modeForIndex(index), mode);
    QCOMPARE(indexForMode(mode), index);
    QCOMPARE(indexForMode(modeForIndex(index)), index);
    QCOMPARE(baudForMode(mode), baud);

    QCOMPARE(modeDescription(index, false), description);
    // The rate form puts the rate line in front, except on row 2, whose
    // talker line is followed by a single line break.
    const QString rateLine = QStringLiteral("BaudRate: %1\r\n\r\n").arg(baud);
    if (index == 2) {
        QCOMPARE(
            modeDescription(index, true),
            QStringLiteral("BaudRate: 4800\r\n\r\nTalker ID: GP\r\nNMEA Data: RMC,GSA,GSV,ZDA"));
    } else {
        QCOMPARE(modeDescription(index, true), rateLine + description);
    }
}

void TestProtocol::modesNotOffered()
{
    for (int mode : { -1, 9, 10, 11, 12, 13, 16, 100 }) {
        QCOMPARE(indexForMode(mode), -1);
        QCOMPARE(baudForMode(mode), 0);
        QVERIFY(modeSentence(mode).isEmpty());
    }
    for (int index : { -1, 11, 14, 15 }) {
        QCOMPARE(modeForIndex(index), -1);
        QVERIFY(modeDescription(index, true).isEmpty());
        QVERIFY(modeDescription(index, false).isEmpty());
    }
}

void TestProtocol::modeSentences_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("sentence");

    QTest::newRow("0") << 0 << QByteArray("$PHLV,TAVIX_MODE,0,\r\n$PHLV,TAVIX_MODE,0,\r\n");
    QTest::newRow("1") << 1 << QByteArray("$PHLV,TAVIX_MODE,1,\r\n$PHLV,TAVIX_MODE,1,\r\n");
    QTest::newRow("2") << 2 << QByteArray("$PHLV,TAVIX_MODE,2,\r\n$PHLV,TAVIX_MODE,2,\r\n");
    QTest::newRow("3") << 3 << QByteArray("$PHLV,TAVIX_MODE,3,\r\n$PHLV,TAVIX_MODE,3,\r\n");
    QTest::newRow("4") << 4 << QByteArray("$PHLV,TAVIX_MODE,4,\r\n$PHLV,TAVIX_MODE,4,\r\n");
    QTest::newRow("5") << 5 << QByteArray("$PHLV,TAVIX_MODE,5,\r\n$PHLV,TAVIX_MODE,5,\r\n");
    QTest::newRow("6") << 6 << QByteArray("$PHLV,TAVIX_MODE,6,\r\n$PHLV,TAVIX_MODE,6,\r\n");
    QTest::newRow("7") << 7 << QByteArray("$PHLV,TAVIX_MODE,7,\r\n$PHLV,TAVIX_MODE,7,\r\n");
    QTest::newRow("8") << 8 << QByteArray("$PHLV,TAVIX_MODE,8,\r\n$PHLV,TAVIX_MODE,8,\r\n");
    QTest::newRow("14") << 14 << QByteArray("$PHLV,TAVIX_MODE,14,\r\n$PHLV,TAVIX_MODE,14,\r\n");
    QTest::newRow("15") << 15 << QByteArray("$PHLV,TAVIX_MODE,15,\r\n$PHLV,TAVIX_MODE,15,\r\n");
}

void TestProtocol::modeSentences()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, sentence);
    QCOMPARE(modeSentence(mode), sentence);
}

void TestProtocol::isoRequests()
{
    QCOMPARE(isoRequest("255", iso::address_claim), QByteArray("!PHLV,59904,255,AO4A\r\n"));
    QCOMPARE(isoRequest("35", iso::pgn_list), QByteArray("!PHLV,59904,35,AO4B\r\n"));
    QCOMPARE(isoRequest("7", iso::product_info), QByteArray("!PHLV,59904,7,FPAB\r\n"));
    QCOMPARE(isoRequest("", iso::config_info), QByteArray("!PHLV,59904,,FvAB\r\n"));

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
}

void TestProtocol::textsGoThroughTranslation()
{
    RecordingTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));

    const StatusFields f{ QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                          QStringLiteral("4") };
    const QString one = statusOneLine(f);
    const QString four = statusFourLines(f);
    const QString withRate = modeDescription(10, true);
    const QString withoutRate = modeDescription(2, false);
    QCoreApplication::removeTranslator(&translator);

    QCOMPARE(one, QStringLiteral("T[Bus Load: 1, Devices: 2, Uptime: 3 sec, Address: 4]"));
    QCOMPARE(four, QStringLiteral("T[Bus Load: 1\r\nDevices: 2\r\nUptime: 3 sec\r\nAddress: 4]"));
    QCOMPARE(withRate,
             QStringLiteral("T[") + QString::fromUtf8(tavix::modeTable()[10].description_with_rate)
                 + QLatin1Char(']'));
    QCOMPARE(withoutRate,
             QStringLiteral("T[") + QString::fromUtf8(tavix::modeTable()[2].description)
                 + QLatin1Char(']'));
    QCOMPARE(translator.asked.size(), 4);

    // Without a translator the source texts come back unchanged.
    QCOMPARE(statusOneLine(f),
             QStringLiteral("Bus Load: 1, Devices: 2, Uptime: 3 sec, Address: 4"));
}

QTEST_GUILESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
