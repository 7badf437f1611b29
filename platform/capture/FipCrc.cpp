#include "FipCrc.h"

#include <array>

namespace FipCrc {
namespace {

using Table = std::array<quint16, 256>;

Table buildTable(quint16 polynomial)
{
    Table table{};
    for (int i = 0; i < 256; ++i)
        table[i] = tableEntry(polynomial, quint8(i));
    return table;
}

const Table& table(bool worldFip)
{
    static const Table worldFipTable = buildTable(kWorldFipPolynomial);
    static const Table fipTable = buildTable(kFipPolynomial);
    return worldFip ? worldFipTable : fipTable;
}

} // namespace

quint16 tableEntry(quint16 polynomial, quint8 index)
{
    quint16 crc = quint16(index << 8);
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x8000) ? quint16((crc << 1) ^ polynomial) : quint16(crc << 1);
    return crc;
}

quint16 fcs(const quint8* data, int size, bool worldFip)
{
    const Table& t = table(worldFip);
    quint16 crc = worldFip ? 0xFFFF : 0x0000;
    for (int i = 0; i < size; ++i)
        crc = quint16((crc << 8) ^ t[((crc >> 8) ^ data[i]) & 0xFF]);
    return quint16(~crc);
}

} // namespace FipCrc
