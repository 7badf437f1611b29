// The capture card against the simulated card libraries and against the remote
// capture server over real loopback sockets, its read loop on a capture thread
// handing packets to this thread through a blocking queued connection.

#include "capture/device/OsSelectionDialog.h"
#include "capture/device/OstrakCard.h"
#include "tests/capture/device/CardRun.h"

#include "FipRecordEncoder.h"
#include "OstrakServer.h"
#include "OstrakSimulator.h"
#include "kiverrors.h"

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QLabel>
#include <QMutex>
#include <QUdpSocket>
#include <QtTest>

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

class TestOstrakCard : public QObject
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
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("errors");
        QTest::newRow("event wrap") << 1 << QVector<quint64>{ 254, 255, 0, 2 }
                                    << "[OSC] Counter error 1 ! cpFrame: 0 / eventCp: 2" << 1;
        QTest::newRow("event after 255") << 1 << QVector<quint64>{ 254, 255, 1 }
                                         << "[OSC] Counter error 0 ! cpFrame: 255 / eventCp: 1" << 1;
        QTest::newRow("osp") << 2 << QVector<quint64>{ 0xFFFFFFFFULL, 0x100000000ULL, 0x100000002ULL }
                             << "[OSC] Counter error 1 ! cpFrame: 4294967296 / ospFrmCnt: 4294967298" << 1;
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
        QTEST(logCount(line), "errors");
    }

    // The server's stream arrives whole, in hand-overs of whole packets, over TCP or UDP.
    void remoteStream_data()
    {
        QTest::addColumn<bool>("udp");
        QTest::addColumn<int>("flow");
        QTest::addColumn<int>("frames");
        QTest::addColumn<int>("perPacket");
        QTest::addColumn<bool>("split");
        QTest::addColumn<int>("speedDigit");
        QTest::addColumn<int>("pauseAfter");
        QTest::newRow("events") << false << 1 << 3000 << 16 << false << -1 << 0;
        QTest::newRow("osp") << false << 2 << 3000 << 7 << false << -1 << 0;
        QTest::newRow("speed digit 3") << false << 1 << 500 << 1 << false << 3 << 0;
        QTest::newRow("split writes") << false << 1 << 300 << 5 << true << -1 << 0;
        QTest::newRow("osp split writes") << false << 2 << 300 << 5 << true << -1 << 0;
        QTest::newRow("osp traffic pause") << false << 2 << 600 << 3 << false << -1 << 200;
        // Datagrams carry no speed digit: event records tell it (Osp records tell the decoder).
        QTest::newRow("udp events") << true << 1 << 1500 << 16 << false << 2 << 0;
        QTest::newRow("udp osp") << true << 2 << 1500 << 16 << false << 255 << 0;
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
        QFETCH(bool, split);
        o.split = split;
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
        QFETCH(int, lastError);
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
        QCOMPARE(card->getLastError(), lastError);
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
        const bool ok = result == 0;
        QCOMPARE(int(ctrl), ok ? 0x02 : 0);
        QCOMPARE(int(id), ok ? 0x1234 : 0);
        QCOMPARE(int(delay), ok ? 0xBEEF : 0);
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
        QCOMPARE(dialog.windowTitle(), QString("Ostrak Selection"));
        QTEST(dialog.findChild<QLabel*>("countLabel")->text(), "label");
        auto* combo = dialog.findChild<QComboBox*>("ostrakComboBox");
        QCOMPARE(combo->count(), usb + pci);
        QCOMPARE(combo->isEnabled(), usb + pci > 0);
        const QList<OSTRAKCONF> list = dialog.getOstrakList();
        for (int i = 0; i < list.size(); ++i) {
            combo->setCurrentIndex(i);
            QCOMPARE(combo->itemText(i), QString("Ostrak n° %1").arg(i + 1));
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
};

QTEST_MAIN(TestOstrakCard)
#include "tst_ostrakcard.moc"
