#pragma once

#include <QByteArray>
#include <QPlainTextEdit>

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

signals:
    void getData(const QByteArray &data);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;

private:
    bool local_echo = false;
};
