#ifndef BX_CAPTURE_FILES_CAPTUREFILELOCK_H
#define BX_CAPTURE_FILES_CAPTUREFILELOCK_H

#include <QString>

#include <memory>

class QLockFile;

/// The lock file next to a capture file (its path plus ".lock"), so that two
/// windows never write or convert the same capture at once.
class CaptureFileLock
{
public:
    static constexpr int AttemptMs = 100;

    CaptureFileLock();
    ~CaptureFileLock();
    CaptureFileLock(const CaptureFileLock&) = delete;
    CaptureFileLock& operator=(const CaptureFileLock&) = delete;

    static QString lockPath(const QString& filePath) { return filePath + QStringLiteral(".lock"); }

    /// Tries for AttemptMs; false when another holder keeps it or the lock file
    /// cannot be created (heldByOther() tells which).
    bool lock(const QString& filePath);
    bool heldByOther() const { return m_heldByOther; }
    void unlock();
    bool isLocked() const;

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_heldByOther = false;
};

#endif
