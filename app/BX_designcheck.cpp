// The Design Check page of the analysis area: what the capture measured,
// compared with the open project while a capture runs and when a stored capture
// is opened; a finding's first frame is one double-click away in the frame table.

#include "app/BX.h"
#include "ui_BX.h"
#include "ui_DesignCheckPage.h"

#include "analysis/AnalysisContext.h"
#include "analysis/DesignCheckATModel.h"
#include "analysis/DesignCheckInput.h"
#include "analysis/DesignCheckListener.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MainATModel.h"
#include "analysis/PaddingSearch.h"
#include "analysis/designcheck/BusObservation.h"
#include "analysis/designcheck/DesignCheck.h"
#include "analysis/designcheck/DesignCheckReport.h"
#include "analysis/designcheck/TraceObservation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>

struct BX::DesignCheckState
{
    BusObservation bus;
    DesignCheckListener* listener = nullptr;
    FipDecoderListener* next = nullptr; ///< the stage after ours
    DesignCheckATModel* model = nullptr;
    QWidget* page = nullptr;
    Ui::DesignCheckPage ui;
    QString source; ///< what was measured: "live capture" or the trace's path
};

void BX::setupDesignCheck(FipDecoderListener* next)
{
    m_designCheck = new DesignCheckState;
    DesignCheckState& d = *m_designCheck;
    // Last on the frame path: it reads what the decoder made of each frame.
    d.listener = new DesignCheckListener(&d.bus, next);
    d.next = next;
    m_frameAnalysis->setNext(d.listener);

    d.page = new QWidget;
    d.page->setObjectName(QStringLiteral("analysisDesignCheckPage"));
    d.ui.setupUi(d.page);
    ui->analysisStackedWidget->addWidget(d.page);
    d.model = new DesignCheckATModel(this);
    QTableView* view = d.ui.designCheckATView;
    view->setModel(d.model);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(24);
    view->setIconSize(QSize(16, 16));
    static const int widths[DesignCheckATModel::ColumnCount] = { 100, 200, 200, 210, 400, 100 };
    for (int column = 0; column < DesignCheckATModel::ColumnCount; ++column)
        view->horizontalHeader()->resizeSection(column, widths[column]);
    view->horizontalHeader()->setStretchLastSection(true);
    connect(view, &QTableView::doubleClicked, this, &BX::onDesignCheckATViewDoubleClicked);
    connect(d.ui.designCheckRunButton, &QPushButton::clicked, this, &BX::onDesignCheckRunButtonClicked);
    connect(d.ui.designCheckExportButton, &QPushButton::clicked, this, &BX::onDesignCheckExportButtonClicked);
    d.ui.designCheckExportButton->setEnabled(false);
}

void BX::teardownDesignCheck()
{
    if (!m_designCheck)
        return;
    m_frameAnalysis->setNext(m_designCheck->next);
    delete m_designCheck->listener;
    delete m_designCheck;
    m_designCheck = nullptr;
}

DesignCheckATModel* BX::designCheckModel() const
{
    return m_designCheck ? m_designCheck->model : nullptr;
}

void BX::resetDesignCheck()
{
    DesignCheckState& d = *m_designCheck;
    d.bus.setPadding(ui->fixedIdPadding->isChecked(), m_analysisContext->paddingIdentifier);
    d.bus.reset();
    d.source = tr("live capture");
    d.model->clear();
    d.ui.designCheckSummaryLabel->setText(tr("No capture checked yet"));
    d.ui.designCheckSummaryIcon->clear();
    d.ui.designCheckExportButton->setEnabled(false);
}

void BX::refreshDesignCheck()
{
    DesignCheckState& d = *m_designCheck;
    // The padding search may have found the padding since the capture started.
    d.bus.setPadding(ui->fixedIdPadding->isChecked(), m_analysisContext->paddingIdentifier);
    if (!isProjectOpen()) {
        d.model->clear();
        d.ui.designCheckSummaryLabel->setText(tr("No project open"));
        d.ui.designCheckSourceLabel->setText(tr("Open the project of this network to check the capture against its design."));
        d.ui.designCheckSummaryIcon->clear();
        d.ui.designCheckExportButton->setEnabled(false);
        return;
    }
    if (d.bus.frames() == 0)
        return;
    CheckReport report = DesignCheck::run(DesignCheckInput::fromDesign(*m_mainDTModel), d.bus);
    report.source = d.source;
    d.model->setReport(report);

    const CheckSeverity worst = report.count(CheckSeverity::Error) ? CheckSeverity::Error
        : report.count(CheckSeverity::Warning)                     ? CheckSeverity::Warning
                                                                   : CheckSeverity::Info;
    static const char* const colours[] = { "#11a6de", "#e0a000", "#de1111" };
    d.ui.designCheckSummaryLabel->setStyleSheet(
        QStringLiteral("QLabel{font-size: 14pt; color: %1;}").arg(QLatin1String(colours[int(worst)])));
    d.ui.designCheckSummaryLabel->setText(report.summary());
    // A clean bus gets the green flag rather than the note icon.
    d.ui.designCheckSummaryIcon->setPixmap(QPixmap(worst == CheckSeverity::Info
                                                       ? QStringLiteral(":/images/images/icon_true_flag_green_48x48.png")
                                                       : DesignCheckATModel::severityIconPath(worst)));
    d.ui.designCheckSourceLabel->setText(tr("%1, %L2 frames, against %3").arg(d.source).arg(report.frames).arg(report.network));
    d.ui.designCheckExportButton->setEnabled(true);
}

void BX::checkStoredCapture(const QString& tracePath)
{
    DesignCheckState& d = *m_designCheck;
    d.bus.reset();
    d.source = QDir::toNativeSeparators(tracePath);
    if (!isProjectOpen()) {
        refreshDesignCheck();
        return;
    }
    QString error;
    // The padding a live search found is not stored with the trace: it is searched again.
    const quint16 configured = d.bus.paddingIdentifier();
    const quint16 alternative
        = ui->paddingAutoDetectYes->isChecked() ? PaddingSearch::otherIdentifier(configured) : configured;
    const bool read = TraceObservation::readSearchingPadding(
        tracePath, &d.bus, alternative, &error, [this](qint64 position, qint64 size) {
            onAnalysisProgressBar(size > 0 ? int(position * 100 / size) : 100);
            QCoreApplication::processEvents();
        });
    if (!read) {
        updateStatusBar(2, error);
    } else if (d.bus.paddingIdentifier() != configured) {
        m_analysisContext->paddingIdentifier = d.bus.paddingIdentifier();
        updateStatusBar(0, PaddingSearch::foundMessage(d.bus.paddingIdentifier()));
    }
    refreshDesignCheck();
}

void BX::onDesignCheckRunButtonClicked()
{
    refreshDesignCheck();
}

void BX::onDesignCheckExportButtonClicked()
{
    const CheckReport& report = m_designCheck->model->report();
    const QString proposed = QDir(ui->backupRepository->text()).filePath(
        (report.network.isEmpty() ? QStringLiteral("design_check") : report.network + QStringLiteral("_check")) + QStringLiteral(".html"));
    QString filter;
    const QString path = QFileDialog::getSaveFileName(this, tr("Export Design Check"), proposed,
                                                      tr("HTML report (*.html);;JSON report (*.json)"), &filter);
    if (path.isEmpty())
        return;
    QString error;
    if (DesignCheckReport::save(report, path, &error))
        updateStatusBar(0, tr("Design check report saved: %1").arg(QDir::toNativeSeparators(path)));
    else
        updateStatusBar(2, error);
}

void BX::onDesignCheckATViewDoubleClicked(const QModelIndex& index)
{
    const qint64 frame = index.data(DesignCheckATModel::FirstFrameRole).toLongLong();
    if (frame < 0)
        return;
    if (!showFrameInTable(frame))
        updateStatusBar(1, tr("Frame %1 is not in the frame table: the trace keeps only some frames, or has not been written yet.").arg(frame));
}

// The frame table's rows are in frame order, so a binary search on the "No."
// column finds a frame in a few reads of the trace file.
bool BX::showFrameInTable(qint64 frameNumber)
{
    const auto numberOf = [this](int row) {
        const QString text = m_mainATModel->index(row, 1).data().toString();
        qint64 value = 0;
        for (const QChar c : text)
            if (c.isDigit())
                value = value * 10 + c.digitValue();
        return value;
    };
    int low = 0;
    int high = m_mainATModel->rowCount() - 1;
    while (low <= high) {
        const int middle = low + (high - low) / 2;
        const qint64 number = numberOf(middle);
        if (number == frameNumber) {
            ui->analysisVisualFipTraceButton->setChecked(true);
            const QModelIndex cell = m_mainATModel->index(middle, 1);
            ui->mainATView->selectionModel()->setCurrentIndex(
                cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            ui->mainATView->scrollTo(cell, QAbstractItemView::PositionAtCenter);
            return true;
        }
        if (number < frameNumber)
            low = middle + 1;
        else
            high = middle - 1;
    }
    return false;
}
