// The statistics XML file: round trip, document layout, corrupt, missing and
// locked files.

#include "capture/files/CaptureFileLock.h"
#include "capture/files/StatsFile.h"

#include <QDomDocument>
#include <QLockFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Figures
{
    quint64 idDat = 0;
    quint64 rpDat = 0;
    quint64 fcs = 0;
    QString frameType, speed, start, end, duration, micro, macro, silence, turnAround;

    StatsFile file()
    {
        return StatsFile({ { "counter_id_dat", &idDat }, { "counter_rp_dat", &rpDat }, { "counter_error_fcs", &fcs } },
                         { { "frameType", &frameType }, { "speed", &speed }, { "startTime", &start },
                           { "endTime", &end }, { "duration", &duration }, { "microcycleTime", &micro },
                           { "macrocycleTime", &macro }, { "silenceTime", &silence },
                           { "turnAroundTime", &turnAround } });
    }

    void fill()
    {
        idDat = 18446744073709551615ULL;
        rpDat = 1234567;
        fcs = 0;
        frameType = "FIP";
        speed = "1 Mbits/s";
        start = "2026-01-01 00:00:00.000";
        end = "2026-01-01 01:00:00.500";
        duration = "01:00:00.500";
        micro = "10 ms";
        macro = "40 ms";
        silence = "150 us";
        turnAround = "<10 µs & \"more\">";
    }
    bool operator==(const Figures& o) const
    {
        return idDat == o.idDat && rpDat == o.rpDat && fcs == o.fcs && frameType == o.frameType && speed == o.speed
            && start == o.start && end == o.end && duration == o.duration && micro == o.micro && macro == o.macro
            && silence == o.silence && turnAround == o.turnAround;
    }
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char kValid[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<stats version=\"1.0\"><networkInfo frameType=\"FIP\" speed=\"5 Mbits/s\"/>"
                      "<capturingTime startTime=\"a\" endTime=\"b\" duration=\"c\"/>"
                      "<fipTime microcycleTime=\"d\" macrocycleTime=\"e\" silenceTime=\"f\" turnAroundTime=\"g\"/>"
                      "<counters><counter name=\"counter_id_dat\" value=\"%1\"/>"
                      "<counter name=\"counter_rp_dat\" value=\"2\"/></counters></stats>\n";

} // namespace

class TestStatsFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip()
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

    void corruptFiles_data()
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
    void corruptFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.xml");
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
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
    void unreachableFiles()
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

    void lockedFileRefused()
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

};

QTEST_GUILESS_MAIN(TestStatsFile)
#include "tst_statsfile.moc"
