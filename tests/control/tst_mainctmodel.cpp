// The control tree over a loaded example project while boards are bound and
// unbound, and the byte grids: filling, copy and paste, the byte editor.

#include "control/HexaTabDelegate.h"
#include "control/HexaTable.h"
#include "control/MainCTModel.h"
#include "control/TableWidgetWithPaste.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QValidator>
#include <QtTest>

namespace {

const QString kProject = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/file_transfer_1M.brxprj");

QString board(int index) { return QString("%1 - USB - 1 Mbits/s - 0x%2").arg(index).arg(index + 1, 8, 16, QChar('0')); }

/// Every row the proxy shows, as "kind:name", depth first.
void collect(const QAbstractItemModel& model, const QModelIndex& parent, QStringList* rows)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex name = model.index(row, MainDTModel::ColObject, parent);
        *rows << model.index(row, MainDTModel::ColClass, parent).data().toString() + ":" + name.data().toString();
        collect(model, name, rows);
    }
}

using Cells = QMap<int, QString>; // byte position -> text

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

} // namespace

class TstMainCTModel : public QObject
{
    Q_OBJECT

private slots:
    void filter_data();
    void filter();
    void fill_data();
    void fill();
    void paste_data();
    void paste();
    void copyJoinsByRowThenColumn();
    void byteEditor_data();
    void byteEditor();
};

void TstMainCTModel::filter_data()
{
    QTest::addColumn<QStringList>("bound");
    QTest::addColumn<bool>("labels");
    QTest::addColumn<int>("stations");
    QTest::addColumn<int>("renderings");

    QTest::newRow("no board") << QStringList() << true << 0 << 0;
    QTest::newRow("one board, labels hidden") << QStringList{ "Arbitrator" } << false << 1 << 0;
    QTest::newRow("one board, labels shown") << QStringList{ "Arbitrator" } << true << 1 << 2;
    QTest::newRow("two boards, labels shown") << QStringList{ "Arbitrator", "Field unit" } << true << 2 << 4;
}

void TstMainCTModel::filter()
{
    QFETCH(QStringList, bound);
    QFETCH(bool, labels);
    QFETCH(int, stations);
    QFETCH(int, renderings);

    MainDTModel design;
    BrxprjFile file(&design);
    QVERIFY(file.load(kProject));
    MainCTModel control;
    control.setSourceModel(&design);
    QAbstractItemModelTester tester(&control, QAbstractItemModelTester::FailureReportingMode::QtTest);
    control.setLabelsVisible(!labels); // the flip below must refilter
    QStringList shown;
    collect(control, QModelIndex(), &shown);
    QCOMPARE(shown.filter("Station:").size(), 0);

    // Bind, then show or hide the labels, with the tester watching every step.
    int index = 0;
    for (const QModelIndex& station : design.getStationIndexes()) {
        if (bound.contains(design.text(station, MainDTModel::ColObject)))
            design.setDataWithoutControl(design.cell(station, MainDTModel::ColFipDevice), board(index++));
    }
    control.setLabelsVisible(labels);
    shown.clear();
    collect(control, QModelIndex(), &shown);
    QCOMPARE(shown.filter("Station:").size(), stations);
    QCOMPARE(shown.filter("Data Rendering:").size(), renderings);
    QCOMPARE(shown.filter("Bus Arbiter:").size(), 0);
    QCOMPARE(shown.filter("Reference Variable:").size(), 0);
    QCOMPARE(shown.filter("Instruction:").size(), 0);
    if (stations > 0)
        QVERIFY(shown.contains("Output Message:0:0x0101 to 0:0x0100"));

    // Unbinding every board empties the stations again; live values keep flowing meanwhile.
    for (const QModelIndex& station : design.getStationIndexes()) {
        design.setDataWithoutControl(design.cell(station, MainDTModel::ColDeviceTemperature), "41.5 °C");
        design.setDataWithoutControl(design.cell(station, MainDTModel::ColFipDevice), MainDTModel::BindADevice);
    }
    shown.clear();
    collect(control, QModelIndex(), &shown);
    QCOMPARE(shown, QStringList({ "Network:file_transfer_1M", "Segment:Segment 0" }));
}

void TstMainCTModel::fill_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QList<int>>("bold");
    QTest::addColumn<bool>("changed");
    QTest::addColumn<int>("rows");

    QTest::newRow("one byte changed") << bytes({ 1, 2, 3 }) << bytes({ 1, 0xAB, 3 }) << QList<int>{ 1 } << true << 1;
    QTest::newRow("same bytes") << bytes({ 1, 2, 3 }) << bytes({ 1, 2, 3 }) << QList<int>{} << false << 1;
    QTest::newRow("16 bytes fill one row") << QByteArray(16, 7) << QByteArray(16, 7) << QList<int>{} << false << 1;
    QTest::newRow("17th byte opens a row") << QByteArray(16, 7) << QByteArray(17, 7) << QList<int>{ 16 } << false << 2;
    QList<int> grown;
    for (int i = 1; i < 256; ++i)
        grown << i;
    QTest::newRow("longer data: the new cells are changes") << bytes({ 5 }) << QByteArray(256, 5) << grown << false << 16;
    QTest::newRow("no data hides every row") << bytes({ 5 }) << QByteArray() << QList<int>{} << false << 0;
}

void TstMainCTModel::fill()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QList<int>, bold);
    QFETCH(bool, changed);
    QFETCH(int, rows);

    TableWidgetWithPaste table;
    HexaTable::setup(&table);
    QSignalSpy cellChanges(&table, &QTableWidget::cellChanged);
    HexaTable::update(&table, before, true);
    HexaTable::update(&table, before, true); // shown twice: nothing left bold
    bool differs = false;
    HexaTable::update(&table, after, false, &before, &differs);

    QCOMPARE(differs, changed);
    QCOMPARE(cellChanges.count(), 0);
    int visible = 0;
    for (int row = 0; row < HexaTable::Side; ++row)
        visible += table.isRowHidden(row) ? 0 : 1;
    QCOMPARE(visible, rows);
    if (after.isEmpty())
        return;
    for (int i = 0; i < HexaTable::Cells; ++i) {
        QTableWidgetItem* cell = table.item(i / HexaTable::Side, i % HexaTable::Side);
        if (i >= after.size()) {
            QCOMPARE(cell->text(), QString());
            QCOMPARE(cell->flags(), Qt::NoItemFlags);
            continue;
        }
        QCOMPARE(cell->text(), QString::asprintf("%02X", uchar(after.at(i))));
        QCOMPARE(cell->font().weight(), bold.contains(i) ? 75 : 50);
        QCOMPARE(cell->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }
    QCOMPARE(HexaTable::parseData(HexaTable::dataText(after)), after);
}

void TstMainCTModel::paste_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<Cells>("written");

    QTest::newRow("block inside")
        << 256 << 0x11 << "01\t02\n03\t04\n" << Cells{ { 0x11, "01" }, { 0x12, "02" }, { 0x21, "03" }, { 0x22, "04" } };
    QTest::newRow("past the right and bottom edges")
        << 256 << 0xFE << "AA\tBB\tCC\nDD\tEE\tFF" << Cells{ { 0xFE, "AA" }, { 0xFF, "BB" } };
    QTest::newRow("past the data length")
        << 3 << 1 << "AA\tBB\tCC\tDD" << Cells{ { 1, "AA" }, { 2, "BB" } };
    QTest::newRow("trailing empty lines and fields dropped, inner kept")
        << 256 << 0 << "AA\t\tCC\t\t\n\n\n" << Cells{ { 0, "AA" }, { 1, "" }, { 2, "CC" } };
    QTest::newRow("windows line ends") << 256 << 0 << "AA\r\nBB\r\n" << Cells{ { 0, "AA" }, { 16, "BB" } };
}

void TstMainCTModel::paste()
{
    QFETCH(int, length);
    QFETCH(int, start);
    QFETCH(QString, clipboard);
    QFETCH(Cells, written);

    TableWidgetWithPaste table;
    HexaTable::update(&table, QByteArray(length, char(0x55)), true);
    table.setCurrentCell(start / HexaTable::Side, start % HexaTable::Side);
    QApplication::clipboard()->setText(clipboard);
    QTest::keySequence(&table, QKeySequence::Paste);
    for (int i = 0; i < HexaTable::Cells; ++i) {
        const QString expected = written.value(i, i < length ? "55" : "");
        QCOMPARE(table.item(i / HexaTable::Side, i % HexaTable::Side)->text(), expected);
    }
}

void TstMainCTModel::copyJoinsByRowThenColumn()
{
    TableWidgetWithPaste table;
    HexaTable::update(&table, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112"), false);
    // Selected out of order, across two rows.
    for (int i : { 0x11, 0x0F, 0x02, 0x10, 0x01 })
        table.item(i / 16, i % 16)->setSelected(true);
    QTest::keySequence(&table, QKeySequence::Copy);
    QCOMPARE(QApplication::clipboard()->text(), QString("01\t02\t0F\n10\t11"));
}

void TstMainCTModel::byteEditor_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("one digit") << "a" << true;
    QTest::newRow("two digits") << "F0" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("not hexadecimal") << "g" << false;
    QTest::newRow("three digits") << "123" << false;
}

void TstMainCTModel::byteEditor()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);

    HexaTabDelegate delegate;
    QWidget parent;
    std::unique_ptr<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex()));
    auto* editor = qobject_cast<QLineEdit*>(widget.get());
    QVERIFY(editor && editor->validator());
    QCOMPARE(editor->maxLength(), 2);
    int pos = 0;
    QString text = typed;
    QCOMPARE(editor->validator()->validate(text, pos) == QValidator::Acceptable, accepted);
}

QTEST_MAIN(TstMainCTModel)
#include "tst_mainctmodel.moc"
