// The analysis side of the main window: the analysis context and its reset,
// the frame table and transaction tree, the statistics and presence pages with
// their timers, the raw file conversion and the opening of a stored capture.

#include "app/BX.h"
#include "capture/decoder/FipStreamDecoder.h"
#include "ui_BX.h"

#include "analysis/AnalysisContext.h"
#include "analysis/CaptureAnalysis.h"
#include "analysis/ControlTable.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MainATDelegate.h"
#include "analysis/MainATModel.h"
#include "analysis/StationPresenceTable.h"
#include "analysis/StatisticsOverview.h"
#include "analysis/StatisticsPage.h"
#include "analysis/TransactionATDelegate.h"
#include "analysis/TransactionATModel.h"
#include "capture/device/OstrakCard.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/pcapng/PcapngImport.h"
#include "capture/files/TraceFileCheck.h"
#include "capture/files/CaptureSession.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/files/StatsFile.h"
#include "capture/decoder/TraceRow.h"
#include "design/MainDTModel.h"
#include "platform/desktop/DesktopServices.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include <cmath>

/// What the decoder tells the displays rather than the analysis: the frame
/// table's speed and anchor, and the breathing of a long conversion.
class BX::AnalysisHooks : public FipDecoderListener
{
public:
    explicit AnalysisHooks(BX* window)
        : m_window(window)
    {
    }
    void onOstrakSpeed(quint8 code) override
    {
        m_window->m_mainATModel->setOstrakSpeed(code);
        // An Osp stream tells the speed in its first record; the card learns it
        // there. Its read loop waits while this packet is decoded.
        if (m_window->m_ostrakCard)
            m_window->m_ostrakCard->setSpeed(code);
    }
    void onAbsoluteCounterAnchor(quint64 micros) override
    {
        m_window->m_mainATModel->setAbsoluteCounterAnchor(micros);
    }
    void onProcessEvents(qint64 position, qint64 size) override
    {
        m_window->m_conversionPosition = position;
        m_window->m_conversionSize = size;
        QCoreApplication::processEvents();
    }

private:
    BX* m_window;
};

namespace {

const char* const DepthTitles[] = { "No Data", "Raw Frames (All)", "Raw Frames (Only on change)",
                                    "Labels (Only on change)" };

/// The conversion's message boxes: title "Brantix" and the application's icon.
QMessageBox::StandardButton conversionBox(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                          const QString& informative = QString(),
                                          QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                          QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                          const QString& title = CaptureFileMessages::messageTitle())
{
    QMessageBox box(icon, title, text, buttons, parent);
    box.setWindowIcon(QIcon(CaptureFileMessages::iconPath()));
    box.setInformativeText(informative);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool askToContinue(QWidget* parent, const QString& text, QMessageBox::StandardButton defaultButton)
{
    return conversionBox(parent, QMessageBox::Question, text, CaptureFileMessages::continueQuestion(),
                         QMessageBox::Yes | QMessageBox::No, defaultButton)
        == QMessageBox::Yes;
}

} // namespace

void BX::setupAnalysis()
{
    m_analysisContext = new AnalysisContext;
    m_analysisHooks = new AnalysisHooks(this);
    m_frameAnalysis = new FrameAnalysis(m_analysisContext, m_analysisHooks);
    m_captureSession->setAnalysis(m_frameAnalysis);
    m_networkRatio = new NetworkRatio;
    m_controlTable = new ControlTable;

    m_mainATModel = new MainATModel(this);
    m_mainATDelegate = new MainATDelegate(m_controlTable, this);
    setupFrameFilter();
    ui->mainATView->setItemDelegate(m_mainATDelegate);
    ui->mainATView->setSortingEnabled(false);
    // Uniform fixed rows keep a table of millions of rows cheap to lay out on every batch.
    ui->mainATView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->mainATView->verticalHeader()->setDefaultSectionSize(20);
    ui->mainATView->verticalHeader()->hide();
    ui->mainATView->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_mainATModel, &MainATModel::generateProgress, this, &BX::onAnalysisProgressBar);
    connect(ui->mainATView->horizontalHeader(), &QHeaderView::customContextMenuRequested, this,
            &BX::onCustomContextHeaderATMenu);
    m_headerATMenu = makeHeaderMenu(ui->mainATView, ui->mainATView->horizontalHeader(), m_mainATModel);
    connect(m_headerATMenu, &QMenu::triggered, this, &BX::onHeaderATMenuTriggered);
    for (int column : { int(TraceRow::RelativeDateTick), int(TraceRow::AbsoluteDateTick), int(TraceRow::Pixmap) })
        ui->mainATView->setColumnHidden(column, true);
    // Fixed widths that fit the texts the decoder writes: sizing to contents would
    // read every row of a long trace.
    static const int frameTableWidths[TraceRow::FieldCount] = { 75, 90, 240, 110, 310, 150, 125, 125, 150, 95,
                                                               70, 115, 110, 320, 140, 80, 90, 80, 140, 140, 140, 80 };
    for (int column = 0; column < TraceRow::FieldCount; ++column)
        ui->mainATView->horizontalHeader()->resizeSection(column, frameTableWidths[column]);

    m_transactionATModel = new TransactionATModel(this);
    m_transactionATDelegate = new TransactionATDelegate(this);
    ui->transactionATView->setModel(m_transactionATModel);
    ui->transactionATView->setItemDelegate(m_transactionATDelegate);
    ui->transactionATView->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    for (int column = 0; column < TransactionATModel::ColumnCount; ++column)
        ui->transactionATView->header()->resizeSection(column, column == TransactionATModel::DataValueCol ? 320 : 115);
    ui->transactionATView->header()->resizeSection(TransactionATModel::TransactionCol, 260);
    connect(m_transactionATModel, &TransactionATModel::newCategoryCreated, this, &BX::onNewCategoryCreated);
    connect(m_transactionATModel, &TransactionATModel::firstCategoryChildCreated, this,
            &BX::onFirstCategoryChildCreated);
    connect(ui->transactionATView->header(), &QHeaderView::customContextMenuRequested, this,
            &BX::onCustomContextHeaderTransactionATMenu);
    m_headerTransactionATMenu
        = makeHeaderMenu(ui->transactionATView, ui->transactionATView->header(), m_transactionATModel);
    connect(m_headerTransactionATMenu, &QMenu::triggered, this, &BX::onHeaderTransactionATMenuTriggered);

    m_statisticsPage = new StatisticsPage(ui->statisticsCountersWidget);
    ui->statisticsCountersWidgetLayout->addWidget(m_statisticsPage, 0, 0);
    m_presenceTable = new StationPresenceTable(ui->presenceTableWidget);
    razStationPresenceTable();

    connect(m_statisticsTimer, &QTimer::timeout, this, &BX::onUpdateAnalysisStatisticCounters);
    // The gauges run while a capture or a conversion does.
    connect(m_networkRatioTimer, &QTimer::timeout, this, &BX::onUpdateNetworkRatio);

    for (QPushButton* button : { ui->vtrcStatisticalButton, ui->vtrcRawFramesAllButton,
                                 ui->vtrcRawFramesOnChangeButton, ui->vtrcMnemonicsButton })
        connect(button, &QPushButton::toggled, this, &BX::onDepthAnalysisButtonsToggled);
    connect(ui->depthAnalysisSlider, &QSlider::valueChanged, this, &BX::onDepthAnalysisSliderValueChanged);
    onDepthAnalysisSliderValueChanged(ui->depthAnalysisSlider->value());

    for (const QString& name : ControlTable::buttonNames()) {
        if (auto* button = findChild<QPushButton*>(name))
            connect(button, &QPushButton::clicked, this, &BX::onButtonColorClicked);
    }
    updateButtonsColor();

    if (ui->backupSizeLimitUnit->count() == 0)
        ui->backupSizeLimitUnit->addItems({ QStringLiteral("MB"), QStringLiteral("GB") });
    const auto fill = [](QComboBox* box, int count) {
        if (box->count() != 0)
            return;
        for (int i = 0; i < count; ++i)
            box->addItem(QString::asprintf("%02d", i));
    };
    fill(ui->backupTimeLimitJValue, 31);
    fill(ui->backupTimeLimitHValue, 24);
    fill(ui->backupTimeLimitMValue, 60);
    fill(ui->backupTimeLimitSValue, 60);
    if (ui->backupTimeLimitMValue->currentIndex() == 0 && ui->backupTimeLimitHValue->currentIndex() == 0
        && ui->backupTimeLimitJValue->currentIndex() == 0)
        ui->backupTimeLimitMValue->setCurrentIndex(10);
    if (ui->backupSizeLimitValue->text().isEmpty())
        ui->backupSizeLimitValue->setText(QStringLiteral("50"));

    // One information button at the top right of each group of the parameters page.
    static const char* const InfoTopics[][2] = {
        { "captureCard", "analysis-capture-card" }, { "padding", "analysis-padding" },
        { "macro", "analysis-macrocycle" },         { "backup", "analysis-backup" },
        { "analysisMisc", "analysis-depth" },       { "conversion", "analysis-conversion" },
    };
    for (const auto& topic : InfoTopics) {
        auto* group = findChild<QGroupBox*>(QLatin1String(topic[0]) + QLatin1String("GroupBox"));
        if (!group || !group->layout())
            continue;
        // In a column of its own at the end of the group's first row.
        auto* grid = qobject_cast<QGridLayout*>(group->layout());
        for (int i = 0; !grid && i < group->layout()->count(); ++i)
            grid = qobject_cast<QGridLayout*>(group->layout()->itemAt(i)->layout());
        if (!grid)
            continue;
        auto* button = new QToolButton(group);
        button->setObjectName(QLatin1String(topic[0]) + QLatin1String("InfoButton"));
        button->setIcon(QIcon(QStringLiteral(":/images/images/icon_info_blue_tr_48x48.png")));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        button->setToolTip(tr("Help about %1").arg(group->title()));
        button->setProperty("helpTopic", QLatin1String(topic[1]));
        grid->addWidget(button, 0, grid->columnCount(), Qt::AlignRight | Qt::AlignTop);
        connect(button, &QToolButton::clicked, this, &BX::onInfoAnalysisButtonClicked);
    }

    connect(ui->prawFileTargetButton, &QPushButton::clicked, this, &BX::onPrawFileTargetButtonClicked);
    connect(ui->prawToVtrcGenerateButton, &QPushButton::clicked, this, &BX::onPrawToVtrcGenerateButtonClicked);
    connect(ui->prawToVtrcCancelButton, &QPushButton::clicked, this, &BX::onPrawToVtrcCancelButtonClicked);
    connect(ui->vtrcFilePath, &QLineEdit::textChanged, this, [this] { setConversionControlsEnabled(true); });
    connect(ui->actionOpenCapture, &QAction::triggered, this, &BX::onOpenBackupButtonClicked);
    setConversionControlsEnabled(true);
    razStatisticalAnalysis();
    setupMacrocycle();
    setupMnemonics();
    setupDesignCheck(m_analysisHooks);
}

void BX::teardownAnalysis()
{
    teardownDesignCheck();
    teardownMnemonics();
    teardownMacrocycle();
    if (m_captureSession)
        m_captureSession->setAnalysis(nullptr);
    delete m_frameAnalysis;
    m_frameAnalysis = nullptr;
    delete m_analysisHooks;
    m_analysisHooks = nullptr;
    delete m_networkRatio;
    m_networkRatio = nullptr;
    delete m_presenceTable;
    m_presenceTable = nullptr;
    // The delegate paints with the control table until the view goes.
    ui->mainATView->setItemDelegate(nullptr);
    delete m_controlTable;
    m_controlTable = nullptr;
    delete m_analysisContext;
    m_analysisContext = nullptr;
}

// ---------------------------------------------------------------- context

void BX::initAnalysisContext()
{
    AnalysisContext& context = *m_analysisContext;
    context.reset();
    m_frameAnalysis->reset();
    razStatisticalAnalysis();

    bool ok = false;
    const quint16 padding = quint16(ui->paddingIdentifier->text().toUInt(&ok, 16));
    context.paddingIdentifier = ok ? padding : 0;
    context.depthMode = m_depthAnalysisMode;

    m_captureSession->traceWriter().clearPending();
    m_transactionATModel->clear();
    m_transactionATModel->setPadding(ui->fixedIdPadding->isChecked() ? context.paddingIdentifier : 0);
    razStationPresenceTable();
    initMacrocycleContext();

    CaptureAnalysis::applyRefreshments(context, *m_mainDTModel);

    initMnemonicsContext();
    resetDesignCheck();

    ui->analysisProgressBar->setValue(0);
    ui->prawToVtrcProgressBar->setValue(0);
    ui->prawToVtrcProgressLabel->setText(QStringLiteral("0 %"));
    m_statisticsTicks = 0;
}

void BX::mainATSortingEnabled(bool enabled)
{
    Q_UNUSED(enabled)
    // Rows are file offsets: the table shows them in file order, always.
    ui->mainATView->setSortingEnabled(false);
    ui->mainATView->setModel(m_frameFilterATModel);
}

// ---------------------------------------------------------------- control colours

quint8 BX::getControlCode(const QString& name) const
{
    return m_controlTable->getControlCode(name);
}

QColor BX::getControlColor(quint8 code) const
{
    return m_controlTable->getControlColor(code);
}

void BX::updateButtonsColor()
{
    for (const QString& name : ControlTable::buttonNames()) {
        auto* button = findChild<QPushButton*>(name);
        const QList<quint8> codes = ControlTable::codesOfButton(name);
        if (button == nullptr || codes.isEmpty())
            continue;
        button->setStyleSheet(QStringLiteral("border: none; background-color: %1")
                                  .arg(m_controlTable->getControlColor(codes.first()).name()));
    }
}

void BX::onButtonColorClicked()
{
    const QString name = sender() ? sender()->objectName() : QString();
    const QColor color = QColorDialog::getColor(Qt::white, this);
    if (!color.isValid())
        return;
    for (quint8 code : ControlTable::codesOfButton(name))
        m_controlTable->setControlColor(code, color);
    updateButtonsColor();
    ui->mainATView->viewport()->update();
}

// ---------------------------------------------------------------- depth analysis

void BX::onDepthAnalysisButtonsToggled(bool checked)
{
    if (!checked)
        return;
    const QObject* button = sender();
    const QList<QPushButton*> buttons = { ui->vtrcStatisticalButton, ui->vtrcRawFramesAllButton,
                                          ui->vtrcRawFramesOnChangeButton, ui->vtrcMnemonicsButton };
    for (int i = 0; i < buttons.size(); ++i) {
        if (buttons[i] == button)
            ui->depthAnalysisSlider->setValue(i + 1);
        else
            buttons[i]->setChecked(false);
    }
}

void BX::onDepthAnalysisSliderValueChanged(int value)
{
    QFile page(QStringLiteral(":/html/depthAnalysisMode%1.html").arg(value));
    if (page.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ui->depthTextEdit->setHtml(QString::fromUtf8(page.readAll()));
    } else {
        QMessageBox::warning(this, tr("Error during html loading"),
                             tr("Unable to open the html file, please restart the software so that it takes effect."));
    }
    m_depthAnalysisMode = value;
    if (value >= 1 && value <= 4)
        ui->vtrcFileDepth->setText(tr(DepthTitles[value - 1]));
    const QList<QPushButton*> buttons = { ui->vtrcStatisticalButton, ui->vtrcRawFramesAllButton,
                                          ui->vtrcRawFramesOnChangeButton, ui->vtrcMnemonicsButton };
    if (value >= 1 && value <= 4 && !buttons[value - 1]->isChecked())
        buttons[value - 1]->setChecked(true);
}

// ---------------------------------------------------------------- column menus

QMenu* BX::makeHeaderMenu(QAbstractItemView* view, QHeaderView* header, QAbstractItemModel* model)
{
    auto* menu = new QMenu(view);
    for (int column = 0; column < model->columnCount(); ++column) {
        QAction* action = menu->addAction(model->headerData(column, Qt::Horizontal).toString());
        action->setCheckable(true);
        action->setData(column);
    }
    connect(menu, &QMenu::aboutToShow, menu, [menu, header] {
        for (QAction* action : menu->actions())
            action->setChecked(!header->isSectionHidden(action->data().toInt()));
    });
    return menu;
}

void BX::onCustomContextHeaderATMenu(const QPoint& point)
{
    m_headerATMenu->popup(ui->mainATView->horizontalHeader()->mapToGlobal(point));
}

void BX::onHeaderATMenuTriggered(QAction* action)
{
    ui->mainATView->setColumnHidden(action->data().toInt(), !action->isChecked());
}

void BX::onCustomContextHeaderTransactionATMenu(const QPoint& point)
{
    m_headerTransactionATMenu->popup(ui->transactionATView->header()->mapToGlobal(point));
}

void BX::onHeaderTransactionATMenuTriggered(QAction* action)
{
    ui->transactionATView->setColumnHidden(action->data().toInt(), !action->isChecked());
}

void BX::onNewCategoryCreated()
{
    ui->transactionATView->expandToDepth(0);
}

void BX::onFirstCategoryChildCreated(QModelIndex category)
{
    ui->transactionATView->expand(category);
}

// ---------------------------------------------------------------- statistics

QList<QPair<QString, quint64*>> BX::getStatisticalAnalysisCounters()
{
    return m_analysisContext->counters.named();
}

QList<QPair<QString, QString*>> BX::getStatisticalAnalysisInfoAndTime()
{
    return m_analysisContext->info.named();
}

void BX::counterVisibility(bool visible, QLabel* valueLabel, QLabel* titleLabel, int kind)
{
    StatisticsPage::counterVisibility(visible, valueLabel, titleLabel, kind);
}

void BX::razStatisticalAnalysis()
{
    m_analysisContext->counters = StatisticsCounters();
    m_analysisContext->info.clear();
    m_analysisContext->totals = TransactionTotals();
    m_statisticsPage->showOverview(m_analysisContext->counters, m_analysisContext->info, m_analysisContext->totals);
}

void BX::razStationPresenceTable()
{
    m_presenceTable->razStationPresenceTable();
}

void BX::updateAnalysisOverviewDisplay()
{
    AnalysisContext& context = *m_analysisContext;
    StatisticsOverview::updateTotals(context, *m_transactionATModel);
    m_statisticsPage->showOverview(context.counters, context.info, context.totals);
}

void BX::refreshAnalysis(bool presence, bool glitchWindow)
{
    AnalysisContext& context = *m_analysisContext;
    const FipStreamDecoder& decoder = m_captureSession->decoder();
    StatisticsOverview::collect(decoder.counters(), &context.counters);
    StatisticsOverview::pushTransactions(context, *m_transactionATModel, decoder.state().speedCode,
                                         decoder.state().tickDuration(), glitchWindow);
    if (glitchWindow)
        checkAndAutoSearchPadding();
    StatisticsOverview::updateTimes(context, decoder, QDateTime::currentMSecsSinceEpoch(),
                                    double(m_macrocycleAnalysis->microcycleLength()),
                                    int(m_macrocycleAnalysis->macrocycle().size()));
    updateAnalysisOverviewDisplay();
    if (presence)
        m_presenceTable->refresh(context);
}

void BX::finishAnalysis(const QString& tracePath, bool* written)
{
    m_networkRatioTimer->stop();
    refreshAnalysis(true, false);
    onRefreshMnemoGraphs();
    pushMnemoValues();
    refreshDesignCheck();
    QVector<qint64> offsets;
    const bool ok = m_captureSession->stop(&offsets);
    if (!offsets.isEmpty())
        m_mainATModel->addRows(offsets.size(), offsets);
    if (written)
        *written = ok;
    if (tracePath.isEmpty())
        return;
    StatsFile statistics(getStatisticalAnalysisCounters(), getStatisticalAnalysisInfoAndTime());
    if (!statistics.save(StatsFile::pathFor(tracePath)))
        updateStatusBar(1, statistics.errorString());
}

void BX::flushTraceLines()
{
    QVector<qint64> offsets;
    if (!m_captureSession->writePending(&offsets))
        updateStatusBar(2, m_captureSession->traceWriter().errorString());
    if (!offsets.isEmpty())
        m_mainATModel->addRows(offsets.size(), offsets);
}

void BX::onUpdateAnalysisStatisticCounters()
{
    if (!m_capturing && !m_converting)
        return;
    ++m_statisticsTicks;
    const bool secondTick = m_statisticsTicks % 2 == 0;
    refreshAnalysis(secondTick, m_statisticsTicks % 4 == 0);
    if (m_statisticsTicks % 4 == 0) {
        onRefreshMnemoGraphs();
        refreshDesignCheck();
    }
    pushMnemoValues();
    const FipStreamDecoder& decoder = m_captureSession->decoder();
    if (secondTick) {
        if (m_captureSession->keepsTraceRows())
            flushTraceLines();
        else
            m_captureSession->traceWriter().clearPending();
        if (m_converting && m_conversionSize > 0) {
            const int percent = int(std::lround(double(m_conversionPosition) * 100.0 / double(m_conversionSize)));
            ui->prawToVtrcProgressBar->setValue(percent);
            ui->prawToVtrcProgressLabel->setText(QString::number(percent) + QStringLiteral(" %"));
        }
    }
    // The backup limits are checked on every tick, so a capture stops within 500 ms of one.
    if (m_capturing) {
        const FipCaptureCounters& counters = decoder.counters();
        // Beside the messages, not over them: they must last their 10 s.
        m_captureFiguresLabel->setText(tr("Capturing: %L1 frames, %L2 bytes received, %L3 packets lost")
                                           .arg(counters.frames)
                                           .arg(m_captureBytes)
                                           .arg(counters.lostPackets));
        m_captureFiguresLabel->show();
        if (!checkBackupLimits())
            checkBackupDiskSpace();
    }
}

void BX::onInfoAnalysisButtonClicked()
{
    const QString topic = sender() ? sender()->property("helpTopic").toString() : QString();
    QUrl url = helpUrl(QCoreApplication::applicationDirPath());
    url.setFragment(topic);
    DesktopServices::openUrl(url);
}

bool BX::checkBackupLimits()
{
    if (ui->backupSizeLimit->isChecked()) {
        const QString unit = ui->backupSizeLimitUnit->currentText();
        const quint64 number = ui->backupSizeLimitValue->text().toULongLong();
        const quint64 limit = number * (unit == QLatin1String("GB") ? 1000000000ULL : 1000000ULL);
        const quint64 current = quint64(m_captureSession->backupSize()) + 50000000ULL * quint64(m_closedBackupFiles);
        if (limit == 0 || current >= limit) {
            onAnalysisProgressBar(100);
            onStartStopCapturingButtonClicked();
            QMessageBox::information(this, QStringLiteral("Ostrak"),
                                     tr("The analysis was stopped because the size limit of backup (") + ui->backupSizeLimitValue->text()
                                         + QLatin1Char(' ') + unit + tr(") is reached."));
            return true;
        }
        onAnalysisProgressBar(int(std::lround(double(current) * 100.0 / double(limit))));
    } else if (ui->backupTimeLimit->isChecked() && m_backupEndDate.isValid()) {
        const QDateTime now = QDateTime::currentDateTime();
        if (now > m_backupEndDate) {
            onAnalysisProgressBar(100);
            onStartStopCapturingButtonClicked();
            QMessageBox::information(this, QStringLiteral("Ostrak"),
                                     tr("The analysis was stopped because the time limit of backup (")
                                         + QString::asprintf("%02d:%02d:%02d:%02d",
                                                             ui->backupTimeLimitJValue->currentIndex(),
                                                             ui->backupTimeLimitHValue->currentIndex(),
                                                             ui->backupTimeLimitMValue->currentIndex(),
                                                             ui->backupTimeLimitSValue->currentIndex())
                                         + tr(") is reached."));
            return true;
        }
        const qint64 total = m_captureStart.msecsTo(m_backupEndDate);
        if (total > 0)
            onAnalysisProgressBar(int(std::lround(double(m_captureStart.msecsTo(now)) * 100.0 / double(total))));
    }
    return false;
}

void BX::onUpdateNetworkRatio()
{
    const FipStreamDecoder& decoder = m_captureSession->decoder();
    NetworkRatio::Rates rates;
    if (m_networkRatio->update(decoder.state().timestamp,
                               NetworkRatio::accumulators(*m_analysisContext, decoder.counters()),
                               decoder.state().speedCode, &rates))
        m_statisticsPage->showRates(rates);
}

// ---------------------------------------------------------------- raw file conversion

void BX::setConversionControlsEnabled(bool enabled)
{
    ui->prawFileTargetButton->setEnabled(enabled);
    ui->vtrcFilePath->setEnabled(enabled);
    ui->prawToVtrcGenerateButton->setEnabled(enabled && !m_capturing && !ui->prawFilePath->text().isEmpty()
                                             && !ui->vtrcFilePath->text().isEmpty());
    ui->prawToVtrcCancelButton->setEnabled(!enabled);
}

void BX::onPrawFileTargetButtonClicked()
{
    const QString raw = QFileDialog::getOpenFileName(this, CaptureFileMessages::openRawTitle(),
                                                     ui->backupRepository->text(),
                                                     CaptureFileMessages::rawFileFilter());
    if (raw.isEmpty())
        return;
    const QFileInfo info(raw);
    ui->prawFilePath->setText(raw);
    ui->vtrcFilePath->setText(info.dir().filePath(info.completeBaseName() + QLatin1Char('.')
                                                  + TraceFileWriter::extension()));
    setConversionControlsEnabled(true);
}

void BX::onPrawToVtrcGenerateButtonClicked()
{
    generateVtrcFile(ui->prawFilePath->text(), ui->vtrcFilePath->text(),
                     static_cast<unsigned char>(ui->depthAnalysisSlider->value()));
}

void BX::onPrawToVtrcCancelButtonClicked()
{
    m_conversionStop = true;
}

bool BX::generateVtrcFile(const QString& rawPath, const QString& tracePath, unsigned char depth)
{
    if (m_capturing || m_converting || m_ostrakCard) {
        conversionBox(this, QMessageBox::Warning,
                      m_converting ? CaptureFileMessages::conversionInProgress() : CaptureFileMessages::captureInProgress());
        return false;
    }
    RawTraceConversion conversion;
    const RawTraceConversion::Result opened = conversion.openSource(rawPath);
    if (opened != RawTraceConversion::Ok) {
        conversionBox(this, QMessageBox::Warning, RawTraceConversion::message(opened, rawPath));
        return false;
    }
    if (!m_mainATModel->filePath().isEmpty()
        && !askToContinue(this, CaptureFileMessages::analysisAlreadyOpen(), QMessageBox::Yes))
        return false;

    initAnalysisContext();
    // The trace and the statistics saved beside it go together: neither is replaced unasked.
    CaptureSession::Files destination;
    destination.trace = tracePath;
    const QStringList existing = CaptureSession::existingFiles(destination);
    if (!existing.isEmpty()) {
        if (!askToContinue(this, CaptureFileMessages::destinationExists(), QMessageBox::No))
            return false;
        for (const QString& path : existing)
            QFile::remove(path);
    }
    // The trace is locked and opened here and stays so until the conversion ends.
    TraceRecordOptions options = traceRecordOptions();
    options.depthMode = depth;
    QString error;
    m_captureSession->decoder().setPaddingRule(ui->fixedIdPadding->isChecked(), m_analysisContext->paddingIdentifier);
    if (!m_captureSession->startConversion(options, tracePath, &error)) {
        if (m_captureSession->traceWriter().lockHeldByOther())
            conversionBox(this, QMessageBox::Warning, CaptureFileMessages::backupInUse(tracePath), QString(),
                          QMessageBox::Ok, QMessageBox::NoButton, CaptureFileMessages::backupFileTitle());
        else
            conversionBox(this, QMessageBox::Warning, CaptureFileMessages::cannotOpenDestination());
        return false;
    }
    if (depth == TraceRecordOptions::LabelsOnChange
        && m_mainDTModel->getClassTypeIndexes(MainDTModel::MNEMONIC).isEmpty()) {
        m_captureSession->stop();
        conversionBox(this, QMessageBox::Warning, CaptureFileMessages::noMnemonic());
        return false;
    }
    const RawTraceConversion::Result header = conversion.readHeader();
    if (header != RawTraceConversion::Ok) {
        m_captureSession->stop();
        conversionBox(this, QMessageBox::Warning, RawTraceConversion::message(header, rawPath));
        return false;
    }
    initAnalysisContext();
    mainATSortingEnabled(false);
    m_mainATModel->setFilePath(tracePath);
    if (conversion.flowType() == FipStreamDecoder::FlowEvents)
        m_mainATModel->setOstrakSpeed(conversion.speedCode());

    emit generateAnalysisProgress(0);
    setConversionControlsEnabled(false);
    setCaptureEditingEnabled(false);
    ui->actionStopCapture->setEnabled(false);
    m_conversionStop = false;
    m_conversionPosition = 0;
    m_conversionSize = conversion.sourceSize();
    m_converting = true;
    m_networkRatioTimer->start();
    const qint64 consumed = conversion.decode(m_captureSession->decoder(), &m_conversionStop);
    conversion.close();
    const bool cancelled = m_conversionStop;

    // The last figures and rows, then the files closed.
    m_conversionPosition = consumed;
    bool written = false;
    finishAnalysis(tracePath, &written);
    if (!written)
        updateStatusBar(2, m_captureSession->traceWriter().errorString());
    m_converting = false;

    const int percent = cancelled && m_conversionSize > 0
        ? int(std::lround(double(consumed) * 100.0 / double(m_conversionSize)))
        : 100;
    ui->prawToVtrcProgressBar->setValue(percent);
    ui->prawToVtrcProgressLabel->setText(QString::number(percent) + QStringLiteral(" %"));
    emit generateAnalysisProgress(100);
    // Two seconds in steps of 100 ms, the window answering all along.
    for (int step = 0; step < 20; ++step) {
        QEventLoop pause;
        QTimer::singleShot(100, &pause, &QEventLoop::quit);
        pause.exec();
    }
    setCaptureEditingEnabled(true);
    setConversionControlsEnabled(true);
    updateStatusBar(0, cancelled ? tr("Conversion cancelled: %L1 rows in %2").arg(m_mainATModel->rowCount()).arg(tracePath)
                                 : tr("Conversion done: %L1 rows in %2").arg(m_mainATModel->rowCount()).arg(tracePath));
    return !cancelled && written;
}

// ---------------------------------------------------------------- stored captures

void BX::onOpenBackupButtonClicked()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("Open Capture"), ui->backupRepository->text(),
        tr("Captures (*.vtrc *.pcapng *.pcap)") + QStringLiteral(";;") + CaptureFileMessages::traceFileFilter()
            + QStringLiteral(";;") + tr("pcapng or pcap Captures (*.pcapng *.pcap)"));
    if (path.isEmpty())
        return;
    if (PcapngImport::isCaptureFile(path))
        importPcapngCapture(path);
    else
        openCapture(path);
}

bool BX::openCapture(const QString& tracePath)
{
    if (m_capturing || m_converting) {
        updateStatusBar(1, CaptureFileMessages::captureInProgress());
        return false;
    }
    QFile probe(tracePath);
    if (!probe.open(QIODevice::ReadOnly)) {
        updateStatusBar(2, CaptureFileMessages::cannotOpenBackup(tracePath, probe.errorString()));
        return false;
    }
    const QString shape = TraceFileCheck::problem(probe);
    probe.close();
    if (!shape.isEmpty()) {
        updateStatusBar(2, CaptureFileMessages::notATrace(tracePath, shape));
        return false;
    }

    initAnalysisContext();
    mainATSortingEnabled(false);
    m_mainATModel->setFilePath(tracePath);

    const QString statisticsPath = StatsFile::pathFor(tracePath);
    QString note;
    if (QFile::exists(statisticsPath)) {
        StatsFile statistics(getStatisticalAnalysisCounters(), getStatisticalAnalysisInfoAndTime());
        AnalysisContext& context = *m_analysisContext;
        const StatisticsCounters before = context.counters;
        if (!statistics.load(statisticsPath)) {
            note = statistics.errorString();
        } else {
            // A statistics file of another capture: its first frame must fall in the capture's time.
            if (!StatisticsOverview::belongsToCapture(context.info, m_mainATModel->absoluteCounterAnchor(),
                                                      m_mainATModel->rowCount())) {
                context.counters = before;
                context.info.clear();
                note = tr("The statistics file %1 does not belong to this capture: its figures are not shown.")
                           .arg(QDir::toNativeSeparators(statisticsPath));
            }
        }
    }
    // The bus speed saved with the statistics dates the rows as the capture did.
    for (quint8 code = 0; code <= 3; ++code) {
        if (!m_analysisContext->info.speed.isEmpty() && FipStreamDecoder::speedText(code) == m_analysisContext->info.speed)
            m_mainATModel->setOstrakSpeed(code);
    }
    updateAnalysisOverviewDisplay();
    if (!note.isEmpty())
        updateStatusBar(1, note);
    else
        updateStatusBar(0, tr("Capture opened: %L1 rows").arg(m_mainATModel->rowCount()));
    ui->analysisVisualFipTraceButton->setChecked(true);
    checkStoredCapture(tracePath);
    return true;
}
