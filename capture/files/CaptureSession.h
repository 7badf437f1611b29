#ifndef BX_CAPTURE_FILES_CAPTURESESSION_H
#define BX_CAPTURE_FILES_CAPTURESESSION_H

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/RawFileWriter.h"
#include "capture/files/TraceFileWriter.h"
#include "capture/files/TraceRecorder.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

/// One capture's decoding and recording: the decoder, the trace rows it hands
/// on, the backup files, and the analysis that the frames feed.
///
/// The main window owns one and gives it the card's packets; it runs on the GUI
/// thread only. The analysis hooks are forwarded to `setAnalysis`'s listener
/// before the trace row decision, so label values are current when rows are cut.
class CaptureSession : public FipForwardingListener
{
public:
    /// The files of one capture; an empty path leaves that recording off.
    struct Files
    {
        QString raw;    ///< ".praw": flow byte, speed, payloads
        QString trace;  ///< ".vtrc": the frame table's rows
        QString events; ///< ".pevt": whole card packets, for debugging
    };
    /// The label definitions of an identifier whose value changed with the current
    /// frame, for depth mode 4's label rows; null when there are none.
    using LabelSource = std::function<const QVector<TraceLabel>*(quint16 identifier)>;

    CaptureSession();
    ~CaptureSession() override;

    FipStreamDecoder& decoder() { return m_decoder; }
    const FipStreamDecoder& decoder() const { return m_decoder; }
    TraceRecorder& recorder() { return m_recorder; }
    TraceFileWriter& traceWriter() { return m_trace; }
    RawFileWriter& rawWriter() { return m_raw; }

    void setAnalysis(FipDecoderListener* analysis) { setNext(analysis); }
    void setLabelSource(LabelSource source) { m_labels = std::move(source); }

    /// The files a live capture records with these options, named after `base`
    /// (folder and file name without extension). The trace is always there: the
    /// frame table reads it even when no rows are backed up.
    static Files filesFor(const TraceRecordOptions& options, const QString& base);
    /// Backup name in `repository`: "capture", or "capture_yyyy-MM-dd_hh-mm-ss".
    static QString backupBase(const QString& repository, bool timeStamped, const QDateTime& when);
    /// The files of `files`, and the trace's statistics file, that already exist on disk.
    static QStringList existingFiles(const Files& files);

    /// Resets the decoder and the recorder, then opens the files; on failure
    /// every file opened so far is closed again and `error` says which one failed.
    bool start(const TraceRecordOptions& options, const Files& files, QString* error);
    /// The start of a raw file's conversion: every frame the options keep goes
    /// to the trace, whatever the live recording options say.
    bool startConversion(TraceRecordOptions options, const QString& tracePath, QString* error);
    /// Writes what is pending and closes the files; false when data was lost.
    bool stop(QVector<qint64>* offsets = nullptr);
    bool isRunning() const { return m_running; }
    const Files& files() const { return m_files; }

    /// A packet from the card.
    void onOstrakDataReceived(int flowType, const QByteArray& data) { m_decoder.onOstrakDataReceived(flowType, data); }
    /// The statistics timer's flush of the pending trace lines; `offsets` also
    /// receives the lines written while a long decode processed events.
    bool writePending(QVector<qint64>* offsets);
    /// The trace keeps its rows: a conversion, or a live capture backed up as a trace.
    bool keepsTraceRows() const;
    /// Pending trace lines are written once they reach this size, between ticks.
    static constexpr int TraceSliceBytes = 256 << 10;
    /// Size of the backup file being written, for the size limit.
    qint64 backupSize() const;
    /// Free space under which a capture stops: the files then stay whole and the disk usable.
    static constexpr qint64 MinFreeDiskBytes = qint64(1) << 30;
    /// Bytes free on the disk of the capture's files; -1 when it cannot be told.
    qint64 freeDiskBytes() const;
    bool diskSpaceLow(qint64 margin = MinFreeDiskBytes) const
    {
        const qint64 free = freeDiskBytes();
        return free >= 0 && free < margin;
    }

    // FipDecoderListener
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override;
    void onTrafficInterruption(TraceRow& row) override;
    void onProcessEvents(qint64 position, qint64 size) override;

private:
    void writeTraceSlice();
    void writeTraceBetweenTicks();

    LabelSource m_labels;
    FipStreamDecoder m_decoder { this };
    TraceFileWriter m_trace;
    TraceRecorder m_recorder { &m_trace };
    RawFileWriter m_raw;
    RawFileWriter m_events;
    Files m_files;
    QVector<qint64> m_writtenOffsets; ///< written, not yet handed to the frame table
    bool m_running = false;
    bool m_traceWriteFailed = false; ///< a slice written between ticks was refused
};

#endif
