#ifndef BX_ANALYSIS_MACROCYCLEANALYSIS_H
#define BX_ANALYSIS_MACROCYCLEANALYSIS_H

#include "capture/decoder/FipDecoderListener.h"

#include <QtGlobal>

#include <vector>

class AnalysisContext;
class TransactionATModel;
struct FipCaptureCounters;

/// Identifiers of one elementary cycle, in bus order.
using Microcycle = std::vector<quint16>;
/// The repeated sequence of elementary cycles the arbitrator runs.
using Macrocycle = std::vector<Microcycle>;

/// Finds the macrocycle in the identifier stream: padding frames close a
/// microcycle, and once per sampling period the microcycles gathered since the
/// last evaluation are searched for their shortest repetition. At the same
/// moment the identifier states are sampled into the transaction tree.
///
/// It sits first on the decoder's frame path, so it sees an identifier before
/// the transaction bookkeeping marks it; every hook then goes on to `next`.
/// Time is the capture's own (frame dates), so a replay samples as the live
/// capture did.
class MacrocycleAnalysis : public FipForwardingListener
{
public:
    /// What the main window does with an evaluation.
    class Observer
    {
    public:
        virtual ~Observer();
        /// A clean evaluation with drawing on: the donut may change.
        virtual void onMacrocycleEvaluated() = 0;
        /// The first evaluation of a run of them that saw new bus errors.
        virtual void onMacrocycleErrors() = 0;
    };

    /// The longest microcycle kept; a bus without padding must not grow one forever.
    static constexpr size_t MaxMicrocycleIds = 4096;
    /// Identifiers kept between two evaluations (a very long sampling period).
    static constexpr size_t MaxCollectedIds = size_t(1) << 22;

    MacrocycleAnalysis(AnalysisContext* context, FipDecoderListener* next = nullptr);

    void setObserver(Observer* observer) { m_observer = observer; }
    /// Where the identifier states are sampled to; null samples nowhere.
    void setTransactionModel(TransactionATModel* model) { m_model = model; }
    /// The decoder's counters: bus errors other than interruptions hold the drawing back.
    void setErrorCounters(const FipCaptureCounters* counters) { m_errors = counters; }
    /// Padding rule: one fixed identifier, or every presence identifier (bits 0x1400).
    void setPaddingRule(bool fixedIdentifier, quint16 identifier);
    void setSamplingPeriodMs(qint64 ms) { m_samplingUs = ms > 0 ? quint64(ms) * 1000 : 0; }
    /// `macroDetectYes`: evaluations still run with drawing off, only the donut stays.
    void setDrawingEnabled(bool enabled) { m_drawing = enabled; }

    /// A new capture: every list empty, nothing detected.
    void reset();

    bool isPaddingId(quint16 id) const
    {
        return m_fixedPadding ? id == m_paddingId : (id & 0x1400) == 0x1400;
    }

    /// One identifier frame at `timestampUs` (µs since the epoch).
    void treatMacrocycle(quint16 id, quint64 timestampUs);
    /// Searches the gathered microcycles now, as the sampling period would.
    void evaluate();

    /// The shortest period of a list of microcycles, 0 when none repeats often enough.
    static size_t findPeriod(const Macrocycle& microcycles);

    const Macrocycle& macrocycle() const { return m_macrocycle; }
    /// Length of the last complete microcycle in µs, 0 before two boundaries.
    quint64 microcycleLength() const { return m_microcycleLength; }
    quint64 evaluations() const { return m_evaluations; }
    size_t collectedCount() const { return m_collectedEnds.size(); }

    /// The first record of a capture arrived: the padding search may start.
    bool paddingSearchPending() const { return m_paddingPending; }
    void setPaddingSearchPending(bool pending) { m_paddingPending = pending; }

    void onOstrakSpeed(quint8 code) override;
    void onIdentifierFrame(const FipFrameInfo& frame) override;

private:
    quint64 errorsBesideInterruptions() const;
    void closeMicrocycle(quint64 timestampUs);
    void sampleStates();

    AnalysisContext* m_context;
    Observer* m_observer = nullptr;
    TransactionATModel* m_model = nullptr;
    const FipCaptureCounters* m_errors = nullptr;

    bool m_fixedPadding = true;
    quint16 m_paddingId = 0x9080;
    quint64 m_samplingUs = 2000000;
    bool m_drawing = true;

    bool m_previousWasPadding = false;
    Microcycle m_current;
    // The microcycles since the last evaluation, end to end: ids and where each ends.
    std::vector<quint16> m_collectedIds;
    std::vector<quint32> m_collectedEnds;
    Macrocycle m_macrocycle;

    quint64 m_previousStart = 0;
    quint64 m_currentStart = 0;
    quint64 m_microcycleLength = 0;
    bool m_timerStarted = false;
    quint64 m_evaluationStart = 0; ///< frame date the sampling period counts from
    quint64 m_lastFrameUs = 0;
    quint64 m_errorSnapshot = 0;
    quint64 m_evaluations = 0;
    bool m_paddingPending = false;
};

#endif
