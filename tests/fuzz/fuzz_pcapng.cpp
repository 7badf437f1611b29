// Bytes → the pcapng / pcap reader, then the import of its FIP frames into trace
// rows as "Open Capture..." does. Every packet the reader hands on must lie
// within the input.

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/TraceRecorder.h"
#include "capture/pcapng/PcapngFormat.h"
#include "capture/pcapng/PcapngImport.h"
#include "capture/pcapng/PcapngReader.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct Rows : FipDecoderListener
{
    FipStreamDecoder decoder { this };
    TraceRecorder recorder;
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override { recorder.treatVtrcSave(decoder, frame, row); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    PcapngReader reader(data, qint64(size), Pcapng::BrantixEnterprise);
    PcapngReader::Packet packet;
    while (reader.next(&packet) == PcapngReader::PacketRead) {
        if (packet.size < 0 || packet.interfaceId < 0 || packet.interfaceId >= reader.interfaces().size())
            abort();
        if (packet.size > 0 && (packet.data < data || packet.data + packet.size > data + size))
            abort();
    }

    Rows rows;
    rows.decoder.setClock([] { return qint64(1767225600000); });
    TraceRecordOptions options;
    options.converting = true;
    rows.recorder.setOptions(options);
    PcapngImport import;
    import.setData(data, qint64(size));
    bool stop = false;
    if (import.decode(rows.decoder, &stop) != PcapngImport::Ok && import.errorString().isEmpty())
        abort();
    return 0;
}
