// A capture of the simulated bus → pcapng → import gives the capture's rows back,
// errors and interruption included; bad files end with a message, never a crash;
// tshark reads the exported captures as the rows say.

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/files/RawTraceConversion.h"
#include "capture/pcapng/PcapngExport.h"
#include "capture/pcapng/PcapngFormat.h"
#include "capture/pcapng/PcapngImport.h"
#include "tests/capture/pcapng/SimulatedCapture.h"

#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

class TestPcapngConversion : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
    void roundTrip_data()
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
    void roundTrip()
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
            RawTraceConversion conversion;
            QCOMPARE(conversion.openSource(base + ".praw"), RawTraceConversion::Ok);
            QCOMPARE(conversion.readHeader(), RawTraceConversion::Ok);
            TraceRecordOptions options;
            options.converting = true;
            CaptureSession::Files files;
            files.trace = dir.filePath("raw.vtrc");
            QString error;
            QVERIFY(s.session.start(options, files, &error));
            bool stop = false;
            conversion.decode(s.session.decoder(), &stop);
            QVERIFY(s.session.stop());
            expected = SimulatedCapture::readRows(files.trace);
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
        QByteArray past = good;
        qToLittleEndian<quint32>(4096, past.data() + sectionHeader().size() + interface(147).size() + 4);
        QTest::newRow("length past the end") << past << damaged << QStringList{ "runs past the end" };
        QByteArray odd = good;
        qToLittleEndian<quint32>(13, odd.data() + 4);
        QTest::newRow("odd block length") << odd << damaged << QStringList{ "invalid length" };
        QTest::newRow("undeclared interface") << sectionHeader() + interface(147) + packet("\x30\0\0", 3) << damaged
                                              << QStringList{ "interface 3" };
        QTest::newRow("ethernet pcapng") << sectionHeader() + interface(1) + packet(QByteArray(60, 'e')) << wrongLink
                                         << QStringList{ "link type 1," };
        QTest::newRow("unknown link type") << sectionHeader() + interface(4242) + packet("x") << wrongLink
                                           << QStringList{ "link type 4242" };
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
        QFile f(dir.filePath("foreign.pcap"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        SimulatedCapture::Session s;
        PcapngImport import;
        bool stop = false;
        QCOMPARE(int(import.toTrace(f.fileName(), dir.filePath("foreign.vtrc"), s.session, TraceRecordOptions(), &stop)),
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


QTEST_MAIN(TestPcapngConversion)
#include "tst_pcapngconversion.moc"
