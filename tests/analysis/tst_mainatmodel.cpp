#include "analysis/ControlTable.h"
#include "analysis/MainATDelegate.h"
#include "analysis/MainATModel.h"
#include "capture/decoder/TraceRow.h"
#include "capture/files/TraceFileWriter.h"

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

} // namespace

class TestMainATModel : public QObject
{
    Q_OBJECT
private slots:
    void cells_data();
    void cells();
    void emptyOrMissing_data();
    void emptyOrMissing();
    void anchorEditing_data();
    void anchorEditing();
    void shrinkingFile_data();
    void shrinkingFile();
    void growingFile();
    void rowsBeyondLimitCounted();
    void rowColours_data();
    void rowColours();
    void buttons_data();
    void buttons();
};

void TestMainATModel::cells_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");

    const QByteArray two = frame(1000) + frame(1500);
    QTest::newRow("first row is the anchor") << two << 1 << 2 << 0 << 0 << "true";
    QTest::newRow("anchor tick 0") << two << 1 << 2 << 0 << 3 << "0";
    QTest::newRow("anchor date") << two << 1 << 2 << 0 << 2 << "  00:00:00.000 000 s";
    QTest::newRow("later row unchecked") << two << 1 << 2 << 1 << 0 << "false";
    QTest::newRow("later row tick") << two << 1 << 2 << 1 << 3 << "500";
    QTest::newRow("later row date") << two << 1 << 2 << 1 << 2 << "+ 00:00:00.000 500 s";
    const QByteArray back = frame(5000) + frame(2000);
    QTest::newRow("before anchor tick") << back << 0 << 2 << 1 << 3 << "-3000";
    QTest::newRow("before anchor date") << back << 0 << 2 << 1 << 2 << "- 00:00:00.003 000 s";
    QTest::newRow("days") << frame(7) + frame(7 + 90061002003ULL) << 3 << 2 << 1 << 2
                          << "+ [1 days] 01:01:01.002 003 s";
    QTest::newRow("unknown speed shows the file") << two << 4 << 2 << 1 << 2 << "file-rel";
    QTest::newRow("verbatim field") << two << 1 << 2 << 1 << 21 << "f21";

    const QByteArray shortLine = frame(1000) + "0\t9\tx\ty\n" + frame(1200);
    QTest::newRow("short line present field") << shortLine << 1 << 3 << 1 << 1 << "9";
    QTest::newRow("short line missing field") << shortLine << 1 << 3 << 1 << 13 << "";
    QTest::newRow("short line no tick") << shortLine << 1 << 3 << 1 << 3 << "";
    QTest::newRow("short line never the anchor") << shortLine << 1 << 3 << 1 << 0 << "false";
    QTest::newRow("row after a short line") << shortLine << 1 << 3 << 2 << 3 << "200";
    QByteArray longLine = frame(1000);
    longLine.chop(1);
    longLine += "\textra1\textra2\n" + frame(1000);
    QTest::newRow("long line keeps field 21") << longLine << 1 << 2 << 0 << 21 << "f21";
    QTest::newRow("row after a long line") << longLine << 1 << 2 << 1 << 21 << "f21";
    QTest::newRow("UTF-8 text") << frame(1, "Temp\xc3\xa9rature") << 1 << 1 << 0 << 8 << QString::fromUtf8("Temp\xc3\xa9rature");
    QTest::newRow("not UTF-8") << frame(1, "\xe9\xff") << 1 << 1 << 0 << 8 << QString(2, QChar::ReplacementCharacter);
    QByteArray crlf = frame(1);
    crlf.insert(crlf.size() - 1, '\r');
    QTest::newRow("CR LF") << crlf + crlf << 1 << 2 << 1 << 21 << "f21";
    QByteArray open = frame(10) + frame(20);
    open.chop(1);
    QTest::newRow("last line without end") << open << 1 << 2 << 1 << 21 << "f21";
    QTest::newRow("blank line") << frame(10) + "\n" + frame(20) << 1 << 3 << 1 << 1 << "";
}

void TestMainATModel::cells()
{
    QFETCH(QByteArray, file);
    QFETCH(int, speed);
    QTemporaryDir dir;
    MainATModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.setFilePath(writeFile(dir, file));
    if (speed != 4)
        model.setOstrakSpeed(quint8(speed));
    QFETCH(int, rows);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expected);
    QCOMPARE(model.rowCount(), rows);
    QCOMPARE(cell(model, row, column), expected);
}

void TestMainATModel::emptyOrMissing_data()
{
    QTest::addColumn<bool>("exists");
    QTest::newRow("empty") << true;
    QTest::newRow("missing") << false;
}

void TestMainATModel::emptyOrMissing()
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
}

void TestMainATModel::anchorEditing_data()
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

void TestMainATModel::anchorEditing()
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

void TestMainATModel::shrinkingFile_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("truncated mid-line") << "truncate";
    QTest::newRow("emptied") << "empty";
    QTest::newRow("removed") << "remove";
}

void TestMainATModel::shrinkingFile()
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

void TestMainATModel::growingFile()
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
void TestMainATModel::rowsBeyondLimitCounted()
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

void TestMainATModel::rowColours_data()
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

void TestMainATModel::rowColours()
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

void TestMainATModel::buttons_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("recoloured");
    QTest::newRow("rpAckColor") << "rpAckColor" << QStringList { "RP_ACKpe", "RP_ACKpo", "RP_ACKme", "RP_ACKmo" };
    QTest::newRow("rpMsgAckColor") << "rpMsgAckColor" << QStringList { "RP_MSG_ACKe", "RP_MSG_ACKo" };
    QTest::newRow("idRq2Color") << "idRq2Color" << QStringList { "ID_RQ2" };
    QTest::newRow("unknown button") << "okButton" << QStringList();
}

void TestMainATModel::buttons()
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

QTEST_MAIN(TestMainATModel)
#include "tst_mainatmodel.moc"
