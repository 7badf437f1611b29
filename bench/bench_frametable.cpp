// The frame table over a generated trace of 10,000,000 frames (about 1.25 GB),
// one figure per line:
//   open          setFilePath until the first screen (40 rows x 22 columns) is read
//   index memory  bytes held per frame for the row offsets
//   screen        40 rows x 22 columns read at 200 random rows, median and worst
// Fewer rows for a quick run: bench_frametable 100000, or BX_BENCH_ROWS=100000.
// The file is read right after being written, so it sits in the page cache.
#include "analysis/MainATModel.h"
#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kScreenRows = 40;
constexpr int kScreens = 200;

// Lines as the decoder writes them: identifier and reply frames of a few
// variables, with dates, delays and data bytes.
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
        const bool reply = n & 1;
        const quint16 id = quint16(0x0510 + (n / 2) % 24);
        TraceFormat::appendGrouped(out, quint64(n + 1));
        out += "\t\t\t";
        date.append(out, tick);
        out += '\t';
        TraceFormat::appendDecimal(out, tick);
        out += '\t';
        TraceFormat::appendCentiMicros(out, 1200 + quint64(n % 7) * 100);
        out += '\t';
        TraceFormat::appendCentiMicros(out, reply ? 4400 : 2000);
        out += reply ? "\tRP_DAT\t" : "\tID_DAT\t";
        TraceFormat::appendHex4(out, id);
        out += reply ? "\t40\t8\t\t" : "\t\t2\t\t";
        if (reply) {
            for (int i = 0; i < 8; ++i)
                bytes[i] = quint8(n >> i);
            TraceFormat::appendBytes(out, bytes, 8);
        } else {
            TraceFormat::appendBytes(out, bytes, 2);
        }
        out += "\t\t\t\t\t";
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

// Reads a screen of cells; the sum of the text lengths keeps the reads from being optimised away.
qint64 readScreen(const MainATModel& model, int first)
{
    qint64 chars = 0;
    const int last = std::min(first + kScreenRows, model.rowCount());
    for (int r = first; r < last; ++r)
        for (int c = 0; c < MainATModel::ColumnCount; ++c)
            chars += model.data(model.index(r, c)).toString().size();
    return chars;
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
    QElapsedTimer timer;
    timer.start();
    if (!dir.isValid() || !writeTrace(path, rows)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    std::fprintf(stderr, "trace of %lld rows, %lld bytes, written in %lld ms\n", static_cast<long long>(rows),
                 static_cast<long long>(QFile(path).size()), static_cast<long long>(timer.elapsed()));
    const QString label = rows == 10000000 ? QStringLiteral("10M") : QString::number(rows);

    qint64 sink = 0;
    {
        MainATModel model;
        timer.start();
        model.setFilePath(path);
        sink += readScreen(model, 0);
        const qint64 openMs = timer.elapsed();
        if (model.rowCount() != rows) {
            std::fprintf(stderr, "indexed %d rows of %lld\n", model.rowCount(), static_cast<long long>(rows));
            return 1;
        }
        std::printf("frametable open %s rows: %lld ms\n", qPrintable(label), static_cast<long long>(openMs));
        std::printf("frametable index memory: %.2f bytes/frame\n", double(model.indexBytes()) / double(rows));

        QRandomGenerator random(20261207);
        std::vector<double> ms;
        ms.reserve(kScreens);
        for (int s = 0; s < kScreens; ++s) {
            const int first = int(random.bounded(quint32(std::max<qint64>(rows - kScreenRows, 1))));
            timer.start();
            sink += readScreen(model, first);
            ms.push_back(double(timer.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        std::printf("frametable screen at random row: median %.2f ms, worst %.2f ms\n", ms[ms.size() / 2], ms.back());
        std::fflush(stdout);
        std::fprintf(stderr, "(%lld characters read)\n", static_cast<long long>(sink));
    }
    QFile::remove(path);
    return 0;
}
