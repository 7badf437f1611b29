#include "DesignCheckReport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QSaveFile>

namespace DesignCheckReport {

namespace {

const char* severityKey(CheckSeverity s)
{
    switch (s) {
    case CheckSeverity::Info: return "info";
    case CheckSeverity::Warning: return "warning";
    case CheckSeverity::Error: return "error";
    }
    return "info";
}

// Severity colours of the page, the same as the statistics counters'.
const char* severityColour(CheckSeverity s)
{
    switch (s) {
    case CheckSeverity::Info: return "#11a6de";
    case CheckSeverity::Warning: return "#e0a000";
    case CheckSeverity::Error: return "#de1111";
    }
    return "#777777";
}

QString frameText(qint64 frame)
{
    return frame < 0 ? QStringLiteral("-") : QString::number(frame);
}

} // namespace

QByteArray toHtml(const CheckReport& report)
{
    QString h;
    h += QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>")
        + QObject::tr("Design Check").toHtmlEscaped() + QStringLiteral(" - ") + report.network.toHtmlEscaped()
        + QStringLiteral("</title>\n<style>\n"
                         "body{font-family:sans-serif;font-size:10pt;color:#333;margin:16px}\n"
                         "h1{font-size:15pt;color:#11a6de;margin:0 0 4px 0}\n"
                         ".meta{color:#777;margin-bottom:10px}\n"
                         ".summary{font-size:12pt;margin:8px 0 12px 0}\n"
                         "table{border-collapse:collapse;width:100%}\n"
                         "th{background:#eef5f9;text-align:left;padding:4px 6px;border-bottom:2px solid #11a6de}\n"
                         "td{padding:4px 6px;border-bottom:1px solid #ddd;vertical-align:top}\n"
                         ".sev{font-weight:bold;white-space:nowrap}\n"
                         "th{white-space:nowrap}\n"
                         ".note{color:#777}\n"
                         "</style></head><body>\n");
    h += QStringLiteral("<h1>") + QObject::tr("Design Check").toHtmlEscaped() + QStringLiteral("</h1>\n");
    h += QStringLiteral("<div class=\"meta\">") + QObject::tr("Network: %1").arg(report.network).toHtmlEscaped();
    if (!report.source.isEmpty())
        h += QStringLiteral(" &middot; ") + QObject::tr("Capture: %1").arg(report.source).toHtmlEscaped();
    h += QStringLiteral(" &middot; ") + QObject::tr("%L1 frames").arg(report.frames).toHtmlEscaped();
    h += QStringLiteral("</div>\n<div class=\"summary\">") + report.summary().toHtmlEscaped() + QStringLiteral("</div>\n");
    h += QStringLiteral("<table>\n<tr>");
    for (const QString& title : { QObject::tr("Severity"), QObject::tr("Check"), QObject::tr("Object"),
                                  QObject::tr("Designed"), QObject::tr("Measured"), QObject::tr("First Frame") })
        h += QStringLiteral("<th>") + title.toHtmlEscaped() + QStringLiteral("</th>");
    h += QStringLiteral("</tr>\n");
    for (const CheckFinding& f : report.findings) {
        h += QStringLiteral("<tr><td class=\"sev\" style=\"color:") + QLatin1String(severityColour(f.severity))
            + QStringLiteral("\">") + checkSeverityName(f.severity).toHtmlEscaped() + QStringLiteral("</td><td>")
            + checkKindName(f.kind).toHtmlEscaped() + QStringLiteral("<div class=\"note\">") + f.note.toHtmlEscaped()
            + QStringLiteral("</div></td><td>") + f.object.toHtmlEscaped() + QStringLiteral("</td><td>")
            + f.designed.toHtmlEscaped() + QStringLiteral("</td><td>") + f.measured.toHtmlEscaped()
            + QStringLiteral("</td><td>") + frameText(f.firstFrame) + QStringLiteral("</td></tr>\n");
    }
    if (report.findings.isEmpty())
        h += QStringLiteral("<tr><td colspan=\"6\">") + QObject::tr("The bus runs as designed.").toHtmlEscaped()
            + QStringLiteral("</td></tr>\n");
    h += QStringLiteral("</table>\n</body></html>\n");
    return h.toUtf8();
}

QByteArray toJson(const CheckReport& report)
{
    QJsonObject root;
    root.insert(QStringLiteral("network"), report.network);
    root.insert(QStringLiteral("capture"), report.source);
    root.insert(QStringLiteral("frames"), double(report.frames));
    root.insert(QStringLiteral("checks"), report.checksMade);
    root.insert(QStringLiteral("passed"), report.passed());
    root.insert(QStringLiteral("warnings"), report.count(CheckSeverity::Warning));
    root.insert(QStringLiteral("errors"), report.count(CheckSeverity::Error));
    root.insert(QStringLiteral("notes"), report.count(CheckSeverity::Info));
    root.insert(QStringLiteral("summary"), report.summary());
    QJsonArray findings;
    for (const CheckFinding& f : report.findings) {
        QJsonObject o;
        o.insert(QStringLiteral("severity"), QLatin1String(severityKey(f.severity)));
        o.insert(QStringLiteral("check"), checkKindName(f.kind));
        o.insert(QStringLiteral("object"), f.object);
        o.insert(QStringLiteral("designed"), f.designed);
        o.insert(QStringLiteral("measured"), f.measured);
        o.insert(QStringLiteral("firstFrame"), f.firstFrame < 0 ? QJsonValue() : QJsonValue(double(f.firstFrame)));
        o.insert(QStringLiteral("note"), f.note);
        findings.append(o);
    }
    root.insert(QStringLiteral("findings"), findings);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool save(const CheckReport& report, const QString& path, QString* error)
{
    QSaveFile file(path);
    const bool json = path.endsWith(QStringLiteral(".json"), Qt::CaseInsensitive);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QObject::tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(json ? toJson(report) : toHtml(report));
    if (!file.commit()) {
        if (error)
            *error = QObject::tr("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace DesignCheckReport
