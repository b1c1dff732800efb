#pragma once

#include <QByteArray>
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

    void showData(const QByteArray &data);
    void setLocalEcho(bool on);

    // While a Batch lives, what showData() is given goes into the pane in
    // one insert when the outermost Batch ends: a burst of lines then costs
    // the pane one layout pass instead of one per line. Nothing is painted
    // in between, so the user sees the same.
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
    void contextMenuEvent(QContextMenuEvent *e) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void insertNow(const QString &text);
    void dropOldestBlocks();
    void paceRepaints();

    bool local_echo = false;
    int batch_depth = 0;
    // What the current batch was given, in pieces that are inserted one
    // after the other; empty while nothing was given.
    QStringList batch_texts;
    QTimer repaint_frame; // runs for a frame after the pane was let repaint
};
