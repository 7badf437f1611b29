// export and import: a capture to pcapng and back, as the window's File menu does.

#include "app/cli/CliCommand.h"

#include "capture/pcapng/PcapngExport.h"

#include <QFileInfo>
#include <QTemporaryDir>

namespace Cli {

int runExport(const QStringList& arguments)
{
    const QString command = QStringLiteral("export");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes a capture as a pcapng file, one packet per FIP frame, as File > Export Capture to pcapng does. "
        "Trace rows without frame bytes (labels) are left out.");
    parser.addPositionalArgument("CAPTURE", "A trace (.vtrc), a raw capture (.praw) or a pcapng file (.pcapng).");
    parser.addOption({ "pcapng", "The pcapng file to write (required).", "OUT" });
    parser.addOption({ "filter", "Only the rows this display filter matches.", "EXPRESSION" });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 1, &exitCode))
        return exitCode;
    if (!parser.isSet("pcapng"))
        return fail(command, QStringLiteral("--pcapng OUT is required"));

    const QString source = parser.positionalArguments().first();
    const QString out = parser.value("pcapng");
    PcapngExport exporter;
    ProgressLine progress;
    exporter.setProgress([&progress](int percent) {
        progress.update(QStringLiteral("exporting: %1 %").arg(percent));
        return true;
    });
    QString error;
    PcapngExport::Result result;
    // A raw capture is read as it is unless a filter needs its trace rows.
    if (QFileInfo(source).suffix().toLower() == QLatin1String("praw") && !parser.isSet("filter")) {
        result = exporter.fromRaw(source, out);
    } else {
        QTemporaryDir scratch;
        QString trace;
        if (!traceOfCapture(source, scratch.path(), &trace, &error))
            return fail(command, error);
        QVector<quint32> rows;
        if (parser.isSet("filter")) {
            if (!filterRows(trace, parser.value("filter"), &rows, &error))
                return fail(command, error);
            exporter.setRows(rows);
        }
        result = exporter.fromTrace(trace, out);
    }
    if (result != PcapngExport::Ok)
        return fail(command, exporter.errorString());
    return Success;
}

int runImport(const QStringList& arguments)
{
    const QString command = QStringLiteral("import");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Reads a pcapng (or pcap) file of FIP frames into a trace with its statistics file beside it, as "
        "File > Open does with a pcapng file.");
    parser.addPositionalArgument("IN.pcapng", "The pcapng or pcap file.");
    parser.addPositionalArgument("OUT.vtrc", "The trace to write (replaced when it exists).");
    int exitCode = Success;
    if (!parse(parser, command, arguments, 2, &exitCode))
        return exitCode;

    const QStringList paths = parser.positionalArguments();
    if (QFileInfo(paths[1]).suffix().toLower() != QLatin1String("vtrc"))
        return fail(command, QStringLiteral("%1: the trace must end in .vtrc").arg(paths[1]));
    CaptureAnalysis analysis;
    QString error;
    if (!importPcapng(analysis, paths[0], paths[1], &error))
        return fail(command, error);
    return Success;
}

} // namespace Cli
