// stats: the statistics page's figures of a capture, as text or JSON.

#include "app/cli/CliCommand.h"

#include "analysis/MainATModel.h"
#include "capture/files/StatsFile.h"
#include "design/MainDTModel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace Cli {

namespace {

/// The figures of one capture; the transactions and loads only when the
/// capture was decoded (a trace's statistics file does not keep them).
struct Figures
{
    StatisticsCounters counters;
    StatisticsInfo info;
    bool decoded = false;
    TransactionTotals totals;
    bool hasLoads = false;
    NetworkRatio::Rates loads;
};

QList<QPair<QString, quint64>> transactionList(const TransactionTotals& t)
{
    return { { "varTransOk", t.varOk }, { "varTransLostReply", t.varLostReply },
             { "varTransNeverReply", t.varNeverReply }, { "msgTransOk", t.msgOk }, { "msgTransNok", t.msgNok } };
}

QList<QPair<QString, int>> loadList(const NetworkRatio::Rates& r)
{
    return { { "macrocycleLoad", r.traffic }, { "errorRate", r.errors }, { "variableRate", r.variables },
             { "messageRate", r.messages }, { "aperiodicListRate", r.aperiodicLists } };
}

QString asText(Figures& f)
{
    QString text;
    for (const auto& field : f.info.named())
        text += field.first + QLatin1Char('\t') + *field.second + QLatin1Char('\n');
    for (const auto& counter : f.counters.named())
        text += counter.first + QLatin1Char('\t') + QString::number(*counter.second) + QLatin1Char('\n');
    if (f.decoded) {
        for (const auto& total : transactionList(f.totals))
            text += total.first + QLatin1Char('\t') + QString::number(total.second) + QLatin1Char('\n');
    }
    if (f.hasLoads) {
        for (const auto& load : loadList(f.loads))
            text += load.first + QLatin1Char('\t') + QString::number(load.second) + QStringLiteral(" %\n");
    }
    return text;
}

QString asJson(Figures& f, const QString& path)
{
    QJsonObject info;
    for (const auto& field : f.info.named())
        info.insert(field.first, *field.second);
    QJsonObject counters;
    for (const auto& counter : f.counters.named())
        counters.insert(counter.first, double(*counter.second));
    QJsonObject root { { "capture", QDir::toNativeSeparators(path) }, { "info", info }, { "counters", counters } };
    QJsonObject transactions;
    for (const auto& total : transactionList(f.totals))
        transactions.insert(total.first, double(total.second));
    root.insert("transactions", f.decoded ? QJsonValue(transactions) : QJsonValue());
    QJsonObject loads;
    for (const auto& load : loadList(f.loads))
        loads.insert(load.first, load.second);
    root.insert("loads", f.hasLoads ? QJsonValue(loads) : QJsonValue());
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

/// A raw capture is decoded as the window's conversion does, into a trace of no
/// rows; a pcapng file as the window imports it.
bool rawFigures(const QString& path, const MainDTModel& design, Figures* f, QString* error)
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        *error = scratch.errorString();
        return false;
    }
    CaptureAnalysis analysis;
    analysis.setDesign(&design);
    CaptureAnalysis::Options options;
    options.record.depthMode = TraceRecordOptions::NoData;
    ProgressLine progress;
    analysis.setProgress([&progress](qint64 position, qint64 size) {
        if (size > 0)
            progress.update(QStringLiteral("reading: %1 %").arg(position * 100 / size));
    });
    const bool pcapng = QFileInfo(path).suffix().toLower() != QLatin1String("praw");
    if (pcapng ? !importPcapng(analysis, path, scratch.filePath("capture.vtrc"), error)
               : !analysis.convert(path, scratch.filePath("capture.vtrc"), options, error))
        return false;
    f->counters = analysis.context().counters;
    f->info = analysis.context().info;
    f->totals = analysis.context().totals;
    f->decoded = true;
    f->hasLoads = analysis.loads(&f->loads);
    return true;
}

/// A trace's figures are those of its statistics file, when it belongs to it.
bool traceFigures(const QString& path, Figures* f, QString* error)
{
    QFile trace(path);
    if (!trace.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, trace.errorString());
        return false;
    }
    trace.close();
    const QString statisticsPath = StatsFile::pathFor(path);
    if (!QFile::exists(statisticsPath)) {
        *error = QStringLiteral("%1: no statistics file beside the trace").arg(statisticsPath);
        return false;
    }
    StatsFile statistics(f->counters.named(), f->info.named());
    if (!statistics.load(statisticsPath)) {
        *error = statistics.errorString();
        return false;
    }
    MainATModel rows;
    rows.setFilePath(path);
    if (!StatisticsOverview::belongsToCapture(f->info, rows.absoluteCounterAnchor(), rows.rowCount())) {
        *error = QStringLiteral("The statistics file %1 does not belong to this capture.")
                     .arg(QDir::toNativeSeparators(statisticsPath));
        return false;
    }
    f->counters.updateTotals();
    return true;
}

} // namespace

int runStats(const QStringList& arguments)
{
    const QString command = QStringLiteral("stats");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Prints the statistics page's figures of a capture: information and times, error and frame counters, "
        "and for a raw capture or a pcapng file also the transaction totals and the loads over the whole capture. "
        "A trace (.vtrc) is read with the statistics file beside it (.xml). "
        "Text is one 'name<TAB>value' line per figure.");
    parser.addPositionalArgument("CAPTURE", "A raw capture (.praw), a trace (.vtrc) or a pcapng file (.pcapng).");
    parser.addOption({ "json", "Print one JSON object instead of text." });
    parser.addOption({ "project", "The project whose variables the analysis of a raw capture knows.",
                       "PROJECT.brxprj" });
    int exitCode = Success;
    if (!parse(parser, command, arguments, 1, &exitCode))
        return exitCode;

    const QString path = parser.positionalArguments().first();
    const QString suffix = QFileInfo(path).suffix().toLower();
    MainDTModel design;
    QString error;
    if (parser.isSet("project") && !loadProject(parser.value("project"), &design, &error))
        return fail(command, error);
    Figures figures;
    if (suffix == QLatin1String("praw") || suffix == QLatin1String("pcapng")) {
        if (!rawFigures(path, design, &figures, &error))
            return fail(command, error);
    } else if (suffix == QLatin1String("vtrc")) {
        if (!traceFigures(path, &figures, &error))
            return fail(command, error);
    } else {
        return fail(command, QStringLiteral("%1: not a capture this command reads (.praw, .vtrc or .pcapng)").arg(path));
    }
    print(parser.isSet("json") ? asJson(figures, path) : asText(figures));
    return Success;
}

} // namespace Cli
