#include "console/console.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace {

QStringList blockTexts(const QPlainTextEdit &edit)
{
    QStringList texts;
    for (QTextBlock b = edit.document()->firstBlock(); b.isValid(); b = b.next())
        texts << b.text();
    return texts;
}

// Sends the press alone, as the window system would for a held key; QTest's
// helpers would add presses of the modifier keys themselves.
void pressKey(QWidget *w, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier,
              const QString &text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, mods, text);
    QApplication::sendEvent(w, &press);
}

class FocusReasonSpy : public QObject
{
public:
    explicit FocusReasonSpy(QWidget *w) { w->installEventFilter(this); }
    QList<Qt::FocusReason> reasons;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn)
            reasons << static_cast<QFocusEvent *>(e)->reason();
        return false;
    }
};

QByteArray numberedLine(int n)
{
    return QByteArray("$PHLV,000000,") + QByteArray::number(n) + "\r\n";
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void startsEmptyAndOutputOnly();
    void showDataText();
    void keepsNewestHundredBlocks();
    void followsNewestLine();
    void keysNeitherEditNorMoveCursor();
    void mouseOnlyFocuses();
};

void TestConsole::startsEmptyAndOutputOnly()
{
    Console console;
    QCOMPARE(console.toPlainText(), QString());
    QCOMPARE(console.document()->maximumBlockCount(), 100);
    for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        QCOMPARE(console.palette().color(group, QPalette::Base), QColor(Qt::white));
        QCOMPARE(console.palette().color(group, QPalette::Text), QColor(Qt::black));
    }
}

void TestConsole::showDataText()
{
    Console console;

    // Everything from the first NUL on is dropped; UTF-8 is decoded.
    console.showData(QByteArray("$PHLV,A\xc2\xb0", 9) + QByteArray("\0tail\r\n", 7));
    QCOMPARE(console.toPlainText(), QString::fromUtf8("$PHLV,A\xc2\xb0"));

    // No line end was shown, so the next text continues the same line.
    console.showData("B,\r\n");
    QCOMPARE(blockTexts(console),
             QStringList({ QString::fromUtf8("$PHLV,A\xc2\xb0"
                                             "B,"),
                           "" }));

    // An empty block and a block that starts with NUL add nothing.
    console.showData(QByteArray());
    console.showData(QByteArray("\0$PHLV,X\r\n", 10));
    QCOMPARE(console.blockCount(), 2);

    // Several sentences written at once are shown one per line; a lone CR or
    // LF ends a line too.
    console.showData("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n");
    console.showData("a\nb\rc");
    QCOMPARE(blockTexts(console),
             QStringList({ QString::fromUtf8("$PHLV,A\xc2\xb0"
                                             "B,"),
                           "$PHLV,CMD", "$PHLV,CMD", "$PHLV,CMD", "a", "b", "c" }));
}

void TestConsole::keepsNewestHundredBlocks()
{
    Console console;
    for (int n = 0; n < 150; ++n)
        console.showData(numberedLine(n));

    QStringList texts = blockTexts(console);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.last(), QString());
    for (int i = 0; i < 99; ++i)
        QCOMPARE(texts.at(i), QString::fromLatin1(numberedLine(51 + i).trimmed()));

    // Each further line pushes out exactly the oldest one, and still lands at
    // the end.
    console.showData(numberedLine(150));
    texts = blockTexts(console);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.first(), QString::fromLatin1(numberedLine(52).trimmed()));
    QCOMPARE(texts.at(98), QString::fromLatin1(numberedLine(150).trimmed()));

    // One block larger than the limit on its own keeps only its tail.
    QByteArray burst;
    for (int n = 1000; n < 1300; ++n)
        burst += numberedLine(n);
    console.showData(burst);
    texts = blockTexts(console);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.first(), QString::fromLatin1(numberedLine(1201).trimmed()));
    QCOMPARE(texts.at(98), QString::fromLatin1(numberedLine(1299).trimmed()));
}

void TestConsole::followsNewestLine()
{
    Console console;
    console.resize(400, 200);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));

    for (int n = 0; n < 150; ++n)
        console.showData(numberedLine(n));
    QScrollBar *bar = console.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // The wheel is the base class's and still scrolls back.
    const QPoint centre = console.viewport()->rect().center();
    QWheelEvent wheel(centre, console.viewport()->mapToGlobal(centre), QPoint(), QPoint(0, 120 * 5),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(console.viewport(), &wheel);
    QVERIFY(bar->value() < bar->maximum());

    // The next line brings the newest text back into view.
    bar->setValue(0);
    console.showData(numberedLine(150));
    QCOMPARE(bar->value(), bar->maximum());
    QVERIFY(bar->maximum() > 0);

    // Even an empty block scrolls to the bottom, while showing nothing.
    const QString before = console.toPlainText();
    bar->setValue(0);
    console.showData(QByteArray());
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(console.toPlainText(), before);

    // A line that wraps in the narrow pane still ends up fully in view.
    console.resize(150, 200);
    bar->setValue(0);
    console.showData(QByteArray(400, 'x') + "\r\n");
    QCOMPARE(bar->value(), bar->maximum());
}

void TestConsole::keysNeitherEditNorMoveCursor()
{
    Console console;
    console.showData("$PHLV,CMD\r\n$PHLV,TAVIX_OFFLINE,\r\n");
    const QString text = console.toPlainText();
    const int end = console.textCursor().position();
    QCOMPARE(end, text.size());
    QSignalSpy spy(&console, &Console::getData);

    const Qt::Key silent[]
        = { Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down };
    for (Qt::Key key : silent) {
        QTest::keyClick(&console, key);
        pressKey(&console, key, Qt::ShiftModifier);
        pressKey(&console, key, Qt::ControlModifier);
    }
    QCOMPARE(spy.count(), 0);
    QCOMPARE(console.toPlainText(), text);
    QCOMPARE(console.textCursor().position(), end);
    QVERIFY(!console.textCursor().hasSelection());

    // Other keys are offered, not shown, and move nothing either.
    QTest::keyClick(&console, Qt::Key_A);
    QTest::keyClick(&console, Qt::Key_Home);
    pressKey(&console, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("a"));
    QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray());
    QCOMPARE(console.toPlainText(), text);
    QCOMPARE(console.textCursor().position(), end);
    console.showData("next\r\n");
    QCOMPARE(console.toPlainText(), text + "next\n");

    // With local echo the letter is both shown and offered; the five silent
    // keys stay silent.
    spy.clear();
    console.setLocalEcho(true);
    pressKey(&console, Qt::Key_Z, Qt::ShiftModifier, QStringLiteral("Z"));
    QTest::keyClick(&console, Qt::Key_Backspace);
    QTest::keyClick(&console, Qt::Key_Left);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("Z"));
    QCOMPARE(console.toPlainText(), text + "next\nZ");

    console.setLocalEcho(false);
    QTest::keyClick(&console, Qt::Key_Q);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(console.toPlainText(), text + "next\nZ");
}

void TestConsole::mouseOnlyFocuses()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *other = new QLineEdit(&window);
    auto *console = new Console(&window);
    layout->addWidget(other);
    layout->addWidget(console);
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    console->showData("$PHLV,000000,one two three\r\n$PHLV,000000,four five\r\n");
    const QString text = console->toPlainText();
    const int end = console->textCursor().position();
    const QPoint onFirstWord
        = console->cursorRect(QTextCursor(console->document())).center() + QPoint(20, 0);

    other->setFocus();
    QTRY_VERIFY(other->hasFocus());

    // The press itself takes the focus: sent directly, it bypasses the click
    // focus the application gives to spontaneous presses.
    FocusReasonSpy reasons(console);
    QMouseEvent press(QEvent::MouseButtonPress, onFirstWord, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(console->viewport(), &press);
    QTRY_VERIFY(console->hasFocus());
    QCOMPARE(reasons.reasons, QList<Qt::FocusReason>({ Qt::OtherFocusReason }));

    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QTest::mouseClick(console->viewport(), Qt::LeftButton, {}, onFirstWord);
    QTRY_VERIFY(console->hasFocus());
    QCOMPARE(console->textCursor().position(), end);
    QVERIFY(!console->textCursor().hasSelection());

    // No word selection on double click, no selection by a shift click.
    QTest::mouseDClick(console->viewport(), Qt::LeftButton, {}, onFirstWord);
    QTest::mouseClick(console->viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(2, 2));
    QCOMPARE(console->textCursor().position(), end);
    QVERIFY(!console->textCursor().hasSelection());
    QCOMPARE(console->toPlainText(), text);

    // Any menu would run its own event loop; close it from there so that a
    // regression fails instead of hanging.
    bool menuShown = false;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&menuShown] {
        if (QWidget *popup = QApplication::activePopupWidget()) {
            menuShown = true;
            popup->close();
        }
    });
    watcher.start(20);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, onFirstWord,
                                console->viewport()->mapToGlobal(onFirstWord));
    QApplication::sendEvent(console->viewport(), &menuEvent);
    QTest::qWait(100);
    watcher.stop();
    QVERIFY(!menuShown);
    QVERIFY(!QApplication::activePopupWidget());
    QCOMPARE(console->textCursor().position(), end);
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
