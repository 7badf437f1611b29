#ifndef BX_ANALYSIS_FRAMEFILTERATMODEL_H
#define BX_ANALYSIS_FRAMEFILTERATMODEL_H

#include "analysis/filter/FrameFilter.h"

#include <QAbstractProxyModel>
#include <QPointer>
#include <QVector>

#include <atomic>
#include <memory>

class MainATModel;
class QThread;

/// The frame table as the view shows it: every row of `MainATModel`, or,
/// while a display filter is applied, only the rows that match it, each with
/// its own frame number.
///
/// A filter is matched in a worker thread that reads the trace through its
/// own handle; the view keeps showing what it showed until the result comes.
/// Rows that arrive while a filter is applied (a live capture) are matched as
/// they come. The matches cost 4 bytes each.
class FrameFilterATModel : public QAbstractProxyModel
{
    Q_OBJECT
public:
    explicit FrameFilterATModel(MainATModel* source, QObject* parent = nullptr);
    ~FrameFilterATModel() override;

    MainATModel* frameTable() const { return m_table; }

    /// Starts matching `filter`; an empty filter shows every row again at once,
    /// the filter already shown or being matched changes nothing.
    /// An invalid filter is refused and changes nothing.
    bool setFilter(const FrameFilter& filter);
    void clearFilter();
    /// Stops a running match; the view keeps what it showed before it.
    void cancelFilter();
    /// The filter the view shows (not the one still being matched).
    const FrameFilter& filter() const { return m_filter; }
    bool isFiltered() const { return m_filtered; }
    bool isMatching() const { return m_thread != nullptr; }

    /// Source rows shown, ascending: all of them when no filter is applied.
    /// For exporters that take "the frames the filter shows".
    QVector<quint32> matchingRows() const;
    /// Shown row of a source row; with `nearest`, the first shown row at or
    /// after it (or the last row) when it is filtered out; -1 when none.
    int rowOfSourceRow(qint64 sourceRow, bool nearest = false) const;
    qint64 sourceRowOf(int row) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QModelIndex mapToSource(const QModelIndex& proxyIndex) const override;
    QModelIndex mapFromSource(const QModelIndex& sourceIndex) const override;

signals:
    /// A match started; `filterProgress` then tells its percentage.
    void filterStarted();
    void filterProgress(int percent);
    /// A match ended and its rows are shown (or the filter was cleared).
    void filterApplied();
    /// A match stopped without result: cancelled, or the file changed under it.
    void filterStopped(const QString& message);
    /// The shown or total row count changed.
    void countsChanged();

private:
    void onSourceLayoutAboutToBeChanged();
    void onSourceLayoutChanged();
    void onSourceReset();
    void onMatchDone(quint64 generation, const QVector<quint32>& rows, qint64 scanned, int status,
                     const QString& message);
    void start(const FrameFilter& filter);
    void stopThread();
    void catchUp();
    FrameFilterContext context() const;

    MainATModel* m_table;
    FrameFilter m_filter;   // what the view shows
    FrameFilter m_pending;  // what the worker matches
    bool m_filtered = false;
    QVector<quint32> m_rows;
    qint64 m_scanned = 0;   // source rows m_rows covers
    quint64 m_anchor = 0;   // anchor the rows were matched with
    quint64 m_generation = 0;
    QThread* m_thread = nullptr;
    qint64 m_threadRows = 0; // source rows the worker matches
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_inLayout = false;
};

#endif
