#include "capture/pcapng/FipPcapng.h"

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"
#include "capture/pcapng/PcapngFormat.h"
#include "capture/records/CFipNode.h"

#include <QtEndian>

#include <cstring>

namespace FipPcapng {

namespace {

const char kInterfaceName[] = "FIP bus";
const char kTypePrefix[] = "Type: ";
const char kRescue[] = " - Data Rescue: ";
const char kInterruption[] = "Traffic Interruption";
const char kError[] = "ERROR";

// Custom option payloads: a kind byte, then little-endian fields.
constexpr quint8 OptionKindLink = 1;
constexpr quint8 OptionKindFrame = 2;
constexpr int LinkPayloadSize = 4;   // kind, frame type, speed code, 0
constexpr int FramePayloadSize = 20; // kind, frame kind, status, IFC, FC


// "%02x " bytes back into bytes; false on anything else.
bool parseBytes(const char* p, const char* end, QByteArray& out)
{
    while (p < end) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        if (end - p < 2)
            return false;
        const int high = TraceFormat::hexValue(p[0]);
        const int low = TraceFormat::hexValue(p[1]);
        if (high < 0 || low < 0)
            return false;
        out.append(char((high << 4) | low));
        p += 2;
    }
    return true;
}

bool parseUnsigned(const std::string& text, quint64* value, bool grouped)
{
    quint64 v = 0;
    bool any = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            v = v * 10 + quint64(c - '0');
            any = true;
        } else if (!(grouped && c == ',')) {
            return false;
        }
    }
    *value = v;
    return any;
}

constexpr quint64 CentiPerTick[4] = { 320, 10, 4, 2 };

// "%4.2f us" back into ticks of the link's speed; 0 when the speed is unknown.
quint64 ticksOf(const std::string& text, quint8 speedCode)
{
    if (speedCode > 3)
        return 0;
    const quint64 centi = centiMicros(text);
    return (centi + CentiPerTick[speedCode] / 2) / CentiPerTick[speedCode];
}

void put64(char* p, quint64 v)
{
    qToLittleEndian<quint64>(v, p);
}

} // namespace

quint64 centiMicros(const std::string& text)
{
    quint64 centi = 0;
    int decimals = -1;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            if (decimals >= 2)
                continue;
            centi = centi * 10 + quint64(c - '0');
            if (decimals >= 0)
                ++decimals;
        } else if (c == '.') {
            decimals = 0;
        } else if (c != ' ' && c != 'u' && c != 's') {
            return 0;
        }
    }
    for (; decimals < 2; decimals = decimals < 0 ? 1 : decimals + 1)
        centi *= 10;
    return centi;
}

quint8 SpeedGuess::code() const
{
    quint8 best = 255;
    for (quint8 code = 0; code <= 3; ++code) {
        if (m_votes[code] > 0 && (best == 255 || m_votes[code] > m_votes[best]))
            best = code;
    }
    return best;
}

void SpeedGuess::add(const std::string& frameDelay, int frameSize)
{
    // A frame lasts its bits plus 24 of preamble and delimiters.
    const quint64 centi = centiMicros(frameDelay);
    if (centi == 0 || frameSize <= 0)
        return;
    const double bitTime = double(centi) / 100.0 / double(frameSize * 8 + 24);
    // Midway, on a log scale, between the bit times 0.2, 0.4, 1 and 32 µs.
    const quint8 code = bitTime > 5.6 ? 0 : bitTime > 0.63 ? 1 : bitTime > 0.28 ? 2 : 3;
    ++m_votes[code];
}

QString frameTypeName(quint8 frameType)
{
    switch (frameType) {
    case CFipNode::FrameTypeFIP: return QStringLiteral("FIP");
    case CFipNode::FrameTypeWorldFIP: return QStringLiteral("WorldFIP");
    default: return QStringLiteral("Unknown");
    }
}

quint64 bitsPerSecond(quint8 speedCode)
{
    static const quint64 table[4] = { 31250, 1000000, 2500000, 5000000 };
    return speedCode <= 3 ? table[speedCode] : 0;
}

quint8 speedCodeFor(quint64 bps)
{
    for (quint8 code = 0; code <= 3; ++code) {
        if (bitsPerSecond(code) == bps)
            return code;
    }
    return 255;
}

PcapngWriter::Interface interfaceFor(const Link& link)
{
    PcapngWriter::Interface interface;
    interface.linkType = Pcapng::LinkTypeFip;
    interface.name = QString::fromLatin1(kInterfaceName);
    QString speed = QStringLiteral("unknown speed");
    if (link.speedCode <= 3) {
        static const char* const texts[4] = { "31.25 kbits/s", "1 Mbits/s", "2.5 Mbits/s", "5 Mbits/s" };
        speed = QString::fromLatin1(texts[link.speedCode]);
    }
    // The dissector picks the FCS polynomial from this text.
    interface.description = QStringLiteral("%1 frames, %2").arg(frameTypeName(link.frameType), speed);
    interface.bitsPerSecond = bitsPerSecond(link.speedCode);
    interface.fcsLength = 2;
    interface.custom = QByteArray(LinkPayloadSize, '\0');
    interface.custom[0] = char(OptionKindLink);
    interface.custom[1] = char(link.frameType);
    interface.custom[2] = char(link.speedCode);
    return interface;
}

Link linkOf(const PcapngReader::Interface& interface)
{
    Link link;
    if (interface.custom.size() >= LinkPayloadSize && quint8(interface.custom.at(0)) == OptionKindLink) {
        link.frameType = quint8(interface.custom.at(1));
        link.speedCode = quint8(interface.custom.at(2));
        if (link.speedCode > 3)
            link.speedCode = 255;
        return link;
    }
    link.speedCode = speedCodeFor(interface.bitsPerSecond);
    if (interface.description.contains(QLatin1String("WorldFIP"), Qt::CaseInsensitive))
        link.frameType = CFipNode::FrameTypeWorldFIP;
    else if (interface.description.contains(QLatin1String("FIP"), Qt::CaseInsensitive))
        link.frameType = CFipNode::FrameTypeFIP;
    return link;
}

quint32 errorFlags(const quint8* bytes, int size, quint16 status, bool fip)
{
    quint32 flags = 0;
    if (status & CFipNode::StatusGlitch)
        flags |= Pcapng::FlagPreamble;
    if (status & (CFipNode::StatusNoFSD | CFipNode::StatusFSDUnknown))
        flags |= Pcapng::FlagStartDelimiter;
    if (status & CFipNode::StatusNoFED)
        flags |= Pcapng::FlagUnalignedFrame;
    if (status & (CFipNode::StatusFCOverflow | CFipNode::StatusIFCOverflow))
        flags |= Pcapng::FlagInterFrameGap;
    if (size <= 0)
        return flags;
    if (FipFcs::read(bytes, size) != FipFcs::compute(bytes, size >= 2 ? size - 2 : 0, fip)) {
        if (!(status & CFipNode::StatusNoFED))
            flags |= Pcapng::FlagCrcError;
        return flags;
    }
    const FipControls::Family family = FipControls::family(bytes[0]);
    if (family == FipControls::NotAControl)
        return flags | Pcapng::FlagSymbol;
    if (!FipControls::sizeFits(bytes[0], size)) {
        int min = 0;
        int max = 0;
        FipControls::sizeRange(family, &min, &max);
        flags |= size < min ? Pcapng::FlagTooShort : Pcapng::FlagTooLong;
    }
    return flags;
}

quint16 statusFromFlags(quint32 flags)
{
    quint16 status = 0;
    if (flags & Pcapng::FlagPreamble)
        status |= CFipNode::StatusGlitch;
    if (flags & Pcapng::FlagStartDelimiter)
        status |= CFipNode::StatusNoFSD;
    if (flags & Pcapng::FlagUnalignedFrame)
        status |= CFipNode::StatusNoFED;
    if (flags & Pcapng::FlagInterFrameGap)
        status |= CFipNode::StatusFCOverflow;
    return status;
}

void packetFor(const FipPcapngFrame& frame, const Link& link, PcapngWriter::Packet* packet)
{
    packet->timestampMicros = frame.timestamp;
    packet->data = reinterpret_cast<const quint8*>(frame.bytes.constData());
    packet->size = frame.bytes.size();
    packet->hasFlags = true;
    packet->flags = Pcapng::FlagInbound | (2u << Pcapng::FlagFcsLengthShift)
        | errorFlags(packet->data, packet->size, frame.status, link.frameType != CFipNode::FrameTypeWorldFIP);
    if (frame.error.isEmpty())
        packet->comment.resize(0);
    else
        packet->comment = frame.error.toUtf8();
    packet->packetId = frame.number;
    packet->custom.resize(FramePayloadSize);
    char* p = packet->custom.data();
    p[0] = char(OptionKindFrame);
    p[1] = char(frame.kind);
    qToLittleEndian<quint16>(frame.status, p + 2);
    put64(p + 4, frame.ifc);
    put64(p + 12, frame.fc);
}

FipPcapngFrame frameOf(const PcapngReader::Packet& packet)
{
    FipPcapngFrame frame;
    frame.bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(packet.data), packet.size);
    frame.timestamp = packet.timestampMicros;
    frame.number = packet.packetId;
    const QByteArray& c = packet.custom;
    if (c.size() >= FramePayloadSize && quint8(c.at(0)) == OptionKindFrame) {
        const char* p = c.constData();
        frame.kind = quint8(p[1]) == FipPcapngFrame::TrafficInterruption ? FipPcapngFrame::TrafficInterruption
                                                                         : FipPcapngFrame::Frame;
        frame.status = qFromLittleEndian<quint16>(p + 2);
        frame.ifc = qFromLittleEndian<quint64>(p + 4);
        frame.fc = qFromLittleEndian<quint64>(p + 12);
    } else {
        frame.status = packet.hasFlags ? statusFromFlags(packet.flags) : 0;
    }
    if (!packet.comment.isEmpty())
        frame.error = QString::fromUtf8(packet.comment);
    return frame;
}

QString errorDescription(const std::string& dataField)
{
    const size_t prefix = std::strlen(kTypePrefix);
    if (dataField.compare(0, prefix, kTypePrefix) != 0)
        return QString();
    const size_t rescue = dataField.find(kRescue, prefix);
    const size_t end = rescue == std::string::npos ? dataField.size() : rescue;
    return QString::fromUtf8(dataField.data() + prefix, int(end - prefix));
}

quint16 statusForDescription(const QString& description)
{
    static const struct {
        const char* text;
        quint16 status;
    } table[] = {
        { "Frame Counter Overflow", CFipNode::StatusFCOverflow },
        { "Inter Frame Counter Overflow", CFipNode::StatusIFCOverflow },
        { "PRE [Glitches]", CFipNode::StatusGlitch },
        { "Unknown FSD", CFipNode::StatusFSDUnknown },
        { "No FSD", CFipNode::StatusNoFSD },
        { "No FED", CFipNode::StatusNoFED },
    };
    for (const auto& entry : table) {
        if (description == QLatin1String(entry.text))
            return entry.status;
    }
    return 0;
}

quint8 frameTypeByFcs(const quint8* bytes, int size)
{
    if (size < 3)
        return 0;
    const quint16 read = FipFcs::read(bytes, size);
    if (read == FipFcs::compute(bytes, size - 2, true))
        return CFipNode::FrameTypeFIP;
    if (read == FipFcs::compute(bytes, size - 2, false))
        return CFipNode::FrameTypeWorldFIP;
    return 0;
}

bool frameFromRow(const TraceRow& row, const Link& link, FipPcapngFrame* frame)
{
    frame->kind = FipPcapngFrame::Frame;
    frame->bytes.resize(0);
    frame->timestamp = 0;
    frame->number = 0;
    frame->status = 0;
    frame->error.clear();
    if (!row.field(TraceRow::Mnemonic).empty())
        return false; // a label row: its data field holds a value, not the frame
    const std::string& control = row.field(TraceRow::Control);
    const std::string& data = row.field(TraceRow::Data);
    if (!parseUnsigned(row.field(TraceRow::AbsoluteDateTick), &frame->timestamp, false))
        return false;
    parseUnsigned(row.field(TraceRow::Number), &frame->number, true);
    frame->ifc = ticksOf(row.field(TraceRow::InterFrameDelay), link.speedCode);
    frame->fc = ticksOf(row.field(TraceRow::FrameDelay), link.speedCode);

    if (control == kError) {
        frame->error = errorDescription(data);
        if (frame->error.isEmpty())
            return false;
        if (frame->error == QLatin1String(kInterruption)) {
            frame->kind = FipPcapngFrame::TrafficInterruption;
            return true;
        }
        frame->status = statusForDescription(frame->error);
        const size_t rescue = data.find(kRescue);
        if (rescue == std::string::npos)
            return false;
        const char* begin = data.data() + rescue + std::strlen(kRescue);
        const char* end = data.data() + data.size();
        if (end - begin == 4 && std::memcmp(begin, "None", 4) == 0)
            return true;
        return parseBytes(begin, end, frame->bytes);
    }

    const FipControls::Entry* table = FipControls::table();
    int found = -1;
    for (int i = 0; i < FipControls::Count; ++i) {
        if (control == table[i].name) {
            found = i;
            break;
        }
    }
    if (found < 0)
        return false;
    frame->bytes.append(char(table[found].code));
    if (!parseBytes(data.data(), data.data() + data.size(), frame->bytes))
        return false;
    const std::string& fcs = row.field(TraceRow::Fcs);
    if (fcs.size() != 6 || fcs[0] != '0' || fcs[1] != 'x')
        return false;
    QByteArray fcsBytes;
    if (!parseBytes(fcs.data() + 2, fcs.data() + 6, fcsBytes) || fcsBytes.size() != 2)
        return false;
    frame->bytes.append(fcsBytes);
    return true;
}

} // namespace FipPcapng
