#include "BusObservation.h"

#include "DesignCheckTypes.h"

BusObservation::BusObservation()
    : m_slots(65536, -1)
{
}

void BusObservation::reset()
{
    const bool fixed = m_fixedPadding;
    const quint16 padding = m_paddingId;
    *this = BusObservation();
    setPadding(fixed, padding);
}

void BusObservation::setPadding(bool fixed, quint16 identifier)
{
    m_fixedPadding = fixed;
    m_paddingId = identifier;
}

const ObservedIdentifier* BusObservation::find(quint16 id) const
{
    const qint32 slot = m_slots[id];
    return slot < 0 ? nullptr : &m_identifiers[size_t(slot)];
}

ObservedIdentifier& BusObservation::entry(quint16 id)
{
    qint32& slot = m_slots[id];
    if (slot < 0) {
        slot = qint32(m_identifiers.size());
        m_identifiers.emplace_back();
        m_identifiers.back().id = id;
    }
    return m_identifiers[size_t(slot)];
}

void BusObservation::closeMicrocycle(quint64 startUs)
{
    if (m_cycleComplete && !m_cycle.isEmpty()) {
        m_microcycleLength.add(double(startUs - m_cycleStartUs));
        m_microcycles.push_back(m_cycle);
        m_microcycleFrames.push_back(m_cycleStartFrame);
        if (int(m_microcycles.size()) > DesignCheckThresholds::KeptMicrocycles) {
            m_microcycles.pop_front();
            m_microcycleFrames.pop_front();
        }
    }
    m_cycle.clear();
}

void BusObservation::add(const ObservedFrame& f)
{
    ++m_frames;
    switch (f.kind) {
    case ObservedFrame::VariableRequest:
    case ObservedFrame::OtherRequest: {
        // A request right after a request: the first one went unanswered.
        if (m_awaiting && m_awaitingVariable && !isPadding(m_currentId)) {
            ObservedIdentifier& e = entry(m_currentId);
            if (e.noReplies++ == 0)
                e.firstNoReply = m_currentFrame;
            m_silence.add(f.gapUs);
        }
        m_awaiting = true;
        m_awaitingVariable = f.kind == ObservedFrame::VariableRequest;
        m_currentId = f.identifier;
        m_currentFrame = qint64(f.number);
        if (f.kind != ObservedFrame::VariableRequest)
            return;
        ObservedIdentifier& e = entry(f.identifier);
        if (e.requests++ == 0)
            e.firstRequest = qint64(f.number);
        else if (f.timeUs >= e.lastRequestUs)
            e.intervalUs.add(double(f.timeUs - e.lastRequestUs));
        e.lastRequestUs = f.timeUs;
        if (isPadding(f.identifier)) {
            m_inPadding = true;
            return;
        }
        if (m_inPadding || m_cycle.isEmpty()) {
            const bool afterPadding = m_inPadding;
            closeMicrocycle(f.timeUs);
            m_cycleComplete = afterPadding;
            m_cycleStartUs = f.timeUs;
            m_cycleStartFrame = f.number;
            m_inPadding = false;
        }
        m_cycle.append(f.identifier);
        return;
    }
    case ObservedFrame::VariableReply: {
        if (!m_awaiting || !m_awaitingVariable) {
            m_awaiting = false;
            return;
        }
        m_awaiting = false;
        m_turnaround.add(f.gapUs);
        ObservedIdentifier& e = entry(m_currentId);
        if (e.replies++ == 0)
            e.firstReply = qint64(f.number);
        const int length = f.dataLength - DesignCheckThresholds::ReplyOverheadBytes;
        if (e.firstLength < 0) {
            e.firstLength = e.minLength = e.maxLength = length;
        } else if (length != e.firstLength) {
            if (e.firstOtherLength < 0)
                e.firstOtherLength = qint64(f.number);
            e.minLength = qMin(e.minLength, length);
            e.maxLength = qMax(e.maxLength, length);
        }
        if (f.smMps) {
            if (e.smMpsReplies++ == 0)
                e.firstSmMps = qint64(f.number);
        } else if (e.mpsReplies++ == 0) {
            e.firstMps = qint64(f.number);
        }
        return;
    }
    case ObservedFrame::OtherFrame:
        m_awaiting = false;
        return;
    case ObservedFrame::ErrorFrame:
        // The transaction cannot be followed across a damaged frame.
        m_awaiting = false;
        return;
    }
}

namespace {

bool sameCycle(const QVector<quint16>& a, const QVector<quint16>& b)
{
    return a == b;
}

} // namespace

QVector<QVector<quint16>> BusObservation::macrocycle() const
{
    std::vector<const QVector<quint16>*> list;
    for (const QVector<quint16>& cycle : m_microcycles)
        list.push_back(&cycle);
    if (list.size() > 2) {
        list.erase(list.begin());
        list.pop_back();
    }
    // The shortest period seen at least twice in full.
    const size_t n = list.size();
    for (size_t k = 1; k <= n / 2; ++k) {
        if (!sameCycle(*list[k], *list[0]))
            continue;
        bool repeats = true;
        for (size_t i = k; i < n && repeats; ++i)
            repeats = sameCycle(*list[i], *list[i % k]);
        if (repeats) {
            QVector<QVector<quint16>> result;
            for (size_t i = 0; i < k; ++i)
                result.append(*list[i]);
            return result;
        }
    }
    return {};
}
