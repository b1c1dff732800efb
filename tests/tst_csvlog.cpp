// The log spool on its own: the bytes it saves, saving more than once,
// keeping its entries through failed saves, and its temporary file.
#include "console/csvlog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <memory>

using tavix::CsvLog;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll()
                                       : QByteArray("<cannot read " + path.toUtf8() + ">");
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// Points the temporary folder elsewhere for as long as it lives.
struct TempPathOverride
{
    QByteArray old = qgetenv("TMPDIR");
    bool had = qEnvironmentVariableIsSet("TMPDIR");
    explicit TempPathOverride(const QString &dir) { qputenv("TMPDIR", QFile::encodeName(dir)); }
    ~TempPathOverride()
    {
        if (had)
            qputenv("TMPDIR", old);
        else
            qunsetenv("TMPDIR");
    }
};

} // namespace

class TestCsvLog : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        tmp = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp->isValid());
    }
    void savesEntriesWithALineFeedEach();
    void failedSaveKeepsEveryEntry();
    void spoolThatCannotBeWrittenIsReported();
    void millionLines();

private:
    QString path(const QString &name) const { return tmp->filePath(name); }
    std::unique_ptr<QTemporaryDir> tmp;
};

void TestCsvLog::savesEntriesWithALineFeedEach()
{
    CsvLog log;
    log << QStringLiteral("$PHLV,A\r\n") << QString() << QStringLiteral("$PHLV,B\n")
        << QStringLiteral("no end");
    QCOMPARE(log.size(), 4);
    const QByteArray expected = "$PHLV,A\r\n\n\n$PHLV,B\n\nno end\n";
    QString error;
    QVERIFY2(log.writeTo(path("a.csv"), &error), qPrintable(error));
    QCOMPARE(fileBytes(path("a.csv")), expected);

    // Saving does not use the entries up, and later entries follow them.
    QVERIFY(log.writeTo(path("b.csv"), nullptr));
    QCOMPARE(fileBytes(path("b.csv")), expected);
    log.append(QStringLiteral("$PHLV,C\r\n"));
    QVERIFY(log.writeTo(path("a.csv"), nullptr));
    QCOMPARE(fileBytes(path("a.csv")), expected + "$PHLV,C\r\n\n");

    log.clear();
    QVERIFY(log.isEmpty());
    log.append(QStringLiteral("$PHLV,D\r\n"));
    QVERIFY(log.writeTo(path("a.csv"), nullptr));
    QCOMPARE(fileBytes(path("a.csv")), QByteArray("$PHLV,D\r\n\n"));
}

void TestCsvLog::failedSaveKeepsEveryEntry()
{
    // Well past any write buffer, so the copy stops part way through.
    constexpr int lines = 100000;
    CsvLog log;
    QByteArray expected;
    for (int i = 0; i < lines; ++i) {
        const QString entry = QStringLiteral("$PHLV,%1\r\n").arg(i);
        log.append(entry);
        expected += entry.toUtf8() + '\n';
    }
    QString why;
    QVERIFY(!log.writeTo(QStringLiteral("/dev/full"), &why));
    QVERIFY2(why.contains(systemError(ENOSPC)), qPrintable(why));
    QCOMPARE(log.size(), lines);

    // Entries added after a failure go after the earlier ones, not over them.
    log.append(QStringLiteral("$PHLV,AFTER\r\n"));
    expected += "$PHLV,AFTER\r\n\n";
    QVERIFY2(log.writeTo(path("good.csv"), &why), qPrintable(why));
    QCOMPARE(fileBytes(path("good.csv")), expected);
}

void TestCsvLog::spoolThatCannotBeWrittenIsReported()
{
    {
        // A temporary folder that is a file: no spool can be made there.
        QFile not_a_folder(path("not-a-folder"));
        QVERIFY(not_a_folder.open(QIODevice::WriteOnly));
        not_a_folder.close();
        TempPathOverride nowhere(not_a_folder.fileName());
        CsvLog log;
        log.append(QStringLiteral("$PHLV,LOST\r\n"));
        QString why;
        QVERIFY(!log.writeTo(path("out.csv"), &why));
        QVERIFY2(why.contains(systemError(ENOTDIR)), qPrintable(why));
        // No file that looks like a saved log, though it holds nothing.
        QVERIFY(!QFile::exists(path("out.csv")));
    }
    // Once the temporary folder is back, a new log works.
    TempPathOverride here(tmp->path());
    CsvLog log;
    log.append(QStringLiteral("$PHLV,KEPT\r\n"));
    QVERIFY(log.writeTo(path("out.csv"), nullptr));
    QCOMPARE(fileBytes(path("out.csv")), QByteArray("$PHLV,KEPT\r\n\n"));
}

void TestCsvLog::millionLines()
{
    constexpr int count = 1000000;
    CsvLog log;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i)
        log.append(QStringLiteral("!PHLV,%1\r\n").arg(i));
    QVERIFY(log.writeTo(path("large.csv"), nullptr));
    qInfo("%d lines spooled and saved in %lld ms", count, clock.elapsed());

    QFile f(path("large.csv"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    int records = 0;
    QByteArray first_wrong; // a lost, doubled or reordered line shows here
    while (!f.atEnd()) {
        QByteArray record = f.readLine();
        record += f.readLine(); // the empty line after a CR LF line
        if (first_wrong.isEmpty() && record != "!PHLV," + QByteArray::number(records) + "\r\n\n")
            first_wrong = QByteArray::number(records) + ": " + record;
        ++records;
    }
    QCOMPARE(first_wrong, QByteArray());
    QCOMPARE(records, count);
}

QTEST_GUILESS_MAIN(TestCsvLog)
#include "tst_csvlog.moc"
