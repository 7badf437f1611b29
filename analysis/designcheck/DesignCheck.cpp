#include "DesignCheck.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace T = DesignCheckThresholds;

QString checkIdText(quint16 id)
{
    return QString::asprintf("0x%04x", id);
}

QString checkKindName(CheckKind kind)
{
    switch (kind) {
    case CheckKind::Macrocycle: return QObject::tr("Macrocycle");
    case CheckKind::MicrocycleCount: return QObject::tr("Microcycles per macrocycle");
    case CheckKind::MicrocycleLength: return QObject::tr("Microcycle length");
    case CheckKind::RefreshPeriod: return QObject::tr("Refresh period");
    case CheckKind::RefreshJitter: return QObject::tr("Refresh jitter");
    case CheckKind::NeverSeen: return QObject::tr("Scanned identifier never seen");
    case CheckKind::UnproducedIdentifier: return QObject::tr("Identifier without producer");
    case CheckKind::ReplyLength: return QObject::tr("Reply length");
    case CheckKind::ReplyPdu: return QObject::tr("Reply PDU");
    case CheckKind::MissingReplies: return QObject::tr("Missing replies");
    case CheckKind::UndesignedStation: return QObject::tr("Station not in the design");
    case CheckKind::SilentStation: return QObject::tr("Station never answers");
    case CheckKind::Turnaround: return QObject::tr("Turnaround time");
    case CheckKind::Silence: return QObject::tr("Silence time");
    }
    return QString();
}

QString checkSeverityName(CheckSeverity severity)
{
    switch (severity) {
    case CheckSeverity::Info: return QObject::tr("Note");
    case CheckSeverity::Warning: return QObject::tr("Warning");
    case CheckSeverity::Error: return QObject::tr("Error");
    }
    return QString();
}

int CheckReport::count(CheckSeverity severity) const
{
    return int(std::count_if(findings.begin(), findings.end(),
                             [severity](const CheckFinding& f) { return f.severity == severity; }));
}

int CheckReport::passed() const
{
    return std::max(0, checksMade - count(CheckSeverity::Warning) - count(CheckSeverity::Error));
}

QString CheckReport::summary() const
{
    const int warnings = count(CheckSeverity::Warning);
    const int errors = count(CheckSeverity::Error);
    const int infos = count(CheckSeverity::Info);
    QString text = passed() == 1 ? QObject::tr("1 check passed") : QObject::tr("%1 checks passed").arg(passed());
    text += warnings == 1 ? QObject::tr(", 1 warning") : QObject::tr(", %1 warnings").arg(warnings);
    text += errors == 1 ? QObject::tr(", 1 error") : QObject::tr(", %1 errors").arg(errors);
    if (infos > 0)
        text += infos == 1 ? QObject::tr(", 1 note") : QObject::tr(", %1 notes").arg(infos);
    return text;
}

namespace DesignCheck {

QString timeText(double us)
{
    if (std::fabs(us) < 1000.0)
        return QString::asprintf("%.1f µs", us);
    if (std::fabs(us) < 1e6)
        return QString::asprintf("%.3f ms", us / 1000.0);
    return QString::asprintf("%.3f s", us / 1e6);
}

namespace {

QString bytesText(int bytes)
{
    return bytes == 1 ? QObject::tr("1 byte") : QObject::tr("%1 bytes").arg(bytes);
}

bool isPresenceId(quint16 id)
{
    return (id & 0xFF00) == 0x1400;
}

QString rangeText(const RunningRange& r)
{
    return QObject::tr("min %1, mean %2, max %3").arg(timeText(r.min), timeText(r.mean()), timeText(r.max));
}

QString sequenceText(const QVector<QVector<quint16>>& cycles)
{
    QStringList parts;
    for (const QVector<quint16>& cycle : cycles) {
        QStringList ids;
        for (quint16 id : cycle)
            ids << checkIdText(id);
        parts << QLatin1Char('[') + ids.join(QLatin1Char(' ')) + QLatin1Char(']');
    }
    return parts.join(QLatin1Char(' '));
}

bool sameUpToRotation(const QVector<QVector<quint16>>& a, const QVector<QVector<quint16>>& b)
{
    if (a.size() != b.size())
        return false;
    const int n = a.size();
    for (int shift = 0; shift < n; ++shift) {
        bool same = true;
        for (int i = 0; i < n && same; ++i)
            same = a[i] == b[(i + shift) % n];
        if (same)
            return true;
    }
    return n == 0;
}

bool offBy(double measured, double designed, double tolerance)
{
    return std::fabs(measured - designed) > tolerance * designed;
}

class Checker
{
public:
    Checker(const DesignedNetwork& design, const BusObservation& bus, CheckReport& report)
        : d(design)
        , bus(bus)
        , r(report)
    {
        for (const DesignedVariable& v : d.variables)
            produced.insert(v.id, &v);
        for (const DesignedStation& s : d.stations)
            stations.insert(s.address, &s);
    }

    void add(CheckSeverity severity, CheckKind kind, const QString& object, const QString& designed,
             const QString& measured, qint64 frame, const QString& note)
    {
        r.findings.append({ severity, kind, object, designed, measured, frame, note });
    }

    QString variableObject(quint16 id) const
    {
        const DesignedVariable* v = produced.value(id);
        QString text = checkIdText(id);
        if (v && !v->name.isEmpty() && !v->name.contains(text))
            text += QStringLiteral(" (") + v->name + QLatin1Char(')');
        return text;
    }

    void macrocycle(int table);
    void variables(const QSet<quint16>& scanned);
    void unproduced();
    void presence();
    void timings();

    const DesignedNetwork& d;
    const BusObservation& bus;
    CheckReport& r;
    QHash<quint16, const DesignedVariable*> produced;
    QHash<int, const DesignedStation*> stations;
};

void Checker::macrocycle(int tableIndex)
{
    const DesignedScanTable& table = d.scanTables.at(tableIndex);
    QSet<quint16> designed;
    for (const QVector<quint16>& cycle : table.microcycles)
        for (quint16 id : cycle)
            designed.insert(id);

    // Presence polls the table does not name come from the arbitrator, not the table.
    QVector<QVector<quint16>> measured = bus.macrocycle();
    for (QVector<quint16>& cycle : measured)
        cycle.erase(std::remove_if(cycle.begin(), cycle.end(),
                                   [&](quint16 id) { return isPresenceId(id) && !designed.contains(id); }),
                    cycle.end());
    measured.erase(std::remove_if(measured.begin(), measured.end(), [](const QVector<quint16>& c) { return c.isEmpty(); }),
                   measured.end());

    ++r.checksMade;
    if (measured.isEmpty()) {
        add(CheckSeverity::Info, CheckKind::Macrocycle, table.name, sequenceText(table.microcycles),
            bus.microcycles().empty() ? QObject::tr("no microcycle ends in padding") : QObject::tr("no repeating sequence"),
            -1, QObject::tr("The macrocycle could not be detected, so its order and microcycles were not compared."));
    } else {
        QSet<quint16> seen;
        for (const QVector<quint16>& cycle : measured)
            for (quint16 id : cycle)
                seen.insert(id);
        bool membersDiffer = false;
        for (const QVector<quint16>& cycle : table.microcycles) {
            for (quint16 id : cycle) {
                const ObservedIdentifier* o = bus.find(id);
                if (seen.contains(id))
                    continue;
                membersDiffer = true;
                if (!o || o->requests == 0)
                    continue; // told once, as never seen
                add(CheckSeverity::Error, CheckKind::Macrocycle, variableObject(id), table.name,
                    QObject::tr("not in the macrocycle"), o->firstRequest,
                    QObject::tr("The identifier is requested on the bus, but not in the scan table's cycle."));
            }
        }
        QList<quint16> extra = (seen - designed).values();
        std::sort(extra.begin(), extra.end());
        for (quint16 id : extra) {
            membersDiffer = true;
            if (!produced.contains(id))
                continue; // told once, as without producer
            const ObservedIdentifier* o = bus.find(id);
            add(CheckSeverity::Warning, CheckKind::Macrocycle, variableObject(id), QObject::tr("not in %1").arg(table.name),
                QObject::tr("in the macrocycle"), o ? o->firstRequest : -1,
                QObject::tr("The arbitrator scans an identifier its scan table does not name."));
        }
        ++r.checksMade;
        if (measured.size() != table.microcycles.size()) {
            add(CheckSeverity::Warning, CheckKind::MicrocycleCount, table.name, QString::number(table.microcycles.size()),
                QString::number(measured.size()), -1,
                QObject::tr("The bus repeats a different number of microcycles than the scan table holds."));
        } else if (!membersDiffer && !sameUpToRotation(table.microcycles, measured)) {
            add(CheckSeverity::Warning, CheckKind::Macrocycle, table.name, sequenceText(table.microcycles),
                sequenceText(measured), -1, QObject::tr("The identifiers are scanned in another order."));
        }
    }

    if (table.microcycleMs > 0 && bus.microcycleUs().count > 0) {
        ++r.checksMade;
        const double designedUs = table.microcycleMs * 1000.0;
        const RunningRange& m = bus.microcycleUs();
        if (offBy(m.mean(), designedUs, T::MicrocycleTolerance)) {
            const bool longer = m.mean() > designedUs;
            add(CheckSeverity::Warning, CheckKind::MicrocycleLength, table.name, timeText(designedUs), rangeText(m),
                bus.microcycleFrames().empty() ? -1 : qint64(bus.microcycleFrames().front()),
                longer ? QObject::tr("The microcycles run longer than the WAIT_TIME: the scan does not fit.")
                       : QObject::tr("The microcycles are shorter than the WAIT_TIME."));
        }
    }
}

void Checker::variables(const QSet<quint16>& scanned)
{
    for (const DesignedVariable& v : d.variables) {
        const ObservedIdentifier* o = bus.find(v.id);
        const QString object = variableObject(v.id);
        if (scanned.contains(v.id)) {
            ++r.checksMade;
            if (!o || o->requests == 0) {
                add(CheckSeverity::Error, CheckKind::NeverSeen, object, QObject::tr("scanned"), QObject::tr("never requested"),
                    -1, QObject::tr("The scan table names the identifier but the bus never carried it."));
                continue;
            }
        }
        if (!o || o->requests == 0)
            continue;

        if (v.periodMs > 0 && o->intervalUs.count >= quint64(T::MinimumIntervals)) {
            const double periodUs = v.periodMs * 1000.0;
            const RunningRange& i = o->intervalUs;
            r.checksMade += 2;
            if (offBy(i.mean(), periodUs, T::PeriodTolerance)) {
                const bool slower = i.mean() > periodUs;
                add(slower ? CheckSeverity::Warning : CheckSeverity::Info, CheckKind::RefreshPeriod, object,
                    timeText(periodUs), rangeText(i), o->firstRequest,
                    slower ? QObject::tr("The variable is refreshed less often than designed.")
                           : QObject::tr("The variable is scanned more often than its production period."));
            }
            if (i.max - i.min > T::JitterTolerance * periodUs) {
                add(CheckSeverity::Warning, CheckKind::RefreshJitter, object,
                    QObject::tr("at most %1").arg(timeText(T::JitterTolerance * periodUs)), timeText(i.max - i.min),
                    o->firstRequest, QObject::tr("The refresh intervals spread more than the tolerance allows."));
            }
        }

        if (!isPresenceId(v.id)) {
            ++r.checksMade;
            if (o->noReplies > 0)
                add(CheckSeverity::Error, CheckKind::MissingReplies, object, QObject::tr("a reply to every request"),
                    QObject::tr("%1 of %2 requests unanswered").arg(o->noReplies).arg(o->requests), o->firstNoReply,
                    QObject::tr("The producer did not answer every request."));
        }
        if (o->replies == 0)
            continue;

        r.checksMade += 2;
        if (o->minLength != v.length || o->maxLength != v.length) {
            const QString measured = o->minLength == o->maxLength
                ? bytesText(o->minLength)
                : QObject::tr("%1 to %2 bytes").arg(o->minLength).arg(o->maxLength);
            add(CheckSeverity::Error, CheckKind::ReplyLength, object, bytesText(v.length), measured,
                o->firstLength != v.length ? o->firstReply : o->firstOtherLength,
                QObject::tr("The reply carries another length than \"Var. Out. Length\"."));
        }
        const quint64 wrong = v.smMps ? o->mpsReplies : o->smMpsReplies;
        if (wrong > 0) {
            const QString designed = v.smMps ? QStringLiteral("SM_MPS") : QStringLiteral("MPS");
            const QString measured = o->mpsReplies && o->smMpsReplies ? QObject::tr("MPS and SM_MPS")
                                                                      : (v.smMps ? QStringLiteral("MPS") : QStringLiteral("SM_MPS"));
            add(CheckSeverity::Warning, CheckKind::ReplyPdu, object, designed, measured,
                v.smMps ? o->firstMps : o->firstSmMps,
                QObject::tr("The reply's PDU type is not \"Var. Out. PDU\"."));
        }
    }
}

void Checker::unproduced()
{
    std::vector<const ObservedIdentifier*> seen;
    for (const ObservedIdentifier& o : bus.identifiers())
        if (o.requests > 0 && !bus.isPadding(o.id) && !isPresenceId(o.id))
            seen.push_back(&o);
    std::sort(seen.begin(), seen.end(), [](auto a, auto b) { return a->id < b->id; });
    for (const ObservedIdentifier* o : seen) {
        ++r.checksMade;
        if (!produced.contains(o->id))
            add(CheckSeverity::Warning, CheckKind::UnproducedIdentifier, checkIdText(o->id), QObject::tr("no producer"),
                o->replies ? QObject::tr("requested %1 times, answered").arg(o->requests)
                           : QObject::tr("requested %1 times, never answered").arg(o->requests),
                o->firstRequest, QObject::tr("No station of the design produces this identifier."));
    }
}

void Checker::presence()
{
    std::vector<const ObservedIdentifier*> polled;
    for (const ObservedIdentifier& o : bus.identifiers())
        if (isPresenceId(o.id))
            polled.push_back(&o);
    std::sort(polled.begin(), polled.end(), [](auto a, auto b) { return a->id < b->id; });
    for (const ObservedIdentifier* o : polled) {
        const int address = o->id & 0xFF;
        if (o->replies > 0 && !stations.contains(address)) {
            ++r.checksMade;
            add(CheckSeverity::Warning, CheckKind::UndesignedStation, QObject::tr("station %1").arg(address),
                QObject::tr("not in the design"), QObject::tr("answers its presence"), o->firstReply,
                QObject::tr("A station on the bus that the project does not hold."));
        }
    }
    for (const DesignedStation& s : d.stations) {
        const ObservedIdentifier* o = bus.find(quint16(0x1400 | (s.address & 0xFF)));
        if (!o || o->requests == 0)
            continue; // never polled: nothing to say
        ++r.checksMade;
        if (o->replies == 0)
            add(CheckSeverity::Error, CheckKind::SilentStation, QObject::tr("station %1 (%2)").arg(s.address).arg(s.name),
                QObject::tr("present"), QObject::tr("%1 polls, no answer").arg(o->requests),
                o->firstRequest, QObject::tr("A designed station never answers its presence poll."));
    }
}

void Checker::timings()
{
    const RunningRange& turn = bus.turnaroundUs();
    if (d.turnaroundUs > 0 && turn.count > 0) {
        ++r.checksMade;
        if (d.silenceUs > 0 && turn.max >= d.silenceUs)
            add(CheckSeverity::Error, CheckKind::Turnaround, d.name, QObject::tr("below the silence, %1").arg(timeText(d.silenceUs)),
                rangeText(turn), -1, QObject::tr("A reply came later than the silence time: it counts as missing."));
        else if (offBy(turn.mean(), d.turnaroundUs, T::TurnaroundTolerance))
            add(CheckSeverity::Warning, CheckKind::Turnaround, d.name, timeText(d.turnaroundUs), rangeText(turn), -1,
                QObject::tr("The stations reply after another turnaround than the network's."));
    }
    const RunningRange& silence = bus.silenceUs();
    if (d.silenceUs > 0 && silence.count > 0) {
        ++r.checksMade;
        if (offBy(silence.mean(), d.silenceUs, T::SilenceTolerance))
            add(CheckSeverity::Warning, CheckKind::Silence, d.name, timeText(d.silenceUs), rangeText(silence), -1,
                QObject::tr("The arbitrator waits another time than the network's silence for a missing reply."));
    }
}

} // namespace

int runningScanTable(const DesignedNetwork& design, const BusObservation& bus)
{
    int best = -1;
    int bestScore = -1;
    for (int t = 0; t < design.scanTables.size(); ++t) {
        QSet<quint16> ids;
        for (const QVector<quint16>& cycle : design.scanTables.at(t).microcycles)
            for (quint16 id : cycle)
                ids.insert(id);
        int score = 0;
        for (quint16 id : ids) {
            const ObservedIdentifier* o = bus.find(id);
            score += o && o->requests > 0 ? 1 : 0;
        }
        if (score > bestScore) {
            best = t;
            bestScore = score;
        }
    }
    return best;
}

CheckReport run(const DesignedNetwork& design, const BusObservation& bus)
{
    CheckReport report;
    report.network = design.name;
    report.frames = bus.frames();
    Checker c(design, bus, report);
    QSet<quint16> scanned;
    const int table = runningScanTable(design, bus);
    if (table >= 0) {
        c.macrocycle(table);
        for (const QVector<quint16>& cycle : design.scanTables.at(table).microcycles)
            for (quint16 id : cycle)
                scanned.insert(id);
    }
    c.variables(scanned);
    c.unproduced();
    c.presence();
    c.timings();
    std::stable_sort(report.findings.begin(), report.findings.end(),
                     [](const CheckFinding& a, const CheckFinding& b) { return a.severity > b.severity; });
    return report;
}

} // namespace DesignCheck
