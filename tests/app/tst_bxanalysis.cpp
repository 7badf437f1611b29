// The analysis side of the real window: raw captures converted and their refusals,
// stored captures opened, the filter bar, find and go-to, the pcapng export and import.

#include "analysis/AnalysisContext.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "analysis/StatisticsPage.h"
#include "app/FrameFilterBar.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/StatsFile.h"
#include "tests/app/AppTestUtil.h"
#include "tests/capture/pcapng/SimulatedCapture.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

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

int lineCount(const QString& path)
{
    return AppTest::readFile(path).count('\n');
}

/// Padding and errors kept in the trace, as the conversions here want them.
void prepare(BX& bx)
{
    AppTest::child<QRadioButton>(bx, "paddingVisibleYes")->setChecked(true);
    AppTest::child<QRadioButton>(bx, "logErrorsYes")->setChecked(true);
}

// Frame numbers of the trace lines whose identifier and control are these, read the plain way.
QStringList numbersOf(const QString& path, const QByteArray& id, const QByteArray& control)
{
    QStringList out;
    for (const QByteArray& line : AppTest::readFile(path).split('\n')) {
        const QList<QByteArray> fields = line.split('\t');
        if (fields.value(9) == id && fields.value(8) == control)
            out << QString::fromUtf8(fields.value(1));
    }
    return out;
}

QStringList shown(const QAbstractItemModel* m)
{
    QStringList out;
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, 1).data().toString();
    return out;
}

bool settle(BX& bx)
{
    return QTest::qWaitFor([&] { return !bx.frameFilterModel()->isMatching(); }, 10000);
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
    void cancelledConversion();
    void captureRefusedDuringConversion();
    void oddStoredCaptures_data();
    void oddStoredCaptures();
    void filterBar();
    void findAndGoTo();
    void pcapngExportAndImportGiveTheSameAnalysis();

private:
    /// The window showing the frame table of a converted capture with an FCS error every 97 frames.
    void openFilterTrace(BX& bx);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    QString m_trace;
};

void TstBXAnalysis::initTestCase()
{
    qputenv("TZ", "UTC");
    AppTest::isolateSettings(m_settingsDir.path());
}

void TstBXAnalysis::refusals_data()
{
    QTest::addColumn<QByteArray>("raw"); // "missing": no source file
    // What is already there: "lock" on the trace, the "trace" itself, or the "open" analysis
    // of an earlier conversion. (The statistics beside a trace: the capture test's row.)
    QTest::addColumn<QString>("blocker");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");
    const QByteArray good = rawCapture(50);
    // The raw file's own refusals are the conversion's (its tests take each); the window tells one.
    QTest::newRow("flow byte 3") << QByteArray("\x03\x00\x01", 3) << "" << CaptureFileMessages::invalidVersion() << "Brantix";
    QTest::newRow("no source") << QByteArray("missing") << "" << CaptureFileMessages::cannotOpenSource() << "Brantix";
    QTest::newRow("trace in use") << good << "lock" << "backupInUse" << "Backup file";
    QTest::newRow("existing trace, no") << good << "trace" << CaptureFileMessages::destinationExists() << "Brantix";
    // The analysis open now: its question comes first.
    QTest::newRow("analysis open, no") << good << "open" << CaptureFileMessages::analysisAlreadyOpen() << "Brantix";
}

void TstBXAnalysis::refusals()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, blocker);
    QFETCH(QString, message);
    QFETCH(QString, title);
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_').remove(',');
    const QString rawPath = m_dir.filePath("refused_" + tag + ".praw");
    const QString tracePath = m_dir.filePath("refused_" + tag + ".vtrc");
    if (raw != "missing")
        QVERIFY(AppTest::writeFile(rawPath, raw));
    QLockFile other(tracePath + ".lock");
    if (blocker == "lock") {
        QVERIFY(other.tryLock(0));
        message = CaptureFileMessages::backupInUse(tracePath);
    }
    if (blocker == "trace")
        QVERIFY(AppTest::writeFile(tracePath, "kept\n"));

    BX bx;
    prepare(bx);
    int rows = 0;
    if (blocker == "open") {
        QVERIFY(bx.generateVtrcFile(rawPath, tracePath, 2));
        rows = bx.frameTableModel()->rowCount();
        QVERIFY(rows > 0);
    }
    const bool asked = blocker == "trace" || blocker == "open";
    BoxAnswerer answers({ asked ? QMessageBox::No : QMessageBox::Ok });
    QVERIFY(!bx.generateVtrcFile(rawPath, tracePath, 2));
    QCOMPARE(answers.texts, QStringList { message });
    QCOMPARE(answers.titles, QStringList { title });
    QCOMPARE(answers.ownIcons, QList<bool> { true });
    QVERIFY(!bx.isConverting());
    // Nothing stays locked, the source and an earlier trace are untouched.
    QCOMPARE(QFile::exists(tracePath + ".lock"), blocker == "lock");
    QVERIFY(!QFile::exists(rawPath + ".lock"));
    if (raw != "missing")
        QCOMPARE(AppTest::readFile(rawPath), raw);
    if (blocker == "trace")
        QCOMPARE(AppTest::readFile(tracePath), QByteArray("kept\n"));
    QCOMPARE(bx.frameTableModel()->rowCount(), rows);
}

void TstBXAnalysis::conversion_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("logErrors");
    // Which rows each choice keeps is the trace writer's (its tests take each); here the
    // window's depth and error choice reach the conversion.
    QTest::newRow("no data, errors logged") << 1 << true;
    QTest::newRow("errors not logged") << 2 << false;
}

void TstBXAnalysis::conversion()
{
    QFETCH(int, depth);
    QFETCH(bool, logErrors);
    const int frames = 3000;
    const int fcsErrorEvery = 47;
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
    const QString rawPath = m_dir.filePath(tag + ".praw");
    const QString tracePath = m_dir.filePath(tag + ".vtrc");
    QVERIFY(AppTest::writeFile(rawPath, rawCapture(frames, fcsErrorEvery)));
    QVERIFY(AppTest::writeFile(tracePath, "an earlier trace\n")); // replaced once the user agrees

    quint64 counted = 0;
    {
        BX bx;
        prepare(bx);
        bx.findChild<QRadioButton*>(logErrors ? "logErrorsYes" : "logErrorsNo")->setChecked(true);
        BoxAnswerer answers({ QMessageBox::Yes });
        QVERIFY(bx.generateVtrcFile(rawPath, tracePath, quint8(depth)));
        QCOMPARE(answers.texts, QStringList { CaptureFileMessages::destinationExists() });

        const quint64 errors = bx.analysisContext()->counters.errorFCS;
        QCOMPARE(errors, quint64(frames / fcsErrorEvery));
        const int expectedRows = depth == 1 ? (logErrors ? int(errors) : 0) : frames - (logErrors ? 0 : int(errors));
        QCOMPARE(bx.frameTableModel()->rowCount(), expectedRows);
        QCOMPARE(lineCount(tracePath), expectedRows);
        // The statistics run whatever the depth.
        counted = bx.analysisContext()->counters.frameTotal;
        QCOMPARE(counted + errors, quint64(frames));
        QCOMPARE(bx.statisticsPage()->valueLabel("totalFrames")->text(), QLocale(QLocale::French, QLocale::France).toString(counted));
        QVERIFY(!QFile::exists(tracePath + ".lock"));
        QVERIFY(QFile::exists(StatsFile::pathFor(tracePath)));
    }

    // Opened again, the capture shows the counters of its statistics file.
    BX again;
    QVERIFY(again.openCapture(tracePath));
    QCOMPARE(again.analysisContext()->counters.frameTotal, counted);
}

void TstBXAnalysis::cancelledConversion()
{
    const int frames = 800000;
    const QString rawPath = m_dir.filePath("cancelled.praw");
    const QString tracePath = m_dir.filePath("cancelled.vtrc");
    QVERIFY(AppTest::writeFile(rawPath, rawCapture(frames)));

    BX bx;
    prepare(bx);
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

// A capture and a conversion share one decoder: while the conversion runs the
// capture button is off and its slot refuses, and the trace comes out whole.
void TstBXAnalysis::captureRefusedDuringConversion()
{
    const int frames = 300000;
    const QString rawPath = m_dir.filePath("busy.praw");
    const QString tracePath = m_dir.filePath("busy.vtrc");
    QVERIFY(AppTest::writeFile(rawPath, rawCapture(frames)));

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
    QTest::newRow("binary file") << QByteArray("\x7f" "ELF\x02\x01\x01\x00", 8) + good << QByteArray() << -1
                                 << "not a Visual FIP Trace";
}

void TstBXAnalysis::oddStoredCaptures()
{
    QFETCH(QByteArray, trace);
    QFETCH(QByteArray, stats);
    QFETCH(int, rows);
    QFETCH(QString, status);
    const QString tag = QString(QTest::currentDataTag()).replace(' ', '_').remove(',');
    const QString tracePath = m_dir.filePath("odd_" + tag + ".vtrc");
    QVERIFY(AppTest::writeFile(tracePath, trace));
    if (!stats.isEmpty())
        QVERIFY(AppTest::writeFile(StatsFile::pathFor(tracePath), stats));

    BX bx;
    QCOMPARE(bx.openCapture(tracePath), rows >= 0);
    QCOMPARE(bx.frameTableModel()->rowCount(), std::max(rows, 0));
    QCOMPARE(bx.analysisContext()->counters.idDat, 0ULL);
    const QString told = bx.findChild<QLabel*>("statusMessageLabel")->text();
    QVERIFY2(told.contains(status), qPrintable(told));
    // Nothing was written to the user's files.
    QCOMPARE(AppTest::readFile(tracePath), trace);
    if (!stats.isEmpty())
        QCOMPARE(AppTest::readFile(StatsFile::pathFor(tracePath)), stats);
}

// ---------------------------------------------------------------- filter bar, find and go to

void TstBXAnalysis::openFilterTrace(BX& bx)
{
    if (m_trace.isEmpty()) {
        const QString raw = m_dir.filePath("bus.praw");
        QVERIFY(AppTest::writeFile(raw, rawCapture(3000, 97)));
        BX converter;
        prepare(converter);
        QVERIFY(converter.generateVtrcFile(raw, m_dir.filePath("bus.vtrc"), 2));
        m_trace = m_dir.filePath("bus.vtrc");
    }
    bx.resize(1400, 900);
    bx.show();
    QVERIFY(bx.openCapture(m_trace));
    bx.findChild<QAction*>("actionShowOstrakPage")->trigger();
    bx.findChild<QPushButton*>("analysisVisualFipTraceButton")->click();
    QVERIFY(QTest::qWaitForWindowExposed(&bx));
}

void TstBXAnalysis::filterBar()
{
    BX bx;
    openFilterTrace(bx);
    if (QTest::currentTestFailed())
        return;
    FrameFilterBar* bar = bx.frameFilterBar();
    QAbstractItemModel* model = bx.frameFilterModel();
    auto* view = bx.findChild<QTableView*>("mainATView");
    QCOMPARE(view->model(), model);
    auto* combo = bar->findChild<QComboBox*>("frameFilterCombo");
    auto* count = bar->findChild<QLabel*>("frameFilterCountLabel");
    QCOMPARE(count->text(), QString("3,000 frames"));
    AppTest::shot(&bx, "filter-empty");

    const QString selective = "id == 0x0201 and ctrl == RP_DAT";
    combo->lineEdit()->setFocus();
    QTest::keyClicks(combo->lineEdit(), selective);
    QCOMPARE(bar->state(), FrameFilterBar::State::Valid);
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QVERIFY(settle(bx));
    const QStringList expected = numbersOf(m_trace, "0x0201", "RP_DAT");
    QCOMPARE(shown(model), expected);
    QCOMPARE(count->text(), QString("%1 of 3,000 frames").arg(expected.size()));
    AppTest::shot(&bx, "filter-applied");

    // Refused: red, the message and its column in the tool tip, the view as it was.
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "id == 0x0201 and ctrl = RP_DAT");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(bar->state(), FrameFilterBar::State::Invalid);
    QCOMPARE(combo->lineEdit()->toolTip(), QString("Use \"==\" to compare (at column 23)"));
    QCOMPARE(shown(model), expected);
    AppTest::shot(&bx, "filter-error");

    // Esc clears.
    QTest::keyClick(combo->lineEdit(), Qt::Key_Escape);
    QCOMPARE(bar->state(), FrameFilterBar::State::Empty);
    QCOMPARE(count->text(), QString("3,000 frames"));

    // Apply as Filter from a cell of a reply row.
    const int reply = bx.frameFilterModel()->rowOfSourceRow(1);
    const QStringList offered = bar->cellFilters(model->index(reply, 4));
    QVERIFY(offered.size() == 3);
    QVERIFY(offered.at(0).startsWith("id == 0x"));
    QMenu menu;
    bar->addFilterActions(&menu, offered);
    menu.actions().at(0)->menu()->actions().at(1)->trigger(); // this control
    QVERIFY(settle(bx));
    QCOMPARE(combo->currentText(), offered.at(1));
    for (int r = 0; r < model->rowCount(); r += 50)
        QCOMPARE(model->index(r, 8).data().toString(), model->index(0, 8).data().toString());

    // The frames shown, in the columns shown, to a CSV file.
    view->setColumnHidden(13, true);
    const QString csv = m_dir.filePath("shown.csv");
    QVERIFY(bar->exportVisibleFrames(csv));
    const QList<QByteArray> lines = AppTest::readFile(csv).split('\n');
    QCOMPARE(lines.size(), model->rowCount() + 2); // header, rows, the empty rest after the last line end
    QVERIFY(lines.at(0).startsWith("Anchor,No.,Relative Date,"));
    QVERIFY(!lines.at(0).contains(",Data,"));
    QVERIFY(lines.at(1).startsWith(QString("false,%1,").arg(model->index(0, 1).data().toString()).toUtf8()));
    const QString lastNumber = model->index(model->rowCount() - 1, 1).data().toString(); // "2,9xx": quoted
    QVERIFY(lines.at(model->rowCount()).startsWith(QString("false,\"%1\",").arg(lastNumber).toUtf8()));
    QVERIFY(!bar->exportVisibleFrames(m_dir.filePath("missing/shown.csv")));

    // The history keeps the newest first, for the next window too.
    QCOMPARE(bar->history().mid(0, 2), QStringList({ offered.at(1), selective }));
    BX next;
    auto* nextCombo = next.frameFilterBar()->findChild<QComboBox*>("frameFilterCombo");
    QCOMPARE(nextCombo->itemText(0), offered.at(1));
}

void TstBXAnalysis::findAndGoTo()
{
    BX bx;
    openFilterTrace(bx);
    if (QTest::currentTestFailed())
        return;
    FrameFilterBar* bar = bx.frameFilterBar();
    auto* view = bx.findChild<QTableView*>("mainATView");
    const QAbstractItemModel* model = view->model();
    view->setFocus();
    view->setCurrentIndex(model->index(0, 1));

    QTest::keyClick(view, Qt::Key_F, Qt::ControlModifier);
    auto* find = bar->findChild<QLineEdit*>("frameFindEdit");
    QVERIFY(find->isVisible());
    QVERIFY(find->hasFocus());
    QTest::keyClicks(find, "error.fcs");
    QSignalSpy found(bar, &FrameFilterBar::findFinished);
    const auto next = [&](auto press) {
        found.clear();
        press();
        return found.wait(10000) && found.first().first().toBool();
    };
    QVERIFY(next([&] { QTest::keyClick(find, Qt::Key_Return); }));
    const int first = view->currentIndex().row();
    QCOMPARE(model->index(first, 8).data().toString(), QString("ERROR"));
    QVERIFY(next([&] { QTest::keyClick(find, Qt::Key_Return); }));
    const int second = view->currentIndex().row();
    QVERIFY(second > first);
    QCOMPARE(model->index(second, 8).data().toString(), QString("ERROR"));
    QVERIFY(next([&] { bar->findChild<QPushButton*>("previousErrorButton")->click(); }));
    QCOMPARE(view->currentIndex().row(), first);
    QVERIFY(!next([&] { bar->findChild<QPushButton*>("previousErrorButton")->click(); }));
    QCOMPARE(view->currentIndex().row(), first);
    QVERIFY(next([&] { bar->findChild<QPushButton*>("nextErrorButton")->click(); }));
    QCOMPARE(view->currentIndex().row(), second);

    view->setFocus();
    QTest::keyClick(view, Qt::Key_G, Qt::ControlModifier);
    auto* goTo = bar->findChild<QLineEdit*>("frameGoToEdit");
    QVERIFY(goTo->hasFocus());
    QTest::keyClicks(goTo, "1,500");
    QTest::keyClick(goTo, Qt::Key_Return);
    QCOMPARE(model->index(view->currentIndex().row(), 1).data().toString(), QString("1,500"));

    // Filtered, a hidden frame leads to the next one shown.
    QVERIFY(bar->applyFilter("error"));
    QVERIFY(settle(bx));
    QVERIFY(bx.goToFrame(1500));
    QString landed = model->index(view->currentIndex().row(), 1).data().toString();
    QVERIFY(landed.remove(',').toInt() > 1500);
    QCOMPARE(model->index(view->currentIndex().row(), 8).data().toString(), QString("ERROR"));
    QVERIFY(!bx.goToFrame(999999));

    // Cancel stops a find under way; the current row stays.
    const QModelIndex before = view->currentIndex();
    found.clear();
    QVERIFY(bar->find("id == 0x7777", true));
    QVERIFY(bar->isFinding());
    bar->findChild<QPushButton*>("frameFilterCancelButton")->click();
    QVERIFY(!bar->isFinding());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().first().toBool(), false);
    QCOMPARE(view->currentIndex(), before);
}

// ---------------------------------------------------------------- pcapng

// Exported whole, the capture imports with the same analysis; exported while the table
// is filtered, it holds the frames the table shows.
void TstBXAnalysis::pcapngExportAndImportGiveTheSameAnalysis()
{
    const QString base = m_dir.filePath("simulated");
    QVERIFY(SimulatedCapture::make(base, 3000, 2, 1));
    const QString trace = m_dir.filePath("window.vtrc");
    const QString whole = m_dir.filePath("window.pcapng");
    const QString filtered = m_dir.filePath("fcs.pcapng");

    quint64 frames = 0;
    quint64 fcsErrors = 0;
    {
        BX bx;
        prepare(bx);
        QVERIFY(bx.generateVtrcFile(base + ".praw", trace, 2));
        QVERIFY(bx.exportCaptureToPcapng(trace, whole));
        frames = bx.analysisContext()->counters.frameTotal;
        fcsErrors = bx.analysisContext()->counters.errorFCS;
        QVERIFY(fcsErrors > 0);
        QVERIFY(bx.frameFilterBar()->applyFilter("error.fcs"));
        QTRY_VERIFY(bx.frameFilterModel()->isFiltered() && !bx.frameFilterModel()->isMatching());
        QCOMPARE(quint64(bx.frameFilterModel()->rowCount()), fcsErrors);
        QVERIFY(bx.exportCaptureToPcapng(trace, filtered));
    }
    QFile::rename(trace, m_dir.filePath("original.vtrc"));

    BX bx;
    prepare(bx);
    BoxAnswerer answers({ QMessageBox::Yes });
    QVERIFY(bx.importPcapngCapture(whole));
    // Row for row the conversion's own tests compare; here the window's counters and table.
    QCOMPARE(bx.analysisContext()->counters.frameTotal, frames);
    QCOMPARE(bx.analysisContext()->counters.errorFCS, fcsErrors);
    QCOMPARE(bx.frameTableModel()->rowCount(), lineCount(m_dir.filePath("original.vtrc")));
    QCOMPARE(lineCount(trace), lineCount(m_dir.filePath("original.vtrc")));

    // Read back: only the FCS errors went out, and the analysis open is replaced.
    QVERIFY(bx.importPcapngCapture(filtered));
    QCOMPARE(answers.texts.size(), 1);
    QCOMPARE(bx.analysisContext()->counters.errorFCS, fcsErrors);
    QCOMPARE(quint64(bx.frameTableModel()->rowCount()), fcsErrors);

    // A file the reader refuses (each reason is the reader's): the reason told, the analysis kept.
    const QString foreign = m_dir.filePath("foreign.pcapng");
    QVERIFY(AppTest::writeFile(foreign, "hello, world"));
    BoxAnswerer refusal({ QMessageBox::Ok });
    QVERIFY(!bx.importPcapngCapture(foreign));
    QCOMPARE(refusal.texts.size(), 1);
    QVERIFY2(refusal.texts.first().contains("neither"), qPrintable(refusal.texts.first()));
    QCOMPARE(quint64(bx.frameTableModel()->rowCount()), fcsErrors);
}

QTEST_MAIN(TstBXAnalysis)
#include "tst_bxanalysis.moc"
