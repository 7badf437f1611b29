// Decoding speed of generated capture streams, trace size per frame, the time
// to convert a 1,000,000-frame raw file, and heap allocations per frame.

#include "capture/files/RawTraceConversion.h"
#include "tests/capture/decoder/FipStreamBuilder.h"
#include "tests/capture/files/CapturePipeline.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// Heap calls are counted while `g_counting` is set (glibc's entry points).
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_realloc(void*, size_t);
static bool g_counting = false;
static quint64 g_allocations = 0;
extern "C" void* malloc(size_t n)
{
    if (g_counting)
        ++g_allocations;
    return __libc_malloc(n);
}
extern "C" void* realloc(void* p, size_t n)
{
    if (g_counting)
        ++g_allocations;
    return __libc_realloc(p, n);
}

using namespace FipStreamBuilder;

namespace {

// One macrocycle's worth of traffic: periodic variables, a message, acks.
std::vector<Bytes> cycleFrames(int cycle)
{
    std::vector<Bytes> frames;
    for (int v = 0; v < 8; ++v) {
        frames.push_back(frame({ 0x03, 0x05, quint8(0x10 + v) }));
        Bytes reply = { 0x02, 0x40, 0x08 };
        for (int i = 0; i < 8; ++i)
            reply.push_back(quint8((cycle >> (i % 3)) + v + i));
        frames.push_back(frame(reply));
    }
    frames.push_back(frame({ 0x05, 0x14, 0xFF }));
    frames.push_back(frame({ 0x04, 0x00, 0x10, 0x00, 0x00, 0x20, 0x00, 0x01, 0x02 }));
    frames.push_back(frame({ 0x30 }));
    frames.push_back(frame({ 0x40 }));
    return frames;
}

// Event packets of about 1000 bytes, as the card hands them on.
QList<QByteArray> eventPackets(int frameCount, QByteArray* rawBody)
{
    QList<QByteArray> packets;
    QByteArray data;
    QByteArray packet;
    quint8 counter = 0;
    int n = 0;
    for (int cycle = 0; n < frameCount; ++cycle) {
        for (const Bytes& f : cycleFrames(cycle)) {
            if (n++ >= frameCount)
                break;
            const QByteArray record = tlvRecord(f, 0, 300, quint16(f.size() * 11), 1, 2);
            if (rawBody)
                rawBody->append(record);
            data += record;
            if (data.size() >= 900) {
                packet += eventRecord(counter++, data);
                data.clear();
                packets += packet;
                packet.clear();
            }
        }
    }
    if (!data.isEmpty())
        packets += eventRecord(counter, data);
    return packets;
}

QList<QByteArray> ospPackets(int frameCount)
{
    QList<QByteArray> packets;
    QByteArray payload;
    quint32 records = 0;
    quint64 counter = 0;
    quint64 stamp = 1767225600000000ULL;
    int n = 0;
    for (int cycle = 0; n < frameCount; ++cycle) {
        for (const Bytes& f : cycleFrames(cycle)) {
            if (n++ >= frameCount)
                break;
            payload += ospRecord(f, ospStatus(1, 2), stamp += 40, quint32(f.size() * 11), 300, 1, 8);
            if (++records == 30) {
                packets += ospPacket(++counter, records, payload);
                payload.clear();
                records = 0;
            }
        }
    }
    if (records > 0)
        packets += ospPacket(++counter, records, payload);
    return packets;
}

double framesPerSecond(CapturePipeline& p, int flow, const QList<QByteArray>& packets, int rounds)
{
    QElapsedTimer timer;
    timer.start();
    for (int r = 0; r < rounds; ++r) {
        for (const QByteArray& packet : packets)
            p.decoder.onOstrakDataReceived(flow, packet);
        p.writer.writePending(&p.offsets);
        p.offsets.clear();
    }
    return double(p.decoder.counters().frames) * 1e9 / double(timer.nsecsElapsed());
}

// Peak resident memory of the process so far, in MiB.
double peakRssMiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    for (QByteArray line = f.readLine(); !line.isEmpty(); line = f.readLine()) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

// The whole per-frame step, trace rows written to disk, over `total` frames of
// the same packets played again and again; peak memory at 1 M and at the end.
void tracedRun(const char* label, int flow, const QList<QByteArray>& packets, quint64 total, const QString& trace)
{
    CapturePipeline p;
    p.decoder.setCardSpeed(1);
    TraceRecordOptions o;
    o.converting = true;
    p.recorder.setOptions(o);
    p.writer.open(trace);
    bool rssAtMillion = false;
    QElapsedTimer timer;
    timer.start();
    while (p.decoder.counters().frames < total) {
        for (const QByteArray& packet : packets)
            p.decoder.onOstrakDataReceived(flow, packet);
        p.writer.writePending(&p.offsets);
        p.offsets.clear(); // the frame table would take them
        if (!rssAtMillion && p.decoder.counters().frames >= 1000000) {
            rssAtMillion = true;
            std::printf("%s, peak RSS at 1M frames: %.1f MiB\n", label, peakRssMiB());
        }
    }
    const double fps = double(p.decoder.counters().frames) * 1e9 / double(timer.nsecsElapsed());
    p.writer.close();
    std::printf("%s, all frames traced, %llu frames: %.0f frames/s\n", label,
                static_cast<unsigned long long>(p.decoder.counters().frames), fps);
    std::printf("%s, peak RSS at %lluM frames: %.1f MiB\n", label,
                static_cast<unsigned long long>(p.decoder.counters().frames / 1000000), peakRssMiB());
    std::printf("%s, trace file: %.1f bytes/frame\n", label,
                double(QFileInfo(trace).size()) / double(p.decoder.counters().frames));
    QFile::remove(trace);
}

} // namespace

int main()
{
    QTemporaryDir dir;
    const int frames = 200000;
    const QList<QByteArray> events = eventPackets(frames, nullptr);
    const QList<QByteArray> osp = ospPackets(frames);

    {
        CapturePipeline p;
        p.decoder.setCardSpeed(1);
        TraceRecordOptions o;
        o.depthMode = TraceRecordOptions::NoData;
        o.converting = true;
        p.recorder.setOptions(o);
        std::printf("decode events, no trace: %.0f frames/s\n", framesPerSecond(p, 1, events, 3));
    }
    {
        CapturePipeline p;
        TraceRecordOptions o;
        o.depthMode = TraceRecordOptions::NoData;
        o.converting = true;
        p.recorder.setOptions(o);
        std::printf("decode osp, no trace: %.0f frames/s\n", framesPerSecond(p, 2, osp, 3));
    }
    tracedRun("decode events", 1, events, 5000000, dir.filePath("events.vtrc"));
    tracedRun("decode osp", 2, osp, 5000000, dir.filePath("osp.vtrc"));
    {
        CapturePipeline p;
        p.decoder.setCardSpeed(1);
        TraceRecordOptions o;
        o.converting = true;
        p.recorder.setOptions(o);
        const QString trace = dir.filePath("live.vtrc");

        // Steady state: once buffers have grown, frames cost no heap calls.
        p.writer.open(trace);
        for (const QByteArray& packet : events.mid(0, 100))
            p.decoder.onOstrakDataReceived(1, packet);
        p.writer.writePending(&p.offsets);
        p.offsets.clear();
        p.offsets.reserve(100000);
        const quint64 start = p.decoder.counters().frames;
        g_allocations = 0;
        g_counting = true;
        for (const QByteArray& packet : events.mid(100, 1000))
            p.decoder.onOstrakDataReceived(1, packet);
        g_counting = false;
        const quint64 counted = p.decoder.counters().frames - start;
        std::printf("heap calls per traced frame: %.3f\n", double(g_allocations) / double(counted));
        p.writer.close();
    }

    {
        // A 1,000,000-frame raw capture converted into a full trace.
        QByteArray body;
        eventPackets(1000000, &body);
        const QString raw = dir.filePath("big.praw");
        QFile f(raw);
        f.open(QIODevice::WriteOnly);
        f.write(QByteArray("\x01\x01", 2));
        f.write(body);
        f.close();
        CapturePipeline p;
        TraceRecordOptions o;
        o.converting = true;
        p.recorder.setOptions(o);
        QElapsedTimer timer;
        timer.start();
        RawTraceConversion c;
        if (c.openSource(raw) != RawTraceConversion::Ok || c.readHeader() != RawTraceConversion::Ok)
            return 1;
        p.writer.open(dir.filePath("big.vtrc"));
        bool stop = false;
        c.decode(p.decoder, &stop);
        p.writer.close(&p.offsets);
        c.close();
        const qint64 ms = timer.elapsed();
        std::printf("convert 1000000-frame raw file: %lld ms\n", ms);
        std::printf("convert raw to trace: %.0f frames/s\n", 1e6 * 1000.0 / double(ms ? ms : 1));
        std::printf("raw file: %.1f bytes/frame\n", double(QFileInfo(raw).size()) / 1e6);
        std::printf("converted trace file: %.1f bytes/frame\n", double(QFileInfo(dir.filePath("big.vtrc")).size()) / 1e6);
        if (p.offsets.size() != 1000000)
            std::printf("rows: %d\n", p.offsets.size());
    }
    return 0;
}
