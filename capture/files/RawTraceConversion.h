#ifndef BX_CAPTURE_FILES_RAWTRACECONVERSION_H
#define BX_CAPTURE_FILES_RAWTRACECONVERSION_H

#include "capture/files/CaptureFileLock.h"

#include <QFile>
#include <QString>

class FipStreamDecoder;

/// Reading a `.praw` raw capture back for conversion into a trace: the file is
/// opened read-only and mapped (never modified), its header checked, and its
/// body handed to the decoder as a replay.
///
/// The main window asks its questions (analysis open, trace exists) between the
/// steps; every failure leaves no file open and no lock held.
class RawTraceConversion
{
public:
    enum Result {
        Ok = 0,
        SourceOpenFailed, ///< "Impossible to open source file (praw)."
        SourceInUse,      ///< the raw file is being recorded
        InvalidVersion,   ///< first byte neither 1 nor 2
        InvalidSpeed      ///< flow 1 with a speed code above 3
    };

    RawTraceConversion() = default;
    ~RawTraceConversion();

    /// Opens and maps the raw file read-only.
    Result openSource(const QString& rawPath);
    /// Reads the flow byte and, for the event flow, the speed code.
    Result readHeader();
    /// Decodes the body with the decoder (replay, stop flag, events processed);
    /// returns the bytes of the body consumed.
    qint64 decode(FipStreamDecoder& decoder, bool* stop);
    void close();

    int flowType() const { return m_flow; }
    quint8 speedCode() const { return m_speed; }
    qint64 sourceSize() const { return m_size; }
    /// The header of a raw file held in memory: flow, speed code and where the body starts.
    static Result parseHeader(const uchar* data, qint64 size, int* flow, quint8* speed, qint64* bodyStart);
    /// Replays a raw body of the given flow with the decoder.
    static qint64 decodeBody(FipStreamDecoder& decoder, int flow, quint8 speed, const uchar* body, qint64 size,
                             bool* stop);

    /// The message box text of a result (empty for Ok).
    static QString message(Result result, const QString& path = QString());

private:
    QFile m_source;
    CaptureFileLock m_lock;
    const uchar* m_data = nullptr;
    QByteArray m_copy; ///< when the file cannot be mapped
    qint64 m_size = 0;
    qint64 m_bodyStart = 0;
    int m_flow = 0;
    quint8 m_speed = 255;
};

#endif
