// The design model: drops from the item box, columns, edits and their consequences, queries,
// and undo of every user action; the context menu and the pickers that act on it.

#include "tst_maindtmodel_util.h"

#include "design/BrxprjFile.h"
#include "design/ExampleProjects.h"
#include "design/MainDTContextMenu.h"
#include "design/MainDTDelegate.h"
#include "design/ResourceIconDialog.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QTimer>
#include <QTreeView>

using M = MainDTModel;

namespace {
const QString kExamplesDir = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/");

/// The lowest free station address, segment number, priority level and identifier: the
/// free-value sets that undo must rebuild along with the rows.
QString firstFree(const MainDTModel& m)
{
    return QStringList { QString::number(m.getFirstFreeStationAddress()), QString::number(m.getFirstFreeSegmentNumber()),
                         QString::number(m.getFirstFreePriorityLevel()),
                         QString::number(m.getFirstFreeVariableOutID()) }
        .join(QLatin1Char(','));
}
const QString kSegmentLimit = "Cannot create more than 256 <strong>Segment</strong> into a <strong>Network</strong>.";
const QString kNetworkStations = "Cannot create more than 256 <strong>Station</strong> into a <strong>Network</strong>.";
const QString kSegmentStations = "Cannot create more than 32 <strong>Station</strong> into a <strong>Segment</strong>.";
const QString kOnlyOn = "<strong>%1</strong> is only droppable on <strong>%2</strong> item.";
} // namespace

class TestMainDTModel : public QObject
{
    Q_OBJECT

private slots:
    void treeItemBounds()
    {
        TreeItem root(QVector<QVariant>(3));
        QVERIFY(!root.insertChildren(1, 1, 3));
        QVERIFY(!root.insertChildren(-1, 1, 3));
        QVERIFY(root.insertChildren(0, 2, 3));
        QCOMPARE(root.childCount(), 2);
        QVERIFY(!root.child(2));
        QVERIFY(!root.child(0)->setData(3, "x"));
        QVERIFY(!root.child(0)->data(3).isValid());
        QVERIFY(root.child(1)->setData(2, "x"));
        QVERIFY(!root.removeChildren(1, 2));
        QVERIFY(root.removeChildren(0, 1));
        QCOMPARE(root.childCount(), 1);
        QCOMPARE(root.child(0)->data(2).toString(), QString("x"));
    }

    // The undo sequence walks paths that resolve; this one names a row that is not there.
    void pathToAMissingRowIsInvalid()
    {
        DesignFixture f(DesignFixture::Basic);
        TreeItem::Path path = TreeItem::pathFromIndex(f.station);
        path[1].first = 5;
        QVERIFY(!TreeItem::pathToIndex(&f.model, path).isValid());
    }

    void compareIDs_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("equal");
        QTest::newRow("hex and decimal") << "0x0104" << "260" << true;
        QTest::newRow("10 is decimal ten") << "10" << "0x10" << false;
        QTest::newRow("bare hex digits") << "ff" << "255" << true;
        QTest::newRow("bad text equals nothing") << "zz" << "zz" << false;
        QTest::newRow("bad against number") << "zz" << "0" << false;
        QTest::newRow("empty") << "" << "" << false;
        QTest::newRow("above 16 bits") << "70000" << "0x1170" << false;
        QTest::newRow("highest") << "65535" << "0xffff" << true;
        QTest::newRow("blanks") << " 12 " << "0x000c" << true;
    }

    void compareIDs()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, equal);
        QCOMPARE(M::compareIDs(a, b), equal);
        QCOMPARE(M::compareIDs(b, a), equal);
    }

    void flags()
    {
        DesignFixture f(DesignFixture::Basic);
        QVERIFY(f.model.flags(QModelIndex()) & Qt::ItemIsDropEnabled);
        const QModelIndex variable = f.add("Variable", f.station);
        const auto editable = [&](const QModelIndex& node, int column) {
            return bool(f.model.flags(node.sibling(node.row(), column)) & Qt::ItemIsEditable);
        };
        QCOMPARE((QList<bool> { editable(QModelIndex(), 0), editable(f.station, M::ColFipDevice),
                                editable(f.segment, M::ColFipDevice), editable(f.station, M::ColBaStatus),
                                editable(f.station, M::ColStationAddress), editable(f.station, 0), editable(variable, 0) }),
                 (QList<bool> { false, true, false, false, false, true, true }));
        QVERIFY(f.edit(variable, M::ColVariableDirection, "IN"));
        QCOMPARE(f.model.flags(variable) & (Qt::ItemIsEditable | Qt::ItemIsDragEnabled), Qt::ItemFlags());
    }

    void instructionNumbering()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
        f.ctrl = true;
        f.insertCount = 9;
        QVERIFY(f.drop("Instruction", table));
        QVERIFY(f.edit(f.model.index(0, 0, table), M::ColInstructionType, "TESTP"));
        QCOMPARE(f.model.index(0, 0, table).data().toString(), QString("1 - TESTP ()"));
        QCOMPARE(f.model.index(8, 0, table).data().toString(), QString("9 - NEXT_MACRO ()"));
        // Two dropped before the first: the others move down and every position widens.
        f.insertCount = 2;
        QVERIFY(f.drop("Instruction", table, 0));
        QCOMPARE(f.model.index(0, 0, table).data().toString(), QString("01 - NEXT_MACRO ()"));
        QCOMPARE(f.model.index(2, 0, table).data().toString(), QString("03 - TESTP ()"));
        f.insertCount = 89;
        QVERIFY(f.drop("Instruction", table));
        QCOMPARE(f.model.index(99, 0, table).data().toString(), QString("100 - NEXT_MACRO ()"));
        QCOMPARE(f.model.index(2, 0, table).data().toString(), QString("003 - TESTP ()"));
    }

    void defaultNamesAndRename()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex variable = f.add("Variable", f.station);
        for (int i = 0; i < 3; ++i)
            QVERIFY(f.drop("Data Rendering", variable));
        QCOMPARE(f.value(f.model.index(0, 0, variable), 0), QString("Data Rendering"));
        QCOMPARE(f.value(f.model.index(1, 0, variable), 0), QString("Data Rendering 2"));
        QCOMPARE(f.value(f.model.index(2, 0, variable), 0), QString("Data Rendering 3"));
        // Renaming onto a sibling's name makes it unique.
        QVERIFY(f.edit(f.model.index(2, 0, variable), 0, "Data Rendering 2"));
        QCOMPARE(f.value(f.model.index(2, 0, variable), 0), QString("Data Rendering 2 2"));
    }

    void refusedEdits_data()
    {
        // At 1 Mbit/s with TSlot code 0 the slot time is 0.0625 ms.
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message"); // empty: accepted
        const auto refuse = [](const char* name, const char* target, int column, const char* value,
                               const QString& message) { QTest::newRow(name) << target << column << value << message; };
        const auto accept = [&](const char* name, const char* target, int column, const char* value) {
            refuse(name, target, column, value, QString());
        };
        const QString tslot = "Invalid %1 entry. Station TSlot is 0.0625 ms. Therefore '%1' parameter must be comprised "
                              "between %2 and %3 ms. The nearest %4 found as TSlot multiple is %5 ms.";
        const auto period = [&](const char* nearest) {
            return tslot.arg("Period", "0.0625 ms", "1023.9375", "period", nearest);
        };
        const auto timed = [&](const QString& what, const char* nearest) {
            return tslot.arg(what, "0", "2047.9375", what.toLower(), nearest);
        };
        const auto notAllowed = [](const char* what, const char* value) {
            return QString("Invalid '%1' entry. '%2' is not an allowed value.").arg(what, value);
        };
        const QString idUsed = "Invalid ID entry. This Variable's ID is already used on <strong>Network</strong>.";
        refuse("period above 16383 slots", "output variable", M::ColVarOutRefreshmentPeriod, "1024",
               period("1023.9375"));
        accept("period at the top", "output variable", M::ColVarOutRefreshmentPeriod, "1023.9375");
        refuse("period below one slot", "output variable", M::ColVarOutRefreshmentPeriod, "0.05", period("0.0625"));
        refuse("period not a number", "output variable", M::ColVarOutRefreshmentPeriod, "abc", period("0.0625"));
        accept("input period zero when promptness off", "input variable", M::ColVarInPromptnessPeriod, "0");
        refuse("time above 32767 slots", "wait", M::ColInstructionTime, "2048", timed("Time", "2047.9375"));
        refuse("negative time", "wait", M::ColInstructionTime, "-1", timed("Time", "0"));
        accept("time in range", "wait", M::ColInstructionTime, "2047.9375");
        refuse("delay above range", "suspend", M::ColInstructionSuspendDelay, "5000", timed("Delay", "2047.9375"));
        refuse("id used elsewhere", "output variable", M::ColVarOutId, "0x0001", idUsed);
        refuse("id used elsewhere in decimal", "output variable", M::ColVarOutId, "1", idUsed);
        accept("same id written in decimal", "output variable", M::ColVarOutId, "0");
        accept("free id", "output variable", M::ColVarOutId, "0x0104");
        refuse("start bit beyond length", "mnemonic", M::ColMnemoStartBit, "8",
               "Invalid 'Start Bit' entry. The definition of the <strong>Mnemonic</strong> bits is not compatible with "
               "the definition of the <strong>Output Variable</strong> length.");
        accept("last bit", "mnemonic", M::ColMnemoStartBit, "7");
        refuse("type too large", "mnemonic", M::ColMnemoType, "Int16",
               "Cannot select this 'Type'. The 'Start Bit' of this <strong>Mnemonic</strong> doesn't allow to define "
               "such a large data.");
        accept("byte type fits", "mnemonic", M::ColMnemoType, "UInt8");
        refuse("station address taken", "second station", M::ColStationAddress, "0",
               "Invalid Address entry. This Station's address is already used on <strong>Network</strong>.");
        refuse("station address out of range", "second station", M::ColStationAddress, "256",
               "Invalid entry. The value must lie between 0 and 255.");
        accept("station address free", "second station", M::ColStationAddress, "255");
        refuse("segment number taken", "second segment", M::ColSegmentNumber, "0",
               "Invalid Number entry. This Segment's number is already used on <strong>Network</strong>.");
        refuse("priority taken", "second arbiter", M::ColArbiterPriorityLevel, "0",
               "Invalid Priority Level entry. This priority level is already used on <strong>Network</strong>.");
        refuse("priority out of range", "second arbiter", M::ColArbiterPriorityLevel, "16",
               "Invalid entry. The value must lie between 0 and 15.");
        refuse("length too short for a mnemonic", "long variable", M::ColVarOutLength, "3",
               "Invalid 'Length' entry. The <strong>Mnemonic</strong> 'Mnemonic' would not fit in this "
               "<strong>Output Variable</strong>.");
        accept("length still holding the mnemonic", "long variable", M::ColVarOutLength, "4");
        refuse("length zero", "output variable", M::ColVarOutLength, "0",
               "Invalid 'Length' entry. The length is a number of bytes from 1.");
        refuse("unknown speed", "network", M::ColNetworkSpeed, "10 Mbits/s", notAllowed("Network Speed", "10 Mbits/s"));
        accept("known speed", "network", M::ColNetworkSpeed, "2.5 Mbits/s");
        refuse("boolean as yes", "output variable", M::ColVarOutRefreshmentEnabled, "yes",
               notAllowed("Var. Out. Refreshment Enabled", "yes"));
        refuse("unknown instruction", "wait", M::ColInstructionType, "JUMP", notAllowed("Instruction Type", "JUMP"));
        refuse("rich text is escaped", "mnemonic", M::ColMnemoEndianness, "<b>", notAllowed("Endianness", "&lt;b&gt;"));
        refuse("input id beyond 16 bits", "input variable", M::ColVarInId, "0x10000",
               "Invalid ID entry. The identifier must be a 16-bit value below 0xffff.");
        accept("input id", "input variable", M::ColVarInId, "0x0200");
        refuse("ascii size too large", "ascii", M::ColMnemoByteSize, "2",
               "Invalid 'Size' entry. Impossible to define such a large data for this <strong>Mnemonic</strong>.");
    }

    void refusedEdits()
    {
        QFETCH(QString, target);
        QFETCH(int, column);
        QFETCH(QString, value);
        QFETCH(QString, message);

        DesignFixture f(DesignFixture::AllKinds);
        auto& n = f.nodes;
        QVERIFY(f.edit(n["wait"] = f.add("Instruction", n["scan table"]), M::ColInstructionType, "WAIT_TIME"));
        QVERIFY(f.edit(n["suspend"] = f.add("Instruction", n["scan table"]), M::ColInstructionType, "SUSPEND"));
        n["ascii"] = f.add("Mnemonic", n["data rendering"]);
        QVERIFY(f.edit(n["ascii"], M::ColMnemoStartBit, "0"));
        QVERIFY(f.edit(n["ascii"], M::ColMnemoType, "Ascii"));
        QVERIFY(f.edit(n["long variable"] = f.add("Variable", f.station), M::ColVarOutLength, "8"));
        QVERIFY(f.edit(f.add("Mnemonic", f.add("Data Rendering", n["long variable"])), M::ColMnemoType, "Int32"));
        n["second station"] = f.add("Station", f.segment);
        n["second arbiter"] = f.add("Arbiter", n["second station"]);
        n["second segment"] = f.add("Segment", f.network());
        const QModelIndex node = f.node(target);
        if (!message.isEmpty()) {
            f.expectRefused([&] { return f.edit(node, column, value); }, message);
            return;
        }
        const int undoCount = f.model.undoStack()->count();
        QSignalSpy spy(&f.model, &M::statusBarMessage);
        QVERIFY(f.edit(node, column, value));
        QCOMPARE(spy.count(), 0);
        QCOMPARE(f.model.undoStack()->count(), undoCount + 1);
    }

    void idChangeFollowsConsumers()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex producer = f.add("Variable", f.station);
        const QModelIndex other = f.add("Variable", f.station);
        const QModelIndex consumer = f.add("Variable", f.station);
        QVERIFY(f.edit(consumer, M::ColVariableDirection, "IN"));
        QVERIFY(f.edit(consumer, M::ColVarInId, "0x0000"));
        const QModelIndex ref = f.add("Variable", f.add("Aperiodic List", other));
        const QModelIndex instruction = f.add("Instruction", f.add("Scan Table", f.add("Arbiter", f.station)));
        QVERIFY(f.edit(instruction, M::ColInstructionType, "SEND_ID_DAT"));

        const QStringList before = f.snapshot();
        QVERIFY(f.edit(producer, M::ColVarOutId, "0x0104"));
        QCOMPARE((QStringList { f.value(consumer, M::ColVarInId), f.value(consumer, 0), f.value(ref, M::ColVarRefId),
                                f.value(ref, 0), f.value(instruction, M::ColInstructionId), f.value(instruction, 0) }),
                 (QStringList { "0x0104", "ID (0x0104)", "0x0104", "ID (0x0104)", "0x0104", "SEND_ID_DAT (0x0104)" }));
        QVERIFY(f.model.variableOutIDIsUsed("260"));
        f.model.undoStack()->undo();
        QCOMPARE(f.snapshot(), before);
        QVERIFY(!f.model.variableOutIDIsUsed(quint16(0x0104)));
    }

    void speedChangeRecomputesTimings()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex net = f.network();
        const QModelIndex arbiter = f.add("Arbiter", f.station);
        const QString election = f.value(arbiter, M::ColArbiterElectionTime);

        QVERIFY(f.edit(net, M::ColNetworkSpeed, "31.25 kbits/s"));
        // Parameters still in range for the new speed are kept; their times follow.
        QCOMPARE((QStringList { f.value(net, M::ColNetworkSilence), f.value(net, M::ColNetworkTurnAround),
                                f.value(net, M::ColNetworkTurnAroundTime), f.value(f.station, M::ColStationTSlotTime) }),
                 (QStringList { "0x1b", "0x2d", "184.32 ms", "100 us" }));
        QVERIFY(f.value(arbiter, M::ColArbiterElectionTime) != election);
        // A parameter below the new speed's minimum takes that minimum.
        QVERIFY(f.edit(net, M::ColNetworkSpeed, "5 Mbits/s"));
        QCOMPARE(f.value(net, M::ColNetworkTurnAround), QString("0x3f"));
        QCOMPARE(f.value(f.station, M::ColStationTSlotTime), QString("50 us"));
    }

    void tslotMultiples()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex variable = f.add("Variable", f.station);
        QVERIFY(f.edit(variable, M::ColVarOutRefreshmentPeriod, "1"));
        // A slower slot snaps the period to its multiples.
        QVERIFY(f.edit(f.station, M::ColStationTSlot, "3")); // 2.5 ms
        QCOMPARE(f.value(variable, M::ColVarOutRefreshmentPeriod), QString("2.5"));
        QCOMPARE(f.value(variable, M::ColVarOutRefreshmentPeriodPar), QString("0x0001"));
        const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
        const QModelIndex instruction = f.add("Instruction", table);
        QVERIFY(f.edit(instruction, M::ColInstructionType, "SUSPEND"));
        QVERIFY(f.edit(instruction, M::ColInstructionSuspendDelay, "6"));
        QCOMPARE(f.value(instruction, M::ColInstructionSuspendDelay), QString("5"));
        QCOMPARE(f.value(instruction, M::ColInstructionSuspendDelayPar), QString("0x0002"));
        QVERIFY(f.edit(instruction, M::ColInstructionSuspendEventNumber, "3"));
        QCOMPARE(f.value(instruction, 0), QString("SUSPEND (n° 3, 5 ms)"));
        QCOMPARE(f.value(instruction, M::ColInstructionSuspendEvent), QString("0x03"));
        QVERIFY(f.edit(instruction, M::ColInstructionType, "SEND_MSG"));
        QCOMPARE(f.value(instruction, 0), QString("SEND_MSG (0 ms)"));
    }

    // An Output Message gets a mirror under each receiving variable; the mirror follows it, goes
    // with it, and cannot be removed on its own.
    void messageMirrors()
    {
        DesignFixture f(DesignFixture::Basic);
        const QPersistentModelIndex source = f.add("Variable", f.station);
        const QPersistentModelIndex destination = f.add("Variable", f.station);
        QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
        QVERIFY(f.edit(source, M::ColVarOutMessageTransferType, "Periodic"));
        QVERIFY(f.edit(source, M::ColVarOutMessageTransferChannel, "2"));
        const QModelIndex message = f.add("Message", source);
        QCOMPARE(f.value(message, M::ColMsgDestinationId), QString("0x0001"));
        QCOMPARE(f.value(message, M::ColMsgChannelNumber), QString("2"));
        QCOMPARE(f.model.rowCount(destination), 0);
        QVERIFY(f.edit(destination, M::ColVarMessageReceptionEnabled, "true"));
        QCOMPARE(f.model.rowCount(destination), 1);
        const QModelIndex mirror = f.model.index(0, 0, destination);
        QCOMPARE(f.model.classType(mirror), quint8(M::MESSAGE_IN));
        QCOMPARE(f.value(mirror, M::ColMsgDirection), QString("IN"));
        for (int c : { 0, 50, 51, 52, 53 }) // name, source and destination
            QCOMPARE(f.value(mirror, c), f.value(message, c));
        QVERIFY(f.edit(message, 0, "Orders"));
        QCOMPARE(f.value(mirror, 0), QString("Orders"));

        MainDTContextMenu menu(&f.model);
        f.expectRefused([&] { return menu.removeFipItem(mirror); },
                        "<strong>Input Message</strong> can not be manually removed.", 2);
        const QStringList before = f.snapshot();
        // Moving the channel, stopping the emission or removing the message takes both; each undoes.
        const auto bothGone = [&](bool done) {
            QVERIFY(done);
            QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 0);
            QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_IN).size(), 0);
            f.model.undoStack()->undo();
            QCOMPARE(f.snapshot(), before);
        };
        bothGone(f.edit(source, M::ColVarOutMessageTransferChannel, "3"));
        bothGone(f.edit(source, M::ColVarOutMessageTransferEnabled, "false"));
        bothGone(f.model.removeItem(f.model.getClassTypeIndexes(M::MESSAGE_OUT).value(0)));
    }

    // Turning an Output Variable into an input drops what only an output has (renderings, lists,
    // references to its identifier, messages on its channel) in one undo step.
    void directionSwitch()
    {
        DesignFixture f(DesignFixture::Basic);
        const QPersistentModelIndex variable = f.add("Variable", f.station);
        const QPersistentModelIndex other = f.add("Variable", f.station);
        QVERIFY(f.add("Mnemonic", f.add("Data Rendering", variable)).isValid());
        QVERIFY(f.add("Aperiodic List", variable).isValid());
        QVERIFY(f.add("Variable", f.add("Aperiodic List", other)).isValid()); // refers to 0x0000
        QVERIFY(f.edit(variable, M::ColVarOutMessageTransferEnabled, "true"));
        QVERIFY(f.add("Message", variable).isValid());
        const QStringList before = f.snapshot();
        QVERIFY(f.edit(variable, M::ColVariableDirection, "IN"));
        QCOMPARE(f.model.classType(variable), quint8(M::VARIABLE_IN));
        QCOMPARE(f.value(variable, M::ColClass), QString("Input Variable"));
        QCOMPARE(f.model.rowCount(variable), 0);
        QVERIFY(f.value(variable, M::ColVarOutId).isEmpty());
        QVERIFY(!f.model.variableOutIDIsUsed(quint16(0)));
        QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_REF).size(), 0); // nobody produces 0x0000 any more
        QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_OUT).size(), 0);  // its channel is gone
        QVERIFY(f.model.getVariableIndexes(0, M::VARIABLE_IN).contains(variable));
        f.model.undoStack()->undo();
        QCOMPARE(f.snapshot(), before);
        f.model.undoStack()->redo();
        QCOMPARE(f.model.classType(variable), quint8(M::VARIABLE_IN));
        QVERIFY(f.add("Variable", f.station).isValid()); // takes 0x0000 again
        QVERIFY(f.edit(variable, M::ColVariableDirection, "OUT"));
        QCOMPARE(f.model.classType(variable), quint8(M::VARIABLE_OUT));
        QCOMPARE(f.value(variable, M::ColVarOutPdu), QString("MPS"));
        QCOMPARE(f.value(variable, 0), QString("ID (0x0002)"));
    }

    void liveWritesAfterRowsMovedAreDropped_data()
    {
        QTest::addColumn<QString>("change");
        for (const char* change : { "none", "row inserted", "row removed", "cleared", "layout changed" })
            QTest::newRow(change) << QString(change);
    }

    // A worker's write queued before the rows moved must not reach them: the row
    // it names may be freed or be another one now.
    void liveWritesAfterRowsMovedAreDropped()
    {
        QFETCH(QString, change);
        DesignFixture f(DesignFixture::Basic);
        QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QModelIndex station = f.station; // a plain index, as a worker holds it
        const quint64 generation = f.model.structureGeneration();
        if (change == "row inserted")
            QVERIFY(f.drop("Station", f.segment, 0));
        else if (change == "row removed")
            QVERIFY(f.model.removeItem(f.segment));
        else if (change == "cleared")
            f.model.clear();
        else if (change == "layout changed")
            emit f.model.layoutChanged();
        const bool written = f.model.setLiveData(generation, station, M::ColDeviceTemperature, "41.0 °C");
        QCOMPARE(written, change == "none");
        if (f.station.isValid())
            QCOMPARE(f.value(f.station, M::ColDeviceTemperature), written ? QString("41.0 °C") : QString());
    }

    // Station addresses order the stations, set the network's maximum and name the station files.
    void stationAddresses()
    {
        DesignFixture f;
        QString path = "/work/projects";
        f.model.setSavePathQuery([&] { return path; });
        f.buildBasic();
        QCOMPARE(f.value(f.station, M::ColFilePath), QString("/work/projects/Station0.xml"));
        const QModelIndex second = f.add("Station", f.segment);
        const int count = f.model.undoStack()->count();
        QVERIFY(f.edit(f.station, M::ColStationAddress, "12"));
        QVERIFY(f.edit(second, M::ColStationAddress, "3"));
        QModelIndexList stations = f.model.getStationIndexes();
        std::sort(stations.begin(), stations.end(), stationLessThan);
        QCOMPARE(stations.first(), QModelIndex(second));
        QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxStationAddress), QString("12"));
        QCOMPARE(f.model.getStationIdx(3), QModelIndex(second));
        QCOMPARE(f.value(f.station, M::ColFilePath), QString("/work/projects/Station12.xml"));
        path = "/tmp/other";
        f.model.updateAllStationFilePaths();
        QCOMPARE(f.value(f.station, M::ColFilePath), QString("/tmp/other/Station12.xml"));
        QCOMPARE(f.model.undoStack()->count(), count + 2);
    }

    void queries()
    {
        DesignFixture f;
        QCOMPARE(f.model.getNetworkSpeed(), QString());
        f.buildBasic();
        QCOMPARE(f.model.getNetworkSpeed(), QString("1 Mbits/s"));
        const QModelIndex other = f.add("Station", f.add("Segment", f.network()));
        const QModelIndex periodic = f.add("Variable", f.station);   // 0x0000
        const QModelIndex aperiodic = f.add("Variable", f.station);  // 0x0001
        QVERIFY(f.add("Variable", other).isValid());                 // 0x0002
        const QModelIndex input = f.add("Variable", other);
        QVERIFY(f.edit(input, M::ColVariableDirection, "IN"));
        QVERIFY(f.edit(input, M::ColVarInId, "0x0000"));
        QVERIFY(f.edit(periodic, M::ColVarOutMessageTransferEnabled, "true"));
        QVERIFY(f.edit(periodic, M::ColVarOutMessageTransferType, "Periodic"));
        QVERIFY(f.edit(periodic, M::ColVarOutMessageTransferChannel, "4"));
        QVERIFY(f.edit(aperiodic, M::ColVarOutMessageTransferEnabled, "true"));
        const QModelIndex message = f.add("Message", periodic);

        QCOMPARE(f.model.getVariableIndexes(QModelIndex(other)).size(), 2);
        QCOMPARE(f.model.getPeriodicChannelsUsedInStation(0), QList<quint8> { 4 });
        QVERIFY(f.model.aperiodicChannelIsUsedInStation(0));
        QVERIFY(!f.model.aperiodicChannelIsUsedInStation(1));
        QCOMPARE(f.model.getMessageIndexes(0, 0x0000, M::MESSAGE_OUT), QModelIndexList { message });
        QCOMPARE(f.model.getMessageIndexes(0, 0x0001, M::MESSAGE_OUT, true), QModelIndexList { message });
        QCOMPARE(f.model.getVariableOutIDsUsed(), (QList<quint16> { 0, 1, 2 }));
        QCOMPARE(f.model.getVariableOutIDsUsedInSegment(1), QList<quint16> { 2 });
        QCOMPARE(f.model.getVariableIDsUsedInSegment(1), (QList<quint16> { 0, 2 }));
        QCOMPARE(f.model.getSegmentNumbersUsed(), (QList<quint8> { 0, 1 }));
        bool ok = false;
        QCOMPARE(f.model.getOutId(input, &ok), quint16(0));
        QVERIFY(ok);
        QCOMPARE(f.model.getOutId(message, &ok), quint16(0));
        f.model.getOutId(f.station, &ok);
        QVERIFY(!ok);
        QCOMPARE(f.model.getAncestor(message, M::STATION), QModelIndex(f.station));
        QVERIFY(M::indexesRangeForClass(20).isEmpty()); // the item editor shows nothing of an unknown kind
    }

    // A board bound through the device column's combo: no undo step, its parts in the status
    // columns, and the station's own board offered back when the combo opens again.
    void deviceBinding()
    {
        DesignFixture f(DesignFixture::Basic);
        MainDTDelegate delegate;
        delegate.setUnattachedDevices({ { "0 - USB - 1 Mbits/s - 0x00000001", Qt::red },
                                        { "1 - PCIe - 1 Mbits/s - 0x00001234", Qt::green } });
        QWidget parent;
        const QModelIndex device = f.station.sibling(f.station.row(), M::ColFipDevice);
        auto* combo = qobject_cast<QComboBox*>(delegate.createEditor(&parent, QStyleOptionViewItem(), device));
        QVERIFY(combo);
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), M::BindADevice);
        delegate.setEditorData(combo, device);
        QCOMPARE(combo->currentIndex(), 0);
        const int count = f.model.undoStack()->count();
        QSignalSpy binding(&f.model, &M::devicesBindingChanged);
        combo->setCurrentIndex(2);
        delegate.setModelData(combo, &f.model, device);
        QCOMPARE(f.model.undoStack()->count(), count);
        QCOMPARE(binding.count(), 1);
        QCOMPARE((QStringList { f.value(f.station, M::ColFipDevice), f.value(f.station, M::ColDevicePresence),
                                f.value(f.station, M::ColDeviceType), f.value(f.station, M::ColDeviceIndex) }),
                 (QStringList { "1 - PCIe - 1 Mbits/s - 0x00001234", "true", "PCIe", "1" }));
        QWidget* again = delegate.createEditor(&parent, QStyleOptionViewItem(), device);
        delegate.setEditorData(again, device);
        QCOMPARE(qobject_cast<QComboBox*>(again)->currentText(), QString("1 - PCIe - 1 Mbits/s - 0x00001234"));
        QVERIFY(f.edit(f.station, M::ColFipDevice, M::BindADevice));
        QCOMPARE(f.value(f.station, M::ColDevicePresence), QString("false"));
        QVERIFY(f.model.data(device, Qt::DecorationRole).isValid());
        QVERIFY(f.edit(f.station, M::ColDeviceColor, " Magenta"));
        const QColor swatch =
            f.model.data(f.station.sibling(f.station.row(), M::ColDeviceColor), Qt::DecorationRole).value<QColor>();
        QCOMPARE(swatch, QColor(255, 0, 255, 145));
        QVERIFY(!f.model.data(f.station, Qt::UserRole).isValid());
        QVERIFY(!qobject_cast<QComboBox*>(
            delegate.createEditor(&parent, QStyleOptionViewItem(), f.station.sibling(f.station.row(), 0))));
    }

    // Every kind of user action, in a new project and beside each shipped example's rows, each
    // followed by a record of the rows and free-value sets: undoing the actions one by one must
    // give back each record exactly, and redoing them the same.
    void undoRedoSequence_data()
    {
        QTest::addColumn<QString>("example"); // empty: a new project
        QTest::newRow("new project") << QString();
        for (const QString& name : ExampleProjects::fileNames())
            QTest::newRow(qPrintable(name)) << name;
    }
    void undoRedoSequence()
    {
        QFETCH(QString, example);
        // No QAbstractItemModelTester here: an instruction inserted before others renumbers their
        // display texts ("1 - ..." becomes "2 - ..."), which the tester takes for a corrupted row.
        DesignFixture f;
        if (!example.isEmpty()) {
            QVERIFY(BrxprjFile(&f.model).load(kExamplesDir + example));
            f.model.updateInternalData();
        }
        const auto state = [&] { return f.snapshot() << firstFree(f.model); };
        QList<QStringList> states { state() };
        const int base = f.model.undoStack()->index();
        const auto step = [&](bool done) {
            QVERIFY(done);
            states << state();
            QCOMPARE(f.model.undoStack()->index(), base + states.size() - 1); // one command per action
        };

        if (example.isEmpty())
            step(f.drop("Network", QModelIndex()));
        const QPersistentModelIndex net = f.network();
        step(f.drop("Segment", net));
        const QPersistentModelIndex seg = f.model.index(f.model.rowCount(net) - 1, 0, net);
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
        const QPersistentModelIndex v0 = f.model.getClassTypeIndexes(M::VARIABLE_OUT, st0).value(0);
        const QPersistentModelIndex v1 = f.model.getClassTypeIndexes(M::VARIABLE_OUT, st1).value(0);
        step(f.edit(v0, M::ColVarOutMessageTransferEnabled, "true"));
        step(f.edit(v1, M::ColVarMessageReceptionEnabled, "true"));
        step(f.drop("Message", v0));
        step(f.drop("Data Rendering", v0));
        step(f.drop("Mnemonic", f.model.index(1, 0, v0)));
        step(f.edit(v0, M::ColVarOutLength, "4"));
        step(f.edit(f.model.index(0, 0, f.model.index(1, 0, v0)), M::ColMnemoType, "UInt16"));
        step(f.drop("Aperiodic List", v1));
        step(f.drop("Variable", f.model.getClassTypeIndexes(M::APERIODIC_LIST, v1).value(0)));
        const QModelIndex ref = f.model.getClassTypeIndexes(M::VARIABLE_REF, v1).value(0);
        if (f.value(ref, M::ColVarRefId) != f.value(v0, M::ColVarOutId)) // an example lists its own first
            step(f.edit(ref, M::ColVarRefId, f.value(v0, M::ColVarOutId)));
        step(f.edit(v0, M::ColVarOutId, "0x0301"));
        const QString speed = f.value(net, M::ColNetworkSpeed) == "2.5 Mbits/s" ? "1 Mbits/s" : "2.5 Mbits/s";
        step(f.edit(net, M::ColNetworkSpeed, speed));
        QCOMPARE(f.model.undoStack()->undoText(), "Edit - " + f.value(net, 0));
        step(f.edit(st0, M::ColStationAddress, "9"));
        step(f.edit(arb, M::ColArbiterPriorityLevel, "4"));
        step(f.edit(seg, M::ColSegmentNumber, "3"));
        step(f.edit(v0, M::ColVarOutRefreshmentPeriod, "10"));
        const QModelIndex message = f.model.getClassTypeIndexes(M::MESSAGE_OUT, v0).value(0);
        QCOMPARE(f.value(message, M::ColMsgSourceSegment), QString("3"));
        // A station goes with its arbiter, scan table and variables, and takes what refers to them.
        step(f.model.removeItem(st0));
        QVERIFY(f.model.getClassTypeIndexes(M::VARIABLE_REF, v1).isEmpty());
        QVERIFY(f.model.getClassTypeIndexes(M::MESSAGE_IN, v1).isEmpty());
        QVERIFY(!f.model.getPriorityLevelsUsed().contains(4));
        QCOMPARE(f.value(net, M::ColNetworkBaMaxStationAddress), f.value(st1, M::ColStationAddress));
        f.model.undoStack()->undo();
        QCOMPARE(f.value(f.model.getStationIdx(9), M::ColFipDevice), M::BindADevice);
        f.model.undoStack()->redo();
        step(f.model.removeItem(v1));
        QCOMPARE(f.model.undoStack()->undoText(), QString("Remove - ID (0x0001)"));

        for (int i = states.size() - 2; i >= 0; --i) {
            f.model.undoStack()->undo();
            QCOMPARE(f.model.undoStack()->index(), base + i);
            QCOMPARE(state(), states.at(i));
        }
        for (int i = 1; i < states.size(); ++i) {
            f.model.undoStack()->redo();
            QCOMPARE(state(), states.at(i));
        }
    }

    // The values an undo restores are the undo sequence's; here the views are told of the one cell.
    void undoneEditRepaintsItsCell()
    {
        DesignFixture f(DesignFixture::Basic);
        QVERIFY(f.edit(f.station, 0, "Slave"));
        QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);
        f.model.undoStack()->undo();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toModelIndex(), f.station.sibling(f.station.row(), 0));
    }

    void insertRowsThroughStack()
    {
        DesignFixture f;
        QVERIFY(f.model.insertRows(0, 1, QModelIndex()));
        QCOMPARE(f.model.rowCount(), 1);
        QCOMPARE(f.model.undoStack()->count(), 1);
        QVERIFY(f.model.setDataWithoutControl(f.model.index(0, M::ColClassType), "0"));
        QCOMPARE(f.model.undoStack()->count(), 1);
        f.model.updateInternalData();
        QVERIFY(f.model.getNetworkIdx().isValid());
        QVERIFY(!f.model.setDataWithoutControl(QModelIndex(), "x"));
        f.model.undoStack()->undo();
        QCOMPARE(f.model.rowCount(), 0);
        QVERIFY(!f.model.removeRows(0, 1, QModelIndex()));
    }

    void contextMenuEntries_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("texts");
        const QStringList always = { "Expand All", "Collapse All", "Remove" };
        QTest::newRow("network") << int(M::NETWORK) << QStringList { "Add Segment", "Add Segment(s)" } + always;
        QTest::newRow("output variable")
            << int(M::VARIABLE_OUT)
            << QStringList { "Add Aperiodic List", "Add Data Rendering", "Add Message", "Add Aperiodic List(s)",
                             "Add Data Rendering(s)", "Add Message(s)" } + always;
        QTest::newRow("mnemonic") << int(M::MNEMONIC) << always;
        QTest::newRow("input message") << int(M::MESSAGE_IN) << always;
    }

    void contextMenuEntries()
    {
        QFETCH(int, kind);
        QStringList actual;
        for (const auto& entry : MainDTContextMenu::entries(quint8(kind)))
            actual << entry.text;
        QTEST(actual, "texts");
    }

    void contextMenuRuns()
    {
        DesignFixture f(DesignFixture::Basic);
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

        const auto stationEntries = MainDTContextMenu::entries(M::STATION);
        QVERIFY(context.run(stationEntries.last(), f.station, nullptr));
        QCOMPARE(f.model.getStationIndexes().size(), 0);
    }

    void expandCollapse()
    {
        DesignFixture f(DesignFixture::AllKinds);
        QTreeView view;
        view.setModel(&f.model);
        const auto expanded = [&] {
            return QList<bool> { view.isExpanded(f.network()), view.isExpanded(f.segment), view.isExpanded(f.station),
                                 view.isExpanded(f.node("output variable")) };
        };
        MainDTContextMenu::expandChildren(f.network(), &view);
        QCOMPARE(expanded(), (QList<bool> { true, true, true, true }));
        MainDTContextMenu::collapseChildren(f.segment, &view);
        QCOMPARE(expanded(), (QList<bool> { true, false, false, false }));
    }

    void resourceIconDialog()
    {
        ResourceIconDialog dialog;
        QListWidget* list = dialog.findChild<QListWidget*>("iconsListWidget");
        QVERIFY(list);
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

    void targets_data()
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
        const QString variableOn = "<strong>Variable</strong> is only droppable on <strong>Station</strong> and "
                                   "<strong>Aperiodic List</strong> items.";
        const QString messageOn = "<strong>Message</strong> is only droppable on <strong>Output Variable</strong> and "
                                  "<strong>Input Variable</strong> items.";
        refuse("network on segment", "Network", "segment",
               "<strong>Network</strong> is only droppable on <strong>Root</strong>.");
        refuse("second network", "Network", "root", "Cannot create more than one <strong>Network</strong> at the time.");
        refuse("segment on root", "Segment", "root",
               "Unable to drop <strong>Segment</strong> on the Root. Only <strong>Network</strong> item is allowed.");
        refuse("segment on station", "Segment", "station", kOnlyOn.arg("Segment", "Network"));
        accept("segment on network", "Segment", "network", M::SEGMENT);
        refuse("station on network", "Station", "network", kOnlyOn.arg("Station", "Segment"));
        accept("station on segment", "Station", "segment", M::STATION);
        refuse("arbiter on segment", "Arbiter", "segment", kOnlyOn.arg("Arbiter", "Station"));
        refuse("second arbiter", "Arbiter", "station",
               "Cannot create more than one <strong>Arbiter</strong> into a <strong>Station</strong>.");
        refuse("scan table on station", "Scan Table", "station", kOnlyOn.arg("Scan Table", "Arbiter"));
        accept("scan table on arbiter", "Scan Table", "arbiter", M::SCAN_TABLE);
        refuse("instruction on arbiter", "Instruction", "arbiter", kOnlyOn.arg("Instruction", "Scan Table"));
        accept("instruction on scan table", "Instruction", "scan table", M::INSTRUCTION);
        refuse("variable on segment", "Variable", "segment", variableOn);
        accept("variable on station", "Variable", "station", M::VARIABLE_OUT);
        accept("variable on aperiodic list", "Variable", "aperiodic list", M::VARIABLE_REF);
        refuse("aperiodic list on input", "Aperiodic List", "input variable",
               kOnlyOn.arg("Aperiodic List", "Output Variable"));
        accept("aperiodic list on output", "Aperiodic List", "output variable", M::APERIODIC_LIST);
        refuse("message on station", "Message", "station", messageOn);
        accept("message on input variable", "Message", "input variable", M::MESSAGE_OUT);
        refuse("data rendering on input", "Data Rendering", "input variable",
               "<strong>Data Rendering</strong> is only droppable on <strong>Output Variable</strong> and "
               "<strong>Output Message</strong> items.");
        accept("data rendering on message", "Data Rendering", "output message", M::DATA_RENDERING);
        accept("data rendering on output", "Data Rendering", "output variable", M::DATA_RENDERING);
        refuse("mnemonic on output", "Mnemonic", "output variable", kOnlyOn.arg("Mnemonic", "Data Rendering"));
        accept("mnemonic on data rendering", "Mnemonic", "data rendering", M::MNEMONIC);
    }
    void targets()
    {
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(QString, message);
        QFETCH(int, created);
        DesignFixture f(DesignFixture::AllKinds);
        const QModelIndex parent = f.node(target);
        auto data = f.mime(kind);
        QVERIFY(f.model.canDropMimeData(data.get(), Qt::CopyAction, -1, 0, parent));
        const auto drop = [&] { return f.model.dropMimeData(data.get(), Qt::CopyAction, -1, 0, parent); };
        if (!message.isEmpty()) {
            f.expectRefused(drop, message);
            return;
        }
        const int rows = f.model.rowCount(parent);
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QSignalSpy focused(&f.model, &M::indexFocused);
        QSignalSpy progress(&f.model, &M::generateProgress);
        QVERIFY(drop());
        QCOMPARE(status.count(), 0);
        QCOMPARE(f.model.rowCount(parent), rows + 1);
        const QModelIndex node = f.model.index(rows, 0, parent);
        QCOMPARE(int(f.model.classType(node)), created);
        QVERIFY(!focused.isEmpty());
        QCOMPARE(focused.last().at(0).toModelIndex(), node);
        QCOMPARE(f.model.undoStack()->count(), 1); // the whole creation is one step
        QCOMPARE(f.model.undoStack()->undoText(), "Add - " + f.model.getClassTypeStr(quint8(created)));
        QCOMPARE(progress.count(), 0); // a single item shows no progress
    }

    void foreignMimeData()
    {
        DesignFixture f;
        QMimeData text;
        text.setText("Network");
        QStandardItemModel other;
        other.appendRow(new QStandardItem("Gateway"));
        std::unique_ptr<QMimeData> unknown(other.mimeData({ other.index(0, 0) }));
        QMimeData broken;
        broken.setData(M::ItemModelMimeType, QByteArray("\x01\x02", 2));
        for (QMimeData* data : { &text, unknown.get(), &broken }) {
            if (data != &broken)
                QVERIFY(!f.model.canDropMimeData(data, Qt::CopyAction, -1, 0, QModelIndex()));
            QVERIFY(!f.model.dropMimeData(data, Qt::CopyAction, -1, 0, QModelIndex()));
        }
        QCOMPARE(f.model.rowCount(), 0);
        QCOMPARE(f.model.undoStack()->count(), 0);
    }

    // A Ctrl+drop asking for more than fits creates up to the limit, each item its own undo
    // step, and says why it stopped; one more drop is refused and changes nothing.
    void limits_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("count");    // asked for
        QTest::addColumn<int>("rows");     // under the target afterwards
        QTest::addColumn<int>("column");   // of the last one created
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("stations in a segment") << "Station" << "segment" << 40 << 32 << 0 << "Station 31"
                                               << kSegmentStations;
        QTest::newRow("segments in a network") << "Segment" << "network" << 300 << 256 << int(M::ColSegmentNumber)
                                               << "255" << kSegmentLimit;
        QTest::newRow("scan tables in an arbiter")
            << "Scan Table" << "arbiter" << 3 << 2 << int(M::ColScanTableNumber) << "1"
            << "Cannot create more than two <strong>Scan Table</strong> into a <strong>Arbiter</strong>.";
        QTest::newRow("references in a list")
            << "Variable" << "aperiodic list" << 70 << 64 << int(M::ColClassType) << "8"
            << "Cannot create more than 64 <strong>Reference Variable</strong> into an <strong>Aperiodic "
               "List</strong>.";
        // Every identifier up to 0xfffe; 0xffff is never offered (an arbiter and three variables were there).
        QTest::newRow("variable identifiers")
            << "Variable" << "station" << 65535 << 65537 << int(M::ColVarOutId) << "0xfffe"
            << "Cannot create more than 65536 <strong>Variable</strong> into a <strong>Network</strong>.";
    }
    void limits()
    {
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(int, count);
        QFETCH(int, rows);
        QFETCH(int, column);
        QFETCH(QString, message);
        DesignFixture f(DesignFixture::AllKinds);
        const QModelIndex parent = f.node(target);
        const int steps = rows - f.model.rowCount(parent);
        f.ctrl = true;
        f.insertCount = count;
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QSignalSpy progress(&f.model, &M::generateProgress);
        QVERIFY(f.drop(kind, parent));
        QCOMPARE(progress.first().at(0).toInt(), 0);
        QCOMPARE(progress.last().at(0).toInt(), 100);
        QCOMPARE(f.model.rowCount(parent), rows);
        QTEST(f.value(f.model.index(rows - 1, 0, parent), column), "value");
        QCOMPARE(QList<QVariantList>(status), (QList<QVariantList> { { quint8(1), message } }));
        QCOMPARE(f.model.undoStack()->count(), steps);
        f.model.undoStack()->undo();
        QCOMPARE(f.model.rowCount(parent), rows - 1);
        f.model.undoStack()->redo();
        f.ctrl = false;
        f.expectRefused([&] { return f.drop(kind, parent); }, message);
    }

    // 256 stations over eight segments: no free address is left, the network's maximum
    // follows, and a freed address is offered again. Then sixteen arbiters take every priority.
    void fullNetwork()
    {
        DesignFixture f(DesignFixture::Basic);
        f.ctrl = true;
        f.insertCount = 7;
        QVERIFY(f.drop("Segment", f.network()));
        f.insertCount = 32;
        for (int s = 0; s < 8; ++s)
            f.drop("Station", f.model.index(s, 0, f.network()));
        QCOMPARE(f.model.getStationIndexes().size(), 256);
        const QModelIndex second = f.model.index(0, 0, f.model.index(1, 0, f.network()));
        QCOMPARE(f.value(second, M::ColStationAddress), QString("32")); // numbered from the first free address
        bool ok = true;
        QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(0));
        QVERIFY(!ok);
        QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxStationAddress), QString("255"));
        QCOMPARE(f.model.getFirstFreeSegmentNumber(&ok), quint8(8));
        f.ctrl = false;
        QVERIFY(f.drop("Segment", f.network()));
        f.expectRefused([&] { return f.drop("Station", f.model.index(8, 0, f.network())); }, kNetworkStations);
        QVERIFY(f.model.removeItem(f.model.getStationIdx(77)));
        QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(77));
        QVERIFY(ok);

        for (int s = 0; s < 16; ++s)
            QVERIFY(f.drop("Arbiter", f.model.index(s, 0, f.segment)));
        QCOMPARE(f.model.getPriorityLevelsUsed().size(), 16);
        QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxPriority), QString("15"));
        f.expectRefused([&] { return f.drop("Arbiter", f.model.index(16, 0, f.segment)); },
                        "Cannot create <strong>Arbiter</strong>. All priority levels are used on "
                        "<strong>Network</strong>.");
    }

    void freedNumbersAndIdentifiersAreOfferedAgain()
    {
        DesignFixture f(DesignFixture::AllKinds);
        const QModelIndex arbiter = f.node("arbiter");
        const QModelIndex second = f.add("Scan Table", arbiter);
        QCOMPARE(f.value(f.node("scan table"), 0), QString("Scan Table 0"));
        QCOMPARE(f.value(second, M::ColScanTableNumber), QString("1"));
        QVERIFY(f.model.removeItem(f.node("scan table")));
        QCOMPARE(f.value(f.add("Scan Table", arbiter), M::ColScanTableNumber), QString("0"));
        // A reference takes the next identifier not yet listed.
        const QModelIndex list = f.node("aperiodic list");
        QCOMPARE(f.value(f.add("Variable", list), 0), QString("ID (0x0000)"));
        QCOMPARE(f.value(f.add("Variable", list), M::ColVarRefId), QString("0x0001"));
        // A project whose only producers were turned into raw inputs (as a file can hold).
        for (const char* name : { "output variable", "second variable" })
            QVERIFY(f.model.setDataWithoutControl(f.model.cell(f.node(name), M::ColClassType), "7"));
        QVERIFY(f.model.removeRows(0, 2, list));
        f.expectRefused([&] { return f.drop("Variable", list); },
                        "Cannot create <strong>Reference Variable</strong> without at least one <strong>Output "
                        "Variable</strong> into <strong>Network</strong>.");
    }

    void outputMessagePreconditions_data()
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
    void outputMessagePreconditions()
    {
        QFETCH(int, outputs);
        QFETCH(QString, channel);
        QFETCH(int, existing);
        QFETCH(QString, message);
        DesignFixture f(DesignFixture::Basic);
        const QPersistentModelIndex source = f.add("Variable", f.station);
        for (int i = 1; i < outputs; ++i)
            f.add("Variable", f.station);
        if (!channel.isEmpty()) {
            QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
            if (channel != f.value(source, M::ColVarOutMessageTransferType))
                QVERIFY(f.edit(source, M::ColVarOutMessageTransferType, channel));
        }
        for (int i = 0; i < existing; ++i)
            QVERIFY(f.drop("Message", source));
        if (!message.isEmpty()) {
            f.expectRefused([&] { return f.drop("Message", source); }, message);
            return;
        }
        QVERIFY(f.drop("Message", source));
        const QModelIndex created = f.model.index(f.model.rowCount(source) - 1, 0, source);
        QCOMPARE(f.model.classType(created), quint8(M::MESSAGE_OUT));
        QCOMPARE((QStringList { f.value(created, M::ColMsgChannelType), f.value(created, M::ColMsgSourceId),
                                f.value(created, M::ColMsgSourceSegment), f.value(created, M::ColMsgDestinationId) }),
                 (QStringList { channel, "0x0000", "0", M::idToStr(quint16(existing + 1)) }));
    }

    // The real "Advanced Insertion Menu" dialog; a cancelled count creates nothing.
    void countDialog()
    {
        DesignFixture f(DesignFixture::Basic);
        f.model.setInsertionCountQuery(nullptr);
        f.ctrl = true;
        QStringList shown; // title, label, minimum, maximum, initial value
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown << dialog->windowTitle() << dialog->labelText() << QString::number(dialog->intMinimum())
                  << QString::number(dialog->intMaximum()) << QString::number(dialog->intValue());
            dialog->setIntValue(3);
            dialog->accept();
        });
        QVERIFY(f.drop("Station", f.segment));
        QCOMPARE(shown, (QStringList { "Advanced Insertion Menu", "Number of items to insert:", "1", "65535", "1" }));
        QCOMPARE(f.model.rowCount(f.segment), 4);
        const QStringList before = f.snapshot();
        const int count = f.model.undoStack()->count();
        QTimer::singleShot(0, [] {
            if (auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget()))
                dialog->reject();
        });
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

    void multiDropStopsWhenTargetGoes_data()
    {
        QTest::addColumn<bool>("undo");
        QTest::newRow("target removed") << false;
        QTest::newRow("target undone") << true;
    }
    // Events run between the items of a long insertion: a target gone meanwhile ends it,
    // and nothing lands under the root.
    void multiDropStopsWhenTargetGoes()
    {
        QFETCH(bool, undo);
        DesignFixture f(DesignFixture::Basic);
        QPersistentModelIndex target = undo ? QPersistentModelIndex(f.add("Segment", f.network())) : f.segment;
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
        QCOMPARE(messages.last().at(1).toString(),
                 QString("The insertion of <strong>Station</strong> stopped: its target is gone."));
    }

    void newMnemonicBits()
    {
        DesignFixture f(DesignFixture::Basic);
        const QModelIndex variable = f.add("Variable", f.station);
        const QModelIndex mnemonic = f.add("Mnemonic", f.add("Data Rendering", variable));
        QCOMPARE((QStringList { f.value(mnemonic, M::ColMnemoType), f.value(mnemonic, M::ColMnemoEndianness),
                                f.value(mnemonic, M::ColMnemoStartBit), f.value(mnemonic, M::ColMnemoStopBit) }),
                 (QStringList { "Bool", "Little-Endian", "0", "0" }));
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
};

QTEST_MAIN(TestMainDTModel)
#include "tst_maindtmodel.moc"
