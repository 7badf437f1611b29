#include "analysis/AnalysisContext.h"

#include "capture/decoder/FipControls.h"

namespace {

std::array<qint8, 256> makeControlSlots()
{
    std::array<qint8, 256> slots;
    slots.fill(-1);
    const FipControls::Entry* table = FipControls::table();
    for (int i = 0; i < FipControls::Count; ++i)
        slots[table[i].code] = static_cast<qint8>(i);
    return slots;
}

const std::array<qint8, 256> kControlSlots = makeControlSlots();

} // namespace

QList<QPair<QString, quint64*>> StatisticsCounters::named()
{
    return {
        { QStringLiteral("errorAcqu"), &errorAcqu },
        { QStringLiteral("errorFSD"), &errorFSD },
        { QStringLiteral("errorFED"), &errorFED },
        { QStringLiteral("errorPRE"), &errorPRE },
        { QStringLiteral("errorControl"), &errorControl },
        { QStringLiteral("errorDataSize"), &errorDataSize },
        { QStringLiteral("errorFCS"), &errorFCS },
        { QStringLiteral("errorFIPInterrupt"), &errorFIPInterrupt },
        { QStringLiteral("errorTotal"), &errorTotal },
        { QStringLiteral("idDat"), &idDat },
        { QStringLiteral("idMsg"), &idMsg },
        { QStringLiteral("idRq1"), &idRq1 },
        { QStringLiteral("idRq2"), &idRq2 },
        { QStringLiteral("rpDat"), &rpDat },
        { QStringLiteral("rpDatMsg"), &rpDatMsg },
        { QStringLiteral("rpDatRq1"), &rpDatRq1 },
        { QStringLiteral("rpDatRq2"), &rpDatRq2 },
        { QStringLiteral("rpDatRq1Msg"), &rpDatRq1Msg },
        { QStringLiteral("rpDatRq2Msg"), &rpDatRq2Msg },
        { QStringLiteral("rpMsgAckEven"), &rpMsgAckEven },
        { QStringLiteral("rpMsgAckOdd"), &rpMsgAckOdd },
        { QStringLiteral("rpMsgNoAck"), &rpMsgNoAck },
        { QStringLiteral("rpAckPEven"), &rpAckPEven },
        { QStringLiteral("rpAckPOdd"), &rpAckPOdd },
        { QStringLiteral("rpAckMEven"), &rpAckMEven },
        { QStringLiteral("rpAckMOdd"), &rpAckMOdd },
        { QStringLiteral("rpRq1"), &rpRq1 },
        { QStringLiteral("rpRq2"), &rpRq2 },
        { QStringLiteral("rpFin"), &rpFin },
        { QStringLiteral("padding"), &padding },
        { QStringLiteral("frameTotal"), &frameTotal },
    };
}

void StatisticsCounters::updateTotals()
{
    errorTotal = errorAcqu + errorFSD + errorFED + errorPRE + errorControl + errorDataSize + errorFCS
        + errorFIPInterrupt;
    frameTotal = idDat + idMsg + idRq1 + idRq2 + rpDat + rpDatMsg + rpDatRq1 + rpDatRq2 + rpDatRq1Msg + rpDatRq2Msg
        + rpMsgAckEven + rpMsgAckOdd + rpMsgNoAck + rpAckPEven + rpAckPOdd + rpAckMEven + rpAckMOdd + rpRq1 + rpRq2
        + rpFin + padding;
}

void StatisticsInfo::clear()
{
    for (const auto& field : named())
        *field.second = QStringLiteral("-");
}

QList<QPair<QString, QString*>> StatisticsInfo::named()
{
    return {
        { QStringLiteral("frameType"), &frameType },
        { QStringLiteral("speed"), &speed },
        { QStringLiteral("startTime"), &startTime },
        { QStringLiteral("endTime"), &endTime },
        { QStringLiteral("duration"), &duration },
        { QStringLiteral("microcycleTime"), &microcycleTime },
        { QStringLiteral("macrocycleTime"), &macrocycleTime },
        { QStringLiteral("silenceTime"), &silenceTime },
        { QStringLiteral("turnAroundTime"), &turnAroundTime },
    };
}

AnalysisContext::AnalysisContext()
    : m_identifierSlots(65536, -1)
{
}

void AnalysisContext::reset()
{
    std::fill(m_identifierSlots.begin(), m_identifierSlots.end(), -1);
    m_identifiers.clear();
    m_pairs.clear();
    silenceCount = silenceSum = turnAroundSum = averageSilence = averageTurnAround = 0;
    variableReplyTime = messageReplyTime = aperiodicReplyTime = 0;
    macrocycleConsistent = true;
    counters = StatisticsCounters();
    info.clear();
    totals = TransactionTotals();
}

int AnalysisContext::controlSlot(quint8 control)
{
    return kControlSlots[control];
}

IdentifierStats& AnalysisContext::identifier(quint16 identifier)
{
    qint32& slot = m_identifierSlots[identifier];
    if (slot < 0) {
        slot = static_cast<qint32>(m_identifiers.size());
        m_identifiers.emplace_back();
    }
    return m_identifiers[static_cast<size_t>(slot)];
}

const IdentifierStats* AnalysisContext::findIdentifier(quint16 identifier) const
{
    const qint32 slot = m_identifierSlots[identifier];
    return slot < 0 ? nullptr : &m_identifiers[static_cast<size_t>(slot)];
}

TransactionStats& AnalysisContext::pair(quint16 identifier, quint8 control)
{
    const int controlIndex = controlSlot(control);
    if (controlIndex < 0) {
        // Not one of the twenty: counted nowhere, so nothing shows it.
        m_scratch = TransactionStats();
        return m_scratch;
    }
    IdentifierStats& entry = this->identifier(identifier);
    qint32& slot = entry.pairs[static_cast<size_t>(controlIndex)];
    if (slot < 0) {
        slot = static_cast<qint32>(m_pairs.size());
        m_pairs.emplace_back();
        m_pairs.back().identifier = identifier;
        m_pairs.back().control = control;
    }
    return m_pairs[static_cast<size_t>(slot)];
}

const TransactionStats* AnalysisContext::findPair(quint16 identifier, quint8 control) const
{
    const int controlIndex = controlSlot(control);
    const IdentifierStats* entry = findIdentifier(identifier);
    if (controlIndex < 0 || entry == nullptr)
        return nullptr;
    const qint32 slot = entry->pairs[static_cast<size_t>(controlIndex)];
    return slot < 0 ? nullptr : &m_pairs[static_cast<size_t>(slot)];
}
