#ifndef BX_CAPTURE_FILES_TRACEFILEWRITER_H
#define BX_CAPTURE_FILES_TRACEFILEWRITER_H

#include "capture/files/CaptureFileLock.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

class TraceRow;

/// The `.vtrc` trace file: one frame per line, 22 tab-separated UTF-8 fields.
///
/// Rows queue up as pending lines; `writePending` (the statistics timer's tick)
/// appends them to the file, flushes, and gives the byte offset of each line for
/// the frame table, which reads lines back from the file through its own handle.
class TraceFileWriter
{
public:
    static QString extension() { return QStringLiteral("vtrc"); }

    TraceFileWriter();
    ~TraceFileWriter();

    /// Locks and creates (truncates) the trace; false with errorString() set.
    bool open(const QString& path);
    /// Writes what is pending, closes and unlocks.
    bool close(QVector<qint64>* offsets = nullptr);
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    QString errorString() const { return m_error; }
    /// The last open failed because another writer holds the trace's lock.
    bool lockHeldByOther() const { return m_lock.heldByOther(); }

    /// Queues one row as a line.
    void appendRow(const TraceRow& row);
    int pendingCount() const { return m_pendingStarts.size(); }
    int pendingBytes() const { return m_pending.size(); }
    /// Drops the queued lines without writing them.
    void clearPending();

    /// Appends the pending lines to the file and flushes it; the start offset of
    /// each written line is appended to offsets. False when the file could not
    /// take them (the lines are then dropped and errorString() tells why).
    bool writePending(QVector<qint64>* offsets);
    /// Bytes in the file so far.
    qint64 size() const { return m_written; }

private:
    QFile m_file;
    CaptureFileLock m_lock;
    QString m_error;
    QByteArray m_pending;
    QVector<int> m_pendingStarts;
    qint64 m_written = 0;
};

#endif
