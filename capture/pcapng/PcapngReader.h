#ifndef BX_CAPTURE_PCAPNG_PCAPNGREADER_H
#define BX_CAPTURE_PCAPNG_PCAPNGREADER_H

#include <QByteArray>
#include <QString>
#include <QVector>

/// Reads the packets of a pcapng file, or of a classic pcap file, held in memory
/// (a mapped file). Both byte orders; several sections; blocks it does not use
/// are skipped.
///
/// Bad input never reads out of bounds: a truncated block, a block length that
/// runs past the data or an inconsistent one ends the reading with a message.
/// Packet data, comments and custom options point into the input, valid while it is.
class PcapngReader
{
public:
    struct Interface
    {
        quint16 linkType = 0;
        quint64 unitsPerSecond = 1000000; ///< time stamp resolution
        QString name;
        QString description;
        quint64 bitsPerSecond = 0;
        QByteArray custom;                ///< our custom option's payload, when present
    };

    struct Packet
    {
        int interfaceId = 0;
        quint64 timestampMicros = 0;
        const quint8* data = nullptr;
        int size = 0;                     ///< bytes captured
        quint32 flags = 0;
        bool hasFlags = false;
        QByteArray comment;               ///< the first comment, UTF-8
        quint64 packetId = 0;             ///< 0 when absent
        QByteArray custom;
    };

    enum Status { PacketRead, End, Failed };

    /// `enterprise`: the enterprise number whose custom options are kept.
    PcapngReader(const uchar* data, qint64 size, quint32 enterprise = 0);

    /// The next packet; End at the end of the data, Failed with errorString() set.
    Status next(Packet* packet);

    const QVector<Interface>& interfaces() const { return m_interfaces; }
    bool isClassicPcap() const { return m_classic; }
    QString errorString() const { return m_error; }
    qint64 position() const { return m_pos; }
    qint64 size() const { return m_size; }

private:
    Status nextPcapng(Packet* packet);
    Status nextClassic(Packet* packet);
    bool readSectionHeader(qint64 pos, quint32 total);
    void readInterface(const uchar* body, qint64 size);
    bool readPacket(const uchar* body, qint64 size, Packet* packet);
    template <typename F> void options(const uchar* p, qint64 size, F each);
    Status fail(const QString& message);
    quint16 r16(const uchar* p) const;
    quint32 r32(const uchar* p) const;
    quint64 toMicros(quint64 stamp, quint64 unitsPerSecond) const;

    const uchar* m_data;
    qint64 m_size;
    quint32 m_enterprise;
    qint64 m_pos = 0;
    bool m_started = false;
    bool m_classic = false;
    bool m_swapped = false;  ///< the section is big-endian
    bool m_failed = false;
    QVector<Interface> m_interfaces;
    QString m_error;
};

#endif
