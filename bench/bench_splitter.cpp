// Intake of the remote link's packet splitter, in MB/s of bytes fed, one figure per line:
//   3-byte records   Osp packets of a thousand-odd 0xC1 records of 3 bytes, in 1460-byte reads
//   normal traffic   event packets of 16 frame records, in 64 KiB reads
// Each also through the one-packet-per-call splitter (treatOspPkt / treatIProtEvtPkt), which
// walks a packet again on every read until it is whole.
#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakStreamSplitter.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

namespace {

QByteArray tinyRecordStream(int bytes)
{
    QByteArray records;
    for (int i = 0; i < 20000; ++i)
        records.append("\xC1\x00\x03", 3);
    QByteArray stream;
    for (quint64 c = 1; stream.size() < bytes; ++c)
        stream += FipRecordEncoder::ospPacket(c, 20000, records);
    return stream;
}

QByteArray normalStream(int bytes)
{
    FipTrafficGenerator generator(1, 2);
    QByteArray stream;
    for (quint8 c = 0; stream.size() < bytes; ++c) {
        QByteArray records;
        for (int f = 0; f < 16; ++f)
            records += FipRecordEncoder::tlvRecord(generator.next());
        stream += FipRecordEncoder::eventRecord(c, FipRecordEncoder::kFrameRecordsEvent, records);
    }
    return stream;
}

double splitterMBps(const QByteArray& stream, int flow, int read)
{
    OstrakStreamSplitter splitter(flow);
    QByteArray output;
    qint64 out = 0;
    QElapsedTimer t;
    t.start();
    for (int at = 0; at < stream.size(); at += read) {
        splitter.append(stream.constData() + at, std::min(read, stream.size() - at));
        splitter.split(&output);
        out += output.size();
        output.resize(0);
    }
    const double s = double(t.nsecsElapsed()) / 1e9;
    if (out != stream.size())
        std::printf("  (splitter took %lld of %d bytes)\n", static_cast<long long>(out), stream.size());
    return double(stream.size()) / 1e6 / s;
}

double oneByOneMBps(const QByteArray& stream, int flow, int read)
{
    QByteArray input, output;
    quint64 last = 0;
    bool started = false;
    QElapsedTimer t;
    t.start();
    for (int at = 0; at < stream.size(); at += read) {
        input.append(stream.constData() + at, std::min(read, stream.size() - at));
        bool more = true;
        while (more) {
            if (flow == 2)
                OstrakCard::treatOspPkt(&input, &output, &last, &started, &more);
            else
                OstrakCard::treatIProtEvtPkt(&input, &output, &last, &started, &more);
        }
        output.resize(0);
    }
    return double(stream.size()) / 1e6 / (double(t.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const QByteArray tiny = tinyRecordStream(8 << 20);
    const QByteArray normal = normalStream(64 << 20);
    std::printf("splitter intake, 3-byte records: %.1f MB/s\n", splitterMBps(tiny, 2, 1460));
    std::printf("splitter intake, normal traffic: %.1f MB/s\n", splitterMBps(normal, 1, 65536));
    std::printf("one-packet-per-call splitter, 3-byte records: %.1f MB/s\n", oneByOneMBps(tiny, 2, 1460));
    std::printf("one-packet-per-call splitter, normal traffic: %.1f MB/s\n", oneByOneMBps(normal, 1, 65536));
    return 0;
}
