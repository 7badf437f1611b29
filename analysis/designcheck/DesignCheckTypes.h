#ifndef BX_DESIGNCHECK_DESIGNCHECKTYPES_H
#define BX_DESIGNCHECK_DESIGNCHECKTYPES_H

#include <QString>
#include <QVector>
#include <QtGlobal>

/// How far the bus may stray from the design before a check speaks up. Every
/// threshold of the design check lives here.
namespace DesignCheckThresholds {
/// Mean refresh interval off the designed period, as a share of the period.
constexpr double PeriodTolerance = 0.10;
/// Spread of the refresh intervals (maximum − minimum), as a share of the period.
constexpr double JitterTolerance = 0.10;
/// Mean microcycle length off the designed WAIT_TIME, as a share of it.
constexpr double MicrocycleTolerance = 0.10;
/// Mean turnaround off the configured turnaround time, as a share of it.
constexpr double TurnaroundTolerance = 0.25;
/// Mean silence off the configured silence time, as a share of it.
constexpr double SilenceTolerance = 0.25;
/// Fewer refresh intervals than this: too little seen to judge a period.
constexpr int MinimumIntervals = 3;
/// Complete microcycles kept for the macrocycle search; older ones only count in the lengths.
constexpr int KeptMicrocycles = 512;
/// Bytes of a variable reply besides the variable's own data: PDU type, length, status.
constexpr int ReplyOverheadBytes = 3;
} // namespace DesignCheckThresholds

/// Severities, numbered as the status bar levels.
enum class CheckSeverity : quint8 { Info = 0, Warning = 1, Error = 2 };

/// What was checked.
enum class CheckKind : quint8 {
    Macrocycle,
    MicrocycleCount,
    MicrocycleLength,
    RefreshPeriod,
    RefreshJitter,
    NeverSeen,
    UnproducedIdentifier,
    ReplyLength,
    ReplyPdu,
    MissingReplies,
    UndesignedStation,
    SilentStation,
    Turnaround,
    Silence
};

/// One thing the bus does that the design does not say (or the reverse).
struct CheckFinding
{
    CheckSeverity severity = CheckSeverity::Info;
    CheckKind kind = CheckKind::Macrocycle;
    QString object;   ///< identifier, station or scan table
    QString designed;
    QString measured;
    qint64 firstFrame = -1; ///< frame number where it was first seen, -1 when none
    QString note;     ///< one sentence saying what it means
};

/// The outcome of one run: every finding and the number of checks made.
struct CheckReport
{
    QString network;
    QString source;  ///< the capture checked
    quint64 frames = 0;
    int checksMade = 0;
    QVector<CheckFinding> findings;

    int count(CheckSeverity severity) const;
    /// Checks made without a warning or an error.
    int passed() const;
    /// "18 checks passed, 2 warnings, 1 error".
    QString summary() const;
};

/// The design, as the checks need it: plain values taken out of the project.
struct DesignedStation
{
    int address = 0;
    QString name;
};

struct DesignedVariable
{
    quint16 id = 0;
    QString name;
    int producerAddress = -1;
    int length = 0;       ///< data bytes ("Var. Out. Length")
    bool smMps = false;   ///< "Var. Out. PDU" is SM_MPS
    double periodMs = 0;  ///< refreshment production period, 0 when none
};

struct DesignedScanTable
{
    QString name;         ///< "Arbitrator / Scan Table 0"
    QVector<QVector<quint16>> microcycles; ///< SEND_ID_DAT identifiers, cut at each WAIT
    double microcycleMs = 0; ///< the first WAIT_TIME, 0 when none
};

struct DesignedNetwork
{
    QString name;
    double silenceUs = 0;
    double turnaroundUs = 0;
    QVector<DesignedStation> stations;
    QVector<DesignedVariable> variables;
    QVector<DesignedScanTable> scanTables;
};

/// Identifier as the design writes it.
QString checkIdText(quint16 id);
QString checkKindName(CheckKind kind);
QString checkSeverityName(CheckSeverity severity);

#endif
