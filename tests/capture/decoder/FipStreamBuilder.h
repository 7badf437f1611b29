#ifndef BX_TESTS_CAPTURE_DECODER_FIPSTREAMBUILDER_H
#define BX_TESTS_CAPTURE_DECODER_FIPSTREAMBUILDER_H

// Hand-built capture streams: frames with their FCS, Osp records and packets,
// TLV frame records and event records, byte for byte as the card sends them.

#include "capture/decoder/FipFcs.h"
#include "capture/records/CFipNode.h"

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>
#include <vector>

namespace FipStreamBuilder {

using Bytes = std::vector<quint8>;

// Bit-by-bit CRC, independent of the table-driven one under test.
inline quint16 referenceFcs(const Bytes& body, bool fip)
{
    quint16 crc = fip ? 0 : 0xFFFF;
    const quint16 poly = fip ? 0x1021 : 0x1DCF;
    for (quint8 b : body) {
        crc ^= quint16(b << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ poly) : quint16(crc << 1);
    }
    return quint16(~crc);
}

/// Control byte and data, followed by the right FCS.
inline Bytes frame(const Bytes& body, bool fip = true)
{
    Bytes f = body;
    const quint16 fcs = referenceFcs(body, fip);
    f.push_back(quint8(fcs >> 8));
    f.push_back(quint8(fcs));
    return f;
}

/// A frame of n bytes in total (control to FCS): filler data, right FCS.
inline Bytes frameOfSize(quint8 control, int n, bool fip = true)
{
    Bytes body(size_t(n > 2 ? n - 2 : 1), 0x5A);
    body[0] = control;
    if (n <= 2)
        return n == 2 ? Bytes{control, 0} : Bytes{control};
    return frame(body, fip);
}

inline void putBe(QByteArray& out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

inline QByteArray toArray(const Bytes& b)
{
    return QByteArray(reinterpret_cast<const char*>(b.data()), int(b.size()));
}

/// Frame status word of an Osp record: type 1 FIP / 2 WorldFIP, speed 1..4, error bits.
inline quint16 ospStatus(int type, int speed, quint16 errors = 0)
{
    return quint16((speed << 13) | (type << 11) | errors);
}

inline QByteArray ospRecord(const Bytes& fr, quint16 status, quint64 stampUs, quint32 lengthCount = 0,
                            quint32 gapCount = 0, quint16 glc = 0, quint8 jitter = 0)
{
    QByteArray r;
    r.append(char(0xC0));
    putBe(r, 30 + fr.size(), 2);
    putBe(r, status, 2);
    putBe(r, 0x0102030405060708ULL, 8);
    putBe(r, stampUs, 8);
    putBe(r, lengthCount, 3);
    putBe(r, gapCount, 3);
    putBe(r, glc, 2);
    r.append(char(jitter));
    r.append(toArray(fr));
    return r;
}

inline QByteArray ospPacket(quint64 counter, quint32 records, const QByteArray& payload)
{
    QByteArray p("OS");
    p.append(char(1));
    p.append(char(0));
    putBe(p, counter, 8);
    putBe(p, records, 4);
    p.append(payload);
    return p;
}

/// TLV frame record (0xC0 node) built by the record class itself.
inline QByteArray tlvRecord(const Bytes& fr, quint16 status = 0, quint32 ifc = 0, quint16 fc = 0,
                            quint16 glc = 0, quint8 jitter = 0, quint8 type = 1)
{
    CFipNode node;
    node.set_frame_status(status);
    node.set_frame_type(type);
    node.set_Above_IFC(ifc);
    node.set_FC(fc);
    node.set_GLC(glc);
    node.set_jitter_max(jitter);
    node.set_fip_data(fr);
    std::vector<unsigned char> out;
    node.append_tlv_record(out);
    return QByteArray(reinterpret_cast<const char*>(out.data()), int(out.size()));
}

inline QByteArray eventRecord(quint8 counter, const QByteArray& data, quint16 event = 0xA000, bool trailer = false)
{
    QByteArray r;
    r.append(char(trailer ? 0x41 : 0x40));
    r.append(char(0));
    r.append(char(counter));
    putBe(r, event, 2);
    putBe(r, quint64(data.size()), 2);
    r.append(data);
    if (trailer)
        putBe(r, 0xBEEF, 2);
    return r;
}

} // namespace FipStreamBuilder

#endif
