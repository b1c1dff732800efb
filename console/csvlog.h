#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

class QTemporaryFile;

namespace tavix {

// The received lines collected while logging is on. An all-night log of a
// busy bus runs to gigabytes, so the lines are not kept in memory: they go
// to a temporary spool file, already in the form the CSV file takes (the
// line as received, then one line feed), and saving copies the spool.
//
// A spool that cannot be made or written (no temporary folder, a full disk)
// must not cost the log: what it did not take stays in memory, in order,
// behind what it did take, and is offered to it again as the log grows. Only
// beyond memory_limit bytes are lines dropped, and then the loss handler is
// called, once per log, at the moment the first line is lost.
class CsvLog
{
public:
    static constexpr qint64 default_memory_limit = 256 * 1024 * 1024;

    explicit CsvLog(qint64 memory_limit = default_memory_limit);
    ~CsvLog();
    CsvLog(const CsvLog &) = delete;
    CsvLog &operator=(const CsvLog &) = delete;

    // One entry: a received line as text, its own line end included.
    void append(const QString &entry);
    // The same for a line as received: the bytes before its first zero
    // byte, as UTF-8 text.
    void append(const QByteArray &line);

    qint64 size() const { return count; }
    bool isEmpty() const { return count == 0; }
    qint64 lost() const { return lost_count; }

    void setLossHandler(std::function<void()> handler) { on_loss = std::move(handler); }

    enum class Save {
        Written,
        TargetFailed, // the file could not be written: another may do
        LogUnreadable, // the spool could not be read back: nothing will do
    };
    // Writes every entry kept, in order, to file_name (created or
    // truncated), with the failure's own text in *error. On failure the
    // entries are kept, so that the user can try another name.
    Save writeTo(const QString &file_name, QString *error);

    // Forgets every entry.
    void clear();

private:
    void appendRecord(const char *data, int size);
    void spoolPending();

    const qint64 memory_limit;
    std::unique_ptr<QTemporaryFile> spool;
    qint64 spooled = 0; // bytes in the spool, all of them written
    QByteArray pending; // records not in the spool yet, oldest first
    qint64 next_spool_at; // size of pending at which to try the spool again
    qint64 count = 0;
    qint64 lost_count = 0;
    std::function<void()> on_loss;
};

} // namespace tavix
