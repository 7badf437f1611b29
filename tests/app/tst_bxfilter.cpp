// The display filter bar of the real window over a converted capture: a filter
// typed and confirmed, refused, cleared and remembered; Apply as Filter from a
// cell; Ctrl+F, the error buttons and Ctrl+G.

#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "app/BX.h"
#include "app/FrameFilterBar.h"
#include "tests/app/BoxAnswerer.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray rawCapture(int frames, int fcsErrorEvery)
{
    FipTrafficGenerator bus(1, 2, 1700000000000000ULL);
    QByteArray raw(1, char(2)); // Osp flow
    for (int i = 1; i <= frames; ++i) {
        if (i % fcsErrorEvery == 0)
            bus.injectError(FipTrafficGenerator::Error::FcsError);
        raw += FipRecordEncoder::ospRecord(bus.next());
    }
    return raw;
}

// Frame numbers of the trace lines whose identifier and control are these, read the plain way.
QStringList numbersOf(const QString& path, const QByteArray& id, const QByteArray& control)
{
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    QStringList out;
    while (!f.atEnd()) {
        const QList<QByteArray> fields = f.readLine().split('\t');
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

} // namespace

class TstBXFilter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void filterBar();
    void findAndGoTo();

private:
    void open(BX& bx);
    void shot(BX& bx, const QString& name);
    bool settle(BX& bx) { return QTest::qWaitFor([&] { return !bx.frameFilterModel()->isMatching(); }, 10000); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    QString m_trace;
};

void TstBXFilter::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    const QString raw = m_dir.filePath("bus.praw");
    QFile file(raw);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(rawCapture(3000, 97));
    file.close();
    m_trace = m_dir.filePath("bus.vtrc");
    BX bx;
    bx.findChild<QRadioButton*>("paddingVisibleYes")->setChecked(true);
    bx.findChild<QRadioButton*>("logErrorsYes")->setChecked(true);
    BoxAnswerer answers({});
    QVERIFY(bx.generateVtrcFile(raw, m_trace, 2));
}

void TstBXFilter::open(BX& bx)
{
    bx.resize(1400, 900);
    bx.show();
    QVERIFY(bx.openCapture(m_trace));
    bx.findChild<QAction*>("actionShowOstrakPage")->trigger();
    bx.findChild<QPushButton*>("analysisVisualFipTraceButton")->click();
    QVERIFY(QTest::qWaitForWindowExposed(&bx));
}

// Under a real display (BX_SCREENSHOT=folder), the screen with any tool tip on it.
void TstBXFilter::shot(BX& bx, const QString& name)
{
    const QString folder = qEnvironmentVariable("BX_SCREENSHOT");
    if (folder.isEmpty())
        return;
    QTest::qWait(400);
    QScreen* screen = bx.screen();
    const QPixmap whole = screen->grabWindow(0);
    (whole.isNull() ? bx.grab() : whole).save(folder + "/filter-" + name + ".png");
}

void TstBXFilter::filterBar()
{
    BX bx;
    open(bx);
    FrameFilterBar* bar = bx.frameFilterBar();
    QAbstractItemModel* model = bx.frameFilterModel();
    auto* view = bx.findChild<QTableView*>("mainATView");
    QCOMPARE(view->model(), model);
    auto* combo = bar->findChild<QComboBox*>("frameFilterCombo");
    auto* count = bar->findChild<QLabel*>("frameFilterCountLabel");
    const int total = bx.frameTableModel()->rowCount();
    QCOMPARE(total, 3000);
    QCOMPARE(count->text(), QString("3,000 frames"));
    shot(bx, "empty");

    const QString selective = "id == 0x0201 and ctrl == RP_DAT";
    combo->lineEdit()->setFocus();
    QTest::keyClicks(combo->lineEdit(), selective);
    QCOMPARE(bar->state(), FrameFilterBar::State::Valid);
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QVERIFY(settle(bx));
    const QStringList expected = numbersOf(m_trace, "0x0201", "RP_DAT");
    QVERIFY(expected.size() > 10);
    QCOMPARE(shown(model), expected);
    QCOMPARE(count->text(), QString("%1 of 3,000 frames").arg(expected.size()));
    shot(bx, "applied");

    // Refused: red, the message and its column in the tool tip, the view as it was.
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "id == 0x0201 and ctrl = RP_DAT");
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(bar->state(), FrameFilterBar::State::Invalid);
    QCOMPARE(combo->lineEdit()->toolTip(), QString("Use \"==\" to compare (at column 23)"));
    QCOMPARE(shown(model), expected);
    shot(bx, "error");

    // Esc clears.
    QTest::keyClick(combo->lineEdit(), Qt::Key_Escape);
    QCOMPARE(bar->state(), FrameFilterBar::State::Empty);
    QCOMPARE(model->rowCount(), total);
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
    QFile exported(csv);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = exported.readAll().split('\n');
    QCOMPARE(lines.size(), model->rowCount() + 2); // header, rows, the empty rest after the last line end
    QVERIFY(lines.at(0).startsWith("Anchor,No.,Relative Date,"));
    QVERIFY(!lines.at(0).contains(",Data,"));
    QVERIFY(lines.at(1).startsWith(QString("false,%1,").arg(model->index(0, 1).data().toString()).toUtf8()));
    const QString lastNumber = model->index(model->rowCount() - 1, 1).data().toString();
    QVERIFY(lastNumber.contains(','));
    QVERIFY(lines.at(model->rowCount()).startsWith(QString("false,\"%1\",").arg(lastNumber).toUtf8()));
    QVERIFY(!bar->exportVisibleFrames(m_dir.filePath("missing/shown.csv")));

    // The history keeps the newest first, for the next window too.
    QCOMPARE(bar->history().mid(0, 2), QStringList({ offered.at(1), selective }));
    BX next;
    auto* nextCombo = next.frameFilterBar()->findChild<QComboBox*>("frameFilterCombo");
    QCOMPARE(nextCombo->itemText(0), offered.at(1));
}

void TstBXFilter::findAndGoTo()
{
    BX bx;
    open(bx);
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
}

QTEST_MAIN(TstBXFilter)
#include "tst_bxfilter.moc"
