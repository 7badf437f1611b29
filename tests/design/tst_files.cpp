// The design's files: the project file, the station configuration files, the recent list and
// the example projects.

#include "tst_maindtmodel_util.h"

#include "design/BrxprjFile.h"
#include "design/ExampleProjects.h"
#include "design/RecentProjects.h"
#include "design/StationConfiguration.h"
#include "design/StationConfigurationExport.h"
#include "tests/app/BoxAnswerer.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QDomDocument>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <unistd.h>

using M = MainDTModel;
using SC = StationConfiguration;

namespace {
const QString kExamplesDir = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/");
const QString kAbsent = QStringLiteral("<absent>");

QDomDocument readXml(const QString& path)
{
    QFile file(path);
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return QDomDocument();
    return document;
}

/// "A/B[1]/C" from the root element: C of the second B under A. A last step "@x" reads an
/// attribute, "#" counts the child elements.
QString valueAt(const QDomDocument& document, const QString& path)
{
    QDomElement e = document.documentElement();
    for (const QString& step : path.split('/')) {
        if (e.isNull())
            return kAbsent;
        if (step.startsWith('@'))
            return e.hasAttribute(step.mid(1)) ? e.attribute(step.mid(1)) : kAbsent;
        if (step == "#")
            return QString::number(e.childNodes().count() - (e.firstChild().isText() ? 1 : 0));
        const int bracket = step.indexOf('[');
        const QString name = bracket < 0 ? step : step.left(bracket);
        int n = bracket < 0 ? 0 : step.mid(bracket + 1).chopped(1).toInt();
        e = e.firstChildElement(name);
        while (n-- > 0 && !e.isNull())
            e = e.nextSiblingElement(name);
    }
    return e.isNull() ? kAbsent : e.text();
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

/// Network with stations 0 (arbiter, a scan table of ten instructions, two variables),
/// 10 (arbiter without scan table, a variable with a Bool and a Float mnemonic, receiving
/// station 0's message) and 2 (no arbiter, consuming station 10's variable).
void buildProject(DesignFixture& f)
{
    f.buildBasic();
    const QModelIndex table = f.add("Scan Table", f.add("Arbiter", f.station));
    for (const char* type : { "SEND_ID_DAT", "WAIT_TIME", "SUSPEND", "SM_MPS" })
        QVERIFY(f.edit(f.add("Instruction", table), M::ColInstructionType, type));
    f.ctrl = true;
    f.insertCount = 6;
    QVERIFY(f.drop("Instruction", table));
    f.ctrl = false;
    QVERIFY(f.edit(f.model.index(0, 0, table), M::ColInstructionId, "0x0101"));
    QVERIFY(f.edit(f.model.index(1, 0, table), M::ColInstructionTime, "2"));
    QVERIFY(f.edit(f.model.index(2, 0, table), M::ColInstructionSuspendDelay, "1"));
    QVERIFY(f.edit(f.model.index(2, 0, table), M::ColInstructionSuspendEventNumber, "3"));
    QVERIFY(f.edit(f.add("Variable", f.station), M::ColVarOutId, "1ab")); // hexadecimal without its prefix
    const QModelIndex emitter = f.add("Variable", f.station);
    QVERIFY(f.edit(emitter, M::ColVarOutMessageTransferEnabled, "true"));
    QVERIFY(f.edit(emitter, M::ColVarOutMessageTransferType, "Periodic"));
    QVERIFY(f.edit(emitter, M::ColVarOutMessageTransferChannel, "3"));

    const QModelIndex s10 = f.add("Station", f.segment);
    QVERIFY(f.edit(s10, M::ColStationAddress, "10"));
    f.add("Arbiter", s10);
    const QModelIndex out = f.add("Variable", s10);
    QVERIFY(f.edit(out, M::ColVarOutId, "0x0101"));
    QVERIFY(f.edit(out, M::ColVarOutPdu, "SM_MPS"));
    QVERIFY(f.edit(out, M::ColVarOutLength, "8"));
    QVERIFY(f.edit(out, M::ColVarOutDynamicRefreshmentEnabled, "true"));
    QVERIFY(f.edit(out, M::ColVarMessageReceptionEnabled, "true"));
    const QModelIndex rendering = f.add("Data Rendering", out);
    f.add("Mnemonic", rendering);
    const QModelIndex real = f.add("Mnemonic", rendering);
    QVERIFY(f.edit(real, M::ColMnemoStartBit, "8"));
    QVERIFY(f.edit(real, M::ColMnemoType, "Float"));
    QVERIFY(f.edit(real, M::ColMnemoEndianness, "Big-Endian"));
    QVERIFY(f.edit(real, M::ColMnemoDescription, QString::fromUtf8("Pump \"A\" <on> & off\n\tD\u00e9bit \u2248 m\u00b3/h")));
    QVERIFY(f.edit(f.add("Message", emitter), M::ColMsgDestinationId, "0x0101"));

    const QModelIndex s2 = f.add("Station", f.segment);
    QVERIFY(f.edit(s2, M::ColStationAddress, "2"));
    const QModelIndex in = f.add("Variable", s2);
    QVERIFY(f.edit(in, M::ColVariableDirection, "IN"));
    QVERIFY(f.edit(in, M::ColVarInId, "257"));
    QVERIFY(f.edit(in, M::ColVarInPromptnessEnabled, "true"));
}

/// The loaded file against the station's rows in the design, as "what=value" lines.
void compareWithDesign(const M& m, const QModelIndex& station, const SC& c)
{
    QStringList got, want;
    const auto check = [&](const QString& what, qlonglong read, qlonglong expected) {
        got << what + "=" + QString::number(read);
        want << what + "=" + QString::number(expected);
    };
    const auto num = [&](const QModelIndex& i, int column) { return M::parseNumber(m.text(i, column)); };
    const QModelIndex network = m.getNetworkIdx();
    QCOMPARE(c.subscriberName, m.text(station, M::ColObject));
    QCOMPARE(c.frameType, m.text(network, M::ColNetworkFrameType));
    check("address", c.subscriberNumber, num(station, M::ColStationAddress));
    check("speed", c.speed, FipCalculator::getSpeedList().indexOf(m.text(network, M::ColNetworkSpeed)));
    check("tslot", c.tSlot, num(station, M::ColStationTSlot));
    check("silence", c.silence, num(network, M::ColNetworkSilence));
    check("turnaround", c.turnAround, num(network, M::ColNetworkTurnAround));
    const QModelIndex arbiter = m.getArbiter(station);
    check("arbiter", c.hasBusArbiter, arbiter.isValid());
    check("priority", c.busArbiter.priority, arbiter.isValid() ? num(arbiter, M::ColArbiterPriorityLevel) : 0);
    const QModelIndexList tables = m.getScanTableIndexes(arbiter);
    check("tables", c.busArbiter.scanTables.size(), tables.size());
    for (int t = 0; t < qMin(tables.size(), c.busArbiter.scanTables.size()); ++t) {
        const SC::ScanTable& table = c.busArbiter.scanTables.at(t);
        check("table", table.number, num(tables[t], M::ColScanTableNumber));
        check("instructions", table.instructions.size(), m.rowCount(tables[t]));
        for (int i = 0; i < qMin(table.instructions.size(), m.rowCount(tables[t])); ++i) {
            const QModelIndex row = m.index(i, 0, tables[t]);
            const QString type = m.text(row, M::ColInstructionType);
            QCOMPARE(table.instructions.at(i).type, type);
            if (type.startsWith("SEND_ID"))
                check(type, table.instructions.at(i).value, M::parseID(m.text(row, M::ColInstructionId)));
            else if (type != "NEXT_MACRO" && type != "TESTP" && type != "SUSPEND" && type != "SM_MPS")
                check(type, table.instructions.at(i).value, num(row, M::ColInstructionTimePar));
        }
    }
    const QModelIndexList variables = m.getVariableIndexes(station);
    check("variables", c.variables.size(), variables.size());
    int mnemonics = 0;
    for (int i = 0; i < qMin(variables.size(), c.variables.size()); ++i) {
        const QModelIndex v = variables[i];
        const SC::Variable& read = c.variables.at(i);
        const bool output = m.classType(v) == M::VARIABLE_OUT;
        const quint16 id = M::parseID(m.text(v, output ? M::ColVarOutId : M::ColVarInId));
        const QModelIndex producer = output ? v : m.getVariableIndexes(id, M::VARIABLE_OUT).value(0);
        check("id", read.id, id);
        check("produced", read.produced, output);
        check("promptitude", read.hasPromptitude, !output);
        check("length", read.length, num(producer, M::ColVarOutLength));
        check("period", read.refreshmentPeriod, num(producer, M::ColVarOutRefreshmentPeriodPar));
        check("reception", read.messageReceptionEnabled, m.text(v, M::ColVarMessageReceptionEnabled) == "true");
        check("promptness", read.promptitudePeriod, output ? 0 : num(v, M::ColVarInPromptnessPeriodPar));
        mnemonics += m.getClassTypeIndexes(M::MNEMONIC, producer).size();
    }
    check("tags", c.tags.size(), mnemonics);
    for (int i = 0; i < c.tags.size(); ++i)
        check("tag", c.tags.at(i).id, i);
    const QModelIndexList messages = m.getMessageIndexes(station);
    check("messages", c.messages.size(), messages.size());
    for (int i = 0; i < qMin(messages.size(), c.messages.size()); ++i) {
        check("source", c.messages.at(i).sourceId, M::parseID(m.text(messages[i], M::ColMsgSourceId)));
        check("destination", c.messages.at(i).destinationId, M::parseID(m.text(messages[i], M::ColMsgDestinationId)));
        check("send", c.messages.at(i).toSend, m.text(messages[i], M::ColMsgDirection) == "OUT");
    }
    QCOMPARE(got, want);
}

QStringList xmlFiles(const QString& dir)
{
    return QDir(dir).entryList({ "*.xml" }, QDir::Files, QDir::Name);
}
} // namespace

class TestFiles : public QObject
{
    Q_OBJECT

    DesignFixture m_project; // built once, its files in m_built
    QTemporaryDir m_built;

private slots:
    void initTestCase()
    {
        buildProject(m_project);
        StationConfigurationExport exporter(&m_project.model);
        exporter.setPause(0);
        QCOMPARE(exporter.generate(m_built.path()).size(), 3);
    }

    // Every example project and the built one: the project file round-trips byte for byte, and each
    // station's file, read back, holds its design rows, its root children in their fixed order, the
    // optional ones only when there is something to say.
    void examples_data()
    {
        QTest::addColumn<QString>("project"); // empty: the built project
        QTest::newRow("built") << QString();
        for (const QString& name : ExampleProjects::fileNames())
            QTest::newRow(qPrintable(name)) << name;
    }

    void examples()
    {
        QFETCH(QString, project);
        MainDTModel loaded;
        const MainDTModel& model = project.isEmpty() ? m_project.model : loaded;
        BrxprjFile file(project.isEmpty() ? &m_project.model : &loaded);
        QTemporaryDir exported;
        const QString dir = project.isEmpty() ? m_built.path() : exported.path();
        QByteArray original;
        if (project.isEmpty()) {
            // An instruction is stored without its position; texts are escaped.
            const QByteArray bytes = file.toBytes();
            QVERIFY(bytes.contains("<maindtitem col0=\"SEND_ID_DAT (0x0101)\" col1=\"Instruction\" col2=\"5\""));
            QVERIFY(!bytes.contains(" - SEND_ID_DAT"));
            QVERIFY(bytes.contains(QString::fromUtf8("col61=\"Pump &quot;A&quot; &lt;on&gt; &amp; off&#10;&#9;D\u00e9bit \u2248 m\u00b3/h\"").toUtf8()));
        } else {
            original = readAll(kExamplesDir + project);
            QSignalSpy progress(&file, &BrxprjFile::generateProgress);
            QVERIFY(file.load(kExamplesDir + project));
            QCOMPARE(progress.first().first().toInt(), 0);
            QCOMPARE(progress.last().first().toInt(), 100);
            for (int i = 1; i < progress.count(); ++i) // at most 101 steps, each one higher
                QVERIFY(progress.at(i).first().toInt() > progress.at(i - 1).first().toInt());
            QCOMPARE(loaded.undoStack()->count(), 0);
            StationConfigurationExport exporter(&loaded);
            exporter.setPause(0);
            QSignalSpy exportProgress(&loaded, &M::generateProgress);
            QCOMPARE(exporter.generate(dir).size(), loaded.getStationIndexes().size());
            QCOMPARE(exportProgress.last().at(0).toInt(), 100);
        }
        const QStringList before = projectRows(model);
        const QString path = QDir(dir).filePath("p.brxprj");
        QVERIFY(file.save(path));
        const QByteArray bytes = readAll(path);
        if (!original.isEmpty())
            QCOMPARE(bytes, original); // the committed examples are this writer's output, header included
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

        for (const QModelIndex& station : model.getStationIndexes()) {
            const QString path = QDir(dir).filePath(StationConfigurationExport::fileName(model, station));
            SC read;
            QString error;
            QVERIFY2(SC::load(path, &read, &error), qPrintable(error));
            compareWithDesign(model, station, read);
            if (QTest::currentTestFailed())
                return;
            QStringList children;
            const QDomDocument document = readXml(path);
            for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
                children << e.tagName();
            QStringList expected = { "SubscriberName", "SubscriberNumber", "Speed", "TSlot", "Silence", "TurnAround", "FrameType" };
            if (read.hasBusArbiter)
                expected << "BusArbiter";
            if (!read.variables.isEmpty())
                expected << "Variables";
            if (!read.messages.isEmpty())
                expected << "Messages";
            if (!read.tags.isEmpty())
                expected << "Tags";
            QCOMPARE(children, expected);
            QVERIFY(readAll(path).startsWith("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"));
        }
    }

    // Texts as the station reads them; the values the reader also gives are checked above.
    void elements_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* file, const char* path, const QString& expected) {
            QTest::addRow("%s %s", file, path) << QString(file) << QString(path) << expected;
        };
        row("Station10.xml", "SubscriberNumber", "0x0a");
        row("Station10.xml", "@version", "1.1");
        row("Station10.xml", "BusArbiter/BAOptimization", "OPTIMIZATION_0");
        row("Station2.xml", "BusArbiter", kAbsent);
        row("Station0.xml", "BusArbiter/BAScanTable/SEND_ID_DAT", "0x0101");
        row("Station0.xml", "BusArbiter/BAScanTable/SUSPEND/@delay", "0x0010");
        row("Station0.xml", "BusArbiter/BAScanTable/SUSPEND", "0x03");
        row("Station0.xml", "BusArbiter/BAScanTable/SM_MPS", "");
        row("Station0.xml", "Variables/Variable[1]/MessagingService/@emissionChannel", "3");
        row("Station0.xml", "Variables/Variable[1]/PDU", "0x40");
        row("Station0.xml", "Messages/Message/Type/@emissionChannel", "3");
        row("Station0.xml", "Messages/Message/Type/@ackRequestEnabled", "false");
        row("Station10.xml", "Messages/Message/Type/@emissionChannel", kAbsent);
        row("Station10.xml", "Tags/Tag[0]/Endianness", kAbsent);
        row("Station10.xml", "Tags/Tag[1]/Endianness", "0");
        row("Station10.xml", "Tags/Tag[1]/StopBit", "39");
        row("Station10.xml", "Tags/Tag[1]/Description", QString::fromUtf8("Pump \"A\" <on> & off\n\tD\u00e9bit ? m\u00b3/h"));
        row("Station10.xml", "Tags/Tag[1]/AccessRights", "0");
        // The consumer takes its producer's PDU and refreshment.
        row("Station2.xml", "Variables/Variable/ID", "257");
        row("Station2.xml", "Variables/Variable/PDU", "0x50");
        row("Station2.xml", "Variables/Variable/Refreshment/@type", "0x02");
        row("Station2.xml", "Tags/Tag[1]/AccessRights", "1");
        row("Station2.xml", "Tags/Tag[1]/Identifier", "0x0101");
    }

    void elements()
    {
        QFETCH(QString, file);
        QFETCH(QString, path);
        QTEST(valueAt(readXml(m_built.filePath(file)), path), "expected");
    }

    void cleaning_data()
    {
        QTest::addColumn<bool>("stations");
        QTest::addColumn<bool>("oldFile");
        QTest::addColumn<bool>("ask");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("built");
        QTest::addColumn<QStringList>("after");
        const QStringList built = { "Station0.xml", "Station10.xml", "Station2.xml" };
        QTest::newRow("empty folder, no question") << true << false << true << false << false << true << built;
        QTest::newRow("old file, yes") << true << true << true << true << true << true << built;
        QTest::newRow("old file, no") << true << true << true << false << true << false << QStringList { "old.xml" };
        QTest::newRow("old file, not asked") << true << true << false << false << false << true << (QStringList(built) << "old.xml");
        QTest::newRow("no station") << false << true << true << true << false << false << QStringList { "old.xml" };
    }

    void cleaning()
    {
        QFETCH(bool, stations);
        QFETCH(bool, oldFile);
        QFETCH(bool, ask);
        QFETCH(bool, answer);
        QFETCH(bool, asked);
        QFETCH(bool, built);
        QFETCH(QStringList, after);
        DesignFixture f;
        if (stations)
            buildProject(f);
        QTemporaryDir dir;
        if (oldFile)
            QVERIFY(writeAll(dir.filePath("old.xml"), "") && writeAll(dir.filePath("notes.txt"), ""));
        StationConfigurationExport exporter(&f.model);
        exporter.setPause(0);
        BoxAnswerer answerer({ answer ? QMessageBox::Yes : QMessageBox::No });
        QCOMPARE(exporter.buildAndSave(dir.path(), ask, [](const QString& d) { return StationConfigurationExport::askCleaning(nullptr, d); }),
                 built);
        QCOMPARE(answerer.titles, asked ? QStringList { "Cleaning" } : QStringList());
        QCOMPARE(answerer.texts, asked ? QStringList { "This action will delete all the previous XML files in:\n" + dir.path() + " ." }
                                       : QStringList());
        after.sort();
        QCOMPARE(xmlFiles(dir.path()), after);
        // Only XML files are cleaned.
        QCOMPARE(QFileInfo::exists(dir.filePath("notes.txt")), oldFile);
    }

    void unwritable_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("folder is a file") << "file" << QStringList();
        QTest::newRow("station file is a folder") << "folder" << QStringList { "Station0.xml", "Station2.xml" };
        QTest::newRow("write cut short") << "size" << QStringList { "Station2.xml" };
    }

    void unwritable()
    {
        QFETCH(QString, how);
        QFETCH(QStringList, written);
        DesignFixture f;
        buildProject(f);
        QTemporaryDir dir;
        const QString target = how == "file" ? dir.filePath("Station0.xml") : dir.path();
        const QByteArray old = "<old/>";
        QVERIFY(writeAll(dir.filePath("Station0.xml"), old));
        if (how == "folder")
            QVERIFY(QDir(dir.path()).mkdir("Station10.xml"));
        StationConfigurationExport exporter(&f.model);
        exporter.setPause(0);
        QSignalSpy notices(&f.model, &M::statusBarMessage);
        // Every write but the small station 2's stops part-way.
        const rlim_t limit = rlim_t(exporter.toBytes(f.model.getStationIdx(2)).size() + 1);
        QStringList result = how == "size" ? withFileSizeLimit(limit, [&] { return exporter.generate(target); })
                                           : exporter.generate(target);
        result.sort();
        QCOMPARE(result, written);
        QCOMPARE(readAll(dir.filePath("Station0.xml")) == old, !written.contains("Station0.xml"));
        // No half-written copy is left beside the files.
        QStringList files = written;
        if (!files.contains("Station0.xml"))
            files.prepend("Station0.xml");
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), files);
        // The notice counts every station, written or not.
        QVERIFY(how == "file" ? notices.isEmpty() : notices.last().at(1).toString().contains(" files have been saved in "));
    }

    void notice_data()
    {
        QTest::addColumn<int>("stations");
        QTest::addColumn<QString>("notice");
        QTest::newRow("one") << 1 << "The Station1.xml file has been saved in \"%1\" directory.";
        QTest::newRow("four") << 4 << "The Station1.xml, Station2.xml, Station3.xml, Station4.xml files have been saved in \"%1\" directory.";
        QTest::newRow("five") << 5 << "All the station files have been saved in \"%1\" directory.";
    }

    void notice()
    {
        QFETCH(int, stations);
        QFETCH(QString, notice);
        DesignFixture f;
        QVERIFY(f.drop("Network", QModelIndex()));
        const QModelIndex segment = f.add("Segment", f.network());
        for (int i = 1; i <= stations; ++i)
            QVERIFY(f.edit(f.add("Station", segment), M::ColStationAddress, QString::number(i)));
        QTemporaryDir dir;
        const QString target = dir.filePath("a/b");
        QSignalSpy notices(&f.model, &M::statusBarMessage);
        QSignalSpy progress(&f.model, &M::generateProgress);
        StationConfigurationExport exporter(&f.model);
        exporter.setPause(0);
        exporter.generate(target);
        QCOMPARE(QList<QVariantList>(notices), (QList<QVariantList> { { quint8(0), notice.arg(target) } }));
        QCOMPARE(progress.size(), stations + 1);
    }

    // Characters XML cannot carry, in every project column but the kind and the station address.
    void controlCharactersInEveryColumn()
    {
        DesignFixture f;
        buildProject(f);
        for (const QModelIndex& node : f.model.getAllIndexes()) {
            for (int c = 0; c <= M::LastProjectColumn; ++c) {
                if (c != M::ColClassType && c != M::ColStationAddress)
                    f.model.setDataWithoutControl(f.model.cell(node, c), QString::fromUtf8("<a\x01\x1f\xef\xbf\xbf"));
            }
        }
        QTemporaryDir dir;
        StationConfigurationExport exporter(&f.model);
        exporter.setPause(0);
        QCOMPARE(exporter.generate(dir.path()).size(), 3);
        for (const QString& name : xmlFiles(dir.path())) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QXmlStreamReader reader(&file);
            while (!reader.atEnd())
                reader.readNext();
            QVERIFY2(!reader.hasError(), qPrintable(name + ": " + reader.errorString()));
        }
    }

    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("error");
        const QByteArray head = "<StationConfiguration version=\"1.1\"><SubscriberNumber>0x03</SubscriberNumber>";
        QTest::newRow("not XML") << QByteArray("StationConfiguration") << "line 1";
        QTest::newRow("other root") << QByteArray("<brxprj/>") << "brxprj";
        QTest::newRow("no address") << QByteArray("<StationConfiguration/>") << "SubscriberNumber";
        QTest::newRow("address too big") << QByteArray("<StationConfiguration><SubscriberNumber>0x100</SubscriberNumber></StationConfiguration>") << "0x100";
        QTest::newRow("bad length") << head + "<Variables><Variable><Length>8 bytes</Length></Variable></Variables></StationConfiguration>" << "8 bytes";
        QTest::newRow("unknown instruction") << head + "<BusArbiter enabled=\"true\"><BAScanTable number=\"0\"><JUMP/></BAScanTable></BusArbiter></StationConfiguration>" << "JUMP";
        QTest::newRow("truncated") << head + "<Variables><Variable><ID>0x0100</ID>" << "line 1";
        QTest::newRow("bad boolean") << head + "<BusArbiter enabled=\"yes\"/></StationConfiguration>" << "yes";
    }

    void badFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, error);
        SC read;
        read.subscriberName = "kept";
        QString message;
        QVERIFY(!SC::parse(content, &read, &message));
        QVERIFY2(message.contains(error), qPrintable(message));
        QCOMPARE(read.subscriberName, QStringLiteral("kept"));
        QTemporaryDir dir;
        QVERIFY(!SC::load(dir.filePath("missing.xml"), &read, &message));
        QVERIFY(message.contains("missing.xml"));
    }

    // Files the writer never makes: odd ones load as far as they make sense, malformed or oversized
    // ones are refused with the reason, nothing of them loaded.
    void oddContent_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("nodes");      // nodes in the loaded tree
        QTest::addColumn<int>("maxDepth");   // deepest node (the Network is depth 1)
        QTest::addColumn<QStringList>("cells"); // "row/row:column=value" checks
        QTest::addColumn<QString>("reason"); // of a refusal; empty: loaded
        const auto refused = [](const char* name, const QByteArray& content, const char* reason) {
            QTest::newRow(name) << content << 0 << 0 << QStringList() << QString(reason);
        };

        const QByteArray head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        QTest::newRow("other root name")
            << head + "<project><design><maindtitem col0=\"N\" col2=\"0\"><maindtitem col0=\"S\" col2=\"1\" col12=\"4\"/>"
                      "</maindtitem></design></project>"
            << 2 << 2 << QStringList { "0:0=N", "0/0:12=4" } << QString();
        QTest::newRow("column numbers")
            << head + "<brxprj><maindtitem col99=\"status\" col258=\"low bits\" col107=\"dev\" col300=\"out of range\""
                      " colx=\"\" col=\"e\" col-1=\"neg\" col1e2=\"exp\" col99999999999999999999999=\"big\" col0=\"keep\"/></brxprj>"
            << 1 << 1 << QStringList { "0:0=keep", "0:99=status", "0:2=low bits", "0:107=dev" } << QString();
        QTest::newRow("unknown elements and text")
            << head + "<brxprj version=\"9\"><x><maindtitem col0=\"A\">text<y/><z><maindtitem col0=\"B\"/></z></maindtitem>"
                      "</x><!-- c --><maindtitem col0=\"C\"/><?pi data?></brxprj>"
            << 3 << 2 << QStringList { "0:0=A", "0/0:0=B", "1:0=C" } << QString();
        QTest::newRow("wrong-shaped values")
            << head + "<brxprj><maindtitem col2=\"5\" col0=\"instruction at the top\"><maindtitem col2=\"abc\" col13=\"zz\"/>"
                      "<maindtitem col2=\"2\" col13=\"-7\"/><maindtitem col2=\"6\" col32=\"0x10000\"/></maindtitem></brxprj>"
            << 4 << 2 << QStringList { "0:0=instruction at the top", "0/1:13=-7" } << QString();
        QByteArray wide = head + "<brxprj><design>";
        for (int i = 0; i < 20000; ++i)
            wide += "<maindtitem col0=\"Item " + QByteArray::number(i) + "\" col2=\"1\" col12=\"" + QByteArray::number(i) + "\"/>";
        wide += "</design></brxprj>";
        QTest::newRow("many nodes") << wide << 20000 << 1 << QStringList { "19999:0=Item 19999" } << QString();
        QTest::newRow("no items") << head + "<brxprj version=\"1.0\"><design/></brxprj>" << 0 << 0 << QStringList()
                                  << QString();
        refused("empty", QByteArray(), "Line 1");
        refused("truncated", "<brxprj version=\"1.0\"><design><maindtitem col0=\"N\">", "Line 1");
        refused("garbage", QByteArray("\x00\xff\xfe not xml", int(sizeof("\x00\xff\xfe not xml")) - 1), "Line 1");
        refused("broken late", "<brxprj><maindtitem col0=\"N\"/><maindtitem col0=\"&bad;\"/></brxprj>", "Line 1");
        // Beyond what a real project reaches: refused before the tree is laid out.
        QByteArray deep = "<brxprj>";
        for (int i = 0; i <= BrxprjFile::MaxDepth; ++i)
            deep += "<maindtitem col0=\"" + QByteArray::number(i) + "\">";
        for (int i = 0; i <= BrxprjFile::MaxDepth; ++i)
            deep += "</maindtitem>";
        refused("too deep", deep + "</brxprj>", "nested more than");
        QByteArray many = "<brxprj>";
        for (int i = 0; i <= BrxprjFile::MaxItems; ++i)
            many += "<maindtitem/>";
        refused("too many items", many + "</brxprj>", "more than 100,000 items");
        refused("long attribute", "<brxprj><maindtitem col0=\"" + QByteArray(BrxprjFile::MaxAttributeLength + 1, 'a') + "\"/></brxprj>",
                "longer than");
    }

    void oddContent()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, nodes);
        QFETCH(QStringList, cells);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString path = dir.filePath("odd.brxprj");
        QVERIFY(writeAll(path, content));
        DesignFixture f;
        BrxprjFile file(&f.model);
        QVERIFY(f.drop("Network", QModelIndex())); // replaced by a load
        QSignalSpy progress(&file, &BrxprjFile::generateProgress);
        {
            // The tester re-checks the whole model on every change: during small loads only.
            const auto fatal = QAbstractItemModelTester::FailureReportingMode::Fatal;
            std::unique_ptr<QAbstractItemModelTester> during;
            if (nodes <= 50)
                during.reset(new QAbstractItemModelTester(&f.model, fatal));
            QCOMPARE(file.load(path), reason.isEmpty());
        }
        { QAbstractItemModelTester after(&f.model, QAbstractItemModelTester::FailureReportingMode::Fatal); }
        QVERIFY2(file.errorString().contains(reason), qPrintable(file.errorString()));
        QVERIFY(progress.count() <= 102);
        const QModelIndexList all = f.model.getAllIndexes();
        QCOMPARE(all.size(), nodes);
        int deepest = 0;
        for (const QModelIndex& i : all)
            deepest = qMax(deepest, TreeItem::pathFromIndex(i).size());
        QTEST(deepest, "maxDepth");
        for (const QString& check : cells) {
            const QString where = check.section('=', 0, 0);
            QModelIndex node;
            for (const QString& row : where.section(':', 0, 0).split('/'))
                node = f.model.index(row.toInt(), 0, node);
            QVERIFY2(node.isValid(), qPrintable(check));
            QCOMPARE(f.model.text(node, where.section(':', 1).toInt()), check.section('=', 1));
        }
        QCOMPARE(readAll(path), content);
        if (!reason.isEmpty()) {
            QVERIFY(!file.load(dir.filePath("missing.brxprj")));
            return;
        }
        QCOMPARE(progress.last().first().toInt(), 100);
        // The loaded tree saves again and reloads to the same rows (deep ones were kept, one level up).
        if (nodes > 0) {
            const QStringList rows = projectRows(f.model);
            QVERIFY(file.save(path));
            QVERIFY(file.load(path));
            QCOMPARE(projectRows(f.model), rows);
        }
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
        // Order, duplicates, length and shortcuts are the window's recent list test; here the store.
        RecentProjects recent(settings);
        recent.add("/p/1.brxprj");
        QCOMPARE(recent.add("/p/2.brxprj"), (QStringList { "/p/2.brxprj", "/p/1.brxprj" }));
        QCOMPARE(settings.value("BX/recentfileslist").toStringList(), recent.files());
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

QTEST_MAIN(TestFiles)
#include "tst_files.moc"
