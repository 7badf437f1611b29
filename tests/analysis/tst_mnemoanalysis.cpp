// Mnemonic values tracked through the frames of a capture, and their exports.

#include "analysis/MnemoAnalysis.h"
#include "analysis/MnemoExport.h"
#include "analysis/MnemoGraphOption.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace {

MnemoField field(MnemoField::Type type, int start, int stop, bool big = false)
{
    MnemoField f;
    f.type = type;
    f.startBit = start;
    f.stopBit = stop;
    f.bigEndian = big;
    return f;
}

MnemoHistory history(MnemoField::Type type, int stopBit, const std::vector<quint64>& values, int first = 0)
{
    MnemoHistory h;
    h.field = field(type, 0, stopBit);
    h.first = first;
    h.values = values;
    return h;
}

/// Feeds one frame (control byte first, FCS bytes added) to the analysis.
void feed(MnemoAnalysis& analysis, quint16 identifier, QByteArray frame, quint64 timestampUs)
{
    frame.append("\0\0", 2);
    FipFrameInfo info;
    info.data = reinterpret_cast<const quint8*>(frame.constData());
    info.size = frame.size();
    info.control = quint8(frame[0]);
    info.identifier = identifier;
    info.ok = true;
    info.timestamp = timestampUs;
    TraceRow row;
    analysis.onReplyFrame(info, row);
    analysis.onFrameWithoutError(info);
}

/// CSV and TSV lines split at the separator; quotes are never written.
QList<QStringList> readDelimited(const QString& path, QChar separator)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QList<QStringList> rows;
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
        rows << line.split(separator);
    return rows;
}

} // namespace

class TstMnemoAnalysis : public QObject
{
    Q_OBJECT
private slots:
    void frameData_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<bool>("refreshment");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("value");
        // RP_DAT: control, PDU, length, data, status byte.
        const QByteArray reply = QByteArray::fromHex("024003aabb05");
        QTest::newRow("first data byte") << reply << false << 0 << "170";
        QTest::newRow("status byte is data without refreshment") << reply << false << 16 << "5";
        QTest::newRow("status byte left out with refreshment") << reply << true << 16 << "0";
        QTest::newRow("last data byte with refreshment") << reply << true << 8 << "187";
        QTest::newRow("rp_dat_msg") << QByteArray::fromHex("064002ccdd") << false << 8 << "221";
        QTest::newRow("no data") << QByteArray::fromHex("024000") << false << 0 << "0";
    }

    void frameData()
    {
        QFETCH(QByteArray, frame);
        QFETCH(bool, refreshment);
        QFETCH(int, start);
        QFETCH(QString, value);
        MnemoAnalysis analysis;
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, start, start + 7), "m", 0x0104, false, refreshment);
        // Another identifier's definition stays untouched.
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, 0, 7), "other", 0x0105, false);
        feed(analysis, 0x0104, frame, 1000);
        QCOMPARE(analysis.definition(0).label.value, value);
        QCOMPARE(analysis.definition(0).changes, quint64(1));
        QVERIFY(!analysis.definition(1).hasValue);
        QCOMPARE(analysis.dates().size(), size_t(1));
    }

    void histories()
    {
        MnemoAnalysis analysis;
        analysis.addDefinition(QModelIndex(), field(MnemoField::UInt8, 0, 7), "a", 0x0100, false);
        analysis.addDefinition(QModelIndex(), field(MnemoField::Bool, 8, 8), "b", 0x0100, false);
        analysis.addDefinition(QModelIndex(), field(MnemoField::Int16, 0, 15, true), "m",
                               MnemoAnalysis::messageKey(0, 0x0105, 0, 0x0102), true);
        const auto rpDat = [](int a, int b) { return QByteArray::fromHex("024002") + char(a) + char(b); };
        // RP_MSG: control, destination (segment, id), source (segment, id), data.
        const QByteArray message = QByteArray::fromHex("04000102000105ff38");
        feed(analysis, 0x0100, rpDat(1, 0), 1000);        // a=1 b=0
        feed(analysis, 0x0100, rpDat(1, 0), 2000);        // nothing changed: no date
        feed(analysis, 0x0100, rpDat(2, 1), 3000);        // a=2 b=1
        QVERIFY(analysis.changedLabels(0x0100));
        QCOMPARE(analysis.changedLabels(0x0100)->size(), 2);
        feed(analysis, 0x0300, message, 4500);            // the message: m=-200
        QVERIFY(!analysis.changedLabels(0x0100));
        feed(analysis, 0x0100, rpDat(2, 0), 5600);        // b=0
        QCOMPARE(analysis.changedLabels(0x0100)->size(), 1);
        QCOMPARE(analysis.changedLabels(0x0100)->first().name, QString("b"));

        QCOMPARE(analysis.dates(), (std::vector<qint64> { 1, 3, 5, 6 }));
        QCOMPARE(analysis.definition(0).changes, quint64(2));
        QCOMPARE(analysis.definition(1).changes, quint64(3));
        QCOMPARE(analysis.definition(2).changes, quint64(1));
        QCOMPARE(analysis.definition(2).label.value, QString("-200"));
        const auto values = [&](int d) {
            QStringList out;
            for (int i = 0; i < int(analysis.dates().size()); ++i)
                out << analysis.definition(d).history.at(i).toString();
            return out;
        };
        QCOMPARE(values(0), QStringList({ "1", "2", "2", "2" }));
        QCOMPARE(values(1), QStringList({ "false", "true", "true", "false" }));
        QCOMPARE(values(2), QStringList({ "", "", "-200", "-200" }));

        // A new capture keeps nothing.
        const quint64 generation = analysis.generation();
        analysis.reset();
        QVERIFY(analysis.generation() != generation);
        QVERIFY(analysis.dates().empty());
        QCOMPARE(analysis.count(), 0);
        feed(analysis, 0x0100, rpDat(9, 9), 7000);
        QVERIFY(analysis.dates().empty());
    }

    // A long history is drawn as an even subset that keeps both ends.
    void longHistoryDrawnEvenly()
    {
        const std::vector<int> drawn = MnemoGraphOption::drawnDates(1000000, 2000);
        QCOMPARE(drawn.size(), size_t(2000));
        QCOMPARE(drawn.front(), 0);
        QCOMPARE(drawn.back(), 999999);
        QVERIFY(std::is_sorted(drawn.begin(), drawn.end()));
    }

    void exportsReadBack_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("values"); // one byte per change date, the raw value
        QTest::addColumn<QStringList>("expected");
        const QByteArray steps = QByteArray::fromHex("0101ff0280");
        for (int format : { 1, 2, 3 }) {
            const QByteArray name = format == 1 ? "csv " : format == 2 ? "json " : "tsv ";
            QTest::newRow(name + "uint8") << format << int(MnemoField::UInt8) << steps
                                          << QStringList { "1", "255", "2", "128" };
            QTest::newRow(name + "int8") << format << int(MnemoField::Int8) << steps
                                         << QStringList { "1", "-1", "2", "-128" };
            QTest::newRow(name + "bool") << format << int(MnemoField::Bool) << QByteArray::fromHex("00000100")
                                         << QStringList { "0", "1", "0" };
        }
    }

    void exportsReadBack()
    {
        QFETCH(int, format);
        QFETCH(int, type);
        QFETCH(QByteArray, values);
        QFETCH(QStringList, expected);
        // No value at the first date.
        MnemoHistory h = history(MnemoField::Type(type), type == MnemoField::Bool ? 0 : 7, {}, 1);
        std::vector<qint64> dates { 1000 };
        for (int i = 0; i < values.size(); ++i) {
            h.values.push_back(type == MnemoField::Int8 ? quint64(qint64(qint8(values[i]))) : quint64(quint8(values[i])));
            dates.push_back(1000 + 250 * (i + 1));
        }
        QTemporaryDir dir;
        MnemoExport exporter;
        const QString name = "Speed/rpm:\"x\"?*";
        QVERIFY(exporter.generateMnemosFiles(dir.path(), format, { MnemoSeries { name, QString(), &h } }, dates));
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QCOMPARE(files.size(), 1);
        QCOMPARE(files.first(), MnemoExport::fileBaseName(name) + MnemoExport::extension(MnemoExport::Format(format)));
        QVERIFY(!files.first().contains('/') && !files.first().contains(':') && !files.first().contains('?'));
        const QString path = dir.filePath(files.first());

        QStringList times, read;
        if (format == MnemoExport::Json) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
            QCOMPARE(error.error, QJsonParseError::NoError);
            for (const QJsonValue& entry : document.array()) {
                times << entry.toObject().value("time").toString();
                const QJsonValue v = entry.toObject().value("value");
                QVERIFY(v.isBool() == (type == MnemoField::Bool));
                read << (v.isBool() ? QString::number(int(v.toBool())) : QString::number(v.toDouble()));
            }
        } else {
            for (const QStringList& fields : readDelimited(path, format == MnemoExport::Csv ? ',' : '\t')) {
                QCOMPARE(fields.size(), 2);
                times << fields[0];
                read << fields[1];
            }
        }
        QCOMPARE(read, expected);
        // Each entry keeps the date of its change; repeats are left out.
        QCOMPARE(times.first(), MnemoAnalysis::dateText(1250));
        QCOMPARE(times.size(), expected.size());
    }

    void jsonIntegersExact_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint64>("raw");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("2^53 + 1") << int(MnemoField::UInt64) << quint64(9007199254740993ULL) << QByteArray("9007199254740993");
        QTest::newRow("largest uint64") << int(MnemoField::UInt64) << ~quint64(0) << QByteArray("18446744073709551615");
        QTest::newRow("smallest int64") << int(MnemoField::Int64) << (quint64(1) << 63) << QByteArray("-9223372036854775808");
        QTest::newRow("int64 near 2^53") << int(MnemoField::Int64) << quint64(-9007199254740993LL)
                                         << QByteArray("-9007199254740993");
    }

    void jsonIntegersExact()
    {
        QFETCH(int, type);
        QFETCH(quint64, raw);
        QFETCH(QByteArray, written);
        MnemoHistory h = history(MnemoField::Type(type), 63, { raw });
        QTemporaryDir dir;
        MnemoExport exporter;
        QVERIFY(exporter.generateMnemosFiles(dir.path(), MnemoExport::Json, { MnemoSeries { "big", QString(), &h } }, { 1000 }));
        QFile file(dir.filePath("big.json"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY2(text.contains("\"value\": " + written + "\n"), text.constData());
        QJsonParseError error;
        QJsonDocument::fromJson(text, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
    }

    void overwrite_data()
    {
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QStringList>("replaced"); // of a, b, c: which files hold the new text
        QTest::newRow("yes, no, yes") << QList<int> { QMessageBox::Yes, QMessageBox::No, QMessageBox::Yes } << true << 3
                                      << QStringList { "a", "c" };
        QTest::newRow("yes to all") << QList<int> { QMessageBox::YesToAll } << true << 1 << QStringList { "a", "b", "c" };
        QTest::newRow("no to all") << QList<int> { QMessageBox::NoToAll } << true << 1 << QStringList {};
        QTest::newRow("abort at the second") << QList<int> { QMessageBox::Yes, QMessageBox::Abort } << false << 2
                                             << QStringList { "a" };
    }

    void overwrite()
    {
        QFETCH(QList<int>, answers);
        QFETCH(bool, completed);
        QFETCH(int, asked);
        QFETCH(QStringList, replaced);
        QTemporaryDir dir;
        MnemoHistory h = history(MnemoField::UInt16, 15, { 4242 });
        QList<MnemoSeries> series;
        for (const char* name : { "a", "b", "c" }) {
            QFile old(dir.filePath(QString(name) + ".csv"));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old\n");
            series << MnemoSeries { name, QString(), &h };
        }
        MnemoExport exporter;
        QStringList questions;
        exporter.setOverwriteQuestion([&](const QString& path) {
            questions << path;
            return answers.isEmpty() ? QMessageBox::Abort : QMessageBox::StandardButton(answers.takeFirst());
        });
        QCOMPARE(exporter.generateMnemosFiles(dir.path(), MnemoExport::Csv, series, { 5000 }), completed);
        QCOMPARE(questions.size(), asked);
        QCOMPARE(questions.first(), dir.filePath("a.csv"));
        for (const char* name : { "a", "b", "c" }) {
            QFile file(dir.filePath(QString(name) + ".csv"));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll().contains("4242"), replaced.contains(name));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no temporary file left behind
    }

    void unwritableFolder()
    {
        MnemoHistory h = history(MnemoField::UInt8, 7, { 1 });
        QTemporaryDir dir;
        QFile plain(dir.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        // A folder no one may create files in, even root, and a path that is a file.
        for (const QString& folder : { QString("/proc/self"), plain.fileName(), dir.filePath("missing") }) {
            MnemoExport exporter;
            QVERIFY2(!exporter.generateMnemosFiles(folder, MnemoExport::Json, { MnemoSeries { "m", QString(), &h } },
                                                   { 1 }),
                     qPrintable(folder));
            QVERIFY(!exporter.errorString().isEmpty());
        }
    }
};

QTEST_MAIN(TstMnemoAnalysis)
#include "tst_mnemoanalysis.moc"
