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

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
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

private:
    /// Points the window's capture options at the server, backing up a trace into m_dir.
    void useServer(BX& bx, quint16 port, bool udp);
    template<typename T> T* child(BX& bx, const char* name) { return bx.findChild<T*>(name); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
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
    child<QLineEdit>(bx, "backupRepository")->setText(m_dir.path());
    child<QSlider>(bx, "depthAnalysisSlider")->setValue(2);
    // The simulated bus polls station presence where a real one sends padding.
    child<QRadioButton>(bx, "presenceIdsPadding")->setChecked(true);
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
    auto* button = child<QPushButton>(bx, "startStopCapturingButton");
    button->click();
    QVERIFY(bx.isCapturing());
    QCOMPARE(button->text(), QString("Stop FIP Catch"));
    QVERIFY(!bx.findChild<QAction*>("actionOpenProject")->isEnabled());

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

QTEST_MAIN(TstBXCapture)
#include "tst_bxcapture.moc"
