#include "capture/files/TraceFileWriter.h"

#include "capture/decoder/TraceRow.h"
#include "capture/files/CaptureFileMessages.h"

namespace {
// Pending lines are written in one go; a tick's worth of frames fits easily.
constexpr int PendingReserve = 1 << 20;
} // namespace

TraceFileWriter::TraceFileWriter()
{
    m_pending.reserve(PendingReserve);
}

TraceFileWriter::~TraceFileWriter()
{
    close();
}

bool TraceFileWriter::open(const QString& path)
{
    close();
    m_error.clear();
    m_written = 0;
    clearPending();
    if (!m_lock.lock(path)) {
        m_error = m_lock.heldByOther() ? CaptureFileMessages::backupInUse(path)
                                       : CaptureFileMessages::cannotOpenDestination();
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = CaptureFileMessages::cannotOpenDestination();
        m_lock.unlock();
        return false;
    }
    return true;
}

bool TraceFileWriter::close(QVector<qint64>* offsets)
{
    bool ok = true;
    if (m_file.isOpen()) {
        ok = writePending(offsets);
        m_file.close();
    }
    clearPending();
    m_lock.unlock();
    return ok;
}

void TraceFileWriter::appendRow(const TraceRow& row)
{
    m_pendingStarts.append(m_pending.size());
    row.appendLine(m_pending);
}

void TraceFileWriter::clearPending()
{
    m_pending.resize(0);
    m_pendingStarts.resize(0);
}

bool TraceFileWriter::writePending(QVector<qint64>* offsets)
{
    if (m_pendingStarts.isEmpty())
        return true;
    if (!m_file.isOpen()) {
        clearPending();
        return false;
    }
    const qint64 base = m_written;
    const qint64 written = m_file.write(m_pending.constData(), m_pending.size());
    const bool ok = written == m_pending.size() && m_file.flush();
    if (!ok) {
        // Rows the file did not take are not handed to the table: their offsets
        // would point past the end.
        m_error = CaptureFileMessages::cannotWriteBackup(m_file.fileName(), m_file.errorString());
        m_written = m_file.pos();
        clearPending();
        return false;
    }
    if (offsets) {
        offsets->reserve(offsets->size() + m_pendingStarts.size());
        for (int start : qAsConst(m_pendingStarts))
            offsets->append(base + start);
    }
    m_written += written;
    clearPending();
    return true;
}
