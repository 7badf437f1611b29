// stations: a project's station configuration files, as Build Configurations writes them.

#include "app/cli/CliCommand.h"

#include "design/MainDTModel.h"
#include "design/StationConfigurationExport.h"

#include <QDir>

namespace Cli {

int runStations(const QStringList& arguments)
{
    const QString command = QStringLiteral("stations");
    QCommandLineParser parser;
    parser.setApplicationDescription("Writes one Station<address>.xml per station of the project into DIR (created "
                                     "when missing) and prints the names of the files written, one a line.");
    parser.addPositionalArgument("PROJECT.brxprj", "The project.");
    parser.addPositionalArgument("DIR", "The folder the files go into.");
    parser.addOption({ "clean", "Delete the .xml files already in DIR first, as the window does when asked." });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 2, &exitCode))
        return exitCode;

    const QStringList paths = parser.positionalArguments();
    MainDTModel design;
    QString error;
    if (!loadProject(paths[0], &design, &error))
        return fail(command, error);
    StationConfigurationExport exporter(&design);
    exporter.setPause(0);
    if (!exporter.prepare(paths[1], parser.isSet("clean"), [](const QString&) { return true; }))
        return fail(command, QStringLiteral("%1: the project has no station").arg(paths[0]));
    if (!QDir().mkpath(paths[1]))
        return fail(command, QStringLiteral("%1: cannot create the folder").arg(paths[1]));
    const QStringList written = exporter.generate(paths[1]);
    const int stations = design.getStationIndexes().size();
    if (written.size() != stations)
        return fail(command, QStringLiteral("%1 of %2 station files could not be written in %3")
                                 .arg(stations - written.size())
                                 .arg(stations)
                                 .arg(paths[1]));
    print(written.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return Success;
}

} // namespace Cli
