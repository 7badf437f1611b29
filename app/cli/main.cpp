// brantix-cli: the workbench's conversions, statistics, station files and
// captures for scripts, test benches and CI; no window and no display needed.

#include "app/cli/CliCommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

namespace {

QString usage()
{
    QString text = QStringLiteral("Usage: brantix-cli COMMAND [options] [arguments]\n\n"
                                  "Brantix from the command line: results on standard output, messages on standard\n"
                                  "error; exit code 0 on success, 1 when a check fails, 2 on bad usage or input.\n\n"
                                  "Commands:\n");
    for (const Cli::Command& command : Cli::commands())
        text += QString::asprintf("  %-10s %s\n", command.name, command.summary);
    text += QStringLiteral("\n'brantix-cli COMMAND --help' describes a command.\n");
    return text;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The libraries' debug log is for developers; BRANTIX_CLI_DEBUG=1 shows it.
    if (qEnvironmentVariableIntValue("BRANTIX_CLI_DEBUG") == 0)
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kivotec"));
    QCoreApplication::setApplicationName(QStringLiteral("brantix-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BRANTIX_VERSION));

    QStringList arguments = app.arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fputs("brantix-cli: no command given; see brantix-cli --help\n", stderr);
        return Cli::Failure;
    }
    QString name = arguments.takeFirst();
    if (name == QLatin1String("help") && !arguments.isEmpty()) {
        name = arguments.takeFirst();
        arguments = QStringList { QStringLiteral("--help") };
    } else if (name == QLatin1String("-h") || name == QLatin1String("--help") || name == QLatin1String("help")) {
        Cli::print(usage());
        return Cli::Success;
    }
    if (name == QLatin1String("-v") || name == QLatin1String("--version")) {
        Cli::print(QStringLiteral("brantix-cli " BRANTIX_VERSION "\n"));
        return Cli::Success;
    }
    for (const Cli::Command& command : Cli::commands()) {
        if (name == QLatin1String(command.name))
            return command.run(arguments);
    }
    return Cli::fail(name, QStringLiteral("unknown command; see brantix-cli --help"));
}
