// The frame table over trace files: cells of every kind of line, the anchor and
// its editing, a file shrinking or growing under the table, the row limit, row
// colours and colour buttons; and the filtered view over real traces from the
// simulated bus: a filter applied, changed and cleared, rows arriving during a
// live capture, and an anchor that moves the `time` field.

#include "analysis/ControlTable.h"
#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATDelegate.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilter.h"
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
};

QTEST_MAIN(TestMainATModel)
#include "tst_mainatmodel.moc"
