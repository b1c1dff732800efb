#pragma once

#include <QByteArray>

#include <array>

namespace tavix {

// The 200-slot store through which TCP lines wait for the count worker's
// tick. It works first in, first out: a slot is written only once the line
// it held has been taken, so no line is overwritten before it is handed on
// and lines leave in the order they came.
class LineRing
{
public:
    static constexpr int slot_count = 200;

    // Stores a line at ring_write_pos; false (nothing stored) when the ring
    // is full. An empty line is not stored: an empty slot means "free".
    bool put(const QByteArray &line);

    // Takes the oldest waiting line into *line and empties its slot; false
    // when no line waits.
    bool take(QByteArray *line);

    bool isFull() const { return !stored[ring_write_pos - 1].isEmpty(); }
    bool isEmpty() const { return stored[ring_read_pos - 1].isEmpty(); }
    int size() const;

    // Positions count 1 to slot_count.
    int writePos() const { return ring_write_pos; }
    int readPos() const { return ring_read_pos; }

    void clear();

private:
    static int next(int pos) { return pos == slot_count ? 1 : pos + 1; }

    std::array<QByteArray, slot_count> stored;
    int ring_write_pos = 1;
    int ring_read_pos = 1;
};

} // namespace tavix
