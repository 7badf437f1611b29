#include "tst_maindtmodel_util.h"

#include "design/BrxprjFile.h"
#include "design/ExampleProjects.h"
#include "design/RecentProjects.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <unistd.h>

using M = MainDTModel;

namespace {
const QString kExamplesDir = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/");

/// Every node's project columns with its path; an empty value and no value read the same.
QStringList projectRows(const MainDTModel& model)
{
    QStringList rows;
    for (const QModelIndex& i : model.getAllIndexes()) {
        QStringList cells;
        for (const auto& step : TreeItem::pathFromIndex(i))
            cells << QString::number(step.first);
        cells << "|";
        for (int c = 0; c <= M::LastProjectColumn; ++c)
            cells << model.getItem(i)->data(c).toString();
        rows << cells.join(QLatin1Char(';'));
    }
    return rows;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

/// Output and input variables, a message with its mirror, a rendering, and ten instructions.
void buildProject(DesignFixture& f)
{
    f.buildBasic();
    const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
    f.ctrl = true;
    f.insertCount = 10;
    QVERIFY(f.drop("Instruction", table));
    f.ctrl = false;
    const QModelIndex source = f.add("Variable", f.station);
    const QModelIndex destination = f.add("Variable", f.add("Station", f.segment));
    QVERIFY(f.edit(source, M::ColVarOutId, "0x0101"));
    QVERIFY(f.edit(f.model.index(2, 0, table), M::ColInstructionType, "SEND_ID_DAT"));
    QVERIFY(f.edit(f.model.index(2, 0, table), M::ColInstructionId, "0x0101"));
    QVERIFY(f.edit(source, M::ColVarOutMessageTransferEnabled, "true"));
    QVERIFY(f.edit(destination, M::ColVarMessageReceptionEnabled, "true"));
    QVERIFY(f.add("Message", source).isValid());
    const QModelIndex mnemonic = f.add("Mnemonic", f.add("Data Rendering", source));
    QVERIFY(f.edit(mnemonic, M::ColMnemoDescription, "Pump \"A\" <on> & off\n\tsecond line"));
    QCOMPARE(f.model.getClassTypeIndexes(M::MESSAGE_IN).size(), 1);
}
} // namespace

// Fatal testers: the QtTest mode formats every check it passes, far too slow on large trees.
class TestBrxprjFile : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("example"); // empty: a project built by drops
        QTest::newRow("built") << QString();
        for (const QString& name : ExampleProjects::fileNames())
            QTest::newRow(qPrintable(name)) << name;
    }

    void roundTrip()
    {
        QFETCH(QString, example);
        QTemporaryDir dir;
        DesignFixture f;
        BrxprjFile file(&f.model);
        QByteArray original;
        if (example.isEmpty()) {
            buildProject(f);
            // An instruction is stored without its position; texts are escaped.
            QCOMPARE(f.model.getInstructionIndexes(0x0101).first().data().toString(), QString("03 - SEND_ID_DAT (0x0101)"));
            const QByteArray bytes = file.toBytes();
            QVERIFY(bytes.contains("<maindtitem col0=\"SEND_ID_DAT (0x0101)\" col1=\"Instruction\" col2=\"5\""));
            QVERIFY(!bytes.contains(" - SEND_ID_DAT"));
            QVERIFY(bytes.contains("col61=\"Pump &quot;A&quot; &lt;on&gt; &amp; off&#10;&#9;second line\""));
        } else {
            original = readAll(kExamplesDir + example);
            QSignalSpy progress(&file, &BrxprjFile::generateProgress);
            QVERIFY(file.load(kExamplesDir + example));
            QCOMPARE(progress.first().first().toInt(), 0);
            QCOMPARE(progress.last().first().toInt(), 100);
            for (int i = 1; i < progress.count(); ++i) // at most 101 steps, each one higher
                QVERIFY(progress.at(i).first().toInt() > progress.at(i - 1).first().toInt());
            QCOMPARE(f.model.undoStack()->count(), 0);
            QCOMPARE(f.model.classType(f.network()), quint8(M::NETWORK));
        }
        const QStringList before = projectRows(f.model);
        const QString path = dir.filePath("p.brxprj");
        QVERIFY(file.save(path));
        const QByteArray bytes = readAll(path);
        QVERIFY(bytes.startsWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<brxprj version=\"1.0\">\n <design>\n  <maindtitem "));
        if (!original.isEmpty())
            QCOMPARE(bytes, original); // the committed examples are this writer's output

        DesignFixture g;
        BrxprjFile reader(&g.model);
        QVERIFY(reader.load(path));
        // Checked once loaded: the tenth instruction renumbers its siblings' display texts while
        // loading, which the tester takes for corrupted rows.
        QAbstractItemModelTester tester(&g.model, QAbstractItemModelTester::FailureReportingMode::Fatal);
        QCOMPARE(projectRows(g.model), before);
        for (const QModelIndex& i : g.model.getAllIndexes()) {
            for (int c = M::FirstStatusColumn; c < M::ColumnCount; ++c)
                QVERIFY(g.model.text(i, c).isEmpty());
        }
        QVERIFY(reader.save(path));
        QCOMPARE(readAll(path), bytes);
    }

    void oddContent_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("nodes");      // nodes in the loaded tree
        QTest::addColumn<int>("maxDepth");   // deepest node (the Network is depth 1)
        QTest::addColumn<QStringList>("cells"); // "row/row:column=value" checks

        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("other root name")
            << head + "<project><design><maindtitem col0=\"N\" col2=\"0\"><maindtitem col0=\"S\" col2=\"1\" col12=\"4\"/>"
                      "</maindtitem></design></project>"
            << 2 << 2 << QStringList { "0:0=N", "0/0:12=4" };
        QTest::newRow("column numbers")
            << head + "<brxprj><maindtitem col99=\"status\" col258=\"low bits\" col107=\"dev\" col300=\"out of range\""
                      " colx=\"\" col=\"e\" col-1=\"neg\" col1e2=\"exp\" col99999999999999999999999=\"big\" col0=\"keep\"/></brxprj>"
            << 1 << 1 << QStringList { "0:0=keep", "0:99=status", "0:2=low bits", "0:107=dev" };
        QTest::newRow("unknown elements and text")
            << head + "<brxprj version=\"9\"><x><maindtitem col0=\"A\">text<y/><z><maindtitem col0=\"B\"/></z></maindtitem>"
                      "</x><!-- c --><maindtitem col0=\"C\"/><?pi data?></brxprj>"
            << 3 << 2 << QStringList { "0:0=A", "0/0:0=B", "1:0=C" };
        QTest::newRow("wrong-shaped values")
            << head + "<brxprj><maindtitem col2=\"5\" col0=\"instruction at the top\"><maindtitem col2=\"abc\" col13=\"zz\"/>"
                      "<maindtitem col2=\"2\" col13=\"-7\"/><maindtitem col2=\"6\" col32=\"0x10000\"/></maindtitem></brxprj>"
            << 4 << 2 << QStringList { "0:0=instruction at the top", "0/1:13=-7" };
        QByteArray wide = head + "<brxprj><design>";
        for (int i = 0; i < 20000; ++i)
            wide += "<maindtitem col0=\"Item " + QByteArray::number(i) + "\" col2=\"1\" col12=\"" + QByteArray::number(i) + "\"/>";
        wide += "</design></brxprj>";
        QTest::newRow("many nodes") << wide << 20000 << 1 << QStringList { "19999:0=Item 19999" };
        QTest::newRow("no items") << head + "<brxprj version=\"1.0\"><design/></brxprj>" << 0 << 0 << QStringList();
    }

    void oddContent()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, nodes);
        QFETCH(int, maxDepth);
        QFETCH(QStringList, cells);
        QTemporaryDir dir;
        const QString path = dir.filePath("odd.brxprj");
        QVERIFY(writeAll(path, content));
        DesignFixture f;
        BrxprjFile file(&f.model);
        QVERIFY(f.drop("Network", QModelIndex())); // replaced by the load
        QSignalSpy progress(&file, &BrxprjFile::generateProgress);
        {
            // The tester re-checks the whole model on every change: during small loads only.
            const auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;
            std::unique_ptr<QAbstractItemModelTester> during;
            if (nodes <= 50)
                during.reset(new QAbstractItemModelTester(&f.model, fatal));
            QVERIFY(file.load(path));
        }
        { QAbstractItemModelTester after(&f.model, QAbstractItemModelTester::FailureReportingMode::Fatal); }
        QCOMPARE(progress.last().first().toInt(), 100);
        QVERIFY(progress.count() <= 102);
        const QModelIndexList all = f.model.getAllIndexes();
        QCOMPARE(all.size(), nodes);
        int deepest = 0;
        for (const QModelIndex& i : all)
            deepest = qMax(deepest, TreeItem::pathFromIndex(i).size());
        QCOMPARE(deepest, maxDepth);
        for (const QString& check : cells) {
            const QString where = check.section('=', 0, 0);
            QModelIndex node;
            for (const QString& row : where.section(':', 0, 0).split('/'))
                node = f.model.index(row.toInt(), 0, node);
            QVERIFY2(node.isValid(), qPrintable(check));
            QCOMPARE(f.model.text(node, where.section(':', 1).toInt()), check.section('=', 1));
        }
        QCOMPARE(readAll(path), content);
        // The loaded tree saves again and reloads to the same rows (deep ones were kept, one level up).
        if (nodes > 0) {
            const QStringList rows = projectRows(f.model);
            QVERIFY(file.save(path));
            QVERIFY(file.load(path));
            QCOMPARE(projectRows(f.model), rows);
        }
    }

    void notWellFormed_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("reason");
        QTest::newRow("empty") << QByteArray() << "Line 1";
        QTest::newRow("truncated") << QByteArray("<brxprj version=\"1.0\"><design><maindtitem col0=\"N\">") << "Line 1";
        QTest::newRow("garbage") << QByteArray("\x00\xff\xfe not xml", int(sizeof("\x00\xff\xfe not xml")) - 1) << "Line 1";
        QTest::newRow("broken late") << QByteArray("<brxprj><maindtitem col0=\"N\"/><maindtitem col0=\"&bad;\"/></brxprj>")
                                     << "Line 1";
        // Beyond what a real project reaches: refused before the tree is laid out.
        QByteArray deep = "<brxprj>";
        for (int i = 0; i <= BrxprjFile::MaxDepth; ++i)
            deep += "<maindtitem col0=\"" + QByteArray::number(i) + "\">";
        for (int i = 0; i <= BrxprjFile::MaxDepth; ++i)
            deep += "</maindtitem>";
        QTest::newRow("too deep") << deep + "</brxprj>" << "nested more than";
        QByteArray many = "<brxprj>";
        for (int i = 0; i <= BrxprjFile::MaxItems; ++i)
            many += "<maindtitem/>";
        QTest::newRow("too many items") << many + "</brxprj>" << "more than 100,000 items";
        QTest::newRow("long attribute") << "<brxprj><maindtitem col0=\"" + QByteArray(BrxprjFile::MaxAttributeLength + 1, 'a')
                + "\"/></brxprj>"
                                        << "longer than";
    }

    void notWellFormed()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.brxprj");
        QVERIFY(writeAll(path, content));
        DesignFixture f;
        BrxprjFile file(&f.model);
        QVERIFY(!file.load(path));
        QVERIFY2(file.errorString().contains(reason), qPrintable(file.errorString()));
        QCOMPARE(f.model.rowCount(), 0);
        QCOMPARE(readAll(path), content);
        QVERIFY(!file.load(dir.filePath("missing.brxprj")));
    }

    void failedSaveKeepsOldFile_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("read-only folder") << "read-only";
        QTest::newRow("file size limit") << "size";
        QTest::newRow("path is a folder") << "folder";
        QTest::newRow("no network") << "empty";
    }

    void failedSaveKeepsOldFile()
    {
        QFETCH(QString, how);
        QTemporaryDir dir;
        const QString path = dir.filePath("old.brxprj");
        QByteArray old = "<brxprj version=\"1.0\"><design><maindtitem col0=\"Old\" col2=\"0\"/></design></brxprj>\n";
        DesignFixture f;
        BrxprjFile file(&f.model);
        if (how == "folder") {
            QVERIFY(QDir(dir.path()).mkpath("old.brxprj/inner"));
        } else {
            QVERIFY(writeAll(path, old));
        }
        if (how != "empty")
            buildProject(f);

        bool failed = false;
        if (how == "read-only") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
            failed = !file.save(path);
            QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        } else if (how == "size") {
            failed = !withFileSizeLimit(512, [&] { return file.save(path); });
            QVERIFY(file.toBytes().size() > 512);
        } else {
            failed = !file.save(path);
        }
        QVERIFY(failed);
        if (how == "folder")
            QVERIFY(QFileInfo(path).isDir());
        else
            QCOMPARE(readAll(path), old);
        // No half-written copy is left beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden),
                 how == "folder" ? QStringList() : QStringList { "old.brxprj" });
    }

    void recentList()
    {
        QTemporaryDir dir;
        QSettings settings(dir.filePath("settings.ini"), QSettings::IniFormat);
        RecentProjects recent(settings);
        QVERIFY(recent.files().isEmpty());
        for (int i = 1; i <= 10; ++i)
            recent.add(QString("/p/%1.brxprj").arg(i));
        QCOMPARE(recent.add("/p/4.brxprj").mid(0, 3), (QStringList { "/p/4.brxprj", "/p/10.brxprj", "/p/9.brxprj" }));
        QCOMPARE(recent.files().count("/p/4.brxprj"), 1);
        const QStringList eleven = recent.add("/p/11.brxprj");
        QCOMPARE(eleven.size(), 10);
        QCOMPARE(eleven.last(), QString("/p/2.brxprj")); // the oldest went
        QCOMPARE(settings.value("BX/recentfileslist").toStringList(), eleven);
        QCOMPARE(RecentProjects::withFirst({ "a", "b", "a", "c" }, "a"), (QStringList { "a", "b", "c" }));
        QCOMPARE(RecentProjects::actionText("/w/Examples/file_transfer_1M.brxprj"), QString("file_transfer_1M.brxprj"));
        QCOMPARE(RecentProjects::shortcut(0), QKeySequence("Ctrl+1"));
        QCOMPARE(RecentProjects::shortcut(8), QKeySequence("Ctrl+9"));
        QCOMPARE(RecentProjects::shortcut(9), QKeySequence("Ctrl+0"));
        recent.clear();
        QVERIFY(recent.files().isEmpty());
    }

    void examplesInstall()
    {
        QTemporaryDir dir;
        QCOMPARE(ExampleProjects::install(dir.path(), kExamplesDir), 9);
        const QString edited = dir.filePath("Examples/2sta_worldfip_1M.brxprj");
        QVERIFY(writeAll(edited, "mine"));
        QVERIFY(QFile::remove(dir.filePath("Examples/microcycle_test_2M5.brxprj")));
        QCOMPARE(ExampleProjects::install(dir.path(), kExamplesDir), 1);
        QCOMPARE(readAll(edited), QByteArray("mine"));
        QCOMPARE(readAll(dir.filePath("Examples/microcycle_test_2M5.brxprj")),
                 readAll(kExamplesDir + "microcycle_test_2M5.brxprj"));
        QVERIFY(writeAll(dir.filePath("file"), "x"));
        QCOMPARE(ExampleProjects::install(dir.filePath("file")), -1);
    }
};

QTEST_MAIN(TestBrxprjFile)
#include "tst_brxprjfile.moc"
