#ifndef BX_CAPTURE_DEVICE_OSTRAKSTREAMSPLITTER_H
#define BX_CAPTURE_DEVICE_OSTRAKSTREAMSPLITTER_H

#include <QByteArray>

/// Cuts a remote capture server's bytes into whole packets of one flow (1 event
/// records, 2 Osp packets). A server is a network peer: every length it sends is
/// bounded, a packet that breaks the format is dropped and the splitter finds the
/// next packet header, so one bad packet never ends the capture. Dropped bytes
/// and the places where the stream broke are counted.
///
/// TCP bytes are a stream: `append` then `split`, as often as reads come; the
/// walk through a packet still being received goes on where it stopped, so the
/// cost is linear in the bytes. A UDP datagram is a packet boundary: `splitDatagram`
/// takes its whole packets and drops the rest, never joining two datagrams.
class OstrakStreamSplitter
{
public:
    /// Largest Osp packet taken: 16-byte header and records.
    static constexpr int kMaxOspPacket = 1 << 20;
    /// Largest record count an Osp header may announce (records have 3 bytes at least).
    static constexpr quint32 kMaxOspRecords = (kMaxOspPacket - 16) / 3;
    /// Bytes kept while a packet is being received; more are never held.
    static constexpr int kMaxInput = 4 << 20;

    explicit OstrakStreamSplitter(int flowType = 0) : m_flowType(flowType) {}

    void setFlowType(int flowType) { m_flowType = flowType; }
    int flowType() const { return m_flowType; }

    /// Stream bytes, as a read brought them.
    void append(const char* data, int size);
    /// Moves every whole packet received to the end of output; true when one was taken.
    bool split(QByteArray* output);
    /// One datagram: its whole packets go to output, any other byte is dropped.
    bool splitDatagram(const char* data, int size, QByteArray* output);
    /// Bytes that are not the capture's (a datagram of another sender).
    void discard(int bytes) { drop(bytes); }

    /// Bytes received and not yet part of a packet.
    int pending() const { return m_input.size() - m_pos; }
    /// Largest number of bytes held at once.
    int peak() const { return m_peak; }
    quint64 lostBytes() const { return m_lostBytes; }
    /// Places where the stream broke: a run of bytes outside any packet is one.
    quint64 faults() const { return m_faults; }

private:
    enum Check { Whole, Partial, Broken };
    // Walk through the records of an Osp packet, kept between reads.
    struct Walk
    {
        quint32 records = 0;
        int length = 0;
    };
    // final: the bytes end at a datagram's end, after which nothing follows.
    Check packet(const char* p, int available, bool final, Walk& walk, int* length) const;
    Check ospPacket(const char* p, int available, Walk& walk, int* length) const;
    static Check eventPacket(const char* p, int available, bool final, int* length);
    static bool isEventHeader(const char* p, int available);
    static bool holdsEventHeader(const char* p, int size, int available);
    int nextHeader(const char* p, int from, int size, bool keepTail) const;
    void drop(int bytes);

    int m_flowType;
    QByteArray m_input;
    int m_pos = 0;            ///< start of the packet being received
    int m_peak = 0;
    bool m_lost = false;      ///< inside a run of dropped bytes
    quint64 m_lostBytes = 0;
    quint64 m_faults = 0;
    Walk m_walk;              ///< through the packet at m_pos
};

#endif
