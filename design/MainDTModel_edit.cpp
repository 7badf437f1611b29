// Validated editing of the design model, its consequences and the derived columns.
#include "design/MainDTModel.h"

#include "design/MainDTCommands.h"
#include "design/TreeItem.h"

#include <QPersistentModelIndex>
#include <QUndoStack>

#include <cmath>

namespace {
bool isTrue(const QString& s)
{
    return s == QLatin1String("true");
}

bool isTimeInstruction(const QString& type)
{
    return type == QLatin1String("SEND_MSG") || type == QLatin1String("SEND_APER")
        || type == QLatin1String("WAIT_TIME") || type == QLatin1String("WAIT_SYNC");
}

bool isIdInstruction(const QString& type)
{
    return type == QLatin1String("SEND_ID_DAT") || type == QLatin1String("SEND_ID_MSG");
}

/// Exact decimal value of a float slot time (0.4f → 0.4).
double exactMs(float t)
{
    return QString::number(double(t), 'g', 6).toDouble();
}

QString numberText(double v)
{
    return QString::number(v, 'g', 9);
}

const int kTimeMaxTSlots = 32767;
const int kPeriodMaxTSlots = 16383;
const int kMessageMaxBytes = 256;
} // namespace

// ---------------------------------------------------------------- setData

QStringList MainDTModel::allowedValues(int column)
{
    static const QStringList booleans = { QStringLiteral("true"), QStringLiteral("false") };
    switch (column) {
    case ColNetworkFrameType: return { "FIP", "WorldFIP", "SlowFIP" };
    case ColNetworkSpeed: return FipCalculator::getSpeedList();
    case ColNetworkBaOptimization: return { "Optimization 0", "Optimization 1", "Optimization 2", "Optimization 3" };
    case ColInstructionType: return instructionTypes() << QStringLiteral("SM_MPS");
    case ColVariableDirection: return { "IN", "OUT" };
    case ColVarOutMessageTransferType:
    case ColMsgChannelType: return { "Periodic", "Aperiodic" };
    case ColAperListMode: return { "Normal", "Urgent" };
    case ColMnemoType: return mnemonicTypes();
    case ColMnemoEndianness: return { "Big-Endian", "Little-Endian" };
    case ColArbiterEnabled:
    case ColVarOutRefreshmentEnabled:
    case ColVarOutDynamicRefreshmentEnabled:
    case ColVarOutAperiodicRequestEnabled:
    case ColVarOutMessageTransferEnabled:
    case ColVarMessageReceptionEnabled:
    case ColVarInPromptnessEnabled:
    case ColMsgAcknowledgmentEnabled:
    case ColMsgFileTransferEnabled: return booleans;
    default: return {};
    }
}

bool MainDTModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    TreeItem* item = getItem(index);
    const int column = index.column();
    const QVariant oldValue = item->data(column);
    if (oldValue == value)
        return false;
    if (column >= FirstStatusColumn)
        return setDataWithoutControl(index, value, role);

    QVariant newValue = value.canConvert<QString>() ? QVariant(value.toString()) : value;
    if (oldValue.toString() == newValue.toString() && oldValue.isValid())
        return false;
    QString refusal;
    if (!validateEdit(index, newValue, &refusal)) {
        emit statusBarMessage(1, refusal);
        return false;
    }
    if (column == ColObject) {
        const QString name = newValue.toString();
        newValue = createDefaultName(name, name, 0, index.parent());
    }
    m_undoStack->beginMacro(QStringLiteral("Edit - ") + item->data(ColObject).toString());
    m_undoStack->push(new MainDTEditCommand(index, newValue, role, this));
    applyEditConsequences(index, oldValue, newValue);
    m_undoStack->endMacro();
    return true;
}

double MainDTModel::snapToTSlot(double value, double low, double high, double t, quint16* n)
{
    const double clamped = qBound(low, value, high);
    const quint16 count = t > 0 ? quint16(qRound64(clamped / t) & 0xFFFF) : 0;
    if (n)
        *n = count;
    return count * t;
}

int MainDTModel::mnemonicOwnerLengthBits(const QModelIndex& mnemonic) const
{
    const QModelIndex rendering = mnemonic.parent();
    const QModelIndex owner = rendering.parent();
    if (classType(owner) == VARIABLE_OUT) {
        bool ok = false;
        const qlonglong bytes = parseNumber(text(owner, ColVarOutLength), &ok);
        return ok ? int(bytes) * 8 : 0;
    }
    return kMessageMaxBytes * 8;
}

bool MainDTModel::validateEdit(const QModelIndex& index, const QVariant& value, QString* refusal) const
{
    const int column = index.column();
    const quint8 kind = classType(index);
    const QString v = value.toString();

    // Times and periods against the station's slot time.
    const bool instructionTime = kind == INSTRUCTION
        && ((column == ColInstructionTime && isTimeInstruction(text(index, ColInstructionType)))
            || (column == ColInstructionSuspendDelay && text(index, ColInstructionType) == "SUSPEND"));
    const bool period = (kind == VARIABLE_OUT && column == ColVarOutRefreshmentPeriod)
        || (kind == VARIABLE_IN && column == ColVarInPromptnessPeriod);
    if (instructionTime || period) {
        const double t = exactMs(getStationTSlotMs(index));
        bool ok = false;
        const double x = v.trimmed().toDouble(&ok);
        double low = 0;
        double high = 0;
        if (instructionTime) {
            high = kTimeMaxTSlots * t;
        } else {
            const int switchColumn = kind == VARIABLE_OUT ? ColVarOutRefreshmentEnabled : ColVarInPromptnessEnabled;
            low = isTrue(text(index, switchColumn)) ? t : 0;
            high = kPeriodMaxTSlots * t;
        }
        if (ok && x >= low && x <= high)
            return true;
        const double nearest = snapToTSlot(ok ? x : low, low, high, t, nullptr);
        if (instructionTime) {
            const QString name = column == ColInstructionTime ? QStringLiteral("Time") : QStringLiteral("Delay");
            *refusal = QStringLiteral("Invalid ") + name + QStringLiteral(" entry. Station TSlot is ")
                + numberText(t) + QStringLiteral(" ms") + QStringLiteral(". Therefore '") + name
                + QStringLiteral("' parameter must be comprised between 0 and ") + numberText(high)
                + QStringLiteral(" ms") + QStringLiteral(". The nearest ") + name.toLower()
                + QStringLiteral(" found as TSlot multiple is ") + numberText(nearest) + QStringLiteral(" ms.");
        } else {
            *refusal = QStringLiteral("Invalid Period entry. Station TSlot is ") + numberText(t)
                + QStringLiteral(" ms. Therefore 'Period' parameter must be comprised between ") + numberText(low)
                + QStringLiteral(" ms and ") + numberText(high)
                + QStringLiteral(" ms. The nearest period found as TSlot multiple is ") + numberText(nearest)
                + QStringLiteral(" ms.");
        }
        return false;
    }

    // Enumerated columns take one of their texts only.
    const QStringList allowed = allowedValues(column);
    if (!allowed.isEmpty() && !allowed.contains(v)) {
        *refusal = QStringLiteral("Invalid '") + m_rootItem->data(column).toString() + QStringLiteral("' entry. '")
            + v.toHtmlEscaped() + QStringLiteral("' is not an allowed value.");
        return false;
    }
    if (column == ColInstructionId || column == ColVarInId || column == ColVarRefId || column == ColMsgSourceId
        || column == ColMsgDestinationId) {
        bool ok = false;
        if (parseID(v, &ok) == 0xFFFF || !ok) {
            *refusal = QStringLiteral("Invalid ID entry. The identifier must be a 16-bit value below 0xffff.");
            return false;
        }
        return true;
    }

    if (kind == VARIABLE_OUT && column == ColVarOutId) {
        bool ok = false;
        const quint16 id = parseID(v, &ok);
        if (!ok || id == 0xFFFF) {
            *refusal = QStringLiteral("Invalid ID entry. The identifier must be a 16-bit value below 0xffff.");
            return false;
        }
        if (!compareIDs(v, text(index, ColVarOutId))) {
            for (const QModelIndex& other : getVariableIndexes(id, VARIABLE_OUT)) {
                if (other.internalPointer() != index.internalPointer()) {
                    *refusal = QStringLiteral(
                        "Invalid ID entry. This Variable's ID is already used on <strong>Network</strong>.");
                    return false;
                }
            }
        }
        return true;
    }

    // Numbers that identify a node on the network stay unique and in range.
    struct UniqueNumber {
        quint8 kind;
        int column;
        int max;
        const char* message;
    };
    static const UniqueNumber uniques[] = {
        { SEGMENT, ColSegmentNumber, 255,
          "Invalid Number entry. This Segment's number is already used on <strong>Network</strong>." },
        { STATION, ColStationAddress, 255,
          "Invalid Address entry. This Station's address is already used on <strong>Network</strong>." },
        { BUS_ARBITER, ColArbiterPriorityLevel, 15,
          "Invalid Priority Level entry. This priority level is already used on <strong>Network</strong>." },
    };
    for (const UniqueNumber& u : uniques) {
        if (kind != u.kind || column != u.column)
            continue;
        bool ok = false;
        const qlonglong number = parseNumber(v, &ok);
        if (!ok || number < 0 || number > u.max) {
            *refusal = QStringLiteral("Invalid entry. The value must lie between 0 and %1.").arg(u.max);
            return false;
        }
        for (const QModelIndex& other : getClassTypeIndexes(ClassT(u.kind))) {
            bool okOther = false;
            if (other.internalPointer() != index.internalPointer()
                && parseNumber(text(other, u.column), &okOther) == number && okOther) {
                *refusal = QString::fromUtf8(u.message);
                return false;
            }
        }
        return true;
    }

    if (kind == VARIABLE_OUT && column == ColVarOutLength) {
        // The variable's mnemonics must still fit in the new length.
        bool ok = false;
        const qlonglong bytes = parseNumber(v, &ok);
        if (!ok || bytes < 1) {
            *refusal = QStringLiteral("Invalid 'Length' entry. The length is a number of bytes from 1.");
            return false;
        }
        for (int r = 0; r < rowCount(index.sibling(index.row(), 0)); ++r) {
            const QModelIndex rendering = this->index(r, 0, index.sibling(index.row(), 0));
            if (classType(rendering) != DATA_RENDERING)
                continue;
            for (int m = 0; m < rowCount(rendering); ++m) {
                const QModelIndex mnemonic = this->index(m, 0, rendering);
                const int end = text(mnemonic, ColMnemoStartBit).toInt()
                    + mnemonicTypeBits(text(mnemonic, ColMnemoType), text(mnemonic, ColMnemoByteSize).toInt());
                if (end > bytes * 8) {
                    *refusal = QStringLiteral("Invalid 'Length' entry. The <strong>Mnemonic</strong> '")
                        + text(mnemonic, ColObject)
                        + QStringLiteral("' would not fit in this <strong>Output Variable</strong>.");
                    return false;
                }
            }
        }
        return true;
    }

    if (kind == MNEMONIC && (column == ColMnemoStartBit || column == ColMnemoType || column == ColMnemoByteSize)) {
        const QString type = column == ColMnemoType ? v : text(index, ColMnemoType);
        bool ok = true;
        const int start = column == ColMnemoStartBit ? v.toInt(&ok) : text(index, ColMnemoStartBit).toInt();
        bool okSize = true;
        const int size = column == ColMnemoByteSize ? v.toInt(&okSize) : text(index, ColMnemoByteSize).toInt();
        const int bits = mnemonicTypeBits(type, qMax(0, size));
        const bool fits = ok && okSize && start >= 0 && size >= 0 && start + bits <= mnemonicOwnerLengthBits(index);
        if (fits)
            return true;
        if (column == ColMnemoStartBit)
            *refusal = QStringLiteral("Invalid 'Start Bit' entry. The definition of the <strong>Mnemonic</strong> "
                                      "bits is not compatible with the definition of the <strong>Output "
                                      "Variable</strong> length.");
        else if (column == ColMnemoType)
            *refusal = QStringLiteral("Cannot select this 'Type'. The 'Start Bit' of this <strong>Mnemonic</strong> "
                                      "doesn't allow to define such a large data.");
        else if (type != QLatin1String("Ascii") && type != QLatin1String("Hexa") && okSize && size >= 0)
            return true; // the size only counts for Ascii and Hexa
        else
            *refusal = QStringLiteral("Invalid 'Size' entry. Impossible to define such a large data for this "
                                      "<strong>Mnemonic</strong>.");
        return false;
    }
    return true;
}

void MainDTModel::pushEdit(const QModelIndex& cellIndex, const QVariant& value)
{
    if (!cellIndex.isValid())
        return;
    const QVariant current = getItem(cellIndex)->data(cellIndex.column());
    if (current == value && current.isValid() == value.isValid())
        return;
    if (cellIndex.column() >= FirstStatusColumn) {
        setDataWithoutControl(cellIndex, value);
        return;
    }
    m_undoStack->push(new MainDTEditCommand(cellIndex, value, Qt::EditRole, this));
}

void MainDTModel::pushEdit(const QModelIndex& index, int column, const QVariant& value)
{
    pushEdit(cell(index, column), value);
}

void MainDTModel::applyEditConsequences(const QModelIndex& index, const QVariant& oldValue, const QVariant& value)
{
    const QModelIndex node = index.sibling(index.row(), 0);
    const quint8 kind = classType(node);
    const QString oldText = oldValue.toString();
    const QString newText = value.toString();

    switch (index.column()) {
    case ColObject:
        if (kind == MESSAGE_OUT) {
            for (const QModelIndex& mirror : getClassTypeIndexes(MESSAGE_IN)) {
                bool same = true;
                for (int c = ColMsgSourceSegment; c <= ColMsgDestinationId; ++c)
                    same = same && text(mirror, c) == text(node, c);
                if (same)
                    pushEdit(mirror, ColObject, newText);
            }
        }
        break;
    case ColNetworkSpeed:
        updateSilenceTurnAroundTimes();
        updateAllTSlotTimes();
        updateAllTSlotMultipleForNetwork();
        updateAllStartElectionTimes();
        break;
    case ColNetworkSilenceTime:
    case ColNetworkTurnAroundTime: {
        // A time text chosen from the calculator's list sets its parameter.
        const QString speed = getNetworkSpeed();
        quint8 min = 0, max = 0;
        const bool silence = index.column() == ColNetworkSilenceTime;
        const QStringList list = silence ? m_calculator.getSilenceTimeList(speed)
                                         : m_calculator.getTurnAroundTimeList(speed);
        if (silence)
            m_calculator.getSilenceRange(speed, &min, &max);
        else
            m_calculator.getTurnAroundRange(speed, &min, &max);
        const int position = list.indexOf(newText);
        if (position >= 0)
            pushEdit(node, silence ? ColNetworkSilence : ColNetworkTurnAround,
                     QString::asprintf("0x%2.2x", unsigned(min + position)));
        updateSilenceTurnAroundTimes();
        updateAllStartElectionTimes();
        break;
    }
    case ColNetworkSilence:
    case ColNetworkTurnAround:
        updateSilenceTurnAroundTimes();
        updateAllStartElectionTimes();
        break;
    case ColNetworkBaMaxStationAddress:
    case ColNetworkBaMaxPriority:
    case ColNetworkBaOptimization:
        updateAllStartElectionTimes();
        break;
    case ColSegmentNumber:
        changeSegmentNumber(node, oldText, newText);
        break;
    case ColStationAddress:
        updateNetworkMaxValues();
        updateStationFilePath(node);
        break;
    case ColStationTSlotTime: {
        const int code = m_calculator.getTSlotTimeList(getNetworkSpeed()).indexOf(newText);
        if (code >= 0)
            pushEdit(node, ColStationTSlot, QString::number(code));
        updateAllTSlotTimes();
        updateAllTSlotMultipleForStation(node);
        break;
    }
    case ColStationTSlot:
        updateAllTSlotTimes();
        updateAllTSlotMultipleForStation(node);
        break;
    case ColArbiterPriorityLevel:
        updateNetworkMaxValues();
        updateAllStartElectionTimes();
        break;
    case ColInstructionType:
        if (isIdInstruction(newText) && text(node, ColInstructionId).isEmpty()) {
            const QList<quint16> ids = getVariableOutIDsUsed();
            pushEdit(node, ColInstructionId, idToStr(ids.isEmpty() ? 0 : ids.first()));
        } else if (isTimeInstruction(newText) && text(node, ColInstructionTime).isEmpty()) {
            pushEdit(node, ColInstructionTime, QStringLiteral("0"));
        } else if (newText == QLatin1String("SUSPEND")) {
            if (text(node, ColInstructionSuspendDelay).isEmpty())
                pushEdit(node, ColInstructionSuspendDelay, QStringLiteral("0"));
            if (text(node, ColInstructionSuspendEventNumber).isEmpty())
                pushEdit(node, ColInstructionSuspendEventNumber, QStringLiteral("0"));
        }
        updateTSlotMultiple(node, exactMs(getStationTSlotMs(node)));
        updateComposedName(node);
        break;
    case ColInstructionTime:
    case ColInstructionSuspendDelay:
    case ColInstructionSuspendEventNumber:
        updateTSlotMultiple(node, exactMs(getStationTSlotMs(node)));
        updateComposedName(node);
        break;
    case ColInstructionId:
        updateComposedName(node);
        break;
    case ColVariableDirection:
        changeVariableDirection(node, newText);
        break;
    case ColVarOutId:
        changeVariableOutId(node, oldText, newText);
        break;
    case ColVarInId:
    case ColVarRefId:
        updateComposedName(node);
        break;
    case ColVarOutRefreshmentEnabled:
    case ColVarOutRefreshmentPeriod:
    case ColVarInPromptnessEnabled:
    case ColVarInPromptnessPeriod:
        updateTSlotMultiple(node, exactMs(getStationTSlotMs(node)));
        break;
    case ColVarMessageReceptionEnabled: {
        if (isTrue(newText)) {
            const QModelIndex segment = getAncestor(node, SEGMENT);
            bool okSeg = false, okId = false;
            const quint8 seg = quint8(parseNumber(text(segment, ColSegmentNumber), &okSeg));
            const quint16 id = getOutId(node, &okId);
            if (okSeg && okId) {
                for (const QModelIndex& message : getMessageIndexes(seg, id, MESSAGE_OUT, true))
                    addInputMessages(message);
            }
        } else {
            QList<QPersistentModelIndex> mirrors;
            for (int r = 0; r < rowCount(node); ++r) {
                const QModelIndex child = index.model()->index(r, 0, node);
                if (classType(child) == MESSAGE_IN)
                    mirrors.append(child);
            }
            for (const QPersistentModelIndex& m : mirrors)
                if (m.isValid())
                    removeNodeWithDependants(m);
        }
        break;
    }
    case ColVarOutMessageTransferEnabled:
    case ColVarOutMessageTransferType:
    case ColVarOutMessageTransferChannel: {
        // The channel emitted before the edit, from the old value of the edited column.
        const bool oldEnabled = isTrue(index.column() == ColVarOutMessageTransferEnabled
                                           ? oldText : text(node, ColVarOutMessageTransferEnabled));
        const QString oldType = index.column() == ColVarOutMessageTransferType
            ? oldText : text(node, ColVarOutMessageTransferType);
        const QString oldChannelText = index.column() == ColVarOutMessageTransferChannel
            ? oldText : text(node, ColVarOutMessageTransferChannel);
        if (!oldEnabled)
            break;
        const quint8 oldChannel = oldType == QLatin1String("Aperiodic")
            ? quint8(0xFF) : quint8(parseNumber(oldChannelText));
        quint8 newChannel = 0;
        const bool stillEmits = emitsChannel(node, &newChannel) && newChannel == oldChannel;
        if (stillEmits)
            break;
        // Another variable of the station may still emit on the same channel.
        const QModelIndex station = getAncestor(node, STATION);
        for (const QModelIndex& v : getClassTypeIndexes(VARIABLE_OUT, station)) {
            quint8 c = 0;
            if (v.internalPointer() != node.internalPointer() && emitsChannel(v, &c) && c == oldChannel)
                return;
        }
        removeChannelEmissionDependancies(station, oldChannel);
        break;
    }
    case ColMsgSourceSegment:
    case ColMsgSourceId:
    case ColMsgDestinationSegment:
    case ColMsgDestinationId:
        if (kind == MESSAGE_OUT) {
            QString a[4];
            for (int c = 0; c < 4; ++c)
                a[c] = (ColMsgSourceSegment + c == index.column()) ? oldText : text(node, ColMsgSourceSegment + c);
            removeMirrors(a[0], a[1], a[2], a[3]);
            addInputMessages(node);
        }
        break;
    case ColMnemoType:
    case ColMnemoStartBit:
    case ColMnemoByteSize:
        updateMnemonicStopBit(node);
        break;
    default:
        break;
    }
}

bool MainDTModel::emitsChannel(const QModelIndex& variable, quint8* channel) const
{
    if (classType(variable) != VARIABLE_OUT || !isTrue(text(variable, ColVarOutMessageTransferEnabled)))
        return false;
    if (text(variable, ColVarOutMessageTransferType) == QLatin1String("Aperiodic"))
        *channel = 0xFF;
    else
        *channel = quint8(parseNumber(text(variable, ColVarOutMessageTransferChannel)));
    return true;
}

// ---------------------------------------------------------------- composed names

QString MainDTModel::composedName(const QModelIndex& index) const
{
    const quint8 kind = classType(index);
    if (kind == INSTRUCTION) {
        const QString type = text(index, ColInstructionType);
        QString detail;
        if (isIdInstruction(type))
            detail = text(index, ColInstructionId);
        else if (isTimeInstruction(type))
            detail = text(index, ColInstructionTime) + QStringLiteral(" ms");
        else if (type == QLatin1String("SUSPEND"))
            detail = QStringLiteral("n° ") + text(index, ColInstructionSuspendEventNumber) + QStringLiteral(", ")
                + text(index, ColInstructionSuspendDelay) + QStringLiteral(" ms");
        return type + QStringLiteral(" (") + detail + QStringLiteral(")");
    }
    int column = -1;
    if (kind == VARIABLE_OUT)
        column = ColVarOutId;
    else if (kind == VARIABLE_IN)
        column = ColVarInId;
    else if (kind == VARIABLE_REF)
        column = ColVarRefId;
    if (column < 0)
        return text(index, ColObject);
    bool ok = false;
    const quint16 id = parseID(text(index, column), &ok);
    return QStringLiteral("ID (") + (ok ? idToStr(id) : text(index, column)) + QStringLiteral(")");
}

void MainDTModel::updateComposedName(const QModelIndex& index)
{
    const quint8 kind = classType(index);
    if (kind != INSTRUCTION && kind != VARIABLE_OUT && kind != VARIABLE_IN && kind != VARIABLE_REF)
        return;
    pushEdit(index, ColObject, composedName(index));
}

// ---------------------------------------------------------------- consequences

void MainDTModel::changeVariableDirection(const QModelIndex& variable, const QString& direction)
{
    const quint8 kind = classType(variable);
    if (direction == QLatin1String("IN") && kind == VARIABLE_OUT) {
        const QPersistentModelIndex node(variable);
        const QString id = text(variable, ColVarOutId);
        removeVariableIdxDependancies(node);
        pushEdit(node, ColClassType, QString::number(VARIABLE_IN));
        pushEdit(node, ColClass, getClassTypeStr(VARIABLE_IN));
        if (text(node, ColVarInId).isEmpty())
            pushEdit(node, ColVarInId, id);
        for (int c = ColVarOutId; c <= ColVarOutMessageTransferChannel; ++c)
            pushEdit(node, c, QVariant());
        if (text(node, ColVarInPromptnessEnabled).isEmpty())
            pushEdit(node, ColVarInPromptnessEnabled, QStringLiteral("false"));
        if (text(node, ColVarInPromptnessPeriod).isEmpty())
            pushEdit(node, ColVarInPromptnessPeriod, QStringLiteral("5"));
        updateTSlotMultiple(node, exactMs(getStationTSlotMs(node)));
        updateComposedName(node);
        updateInternalData();
    } else if (direction == QLatin1String("OUT") && kind == VARIABLE_IN) {
        bool ok = false;
        const quint16 id = getFirstFreeVariableOutID(&ok);
        pushEdit(variable, ColClassType, QString::number(VARIABLE_OUT));
        pushEdit(variable, ColClass, getClassTypeStr(VARIABLE_OUT));
        pushEdit(variable, ColVarOutPdu, QStringLiteral("MPS"));
        pushEdit(variable, ColVarOutId, idToStr(id));
        const QList<QPair<int, QString>> defaults = {
            { ColVarOutLength, "1" },          { ColVarOutRefreshmentEnabled, "true" },
            { ColVarOutDynamicRefreshmentEnabled, "false" }, { ColVarOutRefreshmentPeriod, "5" },
            { ColVarOutAperiodicRequestEnabled, "false" },   { ColVarOutMessageTransferEnabled, "false" },
            { ColVarOutMessageTransferType, "Aperiodic" },   { ColVarOutMessageTransferChannel, "0" } };
        for (const auto& d : defaults) {
            if (text(variable, d.first).isEmpty())
                pushEdit(variable, d.first, d.second);
        }
        for (int c = ColVarInId; c <= ColVarInPromptnessPeriodPar; ++c)
            pushEdit(variable, c, QVariant());
        updateTSlotMultiple(variable, exactMs(getStationTSlotMs(variable)));
        updateComposedName(variable);
        updateInternalData();
    }
}

void MainDTModel::changeVariableOutId(const QModelIndex& variable, const QString& oldId, const QString& newId)
{
    bool okOld = false, okNew = false;
    const quint16 oldValue = parseID(oldId, &okOld);
    const quint16 newValue = parseID(newId, &okNew);
    if (okOld && okNew && oldValue != newValue) {
        const QString newText = idToStr(newValue);
        for (const QModelIndex& v : getVariableIndexes(oldValue, VARIABLE_IN)) {
            pushEdit(v, ColVarInId, newText);
            updateComposedName(v);
        }
        for (const QModelIndex& v : getVariableIndexes(oldValue, VARIABLE_REF)) {
            pushEdit(v, ColVarRefId, newText);
            updateComposedName(v);
        }
        for (const QModelIndex& m : getMessageIndexes(QModelIndex())) {
            if (compareIDs(text(m, ColMsgSourceId), oldId))
                pushEdit(m, ColMsgSourceId, newText);
            if (compareIDs(text(m, ColMsgDestinationId), oldId))
                pushEdit(m, ColMsgDestinationId, newText);
        }
        for (const QModelIndex& i : getInstructionIndexes(oldValue)) {
            pushEdit(i, ColInstructionId, newText);
            updateComposedName(i);
        }
    }
    updateComposedName(variable);
    updateInternalData();
}

void MainDTModel::changeSegmentNumber(const QModelIndex&, const QString& oldNumber, const QString& newNumber)
{
    bool ok = false;
    const qlonglong oldValue = parseNumber(oldNumber, &ok);
    if (ok) {
        for (const QModelIndex& m : getMessageIndexes(QModelIndex())) {
            bool okS = false, okD = false;
            if (parseNumber(text(m, ColMsgSourceSegment), &okS) == oldValue && okS)
                pushEdit(m, ColMsgSourceSegment, newNumber);
            if (parseNumber(text(m, ColMsgDestinationSegment), &okD) == oldValue && okD)
                pushEdit(m, ColMsgDestinationSegment, newNumber);
        }
    }
    updateInternalData();
}

void MainDTModel::updateMnemonicStopBit(const QModelIndex& mnemonic)
{
    const int start = text(mnemonic, ColMnemoStartBit).toInt();
    const int bits = mnemonicTypeBits(text(mnemonic, ColMnemoType), text(mnemonic, ColMnemoByteSize).toInt());
    pushEdit(mnemonic, ColMnemoStopBit, QString::number(start + qMax(1, bits) - 1));
}

void MainDTModel::updateStationFilePath(const QModelIndex& station)
{
    const QString path = savePath();
    if (path.isEmpty() || classType(station) != STATION)
        return;
    setDataWithoutControl(cell(station, ColFilePath),
                          path + QStringLiteral("/Station") + text(station, ColStationAddress) + QStringLiteral(".xml"));
}

void MainDTModel::updateAllStationFilePaths()
{
    for (const QModelIndex& station : getStationIndexes())
        updateStationFilePath(station);
}

void MainDTModel::refreshLayout()
{
    emit layoutAboutToBeChanged();
    emit layoutChanged();
}

void MainDTModel::updateNetworkMaxValues()
{
    const QModelIndex network = getNetworkIdx();
    if (!network.isValid())
        return;
    const QString address = QString::number(getMaxStationAddress());
    const QString priority = QString::number(getMaxPriorityLevel());
    const bool changed = text(network, ColNetworkBaMaxStationAddress) != address
        || text(network, ColNetworkBaMaxPriority) != priority;
    pushEdit(network, ColNetworkBaMaxStationAddress, address);
    pushEdit(network, ColNetworkBaMaxPriority, priority);
    if (changed)
        updateAllStartElectionTimes();
}

// ---------------------------------------------------------------- derived timing

void MainDTModel::updateSilenceTurnAroundTimes()
{
    const QModelIndex network = getNetworkIdx();
    if (!network.isValid())
        return;
    const QString speed = text(network, ColNetworkSpeed);
    quint8 min = 0, max = 0;
    if (m_calculator.getSilenceRange(speed, &min, &max)) {
        bool ok = false;
        qlonglong code = parseNumber(text(network, ColNetworkSilence), &ok);
        if (!ok || code < min || code > max)
            code = min;
        pushEdit(network, ColNetworkSilence, QString::asprintf("0x%2.2x", unsigned(code)));
        pushEdit(network, ColNetworkSilenceTime, m_calculator.getSilenceTimeStr(speed, quint8(code)));
    }
    if (m_calculator.getTurnAroundRange(speed, &min, &max)) {
        bool ok = false;
        qlonglong code = parseNumber(text(network, ColNetworkTurnAround), &ok);
        if (!ok || code < min || code > max)
            code = min;
        pushEdit(network, ColNetworkTurnAround, QString::asprintf("0x%2.2x", unsigned(code)));
        pushEdit(network, ColNetworkTurnAroundTime, m_calculator.getTurnAroundTimeStr(speed, quint8(code)));
    }
}

void MainDTModel::updateAllTSlotTimes()
{
    const QString speed = getNetworkSpeed();
    for (const QModelIndex& station : getStationIndexes()) {
        bool ok = false;
        const qlonglong code = parseNumber(text(station, ColStationTSlot), &ok);
        pushEdit(station, ColStationTSlotTime, m_calculator.getTSlotTimeStr(speed, quint8(ok ? code : 0)));
    }
}

void MainDTModel::updateAllTSlotMultipleForNetwork()
{
    for (const QModelIndex& station : getStationIndexes())
        updateAllTSlotMultipleForStation(station);
}

void MainDTModel::updateAllTSlotMultipleForStation(const QModelIndex& station)
{
    if (classType(station) != STATION)
        return;
    const double t = exactMs(getStationTSlotMs(station));
    collect(station.sibling(station.row(), 0), [&](const QModelIndex& node) { updateTSlotMultiple(node, t); });
}

void MainDTModel::updateTSlotMultiple(const QModelIndex& node, double t)
{
    int valueColumn = -1, parColumn = -1;
    double low = 0, high = 0;
    switch (classType(node)) {
    case VARIABLE_OUT:
        valueColumn = ColVarOutRefreshmentPeriod;
        parColumn = ColVarOutRefreshmentPeriodPar;
        low = isTrue(text(node, ColVarOutRefreshmentEnabled)) ? t : 0;
        high = kPeriodMaxTSlots * t;
        break;
    case VARIABLE_IN:
        valueColumn = ColVarInPromptnessPeriod;
        parColumn = ColVarInPromptnessPeriodPar;
        low = isTrue(text(node, ColVarInPromptnessEnabled)) ? t : 0;
        high = kPeriodMaxTSlots * t;
        break;
    case INSTRUCTION: {
        const QString type = text(node, ColInstructionType);
        if (type == QLatin1String("SUSPEND")) {
            valueColumn = ColInstructionSuspendDelay;
            parColumn = ColInstructionSuspendDelayPar;
            pushEdit(node, ColInstructionSuspendEvent,
                     QString::asprintf("0x%2.2x", unsigned(parseNumber(text(node, ColInstructionSuspendEventNumber)))));
        } else if (isTimeInstruction(type)) {
            valueColumn = ColInstructionTime;
            parColumn = ColInstructionTimePar;
        }
        high = kTimeMaxTSlots * t;
        break;
    }
    default:
        break;
    }
    if (valueColumn < 0 || text(node, valueColumn).isEmpty())
        return;
    quint16 n = 0;
    const double snapped = snapToTSlot(text(node, valueColumn).toDouble(), low, high, t, &n);
    const QString snappedText = numberText(snapped);
    if (text(node, valueColumn).toDouble() != snapped)
        pushEdit(node, valueColumn, snappedText);
    pushEdit(node, parColumn, QString::asprintf("0x%4.4x", unsigned(n)));
    if (classType(node) == INSTRUCTION)
        updateComposedName(node);
}

void MainDTModel::electionStartCodes(quint8 priority, quint16* election, quint16* start, float* silenceUs) const
{
    // The election and start times are whole numbers of silence times (this implementation's rule):
    // a standard election waits for every station address to be polled once and then yields by
    // priority; "Optimization 1" elects by priority alone, "Optimization 2" starts right after
    // the election.
    const QModelIndex network = getNetworkIdx();
    const QString speed = text(network, ColNetworkSpeed);
    const quint8 silenceCode = quint8(parseNumber(text(network, ColNetworkSilence)));
    const int maxAddress = int(parseNumber(text(network, ColNetworkBaMaxStationAddress)));
    const int maxPriority = int(parseNumber(text(network, ColNetworkBaMaxPriority)));
    const QString optimization = text(network, ColNetworkBaOptimization);
    int e = maxAddress + 2 + 2 * priority;
    int s = e + maxPriority + 1;
    if (optimization == QLatin1String("Optimization 1")) {
        e = 2 + 2 * priority;
        s = e + maxPriority + 1;
    } else if (optimization == QLatin1String("Optimization 2")) {
        s = e;
    }
    *election = quint16(e);
    *start = quint16(s);
    *silenceUs = m_calculator.getSilenceTime(speed, silenceCode);
}

void MainDTModel::updateAllStartElectionTimes()
{
    for (const QModelIndex& arbiter : getClassTypeIndexes(BUS_ARBITER)) {
        quint16 e = 0, s = 0;
        float silence = 0;
        electionStartCodes(quint8(parseNumber(text(arbiter, ColArbiterPriorityLevel))), &e, &s, &silence);
        pushEdit(arbiter, ColArbiterElectionTime, FipCalculator::floatUsToString(e * silence));
        pushEdit(arbiter, ColArbiterStartTime, FipCalculator::floatUsToString(s * silence));
        pushEdit(arbiter, ColArbiterElection, QString::asprintf("0x%4.4x", unsigned(e)));
        pushEdit(arbiter, ColArbiterStart, QString::asprintf("0x%4.4x", unsigned(s)));
    }
}

// ---------------------------------------------------------------- Input Message mirrors

void MainDTModel::addInputMessages(const QModelIndex& outputMessage)
{
    if (classType(outputMessage) != MESSAGE_OUT)
        return;
    const QPersistentModelIndex message(outputMessage.sibling(outputMessage.row(), 0));
    QString address[4];
    for (int c = 0; c < 4; ++c)
        address[c] = text(message, ColMsgSourceSegment + c);
    bool okSeg = false, okId = false;
    const qlonglong dstSeg = parseNumber(address[2], &okSeg);
    const quint16 dstId = parseID(address[3], &okId);
    if (!okSeg || !okId)
        return;
    QList<QPersistentModelIndex> targets;
    for (const QModelIndex& v : getVariableIndexes(QModelIndex())) {
        bool ok = false;
        if (getOutId(v, &ok) != dstId || !ok || !isTrue(text(v, ColVarMessageReceptionEnabled)))
            continue;
        bool okS = false;
        if (parseNumber(text(getAncestor(v, SEGMENT), ColSegmentNumber), &okS) != dstSeg || !okS)
            continue;
        bool present = false;
        for (int r = 0; r < rowCount(v) && !present; ++r) {
            const QModelIndex child = index(r, 0, v);
            if (classType(child) != MESSAGE_IN)
                continue;
            present = true;
            for (int c = 0; c < 4; ++c)
                present = present && text(child, ColMsgSourceSegment + c) == address[c];
        }
        if (!present)
            targets.append(v);
    }
    for (const QPersistentModelIndex& v : targets) {
        QList<QPair<int, QVariant>> values = {
            { ColObject, text(message, ColObject) },
            { ColClass, getClassTypeStr(MESSAGE_IN) },
            { ColClassType, QString::number(MESSAGE_IN) },
            { ColMsgDirection, QStringLiteral("IN") } };
        for (int c = 0; c < 4; ++c)
            values.append({ ColMsgSourceSegment + c, address[c] });
        values.append({ ColMsgFileTransferEnabled, text(message, ColMsgFileTransferEnabled) });
        addNode(v, -1, values);
    }
}

void MainDTModel::removeMirrors(const QString& srcSeg, const QString& srcId, const QString& dstSeg,
                                const QString& dstId)
{
    QList<QPersistentModelIndex> mirrors;
    for (const QModelIndex& m : getClassTypeIndexes(MESSAGE_IN)) {
        if (text(m, ColMsgSourceSegment) == srcSeg && text(m, ColMsgSourceId) == srcId
            && text(m, ColMsgDestinationSegment) == dstSeg && text(m, ColMsgDestinationId) == dstId)
            mirrors.append(m);
    }
    for (const QPersistentModelIndex& m : mirrors) {
        if (m.isValid())
            m_undoStack->push(new MainDTRemoveCommand(m, 1, this));
    }
}

void MainDTModel::removeInputMessages(const QModelIndex& outputMessage)
{
    if (classType(outputMessage) != MESSAGE_OUT)
        return;
    // Another Output Message with the same addresses keeps the mirrors.
    const QModelIndex self = outputMessage.sibling(outputMessage.row(), 0);
    for (const QModelIndex& other : getClassTypeIndexes(MESSAGE_OUT)) {
        if (other.internalPointer() == self.internalPointer())
            continue;
        bool same = true;
        for (int c = ColMsgSourceSegment; c <= ColMsgDestinationId; ++c)
            same = same && text(other, c) == text(self, c);
        if (same)
            return;
    }
    removeMirrors(text(self, ColMsgSourceSegment), text(self, ColMsgSourceId), text(self, ColMsgDestinationSegment),
                  text(self, ColMsgDestinationId));
}

void MainDTModel::updateInputMessages(const QModelIndex& oldMessage, const QModelIndex& newMessage)
{
    const QPersistentModelIndex target(newMessage);
    removeInputMessages(oldMessage);
    if (target.isValid())
        addInputMessages(target);
}

// ---------------------------------------------------------------- dependants

void MainDTModel::removeIdxChilds(const QModelIndex& index)
{
    const QModelIndex node = index.sibling(index.row(), 0);
    QList<QPersistentModelIndex> children;
    for (int r = 0; r < rowCount(node); ++r)
        children.append(this->index(r, 0, node));
    for (const QPersistentModelIndex& c : children) {
        if (c.isValid())
            removeNodeWithDependants(c);
    }
}

void MainDTModel::removeVariableIdxDependancies(const QModelIndex& index)
{
    const QPersistentModelIndex variable(index.sibling(index.row(), 0));
    // What only an Output Variable may own.
    QList<QPersistentModelIndex> owned;
    for (int r = 0; r < rowCount(variable); ++r) {
        const QModelIndex child = this->index(r, 0, variable);
        const quint8 k = classType(child);
        if (k == APERIODIC_LIST || k == DATA_RENDERING)
            owned.append(child);
    }
    for (const QPersistentModelIndex& c : owned) {
        if (c.isValid())
            removeNodeWithDependants(c);
    }
    // The channel it emitted, unless another variable of the station emits it too.
    quint8 channel = 0;
    if (emitsChannel(variable, &channel)) {
        const QModelIndex station = getAncestor(variable, STATION);
        bool shared = false;
        for (const QModelIndex& v : getClassTypeIndexes(VARIABLE_OUT, station)) {
            quint8 c = 0;
            shared = shared || (v.internalPointer() != variable.internalPointer() && emitsChannel(v, &c) && c == channel);
        }
        if (!shared)
            removeChannelEmissionDependancies(station, channel);
    }
    // Reference Variables naming an identifier that nobody produces any more.
    bool ok = false;
    const quint16 id = parseID(text(variable, ColVarOutId), &ok);
    if (ok && getVariableIndexes(id, VARIABLE_OUT).size() <= 1) {
        QList<QPersistentModelIndex> refs;
        for (const QModelIndex& r : getVariableIndexes(id, VARIABLE_REF))
            refs.append(r);
        for (const QPersistentModelIndex& r : refs) {
            if (r.isValid())
                m_undoStack->push(new MainDTRemoveCommand(r, 1, this));
        }
    }
}

void MainDTModel::removeChannelEmissionDependancies(const QModelIndex& index, quint8 channel)
{
    QList<QPersistentModelIndex> messages;
    for (const QModelIndex& m : getOutputMessageIndexes(index, channel))
        messages.append(m);
    for (const QPersistentModelIndex& m : messages) {
        if (m.isValid())
            removeNodeWithDependants(m);
    }
}

void MainDTModel::removeNodeWithDependants(const QModelIndex& index)
{
    const QPersistentModelIndex target(index.sibling(index.row(), 0));
    // Mirrors of the Output Messages of the subtree.
    QList<QPersistentModelIndex> outputMessages;
    if (classType(target) == MESSAGE_OUT)
        outputMessages.append(target);
    for (const QModelIndex& m : getClassTypeIndexes(MESSAGE_OUT, target))
        outputMessages.append(m);
    for (const QPersistentModelIndex& m : outputMessages) {
        if (m.isValid())
            removeInputMessages(m);
    }
    // Channel users and references of the Output Variables of the subtree.
    QList<QPersistentModelIndex> variables;
    if (classType(target) == VARIABLE_OUT)
        variables.append(target);
    for (const QModelIndex& v : getClassTypeIndexes(VARIABLE_OUT, target))
        variables.append(v);
    for (const QPersistentModelIndex& v : variables) {
        if (v.isValid())
            removeVariableIdxDependancies(v);
    }
    if (target.isValid())
        m_undoStack->push(new MainDTRemoveCommand(target, 1, this));
}
