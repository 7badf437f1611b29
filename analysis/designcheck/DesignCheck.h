#ifndef BX_DESIGNCHECK_DESIGNCHECK_H
#define BX_DESIGNCHECK_DESIGNCHECK_H

#include "BusObservation.h"
#include "DesignCheckTypes.h"

/// Compares what a capture measured with what the project designed: the
/// macrocycle and microcycle of the running scan table, refresh periods and
/// jitter, reply lengths and PDUs, missing replies, identifiers and stations the
/// design does not know, stations that never answer, turnaround and silence.
namespace DesignCheck {

/// Every finding of one capture against one design, errors first.
CheckReport run(const DesignedNetwork& design, const BusObservation& bus);

/// The scan table whose identifiers the bus requests most: the one running.
/// -1 when the design has none.
int runningScanTable(const DesignedNetwork& design, const BusObservation& bus);

/// "12.5 µs", "5.000 ms", "1.250 s".
QString timeText(double us);

} // namespace DesignCheck

#endif
