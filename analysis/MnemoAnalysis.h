#ifndef BX_ANALYSIS_MNEMOANALYSIS_H
#define BX_ANALYSIS_MNEMOANALYSIS_H

#include "capture/decoder/FipDecoderListener.h"
#include "capture/files/TraceRecorder.h"
#include "control/MnemoCodec.h"

#include <QHash>
#include <QJsonValue>
#include <QPersistentModelIndex>
#include <QString>
#include <QVariant>
#include <QVector>

#include <vector>

class MainDTModel;

/// One mnemonic's values through a capture: one entry per change date from the
/// date of its first value on (the dates before it have no value).
struct MnemoHistory
{
    MnemoField field;
    int first = -1;               ///< index of the first date with a value, -1 when none
    std::vector<quint64> values;  ///< raw values (MnemoCodec::rawValue) from `first` on

    bool hasValue(int date) const { return first >= 0 && date >= first && date - first < int(values.size()); }
    quint64 raw(int date) const { return values[size_t(date - first)]; }
    /// The value of a date: bool, qlonglong, qulonglong or double; invalid when none.
    QVariant at(int date) const;
    /// The value of a date in JSON: null when none or not finite, a bool, or a number.
    QJsonValue jsonValue(int date) const;
    /// The same as JSON text, integers written from their 64 bits: a double would
    /// round them above 2^53.
    QByteArray jsonText(int date) const;
};

/// The mnemonic analysis of a capture: every mnemonic's value taken from the
/// frames that carry it, its change count and its history, with the change
/// dates all histories share. A stage of the frame path: it works on frames
/// without error and passes every hook on.
class MnemoAnalysis : public FipForwardingListener
{
public:
    struct Definition
    {
        QPersistentModelIndex item; ///< the design row (column 0)
        MnemoField field;
        TraceLabel label;           ///< its trace row fields; value = the last value text
        bool hasValue = false;
        bool changed = false;       ///< the value changed with the current frame
        quint64 changes = 0;
        quint64 lastRaw = 0;
        QByteArray lastBytes;       ///< Ascii and Hexa: the last bytes cut
        MnemoHistory history;
    };

    explicit MnemoAnalysis(FipDecoderListener* next = nullptr);

    /// Forgets every definition, value and date.
    void reset();
    /// A new capture on a design: reset, then the definitions of its produced
    /// variables and of its messages.
    void setDesign(const MainDTModel& design);
    /// Definitions by hand (benchmarks, tests): a variable identifier, or a message
    /// address when `message`.
    int addDefinition(const QModelIndex& item, const MnemoField& field, const QString& name, quint64 key, bool message,
                      bool refreshmentEnabled = false);

    /// Message key: source segment, source identifier, destination segment, destination identifier.
    static quint64 messageKey(quint8 sourceSegment, quint16 sourceId, quint8 destinationSegment, quint16 destinationId)
    {
        return (quint64(sourceSegment) << 40) | (quint64(sourceId) << 24) | (quint64(destinationSegment) << 16)
            | destinationId;
    }

    bool isEmpty() const { return m_definitions.empty(); }
    int count() const { return int(m_definitions.size()); }
    const Definition& definition(int i) const { return m_definitions[size_t(i)]; }
    /// Index of the definition of a design row, -1 when none.
    int indexOf(const QModelIndex& item) const;

    /// Change dates, ms since the epoch, one per frame in which a value changed.
    const std::vector<qint64>& dates() const { return m_dates; }
    /// "hh:mm:ss.zzz".
    static QString dateText(qint64 ms);
    /// Grows at every reset: what was drawn from an older generation is gone.
    quint64 generation() const { return m_generation; }

    /// The values of one frame (the pipeline calls it for frames without error).
    void treatMnemos(bool ok, const FipFrameInfo& frame);
    /// Depth mode 4: the labels of an identifier whose values changed with the
    /// current frame; null when there are none.
    const QVector<TraceLabel>* changedLabels(quint16 identifier);

    void onReplyFrame(const FipFrameInfo& frame, TraceRow& row) override;
    void onFrameWithoutError(const FipFrameInfo& frame) override;

private:
    struct Owner
    {
        std::vector<int> definitions;
        bool refreshmentEnabled = false;
    };
    void treat(const Owner& owner, const quint8* data, int size, quint64 timestamp);
    void appendMnemoDate(quint64 timestamp);

    std::vector<Definition> m_definitions;
    std::vector<qint32> m_variableOwners; ///< by identifier: index into m_owners, -1 when none
    QHash<quint64, int> m_messageOwners;
    std::vector<Owner> m_owners;
    std::vector<qint64> m_dates;
    QVector<TraceLabel> m_changedLabels;
    bool m_frameTreated = false;
    quint16 m_treatedIdentifier = 0;
    quint64 m_generation = 0;
};

#endif
