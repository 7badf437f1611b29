#include "tst_maindtmodel_util.h"

#include "design/SettingsDTDelegate.h"
#include "design/SettingsDTModel.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeView>

using M = MainDTModel;
using E = SettingsDTModel::Editor;

namespace {
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

QString editorText(QWidget* editor)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        return combo->currentText();
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(editor))
        return spin->text();
    if (auto* line = qobject_cast<QLineEdit*>(editor))
        return line->text();
    return QString();
}
} // namespace

// The item editor over a project holding one node of every kind (the folder's fixture).
class TestSettingsDTModel : public QObject
{
    Q_OBJECT

    std::unique_ptr<DesignFixture> f;
    std::unique_ptr<SettingsDTModel> table;
    std::unique_ptr<QAbstractItemModelTester> tester;

    void show(const QString& node) { table->loadFromIndex(&f->model, f->node(node)); }
    QString design(const QString& node, int column) const { return f->value(f->node(node), column); }
    QString cell(int column) const { return table->valueItem(column)->text(); }
    // Types the value into the cell of a design column and hands the change to the model.
    bool edit(int column, const QString& value)
    {
        QStandardItem* item = table->valueItem(column);
        if (!item)
            return false;
        item->setText(value);
        return table->applyItemChange(item);
    }
    int undoCount() const { return f->model.undoStack()->count(); }

private slots:
    void init()
    {
        f.reset(new DesignFixture(DesignFixture::AllKinds));
        table.reset(new SettingsDTModel(42, 2));
        tester.reset(new QAbstractItemModelTester(table.get(), QAbstractItemModelTester::FailureReportingMode::Fatal));
    }
    void cleanup()
    {
        tester.reset();
        table.reset();
        f.reset();
    }

    void layout()
    {
        SettingsDTModel small(3, 1); // a smaller request still gets every property row
        QCOMPARE(small.rowCount(), 42);
        const Qt::ItemFlags name = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QModelIndex group = table->index(row, 0);
            QCOMPARE(table->flags(group), name);
            QCOMPARE(table->flags(table->index(row, 1)), name | Qt::ItemIsEditable);
            for (int child = 0; child < table->rowCount(group); ++child) {
                QCOMPARE(table->flags(table->index(child, 0, group)), name);
                const bool readOnly = row == SettingsDTModel::RowTimeSettings && child < 2;
                QCOMPARE(table->flags(table->index(child, 1, group)), readOnly ? name : name | Qt::ItemIsEditable);
            }
        }
        QVERIFY(!table->setData(table->valueIndex(M::ColNetworkSilenceTime), "1 s", Qt::EditRole));
        QVERIFY(table->setData(table->valueIndex(M::ColObject), "Net", Qt::EditRole));
        // Every mapped design column owns its own value cell and maps back to itself.
        for (int column : SettingsDTModel::mappedColumns()) {
            const QModelIndex cell = table->valueIndex(column);
            QVERIFY2(cell.isValid() && cell.column() == 1, qPrintable(QString::number(column)));
            QCOMPARE(table->designColumn(cell), column);
            QCOMPARE(table->designColumn(table->itemFromIndex(cell)), column);
        }
        for (int column : { int(M::ColClassType), int(M::ColFipDevice), -1, 500 })
            QVERIFY2(!table->valueIndex(column).isValid(), qPrintable(QString::number(column)));
        QCOMPARE(table->designColumn(table->index(SettingsDTModel::RowTimeSettings, 1)), -1); // a group row
        QCOMPARE(table->designColumn(table->index(0, 0)), -1);
        QCOMPARE(table->designColumn(QModelIndex()), -1);
        QCOMPARE(table->designColumn(small.index(0, 1)), -1);
    }

    void shownRows_data()
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
        QTest::newRow("scan table") << "scan table" << "" << QStringList { "Name", "Number" };
        QTest::newRow("next macro") << "instruction" << "NEXT_MACRO" << QStringList { "Type" };
        QTest::newRow("send id dat") << "instruction" << "SEND_ID_DAT" << QStringList { "Type", "ID" };
        QTest::newRow("wait time") << "instruction" << "WAIT_TIME" << QStringList { "Type", "Time (ms)" };
        QTest::newRow("suspend") << "instruction" << "SUSPEND" << QStringList { "Type", "Event Number", "Delay (ms)" };
        QTest::newRow("output variable")
            << "output variable" << ""
            << QStringList { "Name", "Direction", "ID", "PDU", "Length", "Refreshment", "  Dynamic",
                             "  Production Period (ms)", "Aperiodic's List Transfer Request",
                             "Message Emission Channel", "  Type", "  Number", "Message Reception Channel" };
        QTest::newRow("wait sync") << "instruction" << "WAIT_SYNC" << QStringList { "Type", "Time (ms)" };
        QTest::newRow("input variable") << "input variable" << ""
                                        << QStringList { "Direction", "ID", "Promptness", "  Consumption Period (ms)",
                                                         "Message Reception Channel" };
        QTest::newRow("output message")
            << "output message" << ""
            << QStringList { "Name", "Source Address", "  Segment", "  ID", "Destination Address", "  Segment", "  ID",
                             "Channel Emission Attached", "  Type", "  Number", "Acknowledgment", "File Transfer" };
        QTest::newRow("input message") << "input message" << ""
                                       << QStringList { "Source Address", "  Segment", "  ID", "Destination Address",
                                                        "  Segment", "  ID" };
        QTest::newRow("mnemonic float") << "mnemonic" << "Float"
                                        << QStringList { "Name", "Type", "Endianness", "Description", "Pixmap",
                                                         "Start Bit", "Stop Bit" };
        QTest::newRow("data rendering") << "data rendering" << "" << QStringList { "Name" };
        QTest::newRow("mnemonic bool") << "mnemonic" << "Bool"
                                       << QStringList { "Name", "Type", "Description", "Pixmap", "Start Bit",
                                                        "Stop Bit" };
        QTest::newRow("mnemonic ascii") << "mnemonic" << "Ascii"
                                        << QStringList { "Name", "Type", "Endianness", "Description", "Pixmap",
                                                         "Start Bit", "Stop Bit", "Size (bytes)" };
    }
    void shownRows()
    {
        QFETCH(QString, node);
        QFETCH(QString, selector);
        QFETCH(QStringList, names);
        show(node);
        if (!selector.isEmpty()) {
            // Through the table, as the user picks the type: the rows follow, and follow its undo.
            QVERIFY(f->edit(f->node("output variable"), M::ColVarOutLength, "8")); // room for wide types
            const QStringList before = shownPropertyNames(*table);
            QSignalSpy visibility(table.get(), &SettingsDTModel::rowsVisibilityChanged);
            const int column = node == "instruction" ? M::ColInstructionType : M::ColMnemoType;
            edit(column, selector);
            QCOMPARE(design(node, column), selector);
            QCOMPARE(shownPropertyNames(*table), names);
            QCOMPARE(visibility.count(), names == before ? 0 : 1);
            f->model.undoStack()->undo();
            QCOMPARE(shownPropertyNames(*table), before);
        } else {
            QCOMPARE(shownPropertyNames(*table), names);
        }
    }

    void viewFollowsVisibility()
    {
        QTreeView view;
        table->attachView(&view);
        view.expandAll();
        show("station");
        QVERIFY(!view.isRowHidden(SettingsDTModel::RowTSlot, QModelIndex()));
        QVERIFY(view.isRowHidden(SettingsDTModel::RowSpeed, QModelIndex()));
        QSignalSpy spy(table.get(), &SettingsDTModel::rowsVisibilityChanged);
        show("network");
        QCOMPARE(spy.count(), 1);
        QVERIFY(!view.isRowHidden(SettingsDTModel::RowTimeSettings, QModelIndex()));
        QVERIFY(!view.isRowHidden(0, table->index(SettingsDTModel::RowTimeSettings, 0)));
        QVERIFY(view.isRowHidden(SettingsDTModel::RowTSlot, QModelIndex()));
        show("network"); // the same kind again changes nothing
        QCOMPARE(spy.count(), 1);
    }

    void noNodeShowsNothing()
    {
        show("root");
        QVERIFY(shownPropertyNames(*table).isEmpty());
        table->loadFromIndex(nullptr, f->node("network"));
        QVERIFY(shownPropertyNames(*table).isEmpty());
        QVERIFY(cell(0).isEmpty());
        table->loadFromIndex(&f->model, table->index(0, 0)); // not a node of the design
        QVERIFY(shownPropertyNames(*table).isEmpty());
        QVERIFY(!edit(M::ColObject, "x"));
        // A node removed from the design empties the table, and its undo does not fill it again.
        show("segment");
        QCOMPARE(cell(M::ColObject), design("segment", 0));
        QVERIFY(f->model.removeItem(f->node("segment")));
        QVERIFY(!table->node().isValid());
        QVERIFY(shownPropertyNames(*table).isEmpty());
        QVERIFY(cell(M::ColObject).isEmpty());
        f->model.undoStack()->undo();
        QVERIFY(shownPropertyNames(*table).isEmpty());
        table->clearNode();
    }

    void loadCopiesValuesWithoutEdits()
    {
        int applied = 0;
        connect(table.get(), &QStandardItemModel::itemChanged, table.get(), [&](QStandardItem* item) {
            if (table->applyItemChange(item))
                ++applied;
        });
        show("network");
        show("mnemonic");
        show("output variable");
        for (int column : SettingsDTModel::mappedColumns())
            QCOMPARE(cell(column), design("output variable", column));
        // An instruction's name cell holds the stored name, not the numbered display text.
        show("instruction");
        QCOMPARE(cell(M::ColObject), QString("NEXT_MACRO ()"));
        QCOMPARE(applied, 0);
        QCOMPARE(undoCount(), 0);
        // A real edit through the connected signal goes through.
        table->valueItem(M::ColObject)->setText("Pause");
        QCOMPARE(applied, 1);
        QCOMPARE(design("instruction", 0), QString("Pause"));
    }

    // One value typed in the table: the design takes it (or its nearest allowed value), derives
    // its paired cells, the table shows them, and one undo takes it all back.
    void editWritesBack_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("kept");
        QTest::addColumn<int>("derived");
        QTest::addColumn<QString>("derivedValue");
        QTest::newRow("name") << "segment" << 0 << "Line A" << "Line A" << 0 << "Line A";
        QTest::newRow("speed") << "network" << int(M::ColNetworkSpeed) << "31.25 kbits/s" << "31.25 kbits/s"
                               << int(M::ColNetworkSilenceTime) << "27.648 ms";
        QTest::newRow("silence") << "network" << int(M::ColNetworkSilence) << "0x1c" << "0x1c"
                                 << int(M::ColNetworkSilenceTime) << "140 us";
        QTest::newRow("turnaround") << "network" << int(M::ColNetworkTurnAround) << "0x3f" << "0x3f"
                                    << int(M::ColNetworkTurnAroundTime) << "39.375 us";
        QTest::newRow("tslot") << "station" << int(M::ColStationTSlotTime) << "250 us" << "250 us"
                               << int(M::ColStationTSlot) << "1";
        // 7.03 ms is no multiple of the 62.5 us TSlot: the design keeps 112 TSlots.
        QTest::newRow("period snapped") << "output variable" << int(M::ColVarOutRefreshmentPeriod) << "7.03" << "7"
                                        << int(M::ColVarOutRefreshmentPeriodPar) << "0x0070";
    }
    void editWritesBack()
    {
        QFETCH(QString, node);
        QFETCH(int, column);
        QFETCH(QString, value);
        QFETCH(QString, kept);
        QFETCH(int, derived);
        QFETCH(QString, derivedValue);
        show(node);
        const QStringList before = f->snapshot();
        const QString old = cell(column);
        const QString oldDerived = table->valueItem(derived) ? cell(derived) : QString();
        QVERIFY(edit(column, value));
        QCOMPARE(design(node, column), kept);
        QCOMPARE(cell(column), kept);
        QCOMPARE(design(node, derived), derivedValue);
        if (table->valueItem(derived))
            QCOMPARE(cell(derived), derivedValue);
        QCOMPARE(undoCount(), 1);
        QVERIFY(!edit(column, kept)); // the same value again is no edit
        QCOMPARE(undoCount(), 1);
        f->model.undoStack()->undo();
        QCOMPARE(f->snapshot(), before);
        QCOMPARE(cell(column), old);
        if (table->valueItem(derived))
            QCOMPARE(cell(derived), oldDerived);
    }

    // Each value cell's editor, its range or list, and a value the cell or the design refuses: the
    // design keeps its value, the cell shows it again, no undo step, one warning.
    void cellEditors_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("kind"); // -1: not checked
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("refused"); // none: the editor only
        QTest::addColumn<bool>("byDesign");   // the cell takes it, the design refuses it
        const auto row = [](const char* name, const char* node, int column, int kind, double minimum, double maximum,
                            const QStringList& items, const char* refused, bool byDesign = false) {
            QTest::newRow(name) << node << column << kind << minimum << maximum << items << QString(refused)
                                << byDesign;
        };
        const auto refuse = [&](const char* name, const char* node, int column, const char* value,
                                bool byDesign = false) {
            row(name, node, column, -1, 0, 0, {}, value, byDesign);
        };
        row("name", "network", M::ColObject, E::Text, 0, 0, {}, nullptr);
        row("speed", "network", M::ColNetworkSpeed, E::Combo, 0, 0,
            { "31.25 kbits/s", "1 Mbits/s", "2.5 Mbits/s", "5 Mbits/s" }, "1 mbits/s");
        row("silence time", "network", M::ColNetworkSilenceTime, E::NoEditor, 0, 0, {}, "1 ms");
        row("silence at 1M", "network", M::ColNetworkSilence, E::Hexadecimal, 27, 63, {}, "0x1a");
        refuse("silence not a number", "network", M::ColNetworkSilence, "zz");
        row("turnaround at 1M", "network", M::ColNetworkTurnAround, E::Hexadecimal, 45, 63, {}, nullptr);
        row("tslot at 1M", "station", M::ColStationTSlotTime, E::Combo, 0, 0,
            { "62.5 us", "250 us", "625 us", "2.5 ms" }, "100 us");
        row("address", "station", M::ColStationAddress, E::Integer, 0, 255, {}, "");
        row("election", "arbiter", M::ColArbiterElectionTime, E::NoEditor, 0, 0, {}, nullptr);
        row("instruction time", "instruction", M::ColInstructionTime, E::Decimal, 0, 32767 * 0.0625, {}, nullptr);
        row("variable id", "output variable", M::ColVarOutId, E::Hexadecimal, 0, 65534, {}, "0xffff");
        row("period", "output variable", M::ColVarOutRefreshmentPeriod, E::Decimal, 0.0625, 16383 * 0.0625, {},
            "1024.0625");
        row("stop bit", "mnemonic", M::ColMnemoStopBit, E::NoEditor, 0, 0, {}, "7");
        refuse("optimization 3", "network", M::ColNetworkBaOptimization, "Optimization 3");
        refuse("max priority 16", "network", M::ColNetworkBaMaxPriority, "16");
        refuse("segment 256", "segment", M::ColSegmentNumber, "256");
        refuse("priority level 16", "arbiter", M::ColArbiterPriorityLevel, "16");
        refuse("length 0", "output variable", M::ColVarOutLength, "0");
        refuse("length 127", "output variable", M::ColVarOutLength, "127");
        refuse("boolean", "output variable", M::ColVarOutRefreshmentEnabled, "yes");
        refuse("id of another variable", "second variable", M::ColVarOutId, "0x0000", true);
    }
    void cellEditors()
    {
        QFETCH(QString, node);
        QFETCH(int, column);
        QFETCH(int, kind);
        QFETCH(double, maximum);
        QFETCH(QString, refused);
        QFETCH(bool, byDesign);
        show(node);
        const E editor = table->editorFor(table->valueIndex(column));
        if (kind >= 0)
            QCOMPARE(int(editor.kind), kind);
        if (kind == E::Combo) {
            QTEST(editor.items, "items");
        } else if (kind == E::Integer || kind == E::Hexadecimal || kind == E::Decimal) {
            QTEST(editor.minimum, "minimum");
            QVERIFY(qAbs(editor.maximum - maximum) < 1e-6);
        }
        if (refused.isNull())
            return;
        QSignalSpy status(table.get(), &SettingsDTModel::statusBarMessage);
        QSignalSpy designStatus(&f->model, &M::statusBarMessage);
        const QString before = design(node, column);
        QVERIFY(before != refused);
        QCOMPARE(table->acceptsValue(table->valueIndex(column), refused), byDesign);
        QVERIFY(!edit(column, refused));
        QCOMPARE(design(node, column), before);
        QCOMPARE(cell(column), before);
        QCOMPARE(undoCount(), 0);
        QSignalSpy& told = byDesign ? designStatus : status;
        QCOMPARE(told.count(), 1);
        QCOMPARE(told.at(0).at(0).value<quint8>(), quint8(1));
    }

    void editorRangesFollowSpeed()
    {
        show("network");
        QVERIFY(edit(M::ColNetworkSpeed, "31.25 kbits/s"));
        const E silence = table->editorFor(table->valueIndex(M::ColNetworkSilence));
        QCOMPARE(silence.minimum, 4.0);
        QVERIFY(table->acceptsValue(table->valueIndex(M::ColNetworkSilence), "0x04"));
        QVERIFY(!table->acceptsValue(table->valueIndex(M::ColNetworkSilence), "0x03"));
        show("station"); // the slot times of the new speed, from the calculator's list
        QVERIFY(edit(M::ColStationTSlotTime, "4 ms"));
        QCOMPARE(M::parseNumber(design("station", M::ColStationTSlot)), 3);
        show("output variable");
        const E period = table->editorFor(table->valueIndex(M::ColVarOutRefreshmentPeriod));
        QCOMPARE(period.minimum, 4.0);
        QCOMPARE(period.step, 4.0);
    }

    // The delegate's editor shows the cell, takes a new value and writes what the design stores.
    void delegateEditors_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QVariant>("input"); // combo index, spin value or text; none: left as shown
        QTest::addColumn<QString>("stored"); // in the cell, for the design to take as any typed value
        QTest::newRow("speed") << "network" << int(M::ColNetworkSpeed) << "1 Mbits/s" << QVariant(3) << "5 Mbits/s";
        QTest::newRow("priority level") << "arbiter" << int(M::ColArbiterPriorityLevel) << "0  (Highest)"
                                        << QVariant(15) << "15";
        QTest::newRow("unlisted frame type kept") << "network" << int(M::ColNetworkFrameType) << "FIP" << QVariant()
                                                  << "FIP";
        QTest::newRow("hexadecimal") << "network" << int(M::ColNetworkSilence) << "0x1b" << QVariant(0x2a) << "0x2a";
        QTest::newRow("period clamped to 16383 slots") << "output variable" << int(M::ColVarOutRefreshmentPeriod)
                                                       << "5.0000" << QVariant(1e9) << "1023.9375";
        QTest::newRow("name") << "segment" << 0 << "Segment 0" << QVariant("Line B") << "Line B";
    }
    void delegateEditors()
    {
        QFETCH(QString, node);
        QFETCH(int, column);
        QFETCH(QVariant, input);
        show(node);
        SettingsDTDelegate delegate;
        QWidget parent;
        const QModelIndex index = table->valueIndex(column);
        QScopedPointer<QWidget> editor(delegate.createEditor(&parent, QStyleOptionViewItem(), index));
        QVERIFY(editor);
        delegate.setEditorData(editor.data(), index);
        QTEST(editorText(editor.data()), "shown");
        if (auto* combo = qobject_cast<QComboBox*>(editor.data()); combo && input.isValid())
            combo->setCurrentIndex(input.toInt());
        else if (auto* hex = dynamic_cast<HexSpinBox*>(editor.data()); hex && input.isValid())
            hex->setValue(input.toInt());
        else if (auto* real = qobject_cast<QDoubleSpinBox*>(editor.data()); real && input.isValid())
            real->setValue(input.toDouble());
        else if (auto* line = qobject_cast<QLineEdit*>(editor.data()))
            line->setText(input.toString());
        delegate.setModelData(editor.data(), table.get(), index);
        QTEST(cell(column), "stored");
        // Cells without an editor: derived times, group rows, property names.
        for (const QModelIndex& none : { table->valueIndex(M::ColNetworkSilenceTime), table->index(0, 0),
                                         table->index(SettingsDTModel::RowTimeSettings, 1) })
            QVERIFY(!delegate.createEditor(&parent, QStyleOptionViewItem(), none));
    }

    void hexSpinBoxStates()
    {
        HexSpinBox spin(2);
        spin.setRange(27, 63);
        QList<int> states;
        for (QString input : { "0x1b", "0X3F", "2a", "0x", "0x1a", "0x40", "0x1g", "-1" }) {
            int pos = 0;
            states << int(static_cast<QAbstractSpinBox&>(spin).validate(input, pos));
        }
        const int ok = QValidator::Acceptable, partial = QValidator::Intermediate, bad = QValidator::Invalid;
        QCOMPARE(states, (QList<int> { ok, ok, ok, partial, partial, bad, bad, bad }));
    }
};

QTEST_MAIN(TestSettingsDTModel)
#include "tst_settingsdtmodel.moc"
