#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

QT_BEGIN_NAMESPACE
class QLabel;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
QT_END_NAMESPACE

class SentencesModel;

// The Sentences tab: one line that answers, for the gateway's mode, whether
// what the mode delivers comes through, and below it a sortable table of
// every kind of line received. It refreshes at most twice a second, and
// only while it is shown.
class SentencesView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int refresh_ms = 500;

    explicit SentencesView(QWidget *parent = nullptr);

    SentencesModel *model() const { return sentences; }
    // Shows what has been counted up to now.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void keepClearOfStatusBar();

    SentencesModel *sentences;
    QSortFilterProxyModel *sorted;
    QLabel *summary;
    QPushButton *clear_button;
    QTableView *table;
    QTimer timer;
    QElapsedTimer since_refresh;
    bool watching_window = false;
};
