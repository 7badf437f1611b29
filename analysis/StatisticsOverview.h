#ifndef BX_ANALYSIS_STATISTICSOVERVIEW_H
#define BX_ANALYSIS_STATISTICSOVERVIEW_H

#include <QString>
#include <QtGlobal>

#include <array>
#include <string>

class AnalysisContext;
class FipStreamDecoder;
class TransactionATModel;
struct FipCaptureCounters;
struct StatisticsCounters;
struct StatisticsInfo;

/// The texts the analysis pages show for the figures a capture adds up.
namespace AnalysisTexts {

/// Bit time in µs of a speed code: 32, 1, 0.4, 0.2; 0 when unknown.
double bitTimeMicros(quint8 speedCode);
/// Ticks × tick length as "%4.0f us".
QString transactionDuration(quint64 ticks, double tickMicros);
/// µs since the epoch as "[yyyy-MM-dd] hh:mm:ss.zzz".
QString noRefreshDate(quint64 micros);
/// Fiftieths of a bit time as "%.0f ns"; "-" for 0.
QString maxJitter(quint64 value, quint8 speedCode);
/// Every byte as "%02x ".
QString dataValue(const std::string& bytes);
/// A duration in ms as "%02d:%02d:%02d.%03d".
QString duration(qint64 ms);
/// Ticks × tick length as "%4.2f us".
QString microseconds(quint64 ticks, double tickMicros);
/// A counter with the French digit grouping.
QString counter(quint64 value);

} // namespace AnalysisTexts

/// The statistics tick's work on the analysis context.
namespace StatisticsOverview {

/// The overview's counters from the decoder's.
void collect(const FipCaptureCounters& decoded, StatisticsCounters* counters);

/// Pushes the transaction maps into the tree, in the tick's order; on a glitch
/// tick (every fourth) the last complete glitch window too, then the windows turn.
void pushTransactions(AnalysisContext& context, TransactionATModel& model, quint8 speedCode, double tickMicros,
                      bool glitchTick);

/// Steps 2 to 5 of the tick: duration, cycle times, silence and turn-around.
/// The capture ends at its last frame while data flows, at `nowMs` once it stopped;
/// `microcycleMicros` and `microcycles` come from the macrocycle detection (0 when none);
/// the turn-around uses the counters `collect` filled.
void updateTimes(AnalysisContext& context, const FipStreamDecoder& decoder, qint64 nowMs, double microcycleMicros,
                 int microcycles);

/// The error and frame totals, and the transaction totals of the tree.
void updateTotals(AnalysisContext& context, TransactionATModel& model);

/// Whether a statistics file read into `info` belongs to the capture whose first
/// frame is dated `firstFrameMicros`: that frame falls in its capture time.
bool belongsToCapture(const StatisticsInfo& info, quint64 firstFrameMicros, int rows);

} // namespace StatisticsOverview

/// The five load gauges: how much of the bus time since the previous call went
/// to padding, errors, variables, messages and aperiodic lists.
class NetworkRatio
{
public:
    enum Accumulator { Padding, Errors, Variables, Messages, AperiodicLists, AccumulatorCount };
    using Accumulators = std::array<quint64, AccumulatorCount>;

    struct Rates
    {
        int traffic = 0;   ///< "Macrocycle Load": useful frames against padding
        int errors = 0;
        int variables = 0;
        int messages = 0;
        int aperiodicLists = 0;
    };

    /// The gauges since the previous call; false (nothing to show) when the
    /// frame date did not advance. The values are remembered either way.
    bool update(quint64 frameDate, const Accumulators& accumulators, quint8 speedCode, Rates* rates);

    /// The accumulators of a capture, in tenths of a bit time.
    static Accumulators accumulators(const AnalysisContext& context, const FipCaptureCounters& decoded);

private:
    quint64 m_previousDate = 0;
    Accumulators m_previous {};
};

#endif
