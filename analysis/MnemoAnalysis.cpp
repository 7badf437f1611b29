#include "analysis/MnemoAnalysis.h"

#include "control/FipAnalyze.h"
#include "design/MainDTModel.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>
#include <cstring>

namespace {

bool isVariableReply(quint8 control)
{
    switch (control) {
    case 0x02: case 0x06: case 0x0A: case 0x0E: case 0x2A: case 0x2E: return true;
    default: return false;
    }
}

bool isMessageReply(quint8 control)
{
    return control == 0x04 || control == 0x14 || control == 0x94;
}

} // namespace

QVariant MnemoHistory::at(int date) const
{
    if (!hasValue(date))
        return QVariant();
    return MnemoCodec::rawToVariant(field, raw(date));
}

QJsonValue MnemoHistory::jsonValue(int date) const
{
    if (!hasValue(date))
        return QJsonValue();
    const quint64 value = raw(date);
    if (field.type == MnemoField::Bool)
        return value != 0;
    if (field.isFloating()) {
        const double v = MnemoCodec::rawToDouble(field, value);
        return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
    }
    if (field.isSigned())
        return qint64(value);
    return double(value);
}

QByteArray MnemoHistory::jsonText(int date) const
{
    if (hasValue(date) && field.isInteger())
        return field.isSigned() ? QByteArray::number(qint64(raw(date))) : QByteArray::number(raw(date));
    const QJsonValue v = jsonValue(date);
    if (v.isBool())
        return v.toBool() ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
    if (v.isDouble())
        return QByteArray::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
    return QByteArrayLiteral("null");
}

MnemoAnalysis::MnemoAnalysis(FipDecoderListener* next)
    : FipForwardingListener(next)
    , m_variableOwners(65536, -1)
{
}

void MnemoAnalysis::reset()
{
    m_definitions.clear();
    m_definitions.shrink_to_fit();
    std::fill(m_variableOwners.begin(), m_variableOwners.end(), -1);
    m_messageOwners.clear();
    m_owners.clear();
    m_dates.clear();
    m_dates.shrink_to_fit();
    m_changedLabels.clear();
    m_frameTreated = false;
    ++m_generation;
}

int MnemoAnalysis::addDefinition(const QModelIndex& item, const MnemoField& field, const QString& name, quint64 key,
                                 bool message, bool refreshmentEnabled)
{
    int owner = -1;
    if (message) {
        owner = m_messageOwners.value(key, -1);
        if (owner < 0) {
            owner = int(m_owners.size());
            m_owners.emplace_back();
            m_messageOwners.insert(key, owner);
        }
    } else {
        owner = m_variableOwners[key & 0xFFFF];
        if (owner < 0) {
            owner = int(m_owners.size());
            m_owners.emplace_back();
            m_variableOwners[key & 0xFFFF] = owner;
        }
        m_owners[size_t(owner)].refreshmentEnabled = refreshmentEnabled;
    }
    Definition definition;
    definition.item = item;
    definition.field = field;
    definition.history.field = field;
    definition.label.name = name;
    m_definitions.push_back(definition);
    const int index = int(m_definitions.size()) - 1;
    m_owners[size_t(owner)].definitions.push_back(index);
    return index;
}

void MnemoAnalysis::setDesign(const MainDTModel& design)
{
    reset();
    for (const QModelIndex& mnemonic : design.getClassTypeIndexes(MainDTModel::MNEMONIC)) {
        const QModelIndex rendering = mnemonic.parent();
        const QModelIndex owner = rendering.parent();
        const quint8 kind = design.classType(owner);
        quint64 key = 0;
        bool message = false;
        bool refreshment = false;
        if (kind == MainDTModel::VARIABLE_OUT) {
            bool valid = false;
            key = design.getOutId(owner, &valid);
            if (!valid)
                continue;
            refreshment = design.text(owner, MainDTModel::ColVarOutRefreshmentEnabled)
                              .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
        } else if (kind == MainDTModel::MESSAGE_OUT) {
            bool ok[4] = {};
            const quint8 sourceSegment = quint8(design.text(owner, MainDTModel::ColMsgSourceSegment).toUInt(ok));
            const quint16 sourceId = MainDTModel::parseID(design.text(owner, MainDTModel::ColMsgSourceId), ok + 1);
            const quint8 destSegment = quint8(design.text(owner, MainDTModel::ColMsgDestinationSegment).toUInt(ok + 2));
            const quint16 destId = MainDTModel::parseID(design.text(owner, MainDTModel::ColMsgDestinationId), ok + 3);
            if (!(ok[0] && ok[1] && ok[2] && ok[3]))
                continue;
            key = messageKey(sourceSegment, sourceId, destSegment, destId);
            message = true;
        } else {
            continue;
        }
        const QModelIndex row = mnemonic.sibling(mnemonic.row(), 0);
        const int index = addDefinition(row, MnemoField::fromDesign(row), design.text(row, MainDTModel::ColObject), key,
                                        message, refreshment);
        TraceLabel& label = m_definitions[size_t(index)].label;
        label.description = design.text(row, MainDTModel::ColMnemoDescription);
        label.type = design.text(row, MainDTModel::ColMnemoType);
        label.startBit = design.text(row, MainDTModel::ColMnemoStartBit);
        label.stopBit = design.text(row, MainDTModel::ColMnemoStopBit);
        label.pixmap = design.text(row, MainDTModel::ColMnemoPixmap);
    }
}

int MnemoAnalysis::indexOf(const QModelIndex& item) const
{
    const QModelIndex row = item.sibling(item.row(), 0);
    for (size_t i = 0; i < m_definitions.size(); ++i) {
        if (m_definitions[i].item == row)
            return int(i);
    }
    return -1;
}

QString MnemoAnalysis::dateText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("hh:mm:ss.zzz"));
}

void MnemoAnalysis::onReplyFrame(const FipFrameInfo& frame, TraceRow& row)
{
    m_frameTreated = false;
    FipForwardingListener::onReplyFrame(frame, row);
}

void MnemoAnalysis::onFrameWithoutError(const FipFrameInfo& frame)
{
    treatMnemos(frame.ok, frame);
    FipForwardingListener::onFrameWithoutError(frame);
}

void MnemoAnalysis::treatMnemos(bool ok, const FipFrameInfo& frame)
{
    if (m_owners.empty() || !ok || frame.error || frame.data == nullptr)
        return;
    if (isVariableReply(frame.control)) {
        // Control, PDU and length bytes first, the FCS last.
        const qint32 owner = m_variableOwners[frame.identifier];
        if (owner < 0 || frame.size < 5)
            return;
        const Owner& entry = m_owners[size_t(owner)];
        int size = frame.size - 5;
        if (entry.refreshmentEnabled && size > 0)
            --size; // the producer's status byte
        m_frameTreated = true;
        m_treatedIdentifier = frame.identifier;
        treat(entry, frame.data + 3, size, frame.timestamp);
    } else if (isMessageReply(frame.control)) {
        // Control, destination then source address (segment and identifier), data, FCS.
        if (frame.size < 9)
            return;
        const quint8* d = frame.data;
        const quint64 key = messageKey(d[4], quint16((d[5] << 8) | d[6]), d[1], quint16((d[2] << 8) | d[3]));
        const int owner = m_messageOwners.value(key, -1);
        if (owner < 0)
            return;
        treat(m_owners[size_t(owner)], d + 7, frame.size - 9, frame.timestamp);
    }
}

void MnemoAnalysis::treat(const Owner& owner, const quint8* data, int size, quint64 timestamp)
{
    bool anyChange = false;
    quint8 cut[300];
    for (int index : owner.definitions) {
        Definition& d = m_definitions[size_t(index)];
        d.changed = false;
        const MnemoField& field = d.field;
        if (field.isNumeric()) {
            // Equal bits give equal texts: the text is made only when the bits moved.
            quint64 raw = 0;
            const bool fits = MnemoCodec::rawValue(field, data, size, &raw);
            if (!fits)
                raw = 0;
            if (d.hasValue && raw == d.lastRaw)
                continue;
            const QString text = fits ? MnemoCodec::rawToText(field, raw) : QStringLiteral("0");
            d.lastRaw = raw;
            if (d.hasValue && text == d.label.value)
                continue;
            d.label.value = text;
        } else {
            int count = -1;
            if (field.startBit >= 0 && field.stopBit >= field.startBit && field.stopBit - field.startBit < 300 * 8)
                count = FipAnalyze::cutBits(data, size, field.startBit, field.stopBit, cut);
            const QByteArray bytes = count > 0 ? QByteArray::fromRawData(reinterpret_cast<const char*>(cut), count)
                                               : QByteArray();
            if (d.hasValue && bytes == d.lastBytes)
                continue;
            d.lastBytes = QByteArray(bytes.constData(), bytes.size());
            const QString text = MnemoCodec::toText(field, data, size, nullptr);
            if (d.hasValue && text == d.label.value)
                continue;
            d.label.value = text;
        }
        d.hasValue = true;
        d.changed = true;
        ++d.changes;
        if (field.isNumeric()) {
            MnemoHistory& h = d.history;
            if (h.first < 0)
                h.first = int(m_dates.size());
            // The entry of the date appended below; earlier dates are already filled.
            h.values.push_back(d.lastRaw);
        }
        anyChange = true;
    }
    if (anyChange)
        appendMnemoDate(timestamp);
}

void MnemoAnalysis::appendMnemoDate(quint64 timestamp)
{
    m_dates.push_back(qint64(std::llround(double(timestamp) / 1000.0)));
    // Every history has one entry per date: the ones that did not change repeat their last value.
    const size_t dates = m_dates.size();
    for (Definition& d : m_definitions) {
        MnemoHistory& h = d.history;
        if (h.first < 0)
            continue;
        while (size_t(h.first) + h.values.size() < dates)
            h.values.push_back(h.values.back());
    }
}

const QVector<TraceLabel>* MnemoAnalysis::changedLabels(quint16 identifier)
{
    if (!m_frameTreated || identifier != m_treatedIdentifier || m_variableOwners[identifier] < 0)
        return nullptr;
    m_changedLabels.clear();
    for (int index : m_owners[size_t(m_variableOwners[identifier])].definitions) {
        if (m_definitions[size_t(index)].changed)
            m_changedLabels.append(m_definitions[size_t(index)].label);
    }
    return m_changedLabels.isEmpty() ? nullptr : &m_changedLabels;
}
