#include "gatewaysim.h"

#include <QtEndian>

namespace gatewaysim {

namespace {

constexpr char numbered_prefix[] = "$GPTXT,01,01,02,SEQ ";
constexpr int numbered_prefix_size = int(sizeof(numbered_prefix)) - 1;
constexpr char frame_prefix[] = "!PHLV,65300,";
constexpr int frame_prefix_size = int(sizeof(frame_prefix)) - 1;

QByteArray withoutLineEnd(const QByteArray &line)
{
    int end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r'))
        --end;
    return line.left(end);
}

quint8 xorOf(const char *begin, const char *end)
{
    quint8 cs = 0;
    for (const char *p = begin; p != end; ++p)
        cs ^= quint8(*p);
    return cs;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

QByteArray withChecksum(const QByteArray &body)
{
    static const char digits[] = "0123456789ABCDEF";
    const quint8 cs = body.isEmpty() ? 0 : xorOf(body.constData() + 1, body.constEnd());
    QByteArray line;
    line.reserve(body.size() + 5);
    line.append(body);
    line.append('*');
    line.append(digits[cs >> 4]);
    line.append(digits[cs & 0x0f]);
    line.append("\r\n");
    return line;
}

bool checksumValid(const QByteArray &line)
{
    const QByteArray l = withoutLineEnd(line);
    const int star = l.lastIndexOf('*');
    if (l.isEmpty() || star < 1 || star != l.size() - 3)
        return false;
    const int hi = hexValue(l[star + 1]);
    const int lo = hexValue(l[star + 2]);
    if (hi < 0 || lo < 0)
        return false;
    return xorOf(l.constData() + 1, l.constData() + star) == quint8(hi * 16 + lo);
}

QByteArray numberedLine(quint64 seq)
{
    QByteArray body;
    body.reserve(48);
    body.append(numbered_prefix);
    body.append(QByteArray::number(seq).rightJustified(10, '0'));
    body.append(" ABCDEFGHIJ");
    return withChecksum(body);
}

QByteArray numberedFrame(quint64 seq)
{
    char payload[8];
    qToLittleEndian<quint64>(seq, payload);
    return QByteArray(frame_prefix) + "35," + QByteArray(payload, 8).toBase64() + "\r\n";
}

std::optional<quint64> sequenceOf(const QByteArray &line)
{
    const QByteArray l = withoutLineEnd(line);
    if (l.startsWith(numbered_prefix)) {
        if (!checksumValid(l))
            return std::nullopt;
        int end = numbered_prefix_size;
        while (end < l.size() && l[end] >= '0' && l[end] <= '9')
            ++end;
        const int digits = end - numbered_prefix_size;
        if (digits == 0 || digits > 20 || end >= l.size() || (l[end] != ' ' && l[end] != '*'))
            return std::nullopt;
        bool ok = false;
        const quint64 seq = l.mid(numbered_prefix_size, digits).toULongLong(&ok);
        return ok ? std::optional<quint64>(seq) : std::nullopt;
    }
    if (l.startsWith(frame_prefix)) {
        const QList<QByteArray> fields = l.split(',');
        if (fields.size() != 4 || fields[3].size() != 12)
            return std::nullopt;
        const auto decoded = QByteArray::fromBase64Encoding(
            fields[3], QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != 8)
            return std::nullopt;
        return qFromLittleEndian<quint64>(decoded.decoded.constData());
    }
    return std::nullopt;
}

bool isValidMode(int mode)
{
    return (mode >= 0 && mode <= 8) || mode == 14 || mode == 15;
}

int sernixBaudForMode(int mode)
{
    if (!isValidMode(mode))
        return 0;
    if (mode == 14)
        return 115200;
    if (mode == 15)
        return 230400;
    return mode % 2 == 0 ? 4800 : 38400;
}

QByteArray sernixIdentityLine(int mode)
{
    return withChecksum("$PHLV,Halvane_Sernix,FW 2.1.0:" + QByteArray::number(mode));
}

QByteArray torvelIdentityLine(int mode)
{
    return withChecksum("$PHLV,Halvane_Torvel,FW 1.4.2:" + QByteArray::number(mode));
}

} // namespace gatewaysim
