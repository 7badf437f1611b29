#ifndef BX_ANALYSIS_FRAMEANALYSIS_H
#define BX_ANALYSIS_FRAMEANALYSIS_H

#include "capture/decoder/FipDecoderListener.h"

class AnalysisContext;

/// The transaction bookkeeping of every decoded frame: requests and their
/// replies per identifier, missing replies and acknowledgements, durations,
/// refresh states and data changes, station presence, the silence and
/// turn-around sums and the reply durations of the load gauges.
///
/// Everything it learns goes into the analysis context; the statistics tick
/// pushes it into the displays. Hooks it does not use go on to `next`.
class FrameAnalysis : public FipForwardingListener
{
public:
    explicit FrameAnalysis(AnalysisContext* context, FipDecoderListener* next = nullptr);

    /// A new capture: no current transaction.
    void reset();

    /// Whether an identifier is a station's presence variable (bits 0x1000 and 0x0400).
    static bool isPresenceIdentifier(quint16 identifier) { return (identifier & 0x1400) == 0x1400; }

    void onIdentifierFrame(const FipFrameInfo& frame) override;
    void onReplyFrame(const FipFrameInfo& frame, TraceRow& row) override;
    void onFrameWithoutError(const FipFrameInfo& frame) override;
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override;
    void onTrafficInterruption(TraceRow& row) override;

private:
    void variableReply(const FipFrameInfo& frame, TraceRow& row);
    void otherReply(const FipFrameInfo& frame);
    void storeData(quint16 identifier, quint8 control, const quint8* data, int size);

    AnalysisContext* m_context;

    bool m_hasCurrent = false;      ///< an identifier frame started the current transaction
    bool m_awaitingReply = false;   ///< the current control is still the request's
    quint16 m_currentId = 0;
    quint8 m_currentControl = 0;
    quint8 m_previousControl = 0;   ///< control of the frame just before, 0 after an error
    quint64 m_previousFc = 0;
};

#endif
