#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>

// The traffic pane of the data tab: an output-only display of every line the
// tool sends or accepts. It keeps only the newest lines and always follows the
// newest one. Typed keys are never sent anywhere by the window; they are
// offered through getData() for a caller that wants an interactive terminal.
class Console : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit Console(QWidget *parent = nullptr);

    // Shows the text at once when the pane is quiet. While text keeps
    // coming it waits, with whatever else comes, for the end of a repaint
    // frame and goes in with it in one insert. The pane is repainted once a
    // frame anyway, so the user sees it no later; a busy link costs one
    // insert a frame rather than one a read.
    void showData(const QByteArray &data);
    void setLocalEcho(bool on);

    // Text given to showData() that waits for the end of the frame.
    bool hasWaitingText() const { return !waiting.isEmpty(); }

    // While a Batch lives, what showData() is given waits for the outermost
    // Batch to end (and then for the frame, if one is open).
    class Batch
    {
    public:
        explicit Batch(Console *console);
        ~Batch();
        Batch(const Batch &) = delete;
        Batch &operator=(const Batch &) = delete;

    private:
        Console *const console;
    };

signals:
    void getData(const QByteArray &data);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void inputMethodEvent(QInputMethodEvent *e) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void insertWhenDue();
    void insertWaiting();
    // Returns the line ends in what still waits (max_blocks at most).
    int dropWaitingBeyondPane();
    void insertNow(const QString &text);
    void dropOldestBlocks();

    bool local_echo = false;
    int batch_depth = 0;
    // What waits to be shown, in pieces that are inserted one after the
    // other; empty while nothing waits. waiting_size counts its characters.
    QStringList waiting;
    int waiting_size = 0;
    QTimer frame; // runs while waiting text is due to go in
    QElapsedTimer pace_clock;
    qint64 paced_until = 0; // pace_clock time by which the inserts so far are paid for
    qint64 last_insert_at = 0; // pace_clock time of the last insert
};
