#include "design/FipCalculator.h"

#include <QtTest>

// Bit-by-bit CRC-16, most significant bit first, as a reference for the tables.
static quint16 bitwiseCrc(quint16 poly, quint16 start, const QByteArray& data)
{
    quint16 crc = start;
    for (char c : data) {
        crc ^= static_cast<quint16>(static_cast<quint8>(c) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ poly) : static_cast<quint16>(crc << 1);
    }
    return crc;
}

class TestFipCalculator : public QObject
{
    Q_OBJECT

private slots:
    void speedTexts_data();
    void speedTexts();
    void unknownSpeedText_data();
    void unknownSpeedText();

    void silenceTime_data();
    void silenceTime();
    void silenceListCoversRange_data();
    void silenceListCoversRange();
    void turnAroundListCoversRange_data();
    void turnAroundListCoversRange();
    void unknownSpeedGivesNoTimes();

    void tSlot_data();
    void tSlot();
    void tSlotLists_data();
    void tSlotLists();

    void floatUsToString_data();
    void floatUsToString();

    void crcTablesMatchBitwise();
    void fcs_data();
    void fcs();
};

void TestFipCalculator::speedTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("bitTime");
    QTest::newRow("31.25k") << 0 << "31.25 kbits/s" << 32.0f;
    QTest::newRow("1M") << 1 << "1 Mbits/s" << 1.0f;
    QTest::newRow("2.5M") << 2 << "2.5 Mbits/s" << 0.4f;
    QTest::newRow("5M") << 3 << "5 Mbits/s" << 0.2f;
}

void TestFipCalculator::speedTexts()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(float, bitTime);
    FipCalculator calc;
    bool ok = false;
    QCOMPARE(calc.getSpeedStr(&ok, static_cast<unsigned char>(code)), text);
    QVERIFY(ok);
    ok = false;
    QCOMPARE(int(calc.getSpeedFromStr(&ok, text)), code);
    QVERIFY(ok);
    QCOMPARE(calc.getBitTime(text), bitTime);
    QCOMPARE(FipCalculator::getSpeedList().value(code), text);
    // a null ok pointer is allowed
    QCOMPARE(calc.getSpeedStr(nullptr, static_cast<unsigned char>(code)), text);
}

void TestFipCalculator::unknownSpeedText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("case") << "1 mbits/s";
    QTest::newRow("trailing blank") << "5 Mbits/s ";
    QTest::newRow("other") << "10 Mbits/s";
}

void TestFipCalculator::unknownSpeedText()
{
    QFETCH(QString, text);
    FipCalculator calc;
    bool ok = true;
    QCOMPARE(int(calc.getSpeedFromStr(&ok, text)), int(FipCalculator::SpeedUnknown));
    QVERIFY(!ok);
    QCOMPARE(calc.getBitTime(text), 0.0f);
    quint8 min = 1;
    QVERIFY(!calc.getSilenceRange(text, &min, nullptr));
    QVERIFY(!calc.getTurnAroundRange(text, &min, nullptr));
}

void TestFipCalculator::silenceTime_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("value");
    QTest::addColumn<float>("us");
    QTest::addColumn<QString>("text");
    QTest::newRow("1M min") << "1 Mbits/s" << 27 << 135.0f << "135 us";
    QTest::newRow("1M below") << "1 Mbits/s" << 26 << 0.0f << "0 us";
    QTest::newRow("1M max") << "1 Mbits/s" << 63 << 315.0f << "315 us";
    QTest::newRow("1M above") << "1 Mbits/s" << 64 << 0.0f << "0 us";
    QTest::newRow("31.25k min") << "31.25 kbits/s" << 4 << 4096.0f << "4.096 ms";
    QTest::newRow("31.25k below") << "31.25 kbits/s" << 3 << 0.0f << "0 us";
    QTest::newRow("31.25k max") << "31.25 kbits/s" << 63 << 64512.0f << "64.512 ms";
    QTest::newRow("2.5M min") << "2.5 Mbits/s" << 24 << 96.0f << "96 us";
    QTest::newRow("2.5M below") << "2.5 Mbits/s" << 23 << 0.0f << "0 us";
    QTest::newRow("5M min") << "5 Mbits/s" << 23 << 92.0f << "92 us";
    QTest::newRow("5M below") << "5 Mbits/s" << 22 << 0.0f << "0 us";
    QTest::newRow("5M 255") << "5 Mbits/s" << 255 << 0.0f << "0 us";
}

void TestFipCalculator::silenceTime()
{
    QFETCH(QString, speed);
    QFETCH(int, value);
    QFETCH(float, us);
    QFETCH(QString, text);
    FipCalculator calc;
    if (us == 0.0f)
        QTest::ignoreMessage(QtDebugMsg, "getSilenceTime - Hors Plage");
    QCOMPARE(calc.getSilenceTime(speed, static_cast<unsigned char>(value)), us);
    if (us == 0.0f)
        QTest::ignoreMessage(QtDebugMsg, "getSilenceTime - Hors Plage");
    QCOMPARE(calc.getSilenceTimeStr(speed, static_cast<unsigned char>(value)), text);
}

void TestFipCalculator::silenceListCoversRange_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("min");
    QTest::addColumn<double>("unit");
    QTest::newRow("31.25k") << "31.25 kbits/s" << 4 << 1024.0;
    QTest::newRow("1M") << "1 Mbits/s" << 27 << 5.0;
    QTest::newRow("2.5M") << "2.5 Mbits/s" << 24 << 4.0;
    QTest::newRow("5M") << "5 Mbits/s" << 23 << 4.0;
}

void TestFipCalculator::silenceListCoversRange()
{
    QFETCH(QString, speed);
    QFETCH(int, min);
    QFETCH(double, unit);
    FipCalculator calc;
    quint8 lo = 0;
    quint8 hi = 0;
    QVERIFY(calc.getSilenceRange(speed, &lo, &hi));
    QCOMPARE(int(lo), min);
    QCOMPARE(int(hi), 63);
    const QStringList list = calc.getSilenceTimeList(speed);
    QCOMPARE(list.size(), 63 - min + 1);
    for (int i = 0; i < list.size(); ++i)
        QCOMPARE(list.at(i), FipCalculator::floatUsToString(float((min + i) * unit)));
}

void TestFipCalculator::turnAroundListCoversRange_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("min");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    QTest::newRow("31.25k") << "31.25 kbits/s" << 3 << "12.288 ms" << "258.048 ms";
    QTest::newRow("1M") << "1 Mbits/s" << 45 << "28.125 us" << "39.375 us";
    QTest::newRow("2.5M") << "2.5 Mbits/s" << 26 << "5.2 us" << "12.6 us";
    QTest::newRow("5M") << "5 Mbits/s" << 63 << "6.3 us" << "6.3 us";
}

void TestFipCalculator::turnAroundListCoversRange()
{
    QFETCH(QString, speed);
    QFETCH(int, min);
    QFETCH(QString, first);
    QFETCH(QString, last);
    FipCalculator calc;
    const QStringList list = calc.getTurnAroundTimeList(speed);
    QCOMPARE(list.size(), 63 - min + 1);
    QCOMPARE(list.first(), first);
    QCOMPARE(list.last(), last);
    QCOMPARE(calc.getTurnAroundTimeStr(speed, static_cast<unsigned char>(min)), first);
    QCOMPARE(calc.getTurnAroundTimeStr(speed, 63), last);

    QTest::ignoreMessage(QtDebugMsg, "getTurnAroundTime - Hors Plage");
    QCOMPARE(calc.getTurnAroundTime(speed, static_cast<unsigned char>(min - 1)), 0.0f);
    QTest::ignoreMessage(QtDebugMsg, "getTurnAroundTime - Hors Plage");
    QCOMPARE(calc.getTurnAroundTime(speed, 64), 0.0f);
}

void TestFipCalculator::unknownSpeedGivesNoTimes()
{
    FipCalculator calc;
    QCOMPARE(calc.getSilenceTime("9600 bauds", 30), 0.0f);
    QCOMPARE(calc.getTurnAroundTime("9600 bauds", 30), 0.0f);
    QVERIFY(calc.getSilenceTimeList("9600 bauds").isEmpty());
    QVERIFY(calc.getTurnAroundTimeList("9600 bauds").isEmpty());
    for (unsigned char code : { 4, 255 }) {
        bool ok = true;
        QVERIFY(calc.getSpeedStr(&ok, code).isEmpty());
        QVERIFY(!ok);
        QVERIFY(calc.getSpeedStr(nullptr, code).isEmpty());
    }
}

void TestFipCalculator::tSlot_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<int>("code");
    QTest::addColumn<float>("ms");
    QTest::addColumn<QString>("text");
    QTest::newRow("31.25k 0") << "31.25 kbits/s" << 0 << 0.1f << "100 us";
    QTest::newRow("31.25k 3") << "31.25 kbits/s" << 3 << 4.0f << "4 ms";
    QTest::newRow("1M 0") << "1 Mbits/s" << 0 << 0.0625f << "62.5 us";
    // only the two low bits of the code count
    QTest::newRow("5M 7") << "5 Mbits/s" << 7 << 2.0f << "2 ms";
    QTest::newRow("1M 4") << "1 Mbits/s" << 4 << 0.0625f << "62.5 us";
    QTest::newRow("31.25k 255") << "31.25 kbits/s" << 255 << 4.0f << "4 ms";
    QTest::newRow("unknown 0") << "fast" << 0 << 1.0f << "1 ms";
}

void TestFipCalculator::tSlot()
{
    QFETCH(QString, speed);
    QFETCH(int, code);
    QFETCH(float, ms);
    QFETCH(QString, text);
    FipCalculator calc;
    QCOMPARE(calc.getFloatMsTSlotTime(speed, static_cast<unsigned char>(code)), ms);
    QCOMPARE(calc.getTSlotTimeStr(speed, static_cast<unsigned char>(code)), text);
}

void TestFipCalculator::tSlotLists_data()
{
    QTest::addColumn<QString>("speed");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("31.25k") << "31.25 kbits/s" << QStringList { "100 us", "400 us", "1 ms", "4 ms" };
    QTest::newRow("1M") << "1 Mbits/s" << QStringList { "62.5 us", "250 us", "625 us", "2.5 ms" };
    QTest::newRow("2.5M") << "2.5 Mbits/s" << QStringList { "50 us", "200 us", "500 us", "2 ms" };
    QTest::newRow("5M") << "5 Mbits/s" << QStringList { "50 us", "200 us", "500 us", "2 ms" };
    QTest::newRow("unknown") << "31.25 Kbits/s" << QStringList { "1 ms", "1 ms", "1 ms", "1 ms" };
}

void TestFipCalculator::tSlotLists()
{
    QFETCH(QString, speed);
    QFETCH(QStringList, texts);
    FipCalculator calc;
    QCOMPARE(calc.getTSlotTimeList(speed), texts);
}

void TestFipCalculator::floatUsToString_data()
{
    QTest::addColumn<float>("us");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0.0f << "0 us";
    QTest::newRow("0.2") << 0.2f << "0.2 us";
    QTest::newRow("62.5") << 62.5f << "62.5 us";
    QTest::newRow("999.999") << 999.999f << "999.999 us";
    QTest::newRow("1000") << 1000.0f << "1 ms";
    QTest::newRow("1000.5") << 1000.5f << "1.0005 ms";
    QTest::newRow("64512") << 64512.0f << "64.512 ms";
    QTest::newRow("999999") << 999999.0f << "999.999 ms";
    QTest::newRow("1000000") << 1000000.0f << "1 s";
    QTest::newRow("1500000") << 1500000.0f << "1.5 s";
    QTest::newRow("12345678") << 12345678.0f << "12.3457 s";
}

void TestFipCalculator::floatUsToString()
{
    QFETCH(float, us);
    QFETCH(QString, text);
    QCOMPARE(FipCalculator::floatUsToString(us), text);
}

void TestFipCalculator::crcTablesMatchBitwise()
{
    FipCalculator calc;
    for (int i = 0; i < 256; ++i) {
        const QByteArray byte(1, static_cast<char>(i));
        QCOMPARE(calc.crcTable1021()[size_t(i)], bitwiseCrc(0x1021, 0, byte));
        QCOMPARE(calc.crcTable1DCF()[size_t(i)], bitwiseCrc(0x1DCF, 0, byte));
    }
    // rebuilding keeps the same tables
    const FipCalculator::CrcTable before = calc.crcTable1DCF();
    calc.initCRCTables();
    QVERIFY(before == calc.crcTable1DCF());
    QCOMPARE(calc.crcTable1021()[1], quint16(0x1021));
    QCOMPARE(calc.crcTable1DCF()[1], quint16(0x1DCF));
    QCOMPARE(calc.crcTable1021()[0x10], quint16(0x1231)); // an entry of the well-known 0x1021 table
    // a frame made of its FCS only: nothing to run over
    QCOMPARE(calc.computeFcs(nullptr, 0, true), quint16(0xFFFF));
    QCOMPARE(calc.computeFcs(nullptr, 0, false), quint16(0x0000));
}

void TestFipCalculator::fcs_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("one byte") << QByteArray::fromHex("03");
    QTest::newRow("id_dat") << QByteArray::fromHex("031234");
    QTest::newRow("rp_dat") << QByteArray::fromHex("0240050102030405");
    QTest::newRow("all values") << [] {
        QByteArray a;
        for (int i = 0; i < 256; ++i)
            a.append(static_cast<char>(i));
        return a;
    }();
    QTest::newRow("check string") << QByteArray("123456789");
}

void TestFipCalculator::fcs()
{
    QFETCH(QByteArray, data);
    FipCalculator calc;
    QCOMPARE(calc.computeFcs(data, true), quint16(~bitwiseCrc(0x1021, 0x0000, data)));
    QCOMPARE(calc.computeFcs(data, false), quint16(~bitwiseCrc(0x1DCF, 0xFFFF, data)));
    if (data == "123456789") // the well-known XMODEM check value of polynomial 0x1021
        QCOMPARE(FipCalculator::crc16(calc.crcTable1021(), 0, reinterpret_cast<const quint8*>(data.constData()), data.size()),
                 quint16(0x31C3));

    // a frame followed by its FCS (high byte first) checks as a whole
    const quint16 fcs = calc.computeFcs(data, false);
    QByteArray frame = data;
    frame.append(static_cast<char>(fcs >> 8));
    frame.append(static_cast<char>(fcs & 0xFF));
    QCOMPARE(calc.computeFcs(reinterpret_cast<const quint8*>(frame.constData()), frame.size() - 2, false), fcs);
    // a single flipped bit is caught
    frame[0] = static_cast<char>(frame.at(0) ^ 0x01);
    QVERIFY(calc.computeFcs(frame.left(frame.size() - 2), false) != fcs);
}

QTEST_GUILESS_MAIN(TestFipCalculator)
#include "tst_fipcalculator.moc"
