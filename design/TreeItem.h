#pragma once

#include <QList>
#include <QModelIndex>
#include <QPair>
#include <QVariant>
#include <QVector>

class QAbstractItemModel;

/// One node of the design tree: its column values and its owned children.
class TreeItem
{
public:
    /// A position from the root: one (row, column) pair per level.
    using Path = QList<QPair<int, int>>;

    explicit TreeItem(const QVector<QVariant>& data, TreeItem* parent = nullptr);
    ~TreeItem();

    TreeItem(const TreeItem&) = delete;
    TreeItem& operator=(const TreeItem&) = delete;

    TreeItem* child(int row) const;
    int childCount() const;
    /// Size of the item data.
    int columnCount() const;
    /// Invalid variant when the column is out of range.
    QVariant data(int column) const;
    /// False when the column is out of range.
    bool setData(int column, const QVariant& value);
    TreeItem* parent() const;
    /// Index in the parent's child list, 0 for the root.
    int row() const;

    /// Creates `count` children with `columns` empty values at `position`;
    /// false when position is outside 0..childCount.
    bool insertChildren(int position, int count, int columns);
    /// Deletes `count` children from `position`; false when the range is outside the child list.
    bool removeChildren(int position, int count);

    /// The (row, column) pairs from the root down to `index`; empty for an invalid index.
    static Path pathFromIndex(const QModelIndex& index);
    /// Resolves a path made by pathFromIndex against `model`; invalid when a step no longer exists.
    static QModelIndex pathToIndex(const QAbstractItemModel* model, const Path& path);

private:
    QList<TreeItem*> m_childItems;
    QVector<QVariant> m_itemData;
    TreeItem* m_parentItem;
};
