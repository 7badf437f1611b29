#include "control/FipBusArbitratorDevice.h"

#include "control/DeviceTables.h"
#include "design/MainDTModel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QWaitCondition>

#include <cmath>
#include <cstring>

namespace {
using M = MainDTModel;

bool isTrue(const QString& s)
{
    return s == QLatin1String("true");
}

quint8 parseByte(const QString& text)
{
    bool ok = false;
    const qlonglong v = MainDTModel::parseNumber(text, &ok);
    return ok ? quint8(v) : 0;
}

QString flagText(int value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

const QString NoReport = QStringLiteral("  -  ");
} // namespace

namespace FipBusCallbacks {
void CallbackProgression(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                         u32 currentPacket, u32 totalPackets, double seconds, void* user)
{
    if (user)
        static_cast<FipBusArbitratorDevice*>(user)->fileProgression(handle, dir, destId, destSeg, srcId, srcSeg,
                                                                     currentPacket, totalPackets, seconds);
}

void CallbackCompletion(vantor_device_handle* handle, u8 dir, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                        u32 report, double seconds, char* path, void* user)
{
    if (user)
        static_cast<FipBusArbitratorDevice*>(user)->fileCompletion(handle, dir, destId, destSeg, srcId, srcSeg,
                                                                    report, seconds, path);
}
} // namespace FipBusCallbacks

QMap<quint8, QString> FipBusArbitratorDevice::colorNames()
{
    return { { 0, QStringLiteral(" Black") }, { 1, QStringLiteral(" Blue") },    { 2, QStringLiteral(" Green") },
             { 3, QStringLiteral(" Cyan") },  { 4, QStringLiteral(" Red") },     { 5, QStringLiteral(" Magenta") },
             { 6, QStringLiteral(" Yellow") }, { 7, QStringLiteral(" White") } };
}

FipBusArbitratorDevice::FipBusArbitratorDevice(MainDTModel* model, const QModelIndex& stationIdx,
                                               const QString& fileReceptionDir, QMutex* deviceMutex,
                                               QWaitCondition* startCondition, QObject* parent)
    : QObject(parent)
    , m_mutex(deviceMutex)
    , m_startCondition(startCondition)
    , m_model(model)
    , m_stationIdx(stationIdx.sibling(stationIdx.row(), 0))
    , m_fileReceptionDir(fileReceptionDir)
    , m_colorNames(colorNames())
    , m_modelSide(new QObject)
{
    // Built in the model's thread: the only moment the worker reads the design freely.
    m_generation = m_model->structureGeneration();
    m_msgIndexes = m_model->getMessageIndexes(m_stationIdx);
    m_stationName = m_model->text(m_stationIdx, M::ColObject);
    m_baPresence = isTrue(m_model->text(m_stationIdx, M::ColBaPresence));
    m_deviceType = m_model->text(m_stationIdx, M::ColDeviceType);
    m_deviceIndex = parseByte(m_model->text(m_stationIdx, M::ColDeviceIndex));
    m_filePath = m_model->text(m_stationIdx, M::ColFilePath);
    m_baStatusCode = m_model->text(m_stationIdx, M::ColBaStatusCode);
    m_colorText = m_model->text(m_stationIdx, M::ColDeviceColor);
    m_temperatureText = m_model->text(m_stationIdx, M::ColDeviceTemperature);

    QSet<void*> tracked;
    for (const QModelIndex& idx : m_model->getVariableIndexes(m_stationIdx)) {
        Variable v;
        v.idx = idx;
        v.out = m_model->text(idx, M::ColVariableDirection) == QLatin1String("OUT");
        if (v.out) {
            v.id = MainDTModel::parseID(m_model->text(idx, M::ColVarOutId), &v.idOk);
            v.length = qBound(0, m_model->text(idx, M::ColVarOutLength).toInt(), VANTOR_VAR_WRITE_SIZE);
            v.refreshmentEnabled = isTrue(m_model->text(idx, M::ColVarOutRefreshmentEnabled));
            v.periodMs = qint64(m_model->text(idx, M::ColVarOutRefreshmentPeriod).toDouble());
            tracked.insert(idx.internalPointer());
        } else {
            v.id = MainDTModel::parseID(m_model->text(idx, M::ColVarInId), &v.idOk);
            v.promptnessEnabled = isTrue(m_model->text(idx, M::ColVarInPromptnessEnabled));
            const QModelIndexList producers = v.idOk ? m_model->getVariableIndexes(v.id, M::VARIABLE_OUT)
                                                     : QModelIndexList();
            v.refreshmentEnabled
                = !producers.isEmpty() && isTrue(m_model->text(producers.first(), M::ColVarOutRefreshmentEnabled));
        }
        v.data = m_model->text(idx, M::ColData);
        v.outBytes = fromDataText(v.data, VANTOR_VAR_WRITE_SIZE);
        v.inBytes = v.out ? QByteArray() : fromDataText(v.data, VANTOR_VAR_READ_SIZE - 2);
        v.report.set(m_model->text(idx, M::ColReportCode));
        m_variables.append(v);
    }
    for (const QModelIndex& idx : m_msgIndexes) {
        Message m;
        m.idx = idx;
        m.kind = m_model->classType(idx);
        m.srcSeg = parseByte(m_model->text(idx, M::ColMsgSourceSegment));
        m.srcId = m_model->text(idx, M::ColMsgSourceId);
        m.dstSeg = parseByte(m_model->text(idx, M::ColMsgDestinationSegment));
        m.dstId = m_model->text(idx, M::ColMsgDestinationId);
        m.channel = quint16(MainDTModel::parseNumber(m_model->text(idx, M::ColMsgChannelNumber)));
        m.ack = isTrue(m_model->text(idx, M::ColMsgAcknowledgmentEnabled));
        m.fileTransfer = isTrue(m_model->text(idx, M::ColMsgFileTransferEnabled));
        m.data = m_model->text(idx, M::ColData);
        m.report.set(m_model->text(idx, M::ColReportCode));
        m.transferPath = m_model->text(idx, M::ColTransferPath);
        m.sent = m_model->text(idx, M::ColMessagesSent).toUInt();
        m.received = m_model->text(idx, M::ColMessagesReceived).toUInt();
        m.length = m_model->text(idx, M::ColMessageLength).toUInt();
        m_messages.append(m);
        tracked.insert(idx.internalPointer());
    }

    // The window edits produced "Data", a file's "Transfer Path" and resets the
    // counts of a purged or erased message in the model's thread; the new texts
    // travel to the worker, which never reads those cells itself.
    const std::shared_ptr<bool> writingOwn = m_writingOwn;
    connect(m_model, &QAbstractItemModel::dataChanged, m_modelSide.get(),
            [this, tracked, writingOwn](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (*writingOwn || topLeft.parent() != bottomRight.parent())
                    return;
                for (int column : { int(M::ColData), int(M::ColReportCode), int(M::ColMessagesSent),
                                    int(M::ColMessagePosition), int(M::ColMessagesReceived),
                                    int(M::ColMessageLength), int(M::ColTransferPath) }) {
                    if (column < topLeft.column() || column > bottomRight.column())
                        continue;
                    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                        const QModelIndex idx = topLeft.sibling(row, 0);
                        if (!tracked.contains(idx.internalPointer()))
                            continue;
                        const QString text = m_model->text(idx, column);
                        QMetaObject::invokeMethod(
                            this, [this, idx, column, text] { onEditedInModel(idx, column, text); },
                            Qt::QueuedConnection);
                    }
                }
            });
}

FipBusArbitratorDevice::~FipBusArbitratorDevice() = default;

void FipBusArbitratorDevice::attachThread(QThread& thread)
{
    connect(&thread, &QThread::started, this, &FipBusArbitratorDevice::bkgdThread);
}

void FipBusArbitratorDevice::stopProcessing()
{
    m_stopRequested = true;
    m_processing = false;
}

// ---------------------------------------------------------------------------
// Helpers

void FipBusArbitratorDevice::write(const QModelIndex& row, int column, const QVariant& value)
{
    MainDTModel* model = m_model;
    const quint64 generation = m_generation;
    const std::shared_ptr<bool> own = m_writingOwn;
    const auto land = [model, generation, row, column, value, own] {
        *own = true;
        model->setLiveData(generation, row, column, value);
        *own = false;
    };
    if (QThread::currentThread() == m_model->thread()) {
        land();
        return;
    }
    QMetaObject::invokeMethod(model, land, Qt::QueuedConnection);
}

void FipBusArbitratorDevice::updateReport(ReportCode* stored, const QModelIndex& row, u32 code)
{
    if (stored->value == qint64(code))
        return;
    stored->text = codeText(code);
    stored->value = qint64(code);
    write(row, M::ColReportCode, stored->text);
}

void FipBusArbitratorDevice::setFlagField(int* stored, const QModelIndex& row, int column, int value)
{
    if (*stored == value)
        return;
    *stored = value;
    write(row, column, value < 0 ? QVariant() : QVariant(flagText(value)));
}

void FipBusArbitratorDevice::onEditedInModel(const QModelIndex& row, int column, const QString& text)
{
    if (Variable* v = variableAt(row)) {
        if (column == M::ColData && v->out) {
            v->data = text;
            v->outBytes = fromDataText(text, VANTOR_VAR_WRITE_SIZE);
        } else if (column == M::ColReportCode) {
            v->report.set(text);
        }
    } else if (Message* m = messageAt(row)) {
        switch (column) {
        case M::ColData: m->data = text; break;
        case M::ColTransferPath: m->transferPath = text; break;
        case M::ColReportCode: m->report.set(text); break;
        case M::ColMessagesSent: m->sent = text.toUInt(); break;
        case M::ColMessagesReceived: m->received = text.toUInt(); break;
        case M::ColMessageLength: m->length = text.toUInt(); break;
        default: break; // the position follows the received count
        }
    }
}

void FipBusArbitratorDevice::log(const QString& text) const
{
    qDebug().noquote() << QStringLiteral("[BRANTIX] ") + m_stationName + text;
}

void FipBusArbitratorDevice::logError(const QString& text, u32 code) const
{
    log(text + hexText(code) + QLatin1Char('h'));
}

QString FipBusArbitratorDevice::toDataText(const quint8* bytes, int count)
{
    QString text;
    text.reserve(count * 3);
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) {
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0xF]);
        text += QLatin1Char(' ');
    }
    return text;
}

QByteArray FipBusArbitratorDevice::fromDataText(const QString& text, int max)
{
    QByteArray bytes;
    const QVector<QStringRef> parts = text.splitRef(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QStringRef& part : parts) {
        if (bytes.size() >= max)
            break;
        bytes.append(char(part.toUInt(nullptr, 16)));
    }
    return bytes;
}

QString FipBusArbitratorDevice::codeText(u32 code)
{
    return QString::asprintf("0x%8.8x", code);
}

QString FipBusArbitratorDevice::hexText(u32 code)
{
    return QString::number(code, 16).toUpper();
}

bool FipBusArbitratorDevice::isForMe(const QModelIndex& stationIdx) const
{
    bool ok = false;
    const qlonglong address = MainDTModel::parseNumber(m_model->text(stationIdx, M::ColStationAddress), &ok);
    return ok && m_model->getStationIdx(quint8(address)) == m_stationIdx;
}

FipBusArbitratorDevice::Variable* FipBusArbitratorDevice::variableAt(const QModelIndex& idx)
{
    for (Variable& v : m_variables) {
        if (v.idx.internalPointer() == idx.internalPointer())
            return &v;
    }
    return nullptr;
}

FipBusArbitratorDevice::Message* FipBusArbitratorDevice::messageAt(const QModelIndex& idx)
{
    for (Message& m : m_messages) {
        if (idx.isValid() && m.idx.internalPointer() == idx.internalPointer())
            return &m;
    }
    return nullptr;
}

const FipBusArbitratorDevice::Message* FipBusArbitratorDevice::messageAt(const QModelIndex& idx) const
{
    return const_cast<FipBusArbitratorDevice*>(this)->messageAt(idx);
}

QList<QList<quint8>> FipBusArbitratorDevice::getMsgReceivedList(const QModelIndex& msgIdx) const
{
    const Message* m = messageAt(msgIdx);
    return m ? m_msgReceived.value(m->idx) : QList<QList<quint8>>();
}

QModelIndex FipBusArbitratorDevice::searchMsgIdx(quint8 dir, quint16 destId, quint8 destSeg, quint16 srcId,
                                                 quint8 srcSeg) const
{
    const quint8 kind = dir == 1 ? M::MESSAGE_OUT : M::MESSAGE_IN;
    for (const Message& m : m_messages) {
        bool okDst = false, okSrc = false;
        if (m.kind == kind && MainDTModel::parseID(m.dstId, &okDst) == destId && okDst && m.dstSeg == destSeg
            && MainDTModel::parseID(m.srcId, &okSrc) == srcId && okSrc && m.srcSeg == srcSeg)
            return m.idx;
    }
    return QModelIndex();
}

// ---------------------------------------------------------------------------
// Live data

void FipBusArbitratorDevice::razLiveData()
{
    resetLiveData(false);
}

void FipBusArbitratorDevice::loadLiveDataContext()
{
    for (Variable& v : m_variables) {
        if (!v.out)
            continue;
        v.outBytes = QByteArray(v.length, '\0');
        v.data = QStringLiteral("00 ").repeated(v.length);
        write(v.idx, M::ColData, v.data);
    }
    razLiveData();
}

void FipBusArbitratorDevice::unloadLiveDataContext()
{
    resetLiveData(true);
}

void FipBusArbitratorDevice::resetLiveData(bool removeData)
{
    m_ledColor = LED_BLACK;
    m_macrocycle = 1;
    m_ledCmd = m_baStartCmd = m_baContinueCmd = m_baChangeCmd = m_baStopCmd = false;
    m_purgeAperiodic = m_purgeMsg = m_mediumCmdFlag = false;
    m_isolated = m_isolationRetry = false;
    m_msgToSend = m_fileToSend = m_fileToAbort = QModelIndex();
    m_aperiodicIds.clear();

    const QString zero = QStringLiteral("0");
    for (Variable& v : m_variables) {
        v.refreshment = v.promptness = -1;
        write(v.idx, M::ColRefreshment, QVariant());
        write(v.idx, M::ColPromptness, QVariant());
        v.report.set(NoReport);
        write(v.idx, M::ColReportCode, v.report.text);
        if (removeData) {
            v.data.clear();
            v.outBytes.clear();
            v.inBytes.clear();
            write(v.idx, M::ColData, QVariant());
        }
    }
    for (Message& m : m_messages) {
        m.report.set(NoReport);
        write(m.idx, M::ColReportCode, m.report.text);
        // Every message starts the run fresh, so the history buttons never point
        // into the previous run.
        m.sent = m.received = 0;
        write(m.idx, M::ColMessagesSent, zero);
        write(m.idx, M::ColMessagesReceived, zero);
        write(m.idx, M::ColMessagePosition, zero);
        m_msgReceived[m.idx].clear();
        if (m.kind == M::MESSAGE_IN) {
            m.length = 0;
            write(m.idx, M::ColMessageLength, zero);
        }
        if (m.kind == M::MESSAGE_OUT) {
            if (m.fileTransfer && m.transferPath.isEmpty()) {
                m.transferPath = m_fileReceptionDir + QLatin1Char('/');
                write(m.idx, M::ColTransferPath, m.transferPath);
            }
        }
        for (int column : { M::ColTransferState, M::ColTransferTime, M::ColCurrentPacket, M::ColTotalPackets })
            write(m.idx, column, zero);
        if (removeData) {
            m.data.clear();
            write(m.idx, M::ColData, QVariant());
        }
    }
}

// ---------------------------------------------------------------------------
// Commands (queued: they run in the worker's thread between passes)

void FipBusArbitratorDevice::onRgbColorCmdChanged(QModelIndex currentStationIdx, LED_RGB_COLOR led)
{
    if (!isForMe(currentStationIdx))
        return;
    m_ledColor = led;
    m_ledCmd = true;
}

void FipBusArbitratorDevice::onBaCmdClicked(QModelIndex currentStationIdx, int type)
{
    if (!isForMe(currentStationIdx))
        return;
    switch (type) {
    case 0: m_baStartCmd = true; break;
    case 1: m_baContinueCmd = true; break;
    case 2: m_baChangeCmd = true; break;
    case 3: m_baStopCmd = true; break;
    default: break;
    }
}

void FipBusArbitratorDevice::onSendMsgCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx)
{
    if (isForMe(currentStationIdx))
        m_msgToSend = currentMsgIdx;
}

void FipBusArbitratorDevice::onSendMediumCmdClicked(QModelIndex currentStationIdx, quint16 fieldualCmd)
{
    if (!isForMe(currentStationIdx))
        return;
    m_mediumCmd = fieldualCmd;
    m_mediumCmdFlag = true;
}

void FipBusArbitratorDevice::onSendAperiodicListCmdClicked(QModelIndex currentStationIdx, QList<quint16> idList,
                                                           quint8 mode)
{
    if (!isForMe(currentStationIdx))
        return;
    m_aperiodicIds = idList;
    m_aperiodicMode = mode;
}

void FipBusArbitratorDevice::onPurgeAperiodicListCmdClicked(QModelIndex currentStationIdx, quint8 mode)
{
    if (!isForMe(currentStationIdx))
        return;
    m_aperiodicMode = mode;
    m_purgeAperiodic = true;
}

void FipBusArbitratorDevice::onPurgeMsgCmdClicked(QModelIndex currentStationIdx, quint8 channel)
{
    if (!isForMe(currentStationIdx))
        return;
    m_purgeChannel = channel;
    m_purgeMsg = true;
}

void FipBusArbitratorDevice::onEraseMsgCmdClicked(QModelIndex currentStationIdx, QModelIndex currentInputMessageIdx)
{
    if (!isForMe(currentStationIdx))
        return;
    if (const Message* m = messageAt(currentInputMessageIdx))
        m_msgReceived[m->idx].clear();
}

void FipBusArbitratorDevice::onMsgHistoricCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx,
                                                     quint16 position)
{
    if (!isForMe(currentStationIdx))
        return;
    const QList<QList<quint8>> list = getMsgReceivedList(currentMsgIdx);
    if (position <= list.size())
        emit msgHistoric(currentMsgIdx, position, position == 0 ? QList<quint8>() : list.at(position - 1));
}

void FipBusArbitratorDevice::onSendFileCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx)
{
    if (isForMe(currentStationIdx))
        m_fileToSend = currentMsgIdx;
}

void FipBusArbitratorDevice::onAbortFileCmdClicked(QModelIndex currentStationIdx, QModelIndex currentMsgIdx)
{
    if (isForMe(currentStationIdx))
        m_fileToAbort = currentMsgIdx;
}

void FipBusArbitratorDevice::onStationIsolationTreatment(QModelIndex currentStationIdx, int msgBoxRet)
{
    if (!isForMe(currentStationIdx))
        return;
    if (msgBoxRet == QMessageBox::Retry) {
        m_isolationRetry = true;
    } else if (msgBoxRet == QMessageBox::Abort) {
        m_isolated = false;
        m_processing = false;
    }
}

// ---------------------------------------------------------------------------
// Thread

void FipBusArbitratorDevice::bkgdThread()
{
    u32 code = startUp();
    if (code == 0) {
        emit processingStarted();
        m_mediumTimer.start();
        while (m_processing)
            runPass(&code);
        QThread::msleep(1000);
        QCoreApplication::processEvents();
        emit processingStopped();
    }
    stopSequence(code);
}

u32 FipBusArbitratorDevice::startUp()
{
    m_networkInit = false;
    m_ready = false;
    const u32 type = DeviceTables::interfaceTypeOf(m_deviceType);
    loadLiveDataContext();
    for (Variable& v : m_variables)
        v.timer.start();

    u32 code = 0;
    {
        QMutexLocker lock(m_mutex);
        u32 err = 0;
        m_handle = vantor_device_open(type, m_deviceIndex, &err);
        code = err;
        if (code == 0 && !m_handle)
            code = VANTOR_ERR_NO_DEVICE;
        m_connected = code == 0;
    }
    if (code == 0) {
        QMutexLocker lock(m_mutex);
        m_callbacks = vantor_callbacks { &FipBusCallbacks::CallbackCompletion, &FipBusCallbacks::CallbackProgression,
                                         nullptr, nullptr, this };
        code = vantor_init_network(m_handle, 0, m_filePath.toUtf8().constData(), &m_callbacks);
        m_networkInit = code == 0;
    }
    if (code == 0) {
        QMutexLocker lock(m_mutex);
        code = vantor_start_network(m_handle);
        if (code == 0 && !m_stopRequested)
            m_processing = true;
    }
    if (code == 0) {
        QDir().mkpath(m_fileReceptionDir);
        const QString path = QDir(m_fileReceptionDir).exists() && !m_fileReceptionDir.isEmpty()
            ? m_fileReceptionDir + QLatin1Char('/')
            : QString();
        code = vantor_set_file_reception_dir_path(m_handle, path.toUtf8().constData());
        log(QStringLiteral(" - File Reception - Directory path: ") + path);
        if (code)
            log(QStringLiteral(" - File Reception - return :") + QString::asprintf("0x%08X", code));
    }

    // Every worker reaches the barrier, failed or not, so the main window's wait for
    // the ready flags always ends.
    m_ready = true;
    {
        QMutexLocker lock(m_mutex);
        log(QStringLiteral(" - Waiting for the start ..."));
        if (m_startReleased) {
            while (!*m_startReleased)
                m_startCondition->wait(m_mutex);
        } else {
            m_startCondition->wait(m_mutex);
        }
    }

    if (m_baPresence && code == 0) {
        code = vantor_start_ba(m_handle, m_macrocycle);
        m_baRunning = code == 0;
        log(QStringLiteral(" - START - return :") + QString::asprintf("0x%08X", code));
        log(QStringLiteral(" - INFO  - device type :") + QString::number(type));
        log(QStringLiteral(" - device index :") + QString::number(m_deviceIndex));
        log(QStringLiteral(" - is connected :") + flagText(m_connected));
        log(QStringLiteral(" - is network init :") + flagText(m_networkInit));
        log(QStringLiteral(" - is processing :") + flagText(m_processing));
        log(QStringLiteral(" - is ba running :") + flagText(m_baRunning));
    }
    if (m_connected)
        vantor_set_medium_cmd(m_handle, 0x10);
    if (code != 0)
        m_processing = false;
    return code;
}

void FipBusArbitratorDevice::stopSequence(u32 code)
{
    if (code != 0) {
        log(QStringLiteral(" - PROCESS - return  : ") + QString::asprintf("0x%08X", code));
        const QString text = code == VANTOR_ERR_USB_NO_RESPONSE
            ? QStringLiteral("The USB device did not respond to the last request.")
            : QString::fromUtf8(vantor_get_error_str(code));
        emit reportMessage(m_stationName, text);
    }
    if (m_connected) {
        if (m_networkInit) {
            if (m_baRunning) {
                vantor_stop_ba(m_handle);
                m_baStatusCode = QStringLiteral("0x0000");
                write(m_stationIdx, M::ColBaStatusCode, m_baStatusCode);
                write(m_stationIdx, M::ColBaStatus, m_model->getBaStatusCodeToStr(0));
                m_baRunning = false;
            }
            vantor_stop_network(m_handle);
            m_networkInit = false;
        }
        vantor_device_close(m_handle);
        m_handle = nullptr;
    }
    m_connected = false;
    m_baRunning = false;
    m_processing = false;
    unloadLiveDataContext();
    for (int column = M::ColCh1Active; column <= M::ColCh2WatchdogError; ++column)
        write(m_stationIdx, column, QStringLiteral("false"));
    m_prevMediumStatus = -1;
    log(QStringLiteral(" - STOP - return : ") + QString::asprintf("0x%08X", code));
}

// ---------------------------------------------------------------------------
// One pass

void FipBusArbitratorDevice::runPass(u32* code)
{
    if (!exchangeVariables(code))
        return;
    sendPendingMessage(code);

    if (m_fileToAbort.isValid()) {
        if (m_fileToAbort == m_fileInEmission)
            *code = vantor_abort_file_emission(m_handle);
        m_fileToAbort = QModelIndex();
    }
    sendPendingFile(code);

    if (m_purgeMsg) {
        u16 freed = 0;
        u8 scratch[VANTOR_MSG_SIZE] = {};
        const u16 rc = vantor_purge_msg(m_handle, m_purgeChannel, &freed, scratch);
        *code = rc;
        if (rc == 0)
            log(QStringLiteral(" - vantor_purge_msg - OK - Channel: ") + QString::number(m_purgeChannel)
                + QStringLiteral(" - Number of Blocks Freed: ") + QString::number(freed));
        else
            logError(QStringLiteral(" - vantor_purge_msg - ERROR: "), rc);
        m_purgeMsg = false;
    }
    if (!m_aperiodicIds.isEmpty()) {
        for (quint16 id : qAsConst(m_aperiodicIds)) {
            *code = vantor_send_aper_by_id(m_handle, id, m_aperiodicMode);
            if (*code)
                logError(QStringLiteral(" - vantor_send_aper_by_id - ERROR: "), *code);
        }
        m_aperiodicIds.clear();
    }
    if (m_purgeAperiodic) {
        *code = vantor_purge_aper(m_handle, m_aperiodicMode);
        if (*code)
            logError(QStringLiteral(" - vantor_purge_aper - ERROR: "), *code);
        m_purgeAperiodic = false;
    }

    readEvent(code);

    if (m_mediumCmdFlag) {
        *code = vantor_set_medium_cmd(m_handle, m_mediumCmd);
        if (*code)
            logError(QStringLiteral(" - vantor_set_medium_cmd - ERROR: "), *code);
        m_mediumCmdFlag = false;
    }
    if (m_isolationRetry) {
        *code = vantor_stop_ba(m_handle);
        for (u16 cmd : { 0x0A, 0x10, 0x20, 0x40, 0x05, 0x10 })
            *code = vantor_set_medium_cmd(m_handle, cmd);
        m_isolationRetry = false;
        m_isolated = false;
    }
    if (m_mediumTimer.nsecsElapsed() > 100000000) {
        pollMedium(code);
        m_mediumTimer.restart();
    }
    treatBaCommands(code);

    QThread::msleep(1);
    refreshmentTimeouts();
    QThread::msleep(1);
    QCoreApplication::processEvents();
}

bool FipBusArbitratorDevice::exchangeVariables(u32* code)
{
    for (Variable& v : m_variables) {
        u32 rc = 0;
        if (!v.idOk) {
            updateReport(&v.report, v.idx, rc);
            continue;
        }
        if (v.out) {
            u8 buffer[VANTOR_VAR_WRITE_SIZE] = {};
            std::memcpy(buffer, v.outBytes.constData(), size_t(qMin(v.outBytes.size(), VANTOR_VAR_WRITE_SIZE)));
            rc = vantor_write_var_by_id(m_handle, v.id, buffer);
            *code = rc;
            if (rc != 0) {
                m_processing = false;
                logError(QStringLiteral(" - vantor_write_var_by_id(") + hexText(v.id) + QStringLiteral("h) - ERROR: "),
                         rc);
                updateReport(&v.report, v.idx, rc);
                return false;
            }
            v.timer.restart();
            if (v.refreshmentEnabled && v.refreshment != 1)
                setFlagField(&v.refreshment, v.idx, M::ColRefreshment, v.refreshment < 0 ? 0 : 1);
        } else {
            u8 buffer[VANTOR_VAR_READ_SIZE] = {};
            u8 promptness = 0, refreshment = 0;
            rc = vantor_read_var_by_id(m_handle, v.id, buffer, &promptness, &refreshment);
            *code = rc == VANTOR_VAR_NOT_FRESH ? 0 : rc;
            if (rc != 0 && rc != VANTOR_VAR_NOT_FRESH) {
                logError(QStringLiteral(" - vantor_read_var_by_id(") + hexText(v.id) + QStringLiteral("h) - ERROR: "),
                         rc);
            } else {
                if (v.refreshmentEnabled)
                    setFlagField(&v.refreshment, v.idx, M::ColRefreshment,
                                 v.refreshment < 0 ? 0 : int(refreshment != 0));
                if (v.promptnessEnabled)
                    setFlagField(&v.promptness, v.idx, M::ColPromptness, v.promptness < 0 ? 0 : int(promptness != 0));
                const int length = qMin(int(buffer[1]), VANTOR_VAR_READ_SIZE - 2);
                if (length != v.inBytes.size() || std::memcmp(v.inBytes.constData(), buffer + 2, size_t(length))) {
                    v.inBytes = QByteArray(reinterpret_cast<const char*>(buffer + 2), length);
                    v.data = toDataText(buffer + 2, length);
                    write(v.idx, M::ColData, v.data);
                }
            }
        }
        updateReport(&v.report, v.idx, rc);
    }
    return true;
}

FipBusArbitratorDevice::Message* FipBusArbitratorDevice::takePending(QModelIndex* pending, quint16* dst, quint16* src)
{
    // A request is served once, even when its row no longer holds a sendable message.
    if (!pending->isValid())
        return nullptr;
    Message* m = messageAt(*pending);
    *pending = QModelIndex();
    if (!m)
        return nullptr;
    bool okDst = false, okSrc = false;
    *dst = MainDTModel::parseID(m->dstId, &okDst);
    *src = MainDTModel::parseID(m->srcId, &okSrc);
    return okDst && okSrc ? m : nullptr;
}

void FipBusArbitratorDevice::sendPendingMessage(u32* code)
{
    quint16 dst = 0, src = 0;
    Message* m = takePending(&m_msgToSend, &dst, &src);
    if (!m)
        return;
    const QByteArray data = fromDataText(m->data, VANTOR_MSG_DATA_MAX);
    const int n = data.size() + 6;
    u8 buffer[VANTOR_MSG_SIZE] = {};
    buffer[1] = m->ack ? 0x10 : 0;
    buffer[2] = u8(n >> 8);
    buffer[3] = u8(n);
    buffer[4] = u8(dst >> 8);
    buffer[5] = u8(dst);
    buffer[6] = m->dstSeg;
    buffer[7] = u8(src >> 8);
    buffer[8] = u8(src);
    buffer[9] = m->srcSeg;
    std::memcpy(buffer + 10, data.constData(), size_t(data.size()));
    const u32 rc = vantor_write_msg(m_handle, m->channel, buffer);
    *code = rc;
    if (rc == 0) {
        log(QStringLiteral(" - vantor_write_msg - OK - Channel: ") + QString::number(m->channel));
        ++m->sent;
        write(m->idx, M::ColMessagesSent, QString::number(m->sent));
    } else {
        logError(QStringLiteral(" - vantor_write_msg - ERROR: "), rc);
    }
    updateReport(&m->report, m->idx, rc);
}

void FipBusArbitratorDevice::sendPendingFile(u32* code)
{
    quint16 dst = 0, src = 0;
    Message* m = takePending(&m_fileToSend, &dst, &src);
    if (!m)
        return;
    QByteArray path = m->transferPath.toUtf8();
    const u32 rc = vantor_send_file(m_handle, m->channel, dst, m->dstSeg, src, m->srcSeg, path.data());
    *code = rc;
    if (rc == 0) {
        log(QStringLiteral(" - vantor_send_file - OK - Channel: ") + QString::number(m->channel));
        m_fileInEmission = m->idx;
        m->report.set(QStringLiteral("-"));
    } else {
        logError(QStringLiteral(" - vantor_send_file - ERROR: "), rc);
        write(m->idx, M::ColTransferState, QStringLiteral("3"));
        m->report.set(codeText(rc));
    }
    write(m->idx, M::ColReportCode, m->report.text);
}

void FipBusArbitratorDevice::readEvent(u32* code)
{
    u16 event = 0, param = 0;
    const u32 rc = vantor_read_evt(m_handle, &event, &param);
    if (rc == VANTOR_NO_EVENT) {
        *code = 0;
        return;
    }
    *code = rc;
    if (rc != 0) {
        logError(QStringLiteral(" - vantor_read_evt - ERROR: "), rc);
        return;
    }
    const QString p = hexText(param);
    switch (event) {
    case 0x100: log(QStringLiteral(" - EVENT - SEND_VAR_T - Access Key: ") + p); break;
    case 0x130: log(QStringLiteral(" - EVENT - SEND_APU")); break;
    case 0x131: log(QStringLiteral(" - EVENT - SEND_APN")); break;
    case 0x140: log(QStringLiteral(" - EVENT - SEND_MSG - Report: ") + p); break;
    case 0x200: log(QStringLiteral(" - EVENT - RECEIVE_VAR_T")); break;
    case 0x240:
        log(QStringLiteral(" - EVENT - RECEIVE_MSG"));
        readMessage(code);
        break;
    case 0x400: log(QStringLiteral(" - EVENT - BA_ACTIVITY")); break;
    case 0x401: log(QStringLiteral(" - EVENT - BA_STOP1")); break;
    case 0x402: log(QStringLiteral(" - EVENT - BA_STOP2")); break;
    case 0x404: log(QStringLiteral(" - EVENT - BA_STOP3")); break;
    case 0x408: log(QStringLiteral(" - EVENT - BA_IDLE")); break;
    case 0x8100:
    case 0x8200: break;
    default:
        if ((event & 0x500) == 0x500)
            log(QStringLiteral(" - EVENT - BA_SUSPEND ") + QString::number(event & 0xFF)
                + QStringLiteral(" - BA Address Program: ") + p);
        else
            log(QStringLiteral(" - EVENT - UNKNOWN - Event Code: ") + hexText(event)
                + QStringLiteral(" - Event Parameter: ") + p);
        break;
    }
}

void FipBusArbitratorDevice::readMessage(u32* code)
{
    m_readingMsg = true;
    u8 buffer[VANTOR_MSG_SIZE] = {};
    const u32 rc = vantor_read_msg(m_handle, buffer);
    *code = rc;
    if (rc != 0) {
        logError(QStringLiteral(" - vantor_read_msg - ERROR: "), rc);
        m_readingMsg = false;
        return;
    }
    log(QStringLiteral(" - vantor_read_msg - OK"));
    const quint16 dstId = quint16(buffer[4] << 8 | buffer[5]);
    const quint8 dstSeg = buffer[6];
    const quint16 srcId = quint16(buffer[7] << 8 | buffer[8]);
    const quint8 srcSeg = buffer[9];
    const int length = qMin(int(buffer[2] | buffer[3] << 8), VANTOR_MSG_DATA_MAX);
    QList<quint8> bytes;
    bytes.reserve(length);
    for (int i = 0; i < length; ++i)
        bytes.append(buffer[10 + i]);
    const QString data = toDataText(buffer + 10, length);

    for (Message& m : m_messages) {
        if (m.fileTransfer)
            continue;
        bool okSrc = false, okDst = false;
        if (MainDTModel::parseID(m.srcId, &okSrc) != srcId || !okSrc || MainDTModel::parseID(m.dstId, &okDst) != dstId
            || !okDst || m.srcSeg != srcSeg || m.dstSeg != dstSeg)
            continue;
        ++m.received;
        write(m.idx, M::ColMessagesReceived, QString::number(m.received));
        write(m.idx, M::ColMessagePosition, QString::number(m.received));
        if (m.length != quint32(length)) {
            m.length = quint32(length);
            write(m.idx, M::ColMessageLength, QString::number(length));
        }
        m_msgReceived[m.idx].append(bytes);
        if (m.data != data) {
            m.data = data;
            write(m.idx, M::ColData, data);
        }
        updateReport(&m.report, m.idx, rc);
    }
    m_readingMsg = false;
}

void FipBusArbitratorDevice::treatBaCommands(u32* code)
{
    if (!m_baPresence)
        return;
    if (m_ledCmd) {
        *code = vantor_set_rgb_led(m_handle, m_ledColor);
        const QString name = m_colorNames.value(quint8(m_ledColor));
        if (name != m_colorText) {
            m_colorText = name;
            write(m_stationIdx, M::ColDeviceColor, name);
        }
        m_ledCmd = false;
    }
    if (m_baStartCmd) {
        m_macrocycle = 1;
        *code = vantor_start_ba(m_handle, 1);
        if (*code == 0) {
            m_baRunning = true;
            log(QStringLiteral(" - vantor_start_ba - OK"));
        } else {
            logError(QStringLiteral(" - vantor_start_ba - ERROR: "), *code);
        }
        m_baStartCmd = false;
    }
    if (m_baContinueCmd) {
        qDebug().noquote() << "baContinueCmdToTreat has been treated";
        m_baContinueCmd = false;
    }
    if (m_baChangeCmd) {
        m_macrocycle = m_macrocycle == 1 ? 2 : 1;
        *code = vantor_change_macrocycle(m_handle, m_macrocycle);
        if (*code == 0)
            log(QStringLiteral(" - vantor_change_macrocycle - OK"));
        else
            logError(QStringLiteral(" - vantor_change_macrocycle - ERROR: "), *code);
        m_baChangeCmd = false;
    }
    if (m_baStopCmd) {
        *code = vantor_stop_ba(m_handle);
        if (*code == 0) {
            m_baRunning = false;
            log(QStringLiteral(" - vantor_stop_ba - OK"));
        } else {
            logError(QStringLiteral(" - vantor_stop_ba - ERROR: "), *code);
        }
        m_baStopCmd = false;
    }
}

void FipBusArbitratorDevice::pollMedium(u32* code)
{
    vantor_medium medium {};
    u32 rc = 0;
    {
        QMutexLocker lock(m_mutex);
        rc = vantor_get_medium(m_handle, &medium);
    }
    *code = rc;
    if (rc != 0) {
        logError(QStringLiteral(" - vantor_get_medium - ERROR: "), rc);
    } else {
        for (int i = 0; i < 7; ++i) {
            if (medium.counters[i] < m_prevCounters[i])
                ++m_wraps[i];
            // One wrap counts 65535, as the board's counters are read.
            const quint64 total = quint64(m_wraps[i]) * 65535u + medium.counters[i];
            if (total != m_counterTotals[i] || m_prevMediumStatus < 0) {
                m_counterTotals[i] = total;
                write(m_stationIdx, M::ColCh1NoError + i, QString::number(total));
            }
            m_prevCounters[i] = medium.counters[i];
        }
        const int status = medium.mediumStatus;
        if (status != m_prevMediumStatus) {
            for (int bit = 0; bit < 6; ++bit)
                write(m_stationIdx, M::ColCh1Active + bit, flagText((status >> bit) & 1));
        }
        const bool channel1 = (status & 0x5) == 0x1;
        const bool channel2 = (status & 0xA) == 0x2;
        if (!channel1 && !channel2 && !m_isolated) {
            m_isolated = true;
            qDebug().noquote() << m_stationName + QStringLiteral(" - FIP medium failure: The FIP communication is broken.");
            emit stationIsolationEvent(m_stationIdx);
        }
        bool ok = false;
        const quint16 stored = m_baStatusCode.toUShort(&ok, 16);
        if (ok && stored != medium.baStatus) {
            m_baStatusCode = QString::asprintf("0x%4.4x", medium.baStatus);
            write(m_stationIdx, M::ColBaStatusCode, m_baStatusCode);
            write(m_stationIdx, M::ColBaStatus, m_model->getBaStatusCodeToStr(medium.baStatus));
        }
        m_prevMediumStatus = status;
    }

    vantor_monitoring_infos info {};
    {
        QMutexLocker lock(m_mutex);
        rc = vantor_get_monitoring_infos(m_handle, &info);
    }
    *code = rc;
    const QString text = rc != 0 || std::isnan(info.temperature)
        ? QStringLiteral("-")
        : QString::asprintf("%0.1f", double(info.temperature)) + QString::fromUtf8(" °C");
    if (text != m_temperatureText) {
        m_temperatureText = text;
        write(m_stationIdx, M::ColDeviceTemperature, text);
    }
}

void FipBusArbitratorDevice::refreshmentTimeouts()
{
    for (Variable& v : m_variables) {
        if (v.out && v.refreshmentEnabled && v.refreshment == 1 && v.timer.elapsed() > v.periodMs)
            setFlagField(&v.refreshment, v.idx, M::ColRefreshment, 0);
    }
}

// ---------------------------------------------------------------------------
// File callbacks (library thread)

void FipBusArbitratorDevice::fileProgression(vantor_device_handle*, u8 dir, u16 destId, u8 destSeg, u16 srcId,
                                             u8 srcSeg, u32 currentPacket, u32 totalPackets, double seconds)
{
    const QModelIndex idx = searchMsgIdx(dir, destId, destSeg, srcId, srcSeg);
    if (!idx.isValid())
        return;
    write(idx, M::ColTransferState, QStringLiteral("1"));
    write(idx, M::ColCurrentPacket, QString::number(currentPacket));
    write(idx, M::ColTotalPackets, QString::number(totalPackets));
    write(idx, M::ColTransferTime, QString::number(seconds));
}

void FipBusArbitratorDevice::fileCompletion(vantor_device_handle*, u8 dir, u16 destId, u8 destSeg, u16 srcId,
                                            u8 srcSeg, u32 report, double seconds, char* path)
{
    const QModelIndex idx = searchMsgIdx(dir, destId, destSeg, srcId, srcSeg);
    if (!idx.isValid())
        return;
    const QString pathText = path ? QString::fromUtf8(path) : QString();
    // The file in emission, the received lists and the stored report belong to the worker's thread.
    QMetaObject::invokeMethod(
        this, [this, idx, dir, report, seconds, pathText] { applyCompletion(idx, dir, report, seconds, pathText); },
        Qt::QueuedConnection);
}

void FipBusArbitratorDevice::applyCompletion(const QModelIndex& idx, u8 dir, u32 report, double seconds,
                                             const QString& path)
{
    Message* m = messageAt(idx);
    if (!m)
        return;
    updateReport(&m->report, idx, report);
    write(idx, M::ColTransferState, report == 0 ? QStringLiteral("2") : QStringLiteral("3"));
    const QString tail = QStringLiteral(" - Transfer duration ") + QString::number(seconds)
        + QStringLiteral(" s - Report: ") + QString::fromUtf8(vantor_get_error_str(report));
    if (dir == 1) {
        qDebug().noquote() << QStringLiteral("[BRANTIX] [CALLBACK - FILE EMISSION END] - Input path: ") + path + tail;
        m_fileInEmission = QModelIndex();
    } else {
        if (report == 0) {
            MainDTModel* model = m_model;
            const QString text
                = QStringLiteral("A file has been received in the following directory: ") + m->transferPath;
            QMetaObject::invokeMethod(
                model, [model, text] { emit model->statusBarMessage(0, text); }, Qt::QueuedConnection);
        }
        qDebug().noquote() << QStringLiteral("[BRANTIX] [CALLBACK - FILE RECEPTION END] - Output path: ") + path + tail;
        m_msgReceived[idx].clear();
    }
}
