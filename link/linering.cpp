#include "link/linering.h"

namespace tavix {

bool LineRing::put(const QByteArray &line)
{
    if (line.isEmpty())
        return true;
    if (isFull())
        return false;
    stored[ring_write_pos - 1] = line;
    ring_write_pos = next(ring_write_pos);
    return true;
}

bool LineRing::take(QByteArray *line)
{
    QByteArray &slot = stored[ring_read_pos - 1];
    if (slot.isEmpty())
        return false;
    *line = std::move(slot);
    slot = QByteArray();
    ring_read_pos = next(ring_read_pos);
    return true;
}

int LineRing::size() const
{
    if (isFull())
        return slot_count;
    return (ring_write_pos - ring_read_pos + slot_count) % slot_count;
}

void LineRing::clear()
{
    for (QByteArray &slot : stored)
        slot.clear();
    ring_write_pos = 1;
    ring_read_pos = 1;
}

} // namespace tavix
