#include "analysis/StatisticsOverview.h"

#include "analysis/AnalysisContext.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipCaptureCounters.h"
#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipStreamDecoder.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

using namespace FipControls;

namespace AnalysisTexts {

double bitTimeMicros(quint8 speedCode)
{
    // The decoder's tick is a tenth of a bit time, counted in hundredths of a µs.
    return FipStreamDecoder::tickCentiMicros(speedCode) / 10.0;
}

QString transactionDuration(quint64 ticks, double tickMicros)
{
    return QString::asprintf("%4.0f us", double(ticks) * tickMicros);
}

QString noRefreshDate(quint64 micros)
{
    const qint64 ms = static_cast<qint64>((micros + 500) / 1000);
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("[yyyy-MM-dd] hh:mm:ss.zzz"));
}

QString maxJitter(quint64 value, quint8 speedCode)
{
    if (value == 0)
        return QStringLiteral("-");
    return QString::asprintf("%.0f ns", double(value) * (bitTimeMicros(speedCode) / 50.0) * 1000.0);
}

QString dataValue(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    QString text(int(bytes.size()) * 3, Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<quint8>(c);
        *out++ = QLatin1Char(digits[b >> 4]);
        *out++ = QLatin1Char(digits[b & 0x0F]);
        *out++ = QLatin1Char(' ');
    }
    return text;
}

QString duration(qint64 ms)
{
    if (ms < 0)
        ms = 0;
    const qint64 micros = ms * 1000;
    const qint64 hours = micros / 3600000000LL;
    const qint64 minutes = (micros % 3600000000LL) / 60000000LL;
    const qint64 seconds = (micros % 60000000LL) / 1000000LL;
    const qint64 millis = (micros % 1000000LL) / 1000LL;
    return QString::asprintf("%02lld:%02lld:%02lld.%03lld", hours, minutes, seconds, millis);
}

QString microseconds(quint64 ticks, double tickMicros)
{
    return QString::asprintf("%4.2f us", double(ticks) * tickMicros);
}

QString counter(quint64 value)
{
    static const QLocale french(QLocale::French, QLocale::France);
    return french.toString(value);
}

} // namespace AnalysisTexts

namespace StatisticsOverview {

void collect(const FipCaptureCounters& decoded, StatisticsCounters* counters)
{
    StatisticsCounters& c = *counters;
    c.errorAcqu = decoded.lostPackets + decoded.fifoOverflows + decoded.streamErrors();
    c.errorFSD = decoded.fsdErrors;
    c.errorFED = decoded.noFedErrors;
    c.errorPRE = decoded.preGlitches;
    c.errorControl = decoded.unknownControls;
    c.errorDataSize = decoded.invalidDataSizes;
    c.errorFCS = decoded.fcsErrors;
    c.errorFIPInterrupt = decoded.trafficInterruptions;

    // Padding transactions count once, as padding, so the total is the frames seen.
    const auto frames = [&decoded](quint8 code) {
        return decoded.perControl[code] - decoded.paddingPerControl[code];
    };
    c.idDat = frames(ID_DAT);
    c.idMsg = frames(ID_MSG);
    c.idRq1 = frames(ID_RQ1);
    c.idRq2 = frames(ID_RQ2);
    c.rpDat = frames(RP_DAT);
    c.rpDatMsg = frames(RP_DAT_MSG);
    c.rpDatRq1 = frames(RP_DAT_RQ1);
    c.rpDatRq2 = frames(RP_DAT_RQ2);
    c.rpDatRq1Msg = frames(RP_DAT_RQ1_MSG);
    c.rpDatRq2Msg = frames(RP_DAT_RQ2_MSG);
    c.rpMsgAckEven = frames(RP_MSG_ACKe);
    c.rpMsgAckOdd = frames(RP_MSG_ACKo);
    c.rpMsgNoAck = frames(RP_MSG_NOACK);
    c.rpAckPEven = frames(RP_ACKpe);
    c.rpAckPOdd = frames(RP_ACKpo);
    c.rpAckMEven = frames(RP_ACKme);
    c.rpAckMOdd = frames(RP_ACKmo);
    c.rpRq1 = frames(RP_RQ1);
    c.rpRq2 = frames(RP_RQ2);
    c.rpFin = frames(RP_FIN);
    c.padding = decoded.paddingFrames;
    c.updateTotals();
}

void pushTransactions(AnalysisContext& context, TransactionATModel& model, quint8 speedCode, double tickMicros,
                      bool glitchTick)
{
    using T = TransactionStats;
    std::vector<T>& pairs = context.pairs();
    const auto each = [&pairs](quint16 field, auto&& push) {
        for (const T& p : pairs) {
            if (p.fields & field)
                push(p);
        }
    };
    each(T::HasOccurrences, [&](const T& p) { model.setRequestReplyCounter(p.identifier, p.control, p.occurrences); });
    each(T::HasNoReply, [&](const T& p) { model.setNoReplyCounter(p.identifier, p.control, p.noReply); });
    each(T::HasNoAck, [&](const T& p) { model.setNoAckCounter(p.identifier, p.control, p.noAck); });
    each(T::HasDuration, [&](const T& p) {
        model.setTransactionDurationStr(p.identifier, p.control,
                                        AnalysisTexts::transactionDuration(p.durationTicks, tickMicros));
    });
    each(T::HasNoRefresh, [&](const T& p) { model.setNoRefreshCounter(p.identifier, p.control, p.noRefresh); });
    each(T::HasDataChanges, [&](const T& p) { model.setDataChangesCounter(p.identifier, p.control, p.dataChanges); });
    each(T::HasDataValue, [&](const T& p) {
        model.setDataValueStr(p.identifier, p.control, AnalysisTexts::dataValue(p.data));
    });
    each(T::HasDataChanges, [&](const T& p) { model.setDataLength(p.identifier, p.control, p.dataLength); });
    each(T::HasNoRefreshDate, [&](const T& p) {
        model.setNoRefreshDateStr(p.identifier, p.control, AnalysisTexts::noRefreshDate(p.noRefreshDate));
    });
    each(T::HasRefreshState, [&](const T& p) {
        model.setRefreshStateStr(p.identifier, p.control,
                                 p.refreshState ? QStringLiteral("true") : QStringLiteral("false"));
    });
    if (glitchTick) {
        each(T::HasGlitches, [&](const T& p) { model.setGlitchesCounter(p.identifier, p.control, p.glitchClosed); });
        for (T& p : pairs) {
            p.glitchClosed = p.glitchOpen;
            p.glitchOpen = 0;
        }
    }
    each(T::HasJitter, [&](const T& p) {
        model.setJitterMaxDurationStr(p.identifier, p.control, AnalysisTexts::maxJitter(p.maxJitter, speedCode));
    });
}

void updateTimes(AnalysisContext& context, const FipStreamDecoder& decoder, qint64 nowMs, double microcycleMicros,
                 int microcycles)
{
    const FipDecoderState& state = decoder.state();
    StatisticsInfo& info = context.info;
    const double tick = state.tickDuration();
    if (!state.frameTypeText.isEmpty() && state.captureStartMs != 0)
        info.frameType = state.frameTypeText;
    if (FipStreamDecoder::isValidSpeed(state.speedCode))
        info.speed = state.speedText;
    if (state.captureStartMs != 0)
        info.startTime = state.captureStartText;

    if (state.timestamp != 0 && state.captureStartMs != 0) {
        const qint64 endMs = state.dataFlowing ? static_cast<qint64>((state.timestamp + 500) / 1000) : nowMs;
        info.endTime = QDateTime::fromMSecsSinceEpoch(endMs).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
        info.duration = AnalysisTexts::duration(endMs - state.captureStartMs);
    }
    if (microcycleMicros > 0 && microcycles > 0) {
        info.microcycleTime = QString::asprintf("%d ms", int(std::lround(microcycleMicros / 1000.0)));
        info.macrocycleTime = QString::asprintf("%d ms", int(std::lround(microcycles * microcycleMicros / 1000.0)));
    }
    if (context.silenceCount != 0) {
        context.averageSilence = context.silenceSum / context.silenceCount;
        info.silenceTime = AnalysisTexts::microseconds(context.averageSilence, tick);
    }
    // The turn-around sum over the RP_DAT counter, as the statistics page counts it.
    const quint64 variableReplies = context.counters.rpDat;
    if (context.turnAroundSum != 0 && variableReplies != 0) {
        context.averageTurnAround = context.turnAroundSum / variableReplies;
        info.turnAroundTime = AnalysisTexts::microseconds(context.averageTurnAround, tick);
    }
}

void updateTotals(AnalysisContext& context, TransactionATModel& model)
{
    context.counters.updateTotals();
    TransactionTotals& t = context.totals;
    model.getTransactionCounters(&t.varOk, &t.varLostReply, &t.varNeverReply, &t.msgOk, &t.msgNok);
}

bool belongsToCapture(const StatisticsInfo& info, quint64 firstFrameMicros, int rows)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz");
    const QDateTime start = QDateTime::fromString(info.startTime, format);
    const QDateTime end = QDateTime::fromString(info.endTime, format);
    const qint64 first = qint64(firstFrameMicros / 1000);
    return !(start.isValid() && end.isValid() && rows > 0
             && (first < start.toMSecsSinceEpoch() - 1000 || first > end.toMSecsSinceEpoch() + 1000));
}

} // namespace StatisticsOverview

bool NetworkRatio::update(quint64 frameDate, const Accumulators& accumulators, quint8 speedCode, Rates* rates)
{
    const qint64 dt = static_cast<qint64>(frameDate) - static_cast<qint64>(m_previousDate);
    bool shown = false;
    if (dt > 0) {
        const double unit = AnalysisTexts::bitTimeMicros(speedCode) / 10.0;
        std::array<qint64, AccumulatorCount> dx {};
        std::array<bool, AccumulatorCount> backwards {};
        for (int i = 0; i < AccumulatorCount; ++i) {
            backwards[i] = accumulators[i] < m_previous[i];
            dx[i] = backwards[i] ? 0 : static_cast<qint64>(std::floor(double(accumulators[i] - m_previous[i]) * unit + 0.5));
        }
        const auto percent = [dt](qint64 part) { return int(std::lround(double(part) * 100.0 / double(dt))); };
        Rates r;
        r.traffic = backwards[Padding] ? 100 : percent(dt - dx[Padding]);
        r.errors = percent(dx[Errors]);
        r.variables = percent(dx[Variables]);
        r.messages = percent(dx[Messages]);
        r.aperiodicLists = percent(dx[AperiodicLists]);
        if (rates)
            *rates = r;
        shown = true;
    }
    m_previousDate = frameDate;
    m_previous = accumulators;
    return shown;
}

NetworkRatio::Accumulators NetworkRatio::accumulators(const AnalysisContext& context, const FipCaptureCounters& decoded)
{
    return { decoded.paddingTime, decoded.erroredTime, decoded.idDatTime + context.variableReplyTime,
             decoded.idMsgTime + context.messageReplyTime, decoded.idRqTime + context.aperiodicReplyTime };
}
