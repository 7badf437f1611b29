#include "capture/files/RawFileWriter.h"

#include "capture/files/CaptureFileMessages.h"

RawFileWriter::~RawFileWriter()
{
    close();
}

bool RawFileWriter::open(const QString& path)
{
    close();
    m_error.clear();
    m_failed = false;
    m_written = 0;
    if (!m_lock.lock(path)) {
        m_error = m_lock.heldByOther()
            ? CaptureFileMessages::backupInUse(path)
            : CaptureFileMessages::cannotOpenBackup(path, QStringLiteral("The lock file cannot be created."));
        return false;
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = CaptureFileMessages::cannotOpenBackup(path, m_file.errorString());
        m_lock.unlock();
        return false;
    }
    return true;
}

bool RawFileWriter::close()
{
    bool ok = !m_failed;
    if (m_file.isOpen()) {
        ok = m_file.flush() && ok;
        m_file.close();
    }
    m_lock.unlock();
    return ok;
}

void RawFileWriter::appendRaw(const char* data, int size)
{
    if (!m_file.isOpen() || size <= 0 || m_failed)
        return;
    if (m_file.write(data, size) != size) {
        // A full disk stops the recording, not the capture.
        m_failed = true;
        m_error = CaptureFileMessages::cannotWriteBackup(m_file.fileName(), m_file.errorString());
        return;
    }
    m_written += size;
}
