#include "capture/device/OstrakStreamSplitter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kOspHeader = 16;
constexpr int kEventHeader = 7;
constexpr int kOspFrameRecordHeader = 30;
constexpr char kOspMagic[4] = { 'O', 'S', 1, 0 };
// The events the card sends: frame records and FIFO overflow.
constexpr int kFrameRecordsEvent = 0xA000;
constexpr int kFifoOverflowEvent = 0x8001;

inline int be16(const char* p)
{
    return (int(quint8(p[0])) << 8) | quint8(p[1]);
}

inline quint32 be32(const char* p)
{
    return (quint32(be16(p)) << 16) | quint32(be16(p + 2));
}

inline bool isEventMarker(char c)
{
    return quint8(c) == 0x40 || quint8(c) == 0x41;
}

} // namespace

void OstrakStreamSplitter::append(const char* data, int size)
{
    if (size <= 0)
        return;
    // Never reached by a server that keeps the format: the limits on lengths hold
    // far less; kept so that nothing a peer sends grows the buffer further.
    if (pending() > kMaxInput - size) {
        drop(pending());
        m_input.clear();
        m_pos = 0;
        m_walk = Walk();
    }
    m_input.append(data, size);
    m_peak = std::max(m_peak, m_input.size());
}

bool OstrakStreamSplitter::split(QByteArray* output)
{
    const char* p = m_input.constData();
    const int size = m_input.size();
    int run = m_pos; // whole packets from here to m_pos leave in one move
    bool taken = false;
    while (m_pos < size) {
        int length = 0;
        const Check check = packet(p + m_pos, size - m_pos, false, m_walk, &length);
        if (check == Partial)
            break;
        if (check == Whole) {
            m_pos += length;
            m_walk = Walk();
            m_lost = false;
            taken = true;
            continue;
        }
        output->append(p + run, m_pos - run);
        const int next = nextHeader(p, m_pos + 1, size, true);
        drop(next - m_pos);
        m_pos = run = next;
        m_walk = Walk();
    }
    output->append(p + run, m_pos - run);
    if (m_pos > 0) {
        m_input.remove(0, m_pos);
        m_pos = 0;
    }
    return taken;
}

bool OstrakStreamSplitter::splitDatagram(const char* data, int size, QByteArray* output)
{
    int pos = 0;
    bool taken = false;
    while (pos < size) {
        Walk walk;
        int length = 0;
        if (packet(data + pos, size - pos, true, walk, &length) == Whole) {
            output->append(data + pos, length);
            pos += length;
            m_lost = false;
            taken = true;
            continue;
        }
        // A packet is never continued in the next datagram.
        const int next = nextHeader(data, pos + 1, size, false);
        drop(next - pos);
        pos = next;
    }
    return taken;
}

OstrakStreamSplitter::Check OstrakStreamSplitter::packet(const char* p, int available, bool final, Walk& walk,
                                                        int* length) const
{
    return m_flowType == 2 ? ospPacket(p, available, walk, length) : eventPacket(p, available, final, length);
}

// An Osp packet: the magic and version, a record count the size limit allows, then
// records tagged 0xC0 (30 bytes at least) or 0xC1 (3 at least) up to the count.
OstrakStreamSplitter::Check OstrakStreamSplitter::ospPacket(const char* p, int available, Walk& walk,
                                                            int* length) const
{
    if (std::memcmp(p, kOspMagic, size_t(std::min(available, 4))) != 0)
        return Broken;
    if (available < kOspHeader)
        return Partial;
    const quint32 records = be32(p + 12);
    if (records > kMaxOspRecords)
        return Broken;
    if (walk.length == 0)
        walk.length = kOspHeader;
    while (walk.records < records) {
        if (walk.length + 3 > available)
            return Partial;
        const quint8 tag = quint8(p[walk.length]);
        const int size = be16(p + walk.length + 1);
        const int least = tag == 0xC0 ? kOspFrameRecordHeader : tag == 0xC1 ? 3 : -1;
        if (least < 0 || size < least || size > kMaxOspPacket - walk.length)
            return Broken;
        walk.length += size;
        ++walk.records;
    }
    if (walk.length > available)
        return Partial;
    *length = walk.length;
    return Whole;
}

// An event record: marker 0x40 or 0x41, an event the card sends, then its 16-bit
// length. Records follow each other with nothing between: when the bytes after
// one are no record (or not there yet) and another header starts within it, it
// was cut short.
OstrakStreamSplitter::Check OstrakStreamSplitter::eventPacket(const char* p, int available, bool final, int* length)
{
    if (!isEventHeader(p, available))
        return Broken;
    if (available < kEventHeader)
        return Partial;
    const int size = kEventHeader + be16(p + 5) + (quint8(p[0]) == 0x41 ? 2 : 0);
    if (available < size)
        return Partial;
    // The end of a datagram ends the record; in a stream, a record that holds a
    // header may be a cut one until the bytes after it say otherwise.
    const bool followed = available > size && isEventHeader(p + size, available - size);
    if (!followed && !(final && available == size) && holdsEventHeader(p, size, available))
        return available == size ? Partial : Broken;
    *length = size;
    return Whole;
}

bool OstrakStreamSplitter::holdsEventHeader(const char* p, int size, int available)
{
    for (int i = 1; i < size; ++i) {
        if (isEventMarker(p[i]) && isEventHeader(p + i, available - i))
            return true;
    }
    return false;
}

// Whether the bytes at p may start an event record (as far as they go).
bool OstrakStreamSplitter::isEventHeader(const char* p, int available)
{
    if (!isEventMarker(p[0]))
        return false;
    if (available < 5)
        return true;
    const int event = be16(p + 3);
    return event == kFrameRecordsEvent || event == kFifoOverflowEvent;
}

// Where a packet header may start, from `from` on. In a stream, the last bytes
// may be the start of a header and are kept for the next read.
int OstrakStreamSplitter::nextHeader(const char* p, int from, int size, bool keepTail) const
{
    if (m_flowType == 2) {
        for (int i = from; i + 1 < size; ++i) {
            const void* hit = std::memchr(p + i, 'O', size_t(size - i));
            if (!hit)
                break;
            i = int(static_cast<const char*>(hit) - p);
            if (std::memcmp(p + i, kOspMagic, size_t(std::min(size - i, 4))) == 0)
                return i;
        }
        return keepTail ? std::max(from, size - 3) : size;
    }
    for (int i = from; i < size; ++i) {
        if (isEventMarker(p[i]) && isEventHeader(p + i, size - i))
            return i;
    }
    return size;
}

void OstrakStreamSplitter::drop(int bytes)
{
    if (bytes <= 0)
        return;
    m_lostBytes += quint64(bytes);
    if (!m_lost)
        ++m_faults;
    m_lost = true;
}
