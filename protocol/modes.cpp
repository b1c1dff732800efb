#include "protocol/modes.h"

#include <QCoreApplication>
#include <QStringList>

namespace tavix {

namespace {

// The texts stay untranslated here; they are looked up at the moment they are
// shown, so that a translator installed later still applies.
const std::array<ConversionMode, mode_count> table = { {
    { 0, 0, QT_TRANSLATE_NOOP("MainWindow", "0 - Gateway Mode"), 4800,
      QT_TRANSLATE_NOOP("MainWindow",
                        "Talker ID: Mixed\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,DPT,\r\n"
                        "MTW,APB,RMB,VLW,XTE,ROT,RSA"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 4800\r\n\r\nTalker ID: Mixed\r\n\r\n"
                        "NMEA Data: RMC,HDG,VHW,MWV,DPT,\r\nMTW,APB,RMB,VLW,XTE,ROT,RSA") },
    { 1, 1, QT_TRANSLATE_NOOP("MainWindow", "1 - Gateway HS Mode"), 38400,
      QT_TRANSLATE_NOOP("MainWindow",
                        "Talker ID: Mixed\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,MTW,\r\n"
                        "DPT,APB,RMB,VLW,RSA,ROT,VDO,VDM"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 38400\r\n\r\nTalker ID: Mixed\r\n\r\n"
                        "NMEA Data: RMC,HDG,VHW,MWV,MTW,\r\nDPT,APB,RMB,VLW,RSA,ROT,VDO,VDM") },
    // Unlike every other row, the rate form here has a single line break after
    // the talker; it is meant to stay that way.
    { 2, 2, QT_TRANSLATE_NOOP("MainWindow", "2 - GPS Mode (1Hz)"), 4800,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 4800\r\n\r\nTalker ID: GP\r\nNMEA Data: RMC,GSA,GSV,ZDA") },
    { 3, 3, QT_TRANSLATE_NOOP("MainWindow", "3 - GPS HS Mode (10Hz)"), 38400,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 38400\r\n\r\nTalker ID: GP\r\n\r\nNMEA Data: RMC,GSA,GSV,ZDA") },
    { 4, 4, QT_TRANSLATE_NOOP("MainWindow", "4 - Wind Mode (5Hz)"), 4800,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: WI\r\n\r\nNMEA Data: MWV"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 4800\r\n\r\nTalker ID: WI\r\n\r\nNMEA Data: MWV") },
    { 5, 5, QT_TRANSLATE_NOOP("MainWindow", "5 - AIS Mode"), 38400,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: AI\r\n\r\nNMEA Data: VDO,VDM,RMC"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 38400\r\n\r\nTalker ID: AI\r\n\r\nNMEA Data: VDO,VDM,RMC") },
    { 6, 6, QT_TRANSLATE_NOOP("MainWindow", "6 - Heading Mode"), 4800,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: HC\r\n\r\nNMEA Data: HDG"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 4800\r\n\r\nTalker ID: HC\r\n\r\nNMEA Data: HDG") },
    { 7, 7, QT_TRANSLATE_NOOP("MainWindow", "7 - Instrument Mode"), 38400,
      QT_TRANSLATE_NOOP("MainWindow",
                        "Talker ID: II\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,DPT,\r\n"
                        "MTW,APB,RMB,VLW,XTE,ROT,RSA"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 38400\r\n\r\nTalker ID: II\r\n\r\n"
                        "NMEA Data: RMC,HDG,VHW,MWV,DPT,\r\nMTW,APB,RMB,VLW,XTE,ROT,RSA") },
    { 8, 8, QT_TRANSLATE_NOOP("MainWindow", "8 - Depth Mode"), 4800,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: SD\r\n\r\nNMEA Data: DPT,MTW,VHW,VLW,RMC"),
      QT_TRANSLATE_NOOP(
          "MainWindow",
          "BaudRate: 4800\r\n\r\nTalker ID: SD\r\n\r\nNMEA Data: DPT,MTW,VHW,VLW,RMC") },
    { 9, 14, QT_TRANSLATE_NOOP("MainWindow", "14 - Full Mode"), 115200,
      QT_TRANSLATE_NOOP("MainWindow",
                        "Talker ID: Mixed\r\n\r\nNMEA Data: RMC,HDG,VHW,MWV,MTW,\r\n"
                        "DPT,APB,RMB,VLW,RSA,ROT,VDO,VDM"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 115200\r\n\r\nTalker ID: Mixed\r\n\r\n"
                        "NMEA Data: RMC,HDG,VHW,MWV,MTW,\r\nDPT,APB,RMB,VLW,RSA,ROT,VDO,VDM") },
    { 10, 15, QT_TRANSLATE_NOOP("MainWindow", "15 - RAW Mode"), 230400,
      QT_TRANSLATE_NOOP("MainWindow", "Talker ID: !PHLV\r\n\r\nRAW NMEA2000 data over serial"),
      QT_TRANSLATE_NOOP("MainWindow",
                        "BaudRate: 230400\r\n\r\nTalker ID: !PHLV\r\n\r\n"
                        "RAW NMEA2000 data over serial") },
} };

const ConversionMode *rowForMode(int mode)
{
    const int index = indexForMode(mode);
    return index < 0 ? nullptr : &table[static_cast<std::size_t>(index)];
}

} // namespace

const std::array<ConversionMode, mode_count> &modeTable()
{
    return table;
}

int modeForIndex(int index)
{
    if (index < 0 || index >= mode_count)
        return -1;
    // Modes 9 to 13 are not offered, so the list jumps from 8 to 14.
    return index <= 8 ? index : index + 5;
}

int indexForMode(int mode)
{
    if (mode >= 0 && mode <= 8)
        return mode;
    if (mode == 14 || mode == 15)
        return mode - 5;
    return -1;
}

int baudForMode(int mode)
{
    const ConversionMode *row = rowForMode(mode);
    return row ? row->baud : 0;
}

QByteArray modeSentence(int mode)
{
    if (!rowForMode(mode))
        return QByteArray();
    const QByteArray one = "$PHLV,TAVIX_MODE," + QByteArray::number(mode) + ",\r\n";
    return one + one;
}

QString modeDescription(int index, bool with_rate_line)
{
    if (index < 0 || index >= mode_count)
        return QString();
    const ConversionMode &row = table[static_cast<std::size_t>(index)];
    return QCoreApplication::translate(
        "MainWindow", with_rate_line ? row.description_with_rate : row.description);
}

namespace {

// The text after `label` in a mode's untranslated description, up to the
// next line break (or to its end, line breaks taken out, when whole).
QByteArray descriptionPart(int mode, const char *label, bool whole)
{
    const ConversionMode *row = rowForMode(mode);
    if (!row)
        return QByteArray();
    const QByteArray text(row->description);
    const int at = text.indexOf(label);
    if (at < 0)
        return QByteArray();
    QByteArray part = text.mid(at + int(qstrlen(label)));
    if (!whole)
        return part.left(part.indexOf('\r'));
    return part.replace("\r\n", "");
}

QString joined(const QList<QByteArray> &names)
{
    QStringList texts;
    for (const QByteArray &name : names)
        texts << QString::fromLatin1(name);
    return texts.join(QStringLiteral(", "));
}

} // namespace

QList<QByteArray> modeSentences(int mode)
{
    const QByteArray list = descriptionPart(mode, "NMEA Data: ", true);
    return list.isEmpty() ? QList<QByteArray>() : list.split(',');
}

QString modeTalker(int mode)
{
    return QString::fromLatin1(descriptionPart(mode, "Talker ID: ", false));
}

QString modeCoverage(int mode, const QList<QByteArray> &seen, const QList<QByteArray> &silent,
                     quint64 raw_frames)
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("Sentences", text); };
    if (!rowForMode(mode))
        return tr("The gateway reports mode %1, which the tool does not know: it cannot tell "
                  "which sentences to expect.")
            .arg(mode);
    const QList<QByteArray> listed = modeSentences(mode);
    if (listed.isEmpty()) {
        return raw_frames == 0
            ? tr("Mode %1 delivers raw NMEA 2000 frames, no NMEA 0183 sentences: none received "
                 "yet (a gateway in RAW mode sends them once initialised: Initialise on the "
                 "Config tab).")
                  .arg(mode)
            : tr("Mode %1 delivers raw NMEA 2000 frames, no NMEA 0183 sentences: %2 received.")
                  .arg(mode)
                  .arg(raw_frames);
    }
    QList<QByteArray> missing, stopped;
    for (const QByteArray &name : listed) {
        if (!seen.contains(name))
            missing << name;
        else if (silent.contains(name))
            stopped << name;
    }
    const QString talker = modeTalker(mode);
    const QString talker_words = talker == QLatin1String("Mixed")
        ? tr("with mixed talker IDs")
        : tr("with talker ID %1").arg(talker);
    QString text;
    if (listed.size() == 1) {
        text = tr("Mode %1 delivers one kind of sentence, %2, %3: %4")
                   .arg(QString::number(mode), joined(listed), talker_words,
                        missing.isEmpty() ? tr("seen.")
                                          : tr("not seen yet (it comes only when a device on the "
                                               "bus sends its source data)."));
    } else {
        const QString delivers
            = tr("Mode %1 delivers %2 kinds of sentence, %3")
                  .arg(QString::number(mode), QString::number(listed.size()), talker_words);
        text = missing.isEmpty()
            ? tr("%1: all %2 seen.").arg(delivers, QString::number(listed.size()))
            : tr("%1: %2 seen, not seen yet: %3 (these come only when a device on the bus sends "
                 "their source data).")
                  .arg(delivers, QString::number(listed.size() - missing.size()), joined(missing));
    }
    if (!stopped.isEmpty())
        text += QLatin1Char(' ') + tr("Silent for more than 5 s: %1.").arg(joined(stopped));
    return text;
}

} // namespace tavix
