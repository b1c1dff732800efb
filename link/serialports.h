#pragma once

#include <QList>
#include <QString>

namespace tavix {

// A serial port as the adapter search sees it.
struct SerialPortEntry
{
    QString port_name;
    QString manufacturer;
};

// The Sernix's USB adapter reports this manufacturer.
inline constexpr char adapter_manufacturer[] = "FTDI";

// Index of the first port whose manufacturer is exactly "FTDI" (case and
// all: a look-alike adapter is not ours), or -1.
int findAdapter(const QList<SerialPortEntry> &ports);

} // namespace tavix
