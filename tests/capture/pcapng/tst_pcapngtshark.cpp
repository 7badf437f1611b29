// The general packet analyser's command-line reader, with the shipped dissector,
// reads an exported capture holding every control family and every error kind,
// and its fields equal Brantix's own rows.

#include "capture/decoder/FipControls.h"
#include "capture/decoder/FipFcs.h"
#include "capture/pcapng/PcapngExport.h"
#include "tests/capture/pcapng/SimulatedCapture.h"

#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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

class TestPcapngTshark : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("TZ", "UTC"); }
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

QTEST_MAIN(TestPcapngTshark)
#include "tst_pcapngtshark.moc"
