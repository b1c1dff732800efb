#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QTemporaryFile;

namespace tavix {

// The received lines collected while logging is on. An all-night log of a
// busy bus runs to gigabytes, so the lines are not kept in memory: each one
// goes straight to a temporary spool file, already in the form the CSV file
// takes (the line as received, then one line feed), and saving copies the
// spool.
class CsvLog
{
public:
    CsvLog();
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

    // Writes every entry, in order, to file_name (created or truncated).
    // On failure returns false with the file's own error text in *error and
    // keeps the entries, so that the user can try another name.
    bool writeTo(const QString &file_name, QString *error);

    // Forgets every entry.
    void clear();

private:
    bool ensureSpool();
    void appendRecord(const char *data, int size);
    void flushPending();

    std::unique_ptr<QTemporaryFile> spool;
    QString spool_error; // first failure of the spool itself, reported at save
    // Records not yet handed to the spool: a busy bus brings thousands a
    // second, and one write for many is cheaper than one each.
    QByteArray pending;
    qint64 count = 0;
};

} // namespace tavix
