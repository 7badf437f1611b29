// The capture in the main window: the capture button's life cycle of the card,
// its packets through the capture session, the statistics tick's trace flush,
// and the card's hardware trigger.

#include "app/BX.h"
#include "ui_BX.h"

#include "analysis/MainATModel.h"
#include "analysis/StatisticsOverview.h"
#include "capture/decoder/FipControls.h"
#include "capture/device/OsSelectionDialog.h"
#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakConf.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/CaptureSession.h"
#include "platform/desktop/DesktopServices.h"

#include "kiverrors.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QToolBar>

namespace {

constexpr int kDeviceInUse = 0x3010203F;
constexpr int kNoMoreFrames = 0x30100012;

QString startIcon()
{
    return QStringLiteral(":/images/images/icon_search_48x48.png");
}

QString stopIcon()
{
    return QStringLiteral(":/images/images/icon_search_yellow_48x48.png");
}

void inform(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QStringLiteral("Ostrak"), text);
}

/// The card could not be opened or would not start: the user is told why.
void reportCardFailure(QWidget* parent, int code, bool local)
{
    if (code == kDeviceInUse)
        inform(parent, BX::tr("Cannot open the Ostrak device. It may be already in use.\nOtherwise try to unplug and replug it."));
    else if (local && code == OstrakCard::ErrNotOpen)
        inform(parent, BX::tr("Cannot find a local Ostrak on this machine. Please check the connection."));
    else if (!local)
        inform(parent, BX::tr("Cannot connect to the remote Ostrak. Please check the server IP address and your firewall parameters."));
    else
        inform(parent, QString::fromLocal8Bit(get_kiv_error(code)));
}

/// The conversion's question before files of an earlier capture are replaced; true on Yes.
bool askToReplace(QWidget* parent)
{
    QMessageBox box(QMessageBox::Question, CaptureFileMessages::messageTitle(), CaptureFileMessages::destinationExists(),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setWindowIcon(QIcon(CaptureFileMessages::iconPath()));
    box.setInformativeText(CaptureFileMessages::continueQuestion());
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

void BX::setupCapture()
{
    m_captureSession = new CaptureSession;
    m_startStopCapturingButton = new QPushButton(QIcon(startIcon()), tr("Start FIP Catch"), this);
    m_startStopCapturingButton->setObjectName("startStopCapturingButton");
    m_captureToolBar->insertWidget(ui->actionStartCapture, m_startStopCapturingButton);
    connect(m_startStopCapturingButton, &QPushButton::clicked, this, &BX::onStartStopCapturingButtonClicked);
    connect(ui->actionStartCapture, &QAction::triggered, this, [this] {
        if (!m_capturing)
            onStartStopCapturingButtonClicked();
    });
    connect(ui->actionStopCapture, &QAction::triggered, this, [this] {
        if (m_capturing)
            onStartStopCapturingButtonClicked();
    });
    ui->actionStopCapture->setEnabled(false);
    if (ui->backupFileType->count() == 0) {
        ui->backupFileType->addItems({CaptureFileMessages::rawFileFilter(), CaptureFileMessages::traceFileFilter(),
                                      CaptureFileMessages::eventFileFilter()});
        ui->backupFileType->setCurrentIndex(TraceRecordOptions::TraceFile);
    }
    connect(ui->oscilloPlugSetButton, &QPushButton::clicked, this, &BX::onHardTrigClicked);
    connect(ui->oscilloPlugGetButton, &QPushButton::clicked, this, &BX::onHardTrigClicked);
    ui->oscilloCtrl->clear();
    ui->oscilloCtrl->addItem(tr("All Controls"), 0);
    const FipControls::Entry* controls = FipControls::table();
    for (int i = 0; i < FipControls::Count; ++i)
        ui->oscilloCtrl->addItem(QString::fromLatin1(controls[i].name), uint(controls[i].code));
}

void BX::teardownCapture()
{
    if (m_ostrakCard) {
        m_ostrakCard->stopScan();
        m_captureThread.quit();
        m_captureThread.wait();
        delete m_ostrakCard;
        m_ostrakCard = nullptr;
    }
    delete m_captureSession;
    m_captureSession = nullptr;
}

QList<OSTRAKCONF> BX::updateOstrakList()
{
    m_ostrakList = localOstrakList();
    return m_ostrakList;
}

TraceRecordOptions BX::traceRecordOptions() const
{
    TraceRecordOptions options;
    options.backupYes = ui->backupYes->isChecked();
    options.backupFileType = ui->backupFileType->currentIndex();
    options.logErrorsYes = ui->logErrorsYes->isChecked();
    options.paddingVisibleNo = ui->paddingVisibleNo->isChecked();
    options.depthMode = ui->depthAnalysisSlider->value();
    return options;
}

int BX::openCaptureCard()
{
    if (ui->localLocation->isChecked()) {
        qDebug().noquote() << "[BRANTIX] Local Opening ...";
        const OSTRAKCONF chosen = OsSelectionDialog::getOsSelectionInfo(this, updateOstrakList());
        if (chosen.isCancelled())
            return -1;
        m_ostrakCard = new OstrakCard(chosen.coType);
        const int result = m_ostrakCard->locallyOpen(chosen.number);
        if (result == 0) {
            const int stopped = m_ostrakCard->stopScan();
            if (stopped != 0)
                qDebug().noquote() << "Arret de la scrutation avt demarrage - " << get_kiv_error(stopped);
        }
        return result;
    }
    qDebug().noquote() << "[BRANTIX] Remote Opening ...";
    m_ostrakCard = new OstrakCard();
    const auto port = static_cast<unsigned short>(ui->osPortNumber->value());
    if (ui->udpRemote->isChecked())
        return m_ostrakCard->remotelyUdpOpen(port, ui->osIPAddress->text());
    return m_ostrakCard->remotelyTcpOpen(ui->osIPAddress->text(), port);
}

void BX::onStartStopCapturingButtonClicked()
{
    if (m_capturing) {
        if (m_ostrakCard && m_ostrakCard->isScanning())
            m_ostrakCard->stopScan();
        qDebug().noquote() << "[BRANTIX] Analysis Stopped";
        DesktopServices::setKeepAwake(false);
        return;
    }

    // A conversion shares the decoder and the session: its trace must not end in this capture.
    if (m_converting) {
        QMessageBox::warning(this, CaptureFileMessages::messageTitle(), CaptureFileMessages::conversionInProgress());
        return;
    }
    qDebug().noquote() << "[BRANTIX] Starting Analysis ... ";
    const bool local = ui->localLocation->isChecked();

    // Recording: the trace the frame table reads, and the backup the options ask for.
    // Files an earlier capture left (one killed, say) are replaced only when the user says so.
    const TraceRecordOptions options = traceRecordOptions();
    const QString base = CaptureSession::backupBase(ui->backupRepository->text(), ui->backupTimeStampedYes->isChecked(),
                                                    QDateTime::currentDateTime());
    const CaptureSession::Files files = CaptureSession::filesFor(options, base);
    const QStringList existing = CaptureSession::existingFiles(files);
    if (!existing.isEmpty()) {
        if (!askToReplace(this))
            return;
        for (const QString& path : existing)
            QFile::remove(path);
    }

    const int opened = openCaptureCard();
    if (opened != 0) {
        const QString udpError = m_ostrakCard ? m_ostrakCard->udpBindError() : QString();
        delete m_ostrakCard;
        m_ostrakCard = nullptr;
        if (opened == OstrakCard::ErrUdpBind)
            inform(this, tr("Cannot receive the remote Ostrak on UDP port %1: %2.")
                             .arg(ui->osPortNumber->value())
                             .arg(udpError));
        else if (opened >= 0) // otherwise the selection was cancelled
            reportCardFailure(this, opened, local);
        return;
    }
    m_captureSession->decoder().setPaddingRule(ui->fixedIdPadding->isChecked(),
                                               quint16(ui->paddingIdentifier->text().toUInt(nullptr, 16)));
    initAnalysisContext();
    QString error;
    if (!m_captureSession->start(options, files, &error)) {
        m_ostrakCard->close();
        delete m_ostrakCard;
        m_ostrakCard = nullptr;
        QMessageBox::warning(this, tr("Backup file"), error);
        return;
    }
    m_statisticsTicks = 0;
    m_captureBytes = 0;
    m_closedBackupFiles = 0;

    connect(m_ostrakCard, &OstrakCard::scanStarted, this, &BX::onOstrakScanStarted);
    connect(m_ostrakCard, &OstrakCard::scanStopped, this, &BX::onOstrakScanStopped);
    connect(m_ostrakCard, &OstrakCard::connected, this, &BX::onOstrakConnected);
    connect(m_ostrakCard, &OstrakCard::disconnected, this, &BX::onOstrakDisconnected);
    connect(m_ostrakCard, &OstrakCard::noTrafficDetected, this, &BX::onOstrakNoTrafficDetected);
    connect(m_ostrakCard, &OstrakCard::streamFaults, this, &BX::onOstrakStreamFaults);
    // The card's thread waits while its packet is decoded here: decoding needs no lock.
    connect(m_ostrakCard, &OstrakCard::fipDataReceived, this, &BX::onOstrakDataReceived, Qt::BlockingQueuedConnection);
    m_ostrakCard->attachThread(m_captureThread);
    m_ostrakCard->moveToThread(&m_captureThread);
    m_captureThread.start(QThread::InheritPriority);

    const int started = m_ostrakCard->startScan();
    if (started != 0) {
        abandonCaptureStart();
        reportCardFailure(this, started, local);
        return;
    }
    // The frame table opens the trace once the capture is sure to run.
    mainATSortingEnabled(false);
    m_mainATModel->setFilePath(files.trace);
    QThread::msleep(200);
    m_captureStart = QDateTime::currentDateTime();
    m_backupEndDate = m_captureStart.addSecs(qint64(ui->backupTimeLimitJValue->currentIndex()) * 86400
                                             + ui->backupTimeLimitHValue->currentIndex() * 3600
                                             + ui->backupTimeLimitMValue->currentIndex() * 60
                                             + ui->backupTimeLimitSValue->currentIndex());
    m_capturing = true;
    m_networkRatioTimer->start();
    m_startStopCapturingButton->setText(tr("Stop FIP Catch"));
    m_startStopCapturingButton->setIcon(QIcon(stopIcon()));
    setCaptureEditingEnabled(false);
    DesktopServices::setKeepAwake(true);
}

void BX::abandonCaptureStart()
{
    // The read loop may start only now and raise its scanning flag after this stop: it is
    // stopped again until its thread ends. A packet it hands on meanwhile is decoded here,
    // so the wait lets events through.
    m_ostrakCard->stopScan();
    m_captureThread.quit();
    while (!m_captureThread.wait(50)) {
        if (m_ostrakCard->isScanning())
            m_ostrakCard->stopScan();
        QCoreApplication::processEvents();
    }
    disconnect(m_ostrakCard, nullptr, this, nullptr);
    if (m_ostrakCard->isConnected())
        m_ostrakCard->close();
    delete m_ostrakCard; // the card is released for the next start
    m_ostrakCard = nullptr;
    m_networkRatioTimer->stop();
    // Nothing was captured: the files this start made go again, the next start has nothing to ask.
    const CaptureSession::Files files = m_captureSession->files();
    m_captureSession->stop();
    for (const QString& path : { files.trace, files.raw, files.events }) {
        if (!path.isEmpty())
            QFile::remove(path);
    }
    setCaptureEditingEnabled(true);
    DesktopServices::setKeepAwake(false);
}

void BX::setCaptureEditingEnabled(bool enabled)
{
    m_captureEditingLocked = !enabled;
    updateDesignLocks();
    for (QAction* action : {ui->actionOpenCapture, ui->actionStartCapture})
        action->setEnabled(enabled);
    ui->actionStopCapture->setEnabled(!enabled);
    for (QWidget* w : {static_cast<QWidget*>(ui->backupGroupBox), static_cast<QWidget*>(ui->osRemoteWidget),
                       static_cast<QWidget*>(ui->localLocation), static_cast<QWidget*>(ui->serverLocation),
                       static_cast<QWidget*>(ui->paddingGroupBox), static_cast<QWidget*>(ui->depthAnalysisSlider)})
        w->setEnabled(enabled);
    // A capture and a conversion share one decoder: while one runs the other cannot start.
    m_startStopCapturingButton->setEnabled(enabled || m_capturing);
    if (enabled)
        setConversionControlsEnabled(true);
    else
        ui->prawToVtrcGenerateButton->setEnabled(false);
}

void BX::onOstrakDataReceived(int flowType, QByteArray data)
{
    m_captureBytes += quint64(data.size());
    // The card's thread waits for this call: its speed (a remote server's leading digit) is settled.
    if (m_ostrakCard)
        m_captureSession->decoder().setCardSpeed(quint8(m_ostrakCard->getSpeed()));
    m_captureSession->onOstrakDataReceived(flowType, data);
}

void BX::onOstrakScanStarted()
{
    updateStatusBar(0, tr("FIP capture started"));
}

void BX::onOstrakConnected()
{
    qDebug().noquote() << "[BRANTIX] Ostrak connected";
}

void BX::onOstrakDisconnected()
{
    qDebug().noquote() << "[BRANTIX] Ostrak disconnected";
}

void BX::onOstrakNoTrafficDetected()
{
    m_captureSession->decoder().onOstrakNoTrafficDetected();
}

void BX::onOstrakStreamFaults(qulonglong faults, qulonglong lostBytes)
{
    m_captureSession->decoder().onStreamFaults(faults, lostBytes);
}

void BX::onOstrakScanStopped()
{
    if (!m_ostrakCard)
        return;
    const int lastError = m_ostrakCard->getLastError();
    m_captureThread.quit();
    while (!m_captureThread.wait(100))
        QCoreApplication::processEvents();
    // The card came back to this thread when its read loop ended.
    if (m_ostrakCard->isConnected())
        m_ostrakCard->close();
    disconnect(m_ostrakCard, nullptr, this, nullptr);
    delete m_ostrakCard;
    m_ostrakCard = nullptr;

    const bool wasCapturing = m_capturing;
    m_capturing = false;
    m_captureFiguresLabel->clear();
    m_captureFiguresLabel->hide();
    m_startStopCapturingButton->setText(tr("Start FIP Catch"));
    m_startStopCapturingButton->setIcon(QIcon(startIcon()));
    setCaptureEditingEnabled(true);
    DesktopServices::setKeepAwake(false);
    const QDateTime end = QDateTime::currentDateTime();
    m_captureDuration = wasCapturing ? AnalysisTexts::duration(m_captureStart.msecsTo(end)) : AnalysisTexts::duration(0);
    m_captureEnd = end.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
    bool written = false;
    finishAnalysis(m_captureSession->files().trace, &written);
    if (!written)
        updateStatusBar(2, tr("The capture files could not be written completely."));
    updateStatusBar(0, tr("FIP capture stopped: %L1 frames in %2")
                           .arg(m_captureSession->decoder().counters().frames)
                           .arg(m_captureDuration));

    if (lastError == kNoMoreFrames)
        inform(this, tr("No more frame received from the Ostrak.\nPlease check its connection and/or your FIP network."));
    else if (lastError == OstrakCard::ErrStreamEnded)
        inform(this, tr("Connection to the server has been interrupted.\nMaybe the remote server was shut or the connection limit is reached."));
}

// A flood of frames fills a disk fast: the capture stops while its files can still be closed whole.
bool BX::checkBackupDiskSpace()
{
    // Once stopped, the ticks until the scan ends ask nothing more.
    if (!m_ostrakCard || !m_ostrakCard->isScanning() || !m_captureSession->diskSpaceLow())
        return false;
    const QString folder = QFileInfo(m_captureSession->files().trace).absolutePath();
    onStartStopCapturingButtonClicked();
    inform(this, tr("The capture was stopped: less than %L1 MB is free on the disk of the backup files (%2).")
                     .arg(CaptureSession::MinFreeDiskBytes >> 20)
                     .arg(QDir::toNativeSeparators(folder)));
    return true;
}

// ---------------------------------------------------------------- hardware trigger

int BX::osSetHardTrigger(OstrakCard* card)
{
    const auto ctrl = static_cast<unsigned char>(ui->oscilloCtrl->currentData().toUInt());
    const auto id = static_cast<unsigned short>(ui->oscilloIdentifier->text().toUInt(nullptr, 16));
    const auto delay = static_cast<unsigned short>(ui->oscilloDelay->value());
    qDebug().noquote() << "osSetHardTrigger: ctrl: " << ctrl << " - id: " << id << " - delay: " << delay;
    return card->setHardTrigger(ctrl, id, delay);
}

int BX::osGetHardTrigger(OstrakCard* card)
{
    unsigned char ctrl = 0;
    unsigned short id = 0;
    unsigned short delay = 0;
    const int result = card->getHardTrigger(&ctrl, &id, &delay);
    qDebug().noquote() << "osGetHardTrigger: ctrl: " << ctrl << " - id: " << id << " - delay: " << delay;
    if (result == 0) {
        const int row = ui->oscilloCtrl->findData(uint(ctrl));
        ui->oscilloCtrl->setCurrentIndex(row < 0 ? 0 : row);
        ui->oscilloIdentifier->setText(QString::asprintf("%04x", id));
        ui->oscilloDelay->setValue(delay);
    }
    return result;
}

void BX::onHardTrigClicked()
{
    const bool set = sender() == ui->oscilloPlugSetButton;
    const QList<OSTRAKCONF> list = updateOstrakList();
    if (list.isEmpty()) {
        inform(this, tr("Cannot find a local Ostrak on this machine. Please check the connection."));
        return;
    }
    OstrakCard card(list.first().coType);
    if (card.locallyOpen(list.first().number) != 0) {
        inform(this, tr("Cannot open the Ostrak device. It may be already in use.\nOtherwise try to unplug and replug it."));
        return;
    }
    const int result = set ? osSetHardTrigger(&card) : osGetHardTrigger(&card);
    card.close();
    inform(this, result == 0 ? tr("Success") : tr("The device doesn't accept this request.\nCheck the firmware version."));
}
