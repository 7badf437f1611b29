#include "app/BX.h"
#include "app/DesignDropAreaWidget.h"
#include "design/MainDTModel.h"
#include "design/SettingsDTModel.h"
#include "platform/desktop/DesktopServices.h"
#include "tests/app/BoxAnswerer.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QUndoStack>
#include <QtTest>

#include <memory>

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
    void metaTypes_data();
    void metaTypes();
    void itemBoxFeedsTheDesignTree();
    void itemBoxKeepsEntriesOnShiftDrag();

    void statusMessage_data();
    void statusMessage();
    void secondStatusMessageRestartsTheDelay();

    void ctrlFlag_data();
    void ctrlFlag();

    void titleFollowsCleanIndex();
    void undoActionsFollowTheStack();

    void leftButtons_data();
    void leftButtons();
    void viewPageActions_data();
    void viewPageActions();
    void viewBarActions_data();
    void viewBarActions();
    void subButtonRows_data();
    void subButtonRows();
    void contactAndAboutActions_data();
    void contactAndAboutActions();

    void helpUrl_data();
    void helpUrl();
    void helpAndWebSiteActions();
    void analysisInfoButtons_data();
    void analysisInfoButtons();

    void projectPanels();
    void progressBars_data();
    void progressBars();
    void overviewFollowsNetwork();
    void selectionLoadsItemEditor();

    void closeCancelKeepsWindow();
    void closeDiscardCloses();
    void closeDuringRuns_data();
    void closeDuringRuns();

    void projectDropArea_data();
    void projectDropArea();

private:
    template<typename T> T* child(const char* name) const
    {
        T* found = m_bx->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qWarning() << "no child" << name;
        return found;
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    void dropNetwork();

    QTemporaryDir m_settingsDir;
    std::unique_ptr<BX> m_bx;
    QList<QUrl> m_openedUrls;
};

void TstBX::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    // No browser is started by the tests: the desktop hands URLs to this object.
    for (const char* scheme : {"file", "http", "https"})
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

void TstBX::init()
{
    m_openedUrls.clear();
    m_bx = std::make_unique<BX>();
    m_bx->designModel()->setMultiInsertPause(0);
}

void TstBX::cleanup()
{
    m_bx.reset();
}

void TstBX::dropNetwork()
{
    QVERIFY(m_bx->designModel()->dropItem("Network", QModelIndex()));
}

// ---------------------------------------------------------------- construction

void TstBX::construction()
{
    QCOMPARE(m_bx->size(), QSize(1347, 882));
    QCOMPARE(m_bx->windowTitle(), QString("Kivotec Brantix"));
    QVERIFY2(!m_bx->styleSheet().isEmpty(), "the style sheet resource is applied");
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QStackedWidget>("networkStackedWidget")->currentIndex(), 1);
    QCOMPARE(child<QStackedWidget>("designStackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QStackedWidget>("optionsStackedWidget")->currentIndex(), 0);
    QCOMPARE(child<QStackedWidget>("analysisStackedWidget")->currentIndex(), 0);
    for (const char* name : {"actionPrint", "actionCut", "actionCopy", "actionPaste", "actionUndo", "actionRedo"})
        QVERIFY2(!action(name)->isEnabled(), name);
    QVERIFY(!m_bx->statusBar()->isSizeGripEnabled());
    QCOMPARE(child<QTimer>("statisticsTimer")->interval(), 500);
    QVERIFY(child<QTimer>("statisticsTimer")->isActive());
    QCOMPARE(child<QTimer>("networkRatioTimer")->interval(), 1000);
    QVERIFY(!child<QTimer>("networkRatioTimer")->isActive());
    QCOMPARE(m_bx->settingsModel()->rowCount(), 42);
    QCOMPARE(m_bx->settingsModel()->columnCount(), 2);

    // The pages of every stacked widget, in navigation order.
    const QList<QPair<const char*, QStringList>> stacks = {
        {"mainStackedWidget", {"designPage", "controlPage", "analysisPage", "optionsPage"}},
        {"networkStackedWidget", {"networkWizardPage", "networkProjectPage", "networkDevicesBindingPage", "networkParametersPage"}},
        {"designStackedWidget", {"newProjectPage", "designTreePage", "controlTreePage"}},
        {"controlStackedWidget", {"noInfoPage", "networkPage", "stationPage", "variablePage", "aperiodicListPage", "messagePage", "mnemonicPage"}},
        {"analysisStackedWidget", {"analysisStatisticsDetailsPage", "analysisVisualFipTracePage", "analysisMacroMicrocyclesPage",
                                   "analysisStationsPresencePage", "analysisMnemonicsPage", "analysisParametersPage",
                                   "analysisDesignCheckPage"}},
        {"optionsStackedWidget", {"optionGeneralPage", "optionDesignPage", "optionControlPage", "optionAnalysisPage",
                                  "optionFeedbackPage", "optionAboutPage"}},
    };
    for (const auto& stack : stacks) {
        auto* widget = child<QStackedWidget>(stack.first);
        QVERIFY2(widget, stack.first);
        QCOMPARE(widget->count(), stack.second.size());
        for (int i = 0; i < stack.second.size(); ++i)
            QCOMPARE(widget->widget(i)->objectName(), stack.second[i]);
    }
    auto* central = child<QStackedWidget>("projectCentralStackedWidget");
    QVERIFY(central->widget(0)->findChild<QTreeView*>("mainDTView"));
    QVERIFY(central->widget(1)->findChild<QTreeView*>("mainCTView"));
    auto* right = child<QStackedWidget>("projectRightStackedWidget");
    QVERIFY(right->widget(0)->findChild<QTreeView*>("settingsDTView"));
    QVERIFY(right->widget(1)->findChild<QStackedWidget*>("controlStackedWidget"));
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
    m_bx.reset();
    QSettings("Kivotec", "Brantix").clear();
    m_bx = std::make_unique<BX>();
    m_bx->show();
    auto* table = m_bx->findChild<QAbstractItemView*>(view);
    QVERIFY(table);
    auto* tree = qobject_cast<QTreeView*>(table);
    auto* tableView = qobject_cast<QTableView*>(table);
    QHeaderView* header = tree ? tree->header() : tableView->horizontalHeader();
    int shown = 0;
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column))
            continue;
        ++shown;
        const QString name = header->model()->headerData(column, Qt::Horizontal).toString();
        QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column), qPrintable(name));
    }
    QVERIFY(shown > 0);
}

void TstBX::metaTypes_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"QVector<int>", "QList<quint16>", "QList<quint8>", "LED_RGB_COLOR", "QList<TARVEXCONF>"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TstBX::metaTypes()
{
    QFETCH(QString, name);
    QVERIFY(QMetaType::type(name.toLatin1()) != QMetaType::UnknownType);
}

void TstBX::itemBoxFeedsTheDesignTree()
{
    QStandardItemModel* box = m_bx->itemBoxModel();
    const QStringList expected = {"Network", "Segment", "Station", "Arbiter", "Scan Table", "Instruction", "Variable",
                                  "Aperiodic List", "Message", "Data Rendering", "Mnemonic"};
    QCOMPARE(box->rowCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(box->item(i)->text(), expected[i]);
        QVERIFY2(!box->item(i)->icon().isNull(), qPrintable(expected[i]));
        QVERIFY(box->item(i)->flags() & Qt::ItemIsDragEnabled);
    }
    // A drag of "Network" onto the empty tree is what a user does first.
    std::unique_ptr<QMimeData> mime(box->mimeData({box->index(0, 0)}));
    QVERIFY(mime->hasFormat(MainDTModel::ItemModelMimeType));
    QVERIFY(m_bx->designModel()->dropMimeData(mime.get(), Qt::CopyAction, -1, 0, QModelIndex()));
    QCOMPARE(m_bx->designModel()->rowCount(), 1);
    QVERIFY(m_bx->windowTitle().endsWith("*"));
}

// A view drags with the actions its model supports and removes the source rows
// after a move: a Shift drag must find no move to make.
void TstBX::itemBoxKeepsEntriesOnShiftDrag()
{
    QStandardItemModel* box = m_bx->itemBoxModel();
    QVERIFY(!(box->supportedDragActions() & Qt::MoveAction));
    QVERIFY(box->supportedDragActions() & Qt::CopyAction);
}

// ---------------------------------------------------------------- status bar

void TstBX::statusMessage_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("hasIcon");
    QTest::newRow("information") << 0 << true;
    QTest::newRow("warning") << 1 << true;
    QTest::newRow("error") << 2 << true;
    QTest::newRow("unknown level") << 3 << false;
    QTest::newRow("last level") << 255 << false;
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
    const QPixmap pixmap = icon->pixmap(Qt::ReturnByValue);
    QCOMPARE(!pixmap.isNull(), hasIcon);
    if (hasIcon)
        QCOMPARE(pixmap.size(), QSize(16, 16));
    QVERIFY(timer->isActive());

    m_bx->onStatusBarTimerTimeout();
    QVERIFY(!message->isVisible());
    QVERIFY(!icon->isVisible());
    QVERIFY(!timer->isActive());
}

void TstBX::secondStatusMessageRestartsTheDelay()
{
    auto* message = child<QLabel>("statusMessageLabel");
    auto* timer = child<QTimer>("statusBarTimer");
    m_bx->show();
    m_bx->updateStatusBar(0, "first");
    QCOMPARE(timer->interval(), 10000);
    QTest::qWait(300);
    const int leftAfterWait = timer->remainingTime();
    QVERIFY2(leftAfterWait <= 9800, qPrintable(QString::number(leftAfterWait)));

    m_bx->updateStatusBar(1, "second");
    QCOMPARE(message->text(), QString("second"));
    QVERIFY(message->isVisible());
    QVERIFY2(timer->remainingTime() > leftAfterWait + 200, "the delay starts again from the second message");
    QVERIFY(timer->remainingTime() <= 10000);
}

// ---------------------------------------------------------------- Ctrl

void TstBX::ctrlFlag_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("deactivate");
    for (const char* target : {"", "mainDTView", "settingsDTView", "itemBoxView"}) {
        const QString name = *target ? QString::fromLatin1(target) : QString("window");
        QTest::newRow(qPrintable(name + ", released")) << QString::fromLatin1(target) << false;
        QTest::newRow(qPrintable(name + ", window deactivated")) << QString::fromLatin1(target) << true;
    }
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

// ---------------------------------------------------------------- title and undo

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
    QVERIFY(undo->text().size() > 5);
    QVERIFY(!redo->isEnabled());
    QCOMPARE(redo->text(), QString("Redo"));

    undo->trigger();
    QCOMPARE(m_bx->designModel()->rowCount(), 0);
    QVERIFY(!undo->isEnabled());
    QCOMPARE(undo->text(), QString("Undo"));
    QVERIFY(redo->isEnabled());
    QVERIFY(redo->text().startsWith("Redo "));

    redo->trigger();
    QCOMPARE(m_bx->designModel()->rowCount(), 1);
    QVERIFY(!redo->isEnabled());
    auto* bar = child<QToolBar>("designToolBar");
    QCOMPARE(bar->widgetForAction(undo)->toolTip(), undo->text());
}

// ---------------------------------------------------------------- navigation

void TstBX::leftButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("viewAction");
    QTest::addColumn<bool>("designBar");
    QTest::addColumn<bool>("captureBar");
    QTest::newRow("Ostrak") << "ostrakButton" << 2 << "actionShowOstrakPage" << false << true;
    QTest::newRow("Options") << "optionsButton" << 3 << "actionShowOptionsPage" << false << false;
    QTest::newRow("Plandor") << "plandorButton" << 0 << "actionShowPlandorPage" << true << false;
}

void TstBX::leftButtons()
{
    QFETCH(QString, button);
    QFETCH(int, page);
    QFETCH(QString, viewAction);
    QFETCH(bool, designBar);
    QFETCH(bool, captureBar);
    m_bx->show();
    // Start away from the target so the click really changes the page.
    child<QToolButton>(page == 3 ? "ostrakButton" : "optionsButton")->click();
    m_bx->findChild<QToolButton*>(button)->click();
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), page);
    QVERIFY(m_bx->findChild<QAction*>(viewAction)->isChecked());
    int checked = 0;
    for (const char* name : {"plandorButton", "ostrakButton", "optionsButton"})
        checked += child<QToolButton>(name)->isChecked() ? 1 : 0;
    QCOMPARE(checked, 1);
    QCOMPARE(child<QToolBar>("designToolBar")->isVisible(), designBar);
    QCOMPARE(child<QToolBar>("captureToolBar")->isVisible(), captureBar);
}

void TstBX::viewPageActions_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::newRow("Alt+2 Ostrak") << "actionShowOstrakPage" << "ostrakButton" << 2;
    QTest::newRow("Alt+3 Options") << "actionShowOptionsPage" << "optionsButton" << 3;
    QTest::newRow("Alt+1 Plandor") << "actionShowPlandorPage" << "plandorButton" << 0;
}

void TstBX::viewPageActions()
{
    QFETCH(QString, actionName);
    QFETCH(QString, button);
    QFETCH(int, page);
    m_bx->show();
    action(page == 2 ? "actionShowOptionsPage" : "actionShowOstrakPage")->trigger();
    QAction* pageAction = m_bx->findChild<QAction*>(actionName);
    pageAction->trigger();
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), page);
    QVERIFY(m_bx->findChild<QToolButton*>(button)->isChecked());
    QVERIFY(pageAction->isChecked());
    int checked = 0;
    for (const char* name : {"actionShowPlandorPage", "actionShowOstrakPage", "actionShowOptionsPage"})
        checked += action(name)->isChecked() ? 1 : 0;
    QCOMPARE(checked, 1);
}

void TstBX::viewBarActions_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("bar");
    QTest::addColumn<QString>("shortcut");
    QTest::newRow("Side Bar") << "actionShowSideBar" << "leftToolBar" << "Alt+L";
    QTest::newRow("Info Bar") << "actionShowInfoBar" << "topToolBar" << "Alt+T";
    QTest::newRow("Status Bar") << "actionShowStatusBar" << "statusBar" << "Alt+B";
}

void TstBX::viewBarActions()
{
    QFETCH(QString, actionName);
    QFETCH(QString, bar);
    QFETCH(QString, shortcut);
    m_bx->show();
    QAction* toggle = m_bx->findChild<QAction*>(actionName);
    QWidget* widget = m_bx->findChild<QWidget*>(bar);
    QVERIFY(widget);
    QCOMPARE(toggle->shortcut(), QKeySequence(shortcut));
    QVERIFY(toggle->isChecked());
    QVERIFY(widget->isVisible());
    toggle->trigger();
    QVERIFY(!widget->isVisible());
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), 0);
    toggle->trigger();
    QVERIFY(widget->isVisible());
}

void TstBX::subButtonRows_data()
{
    QTest::addColumn<QString>("stack");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<int>("initial");
    QTest::newRow("network") << "networkStackedWidget"
                             << QStringList{"networkWizardButton", "networkProjectButton", "networkDevicesBindingButton",
                                            "networkParametersButton"}
                             << 1;
    QTest::newRow("analysis") << "analysisStackedWidget"
                              << QStringList{"analysisStatisticsButton", "analysisVisualFipTraceButton", "analysisMacroMicroButton",
                                             "analysisStationsPresenceButton", "analysisMnemonicsButton", "analysisParametersButton",
                                             "analysisDesignCheckButton"}
                              << 0;
    QTest::newRow("options") << "optionsStackedWidget"
                             << QStringList{"optionGeneralButton", "optionDesignButton", "optionControlButton",
                                            "optionAnalysisButton", "optionContactUsButton", "optionAboutButton"}
                             << 0;
}

void TstBX::subButtonRows()
{
    QFETCH(QString, stack);
    QFETCH(QStringList, buttons);
    QFETCH(int, initial);
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
    QCOMPARE(widget->currentIndex(), initial);
    QCOMPARE(checkedIndexes(), QList<int>{initial});

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

void TstBX::contactAndAboutActions_data()
{
    QTest::addColumn<QString>("actionName");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::newRow("Contact us") << "actionContactUs" << "optionContactUsButton" << 4;
    QTest::newRow("About Brantix") << "actionAboutBrantix" << "optionAboutButton" << 5;
}

void TstBX::contactAndAboutActions()
{
    QFETCH(QString, actionName);
    QFETCH(QString, button);
    QFETCH(int, page);
    m_bx->findChild<QAction*>(actionName)->trigger();
    QCOMPARE(child<QStackedWidget>("mainStackedWidget")->currentIndex(), 3);
    QVERIFY(child<QToolButton>("optionsButton")->isChecked());
    QVERIFY(action("actionShowOptionsPage")->isChecked());
    QCOMPARE(child<QStackedWidget>("optionsStackedWidget")->currentIndex(), page);
    QVERIFY(m_bx->findChild<QPushButton*>(button)->isChecked());
    QVERIFY(!child<QPushButton>("optionGeneralButton")->isChecked());
    if (page == 5) {
        QCOMPARE(child<QLabel>("aboutProductLabel")->text(), QString("Kivotec Brantix"));
        QVERIFY(child<QLabel>("aboutVersionLabel")->text().contains("v1.8.0"));
        QVERIFY(child<QLabel>("aboutWebSiteLabel")->text().contains(BX::WebSite));
        QVERIFY(!child<QLabel>("aboutAddressLabel")->text().isEmpty());
        QVERIFY(!child<QLabel>("aboutTelephoneLabel")->text().isEmpty());
    }
}

// ---------------------------------------------------------------- help and web site

void TstBX::helpUrl_data()
{
    QTest::addColumn<QString>("applicationDir");
    QTest::addColumn<QString>("expected");
    QTest::newRow("unix") << "/opt/kivotec/brantix/bin" << "file:///opt/kivotec/brantix/docs/html/brantix/brantix.html";
    QTest::newRow("windows") << "C:/Program Files/Kivotec/Brantix/bin"
                             << "file:///C:/Program Files/Kivotec/Brantix/docs/html/brantix/brantix.html";
    QTest::newRow("directly under the root") << "/bin" << "file:///docs/html/brantix/brantix.html";
}

void TstBX::helpUrl()
{
    QFETCH(QString, applicationDir);
    QFETCH(QString, expected);
    QCOMPARE(BX::helpUrl(applicationDir), QUrl(expected));
}

void TstBX::helpAndWebSiteActions()
{
    QCOMPARE(action("actionHelp")->shortcut(), QKeySequence("F1"));
    action("actionHelp")->trigger();
    QString parent = QCoreApplication::applicationDirPath();
    parent.truncate(parent.lastIndexOf('/'));
    const QUrl help = QUrl::fromLocalFile(parent + "/docs/html/brantix/brantix.html");
    QCOMPARE(DesktopServices::lastOpenedUrl(), help);
    QCOMPARE(m_openedUrls, QList<QUrl>{help});

    child<QToolButton>("infoKivButton")->click();
    QCOMPARE(DesktopServices::lastOpenedUrl(), QUrl(BX::WebSite));
    QCOMPARE(m_openedUrls.size(), 2);
}

void TstBX::analysisInfoButtons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("topic");
    QTest::newRow("capture card") << "captureCardInfoButton" << "analysis-capture-card";
    QTest::newRow("padding") << "paddingInfoButton" << "analysis-padding";
    QTest::newRow("macrocycle") << "macroInfoButton" << "analysis-macrocycle";
    QTest::newRow("backup") << "backupInfoButton" << "analysis-backup";
    QTest::newRow("depth") << "analysisMiscInfoButton" << "analysis-depth";
    QTest::newRow("conversion") << "conversionInfoButton" << "analysis-conversion";
}

void TstBX::analysisInfoButtons()
{
    QFETCH(QString, button);
    QFETCH(QString, topic);
    auto* info = m_bx->findChild<QToolButton*>(button);
    QVERIFY(info);
    QVERIFY(child<QWidget>("analysisParametersPage")->isAncestorOf(info));
    info->click();
    QCOMPARE(m_openedUrls.size(), 1);
    QCOMPARE(m_openedUrls.first().fragment(), topic);
    QVERIFY(m_openedUrls.first().path().endsWith("/docs/html/brantix/brantix.html"));
    // The topic is there to land on.
    QFile help(BX_SOURCE_DIR "/docs/html/brantix/brantix.html");
    QVERIFY(help.open(QIODevice::ReadOnly));
    QVERIFY(help.readAll().contains("id=\"" + topic.toLatin1() + "\""));
}

// ---------------------------------------------------------------- project page

void TstBX::projectPanels()
{
    m_bx->show();
    auto* menu = child<QMenu>("networkProjectMenu");
    QStringList texts;
    for (QAction* entry : menu->actions())
        texts << entry->text();
    QCOMPARE(texts, (QStringList{"Item Box", "Overview Panel", "Item Editor/Controller"}));
    auto* splitter = child<QSplitter>("designSplitter");
    QCOMPARE(splitter->count(), 3);

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
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("shown");
    for (bool design : {true, false}) {
        const QString bar = design ? "design " : "analysis ";
        QTest::newRow(qPrintable(bar + "0")) << design << 0 << true;
        QTest::newRow(qPrintable(bar + "99")) << design << 99 << true;
        QTest::newRow(qPrintable(bar + "100")) << design << 100 << false;
    }
}

void TstBX::progressBars()
{
    QFETCH(bool, design);
    QFETCH(int, percent);
    QFETCH(bool, shown);
    auto* bar = child<QProgressBar>(design ? "designProgressBar" : "analysisProgressBar");
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->maximum(), 100);
    if (design)
        emit m_bx->generateDesignProgress(percent);
    else
        emit m_bx->generateAnalysisProgress(percent);
    QCOMPARE(bar->value(), percent);
    QCOMPARE(!bar->isHidden(), shown);
    // Reaching 100 always hides it again.
    if (design)
        m_bx->onDesignProgressBar(100);
    else
        m_bx->onAnalysisProgressBar(100);
    QVERIFY(bar->isHidden());
}

void TstBX::overviewFollowsNetwork()
{
    auto* frameType = child<QComboBox>("overviewFrameTypeComboBox");
    auto* speed = child<QComboBox>("overviewSpeedComboBox");
    auto* silence = child<QComboBox>("overviewSilenceComboBox");
    auto* turnAround = child<QComboBox>("overviewTurnAroundComboBox");
    QCOMPARE(speed->count(), 0);
    dropNetwork();
    MainDTModel* model = m_bx->designModel();
    const FipCalculator& calculator = model->calculator();
    const QModelIndex network = model->getNetworkIdx();
    QCOMPARE(frameType->currentText(), model->text(network, MainDTModel::ColNetworkFrameType));
    QCOMPARE(speed->currentText(), QString("1 Mbits/s"));
    QCOMPARE(speed->count(), 4);
    QCOMPARE(silence->count(), calculator.getSilenceTimeList("1 Mbits/s").size());
    QCOMPARE(silence->currentText(), model->text(network, MainDTModel::ColNetworkSilenceTime));

    // A speed chosen in the panel is an undoable edit of the Network node.
    const int index = speed->findText("5 Mbits/s");
    QVERIFY(index >= 0);
    speed->setCurrentIndex(index);
    emit speed->textActivated("5 Mbits/s");
    QCOMPARE(model->getNetworkSpeed(), QString("5 Mbits/s"));
    QCOMPARE(silence->count(), calculator.getSilenceTimeList("5 Mbits/s").size());
    QCOMPARE(silence->currentText(), model->text(network, MainDTModel::ColNetworkSilenceTime));
    QCOMPARE(turnAround->count(), calculator.getTurnAroundTimeList("5 Mbits/s").size());

    model->undoStack()->undo();
    QCOMPARE(model->getNetworkSpeed(), QString("1 Mbits/s"));
    QCOMPARE(speed->currentText(), QString("1 Mbits/s"));
    QCOMPARE(silence->count(), calculator.getSilenceTimeList("1 Mbits/s").size());
}

void TstBX::selectionLoadsItemEditor()
{
    dropNetwork();
    MainDTModel* model = m_bx->designModel();
    const QModelIndex network = model->getNetworkIdx();
    QVERIFY(model->dropItem("Segment", network));
    auto* view = child<QTreeView>("mainDTView");
    // The model focuses each new node; the item editor shows the one selected.
    view->setCurrentIndex(network);
    QCOMPARE(m_bx->getMainDTSelectedIndex(), network);
    QCOMPARE(m_bx->settingsModel()->node(), network);
    QVERIFY(m_bx->settingsModel()->shownColumns().contains(MainDTModel::ColNetworkSpeed));
    const QModelIndex segment = model->index(0, 0, network);
    view->setCurrentIndex(segment);
    QCOMPARE(m_bx->settingsModel()->node(), segment);
    QVERIFY(!m_bx->settingsModel()->shownColumns().contains(MainDTModel::ColNetworkSpeed));
}

// ---------------------------------------------------------------- closing

void TstBX::closeCancelKeepsWindow()
{
    m_bx->show();
    dropNetwork();
    const QString title = m_bx->windowTitle();
    QSignalSpy saves(action("actionSave"), &QAction::triggered);
    BoxAnswerer answerer({QMessageBox::Cancel});
    QVERIFY(!m_bx->close());
    QCOMPARE(answerer.titles, QStringList{"Saving"});
    QCOMPARE(answerer.texts, QStringList{"Do you want to save your project before closing ?"});
    QVERIFY(m_bx->isVisible());
    QCOMPARE(m_bx->windowTitle(), title);
    QCOMPARE(m_bx->designModel()->rowCount(), 1);
    QCOMPARE(saves.count(), 0);
}

void TstBX::closeDiscardCloses()
{
    m_bx->show();
    dropNetwork();
    QSignalSpy saves(action("actionSave"), &QAction::triggered);
    BoxAnswerer answerer({QMessageBox::Discard});
    QVERIFY(m_bx->close());
    QCOMPARE(answerer.texts.size(), 1);
    QVERIFY(!m_bx->isVisible());
    QCOMPARE(saves.count(), 0);
}

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
    QTest::newRow("nothing running, unmodified") << false << false << false << QList<B::StandardButton>{} << QStringList{}
                                                 << true << false << false << false;
    QTest::newRow("both, yes and yes") << false << true << true << QList<B::StandardButton>{B::Yes, B::Yes}
                                       << QStringList{analysis, control} << true << true << true << false;
    QTest::newRow("both, cancel on analysis") << false << true << true << QList<B::StandardButton>{B::Cancel}
                                              << QStringList{analysis} << false << false << false << false;
    QTest::newRow("both, cancel on control") << false << true << true << QList<B::StandardButton>{B::Yes, B::Cancel}
                                             << QStringList{analysis, control} << false << true << false << false;
    QTest::newRow("connected only") << false << false << true << QList<B::StandardButton>{B::Yes}
                                    << QStringList{control} << true << false << true << false;
    QTest::newRow("modified and capturing, save then yes") << true << true << false
                                                           << QList<B::StandardButton>{B::Save, B::Yes}
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
    m_bx->setCapturing(capturing);
    m_bx->setNetworkConnected(connected);
    QSignalSpy stops(action("actionStopCapture"), &QAction::triggered);
    QSignalSpy disconnects(action("actionDisconnectFromNetwork"), &QAction::triggered);
    QSignalSpy saves(action("actionSave"), &QAction::triggered);
    BoxAnswerer answerer(answers);
    QCOMPARE(m_bx->close(), closed);
    QCOMPARE(answerer.texts, asked);
    QCOMPARE(m_bx->isVisible(), !closed);
    QCOMPARE(stops.count(), stopped ? 1 : 0);
    QCOMPARE(disconnects.count(), disconnected ? 1 : 0);
    QCOMPARE(saves.count(), saved ? 1 : 0);
    QCOMPARE(QFile::exists(dir.filePath("run.brxprj")), saved);
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
    QVERIFY(area);
    QMimeData mime;
    if (!urls.isEmpty())
        mime.setUrls(urls);
    else
        mime.setText("plain");
    QCOMPARE(DesignDropAreaWidget::acceptsProjectDrop(&mime), accepted);

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

QTEST_MAIN(TstBX)
#include "tst_bx.moc"
