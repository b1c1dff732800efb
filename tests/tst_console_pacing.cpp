// What keeps the console cheap on a busy link must not change what it shows:
// lines handed over in a batch end up exactly as if shown one by one, and
// text that waits for the end of a frame always comes.
#include "console/console.h"

#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class TestConsolePacing : public QObject
{
    Q_OBJECT

private slots:
    void batchShowsWhatSingleInsertsShow();
    void repaintsArePacedAndNoneIsLost();
};

void TestConsolePacing::batchShowsWhatSingleInsertsShow()
{
    // A CR at the end of one piece and an LF at the start of the next are
    // two line ends when shown one by one; a text without a line end is
    // continued; an empty piece adds nothing; a zero byte cuts its piece.
    const QList<QByteArray> pieces = {
        "$PHLV,A\r\n",
        "$PHLV,B",
        " continued\r\n",
        "",
        "$PHLV,C\r",
        "\n$PHLV,D\r\n",
        QByteArray("$PHLV,E\0hidden\r\n", 16),
        "\r\n",
        "!PHLV,F\r\n",
    };
    Console single;
    for (const QByteArray &piece : pieces)
        single.showData(piece);

    Console batched;
    batched.show();
    batched.resize(300, 120);
    {
        const Console::Batch outer(&batched);
        {
            const Console::Batch inner(&batched);
            for (const QByteArray &piece : pieces)
                batched.showData(piece);
        }
        // Only the outermost batch lets the text in.
        QCOMPARE(batched.toPlainText(), QString());
    }
    QCOMPARE(blockTexts(batched), blockTexts(single));
    QCOMPARE(batched.textCursor().position(), batched.toPlainText().size());

    // More lines in one batch than the pane keeps: the newest 99 and the
    // empty last block stay, the block limit is in force afterwards, and
    // the pane follows the newest line. A line left open before them is
    // ended by them.
    QScrollBar *bar = batched.verticalScrollBar();
    batched.showData("$PHLV,OPEN");
    settled(batched);
    bar->setValue(0);
    {
        const Console::Batch batch(&batched);
        for (int i = 1; i <= 150; ++i)
            batched.showData("$PHLV,LINE," + QByteArray::number(i) + "\r\n");
    }
    const QStringList texts = blockTexts(batched);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.first(), QStringLiteral("$PHLV,LINE,52"));
    QCOMPARE(texts.at(98), QStringLiteral("$PHLV,LINE,150"));
    QCOMPARE(texts.last(), QString());
    QCOMPARE(batched.document()->maximumBlockCount(), 100);
    QCOMPARE(bar->value(), bar->maximum());

    // A batch with only an empty piece still brings the newest line into view.
    bar->setValue(0);
    {
        const Console::Batch batch(&batched);
        batched.showData(QByteArray());
    }
    QTRY_COMPARE(bar->value(), bar->maximum());
    QCOMPARE(blockTexts(batched), texts);
}

void TestConsolePacing::repaintsArePacedAndNoneIsLost()
{
    QApplication::setCursorFlashTime(0); // no blinking cursor repaints in the count
    Console console;
    console.resize(400, 300);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QTest::qWait(200); // past any frame the first paints started
    PaintCounter paints(console.viewport());

    // A line after a quiet spell goes in and is drawn at once, not at the
    // end of a frame.
    console.showData("$PHLV,FIRST\r\n");
    QVERIFY(!console.hasWaitingText());
    QCoreApplication::processEvents();
    QCOMPARE(paints.count, 1);

    // Lines one per pass of the event loop: inserted and repainted once a
    // frame at most, not once a line.
    QTest::qWait(200);
    paints.count = 0;
    int inserts = 0;
    connect(console.document(), &QTextDocument::contentsChange,
            [&](int, int, int added) { inserts += added > 0; });
    QElapsedTimer clock;
    clock.start();
    constexpr int lines = 100;
    for (int i = 0; i < lines; ++i) {
        console.showData("$PHLV,LINE," + QByteArray::number(i) + "\r\n");
        QTest::qWait(3);
    }
    const qint64 spread_ms = clock.elapsed();
    const int during = paints.count;
    QVERIFY2(during <= spread_ms / 40 + 2 && inserts <= spread_ms / 40 + 2,
             qPrintable(QStringLiteral("%1 repaints, %2 inserts in %3 ms")
                            .arg(during)
                            .arg(inserts)
                            .arg(spread_ms)));

    // What waited goes in and is drawn when the frame ends. On a loaded
    // machine the last line may have come after a quiet spell and gone in
    // at once: then nothing waits.
    const bool waited = console.hasWaitingText();
    QTRY_COMPARE(console.document()->lastBlock().previous().text(),
                 QStringLiteral("$PHLV,LINE,%1").arg(lines - 1));
    if (waited)
        QTRY_VERIFY(paints.count > during);
}

QTEST_MAIN(TestConsolePacing)
#include "tst_console_pacing.moc"
