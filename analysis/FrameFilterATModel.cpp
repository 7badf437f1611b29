#include "analysis/FrameFilterATModel.h"

#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilterScan.h"

#include <QThread>

#include <algorithm>

namespace {

// Rows matched on the GUI thread as they arrive; a bigger gap (a trace just
// opened) goes to the worker. A live batch is far smaller.
constexpr qint64 kSyncRows = 50000;

} // namespace

FrameFilterATModel::FrameFilterATModel(MainATModel* source, QObject* parent)
    : QAbstractProxyModel(parent)
    , m_table(source)
{
    QAbstractProxyModel::setSourceModel(source);
    connect(source, &QAbstractItemModel::layoutAboutToBeChanged, this,
            &FrameFilterATModel::onSourceLayoutAboutToBeChanged);
    connect(source, &QAbstractItemModel::layoutChanged, this, &FrameFilterATModel::onSourceLayoutChanged);
    connect(source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(source, &QAbstractItemModel::modelReset, this, &FrameFilterATModel::onSourceReset);
    connect(source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                if (!m_filtered)
                    emit dataChanged(index(from.row(), from.column()), index(to.row(), to.column()));
                else if (rowCount() > 0)
                    emit dataChanged(index(0, from.column()), index(rowCount() - 1, to.column()));
            });
}

FrameFilterATModel::~FrameFilterATModel()
{
    stopThread();
}

FrameFilterContext FrameFilterATModel::context() const
{
    FrameFilterContext c;
    c.anchor = m_table->absoluteCounterAnchor();
    return c;
}

bool FrameFilterATModel::setFilter(const FrameFilter& filter)
{
    if (!filter.isValid())
        return false;
    if (filter.isEmpty()) {
        clearFilter();
        return true;
    }
    // The same filter again (Enter on a history entry fires twice): nothing new to match.
    if (m_thread && m_pending.text() == filter.text())
        return true;
    if (!m_thread && m_filtered && m_filter.text() == filter.text()) {
        emit filterApplied();
        return true;
    }
    start(filter);
    return true;
}

void FrameFilterATModel::clearFilter()
{
    stopThread();
    ++m_generation;
    if (m_filtered) {
        beginResetModel();
        m_filtered = false;
        m_rows = QVector<quint32>();
        m_scanned = 0;
        m_filter = FrameFilter();
        endResetModel();
    }
    emit filterApplied();
    emit countsChanged();
}

void FrameFilterATModel::cancelFilter()
{
    if (!m_thread)
        return;
    stopThread();
    ++m_generation;
    emit filterStopped(tr("Filtering cancelled"));
}

void FrameFilterATModel::stopThread()
{
    if (!m_thread)
        return;
    m_cancel->store(true);
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
}

void FrameFilterATModel::start(const FrameFilter& filter)
{
    stopThread();
    const quint64 generation = ++m_generation;
    m_pending = filter;
    const qint64 rows = std::min<qint64>(m_table->rowCount(), m_table->rowOffsets().size());
    QVector<qint64> offsets = m_table->rowOffsets();
    if (offsets.size() > rows)
        offsets.resize(int(rows));
    m_threadRows = rows;
    const QString path = m_table->filePath();
    const FrameFilterContext context = this->context();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<bool>> cancel = m_cancel;

    m_thread = QThread::create([this, generation, filter, offsets, path, context, cancel, rows] {
        int last = -1;
        const auto progress = [&](qint64 done) {
            const int percent = rows > 0 ? int(done * 100 / rows) : 100;
            if (percent == last)
                return;
            last = percent;
            QMetaObject::invokeMethod(this, [this, generation, percent] {
                if (generation == m_generation)
                    emit filterProgress(percent);
            }, Qt::QueuedConnection);
        };
        const FrameFilterScan::Result r
            = FrameFilterScan::run(path, offsets, 0, rows, filter, context, 0, cancel.get(), progress);
        const QVector<quint32> found = r.rows;
        const int status = int(r.status);
        const QString message = r.message;
        QMetaObject::invokeMethod(this, [this, generation, found, rows, status, message] {
            onMatchDone(generation, found, rows, status, message);
        }, Qt::QueuedConnection);
    });
    emit filterStarted();
    m_thread->start();
}

void FrameFilterATModel::onMatchDone(quint64 generation, const QVector<quint32>& rows, qint64 scanned, int status,
                                     const QString& message)
{
    if (generation != m_generation)
        return;
    stopThread();
    if (FrameFilterScan::Status(status) != FrameFilterScan::Status::Done) {
        emit filterStopped(message.isEmpty() ? tr("Filtering cancelled") : message);
        return;
    }
    beginResetModel();
    m_filter = m_pending;
    m_filtered = true;
    m_rows = rows;
    m_rows.squeeze();
    m_scanned = scanned;
    m_anchor = m_table->absoluteCounterAnchor();
    endResetModel();
    catchUp();
    emit filterApplied();
    emit countsChanged();
}

void FrameFilterATModel::catchUp()
{
    if (!m_filtered || m_thread)
        return;
    const qint64 total = std::min<qint64>(m_table->rowCount(), m_table->rowOffsets().size());
    if (total <= m_scanned)
        return;
    if (total - m_scanned > kSyncRows) {
        start(m_filter);
        return;
    }
    const FrameFilterScan::Result r = FrameFilterScan::run(m_table->filePath(), m_table->rowOffsets(), m_scanned,
                                                           total, m_filter, context());
    if (r.status != FrameFilterScan::Status::Done) {
        emit filterStopped(r.message);
        return;
    }
    m_scanned = total;
    if (!r.rows.isEmpty()) {
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + r.rows.size() - 1);
        m_rows += r.rows;
        endInsertRows();
    }
    emit countsChanged();
}

void FrameFilterATModel::onSourceLayoutAboutToBeChanged()
{
    m_inLayout = true;
    emit layoutAboutToBeChanged();
}

void FrameFilterATModel::onSourceLayoutChanged()
{
    const qint64 total = m_table->rowCount();
    // The filter to match again, when it comes to that: the one still being matched if any.
    const FrameFilter next = m_thread ? m_pending : m_filter;
    bool rematch = false;
    if (m_filtered && total < m_scanned) {
        // Another trace: the filter stays and applies to it.
        m_rows = QVector<quint32>();
        m_scanned = 0;
        m_anchor = m_table->absoluteCounterAnchor();
        if (m_thread) {
            stopThread();
            ++m_generation;
            rematch = true;
        }
    } else if (m_filtered && m_filter.readsTime() && m_anchor != m_table->absoluteCounterAnchor()) {
        rematch = true;
    } else if (m_thread && (total < m_threadRows || m_pending.readsTime())) {
        rematch = true;
    }
    const QModelIndexList before = persistentIndexList();
    if (!before.isEmpty()) {
        QModelIndexList after;
        after.reserve(before.size());
        const int rows = rowCount();
        for (const QModelIndex& i : before)
            after.append(i.row() < rows ? index(i.row(), i.column()) : QModelIndex());
        changePersistentIndexList(before, after);
    }
    if (m_inLayout) {
        m_inLayout = false;
        emit layoutChanged();
    }
    if (rematch)
        start(next);
    else
        catchUp();
    emit countsChanged();
}

void FrameFilterATModel::onSourceReset()
{
    stopThread();
    ++m_generation;
    m_rows = QVector<quint32>();
    m_scanned = 0;
    endResetModel();
    catchUp();
    emit countsChanged();
}

QVector<quint32> FrameFilterATModel::matchingRows() const
{
    if (m_filtered)
        return m_rows;
    QVector<quint32> all(m_table->rowCount());
    for (int i = 0; i < all.size(); ++i)
        all[i] = quint32(i);
    return all;
}

int FrameFilterATModel::rowOfSourceRow(qint64 sourceRow, bool nearest) const
{
    if (sourceRow < 0)
        return -1;
    if (!m_filtered)
        return sourceRow < m_table->rowCount() ? int(sourceRow) : (nearest && m_table->rowCount() > 0 ? m_table->rowCount() - 1 : -1);
    if (sourceRow > qint64(FrameFilterScan::MaxRows))
        return nearest && !m_rows.isEmpty() ? m_rows.size() - 1 : -1;
    const auto it = std::lower_bound(m_rows.cbegin(), m_rows.cend(), quint32(sourceRow));
    if (it != m_rows.cend() && *it == quint32(sourceRow))
        return int(it - m_rows.cbegin());
    if (!nearest || m_rows.isEmpty())
        return -1;
    return it == m_rows.cend() ? m_rows.size() - 1 : int(it - m_rows.cbegin());
}

qint64 FrameFilterATModel::sourceRowOf(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return m_filtered ? qint64(m_rows.at(row)) : qint64(row);
}

QModelIndex FrameFilterATModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || column < 0 || row >= rowCount() || column >= columnCount())
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex FrameFilterATModel::parent(const QModelIndex&) const
{
    return QModelIndex();
}

bool FrameFilterATModel::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() && rowCount() > 0;
}

int FrameFilterATModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return m_filtered ? m_rows.size() : m_table->rowCount();
}

int FrameFilterATModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table->columnCount();
}

QVariant FrameFilterATModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // The columns are the table's own, whether a row is shown or not.
    if (orientation == Qt::Horizontal)
        return m_table->headerData(section, orientation, role);
    return QAbstractProxyModel::headerData(section, orientation, role);
}

QModelIndex FrameFilterATModel::mapToSource(const QModelIndex& proxyIndex) const
{
    if (!proxyIndex.isValid() || proxyIndex.model() != this)
        return QModelIndex();
    const qint64 row = sourceRowOf(proxyIndex.row());
    return row < 0 ? QModelIndex() : m_table->index(int(row), proxyIndex.column());
}

QModelIndex FrameFilterATModel::mapFromSource(const QModelIndex& sourceIndex) const
{
    if (!sourceIndex.isValid())
        return QModelIndex();
    const int row = rowOfSourceRow(sourceIndex.row());
    return row < 0 ? QModelIndex() : index(row, sourceIndex.column());
}
