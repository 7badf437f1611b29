// convert: a raw capture into a trace, through the same conversion as the window's.

#include "app/cli/CliCommand.h"

#include "design/MainDTModel.h"

namespace Cli {

int runConvert(const QStringList& arguments)
{
    const QString command = QStringLiteral("convert");
    QCommandLineParser parser;
    parser.setApplicationDescription("Converts a raw capture into a trace, row for row as the window's conversion "
                                     "does, and writes the statistics file beside the trace (OUT with .xml).");
    parser.addPositionalArgument("IN.praw", "The raw capture.");
    parser.addPositionalArgument("OUT.vtrc", "The trace to write; an existing one is replaced.");
    addTraceOptions(parser);
    parser.addOption({ "project", "The project whose variables and mnemonics the analysis knows.", "PROJECT.brxprj" });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 2, &exitCode))
        return exitCode;

    CaptureAnalysis::Options options;
    QString error;
    if (!traceOptions(parser, &options, &error))
        return fail(command, error);
    MainDTModel design;
    if (parser.isSet("project") && !loadProject(parser.value("project"), &design, &error))
        return fail(command, error);

    CaptureAnalysis analysis;
    analysis.setDesign(&design);
    ProgressLine progress;
    analysis.setProgress([&progress](qint64 position, qint64 size) {
        if (size > 0)
            progress.update(QStringLiteral("converting: %1 %").arg(position * 100 / size));
    });
    const QStringList files = parser.positionalArguments();
    const bool converted = analysis.convert(files[0], files[1], options, &error);
    progress.finish();
    return converted ? Success : fail(command, error);
}

} // namespace Cli
