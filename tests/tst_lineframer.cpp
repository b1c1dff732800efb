#include "link/lineframer.h"

#include <QtTest>

using tavix::LineFramer;

namespace {

constexpr int max_line = LineFramer::max_line;

// Feeds data in chunks of the given size and collects every line.
QList<QByteArray> feedInChunks(LineFramer &framer, const QByteArray &data, int chunk)
{
    QList<QByteArray> lines;
    for (int pos = 0; pos < data.size(); pos += chunk)
        lines += framer.feed(data.mid(pos, chunk));
    return lines;
}

} // namespace

class TestLineFramer : public QObject
{
    Q_OBJECT

private slots:
    void lineSplitOverChunks();
    void manyLinesInOneChunk();
    void lineEndsKeptAsReceived();
    void newlineOnlyChunks();
    void overlongLineDroppedThenResync();
    void overlongLineCompletedInOneChunk();
    void lineOfExactlyMaxLength();
    void chunkingDoesNotMatter_data();
    void chunkingDoesNotMatter();
    void clearStartsAfresh();
};

void TestLineFramer::lineSplitOverChunks()
{
    LineFramer framer;
    QVERIFY(framer.feed("$PHLV,").isEmpty());
    QCOMPARE(framer.pending(), QByteArray("$PHLV,"));
    QVERIFY(framer.feed("000000,12").isEmpty());
    QVERIFY(framer.feed("").isEmpty());
    QVERIFY(framer.feed("\r").isEmpty());
    QCOMPARE(framer.pending(), QByteArray("$PHLV,000000,12\r"));

    const QList<QByteArray> lines = framer.feed("\n$GP");
    QCOMPARE(lines, QList<QByteArray>{ "$PHLV,000000,12\r\n" });
    QCOMPARE(framer.pending(), QByteArray("$GP"));
    QCOMPARE(framer.droppedBytes(), 0);
}

void TestLineFramer::manyLinesInOneChunk()
{
    QByteArray chunk;
    QList<QByteArray> expected;
    for (int i = 0; i < 5000; ++i) {
        const QByteArray line = "!PHLV,127250," + QByteArray::number(i) + "\r\n";
        expected << line;
        chunk += line;
    }
    chunk += "!PHLV,tail";

    LineFramer framer;
    QCOMPARE(framer.feed(chunk), expected);
    QCOMPARE(framer.pending(), QByteArray("!PHLV,tail"));
}

void TestLineFramer::lineEndsKeptAsReceived()
{
    // Only '\n' ends a line; a lone '\r' and zero bytes are line content.
    LineFramer framer;
    const QByteArray data("a\r\nb\nc\rd\n\r\ne\0f\r\n", 16);
    const QList<QByteArray> expected{ "a\r\n", "b\n", "c\rd\n", "\r\n", QByteArray("e\0f\r\n", 5) };
    QCOMPARE(framer.feed(data), expected);
    QVERIFY(framer.pending().isEmpty());
}

void TestLineFramer::newlineOnlyChunks()
{
    LineFramer framer;
    QCOMPARE(framer.feed("\n"), QList<QByteArray>{ "\n" });
    QVERIFY(framer.feed("abc").isEmpty());
    QCOMPARE(framer.feed("\n"), QList<QByteArray>{ "abc\n" });
    QCOMPARE(framer.feed("\n\n"), (QList<QByteArray>{ "\n", "\n" }));
    QVERIFY(framer.pending().isEmpty());
}

void TestLineFramer::overlongLineDroppedThenResync()
{
    LineFramer framer;
    QVERIFY(framer.feed("good\r\n" + QByteArray(max_line - 10, 'x')).size() == 1);
    QCOMPARE(framer.droppedBytes(), 0);
    QCOMPARE(framer.pending().size(), max_line - 10);

    // Crossing the limit drops what was pending at once.
    QVERIFY(framer.feed(QByteArray(11, 'x')).isEmpty());
    QVERIFY(framer.pending().isEmpty());
    QCOMPARE(framer.droppedBytes(), max_line + 1);

    // Everything up to the next line end belongs to the dropped line, even
    // when it looks like the start of a sentence.
    QVERIFY(framer.feed(QByteArray(3 * max_line, 'y')).isEmpty());
    QVERIFY(framer.pending().isEmpty());
    QCOMPARE(framer.feed("$PHLV,000000,"), QList<QByteArray>());
    QCOMPARE(framer.droppedBytes(), 4 * max_line + 1 + 13);

    const QList<QByteArray> lines = framer.feed("1,2\r\n$PHLV,ACK,TX_LIMIT,ON\r\n$GP");
    QCOMPARE(lines, QList<QByteArray>{ "$PHLV,ACK,TX_LIMIT,ON\r\n" });
    QCOMPARE(framer.droppedBytes(), 4 * max_line + 1 + 13 + 5);
    QCOMPARE(framer.pending(), QByteArray("$GP"));
    QCOMPARE(framer.feed("RMC\r\n"), QList<QByteArray>{ "$GPRMC\r\n" });
}

void TestLineFramer::overlongLineCompletedInOneChunk()
{
    // A line too long is dropped even when its end arrives in the same chunk,
    // and the lines around it are untouched.
    LineFramer framer;
    const QByteArray overlong = QByteArray(max_line + 1, 'x') + "\r\n";
    const QList<QByteArray> lines = framer.feed("a\n" + overlong + "b\n");
    QCOMPARE(lines, (QList<QByteArray>{ "a\n", "b\n" }));
    QCOMPARE(framer.droppedBytes(), overlong.size());

    // Likewise when the start of it was pending from an earlier chunk.
    framer.feed(QByteArray(max_line - 1, 'z'));
    QCOMPARE(framer.feed("zz\nc\n"), QList<QByteArray>{ "c\n" });
    QCOMPARE(framer.droppedBytes(), overlong.size() + max_line + 2);
}

void TestLineFramer::lineOfExactlyMaxLength()
{
    // max_line bytes before the '\n' is the longest line still delivered.
    LineFramer framer;
    const QByteArray body(max_line, 'm');
    QVERIFY(framer.feed(body).isEmpty());
    QCOMPARE(framer.pending().size(), max_line);
    QCOMPARE(framer.feed("\n"), QList<QByteArray>{ body + '\n' });

    QCOMPARE(framer.feed(body + "\n" + body + "\n"),
             (QList<QByteArray>{ body + '\n', body + '\n' }));
    QCOMPARE(framer.droppedBytes(), 0);

    // One byte more is too much.
    QVERIFY(framer.feed(body + "m").isEmpty());
    QCOMPARE(framer.droppedBytes(), max_line + 1);
}

// The same stream must give the same lines and the same drop count however
// the link happens to cut it.
void TestLineFramer::chunkingDoesNotMatter_data()
{
    QTest::addColumn<int>("chunk");
    for (int chunk : { 1, 2, 3, 7, 13, 4096, max_line, max_line + 1, 1 << 20 })
        QTest::addRow("%d", chunk) << chunk;
}

void TestLineFramer::chunkingDoesNotMatter()
{
    QFETCH(int, chunk);

    QByteArray stream;
    QList<QByteArray> expected;
    qint64 expectedDropped = 0;
    const auto keep = [&](const QByteArray &line) {
        stream += line;
        expected << line;
    };
    const auto drop = [&](const QByteArray &line) {
        stream += line;
        expectedDropped += line.size();
    };
    keep("$PHLV,000000,12,0,5,3600,35\r\n");
    keep("\n");
    drop(QByteArray(max_line + 1, 'a') + '\n');
    keep(QByteArray(max_line, 'b') + '\n');
    keep("!PHLV,127250,1\r\n");
    drop(QByteArray(2 * max_line + 5, 'c') + "\r\n");
    keep(QByteArray(max_line - 1, 'd') + "\r\n");
    drop(QByteArray(max_line, 'e') + "\r\n"); // the '\r' makes it one too long
    for (int i = 0; i < 200; ++i)
        keep("$GPRMC," + QByteArray::number(i) + "\r\n");
    stream += "$partial";

    LineFramer framer;
    const QList<QByteArray> lines = feedInChunks(framer, stream, chunk);
    QCOMPARE(lines.size(), expected.size());
    QVERIFY(lines == expected);
    QCOMPARE(framer.droppedBytes(), expectedDropped);
    QCOMPARE(framer.pending(), QByteArray("$partial"));
}

void TestLineFramer::clearStartsAfresh()
{
    LineFramer framer;
    framer.feed(QByteArray(max_line + 1, 'x')); // now skipping to the next line end
    QVERIFY(framer.droppedBytes() > 0);
    framer.clear();
    QCOMPARE(framer.droppedBytes(), 0);
    QCOMPARE(framer.feed("$new\r\n"), QList<QByteArray>{ "$new\r\n" });

    framer.feed("half");
    framer.clear();
    QVERIFY(framer.pending().isEmpty());
    QCOMPARE(framer.feed("line\n"), QList<QByteArray>{ "line\n" });
}

QTEST_GUILESS_MAIN(TestLineFramer)
#include "tst_lineframer.moc"
