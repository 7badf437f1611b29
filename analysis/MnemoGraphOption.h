#ifndef BX_ANALYSIS_MNEMOGRAPHOPTION_H
#define BX_ANALYSIS_MNEMOGRAPHOPTION_H

#include "analysis/MnemoAnalysis.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <vector>

/// One drawn or exported mnemonic: its name, a detail for the axis and its history.
struct MnemoSeries
{
    QString name;
    QString detail; ///< shown in parentheses after the name on the y axis
    const MnemoHistory* history = nullptr;
};

/// The step charts of the graph page as an ECharts option.
namespace MnemoGraphOption {

/// Points per series above which the chart shows an evenly spaced subset of the
/// change dates (always with the last one): a refresh stays short however long
/// the capture, and the exports keep every value.
constexpr int DefaultMaxPoints = 2000;
/// Points of all series together: many series share it, each keeping at least MinPoints.
constexpr int TotalPoints = 8000;
constexpr int MinPoints = 200;

/// The dates drawn: every index up to `maxPoints`, else an even subset ending with the last.
std::vector<int> drawnDates(int dateCount, int maxPoints);

/// One stacked grid per series with its own axes and step line, the shared
/// tooltip, linked axis pointers and zooms.
QJsonObject generateEchartsJsonObject(const QList<MnemoSeries>& series, const std::vector<qint64>& dates,
                                      const QString& title = QString(), const QString& subtitle = QString(),
                                      int maxPoints = DefaultMaxPoints);

} // namespace MnemoGraphOption

#endif
