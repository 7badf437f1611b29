// Mnemonic values cut from known bytes and written back into them.

#include "control/FipAnalyze.h"
#include "control/MnemoCTModel.h"
#include "control/MnemoCodec.h"
#include "design/MainDTModel.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>

class TstMnemoCodec : public QObject
{
    Q_OBJECT
private slots:
    void decode_data();
    void decode();
    void encodeRoundTrip_data();
    void encodeRoundTrip();
    void bitCuttingAgrees();
    void tableModel();
};

namespace {

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

void TstMnemoCodec::decode_data()
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
    QTest::newRow("hexa past data") << h("0180") << "Hexa" << false << 8 << 23 << "0x" << false;
    QTest::newRow("bool first bit") << h("0180") << "Bool" << false << 0 << 0 << "1" << true;
    QTest::newRow("bool last bit") << h("0180") << "Bool" << false << 15 << 15 << "1" << true;
    QTest::newRow("bool byte edge") << h("0180") << "Bool" << false << 8 << 8 << "0" << true;
    QTest::newRow("bool past data") << h("0180") << "Bool" << false << 16 << 16 << "0" << false;
    QTest::newRow("bool two bits") << h("0180") << "Bool" << false << 0 << 1 << "0" << false;
    QTest::newRow("uint8 across bytes") << h("f00f") << "UInt8" << false << 4 << 11 << "255" << true;
    QTest::newRow("uint8 seven bits") << h("ff") << "UInt8" << false << 0 << 6 << "0" << false;
    QTest::newRow("uint8 last bit is the end") << h("ff") << "UInt8" << false << 1 << 8 << "127" << true;
    QTest::newRow("int8 min") << h("80") << "Int8" << false << 0 << 7 << "-128" << true;
    QTest::newRow("int8 max") << h("7f") << "Int8" << false << 0 << 7 << "127" << true;
    QTest::newRow("int16 min big") << h("8000") << "Int16" << true << 0 << 15 << "-32768" << true;
    QTest::newRow("int16 max little") << h("ff7f") << "Int16" << false << 0 << 15 << "32767" << true;
    QTest::newRow("uint32 max") << h("ffffffff") << "UInt32" << false << 0 << 31 << "4294967295" << true;
    QTest::newRow("int32 minus one") << h("ffffffff") << "Int32" << true << 0 << 31 << "-1" << true;
    QTest::newRow("uint64 max") << h("ffffffffffffffff") << "UInt64" << false << 0 << 63 << "18446744073709551615" << true;
    QTest::newRow("int64 min big") << h("8000000000000000") << "Int64" << true << 0 << 63 << "-9223372036854775808" << true;
    QTest::newRow("int64 past data") << h("0000000000000000") << "Int64" << false << 8 << 71 << "0" << false;
    QTest::newRow("float one and a half") << h("0000c03f") << "Float" << false << 0 << 31 << "1.5" << true;
    QTest::newRow("float third big") << h("3eaaaaab") << "Float" << true << 0 << 31 << "0.333333" << true;
    QTest::newRow("float nan") << h("0000c07f") << "Float" << false << 0 << 31 << "nan" << true;
    QTest::newRow("float inf") << h("0000807f") << "Float" << false << 0 << 31 << "inf" << true;
    QTest::newRow("float minus inf") << h("000080ff") << "Float" << false << 0 << 31 << "-inf" << true;
    QTest::newRow("double one big") << h("3ff0000000000000") << "Double" << true << 0 << 63 << "1" << true;
    QTest::newRow("double large") << h("000000000000f043") << "Double" << false << 0 << 63 << "1.84467e+19" << true;
    QTest::newRow("ascii little") << QByteArray("ABC") << "Ascii" << false << 0 << 23 << "ABC" << true;
    QTest::newRow("ascii big") << QByteArray("ABC") << "Ascii" << true << 0 << 23 << "CBA" << true;
    QTest::newRow("ascii past data") << QByteArray("ABC") << "Ascii" << false << 8 << 31 << "" << false;
}

void TstMnemoCodec::decode()
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

void TstMnemoCodec::encodeRoundTrip_data()
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

void TstMnemoCodec::encodeRoundTrip()
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

void TstMnemoCodec::bitCuttingAgrees()
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

void TstMnemoCodec::tableModel()
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

QTEST_MAIN(TstMnemoCodec)
#include "tst_mnemocodec.moc"
