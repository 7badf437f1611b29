#include "control/MainCTModel.h"

#include "design/MainDTModel.h"

MainCTModel::MainCTModel(QObject* parent)
    : QSortFilterProxyModel(parent)
{
    // Binding a board and the live columns change which rows show.
    setDynamicSortFilter(true);
}

void MainCTModel::setLabelsVisible(bool visible)
{
    if (visible == m_labelsVisible)
        return;
    m_labelsVisible = visible;
    invalidateFilter();
}

bool MainCTModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QAbstractItemModel* source = sourceModel();
    if (!source)
        return false;
    const QModelIndex kindIndex = source->index(sourceRow, MainDTModel::ColClassType, sourceParent);
    if (!kindIndex.isValid())
        return false;
    bool ok = false;
    const uint kind = kindIndex.data(Qt::DisplayRole).toUInt(&ok);
    if (!ok)
        return false;
    switch (kind) {
    case MainDTModel::BUS_ARBITER:
    case MainDTModel::VARIABLE_REF:
        return false;
    case MainDTModel::DATA_RENDERING:
        return m_labelsVisible;
    case MainDTModel::STATION:
        return source->index(sourceRow, MainDTModel::ColDevicePresence, sourceParent).data().toString()
            == QLatin1String("true");
    default:
        return true;
    }
}
