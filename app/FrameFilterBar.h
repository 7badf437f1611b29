#pragma once

#include <QWidget>

#include <atomic>
#include <memory>

namespace Ui { class FrameFilterBar; }

class FrameFilter;
class FrameFilterATModel;
class QMenu;
class QTableView;
class QThread;
class QTimer;

/// The bar above the frame table: the display filter with its history, the
/// shown and total frame counts, find next/previous, go to frame and the
/// error buttons. It drives the filtered model and moves the view's current row.
class FrameFilterBar : public QWidget
{
    Q_OBJECT
public:
    enum class State { Empty, Valid, Invalid };

    /// Settings key (under the "BX" group) of the recent filters, newest first.
    static const char* const HistoryKey;
    static constexpr int HistorySize = 20;
    /// A match running longer than this shows its progress and Cancel.
    static constexpr int ProgressDelayMs = 200;

    FrameFilterBar(QTableView* view, FrameFilterATModel* model, QWidget* parent = nullptr);
    ~FrameFilterBar() override;

    /// Applies an expression as if typed and confirmed; false when it does not parse.
    bool applyFilter(const QString& text);
    /// Puts an expression in the bar without applying it.
    void prepareFilter(const QString& text);
    void clearFilter();
    State state() const { return m_state; }
    QString countText() const;
    QStringList history() const;

    /// Makes the row of frame number `frame` current; when the filter hides it,
    /// the next shown frame. False when the table has no row for it.
    bool goToFrame(qint64 frame);
    /// Starts looking for the next or previous row matching `text`, within what
    /// the filter shows, in a worker thread; `findFinished` tells the outcome.
    /// False when the text does not parse.
    bool find(const QString& text, bool forward);
    bool isFinding() const { return m_findThread != nullptr; }
    /// Writes the rows shown, in the columns shown and their order, to a CSV file
    /// (replaced only when complete). False with a message on the status bar.
    bool exportVisibleFrames(const QString& path);
    /// The filter expressions a cell offers for "Apply as Filter": identifier, control, data.
    QStringList cellFilters(const QModelIndex& index) const;
    /// Adds the "Apply as Filter" and "Prepare a Filter" entries for these expressions.
    void addFilterActions(QMenu* menu, const QStringList& expressions);

signals:
    /// For the window's status bar: level 0 information, 1 warning, 2 error.
    void statusMessage(quint8 level, QString text);
    /// A find ended; the matching row is current when found.
    void findFinished(bool found);

private slots:
    void onFilterEditReturnPressed();
    void onFilterEditTextEdited(const QString& text);
    void onFilterComboActivated(int index);
    void onFrameFilterClearButtonClicked();
    void onFrameFilterCancelButtonClicked();
    void onModelFilterStarted();
    void onModelFilterProgress(int percent);
    void onModelFilterApplied();
    void onModelFilterStopped(const QString& message);
    void onModelCountsChanged();
    void onFrameFilterExportButtonClicked();
    void onFindNextButtonClicked();
    void onFindPreviousButtonClicked();
    void onGoToButtonClicked();
    void onNextErrorButtonClicked();
    void onPreviousErrorButtonClicked();
    void onFindShortcutActivated();
    void onGoToShortcutActivated();
    void onViewContextMenuRequested(const QPoint& point);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showState(State state, const QString& tip = QString());
    void remember(const QString& text);
    void loadHistory();
    /// The progress bar and Cancel, shown once the work has run ProgressDelayMs.
    void showProgressSoon();
    void hideProgress();
    void selectSourceRow(qint64 sourceRow);
    qint64 currentSourceRow() const;
    qint64 frameNumberAt(qint64 sourceRow) const;
    void stopFind();
    void onFindDone(quint64 generation, qint64 sourceRow, const QString& text, bool forward);

    Ui::FrameFilterBar* ui;
    QTableView* m_view;
    FrameFilterATModel* m_model;
    QTimer* m_progressDelay;
    State m_state = State::Empty;
    qint64 m_keptSourceRow = -1; // current row across a filter change
    bool m_followAtBottom = false;
    QThread* m_findThread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_findCancel;
    quint64 m_findGeneration = 0;
};
