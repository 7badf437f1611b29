// Bytes → packet splitter and frame decoder. The first byte picks the flow and
// the card speed; then each chunk is a 2-byte length and that many packet bytes
// (length 0 is a traffic pause).

#include "capture/decoder/FipStreamDecoder.h"

#include <cstddef>
#include <cstdint>

namespace {

struct Sink : FipDecoderListener, FipRawSink
{
    qint64 rawBytes = 0;
    qint64 rows = 0;
    FipStreamDecoder* decoder = nullptr;
    void appendRaw(const char*, int size) override { rawBytes += size; }
    void onFrameDone(const FipFrameInfo& f, TraceRow& row) override
    {
        // Touch every byte the decoder hands on, and build the row header.
        volatile quint8 sum = 0;
        for (int i = 0; i < f.size; ++i)
            sum = quint8(sum + f.data[i]);
        decoder->fillRowHeader(row);
        rows += row.line().size() > 0;
    }
    void onProcessEvents(qint64, qint64) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    Sink sink;
    FipStreamDecoder decoder(&sink);
    sink.decoder = &decoder;
    decoder.setClock([] { return qint64(1767225600000); });
    decoder.setRawSink(&sink);
    const int flow = (data[0] & 1) ? 2 : 1;
    decoder.setCardSpeed(quint8((data[0] >> 1) & 7));
    decoder.setPaddingRule((data[0] & 0x10) != 0, 0x1234);

    size_t pos = 1;
    while (pos + 2 <= size) {
        const size_t length = (size_t(data[pos]) << 8) | data[pos + 1];
        pos += 2;
        if (length == 0) {
            decoder.onOstrakNoTrafficDetected();
            continue;
        }
        const size_t take = length < size - pos ? length : size - pos;
        decoder.onOstrakDataReceived(flow, QByteArray(reinterpret_cast<const char*>(data + pos), int(take)));
        pos += take;
    }
    // The same bytes as a replayed raw body.
    bool stop = false;
    decoder.beginReplay(flow, quint8((data[0] >> 1) & 3));
    if (flow == 1)
        decoder.treatTlvFipStream(data + 1, qint64(size - 1), &stop, true);
    else
        decoder.treatOspEvtStream(data + 1, qint64(size - 1), &stop, true);
    return 0;
}
