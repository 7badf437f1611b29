#ifndef BX_CAPTURE_PCAPNG_FIPPCAPNG_H
#define BX_CAPTURE_PCAPNG_FIPPCAPNG_H

#include "capture/pcapng/PcapngReader.h"
#include "capture/pcapng/PcapngWriter.h"

#include <QByteArray>
#include <QString>

#include <string>

class TraceRow;

/// One FIP frame (or traffic interruption) as a pcapng packet carries it.
struct FipPcapngFrame
{
    enum Kind : quint8 { Frame = 1, TrafficInterruption = 2 };

    Kind kind = Frame;
    QByteArray bytes;      ///< as they travelled: control byte, data, FCS
    quint64 timestamp = 0; ///< µs since the epoch
    quint64 number = 0;    ///< the frame's number in its capture; 0 when unknown
    quint16 status = 0;    ///< the card's reception status word
    quint64 ifc = 0;       ///< inter-frame count, in ticks of the card
    quint64 fc = 0;        ///< frame count, in ticks
    QString error;         ///< the error description; empty for a good frame
};

/// How FIP frames sit in a pcapng file: the interface of the bus (link type
/// LINKTYPE_USER0, speed, frame type), and per packet the flags, the comment
/// naming the error and a custom option with what the trace needs beyond the bytes.
namespace FipPcapng {

/// The bus a capture was taken on.
struct Link
{
    quint8 frameType = 0;   ///< 1 FIP, 2 WorldFIP, 0 unknown
    quint8 speedCode = 255; ///< 0 to 3, 255 unknown
};

QString frameTypeName(quint8 frameType);
quint64 bitsPerSecond(quint8 speedCode);
quint8 speedCodeFor(quint64 bitsPerSecond);

PcapngWriter::Interface interfaceFor(const Link& link);
/// The link of an interface: our custom option, else the speed option and the
/// frame type named in the description; frameType stays 0 when nothing tells.
Link linkOf(const PcapngReader::Interface& interface);

/// Fills the packet of a frame; a packet used again keeps its buffers.
void packetFor(const FipPcapngFrame& frame, const Link& link, PcapngWriter::Packet* packet);
/// The frame a packet holds, with our custom option or from the flags alone.
FipPcapngFrame frameOf(const PcapngReader::Packet& packet);

/// Link-layer error flags of a frame: the reception status, then the FCS,
/// control and size checks in the decoder's order.
quint32 errorFlags(const quint8* bytes, int size, quint16 status, bool fip);
/// A reception status word from error flags, for captures that only have those.
quint16 statusFromFlags(quint32 flags);
/// The error description of a trace row's data field ("Type: … - Data Rescue: …").
QString errorDescription(const std::string& dataField);
/// The status bit an error description names, 0 for errors found in the bytes.
quint16 statusForDescription(const QString& description);
/// Frame type whose FCS the frame carries: 1 FIP, 2 WorldFIP, 0 when neither fits.
quint8 frameTypeByFcs(const quint8* bytes, int size);

/// A "%4.2f us" delay text in hundredths of a µs; 0 for anything else.
quint64 centiMicros(const std::string& text);

/// The bus speed of a trace without statistics, told by how long its frames last.
class SpeedGuess
{
public:
    void add(const std::string& frameDelay, int frameSize);
    quint8 code() const; ///< 255 while no frame told anything
private:
    quint64 m_votes[4] = {};
};

/// The frame of a trace row; false for rows without frame bytes (label rows).
/// A frame used again keeps its byte buffer.
bool frameFromRow(const TraceRow& row, const Link& link, FipPcapngFrame* frame);

} // namespace FipPcapng

#endif
