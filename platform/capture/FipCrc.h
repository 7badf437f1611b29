#pragma once

#include <QtGlobal>

/// The frame check sequence of FIP frames: a CRC-16, most significant bit first,
/// complemented. WorldFIP uses the generator 0x1DCF from 0xFFFF; the early FIP
/// frame type uses 0x1021 from 0.
namespace FipCrc {

constexpr quint16 kWorldFipPolynomial = 0x1DCF;
constexpr quint16 kFipPolynomial = 0x1021;

/// Table entry i of the most-significant-bit-first table for a polynomial.
quint16 tableEntry(quint16 polynomial, quint8 index);

/// The FCS of `size` bytes (control byte up to the last data byte).
quint16 fcs(const quint8* data, int size, bool worldFip);

} // namespace FipCrc
