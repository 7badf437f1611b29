#ifndef BX_ANALYSIS_MACROCYCLEDONUT_H
#define BX_ANALYSIS_MACROCYCLEDONUT_H

#include "analysis/MacrocycleAnalysis.h"

#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

class AnalysisContext;
class QStandardItemModel;

/// Turns a detected macrocycle into the donut chart's data and the microcycle
/// tree. Each microcycle gets an equal share of the donut; inside it every
/// identifier takes the share its transaction time takes of the microcycle and
/// the rest is padding. It remembers what it drew last so that an unchanged
/// macrocycle is not drawn again and the page can drop the old slices.
class MacrocycleDonut
{
public:
    /// The page's first slice, shown until a macrocycle is drawn.
    static QString initialSlice();
    static QString pageUrl() { return QStringLiteral("qrc:/html/macrocycle.html"); }

    struct Update
    {
        bool draw = false;            ///< false: the drawing is left as it is
        QString script;               ///< what the page evaluates
        int detailedSlices = 0;
        bool reportTooManySlices = false; ///< the first time the detail does not fit
        bool coarse = false;          ///< one slice per microcycle was sent
    };

    /// Nothing drawn: the page has only its first slice.
    void reset();

    /// The donut of `macrocycle` and, when `tree` is given, its microcycle tree.
    /// `microcycleMicros` is the microcycle length, `tickMicros` the counter tick.
    Update refresh(const Macrocycle& macrocycle, double microcycleMicros, double tickMicros, int maxSlices,
                   const AnalysisContext& context, QStandardItemModel* tree);

    /// The summed padding share (percent of the donut) of the last drawing.
    double paddingShare() const { return m_paddingShare; }
    /// Macrocycle length in µs of the last drawing.
    double drawnLength() const { return m_drawnLength; }

    /// Whether `a` is `b` started elsewhere: same microcycles in the same cyclic order.
    static bool sameUpToRotation(const Macrocycle& a, const Macrocycle& b);
    /// The page script that loads `json` (compact JSON text) into the chart.
    static QString loadScript(const QByteArray& json);

private:
    using RepliedMap = std::vector<std::pair<quint16, bool>>;
    static RepliedMap repliedMap(const Macrocycle& macrocycle, const AnalysisContext& context);

    bool m_drawnAnything = false;
    Macrocycle m_drawn;
    RepliedMap m_drawnReplied;
    double m_drawnLength = 0;
    QStringList m_drawnLabels;
    double m_paddingShare = 0;
    bool m_tooManyReported = false;
    bool m_coarseShown = false;
};

#endif
