// Arbitrary bytes in arbitrary chunks through the line framer, with long
// runs of one byte and lines around its limit reached by small inputs.
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
        for (int nl; (nl = stream.indexOf('\n', from)) >= 0; from = nl + 1) {
            if (nl - from <= max_line)
                expected += stream.mid(from, nl + 1 - from);
        }
        const QByteArray rest = stream.size() - from > max_line ? QByteArray() : stream.mid(from);
        CHECK(returned == expected && framer.pending() == rest);
        CHECK(framer.droppedBytes() == stream.size() - returned.size() - framer.pending().size());
    };

    for (qint64 fed = 0; in.remaining_bytes() > 0 && fed < 1 << 20;) {
        QByteArray chunk;
        switch (in.ConsumeIntegralInRange<int>(0, 7)) { // 6: a read that found nothing
        case 0:
        case 1: // a chunk of the input's own bytes
            chunk = QByteArray::fromStdString(in.ConsumeRandomLengthString(4096));
            break;
        case 2: { // a long run of one byte
            const char byte = in.ConsumeIntegral<char>();
            chunk = QByteArray(in.ConsumeIntegralInRange<int>(0, 2 * max_line + 2), byte);
            break;
        }
        case 3: { // the line brought to the limit, give or take a few bytes
            const int line = stream.size() - 1 - stream.lastIndexOf('\n');
            const int missing = max_line + in.ConsumeIntegralInRange<int>(-3, 3) - line;
            chunk = QByteArray(missing, in.ConsumeBool() ? '$' : '\r'); // none if negative
            chunk += in.ConsumeBool() ? "\n" : "";
            break;
        }
        case 4: // empty lines
            chunk = QByteArray(in.ConsumeIntegralInRange<int>(0, 202), '\n');
            break;
        case 5: // the framer starts afresh, as for a new connection
            verify();
            framer.clear();
            stream = returned = QByteArray();
            break;
        case 7: // a short chunk
            chunk = QByteArray::fromStdString(in.ConsumeRandomLengthString(64));
            break;
        }
        fed += chunk.size();
        stream += chunk;
        for (const QByteArray &line : framer.feed(chunk))
            returned += line;
    }
    verify();
}
