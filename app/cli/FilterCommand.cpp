// filter: the trace rows a display filter matches, as the frame table's filter bar finds them.

#include "app/cli/CliCommand.h"

#include "analysis/MainATModel.h"
#include "analysis/filter/FrameFilterScan.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace Cli {

bool filterRows(const QString& trace, const QString& expression, QVector<quint32>* rows, QString* error)
{
    const FrameFilter filter = FrameFilter::parse(expression);
    if (!filter.isValid()) {
        *error = filter.error().position < 0
            ? filter.error().message
            : QStringLiteral("%1 (at character %2)").arg(filter.error().message).arg(filter.error().position + 1);
        return false;
    }
    MainATModel table;
    table.setFilePath(trace);
    FrameFilterContext context;
    context.anchor = table.absoluteCounterAnchor();
    const qint64 end = std::min<qint64>(table.rowCount(), table.rowOffsets().size());
    ProgressLine progress;
    const auto step = [&progress, end](qint64 done) {
        progress.update(QStringLiteral("filtering: %1 %").arg(done * 100 / std::max<qint64>(end, 1)));
    };
    const FrameFilterScan::Result result
        = FrameFilterScan::run(trace, table.rowOffsets(), 0, end, filter, context, 0, nullptr, step);
    if (result.status != FrameFilterScan::Status::Done) {
        *error = result.message;
        return false;
    }
    *rows = result.rows;
    return true;
}

int runFilter(const QStringList& arguments)
{
    const QString command = QStringLiteral("filter");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Prints the trace rows of a capture that a display filter expression matches, as the frame table's "
        "filter bar shows them: the trace's own tab-separated lines, in order. See the help document for the "
        "expression's fields and operators.");
    parser.addPositionalArgument("CAPTURE", "A trace (.vtrc), a raw capture (.praw) or a pcapng file (.pcapng).");
    parser.addPositionalArgument("EXPRESSION", "The filter, for example 'error or id == 0x0301'.");
    parser.addOption({ "count", "Print only the number of matching rows." });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 2, &exitCode))
        return exitCode;

    const QStringList positionals = parser.positionalArguments();
    QTemporaryDir scratch;
    QString trace;
    QString error;
    QVector<quint32> rows;
    if (!traceOfCapture(positionals[0], scratch.path(), &trace, &error)
        || !filterRows(trace, positionals[1], &rows, &error))
        return fail(command, error);
    if (parser.isSet("count")) {
        print(QString::number(rows.size()) + QLatin1Char('\n'));
        return Success;
    }
    MainATModel table;
    table.setFilePath(trace);
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly))
        return fail(command, QStringLiteral("%1: %2").arg(trace, file.errorString()));
    const QVector<qint64>& offsets = table.rowOffsets();
    QByteArray out;
    for (const quint32 row : rows) {
        if (!file.seek(offsets[int(row)]))
            return fail(command, QStringLiteral("%1: %2").arg(trace, file.errorString()));
        out += file.readLine();
        if (!out.endsWith('\n'))
            out += '\n';
        if (out.size() > (1 << 20)) {
            std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
            out.clear();
        }
    }
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    std::fflush(stdout);
    return Success;
}

} // namespace Cli
