#ifndef BX_CAPTURE_FILES_TRACERECORDER_H
#define BX_CAPTURE_FILES_TRACERECORDER_H

#include "capture/decoder/FipDecoderListener.h"
#include "capture/decoder/TraceRow.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class FipStreamDecoder;
class TraceFileWriter;

/// The recording choices of the capture page.
struct TraceRecordOptions
{
    enum BackupFileType { RawFile = 0, TraceFile = 1, EventFile = 2 };
    enum DepthMode { NoData = 1, RawFramesAll = 2, RawFramesOnChange = 3, LabelsOnChange = 4 };

    bool converting = false;      ///< a raw file is being converted: always record
    bool backupYes = false;
    int backupFileType = RawFile;
    bool logErrorsYes = true;
    bool paddingVisibleNo = false;
    int depthMode = RawFramesAll;
};

/// One label definition's row fields, from the design model.
struct TraceLabel
{
    QString name;        ///< design column 0
    QString value;       ///< current value text, empty when none
    QString description; ///< design column 61
    QString type;        ///< design column 59
    QString startBit;    ///< design column 63
    QString stopBit;     ///< design column 64
    QString pixmap;      ///< design column 62
};

/// Decides which decoded frames become trace rows, by the depth mode and the
/// recording options, completes their rows and queues them on the trace writer.
class TraceRecorder
{
public:
    enum Outcome {
        Skipped,
        Written,
        LabelRowsWanted ///< depth 4 RP_DAT frame: hand the changed labels to saveLabelRow
    };

    explicit TraceRecorder(TraceFileWriter* writer = nullptr);

    void setWriter(TraceFileWriter* writer) { m_writer = writer; }
    void setOptions(const TraceRecordOptions& options) { m_options = options; }
    const TraceRecordOptions& options() const { return m_options; }
    /// New capture: forget the data seen by the "only on change" mode.
    void reset();

    /// Whether rows are recorded at all (trace backup of a live capture, or a conversion).
    bool recording() const;

    /// The row decision for the frame the decoder just handed on.
    Outcome treatVtrcSave(FipStreamDecoder& decoder, const FipFrameInfo& frame, TraceRow& row);
    /// One label row of the current frame (depth 4): the frame's columns with the label's.
    void saveLabelRow(const TraceRow& row, const TraceLabel& label);
    /// The error row of a traffic interruption.
    void saveInterruption(TraceRow& row);

    /// Joins the row's fields and queues the line.
    void vtrcSaveLine(const TraceRow& row);

    quint64 rowsWritten() const { return m_rows; }

private:
    bool dataChanged(const FipFrameInfo& frame);

    TraceFileWriter* m_writer;
    TraceRecordOptions m_options;
    QHash<quint32, QByteArray> m_lastData;
    TraceRow m_labelRow;
    quint64 m_rows = 0;
};

#endif
