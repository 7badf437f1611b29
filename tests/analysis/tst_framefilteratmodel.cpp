// The filtered frame table over real traces from the simulated bus: a filter
// applied, changed and cleared, rows arriving during a live capture, and an
// anchor that moves the `time` field.

#include "analysis/FrameFilterATModel.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilter.h"
#include "platform/capture/FipRecordEncoder.h"
#include "platform/capture/FipTrafficGenerator.h"
#include "tests/capture/files/CapturePipeline.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

class TestFrameFilterATModel : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void appliedChangedCleared();
    void liveCapture();
    void anchorMovesTime();
    void headersShownWithoutRows();
};

void TestFrameFilterATModel::appliedChangedCleared()
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
}

void TestFrameFilterATModel::liveCapture()
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

void TestFrameFilterATModel::anchorMovesTime()
{
    QTemporaryDir dir;
    LiveTrace trace(dir.filePath("t.vtrc"));
    trace.feed(400);
    trace.pipeline.writer.close();
    MainATModel table;
    table.setFilePath(trace.path);
    FrameFilterATModel model(&table);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(apply(model, "time >= 0"));
    QCOMPARE(model.rowCount(), table.rowCount());

    // Anchored on row 100: the rows before it are now at negative times.
    QSignalSpy applied(&model, &FrameFilterATModel::filterApplied);
    QVERIFY(table.setData(table.index(100, 0), true, Qt::CheckStateRole));
    QVERIFY(applied.wait(10000));
    QCOMPARE(model.rowCount(), table.rowCount() - 100);
    QCOMPARE(model.sourceRowOf(0), qint64(100));
}

// An empty table still names its columns: the widths the window fits are measured on them.
void TestFrameFilterATModel::headersShownWithoutRows()
{
    MainATModel table;
    FrameFilterATModel model(&table);
    QCOMPARE(model.rowCount(), 0);
    for (int column = 0; column < table.columnCount(); ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), table.headerData(column, Qt::Horizontal).toString());
}

QTEST_MAIN(TestFrameFilterATModel)
#include "tst_framefilteratmodel.moc"
