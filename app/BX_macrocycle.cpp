// The macrocycle side of the main window: the detection on the frame path, the
// donut page and its microcycle tree, and the search for the padding identifier.

#include "app/BX.h"
#include "ui_BX.h"
#include "ui_MicrocycleTree.h"

#include "analysis/AnalysisContext.h"
#include "analysis/FrameAnalysis.h"
#include "analysis/MacrocycleAnalysis.h"
#include "analysis/MacrocycleDonut.h"
#include "analysis/PaddingSearch.h"
#include "analysis/TransactionATModel.h"
#include "capture/files/CaptureSession.h"

#include <QSplitter>
#include <QStandardItemModel>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

/// Evaluations of the detection, turned into the donut or the error notice.
class BX::MacrocycleObserver : public MacrocycleAnalysis::Observer
{
public:
    explicit MacrocycleObserver(BX* window)
        : m_window(window)
    {
    }
    void onMacrocycleEvaluated() override { m_window->refreshMacrocycleDonut(); }
    void onMacrocycleErrors() override
    {
        m_window->updateStatusBar(2, tr("Velqor: Errors are detected on the FIP network. The macrocycle cannot be "
                                        "updated correctly."));
    }

private:
    BX* m_window;
};

void BX::setupMacrocycle()
{
    m_macrocycleObserver = new MacrocycleObserver(this);
    m_macrocycleAnalysis = new MacrocycleAnalysis(m_analysisContext, m_frameAnalysis);
    m_macrocycleAnalysis->setObserver(m_macrocycleObserver);
    m_macrocycleAnalysis->setTransactionModel(m_transactionATModel);
    m_macrocycleAnalysis->setErrorCounters(&m_captureSession->decoder().counters());
    // First on the frame path: an identifier is placed before the bookkeeping marks it.
    m_captureSession->setAnalysis(m_macrocycleAnalysis);
    m_macrocycleDonut = new MacrocycleDonut;
    m_paddingSearch = new PaddingSearch;

    m_microcycleModel = new QStandardItemModel(this);
    m_microcyclePanel = new QWidget;
    Ui::MicrocycleTree panel;
    panel.setupUi(m_microcyclePanel);
    panel.microcycleTreeView->setModel(m_microcycleModel);
    auto* splitter = new QSplitter(Qt::Horizontal, ui->analysisMacroMicrocyclesPage);
    // The layout hands back the item it held the view in: ours to delete.
    delete ui->analysisMacroMicrocyclesPageLayout->replaceWidget(ui->macroWebView, splitter);
    splitter->addWidget(m_microcyclePanel);
    splitter->addWidget(ui->macroWebView);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({ 200, 800 });

    const auto readOptions = [this] {
        m_macrocycleAnalysis->setSamplingPeriodMs(ui->macroSamplingPeriodValue->text().toLongLong());
        m_macrocycleAnalysis->setDrawingEnabled(ui->macroDetectYes->isChecked());
    };
    connect(ui->macroSamplingPeriodValue, &QLineEdit::textChanged, this, readOptions);
    connect(ui->macroDetectYes, &QRadioButton::toggled, this, readOptions);
    readOptions();
    connect(ui->macroWebView, &QWebView::loadFinished, this, [this](bool ok) {
        m_macroPageLoaded = ok;
        if (!ok)
            return;
        for (const QString& script : qAsConst(m_pendingDonutScripts))
            ui->macroWebView->page()->mainFrame()->evaluateJavaScript(script);
        m_pendingDonutScripts.clear();
    });
    resetMacrocycleDonut();
}

void BX::teardownMacrocycle()
{
    // The page may still finish loading while the window is being destroyed.
    disconnect(ui->macroWebView, nullptr, this, nullptr);
    if (m_captureSession)
        m_captureSession->setAnalysis(m_frameAnalysis);
    delete m_macrocycleAnalysis;
    m_macrocycleAnalysis = nullptr;
    delete m_macrocycleObserver;
    m_macrocycleObserver = nullptr;
    delete m_macrocycleDonut;
    m_macrocycleDonut = nullptr;
    delete m_paddingSearch;
    m_paddingSearch = nullptr;
}

bool BX::isPaddingId(quint16 id) const
{
    return m_macrocycleAnalysis->isPaddingId(id);
}

void BX::applyPaddingRule(quint16 identifier)
{
    m_analysisContext->paddingIdentifier = identifier;
    const bool fixed = ui->fixedIdPadding->isChecked();
    m_macrocycleAnalysis->setPaddingRule(fixed, identifier);
    m_captureSession->decoder().setPaddingRule(fixed, identifier);
}

void BX::initMacrocycleContext()
{
    m_macrocycleAnalysis->reset();
    m_macrocycleAnalysis->setSamplingPeriodMs(ui->macroSamplingPeriodValue->text().toLongLong());
    m_macrocycleAnalysis->setDrawingEnabled(ui->macroDetectYes->isChecked());
    m_macrocycleAnalysis->setPaddingRule(ui->fixedIdPadding->isChecked(), m_analysisContext->paddingIdentifier);
    m_paddingSearch->reset(m_analysisContext->paddingIdentifier);
    m_microcycleModel->clear();
    resetMacrocycleDonut();
}

void BX::resetMacrocycleDonut()
{
    m_macrocycleDonut->reset();
    m_pendingDonutScripts.clear();
    // The page is loaded once; later captures reset its chart, which costs nothing.
    if (m_macroPageLoaded)
        ui->macroWebView->page()->mainFrame()->evaluateJavaScript(QStringLiteral("resetChart();"));
    else if (ui->macroWebView->url() != QUrl(MacrocycleDonut::pageUrl()))
        ui->macroWebView->load(QUrl(MacrocycleDonut::pageUrl()));
}

void BX::refreshMacrocycleDonut()
{
    const MacrocycleDonut::Update update = m_macrocycleDonut->refresh(
        m_macrocycleAnalysis->macrocycle(), double(m_macrocycleAnalysis->microcycleLength()),
        m_captureSession->decoder().state().tickDuration(), ui->macroMaxSlicesValue->text().toInt(),
        *m_analysisContext, m_microcycleModel);
    if (!update.draw)
        return;
    auto* tree = m_microcyclePanel->findChild<QTreeView*>(QStringLiteral("microcycleTreeView"));
    for (int row = 0; row < m_microcycleModel->rowCount(); ++row) {
        const QModelIndex index = m_microcycleModel->index(row, 0);
        if (m_microcycleModel->hasChildren(index))
            tree->expand(index);
    }
    if (update.reportTooManySlices)
        updateStatusBar(1, tr("Velqor: The macrocycle donut chart is made up of too many slices to be drawn in "
                              "detail (slices = %1).")
                               .arg(update.detailedSlices));
    // Each load names the slices of the one before it: none may be skipped.
    if (m_macroPageLoaded)
        ui->macroWebView->page()->mainFrame()->evaluateJavaScript(update.script);
    else
        m_pendingDonutScripts.append(update.script);
}

void BX::checkAndAutoSearchPadding()
{
    bool pending = m_macrocycleAnalysis->paddingSearchPending();
    const PaddingSearch::Outcome outcome
        = m_paddingSearch->check(&pending, m_captureSession->decoder().counters().paddingFrames,
                                 ui->fixedIdPadding->isChecked(), ui->paddingAutoDetectYes->isChecked());
    m_macrocycleAnalysis->setPaddingSearchPending(pending);
    switch (outcome) {
    case PaddingSearch::Found:
        if (m_paddingSearch->announce())
            updateStatusBar(0, PaddingSearch::foundMessage(m_paddingSearch->identifier()));
        m_transactionATModel->setPadding(m_paddingSearch->identifier());
        break;
    case PaddingSearch::Switched:
    case PaddingSearch::GaveUp:
        applyPaddingRule(m_paddingSearch->identifier());
        break;
    case PaddingSearch::Missing:
        updateStatusBar(1, tr("Velqor: Unable to detect the configured padding frame. The macrocyle cannot be "
                              "reconstructed."));
        break;
    case PaddingSearch::Nothing:
        break;
    }
}
