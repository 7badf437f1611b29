// The display filter over a generated trace of 10,000,000 frames, through the
// filtered frame table as the window uses it (matching in its worker thread),
// one figure per line:
//   filter <expression>     seconds from setFilter to the rows shown
//   event loop stall        worst and 99th percentile gap of a 1 ms timer on the
//                           GUI thread while the worker matched
//   memory                  bytes per matching frame and per frame of the trace
//   screen                  40 rows x 22 columns of filtered rows at 200 random
//                           positions, median and worst
// Fewer rows for a quick run: bench_filter 100000, or BX_BENCH_ROWS=100000.
// The file is read right after being written, so it sits in the page cache.
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilter.h"
#include "analysis/filter/FrameFilterScan.h"
#include "capture/decoder/TraceFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <ctime>
#include <vector>

namespace {

constexpr int kScreenRows = 40;
constexpr int kScreens = 200;

// Identifier and reply frames of 24 variables from 0x0100, one error row in 1000.
bool writeTrace(const QString& path, qint64 rows)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    TraceFormat::DateText date;
    std::string out;
    out.reserve(1 << 22);
    const quint64 start = 1765087200000000ULL;
    quint8 bytes[8];
    for (qint64 n = 0; n < rows; ++n) {
        const quint64 tick = start + quint64(n) * 37;
        const bool error = n % 1000 == 999;
        const bool reply = n & 1;
        const quint16 id = quint16(0x0100 + (n / 2) % 24);
        out += '\t';
        TraceFormat::appendGrouped(out, quint64(n + 1));
        out += "\t\t\t";
        date.append(out, tick);
        out += '\t';
        TraceFormat::appendDecimal(out, tick);
        out += '\t';
        TraceFormat::appendCentiMicros(out, 1200 + quint64(n % 7) * 100);
        out += '\t';
        TraceFormat::appendCentiMicros(out, reply ? 4400 : 2000);
        out += error ? "\tERROR\t" : reply ? "\tRP_DAT\t" : "\tID_DAT\t";
        TraceFormat::appendHex4(out, id);
        out += reply ? "\tMPS\t8\t\t" : "\t\t2\t\t";
        for (int i = 0; i < 8; ++i)
            bytes[i] = quint8(n >> i);
        if (error)
            out += "Type: FCS Error [read = 0x1234, calculated = 0x4321] - Data Rescue: 02 40 ";
        else
            TraceFormat::appendBytes(out, bytes, reply ? 8 : 2);
        out += "\t\t\t\t";
        out += reply ? "\tProduced\tSignificant\tRefreshed\t" : "\t\t\t\t";
        TraceFormat::appendHex4(out, quint16(n * 2654435761u));
        out += '\n';
        if (out.size() > (1 << 22) - 512) {
            if (file.write(out.data(), qint64(out.size())) != qint64(out.size()))
                return false;
            out.clear();
        }
    }
    return file.write(out.data(), qint64(out.size())) == qint64(out.size());
}

double threadCpuSeconds()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

qint64 readScreen(const QAbstractItemModel& model, int first)
{
    qint64 chars = 0;
    const int last = std::min(first + kScreenRows, model.rowCount());
    for (int r = first; r < last; ++r)
        for (int c = 0; c < model.columnCount(); ++c)
            chars += model.data(model.index(r, c)).toString().size();
    return chars;
}

// Applies a filter and runs the event loop until its rows are shown, timing
// the loop's gaps meanwhile.
bool applyTimed(FrameFilterATModel& model, const QString& text, double* seconds, std::vector<double>* gaps)
{
    QEventLoop loop;
    bool ok = true;
    QObject::connect(&model, &FrameFilterATModel::filterApplied, &loop, &QEventLoop::quit);
    QObject::connect(&model, &FrameFilterATModel::filterStopped, &loop, [&] { ok = false; loop.quit(); });
    QTimer tick;
    tick.setInterval(1);
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer since;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        gaps->push_back(double(since.nsecsElapsed()) / 1e6);
        since.start();
    });
    QElapsedTimer timer;
    timer.start();
    since.start();
    tick.start();
    model.setFilter(FrameFilter::parse(text));
    loop.exec();
    *seconds = double(timer.nsecsElapsed()) / 1e9;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 rows = 10000000;
    if (argc > 1)
        rows = std::atoll(argv[1]);
    else if (qEnvironmentVariableIsSet("BX_BENCH_ROWS"))
        rows = qEnvironmentVariable("BX_BENCH_ROWS").toLongLong();
    if (rows <= 0)
        rows = 10000000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.vtrc"));
    if (!dir.isValid() || !writeTrace(path, rows)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    std::fprintf(stderr, "trace of %lld rows, %lld bytes\n", static_cast<long long>(rows),
                 static_cast<long long>(QFile(path).size()));

    qint64 sink = 0;
    {
        MainATModel table;
        table.setFilePath(path);
        FrameFilterATModel model(&table);
        std::vector<double> gaps;
        for (const char* text : { "id == 0x0100 and ctrl == RP_DAT", "not error" }) {
            double seconds = 0;
            if (!applyTimed(model, QString::fromLatin1(text), &seconds, &gaps)) {
                std::fprintf(stderr, "filter %s stopped\n", text);
                return 1;
            }
            std::printf("filter \"%s\": %.3f s (%d of %d frames)\n", text, seconds, model.rowCount(),
                        table.rowCount());
            // The same scan on this thread, for the processor time it takes on a busy machine.
            const double cpu = threadCpuSeconds();
            FrameFilterScan::run(path, table.rowOffsets(), 0, table.rowCount(), FrameFilter::parse(QString::fromLatin1(text)), {});
            std::printf("filter \"%s\" processor time: %.3f s\n", text, threadCpuSeconds() - cpu);
            std::printf("filter \"%s\" memory: %.2f bytes/match, %.2f bytes/frame\n", text,
                        double(model.matchingRows().capacity()) * 4.0 / std::max(model.rowCount(), 1),
                        double(model.matchingRows().capacity()) * 4.0 / double(rows));
        }
        std::sort(gaps.begin(), gaps.end());
        std::printf("filter event loop worst gap: %.1f ms\n", gaps.back());
        std::printf("filter event loop gap 99th percentile: %.1f ms\n", gaps[gaps.size() * 99 / 100]);

        model.setFilter(FrameFilter::parse(QStringLiteral("id == 0x0100 and ctrl == RP_DAT")));
        QEventLoop loop;
        QObject::connect(&model, &FrameFilterATModel::filterApplied, &loop, &QEventLoop::quit);
        loop.exec();
        QRandomGenerator random(20261207);
        std::vector<double> ms;
        QElapsedTimer timer;
        for (int s = 0; s < kScreens; ++s) {
            const int first = int(random.bounded(quint32(std::max(model.rowCount() - kScreenRows, 1))));
            timer.start();
            sink += readScreen(model, first);
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("filtered screen at random row: median %.2f ms, worst %.2f ms\n", ms[ms.size() / 2], ms.back());
        std::fflush(stdout);
        std::fprintf(stderr, "(%lld characters read)\n", static_cast<long long>(sink));
    }
    QFile::remove(path);
    return 0;
}
