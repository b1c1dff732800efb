// The traffic pane: the text it shows, the newest hundred lines in view,
// input (keys, an input method, the mouse) that never edits it, and repaints
// paced (a page at a time in a flood) without losing a line.
#include "console/console.h"

#include "testsupport.h"

#include <QClipboard>

namespace {

QByteArray numbered(int n)
{
    return "$PHLV,LINE," + QByteArray::number(n) + "\r\n";
}

struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int count = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        count += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void showsTextAndNewestHundred();
    void inputNeverEditsOrMovesTheEnd();
    void repaintsArePacedAndNoneIsLost();
};

void TestConsole::showsTextAndNewestHundred()
{
    // Cut at a zero byte, UTF-8 decoded; a text without a line end is
    // continued; an empty piece adds nothing; a CR ending one piece and an
    // LF starting the next are two line ends; a lone CR or LF ends a line.
    const QList<QByteArray> pieces = {
        QByteArray("$PHLV,A\xc2\xb0\0tail\r\n", 15),
        "B,\r\n",
        "",
        QByteArray("\0$PHLV,X\r\n", 10),
        "$PHLV,C\r",
        "\n$PHLV,CMD\r\n$PHLV,CMD\r\n",
        "a\nb\rc",
    };
    const QStringList expected = QString::fromUtf8("$PHLV,A\xc2\xb0"
                                                   "B,|$PHLV,C||$PHLV,CMD|$PHLV,CMD|a|b|c")
                                     .split(QLatin1Char('|'));
    Console single;
    for (const QByteArray &piece : pieces)
        single.showData(piece);
    QCOMPARE(blockTexts(single), expected);

    // The same in a batch, which lets the text in only when the outermost
    // one ends.
    Console batched;
    {
        const Console::Batch outer(&batched);
        {
            const Console::Batch inner(&batched);
            for (const QByteArray &piece : pieces)
                batched.showData(piece);
        }
        QCOMPARE(batched.toPlainText(), QString());
    }
    QCOMPARE(blockTexts(batched), expected);

    // Shown, it keeps the newest hundred lines in view.
    Console &console = batched;
    console.resize(400, 200);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QScrollBar *bar = console.verticalScrollBar();
    const auto newestInView = [&](int first, int last) {
        const QStringList texts = blockTexts(console);
        QCOMPARE(texts.size(), 100);
        QCOMPARE(texts.first(), QString::fromLatin1(numbered(first)).trimmed());
        QCOMPARE(texts.at(98), QString::fromLatin1(numbered(last)).trimmed());
        QCOMPARE(texts.last(), QString());
        QTRY_COMPARE(bar->value(), bar->maximum());
    };
    // One at a time, then in one batch with a line left open before it,
    // which the batch ends.
    for (int n = 0; n < 150; ++n)
        console.showData(numbered(n));
    newestInView(51, 149);
    console.showData("$PHLV,OPEN");
    settled(console);
    bar->setValue(0);
    {
        const Console::Batch batch(&console);
        for (int n = 150; n < 300; ++n)
            console.showData(numbered(n));
    }
    newestInView(201, 299);

    // Scrolled up by the user, the next line pushes out exactly the oldest
    // one and brings the newest back into view; so does a line that wraps in
    // a narrow pane.
    bar->setValue(0);
    console.showData(numbered(300));
    newestInView(202, 300);
    QVERIFY(settled(console).verticalScrollBar()->updatesEnabled());
    console.resize(150, 200);
    bar->setValue(0);
    console.showData(QByteArray(400, 'x') + "\r\n");
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestConsole::inputNeverEditsOrMovesTheEnd()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *next_field = new QLineEdit;
    Console &console = *new Console;
    layout->addWidget(&console);
    layout->addWidget(next_field);
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    console.showData("$PHLV,000000,one two three\r\n$PHLV,000000,four five\r\n");
    QString text = settled(console).toPlainText();
    const int end = console.textCursor().position();
    const QPoint onFirstWord
        = console.cursorRect(QTextCursor(console.document())).center() + QPoint(20, 0);
    QSignalSpy offered(&console, &Console::getData);

    // Backspace and the arrows do nothing at all; other keys are offered,
    // not shown.
    for (Qt::Key key : { Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down,
                         Qt::Key_A, Qt::Key_Home })
        QTest::keyClick(&console, key);
    QCOMPARE(offered.count(), 2);
    QCOMPARE(offered.at(0).at(0).toByteArray(), QByteArray("a"));
    QCOMPARE(offered.at(1).at(0).toByteArray(), QByteArray());

    // Nor is an input method's text (a dead key, a compose sequence, IBus)
    // taken, before a click or after: the pane tells the input method it
    // takes none, and refuses what comes all the same.
    const auto takesInputMethodText = [&console](const QString &commit) {
        QInputMethodQueryEvent query(Qt::ImEnabled);
        QApplication::sendEvent(&console, &query);
        QInputMethodEvent input;
        input.setCommitString(commit);
        QApplication::sendEvent(&console, &input);
        return query.value(Qt::ImEnabled).toBool();
    };
    QVERIFY(!takesInputMethodText(QStringLiteral("\u00e9")));

    // A click takes the focus and nothing else: neither it, a double click,
    // a drag nor a shift click moves the cursor or selects, and no menu
    // comes up.
    console.clearFocus();
    QTest::mouseClick(console.viewport(), Qt::LeftButton, {}, onFirstWord);
    QVERIFY(console.hasFocus());
    QVERIFY(!takesInputMethodText(QStringLiteral("\u00fc")));
    QCOMPARE(console.toPlainText(), text);
    QTest::mouseDClick(console.viewport(), Qt::LeftButton, {}, onFirstWord);
    QTest::mousePress(console.viewport(), Qt::LeftButton, {}, onFirstWord);
    QMouseEvent drag(QEvent::MouseMove, QPoint(2, 2), console.viewport()->mapToGlobal(QPoint(2, 2)),
                     Qt::NoButton, Qt::LeftButton, {});
    QApplication::sendEvent(console.viewport(), &drag);
    QTest::mouseRelease(console.viewport(), Qt::LeftButton, {}, QPoint(2, 2));
    QTest::mouseClick(console.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(2, 2));
    QCOMPARE(console.textCursor().position(), end);
    QVERIFY(!console.textCursor().hasSelection());
    QContextMenuEvent menu_event(QContextMenuEvent::Mouse, onFirstWord,
                                 console.viewport()->mapToGlobal(onFirstWord));
    QApplication::sendEvent(console.viewport(), &menu_event);
    QTest::qWait(50);
    QVERIFY(!QApplication::activePopupWidget());

    // Nothing pasted (the middle button pastes the same way) or dragged in
    // reaches the pane, and the next line lands at the end even once the
    // cursor has moved.
    QGuiApplication::clipboard()->setText(QStringLiteral("PASTED"));
    console.paste();
    QMimeData dragged;
    dragged.setText(QStringLiteral("DROPPED"));
    QDragEnterEvent enter(onFirstWord, Qt::CopyAction, &dragged, Qt::LeftButton, {});
    QDropEvent drop(onFirstWord, Qt::CopyAction, &dragged, Qt::LeftButton, {});
    QApplication::sendEvent(console.viewport(), &enter);
    QApplication::sendEvent(console.viewport(), &drop);
    console.moveCursor(QTextCursor::Start);
    console.showData("$PHLV,NEW\r\n");
    text += "$PHLV,NEW\n";
    QCOMPARE(settled(console).toPlainText(), text);

    // Tab takes the focus out of the pane.
    QTest::keyClick(&console, Qt::Key_Tab);
    QVERIFY(next_field->hasFocus());
}

void TestConsole::repaintsArePacedAndNoneIsLost()
{
    QApplication::setCursorFlashTime(0); // no blinking cursor repaints in the count
    Console console;
    console.resize(400, 300);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QTest::qWait(200); // past any frame the first paints started
    PaintCounter paints(console.viewport());

    // A line after a quiet spell goes in and is drawn at once.
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
        console.showData(numbered(i));
        QTest::qWait(3);
    }
    const qint64 frames = clock.elapsed() / 40 + 2;
    const int during = paints.count;
    QVERIFY2(
        during <= frames && inserts <= frames,
        qPrintable(QString::asprintf("%d paints %d inserts %lld frames", during, inserts, frames)));

    // What waited goes in and is drawn when the frame ends (on a loaded
    // machine the last line may have gone in at once: then nothing waits).
    const bool waited = console.hasWaitingText();
    QTRY_COMPARE(console.document()->lastBlock().previous().text(),
                 QStringLiteral("$PHLV,LINE,%1").arg(lines - 1));
    if (waited)
        QTRY_VERIFY(paints.count > during);

    // A flood, lines far faster than anyone can read them, moves the pane a
    // page at a time: at most ten times a second, every line still in.
    QTest::qWait(300);
    paints.count = 0;
    clock.restart();
    int sent = 0;
    while (clock.elapsed() < 1000) {
        for (int k = 0; k < 10; ++k)
            console.showData(numbered(lines + sent++));
        QTest::qWait(3);
    }
    const qint64 pages = clock.elapsed() / 100 + 3;
    QVERIFY2(paints.count <= pages,
             qPrintable(QString::asprintf("%d paints, %lld allowed", paints.count, pages)));
    QTRY_COMPARE(console.document()->lastBlock().previous().text(),
                 QStringLiteral("$PHLV,LINE,%1").arg(lines + sent - 1));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
