#include "BX.h"
#include "ui_BX.h"

#include "design/MainDTContextMenu.h"
#include "design/MainDTDelegate.h"
#include "design/ItemBoxModel.h"
#include "design/MainDTModel.h"
#include "design/RecentProjects.h"
#include "design/ResourceIconDialog.h"
#include "design/SettingsDTDelegate.h"
#include "design/SettingsDTModel.h"
#include "platform/desktop/DesktopServices.h"
#include "shell/SettingsFileCheck.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLockFile>
#include <QMenu>
#include <QMessageBox>
#include <QMovie>
#include <QSettings>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>
#include <QWebView>

const QString BX::ProductName = QStringLiteral("Brantix");
const QString BX::OrganizationName = QStringLiteral("Kivotec");
const QString BX::Version = QStringLiteral("v1.8.0");
const QString BX::WebSite = QStringLiteral("https://www.kivotec.example");
const QString BX::PostalAddress = QStringLiteral("Kivotec, 12 rue des Ateliers, 31000 Toulouse, France");
const QString BX::Telephone = QStringLiteral("+33 (0)5 00 00 00 00");
const QString BX::StyleSheetResource = QStringLiteral(":/css/style.qss");
const QString BX::HelpDocument = QStringLiteral("/docs/html/brantix/brantix.html");

namespace {

const char* const ImagesPrefix = ":/images/images/";

QString image(const char* name)
{
    return QLatin1String(ImagesPrefix) + QLatin1String(name);
}

/// The item box: kind name and icon, in drag-source order.
const struct {
    const char* text;
    const char* icon;
} ItemBoxEntries[] = {
    {"Network", "icon_network_48x48.png"},
    {"Segment", "icon_segment_48x48.png"},
    {"Station", "icon_station_48x48.png"},
    {"Arbiter", "icon_arbiter_48x48.png"},
    {"Scan Table", "icon_scan_table_48x48.png"},
    {"Instruction", "icon_instruction_48x48.png"},
    {"Variable", "icon_variable_out_48x48.png"},
    {"Aperiodic List", "icon_aperiodic_list_48x48.png"},
    {"Message", "icon_message_out_48x48.png"},
    {"Data Rendering", "icon_data_rendering_48x48.png"},
    {"Mnemonic", "icon_mnemo_48x48.png"},
};

const char* const StatusIcons[] = {
    "icon_info_blue_tr_48x48.png",
    "icon_warning_yellow_tr_48x48.png",
    "icon_error_red_tr_48x48.png",
};

// Panels of the project page, with the entry that shows or hides each one.
const struct {
    const char* text;
    const char* objectName;
} ProjectPanels[] = {
    {"Item Box", "itemBoxPanelWidget"},
    {"Overview Panel", "overviewPanelWidget"},
    {"Item Editor/Controller", "itemEditorPanelWidget"},
};

const QStringList OverviewFrameTypes = {QStringLiteral("FIP"), QStringLiteral("WorldFIP"), QStringLiteral("SlowFIP")};

QStringList comboItems(const QComboBox* combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Default widths of the project page's side panels; the tree takes the rest.
constexpr int LeftPanelWidth = 240;
constexpr int RightPanelWidth = 380;

} // namespace

BX::BX(QWidget* parent)
    : QMainWindow(parent)
    , ui(new Ui::BX)
{
    // Before anything reads the store: Qt aborts on some damaged values once their group is read.
    const SettingsFileCheck::Result settingsCheck =
        SettingsFileCheck::repair(QSettings(OrganizationName, ProductName).fileName());
    ui->setupUi(this);
    qDebug().noquote() << "[BRANTIX] Brantix app is opening under Windows session";
    loadStyleSheet();

    // Undo and Redo follow the undo stack; the clipboard and print actions have no use yet.
    for (QAction* action : {ui->actionPrint, ui->actionCut, ui->actionCopy, ui->actionPaste, ui->actionUndo, ui->actionRedo})
        action->setEnabled(false);

    ui->optionsStackedWidget->setCurrentIndex(0);
    ui->networkStackedWidget->setCurrentIndex(1);
    ui->projectCentralStackedWidget->setCurrentIndex(0);
    ui->projectRightStackedWidget->setCurrentIndex(0);
    ui->designStackedWidget->setCurrentIndex(0);
    ui->analysisStackedWidget->setCurrentIndex(0);
    for (QProgressBar* bar : {ui->designProgressBar, ui->analysisProgressBar}) {
        bar->setRange(0, 100);
        bar->hide();
    }
    setWindowIcon(QIcon(image("icon_brantix.png")));
    setupStatusBar();
    setupToolBars();
    setupMenus();
    setupItemBox();
    setupAboutPage();
    // The docks hold nothing until a module puts its views there.
    ui->leftDockWidget->hide();
    ui->bottomDockWidget->hide();

    if (ui->savePath->text().isEmpty())
        ui->savePath->setText(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                              + "/" + OrganizationName + "/" + ProductName);

    setupModels();
    setupControl();
    setupTimers();
    registerMetaTypes();
    menuBar()->setNativeMenuBar(false);

    makeConnections();
    setupProjectFile();
    setupCapture();
    setupAnalysis();
    setupPcapng();
    setupStationExport();
    setupDevices();
    setProjectActionsEnabled(false);
    updateBuildXMLButton();
    refreshOverviewPanel();
    rebalanceDesignSplitter();
    setupOptionPages();
    readSettings();
    reportSettingsCheck(settingsCheck);
    updateCentralView();

    if (!m_styleSheet.isEmpty())
        setStyleSheet(m_styleSheet);
    fitDefaultColumns();
}

BX::~BX()
{
    teardownDevices();
    teardownCapture();
    teardownAnalysis();
    if (m_captureLockFile) {
        if (m_captureLockFile->isLocked())
            m_captureLockFile->unlock();
        delete m_captureLockFile;
        m_captureLockFile = nullptr;
    }
    // The model clears its undo stack as it goes; nothing may reach the widgets by then.
    disconnect(m_mainDTModel->undoStack(), nullptr, this, nullptr);
    disconnect(m_mainDTModel, nullptr, this, nullptr);
    disconnect(m_settingsDTModel, nullptr, this, nullptr);
    teardownControl();
    qApp->removeEventFilter(this);
    delete ui;
}

// ---------------------------------------------------------------- construction

void BX::loadStyleSheet()
{
    QFile file(StyleSheetResource);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, tr("Error during stylesheet loading"),
                             tr("Unable to open default stylesheet, please restart the software so that it takes effect."),
                             QMessageBox::Ok);
        return;
    }
    m_styleSheet = QString::fromUtf8(file.readAll());
}

void BX::setupToolBars()
{
    // Left: the three modules and the maker's web site.
    m_leftToolBar = new QToolBar(tr("Side Bar"), this);
    m_leftToolBar->setObjectName("leftToolBar");
    m_leftToolBar->setMovable(false);
    m_leftToolBar->setFloatable(false);
    m_leftToolBar->setOrientation(Qt::Vertical);
    m_leftToolBar->setIconSize(QSize(48, 48));
    m_leftToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    auto makeModuleButton = [this](const char* name, const QString& text, const QString& icon) {
        auto* button = new QToolButton(m_leftToolBar);
        button->setObjectName(name);
        button->setText(text);
        button->setIcon(QIcon(icon));
        button->setCheckable(true);
        button->setAutoExclusive(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setIconSize(QSize(48, 48));
        button->setMinimumWidth(72);
        m_leftToolBar->addWidget(button);
        return button;
    };
    m_plandorButton = makeModuleButton("plandorButton", tr("Plandor"), image("icon_network_240x240.png"));
    m_ostrakButton = makeModuleButton("ostrakButton", tr("Ostrak"), image("icon_chart_2_104x104.png"));
    m_optionsButton = makeModuleButton("optionsButton", tr("Options"), image("icon_gear2_96x96.png"));
    m_plandorButton->setChecked(true);
    m_leftToolBar->addSeparator();
    m_infoKivButton = new QToolButton(m_leftToolBar);
    m_infoKivButton->setObjectName("infoKivButton");
    m_infoKivButton->setText(OrganizationName);
    m_infoKivButton->setToolTip(WebSite);
    m_infoKivButton->setIcon(QIcon(image("icon_brantix.png")));
    m_infoKivButton->setIconSize(QSize(32, 32));
    m_infoKivButton->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_leftToolBar->addWidget(m_infoKivButton);
    addToolBar(Qt::LeftToolBarArea, m_leftToolBar);

    // Top: the application's name and version.
    m_topToolBar = new QToolBar(tr("Info Bar"), this);
    m_topToolBar->setObjectName("topToolBar");
    m_topToolBar->setMovable(false);
    m_topToolBar->setFloatable(false);
    auto* iconLabel = new QLabel(m_topToolBar);
    iconLabel->setObjectName("topIconLabel");
    iconLabel->setPixmap(QIcon(image("icon_brantix.png")).pixmap(32, 32));
    auto* nameLabel = new QLabel(ProductName, m_topToolBar);
    nameLabel->setObjectName("topNameLabel");
    nameLabel->setStyleSheet("font-weight: bold; font-size: 16px; padding-left: 6px;");
    auto* versionLabel = new QLabel(Version, m_topToolBar);
    versionLabel->setObjectName("topVersionLabel");
    versionLabel->setStyleSheet("padding-left: 6px; padding-right: 12px;");
    m_topToolBar->addWidget(iconLabel);
    m_topToolBar->addWidget(nameLabel);
    m_topToolBar->addWidget(versionLabel);
    addToolBar(Qt::TopToolBarArea, m_topToolBar);

    // Information: channels and arbitrator of the chosen station during a network run.
    m_infoToolBar = new QToolBar(tr("Information"), this);
    m_infoToolBar->setObjectName("infoToolBar");
    auto* channel1 = new QLabel(tr("Channel 1"), m_infoToolBar);
    channel1->setObjectName("channel1StatusLabel");
    auto* channel2 = new QLabel(tr("Channel 2"), m_infoToolBar);
    channel2->setObjectName("channel2StatusLabel");
    auto* stations = new QComboBox(m_infoToolBar);
    stations->setObjectName("stationComboBox");
    stations->setMinimumWidth(140);
    auto* baIcon = new QLabel(m_infoToolBar);
    baIcon->setObjectName("baIconLabel");
    baIcon->setPixmap(QIcon(image("icon_arbiter_48x48.png")).pixmap(16, 16));
    auto* baStatus = new QLabel(tr("Stopped"), m_infoToolBar);
    baStatus->setObjectName("baStatusLabel");
    m_infoToolBar->addWidget(channel1);
    m_infoToolBar->addSeparator();
    m_infoToolBar->addWidget(channel2);
    m_infoToolBar->addSeparator();
    m_infoToolBar->addWidget(stations);
    m_infoToolBar->addWidget(baIcon);
    m_infoToolBar->addWidget(baStatus);
    m_infoToolBar->addAction(ui->actionStartBa);
    m_infoToolBar->addAction(ui->actionStopBa);
    addToolBar(Qt::TopToolBarArea, m_infoToolBar);

    // Module bars: design commands, capture commands.
    m_designToolBar = new QToolBar(tr("Plandor"), this);
    m_designToolBar->setObjectName("designToolBar");
    m_designToolBar->addAction(ui->actionNewProject);
    m_designToolBar->addAction(ui->actionOpenProject);
    m_designToolBar->addAction(ui->actionSave);
    m_designToolBar->addSeparator();
    m_designToolBar->addAction(ui->actionUndo);
    m_designToolBar->addAction(ui->actionRedo);
    m_designToolBar->addSeparator();
    m_designToolBar->addAction(ui->actionBuildStationsConf);
    m_designToolBar->addAction(ui->actionConnectToNetwork);
    m_designToolBar->addAction(ui->actionDisconnectFromNetwork);
    m_networkStatusLabel = new QLabel(tr("Disconnected"), m_designToolBar);
    m_networkStatusLabel->setObjectName("networkStatusLabel");
    m_networkStatusLabel->setStyleSheet("padding-left: 6px;");
    m_designToolBar->addWidget(m_networkStatusLabel);
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_designToolBar);

    m_captureToolBar = new QToolBar(tr("Ostrak"), this);
    m_captureToolBar->setObjectName("captureToolBar");
    m_captureToolBar->addAction(ui->actionStartCapture);
    m_captureToolBar->addAction(ui->actionStopCapture);
    m_captureToolBar->addSeparator();
    m_captureToolBar->addAction(ui->actionOpenCapture);
    addToolBar(Qt::TopToolBarArea, m_captureToolBar);
}

void BX::setupStatusBar()
{
    statusBar()->setSizeGripEnabled(false);
    m_statusIconLabel = new QLabel(statusBar());
    m_statusIconLabel->setObjectName("statusIconLabel");
    m_statusIconLabel->setFixedSize(16, 16);
    m_statusMessageLabel = new QLabel(statusBar());
    m_statusMessageLabel->setObjectName("statusMessageLabel");
    m_statusMessageLabel->setTextFormat(Qt::RichText);
    m_statusMessageLabel->setStyleSheet("color: white; font: normal 11px \"Tahoma\";");
    statusBar()->addWidget(m_statusIconLabel);
    statusBar()->addWidget(m_statusMessageLabel, 1);
    m_statusIconLabel->hide();
    m_statusMessageLabel->hide();
    m_captureFiguresLabel = new QLabel(statusBar());
    m_captureFiguresLabel->setObjectName("captureFiguresLabel");
    m_captureFiguresLabel->setStyleSheet(m_statusMessageLabel->styleSheet());
    statusBar()->addPermanentWidget(m_captureFiguresLabel);
    m_captureFiguresLabel->hide();
}

void BX::setupMenus()
{
    // The three page actions choose one page.
    auto* pages = new QActionGroup(this);
    pages->setExclusive(true);
    for (QAction* action : {ui->actionShowPlandorPage, ui->actionShowOstrakPage, ui->actionShowOptionsPage})
        pages->addAction(action);
    ui->actionShowPlandorPage->setChecked(true);

    ui->actionUndo->setIcon(QIcon(image("icon_undo_48x48.png")));
    ui->actionRedo->setIcon(QIcon(image("icon_redo_48x48.png")));

    m_networkProjectMenu = new QMenu(this);
    m_networkProjectMenu->setObjectName("networkProjectMenu");
    for (const auto& panel : ProjectPanels) {
        QAction* action = m_networkProjectMenu->addAction(tr(panel.text));
        action->setCheckable(true);
        action->setChecked(true);
        action->setData(QString::fromLatin1(panel.objectName));
    }

    m_networkButtons = {ui->networkWizardButton, ui->networkProjectButton, ui->networkDevicesBindingButton,
                        ui->networkParametersButton};
    m_analysisButtons = {ui->analysisStatisticsButton, ui->analysisVisualFipTraceButton, ui->analysisMacroMicroButton,
                         ui->analysisStationsPresenceButton, ui->analysisMnemonicsButton, ui->analysisParametersButton,
                         ui->analysisDesignCheckButton};
    m_optionButtons = {ui->optionGeneralButton, ui->optionDesignButton, ui->optionControlButton,
                       ui->optionAnalysisButton, ui->optionContactUsButton, ui->optionAboutButton};
}

void BX::setupItemBox()
{
    m_itemBoxModel = new ItemBoxModel(this);
    for (const auto& entry : ItemBoxEntries) {
        auto* item = new QStandardItem(QIcon(image(entry.icon)), QString::fromLatin1(entry.text));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        m_itemBoxModel->appendRow(item);
    }
    ui->itemBoxView->setModel(m_itemBoxModel);
}

void BX::setupAboutPage()
{
    ui->aboutIconLabel->setPixmap(QIcon(image("icon_brantix.png")).pixmap(96, 96));
    ui->aboutProductLabel->setText(OrganizationName + " " + ProductName);
    ui->aboutVersionLabel->setText(tr("Version %1").arg(Version));
    const QString host = QUrl(WebSite).host();
    ui->aboutWebSiteLabel->setText(QString("<a href=\"%1\">%2</a>").arg(WebSite, host));
    ui->aboutAddressLabel->setText(PostalAddress);
    ui->aboutTelephoneLabel->setText(tr("Tel. %1").arg(Telephone));
    connect(ui->aboutWebSiteLabel, &QLabel::linkActivated, this,
            [](const QString& link) { DesktopServices::openUrl(QUrl(link)); });
    ui->creditsWebView->load(QUrl(QStringLiteral("qrc:/html/credits.html")));
}

void BX::setupModels()
{
    m_mainDTModel = new MainDTModel(this);
    m_mainDTModel->setCtrlPressedQuery([this] { return m_ctrlPressed; });
    m_mainDTModel->setSavePathQuery([this] { return getFileConfigurationSavePath(); });
    ui->mainDTView->setModel(m_mainDTModel);
    m_mainDTDelegate = new MainDTDelegate(this);
    ui->mainDTView->setItemDelegate(m_mainDTDelegate);
    ui->mainDTView->setSortingEnabled(false);
    // The tree shows the node names and the bound board; everything else is in the item editor.
    QHeaderView* header = ui->mainDTView->header();
    for (int column = 1; column < MainDTModel::ColumnCount; ++column)
        ui->mainDTView->setColumnHidden(column, column != MainDTModel::ColFipDevice);
    header->moveSection(header->visualIndex(MainDTModel::ColFipDevice), 1);
    header->resizeSection(MainDTModel::ColObject, 360);
    m_mainDTContextMenu = new MainDTContextMenu(m_mainDTModel, this);

    m_settingsDTModel = new SettingsDTModel(42, 2, this);
    m_settingsDTDelegate = new SettingsDTDelegate(this);
    m_settingsDTModel->attachView(ui->settingsDTView);
    ui->settingsDTView->setItemDelegate(m_settingsDTDelegate);
    ui->settingsDTView->header()->resizeSection(SettingsDTModel::PropertyColumn, 170);
    ui->settingsDTView->setContextMenuPolicy(Qt::CustomContextMenu);
}

void BX::setupTimers()
{
    m_statusBarTimer = new QTimer(this);
    m_statusBarTimer->setObjectName("statusBarTimer");
    m_statusBarTimer->setTimerType(Qt::PreciseTimer);
    m_statisticsTimer = new QTimer(this);
    m_statisticsTimer->setObjectName("statisticsTimer");
    m_statisticsTimer->setInterval(StatisticsIntervalMs);
    m_statisticsTimer->start();
    m_networkRatioTimer = new QTimer(this);
    m_networkRatioTimer->setObjectName("networkRatioTimer");
    m_networkRatioTimer->setInterval(NetworkRatioIntervalMs);

    m_spinner1 = new QMovie(image("spinner1.gif"), QByteArray(), this);
    m_spinner3 = new QMovie(image("spinner3.gif"), QByteArray(), this);
    if (m_spinner1->isValid())
        m_spinner1->start();
    if (m_spinner3->isValid())
        m_spinner3->start();
}

void BX::registerMetaTypes()
{
    qRegisterMetaType<QVector<int>>("QVector<int>");
    qRegisterMetaType<QList<quint16>>("QList<quint16>");
    qRegisterMetaType<QList<quint8>>("QList<quint8>");
    qRegisterMetaType<LED_RGB_COLOR>("LED_RGB_COLOR");
    qRegisterMetaType<QList<TARVEXCONF>>("QList<TARVEXCONF>");
}

void BX::makeConnections()
{
    // Design model and its undo stack
    connect(m_mainDTModel, &MainDTModel::statusBarMessage, this, &BX::updateStatusBar);
    connect(m_mainDTModel, &MainDTModel::indexFocused, this, &BX::onIndexFocused);
    connect(m_mainDTModel, &MainDTModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) { onMainDTViewDataChanged(topLeft, bottomRight); });
    connect(m_mainDTModel, &MainDTModel::generateProgress, this, &BX::onDesignProgressBar);
    QUndoStack* stack = m_mainDTModel->undoStack();
    connect(stack, &QUndoStack::canUndoChanged, this, &BX::onCanUndoChanged);
    connect(stack, &QUndoStack::canRedoChanged, this, &BX::onCanRedoChanged);
    connect(stack, &QUndoStack::indexChanged, this, &BX::onStackIndexChanged);
    connect(stack, &QUndoStack::cleanChanged, this, [this, stack] { onStackIndexChanged(stack->index()); });
    connect(this, &BX::generateDesignProgress, this, &BX::onDesignProgressBar);
    connect(this, &BX::generateAnalysisProgress, this, &BX::onAnalysisProgressBar);

    // Design tree and item editor
    connect(ui->mainDTView, &QTreeView::clicked, this, &BX::mainDTViewOneClickEdit);
    connect(ui->mainDTView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &BX::onMainDTViewItemSelectionChanged);
    connect(ui->mainDTView, &QWidget::customContextMenuRequested, this, &BX::onCustomContextDTMenu);
    connect(m_settingsDTModel, &QStandardItemModel::itemChanged, this, &BX::onSettingsDTViewItemChanged);
    connect(m_settingsDTModel, &SettingsDTModel::statusBarMessage, this, &BX::updateStatusBar);
    connect(ui->settingsDTView, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        const QModelIndex index = ui->settingsDTView->indexAt(pos);
        if (m_settingsDTModel->designColumn(index.sibling(index.row(), SettingsDTModel::ValueColumn))
            != MainDTModel::ColMnemoPixmap)
            return;
        ui->settingsDTView->setCurrentIndex(index.sibling(index.row(), SettingsDTModel::ValueColumn));
        QMenu menu(this);
        menu.addAction(QIcon(image("icon_image_48x48.png")), tr("Select a resource icon..."), this, &BX::onAddPixmapAction);
        menu.exec(ui->settingsDTView->viewport()->mapToGlobal(pos));
    });
    connect(ui->networkProjectPage, &QWidget::customContextMenuRequested, this, &BX::onCustomContextNetworkProjectPage);
    connect(m_networkProjectMenu, &QMenu::triggered, this, &BX::onNetworkProjectDesignMenuTriggered);
    connect(ui->buildButton, &QPushButton::clicked, ui->actionBuildStationsConf, &QAction::trigger);

    // Overview panel: a choice there is an edit of the Network node.
    const QList<QPair<QComboBox*, int>> overviewChoices = {
        {ui->overviewFrameTypeComboBox, MainDTModel::ColNetworkFrameType},
        {ui->overviewSpeedComboBox, MainDTModel::ColNetworkSpeed},
        {ui->overviewSilenceComboBox, MainDTModel::ColNetworkSilenceTime},
        {ui->overviewTurnAroundComboBox, MainDTModel::ColNetworkTurnAroundTime}};
    for (const auto& choice : overviewChoices) {
        const int column = choice.second;
        // The size hint follows the longest choice of the current speed, so the layout leaves it room.
        choice.first->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        connect(choice.first, &QComboBox::textActivated, this,
                [this, column](const QString& text) { onOverviewChoiceActivated(column, text); });
    }

    // Status bar timer
    connect(m_statusBarTimer, &QTimer::timeout, this, &BX::onStatusBarTimerTimeout);

    // Navigation
    for (QToolButton* button : {m_plandorButton, m_ostrakButton, m_optionsButton})
        connect(button, &QToolButton::toggled, this, &BX::onLeftToolButtonToggled);
    connect(m_infoKivButton, &QToolButton::clicked, this, &BX::onInfoKivButtonClicked);
    connect(ui->optionGeneralButton, &QPushButton::toggled, this, &BX::onGeneralButtonToggled);
    connect(ui->optionDesignButton, &QPushButton::toggled, this, &BX::onDesignButtonToggled);
    connect(ui->optionControlButton, &QPushButton::toggled, this, &BX::onControlButtonToggled);
    connect(ui->optionAnalysisButton, &QPushButton::toggled, this, &BX::onAnalysisButtonToggled);
    connect(ui->optionContactUsButton, &QPushButton::toggled, this, &BX::onContactUsButtonToggled);
    connect(ui->optionAboutButton, &QPushButton::toggled, this, &BX::onAboutButtonToggled);
    for (QPushButton* button : qAsConst(m_networkButtons))
        connect(button, &QPushButton::toggled, this, &BX::onNetworkButtonsToggled);
    for (QPushButton* button : qAsConst(m_analysisButtons))
        connect(button, &QPushButton::toggled, this, &BX::onAnalyzeButtonsToggled);
    for (QAction* action : {ui->actionShowSideBar, ui->actionShowPlandorPage, ui->actionShowOstrakPage,
                            ui->actionShowOptionsPage, ui->actionShowStatusBar, ui->actionShowInfoBar})
        connect(action, &QAction::triggered, this, &BX::onViewMenuButtonTriggered);

    // Menus
    connect(ui->actionNewWizardProject, &QAction::triggered, this, &BX::onActionNewWizardProject);
    connect(ui->actionQuit, &QAction::triggered, this, &BX::close);
    connect(ui->actionUndo, &QAction::triggered, this, &BX::onEditMenuButtonTriggered);
    connect(ui->actionRedo, &QAction::triggered, this, &BX::onEditMenuButtonTriggered);
    connect(ui->actionHelp, &QAction::triggered, this, &BX::onActionHelp);
    connect(ui->actionContactUs, &QAction::triggered, this, &BX::onActionContactUs);
    connect(ui->actionAboutBrantix, &QAction::triggered, this, &BX::onActionAboutBrantix);

    // Ctrl is followed wherever the key lands in this window.
    qApp->installEventFilter(this);
}

// ---------------------------------------------------------------- services

QString BX::getFileConfigurationSavePath() const
{
    return ui->savePath->text();
}

bool BX::isModified() const
{
    return !m_mainDTModel->undoStack()->isClean();
}

int BX::cleanUndoIndex() const
{
    return m_mainDTModel->undoStack()->cleanIndex();
}

QString BX::untitledFileProject() const
{
    return getFileConfigurationSavePath() + "/untitled.brxprj";
}

QUrl BX::helpUrl(const QString& applicationDirPath)
{
    const QString dir = QDir::fromNativeSeparators(applicationDirPath);
    QString path = dir.left(dir.lastIndexOf('/')) + HelpDocument;
    // "file:///" already carries the root; a Unix path would otherwise start with four slashes.
    while (path.startsWith('/'))
        path.remove(0, 1);
    return QUrl(QStringLiteral("file:///") + path);
}

QModelIndex BX::getMainDTSelectedIndex() const
{
    return ui->mainDTView->currentIndex();
}

quint8 BX::getMainDTCurrentStationAddress(bool* ok) const
{
    const QModelIndex station = m_mainDTModel->getAncestor(getMainDTSelectedIndex(), MainDTModel::STATION);
    bool parsed = false;
    quint8 address = 0;
    if (station.isValid()) {
        const qlonglong value = MainDTModel::parseNumber(m_mainDTModel->text(station, MainDTModel::ColStationAddress), &parsed);
        parsed = parsed && value >= 0 && value <= 255;
        address = parsed ? quint8(value) : 0;
    }
    if (ok)
        *ok = parsed;
    return address;
}

QList<quint8> BX::getMainDTPriorityLevelsUsed() const { return m_mainDTModel->getPriorityLevelsUsed(); }
QList<quint8> BX::getMainDTSegmentNumbersUsed() const { return m_mainDTModel->getSegmentNumbersUsed(); }
QList<quint8> BX::getMainDTStationAddressesUsed() const { return m_mainDTModel->getStationAddressesUsed(); }
QList<quint8> BX::getMainDTPeriodicChannelsUsedInStation(quint8 address) const
{
    return m_mainDTModel->getPeriodicChannelsUsedInStation(address);
}
QList<quint16> BX::getMainDTVariableOutIDsUsed() const { return m_mainDTModel->getVariableOutIDsUsed(); }
QList<quint16> BX::getMainDTVariableOutIDsUsedInSegment(quint8 segment) const
{
    return m_mainDTModel->getVariableOutIDsUsedInSegment(segment);
}
QList<quint16> BX::getMainDTVariableIDsUsedInSegment(quint8 segment) const
{
    return m_mainDTModel->getVariableIDsUsedInSegment(segment);
}
quint16 BX::getMainDTFirstFreeVariableID(bool* ok) const { return m_mainDTModel->getFirstFreeVariableOutID(ok); }
QString BX::getMainDTNetworkSpeed() const { return m_mainDTModel->getNetworkSpeed(); }
bool BX::mainDTVariableOutIDIsUsed(quint16 id) const { return m_mainDTModel->variableOutIDIsUsed(id); }
bool BX::mainDTAperiodicChannelIsUsedInStation(quint8 address) const
{
    return m_mainDTModel->aperiodicChannelIsUsedInStation(address);
}

void BX::updateStatusBar(quint8 level, QString text)
{
    QPixmap pixmap;
    if (level < sizeof(StatusIcons) / sizeof(StatusIcons[0]))
        pixmap = QPixmap(image(StatusIcons[level])).scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    m_statusIconLabel->setPixmap(pixmap);
    m_statusMessageLabel->setText(text);
    m_statusIconLabel->show();
    m_statusMessageLabel->show();
    m_statusBarTimer->start(StatusBarTimeoutMs);
}

void BX::onStatusBarTimerTimeout()
{
    m_statusIconLabel->hide();
    m_statusMessageLabel->hide();
    m_statusBarTimer->stop();
}

void BX::onReportMessage(QString title, QString text)
{
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
}

// ---------------------------------------------------------------- navigation

void BX::onLeftToolButtonToggled(bool)
{
    if (m_ostrakButton->isChecked()) {
        ui->mainStackedWidget->setCurrentIndex(2);
        m_captureToolBar->show();
        m_designToolBar->hide();
        ui->actionShowOstrakPage->setChecked(true);
    } else if (m_optionsButton->isChecked()) {
        ui->mainStackedWidget->setCurrentIndex(3);
        m_captureToolBar->hide();
        m_designToolBar->hide();
        ui->actionShowOptionsPage->setChecked(true);
    } else {
        ui->mainStackedWidget->setCurrentIndex(0);
        m_designToolBar->show();
        m_captureToolBar->hide();
        ui->actionShowPlandorPage->setChecked(true);
    }
}

void BX::updateCentralView()
{
    if (ui->actionShowPlandorPage->isChecked())
        m_plandorButton->setChecked(true);
    else if (ui->actionShowOstrakPage->isChecked())
        m_ostrakButton->setChecked(true);
    else
        m_optionsButton->setChecked(true);
    onLeftToolButtonToggled(true);
}

void BX::onViewMenuButtonTriggered(bool checked)
{
    const QString name = sender() ? sender()->objectName() : QString();
    if (name == QLatin1String("actionShowPlandorPage") || name == QLatin1String("actionShowOstrakPage")
        || name == QLatin1String("actionShowOptionsPage"))
        updateCentralView();
    else if (name == QLatin1String("actionShowSideBar"))
        m_leftToolBar->setVisible(checked);
    else if (name == QLatin1String("actionShowInfoBar"))
        m_topToolBar->setVisible(checked);
    else if (name == QLatin1String("actionShowStatusBar"))
        statusBar()->setVisible(checked);
}

void BX::selectSubPage(QPushButton* button, bool checked, const QList<QPushButton*>& row, int index)
{
    if (!checked) {
        // A tab row always keeps one tab: clicking the current one does not leave the row empty.
        const bool other = std::any_of(row.begin(), row.end(), [button](QPushButton* b) { return b != button && b->isChecked(); });
        if (!other)
            button->setChecked(true);
        return;
    }
    button->setChecked(true);
    QStackedWidget* stack = row == m_networkButtons ? ui->networkStackedWidget
                          : row == m_analysisButtons ? ui->analysisStackedWidget
                                                     : ui->optionsStackedWidget;
    stack->setCurrentIndex(index);
    for (QPushButton* other : row) {
        if (other != button)
            other->setChecked(false);
    }
}

void BX::onGeneralButtonToggled(bool checked) { selectSubPage(ui->optionGeneralButton, checked, m_optionButtons, 0); }
void BX::onDesignButtonToggled(bool checked) { selectSubPage(ui->optionDesignButton, checked, m_optionButtons, 1); }
void BX::onControlButtonToggled(bool checked) { selectSubPage(ui->optionControlButton, checked, m_optionButtons, 2); }
void BX::onAnalysisButtonToggled(bool checked) { selectSubPage(ui->optionAnalysisButton, checked, m_optionButtons, 3); }
void BX::onContactUsButtonToggled(bool checked) { selectSubPage(ui->optionContactUsButton, checked, m_optionButtons, 4); }
void BX::onAboutButtonToggled(bool checked) { selectSubPage(ui->optionAboutButton, checked, m_optionButtons, 5); }

void BX::onNetworkButtonsToggled(bool checked)
{
    const QString name = sender() ? sender()->objectName() : QString();
    for (int i = 0; i < m_networkButtons.size(); ++i) {
        if (m_networkButtons[i]->objectName() == name)
            selectSubPage(m_networkButtons[i], checked, m_networkButtons, i);
    }
}

void BX::onAnalyzeButtonsToggled(bool checked)
{
    const QString name = sender() ? sender()->objectName() : QString();
    for (int i = 0; i < m_analysisButtons.size(); ++i) {
        if (m_analysisButtons[i]->objectName() == name)
            selectSubPage(m_analysisButtons[i], checked, m_analysisButtons, i);
    }
}

void BX::onActionContactUs()
{
    m_optionsButton->setChecked(true);
    emit ui->optionContactUsButton->toggled(true);
}

void BX::onActionAboutBrantix()
{
    m_optionsButton->setChecked(true);
    emit ui->optionAboutButton->toggled(true);
}

void BX::onActionHelp()
{
    DesktopServices::openUrl(helpUrl(QApplication::applicationDirPath()));
}

void BX::onInfoKivButtonClicked()
{
    DesktopServices::openUrl(QUrl(WebSite));
}

void BX::onActionNewWizardProject()
{
}

void BX::onCustomContextNetworkProjectPage(const QPoint& pos)
{
    for (QAction* action : m_networkProjectMenu->actions()) {
        if (QWidget* panel = findChild<QWidget*>(action->data().toString()))
            action->setChecked(!panel->isHidden());
    }
    m_networkProjectMenu->popup(ui->networkProjectPage->mapToGlobal(pos));
}

void BX::onNetworkProjectDesignMenuTriggered(QAction* action)
{
    QWidget* panel = action ? findChild<QWidget*>(action->data().toString()) : nullptr;
    if (!panel)
        return;
    panel->setVisible(action->isChecked());
    rebalanceDesignSplitter();
}

void BX::rebalanceDesignSplitter()
{
    const bool left = !ui->itemBoxPanelWidget->isHidden() || !ui->overviewPanelWidget->isHidden();
    ui->designLeftPanelsWidget->setVisible(left);
    const bool right = !ui->itemEditorPanelWidget->isHidden();
    const int total = qMax(ui->designSplitter->width(), width() - 120);
    const int leftWidth = left ? LeftPanelWidth : 0;
    const int rightWidth = right ? RightPanelWidth : 0;
    ui->designSplitter->setSizes({leftWidth, qMax(200, total - leftWidth - rightWidth), rightWidth});
}

// ---------------------------------------------------------------- undo stack and title

void BX::onStackIndexChanged(int index)
{
    Q_UNUSED(index)
    // The stack's own clean state: an edit after an Undo drops the redo branch and,
    // with it, a saved state that lay there.
    QString title = OrganizationName + " " + ProductName + " - " + currentFileProject();
    if (isModified())
        title += "*";
    setWindowTitle(title);
    updateBuildXMLButton();
    onMainDTViewDataChanged(QModelIndex(), QModelIndex());
}

void BX::onCanUndoChanged(bool canUndo)
{
    ui->actionUndo->setEnabled(canUndo && !m_networkConnected);
    ui->actionUndo->setText(canUndo ? tr("Undo") + " " + m_mainDTModel->undoStack()->undoText() : tr("Undo"));
    if (QWidget* button = m_designToolBar->widgetForAction(ui->actionUndo))
        button->setToolTip(ui->actionUndo->text());
}

void BX::onCanRedoChanged(bool canRedo)
{
    ui->actionRedo->setEnabled(canRedo && !m_networkConnected);
    ui->actionRedo->setText(canRedo ? tr("Redo") + " " + m_mainDTModel->undoStack()->redoText() : tr("Redo"));
    if (QWidget* button = m_designToolBar->widgetForAction(ui->actionRedo))
        button->setToolTip(ui->actionRedo->text());
}

void BX::onEditMenuButtonTriggered()
{
    if (refuseWhileConnected())
        return;
    const QString name = sender() ? sender()->objectName() : QString();
    if (name == QLatin1String("actionUndo"))
        m_mainDTModel->undoStack()->undo();
    else if (name == QLatin1String("actionRedo"))
        m_mainDTModel->undoStack()->redo();
}

void BX::setCurrentFileProject(QString path, bool clear)
{
    m_currentFileProject = path;
    {
        QSettings settings(OrganizationName, ProductName);
        RecentProjects(settings).add(path);
    }
    updateRecentFileActions();
    QUndoStack* stack = m_mainDTModel->undoStack();
    if (clear)
        stack->clear();
    else
        stack->setClean();
    onStackIndexChanged(stack->index());
}

// ---------------------------------------------------------------- progress

void BX::onDesignProgressBar(int percent)
{
    ui->designProgressBar->setValue(percent);
    if (percent >= 100)
        ui->designProgressBar->hide();
    else if (ui->designProgressBar->isHidden())
        ui->designProgressBar->show();
}

void BX::onAnalysisProgressBar(int percent)
{
    ui->analysisProgressBar->setValue(percent);
    if (percent >= 100)
        ui->analysisProgressBar->hide();
    else if (ui->analysisProgressBar->isHidden())
        ui->analysisProgressBar->show();
}

// ---------------------------------------------------------------- design tree

void BX::mainDTViewOneClickEdit(const QModelIndex& index)
{
    if (m_mainDTModel->classType(index) == MainDTModel::STATION && index.column() == MainDTModel::ColFipDevice)
        ui->mainDTView->edit(index);
}

void BX::onIndexFocused(QModelIndex index)
{
    if (!index.isValid())
        return;
    const QModelIndex node = index.sibling(index.row(), MainDTModel::ColObject);
    for (QModelIndex parent = node.parent(); parent.isValid(); parent = parent.parent())
        ui->mainDTView->expand(parent);
    ui->mainDTView->setCurrentIndex(node);
    ui->mainDTView->scrollTo(node);
}

void BX::onCustomContextDTMenu(const QPoint& pos)
{
    const QModelIndex clicked = ui->mainDTView->indexAt(pos);
    if (clicked.isValid())
        ui->mainDTView->setCurrentIndex(clicked);
    QMenu* menu = m_mainDTContextMenu->createMenu(ui->mainDTView->currentIndex(), this);
    menu->setObjectName("mainDTContextMenu");
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(menu, &QMenu::triggered, this, &BX::onContextDTMenuTriggered);
    if (menu->isEmpty()) {
        menu->deleteLater();
        return;
    }
    menu->popup(ui->mainDTView->viewport()->mapToGlobal(pos));
}

void BX::onContextDTMenuTriggered(QAction* action)
{
    m_mainDTContextMenu->trigger(action, ui->mainDTView->currentIndex(), ui->mainDTView);
    onMainDTViewDataChanged(QModelIndex(), QModelIndex());
}

void BX::removeFipItem()
{
    m_mainDTContextMenu->removeFipItem(ui->mainDTView->currentIndex());
    onMainDTViewDataChanged(QModelIndex(), QModelIndex());
}

void BX::expandChildren(const QModelIndex& index, QTreeView* view)
{
    MainDTContextMenu::expandChildren(index, view);
}

void BX::collapseChildren(const QModelIndex& index, QTreeView* view)
{
    MainDTContextMenu::collapseChildren(index, view);
}

void BX::onMainDTViewItemSelectionChanged(const QModelIndex& current, const QModelIndex&)
{
    disconnect(m_settingsDTModel, &QStandardItemModel::itemChanged, this, &BX::onSettingsDTViewItemChanged);
    if (current.isValid())
        m_settingsDTModel->loadFromIndex(m_mainDTModel, current.sibling(current.row(), MainDTModel::ColObject));
    else
        m_settingsDTModel->clearNode();
    connect(m_settingsDTModel, &QStandardItemModel::itemChanged, this, &BX::onSettingsDTViewItemChanged);
    m_settingsDTModel->applyRowVisibility(ui->settingsDTView);
    ui->settingsDTView->expandAll();
}

void BX::onSettingsDTViewItemChanged(QStandardItem* item)
{
    if (!m_settingsDTModel->isLoading())
        m_settingsDTModel->applyItemChange(item);
}

void BX::onMainDTViewDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    const bool everything = !topLeft.isValid() || !bottomRight.isValid();
    const QModelIndex network = m_mainDTModel->getNetworkIdx();
    if (everything || (network.isValid() && topLeft.parent() == network.parent() && topLeft.row() <= network.row()
                       && bottomRight.row() >= network.row()))
        refreshOverviewPanel();
    if (everything)
        updateBuildXMLButton();
}

void BX::refreshOverviewPanel()
{
    const QModelIndex network = m_mainDTModel->getNetworkIdx();
    ui->overviewNetworkGroupBox->setEnabled(network.isValid());
    m_refreshingOverview = true;
    const QString speed = m_mainDTModel->text(network, MainDTModel::ColNetworkSpeed);
    const FipCalculator& calculator = m_mainDTModel->calculator();
    const QList<QPair<QComboBox*, QPair<QStringList, int>>> choices = {
        {ui->overviewFrameTypeComboBox, {OverviewFrameTypes, MainDTModel::ColNetworkFrameType}},
        {ui->overviewSpeedComboBox, {FipCalculator::getSpeedList(), MainDTModel::ColNetworkSpeed}},
        {ui->overviewSilenceComboBox, {calculator.getSilenceTimeList(speed), MainDTModel::ColNetworkSilenceTime}},
        {ui->overviewTurnAroundComboBox, {calculator.getTurnAroundTimeList(speed), MainDTModel::ColNetworkTurnAroundTime}}};
    for (const auto& choice : choices) {
        QComboBox* combo = choice.first;
        const QStringList items = network.isValid() ? choice.second.first : QStringList();
        if (comboItems(combo) != items) {
            combo->clear();
            combo->addItems(items);
        }
        combo->setCurrentIndex(combo->findText(m_mainDTModel->text(network, choice.second.second)));
    }
    m_refreshingOverview = false;
}

void BX::onOverviewChoiceActivated(int column, const QString& text)
{
    const QModelIndex network = m_mainDTModel->getNetworkIdx();
    if (m_refreshingOverview || !network.isValid())
        return;
    m_mainDTModel->setData(m_mainDTModel->cell(network, column), text, Qt::EditRole);
    refreshOverviewPanel();
}

void BX::onAddPixmapAction()
{
    const QString name = ResourceIconDialog::getResourceIconName(this);
    if (name.isEmpty())
        return;
    const QModelIndex current = ui->settingsDTView->currentIndex();
    if (current.isValid())
        m_settingsDTModel->setData(current.sibling(current.row(), SettingsDTModel::ValueColumn), name, Qt::EditRole);
}

void BX::updateBuildXMLButton()
{
    const bool stations = !m_mainDTModel->getStationIndexes().isEmpty();
    ui->buildButton->setEnabled(stations);
    ui->actionBuildStationsConf->setEnabled(stations);
    ui->actionAutoBindDevices->setEnabled(stations);
    ui->actionUnbindAllDevices->setEnabled(stations);
    ui->autoBindDevicesButton->setEnabled(stations);
    ui->unbindAllDevicesButton->setEnabled(stations);
}

void BX::setProjectActionsEnabled(bool enabled)
{
    ui->actionSave->setEnabled(enabled);
    ui->actionSaveAs->setEnabled(enabled);
    ui->actionCloseProject->setEnabled(enabled);
    updateDesignLocks();
}

// ---------------------------------------------------------------- keys, events, closing

bool BX::handleCtrlKey(QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Control)
        return false;
    m_ctrlPressed = event->type() == QEvent::KeyPress;
    return true;
}

bool BX::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->window() == this)
            handleCtrlKey(event);
    }
    return QMainWindow::eventFilter(watched, event);
}

void BX::keyPressEvent(QKeyEvent* event)
{
    handleCtrlKey(event);
    QMainWindow::keyPressEvent(event);
}

void BX::keyReleaseEvent(QKeyEvent* event)
{
    handleCtrlKey(event);
    QMainWindow::keyReleaseEvent(event);
}

bool BX::event(QEvent* event)
{
    // The key may be released in another window: never keep the flag past a deactivation.
    if (event->type() == QEvent::WindowDeactivate)
        m_ctrlPressed = false;
    return QMainWindow::event(event);
}

void BX::closeEvent(QCloseEvent* event)
{
    if (isModified()) {
        QMessageBox box(QMessageBox::Question, tr("Saving"), tr("Do you want to save your project before closing ?"),
                        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
        box.setWindowIcon(windowIcon());
        box.setInformativeText(tr("Changes will be lost if you don't save it."));
        box.setDefaultButton(QMessageBox::Save);
        const int answer = box.exec();
        if (answer == QMessageBox::Cancel) {
            event->ignore();
            return;
        }
        if (answer == QMessageBox::Save) {
            // A save that did not happen (Save As cancelled, write failed) keeps the window.
            ui->actionSave->trigger();
            if (isModified()) {
                event->ignore();
                return;
            }
        }
    }

    auto askToStop = [this](const QString& text) {
        QMessageBox box(QMessageBox::Question, tr("Closing"), text, QMessageBox::Yes | QMessageBox::Cancel, this);
        box.setInformativeText(tr("Do you want to continue ?"));
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes;
    };
    if (m_capturing) {
        if (!askToStop(tr("A network 'Analysis' is in progress. If you continue it will stop."))) {
            event->ignore();
            return;
        }
        ui->actionStopCapture->trigger();
        // The scan ends on the card's thread; its end writes the last rows and the statistics file.
        QElapsedTimer waited;
        waited.start();
        while (m_ostrakCard && waited.elapsed() < CaptureStopTimeoutMs) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QThread::msleep(5);
        }
    }
    if (m_networkConnected) {
        if (!askToStop(tr("A network 'Control' is in progress. If you continue it will stop."))) {
            event->ignore();
            return;
        }
        ui->actionDisconnectFromNetwork->trigger();
    }

    teardownDevices();
    event->accept();
    if (!m_defaultsRestored)
        writeSettings();
}
