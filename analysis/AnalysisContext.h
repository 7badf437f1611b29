#ifndef BX_ANALYSIS_ANALYSISCONTEXT_H
#define BX_ANALYSIS_ANALYSISCONTEXT_H

#include <QList>
#include <QPair>
#include <QString>
#include <QtGlobal>

#include <array>
#include <string>
#include <vector>

/// What one capture adds up for one (identifier, control) pair: the rows of the
/// transaction tree.
struct TransactionStats
{
    /// Which maps hold the pair: only those are pushed into the tree, so a row
    /// never shows a value its pair never had.
    enum Field : quint16 {
        HasOccurrences = 0x0001,
        HasNoReply = 0x0002,
        HasNoAck = 0x0004,
        HasGlitches = 0x0008,
        HasJitter = 0x0010,
        HasDuration = 0x0020,
        HasNoRefresh = 0x0040,
        HasNoRefreshDate = 0x0080,
        HasDataChanges = 0x0100,
        HasDataValue = 0x0200,
        HasRefreshState = 0x0400,
        HasState = 0x0800
    };

    quint16 identifier = 0;
    quint8 control = 0;
    quint16 fields = 0;
    quint8 state = 0;          ///< bit 7 known, bit 0 seen, bit 1 replied, bit 2 warning
    bool refreshState = false;
    bool hasStatusBits = false;
    quint8 statusBits = 0;     ///< bits 0 and 2 of the last status byte
    quint64 occurrences = 0;
    quint64 noReply = 0;
    quint64 noAck = 0;
    quint64 glitchOpen = 0;    ///< GLC added in the open two-second window
    quint64 glitchClosed = 0;  ///< the last complete window
    quint64 maxJitter = 0;     ///< fiftieths of a bit time
    quint64 durationTicks = 0;
    quint64 noRefresh = 0;
    quint64 noRefreshDate = 0; ///< µs since the epoch
    quint64 dataChanges = 0;
    quint64 dataLength = 0;
    std::string data;          ///< last data bytes, compared raw; texted only when shown
};

/// What one capture adds up for one identifier.
struct IdentifierStats
{
    std::array<qint32, 20> pairs; ///< index in AnalysisContext::pairs by control slot, -1 when absent
    bool replied = false;
    quint8 presenceState = 0;     ///< presence identifiers (bits 0x1400)
    quint64 presenceDate = 0;     ///< µs since the epoch of the last status
    quint64 transactionTicks = 0; ///< the identifier's last transaction duration
    bool refreshmentEnabled = false;

    IdentifierStats() { pairs.fill(-1); }
};

/// The named counters of the statistics overview and of the statistics file.
struct StatisticsCounters
{
    quint64 errorAcqu = 0, errorFSD = 0, errorFED = 0, errorPRE = 0, errorControl = 0, errorDataSize = 0,
            errorFCS = 0, errorFIPInterrupt = 0, errorTotal = 0;
    quint64 idDat = 0, idMsg = 0, idRq1 = 0, idRq2 = 0;
    quint64 rpDat = 0, rpDatMsg = 0, rpDatRq1 = 0, rpDatRq2 = 0, rpDatRq1Msg = 0, rpDatRq2Msg = 0;
    quint64 rpMsgAckEven = 0, rpMsgAckOdd = 0, rpMsgNoAck = 0;
    quint64 rpAckPEven = 0, rpAckPOdd = 0, rpAckMEven = 0, rpAckMOdd = 0;
    quint64 rpRq1 = 0, rpRq2 = 0, rpFin = 0;
    quint64 padding = 0, frameTotal = 0;

    /// (key, counter) in the overview's order; the statistics file uses the same keys.
    QList<QPair<QString, quint64*>> named();
    /// The eight error counters and the twenty control-type counters plus padding.
    void updateTotals();
};

/// The texts of the overview's information fields.
struct StatisticsInfo
{
    QString frameType, speed, startTime, endTime, duration, microcycleTime, macrocycleTime, silenceTime,
            turnAroundTime;

    StatisticsInfo() { clear(); }
    /// Every field back to "-".
    void clear();
    QList<QPair<QString, QString*>> named();
};

/// The transaction totals of the transaction tree, in its output order.
struct TransactionTotals
{
    quint64 varOk = 0, varLostReply = 0, varNeverReply = 0, msgOk = 0, msgNok = 0;
};

/// The per-capture state of the analysis: what the frames add up and the
/// displays read. The main window owns one; `reset` starts a new capture.
class AnalysisContext
{
public:
    AnalysisContext();

    void reset();

    /// The stats of a pair, created on first use; a reference stays valid only
    /// until the next pair is created.
    TransactionStats& pair(quint16 identifier, quint8 control);
    /// The stats of a pair, or null.
    const TransactionStats* findPair(quint16 identifier, quint8 control) const;
    IdentifierStats& identifier(quint16 identifier);
    const IdentifierStats* findIdentifier(quint16 identifier) const;

    /// Every pair, in the order they first appeared.
    std::vector<TransactionStats>& pairs() { return m_pairs; }
    const std::vector<TransactionStats>& pairs() const { return m_pairs; }

    /// Index of a control byte among the twenty, -1 for any other byte.
    static int controlSlot(quint8 control);

    // Timing sums of the transaction bookkeeping, in ticks.
    quint64 silenceCount = 0;
    quint64 silenceSum = 0;
    quint64 turnAroundSum = 0;
    quint64 averageSilence = 0;    ///< silenceSum / silenceCount, at each statistics tick
    quint64 averageTurnAround = 0; ///< turnAroundSum / RP_DAT frames, at each statistics tick

    // Reply durations the gauges add to the identifier frames' (ticks).
    quint64 variableReplyTime = 0;
    quint64 messageReplyTime = 0;
    quint64 aperiodicReplyTime = 0;

    quint16 paddingIdentifier = 0;
    bool macrocycleConsistent = true;
    int depthMode = 2;

    StatisticsCounters counters;
    StatisticsInfo info;
    TransactionTotals totals;

private:
    std::vector<qint32> m_identifierSlots; ///< 65536 entries, -1 when absent
    std::vector<IdentifierStats> m_identifiers;
    std::vector<TransactionStats> m_pairs;
    TransactionStats m_scratch;
};

#endif
