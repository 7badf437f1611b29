// pcapng export (from the trace and from the raw file) and import of a
// 1,000,000-frame capture of the simulated bus, beside the raw file's own
// conversion into a trace. One figure per line. An argument keeps the files
// in that folder instead of a temporary one.

#include "capture/files/CaptureSession.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/pcapng/PcapngExport.h"
#include "capture/pcapng/PcapngImport.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Frames = 1000000;

double perSecond(quint64 frames, qint64 ms)
{
    return double(frames) * 1000.0 / double(ms > 0 ? ms : 1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    QDir().mkpath(folder);
    const QString raw = QDir(folder).filePath("bench.praw");
    const QString trace = QDir(folder).filePath("bench.vtrc");
    const QString pcapng = QDir(folder).filePath("bench.pcapng");

    {
        FipTrafficGenerator generator(1, 2, 1767225600000000ull);
        generator.setFollowNetwork(false);
        generator.setErrorEvery(997);
        QFile out(raw);
        if (!out.open(QIODevice::WriteOnly))
            return 1;
        out.write("\x02", 1);
        QByteArray chunk;
        for (int i = 0; i < Frames; ++i) {
            chunk += FipRecordEncoder::ospRecord(generator.next());
            if (chunk.size() > (1 << 20)) {
                out.write(chunk);
                chunk.clear();
            }
        }
        out.write(chunk);
    }

    QElapsedTimer timer;
    {
        CaptureSession session;
        RawTraceConversion conversion;
        if (conversion.openSource(raw) != RawTraceConversion::Ok || conversion.readHeader() != RawTraceConversion::Ok)
            return 1;
        TraceRecordOptions options;
        options.converting = true;
        CaptureSession::Files files;
        files.trace = trace;
        QString error;
        if (!session.start(options, files, &error))
            return 1;
        bool stop = false;
        timer.start();
        conversion.decode(session.decoder(), &stop);
        session.stop();
        std::printf("convert raw to trace (reference): %.0f frames/s\n", perSecond(Frames, timer.elapsed()));
    }

    PcapngExport exporter;
    timer.start();
    if (exporter.fromTrace(trace, pcapng) != PcapngExport::Ok)
        return 1;
    std::printf("export trace to pcapng: %.0f frames/s\n", perSecond(exporter.framesWritten(), timer.elapsed()));
    std::printf("pcapng file: %.1f bytes/frame\n", double(QFileInfo(pcapng).size()) / double(exporter.framesWritten()));

    timer.start();
    if (exporter.fromRaw(raw, QDir(folder).filePath("bench_raw.pcapng")) != PcapngExport::Ok)
        return 1;
    std::printf("export raw to pcapng: %.0f frames/s\n", perSecond(exporter.framesWritten(), timer.elapsed()));

    {
        CaptureSession session;
        PcapngImport import;
        bool stop = false;
        timer.start();
        if (import.toTrace(pcapng, QDir(folder).filePath("imported.vtrc"), session, TraceRecordOptions(), &stop)
            != PcapngImport::Ok)
            return 1;
        std::printf("import pcapng to trace: %.0f frames/s\n", perSecond(import.framesRead(), timer.elapsed()));
    }
    return 0;
}
