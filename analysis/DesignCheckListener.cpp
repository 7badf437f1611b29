#include "DesignCheckListener.h"

#include "analysis/designcheck/BusObservation.h"

DesignCheckListener::DesignCheckListener(BusObservation* bus, FipDecoderListener* next)
    : FipForwardingListener(next)
    , m_bus(bus)
{
}

void DesignCheckListener::onOstrakSpeed(quint8 code)
{
    static const double bitTimes[] = { 32.0, 1.0, 0.4, 0.2 };
    if (code < 4)
        m_tickUs = bitTimes[code] / 10.0;
    FipForwardingListener::onOstrakSpeed(code);
}

void DesignCheckListener::onFrameDone(const FipFrameInfo& frame, TraceRow& row)
{
    ObservedFrame o;
    o.number = frame.frameNumber;
    o.timeUs = frame.timestamp;
    o.gapUs = double(frame.ifc) * m_tickUs;
    o.identifier = frame.identifier;
    o.dataLength = frame.size - 3;
    if (!frame.ok || frame.error) {
        o.kind = ObservedFrame::ErrorFrame;
    } else {
        switch (frame.control) {
        case 0x03: o.kind = ObservedFrame::VariableRequest; break;
        case 0x05: case 0x29: case 0x09: o.kind = ObservedFrame::OtherRequest; break;
        case 0x02: case 0x06: case 0x2A: case 0x0A: case 0x2E: case 0x0E:
            o.kind = ObservedFrame::VariableReply;
            o.smMps = frame.size > 1 && frame.data[1] == 0x50;
            break;
        default: o.kind = ObservedFrame::OtherFrame; break;
        }
    }
    m_bus->add(o);
    FipForwardingListener::onFrameDone(frame, row);
}

void DesignCheckListener::onTrafficInterruption(TraceRow& row)
{
    ObservedFrame o;
    o.kind = ObservedFrame::ErrorFrame;
    m_bus->add(o);
    FipForwardingListener::onTrafficInterruption(row);
}
