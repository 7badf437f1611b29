// check: a capture's design check against a project, as the Design Check page runs it.

#include "app/cli/CliCommand.h"

#include "analysis/DesignCheckInput.h"
#include "analysis/PaddingSearch.h"
#include "design/MainDTModel.h"
#include "analysis/designcheck/DesignCheck.h"
#include "analysis/designcheck/DesignCheckReport.h"
#include "analysis/designcheck/TraceObservation.h"

#include <QDir>
#include <QTemporaryDir>

namespace Cli {

namespace {

QString asText(const CheckReport& report)
{
    QString text;
    for (const CheckFinding& f : report.findings)
        text += QStringList { checkSeverityName(f.severity), checkKindName(f.kind), f.object, f.designed, f.measured,
                              f.firstFrame < 0 ? QString() : QString::number(f.firstFrame), f.note }
                    .join(QLatin1Char('\t'))
            + QLatin1Char('\n');
    return text + report.summary() + QLatin1Char('\n');
}

} // namespace

int runCheck(const QStringList& arguments)
{
    const QString command = QStringLiteral("check");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Checks a capture against the design of a project, as the Design Check page does, and prints its findings: "
        "one 'severity<TAB>check<TAB>object<TAB>designed<TAB>measured<TAB>first frame<TAB>note' line each, errors "
        "first, then the summary line. Exits with 1 when a finding is at or above the --fail-on level.");
    parser.addPositionalArgument("PROJECT.brxprj", "The project of the network.");
    parser.addPositionalArgument("CAPTURE", "A trace (.vtrc), a raw capture (.praw) or a pcapng file (.pcapng).");
    parser.addOption({ "json", "Print the report as JSON, as the page's export writes it." });
    parser.addOption({ "fail-on", "The least severity that makes the exit code 1. Default error.", "warning|error",
                       "error" });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 2, &exitCode))
        return exitCode;

    const QString failOn = parser.value("fail-on");
    if (failOn != QLatin1String("warning") && failOn != QLatin1String("error"))
        return fail(command, QStringLiteral("--fail-on takes warning or error, not '%1'").arg(failOn));
    const QStringList paths = parser.positionalArguments();
    MainDTModel design;
    QString error;
    if (!loadProject(paths[0], &design, &error))
        return fail(command, error);
    QTemporaryDir scratch;
    QString trace;
    if (!traceOfCapture(paths[1], scratch.path(), &trace, &error))
        return fail(command, error);

    BusObservation bus;
    const CaptureAnalysis::Options defaults;
    bus.setPadding(defaults.fixedPadding, defaults.paddingIdentifier);
    ProgressLine progress;
    // The window's default: the other usual padding identifier is searched for too.
    const quint16 alternative = PaddingSearch::otherIdentifier(defaults.paddingIdentifier);
    if (!TraceObservation::readSearchingPadding(trace, &bus, alternative, &error,
                                                [&progress](qint64 position, qint64 size) {
                                                    if (size > 0)
                                                        progress.update(QStringLiteral("reading: %1 %")
                                                                            .arg(position * 100 / size));
                                                }))
        return fail(command, error);
    progress.finish();
    CheckReport report = DesignCheck::run(DesignCheckInput::fromDesign(design), bus);
    report.source = QDir::toNativeSeparators(paths[1]);
    print(parser.isSet("json") ? QString::fromUtf8(DesignCheckReport::toJson(report)) : asText(report));

    const int failing = report.count(CheckSeverity::Error)
        + (failOn == QLatin1String("warning") ? report.count(CheckSeverity::Warning) : 0);
    return failing > 0 ? Finding : Success;
}

} // namespace Cli
