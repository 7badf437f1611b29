#pragma once

// Builds design projects through the same drops and edits a user makes.

#include "design/MainDTModel.h"
#include "design/TreeItem.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QUndoStack>
#include <QtTest>

#include <functional>
#include <memory>

#include <sys/resource.h>
#include <csignal>

/// Runs `write` with files limited to `bytes`, as on a full disk: writes stop part-way.
template <typename Write>
auto withFileSizeLimit(rlim_t bytes, Write write)
{
    rlimit saved {};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
    const auto result = write();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    return result;
}

/// Every node's project columns, depth first, with its path; a cell without a value reads `none`
/// (a file does not tell an empty value from no value).
inline QStringList projectRows(const MainDTModel& model, const QString& none = QString())
{
    QStringList rows;
    for (const QModelIndex& i : model.getAllIndexes()) {
        QStringList cells;
        for (const auto& step : TreeItem::pathFromIndex(i))
            cells << QString::number(step.first);
        cells << "|";
        for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c) {
            const QVariant v = model.getItem(i)->data(c);
            cells << (v.isValid() ? v.toString() : none);
        }
        rows << cells.join(QLatin1Char(';'));
    }
    return rows;
}

class DesignFixture
{
public:
    enum Start { Empty, Basic, AllKinds }; ///< what the constructor builds (see buildBasic, buildAllKinds)

    explicit DesignFixture(Start start = Empty)
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
        if (start == Basic)
            buildBasic();
        else if (start == AllKinds)
            buildAllKinds();
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

    QStringList snapshot() const { return projectRows(model, QStringLiteral("<null>")); }

    QModelIndex network() { return model.getNetworkIdx(); }

    /// `action` is refused with `message` alone on the status bar, the rows and the undo stack as they were.
    void expectRefused(const std::function<bool()>& action, const QString& message, quint8 level = 1)
    {
        const QStringList before = snapshot();
        const int count = model.undoStack()->count();
        QSignalSpy status(&model, &MainDTModel::statusBarMessage);
        QVERIFY(!action());
        QCOMPARE(QList<QVariantList>(status), (QList<QVariantList> { { level, message } }));
        QCOMPARE(snapshot(), before);
        QCOMPARE(model.undoStack()->count(), count);
    }

    /// Network / Segment 0 / Station 0.
    void buildBasic()
    {
        QVERIFY(drop("Network", QModelIndex()));
        segment = add("Segment", network());
        QVERIFY(segment.isValid());
        station = add("Station", segment);
        QVERIFY(station.isValid());
    }

    /// One node of every kind in `nodes`: "network", "segment", "station", "arbiter", "scan table",
    /// "instruction", "output variable" (emitting on the aperiodic channel, with an "aperiodic list",
    /// an "output message" and a "data rendering" holding a "mnemonic"), "second variable" (receiving
    /// the "input message"), "input variable"; "root" is the invalid index. The undo stack starts empty.
    void buildAllKinds()
    {
        buildBasic();
        nodes["root"] = QPersistentModelIndex();
        nodes["network"] = network();
        nodes["segment"] = segment;
        nodes["station"] = station;
        nodes["arbiter"] = add("Arbiter", station);
        nodes["scan table"] = add("Scan Table", nodes["arbiter"]);
        nodes["instruction"] = add("Instruction", nodes["scan table"]);
        nodes["output variable"] = add("Variable", station);
        QVERIFY(edit(nodes["output variable"], MainDTModel::ColVarOutMessageTransferEnabled, "true"));
        nodes["second variable"] = add("Variable", station);
        nodes["input variable"] = add("Variable", station);
        QVERIFY(edit(nodes["input variable"], MainDTModel::ColVariableDirection, "IN"));
        nodes["aperiodic list"] = add("Aperiodic List", nodes["output variable"]);
        nodes["output message"] = add("Message", nodes["output variable"]);
        QVERIFY(edit(nodes["second variable"], MainDTModel::ColVarMessageReceptionEnabled, "true"));
        nodes["input message"] = model.index(0, 0, nodes["second variable"]);
        nodes["data rendering"] = add("Data Rendering", nodes["output variable"]);
        nodes["mnemonic"] = add("Mnemonic", nodes["data rendering"]);
        for (auto it = nodes.cbegin(); it != nodes.cend(); ++it)
            QVERIFY2(it.key() == "root" || it.value().isValid(), qPrintable(it.key()));
        model.undoStack()->clear();
    }

    QModelIndex node(const QString& name) const { return nodes.value(name); }

    MainDTModel model;
    QStandardItemModel itemBox;
    bool ctrl = false;
    bool cancelCount = false;
    int insertCount = 1;
    QPersistentModelIndex segment;
    QPersistentModelIndex station;
    QMap<QString, QPersistentModelIndex> nodes;
};
