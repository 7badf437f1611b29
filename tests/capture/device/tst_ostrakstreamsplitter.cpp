// The remote link's packet splitter on hand-made inputs: whole packets go out
// in order whatever the reads, anything else is dropped and counted, and no
// length a peer sends makes it hold more than a packet.

#include "capture/device/OstrakStreamSplitter.h"

#include "FipRecordEncoder.h"

#include <QtTest>

namespace {

using FipRecordEncoder::eventRecord;
using FipRecordEncoder::ospPacket;

QByteArray ospFrameRecord(int dataBytes)
{
    QByteArray r(30 + dataBytes, char(0x11));
    r[0] = char(0xC0);
    r[1] = char((30 + dataBytes) >> 8);
    r[2] = char(30 + dataBytes);
    return r;
}

const QByteArray kOsp1 = ospPacket(1, 2, ospFrameRecord(5) + ospFrameRecord(3));
const QByteArray kOsp2 = ospPacket(2, 1, ospFrameRecord(8));
const QByteArray kEvt1 = eventRecord(1, 0xA000, QByteArray(40, char(0x22)));
const QByteArray kEvt2 = eventRecord(2, 0xA000, QByteArray(9, char(0x33)), true, 7);

} // namespace

class TestOstrakStreamSplitter : public QObject
{
    Q_OBJECT

private slots:
    void packetsWhateverTheReads_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QByteArray>("packets");
        QTest::addColumn<int>("lostBytes");
        QTest::addColumn<int>("faults");
        const QByteArray junk("\x01\x02\x03\x04\x05", 5);
        QByteArray zero = kOsp1;
        zero[17] = zero[18] = 0;
        QByteArray count = kOsp2;
        count[12] = count[13] = count[14] = count[15] = char(0xFF);
        QByteArray tag = kOsp1;
        tag[16] = char(0x55);
        QTest::newRow("osp clean") << 2 << kOsp1 + kOsp2 << kOsp1 + kOsp2 << 0 << 0;
        QTest::newRow("osp garbage between") << 2 << kOsp1 + junk + kOsp2 << kOsp1 + kOsp2 << 5 << 1;
        QTest::newRow("osp cut packet") << 2 << kOsp1.left(40) + kOsp2 << kOsp2 << 40 << 1;
        QTest::newRow("osp zero-length record") << 2 << zero + kOsp2 << kOsp2 << zero.size() << 1;
        QTest::newRow("osp 2^32-1 records") << 2 << count + kOsp1 << kOsp1 << count.size() << 1;
        QTest::newRow("osp unknown record tag") << 2 << tag + kOsp2 << kOsp2 << tag.size() << 1;
        QTest::newRow("events clean") << 1 << kEvt1 + kEvt2 << kEvt1 + kEvt2 << 0 << 0;
        QTest::newRow("events garbage between") << 1 << kEvt1 + junk + kEvt2 << kEvt1 + kEvt2 << 5 << 1;
        QTest::newRow("events cut packet") << 1 << kEvt1.left(20) + kEvt2 + kEvt1 << kEvt2 + kEvt1 << 20 << 1;
        QTest::newRow("events unknown event") << 1 << eventRecord(1, 0x1234, "ab") + kEvt2 << kEvt2 << 9 << 1;
    }
    void packetsWhateverTheReads()
    {
        QFETCH(int, flow);
        QFETCH(QByteArray, stream);
        QFETCH(QByteArray, packets);
        for (int read : { 1, 3, 17, int(stream.size()) }) {
            OstrakStreamSplitter splitter(flow);
            QByteArray output;
            for (int at = 0; at < stream.size(); at += read) {
                splitter.append(stream.constData() + at, std::min(read, int(stream.size()) - at));
                splitter.split(&output);
            }
            QCOMPARE(output, packets);
            QTEST(int(splitter.lostBytes()), "lostBytes");
            QTEST(int(splitter.faults()), "faults");
            QCOMPARE(splitter.pending(), 0);
        }
    }

    // A datagram is never continued in the next one: a packet over two is lost, two in one are kept.
    void datagramsAreNeverJoined()
    {
        OstrakStreamSplitter splitter(2);
        QByteArray output;
        QVERIFY(!splitter.splitDatagram(kOsp1.constData(), 20, &output));
        QVERIFY(!splitter.splitDatagram(kOsp1.constData() + 20, kOsp1.size() - 20, &output));
        QVERIFY(output.isEmpty());
        QCOMPARE(splitter.lostBytes(), quint64(kOsp1.size()));
        const QByteArray two = kOsp1 + kOsp2;
        QVERIFY(splitter.splitDatagram(two.constData(), two.size(), &output));
        QCOMPARE(output, two);
    }

    // A packet announced as large as the format lets it be is waited for; a larger one is not.
    void heldBytesBounded()
    {
        OstrakStreamSplitter splitter(2);
        QByteArray output;
        QByteArray header = ospPacket(1, OstrakStreamSplitter::kMaxOspRecords, QByteArray());
        QByteArray record(3, char(0xC1));
        record[1] = 0;
        record[2] = 3;
        splitter.append(header.constData(), header.size());
        for (int i = 0; i < 1 << 19; ++i) {
            splitter.append(record.constData(), 3);
            if (i % 4096 == 0)
                splitter.split(&output);
        }
        splitter.split(&output);
        QCOMPARE(output.size(), 16 + 3 * int(OstrakStreamSplitter::kMaxOspRecords));
        QVERIFY(splitter.peak() <= OstrakStreamSplitter::kMaxOspPacket + 4096 * 3);
    }
};

QTEST_GUILESS_MAIN(TestOstrakStreamSplitter)
#include "tst_ostrakstreamsplitter.moc"
