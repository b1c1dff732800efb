#include "link/lineframer.h"

#include <QtTest>

using tavix::LineFramer;

namespace {

constexpr int max_line = LineFramer::max_line;

} // namespace

class TestLineFramer : public QObject
{
    Q_OBJECT

private slots:
    void linesSplitAndJoined();
    void overlongLineDroppedThenResync();
    void chunkingDoesNotMatter_data();
    void chunkingDoesNotMatter();
    void clearStartsAfresh();
};

void TestLineFramer::linesSplitAndJoined()
{
    LineFramer framer;
    QVERIFY(framer.feed("$PHLV,").isEmpty());
    QVERIFY(framer.feed("000000,12").isEmpty());
    QVERIFY(framer.feed("").isEmpty());
    QVERIFY(framer.feed("\r").isEmpty());
    QCOMPARE(framer.pending(), QByteArray("$PHLV,000000,12\r"));
    QCOMPARE(framer.feed("\n$GP"), QList<QByteArray>{ "$PHLV,000000,12\r\n" });
    QCOMPARE(framer.feed("RMC\n\n"), (QList<QByteArray>{ "$GPRMC\n", "\n" }));

    // Only '\n' ends a line; a lone '\r' and zero bytes are line content.
    const QByteArray data("a\r\nb\nc\rd\n\r\ne\0f\r\n", 16);
    const QList<QByteArray> expected{ "a\r\n", "b\n", "c\rd\n", "\r\n", QByteArray("e\0f\r\n", 5) };
    QCOMPARE(framer.feed(data), expected);
    QVERIFY(framer.pending().isEmpty());
    QCOMPARE(framer.droppedBytes(), 0);
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

// The same stream must give the same lines and the same drop count however
// the link happens to cut it: an overlong line is dropped whether its end
// comes in the same chunk or later, and max_line bytes before the '\n' is
// the longest line still delivered.
void TestLineFramer::chunkingDoesNotMatter_data()
{
    QTest::addColumn<int>("chunk");
    for (int chunk : { 1, 7, max_line, 1 << 20 })
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
    QList<QByteArray> lines;
    for (int pos = 0; pos < stream.size(); pos += chunk)
        lines += framer.feed(stream.mid(pos, chunk));
    QCOMPARE(lines, expected);
    QCOMPARE(framer.droppedBytes(), expectedDropped);
    QCOMPARE(framer.pending(), QByteArray("$partial"));
}

void TestLineFramer::clearStartsAfresh()
{
    LineFramer framer;
    framer.feed(QByteArray(max_line + 1, 'x')); // now skipping to the next line end
    framer.clear();
    QCOMPARE(framer.droppedBytes(), 0);
    QCOMPARE(framer.feed("$new\r\n"), QList<QByteArray>{ "$new\r\n" });
    framer.feed("half");
    framer.clear();
    QCOMPARE(framer.feed("line\n"), QList<QByteArray>{ "line\n" });
}

QTEST_GUILESS_MAIN(TestLineFramer)
#include "tst_lineframer.moc"
