#include "capture/pcapng/PcapngReader.h"

#include "capture/pcapng/PcapngFormat.h"

#include <QCoreApplication>
#include <QtEndian>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PcapngReader", text);
}

quint32 le32(const uchar* p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}

constexpr qint64 ClassicHeaderSize = 24;
constexpr qint64 ClassicRecordHeaderSize = 16;
// No FIP frame comes near this; a larger packet is a damaged file.
constexpr quint32 MaxPacketSize = 0x40000;

} // namespace

PcapngReader::PcapngReader(const uchar* data, qint64 size, quint32 enterprise)
    : m_data(data)
    , m_size(data ? size : 0)
    , m_enterprise(enterprise)
{
}

quint16 PcapngReader::r16(const uchar* p) const
{
    return m_swapped ? quint16((p[0] << 8) | p[1]) : quint16(p[0] | (p[1] << 8));
}

quint32 PcapngReader::r32(const uchar* p) const
{
    return m_swapped ? (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3] : le32(p);
}

quint64 PcapngReader::toMicros(quint64 stamp, quint64 unitsPerSecond) const
{
    if (unitsPerSecond == 1000000 || unitsPerSecond == 0)
        return stamp;
    if (unitsPerSecond > 1000000 && unitsPerSecond % 1000000 == 0)
        return stamp / (unitsPerSecond / 1000000);
    if (unitsPerSecond < 1000000 && 1000000 % unitsPerSecond == 0)
        return stamp * (1000000 / unitsPerSecond);
    return quint64(static_cast<long double>(stamp) * 1000000.0L / static_cast<long double>(unitsPerSecond));
}

PcapngReader::Status PcapngReader::fail(const QString& message)
{
    m_failed = true;
    m_error = message;
    return Failed;
}

PcapngReader::Status PcapngReader::next(Packet* packet)
{
    if (m_failed)
        return Failed;
    if (!m_started) {
        m_started = true;
        if (m_size < 4)
            return fail(tr("The file is too short to be a pcapng or pcap capture."));
        const quint32 magic = le32(m_data);
        if (magic != Pcapng::BlockSectionHeader) {
            const quint32 swapped = qFromBigEndian<quint32>(m_data);
            if (magic == Pcapng::PcapMagicMicros || magic == Pcapng::PcapMagicNanos)
                m_swapped = false;
            else if (swapped == Pcapng::PcapMagicMicros || swapped == Pcapng::PcapMagicNanos)
                m_swapped = true;
            else
                return fail(tr("The file is neither a pcapng nor a pcap capture."));
            if (m_size < ClassicHeaderSize)
                return fail(tr("The pcap file header is truncated."));
            m_classic = true;
            Interface interface;
            interface.linkType = quint16(r32(m_data + 20) & 0xFFFF);
            interface.unitsPerSecond = r32(m_data) == Pcapng::PcapMagicNanos ? 1000000000 : 1000000;
            m_interfaces.append(interface);
            m_pos = ClassicHeaderSize;
        }
    }
    return m_classic ? nextClassic(packet) : nextPcapng(packet);
}

PcapngReader::Status PcapngReader::nextClassic(Packet* packet)
{
    if (m_pos >= m_size)
        return End;
    if (m_size - m_pos < ClassicRecordHeaderSize)
        return fail(tr("The packet header at offset %1 is truncated.").arg(m_pos));
    const uchar* h = m_data + m_pos;
    const quint32 captured = r32(h + 8);
    if (captured > MaxPacketSize || qint64(captured) > m_size - m_pos - ClassicRecordHeaderSize)
        return fail(tr("The packet at offset %1 runs past the end of the file.").arg(m_pos));
    const Interface& interface = m_interfaces.first();
    const quint64 fraction = r32(h + 4);
    *packet = Packet();
    packet->timestampMicros = quint64(r32(h)) * 1000000
        + (interface.unitsPerSecond == 1000000 ? fraction : fraction / 1000);
    packet->data = h + ClassicRecordHeaderSize;
    packet->size = int(captured);
    m_pos += ClassicRecordHeaderSize + captured;
    return PacketRead;
}

PcapngReader::Status PcapngReader::nextPcapng(Packet* packet)
{
    while (m_pos < m_size) {
        if (m_size - m_pos < 12)
            return fail(tr("The block at offset %1 is truncated.").arg(m_pos));
        const uchar* block = m_data + m_pos;
        const quint32 type = le32(block); // the section header's type reads the same both ways
        if (type == Pcapng::BlockSectionHeader) {
            const quint32 magic = le32(block + 8);
            if (magic == Pcapng::ByteOrderMagic)
                m_swapped = false;
            else if (qFromBigEndian<quint32>(block + 8) == Pcapng::ByteOrderMagic)
                m_swapped = true;
            else
                return fail(tr("The section header at offset %1 has no valid byte-order mark.").arg(m_pos));
        }
        const quint32 total = r32(block + 4);
        if (total < 12 || total % 4 != 0)
            return fail(tr("The block at offset %1 has an invalid length (%2 bytes).").arg(m_pos).arg(total));
        if (qint64(total) > m_size - m_pos)
            return fail(tr("The block at offset %1 runs past the end of the file (%2 bytes announced, %3 left).")
                            .arg(m_pos)
                            .arg(total)
                            .arg(m_size - m_pos));
        if (r32(block + total - 4) != total)
            return fail(tr("The block at offset %1 does not end with its length.").arg(m_pos));
        const qint64 blockPos = m_pos;
        m_pos += total;
        const uchar* body = block + 8;
        const qint64 bodySize = qint64(total) - 12;
        switch (r32(block)) {
        case Pcapng::BlockSectionHeader:
            if (!readSectionHeader(blockPos, total))
                return Failed;
            break;
        case Pcapng::BlockInterfaceDescription:
            if (bodySize < 8)
                return fail(tr("The interface description at offset %1 is truncated.").arg(blockPos));
            readInterface(body, bodySize);
            break;
        case Pcapng::BlockEnhancedPacket:
            if (!readPacket(body, bodySize, packet))
                return fail(tr("The packet block at offset %1 is damaged: %2").arg(blockPos).arg(m_error));
            return PacketRead;
        case Pcapng::BlockSimplePacket: {
            if (bodySize < 4 || m_interfaces.isEmpty())
                return fail(tr("The simple packet block at offset %1 is damaged.").arg(blockPos));
            const quint32 length = r32(body);
            *packet = Packet();
            packet->data = body + 4;
            packet->size = int(qMin<qint64>(qMin<quint32>(length, MaxPacketSize), bodySize - 4));
            return PacketRead;
        }
        default:
            break; // statistics, name resolution, custom blocks…
        }
    }
    return End;
}

bool PcapngReader::readSectionHeader(qint64 pos, quint32 total)
{
    if (total < 28) {
        fail(tr("The section header at offset %1 is truncated.").arg(pos));
        return false;
    }
    const quint16 major = r16(m_data + pos + 12);
    if (major != 1) {
        fail(tr("The section at offset %1 is of pcapng version %2, which is not supported.").arg(pos).arg(major));
        return false;
    }
    // Interface numbers start again in each section.
    m_interfaces.clear();
    return true;
}

template <typename F>
void PcapngReader::options(const uchar* p, qint64 size, F each)
{
    qint64 pos = 0;
    while (size - pos >= 4) {
        const quint16 code = r16(p + pos);
        const quint16 length = r16(p + pos + 2);
        pos += 4;
        if (code == Pcapng::OptEnd || qint64(length) > size - pos)
            return;
        each(code, p + pos, int(length));
        pos += (qint64(length) + 3) & ~qint64(3);
    }
}

void PcapngReader::readInterface(const uchar* body, qint64 size)
{
    Interface interface;
    interface.linkType = r16(body);
    options(body + 8, size - 8, [&](quint16 code, const uchar* value, int length) {
        switch (code) {
        case Pcapng::OptIfName:
            interface.name = QString::fromUtf8(reinterpret_cast<const char*>(value), length);
            break;
        case Pcapng::OptIfDescription:
            interface.description = QString::fromUtf8(reinterpret_cast<const char*>(value), length);
            break;
        case Pcapng::OptIfSpeed:
            if (length == 8)
                interface.bitsPerSecond = (quint64(r32(m_swapped ? value : value + 4)) << 32)
                    | r32(m_swapped ? value + 4 : value);
            break;
        case Pcapng::OptIfTsResolution:
            if (length >= 1) {
                const int exponent = value[0] & 0x7F;
                quint64 units = 1;
                const quint64 base = (value[0] & 0x80) ? 2 : 10;
                for (int i = 0; i < exponent && units <= (quint64(1) << 60) / base; ++i)
                    units *= base;
                interface.unitsPerSecond = units;
            }
            break;
        case Pcapng::OptCustomBinary:
            if (length >= 4 && r32(value) == m_enterprise)
                interface.custom = QByteArray::fromRawData(reinterpret_cast<const char*>(value) + 4, length - 4);
            break;
        default:
            break;
        }
    });
    m_interfaces.append(interface);
}

bool PcapngReader::readPacket(const uchar* body, qint64 size, Packet* packet)
{
    if (size < 20) {
        m_error = tr("too short");
        return false;
    }
    *packet = Packet();
    const quint32 interfaceId = r32(body);
    if (interfaceId >= quint32(m_interfaces.size())) {
        m_error = tr("it names interface %1, which no interface description block declares").arg(interfaceId);
        return false;
    }
    const quint32 captured = r32(body + 12);
    const qint64 dataSpace = (qint64(captured) + 3) & ~qint64(3);
    if (captured > MaxPacketSize || dataSpace > size - 20) {
        m_error = tr("its packet data (%1 bytes) runs past the block").arg(captured);
        return false;
    }
    packet->interfaceId = int(interfaceId);
    const quint64 stamp = (quint64(r32(body + 4)) << 32) | r32(body + 8);
    packet->timestampMicros = toMicros(stamp, m_interfaces.at(int(interfaceId)).unitsPerSecond);
    packet->data = body + 20;
    packet->size = int(captured);
    options(body + 20 + dataSpace, size - 20 - dataSpace, [&](quint16 code, const uchar* value, int length) {
        switch (code) {
        case Pcapng::OptComment:
            if (packet->comment.isNull())
                packet->comment = QByteArray::fromRawData(reinterpret_cast<const char*>(value), length);
            break;
        case Pcapng::OptEpbFlags:
            if (length == 4) {
                packet->flags = r32(value);
                packet->hasFlags = true;
            }
            break;
        case Pcapng::OptEpbPacketId:
            if (length == 8)
                packet->packetId = (quint64(r32(m_swapped ? value : value + 4)) << 32)
                    | r32(m_swapped ? value + 4 : value);
            break;
        case Pcapng::OptCustomBinary:
            if (length >= 4 && r32(value) == m_enterprise)
                packet->custom = QByteArray::fromRawData(reinterpret_cast<const char*>(value) + 4, length - 4);
            break;
        default:
            break;
        }
    });
    return true;
}
