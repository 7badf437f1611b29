#pragma once

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include <memory>

class FipSimulatedNetwork;

/// One elementary cycle of a scan table: its identifiers in order, and the time
/// from its start at which the next one starts (0: at once, no padding).
struct FipMicrocycle {
    QVector<quint16> ids;
    quint32 us = 0;
};

/// One frame as the capture card sees it on the bus.
struct FipFrame {
    QByteArray bytes;        ///< control byte first, FCS last (may be cut short by a reception error)
    quint16 status = 0;      ///< reception status flags (0x0001 glitch … 0x0400 channel 2)
    quint8 frameType = 2;    ///< 1 FIP, 2 WorldFIP
    quint8 speedCode = 1;    ///< 0 31.25 kbit/s, 1 1 Mbit/s, 2 2.5 Mbit/s, 3 5 Mbit/s
    quint64 number = 0;      ///< frame number since the generator started, from 0
    quint64 timestampUs = 0; ///< start of the frame, µs since 1970-01-01 UTC
    quint64 tick = 0;        ///< start of the frame in ticks since the generator started
    quint32 gapTicks = 0;    ///< silence before the frame, in ticks (bit time / 10)
    quint32 lengthTicks = 0; ///< duration of the frame on the wire, in ticks
    quint16 glc = 0;         ///< glitch counter of the card
    quint8 jitter = 0;       ///< maximum jitter measured on the frame, in ticks
};

/// A simulated FIP bus: a bus arbitrator running a periodic scan table (ID_DAT
/// then the producer's RP_DAT, with the line turnaround between them), an
/// aperiodic window serving variable requests and messages, and presence
/// polling of the stations. Frames carry correct FCS values and bus timing of the
/// chosen speed; reception errors appear only when asked for.
///
/// The generator runs on simulated bus time: callers pace it against their own
/// clock with nextFrameTick() / ticksPerSecond(). The capture card, the remote
/// capture server and the simulated arbitrator boards all share it.
class FipTrafficGenerator
{
public:
    /// A produced variable of the scan table.
    struct Variable {
        quint16 id = 0;
        int length = 2;       ///< data bytes in the reply
        int periodCycles = 1; ///< sent every n-th elementary cycle
        int producer = -1;    ///< station address of the producer, -1 unknown
    };

    /// Faults a real bus shows, each a share of the frames (or, for a station
    /// dropping off, a chance per elementary cycle), drawn at random.
    struct Faults {
        double missingReply = 0; ///< a producer stays silent after its identifier
        double fcs = 0;          ///< an FCS bit flipped on the wire
        double glitch = 0;       ///< a glitch in the preamble
        double lateReply = 0;    ///< a reply after a turnaround well beyond the network's
        double dropout = 0;      ///< a station leaves the bus for a while
        quint32 dropoutMs = 1000;
        bool any() const { return missingReply > 0 || fcs > 0 || glitch > 0 || lateReply > 0 || dropout > 0; }
    };

    /// The identifier the arbitrator of the generator's own network pads its cycles
    /// with; 0 (the default) leaves the end of a cycle silent.
    static constexpr quint16 kDefaultPaddingId = 0x9080;

    enum class Error {
        None,
        FcsError,        ///< one FCS bit flipped on the wire
        Glitch,          ///< glitch in the preamble (status 0x0001)
        NoFsd,           ///< start delimiter missing (status 0x0002)
        UnknownFsd,      ///< start delimiter unreadable (status 0x0004)
        NoFed,           ///< end delimiter missing, frame cut (status 0x0008)
        CounterOverflow, ///< frame counter overflow (status 0x0010)
        MissingReply,    ///< the producer stays silent after its identifier
        UnknownControl,  ///< a control byte outside the protocol, with a correct FCS
        BadSize,         ///< a frame too long or too short for its control, with a correct FCS
    };

    explicit FipTrafficGenerator(quint8 speedCode = 1, quint8 frameType = 2, quint64 startUs = 0);

    /// The default network: a dozen variables of 2 to 32 bytes on 1, 2 and 4 cycles,
    /// presence polling of 8 stations and one message producer.
    static QVector<Variable> defaultVariables();

    void setVariables(const QVector<Variable>& variables);
    QVector<Variable> variables() const { return m_variables; }

    /// Elementary cycle length in µs; the scan pauses silently until it ends.
    void setCycleUs(quint32 us);
    quint32 cycleUs() const { return m_cycleUs; }

    /// Every n-th cycle a variable request and a message are served (0 = never).
    void setAperiodicEvery(int cycles) { m_aperiodicEvery = cycles; }

    /// Padding identifier of the generator's own network (0: silence instead).
    void setPaddingId(quint16 id) { m_paddingId = id; }
    /// Faults of the generator's own network; a followed network brings its own.
    void setFaults(const Faults& faults) { m_faults = faults; }
    /// Padding identifier frames produced so far.
    quint64 paddingFramesProduced() const { return m_paddingFrames; }

    /// The next produced frame carries this error.
    void injectError(Error error) { m_pendingError = error; }
    /// Every n-th frame carries an error, taken in turn from the list of kinds (0 = never).
    void setErrorEvery(int frames) { m_errorEvery = frames; }

    /// While a simulated network runs (FipSimulatedNetwork::current()), scan its
    /// table with its producers' values and messages instead of the generator's
    /// own; on by default.
    void setFollowNetwork(bool follow) { m_followNetwork = follow; }
    bool followsNetwork() const { return m_network != nullptr; }

    /// Produces the next frame on the bus.
    FipFrame next();

    /// Bus silence: the next frame starts no earlier than this tick (a cable pulled,
    /// the arbitrator stopped).
    void skipToTick(quint64 tick);

    quint64 nextFrameTick() const { return m_tick + m_nextGap; }
    quint64 framesProduced() const { return m_number; }
    quint8 speedCode() const { return m_speedCode; }
    quint8 frameType() const { return m_frameType; }
    quint64 startUs() const { return m_startUs; }

    /// Bit time of a speed code in µs; 0 for an unknown code.
    static double bitTimeUs(quint8 speedCode);
    /// Counter ticks per second (ten per bit time).
    double ticksPerSecond() const;
    quint64 usToTicks(double us) const;
    double ticksToUs(quint64 ticks) const;

    /// Bytes of a frame with its FCS appended, for the generator's frame type.
    QByteArray withFcs(const QByteArray& body) const;

private:
    struct Pending {
        QByteArray body;  // without FCS
        quint32 gapBits;  // silence before, in bit times
        bool reply;       // answers the previous identifier
        bool unanswered;  // an identifier nobody answers: the silence follows
        int station = -1; // the replying station, when known
    };

    void syncNetwork();
    const QVector<Variable>& scanned() const;
    quint32 scannedCycleUs() const;
    void planCycle();
    void planVariable(quint16 id, int length, quint8 control, int producer = -1);
    void planAperiodic();
    void planPresence(quint8 station);
    bool planPadding();
    quint32 turnBits() const;
    quint32 silenceBits() const;
    const Faults& faults() const;
    double draw();
    bool stationAway(int station) const;
    QByteArray variableData(quint16 id, int length);
    Error takeError();
    static QByteArray faulty(const QByteArray& body, Error error);

    quint8 m_speedCode;
    quint8 m_frameType;
    quint64 m_startUs;
    QVector<Variable> m_variables;
    quint32 m_cycleUs = 20000;
    int m_aperiodicEvery = 5;
    int m_errorEvery = 0;
    int m_errorTurn = 0;
    Error m_pendingError = Error::None;

    QVector<Pending> m_plan;  // frames of the current cycle still to send
    int m_planPos = 0;
    quint64 m_cycle = 0;
    quint64 m_cycleStartTick = 0;
    quint64 m_tick = 0;       // end of the last frame
    quint32 m_nextGap = 0;    // silence before the next frame, in ticks
    quint64 m_number = 0;
    quint16 m_glc = 0;
    quint32 m_random = 0x2545F491;
    quint8 m_presenceStation = 0;
    bool m_rqPending = false;
    bool m_msgPending = false;
    quint16 m_dataSeed = 0;

    bool m_followNetwork = true;
    std::shared_ptr<FipSimulatedNetwork> m_network; // the network followed this cycle
    quint64 m_networkRevision = 0;
    QVector<Variable> m_networkVariables;
    QVector<quint8> m_networkStations;
    quint32 m_networkCycleUs = 0;
    QVector<FipMicrocycle> m_networkMicrocycles;
    quint16 m_networkPaddingId = 0;
    double m_networkSilenceUs = 0;
    double m_networkTurnaroundUs = 0;
    Faults m_networkFaults;
    int m_microcycle = 0;       // position in the followed macrocycle

    quint16 m_paddingId = 0;
    quint64 m_paddingFrames = 0;
    quint32 m_currentCycleUs = 0; // length of the cycle being sent, 0 without a wait
    Faults m_faults;
    quint32 m_faultRandom = 0x9E3779B9;
    int m_awayStation = -1;     // a station off the bus until m_awayUntilTick
    quint64 m_awayUntilTick = 0;
};
