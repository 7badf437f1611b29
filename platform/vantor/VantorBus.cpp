#include "VantorBus.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

constexpr quint16 BaStarting = VANTOR_BA_STARTING;
constexpr quint16 BaIdle = VANTOR_BA_IDLE;
constexpr quint16 BaPending = VANTOR_BA_PENDING;
constexpr quint16 BaMacroEnd = VANTOR_BA_MACRO_END;
constexpr quint16 BaSendingIdDat = VANTOR_BA_SENDING_ID_DAT;
constexpr quint16 BaSendingIdMsg = VANTOR_BA_SENDING_ID_MSG;
constexpr quint16 BaTesting = VANTOR_BA_TESTING;
constexpr quint16 BaTestingEnd = VANTOR_BA_TESTING_END;
constexpr quint16 BaWaitingTime = VANTOR_BA_WAITING_TIME;
constexpr quint16 BaWaitingSync = VANTOR_BA_WAITING_SYNC;
constexpr quint16 BaAperVarWindow = VANTOR_BA_APER_VAR_WINDOW;
constexpr quint16 BaAperMsgWindow = VANTOR_BA_APER_MSG_WINDOW;

constexpr size_t MaxEvents = 256;
constexpr size_t MaxIncoming = 64;

bool sameAddresses(const VantorStationFile::Message& m, quint16 destId, quint8 destSeg, quint16 srcId,
                   quint8 srcSeg)
{
    return m.destinationId == destId && m.destinationSegment == destSeg && m.sourceId == srcId
        && m.sourceSegment == srcSeg;
}

} // namespace

qint64 vantorNowNs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}

void vantor_device::postEvent(quint16 code, quint16 param)
{
    if (events.size() >= MaxEvents)
        events.pop_front();
    events.emplace_back(code, param);
}

void vantor_device::log(const QString& call)
{
    if (calls.size() >= 4096)
        calls.removeFirst();
    calls.append(call);
}

quint16 vantor_device::mediumStatus() const
{
    quint16 status = faultBits & 0x3C;
    if (state == State::Running && !pulled) {
        if (channelOn[0])
            status |= 0x01;
        if (channelOn[1])
            status |= 0x02;
    }
    return status;
}

bool VantorPublishedNetwork::scan(Scan* out, quint64* revision) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (revision)
        *revision = m_revision;
    if (m_running && out)
        *out = m_scan;
    return m_running;
}

bool VantorPublishedNetwork::producedValue(quint16 id, QByteArray* data) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_values.constFind(id);
    if (it == m_values.constEnd())
        return false;
    if (data)
        *data = *it;
    return true;
}

bool VantorPublishedNetwork::takeMessage(Message* out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_messages.empty())
        return false;
    if (out)
        *out = m_messages.front();
    m_messages.pop_front();
    return true;
}

void VantorPublishedNetwork::publish(const Scan& scan, const QHash<quint16, QByteArray>& values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_running = true;
    m_scan = scan;
    m_values = values;
    ++m_revision;
}

void VantorPublishedNetwork::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_running)
        return;
    m_running = false;
    m_values.clear();
    m_messages.clear();
    ++m_revision;
}

void VantorPublishedNetwork::setValue(quint16 id, const QByteArray& data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running)
        m_values[id] = data;
}

void VantorPublishedNetwork::pushMessage(const Message& message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_running)
        return;
    if (m_messages.size() >= 64)
        m_messages.pop_front();
    m_messages.push_back(message);
}

VantorBus::VantorBus(quint8 speedCode) : m_speedCode(speedCode & 3)
{
    static const double bitUs[4] = { 32, 1, 0.4, 0.2 };
    m_bitUs = bitUs[speedCode & 3];
}

VantorBus::~VantorBus()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_quit = true;
        m_wake.notify_all();
    }
    if (m_scanThread.joinable())
        m_scanThread.join();
    m_published->stop();
    FipSimulatedNetwork::withdraw(m_published.get());
}

void VantorBus::setNetwork(const VantorSimulator::Network& network)
{
    std::lock_guard<std::mutex> lock(mutex);
    m_network = network;
    if (m_table >= 0)
        republish();
}

void VantorBus::join(vantor_device* board)
{
    if (std::find(m_boards.begin(), m_boards.end(), board) == m_boards.end())
        m_boards.push_back(board);
    if (m_table >= 0)
        republish();
}

void VantorBus::leave(vantor_device* board)
{
    stopArbitrator(board);
    m_boards.erase(std::remove(m_boards.begin(), m_boards.end(), board), m_boards.end());
    if (m_table >= 0)
        republish();
}

void VantorBus::republish()
{
    if (m_arbiters.empty() || m_table < 0) {
        m_published->stop();
        FipSimulatedNetwork::withdraw(m_published.get());
        return;
    }
    const vantor_device* ba = m_arbiters.front();
    FipSimulatedNetwork::Scan scan;
    scan.speedCode = m_speedCode;
    // Elementary cycles end at the waits; a table without one is a single cycle.
    const QVector<VantorStationFile::Instruction> table = ba->config.scanTable(m_table);
    QVector<quint16> order;
    QHash<quint16, int> seen;
    int cycles = 0;
    bool open = false;
    FipMicrocycle micro;
    for (const VantorStationFile::Instruction& ins : table) {
        if (ins.type == QLatin1String("SEND_ID_DAT")) {
            const quint16 id = quint16(ins.value);
            if (!seen.contains(id))
                order.append(id);
            ++seen[id];
            micro.ids.append(id);
            open = true;
        } else if (ins.type == QLatin1String("WAIT_TIME") || ins.type == QLatin1String("WAIT_SYNC")) {
            // A wait ends the elementary cycle: its time counts from the cycle's start.
            micro.us = quint32(ins.value * ba->config.slotUs());
            if (cycles == 0)
                scan.cycleUs = micro.us;
            scan.microcycles.append(micro);
            micro = FipMicrocycle();
            ++cycles;
            open = false;
        }
    }
    if (open)
        scan.microcycles.append(micro);
    if (open || cycles == 0)
        ++cycles;
    scan.paddingId = m_network.paddingId;
    scan.silenceUs = ba->config.silenceUs;
    scan.turnaroundUs = ba->config.turnaroundUs;
    scan.faults = m_network.faults;
    QHash<quint16, QByteArray> values;
    for (quint16 id : order) {
        FipTrafficGenerator::Variable v;
        v.id = id;
        v.length = -1; // nobody answers
        for (const vantor_device* b : m_boards) {
            auto p = b->produced.constFind(id);
            if (b->onBus() && p != b->produced.constEnd()) {
                v.length = p->data.size();
                v.producer = b->config.address();
                values.insert(id, p->data);
                break;
            }
        }
        v.periodCycles = std::max(1, cycles / seen.value(id));
        scan.variables.append(v);
    }
    for (const vantor_device* b : m_boards) {
        if (b->onBus())
            scan.stations.append(b->config.address());
    }
    m_published->publish(scan, values);
    FipSimulatedNetwork::setCurrent(m_published);
}

void VantorBus::startArbitrator(vantor_device* board)
{
    if (std::find(m_arbiters.begin(), m_arbiters.end(), board) == m_arbiters.end()) {
        m_arbiters.push_back(board);
        board->baStatus = m_arbiters.size() == 1 ? BaStarting : BaPending;
    }
    m_wake.notify_all();
}

void VantorBus::stopArbitrator(vantor_device* board)
{
    const bool wasActive = isActiveArbiter(board);
    m_arbiters.erase(std::remove(m_arbiters.begin(), m_arbiters.end(), board), m_arbiters.end());
    board->baStatus = 0;
    if (wasActive)
        board->postEvent(VANTOR_EVT_BA_STOP1, 0);
    if (m_arbiters.empty() && m_table >= 0) {
        m_table = -1; // the capture stops seeing the scan at once
        republish();
    }
    m_wake.notify_all();
}

bool VantorBus::isActiveArbiter(const vantor_device* board) const
{
    return !m_arbiters.empty() && m_arbiters.front() == board;
}

vantor_device* VantorBus::fileReceiver(const vantor_device* except, quint16 destId, quint8 destSeg, quint16 srcId,
                                       quint8 srcSeg) const
{
    for (vantor_device* b : m_boards) {
        if (b == except || !b->onBus())
            continue;
        for (const VantorStationFile::Message& m : b->config.messages()) {
            if (!m.toSend && m.fileTransferEnabled && sameAddresses(m, destId, destSeg, srcId, srcSeg))
                return b;
        }
    }
    return nullptr;
}

void VantorBus::updateScanThread()
{
    std::thread finished;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!m_scanRunning && m_scanThread.joinable())
            finished = std::move(m_scanThread);
        if (!m_arbiters.empty() && !m_scanRunning && !m_quit) {
            m_scanRunning = true;
            m_scanThread = std::thread([this] { scan(); });
        }
    }
    if (finished.joinable())
        finished.join();
}

double VantorBus::frameUs(int bytes) const
{
    // Preamble, delimiters and the silence before the next frame.
    return (bytes * 8 + 44) * m_bitUs;
}

void VantorBus::setStatus(quint16 status)
{
    if (!m_arbiters.empty())
        m_arbiters.front()->baStatus = status;
}

void VantorBus::countFrames(int frames)
{
    for (vantor_device* b : m_boards) {
        if (!b->onBus())
            continue;
        for (int ch = 0; ch < 2; ++ch) {
            if (b->channelOn[ch] && !(b->faultBits & (0x04 << ch)))
                b->counters[ch] = quint16(b->counters[ch] + frames);
        }
    }
}

// Bus time is owed until a millisecond has built up, so short instructions do not
// each cost a sleep. False when the scan must look again at who holds the bus.
bool VantorBus::pause(std::unique_lock<std::mutex>& lock, double us)
{
    m_owedUs += us;
    if (m_owedUs < 1000)
        return true;
    vantor_device* holder = m_arbiters.empty() ? nullptr : m_arbiters.front();
    const auto wait = std::chrono::microseconds(qint64(std::min(m_owedUs, 5e6)));
    m_owedUs = 0;
    return !m_wake.wait_for(lock, wait, [&] {
        return m_quit || m_arbiters.empty() || m_arbiters.front() != holder;
    });
}

void VantorBus::transferVariable(quint16 id)
{
    vantor_device* producer = nullptr;
    for (vantor_device* b : m_boards) {
        if (b->onBus() && b->produced.contains(id)) {
            producer = b;
            break;
        }
    }
    countFrames(producer ? 2 : 1);
    m_owedUs += frameUs(3);
    if (!producer)
        return;
    vantor_device::Produced& p = producer->produced[id];
    m_owedUs += frameUs(p.data.size() + 2);
    const qint64 now = vantorNowNs();
    if (!p.written)
        applyPattern(id, p, now);
    bool refreshed = true;
    if (const VantorStationFile::Variable* v = producer->config.variable(id)) {
        if (v->refreshmentType != 0) {
            const qint64 periodNs = qint64(v->refreshmentPeriod * producer->config.slotUs() * 1000);
            refreshed = p.writtenNs >= 0 && (periodNs == 0 || now - p.writtenNs <= periodNs)
                && (v->refreshmentType != 2 || p.writtenSinceTransfer);
        }
    }
    p.writtenSinceTransfer = false;
    m_published->setValue(id, p.data);
    for (vantor_device* b : m_boards) {
        if (b == producer || !b->onBus())
            continue;
        auto c = b->consumed.find(id);
        if (c == b->consumed.end())
            continue;
        c->data = p.data.left(c->data.size()).leftJustified(c->data.size(), '\0');
        c->receivedNs = now;
        c->refreshed = refreshed;
    }
}

// The value a station's application puts in the first two bytes (little-endian)
// of a variable nobody writes.
void VantorBus::applyPattern(quint16 id, vantor_device::Produced& p, qint64 nowNs)
{
    const VantorSimulator::ValuePattern pattern = m_network.patterns.value(id);
    if (pattern.kind == VantorSimulator::ValuePattern::Static || p.data.isEmpty())
        return;
    const double periodNs = double(pattern.periodMs) * 1e6;
    const double phase = std::fmod(double(nowNs), periodNs) / periodNs;
    const quint64 step = quint64(double(nowNs) / (periodNs / 20));
    quint16 q = 0;
    switch (pattern.kind) {
    case VantorSimulator::ValuePattern::Counter: q = quint16(step); break;
    case VantorSimulator::ValuePattern::Sawtooth: q = quint16(phase * 65535); break;
    case VantorSimulator::ValuePattern::Square: q = phase < 0.5 ? 0 : 0xFFFF; break;
    case VantorSimulator::ValuePattern::Sine: {
        constexpr double TwoPi = 2 * 3.14159265358979323846;
        q = quint16(std::lround(32767.5 + 32767.0 * std::sin(TwoPi * phase)));
        break;
    }
    case VantorSimulator::ValuePattern::RandomWalk: {
        // One step per twentieth of the period, drawn from the step number.
        if (step == p.walkStep) {
            q = p.walk;
            break;
        }
        p.walkStep = step;
        quint32 r = quint32(step * 2654435761u) ^ id;
        r ^= r >> 13;
        r *= 0x5bd1e995u;
        r ^= r >> 15;
        p.walk = quint16(qBound(0, int(p.walk) + int(r % 1025) - 512, 0xFFFF));
        q = p.walk;
        break;
    }
    case VantorSimulator::ValuePattern::Static: break;
    }
    p.data[0] = char(q & 0xFF);
    if (p.data.size() > 1)
        p.data[1] = char(q >> 8);
}

void VantorBus::serveAperiodic()
{
    setStatus(BaAperVarWindow);
    struct Request {
        vantor_device* board;
        quint16 id;
        bool urgent;
    };
    std::vector<Request> requests;
    for (vantor_device* b : m_boards) {
        for (int mode = 1; mode >= 0; --mode) {
            for (quint16 id : b->aperiodic[mode])
                requests.push_back({ b, id, mode == 1 });
            b->aperiodic[mode].clear();
        }
    }
    std::stable_sort(requests.begin(), requests.end(),
                     [](const Request& a, const Request& b) { return a.urgent && !b.urgent; });
    for (const Request& r : requests) {
        transferVariable(r.id);
        r.board->postEvent(r.urgent ? VANTOR_EVT_SEND_APU : VANTOR_EVT_SEND_APN, r.id);
    }
}

void VantorBus::serveMessages(int sourceId)
{
    for (vantor_device* sender : m_boards) {
        for (auto it = sender->outgoing.begin(); it != sender->outgoing.end();) {
            const uchar* m = reinterpret_cast<const uchar*>(it->buffer.constData());
            const quint16 srcId = quint16(m[7] << 8 | m[8]);
            if (sourceId >= 0 && srcId != sourceId) {
                ++it;
                continue;
            }
            const vantor_device::Outgoing out = *it;
            it = sender->outgoing.erase(it);
            m = reinterpret_cast<const uchar*>(out.buffer.constData());
            const quint16 destId = quint16(m[4] << 8 | m[5]);
            const int length = m[2] | m[3] << 8;
            bool delivered = false;
            for (vantor_device* b : m_boards) {
                if (!b->onBus() || b->incoming.size() >= MaxIncoming)
                    continue;
                const bool listens = std::any_of(
                    b->config.messages().cbegin(), b->config.messages().cend(), [&](const VantorStationFile::Message& c) {
                        return !c.toSend && !c.fileTransferEnabled && sameAddresses(c, destId, m[6], srcId, m[9]);
                    });
                if (!listens)
                    continue;
                b->incoming.push_back(out.buffer);
                b->postEvent(VANTOR_EVT_RECEIVE_MSG, quint16(out.channel));
                delivered = true;
            }
            FipSimulatedNetwork::Message seenOnBus;
            seenOnBus.destinationId = destId;
            seenOnBus.destinationSegment = m[6];
            seenOnBus.sourceId = srcId;
            seenOnBus.sourceSegment = m[9];
            seenOnBus.data = out.buffer.mid(10, length);
            seenOnBus.acknowledged = out.acknowledged;
            m_published->pushMessage(seenOnBus);
            countFrames(out.acknowledged ? 3 : 2);
            m_owedUs += frameUs(3) + frameUs(length + 10) + (out.acknowledged ? frameUs(2) : 0);
            sender->postEvent(VANTOR_EVT_SEND_MSG,
                              out.acknowledged && !delivered ? VANTOR_MSG_REPORT_NO_ACK : VANTOR_MSG_REPORT_OK);
        }
    }
}

void VantorBus::scan()
{
    std::unique_lock<std::mutex> lock(mutex);
    vantor_device* holder = nullptr;
    const vantor_device* published = nullptr;
    QVector<VantorStationFile::Instruction> table;
    int pc = 0;
    while (!m_quit && !m_arbiters.empty()) {
        vantor_device* ba = m_arbiters.front();
        if (ba != holder) {
            holder = ba;
            pc = 0;
            ba->postEvent(VANTOR_EVT_BA_ACTIVITY, 0);
            for (size_t i = 1; i < m_arbiters.size(); ++i)
                m_arbiters[i]->baStatus = BaPending;
        }
        if (pc == 0) {
            const int t = ba->macrocycle - 1 < ba->config.scanTableCount() ? ba->macrocycle - 1 : 0;
            table = ba->config.scanTable(t);
            if (t != m_table || ba != published) {
                m_table = t;
                published = ba;
                republish();
            }
        }
        if (table.isEmpty()) {
            if (ba->baStatus != BaIdle)
                ba->postEvent(VANTOR_EVT_BA_IDLE, 0);
            setStatus(BaIdle);
            pause(lock, 10000);
            continue;
        }
        const VantorStationFile::Instruction ins = pc < table.size() ? table[pc] : VantorStationFile::Instruction();
        ++pc;
        const double slotUs = ba->config.slotUs();
        bool holds = true;
        if (ins.type == QLatin1String("SEND_ID_DAT")) {
            setStatus(BaSendingIdDat);
            transferVariable(quint16(ins.value));
            holds = pause(lock, 0);
        } else if (ins.type == QLatin1String("SEND_ID_MSG")) {
            // The identifier polls the messages of its producer only.
            setStatus(BaSendingIdMsg);
            serveMessages(int(ins.value));
            holds = pause(lock, 0);
        } else if (ins.type == QLatin1String("SEND_MSG")) {
            setStatus(BaAperMsgWindow);
            serveMessages();
            holds = pause(lock, ins.value * slotUs);
        } else if (ins.type == QLatin1String("SEND_APER")) {
            serveAperiodic();
            holds = pause(lock, ins.value * slotUs);
        } else if (ins.type == QLatin1String("WAIT_TIME") || ins.type == QLatin1String("WAIT_SYNC")) {
            setStatus(ins.type == QLatin1String("WAIT_TIME") ? BaWaitingTime : BaWaitingSync);
            holds = pause(lock, ins.value * slotUs);
        } else if (ins.type == QLatin1String("TESTP")) {
            setStatus(BaTesting);
            countFrames(2);
            holds = pause(lock, frameUs(3) * 2);
            setStatus(BaTestingEnd);
        } else if (ins.type == QLatin1String("SUSPEND")) {
            ba->postEvent(quint16(VANTOR_EVT_BA_SUSPEND | (ins.value & 0xFF)), quint16(pc - 1));
            holds = pause(lock, ins.delay * slotUs);
        } else if (ins.type.isEmpty() || ins.type == QLatin1String("NEXT_MACRO")) {
            // End of the macrocycle: the stand-in also opens its aperiodic windows
            // here, so tables without them still carry requests and messages.
            serveAperiodic();
            setStatus(BaAperMsgWindow);
            serveMessages();
            setStatus(BaMacroEnd);
            ++m_macrocycles;
            pc = 0;
            holds = pause(lock, std::max(1000.0 - m_owedUs, 0.0) + 1);
        }
        if (!holds)
            holder = nullptr;
    }
    m_table = -1;
    republish();
    m_scanRunning = false;
}
