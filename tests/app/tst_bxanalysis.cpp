// The analysis side of the real window: converting raw captures into traces
// with every refusal of the conversion, the frame table and statistics that
// result, and stored captures opened again, also when their files are odd.

#include "analysis/AnalysisContext.h"
#include "analysis/MainATModel.h"
#include "analysis/StatisticsPage.h"
#include "analysis/TransactionATModel.h"
#include "app/BX.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/StatsFile.h"
#include "tests/app/BoxAnswerer.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QCheckBox>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray rawCapture(int frames, int fcsErrorEvery = 0)
{
    FipTrafficGenerator bus(1, 2, 1700000000000000ULL);
    QByteArray raw(1, char(2)); // Osp flow: the records follow
    for (int i = 1; i <= frames; ++i) {
        if (fcsErrorEvery && i % fcsErrorEvery == 0)
            bus.injectError(FipTrafficGenerator::Error::FcsError);
        raw += FipRecordEncoder::ospRecord(bus.next());
    }
    return raw;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

int lineCount(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().count('\n');
}

} // namespace

class TstBXAnalysis : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusals_data();
    void refusals();
    void conversion_data();
    void conversion();
    void existingDestination();
    void cancelledConversion();
    void traceInUse();
    void captureRefusedDuringConversion();
    void existingStatisticsAskFirst();
    void oddStoredCaptures_data();
    void oddStoredCaptures();
    void transactionTotalLabels_data();
    void transactionTotalLabels();

private:
    void prepare(BX& bx);
    QString statsPathOf(const QString& trace) { return trace.left(trace.size() - 5) + ".xml"; }
    QString totalFrames(BX& bx) { return bx.statisticsPage()->valueLabel("totalFrames")->text(); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
};

void TstBXAnalysis::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
}

void TstBXAnalysis::prepare(BX& bx)
{
    bx.findChild<QRadioButton*>("paddingVisibleYes")->setChecked(true);
    bx.findChild<QRadioButton*>("logErrorsYes")->setChecked(true);
}

void TstBXAnalysis::refusals_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("message");
    QTest::newRow("flow byte 3") << QByteArray("\x03\x00\x01", 3) << CaptureFileMessages::invalidVersion();
    QTest::newRow("speed code 7") << QByteArray("\x01\x07", 2) << CaptureFileMessages::invalidSpeed();
    QTest::newRow("empty file") << QByteArray() << CaptureFileMessages::invalidVersion();
    QTest::newRow("no source") << QByteArray("missing") << CaptureFileMessages::cannotOpenSource();
}

void TstBXAnalysis::refusals()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, message);
    const QString rawPath = m_dir.filePath(QString("refused_%1.praw").arg(QTest::currentDataTag()));
    const QString tracePath = m_dir.filePath(QString("refused_%1.vtrc").arg(QTest::currentDataTag()));
    if (raw != "missing")
        QVERIFY(writeFile(rawPath, raw));

    BX bx;
    BoxAnswerer answers({ QMessageBox::Ok });
    QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
    QCOMPARE(answers.texts, QStringList { message });
    QCOMPARE(answers.titles, QStringList { "Brantix" });
    QVERIFY(!bx.isConverting());
    // Nothing stays locked and the source is untouched.
    QVERIFY(!QFile::exists(tracePath + ".lock"));
    QVERIFY(!QFile::exists(rawPath + ".lock"));
    if (raw != "missing") {
        QFile source(rawPath);
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(source.readAll(), raw);
    }
}

void TstBXAnalysis::conversion_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("logErrors");
    QTest::addColumn<int>("fcsErrorEvery");
    QTest::newRow("all frames") << 2 << true << 0;
    QTest::newRow("no data") << 1 << true << 0;
    QTest::newRow("no data, errors logged") << 1 << true << 47;
    QTest::newRow("errors not logged") << 2 << false << 47;
    QTest::newRow("errors logged") << 2 << true << 47;
}

void TstBXAnalysis::conversion()
{
    QFETCH(int, depth);
    QFETCH(bool, logErrors);
    QFETCH(int, fcsErrorEvery);
    const int frames = 3000;
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
    const QString rawPath = m_dir.filePath(tag + ".praw");
    const QString tracePath = m_dir.filePath(tag + ".vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(frames, fcsErrorEvery)));

    quint64 counted = 0;
    {
        BX bx;
        prepare(bx);
        bx.findChild<QRadioButton*>(logErrors ? "logErrorsYes" : "logErrorsNo")->setChecked(true);
        BoxAnswerer answers({});
        QVERIFY(bx.generateVtrcFile(rawPath, tracePath, quint8(depth)));
        QVERIFY(answers.texts.isEmpty());

        const quint64 errors = bx.analysisContext()->counters.errorFCS;
        QCOMPARE(errors, quint64(fcsErrorEvery ? frames / fcsErrorEvery : 0));
        const int expectedRows = depth == 1 ? (logErrors ? int(errors) : 0) : frames - (logErrors ? 0 : int(errors));
        QCOMPARE(bx.frameTableModel()->rowCount(), expectedRows);
        QCOMPARE(lineCount(tracePath), expectedRows);
        // The statistics run whatever the depth.
        counted = bx.analysisContext()->counters.frameTotal;
        QCOMPARE(counted + errors, quint64(frames));
        QCOMPARE(totalFrames(bx), QLocale(QLocale::French, QLocale::France).toString(counted));
        QVERIFY(bx.transactionModel()->rowCount() > 0);
        if (expectedRows > 0 && depth != 1) {
            // The last row of the table is the last line of the file.
            const QModelIndex last = bx.frameTableModel()->index(expectedRows - 1, 1);
            QCOMPARE(last.data().toString().remove(','), QString::number(frames));
        }
        QVERIFY(!QFile::exists(tracePath + ".lock"));
        QVERIFY(QFile::exists(statsPathOf(tracePath)));
    }

    // Opened again, the capture shows the same rows and the counters of its statistics file.
    BX again;
    QVERIFY(again.openCapture(tracePath));
    QCOMPARE(again.frameTableModel()->rowCount(), lineCount(tracePath));
    QCOMPARE(again.analysisContext()->counters.frameTotal, counted);
    QCOMPARE(totalFrames(again), QLocale(QLocale::French, QLocale::France).toString(counted));
}

void TstBXAnalysis::existingDestination()
{
    const QString rawPath = m_dir.filePath("exists.praw");
    const QString tracePath = m_dir.filePath("exists.vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(200)));
    QVERIFY(writeFile(tracePath, "kept\n"));

    BX bx;
    prepare(bx);
    {
        BoxAnswerer answers({ QMessageBox::No });
        QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
        QCOMPARE(answers.texts, QStringList { CaptureFileMessages::destinationExists() });
        QCOMPARE(lineCount(tracePath), 1);
    }
    {
        // The analysis is open now: its question comes first.
        BoxAnswerer answers({ QMessageBox::Yes });
        QVERIFY(bx.generateVtrcFile(rawPath, tracePath, 2));
        QCOMPARE(answers.texts, QStringList { CaptureFileMessages::destinationExists() });
        QCOMPARE(lineCount(tracePath), 200);
    }
    {
        BoxAnswerer answers({ QMessageBox::No });
        QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
        QCOMPARE(answers.texts, QStringList { CaptureFileMessages::analysisAlreadyOpen() });
        QCOMPARE(bx.frameTableModel()->rowCount(), 200);
    }
}

void TstBXAnalysis::cancelledConversion()
{
    const int frames = 800000;
    const QString rawPath = m_dir.filePath("cancelled.praw");
    const QString tracePath = m_dir.filePath("cancelled.vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(frames)));

    BX bx;
    prepare(bx);
    BoxAnswerer answers({});
    // The cancel button is live while the conversion lets the window breathe.
    QTimer::singleShot(150, &bx, [&bx] {
        QVERIFY(bx.isConverting());
        QVERIFY(bx.findChild<QPushButton*>("prawToVtrcCancelButton")->isEnabled());
        bx.findChild<QPushButton*>("prawToVtrcCancelButton")->click();
    });
    QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
    const int rows = bx.frameTableModel()->rowCount();
    QVERIFY(rows > 0);
    QVERIFY(rows < frames);
    // What was decoded is all in the file and the table, and nothing stays locked.
    QCOMPARE(lineCount(tracePath), rows);
    QVERIFY(!QFile::exists(tracePath + ".lock"));
    QVERIFY(!QFile::exists(rawPath + ".lock"));
    QVERIFY(bx.findChild<QPushButton*>("prawToVtrcGenerateButton")->isEnabled() || bx.findChild<QLineEdit*>("prawFilePath")->text().isEmpty());
    QVERIFY(!bx.findChild<QPushButton*>("prawToVtrcCancelButton")->isEnabled());
}

void TstBXAnalysis::traceInUse()
{
    const QString rawPath = m_dir.filePath("inuse.praw");
    const QString tracePath = m_dir.filePath("inuse.vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(50)));
    QLockFile other(tracePath + ".lock");
    QVERIFY(other.tryLock(0));
    BX bx;
    prepare(bx);
    BoxAnswerer answers({ QMessageBox::Ok });
    QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
    QCOMPARE(answers.texts, QStringList { CaptureFileMessages::backupInUse(tracePath) });
    QCOMPARE(answers.titles, QStringList { "Backup file" });
    QCOMPARE(answers.ownIcons, QList<bool> { true });
    QVERIFY(!bx.isConverting());
}

// A capture and a conversion share one decoder: while the conversion runs the
// capture button is off and its slot refuses, and the trace comes out whole.
void TstBXAnalysis::captureRefusedDuringConversion()
{
    const int frames = 300000;
    const QString rawPath = m_dir.filePath("busy.praw");
    const QString tracePath = m_dir.filePath("busy.vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(frames)));

    BX bx;
    prepare(bx);
    BoxAnswerer answers({ QMessageBox::Ok });
    bool tried = false;
    QTimer::singleShot(100, &bx, [&] {
        QVERIFY(bx.isConverting());
        auto* button = bx.findChild<QPushButton*>("startStopCapturingButton");
        QVERIFY(!button->isEnabled());
        bx.onStartStopCapturingButtonClicked();
        tried = true;
        QVERIFY(!bx.isCapturing());
    });
    QVERIFY(bx.generateVtrcFile(rawPath, tracePath, 2));
    QVERIFY(tried);
    QCOMPARE(answers.texts, QStringList { CaptureFileMessages::conversionInProgress() });
    QCOMPARE(lineCount(tracePath), frames);
    QCOMPARE(bx.frameTableModel()->rowCount(), frames);
    QVERIFY(bx.findChild<QPushButton*>("startStopCapturingButton")->isEnabled());
}

// The statistics saved beside a trace belong to it: a conversion asks before replacing them too.
void TstBXAnalysis::existingStatisticsAskFirst()
{
    const QString rawPath = m_dir.filePath("stats.praw");
    const QString tracePath = m_dir.filePath("stats.vtrc");
    QVERIFY(writeFile(rawPath, rawCapture(50)));
    QVERIFY(writeFile(statsPathOf(tracePath), "<stats/>\n"));
    BX bx;
    prepare(bx);
    BoxAnswerer answers({ QMessageBox::No });
    QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
    QCOMPARE(answers.texts, QStringList { CaptureFileMessages::destinationExists() });
    QFile stats(statsPathOf(tracePath));
    QVERIFY(stats.open(QIODevice::ReadOnly));
    QCOMPARE(stats.readAll(), QByteArray("<stats/>\n"));
    QVERIFY(!QFile::exists(tracePath));
}

void TstBXAnalysis::oddStoredCaptures_data()
{
    QTest::addColumn<QByteArray>("trace");
    QTest::addColumn<QByteArray>("stats");
    QTest::addColumn<int>("rows"); // -1: refused
    QTest::addColumn<QString>("status");
    const QByteArray good = "1\t\t\t[2023-11-14] 22:13:20.000 000\t1700000000000000\t 2.00 us\t 4.00 us\tID_DAT\t0x0101"
                            "\t\t2\t\t01 01 \t\t\t\t\t\t\t\t0x1234\t\n";
    StatisticsCounters counters;
    counters.idDat = 5;
    StatisticsInfo info;
    info.startTime = "2001-01-01 00:00:00.000";
    info.endTime = "2001-01-01 00:00:10.000";
    const QByteArray otherCapture = StatsFile(counters.named(), info.named()).toXml();
    QTest::newRow("statistics of another capture") << good << otherCapture << 1 << "does not belong";
    QTest::newRow("corrupt statistics") << good << QByteArray("<stats version=\"1.0\"><counters>") << 1 << "";
    QTest::newRow("short, long and binary lines after trace rows")
        << (good.repeated(8) + QByteArray("x\n") + QByteArray(100000, 'a') + "\n\xff\xfe\t\x80\n" + good) << QByteArray()
        << 12 << "Capture opened";
    QTest::newRow("binary file") << QByteArray("\x7f" "ELF\x02\x01\x01\x00", 8) + good << QByteArray() << -1
                                 << "not a Visual FIP Trace";
    QTest::newRow("empty trace") << QByteArray() << QByteArray() << 0 << "Capture opened";
}

void TstBXAnalysis::oddStoredCaptures()
{
    QFETCH(QByteArray, trace);
    QFETCH(QByteArray, stats);
    QFETCH(int, rows);
    QFETCH(QString, status);
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_').remove(',');
    const QString tracePath = m_dir.filePath("odd_" + tag + ".vtrc");
    QVERIFY(writeFile(tracePath, trace));
    if (!stats.isEmpty())
        QVERIFY(writeFile(statsPathOf(tracePath), stats));

    BX bx;
    QCOMPARE(bx.openCapture(tracePath), rows >= 0);
    MainATModel* table = bx.frameTableModel();
    QCOMPARE(table->rowCount(), std::max(rows, 0));
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < table->columnCount(); ++column)
            table->index(row, column).data(); // every cell reads without harm
    }
    QCOMPARE(bx.analysisContext()->counters.idDat, 0ULL);
    const QString shown = bx.findChild<QLabel*>("statusMessageLabel")->text();
    QVERIFY2(shown.contains(status), qPrintable(shown));
    // Nothing was written to the user's files.
    QFile file(tracePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), trace);
    if (!stats.isEmpty()) {
        QFile statistics(statsPathOf(tracePath));
        QVERIFY(statistics.open(QIODevice::ReadOnly));
        QCOMPARE(statistics.readAll(), stats);
    }
}

void TstBXAnalysis::transactionTotalLabels_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("variables ok") << "varTransOkLabel" << "OK (Request + Reply)";
    QTest::newRow("reply lost") << "varTransLostReplyLabel" << "With Reply Lost";
    QTest::newRow("no reply") << "varTransNeverReplyLabel" << "Without Reply";
    QTest::newRow("messages ok") << "msgTransOkLabel" << "OK (Complete)";
    QTest::newRow("incomplete") << "msgTransNokLabel" << "Incomplete";
}

void TstBXAnalysis::transactionTotalLabels()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    BX bx;
    auto* title = bx.statisticsPage()->findChild<QLabel*>(label);
    QVERIFY(title);
    QCOMPARE(title->text(), text);
}

QTEST_MAIN(TstBXAnalysis)
#include "tst_bxanalysis.moc"
