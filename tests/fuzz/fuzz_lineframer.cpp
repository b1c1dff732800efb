// Arbitrary bytes in arbitrary chunks through the line framer, with lines
// around its limit reached by small inputs.
#include "fuzzharness.h"
#include "link/lineframer.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace tavix;

void fuzzOne(const QByteArray &input)
{
    constexpr int max_line = LineFramer::max_line;
    FuzzedDataProvider in(reinterpret_cast<const std::uint8_t *>(input.constData()),
                          static_cast<std::size_t>(input.size()));
    LineFramer framer;
    QByteArray stream, returned; // since the framer last started afresh

    // Lines up to the limit come out whole and in order, longer ones vanish
    // with their line feed, and the rest waits unless already too long.
    const auto verify = [&] {
        QByteArray expected;
        int from = 0;
        for (int nl; (nl = stream.indexOf('\n', from)) >= 0; from = nl + 1)
            if (nl - from <= max_line)
                expected += stream.mid(from, nl + 1 - from);
        const QByteArray rest = stream.size() - from > max_line ? QByteArray() : stream.mid(from);
        CHECK(returned == expected && framer.pending() == rest);
        CHECK(framer.droppedBytes() == stream.size() - returned.size() - framer.pending().size());
    };

    for (qint64 fed = 0; in.remaining_bytes() > 0 && fed < 1 << 20;) {
        QByteArray chunk;
        switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: // the framer starts afresh, as for a new connection
            verify();
            framer.clear();
            stream = returned = QByteArray();
            break;
        case 1: { // the line brought to the limit, give or take a few bytes
            const int line = stream.size() - 1 - stream.lastIndexOf('\n');
            const int missing = max_line + in.ConsumeIntegralInRange<int>(-3, 3) - line;
            chunk = QByteArray(missing, in.ConsumeBool() ? '$' : '\r'); // none if negative
            chunk += in.ConsumeBool() ? "\n" : "";
            break;
        }
        default: // a chunk of the input's own bytes, perhaps none
            chunk = QByteArray::fromStdString(in.ConsumeRandomLengthString(4096));
        }
        fed += chunk.size();
        stream += chunk;
        for (const QByteArray &line : framer.feed(chunk))
            returned += line;
    }
    verify();
}
