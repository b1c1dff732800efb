#include "console/csvlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryFile>

#include <cstring>

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

namespace {

// Flushed to the spool at this size.
constexpr int pending_limit = 64 * 1024;

bool isAscii(const char *data, int size)
{
    unsigned char any = 0;
    for (int i = 0; i < size; ++i)
        any |= static_cast<unsigned char>(data[i]);
    return any < 0x80;
}

} // namespace

void CsvLog::append(const QString &entry)
{
    const QByteArray utf8 = entry.toUtf8();
    appendRecord(utf8.constData(), utf8.size());
}

void CsvLog::append(const QByteArray &line)
{
    const void *nul = std::memchr(line.constData(), '\0', size_t(line.size()));
    const int size = nul ? int(static_cast<const char *>(nul) - line.constData()) : line.size();
    // ASCII, as the gateways' sentences are, is its own UTF-8 text; other
    // bytes take the way through text, which replaces what is not UTF-8.
    if (isAscii(line.constData(), size))
        appendRecord(line.constData(), size);
    else
        append(QString::fromUtf8(line.constData(), size));
}

void CsvLog::appendRecord(const char *data, int size)
{
    ++count;
    if (!ensureSpool())
        return;
    // The file is plain UTF-8 text; each entry keeps its own line end and
    // the log adds one line feed after it.
    pending.append(data, size);
    pending.append('\n');
    if (pending.size() >= pending_limit)
        flushPending();
}

void CsvLog::flushPending()
{
    if (pending.isEmpty())
        return;
    if (spool->write(pending) != pending.size() && spool_error.isEmpty())
        spool_error = spool->errorString();
    pending.clear();
}

bool CsvLog::writeTo(const QString &file_name, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (spool)
        flushPending();
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
    pending.clear();
    spool.reset();
    spool_error.clear();
    count = 0;
}

} // namespace tavix
