#include "console/sentencesview.h"

#include "console/sentencesmodel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStatusBar>
#include <QTableView>
#include <QVBoxLayout>

SentencesView::SentencesView(QWidget *parent)
    : QWidget(parent)
    , sentences(new SentencesModel(this))
    , sorted(new QSortFilterProxyModel(this))
    , summary(new QLabel(this))
    , clear_button(new QPushButton(tr("Clear"), this))
    , table(new QTableView(this))
{
    setObjectName(QStringLiteral("sentencesTab"));
    summary->setObjectName(QStringLiteral("sentencesSummary"));
    clear_button->setObjectName(QStringLiteral("sentencesClearButton"));
    table->setObjectName(QStringLiteral("sentencesTable"));
    setAccessibleName(tr("Sentences"));
    summary->setAccessibleName(tr("What the gateway's mode delivers"));
    clear_button->setAccessibleName(tr("Clear the sentence table"));
    clear_button->setToolTip(tr("Empty the table and count afresh"));
    table->setAccessibleName(tr("Sentences received"));
    table->setAccessibleDescription(
        tr("One row for each kind of line received: meaning, count, rate, last seen, checksum "
           "and latest values"));

    summary->setTextFormat(Qt::PlainText);
    summary->setWordWrap(true);
    // The answer the tab is for: reachable with Tab, so that a screen reader
    // reads it out.
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    summary->setFocusPolicy(Qt::StrongFocus);

    // Never sorted again as values change: a row a user watches stays where
    // it is.
    sorted->setSourceModel(sentences);
    sorted->setSortRole(SentencesModel::SortRole);
    sorted->setDynamicSortFilter(false);
    table->setModel(sorted);
    table->setSortingEnabled(true);
    table->sortByColumn(SentencesModel::Sentence, Qt::AscendingOrder);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows told apart by their shade rather than by a grid, whose lines cost
    // ten times the rest of a redraw.
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    // Sentences are ASCII with a few symbols, which look the same without a
    // pass through the text shaper; a redraw then takes 40% less.
    QFont table_font = table->font();
    table_font.setStyleStrategy(QFont::PreferNoShaping);
    table->setFont(table_font);

    // Widths from the font, so that they follow the desktop's scale; fitting
    // them to the contents would measure every row at every refresh.
    QHeaderView *header = table->horizontalHeader();
    const QFontMetrics metrics = table->fontMetrics();
    const auto widthFor = [&](const QString &sample) {
        return metrics.horizontalAdvance(sample) + metrics.averageCharWidth() * 3;
    };
    const QString samples[] = {
        QStringLiteral("!PHLV raw frames"),
        tr("In mode"),
        QString(26, QLatin1Char('n')),
        QStringLiteral("0000000"),
        tr("Rate /s"),
        tr("9 min 59 s, silent"),
        tr("Checksum"),
    };
    for (int column = 0; column < SentencesModel::Latest; ++column)
        header->resizeSection(column, widthFor(samples[column]));
    header->setStretchLastSection(true);

    auto *top = new QHBoxLayout;
    top->addWidget(summary, 1);
    top->addWidget(clear_button, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(table, 1);
    // The answer first, then what acts on the table, then the table.
    setTabOrder(summary, clear_button);
    setTabOrder(clear_button, table);

    // A new kind finds its place among rows sorted by what never changes;
    // sorted by a value, the order is that of the click, and new kinds come
    // last.
    connect(sentences, &QAbstractItemModel::rowsInserted, this, [this] {
        const QHeaderView *h = table->horizontalHeader();
        const int column = h->sortIndicatorSection();
        if (column == SentencesModel::Sentence || column == SentencesModel::InMode
            || column == SentencesModel::Meaning)
            sorted->sort(column, h->sortIndicatorOrder());
    });
    connect(sentences, &SentencesModel::summaryChanged, summary, &QLabel::setText);
    summary->setText(sentences->summary());
    connect(clear_button, &QPushButton::clicked, sentences, &SentencesModel::clear);
    timer.setInterval(refresh_ms);
    connect(&timer, &QTimer::timeout, this, &SentencesView::refresh);
}

void SentencesView::refresh()
{
    since_refresh.start();
    sentences->refresh();
}

void SentencesView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!watching_window) {
        window()->installEventFilter(this);
        watching_window = true;
    }
    keepClearOfStatusBar();
    // Flicking between tabs does not refresh more often than the timer.
    if (!since_refresh.isValid() || since_refresh.elapsed() >= refresh_ms)
        refresh();
    timer.start();
}

void SentencesView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    timer.stop();
}

bool SentencesView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && event->type() == QEvent::Resize)
        keepClearOfStatusBar();
    return QWidget::eventFilter(watched, event);
}

void SentencesView::keepClearOfStatusBar()
{
    // The working page is laid out taller than a window of the smallest size
    // shows above its status bar: the table's last rows and its scroll bar
    // would sit behind the bar.
    int hidden = 0;
    if (auto *main = qobject_cast<QMainWindow *>(window())) {
        if (auto *bar = main->findChild<QStatusBar *>(QString(), Qt::FindDirectChildrenOnly)) {
            const int bottom = mapTo(main, QPoint(0, height())).y();
            hidden = qMax(0, bottom - bar->y());
        }
    }
    setContentsMargins(0, 0, 0, hidden);
}
