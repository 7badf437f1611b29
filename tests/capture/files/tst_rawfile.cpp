// Raw recording, raw → trace conversion round trips, and raw files that are
// corrupt, missing or in use; a live capture over the loopback server recorded
// raw and as a trace at once, whose raw file converts to the same rows.

#include "capture/device/OstrakCard.h"
#include "capture/files/CaptureFileLock.h"
#include "capture/files/RawTraceConversion.h"
#include "tests/capture/decoder/FipStreamBuilder.h"
#include "tests/capture/device/CardRun.h"
#include "tests/capture/files/CapturePipeline.h"

#include "OstrakServer.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

using namespace FipStreamBuilder;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

TraceRecordOptions converting()
{
    TraceRecordOptions o;
    o.converting = true;
    return o;
}

// The conversion steps of the main window, answering yes to every question.
RawTraceConversion::Result convert(const QString& raw, const QString& trace, CapturePipeline& p, qint64* used = nullptr)
{
    RawTraceConversion c;
    RawTraceConversion::Result r = c.openSource(raw);
    if (r != RawTraceConversion::Ok)
        return r;
    p.decoder.initAnalysisContext();
    p.recorder.reset();
    p.recorder.setOptions(converting());
    if (QFile::exists(trace))
        QFile::remove(trace);
    if (!p.writer.open(trace))
        return RawTraceConversion::SourceOpenFailed;
    r = c.readHeader();
    if (r == RawTraceConversion::Ok) {
        bool stop = false;
        const qint64 n = c.decode(p.decoder, &stop);
        if (used)
            *used = n;
    }
    p.writer.close(&p.offsets);
    return r;
}

QList<QByteArray> ospPackets()
{
    QList<QByteArray> packets;
    quint64 stamp = 1767225600000000ULL;
    for (quint64 n = 1; n <= 20; ++n) {
        QByteArray payload;
        quint32 records = 0;
        for (int i = 0; i < int(n % 4); ++i, ++records) {
            payload += ospRecord(frame({ 0x03, 0x05, quint8(n) }), ospStatus(1, 2), stamp += 20, 40, 30, 3, 8);
            payload += ospRecord(frame({ 0x02, 0x40, 0x01, quint8(i) }), ospStatus(1, 2), stamp += 30, 60, 20);
            ++records;
        }
        if (n == 7) { // a glitch, an empty record and a record to skip
            payload += ospRecord(frame({ 0x30 }), ospStatus(1, 2, 0x0001), stamp += 10);
            payload += ospRecord(Bytes{}, ospStatus(1, 2), stamp += 10);
            payload += QByteArray("\xC1\x00\x05\xAA\xBB", 5);
            records += 3;
        }
        packets += ospPacket(n, records, payload);
    }
    return packets;
}

QList<QByteArray> eventPackets()
{
    QByteArray data;
    for (int i = 0; i < 50; ++i) {
        data += tlvRecord(frame({ 0x03, 0x05, quint8(i) }), 0, quint32(10 + i), 5, 1, 2);
        data += tlvRecord(frame({ 0x02, 0x40, 0x02, quint8(i), 0x00 }), i == 20 ? 0x0004 : 0, 7, quint16(20 + i));
    }
    // Events cut the records anywhere.
    QList<QByteArray> packets;
    QByteArray packet;
    quint8 counter = 0;
    for (int at = 0; at < data.size(); at += 97) {
        packet += eventRecord(counter++, data.mid(at, 97));
        if (counter % 5 == 0) {
            packets += packet;
            packet.clear();
        }
    }
    packets += packet + eventRecord(counter, QByteArray("\x01\x02", 2), 0x8001);
    return packets;
}

QStringList readRows(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TestRawFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void roundTrip_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<QList<QByteArray>>("packets");
        QTest::newRow("Osp") << 2 << ospPackets();
        QTest::newRow("events") << 1 << eventPackets();
    }
    void roundTrip()
    {
        // A live capture recorded raw, converted later, gives the trace the same
        // capture recorded as a trace gives.
        QFETCH(int, flow);
        QFETCH(QList<QByteArray>, packets);
        QTemporaryDir dir;
        const QString raw = dir.filePath("capture.praw");
        const QString liveTrace = dir.filePath("live.vtrc");
        const QString converted = dir.filePath("converted.vtrc");

        CapturePipeline recording;
        RawFileWriter rawWriter;
        QVERIFY(rawWriter.open(raw));
        recording.decoder.setRawSink(&rawWriter);
        recording.decoder.setCardSpeed(2);
        CapturePipeline live;
        TraceRecordOptions o;
        o.backupYes = true;
        o.backupFileType = TraceRecordOptions::TraceFile;
        live.recorder.setOptions(o);
        live.decoder.setCardSpeed(2);
        QVERIFY(live.writer.open(liveTrace));
        for (const QByteArray& packet : packets) {
            recording.decoder.onOstrakDataReceived(flow, packet);
            live.decoder.onOstrakDataReceived(flow, packet);
            QVERIFY(live.writer.writePending(&live.offsets));
        }
        QVERIFY(rawWriter.close());
        QVERIFY(live.writer.close(&live.offsets));
        QCOMPARE(readAll(raw).at(0), char(flow));
        if (flow == 1)
            QCOMPARE(readAll(raw).at(1), char(2));

        CapturePipeline replay;
        qint64 used = 0;
        QCOMPARE(convert(raw, converted, replay, &used), RawTraceConversion::Ok);
        QCOMPARE(used, QFileInfo(raw).size() - (flow == 1 ? 2 : 1));
        const QByteArray expected = readAll(liveTrace);
        QVERIFY(expected.count('\n') > 50);
        QCOMPARE(readAll(converted), expected);
        QCOMPARE(replay.offsets, live.offsets);
        QCOMPARE(replay.decoder.counters().frames, live.decoder.counters().frames);
        QCOMPARE(replay.decoder.counters().perControl, live.decoder.counters().perControl);
        QCOMPARE(replay.decoder.state().speedCode, quint8(flow == 1 ? 2 : 1));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(raw)));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(converted)));
    }

    void corruptFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("frames");
        const QByteArray a = tlvRecord(frame({ 0x03, 0x05, 0x10 }));
        const QByteArray b = ospRecord(frame({ 0x03, 0x05, 0x10 }), ospStatus(1, 2), 5);

        const int version = RawTraceConversion::InvalidVersion, speed = RawTraceConversion::InvalidSpeed;
        const QString badVersion = "Invalid praw file version.", badSpeed = "Invalid FIP speed extract from praw file.";
        QTest::newRow("empty") << QByteArray() << version << badVersion << 0;
        QTest::newRow("version 3") << QByteArray("\x03\x01", 2) + a << version << badVersion << 0;
        QTest::newRow("version 0") << QByteArray(1, '\0') + b << version << badVersion << 0;
        QTest::newRow("speed 7") << QByteArray("\x01\x07", 2) + a << speed << badSpeed << 0;
        QTest::newRow("speed 4") << QByteArray("\x01\x04", 2) + a << speed << badSpeed << 0;
        QTest::newRow("no speed byte") << QByteArray("\x01", 1) << speed << badSpeed << 0;
        QTest::newRow("events cut in a record") << QByteArray("\x01\x01", 2) + a + a + a.left(a.size() - 1)
                                                << int(RawTraceConversion::Ok) << QString() << 2;
        QTest::newRow("Osp cut in a record") << QByteArray("\x02", 1) + b + b.left(b.size() - 1) << int(RawTraceConversion::Ok)
                                             << QString() << 1;
        QTest::newRow("Osp header only") << QByteArray("\x02", 1) << int(RawTraceConversion::Ok) << QString() << 0;
        QByteArray garbage(5000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 131 + 7) & 0xFF);
        QTest::newRow("events garbage") << QByteArray("\x01\x00", 2) + garbage << int(RawTraceConversion::Ok) << QString() << -1;
        QTest::newRow("Osp garbage") << QByteArray("\x02", 1) + garbage << int(RawTraceConversion::Ok) << QString() << -1;
    }
    void corruptFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QString, message);
        QFETCH(int, frames);
        QTemporaryDir dir;
        const QString raw = dir.filePath("bad.praw");
        const QString trace = dir.filePath("bad.vtrc");
        writeFile(raw, content);
        const QByteArray before = QCryptographicHash::hash(readAll(raw), QCryptographicHash::Sha256);
        const QDateTime modified = QFileInfo(raw).lastModified();

        CapturePipeline p;
        const RawTraceConversion::Result r = convert(raw, trace, p);
        QCOMPARE(int(r), result);
        QCOMPARE(RawTraceConversion::message(r), message);
        if (frames >= 0)
            QCOMPARE(p.decoder.counters().frames, quint64(frames));
        QCOMPARE(QCryptographicHash::hash(readAll(raw), QCryptographicHash::Sha256), before);
        QCOMPARE(QFileInfo(raw).lastModified(), modified);
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(raw)));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(trace)));
        // Nothing but the two files is left in the folder.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void missingSource()
    {
        QTemporaryDir dir;
        RawTraceConversion c;
        QCOMPARE(c.openSource(dir.filePath("none.praw")), RawTraceConversion::SourceOpenFailed);
        QCOMPARE(RawTraceConversion::message(RawTraceConversion::SourceOpenFailed),
                 QStringLiteral("Impossible to open source file (praw)."));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(dir.filePath("none.praw"))));
    }

    void sourceInUse()
    {
        // A raw file still being recorded is not converted.
        QTemporaryDir dir;
        const QString raw = dir.filePath("rec.praw");
        RawFileWriter writer;
        QVERIFY(writer.open(raw));
        writer.appendRaw("\x02", 1);
        RawTraceConversion c;
        QCOMPARE(c.openSource(raw), RawTraceConversion::SourceInUse);
        QCOMPARE(RawTraceConversion::message(RawTraceConversion::SourceInUse, raw),
                 QStringLiteral("The backup file is already in use:\n") + raw);
        QVERIFY(writer.close());
        QCOMPARE(c.openSource(raw), RawTraceConversion::Ok);
        QCOMPARE(c.readHeader(), RawTraceConversion::Ok);
        QCOMPARE(c.flowType(), 2);
    }

    void stopFlag()
    {
        // Cancel stops the replay at the next element.
        struct Stopper : FipDecoderListener
        {
            bool* stop = nullptr;
            int frames = 0;
            void onFrameDone(const FipFrameInfo&, TraceRow&) override
            {
                if (++frames == 3)
                    *stop = true;
            }
        };
        QTemporaryDir dir;
        const QString raw = dir.filePath("a.praw");
        QByteArray content("\x01\x01", 2);
        for (int i = 0; i < 10; ++i)
            content += tlvRecord(frame({ 0x30 }));
        writeFile(raw, content);
        RawTraceConversion c;
        QCOMPARE(c.openSource(raw), RawTraceConversion::Ok);
        QCOMPARE(c.readHeader(), RawTraceConversion::Ok);
        bool stop = true; // the conversion clears it
        Stopper s;
        s.stop = &stop;
        FipStreamDecoder d(&s);
        c.decode(d, &stop);
        QCOMPARE(s.frames, 3);
    }

    void rawReplayGivesTheLiveRows_data()
    {
        QTest::addColumn<QString>("flow");
        QTest::addColumn<QString>("errors");
        // Mostly clean frames, a faulty one now and then.
        QTest::newRow("event packets with faulty frames") << "event" << "97";
        QTest::newRow("osp packets with faulty frames") << "osp" << "97";
    }
    void rawReplayGivesTheLiveRows()
    {
        QFETCH(QString, flow);
        QFETCH(QString, errors);
        const int frames = 6000;
        OstrakServer::Options o;
        QString error;
        QVERIFY2(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--flat-out", "--speed", "1", "--flow", flow,
                                                "--frames", QString::number(frames), "--errors-every", errors, "--sessions",
                                                "1", "--end", "idle" },
                                              &o, &error),
                 qPrintable(error));
        OstrakServer server(o);
        QVERIFY(server.start());

        QTemporaryDir dir;
        CapturePipeline live;
        TraceRecordOptions options;
        options.backupYes = true;
        options.backupFileType = TraceRecordOptions::TraceFile;
        CaptureSession::Files files;
        files.raw = dir.filePath("live.praw");
        files.trace = dir.filePath("live.vtrc");
        QVERIFY(live.start(options, files, &error));

        CardRun run(new OstrakCard(nullptr));
        QCOMPARE(run.card->remotelyTcpOpen("127.0.0.1", server.tcpPort()), 0);
        run.onData = [&](int type, const QByteArray& data) {
            live.decoder.setCardSpeed(quint8(run.card->getSpeed()));
            live.onOstrakDataReceived(type, data);
        };
        run.start();
        QTRY_COMPARE_WITH_TIMEOUT(live.decoder.counters().frames, quint64(frames), 20000);
        QVERIFY(run.stop(5000));
        QVERIFY(live.stop(&live.offsets));
        QCOMPARE(live.decoder.counters().lostPackets, quint64(0));
        const QStringList liveRows = readRows(files.trace);
        QCOMPARE(liveRows.size(), frames);

        CapturePipeline replay;
        QCOMPARE(convert(files.raw, dir.filePath("replay.vtrc"), replay), RawTraceConversion::Ok);
        QCOMPARE(replay.decoder.counters().frames, quint64(frames));
        QCOMPARE(replay.decoder.counters().fcsErrors, live.decoder.counters().fcsErrors);
        QCOMPARE(readRows(dir.filePath("replay.vtrc")), liveRows);
    }
};

QTEST_GUILESS_MAIN(TestRawFile)
#include "tst_rawfile.moc"
