#include "capture/files/RawTraceConversion.h"

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/CaptureFileMessages.h"

RawTraceConversion::~RawTraceConversion()
{
    close();
}

RawTraceConversion::Result RawTraceConversion::openSource(const QString& rawPath)
{
    close();
    // A raw file still being recorded would convert only in part.
    if (!m_lock.lock(rawPath) && m_lock.heldByOther())
        return SourceInUse;
    m_source.setFileName(rawPath);
    if (!m_source.open(QIODevice::ReadOnly)) {
        m_lock.unlock();
        return SourceOpenFailed;
    }
    m_size = m_source.size();
    if (m_size > 0) {
        m_data = m_source.map(0, m_size);
        if (m_data == nullptr) {
            m_copy = m_source.readAll();
            if (m_copy.size() != m_size) {
                close();
                return SourceOpenFailed;
            }
            m_data = reinterpret_cast<const uchar*>(m_copy.constData());
        }
    }
    return Ok;
}

RawTraceConversion::Result RawTraceConversion::parseHeader(const uchar* data, qint64 size, int* flow,
                                                           quint8* speed, qint64* bodyStart)
{
    *flow = 0;
    *speed = 255;
    *bodyStart = 0;
    if (data == nullptr || size < 1)
        return InvalidVersion;
    if (data[0] == FipStreamDecoder::FlowEvents) {
        if (size < 2 || !FipStreamDecoder::isValidSpeed(data[1]))
            return InvalidSpeed;
        *speed = data[1];
        *bodyStart = 2;
    } else if (data[0] == FipStreamDecoder::FlowOsp) {
        *bodyStart = 1;
    } else {
        return InvalidVersion;
    }
    *flow = data[0];
    return Ok;
}

qint64 RawTraceConversion::decodeBody(FipStreamDecoder& decoder, int flow, quint8 speed, const uchar* body,
                                      qint64 size, bool* stop)
{
    if (stop == nullptr || (flow != FipStreamDecoder::FlowEvents && flow != FipStreamDecoder::FlowOsp))
        return 0;
    decoder.beginReplay(flow, speed);
    *stop = false;
    if (flow == FipStreamDecoder::FlowEvents)
        return decoder.treatTlvFipStream(body, size, stop, true);
    return decoder.treatOspEvtStream(body, size, stop, true);
}

RawTraceConversion::Result RawTraceConversion::readHeader()
{
    return parseHeader(m_data, m_size, &m_flow, &m_speed, &m_bodyStart);
}

qint64 RawTraceConversion::decode(FipStreamDecoder& decoder, bool* stop)
{
    if (m_flow == 0)
        return 0;
    return decodeBody(decoder, m_flow, m_speed, m_data + m_bodyStart, m_size - m_bodyStart, stop);
}

void RawTraceConversion::close()
{
    if (m_data != nullptr && m_copy.isEmpty())
        m_source.unmap(const_cast<uchar*>(m_data));
    m_data = nullptr;
    m_copy.clear();
    m_size = 0;
    m_bodyStart = 0;
    m_flow = 0;
    if (m_source.isOpen())
        m_source.close();
    m_lock.unlock();
}

QString RawTraceConversion::message(Result result, const QString& path)
{
    switch (result) {
    case Ok: return QString();
    case SourceOpenFailed: return CaptureFileMessages::cannotOpenSource();
    case SourceInUse: return CaptureFileMessages::backupInUse(path);
    case InvalidVersion: return CaptureFileMessages::invalidVersion();
    case InvalidSpeed: return CaptureFileMessages::invalidSpeed();
    }
    return QString();
}
