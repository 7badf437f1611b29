// Mnemonics on both pages: the control page's table of the selected variable's
// or message's mnemonics with value editing, and the analysis page's mnemonic
// table, step charts and exports fed by the mnemonic analysis of the frame path.

#include "app/BX.h"
#include "ui_BX.h"
#include "ui_MnemoGraphPanel.h"

#include "analysis/MnemoATModel.h"
#include "analysis/MnemoAnalysis.h"
#include "analysis/MnemoExport.h"
#include "analysis/MnemoGraphOption.h"
#include "analysis/MacrocycleAnalysis.h"
#include "capture/files/CaptureSession.h"
#include "control/HexaTable.h"
#include "control/MnemoCTModel.h"
#include "control/MnemoCodec.h"
#include "design/MainDTModel.h"

#include <QActionGroup>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QJsonDocument>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTreeView>
#include <QWebFrame>
#include <QWebPage>
#include <QWebView>

struct BX::MnemonicsState
{
    MnemoAnalysis analysis;
    MnemoATModel* atModel = nullptr;
    MnemoCTModel* varModel = nullptr;
    MnemoCTModel* msgModel = nullptr;
    MnemoCTDelegate* delegate = nullptr;
    QStandardItemModel* selection = nullptr;
    QWidget* graphPanel = nullptr;
    Ui::MnemoGraphPanel panel;
    QActionGroup* formats = nullptr;
    QMenu* formatMenu = nullptr;
    QMenu* headerMenu = nullptr;
    QComboBox* varRenderings = nullptr;
    QComboBox* msgRenderings = nullptr;
    QModelIndex shownItem; ///< control page item whose mnemonics are listed
    QVector<int> rowDefinitions; ///< definition of each mnemonic table row, -1 when none
    QList<QPersistentModelIndex> drawn; ///< series drawn last
    quint64 drawnGeneration = 0;
    bool pageLoaded = false;
    QString pendingScript; ///< the last option sent before the page had loaded
    QString lastScript;
};

void BX::setupMnemonics()
{
    m_mnemonics = new MnemonicsState;
    MnemonicsState& m = *m_mnemonics;

    // First on the frame path, before the macrocycle and transaction stages it passes every hook to.
    m.analysis.setNext(m_macrocycleAnalysis);
    m_captureSession->setAnalysis(&m.analysis);
    m_captureSession->setLabelSource([this](quint16 identifier) {
        return m_mnemonics->analysis.changedLabels(identifier);
    });

    m.atModel = new MnemoATModel(this);
    ui->mnemosATView->setModel(m.atModel);
    ui->mnemosATView->setRootIsDecorated(false);
    ui->mnemosATView->setUniformRowHeights(true);
    for (int column : { 2, 3, 5, 6, 7, 11 })
        ui->mnemosATView->setColumnHidden(column, true);
    ui->mnemosATView->header()->setContextMenuPolicy(Qt::CustomContextMenu);
    m.headerMenu = makeHeaderMenu(ui->mnemosATView, ui->mnemosATView->header(), m.atModel);
    connect(ui->mnemosATView->header(), &QHeaderView::customContextMenuRequested, this,
            &BX::onCustomContextHeaderMnemosATMenu);
    connect(m.headerMenu, &QMenu::triggered, this, &BX::onHeaderMnemosATMenuTriggered);

    // The selection list beside the charts.
    m.selection = new QStandardItemModel(this);
    m.graphPanel = new QWidget;
    m.panel.setupUi(m.graphPanel);
    m.panel.mnemosSelectionListView->setModel(m.selection);
    auto* graphs = new QSplitter(Qt::Horizontal);
    const int at = ui->mnemosGraphsSplitter->indexOf(ui->mnemosGraphWebView);
    ui->mnemosGraphsSplitter->insertWidget(at, graphs);
    graphs->addWidget(m.graphPanel);
    graphs->addWidget(ui->mnemosGraphWebView);
    graphs->setStretchFactor(1, 1);
    graphs->setSizes({ 220, 800 });
    ui->mnemosGraphsSplitter->setStretchFactor(1, 3);
    connect(m.selection, &QStandardItemModel::itemChanged, this, [this] { onRefreshMnemoGraphs(); });

    m.formats = new QActionGroup(this);
    m.formats->setExclusive(true);
    m.formatMenu = new QMenu(m.graphPanel);
    const QStringList names = { QStringLiteral("CSV"), QStringLiteral("JSON"), QStringLiteral("TSV") };
    for (int i = 0; i < names.size(); ++i) {
        QAction* action = m.formatMenu->addAction(names[i]);
        action->setCheckable(true);
        action->setData(i + 1);
        action->setChecked(i == 0);
        m.formats->addAction(action);
    }
    m.panel.mnemosExportFormatButton->setMenu(m.formatMenu);
    m.panel.mnemosExportFormatButton->setText(names.first());
    connect(m.formats, &QActionGroup::triggered, this,
            [this](QAction* action) { m_mnemonics->panel.mnemosExportFormatButton->setText(action->text()); });
    connect(m.panel.mnemosGraphsExportButton, &QPushButton::clicked, this, &BX::onMnemosGraphsExportButtonClicked);

    connect(ui->mnemosGraphWebView, &QWebView::loadFinished, this, [this](bool ok) {
        MnemonicsState& state = *m_mnemonics;
        state.pageLoaded = ok;
        if (ok && !state.pendingScript.isEmpty())
            ui->mnemosGraphWebView->page()->mainFrame()->evaluateJavaScript(state.pendingScript);
        state.pendingScript.clear();
    });
    ui->mnemosGraphWebView->load(QUrl(QStringLiteral("qrc:/html/mnemograph.html")));

    // Control page: a rendering choice above each mnemonic table.
    m.varModel = new MnemoCTModel(this);
    m.msgModel = new MnemoCTModel(this);
    m.delegate = new MnemoCTDelegate(this);
    const auto placeTable = [this](QTreeView* view, MnemoCTModel* model, QComboBox** choice) {
        view->setModel(model);
        view->setItemDelegate(m_mnemonics->delegate);
        view->setRootIsDecorated(false);
        view->setColumnHidden(MnemoCTModel::PixmapCol, true);
        auto* layout = qobject_cast<QBoxLayout*>(view->parentWidget()->layout());
        *choice = new QComboBox(view->parentWidget());
        (*choice)->setObjectName(view->objectName() == QLatin1String("varMnemoCTView") ? "varDataRenderingComboBox"
                                                                                        : "msgDataRenderingComboBox");
        if (layout)
            layout->insertWidget(layout->indexOf(view), *choice);
        connect(*choice, qOverload<int>(&QComboBox::activated), this, &BX::onDataRenderingChanged);
        connect(model, &QStandardItemModel::itemChanged, this, &BX::onMnemoCTViewItemChanged);
        connect(model, &MnemoCTModel::invalidEntry, this, [this](const QString& text) { updateStatusBar(1, text); });
        view->setVisible(false);
        (*choice)->setVisible(false);
    };
    placeTable(ui->varMnemoCTView, m.varModel, &m.varRenderings);
    placeTable(ui->msgMnemoCTView, m.msgModel, &m.msgRenderings);
}

void BX::teardownMnemonics()
{
    if (!m_mnemonics)
        return;
    disconnect(ui->mnemosGraphWebView, nullptr, this, nullptr);
    if (m_captureSession) {
        m_captureSession->setLabelSource(nullptr);
        m_captureSession->setAnalysis(m_macrocycleAnalysis);
    }
    delete m_mnemonics;
    m_mnemonics = nullptr;
}

MnemoATModel* BX::mnemoATModel() const { return m_mnemonics->atModel; }
MnemoAnalysis* BX::mnemoAnalysis() const { return &m_mnemonics->analysis; }
MnemoCTModel* BX::varMnemoCTModel() const { return m_mnemonics->varModel; }
MnemoCTModel* BX::msgMnemoCTModel() const { return m_mnemonics->msgModel; }
QStandardItemModel* BX::mnemoSelectionModel() const { return m_mnemonics->selection; }
QString BX::lastMnemoGraphScript() const { return m_mnemonics->lastScript; }

// ---------------------------------------------------------------- analysis

void BX::initMnemonicsContext()
{
    MnemonicsState& m = *m_mnemonics;
    m.analysis.setDesign(*m_mainDTModel);
    m.atModel->clear();
    const QModelIndexList mnemonics = m_mainDTModel->getClassTypeIndexes(MainDTModel::MNEMONIC);
    m.atModel->setMainDTMnemoIdxes(mnemonics);
    // One row per definition: sizing to contents reads few rows.
    for (int column = 0; column < MnemoATModel::ColumnCount; ++column)
        ui->mnemosATView->resizeColumnToContents(column);
    m.rowDefinitions.clear();
    for (const QModelIndex& mnemonic : mnemonics)
        m.rowDefinitions << m.analysis.indexOf(mnemonic);
    m.selection->clear();
    for (const QModelIndex& mnemonic : mnemonics) {
        const MnemoField field = MnemoField::fromDesign(mnemonic);
        if (field.type == MnemoField::Ascii || field.type == MnemoField::Hexa)
            continue;
        auto* entry = new QStandardItem(m_mainDTModel->data(mnemonic, Qt::DecorationRole).value<QIcon>(),
                                        m_mainDTModel->text(mnemonic, MainDTModel::ColObject));
        entry->setCheckable(true);
        entry->setCheckState(Qt::Unchecked);
        entry->setEditable(false);
        entry->setData(QVariant::fromValue(QPersistentModelIndex(mnemonic.sibling(mnemonic.row(), 0))), Qt::UserRole);
        m.selection->appendRow(entry);
    }
    // Nothing of the last capture stays on the chart.
    m.drawn.clear();
    m.drawnGeneration = m.analysis.generation();
    m.lastScript = QStringLiteral("resetChart();");
    if (m.pageLoaded)
        ui->mnemosGraphWebView->page()->mainFrame()->evaluateJavaScript(m.lastScript);
    else
        m.pendingScript.clear();
}

void BX::pushMnemoValues()
{
    MnemonicsState& m = *m_mnemonics;
    for (int row = 0; row < m.rowDefinitions.size() && row < m.atModel->rowCount(); ++row) {
        const int index = m.rowDefinitions[row];
        if (index < 0)
            continue;
        const MnemoAnalysis::Definition& d = m.analysis.definition(index);
        if (!d.hasValue)
            continue;
        m.atModel->setValueStr(row, d.label.value);
        m.atModel->setDataChangesCounter(row, d.changes);
    }
}

QList<MnemoSeries> BX::checkedMnemoSeries(QList<QPersistentModelIndex>* items) const
{
    QList<MnemoSeries> series;
    const MnemonicsState& m = *m_mnemonics;
    for (int row = 0; row < m.selection->rowCount(); ++row) {
        const QStandardItem* entry = m.selection->item(row);
        if (entry->checkState() != Qt::Checked)
            continue;
        const QPersistentModelIndex item = entry->data(Qt::UserRole).value<QPersistentModelIndex>();
        const int index = m.analysis.indexOf(item);
        if (index < 0)
            continue;
        const MnemoAnalysis::Definition& d = m.analysis.definition(index);
        MnemoSeries s;
        s.name = d.label.name;
        // The type only: the axis name sits centred over a 120-pixel margin, the table has the description.
        s.detail = m_mainDTModel->text(item, MainDTModel::ColMnemoType);
        s.history = &d.history;
        series << s;
        if (items)
            *items << item;
    }
    return series;
}

void BX::onRefreshMnemoGraphs()
{
    MnemonicsState& m = *m_mnemonics;
    QList<QPersistentModelIndex> items;
    const QList<MnemoSeries> series = checkedMnemoSeries(&items);
    const QJsonObject option = MnemoGraphOption::generateEchartsJsonObject(
        series, m.analysis.dates(), tr("Mnemonics"),
        tr("%L1 value changes").arg(qulonglong(m.analysis.dates().size())));
    const QString json = QString::fromUtf8(QJsonDocument(option).toJson(QJsonDocument::Compact));
    // Another set of series (or another capture) replaces the option; the same set merges.
    const bool replace = items != m.drawn || m.drawnGeneration != m.analysis.generation();
    m.drawn = items;
    m.drawnGeneration = m.analysis.generation();
    m.lastScript = (replace ? QStringLiteral("myChart.setOption(%1,true);") : QStringLiteral("myChart.setOption(%1);"))
                       .arg(json);
    if (m.pageLoaded)
        ui->mnemosGraphWebView->page()->mainFrame()->evaluateJavaScript(m.lastScript);
    else
        m.pendingScript = QStringLiteral("myChart.setOption(%1,true);").arg(json);
}

bool BX::generateMnemosFiles(const QString& directory, int format, const QList<MnemoSeries>& series)
{
    MnemoExport exporter(this);
    const bool done = exporter.generateMnemosFiles(directory, format, series, m_mnemonics->analysis.dates());
    if (!done && !exporter.errorString().isEmpty())
        qDebug().noquote() << "[BRANTIX]" << exporter.errorString();
    return done;
}

void BX::onMnemosGraphsExportButtonClicked()
{
    MnemonicsState& m = *m_mnemonics;
    const int format = m.formats->checkedAction() ? m.formats->checkedAction()->data().toInt() : MnemoExport::Csv;
    const QString directory = QFileDialog::getExistingDirectory(
        this, tr("Export the mnemonics"), QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    if (directory.isEmpty())
        return;
    ui->analysisMnemonicsPage->setEnabled(false);
    const bool done = generateMnemosFiles(directory, format, checkedMnemoSeries(nullptr));
    ui->analysisMnemonicsPage->setEnabled(true);
    if (done)
        updateStatusBar(0, tr("Files generation completed."));
    else
        updateStatusBar(2, tr("Files generation has been interrupted."));
    onAnalysisProgressBar(100);
}

void BX::onCustomContextHeaderMnemosATMenu(const QPoint& point)
{
    m_mnemonics->headerMenu->popup(ui->mnemosATView->header()->mapToGlobal(point));
}

void BX::onHeaderMnemosATMenuTriggered(QAction* action)
{
    ui->mnemosATView->setColumnHidden(action->data().toInt(), !action->isChecked());
}

// ---------------------------------------------------------------- control page

void BX::loadLinkedMnemos(const QModelIndex& item, quint8 classT, const QByteArray& bytes)
{
    MnemonicsState& m = *m_mnemonics;
    const bool message = classT == MainDTModel::MESSAGE_OUT || classT == MainDTModel::MESSAGE_IN;
    const bool variable = classT == MainDTModel::VARIABLE_OUT || classT == MainDTModel::VARIABLE_IN;
    if (!message && !variable)
        return;
    QComboBox* choice = message ? m.msgRenderings : m.varRenderings;
    QTreeView* view = message ? ui->msgMnemoCTView : ui->varMnemoCTView;
    MnemoCTModel* model = message ? m.msgModel : m.varModel;

    // An input variable or message shows the renderings of the item it mirrors.
    QModelIndex owner = item.sibling(item.row(), 0);
    if (classT == MainDTModel::VARIABLE_IN) {
        bool ok = false;
        const quint16 id = m_mainDTModel->getOutId(owner, &ok);
        const QModelIndexList producers = ok ? m_mainDTModel->getVariableIndexes(id, MainDTModel::VARIABLE_OUT)
                                             : QModelIndexList();
        if (!producers.isEmpty())
            owner = producers.first();
    } else if (classT == MainDTModel::MESSAGE_IN) {
        const auto number = [&](int column) { return m_mainDTModel->text(owner, column); };
        for (const QModelIndex& out : m_mainDTModel->getClassTypeIndexes(MainDTModel::MESSAGE_OUT)) {
            bool same = true;
            for (int column : { MainDTModel::ColMsgSourceSegment, MainDTModel::ColMsgSourceId,
                                MainDTModel::ColMsgDestinationSegment, MainDTModel::ColMsgDestinationId })
                same = same && MainDTModel::compareIDs(m_mainDTModel->text(out, column), number(column));
            if (same) {
                owner = out;
                break;
            }
        }
    }
    const QModelIndexList renderings = m_mainDTModel->getClassTypeIndexes(MainDTModel::DATA_RENDERING, owner);
    const QString previous = choice->currentText();
    {
        const QSignalBlocker blocker(choice);
        choice->clear();
        choice->addItem(tr("All"));
        for (const QModelIndex& rendering : renderings)
            choice->addItem(m_mainDTModel->text(rendering, MainDTModel::ColObject),
                            QVariant::fromValue(QPersistentModelIndex(rendering)));
        const int kept = choice->findText(previous);
        choice->setCurrentIndex(kept > 0 ? kept : 0);
    }
    const bool shown = !renderings.isEmpty();
    choice->setVisible(shown);
    view->setVisible(shown);
    m.shownItem = item.sibling(item.row(), 0);

    const QSignalBlocker blocker(model);
    model->clearRows();
    const QVariant chosen = choice->currentData();
    for (const QModelIndex& rendering : renderings) {
        if (chosen.isValid() && QModelIndex(chosen.value<QPersistentModelIndex>()) != rendering)
            continue;
        for (const QModelIndex& mnemonic : m_mainDTModel->getClassTypeIndexes(MainDTModel::MNEMONIC, rendering))
            model->appendMnemo(mnemonic, bytes, classT);
    }
    view->setEditTriggers(classT == MainDTModel::VARIABLE_OUT || classT == MainDTModel::MESSAGE_OUT
                              ? QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                              : QAbstractItemView::NoEditTriggers);
    view->viewport()->update();
}

QByteArray BX::mnemoTableBytes(const QModelIndex& item) const
{
    const quint8 kind = m_mainDTModel->classType(item);
    const bool variable = kind == MainDTModel::VARIABLE_OUT;
    auto* table = findChild<QTableWidget*>(variable ? QStringLiteral("varHexaTable") : QStringLiteral("msgHexaTable"));
    int count = 0;
    if (variable) {
        count = m_mainDTModel->text(item, MainDTModel::ColVarOutLength).toInt();
    } else if (auto* spin = findChild<QSpinBox*>(QStringLiteral("msgBytesToSendSpinBox"))) {
        count = spin->value();
    }
    count = qBound(0, count, int(HexaTable::Cells));
    QByteArray bytes(count, '\0');
    for (int i = 0; table && i < count; ++i) {
        const QTableWidgetItem* cell = table->item(i / HexaTable::Side, i % HexaTable::Side);
        if (cell && !cell->text().isEmpty())
            bytes[i] = char(cell->text().toUInt(nullptr, 16));
    }
    return bytes;
}

void BX::onDataRenderingChanged(int index)
{
    Q_UNUSED(index)
    const QModelIndex item = getMainCTSelectedIndex();
    const quint8 kind = m_mainDTModel->classType(item);
    const QByteArray bytes = (kind == MainDTModel::VARIABLE_OUT || kind == MainDTModel::MESSAGE_OUT)
        ? mnemoTableBytes(item)
        : HexaTable::parseData(m_mainDTModel->text(item, MainDTModel::ColData));
    loadLinkedMnemos(item, kind, bytes);
}

void BX::onMnemoCTViewItemChanged(QStandardItem* changed)
{
    if (!changed || changed->column() != MnemoCTModel::ValueCol)
        return;
    const QModelIndex item = getMainCTSelectedIndex();
    const quint8 kind = m_mainDTModel->classType(item);
    if (kind != MainDTModel::VARIABLE_OUT && kind != MainDTModel::MESSAGE_OUT)
        return;
    auto* model = static_cast<MnemoCTModel*>(changed->model());
    const QModelIndex mnemonic = model->mnemonicOf(changed->row());
    const MnemoField field = MnemoField::fromDesign(mnemonic);
    QByteArray bytes = mnemoTableBytes(item);
    const QByteArray before = bytes;
    QByteArray value;
    if (!MnemoCodec::encode(field, changed->text(), &value) || !MnemoCodec::writeBits(field, value, &bytes)) {
        updateStatusBar(1, tr("Invalid value entry for the mnemonic <strong>%1</strong>.")
                               .arg(m_mainDTModel->text(mnemonic, MainDTModel::ColObject)));
        loadLinkedMnemos(item, kind, before);
        return;
    }
    const bool variable = kind == MainDTModel::VARIABLE_OUT;
    auto* table = findChild<QTableWidget*>(variable ? QStringLiteral("varHexaTable") : QStringLiteral("msgHexaTable"));
    if (table)
        updateHexaTableWidget(table, bytes, true, &before);
    if (variable) {
        if (auto* apply = findChild<QPushButton*>(QStringLiteral("varSendDataButton")))
            apply->click();
    } else if (auto* send = findChild<QPushButton*>(QStringLiteral("msgSendDataButton"))) {
        send->setText(tr("Send *"));
    }
    loadLinkedMnemos(item, kind, bytes);
}
