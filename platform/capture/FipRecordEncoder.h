#pragma once

#include "FipTrafficGenerator.h"

#include <QByteArray>

/// The capture card's encodings of a bus frame and of the packets that carry them.
namespace FipRecordEncoder {

/// Event identifiers of the card's board protocol.
constexpr quint16 kFrameRecordsEvent = 0xA000;
constexpr quint16 kFifoOverflowEvent = 0x8001;
constexpr quint8 kEventMarker = 0x40;
constexpr quint8 kEventMarkerWithTrailer = 0x41;

/// Size of the header of an Osp frame record and of an Osp packet.
constexpr int kOspRecordHeader = 30;
constexpr int kOspPacketHeader = 16;

/// TLV frame record: node 0xC0 (two-byte length) holding the leaves 0x20 status,
/// 0x21 frame type, 0x22 counter, 0x23 frame number, 0x30 IFC, 0x31 FC, 0x32 GLC,
/// 0x33 jitter, 0x34 date tick and 0x90 frame bytes.
QByteArray tlvRecord(const FipFrame& frame);

/// Osp frame record: 0xC0, size, status word with the frame type and speed in its
/// first byte, frame counter, time stamp, length and gap counts (100 ns), GLC,
/// jitter, then the frame bytes.
QByteArray ospRecord(const FipFrame& frame);

/// The Osp status word: reception flags plus frame type (bits 12..11) and speed
/// code + 1 (bits 15..13).
quint16 ospStatusWord(const FipFrame& frame);

/// One event record of the board protocol; the trailer is sent with marker 0x41.
/// The second byte tells the card's speed (eventSpeedByte), so a link that
/// carries no leading speed digit still gives it.
QByteArray eventRecord(quint8 counter, quint16 eventId, const QByteArray& data, bool withTrailer = false,
                       quint16 trailer = 0, quint8 speedByte = 0);

/// The card's speed as its element 2 gives it: bits 2..0 = speed code + 1, 0 unknown.
quint8 eventSpeedByte(quint8 speedCode);

/// An Osp packet: 'O','S',1,0, the packet counter, the record count, the records.
QByteArray ospPacket(quint64 counter, quint32 recordCount, const QByteArray& records);

void appendBigEndian(QByteArray& out, quint64 value, int bytes);
quint64 readBigEndian(const char* data, int bytes);

} // namespace FipRecordEncoder
