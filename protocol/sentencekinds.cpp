#include "protocol/sentencekinds.h"

#include <QCoreApplication>

#include <cstring>

namespace tavix {

namespace {

struct Words
{
    const char *code;
    const char *words; // untranslated, context "Sentences"
};

// Talker identifiers: which kind of device a sentence comes from.
constexpr Words talkers[] = {
    { "AB", QT_TRANSLATE_NOOP("Sentences", "AIS base station") },
    { "AD", QT_TRANSLATE_NOOP("Sentences", "AIS dependent base station") },
    { "AG", QT_TRANSLATE_NOOP("Sentences", "autopilot") },
    { "AI", QT_TRANSLATE_NOOP("Sentences", "AIS") },
    { "AN", QT_TRANSLATE_NOOP("Sentences", "AIS aid to navigation") },
    { "AP", QT_TRANSLATE_NOOP("Sentences", "autopilot (magnetic)") },
    { "AR", QT_TRANSLATE_NOOP("Sentences", "AIS receiving station") },
    { "AS", QT_TRANSLATE_NOOP("Sentences", "AIS limited base station") },
    { "AT", QT_TRANSLATE_NOOP("Sentences", "AIS transmitting station") },
    { "AX", QT_TRANSLATE_NOOP("Sentences", "AIS repeater") },
    { "BD", QT_TRANSLATE_NOOP("Sentences", "BeiDou") },
    { "BN", QT_TRANSLATE_NOOP("Sentences", "bridge watch alarm") },
    { "CD", QT_TRANSLATE_NOOP("Sentences", "digital selective calling") },
    { "CR", QT_TRANSLATE_NOOP("Sentences", "data receiver") },
    { "CS", QT_TRANSLATE_NOOP("Sentences", "satellite communications") },
    { "CT", QT_TRANSLATE_NOOP("Sentences", "MF/HF radiotelephone") },
    { "CV", QT_TRANSLATE_NOOP("Sentences", "VHF radiotelephone") },
    { "CX", QT_TRANSLATE_NOOP("Sentences", "scanning receiver") },
    { "DF", QT_TRANSLATE_NOOP("Sentences", "direction finder") },
    { "EC", QT_TRANSLATE_NOOP("Sentences", "electronic chart system") },
    { "EI", QT_TRANSLATE_NOOP("Sentences", "electronic chart display") },
    { "EP", QT_TRANSLATE_NOOP("Sentences", "emergency beacon (EPIRB)") },
    { "ER", QT_TRANSLATE_NOOP("Sentences", "engine room monitoring") },
    { "FR", QT_TRANSLATE_NOOP("Sentences", "fire detection") },
    { "GA", QT_TRANSLATE_NOOP("Sentences", "Galileo") },
    { "GB", QT_TRANSLATE_NOOP("Sentences", "BeiDou") },
    { "GI", QT_TRANSLATE_NOOP("Sentences", "NavIC") },
    { "GL", QT_TRANSLATE_NOOP("Sentences", "GLONASS") },
    { "GN", QT_TRANSLATE_NOOP("Sentences", "GNSS (several systems)") },
    { "GP", QT_TRANSLATE_NOOP("Sentences", "GPS") },
    { "GQ", QT_TRANSLATE_NOOP("Sentences", "QZSS") },
    { "HC", QT_TRANSLATE_NOOP("Sentences", "magnetic compass") },
    { "HE", QT_TRANSLATE_NOOP("Sentences", "gyro compass") },
    { "HN", QT_TRANSLATE_NOOP("Sentences", "gyro (non-north-seeking)") },
    { "II", QT_TRANSLATE_NOOP("Sentences", "integrated instruments") },
    { "IN", QT_TRANSLATE_NOOP("Sentences", "integrated navigation") },
    { "LC", QT_TRANSLATE_NOOP("Sentences", "Loran-C") },
    { "NL", QT_TRANSLATE_NOOP("Sentences", "navigation light controller") },
    { "RA", QT_TRANSLATE_NOOP("Sentences", "radar") },
    { "RC", QT_TRANSLATE_NOOP("Sentences", "propulsion control") },
    { "SD", QT_TRANSLATE_NOOP("Sentences", "depth sounder") },
    { "SG", QT_TRANSLATE_NOOP("Sentences", "steering gear") },
    { "SN", QT_TRANSLATE_NOOP("Sentences", "position fixing equipment") },
    { "SS", QT_TRANSLATE_NOOP("Sentences", "scanning sounder") },
    { "TC", QT_TRANSLATE_NOOP("Sentences", "track control") },
    { "TI", QT_TRANSLATE_NOOP("Sentences", "rate of turn indicator") },
    { "UP", QT_TRANSLATE_NOOP("Sentences", "microprocessor controller") },
    { "VD", QT_TRANSLATE_NOOP("Sentences", "Doppler speed log") },
    { "VM", QT_TRANSLATE_NOOP("Sentences", "speed log (water, magnetic)") },
    { "VW", QT_TRANSLATE_NOOP("Sentences", "speed log (water, mechanical)") },
    { "WI", QT_TRANSLATE_NOOP("Sentences", "weather instruments") },
    { "YX", QT_TRANSLATE_NOOP("Sentences", "transducer") },
    { "ZA", QT_TRANSLATE_NOOP("Sentences", "atomic clock") },
    { "ZC", QT_TRANSLATE_NOOP("Sentences", "chronometer") },
    { "ZQ", QT_TRANSLATE_NOOP("Sentences", "quartz clock") },
    { "ZV", QT_TRANSLATE_NOOP("Sentences", "radio-updated clock") },
};

// Sentence formatters of the standard: what a sentence carries.
constexpr Words formatters[] = {
    { "AAM", QT_TRANSLATE_NOOP("Sentences", "waypoint arrival alarm") },
    { "ABK", QT_TRANSLATE_NOOP("Sentences", "AIS message acknowledgement") },
    { "ACA", QT_TRANSLATE_NOOP("Sentences", "AIS channel assignment") },
    { "ACK", QT_TRANSLATE_NOOP("Sentences", "alarm acknowledgement") },
    { "ALM", QT_TRANSLATE_NOOP("Sentences", "GPS almanac") },
    { "ALR", QT_TRANSLATE_NOOP("Sentences", "alarm state") },
    { "APA", QT_TRANSLATE_NOOP("Sentences", "autopilot steering (old form)") },
    { "APB", QT_TRANSLATE_NOOP("Sentences", "autopilot steering to a waypoint") },
    { "BEC", QT_TRANSLATE_NOOP("Sentences", "bearing and distance to waypoint, dead reckoning") },
    { "BOD", QT_TRANSLATE_NOOP("Sentences", "bearing from origin to destination") },
    { "BWC", QT_TRANSLATE_NOOP("Sentences", "bearing and distance to waypoint (great circle)") },
    { "BWR", QT_TRANSLATE_NOOP("Sentences", "bearing and distance to waypoint (rhumb line)") },
    { "BWW", QT_TRANSLATE_NOOP("Sentences", "bearing from waypoint to waypoint") },
    { "DBK", QT_TRANSLATE_NOOP("Sentences", "depth below keel") },
    { "DBS", QT_TRANSLATE_NOOP("Sentences", "depth below surface") },
    { "DBT", QT_TRANSLATE_NOOP("Sentences", "depth below transducer") },
    { "DPT", QT_TRANSLATE_NOOP("Sentences", "depth, with transducer offset") },
    { "DSC", QT_TRANSLATE_NOOP("Sentences", "digital selective calling") },
    { "DSE", QT_TRANSLATE_NOOP("Sentences", "digital selective calling, expanded") },
    { "DTM", QT_TRANSLATE_NOOP("Sentences", "datum reference") },
    { "ETL", QT_TRANSLATE_NOOP("Sentences", "engine telegraph") },
    { "FSI", QT_TRANSLATE_NOOP("Sentences", "radio frequency set") },
    { "GBS", QT_TRANSLATE_NOOP("Sentences", "satellite fault detection") },
    { "GGA", QT_TRANSLATE_NOOP("Sentences", "position fix (fix quality, satellites, altitude)") },
    { "GLL", QT_TRANSLATE_NOOP("Sentences", "position (latitude, longitude)") },
    { "GNS", QT_TRANSLATE_NOOP("Sentences", "GNSS position fix") },
    { "GRS", QT_TRANSLATE_NOOP("Sentences", "GNSS range residuals") },
    { "GSA", QT_TRANSLATE_NOOP("Sentences", "satellites used and precision (DOP)") },
    { "GST", QT_TRANSLATE_NOOP("Sentences", "position error statistics") },
    { "GSV", QT_TRANSLATE_NOOP("Sentences", "satellites in view") },
    { "HDG", QT_TRANSLATE_NOOP("Sentences", "heading, deviation and variation") },
    { "HDM", QT_TRANSLATE_NOOP("Sentences", "heading, magnetic") },
    { "HDT", QT_TRANSLATE_NOOP("Sentences", "heading, true") },
    { "HSC", QT_TRANSLATE_NOOP("Sentences", "heading steering command") },
    { "HTC", QT_TRANSLATE_NOOP("Sentences", "heading or track control command") },
    { "HTD", QT_TRANSLATE_NOOP("Sentences", "heading or track control data") },
    { "MDA", QT_TRANSLATE_NOOP("Sentences", "weather (pressure, temperatures, wind)") },
    { "MSK", QT_TRANSLATE_NOOP("Sentences", "beacon receiver control") },
    { "MSS", QT_TRANSLATE_NOOP("Sentences", "beacon receiver signal") },
    { "MTW", QT_TRANSLATE_NOOP("Sentences", "water temperature") },
    { "MWD", QT_TRANSLATE_NOOP("Sentences", "wind direction and speed") },
    { "MWV", QT_TRANSLATE_NOOP("Sentences", "wind speed and angle") },
    { "OSD", QT_TRANSLATE_NOOP("Sentences", "own ship data") },
    { "PRC", QT_TRANSLATE_NOOP("Sentences", "propulsion remote control") },
    { "RMA", QT_TRANSLATE_NOOP("Sentences", "recommended minimum Loran-C data") },
    { "RMB", QT_TRANSLATE_NOOP("Sentences", "navigation to a waypoint (for an autopilot)") },
    { "RMC",
      QT_TRANSLATE_NOOP("Sentences", "recommended minimum data (position, course, speed, time)") },
    { "ROR", QT_TRANSLATE_NOOP("Sentences", "rudder order") },
    { "ROT", QT_TRANSLATE_NOOP("Sentences", "rate of turn") },
    { "RPM", QT_TRANSLATE_NOOP("Sentences", "engine or shaft revolutions") },
    { "RSA", QT_TRANSLATE_NOOP("Sentences", "rudder angle") },
    { "RSD", QT_TRANSLATE_NOOP("Sentences", "radar system data") },
    { "RTE", QT_TRANSLATE_NOOP("Sentences", "route") },
    { "SSD", QT_TRANSLATE_NOOP("Sentences", "AIS ship static data") },
    { "THS", QT_TRANSLATE_NOOP("Sentences", "true heading and status") },
    { "TLB", QT_TRANSLATE_NOOP("Sentences", "radar target label") },
    { "TLL", QT_TRANSLATE_NOOP("Sentences", "radar target position") },
    { "TRC", QT_TRANSLATE_NOOP("Sentences", "thruster control") },
    { "TRD", QT_TRANSLATE_NOOP("Sentences", "thruster response") },
    { "TTM", QT_TRANSLATE_NOOP("Sentences", "radar tracked target") },
    { "TXT", QT_TRANSLATE_NOOP("Sentences", "text message") },
    { "VBW", QT_TRANSLATE_NOOP("Sentences", "speed through water and over ground") },
    { "VDM", QT_TRANSLATE_NOOP("Sentences", "message from another vessel or station") },
    { "VDO", QT_TRANSLATE_NOOP("Sentences", "report of your own vessel") },
    { "VDR", QT_TRANSLATE_NOOP("Sentences", "set and drift (current)") },
    { "VHW", QT_TRANSLATE_NOOP("Sentences", "speed through water and heading") },
    { "VLW", QT_TRANSLATE_NOOP("Sentences", "distance run (log)") },
    { "VPW", QT_TRANSLATE_NOOP("Sentences", "speed made good to windward") },
    { "VSD", QT_TRANSLATE_NOOP("Sentences", "AIS voyage static data") },
    { "VTG", QT_TRANSLATE_NOOP("Sentences", "course and speed over ground") },
    { "VWR", QT_TRANSLATE_NOOP("Sentences", "apparent wind speed and angle") },
    { "VWT", QT_TRANSLATE_NOOP("Sentences", "true wind speed and angle") },
    { "WCV", QT_TRANSLATE_NOOP("Sentences", "speed of approach to waypoint") },
    { "WNC", QT_TRANSLATE_NOOP("Sentences", "distance from waypoint to waypoint") },
    { "WPL", QT_TRANSLATE_NOOP("Sentences", "waypoint position") },
    { "XDR", QT_TRANSLATE_NOOP("Sentences", "transducer readings (pressure, angles, ...)") },
    { "XTE", QT_TRANSLATE_NOOP("Sentences", "cross-track error") },
    { "XTR", QT_TRANSLATE_NOOP("Sentences", "cross-track error, dead reckoning") },
    { "ZDA", QT_TRANSLATE_NOOP("Sentences", "date and time") },
    { "ZDL", QT_TRANSLATE_NOOP("Sentences", "time and distance to a point") },
    { "ZFO", QT_TRANSLATE_NOOP("Sentences", "time since leaving a waypoint") },
    { "ZTG", QT_TRANSLATE_NOOP("Sentences", "time to go to a waypoint") },
};

template<std::size_t N> const char *wordsFor(const Words (&table)[N], const QByteArray &code)
{
    for (const Words &w : table) {
        if (code == w.code)
            return w.words;
    }
    return nullptr;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("Sentences", text);
}

bool startsWith(const QByteArray &line, const char *prefix, std::size_t n)
{
    return static_cast<std::size_t>(line.size()) >= n
        && std::memcmp(line.constData(), prefix, n) == 0;
}

QByteArray literal(const char *text)
{
    return QByteArray::fromRawData(text, int(std::strlen(text)));
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

} // namespace

QByteArray sentenceKind(const QByteArray &line)
{
    const char *p = line.constData();
    const int size = line.size();
    // The gateway's own lines share one address; what they say tells them
    // apart. Raw frames carry their bus number where the address would end.
    if (size >= 5 && p[1] == 'P' && p[2] == 'H' && p[3] == 'L' && p[4] == 'V') {
        if (p[0] == '!')
            return literal(kind::raw_frames);
        if (startsWith(line, "$PHLV,000000,", 13))
            return literal(kind::gateway_status);
        if (startsWith(line, "$PHLV,ACK", 9))
            return literal(kind::gateway_ack);
    }
    int n = 0;
    const int limit = size < max_kind_size ? size : max_kind_size;
    while (n < limit) {
        const char c = p[n];
        if (c == ',' || c == '*' || c == '\r' || c == '\n' || c == '\0')
            break;
        ++n;
    }
    return QByteArray::fromRawData(p, n);
}

Checksum checksumOf(const QByteArray &line)
{
    const char *p = line.constData();
    int end = line.size();
    while (end > 0 && (p[end - 1] == '\n' || p[end - 1] == '\r'))
        --end;
    if (end >= 4 && p[end - 3] == '*') {
        const int hi = hexDigit(p[end - 2]);
        const int lo = hexDigit(p[end - 1]);
        if (hi < 0 || lo < 0)
            return Checksum::Bad;
        unsigned char sum = 0;
        for (int i = 1; i < end - 3; ++i)
            sum ^= static_cast<unsigned char>(p[i]);
        return sum == hi * 16 + lo ? Checksum::Ok : Checksum::Bad;
    }
    // A '*' anywhere else is a checksum field that lost its digits.
    return std::memchr(p, '*', static_cast<std::size_t>(end)) ? Checksum::Bad : Checksum::None;
}

QByteArray formatterOf(const QByteArray &kind)
{
    if (kind.size() != 6 || (kind.at(0) != '$' && kind.at(0) != '!') || kind.at(1) == 'P')
        return QByteArray();
    for (int i = 1; i < 6; ++i) {
        if (!isUpper(kind.at(i)))
            return QByteArray();
    }
    return kind.mid(3);
}

QString kindText(const QByteArray &kind)
{
    QString text;
    text.reserve(kind.size());
    for (char c : kind) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7f)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString kindMeaning(const QByteArray &kind)
{
    if (kind == kind::gateway_status)
        return tr("the gateway's status: bus load, devices, uptime, address");
    if (kind == kind::gateway_ack)
        return tr("the gateway's acknowledgement of a command");
    if (kind == kind::raw_frames)
        return tr("raw NMEA 2000 frames from the bus");
    if (kind == kind::other_kinds)
        return tr("kinds beyond the table's rows, counted together");
    if (kind == "$PHLV")
        return tr("the gateway's own sentence");
    const QByteArray formatter = formatterOf(kind);
    if (formatter.isEmpty()) {
        // "$P" and a maker's three letters: defined by that maker, not the
        // standard.
        if (kind.size() >= 5 && kind.at(1) == 'P' && isUpper(kind.at(2)) && isUpper(kind.at(3))
            && isUpper(kind.at(4)))
            return tr("proprietary sentence of maker code %1").arg(kindText(kind.mid(2, 3)));
        return tr("not a standard sentence");
    }
    const char *talker = wordsFor(talkers, kind.mid(1, 2));
    const char *what = wordsFor(formatters, formatter);
    const QString from
        = talker ? tr(talker) : tr("unknown talker %1").arg(QString::fromLatin1(kind.mid(1, 2)));
    return QStringLiteral("%1: %2").arg(from, what ? tr(what) : tr("not a standard sentence"));
}

} // namespace tavix
