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
    // Every rule of one speed: its code and bit time, the silence and turnaround ranges with
    // their times, and the TSlot durations. A speed text not in the list has none of them.
    void speeds_data()
    {
        QTest::addColumn<QString>("speed");
        QTest::addColumn<int>("code");
        QTest::addColumn<float>("bitTime");
        QTest::addColumn<int>("silenceMin");
        QTest::addColumn<QString>("silenceFirst");
        QTest::addColumn<QString>("silenceLast");
        QTest::addColumn<int>("turnMin");
        QTest::addColumn<QString>("turnFirst");
        QTest::addColumn<QString>("turnLast");
        QTest::addColumn<QStringList>("tslots");
        QTest::newRow("31.25k") << "31.25 kbits/s" << 0 << 32.0f << 4 << "4.096 ms" << "64.512 ms" << 3
                                << "12.288 ms" << "258.048 ms" << QStringList { "100 us", "400 us", "1 ms", "4 ms" };
        QTest::newRow("1M") << "1 Mbits/s" << 1 << 1.0f << 27 << "135 us" << "315 us" << 45 << "28.125 us"
                            << "39.375 us" << QStringList { "62.5 us", "250 us", "625 us", "2.5 ms" };
        QTest::newRow("2.5M") << "2.5 Mbits/s" << 2 << 0.4f << 24 << "96 us" << "252 us" << 26 << "5.2 us"
                              << "12.6 us" << QStringList { "50 us", "200 us", "500 us", "2 ms" };
        QTest::newRow("5M") << "5 Mbits/s" << 3 << 0.2f << 23 << "92 us" << "252 us" << 63 << "6.3 us"
                            << "6.3 us" << QStringList { "50 us", "200 us", "500 us", "2 ms" };
        const QStringList oneMs { "1 ms", "1 ms", "1 ms", "1 ms" };
        for (const char* unknown : { "", "1 mbits/s", "5 Mbits/s ", "10 Mbits/s", "31.25 Kbits/s" })
            QTest::addRow("unknown '%s'", unknown) << unknown << int(FipCalculator::SpeedUnknown) << 0.0f << 0
                                                   << "" << "" << 0 << "" << "" << oneMs;
    }
    void speeds()
    {
        QFETCH(QString, speed);
        QFETCH(int, code);
        QFETCH(int, silenceMin);
        QFETCH(int, turnMin);
        QFETCH(QStringList, tslots);
        FipCalculator calc;
        const bool known = code != FipCalculator::SpeedUnknown;
        bool ok = !known;
        QCOMPARE(int(calc.getSpeedFromStr(&ok, speed)), code);
        QCOMPARE(ok, known);
        if (!known) { // nor is a code past the list
            QVERIFY(calc.getSpeedStr(&ok, quint8(FipCalculator::getSpeedList().size())).isEmpty());
            QVERIFY(!ok);
            QVERIFY(calc.getSpeedStr(nullptr, 255).isEmpty());
        }
        QTEST(calc.getBitTime(speed), "bitTime");
        QCOMPARE(calc.getTSlotTimeList(speed), tslots);
        for (int c = 0; c < 4; ++c) {
            QCOMPARE(FipCalculator::floatUsToString(calc.getFloatMsTSlotTime(speed, quint8(c)) * 1000), tslots.at(c));
            QCOMPARE(calc.getTSlotTimeStr(speed, quint8(c | 0xfc)), tslots.at(c)); // only the two low bits count
        }
        quint8 low = 0, high = 0;
        QCOMPARE(calc.getSilenceRange(speed, &low, &high), known);
        QCOMPARE(calc.getTurnAroundRange(speed, &low, nullptr), known);
        if (!known) {
            QCOMPARE(calc.getSilenceTime(speed, 30), 0.0f);
            QCOMPARE(calc.getTurnAroundTime(speed, 30), 0.0f);
            QVERIFY(calc.getSilenceTimeList(speed).isEmpty());
            QVERIFY(calc.getTurnAroundTimeList(speed).isEmpty());
            return;
        }
        QCOMPARE(calc.getSpeedStr(&ok, quint8(code)), speed);

        QVERIFY(calc.getSilenceRange(speed, &low, &high));
        QCOMPARE(int(low), silenceMin);
        QCOMPARE(int(high), 63);
        const QStringList silences = calc.getSilenceTimeList(speed);
        QCOMPARE(silences.size(), 63 - silenceMin + 1);
        QTEST(silences.first(), "silenceFirst");
        QTEST(silences.last(), "silenceLast"); // the lists are the texts of their ranges
        for (int outside : { silenceMin - 1, 64, 255 }) {
            QTest::ignoreMessage(QtDebugMsg, "getSilenceTime - Hors Plage");
            QCOMPARE(calc.getSilenceTime(speed, quint8(outside)), 0.0f);
        }
        QTest::ignoreMessage(QtDebugMsg, "getSilenceTime - Hors Plage");
        QCOMPARE(calc.getSilenceTimeStr(speed, quint8(silenceMin - 1)), QString("0 us"));

        const QStringList turns = calc.getTurnAroundTimeList(speed);
        QCOMPARE(turns.size(), 63 - turnMin + 1);
        QTEST(turns.first(), "turnFirst");
        QTEST(turns.last(), "turnLast");
        for (int outside : { turnMin - 1, 64 }) {
            QTest::ignoreMessage(QtDebugMsg, "getTurnAroundTime - Hors Plage");
            QCOMPARE(calc.getTurnAroundTime(speed, quint8(outside)), 0.0f);
        }
    }

    // The unit changes at 1000; the speeds' own lists hold the common values.
    void floatUsToString()
    {
        QStringList texts;
        for (float us : { 0.2f, 999.999f, 1000.5f, 999999.0f, 1000000.0f, 1500000.0f, 12345678.0f })
            texts << FipCalculator::floatUsToString(us);
        QCOMPARE(texts, (QStringList { "0.2 us", "999.999 us", "1.0005 ms", "999.999 ms", "1 s", "1.5 s", "12.3457 s" }));
    }

    void crcTablesMatchBitwise()
    {
        FipCalculator calc;
        for (int i = 0; i < 256; ++i) {
            const QByteArray byte(1, static_cast<char>(i));
            QCOMPARE(calc.crcTable1021()[size_t(i)], bitwiseCrc(0x1021, 0, byte));
            QCOMPARE(calc.crcTable1DCF()[size_t(i)], bitwiseCrc(0x1DCF, 0, byte));
        }
        // a frame made of its FCS only: nothing to run over
        QCOMPARE(calc.computeFcs(nullptr, 0, true), quint16(0xFFFF));
        QCOMPARE(calc.computeFcs(nullptr, 0, false), quint16(0x0000));
    }

    void fcs_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("rp_dat") << QByteArray::fromHex("0240050102030405");
        QByteArray all;
        for (int i = 0; i < 256; ++i)
            all.append(static_cast<char>(i));
        QTest::newRow("all values") << all;
        QTest::newRow("check string") << QByteArray("123456789");
    }
    void fcs()
    {
        QFETCH(QByteArray, data);
        FipCalculator calc;
        QCOMPARE(calc.computeFcs(data, true), quint16(~bitwiseCrc(0x1021, 0x0000, data)));
        QCOMPARE(calc.computeFcs(data, false), quint16(~bitwiseCrc(0x1DCF, 0xFFFF, data)));
        if (data == "123456789") // the well-known XMODEM check value of polynomial 0x1021
            QCOMPARE(FipCalculator::crc16(calc.crcTable1021(), 0, reinterpret_cast<const quint8*>(data.constData()),
                                          data.size()),
                     quint16(0x31C3));
        // a frame followed by its FCS (high byte first) checks as a whole
        const quint16 fcs = calc.computeFcs(data, false);
        QByteArray frame = data;
        frame.append(static_cast<char>(fcs >> 8));
        frame.append(static_cast<char>(fcs & 0xFF));
        QCOMPARE(calc.computeFcs(reinterpret_cast<const quint8*>(frame.constData()), frame.size() - 2, false), fcs);
    }
};

QTEST_GUILESS_MAIN(TestFipCalculator)
#include "tst_fipcalculator.moc"
