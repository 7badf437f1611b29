// Macrocycle detection fed by the simulated bus through the real decoder: the
// scan table that made the traffic must come back as the macrocycle.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/PaddingSearch.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"

#include <QTest>

namespace {

constexpr quint64 kStartUs = 1700000000000000ULL;

/// "0201:1 0202:2": identifiers and their periods in cycles.
QVector<FipTrafficGenerator::Variable> scanTable(const QString& text)
{
    QVector<FipTrafficGenerator::Variable> table;
    for (const QString& entry : text.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(':');
        table.append({ quint16(parts[0].toUInt(nullptr, 16)), 2, parts[1].toInt() });
    }
    return table;
}

/// "0201 0202|0201": microcycles separated by bars.
Macrocycle macrocycle(const QString& text)
{
    Macrocycle cycles;
    for (const QString& micro : text.split('|', Qt::SkipEmptyParts)) {
        cycles.emplace_back();
        for (const QString& id : micro.split(' ', Qt::SkipEmptyParts))
            cycles.back().push_back(quint16(id.toUInt(nullptr, 16)));
    }
    return cycles;
}

QString text(const Macrocycle& cycles)
{
    QStringList micros;
    for (const Microcycle& micro : cycles) {
        QStringList ids;
        for (quint16 id : micro)
            ids << QString::asprintf("%04x", id);
        micros << ids.join(' ');
    }
    return micros.join('|');
}

/// `found` is `expected` started at any of its microcycles.
bool sameCycle(const Macrocycle& found, const Macrocycle& expected)
{
    if (found.size() != expected.size())
        return false;
    for (size_t shift = 0; shift < found.size(); ++shift) {
        bool same = true;
        for (size_t i = 0; i < found.size() && same; ++i)
            same = found[i] == expected[(i + shift) % found.size()];
        if (same)
            return true;
    }
    return false;
}

struct Capture : MacrocycleAnalysis::Observer
{
    AnalysisContext context;
    FrameAnalysis transactions { &context };
    MacrocycleAnalysis analysis { &context, &transactions };
    FipStreamDecoder decoder { &analysis };
    TransactionATModel model;
    FipTrafficGenerator bus { 1, 2, kStartUs };
    QString outcomes; ///< D drawn, E errors told

    Capture(bool fixedPadding, quint16 padding)
    {
        decoder.initAnalysisContext();
        decoder.setPaddingRule(fixedPadding, padding);
        analysis.setPaddingRule(fixedPadding, padding);
        analysis.setObserver(this);
        analysis.setTransactionModel(&model);
        analysis.setErrorCounters(&decoder.counters());
        analysis.setSamplingPeriodMs(2000);
    }
    void onMacrocycleEvaluated() override { outcomes += 'D'; }
    void onMacrocycleErrors() override { outcomes += 'E'; }

    /// Bus traffic up to `seconds` of bus time after the start.
    void runUntil(double seconds, quint64 errorAtUs = 0)
    {
        QByteArray records;
        for (;;) {
            if (errorAtUs != 0 && bus.ticksToUs(bus.nextFrameTick()) + kStartUs >= errorAtUs) {
                bus.injectError(FipTrafficGenerator::Error::FcsError);
                errorAtUs = 0;
            }
            const FipFrame frame = bus.next();
            if (frame.timestampUs > kStartUs + quint64(seconds * 1e6))
                break;
            records += FipRecordEncoder::ospRecord(frame);
            if (records.size() > 64 * 1024)
                feed(&records);
        }
        feed(&records);
    }
    void feed(QByteArray* records)
    {
        bool stop = false;
        decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records->constData()), records->size(), &stop,
                                  false);
        records->clear();
    }
};

} // namespace

class TestMacrocycleAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void scanTables_data();
    void scanTables();
    void errorsHoldBackTheDrawing();
    void periodSearch_data();
    void periodSearch();
    void paddingSearch_data();
    void paddingSearch();
};

void TestMacrocycleAnalysis::scanTables_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("aperiodicEvery");
    QTest::addColumn<bool>("fixedPadding");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<quint64>("microcycleUs"); // 0: cycles of unequal spacing
    QTest::addColumn<QString>("changedTable");
    QTest::addColumn<QString>("expectedAfterChange");

    // Presence polling closes every cycle when presence identifiers are the padding.
    QTest::newRow("one microcycle") << "0201:1 0202:1 0203:1" << 0 << false << "0201 0202 0203" << quint64(20000)
                                    << "" << "";
    QTest::newRow("microcycles of different lengths")
        << "0201:1 0202:2 0203:4" << 0 << false << "0201 0202 0203|0201|0201 0202|0201" << quint64(20000) << ""
        << "";
    // A fixed padding identifier: the presence variables after it open each microcycle, station by station.
    QTest::newRow("padding identifier")
        << "0201:1 0202:2 9080:1" << 0 << true
        << "1401 0201|1402 0201 0202|1403 0201|1404 0201 0202|1405 0201|1406 0201 0202|1407 0201|1408 0201 0202"
        << quint64(0) << "" << "";
    // The aperiodic window after the presence poll opens the next microcycle, so
    // microcycles start at two places of the cycle and their lengths alternate.
    QTest::newRow("aperiodic traffic") << "0201:1 0202:1" << 2 << false << "0201 0202|0201 0202 0201 0500 0201 0202"
                                       << quint64(0) << "" << "";
    QTest::newRow("scan table changed") << "0201:1 0202:1 0203:1" << 0 << false << "0201 0202 0203" << quint64(20000)
                                        << "0201:1 0204:2" << "0201 0204|0201";
}

void TestMacrocycleAnalysis::scanTables()
{
    QFETCH(QString, table);
    QFETCH(int, aperiodicEvery);
    QFETCH(bool, fixedPadding);
    QFETCH(QString, expected);
    QFETCH(quint64, microcycleUs);
    QFETCH(QString, changedTable);
    QFETCH(QString, expectedAfterChange);

    Capture c(fixedPadding, 0x9080);
    c.bus.setVariables(scanTable(table));
    c.bus.setAperiodicEvery(aperiodicEvery);
    c.runUntil(6.5);
    QVERIFY(c.analysis.evaluations() >= 2);
    QVERIFY2(sameCycle(c.analysis.macrocycle(), macrocycle(expected)), qPrintable(text(c.analysis.macrocycle())));
    if (microcycleUs != 0)
        QCOMPARE(c.analysis.microcycleLength(), microcycleUs);
    QVERIFY(c.decoder.counters().paddingFrames > 0);
    QCOMPARE(c.outcomes, QString(int(c.analysis.evaluations()), 'D'));
    // Sampled at the evaluation: seen and answered during the period.
    const QModelIndex row = c.model.getRootCtrlIdx(0x0201, 0x03);
    QCOMPARE(c.model.index(row.row(), TransactionATModel::StateCol, row.parent()).data().toUInt(), 0x83u);

    if (changedTable.isEmpty())
        return;
    c.bus.setVariables(scanTable(changedTable));
    c.runUntil(13.0);
    QVERIFY2(sameCycle(c.analysis.macrocycle(), macrocycle(expectedAfterChange)),
             qPrintable(text(c.analysis.macrocycle())));
}

void TestMacrocycleAnalysis::errorsHoldBackTheDrawing()
{
    Capture c(false, 0);
    c.bus.setVariables(scanTable("0201:1 0202:2"));
    c.bus.setAperiodicEvery(0);
    // One FCS error between the second and the third evaluation.
    c.runUntil(9.0, kStartUs + 5000000);
    QCOMPARE(c.decoder.counters().fcsErrors, 1ULL);
    QCOMPARE(c.outcomes, QStringLiteral("DDED"));
    QVERIFY(c.context.macrocycleConsistent);
    QVERIFY(sameCycle(c.analysis.macrocycle(), macrocycle("0201 0202|0201")));
}

void TestMacrocycleAnalysis::periodSearch_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("period");
    QTest::newRow("eight microcycles of two") << "a|b|a|b|a|b|a|b" << 2;
    QTest::newRow("five: two is not below 5 / 2") << "a|b|a|b|a" << 0;
    QTest::newRow("last turn cut short") << "a|b|c|a|b|c|a|b|c|a" << 3;
    QTest::newRow("one repeated") << "a|a|a|a" << 1;
    QTest::newRow("a first match that does not hold") << "a|b|a|c|a|b|a|c|a|b|a|c" << 4;
    QTest::newRow("no repetition") << "a|b|c|d|e|f" << 0;
    QTest::newRow("empty") << "" << 0;
}

void TestMacrocycleAnalysis::periodSearch()
{
    QFETCH(QString, list);
    QFETCH(int, period);
    Macrocycle cycles;
    for (const QString& name : list.split('|', Qt::SkipEmptyParts))
        cycles.push_back({ quint16(name.at(0).unicode()) });
    QCOMPARE(int(MacrocycleAnalysis::findPeriod(cycles)), period);
}

void TestMacrocycleAnalysis::paddingSearch_data()
{
    QTest::addColumn<bool>("autoDetect");
    QTest::addColumn<int>("paddingFromCheck"); // padding frames counted from this check on, 0 never
    QTest::addColumn<QString>("steps");        // per check: outcome letter and the identifier

    QTest::newRow("search gives up") << true << 0 << "M9080 S7530 S9080 G7530 N7530";
    QTest::newRow("search finds the second") << true << 3 << "M9080 S7530 F7530! N7530";
    QTest::newRow("configured padding there") << true << 1 << "F9080 N9080";
    QTest::newRow("no automatic search") << false << 0 << "M9080 N9080";
}

void TestMacrocycleAnalysis::paddingSearch()
{
    QFETCH(bool, autoDetect);
    QFETCH(int, paddingFromCheck);
    QFETCH(QString, steps);
    PaddingSearch search;
    search.reset(0x9080);
    bool pending = true;
    QStringList seen;
    const int checks = int(steps.count(' ')) + 1;
    for (int check = 1; check <= checks; ++check) {
        const quint64 padding = paddingFromCheck != 0 && check >= paddingFromCheck ? 12 : 0;
        const PaddingSearch::Outcome outcome = search.check(&pending, padding, true, autoDetect);
        seen << QString("NFSGM").at(outcome) + QString::asprintf("%04x", search.identifier())
                + (search.announce() ? "!" : "");
    }
    QCOMPARE(seen.join(' '), steps);
    QVERIFY(!pending);
}

QTEST_MAIN(TestMacrocycleAnalysis)
#include "tst_macrocycleanalysis.moc"
