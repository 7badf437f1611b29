// The options store: every key written and read back by a restarted settings
// layer, the defaults of an empty store, values of the wrong type, and a damaged
// store set right before Qt reads it.

#include "shell/BXSettings.h"
#include "shell/SettingsFileCheck.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(BXSettings::Type)

class TstBXSettings : public QObject
{
    Q_OBJECT

    /// A value of the key's type unlike its default, varied by `seed`.
    static QVariant otherValue(const BXSettings::Key& key, int seed, bool edgy)
    {
        using Type = BXSettings::Type;
        switch (key.type) {
        case Type::Bytes: {
            // Blobs with NUL bytes, every byte value and INI-special characters.
            QByteArray blob;
            for (int i = 0; i < 300; ++i)
                blob.append(char((i * 7 + seed) & 0xff));
            return edgy ? blob + QByteArray("\0=;,\"\n[BX]", 11) : blob.left(seed + 1);
        }
        case Type::Bool:
            return !key.defaultValue.toBool();
        case Type::Int:
            return edgy ? -2147483647 + seed : 1000 + seed;
        case Type::String:
            return edgy ? QStringLiteral(" a, b; \"c\" = [BX]\\d é€ %1 ").arg(seed) : QStringLiteral("value %1").arg(seed);
        case Type::Color:
            return edgy ? QColor(seed % 256, 0, 255, 0) : QColor(seed % 256, 17, 34, 200);
        }
        return QVariant();
    }
    QString storePath() const { return m_dir.filePath(QStringLiteral("Brantix.ini")); }

    /// Every key given a value of its own, written to a new store; `bad` then stored for `key`.
    BXSettings writeEveryKey(bool edgy, const QString& key = QString(), const QVariant& bad = QVariant())
    {
        QFile::remove(storePath());
        BXSettings written;
        int seed = 0;
        for (const BXSettings::Key& k : BXSettings::keys())
            written.setValue(k.name, otherValue(k, seed++, edgy));
        QSettings store(storePath(), QSettings::IniFormat);
        written.write(store);
        if (!key.isEmpty())
            store.setValue(BXSettings::Group + "/" + key, bad);
        return written;
    }

    QTemporaryDir m_dir;

private slots:
    // Separators, quotes, NUL bytes and extremes; ordinary values are read back beside each wrong type below.
    void everyKeyReadsBack()
    {
        const BXSettings written = writeEveryKey(true);
        QSettings store(storePath(), QSettings::IniFormat);
        BXSettings read;
        read.read(store);
        QCOMPARE(store.childGroups(), QStringList{ BXSettings::Group });
        for (const BXSettings::Key& key : BXSettings::keys())
            QVERIFY2(read.value(key.name) == written.value(key.name), qPrintable(key.name));
    }

    void emptyStoreGivesDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("expected"); // invalid: the widget keeps what it has

        const QVariant keep;
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QList<QPair<QString, QVariant>> rows;
        for (const char* key : { "geometry", "state", "plandor/splitter/geometry", "plandor/splitter/state",
                                 "ostrak/splitter/mnemosgraphs/geometry", "ostrak/splitter/mnemosgraphs/state",
                                 "ostrak/mainatview/columns", "ostrak/transactionatview/columns",
                                 "ostrak/mnemosatview/columns", "plandor/mainctview/columns",
                                 "plandor/splitter/size/section0", "plandor/splitter/size/section1",
                                 "plandor/splitter/size/section2", "ostrak/parameters/lineedit/backuprepository" })
            rows.append({ key, keep });
        const QString p = QStringLiteral("ostrak/parameters/");
        const QList<QPair<QString, QVariant>> others = {
            { "plandor/itemboxpanelwidget/hidden", true }, { "plandor/overviewpanelwidget/hidden", false },
            { "plandor/itemeditorpanelwidget/hidden", false }, { "plandor/itemcontrollerpanelwidget/hidden", false },
            { "plandor/projectrightstackedwidget/hidden", false }, { "topbar/hidden", false },
            { "leftbar/hidden", false }, { "bottombar/hidden", false },
            { "plandor/parameters/lineedit/savepath", documents + "/Kivotec/Brantix" },
            { "plandor/parameters/lineedit/filereceptiondir", QDir::homePath() + "/Downloads" },
            { p + "radiobutton/locallocation", true }, { p + "radiobutton/tcpremote", true },
            { p + "lineedit/osipaddress", "192.168.10.20" }, { p + "spinbox/osportnumber", 57117 },
            { p + "radiobutton/fixedidpadding", true }, { p + "lineedit/paddingidentifier", "9080" },
            { p + "radiobutton/paddingautodetectyes", true }, { p + "radiobutton/paddingvisibleyes", true },
            { p + "radiobutton/macrodetectyes", true }, { p + "lineedit/macromaxslicesvalue", "50" },
            { p + "lineedit/macrosamplingperiodvalue", "2000" }, { p + "radiobutton/backupyes", true },
            { p + "combobox/backupfiletype", 1 }, { p + "radiobutton/backupsizelimit", false },
            { p + "lineedit/backupsizelimitvalue", "50" }, { p + "combobox/backupsizelimitunit", 0 },
            { p + "combobox/backuptimelimitjvalue", 0 }, { p + "combobox/backuptimelimithvalue", 0 },
            { p + "combobox/backuptimelimitmvalue", 10 }, { p + "combobox/backuptimelimitsvalue", 0 },
            { p + "radiobutton/backuptimestampedyes", false }, { p + "radiobutton/logerrorsyes", true },
            { p + "lineedit/oscilloidentifier", "0" }, { p + "spinbox/oscillodelay", 1 },
            { p + "combobox/oscilloctrl", 0 }, { p + "slider/depthanalysisslider", 2 },
        };
        rows += others;
        // Requests in shades of blue, responses in shades of green, all with alpha 100.
        const QList<QPair<const char*, QColor>> colours = {
            { "id_dat", { 150, 150, 255 } }, { "id_msg", { 150, 150, 225 } }, { "id_rq1", { 150, 150, 195 } },
            { "id_rq2", { 150, 150, 165 } }, { "rp_dat", { 100, 255, 100 } }, { "rp_dat_msg", { 100, 235, 100 } },
            { "rp_dat_rq1", { 100, 215, 100 } }, { "rp_dat_rq2", { 100, 195, 100 } },
            { "rp_dat_rq1_msg", { 100, 175, 100 } }, { "rp_dat_rq2_msg", { 100, 155, 100 } },
            { "rp_rq1", { 100, 135, 100 } }, { "rp_rq2", { 100, 115, 100 } }, { "rp_msg_noack", { 100, 95, 100 } },
            { "rp_msg_acke", { 100, 75, 100 } }, { "rp_msg_acko", { 100, 75, 100 } }, { "rp_ackpe", { 100, 55, 100 } },
            { "rp_ackpo", { 100, 55, 100 } }, { "rp_ackme", { 100, 55, 100 } }, { "rp_ackmo", { 100, 55, 100 } },
            { "rp_fin", { 100, 35, 100 } } };
        for (const auto& c : colours) {
            QColor colour = c.second;
            colour.setAlpha(100);
            rows.append({ p + "colors/" + c.first, colour });
        }
        for (const auto& row : rows)
            QTest::newRow(qPrintable(row.first)) << row.first << row.second;
        // The table above is the whole list: a key more or less is a fault.
        QTest::newRow("(count)") << QString() << QVariant(int(rows.size()));
    }

    void emptyStoreGivesDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, expected);
        if (key.isEmpty()) {
            QCOMPARE(BXSettings::keys().size(), expected.toInt());
            return;
        }
        QFile::remove(storePath());
        QSettings store(storePath(), QSettings::IniFormat);
        BXSettings settings;
        settings.read(store);
        QVERIFY2(BXSettings::findKey(key), "unknown key");
        QCOMPARE(settings.has(key), expected.isValid());
        if (expected.isValid())
            QCOMPARE(settings.value(key), expected);
    }

    void wrongTypeGivesEmptyValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("expected");

        const QString text = QStringLiteral("ostrak/parameters/lineedit/paddingidentifier");
        const QString number = QStringLiteral("ostrak/parameters/spinbox/osportnumber");
        const QString flag = QStringLiteral("ostrak/parameters/radiobutton/locallocation");
        const QString colour = QStringLiteral("ostrak/parameters/colors/rp_msg_acke");
        const QString blob = QStringLiteral("ostrak/mainatview/columns");
        QTest::newRow("text given a blob") << text << QVariant(QByteArray("\x01\x02", 2)) << QVariant(QString(""));
        QTest::newRow("number given trailing letters") << number << QVariant("465x") << QVariant(0);
        QTest::newRow("number beyond int") << number << QVariant("99999999999") << QVariant(0);
        QTest::newRow("bool given a number") << flag << QVariant(7) << QVariant(false);
        QTest::newRow("colour given words") << colour << QVariant("not a colour") << QVariant(QColor());
        // A stored colour variant may carry any kind byte and, extended, any half-float.
        const auto streamed = [](qint8 kind, quint16 alpha, quint16 red) {
            QByteArray bytes;
            QDataStream(&bytes, QIODevice::WriteOnly) << kind << alpha << red << quint16(0) << quint16(0) << quint16(0);
            QDataStream in(bytes);
            QColor c;
            in >> c;
            return QVariant(c);
        };
        QTest::newRow("colour not a number") << colour << streamed(QColor::ExtendedRgb, 0x3c00, 0x7e00) << QVariant(QColor());
        QTest::newRow("colour infinite") << colour << streamed(QColor::ExtendedRgb, 0x7c00, 0x3c00) << QVariant(QColor());
        QTest::newRow("colour of no known kind") << colour << streamed(9, 0xffff, 0x8000) << QVariant(QColor());
        QTest::newRow("extended colour") << colour << streamed(QColor::ExtendedRgb, 0x3c00, 0x3e00)
                                         << QVariant(QColor::fromRgbF(1.5, 0, 0));
        QTest::newRow("blob given text") << blob << QVariant("plain text") << QVariant(QByteArray());
        // Text stores give numbers and booleans back as text: those are the right type.
        QTest::newRow("number as text") << number << QVariant(" 465 ") << QVariant(465);
        QTest::newRow("bool as text") << flag << QVariant("False") << QVariant(false);
    }

    void wrongTypeGivesEmptyValue()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);

        // Every other key holds a value of its own, which must survive the bad one.
        const BXSettings good = writeEveryKey(false, key, stored);
        QSettings store(storePath(), QSettings::IniFormat);
        BXSettings read;
        read.read(store);
        QTEST(read.value(key), "expected");
        for (const BXSettings::Key& k : BXSettings::keys()) {
            if (k.name != key)
                QCOMPARE(read.value(k.name), good.value(k.name));
        }
    }
    void damagedVariantsAreSetAside_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QStringList>("setAside");

        // A list type whose count claims about two billion entries.
        const QByteArray list = "(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)";
        const QStringList bad{ "BX/bad" };
        QTest::newRow("list") << "bad=@Variant" + list << bad;
        QTest::newRow("escaped at sign") << "bad=\\x40Variant" + list << bad;
        QTest::newRow("line continued") << "bad=@Vari\\\nant" + list << bad;
        QTest::newRow("quoted") << "bad=\"@Variant" + list + "\"" << bad;
        QTest::newRow("in a list") << "bad=a, @Variant" + list << bad;
        QTest::newRow("colour") << QByteArray("c=@Variant(\\0\\0\\0\\x43\\x1\\xff\\xff\\x80\\0@\\0 \\0\\0\\0)")
                                << QStringList();
        QTest::newRow("text") << "t=@@Variant" + list << QStringList();
    }

    void damagedVariantsAreSetAside()
    {
        QFETCH(QByteArray, line);
        QFETCH(QStringList, setAside);

        const QByteArray text = "[BX]\ngood=1\n" + line + "\nafter=2\n[Other]\nx=3\n";
        QFile file(storePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        const SettingsFileCheck::Result result = SettingsFileCheck::repair(storePath());
        QCOMPARE(result.setAside, setAside);
        QVERIFY(result.error.isEmpty());
        if (!setAside.isEmpty()) {
            QFile kept(result.keptAs);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), text);
        }
        // Every group read, as the window does over time: nothing aborts, the rest is whole.
        QSettings store(storePath(), QSettings::IniFormat);
        for (const QString& key : store.allKeys())
            store.value(key);
        QCOMPARE(store.value("BX/good").toInt() + store.value("BX/after").toInt() + store.value("Other/x").toInt(), 6);
    }
};

QTEST_GUILESS_MAIN(TstBXSettings)
#include "tst_bxsettings.moc"
