// brantix-cli on a 1,000,000-frame raw capture of the simulated bus: convert
// into a trace, then the statistics of the raw capture and of the trace; frames
// per second of each, as a script sees them (whole processes, wall clock).

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int kFrames = 1000000;

bool writeCapture(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    FipTrafficGenerator bus(1, 2, 1700000000000000ULL);
    QByteArray chunk(1, char(2)); // Osp flow
    for (int i = 0; i < kFrames; ++i) {
        chunk += FipRecordEncoder::ospRecord(bus.next());
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

/// Runs brantix-cli and prints its frames per second; false when it failed.
bool timed(const char* name, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral(BX_BINARY_DIR "/bin/brantix-cli"), arguments);
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return false;
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%s: %.0f frames/s\n", name, kFrames / seconds);
    std::printf("%s time: %.2f s\n", name, seconds);
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString raw = dir.filePath("bus.praw");
    const QString trace = dir.filePath("bus.vtrc");
    if (!dir.isValid() || !writeCapture(raw)) {
        std::fprintf(stderr, "bench_cli: cannot write the raw capture\n");
        return 1;
    }
    std::printf("raw capture: %lld bytes\n", QFile(raw).size());
    const bool ok = timed("cli convert", { "convert", raw, trace })
        && timed("cli stats praw", { "stats", raw })
        && timed("cli stats vtrc", { "stats", trace });
    std::printf("trace: %lld bytes\n", QFile(trace).size());
    return ok ? 0 : 1;
}
