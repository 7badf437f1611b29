// Mnemonics through two captures from the simulated card and an opened trace:
// each one replaces the values, the table and the graph of the one before.

#include "analysis/MnemoATModel.h"
#include "analysis/MnemoAnalysis.h"
#include "app/BX.h"
#include "capture/files/CaptureSession.h"

#include "OstrakServer.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>
#include <QtTest>

class TstBXMnemonics : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void capturesNeverMix();

private:
    void capture(BX& bx, int frames);
    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    int m_captures = 0;
};

namespace {

const QString kProject = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_1M.brxprj");

QString chart(BX& bx, const QString& expression)
{
    return bx.findChild<QWebView*>("mnemosGraphWebView")
        ->page()
        ->mainFrame()
        ->evaluateJavaScript("(function(){ var o = myChart.getOption(); return " + expression + "; })()")
        .toString();
}

void checkFirstTwo(BX& bx)
{
    QStandardItemModel* selection = bx.mnemoSelectionModel();
    for (int row = 0; row < 2; ++row)
        selection->item(row)->setCheckState(Qt::Checked);
}

} // namespace

void TstBXMnemonics::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstBXMnemonics::capture(BX& bx, int frames)
{
    OstrakServer::Options o;
    QString error;
    QVERIFY(OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--speed", "1", "--flow", "osp", "--rate",
                                           "20000", "--frames", QString::number(frames), "--sessions", "1" },
                                         &o, &error));
    OstrakServer server(o);
    QVERIFY(server.start());
    bx.findChild<QRadioButton*>("serverLocation")->setChecked(true);
    bx.findChild<QRadioButton*>("tcpRemote")->setChecked(true);
    bx.findChild<QLineEdit*>("osIPAddress")->setText("127.0.0.1");
    bx.findChild<QSpinBox*>("osPortNumber")->setValue(server.tcpPort());
    bx.findChild<QRadioButton*>("backupYes")->setChecked(true);
    bx.findChild<QComboBox*>("backupFileType")->setCurrentIndex(1);
    // A folder per capture: the second would otherwise ask before replacing the first's files.
    const QString folder = m_dir.filePath(QString("capture%1").arg(++m_captures));
    QDir().mkpath(folder);
    bx.findChild<QLineEdit*>("backupRepository")->setText(folder);
    bx.findChild<QSlider*>("depthAnalysisSlider")->setValue(2);
    auto* button = bx.findChild<QPushButton*>("startStopCapturingButton");
    button->click();
    QVERIFY(bx.isCapturing());
    QTRY_COMPARE_WITH_TIMEOUT(bx.captureSession()->decoder().counters().frames, quint64(frames), 20000);
    button->click();
    QTRY_VERIFY_WITH_TIMEOUT(!bx.isCapturing(), 5000);
}

void TstBXMnemonics::capturesNeverMix()
{
    BX bx;
    bx.resize(1500, 950);
    bx.show();
    bx.loadFileProject(kProject);
    QAbstractItemModelTester tester(bx.mnemoATModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    const MnemoAnalysis& analysis = *bx.mnemoAnalysis();

    capture(bx, 20000);
    QCOMPARE(bx.mnemoATModel()->rowCount(), 8);
    QCOMPARE(bx.mnemoSelectionModel()->rowCount(), 8); // all Bool: every one drawable
    QVERIFY(analysis.dates().size() > 10);
    const size_t firstCount = analysis.dates().size();
    // Values the table shows are the analysis' own.
    const int index = analysis.indexOf(analysis.definition(0).item);
    QCOMPARE(bx.mnemoATModel()->index(0, MnemoATModel::DataChangesCol).data().toString(),
             QString::number(analysis.definition(index).changes));

    checkFirstTwo(bx);
    QVERIFY(bx.lastMnemoGraphScript().endsWith(",true);")); // a new selection replaces the option
    QTRY_COMPARE_WITH_TIMEOUT(chart(bx, "o.series.length"), QString("2"), 5000);
    QCOMPARE(chart(bx, "o.xAxis[0].data.length"), QString::number(analysis.dates().size()));
    bx.onRefreshMnemoGraphs();
    QVERIFY(!bx.lastMnemoGraphScript().endsWith(",true);")); // the same selection merges

    // A second capture: nothing of the first in the values, the list or the chart.
    capture(bx, 8000);
    QCOMPARE(chart(bx, "$('#empty').is(':visible')"), QString("true"));
    QVERIFY(!analysis.dates().empty());
    // The card's bus time starts over: mixed dates would outnumber the first capture's or run backwards.
    QVERIFY(analysis.dates().size() < firstCount);
    QVERIFY(std::is_sorted(analysis.dates().begin(), analysis.dates().end()));
    QCOMPARE(bx.mnemoSelectionModel()->item(0)->checkState(), Qt::Unchecked);
    checkFirstTwo(bx);
    QTRY_COMPARE_WITH_TIMEOUT(chart(bx, "o.series.length"), QString("2"), 5000);
    QCOMPARE(chart(bx, "o.xAxis[0].data.length"), QString::number(analysis.dates().size()));
    QCOMPARE(chart(bx, "o.series[0].data.length"), QString::number(analysis.dates().size()));
    QCOMPARE(chart(bx, "o.xAxis[0].data[0]"), MnemoAnalysis::dateText(analysis.dates().front()));
    if (qEnvironmentVariableIsSet("BX_SCREENSHOT")) {
        bx.findChild<QToolButton*>("ostrakButton")->click();
        bx.findChild<QPushButton*>("analysisMnemonicsButton")->setChecked(true);
        QTest::qWait(1000);
        bx.grab().save(qEnvironmentVariable("BX_SCREENSHOT") + "-mnemonics.png");
    }

    // An opened trace holds no mnemonic values: everything is emptied.
    QVERIFY(bx.openCapture(bx.captureSession()->files().trace));
    QVERIFY(analysis.dates().empty());
    QCOMPARE(chart(bx, "$('#empty').is(':visible')"), QString("true"));
    QCOMPARE(bx.mnemoATModel()->index(0, MnemoATModel::DataChangesCol).data().toString(), QString("0"));
}

QTEST_MAIN(TstBXMnemonics)
#include "tst_bxmnemonics.moc"
