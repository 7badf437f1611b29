// The capture decoder: frame-level decoding (FCS, control codes, size rules,
// reception status, row texts, trace row fields and their text forms) and the
// packet splitting of both flows, packet counters, the capture clock, raw
// recording and the traffic interruption row.

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"
#include "tests/capture/decoder/FipStreamBuilder.h"

#include <QtTest>

using namespace FipStreamBuilder;

Q_DECLARE_METATYPE(FipStreamBuilder::Bytes)
using R = TraceRow;

namespace {

struct Recorder : FipDecoderListener
{
    QList<QPair<quint16, quint8>> identifiers;
    int replies = 0;
    int withoutError = 0;
    int done = 0;
    FipFrameInfo last;
    void onIdentifierFrame(const FipFrameInfo& f) override { identifiers.append({ f.identifier, f.control }); }
    void onReplyFrame(const FipFrameInfo&, TraceRow& row) override
    {
        ++replies;
        row.set(TraceRow::Pdu, "SM_MPS");
    }
    void onFrameWithoutError(const FipFrameInfo&) override { ++withoutError; }
    void onFrameDone(const FipFrameInfo& f, TraceRow&) override
    {
        ++done;
        last = f;
    }
};

QString rescue(const Bytes& f)
{
    QString text;
    for (quint8 b : f)
        text += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
    return text;
}

// The row's texts in the given columns, to compare several at once.
QStringList texts(const FipStreamDecoder& d, std::initializer_list<TraceRow::Column> columns)
{
    QStringList out;
    for (TraceRow::Column c : columns)
        out << d.row().text(c);
    return out;
}

void feed(FipStreamDecoder& d, const Bytes& f, quint16 status = 0)
{
    d.treatFipFrame(f.data(), int(f.size()), status, 0, 0);
}


struct Frames : FipDecoderListener
{
    QList<QByteArray> frames; // decoded frame bytes, in order
    QList<quint64> stamps;
    QList<quint8> speeds;
    QList<quint64> anchors;
    QList<QByteArray> interruptions;
    void onOstrakSpeed(quint8 code) override { speeds.append(code); }
    void onAbsoluteCounterAnchor(quint64 us) override { anchors.append(us); }
    void onFrameDone(const FipFrameInfo& f, TraceRow&) override
    {
        frames.append(QByteArray(reinterpret_cast<const char*>(f.data), f.size));
        stamps.append(f.timestamp);
    }
    void onTrafficInterruption(TraceRow& row) override { interruptions.append(row.line()); }
};

struct RawBytes : FipRawSink
{
    QByteArray bytes;
    void appendRaw(const char* data, int size) override { bytes.append(data, size); }
};

const Bytes kId = frame({ 0x03, 0x12, 0x34 });
const Bytes kReply = frame({ 0x02, 0x40, 0x01, 0x77 });
const Bytes kAck = frame({ 0x30 });

} // namespace

class TestFipStreamDecoder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }

    // Several records in one packet, recorded raw after one flow byte; other flow types are ignored.
    void ospSeveralRecordsInOnePacket()
    {
        Frames f;
        RawBytes raw;
        FipStreamDecoder d(&f);
        d.setRawSink(&raw);
        const QByteArray payload = ospRecord(kId, ospStatus(1, 2), 1000) + ospRecord(kReply, ospStatus(1, 2), 1100)
            + ospRecord(kAck, ospStatus(1, 2), 1200);
        d.onOstrakDataReceived(2, ospPacket(7, 3, payload));
        QCOMPARE(f.frames, (QList<QByteArray>{ toArray(kId), toArray(kReply), toArray(kAck) }));
        QCOMPARE(f.stamps, (QList<quint64>{ 1000, 1100, 1200 }));
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.counters().perControl[0x02], quint64(1));
        QCOMPARE(d.state().frameNumber, quint64(3));
        d.onOstrakDataReceived(3, ospPacket(8, 1, ospRecord(kId, ospStatus(1, 2), 1300)));
        QCOMPARE(f.frames.size(), 3);
        const QByteArray next = ospRecord(kReply, ospStatus(1, 2), 1400);
        d.onOstrakDataReceived(2, ospPacket(8, 1, next));
        QCOMPARE(raw.bytes, QByteArray(1, char(2)) + payload + next);
    }

    void ospFirstRecordSetsCapture_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("speed");
        QTest::addColumn<QString>("typeText");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("speedText");
        QTest::newRow("FIP 31.25k") << 1 << 1 << "FIP" << 0 << "31.25 kbits/s";
        QTest::newRow("FIP 1M") << 1 << 2 << "FIP" << 1 << "1 Mbits/s";
        QTest::newRow("WorldFIP 2.5M") << 2 << 3 << "WorldFIP" << 2 << "2.5 Mbits/s";
        QTest::newRow("FIP 5M") << 1 << 4 << "FIP" << 3 << "5 Mbits/s";
        QTest::newRow("unknown type and speed 0") << 0 << 0 << "Unknown" << 255 << "Unknown";
        QTest::newRow("type 3 speed 5") << 3 << 5 << "Unknown" << 255 << "Unknown";
    }
    void ospFirstRecordSetsCapture()
    {
        QFETCH(int, type);
        QFETCH(int, speed);
        QFETCH(int, code);
        Frames f;
        FipStreamDecoder d(&f);
        const quint64 stamp = 1767225600123456ULL; // 2026-01-01 00:00:00.123456 UTC
        d.treatOstrakFlowOsp(ospPacket(1, 2, ospRecord(kId, ospStatus(type, speed), stamp)
                                           + ospRecord(kId, ospStatus(3 - type, 7 - speed), stamp + 10)));
        QTEST(d.state().frameTypeText, "typeText");
        QCOMPARE(int(d.state().speedCode), code);
        QTEST(d.state().speedText, "speedText");
        QCOMPARE(f.speeds, QList<quint8>{ quint8(code) });
        QCOMPARE(f.anchors, QList<quint64>{ stamp });
        QCOMPARE(d.state().captureStartText, QStringLiteral("2026-01-01 00:00:00.123"));
        QCOMPARE(d.state().lastRecordMs, qint64((stamp + 10) / 1000));
        QVERIFY(d.state().dataFlowing);
    }

    void ospDelays()
    {
        // FC and IFC are the length and gap counts over the bit time.
        FipStreamDecoder d;
        d.treatOstrakFlowOsp(ospPacket(1, 1, ospRecord(kId, ospStatus(1, 1), 5, 640, 3200))); // 32 µs bits
        QCOMPARE(d.state().fc, quint64(20));
        QCOMPARE(d.state().ifc, quint64(100));
        d.initAnalysisContext();
        d.treatOstrakFlowOsp(ospPacket(1, 1, ospRecord(kId, ospStatus(1, 4), 5, 7, 0xFFFFFF))); // 0.2 µs bits
        QCOMPARE(d.state().fc, quint64(35));
        QCOMPARE(d.state().ifc, quint64(0xFFFFFF) * 5);
        d.initAnalysisContext();
        d.treatOstrakFlowOsp(ospPacket(1, 1, ospRecord(kId, ospStatus(1, 0), 5, 7, 9))); // speed unknown
        QCOMPARE(d.state().fc + d.state().ifc, quint64(0));
    }

    void ospMalformedPackets_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("payload"); // bytes recorded raw
        const QByteArray a = ospRecord(kId, ospStatus(1, 2), 1);
        const QByteArray b = ospRecord(kAck, ospStatus(1, 2), 2);
        QTest::newRow("15 bytes ignored") << ospPacket(1, 1, QByteArray()).left(15) << 0 << -1;
        QTest::newRow("record truncated") << ospPacket(1, 2, a + b.left(b.size() - 1)) << 1 << a.size();
        QTest::newRow("more records announced than sent") << ospPacket(1, 3, a + b) << 2 << a.size() + b.size();
        QTest::newRow("fewer records announced") << ospPacket(1, 1, a + b) << 1 << a.size();
        QByteArray zero = a;
        zero[1] = zero[2] = 0;
        QTest::newRow("size field 0") << ospPacket(1, 2, b + zero) << 1 << b.size();
        QByteArray huge = a;
        huge[1] = huge[2] = char(0xFF);
        QTest::newRow("size beyond packet") << ospPacket(1, 2, b + huge) << 1 << b.size();
        QTest::newRow("header cut") << ospPacket(1, 2, b + a.left(2)) << 1 << b.size();
        QByteArray empty = ospRecord(Bytes{}, ospStatus(1, 2), 3);
        QTest::newRow("size 30 gives an empty frame") << ospPacket(1, 1, empty) << 1 << 30;
        QByteArray skip(1, char(0xC1));
        putBe(skip, 6, 2);
        skip.append("\xC0\xC0\xC0", 3);
        QTest::newRow("0xC1 skipped whole") << ospPacket(1, 3, a + skip + b) << 2 << a.size() + 6 + b.size();
        QByteArray unknown(1, char(0x55));
        putBe(unknown, 3, 2);
        QTest::newRow("unknown tag header only") << ospPacket(1, 3, a + unknown + b) << 2 << a.size() + 3 + b.size();
        QTest::newRow("bad magic") << QByteArray("XY") + ospPacket(1, 1, a).mid(2) << 0 << -1;
    }
    void ospMalformedPackets()
    {
        QFETCH(QByteArray, packet);
        QFETCH(int, payload);
        Frames f;
        RawBytes raw;
        FipStreamDecoder d(&f);
        d.setRawSink(&raw);
        d.treatOstrakFlowOsp(packet);
        QTEST(f.frames.size(), "frames");
        QCOMPARE(raw.bytes, payload < 0 ? QByteArray() : QByteArray(1, char(2)) + packet.mid(16, payload));
    }

    void ospCounterGaps_data()
    {
        QTest::addColumn<QList<quint64>>("counters");
        QTest::addColumn<int>("lost");
        QTest::newRow("continuous") << QList<quint64>{ 5, 6, 7, 8 } << 0;
        QTest::newRow("two skipped") << QList<quint64>{ 5, 6, 9, 10 } << 2;
        QTest::newRow("repeat") << QList<quint64>{ 5, 5, 6 } << 1;
        QTest::newRow("backwards twice") << QList<quint64>{ 5, 3, 1 } << 2;
        QTest::newRow("64-bit wrap") << QList<quint64>{ ~quint64(0), 0, 1 } << 0;
    }
    void ospCounterGaps()
    {
        QFETCH(QList<quint64>, counters);
        FipStreamDecoder d;
        quint64 stamp = 100;
        for (quint64 c : counters)
            d.treatOstrakFlowOsp(ospPacket(c, 1, ospRecord(kAck, ospStatus(1, 2), stamp++)));
        QTEST(int(d.counters().lostPackets), "lost");
        QCOMPARE(d.state().lastOspCounter, counters.last());
    }

    void ospHeaderOnlyPacketUpdatesCounter()
    {
        Frames f;
        FipStreamDecoder d(&f);
        d.treatOstrakFlowOsp(ospPacket(40, 1, ospRecord(kAck, ospStatus(1, 2), 1)));
        d.treatOstrakFlowOsp(ospPacket(41, 0, QByteArray()));
        QCOMPARE(d.state().lastOspCounter, quint64(41));
        QCOMPARE(f.frames.size(), 1);
        d.treatOstrakFlowOsp(ospPacket(42, 1, ospRecord(kAck, ospStatus(1, 2), 2)));
        QCOMPARE(d.counters().lostPackets, quint64(0));
    }

    void eventSeveralRecords()
    {
        Frames f;
        FipStreamDecoder d(&f);
        d.setCardSpeed(1);
        const QByteArray packet = eventRecord(1, tlvRecord(kId) + tlvRecord(kReply))
            + eventRecord(2, tlvRecord(kAck), 0xA000, true) + eventRecord(3, tlvRecord(kId));
        d.onOstrakDataReceived(1, packet);
        QCOMPARE(f.frames, (QList<QByteArray>{ toArray(kId), toArray(kReply), toArray(kAck), toArray(kId) }));
        QCOMPARE(f.speeds, QList<quint8>{ 1 });
        QCOMPARE(d.state().speedText, QStringLiteral("1 Mbits/s"));
        QCOMPARE(d.state().frameTypeText, QStringLiteral("FIP"));
        QCOMPARE(d.counters().lostPackets, quint64(0));
        QCOMPARE(d.counters().tlvNodes, quint64(4));
        QCOMPARE(d.counters().tlvTags[0x90], quint64(4));
    }

    void eventCounterGaps_data()
    {
        QTest::addColumn<QList<int>>("counters");
        QTest::addColumn<int>("lost");
        QTest::newRow("10 11 13") << QList<int>{ 10, 11, 13 } << 1;
        QTest::newRow("254 255 0 1") << QList<int>{ 254, 255, 0, 1 } << 0;
        QTest::newRow("254 255 0 2") << QList<int>{ 254, 255, 0, 2 } << 1;
        QTest::newRow("255 1") << QList<int>{ 255, 1 } << 1;
        QTest::newRow("repeat") << QList<int>{ 4, 4, 5, 5 } << 2;
        // Only frame-record events move the remembered counter: 11 is checked, not kept.
        QTest::newRow("other event between") << QList<int>{ 10, -11, 12 } << 1;
        QTest::newRow("other event out of step") << QList<int>{ 10, -20, 11 } << 9;
        QTest::newRow("189 skipped") << QList<int>{ 10, 200 } << 189;
    }
    void eventCounterGaps()
    {
        QFETCH(QList<int>, counters);
        FipStreamDecoder d;
        d.setCardSpeed(2);
        QByteArray packet;
        for (int c : counters) {
            if (c < 0)
                QTest::ignoreMessage(QtDebugMsg, QRegularExpression("ERROR SW"));
            packet += c < 0 ? eventRecord(quint8(-c), tlvRecord(kAck), 0x8001) : eventRecord(quint8(c), tlvRecord(kAck));
        }
        d.treatOstrakFlowIProtEvt(packet);
        QTEST(int(d.counters().lostPackets), "lost");
    }

    void eventRecordSplitAcrossEvents()
    {
        // A frame record cut between events decodes once all pieces are in.
        Frames f;
        FipStreamDecoder d(&f);
        d.setCardSpeed(1);
        const QByteArray data = tlvRecord(kId) + tlvRecord(kReply) + tlvRecord(kAck);
        const QList<QByteArray> whole{ toArray(kId), toArray(kReply), toArray(kAck) };
        for (int cut : { 1, 2, 3, 60, int(data.size()) - 1 }) {
            f.frames.clear();
            d.initAnalysisContext();
            d.treatOstrakFlowIProtEvt(eventRecord(0, data.left(cut)));
            d.treatOstrakFlowIProtEvt(eventRecord(1, data.mid(cut)));
            QCOMPARE(f.frames, whole);
            QCOMPARE(d.counters().truncatedRecords, quint64(0));
        }
        f.frames.clear();
        d.initAnalysisContext();
        d.treatOstrakFlowIProtEvt(eventRecord(0, data.left(10)) + eventRecord(1, data.mid(10, 10))
                                  + eventRecord(2, data.mid(20)));
        QCOMPARE(f.frames, whole);
    }

    // Each packet in turn; counters are lost, truncated, FIFO overflows, other events, malformed.
    void eventPacketFaults_data()
    {
        QTest::addColumn<QList<QByteArray>>("packets");
        QTest::addColumn<QString>("log");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QList<quint64>>("counts");
        const QByteArray whole = eventRecord(0, tlvRecord(kId));
        QTest::newRow("split record dropped after a gap")
            << QList<QByteArray>{ eventRecord(0, tlvRecord(kId) + tlvRecord(kReply).left(20)),
                                  eventRecord(2, tlvRecord(kAck)) }
            << QString() << 2 << QList<quint64>{ 1, 1, 0, 0, 0 };
        QTest::newRow("other identifiers dropped")
            << QList<QByteArray>{ whole + eventRecord(1, tlvRecord(kAck), 0x8001) + eventRecord(2, tlvRecord(kAck)) }
            << "[BRANTIX] IPROTOCOL EVENT FRAME - ERROR SW:  0x8001" << 2 << QList<quint64>{ 1, 0, 1, 1, 0 };
        QTest::newRow("truncated record") << QList<QByteArray>{ whole + eventRecord(1, tlvRecord(kAck)).left(12) }
                                          << QString() << 1 << QList<quint64>{ 0, 1, 0, 0, 0 };
        QTest::newRow("garbage ends the packet") << QList<QByteArray>{ QByteArray("\x13\x00\x01", 3) + whole }
                                                 << QString() << 0 << QList<quint64>{ 0, 0, 0, 0, 1 };
    }
    void eventPacketFaults()
    {
        QFETCH(QList<QByteArray>, packets);
        QFETCH(QString, log);
        Frames f;
        FipStreamDecoder d(&f);
        d.setCardSpeed(1);
        if (!log.isEmpty())
            QTest::ignoreMessage(QtDebugMsg, qPrintable(log));
        for (const QByteArray& p : packets)
            d.treatOstrakFlowIProtEvt(p);
        QTEST(f.frames.size(), "frames");
        QCOMPARE(f.frames.value(1, toArray(kAck)), toArray(kAck));
        const FipCaptureCounters& c = d.counters();
        QTEST((QList<quint64>{ c.lostPackets, c.truncatedRecords, c.fifoOverflows, c.otherEvents, c.malformedPackets }),
              "counts");
    }

    void eventClock()
    {
        // Time stamps: wall clock at the first record, then IFC and FC ticks.
        Frames f;
        FipStreamDecoder d(&f);
        qint64 wall = 1767225600000; // ms
        d.setClock([&] { return wall; });
        d.setCardSpeed(0); // 3.2 µs ticks
        d.treatOstrakFlowIProtEvt(eventRecord(0, tlvRecord(kId, 0, 10, 5) + tlvRecord(kReply, 0, 3, 7)
                                                      + tlvRecord(kAck, 0, 1, 1)));
        const quint64 anchor = quint64(wall) * 1000;
        QCOMPARE(f.anchors, QList<quint64>{ anchor });
        // (0 + 10) × 3.2 = 32, (15 + 3) × 3.2 = 57.6 → 58, (25 + 1) × 3.2 = 83.2 → 83
        QCOMPARE(f.stamps, (QList<quint64>{ anchor + 32, anchor + 58, anchor + 83 }));
        QCOMPARE(d.state().runningTicks, quint64(27));
    }

    void interruptionRowAndClockOffset()
    {
        Frames f;
        FipStreamDecoder d(&f);
        qint64 wall = 1767225600000;
        d.setClock([&] { return wall; });
        d.setCardSpeed(1);
        d.onOstrakNoTrafficDetected(); // nothing flowing yet
        QVERIFY(f.interruptions.isEmpty());
        for (int i = 0; i < 1000; ++i)
            d.treatOstrakFlowIProtEvt(eventRecord(quint8(i), tlvRecord(kAck, 0, 10, 0)));
        const quint64 last = f.stamps.last();
        QCOMPARE(last, quint64(wall) * 1000 + 1000);
        d.onOstrakNoTrafficDetected();
        d.onOstrakNoTrafficDetected(); // once per interruption
        QCOMPARE(f.interruptions.size(), 1);
        QCOMPARE(d.counters().trafficInterruptions, quint64(1));
        QCOMPARE(d.state().frameNumber, quint64(1001));
        const QList<QByteArray> fields = f.interruptions.first().chopped(1).split('\t');
        QCOMPARE(fields.size(), 22);
        QCOMPARE((QList<QByteArray>{ fields[1], fields[4], fields[5], fields[8], fields[13] }),
                 (QList<QByteArray>{ "1,001", "[2026-01-01] 00:00:00.001000", QByteArray::number(last), "ERROR",
                                     "Type: Traffic Interruption" }));
        // Traffic resumes 2.5 s later: the clock moves on by the pause.
        wall += 2500;
        d.treatOstrakFlowIProtEvt(eventRecord(0, tlvRecord(kAck, 0, 10, 0)));
        QCOMPARE(f.stamps.last(), last + 1 + 2500000);
        QVERIFY(d.state().dataFlowing);
        // After an interruption the event counter is not checked.
        QCOMPARE(d.counters().lostPackets, quint64(0));
    }

    // Raw recording keeps the frame records alone, joined across events; the debug
    // recording keeps the flow's whole packets, headers and counters included.
    void eventRecordings()
    {
        RawBytes raw, packets;
        FipStreamDecoder d;
        d.setCardSpeed(3);
        d.setRawSink(&raw);
        d.setPacketSink(&packets);
        const QByteArray a = tlvRecord(kId);
        const QByteArray b = tlvRecord(kAck);
        const QByteArray p1 = eventRecord(0, a) + eventRecord(1, b.left(5));
        const QByteArray p2 = eventRecord(2, b.mid(5)) + eventRecord(3, a, 0x8001, true);
        d.onOstrakDataReceived(1, p1);
        d.onOstrakDataReceived(1, QByteArray());
        d.onOstrakDataReceived(1, p2);
        d.onOstrakDataReceived(7, p1);
        QCOMPARE(raw.bytes, QByteArray("\x01\x03", 2) + a + b);
        QCOMPARE(packets.bytes, QByteArray(1, char(1)) + p1 + p2);
    }

    void rowHeader()
    {
        FipStreamDecoder d;
        qint64 wall = 1767225600000;
        d.setClock([&] { return wall; });
        d.setCardSpeed(0);
        QByteArray packet;
        for (int i = 0; i < 1233; ++i)
            packet += eventRecord(quint8(i), tlvRecord(kAck, 0, 0, 0));
        packet += eventRecord(quint8(1233), tlvRecord(kId, 0, 12345, 7));
        d.treatOstrakFlowIProtEvt(packet);
        TraceRow row = d.row();
        d.fillRowHeader(row);
        QCOMPARE(row.text(TraceRow::Number), QStringLiteral("1,234"));
        // 12345 × 3.2 µs = 39504 µs after the anchor
        QCOMPARE(row.text(TraceRow::AbsoluteDate), QStringLiteral("[2026-01-01] 00:00:00.039504"));
        QCOMPARE(row.text(TraceRow::AbsoluteDateTick), QString::number(quint64(wall) * 1000 + 39504));
        QCOMPARE(row.text(TraceRow::InterFrameDelay), QStringLiteral("39504.00 us"));
        QCOMPARE(row.text(TraceRow::FrameDelay), QStringLiteral("22.40 us"));
        QCOMPARE(row.text(TraceRow::Control), QStringLiteral("ID_DAT"));
    }

    void replayStopFlag()
    {
        Frames f;
        FipStreamDecoder d(&f);
        d.beginReplay(1, 1);
        QCOMPARE(f.speeds, QList<quint8>{ 1 });
        const QByteArray data = tlvRecord(kId) + tlvRecord(kAck);
        const quint8* p = reinterpret_cast<const quint8*>(data.constData());
        QCOMPARE(d.treatTlvFipStream(p, data.size(), nullptr, false), qint64(0));
        QVERIFY(f.frames.isEmpty());
        bool stop = true; // cleared on entry
        QCOMPARE(d.treatTlvFipStream(p, data.size(), &stop, true), qint64(data.size()));
        QCOMPARE(f.frames.size(), 2);
        // A truncated last record is dropped and counted at the end of a replay.
        QCOMPARE(d.treatTlvFipStream(p, data.size() - 1, &stop, false), qint64(data.size() - 1));
        QCOMPARE(f.frames.size(), 3);
        QCOMPARE(d.counters().truncatedRecords, quint64(1));
    }

    void fcsMatchesBitwiseReference_data()
    {
        QTest::addColumn<Bytes>("body");
        QTest::addColumn<bool>("fip");
        QTest::addColumn<int>("expected");
        QTest::newRow("ID_DAT 1234 FIP") << Bytes{ 0x03, 0x12, 0x34 } << true << 0xb569;
        QTest::newRow("ID_DAT 1234 WorldFIP") << Bytes{ 0x03, 0x12, 0x34 } << false << 0xbc01;
        QTest::newRow("RP_DAT FIP") << Bytes{ 0x02, 0x03, 0x05, 0xAA, 0x55 } << true << 0x33b5;
        QTest::newRow("RP_ACK WorldFIP") << Bytes{ 0x30 } << false << 0xd81d;
        QTest::newRow("nothing FIP") << Bytes{} << true << 0xffff;
        QTest::newRow("nothing WorldFIP") << Bytes{} << false << 0x0000;
        Bytes longBody(263);
        for (size_t i = 0; i < longBody.size(); ++i)
            longBody[i] = quint8(i * 7 + 1);
        QTest::newRow("263 bytes FIP") << longBody << true << int(referenceFcs(longBody, true));
        QTest::newRow("263 bytes WorldFIP") << longBody << false << int(referenceFcs(longBody, false));
    }
    void fcsMatchesBitwiseReference()
    {
        QFETCH(Bytes, body);
        QFETCH(bool, fip);
        QTEST(int(FipFcs::compute(body.data(), int(body.size()), fip)), "expected");
        QTEST(int(referenceFcs(body, fip)), "expected");
    }

    void sizeLimits_data()
    {
        QTest::addColumn<int>("control");
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("fits");
        // Two bytes are all FCS: never a valid frame of any family.
        struct Family {
            QList<int> codes;
            int min;
            int max;
        };
        const QList<Family> families = {
            { { 0x03, 0x05, 0x09, 0x29 }, 5, 5 },
            { { 0x02, 0x06, 0x0A, 0x0E, 0x2A, 0x2E }, 6, 131 },
            { { 0x08, 0x28 }, 5, 131 },
            { { 0x04, 0x14, 0x94 }, 9, 265 },
            { { 0x10, 0x30, 0x40, 0x90, 0xB0 }, 3, 3 },
        };
        for (const Family& f : families) {
            for (int code : f.codes) {
                const QByteArray name = QByteArray(FipControls::name(quint8(code)));
                for (int n : { f.min - 1, f.min, f.max, f.max + 1 }) {
                    if (n >= 3)
                        QTest::newRow(name + " n=" + QByteArray::number(n)) << code << n << (n >= f.min && n <= f.max);
                }
            }
        }
    }
    void sizeLimits()
    {
        QFETCH(int, control);
        QFETCH(int, size);
        QFETCH(bool, fits);
        FipStreamDecoder d;
        const Bytes f = frameOfSize(quint8(control), size);
        QCOMPARE(int(f.size()), size);
        feed(d, f);
        QCOMPARE(d.counters().invalidDataSizes, quint64(fits ? 0 : 1));
        QCOMPARE(d.counters().perControl[size_t(control)], quint64(1));
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.state().errDataSize, !fits);
        if (fits) {
            QCOMPARE(texts(d, { R::Control, R::DataLength }),
                     (QStringList{ FipControls::name(quint8(control)), QString::number(size - 3) }));
        } else {
            QCOMPARE(d.row().text(R::Control), QStringLiteral("ERROR"));
            QVERIFY(d.row().text(R::Data).startsWith(QStringLiteral("Type: Invalid Data Size - Data Rescue: ")));
        }
    }

    void identifierFrameRow()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        feed(d, frame({ 0x03, 0x12, 0x34 }));
        QVERIFY(r.last.ok && !r.last.error);
        QCOMPARE(texts(d, { R::Control, R::Identifier, R::DataLength, R::Data, R::Fcs }),
                 (QStringList{ "ID_DAT", "0x1234", "2", "12 34 ", "0xb569" }));
        QCOMPARE(r.identifiers, (QList<QPair<quint16, quint8>>{ { 0x1234, 0x03 } }));
        QCOMPARE(d.state().identifier, quint16(0x1234));
        // The first identifier frame itself counts for the per-pair maps.
        QCOMPARE(r.withoutError, 1);
        QCOMPARE(d.state().frameNumber, quint64(1));
    }

    void replyFrameRowAndHooks()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        // A reply before any identifier: decoded, but kept out of the per-pair maps.
        feed(d, frame({ 0x02, 0x40, 0x02, 0xAB, 0xCD }));
        QCOMPARE(r.replies, 1);
        QCOMPARE(r.withoutError, 0);
        feed(d, frame({ 0x03, 0x05, 0x10 }));
        feed(d, frame({ 0x02, 0x40, 0x02, 0xAB, 0xCD }));
        QCOMPARE(r.replies, 2);
        QCOMPARE(r.withoutError, 2);
        QCOMPARE(texts(d, { R::Control, R::Identifier, R::DataLength, R::Data, R::Pdu }),
                 (QStringList{ "RP_DAT", "0x0510", "4", "40 02 ab cd ", "SM_MPS" }));
        QCOMPARE(r.last.identifier, quint16(0x0510));
        QCOMPARE(r.last.control, quint8(0x02));
        QCOMPARE(r.done, 3);
    }

    void errorRows_data()
    {
        QTest::addColumn<Bytes>("frameBytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("ok");
        const Bytes id = frame({ 0x03, 0x12, 0x34 });
        const QString rescued = " - Data Rescue: 03 12 34 b5 69 ";
        Bytes badFcs = id;
        badFcs[4] ^= 0xFF;
        QTest::newRow("FCS error") << badFcs << 0
                                   << "Type: FCS Error [read = 0xb596, calculated = 0xb569] - Data Rescue: 03 12 34 b5 96 "
                                   << false;
        QTest::newRow("frame counter overflow") << id << 0x0010 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("inter frame counter overflow") << id << 0x0020 << "Type: Inter Frame Counter Overflow" + rescued << true;
        QTest::newRow("both overflows name FC") << id << 0x0030 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("glitch") << id << 0x0001 << "Type: PRE [Glitches]" + rescued << true;
        QTest::newRow("overflow before glitch") << id << 0x0011 << "Type: Frame Counter Overflow" + rescued << true;
        QTest::newRow("unknown FSD") << id << 0x0004 << "Type: Unknown FSD" + rescued << true;
        QTest::newRow("no FSD") << id << 0x0002 << "Type: No FSD" + rescued << true;
        QTest::newRow("glitch before FSD") << id << 0x0003 << "Type: PRE [Glitches]" + rescued << true;
        QTest::newRow("no FED") << id << 0x0008 << "Type: No FED" + rescued << true;
        const Bytes unknown = frame({ 0x55, 0x01 });
        QTest::newRow("unknown control") << unknown << 0 << "Type: Unknown Control [0x55] - Data Rescue: " + rescue(unknown) << false;
        const Bytes longAck = frameOfSize(0x30, 4);
        QTest::newRow("invalid data size") << longAck << 0 << "Type: Invalid Data Size - Data Rescue: " + rescue(longAck) << false;
        QTest::newRow("two bytes") << Bytes{ 0x30, 0x00 } << 0 << "Type: FCS Error [read = 0x3000, calculated = 0xffff] - Data Rescue: 30 00 " << false;
        QTest::newRow("status before FCS") << badFcs << 0x0004 << "Type: Unknown FSD - Data Rescue: 03 12 34 b5 96 " << false;
        QTest::newRow("bits without a flag") << id << 0xF8C0 << QString() << true;
    }
    void errorRows()
    {
        QFETCH(Bytes, frameBytes);
        QFETCH(int, status);
        QFETCH(QString, data);
        QFETCH(bool, ok);
        Recorder r;
        FipStreamDecoder d(&r);
        feed(d, frameBytes, quint16(status));
        QCOMPARE(r.last.ok, ok);
        QCOMPARE(r.last.error, !data.isEmpty());
        if (data.isEmpty()) {
            QCOMPARE(d.row().text(R::Control), QStringLiteral("ID_DAT"));
            QCOMPARE(d.counters().erroredTime, quint64(0));
            return;
        }
        // A frame that decoded keeps its identifier, length and FCS; a rejected one
        // leaves them empty rather than borrow the previous transaction's.
        const quint16 fcs = quint16((frameBytes[frameBytes.size() - 2] << 8) | frameBytes.back());
        QCOMPARE(texts(d, { R::Control, R::Data, R::Fcs, R::Identifier, R::DataLength }),
                 ok ? (QStringList{ "ERROR", data, QStringLiteral("0x%1").arg(fcs, 4, 16, QLatin1Char('0')), "0x1234", "2" })
                    : (QStringList{ "ERROR", data, "", "", "" }));
        QCOMPARE(r.withoutError, 0);
    }

    void noFedHidesFcsError()
    {
        FipStreamDecoder d;
        Bytes f = frame({ 0x03, 0x12, 0x34 });
        f.back() ^= 1;
        feed(d, f, 0x0008);
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.counters().noFedErrors, quint64(1));
        QVERIFY(!d.state().errFcs);
        feed(d, f, 0);
        QCOMPARE(d.counters().fcsErrors, quint64(1));
        QCOMPARE(d.state().control, quint8(0x03));
    }

    void emptyFrame()
    {
        Recorder r;
        FipStreamDecoder d(&r);
        d.treatFipFrame(nullptr, 0, 0, 0, 0);
        QVERIFY(!r.last.ok && !r.last.error);
        QCOMPARE(r.done, 1);
        d.treatFipFrame(nullptr, 0, 0x0001, 0, 0);
        QVERIFY(r.last.error);
        QCOMPARE(d.row().text(R::Data), QStringLiteral("Type: PRE [Glitches] - Data Rescue: None"));
        QCOMPARE(d.state().frameNumber, quint64(2));
    }

    void worldFipPolynomial()
    {
        // The FCS polynomial follows the frame type of the first Osp record.
        FipStreamDecoder d;
        d.treatOstrakFlowOsp(ospPacket(1, 1, ospRecord(frame({ 0x03, 0x12, 0x34 }, false), ospStatus(2, 2), 1000)));
        QCOMPARE(d.state().frameTypeText, QStringLiteral("WorldFIP"));
        QCOMPARE(d.counters().fcsErrors, quint64(0));
        QCOMPARE(d.row().text(R::Fcs), QStringLiteral("0xbc01"));
        d.treatOstrakFlowOsp(ospPacket(2, 1, ospRecord(frame({ 0x03, 0x12, 0x34 }, true), ospStatus(2, 2), 2000)));
        QCOMPARE(d.counters().fcsErrors, quint64(1));
    }

    void paddingIdentifiers_data()
    {
        QTest::addColumn<bool>("fixed");
        QTest::addColumn<int>("padding");
        QTest::addColumn<int>("id");
        QTest::addColumn<bool>("expected");
        QTest::newRow("presence 14FF") << false << 0 << 0x14FF << true;
        QTest::newRow("1000 alone") << false << 0 << 0x1000 << false;
        QTest::newRow("0400 alone") << false << 0 << 0x0400 << false;
        QTest::newRow("1400") << false << 0 << 0x1400 << true;
        QTest::newRow("fixed match") << true << 0x0123 << 0x0123 << true;
        QTest::newRow("fixed, presence id") << true << 0x0123 << 0x14FF << false;
    }
    void paddingIdentifiers()
    {
        QFETCH(bool, fixed);
        QFETCH(int, padding);
        QFETCH(int, id);
        FipStreamDecoder d;
        d.setPaddingRule(fixed, quint16(padding));
        QTEST(d.isPaddingId(quint16(id)), "expected");
    }

    void durationsByKind()
    {
        // TLV records carry IFC and FC; each identifier kind adds its ticks.
        FipStreamDecoder d;
        d.setCardSpeed(1);
        QByteArray data;
        data += tlvRecord(frame({ 0x03, 0x14, 0xFF }), 0, 10, 5);   // ID_DAT, padding
        data += tlvRecord(frame({ 0x05, 0x00, 0x01 }), 0, 20, 7);   // ID_MSG
        data += tlvRecord(frame({ 0x29, 0x00, 0x02 }), 0, 30, 9);   // ID_RQ1
        data += tlvRecord(frame({ 0x09, 0x00, 0x03 }), 0, 40, 11);  // ID_RQ2
        data += tlvRecord(frame({ 0x03, 0x00, 0x04 }), 0x0001, 50, 13); // errored
        d.treatOstrakFlowIProtEvt(eventRecord(0, data));
        const FipCaptureCounters& c = d.counters();
        QCOMPARE((QList<quint64>{ c.idDatTime, c.paddingTime, c.idMsgTime, c.idRqTime, c.erroredTime, c.preGlitches }),
                 (QList<quint64>{ 15 + 63, 15, 27, 39 + 51, 63, 1 }));
    }

    // A padding transaction that gets an answer: the ID_DAT is the padding frame,
    // its RP_DAT stays an ordinary reply.
    void onlyThePaddingRequestIsAPaddingFrame()
    {
        FipStreamDecoder d;
        d.setPaddingRule(true, 0x9080);
        feed(d, frame({ 0x03, 0x90, 0x80 }));
        feed(d, frame({ 0x02, 0x40, 0x01, 0x00 }));
        feed(d, frame({ 0x03, 0x90, 0x80 }));
        QCOMPARE(d.counters().paddingFrames, quint64(2));
        QCOMPARE(d.counters().paddingPerControl[0x03], quint64(2));
        QCOMPARE(d.counters().paddingPerControl[0x02], quint64(0));
    }

    // Exactly the 20 control codes of the bus are known; any other byte is an unknown control.
    void controlTable()
    {
        int known = 0;
        for (int b = 0; b < 256; ++b)
            known += FipControls::isKnown(quint8(b)) ? 1 : 0;
        QCOMPARE(known, 20);
        QVERIFY(FipControls::name(0x55) == nullptr);
    }

    // Counts grouped by thousands and delays in hundredths, as the locale and printf write them.
    void numberTexts()
    {
        for (quint64 value : { quint64(0), quint64(2), quint64(320), quint64(999), quint64(1000), quint64(123456),
                               quint64(1234567), ~quint64(0) }) {
            std::string grouped, centi;
            TraceFormat::appendGrouped(grouped, value);
            QCOMPARE(QString::fromStdString(grouped), QLocale(QLocale::English).toString(value));
            TraceFormat::appendCentiMicros(centi, value);
            if (value < (quint64(1) << 53)) // exact in a double
                QCOMPARE(QString::fromStdString(centi), QString::asprintf("%4.2f us", double(value) / 100.0));
        }
    }

    void dateText_data()
    {
        QTest::addColumn<quint64>("micros");
        QTest::addColumn<QString>("text");
        QTest::newRow("epoch") << quint64(0) << "[1970-01-01] 00:00:00.000000";
        QTest::newRow("micro digits") << quint64(1767225600123456ULL) << "[2026-01-01] 00:00:00.123456";
        QTest::newRow("small remainder") << quint64(1767225661001002ULL) << "[2026-01-01] 00:01:01.001002";
    }
    void dateText()
    {
        QFETCH(quint64, micros);
        TraceFormat::DateText date;
        std::string out;
        date.append(out, micros);
        QTEST(QString::fromStdString(out), "text");
        // The cached second must not leak into the next one.
        out.clear();
        date.append(out, micros + 1000000);
        const QDateTime next = QDateTime::fromMSecsSinceEpoch(qint64((micros + 1000000) / 1000));
        QCOMPARE(QString::fromStdString(out),
                 next.toString(QStringLiteral("[yyyy-MM-dd] hh:mm:ss.zzz")) + QStringLiteral("%1").arg(micros % 1000, 3, 10, QLatin1Char('0')));
    }

    void textsCannotSplitTheLine()
    {
        TraceRow row;
        row.setText(TraceRow::Mnemonic, QStringLiteral("a\tb\nc\rd é"));
        QCOMPARE(row.text(TraceRow::Mnemonic), QStringLiteral("a b c d é"));
        QCOMPARE(row.line().count('\t'), 21);
        QCOMPARE(row.line().count('\n'), 1);
        row.clear();
        QCOMPARE(row.line(), QByteArray(21, '\t') + '\n');
    }

    void fromLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QByteArray>("value");
        TraceRow full;
        for (int c = 0; c < TraceRow::FieldCount; ++c)
            full.field(c) = "f" + std::to_string(c);
        QTest::newRow("full first") << full.line() << 0 << QByteArray("f0");
        QTest::newRow("full last") << full.line() << 21 << QByteArray("f21");
        QTest::newRow("CRLF") << QByteArray("a\tb\r\n") << 1 << QByteArray("b");
        QTest::newRow("short line") << QByteArray("a\tb") << 5 << QByteArray();
        QTest::newRow("extra fields") << full.line().chopped(1) + "\textra\n" << 21 << QByteArray("f21");
    }
    void fromLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, column);
        const TraceRow row = TraceRow::fromLine(line);
        QTEST(QByteArray::fromStdString(row.field(column)), "value");
    }
};

QTEST_GUILESS_MAIN(TestFipStreamDecoder)
#include "tst_fipstreamdecoder.moc"
