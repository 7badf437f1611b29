// Transaction bookkeeping, station presence, load gauges, macrocycle detection
// and bus faults, fed by the real decoder with hand-built frames and with the
// simulated bus, read back from the real transaction tree.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/PaddingSearch.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/StatisticsOverview.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QLocale>
#include <QTableWidget>
#include <QTest>

using namespace FipControls;
using M = TransactionATModel;

namespace {

constexpr quint64 kStartUs = 1700000000000000ULL;

/// A capture on a 1 Mbit/s WorldFIP bus: frames go in as Osp records, through
/// the macrocycle detection when asked for, then the transaction bookkeeping.
struct Capture : MacrocycleAnalysis::Observer
{
    AnalysisContext context;
    FrameAnalysis transactions { &context };
    MacrocycleAnalysis macro { &context, &transactions };
    FipStreamDecoder decoder;
    M model;
    FipTrafficGenerator bus { 1, 2, kStartUs };
    quint64 now = kStartUs;
    QString outcomes; ///< D drawn, E errors told

    explicit Capture(quint16 padding = 0xFFFF, bool fixedPadding = true, bool detectMacrocycle = false)
        : decoder(detectMacrocycle ? static_cast<FipDecoderListener*>(&macro) : &transactions)
    {
        decoder.initAnalysisContext();
        decoder.setPaddingRule(fixedPadding, padding);
        macro.setPaddingRule(fixedPadding, padding);
        macro.setObserver(this);
        macro.setTransactionModel(&model);
        macro.setErrorCounters(&decoder.counters());
        macro.setSamplingPeriodMs(2000);
    }
    void onMacrocycleEvaluated() override { outcomes += 'D'; }
    void onMacrocycleErrors() override { outcomes += 'E'; }

    void frame(const QByteArray& body, quint16 status = 0, quint16 glc = 0)
    {
        FipFrame f;
        f.bytes = bus.withFcs(body);
        f.status = status;
        f.timestampUs = now;
        f.gapTicks = 200;
        f.lengthTicks = quint32(f.bytes.size() * 80);
        f.glc = glc;
        now += 100;
        feed(FipRecordEncoder::ospRecord(f));
    }
    void feed(const QByteArray& records)
    {
        bool stop = false;
        decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records.constData()), records.size(), &stop, false);
    }
    void request(quint8 control, quint16 id) { frame(QByteArray() + char(control) + char(id >> 8) + char(id & 0xFF)); }
    void reply(quint8 control, const QByteArray& data = QByteArray()) { frame(QByteArray(1, char(control)) + data); }
    void variable(quint16 id, const QByteArray& data)
    {
        request(ID_DAT, id);
        reply(RP_DAT, QByteArray() + char(0x40) + char(data.size()) + data);
    }
    /// Simulated bus traffic up to `seconds` of bus time after the start.
    void runUntil(double seconds, quint64 fcsErrorAtUs = 0)
    {
        QByteArray records;
        for (;;) {
            if (fcsErrorAtUs != 0 && bus.ticksToUs(bus.nextFrameTick()) + kStartUs >= fcsErrorAtUs) {
                bus.injectError(FipTrafficGenerator::Error::FcsError);
                fcsErrorAtUs = 0;
            }
            const FipFrame f = bus.next();
            if (f.timestampUs > kStartUs + quint64(seconds * 1e6))
                break;
            records += FipRecordEncoder::ospRecord(f);
            if (records.size() > 64 * 1024) {
                feed(records);
                records.clear();
            }
        }
        feed(records);
    }

    void push(bool glitchTick = false)
    {
        StatisticsOverview::collect(decoder.counters(), &context.counters);
        StatisticsOverview::updateTimes(context, decoder, 0, 0, 0);
        StatisticsOverview::pushTransactions(context, model, 1, 0.1, glitchTick);
    }
    int state(quint16 id) { return context.pair(id, ID_DAT).state; }
    QVariant cell(quint16 id, quint8 control, int column)
    {
        const QModelIndex row = model.getRootCtrlIdx(id, control);
        return model.index(row.row(), column, row.parent()).data();
    }
    quint64 count(quint16 id, quint8 control, int column) { return cell(id, control, column).toULongLong(); }
};

/// "0201:1 0202:2": identifiers and their periods in cycles.
QVector<FipTrafficGenerator::Variable> scanTable(const QString& text)
{
    QVector<FipTrafficGenerator::Variable> table;
    for (const QString& entry : text.split(' ', Qt::SkipEmptyParts))
        table.append({ quint16(entry.section(':', 0, 0).toUInt(nullptr, 16)), 2, entry.section(':', 1).toInt() });
    return table;
}

/// The macrocycle found, "0201 0202|0201" (microcycles separated by bars), started
/// at the microcycle that makes it read as `expected` when one does.
QString found(const Macrocycle& cycles, const QString& expected)
{
    QStringList micros;
    for (const Microcycle& micro : cycles) {
        QStringList ids;
        for (quint16 id : micro)
            ids << QString::asprintf("%04x", id);
        micros << ids.join(' ');
    }
    for (int shift = 0; shift < micros.size(); ++shift) {
        if ((micros.mid(shift) + micros.mid(0, shift)).join('|') == expected)
            return expected;
    }
    return micros.join('|');
}

enum Figure { FcsErrors, Glitches, VariableNoReplies, PresenceNoReplies, LateTurnaround, FigureCount };

} // namespace

Q_DECLARE_METATYPE(FipTrafficGenerator::Faults)

class TestFrameAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void variableTransaction()
    {
        Capture c;
        QAbstractItemModelTester tester(&c.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        c.variable(0x0101, QByteArray::fromHex("0a0b"));
        c.push(); // the tick that learns the average turn-around
        c.variable(0x0101, QByteArray::fromHex("0a0b"));
        c.variable(0x0101, QByteArray::fromHex("0a0c"));
        c.push();

        QCOMPARE(c.count(0x0101, ID_DAT, M::RequestCol), 3ULL);
        QCOMPARE(c.count(0x0101, RP_DAT, M::ReplyCol), 3ULL);
        // Two different values: the first and the change.
        QCOMPARE(c.count(0x0101, ID_DAT, M::DataChangesCol), 2ULL);
        QCOMPARE(c.cell(0x0101, ID_DAT, M::DataValueCol).toString(), QStringLiteral("40 02 0a 0c "));
        QCOMPARE(c.count(0x0101, ID_DAT, M::DataLengthCol), 4ULL);
        QCOMPARE(c.count(0x0101, ID_DAT, M::NoReplyCol), 0ULL);
        QCOMPARE(c.state(0x0101), 0x83);
        // The tree shows states as the macrocycle sampling writes them, not on every tick.
        QVERIFY(c.cell(0x0101, ID_DAT, M::StateCol).toString().isEmpty());
        // Request FC (5 bytes × 80) + average turn-around (200) + reply FC (7 bytes × 80) = 1160 ticks of 0.1 µs.
        QCOMPARE(c.cell(0x0101, ID_DAT, M::DurationCol).toString(), QStringLiteral(" 116 us"));

        quint64 ok = 0, lost = 0, never = 0, msgOk = 0, msgNok = 0;
        c.model.getTransactionCounters(&ok, &lost, &never, &msgOk, &msgNok);
        QCOMPARE(ok, 3ULL);
        QCOMPARE(lost + never + msgOk + msgNok, 0ULL);
    }

    void unansweredRequest()
    {
        Capture c;
        c.variable(0x0102, QByteArray::fromHex("01"));
        c.request(ID_DAT, 0x0102); // never answered
        c.variable(0x0103, QByteArray::fromHex("02"));
        c.push();

        QCOMPARE(c.count(0x0102, ID_DAT, M::NoReplyCol), 1ULL);
        QCOMPARE(c.context.silenceCount, 1ULL);
        QCOMPARE(c.context.silenceSum, 200ULL);
        // Seen, warning kept, the reply mark cleared until it is answered again.
        QCOMPARE(c.state(0x0102), 0x85);
        c.variable(0x0102, QByteArray::fromHex("01"));
        c.push();
        QCOMPARE(c.state(0x0102), 0x87);
        QCOMPARE(c.count(0x0103, ID_DAT, M::NoReplyCol), 0ULL);

        quint64 ok = 0, lost = 0, never = 0;
        c.model.getTransactionCounters(&ok, &lost, &never, nullptr, nullptr);
        QCOMPARE(lost, 1ULL); // 0x0102 had replies, and one missing
    }

    void missingAcknowledgement_data()
    {
        QTest::addColumn<QList<int>>("replies");
        QTest::addColumn<quint64>("noAck");
        QTest::newRow("ack then end") << QList<int> { RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 0ULL;
        QTest::newRow("end right after the message") << QList<int> { RP_MSG_ACKe, RP_FIN } << 1ULL;
        QTest::newRow("two messages without ack") << QList<int> { RP_MSG_ACKo, RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 1ULL;
        QTest::newRow("unacknowledged message") << QList<int> { RP_MSG_NOACK, RP_FIN } << 0ULL;
    }

    void missingAcknowledgement()
    {
        QFETCH(QList<int>, replies);
        QFETCH(quint64, noAck);
        Capture c;
        c.request(ID_MSG, 0x0100);
        for (int control : replies)
            c.reply(quint8(control), family(quint8(control)) == ReplyMessage ? QByteArray::fromHex("0001020304050607")
                                                                             : QByteArray());
        c.push();
        QCOMPARE(c.count(0x0100, ID_MSG, M::NoAckCol), noAck);
    }

    void refreshState()
    {
        Capture c;
        c.context.identifier(0x0120).refreshmentEnabled = true;
        // Status byte last: 0x05 refreshed and meaningful, then 0x04 (not refreshed), then back.
        c.variable(0x0120, QByteArray::fromHex("aa05"));
        c.push();
        QCOMPARE(c.cell(0x0120, ID_DAT, M::RefreshStateCol).toString(), QStringLiteral("true"));
        c.variable(0x0120, QByteArray::fromHex("aa04"));
        c.variable(0x0120, QByteArray::fromHex("aa04"));
        c.variable(0x0120, QByteArray::fromHex("aa05"));
        c.push();
        QCOMPARE(c.count(0x0120, ID_DAT, M::NoRefreshCol), 1ULL);
        QCOMPARE(c.cell(0x0120, ID_DAT, M::RefreshStateCol).toString(), QStringLiteral("true"));
        QVERIFY(c.cell(0x0120, ID_DAT, M::LastNoRefreshDateCol).toString().startsWith(QLatin1Char('[')));

        // Without the design's flag the status byte means nothing.
        c.variable(0x0121, QByteArray::fromHex("aa04"));
        c.push();
        QCOMPARE(c.cell(0x0121, ID_DAT, M::RefreshStateCol).toString(), QStringLiteral("false"));
    }

    void glitchWindows()
    {
        Capture c;
        c.request(ID_DAT, 0x0130);
        c.frame(QByteArray() + char(RP_DAT) + char(0x40) + char(1) + char(7), 0, 5);
        c.push(true); // first boundary: the burst is in the window that closes now
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 0ULL);
        c.variable(0x0130, QByteArray::fromHex("07"));
        c.push(true); // second boundary: the burst's window is shown
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 5ULL);
        c.push(true); // and replaced by the next, empty one
        QCOMPARE(c.count(0x0130, RP_DAT, M::GlitchesCol), 0ULL);
    }

    void presenceStates()
    {
        Capture c;
        QTableWidget table;
        StationPresenceTable presence(&table);
        presence.razStationPresenceTable();

        c.variable(0x1425, QByteArray::fromHex("800100")); // present
        c.request(ID_DAT, 0x1426);                          // asked, silent
        c.request(ID_DAT, 0x1427);
        c.variable(0x1428, QByteArray::fromHex("800100"));
        c.request(ID_DAT, 0x1428); // once absent
        c.variable(0x1428, QByteArray::fromHex("800100"));
        presence.refresh(c.context);

        const auto presenceOf = [&](quint16 id) {
            return StationPresenceTable::presence(c.context.findIdentifier(id)->presenceState);
        };
        QCOMPARE(presenceOf(0x1425), StationPresenceTable::Present);
        QCOMPARE(presenceOf(0x1426), StationPresenceTable::Absent);
        QCOMPARE(presenceOf(0x1428), StationPresenceTable::PresentWithAbsences);
        // Address 0x25: row 2, column 5.
        QCOMPARE(table.cellWidget(2, 5), presence.cell(0x25));
        QCOMPARE(presence.cell(0x25)->accessibleDescription(), StationPresenceTable::presenceText(StationPresenceTable::Present));
        QVERIFY(presence.cell(0x25)->toolTip().startsWith(QStringLiteral("Last status at ")));
        QCOMPARE(presence.cell(0x30)->accessibleDescription(),
                 StationPresenceTable::presenceText(StationPresenceTable::NeverAsked));

        // Unchanged cells keep their widget.
        QWidget* kept = presence.cell(0x25);
        presence.refresh(c.context);
        QCOMPARE(presence.cell(0x25), kept);
    }

    void simulatedBus()
    {
        // Three variables every cycle and presence polling of eight stations; one reply
        // of variable 0x0202 stays away.
        Capture c;
        c.bus.setVariables({ { 0x0201, 4, 1 }, { 0x0202, 8, 1 }, { 0x0203, 2, 2 } });
        c.bus.setAperiodicEvery(0);
        QByteArray records;
        int cycles = 0;
        for (;;) {
            const FipFrame f = c.bus.next();
            const bool request = f.bytes.size() == 5 && quint8(f.bytes[0]) == ID_DAT && quint8(f.bytes[1]) == 0x02;
            if (request && quint8(f.bytes[2]) == 0x01 && ++cycles > 40)
                break;
            if (cycles == 20 && request && quint8(f.bytes[2]) == 0x02)
                c.bus.injectError(FipTrafficGenerator::Error::MissingReply);
            records += FipRecordEncoder::ospRecord(f);
        }
        c.feed(records);
        c.push();

        const quint64 asked = c.count(0x0201, ID_DAT, M::RequestCol);
        QCOMPARE(asked, 40ULL);
        QCOMPARE(c.count(0x0201, RP_DAT, M::ReplyCol), asked);
        QCOMPARE(c.count(0x0202, ID_DAT, M::NoReplyCol), 1ULL);
        QCOMPARE(c.count(0x0202, RP_DAT, M::ReplyCol), c.count(0x0202, ID_DAT, M::RequestCol) - 1);
        QCOMPARE(c.count(0x0203, ID_DAT, M::RequestCol), (asked + 1) / 2);
        for (int station = 1; station <= 8; ++station) {
            const IdentifierStats* entry = c.context.findIdentifier(quint16(0x1400 + station));
            QVERIFY2(entry, qPrintable(QString::number(station)));
            QCOMPARE(StationPresenceTable::presence(entry->presenceState), StationPresenceTable::Present);
        }
        QVERIFY(!c.context.findIdentifier(0x1409));
    }

    void networkRatio_data()
    {
        QTest::addColumn<quint8>("speed");
        QTest::addColumn<quint64>("dt");
        QTest::addColumn<quint64>("padding");
        QTest::addColumn<quint64>("variables");
        QTest::addColumn<int>("traffic"); // -1: not shown
        QTest::addColumn<int>("variableRate");
        // 2,000,000 tenth-bits at 1 µs per bit are 200 ms of the second: 80 % useful.
        QTest::newRow("1 Mbit/s padding") << quint8(1) << 1000000ULL << 2000000ULL << 0ULL << 80 << 0;
        QTest::newRow("5 Mbit/s variables") << quint8(3) << 1000ULL << 0ULL << 25000ULL << 100 << 50;
        QTest::newRow("dates stand still") << quint8(1) << 0ULL << 100ULL << 100ULL << -1 << 0;
        QTest::newRow("unknown speed") << quint8(255) << 1000ULL << 500ULL << 500ULL << 100 << 0;
    }

    void networkRatio()
    {
        QFETCH(quint8, speed);
        QFETCH(quint64, dt);
        QFETCH(quint64, padding);
        QFETCH(quint64, variables);
        QFETCH(int, traffic);
        QFETCH(int, variableRate);
        NetworkRatio ratio;
        NetworkRatio::Accumulators start { 1000, 0, 1000, 0, 0 };
        QVERIFY(ratio.update(5000000, start, speed, nullptr));
        NetworkRatio::Accumulators next = start;
        next[NetworkRatio::Padding] += padding;
        next[NetworkRatio::Variables] += variables;
        NetworkRatio::Rates rates;
        rates.traffic = -1;
        QCOMPARE(ratio.update(5000000 + dt, next, speed, &rates), traffic >= 0);
        QCOMPARE(rates.traffic, traffic);
        if (traffic < 0)
            return;
        QCOMPARE(rates.variables, variableRate);

        // An accumulator that went back (a new capture) shows full load and no rate.
        NetworkRatio::Rates after;
        QVERIFY(ratio.update(5000000 + dt + 1000, start, speed, &after));
        QCOMPARE(after.traffic, 100);
        QCOMPARE(after.variables, 0);
    }

    void turnAroundOverRpDat()
    {
        // Three variable replies of 200 ticks each, two of them RP_DAT: 600 / 2 ticks of 0.1 µs.
        Capture c;
        c.variable(0x0140, QByteArray::fromHex("01"));
        c.variable(0x0141, QByteArray::fromHex("02"));
        c.request(ID_DAT, 0x0142);
        c.reply(RP_DAT_MSG, QByteArray::fromHex("4001") + QByteArray(1, char(3)));
        c.push();
        QCOMPARE(c.context.turnAroundSum, 600ULL);
        QCOMPARE(c.context.info.turnAroundTime, QStringLiteral("30.00 us"));
    }

    void texts()
    {
        QCOMPARE(AnalysisTexts::maxJitter(50, 1), QStringLiteral("1000 ns"));
        QCOMPARE(AnalysisTexts::maxJitter(0, 1), QStringLiteral("-"));
        QCOMPARE(AnalysisTexts::maxJitter(50, 7), QStringLiteral("0 ns"));
        QCOMPARE(AnalysisTexts::duration(90061002), QStringLiteral("25:01:01.002"));
        QCOMPARE(AnalysisTexts::dataValue(std::string("\x00\xff\x10", 3)), QStringLiteral("00 ff 10 "));
        const QString grouped = AnalysisTexts::counter(1200000);
        const QChar separator = QLocale(QLocale::French, QLocale::France).groupSeparator();
        QCOMPARE(grouped.split(separator).size(), 3);
        QCOMPARE(QString(grouped).remove(separator), QStringLiteral("1200000"));
    }

    // The scan table that made the traffic comes back as the macrocycle.
    void scanTables_data()
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
        QTest::newRow("aperiodic traffic") << "0201:1 0202:1" << 2 << false
                                           << "0201 0202|0201 0202 0201 0500 0201 0202" << quint64(0) << "" << "";
        QTest::newRow("scan table changed") << "0201:1 0202:1 0203:1" << 0 << false << "0201 0202 0203"
                                            << quint64(20000) << "0201:1 0204:2" << "0201 0204|0201";
    }

    void scanTables()
    {
        QFETCH(QString, table);
        QFETCH(int, aperiodicEvery);
        QFETCH(bool, fixedPadding);
        QFETCH(QString, expected);
        QFETCH(quint64, microcycleUs);
        QFETCH(QString, changedTable);
        QFETCH(QString, expectedAfterChange);

        Capture c(0x9080, fixedPadding, true);
        c.bus.setVariables(scanTable(table));
        c.bus.setAperiodicEvery(aperiodicEvery);
        c.runUntil(6.5);
        QVERIFY(c.macro.evaluations() >= 2);
        QCOMPARE(found(c.macro.macrocycle(), expected), expected);
        if (microcycleUs != 0)
            QCOMPARE(c.macro.microcycleLength(), microcycleUs);
        QVERIFY(c.decoder.counters().paddingFrames > 0);
        QCOMPARE(c.outcomes, QString(int(c.macro.evaluations()), 'D'));
        // Sampled at the evaluation: seen and answered during the period.
        QCOMPARE(c.cell(0x0201, ID_DAT, M::StateCol).toUInt(), 0x83u);

        if (changedTable.isEmpty())
            return;
        c.bus.setVariables(scanTable(changedTable));
        c.runUntil(13.0);
        QCOMPARE(found(c.macro.macrocycle(), expectedAfterChange), expectedAfterChange);
    }

    void errorsHoldBackTheDrawing()
    {
        Capture c(0, false, true);
        c.bus.setVariables(scanTable("0201:1 0202:2"));
        c.bus.setAperiodicEvery(0);
        // One FCS error between the second and the third evaluation.
        c.runUntil(9.0, kStartUs + 5000000);
        QCOMPARE(c.decoder.counters().fcsErrors, 1ULL);
        QCOMPARE(c.outcomes, QStringLiteral("DDED"));
        QVERIFY(c.context.macrocycleConsistent);
        QCOMPARE(found(c.macro.macrocycle(), "0201 0202|0201"), QString("0201 0202|0201"));
    }

    void periodSearch_data()
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

    void periodSearch()
    {
        QFETCH(QString, list);
        QFETCH(int, period);
        Macrocycle cycles;
        for (const QString& name : list.split('|', Qt::SkipEmptyParts))
            cycles.push_back({ quint16(name.at(0).unicode()) });
        QCOMPARE(int(MacrocycleAnalysis::findPeriod(cycles)), period);
    }

    void paddingSearch_data()
    {
        QTest::addColumn<bool>("autoDetect");
        QTest::addColumn<int>("paddingFromCheck"); // padding frames counted from this check on, 0 never
        QTest::addColumn<QString>("steps");        // per check: outcome letter and the identifier

        QTest::newRow("search gives up") << true << 0 << "M9080 S7530 S9080 G7530 N7530";
        QTest::newRow("search finds the second") << true << 3 << "M9080 S7530 F7530! N7530";
        QTest::newRow("configured padding there") << true << 1 << "F9080 N9080";
        QTest::newRow("no automatic search") << false << 0 << "M9080 N9080";
    }

    void paddingSearch()
    {
        QFETCH(bool, autoDetect);
        QFETCH(int, paddingFromCheck);
        QFETCH(QString, steps);
        PaddingSearch search;
        search.reset(0x9080);
        bool pending = true;
        QStringList seen;
        for (int check = 1; check <= steps.count(' ') + 1; ++check) {
            const quint64 padding = paddingFromCheck != 0 && check >= paddingFromCheck ? 1 : 0; // a single padding frame counts
            const PaddingSearch::Outcome outcome = search.check(&pending, padding, true, autoDetect);
            seen << QString("NFSGM").at(outcome) + QString::asprintf("%04x", search.identifier())
                    + (search.announce() ? "!" : "");
        }
        QCOMPARE(seen.join(' '), steps);
        QVERIFY(!pending);
    }

    // Each fault of the simulated bus moves the figure a real one moves, and no other.
    void oneFigurePerFault_data()
    {
        QTest::addColumn<FipTrafficGenerator::Faults>("faults");
        QTest::addColumn<int>("moves");
        QTest::addColumn<int>("mayMove"); // bit mask of figures the fault also touches
        using F = FipTrafficGenerator::Faults;
        F none, missing, fcs, glitch, late, dropout;
        missing.missingReply = 0.05;
        fcs.fcs = 0.01;
        glitch.glitch = 0.01;
        late.lateReply = 0.3;
        dropout.dropout = 0.05;
        dropout.dropoutMs = 100;
        QTest::newRow("none") << none << -1 << 0;
        // A missing reply may be a station's presence reply too.
        QTest::newRow("missing reply") << missing << int(VariableNoReplies) << (1 << PresenceNoReplies);
        // A reply the decoder cannot read is no reply to the analysis.
        QTest::newRow("fcs error") << fcs << int(FcsErrors) << (1 << VariableNoReplies | 1 << PresenceNoReplies);
        QTest::newRow("glitch") << glitch << int(Glitches) << 0;
        QTest::newRow("late reply") << late << int(LateTurnaround) << 0;
        QTest::newRow("station drops off") << dropout << int(PresenceNoReplies) << 0;
    }

    void oneFigurePerFault()
    {
        QFETCH(FipTrafficGenerator::Faults, faults);
        QFETCH(int, moves);
        QFETCH(int, mayMove);
        Capture c(FipTrafficGenerator::kDefaultPaddingId);
        c.bus.setVariables({ { 0x0201, 8, 1 }, { 0x0202, 4, 1 } });
        c.bus.setCycleUs(5000);
        c.bus.setAperiodicEvery(0);
        c.bus.setPaddingId(FipTrafficGenerator::kDefaultPaddingId);
        c.bus.setFaults(faults);
        c.runUntil(2.0);
        QVERIFY(c.decoder.counters().paddingFrames > 0);

        quint64 figures[FigureCount] = { c.decoder.counters().fcsErrors, c.decoder.counters().preGlitches, 0, 0, 0 };
        for (const TransactionStats& pair : c.context.pairs()) {
            if (pair.identifier != FipTrafficGenerator::kDefaultPaddingId) // nobody ever answers padding
                figures[(pair.identifier & 0x1400) == 0x1400 ? PresenceNoReplies : VariableNoReplies] += pair.noReply;
        }
        // Replies later than the turnaround and its jitter: 28 bits at 1 Mbit/s, ten ticks a bit.
        const quint64 replies = c.decoder.counters().perControl[RP_DAT];
        const quint64 average = replies ? c.context.turnAroundSum / replies : 0;
        figures[LateTurnaround] = average > 280 + 20 ? average - 280 : 0;
        for (int f = 0; f < FigureCount; ++f) {
            if (f == moves)
                QVERIFY2(figures[f] > 0, qPrintable(QString::number(f)));
            else if (!(mayMove & (1 << f)))
                QVERIFY2(figures[f] == 0, qPrintable(QString("%1: %2").arg(f).arg(figures[f])));
        }
    }
};

QTEST_MAIN(TestFrameAnalysis)
#include "tst_frameanalysis.moc"
