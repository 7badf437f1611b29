#ifndef BX_CAPTURE_FILES_RAWFILEWRITER_H
#define BX_CAPTURE_FILES_RAWFILEWRITER_H

#include "capture/decoder/FipDecoderListener.h"
#include "capture/files/CaptureFileLock.h"

#include <QFile>
#include <QString>

/// Recording of a capture's raw stream into a `.praw` file: the flow byte, the
/// speed code for the event flow, then the payloads as the decoder hands them.
/// The file grows while the capture runs, so it is written in place, under its lock.
class RawFileWriter : public FipRawSink
{
public:
    static QString extension() { return QStringLiteral("praw"); }

    RawFileWriter() = default;
    ~RawFileWriter() override;

    /// Locks and creates (truncates) the file; false with errorString() set.
    bool open(const QString& path);
    /// Flushes, closes and unlocks; false when data could not be written.
    bool close();
    bool isOpen() const { return m_file.isOpen(); }
    QString errorString() const { return m_error; }
    qint64 size() const { return m_written; }

    void appendRaw(const char* data, int size) override;

private:
    QFile m_file;
    CaptureFileLock m_lock;
    QString m_error;
    qint64 m_written = 0;
    bool m_failed = false;
};

#endif
