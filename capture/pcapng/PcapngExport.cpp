#include "capture/pcapng/PcapngExport.h"

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/decoder/TraceRow.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/files/StatsFile.h"
#include "capture/pcapng/PcapngFormat.h"
#include "capture/records/CFipNode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cstring>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PcapngExport", text);
}

QString application()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("Brantix") : QStringLiteral("Brantix ") + version;
}

// Rows looked at to tell the bus when no statistics name it.
constexpr int FrameTypeProbeRows = 1000;
constexpr qint64 ProgressPeriodNs = 100000000;

// The progress callback, at most every 0.1 s; false when the user cancelled.
class Pacer
{
public:
    explicit Pacer(const PcapngExport::Progress& progress)
        : m_progress(progress)
    {
        m_timer.start();
    }
    bool tick(qint64 done, qint64 total)
    {
        if (!m_progress || m_timer.nsecsElapsed() < ProgressPeriodNs)
            return true;
        m_timer.start();
        return m_progress(total > 0 ? int(done * 100 / total) : 0);
    }
    void finish()
    {
        if (m_progress)
            m_progress(100);
    }

private:
    const PcapngExport::Progress& m_progress;
    QElapsedTimer m_timer;
};

// The pcapng file being written: replaced only on commit.
struct Output
{
    QSaveFile file;
    PcapngWriter writer { &file, Pcapng::BrantixEnterprise };

    bool open(const QString& path, const FipPcapng::Link& link)
    {
        file.setFileName(path);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        writer.writeSectionHeader(application());
        writer.writeInterface(FipPcapng::interfaceFor(link));
        return true;
    }
    bool commit() { return writer.flush() && file.commit(); }
};

// A trace line into a row whose fields keep their capacity from line to line.
void splitLine(const char* p, const char* end, TraceRow& row)
{
    if (end > p && end[-1] == '\r')
        --end;
    for (int column = 0; column < TraceRow::FieldCount; ++column) {
        const char* tab = p < end ? static_cast<const char*>(std::memchr(p, '\t', size_t(end - p))) : nullptr;
        const char* stop = tab ? tab : end;
        row.field(column).assign(p, size_t(stop - p));
        p = tab ? tab + 1 : end;
    }
}

quint8 frameTypeOf(const FipDecoderState& state)
{
    if (state.frameTypeText == QLatin1String("FIP"))
        return CFipNode::FrameTypeFIP;
    if (state.frameTypeText == QLatin1String("WorldFIP"))
        return CFipNode::FrameTypeWorldFIP;
    return 0;
}

} // namespace

FipPcapng::Link PcapngExport::linkFromStatistics(const QString& statisticsPath)
{
    FipPcapng::Link link;
    if (!QFile::exists(statisticsPath))
        return link;
    QString frameType;
    QString speed;
    StatsFile statistics({}, { { QString::fromLatin1(StatsFile::NetworkInfoTexts[0]), &frameType },
                               { QString::fromLatin1(StatsFile::NetworkInfoTexts[1]), &speed } });
    if (!statistics.load(statisticsPath))
        return link;
    if (frameType == QLatin1String("FIP"))
        link.frameType = CFipNode::FrameTypeFIP;
    else if (frameType == QLatin1String("WorldFIP"))
        link.frameType = CFipNode::FrameTypeWorldFIP;
    for (quint8 code = 0; code <= 3; ++code) {
        if (speed == FipStreamDecoder::speedText(code))
            link.speedCode = code;
    }
    return link;
}

void PcapngExport::setRows(QVector<quint32> rows)
{
    m_filter = [rows = std::move(rows)](qint64 row, const TraceRow&) {
        return std::binary_search(rows.cbegin(), rows.cend(), quint32(row));
    };
}

PcapngExport::Result PcapngExport::fromTrace(const QString& tracePath, const QString& pcapngPath)
{
    m_frames = 0;
    m_skipped = 0;
    QFile trace(tracePath);
    if (!trace.open(QIODevice::ReadOnly)) {
        m_error = tr("Impossible to open the trace %1: %2").arg(tracePath, trace.errorString());
        return SourceOpenFailed;
    }
    const qint64 size = trace.size();
    QByteArray copy;
    const uchar* data = size > 0 ? trace.map(0, size) : nullptr;
    if (data == nullptr && size > 0) {
        copy = trace.readAll();
        data = reinterpret_cast<const uchar*>(copy.constData());
    }
    const char* begin = reinterpret_cast<const char*>(data);
    const char* end = begin + (data ? size : 0);

    if (!m_linkGiven)
        m_link = linkFromStatistics(StatsFile::pathFor(tracePath));
    // Without statistics, the frames' FCS tells the frame type and the delays the speed.
    FipPcapngFrame frame;
    if (m_link.frameType == 0 || m_link.speedCode > 3) {
        FipPcapng::SpeedGuess speed;
        quint8 frameType = m_link.frameType;
        int probed = 0;
        for (const char* p = begin; p < end && probed < FrameTypeProbeRows; ++probed) {
            const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            const char* next = eol ? eol + 1 : end;
            const TraceRow row = TraceRow::fromLine(QByteArray::fromRawData(p, int(next - p)));
            if (FipPcapng::frameFromRow(row, m_link, &frame)) {
                const auto* bytes = reinterpret_cast<const quint8*>(frame.bytes.constData());
                speed.add(row.field(TraceRow::FrameDelay), frame.bytes.size());
                if (frameType == 0)
                    frameType = FipPcapng::frameTypeByFcs(bytes, frame.bytes.size());
            }
            p = next;
        }
        m_link.frameType = frameType;
        if (m_link.speedCode > 3)
            m_link.speedCode = speed.code();
    }

    Output out;
    if (!out.open(pcapngPath, m_link)) {
        m_error = tr("Impossible to write %1: %2").arg(pcapngPath, out.file.errorString());
        return WriteFailed;
    }
    Pacer pacer(m_progress);
    TraceRow fields;
    PcapngWriter::Packet packet;
    frame.bytes.reserve(512);
    qint64 row = 0;
    for (const char* p = begin; p < end; ++row) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* next = eol ? eol + 1 : end;
        splitLine(p, eol ? eol : end, fields);
        p = next;
        if (m_filter && !m_filter(row, fields))
            continue;
        if (!FipPcapng::frameFromRow(fields, m_link, &frame)) {
            ++m_skipped;
            continue;
        }
        FipPcapng::packetFor(frame, m_link, &packet);
        out.writer.writePacket(packet);
        ++m_frames;
        if (!pacer.tick(p - begin, end - begin)) {
            out.file.cancelWriting();
            return Cancelled;
        }
    }
    if (!out.commit()) {
        m_error = tr("Impossible to write %1: %2").arg(pcapngPath, out.file.errorString());
        return WriteFailed;
    }
    pacer.finish();
    return Ok;
}

namespace {

// Every frame the decoder hands on becomes a packet; the interface is written
// with the first one, when the stream has told the bus.
class RawFrames : public FipDecoderListener
{
public:
    RawFrames(Output& out, const PcapngExport::Progress& progress, bool* stop)
        : m_out(out)
        , m_pacer(progress)
        , m_stop(stop)
    {
    }

    FipStreamDecoder decoder { this };
    FipPcapng::Link link;
    quint64 frames = 0;
    bool cancelled = false;

    void onFrameDone(const FipFrameInfo& info, TraceRow& row) override
    {
        if (frames == 0) {
            link.frameType = frameTypeOf(decoder.state());
            link.speedCode = decoder.state().speedCode;
            m_out.writer.writeInterface(FipPcapng::interfaceFor(link));
        }
        m_frame.bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(info.data), info.size);
        m_frame.timestamp = info.timestamp;
        m_frame.number = info.frameNumber;
        m_frame.status = info.status;
        m_frame.ifc = info.ifc;
        m_frame.fc = info.fc;
        m_frame.error = info.error ? FipPcapng::errorDescription(row.field(TraceRow::Data)) : QString();
        FipPcapng::packetFor(m_frame, link, &m_packet);
        m_out.writer.writePacket(m_packet);
        ++frames;
    }
    void onProcessEvents(qint64 position, qint64 size) override
    {
        if (!m_pacer.tick(position, size)) {
            cancelled = true;
            *m_stop = true;
        }
    }

private:
    Output& m_out;
    Pacer m_pacer;
    bool* m_stop;
    FipPcapngFrame m_frame;
    PcapngWriter::Packet m_packet;
};

} // namespace

PcapngExport::Result PcapngExport::fromRaw(const QString& rawPath, const QString& pcapngPath)
{
    m_frames = 0;
    m_skipped = 0;
    RawTraceConversion conversion;
    RawTraceConversion::Result opened = conversion.openSource(rawPath);
    if (opened == RawTraceConversion::Ok)
        opened = conversion.readHeader();
    if (opened != RawTraceConversion::Ok) {
        m_error = RawTraceConversion::message(opened, rawPath);
        return opened == RawTraceConversion::SourceOpenFailed || opened == RawTraceConversion::SourceInUse
            ? SourceOpenFailed
            : SourceInvalid;
    }
    Output out;
    out.file.setFileName(pcapngPath);
    if (!out.file.open(QIODevice::WriteOnly)) {
        m_error = tr("Impossible to write %1: %2").arg(pcapngPath, out.file.errorString());
        return WriteFailed;
    }
    out.writer.writeSectionHeader(application());
    bool stop = false;
    RawFrames frames(out, m_progress, &stop);
    conversion.decode(frames.decoder, &stop);
    conversion.close();
    m_frames = frames.frames;
    m_link = frames.link;
    if (frames.cancelled) {
        out.file.cancelWriting();
        return Cancelled;
    }
    if (m_frames == 0)
        out.writer.writeInterface(FipPcapng::interfaceFor(m_link));
    if (!out.commit()) {
        m_error = tr("Impossible to write %1: %2").arg(pcapngPath, out.file.errorString());
        return WriteFailed;
    }
    if (m_progress)
        m_progress(100);
    return Ok;
}
