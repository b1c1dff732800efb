#include "link/serialports.h"

namespace tavix {

int findAdapter(const QList<SerialPortEntry> &ports)
{
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).manufacturer == QLatin1String(adapter_manufacturer))
            return i;
    }
    return -1;
}

} // namespace tavix
