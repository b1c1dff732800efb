// The road of received bytes to the window: arbitrary bytes cut into
// arbitrary chunks go through the line framer, and the lines it returns
// through the 200-slot ring, with takes and clears in between.
//
// The input is read as a list of operations. Besides chunks of its own
// bytes it can ask for long runs of one byte, and for a run that brings the
// current line to a length right around the framer's limit, so that the
// overlong-line path is reached without megabyte inputs.
#include "fuzzcheck.h"
#include "link/lineframer.h"
#include "link/linering.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>

using namespace tavix;

namespace {

constexpr int max_line = LineFramer::max_line;
// Bytes fed per input at most: enough for several overlong lines.
constexpr qint64 stream_budget = 1024 * 1024;

// Everything fed since the framer last started afresh, and everything it
// returned, compared as a whole against what line framing must give.
struct FramerCheck
{
    LineFramer framer;
    QByteArray stream;
    QByteArray returned;
    int current_line = 0; // bytes of the stream after its last '\n'

    QList<QByteArray> feed(const QByteArray &chunk)
    {
        const QList<QByteArray> lines = framer.feed(chunk);
        stream += chunk;
        const int nl = chunk.lastIndexOf('\n');
        current_line = nl < 0 ? current_line + chunk.size() : chunk.size() - nl - 1;
        for (const QByteArray &line : lines) {
            check(line.endsWith('\n'), "a line ends in its line feed");
            check(line.indexOf('\n') == line.size() - 1, "a line holds one line feed");
            check(line.size() <= max_line + 1, "a line is at most max_line bytes and its end");
            returned += line;
        }
        check(!framer.pending().contains('\n'), "the pending part holds no line end");
        check(framer.pending().size() <= max_line, "the pending part stays within max_line");
        return lines;
    }

    // Splits the stream at its line feeds: complete lines up to the limit
    // come out whole and in order, longer ones vanish with their line feed,
    // and the unfinished rest waits unless it is already too long.
    void verify() const
    {
        QByteArray expected;
        qint64 expected_dropped = 0;
        int from = 0;
        for (;;) {
            const int nl = stream.indexOf('\n', from);
            if (nl < 0)
                break;
            const int length = nl + 1 - from;
            if (length - 1 <= max_line)
                expected.append(stream.constData() + from, length);
            else
                expected_dropped += length;
            from = nl + 1;
        }
        const int rest = stream.size() - from;
        check(rest == current_line, "line tracking");
        QByteArray expected_pending;
        if (rest <= max_line)
            expected_pending = stream.mid(from);
        else
            expected_dropped += rest;
        check(returned == expected, "returned lines are the input less its overlong lines");
        check(framer.pending() == expected_pending, "pending part");
        check(framer.droppedBytes() == expected_dropped, "dropped byte count");
    }

    void clear()
    {
        verify();
        framer.clear();
        check(framer.pending().isEmpty() && framer.droppedBytes() == 0, "clear forgets all");
        stream.clear();
        returned.clear();
        current_line = 0;
    }
};

struct RingCheck
{
    LineRing ring;
    std::deque<QByteArray> model;

    void put(const QByteArray &line)
    {
        const bool stored = ring.put(line);
        if (line.isEmpty()) {
            check(stored, "an empty line is accepted and not stored");
        } else if (model.size() == LineRing::slot_count) {
            check(!stored, "a full ring refuses a line");
        } else {
            check(stored, "a ring with room stores the line");
            model.push_back(line);
        }
        verify();
    }

    void take()
    {
        QByteArray line("sentinel");
        const bool got = ring.take(&line);
        if (model.empty()) {
            check(!got, "nothing to take from an empty ring");
        } else {
            check(got, "a waiting line is taken");
            check(line == model.front(), "lines leave in the order they came");
            model.pop_front();
        }
        verify();
    }

    void clear()
    {
        ring.clear();
        model.clear();
        check(ring.writePos() == 1 && ring.readPos() == 1, "clear rewinds the positions");
        verify();
    }

    void verify() const
    {
        const int n = static_cast<int>(model.size());
        check(ring.size() == n, "ring size");
        check(ring.isEmpty() == (n == 0), "ring emptiness");
        check(ring.isFull() == (n == LineRing::slot_count), "ring fullness");
        check(ring.writePos() >= 1 && ring.writePos() <= LineRing::slot_count, "write position");
        check(ring.readPos() >= 1 && ring.readPos() <= LineRing::slot_count, "read position");
        check((ring.writePos() - ring.readPos() - n) % LineRing::slot_count == 0,
              "positions are size apart");
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    FramerCheck framer;
    RingCheck ring;
    qint64 fed = 0;

    while (in.remaining_bytes() > 0 && fed < stream_budget) {
        QByteArray chunk;
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
        case 1: { // a chunk of the input's own bytes
            const std::string bytes = in.ConsumeRandomLengthString(4096);
            chunk = QByteArray(bytes.data(), static_cast<int>(bytes.size()));
            break;
        }
        case 2: { // a long run of one byte
            const char byte = in.ConsumeIntegral<char>();
            chunk = QByteArray(in.ConsumeIntegralInRange<int>(0, 2 * max_line + 2), byte);
            break;
        }
        case 3: { // bring the current line to the limit, give or take a few
            const int target = max_line + in.ConsumeIntegralInRange<int>(-3, 3);
            const int missing = target - framer.current_line;
            chunk = QByteArray(missing > 0 ? missing : 0, in.ConsumeBool() ? '$' : '\r');
            if (in.ConsumeBool())
                chunk += '\n';
            break;
        }
        case 4: {
            const int takes = in.ConsumeIntegralInRange<int>(0, LineRing::slot_count + 2);
            for (int i = 0; i < takes; ++i)
                ring.take();
            continue;
        }
        case 5:
            framer.clear();
            continue;
        case 6:
            ring.clear();
            continue;
        case 7: // a line put straight into the ring, possibly empty
            ring.put(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
            continue;
        }
        fed += chunk.size();
        for (const QByteArray &line : framer.feed(chunk))
            ring.put(line);
    }
    framer.verify();
    while (!ring.model.empty())
        ring.take();
    ring.take();
    return 0;
}
