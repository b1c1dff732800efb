#pragma once

#include <QByteArray>
#include <QList>

namespace tavix {

// Cuts a byte stream into lines that end in '\n' (kept, with any '\r'
// before it). A peer that never sends a line end cannot grow the pending
// partial line past max_line: it is dropped and reading resynchronises at
// the next line end.
class LineFramer
{
public:
    // Longest line kept, counted without its '\n'.
    static constexpr int max_line = 64 * 1024;

    // Appends chunk and returns every line now complete, in order.
    QList<QByteArray> feed(const QByteArray &chunk);

    // The partial line waiting for its end.
    const QByteArray &pending() const { return partial; }
    // Bytes dropped so far because a line outgrew max_line.
    qint64 droppedBytes() const { return dropped; }
    // Forgets the partial line and any line being skipped, and zeroes the
    // drop count: the state of a new connection.
    void clear();

private:
    QByteArray partial;
    bool skipping = false; // inside an overlong line, waiting for its end
    qint64 dropped = 0;
};

} // namespace tavix
