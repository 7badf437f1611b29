#pragma once

#include "app/BoardTypes.h"
#include "capture/device/OstrakConf.h"

#include <QDateTime>
#include <QList>
#include <iterator>
#include <QMainWindow>
#include <QModelIndex>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QThread>
#include <QUrl>
#include <QVector>
#include <QWaitCondition>

namespace Ui { class BX; }

class BrxprjFile;
class CaptureSession;
class OstrakCard;
struct TraceRecordOptions;
class MainDTContextMenu;
class MainDTDelegate;
class MainDTModel;
class QAction;
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
    QString currentFileProject() const { return m_currentFileProject; }
    bool isModified() const { return m_modified; }
    bool isProjectOpen() const;
    QList<QAction*> recentFileActions() const { return QList<QAction*>(std::begin(m_recentFileActions), std::end(m_recentFileActions)); }
    int cleanUndoIndex() const { return m_cleanUndoIndex; }
    /// The path of a project that was never saved: working directory + "/untitled.brxprj".
    QString untitledFileProject() const;

    CaptureSession* captureSession() const { return m_captureSession; }
    OstrakCard* ostrakCard() const { return m_ostrakCard; }
    QString captureDuration() const { return m_captureDuration; }

    // ---- Run state, set by the capture and control parts ----
    bool isCapturing() const { return m_capturing; }
    void setCapturing(bool capturing) { m_capturing = capturing; }
    bool isNetworkConnected() const { return m_networkConnected; }
    void setNetworkConnected(bool connected) { m_networkConnected = connected; }
    bool defaultsRestored() const { return m_defaultsRestored; }
    void setDefaultsRestored(bool restored) { m_defaultsRestored = restored; }

signals:
    // Commands to the bus arbitrator workers.
    void rgbColorCmdChanged(int station, LED_RGB_COLOR color);
    void baCmdClicked(int station, int command);
    void sendMsgCmdClicked(int station, int message);
    void sendMediumCmdClicked(int station, quint16 command);
    void sendAperiodicListCmdClicked(int station, QList<quint16> ids, quint8 mode);
    void purgeAperiodicListCmdClicked(int station, quint8 value);
    void purgeMsgCmdClicked(int station, quint8 value);
    void eraseMsgCmdClicked(int station, int message);
    void msgHistoricCmdClicked(int station, int message, quint16 value);
    void sendFileCmdClicked(int station, int message);
    void abortFileCmdClicked(int station, int message);
    void defFileReceptionCmdClicked(int station, int message);
    void stationIsolationTreatment(int station, int value);
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
    void onStatisticsTimerTimeout();
    void onHardTrigClicked();
    /// The local cards the selection dialog offers.
    QList<OSTRAKCONF> updateOstrakList();

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
    int osSetHardTrigger(OstrakCard* card);
    int osGetHardTrigger(OstrakCard* card);

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
    QVector<qint64> m_captureOffsets;
    QDateTime m_captureStart;
    QString m_captureDuration;
    QString m_captureEnd;
    int m_statisticsTicks = 0;
    quint64 m_captureBytes = 0;

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
    bool m_modified = false;
    int m_cleanUndoIndex = 0;
    bool m_networkConnected = false;
    bool m_capturing = false;
    bool m_defaultsRestored = false;
    bool m_refreshingOverview = false;
};
