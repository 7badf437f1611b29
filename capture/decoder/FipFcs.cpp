#include "capture/decoder/FipFcs.h"

#include <array>

namespace FipFcs {

namespace {

using Table = std::array<quint16, 256>;

constexpr Table makeTable(quint16 poly)
{
    Table t {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ poly) : static_cast<quint16>(crc << 1);
        t[static_cast<size_t>(i)] = crc;
    }
    return t;
}

constexpr Table kFip = makeTable(PolyFip);
constexpr Table kWorldFip = makeTable(PolyWorldFip);

} // namespace

quint16 compute(const quint8* data, int size, bool fip)
{
    const Table& table = fip ? kFip : kWorldFip;
    quint16 crc = fip ? 0x0000 : 0xFFFF;
    for (int i = 0; i < size; ++i)
        crc = static_cast<quint16>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return static_cast<quint16>(~crc);
}

} // namespace FipFcs
