// Transaction bookkeeping, station presence and load gauges fed by the real
// decoder with hand-built frames and with the simulated bus, read back from
// the real transaction tree.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/StatisticsOverview.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"

#include <QAbstractItemModelTester>
#include <QLabel>
#include <QTableWidget>
#include <QLocale>
#include <QTest>

using namespace FipControls;

namespace {

constexpr quint64 kStartUs = 1700000000000000ULL;

/// A capture on a 1 Mbit/s WorldFIP bus: frames go in as Osp records.
struct Capture
{
    AnalysisContext context;
    FrameAnalysis analysis { &context };
    FipStreamDecoder decoder { &analysis };
    TransactionATModel model;
    FipTrafficGenerator bus { 1, 2, kStartUs };
    quint64 now = kStartUs;

    Capture()
    {
        decoder.initAnalysisContext();
        decoder.setPaddingRule(true, 0xFFFF);
    }

    void frame(const QByteArray& body, quint16 status = 0, quint16 glc = 0, quint8 jitter = 0)
    {
        FipFrame f;
        f.bytes = bus.withFcs(body);
        f.status = status;
        f.timestampUs = now;
        f.gapTicks = 200;
        f.lengthTicks = quint32(f.bytes.size() * 80);
        f.glc = glc;
        f.jitter = jitter;
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
};

} // namespace

class TestFrameAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void variableTransaction();
    void unansweredRequest();
    void missingAcknowledgement_data();
    void missingAcknowledgement();
    void refreshState();
    void glitchWindows();
    void presenceStates();
    void simulatedBus();
    void networkRatio_data();
    void networkRatio();
    void texts();
    void turnAroundOverRpDat();
};

void TestFrameAnalysis::variableTransaction()
{
    Capture c;
    QAbstractItemModelTester tester(&c.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    c.variable(0x0101, QByteArray::fromHex("0a0b"));
    c.push(); // the tick that learns the average turn-around
    c.variable(0x0101, QByteArray::fromHex("0a0b"));
    c.variable(0x0101, QByteArray::fromHex("0a0c"));
    c.push();

    QCOMPARE(c.cell(0x0101, ID_DAT, TransactionATModel::RequestCol).toULongLong(), 3ULL);
    QCOMPARE(c.cell(0x0101, RP_DAT, TransactionATModel::ReplyCol).toULongLong(), 3ULL);
    // Two different values: the first and the change.
    QCOMPARE(c.cell(0x0101, ID_DAT, TransactionATModel::DataChangesCol).toULongLong(), 2ULL);
    QCOMPARE(c.cell(0x0101, ID_DAT, TransactionATModel::DataValueCol).toString(), QStringLiteral("40 02 0a 0c "));
    QCOMPARE(c.cell(0x0101, ID_DAT, TransactionATModel::DataLengthCol).toULongLong(), 4ULL);
    QVERIFY(c.cell(0x0101, ID_DAT, TransactionATModel::NoReplyCol).toULongLong() == 0);
    QCOMPARE(c.state(0x0101), 0x83);
    // The tree shows states as the macrocycle sampling writes them, not on every tick.
    QVERIFY(c.cell(0x0101, ID_DAT, TransactionATModel::StateCol).toString().isEmpty());
    // Request FC (5 bytes × 80) + average turn-around (200) + reply FC (7 bytes × 80) = 1160 ticks of 0.1 µs.
    QCOMPARE(c.cell(0x0101, ID_DAT, TransactionATModel::DurationCol).toString(), QStringLiteral(" 116 us"));

    quint64 ok = 0, lost = 0, never = 0, msgOk = 0, msgNok = 0;
    c.model.getTransactionCounters(&ok, &lost, &never, &msgOk, &msgNok);
    QCOMPARE(ok, 3ULL);
    QCOMPARE(lost + never + msgOk + msgNok, 0ULL);
}

void TestFrameAnalysis::unansweredRequest()
{
    Capture c;
    c.variable(0x0102, QByteArray::fromHex("01"));
    c.request(ID_DAT, 0x0102); // never answered
    c.variable(0x0103, QByteArray::fromHex("02"));
    c.push();

    QCOMPARE(c.cell(0x0102, ID_DAT, TransactionATModel::NoReplyCol).toULongLong(), 1ULL);
    QCOMPARE(c.context.silenceCount, 1ULL);
    QCOMPARE(c.context.silenceSum, 200ULL);
    // Seen, warning kept, the reply mark cleared until it is answered again.
    QCOMPARE(c.state(0x0102), 0x85);
    c.variable(0x0102, QByteArray::fromHex("01"));
    c.push();
    QCOMPARE(c.state(0x0102), 0x87);
    QCOMPARE(c.cell(0x0103, ID_DAT, TransactionATModel::NoReplyCol).toULongLong(), 0ULL);

    quint64 ok = 0, lost = 0, never = 0;
    c.model.getTransactionCounters(&ok, &lost, &never, nullptr, nullptr);
    QCOMPARE(lost, 1ULL); // 0x0102 had replies, and one missing
}

void TestFrameAnalysis::missingAcknowledgement_data()
{
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<quint64>("noAck");
    QTest::newRow("ack then end") << QList<int> { RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 0ULL;
    QTest::newRow("end right after the message") << QList<int> { RP_MSG_ACKe, RP_FIN } << 1ULL;
    QTest::newRow("two messages without ack") << QList<int> { RP_MSG_ACKo, RP_MSG_ACKe, RP_ACKpe, RP_FIN } << 1ULL;
    QTest::newRow("unacknowledged message") << QList<int> { RP_MSG_NOACK, RP_FIN } << 0ULL;
}

void TestFrameAnalysis::missingAcknowledgement()
{
    QFETCH(QList<int>, replies);
    QFETCH(quint64, noAck);
    Capture c;
    c.request(ID_MSG, 0x0100);
    for (int control : replies) {
        if (family(quint8(control)) == ReplyMessage)
            c.reply(quint8(control), QByteArray::fromHex("0001020304050607"));
        else
            c.reply(quint8(control));
    }
    c.push();
    QCOMPARE(c.cell(0x0100, ID_MSG, TransactionATModel::NoAckCol).toULongLong(), noAck);
}

void TestFrameAnalysis::refreshState()
{
    Capture c;
    c.context.identifier(0x0120).refreshmentEnabled = true;
    // Status byte last: 0x05 refreshed and meaningful, then 0x04 (not refreshed), then back.
    c.variable(0x0120, QByteArray::fromHex("aa05"));
    c.push();
    QCOMPARE(c.cell(0x0120, ID_DAT, TransactionATModel::RefreshStateCol).toString(), QStringLiteral("true"));
    c.variable(0x0120, QByteArray::fromHex("aa04"));
    c.variable(0x0120, QByteArray::fromHex("aa04"));
    c.variable(0x0120, QByteArray::fromHex("aa05"));
    c.push();
    QCOMPARE(c.cell(0x0120, ID_DAT, TransactionATModel::NoRefreshCol).toULongLong(), 1ULL);
    QCOMPARE(c.cell(0x0120, ID_DAT, TransactionATModel::RefreshStateCol).toString(), QStringLiteral("true"));
    QVERIFY(c.cell(0x0120, ID_DAT, TransactionATModel::LastNoRefreshDateCol).toString().startsWith(QLatin1Char('[')));

    // Without the design's flag the status byte means nothing.
    c.variable(0x0121, QByteArray::fromHex("aa04"));
    c.push();
    QCOMPARE(c.cell(0x0121, ID_DAT, TransactionATModel::RefreshStateCol).toString(), QStringLiteral("false"));
}

void TestFrameAnalysis::glitchWindows()
{
    Capture c;
    c.request(ID_DAT, 0x0130);
    c.frame(QByteArray() + char(RP_DAT) + char(0x40) + char(1) + char(7), 0, 5);
    c.push(true); // first boundary: the burst is in the window that closes now
    QCOMPARE(c.cell(0x0130, RP_DAT, TransactionATModel::GlitchesCol).toULongLong(), 0ULL);
    c.variable(0x0130, QByteArray::fromHex("07"));
    c.push(true); // second boundary: the burst's window is shown
    QCOMPARE(c.cell(0x0130, RP_DAT, TransactionATModel::GlitchesCol).toULongLong(), 5ULL);
    c.push(true); // and replaced by the next, empty one
    QCOMPARE(c.cell(0x0130, RP_DAT, TransactionATModel::GlitchesCol).toULongLong(), 0ULL);
}

void TestFrameAnalysis::presenceStates()
{
    Capture c;
    QTableWidget table;
    StationPresenceTable presence(&table);
    presence.razStationPresenceTable();

    c.variable(0x1425, QByteArray::fromHex("800100")); // present
    c.request(ID_DAT, 0x1426);                          // asked, silent
    c.request(ID_DAT, 0x1427);
    c.variable(0x1428, QByteArray::fromHex("800100"));
    c.request(ID_DAT, 0x1428);                          // once absent
    c.variable(0x1428, QByteArray::fromHex("800100"));
    presence.refresh(c.context);

    QCOMPARE(StationPresenceTable::presence(c.context.findIdentifier(0x1425)->presenceState),
             StationPresenceTable::Present);
    QCOMPARE(StationPresenceTable::presence(c.context.findIdentifier(0x1426)->presenceState),
             StationPresenceTable::Absent);
    QCOMPARE(StationPresenceTable::presence(c.context.findIdentifier(0x1428)->presenceState),
             StationPresenceTable::PresentWithAbsences);
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

void TestFrameAnalysis::simulatedBus()
{
    // Three variables every cycle and presence polling of eight stations; one reply
    // of variable 0x0202 stays away.
    Capture c;
    c.bus.setVariables({ { 0x0201, 4, 1 }, { 0x0202, 8, 1 }, { 0x0203, 2, 2 } });
    c.bus.setAperiodicEvery(0);
    QByteArray records;
    int cycles = 0;
    quint64 frames = 0;
    for (;;) {
        FipFrame f = c.bus.next();
        if (f.bytes.size() == 5 && quint8(f.bytes[0]) == ID_DAT && quint8(f.bytes[1]) == 0x02 && quint8(f.bytes[2]) == 0x01
            && ++cycles > 40)
            break;
        if (cycles == 20 && f.bytes.size() == 5 && quint8(f.bytes[2]) == 0x02 && quint8(f.bytes[1]) == 0x02)
            c.bus.injectError(FipTrafficGenerator::Error::MissingReply);
        records += FipRecordEncoder::ospRecord(f);
        ++frames;
    }
    c.feed(records);
    c.push();

    const quint64 asked = c.cell(0x0201, ID_DAT, TransactionATModel::RequestCol).toULongLong();
    QCOMPARE(asked, 40ULL);
    QCOMPARE(c.cell(0x0201, RP_DAT, TransactionATModel::ReplyCol).toULongLong(), asked);
    QCOMPARE(c.cell(0x0202, ID_DAT, TransactionATModel::NoReplyCol).toULongLong(), 1ULL);
    QCOMPARE(c.cell(0x0202, RP_DAT, TransactionATModel::ReplyCol).toULongLong(),
             c.cell(0x0202, ID_DAT, TransactionATModel::RequestCol).toULongLong() - 1);
    QCOMPARE(c.cell(0x0203, ID_DAT, TransactionATModel::RequestCol).toULongLong(), (asked + 1) / 2);
    for (int station = 1; station <= 8; ++station) {
        const IdentifierStats* entry = c.context.findIdentifier(quint16(0x1400 + station));
        QVERIFY2(entry, qPrintable(QString::number(station)));
        QCOMPARE(StationPresenceTable::presence(entry->presenceState), StationPresenceTable::Present);
    }
    QVERIFY(!c.context.findIdentifier(0x1409));
}

void TestFrameAnalysis::networkRatio_data()
{
    QTest::addColumn<quint8>("speed");
    QTest::addColumn<quint64>("dt");
    QTest::addColumn<quint64>("padding");
    QTest::addColumn<quint64>("variables");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("traffic");
    QTest::addColumn<int>("variableRate");
    // 2,000,000 tenth-bits at 1 µs per bit are 200 ms of the second: 80 % useful.
    QTest::newRow("1 Mbit/s padding") << quint8(1) << 1000000ULL << 2000000ULL << 0ULL << true << 80 << 0;
    QTest::newRow("5 Mbit/s variables") << quint8(3) << 1000ULL << 0ULL << 25000ULL << true << 100 << 50;
    QTest::newRow("dates stand still") << quint8(1) << 0ULL << 100ULL << 100ULL << false << 0 << 0;
    QTest::newRow("unknown speed") << quint8(255) << 1000ULL << 500ULL << 500ULL << true << 100 << 0;
}

void TestFrameAnalysis::networkRatio()
{
    QFETCH(quint8, speed);
    QFETCH(quint64, dt);
    QFETCH(quint64, padding);
    QFETCH(quint64, variables);
    QFETCH(bool, shown);
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
    QCOMPARE(ratio.update(5000000 + dt, next, speed, &rates), shown);
    if (!shown) {
        QCOMPARE(rates.traffic, -1);
        return;
    }
    QCOMPARE(rates.traffic, traffic);
    QCOMPARE(rates.variables, variableRate);

    // An accumulator that went back (a new capture) shows full load and no rate.
    NetworkRatio::Rates after;
    QVERIFY(ratio.update(5000000 + dt + 1000, start, speed, &after));
    QCOMPARE(after.traffic, 100);
    QCOMPARE(after.variables, 0);
}

void TestFrameAnalysis::turnAroundOverRpDat()
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

void TestFrameAnalysis::texts()
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

QTEST_MAIN(TestFrameAnalysis)
#include "tst_frameanalysis.moc"
