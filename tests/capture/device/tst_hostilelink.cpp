// The remote capture link against a hostile server on loopback: bad bytes, cut
// packets, wild lengths and lost datagrams between valid traffic. Nothing may
// crash, hold memory beyond the link's cap or stop the decoding: the frames of
// the valid packets are decoded, and the fault shows in the capture's counters.

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

    void decodingResumes_data();
    void decodingResumes();
    void trickleRaisesInterruption();
    void udpListensOnLoopbackAndReportsPortTaken();
};

void TestHostileLink::decodingResumes_data()
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

void TestHostileLink::decodingResumes()
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
void TestHostileLink::trickleRaisesInterruption()
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
void TestHostileLink::udpListensOnLoopbackAndReportsPortTaken()
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

QTEST_MAIN(TestHostileLink)
#include "tst_hostilelink.moc"
