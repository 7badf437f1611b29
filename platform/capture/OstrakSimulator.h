#pragma once

#include "FipTrafficGenerator.h"

/// The simulated capture hardware behind the stand-in card libraries: which
/// cards are plugged in, the bus they listen to, and the faults a test or a
/// demonstration asks for. Process-wide and thread-safe.
class OstrakSimulator
{
public:
    enum class Family { Usb, Pci };

    struct Settings {
        int usbCards = 1;            ///< cards listed by MDGetComInfoList
        int pciCards = 1;            ///< cards listed by pexil_device_list_get
        quint8 speedCode = 1;        ///< bus speed seen by every card
        quint8 frameType = 2;        ///< 1 FIP, 2 WorldFIP
        int eventWaitMs = 1000;      ///< how long wait_for_event blocks without traffic
        double timeScale = 1.0;      ///< bus time per wall-clock time
        bool triggerSupported = true;///< firmware accepts the hardware trigger element
        int triggerReplyLength = 5;  ///< bytes of the trigger element's reply (older firmware: fewer)
        int errorEvery = 0;          ///< every n-th frame carries a reception error (0 = never)
        int fifoSpanMs = 2000;       ///< traffic the card buffers before its FIFO overflows
    };

    static Settings settings();
    static void setSettings(const Settings& settings);
    /// Back to the defaults: every card released, no fault pending.
    static void reset();

    /// The bus falls silent (true) or takes up again.
    static void setTrafficPaused(bool paused);
    static bool trafficPaused();

    /// The cards stop answering, as if unplugged.
    static void setUnplugged(bool unplugged);
    static bool unplugged();

    /// The next frame any card produces carries this error.
    static void injectError(FipTrafficGenerator::Error error);
    static FipTrafficGenerator::Error takeInjectedError();

    /// The card reports a FIFO overflow (and loses the traffic in it) once.
    static void injectFifoOverflow();
    static bool takeFifoOverflow();

    /// The next event record's counter jumps by one, as when the card lost a record.
    static void injectCounterSkip();
    static bool takeCounterSkip();

    /// The next request to start capturing is refused, as by a card in a bad state.
    static void injectStartRefusal();
    static bool takeStartRefusal();

    /// One program at a time may hold a card; false when already held.
    static bool claim(Family family, int index);
    static void release(Family family, int index);
    static bool isClaimed(Family family, int index);
};
