#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>

namespace tavix {

// One conversion mode of the gateways: which NMEA 0183 sentences they make
// of the NMEA 2000 bus, and the serial rate the Sernix runs at in that mode.
struct ConversionMode
{
    int index; // row of the mode list
    int mode; // number the gateway understands
    const char *list_text; // untranslated, context "MainWindow"
    int baud;
    const char *description; // untranslated, without the rate line
    const char *description_with_rate; // untranslated, with the rate line
};

constexpr int mode_count = 11;

const std::array<ConversionMode, mode_count> &modeTable();

// Row of the mode list -> mode number (index + 5 above 8); -1 for a row
// outside the table.
int modeForIndex(int index);

// Mode number -> row of the mode list; -1 for a mode the list does not offer.
int indexForMode(int mode);

// Serial rate of the Sernix in a mode; 0 for a mode the list does not offer.
int baudForMode(int mode);

// The mode command: "$PHLV,TAVIX_MODE,<mode>,\r\n" twice, as one write.
// Empty for a mode the list does not offer.
QByteArray modeSentence(int mode);

// Translated description of a row, with or without the rate line; an empty
// string for a row outside the table.
QString modeDescription(int index, bool with_rate_line);

// The sentence formatters a mode delivers, as its description lists them
// ("RMC", "HDG", ...); empty for RAW mode and for a mode the list does not
// offer.
QList<QByteArray> modeSentences(int mode);
// The talker ID its description names ("GP", "Mixed", "!PHLV"); empty for a
// mode the list does not offer.
QString modeTalker(int mode);

// The answer to "does what my mode delivers come through?", in one line:
// how many of the mode's sentence kinds have arrived, which have not, and
// which fell silent. `seen` and `silent` hold the formatters of the kinds
// received and of those silent now; in RAW mode raw_frames counts the frames
// instead.
QString modeCoverage(int mode, const QList<QByteArray> &seen, const QList<QByteArray> &silent,
                     quint64 raw_frames);

} // namespace tavix
