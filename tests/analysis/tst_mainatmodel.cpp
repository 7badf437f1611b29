// The frame table over trace files: cells of every kind of line, the anchor and
// its editing, a file shrinking or growing under the table, the row limit, row
// colours and colour buttons; and the filtered view over real traces from the
// simulated bus: a filter applied, changed and cleared, rows arriving during a
// live capture, and an anchor that moves the `time` field. The display filter
// itself: parsing (every error with its position), matching against hand-built
// trace lines, and scanning a real trace file.

#include "analysis/ControlTable.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATDelegate.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilter.h"
#include "analysis/filter/FrameFilterScan.h"
#include "capture/decoder/TraceRow.h"
#include "capture/files/TraceFileWriter.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"
#include "tests/capture/files/CapturePipeline.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A trace line: field n holds "f<n>" except the ones given.
QByteArray frame(quint64 tick, const QByteArray& control = "RP_DAT", const QByteArray& fileRelative = "file-rel")
{
    TraceRow row;
    for (int c = 0; c < TraceRow::FieldCount; ++c)
        row.field(c) = "f" + std::to_string(c);
    row.field(TraceRow::RelativeDate) = fileRelative.toStdString();
    row.field(TraceRow::AbsoluteDateTick) = std::to_string(tick);
    row.field(TraceRow::Control) = control.toStdString();
    return row.line();
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    const QString path = dir.filePath(QStringLiteral("t.vtrc"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QString cell(const MainATModel& m, int row, int column)
{
    return m.data(m.index(row, column)).toString();
}

// A capture session writing a trace, fed by the simulated bus with an error now and then.
struct LiveTrace {
    CapturePipeline pipeline;
    FipTrafficGenerator bus { 1, 2, 1765087200000000ULL };
    QString path;

    explicit LiveTrace(const QString& file) : path(file)
    {
        TraceRecordOptions o;
        o.converting = true;
        pipeline.recorder.setOptions(o);
        pipeline.decoder.setCardSpeed(1);
        bus.setErrorEvery(37);
        pipeline.writer.open(path);
    }
    // Frames onto the bus, their lines into the file; the offsets of the new lines.
    QVector<qint64> feed(int frames)
    {
        QByteArray records;
        for (int i = 0; i < frames; ++i)
            records += FipRecordEncoder::ospRecord(bus.next());
        bool stop = false;
        pipeline.decoder.treatOspEvtStream(reinterpret_cast<const quint8*>(records.constData()), records.size(),
                                           &stop, false);
        QVector<qint64> offsets;
        pipeline.writer.writePending(&offsets);
        return offsets;
    }
    // Frame numbers of the lines whose field `column` passes `keep`, read the plain way.
    template<typename F> QStringList numbers(F keep) const
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QStringList out;
        while (!f.atEnd()) {
            const QList<QByteArray> fields = f.readLine().chopped(1).split('\t');
            if (keep(fields))
                out << QString::fromUtf8(fields.value(1));
        }
        return out;
    }
};

QStringList shown(const QAbstractItemModel& m)
{
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.index(r, 1).data().toString();
    return out;
}

bool apply(FrameFilterATModel& model, const QString& text)
{
    QSignalSpy applied(&model, &FrameFilterATModel::filterApplied);
    if (!model.setFilter(FrameFilter::parse(text)))
        return false;
    return applied.count() > 0 || applied.wait(10000);
}


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

class TestMainATModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }

    void appliedChangedClearedAndAnchored()
    {
        QTemporaryDir dir;
        LiveTrace trace(dir.filePath("a.vtrc"));
        trace.feed(3000);
        trace.pipeline.writer.close();
        MainATModel table;
        table.setFilePath(trace.path);
        FrameFilterATModel model(&table);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const int total = table.rowCount();
        QVERIFY(total >= 3000);

        QVERIFY(apply(model, "error"));
        const QStringList errors = trace.numbers([](const QList<QByteArray>& f) { return f.value(8) == "ERROR"; });
        QVERIFY(errors.size() > 10);
        QCOMPARE(shown(model), errors);
        QCOMPARE(model.matchingRows().size(), errors.size());
        QCOMPARE(model.index(0, 8).data().toString(), QString("ERROR"));

        QVERIFY(apply(model, "not error and id == 0x0201"));
        QCOMPARE(shown(model), trace.numbers([](const QList<QByteArray>& f) {
                     return f.value(8) != "ERROR" && f.value(9) == "0x0201";
                 }));
        const int before = model.rowCount();
        QVERIFY(!model.setFilter(FrameFilter::parse("id ==")));
        QCOMPARE(model.rowCount(), before);

        // A source row maps to its shown row, or to the next shown one.
        const qint64 source = model.sourceRowOf(3);
        QCOMPARE(model.rowOfSourceRow(source), 3);
        QCOMPARE(model.rowOfSourceRow(source + 1), -1);
        QCOMPARE(model.rowOfSourceRow(source + 1, true), 4);

        QVERIFY(apply(model, ""));
        QVERIFY(!model.isFiltered());
        QCOMPARE(model.rowCount(), total);

        // Anchored on row 100: the rows before it are now at negative times.
        QVERIFY(apply(model, "time >= 0"));
        QCOMPARE(model.rowCount(), total);
        QSignalSpy applied(&model, &FrameFilterATModel::filterApplied);
        QVERIFY(table.setData(table.index(100, 0), true, Qt::CheckStateRole));
        QVERIFY(applied.wait(10000));
        QCOMPARE(model.rowCount(), total - 100);
        QCOMPARE(model.sourceRowOf(0), qint64(100));
    }

    void liveCapture()
    {
        QTemporaryDir dir;
        LiveTrace trace(dir.filePath("live.vtrc"));
        MainATModel table;
        table.setFilePath(trace.path);
        FrameFilterATModel model(&table);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(apply(model, "ctrl == RP_DAT or error"));
        QCOMPARE(model.rowCount(), 0);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        bool errorsOnly = false;
        for (int batch = 0; batch < 8; ++batch) {
            const QVector<qint64> offsets = trace.feed(500);
            table.addRows(offsets.size(), offsets);
            QCOMPARE(shown(model), trace.numbers([&](const QList<QByteArray>& f) {
                         return (!errorsOnly && f.value(8) == "RP_DAT") || f.value(8) == "ERROR";
                     }));
            if (batch == 3) {
                // Changed mid-capture: the rows so far go to the worker, the next ones come as they arrive.
                QVERIFY(apply(model, "error"));
                errorsOnly = true;
            }
        }
        QVERIFY(inserted.count() >= 7);
        QVERIFY(!model.isMatching());
    }

    void cells_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("speed"); // 4: none given
        QTest::addColumn<int>("rows");
        QTest::addColumn<QStringList>("cells"); // "row column text"

        const QByteArray two = frame(1000) + frame(1500);
        QTest::newRow("anchor on the first row") << two << 1 << 2
            << QStringList { "0 0 true", "0 3 0", "0 2   00:00:00.000 000 s", "1 0 false", "1 3 500",
                             "1 2 + 00:00:00.000 500 s", "1 21 f21" };
        QTest::newRow("before the anchor") << frame(5000) + frame(2000) << 0 << 2
                                           << QStringList { "1 3 -3000", "1 2 - 00:00:00.003 000 s" };
        QTest::newRow("days") << frame(7) + frame(7 + 90061002003ULL) << 3 << 2
                              << QStringList { "1 2 + [1 days] 01:01:01.002 003 s" };
        QTest::newRow("unknown speed shows the file") << two << 4 << 2 << QStringList { "1 2 file-rel" };
        // A short line is never the anchor, and the rows after it count from the anchor.
        QTest::newRow("short line") << frame(1000) + "0\t9\tx\ty\n" + frame(1200) << 1 << 3
                                    << QStringList { "1 1 9", "1 13 ", "1 3 ", "1 0 false", "2 3 200" };
        QByteArray longLine = frame(1000);
        longLine.chop(1);
        QTest::newRow("long line") << longLine + "\textra1\textra2\n" + frame(1000) << 1 << 2
                                   << QStringList { "0 21 f21", "1 21 f21" };
        QTest::newRow("UTF-8 text") << frame(1, "Temp\xc3\xa9rature") << 1 << 1
                                    << QStringList { QString::fromUtf8("0 8 Temp\xc3\xa9rature") };
        QTest::newRow("not UTF-8") << frame(1, "\xe9\xff") << 1 << 1
                                   << QStringList { "0 8 " + QString(2, QChar::ReplacementCharacter) };
        QByteArray crlf = frame(1);
        crlf.insert(crlf.size() - 1, '\r');
        QTest::newRow("CR LF") << crlf + crlf << 1 << 2 << QStringList { "1 21 f21" };
        QTest::newRow("last line without end") << two.chopped(1) << 1 << 2 << QStringList { "1 21 f21" };
        QTest::newRow("blank line") << frame(10) + "\n" + frame(20) << 1 << 3 << QStringList { "1 1 " };
    }

    void cells()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, speed);
        QFETCH(QStringList, cells);
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, file));
        if (speed != 4)
            model.setOstrakSpeed(quint8(speed));
        QTEST(model.rowCount(), "rows");
        for (const QString& c : cells)
            QCOMPARE(c.section(' ', 0, 1) + ' ' + cell(model, c.section(' ', 0, 0).toInt(), c.section(' ', 1, 1).toInt()), c);
    }

    void emptyOrMissing_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("empty") << true;
        QTest::newRow("missing") << false;
    }

    void emptyOrMissing()
    {
        QFETCH(bool, exists);
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, frame(1) + frame(2)));
        model.setOstrakSpeed(1);
        QCOMPARE(model.rowCount(), 2);
        QSignalSpy progress(&model, &MainATModel::generateProgress);
        model.setFilePath(exists ? writeFile(dir, QByteArray()) : dir.filePath(QStringLiteral("none.vtrc")));
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(model.ostrakSpeed(), quint8(4));
        QCOMPARE(model.absoluteCounterAnchor(), quint64(0));
        QCOMPARE(progress.isEmpty() ? -1 : progress.last().at(0).toInt(), exists ? 100 : -1);
        QVERIFY(!model.data(model.index(0, 1)).isValid());
        // An empty table still names its columns: the widths the window fits are measured on them.
        FrameFilterATModel filtered(&model);
        for (int column = 0; column < model.columnCount(); ++column)
            QCOMPARE(filtered.headerData(column, Qt::Horizontal).toString(), model.headerData(column, Qt::Horizontal).toString());
    }

    void anchorEditing_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("anchorRow");
        QTest::newRow("check row 2") << "check" << 2 << 2;
        QTest::newRow("uncheck the anchor") << "uncheck" << 0 << 0;
        QTest::newRow("space on row 1") << "space" << 1 << 1;
        QTest::newRow("space on the anchor") << "space" << 0 << 0;
        QTest::newRow("click in the box") << "click" << 2 << 2;
        QTest::newRow("click beside the box") << "click-off" << 2 << 0;
    }

    void anchorEditing()
    {
        QFETCH(QString, action);
        QFETCH(int, row);
        QFETCH(int, anchorRow);
        const quint64 ticks[] = { 100, 250, 400 };
        QTemporaryDir dir;
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setFilePath(writeFile(dir, frame(ticks[0]) + frame(ticks[1]) + frame(ticks[2])));
        ControlTable controls;
        MainATDelegate delegate(&controls);
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 60, 20);
        const QModelIndex box = model.index(row, 0);
        if (action == "check" || action == "uncheck") {
            model.setData(box, action == "check");
        } else if (action == "space") {
            QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
            QVERIFY(delegate.editorEvent(&key, &model, option, box));
        } else {
            const QPoint at = action == "click" ? option.rect.center() : QPoint(1, 1);
            QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QCOMPARE(delegate.editorEvent(&release, &model, option, box), action == "click");
        }
        QCOMPARE(model.absoluteCounterAnchor(), ticks[anchorRow]);
        for (int r = 0; r < 3; ++r) {
            QCOMPARE(cell(model, r, 3), QString::number(qint64(ticks[r]) - qint64(ticks[anchorRow])));
            QCOMPARE(cell(model, r, 0), r == anchorRow ? "true" : "false");
        }
    }

    void shrinkingFile_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("truncated mid-line") << "truncate";
        QTest::newRow("emptied") << "empty";
        QTest::newRow("removed") << "remove";
    }

    void shrinkingFile()
    {
        QFETCH(QString, change);
        QTemporaryDir dir;
        MainATModel model;
        const QByteArray first = frame(1);
        const QString path = writeFile(dir, first + frame(2) + frame(3) + frame(4));
        model.setFilePath(path);
        QCOMPARE(model.rowCount(), 4);
        if (change == "remove")
            QVERIFY(QFile::remove(path));
        else
            QVERIFY(QFile::resize(path, change == "empty" ? 0 : first.size() + 5));
        // Every cell of every role, read through the shrunk file.
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        if (change != "remove") {
            QCOMPARE(cell(model, 2, 1), QString());
            QCOMPARE(cell(model, 3, 21), QString());
            QCOMPARE(cell(model, 1, 1), change == "truncate" ? "f1" : "");
        }
    }

    void growingFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("live.vtrc"));
        TraceFileWriter writer;
        QVERIFY(writer.open(path));
        auto queue = [&writer](int from, int to) {
            for (int n = from; n < to; ++n)
                writer.appendRow(TraceRow::fromLine(frame(quint64(1000 + n)).replace("f1\t", QByteArray::number(n) + "\t")));
        };
        MainATModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVector<qint64> offsets;
        queue(0, 3);
        QVERIFY(writer.writePending(&offsets));
        model.setFilePath(path);
        QCOMPARE(model.rowCount(), 3);

        // Lines already in the file but not handed over are not rows.
        offsets.clear();
        queue(3, 6);
        QVERIFY(writer.writePending(&offsets));
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(cell(model, 2, 1), "2");
        model.addRows(2, offsets.mid(0, 2));
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(cell(model, 4, 1), "4");
        model.incRow(offsets.at(2));
        QCOMPARE(model.rowCount(), 6);
        for (int r = 0; r < 6; ++r)
            QCOMPARE(cell(model, r, 3), QString::number(r));
        QVERIFY(writer.close());
    }

    // Past its row limit the table stops growing, whichever way rows come, and counts the rest.
    void rowsBeyondLimitCounted()
    {
        QTemporaryDir dir;
        QByteArray bytes;
        for (int n = 0; n < 8; ++n)
            bytes += frame(quint64(n));
        const QString path = writeFile(dir, bytes);
        MainATModel model;
        model.setMaxRows(5);
        model.setFilePath(path);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowsNotShown(), quint64(3));
        QCOMPARE(cell(model, 4, 5), "4");

        model.setFilePath(path); // a fresh start
        QCOMPARE(model.rowsNotShown(), quint64(3));
        model.addRows(4, { 0, 1, 2, 3 });
        model.incRow(4);
        QCOMPARE(model.rowCount(), 5);
        QCOMPARE(model.rowsNotShown(), quint64(3 + 4 + 1));
        QVERIFY(model.indexBytes() <= qint64(sizeof(qint64)) * 5);
    }

    void rowColours_data()
    {
        QTest::addColumn<QByteArray>("control");
        QTest::addColumn<int>("column");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("ID_DAT") << QByteArray("ID_DAT") << 5 << QColor(150, 150, 255, 100);
        QTest::newRow("RP_FIN on the anchor cell") << QByteArray("RP_FIN") << 0 << QColor(100, 35, 100, 100);
        QTest::newRow("unknown name") << QByteArray("ERROR") << 8 << QColor(239, 58, 63, 100);
        QTest::newRow("name prefix") << QByteArray("RP_ACK") << 8 << QColor(239, 58, 63, 100);
        QTest::newRow("no name") << QByteArray() << 13 << QColor(239, 58, 63, 100);
    }

    void rowColours()
    {
        QFETCH(QByteArray, control);
        QFETCH(int, column);
        QFETCH(QColor, expected);
        QTemporaryDir dir;
        MainATModel model;
        model.setFilePath(writeFile(dir, frame(5, control)));
        ControlTable controls;
        QCOMPARE(controls.getControlCode(control.constData(), control.size()), controls.getControlCode(QString(control)));
        MainATDelegate delegate(&controls);
        QImage image(80, 20, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QStyleOptionViewItem option;
        option.rect = image.rect();
        option.state = QStyle::State_Enabled | QStyle::State_HasFocus;
        QPainter painter(&image);
        delegate.paint(&painter, option, model.index(0, column));
        painter.end();
        const QColor got = image.pixelColor(1, 1);
        QVERIFY2(qAbs(got.red() - expected.red()) <= 3 && qAbs(got.green() - expected.green()) <= 3
                     && qAbs(got.blue() - expected.blue()) <= 3 && got.alpha() == expected.alpha(),
                 qPrintable(got.name(QColor::HexArgb)));
    }

    void buttons_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("recoloured");
        QTest::newRow("rpAckColor") << "rpAckColor" << QStringList { "RP_ACKpe", "RP_ACKpo", "RP_ACKme", "RP_ACKmo" };
        QTest::newRow("rpMsgAckColor") << "rpMsgAckColor" << QStringList { "RP_MSG_ACKe", "RP_MSG_ACKo" };
        QTest::newRow("idRq2Color") << "idRq2Color" << QStringList { "ID_RQ2" };
        QTest::newRow("unknown button") << "okButton" << QStringList();
    }

    void buttons()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, recoloured);
        ControlTable controls;
        const QColor chosen(1, 2, 3);
        for (quint8 code : ControlTable::codesOfButton(button))
            controls.setControlColor(code, chosen);
        // Every control belongs to exactly one button, and only the button's controls change.
        int buttonsOfAll = 0;
        for (const QString& b : ControlTable::buttonNames())
            buttonsOfAll += ControlTable::codesOfButton(b).size();
        QCOMPARE(buttonsOfAll, 20);
        for (const QString& b : ControlTable::buttonNames()) {
            for (quint8 code : ControlTable::codesOfButton(b)) {
                const QString name = ControlTable::settingsKeySuffix(code);
                QVERIFY(!name.isEmpty());
                const bool mine = recoloured.contains(name, Qt::CaseInsensitive);
                QCOMPARE(controls.getControlColor(code), mine ? chosen : ControlTable::defaultColor(code));
            }
        }
    }

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

QTEST_MAIN(TestMainATModel)
#include "tst_mainatmodel.moc"
