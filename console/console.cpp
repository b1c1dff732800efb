#include "console/console.h"

#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <utility>

namespace {

// A busy link brings thousands of lines a second; beyond this many blocks the
// oldest are dropped so that the document never grows.
constexpr int max_blocks = 100;

// Each new line moves every visible line up, so each repaint redraws the
// whole pane; a busy link would have it repainted hundreds of times a
// second. While lines keep coming the pane is repainted at most once a
// frame of this length; a line after a quiet spell is drawn at once.
constexpr int repaint_frame_ms = 40;

} // namespace

Console::Console(QWidget *parent)
    : QPlainTextEdit(parent)
{
    document()->setMaximumBlockCount(max_blocks);

    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);

    // Output only: nothing the user pastes or drops reaches the pane, and
    // Tab leaves it like any other output field instead of trapping the
    // keyboard.
    setAcceptDrops(false);
    setTabChangesFocus(true);

    // The toolkit shapes a line's text to lay it out and by default throws
    // the result away, so every repaint shaped every visible line again.
    // The pane holds a hundred short lines at most: keep it. Set before the
    // new blocks are laid out, which happens right after this signal.
    connect(document(), &QTextDocument::contentsChange, this, [this](int from, int, int added) {
        const QTextBlock last = document()->findBlock(from + added);
        for (QTextBlock b = document()->findBlock(from); b.isValid(); b = b.next()) {
            b.layout()->setCacheEnabled(true);
            if (b == last)
                break;
        }
    });

    repaint_frame.setSingleShot(true);
    repaint_frame.setInterval(repaint_frame_ms);
    connect(&repaint_frame, &QTimer::timeout, this, [this] {
        if (viewport()->updatesEnabled())
            return; // nothing came during the frame
        // Repaints with everything that came during the frame.
        viewport()->setUpdatesEnabled(true);
        verticalScrollBar()->setUpdatesEnabled(true);
        repaint_frame.start();
    });
}

void Console::showData(const QByteArray &data)
{
    // Lines are shown up to a stray NUL, as everywhere else in the tool.
    const int nul = data.indexOf('\0');
    const QString text = QString::fromUtf8(data.constData(), nul < 0 ? data.size() : nul);
    if (batch_depth == 0) {
        insertNow(text);
        return;
    }
    // A CR ending one insert and an LF starting the next end two lines;
    // joined they would end one, so they go in as two.
    if (batch_texts.isEmpty()
        || (batch_texts.last().endsWith(QLatin1Char('\r')) && text.startsWith(QLatin1Char('\n'))))
        batch_texts.append(text);
    else
        batch_texts.last() += text;
}

void Console::insertNow(const QString &text)
{
    // Decided before the insert marks the pane for repainting.
    paceRepaints();

    // Always at the end of the document, not at the widget's cursor: text
    // must keep landing at the bottom whatever the user did to the cursor.
    // The block limit is kept here rather than by the document, which would
    // lay out the oldest line once more just to remove it; it is back in
    // force before this returns.
    QTextDocument *doc = document();
    doc->setMaximumBlockCount(0);
    QTextCursor end(doc);
    end.movePosition(QTextCursor::End);
    end.insertText(text);
    dropOldestBlocks();
    doc->setMaximumBlockCount(max_blocks);

    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void Console::dropOldestBlocks()
{
    QTextDocument *doc = document();
    const int excess = doc->blockCount() - max_blocks;
    if (excess <= 0)
        return;
    // Inside an edit block the cursor does not lay out the lines it moves
    // over.
    QTextCursor top(doc);
    top.beginEditBlock();
    top.setPosition(doc->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
    top.removeSelectedText();
    top.endEditBlock();
}

void Console::paceRepaints()
{
    if (!repaint_frame.isActive()) {
        repaint_frame.start(); // this insert is drawn at once
    } else if (viewport()->updatesEnabled()) {
        // Held until the frame ends. The frame around the pane is left
        // alone: repainting it costs as much as the lines.
        viewport()->setUpdatesEnabled(false);
        verticalScrollBar()->setUpdatesEnabled(false);
    }
}

Console::Batch::Batch(Console *console)
    : console(console)
{
    ++console->batch_depth;
}

Console::Batch::~Batch()
{
    if (--console->batch_depth > 0)
        return;
    const QStringList texts = std::exchange(console->batch_texts, QStringList());
    for (const QString &text : texts)
        console->insertNow(text);
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

// A middle click (the X11 selection) and a drop both come here.
bool Console::canInsertFromMimeData(const QMimeData *source) const
{
    Q_UNUSED(source)
    return false;
}

void Console::insertFromMimeData(const QMimeData *source)
{
    Q_UNUSED(source)
}
