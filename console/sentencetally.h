#pragma once

#include "protocol/sentencekinds.h"

#include <QByteArray>
#include <QHash>

#include <array>
#include <vector>

namespace tavix {

// What has been received of one kind of line.
struct KindStats
{
    static constexpr int rate_slots = 11; // the last ten whole seconds and the current one

    QByteArray kind; // its own copy
    QByteArray latest; // the newest line, cut at latest_kept bytes
    quint64 count = 0;
    quint64 bad = 0; // lines whose checksum did not match
    Checksum last_checksum = Checksum::None;
    qint64 first_ms = 0;
    qint64 last_ms = 0;
    // Lines in each second of the clock, by second modulo rate_slots; the
    // slots of seconds after newest_second are stale.
    qint64 newest_second = 0;
    std::array<quint32, rate_slots> per_second{};
};

// Counts every received line by its kind: the bookkeeping behind the
// Sentences tab. It runs for every line the window accepts, so note() copies
// nothing but a new kind's name and reads no more than the line's address
// and checksum; everything shown is worked out from it at refresh time.
class SentenceTally
{
public:
    // Kinds kept apart; later kinds share one "other kinds" row, so that a
    // peer that makes up kinds without end cannot grow the table.
    static constexpr int max_rows = 500;
    static constexpr int rate_seconds = 10;
    // A kind this long without a line is shown as silent.
    static constexpr qint64 silent_ms = 5000;
    // A line longer than any sentence is kept only this far for its values.
    static constexpr int latest_kept = 256;

    // Counts one line received at now_ms (a monotonic clock in ms, never
    // going back); returns the row it was counted in.
    int note(const QByteArray &line, qint64 now_ms);
    void clear();

    // Rows in the order their kinds first came, "other kinds" last.
    const std::vector<KindStats> &rows() const { return kinds; }

    // Lines a second over the last rate_seconds whole seconds (over the
    // whole seconds there are, for a kind that came only lately); 0 for a
    // silent kind.
    static double rate(const KindStats &k, qint64 now_ms);
    static bool silent(const KindStats &k, qint64 now_ms) { return now_ms - k.last_ms > silent_ms; }

private:
    std::vector<KindStats> kinds;
    QHash<QByteArray, int> row_of;
    int other_row = -1;
};

} // namespace tavix
