#ifndef BX_CAPTURE_DECODER_FIPFCS_H
#define BX_CAPTURE_DECODER_FIPFCS_H

#include <QtGlobal>

/// Frame check sequence of FIP frames: the table-driven CRC-16 of the bus timing
/// calculator, kept here so the decoder needs Qt Core only.
namespace FipFcs {

constexpr quint16 PolyFip = 0x1021;
constexpr quint16 PolyWorldFip = 0x1DCF;

/// FCS of the bytes before the FCS: FIP polynomial 0x1021 from 0, WorldFIP
/// 0x1DCF from 0xFFFF, complemented. No bytes give 0xFFFF (FIP) or 0 (WorldFIP).
quint16 compute(const quint8* data, int size, bool fip);

/// The FCS as read from the last two bytes of a frame (first one high); 0 below 2 bytes.
inline quint16 read(const quint8* frame, int size)
{
    return size < 2 ? 0 : static_cast<quint16>((frame[size - 2] << 8) | frame[size - 1]);
}

} // namespace FipFcs

#endif
