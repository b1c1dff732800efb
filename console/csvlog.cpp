#include "console/csvlog.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cstring>

namespace tavix {

namespace {

// Records go to the spool in bites of this size, and after a failure the
// spool is tried again each time this much more has piled up.
constexpr qint64 spool_bite = 64 * 1024;

// A spool whose writes reach the file at once, so that after a failure the
// bytes written are exactly the ones reported, and none wait in a buffer.
class SpoolFile : public QTemporaryFile
{
public:
    using QTemporaryFile::QTemporaryFile;
    bool openUnbuffered() { return open(QIODevice::ReadWrite | QIODevice::Unbuffered); }
};

bool isAscii(const char *data, int size)
{
    unsigned char any = 0;
    for (int i = 0; i < size; ++i)
        any |= static_cast<unsigned char>(data[i]);
    return any < 0x80;
}

std::unique_ptr<QTemporaryFile> makeSpool()
{
    // The system's temporary folder, or the usual one when the
    // environment names a folder that is not there. Windows takes TMP
    // before TEMP, and both as a rule name its own per-user folder.
#ifdef Q_OS_WIN
    const QStringList usual{
        QDir::fromNativeSeparators(qEnvironmentVariable("TEMP")),
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
            + QStringLiteral("/Temp"),
    };
#else
    const QStringList usual{ QStringLiteral("/tmp") };
#endif
    QStringList folders{ QDir::tempPath() };
    for (const QString &folder : usual) {
        if (!folder.isEmpty() && !folders.contains(folder))
            folders << folder;
    }
    for (const QString &folder : folders) {
        auto file = std::make_unique<SpoolFile>(folder + QStringLiteral("/tavix-log-XXXXXX.spool"));
        if (file->openUnbuffered())
            return file;
    }
    return nullptr;
}

} // namespace

CsvLog::CsvLog(qint64 memory_limit)
    : memory_limit(memory_limit)
    , next_spool_at(spool_bite)
{ }

CsvLog::~CsvLog() = default;

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
    // The file is plain UTF-8 text; each entry keeps its own line end and
    // the log adds one line feed after it.
    if (pending.size() + size + 1 > memory_limit)
        spoolPending(); // the last chance before a line is lost
    if (pending.size() + size + 1 > memory_limit) {
        ++lost_count;
        if (lost_count == 1 && on_loss)
            on_loss();
        return;
    }
    pending.append(data, size);
    pending.append('\n');
    if (pending.size() >= next_spool_at)
        spoolPending();
}

void CsvLog::spoolPending()
{
    if (!spool)
        spool = makeSpool();
    if (spool) {
        const qint64 written = spool->write(pending);
        if (written > 0) {
            spooled += written;
            pending.remove(0, int(written));
        }
    }
    next_spool_at = pending.size() + spool_bite;
}

CsvLog::Save CsvLog::writeTo(const QString &file_name, QString *error)
{
    QFile out(file_name);
    const auto fail = [&](Save why, const QString &text) {
        if (error)
            *error = text;
        return why;
    };
    // Binary: the file holds the lines' own bytes on every system. Text
    // mode would turn each line feed into CR LF on Windows, so that a line
    // that came with CR LF would end CR CR LF CR LF there.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(Save::TargetFailed, out.errorString());

    if (spooled > 0) {
        if (!spool->seek(0))
            return fail(Save::LogUnreadable, spool->errorString());
        qint64 left = spooled;
        while (left > 0) {
            const QByteArray chunk = spool->read(qMin<qint64>(left, 1 << 20));
            if (chunk.isEmpty()) {
                spool->seek(spooled);
                return fail(Save::LogUnreadable, spool->errorString());
            }
            left -= chunk.size();
            if (out.write(chunk) != chunk.size()) {
                spool->seek(spooled);
                return fail(Save::TargetFailed, out.errorString());
            }
        }
    }
    if (out.write(pending) != pending.size() || !out.flush())
        return fail(Save::TargetFailed, out.errorString());
    out.close();
    if (out.error() != QFileDevice::NoError)
        return fail(Save::TargetFailed, out.errorString());
    return Save::Written;
}

void CsvLog::clear()
{
    spool.reset();
    spooled = 0;
    pending.clear();
    next_spool_at = spool_bite;
    count = 0;
    lost_count = 0;
}

} // namespace tavix
