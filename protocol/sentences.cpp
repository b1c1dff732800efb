#include "protocol/sentences.h"

#include <QByteArrayMatcher>
#include <QCoreApplication>
#include <QStringList>

#include <cstring>

namespace tavix {

namespace {

bool startsWith(const QByteArray &line, const char *prefix)
{
    const std::size_t n = std::strlen(prefix);
    return static_cast<std::size_t>(line.size()) >= n
        && std::memcmp(line.constData(), prefix, n) == 0;
}

// The text between the first ':' and the next one (or the end); empty when
// the line has no ':' at all.
QString identityModeField(const QByteArray &line)
{
    const QString text = lineToText(line);
    const int first = text.indexOf(QLatin1Char(':'));
    if (first < 0)
        return QString();
    const int second = text.indexOf(QLatin1Char(':'), first + 1);
    return text.mid(first + 1, second < 0 ? -1 : second - first - 1);
}

int digitValue(QChar c)
{
    // ASCII only, like QString::toInt: other scripts' digits are not numbers
    // to the gateways.
    const ushort u = c.unicode();
    return u >= '0' && u <= '9' ? u - '0' : 0;
}

} // namespace

QByteArray isoRequest(const QByteArray &destination, const char *payload)
{
    return "!PHLV,59904," + destination + ',' + payload + "\r\n";
}

QString lineToText(const QByteArray &line)
{
    // Runs on every line shown, so find the zero byte with memchr.
    const void *nul = std::memchr(line.constData(), '\0', static_cast<std::size_t>(line.size()));
    const int size
        = nul ? static_cast<int>(static_cast<const char *>(nul) - line.constData()) : line.size();
    return QString::fromUtf8(line.constData(), size);
}

Gateway identityOf(const QByteArray &line)
{
    // The byte test runs on the whole line, zero bytes included: the token
    // identifies the gateway wherever it turns up.
    // Runs on every line: one pass for the tokens' common start.
    static const QByteArrayMatcher common("Halvane_");
    constexpr int common_size = 8;
    bool torvel = false;
    for (int at = common.indexIn(line); at >= 0; at = common.indexIn(line, at + 1)) {
        const char *rest = line.constData() + at + common_size;
        const int left = line.size() - at - common_size;
        if (left >= 1 && rest[0] == 'S')
            return Gateway::Sernix; // wherever it stands, the Sernix's wins
        torvel = torvel || (left >= 3 && std::memcmp(rest, "Tor", 3) == 0);
    }
    return torvel ? Gateway::Torvel : Gateway::None;
}

int sernixModeFromIdentity(const QByteArray &line)
{
    const QString field = identityModeField(line);
    const int star = field.indexOf(QLatin1Char('*'));
    // toInt skips surrounding whitespace, so a bare "14\r\n" still reads 14,
    // and gives 0 for anything that is not a number.
    return field.left(star).toInt();
}

int torvelModeFromIdentity(const QByteArray &line)
{
    // Read by character position rather than as a whole number. The quirks
    // that follow (an unterminated "14" reads 1, any second character '5'
    // reads 15) are intended and pinned down by the tests.
    const QString s = identityModeField(line);
    if (s.size() >= 2 && s.at(1) == QLatin1Char('*'))
        return digitValue(s.at(0));
    if (s.size() >= 3 && s.at(2) == QLatin1Char('*'))
        return s.left(s.indexOf(QLatin1Char('*'))).toInt();
    if (s.size() >= 2 && s.at(1) == QLatin1Char('5'))
        return 15;
    return s.isEmpty() ? 0 : digitValue(s.at(0));
}

Reply classify(const QByteArray &line)
{
    // First match wins. No literal is a prefix of another today, but keep
    // the order should a longer reply ever share a shorter one's start.
    static constexpr struct
    {
        const char *prefix;
        Reply reply;
    } replies[] = {
        { "$PHLV,000000,", Reply::Status },
        { "$PHLV,ACK,TAVIX_M", Reply::ModeAck },
        { "$PHLV,ACK,TX_LIMIT,OFF", Reply::TxLimitOffAck },
        { "$PHLV,ACK,TAVIX_INIT", Reply::InitAck },
        { "$PHLV,ACK,TX_LIMIT,ON", Reply::TxLimitOnAck },
        { "$PHLV,TAVIX_DEVICES", Reply::Devices },
        { "$PHLV,SHOW_BLACKLIST", Reply::Blacklist },
    };
    // Data sentences, nearly every line, share no start with the replies.
    if (!startsWith(line, "$PHLV,"))
        return Reply::Other;
    for (const auto &r : replies) {
        if (startsWith(line, r.prefix))
            return r.reply;
    }
    return Reply::Other;
}

bool isSentence(const QByteArray &line)
{
    return !line.isEmpty() && (line.at(0) == '$' || line.at(0) == '!');
}

bool isEmptyStatus(const QByteArray &line)
{
    return line.size() >= 16 && line.at(13) == ',' && line.at(14) == ',' && line.at(15) == ',';
}

std::optional<StatusFields> parseStatus(const QByteArray &line)
{
    const QStringList fields = lineToText(line).split(QLatin1Char(','), Qt::KeepEmptyParts);
    if (fields.size() < 7)
        return std::nullopt;
    return StatusFields{ fields.at(2), fields.at(4), fields.at(5), fields.at(6) };
}

QString statusOneLine(const StatusFields &f)
{
    // One line in the status bar: the line end that closes the last field
    // would make the bar two lines tall.
    QString address = f.address;
    while (address.endsWith(QLatin1Char('\n')) || address.endsWith(QLatin1Char('\r')))
        address.chop(1);
    // Multi-argument arg(): a field that itself holds "%1" is not expanded
    // again.
    return QCoreApplication::translate("MainWindow",
                                       "Bus Load: %1, Devices: %2, Uptime: %3 sec, Address: %4")
        .arg(f.bus_load, f.devices, f.uptime, address);
}

QString statusFourLines(const StatusFields &f)
{
    return QCoreApplication::translate(
               "MainWindow", "Bus Load: %1\r\nDevices: %2\r\nUptime: %3 sec\r\nAddress: %4")
        .arg(f.bus_load, f.devices, f.uptime, f.address);
}

} // namespace tavix
