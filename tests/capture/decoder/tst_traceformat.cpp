// Trace row fields and their text forms.

#include "capture/decoder/TraceFormat.h"
#include "capture/decoder/TraceRow.h"

#include <QtTest>

class TestTraceFormat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void grouped_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << quint64(0) << "0";
        QTest::newRow("999") << quint64(999) << "999";
        QTest::newRow("1000") << quint64(1000) << "1,000";
        QTest::newRow("123456") << quint64(123456) << "123,456";
        QTest::newRow("1234567") << quint64(1234567) << "1,234,567";
        QTest::newRow("max") << ~quint64(0) << "18,446,744,073,709,551,615";
    }
    void grouped()
    {
        QFETCH(quint64, value);
        QFETCH(QString, text);
        std::string out;
        TraceFormat::appendGrouped(out, value);
        QCOMPARE(QString::fromStdString(out), text);
        QCOMPARE(QString::fromStdString(out), QLocale(QLocale::English).toString(value));
    }

    void centiMicros_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << quint64(0) << "0.00 us";
        QTest::newRow("0.02") << quint64(2) << "0.02 us";
        QTest::newRow("3.20") << quint64(320) << "3.20 us";
        QTest::newRow("12345.67") << quint64(1234567) << "12345.67 us";
    }
    void centiMicros()
    {
        QFETCH(quint64, value);
        QFETCH(QString, text);
        std::string out;
        TraceFormat::appendCentiMicros(out, value);
        QCOMPARE(QString::fromStdString(out), text);
        QCOMPARE(QString::fromStdString(out), QString::asprintf("%4.2f us", value / 100.0));
    }

    void dateText_data()
    {
        QTest::addColumn<quint64>("micros");
        QTest::addColumn<QString>("text");
        QTest::newRow("epoch") << quint64(0) << "[1970-01-01] 00:00:00.000000";
        QTest::newRow("micro digits") << quint64(1767225600123456ULL) << "[2026-01-01] 00:00:00.123456";
        QTest::newRow("small remainder") << quint64(1767225661001002ULL) << "[2026-01-01] 00:01:01.001002";
    }
    void dateText()
    {
        QFETCH(quint64, micros);
        QFETCH(QString, text);
        TraceFormat::DateText date;
        std::string out;
        date.append(out, micros);
        QCOMPARE(QString::fromStdString(out), text);
        // The cached second must not leak into the next one.
        out.clear();
        date.append(out, micros + 1000000);
        const QDateTime next = QDateTime::fromMSecsSinceEpoch(qint64((micros + 1000000) / 1000));
        QCOMPARE(QString::fromStdString(out),
                 next.toString(QStringLiteral("[yyyy-MM-dd] hh:mm:ss.zzz")) + QStringLiteral("%1").arg(micros % 1000, 3, 10, QLatin1Char('0')));
    }

    void lineHasTwentyTwoFields()
    {
        TraceRow row;
        row.set(TraceRow::Number, "1");
        row.set(TraceRow::Fcs, "0xb569");
        const QByteArray line = row.line();
        QVERIFY(line.endsWith("\t0xb569\n"));
        QCOMPARE(line.count('\t'), 21);
        QVERIFY(line.startsWith("\t1\t"));
        row.clear();
        QCOMPARE(row.line(), QByteArray(21, '\t') + '\n');
    }

    void textsCannotSplitTheLine()
    {
        TraceRow row;
        row.setText(TraceRow::Mnemonic, QStringLiteral("a\tb\nc\rd é"));
        QCOMPARE(row.text(TraceRow::Mnemonic), QStringLiteral("a b c d é"));
        QCOMPARE(row.line().count('\t'), 21);
        QCOMPARE(row.line().count('\n'), 1);
    }

    void fromLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("column");
        QTest::addColumn<QByteArray>("value");
        TraceRow full;
        for (int c = 0; c < TraceRow::FieldCount; ++c)
            full.field(c) = "f" + std::to_string(c);
        QTest::newRow("full first") << full.line() << 0 << QByteArray("f0");
        QTest::newRow("full last") << full.line() << 21 << QByteArray("f21");
        QTest::newRow("CRLF") << QByteArray("a\tb\r\n") << 1 << QByteArray("b");
        QTest::newRow("short line") << QByteArray("a\tb") << 5 << QByteArray();
        QTest::newRow("extra fields") << full.line().chopped(1) + "\textra\n" << 21 << QByteArray("f21");
    }
    void fromLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, column);
        QFETCH(QByteArray, value);
        const TraceRow row = TraceRow::fromLine(line);
        QCOMPARE(QByteArray::fromStdString(row.field(column)), value);
    }
};

QTEST_GUILESS_MAIN(TestTraceFormat)
#include "tst_traceformat.moc"
