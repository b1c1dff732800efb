#include "console/sentencetally.h"

#include <algorithm>

namespace tavix {

namespace {

KindStats fresh(const QByteArray &kind, qint64 now_ms)
{
    KindStats k;
    // The kind shares the line's bytes: the row keeps its own.
    k.kind = QByteArray(kind.constData(), kind.size());
    k.first_ms = now_ms;
    k.newest_second = now_ms / 1000;
    return k;
}

quint32 linesIn(const KindStats &k, qint64 second)
{
    if (second > k.newest_second || second <= k.newest_second - KindStats::rate_slots)
        return 0;
    return k.per_second[std::size_t(second % KindStats::rate_slots)];
}

} // namespace

int SentenceTally::note(const QByteArray &line, qint64 now_ms)
{
    const QByteArray key = sentenceKind(line);
    int row = row_of.value(key, -1);
    if (row < 0) {
        if (int(kinds.size()) < max_rows) {
            row = int(kinds.size());
            kinds.push_back(fresh(key, now_ms));
            row_of.insert(kinds.back().kind, row);
        } else {
            if (other_row < 0) {
                other_row = int(kinds.size());
                kinds.push_back(fresh(QByteArray(kind::other_kinds), now_ms));
            }
            row = other_row;
        }
    }
    KindStats &k = kinds[std::size_t(row)];
    ++k.count;
    k.last_checksum = checksumOf(line);
    if (k.last_checksum == Checksum::Bad)
        ++k.bad;
    k.latest = line.size() <= latest_kept ? line : line.left(latest_kept);
    k.last_ms = now_ms;
    const qint64 second = now_ms / 1000;
    if (second != k.newest_second) {
        // The slots of the seconds in between held lines of rate_slots
        // seconds ago.
        for (qint64 s = std::max(k.newest_second + 1, second - KindStats::rate_slots + 1);
             s <= second; ++s)
            k.per_second[std::size_t(s % KindStats::rate_slots)] = 0;
        k.newest_second = second;
    }
    ++k.per_second[std::size_t(second % KindStats::rate_slots)];
    return row;
}

void SentenceTally::clear()
{
    kinds.clear();
    row_of.clear();
    other_row = -1;
}

double SentenceTally::rate(const KindStats &k, qint64 now_ms)
{
    if (silent(k, now_ms))
        return 0;
    const qint64 now_second = now_ms / 1000;
    // The kind's first second is counted only from its first line on, and
    // the current one is not over: both would pull the figure down.
    const qint64 from = std::max(now_second - rate_seconds, k.first_ms / 1000 + 1);
    const qint64 to = now_second - 1;
    if (to < from)
        return double(k.count) / std::max(1.0, double(now_ms - k.first_ms) / 1000);
    quint64 lines = 0;
    for (qint64 s = from; s <= to; ++s)
        lines += linesIn(k, s);
    return double(lines) / double(to - from + 1);
}

} // namespace tavix
