#include "console/console.h"

#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTextCursor>

namespace {

// A busy link brings thousands of lines a second; beyond this many blocks the
// oldest are dropped so that the document never grows.
constexpr int max_blocks = 100;

} // namespace

Console::Console(QWidget *parent)
    : QPlainTextEdit(parent)
{
    document()->setMaximumBlockCount(max_blocks);

    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);
}

void Console::showData(const QByteArray &data)
{
    // Lines are shown up to a stray NUL, as everywhere else in the tool.
    const int nul = data.indexOf('\0');
    const QString text = QString::fromUtf8(data.constData(), nul < 0 ? data.size() : nul);

    // The widget's own cursor is the insertion point: without local echo the
    // user has no way to move it, so this appends. One insert keeps the cost
    // per line flat; the block limit trims the top inside the same edit.
    insertPlainText(text);

    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void Console::setLocalEcho(bool on)
{
    local_echo = on;
}

void Console::keyPressEvent(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        // Neither edited, echoed nor offered: they would move the cursor away
        // from the end, where incoming text must keep landing.
        return;
    default:
        if (local_echo)
            QPlainTextEdit::keyPressEvent(e);
        emit getData(e->text().toLocal8Bit());
    }
}

void Console::mousePressEvent(QMouseEvent *e)
{
    // A click must not move the cursor or start a selection, only take focus.
    Q_UNUSED(e)
    setFocus(Qt::OtherFocusReason);
}

void Console::mouseDoubleClickEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
}

void Console::contextMenuEvent(QContextMenuEvent *e)
{
    Q_UNUSED(e)
}
