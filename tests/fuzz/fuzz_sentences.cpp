// Every reading of a received line, over arbitrary bytes. Tokens are looked
// for without QByteArray, so that the checks do not repeat the code.
#include "fuzzharness.h"
#include "protocol/modes.h"
#include "protocol/sentences.h"

#include <string_view>

using namespace tavix;

void fuzzOne(const QByteArray &line)
{
    const std::string_view bytes(line.constData(), static_cast<std::size_t>(line.size()));
    const auto has = [&](const char *token) { return bytes.find(token) != bytes.npos; };
    const Gateway token = has("Halvane_Tor") ? Gateway::Torvel : Gateway::None;
    CHECK(identityOf(line) == (has("Halvane_S") ? Gateway::Sernix : token));
    for (const int mode : { sernixModeFromIdentity(line), torvelModeFromIdentity(line) }) {
        const int index = indexForMode(mode);
        CHECK(index >= -1 && index < mode_count && (index < 0) == (baudForMode(mode) == 0));
        CHECK(index < 0 ? modeSentence(mode).isEmpty() : modeForIndex(index) == mode);
    }

    // Replies are told apart by how the line starts.
    const Reply reply = classify(line);
    CHECK(classify(line.left(22)) == reply && classify(line + "\r\n$PHLV,000000,") == reply);
    // Status fields when seven arrived, shown on one line as they came.
    const std::optional<StatusFields> f = parseStatus(line);
    CHECK(f.has_value() == (lineToText(line).count(QLatin1Char(',')) >= 6));
    if (f) {
        const QString shown = statusOneLine(*f);
        CHECK(shown.contains(f->bus_load + ", Devices: " + f->devices + ", Uptime: " + f->uptime)
              && !shown.endsWith(QLatin1Char('\n')));
    }
}
