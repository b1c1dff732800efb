#include "console/console.h"

#include <QKeyEvent>
#include <QPalette>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

// A busy link brings thousands of lines a second; beyond this many blocks the
// oldest are dropped so that the document never grows.
constexpr int max_blocks = 100;

// Each new line moves every visible line up, so each insert costs a layout
// pass and the scroll bar's work, and the repaint after it redraws the whole
// pane; a busy link would have both done hundreds of times a second. While
// text keeps coming it goes in, and the pane is repainted, once a frame of
// this length; text after a quiet spell goes in at once.
constexpr int frame_ms = 40;
// Lines that pass faster than anyone can read them (each stays in view for
// less than reading_ms) make a blur however often the pane moves; then it
// moves a page at a time, once a frame of flood_frame_ms, at well under half
// the cost. The newest line is still on screen within that frame.
constexpr int reading_ms = 250;
constexpr int flood_frame_ms = 100;
// After a quiet spell this many inserts may follow one another without
// waiting out a frame, so that a line coming right after another (a status
// sentence and a data line) is not held back either; a steady stream still
// goes in once a frame.
constexpr int burst_inserts = 2;

// Beyond this many waiting characters the waiting text is cut to what the
// pane can still show, so that a flood cannot make it grow.
constexpr int waiting_limit = 256 * 1024;

} // namespace

Console::Console(QWidget *parent)
    : QPlainTextEdit(parent)
{
    document()->setMaximumBlockCount(max_blocks);

    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::Text, Qt::black);
    setPalette(p);

    // Output only: no input method's text (a dead key, a compose sequence,
    // IBus) and nothing the user pastes or drops reaches the pane, a drag
    // moves no cursor, a screen reader announces it as text that cannot be
    // edited, and Tab leaves it like any other output field instead of
    // trapping the keyboard. Read-only sees to all of it, while key presses
    // still come to keyPressEvent(); the drop and paste refusals below and
    // Tab's focus change keep it so with local echo on, which makes the
    // pane editable.
    setAcceptDrops(false);
    setTabChangesFocus(true);
    setReadOnly(true);

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

    frame.setSingleShot(true);
    pace_clock.start();
    connect(&frame, &QTimer::timeout, this, [this] {
        // Inside a Batch, the Batch's end lets the text in.
        if (batch_depth == 0 && !waiting.isEmpty())
            insertWaiting();
    });
}

void Console::showData(const QByteArray &data)
{
    // Lines are shown up to a stray NUL, as everywhere else in the tool.
    const void *nul = std::memchr(data.constData(), '\0', size_t(data.size()));
    const int size = nul ? int(static_cast<const char *>(nul) - data.constData()) : data.size();
    const QString text = QString::fromUtf8(data.constData(), size);
    // A CR ending one insert and an LF starting the next end two lines;
    // joined they would end one, so they go in as two.
    if (waiting.isEmpty()
        || (waiting.last().endsWith(QLatin1Char('\r')) && text.startsWith(QLatin1Char('\n'))))
        waiting.append(text);
    else
        waiting.last() += text;
    waiting_size += text.size();
    if (batch_depth == 0 && !frame.isActive())
        insertWhenDue();
    else if (waiting_size > waiting_limit)
        dropWaitingBeyondPane();
}

void Console::insertWhenDue()
{
    // Each insert takes a frame of the pane's time; up to burst_inserts
    // frames may be taken ahead.
    const qint64 now = pace_clock.elapsed();
    const qint64 due = std::max(paced_until, now) - (burst_inserts - 1) * frame_ms;
    if (due <= now)
        insertWaiting();
    else
        frame.start(int(due - now));
}

void Console::insertWaiting()
{
    const int lines = dropWaitingBeyondPane();
    const QStringList texts = std::exchange(waiting, QStringList());
    waiting_size = 0;
    for (const QString &text : texts)
        insertNow(text);
    const qint64 now = pace_clock.elapsed();
    // The lines of this insert came in since the last one (a frame at
    // least): at that rate, how long does a line stay in view?
    const qint64 span = std::max<qint64>(now - last_insert_at, frame_ms);
    const int in_view
        = std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
    const bool flood = qint64(in_view) * span < qint64(lines) * reading_ms;
    last_insert_at = now;
    paced_until = std::max(paced_until, now) + (flood ? flood_frame_ms : frame_ms);
}

int Console::dropWaitingBeyondPane()
{
    // The pane ends up with the text after the last max_blocks line ends;
    // what comes before them would be inserted only to be removed again.
    int ends = 0;
    for (int i = waiting.size(); i-- > 0;) {
        const QString &piece = waiting.at(i);
        for (int j = piece.size(); j-- > 0;) {
            const QChar c = piece.at(j);
            if (c != QLatin1Char('\n') && c != QLatin1Char('\r'))
                continue;
            if (c == QLatin1Char('\n') && j > 0 && piece.at(j - 1) == QLatin1Char('\r'))
                --j;
            if (++ends < max_blocks)
                continue;
            // Kept from this line end on, which ends whatever line the pane
            // shows last.
            if (i == 0 && j == 0)
                return ends;
            waiting.erase(waiting.begin(), waiting.begin() + i);
            waiting.first().remove(0, j);
            waiting_size = 0;
            for (const QString &kept : qAsConst(waiting))
                waiting_size += kept.size();
            return ends;
        }
    }
    return ends;
}

void Console::insertNow(const QString &text)
{
    // Always at the end of the document, not at the widget's cursor: text
    // must keep landing at the bottom whatever the user did to the cursor.
    // The block limit is kept here rather than by the document, which would
    // lay out the oldest line once more just to remove it; it is back in
    // force before this returns.
    QTextDocument *doc = document();
    QScrollBar *bar = verticalScrollBar();
    // A full pane grows by the new lines and shrinks back: the scroll bar's
    // range moves and returns, and would have the bar and what lies under
    // it repainted for nothing. It is repainted only if it ends up changed.
    const auto barState = [bar] {
        return std::make_tuple(bar->minimum(), bar->maximum(), bar->pageStep(), bar->value());
    };
    const auto bar_before = barState();
    const bool bar_quiet = bar->updatesEnabled();
    if (bar_quiet)
        bar->setUpdatesEnabled(false);
    doc->setMaximumBlockCount(0);
    // Placed from the last block: a cursor moved there from the start would
    // lay out the first line, which is out of view, on every insert.
    QTextCursor end(doc->lastBlock());
    end.movePosition(QTextCursor::EndOfBlock);
    end.insertText(text);
    dropOldestBlocks();
    doc->setMaximumBlockCount(max_blocks);
    bar->setValue(bar->maximum());
    if (bar_quiet) {
        if (barState() == bar_before) {
            // Enabled again without the repaint that setUpdatesEnabled asks for.
            bar->setAttribute(Qt::WA_ForceUpdatesDisabled, false);
            bar->setAttribute(Qt::WA_UpdatesDisabled, false);
        } else {
            bar->setUpdatesEnabled(true);
        }
    }
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

Console::Batch::Batch(Console *console)
    : console(console)
{
    ++console->batch_depth;
}

Console::Batch::~Batch()
{
    if (--console->batch_depth > 0)
        return;
    if (console->hasWaitingText() && !console->frame.isActive())
        console->insertWhenDue();
}

void Console::setLocalEcho(bool on)
{
    local_echo = on;
    // A console that echoes keys is edited by them, an input method's text
    // included.
    setReadOnly(!on);
}

// Read-only is not enough on every toolkit version: Qt 6 still offers a
// read-only pane to input methods and lets their text in at the cursor.
void Console::inputMethodEvent(QInputMethodEvent *e)
{
    if (local_echo)
        QPlainTextEdit::inputMethodEvent(e);
    else
        e->ignore();
}

QVariant Console::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query == Qt::ImEnabled && !local_echo)
        return false;
    return QPlainTextEdit::inputMethodQuery(query);
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
        else
            e->ignore(); // on to the window: Ctrl+Tab turns to the other tab
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
