// Capture files: a live capture recorded raw and as a trace at once, whose raw
// file converts to the same trace; raw files that are corrupt, missing or in
// use; trace rows chosen by depth mode and options, the trace file's lines and
// offsets, label rows and the lock; the statistics XML file: round trip, document
// layout, corrupt, missing and locked files; a capture of the simulated bus →
// pcapng → import gives the capture's rows back, errors and interruption
// included; bad files end with a message, never a crash; tshark reads the
// exported captures as the rows say.

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/files/CaptureFileLock.h"
#include "capture/files/CaptureFileMessages.h"
#include "capture/files/CaptureSession.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/files/StatsFile.h"
#include "capture/files/TraceFileCheck.h"
#include "capture/pcapng/PcapngExport.h"
#include "capture/pcapng/PcapngFormat.h"
#include "capture/pcapng/PcapngImport.h"
#include "tests/capture/decoder/FipStreamBuilder.h"
#include "tests/capture/files/CapturePipeline.h"
#include "tests/capture/pcapng/SimulatedCapture.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDomDocument>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace FipStreamBuilder;

Q_DECLARE_METATYPE(TraceRecordOptions)

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

// The conversion steps of the main window, answering yes to every question.
RawTraceConversion::Result convert(const QString& raw, const QString& trace, CaptureSession& session,
                                   QVector<qint64>* offsets = nullptr, qint64* used = nullptr)
{
    RawTraceConversion c;
    RawTraceConversion::Result r = c.openSource(raw);
    if (r != RawTraceConversion::Ok)
        return r;
    if (!session.startConversion(TraceRecordOptions(), trace, nullptr))
        return RawTraceConversion::SourceOpenFailed;
    r = c.readHeader();
    if (r == RawTraceConversion::Ok) {
        bool stop = false;
        const qint64 n = c.decode(session.decoder(), &stop);
        if (used)
            *used = n;
    }
    session.stop(offsets);
    return r;
}

QList<QByteArray> ospPackets()
{
    QList<QByteArray> packets;
    quint64 stamp = 1767225600000000ULL;
    for (quint64 n = 1; n <= 20; ++n) {
        QByteArray payload;
        quint32 records = 0;
        for (int i = 0; i < int(n % 4); ++i, ++records) {
            payload += ospRecord(frame({ 0x03, 0x05, quint8(n) }), ospStatus(1, 2), stamp += 20, 40, 30, 3, 8);
            payload += ospRecord(frame({ 0x02, 0x40, 0x01, quint8(i) }), ospStatus(1, 2), stamp += 30, 60, 20);
            ++records;
        }
        if (n == 7) { // a glitch, an empty record and a record to skip
            payload += ospRecord(frame({ 0x30 }), ospStatus(1, 2, 0x0001), stamp += 10);
            payload += ospRecord(Bytes{}, ospStatus(1, 2), stamp += 10);
            payload += QByteArray("\xC1\x00\x05\xAA\xBB", 5);
            records += 3;
        }
        packets += ospPacket(n, records, payload);
    }
    return packets;
}

QList<QByteArray> eventPackets()
{
    QByteArray data;
    for (int i = 0; i < 50; ++i) {
        data += tlvRecord(frame({ 0x03, 0x05, quint8(i) }), 0, quint32(10 + i), 5, 1, 2);
        data += tlvRecord(frame({ 0x02, 0x40, 0x02, quint8(i), 0x00 }), i == 20 ? 0x0004 : 0, 7, quint16(20 + i));
    }
    // Events cut the records anywhere.
    QList<QByteArray> packets;
    QByteArray packet;
    quint8 counter = 0;
    for (int at = 0; at < data.size(); at += 97) {
        packet += eventRecord(counter++, data.mid(at, 97));
        if (counter % 5 == 0) {
            packets += packet;
            packet.clear();
        }
    }
    packets += packet + eventRecord(counter, QByteArray("\x01\x02", 2), 0x8001);
    return packets;
}

using SimulatedCapture::readRows;

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

// One text of each group, and the one the XML must escape.
struct Figures
{
    quint64 idDat = 0;
    quint64 rpDat = 0;
    quint64 fcs = 0;
    QString speed, start, silence, turnAround;

    StatsFile file()
    {
        return StatsFile({ { "counter_id_dat", &idDat }, { "counter_rp_dat", &rpDat }, { "counter_error_fcs", &fcs } },
                         { { "speed", &speed }, { "startTime", &start }, { "silenceTime", &silence },
                           { "turnAroundTime", &turnAround } });
    }

    void fill()
    {
        idDat = 18446744073709551615ULL;
        rpDat = 1234567;
        speed = "1 Mbits/s";
        start = "2026-01-01 00:00:00.000";
        silence = "150 us";
        turnAround = "<10 µs & \"more\">";
    }
    bool operator==(const Figures& o) const
    {
        return idDat == o.idDat && rpDat == o.rpDat && fcs == o.fcs && speed == o.speed && start == o.start
            && silence == o.silence && turnAround == o.turnAround;
    }
};


const char kValid[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<stats version=\"1.0\"><networkInfo frameType=\"FIP\" speed=\"5 Mbits/s\"/>"
                      "<capturingTime startTime=\"a\" endTime=\"b\" duration=\"c\"/>"
                      "<fipTime microcycleTime=\"d\" macrocycleTime=\"e\" silenceTime=\"f\" turnAroundTime=\"g\"/>"
                      "<counters><counter name=\"counter_id_dat\" value=\"%1\"/>"
                      "<counter name=\"counter_rp_dat\" value=\"2\"/></counters></stats>\n";


// Columns 1 and 4 to 21: what a capture writes (the others are the table's own).
QStringList comparable(const QString& line)
{
    const QStringList fields = line.split('\t');
    QStringList kept { fields.value(1) };
    for (int c = 4; c <= 21; ++c)
        kept << fields.value(c);
    return kept;
}

void compareRows(const QStringList& expected, const QStringList& actual)
{
    QCOMPARE(actual.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        if (comparable(actual.at(i)) != comparable(expected.at(i)))
            QFAIL(qPrintable(QString("row %1 differs:\nbefore %2\nafter  %3").arg(i).arg(expected.at(i), actual.at(i))));
    }
}

QStringList importRows(const QString& pcapng, const QString& trace, QString* error)
{
    SimulatedCapture::Session s;
    PcapngImport import;
    bool stop = false;
    if (import.toTrace(pcapng, trace, s.session, TraceRecordOptions(), &stop) != PcapngImport::Ok) {
        *error = import.errorString();
        return {};
    }
    return SimulatedCapture::readRows(trace);
}

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<quint32>(v, b.data());
    return b;
}

QByteArray block(quint32 type, const QByteArray& body)
{
    return le32(type) + le32(quint32(body.size() + 12)) + body + le32(quint32(body.size() + 12));
}

QByteArray sectionHeader()
{
    return block(Pcapng::BlockSectionHeader, le32(Pcapng::ByteOrderMagic) + QByteArray::fromHex("01000000")
                                                 + QByteArray(8, char(0xFF)));
}

QByteArray interface(quint16 linkType)
{
    return block(Pcapng::BlockInterfaceDescription, le32(linkType) + le32(0));
}

QByteArray packet(const QByteArray& bytes, quint32 interfaceId = 0)
{
    QByteArray data = bytes;
    data.append((4 - data.size() % 4) % 4, '\0');
    return block(Pcapng::BlockEnhancedPacket, le32(interfaceId) + le32(0) + le32(0) + le32(quint32(bytes.size()))
                                                  + le32(quint32(bytes.size())) + data);
}

// A WorldFIP transaction: ID_DAT 0x0512 and its RP_DAT, FCS included.
QList<QByteArray> transaction()
{
    QList<QByteArray> frames { QByteArray::fromHex("030512"), QByteArray::fromHex("024003aabb05") };
    for (QByteArray& f : frames) {
        const quint16 fcs = FipFcs::compute(reinterpret_cast<const quint8*>(f.constData()), f.size(), false);
        f += char(fcs >> 8);
        f += char(fcs);
    }
    return frames;
}

QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian<quint32>(v, b.data());
    return b;
}


// The five fields as the dissector should give them for a trace row.
QStringList expectedFields(const QString& line, QString* family, QString* error)
{
    const QStringList row = line.split('\t');
    const QString control = row.value(8);
    const QString data = row.value(13);
    QByteArray bytes;
    if (control == "ERROR") {
        *error = data.section(" - Data Rescue: ", 0, 0).mid(6);
        const QString rescue = data.section(" - Data Rescue: ", 1);
        if (rescue.isEmpty())
            return { "", "", "", "", "" }; // traffic interruption: no bytes
        if (rescue != "None")
            bytes = QByteArray::fromHex(rescue.toLatin1());
    } else {
        const quint8 code = [&] {
            for (int i = 0; i < FipControls::Count; ++i) {
                if (control == FipControls::table()[i].name)
                    return FipControls::table()[i].code;
            }
            return quint8(0);
        }();
        bytes = char(code) + QByteArray::fromHex(data.toLatin1()) + QByteArray::fromHex(row.value(21).mid(2).toLatin1());
        *family = QString::number(FipControls::family(code));
    }
    const auto* p = reinterpret_cast<const quint8*>(bytes.constData());
    const int n = bytes.size();
    const bool good = n >= 2 && FipFcs::read(p, n) == FipFcs::compute(p, n - 2, row.value(0) != "WorldFIP");
    return { QString::asprintf("0x%02x", p[0]), row.value(9).isEmpty() ? "*" : row.value(9),
             n >= 3 ? QString::number(n - 3) : "", n > 3 ? bytes.mid(1, n - 3).toHex() : "",
             n >= 2 ? (good ? "1" : "0") : "" };
}

} // namespace

class TestCaptureFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void roundTrip_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<QList<QByteArray>>("packets");
        QTest::newRow("Osp") << 2 << ospPackets();
        QTest::newRow("events") << 1 << eventPackets();
    }
    // A live capture recorded raw and as a trace at once, handed over two packets at a
    // time: its raw file converted later gives the same trace.
    void roundTrip()
    {
        QFETCH(int, flow);
        QFETCH(QList<QByteArray>, packets);
        QTemporaryDir dir;
        CaptureSession::Files files;
        files.raw = dir.filePath("capture.praw");
        files.trace = dir.filePath("live.vtrc");
        TraceRecordOptions o;
        o.backupYes = true;
        o.backupFileType = TraceRecordOptions::TraceFile;
        CapturePipeline live;
        QString error;
        QVERIFY2(live.start(o, files, &error), qPrintable(error));
        live.decoder.setCardSpeed(2);
        for (int i = 0; i < packets.size(); i += 2)
            live.onOstrakDataReceived(flow, packets[i] + packets.value(i + 1));
        QVERIFY(live.stop(&live.offsets));

        CapturePipeline replay;
        const QString converted = dir.filePath("converted.vtrc");
        qint64 used = 0;
        QCOMPARE(convert(files.raw, converted, replay, &replay.offsets, &used), RawTraceConversion::Ok);
        QCOMPARE(used, QFileInfo(files.raw).size() - (flow == 1 ? 2 : 1));
        const QByteArray expected = readAll(files.trace);
        QVERIFY(expected.count('\n') > 50);
        QCOMPARE(readAll(converted), expected);
        QCOMPARE(replay.offsets, live.offsets);
        QCOMPARE(replay.decoder.counters().perControl, live.decoder.counters().perControl);
        QCOMPARE(replay.decoder.state().speedCode, quint8(flow == 1 ? 2 : 1));
    }

    void corruptFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("frames");
        const QByteArray a = tlvRecord(frame({ 0x03, 0x05, 0x10 }));
        const QByteArray b = ospRecord(frame({ 0x03, 0x05, 0x10 }), ospStatus(1, 2), 5);

        const int version = RawTraceConversion::InvalidVersion, speed = RawTraceConversion::InvalidSpeed;
        const QString badVersion = "Invalid praw file version.", badSpeed = "Invalid FIP speed extract from praw file.";
        QTest::newRow("empty") << QByteArray() << version << badVersion << 0;
        QTest::newRow("version 3") << QByteArray("\x03\x01", 2) + a << version << badVersion << 0;
        QTest::newRow("version 0") << QByteArray(1, '\0') + b << version << badVersion << 0;
        QTest::newRow("speed 4") << QByteArray("\x01\x04", 2) + a << speed << badSpeed << 0;
        QTest::newRow("no speed byte") << QByteArray("\x01", 1) << speed << badSpeed << 0;
        QTest::newRow("events cut in a record") << QByteArray("\x01\x01", 2) + a + a + a.left(a.size() - 1)
                                                << int(RawTraceConversion::Ok) << QString() << 2;
        QTest::newRow("Osp cut in a record") << QByteArray("\x02", 1) + b + b.left(b.size() - 1) << int(RawTraceConversion::Ok)
                                             << QString() << 1;
        QTest::newRow("Osp header only") << QByteArray("\x02", 1) << int(RawTraceConversion::Ok) << QString() << 0;
        QByteArray garbage(5000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 131 + 7) & 0xFF);
        QTest::newRow("events garbage") << QByteArray("\x01\x00", 2) + garbage << int(RawTraceConversion::Ok) << QString() << -1;
        QTest::newRow("Osp garbage") << QByteArray("\x02", 1) + garbage << int(RawTraceConversion::Ok) << QString() << -1;
    }
    void corruptFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, message);
        QFETCH(int, frames);
        QTemporaryDir dir;
        const QString raw = dir.filePath("bad.praw");
        const QString trace = dir.filePath("bad.vtrc");
        writeFile(raw, content);
        const QByteArray before = QCryptographicHash::hash(readAll(raw), QCryptographicHash::Sha256);

        CapturePipeline p;
        const RawTraceConversion::Result r = convert(raw, trace, p);
        QTEST(int(r), "result");
        QCOMPARE(RawTraceConversion::message(r), message);
        if (frames >= 0)
            QCOMPARE(p.decoder.counters().frames, quint64(frames));
        QCOMPARE(QCryptographicHash::hash(readAll(raw), QCryptographicHash::Sha256), before);
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(raw)));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(trace)));
        // Nothing but the two files is left in the folder.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    // A missing raw file, or one still being recorded, is not converted.
    void sourceMissingOrInUse()
    {
        QTemporaryDir dir;
        RawTraceConversion c;
        QCOMPARE(c.openSource(dir.filePath("none.praw")), RawTraceConversion::SourceOpenFailed);
        QCOMPARE(RawTraceConversion::message(RawTraceConversion::SourceOpenFailed),
                 QStringLiteral("Impossible to open source file (praw)."));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(dir.filePath("none.praw"))));
        const QString raw = dir.filePath("rec.praw");
        RawFileWriter writer;
        QVERIFY(writer.open(raw));
        writer.appendRaw("\x02", 1);
        QCOMPARE(c.openSource(raw), RawTraceConversion::SourceInUse);
        QCOMPARE(RawTraceConversion::message(RawTraceConversion::SourceInUse, raw),
                 QStringLiteral("The backup file is already in use:\n") + raw);
        QVERIFY(writer.close());
        QCOMPARE(c.openSource(raw), RawTraceConversion::Ok);
        QCOMPARE(c.readHeader(), RawTraceConversion::Ok);
        QCOMPARE(c.flowType(), 2);
    }

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
        QCOMPARE(f[1], QByteArray("2"));
        QCOMPARE(f.mid(8, 10), (QList<QByteArray>{ "RP_DAT", "0x0510", "", "4", "Speed motor", "12.5", "Motor speed",
                                                   "Float", "[0 ; 31]", ":/images/rendering/gauge.png" }));
        QVERIFY(!f[21].isEmpty());
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

    // A trace in a folder that is not there, or locked by another capture, is refused.
    void traceRefused()
    {
        QTemporaryDir dir;
        TraceFileWriter writer;
        QVERIFY(!writer.open(dir.filePath("missing/a.vtrc")));
        QCOMPARE(writer.errorString(), QStringLiteral("Impossible to open the destination file (vtrc)."));
        // Rows for a closed trace go nowhere and hand out no offsets.
        writer.appendRow(TraceRow());
        QVector<qint64> offsets;
        QVERIFY(!writer.writePending(&offsets));
        QVERIFY(offsets.isEmpty());

        const QString path = dir.filePath("busy.vtrc");
        writeFile(path, "kept\n");
        QLockFile other(CaptureFileLock::lockPath(path));
        QVERIFY(other.tryLock(0));
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

    void statisticsRoundTrip()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("stats.xml");
        Figures saved;
        saved.fill();
        StatsFile out = saved.file();
        QVERIFY2(out.save(path), qPrintable(out.errorString()));
        Figures loaded;
        StatsFile in = loaded.file();
        QVERIFY2(in.load(path), qPrintable(in.errorString()));
        QVERIFY(loaded == saved);
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(path)));
        // Saving again replaces the file whole.
        saved.rpDat = 1;
        QVERIFY(saved.file().save(path));
        QVERIFY(in.load(path));
        QCOMPARE(loaded.rpDat, quint64(1));
    }

    void documentLayout()
    {
        Figures f;
        f.fill();
        const QByteArray xml = f.file().toXml();
        QVERIFY(xml.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"));
        QDomDocument doc;
        QVERIFY(doc.setContent(xml));
        const QDomElement root = doc.documentElement();
        QCOMPARE(root.tagName(), QStringLiteral("stats"));
        QCOMPARE(root.attribute("version"), QStringLiteral("1.0"));
        QStringList children;
        for (QDomElement e = root.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
            children << e.tagName();
        QCOMPARE(children, (QStringList{ "networkInfo", "capturingTime", "fipTime", "counters" }));
        QCOMPARE(root.firstChildElement("networkInfo").attribute("speed"), QStringLiteral("1 Mbits/s"));
        QCOMPARE(root.firstChildElement("fipTime").attribute("turnAroundTime"), f.turnAround);
        const QDomElement first = root.firstChildElement("counters").firstChildElement("counter");
        QCOMPARE(first.attribute("name"), QStringLiteral("counter_id_dat"));
        QCOMPARE(first.attribute("value"), QStringLiteral("18446744073709551615"));
        QCOMPARE(root.firstChildElement("counters").elementsByTagName("counter").size(), 3);
    }

    void absentValuesKept()
    {
        Figures f;
        f.fcs = 99;
        f.silence = "kept";
        StatsFile file = f.file();
        QVERIFY(file.fromXml(QByteArray(kValid).replace("%1", "7")));
        QCOMPARE(f.idDat, quint64(7));
        QCOMPARE(f.rpDat, quint64(2));
        QCOMPARE(f.fcs, quint64(99));
        QCOMPARE(f.speed, QStringLiteral("5 Mbits/s"));
        QCOMPARE(f.silence, QStringLiteral("f"));
    }

    void corruptStatistics_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        const QByteArray valid(kValid);
        QTest::newRow("not XML") << QByteArray("\x01\x02 garbage") << "line 1";
        QTest::newRow("cut short") << valid.left(valid.size() / 2) << "line";
        QTest::newRow("empty") << QByteArray() << "line";
        QTest::newRow("other root") << QByteArray("<project version=\"1.0\"/>") << "This is not a statistics file.";
        QTest::newRow("version 2.0") << QByteArray(valid).replace("stats version=\"1.0\"", "stats version=\"2.0\"")
                                     << "Unsupported statistics file version: 2.0";
        QTest::newRow("negative") << QByteArray(valid).replace("%1", "-1") << "Invalid value of the counter counter_id_dat: -1";
        QTest::newRow("letters") << QByteArray(valid).replace("%1", "12x") << "counter_id_dat: 12x";
        QTest::newRow("empty value") << QByteArray(valid).replace("%1", "") << "counter_id_dat";
        QTest::newRow("blank first") << QByteArray(valid).replace("%1", " 5") << "counter_id_dat";
        QTest::newRow("beyond 64 bits") << QByteArray(valid).replace("%1", "18446744073709551616") << "counter_id_dat";
        QTest::newRow("no name") << QByteArray(valid).replace("%1", "1").replace("name=\"counter_rp_dat\" ", "") << "A counter has no name.";
    }
    void corruptStatistics()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.xml");
        writeFile(path, content);
        Figures f;
        f.fill();
        const Figures before = f;
        StatsFile file = f.file();
        QVERIFY(!file.load(path));
        QVERIFY2(file.errorString().startsWith(QStringLiteral("The statistics file is not valid:\n") + path),
                 qPrintable(file.errorString()));
        QVERIFY2(file.errorString().contains(reason), qPrintable(file.errorString()));
        // Nothing half-imported, the file untouched, no lock left.
        QVERIFY(f == before);
        QCOMPARE(readAll(path), content);
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(path)));
    }

    // A file that is not there is not made by loading; a folder that is not there gets no file.
    void unreachableStatistics()
    {
        QTemporaryDir dir;
        Figures f;
        StatsFile file = f.file();
        QVERIFY(!file.load(dir.filePath("none.xml")));
        QVERIFY(file.errorString().startsWith(QStringLiteral("Impossible to open the statistics file:\n")));
        QVERIFY(!QFile::exists(dir.filePath("none.xml")));
        QVERIFY(!QFile::exists(CaptureFileLock::lockPath(dir.filePath("none.xml"))));
        const QString path = dir.filePath("missing/stats.xml");
        QVERIFY(!file.save(path));
        QVERIFY(file.errorString().startsWith(QStringLiteral("Impossible to save the statistics file:\n") + path));
        QVERIFY(!QFile::exists(path));
    }

    void lockedStatisticsRefused()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("stats.xml");
        Figures f;
        f.fill();
        QVERIFY(f.file().save(path));
        const QByteArray before = readAll(path);
        QLockFile other(CaptureFileLock::lockPath(path));
        QVERIFY(other.tryLock(0));
        Figures g;
        StatsFile file = g.file();
        QVERIFY(!file.load(path));
        QCOMPARE(file.errorString(), QStringLiteral("The statistics file is already in use:\n") + path);
        QVERIFY(g == Figures());
        g.rpDat = 5;
        QVERIFY(!file.save(path));
        QCOMPARE(file.errorString(), QStringLiteral("The statistics file is already in use:\n") + path);
        QCOMPARE(readAll(path), before);
    }

    void pcapngRoundTrip_data()
    {
        QTest::addColumn<quint8>("frameType");
        QTest::addColumn<quint8>("speedCode");
        QTest::addColumn<bool>("fromRaw");
        QTest::addColumn<bool>("statistics");
        QTest::newRow("WorldFIP 1 Mbit/s trace") << quint8(2) << quint8(1) << false << true;
        QTest::newRow("FIP 2.5 Mbit/s trace") << quint8(1) << quint8(2) << false << true;
        QTest::newRow("FIP 31.25 kbit/s trace") << quint8(1) << quint8(0) << false << true;
        QTest::newRow("WorldFIP 5 Mbit/s trace, bus told by the rows") << quint8(2) << quint8(3) << false << false;
        QTest::newRow("WorldFIP 5 Mbit/s raw") << quint8(2) << quint8(3) << true << false;
    }
    void pcapngRoundTrip()
    {
        QFETCH(quint8, frameType);
        QFETCH(quint8, speedCode);
        QFETCH(bool, fromRaw);
        QFETCH(bool, statistics);
        QTemporaryDir dir;
        const QString base = dir.filePath("capture");
        QVERIFY(SimulatedCapture::make(base, 3000, frameType, speedCode));
        if (!statistics)
            QVERIFY(QFile::remove(base + ".xml"));

        QStringList expected = SimulatedCapture::readRows(base + ".vtrc");
        PcapngExport exporter;
        int lastPercent = -1;
        exporter.setProgress([&](int percent) { lastPercent = percent; return true; });
        if (fromRaw) {
            QCOMPARE(exporter.fromRaw(base + ".praw", dir.filePath("out.pcapng")), PcapngExport::Ok);
            // A raw file has no interruption: its rows are those of its own conversion.
            SimulatedCapture::Session s;
            QCOMPARE(convert(base + ".praw", dir.filePath("raw.vtrc"), s.session), RawTraceConversion::Ok);
            expected = SimulatedCapture::readRows(dir.filePath("raw.vtrc"));
        } else {
            QCOMPARE(exporter.fromTrace(base + ".vtrc", dir.filePath("out.pcapng")), PcapngExport::Ok);
        }
        QCOMPARE(lastPercent, 100);
        QCOMPARE(exporter.link().frameType, frameType);
        QCOMPARE(exporter.link().speedCode, speedCode);
        QCOMPARE(exporter.framesWritten(), quint64(expected.size()));

        QString error;
        const QStringList imported = importRows(dir.filePath("out.pcapng"), dir.filePath("back.vtrc"), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        compareRows(expected, imported);
        QVERIFY(expected.filter("\tType: FCS Error [read = 0x").size() > 0);
        QVERIFY(expected.filter("\tRP_MSG_").size() > 0);
    }

    void filteredRowsKeepTheirNumbers()
    {
        QTemporaryDir dir;
        const QString base = dir.filePath("capture");
        QVERIFY(SimulatedCapture::make(base, 400, 2, 1));
        PcapngExport exporter;
        exporter.setRowFilter([](qint64, const TraceRow& row) { return row.field(TraceRow::Control) == "ERROR"; });
        QCOMPARE(exporter.fromTrace(base + ".vtrc", dir.filePath("errors.pcapng")), PcapngExport::Ok);

        const QStringList errors = SimulatedCapture::readRows(base + ".vtrc").filter("\tERROR\t");
        QString error;
        const QStringList imported = importRows(dir.filePath("errors.pcapng"), dir.filePath("back.vtrc"), &error);
        QCOMPARE(imported.size(), errors.size());
        for (int i = 0; i < errors.size(); ++i) {
            QCOMPARE(imported.at(i).section('\t', 1, 1), errors.at(i).section('\t', 1, 1));
            QCOMPARE(imported.at(i).section('\t', 5, 5), errors.at(i).section('\t', 5, 5));
        }
    }

    void cancelKeepsNoFile()
    {
        QTemporaryDir dir;
        const QString base = dir.filePath("capture");
        QVERIFY(SimulatedCapture::make(base, 300000, 2, 1));
        PcapngExport exporter;
        exporter.setProgress([](int) { return false; });
        QCOMPARE(exporter.fromTrace(base + ".vtrc", dir.filePath("out.pcapng")), PcapngExport::Cancelled);
        QVERIFY(!QFile::exists(dir.filePath("out.pcapng")));
    }

    // Foreign captures give their frames' rows (the start of each row's data);
    // bad files end with the result and a message naming the fault.
    void imports_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("texts");

        // Classic pcap, big-endian, nanosecond stamps.
        QByteArray pcap = QByteArray::fromHex("a1b23c4d000200040000000000000000") + be32(65535) + be32(147);
        int i = 0;
        for (const QByteArray& f : transaction())
            pcap += be32(1767225600) + be32(quint32(i++) * 50000) + be32(quint32(f.size())) + be32(quint32(f.size())) + f;
        QTest::newRow("pcap, big-endian, ns") << pcap << int(PcapngImport::Ok) << QStringList{ "05 12 ", "40 03 aa bb 05 " };
        // pcapng with no description: the frame type is the one whose FCS fits; the
        // second packet has the preamble error flag.
        QByteArray ng = sectionHeader() + interface(Pcapng::LinkTypeFip);
        ng += packet(transaction().at(0));
        QByteArray flagged = packet(transaction().at(1));
        flagged.chop(4);
        flagged += QByteArray::fromHex("02000400") + le32(Pcapng::FlagPreamble) + le32(0) + le32(0);
        qToLittleEndian<quint32>(quint32(flagged.size()), flagged.data() + 4);
        flagged.chop(4);
        flagged += le32(quint32(flagged.size() + 4));
        ng += flagged;
        QTest::newRow("pcapng, flags only")
            << ng << int(PcapngImport::Ok) << QStringList{ "05 12 ", "Type: PRE [Glitches] - Data Rescue: 02 40 03 aa bb 05 " };

        const int damaged = PcapngImport::Damaged, wrongLink = PcapngImport::WrongLinkType;
        const QByteArray good = sectionHeader() + interface(Pcapng::LinkTypeFip) + packet(QByteArray::fromHex("300000"));
        QTest::newRow("empty") << QByteArray() << damaged << QStringList{ "too short" };
        QTest::newRow("not a capture") << QByteArray("hello, world") << damaged << QStringList{ "neither" };
        QTest::newRow("truncated block") << good.left(good.size() - 6) << damaged << QStringList{ "runs past the end" };
        QTest::newRow("truncated header") << good.left(good.size() - 25) << damaged << QStringList{ "truncated" };
        QByteArray odd = good;
        qToLittleEndian<quint32>(13, odd.data() + 4);
        QTest::newRow("odd block length") << odd << damaged << QStringList{ "invalid length" };
        QTest::newRow("undeclared interface") << sectionHeader() + interface(147) + packet("\x30\0\0", 3) << damaged
                                              << QStringList{ "interface 3" };
        QTest::newRow("ethernet pcapng") << sectionHeader() + interface(1) + packet(QByteArray(60, 'e')) << wrongLink
                                         << QStringList{ "link type 1," };
        const QByteArray pcapHeader = QByteArray::fromHex("d4c3b2a10200040000000000000000000000040001000000");
        QTest::newRow("ethernet pcap") << pcapHeader + QByteArray(16, '\0') << wrongLink << QStringList{ "link type 1," };
        QTest::newRow("pcap packet past the end") << pcapHeader + QByteArray::fromHex("00000000000000000010000000100000")
                                                  << damaged << QStringList{ "runs past the end" };
    }
    void imports()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, result);
        QFETCH(QStringList, texts);
        QTemporaryDir dir;
        const QString foreign = dir.filePath("foreign.pcap");
        writeFile(foreign, content);
        SimulatedCapture::Session s;
        PcapngImport import;
        bool stop = false;
        QCOMPARE(int(import.toTrace(foreign, dir.filePath("foreign.vtrc"), s.session, TraceRecordOptions(), &stop)),
                 result);
        if (result != PcapngImport::Ok) {
            QVERIFY2(import.errorString().contains(texts.first()), qPrintable(import.errorString()));
            return;
        }
        const QStringList rows = SimulatedCapture::readRows(dir.filePath("foreign.vtrc"));
        QCOMPARE(rows.size(), texts.size());
        for (int r = 0; r < rows.size(); ++r)
            QVERIFY2(rows.at(r).section('\t', 13, 13).startsWith(texts.at(r)), qPrintable(rows.at(r)));
    }

    void fieldsEqualTheRows_data()
    {
        QTest::addColumn<quint8>("frameType");
        QTest::newRow("FIP") << quint8(1);
        QTest::newRow("WorldFIP") << quint8(2);
    }
    void fieldsEqualTheRows()
    {
        QFETCH(quint8, frameType);
        const QString tshark = QStandardPaths::findExecutable("tshark");
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (Debian package tshark; tools/bootstrap installs it): "
                  "the dissector is not checked here");

        QTemporaryDir dir;
        const QString base = dir.filePath("capture");
        QVERIFY(SimulatedCapture::make(base, 4000, frameType, 1));
        PcapngExport exporter;
        QCOMPARE(exporter.fromTrace(base + ".vtrc", dir.filePath("capture.pcapng")), PcapngExport::Ok);

        QProcess process;
        process.start(tshark, { "-X", "lua_script:" BX_SOURCE_DIR "/resources/wireshark/brantix_fip.lua", "-r",
                                dir.filePath("capture.pcapng"), "-T", "fields", "-E", "separator=/t", "-e", "fip.ctrl",
                                "-e", "fip.id", "-e", "fip.len", "-e", "fip.data", "-e", "fip.fcs.status" });
        QVERIFY(process.waitForFinished(120000));
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const QStringList rows = SimulatedCapture::readRows(base + ".vtrc");
        QCOMPARE(lines.size(), rows.size());

        QSet<QString> families;
        QSet<QString> errors;
        const QString type = frameType == 1 ? "FIP" : "WorldFIP";
        for (int i = 0; i < rows.size(); ++i) {
            QString family;
            QString error;
            QStringList expected = expectedFields(type + rows.at(i).mid(rows.at(i).indexOf('\t')), &family, &error);
            QStringList actual = lines.at(i).split('\t');
            while (actual.size() < 5)
                actual << QString();
            // An error row without identifier; the dissector has none before the
            // first identifier frame and after an interruption, where the row says 0.
            if (expected.at(1) == "*" || (expected.at(1) == "0x0000" && actual.at(1).isEmpty()))
                expected[1] = actual.at(1);
            if (actual != expected)
                QFAIL(qPrintable(QString("frame %1:\nrow     %2\ntshark  %3\nwanted  %4")
                                     .arg(i + 1)
                                     .arg(rows.at(i), actual.join(" | "), expected.join(" | "))));
            if (!family.isEmpty())
                families.insert(family);
            if (!error.isEmpty())
                errors.insert(error.section(" [", 0, 0));
        }
        QCOMPARE(families.size(), 5);
        const QSet<QString> kinds { "FCS Error", "Invalid Data Size", "Unknown Control", "PRE", "No FSD", "Unknown FSD",
                                    "No FED", "Frame Counter Overflow", "Traffic Interruption" };
        QCOMPARE(errors, kinds);
    }
};

QTEST_MAIN(TestCaptureFiles)
#include "tst_capturefiles.moc"
