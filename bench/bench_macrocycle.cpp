// Identifiers per second through treatMacrocycle: a 40-variable scan table over
// four microcycles with presence padding, evaluated every two seconds of bus time.

#include "analysis/AnalysisContext.h"
#include "analysis/MacrocycleAnalysis.h"
#include "capture/decoder/FipCaptureCounters.h"

#include <QElapsedTimer>

#include <cstdio>
#include <vector>

int main()
{
    // The stream of one macrocycle: microcycle n holds the variables whose period divides n.
    std::vector<quint16> stream;
    for (int cycle = 0; cycle < 4; ++cycle) {
        for (int v = 0; v < 40; ++v) {
            const int period = 1 << (v % 3);
            if (cycle % period == 0)
                stream.push_back(quint16(0x0100 + v));
        }
        stream.push_back(quint16(0x1400 + cycle + 1)); // presence poll: the padding
    }

    AnalysisContext context;
    FipCaptureCounters counters;
    MacrocycleAnalysis analysis(&context);
    analysis.setPaddingRule(false, 0);
    analysis.setErrorCounters(&counters);
    analysis.setSamplingPeriodMs(2000);

    const quint64 total = 50000000;
    quint64 dateUs = 1700000000000000ULL;
    QElapsedTimer timer;
    timer.start();
    size_t position = 0;
    for (quint64 i = 0; i < total; ++i) {
        analysis.treatMacrocycle(stream[position], dateUs);
        dateUs += 100; // 10,000 identifiers per second of bus time
        if (++position == stream.size())
            position = 0;
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("macrocycle treatMacrocycle: %.0f identifiers/s\n", double(total) / seconds);
    std::printf("macrocycle evaluations: %llu\n", static_cast<unsigned long long>(analysis.evaluations()));
    return analysis.macrocycle().size() == 4 ? 0 : 1;
}
