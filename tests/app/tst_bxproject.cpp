// The project life cycle through the main window: save, load, close questions,
// failed loads and saves, the recent list and dropped project files.

#include "app/BX.h"
#include "control/KivDevicesDetection.h"
#include "design/FipCalculator.h"
#include "design/MainDTModel.h"
#include "design/SettingsDTModel.h"
#include "design/TreeItem.h"
#include "tests/app/BoxAnswerer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QStackedWidget>
#include <QTreeView>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUndoStack>
#include <QtTest>

#include <memory>

class TstBXProject : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void saveThenLoadRestoresTheProject();
    void closeQuestion_data();
    void closeQuestion();
    void failedLoadLeavesTheFileAlone();
    void failedSaveKeepsTheOldFileAndTheMark();
    void saveAsOntoUntitledIsRefused();
    void recentList();
    void droppedProjectLoads();
    void selectedStationShowsInItemEditor();

    void closeKeepsWindowWhenSaveAsCancelled();
    void editAfterUndoKeepsProjectModified();
    void untitledSaveFollowsWorkingDirectory();

private:
    /// A network with a segment and a station, edited a little.
    void buildProject();
    QStringList snapshot() const;
    QStackedWidget* designStack() const { return m_bx->findChild<QStackedWidget*>("designStackedWidget"); }
    QAction* action(const char* name) const { return m_bx->findChild<QAction*>(name); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    std::unique_ptr<BX> m_bx;
};

void TstBXProject::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    // The program's own font, so that sizes are those a user sees.
    QFont font;
    font.setFamily(font.defaultFamily());
    font.setPointSize(9);
    QApplication::setFont(font);
}

void TstBXProject::init()
{
    QSettings(BX::OrganizationName, BX::ProductName).clear();
    m_bx = std::make_unique<BX>();
    m_bx->designModel()->setMultiInsertPause(0);
}

void TstBXProject::cleanup()
{
    m_bx.reset();
}

void TstBXProject::buildProject()
{
    MainDTModel* model = m_bx->designModel();
    QVERIFY(model->dropItem("Network", QModelIndex()));
    const QModelIndex network = model->index(0, 0);
    QVERIFY(model->dropItem("Segment", network));
    const QModelIndex segment = model->index(0, 0, network);
    QVERIFY(model->dropItem("Station", segment));
    const QModelIndex station = model->index(0, 0, segment);
    QVERIFY(model->setData(station.sibling(station.row(), 0), "Pump", Qt::EditRole));
}

QStringList TstBXProject::snapshot() const
{
    const MainDTModel* model = m_bx->designModel();
    QStringList rows;
    for (const QModelIndex& i : model->getAllIndexes()) {
        QStringList cells;
        for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c)
            cells << model->getItem(i)->data(c).toString();
        rows << cells.join(QLatin1Char(';'));
    }
    return rows;
}

void TstBXProject::saveThenLoadRestoresTheProject()
{
    buildProject();
    QVERIFY(m_bx->isModified());
    const QStringList before = snapshot();
    const QString path = m_dir.filePath("pump.brxprj");
    bool done = false;
    // Board scanning pauses for the save and comes back as it was: on here, off while
    // a network is connected.
    m_bx->devicesDetection()->setScanning(false);
    m_bx->saveProjectAs(path, &done);
    QVERIFY(done);
    QVERIFY(!m_bx->devicesDetection()->isScanning());
    m_bx->devicesDetection()->setScanning(true);
    m_bx->saveProjectAs(path, &done);
    QVERIFY(done);
    QVERIFY(m_bx->devicesDetection()->isScanning());
    QVERIFY(!m_bx->isModified());
    QCOMPARE(m_bx->currentFileProject(), path);
    QVERIFY(!m_bx->windowTitle().endsWith('*'));

    int answer = 0;
    m_bx->onActionCloseProject(&answer);
    QVERIFY(!m_bx->isProjectOpen());
    QCOMPARE(designStack()->currentIndex(), 0);
    QVERIFY(!action("actionSave")->isEnabled());

    m_bx->loadFileProject(path);
    QCOMPARE(snapshot(), before);
    QCOMPARE(m_bx->windowTitle(), BX::OrganizationName + " " + BX::ProductName + " - " + path);
    QCOMPARE(designStack()->currentIndex(), 1);
    QVERIFY(action("actionCloseProject")->isEnabled());
    QVERIFY(!m_bx->isModified());
    QCOMPARE(m_bx->designModel()->undoStack()->count(), 0);
    const QModelIndex station = m_bx->designModel()->getStationIndexes().value(0);
    QCOMPARE(m_bx->designModel()->text(station, MainDTModel::ColFipDevice), MainDTModel::BindADevice);
}

void TstBXProject::closeQuestion_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("stillOpen");
    QTest::newRow("cancel keeps the project") << int(QMessageBox::Cancel) << true;
    QTest::newRow("no closes without saving") << int(QMessageBox::No) << false;
}

void TstBXProject::closeQuestion()
{
    QFETCH(int, button);
    QFETCH(bool, stillOpen);
    buildProject();
    BoxAnswerer answerer({ QMessageBox::StandardButton(button) });
    int answer = 0;
    m_bx->onActionCloseProject(&answer);
    QCOMPARE(answer, button);
    QCOMPARE(answerer.titles, QStringList { "Saving" });
    QCOMPARE(m_bx->isProjectOpen(), stillOpen);
    QCOMPARE(m_bx->isModified(), stillOpen);
    if (!stillOpen)
        QCOMPARE(m_bx->currentFileProject(), m_bx->untitledFileProject());
}

void TstBXProject::failedLoadLeavesTheFileAlone()
{
    const QString path = m_dir.filePath("broken.brxprj");
    const QByteArray content = "<brxprj version=\"1.0\"><design><maindtitem col0=\"N\" col1=\"Network\">";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    BoxAnswerer answerer({ QMessageBox::Ok });
    m_bx->loadFileProject(path);
    QCOMPARE(answerer.texts, QStringList { "Impossible to load from the file.\nLine 1: Premature end of document." });
    QVERIFY(!m_bx->isProjectOpen());
    QCOMPARE(designStack()->currentIndex(), 0);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), content);
}

void TstBXProject::failedSaveKeepsTheOldFileAndTheMark()
{
    buildProject();
    const QString path = m_dir.filePath("kept.brxprj");
    bool done = false;
    m_bx->saveProjectAs(path, &done);
    QVERIFY(done);
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QByteArray before = saved.readAll();
    saved.close();

    // An edit, then a save where no file can be made: beneath a plain file.
    const QModelIndex network = m_bx->designModel()->index(0, 0);
    QVERIFY(m_bx->designModel()->dropItem("Segment", network));
    QVERIFY(m_bx->isModified());
    BoxAnswerer answerer({ QMessageBox::Ok });
    m_bx->saveProjectAs(path + "/inside.brxprj", &done);
    QVERIFY(!done);
    QCOMPARE(answerer.texts, QStringList { "Impossible to save the project." });
    QVERIFY(m_bx->isModified());
    QVERIFY(m_bx->windowTitle().endsWith('*'));
    QCOMPARE(m_bx->currentFileProject(), path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), before);
}

void TstBXProject::saveAsOntoUntitledIsRefused()
{
    buildProject();
    BoxAnswerer answerer({ QMessageBox::Ok });
    bool done = true;
    m_bx->saveProjectAs(m_bx->untitledFileProject(), &done);
    QVERIFY(!done);
    QCOMPARE(answerer.texts, QStringList { "Incorrect project name. Choose another name." });
    QVERIFY(!QFile::exists(m_bx->untitledFileProject()));
    QVERIFY(m_bx->isModified());
}

void TstBXProject::recentList()
{
    for (int i = 0; i < 11; ++i)
        m_bx->setCurrentFileProject(m_dir.filePath(QString("p%1.brxprj").arg(i)), false);
    m_bx->setCurrentFileProject(m_dir.filePath("p5.brxprj"), false);
    const QList<QAction*> actions = m_bx->recentFileActions();
    QCOMPARE(actions.size(), 10);
    QStringList texts;
    for (QAction* a : actions) {
        QVERIFY(a->isVisible());
        texts << a->text();
    }
    // p5 moved to the top once; p0 was pushed out by the eleventh.
    QCOMPARE(texts, (QStringList { "p5.brxprj", "p10.brxprj", "p9.brxprj", "p8.brxprj", "p7.brxprj", "p6.brxprj",
                                   "p4.brxprj", "p3.brxprj", "p2.brxprj", "p1.brxprj" }));
    QCOMPARE(actions.first()->shortcut(), QKeySequence("Ctrl+1"));
    QCOMPARE(actions.last()->shortcut(), QKeySequence("Ctrl+0"));
    QCOMPARE(actions.first()->data().toString(), m_dir.filePath("p5.brxprj"));

    m_bx->onActionClearRecentFiles();
    for (QAction* a : m_bx->recentFileActions())
        QVERIFY(!a->isVisible());
    QVERIFY(!m_bx->findChild<QMenu*>("menuOpenRecent")->isEnabled());
}

void TstBXProject::droppedProjectLoads()
{
    buildProject();
    const QString path = m_dir.filePath("dropped.brxprj");
    bool done = false;
    m_bx->saveProjectAs(path, &done);
    QVERIFY(done);
    m_bx->onActionCloseProject(nullptr);
    m_bx->onBrxprjFileDropped(path);
    QVERIFY(m_bx->isProjectOpen());
    QCOMPARE(m_bx->currentFileProject(), path);
}

// An example project as a user opens it: picking a station in the tree shows its properties.
// With BX_SCREENSHOT_DIR set, the window is saved there as design_station.png.
void TstBXProject::selectedStationShowsInItemEditor()
{
    m_bx->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_bx.get()));
    m_bx->loadFileProject(QStringLiteral(BX_BINARY_DIR "/examples/brantix/2sta_worldfip/file_transfer_1M.brxprj"));
    QVERIFY(m_bx->isProjectOpen());
    MainDTModel* model = m_bx->designModel();
    const QModelIndex station = model->getStationIndexes().value(1);
    QCOMPARE(model->text(station, MainDTModel::ColObject), QString("Field unit"));

    auto* tree = m_bx->findChild<QTreeView*>("mainDTView");
    tree->setCurrentIndex(station);
    auto* right = m_bx->findChild<QStackedWidget*>("projectRightStackedWidget");
    QCOMPARE(right->currentWidget()->objectName(), QString("itemEditorPage"));
    auto* editor = m_bx->findChild<QTreeView*>("settingsDTView");
    QVERIFY(editor->isVisible());
    QCOMPARE(m_bx->settingsModel()->node(), station);
    // The name and the address rows are shown, with the station's values, inside the view.
    for (int column : {int(MainDTModel::ColObject), int(MainDTModel::ColStationAddress)}) {
        const QModelIndex value = m_bx->settingsModel()->valueIndex(column);
        QVERIFY(value.isValid());
        QCOMPARE(value.data().toString(), model->text(station, column));
        QVERIFY(!editor->isRowHidden(value.row(), value.parent()));
        const QRect cell = editor->visualRect(value);
        QVERIFY(!cell.isEmpty());
        QVERIFY(editor->viewport()->rect().contains(cell.topLeft()));
    }

    const QString dir = qEnvironmentVariable("BX_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(m_bx->grab().save(dir + "/design_station.png"));

    // At every speed the Overview panel's choices fit their boxes unclipped.
    for (const QString& speed : FipCalculator::getSpeedList()) {
        QVERIFY(model->setData(model->cell(model->getNetworkIdx(), MainDTModel::ColNetworkSpeed), speed));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        for (const char* name : {"overviewFrameTypeComboBox", "overviewSpeedComboBox", "overviewSilenceComboBox",
                                 "overviewTurnAroundComboBox"}) {
            const auto* combo = m_bx->findChild<QComboBox*>(name);
            QVERIFY2(combo->width() >= combo->sizeHint().width(), qPrintable(speed + " " + name));
        }
    }
}

// Ctrl+N, Ctrl+Q, Save, then Cancel in the Save As dialog: nothing was saved, nothing is lost.
void TstBXProject::closeKeepsWindowWhenSaveAsCancelled()
{
    m_bx->show();
    m_bx->onActionNewProject();
    QVERIFY(m_bx->isModified());
    BoxAnswerer answerer({ QMessageBox::Save });
    FileDialogCanceller dialogs;
    QVERIFY(!m_bx->close());
    QCOMPARE(answerer.titles, QStringList { "Saving" });
    QCOMPARE(dialogs.count, 1);
    QVERIFY(m_bx->isVisible());
    QVERIFY(m_bx->isProjectOpen());
    QVERIFY(m_bx->isModified());
}

// Save, Undo, then another edit: the redo branch holding the saved state is gone,
// so the project differs from its file and Close asks.
void TstBXProject::editAfterUndoKeepsProjectModified()
{
    buildProject();
    bool done = false;
    m_bx->saveProjectAs(m_dir.filePath("undo.brxprj"), &done);
    QVERIFY(done);
    MainDTModel* model = m_bx->designModel();
    model->undoStack()->undo();
    QVERIFY(m_bx->isModified());
    QVERIFY(model->setData(model->cell(model->getNetworkIdx(), MainDTModel::ColObject), "Other line"));
    QVERIFY(m_bx->isModified());
    QVERIFY(m_bx->windowTitle().endsWith('*'));

    BoxAnswerer answerer({ QMessageBox::Cancel });
    int answer = 0;
    m_bx->onActionCloseProject(&answer);
    QCOMPARE(answerer.titles, QStringList { "Saving" });
    QVERIFY(m_bx->isProjectOpen());
}

// An untitled project lives in the current working directory, not the one it was made in.
void TstBXProject::untitledSaveFollowsWorkingDirectory()
{
    QTemporaryDir first, second;
    auto* savePath = m_bx->findChild<QLineEdit*>("savePath");
    savePath->setText(first.path());
    m_bx->onWorkingDirectoryChanged();
    m_bx->onActionNewProject();
    QCOMPARE(m_bx->currentFileProject(), first.filePath("untitled.brxprj"));

    savePath->setText(second.path());
    m_bx->onWorkingDirectoryChanged();
    QCOMPARE(m_bx->currentFileProject(), second.filePath("untitled.brxprj"));
    QVERIFY(m_bx->windowTitle().contains(second.path()));
    FileDialogCanceller dialogs;
    bool done = true;
    m_bx->onSaveButtonClicked(&done);
    QCOMPARE(dialogs.count, 1);
    QVERIFY(!done);
    QVERIFY(!QFile::exists(first.filePath("untitled.brxprj")));
    QVERIFY(m_bx->isModified());
}

QTEST_MAIN(TstBXProject)
#include "tst_bxproject.moc"
