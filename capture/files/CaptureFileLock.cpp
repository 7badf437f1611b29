#include "capture/files/CaptureFileLock.h"

#include <QLockFile>

CaptureFileLock::CaptureFileLock() = default;

CaptureFileLock::~CaptureFileLock()
{
    unlock();
}

bool CaptureFileLock::lock(const QString& filePath)
{
    unlock();
    auto lock = std::make_unique<QLockFile>(lockPath(filePath));
    if (!lock->tryLock(AttemptMs)) {
        m_heldByOther = lock->error() == QLockFile::LockFailedError;
        return false;
    }
    m_heldByOther = false;
    m_lock = std::move(lock);
    return true;
}

void CaptureFileLock::unlock()
{
    if (m_lock)
        m_lock->unlock();
    m_lock.reset();
}

bool CaptureFileLock::isLocked() const
{
    return m_lock && m_lock->isLocked();
}
