// Arbitrator boards: detection, binding stations to boards, LED colours, and
// connecting the bound stations to the network.

#include "app/BX.h"
#include "ui_BX.h"

#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "control/KivDevicesDetection.h"
#include "control/MainCTModel.h"
#include "design/MainDTDelegate.h"
#include "design/MainDTModel.h"

#include "vantor.h"

#include <QAbstractProxyModel>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QToolBar>
#include <QTreeView>
#include <QPixmap>
#include <QMutexLocker>
#include <QTableWidgetItem>

#include <algorithm>
#include <cstring>

namespace {

QColor ledColour(quint32 code)
{
    return QColor(code & 0x4 ? 255 : 0, code & 0x2 ? 255 : 0, code & 0x1 ? 255 : 0);
}

QIcon swatch(const QColor& colour)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

} // namespace

void BX::setupDevices()
{
    ui->devicesTableWidget->setColumnCount(6);
    ui->devicesTableWidget->setHorizontalHeaderLabels(
        { tr("Board"), tr("Type"), tr("Speed"), tr("Board Number"), tr("LED Colour"), tr("Bound Station") });
    ui->devicesTableWidget->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->devicesTableWidget->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->devicesTableWidget->verticalHeader()->hide();
    ui->devicesTableWidget->horizontalHeader()->setStretchLastSection(true);

    m_mainDTDelegate->setUnattachedDevicesQuery([this] {
        QList<MainDTDelegate::Device> devices;
        for (const TARVEXCONF& device : getTarvexNotAttachedList())
            devices.append({ m_deviceTables.description(device), ledColour(device.ledColor) });
        return devices;
    });

    connect(ui->autoBindDevicesButton, &QPushButton::clicked, this, &BX::onAutoBindDevicesClicked);
    connect(ui->actionAutoBindDevices, &QAction::triggered, this, &BX::onAutoBindDevicesClicked);
    connect(ui->unbindAllDevicesButton, &QPushButton::clicked, this, &BX::onUnbindAllDevicesClicked);
    connect(ui->actionUnbindAllDevices, &QAction::triggered, this, &BX::onUnbindAllDevicesClicked);
    connect(m_mainDTModel, &MainDTModel::devicesBindingChanged, this, &BX::onDevicesBindingChanged);
    connect(ui->actionConnectToNetwork, &QAction::triggered, this, &BX::onCoDecoNetworkButtonClicked);
    connect(ui->actionDisconnectFromNetwork, &QAction::triggered, this, &BX::onCoDecoNetworkButtonClicked);
    ui->actionConnectToNetwork->setToolTip(tr("Connect to Network"));
    ui->actionDisconnectFromNetwork->setEnabled(false);
    if (auto* colours = findChild<QComboBox*>(QStringLiteral("rgbColorComboBox")))
        connect(colours, QOverload<int>::of(&QComboBox::activated), this, &BX::onRgbColorChanged);

    m_devicesDetection = new KivDevicesDetection(&m_deviceMutex);
    m_devicesDetection->attachThread(m_detectionThread);
    m_devicesDetection->moveToThread(&m_detectionThread);
    connect(m_devicesDetection, &KivDevicesDetection::devicesListUpdated, this, &BX::onKivDevicesDetectionUpdate);
    connect(&m_detectionThread, &QThread::finished, m_devicesDetection, &QObject::deleteLater);
    m_detectionThread.start();
}

void BX::teardownDevices()
{
    if (m_networkConnected)
        disconnectNetwork();
    if (!m_detectionThread.isRunning())
        return;
    // The worker deletes itself as its thread finishes: no list of it may land after this.
    disconnect(m_devicesDetection, &KivDevicesDetection::devicesListUpdated, this, &BX::onKivDevicesDetectionUpdate);
    m_devicesDetection->stopProcessing();
    m_detectionThread.quit();
    m_devicesDetection = nullptr;
    // A listing may be under way: the window keeps answering until it ends.
    while (!m_detectionThread.wait(10))
        QCoreApplication::processEvents();
}

void BX::setDevicesScanning(bool scanning)
{
    if (m_devicesDetection)
        m_devicesDetection->setScanning(scanning);
}

void BX::onKivDevicesDetectionUpdate(QList<TARVEXCONF> devices)
{
    m_tarvexList = devices.mid(0, VANTOR_MAX_RECORDS);
    std::memset(m_tarvexRecords, 0, sizeof m_tarvexRecords);
    m_tarvexRecords[0] = quint8(m_tarvexList.size());
    for (int i = 0; i < m_tarvexList.size(); ++i)
        std::memcpy(m_tarvexRecords + 1 + i * TARVEXCONF::RecordSize, m_tarvexList.at(i).record,
                    TARVEXCONF::RecordSize);
    refreshDevicesTable();
}

QList<TARVEXCONF> BX::updateTarvexsList()
{
    onKivDevicesDetectionUpdate(KivDevicesDetection::queryDevices(&m_deviceMutex));
    return m_tarvexList;
}

QList<TARVEXCONF> BX::getTarvexNotAttachedList() const
{
    const QString speed = m_mainDTModel->getNetworkSpeed();
    const QModelIndexList stations = m_mainDTModel->getStationIndexes();
    QList<TARVEXCONF> offered;
    for (const TARVEXCONF& device : m_tarvexList) {
        if (m_deviceTables.speedText(device) != speed)
            continue;
        const QString index = QString::number(TarvexFields::boardIndex(device));
        const QString type = m_deviceTables.typeText(device);
        const bool used = std::any_of(stations.begin(), stations.end(), [&](const QModelIndex& station) {
            return m_mainDTModel->text(station, MainDTModel::ColDeviceIndex) == index
                && m_mainDTModel->text(station, MainDTModel::ColDeviceType) == type;
        });
        if (!used)
            offered.append(device);
    }
    return offered;
}

QModelIndexList BX::getTarvexAttachedList() const
{
    QModelIndexList attached;
    for (const QModelIndex& station : m_mainDTModel->getStationIndexes()) {
        const QString device = m_mainDTModel->text(station, MainDTModel::ColFipDevice);
        if (!device.isEmpty() && device != MainDTModel::BindADevice)
            attached.append(station);
    }
    return attached;
}

void BX::onAutoBindDevicesClicked()
{
    QModelIndexList stations = m_mainDTModel->getStationIndexes();
    std::sort(stations.begin(), stations.end(), stationLessThan);
    for (const QModelIndex& station : stations)
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColFipDevice),
                                             MainDTModel::BindADevice);
    for (const QModelIndex& station : stations) {
        const QList<TARVEXCONF> offered = getTarvexNotAttachedList();
        if (offered.isEmpty())
            break;
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColFipDevice),
                                             m_deviceTables.description(offered.first()));
    }
}

void BX::onUnbindAllDevicesClicked()
{
    for (const QModelIndex& station : m_mainDTModel->getStationIndexes())
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColFipDevice),
                                             MainDTModel::BindADevice);
}

void BX::onDevicesBindingChanged()
{
    refreshDevicesTable();
    refreshControlPanel();
    ui->mainCTView->expandAll();
    const QString chosen = ui->overviewStationComboBox->currentText();
    ui->overviewStationComboBox->clear();
    QModelIndexList bound = getTarvexAttachedList();
    std::sort(bound.begin(), bound.end(), stationLessThan);
    for (const QModelIndex& station : bound)
        ui->overviewStationComboBox->addItem(m_mainDTModel->text(station, MainDTModel::ColObject),
                                             m_mainDTModel->text(station, MainDTModel::ColStationAddress));
    const int keep = ui->overviewStationComboBox->findText(chosen);
    if (keep >= 0)
        ui->overviewStationComboBox->setCurrentIndex(keep);
}

bool BX::setBoardRgbColor(const QModelIndex& station, LED_RGB_COLOR colour)
{
    // Straight to the board while no worker owns it.
    const QString type = m_mainDTModel->text(station, MainDTModel::ColDeviceType);
    bool ok = false;
    const int index = m_mainDTModel->text(station, MainDTModel::ColDeviceIndex).toInt(&ok);
    if (!ok)
        return false;
    const u32 interfaceType = type == QLatin1String("USB") ? VANTOR_INTERFACE_USB : VANTOR_INTERFACE_PCI;
    QMutexLocker lock(&m_deviceMutex);
    u32 err = 0;
    vantor_device_handle* handle = vantor_device_open(interfaceType, u8(index), &err);
    if (!handle || err != VANTOR_OK)
        return false;
    const bool set = vantor_set_rgb_led(handle, colour) == VANTOR_OK;
    vantor_device_close(handle);
    if (set)
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColDeviceColor),
                                             m_deviceTables.rgbColorMap().value(quint8(colour)));
    return set;
}

void BX::onRgbColorChanged()
{
    const QModelIndex station = getMainCTSelectedIndex();
    auto* colours = findChild<QComboBox*>(QStringLiteral("rgbColorComboBox"));
    if (!colours || m_mainDTModel->classType(station) != MainDTModel::STATION || colours->currentIndex() < 0)
        return;
    const auto colour = LED_RGB_COLOR(colours->currentData().toUInt() & 0x7);
    if (m_networkConnected)
        emit rgbColorCmdChanged(station, colour);
    else
        setBoardRgbColor(station, colour);
}

void BX::refreshDevicesTable()
{
    QTableWidget* table = ui->devicesTableWidget;
    table->setRowCount(m_tarvexList.size());
    const QModelIndexList stations = m_mainDTModel->getStationIndexes();
    for (int row = 0; row < m_tarvexList.size(); ++row) {
        const TARVEXCONF& device = m_tarvexList.at(row);
        const QString description = m_deviceTables.description(device);
        QString bound;
        for (const QModelIndex& station : stations) {
            if (m_mainDTModel->text(station, MainDTModel::ColFipDevice) == description)
                bound = m_mainDTModel->text(station, MainDTModel::ColObject);
        }
        const QStringList cells = { QString::number(TarvexFields::boardIndex(device)), m_deviceTables.typeText(device),
                                    m_deviceTables.speedText(device),
                                    QString::asprintf("0x%08x", TarvexFields::boardNumber(device)),
                                    m_deviceTables.rgbColorMap().value(quint8(device.ledColor & 0x7)).trimmed(),
                                    bound };
        for (int column = 0; column < cells.size(); ++column) {
            QTableWidgetItem* item = table->item(row, column);
            if (!item) {
                item = new QTableWidgetItem;
                table->setItem(row, column, item);
            }
            item->setText(cells.at(column));
            if (column == 4)
                item->setIcon(swatch(ledColour(device.ledColor)));
        }
    }
    table->resizeColumnsToContents();
}

// ---------------------------------------------------------------- Connect / Disconnect

void BX::onCoDecoNetworkButtonClicked()
{
    if (m_networkConnected)
        disconnectNetwork();
    else
        connectNetwork();
}

void BX::connectNetwork()
{
    QModelIndexList stations;
    for (const QModelIndex& station : m_mainDTModel->getStationIndexes()) {
        if (m_mainDTModel->text(station, MainDTModel::ColDevicePresence) == QLatin1String("true"))
            stations.append(station.sibling(station.row(), 0));
    }
    if (stations.isEmpty()) {
        QMessageBox::information(this, tr("Connection to Network"), tr("No station is linked to a device."));
        return;
    }
    if (!buildAndSaveStationFiles(getFileConfigurationSavePath(), false))
        return;
    // Each worker loads its station's file from where it was just written, and
    // starts an arbitrator when its station owns one.
    m_mainDTModel->updateAllStationFilePaths();
    for (const QModelIndex& station : stations)
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColBaPresence),
                                             m_mainDTModel->hasArbiter(station) ? "true" : "false");
    // No code yet: the first status the board reports is always shown.
    for (const QModelIndex& station : stations)
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(station, MainDTModel::ColBaStatusCode),
                                             QStringLiteral("0xffff"));
    setDevicesScanning(false);
    setNetworkStatus(tr("Waiting..."), true);
    ui->actionConnectToNetwork->setEnabled(false);

    m_arbitratorWorkers = new ArbitratorWorkers(m_mainDTModel, &m_deviceMutex, &m_startBarrier, this);
    connect(m_arbitratorWorkers, &ArbitratorWorkers::workerCreated, this, &BX::connectWorker);
    m_arbitratorWorkers->start(stations, ui->fileReceptionDir->text());

    setNetworkConnected(true);
    setNetworkStatus(tr("Connected"), false);
    ui->actionDisconnectFromNetwork->setEnabled(true);
    ui->actionDisconnectFromNetwork->setToolTip(tr("Disconnect from Network"));
    ui->projectCentralStackedWidget->setCurrentIndex(1);
    ui->projectRightStackedWidget->setCurrentIndex(1);
    ui->mainCTView->expandAll();
    const QModelIndex first = controlModel()->mapFromSource(stations.first());
    if (first.isValid())
        ui->mainCTView->setCurrentIndex(first);
}

void BX::disconnectNetwork()
{
    if (m_arbitratorWorkers) {
        m_arbitratorWorkers->stop();
        delete m_arbitratorWorkers;
        m_arbitratorWorkers = nullptr;
    }
    setNetworkConnected(false);
    setNetworkStatus(tr("Disconnected"), false);
    ui->actionDisconnectFromNetwork->setEnabled(false);
    ui->actionConnectToNetwork->setEnabled(true);
    ui->actionConnectToNetwork->setToolTip(tr("Connect to Network"));
    ui->projectCentralStackedWidget->setCurrentIndex(0);
    ui->projectRightStackedWidget->setCurrentIndex(0);
    setDevicesScanning(true);
}

void BX::connectWorker(FipBusArbitratorDevice* worker)
{
    using W = FipBusArbitratorDevice;
    connect(this, &BX::rgbColorCmdChanged, worker, &W::onRgbColorCmdChanged);
    connect(this, &BX::baCmdClicked, worker, &W::onBaCmdClicked);
    connect(this, &BX::sendMsgCmdClicked, worker, &W::onSendMsgCmdClicked);
    connect(this, &BX::sendMediumCmdClicked, worker, &W::onSendMediumCmdClicked);
    connect(this, &BX::sendAperiodicListCmdClicked, worker, &W::onSendAperiodicListCmdClicked);
    connect(this, &BX::purgeAperiodicListCmdClicked, worker, &W::onPurgeAperiodicListCmdClicked);
    connect(this, &BX::purgeMsgCmdClicked, worker, &W::onPurgeMsgCmdClicked);
    connect(this, &BX::eraseMsgCmdClicked, worker, &W::onEraseMsgCmdClicked);
    connect(this, &BX::msgHistoricCmdClicked, worker, &W::onMsgHistoricCmdClicked);
    connect(this, &BX::sendFileCmdClicked, worker, &W::onSendFileCmdClicked);
    connect(this, &BX::abortFileCmdClicked, worker, &W::onAbortFileCmdClicked);
    connect(this, &BX::stationIsolationTreatment, worker, &W::onStationIsolationTreatment);
    connect(worker, &W::reportMessage, this, &BX::onReportMessage);
    connect(worker, &W::msgHistoric, this, &BX::onMsgHistoric);
    connect(worker, &W::stationIsolationEvent, this, &BX::onStationIsolationEvent);
}

void BX::setNetworkStatus(const QString& text, bool waiting)
{
    m_networkStatusLabel->setText(text);
    if (!m_networkSpinnerLabel) {
        m_networkSpinnerLabel = new QLabel(m_designToolBar);
        m_networkSpinnerLabel->setObjectName("networkSpinnerLabel");
        m_networkSpinnerLabel->setMovie(m_spinner1);
        m_networkSpinnerAction = m_designToolBar->addWidget(m_networkSpinnerLabel);
    }
    m_networkSpinnerAction->setVisible(waiting);
    // The workers start in a loop of this thread: let the label show first.
    m_networkStatusLabel->repaint();
}
