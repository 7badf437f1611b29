#pragma once

#include <QBitArray>
#include <QByteArray>
#include <QtGlobal>

/// Bit cutting shared by the control page's mnemonics and the capture analysis.
/// Bit 8 * i + j of a byte string is bit j (value 2^j) of byte i.
namespace FipAnalyze {

/// The bits start..stop (inclusive) packed into bytes: bit k of the range goes
/// to bit k mod 8 of byte k div 8. Empty with ok false when the range is empty
/// or stop lies beyond the bit string.
QByteArray rawFrameBitsToMnemoBytes(const QBitArray& bits, int startBit, int stopBit, bool* ok);
/// The same on bytes, without building a bit array.
QByteArray rawFrameBitsToMnemoBytes(const QByteArray& bytes, int startBit, int stopBit, bool* ok);
/// Fast form: writes ceil(n / 8) bytes to `out` (room for them is the caller's);
/// returns the byte count, -1 when the range does not fit `size` bytes.
int cutBits(const quint8* data, int size, int startBit, int stopBit, quint8* out);

QBitArray bytesToBits(const QByteArray& bytes);

} // namespace FipAnalyze
