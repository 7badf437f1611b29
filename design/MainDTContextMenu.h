#pragma once

#include <QList>
#include <QModelIndex>
#include <QObject>
#include <QString>

class MainDTModel;
class QAction;
class QMenu;
class QTreeView;
class QWidget;

/// The design tree's context menu: which entries a node offers and what each does.
/// The main window's slots (onCustomContextDTMenu, onContextDTMenuTriggered) only
/// show the menu built here and hand the chosen action back to trigger().
class MainDTContextMenu : public QObject
{
    Q_OBJECT

public:
    enum Kind { ExpandAll, CollapseAll, Remove, Add, AddMultiple };

    struct Entry {
        QString text;        ///< "Add Segment", "Add Station(s)", "Expand All" ...
        QString icon;        ///< resource path of its icon; empty for the multiple forms
        Kind kind;
        QString itemKind;    ///< item-box kind dropped by an add entry ("Segment", "Variable" ...)
        bool insert = false; ///< "Insert Instruction": before the current instruction
    };

    explicit MainDTContextMenu(MainDTModel* model, QObject* parent = nullptr);

    /// The add entries of a node kind, single forms then multiple forms.
    static QList<Entry> addEntries(quint8 nodeKind);
    /// Every entry offered for a node kind, in menu order.
    static QList<Entry> entries(quint8 nodeKind);

    /// A new menu (owned by the caller) for the node at `index`; actions carry their entry.
    QMenu* createMenu(const QModelIndex& index, QWidget* parent = nullptr) const;
    /// Runs the entry of an action made by createMenu on `current`; false when nothing was done.
    bool trigger(QAction* action, const QModelIndex& current, QTreeView* view);
    bool run(const Entry& entry, const QModelIndex& current, QTreeView* view);

    /// Removes the node unless it is an Input Message (refused on the status bar).
    bool removeFipItem(const QModelIndex& current);
    static void expandChildren(const QModelIndex& index, QTreeView* view);
    static void collapseChildren(const QModelIndex& index, QTreeView* view);

private:
    MainDTModel* m_model;
};

Q_DECLARE_METATYPE(MainDTContextMenu::Entry)
