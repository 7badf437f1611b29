#include "tst_maindtmodel_util.h"

#include <QApplication>
#include <QInputDialog>
#include <QSignalSpy>
#include <QTimer>

using M = MainDTModel;

namespace {
const QString kSegmentLimit = "Cannot create more than 256 <strong>Segment</strong> into a <strong>Network</strong>.";
const QString kNetworkStations = "Cannot create more than 256 <strong>Station</strong> into a <strong>Network</strong>.";
const QString kSegmentStations = "Cannot create more than 32 <strong>Station</strong> into a <strong>Segment</strong>.";
} // namespace

class TestDrop : public QObject
{
    Q_OBJECT

private slots:
    void targets_data();
    void targets();
    void foreignMimeData();
    void stationsPerSegment();
    void thirtyThirdStation();
    void networkLimits();
    void variableIdentifiers();
    void scanTables();
    void arbiterNeedsFreePriority();
    void outputMessagePreconditions_data();
    void outputMessagePreconditions();
    void referenceVariables();
    void cancelledCountCreatesNothing();
    void countDialog();
    void multiDropProgress();
    void multiDropStopsWhenTargetGoes_data();
    void multiDropStopsWhenTargetGoes();
    void insertBeforeRow();
    void initialValues();

private:
    /// A project holding one node of every kind; names of the nodes in `nodes`.
    void buildAllKinds(DesignFixture& f, QMap<QString, QPersistentModelIndex>& nodes);
};

void TestDrop::buildAllKinds(DesignFixture& f, QMap<QString, QPersistentModelIndex>& nodes)
{
    f.buildBasic();
    nodes["root"] = QPersistentModelIndex();
    nodes["network"] = f.network();
    nodes["segment"] = f.segment;
    nodes["station"] = f.station;
    nodes["arbiter"] = f.add("Arbiter", f.station);
    nodes["scan table"] = f.add("Scan Table", nodes["arbiter"]);
    nodes["instruction"] = f.add("Instruction", nodes["scan table"]);
    nodes["output variable"] = f.add("Variable", f.station);
    QVERIFY(f.edit(nodes["output variable"], M::ColVarOutMessageTransferEnabled, "true"));
    const QModelIndex second = f.add("Variable", f.station);
    QVERIFY(second.isValid());
    nodes["input variable"] = f.add("Variable", f.station);
    QVERIFY(f.edit(nodes["input variable"], M::ColVariableDirection, "IN"));
    nodes["aperiodic list"] = f.add("Aperiodic List", nodes["output variable"]);
    nodes["output message"] = f.add("Message", nodes["output variable"]);
    nodes["data rendering"] = f.add("Data Rendering", nodes["output variable"]);
    nodes["mnemonic"] = f.add("Mnemonic", nodes["data rendering"]);
    for (auto it = nodes.cbegin(); it != nodes.cend(); ++it)
        QVERIFY2(it.key() == "root" || it.value().isValid(), qPrintable(it.key()));
}

void TestDrop::targets_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<int>("created");     // kind of the new node

    const auto refuse = [](const char* name, const char* kind, const char* target, const QString& message) {
        QTest::newRow(name) << kind << target << message << -1;
    };
    const auto accept = [](const char* name, const char* kind, const char* target, int created) {
        QTest::newRow(name) << kind << target << QString() << created;
    };
    refuse("network on segment", "Network", "segment",
           "<strong>Network</strong> is only droppable on <strong>Root</strong>.");
    refuse("second network", "Network", "root", "Cannot create more than one <strong>Network</strong> at the time.");
    refuse("segment on root", "Segment", "root",
           "Unable to drop <strong>Segment</strong> on the Root. Only <strong>Network</strong> item is allowed.");
    refuse("mnemonic on root", "Mnemonic", "root",
           "Unable to drop <strong>Mnemonic</strong> on the Root. Only <strong>Network</strong> item is allowed.");
    refuse("segment on station", "Segment", "station",
           "<strong>Segment</strong> is only droppable on <strong>Network</strong> item.");
    accept("segment on network", "Segment", "network", M::SEGMENT);
    refuse("station on network", "Station", "network",
           "<strong>Station</strong> is only droppable on <strong>Segment</strong> item.");
    accept("station on segment", "Station", "segment", M::STATION);
    refuse("arbiter on segment", "Arbiter", "segment",
           "<strong>Arbiter</strong> is only droppable on <strong>Station</strong> item.");
    refuse("second arbiter", "Arbiter", "station",
           "Cannot create more than one <strong>Arbiter</strong> into a <strong>Station</strong>.");
    refuse("scan table on station", "Scan Table", "station",
           "<strong>Scan Table</strong> is only droppable on <strong>Arbiter</strong> item.");
    accept("scan table on arbiter", "Scan Table", "arbiter", M::SCAN_TABLE);
    refuse("instruction on arbiter", "Instruction", "arbiter",
           "<strong>Instruction</strong> is only droppable on <strong>Scan Table</strong> item.");
    refuse("instruction on instruction", "Instruction", "instruction",
           "<strong>Instruction</strong> is only droppable on <strong>Scan Table</strong> item.");
    accept("instruction on scan table", "Instruction", "scan table", M::INSTRUCTION);
    refuse("variable on segment", "Variable", "segment",
           "<strong>Variable</strong> is only droppable on <strong>Station</strong> and <strong>Aperiodic "
           "List</strong> items.");
    refuse("variable on output variable", "Variable", "output variable",
           "<strong>Variable</strong> is only droppable on <strong>Station</strong> and <strong>Aperiodic "
           "List</strong> items.");
    accept("variable on station", "Variable", "station", M::VARIABLE_OUT);
    accept("variable on aperiodic list", "Variable", "aperiodic list", M::VARIABLE_REF);
    refuse("aperiodic list on input", "Aperiodic List", "input variable",
           "<strong>Aperiodic List</strong> is only droppable on <strong>Output Variable</strong> item.");
    accept("aperiodic list on output", "Aperiodic List", "output variable", M::APERIODIC_LIST);
    refuse("message on station", "Message", "station",
           "<strong>Message</strong> is only droppable on <strong>Output Variable</strong> and <strong>Input "
           "Variable</strong> items.");
    refuse("message on message", "Message", "output message",
           "<strong>Message</strong> is only droppable on <strong>Output Variable</strong> and <strong>Input "
           "Variable</strong> items.");
    accept("message on input variable", "Message", "input variable", M::MESSAGE_OUT);
    refuse("data rendering on input", "Data Rendering", "input variable",
           "<strong>Data Rendering</strong> is only droppable on <strong>Output Variable</strong> and "
           "<strong>Output Message</strong> items.");
    accept("data rendering on message", "Data Rendering", "output message", M::DATA_RENDERING);
    accept("data rendering on output", "Data Rendering", "output variable", M::DATA_RENDERING);
    refuse("mnemonic on output", "Mnemonic", "output variable",
           "<strong>Mnemonic</strong> is only droppable on <strong>Data Rendering</strong> item.");
    refuse("mnemonic on mnemonic", "Mnemonic", "mnemonic",
           "<strong>Mnemonic</strong> is only droppable on <strong>Data Rendering</strong> item.");
    accept("mnemonic on data rendering", "Mnemonic", "data rendering", M::MNEMONIC);
}

void TestDrop::targets()
{
    QFETCH(QString, kind);
    QFETCH(QString, target);
    QFETCH(QString, message);
    QFETCH(int, created);

    DesignFixture f;
    QMap<QString, QPersistentModelIndex> nodes;
    buildAllKinds(f, nodes);
    const QModelIndex parent = nodes.value(target);
    const QStringList before = f.snapshot();
    const int undoCount = f.model.undoStack()->count();
    const int rows = f.model.rowCount(parent);

    auto data = f.mime(kind);
    QVERIFY(f.model.canDropMimeData(data.get(), Qt::CopyAction, -1, 0, parent));
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QSignalSpy focused(&f.model, &M::indexFocused);
    const bool dropped = f.model.dropMimeData(data.get(), Qt::CopyAction, -1, 0, parent);
    if (!message.isEmpty()) {
        QVERIFY(!dropped);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(0).toInt(), 1);
        QCOMPARE(status.at(0).at(1).toString(), message);
        QCOMPARE(f.snapshot(), before);
        QCOMPARE(f.model.undoStack()->count(), undoCount);
        return;
    }
    QVERIFY(dropped);
    QCOMPARE(status.count(), 0);
    QCOMPARE(f.model.rowCount(parent), rows + 1);
    const QModelIndex node = f.model.index(rows, 0, parent);
    QCOMPARE(int(f.model.classType(node)), created);
    QCOMPARE(f.value(node, M::ColClass), f.model.getClassTypeStr(quint8(created)));
    QVERIFY(!focused.isEmpty());
    QCOMPARE(focused.last().at(0).toModelIndex(), node);
    // One undo takes the whole creation back.
    QCOMPARE(f.model.undoStack()->count(), undoCount + 1);
    f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), before);
}

void TestDrop::foreignMimeData()
{
    DesignFixture f;
    QMimeData text;
    text.setText("Network");
    QVERIFY(!f.model.canDropMimeData(&text, Qt::CopyAction, -1, 0, QModelIndex()));
    QVERIFY(!f.model.dropMimeData(&text, Qt::CopyAction, -1, 0, QModelIndex()));
    QStandardItemModel other;
    other.appendRow(new QStandardItem("Gateway"));
    std::unique_ptr<QMimeData> unknown(other.mimeData({ other.index(0, 0) }));
    QVERIFY(!f.model.canDropMimeData(unknown.get(), Qt::CopyAction, -1, 0, QModelIndex()));
    QVERIFY(!f.model.dropMimeData(unknown.get(), Qt::CopyAction, -1, 0, QModelIndex()));
    QMimeData broken;
    broken.setData(M::ItemModelMimeType, QByteArray("\x01\x02", 2));
    QVERIFY(!f.model.dropMimeData(&broken, Qt::CopyAction, -1, 0, QModelIndex()));
    QCOMPARE(f.model.rowCount(), 0);
    QCOMPARE(f.model.undoStack()->count(), 0);
    QVERIFY(f.model.supportedDropActions() & Qt::CopyAction);
    QVERIFY(f.model.supportedDropActions() & Qt::MoveAction);
    QCOMPARE(f.model.mimeTypes(), QStringList { M::ItemModelMimeType });
}

void TestDrop::stationsPerSegment()
{
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.insertCount = 29;
    QVERIFY(f.drop("Station", f.segment));
    QCOMPARE(f.model.rowCount(f.segment), 30);
    QSignalSpy status(&f.model, &M::statusBarMessage);
    f.insertCount = 3;
    QVERIFY(f.drop("Station", f.segment));
    QCOMPARE(f.model.rowCount(f.segment), 32);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(), kSegmentStations);
    // The two created stay, each as its own undo step.
    f.model.undoStack()->undo();
    QCOMPARE(f.model.rowCount(f.segment), 31);
    QCOMPARE(f.value(f.model.index(30, 0, f.segment), 0), QString("Station 30"));
}

void TestDrop::thirtyThirdStation()
{
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.insertCount = 31;
    QVERIFY(f.drop("Station", f.segment));
    f.ctrl = false;
    const QStringList before = f.snapshot();
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QVERIFY(!f.drop("Station", f.segment));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(), kSegmentStations);
    QCOMPARE(f.snapshot(), before);
    // Another segment still takes stations, numbered from the first free address.
    const QModelIndex second = f.add("Segment", f.network());
    QCOMPARE(f.value(second, 0), QString("Segment 1"));
    const QModelIndex station = f.add("Station", second);
    QCOMPARE(f.value(station, M::ColStationAddress), QString("32"));
    QCOMPARE(f.value(station, M::ColFipDevice), M::BindADevice);
}

void TestDrop::networkLimits()
{
    DesignFixture f;
    QVERIFY(f.drop("Network", QModelIndex()));
    f.ctrl = true;
    f.insertCount = 256;
    QVERIFY(f.drop("Segment", f.network()));
    QCOMPARE(f.model.rowCount(f.network()), 256);
    QSignalSpy status(&f.model, &M::statusBarMessage);
    f.insertCount = 1;
    QVERIFY(!f.drop("Segment", f.network()));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(), kSegmentLimit);
    f.insertCount = 32;
    for (int s = 0; s < 8; ++s)
        QVERIFY(f.drop("Station", f.model.index(s, 0, f.network())));
    status.clear();
    f.insertCount = 1;
    QVERIFY(!f.drop("Station", f.model.index(8, 0, f.network())));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(), kNetworkStations);
}

void TestDrop::variableIdentifiers()
{
    // Every identifier from 0 to 0xfffe in one drop; 0xffff is never offered.
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.insertCount = 65535;
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QVERIFY(f.drop("Variable", f.station));
    QCOMPARE(status.count(), 0);
    QCOMPARE(f.model.rowCount(f.station), 65535);
    QCOMPARE(f.value(f.model.index(65534, 0, f.station), M::ColVarOutId), QString("0xfffe"));
    bool ok = true;
    QCOMPARE(f.model.getFirstFreeVariableOutID(&ok), quint16(0));
    QVERIFY(!ok);
    f.insertCount = 1;
    QVERIFY(!f.drop("Variable", f.station));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(),
             QString("Cannot create more than 65536 <strong>Variable</strong> into a <strong>Network</strong>."));
}

void TestDrop::scanTables()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex arbiter = f.add("Arbiter", f.station);
    const QModelIndex first = f.add("Scan Table", arbiter);
    const QModelIndex second = f.add("Scan Table", arbiter);
    QCOMPARE(f.value(first, 0), QString("Scan Table 0"));
    QCOMPARE(f.value(second, M::ColScanTableNumber), QString("1"));
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QVERIFY(!f.drop("Scan Table", arbiter));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(),
             QString("Cannot create more than two <strong>Scan Table</strong> into a <strong>Arbiter</strong>."));
    // Removing the first frees its number for the next one.
    QVERIFY(f.model.removeItem(first));
    const QModelIndex again = f.add("Scan Table", arbiter);
    QCOMPARE(f.value(again, M::ColScanTableNumber), QString("0"));
}

void TestDrop::arbiterNeedsFreePriority()
{
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.insertCount = 16;
    QVERIFY(f.drop("Station", f.segment));
    f.ctrl = false;
    for (int s = 0; s < 16; ++s)
        QVERIFY(f.drop("Arbiter", f.model.index(s, 0, f.segment)));
    QCOMPARE(f.model.getPriorityLevelsUsed().size(), 16);
    QCOMPARE(f.model.getMaxPriorityLevel(), quint8(15));
    QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxPriority), QString("15"));
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QVERIFY(!f.drop("Arbiter", f.model.index(16, 0, f.segment)));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(),
             QString("Cannot create <strong>Arbiter</strong>. All priority levels are used on "
                     "<strong>Network</strong>."));
    QVERIFY(!f.model.hasArbiter(f.model.index(16, 0, f.segment)));
}

void TestDrop::outputMessagePreconditions_data()
{
    QTest::addColumn<int>("outputs");
    QTest::addColumn<QString>("channel"); // "", "Periodic" or "Aperiodic"
    QTest::addColumn<int>("existing");    // messages already under the source
    QTest::addColumn<QString>("message");
    QTest::newRow("one output variable") << 1 << "Aperiodic" << 0
        << "Cannot create <strong>Output Message</strong> without at least 2 <strong>Output Variable</strong> "
           "into <strong>Network</strong>.";
    QTest::newRow("no channel") << 2 << "" << 0
        << "Cannot create <strong>Output Message</strong> without at least one aperiodic/periodic channel "
           "configured for this <strong>Station</strong>.";
    QTest::newRow("every destination taken") << 2 << "Aperiodic" << 1
        << "Cannot create <strong>Output Message</strong>. It's impossible to find an available "
           "<strong>Destination Address</strong>";
    QTest::newRow("aperiodic channel") << 2 << "Aperiodic" << 0 << "";
    QTest::newRow("periodic channel") << 2 << "Periodic" << 0 << "";
    QTest::newRow("second destination") << 3 << "Periodic" << 1 << "";
}

void TestDrop::outputMessagePreconditions()
{
    QFETCH(int, outputs);
    QFETCH(QString, channel);
    QFETCH(int, existing);
    QFETCH(QString, message);
    DesignFixture f;
    f.buildBasic();
    QPersistentModelIndex source;
    for (int i = 0; i < outputs; ++i) {
        const QModelIndex v = f.add("Variable", f.station);
        if (i == 0)
            source = v;
    }
    if (!channel.isEmpty()) {
        QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
        if (channel != f.value(source, M::ColVarOutMessageTransferType))
            QVERIFY(f.edit(source, M::ColVarOutMessageTransferType, channel));
    }
    for (int i = 0; i < existing; ++i)
        QVERIFY(f.drop("Message", source));
    QSignalSpy status(&f.model, &M::statusBarMessage);
    const bool dropped = f.drop("Message", source);
    QCOMPARE(dropped, message.isEmpty());
    if (!message.isEmpty()) {
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(1).toString(), message);
        return;
    }
    const QModelIndex created = f.model.index(f.model.rowCount(source) - 1, 0, source);
    QCOMPARE(f.model.classType(created), quint8(M::MESSAGE_OUT));
    QCOMPARE(f.value(created, M::ColMsgChannelType), channel);
    QCOMPARE(f.value(created, M::ColMsgSourceId), QString("0x0000"));
    QCOMPARE(f.value(created, M::ColMsgSourceSegment), QString("0"));
    QCOMPARE(f.value(created, M::ColMsgDestinationId), M::idToStr(quint16(existing + 1)));
    QCOMPARE(f.value(created, M::ColMsgDirection), QString("OUT"));
    QVERIFY(f.value(created, 0).contains(" to "));
}

void TestDrop::referenceVariables()
{
    DesignFixture f;
    f.buildBasic();
    const QPersistentModelIndex producer = f.add("Variable", f.station);
    const QPersistentModelIndex other = f.add("Variable", f.station);
    const QPersistentModelIndex list = f.add("Aperiodic List", producer);
    const QModelIndex first = f.add("Variable", list);
    const QModelIndex second = f.add("Variable", list);
    QCOMPARE(f.model.classType(first), quint8(M::VARIABLE_REF));
    QCOMPARE(f.value(first, 0), QString("ID (0x0000)"));
    QCOMPARE(f.value(second, M::ColVarRefId), QString("0x0001")); // the next identifier not yet listed
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_OUT).size(), 2);
    f.ctrl = true;
    f.insertCount = 70;
    QSignalSpy status(&f.model, &M::statusBarMessage);
    QVERIFY(f.drop("Variable", list));
    QCOMPARE(f.model.rowCount(list), 64);
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(),
             QString("Cannot create more than 64 <strong>Reference Variable</strong> into an <strong>Aperiodic "
                     "List</strong>."));
    // A project whose only producers were turned into raw inputs (as a file can hold).
    f.ctrl = false;
    QVERIFY(f.model.setDataWithoutControl(producer.sibling(producer.row(), M::ColClassType), "7"));
    QVERIFY(f.model.setDataWithoutControl(other.sibling(other.row(), M::ColClassType), "7"));
    QVERIFY(f.model.removeRows(0, 64, list));
    status.clear();
    QVERIFY(!f.drop("Variable", list));
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(1).toString(),
             QString("Cannot create <strong>Reference Variable</strong> without at least one <strong>Output "
                     "Variable</strong> into <strong>Network</strong>."));
}

void TestDrop::cancelledCountCreatesNothing()
{
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.cancelCount = true;
    const QStringList before = f.snapshot();
    const int count = f.model.undoStack()->count();
    QVERIFY(!f.drop("Station", f.segment));
    QCOMPARE(f.snapshot(), before);
    QCOMPARE(f.model.undoStack()->count(), count);
    // A Network is never counted, so the dialog's answer does not matter.
    DesignFixture g;
    g.ctrl = true;
    g.cancelCount = true;
    QVERIFY(g.drop("Network", QModelIndex()));
    QCOMPARE(g.model.rowCount(), 1);
}

void TestDrop::countDialog()
{
    DesignFixture f;
    f.buildBasic();
    f.model.setInsertionCountQuery(nullptr); // the real dialog
    f.ctrl = true;
    QString title, label;
    int minimum = 0, maximum = 0, initial = 0;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        title = dialog->windowTitle();
        label = dialog->labelText();
        minimum = dialog->intMinimum();
        maximum = dialog->intMaximum();
        initial = dialog->intValue();
        dialog->setIntValue(3);
        dialog->accept();
    });
    QVERIFY(f.drop("Station", f.segment));
    QCOMPARE(title, QString("Advanced Insertion Menu"));
    QCOMPARE(label, QString("Number of items to insert:"));
    QCOMPARE(minimum, 1);
    QCOMPARE(maximum, 65535);
    QCOMPARE(initial, 1);
    QCOMPARE(f.model.rowCount(f.segment), 4);
    QTimer::singleShot(0, [] {
        if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    QVERIFY(!f.drop("Station", f.segment));
    QCOMPARE(f.model.rowCount(f.segment), 4);
}

void TestDrop::multiDropProgress()
{
    DesignFixture f;
    f.buildBasic();
    f.ctrl = true;
    f.insertCount = 4;
    QSignalSpy progress(&f.model, &M::generateProgress);
    QVERIFY(f.drop("Variable", f.station));
    QVERIFY(progress.count() >= 5);
    QCOMPARE(progress.first().at(0).toInt(), 0);
    QCOMPARE(progress.at(1).at(0).toInt(), 25);
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QCOMPARE(f.model.getVariableOutIDsUsed(), (QList<quint16> { 0, 1, 2, 3 }));
    progress.clear();
    f.ctrl = false;
    QVERIFY(f.drop("Variable", f.station));
    QCOMPARE(progress.count(), 0);
}

void TestDrop::multiDropStopsWhenTargetGoes_data()
{
    QTest::addColumn<bool>("undo");
    QTest::newRow("target removed") << false;
    QTest::newRow("target undone") << true;
}

// Events run between the items of a long insertion: a target gone meanwhile ends it,
// and nothing lands under the root.
void TestDrop::multiDropStopsWhenTargetGoes()
{
    QFETCH(bool, undo);
    DesignFixture f;
    f.buildBasic();
    const QModelIndex network = f.model.index(0, 0);
    QPersistentModelIndex target = undo ? QPersistentModelIndex(f.add("Segment", network)) : f.segment;
    f.ctrl = true;
    f.insertCount = 6;
    QSignalSpy messages(&f.model, &M::statusBarMessage);
    bool done = false;
    connect(&f.model, &M::generateProgress, &f.model, [&](int percent) {
        if (done || percent <= 0 || percent >= 100)
            return;
        done = true;
        if (undo) {
            // Back past the items made so far and the target's own creation.
            while (target.isValid())
                f.model.undoStack()->undo();
        } else {
            QVERIFY(f.model.removeItem(target));
        }
    });
    f.drop("Station", target);
    QVERIFY(done);
    QVERIFY(!target.isValid());
    QCOMPARE(f.model.rowCount(), 1); // the network alone under the root
    QCOMPARE(f.model.getClassTypeIndexes(M::STATION).size(), undo ? 1 : 0);
    QVERIFY(!messages.isEmpty());
    QCOMPARE(messages.last().at(1).toString(), QString("The insertion of <strong>Station</strong> stopped: its target is gone."));
}

void TestDrop::insertBeforeRow()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
    QVERIFY(f.drop("Instruction", table));
    QVERIFY(f.edit(f.model.index(0, 0, table), M::ColInstructionType, "TESTP"));
    f.ctrl = true;
    f.insertCount = 2;
    QVERIFY(f.drop("Instruction", table, 0));
    QCOMPARE(f.model.rowCount(table), 3);
    QCOMPARE(f.value(f.model.index(0, 0, table), M::ColInstructionType), QString("NEXT_MACRO"));
    QCOMPARE(f.value(f.model.index(1, 0, table), M::ColInstructionType), QString("NEXT_MACRO"));
    QCOMPARE(f.value(f.model.index(2, 0, table), 0), QString("TESTP ()"));
    QCOMPARE(f.model.index(2, 0, table).data().toString(), QString("3 - TESTP ()"));
}

void TestDrop::initialValues()
{
    DesignFixture f;
    f.buildBasic();
    const QModelIndex net = f.network();
    QCOMPARE(f.value(net, 0), QString("Network"));
    QCOMPARE(f.value(net, M::ColNetworkFrameType), QString("FIP"));
    QCOMPARE(f.value(net, M::ColNetworkSpeed), QString("1 Mbits/s"));
    QCOMPARE(f.value(net, M::ColNetworkBaOptimization), QString("Optimization 0"));
    QCOMPARE(f.value(net, M::ColClassType), QString("0"));
    QCOMPARE(f.value(f.segment, M::ColSegmentNumber), QString("0"));
    const QModelIndex arbiter = f.add("Arbiter", f.station);
    QCOMPARE(f.value(arbiter, 0), QString("Arbiter"));
    QCOMPARE(f.value(arbiter, M::ColArbiterEnabled), QString("true"));
    QCOMPARE(f.value(arbiter, M::ColArbiterPriorityLevel), QString("0"));
    const QModelIndex variable = f.add("Variable", f.station);
    const QList<QPair<int, QString>> expected = {
        { M::ColVariableDirection, "OUT" }, { M::ColVarOutId, "0x0000" }, { M::ColVarOutPdu, "MPS" },
        { M::ColVarOutLength, "1" }, { M::ColVarOutRefreshmentEnabled, "true" },
        { M::ColVarOutDynamicRefreshmentEnabled, "false" }, { M::ColVarOutRefreshmentPeriod, "5" },
        { M::ColVarOutAperiodicRequestEnabled, "false" }, { M::ColVarOutMessageTransferEnabled, "false" },
        { M::ColVarOutMessageTransferType, "Aperiodic" }, { M::ColVarOutMessageTransferChannel, "0" },
        { M::ColVarMessageReceptionEnabled, "false" } };
    for (const auto& e : expected)
        QCOMPARE(f.value(variable, e.first), e.second);
    const QModelIndex list = f.add("Aperiodic List", variable);
    QCOMPARE(f.value(list, M::ColAperListMode), QString("Normal"));
    const QModelIndex mnemonic = f.add("Mnemonic", f.add("Data Rendering", variable));
    QCOMPARE(f.value(mnemonic, M::ColMnemoType), QString("Bool"));
    QCOMPARE(f.value(mnemonic, M::ColMnemoEndianness), QString("Little-Endian"));
    QCOMPARE(f.value(mnemonic, M::ColMnemoStartBit), QString("0"));
    QCOMPARE(f.value(mnemonic, M::ColMnemoStopBit), QString("0"));
    QVERIFY(f.edit(mnemonic, M::ColMnemoType, "UInt8"));
    QCOMPARE(f.value(mnemonic, M::ColMnemoStopBit), QString("7"));
    // The next one starts after it; in a full byte it starts over at bit 0.
    const QModelIndex rendering = mnemonic.parent();
    QVERIFY(f.edit(variable, M::ColVarOutLength, "2"));
    const QModelIndex next = f.add("Mnemonic", rendering);
    QCOMPARE(f.value(next, M::ColMnemoStartBit), QString("8"));
    QCOMPARE(f.value(next, 0), QString("Mnemonic 2"));
    QVERIFY(f.edit(next, M::ColMnemoType, "UInt8"));
    QCOMPARE(f.value(f.add("Mnemonic", rendering), M::ColMnemoStartBit), QString("0"));
}

QTEST_MAIN(TestDrop)
#include "tst_drop.moc"
