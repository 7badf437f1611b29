#include "analysis/MacrocycleDonut.h"

#include "analysis/AnalysisContext.h"
#include "capture/decoder/FipControls.h"

#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardItemModel>

#include <algorithm>
#include <cmath>

namespace {

const QLatin1String kAnswered("#9696ff");
const QLatin1String kUnanswered("#dcdcdc");

QString cycleName(int n)
{
    return QString(QChar(0x03BC)) + QStringLiteral("Cycle[") + QString::number(n) + QLatin1Char(']');
}

/// The state byte shown for an identifier: its variable request's, else another request's.
quint8 identifierState(const AnalysisContext& context, quint16 id)
{
    using namespace FipControls;
    for (quint8 control : { ID_DAT, ID_MSG, ID_RQ1, ID_RQ2 }) {
        const TransactionStats* pair = context.findPair(id, control);
        if (pair && (pair->fields & TransactionStats::HasState))
            return pair->state;
    }
    return 0;
}

/// The transaction tree's pictures of a state.
QIcon stateIcon(quint8 state)
{
    if (!(state & 0x80))
        return QIcon();
    if (!(state & 0x01))
        return QIcon(QStringLiteral(":/images/images/icon_id_absence_52x52.png"));
    if (!(state & 0x02))
        return QIcon(QStringLiteral(":/images/images/icon_id_without_rp_52x52.png"));
    return QIcon((state & 0x04) ? QStringLiteral(":/images/images/icon_id_with_rp_warning_52x52.png")
                                : QStringLiteral(":/images/images/icon_id_with_rp_52x52.png"));
}

struct SliceSet
{
    QJsonArray columns;
    QJsonObject colors;
    QStringList labels;

    void add(const QString& label, double value, const QString& colour)
    {
        columns.append(QJsonArray { label, value });
        colors.insert(label, colour);
        labels.append(label);
    }
};

} // namespace

QString MacrocycleDonut::initialSlice()
{
    return cycleName(1) + QStringLiteral(" - padding");
}

void MacrocycleDonut::reset()
{
    m_drawnAnything = false;
    m_drawn.clear();
    m_drawnReplied.clear();
    m_drawnLength = 0;
    m_drawnLabels.clear();
    m_paddingShare = 0;
    m_tooManyReported = false;
    m_coarseShown = false;
}

bool MacrocycleDonut::sameUpToRotation(const Macrocycle& a, const Macrocycle& b)
{
    const size_t n = a.size();
    if (n != b.size())
        return false;
    if (n == 0)
        return true;
    for (size_t shift = 0; shift < n; ++shift) {
        bool same = true;
        for (size_t i = 0; i < n && same; ++i)
            same = a[i] == b[(i + shift) % n];
        if (same)
            return true;
    }
    return false;
}

MacrocycleDonut::RepliedMap MacrocycleDonut::repliedMap(const Macrocycle& macrocycle, const AnalysisContext& context)
{
    RepliedMap map;
    for (const Microcycle& micro : macrocycle) {
        for (quint16 id : micro)
            map.emplace_back(id, false);
    }
    std::sort(map.begin(), map.end());
    map.erase(std::unique(map.begin(), map.end()), map.end());
    for (auto& entry : map) {
        const IdentifierStats* stats = context.findIdentifier(entry.first);
        entry.second = stats && stats->replied;
    }
    return map;
}

QString MacrocycleDonut::loadScript(const QByteArray& json)
{
    return QStringLiteral("setTimeout(function(){chart.load(%1);},0);").arg(QString::fromUtf8(json));
}

MacrocycleDonut::Update MacrocycleDonut::refresh(const Macrocycle& macrocycle, double microcycleMicros,
                                                 double tickMicros, int maxSlices, const AnalysisContext& context,
                                                 QStandardItemModel* tree)
{
    Update update;
    if (macrocycle.empty())
        return update;
    const double length = double(macrocycle.size()) * microcycleMicros;
    RepliedMap replied = repliedMap(macrocycle, context);
    if (m_drawnAnything && sameUpToRotation(macrocycle, m_drawn) && replied == m_drawnReplied
        && std::fabs(length - m_drawnLength) < 0.3 * m_drawnLength)
        return update;

    const auto answered = [&replied](quint16 id) {
        const auto it = std::lower_bound(replied.begin(), replied.end(), std::make_pair(id, false));
        return it != replied.end() && it->first == id && it->second;
    };
    const int count = int(macrocycle.size());
    const double share = 100.0 / count;
    const bool several = count >= 2;
    if (tree)
        tree->clear();

    SliceSet detailed;
    SliceSet coarse;
    double paddingShare = 0;
    for (int n = 1; n <= count; ++n) {
        const Microcycle& micro = macrocycle[size_t(n - 1)];
        QStandardItem* cycleItem = nullptr;
        if (tree && several) {
            cycleItem = new QStandardItem(cycleName(n));
            cycleItem->setEditable(false);
            tree->appendRow(cycleItem);
        }
        double sum = 0;
        bool allAnswered = true;
        const QString prefix = cycleName(n);
        for (size_t k = 0; k < micro.size(); ++k) {
            const quint16 id = micro[k];
            const bool yes = answered(id);
            allAnswered = allAnswered && yes;
            const IdentifierStats* stats = context.findIdentifier(id);
            const double ticks = stats ? double(stats->transactionTicks) : 0.0;
            const double value = microcycleMicros > 0 ? ticks * tickMicros * share / microcycleMicros : 0.0;
            sum += value;
            const QString label = prefix
                + QString::asprintf(yes ? "[%lu] - id_dat/rp_dat(0x%04x)" : "[%lu] - id_dat(0x%04x)",
                                    static_cast<unsigned long>(k + 1), id);
            detailed.add(label, value, yes ? kAnswered : kUnanswered);
            if (tree) {
                auto* item = new QStandardItem(stateIcon(identifierState(context, id)),
                                               QString::asprintf("0x%04x", id));
                item->setEditable(false);
                if (cycleItem)
                    cycleItem->appendRow(item);
                else
                    tree->appendRow(item);
            }
        }
        const double padding = sum < share ? share - sum : share;
        paddingShare += padding;
        detailed.add(prefix + QStringLiteral(" - padding"), padding, kUnanswered);
        if (several)
            coarse.add(prefix, share, allAnswered ? kAnswered : kUnanswered);
    }

    update.detailedSlices = detailed.labels.size();
    QStringList unload = m_drawnAnything ? m_drawnLabels : QStringList { initialSlice() };
    const SliceSet* sent = &detailed;
    if (update.detailedSlices > maxSlices) {
        update.reportTooManySlices = !m_tooManyReported;
        m_tooManyReported = true;
        if (several && coarse.labels.size() <= maxSlices) {
            sent = &coarse;
            m_coarseShown = true;
        }
    }
    if (sent == &detailed) {
        m_tooManyReported = false;
        m_coarseShown = false;
    }
    // Labels drawn now and last time are reloaded in place; the page keeps them.
    for (const QString& label : sent->labels)
        unload.removeAll(label);

    QJsonObject data;
    data.insert(QStringLiteral("columns"), sent->columns);
    data.insert(QStringLiteral("colors"), sent->colors);
    data.insert(QStringLiteral("unload"), QJsonArray::fromStringList(unload));
    data.insert(QStringLiteral("order"), QJsonValue::Null);
    update.draw = true;
    update.coarse = sent == &coarse;
    update.script = loadScript(QJsonDocument(data).toJson(QJsonDocument::Compact));

    m_drawnAnything = true;
    m_drawn = macrocycle;
    m_drawnReplied.swap(replied);
    m_drawnLength = length;
    m_drawnLabels = sent->labels;
    m_paddingShare = paddingShare;
    return update;
}
