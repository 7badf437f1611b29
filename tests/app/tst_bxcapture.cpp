// Captures in the real window, from the capture server on loopback and, in the
// walk-through, from an example project running on the simulated boards, caught
// through the simulated card or the server over TCP or UDP.
// With BX_SCREENSHOT set the pages are saved as <BX_SCREENSHOT>-*.png.

#include "FipSimulatedNetwork.h"
#include "OstrakSimulator.h"
#include "analysis/AnalysisContext.h"
#include "analysis/DesignCheckATModel.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MainATModel.h"
#include "analysis/MnemoATModel.h"
#include "analysis/MnemoAnalysis.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/StatisticsPage.h"
#include "analysis/TransactionATModel.h"
#include "capture/decoder/TraceRow.h"
#include "capture/device/OstrakCard.h"
#include "capture/files/CaptureSession.h"
#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "app/FrameFilterBar.h"
#include "kiverrors.h"
#include "tests/app/AppTestUtil.h"

#include <QUdpSocket>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

using AppTest::child;

namespace {

const QString kWritten = QStringLiteral("5A A5 12 34 ");

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

/// `found` is `expected` started at any of its microcycles.
bool sameCycle(Macrocycle found, const Macrocycle& expected)
{
    for (size_t shift = 0; shift < found.size(); ++shift) {
        if (found == expected)
            return true;
        std::rotate(found.begin(), found.begin() + 1, found.end());
    }
    return false;
}

/// The macrocycle without the presence requests its last elementary cycle also makes.
Macrocycle withoutPresence(const Macrocycle& cycles)
{
    Macrocycle kept;
    for (const Microcycle& cycle : cycles) {
        kept.emplace_back();
        std::copy_if(cycle.begin(), cycle.end(), std::back_inserter(kept.back()),
                     [](quint16 id) { return (id & 0x1400) != 0x1400; });
    }
    return kept;
}

QStringList traceRows(const MainATModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join('\t');
    }
    return rows;
}

/// The design check's findings, notes too, sorted.
QStringList findings(const DesignCheckATModel& model)
{
    QStringList list;
    for (const CheckFinding& f : model.report().findings)
        list << checkSeverityName(f.severity) + ' ' + checkKindName(f.kind) + ' ' + f.object;
    list.sort();
    return list;
}

QVariant script(BX& bx, const char* view, const QString& expression)
{
    return child<QWebView>(bx, view)->page()->mainFrame()->evaluateJavaScript(expression);
}

QString chart(BX& bx, const QString& expression)
{
    return script(bx, "mnemosGraphWebView", "(function(){ var o = myChart.getOption(); return " + expression + "; })()")
        .toString();
}

void checkFirst(BX& bx, int count)
{
    for (int row = 0; row < std::min(count, bx.mnemoSelectionModel()->rowCount()); ++row)
        bx.mnemoSelectionModel()->item(row)->setCheckState(Qt::Checked);
}

/// BX_SCREENSHOT set: the analysis pages, each saved as <BX_SCREENSHOT>-<prefix>-<page>.png.
void shootPages(BX& bx, const QString& prefix, QStringList pages)
{
    if (!qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        return;
    bx.resize(1500, 950);
    child<QToolButton>(bx, "ostrakButton")->click();
    for (const QString& page : pages) {
        child<QPushButton>(bx, page)->setChecked(true);
        // The donut settles after a resize; the graphs draw their series.
        QTest::qWait(page.contains("Macro") ? 1000 : page.contains("Mnemonics") ? 2500 : 50);
        AppTest::shot(&bx, prefix + "-" + page);
    }
}

/// Start FIP Catch, as the user clicks it (a local card's choice: the first card).
void start(BX& bx)
{
    AppTest::DialogAccepter chooser;
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QVERIFY(bx.isCapturing());
}

void stop(BX& bx)
{
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
}

} // namespace

class TstBXCapture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QSettings(BX::OrganizationName, BX::ProductName).clear(); } // each test from the defaults
    void cleanup();
    void serverGoneIsTold();
    void sizeLimitStopsAtTheFirstTick();
    void refusedStartIsToldAndFreesTheCard();
    void earlierFilesAreReplacedOnlyWhenAsked_data();
    void earlierFilesAreReplacedOnlyWhenAsked();
    void closeWaitsForTheStatisticsFile();
    void mnemonicCapturesNeverMix();
    void walkThrough_data();
    void walkThrough();
    void designCheckModel();
    void filteredLiveTableFollowsTheLastMatch_data();
    void filteredLiveTableFollowsTheLastMatch();

private:
    /// Capture options for the server at `port` over TCP, into a folder of its own:
    /// a capture's files are replaced only when the user agrees.
    void useServer(BX& bx, quint16 port)
    {
        AppTest::captureOptions(bx, "tcp", port, m_dir.filePath(QString("run%1").arg(++m_runs)));
        // The simulated bus polls station presence where a real one sends padding.
        child<QRadioButton>(bx, "presenceIdsPadding")->setChecked(true);
    }
    /// `frames` frames from the server, then Stop.
    void captureFrames(BX& bx, int frames);
    /// A server streaming `frames` frames over TCP, then staying idle.
    static std::unique_ptr<OstrakServer> startServer(int frames, const QString& flow = "osp")
    {
        return AppTest::startServer({ "--tcp", "0", "--speed", "1", "--flow", flow, "--rate", "20000", "--frames",
                                      QString::number(frames), "--sessions", "1", "--end", "idle" });
    }
    /// The example project running on the simulated boards, its bus using `padding`.
    void runBus(const QString& folder, int padding);
    /// A value written on a produced variable of four bytes or more, seen by its consumer.
    void writeProducedValue(quint16* id, QString* written);
    /// The first scan table's elementary cycles: identifiers up to each wait.
    Macrocycle projectScanTable() const;

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    int m_runs = 0;
    std::unique_ptr<BX> m_bx;
};

void TstBXCapture::initTestCase()
{
    AppTest::isolateSettings(m_settingsDir.path());
}

void TstBXCapture::cleanup()
{
    if (m_bx)
        m_bx->designModel()->undoStack()->setClean();
    m_bx.reset();
    VantorSimulator::reset();
    OstrakSimulator::reset();
}

void TstBXCapture::serverGoneIsTold()
{
    auto server = AppTest::startServer({ "--tcp", "0", "--flat-out", "--frames", "300", "--sessions", "1", "--end", "close" });
    QVERIFY(server);
    BX bx;
    useServer(bx, server->tcpPort());
    BoxAnswerer answerer({ QMessageBox::Ok });
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing() && !answerer.texts.isEmpty(), 10000);
    QCOMPARE(answerer.titles, QStringList { "Ostrak" });
    QVERIFY2(answerer.texts.first().contains("interrupted"), qPrintable(answerer.texts.first()));
    QCOMPARE(bx.ostrakCard(), nullptr);
}

void TstBXCapture::sizeLimitStopsAtTheFirstTick()
{
    auto server = AppTest::startServer({ "--tcp", "0", "--rate", "2000", "--sessions", "1", "--end", "idle" });
    QVERIFY(server);
    BX bx;
    useServer(bx, server->tcpPort());
    child<QRadioButton>(bx, "backupSizeLimit")->setChecked(true);
    child<QLineEdit>(bx, "backupSizeLimitValue")->setText("0");
    BoxAnswerer answerer({ QMessageBox::Ok });
    bx.findChild<QTimer*>("statisticsTimer")->stop(); // the test gives the ticks
    start(bx);
    bx.onUpdateAnalysisStatisticCounters(); // the first tick, not a second one
    QCOMPARE(answerer.texts, QStringList { "The analysis was stopped because the size limit of backup (0 MB) is reached." });
    QTRY_VERIFY(!bx.isCapturing());
}

// The local card opens but refuses to start: the user is told, the card is free for
// the next try, and the button reads as before.
void TstBXCapture::refusedStartIsToldAndFreesTheCard()
{
    OstrakSimulator::Settings cards = OstrakSimulator::settings();
    cards.pciCards = 0; // the USB card is the one chosen
    OstrakSimulator::setSettings(cards);
    BX bx;
    useServer(bx, 0);
    child<QRadioButton>(bx, "localLocation")->setChecked(true);
    AppTest::DialogAccepter chooser;
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
    start(bx);
    stop(bx);
}

void TstBXCapture::earlierFilesAreReplacedOnlyWhenAsked_data()
{
    QTest::addColumn<int>("backupType");
    QTest::addColumn<QString>("existing");
    QTest::addColumn<int>("answer");
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
    QVERIFY(AppTest::writeFile(path, kept));
    std::unique_ptr<OstrakServer> server = startServer(200);
    QVERIFY(server);
    BX bx;
    useServer(bx, server->tcpPort());
    child<QComboBox>(bx, "backupFileType")->setCurrentIndex(backupType);
    child<QLineEdit>(bx, "backupRepository")->setText(dir.path());
    BoxAnswerer answerer({ QMessageBox::StandardButton(answer) });
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QCOMPARE(answerer.titles, QStringList { "Brantix" });
    QCOMPARE(answerer.texts, QStringList { "The destination file already exists.\nIf you continue, it will be deleted." });
    QCOMPARE(bx.isCapturing(), answer == QMessageBox::Yes);
    if (answer == QMessageBox::No) {
        QCOMPARE(bx.ostrakCard(), nullptr);
        QCOMPARE(AppTest::readFile(path), kept);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(200), 10000);
    stop(bx);
    QVERIFY(!AppTest::readFile(path).startsWith(kept));
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
    useServer(bx, server->tcpPort());
    child<QLineEdit>(bx, "backupRepository")->setText(dir.path());
    start(bx);
    QTRY_VERIFY_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames > 100, 10000);
    BoxAnswerer answerer({ QMessageBox::Yes });
    QVERIFY(bx.close());
    QCOMPARE(answerer.texts, QStringList { "A network 'Analysis' is in progress. If you continue it will stop." });
    QVERIFY(!bx.isCapturing());
    QCOMPARE(bx.ostrakCard(), nullptr);
    QVERIFY(QFile::exists(dir.filePath("capture.xml")));
}

void TstBXCapture::captureFrames(BX& bx, int frames)
{
    std::unique_ptr<OstrakServer> server = startServer(frames);
    QVERIFY(server);
    AppTest::captureOptions(bx, "tcp", server->tcpPort(), m_dir.filePath(QString("run%1").arg(++m_runs)));
    start(bx);
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(frames), 20000);
    stop(bx);
}

// Each capture replaces the mnemonic values, the table and the graph of the one before.
void TstBXCapture::mnemonicCapturesNeverMix()
{
    BX bx;
    bx.resize(1500, 950);
    bx.show();
    bx.loadFileProject(AppTest::exampleProject("2sta_worldfip_1M.brxprj"));
    QAbstractItemModelTester tester(bx.mnemoATModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const MnemoAnalysis& analysis = *bx.mnemoAnalysis();

    captureFrames(bx, 20000);
    QCOMPARE(bx.mnemoATModel()->rowCount(), 8);
    QCOMPARE(bx.mnemoSelectionModel()->rowCount(), 8); // all Bool: every one drawable
    QVERIFY(analysis.dates().size() > 10);
    const size_t firstCount = analysis.dates().size();
    // Values the table shows are the analysis' own.
    const int index = analysis.indexOf(analysis.definition(0).item);
    QCOMPARE(bx.mnemoATModel()->index(0, MnemoATModel::DataChangesCol).data().toString(),
             QString::number(analysis.definition(index).changes));

    checkFirst(bx, 2);
    QVERIFY(bx.lastMnemoGraphScript().endsWith(",true);")); // a new selection replaces the option
    QTRY_COMPARE_WITH_TIMEOUT(chart(bx, "o.series.length"), QString("2"), 5000);
    QCOMPARE(chart(bx, "o.xAxis[0].data.length"), QString::number(analysis.dates().size()));
    bx.onRefreshMnemoGraphs();
    QVERIFY(!bx.lastMnemoGraphScript().endsWith(",true);")); // the same selection merges

    // A second capture: nothing of the first in the values, the list or the chart.
    captureFrames(bx, 8000);
    QCOMPARE(chart(bx, "$('#empty').is(':visible')"), QString("true"));
    QVERIFY(!analysis.dates().empty());
    // The card's bus time starts over: mixed dates would outnumber the first capture's or run backwards.
    QVERIFY(analysis.dates().size() < firstCount);
    QVERIFY(std::is_sorted(analysis.dates().begin(), analysis.dates().end()));
    QCOMPARE(bx.mnemoSelectionModel()->item(0)->checkState(), Qt::Unchecked);
    checkFirst(bx, 2);
    QTRY_COMPARE_WITH_TIMEOUT(chart(bx, "o.series.length"), QString("2"), 5000);
    QCOMPARE(chart(bx, "o.xAxis[0].data.length"), QString::number(analysis.dates().size()));
    QCOMPARE(chart(bx, "o.series[0].data.length"), QString::number(analysis.dates().size()));
    QCOMPARE(chart(bx, "o.xAxis[0].data[0]"), MnemoAnalysis::dateText(analysis.dates().front()));
    shootPages(bx, "mnemonics", { "analysisMnemonicsButton" });

    // An opened trace holds no mnemonic values: everything is emptied.
    QVERIFY(bx.openCapture(bx.captureSession()->files().trace));
    QVERIFY(analysis.dates().empty());
    QCOMPARE(chart(bx, "$('#empty').is(':visible')"), QString("true"));
    QCOMPARE(bx.mnemoATModel()->index(0, MnemoATModel::DataChangesCol).data().toString(), QString("0"));
}

void TstBXCapture::runBus(const QString& folder, int padding)
{
    // Two boards plugged in before the window's detector makes its first pass.
    VantorSimulator::setBoards({ VantorSimulator::Board(), VantorSimulator::Board() });
    VantorSimulator::Network network;
    network.paddingId = quint16(padding);
    VantorSimulator::setNetwork(network);
    m_bx = std::make_unique<BX>();
    m_bx->show();
    m_bx->loadFileProject(AppTest::exampleProject("2sta_worldfip_1M.brxprj"));
    QVERIFY(m_bx->isProjectOpen());
    child<QLineEdit>(*m_bx, "savePath")->setText(folder + "/stations");
    child<QLineEdit>(*m_bx, "fileReceptionDir")->setText(folder + "/received");
    QTRY_COMPARE(m_bx->getTarvexList().size(), 2);
    m_bx->onAutoBindDevicesClicked();
    QCOMPARE(m_bx->getTarvexAttachedList().size(), 2);
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(m_bx->isNetworkConnected());
    for (FipBusArbitratorDevice* worker : m_bx->arbitratorWorkers()->workers())
        QTRY_VERIFY(worker->isProcessing());
    // The arbitrator started with the network and scans its table.
    QTRY_VERIFY(FipSimulatedNetwork::current() != nullptr);
}

void TstBXCapture::writeProducedValue(quint16* id, QString* written)
{
    MainDTModel* design = m_bx->designModel();
    QModelIndex produced;
    for (const QModelIndex& i : design->getClassTypeIndexes(MainDTModel::VARIABLE_OUT)) {
        if (!produced.isValid() && design->text(i, MainDTModel::ColVarOutLength).toInt() >= 4)
            produced = i;
    }
    QVERIFY(produced.isValid());
    *id = quint16(MainDTModel::parseNumber(design->text(produced, MainDTModel::ColVarOutId)));
    const int length = design->text(produced, MainDTModel::ColVarOutLength).toInt();
    *written = (kWritten + QString("00 ").repeated(length)).left(3 * length);
    design->setDataWithoutControl(design->cell(produced, MainDTModel::ColData), *written);
    for (const QModelIndex& i : design->getClassTypeIndexes(MainDTModel::VARIABLE_IN)) {
        if (MainDTModel::parseNumber(design->text(i, MainDTModel::ColVarInId)) == *id)
            QTRY_COMPARE_WITH_TIMEOUT(design->text(i, MainDTModel::ColData), *written, 5000);
    }
}

Macrocycle TstBXCapture::projectScanTable() const
{
    MainDTModel* design = m_bx->designModel();
    Macrocycle table(1);
    QModelIndex scanTable;
    for (const QModelIndex& i : design->getAllIndexes()) {
        if (design->classType(i) != MainDTModel::INSTRUCTION)
            continue;
        if (!scanTable.isValid())
            scanTable = i.parent();
        if (i.parent() != scanTable)
            continue;
        const QString type = design->text(i, MainDTModel::ColInstructionType);
        if (type == "SEND_ID_DAT")
            table.back().push_back(quint16(MainDTModel::parseNumber(design->text(i, MainDTModel::ColInstructionId))));
        else if (type.startsWith("WAIT_"))
            table.emplace_back();
    }
    if (table.back().empty())
        table.pop_back();
    return table;
}

// Both links and both flows are the card's own (its tests take each pair); here the
// window's choice of link, the event flow's anchor and a padding found by the search.
void TstBXCapture::walkThrough_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<int>("padding");
    QTest::newRow("local card") << "local" << "" << 0x9080;
    QTest::newRow("server over tcp, events") << "tcp" << "event" << 0x9080;
    QTest::newRow("server over udp, osp") << "udp" << "osp" << 0x9080;
    // The capture expects 0x9080: its automatic search finds the network's.
    QTest::newRow("local card, other padding") << "local" << "" << 0x7530;
}

void TstBXCapture::walkThrough()
{
    QFETCH(QString, path);
    QFETCH(QString, flow);
    QFETCH(int, padding);
    QTemporaryDir dir;
    runBus(dir.path(), padding);
    if (QTest::currentTestFailed())
        return;
    BX& bx = *m_bx;
    quint16 producedId = 0;
    QString written;
    writeProducedValue(&producedId, &written);

    std::unique_ptr<OstrakServer> server;
    quint16 port = 0;
    if (path != "local") {
        port = path == "udp" ? freeUdpPort() : 0;
        server = AppTest::startServer({ "--" + path, QString::number(port), "--speed", "1", "--flow", flow });
        QVERIFY(server);
        if (path == "tcp")
            port = server->tcpPort();
    }
    AppTest::captureOptions(bx, path, port, dir.path());
    // A conversion ready to go waits for the capture: they share one decoder.
    child<QLineEdit>(bx, "prawFilePath")->setText(dir.filePath("waiting.praw"));
    child<QLineEdit>(bx, "vtrcFilePath")->setText(dir.filePath("waiting.vtrc"));
    auto* button = child<QPushButton>(bx, "startStopCapturingButton");
    auto* openProject = bx.findChild<QAction*>("actionOpenProject");
    auto* convert = child<QPushButton>(bx, "prawToVtrcGenerateButton");
    start(bx);
    QCOMPARE(button->text(), QString("Stop FIP Catch"));
    QVERIFY(!openProject->isEnabled());
    QVERIFY(!convert->isEnabled());
    // The capture figures show beside the status messages, which keep their 10 s.
    auto* figures = child<QLabel>(bx, "captureFiguresLabel");
    QTRY_VERIFY_WITH_TIMEOUT(figures->text().contains("Capturing:") && figures->isVisible(), 5000);
    QVERIFY(!child<QLabel>(bx, "statusMessageLabel")->text().contains("Capturing:"));
    // The speed the stream told is the card's speed too.
    QCOMPARE(bx.ostrakCard()->getSpeed(), 1);
    // Enough bus time for several evaluations of the macrocycle.
    const auto& counters = bx.captureSession()->decoder().counters();
    QTRY_VERIFY2_WITH_TIMEOUT(!bx.macrocycleAnalysis()->macrocycle().empty(),
                              qPrintable(QString("%1 frames decoded, %2 packets lost, %3 errors").arg(counters.frames)
                                             .arg(counters.lostPackets).arg(bx.analysisContext()->counters.errorTotal)),
                              20000);
    QTest::qWait(1500);
    // The design check runs on the statistics timer and finds the bus as designed.
    DesignCheckATModel* check = bx.designCheckModel();
    QTRY_VERIFY_WITH_TIMEOUT(check->report().checksMade > 10, 10000);
    QCOMPARE(findings(*check), QStringList());
    auto* summary = child<QLabel>(bx, "designCheckSummaryLabel");
    QVERIFY2(summary->text().endsWith(QLatin1String("checks passed, 0 warnings, 0 errors")), qPrintable(summary->text()));
    // The donut draws the scan table, not only its first grey slice.
    QTRY_VERIFY_WITH_TIMEOUT(script(bx, "macroWebView", "chart.data().length").toInt() > 1, 5000);
    checkFirst(bx, 4); // the values of the first produced variables drawn: the stations' own
    shootPages(bx, "e2e-" + path, { "analysisVisualFipTraceButton", "analysisStatisticsButton",
                                    "analysisStationsPresenceButton", "analysisMacroMicroButton", "analysisMnemonicsButton" });
    stop(bx);
    QCOMPARE(bx.ostrakCard(), nullptr);
    QVERIFY(figures->text().isEmpty() && !figures->isVisible());
    QCOMPARE(button->text(), QString("Start FIP Catch"));
    QVERIFY(convert->isEnabled());

    // Every frame decoded is a row, and so is a traffic interruption (a server held up
    // for a second on a loaded machine): in the file, the table and the statistics.
    const int rowCount = int(counters.frames + counters.trafficInterruptions);
    QCOMPARE(AppTest::readFile(bx.captureSession()->files().trace).count('\n'), rowCount);
    QCOMPARE(bx.frameTableModel()->rowCount(), rowCount);
    const StatisticsCounters& counted = bx.analysisContext()->counters;
    QCOMPARE(counted.frameTotal + counted.errorTotal, quint64(rowCount));
    QCOMPARE(bx.statisticsPage()->valueLabel("totalFrames")->text(),
             QLocale(QLocale::French, QLocale::France).toString(counted.frameTotal));

    // The macrocycle is the project's scan table; its last elementary cycle also
    // tests the presence of the stations.
    const Macrocycle detected = withoutPresence(bx.macrocycleAnalysis()->macrocycle());
    QVERIFY(sameCycle(detected, projectScanTable()));
    // The search settled on the network's padding.
    QVERIFY(bx.captureSession()->decoder().isPaddingId(quint16(padding)));

    // Useful traffic shares the bus with padding.
    const int load = child<QProgressBar>(bx, "netTrafficRate")->value();
    QVERIFY2(load > 0 && load < 100, qPrintable(QString::number(load)));

    // The stations' own application moves the values nobody writes.
    const MnemoAnalysis* mnemonics = bx.mnemoAnalysis();
    quint64 mostChanges = 0;
    for (int i = 0; i < mnemonics->count(); ++i)
        mostChanges = std::max(mostChanges, mnemonics->definition(i).changes);
    QVERIFY2(mostChanges > 1, qPrintable(QString::number(mostChanges)));

    // The written value is what the transactions saw last.
    // (The row shows the reply after its control byte: PDU and length first.)
    const QModelIndex request = bx.transactionModel()->getRootIdIdx(producedId, 0x03);
    QVERIFY(request.isValid());
    const QString seen = request.sibling(request.row(), TransactionATModel::DataValueCol).data().toString().toUpper();
    QVERIFY2(seen.contains(written), qPrintable(seen));

    // Exactly the bound stations answered their presence.
    QSet<int> bound;
    for (const QModelIndex& s : bx.getTarvexAttachedList())
        bound.insert(bx.designModel()->text(s, MainDTModel::ColStationAddress).toInt());
    for (int address = 0; address < 256; ++address) {
        const quint8 state = bx.analysisContext()->identifier(quint16(0x1400 | address)).presenceState;
        const bool present = StationPresenceTable::presence(state) == StationPresenceTable::Present;
        QVERIFY2(present == bound.contains(address), qPrintable(QString::number(address)));
    }

    // Every padding request in the trace is one "Padding frames" counted, no more.
    MainATModel* live = bx.frameTableModel();
    quint64 paddingRows = 0;
    const QString paddingText = QString::asprintf("0x%04x", padding);
    for (int r = 0; r < live->rowCount(); ++r)
        paddingRows += live->index(r, TraceRow::Control).data().toString() == "ID_DAT"
            && live->index(r, TraceRow::Identifier).data().toString() == paddingText;
    QVERIFY(paddingRows > 0);
    if (padding == 0x9080)
        QCOMPARE(bx.captureSession()->decoder().counters().paddingFrames, paddingRows);

    // Stopped, disconnected, and the trace reopened: the same rows. The event flow's
    // live anchor is the wall clock at its first record unless the table read the
    // first line since; the reopened table anchors its first row: anchor it here too.
    live->setData(live->index(0, TraceRow::Anchor), true);
    const QStringList rows = traceRows(*live);
    QVERIFY(rows.size() > 100);
    const QStringList checked = findings(*check);
    bx.onCoDecoNetworkButtonClicked();
    QVERIFY(!bx.isNetworkConnected());
    QVERIFY(openProject->isEnabled());
    QVERIFY(bx.openCapture(bx.captureSession()->files().trace));
    QCOMPARE(traceRows(*bx.frameTableModel()), rows);
    QCOMPARE(findings(*check), checked);

    // The design edited after the capture: a reply longer than designed is an error, and
    // a double click on it shows its first frame in the frame table.
    MainDTModel* design = bx.designModel();
    for (const QModelIndex& v : design->getClassTypeIndexes(MainDTModel::VARIABLE_OUT)) {
        if (design->text(v, MainDTModel::ColVarOutId) == "0x0101")
            design->setDataWithoutControl(design->cell(v, MainDTModel::ColVarOutLength), "6");
    }
    child<QPushButton>(bx, "designCheckRunButton")->click();
    int row = -1;
    for (int r = 0; r < check->rowCount(); ++r)
        if (check->report().findings.at(r).kind == CheckKind::ReplyLength)
            row = r;
    QVERIFY(row >= 0);
    child<QToolButton>(bx, "ostrakButton")->click();
    child<QPushButton>(bx, "analysisDesignCheckButton")->setChecked(true);
    auto* view = child<QTableView>(bx, "designCheckATView");
    QTest::qWait(50);
    AppTest::shot(&bx, "designcheck-" + path);
    const QRect cell = view->visualRect(check->index(row, DesignCheckATModel::ObjectCol));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    auto* frames = child<QTableView>(bx, "mainATView");
    QVERIFY(frames->isVisible());
    const QModelIndex current = frames->currentIndex();
    const QString number = current.sibling(current.row(), 1).data().toString();
    QCOMPARE(QString(number).remove(QRegularExpression("[^0-9]")).toLongLong(), check->report().findings.at(row).firstFrame);
    QCOMPARE(current.sibling(current.row(), 9).data().toString(), check->report().findings.at(row).object.left(6));
}

void TstBXCapture::designCheckModel()
{
    DesignCheckATModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    CheckReport report;
    report.checksMade = 4;
    report.findings.append({ CheckSeverity::Error, CheckKind::ReplyLength, "0x0101", "8 bytes", "6 bytes", 7, "n" });
    model.setReport(report);
    QCOMPARE(model.rowCount(), 1);
    report.findings[0].measured = "5 bytes";
    model.setReport(report); // the same finding: updated in place
    QCOMPARE(model.index(0, DesignCheckATModel::MeasuredCol).data().toString(), QStringLiteral("5 bytes"));
    report.findings.append({ CheckSeverity::Info, CheckKind::RefreshPeriod, "0x0100", "5 ms", "1 ms", -1, "n" });
    model.setReport(report);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, DesignCheckATModel::FirstFrameCol).data().toString(), QStringLiteral("-"));
    model.clear();
    QCOMPARE(model.rowCount(), 0);
}

void TstBXCapture::filteredLiveTableFollowsTheLastMatch_data()
{
    QTest::addColumn<bool>("atBottom");
    QTest::newRow("at the bottom, it follows") << true;
    QTest::newRow("scrolled up, it stays") << false;
}

void TstBXCapture::filteredLiveTableFollowsTheLastMatch()
{
    QFETCH(bool, atBottom);
    const int frames = 60000; // three seconds: several ticks hand rows over
    std::unique_ptr<OstrakServer> server = startServer(frames);
    QVERIFY(server);
    BX bx;
    bx.resize(1200, 800);
    bx.show();
    useServer(bx, server->tcpPort());
    child<QToolButton>(bx, "ostrakButton")->click();
    child<QPushButton>(bx, "analysisVisualFipTraceButton")->click();
    QVERIFY(bx.frameFilterBar()->applyFilter("ctrl == RP_DAT"));
    const QAbstractItemModel* shown = bx.frameFilterModel();
    QScrollBar* bar = child<QTableView>(bx, "mainATView")->verticalScrollBar();
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(bar->maximum() > 0, 10000);
    bar->setValue(atBottom ? bar->maximum() : 0);
    const int firstRows = shown->rowCount();
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(frames), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(shown->rowCount() > firstRows + 1000 && !bx.frameFilterModel()->isMatching(), 5000);
    QCOMPARE(shown->index(shown->rowCount() - 1, 8).data().toString(), QString("RP_DAT"));
    QCOMPARE(bar->value(), atBottom ? bar->maximum() : 0);
    child<QPushButton>(bx, "startStopCapturingButton")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
}

QTEST_MAIN(TstBXCapture)
#include "tst_bxcapture.moc"
