#pragma once

#include <QStandardItemModel>

/// The item box's kinds. A drag copies a kind into the design; the box keeps
/// every entry, so a move (a Shift drag) is never offered.
class ItemBoxModel : public QStandardItemModel
{
public:
    using QStandardItemModel::QStandardItemModel;

    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }
};
