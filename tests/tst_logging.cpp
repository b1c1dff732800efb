// The CSV log: which received lines the window collects, the exact bytes of
// the saved file, the save step with its failures and second chances,
// closing while logging, the log button, and the spool behind it all.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QDir>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A window, already identified, whose save step takes its file names from a
// queue; once the queue is empty the user cancels.
struct LogWindow
{
    MainWindow w;
    QStringList names;
    int asked = 0;
    std::function<void()> while_asking; // runs inside the save step

    LogWindow()
    {
        w.setSaveNameAsker([this] {
            ++asked;
            if (while_asking)
                while_asking();
            return names.isEmpty() ? QString() : names.takeFirst();
        });
        w.process_line(wire::sernix_14);
    }
    QPushButton *button() { return child<QPushButton>(w, "logStartStopButton"); }
    void feed(const QList<QByteArray> &lines)
    {
        for (const QByteArray &line : lines)
            w.process_line(line);
    }
    // Starts a log, feeds the lines and saves them under the names given.
    void log(const QList<QByteArray> &lines, const QStringList &save_as)
    {
        if (!w.state().logging_on)
            button()->click();
        feed(lines);
        names = save_as;
        button()->click();
    }
};

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    // Each test gets a folder of its own, so no file outlives its test.
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
    }
    void fileHoldsLinesAsReceived();
    void eachLogHoldsOnlyItsOwnLines();
    void buttonShowsNextAction();
    void failedSaveOffersAnotherName_data();
    void failedSaveOffersAnotherName();
    void closingWhileLoggingOffersSave();
    void defaultSaveDialog();

private:
    QString path(const QString &name) const { return tmp->filePath(name); }
    std::unique_ptr<QTemporaryDir> tmp;
};

void TestLogging::fileHoldsLinesAsReceived()
{
    // Line ends as they came, the log's own line feed after each, text cut
    // at a zero byte, non-ASCII text and a byte that is not UTF-8.
    const QList<QByteArray> lines = {
        wire::status,
        "$PHLV,ACK,TX_LIMIT,OFF\r\n",
        wire::raw_frame,
        QByteArray("$PHLV,TAVIX_DEVICES,3\0,junk after the zero\r\n", 45),
        "$GPXDR,C,21.5,C,Kaj\xc3\xbcte \xc2\xb0\r\n",
        "$IIMTW,12.5,C\n",
        "$PHLV,RAW,\xff\r\n",
        "$PHLV,SHOW_BLACKLIST\r\n",
        "$PHLV,ACK,TX_LIMIT,ON\r\n",
    };
    const QByteArray golden = fileBytes(QStringLiteral(TAVIX_TEST_DATA_DIR "/log-golden.csv"));

    LogWindow lw;
    lw.log(lines, { path("log.csv") });
    QCOMPARE(fileBytes(path("log.csv")), golden);

    // The name and its extension change nothing: a ".zip" is the same text.
    lw.log(lines, { path("log.zip") });
    QCOMPARE(fileBytes(path("log.zip")), golden);

    // Started and stopped at once: an empty file, also over an existing one.
    QFile old(path("old.csv"));
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("an earlier log\r\n\n") > 0);
    old.close();
    lw.log({}, { path("old.csv") });
    QCOMPARE(fileBytes(path("old.csv")), QByteArray());
    QCOMPARE(lw.asked, 3);
}

void TestLogging::eachLogHoldsOnlyItsOwnLines()
{
    LogWindow lw;
    // Only received sentences are collected: no identity reply, nothing the
    // tool sends, nothing that is no sentence, and nothing that comes while
    // the save dialog is open.
    lw.button()->click();
    lw.feed({ wire::empty_status, wire::torvel_3, "no sentence\r\n", "\r\n", wire::sernix_14 });
    child<QPushButton>(lw.w, "restartButtonfromData")->click();
    lw.while_asking = [&lw] { lw.w.process_line("$PHLV,DURING_DIALOG\r\n"); };
    lw.log({ "$PHLV,FIRST\r\n" }, { path("first.csv") });
    lw.while_asking = nullptr;
    QCOMPARE(lw.w.state().log_lines.size(), 0);
    QCOMPARE(fileBytes(path("first.csv")), wire::empty_status + "\n$PHLV,FIRST\r\n\n");

    lw.feed({ "$PHLV,BETWEEN\r\n" });
    lw.log({ "$PHLV,SECOND,1\r\n" }, { path("second.csv") });
    QCOMPARE(fileBytes(path("second.csv")), QByteArray("$PHLV,SECOND,1\r\n\n"));

    // Cancelling discards the log, with no message, and the next log starts
    // empty.
    ModalCloser boxes;
    lw.log({ "$PHLV,CANCELLED,1\r\n", "$PHLV,CANCELLED,2\r\n" }, {});
    QCOMPARE(lw.w.state().log_lines.size(), 0);
    lw.log({ "$PHLV,THIRD,1\r\n" }, { path("third.csv") });
    QCOMPARE(fileBytes(path("third.csv")), QByteArray("$PHLV,THIRD,1\r\n\n"));
    QCOMPARE(lw.asked, 4);
    QVERIFY(boxes.titles.isEmpty());
}

void TestLogging::buttonShowsNextAction()
{
    LogWindow lw;
    QPushButton *b = lw.button();
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QVERIFY(!b->autoFillBackground());
    // The button's solid background in every colour group.
    const auto background = [b] {
        QVector<QColor> colours;
        for (auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
            const QBrush brush = b->palette().brush(group, QPalette::Button);
            colours << (brush.style() == Qt::SolidPattern && b->autoFillBackground() ? brush.color()
                                                                                     : QColor());
        }
        return colours;
    };

    b->click();
    QVERIFY(lw.w.state().logging_on);
    QCOMPARE(b->text(), QStringLiteral("LOG OFF"));
    QCOMPARE(background(), QVector<QColor>(3, Qt::red));
    b->click(); // the save is cancelled
    QVERIFY(!lw.w.state().logging_on);
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QCOMPARE(background(), QVector<QColor>(3, Qt::white));
}

void TestLogging::failedSaveOffersAnotherName_data()
{
    QTest::addColumn<QString>("bad_name"); // relative names lie in the test's folder
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing folder") << "no-such-folder/log.csv" << 3 << systemError(ENOENT);
    QTest::newRow("full device, small log") << "/dev/full" << 3 << systemError(ENOSPC);
    // Larger than any write buffer: the failure comes in the middle of the copy.
    QTest::newRow("full device, large log") << "/dev/full" << 20000 << systemError(ENOSPC);
}

void TestLogging::failedSaveOffersAnotherName()
{
    QFETCH(QString, bad_name);
    QFETCH(int, lines);
    QFETCH(QString, error);
    const QString bad = bad_name.startsWith(QLatin1Char('/')) ? bad_name : path(bad_name);

    LogWindow lw;
    QList<QByteArray> input;
    QByteArray expected;
    for (int i = 0; i < lines; ++i) {
        input << "$PHLV,LINE," + QByteArray::number(i) + "\r\n";
        expected += input.last() + '\n';
    }

    ModalCloser boxes;
    lw.log(input, { bad, path("good.csv") });
    QCOMPARE(lw.asked, 2);
    QCOMPARE(boxes.titles, QStringList{ QStringLiteral("Error saving CSV file") });
    QVERIFY2(boxes.texts.first().contains(error), qPrintable(boxes.texts.first()));
    QVERIFY2(boxes.texts.first().contains(QDir::toNativeSeparators(bad)),
             qPrintable(boxes.texts.first()));
    QCOMPARE(fileBytes(path("good.csv")), expected);

    // Giving up after a failure discards the log; the next one starts empty.
    lw.log(input, { bad });
    QCOMPARE(lw.asked, 4);
    QCOMPARE(boxes.titles.size(), 2);
    QVERIFY(!lw.w.state().logging_on);
    lw.log({ wire::status }, { path("next.csv") });
    QCOMPARE(fileBytes(path("next.csv")), wire::status + '\n');
}

void TestLogging::closingWhileLoggingOffersSave()
{
    // Logging: the log is saved on the way out, or, cancelled, the window
    // closes all the same. Not logging: nothing to save, nothing asked.
    for (const QString &name : { path("closing.csv"), QString() }) {
        LogWindow lw;
        lw.w.show();
        lw.button()->click();
        lw.feed({ wire::status, wire::raw_frame });
        lw.names = QStringList{ name };
        QVERIFY(lw.w.close());
        QCOMPARE(lw.asked, 1);
    }
    QCOMPARE(fileBytes(path("closing.csv")), wire::status + '\n' + wire::raw_frame + '\n');
    LogWindow lw;
    lw.w.show();
    lw.log({ wire::status }, { path("saved.csv") });
    QVERIFY(lw.w.close());
    QCOMPARE(lw.asked, 1);
}

void TestLogging::defaultSaveDialog()
{
    // The proposed name is relative: it lands in the working folder.
    struct WorkingFolder
    {
        const QString old = QDir::currentPath();
        ~WorkingFolder() { QDir::setCurrent(old); }
    } restore;
    QVERIFY(QDir::setCurrent(tmp->path()));
    MainWindow w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.process_line(wire::sernix_14);

    // The dialog is looked at from inside its own event loop, then cancelled.
    QStringList seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            seen << dialog->windowTitle() << dialog->selectedFiles()
                 << dialog->nameFilters().join(";;")
                 << (dialog->acceptMode() == QFileDialog::AcceptSave ? "save" : "open");
            dialog->reject();
        }
    });
    poll.start(20);

    auto *button = child<QPushButton>(w, "logStartStopButton");
    button->click();
    w.process_line(wire::status);
    button->click();
    QCOMPARE(seen,
             QStringList({ "Save CSV file", QDir(tmp->path()).absoluteFilePath("test.csv"),
                           "CSV files (*.csv)", "save" }));
    QVERIFY(!QFile::exists(path("test.csv")));
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
