#include "FipTrafficGenerator.h"

#include "FipSimulatedNetwork.h"

#include "FipCrc.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace {

// Bus control bytes used by the simulated arbitrator and producers.
constexpr quint8 kIdDat = 0x03;
constexpr quint8 kIdMsg = 0x05;
constexpr quint8 kIdRq1 = 0x29;
constexpr quint8 kRpDat = 0x02;
constexpr quint8 kRpDatMsg = 0x06;
constexpr quint8 kRpDatRq1 = 0x2A;
constexpr quint8 kRpRq1 = 0x28;
constexpr quint8 kRpMsgNoAck = 0x04;
constexpr quint8 kRpFin = 0x40;
constexpr quint8 kRpMsgAck = 0x14;
constexpr quint8 kRpAck = 0x30;
constexpr quint8 kUnknownControl = 0x7F; // no FIP control has this value

constexpr quint8 kMpsPdu = 0x40;
constexpr quint8 kPresencePdu = 0x50;
constexpr quint8 kMpsStatus = 0x05; // refreshed and significant
constexpr quint16 kPresenceBase = 0x1400;
constexpr quint16 kMessageId = 0x0500;
constexpr int kStations = 8;

// Preamble, start and end delimiters around the frame bytes, in bit times.
constexpr quint32 kDelimiterBits = 24;

// Line turnaround per speed code in bit times (smallest legal parameter × unit).
quint32 turnaroundBits(quint8 speed)
{
    switch (speed) {
    case 0: return 384;
    case 1: return 28;
    case 2: return 13;
    case 3: return 32;
    default: return 28;
    }
}

// Silence (time an arbitrator waits for a reply) per speed code, in bit times.
quint32 defaultSilenceBits(quint8 speed)
{
    switch (speed) {
    case 0: return 1536;
    case 2: return 150;
    case 3: return 300;
    default: return 135;
    }
}

quint32 defaultCycleUs(quint8 speed)
{
    switch (speed) {
    case 0: return 500000;
    case 2: return 10000;
    case 3: return 5000;
    default: return 20000;
    }
}

} // namespace

FipTrafficGenerator::FipTrafficGenerator(quint8 speedCode, quint8 frameType, quint64 startUs)
    : m_speedCode(speedCode <= 3 ? speedCode : 1)
    , m_frameType(frameType == 1 ? 1 : 2)
    , m_startUs(startUs ? startUs : quint64(QDateTime::currentMSecsSinceEpoch()) * 1000)
    , m_variables(defaultVariables())
    , m_cycleUs(defaultCycleUs(m_speedCode))
{
}

QVector<FipTrafficGenerator::Variable> FipTrafficGenerator::defaultVariables()
{
    return {
        { 0x0100, 2, 1 },  { 0x0101, 4, 1 },  { 0x0102, 8, 1 },  { 0x0103, 2, 1 },
        { 0x0110, 16, 2 }, { 0x0111, 6, 2 },  { 0x0112, 32, 2 }, { 0x0120, 12, 4 },
        { 0x0121, 24, 4 }, { 0x0122, 2, 4 },  { 0x0200, 10, 1 }, { 0x0201, 20, 2 },
    };
}

void FipTrafficGenerator::setVariables(const QVector<Variable>& variables)
{
    m_variables = variables;
    m_plan.clear();
    m_planPos = 0;
}

void FipTrafficGenerator::setCycleUs(quint32 us)
{
    m_cycleUs = std::max<quint32>(us, 1);
}

double FipTrafficGenerator::bitTimeUs(quint8 speedCode)
{
    switch (speedCode) {
    case 0: return 32.0;
    case 1: return 1.0;
    case 2: return 0.4;
    case 3: return 0.2;
    default: return 0.0;
    }
}

double FipTrafficGenerator::ticksPerSecond() const
{
    return 1e6 * 10.0 / bitTimeUs(m_speedCode);
}

quint64 FipTrafficGenerator::usToTicks(double us) const
{
    return quint64(std::llround(us * 10.0 / bitTimeUs(m_speedCode)));
}

double FipTrafficGenerator::ticksToUs(quint64 ticks) const
{
    return double(ticks) * bitTimeUs(m_speedCode) / 10.0;
}

QByteArray FipTrafficGenerator::withFcs(const QByteArray& body) const
{
    const quint16 fcs = FipCrc::fcs(reinterpret_cast<const quint8*>(body.constData()), body.size(), m_frameType != 1);
    QByteArray frame = body;
    frame.append(char(fcs >> 8));
    frame.append(char(fcs & 0xFF));
    return frame;
}

void FipTrafficGenerator::skipToTick(quint64 tick)
{
    if (tick > nextFrameTick()) {
        m_nextGap = quint32(std::min<quint64>(tick - m_tick, 0xFFFFFFFFu));
        // The next cycle boundary falls on the first frame after the silence.
        const quint64 cycleTicks = usToTicks(scannedCycleUs());
        const quint64 restart = m_tick + m_nextGap;
        m_cycleStartTick = restart > cycleTicks ? restart - cycleTicks : 0;
        m_plan.clear();
        m_planPos = 0;
    }
}

void FipTrafficGenerator::syncNetwork()
{
    std::shared_ptr<FipSimulatedNetwork> network = m_followNetwork ? FipSimulatedNetwork::current() : nullptr;
    FipSimulatedNetwork::Scan scan;
    quint64 revision = 0;
    if (!network || !network->scan(&scan, &revision)) {
        m_network.reset();
        return;
    }
    if (network != m_network || revision != m_networkRevision) {
        m_networkVariables = scan.variables;
        m_networkStations = scan.stations;
        m_networkCycleUs = std::max<quint32>(scan.cycleUs, 1);
        m_networkMicrocycles = scan.microcycles;
        m_networkPaddingId = scan.paddingId;
        m_networkSilenceUs = scan.silenceUs;
        m_networkTurnaroundUs = scan.turnaroundUs;
        m_networkFaults = scan.faults;
        if (network != m_network || m_microcycle >= m_networkMicrocycles.size())
            m_microcycle = 0;
        m_networkRevision = revision;
        m_presenceStation = 0;
    }
    m_network = std::move(network);
}

const QVector<FipTrafficGenerator::Variable>& FipTrafficGenerator::scanned() const
{
    return m_network ? m_networkVariables : m_variables;
}

quint32 FipTrafficGenerator::scannedCycleUs() const
{
    return m_network ? m_networkCycleUs : m_cycleUs;
}

quint32 FipTrafficGenerator::turnBits() const
{
    if (m_network && m_networkTurnaroundUs > 0)
        return std::max<quint32>(1, quint32(std::lround(m_networkTurnaroundUs / bitTimeUs(m_speedCode))));
    return turnaroundBits(m_speedCode);
}

quint32 FipTrafficGenerator::silenceBits() const
{
    if (m_network && m_networkSilenceUs > 0)
        return std::max<quint32>(1, quint32(std::lround(m_networkSilenceUs / bitTimeUs(m_speedCode))));
    return std::max(defaultSilenceBits(m_speedCode), turnaroundBits(m_speedCode) * 2);
}

const FipTrafficGenerator::Faults& FipTrafficGenerator::faults() const
{
    return m_network ? m_networkFaults : m_faults;
}

double FipTrafficGenerator::draw()
{
    m_faultRandom = m_faultRandom * 1664525u + 1013904223u;
    return double(m_faultRandom >> 8) / double(1u << 24);
}

bool FipTrafficGenerator::stationAway(int station) const
{
    return station >= 0 && station == m_awayStation && m_tick < m_awayUntilTick;
}

QByteArray FipTrafficGenerator::variableData(quint16 id, int length)
{
    QByteArray value;
    if (m_network && m_network->producedValue(id, &value)) {
        value.resize(length); // a shorter value is padded with zeros
        return value;
    }
    // A slowly moving measurement in the first bytes, constant configuration after.
    QByteArray data(length, Qt::Uninitialized);
    const quint64 sample = m_cycle / 4;
    for (int i = 0; i < length; ++i)
        data[i] = char(i < 2 ? (sample >> (8 * i)) + id : (id >> (i % 2 ? 8 : 0)) + i);
    return data;
}

void FipTrafficGenerator::planVariable(quint16 id, int length, quint8 control, int producer)
{
    const quint32 turn = turnBits();
    QByteArray request;
    request.append(char(kIdDat));
    request.append(char(id >> 8));
    request.append(char(id & 0xFF));
    // Nobody on the bus produces it: the arbitrator waits out the silence.
    m_plan.append({ request, turn, false, length < 0 });
    if (length < 0)
        return;

    QByteArray reply;
    reply.append(char(control));
    reply.append(char(kMpsPdu));
    reply.append(char(length + 1));
    reply.append(variableData(id, length));
    reply.append(char(kMpsStatus));
    m_plan.append({ reply, turn, true, false, producer });
}

void FipTrafficGenerator::planAperiodic()
{
    const quint32 turn = turnBits();
    if (m_network) {
        // The network's own messages, as its stations queued them.
        FipSimulatedNetwork::Message m;
        for (int served = 0; served < 4 && m_network->takeMessage(&m); ++served) {
            m_plan.append(
                { QByteArray() + char(kIdMsg) + char(m.sourceId >> 8) + char(m.sourceId & 0xFF), turn, false, false });
            QByteArray message(1, char(m.acknowledged ? kRpMsgAck : kRpMsgNoAck));
            message.append(char(m.destinationSegment));
            message.append(char(m.destinationId >> 8));
            message.append(char(m.destinationId & 0xFF));
            message.append(char(m.sourceSegment));
            message.append(char(m.sourceId >> 8));
            message.append(char(m.sourceId & 0xFF));
            message.append(m.data.left(256));
            m_plan.append({ message, turn, true, false });
            if (m.acknowledged)
                m_plan.append({ QByteArray(1, char(kRpAck)), turn, true, false });
            m_plan.append({ QByteArray(1, char(kRpFin)), turn, true, false });
        }
        m_rqPending = false;
        m_msgPending = false;
        return;
    }
    if (m_rqPending && !m_variables.isEmpty()) {
        const quint16 asker = m_variables.first().id;
        m_plan.append({ QByteArray() + char(kIdRq1) + char(asker >> 8) + char(asker & 0xFF), turn, false, false });
        QByteArray list(1, char(kRpRq1));
        const int count = std::min<int>(2, m_variables.size());
        for (int i = 0; i < count; ++i) {
            const quint16 id = m_variables.at(m_variables.size() - 1 - i).id;
            list.append(char(id >> 8));
            list.append(char(id & 0xFF));
        }
        m_plan.append({ list, turn, true, false });
        for (int i = 0; i < count; ++i) {
            const Variable& v = m_variables.at(m_variables.size() - 1 - i);
            planVariable(v.id, v.length, kRpDat);
        }
    }
    if (m_msgPending) {
        m_plan.append(
            { QByteArray() + char(kIdMsg) + char(kMessageId >> 8) + char(kMessageId & 0xFF), turn, false, false });
        QByteArray message(1, char(kRpMsgNoAck));
        message.append(QByteArray::fromHex("000102")); // destination segment and address
        message.append(QByteArray::fromHex("000105")); // source
        message.append(QByteArray("STATUS") + char(m_cycle & 0xFF));
        m_plan.append({ message, turn, true, false });
        m_plan.append({ QByteArray(1, char(kRpFin)), turn, true, false });
    }
    m_rqPending = false;
    m_msgPending = false;
}

void FipTrafficGenerator::planPresence(quint8 station)
{
    const quint16 presence = quint16(kPresenceBase | station);
    const quint32 turn = turnBits();
    m_plan.append({ QByteArray() + char(kIdDat) + char(presence >> 8) + char(presence & 0xFF), turn, false, false });
    m_plan.append({ QByteArray() + char(kRpDat) + char(kPresencePdu) + char(3) + char(0x80) + char(0x01) + char(0x00),
                    turn, true, false, station });
}

void FipTrafficGenerator::planCycle()
{
    m_plan.clear();
    m_planPos = 0;
    syncNetwork();
    const Faults& f = faults();
    if (f.dropout > 0 && m_tick >= m_awayUntilTick && draw() < f.dropout) {
        // One station leaves the bus for a while: no presence, no replies.
        const int count = m_network ? m_networkStations.size() : kStations;
        if (count > 0) {
            const int pick = int(draw() * count) % count;
            m_awayStation = m_network ? m_networkStations.at(pick) : pick + 1;
            m_awayUntilTick = m_tick + usToTicks(double(f.dropoutMs) * 1000.0);
        }
    }
    if (m_network && !m_networkMicrocycles.isEmpty()) {
        // The scan table as it is: one elementary cycle after the other; the last
        // one of the macrocycle also tests the presence of every station.
        m_microcycle %= m_networkMicrocycles.size();
        const FipMicrocycle& micro = m_networkMicrocycles.at(m_microcycle);
        m_currentCycleUs = micro.us;
        for (quint16 id : micro.ids) {
            auto v = std::find_if(m_networkVariables.cbegin(), m_networkVariables.cend(),
                                  [id](const Variable& x) { return x.id == id; });
            planVariable(id, v == m_networkVariables.cend() ? -1 : v->length, kRpDat,
                         v == m_networkVariables.cend() ? -1 : v->producer);
        }
        if (m_microcycle + 1 == m_networkMicrocycles.size()) {
            for (quint8 station : m_networkStations)
                planPresence(station);
        }
        ++m_microcycle;
        planAperiodic();
        return;
    }
    m_currentCycleUs = scannedCycleUs();
    const QVector<Variable>& variables = scanned();
    const bool aperiodicCycle = m_aperiodicEvery > 0 && m_cycle % quint64(m_aperiodicEvery) == 0;
    bool askedRq = false;
    bool askedMsg = false;
    for (const Variable& v : variables) {
        if (v.periodCycles > 1 && m_cycle % quint64(v.periodCycles) != 0)
            continue;
        quint8 control = kRpDat;
        if (m_network) {
            // Aperiodic traffic comes from the network itself.
        } else if (aperiodicCycle && !askedRq && !variables.isEmpty() && v.id == variables.first().id) {
            control = kRpDatRq1;
            askedRq = true;
        } else if (aperiodicCycle && !askedMsg) {
            control = kRpDatMsg;
            askedMsg = true;
        }
        planVariable(v.id, v.length, control, v.producer);
    }
    // One station's presence variable per cycle, the stations in turn.
    if (m_network && !m_networkStations.isEmpty()) {
        m_presenceStation = quint8(m_presenceStation % m_networkStations.size());
        planPresence(m_networkStations.at(m_presenceStation));
        m_presenceStation = quint8((m_presenceStation + 1) % m_networkStations.size());
    } else {
        planPresence(quint8(m_presenceStation + 1));
        m_presenceStation = quint8((m_presenceStation + 1) % kStations);
    }

    m_rqPending = askedRq;
    m_msgPending = askedMsg;
    planAperiodic();
}

// The rest of a waiting time goes to padding identifiers nobody answers, each
// followed by the silence; false when the next one would overrun the cycle.
bool FipTrafficGenerator::planPadding()
{
    const quint16 id = m_network ? m_networkPaddingId : m_paddingId;
    if (id == 0 || m_currentCycleUs == 0)
        return false;
    const quint64 boundary = m_cycleStartTick + usToTicks(m_currentCycleUs);
    const quint64 length = quint64(5 * 8 + kDelimiterBits) * 10;
    if (m_tick + m_nextGap + length + quint64(silenceBits()) * 10 > boundary)
        return false;
    m_plan.append({ QByteArray() + char(kIdDat) + char(id >> 8) + char(id & 0xFF), 0, false, true });
    return true;
}

FipTrafficGenerator::Error FipTrafficGenerator::takeError()
{
    if (m_pendingError != Error::None) {
        const Error e = m_pendingError;
        m_pendingError = Error::None;
        return e;
    }
    if (m_errorEvery > 0 && (m_number + 1) % quint64(m_errorEvery) == 0) {
        static const Error turns[] = { Error::FcsError,     Error::Glitch,          Error::NoFed,
                                       Error::NoFsd,        Error::CounterOverflow, Error::MissingReply,
                                       Error::UnknownFsd,   Error::UnknownControl,  Error::BadSize };
        const Error e = turns[m_errorTurn];
        m_errorTurn = (m_errorTurn + 1) % int(sizeof(turns) / sizeof(turns[0]));
        return e;
    }
    return Error::None;
}

QByteArray FipTrafficGenerator::faulty(const QByteArray& body, Error error)
{
    QByteArray bytes = body;
    if (error == Error::UnknownControl && !bytes.isEmpty()) {
        bytes[0] = char(kUnknownControl);
    } else if (error == Error::BadSize) {
        // Identifiers and acknowledges have one size only; replies need more than a control byte.
        if (bytes.size() <= 3)
            bytes.append(char(0x00));
        else
            bytes.truncate(1);
    }
    return bytes;
}

FipFrame FipTrafficGenerator::next()
{
    for (;;) {
        if (m_planPos >= m_plan.size() && !planPadding()) {
            // The next cycle starts on its period boundary, or at once when the last one overran.
            const quint64 earliest = m_tick + m_nextGap;
            const quint64 boundary = m_currentCycleUs ? m_cycleStartTick + usToTicks(m_currentCycleUs) : earliest;
            if (m_number > 0 || m_cycle > 0) {
                ++m_cycle;
                m_cycleStartTick = std::max(boundary, earliest);
                m_nextGap = quint32(std::min<quint64>(m_cycleStartTick - m_tick, 0xFFFFFFFFu));
            }
            planCycle();
        }
        const Pending p = m_plan.at(m_planPos++);
        Error error = takeError();
        if (error == Error::MissingReply && !p.reply) {
            // Only a reply can stay away: keep the fault for the next one.
            m_pendingError = error;
            error = Error::None;
        }
        const Faults& faults = this->faults();
        quint32 lateTicks = 0;
        if (error == Error::None && faults.any()) {
            if (p.reply && (stationAway(p.station) || (faults.missingReply > 0 && draw() < faults.missingReply)))
                error = Error::MissingReply;
            else if (faults.fcs > 0 && draw() < faults.fcs)
                error = Error::FcsError;
            else if (faults.glitch > 0 && draw() < faults.glitch)
                error = Error::Glitch;
            else if (p.reply && faults.lateReply > 0 && draw() < faults.lateReply)
                lateTicks = (silenceBits() - turnBits()) * 10 / 2; // late, yet within the silence
        }

        if (error == Error::MissingReply) {
            // The arbitrator waits out the silence, then goes on.
            m_nextGap = silenceBits() * 10;
            continue;
        }

        FipFrame f;
        f.frameType = m_frameType;
        f.speedCode = m_speedCode;
        f.number = m_number++;
        f.bytes = withFcs(faulty(p.body, error));

        // Small turnaround jitter of the producers, a fixed one of the arbitrator.
        m_random = m_random * 1103515245u + 12345u;
        const quint32 jitterTicks = p.reply ? (m_random >> 16) % 8 : 0;
        f.gapTicks = m_nextGap + jitterTicks + lateTicks;
        f.jitter = quint8(jitterTicks);
        f.tick = m_tick + f.gapTicks;
        f.lengthTicks = quint32(f.bytes.size() * 8 + kDelimiterBits) * 10;
        f.timestampUs = m_startUs + quint64(std::llround(ticksToUs(f.tick)));

        switch (error) {
        case Error::FcsError: f.bytes[f.bytes.size() - 1] = char(f.bytes.at(f.bytes.size() - 1) ^ 0x01); break;
        case Error::Glitch: f.status |= 0x0001; ++m_glc; break;
        case Error::NoFsd: f.status |= 0x0002; break;
        case Error::UnknownFsd: f.status |= 0x0004; break;
        case Error::NoFed: f.status |= 0x0008; f.bytes.chop(2); break;
        case Error::CounterOverflow: f.status |= 0x0010; break;
        default: break;
        }
        f.glc = m_glc;
        const quint16 paddingId = m_network ? m_networkPaddingId : m_paddingId;
        if (error == Error::None && p.unanswered && p.body.size() == 3
            && quint16(quint8(p.body[1]) << 8 | quint8(p.body[2])) == paddingId)
            ++m_paddingFrames;

        m_tick = f.tick + f.lengthTicks;
        const Pending* following = m_planPos < m_plan.size() ? &m_plan.at(m_planPos) : nullptr;
        if (p.unanswered)
            m_nextGap = silenceBits() * 10;
        else
            m_nextGap = following ? following->gapBits * 10 : turnBits() * 10;
        return f;
    }
}
