#include "link/lineframer.h"

#include <cstring>

namespace tavix {

namespace {

const char *findNewline(const char *from, const char *end)
{
    return static_cast<const char *>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
}

} // namespace

QList<QByteArray> LineFramer::feed(const QByteArray &chunk)
{
    QList<QByteArray> lines;
    const char *pos = chunk.constData();
    const char *const end = pos + chunk.size();

    if (skipping) {
        const char *nl = findNewline(pos, end);
        if (!nl) {
            dropped += end - pos;
            return lines;
        }
        dropped += nl + 1 - pos;
        pos = nl + 1;
        skipping = false;
    }

    // Each byte of the chunk is looked at once by memchr; the pending part
    // is never rescanned, only completed.
    while (pos < end) {
        const char *nl = findNewline(pos, end);
        if (!nl)
            break;
        const qint64 body = partial.size() + (nl - pos); // without the '\n'
        if (body > max_line) {
            // Completed in this chunk, but too long all the same: the same
            // line fed byte by byte would have been dropped, so drop it here.
            dropped += body + 1;
            partial.clear();
        } else if (partial.isEmpty()) {
            lines.append(QByteArray(pos, static_cast<int>(nl + 1 - pos)));
        } else {
            partial.append(pos, static_cast<int>(nl + 1 - pos));
            lines.append(std::move(partial));
            partial = QByteArray();
        }
        pos = nl + 1;
    }

    if (pos < end) {
        const qint64 rest = end - pos;
        if (partial.size() + rest > max_line) {
            // Give up on this line before its bytes are stored.
            dropped += partial.size() + rest;
            partial.clear();
            skipping = true;
        } else {
            partial.append(pos, static_cast<int>(rest));
        }
    }
    return lines;
}

void LineFramer::clear()
{
    partial.clear();
    skipping = false;
    dropped = 0;
}

} // namespace tavix
