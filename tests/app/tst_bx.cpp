// The main window on its own: construction, status bar, Ctrl flag, title and
// undo, navigation, help links, panels, closing questions, and the project life
// cycle (save, load, failed loads and saves, the recent list, dropped files).

#include "app/DesignDropAreaWidget.h"
#include "control/KivDevicesDetection.h"
#include "design/FipCalculator.h"
#include "design/SettingsDTModel.h"
#include "tests/app/AppTestUtil.h"

Q_DECLARE_METATYPE(QList<QMessageBox::StandardButton>)

class TstBX : public QObject
{
    Q_OBJECT

public slots:
    void openUrl(const QUrl& url) { m_openedUrls << url; }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void construction();
    void defaultHeadersFit_data();
    void defaultHeadersFit();
    void itemBoxFeedsTheDesignTree();
    void itemBoxKeepsEntriesOnShiftDrag();

    void statusMessage_data();
    void statusMessage();
    void secondStatusMessageRestartsTheDelay();
    void ctrlFlag_data();
    void ctrlFlag();
    void titleFollowsCleanIndex();
    void undoActionsFollowTheStack();

    void navigation_data();
    void navigation();
    void viewBarActions_data();
    void viewBarActions();
    void subButtonRows_data();
    void subButtonRows();
    void helpUrl_data();
    void helpUrl();
    void helpLinks_data();
    void helpLinks();

    void projectPanels();
    void progressBars_data();
    void progressBars();
    void overviewFollowsNetwork();
    void closeDuringRuns_data();
    void closeDuringRuns();
    void projectDropArea_data();
    void projectDropArea();

    void saveThenLoadRestoresTheProject();
    void closeWithoutSavingDiscards();
    void failedLoadLeavesTheFileAlone();
    void refusedSaveKeepsTheOldFileAndTheMark_data();
    void refusedSaveKeepsTheOldFileAndTheMark();
    void recentList();
    void selectedStationShowsInItemEditor();
    void closeKeepsWindowWhenSaveAsCancelled();
    void editAfterUndoKeepsProjectModified();
    void untitledSaveFollowsWorkingDirectory();

private:
    template<typename T> T* child(const QString& name) const { return AppTest::child<T>(*m_bx, name); }
    QAction* action(const QString& name) const { return child<QAction>(name); }
    QStackedWidget* designStack() const { return child<QStackedWidget>("designStackedWidget"); }
    void dropNetwork() { QVERIFY(m_bx->designModel()->dropItem("Network", QModelIndex())); }
    /// A network with a segment and a station, edited a little.
    void buildProject();

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    std::unique_ptr<BX> m_bx;
    QList<QUrl> m_openedUrls;
};

void TstBX::initTestCase()
{
    AppTest::isolateSettings(m_settingsDir.path());
    // No browser is started by the tests: the desktop hands URLs to this object.
    for (const char* scheme : {"file", "http", "https"})
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
    // The program's own font, so that sizes are those a user sees.
    QFont font;
    font.setFamily(font.defaultFamily());
    font.setPointSize(9);
    QApplication::setFont(font);
}

void TstBX::init()
{
    m_openedUrls.clear();
    QSettings(BX::OrganizationName, BX::ProductName).clear();
    m_bx = std::make_unique<BX>();
    m_bx->designModel()->setMultiInsertPause(0);
}

void TstBX::cleanup()
{
    m_bx.reset();
}

// ---------------------------------------------------------------- construction

void TstBX::construction()
{
    QVERIFY2(!m_bx->styleSheet().isEmpty(), "the style sheet resource is applied");
    for (const char* name : {"actionPrint", "actionCut", "actionCopy", "actionPaste", "actionUndo", "actionRedo"})
        QVERIFY2(!action(name)->isEnabled(), name);
}

void TstBX::defaultHeadersFit_data()
{
    QTest::addColumn<QString>("view");
    QTest::newRow("frame table") << "mainATView";
    QTest::newRow("transaction tree") << "transactionATView";
}

void TstBX::defaultHeadersFit()
{
    QFETCH(QString, view);
    m_bx->show();
    auto* tree = m_bx->findChild<QTreeView*>(view);
    QHeaderView* header = tree ? tree->header() : child<QTableView>(view)->horizontalHeader();
    int shown = 0;
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        ++shown;
        QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                 qPrintable(header->model()->headerData(column, Qt::Horizontal).toString()));
    }
    QVERIFY(shown > 0);
}

void TstBX::itemBoxFeedsTheDesignTree()
{
    QStandardItemModel* box = m_bx->itemBoxModel();
    for (int i = 0; i < box->rowCount(); ++i)
        QVERIFY2(!box->item(i)->icon().isNull(), qPrintable(box->item(i)->text()));
    // A drag of "Network" onto the empty tree is what a user does first.
    std::unique_ptr<QMimeData> mime(box->mimeData({box->index(0, 0)}));
    QVERIFY(m_bx->designModel()->dropMimeData(mime.get(), Qt::CopyAction, -1, 0, QModelIndex()));
    QCOMPARE(m_bx->designModel()->rowCount(), 1);
}

// A view drags with the actions its model supports and removes the source rows
// after a move: a Shift drag must find no move to make.
void TstBX::itemBoxKeepsEntriesOnShiftDrag()
{
    QStandardItemModel* box = m_bx->itemBoxModel();
    QVERIFY(!(box->supportedDragActions() & Qt::MoveAction));
    QVERIFY(box->supportedDragActions() & Qt::CopyAction);
}

// ---------------------------------------------------------------- status bar, Ctrl, title and undo

void TstBX::statusMessage_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("information") << 0 << true;
    QTest::newRow("warning") << 1 << true;
    QTest::newRow("error") << 2 << true;
    QTest::newRow("unknown level") << 3 << false;
}

void TstBX::statusMessage()
{
    QFETCH(int, level);
    QFETCH(bool, hasIcon);
    auto* icon = child<QLabel>("statusIconLabel");
    auto* message = child<QLabel>("statusMessageLabel");
    auto* timer = child<QTimer>("statusBarTimer");
    m_bx->show();
    QVERIFY(!message->isVisible());

    m_bx->updateStatusBar(2, "previous");
    m_bx->updateStatusBar(quint8(level), "<strong>Network</strong> is only droppable on <strong>Root</strong>.");
    QCOMPARE(message->text(), QString("<strong>Network</strong> is only droppable on <strong>Root</strong>."));
    QVERIFY(message->isVisible());
    QVERIFY(icon->isVisible());
    QCOMPARE(icon->pixmap(Qt::ReturnByValue).size(), hasIcon ? QSize(16, 16) : QSize(0, 0));
    QVERIFY(timer->isActive());

    m_bx->onStatusBarTimerTimeout();
    QVERIFY(!message->isVisible());
    QVERIFY(!icon->isVisible());
    QVERIFY(!timer->isActive());
}

void TstBX::secondStatusMessageRestartsTheDelay()
{
    auto* timer = child<QTimer>("statusBarTimer");
    m_bx->show();
    m_bx->updateStatusBar(0, "first");
    QTest::qWait(300);
    const int leftAfterWait = timer->remainingTime();
    QVERIFY2(leftAfterWait <= timer->interval() - 200, qPrintable(QString::number(leftAfterWait)));

    m_bx->updateStatusBar(1, "second");
    QVERIFY2(timer->remainingTime() > leftAfterWait + 200, "the delay starts again from the second message");
}

void TstBX::ctrlFlag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("deactivate");
    for (const char* target : {"", "mainDTView", "settingsDTView", "itemBoxView"})
        QTest::newRow(*target ? target : "window") << QString(target) << false;
    // The deactivation is the window's, wherever the key went.
    QTest::newRow("view, window deactivated") << "mainDTView" << true;
}

void TstBX::ctrlFlag()
{
    QFETCH(QString, target);
    QFETCH(bool, deactivate);
    QWidget* widget = target.isEmpty() ? static_cast<QWidget*>(m_bx.get()) : m_bx->findChild<QWidget*>(target);
    QVERIFY(widget);
    QVERIFY(!m_bx->isCtrlPressed());
    QTest::keyPress(widget, Qt::Key_Control);
    QVERIFY(m_bx->isCtrlPressed());
    QVERIFY(m_bx->designModel()->isCtrlPressed());
    QTest::keyPress(widget, Qt::Key_A, Qt::ControlModifier);
    QVERIFY2(m_bx->isCtrlPressed(), "another key does not clear the flag");
    if (deactivate) {
        QEvent event(QEvent::WindowDeactivate);
        QApplication::sendEvent(m_bx.get(), &event);
    } else {
        QTest::keyRelease(widget, Qt::Key_Control);
    }
    QVERIFY(!m_bx->isCtrlPressed());
    QVERIFY(!m_bx->designModel()->isCtrlPressed());
}

void TstBX::titleFollowsCleanIndex()
{
    MainDTModel* model = m_bx->designModel();
    QUndoStack* stack = model->undoStack();
    const QString base = "Kivotec Brantix - " + m_bx->untitledFileProject();

    dropNetwork();
    QCOMPARE(m_bx->windowTitle(), base + "*");
    QVERIFY(m_bx->isModified());

    QTemporaryDir dir;
    const QString path = dir.filePath("line1.brxprj");
    m_bx->setCurrentFileProject(path, false);
    QCOMPARE(m_bx->cleanUndoIndex(), stack->index());
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path);
    QVERIFY(!m_bx->isModified());

    const QModelIndex network = model->getNetworkIdx();
    QVERIFY(model->setData(network, "Line 1"));
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path + "*");

    // Undoing back to the saved state removes the mark; one more step brings it back.
    stack->undo();
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path);
    QVERIFY(!m_bx->isModified());
    stack->undo();
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path + "*");
    stack->redo();
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path);
    stack->redo();
    QCOMPARE(m_bx->windowTitle(), "Kivotec Brantix - " + path + "*");

    // After a load the stack starts again from a clean state.
    m_bx->setCurrentFileProject(path, true);
    QCOMPARE(stack->count(), 0);
    QCOMPARE(m_bx->cleanUndoIndex(), 0);
    QVERIFY(!m_bx->windowTitle().endsWith("*"));
}

void TstBX::undoActionsFollowTheStack()
{
    QAction* undo = action("actionUndo");
    QAction* redo = action("actionRedo");
    dropNetwork();
    QVERIFY(undo->isEnabled());
    QCOMPARE(undo->text(), "Undo " + m_bx->designModel()->undoStack()->undoText());
    QVERIFY(!redo->isEnabled());

    undo->trigger();
    QCOMPARE(m_bx->designModel()->rowCount(), 0);
    QVERIFY(!undo->isEnabled());
    QCOMPARE(redo->text(), "Redo " + m_bx->designModel()->undoStack()->redoText());

    redo->trigger();
    QCOMPARE(m_bx->designModel()->rowCount(), 1);
    auto* bar = child<QToolBar>("designToolBar");
    QCOMPARE(bar->widgetForAction(undo)->toolTip(), undo->text());
}

// ---------------------------------------------------------------- navigation

void TstBX::navigation_data()
{
    QTest::addColumn<QString>("trigger"); // a left button or an action
    QTest::addColumn<int>("page"); // its button and action are checked
    QTest::addColumn<int>("optionsPage"); // -1: not looked at
    QTest::newRow("Ostrak button") << "ostrakButton" << 2 << -1;
    QTest::newRow("Options button") << "optionsButton" << 3 << 0;
    QTest::newRow("Plandor button") << "plandorButton" << 0 << -1;
    QTest::newRow("Alt+2 Ostrak") << "actionShowOstrakPage" << 2 << -1;
    QTest::newRow("Alt+3 Options") << "actionShowOptionsPage" << 3 << 0;
    QTest::newRow("Alt+1 Plandor") << "actionShowPlandorPage" << 0 << -1;
    QTest::newRow("Contact us") << "actionContactUs" << 3 << 4;
    QTest::newRow("About Brantix") << "actionAboutBrantix" << 3 << 5;
}

void TstBX::navigation()
{
    QFETCH(QString, trigger);
    QFETCH(int, page);
    QFETCH(int, optionsPage);
    m_bx->show();
    // Start away from the target so the trigger really changes the page.
    child<QToolButton>(page == 3 ? "ostrakButton" : "optionsButton")->click();
    if (auto* left = m_bx->findChild<QToolButton*>(trigger))
        left->click();
    else
        action(trigger)->trigger();
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), page);
    QStringList checked;
    for (const char* name : {"plandorButton", "ostrakButton", "optionsButton", "actionShowPlandorPage",
                             "actionShowOstrakPage", "actionShowOptionsPage"}) {
        QObject* o = m_bx->findChild<QObject*>(name);
        if (o->property("checked").toBool())
            checked << name;
    }
    const QString name = QStringList{"Plandor", "", "Ostrak", "Options"}.at(page);
    QCOMPARE(checked, QStringList({name.toLower() + "Button", "actionShow" + name + "Page"}));
    QCOMPARE(child<QToolBar>("designToolBar")->isVisible(), page == 0);
    QCOMPARE(child<QToolBar>("captureToolBar")->isVisible(), page == 2);
    if (optionsPage >= 0)
        QCOMPARE(child<QStackedWidget>("optionsStackedWidget")->currentIndex(), optionsPage);
}

void TstBX::viewBarActions_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("bar");
    QTest::newRow("Side Bar") << "actionShowSideBar" << "leftToolBar";
    QTest::newRow("Info Bar") << "actionShowInfoBar" << "topToolBar";
    QTest::newRow("Status Bar") << "actionShowStatusBar" << "statusBar";
}

void TstBX::viewBarActions()
{
    QFETCH(QString, actionName);
    QFETCH(QString, bar);
    m_bx->show();
    QAction* toggle = action(actionName);
    QWidget* widget = child<QWidget>(bar);
    QVERIFY(toggle->isChecked());
    QVERIFY(widget->isVisible());
    toggle->trigger();
    QVERIFY(!widget->isVisible());
    toggle->trigger();
    QVERIFY(widget->isVisible());
}

void TstBX::subButtonRows_data()
{
    QTest::addColumn<QString>("stack");
    QTest::addColumn<QStringList>("buttons");
    QTest::newRow("network") << "networkStackedWidget"
                             << QStringList{"networkWizardButton", "networkProjectButton", "networkDevicesBindingButton",
                                            "networkParametersButton"};
    QTest::newRow("analysis") << "analysisStackedWidget"
                              << QStringList{"analysisStatisticsButton", "analysisVisualFipTraceButton", "analysisMacroMicroButton",
                                             "analysisStationsPresenceButton", "analysisMnemonicsButton", "analysisParametersButton",
                                             "analysisDesignCheckButton"};
    QTest::newRow("options") << "optionsStackedWidget"
                             << QStringList{"optionGeneralButton", "optionDesignButton", "optionControlButton",
                                            "optionAnalysisButton", "optionContactUsButton", "optionAboutButton"};
}

void TstBX::subButtonRows()
{
    QFETCH(QString, stack);
    QFETCH(QStringList, buttons);
    auto* widget = m_bx->findChild<QStackedWidget*>(stack);
    QList<QPushButton*> row;
    for (const QString& name : buttons) {
        row << m_bx->findChild<QPushButton*>(name);
        QVERIFY2(row.last() && row.last()->isCheckable(), qPrintable(name));
    }
    auto checkedIndexes = [&row] {
        QList<int> checked;
        for (int i = 0; i < row.size(); ++i) {
            if (row[i]->isChecked())
                checked << i;
        }
        return checked;
    };
    QCOMPARE(checkedIndexes(), QList<int>{widget->currentIndex()});

    // Walk backwards so every click moves away from the current page.
    for (int i = row.size() - 1; i >= 0; --i) {
        row[i]->click();
        QCOMPARE(widget->currentIndex(), i);
        QCOMPARE(checkedIndexes(), QList<int>{i});
    }
    // A click on the current tab keeps it.
    row[0]->click();
    QCOMPARE(widget->currentIndex(), 0);
    QCOMPARE(checkedIndexes(), QList<int>{0});
}

// ---------------------------------------------------------------- help and web site

void TstBX::helpUrl_data()
{
    QTest::addColumn<QString>("applicationDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows") << "C:/Program Files/Kivotec/Brantix/bin"
                             << "file:///C:/Program Files/Kivotec/Brantix/docs/html/brantix/brantix.html";
}

void TstBX::helpUrl()
{
    QFETCH(QString, applicationDir);
    QFETCH(QString, expected);
    QCOMPARE(BX::helpUrl(applicationDir), QUrl(expected));
}

void TstBX::helpLinks_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("topic"); // "web": the web site
    QTest::newRow("F1") << "actionHelp" << "";
    QTest::newRow("web site") << "infoKivButton" << "web";
    QTest::newRow("capture card") << "captureCardInfoButton" << "analysis-capture-card";
    QTest::newRow("padding") << "paddingInfoButton" << "analysis-padding";
    QTest::newRow("macrocycle") << "macroInfoButton" << "analysis-macrocycle";
    QTest::newRow("backup") << "backupInfoButton" << "analysis-backup";
    QTest::newRow("depth") << "analysisMiscInfoButton" << "analysis-depth";
    QTest::newRow("conversion") << "conversionInfoButton" << "analysis-conversion";
}

void TstBX::helpLinks()
{
    QFETCH(QString, trigger);
    QFETCH(QString, topic);
    if (auto* button = m_bx->findChild<QToolButton*>(trigger)) {
        if (topic.startsWith("analysis"))
            QVERIFY(child<QWidget>("analysisParametersPage")->isAncestorOf(button));
        button->click();
    } else {
        action(trigger)->trigger();
    }
    QString parent = QCoreApplication::applicationDirPath();
    parent.truncate(parent.lastIndexOf('/'));
    QUrl help = QUrl::fromLocalFile(parent + "/docs/html/brantix/brantix.html");
    help.setFragment(topic.isEmpty() ? QString() : topic);
    QCOMPARE(m_openedUrls, QList<QUrl>{topic == "web" ? QUrl(BX::WebSite) : help});
    // The topic is there to land on.
    if (!topic.isEmpty() && topic != "web")
        QVERIFY(AppTest::readFile(BX_SOURCE_DIR "/docs/html/brantix/brantix.html").contains("id=\"" + topic.toLatin1() + "\""));
}

// ---------------------------------------------------------------- project page

void TstBX::projectPanels()
{
    m_bx->show();
    auto* menu = child<QMenu>("networkProjectMenu");
    auto* splitter = child<QSplitter>("designSplitter");
    auto toggle = [&](int entry, bool shown) {
        QAction* a = menu->actions().at(entry);
        a->setChecked(shown);
        m_bx->onNetworkProjectDesignMenuTriggered(a);
    };
    toggle(0, false);
    QVERIFY(child<QWidget>("itemBoxPanelWidget")->isHidden());
    QVERIFY(!splitter->widget(0)->isHidden());
    toggle(1, false);
    QVERIFY(child<QWidget>("overviewPanelWidget")->isHidden());
    QVERIFY2(splitter->widget(0)->isHidden(), "no panel left in the left column");
    toggle(2, false);
    QVERIFY(child<QWidget>("itemEditorPanelWidget")->isHidden());
    QVERIFY(splitter->sizes().at(1) > 0);
    toggle(0, true);
    QVERIFY(!splitter->widget(0)->isHidden());
    QVERIFY(splitter->sizes().at(0) > 0);
}

void TstBX::progressBars_data()
{
    QTest::addColumn<bool>("design");
    QTest::newRow("design") << true;
    QTest::newRow("analysis") << false;
}

void TstBX::progressBars()
{
    QFETCH(bool, design);
    auto* bar = child<QProgressBar>(design ? "designProgressBar" : "analysisProgressBar");
    QVERIFY(bar->isHidden());
    // Shown below 100, hidden at 100.
    for (int percent : {0, 99, 100, 42}) {
        if (design)
            emit m_bx->generateDesignProgress(percent);
        else
            emit m_bx->generateAnalysisProgress(percent);
        QCOMPARE(bar->value(), percent);
        QCOMPARE(bar->isHidden(), percent == 100);
    }
}

void TstBX::overviewFollowsNetwork()
{
    auto* frameType = child<QComboBox>("overviewFrameTypeComboBox");
    auto* speed = child<QComboBox>("overviewSpeedComboBox");
    auto* silence = child<QComboBox>("overviewSilenceComboBox");
    auto* turnAround = child<QComboBox>("overviewTurnAroundComboBox");
    dropNetwork();
    MainDTModel* model = m_bx->designModel();
    const FipCalculator& calculator = model->calculator();
    const QModelIndex network = model->getNetworkIdx();
    QCOMPARE(frameType->currentText(), model->text(network, MainDTModel::ColNetworkFrameType));
    QCOMPARE(speed->currentText(), QString("1 Mbits/s"));

    // A speed chosen in the panel is an undoable edit of the Network node.
    speed->setCurrentIndex(speed->findText("5 Mbits/s"));
    emit speed->textActivated("5 Mbits/s");
    QCOMPARE(model->getNetworkSpeed(), QString("5 Mbits/s"));
    QCOMPARE(silence->count(), calculator.getSilenceTimeList("5 Mbits/s").size());
    QCOMPARE(silence->currentText(), model->text(network, MainDTModel::ColNetworkSilenceTime));
    QCOMPARE(turnAround->count(), calculator.getTurnAroundTimeList("5 Mbits/s").size());

    model->undoStack()->undo();
    QCOMPARE(speed->currentText(), QString("1 Mbits/s"));
    QCOMPARE(silence->count(), calculator.getSilenceTimeList("1 Mbits/s").size());
}

// ---------------------------------------------------------------- closing

void TstBX::closeDuringRuns_data()
{
    QTest::addColumn<bool>("modified");
    QTest::addColumn<bool>("capturing");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QList<QMessageBox::StandardButton>>("answers");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("closed");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<bool>("disconnected");
    QTest::addColumn<bool>("saved");
    const QString analysis = "A network 'Analysis' is in progress. If you continue it will stop.";
    const QString control = "A network 'Control' is in progress. If you continue it will stop.";
    const QString save = "Do you want to save your project before closing ?";
    using B = QMessageBox;
    using Answers = QList<B::StandardButton>;
    QTest::newRow("nothing running, unmodified") << false << false << false << Answers{} << QStringList{}
                                                 << true << false << false << false;
    QTest::newRow("modified, cancel keeps the window") << true << false << false << Answers{B::Cancel}
                                                       << QStringList{save} << false << false << false << false;
    QTest::newRow("modified, discard closes") << true << false << false << Answers{B::Discard} << QStringList{save}
                                              << true << false << false << false;
    QTest::newRow("both, cancel on analysis") << false << true << true << Answers{B::Cancel}
                                              << QStringList{analysis} << false << false << false << false;
    QTest::newRow("both, cancel on control") << false << true << true << Answers{B::Yes, B::Cancel}
                                             << QStringList{analysis, control} << false << true << false << false;
    // Yes to the control question alone: closeQuestionStopsTheRun, on a real run.
    QTest::newRow("modified and capturing, save then yes") << true << true << false << Answers{B::Save, B::Yes}
                                                           << QStringList{save, analysis} << true << true << false << true;
}

void TstBX::closeDuringRuns()
{
    QFETCH(bool, modified);
    QFETCH(bool, capturing);
    QFETCH(bool, connected);
    QFETCH(QList<QMessageBox::StandardButton>, answers);
    QFETCH(QStringList, asked);
    QFETCH(bool, closed);
    QFETCH(bool, stopped);
    QFETCH(bool, disconnected);
    QFETCH(bool, saved);
    m_bx->show();
    QTemporaryDir dir;
    if (modified) {
        // A project that has a file: Save writes it without asking where.
        m_bx->setCurrentFileProject(dir.filePath("run.brxprj"), false);
        dropNetwork();
    }
    const QString title = m_bx->windowTitle();
    m_bx->setCapturing(capturing);
    m_bx->setNetworkConnected(connected);
    QSignalSpy stops(action("actionStopCapture"), &QAction::triggered);
    QSignalSpy disconnects(action("actionDisconnectFromNetwork"), &QAction::triggered);
    BoxAnswerer answerer(answers);
    QCOMPARE(m_bx->close(), closed);
    QCOMPARE(answerer.texts, asked);
    if (modified)
        QCOMPARE(answerer.titles.first(), QString("Saving"));
    QCOMPARE(m_bx->isVisible(), !closed);
    QCOMPARE(stops.count(), stopped ? 1 : 0);
    QCOMPARE(disconnects.count(), disconnected ? 1 : 0);
    QCOMPARE(QFile::exists(dir.filePath("run.brxprj")), saved);
    if (!closed) {
        QCOMPARE(m_bx->windowTitle(), title);
        QCOMPARE(m_bx->designModel()->rowCount(), modified ? 1 : 0);
    }
}

// ---------------------------------------------------------------- start page drop

void TstBX::projectDropArea_data()
{
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("path");
    QTest::newRow("windows project") << QList<QUrl>{QUrl("file:///C:/Projects/line%201.brxprj")} << true
                                     << "/C:/Projects/line 1.brxprj";
    QTest::newRow("unix project") << QList<QUrl>{QUrl::fromLocalFile("/home/x/a.b.brxprj")} << true << "/home/x/a.b.brxprj";
    QTest::newRow("text file") << QList<QUrl>{QUrl::fromLocalFile("/home/x/notes.txt")} << false << "";
    QTest::newRow("upper-case extension") << QList<QUrl>{QUrl::fromLocalFile("/home/x/A.BRXPRJ")} << false << "";
    QTest::newRow("extension inside the name") << QList<QUrl>{QUrl::fromLocalFile("/home/x/a.brxprj.bak")} << false << "";
    QTest::newRow("no url") << QList<QUrl>{} << false << "";
}

void TstBX::projectDropArea()
{
    QFETCH(QList<QUrl>, urls);
    QFETCH(bool, accepted);
    QFETCH(QString, path);
    auto* area = child<DesignDropAreaWidget>("designDropArea");
    QMimeData mime;
    if (!urls.isEmpty())
        mime.setUrls(urls);
    else
        mime.setText("plain");

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(area, &enter);
    QCOMPARE(enter.isAccepted(), accepted);
    if (accepted) {
        QSignalSpy dropped(area, &DesignDropAreaWidget::brxprjFileDropped);
        BoxAnswerer answerer({QMessageBox::Ok}); // the file is not there: the load is refused
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(area, &drop);
        QCOMPARE(dropped.count(), 1);
        QCOMPARE(dropped.first().first().toString(), path);
    }
}

// ---------------------------------------------------------------- project life cycle

void TstBX::buildProject()
{
    MainDTModel* model = m_bx->designModel();
    QVERIFY(model->dropItem("Network", QModelIndex()));
    const QModelIndex network = model->index(0, 0);
    QVERIFY(model->dropItem("Segment", network));
    const QModelIndex segment = model->index(0, 0, network);
    QVERIFY(model->dropItem("Station", segment));
    QVERIFY(model->setData(model->index(0, 0, segment), "Pump", Qt::EditRole));
}

void TstBX::saveThenLoadRestoresTheProject()
{
    buildProject();
    const QStringList before = AppTest::snapshot(*m_bx->designModel());
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

    // A project file dropped on the start page loads as an opened one. A layout change it
    // does not announce first leaves the control tree's proxy with dangling indexes.
    QSignalSpy announced(m_bx->designModel(), &QAbstractItemModel::layoutAboutToBeChanged);
    QSignalSpy changed(m_bx->designModel(), &QAbstractItemModel::layoutChanged);
    m_bx->onBrxprjFileDropped(path);
    QCOMPARE(announced.count(), changed.count());
    QCOMPARE(AppTest::snapshot(*m_bx->designModel()), before);
    QCOMPARE(m_bx->windowTitle(), BX::OrganizationName + " " + BX::ProductName + " - " + path);
    QCOMPARE(designStack()->currentIndex(), 1);
}

// (Cancel keeps the project: editAfterUndoKeepsProjectModified ends with it.)
void TstBX::closeWithoutSavingDiscards()
{
    buildProject();
    BoxAnswerer answerer({ QMessageBox::No });
    int answer = 0;
    m_bx->onActionCloseProject(&answer);
    QCOMPARE(answer, int(QMessageBox::No));
    QCOMPARE(answerer.titles, QStringList { "Saving" });
    QVERIFY(!m_bx->isProjectOpen());
    QVERIFY(!m_bx->isModified());
    QCOMPARE(m_bx->currentFileProject(), m_bx->untitledFileProject());
}

void TstBX::failedLoadLeavesTheFileAlone()
{
    const QString path = m_dir.filePath("broken.brxprj");
    const QByteArray content = "<brxprj version=\"1.0\"><design><maindtitem col0=\"N\" col1=\"Network\">";
    QVERIFY(AppTest::writeFile(path, content));
    BoxAnswerer answerer({ QMessageBox::Ok });
    m_bx->loadFileProject(path);
    QCOMPARE(answerer.texts, QStringList { "Impossible to load from the file.\nLine 1: Premature end of document." });
    QVERIFY(!m_bx->isProjectOpen());
    QCOMPARE(designStack()->currentIndex(), 0);
    QCOMPARE(AppTest::readFile(path), content);
}

void TstBX::refusedSaveKeepsTheOldFileAndTheMark_data()
{
    QTest::addColumn<QString>("target"); // "untitled": the untitled project's name
    QTest::addColumn<QString>("message");
    QTest::newRow("beneath a plain file") << "kept.brxprj/inside.brxprj" << "Impossible to save the project.";
    QTest::newRow("onto the untitled name") << "untitled" << "Incorrect project name. Choose another name.";
}

void TstBX::refusedSaveKeepsTheOldFileAndTheMark()
{
    QFETCH(QString, target);
    QFETCH(QString, message);
    buildProject();
    const QString path = m_dir.filePath("kept.brxprj");
    bool done = false;
    m_bx->saveProjectAs(path, &done);
    QVERIFY(done);
    const QByteArray before = AppTest::readFile(path);

    // An edit, then a save that cannot be made.
    QVERIFY(m_bx->designModel()->dropItem("Segment", m_bx->designModel()->index(0, 0)));
    const QString refused = target == "untitled" ? m_bx->untitledFileProject() : m_dir.filePath(target);
    BoxAnswerer answerer({ QMessageBox::Ok });
    m_bx->saveProjectAs(refused, &done);
    QVERIFY(!done);
    QCOMPARE(answerer.texts, QStringList { message });
    QVERIFY(!QFile::exists(refused));
    QVERIFY(m_bx->isModified());
    QVERIFY(m_bx->windowTitle().endsWith('*'));
    QCOMPARE(m_bx->currentFileProject(), path);
    QCOMPARE(AppTest::readFile(path), before);
}

void TstBX::recentList()
{
    for (int i = 0; i < 11; ++i)
        m_bx->setCurrentFileProject(m_dir.filePath(QString("p%1.brxprj").arg(i)), false);
    m_bx->setCurrentFileProject(m_dir.filePath("p5.brxprj"), false);
    const QList<QAction*> actions = m_bx->recentFileActions();
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

// An example project as a user opens it: picking a station in the tree shows its properties.
void TstBX::selectedStationShowsInItemEditor()
{
    m_bx->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_bx.get()));
    m_bx->loadFileProject(QStringLiteral(BX_BINARY_DIR "/examples/brantix/2sta_worldfip/file_transfer_1M.brxprj"));
    QVERIFY(m_bx->isProjectOpen());
    MainDTModel* model = m_bx->designModel();
    const QModelIndex station = model->getStationIndexes().value(1);

    // The item editor follows the selection: the network's rows, then the station's.
    auto* tree = child<QTreeView>("mainDTView");
    tree->setCurrentIndex(model->getNetworkIdx());
    QCOMPARE(m_bx->settingsModel()->node(), model->getNetworkIdx());
    tree->setCurrentIndex(station);
    QCOMPARE(m_bx->settingsModel()->node(), station);
    QCOMPARE(child<QStackedWidget>("projectRightStackedWidget")->currentWidget()->objectName(), QString("itemEditorPage"));
    auto* editor = child<QTreeView>("settingsDTView");
    QVERIFY(editor->isVisible());
    // The name and the address rows are shown, with the station's values, inside the view.
    for (int column : {int(MainDTModel::ColObject), int(MainDTModel::ColStationAddress)}) {
        const QModelIndex value = m_bx->settingsModel()->valueIndex(column);
        QCOMPARE(value.data().toString(), model->text(station, column));
        QVERIFY(!editor->isRowHidden(value.row(), value.parent()));
        const QRect cell = editor->visualRect(value);
        QVERIFY(!cell.isEmpty());
        QVERIFY(editor->viewport()->rect().contains(cell.topLeft()));
    }

    AppTest::shot(m_bx.get(), "design-station");

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
void TstBX::closeKeepsWindowWhenSaveAsCancelled()
{
    m_bx->show();
    m_bx->onActionNewProject();
    QVERIFY(m_bx->isModified());
    BoxAnswerer answerer({ QMessageBox::Save });
    QVERIFY(!m_bx->close());
    QCOMPARE(answerer.titles, QStringList { "Saving" });
    QCOMPARE(answerer.fileDialogs, 1);
    QVERIFY(m_bx->isVisible());
    QVERIFY(m_bx->isProjectOpen());
    QVERIFY(m_bx->isModified());
}

// Save, Undo, then another edit: the redo branch holding the saved state is gone,
// so the project differs from its file and Close asks.
void TstBX::editAfterUndoKeepsProjectModified()
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
void TstBX::untitledSaveFollowsWorkingDirectory()
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
    BoxAnswerer dialogs;
    bool done = true;
    m_bx->onSaveButtonClicked(&done);
    QCOMPARE(dialogs.fileDialogs, 1);
    QVERIFY(!done);
    QVERIFY(!QFile::exists(first.filePath("untitled.brxprj")));
    QVERIFY(m_bx->isModified());
}

QTEST_MAIN(TstBX)
#include "tst_bx.moc"
