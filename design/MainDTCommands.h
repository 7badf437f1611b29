#pragma once

#include "design/TreeItem.h"

#include <QList>
#include <QModelIndex>
#include <QPair>
#include <QUndoCommand>
#include <QVariant>

class MainDTModel;

/// (column, value) pairs of one row.
using MainDTRowValues = QList<QPair<int, QVariant>>;

/// Inserts `count` empty rows under a parent. Text "Add Item(s)".
class MainDTAddCommand : public QUndoCommand
{
public:
    MainDTAddCommand(const QModelIndex& parent, int row, int count, MainDTModel* model,
                     QUndoCommand* parentCommand = nullptr);
    void redo() override;
    void undo() override;

private:
    TreeItem::Path m_parentPath;
    int m_row;
    int m_count;
    MainDTModel* m_model;
};

/// Writes the initial columns of new rows. Text "Init item(s) value".
class MainDTInitCommand : public QUndoCommand
{
public:
    MainDTInitCommand(const QModelIndex& parent, int row, int count, const QList<MainDTRowValues>& values,
                      MainDTModel* model, QUndoCommand* parentCommand = nullptr);
    void redo() override;
    void undo() override;

private:
    TreeItem::Path m_parentPath;
    int m_row;
    int m_count;
    QList<MainDTRowValues> m_values;
    MainDTModel* m_model;
};

/// Changes one cell. Text "Edit Item".
class MainDTEditCommand : public QUndoCommand
{
public:
    MainDTEditCommand(const QModelIndex& index, const QVariant& value, int role, MainDTModel* model,
                      QUndoCommand* parentCommand = nullptr);
    void redo() override;
    void undo() override;
    int role() const { return m_role; }

private:
    void apply(const QVariant& value);

    TreeItem::Path m_path;
    QVariant m_newValue;
    QVariant m_oldValue;
    int m_role;
    MainDTModel* m_model;
};

/// Removes rows with their subtrees and restores them on undo. Text "Remove Item".
class MainDTRemoveCommand : public QUndoCommand
{
public:
    MainDTRemoveCommand(const QModelIndex& index, int count, MainDTModel* model,
                        QUndoCommand* parentCommand = nullptr);
    void redo() override;
    void undo() override;

private:
    struct SavedNode {
        TreeItem::Path path;      ///< position of the node when it was removed
        QVector<QVariant> values; ///< columns 0 to 66
        int childCount = 0;
    };
    void save(const QModelIndex& index);

    TreeItem::Path m_parentPath;
    int m_row;
    int m_count;
    QList<SavedNode> m_saved; ///< depth first, parents before children
    MainDTModel* m_model;
};
