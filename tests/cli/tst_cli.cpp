// brantix-cli run as a process on real files: every sub-command's refusals, and
// its outputs against what the window's code makes of the same input.

#include "analysis/AnalysisContext.h"
#include "analysis/DesignCheckInput.h"
#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilterScan.h"
#include "app/BX.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"
#include "designcheck/DesignCheck.h"
#include "designcheck/DesignCheckReport.h"
#include "designcheck/TraceObservation.h"

#include "FipRecordEncoder.h"
#include "FipTrafficGenerator.h"
#include "OstrakServer.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRadioButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUdpSocket>
#include <QtTest>

#include <csignal>

namespace {

const QString Examples = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/");

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run cli(const QStringList& arguments, int interruptAfterMs = 0)
{
    QProcess process;
    process.start(QStringLiteral(BX_BINARY_DIR "/bin/brantix-cli"), arguments);
    process.waitForStarted();
    if (interruptAfterMs > 0) {
        QTest::qWait(interruptAfterMs);
        ::kill(pid_t(process.processId()), SIGINT);
    }
    process.waitForFinished(60000);
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
             QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()) };
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// An Osp raw capture of the simulated bus with an FCS error every 47 frames.
QByteArray rawCapture(int frames)
{
    FipTrafficGenerator bus(1, 2, 1700000000000000ULL);
    QByteArray raw(1, char(2));
    for (int i = 1; i <= frames; ++i) {
        if (i % 47 == 0)
            bus.injectError(FipTrafficGenerator::Error::FcsError);
        raw += FipRecordEncoder::ospRecord(bus.next());
    }
    return raw;
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), quint16(0));
    return probe.localPort();
}

} // namespace

class TstCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
        QVERIFY(writeFile(path("bus.praw"), rawCapture(3000)));
        QVERIFY(writeFile(path("version3.praw"), QByteArray("\x03\x00\x01", 3)));
        QVERIFY(writeFile(path("alone.vtrc"), QByteArray()));
        QVERIFY(writeFile(path("notes.txt"), QByteArray("x")));
        QCOMPARE(cli({ "convert", path("bus.praw"), path("bus.vtrc") }).exitCode, 0);
    }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        const QString out = path("out.vtrc");
        QTest::newRow("no command") << QStringList() << "no command given";
        QTest::newRow("unknown command") << QStringList { "frobnicate" } << "unknown command";
        QTest::newRow("unknown option") << QStringList { "stats", "--colour", path("bus.praw") } << "Unknown option";
        QTest::newRow("one argument short") << QStringList { "convert", path("bus.praw") } << "expects 2 arguments";
        QTest::newRow("no source") << QStringList { "convert", path("missing.praw"), out } << "Impossible to open source";
        QTest::newRow("flow byte 3") << QStringList { "convert", path("version3.praw"), out } << "Invalid praw file version.";
        QTest::newRow("depth 5") << QStringList { "convert", path("bus.praw"), out, "--depth", "5" } << "--depth";
        QTest::newRow("log errors maybe") << QStringList { "convert", path("bus.praw"), out, "--log-errors", "maybe" }
                                          << "--log-errors";
        QTest::newRow("labels without project") << QStringList { "convert", path("bus.praw"), out, "--depth", "4" }
                                                << "No mnemonic found";
        QTest::newRow("unreadable project") << QStringList { "stats", path("bus.praw"), "--project", path("notes.txt") }
                                            << "Impossible to load";
        QTest::newRow("stats of a text file") << QStringList { "stats", path("notes.txt") } << ".vtrc or .pcapng";
        QTest::newRow("check of a text file") << QStringList { "check", Examples + "2sta_worldfip_1M.brxprj", path("notes.txt") }
                                              << ".vtrc, .praw or .pcapng";
        QTest::newRow("fail on notes") << QStringList { "check", Examples + "2sta_worldfip_1M.brxprj", path("bus.vtrc"),
                                                        "--fail-on", "note" }
                                       << "--fail-on";
        QTest::newRow("bad expression") << QStringList { "filter", path("bus.vtrc"), "id ==" } << "at character";
        QTest::newRow("export without output") << QStringList { "export", path("bus.vtrc") } << "--pcapng OUT";
        QTest::newRow("import a text file") << QStringList { "import", path("notes.txt"), out } << "notes.txt";
        QTest::newRow("trace without statistics") << QStringList { "stats", path("alone.vtrc") } << "no statistics file";
        QTest::newRow("missing project") << QStringList { "stations", path("missing.brxprj"), path("st") }
                                         << "Impossible to load";
        QTest::newRow("no capture source") << QStringList { "capture", out } << "--server HOST:PORT or --local";
        QTest::newRow("server without port") << QStringList { "capture", "--server", "localhost", out } << "HOST:PORT";
        QTest::newRow("nobody listening") << QStringList { "capture", "--server", "127.0.0.1:1", "--seconds", "1", out }
                                          << "Cannot connect";
        QTest::newRow("no such card") << QStringList { "capture", "--local", "--card", "9", out } << "no card 9";
        QTest::newRow("capture as text") << QStringList { "capture", "--local", path("cap.txt") } << ".praw or .vtrc";
    }

    void refusals()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("brantix-cli") && run.err.count('\n') == 1 && run.err.contains(message),
                 qPrintable(run.err));
        QVERIFY(run.out.isEmpty());
        QVERIFY(!QFile::exists(path("out.vtrc")));
    }

    void help_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("usage");
        QTest::newRow("program") << QStringList { "--help" } << "Usage: brantix-cli COMMAND";
        // "help COMMAND" is read as "COMMAND --help".
        QTest::newRow("help check") << QStringList { "help", "check" } << "Usage: brantix-cli check ";
        for (const char* command : { "convert", "stats", "stations", "capture", "filter", "export", "import", "check" })
            QTest::newRow(command) << QStringList { command, "--help" } << QString("Usage: brantix-cli %1 ").arg(command);
    }

    void help()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, usage);
        const Run run = cli(arguments);
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.out.startsWith(usage), qPrintable(run.out));
        QVERIFY(run.err.isEmpty());
    }

    void convertAsWindow_data()
    {
        QTest::addColumn<int>("depth");
        QTest::addColumn<bool>("logErrors");
        QTest::newRow("raw frames") << 2 << true;
        QTest::newRow("only on change, errors not logged") << 3 << false;
        QTest::newRow("no data") << 1 << true;
    }

    void convertAsWindow()
    {
        QFETCH(int, depth);
        QFETCH(bool, logErrors);
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_').remove(',');
        const QString windowTrace = path(tag + "_window.vtrc");
        const QString cliTrace = path(tag + "_cli.vtrc");
        QJsonObject windowCounters;
        QJsonObject windowInfo;
        {
            BX bx;
            bx.findChild<QRadioButton*>(logErrors ? "logErrorsYes" : "logErrorsNo")->setChecked(true);
            QVERIFY(bx.generateVtrcFile(path("bus.praw"), windowTrace, quint8(depth)));
            for (const auto& counter : bx.analysisContext()->counters.named())
                windowCounters.insert(counter.first, double(*counter.second));
            for (const auto& field : bx.analysisContext()->info.named())
                windowInfo.insert(field.first, *field.second);
        }
        const Run run = cli({ "convert", path("bus.praw"), cliTrace, "--depth", QString::number(depth), "--log-errors",
                              logErrors ? "yes" : "no" });
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        QCOMPARE(readFile(cliTrace), readFile(windowTrace));

        // The figures of the raw capture, and of the trace with the statistics file the
        // conversion wrote (its attribute order varies from run to run), are the window's.
        for (const QString& capture : { path("bus.praw"), cliTrace }) {
            const Run stats = cli({ "stats", capture, "--json" });
            QCOMPARE(stats.exitCode, 0);
            const QJsonObject figures = QJsonDocument::fromJson(stats.out.toUtf8()).object();
            QCOMPARE(figures.value("counters").toObject(), windowCounters);
            QCOMPARE(figures.value("info").toObject(), windowInfo);
            QCOMPARE(figures.value("transactions").isNull(), capture == cliTrace);
        }
        const Run text = cli({ "stats", cliTrace });
        QVERIFY(text.out.contains(QString("frameTotal\t%1\n").arg(windowCounters.value("frameTotal").toInt())));
    }

    void stations_data()
    {
        QTest::addColumn<QString>("project");
        QTest::newRow("two stations") << "2sta_worldfip_1M.brxprj";
        QTest::newRow("file transfer") << "file_transfer_5M.brxprj";
    }

    void stations()
    {
        QFETCH(QString, project);
        const QString windowDir = path(project + "_window");
        const QString cliDir = path(project + "_cli");
        {
            BX bx;
            bx.loadFileProject(Examples + project);
            QVERIFY(bx.buildAndSaveStationFiles(windowDir, false));
        }
        const Run run = cli({ "stations", Examples + project, cliDir });
        QCOMPARE(run.exitCode, 0);
        const QStringList written = QDir(windowDir).entryList(QDir::Files, QDir::Name);
        QVERIFY(!written.isEmpty());
        QCOMPARE(run.out, written.join('\n') + '\n');
        for (const QString& name : written)
            QCOMPARE(readFile(QDir(cliDir).filePath(name)), readFile(QDir(windowDir).filePath(name)));
    }

    void capture_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("out");
        QTest::addColumn<bool>("interrupted");
        QTest::newRow("tcp, time limit, raw") << "tcp" << "tcp.praw" << false;
        QTest::newRow("udp, SIGINT, trace") << "udp" << "udp.vtrc" << true;
        QTest::newRow("local card, time limit, trace") << "local" << "local.vtrc" << false;
    }

    void capture()
    {
        QFETCH(QString, link);
        QFETCH(QString, out);
        QFETCH(bool, interrupted);
        OstrakServer::Options options;
        QString error;
        const quint16 udpPort = freeUdpPort();
        QVERIFY(OstrakServer::parseArguments({ "ostrak-server", link == "udp" ? "--udp" : "--tcp",
                                               link == "udp" ? QString::number(udpPort) : "0", "--flow", "osp" },
                                             &options, &error));
        OstrakServer server(options);
        QStringList arguments { "capture", path(out) };
        if (link == "local") {
            arguments << "--local";
        } else {
            QVERIFY2(server.start(), qPrintable(server.errorString()));
            arguments << "--server"
                      << QString("127.0.0.1:%1").arg(link == "udp" ? udpPort : server.tcpPort()) << "--" + link;
        }
        if (!interrupted)
            arguments << "--seconds" << "2";
        const Run run = cli(arguments, interrupted ? 2000 : 0);
        server.stop();
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));

        // A capture that converts (a raw one) or reads (a trace) with the frames its statistics file counts.
        QString trace = path(out);
        if (out.endsWith(".praw")) {
            trace = path(link + "_converted.vtrc");
            QCOMPARE(cli({ "convert", path(out), trace }).exitCode, 0);
        }
        const Run stats = cli({ "stats", trace, "--json" });
        QCOMPARE(stats.exitCode, 0);
        const QJsonObject counters = QJsonDocument::fromJson(stats.out.toUtf8()).object().value("counters").toObject();
        QVERIFY(counters.value("frameTotal").toDouble() > 100);
        QCOMPARE(readFile(trace).count('\n'), counters.value("frameTotal").toInt() + counters.value("errorTotal").toInt());
    }

    void check_data()
    {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("failOn");
        QTest::addColumn<bool>("json");
        QTest::newRow("trace, json") << "bus.vtrc" << "error" << true;
        QTest::newRow("raw capture, text, fail on warnings") << "bus.praw" << "warning" << false;
    }

    void check()
    {
        QFETCH(QString, capture);
        QFETCH(QString, failOn);
        QFETCH(bool, json);
        // The Design Check page's steps on the same trace and project.
        const QString project = Examples + "2sta_worldfip_1M.brxprj";
        MainDTModel design;
        QVERIFY(BrxprjFile(&design).load(project));
        BusObservation bus;
        bus.setPadding(true, 0x9080);
        QVERIFY(TraceObservation::read(path("bus.vtrc"), &bus));
        CheckReport report = DesignCheck::run(DesignCheckInput::fromDesign(design), bus);
        report.source = path(capture);
        QVERIFY(report.frames > 0);

        QStringList arguments { "check", project, path(capture), "--fail-on", failOn };
        if (json)
            arguments << "--json";
        const Run run = cli(arguments);
        const int failing = report.count(CheckSeverity::Error) + (failOn == "warning" ? report.count(CheckSeverity::Warning) : 0);
        QCOMPARE(run.exitCode, failing > 0 ? 1 : 0);
        QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        if (json) {
            QCOMPARE(run.out.toUtf8(), DesignCheckReport::toJson(report));
        } else {
            QCOMPARE(run.out.count('\n'), report.findings.size() + 1);
            QVERIFY(run.out.endsWith(report.summary() + '\n'));
        }
    }

    void filterExportImport_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::newRow("every row") << "";
        QTest::newRow("first hundred") << "no <= 100";
    }

    void filterExportImport()
    {
        QFETCH(QString, expression);
        const QString trace = path("bus.vtrc");
        MainATModel table;
        table.setFilePath(trace);
        FrameFilterContext context;
        context.anchor = table.absoluteCounterAnchor();
        const FrameFilterScan::Result scan = FrameFilterScan::run(trace, table.rowOffsets(), 0, table.rowCount(),
                                                                  FrameFilter::parse(expression), context);
        QVERIFY(!scan.rows.isEmpty());

        const Run count = cli({ "filter", trace, expression, "--count" });
        QCOMPARE(count.out, QString("%1\n").arg(scan.rows.size()));
        const QList<QByteArray> lines = readFile(trace).split('\n');
        QByteArray matching;
        for (const quint32 row : scan.rows)
            matching += lines.at(int(row)) + '\n';
        QCOMPARE(cli({ "filter", trace, expression }).out.toUtf8(), matching);

        // Exported and imported again: the same rows, and for the whole capture the same figures.
        const QString tag = QString(QTest::currentDataTag()).replace(' ', '_');
        const QString pcapng = path(tag + ".pcapng");
        const QString imported = path(tag + "_imported.vtrc");
        QStringList exportArguments { "export", trace, "--pcapng", pcapng };
        if (!expression.isEmpty())
            exportArguments << "--filter" << expression;
        QCOMPARE(cli(exportArguments).exitCode, 0);
        const Run import = cli({ "import", pcapng, imported });
        QVERIFY2(import.exitCode == 0, qPrintable(import.err));
        if (expression.isEmpty()) {
            QCOMPARE(readFile(imported), readFile(trace));
            const auto counters = [](const QString& capture) {
                return QJsonDocument::fromJson(cli({ "stats", capture, "--json" }).out.toUtf8()).object().value("counters");
            };
            QCOMPARE(counters(pcapng), counters(path("bus.praw")));
        } else {
            QCOMPARE(readFile(imported).count('\n'), scan.rows.size());
        }
    }

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
};

QTEST_MAIN(TstCli)
#include "tst_cli.moc"
