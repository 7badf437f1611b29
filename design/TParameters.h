#ifndef BX_DESIGN_TPARAMETERS_H
#define BX_DESIGN_TPARAMETERS_H

#include <QtGlobal>

/// Numeric bus timing rules of the four FIP speeds, each array indexed by speed code
/// (0 31.25 kbit/s, 1 1 Mbit/s, 2 2.5 Mbit/s, 3 5 Mbit/s).
class TParameters
{
public:
    static constexpr int SpeedCount = 4;

    TParameters();

    quint8 silenceParMin[SpeedCount];
    quint8 silenceParMax[SpeedCount];
    quint8 secondParMin[SpeedCount];      // kept for the board configuration, not read by the calculator
    quint8 turnAroundParMin[SpeedCount];
    quint8 turnAroundParMax[SpeedCount];
    quint8 secondParMax[SpeedCount];      // kept for the board configuration, not read by the calculator
    float silenceUnit[SpeedCount];        // µs per silence parameter step
    float turnAroundUnit[SpeedCount];     // bit times per turnaround parameter step
    float bitTime[SpeedCount];            // µs
};

#endif
