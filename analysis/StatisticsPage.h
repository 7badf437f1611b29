#ifndef BX_ANALYSIS_STATISTICSPAGE_H
#define BX_ANALYSIS_STATISTICSPAGE_H

#include "analysis/StatisticsOverview.h"

#include <QWidget>

#include <memory>

namespace Ui { class StatisticsPage; }

class QLabel;
struct StatisticsCounters;
struct StatisticsInfo;
struct TransactionTotals;

/// The statistics overview: information fields, error and frame counters,
/// transaction totals and the load gauges of one capture.
class StatisticsPage : public QWidget
{
    Q_OBJECT
public:
    enum Kind { Information = 0, Error = 2 };

    explicit StatisticsPage(QWidget* parent = nullptr);
    ~StatisticsPage() override;

    /// Writes every field and counter; counters that are 0 are greyed.
    void showOverview(const StatisticsCounters& counters, const StatisticsInfo& info, const TransactionTotals& totals);
    void showRates(const NetworkRatio::Rates& rates);

    /// Greys a counter that is 0, colours it by kind otherwise.
    static void counterVisibility(bool visible, QLabel* valueLabel, QLabel* titleLabel, int kind);

    /// The value label of a counter, by object name (for tests and the main window).
    QLabel* valueLabel(const QString& name) const;

private:
    std::unique_ptr<Ui::StatisticsPage> ui;
};

#endif
