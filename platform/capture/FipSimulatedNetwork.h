#pragma once

#include "FipTrafficGenerator.h"

#include <QByteArray>
#include <QVector>

#include <memory>

/// A simulated network that the simulated capture card and capture server listen
/// to: the simulated arbitrator boards publish theirs while an arbitrator scans,
/// so a capture shows the scan table the network runs and the values its
/// producers write. One per process; thread-safe.
class FipSimulatedNetwork
{
public:
    struct Scan {
        quint8 speedCode = 1;
        quint32 cycleUs = 20000;                        ///< elementary cycle
        QVector<FipTrafficGenerator::Variable> variables; ///< in scan order
        QVector<quint8> stations;                       ///< addresses whose presence is polled
        /// The scan table's elementary cycles in order; when given they are sent as
        /// they are, each padded to its length, instead of `variables` by period.
        QVector<FipMicrocycle> microcycles;
        quint16 paddingId = FipTrafficGenerator::kDefaultPaddingId; ///< 0: no padding
        double silenceUs = 0;    ///< 0: the speed's usual value
        double turnaroundUs = 0; ///< 0: the speed's usual value
        FipTrafficGenerator::Faults faults;
    };
    /// A message queued on one of the network's stations.
    struct Message {
        quint16 sourceId = 0;
        quint8 sourceSegment = 0;
        quint16 destinationId = 0;
        quint8 destinationSegment = 0;
        QByteArray data;
        bool acknowledged = false;
    };

    virtual ~FipSimulatedNetwork();

    /// The scan the bus arbitrator runs now; false while none runs. `revision`
    /// changes whenever the scan does.
    virtual bool scan(Scan* out, quint64* revision) const = 0;
    /// The value the producer of `id` last wrote; false when nobody produces it.
    virtual bool producedValue(quint16 id, QByteArray* data) const = 0;
    /// The next message the network carries, if any; default none.
    virtual bool takeMessage(Message* out);

    static void setCurrent(const std::shared_ptr<FipSimulatedNetwork>& network);
    /// Clears the current network only when it is still `network`.
    static void withdraw(const FipSimulatedNetwork* network);
    static std::shared_ptr<FipSimulatedNetwork> current();
};
