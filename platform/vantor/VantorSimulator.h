#pragma once

#include "FipTrafficGenerator.h"
#include "vantor.h"

#include <QMap>

#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

/// The simulated arbitrator boards behind the stand-in board library: which
/// boards are plugged in, which network each is wired to, and the faults a test
/// asks for. Boards of one network share one bus, so a variable produced on one
/// station is consumed on the others once an arbitrator scans it.
///
/// The set of boards comes from setBoards(), or else from the description file
/// named by the environment variable BRANTIX_VANTOR_BOARDS, or else the default:
/// one PCIe and one USB board at 1 Mbit/s on one network. A description file has
/// one board per line, "#" starting a comment:
///
///     usb network=line1 speed=1 number=0x00012345
///     pci subsys=0x5301 network=line1
///     other
///
/// Keys, all optional: index (board index, by default counted per interface type
/// from 0), number, speed (code 0..3), subsys, impedance (0 or 1), network,
/// temperature (degrees Celsius).
///
/// A line "network NAME key=value ..." sets what the boards of that network do
/// beyond their scan table (see Network):
///
///     network line1 padding=0x7530 pattern=0x0100:sine:4000,0x0201:static fcs=0.001
///
/// Keys: padding (identifier, 0 for none), pattern (identifier:kind[:period ms],
/// kinds counter, sawtooth, square, sine, walk, static), missing-reply, fcs,
/// glitch, late-reply (shares of the frames, 0..1), dropout (chance per cycle
/// that a station leaves the bus) and dropout-ms.
///
/// Boards are named by their position in the set. Process-wide and thread-safe.
class VantorSimulator
{
public:
    struct Board {
        quint32 interfaceType = VANTOR_INTERFACE_USB;
        int index = -1;            ///< board index for vantor_device_open; -1 counts per interface type
        quint32 number = 0;        ///< board number; 0 gives one of its own
        quint8 speedCode = 1;
        quint16 subsystemId = 0;   ///< PCI family form factor; 0 gives 0x5301 (PCIe) for PCI boards
        quint8 impedanceCode = 0;
        QString network = QStringLiteral("net");
        float temperature = 0;     ///< 0 gives a plausible board temperature
    };

    /// How a station's own application moves a produced variable nobody writes.
    struct ValuePattern {
        enum Kind { Counter, Sawtooth, Square, Sine, RandomWalk, Static };
        Kind kind = Counter;
        quint32 periodMs = 2000; ///< a full wave; a counter steps 20 times per period
    };
    /// What the boards of one network do beyond their scan table.
    struct Network {
        QString name = QStringLiteral("net");
        quint16 paddingId = FipTrafficGenerator::kDefaultPaddingId; ///< 0: silent waits
        QMap<quint16, ValuePattern> patterns; ///< a variable not listed counts
        FipTrafficGenerator::Faults faults;
    };

    /// Sets one network's behaviour; its running boards follow at once.
    static void setNetwork(const Network& network);
    /// The settings of a network (the defaults for one never set).
    static Network network(const QString& name);
    /// Turns the faults of a running network on or off.
    static void setFaults(const QString& network, const FipTrafficGenerator::Faults& faults);

    /// Replaces the set of boards. Handles still open behave as pulled boards.
    static void setBoards(const QVector<Board>& boards);
    static QVector<Board> boards();
    /// Reads a description file (format above).
    static bool parseBoards(const QString& text, QVector<Board>* out, QString* error,
                            QVector<Network>* networks = nullptr);
    static bool loadBoardsFile(const QString& path, QString* error);
    /// Back to the environment's description file or the default set, no fault
    /// pending, every network at its defaults.
    static void reset();

    /// The board disappears: it leaves the device list, leaves its bus, and every
    /// call on a handle opened on it fails (VANTOR_ERR_USB_NO_RESPONSE for a USB
    /// board, VANTOR_ERR_NO_DEVICE for the others). Closing the handle still frees it.
    static void pullBoard(int position);
    /// The board comes back, closed.
    static void plugBoard(int position);

    /// Adds an event to an open board's queue, as its firmware would.
    static bool postEvent(int position, quint16 code, quint16 param);
    /// Sets one of an open board's seven medium counters.
    static bool setMediumCounter(int position, int counter, quint16 value);
    /// Raises medium status bits (2..5: transmit and watchdog errors). They stay
    /// until the medium commands that clear them, or, when stuck, until called
    /// again with 0.
    static bool setMediumFault(int position, quint16 statusBits, bool stuck = false);
    /// Fixes an open board's temperature (NaN allowed); 0 returns to the simulated one.
    static bool setTemperature(int position, float celsius);
    /// Microseconds the simulated line spends per file packet (default 1000).
    static void setFilePacketUs(int us);

    /// The calls made on the board since it was opened, oldest first, each as
    /// "name(arguments)" with numbers in decimal, e.g. "vantor_send_aper_by_id(256,1)";
    /// the polled reads (events, variables, messages, medium, monitoring) are left out.
    static QStringList calls(int position);
    static bool isOpen(int position);
    static quint32 ledColour(int position);
    /// Macrocycles the arbitrator of a network has completed since the bus was made.
    static quint64 macrocycles(const QString& network);
};
