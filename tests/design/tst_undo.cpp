#include "tst_maindtmodel_util.h"

#include "design/MainDTCommands.h"
#include "design/MainDTContextMenu.h"
#include "design/ResourceIconDialog.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QTreeView>

using M = MainDTModel;

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    void undoRedoSequence();
    void oneUndoPerUserAction();
    void removeOutputMessageTakesMirrors();
    void inputMessageCannotBeRemoved();
    void removeStationRestoresSubtree();
    void editRedoReappliesValue();
    void freeValuesFollowUndo();
    void directionSwitchUndoes();
    void commandsSurviveRowShifts();
    void insertRowsThroughStack();
    void contextMenuEntries_data();
    void contextMenuEntries();
    void contextMenuRuns();
    void expandCollapse();
    void resourceIconDialog();
};

// Every user action of a small project, each followed by a snapshot; undoing them one by one
// must give back each snapshot exactly, and redoing them the same in the other direction.
void TestUndo::undoRedoSequence()
{
    // No QAbstractItemModelTester here: an instruction inserted before others renumbers their
    // display texts ("1 - ..." becomes "2 - ..."), which the tester takes for a corrupted row.
    DesignFixture f;
    QList<QStringList> states { f.snapshot() };
    QList<int> indexes { f.model.undoStack()->index() };
    const auto step = [&](bool done) {
        QVERIFY(done);
        states << f.snapshot();
        indexes << f.model.undoStack()->index();
        QCOMPARE(indexes.last(), indexes.at(indexes.size() - 2) + 1);
    };

    step(f.drop("Network", QModelIndex()));
    const QPersistentModelIndex net = f.network();
    step(f.drop("Segment", net));
    const QPersistentModelIndex seg = f.model.index(0, 0, net);
    step(f.drop("Station", seg));
    step(f.drop("Station", seg));
    const QPersistentModelIndex st0 = f.model.index(0, 0, seg);
    const QPersistentModelIndex st1 = f.model.index(1, 0, seg);
    step(f.drop("Arbiter", st0));
    const QPersistentModelIndex arb = f.model.getArbiter(st0);
    step(f.drop("Scan Table", arb));
    const QPersistentModelIndex table = f.model.index(0, 0, arb);
    step(f.drop("Instruction", table));
    step(f.drop("Instruction", table));
    step(f.edit(f.model.index(1, 0, table), M::ColInstructionType, "SEND_ID_DAT"));
    step(f.drop("Instruction", table, 0)); // inserted before the first one
    step(f.drop("Variable", st0));
    step(f.drop("Variable", st1));
    const QPersistentModelIndex v0 = f.model.getVariableIndexes(0, M::VARIABLE_OUT).first();
    const QPersistentModelIndex v1 = f.model.getVariableIndexes(1, M::VARIABLE_OUT).first();
    step(f.edit(v0, M::ColVarOutMessageTransferEnabled, "true"));
    step(f.edit(v1, M::ColVarMessageReceptionEnabled, "true"));
    step(f.drop("Message", v0));
    step(f.drop("Data Rendering", v0));
    step(f.drop("Mnemonic", f.model.index(1, 0, v0)));
    step(f.drop("Aperiodic List", v1));
    step(f.drop("Variable", f.model.index(1, 0, v1)));
    step(f.edit(v0, M::ColVarOutId, "0x0101"));
    step(f.edit(net, M::ColNetworkSpeed, "2.5 Mbits/s"));
    step(f.edit(st0, M::ColStationAddress, "9"));
    step(f.edit(arb, M::ColArbiterPriorityLevel, "4"));
    step(f.edit(seg, M::ColSegmentNumber, "3"));
    step(f.edit(v0, M::ColVarOutRefreshmentPeriod, "10"));
    step(f.model.removeItem(v1));

    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 1);
    QCOMPARE(f.value(f.model.getClassTypeIndexes(M::MESSAGE_OUT).first(), M::ColMsgSourceSegment), QString("3"));
    QCOMPARE(f.value(net, M::ColNetworkBaMaxStationAddress), QString("9"));
    QCOMPARE(f.value(net, M::ColNetworkBaMaxPriority), QString("4"));

    for (int i = states.size() - 1; i > 0; --i) {
        f.model.undoStack()->undo();
        QCOMPARE(f.model.undoStack()->index(), indexes.at(i - 1));
        QCOMPARE(f.snapshot(), states.at(i - 1));
    }
    QCOMPARE(f.model.rowCount(), 0);
    bool ok = false;
    QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(0));
    for (int i = 1; i < states.size(); ++i) {
        f.model.undoStack()->redo();
        QCOMPARE(f.snapshot(), states.at(i));
    }
    QCOMPARE(f.model.getStationAddressesUsed(), (QList<quint8> { 1, 9 }));
    QCOMPARE(f.model.getPriorityLevelsUsed(), QList<quint8> { 4 });
}

void TestUndo::oneUndoPerUserAction()
{
    DesignFixture f;
    f.buildBasic();
    const int before = f.model.undoStack()->count();
    f.ctrl = true;
    f.insertCount = 4;
    QVERIFY(f.drop("Variable", f.station));
    // Each created item is its own macro.
    QCOMPARE(f.model.undoStack()->count(), before + 4);
    QCOMPARE(f.model.undoStack()->text(before), QString("Add - Output Variable"));
    f.model.undoStack()->undo();
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_OUT).size(), 3);
    QCOMPARE(f.model.undoStack()->undoText(), QString("Add - Output Variable"));
    f.ctrl = false;
    QVERIFY(f.edit(f.network(), M::ColNetworkSpeed, "5 Mbits/s"));
    QCOMPARE(f.model.undoStack()->undoText(), QString("Edit - Network"));
    QVERIFY(f.model.removeItem(f.station));
    QCOMPARE(f.model.undoStack()->undoText(), QString("Remove - Station 0"));
}

void TestUndo::removeOutputMessageTakesMirrors()
{
    DesignFixture f;
    f.buildBasic();
    const QPersistentModelIndex source = f.add("Variable", f.station);
    const QPersistentModelIndex destination = f.add("Variable", f.station);
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferType, "Periodic"));
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferChannel, "2"));
    QVERIFY(f.edit(destination, M::ColVarMessageReceptionEnabled, "true"));
    const QPersistentModelIndex message = f.add("Message", source);
    QVERIFY(message.isValid());
    QCOMPARE(f.value(message, M::ColMsgChannelType), QString("Periodic"));
    QCOMPARE(f.value(message, M::ColMsgChannelNumber), QString("2"));
    QCOMPARE(f.model.getOutputMessageIndexes(f.station, 2).size(), 1);
    QCOMPARE(f.model.rowCount(destination), 1);
    const QStringList before = f.snapshot();
    QVERIFY(f.model.removeItem(message));
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 0);
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_IN).size(), 0);
    f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), before);
    // Moving the channel releases the old one and the message attached to it.
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferChannel, "3"));
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 0);
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_IN).size(), 0);
    f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), before);
}

void TestUndo::inputMessageCannotBeRemoved()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex source = f.add("Variable", f.station);
    const QModelIndex destination = f.add("Variable", f.station);
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
    QVERIFY(f.edit(destination, M::ColVarMessageReceptionEnabled, "true"));
    QVERIFY(f.add("Message", source).isValid());
    const QModelIndex mirror = f.model.index(0, 0, destination);
    QCOMPARE(f.model.classType(mirror), quint8(M::MESSAGE_IN));
    const QStringList before = f.snapshot();
    const int count = f.model.undoStack()->count();
    QSignalSpy spy(&f.model, &M::statusBarMessage);
    MainDTContextMenu menu(&f.model);
    QVERIFY(!menu.removeFipItem(mirror));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), 2);
    QCOMPARE(spy.at(0).at(1).toString(), QString("<strong>Input Message</strong> can not be manually removed."));
    QCOMPARE(f.snapshot(), before);
    QCOMPARE(f.model.undoStack()->count(), count);
}

void TestUndo::removeStationRestoresSubtree()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex second = f.add("Station", f.segment);
    const QModelIndex arbiter = f.add("Arbiter", second);
    const QModelIndex table = f.add("Scan Table", arbiter);
    f.ctrl = true;
    f.insertCount = 3;
    QVERIFY(f.drop("Instruction", table));
    f.ctrl = false;
    const QModelIndex variable = f.add("Variable", second);
    const QModelIndex rendering = f.add("Data Rendering", variable);
    QVERIFY(f.add("Mnemonic", rendering).isValid());
    QVERIFY(f.edit(second, M::ColStationAddress, "40"));
    const QStringList before = f.snapshot();
    QVERIFY(f.model.removeItem(second));
    QCOMPARE(f.model.getStationIndexes().size(), 1);
    QCOMPARE(f.model.getPriorityLevelsUsed().size(), 0);
    QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxStationAddress), QString("0"));
    bool ok = false;
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(0));
    f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), before);
    QCOMPARE(f.value(f.model.getStationIdx(40), M::ColFipDevice), M::BindADevice);
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(1));
    QCOMPARE(f.model.getFirstFreePriorityLevel(&ok), quint8(1));
    f.model.undoStack()->redo();
    QCOMPARE(f.model.getStationIndexes().size(), 1);
}

void TestUndo::editRedoReappliesValue()
{
    DesignFixture f;
    f.buildBasic();
    QVERIFY(f.edit(f.station, 0, "Master"));
    f.model.undoStack()->setClean();
    QVERIFY(f.edit(f.station, 0, "Slave"));
    QVERIFY(!f.model.undoStack()->isClean());
    f.model.undoStack()->undo();
    QCOMPARE(f.value(f.station, 0), QString("Master"));
    QVERIFY(f.model.undoStack()->isClean());
    f.model.undoStack()->redo();
    QCOMPARE(f.value(f.station, 0), QString("Slave"));
    QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);
    f.model.undoStack()->undo();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), f.station.sibling(f.station.row(), 0));
}

void TestUndo::freeValuesFollowUndo()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex variable = f.add("Variable", f.station);
    const QModelIndex arbiter = f.add("Arbiter", f.station);
    QVERIFY(f.edit(f.station, M::ColStationAddress, "5"));
    QVERIFY(f.edit(f.segment, M::ColSegmentNumber, "7"));
    QVERIFY(f.edit(arbiter, M::ColArbiterPriorityLevel, "3"));
    QVERIFY(f.edit(variable, M::ColVarOutId, "0x0020"));
    bool ok = false;
    QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(0));
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(0));
    for (int i = 0; i < 4; ++i)
        f.model.undoStack()->undo();
    QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(1));
    QCOMPARE(f.model.getFirstFreeSegmentNumber(&ok), quint8(1));
    QCOMPARE(f.model.getFirstFreePriorityLevel(&ok), quint8(1));
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(1));
    for (int i = 0; i < 4; ++i)
        f.model.undoStack()->redo();
    QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(0));
    QCOMPARE(f.model.getFirstFreeSegmentNumber(&ok), quint8(0));
    QCOMPARE(f.model.getFirstFreePriorityLevel(&ok), quint8(0));
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(0));
}

void TestUndo::directionSwitchUndoes()
{
    DesignFixture f;
    f.buildBasic();
    const QPersistentModelIndex variable = f.add("Variable", f.station);
    const QPersistentModelIndex other = f.add("Variable", f.station);
    QVERIFY(f.add("Mnemonic", f.add("Data Rendering", variable)).isValid());
    const QModelIndex list = f.add("Aperiodic List", other);
    QVERIFY(f.add("Variable", list).isValid()); // refers to 0x0000
    QVERIFY(f.edit(variable, M::ColVarOutMessageTransferEnabled, "true"));
    QVERIFY(f.add("Message", variable).isValid());
    const QStringList before = f.snapshot();
    QVERIFY(f.edit(variable, M::ColVariableDirection, "IN"));
    QCOMPARE(f.model.getClassTypeIndexes(M::DATA_RENDERING).size(), 0);
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_REF).size(), 0); // nobody produces 0x0000 any more
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 0);  // its channel is gone
    QVERIFY(f.model.getVariableIndexes(0, M::VARIABLE_IN).contains(variable));
    f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), before);
    f.model.undoStack()->redo();
    QCOMPARE(f.model.classType(variable), quint8(M::VARIABLE_IN));
}

void TestUndo::commandsSurviveRowShifts()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex variable = f.add("Variable", f.station);
    MainDTEditCommand edit(variable.sibling(variable.row(), M::ColVarOutLength), "4", Qt::EditRole, &f.model);
    QCOMPARE(edit.text(), QString("Edit Item"));
    edit.redo();
    QCOMPARE(f.value(variable, M::ColVarOutLength), QString("4"));
    edit.undo();
    QCOMPARE(f.value(variable, M::ColVarOutLength), QString("1"));

    MainDTAddCommand add(f.station, 0, 2, &f.model);
    QCOMPARE(add.text(), QString("Add Item(s)"));
    MainDTInitCommand init(f.station, 0, 2,
                           { { { 0, "A" }, { 2, QString::number(M::DATA_RENDERING) } },
                             { { 0, "B" }, { 2, QString::number(M::DATA_RENDERING) } } },
                           &f.model);
    QCOMPARE(init.text(), QString("Init item(s) value"));
    add.redo();
    init.redo();
    QCOMPARE(f.model.rowCount(f.station), 3);
    QCOMPARE(f.value(f.model.index(1, 0, f.station), 0), QString("B"));
    init.undo();
    QVERIFY(f.value(f.model.index(0, 0, f.station), 0).isEmpty());
    add.undo();
    QCOMPARE(f.model.rowCount(f.station), 1);
    // A command made before rows were inserted above resolves its path again.
    MainDTRemoveCommand remove(f.model.index(0, 0, f.station), 1, &f.model);
    QCOMPARE(remove.text(), QString("Remove Item"));
    remove.redo();
    QCOMPARE(f.model.rowCount(f.station), 0);
    remove.undo();
    QCOMPARE(f.value(f.model.index(0, 0, f.station), M::ColVarOutId), QString("0x0000"));
}

void TestUndo::insertRowsThroughStack()
{
    DesignFixture f;
    QVERIFY(f.model.insertRows(0, 1, QModelIndex()));
    QCOMPARE(f.model.rowCount(), 1);
    QCOMPARE(f.model.undoStack()->count(), 1);
    QVERIFY(f.model.setDataWithoutControl(f.model.index(0, M::ColClassType), "0"));
    QVERIFY(f.model.setDataWithoutControl(f.model.index(0, M::ColObject), "Loaded"));
    QCOMPARE(f.model.undoStack()->count(), 1);
    f.model.updateInternalData();
    QVERIFY(f.model.getNetworkIdx().isValid());
    QVERIFY(!f.model.setDataWithoutControl(QModelIndex(), "x"));
    f.model.undoStack()->undo();
    QCOMPARE(f.model.rowCount(), 0);
    QVERIFY(!f.model.removeRows(0, 1, QModelIndex()));
}

void TestUndo::contextMenuEntries_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("texts");
    const QStringList always = { "Expand All", "Collapse All", "Remove" };
    QTest::newRow("network") << int(M::NETWORK) << QStringList { "Add Segment", "Add Segment(s)" } + always;
    QTest::newRow("station") << int(M::STATION)
                             << QStringList { "Add Arbiter", "Add Variable", "Add Variable(s)" } + always;
    QTest::newRow("instruction") << int(M::INSTRUCTION)
                                 << QStringList { "Insert Instruction", "Insert Instruction(s)" } + always;
    QTest::newRow("output variable")
        << int(M::VARIABLE_OUT)
        << QStringList { "Add Aperiodic List", "Add Data Rendering", "Add Message", "Add Aperiodic List(s)",
                         "Add Data Rendering(s)", "Add Message(s)" } + always;
    QTest::newRow("input variable") << int(M::VARIABLE_IN) << QStringList { "Add Message", "Add Message(s)" } + always;
    QTest::newRow("aperiodic list")
        << int(M::APERIODIC_LIST) << QStringList { "Add Reference Variable", "Add Reference Variable(s)" } + always;
    QTest::newRow("mnemonic") << int(M::MNEMONIC) << always;
    QTest::newRow("input message") << int(M::MESSAGE_IN) << always;
}

void TestUndo::contextMenuEntries()
{
    QFETCH(int, kind);
    QFETCH(QStringList, texts);
    QStringList actual;
    for (const auto& entry : MainDTContextMenu::entries(quint8(kind)))
        actual << entry.text;
    QCOMPARE(actual, texts);
}

void TestUndo::contextMenuRuns()
{
    DesignFixture f;
    f.buildBasic();
    MainDTContextMenu context(&f.model);
    std::unique_ptr<QMenu> menu(context.createMenu(f.station));
    QAction* addVariable = nullptr;
    QAction* addVariables = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->text() == "Add Variable")
            addVariable = a;
        if (a->text() == "Add Variable(s)")
            addVariables = a;
    }
    QVERIFY(addVariable && addVariables);
    QVERIFY(context.trigger(addVariable, f.station, nullptr));
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_OUT).size(), 1);
    f.insertCount = 3; // the multiple form asks for a count although Ctrl is not held
    QVERIFY(context.trigger(addVariables, f.station, nullptr));
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_OUT).size(), 4);
    QVERIFY(!f.model.isCtrlPressed());
    f.cancelCount = true;
    QVERIFY(!context.trigger(addVariables, f.station, nullptr));
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_OUT).size(), 4);
    f.cancelCount = false;

    // "Insert Instruction" goes before the current instruction.
    const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
    QVERIFY(f.drop("Instruction", table));
    QVERIFY(f.drop("Instruction", table));
    QVERIFY(f.edit(f.model.index(1, 0, table), M::ColInstructionType, "TESTP"));
    const auto entries = MainDTContextMenu::entries(M::INSTRUCTION);
    QVERIFY(context.run(entries.first(), f.model.index(1, 0, table), nullptr));
    QCOMPARE(f.model.rowCount(table), 3);
    QCOMPARE(f.value(f.model.index(1, 0, table), M::ColInstructionType), QString("NEXT_MACRO"));
    QCOMPARE(f.value(f.model.index(2, 0, table), M::ColInstructionType), QString("TESTP"));

    // Remove through the menu entry.
    const auto stationEntries = MainDTContextMenu::entries(M::STATION);
    QVERIFY(context.run(stationEntries.last(), f.station, nullptr));
    QCOMPARE(f.model.getStationIndexes().size(), 0);
}

void TestUndo::expandCollapse()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex variable = f.add("Variable", f.station);
    QVERIFY(f.add("Data Rendering", variable).isValid());
    QTreeView view;
    view.setModel(&f.model);
    MainDTContextMenu::expandChildren(f.network(), &view);
    QVERIFY(view.isExpanded(f.network()));
    QVERIFY(view.isExpanded(f.station));
    QVERIFY(view.isExpanded(variable));
    MainDTContextMenu::collapseChildren(f.segment, &view);
    QVERIFY(view.isExpanded(f.network()));
    QVERIFY(!view.isExpanded(f.segment));
    QVERIFY(!view.isExpanded(variable));
}

void TestUndo::resourceIconDialog()
{
    ResourceIconDialog dialog;
    QCOMPARE(dialog.windowTitle(), QString("Select a resource icon"));
    QVERIFY(dialog.minimumWidth() >= 761 && dialog.minimumHeight() >= 473);
    QListWidget* list = dialog.findChild<QListWidget*>("iconsListWidget");
    QVERIFY(list);
    QCOMPARE(list->viewMode(), QListView::IconMode);
    list->clear();
    QVERIFY(dialog.fileName().isEmpty());
    list->addItem("traffic light");
    list->setCurrentRow(0);
    QCOMPARE(dialog.fileName(), QString(":/images/rendering/icon_traffic_light_48x48.png"));

    // Cancelling the modal picker gives an empty name.
    QTimer::singleShot(0, [] {
        if (auto* active = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            active->reject();
    });
    QVERIFY(ResourceIconDialog::getResourceIconName(nullptr).isEmpty());
}

QTEST_MAIN(TestUndo)
#include "tst_undo.moc"
