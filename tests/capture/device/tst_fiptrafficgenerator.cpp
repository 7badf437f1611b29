// The simulated bus: frames the decoder will accept, in the order and timing of a real scan,
// and the card's two record encodings of them.

#include "capture/decoder/FipFcs.h"
#include "capture/decoder/FipStreamDecoder.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"
#include "FipTrafficPacer.h"

#include <QtTest>

namespace {

quint16 readFcs(const QByteArray& frame)
{
    return quint16((quint8(frame.at(frame.size() - 2)) << 8) | quint8(frame.at(frame.size() - 1)));
}

} // namespace

class TestFipTrafficGenerator : public QObject
{
    Q_OBJECT

private slots:
    void framesAreValid_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("frameType");
        QTest::newRow("31.25k WorldFIP") << 0 << 2;
        QTest::newRow("1M WorldFIP") << 1 << 2;
        QTest::newRow("2.5M FIP") << 2 << 1;
        QTest::newRow("5M WorldFIP") << 3 << 2;
    }

    // Every frame passes the decoder's checks, as Osp records of the card.
    void framesAreValid()
    {
        QFETCH(int, speed);
        QFETCH(int, frameType);
        FipTrafficGenerator g(quint8(speed), quint8(frameType), 1000000);
        FipStreamDecoder d;
        quint64 lastTick = 0;
        bool expectReply = false;
        for (int i = 0; i < 3000; ++i) {
            const FipFrame f = g.next();
            QCOMPARE(f.number, quint64(i));
            QCOMPARE(f.status, quint16(0));
            d.treatOstrakFlowOsp(FipRecordEncoder::ospPacket(quint64(i + 1), 1, FipRecordEncoder::ospRecord(f)));
            QVERIFY(f.tick >= lastTick);
            QVERIFY(f.gapTicks > 0 || i == 0);
            QCOMPARE(f.lengthTicks, quint32(f.bytes.size() * 8 + 24) * 10);
            lastTick = f.tick + f.lengthTicks;
            const quint8 control = quint8(f.bytes.at(0));
            const bool request = control == 0x03 || control == 0x05 || control == 0x29;
            // Every identifier is answered, and no reply comes without one (RP_FIN follows RP_MSG).
            QVERIFY2(!(expectReply && request), qPrintable(QString::number(i)));
            expectReply = request;
        }
        const FipCaptureCounters& c = d.counters();
        QCOMPARE(c.frames, quint64(3000));
        QCOMPARE(c.fcsErrors + c.unknownControls + c.invalidDataSizes + c.streamErrors() + c.lostPackets, quint64(0));
        QCOMPARE(int(d.state().speedCode), speed);
        // Periodic, presence, variable request and message traffic all appear.
        for (quint8 control : { 0x03, 0x02, 0x29, 0x28, 0x05, 0x04, 0x40, 0x2A, 0x06 })
            QVERIFY2(c.perControl[control] > 0, qPrintable(QString::number(control, 16)));
    }

    void scanRepeatsEveryCycle_data()
    {
        QTest::addColumn<int>("padding");
        QTest::newRow("silent waits") << 0;
        QTest::newRow("padded waits") << 0x9080;
    }

    // Cycles start on their boundaries; with padding, the wait is filled with
    // padding identifiers nobody answers, each followed by the silence, none
    // running past the boundary.
    void scanRepeatsEveryCycle()
    {
        QFETCH(int, padding);
        FipTrafficGenerator g(1, 2, 1000000);
        g.setAperiodicEvery(0);
        g.setPaddingId(quint16(padding));
        const QByteArray paddingFrame = QByteArray::fromHex("03") + char(padding >> 8) + char(padding & 0xFF);
        QVector<quint64> cycleStarts;
        quint64 paddingFrames = 0;
        bool afterPadding = false;
        const quint64 cycleTicks = g.usToTicks(g.cycleUs());
        for (int i = 0; i < 4000; ++i) {
            const FipFrame f = g.next();
            if (f.bytes.at(0) == 0x03 && f.bytes.mid(1, 2) == QByteArray::fromHex("0100"))
                cycleStarts.append(f.tick);
            if (afterPadding && f.tick != cycleStarts.last())
                QCOMPARE(f.gapTicks, quint32(135 * 10));
            afterPadding = padding && f.bytes.startsWith(paddingFrame);
            if (afterPadding) {
                ++paddingFrames;
                QVERIFY(f.tick + f.lengthTicks <= cycleStarts.last() + cycleTicks);
            }
        }
        QVERIFY(cycleStarts.size() > 10);
        for (int i = 1; i < cycleStarts.size(); ++i)
            QCOMPARE(cycleStarts.at(i) - cycleStarts.at(i - 1), cycleTicks);
        QCOMPARE(g.paddingFramesProduced(), paddingFrames);
        QCOMPARE(paddingFrames > quint64(cycleStarts.size()) * 10, padding != 0);
    }

    void injectedErrors_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<int>("status");
        QTest::newRow("glitch") << int(FipTrafficGenerator::Error::Glitch) << 0x0001;
        QTest::newRow("no FSD") << int(FipTrafficGenerator::Error::NoFsd) << 0x0002;
        QTest::newRow("unknown FSD") << int(FipTrafficGenerator::Error::UnknownFsd) << 0x0004;
        QTest::newRow("no FED") << int(FipTrafficGenerator::Error::NoFed) << 0x0008;
        QTest::newRow("overflow") << int(FipTrafficGenerator::Error::CounterOverflow) << 0x0010;
        QTest::newRow("FCS") << int(FipTrafficGenerator::Error::FcsError) << 0x0000;
    }

    void injectedErrors()
    {
        QFETCH(int, error);
        QFETCH(int, status);
        FipTrafficGenerator g(1, 2, 1000000);
        g.next();
        g.injectError(FipTrafficGenerator::Error(error));
        const FipFrame f = g.next();
        QCOMPARE(int(f.status), status);
        const bool fcsOk = f.bytes.size() >= 3
            && readFcs(f.bytes) == FipFcs::compute(reinterpret_cast<const quint8*>(f.bytes.constData()), f.bytes.size() - 2, false);
        const auto kind = FipTrafficGenerator::Error(error);
        QCOMPARE(fcsOk, kind != FipTrafficGenerator::Error::FcsError && kind != FipTrafficGenerator::Error::NoFed);
        // Only the one frame is hit.
        QCOMPARE(g.next().status, quint16(0));
    }

    void tlvRecordLayout()
    {
        FipFrame f;
        f.bytes = QByteArray::fromHex("0312340000");
        f.status = 0x0401;
        f.frameType = 2;
        f.number = 0x1122334455667788ull;
        f.gapTicks = 0x01020304;
        f.lengthTicks = 0x0A0B;
        f.glc = 0x0C0D;
        f.jitter = 7;
        f.tick = 42;
        const QByteArray r = FipRecordEncoder::tlvRecord(f);
        QCOMPARE(r.toHex(),
                 QByteArray("c00037"
                            "20020401" "210102" "220188" "23081122334455667788" "300401020304"
                            "31020a0b" "32020c0d" "330107" "3408000000000000002a" "9000050312340000"));
    }

    void ospRecordLayout()
    {
        FipFrame f;
        f.bytes = QByteArray::fromHex("0312340000");
        f.status = 0x0008;
        f.frameType = 2;
        f.speedCode = 1;
        f.number = 5;
        f.timestampUs = 0x0102030405060708ull;
        f.gapTicks = 280;  // 28 µs at 1 Mbit/s = 280 × 100 ns
        f.lengthTicks = 640;
        f.glc = 3;
        f.jitter = 2;
        const QByteArray r = FipRecordEncoder::ospRecord(f);
        QCOMPARE(r.size(), 35);
        QCOMPARE(r.toHex(),
                 QByteArray("c00023" "5008" "0000000000000005" "0102030405060708" "000280" "000118" "0003" "08"
                            "0312340000"));
        // First status byte: speed code + 1 in bits 7..5, frame type in bits 4..3.
        QCOMPARE((quint8(r.at(3)) >> 5) & 7, 2);
        QCOMPARE((quint8(r.at(3)) >> 3) & 3, 2);
    }

    void ospCountsFollowSpeed_data()
    {
        QTest::addColumn<int>("speed");
        QTest::newRow("31.25k") << 0;
        QTest::newRow("2.5M") << 2;
        QTest::newRow("5M") << 3;
    }

    void ospCountsFollowSpeed()
    {
        // The decoder divides the Osp counts by the bit time to get ticks back.
        QFETCH(int, speed);
        FipTrafficGenerator g(quint8(speed), 2, 1000000);
        g.next();
        const FipFrame f = g.next();
        const QByteArray r = FipRecordEncoder::ospRecord(f);
        const double bit = FipTrafficGenerator::bitTimeUs(quint8(speed));
        const quint64 l = FipRecordEncoder::readBigEndian(r.constData() + 21, 3);
        const quint64 gap = FipRecordEncoder::readBigEndian(r.constData() + 24, 3);
        // One 100 ns step is 1/bit ticks: the only loss allowed.
        const double step = 1.0 / bit;
        QVERIFY(qAbs(l / bit - f.lengthTicks) <= step);
        QVERIFY(qAbs(gap / bit - f.gapTicks) <= step);
    }

    void eventAndOspFraming()
    {
        const QByteArray e = FipRecordEncoder::eventRecord(255, 0xA000, QByteArray::fromHex("c0"), true, 0xBEEF);
        QCOMPARE(e.toHex(), QByteArray("4100ffa0000001c0beef"));
        const QByteArray p = FipRecordEncoder::ospPacket(0x0102, 3, QByteArray("x"));
        QCOMPARE(p.toHex(), QByteArray("4f5301000000000000000102" "00000003" "78"));
    }

    void pacerFollowsClockAndPauses()
    {
        FipTrafficGenerator g(1, 2, 1000000);
        FipTrafficPacer pacer(&g, 10.0); // 10 × bus time: 100 ms of wall time is 1 s of bus
        QTest::qWait(100);
        const int first = pacer.due(100000).size();
        // About 1 s of traffic at 1 Mbit/s: well over a hundred frames, far less than flat out.
        QVERIFY2(first > 200 && first < 20000, qPrintable(QString::number(first)));
        pacer.setPaused(true);
        QTest::qWait(50);
        QVERIFY(pacer.due(100000).isEmpty());
        pacer.setPaused(false);
        QTest::qWait(30);
        const QVector<FipFrame> resumed = pacer.due(100000);
        QVERIFY(!resumed.isEmpty());
        // The pause shows as a silence of about its length on the bus (500 ms bus time).
        QVERIFY(g.ticksToUs(resumed.first().gapTicks) > 300000);
    }
};

QTEST_GUILESS_MAIN(TestFipTrafficGenerator)
#include "tst_fiptrafficgenerator.moc"
