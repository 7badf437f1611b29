// A capture of the simulated bus running a design's scan table: the traffic
// generator the simulated card and boards share, fed the scan the boards would
// publish for the design, its frames measured as the capture would.
#ifndef BX_TESTS_DESIGNCHECK_SIMULATEDCAPTURE_H
#define BX_TESTS_DESIGNCHECK_SIMULATEDCAPTURE_H

#include "FipSimulatedNetwork.h"
#include "FipTrafficGenerator.h"
#include "designcheck/BusObservation.h"
#include "designcheck/DesignCheck.h"

#include <QHash>

#include <algorithm>
#include <functional>

class DesignedBus : public FipSimulatedNetwork
{
public:
    DesignedBus(const DesignedNetwork& design, quint8 speed)
    {
        m_scan.speedCode = speed;
        m_scan.silenceUs = design.silenceUs;
        m_scan.turnaroundUs = design.turnaroundUs;
        if (design.scanTables.isEmpty())
            return;
        const DesignedScanTable& table = design.scanTables.first();
        m_scan.cycleUs = quint32(table.microcycleMs * 1000.0);
        QHash<quint16, int> seen;
        QVector<quint16> order;
        for (const QVector<quint16>& cycle : table.microcycles)
            for (quint16 id : cycle)
                if (seen[id]++ == 0)
                    order.append(id);
        for (quint16 id : order) {
            FipTrafficGenerator::Variable v;
            v.id = id;
            for (const DesignedVariable& d : design.variables)
                if (d.id == id)
                    v.length = d.length;
            v.periodCycles = std::max(1, int(table.microcycles.size()) / seen.value(id));
            m_scan.variables.append(v);
        }
        for (const QVector<quint16>& cycle : table.microcycles)
            m_scan.microcycles.append({ cycle, m_scan.cycleUs });
        for (const DesignedStation& s : design.stations)
            m_scan.stations.append(quint8(s.address));
    }
    bool scan(Scan* out, quint64* revision) const override
    {
        *out = m_scan;
        *revision = 1;
        return true;
    }
    bool producedValue(quint16, QByteArray*) const override { return false; }

private:
    Scan m_scan;
};

/// Measures `frames` frames of the bus; `beforeFrame` may inject faults.
inline void captureSimulatedBus(const DesignedNetwork& design, quint8 speed, int frames, BusObservation* bus,
                                const std::function<void(FipTrafficGenerator&, int)>& beforeFrame = {})
{
    auto network = std::make_shared<DesignedBus>(design, speed);
    FipSimulatedNetwork::setCurrent(network);
    FipTrafficGenerator generator(speed, 2, 1700000000000000ull);
    // The simulated bus pads its elementary cycles as a real one does.
    bus->setPadding(true, FipTrafficGenerator::kDefaultPaddingId);
    const double tickUs = FipTrafficGenerator::bitTimeUs(speed) / 10.0;
    quint16 current = 0;
    for (int n = 0; n < frames; ++n) {
        if (beforeFrame)
            beforeFrame(generator, n);
        const FipFrame f = generator.next();
        const quint8 control = quint8(f.bytes.at(0));
        ObservedFrame o;
        o.number = f.number + 1;
        o.timeUs = f.timestampUs;
        o.gapUs = f.gapTicks * tickUs;
        o.dataLength = f.bytes.size() - 3;
        switch (control) {
        case 0x03: o.kind = ObservedFrame::VariableRequest; break;
        case 0x05: case 0x29: case 0x09: o.kind = ObservedFrame::OtherRequest; break;
        case 0x02: case 0x06: case 0x2A: case 0x0A: case 0x2E: case 0x0E: o.kind = ObservedFrame::VariableReply; break;
        default: o.kind = ObservedFrame::OtherFrame; break;
        }
        if (o.kind == ObservedFrame::VariableRequest || o.kind == ObservedFrame::OtherRequest)
            current = quint16(quint8(f.bytes.at(1)) << 8 | quint8(f.bytes.at(2)));
        o.identifier = current;
        o.smMps = o.kind == ObservedFrame::VariableReply && f.bytes.size() > 1 && quint8(f.bytes.at(1)) == 0x50;
        bus->add(o);
    }
    FipSimulatedNetwork::withdraw(network.get());
}

#endif
