// The control page's models and grids: the control tree over a loaded example
// project while boards are bound and unbound; the byte grids with filling, copy,
// paste and the byte editor; mnemonic values cut from known bytes and written
// back into them, and the mnemonic table.

#include "control/FipAnalyze.h"
#include "control/HexaTabDelegate.h"
#include "control/HexaTable.h"
#include "control/MainCTModel.h"
#include "control/MnemoCTModel.h"
#include "control/MnemoCodec.h"
#include "control/TableWidgetWithPaste.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
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

MnemoField field(const QString& type, bool big, int start, int stop)
{
    MnemoField f;
    f.type = MnemoField::typeOf(type);
    f.bigEndian = big;
    f.startBit = start;
    f.stopBit = stop;
    return f;
}

} // namespace

class TstMainCTModel : public QObject
{
    Q_OBJECT

private slots:
    void filter_data()
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

    void filter()
    {
        QFETCH(QStringList, bound);
        QFETCH(bool, labels);
        QFETCH(int, stations);

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
        QTEST(shown.filter("Data Rendering:").size(), "renderings");
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

    void fill_data()
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

    void fill()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QList<int>, bold);

        TableWidgetWithPaste table;
        HexaTable::setup(&table);
        QSignalSpy cellChanges(&table, &QTableWidget::cellChanged);
        HexaTable::update(&table, before, true);
        HexaTable::update(&table, before, true); // shown twice: nothing left bold
        bool differs = false;
        HexaTable::update(&table, after, false, &before, &differs);

        QTEST(differs, "changed");
        QCOMPARE(cellChanges.count(), 0);
        int visible = 0;
        for (int row = 0; row < HexaTable::Side; ++row)
            visible += table.isRowHidden(row) ? 0 : 1;
        QTEST(visible, "rows");
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

    void paste_data()
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

    void paste()
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

    void copyJoinsByRowThenColumn()
    {
        TableWidgetWithPaste table;
        HexaTable::update(&table, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112"), false);
        // Selected out of order, across two rows.
        for (int i : { 0x11, 0x0F, 0x02, 0x10, 0x01 })
            table.item(i / 16, i % 16)->setSelected(true);
        QTest::keySequence(&table, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QString("01\t02\t0F\n10\t11"));
    }

    void byteEditor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("one digit") << "a" << true;
        QTest::newRow("two digits") << "F0" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("not hexadecimal") << "g" << false;
        QTest::newRow("three digits") << "123" << false;
    }

    void byteEditor()
    {
        QFETCH(QString, typed);

        HexaTabDelegate delegate;
        QWidget parent;
        std::unique_ptr<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex()));
        auto* editor = qobject_cast<QLineEdit*>(widget.get());
        QVERIFY(editor && editor->validator());
        QCOMPARE(editor->maxLength(), 2);
        int pos = 0;
        QString text = typed;
        QTEST(editor->validator()->validate(text, pos) == QValidator::Acceptable, "accepted");
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("big");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        const auto h = [](const char* hex) { return QByteArray::fromHex(hex); };
        QTest::newRow("uint16 little") << h("0180") << "UInt16" << false << 0 << 15 << "32769" << true;
        QTest::newRow("uint16 big") << h("0180") << "UInt16" << true << 0 << 15 << "384" << true;
        QTest::newRow("uint16 across bytes") << h("341200") << "UInt16" << false << 4 << 19 << "291" << true;
        QTest::newRow("uint16 past data") << h("0180") << "UInt16" << false << 1 << 16 << "0" << false;
        QTest::newRow("uint16 zero width") << h("0180") << "UInt16" << false << 5 << 4 << "0" << false;
        QTest::newRow("hexa little") << h("0180") << "Hexa" << false << 0 << 15 << "0x8001" << true;
        QTest::newRow("hexa big") << h("0180") << "Hexa" << true << 0 << 15 << "0x0180" << true;
        QTest::newRow("bool first bit") << h("0180") << "Bool" << false << 0 << 0 << "1" << true;
        QTest::newRow("bool last bit") << h("0180") << "Bool" << false << 15 << 15 << "1" << true;
        QTest::newRow("bool byte edge") << h("0180") << "Bool" << false << 8 << 8 << "0" << true;
        QTest::newRow("bool past data") << h("0180") << "Bool" << false << 16 << 16 << "0" << false;
        QTest::newRow("bool two bits") << h("0180") << "Bool" << false << 0 << 1 << "0" << false;
        QTest::newRow("uint8 across bytes") << h("f00f") << "UInt8" << false << 4 << 11 << "255" << true;
        QTest::newRow("uint8 seven bits") << h("ff") << "UInt8" << false << 0 << 6 << "0" << false;
        QTest::newRow("uint8 last bit is the end") << h("ff") << "UInt8" << false << 1 << 8 << "127" << true;
        QTest::newRow("int8 min") << h("80") << "Int8" << false << 0 << 7 << "-128" << true;
        QTest::newRow("int16 min big") << h("8000") << "Int16" << true << 0 << 15 << "-32768" << true;
        QTest::newRow("int16 max little") << h("ff7f") << "Int16" << false << 0 << 15 << "32767" << true;
        QTest::newRow("uint32 max") << h("ffffffff") << "UInt32" << false << 0 << 31 << "4294967295" << true;
        QTest::newRow("int32 minus one") << h("ffffffff") << "Int32" << true << 0 << 31 << "-1" << true;
        QTest::newRow("uint64 max") << h("ffffffffffffffff") << "UInt64" << false << 0 << 63 << "18446744073709551615" << true;
        QTest::newRow("int64 min big") << h("8000000000000000") << "Int64" << true << 0 << 63 << "-9223372036854775808" << true;
        QTest::newRow("float one and a half") << h("0000c03f") << "Float" << false << 0 << 31 << "1.5" << true;
        QTest::newRow("float third big") << h("3eaaaaab") << "Float" << true << 0 << 31 << "0.333333" << true;
        QTest::newRow("float nan") << h("0000c07f") << "Float" << false << 0 << 31 << "nan" << true;
        QTest::newRow("float inf") << h("0000807f") << "Float" << false << 0 << 31 << "inf" << true;
        QTest::newRow("double one big") << h("3ff0000000000000") << "Double" << true << 0 << 63 << "1" << true;
        QTest::newRow("double large") << h("000000000000f043") << "Double" << false << 0 << 63 << "1.84467e+19" << true;
        QTest::newRow("ascii little") << QByteArray("ABC") << "Ascii" << false << 0 << 23 << "ABC" << true;
        QTest::newRow("ascii big") << QByteArray("ABC") << "Ascii" << true << 0 << 23 << "CBA" << true;
        QTest::newRow("ascii past data") << QByteArray("ABC") << "Ascii" << false << 8 << 31 << "" << false;
    }

    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QFETCH(bool, big);
        QFETCH(int, start);
        QFETCH(int, stop);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        bool fits = !ok;
        QCOMPARE(MnemoCodec::toText(field(type, big, start, stop), bytes, &fits), text);
        QCOMPARE(fits, ok);
        // The typed value reads the same.
        const QVariant value = MnemoCodec::toVariant(field(type, big, start, stop), bytes, &fits);
        QCOMPARE(fits, ok);
        if (ok && type != "Float" && type != "Double")
            QCOMPARE(value.toString(), type == "Bool" ? (text == "1" ? QString("true") : QString("false")) : text);
    }

    void encodeRoundTrip_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("big");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("value");
        QTest::newRow("bool mid byte") << "Bool" << false << 13 << 13 << "1";
        QTest::newRow("uint8 unaligned") << "UInt8" << false << 3 << 10 << "201";
        QTest::newRow("int8 min") << "Int8" << false << 8 << 15 << "-128";
        QTest::newRow("uint16 big") << "UInt16" << true << 8 << 23 << "384";
        QTest::newRow("int16 little unaligned") << "Int16" << false << 5 << 20 << "-12345";
        QTest::newRow("int32 min big") << "Int32" << true << 0 << 31 << "-2147483648";
        QTest::newRow("uint64 max") << "UInt64" << false << 16 << 79 << "18446744073709551615";
        QTest::newRow("int64 big unaligned") << "Int64" << true << 3 << 66 << "-9223372036854775807";
        QTest::newRow("float little") << "Float" << false << 8 << 39 << "-2.5";
        QTest::newRow("double big") << "Double" << true << 16 << 79 << "3.14159";
        QTest::newRow("ascii big") << "Ascii" << true << 8 << 31 << "Hey";
        QTest::newRow("hexa little") << "Hexa" << false << 0 << 15 << "0x8001";
        QTest::newRow("hexa big") << "Hexa" << true << 4 << 27 << "0xabcdef";
    }

    void encodeRoundTrip()
    {
        QFETCH(QString, type);
        QFETCH(bool, big);
        QFETCH(int, start);
        QFETCH(int, stop);
        QFETCH(QString, value);
        const MnemoField f = field(type, big, start, stop);
        const QByteArray before = QByteArray::fromHex("5aa55aa55aa55aa55aa55aa5");
        QByteArray bytes = before;
        QByteArray encoded;
        QVERIFY(MnemoCodec::encode(f, value, &encoded));
        QVERIFY(MnemoCodec::writeBits(f, encoded, &bytes));
        bool ok = false;
        QCOMPARE(MnemoCodec::toText(f, bytes, &ok), value);
        QVERIFY(ok);
        for (int bit = 0; bit < before.size() * 8; ++bit) {
            if (bit >= start && bit <= stop)
                continue;
            QVERIFY2(((before[bit / 8] ^ bytes[bit / 8]) >> (bit % 8) & 1) == 0, qPrintable(QString::number(bit)));
        }
        // A range past the data is refused and leaves the bytes alone.
        QByteArray shortBytes = before.left((stop) / 8);
        const QByteArray shortBefore = shortBytes;
        QVERIFY(!MnemoCodec::writeBits(f, encoded, &shortBytes));
        QCOMPARE(shortBytes, shortBefore);
    }

    void bitCuttingAgrees()
    {
        // The byte path and the bit array path cut the same bits, ranges at and past the end included.
        QRandomGenerator random(7);
        QByteArray bytes(9, '\0');
        for (char& b : bytes)
            b = char(random.bounded(256));
        const QBitArray bits = FipAnalyze::bytesToBits(bytes);
        for (int start = 0; start <= 72; start += 3) {
            for (int stop = start - 1; stop <= 73; stop += 5) {
                bool okBytes = false, okBits = true;
                const QByteArray a = FipAnalyze::rawFrameBitsToMnemoBytes(bytes, start, stop, &okBytes);
                const QByteArray b = FipAnalyze::rawFrameBitsToMnemoBytes(bits, start, stop, &okBits);
                QCOMPARE(okBytes, okBits);
                QCOMPARE(a, b);
                QCOMPARE(okBytes, stop >= start && stop < 72);
                if (okBytes)
                    QCOMPARE(a.size(), (stop - start + 8) / 8);
            }
        }
    }

    void tableModel()
    {
        // A design row of the mnemonic columns, under a rendering under a variable.
        QStandardItemModel design(0, MainDTModel::ColumnCount);
        auto row = [&](QStandardItem* parent, const QMap<int, QString>& cells) {
            QList<QStandardItem*> items;
            for (int column = 0; column < MainDTModel::ColumnCount; ++column)
                items << new QStandardItem(cells.value(column));
            (parent ? parent : design.invisibleRootItem())->appendRow(items);
            return items.first();
        };
        QStandardItem* variable = row(nullptr, { { 0, "VAR" }, { 2, "6" } });
        QStandardItem* rendering = row(variable, { { 0, "Render" }, { 2, "12" } });
        QStandardItem* hexa = row(rendering, { { 0, "Word" }, { 2, "13" }, { 59, "Hexa" }, { 60, "Little-Endian" },
                                               { 63, "0" }, { 64, "15" }, { 61, "raw" } });
        row(rendering, { { 0, "Speed" }, { 2, "13" }, { 59, "UInt16" }, { 60, "Big-Endian" }, { 63, "0" }, { 64, "15" } });

        MnemoCTModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QByteArray bytes = QByteArray::fromHex("0180");
        bool ok = true;
        QCOMPARE(MnemoCTModel::extractToStr(variable->index(), bytes, &ok), QString());
        QVERIFY(!ok);
        for (int r = 0; r < rendering->rowCount(); ++r)
            model.appendMnemo(rendering->child(r)->index(), bytes, 6);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, MnemoCTModel::ValueCol).data().toString(), QString("0x8001"));
        QCOMPARE(model.index(1, MnemoCTModel::ValueCol).data().toString(), QString("384"));
        QCOMPARE(model.index(0, MnemoCTModel::UnitCol).data().toString(), QString("raw"));
        QCOMPARE(model.index(0, MnemoCTModel::RenderingCol).data().toString(), QString("Render"));
        QCOMPARE(model.mnemonicOf(0), hexa->index());

        QSignalSpy refused(&model, &MnemoCTModel::invalidEntry);
        QVERIFY(!model.setData(model.index(0, MnemoCTModel::ValueCol), "0xZZ"));
        QCOMPARE(refused.count(), 1);
        QCOMPARE(refused.first().first().toString(), QString("Invalid hexa value entry."));
        QCOMPARE(model.index(0, MnemoCTModel::ValueCol).data().toString(), QString("0x8001"));
        QVERIFY(model.setData(model.index(0, MnemoCTModel::ValueCol), "0X00ff"));
        // Any text goes for other types; the main window checks it when encoding.
        QVERIFY(model.setData(model.index(1, MnemoCTModel::ValueCol), "12"));
        QCOMPARE(refused.count(), 1);
    }
};

QTEST_MAIN(TstMainCTModel)
#include "tst_mainctmodel.moc"
