#include "FipRecordEncoder.h"

#include <algorithm>
#include <cmath>

namespace FipRecordEncoder {
namespace {

void appendLeaf(QByteArray& out, quint8 tag, quint64 value, int bytes)
{
    out.append(char(tag));
    out.append(char(bytes));
    appendBigEndian(out, value, bytes);
}

// Osp counts are in 100 ns: ticks (bit time / 10) times the bit time in µs.
quint32 to100ns(quint32 ticks, quint8 speedCode)
{
    const double units = double(ticks) * FipTrafficGenerator::bitTimeUs(speedCode);
    return quint32(std::min(std::llround(units), 0xFFFFFFll));
}

} // namespace

void appendBigEndian(QByteArray& out, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

quint64 readBigEndian(const char* data, int bytes)
{
    quint64 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | quint8(data[i]);
    return value;
}

QByteArray tlvRecord(const FipFrame& frame)
{
    QByteArray leaves;
    leaves.reserve(56 + frame.bytes.size());
    appendLeaf(leaves, 0x20, frame.status, 2);
    appendLeaf(leaves, 0x21, frame.frameType, 1);
    appendLeaf(leaves, 0x22, frame.number & 0xFF, 1);
    appendLeaf(leaves, 0x23, frame.number, 8);
    appendLeaf(leaves, 0x30, frame.gapTicks, 4);
    appendLeaf(leaves, 0x31, std::min<quint32>(frame.lengthTicks, 0xFFFF), 2);
    appendLeaf(leaves, 0x32, frame.glc, 2);
    appendLeaf(leaves, 0x33, frame.jitter, 1);
    appendLeaf(leaves, 0x34, frame.tick, 8);
    leaves.append(char(0x90));
    appendBigEndian(leaves, quint64(frame.bytes.size()), 2);
    leaves.append(frame.bytes);

    QByteArray record;
    record.reserve(3 + leaves.size());
    record.append(char(0xC0));
    appendBigEndian(record, quint64(leaves.size()), 2);
    record.append(leaves);
    return record;
}

quint16 ospStatusWord(const FipFrame& frame)
{
    const quint16 speed = frame.speedCode <= 3 ? quint16(frame.speedCode + 1) : 0;
    return quint16((speed << 13) | (quint16(frame.frameType & 0x3) << 11) | (frame.status & 0x07FF));
}

QByteArray ospRecord(const FipFrame& frame)
{
    QByteArray record;
    record.reserve(kOspRecordHeader + frame.bytes.size());
    record.append(char(0xC0));
    appendBigEndian(record, quint64(kOspRecordHeader + frame.bytes.size()), 2);
    appendBigEndian(record, ospStatusWord(frame), 2);
    appendBigEndian(record, frame.number, 8);
    appendBigEndian(record, frame.timestampUs, 8);
    appendBigEndian(record, to100ns(frame.lengthTicks, frame.speedCode), 3);
    appendBigEndian(record, to100ns(frame.gapTicks, frame.speedCode), 3);
    appendBigEndian(record, frame.glc, 2);
    record.append(char(quint8(std::min<int>(frame.jitter, 63) << 2)));
    record.append(frame.bytes);
    return record;
}

quint8 eventSpeedByte(quint8 speedCode)
{
    return speedCode <= 3 ? quint8(speedCode + 1) : 0;
}

QByteArray eventRecord(quint8 counter, quint16 eventId, const QByteArray& data, bool withTrailer, quint16 trailer,
                       quint8 speedByte)
{
    QByteArray record;
    record.reserve(9 + data.size());
    record.append(char(withTrailer ? kEventMarkerWithTrailer : kEventMarker));
    record.append(char(speedByte));
    record.append(char(counter));
    appendBigEndian(record, eventId, 2);
    appendBigEndian(record, quint64(data.size()), 2);
    record.append(data);
    if (withTrailer)
        appendBigEndian(record, trailer, 2);
    return record;
}

QByteArray ospPacket(quint64 counter, quint32 recordCount, const QByteArray& records)
{
    QByteArray packet;
    packet.reserve(kOspPacketHeader + records.size());
    packet.append("OS", 2);
    packet.append(char(1));
    packet.append(char(0));
    appendBigEndian(packet, counter, 8);
    appendBigEndian(packet, recordCount, 4);
    packet.append(records);
    return packet;
}

} // namespace FipRecordEncoder
