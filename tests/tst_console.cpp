#include "console/console.h"

#include "testsupport.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QVBoxLayout>

namespace {

// Line n as shown, without the CR LF it is sent with.
QString numberedText(int n)
{
    return QStringLiteral("$PHLV,000000,%1").arg(n);
}
QByteArray numberedLine(int n)
{
    return numberedText(n).toLatin1() + "\r\n";
}

} // namespace

class TestConsole : public QObject
{
    Q_OBJECT

private slots:
    void showDataText();
    void keepsNewestHundredBlocksInView();
    void keysNeitherEditNorMoveCursor();
    void mouseOnlyFocuses();
};

void TestConsole::showDataText()
{
    Console console;

    // Everything from the first NUL on is dropped; UTF-8 is decoded.
    console.showData(QByteArray("$PHLV,A\xc2\xb0", 9) + QByteArray("\0tail\r\n", 7));
    QCOMPARE(console.toPlainText(), QString::fromUtf8("$PHLV,A\xc2\xb0"));

    // No line end was shown, so the next text continues the same line.
    console.showData("B,\r\n");
    const QString first = QString::fromUtf8("$PHLV,A\xc2\xb0"
                                            "B,");
    QCOMPARE(blockTexts(console), QStringList({ first, "" }));

    // An empty block and a block that starts with NUL add nothing.
    console.showData(QByteArray());
    console.showData(QByteArray("\0$PHLV,X\r\n", 10));
    QCOMPARE(settled(console).blockCount(), 2);

    // Several sentences written at once are shown one per line; a lone CR or
    // LF ends a line too.
    console.showData("$PHLV,CMD\r\n$PHLV,CMD\r\n$PHLV,CMD\r\n");
    console.showData("a\nb\rc");
    QCOMPARE(blockTexts(console),
             QStringList({ first, "$PHLV,CMD", "$PHLV,CMD", "$PHLV,CMD", "a", "b", "c" }));
}

void TestConsole::keepsNewestHundredBlocksInView()
{
    Console console;
    console.resize(400, 200);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    for (int n = 0; n < 150; ++n)
        console.showData(numberedLine(n));

    QStringList texts = blockTexts(console);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.last(), QString());
    for (int i = 0; i < 99; ++i)
        QCOMPARE(texts.at(i), numberedText(51 + i));
    QScrollBar *bar = console.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());

    // Scrolled up by the user, the next line pushes out exactly the oldest
    // one, lands at the end and brings the newest text back into view.
    bar->setValue(0);
    console.showData(numberedLine(150));
    QTRY_COMPARE(bar->value(), bar->maximum());
    texts = blockTexts(console);
    QCOMPARE(texts.size(), 100);
    QCOMPARE(texts.first(), numberedText(52));
    QCOMPARE(texts.at(98), numberedText(150));
    // A line that leaves the scroll bar as it was leaves it taking repaints.
    console.showData(numberedLine(151));
    QVERIFY(settled(console).verticalScrollBar()->updatesEnabled());

    // Even an empty block scrolls to the bottom, while showing nothing.
    const QString before = console.toPlainText();
    bar->setValue(0);
    console.showData(QByteArray());
    QTRY_COMPARE(bar->value(), bar->maximum());
    QCOMPARE(console.toPlainText(), before);

    // A line that wraps in the narrow pane still ends up fully in view.
    console.resize(150, 200);
    bar->setValue(0);
    console.showData(QByteArray(400, 'x') + "\r\n");
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestConsole::keysNeitherEditNorMoveCursor()
{
    Console console;
    console.showData("$PHLV,CMD\r\n$PHLV,TAVIX_OFFLINE,\r\n");
    const QString text = console.toPlainText();
    const int end = console.textCursor().position();
    QSignalSpy spy(&console, &Console::getData);

    const Qt::Key silent[]
        = { Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down };
    for (Qt::Key key : silent)
        QTest::keyClick(&console, key);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(console.toPlainText(), text);
    QCOMPARE(console.textCursor().position(), end);

    // Other keys are offered, not shown, and move nothing either.
    QTest::keyClick(&console, Qt::Key_A);
    QTest::keyClick(&console, Qt::Key_Home);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("a"));
    QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray());
    QCOMPARE(console.toPlainText(), text);
    QCOMPARE(console.textCursor().position(), end);

    // With local echo the letter is both shown and offered; the five silent
    // keys stay silent.
    spy.clear();
    console.setLocalEcho(true);
    QTest::keyClick(&console, 'Z');
    QTest::keyClick(&console, Qt::Key_Backspace);
    QTest::keyClick(&console, Qt::Key_Left);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("Z"));
    QCOMPARE(console.toPlainText(), text + "Z");
}

void TestConsole::mouseOnlyFocuses()
{
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *pane = new Console;
    auto *next_field = new QLineEdit;
    layout->addWidget(pane);
    layout->addWidget(next_field);
    Console &console = *pane;
    window.resize(400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    console.showData("$PHLV,000000,one two three\r\n$PHLV,000000,four five\r\n");
    const QString text = console.toPlainText();
    const int end = console.textCursor().position();
    const QPoint onFirstWord
        = console.cursorRect(QTextCursor(console.document())).center() + QPoint(20, 0);

    // A click takes the focus.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    console.clearFocus();
    QTest::mouseClick(console.viewport(), Qt::LeftButton, {}, onFirstWord);
    QVERIFY(console.hasFocus());

    // Neither the click, a double click nor a shift click moves the cursor
    // or selects.
    QTest::mouseDClick(console.viewport(), Qt::LeftButton, {}, onFirstWord);
    QTest::mouseClick(console.viewport(), Qt::LeftButton, Qt::ShiftModifier, QPoint(2, 2));
    QCOMPARE(console.textCursor().position(), end);
    QVERIFY(!console.textCursor().hasSelection());
    QCOMPARE(console.toPlainText(), text);

    // No context menu comes up.
    QContextMenuEvent menu_event(QContextMenuEvent::Mouse, onFirstWord,
                                 console.viewport()->mapToGlobal(onFirstWord));
    QApplication::sendEvent(console.viewport(), &menu_event);
    QTest::qWait(50);
    QWidget *popup = QApplication::activePopupWidget();
    if (popup)
        popup->close();
    QVERIFY(!popup);

    // Nothing dropped (or pasted with the middle button) reaches the pane,
    // and the next line lands at the end even once the cursor has moved.
    QMimeData dragged;
    dragged.setText(QStringLiteral("DROPPED"));
    QDropEvent drop(onFirstWord, Qt::CopyAction, &dragged, Qt::LeftButton, {});
    QApplication::sendEvent(console.viewport(), &drop);
    console.moveCursor(QTextCursor::Start);
    console.showData("$PHLV,NEW\r\n");
    QCOMPARE(console.toPlainText(), text + "$PHLV,NEW\n");

    // Tab and Shift+Tab take the focus out of the pane.
    QTest::keyClick(&console, Qt::Key_Tab);
    QVERIFY(next_field->hasFocus());
    console.setFocus();
    QTest::keyClick(&console, Qt::Key_Backtab, Qt::ShiftModifier);
    QVERIFY(!console.hasFocus());
    QCOMPARE(console.toPlainText(), text + "$PHLV,NEW\n");
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
