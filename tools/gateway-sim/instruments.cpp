// The sentences a gateway makes of a small boat's bus in each mode: a GPS, a
// compass, a speed log, wind and depth instruments, a rudder sensor and an
// AIS, on a boat under way in a steady breeze. No route is active, so
// nothing steers to a waypoint (no APB, RMB or XTE).
#include "gatewaysim.h"

#include <QtMath>

#include <vector>

namespace gatewaysim {

namespace {

struct Kind
{
    const char *formatter;
    const char *talker; // in the modes with mixed talker IDs
    int per_cycle; // lines of this kind in each cycle of the mode's kinds
};

const std::vector<Kind> mixed = {
    { "RMC", "GP", 1 }, { "HDG", "HC", 4 }, { "VHW", "VW", 1 },
    { "MWV", "WI", 2 }, { "DPT", "SD", 1 }, { "MTW", "YX", 1 },
    { "VLW", "VW", 1 }, { "ROT", "TI", 2 }, { "RSA", "AG", 2 },
};
const std::vector<Kind> mixed_ais = {
    { "RMC", "GP", 1 }, { "HDG", "HC", 4 }, { "VHW", "VW", 1 }, { "MWV", "WI", 2 },
    { "DPT", "SD", 1 }, { "MTW", "YX", 1 }, { "VLW", "VW", 1 }, { "ROT", "TI", 2 },
    { "RSA", "AG", 2 }, { "VDM", "AI", 3 }, { "VDO", "AI", 1 },
};
const std::vector<Kind> gps
    = { { "RMC", "GP", 1 }, { "GSA", "GP", 1 }, { "GSV", "GP", 3 }, { "ZDA", "GP", 1 } };
const std::vector<Kind> wind = { { "MWV", "WI", 1 } };
const std::vector<Kind> ais = { { "VDM", "AI", 4 }, { "VDO", "AI", 1 }, { "RMC", "AI", 1 } };
const std::vector<Kind> heading = { { "HDG", "HC", 1 } };
const std::vector<Kind> depth = { { "DPT", "SD", 2 },
                                  { "MTW", "SD", 1 },
                                  { "VHW", "SD", 1 },
                                  { "VLW", "SD", 1 },
                                  { "RMC", "SD", 1 } };

const std::vector<Kind> &kindsOf(int mode)
{
    switch (mode) {
    case 1:
    case 14:
        return mixed_ais;
    case 2:
    case 3:
        return gps;
    case 4:
        return wind;
    case 5:
        return ais;
    case 6:
        return heading;
    case 8:
        return depth;
    default:
        return mixed; // 0 and 7
    }
}

// The mode's kinds in the order they go out: the frequent ones spread over
// the cycle rather than bunched.
std::vector<const Kind *> cycleOf(int mode)
{
    const std::vector<Kind> &kinds = kindsOf(mode);
    std::vector<const Kind *> cycle;
    for (int round = 0;; ++round) {
        const size_t before = cycle.size();
        for (const Kind &k : kinds) {
            if (k.per_cycle > round)
                cycle.push_back(&k);
        }
        if (cycle.size() == before)
            return cycle;
    }
}

QByteArray fixed(double value, int decimals, int width = 0)
{
    return QByteArray::number(value, 'f', decimals).rightJustified(width, '0');
}

// Time of day from the boat's clock: t seconds after 10:00:00.
QByteArray hhmmss(double t)
{
    const int s = int(t) % 86400;
    return QByteArray::number(10 + s / 3600 % 14).rightJustified(2, '0')
        + QByteArray::number(s / 60 % 60).rightJustified(2, '0')
        + QByteArray::number(s % 60).rightJustified(2, '0') + ".00";
}

// Position t seconds in, degrees and decimal minutes, moving north-east.
QByteArray position(double t)
{
    const auto minutes = [t](int start, double per_second) {
        return QByteArray::number((start + qint64(t * per_second)) % 10000).rightJustified(4, '0');
    };
    return "5419." + minutes(2000, 0.9) + ",N,01008." + minutes(5000, 1.5) + ",E";
}

// AIS payloads are bit fields sent six bits to a character.
class Bits
{
public:
    void add(qint64 value, int count)
    {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back((value >> i) & 1);
    }
    void addText(const char *text, int chars)
    {
        for (int i = 0; i < chars; ++i) {
            const char c = *text ? *text++ : '@';
            add(c >= 64 ? c - 64 : c, 6);
        }
    }
    // The armoured payload, and the fill bits that pad its last character.
    QByteArray armoured(int *fill) const
    {
        QByteArray out;
        *fill = int((6 - bits.size() % 6) % 6);
        for (size_t i = 0; i < bits.size(); i += 6) {
            int v = 0;
            for (size_t j = i; j < i + 6; ++j)
                v = v << 1 | (j < bits.size() ? bits[j] : 0);
            out += char(v < 40 ? v + 48 : v + 56);
        }
        return out;
    }

private:
    std::vector<int> bits;
};

QByteArray positionReport(quint32 mmsi, double t, double lat_offset)
{
    Bits b;
    b.add(1, 6); // position report, class A
    b.add(0, 2);
    b.add(mmsi, 30);
    b.add(0, 4); // under way using engine
    b.add(0x80, 8); // no rate of turn information
    b.add(qint64(62 + 5 * qSin(t / 9)), 10); // tenths of a knot
    b.add(1, 1);
    b.add(qint64((10 * 60 + 8.5 + t * 0.0015) * 10000), 28);
    b.add(qint64((54 * 60 + 19.2 + lat_offset + t * 0.0009) * 10000), 27);
    b.add(540, 12);
    b.add(54, 9);
    b.add(qint64(t) % 60, 6);
    b.add(0, 2 + 3 + 1 + 19);
    int fill = 0;
    const QByteArray payload = b.armoured(&fill);
    return "1,1,,A," + payload + "," + QByteArray::number(fill);
}

// A ship's name and voyage takes two sentences.
QList<QByteArray> staticAndVoyage(quint32 mmsi, int sequence_id)
{
    Bits b;
    b.add(5, 6);
    b.add(0, 2);
    b.add(mmsi, 30);
    b.add(0, 2);
    b.add(9123456, 30);
    b.addText("DHAB", 7);
    b.addText("NORDWIND", 20);
    b.add(70, 8); // cargo ship
    b.add(80, 9);
    b.add(20, 9);
    b.add(6, 6);
    b.add(6, 6);
    b.add(1, 4);
    b.add(6, 4);
    b.add(15, 5);
    b.add(18, 5);
    b.add(30, 6);
    b.add(62, 8);
    b.addText("KIEL", 20);
    b.add(0, 2);
    int fill = 0;
    const QByteArray payload = b.armoured(&fill);
    const QByteArray id = QByteArray::number(sequence_id);
    return { "2,1," + id + ",B," + payload.left(60) + ",0",
             "2,2," + id + ",B," + payload.mid(60) + "," + QByteArray::number(fill) };
}

QByteArray fields(const Kind &k, quint64 n, double t, quint64 cycle_pos)
{
    const QByteArray f = k.formatter;
    const double hdg = 52 + 4 * qSin(t / 7);
    const double stw = 5.4 + 0.3 * qSin(t / 11);
    if (f == "RMC")
        return hhmmss(t) + ",A," + position(t) + "," + fixed(stw + 0.2, 1) + "," + fixed(hdg + 2, 1)
            + ",150624,2.1,E,A";
    if (f == "HDG")
        return fixed(hdg, 1) + ",,,2.1,E";
    if (f == "VHW")
        return fixed(hdg + 2.1, 1) + ",T," + fixed(hdg, 1) + ",M," + fixed(stw, 1) + ",N,"
            + fixed(stw * 1.852, 1) + ",K";
    if (f == "MWV") {
        // Apparent and true wind take turns.
        const bool apparent = n % 2 == 0;
        return fixed(apparent ? 40 + 5 * qSin(t / 5) : 58 + 4 * qSin(t / 5), 1)
            + (apparent ? ",R," : ",T,") + fixed((apparent ? 14.5 : 11.0) + 2 * qSin(t / 9), 1)
            + ",N,A";
    }
    if (f == "DPT")
        return fixed(14.2 + 1.5 * qSin(t / 13), 1) + ",0.5,";
    if (f == "MTW")
        return "17.4,C";
    if (f == "VLW")
        return fixed(1234.5 + t * 0.0015, 1) + ",N," + fixed(12.3 + t * 0.0015, 1) + ",N";
    if (f == "ROT")
        return fixed(8 * qCos(t / 7), 1) + ",A";
    if (f == "RSA")
        return fixed(3 * qSin(t / 6), 1) + ",A,,";
    if (f == "GSA")
        return "A,3,04,05,09,12,17,,,,,,,,2.5,1.3,2.1";
    if (f == "GSV") {
        static const char *const parts[] = {
            "3,1,11,04,62,123,45,05,38,067,40,09,25,300,38,12,71,200,47",
            "3,2,11,17,15,045,33,20,08,310,,23,44,250,41,25,30,090,39",
            "3,3,11,29,12,160,35,31,55,010,42,32,05,280,",
        };
        return parts[cycle_pos % 3];
    }
    if (f == "ZDA")
        return hhmmss(t) + ",15,06,2024,00,00";
    if (f == "VDO")
        return positionReport(211000001, t, 0);
    if (f == "VDM") {
        // Three vessels in turn, and now and then the name of one, which
        // takes two sentences.
        switch (n % 4) {
        case 0:
            return positionReport(244123456, t, 1.2);
        case 1:
            return positionReport(211765432, t, -0.8);
        case 2:
            return staticAndVoyage(218004200, int(n / 4 % 9) + 1).value(0);
        default:
            return staticAndVoyage(218004200, int(n / 4 % 9) + 1).value(1);
        }
    }
    return QByteArray();
}

} // namespace

QByteArray instrumentSentence(int mode, quint64 seq)
{
    static const std::vector<const Kind *> cycles[] = {
        cycleOf(0), cycleOf(1), cycleOf(2), cycleOf(3), cycleOf(4),
        cycleOf(5), cycleOf(6), cycleOf(7), cycleOf(8), cycleOf(14),
    };
    const std::vector<const Kind *> &cycle = cycles[mode == 14                   ? 9
                                                        : mode >= 0 && mode <= 8 ? mode
                                                                                 : 0];
    const quint64 round = seq / cycle.size();
    const quint64 at = seq % cycle.size();
    const Kind &k = *cycle[at];
    // Which line of its kind this is, counted over the whole stream.
    quint64 of_kind = 0;
    for (quint64 i = 0; i < at; ++i)
        of_kind += cycle[i] == &k ? 1 : 0;
    quint64 per_cycle = 0;
    for (const Kind *c : cycle)
        per_cycle += c == &k ? 1 : 0;
    const quint64 n = round * per_cycle + of_kind;
    const bool fixed_talker = mode >= 2 && mode <= 8;
    const QByteArray talker = !fixed_talker ? k.talker
        : mode == 2 || mode == 3            ? "GP"
        : mode == 4                         ? "WI"
        : mode == 5                         ? "AI"
        : mode == 6                         ? "HC"
        : mode == 7                         ? "II"
                                            : "SD";
    const char lead = QByteArray(k.formatter).startsWith("VD") ? '!' : '$';
    return withChecksum(lead + talker + k.formatter + "," + fields(k, n, double(round), of_kind));
}

} // namespace gatewaysim
