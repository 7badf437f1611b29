#ifndef BX_DESIGNCHECK_BUSOBSERVATION_H
#define BX_DESIGNCHECK_BUSOBSERVATION_H

#include <QVector>
#include <QtGlobal>

#include <deque>
#include <vector>

/// One frame as the design check needs it, from a live capture or a trace line.
struct ObservedFrame
{
    enum Kind : quint8 {
        VariableRequest, ///< ID_DAT
        OtherRequest,    ///< ID_MSG, ID_RQ1, ID_RQ2
        VariableReply,   ///< RP_DAT and its variants
        OtherFrame,      ///< messages, lists, acknowledgements
        ErrorFrame       ///< anything the decoder refused, or a traffic interruption
    };
    quint64 number = 0;
    quint64 timeUs = 0; ///< start of the frame, µs since the epoch
    double gapUs = 0;   ///< silence before the frame
    Kind kind = OtherFrame;
    quint16 identifier = 0;
    int dataLength = 0; ///< bytes between the control byte and the FCS
    bool smMps = false; ///< a variable reply of PDU type SM_MPS
};

/// Running minimum, maximum and mean of a measure.
struct RunningRange
{
    double min = 0, max = 0, sum = 0;
    quint64 count = 0;

    void add(double value)
    {
        if (count == 0 || value < min)
            min = value;
        if (count == 0 || value > max)
            max = value;
        sum += value;
        ++count;
    }
    double mean() const { return count ? sum / double(count) : 0.0; }
};

/// What the bus showed for one identifier.
struct ObservedIdentifier
{
    quint16 id = 0;
    quint64 requests = 0, replies = 0, noReplies = 0;
    qint64 firstRequest = -1, firstReply = -1, firstNoReply = -1;
    quint64 lastRequestUs = 0;
    RunningRange intervalUs;
    int firstLength = -1;  ///< variable bytes of the first reply
    qint64 firstOtherLength = -1; ///< first reply whose length differed from the first one
    int minLength = 0, maxLength = 0;
    quint64 mpsReplies = 0, smMpsReplies = 0;
    qint64 firstMps = -1, firstSmMps = -1;
};

/// Measures a capture for the design check, one frame at a time: refresh
/// intervals, replies and their lengths and PDUs, missing replies, turnaround and
/// silence, and the identifiers of each microcycle (a microcycle ends where
/// padding begins). Adding a frame allocates nothing once an identifier is known.
class BusObservation
{
public:
    BusObservation();

    void reset();
    /// Padding as the decoder sees it: one fixed identifier, or every identifier
    /// with bits 0x1000 and 0x0400 set.
    void setPadding(bool fixed, quint16 identifier);
    bool isPadding(quint16 id) const { return m_fixedPadding ? id == m_paddingId : (id & 0x1400) == 0x1400; }
    bool fixedPadding() const { return m_fixedPadding; }
    quint16 paddingIdentifier() const { return m_paddingId; }

    void add(const ObservedFrame& frame);

    quint64 frames() const { return m_frames; }
    const std::vector<ObservedIdentifier>& identifiers() const { return m_identifiers; }
    const ObservedIdentifier* find(quint16 id) const;
    const RunningRange& turnaroundUs() const { return m_turnaround; }
    const RunningRange& silenceUs() const { return m_silence; }
    /// Lengths of complete microcycles, start to start.
    const RunningRange& microcycleUs() const { return m_microcycleLength; }
    /// The last complete microcycles, oldest first, with their first frame numbers.
    const std::deque<QVector<quint16>>& microcycles() const { return m_microcycles; }
    const std::deque<quint64>& microcycleFrames() const { return m_microcycleFrames; }

    /// The repeating sequence of microcycles at the end of the capture (the
    /// first and last kept ones dropped as possibly cut); empty when none repeats.
    QVector<QVector<quint16>> macrocycle() const;

private:
    ObservedIdentifier& entry(quint16 id);
    void closeMicrocycle(quint64 startUs);

    std::vector<qint32> m_slots;
    std::vector<ObservedIdentifier> m_identifiers;
    bool m_fixedPadding = false;
    quint16 m_paddingId = 0;

    quint64 m_frames = 0;
    bool m_awaiting = false;     ///< the last request still waits for its reply
    bool m_awaitingVariable = false;
    quint16 m_currentId = 0;
    qint64 m_currentFrame = -1;
    RunningRange m_turnaround, m_silence;

    bool m_inPadding = false;
    bool m_cycleComplete = false; ///< the open microcycle began after padding
    quint64 m_cycleStartUs = 0;
    quint64 m_cycleStartFrame = 0;
    QVector<quint16> m_cycle;
    RunningRange m_microcycleLength;
    std::deque<QVector<quint16>> m_microcycles;
    std::deque<quint64> m_microcycleFrames;
};

#endif
