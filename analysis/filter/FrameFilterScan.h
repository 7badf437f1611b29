#ifndef BX_ANALYSIS_FILTER_FRAMEFILTERSCAN_H
#define BX_ANALYSIS_FILTER_FRAMEFILTERSCAN_H

#include "analysis/filter/FrameFilter.h"

#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

/// Runs a filter over the lines of a trace file, given where each line starts.
/// Reads the file through its own handle, so it can run on any thread.
class FrameFilterScan
{
public:
    enum class Status { Done, Cancelled, Failed };

    struct Result {
        Status status = Status::Done;
        QString message;       ///< why it failed
        QVector<quint32> rows; ///< matching row numbers, ascending; 4 bytes a match
        qint64 scanned = 0;    ///< rows looked at
    };

    /// Rows [first, end) of `offsets`; stops after `limit` matches when limit > 0.
    /// `cancel` is polled between blocks; `progress` gets the rows done so far.
    static Result run(const QString& path, const QVector<qint64>& offsets, qint64 first, qint64 end,
                      const FrameFilter& filter, const FrameFilterContext& context, int limit = 0,
                      const std::atomic<bool>* cancel = nullptr,
                      const std::function<void(qint64)>& progress = {});

    /// The first matching row after `from` (forward) or the last one before it
    /// (backward); -1 when none or cancelled. `progress` gets the share of the
    /// rows to look at that has been looked at, in percent.
    static qint64 find(const QString& path, const QVector<qint64>& offsets, qint64 from, bool forward,
                       const FrameFilter& filter, const FrameFilterContext& context,
                       const std::atomic<bool>* cancel = nullptr,
                       const std::function<void(int)>& progress = {});

    /// Largest number of rows a result can name.
    static constexpr qint64 MaxRows = 0xffffffffLL;
};

#endif
