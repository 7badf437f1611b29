// One PC, no hardware: an example project runs on the simulated arbitrator
// boards, a value is written on the control side, and the window captures the
// same bus through the simulated card, or through the capture server over TCP or
// UDP. The analysis must show what the network does: the project's scan table as
// the macrocycle, the written value in the transactions, exactly the bound
// stations present, padding counted frame for frame, the load below full and the
// stations' own values moving; the trace then reopens with the same rows. The
// capture options stay at their defaults (padding 0x9080, automatic search).
// With BX_SCREENSHOT set, each page is saved as <BX_SCREENSHOT>-e2e-<path>-<page>.png.

#include "FipSimulatedNetwork.h"
#include "OstrakServer.h"
#include "VantorSimulator.h"
#include "analysis/AnalysisContext.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MainATModel.h"
#include "analysis/MnemoAnalysis.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/TransactionATModel.h"
#include "app/BX.h"
#include "capture/decoder/TraceRow.h"
#include "capture/files/CaptureSession.h"
#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "design/MainDTModel.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUdpSocket>
#include <QUndoStack>
#include <QtTest>

#include <memory>

namespace {

const QString kProject
    = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_1M.brxprj");
const QString kWritten = QStringLiteral("5A A5 12 34 ");

bool isPresence(quint16 id)
{
    return (id & 0x1400) == 0x1400;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    return probe.localPort();
}

/// `found` is `expected` started at any of its microcycles.
bool sameCycle(const Macrocycle& found, const Macrocycle& expected)
{
    if (found.size() != expected.size())
        return false;
    for (size_t shift = 0; shift < found.size(); ++shift) {
        bool same = true;
        for (size_t i = 0; i < found.size() && same; ++i)
            same = found[i] == expected[(i + shift) % found.size()];
        if (same)
            return true;
    }
    return false;
}

QString text(const Macrocycle& cycles)
{
    QStringList micros;
    for (const Microcycle& micro : cycles) {
        QStringList ids;
        for (quint16 id : micro)
            ids << QString::asprintf("%04x", id);
        micros << ids.join(' ');
    }
    return micros.join('|');
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

} // namespace

class TstEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void walkThrough_data();
    void walkThrough();

private:
    template<typename T> T* child(const char* name) const { return m_bx->findChild<T*>(name); }
    void connectNetwork();
    void captureOptions(const QString& path, quint16 port);
    void capture(const QString& path);
    Macrocycle projectScanTable() const;
    void screenshots(const QString& path);

    QTemporaryDir m_settingsDir;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<BX> m_bx;
};

void TstEndToEnd::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstEndToEnd::cleanup()
{
    if (m_bx)
        m_bx->designModel()->undoStack()->setClean();
    m_bx.reset();
    m_dir.reset();
    VantorSimulator::reset();
}

void TstEndToEnd::walkThrough_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<int>("padding");
    QTest::newRow("local card") << "local" << "" << 0x9080;
    QTest::newRow("server over tcp, events") << "tcp" << "event" << 0x9080;
    QTest::newRow("server over tcp, osp") << "tcp" << "osp" << 0x9080;
    QTest::newRow("server over udp, events") << "udp" << "event" << 0x9080;
    QTest::newRow("server over udp, osp") << "udp" << "osp" << 0x9080;
    // The capture expects 0x9080: its automatic search finds the network's.
    QTest::newRow("local card, other padding") << "local" << "" << 0x7530;
}

void TstEndToEnd::connectNetwork()
{
    m_bx->loadFileProject(kProject);
    QVERIFY(m_bx->isProjectOpen());
    child<QLineEdit>("savePath")->setText(m_dir->filePath("stations"));
    child<QLineEdit>("fileReceptionDir")->setText(m_dir->filePath("received"));
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

void TstEndToEnd::captureOptions(const QString& path, quint16 port)
{
    child<QRadioButton>(path == "local" ? "localLocation" : "serverLocation")->setChecked(true);
    child<QRadioButton>(path == "udp" ? "udpRemote" : "tcpRemote")->setChecked(true);
    child<QLineEdit>("osIPAddress")->setText("127.0.0.1");
    child<QSpinBox>("osPortNumber")->setValue(port);
    child<QRadioButton>("backupYes")->setChecked(true);
    child<QComboBox>("backupFileType")->setCurrentIndex(1);
    child<QLineEdit>("backupRepository")->setText(m_dir->path());
    child<QSlider>("depthAnalysisSlider")->setValue(2);
}

void TstEndToEnd::capture(const QString& path)
{
    // The card choice of a local capture is answered with the first card.
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    if (path == "local")
        chooser.start(20);
    auto* button = child<QPushButton>("startStopCapturingButton");
    button->click();
    QVERIFY(m_bx->isCapturing());
    // Enough bus time for several evaluations of the macrocycle.
    QTRY_VERIFY2_WITH_TIMEOUT(!m_bx->macrocycleAnalysis()->macrocycle().empty(),
                              qPrintable(QString("%1 frames decoded, %2 packets lost, %3 errors")
                                             .arg(m_bx->captureSession()->decoder().counters().frames).arg(m_bx->captureSession()->decoder().counters().lostPackets).arg(m_bx->analysisContext()->counters.errorTotal)),
                              20000);
    QTest::qWait(1500);
    if (qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        screenshots(path);
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_bx->isCapturing(), 5000);
}

// The first scan table's elementary cycles: identifiers up to each wait.
Macrocycle TstEndToEnd::projectScanTable() const
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

void TstEndToEnd::screenshots(const QString& path)
{
    m_bx->resize(1500, 950);
    m_bx->findChild<QToolButton*>("ostrakButton")->click();
    // The values of the first produced variables drawn: the stations' own.
    for (int row = 0; row < std::min(4, m_bx->mnemoSelectionModel()->rowCount()); ++row)
        m_bx->mnemoSelectionModel()->item(row)->setCheckState(Qt::Checked);
    for (const char* page : { "analysisVisualFipTraceButton", "analysisStatisticsButton",
                              "analysisStationsPresenceButton", "analysisMacroMicroButton",
                              "analysisMnemonicsButton" }) {
        child<QPushButton>(page)->setChecked(true);
        const QByteArray name(page);
        QTest::qWait(name.contains("Macro") ? 1000 : name.contains("Mnemonics") ? 2500 : 50);
        m_bx->grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-e2e-" + path + "-" + page + ".png");
    }
}

void TstEndToEnd::walkThrough()
{
    QFETCH(QString, path);
    QFETCH(QString, flow);
    QFETCH(int, padding);
    m_dir = std::make_unique<QTemporaryDir>();
    // The boards are plugged in before the window's detector makes its first pass.
    VantorSimulator::Board usb;
    VantorSimulator::setBoards({ usb, usb });
    VantorSimulator::Network network;
    network.paddingId = quint16(padding);
    VantorSimulator::setNetwork(network);
    m_bx = std::make_unique<BX>();
    m_bx->show();
    connectNetwork();
    if (QTest::currentTestFailed())
        return;
    MainDTModel* design = m_bx->designModel();

    // A value written on the producer reaches its consumer through the bus.
    QModelIndex produced;
    for (const QModelIndex& i : design->getAllIndexes()) {
        if (design->classType(i) == MainDTModel::VARIABLE_OUT
            && design->text(i, MainDTModel::ColVarOutLength).toInt() >= 4) {
            produced = i;
            break;
        }
    }
    QVERIFY(produced.isValid());
    const quint16 producedId = quint16(MainDTModel::parseNumber(design->text(produced, MainDTModel::ColVarOutId)));
    const int length = design->text(produced, MainDTModel::ColVarOutLength).toInt();
    const QString written = (kWritten + QString("00 ").repeated(length)).left(3 * length);
    design->setDataWithoutControl(design->cell(produced, MainDTModel::ColData), written);
    QModelIndex consumed;
    for (const QModelIndex& i : design->getAllIndexes()) {
        if (design->classType(i) == MainDTModel::VARIABLE_IN
            && MainDTModel::parseNumber(design->text(i, MainDTModel::ColVarInId)) == producedId)
            consumed = i;
    }
    if (consumed.isValid())
        QTRY_COMPARE_WITH_TIMEOUT(design->text(consumed, MainDTModel::ColData), written, 5000);

    std::unique_ptr<OstrakServer> server;
    quint16 port = 0;
    if (path != "local") {
        OstrakServer::Options o;
        QString error;
        port = path == "udp" ? freeUdpPort() : 0;
        QVERIFY2(OstrakServer::parseArguments({ "ostrak-server", path == "udp" ? "--udp" : "--tcp",
                                                QString::number(port), "--speed", "1", "--flow", flow },
                                              &o, &error),
                 qPrintable(error));
        server = std::make_unique<OstrakServer>(o);
        QVERIFY(server->start());
        if (path == "tcp")
            port = server->tcpPort();
    }
    captureOptions(path, port);
    capture(path);
    if (QTest::currentTestFailed())
        return;

    // The macrocycle is the project's scan table; its last elementary cycle also
    // tests the presence of the stations.
    Macrocycle detected;
    for (const Microcycle& cycle : m_bx->macrocycleAnalysis()->macrocycle()) {
        detected.emplace_back();
        for (quint16 id : cycle) {
            if (!isPresence(id))
                detected.back().push_back(id);
        }
    }
    QVERIFY2(sameCycle(detected, projectScanTable()), qPrintable(text(detected) + " / " + text(projectScanTable())));
    // The search settled on the network's padding and counts it.
    QVERIFY(m_bx->captureSession()->decoder().isPaddingId(quint16(padding)));
    QVERIFY(m_bx->captureSession()->decoder().counters().paddingFrames > 0);

    // Useful traffic shares the bus with padding.
    const int load = child<QProgressBar>("netTrafficRate")->value();
    QVERIFY2(load > 0 && load < 100, qPrintable(QString::number(load)));

    // The stations' own application moves the values nobody writes.
    const MnemoAnalysis* mnemonics = m_bx->mnemoAnalysis();
    quint64 mostChanges = 0;
    for (int i = 0; i < mnemonics->count(); ++i)
        mostChanges = std::max(mostChanges, mnemonics->definition(i).changes);
    QVERIFY2(mostChanges > 1, qPrintable(QString::number(mostChanges)));

    // The written value is what the transactions saw last.
    // (The row shows the reply after its control byte: PDU and length first.)
    const QModelIndex request = m_bx->transactionModel()->getRootIdIdx(producedId, 0x03);
    QVERIFY(request.isValid());
    const QString seen = request.sibling(request.row(), TransactionATModel::DataValueCol).data().toString().toUpper();
    QVERIFY2(seen.contains(written), qPrintable(seen));

    // Exactly the bound stations answered their presence.
    QSet<int> bound;
    for (const QModelIndex& s : m_bx->getTarvexAttachedList())
        bound.insert(design->text(s, MainDTModel::ColStationAddress).toInt());
    for (int address = 0; address < 256; ++address) {
        const quint8 state = m_bx->analysisContext()->identifier(quint16(0x1400 | address)).presenceState;
        const bool present = StationPresenceTable::presence(state) == StationPresenceTable::Present;
        QVERIFY2(present == bound.contains(address), qPrintable(QString::number(address)));
    }

    // Stopped, disconnected, and the trace reopened: the same rows.
    const QStringList rows = traceRows(*m_bx->frameTableModel());
    QVERIFY(rows.size() > 100);
    // Every padding request in the trace is one "Padding frames" counted, no more.
    const MainATModel& table = *m_bx->frameTableModel();
    quint64 paddingRows = 0;
    const QString paddingText = QString::asprintf("0x%04x", padding);
    for (int r = 0; r < table.rowCount(); ++r)
        paddingRows += table.index(r, TraceRow::Control).data().toString() == "ID_DAT"
            && table.index(r, TraceRow::Identifier).data().toString() == paddingText;
    QVERIFY(paddingRows > 0);
    if (padding == 0x9080)
        QCOMPARE(m_bx->captureSession()->decoder().counters().paddingFrames, paddingRows);
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(!m_bx->isNetworkConnected());
    const QString trace = m_bx->captureSession()->files().trace;
    QVERIFY(m_bx->openCapture(trace));
    QCOMPARE(traceRows(*m_bx->frameTableModel()), rows);
}

QTEST_MAIN(TstEndToEnd)
#include "tst_endtoend.moc"
