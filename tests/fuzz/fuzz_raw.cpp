// Bytes → a raw capture's header check and replay, with trace rows chosen and
// built as a conversion does. One input in 64 also goes through a real file and
// the conversion's loader, and the file must come out of it unchanged.

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/files/TraceRecorder.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

struct Rows : FipDecoderListener
{
    FipStreamDecoder decoder { this };
    TraceRecorder recorder;
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override
    {
        if (recorder.treatVtrcSave(decoder, frame, row) == TraceRecorder::LabelRowsWanted)
            recorder.saveLabelRow(row, TraceLabel());
    }
    void onProcessEvents(qint64, qint64) override {}
};

bool throughFile(const uint8_t* data, size_t size, Rows& rows)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fuzz.praw"));
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        out.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    RawTraceConversion conversion;
    if (conversion.openSource(path) == RawTraceConversion::Ok && conversion.readHeader() == RawTraceConversion::Ok) {
        bool stop = false;
        conversion.decode(rows.decoder, &stop);
    }
    conversion.close();

    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        abort();
    const QByteArray back = in.readAll();
    if (size_t(back.size()) != size || (size > 0 && std::memcmp(back.constData(), data, size) != 0))
        abort();
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static unsigned runs = 0;
    Rows rows;
    rows.decoder.setClock([] { return qint64(1767225600000); });
    TraceRecordOptions options;
    options.converting = true;
    options.depthMode = size > 0 ? 1 + data[size - 1] % 4 : 2;
    rows.recorder.setOptions(options);
    if (++runs % 64 == 0)
        return throughFile(data, size, rows), 0;

    int flow = 0;
    quint8 speed = 0;
    qint64 body = 0;
    if (RawTraceConversion::parseHeader(data, qint64(size), &flow, &speed, &body) == RawTraceConversion::Ok) {
        bool stop = false;
        RawTraceConversion::decodeBody(rows.decoder, flow, speed, data + body, qint64(size) - body, &stop);
    }
    return 0;
}
