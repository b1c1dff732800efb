#pragma once

#include <QByteArray>
#include <QString>

// What kind of line a received line is, whether its checksum holds, and what
// the kind means in plain words. The kinds are the rows of the Sentences tab.
namespace tavix {

// The row a line is counted in: its address field ("$GPRMC", "!AIVDM"), or
// one of the gateway's own kinds below. Runs on every received line, so it
// copies nothing: the result shares the bytes of `line` (or of a literal)
// and must be copied before `line` goes away. Addresses are cut at
// max_kind_size bytes, so that a peer that never sends a comma still makes
// short keys.
QByteArray sentenceKind(const QByteArray &line);
constexpr int max_kind_size = 12;

namespace kind {
inline constexpr char gateway_status[] = "$PHLV status";
inline constexpr char gateway_ack[] = "$PHLV ACK";
inline constexpr char raw_frames[] = "!PHLV raw frames";
// Where kinds go once the table holds as many rows as it keeps.
inline constexpr char other_kinds[] = "other kinds";
} // namespace kind

enum class Checksum {
    None, // no '*' in the line
    Ok, // "*hh" after the last data byte, matching the XOR of the bytes between
        // the leading '$' or '!' and the '*', either case of hex digit
    Bad, // a '*' with no two hex digits after it, or digits that do not match
};
Checksum checksumOf(const QByteArray &line);

// The three letters of a standard sentence's formatter ("RMC" of "$GPRMC");
// empty for a proprietary sentence, the gateway's own kinds and anything not
// shaped like an address.
QByteArray formatterOf(const QByteArray &kind);

// A kind as the table shows it: bytes that are not printable ASCII appear as
// \xNN.
QString kindText(const QByteArray &kind);

// The kind in plain words: talker and formatter from the tables of the
// standard, e.g. "GPS: recommended minimum GNSS data (position, course,
// speed, time)". Never empty: a kind the tables do not hold is "not a
// standard sentence".
QString kindMeaning(const QByteArray &kind);

} // namespace tavix
