#include "capture/decoder/FipDecoderListener.h"

#include <QCoreApplication>

FipDecoderListener::~FipDecoderListener() = default;

void FipDecoderListener::onOstrakSpeed(quint8) {}
void FipDecoderListener::onAbsoluteCounterAnchor(quint64) {}
void FipDecoderListener::onIdentifierFrame(const FipFrameInfo&) {}
void FipDecoderListener::onReplyFrame(const FipFrameInfo&, TraceRow&) {}
void FipDecoderListener::onFrameWithoutError(const FipFrameInfo&) {}
void FipDecoderListener::onFrameDone(const FipFrameInfo&, TraceRow&) {}
void FipDecoderListener::onTrafficInterruption(TraceRow&) {}

void FipDecoderListener::onProcessEvents(qint64, qint64)
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents();
}

FipForwardingListener::FipForwardingListener(FipDecoderListener* next)
    : m_next(next ? next : &m_none)
{
}

void FipForwardingListener::onOstrakSpeed(quint8 code) { m_next->onOstrakSpeed(code); }
void FipForwardingListener::onAbsoluteCounterAnchor(quint64 micros) { m_next->onAbsoluteCounterAnchor(micros); }
void FipForwardingListener::onIdentifierFrame(const FipFrameInfo& frame) { m_next->onIdentifierFrame(frame); }
void FipForwardingListener::onReplyFrame(const FipFrameInfo& frame, TraceRow& row) { m_next->onReplyFrame(frame, row); }
void FipForwardingListener::onFrameWithoutError(const FipFrameInfo& frame) { m_next->onFrameWithoutError(frame); }
void FipForwardingListener::onFrameDone(const FipFrameInfo& frame, TraceRow& row) { m_next->onFrameDone(frame, row); }
void FipForwardingListener::onTrafficInterruption(TraceRow& row) { m_next->onTrafficInterruption(row); }
void FipForwardingListener::onProcessEvents(qint64 position, qint64 size) { m_next->onProcessEvents(position, size); }

FipRawSink::~FipRawSink() = default;
