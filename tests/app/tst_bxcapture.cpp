// Start FIP Catch from the main window against the capture server on loopback,
// then Stop FIP Catch: frames arrive, the trace backup holds them, the card and
// its thread are gone afterwards.

#include "analysis/AnalysisContext.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MainATModel.h"
#include "analysis/StatisticsPage.h"
#include "analysis/TransactionATModel.h"
#include "app/BX.h"
#include "capture/files/CaptureSession.h"
#include "tests/app/BoxAnswerer.h"

#include "OstrakServer.h"
#include "OstrakSimulator.h"
#include "capture/device/OsSelectionDialog.h"
#include "capture/device/OstrakCard.h"
#include "kiverrors.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <memory>

class TstBXCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void remoteCapture_data();
    void remoteCapture();
    void serverGoneIsTold();
    void sizeLimitStopsAtTheFirstTick();
    void screenshots();
    void refusedStartIsToldAndFreesTheCard();
    void earlierFilesAreReplacedOnlyWhenAsked_data();
    void earlierFilesAreReplacedOnlyWhenAsked();
    void closeWaitsForTheStatisticsFile();

private:
    /// Points the window's capture options at the server, backing up a trace into m_dir.
    void useServer(BX& bx, quint16 port, bool udp);
    template<typename T> T* child(BX& bx, const char* name) { return bx.findChild<T*>(name); }
    /// A server streaming `frames` frames over TCP, then staying idle.
    std::unique_ptr<OstrakServer> startServer(int frames);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    int m_runs = 0;
};

void TstBXCapture::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstBXCapture::useServer(BX& bx, quint16 port, bool udp)
{
    child<QRadioButton>(bx, "serverLocation")->setChecked(true);
    child<QRadioButton>(bx, udp ? "udpRemote" : "tcpRemote")->setChecked(true);
    child<QLineEdit>(bx, "osIPAddress")->setText("127.0.0.1");
    child<QSpinBox>(bx, "osPortNumber")->setValue(port);
    child<QRadioButton>(bx, "backupYes")->setChecked(true);
    child<QComboBox>(bx, "backupFileType")->setCurrentIndex(1);
    // A folder of its own: a capture's files are replaced only when the user agrees.
    const QString folder = m_dir.filePath(QString("run%1").arg(++m_runs));
    QDir().mkpath(folder);
    child<QLineEdit>(bx, "backupRepository")->setText(folder);
    child<QSlider>(bx, "depthAnalysisSlider")->setValue(2);
    // The simulated bus polls station presence where a real one sends padding.
    child<QRadioButton>(bx, "presenceIdsPadding")->setChecked(true);
}

std::unique_ptr<OstrakServer> TstBXCapture::startServer(int frames)
{
    OstrakServer::Options o;
    QString error;
    if (!OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--speed", "1", "--flow", "osp", "--rate",
                                        "20000", "--frames", QString::number(frames), "--sessions", "1", "--end",
                                        "idle" },
                                      &o, &error))
        return nullptr;
    auto server = std::make_unique<OstrakServer>(o);
    if (!server->start())
        return nullptr;
    return server;
}

void TstBXCapture::remoteCapture_data()
{
    QTest::addColumn<QString>("flow");
    QTest::newRow("event packets") << "event";
    QTest::newRow("osp packets") << "osp";
}

void TstBXCapture::remoteCapture()
{
    QFETCH(QString, flow);
    const int frames = 4000;
    OstrakServer::Options o;
    QString error;
    QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--speed", "1", "--flow", flow,
                                           "--rate", "20000", "--frames", QString::number(frames), "--sessions", "1",
                                           "--end", "idle" },
                                         &o, &error));
    OstrakServer server(o);
    QVERIFY(server.start());

    BX bx;
    bx.show();
    useServer(bx, server.tcpPort(), false);
    // A conversion ready to go waits for the capture: they share one decoder.
    child<QLineEdit>(bx, "prawFilePath")->setText(m_dir.filePath("waiting.praw"));
    child<QLineEdit>(bx, "vtrcFilePath")->setText(m_dir.filePath("waiting.vtrc"));
    auto* button = child<QPushButton>(bx, "startStopCapturingButton");
    button->click();
    QVERIFY(bx.isCapturing());
    QCOMPARE(button->text(), QString("Stop FIP Catch"));
    QVERIFY(!bx.findChild<QAction*>("actionOpenProject")->isEnabled());
    QVERIFY(!child<QPushButton>(bx, "prawToVtrcGenerateButton")->isEnabled());

    // The capture figures show beside the status messages, which keep their 10 s.
    auto* figures = child<QLabel>(bx, "captureFiguresLabel");
    auto* status = child<QLabel>(bx, "statusMessageLabel");
    QVERIFY(figures);
    QTRY_VERIFY_WITH_TIMEOUT(figures->text().contains("Capturing:") && figures->isVisible(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(frames), 20000);
    QTRY_VERIFY(figures->text().contains(QLocale().toString(frames)));
    QVERIFY(!status->text().contains("Capturing:"));
    // The speed the stream told is the card's speed too.
    QCOMPARE(bx.ostrakCard()->getSpeed(), 1);
    if (qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        bx.grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-" + flow + ".png");

    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
    QCOMPARE(bx.ostrakCard(), nullptr);
    QVERIFY(figures->text().isEmpty() && !figures->isVisible());
    QCOMPARE(button->text(), QString("Start FIP Catch"));
    QVERIFY(bx.findChild<QAction*>("actionOpenProject")->isEnabled());
    QVERIFY(child<QPushButton>(bx, "prawToVtrcGenerateButton")->isEnabled());

    QFile trace(bx.captureSession()->files().trace);
    QVERIFY(trace.open(QIODevice::ReadOnly));
    int rows = 0;
    while (!trace.readLine().isEmpty())
        ++rows;
    QCOMPARE(rows, frames);
    QCOMPARE(bx.captureSession()->decoder().counters().lostPackets, quint64(0));

    // The analysis pages saw the same capture: every row in the frame table, every
    // frame counted, the scan table's transactions in the tree.
    QCOMPARE(bx.frameTableModel()->rowCount(), frames);
    const StatisticsCounters& counted = bx.analysisContext()->counters;
    QCOMPARE(counted.frameTotal + counted.errorTotal, quint64(frames));
    QVERIFY(counted.idDat > 0 && counted.rpDat > 0);
    QCOMPARE(bx.statisticsPage()->valueLabel("totalFrames")->text(),
             QLocale(QLocale::French, QLocale::France).toString(counted.frameTotal));
    QVERIFY(bx.transactionModel()->rowCount() > 0);
    quint64 ok = 0;
    bx.transactionModel()->getTransactionCounters(&ok, nullptr, nullptr, nullptr, nullptr);
    QVERIFY(ok > 0);
    // Four seconds of bus time: the detection found the scan table's repetition.
    QVERIFY(!bx.macrocycleAnalysis()->macrocycle().empty());
    QVERIFY(bx.analysisContext()->info.macrocycleTime.endsWith(" ms"));
    if (qEnvironmentVariableIsSet("BX_SCREENSHOT")) {
        bx.resize(1500, 950);
        bx.findChild<QToolButton*>("ostrakButton")->click();
        for (const char* page : { "analysisVisualFipTraceButton", "analysisStatisticsButton",
                                  "analysisStationsPresenceButton", "analysisMacroMicroButton" }) {
            child<QPushButton>(bx, page)->setChecked(true);
            QTest::qWait(QByteArray(page).contains("Macro") ? 1000 : 50); // the donut settles after a resize
            bx.grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-" + flow + "-" + page + ".png");
        }
    }
}

void TstBXCapture::serverGoneIsTold()
{
    OstrakServer::Options o;
    QString error;
    QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--flat-out", "--frames", "300",
                                           "--sessions", "1", "--end", "close" },
                                         &o, &error));
    OstrakServer server(o);
    QVERIFY(server.start());
    BX bx;
    useServer(bx, server.tcpPort(), false);
    BoxAnswerer answerer({ QMessageBox::Ok });
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing() && !answerer.texts.isEmpty(), 10000);
    QCOMPARE(answerer.titles, QStringList { "Ostrak" });
    QCOMPARE(answerer.texts.first(),
             QString("Connection to the server has been interrupted.\nMaybe the remote server was shut or the "
                     "connection limit is reached."));
    QCOMPARE(bx.ostrakCard(), nullptr);
}

void TstBXCapture::sizeLimitStopsAtTheFirstTick()
{
    OstrakServer::Options o;
    QString error;
    QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--rate", "2000", "--sessions", "1",
                                           "--end", "idle" },
                                         &o, &error));
    OstrakServer server(o);
    QVERIFY(server.start());
    BX bx;
    useServer(bx, server.tcpPort(), false);
    child<QRadioButton>(bx, "backupSizeLimit")->setChecked(true);
    child<QLineEdit>(bx, "backupSizeLimitValue")->setText("0");
    BoxAnswerer answerer({ QMessageBox::Ok });
    bx.findChild<QTimer*>("statisticsTimer")->stop(); // the test gives the ticks
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QVERIFY(bx.isCapturing());
    bx.onUpdateAnalysisStatisticCounters(); // the first tick, not a second one
    QCOMPARE(answerer.texts, QStringList { "The analysis was stopped because the size limit of backup (0 MB) is reached." });
    QTRY_VERIFY(!bx.isCapturing());
}

void TstBXCapture::screenshots()
{
    // Pictures for a person to look at, taken only when BX_SCREENSHOT names a file prefix.
    const QString prefix = qEnvironmentVariable("BX_SCREENSHOT");
    if (prefix.isEmpty())
        QSKIP("BX_SCREENSHOT is not set");
    OstrakServer::Options o;
    QString error;
    QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--speed", "1", "--rate", "3000",
                                           "--sessions", "1", "--end", "idle" },
                                         &o, &error));
    OstrakServer server(o);
    QVERIFY(server.start());
    QSettings("Kivotec", "Brantix").clear();
    BX bx;
    bx.show();
    bx.grab().save(prefix + "-default-window.png");
    bx.findChild<QToolButton*>("ostrakButton")->click();
    child<QPushButton>(bx, "analysisVisualFipTraceButton")->setChecked(true);
    QTest::qWait(100);
    bx.grab().save(prefix + "-default-frame-table.png");
    useServer(bx, server.tcpPort(), false);
    // A padding identifier the simulated bus never sends: the search tells so.
    child<QRadioButton>(bx, "fixedIdPadding")->setChecked(true);
    child<QLineEdit>(bx, "paddingIdentifier")->setText("9080");
    child<QRadioButton>(bx, "paddingAutoDetectNo")->setChecked(true);
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QVERIFY(bx.isCapturing());
    auto* status = child<QLabel>(bx, "statusMessageLabel");
    QTRY_VERIFY_WITH_TIMEOUT(status->text().contains("padding"), 6000);
    QTest::qWait(1200);
    bx.grab().save(prefix + "-capture-frame-table.png");
    child<QPushButton>(bx, "analysisStatisticsButton")->setChecked(true);
    QTest::qWait(600);
    bx.grab().save(prefix + "-statistics.png");
    child<QPushButton>(bx, "analysisParametersButton")->setChecked(true);
    QTest::qWait(100);
    bx.grab().save(prefix + "-parameters.png");
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
    bx.findChild<QToolButton*>("plandorButton")->click();
    QTest::qWait(100);
    bx.grab().save(prefix + "-design.png");
}

// The local card opens but refuses to start: the user is told, the card is free for
// the next try, and the button reads as before.
void TstBXCapture::refusedStartIsToldAndFreesTheCard()
{
    OstrakSimulator::reset();
    OstrakSimulator::Settings cards = OstrakSimulator::settings();
    cards.pciCards = 0; // the USB card is the one chosen
    OstrakSimulator::setSettings(cards);
    BX bx;
    useServer(bx, 0, false);
    child<QRadioButton>(bx, "localLocation")->setChecked(true);
    QTimer chooser; // the card choice is answered with the first card
    connect(&chooser, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<OsSelectionDialog*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    chooser.start(20);
    auto* button = child<QPushButton>(bx, "startStopCapturingButton");
    for (int attempt = 0; attempt < 2; ++attempt) {
        OstrakSimulator::injectStartRefusal();
        BoxAnswerer answerer({ QMessageBox::Ok });
        button->click();
        QTRY_COMPARE(answerer.texts.size(), 1);
        QCOMPARE(answerer.titles, QStringList { "Ostrak" });
        QCOMPARE(answerer.texts.first(), QString::fromLocal8Bit(get_kiv_error(KIV_ERR_REQUEST_REFUSED)));
        QVERIFY(!bx.isCapturing());
        QCOMPARE(bx.ostrakCard(), nullptr);
        QVERIFY(!OstrakSimulator::isClaimed(OstrakSimulator::Family::Usb, 0));
        QCOMPARE(button->text(), QString("Start FIP Catch"));
        QVERIFY(button->isEnabled());
        QVERIFY(bx.findChild<QAction*>("actionStartCapture")->isEnabled());
    }
    // And the card starts when it agrees.
    button->click();
    QVERIFY(bx.isCapturing());
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
    OstrakSimulator::reset();
}

void TstBXCapture::earlierFilesAreReplacedOnlyWhenAsked_data()
{
    QTest::addColumn<int>("backupType");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<int>("answer");
    QTest::newRow("trace, no") << 1 << "capture.vtrc" << int(QMessageBox::No);
    QTest::newRow("raw, no") << 0 << "capture.praw" << int(QMessageBox::No);
    QTest::newRow("statistics, no") << 1 << "capture.xml" << int(QMessageBox::No);
    QTest::newRow("trace, yes") << 1 << "capture.vtrc" << int(QMessageBox::Yes);
}

// A capture left by a crash is readable until the user agrees to replace it.
void TstBXCapture::earlierFilesAreReplacedOnlyWhenAsked()
{
    QFETCH(int, backupType);
    QFETCH(QString, existing);
    QFETCH(int, answer);
    QTemporaryDir dir;
    const QString path = dir.filePath(existing);
    const QByteArray kept = "an earlier capture\n";
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(kept);
    }
    std::unique_ptr<OstrakServer> server = startServer(200);
    QVERIFY(server);
    BX bx;
    useServer(bx, server->tcpPort(), false);
    child<QComboBox>(bx, "backupFileType")->setCurrentIndex(backupType);
    child<QLineEdit>(bx, "backupRepository")->setText(dir.path());
    BoxAnswerer answerer({ QMessageBox::StandardButton(answer) });
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QCOMPARE(answerer.titles, QStringList { "Brantix" });
    QCOMPARE(answerer.texts, QStringList { "The destination file already exists.\nIf you continue, it will be deleted." });
    if (answer == QMessageBox::No) {
        QVERIFY(!bx.isCapturing());
        QCOMPARE(bx.ostrakCard(), nullptr);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), kept);
        return;
    }
    QVERIFY(bx.isCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(200), 10000);
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().startsWith(kept));
}

// Closing the window during a capture: the close returns only once the scan has
// ended and the statistics file sits beside the trace.
void TstBXCapture::closeWaitsForTheStatisticsFile()
{
    std::unique_ptr<OstrakServer> server = startServer(400);
    QVERIFY(server);
    QTemporaryDir dir;
    BX bx;
    bx.show();
    useServer(bx, server->tcpPort(), false);
    child<QLineEdit>(bx, "backupRepository")->setText(dir.path());
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QVERIFY(bx.isCapturing());
    QTRY_VERIFY_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames > 100, 10000);
    BoxAnswerer answerer({ QMessageBox::Yes });
    QVERIFY(bx.close());
    QCOMPARE(answerer.texts, QStringList { "A network 'Analysis' is in progress. If you continue it will stop." });
    QVERIFY(!bx.isCapturing());
    QCOMPARE(bx.ostrakCard(), nullptr);
    QVERIFY(QFile::exists(dir.filePath("capture.xml")));
    QVERIFY(QFile::exists(dir.filePath("capture.vtrc")));
}

QTEST_MAIN(TstBXCapture)
#include "tst_bxcapture.moc"
