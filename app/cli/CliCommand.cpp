#include "app/cli/CliCommand.h"

#include "capture/files/StatsFile.h"
#include "capture/pcapng/PcapngImport.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstdio>
#include <unistd.h>

namespace Cli {

const QList<Command>& commands()
{
    // A new sub-command is one row here and one run function.
    static const QList<Command> list = {
        { "convert", "Convert a raw capture (.praw) into a trace (.vtrc)", runConvert },
        { "stats", "Print the statistics of a capture (.praw, .vtrc or .pcapng)", runStats },
        { "stations", "Write the station configuration files of a project", runStations },
        { "filter", "Print the trace rows of a capture that a display filter matches", runFilter },
        { "export", "Export a capture as pcapng", runExport },
        { "import", "Import a pcapng file into a trace (.vtrc)", runImport },
        { "check", "Check a capture against the design of a project", runCheck },
        { "capture", "Capture from a capture server or a local card into .praw or .vtrc", runCapture },
    };
    return list;
}

int fail(const QString& command, const QString& message)
{
    QString line = message.simplified();
    std::fprintf(stderr, "brantix-cli %s: %s\n", qPrintable(command), line.toLocal8Bit().constData());
    return Failure;
}

void print(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments, int positionals,
           int* exitCode)
{
    const QCommandLineOption help(QStringList { "h", "help" }, "Show this help.");
    parser.addOption(help);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList { command } + arguments)) {
        *exitCode = fail(command, parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        // The usage line names the sub-command after the program.
        text.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")), QStringLiteral("Usage: brantix-cli ") + command);
        print(text);
        *exitCode = Success;
        return false;
    }
    if (parser.positionalArguments().size() != positionals) {
        *exitCode = fail(command, QStringLiteral("expects %1 argument%2, got %3; see brantix-cli %4 --help")
                                      .arg(positionals)
                                      .arg(positionals == 1 ? "" : "s")
                                      .arg(parser.positionalArguments().size())
                                      .arg(command));
        return false;
    }
    return true;
}

bool loadProject(const QString& path, MainDTModel* model, QString* error)
{
    BrxprjFile file(model);
    if (file.load(path))
        return true;
    *error = QStringLiteral("%1: Impossible to load from the file.").arg(path);
    return false;
}

void addTraceOptions(QCommandLineParser& parser)
{
    parser.addOption({ "depth", "Trace depth: 1 no data, 2 raw frames (all), 3 raw frames (only on change), "
                                "4 labels (only on change, needs --project). Default 2.", "1..4", "2" });
    parser.addOption({ "log-errors", "Whether frames with errors become rows. Default yes.", "yes|no", "yes" });
}

bool traceOptions(const QCommandLineParser& parser, CaptureAnalysis::Options* options, QString* error)
{
    bool ok = false;
    const int depth = parser.value("depth").toInt(&ok);
    if (!ok || depth < 1 || depth > 4) {
        *error = QStringLiteral("--depth takes 1, 2, 3 or 4, not '%1'").arg(parser.value("depth"));
        return false;
    }
    const QString log = parser.value("log-errors");
    if (log != QLatin1String("yes") && log != QLatin1String("no")) {
        *error = QStringLiteral("--log-errors takes yes or no, not '%1'").arg(log);
        return false;
    }
    options->record.depthMode = depth;
    options->record.logErrorsYes = log == QLatin1String("yes");
    return true;
}

bool importPcapng(CaptureAnalysis& analysis, const QString& pcapngPath, const QString& tracePath, QString* error)
{
    const CaptureAnalysis::Options options;
    analysis.reset(options);
    analysis.session().decoder().setPaddingRule(options.fixedPadding, options.paddingIdentifier);
    if (QFile::exists(tracePath) && !QFile::remove(tracePath)) {
        *error = QStringLiteral("%1: cannot replace the file").arg(tracePath);
        return false;
    }
    PcapngImport import;
    bool stop = false;
    if (import.toTrace(pcapngPath, tracePath, analysis.session(), options.record, &stop) != PcapngImport::Ok) {
        *error = QStringLiteral("%1: %2").arg(pcapngPath, import.errorString());
        return false;
    }
    analysis.refreshFigures(QDateTime::currentMSecsSinceEpoch());
    return analysis.saveStatistics(StatsFile::pathFor(tracePath), error);
}

bool traceOfCapture(const QString& path, const QString& scratch, QString* trace, QString* error)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("vtrc")) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        *trace = path;
        return true;
    }
    *trace = QDir(scratch).filePath(QStringLiteral("capture.vtrc"));
    CaptureAnalysis analysis;
    if (suffix == QLatin1String("praw"))
        return analysis.convert(path, *trace, CaptureAnalysis::Options(), error);
    if (suffix == QLatin1String("pcapng") || suffix == QLatin1String("pcap"))
        return importPcapng(analysis, path, *trace, error);
    *error = QStringLiteral("%1: not a capture this command reads (.vtrc, .praw or .pcapng)").arg(path);
    return false;
}

ProgressLine::ProgressLine()
    : m_terminal(isatty(STDERR_FILENO) == 1)
{
}

ProgressLine::~ProgressLine()
{
    finish();
}

void ProgressLine::update(const QString& text)
{
    if (!m_terminal || (m_last.isValid() && m_last.elapsed() < 200))
        return;
    m_last.start();
    std::fprintf(stderr, "\r\033[K%s", text.toLocal8Bit().constData());
    std::fflush(stderr);
    m_shown = true;
}

void ProgressLine::finish()
{
    if (!m_shown)
        return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_shown = false;
}

} // namespace Cli
