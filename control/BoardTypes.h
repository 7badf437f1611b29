#pragma once

#include <QList>
#include <QtEndian>
#include <QMetaType>
#include <QtGlobal>

// Board types that travel through queued connections between the detection and
// arbitrator threads and the main window: the shapes the board library's device
// list and LED calls fill.

/// LED colour of an arbitrator board: bit 0 blue, bit 1 green, bit 2 red.
enum LED_RGB_COLOR : quint32 {
    LED_BLACK = 0,
    LED_BLUE = 1,
    LED_GREEN = 2,
    LED_CYAN = 3,
    LED_RED = 4,
    LED_MAGENTA = 5,
    LED_YELLOW = 6,
    LED_WHITE = 7
};

/// One detected arbitrator board: the library's 27-byte device-list record, then its LED colour.
struct TARVEXCONF {
    static constexpr int RecordSize = 27;
    quint8 record[RecordSize] = {};
    quint32 ledColor = LED_BLACK;
};

/// The fields of a device-list record the program reads; the other bytes are kept unread.
namespace TarvexFields {
inline quint32 interfaceType(const TARVEXCONF& d) { return qFromLittleEndian<quint32>(d.record + 0); }
inline quint8 boardIndex(const TARVEXCONF& d) { return d.record[4]; }
inline quint32 boardNumber(const TARVEXCONF& d) { return qFromLittleEndian<quint32>(d.record + 10); }
inline quint8 speedCode(const TARVEXCONF& d) { return d.record[17]; }
inline quint16 subSysId(const TARVEXCONF& d) { return qFromLittleEndian<quint16>(d.record + 25); }
} // namespace TarvexFields

Q_DECLARE_METATYPE(LED_RGB_COLOR)
Q_DECLARE_METATYPE(TARVEXCONF)
