#ifndef BX_CAPTURE_DECODER_FIPCONTROLS_H
#define BX_CAPTURE_DECODER_FIPCONTROLS_H

#include <QtGlobal>

/// The twenty FIP control bytes, their names and the size rules of their families.
/// One table for the decoder, the trace and the main window's control name table.
namespace FipControls {

enum Code : quint8 {
    ID_DAT = 0x03,
    ID_MSG = 0x05,
    ID_RQ1 = 0x29,
    ID_RQ2 = 0x09,
    RP_DAT = 0x02,
    RP_DAT_MSG = 0x06,
    RP_DAT_RQ1 = 0x2A,
    RP_DAT_RQ2 = 0x0A,
    RP_DAT_RQ1_MSG = 0x2E,
    RP_DAT_RQ2_MSG = 0x0E,
    RP_RQ1 = 0x28,
    RP_RQ2 = 0x08,
    RP_MSG_NOACK = 0x04,
    RP_MSG_ACKe = 0x14,
    RP_MSG_ACKo = 0x94,
    RP_ACKpe = 0x30,
    RP_ACKpo = 0xB0,
    RP_ACKme = 0x10,
    RP_ACKmo = 0x90,
    RP_FIN = 0x40
};

/// Frame families, each with its own size rule (control byte to FCS included).
enum Family : quint8 {
    NotAControl = 0,
    Identifier,   ///< ID_DAT, ID_MSG, ID_RQ: exactly 5 bytes
    ReplyData,    ///< RP_DAT family: 6 to 131 bytes
    ReplyRequest, ///< RP_RQ: 5 to 131 bytes
    ReplyMessage, ///< RP_MSG: 9 to 265 bytes
    ReplyAck      ///< RP_ACK and RP_FIN: exactly 3 bytes
};

struct Entry {
    quint8 code;
    const char* name;
};

constexpr int Count = 20;
/// The controls in the order of the main window's colour settings.
const Entry* table();

/// Name of a control byte, null when the byte is not one of the twenty.
const char* name(quint8 code);
Family family(quint8 code);
inline bool isKnown(quint8 code) { return family(code) != NotAControl; }
/// Whether a frame of n bytes (control byte to FCS) fits its family.
bool sizeFits(quint8 code, int n);
/// Smallest and largest size of a family; 0, 0 for an unknown control.
void sizeRange(Family family, int* min, int* max);

} // namespace FipControls

#endif
