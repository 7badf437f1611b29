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
const QString kOnlyOn = "<strong>%1</strong> is only droppable on <strong>%2</strong> item.";
} // namespace

class TestDrop : public QObject
{
    Q_OBJECT

private slots:
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
        refuse("mnemonic on root", "Mnemonic", "root",
               "Unable to drop <strong>Mnemonic</strong> on the Root. Only <strong>Network</strong> item is allowed.");
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
        refuse("instruction on instruction", "Instruction", "instruction", kOnlyOn.arg("Instruction", "Scan Table"));
        accept("instruction on scan table", "Instruction", "scan table", M::INSTRUCTION);
        refuse("variable on segment", "Variable", "segment", variableOn);
        refuse("variable on output variable", "Variable", "output variable", variableOn);
        accept("variable on station", "Variable", "station", M::VARIABLE_OUT);
        accept("variable on aperiodic list", "Variable", "aperiodic list", M::VARIABLE_REF);
        refuse("aperiodic list on input", "Aperiodic List", "input variable",
               kOnlyOn.arg("Aperiodic List", "Output Variable"));
        accept("aperiodic list on output", "Aperiodic List", "output variable", M::APERIODIC_LIST);
        refuse("message on station", "Message", "station", messageOn);
        refuse("message on message", "Message", "output message", messageOn);
        accept("message on input variable", "Message", "input variable", M::MESSAGE_OUT);
        refuse("data rendering on input", "Data Rendering", "input variable",
               "<strong>Data Rendering</strong> is only droppable on <strong>Output Variable</strong> and "
               "<strong>Output Message</strong> items.");
        accept("data rendering on message", "Data Rendering", "output message", M::DATA_RENDERING);
        accept("data rendering on output", "Data Rendering", "output variable", M::DATA_RENDERING);
        refuse("mnemonic on output", "Mnemonic", "output variable", kOnlyOn.arg("Mnemonic", "Data Rendering"));
        refuse("mnemonic on mnemonic", "Mnemonic", "mnemonic", kOnlyOn.arg("Mnemonic", "Data Rendering"));
        accept("mnemonic on data rendering", "Mnemonic", "data rendering", M::MNEMONIC);
    }
    void targets()
    {
        QFETCH(QString, kind);
        QFETCH(QString, target);
        QFETCH(QString, message);
        QFETCH(int, created);
        DesignFixture f;
        f.buildAllKinds();
        const QModelIndex parent = f.node(target);
        const QStringList before = f.snapshot();
        const int rows = f.model.rowCount(parent);

        auto data = f.mime(kind);
        QVERIFY(f.model.canDropMimeData(data.get(), Qt::CopyAction, -1, 0, parent));
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QSignalSpy focused(&f.model, &M::indexFocused);
        const bool dropped = f.model.dropMimeData(data.get(), Qt::CopyAction, -1, 0, parent);
        QCOMPARE(dropped, message.isEmpty());
        if (!dropped) {
            QCOMPARE(status.count(), 1);
            QCOMPARE(status.at(0).at(0).toInt(), 1);
            QCOMPARE(status.at(0).at(1).toString(), message);
            QCOMPARE(f.snapshot(), before);
            QCOMPARE(f.model.undoStack()->count(), 0);
            return;
        }
        QCOMPARE(status.count(), 0);
        QCOMPARE(f.model.rowCount(parent), rows + 1);
        const QModelIndex node = f.model.index(rows, 0, parent);
        QCOMPARE(int(f.model.classType(node)), created);
        QCOMPARE(f.value(node, M::ColClass), f.model.getClassTypeStr(quint8(created)));
        QVERIFY(!focused.isEmpty());
        QCOMPARE(focused.last().at(0).toModelIndex(), node);
        // One undo takes the whole creation back.
        QCOMPARE(f.model.undoStack()->count(), 1);
        f.model.undoStack()->undo();
        QCOMPARE(f.snapshot(), before);
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
        QVERIFY(f.model.supportedDropActions() & Qt::CopyAction);
        QVERIFY(f.model.supportedDropActions() & Qt::MoveAction);
        QCOMPARE(f.model.mimeTypes(), QStringList { M::ItemModelMimeType });
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
        QFETCH(QString, value);
        QFETCH(QString, message);
        DesignFixture f;
        f.buildAllKinds();
        const QModelIndex parent = f.node(target);
        const int steps = rows - f.model.rowCount(parent);
        f.ctrl = true;
        f.insertCount = count;
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QVERIFY(f.drop(kind, parent));
        QCOMPARE(f.model.rowCount(parent), rows);
        QCOMPARE(f.value(f.model.index(rows - 1, 0, parent), column), value);
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(1).toString(), message);
        QCOMPARE(f.model.undoStack()->count(), steps);
        f.model.undoStack()->undo();
        QCOMPARE(f.model.rowCount(parent), rows - 1);
        f.model.undoStack()->redo();
        f.ctrl = false;
        const QStringList before = f.snapshot();
        QVERIFY(!f.drop(kind, parent));
        QCOMPARE(status.count(), 2);
        QCOMPARE(status.at(1).at(1).toString(), message);
        QCOMPARE(f.snapshot(), before);
        QCOMPARE(f.model.undoStack()->count(), steps);
    }

    // 256 stations over eight segments: no free address is left, the network's maximum
    // follows, and a freed address is offered again. Then sixteen arbiters take every priority.
    void fullNetwork()
    {
        DesignFixture f;
        f.buildBasic();
        f.ctrl = true;
        f.insertCount = 7;
        QVERIFY(f.drop("Segment", f.network()));
        QCOMPARE(f.value(f.model.index(1, 0, f.network()), 0), QString("Segment 1"));
        f.insertCount = 32;
        for (int s = 0; s < 8; ++s)
            f.drop("Station", f.model.index(s, 0, f.network()));
        QCOMPARE(f.model.getStationIndexes().size(), 256);
        const QModelIndex second = f.model.index(0, 0, f.model.index(1, 0, f.network()));
        QCOMPARE(f.value(second, M::ColStationAddress), QString("32")); // numbered from the first free address
        bool ok = true;
        QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(0));
        QVERIFY(!ok);
        QCOMPARE(f.model.getMaxStationAddress(), quint8(255));
        QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxStationAddress), QString("255"));
        QCOMPARE(f.model.getFirstFreeSegmentNumber(&ok), quint8(8));
        QSignalSpy status(&f.model, &M::statusBarMessage);
        f.ctrl = false;
        QVERIFY(f.drop("Segment", f.network()));
        QVERIFY(!f.drop("Station", f.model.index(8, 0, f.network())));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(1).toString(), kNetworkStations);
        QVERIFY(f.model.removeItem(f.model.getStationIdx(77)));
        QCOMPARE(f.model.getFirstFreeStationAddress(&ok), quint8(77));
        QVERIFY(ok);

        for (int s = 0; s < 16; ++s)
            QVERIFY(f.drop("Arbiter", f.model.index(s, 0, f.segment)));
        QCOMPARE(f.model.getPriorityLevelsUsed().size(), 16);
        QCOMPARE(f.model.getMaxPriorityLevel(), quint8(15));
        QCOMPARE(f.value(f.network(), M::ColNetworkBaMaxPriority), QString("15"));
        QVERIFY(!f.drop("Arbiter", f.model.index(16, 0, f.segment)));
        QCOMPARE(status.last().at(1).toString(),
                 QString("Cannot create <strong>Arbiter</strong>. All priority levels are used on "
                         "<strong>Network</strong>."));
        QVERIFY(!f.model.hasArbiter(f.model.index(16, 0, f.segment)));
    }

    void freedNumbersAndIdentifiersAreOfferedAgain()
    {
        DesignFixture f;
        f.buildAllKinds();
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
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QVERIFY(!f.drop("Variable", list));
        QCOMPARE(status.count(), 1);
        QCOMPARE(status.at(0).at(1).toString(),
                 QString("Cannot create <strong>Reference Variable</strong> without at least one <strong>Output "
                         "Variable</strong> into <strong>Network</strong>."));
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
        DesignFixture f;
        f.buildBasic();
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
        QSignalSpy status(&f.model, &M::statusBarMessage);
        QCOMPARE(f.drop("Message", source), message.isEmpty());
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

    // The real "Advanced Insertion Menu" dialog; a cancelled count creates nothing.
    void countDialog()
    {
        DesignFixture f;
        f.buildBasic();
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

    void multiDropProgressAndUndoSteps()
    {
        DesignFixture f;
        f.buildBasic();
        const int before = f.model.undoStack()->count();
        f.ctrl = true;
        f.insertCount = 4;
        QSignalSpy progress(&f.model, &M::generateProgress);
        QVERIFY(f.drop("Variable", f.station));
        QVERIFY(progress.count() >= 5);
        QCOMPARE(progress.first().at(0).toInt(), 0);
        QCOMPARE(progress.at(1).at(0).toInt(), 25);
        QCOMPARE(progress.last().at(0).toInt(), 100);
        QCOMPARE(f.model.getVariableOutIDsUsed(), (QList<quint16> { 0, 1, 2, 3 }));
        QCOMPARE(f.model.undoStack()->text(before), QString("Add - Output Variable"));
        progress.clear();
        f.ctrl = false;
        QVERIFY(f.drop("Variable", f.station));
        QCOMPARE(progress.count(), 0);
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
        DesignFixture f;
        f.buildBasic();
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

    void initialValues()
    {
        DesignFixture f;
        f.buildBasic();
        const QList<QPair<int, QString>> network = {
            { 0, "Network" }, { M::ColNetworkFrameType, "FIP" }, { M::ColNetworkSpeed, "1 Mbits/s" },
            { M::ColNetworkBaOptimization, "Optimization 0" }, { M::ColClassType, "0" } };
        for (const auto& e : network)
            QCOMPARE(f.value(f.network(), e.first), e.second);
        QCOMPARE(f.value(f.segment, M::ColSegmentNumber), QString("0"));
        QCOMPARE(f.value(f.station, M::ColFipDevice), M::BindADevice);
        const QModelIndex arbiter = f.add("Arbiter", f.station);
        QCOMPARE(f.value(arbiter, 0), QString("Arbiter"));
        QCOMPARE(f.value(arbiter, M::ColArbiterEnabled), QString("true"));
        QCOMPARE(f.value(arbiter, M::ColArbiterPriorityLevel), QString("0"));
        const QModelIndex variable = f.add("Variable", f.station);
        const QList<QPair<int, QString>> expected = {
            { M::ColVarOutPdu, "MPS" }, { M::ColVarOutLength, "1" }, { M::ColVarOutRefreshmentEnabled, "true" },
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
};

QTEST_MAIN(TestDrop)
#include "tst_drop.moc"
