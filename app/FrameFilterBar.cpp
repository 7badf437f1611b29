#include "app/FrameFilterBar.h"

#include "ui_FrameFilterBar.h"

#include "analysis/FrameFilterATModel.h"
#include "analysis/FrameTableCsv.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilter.h"
#include "analysis/filter/FrameFilterScan.h"
#include "app/BX.h"
#include "capture/decoder/TraceRow.h"

#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QProgressDialog>
#include <QSaveFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QToolTip>

const char* const FrameFilterBar::HistoryKey = "ostrak/mainatview/filterhistory";

namespace {

// On the combo box: the application's style sheet paints its frame white.
const char kValidStyle[] = "QComboBox, QLineEdit { background-color: #c9efc4; color: black; }";
const char kInvalidStyle[] = "QComboBox, QLineEdit { background-color: #f6c3c3; color: black; }";
const char kErrorExpression[] = "error";

QString grouped(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

// "1,234" as the trace writes frame numbers; -1 when the text is no number.
qint64 parseFrameNumber(const QString& text)
{
    qint64 v = 0;
    int digits = 0;
    for (QChar c : text) {
        if (c.isDigit()) {
            v = v * 10 + c.digitValue();
            if (++digits > 18)
                return -1;
        } else if (c != QLatin1Char(',') && c != QLatin1Char(' ')) {
            return -1;
        }
    }
    return digits ? v : -1;
}

} // namespace

FrameFilterBar::FrameFilterBar(QTableView* view, FrameFilterATModel* model, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::FrameFilterBar)
    , m_view(view)
    , m_model(model)
    , m_progressDelay(new QTimer(this))
{
    ui->setupUi(this);
    QLineEdit* edit = ui->frameFilterCombo->lineEdit();
    edit->setPlaceholderText(tr("Display filter, e.g. id == 0x0100 and ctrl == RP_DAT"));
    edit->installEventFilter(this);
    ui->frameFindEdit->installEventFilter(this);
    ui->frameGoToEdit->installEventFilter(this);
    ui->frameFindRow->hide();
    hideProgress();
    m_progressDelay->setSingleShot(true);
    m_progressDelay->setInterval(ProgressDelayMs);
    connect(m_progressDelay, &QTimer::timeout, this, [this] {
        ui->frameFilterProgressBar->show();
        ui->frameFilterCancelButton->show();
    });

    connect(edit, &QLineEdit::returnPressed, this, &FrameFilterBar::onFilterEditReturnPressed);
    connect(edit, &QLineEdit::textEdited, this, &FrameFilterBar::onFilterEditTextEdited);
    connect(ui->frameFilterCombo, QOverload<int>::of(&QComboBox::activated), this,
            &FrameFilterBar::onFilterComboActivated);
    connect(ui->frameFilterApplyButton, &QPushButton::clicked, this, &FrameFilterBar::onFilterEditReturnPressed);
    connect(ui->frameFilterClearButton, &QToolButton::clicked, this, &FrameFilterBar::onFrameFilterClearButtonClicked);
    connect(ui->frameFilterCancelButton, &QPushButton::clicked, this,
            &FrameFilterBar::onFrameFilterCancelButtonClicked);
    connect(ui->frameFilterExportButton, &QPushButton::clicked, this,
            &FrameFilterBar::onFrameFilterExportButtonClicked);
    connect(ui->frameFindNextButton, &QPushButton::clicked, this, &FrameFilterBar::onFindNextButtonClicked);
    connect(ui->frameFindEdit, &QLineEdit::returnPressed, this, &FrameFilterBar::onFindNextButtonClicked);
    connect(ui->frameFindPreviousButton, &QPushButton::clicked, this, &FrameFilterBar::onFindPreviousButtonClicked);
    connect(ui->frameGoToButton, &QPushButton::clicked, this, &FrameFilterBar::onGoToButtonClicked);
    connect(ui->frameGoToEdit, &QLineEdit::returnPressed, this, &FrameFilterBar::onGoToButtonClicked);
    connect(ui->frameFindCloseButton, &QToolButton::clicked, ui->frameFindRow, &QWidget::hide);
    connect(ui->nextErrorButton, &QPushButton::clicked, this, &FrameFilterBar::onNextErrorButtonClicked);
    connect(ui->previousErrorButton, &QPushButton::clicked, this, &FrameFilterBar::onPreviousErrorButtonClicked);

    connect(m_model, &FrameFilterATModel::filterStarted, this, &FrameFilterBar::onModelFilterStarted);
    connect(m_model, &FrameFilterATModel::filterProgress, this, &FrameFilterBar::onModelFilterProgress);
    connect(m_model, &FrameFilterATModel::filterApplied, this, &FrameFilterBar::onModelFilterApplied);
    connect(m_model, &FrameFilterATModel::filterStopped, this, &FrameFilterBar::onModelFilterStopped);
    connect(m_model, &FrameFilterATModel::countsChanged, this, &FrameFilterBar::onModelCountsChanged);
    // A live capture: the table follows the last match while it is at the bottom.
    connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar* bar = m_view->verticalScrollBar();
        m_followAtBottom = bar->value() >= bar->maximum();
    });
    connect(m_model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_followAtBottom)
            m_view->scrollToBottom();
    });

    // The shortcuts work wherever the focus is on the trace page.
    QWidget* scope = parent ? parent : this;
    auto* find = new QShortcut(QKeySequence::Find, scope, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connect(find, &QShortcut::activated, this, &FrameFilterBar::onFindShortcutActivated);
    auto* goTo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), scope, nullptr, nullptr,
                               Qt::WidgetWithChildrenShortcut);
    connect(goTo, &QShortcut::activated, this, &FrameFilterBar::onGoToShortcutActivated);

    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &FrameFilterBar::onViewContextMenuRequested);

    loadHistory();
    showState(State::Empty);
    onModelCountsChanged();
}

FrameFilterBar::~FrameFilterBar()
{
    stopFind();
    delete ui;
}

// ---------------------------------------------------------------- filter

bool FrameFilterBar::applyFilter(const QString& text)
{
    ui->frameFilterCombo->setEditText(text);
    const FrameFilter filter = FrameFilter::parse(text);
    if (!filter.isValid()) {
        showState(State::Invalid, tr("%1 (at column %2)").arg(filter.error().message).arg(filter.error().position + 1));
        QLineEdit* edit = ui->frameFilterCombo->lineEdit();
        if (edit->isVisible())
            QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), edit->toolTip(), edit);
        return false;
    }
    m_keptSourceRow = currentSourceRow();
    if (filter.isEmpty()) {
        m_model->clearFilter();
        showState(State::Empty);
        return true;
    }
    remember(text.trimmed());
    showState(State::Valid);
    m_model->setFilter(filter);
    return true;
}

void FrameFilterBar::prepareFilter(const QString& text)
{
    ui->frameFilterCombo->setEditText(text);
    onFilterEditTextEdited(text);
    ui->frameFilterCombo->lineEdit()->setFocus();
}

void FrameFilterBar::clearFilter()
{
    ui->frameFilterCombo->setEditText(QString());
    m_keptSourceRow = currentSourceRow();
    m_model->clearFilter();
    showState(State::Empty);
}

void FrameFilterBar::onFilterEditReturnPressed()
{
    applyFilter(ui->frameFilterCombo->currentText());
}

void FrameFilterBar::onFilterEditTextEdited(const QString& text)
{
    const FrameFilter filter = FrameFilter::parse(text);
    if (!filter.isValid())
        showState(State::Invalid, tr("%1 (at column %2)").arg(filter.error().message).arg(filter.error().position + 1));
    else
        showState(filter.isEmpty() ? State::Empty : State::Valid);
}

void FrameFilterBar::onFilterComboActivated(int index)
{
    applyFilter(ui->frameFilterCombo->itemText(index));
}

void FrameFilterBar::onFrameFilterClearButtonClicked()
{
    clearFilter();
}

void FrameFilterBar::onFrameFilterCancelButtonClicked()
{
    if (isFinding()) {
        ++m_findGeneration; // what the worker still posts is stale
        stopFind();
        hideProgress();
        emit statusMessage(1, tr("Find cancelled"));
        emit findFinished(false);
        return;
    }
    m_model->cancelFilter();
}

void FrameFilterBar::showState(State state, const QString& tip)
{
    m_state = state;
    QLineEdit* edit = ui->frameFilterCombo->lineEdit();
    ui->frameFilterCombo->setStyleSheet(state == State::Valid ? QLatin1String(kValidStyle)
                        : state == State::Invalid ? QLatin1String(kInvalidStyle) : QString());
    const QString text = state == State::Invalid ? tip : QString();
    edit->setToolTip(text);
    ui->frameFilterCombo->setToolTip(text);
}

QStringList FrameFilterBar::history() const
{
    QSettings store(BX::OrganizationName, BX::ProductName);
    store.beginGroup(QStringLiteral("BX"));
    return store.value(QLatin1String(HistoryKey)).toStringList();
}

void FrameFilterBar::remember(const QString& text)
{
    QStringList list = history();
    list.removeAll(text);
    list.prepend(text);
    while (list.size() > HistorySize)
        list.removeLast();
    {
        QSettings store(BX::OrganizationName, BX::ProductName);
        store.beginGroup(QStringLiteral("BX"));
        store.setValue(QLatin1String(HistoryKey), list);
    }
    loadHistory();
    ui->frameFilterCombo->setEditText(text);
}

void FrameFilterBar::loadHistory()
{
    const QString text = ui->frameFilterCombo->currentText();
    const QSignalBlocker blocker(ui->frameFilterCombo);
    ui->frameFilterCombo->clear();
    ui->frameFilterCombo->addItems(history());
    ui->frameFilterCombo->setEditText(text);
}

// ---------------------------------------------------------------- model progress

void FrameFilterBar::onModelFilterStarted()
{
    showProgressSoon();
}

void FrameFilterBar::showProgressSoon()
{
    ui->frameFilterProgressBar->setValue(0);
    m_progressDelay->start();
}

void FrameFilterBar::onModelFilterProgress(int percent)
{
    ui->frameFilterProgressBar->setValue(percent);
}

void FrameFilterBar::onModelFilterApplied()
{
    hideProgress();
    if (m_keptSourceRow >= 0)
        selectSourceRow(m_keptSourceRow);
    m_keptSourceRow = -1;
    onModelCountsChanged();
}

void FrameFilterBar::onModelFilterStopped(const QString& message)
{
    hideProgress();
    m_keptSourceRow = -1;
    // The view still shows the previous filter: the bar says so.
    ui->frameFilterCombo->setEditText(m_model->filter().text());
    showState(m_model->isFiltered() ? State::Valid : State::Empty);
    emit statusMessage(1, tr("Filter stopped: %1").arg(message));
}

void FrameFilterBar::onModelCountsChanged()
{
    QLabel* label = ui->frameFilterCountLabel;
    label->setText(countText());
    // Never clipped: the filter box gives way. Only growing, so the bar does not jitter live.
    label->setMinimumWidth(std::max(label->minimumWidth(), label->sizeHint().width()));
}

QString FrameFilterBar::countText() const
{
    const qint64 total = m_model->frameTable()->rowCount();
    if (!m_model->isFiltered())
        return tr("%1 frames").arg(grouped(total));
    return tr("%1 of %2 frames").arg(grouped(m_model->rowCount()), grouped(total));
}

void FrameFilterBar::hideProgress()
{
    m_progressDelay->stop();
    ui->frameFilterProgressBar->hide();
    ui->frameFilterCancelButton->hide();
}

// ---------------------------------------------------------------- moving in the table

qint64 FrameFilterBar::currentSourceRow() const
{
    const QModelIndex current = m_view->currentIndex();
    return current.isValid() ? m_model->sourceRowOf(current.row()) : -1;
}

void FrameFilterBar::selectSourceRow(qint64 sourceRow)
{
    const int row = m_model->rowOfSourceRow(sourceRow, true);
    if (row < 0)
        return;
    const int column = std::max(m_view->currentIndex().column(), int(TraceRow::Number));
    const QModelIndex index = m_model->index(row, column);
    m_view->setCurrentIndex(index);
    m_view->scrollTo(index, QAbstractItemView::PositionAtCenter);
}

qint64 FrameFilterBar::frameNumberAt(qint64 sourceRow) const
{
    const MainATModel* table = m_model->frameTable();
    return parseFrameNumber(table->index(int(sourceRow), TraceRow::Number).data().toString());
}

bool FrameFilterBar::goToFrame(qint64 frame)
{
    const MainATModel* table = m_model->frameTable();
    // Frame numbers grow with the rows: the first row at or past the number.
    qint64 low = 0;
    qint64 high = table->rowCount();
    while (low < high) {
        const qint64 mid = low + (high - low) / 2;
        const qint64 n = frameNumberAt(mid);
        if (n >= 0 && n < frame)
            low = mid + 1;
        else
            high = mid;
    }
    if (low >= table->rowCount()) {
        emit statusMessage(1, tr("Frame %1 is not in the trace").arg(grouped(frame)));
        return false;
    }
    const int shown = m_model->rowOfSourceRow(low);
    if (frameNumberAt(low) != frame)
        emit statusMessage(1, tr("Frame %1 is not in the trace: went to the next one").arg(grouped(frame)));
    else if (shown < 0)
        emit statusMessage(1, tr("Frame %1 is hidden by the filter: went to the next one shown").arg(grouped(frame)));
    selectSourceRow(low);
    m_view->setFocus();
    return true;
}

bool FrameFilterBar::find(const QString& text, bool forward)
{
    const FrameFilter what = FrameFilter::parse(text);
    if (!what.isValid() || what.isEmpty()) {
        emit statusMessage(1, what.isValid() ? tr("Nothing to find") : tr("Find: %1 (at column %2)")
                                                   .arg(what.error().message)
                                                   .arg(what.error().position + 1));
        return false;
    }
    // Within what the filter shows: both must hold.
    const FrameFilter both = m_model->isFiltered()
        ? FrameFilter::parse(QStringLiteral("(%1) and (%2)").arg(m_model->filter().text(), text))
        : what;
    const MainATModel* table = m_model->frameTable();
    QVector<qint64> offsets = table->rowOffsets();
    if (offsets.size() > table->rowCount())
        offsets.resize(table->rowCount());
    qint64 from = currentSourceRow();
    if (from < 0)
        from = forward ? -1 : offsets.size();
    FrameFilterContext context;
    context.anchor = table->absoluteCounterAnchor();
    const QString path = table->filePath();

    stopFind();
    const quint64 generation = ++m_findGeneration;
    m_findCancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> cancel = m_findCancel;
    // A long find shows its progress and Cancel, as a long filter does.
    showProgressSoon();
    m_findThread = QThread::create([this, generation, path, offsets, from, forward, both, context, cancel, text] {
        int shown = -1;
        const auto progress = [this, generation, &shown](int percent) {
            if (percent == shown)
                return;
            shown = percent;
            QMetaObject::invokeMethod(this, [this, generation, percent] {
                if (generation == m_findGeneration)
                    ui->frameFilterProgressBar->setValue(percent);
            }, Qt::QueuedConnection);
        };
        const qint64 found = FrameFilterScan::find(path, offsets, from, forward, both, context, cancel.get(),
                                                   progress);
        QMetaObject::invokeMethod(this, [this, generation, found, text, forward] {
            onFindDone(generation, found, text, forward);
        }, Qt::QueuedConnection);
    });
    m_findThread->start();
    return true;
}

void FrameFilterBar::stopFind()
{
    if (!m_findThread)
        return;
    m_findCancel->store(true);
    m_findThread->wait();
    delete m_findThread;
    m_findThread = nullptr;
}

void FrameFilterBar::onFindDone(quint64 generation, qint64 sourceRow, const QString& text, bool forward)
{
    if (generation != m_findGeneration)
        return;
    stopFind();
    hideProgress();
    if (sourceRow < 0) {
        emit statusMessage(1, forward ? tr("No frame after this one matches %1").arg(text)
                                      : tr("No frame before this one matches %1").arg(text));
        emit findFinished(false);
        return;
    }
    selectSourceRow(sourceRow);
    emit findFinished(true);
}

void FrameFilterBar::onFindNextButtonClicked()
{
    find(ui->frameFindEdit->text(), true);
}

void FrameFilterBar::onFindPreviousButtonClicked()
{
    find(ui->frameFindEdit->text(), false);
}

void FrameFilterBar::onGoToButtonClicked()
{
    const qint64 frame = parseFrameNumber(ui->frameGoToEdit->text());
    if (frame < 0) {
        emit statusMessage(1, tr("\"%1\" is not a frame number").arg(ui->frameGoToEdit->text()));
        return;
    }
    goToFrame(frame);
}

void FrameFilterBar::onNextErrorButtonClicked()
{
    find(QLatin1String(kErrorExpression), true);
}

void FrameFilterBar::onPreviousErrorButtonClicked()
{
    find(QLatin1String(kErrorExpression), false);
}

void FrameFilterBar::onFindShortcutActivated()
{
    ui->frameFindRow->show();
    ui->frameFindEdit->setFocus();
    ui->frameFindEdit->selectAll();
}

void FrameFilterBar::onGoToShortcutActivated()
{
    ui->frameFindRow->show();
    ui->frameGoToEdit->setFocus();
    ui->frameGoToEdit->selectAll();
}

// ---------------------------------------------------------------- export

bool FrameFilterBar::exportVisibleFrames(const QString& path)
{
    QVector<int> columns;
    const QHeaderView* header = m_view->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (!header->isSectionHidden(logical))
            columns.append(logical);
    }
    QSaveFile file(path);
    QString error;
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        const int rows = m_model->rowCount();
        QProgressDialog progress(tr("Exporting %1 frames…").arg(grouped(rows)), tr("Cancel"), 0, std::max(rows, 1), this);
        progress.setWindowTitle(tr("Export CSV"));
        progress.setMinimumDuration(ProgressDelayMs);
        ok = FrameTableCsv::write(&file, *m_model, columns, [&](qint64 done) {
            progress.setValue(int(done));
            return !progress.wasCanceled();
        }, &error);
        ok = ok && file.commit();
    }
    if (!ok) {
        if (error.isEmpty())
            error = file.errorString();
        file.cancelWriting();
        emit statusMessage(2, tr("The frames could not be exported to %1: %2").arg(path, error));
        return false;
    }
    emit statusMessage(0, tr("%1 frames exported to %2").arg(grouped(m_model->rowCount()), path));
    return true;
}

void FrameFilterBar::onFrameFilterExportButtonClicked()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the Frames Shown"), QString(),
                                                      tr("Comma-Separated Values (*.csv)"));
    if (!path.isEmpty())
        exportVisibleFrames(path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive) ? path : path + QStringLiteral(".csv"));
}

// ---------------------------------------------------------------- apply as filter

QStringList FrameFilterBar::cellFilters(const QModelIndex& index) const
{
    QStringList out;
    if (!index.isValid())
        return out;
    const auto cell = [&](int column) { return index.siblingAtColumn(column).data().toString().trimmed(); };
    const QString control = cell(TraceRow::Control);
    const QString id = cell(TraceRow::Identifier);
    const QString data = cell(TraceRow::Data);
    if (!id.isEmpty())
        out << QStringLiteral("id == %1").arg(id);
    if (control == QLatin1String("ERROR"))
        out << QLatin1String(kErrorExpression);
    else if (!control.isEmpty())
        out << QStringLiteral("ctrl == %1").arg(control);
    if (!data.isEmpty() && control != QLatin1String("ERROR")) {
        // Bytes at depth 2 and 3, a label's value text at depth 4.
        const QString mnemonic = cell(TraceRow::Mnemonic);
        if (!mnemonic.isEmpty())
            out << QStringLiteral("mnemonic == \"%1\" and mnemonic.value == \"%2\"").arg(mnemonic, data);
        else if (FrameFilter::parse(QStringLiteral("data == ") + data).isValid())
            out << QStringLiteral("data == ") + data;
    }
    return out;
}

void FrameFilterBar::addFilterActions(QMenu* menu, const QStringList& expressions)
{
    if (expressions.isEmpty())
        return;
    QMenu* apply = menu->addMenu(tr("Apply as Filter"));
    QMenu* prepare = menu->addMenu(tr("Prepare a Filter"));
    for (const QString& e : expressions) {
        apply->addAction(e, this, [this, e] { applyFilter(e); });
        prepare->addAction(e, this, [this, e] { prepareFilter(e); });
    }
}

void FrameFilterBar::onViewContextMenuRequested(const QPoint& point)
{
    const QModelIndex index = m_view->indexAt(point);
    const QStringList expressions = cellFilters(index);
    if (expressions.isEmpty())
        return;
    QMenu menu(this);
    addFilterActions(&menu, expressions);
    menu.exec(m_view->viewport()->mapToGlobal(point));
}

bool FrameFilterBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        if (watched == ui->frameFilterCombo->lineEdit()) {
            clearFilter();
            return true;
        }
        if (watched == ui->frameFindEdit || watched == ui->frameGoToEdit) {
            ui->frameFindRow->hide();
            m_view->setFocus();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
