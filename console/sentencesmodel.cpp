#include "console/sentencesmodel.h"

#include "protocol/modes.h"
#include "protocol/sentencevalues.h"

#include <QBrush>
#include <QPalette>

using namespace tavix;

namespace {

// "0.4 s", "12 s", "3 min 4 s", "2 h 5 min": how long ago, as precisely as
// anyone cares at that distance.
QString ago(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (ms < 10000)
        return SentencesModel::tr("%1 s").arg(double(ms) / 1000, 0, 'f', 1);
    if (s < 60)
        return SentencesModel::tr("%1 s").arg(s);
    if (s < 3600)
        return SentencesModel::tr("%1 min %2 s").arg(s / 60).arg(s % 60);
    return SentencesModel::tr("%1 h %2 min").arg(s / 3600).arg(s / 60 % 60);
}

// The newest line for its tooltip: what came, without the line end.
QString lineText(const QByteArray &line)
{
    QByteArray l = line;
    while (l.endsWith('\n') || l.endsWith('\r'))
        l.chop(1);
    return kindText(l);
}

} // namespace

SentencesModel::SentencesModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    clock.start();
    updateSummary(0);
}

void SentencesModel::clear()
{
    beginResetModel();
    tally.clear();
    shown.clear();
    endResetModel();
    updateSummary(clock.elapsed());
}

void SentencesModel::setConversionMode(int m)
{
    mode = m;
}

void SentencesModel::refresh()
{
    const qint64 now = clock.elapsed();
    const std::vector<KindStats> &rows = tally.rows();
    const int published = int(shown.size());
    const int total = int(rows.size());
    if (total > published) {
        beginInsertRows(QModelIndex(), published, total - 1);
        shown.resize(std::size_t(total));
        for (int i = published; i < total; ++i) {
            Shown &s = shown[std::size_t(i)];
            const QByteArray &kind = rows[std::size_t(i)].kind;
            s.formatter = formatterOf(kind);
            s.sentence = kindText(kind);
            s.meaning = kindMeaning(kind);
        }
        endInsertRows();
    }
    const QList<QByteArray> listed = modeSentences(mode);
    for (int i = 0; i < total; ++i) {
        const KindStats &k = rows[std::size_t(i)];
        Shown &s = shown[std::size_t(i)];
        // Only a row that got lines has new values to read.
        if (s.count != k.count) {
            s.count = k.count;
            s.bad = k.bad;
            s.checksum_ok = k.last_checksum == tavix::Checksum::Ok;
            s.checksum = k.bad > 0 ? tr("BAD %1").arg(k.bad)
                : s.checksum_ok    ? tr("ok")
                                   : tr("none");
            s.latest = sentenceValues(k.latest);
            if (k.last_checksum == tavix::Checksum::Bad)
                s.latest += tr(" (checksum BAD: may be wrong)");
            s.latest_line = lineText(k.latest);
        }
        s.rate = SentenceTally::rate(k, now);
        s.age_ms = now - k.last_ms;
        s.silent = SentenceTally::silent(k, now);
        s.listed = listed.isEmpty() ? mode == 15 && k.kind == kind::raw_frames
                                    : !s.formatter.isEmpty() && listed.contains(s.formatter);
    }
    if (total > 0)
        emit dataChanged(index(0, InMode), index(total - 1, Latest));
    updateSummary(now);
}

void SentencesModel::updateSummary(qint64 now_ms)
{
    if (mode < 0) {
        summary_text = tr("No gateway has identified itself yet: the table fills with the lines "
                          "it sends once it has.");
    } else {
        // A formatter counts as seen from any talker, and as silent only when
        // every talker that sent it has gone quiet.
        QList<QByteArray> seen, active;
        quint64 raw_frames = 0;
        for (const KindStats &k : tally.rows()) {
            const QByteArray formatter = formatterOf(k.kind);
            if (!formatter.isEmpty()) {
                seen << formatter;
                if (!SentenceTally::silent(k, now_ms))
                    active << formatter;
            }
            if (k.kind == kind::raw_frames)
                raw_frames = k.count;
        }
        QList<QByteArray> silent;
        for (const QByteArray &f : qAsConst(seen)) {
            if (!active.contains(f))
                silent << f;
        }
        summary_text = modeCoverage(mode, seen, silent, raw_frames);
    }
    emit summaryChanged(summary_text);
}

int SentencesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(shown.size());
}

int SentencesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SentencesModel::display(const Shown &s, int column) const
{
    switch (column) {
    case Sentence:
        return s.sentence;
    case InMode:
        return s.listed ? tr("listed") : tr("no");
    case Meaning:
        return s.meaning;
    case Count:
        return QString::number(s.count);
    case Rate:
        return QString::number(s.silent ? 0.0 : s.rate, 'f', 1);
    case Last:
        return s.silent ? tr("%1, silent").arg(ago(s.age_ms)) : ago(s.age_ms);
    case Checksum:
        return s.checksum;
    case Latest:
        return s.latest;
    }
    return QVariant();
}

QVariant SentencesModel::sortValue(const Shown &s, int column) const
{
    switch (column) {
    case InMode:
        return s.listed;
    case Count:
        return s.count;
    case Rate:
        return s.silent ? 0.0 : s.rate;
    case Last:
        return s.age_ms;
    case Checksum:
        // Bad ones first when sorted down, by how many; then ok, then none.
        return s.bad > 0 ? double(s.bad) + 1 : s.checksum_ok ? 1.0 : 0.0;
    default:
        return display(s, column);
    }
}

QVariant SentencesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= int(shown.size()))
        return QVariant();
    const Shown &s = shown[std::size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return display(s, index.column());
    case SortRole:
        return sortValue(s, index.column());
    case Qt::ToolTipRole:
        if (index.column() == Latest)
            return s.latest_line;
        if (index.column() == Meaning)
            return s.meaning;
        return QVariant();
    case Qt::TextAlignmentRole:
        // Numbers line up on the right; with no grid, the checksum in the
        // middle keeps the age and the values apart.
        if (index.column() == Count || index.column() == Rate || index.column() == Last)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        if (index.column() == Checksum)
            return int(Qt::AlignCenter);
        return QVariant();
    case Qt::ForegroundRole:
        // Colour repeats what the words say: "BAD n", and "silent" with a
        // rate of 0.0.
        if (index.column() == Checksum && s.bad > 0)
            return QBrush(Qt::red);
        if (s.silent)
            return QPalette().brush(QPalette::Disabled, QPalette::Text);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant SentencesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[] = {
        QT_TR_NOOP("Sentence"), QT_TR_NOOP("In mode"), QT_TR_NOOP("Meaning"),  QT_TR_NOOP("Count"),
        QT_TR_NOOP("Rate /s"),  QT_TR_NOOP("Last"),    QT_TR_NOOP("Checksum"), QT_TR_NOOP("Latest"),
    };
    return section >= 0 && section < ColumnCount ? tr(titles[section]) : QVariant();
}
