#include "protocol/sentencevalues.h"

#include "protocol/sentencekinds.h"

#include <QCoreApplication>
#include <QList>
#include <QStringList>

#include <cstring>

namespace tavix {

namespace {

const QString dash = QStringLiteral("\u2014");
const QString degree = QStringLiteral("\u00b0");
const QString minute = QStringLiteral("\u2032");

QString tr(const char *text)
{
    return QCoreApplication::translate("Sentences", text);
}

// The fields of a line: cut at a zero byte, without the line end and without
// the checksum, split at every comma. Field 0 is the address.
class Fields
{
public:
    explicit Fields(const QByteArray &line)
    {
        int end = line.size();
        if (const void *nul = std::memchr(line.constData(), '\0', std::size_t(end)))
            end = int(static_cast<const char *>(nul) - line.constData());
        if (const void *star = std::memchr(line.constData(), '*', std::size_t(end)))
            end = int(static_cast<const char *>(star) - line.constData());
        while (end > 0 && (line.at(end - 1) == '\n' || line.at(end - 1) == '\r'))
            --end;
        list = line.left(end).split(',');
    }

    int size() const { return list.size(); }
    QByteArray raw(int i) const { return list.value(i); }
    bool empty(int i) const { return raw(i).isEmpty(); }
    // The field as text: printable ASCII as it came, anything else as the
    // replacement character; a dash when empty or missing.
    QString text(int i) const
    {
        const QByteArray f = raw(i);
        if (f.isEmpty())
            return dash;
        QString t;
        t.reserve(f.size());
        for (char c : f) {
            const auto u = static_cast<unsigned char>(c);
            t += u >= 0x20 && u < 0x7f ? QChar(QLatin1Char(c)) : QChar(QChar::ReplacementCharacter);
        }
        return t;
    }
    // "12.5 kn"; the dash alone when the field is empty.
    QString measure(int i, const QString &unit) const { return empty(i) ? dash : text(i) + unit; }
    QString degrees(int i) const { return measure(i, degree); }
    // "2.1° E": an angle and the side it lies to, when there is an angle.
    QString degreesTo(int i, int side) const
    {
        return empty(i) ? dash : degrees(i) + QLatin1Char(' ') + text(side);
    }

private:
    QList<QByteArray> list;
};

bool allDigits(const QByteArray &s)
{
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return !s.isEmpty();
}

// "4916.45" and "N" -> "49°16.45′ N": degrees and decimal minutes.
QString coordinate(const Fields &f, int value, int hemisphere)
{
    if (f.empty(value))
        return dash;
    const QByteArray v = f.raw(value);
    const int dot = v.indexOf('.');
    const QByteArray whole = dot < 0 ? v : v.left(dot);
    const QByteArray fraction = dot < 0 ? QByteArray() : v.mid(dot + 1);
    if (whole.size() < 3 || !allDigits(whole) || (dot >= 0 && !allDigits(fraction)))
        return f.text(value) + QLatin1Char(' ') + f.text(hemisphere);
    const QByteArray deg = whole.left(whole.size() - 2);
    const QByteArray min = v.mid(whole.size() - 2);
    return QString::fromLatin1(deg) + degree + QString::fromLatin1(min) + minute + QLatin1Char(' ')
        + f.text(hemisphere);
}

QString position(const Fields &f, int first)
{
    return coordinate(f, first, first + 1) + QLatin1Char(' ') + coordinate(f, first + 2, first + 3);
}

// "123519" or "123519.50" -> "12:35:19 UTC" ("12:35:19.50 UTC").
QString utcTime(const Fields &f, int i)
{
    const QByteArray t = f.raw(i);
    if (t.isEmpty())
        return tr("time %1").arg(dash);
    if (t.size() < 6 || !allDigits(t.left(6)))
        return tr("time %1").arg(f.text(i));
    QString text = QStringLiteral("%1:%2:%3")
                       .arg(QString::fromLatin1(t.mid(0, 2)), QString::fromLatin1(t.mid(2, 2)),
                            QString::fromLatin1(t.mid(4, 2)));
    const QByteArray fraction = t.mid(6);
    if (fraction.size() > 1 && fraction.count('0') != fraction.size() - 1)
        text += f.text(i).mid(6);
    return tr("%1 UTC").arg(text);
}

QString monthName(int month)
{
    static const char *const names[]
        = { "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec" };
    return month >= 1 && month <= 12 ? QString::fromLatin1(names[month - 1]) : QString();
}

// Day, month and year as they came ("23 Mar 94", "23 Mar 2024").
QString date(const QByteArray &day, const QByteArray &month, const QByteArray &year)
{
    const QString name = allDigits(month) ? monthName(month.toInt()) : QString();
    if (!allDigits(day) || name.isEmpty() || !allDigits(year))
        return dash;
    return QStringLiteral("%1 %2 %3")
        .arg(QString::fromLatin1(day), name, QString::fromLatin1(year));
}

QString validity(const Fields &f, int i)
{
    const QByteArray v = f.raw(i);
    if (v == "A")
        return tr("valid");
    if (v == "V")
        return tr("not valid");
    return tr("validity %1").arg(f.text(i));
}

// A signed angle or rate with the side it points to.
QString side(const Fields &f, int i, const QString &unit)
{
    const QByteArray v = f.raw(i);
    if (v.isEmpty())
        return dash;
    bool ok = false;
    const double value = v.toDouble(&ok);
    QString text = f.text(i) + unit;
    if (ok && value < 0)
        text += tr(" to port");
    else if (ok && value > 0)
        text += tr(" to starboard");
    return text;
}

QString rmc(const Fields &f)
{
    const QByteArray d = f.raw(9);
    const QString when = utcTime(f, 1) + QLatin1Char(' ')
        + (d.size() == 6 ? date(d.mid(0, 2), d.mid(2, 2), d.mid(4, 2)) : f.text(9));
    return tr("%1, speed %2, course %3, %4, %5")
        .arg(position(f, 3), f.measure(7, tr(" kn")), f.degrees(8), when, validity(f, 2));
}

QString gga(const Fields &f)
{
    static const char *const qualities[] = {
        QT_TRANSLATE_NOOP("Sentences", "no fix"),
        QT_TRANSLATE_NOOP("Sentences", "GPS fix"),
        QT_TRANSLATE_NOOP("Sentences", "differential fix"),
        QT_TRANSLATE_NOOP("Sentences", "precise (PPS) fix"),
        QT_TRANSLATE_NOOP("Sentences", "RTK fixed"),
        QT_TRANSLATE_NOOP("Sentences", "RTK float"),
        QT_TRANSLATE_NOOP("Sentences", "estimated (dead reckoning)"),
        QT_TRANSLATE_NOOP("Sentences", "manual input"),
        QT_TRANSLATE_NOOP("Sentences", "simulation"),
    };
    const QByteArray q = f.raw(6);
    const QString quality = q.size() == 1 && q[0] >= '0' && q[0] <= '8'
        ? tr(qualities[q[0] - '0'])
        : tr("fix quality %1").arg(f.text(6));
    return tr("%1, %2, %3 satellites, altitude %4, %5")
        .arg(position(f, 2), quality, f.text(7), f.measure(9, tr(" m")), utcTime(f, 1));
}

QString gll(const Fields &f)
{
    return tr("%1, %2, %3").arg(position(f, 1), utcTime(f, 5), validity(f, 6));
}

QString vtg(const Fields &f)
{
    return tr("course %1 true, %2 magnetic, speed %3 (%4)")
        .arg(f.degrees(1), f.degrees(3), f.measure(5, tr(" kn")), f.measure(7, tr(" km/h")));
}

QString hdg(const Fields &f)
{
    return tr("heading %1 magnetic, deviation %2, variation %3")
        .arg(f.degrees(1), f.degreesTo(2, 3), f.degreesTo(4, 5));
}

QString hdm(const Fields &f)
{
    return tr("heading %1 magnetic").arg(f.degrees(1));
}

QString hdt(const Fields &f)
{
    return tr("heading %1 true").arg(f.degrees(1));
}

QString vhw(const Fields &f)
{
    return tr("speed through water %1 (%2), heading %3 true, %4 magnetic")
        .arg(f.measure(5, tr(" kn")), f.measure(7, tr(" km/h")), f.degrees(1), f.degrees(3));
}

QString dpt(const Fields &f)
{
    // A positive offset is from the transducer to the waterline, a negative
    // one to the keel.
    QString offset = f.measure(2, tr(" m"));
    bool ok = false;
    const double value = f.raw(2).toDouble(&ok);
    if (ok && value > 0)
        offset += tr(" (to the waterline)");
    else if (ok && value < 0)
        offset += tr(" (to the keel)");
    return tr("depth %1 below the transducer, offset %2").arg(f.measure(1, tr(" m")), offset);
}

QString depthBelow(const Fields &f, const QString &below)
{
    return tr("depth %1 (%2, %3) below the %4")
        .arg(f.measure(3, tr(" m")), f.measure(1, tr(" ft")), f.measure(5, tr(" fathoms")), below);
}

QString vlw(const Fields &f)
{
    return tr("distance run %1 in all, %2 since reset")
        .arg(f.measure(1, tr(" nmi")), f.measure(3, tr(" nmi")));
}

QString mwv(const Fields &f)
{
    const QByteArray reference = f.raw(2);
    const QString angle = reference == "R" ? tr("relative (apparent)")
        : reference == "T"                 ? tr("true")
                                           : f.text(2);
    const QByteArray u = f.raw(4);
    const QString unit = u == "N" ? tr(" kn")
        : u == "K"                ? tr(" km/h")
        : u == "M"                ? tr(" m/s")
        : u == "S"                ? tr(" mph")
                                  : QLatin1Char(' ') + f.text(4);
    return tr("wind angle %1 %2, speed %3, %4")
        .arg(f.degrees(1), angle, f.measure(3, unit), validity(f, 5));
}

QString mtw(const Fields &f)
{
    return tr("water temperature %1").arg(f.measure(1, QStringLiteral(" \u00b0C")));
}

QString rot(const Fields &f)
{
    return tr("rate of turn %1, %2").arg(side(f, 1, degree + tr("/min")), validity(f, 2));
}

QString rsa(const Fields &f)
{
    QString text = tr("rudder %1, %2").arg(side(f, 1, degree), validity(f, 2));
    if (!f.empty(3))
        text += tr("; port sensor %1, %2").arg(side(f, 3, degree), validity(f, 4));
    return text;
}

QString zda(const Fields &f)
{
    const QString zone = f.empty(5) && f.empty(6) ? dash : f.text(5) + QLatin1Char(':') + f.text(6);
    return tr("%1, %2, local zone %3").arg(utcTime(f, 1), date(f.raw(2), f.raw(3), f.raw(4)), zone);
}

QString aisTypeWords(int type)
{
    static const char *const names[] = {
        nullptr,
        QT_TRANSLATE_NOOP("Sentences", "position report, class A"),
        QT_TRANSLATE_NOOP("Sentences", "position report, class A"),
        QT_TRANSLATE_NOOP("Sentences", "position report, class A"),
        QT_TRANSLATE_NOOP("Sentences", "base station report"),
        QT_TRANSLATE_NOOP("Sentences", "ship name, size and voyage"),
        QT_TRANSLATE_NOOP("Sentences", "addressed binary message"),
        QT_TRANSLATE_NOOP("Sentences", "binary acknowledgement"),
        QT_TRANSLATE_NOOP("Sentences", "binary broadcast"),
        QT_TRANSLATE_NOOP("Sentences", "search and rescue aircraft"),
        QT_TRANSLATE_NOOP("Sentences", "time inquiry"),
        QT_TRANSLATE_NOOP("Sentences", "time response"),
        QT_TRANSLATE_NOOP("Sentences", "addressed safety message"),
        QT_TRANSLATE_NOOP("Sentences", "safety acknowledgement"),
        QT_TRANSLATE_NOOP("Sentences", "safety broadcast"),
        QT_TRANSLATE_NOOP("Sentences", "interrogation"),
        QT_TRANSLATE_NOOP("Sentences", "assigned mode command"),
        QT_TRANSLATE_NOOP("Sentences", "DGNSS correction"),
        QT_TRANSLATE_NOOP("Sentences", "position report, class B"),
        QT_TRANSLATE_NOOP("Sentences", "extended position report, class B"),
        QT_TRANSLATE_NOOP("Sentences", "data link management"),
        QT_TRANSLATE_NOOP("Sentences", "aid to navigation"),
        QT_TRANSLATE_NOOP("Sentences", "channel management"),
        QT_TRANSLATE_NOOP("Sentences", "group assignment"),
        QT_TRANSLATE_NOOP("Sentences", "ship name and size, class B"),
        QT_TRANSLATE_NOOP("Sentences", "single slot binary message"),
        QT_TRANSLATE_NOOP("Sentences", "multiple slot binary message"),
        QT_TRANSLATE_NOOP("Sentences", "long range position report"),
    };
    return type >= 1 && type <= 27 ? tr(names[type]) : tr("not a known message type");
}

// The six-bit values of an AIS payload, up to the first character that is
// not one.
QList<int> sixBits(const QByteArray &payload)
{
    QList<int> values;
    for (char c : payload) {
        if (!((c >= '0' && c <= 'W') || (c >= '`' && c <= 'w')))
            break;
        const int v = c - '0';
        values.append(v > 40 ? v - 8 : v);
    }
    return values;
}

// Bits [from, from + count) of the payload; -1 when it is too short.
qint64 bitsAt(const QList<int> &six, int from, int count)
{
    if ((from + count + 5) / 6 > six.size())
        return -1;
    qint64 value = 0;
    for (int bit = from; bit < from + count; ++bit)
        value = (value << 1) | ((six.at(bit / 6) >> (5 - bit % 6)) & 1);
    return value;
}

QString ais(const Fields &f)
{
    const QString fragment = tr("fragment %1 of %2").arg(f.text(2), f.text(1));
    if (f.raw(2) != "1")
        return tr("AIS %1, continuing the message before it, channel %2").arg(fragment, f.text(4));
    const QList<int> six = sixBits(f.raw(5));
    const qint64 type = bitsAt(six, 0, 6);
    const qint64 mmsi = bitsAt(six, 8, 30);
    const QString type_text = type < 0
        ? tr("AIS message of unknown type")
        : tr("AIS message %1 (%2)").arg(type).arg(aisTypeWords(int(type)));
    const QString mmsi_text
        = mmsi < 0 ? dash : QStringLiteral("%1").arg(mmsi, 9, 10, QLatin1Char('0'));
    QString text = tr("%1, MMSI %2, channel %3").arg(type_text, mmsi_text, f.text(4));
    if (f.raw(1) != "1")
        text += QStringLiteral(", ") + fragment;
    return text;
}

QString gatewayStatus(const Fields &f)
{
    return tr("bus load %1, %2 devices, up %3, address %4")
        .arg(f.text(2), f.text(4), f.measure(5, tr(" s")), f.text(6));
}

QString fieldsAsReceived(const Fields &f)
{
    QStringList texts;
    for (int i = 1; i < f.size(); ++i)
        texts << f.text(i);
    return texts.isEmpty() ? dash : texts.join(QStringLiteral(", "));
}

} // namespace

QString sentenceValues(const QByteArray &line)
{
    const Fields f(line);
    const QByteArray kind = sentenceKind(line);
    if (kind == kind::gateway_status)
        return gatewayStatus(f);
    const QByteArray formatter = formatterOf(kind);
    static const struct
    {
        const char *formatter;
        QString (*words)(const Fields &);
    } readers[] = {
        { "RMC", rmc }, { "GGA", gga }, { "GLL", gll }, { "VTG", vtg }, { "HDG", hdg },
        { "HDM", hdm }, { "HDT", hdt }, { "VHW", vhw }, { "DPT", dpt }, { "MWV", mwv },
        { "MTW", mtw }, { "VLW", vlw }, { "ROT", rot }, { "RSA", rsa }, { "ZDA", zda },
        { "VDM", ais }, { "VDO", ais },
    };
    for (const auto &r : readers) {
        if (formatter == r.formatter)
            return r.words(f);
    }
    if (formatter == "DBT")
        return depthBelow(f, tr("transducer"));
    if (formatter == "DBS")
        return depthBelow(f, tr("surface"));
    if (formatter == "DBK")
        return depthBelow(f, tr("keel"));
    return fieldsAsReceived(f);
}

} // namespace tavix
