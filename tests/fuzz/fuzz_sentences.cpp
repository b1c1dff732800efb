// Every reading of a received line, run over arbitrary bytes: identity
// replies, status sentences, the reply classification and the mode table
// the identity's number is looked up in.
#include "fuzzcheck.h"
#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace tavix;

namespace {

// Byte search written without QByteArray, so that it checks rather than
// repeats the code under test.
bool containsBytes(const QByteArray &hay, const char *needle)
{
    const std::size_t n = std::strlen(needle);
    const std::size_t size = static_cast<std::size_t>(hay.size());
    for (std::size_t i = 0; i + n <= size; ++i) {
        if (std::memcmp(hay.constData() + i, needle, n) == 0)
            return true;
    }
    return false;
}

// Longest literal classify() compares.
constexpr int longest_reply_prefix = 22;

void checkModeLookups(int mode)
{
    const int index = indexForMode(mode);
    check(index >= -1 && index < mode_count, "indexForMode stays inside the list");
    if (index >= 0) {
        check(modeForIndex(index) == mode, "mode -> index -> mode round trip");
        check(baudForMode(mode) > 0, "a listed mode has a serial rate");
        const QByteArray sentence = modeSentence(mode);
        const QByteArray one = "$PHLV,TAVIX_MODE," + QByteArray::number(mode) + ",\r\n";
        check(sentence == one + one, "mode sentence is the command twice");
        check(!modeDescription(index, true).isEmpty(), "a listed mode has a description");
    } else {
        check(baudForMode(mode) == 0, "an unlisted mode has no rate");
        check(modeSentence(mode).isEmpty(), "an unlisted mode has no command");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 1 << 20)
        return 0;
    const QByteArray line(reinterpret_cast<const char *>(data), static_cast<int>(size));

    // Text: the bytes before the first zero byte, as UTF-8.
    const QString text = lineToText(line);
    const int nul = line.indexOf('\0');
    const int text_bytes = nul < 0 ? line.size() : nul;
    check(!text.contains(QChar(0)), "no zero byte survives into the text");
    check(text.size() <= text_bytes, "decoding never makes more characters than bytes");
    check(text == QString::fromUtf8(line.left(text_bytes)), "text is the bytes before the zero");

    const Gateway gateway = identityOf(line);
    const bool has_sernix = containsBytes(line, "Halvane_S");
    const bool has_torvel = containsBytes(line, "Halvane_Tor");
    check(gateway
              == (has_sernix       ? Gateway::Sernix
                      : has_torvel ? Gateway::Torvel
                                   : Gateway::None),
          "identity follows the tokens, the Sernix's first");

    const int sernix_mode = sernixModeFromIdentity(line);
    checkModeLookups(sernix_mode);
    const int torvel_mode = torvelModeFromIdentity(line);
    // At most two characters are ever read as the Torvel's number.
    check(torvel_mode >= -9 && torvel_mode <= 99, "Torvel mode is one or two characters");
    checkModeLookups(torvel_mode);
    if (!text.contains(QLatin1Char(':'))) {
        check(sernix_mode == 0 && torvel_mode == 0, "a reply without ':' reads mode 0");
    }

    // Classification looks at the start of the line only.
    const Reply reply = classify(line);
    check(classify(line.left(longest_reply_prefix)) == reply, "classify reads only the prefix");
    check(classify(line + "\r\n$PHLV,000000,") == reply, "what follows does not matter");
    check(isSentence(line) == (size > 0 && (data[0] == '$' || data[0] == '!')), "sentence filter");
    if (reply != Reply::Other)
        check(line.startsWith("$PHLV,"), "every known reply is a $PHLV sentence");

    check(isEmptyStatus(line)
              == (size >= 16 && data[13] == ',' && data[14] == ',' && data[15] == ','),
          "empty status is three commas at offsets 13 to 15");

    const std::optional<StatusFields> fields = parseStatus(line);
    check(fields.has_value() == (text.count(QLatin1Char(',')) >= 6),
          "status fields exactly when seven fields arrived");
    if (fields) {
        const QString *parts[]
            = { &fields->bus_load, &fields->devices, &fields->uptime, &fields->address };
        for (const QString *part : parts) {
            check(!part->contains(QLatin1Char(',')), "a field holds no separator");
            check(text.contains(*part), "a field is text that arrived");
        }
        check(text.endsWith(fields->address) || text.contains(fields->address + QLatin1Char(',')),
              "field 6 runs to the next comma or the end");

        // A field that looks like a place marker is shown, not expanded.
        const QString one_line = QStringLiteral("Bus Load: ") + fields->bus_load
            + QStringLiteral(", Devices: ") + fields->devices + QStringLiteral(", Uptime: ")
            + fields->uptime + QStringLiteral(" sec, Address: ") + fields->address;
        check(statusOneLine(*fields) == one_line, "one-line status text");
        const QString four_lines = QStringLiteral("Bus Load: ") + fields->bus_load
            + QStringLiteral("\r\nDevices: ") + fields->devices + QStringLiteral("\r\nUptime: ")
            + fields->uptime + QStringLiteral(" sec\r\nAddress: ") + fields->address;
        check(statusFourLines(*fields) == four_lines, "four-line status text");
    }
    return 0;
}
