#ifndef BX_CAPTURE_PCAPNG_PCAPNGEXPORT_H
#define BX_CAPTURE_PCAPNG_PCAPNGEXPORT_H

#include "capture/pcapng/FipPcapng.h"

#include <QString>
#include <QVector>

#include <functional>

class TraceRow;

/// Writes a capture as a pcapng file: one enhanced packet per FIP frame, from a
/// trace (`.vtrc`, the bus taken from its statistics file) or a raw capture
/// (`.praw`, decoded again). The file is replaced only when the export completes.
class PcapngExport
{
public:
    enum Result {
        Ok,
        Cancelled,
        SourceOpenFailed, ///< the trace or raw file cannot be read
        SourceInvalid,    ///< the raw file's header is not one of a capture
        WriteFailed       ///< the pcapng file cannot be written
    };

    /// Told the percentage done now and then; returning false cancels.
    using Progress = std::function<bool(int percent)>;
    /// Which trace rows go out (by row number from 0); null exports every row.
    using RowFilter = std::function<bool(qint64 row, const TraceRow& fields)>;

    void setProgress(Progress progress) { m_progress = std::move(progress); }
    void setRowFilter(RowFilter filter) { m_filter = std::move(filter); }
    /// Only these rows go out: ascending row numbers, as a display filter gives them.
    void setRows(QVector<quint32> rows);
    /// The bus, when the caller knows it better than the statistics file.
    void setLink(const FipPcapng::Link& link) { m_link = link; m_linkGiven = true; }

    Result fromTrace(const QString& tracePath, const QString& pcapngPath);
    Result fromRaw(const QString& rawPath, const QString& pcapngPath);

    /// The bus a statistics file names.
    static FipPcapng::Link linkFromStatistics(const QString& statisticsPath);

    quint64 framesWritten() const { return m_frames; }
    /// Rows that carry no frame bytes (label rows) and were left out.
    quint64 rowsSkipped() const { return m_skipped; }
    const FipPcapng::Link& link() const { return m_link; }
    QString errorString() const { return m_error; }

private:
    Progress m_progress;
    RowFilter m_filter;
    FipPcapng::Link m_link;
    bool m_linkGiven = false;
    quint64 m_frames = 0;
    quint64 m_skipped = 0;
    QString m_error;
};

#endif
