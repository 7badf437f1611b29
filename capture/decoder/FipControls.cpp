#include "capture/decoder/FipControls.h"

#include <array>

namespace FipControls {

namespace {

const Entry kTable[Count] = {
    { ID_DAT, "ID_DAT" },
    { ID_MSG, "ID_MSG" },
    { ID_RQ1, "ID_RQ1" },
    { ID_RQ2, "ID_RQ2" },
    { RP_DAT, "RP_DAT" },
    { RP_DAT_MSG, "RP_DAT_MSG" },
    { RP_DAT_RQ1, "RP_DAT_RQ1" },
    { RP_DAT_RQ2, "RP_DAT_RQ2" },
    { RP_DAT_RQ1_MSG, "RP_DAT_RQ1_MSG" },
    { RP_DAT_RQ2_MSG, "RP_DAT_RQ2_MSG" },
    { RP_RQ1, "RP_RQ1" },
    { RP_RQ2, "RP_RQ2" },
    { RP_MSG_NOACK, "RP_MSG_NOACK" },
    { RP_MSG_ACKe, "RP_MSG_ACKe" },
    { RP_MSG_ACKo, "RP_MSG_ACKo" },
    { RP_ACKpe, "RP_ACKpe" },
    { RP_ACKpo, "RP_ACKpo" },
    { RP_ACKme, "RP_ACKme" },
    { RP_ACKmo, "RP_ACKmo" },
    { RP_FIN, "RP_FIN" },
};

Family familyOf(quint8 code)
{
    switch (code) {
    case ID_DAT: case ID_MSG: case ID_RQ1: case ID_RQ2:
        return Identifier;
    case RP_DAT: case RP_DAT_MSG: case RP_DAT_RQ1: case RP_DAT_RQ2:
    case RP_DAT_RQ1_MSG: case RP_DAT_RQ2_MSG:
        return ReplyData;
    case RP_RQ1: case RP_RQ2:
        return ReplyRequest;
    case RP_MSG_NOACK: case RP_MSG_ACKe: case RP_MSG_ACKo:
        return ReplyMessage;
    case RP_ACKpe: case RP_ACKpo: case RP_ACKme: case RP_ACKmo: case RP_FIN:
        return ReplyAck;
    default:
        return NotAControl;
    }
}

// Lookups by byte, built once: the decoder asks for every frame.
struct Lookup {
    std::array<quint8, 256> family {};
    std::array<const char*, 256> name {};
    Lookup()
    {
        for (int b = 0; b < 256; ++b)
            family[b] = familyOf(static_cast<quint8>(b));
        for (const Entry& e : kTable)
            name[e.code] = e.name;
    }
};

const Lookup& lookup()
{
    static const Lookup l;
    return l;
}

} // namespace

const Entry* table()
{
    return kTable;
}

const char* name(quint8 code)
{
    return lookup().name[code];
}

Family family(quint8 code)
{
    return static_cast<Family>(lookup().family[code]);
}

void sizeRange(Family f, int* min, int* max)
{
    int lo = 0;
    int hi = 0;
    switch (f) {
    case Identifier: lo = 5; hi = 5; break;
    case ReplyData: lo = 6; hi = 131; break;
    case ReplyRequest: lo = 5; hi = 131; break;
    case ReplyMessage: lo = 9; hi = 265; break;
    case ReplyAck: lo = 3; hi = 3; break;
    case NotAControl: break;
    }
    if (min)
        *min = lo;
    if (max)
        *max = hi;
}

bool sizeFits(quint8 code, int n)
{
    int lo = 0;
    int hi = 0;
    sizeRange(family(code), &lo, &hi);
    return lo != 0 && n >= lo && n <= hi;
}

} // namespace FipControls
