#pragma once

#include "control/BoardTypes.h"
#include "capture/device/OstrakConf.h"
#include "control/DeviceTables.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <iterator>
#include <QMainWindow>
#include <QModelIndex>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>
#include <QVector>
#include <QWaitCondition>

namespace Ui { class BX; }
namespace SettingsFileCheck { struct Result; }

class AnalysisContext;
class ArbitratorWorkers;
class FipBusArbitratorDevice;
class BrxprjFile;
class CaptureSession;
class ControlTable;
class FrameAnalysis;
class FrameFilterATModel;
class FrameFilterBar;
class KivDevicesDetection;
class MainATDelegate;
class MainATModel;
class NetworkRatio;
class StationPresenceTable;
class StatisticsPage;
class TransactionATDelegate;
class TransactionATModel;
class OstrakCard;
struct TraceRecordOptions;
class MainDTContextMenu;
class MainDTDelegate;
class MainDTModel;
struct MnemoSeries;
class QAbstractItemModel;
class QAbstractItemView;
class QAction;
class QHeaderView;
class QLabel;
class QLockFile;
class QMenu;
class QMovie;
class QPushButton;
class QStandardItem;
class QStandardItemModel;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeView;
class SettingsDTDelegate;
class SettingsDTModel;
class HexaTabDelegate;
class MainCTModel;
class QTableWidget;

/// The main window: owns every model, worker, thread and timer of the application
/// and holds the slots every user action lands in.
class BX : public QMainWindow
{
    Q_OBJECT
public:
    /// Room for one arbitrator worker and thread per possible station address.
    static constexpr int MaxStationWorkers = 256;
    /// The status message disappears this long after the last one.
    static constexpr int StatusBarTimeoutMs = 10000;
    static constexpr int StatisticsIntervalMs = 500;
    static constexpr int NetworkRatioIntervalMs = 1000;
    /// Closing the window waits this long at most for a capture to end and write its files.
    static constexpr int CaptureStopTimeoutMs = 30000;

    static const QString ProductName;      ///< "Brantix"
    static const QString OrganizationName; ///< "Kivotec"
    static const QString Version;          ///< "v1.8.0"
    static const QString WebSite;
    static const QString PostalAddress;
    static const QString Telephone;
    static const QString StyleSheetResource; ///< ":/css/style.qss"
    static const QString HelpDocument;       ///< "/docs/html/brantix/brantix.html"

    explicit BX(QWidget* parent = nullptr);
    ~BX() override;

    // ---- Services to the other parts ----
    bool isCtrlPressed() const { return m_ctrlPressed; }
    /// The context menu's multiple-insertion entries hold the flag for the drop they start.
    void setCtrlPressed(bool pressed) { m_ctrlPressed = pressed; }
    QString getFileConfigurationSavePath() const;
    /// The help document under the parent of the application directory, as a file URL.
    static QUrl helpUrl(const QString& applicationDirPath);

    MainDTModel* designModel() const { return m_mainDTModel; }
    SettingsDTModel* settingsModel() const { return m_settingsDTModel; }
    QStandardItemModel* itemBoxModel() const { return m_itemBoxModel; }

    // Design queries of the item editor, forwarded to the design model.
    QModelIndex getMainDTSelectedIndex() const;
    quint8 getMainDTCurrentStationAddress(bool* ok) const;
    QList<quint8> getMainDTPriorityLevelsUsed() const;
    QList<quint8> getMainDTSegmentNumbersUsed() const;
    QList<quint8> getMainDTStationAddressesUsed() const;
    QList<quint8> getMainDTPeriodicChannelsUsedInStation(quint8 address) const;
    QList<quint16> getMainDTVariableOutIDsUsed() const;
    QList<quint16> getMainDTVariableOutIDsUsedInSegment(quint8 segment) const;
    QList<quint16> getMainDTVariableIDsUsedInSegment(quint8 segment) const;
    quint16 getMainDTFirstFreeVariableID(bool* ok) const;
    QString getMainDTNetworkSpeed() const;
    bool mainDTVariableOutIDIsUsed(quint16 id) const;
    bool mainDTAperiodicChannelIsUsedInStation(quint8 address) const;

    // ---- Project state ----
    /// The project's file; the untitled path (which follows the working directory) until saved.
    QString currentFileProject() const { return m_currentFileProject.isEmpty() ? untitledFileProject() : m_currentFileProject; }
    /// The design's undo stack is away from its clean state.
    bool isModified() const;
    bool isProjectOpen() const;
    QList<QAction*> recentFileActions() const { return QList<QAction*>(std::begin(m_recentFileActions), std::end(m_recentFileActions)); }
    int cleanUndoIndex() const;
    /// The path of a project that was never saved: working directory + "/untitled.brxprj".
    QString untitledFileProject() const;

    CaptureSession* captureSession() const { return m_captureSession; }
    OstrakCard* ostrakCard() const { return m_ostrakCard; }
    QString captureDuration() const { return m_captureDuration; }

    // ---- Analysis ----
    AnalysisContext* analysisContext() const { return m_analysisContext; }
    MainATModel* frameTableModel() const { return m_mainATModel; }
    TransactionATModel* transactionModel() const { return m_transactionATModel; }
    StatisticsPage* statisticsPage() const { return m_statisticsPage; }
    StationPresenceTable* presenceTable() const { return m_presenceTable; }
    ControlTable* controlTable() const { return m_controlTable; }
    bool isConverting() const { return m_converting; }
    /// Control code of a control name; 0 when unknown.
    quint8 getControlCode(const QString& name) const;
    QColor getControlColor(quint8 code) const;
    QList<QPair<QString, quint64*>> getStatisticalAnalysisCounters();
    QList<QPair<QString, QString*>> getStatisticalAnalysisInfoAndTime();
    /// Converts a raw capture into a trace at a depth mode (1 to 4), with every
    /// question and message of the conversion; false when it did not run to the end.
    bool generateVtrcFile(const QString& rawPath, const QString& tracePath, unsigned char depth);
    /// Opens a stored trace (and the statistics file beside it) into the analysis pages.
    bool openCapture(const QString& tracePath);
    /// Writes a trace or a raw capture as a pcapng file, with progress and Cancel.
    bool exportCaptureToPcapng(const QString& sourcePath, const QString& pcapngPath);
    /// Converts a .pcapng / .pcap of FIP frames into a trace beside it and opens it.
    bool importPcapngCapture(const QString& capturePath);

    // ---- Run state, set by the capture and control parts ----
    bool isCapturing() const { return m_capturing; }
    void setCapturing(bool capturing) { m_capturing = capturing; }
    bool isNetworkConnected() const { return m_networkConnected; }
    void setNetworkConnected(bool connected) { m_networkConnected = connected; updateDesignLocks(); }
    bool defaultsRestored() const { return m_defaultsRestored; }
    void setDefaultsRestored(bool restored) { m_defaultsRestored = restored; }

signals:
    void updateAnalysisStatisticCounters();
    void generateAnalysisProgress(int percent);
    void generateDesignProgress(int percent);

public slots:
    /// Shows a message for 10 s after the last one; level 0 information, 1 warning, 2 error.
    void updateStatusBar(quint8 level, QString text);
    void onReportMessage(QString title, QString text);

    // Navigation
    void onLeftToolButtonToggled(bool checked);
    void updateCentralView();
    void onViewMenuButtonTriggered(bool checked);
    void onGeneralButtonToggled(bool checked);
    void onDesignButtonToggled(bool checked);
    void onControlButtonToggled(bool checked);
    void onAnalysisButtonToggled(bool checked);
    void onContactUsButtonToggled(bool checked);
    void onAboutButtonToggled(bool checked);
    void onNetworkButtonsToggled(bool checked);
    void onAnalyzeButtonsToggled(bool checked);
    void onActionContactUs();
    void onActionAboutBrantix();
    void onActionHelp();
    void onInfoKivButtonClicked();
    void onActionNewWizardProject();
    void onCustomContextNetworkProjectPage(const QPoint& pos);
    void onNetworkProjectDesignMenuTriggered(QAction* action);

    // Undo stack and title
    void onStackIndexChanged(int index);
    void onCanUndoChanged(bool canUndo);
    void onCanRedoChanged(bool canRedo);
    void onEditMenuButtonTriggered();
    /// The project now lives at `path`; `clear` (after a load) also empties the undo stack.
    void setCurrentFileProject(QString path, bool clear);

    // Project file
    void onActionNewProject();
    void onOpenButtonClicked();
    void loadFileProject(QString path);
    /// `done`, when given, tells whether the project was written.
    void onSaveButtonClicked(bool* done);
    void onSaveAsButtonClicked(bool* done);
    /// Save As without its file dialog: `path` is the chosen file, empty for no choice.
    void saveProjectAs(const QString& path, bool* done);
    /// `answer`, when given, receives the button of the save question (Cancel when
    /// a chosen save did not complete).
    void onActionCloseProject(int* answer);
    void updateRecentFileActions();
    void onActionOpenRecentFile();
    void onActionClearRecentFiles();
    void onBrxprjFileDropped(QString path);
    /// The working directory moved: the examples are copied there, the untitled path follows.
    void onWorkingDirectoryChanged();

    // Capture
    void onStartStopCapturingButtonClicked();
    void onOstrakDataReceived(int flowType, QByteArray data);
    void onOstrakScanStarted();
    void onOstrakScanStopped();
    void onOstrakConnected();
    void onOstrakDisconnected();
    void onOstrakNoTrafficDetected();
    void onOstrakStreamFaults(qulonglong faults, qulonglong lostBytes);

    // Analysis
    void initAnalysisContext();
    void mainATSortingEnabled(bool enabled);
    void updateButtonsColor();
    void onButtonColorClicked();
    void onDepthAnalysisButtonsToggled(bool checked);
    void onDepthAnalysisSliderValueChanged(int value);
    void onCustomContextHeaderATMenu(const QPoint& point);
    void onHeaderATMenuTriggered(QAction* action);
    void onCustomContextHeaderTransactionATMenu(const QPoint& point);
    void onHeaderTransactionATMenuTriggered(QAction* action);
    void onNewCategoryCreated();
    void onFirstCategoryChildCreated(QModelIndex category);
    void onUpdateAnalysisStatisticCounters();
    void onUpdateNetworkRatio();
    /// An information button of the analysis parameters: its topic in the help document.
    void onInfoAnalysisButtonClicked();
    void updateAnalysisOverviewDisplay();
    void counterVisibility(bool visible, QLabel* valueLabel, QLabel* titleLabel, int kind);
    void razStatisticalAnalysis();
    void razStationPresenceTable();
    void onPrawFileTargetButtonClicked();
    void onPrawToVtrcGenerateButtonClicked();
    void onPrawToVtrcCancelButtonClicked();
    void onOpenBackupButtonClicked();
    void onHardTrigClicked();
    /// The local cards the selection dialog offers.
    QList<OSTRAKCONF> updateOstrakList();

    // Macrocycle
    /// Rebuilds the microcycle tree and sends the new slices to the donut page.
    void refreshMacrocycleDonut();
    /// Reloads the donut page: one grey slice until a macrocycle is drawn.
    void resetMacrocycleDonut();
    /// Every fourth statistics tick: the padding counted, or the search for it.
    void checkAndAutoSearchPadding();
    // End of Macrocycle

    // Status bar and progress
    void onStatusBarTimerTimeout();
    void onDesignProgressBar(int percent);
    void onAnalysisProgressBar(int percent);

    // Design tree
    void mainDTViewOneClickEdit(const QModelIndex& index);
    void onIndexFocused(QModelIndex index);
    void onCustomContextDTMenu(const QPoint& pos);
    void onContextDTMenuTriggered(QAction* action);
    void removeFipItem();
    void expandChildren(const QModelIndex& index, QTreeView* view);
    void collapseChildren(const QModelIndex& index, QTreeView* view);
    void onMainDTViewItemSelectionChanged(const QModelIndex& current, const QModelIndex& previous);
    void onMainDTViewDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void onAddPixmapAction();
    void onSettingsDTViewItemChanged(QStandardItem* item);
    void updateBuildXMLButton();

    // Station configuration export
public slots:
    /// The build button and "Build Configurations": a directory chooser, then the build.
    void onBuildButtonClicked();
    /// Directory chooser for the working directory field.
    void onSavePathButtonClicked();
public:
    /// Writes every station's configuration file into `dir`; false when the design has no
    /// station or the cleaning question (asked when `askBeforeDeleting` and `dir` holds ".xml"
    /// files) was answered No.
    bool buildAndSaveStationFiles(QString dir, bool askBeforeDeleting);
private:
    void setupStationExport();
    // End of station configuration export

    // pcapng export and import
private slots:
    void onExportCapturePcapngTriggered();
private:
    void setupPcapng();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void loadStyleSheet();
    void setupToolBars();
    void setupStatusBar();
    void reportSettingsCheck(const SettingsFileCheck::Result& check);
    void setupMenus();
    void setupItemBox();
    void setupAboutPage();
    void setupModels();
    void setupTimers();
    void makeConnections();
    void registerMetaTypes();
    /// Selects page `index` of a sub-button row and unchecks the other buttons of the row.
    void selectSubPage(QPushButton* button, bool checked, const QList<QPushButton*>& row, int index);
    void refreshOverviewPanel();
    void onOverviewChoiceActivated(int column, const QString& text);
    void rebalanceDesignSplitter();
    bool handleCtrlKey(QEvent* event);
    void setProjectActionsEnabled(bool enabled);
    /// While a network runs its workers hold rows of the design: the actions that replace or
    /// restructure it (New, Open, Open Recent, Close Project, Undo, Redo) are disabled, as are
    /// New and Open during a capture or a conversion.
    void updateDesignLocks();
    /// True, with a status message, when a network runs and the design must stay as it is.
    bool refuseWhileConnected();
    void setupProjectFile();
    void showDesignTreePage();
    /// The item editor, focus and undo-index signals stay off while a file is imported.
    void setImportConnections(bool connected);
    /// Saves to `path`; the project then lives there, clean.
    void writeProject(const QString& path, bool* done);
    void setupCapture();
    void teardownCapture();
    /// Opens the card the capture options name; -1 when the user cancelled the choice.
    int openCaptureCard();
    TraceRecordOptions traceRecordOptions() const;
    void setCaptureEditingEnabled(bool enabled);
    /// The card would not start scanning: its thread stopped, the card closed and freed, the files closed.
    void abandonCaptureStart();
    int osSetHardTrigger(OstrakCard* card);
    int osGetHardTrigger(OstrakCard* card);
    void setupAnalysis();
    void teardownAnalysis();
    /// Flushes the pending trace lines to the file and the frame table.
    void flushTraceLines();
    /// The statistics tick's display work: counters, transaction tree, times, overview
    /// and, with `presence`, the presence table; `glitchWindow` closes a glitch window.
    void refreshAnalysis(bool presence, bool glitchWindow);
    /// End of a capture or conversion: last figures and rows, files closed, the
    /// statistics saved beside the trace.
    void finishAnalysis(const QString& tracePath, bool* written);
    /// The backup size and time limits of a live capture; true when one stopped it.
    bool checkBackupLimits();
    bool checkBackupDiskSpace();
    void setConversionControlsEnabled(bool enabled);
    /// A column menu of a view's header: one checkable action per column.
    QMenu* makeHeaderMenu(QAbstractItemView* view, QHeaderView* header, QAbstractItemModel* model);

    Ui::BX* ui;

    // Threads, the shared device mutex and the workers' start barrier.
    QThread m_detectionThread;
    QThread m_captureThread;
    QThread m_fipBaThreads[MaxStationWorkers];
    QMutex m_deviceMutex;
    QWaitCondition m_startBarrier;

    // Models
    MainDTModel* m_mainDTModel = nullptr;
    MainDTDelegate* m_mainDTDelegate = nullptr;
    MainDTContextMenu* m_mainDTContextMenu = nullptr;
    SettingsDTModel* m_settingsDTModel = nullptr;
    SettingsDTDelegate* m_settingsDTDelegate = nullptr;
    QStandardItemModel* m_itemBoxModel = nullptr;
    BrxprjFile* m_brxprjFile = nullptr;
    QAction* m_recentFileActions[10] = {};
    QAction* m_clearRecentFilesAction = nullptr;

    // Capture
    CaptureSession* m_captureSession = nullptr;
    OstrakCard* m_ostrakCard = nullptr;
    QPushButton* m_startStopCapturingButton = nullptr;
    QList<OSTRAKCONF> m_ostrakList;
    QDateTime m_captureStart;
    QString m_captureDuration;
    QString m_captureEnd;
    int m_statisticsTicks = 0;
    quint64 m_captureBytes = 0;

    // Analysis
    AnalysisContext* m_analysisContext = nullptr;
    FrameAnalysis* m_frameAnalysis = nullptr;
    class AnalysisHooks;
    AnalysisHooks* m_analysisHooks = nullptr;
    ControlTable* m_controlTable = nullptr;
    MainATModel* m_mainATModel = nullptr;
    MainATDelegate* m_mainATDelegate = nullptr;
    TransactionATModel* m_transactionATModel = nullptr;
    TransactionATDelegate* m_transactionATDelegate = nullptr;
    StatisticsPage* m_statisticsPage = nullptr;
    StationPresenceTable* m_presenceTable = nullptr;
    NetworkRatio* m_networkRatio = nullptr;
    QMenu* m_headerATMenu = nullptr;
    QMenu* m_headerTransactionATMenu = nullptr;
    bool m_converting = false;
    bool m_conversionStop = false;
    qint64 m_conversionPosition = 0;
    qint64 m_conversionSize = 0;
    int m_depthAnalysisMode = 2;
    QDateTime m_backupEndDate;
    int m_closedBackupFiles = 0;

    // Macrocycle
public:
    bool isPaddingId(quint16 id) const;
    class MacrocycleAnalysis* macrocycleAnalysis() const { return m_macrocycleAnalysis; }
    class MacrocycleDonut* macrocycleDonut() const { return m_macrocycleDonut; }
    QStandardItemModel* microcycleModel() const { return m_microcycleModel; }

private:
    void setupMacrocycle();
    void teardownMacrocycle();
    /// The context's share of the reset: lists emptied, settings read, page reloaded.
    void initMacrocycleContext();
    /// The padding rule of the options (or of the search) to the decoder and the detection.
    void applyPaddingRule(quint16 identifier);
    class MacrocycleObserver;
    MacrocycleObserver* m_macrocycleObserver = nullptr;
    MacrocycleAnalysis* m_macrocycleAnalysis = nullptr;
    MacrocycleDonut* m_macrocycleDonut = nullptr;
    class PaddingSearch* m_paddingSearch = nullptr;
    QStandardItemModel* m_microcycleModel = nullptr;
    QWidget* m_microcyclePanel = nullptr;
    /// Slices sent before the page finished loading, run in order once it has.
    QStringList m_pendingDonutScripts;
    bool m_macroPageLoaded = false;
    // End of Macrocycle

    // Control page
public:
    MainCTModel* controlModel() const { return m_mainCTModel; }
    /// The control tree's columns hidden until the user picks others (all but the live ones).
    static QList<int> controlTreeHiddenColumns();
    /// The control tree's current row in the design model (column 0); invalid when none.
    QModelIndex getMainCTSelectedIndex() const;
    /// Shows bytes in a 16 x 16 byte grid; bytes that changed turn bold (HexaTable::update).
    void updateHexaTableWidget(QTableWidget* table, const QByteArray& bytes, bool editable,
                               const QByteArray* previous = nullptr, bool* changed = nullptr);
    /// Rebuilds the detail panel of the control tree's current item.
    void refreshControlPanel();
    /// " - ", "Success", "Never seen on the network" (variables) or the library's text.
    static QString reportCodeText(const QString& code, bool variable);
    /// "Idle", "Transfer in progress..." / "Receiving Data...", "Complete", "Aborted".
    static QString transferStateText(int state, bool emitting);

signals:
    // Commands to the bus arbitrator workers; indexes are design-model rows, the station first.
    void rgbColorCmdChanged(QModelIndex station, LED_RGB_COLOR color);
    /// 0 start, 1 continue, 2 toggle macrocycle, 3 stop.
    void baCmdClicked(QModelIndex station, int command);
    void sendMsgCmdClicked(QModelIndex station, QModelIndex message);
    void sendMediumCmdClicked(QModelIndex station, quint16 command);
    /// Mode 1 urgent, 0 normal.
    void sendAperiodicListCmdClicked(QModelIndex station, QList<quint16> ids, quint8 mode);
    void purgeAperiodicListCmdClicked(QModelIndex station, quint8 mode);
    void purgeMsgCmdClicked(QModelIndex station, quint8 channel);
    void eraseMsgCmdClicked(QModelIndex station, QModelIndex message);
    void msgHistoricCmdClicked(QModelIndex station, QModelIndex message, quint16 position);
    void sendFileCmdClicked(QModelIndex station, QModelIndex message);
    void abortFileCmdClicked(QModelIndex station, QModelIndex message);
    void defFileReceptionCmdClicked(QModelIndex station, QModelIndex message);
    /// The answer (QMessageBox::Retry or Abort) to a medium failure.
    void stationIsolationTreatment(QModelIndex station, int answer);

public slots:
    void onMainCTViewItemSelectionChanged(const QModelIndex& current, const QModelIndex& previous);
    void onMainCTModelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void onHexaTableCellChanged(int row, int column);
    void onBaCmdClicked();
    void onOverviewBaCmdClicked();
    void onSendMediumCmdClicked();
    void onSendDataButtonClicked();
    void onPurgeMsgButtonClicked();
    void onEraseMsgButtonClicked();
    void onPreviousMsgReceivedButton();
    void onNextMsgReceivedButton();
    void onFileEmissionPathButtonClicked();
    void onFileSendButtonClicked();
    void onSendAperListButtonClicked();
    void onPurgeAperListButtonClicked();
    void onMsgBytesToSendChanged(int count);
    void onMsgHistoric(QModelIndex msgIdx, quint16 position, QList<quint8> bytes);
    void onStationIsolationEvent(QModelIndex staIdx);

private:
    void setupControl();
    void teardownControl();
    /// `fresh`: a new item, nothing shows as changed; otherwise changed bytes turn bold.
    void fillControlPanel(bool fresh);
    void showControlValue(const QModelIndex& item, int column, bool fresh);
    /// The bytes a variable or message shows: its "Data", else zeros a user may fill in.
    QByteArray controlBytes(const QModelIndex& item) const;
    quint8 aperiodicListMode(const QModelIndex& list) const;
    /// The information bar's station list: the bound stations by address.
    void fillInfoBarStations();
    QModelIndex infoBarStation() const;
    /// Channels and arbitrator state of the station chosen in the information bar.
    void showInfoBar();
    struct ControlPanels;
    ControlPanels* m_controlPanels = nullptr;
    MainCTModel* m_mainCTModel = nullptr;
    HexaTabDelegate* m_hexaTabDelegate = nullptr;
    // End of Control page

    // Mnemonics
public:
    class MnemoATModel* mnemoATModel() const;
    class MnemoAnalysis* mnemoAnalysis() const;
    class MnemoCTModel* varMnemoCTModel() const;
    class MnemoCTModel* msgMnemoCTModel() const;
    /// The graph page's checkable list of drawable mnemonics (design row in UserRole).
    QStandardItemModel* mnemoSelectionModel() const;
    /// The script the graph page was last given.
    QString lastMnemoGraphScript() const;
    /// Writes the series into `directory` (format 1 CSV, 2 JSON, 3 TSV); false when interrupted.
    bool generateMnemosFiles(const QString& directory, int format, const QList<MnemoSeries>& series);

public slots:
    /// Every fourth statistics tick and on a change of the selection: the checked series drawn.
    void onRefreshMnemoGraphs();
    void onMnemosGraphsExportButtonClicked();
    void onCustomContextHeaderMnemosATMenu(const QPoint& point);
    void onHeaderMnemosATMenuTriggered(QAction* action);
    /// The control page's rendering choice and mnemonic table of a variable or message.
    void loadLinkedMnemos(const QModelIndex& item, quint8 classT, const QByteArray& bytes);
    void onDataRenderingChanged(int index);
    void onMnemoCTViewItemChanged(QStandardItem* item);

private:
    void setupMnemonics();
    void teardownMnemonics();
    /// The context's share of the reset: definitions, table rows, selection list, chart.
    void initMnemonicsContext();
    /// The statistics tick: values and change counts into the mnemonic table.
    void pushMnemoValues();
    QList<MnemoSeries> checkedMnemoSeries(QList<QPersistentModelIndex>* items) const;
    /// The bytes of the selected produced variable's or output message's byte grid.
    QByteArray mnemoTableBytes(const QModelIndex& item) const;
    struct MnemonicsState;
    MnemonicsState* m_mnemonics = nullptr;
    // End of Mnemonics

    // Design check
public:
    class DesignCheckATModel* designCheckModel() const;
    /// Shows a frame of the capture in the frame table: selects its row and switches
    /// to the Visual FIP Trace page. False when no row carries that frame number.
    bool showFrameInTable(qint64 frameNumber);

public slots:
    void onDesignCheckRunButtonClicked();
    void onDesignCheckExportButtonClicked();
    void onDesignCheckATViewDoubleClicked(const QModelIndex& index);

private:
    /// `next` is the stage the design check's frame stage passes frames on to.
    void setupDesignCheck(class FipDecoderListener* next);
    void teardownDesignCheck();
    /// A new capture: nothing measured yet, padding as the decoder sees it.
    void resetDesignCheck();
    /// Compares what the capture measured so far with the open project.
    void refreshDesignCheck();
    /// Measures a stored trace and checks it.
    void checkStoredCapture(const QString& tracePath);
    struct DesignCheckState;
    DesignCheckState* m_designCheck = nullptr;
    // End of Design check

    // Settings and feedback
public:
    /// The project directory a store without settings gives.
    QString getDefaultDirectory() const;
    QStringList feedbackAttachments() const { return m_feedbackAttachments; }

public slots:
    /// Every option of the settings store applied to its widget, dependent widgets following.
    void readSettings();
    /// Every option written from its widget.
    void writeSettings();
    /// Widens the frame table's and transaction tree's default columns to their
    /// styled headers; run once the style sheet is applied.
    void fitDefaultColumns();
    /// Empties the store and shows the defaults; the next close writes nothing.
    void restoreDefaultSettings();
    void onRestoreButtonClicked();
    void onLocalLocationButtonToggled(bool checked);
    void onTcpRemoteButtonToggled(bool checked);
    void onFixedIdPaddingButtonToggled(bool checked);
    void onMacroDetectYesButtonToggled(bool checked);
    void onBackupYesButtonToggled(bool checked);
    void onBackupSizeLimitButtonToggled(bool checked);
    void onOscilloCtrlChanged(int index);
    void onIpAddressEditingFinished();
    void onFileReceptionDirButtonClicked();
    void onBackupRepositoryButtonClicked();
    void onSavePathTextChanged(const QString& path);
    void onFeedbackBrowseClicked();
    void onFeedbackSubmitClicked();
    void onFeedbackSent(const QString& status);

private:
    /// Radio pairs, option handlers, directory pickers and the contact form.
    void setupOptionPages();
    void clearFeedbackForm();
    QStringList m_feedbackAttachments;
    // End of Settings and feedback

    // Bars
    QToolBar* m_leftToolBar = nullptr;
    QToolBar* m_topToolBar = nullptr;
    QToolBar* m_infoToolBar = nullptr;
    QToolBar* m_designToolBar = nullptr;
    QToolBar* m_captureToolBar = nullptr;
    QToolButton* m_plandorButton = nullptr;
    QToolButton* m_ostrakButton = nullptr;
    QToolButton* m_optionsButton = nullptr;
    QToolButton* m_infoKivButton = nullptr;
    QLabel* m_networkStatusLabel = nullptr;
    QLabel* m_statusIconLabel = nullptr;
    QLabel* m_statusMessageLabel = nullptr;
    QLabel* m_captureFiguresLabel = nullptr; ///< live capture figures, right of the messages
    bool m_fitDefaultColumns = false;         ///< the analysis views took their default header state
    QList<QPushButton*> m_networkButtons;
    QList<QPushButton*> m_analysisButtons;
    QList<QPushButton*> m_optionButtons;
    QMenu* m_networkProjectMenu = nullptr;

    // Timers and spinners
    QTimer* m_statusBarTimer = nullptr;
    QTimer* m_statisticsTimer = nullptr;
    QTimer* m_networkRatioTimer = nullptr;
    QMovie* m_spinner1 = nullptr;
    QMovie* m_spinner3 = nullptr;
    QLockFile* m_captureLockFile = nullptr;

    QString m_styleSheet;
    QString m_currentFileProject;
    bool m_ctrlPressed = false;
    bool m_captureEditingLocked = false;
    bool m_networkConnected = false;
    bool m_capturing = false;
    bool m_defaultsRestored = false;
    bool m_refreshingOverview = false;

    // Arbitrator boards: detection, binding, LED colour, Connect/Disconnect
public:
    /// The device list queried at once in the caller's thread; also stored.
    QList<TARVEXCONF> updateTarvexsList();
    QList<TARVEXCONF> getTarvexList() const { return m_tarvexList; }
    /// Boards at the network's speed that no station has bound.
    QList<TARVEXCONF> getTarvexNotAttachedList() const;
    /// Station rows bound to a board.
    QModelIndexList getTarvexAttachedList() const;
    const QMap<quint16, QString>& getDeviceSubSysIdMap() const { return m_deviceTables.subSysIdMap(); }
    const QMap<quint8, QString>& getDeviceSpeedMap() const { return m_deviceTables.speedMap(); }
    const QMap<quint8, QString>& getRgbColorMap() const { return m_deviceTables.rgbColorMap(); }
    const DeviceTables& deviceTables() const { return m_deviceTables; }
    KivDevicesDetection* devicesDetection() const { return m_devicesDetection; }
    /// The running workers; null while disconnected.
    const ArbitratorWorkers* arbitratorWorkers() const { return m_arbitratorWorkers; }
    /// Sets a board's LED colour directly (network not connected); "Device Color" follows.
    bool setBoardRgbColor(const QModelIndex& station, LED_RGB_COLOR colour);

public slots:
    void onKivDevicesDetectionUpdate(QList<TARVEXCONF> devices);
    void onAutoBindDevicesClicked();
    void onUnbindAllDevicesClicked();
    void onDevicesBindingChanged();
    void onCoDecoNetworkButtonClicked();
    /// The station panel's colour choice: through the worker while connected, else straight to the board.
    void onRgbColorChanged();

private:
    void connectNetwork();
    void disconnectNetwork();
    void connectWorker(FipBusArbitratorDevice* worker);
    void setNetworkStatus(const QString& text, bool waiting);
    void setupDevices();
    void teardownDevices();
    void setDevicesScanning(bool scanning);
    void refreshDevicesTable();

    DeviceTables m_deviceTables;
    KivDevicesDetection* m_devicesDetection = nullptr;
    ArbitratorWorkers* m_arbitratorWorkers = nullptr;
    QLabel* m_networkSpinnerLabel = nullptr;
    QAction* m_networkSpinnerAction = nullptr;
    QList<TARVEXCONF> m_tarvexList;
    /// The last list as the library gives it: a count, then up to 50 records.
    quint8 m_tarvexRecords[1 + 50 * TARVEXCONF::RecordSize] = {};

    // Display filter, find and go to frame over the frame table (BX_filter.cpp)
public:
    FrameFilterATModel* frameFilterModel() const { return m_frameFilterATModel; }
    FrameFilterBar* frameFilterBar() const { return m_frameFilterBar; }
    /// Makes frame number `frame` the current row of the frame table (the next
    /// shown one when the filter hides it); false when the trace has no such frame.
    bool goToFrame(qint64 frame);

public slots:
    void onCustomContextTransactionATMenu(const QPoint& point);

private:
    void setupFrameFilter();

    FrameFilterATModel* m_frameFilterATModel = nullptr;
    FrameFilterBar* m_frameFilterBar = nullptr;
};
