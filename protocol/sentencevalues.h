#pragma once

#include <QByteArray>
#include <QString>

namespace tavix {

// A received line's values in plain words with their units, for the kinds a
// boat owner reads: position, course and speed, heading, speed through
// water, depth, wind, water temperature, rate of turn, rudder, date and time,
// AIS message type and MMSI, and the gateway's status. Any other kind gives
// its fields after the address as they arrived. Read as far as the line
// goes: the bytes from a zero byte on are not read, an empty or missing field
// shows as an em dash, and nothing is made up for it.
QString sentenceValues(const QByteArray &line);

} // namespace tavix
