#pragma once

#include <QByteArray>

#include <cstring>

namespace gatewaysim {

// Cuts received bytes into lines ending in '\n' (kept). Each line carries
// whether all of its bytes were understood, so that a line that began at a
// wrong rate stays garbage even if its end arrived at the right one. A peer
// that never ends its line cannot grow the buffer past max_line: the line is
// dropped up to its end.
class LineSplitter
{
public:
    explicit LineSplitter(int max_line = 4096)
        : m_max(max_line)
    { }

    template<typename Emit>
    void feed(const char *data, qint64 size, bool understood, Emit &&emit_line)
    {
        qint64 pos = 0;
        while (pos < size) {
            const void *hit = std::memchr(data + pos, '\n', size_t(size - pos));
            const qint64 end = hit ? static_cast<const char *>(hit) - data + 1 : size;
            if (!m_skipping) {
                m_partial.append(data + pos, int(end - pos));
                m_understood = m_understood && understood;
            }
            pos = end;
            if (!m_skipping && m_partial.size() > m_max) {
                ++m_overlong;
                m_partial.clear();
                m_skipping = !hit;
            }
            if (hit) {
                if (!m_skipping && !m_partial.isEmpty())
                    emit_line(m_partial, m_understood);
                m_partial.clear();
                m_understood = true;
                m_skipping = false;
            }
        }
    }

    void reset()
    {
        m_partial.clear();
        m_understood = true;
        m_skipping = false;
    }

    quint64 overlongLines() const { return m_overlong; }

private:
    QByteArray m_partial;
    int m_max;
    bool m_understood = true;
    bool m_skipping = false;
    quint64 m_overlong = 0;
};

} // namespace gatewaysim
