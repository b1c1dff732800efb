#include "console/csvlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

namespace tavix {

CsvLog::CsvLog() = default;

CsvLog::~CsvLog() = default;

bool CsvLog::ensureSpool()
{
    if (spool)
        return true;
    auto file = std::make_unique<QTemporaryFile>(QDir::tempPath()
                                                 + QStringLiteral("/tavix-log-XXXXXX.spool"));
    if (!file->open()) {
        if (spool_error.isEmpty())
            spool_error = file->errorString();
        return false;
    }
    spool = std::move(file);
    return true;
}

void CsvLog::append(const QString &entry)
{
    ++count;
    if (!ensureSpool())
        return;
    // The file is plain UTF-8 text; each entry keeps its own line end and
    // the log adds one line feed after it.
    QByteArray record = entry.toUtf8();
    record.append('\n');
    if (spool->write(record) != record.size() && spool_error.isEmpty())
        spool_error = spool->errorString();
}

bool CsvLog::writeTo(const QString &file_name, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!spool_error.isEmpty())
        return fail(QCoreApplication::translate("MainWindow",
                                                "The temporary log file could not be written: %1")
                        .arg(spool_error));
    if (spool && !spool->flush())
        return fail(spool->errorString());

    QFile out(file_name);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
        return fail(out.errorString());

    if (spool) {
        if (!spool->seek(0))
            return fail(spool->errorString());
        QByteArray chunk;
        bool copied = true;
        while (copied && !(chunk = spool->read(1 << 20)).isEmpty())
            copied = out.write(chunk) == chunk.size();
        const bool read_all = spool->atEnd();
        // Entries that come later go after the spooled ones, also when this
        // copy failed half way and the user is to try another file.
        spool->seek(spool->size());
        if (!copied)
            return fail(out.errorString());
        if (!read_all)
            return fail(spool->errorString());
    }
    if (!out.flush())
        return fail(out.errorString());
    out.close();
    if (out.error() != QFileDevice::NoError)
        return fail(out.errorString());
    return true;
}

void CsvLog::clear()
{
    spool.reset();
    spool_error.clear();
    count = 0;
}

} // namespace tavix
