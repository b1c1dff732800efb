#pragma once

#include "console/sentencetally.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>

#include <vector>

// The rows of the Sentences tab: one per kind of line received, with what
// the kind means, how many came, how often, how lately, whether their
// checksums held and what the newest one says. Lines are counted as they
// come (note()); the rows the views see change only at refresh(), so that a
// busy link costs the bookkeeping alone while nobody looks.
class SentencesModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { Sentence, InMode, Meaning, Count, Rate, Last, Checksum, Latest, ColumnCount };
    // A cell's value for sorting: numbers as numbers.
    static constexpr int SortRole = Qt::UserRole;

    explicit SentencesModel(QObject *parent = nullptr);

    // Counts one received line; called for every line the window accepts.
    void note(const QByteArray &line) { tally.note(line, clock.elapsed()); }
    // Forgets every row; the mode stays.
    void clear();
    // The gateway's conversion mode, which decides the kinds marked as
    // listed and the summary; -1 while no gateway has identified itself.
    void setConversionMode(int mode);

    // Brings the rows and the summary up to the lines noted so far.
    void refresh();
    QString summary() const { return summary_text; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    void summaryChanged(const QString &text);

private:
    // A row as last refreshed.
    struct Shown
    {
        QByteArray formatter;
        QString sentence;
        QString meaning;
        quint64 count = 0;
        quint64 bad = 0;
        bool checksum_ok = false; // the newest line's
        QString checksum;
        QString latest;
        QString latest_line;
        double rate = 0;
        qint64 age_ms = 0;
        bool silent = false;
        bool listed = false;
    };
    QVariant display(const Shown &s, int column) const;
    QVariant sortValue(const Shown &s, int column) const;
    void updateSummary(qint64 now_ms);

    tavix::SentenceTally tally;
    std::vector<Shown> shown;
    QElapsedTimer clock;
    int mode = -1;
    QString summary_text;
};
