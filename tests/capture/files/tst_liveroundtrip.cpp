// A capture from the simulated card, over the loopback server, recorded to a raw
// file and a trace at once; the raw file converted again gives the same rows.

#include "capture/device/OstrakCard.h"
#include "capture/files/RawTraceConversion.h"
#include "tests/capture/files/CapturePipeline.h"

#include "OstrakServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <limits>

namespace {

QStringList readRows(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

} // namespace

class TstLiveRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void rawReplayGivesTheLiveRows_data()
    {
        QTest::addColumn<QString>("flow");
        QTest::addColumn<QString>("errors");
        QTest::newRow("event packets") << "event" << "0";
        QTest::newRow("osp packets") << "osp" << "0";
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

        auto* card = new OstrakCard(nullptr);
        QCOMPARE(card->remotelyTcpOpen("127.0.0.1", server.tcpPort()), 0);
        QThread thread;
        bool stopped = false;
        connect(card, &OstrakCard::fipDataReceived, this,
                [&](int type, const QByteArray& data) {
                    live.decoder.setCardSpeed(quint8(card->getSpeed()));
                    live.onOstrakDataReceived(type, data);
                },
                Qt::BlockingQueuedConnection);
        connect(card, &OstrakCard::scanStopped, this, [&] { stopped = true; });
        card->attachThread(thread);
        card->moveToThread(&thread);
        thread.start();

        QTRY_COMPARE_WITH_TIMEOUT(live.decoder.counters().frames, quint64(frames), 20000);
        card->stopScan();
        QTRY_VERIFY_WITH_TIMEOUT(stopped, 5000);
        thread.quit();
        QVERIFY(thread.wait(5000));
        card->close();
        delete card;
        QVERIFY(live.stop(&live.offsets));
        QCOMPARE(live.decoder.counters().lostPackets, quint64(0));

        const QStringList liveRows = readRows(files.trace);
        QCOMPARE(liveRows.size(), frames);

        CapturePipeline replay;
        RawTraceConversion conversion;
        QCOMPARE(conversion.openSource(files.raw), RawTraceConversion::Ok);
        QCOMPARE(conversion.readHeader(), RawTraceConversion::Ok);
        QCOMPARE(conversion.flowType(), flow == "osp" ? 2 : 1);
        TraceRecordOptions converting;
        converting.converting = true;
        CaptureSession::Files replayFiles;
        replayFiles.trace = dir.filePath("replay.vtrc");
        QVERIFY(replay.start(converting, replayFiles, &error));
        bool stop = false;
        conversion.decode(replay.decoder, &stop);
        conversion.close();
        QVERIFY(replay.stop());
        QCOMPARE(replay.decoder.counters().frames, quint64(frames));
        QCOMPARE(replay.decoder.counters().fcsErrors, live.decoder.counters().fcsErrors);

        const QStringList replayRows = readRows(replayFiles.trace);
        QCOMPARE(replayRows.size(), liveRows.size());
        for (int i = 0; i < liveRows.size(); ++i) {
            if (replayRows.at(i) != liveRows.at(i))
                QFAIL(qPrintable(QString("row %1 differs:\nlive   %2\nreplay %3").arg(i).arg(liveRows.at(i), replayRows.at(i))));
        }
    }

    // The capture's disk is looked at where its files are; no files, nothing to tell.
    void lowDiskSpaceSeen()
    {
        QTemporaryDir dir;
        CaptureSession session;
        QVERIFY(!session.diskSpaceLow(std::numeric_limits<qint64>::max()));
        QString error;
        CaptureSession::Files files;
        files.trace = dir.filePath("live.vtrc");
        QVERIFY(session.start(TraceRecordOptions(), files, &error));
        QVERIFY(session.freeDiskBytes() > 0);
        QVERIFY(session.diskSpaceLow(std::numeric_limits<qint64>::max()));
        QVERIFY(!session.diskSpaceLow(0));
        QVERIFY(session.stop());
    }
};

QTEST_MAIN(TstLiveRoundTrip)
#include "tst_liveroundtrip.moc"
