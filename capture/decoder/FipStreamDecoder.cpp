#include "capture/decoder/FipStreamDecoder.h"

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/records/CFipRecordReader.h"

#include <QCoreApplication>
#include <QDebug>

#include <algorithm>
#include <cstring>

namespace {

inline quint16 be16(const quint8* p) { return static_cast<quint16>((p[0] << 8) | p[1]); }
inline quint32 be24(const quint8* p) { return (quint32(p[0]) << 16) | (quint32(p[1]) << 8) | p[2]; }
inline quint32 be32(const quint8* p) { return (quint32(p[0]) << 24) | be24(p + 1); }
inline quint64 be64(const quint8* p) { return (quint64(be32(p)) << 32) | be32(p + 4); }

// Bit time in tenths of a µs per speed code: 32, 1, 0.4 and 0.2 µs.
quint32 bitTenths(quint8 code)
{
    static const quint32 table[4] = { 320, 10, 4, 2 };
    return code <= 3 ? table[code] : 0;
}

const char kError[] = "ERROR";

// Replays let the window breathe this often (Osp, TLV).
constexpr qint64 OspEventsPeriodNs = 100000000;
constexpr qint64 TlvEventsPeriodNs = 5000000;

} // namespace

FipStreamDecoder::FipStreamDecoder(FipDecoderListener* listener)
    : m_listener(listener ? listener : &m_noListener)
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_tlvCarry.reserve(0x10000 + 3);
    initAnalysisContext();
}

void FipStreamDecoder::setPaddingRule(bool fixedIdentifier, quint16 identifier)
{
    m_fixedPadding = fixedIdentifier;
    m_paddingId = identifier;
}

void FipStreamDecoder::setClock(std::function<qint64()> clock)
{
    if (clock)
        m_clock = std::move(clock);
}

qint64 FipStreamDecoder::now() const
{
    return m_clock();
}

void FipStreamDecoder::initAnalysisContext()
{
    m_state = FipDecoderState();
    m_state.speedText = speedText(255);
    m_state.frameTypeText = QCoreApplication::translate("FipStreamDecoder", "Unknown");
    m_counters = FipCaptureCounters();
    m_row.clear();
    m_tlvCarry.clear();
    m_frame = FipFrameInfo();
    m_packetsStarted = false;
}

void FipStreamDecoder::beginReplay(int flowType, quint8 speedCode)
{
    m_state.firstPacketPending = false;
    if (flowType == FlowEvents) {
        setSpeed(speedCode);
        m_listener->onOstrakSpeed(speedCode);
    }
}

QString FipStreamDecoder::speedText(quint8 code)
{
    switch (code) {
    case 0: return QStringLiteral("31.25 kbits/s");
    case 1: return QStringLiteral("1 Mbits/s");
    case 2: return QStringLiteral("2.5 Mbits/s");
    case 3: return QStringLiteral("5 Mbits/s");
    default: return QCoreApplication::translate("FipStreamDecoder", "Unknown");
    }
}

quint32 FipStreamDecoder::tickCentiMicros(quint8 code)
{
    // Bit time ÷ 10 in hundredths of a µs is the bit time in tenths.
    return bitTenths(code);
}

void FipStreamDecoder::setSpeed(quint8 code)
{
    m_state.speedCode = isValidSpeed(code) ? code : 255;
    m_state.speedText = speedText(m_state.speedCode);
    m_state.tickCentiMicros = tickCentiMicros(m_state.speedCode);
}

// ---------------------------------------------------------------------------
// Packets

void FipStreamDecoder::onOstrakDataReceived(int flowType, const QByteArray& data)
{
    if (m_packets && (flowType == FlowEvents || flowType == FlowOsp) && !data.isEmpty()) {
        if (!m_packetsStarted) {
            const char flow = char(flowType);
            m_packets->appendRaw(&flow, 1);
            m_packetsStarted = true;
        }
        m_packets->appendRaw(data.constData(), data.size());
    }
    if (flowType == FlowEvents)
        treatOstrakFlowIProtEvt(data);
    else if (flowType == FlowOsp)
        treatOstrakFlowOsp(data);
}

void FipStreamDecoder::treatOstrakFlowOsp(const QByteArray& packet)
{
    // A remote link hands several packets over at once, back to back: each one
    // ends where its records end.
    const quint8* d = reinterpret_cast<const quint8*>(packet.constData());
    const qint64 size = packet.size();
    qint64 pos = 0;
    while (size - pos >= OspHeaderSize) {
        const int used = ospPacket(d + pos, size - pos);
        if (used > 0) {
            pos += used;
            continue;
        }
        // A broken packet: the next one starts at a header after what was decoded.
        qint64 next = pos - used;
        while (next + 1 < size && !(d[next] == 'O' && d[next + 1] == 'S')) {
            const void* hit = std::memchr(d + next + 1, 'O', size_t(size - next - 1));
            next = hit ? static_cast<const quint8*>(hit) - d : size;
        }
        pos = next;
    }
}

namespace {

// Packets a counter step skipped: the difference, or one for a step back or a repeat.
quint64 lostBetween(quint64 previous, quint64 counter, quint64 modulo)
{
    const quint64 step = modulo ? (counter - previous) % modulo : counter - previous;
    if (step == 1)
        return 0;
    if (step == 0 || (modulo == 0 && step > (quint64(1) << 63)))
        return 1;
    return std::min(step - 1, FipStreamDecoder::MaxLostPerGap);
}

} // namespace

void FipStreamDecoder::onStreamFaults(quint64 faults, quint64 lostBytes)
{
    m_counters.streamFaults += faults;
    m_counters.lostBytes += lostBytes;
}

int FipStreamDecoder::ospPacket(const quint8* d, qint64 size)
{
    if (d[0] != 'O' || d[1] != 'S') {
        ++m_counters.malformedPackets;
        return -1;
    }
    const quint64 counter = be64(d + 4);
    const quint32 records = be32(d + 12);

    if (m_state.firstPacketPending) {
        if (m_raw) {
            const char flow = FlowOsp;
            m_raw->appendRaw(&flow, 1);
        }
        m_state.firstPacketPending = false;
    } else if (m_state.dataFlowing) {
        m_counters.lostPackets += lostBetween(m_state.lastOspCounter, counter, 0);
    }
    m_state.lastOspCounter = counter;

    // The payload is what the record sizes cover; a record that does not fit the
    // packet ends it, and the rest of the hand-over with it.
    qint64 end = OspHeaderSize;
    bool whole = true;
    for (quint32 i = 0; i < records; ++i) {
        if (size - end < 3) {
            ++m_counters.malformedPackets;
            whole = false;
            break;
        }
        const int recordSize = be16(d + end + 1);
        if (recordSize < 3 || recordSize > size - end) {
            ++m_counters.malformedPackets;
            whole = false;
            break;
        }
        end += recordSize;
    }
    const qint64 payload = end - OspHeaderSize;
    if (m_raw && payload > 0)
        m_raw->appendRaw(reinterpret_cast<const char*>(d) + OspHeaderSize, int(payload));
    bool stop = false;
    treatOspEvtStream(d + OspHeaderSize, payload, &stop, false);
    return whole ? int(end) : -int(std::max<qint64>(end, 1));
}

void FipStreamDecoder::treatOstrakFlowIProtEvt(const QByteArray& packet)
{
    const quint8* d = reinterpret_cast<const quint8*>(packet.constData());
    const int size = packet.size();
    int pos = 0;
    while (pos < size) {
        const quint8 marker = d[pos];
        if (marker != 0x40 && marker != 0x41) {
            ++m_counters.malformedPackets;
            return;
        }
        if (size - pos < 7) {
            ++m_counters.truncatedRecords;
            return;
        }
        const quint8 counter = d[pos + 2];
        const quint16 event = be16(d + pos + 3);
        const int length = be16(d + pos + 5);
        const int recordSize = 7 + length + (marker == 0x41 ? 2 : 0);
        if (recordSize > size - pos) {
            ++m_counters.truncatedRecords;
            return;
        }
        const quint8* data = d + pos + 7;
        pos += recordSize;

        if (m_state.firstPacketPending) {
            setSpeed(m_cardSpeed);
            m_listener->onOstrakSpeed(m_state.speedCode);
            if (m_raw) {
                const char header[2] = { char(FlowEvents), char(m_state.speedCode) };
                m_raw->appendRaw(header, 2);
            }
            m_state.firstPacketPending = false;
        } else if (m_state.dataFlowing && counter != quint8(m_state.lastEventCounter + 1)) {
            m_counters.lostPackets += lostBetween(m_state.lastEventCounter, counter, 256);
            // The continuation of a split record went with the lost event.
            if (!m_tlvCarry.isEmpty()) {
                ++m_counters.truncatedRecords;
                m_tlvCarry.clear();
            }
        }
        if (event == EventFrameRecords) {
            m_state.lastEventCounter = counter;
            decodeEventData(data, length);
            if (m_raw && length > 0)
                m_raw->appendRaw(reinterpret_cast<const char*>(data), length);
        } else {
            if (event == EventFifoOverflow)
                ++m_counters.fifoOverflows;
            ++m_counters.otherEvents;
            qDebug().noquote() << "[BRANTIX] IPROTOCOL EVENT FRAME - ERROR SW: "
                               << QStringLiteral("0x%1").arg(event, 4, 16, QLatin1Char('0'));
        }
    }
}

// The data of one 0xA000 event: TLV frame records, the last of which may go on
// in the next event.
void FipStreamDecoder::decodeEventData(const quint8* data, int size)
{
    bool stop = false;
    if (m_tlvCarry.isEmpty()) {
        const qint64 used = decodeTlv(data, size, &stop, false, true);
        if (used < size)
            m_tlvCarry.append(reinterpret_cast<const char*>(data) + used, static_cast<int>(size - used));
        return;
    }
    m_tlvCarry.append(reinterpret_cast<const char*>(data), size);
    const qint64 used = decodeTlv(reinterpret_cast<const quint8*>(m_tlvCarry.constData()), m_tlvCarry.size(),
                                  &stop, false, true);
    m_tlvCarry.remove(0, static_cast<int>(used));
}

// ---------------------------------------------------------------------------
// Osp records

qint64 FipStreamDecoder::treatOspEvtStream(const quint8* data, qint64 size, bool* stop, bool processEvents)
{
    if (stop == nullptr)
        return 0;
    qint64 pos = 0;
    if (processEvents)
        m_eventsTimer.start();
    while (pos < size && !*stop) {
        evtOspPass(data, size, pos);
        if (processEvents)
            maybeProcessEvents(pos, size, OspEventsPeriodNs);
    }
    return pos;
}

bool FipStreamDecoder::evtOspPass(const quint8* data, qint64 size, qint64& pos)
{
    if (size - pos < 3) {
        ++m_counters.truncatedRecords;
        pos = size;
        return false;
    }
    const quint8* record = data + pos;
    const quint8 tag = record[0];
    const int recordSize = be16(record + 1);
    if (tag == OspTagSkip) {
        ++m_counters.skippedRecords;
        if (recordSize < 4)
            pos += 3;
        else if (recordSize > size - pos)
            pos = size;
        else
            pos += recordSize;
        return true;
    }
    if (tag != OspTagFrame) {
        // Only the header goes: the next bytes may be where the records resume.
        ++m_counters.unknownRecordTags;
        pos += 3;
        return true;
    }
    if (recordSize < OspRecordHeaderSize) {
        ++m_counters.malformedRecords;
        pos += 3;
        return true;
    }
    if (recordSize > size - pos) {
        ++m_counters.truncatedRecords;
        pos = size;
        return false;
    }
    pos += recordSize;
    ospFrameRecord(record, recordSize);
    return true;
}

void FipStreamDecoder::ospFrameRecord(const quint8* record, int size)
{
    const quint16 status = be16(record + 3);
    const quint64 stamp = be64(record + 13);
    const quint32 frameCount = be24(record + 21);
    const quint32 gapCount = be24(record + 24);
    const quint16 glc = be16(record + 27);
    const quint8 jitter = record[29];
    const qint64 dateMs = static_cast<qint64>(stamp / 1000);

    if (!m_state.firstRecordPending) {
        m_state.lastRecordMs = dateMs;
        m_state.dataFlowing = true;
    } else {
        m_state.captureStartMs = dateMs;
        m_state.lastRecordMs = dateMs;
        m_state.captureStartText =
            QDateTime::fromMSecsSinceEpoch(dateMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        m_state.dataFlowing = true;
        const int type = (status >> 11) & 0x3;
        if (type == CFipNode::FrameTypeFIP) {
            m_state.frameTypeIsFip = true;
            m_state.frameTypeText = QStringLiteral("FIP");
        } else if (type == CFipNode::FrameTypeWorldFIP) {
            m_state.frameTypeIsFip = false;
            m_state.frameTypeText = QStringLiteral("WorldFIP");
        } else {
            m_state.frameTypeText = QCoreApplication::translate("FipStreamDecoder", "Unknown");
        }
        const int speed = (status >> 13) & 0x7;
        setSpeed(speed >= 1 && speed <= 4 ? quint8(speed - 1) : quint8(255));
        m_listener->onOstrakSpeed(m_state.speedCode);
        m_listener->onAbsoluteCounterAnchor(stamp);
        m_state.firstRecordPending = false;
    }

    m_state.timestamp = stamp;
    const quint32 bit = bitTenths(m_state.speedCode);
    m_state.fc = bit ? quint64(frameCount) * 10 / bit : 0;
    m_state.ifc = bit ? quint64(gapCount) * 10 / bit : 0;
    treatFipFrame(record + OspRecordHeaderSize, size - OspRecordHeaderSize, status, glc, jitter >> 2);
}

// ---------------------------------------------------------------------------
// TLV records

qint64 FipStreamDecoder::treatTlvFipStream(const quint8* data, qint64 size, bool* stop, bool processEvents)
{
    if (stop == nullptr)
        return 0;
    *stop = false;
    return decodeTlv(data, size, stop, processEvents, false);
}

namespace {

// Whether the element at p is whole within n bytes, by the reader's rules: an
// unknown tag only has its header read.
bool elementComplete(const quint8* p, qint64 n)
{
    if (n < 2)
        return false;
    const bool twoByte = (p[0] & CTLVComponent::TwoByteLengthBit) != 0;
    const qint64 header = twoByte ? 3 : 2;
    if (n < header)
        return false;
    const qint64 length = twoByte ? be16(p + 1) : p[1];
    if (p[0] == CFipNode::TagRecord || CFipNode::isFieldTag(p[0]))
        return n >= header + length;
    return true;
}

void addCounters(FipCaptureCounters& to, const CFipRecordReader::Counters& from)
{
    to.tlvNodes += from.nodes;
    to.tlvUnknownTags += from.unknown_tags;
    to.tlvWrongLengths += from.wrong_lengths;
    to.tlvOrphanValues += from.orphan_values;
    to.tlvTruncated += from.truncated;
    for (size_t i = 0; i < from.tags.size(); ++i)
        to.tlvTags[i] += from.tags[i];
}

} // namespace

qint64 FipStreamDecoder::decodeTlv(const quint8* data, qint64 size, bool* stop, bool processEvents, bool keepTail)
{
    CFipRecordReader reader(data, static_cast<std::size_t>(size));
    if (processEvents)
        m_eventsTimer.start();
    qint64 pos = 0;
    while (!reader.at_end() && !*stop) {
        pos = static_cast<qint64>(reader.position());
        if (keepTail && !elementComplete(data + pos, size - pos))
            break;
        if (data[pos] == CFipNode::TagRecord) {
            const quint64 truncated = reader.counters().truncated;
            const quint64 overruns = reader.counters().overruns;
            m_node.reset();
            reader.read_element(&m_node);
            if (reader.counters().truncated != truncated)
                ++m_counters.truncatedRecords;
            else if (reader.counters().overruns != overruns)
                ++m_counters.malformedRecords; // its frame is not trusted
            else
                tlvFrameRecord();
        } else {
            reader.read_element(nullptr);
        }
        pos = static_cast<qint64>(reader.position());
        if (processEvents)
            maybeProcessEvents(pos, size, TlvEventsPeriodNs);
    }
    pos = static_cast<qint64>(reader.position());
    addCounters(m_counters, reader.counters());
    return pos;
}

void FipStreamDecoder::tlvFrameRecord()
{
    const qint64 nowMs = now();
    if (!m_state.firstRecordPending) {
        m_state.lastRecordMs = nowMs;
        if (!m_state.dataFlowing) {
            // The card's counters stood still during the interruption.
            m_state.clockOffset += (nowMs - m_state.interruptionMs) * 1000;
            m_state.dataFlowing = true;
        }
    } else {
        if (m_node.is_FIP_type()) {
            m_state.frameTypeText = QStringLiteral("FIP");
            m_state.frameTypeIsFip = true;
        } else if (m_node.is_WorldFIP_type()) {
            m_state.frameTypeText = QStringLiteral("WorldFIP");
            m_state.frameTypeIsFip = false;
        } else {
            m_state.frameTypeText = QCoreApplication::translate("FipStreamDecoder", "Unknown");
        }
        m_state.captureStartMs = nowMs;
        m_state.lastRecordMs = nowMs;
        m_state.captureStartText =
            QDateTime::fromMSecsSinceEpoch(nowMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        m_state.anchor = static_cast<quint64>(nowMs) * 1000;
        m_listener->onAbsoluteCounterAnchor(m_state.anchor);
        m_state.firstRecordPending = false;
        m_state.dataFlowing = true;
    }
    m_state.ifc = m_node.get_Above_IFC();
    m_state.fc = m_node.get_FC();
    const quint64 ticks = m_state.runningTicks + m_state.ifc;
    m_state.timestamp = static_cast<quint64>(static_cast<qint64>(m_state.anchor) + m_state.clockOffset)
        + (ticks * m_state.tickCentiMicros + 50) / 100;
    m_state.runningTicks = ticks + m_state.fc;

    const std::vector<unsigned char>& data = m_node.get_fip_data();
    treatFipFrame(data.data(), static_cast<int>(data.size()), m_node.get_frame_status(), m_node.get_GLC(),
                  m_node.get_jitter_max());
}

void FipStreamDecoder::treatImportedFrame(quint8 frameType, quint8 speedCode, quint64 timestamp, quint64 ifc,
                                          quint64 fc, quint64 number, const quint8* frame, int size, quint16 status)
{
    const qint64 dateMs = static_cast<qint64>(timestamp / 1000);
    if (m_state.firstRecordPending) {
        m_state.captureStartMs = dateMs;
        m_state.captureStartText =
            QDateTime::fromMSecsSinceEpoch(dateMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        m_state.frameTypeIsFip = frameType != CFipNode::FrameTypeWorldFIP;
        m_state.frameTypeText = frameType == CFipNode::FrameTypeFIP ? QStringLiteral("FIP")
            : frameType == CFipNode::FrameTypeWorldFIP
            ? QStringLiteral("WorldFIP")
            : QCoreApplication::translate("FipStreamDecoder", "Unknown");
        setSpeed(speedCode);
        m_listener->onOstrakSpeed(m_state.speedCode);
        m_listener->onAbsoluteCounterAnchor(timestamp);
        m_state.firstRecordPending = false;
    }
    m_state.lastRecordMs = dateMs;
    m_state.dataFlowing = true;
    m_state.timestamp = timestamp;
    m_state.ifc = ifc;
    m_state.fc = fc;
    if (number > 0)
        m_state.frameNumber = number - 1;
    treatFipFrame(frame, size, status, 0, 0);
}

void FipStreamDecoder::treatImportedInterruption(quint64 timestamp, quint64 number)
{
    m_state.dataFlowing = true;
    m_state.timestamp = timestamp;
    if (number > 0)
        m_state.frameNumber = number - 1;
    onOstrakNoTrafficDetected();
}

void FipStreamDecoder::maybeProcessEvents(qint64 position, qint64 size, qint64 periodNs)
{
    if (m_eventsTimer.nsecsElapsed() > periodNs) {
        m_listener->onProcessEvents(position, size);
        m_eventsTimer.start();
    }
}

// ---------------------------------------------------------------------------
// Frames

void FipStreamDecoder::clearFrameErrors()
{
    m_state.errCounterOverflow = false;
    m_state.errFsd = false;
    m_state.errNoFed = false;
    m_state.errPre = false;
    m_state.errDataSize = false;
    m_state.errUnknownControl = false;
    m_state.errFcs = false;
}

void FipStreamDecoder::treatFipFrame(const quint8* frame, int size, quint16 status, quint16 glc, quint8 jitter)
{
    ++m_state.frameNumber;
    ++m_counters.frames;
    m_row.clear();
    clearFrameErrors();

    m_frame.data = frame;
    m_frame.size = size;
    m_frame.status = status;
    m_frame.glc = glc;
    m_frame.jitter = jitter;
    m_frame.frameNumber = m_state.frameNumber;
    m_frame.timestamp = m_state.timestamp;
    m_frame.ifc = m_state.ifc;
    m_frame.fc = m_state.fc;
    m_frame.ok = false;
    m_frame.error = false;

    m_frame.ok = decodeFrame(status, frame, size);
    m_frame.error = treatErrors(status, frame, size);
    m_frame.control = m_state.control;
    m_frame.identifier = m_state.identifier;

    if (m_frame.error)
        m_counters.erroredTime += m_state.ifc + m_state.fc;
    else if (m_state.identifierSeen)
        m_listener->onFrameWithoutError(m_frame);
    m_listener->onFrameDone(m_frame, m_row);
}

bool FipStreamDecoder::decodeFrame(quint16 status, const quint8* frame, int size)
{
    if (size <= 0 || frame == nullptr)
        return false;
    m_state.fcsRead = FipFcs::read(frame, size);
    m_state.fcsComputed = FipFcs::compute(frame, size >= 2 ? size - 2 : 0, m_state.frameTypeIsFip);
    const quint8 control = frame[0];
    m_state.control = control;

    if (m_state.fcsRead != m_state.fcsComputed) {
        if (!(status & CFipNode::StatusNoFED)) {
            ++m_counters.fcsErrors;
            m_state.errFcs = true;
        }
        return false;
    }
    const FipControls::Family family = FipControls::family(control);
    if (family == FipControls::NotAControl) {
        ++m_counters.unknownControls;
        m_state.errUnknownControl = true;
        return false;
    }
    ++m_counters.perControl[control];
    if (!FipControls::sizeFits(control, size)) {
        ++m_counters.invalidDataSizes;
        m_state.errDataSize = true;
        return false;
    }

    const quint64 ticks = m_state.ifc + m_state.fc;
    if (family == FipControls::Identifier) {
        const quint16 id = be16(frame + 1);
        m_state.identifier = id;
        m_state.identifierSeen = true;
        m_state.currentIsPadding = isPaddingId(id);
        if (m_state.currentIsPadding)
            m_counters.paddingTime += ticks;
        if (control == FipControls::ID_DAT)
            m_counters.idDatTime += ticks;
        else if (control == FipControls::ID_MSG)
            m_counters.idMsgTime += ticks;
        else
            m_counters.idRqTime += ticks;
    }

    // Only the padding identifier's ID_DAT is a padding frame; a reply it gets
    // stays an ordinary reply.
    if (m_state.currentIsPadding && control == FipControls::ID_DAT) {
        ++m_counters.paddingFrames;
        ++m_counters.paddingPerControl[control];
    }

    m_row.set(TraceRow::Control, FipControls::name(control));
    TraceFormat::appendHex4(m_row.field(TraceRow::Identifier), m_state.identifier);
    TraceFormat::appendDecimal(m_row.field(TraceRow::DataLength), static_cast<quint64>(size - 3));
    TraceFormat::appendBytes(m_row.field(TraceRow::Data), frame + 1, size - 3);
    TraceFormat::appendHex4(m_row.field(TraceRow::Fcs), m_state.fcsRead);

    m_frame.control = control;
    m_frame.identifier = m_state.identifier;
    m_frame.ok = true;
    if (family == FipControls::Identifier)
        m_listener->onIdentifierFrame(m_frame);
    else
        m_listener->onReplyFrame(m_frame, m_row);
    return true;
}

bool FipStreamDecoder::treatErrors(quint16 status, const quint8* frame, int size)
{
    if (status & (CFipNode::StatusFCOverflow | CFipNode::StatusIFCOverflow)) {
        ++m_counters.counterOverflows;
        m_state.errCounterOverflow = true;
    }
    if (status & (CFipNode::StatusNoFSD | CFipNode::StatusFSDUnknown)) {
        ++m_counters.fsdErrors;
        m_state.errFsd = true;
    }
    if (status & CFipNode::StatusNoFED) {
        ++m_counters.noFedErrors;
        m_state.errNoFed = true;
    }
    if (status & CFipNode::StatusGlitch) {
        ++m_counters.preGlitches;
        m_state.errPre = true;
    }
    if (!m_state.hasError())
        return false;

    m_row.set(TraceRow::Control, kError);
    std::string& text = m_row.field(TraceRow::Data);
    text.assign("Type: ");
    if (m_state.errCounterOverflow) {
        text.append((status & CFipNode::StatusFCOverflow) ? "Frame Counter Overflow" : "Inter Frame Counter Overflow");
    } else if (m_state.errPre) {
        text.append("PRE [Glitches]");
    } else if (m_state.errFsd) {
        text.append((status & CFipNode::StatusFSDUnknown) ? "Unknown FSD" : "No FSD");
    } else if (m_state.errNoFed) {
        text.append("No FED");
    } else if (m_state.errUnknownControl) {
        text.append("Unknown Control [");
        TraceFormat::appendHex2(text, size > 0 ? frame[0] : 0);
        text.push_back(']');
    } else if (m_state.errDataSize) {
        text.append("Invalid Data Size");
    } else if (m_state.errFcs) {
        text.append("FCS Error [read = ");
        TraceFormat::appendHex4(text, m_state.fcsRead);
        text.append(", calculated = ");
        TraceFormat::appendHex4(text, m_state.fcsComputed);
        text.push_back(']');
    } else {
        text.append("Unknown");
    }
    text.append(" - Data Rescue: ");
    if (size > 0 && frame != nullptr)
        TraceFormat::appendBytes(text, frame, size);
    else
        text.append("None");
    return true;
}

bool FipStreamDecoder::isPaddingId(quint16 identifier) const
{
    if (m_fixedPadding)
        return identifier == m_paddingId;
    return (identifier & 0x1400) == 0x1400;
}

void FipStreamDecoder::onOstrakNoTrafficDetected()
{
    if (!m_state.dataFlowing)
        return;
    m_state.dataFlowing = false;
    m_state.interruptionMs = now();
    ++m_counters.trafficInterruptions;
    m_state.control = 0;
    m_state.identifier = 0;
    m_state.currentIsPadding = false;
    m_state.ifc = 0;
    m_state.fc = 0;
    ++m_state.frameNumber;
    if (!m_tlvCarry.isEmpty()) {
        ++m_counters.truncatedRecords;
        m_tlvCarry.clear();
    }

    m_row.clear();
    TraceFormat::appendGrouped(m_row.field(TraceRow::Number), m_state.frameNumber);
    m_dateText.append(m_row.field(TraceRow::AbsoluteDate), m_state.timestamp);
    TraceFormat::appendDecimal(m_row.field(TraceRow::AbsoluteDateTick), m_state.timestamp);
    m_row.set(TraceRow::Control, kError);
    m_row.set(TraceRow::Data, "Type: Traffic Interruption");
    m_listener->onTrafficInterruption(m_row);
}

void FipStreamDecoder::fillRowHeader(TraceRow& row)
{
    std::string& number = row.field(TraceRow::Number);
    number.clear();
    TraceFormat::appendGrouped(number, m_state.frameNumber);
    std::string& date = row.field(TraceRow::AbsoluteDate);
    date.clear();
    m_dateText.append(date, m_state.timestamp);
    std::string& tick = row.field(TraceRow::AbsoluteDateTick);
    tick.clear();
    TraceFormat::appendDecimal(tick, m_state.timestamp);
    std::string& ifc = row.field(TraceRow::InterFrameDelay);
    ifc.clear();
    TraceFormat::appendCentiMicros(ifc, m_state.ifc * m_state.tickCentiMicros);
    std::string& fc = row.field(TraceRow::FrameDelay);
    fc.clear();
    TraceFormat::appendCentiMicros(fc, m_state.fc * m_state.tickCentiMicros);
}
