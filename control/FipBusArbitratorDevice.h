#pragma once

#include "control/BoardTypes.h"
#include "platform/vantor/vantor.h"

#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QModelIndex>
#include <QObject>
#include <QString>
#include <QVariant>
#include <QVector>

#include <atomic>
#include <memory>

class MainDTModel;
class QMutex;
class QThread;
class QWaitCondition;

/// Drives one station's arbitrator board from a thread of its own: opens the
/// board, loads the station's configuration file, waits at the start barrier
/// shared with the other workers, then loops exchanging variables, messages,
/// files and commands, and writes the live results into the design model.
///
/// The worker is built in the model's thread, which is when it takes the
/// station's variables and messages; everything it writes to the model is
/// carried to the model's thread, and the user's edits of produced "Data" and
/// "Transfer Path" are carried back to the worker, so the two threads never
/// touch the same cell.
class FipBusArbitratorDevice : public QObject
{
    Q_OBJECT
public:
    FipBusArbitratorDevice(MainDTModel* model, const QModelIndex& stationIdx, const QString& fileReceptionDir,
                           QMutex* deviceMutex, QWaitCondition* startCondition, QObject* parent = nullptr);
    ~FipBusArbitratorDevice() override;

    /// Runs bkgdThread when `thread` starts; the worker must then be moved to it.
    void attachThread(QThread& thread);
    /// Ends the loop at the end of the current pass; safe from any thread.
    void stopProcessing();
    /// The start barrier's predicate, read and written under the shared mutex:
    /// a worker reaching the barrier once it is true does not wait.
    void setStartPredicate(const bool* released) { m_startReleased = released; }

    bool isReady() const { return m_ready.load(); }
    bool isProcessing() const { return m_processing.load(); }
    QModelIndex stationIndex() const { return m_stationIdx; }
    QString stationName() const { return m_stationName; }

    /// A copy of the messages received for a message; empty when none. Worker thread, or once it ended.
    QList<QList<quint8>> getMsgReceivedList(const QModelIndex& msgIdx) const;
    /// The station's message a file transfer concerns (Output Message for dir 1, else Input Message).
    QModelIndex searchMsgIdx(quint8 dir, quint16 destId, quint8 destSeg, quint16 srcId, quint8 srcSeg) const;

    void razLiveData();
    void loadLiveDataContext();
    void unloadLiveDataContext();

    /// File transfer callbacks; called on a library thread.
    void fileProgression(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                         u32 currentPacket, u32 totalPackets, double seconds);
    void fileCompletion(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                        u32 report, double seconds, char* path);

    /// Default LED colour names, with their leading blank.
    static QMap<quint8, QString> colorNames();

public slots:
    void bkgdThread();

    void onRgbColorCmdChanged(QModelIndex currentStationIdx, LED_RGB_COLOR led);
    void onBaCmdClicked(QModelIndex currentStationIdx, int type);
    void onSendMsgCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx);
    void onSendMediumCmdClicked(QModelIndex currentStationIdx, quint16 fieldualCmd);
    void onSendAperiodicListCmdClicked(QModelIndex currentStationIdx, QList<quint16> idList, quint8 mode);
    void onPurgeAperiodicListCmdClicked(QModelIndex currentStationIdx, quint8 mode);
    void onPurgeMsgCmdClicked(QModelIndex currentStationIdx, quint8 channel);
    void onEraseMsgCmdClicked(QModelIndex currentStationIdx, QModelIndex currentInputMessageIdx);
    void onMsgHistoricCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx, quint16 position);
    void onSendFileCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx);
    void onAbortFileCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx);
    void onStationIsolationTreatment(QModelIndex currentStationIdx, int msgBoxRet);

signals:
    void processingStarted();
    void processingStopped();
    void reportMessage(QString title, QString text);
    void msgHistoric(QModelIndex msgIdx, quint16 msgId, QList<quint8> msg);
    void stationIsolationEvent(QModelIndex staIdx);

private:
    /// A "Report Code" text with its value, so that a pass compares numbers, not texts.
    struct ReportCode {
        QString text;
        qint64 value = -1; ///< -1 when the text is no hexadecimal number
        void set(const QString& t)
        {
            bool ok = false;
            const uint v = t.toUInt(&ok, 16);
            text = t;
            value = ok ? qint64(v) : -1;
        }
    };
    struct Variable {
        QModelIndex idx;
        bool out = false;
        bool idOk = false;
        quint16 id = 0;
        int length = 0;
        bool refreshmentEnabled = false; ///< produced: its own switch; consumed: the producer's
        bool promptnessEnabled = false;
        qint64 periodMs = 0;
        QElapsedTimer timer;
        QByteArray outBytes; ///< produced "Data" parsed once per edit
        QByteArray inBytes;  ///< consumed bytes last shown in "Data"
        int refreshment = -1; ///< -1 no value, 0 false, 1 true
        int promptness = -1;
        QString data;
        ReportCode report;
    };
    struct Message {
        QModelIndex idx;
        quint8 kind = 0;
        QString srcId, dstId;
        quint8 srcSeg = 0, dstSeg = 0;
        quint16 channel = 0;
        bool ack = false;
        bool fileTransfer = false;
        QString data, transferPath;
        ReportCode report;
        quint32 sent = 0, received = 0, length = 0;
    };

    bool isForMe(const QModelIndex& stationIdx) const;
    Variable* variableAt(const QModelIndex& idx);
    Message* messageAt(const QModelIndex& idx);
    const Message* messageAt(const QModelIndex& idx) const;

    u32 startUp();
    void stopSequence(u32 code);
    void runPass(u32* code);
    bool exchangeVariables(u32* code);
    /// The message of a pending send request with its addresses, the request cleared;
    /// null when there is none or its addresses do not read.
    Message* takePending(QModelIndex* pending, quint16* dst, quint16* src);
    void sendPendingMessage(u32* code);
    void sendPendingFile(u32* code);
    void readEvent(u32* code);
    void readMessage(u32* code);
    void treatBaCommands(u32* code);
    void pollMedium(u32* code);
    void refreshmentTimeouts();
    void setFlagField(int* stored, const QModelIndex& row, int column, int value);
    void applyCompletion(const QModelIndex& idx, u8 dir, u32 report, double seconds, const QString& path);
    void resetLiveData(bool removeData);

    /// Carries a write to the model's thread.
    void write(const QModelIndex& row, int column, const QVariant& value);
    void updateReport(ReportCode* stored, const QModelIndex& row, u32 code);
    void onEditedInModel(const QModelIndex& row, int column, const QString& text);
    void log(const QString& text) const;
    void logError(const QString& text, u32 code) const;

    static QString toDataText(const quint8* bytes, int count);
    static QByteArray fromDataText(const QString& text, int max);
    static QString codeText(u32 code); ///< "0x%8.8x"
    static QString hexText(u32 code);  ///< upper-case hexadecimal

    QMutex* m_mutex;
    QWaitCondition* m_startCondition;
    const bool* m_startReleased = nullptr;
    MainDTModel* m_model;
    /// The design's shape when the worker was built; writes after it changed are dropped.
    quint64 m_generation = 0;
    QModelIndex m_stationIdx;
    QModelIndexList m_msgIndexes;
    QString m_fileReceptionDir;
    QMap<quint8, QString> m_colorNames;

    bool m_connected = false;
    bool m_networkInit = false;
    std::atomic<bool> m_processing { false };
    bool m_baRunning = false;
    std::atomic<bool> m_stopRequested { false };
    std::atomic<bool> m_ready { false };

    LED_RGB_COLOR m_ledColor = LED_BLACK;
    quint8 m_macrocycle = 1;

    bool m_ledCmd = false;
    bool m_baStartCmd = false;
    bool m_baContinueCmd = false;
    bool m_baChangeCmd = false;
    bool m_baStopCmd = false;
    bool m_isolated = false;
    bool m_isolationRetry = false;

    QModelIndex m_msgToSend;
    QList<quint16> m_aperiodicIds;
    quint8 m_aperiodicMode = 0;
    bool m_purgeAperiodic = false;
    bool m_purgeMsg = false;
    quint8 m_purgeChannel = 0;
    QModelIndex m_fileToSend, m_fileInEmission, m_fileToAbort;
    bool m_readingMsg = false;
    bool m_mediumCmdFlag = false;
    quint16 m_mediumCmd = 0;
    QMap<QModelIndex, QList<QList<quint8>>> m_msgReceived;

    // Station fields, taken at construction.
    QString m_stationName;
    bool m_baPresence = false;
    QString m_deviceType;
    quint8 m_deviceIndex = 0;
    QString m_filePath;
    QVector<Variable> m_variables;
    QVector<Message> m_messages;

    vantor_device_handle* m_handle = nullptr;
    vantor_callbacks m_callbacks {};
    QElapsedTimer m_mediumTimer;
    quint16 m_prevCounters[7] = {};
    quint32 m_wraps[7] = {};
    int m_prevMediumStatus = -1;
    QString m_baStatusCode;
    QString m_temperatureText;
    quint64 m_counterTotals[7] = {};
    QString m_colorText;

    /// Lives in the model's thread: forwards the user's edits to the worker.
    std::unique_ptr<QObject> m_modelSide;
    /// Set in the model's thread while the worker's own write lands, so that only
    /// the window's edits travel back (an echo could undo a newer count).
    std::shared_ptr<bool> m_writingOwn = std::make_shared<bool>(false);
};

/// The library's file callbacks: each forwards every argument to the worker given as user pointer.
namespace FipBusCallbacks {
void CallbackProgression(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                         u32 currentPacket, u32 totalPackets, double seconds, void* user);
void CallbackCompletion(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                        u32 report, double seconds, char* path, void* user);
} // namespace FipBusCallbacks
