#ifndef BX_CAPTURE_PCAPNG_PCAPNGWRITER_H
#define BX_CAPTURE_PCAPNG_PCAPNGWRITER_H

#include <QByteArray>
#include <QString>

class QIODevice;

/// Writes a pcapng file block by block, little-endian, into a device: one section
/// header, interface descriptions, enhanced packets with their options.
///
/// Blocks gather in a buffer that goes to the device when it grows large and on
/// `flush`; a failed write is kept and told by `flush`.
class PcapngWriter
{
public:
    struct Interface
    {
        quint16 linkType = 0;
        QString name;
        QString description;
        quint64 bitsPerSecond = 0; ///< 0: no speed option
        quint8 fcsLength = 0;      ///< bytes of FCS each packet ends with; 0: no option
        QByteArray custom;         ///< payload of one custom option after the enterprise number
    };

    struct Packet
    {
        quint32 interfaceId = 0;
        quint64 timestampMicros = 0;
        const quint8* data = nullptr;
        int size = 0;
        quint32 flags = 0;
        bool hasFlags = false;
        QByteArray comment;        ///< UTF-8; empty: no comment
        quint64 packetId = 0;      ///< 0: no packet id option
        QByteArray custom;
    };

    explicit PcapngWriter(QIODevice* device, quint32 enterprise = 0);

    void writeSectionHeader(const QString& application);
    void writeInterface(const Interface& interface);
    void writePacket(const Packet& packet);
    /// Hands the buffered blocks to the device; false when any write failed.
    bool flush();

private:
    int beginBlock(quint32 type);
    void endBlock(int start);
    void option(quint16 code, const char* data, int size);
    void customOption(const QByteArray& payload);
    void endOfOptions();
    void u16(quint16 v);
    void u32(quint32 v);
    void u64(quint64 v);
    void maybeFlush();

    QIODevice* m_device;
    quint32 m_enterprise;
    QByteArray m_buffer;
    bool m_failed = false;
};

#endif
