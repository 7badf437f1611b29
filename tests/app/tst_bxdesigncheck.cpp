// The Design Check page from a real capture: an example project runs on the
// simulated boards, the simulated card captures it, the page checks it clean;
// a missing reply on the bus becomes a finding whose first frame a double-click
// shows in the frame table; the stored trace checks the same; edits to the
// design after the capture show each severity. The page's model passes the
// model tester. With BX_SCREENSHOT set the page and its HTML export are saved
// as <BX_SCREENSHOT>-designcheck-*.png.

#include "FipSimulatedNetwork.h"
#include "OstrakSimulator.h"
#include "VantorSimulator.h"
#include "analysis/DesignCheckATModel.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MainATModel.h"
#include "app/BX.h"
#include "capture/files/CaptureSession.h"
#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "design/MainDTModel.h"
#include "designcheck/DesignCheckReport.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUndoStack>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

#include <memory>

namespace {

const QString kProject
    = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_1M.brxprj");

QStringList rows(const DesignCheckATModel& model, bool withNotes = false)
{
    QStringList list;
    for (const CheckFinding& f : model.report().findings)
        if (withNotes || f.severity != CheckSeverity::Info)
            list << checkSeverityName(f.severity) + ' ' + checkKindName(f.kind) + ' ' + f.object;
    list.sort();
    return list;
}

} // namespace

class TstBxDesignCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void modelTester();
    void fromCapture();

private:
    template<typename T> T* child(const char* name) const { return m_bx->findChild<T*>(name); }
    void shot(QWidget* widget, const QString& name) const;

    QTemporaryDir m_settingsDir;
    std::unique_ptr<BX> m_bx;
};

void TstBxDesignCheck::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstBxDesignCheck::shot(QWidget* widget, const QString& name) const
{
    if (qEnvironmentVariableIsSet("BX_SCREENSHOT"))
        widget->grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-designcheck-" + name + ".png");
}

void TstBxDesignCheck::modelTester()
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
    QCOMPARE(model.index(0, 0).data(DesignCheckATModel::FirstFrameRole).toLongLong(), 7);
    report.findings.append({ CheckSeverity::Info, CheckKind::RefreshPeriod, "0x0100", "5 ms", "1 ms", -1, "n" });
    model.setReport(report);
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.index(1, DesignCheckATModel::FirstFrameCol).data().toString(), QStringLiteral("-"));
    model.clear();
    QCOMPARE(model.rowCount(), 0);
}

void TstBxDesignCheck::fromCapture()
{
    QTemporaryDir dir;
    VantorSimulator::Board usb;
    VantorSimulator::setBoards({ usb, usb });
    m_bx = std::make_unique<BX>();
    m_bx->show();
    m_bx->resize(1500, 950);
    m_bx->loadFileProject(kProject);
    QVERIFY(m_bx->isProjectOpen());
    child<QLineEdit>("savePath")->setText(dir.filePath("stations"));
    child<QLineEdit>("fileReceptionDir")->setText(dir.filePath("received"));
    QTRY_COMPARE(m_bx->getTarvexList().size(), 2);
    m_bx->onAutoBindDevicesClicked();
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(m_bx->isNetworkConnected());
    QTRY_VERIFY(FipSimulatedNetwork::current() != nullptr);

    child<QRadioButton>("localLocation")->setChecked(true);
    child<QRadioButton>("backupYes")->setChecked(true);
    child<QComboBox>("backupFileType")->setCurrentIndex(1);
    child<QLineEdit>("backupRepository")->setText(dir.path());
    child<QSlider>("depthAnalysisSlider")->setValue(2);
    QTimer chooser;
    connect(&chooser, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->accept();
    });
    chooser.start(20);
    auto* start = child<QPushButton>("startStopCapturingButton");
    start->click();
    QVERIFY(m_bx->isCapturing());

    // Filled on the statistics timer's fourth tick, and clean.
    DesignCheckATModel* model = m_bx->designCheckModel();
    QTRY_VERIFY_WITH_TIMEOUT(model->report().checksMade > 10 && !m_bx->macrocycleAnalysis()->macrocycle().empty(), 15000);
    QTest::qWait(2500);
    QCOMPARE(rows(*model, true), QStringList());
    auto* summary = child<QLabel>("designCheckSummaryLabel");
    QVERIFY2(summary->text().endsWith(QLatin1String("checks passed, 0 warnings, 0 errors")), qPrintable(summary->text()));
    m_bx->findChild<QToolButton*>("ostrakButton")->click();
    child<QPushButton>("analysisDesignCheckButton")->setChecked(true);
    QTest::qWait(50);
    shot(m_bx.get(), "clean");

    // Replies that never come (a presence or message reply may be the one missed).
    QTimer faults;
    connect(&faults, &QTimer::timeout, [] { OstrakSimulator::injectError(FipTrafficGenerator::Error::MissingReply); });
    faults.start(150);
    QTRY_VERIFY_WITH_TIMEOUT(rows(*model).join(' ').contains(checkKindName(CheckKind::MissingReplies)), 8000);
    faults.stop();
    QTest::qWait(1100); // the trace lines reach the file on every second tick
    start->click();
    QTRY_VERIFY_WITH_TIMEOUT(!m_bx->isCapturing(), 5000);
    const QStringList live = rows(*model, true);

    int row = -1;
    for (int r = 0; r < model->rowCount(); ++r)
        if (model->report().findings.at(r).kind == CheckKind::MissingReplies)
            row = r;
    QVERIFY(row >= 0);
    const qint64 frame = model->report().findings.at(row).firstFrame;
    m_bx->findChild<QToolButton*>("ostrakButton")->click();
    child<QPushButton>("analysisDesignCheckButton")->setChecked(true);
    auto* view = child<QTableView>("designCheckATView");
    QTest::qWait(50);
    const QRect cell = view->visualRect(model->index(row, DesignCheckATModel::ObjectCol));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    auto* frames = child<QTableView>("mainATView");
    QVERIFY(frames->isVisible());
    const QString number = frames->currentIndex().sibling(frames->currentIndex().row(), 1).data().toString();
    QCOMPARE(QString(number).remove(QRegularExpression("[^0-9]")).toLongLong(), frame);
    QCOMPARE(frames->currentIndex().sibling(frames->currentIndex().row(), 9).data().toString(),
             model->report().findings.at(row).object.left(6));
    shot(m_bx.get(), "jump");

    // The stored trace checks the same.
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(m_bx->openCapture(m_bx->captureSession()->files().trace));
    QCOMPARE(rows(*model, true), live);

    // The design edited after the capture: a note, a warning and an error.
    MainDTModel* design = m_bx->designModel();
    for (const QModelIndex& v : design->getClassTypeIndexes(MainDTModel::VARIABLE_OUT)) {
        const QString id = design->text(v, MainDTModel::ColVarOutId);
        if (id == "0x0100")
            design->setDataWithoutControl(design->cell(v, MainDTModel::ColVarOutRefreshmentPeriod), "10");
        if (id == "0x0200")
            design->setDataWithoutControl(design->cell(v, MainDTModel::ColVarOutPdu), "SM_MPS");
        if (id == "0x0101")
            design->setDataWithoutControl(design->cell(v, MainDTModel::ColVarOutLength), "6");
    }
    child<QPushButton>("designCheckRunButton")->click();
    const CheckReport& report = model->report();
    QVERIFY(report.count(CheckSeverity::Info) >= 1);
    QVERIFY(report.count(CheckSeverity::Warning) >= 1);
    QVERIFY(report.count(CheckSeverity::Error) >= 2);
    child<QPushButton>("analysisDesignCheckButton")->setChecked(true);
    QTest::qWait(50);
    shot(m_bx.get(), "page");

    // The HTML export reads on its own.
    const QString html = dir.filePath("check.html");
    QVERIFY(DesignCheckReport::save(report, html));
    QWebView web;
    web.resize(1100, 600);
    QSignalSpy loaded(&web, &QWebView::loadFinished);
    web.load(QUrl::fromLocalFile(html));
    QVERIFY(loaded.wait(5000));
    QVERIFY(web.page()->mainFrame()->toPlainText().contains(report.summary()));
    shot(&web, "html");

    design->undoStack()->setClean();
    m_bx.reset();
    VantorSimulator::reset();
    OstrakSimulator::reset();
}

QTEST_MAIN(TstBxDesignCheck)
#include "tst_bxdesigncheck.moc"
