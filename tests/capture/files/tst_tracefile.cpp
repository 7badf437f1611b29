// Trace rows chosen by depth mode and options, the trace file's lines and
// offsets, label rows, and the lock.

#include "capture/files/CaptureFileLock.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/CaptureSession.h"
#include "capture/files/TraceFileCheck.h"
#include "tests/capture/decoder/FipStreamBuilder.h"
#include "tests/capture/files/CapturePipeline.h"

#include <QLockFile>
#include <QBuffer>
#include <QTemporaryDir>
#include <QtTest>

using namespace FipStreamBuilder;

Q_DECLARE_METATYPE(TraceRecordOptions)

namespace {

QList<QByteArray> readLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines;
    while (!f.atEnd())
        lines.append(f.readLine());
    return lines;
}

QByteArray field(const QByteArray& line, int column)
{
    return line.chopped(1).split('\t').value(column);
}

// Runs one packet of event records through the pipeline into a fresh trace file and returns its lines.
QList<QByteArray> traceOf(CapturePipeline& p, const TraceRecordOptions& o, int speed, const QByteArray& packet)
{
    static QTemporaryDir dir;
    static int count = 0;
    const QString path = dir.filePath(QString("t%1.vtrc").arg(++count));
    if (!p.writer.open(path))
        return {};
    p.recorder.setOptions(o);
    p.decoder.setCardSpeed(quint8(speed));
    p.decoder.treatOstrakFlowIProtEvt(packet);
    p.writer.writePending(&p.offsets);
    p.writer.close();
    return readLines(path);
}

QList<QByteArray> fields(const QByteArray& line) { return line.chopped(1).split('\t'); }

// One transaction after another, in a single event.
QByteArray sampleTraffic()
{
    QByteArray data;
    data += tlvRecord(frame({ 0x03, 0x05, 0x10 }), 0, 10, 5);
    data += tlvRecord(frame({ 0x02, 0x40, 0x02, 0x00, 0x01 }), 0, 10, 5);
    data += tlvRecord(frame({ 0x03, 0x05, 0x10 }), 0, 10, 5);
    data += tlvRecord(frame({ 0x02, 0x40, 0x02, 0x00, 0x01 }), 0, 10, 5); // same data
    data += tlvRecord(frame({ 0x03, 0x05, 0x10 }), 0, 10, 5);
    data += tlvRecord(frame({ 0x02, 0x40, 0x02, 0x00, 0x02 }), 0, 10, 5); // changed
    data += tlvRecord(frame({ 0x05, 0x14, 0xFF }), 0, 10, 5);             // padding identifier
    data += tlvRecord(frame({ 0x04, 1, 2, 3, 4, 5, 6 }), 0, 10, 5);
    Bytes bad = frame({ 0x03, 0x05, 0x11 });
    bad.back() ^= 0x40;
    data += tlvRecord(bad, 0, 10, 5);
    data += tlvRecord(frame({ 0x30 }), 0, 10, 5);
    return eventRecord(0, data);
}

} // namespace

class TestTraceFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void rowSelection_data()
    {
        QTest::addColumn<TraceRecordOptions>("options");
        QTest::addColumn<QStringList>("controls");
        const QStringList all = { "ID_DAT", "RP_DAT", "ID_DAT", "RP_DAT", "ID_DAT", "RP_DAT", "ID_MSG",
                                  "RP_MSG_NOACK", "ERROR", "RP_ACKpe" };
        TraceRecordOptions o;
        o.converting = true;
        o.depthMode = 2;
        QTest::newRow("all frames") << o << all;
        o.depthMode = 1;
        QTest::newRow("no data, errors logged") << o << QStringList{ "ERROR" };
        o.logErrorsYes = false;
        QTest::newRow("no data, errors not logged") << o << QStringList();
        o.logErrorsYes = true;
        o.depthMode = 3;
        QTest::newRow("only on change")
            << o << QStringList{ "RP_DAT", "RP_DAT", "ID_MSG", "RP_MSG_NOACK", "ERROR", "RP_ACKpe" };
        o.depthMode = 4;
        QTest::newRow("labels") << o << QStringList{ "RP_DAT", "RP_DAT", "RP_DAT", "RP_MSG_NOACK", "ERROR" };
        o.depthMode = 2;
        o.logErrorsYes = false;
        QTest::newRow("errors not logged") << o << QStringList(all.mid(0, 8)) + QStringList{ "RP_ACKpe" };
        o.logErrorsYes = true;
        o.paddingVisibleNo = true;
        // Replies belong to the padding identifier until the next identifier frame
        // decodes; the error row is kept.
        QTest::newRow("padding hidden") << o << QStringList(all.mid(0, 6)) + QStringList{ "ERROR" };
        TraceRecordOptions live;
        live.converting = false;
        live.backupYes = false;
        live.backupFileType = TraceRecordOptions::TraceFile;
        QTest::newRow("live, no backup") << live << QStringList();
        live.backupYes = true;
        live.backupFileType = TraceRecordOptions::RawFile;
        QTest::newRow("live, raw backup") << live << QStringList();
        live.backupFileType = TraceRecordOptions::TraceFile;
        QTest::newRow("live, trace backup") << live << all;
    }
    void rowSelection()
    {
        QFETCH(TraceRecordOptions, options);
        CapturePipeline p;
        const QList<QByteArray> lines = traceOf(p, options, 1, sampleTraffic());
        QStringList got;
        for (const QByteArray& l : lines)
            got << QString::fromUtf8(field(l, 8));
        QTEST(got, "controls");
        QCOMPARE(p.offsets.size(), lines.size());
        // Statistics run whatever is written.
        QCOMPARE(p.decoder.counters().frames, quint64(10));
        QCOMPARE(p.decoder.counters().fcsErrors, quint64(1));
    }

    // A row's 22 fields, at every depth: times from the fixed clock, and at depth 4 the label's columns.
    void rowFields()
    {
        const quint64 anchor = 1767225600000000ULL;
        TraceRecordOptions o;
        o.converting = true;
        CapturePipeline p;
        QList<QByteArray> lines = traceOf(p, o, 0, eventRecord(0, tlvRecord(frame({ 0x03, 0x12, 0x34 }), 0, 100, 12)
                                                                       + tlvRecord(frame({ 0x02, 0x40, 0x01, 0xAB }), 0, 7, 25)));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], QByteArray("\t1\t\t\t[2026-01-01] 00:00:00.000320\t") + QByteArray::number(anchor + 320)
                     + "\t320.00 us\t38.40 us\tID_DAT\t0x1234\t\t2\t\t12 34 \t\t\t\t\t\t\t\t0xb569\n");
        QList<QByteArray> f = fields(lines[1]);
        QCOMPARE(f.size(), 22);
        // (100 + 12 + 7) × 3.2 µs
        QCOMPARE(f.mid(5, 9), (QList<QByteArray>{ QByteArray::number(anchor + 381), "22.40 us", "80.00 us", "RP_DAT",
                                                  "0x1234", "", "3", "", "40 01 ab " }));
        QCOMPARE(f[1], QByteArray("2"));

        CapturePipeline labelled;
        labelled.label = { "Speed\tmotor", "12.5", "Motor speed", "Float", "0", "31", ":/images/rendering/gauge.png" };
        o.depthMode = 4;
        lines = traceOf(labelled, o, 1,
                        eventRecord(0, tlvRecord(frame({ 0x03, 0x05, 0x10 })) + tlvRecord(frame({ 0x02, 0x40, 0x02, 0x00, 0x01 }))));
        QCOMPARE(lines.size(), 1);
        QCOMPARE(labelled.labelRequests, 1);
        f = fields(lines[0]);
        QCOMPARE(f.size(), 22);
        QCOMPARE(f[1], QByteArray("2"));
        QCOMPARE(f.mid(8, 10), (QList<QByteArray>{ "RP_DAT", "0x0510", "", "4", "Speed motor", "12.5", "Motor speed",
                                                   "Float", "[0 ; 31]", ":/images/rendering/gauge.png" }));
        QVERIFY(!f[21].isEmpty());
    }

    void offsetsPointAtLines()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.vtrc");
        CapturePipeline p;
        QVERIFY(p.writer.open(path));
        TraceRecordOptions o;
        o.converting = true;
        p.recorder.setOptions(o);
        p.decoder.setCardSpeed(1);
        // Several ticks, one of them with nothing pending.
        for (int tick = 0; tick < 4; ++tick) {
            QByteArray packet;
            for (int i = 0; i < tick * 3; ++i)
                packet += eventRecord(quint8(tick * 10 + i), tlvRecord(frame({ 0x03, 0x00, quint8(i) })));
            p.decoder.treatOstrakFlowIProtEvt(packet);
            QVERIFY(p.writer.writePending(&p.offsets));
            QCOMPARE(p.writer.pendingCount(), 0);
        }
        QCOMPARE(p.offsets.size(), 18);
        QCOMPARE(p.writer.size(), QFileInfo(path).size());
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        for (int i = 0; i < p.offsets.size(); ++i) {
            QVERIFY(reader.seek(p.offsets[i]));
            QCOMPARE(field(reader.readLine(), 1), QByteArray::number(i + 1));
        }
        QVERIFY(p.writer.close());
    }

    void interruptionRow()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("a.vtrc");
        CapturePipeline p;
        QVERIFY(p.writer.open(path));
        TraceRecordOptions o;
        o.backupYes = true;
        o.backupFileType = TraceRecordOptions::TraceFile;
        p.recorder.setOptions(o);
        p.decoder.setCardSpeed(1);
        p.decoder.treatOstrakFlowIProtEvt(eventRecord(0, tlvRecord(frame({ 0x30 }))));
        // An interruption is an error row: written at depth 1 like the others.
        o.depthMode = TraceRecordOptions::NoData;
        p.recorder.setOptions(o);
        p.decoder.onOstrakNoTrafficDetected();
        o.logErrorsYes = false;
        p.recorder.setOptions(o);
        p.decoder.treatOstrakFlowIProtEvt(eventRecord(1, tlvRecord(frame({ 0x30 }))));
        p.decoder.onOstrakNoTrafficDetected();
        QVERIFY(p.writer.close());
        const QList<QByteArray> lines = readLines(path);
        // The first frame, then the interruption; at depth 1 without "Log errors", nothing.
        QCOMPARE(lines.size(), 2);
        QCOMPARE(field(lines[1], 13), QByteArray("Type: Traffic Interruption"));
        QCOMPARE(field(lines[1], 1), QByteArray("2"));
    }

    void denseTrafficWritesLinesBetweenTicks()
    {
        // A session that never lets the window breathe: only the slices write.
        struct Session : CaptureSession {
            void onProcessEvents(qint64, qint64) override {}
        } session;
        QTemporaryDir dir;
        const QString path = dir.filePath("dense.vtrc");
        QVERIFY(session.startConversion(TraceRecordOptions(), path, nullptr));
        session.decoder().setCardSpeed(1);
        QByteArray packet;
        for (int i = 0; i < 4000; ++i)
            packet += eventRecord(quint8(i), tlvRecord(frame({ 0x03, quint8(i >> 8), quint8(i) })));
        session.decoder().treatOstrakFlowIProtEvt(packet);
        QVERIFY(session.traceWriter().pendingBytes() < CaptureSession::TraceSliceBytes);
        QVERIFY(QFileInfo(path).size() >= CaptureSession::TraceSliceBytes);
        QVector<qint64> offsets;
        QVERIFY(session.writePending(&offsets));
        QCOMPARE(offsets.size(), 4000);
        QFile reader(path);
        QVERIFY(reader.open(QIODevice::ReadOnly));
        for (int i : { 0, 1, 1999, 3999 }) {
            QVERIFY(reader.seek(offsets[i]));
            QCOMPARE(field(reader.readLine(), 1), QLocale(QLocale::English).toString(i + 1).toUtf8());
        }
        QVERIFY(session.stop());
    }

    void lockedTraceRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("busy.vtrc");
        {
            QFile existing(path);
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("kept\n");
        }
        QLockFile other(CaptureFileLock::lockPath(path));
        QVERIFY(other.tryLock(0));
        TraceFileWriter writer;
        QVERIFY(!writer.open(path));
        QCOMPARE(writer.errorString(), QStringLiteral("The backup file is already in use:\n") + path);
        QCOMPARE(readLines(path), QList<QByteArray>{ "kept\n" });
        RawFileWriter raw;
        QVERIFY(!raw.open(path));
        QCOMPARE(raw.errorString(), QStringLiteral("The backup file is already in use:\n") + path);
        // A capture refused on the lock names the file once.
        for (bool trace : { true, false }) {
            CaptureSession session;
            CaptureSession::Files files;
            (trace ? files.trace : files.raw) = path;
            QString error;
            QVERIFY(!session.start(TraceRecordOptions(), files, &error));
            QCOMPARE(error, QStringLiteral("The backup file is already in use:\n") + path);
        }
        other.unlock();
        QVERIFY(writer.open(path));
        QVERIFY(QFile::exists(CaptureFileLock::lockPath(path)));
        QVERIFY(writer.close());
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(path)));
    }

    void unwritableTrace()
    {
        QTemporaryDir dir;
        TraceFileWriter writer;
        QVERIFY(!writer.open(dir.filePath("missing/a.vtrc")));
        QCOMPARE(writer.errorString(), QStringLiteral("Impossible to open the destination file (vtrc)."));
        // Rows for a closed trace go nowhere and hand out no offsets.
        TraceRow row;
        writer.appendRow(row);
        QVector<qint64> offsets;
        QVERIFY(!writer.writePending(&offsets));
        QVERIFY(offsets.isEmpty());
    }

    void traceShapeChecked_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("problem"); // part of the reason; empty when it is a trace
        const QByteArray row = QByteArray("1\t\t\t[2026-01-01] 00:00:00.000000").append(QByteArray(18, '\t')) + "0x1234\n";
        QTest::newRow("trace") << row + row + row.left(10) << QString();
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\x00\x00", 9) + row << "binary";
        QTest::newRow("three fields") << row + QByteArray("a\tb\tc\n") << "line 2 holds 3 fields instead of 22";
        QTest::newRow("not UTF-8") << QByteArray("caf\xe9\t\n") << "UTF-8";
        QTest::newRow("no line end") << QByteArray(TraceFileCheck::kBytes + 10, 'x') << "longer";
    }
    void traceShapeChecked()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, problem);
        QBuffer file(&content);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString found = TraceFileCheck::problem(file);
        QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
        QCOMPARE(file.pos(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestTraceFile)

#include "tst_tracefile.moc"
