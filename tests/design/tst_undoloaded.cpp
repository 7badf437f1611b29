// A user's editing session on each shipped example project: every action undone must give
// back the loaded project exactly, and every action redone the edited one.

#include "tst_maindtmodel_util.h"

#include "design/BrxprjFile.h"
#include "design/ExampleProjects.h"

#include <QAbstractItemModelTester>

using M = MainDTModel;

namespace {
const QString kExamplesDir = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/");

/// The free-value sets, which undo must rebuild along with the rows.
QString freeValues(const MainDTModel& model)
{
    QStringList parts;
    const auto join = [&parts](const auto& values) {
        QStringList texts;
        for (const auto v : values)
            texts << QString::number(v);
        parts << texts.join(QLatin1Char(','));
    };
    join(model.getStationAddressesUsed());
    join(model.getSegmentNumbersUsed());
    join(model.getPriorityLevelsUsed());
    join(model.getVariableOutIDsUsed());
    return parts.join(QLatin1Char('|'));
}
} // namespace

class TestUndoLoaded : public QObject
{
    Q_OBJECT

private slots:
    void editSessionUndoes_data();
    void editSessionUndoes();
};

void TestUndoLoaded::editSessionUndoes_data()
{
    QTest::addColumn<QString>("example");
    for (const QString& name : ExampleProjects::fileNames())
        QTest::newRow(qPrintable(name)) << name;
}

void TestUndoLoaded::editSessionUndoes()
{
    QFETCH(QString, example);
    DesignFixture f;
    BrxprjFile file(&f.model);
    QVERIFY(file.load(kExamplesDir + example));
    f.model.updateInternalData();
    QAbstractItemModelTester tester(&f.model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    const QStringList loaded = f.snapshot();
    const QString loadedFree = freeValues(f.model);
    QCOMPARE(f.model.undoStack()->index(), 0);

    const QModelIndexList stations = f.model.getStationIndexes();
    QCOMPARE(stations.size(), 2);
    const QPersistentModelIndex first = stations.at(0);
    const QPersistentModelIndex second = stations.at(1);
    const QPersistentModelIndex network = f.network();
    const QPersistentModelIndex variable = f.model.getClassTypeIndexes(M::VARIABLE_OUT, second).value(0);
    const QPersistentModelIndex rendering = f.model.getClassTypeIndexes(M::DATA_RENDERING, variable).value(0);
    const QPersistentModelIndex mnemonic = f.model.index(0, 0, rendering);
    const QModelIndexList references = f.model.getClassTypeIndexes(M::VARIABLE_REF);
    QCOMPARE(references.size(), 1);
    const QPersistentModelIndex referenced =
        f.model.getVariableIndexes(M::parseID(f.value(references.first(), M::ColVarRefId)), M::VARIABLE_OUT).value(0);
    QVERIFY(variable.isValid() && mnemonic.isValid() && referenced.isValid());
    const QString speed = f.value(network, M::ColNetworkSpeed) == "5 Mbits/s" ? "1 Mbits/s" : "5 Mbits/s";

    int actions = 0;
    const auto act = [&](bool done, const char* what) {
        QVERIFY2(done, what);
        QVERIFY2(f.model.undoStack()->index() > actions, what); // every action leaves a command
        actions = f.model.undoStack()->index();
    };
    // Item editor edits, some with consequences on other rows.
    act(f.edit(first, M::ColObject, "Pump"), "station name");
    act(f.edit(second, M::ColStationAddress, "12"), "station address");
    act(f.edit(network, M::ColNetworkSpeed, speed), "network speed");
    act(f.edit(variable, M::ColVarOutLength, "4"), "variable length");
    act(f.edit(variable, M::ColVarOutRefreshmentPeriod, "20"), "refreshment period");
    act(f.edit(mnemonic, M::ColMnemoType, "UInt16"), "mnemonic type");
    act(f.edit(mnemonic, M::ColMnemoDescription, "Flow rate"), "mnemonic description");
    // Drops from the item box.
    act(f.drop("Variable", first), "variable drop");
    const QModelIndex added = f.model.index(f.model.rowCount(first) - 1, 0, first);
    QCOMPARE(f.model.classType(added), quint8(M::VARIABLE_OUT));
    act(f.drop("Data Rendering", added), "rendering drop");
    act(f.drop("Mnemonic", rendering), "mnemonic drop");
    // Removing a variable takes what refers to it.
    act(f.model.removeItem(referenced), "removal");
    QCOMPARE(f.model.getClassTypeIndexes(M::VARIABLE_REF).size(), 0);

    const QStringList edited = f.snapshot();
    const QString editedFree = freeValues(f.model);
    QVERIFY(edited != loaded);
    QCOMPARE(f.value(network, M::ColNetworkBaMaxStationAddress), QString("12"));

    while (f.model.undoStack()->canUndo())
        f.model.undoStack()->undo();
    QCOMPARE(f.snapshot(), loaded);
    QCOMPARE(freeValues(f.model), loadedFree);
    while (f.model.undoStack()->canRedo())
        f.model.undoStack()->redo();
    QCOMPARE(f.model.undoStack()->index(), actions);
    QCOMPARE(f.snapshot(), edited);
    QCOMPARE(freeValues(f.model), editedFree);
}

QTEST_MAIN(TestUndoLoaded)
#include "tst_undoloaded.moc"
