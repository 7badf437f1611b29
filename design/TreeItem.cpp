#include "design/TreeItem.h"

#include <QAbstractItemModel>

TreeItem::TreeItem(const QVector<QVariant>& data, TreeItem* parent)
    : m_itemData(data)
    , m_parentItem(parent)
{
}

TreeItem::~TreeItem()
{
    qDeleteAll(m_childItems);
}

TreeItem* TreeItem::child(int row) const
{
    return (row >= 0 && row < m_childItems.size()) ? m_childItems.at(row) : nullptr;
}

int TreeItem::childCount() const
{
    return m_childItems.size();
}

int TreeItem::columnCount() const
{
    return m_itemData.size();
}

QVariant TreeItem::data(int column) const
{
    return (column >= 0 && column < m_itemData.size()) ? m_itemData.at(column) : QVariant();
}

bool TreeItem::setData(int column, const QVariant& value)
{
    if (column < 0 || column >= m_itemData.size())
        return false;
    m_itemData[column] = value;
    return true;
}

TreeItem* TreeItem::parent() const
{
    return m_parentItem;
}

int TreeItem::row() const
{
    return m_parentItem ? m_parentItem->m_childItems.indexOf(const_cast<TreeItem*>(this)) : 0;
}

bool TreeItem::insertChildren(int position, int count, int columns)
{
    if (position < 0 || position > m_childItems.size() || count < 0)
        return false;
    for (int i = 0; i < count; ++i)
        m_childItems.insert(position, new TreeItem(QVector<QVariant>(columns), this));
    return true;
}

bool TreeItem::removeChildren(int position, int count)
{
    if (position < 0 || count < 0 || position + count > m_childItems.size())
        return false;
    for (int i = 0; i < count; ++i)
        delete m_childItems.takeAt(position);
    return true;
}

TreeItem::Path TreeItem::pathFromIndex(const QModelIndex& index)
{
    Path path;
    for (QModelIndex i = index; i.isValid(); i = i.parent())
        path.prepend(qMakePair(i.row(), i.column()));
    return path;
}

QModelIndex TreeItem::pathToIndex(const QAbstractItemModel* model, const Path& path)
{
    QModelIndex index;
    for (const auto& step : path) {
        index = model->index(step.first, step.second, index);
        if (!index.isValid())
            return QModelIndex();
    }
    return index;
}
