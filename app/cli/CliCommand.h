#ifndef BX_CLI_CLICOMMAND_H
#define BX_CLI_CLICOMMAND_H

#include "analysis/CaptureAnalysis.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

/// What every sub-command of brantix-cli shares: its exit codes, its one-line
/// messages on standard error, its option parsing and its progress line.
class MainDTModel;

namespace Cli {

enum ExitCode {
    Success = 0,
    Finding = 1, ///< a check found what it was told to fail on
    Failure = 2  ///< bad usage, unreadable input, or output that could not be made
};

/// One sub-command: its name, its one-line summary and its entry point, given
/// its arguments without the program and command names.
struct Command
{
    const char* name;
    const char* summary;
    int (*run)(const QStringList& arguments);
};

/// The sub-commands, in the order the help lists them.
const QList<Command>& commands();

/// Writes "brantix-cli COMMAND: message" on standard error, on one line, and
/// returns Failure.
int fail(const QString& command, const QString& message);

/// Parses a sub-command's arguments. Prints the help on standard output when asked
/// (`*exitCode` Success) or a usage error on standard error (`*exitCode` Failure);
/// false in both cases. `positionals` is the number of positional arguments wanted.
bool parse(QCommandLineParser& parser, const QString& command, const QStringList& arguments, int positionals,
           int* exitCode);

/// Loads a project file into `model`; false with the window's message.
bool loadProject(const QString& path, MainDTModel* model, QString* error);

/// The analysis options of the window's defaults, with the depth and the error
/// rows given by the options `--depth` and `--log-errors`; false with the reason.
bool traceOptions(const QCommandLineParser& parser, CaptureAnalysis::Options* options, QString* error);
/// Adds the options read by traceOptions.
void addTraceOptions(QCommandLineParser& parser);

/// The trace (.vtrc) of a capture: a trace as it is, a raw capture (.praw) or a
/// pcapng file converted with every frame into `scratch`; false with the reason.
bool traceOfCapture(const QString& path, const QString& scratch, QString* trace, QString* error);

/// Imports a pcapng file into a trace, with its statistics file beside it, as
/// the window's analysis does; false with the reason.
bool importPcapng(CaptureAnalysis& analysis, const QString& pcapngPath, const QString& tracePath, QString* error);

/// The rows of a trace that a display filter expression matches, ascending;
/// false with the reason (a bad expression names where).
bool filterRows(const QString& trace, const QString& expression, QVector<quint32>* rows, QString* error);

/// Writes `text` to standard output.
void print(const QString& text);

/// A progress line on standard error, rewritten in place, shown only when
/// standard error is a terminal; at most five updates a second.
class ProgressLine
{
public:
    ProgressLine();
    ~ProgressLine();
    void update(const QString& text);
    /// Clears the line.
    void finish();

private:
    bool m_shown = false;
    bool m_terminal = false;
    QElapsedTimer m_last;
};

int runConvert(const QStringList& arguments);
int runStats(const QStringList& arguments);
int runStations(const QStringList& arguments);
int runCapture(const QStringList& arguments);
int runFilter(const QStringList& arguments);
int runExport(const QStringList& arguments);
int runImport(const QStringList& arguments);
int runCheck(const QStringList& arguments);

} // namespace Cli

#endif
