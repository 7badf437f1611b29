// The capture card and the simulated bus it listens to. The simulated bus: frames
// the decoder will accept, in the order and timing of a real scan, and the card's
// two record encodings of them. The card against the simulated card libraries and
// against the remote capture server over real loopback sockets, its read loop on a
// capture thread handing packets to this thread through a blocking queued
// connection. The remote capture link against a hostile server on loopback: bad
// bytes, cut packets, wild lengths and lost datagrams between valid traffic.
// Nothing may crash, hold memory beyond the link's cap or stop the decoding: the
// frames of the valid packets are decoded, and the fault shows in the capture's
// counters. The link's packet splitter on hand-made inputs: whole packets go out
// in order whatever the reads, anything else is dropped and counted.

#include "capture/decoder/FipFcs.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "capture/device/OsSelectionDialog.h"
#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakStreamSplitter.h"
#include "tests/capture/device/CardRun.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"
#include "FipTrafficPacer.h"
#include "OstrakServer.h"
#include "OstrakSimulator.h"
#include "kiverrors.h"

#include <QComboBox>
#include <QLabel>
#include <QMutex>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>
#include <QtTest>

#include <atomic>

namespace {

QMutex logMutex;
QStringList logLines;
QtMessageHandler previousHandler = nullptr;

void collectLog(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    {
        QMutexLocker lock(&logMutex);
        logLines.append(text);
    }
    if (type != QtDebugMsg && type != QtInfoMsg)
        previousHandler(type, context, text);
}

int logCount(const QString& part)
{
    QMutexLocker lock(&logMutex);
    int n = 0;
    for (const QString& l : qAsConst(logLines))
        n += l.contains(part);
    return n;
}

// Event records of the board protocol, parsed here independently of the card.
struct EventRecord {
    quint8 cp;
    quint16 id;
    QByteArray data;
    int size; // header, data and trailer
};

QVector<EventRecord> eventRecords(const QByteArray& stream, bool* whole)
{
    QVector<EventRecord> out;
    int pos = 0;
    while (pos + 7 <= stream.size()) {
        const quint8 marker = quint8(stream.at(pos));
        const int n = int(FipRecordEncoder::readBigEndian(stream.constData() + pos + 5, 2));
        const int size = 7 + n + (marker == 0x41 ? 2 : 0);
        if (pos + size > stream.size())
            break;
        out.append({ quint8(stream.at(pos + 2)),
                     quint16(FipRecordEncoder::readBigEndian(stream.constData() + pos + 3, 2)),
                     stream.mid(pos + 7, n), size });
        pos += size;
    }
    *whole = pos == stream.size();
    return out;
}

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

// Hand-overs hold whole packets, and one under the hand-over size only before a no-traffic report or at the end.
void checkHandOvers(const CardRun& rx, const QSet<qint64>& boundaries)
{
    for (qint64 off : rx.offsets)
        QVERIFY2(boundaries.contains(off), qPrintable(QString("hand-over starts inside a packet at %1").arg(off)));
    for (int i = 0; i + 1 < rx.events.size(); ++i) {
        if (rx.events[i] >= 0 && rx.events[i] < OstrakCard::kHandOverSize)
            QVERIFY2(rx.events[i + 1] == -1, qPrintable(QString("short hand-over %1 at %2").arg(rx.events[i]).arg(i)));
    }
}

QByteArray expectedStream(const OstrakPacketSource::Settings& s, QSet<qint64>* boundaries)
{
    OstrakPacketSource source(s);
    QByteArray all, packet;
    int frames = 0;
    quint64 us = 0;
    boundaries->insert(0);
    while (source.next(&packet, &frames, &us)) {
        all.append(packet);
        boundaries->insert(all.size());
    }
    return all;
}

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

class TestCaptureDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(collectLog);
    }
    void init()
    {
        OstrakSimulator::reset();
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }

    void flowType_data()
    {
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<int>("flow");
        QTest::newRow("2 bytes OS") << QByteArray("OS") << 0;
        QTest::newRow("Osp") << QByteArray("OS\x01", 3) << 2;
        QTest::newRow("0x41") << QByteArray("\x41\x00\x00", 3) << 1;
        QTest::newRow("0x40") << QByteArray("\x40\x00\x00", 3) << 1;
        QTest::newRow("speed digit") << QByteArray("3\x40\x00", 3) << 0;
    }
    void flowType()
    {
        QFETCH(QByteArray, packet);
        QTEST(OstrakCard::whatFlowType(packet), "flow");
    }

    // Packets leave the accumulator only when whole.
    void eventSplitter_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("taken");
        const QByteArray p41 = FipRecordEncoder::eventRecord(7, 0xA000, QByteArray(4, 'x'), true, 0x1234);
        QTest::newRow("0x41 complete") << p41 << 13;
        QTest::newRow("0x41 one byte short") << p41.left(12) << 0;
        QTest::newRow("header short") << p41.left(6) << 0;
        QTest::newRow("0x40 empty, then part") << FipRecordEncoder::eventRecord(1, 0xA000, QByteArray()) + p41.left(3) << 7;
    }
    void eventSplitter()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, taken);
        const QByteArray original = input;
        QByteArray output;
        quint64 last = 0;
        bool started = false, more = true;
        while (more)
            QVERIFY(OstrakCard::treatIProtEvtPkt(&input, &output, &last, &started, &more));
        QCOMPARE(output, original.left(taken));
        QCOMPARE(input, original.mid(taken));
    }

    void counterErrors_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<QVector<quint64>>("counters");
        QTest::addColumn<QString>("line"); // the only counter error logged
        QTest::newRow("event wrap") << 1 << QVector<quint64>{ 254, 255, 0, 2 }
                                    << "[OSC] Counter error 1 ! cpFrame: 0 / eventCp: 2";
        QTest::newRow("event after 255") << 1 << QVector<quint64>{ 254, 255, 1 }
                                         << "[OSC] Counter error 0 ! cpFrame: 255 / eventCp: 1";
        QTest::newRow("osp") << 2 << QVector<quint64>{ 0xFFFFFFFFULL, 0x100000000ULL, 0x100000002ULL }
                             << "[OSC] Counter error 1 ! cpFrame: 4294967296 / ospFrmCnt: 4294967298";
    }
    void counterErrors()
    {
        QFETCH(int, flow);
        QFETCH(QVector<quint64>, counters);
        QFETCH(QString, line);
        QByteArray input;
        for (quint64 c : counters) {
            input += flow == 1 ? FipRecordEncoder::eventRecord(quint8(c), 0xA000, "ab")
                               : FipRecordEncoder::ospPacket(c, 0, QByteArray());
        }
        QByteArray output;
        quint64 last = 0;
        bool started = false, more = true;
        while (more) {
            if (flow == 1)
                OstrakCard::treatIProtEvtPkt(&input, &output, &last, &started, &more);
            else
                OstrakCard::treatOspPkt(&input, &output, &last, &started, &more);
        }
        QVERIFY(input.isEmpty());
        QCOMPARE(logCount("Counter error"), 1);
        QCOMPARE(logCount(line), 1);
    }

    // The server's stream arrives whole, in hand-overs of whole packets, over TCP or UDP.
    void remoteStream_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<int>("flow");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("perPacket");
        QTest::addColumn<int>("speedDigit");
        QTest::addColumn<int>("pauseAfter");
        // Writes split mid-packet are the splitter's reads of any size (packetsWhateverTheReads).
        QTest::newRow("events") << false << 1 << 3000 << 16 << -1 << 0;
        QTest::newRow("osp") << false << 2 << 3000 << 7 << -1 << 0;
        QTest::newRow("osp traffic pause") << false << 2 << 600 << 3 << -1 << 200;
        // Datagrams carry no speed digit: event records tell it (Osp records tell the decoder).
        QTest::newRow("udp events") << true << 1 << 1500 << 16 << 2 << 0;
        QTest::newRow("udp osp") << true << 2 << 1500 << 16 << 255 << 0;
    }
    void remoteStream()
    {
        QFETCH(bool, udp);
        QFETCH(int, flow);
        QFETCH(int, speedDigit);
        QFETCH(int, pauseAfter);
        OstrakServer::Options o;
        o.tcpPort = 0;
        o.flatOut = !udp;
        o.sessions = 1;
        o.speedDigit = udp ? -1 : speedDigit;
        o.pauseAfterFrames = pauseAfter;
        o.pauseMs = 1300;
        o.source.flowType = flow;
        QFETCH(int, frames);
        o.source.frames = frames;
        QFETCH(int, perPacket);
        o.source.framesPerPacket = perPacket;
        CardRun run(new OstrakCard(nullptr));
        OstrakCard* card = run.card;
        std::unique_ptr<OstrakServer> server;
        if (udp) {
            QUdpSocket probe;
            QVERIFY(probe.bind(QHostAddress(QHostAddress::LocalHost), 0));
            o.udpPort = probe.localPort();
            o.tcpPort = -1;
            probe.close();
            o.rateFps = 20000; // a pace the loopback buffers hold
            o.source.speedCode = 2;
            QCOMPARE(card->remotelyUdpOpen(o.udpPort), 0);
            QCOMPARE(card->remotelyTcpOpen("127.0.0.1", 1), OstrakCard::ErrAlreadyConnected);
            run.start();
            server.reset(new OstrakServer(o));
            QVERIFY2(server->start(), qPrintable(server->errorString()));
        } else {
            server.reset(new OstrakServer(o));
            QVERIFY2(server->start(), qPrintable(server->errorString()));
            QCOMPARE(card->remotelyTcpOpen("127.0.0.1", server->tcpPort()), 0);
            QVERIFY(card->isRemotelyConnected());
            QCOMPARE(card->startScan(), 0);
            run.start();
        }
        QSet<qint64> boundaries;
        const QByteArray expected = expectedStream(o.source, &boundaries);
        QTRY_COMPARE_WITH_TIMEOUT(run.all.size(), expected.size(), 20000);
        QVERIFY(run.all == expected);
        QCOMPARE(run.flows, QSet<int>{ flow });
        checkHandOvers(run, boundaries);
        if (pauseAfter)
            QVERIFY(run.events.indexOf(-1) > 0 && run.events.indexOf(-1) < run.events.size() - 1);
        if (speedDigit >= 0)
            QCOMPARE(card->getSpeed(), speedDigit);
        QVERIFY(run.stop(5000));
        QCOMPARE(card->getLastError(), 0);
        QCOMPARE(logCount("Counter error"), 0);
    }

    void tcpFaults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("lastError");
        QTest::addColumn<bool>("noTraffic");
        QTest::newRow("mid-packet") << "mid-packet" << OstrakCard::ErrStreamEnded << false;
        QTest::newRow("close at once") << "close" << OstrakCard::ErrStreamEnded << false;
        QTest::newRow("garbage") << "garbage" << OstrakCard::ErrStreamEnded << false;
        QTest::newRow("silent") << "silent" << 0 << true;
    }
    void tcpFaults()
    {
        QFETCH(QString, fault);
        QFETCH(bool, noTraffic);
        OstrakServer::Options o;
        QString error;
        QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--flat-out", "--frames", "200",
                                               "--sessions", "1", "--end", "close", "--faults", fault },
                                             &o, &error));
        OstrakServer server(o);
        QVERIFY(server.start());
        QSet<qint64> boundaries;
        const QByteArray expected = fault == "mid-packet" ? expectedStream(o.source, &boundaries) : QByteArray();

        CardRun run(new OstrakCard(nullptr));
        OstrakCard* card = run.card;
        QCOMPARE(card->remotelyTcpOpen("127.0.0.1", server.tcpPort()), 0);
        run.start();
        if (noTraffic) {
            QTRY_VERIFY_WITH_TIMEOUT(run.events.contains(-1), 5000);
            card->stopScan();
        }
        QVERIFY(run.waitStopped(10000));
        QTEST(card->getLastError(), "lastError");
        if (fault != "garbage")
            QVERIFY(run.all == expected); // whole packets kept, the half one dropped
        QVERIFY(!run.thread.isRunning());
    }

    // The USB loop over the simulated card: the frame records are those of the bus, in order,
    // in event records whose counters follow each other; a silent bus still hands over.
    void usbLoop_data()
    {
        QTest::addColumn<bool>("silentFirst");
        QTest::newRow("traffic then pause") << false;
        QTest::newRow("silent bus") << true;
    }
    void usbLoop()
    {
        QFETCH(bool, silentFirst);
        OstrakSimulator::Settings s;
        s.timeScale = 20;
        s.fifoSpanMs = 3600 * 1000; // the test thread may lag; no frame is dropped
        s.eventWaitMs = 300;
        s.speedCode = 2;
        OstrakSimulator::setSettings(s);
        OstrakSimulator::setTrafficPaused(silentFirst);

        CardRun run(new OstrakCard(OstrakCard::FtdiD2xx, nullptr));
        OstrakCard* card = run.card;
        QCOMPARE(card->locallyOpen(0), 0);
        QCOMPARE(card->getSpeed(), 2);
        QCOMPARE(card->remotelyUdpOpen(1), OstrakCard::ErrAlreadyConnected);
        QCOMPARE(card->startScan(), 0);
        run.start();
        if (silentFirst) {
            QTRY_VERIFY_WITH_TIMEOUT(run.events.size() >= 2, 5000);
            QCOMPARE(run.events.mid(0, 2), (QVector<int>{ 0, -1 }));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(run.all.size() > 60000, 10000);
        OstrakSimulator::setTrafficPaused(true);
        QTRY_VERIFY_WITH_TIMEOUT(run.events.contains(-1), 5000);
        QVERIFY(run.stop(5000));
        QCOMPARE(card->getLastError(), 0);

        bool whole = false;
        const QVector<EventRecord> records = eventRecords(run.all, &whole);
        QVERIFY(whole);
        FipTrafficGenerator generator(s.speedCode, s.frameType);
        QByteArray expected;
        QByteArray data;
        for (int i = 0; i < records.size(); ++i) {
            QCOMPARE(records[i].cp, quint8(i));
            QCOMPARE(records[i].id, quint16(0xA000));
            data += records[i].data;
        }
        while (expected.size() < data.size())
            expected += FipRecordEncoder::tlvRecord(generator.next());
        QVERIFY(data == expected);
        // Handed over as soon as 1000 bytes are gathered: without its last record, a hand-over is under 1000.
        for (int i = 0; i < run.offsets.size(); ++i) {
            const qint64 begin = run.offsets[i];
            const qint64 end = i + 1 < run.offsets.size() ? run.offsets[i + 1] : run.all.size();
            bool chunkWhole = false;
            const QVector<EventRecord> chunk = eventRecords(run.all.mid(begin, end - begin), &chunkWhole);
            QVERIFY(chunkWhole);
            if (!chunk.isEmpty())
                QVERIFY(end - begin - chunk.last().size < OstrakCard::kHandOverSize);
        }
        checkHandOvers(run, QSet<qint64>(run.offsets.begin(), run.offsets.end()));
        QCOMPARE(logCount("Counter error"), 0);
    }

    void usbCardLost()
    {
        CardRun run(new OstrakCard(OstrakCard::FtdiD2xx, nullptr));
        OstrakCard* card = run.card;
        QCOMPARE(card->locallyOpen(0), 0);
        QCOMPARE(card->startScan(), 0);
        run.start();
        QTRY_VERIFY_WITH_TIMEOUT(!run.events.isEmpty(), 5000);
        OstrakSimulator::setUnplugged(true);
        QVERIFY(run.waitStopped(5000));
        QCOMPARE(card->getLastError(), KIV_ERR_DEVICE_LOST);
    }

    // Osp packets built by the capture-session handler: counters follow each other, records as on the bus.
    void pciLoop()
    {
        OstrakSimulator::Settings s;
        s.timeScale = 20;
        s.fifoSpanMs = 3600 * 1000;
        s.speedCode = 3;
        OstrakSimulator::setSettings(s);
        CardRun run(new OstrakCard(OstrakCard::PciFamily, nullptr));
        OstrakCard* card = run.card;
        QCOMPARE(card->locallyOpen(0), 0);
        QCOMPARE(card->getSpeed(), 3);
        QCOMPARE(card->startScan(), 0);
        run.start();
        QTRY_VERIFY_WITH_TIMEOUT(run.events.size() >= 5, 10000);
        QVERIFY(run.stop(5000));
        QCOMPARE(card->close(), 0);
        QCOMPARE(run.flows, QSet<int>{ 2 });
        QByteArray input = run.all, output, payload;
        quint64 last = 0;
        bool started = false, more = true;
        while (more) {
            const int before = output.size();
            OstrakCard::treatOspPkt(&input, &output, &last, &started, &more);
            if (output.size() > before)
                payload += output.mid(before + 16);
        }
        QVERIFY(input.isEmpty());
        QCOMPARE(logCount("Counter error"), 0);
        // The card's bus started at the wall clock: take its start from the first time stamp.
        QVERIFY(payload.size() > 30);
        FipTrafficGenerator probe(s.speedCode, s.frameType, 1000000);
        const quint64 firstStamp = FipRecordEncoder::readBigEndian(payload.constData() + 13, 8);
        FipTrafficGenerator generator(s.speedCode, s.frameType, firstStamp - (probe.next().timestampUs - 1000000));
        QByteArray expected;
        while (expected.size() < payload.size())
            expected += FipRecordEncoder::ospRecord(generator.next());
        QVERIFY(payload == expected);
    }

    void hardTrigger_data()
    {
        QTest::addColumn<int>("replyLength");
        QTest::addColumn<int>("result");
        QTest::newRow("5-byte reply") << 5 << 0;
        QTest::newRow("4-byte reply") << 4 << OstrakCard::ErrTriggerReply;
    }
    void hardTrigger()
    {
        QFETCH(int, replyLength);
        QFETCH(int, result);
        OstrakSimulator::Settings s;
        s.triggerReplyLength = replyLength;
        OstrakSimulator::setSettings(s);
        OstrakCard card(OstrakCard::FtdiD2xx);
        unsigned char ctrl = 9;
        unsigned short id = 9, delay = 9;
        QCOMPARE(card.getHardTrigger(&ctrl, &id, &delay), OstrakCard::ErrNotOpen);
        QCOMPARE(card.locallyOpen(0), 0);
        QCOMPARE(card.setHardTrigger(0x02, 0x1234, 0xBEEF), 0);
        QCOMPARE(logCount("command[1]: 12"), 1);
        ctrl = 9;
        id = delay = 9;
        QCOMPARE(card.getHardTrigger(&ctrl, &id, &delay), result);
        QCOMPARE((QList<int>{ ctrl, id, delay }), result == 0 ? (QList<int>{ 0x02, 0x1234, 0xBEEF }) : (QList<int>{ 0, 0, 0 }));
        QCOMPARE(card.close(), 0);
    }

    void selectionDialog_data()
    {
        QTest::addColumn<int>("usb");
        QTest::addColumn<int>("pci");
        QTest::addColumn<QString>("label");
        QTest::newRow("none") << 0 << 0 << "No device detected ...";
        QTest::newRow("one") << 1 << 0 << "1 detected device";
        QTest::newRow("three") << 2 << 1 << "3 detected devices";
    }
    void selectionDialog()
    {
        QFETCH(int, usb);
        QFETCH(int, pci);
        OstrakSimulator::Settings s;
        s.usbCards = usb;
        s.pciCards = pci;
        s.speedCode = 2;
        OstrakSimulator::setSettings(s);
        OsSelectionDialog dialog(nullptr);
        QTEST(dialog.findChild<QLabel*>("countLabel")->text(), "label");
        auto* combo = dialog.findChild<QComboBox*>("ostrakComboBox");
        QCOMPARE(combo->count(), usb + pci);
        QCOMPARE(combo->isEnabled(), usb + pci > 0);
        const QList<OSTRAKCONF> list = dialog.getOstrakList();
        for (int i = 0; i < list.size(); ++i) {
            combo->setCurrentIndex(i);
            QCOMPARE(dialog.getIndex(), i + 1);
            const bool isUsb = i < usb;
            QCOMPARE(list[i].coType, isUsb ? OstrakCard::FtdiD2xx : OstrakCard::PciFamily);
            QCOMPARE(int(list[i].number), isUsb ? i : i - usb);
            QCOMPARE(dialog.findChild<QLabel*>("kindValue")->text(), QString(isUsb ? "Ostrak" : "mPCIe"));
            if (isUsb)
                QCOMPARE(dialog.findChild<QLabel*>("speedValue")->text(), QString("2.5 Mbps"));
            QCOMPARE(dialog.selected().isCancelled(), false);
        }
        // The dialog only looked: every card is free again.
        QVERIFY(!OstrakSimulator::isClaimed(OstrakSimulator::Family::Usb, 0));
    }

    void framesAreValid_data()
    {
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("frameType");
        QTest::newRow("31.25k WorldFIP") << 0 << 2;
        QTest::newRow("1M WorldFIP") << 1 << 2;
        QTest::newRow("2.5M FIP") << 2 << 1;
        QTest::newRow("5M WorldFIP") << 3 << 2;
    }

    // Every frame passes the decoder's checks, as Osp records of the card, whose
    // length and gap counts give the ticks back but for one 100 ns step.
    void framesAreValid()
    {
        QFETCH(int, speed);
        QFETCH(int, frameType);
        FipTrafficGenerator g(quint8(speed), quint8(frameType), 1000000);
        FipStreamDecoder d;
        quint64 lastTick = 0;
        bool expectReply = false;
        const double bit = FipTrafficGenerator::bitTimeUs(quint8(speed));
        for (int i = 0; i < 3000; ++i) {
            const FipFrame f = g.next();
            QCOMPARE(f.number, quint64(i));
            QCOMPARE(f.status, quint16(0));
            const QByteArray record = FipRecordEncoder::ospRecord(f);
            QVERIFY(qAbs(FipRecordEncoder::readBigEndian(record.constData() + 21, 3) / bit - f.lengthTicks) <= 1 / bit);
            QVERIFY(qAbs(FipRecordEncoder::readBigEndian(record.constData() + 24, 3) / bit - f.gapTicks) <= 1 / bit);
            d.treatOstrakFlowOsp(FipRecordEncoder::ospPacket(quint64(i + 1), 1, record));
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
        const auto* bytes = reinterpret_cast<const quint8*>(f.bytes.constData());
        const bool fcsOk = f.bytes.size() >= 3 && FipFcs::read(bytes, f.bytes.size()) == FipFcs::compute(bytes, f.bytes.size() - 2, false);
        const auto kind = FipTrafficGenerator::Error(error);
        QCOMPARE(fcsOk, kind != FipTrafficGenerator::Error::FcsError && kind != FipTrafficGenerator::Error::NoFed);
        // Only the one frame is hit.
        QCOMPARE(g.next().status, quint16(0));
    }

    // One frame in both record encodings of the card, byte for byte.
    void recordLayouts()
    {
        FipFrame f;
        f.bytes = QByteArray::fromHex("0312340000");
        f.status = 0x0401;
        f.frameType = 2;
        f.speedCode = 1;
        f.number = 0x1122334455667788ull;
        f.timestampUs = 0x0102030405060708ull;
        f.gapTicks = 280; // 28 µs at 1 Mbit/s = 280 × 100 ns
        f.lengthTicks = 640;
        f.glc = 0x0C0D;
        f.jitter = 7;
        f.tick = 42;
        QCOMPARE(FipRecordEncoder::tlvRecord(f).toHex(),
                 QByteArray("c00037"
                            "20020401" "210102" "220188" "23081122334455667788" "300400000118"
                            "31020280" "32020c0d" "330107" "3408000000000000002a" "9000050312340000"));
        QCOMPARE(FipRecordEncoder::ospRecord(f).toHex(),
                 QByteArray("c00023" "5401" "1122334455667788" "0102030405060708" "000280" "000118" "0c0d" "1c"
                            "0312340000"));
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
        for (int read : { 1, 3, 17, int(stream.size()) }) {
            OstrakStreamSplitter splitter(flow);
            QByteArray output;
            for (int at = 0; at < stream.size(); at += read) {
                splitter.append(stream.constData() + at, std::min(read, int(stream.size()) - at));
                splitter.split(&output);
            }
            QTEST(output, "packets");
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

QTEST_MAIN(TestCaptureDevice)
#include "tst_capturedevice.moc"
