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

FipRawSink::~FipRawSink() = default;
