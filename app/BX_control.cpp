// Control page: the control tree, the detail panel of the selected item with its
// live values, and the commands sent to the arbitrator workers.

#include "app/BX.h"
#include "ui_BX.h"
#include "ui_ControlAperiodicPanel.h"
#include "ui_ControlMessagePanel.h"
#include "ui_ControlStationPanel.h"
#include "ui_ControlVariablePanel.h"

#include "control/HexaTabDelegate.h"
#include "control/HexaTable.h"
#include "control/MainCTModel.h"
#include "design/MainDTModel.h"
#include "vantor.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>

#include <algorithm>

namespace {

// Pages of controlStackedWidget.
enum ControlPage { NoInfoPage = 0, NetworkPage, StationPage, VariablePage, AperiodicListPage, MessagePage, MnemonicPage };

struct MediumCommand {
    const char* name;
    quint16 word;
};
const MediumCommand kMediumCommands[] = {
    { "Clear Channels Errors", 0x10 },   { "Reset Channel 1", 0x20 },         { "Reset Channel 2", 0x40 },
    { "Activate Channel 1 Only", 0x09 }, { "Activate Channel 2 Only", 0x06 }, { "Activate Channels 1 And 2", 0x05 },
};

// Report codes a variable read gives when its identifier never appeared on the bus.
constexpr quint32 NeverSeenCode = 0x60000000u;

// Columns the control tree shows until the user picks others: the live ones.
const int kShownColumns[] = { MainDTModel::ColObject, MainDTModel::ColBaStatus, MainDTModel::ColDeviceColor,
                              MainDTModel::ColDeviceTemperature, MainDTModel::ColPromptness,
                              MainDTModel::ColRefreshment, MainDTModel::ColData, MainDTModel::ColReportCode };

int pageOf(quint8 kind)
{
    switch (kind) {
    case MainDTModel::NETWORK: return NetworkPage;
    case MainDTModel::STATION: return StationPage;
    case MainDTModel::VARIABLE_OUT:
    case MainDTModel::VARIABLE_IN: return VariablePage;
    case MainDTModel::APERIODIC_LIST: return AperiodicListPage;
    case MainDTModel::MESSAGE_OUT:
    case MainDTModel::MESSAGE_IN: return MessagePage;
    case MainDTModel::DATA_RENDERING:
    case MainDTModel::MNEMONIC: return MnemonicPage;
    default: return NoInfoPage;
    }
}

/// Cut to `count` bytes or filled up with zeros.
QByteArray resized(QByteArray bytes, int count)
{
    count = qBound(0, count, HexaTable::Cells);
    if (bytes.size() < count)
        bytes.append(QByteArray(count - bytes.size(), '\0'));
    return bytes.left(count);
}

QString grouped(const QString& counter)
{
    if (counter.isEmpty())
        return QStringLiteral("0");
    bool ok = false;
    const qulonglong value = counter.toULongLong(&ok);
    return ok ? QLocale().toString(value) : counter;
}

} // namespace

struct BX::ControlPanels {
    Ui::ControlStationPanel station;
    Ui::ControlVariablePanel variable;
    Ui::ControlMessagePanel message;
    Ui::ControlAperiodicPanel aperiodic;
    // The information bar's widgets, made with the tool bars.
    QComboBox* infoStations = nullptr;
    QLabel* infoBaIcon = nullptr;
    QLabel* infoBaStatus = nullptr;
    QLabel* infoChannels[2] = {};
};

void BX::setupControl()
{
    m_mainCTModel = new MainCTModel(this);
    m_mainCTModel->setSourceModel(m_mainDTModel);
    m_mainCTModel->setLabelsVisible(false);
    ui->mainCTView->setModel(m_mainCTModel);
    ui->mainCTView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int column : controlTreeHiddenColumns())
        ui->mainCTView->setColumnHidden(column, true);
    QHeaderView* header = ui->mainCTView->header();
    // Names fit once a project's rows are in and expanded.
    auto* fitNames = new QTimer(this);
    fitNames->setSingleShot(true);
    fitNames->setInterval(0);
    connect(fitNames, &QTimer::timeout, this, [this] { ui->mainCTView->resizeColumnToContents(MainDTModel::ColObject); });
    connect(m_mainCTModel, &QAbstractItemModel::rowsInserted, fitNames, qOverload<>(&QTimer::start));
    connect(m_mainCTModel, &QAbstractItemModel::modelReset, fitNames, qOverload<>(&QTimer::start));
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    QMenu* columnsMenu = makeHeaderMenu(ui->mainCTView, header, m_mainCTModel);
    connect(header, &QHeaderView::customContextMenuRequested, columnsMenu,
            [columnsMenu, header](const QPoint& point) { columnsMenu->popup(header->mapToGlobal(point)); });
    connect(columnsMenu, &QMenu::triggered, this,
            [this](QAction* action) { ui->mainCTView->setColumnHidden(action->data().toInt(), !action->isChecked()); });

    // The detail panels go into the skeleton pages, under their titles.
    m_controlPanels = new ControlPanels;
    // Each panel scrolls within its page, so the panels never set the window's
    // minimum height; the page's own view below, if any, shares the height.
    auto place = [](QWidget* page, QBoxLayout* layout, auto& panelUi) {
        auto* area = new QScrollArea(page);
        area->setFrameShape(QFrame::NoFrame);
        area->setWidgetResizable(true);
        auto* panel = new QWidget;
        panelUi.setupUi(panel);
        static_cast<QBoxLayout*>(panel->layout())->addStretch();
        area->setWidget(panel);
        layout->insertWidget(1, area, 1);
        for (int i = 2; i < layout->count(); ++i) {
            if (layout->itemAt(i)->widget())
                layout->setStretch(i, 1);
        }
    };
    place(ui->stationPage, ui->stationPageLayout, m_controlPanels->station);
    place(ui->variablePage, ui->variablePageLayout, m_controlPanels->variable);
    place(ui->aperiodicListPage, ui->aperiodicListPageLayout, m_controlPanels->aperiodic);
    place(ui->messagePage, ui->messagePageLayout, m_controlPanels->message);

    Ui::ControlStationPanel& station = m_controlPanels->station;
    const QMap<quint8, QString> colours = m_mainDTModel->rgbColorMap();
    for (auto it = colours.cbegin(); it != colours.cend(); ++it)
        station.rgbColorComboBox->addItem(it.value(), it.key());
    for (const MediumCommand& command : kMediumCommands)
        station.mediumCmdComboBox->addItem(tr(command.name), command.word);
    for (QPushButton* button : { station.baStartButton, station.baContinueButton, station.baToggleButton, station.baStopButton })
        connect(button, &QPushButton::clicked, this, &BX::onBaCmdClicked);
    connect(station.sendMediumCmdButton, &QPushButton::clicked, this, &BX::onSendMediumCmdClicked);

    m_hexaTabDelegate = new HexaTabDelegate(this);
    for (QTableWidget* table : { static_cast<QTableWidget*>(m_controlPanels->variable.varHexaTable),
                                 static_cast<QTableWidget*>(m_controlPanels->message.msgHexaTable) }) {
        HexaTable::setup(table);
        table->setItemDelegate(m_hexaTabDelegate);
        connect(table, &QTableWidget::cellChanged, this, &BX::onHexaTableCellChanged);
    }
    connect(m_controlPanels->variable.varSendDataButton, &QPushButton::clicked, this, &BX::onSendDataButtonClicked);

    Ui::ControlMessagePanel& message = m_controlPanels->message;
    connect(message.msgSendDataButton, &QPushButton::clicked, this, &BX::onSendDataButtonClicked);
    connect(message.msgPurgeButton, &QPushButton::clicked, this, &BX::onPurgeMsgButtonClicked);
    connect(message.msgEraseButton, &QPushButton::clicked, this, &BX::onEraseMsgButtonClicked);
    connect(message.fileEmissionPathButton, &QPushButton::clicked, this, &BX::onFileEmissionPathButtonClicked);
    connect(message.fileSendButton, &QPushButton::clicked, this, &BX::onFileSendButtonClicked);
    connect(message.msgBytesToSendSpinBox, qOverload<int>(&QSpinBox::valueChanged), this, &BX::onMsgBytesToSendChanged);
    connect(message.transferPathLineEdit, &QLineEdit::editingFinished, this, [this] {
        const QModelIndex item = getMainCTSelectedIndex();
        if (m_mainDTModel->classType(item) == MainDTModel::MESSAGE_OUT)
            m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, MainDTModel::ColTransferPath),
                                                 m_controlPanels->message.transferPathLineEdit->text());
    });
    connect(ui->onPreviousMsgReceivedButton, &QPushButton::clicked, this, &BX::onPreviousMsgReceivedButton);
    connect(ui->onNextMsgReceivedButton, &QPushButton::clicked, this, &BX::onNextMsgReceivedButton);

    connect(m_controlPanels->aperiodic.sendAperListButton, &QPushButton::clicked, this, &BX::onSendAperListButtonClicked);
    connect(m_controlPanels->aperiodic.purgeAperListButton, &QPushButton::clicked, this, &BX::onPurgeAperListButtonClicked);

    for (QAction* action : { ui->actionStartBa, ui->actionStopBa })
        connect(action, &QAction::triggered, this, &BX::onOverviewBaCmdClicked);
    connect(ui->overviewBaStartButton, &QPushButton::clicked, this, &BX::onOverviewBaCmdClicked);
    connect(ui->overviewBaStopButton, &QPushButton::clicked, this, &BX::onOverviewBaCmdClicked);

    // The information bar follows the bound station chosen in it.
    m_controlPanels->infoStations = findChild<QComboBox*>(QStringLiteral("stationComboBox"));
    m_controlPanels->infoBaIcon = findChild<QLabel*>(QStringLiteral("baIconLabel"));
    m_controlPanels->infoBaStatus = findChild<QLabel*>(QStringLiteral("baStatusLabel"));
    m_controlPanels->infoChannels[0] = findChild<QLabel*>(QStringLiteral("channel1StatusLabel"));
    m_controlPanels->infoChannels[1] = findChild<QLabel*>(QStringLiteral("channel2StatusLabel"));
    if (m_controlPanels->infoStations) {
        connect(m_mainDTModel, &MainDTModel::devicesBindingChanged, this, &BX::fillInfoBarStations);
        connect(m_controlPanels->infoStations, qOverload<int>(&QComboBox::currentIndexChanged), this, &BX::showInfoBar);
    }

    connect(ui->mainCTView->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &BX::onMainCTViewItemSelectionChanged);
    connect(m_mainCTModel, &QAbstractItemModel::dataChanged, this, &BX::onMainCTModelDataChanged);
    ui->controlStackedWidget->setCurrentIndex(NoInfoPage);
}

void BX::teardownControl()
{
    // Nothing may reach the panels once the widgets go.
    disconnect(m_mainCTModel, nullptr, this, nullptr);
    disconnect(ui->mainCTView->selectionModel(), nullptr, this, nullptr);
    delete m_controlPanels;
    m_controlPanels = nullptr;
}

QList<int> BX::controlTreeHiddenColumns()
{
    QList<int> hidden;
    for (int column = 0; column < MainDTModel::ColumnCount; ++column) {
        if (std::find(std::begin(kShownColumns), std::end(kShownColumns), column) == std::end(kShownColumns))
            hidden << column;
    }
    return hidden;
}

QModelIndex BX::getMainCTSelectedIndex() const
{
    const QModelIndex current = ui->mainCTView->currentIndex();
    if (!current.isValid())
        return QModelIndex();
    const QModelIndex source = m_mainCTModel->mapToSource(current);
    return source.sibling(source.row(), MainDTModel::ColObject);
}

void BX::updateHexaTableWidget(QTableWidget* table, const QByteArray& bytes, bool editable,
                               const QByteArray* previous, bool* changed)
{
    HexaTable::update(table, bytes, editable, previous, changed);
}

// ---------------------------------------------------------------- detail panel

void BX::onMainCTViewItemSelectionChanged(const QModelIndex& current, const QModelIndex&)
{
    if (current.isValid() && current.column() != 0) {
        ui->mainCTView->setCurrentIndex(current.sibling(current.row(), 0));
        return;
    }
    refreshControlPanel();
}

void BX::refreshControlPanel()
{
    fillControlPanel(true);
}

void BX::fillControlPanel(bool fresh)
{
    const QModelIndex item = getMainCTSelectedIndex();
    const quint8 kind = m_mainDTModel->classType(item);
    const int page = pageOf(kind);
    ui->controlStackedWidget->setCurrentIndex(page);
    auto text = [&](int column) { return m_mainDTModel->text(item, column); };

    switch (page) {
    case StationPage: {
        Ui::ControlStationPanel& p = m_controlPanels->station;
        ui->stationPageTitleLabel->setText(text(MainDTModel::ColObject));
        p.stationAddressValue->setText(text(MainDTModel::ColStationAddress));
        p.fipDeviceValue->setText(text(MainDTModel::ColFipDevice));
        p.baGroupBox->setEnabled(m_mainDTModel->hasArbiter(item) || text(MainDTModel::ColBaPresence) == "true");
        break;
    }
    case VariablePage: {
        Ui::ControlVariablePanel& p = m_controlPanels->variable;
        const bool out = kind == MainDTModel::VARIABLE_OUT;
        ui->variablePageTitleLabel->setText(m_mainDTModel->data(item).toString());
        p.varIdValue->setText(text(out ? MainDTModel::ColVarOutId : MainDTModel::ColVarInId));
        const bool enabled = text(out ? MainDTModel::ColVarOutRefreshmentEnabled : MainDTModel::ColVarInPromptnessEnabled) == "true";
        QString period = tr("Disabled");
        if (enabled) {
            period = text(out ? MainDTModel::ColVarOutRefreshmentPeriod : MainDTModel::ColVarInPromptnessPeriod) + " ms";
            if (out && text(MainDTModel::ColVarOutDynamicRefreshmentEnabled) == "true")
                period += " (Dynamic)";
        }
        p.varPeriodValue->setText(period);
        p.varSendDataButton->setVisible(out);
        p.varSendDataButton->setText(tr("Apply"));
        break;
    }
    case MessagePage: {
        Ui::ControlMessagePanel& p = m_controlPanels->message;
        const bool out = kind == MainDTModel::MESSAGE_OUT;
        ui->messagePageTitleLabel->setText(text(MainDTModel::ColObject));
        p.msgSourceValue->setText("Segment " + text(MainDTModel::ColMsgSourceSegment) + " - ID "
                                  + text(MainDTModel::ColMsgSourceId));
        p.msgDestinationValue->setText("Segment " + text(MainDTModel::ColMsgDestinationSegment) + " - ID "
                                       + text(MainDTModel::ColMsgDestinationId));
        const QString channel = text(MainDTModel::ColMsgChannelNumber);
        p.msgChannelValue->setText(text(MainDTModel::ColMsgChannelType)
                                   + (channel.isEmpty() ? QString() : " (Channel " + channel + ")"));
        for (QWidget* w : std::initializer_list<QWidget*>{ p.msgSendDataButton, p.msgPurgeButton, p.msgBytesToSendLabel,
                                                           p.msgBytesToSendSpinBox, p.fileEmissionPathButton, p.fileSendButton })
            w->setVisible(out);
        for (QWidget* w : std::initializer_list<QWidget*>{ p.msgEraseButton, ui->onPreviousMsgReceivedButton,
                                                           ui->onNextMsgReceivedButton })
            w->setVisible(!out);
        p.msgSendDataButton->setText(tr("Send"));
        if (fresh) {
            const QSignalBlocker blocker(p.msgBytesToSendSpinBox);
            p.msgBytesToSendSpinBox->setValue(qMax(1, HexaTable::parseData(text(MainDTModel::ColData)).size()));
        }
        p.transferPathLineEdit->setReadOnly(!out);
        p.transferPathLineEdit->setText(text(MainDTModel::ColTransferPath));
        p.fileGroupBox->setVisible(!out || text(MainDTModel::ColMsgFileTransferEnabled) == "true");
        break;
    }
    case AperiodicListPage: {
        Ui::ControlAperiodicPanel& p = m_controlPanels->aperiodic;
        ui->aperiodicListPageTitleLabel->setText(text(MainDTModel::ColObject));
        p.aperListModeValue->setText(text(MainDTModel::ColAperListMode));
        p.aperListWidget->clear();
        for (int row = 0; row < m_mainDTModel->rowCount(item); ++row) {
            const QModelIndex reference = m_mainDTModel->index(row, 0, item);
            if (m_mainDTModel->classType(reference) != MainDTModel::VARIABLE_REF)
                continue;
            auto* entry = new QListWidgetItem(m_mainDTModel->data(reference, Qt::DecorationRole).value<QIcon>(),
                                              m_mainDTModel->text(reference, MainDTModel::ColObject), p.aperListWidget);
            entry->setData(Qt::UserRole + 1, m_mainDTModel->text(reference, MainDTModel::ColVarRefId));
        }
        break;
    }
    default:
        break;
    }
    if (page == StationPage || page == VariablePage || page == MessagePage) {
        for (int column = MainDTModel::FirstStatusColumn; column < MainDTModel::ColumnCount; ++column)
            showControlValue(item, column, fresh);
    }
    if (page == VariablePage || page == MessagePage)
        loadLinkedMnemos(item, kind, controlBytes(item));
    if (item.isValid() && ui->mainCTView->currentIndex().column() != 0)
        ui->mainCTView->setCurrentIndex(m_mainCTModel->mapFromSource(item));
}

QByteArray BX::controlBytes(const QModelIndex& item) const
{
    const quint8 kind = m_mainDTModel->classType(item);
    const QByteArray bytes = HexaTable::parseData(m_mainDTModel->text(item, MainDTModel::ColData));
    // An output message shows as many bytes as it is to send.
    if (kind == MainDTModel::MESSAGE_OUT)
        return resized(bytes, m_controlPanels->message.msgBytesToSendSpinBox->value());
    // A produced variable not written yet: the bytes a user may fill in.
    if (kind == MainDTModel::VARIABLE_OUT && bytes.isEmpty())
        return resized(bytes, m_mainDTModel->text(item, MainDTModel::ColVarOutLength).toInt());
    return bytes;
}

void BX::showControlValue(const QModelIndex& item, int column, bool fresh)
{
    const quint8 kind = m_mainDTModel->classType(item);
    const QString value = m_mainDTModel->text(item, column);
    const QMap<bool, QString> flagIcons = m_mainDTModel->getFlagIcons();
    auto flag = [&](QLabel* icon, bool good) { icon->setPixmap(QIcon(flagIcons.value(good)).pixmap(16, 16)); };
    const bool variable = kind == MainDTModel::VARIABLE_OUT || kind == MainDTModel::VARIABLE_IN;
    const bool message = kind == MainDTModel::MESSAGE_OUT || kind == MainDTModel::MESSAGE_IN;

    if (kind == MainDTModel::STATION) {
        Ui::ControlStationPanel& p = m_controlPanels->station;
        switch (column) {
        case MainDTModel::ColBaStatusCode: {
            bool ok = false;
            const quint16 code = value.toUShort(&ok, 16);
            const QMap<quint16, QString> icons = m_mainDTModel->getBaStatusIcons();
            p.baStatusIcon->setPixmap(ok && icons.contains(code) ? QIcon(icons.value(code)).pixmap(16, 16) : QPixmap());
            p.baStatusValue->setText(ok ? m_mainDTModel->getBaStatusCodeToStr(code) : QStringLiteral("-"));
            break;
        }
        case MainDTModel::ColCh1Active: flag(p.ch1ActiveIcon, value == "true"); break;
        case MainDTModel::ColCh2Active: flag(p.ch2ActiveIcon, value == "true"); break;
        case MainDTModel::ColCh1TxError: flag(p.ch1TxErrorIcon, value != "true"); break;
        case MainDTModel::ColCh2TxError: flag(p.ch2TxErrorIcon, value != "true"); break;
        case MainDTModel::ColCh1WatchdogError: flag(p.ch1WatchdogErrorIcon, value != "true"); break;
        case MainDTModel::ColCh2WatchdogError: flag(p.ch2WatchdogErrorIcon, value != "true"); break;
        case MainDTModel::ColCh1NoError: p.ch1NoErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColCh2NoError: p.ch2NoErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColCh1Error: p.ch1ErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColCh2Error: p.ch2ErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColNoEchoError: p.noEchoErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColCh1TestPError: p.ch1TestPErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColCh2TestPError: p.ch2TestPErrorValue->setText(grouped(value)); break;
        case MainDTModel::ColDeviceTemperature: p.deviceTemperatureValue->setText(value.isEmpty() ? "-" : value); break;
        case MainDTModel::ColFipDevice: p.fipDeviceValue->setText(value); break;
        case MainDTModel::ColDeviceColor: {
            const QSignalBlocker blocker(p.rgbColorComboBox);
            const int choice = p.rgbColorComboBox->findText(value);
            if (choice >= 0)
                p.rgbColorComboBox->setCurrentIndex(choice);
            break;
        }
        default: break;
        }
        return;
    }
    if (!variable && !message)
        return;

    if (column == MainDTModel::ColReportCode) {
        (variable ? m_controlPanels->variable.varReportCodeValue : m_controlPanels->message.msgReportCodeValue)
            ->setText(reportCodeText(value, variable));
        return;
    }
    if (column == MainDTModel::ColData) {
        QTableWidget* table = variable ? static_cast<QTableWidget*>(m_controlPanels->variable.varHexaTable)
                                       : static_cast<QTableWidget*>(m_controlPanels->message.msgHexaTable);
        const QByteArray bytes = controlBytes(item);
        const bool editable = kind == MainDTModel::VARIABLE_OUT || kind == MainDTModel::MESSAGE_OUT;
        if (fresh)
            updateHexaTableWidget(table, bytes, editable); // same bytes twice: nothing shows as changed
        updateHexaTableWidget(table, bytes, editable);
        if (variable) {
            m_controlPanels->variable.varLengthValue->setText(QString::number(bytes.size()) + " byte(s)");
        }
        return;
    }
    if (variable) {
        Ui::ControlVariablePanel& p = m_controlPanels->variable;
        if (column == MainDTModel::ColRefreshment || column == MainDTModel::ColPromptness) {
            QLabel* icon = column == MainDTModel::ColRefreshment ? p.varRefreshmentIcon : p.varPromptnessIcon;
            QLabel* label = column == MainDTModel::ColRefreshment ? p.varRefreshmentValue : p.varPromptnessValue;
            const bool known = value == "true" || value == "false";
            if (known)
                flag(icon, value == "true");
            else
                icon->setPixmap(QPixmap());
            label->setText(known ? (value == "true" ? tr("True") : tr("False")) : QStringLiteral("-"));
        }
        return;
    }

    Ui::ControlMessagePanel& p = m_controlPanels->message;
    switch (column) {
    case MainDTModel::ColMessagesSent: p.msgSentValue->setText(grouped(value.isEmpty() ? "0" : value)); break;
    case MainDTModel::ColMessageLength: p.msgLengthValue->setText((value.isEmpty() ? "0" : value) + " byte(s)"); break;
    case MainDTModel::ColMessagesReceived:
    case MainDTModel::ColMessagePosition: {
        const int received = m_mainDTModel->text(item, MainDTModel::ColMessagesReceived).toInt();
        const int position = m_mainDTModel->text(item, MainDTModel::ColMessagePosition).toInt();
        p.msgReceivedValue->setText(QString::number(received));
        p.msgPositionValue->setText(QString::number(position));
        ui->onPreviousMsgReceivedButton->setEnabled(position >= 2);
        ui->onNextMsgReceivedButton->setEnabled(position < received);
        break;
    }
    case MainDTModel::ColTransferPath:
        if (!p.transferPathLineEdit->hasFocus())
            p.transferPathLineEdit->setText(value);
        break;
    case MainDTModel::ColTransferState:
    case MainDTModel::ColTransferTime:
    case MainDTModel::ColCurrentPacket:
    case MainDTModel::ColTotalPackets: {
        const int state = m_mainDTModel->text(item, MainDTModel::ColTransferState).toInt();
        const bool out = kind == MainDTModel::MESSAGE_OUT;
        p.transferStateValue->setText(transferStateText(state, out));
        p.fileSendButton->setText(state == 1 && out ? tr("Cancel") : tr("Send File"));
        const qlonglong current = m_mainDTModel->text(item, MainDTModel::ColCurrentPacket).toLongLong();
        const qlonglong total = m_mainDTModel->text(item, MainDTModel::ColTotalPackets).toLongLong();
        const double seconds = m_mainDTModel->text(item, MainDTModel::ColTransferTime).toDouble();
        p.transferProgressValue->setVisible(state == 1);
        p.transferProgressValue->setText("Elapsed Time: " + QString::number(seconds, 'g', 6) + " s - Packets: "
                                         + QString::number(current) + " / " + QString::number(total));
        p.transferProgressBar->setValue(total > 0 ? int(current * 100 / total) : 0);
        break;
    }
    default: break;
    }
}

QString BX::reportCodeText(const QString& code, bool variable)
{
    bool ok = false;
    const quint32 value = quint32(MainDTModel::parseNumber(code, &ok));
    if (!ok)
        return QStringLiteral(" - ");
    if (value == 0)
        return QStringLiteral("Success");
    if (variable && value == NeverSeenCode)
        return QStringLiteral("Never seen on the network");
    return QString::fromLatin1(vantor_get_error_str(value));
}

QString BX::transferStateText(int state, bool emitting)
{
    switch (state) {
    case 0: return QStringLiteral("Idle");
    case 1: return emitting ? QStringLiteral("Transfer in progress...") : QStringLiteral("Receiving Data...");
    case 2: return QStringLiteral("Complete");
    case 3: return QStringLiteral("Aborted");
    default: return QString();
    }
}

// ---------------------------------------------------------------- information bar

void BX::fillInfoBarStations()
{
    QComboBox* stations = m_controlPanels->infoStations;
    if (!stations)
        return;
    const QString chosen = stations->currentText();
    {
        const QSignalBlocker blocker(stations);
        stations->clear();
        QModelIndexList bound;
        for (const QModelIndex& station : m_mainDTModel->getStationIndexes()) {
            if (m_mainDTModel->text(station, MainDTModel::ColDevicePresence) == "true")
                bound << station;
        }
        std::sort(bound.begin(), bound.end(), stationLessThan);
        for (const QModelIndex& station : bound)
            stations->addItem(m_mainDTModel->text(station, MainDTModel::ColObject),
                              m_mainDTModel->text(station, MainDTModel::ColStationAddress));
        stations->setCurrentIndex(qMax(0, stations->findText(chosen)));
    }
    showInfoBar();
}

QModelIndex BX::infoBarStation() const
{
    const QComboBox* stations = m_controlPanels->infoStations;
    bool ok = false;
    const qlonglong address = stations ? MainDTModel::parseNumber(stations->currentData().toString(), &ok) : 0;
    return ok ? m_mainDTModel->getStationIdx(quint8(address)) : QModelIndex();
}

void BX::showInfoBar()
{
    QLabel* icon = m_controlPanels->infoBaIcon;
    QLabel* status = m_controlPanels->infoBaStatus;
    if (!icon || !status)
        return;
    const QModelIndex station = infoBarStation();
    bool ok = false;
    const quint16 code = m_mainDTModel->text(station, MainDTModel::ColBaStatusCode).toUShort(&ok, 16);
    const QMap<quint16, QString> icons = m_mainDTModel->getBaStatusIcons();
    const QString iconPath = ok && icons.contains(code) ? icons.value(code) : QStringLiteral(":/images/images/icon_arbiter_48x48.png");
    icon->setPixmap(QIcon(iconPath).pixmap(16, 16));
    status->setText(ok ? m_mainDTModel->getBaStatusCodeToStr(code) : tr("Stopped"));

    // A channel is usable when active without a transmit error.
    const struct { QLabel* label; int active; int txError; } channels[] = {
        { m_controlPanels->infoChannels[0], MainDTModel::ColCh1Active, MainDTModel::ColCh1TxError },
        { m_controlPanels->infoChannels[1], MainDTModel::ColCh2Active, MainDTModel::ColCh2TxError },
    };
    for (const auto& channel : channels) {
        QLabel* label = channel.label;
        if (!label)
            continue;
        const QString active = m_mainDTModel->text(station, channel.active);
        const bool usable = active == "true" && m_mainDTModel->text(station, channel.txError) != "true";
        label->setStyleSheet(active.isEmpty() ? QString()
                                              : QString("color: %1; font-weight: bold;").arg(usable ? "#1e8e3e" : "#c5221f"));
    }
}

void BX::onMainCTModelDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (!topLeft.isValid())
        return;
    const QModelIndex first = m_mainCTModel->mapToSource(topLeft);
    const QModelIndex last = m_mainCTModel->mapToSource(bottomRight);
    if (first.column() <= MainDTModel::ColCh2TxError && last.column() >= MainDTModel::ColBaStatusCode
        && m_mainDTModel->classType(first) == MainDTModel::STATION) {
        const QModelIndex shown = infoBarStation();
        if (shown.parent() == first.parent() && shown.row() >= first.row() && shown.row() <= last.row())
            showInfoBar();
    }
    const QModelIndex item = getMainCTSelectedIndex();
    if (!item.isValid())
        return;
    if (first.parent() != item.parent() || item.row() < first.row() || item.row() > last.row())
        return;
    const quint8 kind = m_mainDTModel->classType(item);
    const bool dataItem = kind == MainDTModel::VARIABLE_OUT || kind == MainDTModel::VARIABLE_IN
                       || kind == MainDTModel::MESSAGE_OUT || kind == MainDTModel::MESSAGE_IN;
    if (dataItem && first.column() <= MainDTModel::ColData && last.column() >= MainDTModel::ColData) {
        fillControlPanel(false);
        return;
    }
    for (int column = qMax(first.column(), int(MainDTModel::FirstStatusColumn)); column <= last.column(); ++column)
        showControlValue(item, column, false);
}

// ---------------------------------------------------------------- byte tables

void BX::onHexaTableCellChanged(int row, int column)
{
    auto* table = qobject_cast<QTableWidget*>(sender());
    if (!table)
        return;
    const bool variableTable = table == m_controlPanels->variable.varHexaTable;
    if (variableTable)
        m_controlPanels->variable.varSendDataButton->setText(tr("Apply *"));
    else
        m_controlPanels->message.msgSendDataButton->setText(tr("Send *"));
    QTableWidgetItem* cell = table->item(row, column);
    if (!cell)
        return;
    const QSignalBlocker blocker(table);
    QFont font = cell->font();
    font.setWeight(QFont::Bold);
    cell->setFont(font);
    cell->setText(QString::asprintf("%02x", cell->text().toUInt(nullptr, 16) & 0xFF));
}

void BX::onSendDataButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    const quint8 kind = m_mainDTModel->classType(item);
    if (kind != MainDTModel::VARIABLE_OUT && kind != MainDTModel::MESSAGE_OUT)
        return;
    const bool variable = kind == MainDTModel::VARIABLE_OUT;
    QTableWidget* table = variable ? static_cast<QTableWidget*>(m_controlPanels->variable.varHexaTable)
                                   : static_cast<QTableWidget*>(m_controlPanels->message.msgHexaTable);
    (variable ? m_controlPanels->variable.varSendDataButton : m_controlPanels->message.msgSendDataButton)
        ->setText(variable ? tr("Apply") : tr("Send"));
    QString data;
    {
        const QSignalBlocker blocker(table);
        for (int i = 0; i < HexaTable::Cells; ++i) {
            QTableWidgetItem* cell = table->item(i / HexaTable::Side, i % HexaTable::Side);
            if (!cell || cell->text().isEmpty())
                continue;
            QFont font = cell->font();
            font.setWeight(QFont::Normal);
            cell->setFont(font);
            data += cell->text().toUpper() + ' ';
        }
    }
    // The worker writes a produced variable from "Data" on its next pass.
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, MainDTModel::ColData), data);
    if (!variable)
        emit sendMsgCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), item);
}

void BX::onMsgBytesToSendChanged(int count)
{
    if (m_mainDTModel->classType(getMainCTSelectedIndex()) != MainDTModel::MESSAGE_OUT)
        return;
    // The grid grows or shrinks with what was typed kept; "Data" changes on Send.
    QTableWidget* table = m_controlPanels->message.msgHexaTable;
    QByteArray bytes;
    for (int i = 0; i < HexaTable::Cells; ++i) {
        const QTableWidgetItem* cell = table->item(i / HexaTable::Side, i % HexaTable::Side);
        if (cell && !cell->text().isEmpty())
            bytes.append(char(cell->text().toUInt(nullptr, 16)));
    }
    updateHexaTableWidget(table, resized(bytes, count), true);
    m_controlPanels->message.msgSendDataButton->setText(tr("Send *"));
    // The mnemonics read the bytes now in the grid.
    const QModelIndex item = getMainCTSelectedIndex();
    loadLinkedMnemos(item, MainDTModel::MESSAGE_OUT, mnemoTableBytes(item));
}

// ---------------------------------------------------------------- commands

void BX::onBaCmdClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::STATION || !sender())
        return;
    static const QStringList names = { "baStartButton", "baContinueButton", "baToggleButton", "baStopButton" };
    const int command = names.indexOf(sender()->objectName());
    if (command >= 0)
        emit baCmdClicked(item, command);
}

void BX::onOverviewBaCmdClicked()
{
    if (!sender())
        return;
    const QString name = sender()->objectName();
    int command = -1;
    if (name == "actionStartBa" || name == "overviewBaStartButton")
        command = 0;
    else if (name == "actionStopBa" || name == "overviewBaStopButton")
        command = 3;
    const QString chosen = ui->overviewStationComboBox->currentText();
    if (command < 0 || chosen.isEmpty())
        return;
    for (const QModelIndex& station : m_mainDTModel->getStationIndexes()) {
        if (m_mainDTModel->text(station, MainDTModel::ColDevicePresence) == "true"
            && m_mainDTModel->text(station, MainDTModel::ColObject) == chosen) {
            emit baCmdClicked(station, command);
            return;
        }
    }
}

void BX::onSendMediumCmdClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::STATION)
        return;
    const QVariant word = m_controlPanels->station.mediumCmdComboBox->currentData();
    if (word.isValid())
        emit sendMediumCmdClicked(item, quint16(word.toUInt()));
}

void BX::onPurgeMsgButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_OUT)
        return;
    emit purgeMsgCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION),
                            quint8(m_mainDTModel->text(item, MainDTModel::ColMsgChannelNumber).toUInt()));
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, MainDTModel::ColMessagesSent), "0");
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, MainDTModel::ColReportCode), "-");
}

void BX::onEraseMsgButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_IN)
        return;
    emit eraseMsgCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), item);
    const QPair<int, QString> cleared[] = { { MainDTModel::ColMessagePosition, "0" },
                                            { MainDTModel::ColMessagesReceived, "0" },
                                            { MainDTModel::ColReportCode, "-" },
                                            { MainDTModel::ColMessageLength, "0" },
                                            { MainDTModel::ColData, QString() } };
    for (const auto& field : cleared)
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, field.first), field.second);
}

void BX::onPreviousMsgReceivedButton()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_IN)
        return;
    const int position = m_mainDTModel->text(item, MainDTModel::ColMessagePosition).toInt();
    if (position >= 2)
        emit msgHistoricCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), item, quint16(position - 1));
}

void BX::onNextMsgReceivedButton()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_IN)
        return;
    const int position = m_mainDTModel->text(item, MainDTModel::ColMessagePosition).toInt();
    const int received = m_mainDTModel->text(item, MainDTModel::ColMessagesReceived).toInt();
    if (position < received)
        emit msgHistoricCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), item, quint16(position + 1));
}

void BX::onFileEmissionPathButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_OUT)
        return;
    const QString path = QFileDialog::getOpenFileName(this, tr("Send File"),
                                                      m_mainDTModel->text(item, MainDTModel::ColTransferPath));
    if (!path.isEmpty())
        m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(item, MainDTModel::ColTransferPath), path);
}

void BX::onFileSendButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::MESSAGE_OUT)
        return;
    const QModelIndex station = m_mainDTModel->getAncestor(item, MainDTModel::STATION);
    if (m_mainDTModel->text(item, MainDTModel::ColTransferState) == "1") {
        emit abortFileCmdClicked(station, item);
        return;
    }
    const QFileInfo file(m_mainDTModel->text(item, MainDTModel::ColTransferPath));
    if (file.filePath().isEmpty() || !file.exists()) {
        QMessageBox::warning(this, tr("Brantix"), tr("Impossible to send the file. The path doesn't exist."));
        return;
    }
    emit sendFileCmdClicked(station, item);
}

quint8 BX::aperiodicListMode(const QModelIndex& list) const
{
    return m_mainDTModel->text(list, MainDTModel::ColAperListMode).compare("Urgent", Qt::CaseInsensitive) == 0 ? 1 : 0;
}

void BX::onSendAperListButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::APERIODIC_LIST)
        return;
    QList<quint16> ids;
    QListWidget* list = m_controlPanels->aperiodic.aperListWidget;
    for (int row = 0; row < list->count(); ++row) {
        bool ok = false;
        const quint16 id = MainDTModel::parseID(list->item(row)->data(Qt::UserRole + 1).toString(), &ok);
        if (ok)
            ids.append(id);
    }
    emit sendAperiodicListCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), ids, aperiodicListMode(item));
}

void BX::onPurgeAperListButtonClicked()
{
    const QModelIndex item = getMainCTSelectedIndex();
    if (m_mainDTModel->classType(item) != MainDTModel::APERIODIC_LIST)
        return;
    emit purgeAperiodicListCmdClicked(m_mainDTModel->getAncestor(item, MainDTModel::STATION), aperiodicListMode(item));
}

// ---------------------------------------------------------------- worker reports

void BX::onMsgHistoric(QModelIndex msgIdx, quint16 position, QList<quint8> bytes)
{
    if (!msgIdx.isValid())
        return;
    QByteArray raw;
    raw.reserve(bytes.size());
    for (quint8 b : bytes)
        raw.append(char(b));
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(msgIdx, MainDTModel::ColMessagePosition),
                                         QString::number(position));
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(msgIdx, MainDTModel::ColMessageLength),
                                         QString::number(bytes.size()));
    // Writing "Data" refreshes the byte table when the message is the one shown.
    m_mainDTModel->setDataWithoutControl(m_mainDTModel->cell(msgIdx, MainDTModel::ColData), HexaTable::dataText(raw));
}

void BX::onStationIsolationEvent(QModelIndex staIdx)
{
    QMessageBox box(QMessageBox::Warning, tr("FIP medium failure"),
                    "\"" + m_mainDTModel->text(staIdx, MainDTModel::ColObject) + "\" : The FIP communication is broken.",
                    QMessageBox::Retry | QMessageBox::Abort, this);
    box.setInformativeText(tr("Do you want to try to solve the problem?\n\n"
                              "Otherwire, this station will be automatically disconnected."));
    box.setDefaultButton(QMessageBox::Retry);
    emit stationIsolationTreatment(staIdx, box.exec());
}
