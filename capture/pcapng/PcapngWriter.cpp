#include "capture/pcapng/PcapngWriter.h"

#include "capture/pcapng/PcapngFormat.h"

#include <QIODevice>

namespace {
constexpr int FlushSize = 1 << 20;
inline int padded(int n) { return (n + 3) & ~3; }
} // namespace

PcapngWriter::PcapngWriter(QIODevice* device, quint32 enterprise)
    : m_device(device)
    , m_enterprise(enterprise)
{
    m_buffer.reserve(FlushSize + 4096);
}

void PcapngWriter::u16(quint16 v)
{
    const char b[2] = { char(v), char(v >> 8) };
    m_buffer.append(b, 2);
}

void PcapngWriter::u32(quint32 v)
{
    const char b[4] = { char(v), char(v >> 8), char(v >> 16), char(v >> 24) };
    m_buffer.append(b, 4);
}

void PcapngWriter::u64(quint64 v)
{
    u32(quint32(v));
    u32(quint32(v >> 32));
}

int PcapngWriter::beginBlock(quint32 type)
{
    const int start = m_buffer.size();
    u32(type);
    u32(0); // total length, known at the end
    return start;
}

void PcapngWriter::endBlock(int start)
{
    const quint32 total = quint32(m_buffer.size() - start + 4);
    u32(total);
    char* length = m_buffer.data() + start + 4;
    for (int i = 0; i < 4; ++i)
        length[i] = char(total >> (8 * i));
    maybeFlush();
}

void PcapngWriter::option(quint16 code, const char* data, int size)
{
    u16(code);
    u16(quint16(size));
    m_buffer.append(data, size);
    m_buffer.append(padded(size) - size, '\0');
}

void PcapngWriter::customOption(const QByteArray& payload)
{
    if (payload.isEmpty())
        return;
    const int size = 4 + payload.size();
    u16(Pcapng::OptCustomBinary);
    u16(quint16(size));
    u32(m_enterprise);
    m_buffer.append(payload);
    m_buffer.append(padded(size) - size, '\0');
}

void PcapngWriter::endOfOptions()
{
    u32(0);
}

void PcapngWriter::writeSectionHeader(const QString& application)
{
    const int start = beginBlock(Pcapng::BlockSectionHeader);
    u32(Pcapng::ByteOrderMagic);
    u16(1);
    u16(0);
    u64(~quint64(0)); // section length not given
    const QByteArray app = application.toUtf8();
    option(Pcapng::OptShbUserApplication, app.constData(), app.size());
    endOfOptions();
    endBlock(start);
}

void PcapngWriter::writeInterface(const Interface& interface)
{
    const int start = beginBlock(Pcapng::BlockInterfaceDescription);
    u16(interface.linkType);
    u16(0);
    u32(0); // no snapshot length
    const QByteArray name = interface.name.toUtf8();
    if (!name.isEmpty())
        option(Pcapng::OptIfName, name.constData(), name.size());
    const QByteArray description = interface.description.toUtf8();
    if (!description.isEmpty())
        option(Pcapng::OptIfDescription, description.constData(), description.size());
    if (interface.bitsPerSecond > 0) {
        char speed[8];
        for (int i = 0; i < 8; ++i)
            speed[i] = char(interface.bitsPerSecond >> (8 * i));
        option(Pcapng::OptIfSpeed, speed, 8);
    }
    const char micros = 6;
    option(Pcapng::OptIfTsResolution, &micros, 1);
    if (interface.fcsLength > 0) {
        const char fcs = char(interface.fcsLength);
        option(Pcapng::OptIfFcsLength, &fcs, 1);
    }
    customOption(interface.custom);
    endOfOptions();
    endBlock(start);
}

void PcapngWriter::writePacket(const Packet& packet)
{
    const int start = beginBlock(Pcapng::BlockEnhancedPacket);
    u32(packet.interfaceId);
    u32(quint32(packet.timestampMicros >> 32));
    u32(quint32(packet.timestampMicros));
    u32(quint32(packet.size));
    u32(quint32(packet.size));
    if (packet.size > 0)
        m_buffer.append(reinterpret_cast<const char*>(packet.data), packet.size);
    m_buffer.append(padded(packet.size) - packet.size, '\0');
    if (!packet.comment.isEmpty())
        option(Pcapng::OptComment, packet.comment.constData(), packet.comment.size());
    if (packet.hasFlags) {
        u16(Pcapng::OptEpbFlags);
        u16(4);
        u32(packet.flags);
    }
    if (packet.packetId > 0) {
        u16(Pcapng::OptEpbPacketId);
        u16(8);
        u64(packet.packetId);
    }
    customOption(packet.custom);
    endOfOptions();
    endBlock(start);
}

void PcapngWriter::maybeFlush()
{
    if (m_buffer.size() >= FlushSize)
        flush();
}

bool PcapngWriter::flush()
{
    if (!m_buffer.isEmpty() && !m_failed) {
        if (m_device == nullptr || m_device->write(m_buffer) != m_buffer.size())
            m_failed = true;
    }
    m_buffer.resize(0);
    return !m_failed;
}
