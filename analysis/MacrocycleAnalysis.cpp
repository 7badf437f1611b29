#include "analysis/MacrocycleAnalysis.h"

#include "analysis/AnalysisContext.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipCaptureCounters.h"

MacrocycleAnalysis::Observer::~Observer() = default;

MacrocycleAnalysis::MacrocycleAnalysis(AnalysisContext* context, FipDecoderListener* next)
    : FipForwardingListener(next)
    , m_context(context)
{
    m_current.reserve(256);
}

void MacrocycleAnalysis::setPaddingRule(bool fixedIdentifier, quint16 identifier)
{
    m_fixedPadding = fixedIdentifier;
    m_paddingId = identifier;
}

void MacrocycleAnalysis::reset()
{
    m_previousWasPadding = false;
    m_current.clear();
    m_collectedIds.clear();
    m_collectedEnds.clear();
    m_macrocycle.clear();
    m_previousStart = m_currentStart = m_microcycleLength = 0;
    m_timerStarted = false;
    m_evaluationStart = m_lastFrameUs = 0;
    m_errorSnapshot = 0;
    m_evaluations = 0;
    m_paddingPending = false;
}

void MacrocycleAnalysis::treatMacrocycle(quint16 id, quint64 timestampUs)
{
    m_lastFrameUs = timestampUs;
    if (!m_timerStarted) {
        m_timerStarted = true;
        m_evaluationStart = timestampUs;
    }
    // Padding is counted by the decoder; it only closes microcycles here.
    if (isPaddingId(id)) {
        m_previousWasPadding = true;
        return;
    }
    if (m_previousWasPadding) {
        m_previousWasPadding = false;
        if (!m_current.empty() && timestampUs > m_evaluationStart
            && timestampUs - m_evaluationStart > m_samplingUs)
            evaluate();
        closeMicrocycle(timestampUs);
    }
    if (m_current.size() < MaxMicrocycleIds)
        m_current.push_back(id);
}

void MacrocycleAnalysis::closeMicrocycle(quint64 timestampUs)
{
    if (m_collectedIds.size() + m_current.size() <= MaxCollectedIds) {
        m_collectedIds.insert(m_collectedIds.end(), m_current.begin(), m_current.end());
        m_collectedEnds.push_back(quint32(m_collectedIds.size()));
    }
    m_current.clear();
    m_previousStart = m_currentStart;
    m_currentStart = timestampUs;
    // The first boundary has no start before it to measure from.
    m_microcycleLength = m_previousStart != 0 ? m_currentStart - m_previousStart : 0;
}

size_t MacrocycleAnalysis::findPeriod(const Macrocycle& list)
{
    const size_t half = list.size() / 2;
    for (size_t k = 1; k <= half; ++k) {
        if (list[k] != list[0])
            continue;
        // Two full turns at least, so that a pattern seen once is not taken for the cycle.
        if (k >= half)
            break;
        bool repeats = true;
        for (size_t i = k; i < list.size() && repeats; ++i)
            repeats = list[i] == list[i % k];
        if (repeats)
            return k;
    }
    return 0;
}

quint64 MacrocycleAnalysis::errorsBesideInterruptions() const
{
    if (!m_errors)
        return 0;
    const FipCaptureCounters& c = *m_errors;
    return c.lostPackets + c.fifoOverflows + c.fsdErrors + c.noFedErrors + c.preGlitches + c.unknownControls
        + c.invalidDataSizes + c.fcsErrors;
}

void MacrocycleAnalysis::evaluate()
{
    ++m_evaluations;
    const quint64 errors = errorsBesideInterruptions();

    // The first and the last microcycle may have been cut by the capture or the period.
    size_t first = 0;
    size_t last = m_collectedEnds.size();
    if (last > 2) {
        first = 1;
        --last;
    }
    Macrocycle list;
    list.reserve(last - first);
    for (size_t i = first; i < last; ++i) {
        const size_t begin = i == 0 ? 0 : m_collectedEnds[i - 1];
        list.emplace_back(m_collectedIds.begin() + std::ptrdiff_t(begin),
                          m_collectedIds.begin() + std::ptrdiff_t(m_collectedEnds[i]));
    }
    const size_t period = findPeriod(list);
    list.resize(period);
    m_macrocycle.swap(list);

    if (m_drawing) {
        if (errors == m_errorSnapshot) {
            m_context->macrocycleConsistent = true;
            if (m_observer)
                m_observer->onMacrocycleEvaluated();
        } else if (m_context->macrocycleConsistent) {
            m_context->macrocycleConsistent = false;
            if (m_observer)
                m_observer->onMacrocycleErrors();
        }
    }
    m_errorSnapshot = errors;
    m_collectedIds.clear();
    m_collectedEnds.clear();
    sampleStates();
    m_evaluationStart = m_lastFrameUs;
}

void MacrocycleAnalysis::sampleStates()
{
    for (TransactionStats& pair : m_context->pairs()) {
        if (!(pair.fields & TransactionStats::HasState))
            continue;
        if (m_model)
            m_model->setIdState(pair.identifier, pair.control, pair.state);
        // The warning stays; seen and replied must be earned again in the next period.
        pair.state = quint8((pair.state & 0x7C) | 0x80);
    }
}

void MacrocycleAnalysis::onOstrakSpeed(quint8 code)
{
    m_paddingPending = true;
    FipForwardingListener::onOstrakSpeed(code);
}

void MacrocycleAnalysis::onIdentifierFrame(const FipFrameInfo& frame)
{
    treatMacrocycle(frame.identifier, frame.timestamp);
    FipForwardingListener::onIdentifierFrame(frame);
}
