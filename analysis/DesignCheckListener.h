#ifndef BX_ANALYSIS_DESIGNCHECKLISTENER_H
#define BX_ANALYSIS_DESIGNCHECKLISTENER_H

#include "capture/decoder/FipDecoderListener.h"

class BusObservation;

/// The design check's stage of the frame path: every decoded frame, whatever the
/// trace keeps of it, goes into the bus observation.
class DesignCheckListener : public FipForwardingListener
{
public:
    DesignCheckListener(BusObservation* bus, FipDecoderListener* next = nullptr);

    void onOstrakSpeed(quint8 code) override;
    void onFrameDone(const FipFrameInfo& frame, TraceRow& row) override;
    void onTrafficInterruption(TraceRow& row) override;

private:
    BusObservation* m_bus;
    double m_tickUs = 0.1; ///< a tenth of the bit time; 1 Mbit/s until told
};

#endif
