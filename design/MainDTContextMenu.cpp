#include "design/MainDTContextMenu.h"

#include "design/MainDTModel.h"

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QTreeView>

namespace {
QString kindIcon(const char* file)
{
    return QStringLiteral(":/images/images/icon_") + QLatin1String(file) + QStringLiteral("_48x48.png");
}

struct AddEntryDef {
    const char* text;
    const char* itemKind;
    const char* icon;
    bool multiple;
    bool insert;
};

QList<AddEntryDef> addEntryDefs(quint8 nodeKind)
{
    switch (nodeKind) {
    case MainDTModel::NETWORK: return { { "Add Segment", "Segment", "segment", true, false } };
    case MainDTModel::SEGMENT: return { { "Add Station", "Station", "station", true, false } };
    case MainDTModel::STATION:
        return { { "Add Arbiter", "Arbiter", "arbiter", false, false },
                 { "Add Variable", "Variable", "variable_out", true, false } };
    case MainDTModel::BUS_ARBITER: return { { "Add Scan Table", "Scan Table", "scan_table", true, false } };
    case MainDTModel::SCAN_TABLE: return { { "Add Instruction", "Instruction", "instruction", true, false } };
    case MainDTModel::INSTRUCTION: return { { "Insert Instruction", "Instruction", "instruction", true, true } };
    case MainDTModel::VARIABLE_OUT:
        return { { "Add Aperiodic List", "Aperiodic List", "aperiodic_list", true, false },
                 { "Add Data Rendering", "Data Rendering", "data_rendering", true, false },
                 { "Add Message", "Message", "message_out", true, false } };
    case MainDTModel::VARIABLE_IN: return { { "Add Message", "Message", "message_out", true, false } };
    case MainDTModel::MESSAGE_OUT:
        return { { "Add Data Rendering", "Data Rendering", "data_rendering", true, false } };
    case MainDTModel::APERIODIC_LIST:
        return { { "Add Reference Variable", "Variable", "variable_ref", true, false } };
    case MainDTModel::DATA_RENDERING: return { { "Add Mnemonic", "Mnemonic", "mnemo", true, false } };
    default: return {};
    }
}
} // namespace

MainDTContextMenu::MainDTContextMenu(MainDTModel* model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

QList<MainDTContextMenu::Entry> MainDTContextMenu::addEntries(quint8 nodeKind)
{
    QList<Entry> singles, multiples;
    for (const AddEntryDef& def : addEntryDefs(nodeKind)) {
        singles.append({ QLatin1String(def.text), kindIcon(def.icon), Add, QLatin1String(def.itemKind),
                         def.insert });
        if (def.multiple)
            multiples.append({ QLatin1String(def.text) + QStringLiteral("(s)"), QString(), AddMultiple,
                               QLatin1String(def.itemKind), def.insert });
    }
    return singles + multiples;
}

QList<MainDTContextMenu::Entry> MainDTContextMenu::entries(quint8 nodeKind)
{
    QList<Entry> list = addEntries(nodeKind);
    list.append({ QStringLiteral("Expand All"), QStringLiteral(":/images/images/icon_expand_48x48.png"), ExpandAll,
                  QString(), false });
    list.append({ QStringLiteral("Collapse All"), QStringLiteral(":/images/images/icon_collapse_48x48.png"),
                  CollapseAll, QString(), false });
    list.append({ QStringLiteral("Remove"), QStringLiteral(":/images/images/icon_remove_48x48.png"), Remove,
                  QString(), false });
    return list;
}

QMenu* MainDTContextMenu::createMenu(const QModelIndex& index, QWidget* parent) const
{
    auto* menu = new QMenu(parent);
    const quint8 kind = m_model->classType(index);
    int previous = -1;
    for (const Entry& entry : entries(kind)) {
        // Groups: single adds, multiple adds, expand/collapse, remove.
        const int group = entry.kind == Add ? 0 : entry.kind == AddMultiple ? 1 : entry.kind == Remove ? 3 : 2;
        if (previous >= 0 && group != previous)
            menu->addSeparator();
        previous = group;
        QAction* action = entry.icon.isEmpty() ? menu->addAction(entry.text)
                                               : menu->addAction(QIcon(entry.icon), entry.text);
        action->setData(QVariant::fromValue(entry));
        if (entry.kind == Remove)
            action->setEnabled(index.isValid());
    }
    return menu;
}

bool MainDTContextMenu::trigger(QAction* action, const QModelIndex& current, QTreeView* view)
{
    if (!action || !action->data().canConvert<Entry>())
        return false;
    return run(action->data().value<Entry>(), current, view);
}

bool MainDTContextMenu::run(const Entry& entry, const QModelIndex& current, QTreeView* view)
{
    const QModelIndex node = current.isValid() ? current.sibling(current.row(), 0) : current;
    switch (entry.kind) {
    case ExpandAll:
        expandChildren(node, view);
        return view != nullptr;
    case CollapseAll:
        collapseChildren(node, view);
        return view != nullptr;
    case Remove:
        return removeFipItem(node);
    case Add:
    case AddMultiple: {
        const QModelIndex target = entry.insert ? node.parent() : node;
        const int row = entry.insert ? node.row() : -1;
        m_model->setForcedCtrl(entry.kind == AddMultiple);
        const bool done = m_model->dropItem(entry.itemKind, target, row);
        m_model->setForcedCtrl(false);
        return done;
    }
    }
    return false;
}

bool MainDTContextMenu::removeFipItem(const QModelIndex& current)
{
    return m_model->removeItem(current);
}

void MainDTContextMenu::expandChildren(const QModelIndex& index, QTreeView* view)
{
    if (!view)
        return;
    if (!index.isValid()) {
        view->expandAll();
        return;
    }
    view->expand(index);
    const QAbstractItemModel* model = index.model();
    for (int r = 0; r < model->rowCount(index); ++r)
        expandChildren(model->index(r, 0, index), view);
}

void MainDTContextMenu::collapseChildren(const QModelIndex& index, QTreeView* view)
{
    if (!view)
        return;
    if (!index.isValid()) {
        view->collapseAll();
        return;
    }
    const QAbstractItemModel* model = index.model();
    for (int r = 0; r < model->rowCount(index); ++r)
        collapseChildren(model->index(r, 0, index), view);
    view->collapse(index);
}
