#include "OstrakPacketSource.h"

#include "FipRecordEncoder.h"

#include <QFile>

#include <algorithm>

namespace {

// Largest raw file a replay loads.
constexpr qint64 kReplayMaxBytes = 256LL * 1024 * 1024;

} // namespace

OstrakPacketSource::OstrakPacketSource(const Settings& settings)
    : m_settings(settings)
    , m_flowType(settings.flowType == 2 ? 2 : 1)
    , m_speedCode(settings.speedCode)
{
    m_settings.framesPerPacket = std::clamp(m_settings.framesPerPacket, 1, kMaxFramesPerPacket);
    if (m_settings.replayPath.isEmpty()) {
        m_generator.reset(new FipTrafficGenerator(settings.speedCode, settings.frameType, settings.startUs));
        if (!settings.variables.isEmpty())
            m_generator->setVariables(settings.variables);
        if (settings.cycleUs)
            m_generator->setCycleUs(settings.cycleUs);
        m_generator->setErrorEvery(settings.errorEvery);
    }
}

OstrakPacketSource::~OstrakPacketSource() = default;

bool OstrakPacketSource::open(QString* error)
{
    if (m_generator)
        return true;
    QFile file(m_settings.replayPath);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.size() > kReplayMaxBytes) {
        if (error)
            *error = QStringLiteral("file larger than %1 bytes").arg(kReplayMaxBytes);
        return false;
    }
    m_replay = file.readAll();
    if (m_replay.isEmpty() || (m_replay.at(0) != 1 && m_replay.at(0) != 2)) {
        if (error)
            *error = QStringLiteral("not a raw capture file (flow byte 1 or 2 expected)");
        return false;
    }
    m_flowType = m_replay.at(0);
    m_replayPos = 1;
    if (m_flowType == 1) {
        if (m_replay.size() < 2) {
            if (error)
                *error = QStringLiteral("speed code missing");
            return false;
        }
        m_speedCode = quint8(m_replay.at(1));
        m_replayPos = 2;
    }
    return true;
}

bool OstrakPacketSource::nextRecord(QByteArray* record, quint64* busUs)
{
    if (m_settings.frames > 0 && m_framesMade >= m_settings.frames)
        return false;
    if (m_generator) {
        const FipFrame f = m_generator->next();
        if (!m_firstTickSet) {
            m_firstTick = f.tick;
            m_firstTickSet = true;
        }
        *busUs = quint64(m_generator->ticksToUs(f.tick - m_firstTick));
        record->append(m_flowType == 2 ? FipRecordEncoder::ospRecord(f) : FipRecordEncoder::tlvRecord(f));
        ++m_framesMade;
        return true;
    }
    // Raw file: TLV records (0xC0, 2-byte length, value) or Osp records (tag, size with header).
    const int left = m_replay.size() - m_replayPos;
    if (left < 3)
        return false;
    const char* p = m_replay.constData() + m_replayPos;
    const int size = int(FipRecordEncoder::readBigEndian(p + 1, 2));
    int take = m_flowType == 2 ? size : size + 3;
    if (m_flowType == 2 && (quint8(p[0]) != 0xC0 && quint8(p[0]) != 0xC1))
        take = 3; // other tags are three bytes long for the reader
    take = std::max(take, 3);
    if (take > left)
        return false;
    record->append(p, take);
    m_replayPos += take;
    *busUs = 0;
    ++m_framesMade;
    return true;
}

bool OstrakPacketSource::next(QByteArray* packet, int* frames, quint64* busUs)
{
    // An event packet carries at most 65535 data bytes.
    const int limit = m_flowType == 1 ? 0xFFFF : 0x7FFFFFFF - 16;
    m_records.resize(0);
    int count = 0;
    quint64 us = 0;
    while (count < m_settings.framesPerPacket) {
        if (m_pending.isEmpty() && !nextRecord(&m_pending, &us))
            break;
        if (m_pending.size() > limit) {
            m_pending.resize(0); // a record no packet can carry
            continue;
        }
        if (m_records.size() + m_pending.size() > limit)
            break;
        m_records.append(m_pending);
        m_pending.resize(0);
        ++count;
    }
    if (count == 0)
        return false;
    if (m_flowType == 2) {
        *packet = FipRecordEncoder::ospPacket(m_packets + 1, quint32(count), m_records);
    } else {
        const bool trailer = m_settings.trailerEvery > 0 && (m_packets % quint64(m_settings.trailerEvery)) == 1;
        *packet = FipRecordEncoder::eventRecord(quint8(m_packets), FipRecordEncoder::kFrameRecordsEvent, m_records,
                                                trailer, quint16(0xBEEF),
                                                FipRecordEncoder::eventSpeedByte(m_speedCode));
    }
    ++m_packets;
    if (frames)
        *frames = count;
    if (busUs)
        *busUs = us;
    return true;
}
