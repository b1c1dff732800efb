// The CSV log seen from the window: which received lines it collects, the
// exact bytes of the saved file, the save step with its failures and second
// chances, closing while logging, and the log button.
#include "app/mainwindow.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace {

const QByteArray sernix_identity = "$PHLV,Halvane_Sernix,FW 2.1.0:14*3C\r\n";
const QByteArray torvel_identity = "$PHLV,Halvane_Torvel,FW 1.4.2:3*2B\r\n";
const QByteArray status_line = "$PHLV,000000,12,0,5,3601,34\r\n";
const QByteArray raw_frame = "!PHLV,127250,1,AAAA\r\n";

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll()
                                       : QByteArray("<cannot read " + path.toUtf8() + ">");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// A window whose save step takes its file names from a queue; once the queue
// is empty the user cancels.
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
    }
    QPushButton *button()
    {
        return w.findChild<QPushButton *>(QStringLiteral("logStartStopButton"));
    }
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
    void startAndStopAtOnce();
    void eachLogHoldsOnlyItsOwnLines();
    void onlyAcceptedReceivedLinesAreLogged();
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
        status_line,
        "$PHLV,ACK,TX_LIMIT,OFF\r\n",
        raw_frame,
        QByteArray("$PHLV,TAVIX_DEVICES,3\0,junk after the zero\r\n", 45),
        "$GPXDR,C,21.5,C,Kaj\xc3\xbcte \xc2\xb0\r\n",
        "$IIMTW,12.5,C\n",
        "$PHLV,RAW,\xff\r\n",
        "$PHLV,SHOW_BLACKLIST\r\n",
        "$PHLV,ACK,TX_LIMIT,ON\r\n",
    };
    const QByteArray golden = fileBytes(QStringLiteral(TAVIX_TEST_DATA_DIR "/log-golden.csv"));

    LogWindow lw;
    lw.w.process_line(sernix_identity);
    lw.log(lines, { path("log.csv") });
    QCOMPARE(fileBytes(path("log.csv")), golden);

    // The name and its extension change nothing: a ".zip" is the same text.
    lw.log(lines, { path("log.zip") });
    QCOMPARE(fileBytes(path("log.zip")), golden);
    QCOMPARE(lw.asked, 2);
}

void TestLogging::startAndStopAtOnce()
{
    LogWindow lw;
    lw.w.process_line(sernix_identity);
    lw.log({}, { path("new.csv") });
    QVERIFY(QFile::exists(path("new.csv")));
    QCOMPARE(QFileInfo(path("new.csv")).size(), 0);

    // An existing file is emptied, not appended to.
    QVERIFY(writeFile(path("old.csv"), "an earlier log\r\n\nand more\n"));
    lw.log({}, { path("old.csv") });
    QCOMPARE(fileBytes(path("old.csv")), QByteArray());
}

void TestLogging::eachLogHoldsOnlyItsOwnLines()
{
    LogWindow lw;
    lw.w.process_line(sernix_identity);

    // Lines that come while the save dialog is open are not collected.
    lw.while_asking = [&lw] { lw.w.process_line("$PHLV,DURING_DIALOG\r\n"); };
    lw.log({ "$PHLV,FIRST,1\r\n", "$PHLV,FIRST,2\r\n" }, { path("first.csv") });
    lw.while_asking = nullptr;
    QVERIFY(!lw.w.state().logging_on);
    QCOMPARE(lw.w.state().log_lines.size(), 0);

    lw.feed({ "$PHLV,BETWEEN\r\n" });
    lw.log({ "$PHLV,SECOND,1\r\n" }, { path("second.csv") });
    QCOMPARE(fileBytes(path("first.csv")), QByteArray("$PHLV,FIRST,1\r\n\n$PHLV,FIRST,2\r\n\n"));
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

void TestLogging::onlyAcceptedReceivedLinesAreLogged()
{
    // The real network link: what the tool sends reaches the peer, what the
    // peer sends comes back through the line ring.
    LoopbackPeer peer;
    LogWindow lw;
    lw.w.setTorvelEndpoint(QStringLiteral("127.0.0.1"), peer.port());
    lw.w.loadTorvel();
    QVERIFY(
        QTest::qWaitFor([&] { return peer.client && peer.bytes.contains("TAVIX_OFFLINE"); }, 3000));
    peer.bytes.clear();

    lw.button()->click();
    QVERIFY(peer.send(status_line + "$PHLV,ACK,TX_LIMIT,OFF\r\n" + raw_frame));
    QVERIFY(peer.send(torvel_identity));
    QVERIFY(QTest::qWaitFor([&] { return lw.w.state().torvel_identified; }, 3000));
    QCOMPARE(lw.w.state().log_lines.size(), 0);

    // Sentences the tool sends: a restart and a typed line.
    lw.w.findChild<QPushButton *>(QStringLiteral("restartButtonfromData"))->click();
    lw.w.findChild<QLineEdit *>(QStringLiteral("lineEditDataTab"))
        ->setText(QStringLiteral("$PHLV,TYPED"));
    lw.w.findChild<QPushButton *>(QStringLiteral("sendButtonDataTab"))->click();
    QVERIFY(QTest::qWaitFor([&] { return peer.bytes.contains("$PHLV,TYPED\r\n"); }, 2000));
    QVERIFY(peer.bytes.contains("$PHLV,TAVIX_OFFLINE,\r\n"));
    peer.bytes.clear();

    const QByteArray empty_status = "$PHLV,000000,,,,3601,34\r\n";
    const QByteArray mode_ack = "$PHLV,ACK,TAVIX_MODE,5\r\n";
    const QByteArray nmea = "$GPGLL,5130.00,N,00007.00,W,120000,A\r\n";
    QVERIFY(peer.send(status_line + "$PHLV,ACK,TX_LIMIT,OFF\r\n" + "not a sentence\r\n" + "\r\n"
                      + raw_frame + sernix_identity + mode_ack + torvel_identity + empty_status
                      + nmea));
    QVERIFY(QTest::qWaitFor([&] { return lw.w.state().log_lines.size() >= 6; }, 5000));
    // The mode acknowledgement made the tool restart the gateway meanwhile.
    QVERIFY(QTest::qWaitFor([&] { return peer.bytes.contains("$PHLV,TAVIX_OFFLINE,\r\n"); }, 2000));

    lw.names = QStringList{ path("link.csv") };
    lw.button()->click();
    QCOMPARE(fileBytes(path("link.csv")),
             status_line + '\n' + "$PHLV,ACK,TX_LIMIT,OFF\r\n\n" + raw_frame + '\n' + mode_ack
                 + '\n' + empty_status + '\n' + nmea + '\n');
}

void TestLogging::buttonShowsNextAction()
{
    LogWindow lw;
    QPushButton *b = lw.button();
    QVERIFY(b);
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QVERIFY(!b->autoFillBackground());

    const QPalette::ColorGroup groups[]
        = { QPalette::Active, QPalette::Inactive, QPalette::Disabled };
    auto coloured = [&](Qt::GlobalColor colour) {
        for (QPalette::ColorGroup g : groups) {
            const QBrush brush = b->palette().brush(g, QPalette::Button);
            if (brush.color() != QColor(colour) || brush.style() != Qt::SolidPattern)
                return false;
        }
        return b->autoFillBackground();
    };

    b->click();
    QVERIFY(lw.w.state().logging_on);
    QCOMPARE(b->text(), QStringLiteral("LOG OFF"));
    QVERIFY(coloured(Qt::red));

    b->click(); // the save is cancelled
    QVERIFY(!lw.w.state().logging_on);
    QCOMPARE(b->text(), QStringLiteral("LOG ON"));
    QVERIFY(coloured(Qt::white));

    b->click();
    QCOMPARE(b->text(), QStringLiteral("LOG OFF"));
    QVERIFY(coloured(Qt::red));
}

void TestLogging::failedSaveOffersAnotherName_data()
{
    QTest::addColumn<QString>("bad_name"); // relative names lie in the test's folder
    QTest::addColumn<int>("lines");
    QTest::addColumn<QString>("error");

    QTest::newRow("missing folder") << "no-such-folder/log.csv" << 3 << systemError(ENOENT);
    QTest::newRow("a folder") << "." << 3 << systemError(EISDIR);
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
    lw.w.process_line(sernix_identity);
    QList<QByteArray> input;
    QByteArray expected;
    for (int i = 0; i < lines; ++i) {
        input << "$PHLV,LINE," + QByteArray::number(i) + "\r\n";
        expected += input.last() + '\n';
    }

    {
        ModalCloser boxes;
        lw.log(input, { bad, path("good.csv") });
        QCOMPARE(lw.asked, 2);
        QCOMPARE(boxes.titles, QStringList{ QStringLiteral("Error saving CSV file") });
        QVERIFY2(boxes.texts.first().contains(error), qPrintable(boxes.texts.first()));
        QVERIFY2(boxes.texts.first().contains(QDir::toNativeSeparators(bad)),
                 qPrintable(boxes.texts.first()));
        QCOMPARE(fileBytes(path("good.csv")), expected);
        QCOMPARE(lw.w.state().log_lines.size(), 0);
    }

    // Giving up after a failure discards the log; the next one starts empty.
    {
        ModalCloser boxes;
        lw.asked = 0;
        lw.log(input, { bad });
        QCOMPARE(lw.asked, 2);
        QCOMPARE(boxes.titles.size(), 1);
        QVERIFY(!lw.w.state().logging_on);
        lw.log({ status_line }, { path("next.csv") });
        QCOMPARE(fileBytes(path("next.csv")), status_line + '\n');
    }
}

void TestLogging::closingWhileLoggingOffersSave()
{
    {
        LogWindow lw;
        lw.w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&lw.w));
        lw.w.process_line(sernix_identity);
        lw.button()->click();
        lw.feed({ status_line, raw_frame });
        lw.names = QStringList{ path("closing.csv") };
        QVERIFY(lw.w.close());
        QCOMPARE(lw.asked, 1);
        QVERIFY(!lw.w.isVisible());
        QCOMPARE(fileBytes(path("closing.csv")), status_line + '\n' + raw_frame + '\n');
    }
    {
        // Not logging: nothing to save, nothing asked.
        LogWindow lw;
        lw.w.show();
        lw.w.process_line(sernix_identity);
        lw.log({ status_line }, { path("saved.csv") });
        QVERIFY(lw.w.close());
        QCOMPARE(lw.asked, 1);
    }
    {
        // Cancelling the save still closes the window.
        LogWindow lw;
        lw.w.show();
        lw.button()->click();
        QVERIFY(lw.w.close());
        QCOMPARE(lw.asked, 1);
        QVERIFY(!lw.w.isVisible());
    }
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
    w.process_line(sernix_identity);
    auto *button = w.findChild<QPushButton *>(QStringLiteral("logStartStopButton"));

    // Whatever the dialog shows is looked at from inside its own event loop,
    // then the dialog is answered by choose().
    QString title;
    QStringList selected;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    std::function<void(QFileDialog *)> choose;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            title = dialog->windowTitle();
            selected = dialog->selectedFiles();
            filters = dialog->nameFilters();
            mode = dialog->acceptMode();
            choose(dialog);
        }
    });
    poll.start();

    button->click();
    w.process_line(status_line);
    choose = [](QFileDialog *dialog) { dialog->reject(); };
    button->click();
    QCOMPARE(title, QStringLiteral("Save CSV file"));
    QCOMPARE(mode, QFileDialog::AcceptSave);
    QCOMPARE(selected,
             QStringList{ QDir(tmp->path()).absoluteFilePath(QStringLiteral("test.csv")) });
    QCOMPARE(filters,
             (QStringList{ QStringLiteral("CSV files (.csv)"),
                           QStringLiteral("Zip files (.zip, *.7z)") }));
    QVERIFY(!QFile::exists(path("test.csv")));
    QCOMPARE(w.state().log_lines.size(), 0);

    // A name typed into the dialog, with the other filter, gets the log.
    button->click();
    w.process_line(raw_frame);
    // The name is typed as a user would: selectFile() leaves a focused name
    // field alone.
    choose = [this](QFileDialog *dialog) {
        dialog->selectNameFilter(dialog->nameFilters().last());
        auto *name_field = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (!name_field) {
            dialog->reject(); // and the file is missing below
            return;
        }
        name_field->setText(path("chosen.zip"));
        QMetaObject::invokeMethod(dialog, "accept");
    };
    title.clear();
    button->click();
    QCOMPARE(title, QStringLiteral("Save CSV file"));
    QCOMPARE(fileBytes(path("chosen.zip")), raw_frame + '\n');
}

QTEST_MAIN(TestLogging)
#include "tst_logging.moc"
