// The display filter: parsing (every error with its position), matching
// against hand-built trace lines, and scanning a real trace file.
#include "analysis/filter/FrameFilter.h"
#include "analysis/filter/FrameFilterScan.h"
#include "capture/decoder/TraceRow.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const quint64 kAnchor = 1765087200000000ULL;

// A trace line as the decoder writes it, from the few fields a case needs.
QByteArray line(const QString& ctrl, const QString& id, const QString& data = QString(), quint64 micros = 0,
                const QString& mnemonic = QString())
{
    TraceRow row;
    row.set(TraceRow::Number, "1,234");
    row.setText(TraceRow::AbsoluteDateTick, QString::number(kAnchor + micros));
    row.setText(TraceRow::Control, ctrl);
    row.setText(TraceRow::Identifier, id);
    if (ctrl.startsWith(QLatin1String("RP_DAT")))
        row.set(TraceRow::Pdu, "SM_MPS");
    const int bytes = data.startsWith(QLatin1String("Type:")) ? 0 : data.split(' ', Qt::SkipEmptyParts).size();
    row.setText(TraceRow::DataLength, QString::number(bytes));
    row.setText(TraceRow::Mnemonic, mnemonic);
    row.setText(TraceRow::Data, data);
    row.set(TraceRow::Fcs, "0xbeef");
    return row.line();
}

} // namespace

class TestFrameFilter : public QObject
{
    Q_OBJECT
private slots:
    void errors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("position");

        QTest::newRow("unknown field") << "ident == 1" << "Unknown field \"ident\"" << 0;
        QTest::newRow("field names are lower case") << "ID == 1" << "Unknown field \"ID\"" << 0;
        QTest::newRow("single =") << "id = 1" << "Use \"==\" to compare" << 3;
        QTest::newRow("no operator") << "id 0x10" << "Expected an operator after \"id\", found \"0x10\"" << 3;
        QTest::newRow("no value") << "id ==" << "The expression ends where a value was expected after \"==\"" << 5;
        QTest::newRow("value is an operator") << "id == <" << "Expected a value after \"id\", found \"<\"" << 6;
        QTest::newRow("not a number") << "len > ten" << "\"ten\" is not a number" << 6;
        QTest::newRow("bad hex") << "id == 0xzz" << "\"0xzz\" is not a number" << 6;
        QTest::newRow("no field") << "and id" << "Expected a field name, found \"and\"" << 0;
        QTest::newRow("ends after and") << "error and" << "The expression ends where a field was expected" << 9;
        QTest::newRow("trailing") << "error error" << "Expected an operator after \"error\", found \"error\"" << 6;
        QTest::newRow("stray paren") << "error )" << "Unexpected \")\"" << 6;
        QTest::newRow("open paren") << "(error or id" << "Missing \")\" for the \"(\" at 1" << 12;
        QTest::newRow("operator on condition") << "error == 1" << "\"==\" does not apply to error" << 6;
        QTest::newRow("contains on number") << "id contains 1" << "\"contains\" does not apply to id" << 3;
        QTest::newRow("order on control") << "ctrl < RP_DAT" << "\"<\" does not apply to ctrl" << 5;
        QTest::newRow("unknown control") << "ctrl == RP_XYZ" << "\"RP_XYZ\" is not a control name or code" << 8;
        QTest::newRow("unknown control code") << "ctrl == 0x07" << "\"0x07\" is not a control name or code" << 8;
        QTest::newRow("empty control") << "ctrl == \"\"" << "\"\" is not a control name or code" << 8;
        QTest::newRow("empty control in set") << "ctrl in {RP_DAT \"\"}" << "\"\" is not a control name or code" << 16;
        QTest::newRow("odd digits") << "data contains 40 2" << "\"2\" has an odd number of hexadecimal digits" << 17;
        QTest::newRow("odd digits joined") << "data == 40:020" << "\"020\" has an odd number of hexadecimal digits" << 11;
        QTest::newRow("not bytes") << "data contains xyz" << "\"xyz\" is not a byte in hexadecimal" << 14;
        QTest::newRow("bad regex") << "mnemonic matches \"(ab\"" << "Invalid regular expression: missing closing parenthesis" << 21;
        QTest::newRow("open quote") << "pdu == \"SM" << "Missing closing quote" << 7;
        QTest::newRow("set without brace") << "id in 1" << "Expected \"{\" after \"in\", found \"1\"" << 6;
        QTest::newRow("open set") << "id in {1 2" << "Missing \"}\" for the \"{\" at 7" << 10;
        QTest::newRow("empty set") << "id in {}" << "The set for id is empty" << 6;
        QTest::newRow("backward range") << "id in {0x20..0x10}" << "The range 0x20..0x10 runs backwards" << 7;
        QTest::newRow("open range") << "id in {0x20..}" << "The range starting with \"0x20\" has no end" << 7;
        QTest::newRow("stray character") << "id == 1 # 2" << "Unexpected \"#\"" << 8;
        QString chain = "error";
        for (int i = 0; i < 2500; ++i)
            chain += " or error";
        QTest::newRow("too long") << chain << "The expression is too long" << 9 * 2000 + 6;
        QTest::newRow("too deep") << QString(300, '(') + "error" << "The expression nests too deeply" << 201;
    }

    void errors()
    {
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(int, position);
        const FrameFilter f = FrameFilter::parse(text);
        QVERIFY(!f.isValid());
        QCOMPARE(f.error().message, message);
        QCOMPARE(f.error().position, position);
        QVERIFY(!f.matches(line("RP_DAT", "0x0100")));
    }

    void matches_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("match");

        const QByteArray rpDat = line("RP_DAT", "0x0100", "40 02 ff ", 12500000);
        const QByteArray idDat = line("ID_DAT", "0x0300", QString(), 13000000);
        const QByteArray fcs = line("ERROR", "0x0100", "Type: FCS Error [read = 0x1234, calculated = 0x4321] - Data Rescue: 02 40 02 ");
        const QByteArray size = line("ERROR", "0x0100", "Type: Invalid Data Size - Data Rescue: 02 ");
        const QByteArray label = line("RP_DAT", "0x0100", "123.5", 0, "Speed");

        QTest::newRow("empty matches all") << "  " << idDat << true;
        QTest::newRow("id ==") << "id == 0x0100" << rpDat << true;
        QTest::newRow("id == decimal") << "id == 256" << rpDat << true;
        QTest::newRow("id !=") << "id != 0x0100" << rpDat << false;
        QTest::newRow("len <") << "len < 3" << rpDat << false;
        QTest::newRow("len <=") << "len <= 3" << rpDat << true;
        QTest::newRow("len >") << "len > 2" << rpDat << true;
        QTest::newRow("len >=") << "len >= 4" << rpDat << false;
        QTest::newRow("no with grouping") << "no == 1234" << rpDat << true;
        QTest::newRow("fcs") << "fcs == 0xBEEF" << rpDat << true;
        QTest::newRow("time window") << "time > 12.5 and time < 13" << rpDat << false;
        QTest::newRow("time inclusive") << "time >= 12.5 and time < 13" << rpDat << true;
        QTest::newRow("time negative") << "time > -1" << rpDat << true;
        QTest::newRow("ctrl by name") << "id == 0x0100 and ctrl == RP_DAT" << rpDat << true;
        QTest::newRow("ctrl by code") << "ctrl == 0x03" << idDat << true;
        QTest::newRow("ctrl any case") << "ctrl == rp_dat" << rpDat << true;
        QTest::newRow("ctrl set") << "ctrl in {ID_DAT 0x02}" << idDat << true;
        QTest::newRow("ctrl contains") << "ctrl contains DAT" << idDat << true;
        QTest::newRow("ctrl matches") << "ctrl matches \"^RP_\"" << idDat << false;
        QTest::newRow("pdu") << "pdu == SM_MPS" << rpDat << true;
        QTest::newRow("pdu present") << "pdu" << idDat << false;
        QTest::newRow("data contains") << "data contains 40 02" << rpDat << true;
        QTest::newRow("data contains joined") << "data contains 02ff" << rpDat << true;
        QTest::newRow("data contains colons") << "data contains 02:FF" << rpDat << true;
        QTest::newRow("data contains quoted") << "data contains \"ff\"" << rpDat << true;
        QTest::newRow("data not in order") << "data contains 02 40" << rpDat << false;
        QTest::newRow("data ==") << "data == 40 02 ff" << rpDat << true;
        QTest::newRow("data == prefix") << "data == 40 02" << rpDat << false;
        QTest::newRow("data on error row") << "data contains 02 40" << fcs << false;
        QTest::newRow("data matches text") << "data matches \"FCS Error\"" << fcs << true;
        QTest::newRow("error") << "error" << fcs << true;
        QTest::newRow("not error") << "not error" << rpDat << true;
        QTest::newRow("error kind") << "error.fcs" << fcs << true;
        QTest::newRow("other error kind") << "error.size" << fcs << false;
        QTest::newRow("error.size") << "error.size" << size << true;
        QTest::newRow("kind on good row") << "error.fcs" << rpDat << false;
        QTest::newRow("id range") << "id in {0x0100..0x01ff 0x0300}" << rpDat << true;
        QTest::newRow("id single of set") << "id in {0x0100..0x01ff 0x0300}" << idDat << true;
        QTest::newRow("id spaced range") << "id in {0x0101 .. 0x01ff}" << rpDat << false;
        QTest::newRow("mnemonic") << "mnemonic == Speed and mnemonic.value > 100" << label << true;
        QTest::newRow("mnemonic value text") << "mnemonic.value contains \"3.5\"" << label << true;
        QTest::newRow("mnemonic value not number") << "mnemonic.value > 1" << rpDat << false;
        QTest::newRow("and binds tighter") << "error or id == 0x0300 and ctrl == RP_DAT" << idDat << false;
        QTest::newRow("parentheses") << "(error or id == 0x0300) and ctrl == ID_DAT" << idDat << true;
        QTest::newRow("symbols") << "!(error || id == 0x0100) && ctrl == ID_DAT" << idDat << true;
        QTest::newRow("not binds tightest") << "not id == 0x0100 or error" << rpDat << false;
        QTest::newRow("keywords any case") << "NOT id == 0x0100 OR error" << rpDat << false;
    }

    void matches()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, line);
        const FrameFilter f = FrameFilter::parse(text);
        QVERIFY2(f.isValid(), qPrintable(f.error().message));
        FrameFilterContext context;
        context.anchor = kAnchor;
        QTEST(f.matches(line, context), "match");
    }

    void scan()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.vtrc");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVector<qint64> offsets;
        for (int i = 0; i < 1000; ++i) {
            offsets.append(file.pos());
            file.write(line(i % 3 ? "RP_DAT" : "ID_DAT", i % 10 == 1 ? "0x0100" : "0x0200"));
        }
        offsets.append(file.pos());
        file.write(line("ID_DAT", QString()).chopped(1)); // a last line without its line end
        file.close();

        const FrameFilter sel = FrameFilter::parse("id == 0x0100 and ctrl == RP_DAT");
        FrameFilterScan::Result r = FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {});
        QCOMPARE(r.status, FrameFilterScan::Status::Done);
        QCOMPARE(r.scanned, qint64(offsets.size()));
        QVector<quint32> expected;
        for (int i = 0; i < 1000; ++i)
            if (i % 10 == 1 && i % 3)
                expected.append(quint32(i));
        QCOMPARE(r.rows, expected);

        const FrameFilter last = FrameFilter::parse("ctrl == ID_DAT and not id");
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), last, {}).rows, QVector<quint32>{ 1000 });
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {}, 2).rows, expected.mid(0, 2));
        QCOMPARE(FrameFilterScan::find(path, offsets, 11, true, sel, {}), qint64(31));
        QCOMPARE(FrameFilterScan::find(path, offsets, 11, false, sel, {}), qint64(1));
        QCOMPARE(FrameFilterScan::find(path, offsets, 1, false, sel, {}), qint64(-1));

        std::atomic<bool> cancel { true };
        QCOMPARE(FrameFilterScan::run(path, offsets, 0, offsets.size(), sel, {}, 0, &cancel).status,
                 FrameFilterScan::Status::Cancelled);
    }

    void scanStopsOnShrunkFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("t.vtrc");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVector<qint64> offsets;
        for (int i = 0; i < 100; ++i) {
            offsets.append(file.pos());
            file.write(line("RP_DAT", "0x0100"));
        }
        QVERIFY(file.resize(offsets.at(50)));
        file.close();
        const FrameFilterScan::Result r = FrameFilterScan::run(path, offsets, 0, offsets.size(), FrameFilter::parse("error"), {});
        QCOMPARE(r.status, FrameFilterScan::Status::Failed);
        QCOMPARE(r.message, QString("The trace file changed while filtering"));
    }
};

QTEST_GUILESS_MAIN(TestFrameFilter)
#include "tst_framefilter.moc"
