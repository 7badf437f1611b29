#include "design/MainDTCommands.h"

#include "design/MainDTModel.h"

// ---------------------------------------------------------------- add

MainDTAddCommand::MainDTAddCommand(const QModelIndex& parent, int row, int count, MainDTModel* model,
                                   QUndoCommand* parentCommand)
    : QUndoCommand(QStringLiteral("Add Item(s)"), parentCommand)
    , m_parentPath(TreeItem::pathFromIndex(parent))
    , m_row(row)
    , m_count(count)
    , m_model(model)
{
}

void MainDTAddCommand::redo()
{
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    m_model->insertRowsWithoutControl(m_row, m_count, parent);
}

void MainDTAddCommand::undo()
{
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    m_model->removeRowsWithoutControl(m_row, m_count, parent);
    m_model->updateInternalData();
    m_model->emitIndexFocused(parent);
}

// ---------------------------------------------------------------- init

MainDTInitCommand::MainDTInitCommand(const QModelIndex& parent, int row, int count,
                                     const QList<MainDTRowValues>& values, MainDTModel* model,
                                     QUndoCommand* parentCommand)
    : QUndoCommand(QStringLiteral("Init item(s) value"), parentCommand)
    , m_parentPath(TreeItem::pathFromIndex(parent))
    , m_row(row)
    , m_count(count)
    , m_values(values)
    , m_model(model)
{
}

void MainDTInitCommand::redo()
{
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    for (int i = 0; i < m_count && i < m_values.size(); ++i) {
        const QModelIndex node = m_model->index(m_row + i, 0, parent);
        for (const auto& pair : m_values.at(i))
            m_model->setDataWithoutControl(m_model->cell(node, pair.first), pair.second, Qt::EditRole);
        // New nodes only take values, so marking them is enough (and keeps big drops linear).
        m_model->updateInternalData(node);
    }
    m_model->emitIndexFocused(m_model->index(m_row, 0, parent));
}

void MainDTInitCommand::undo()
{
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    for (int i = 0; i < m_count && i < m_values.size(); ++i) {
        const QModelIndex node = m_model->index(m_row + i, 0, parent);
        for (const auto& pair : m_values.at(i))
            m_model->setDataWithoutControl(m_model->cell(node, pair.first), QVariant(), Qt::EditRole);
    }
}

// ---------------------------------------------------------------- edit

MainDTEditCommand::MainDTEditCommand(const QModelIndex& index, const QVariant& value, int role,
                                     MainDTModel* model, QUndoCommand* parentCommand)
    : QUndoCommand(QStringLiteral("Edit Item"), parentCommand)
    , m_path(TreeItem::pathFromIndex(index))
    , m_newValue(value)
    , m_oldValue(model->getItem(index)->data(index.column()))
    , m_role(role)
    , m_model(model)
{
}

void MainDTEditCommand::apply(const QVariant& value)
{
    const QModelIndex index = TreeItem::pathToIndex(m_model, m_path);
    if (!index.isValid())
        return;
    m_model->getItem(index)->setData(index.column(), value);
    m_model->emitDataChanged(index);
    if (index.column() == MainDTModel::ColClassType || index.column() == MainDTModel::ColMnemoPixmap)
        m_model->emitDataChanged(m_model->cell(index, MainDTModel::ColObject)); // its icon changes
    switch (index.column()) {
    case MainDTModel::ColClassType:
    case MainDTModel::ColSegmentNumber:
    case MainDTModel::ColStationAddress:
    case MainDTModel::ColArbiterPriorityLevel:
    case MainDTModel::ColVarOutId:
        // Values the free-value sets are made of.
        m_model->updateInternalData();
        break;
    default:
        break;
    }
}

void MainDTEditCommand::redo()
{
    apply(m_newValue);
}

void MainDTEditCommand::undo()
{
    apply(m_oldValue);
}

// ---------------------------------------------------------------- remove

MainDTRemoveCommand::MainDTRemoveCommand(const QModelIndex& index, int count, MainDTModel* model,
                                         QUndoCommand* parentCommand)
    : QUndoCommand(QStringLiteral("Remove Item"), parentCommand)
    , m_parentPath(TreeItem::pathFromIndex(index.parent()))
    , m_row(index.row())
    , m_count(count)
    , m_model(model)
{
}

void MainDTRemoveCommand::save(const QModelIndex& index)
{
    SavedNode node;
    node.path = TreeItem::pathFromIndex(index);
    TreeItem* item = m_model->getItem(index);
    node.values.reserve(MainDTModel::LastProjectColumn + 1);
    for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c)
        node.values.append(item->data(c));
    node.childCount = item->childCount();
    m_saved.append(node);
    for (int r = 0; r < node.childCount; ++r)
        save(m_model->index(r, 0, index));
}

void MainDTRemoveCommand::redo()
{
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    m_saved.clear();
    for (int r = m_row; r < m_row + m_count; ++r)
        save(m_model->index(r, 0, parent));
    m_model->removeRowsWithoutControl(m_row, m_count, parent);
    m_model->updateInternalData();
}

void MainDTRemoveCommand::undo()
{
    // Parents come before their children in m_saved, so each path's parent exists when reached.
    const QModelIndex parent = TreeItem::pathToIndex(m_model, m_parentPath);
    m_model->insertRowsWithoutControl(m_row, m_count, parent);
    for (const SavedNode& node : m_saved) {
        const QModelIndex index = TreeItem::pathToIndex(m_model, node.path);
        if (node.childCount > 0 && index.isValid())
            m_model->insertRowsWithoutControl(0, node.childCount, index.sibling(index.row(), 0));
        for (int c = 0; c < node.values.size(); ++c) {
            if (node.values.at(c).isValid())
                m_model->setDataWithoutControl(m_model->cell(index, c), node.values.at(c), Qt::EditRole);
        }
        // Bindings are not part of the project: a restored station comes back unbound.
        if (m_model->classType(index) == MainDTModel::STATION)
            m_model->setDataWithoutControl(m_model->cell(index, MainDTModel::ColFipDevice), MainDTModel::BindADevice);
    }
    m_model->updateInternalData();
    m_model->emitIndexFocused(m_model->index(m_row, 0, parent));
}
