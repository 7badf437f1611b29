#include "design/MainDTModel.h"
#include "design/SettingsDTDelegate.h"
#include "design/SettingsDTModel.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeView>
#include <QUndoStack>
#include <QtTest>

namespace {

// A small project: Network / Segment / Station / Arbiter / Scan Table / Instruction,
// and an Output Variable with a Data Rendering and a Mnemonic.
struct Project {
    MainDTModel model;
    QPersistentModelIndex network, segment, station, arbiter, table, instruction, variable, rendering, mnemonic;

    QModelIndex add(const QString& kind, const QModelIndex& parent)
    {
        const int before = model.rowCount(parent);
        if (!model.dropItem(kind, parent) || model.rowCount(parent) != before + 1)
            return QModelIndex();
        return model.index(before, 0, parent);
    }

    bool build()
    {
        model.setMultiInsertPause(0);
        if (!model.dropItem("Network", QModelIndex()))
            return false;
        network = model.getNetworkIdx();
        segment = add("Segment", network);
        station = add("Station", segment);
        arbiter = add("Arbiter", station);
        table = add("Scan Table", arbiter);
        instruction = add("Instruction", table);
        variable = add("Variable", station);
        rendering = add("Data Rendering", variable);
        mnemonic = add("Mnemonic", rendering);
        model.undoStack()->clear();
        return network.isValid() && segment.isValid() && station.isValid() && arbiter.isValid() && table.isValid()
            && instruction.isValid() && variable.isValid() && rendering.isValid() && mnemonic.isValid();
    }

    QString text(const QModelIndex& node, int column) const
    {
        return model.data(node.sibling(node.row(), column), Qt::EditRole).toString();
    }

    QModelIndex node(const QString& name) const
    {
        const QMap<QString, QModelIndex> nodes = {
            { "network", network }, { "segment", segment }, { "station", station }, { "arbiter", arbiter },
            { "table", table }, { "instruction", instruction }, { "variable", variable },
            { "rendering", rendering }, { "mnemonic", mnemonic },
        };
        return nodes.value(name);
    }

    bool set(const QModelIndex& node, int column, const QString& value)
    {
        return model.setData(node.sibling(node.row(), column), value, Qt::EditRole);
    }
};

// Types the value into the table cell of a design column and hands the change to the model.
bool edit(SettingsDTModel& table, int column, const QString& value)
{
    QStandardItem* item = table.valueItem(column);
    if (!item)
        return false;
    item->setText(value);
    return table.applyItemChange(item);
}

QStringList shownPropertyNames(const SettingsDTModel& table)
{
    QStringList names;
    for (int row = 0; row < table.rowCount(); ++row) {
        if (!table.isRowShown(row))
            continue;
        const QModelIndex group = table.index(row, 0);
        names << group.data().toString();
        for (int child = 0; child < table.rowCount(group); ++child) {
            if (table.isRowShown(child, group))
                names << QStringLiteral("  ") + table.index(child, 0, group).data().toString();
        }
    }
    return names;
}

} // namespace

class TestSettingsDTModel : public QObject
{
    Q_OBJECT

private slots:
    void structure();
    void flags();
    void modelTester();
    void columnMap();
    void unmappedCells();

    void shownRows_data();
    void shownRows();
    void viewFollowsVisibility();
    void noNodeShowsNothing();
    void removedNodeEmptiesTable();

    void loadCopiesValues();
    void loadingMakesNoEdit();
    void editWritesBackWithOneUndo();
    void undoRefreshesTable();
    void tslotWritesCodeAndTime();
    void silenceParameterWritesTime();
    void outOfRangeRefused_data();
    void outOfRangeRefused();
    void designRefusalRestoresCell();
    void designAdjustedValueShown();
    void instructionTypeChangesRows();
    void editorRanges_data();
    void editorRanges();
    void editorRangesFollowSpeed();

    void delegateEditors();
    void delegateComboRoundTrip();
    void delegateKeepsUnlistedValue();
    void hexSpinBox_data();
    void hexSpinBox();
};

void TestSettingsDTModel::structure()
{
    SettingsDTModel table(42, 2);
    QCOMPARE(table.rowCount(), 42);
    QCOMPARE(table.columnCount(), 2);
    QCOMPARE(table.headerData(0, Qt::Horizontal).toString(), QString("Property"));
    QCOMPARE(table.headerData(1, Qt::Horizontal).toString(), QString("Value"));
    // a smaller request still gets every property row
    SettingsDTModel small(3, 1);
    QCOMPARE(small.rowCount(), 42);
    QCOMPARE(small.columnCount(), 2);
}

void TestSettingsDTModel::flags()
{
    SettingsDTModel table(42, 2);
    const Qt::ItemFlags name = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const Qt::ItemFlags value = Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    for (int row = 0; row < table.rowCount(); ++row) {
        const QModelIndex group = table.index(row, 0);
        QCOMPARE(table.flags(group), name);
        QCOMPARE(table.flags(table.index(row, 1)), value);
        for (int child = 0; child < table.rowCount(group); ++child) {
            QCOMPARE(table.flags(table.index(child, 0, group)), name);
            const bool readOnly = row == SettingsDTModel::RowTimeSettings && child < 2;
            QCOMPARE(table.flags(table.index(child, 1, group)), readOnly ? name : value);
        }
    }
    // the read-only times refuse a write through the edit role
    const QModelIndex silence = table.valueIndex(MainDTModel::ColNetworkSilenceTime);
    QVERIFY(!table.setData(silence, "1 s", Qt::EditRole));
    QVERIFY(table.setData(table.valueIndex(MainDTModel::ColObject), "Net", Qt::EditRole));
}

void TestSettingsDTModel::modelTester()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
    table.loadFromIndex(&project.model, project.network);
    QVERIFY(edit(table, MainDTModel::ColNetworkSpeed, "5 Mbits/s"));
    table.loadFromIndex(&project.model, project.mnemonic);
    table.clearNode();
}

// Every mapped design column owns its own value cell and maps back to itself.
void TestSettingsDTModel::columnMap()
{
    SettingsDTModel table(42, 2);
    QSet<QModelIndex> cells;
    for (int column : SettingsDTModel::mappedColumns()) {
        const QModelIndex cell = table.valueIndex(column);
        QVERIFY2(cell.isValid() && cell.column() == 1, qPrintable(QString::number(column)));
        QCOMPARE(table.designColumn(cell), column);
        QCOMPARE(table.designColumn(table.itemFromIndex(cell)), column);
        cells.insert(cell);
    }
    QCOMPARE(cells.size(), 58);
    QCOMPARE(table.valueIndex(MainDTModel::ColNetworkSilence), table.index(2, 1, table.index(3, 0)));
}

void TestSettingsDTModel::unmappedCells()
{
    SettingsDTModel table(42, 2);
    for (int column : { 1, 2, 26, 28, 29, 38, 47, 54, 55, 67, 107, -1, 500 })
        QVERIFY2(!table.valueIndex(column).isValid(), qPrintable(QString::number(column)));
    // group rows without a value of their own, and property cells
    for (int row : { 3, 4, 11, 30, 31, 32 })
        QCOMPARE(table.designColumn(table.index(row, 1)), -1);
    QCOMPARE(table.designColumn(table.index(0, 0)), -1);
    QCOMPARE(table.designColumn(QModelIndex()), -1);
    SettingsDTModel other(42, 2);
    QCOMPARE(table.designColumn(other.index(0, 1)), -1);
}

void TestSettingsDTModel::shownRows_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("selector");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("network") << "network" << ""
                             << QStringList { "Name", "Frame Type", "Speed", "Time Settings", "  Silence",
                                              "  Turn Around", "  Silence Parameter", "  Turn Around Parameter",
                                              "Global BA Settings", "  Optimization", "  Max Station Address",
                                              "  Max Priority Level" };
    QTest::newRow("segment") << "segment" << "" << QStringList { "Name", "Number" };
    QTest::newRow("station") << "station" << "" << QStringList { "Name", "Address", "TSlot" };
    QTest::newRow("arbiter") << "arbiter" << ""
                             << QStringList { "Name", "Enabled", "Priority Level", "Time Settings",
                                              "  Election Time", "  Start Time" };
    QTest::newRow("scan table") << "table" << "" << QStringList { "Name", "Number" };
    QTest::newRow("next macro") << "instruction" << "NEXT_MACRO" << QStringList { "Type" };
    QTest::newRow("send id dat") << "instruction" << "SEND_ID_DAT" << QStringList { "Type", "ID" };
    QTest::newRow("wait time") << "instruction" << "WAIT_TIME" << QStringList { "Type", "Time (ms)" };
    QTest::newRow("suspend") << "instruction" << "SUSPEND" << QStringList { "Type", "Event Number", "Delay (ms)" };
    QTest::newRow("output variable")
        << "variable" << ""
        << QStringList { "Name", "Direction", "ID", "PDU", "Length", "Refreshment", "  Dynamic",
                         "  Production Period (ms)", "Aperiodic's List Transfer Request", "Message Emission Channel",
                         "  Type", "  Number", "Message Reception Channel" };
    QTest::newRow("data rendering") << "rendering" << "" << QStringList { "Name" };
    QTest::newRow("mnemonic bool") << "mnemonic" << "Bool"
                                   << QStringList { "Name", "Type", "Description", "Pixmap", "Start Bit", "Stop Bit" };
    QTest::newRow("mnemonic int16")
        << "mnemonic" << "Int16"
        << QStringList { "Name", "Type", "Endianness", "Description", "Pixmap", "Start Bit", "Stop Bit" };
    QTest::newRow("mnemonic ascii")
        << "mnemonic" << "Ascii"
        << QStringList { "Name", "Type", "Endianness", "Description", "Pixmap", "Start Bit", "Stop Bit",
                         "Size (bytes)" };
}

void TestSettingsDTModel::shownRows()
{
    QFETCH(QString, node);
    QFETCH(QString, selector);
    QFETCH(QStringList, names);
    Project project;
    QVERIFY(project.build());
    const QModelIndex index = project.node(node);
    if (!selector.isEmpty()) {
        // room in the variable for the wider types
        QVERIFY(project.set(project.variable, MainDTModel::ColVarOutLength, "8"));
        const int column = node == "instruction" ? MainDTModel::ColInstructionType : MainDTModel::ColMnemoType;
        project.set(index, column, selector);
        QCOMPARE(project.text(index, column), selector);
    }
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, index);
    QCOMPARE(shownPropertyNames(table), names);
}

void TestSettingsDTModel::viewFollowsVisibility()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    QTreeView view;
    table.attachView(&view);
    view.expandAll();
    table.loadFromIndex(&project.model, project.station);
    QVERIFY(!view.isRowHidden(SettingsDTModel::RowName, QModelIndex()));
    QVERIFY(!view.isRowHidden(SettingsDTModel::RowTSlot, QModelIndex()));
    QVERIFY(view.isRowHidden(SettingsDTModel::RowTSlotPar, QModelIndex()));
    QVERIFY(view.isRowHidden(SettingsDTModel::RowSpeed, QModelIndex()));

    QSignalSpy spy(&table, &SettingsDTModel::rowsVisibilityChanged);
    table.loadFromIndex(&project.model, project.network);
    QCOMPARE(spy.count(), 1);
    const QModelIndex time = table.index(SettingsDTModel::RowTimeSettings, 0);
    QVERIFY(!view.isRowHidden(SettingsDTModel::RowTimeSettings, QModelIndex()));
    QVERIFY(!view.isRowHidden(0, time));
    QVERIFY(view.isRowHidden(SettingsDTModel::RowTSlot, QModelIndex()));
    // the same kind again changes nothing
    table.loadFromIndex(&project.model, project.network);
    QCOMPARE(spy.count(), 1);
}

void TestSettingsDTModel::noNodeShowsNothing()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, QModelIndex());
    QVERIFY(shownPropertyNames(table).isEmpty());
    table.loadFromIndex(nullptr, project.network);
    QVERIFY(shownPropertyNames(table).isEmpty());
    QVERIFY(table.valueItem(0)->text().isEmpty());
    // an index of another model is not a node of this one
    SettingsDTModel other(42, 2);
    table.loadFromIndex(&project.model, other.index(0, 0));
    QVERIFY(shownPropertyNames(table).isEmpty());
    QVERIFY(!edit(table, MainDTModel::ColObject, "x"));
}

void TestSettingsDTModel::removedNodeEmptiesTable()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.segment);
    QCOMPARE(table.valueItem(MainDTModel::ColObject)->text(), project.text(project.segment, 0));
    QVERIFY(project.model.removeItem(project.segment));
    QVERIFY(!table.node().isValid());
    QVERIFY(shownPropertyNames(table).isEmpty());
    QVERIFY(table.valueItem(MainDTModel::ColObject)->text().isEmpty());
    // undo brings the node back into the design; the table stays empty until it is selected again
    project.model.undoStack()->undo();
    QVERIFY(shownPropertyNames(table).isEmpty());
}

void TestSettingsDTModel::loadCopiesValues()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.variable);
    for (int column : SettingsDTModel::mappedColumns())
        QCOMPARE(table.valueItem(column)->text(), project.text(project.variable, column));
    QCOMPARE(table.valueItem(MainDTModel::ColVarOutPdu)->text(), QString("MPS"));

    // an instruction's name cell holds the stored name, not the numbered display text
    table.loadFromIndex(&project.model, project.instruction);
    QCOMPARE(table.valueItem(MainDTModel::ColObject)->text(), project.text(project.instruction, 0));
    QVERIFY(!table.valueItem(MainDTModel::ColObject)->text().startsWith("1 - "));
}

void TestSettingsDTModel::loadingMakesNoEdit()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    int applied = 0;
    connect(&table, &QStandardItemModel::itemChanged, &table, [&](QStandardItem* item) {
        if (table.applyItemChange(item))
            ++applied;
    });
    table.loadFromIndex(&project.model, project.network);
    table.loadFromIndex(&project.model, project.variable);
    table.loadFromIndex(&project.model, project.mnemonic);
    QCOMPARE(applied, 0);
    QCOMPARE(project.model.undoStack()->count(), 0);
    // a real edit through the connected signal goes through
    table.valueItem(MainDTModel::ColObject)->setText("Temperature");
    QCOMPARE(applied, 1);
    QCOMPARE(project.text(project.mnemonic, 0), QString("Temperature"));
}

void TestSettingsDTModel::editWritesBackWithOneUndo()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.segment);
    const QString oldName = project.text(project.segment, 0);
    QVERIFY(edit(table, MainDTModel::ColObject, "Line A"));
    QCOMPARE(project.text(project.segment, 0), QString("Line A"));
    QCOMPARE(project.model.undoStack()->count(), 1);
    // the same value again is no edit
    QVERIFY(!edit(table, MainDTModel::ColObject, "Line A"));
    QCOMPARE(project.model.undoStack()->count(), 1);
    project.model.undoStack()->undo();
    QCOMPARE(project.text(project.segment, 0), oldName);
}

void TestSettingsDTModel::undoRefreshesTable()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.network);
    const QString silenceTime = table.valueItem(MainDTModel::ColNetworkSilenceTime)->text();
    QVERIFY(edit(table, MainDTModel::ColNetworkSpeed, "31.25 kbits/s"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSpeed), QString("31.25 kbits/s"));
    // the design recomputed the dependent times and the table shows them
    QCOMPARE(table.valueItem(MainDTModel::ColNetworkSilenceTime)->text(),
             project.text(project.network, MainDTModel::ColNetworkSilenceTime));
    project.model.undoStack()->undo();
    QCOMPARE(table.valueItem(MainDTModel::ColNetworkSpeed)->text(), QString("1 Mbits/s"));
    QCOMPARE(table.valueItem(MainDTModel::ColNetworkSilenceTime)->text(), silenceTime);
}

void TestSettingsDTModel::tslotWritesCodeAndTime()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.station);
    const QString oldTime = project.text(project.station, MainDTModel::ColStationTSlotTime);
    const QString oldCode = project.text(project.station, MainDTModel::ColStationTSlot);
    const int before = project.model.undoStack()->count();
    QVERIFY(edit(table, MainDTModel::ColStationTSlotTime, "250 us"));
    QCOMPARE(project.text(project.station, MainDTModel::ColStationTSlotTime), QString("250 us"));
    QCOMPARE(MainDTModel::parseNumber(project.text(project.station, MainDTModel::ColStationTSlot)), 1);
    QCOMPARE(project.model.getStationTSlotMs(project.station), 0.25f);
    QCOMPARE(project.model.undoStack()->count(), before + 1);
    project.model.undoStack()->undo();
    QCOMPARE(project.text(project.station, MainDTModel::ColStationTSlotTime), oldTime);
    QCOMPARE(project.text(project.station, MainDTModel::ColStationTSlot), oldCode);
    QCOMPARE(table.valueItem(MainDTModel::ColStationTSlotTime)->text(), oldTime);
}

void TestSettingsDTModel::silenceParameterWritesTime()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.network);
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilence), QString("0x1b"));
    const int before = project.model.undoStack()->count();
    QVERIFY(edit(table, MainDTModel::ColNetworkSilence, "0x1c"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilence), QString("0x1c"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilenceTime), QString("140 us"));
    QCOMPARE(table.valueItem(MainDTModel::ColNetworkSilenceTime)->text(), QString("140 us"));
    QVERIFY(edit(table, MainDTModel::ColNetworkTurnAround, "0x3f"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkTurnAroundTime), QString("39.375 us"));
    QCOMPARE(project.model.undoStack()->count(), before + 2);
    project.model.undoStack()->undo();
    project.model.undoStack()->undo();
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilence), QString("0x1b"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilenceTime), QString("135 us"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkTurnAroundTime), QString("28.125 us"));
}

void TestSettingsDTModel::outOfRangeRefused_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("value");
    QTest::newRow("silence below 1M minimum") << "network" << int(MainDTModel::ColNetworkSilence) << "0x1a";
    QTest::newRow("silence above maximum") << "network" << int(MainDTModel::ColNetworkSilence) << "0x40";
    QTest::newRow("silence not a number") << "network" << int(MainDTModel::ColNetworkSilence) << "zz";
    QTest::newRow("turnaround below minimum") << "network" << int(MainDTModel::ColNetworkTurnAround) << "0x2c";
    QTest::newRow("unknown speed") << "network" << int(MainDTModel::ColNetworkSpeed) << "10 Mbits/s";
    QTest::newRow("speed case") << "network" << int(MainDTModel::ColNetworkSpeed) << "1 mbits/s";
    QTest::newRow("optimization 3") << "network" << int(MainDTModel::ColNetworkBaOptimization) << "Optimization 3";
    QTest::newRow("max priority 16") << "network" << int(MainDTModel::ColNetworkBaMaxPriority) << "16";
    QTest::newRow("read-only silence time") << "network" << int(MainDTModel::ColNetworkSilenceTime) << "1 ms";
    QTest::newRow("segment 256") << "segment" << int(MainDTModel::ColSegmentNumber) << "256";
    QTest::newRow("segment negative") << "segment" << int(MainDTModel::ColSegmentNumber) << "-1";
    QTest::newRow("address empty") << "station" << int(MainDTModel::ColStationAddress) << "";
    QTest::newRow("tslot of another speed") << "station" << int(MainDTModel::ColStationTSlotTime) << "100 us";
    QTest::newRow("priority level 16") << "arbiter" << int(MainDTModel::ColArbiterPriorityLevel) << "16";
    QTest::newRow("election time derived") << "arbiter" << int(MainDTModel::ColArbiterElectionTime) << "1 ms";
    QTest::newRow("id ffff") << "variable" << int(MainDTModel::ColVarOutId) << "0xffff";
    QTest::newRow("length 0") << "variable" << int(MainDTModel::ColVarOutLength) << "0";
    QTest::newRow("length 127") << "variable" << int(MainDTModel::ColVarOutLength) << "127";
    QTest::newRow("boolean") << "variable" << int(MainDTModel::ColVarOutRefreshmentEnabled) << "yes";
    QTest::newRow("period above 16383 tslots") << "variable" << int(MainDTModel::ColVarOutRefreshmentPeriod)
                                               << "1024.0625";
    QTest::newRow("period below one tslot") << "variable" << int(MainDTModel::ColVarOutRefreshmentPeriod) << "0.01";
    QTest::newRow("stop bit derived") << "mnemonic" << int(MainDTModel::ColMnemoStopBit) << "7";
}

void TestSettingsDTModel::outOfRangeRefused()
{
    QFETCH(QString, node);
    QFETCH(int, column);
    QFETCH(QString, value);
    Project project;
    QVERIFY(project.build());
    const QModelIndex index = project.node(node);
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, index);
    QSignalSpy status(&table, &SettingsDTModel::statusBarMessage);
    const QString before = project.text(index, column);
    QVERIFY(before != value);
    QVERIFY(!table.acceptsValue(table.valueIndex(column), value));
    QVERIFY(!edit(table, column, value));
    QCOMPARE(project.text(index, column), before);
    QCOMPARE(table.valueItem(column)->text(), before);
    QCOMPARE(project.model.undoStack()->count(), 0);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).value<quint8>(), quint8(1));
}

void TestSettingsDTModel::designRefusalRestoresCell()
{
    Project project;
    QVERIFY(project.build());
    const QModelIndex second = project.add("Variable", project.station);
    QVERIFY(second.isValid());
    project.model.undoStack()->clear();
    const QString taken = project.text(project.variable, MainDTModel::ColVarOutId);
    const QString own = project.text(second, MainDTModel::ColVarOutId);
    QVERIFY(taken != own);

    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, second);
    QSignalSpy designStatus(&project.model, &MainDTModel::statusBarMessage);
    QVERIFY(table.acceptsValue(table.valueIndex(MainDTModel::ColVarOutId), taken));
    QVERIFY(!edit(table, MainDTModel::ColVarOutId, taken));
    QCOMPARE(project.text(second, MainDTModel::ColVarOutId), own);
    QCOMPARE(table.valueItem(MainDTModel::ColVarOutId)->text(), own);
    QCOMPARE(designStatus.count(), 1);
    QCOMPARE(project.model.undoStack()->count(), 0);
}

void TestSettingsDTModel::designAdjustedValueShown()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.variable);
    // 7.03 ms is no multiple of the 62.5 us TSlot: the design keeps 112 TSlots
    QVERIFY(edit(table, MainDTModel::ColVarOutRefreshmentPeriod, "7.03"));
    const QString kept = project.text(project.variable, MainDTModel::ColVarOutRefreshmentPeriod);
    QCOMPARE(kept.toDouble(), 7.0);
    QCOMPARE(table.valueItem(MainDTModel::ColVarOutRefreshmentPeriod)->text(), kept);
    QCOMPARE(MainDTModel::parseNumber(project.text(project.variable, MainDTModel::ColVarOutRefreshmentPeriodPar)), 112);
    QCOMPARE(project.model.undoStack()->count(), 1);
}

void TestSettingsDTModel::instructionTypeChangesRows()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.instruction);
    QCOMPARE(shownPropertyNames(table), QStringList { "Type" });
    QSignalSpy spy(&table, &SettingsDTModel::rowsVisibilityChanged);
    QVERIFY(edit(table, MainDTModel::ColInstructionType, "SUSPEND"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(shownPropertyNames(table), (QStringList { "Type", "Event Number", "Delay (ms)" }));
    project.model.undoStack()->undo();
    QCOMPARE(shownPropertyNames(table), QStringList { "Type" });
    QCOMPARE(spy.count(), 2);
}

void TestSettingsDTModel::editorRanges_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("kind");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<QStringList>("items");
    using E = SettingsDTModel::Editor;
    const QStringList none;
    QTest::newRow("name") << "network" << 0 << int(E::Text) << 0.0 << 0.0 << none;
    QTest::newRow("speed") << "network" << 4 << int(E::Combo) << 0.0 << 0.0
                           << QStringList { "31.25 kbits/s", "1 Mbits/s", "2.5 Mbits/s", "5 Mbits/s" };
    QTest::newRow("silence") << "network" << 8 << int(E::NoEditor) << 0.0 << 0.0 << none;
    QTest::newRow("silence par 1M") << "network" << 10 << int(E::Hexadecimal) << 27.0 << 63.0 << none;
    QTest::newRow("turnaround par 1M") << "network" << 11 << int(E::Hexadecimal) << 45.0 << 63.0 << none;
    QTest::newRow("tslot 1M") << "station" << 14 << int(E::Combo) << 0.0 << 0.0
                              << QStringList { "62.5 us", "250 us", "625 us", "2.5 ms" };
    QTest::newRow("address") << "station" << 13 << int(E::Integer) << 0.0 << 255.0 << none;
    QTest::newRow("election") << "arbiter" << 18 << int(E::NoEditor) << 0.0 << 0.0 << none;
    QTest::newRow("instruction time") << "instruction" << 25 << int(E::Decimal) << 0.0 << 32767 * 0.0625 << none;
    QTest::newRow("variable id") << "variable" << 32 << int(E::Hexadecimal) << 0.0 << 65534.0 << none;
    QTest::newRow("period") << "variable" << 37 << int(E::Decimal) << 0.0625 << 16383 * 0.0625 << none;
    QTest::newRow("stop bit") << "mnemonic" << 64 << int(E::NoEditor) << 0.0 << 0.0 << none;
}

void TestSettingsDTModel::editorRanges()
{
    QFETCH(QString, node);
    QFETCH(int, column);
    QFETCH(int, kind);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(QStringList, items);
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.node(node));
    const SettingsDTModel::Editor editor = table.editorFor(table.valueIndex(column));
    QCOMPARE(int(editor.kind), kind);
    if (kind == SettingsDTModel::Editor::Combo) {
        QCOMPARE(editor.items, items);
    } else if (kind != SettingsDTModel::Editor::Text && kind != SettingsDTModel::Editor::NoEditor) {
        QCOMPARE(editor.minimum, minimum);
        QVERIFY(qAbs(editor.maximum - maximum) < 1e-6);
    }
}

void TestSettingsDTModel::editorRangesFollowSpeed()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    table.loadFromIndex(&project.model, project.network);
    QVERIFY(edit(table, MainDTModel::ColNetworkSpeed, "31.25 kbits/s"));
    SettingsDTModel::Editor silence = table.editorFor(table.valueIndex(MainDTModel::ColNetworkSilence));
    QCOMPARE(silence.minimum, 4.0);
    QCOMPARE(silence.maximum, 63.0);
    QVERIFY(table.acceptsValue(table.valueIndex(MainDTModel::ColNetworkSilence), "0x04"));
    QVERIFY(!table.acceptsValue(table.valueIndex(MainDTModel::ColNetworkSilence), "0x03"));
    QVERIFY(edit(table, MainDTModel::ColNetworkSilence, "0x3f"));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkSilenceTime), QString("64.512 ms"));

    table.loadFromIndex(&project.model, project.station);
    QCOMPARE(table.editorFor(table.valueIndex(MainDTModel::ColStationTSlotTime)).items,
             (QStringList { "100 us", "400 us", "1 ms", "4 ms" }));
    QVERIFY(edit(table, MainDTModel::ColStationTSlotTime, "4 ms"));
    QCOMPARE(MainDTModel::parseNumber(project.text(project.station, MainDTModel::ColStationTSlot)), 3);
    table.loadFromIndex(&project.model, project.variable);
    const SettingsDTModel::Editor period = table.editorFor(table.valueIndex(MainDTModel::ColVarOutRefreshmentPeriod));
    QCOMPARE(period.minimum, 4.0);
    QCOMPARE(period.maximum, 16383 * 4.0);
    QCOMPARE(period.step, 4.0);
}

void TestSettingsDTModel::delegateEditors()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    SettingsDTDelegate delegate;
    QWidget parent;
    QStyleOptionViewItem option;
    table.loadFromIndex(&project.model, project.network);

    QScopedPointer<QWidget> speed(delegate.createEditor(&parent, option, table.valueIndex(MainDTModel::ColNetworkSpeed)));
    auto* combo = qobject_cast<QComboBox*>(speed.data());
    QVERIFY(combo);
    QCOMPARE(combo->count(), 4);
    delegate.setEditorData(combo, table.valueIndex(MainDTModel::ColNetworkSpeed));
    QCOMPARE(combo->currentText(), QString("1 Mbits/s"));

    QVERIFY(!delegate.createEditor(&parent, option, table.valueIndex(MainDTModel::ColNetworkSilenceTime)));
    QVERIFY(!delegate.createEditor(&parent, option, table.index(SettingsDTModel::RowTimeSettings, 1)));
    QVERIFY(!delegate.createEditor(&parent, option, table.index(0, 0)));

    QScopedPointer<QWidget> silence(delegate.createEditor(&parent, option, table.valueIndex(MainDTModel::ColNetworkSilence)));
    auto* hex = dynamic_cast<HexSpinBox*>(silence.data());
    QVERIFY(hex);
    QCOMPARE(hex->minimum(), 27);
    QCOMPARE(hex->maximum(), 63);
    delegate.setEditorData(hex, table.valueIndex(MainDTModel::ColNetworkSilence));
    QCOMPARE(hex->value(), 0x1b);
    QCOMPARE(hex->text(), QString("0x1b"));
    hex->setValue(0x2a);
    delegate.setModelData(hex, &table, table.valueIndex(MainDTModel::ColNetworkSilence));
    QCOMPARE(table.valueItem(MainDTModel::ColNetworkSilence)->text(), QString("0x2a"));

    table.loadFromIndex(&project.model, project.variable);
    QScopedPointer<QWidget> period(delegate.createEditor(&parent, option,
                                                         table.valueIndex(MainDTModel::ColVarOutRefreshmentPeriod)));
    auto* real = qobject_cast<QDoubleSpinBox*>(period.data());
    QVERIFY(real);
    real->setValue(1e9);  // clamped to 16383 TSlots
    QCOMPARE(real->value(), 16383 * 0.0625);
    delegate.setModelData(real, &table, table.valueIndex(MainDTModel::ColVarOutRefreshmentPeriod));
    QCOMPARE(table.valueItem(MainDTModel::ColVarOutRefreshmentPeriod)->text(), QString("1023.9375"));

    QScopedPointer<QWidget> name(delegate.createEditor(&parent, option, table.valueIndex(MainDTModel::ColObject)));
    QVERIFY(qobject_cast<QLineEdit*>(name.data()));
}

void TestSettingsDTModel::delegateComboRoundTrip()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    SettingsDTDelegate delegate;
    QWidget parent;
    table.loadFromIndex(&project.model, project.arbiter);
    const QModelIndex cell = table.valueIndex(MainDTModel::ColArbiterPriorityLevel);
    QScopedPointer<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), cell));
    auto* combo = qobject_cast<QComboBox*>(widget.data());
    QVERIFY(combo);
    QCOMPARE(combo->itemText(0), QString("0  (Highest)"));
    QCOMPARE(combo->itemText(15), QString("15  (Lowest)"));
    delegate.setEditorData(combo, cell);
    QCOMPARE(combo->currentIndex(), project.text(project.arbiter, MainDTModel::ColArbiterPriorityLevel).toInt());
    combo->setCurrentIndex(15);
    delegate.setModelData(combo, &table, cell);
    // the stored value is the level, not the text shown
    QCOMPARE(table.itemFromIndex(cell)->text(), QString("15"));
    QVERIFY(table.applyItemChange(table.itemFromIndex(cell)));
    QCOMPARE(project.text(project.arbiter, MainDTModel::ColArbiterPriorityLevel), QString("15"));
}

void TestSettingsDTModel::delegateKeepsUnlistedValue()
{
    Project project;
    QVERIFY(project.build());
    SettingsDTModel table(42, 2);
    SettingsDTDelegate delegate;
    QWidget parent;
    table.loadFromIndex(&project.model, project.network);
    const QModelIndex cell = table.valueIndex(MainDTModel::ColNetworkFrameType);
    const QString stored = project.text(project.network, MainDTModel::ColNetworkFrameType);
    QScopedPointer<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), cell));
    auto* combo = qobject_cast<QComboBox*>(widget.data());
    QVERIFY(combo);
    delegate.setEditorData(combo, cell);
    QCOMPARE(combo->currentText(), stored);
    delegate.setModelData(combo, &table, cell);
    QVERIFY(!table.applyItemChange(table.itemFromIndex(cell)));
    QCOMPARE(project.text(project.network, MainDTModel::ColNetworkFrameType), stored);
    QCOMPARE(project.model.undoStack()->count(), 0);
}

void TestSettingsDTModel::hexSpinBox_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<int>("state");
    QTest::newRow("prefixed") << "0x1b" << int(QValidator::Acceptable);
    QTest::newRow("upper prefix") << "0X3F" << int(QValidator::Acceptable);
    QTest::newRow("bare digits") << "2a" << int(QValidator::Acceptable);
    QTest::newRow("prefix only") << "0x" << int(QValidator::Intermediate);
    QTest::newRow("below minimum") << "0x1a" << int(QValidator::Intermediate);
    QTest::newRow("above maximum") << "0x40" << int(QValidator::Invalid);
    QTest::newRow("not hex") << "0x1g" << int(QValidator::Invalid);
    QTest::newRow("decimal sign") << "-1" << int(QValidator::Invalid);
}

void TestSettingsDTModel::hexSpinBox()
{
    QFETCH(QString, input);
    QFETCH(int, state);
    HexSpinBox spin(2);
    spin.setRange(27, 63);
    int pos = 0;
    QString text = input;
    QCOMPARE(int(static_cast<QAbstractSpinBox&>(spin).validate(text, pos)), state);
}

QTEST_MAIN(TestSettingsDTModel)
#include "tst_settingsdtmodel.moc"
