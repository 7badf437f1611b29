#pragma once

// Builds design projects through the same drops and edits a user makes.

#include "design/MainDTModel.h"
#include "design/TreeItem.h"

#include <QMimeData>
#include <QStandardItemModel>
#include <QUndoStack>
#include <QtTest>

#include <memory>

class DesignFixture
{
public:
    DesignFixture()
    {
        const QStringList kinds = { "Network", "Segment", "Station", "Arbiter", "Scan Table", "Instruction",
                                    "Variable", "Aperiodic List", "Message", "Data Rendering", "Mnemonic" };
        for (const QString& k : kinds)
            itemBox.appendRow(new QStandardItem(k));
        model.setMultiInsertPause(0);
        model.setCtrlPressedQuery([this] { return ctrl; });
        model.setInsertionCountQuery([this](int* count) {
            *count = insertCount;
            return !cancelCount;
        });
    }

    /// The item box's own drag data for a kind.
    std::unique_ptr<QMimeData> mime(const QString& kind)
    {
        const auto found = itemBox.findItems(kind);
        return std::unique_ptr<QMimeData>(itemBox.mimeData({ found.first()->index() }));
    }

    bool drop(const QString& kind, const QModelIndex& parent, int row = -1)
    {
        auto data = mime(kind);
        return model.dropMimeData(data.get(), Qt::CopyAction, row, 0, parent);
    }

    /// Drops and returns the new node (the last child of parent, or the one at row).
    QModelIndex add(const QString& kind, const QModelIndex& parent, int row = -1)
    {
        if (!drop(kind, parent, row))
            return QModelIndex();
        return model.index(row < 0 ? model.rowCount(parent) - 1 : row, 0, parent);
    }

    bool edit(const QModelIndex& node, int column, const QVariant& value)
    {
        return model.setData(node.sibling(node.row(), column), value, Qt::EditRole);
    }

    QString value(const QModelIndex& node, int column) const
    {
        return model.text(node, column);
    }

    /// Every node's project columns, depth first, with its path.
    QStringList snapshot() const
    {
        QStringList rows;
        for (const QModelIndex& i : model.getAllIndexes()) {
            QStringList cells;
            for (const auto& step : TreeItem::pathFromIndex(i))
                cells << QString::number(step.first);
            cells << "|";
            for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c) {
                const QVariant v = model.getItem(i)->data(c);
                cells << (v.isValid() ? v.toString() : QStringLiteral("<null>"));
            }
            rows << cells.join(QLatin1Char(';'));
        }
        return rows;
    }

    QModelIndex network() { return model.getNetworkIdx(); }

    /// Network / Segment 0 / Station 0 with its arbiter and a scan table.
    void buildBasic()
    {
        QVERIFY(drop("Network", QModelIndex()));
        segment = add("Segment", network());
        QVERIFY(segment.isValid());
        station = add("Station", segment);
        QVERIFY(station.isValid());
    }

    MainDTModel model;
    QStandardItemModel itemBox;
    bool ctrl = false;
    bool cancelCount = false;
    int insertCount = 1;
    QPersistentModelIndex segment;
    QPersistentModelIndex station;
};
