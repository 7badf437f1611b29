#include "analysis/filter/FrameFilterScan.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cstring>

namespace {

// Bytes mapped at once: small enough to poll Cancel often, large enough to
// keep the mapping calls rare.
constexpr qint64 kBlockBytes = 8 << 20;
// A last line is never read further than this.
constexpr qint64 kMaxLine = 1 << 20;

QString changed()
{
    return QCoreApplication::translate("FrameFilterScan", "The trace file changed while filtering");
}

} // namespace

FrameFilterScan::Result FrameFilterScan::run(const QString& path, const QVector<qint64>& offsets, qint64 first,
                                             qint64 end, const FrameFilter& filter,
                                             const FrameFilterContext& context, int limit,
                                             const std::atomic<bool>* cancel,
                                             const std::function<void(qint64)>& progress)
{
    Result result;
    first = std::max<qint64>(first, 0);
    end = std::min<qint64>(end, offsets.size());
    if (first >= end || !filter.isValid())
        return result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        result.status = Status::Failed;
        result.message = file.errorString();
        return result;
    }
    const qint64 size = file.size();
    const int fields = std::max(filter.fieldsNeeded(), 1);
    FrameLine line;
    QByteArray buffer;

    for (qint64 row = first; row < end;) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.status = Status::Cancelled;
            return result;
        }
        const qint64 start = offsets.at(int(row));
        qint64 last = row + 1;
        while (last < end && offsets.at(int(last)) - start < kBlockBytes)
            ++last;
        // The block runs to the start of the row after it, or to the end of the file.
        const bool lastOfFile = last >= offsets.size();
        qint64 stop = lastOfFile ? std::min(size, offsets.at(int(last - 1)) + kMaxLine) : offsets.at(int(last));
        if (start < 0 || start >= size || stop > size || stop < start) {
            result.status = Status::Failed;
            result.message = changed();
            return result;
        }
        const qint64 length = stop - start;
        const char* data = nullptr;
        uchar* map = length > 0 ? file.map(start, length) : nullptr;
        if (map) {
            data = reinterpret_cast<const char*>(map);
        } else {
            buffer.resize(int(length));
            if (!file.seek(start) || file.read(buffer.data(), length) != length) {
                result.status = Status::Failed;
                result.message = changed();
                return result;
            }
            data = buffer.constData();
        }

        for (qint64 r = row; r < last; ++r) {
            const qint64 from = offsets.at(int(r)) - start;
            const qint64 to = (r + 1 < offsets.size() ? offsets.at(int(r + 1)) : stop) - start;
            if (from < 0 || to < from || to > length) {
                if (map)
                    file.unmap(map);
                result.status = Status::Failed;
                result.message = changed();
                return result;
            }
            const char* p = data + from;
            int n = int(to - from);
            // A line ends where the next begins; only the file's last one is looked through.
            if (n > 0 && p[n - 1] == '\n') {
                --n;
            } else if (n > 0) {
                if (const void* nl = std::memchr(p, '\n', size_t(unsigned(n))))
                    n = int(static_cast<const char*>(nl) - p);
            }
            if (n > 0 && p[n - 1] == '\r')
                --n;
            line.reset(p, n, fields);
            if (filter.matches(line, context)) {
                result.rows.append(quint32(r));
                if (limit > 0 && result.rows.size() >= limit) {
                    result.scanned = r + 1 - first;
                    if (map)
                        file.unmap(map);
                    return result;
                }
            }
        }
        if (map)
            file.unmap(map);
        row = last;
        result.scanned = row - first;
        if (progress)
            progress(result.scanned);
    }
    return result;
}

qint64 FrameFilterScan::find(const QString& path, const QVector<qint64>& offsets, qint64 from, bool forward,
                             const FrameFilter& filter, const FrameFilterContext& context,
                             const std::atomic<bool>* cancel, const std::function<void(int)>& progress)
{
    const qint64 count = offsets.size();
    const qint64 toScan = forward ? count - std::max<qint64>(from + 1, 0) : std::min(from, count);
    qint64 done = 0;
    const auto report = [&](qint64 rows) {
        if (progress && toScan > 0)
            progress(int((done + rows) * 100 / toScan));
    };
    if (forward) {
        const Result r = run(path, offsets, from + 1, count, filter, context, 1, cancel, report);
        return r.status == Status::Done && !r.rows.isEmpty() ? qint64(r.rows.first()) : -1;
    }
    // Backward, a block at a time, keeping the block's last match.
    constexpr qint64 kBlockRows = 1 << 16;
    for (qint64 end = std::min(from, count); end > 0;) {
        const qint64 begin = std::max<qint64>(end - kBlockRows, 0);
        const Result r = run(path, offsets, begin, end, filter, context, 0, cancel, report);
        if (r.status != Status::Done)
            return -1;
        if (!r.rows.isEmpty())
            return r.rows.last();
        done += end - begin;
        end = begin;
    }
    return -1;
}
