#ifndef BX_CAPTURE_PCAPNG_PCAPNGIMPORT_H
#define BX_CAPTURE_PCAPNG_PCAPNGIMPORT_H

#include "capture/pcapng/FipPcapng.h"
#include "capture/pcapng/PcapngReader.h"

#include <QByteArray>
#include <QFile>
#include <QString>

class FipDecoderListener;
class FipStreamDecoder;
class CaptureSession;
struct TraceRecordOptions;

/// Reads a pcapng (or pcap) file of FIP frames — one Brantix wrote, or any of
/// its link type — and hands its frames to the decoder, which builds the rows a
/// capture of the bus would have had.
class PcapngImport
{
public:
    enum Result {
        Ok,
        Cancelled,
        OpenFailed,   ///< the file cannot be read
        Damaged,      ///< not a capture file, or a block cut short or running past the end
        WrongLinkType ///< the packets are not FIP frames
    };

    static bool isCaptureFile(const QString& path);

    /// Opens and maps the file read-only.
    Result open(const QString& path);
    /// Reads a capture held in memory instead; the data must outlive the import.
    void setData(const uchar* data, qint64 size);
    /// Hands every packet to the decoder until the end or until *stop turns true;
    /// `events` is told the position now and then, so a window can breathe.
    Result decode(FipStreamDecoder& decoder, bool* stop, FipDecoderListener* events = nullptr);
    void close();

    /// The whole conversion into a trace file, with the session's recording choices.
    Result toTrace(const QString& pcapngPath, const QString& tracePath, CaptureSession& session,
                   const TraceRecordOptions& options, bool* stop);

    qint64 sourceSize() const { return m_size; }
    qint64 position() const { return m_position; }
    quint64 framesRead() const { return m_frames; }
    const FipPcapng::Link& link() const { return m_link; }
    QString errorString() const { return m_error; }

private:
    Result fail(Result result, const QString& message);

    QFile m_file;
    QByteArray m_copy;
    const uchar* m_data = nullptr;
    qint64 m_size = 0;
    bool m_external = false; ///< data given by setData, neither mapped nor copied
    qint64 m_position = 0;
    quint64 m_frames = 0;
    FipPcapng::Link m_link;
    QString m_error;
};

#endif
