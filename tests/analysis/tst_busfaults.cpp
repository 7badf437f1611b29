// Faults of the simulated bus, one kind at a time, through the real decoder and
// transaction analysis: each moves the figure a real one moves, and no other.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"

#include <QTest>

namespace {

constexpr quint64 kStartUs = 1700000000000000ULL;

enum Figure { FcsErrors, Glitches, VariableNoReplies, PresenceNoReplies, LateTurnaround, FigureCount };

struct Capture
{
    AnalysisContext context;
    FrameAnalysis transactions { &context };
    FipStreamDecoder decoder { &transactions };
    FipTrafficGenerator bus { 1, 2, kStartUs };

    explicit Capture(const FipTrafficGenerator::Faults& faults)
    {
        decoder.initAnalysisContext();
        decoder.setPaddingRule(true, FipTrafficGenerator::kDefaultPaddingId);
        bus.setVariables({ { 0x0201, 8, 1 }, { 0x0202, 4, 1 } });
        bus.setCycleUs(5000);
        bus.setAperiodicEvery(0);
        bus.setPaddingId(FipTrafficGenerator::kDefaultPaddingId);
        bus.setFaults(faults);
        QByteArray records;
        for (FipFrame f = bus.next(); f.timestampUs < kStartUs + 2000000; f = bus.next())
            records += FipRecordEncoder::ospRecord(f);
        bool stop = false;
        decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records.constData()), records.size(), &stop, false);
    }

    std::array<quint64, FigureCount> figures() const
    {
        std::array<quint64, FigureCount> f {};
        f[FcsErrors] = decoder.counters().fcsErrors;
        f[Glitches] = decoder.counters().preGlitches;
        for (const TransactionStats& pair : context.pairs()) {
            if (pair.identifier == FipTrafficGenerator::kDefaultPaddingId)
                continue; // nobody ever answers padding
            f[(pair.identifier & 0x1400) == 0x1400 ? PresenceNoReplies : VariableNoReplies] += pair.noReply;
        }
        // Replies later than the turnaround and its jitter: 28 bits at 1 Mbit/s, ten ticks a bit.
        const quint64 replies = decoder.counters().perControl[0x02];
        const quint64 average = replies ? context.turnAroundSum / replies : 0;
        f[LateTurnaround] = average > 280 + 20 ? average - 280 : 0;
        return f;
    }
};

} // namespace

Q_DECLARE_METATYPE(FipTrafficGenerator::Faults)

class TestBusFaults : public QObject
{
    Q_OBJECT

private slots:
    void oneFigurePerFault_data();
    void oneFigurePerFault();
};

void TestBusFaults::oneFigurePerFault_data()
{
    QTest::addColumn<FipTrafficGenerator::Faults>("faults");
    QTest::addColumn<int>("moves");
    QTest::addColumn<int>("mayMove"); // bit mask of figures the fault also touches
    using F = FipTrafficGenerator::Faults;
    F none;
    QTest::newRow("none") << none << -1 << 0;
    F missing;
    missing.missingReply = 0.05;
    // A missing reply may be a station's presence reply too.
    QTest::newRow("missing reply") << missing << int(VariableNoReplies) << (1 << PresenceNoReplies);
    F fcs;
    fcs.fcs = 0.01;
    // A reply the decoder cannot read is no reply to the analysis.
    QTest::newRow("fcs error") << fcs << int(FcsErrors) << (1 << VariableNoReplies | 1 << PresenceNoReplies);
    F glitch;
    glitch.glitch = 0.01;
    QTest::newRow("glitch") << glitch << int(Glitches) << 0;
    F late;
    late.lateReply = 0.3;
    QTest::newRow("late reply") << late << int(LateTurnaround) << 0;
    F dropout;
    dropout.dropout = 0.05;
    dropout.dropoutMs = 100;
    QTest::newRow("station drops off") << dropout << int(PresenceNoReplies) << 0;
}

void TestBusFaults::oneFigurePerFault()
{
    QFETCH(FipTrafficGenerator::Faults, faults);
    QFETCH(int, moves);
    QFETCH(int, mayMove);
    const Capture c(faults);
    QVERIFY(c.decoder.counters().paddingFrames > 0);
    const auto figures = c.figures();
    for (int f = 0; f < FigureCount; ++f) {
        if (f == moves)
            QVERIFY2(figures[size_t(f)] > 0, qPrintable(QString::number(f)));
        else if (!(mayMove & (1 << f)))
            QVERIFY2(figures[size_t(f)] == 0, qPrintable(QString("%1: %2").arg(f).arg(figures[size_t(f)])));
    }
}

QTEST_GUILESS_MAIN(TestBusFaults)
#include "tst_busfaults.moc"
