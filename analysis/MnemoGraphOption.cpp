#include "analysis/MnemoGraphOption.h"

#include <QJsonArray>

namespace MnemoGraphOption {

namespace {

const QString LineColour = QStringLiteral("rgb(103, 103, 237)");

} // namespace

std::vector<int> drawnDates(int dateCount, int maxPoints)
{
    std::vector<int> drawn;
    if (dateCount <= 0)
        return drawn;
    if (maxPoints < 2 || dateCount <= maxPoints) {
        drawn.resize(size_t(dateCount));
        for (int i = 0; i < dateCount; ++i)
            drawn[size_t(i)] = i;
        return drawn;
    }
    drawn.reserve(size_t(maxPoints));
    const double step = double(dateCount - 1) / double(maxPoints - 1);
    for (int i = 0; i < maxPoints; ++i)
        drawn.push_back(int(i * step + 0.5));
    drawn.back() = dateCount - 1;
    return drawn;
}

QJsonObject generateEchartsJsonObject(const QList<MnemoSeries>& series, const std::vector<qint64>& dates,
                                      const QString& title, const QString& subtitle, int maxPoints)
{
    const int n = series.size();
    const int height = n > 0 ? qMax(1, (90 - 8 * n) / n) : 0;
    const int perSeries = n > 0 ? qMin(maxPoints, qMax(MinPoints, TotalPoints / n)) : maxPoints;
    const std::vector<int> drawn = drawnDates(int(dates.size()), perSeries);

    QJsonArray dateTexts;
    for (int date : drawn)
        dateTexts.append(MnemoAnalysis::dateText(dates[size_t(date)]));

    QJsonArray grids, xAxes, yAxes, lines, axisIndexes;
    for (int i = 0; i < n; ++i) {
        const MnemoSeries& s = series.at(i);
        grids.append(QJsonObject { { "left", 120 }, { "right", 120 },
                                   { "top", QStringLiteral("%1%").arg(8 + i * (height + 8)) },
                                   { "height", QStringLiteral("%1%").arg(height) } });
        xAxes.append(QJsonObject { { "type", "category" }, { "boundaryGap", false },
                                   { "axisLine", QJsonObject { { "onZero", true } } }, { "data", dateTexts },
                                   { "position", "bottom" }, { "gridIndex", i } });
        const QString axisName = s.detail.isEmpty() ? s.name : s.name + QStringLiteral(" (") + s.detail + QLatin1Char(')');
        yAxes.append(QJsonObject { { "name", axisName }, { "type", "value" }, { "inverse", false }, { "gridIndex", i } });
        QJsonArray data;
        if (s.history) {
            for (int date : drawn)
                data.append(s.history->jsonValue(date));
        }
        lines.append(QJsonObject { { "name", s.name }, { "type", "line" }, { "step", "end" }, { "xAxisIndex", i },
                                   { "yAxisIndex", i }, { "hoverAnimation", false },
                                   { "lineStyle", QJsonObject { { "normal", QJsonObject { { "color", LineColour } } } } },
                                   { "areaStyle", QJsonObject { { "normal", QJsonObject { { "color", LineColour } } } } },
                                   { "data", data } });
        axisIndexes.append(i);
    }

    QJsonObject option;
    option.insert("title", QJsonObject { { "text", title }, { "subtext", subtitle }, { "left", "center" } });
    option.insert("animation", false);
    option.insert("textStyle", QJsonObject { { "fontSize", 12 } });
    option.insert("tooltip", QJsonObject { { "trigger", "axis" } });
    option.insert("axisPointer", QJsonObject { { "link", QJsonArray { QJsonObject { { "xAxisIndex", "all" } } } } });
    option.insert("dataZoom", QJsonArray { QJsonObject { { "show", true }, { "type", "slider" }, { "realtime", true },
                                                         { "xAxisIndex", axisIndexes } },
                                           QJsonObject { { "type", "inside" }, { "realtime", true },
                                                         { "xAxisIndex", axisIndexes } } });
    option.insert("grid", grids);
    option.insert("xAxis", xAxes);
    option.insert("yAxis", yAxes);
    option.insert("series", lines);
    return option;
}

} // namespace MnemoGraphOption
