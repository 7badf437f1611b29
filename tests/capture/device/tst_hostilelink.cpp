// The remote capture link against a hostile server on loopback: bad bytes, cut
// packets, wild lengths and lost datagrams between valid traffic. Nothing may
// crash, hold memory beyond the link's cap or stop the decoding: the frames of
// the valid packets are decoded, and the fault shows in the capture's counters.
// The link's packet splitter on hand-made inputs: whole packets go out in order
// whatever the reads, anything else is dropped and counted.

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakStreamSplitter.h"
#include "tests/capture/device/CardRun.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>

namespace {

constexpr int kFramesPerPacket = 16;
constexpr int kPackets = 800;
constexpr int kFaultEvery = 40; // packets between two faults

struct Piece
{
    QByteArray bytes;
    int delayMs = 0; // before it is sent
};

// What the server sends, and the frames of the packets it sent whole.
struct Script
{
    QList<Piece> pieces;
    qint64 validFrames = 0;
    int skippedPackets = 0;
};

QByteArray garbage(int size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        c = char(seed >> 24);
    }
    return out;
}

QByteArray putBe16(QByteArray bytes, int at, int value)
{
    bytes[at] = char(value >> 8);
    bytes[at + 1] = char(value);
    return bytes;
}

// Valid packets of `flow` with a fault every kFaultEvery packets. A faulty packet's
// frames are not counted as valid; with datagrams, each piece is one datagram.
Script makeScript(int flow, const QString& fault, bool datagrams)
{
    FipTrafficGenerator generator(1, 2, 1767225600000000ULL);
    Script s;
    quint64 counter = 1;
    for (int i = 0; i < kPackets; ++i) {
        QByteArray records;
        QByteArray lastRecord;
        for (int f = 0; f < kFramesPerPacket; ++f) {
            const FipFrame frame = generator.next();
            lastRecord = flow == 2 ? FipRecordEncoder::ospRecord(frame) : FipRecordEncoder::tlvRecord(frame);
            records += lastRecord;
        }
        const QByteArray packet = flow == 2 ? FipRecordEncoder::ospPacket(counter, kFramesPerPacket, records)
                                            : FipRecordEncoder::eventRecord(quint8(counter), 0xA000, records);
        ++counter;
        const bool faulty = i % kFaultEvery == kFaultEvery / 2;
        if (!faulty) {
            s.pieces.append({ packet });
            s.validFrames += kFramesPerPacket;
            continue;
        }
        if (fault == "garbage") {
            s.pieces.append({ garbage(100, quint32(i + 1)) });
            s.pieces.append({ packet });
            s.validFrames += kFramesPerPacket;
        } else if (fault == "truncated") {
            s.pieces.append({ packet.left(packet.size() / 2) });
        } else if (fault == "record past packet") {
            // The last record claims 200 bytes more than it has.
            const int at = packet.size() - lastRecord.size() + 1;
            s.pieces.append({ putBe16(packet, at, (flow == 2 ? lastRecord.size() : lastRecord.size() - 3) + 200) });
        } else if (fault == "zero-length record") {
            s.pieces.append({ putBe16(packet, 16 + 1, 0) });
        } else if (fault == "2^32-1 records") {
            QByteArray header = FipRecordEncoder::ospPacket(counter - 1, 0, QByteArray());
            header[12] = header[13] = header[14] = header[15] = char(0xFF);
            s.pieces.append({ header });
            s.pieces.append({ packet });
            s.validFrames += kFramesPerPacket;
        } else if (fault == "split over datagrams") {
            s.pieces.append({ packet.left(100) });
            s.pieces.append({ packet.mid(100) });
        } else if (fault == "78% lost") {
            // Only one packet in five of the next ones arrives.
            for (int lost = 0; lost < 4; ++lost, ++counter)
                ++s.skippedPackets;
            s.pieces.append({ flow == 2 ? FipRecordEncoder::ospPacket(counter - 1, kFramesPerPacket, records)
                                        : FipRecordEncoder::eventRecord(quint8(counter - 1), 0xA000, records) });
            s.validFrames += kFramesPerPacket;
        }
    }
    // Pieces of a stream may be glued; datagrams are sent one by one.
    if (!datagrams) {
        QList<Piece> glued;
        for (const Piece& p : s.pieces) {
            if (!glued.isEmpty() && glued.last().bytes.size() < 4096 && p.delayMs == 0)
                glued.last().bytes += p.bytes;
            else
                glued.append(p);
        }
        s.pieces = glued;
    }
    return s;
}

// Counts the frames decoded without error, as the analysis would take them.
struct GoodFrames : FipDecoderListener
{
    qint64 good = 0;
    void onFrameDone(const FipFrameInfo& frame, TraceRow&) override { good += !frame.error; }
};

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

// The card feeding the decoder as the main window's does.
struct Capture
{
    GoodFrames frames;
    FipStreamDecoder decoder{ &frames };
    int interruptions = 0;
    CardRun run{ new OstrakCard };
    OstrakCard* card = run.card;

    Capture()
    {
        decoder.setCardSpeed(1);
        run.onData = [this](int flow, const QByteArray& data) { decoder.onOstrakDataReceived(flow, data); };
        run.onFaults = [this](qulonglong faults, qulonglong bytes) { decoder.onStreamFaults(faults, bytes); };
        run.onNoTraffic = [this] {
            ++interruptions;
            decoder.onOstrakNoTrafficDetected();
        };
    }
};

// A one-client TCP server on 127.0.0.1 that sends the pieces and closes.
class ScriptServer
{
public:
    explicit ScriptServer(const QList<Piece>& pieces)
    {
        m_thread.reset(QThread::create([this, pieces] {
            QTcpServer listener;
            listener.listen(QHostAddress(QHostAddress::LocalHost), 0);
            m_port = listener.serverPort();
            if (!listener.waitForNewConnection(5000))
                return;
            QTcpSocket* client = listener.nextPendingConnection();
            for (const Piece& p : pieces) {
                if (p.delayMs)
                    QThread::msleep(unsigned(p.delayMs));
                client->write(p.bytes);
                while (client->bytesToWrite() > 0 && client->state() == QAbstractSocket::ConnectedState)
                    client->waitForBytesWritten(100);
            }
            client->disconnectFromHost();
            if (client->state() != QAbstractSocket::UnconnectedState)
                client->waitForDisconnected(1000);
        }));
        m_thread->start();
        while (m_port == 0 && m_thread->isRunning())
            QThread::msleep(1);
    }
    ~ScriptServer() { m_thread->wait(); }
    quint16 port() const { return m_port; }

private:
    std::unique_ptr<QThread> m_thread;
    std::atomic<quint16> m_port{ 0 };
};

class TestHostileLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Counter and stream lines would flood the log.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
            if (type != QtDebugMsg && type != QtInfoMsg)
                fprintf(stderr, "%s\n", qPrintable(text));
        });
    }

    void decodingResumes_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<int>("flow");
        QTest::addColumn<QString>("fault");
        for (int flow : { 1, 2 }) {
            const char* name = flow == 1 ? "events" : "osp";
            for (const char* fault : { "garbage", "truncated", "record past packet" }) {
                QTest::addRow("tcp %s %s", name, fault) << false << flow << fault;
                QTest::addRow("udp %s %s", name, fault) << true << flow << fault;
            }
            QTest::addRow("udp %s 78%% lost", name) << true << flow << "78% lost";
        }
        QTest::newRow("tcp osp zero-length record") << false << 2 << "zero-length record";
        QTest::newRow("tcp osp 2^32-1 records") << false << 2 << "2^32-1 records";
        QTest::newRow("udp osp split over datagrams") << true << 2 << "split over datagrams";
    }
    void decodingResumes()
    {
        QFETCH(bool, udp);
        QFETCH(int, flow);
        QFETCH(QString, fault);
        const Script script = makeScript(flow, fault, udp);
        Capture capture;
        std::unique_ptr<ScriptServer> server;
        QUdpSocket sender;
        quint16 port = 0;
        if (udp) {
            QCOMPARE(capture.card->remotelyUdpOpen(0, QStringLiteral("127.0.0.1")), 0);
            port = capture.card->findChild<QUdpSocket*>()->localPort();
        } else {
            server.reset(new ScriptServer(script.pieces));
            QCOMPARE(capture.card->remotelyTcpOpen(QStringLiteral("127.0.0.1"), server->port()), 0);
        }
        capture.run.start();
        if (udp) {
            int n = 0;
            for (const Piece& p : script.pieces) {
                QCOMPARE(sender.writeDatagram(p.bytes, QHostAddress(QHostAddress::LocalHost), port), qint64(p.bytes.size()));
                if (++n % 32 == 0)
                    QThread::msleep(1); // a pace the loopback buffers hold
            }
            // Until every valid frame is in, or nothing more comes.
            for (qint64 seen = -1; capture.frames.good < script.validFrames && capture.frames.good != seen;) {
                seen = capture.frames.good;
                pumpEvents(300);
            }
            QVERIFY(capture.run.stop(5000));
        } else {
            QVERIFY(capture.run.waitStopped(10000));
            QCOMPARE(capture.card->getLastError(), OstrakCard::ErrStreamEnded);
        }

        const FipCaptureCounters& counters = capture.decoder.counters();
        QVERIFY2(capture.frames.good * 100 >= script.validFrames * 99,
                 qPrintable(QStringLiteral("%1 of %2 valid frames decoded").arg(capture.frames.good).arg(script.validFrames)));
        QVERIFY(capture.card->bufferPeak() <= OstrakStreamSplitter::kMaxInput);
        // The fault shows among the acquisition errors.
        QVERIFY(counters.lostPackets + counters.streamErrors() > 0);
        if (script.skippedPackets)
            QCOMPARE(counters.lostPackets, quint64(script.skippedPackets));
    }

    // A server that sends one byte now and then never completes a packet: that is no traffic.
    void trickleRaisesInterruption()
    {
        const Script script = makeScript(1, QString(), false);
        QList<Piece> pieces{ script.pieces.first() };
        for (int i = 0; i < 6; ++i)
            pieces.append({ QByteArray(1, char(0x40)), 400 });
        ScriptServer server(pieces);
        Capture capture;
        QCOMPARE(capture.card->remotelyTcpOpen(QStringLiteral("127.0.0.1"), server.port()), 0);
        capture.run.start();
        QVERIFY(capture.run.waitStopped(10000));
        QVERIFY(capture.interruptions >= 1);
        QCOMPARE(capture.decoder.counters().trafficInterruptions, quint64(1));
    }

    // Loopback stays loopback: another loopback address may still take the port. A port
    // already taken is refused with the reason.
    void udpListensOnLoopbackAndReportsPortTaken()
    {
        OstrakCard card;
        QCOMPARE(card.remotelyUdpOpen(0, QStringLiteral("127.0.0.1")), 0);
        const quint16 port = card.findChild<QUdpSocket*>()->localPort();
        QUdpSocket other;
        QVERIFY(other.bind(QHostAddress(QStringLiteral("127.0.0.2")), port));

        OstrakCard second;
        QCOMPARE(second.remotelyUdpOpen(port, QStringLiteral("127.0.0.1")), OstrakCard::ErrUdpBind);
        QVERIFY(!second.udpBindError().isEmpty());
        QVERIFY(!second.isRemotelyConnected());
        QCOMPARE(card.close(), 0);
    }

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

QTEST_MAIN(TestHostileLink)
#include "tst_hostilelink.moc"
