// Queries of the design model: lookups, values in use, free-value sets, names.
#include "design/MainDTModel.h"

#include "design/TreeItem.h"

#include <algorithm>
#include <cstring>

namespace {
bool isTrue(const QString& s)
{
    return s == QLatin1String("true");
}
} // namespace

void MainDTModel::collect(const QModelIndex& parent, const std::function<void(const QModelIndex&)>& visit) const
{
    const int rows = rowCount(parent);
    for (int r = 0; r < rows; ++r) {
        const QModelIndex child = index(r, 0, parent);
        visit(child);
        collect(child, visit);
    }
}

QModelIndex MainDTModel::getNetworkIdx() const
{
    for (int r = 0; r < rowCount(); ++r) {
        const QModelIndex i = index(r, 0);
        if (classType(i) == NETWORK)
            return i;
    }
    return QModelIndex();
}

QString MainDTModel::getNetworkSpeed() const
{
    return text(getNetworkIdx(), ColNetworkSpeed);
}

QModelIndexList MainDTModel::getClassTypeIndexes(ClassT kind, const QModelIndex& parent) const
{
    QModelIndexList list;
    collect(parent.isValid() ? parent.sibling(parent.row(), 0) : parent, [&](const QModelIndex& i) {
        if (classType(i) == kind)
            list.append(i);
    });
    return list;
}

QModelIndexList MainDTModel::getStationIndexes() const
{
    return getClassTypeIndexes(STATION);
}

QModelIndexList MainDTModel::getStationIndexes(const QModelIndex& parent) const
{
    return getClassTypeIndexes(STATION, parent);
}

QModelIndex MainDTModel::getSegmentIdx(quint8 number) const
{
    for (const QModelIndex& i : getClassTypeIndexes(SEGMENT)) {
        bool ok = false;
        if (uint(parseNumber(text(i, ColSegmentNumber), &ok)) == number && ok)
            return i;
    }
    return QModelIndex();
}

QModelIndex MainDTModel::getStationIdx(quint8 address) const
{
    for (const QModelIndex& i : getStationIndexes()) {
        bool ok = false;
        if (uint(parseNumber(text(i, ColStationAddress), &ok)) == address && ok)
            return i;
    }
    return QModelIndex();
}

QModelIndex MainDTModel::getAncestor(const QModelIndex& index, ClassT kind) const
{
    for (QModelIndex i = index.isValid() ? index.sibling(index.row(), 0) : index; i.isValid(); i = i.parent()) {
        if (classType(i) == kind)
            return i;
    }
    return QModelIndex();
}

QModelIndex MainDTModel::getArbiter(const QModelIndex& station) const
{
    if (!station.isValid())
        return QModelIndex();
    const QModelIndex s = station.sibling(station.row(), 0);
    for (int r = 0; r < rowCount(s); ++r) {
        const QModelIndex child = index(r, 0, s);
        if (classType(child) == BUS_ARBITER)
            return child;
    }
    return QModelIndex();
}

bool MainDTModel::hasArbiter(const QModelIndex& station) const
{
    return getArbiter(station).isValid();
}

QModelIndexList MainDTModel::getVariableIndexes(quint16 id, ClassT kind) const
{
    const int column = kind == VARIABLE_OUT ? ColVarOutId : kind == VARIABLE_IN ? ColVarInId : ColVarRefId;
    QModelIndexList list;
    for (const QModelIndex& i : getClassTypeIndexes(kind)) {
        bool ok = false;
        if (parseID(text(i, column), &ok) == id && ok)
            list.append(i);
    }
    return list;
}

QModelIndexList MainDTModel::getVariableIndexes(const QModelIndex& parent) const
{
    QModelIndexList list;
    collect(parent.isValid() ? parent.sibling(parent.row(), 0) : parent, [&](const QModelIndex& i) {
        const quint8 k = classType(i);
        if (k == VARIABLE_OUT || k == VARIABLE_IN)
            list.append(i);
    });
    return list;
}

QModelIndexList MainDTModel::getVariableIndexesUsingAperiodicChannel(const QModelIndex& index) const
{
    QModelIndexList list;
    const QModelIndex station = getAncestor(index, STATION);
    if (!station.isValid())
        return list;
    for (const QModelIndex& v : getClassTypeIndexes(VARIABLE_OUT, station)) {
        if (isTrue(text(v, ColVarOutMessageTransferEnabled))
            && text(v, ColVarOutMessageTransferType) == QLatin1String("Aperiodic"))
            list.append(v);
    }
    return list;
}

QModelIndexList MainDTModel::getMessageIndexes(const QModelIndex& parent) const
{
    QModelIndexList list;
    collect(parent.isValid() ? parent.sibling(parent.row(), 0) : parent, [&](const QModelIndex& i) {
        const quint8 k = classType(i);
        if (k == MESSAGE_OUT || k == MESSAGE_IN)
            list.append(i);
    });
    return list;
}

QModelIndexList MainDTModel::getMessageIndexes(quint8 segment, quint16 id, ClassT kind, bool destination) const
{
    QModelIndexList list;
    const int segCol = destination ? ColMsgDestinationSegment : ColMsgSourceSegment;
    const int idCol = destination ? ColMsgDestinationId : ColMsgSourceId;
    for (const QModelIndex& m : getClassTypeIndexes(kind)) {
        bool okS = false, okI = false;
        const uint s = uint(parseNumber(text(m, segCol), &okS));
        const quint16 i = parseID(text(m, idCol), &okI);
        if (okS && okI && s == segment && i == id)
            list.append(m);
    }
    return list;
}

QModelIndexList MainDTModel::getOutputMessageIndexes(const QModelIndex& index, quint8 channel) const
{
    QModelIndexList list;
    const QModelIndex station = getAncestor(index, STATION);
    if (!station.isValid())
        return list;
    for (const QModelIndex& m : getClassTypeIndexes(MESSAGE_OUT, station)) {
        const bool aperiodic = text(m, ColMsgChannelType) == QLatin1String("Aperiodic");
        if (channel == 0xFF) {
            if (aperiodic)
                list.append(m);
        } else if (!aperiodic) {
            bool ok = false;
            if (uint(parseNumber(text(m, ColMsgChannelNumber), &ok)) == channel && ok)
                list.append(m);
        }
    }
    return list;
}

QModelIndexList MainDTModel::getInstructionIndexes(quint16 id) const
{
    QModelIndexList list;
    for (const QModelIndex& i : getClassTypeIndexes(INSTRUCTION)) {
        const QString type = text(i, ColInstructionType);
        if (type != QLatin1String("SEND_ID_DAT") && type != QLatin1String("SEND_ID_MSG"))
            continue;
        bool ok = false;
        if (parseID(text(i, ColInstructionId), &ok) == id && ok)
            list.append(i);
    }
    return list;
}

QModelIndexList MainDTModel::getScanTableIndexes(const QModelIndex& arbiter) const
{
    QModelIndexList list;
    if (!arbiter.isValid())
        return list;
    const QModelIndex a = arbiter.sibling(arbiter.row(), 0);
    for (int r = 0; r < rowCount(a); ++r) {
        const QModelIndex child = index(r, 0, a);
        if (classType(child) == SCAN_TABLE)
            list.append(child);
    }
    return list;
}

quint16 MainDTModel::getOutId(const QModelIndex& index, bool* ok) const
{
    int column = -1;
    switch (classType(index)) {
    case VARIABLE_OUT: column = ColVarOutId; break;
    case VARIABLE_IN: column = ColVarInId; break;
    case VARIABLE_REF: column = ColVarRefId; break;
    case MESSAGE_OUT:
    case MESSAGE_IN: column = ColMsgSourceId; break;
    default: break;
    }
    if (column < 0) {
        if (ok)
            *ok = false;
        return 0;
    }
    return parseID(text(index, column), ok);
}

QModelIndexList MainDTModel::getAllIndexes() const
{
    QModelIndexList list;
    collect(QModelIndex(), [&](const QModelIndex& i) { list.append(i); });
    return list;
}

namespace {
template <typename T>
QList<T> sortedUnique(QList<T> list)
{
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
    return list;
}
} // namespace

QList<quint8> MainDTModel::getStationAddressesUsed() const
{
    QList<quint8> list;
    for (const QModelIndex& i : getStationIndexes()) {
        bool ok = false;
        const uint a = uint(parseNumber(text(i, ColStationAddress), &ok));
        if (ok && a <= 255)
            list.append(quint8(a));
    }
    return sortedUnique(list);
}

QList<quint8> MainDTModel::getSegmentNumbersUsed() const
{
    QList<quint8> list;
    for (const QModelIndex& i : getClassTypeIndexes(SEGMENT)) {
        bool ok = false;
        const uint n = uint(parseNumber(text(i, ColSegmentNumber), &ok));
        if (ok && n <= 255)
            list.append(quint8(n));
    }
    return sortedUnique(list);
}

QList<quint8> MainDTModel::getPriorityLevelsUsed() const
{
    QList<quint8> list;
    for (const QModelIndex& i : getClassTypeIndexes(BUS_ARBITER)) {
        bool ok = false;
        const uint p = uint(parseNumber(text(i, ColArbiterPriorityLevel), &ok));
        if (ok && p <= 15)
            list.append(quint8(p));
    }
    return sortedUnique(list);
}

QList<quint16> MainDTModel::getVariableOutIDsUsed() const
{
    QList<quint16> list;
    for (const QModelIndex& i : getClassTypeIndexes(VARIABLE_OUT)) {
        bool ok = false;
        const quint16 id = parseID(text(i, ColVarOutId), &ok);
        if (ok)
            list.append(id);
    }
    return sortedUnique(list);
}

QList<quint16> MainDTModel::getVariableOutIDsUsedInSegment(quint8 segment) const
{
    return getVariableIDsUsedInSegment(segment, false);
}

QList<quint16> MainDTModel::getVariableIDsUsedInSegment(quint8 segment, bool withInputs) const
{
    QList<quint16> list;
    const QModelIndex seg = getSegmentIdx(segment);
    if (!seg.isValid())
        return list;
    for (const QModelIndex& v : getVariableIndexes(seg)) {
        const quint8 k = classType(v);
        if (k == VARIABLE_IN && !withInputs)
            continue;
        bool ok = false;
        const quint16 id = getOutId(v, &ok);
        if (ok)
            list.append(id);
    }
    return sortedUnique(list);
}

QList<quint8> MainDTModel::getPeriodicChannelsUsedInStation(quint8 address) const
{
    QList<quint8> list;
    const QModelIndex station = getStationIdx(address);
    if (!station.isValid())
        return list;
    for (const QModelIndex& v : getClassTypeIndexes(VARIABLE_OUT, station)) {
        if (!isTrue(text(v, ColVarOutMessageTransferEnabled))
            || text(v, ColVarOutMessageTransferType) != QLatin1String("Periodic"))
            continue;
        bool ok = false;
        const qlonglong c = parseNumber(text(v, ColVarOutMessageTransferChannel), &ok);
        if (ok && c >= 0 && c <= 255)
            list.append(quint8(c));
    }
    return sortedUnique(list);
}

bool MainDTModel::variableOutIDIsUsed(quint16 id) const
{
    return !getVariableIndexes(id, VARIABLE_OUT).isEmpty();
}

bool MainDTModel::variableOutIDIsUsed(const QString& id) const
{
    bool ok = false;
    const quint16 value = parseID(id, &ok);
    return ok && variableOutIDIsUsed(value);
}

bool MainDTModel::aperiodicChannelIsUsedInStation(quint8 address) const
{
    const QModelIndex station = getStationIdx(address);
    return station.isValid() && !getVariableIndexesUsingAperiodicChannel(station).isEmpty();
}

quint8 MainDTModel::getMaxStationAddress() const
{
    const QList<quint8> used = getStationAddressesUsed();
    return used.isEmpty() ? 0 : used.last();
}

quint8 MainDTModel::getMaxPriorityLevel() const
{
    const QList<quint8> used = getPriorityLevelsUsed();
    return used.isEmpty() ? 0 : used.last();
}

namespace {
int firstFree(const QVector<bool>& set, bool* ok)
{
    const bool* begin = set.constData();
    const bool* end = begin + set.size();
    const void* found = std::memchr(begin, true, size_t(end - begin));
    if (ok)
        *ok = found != nullptr;
    return found ? int(static_cast<const bool*>(found) - begin) : 0;
}
} // namespace

quint8 MainDTModel::getFirstFreeStationAddress(bool* ok) const
{
    return quint8(firstFree(m_freeStationAddresses, ok));
}

quint8 MainDTModel::getFirstFreeSegmentNumber(bool* ok) const
{
    return quint8(firstFree(m_freeSegmentNumbers, ok));
}

quint8 MainDTModel::getFirstFreePriorityLevel(bool* ok) const
{
    return quint8(firstFree(m_freePriorityLevels, ok));
}

quint16 MainDTModel::getFirstFreeVariableOutID(bool* ok) const
{
    return quint16(firstFree(m_freeVariableIds, ok));
}

void MainDTModel::clearInternalData()
{
    m_freeVariableIds.fill(true, 65535);     // identifiers 0 to 65534; 0xFFFF is never offered
    m_freeSegmentNumbers.fill(true, 256);
    m_freeStationAddresses.fill(true, 256);
    m_freePriorityLevels.fill(true, 16);
}

void MainDTModel::updateInternalData()
{
    clearInternalData();
    collect(QModelIndex(), [&](const QModelIndex& i) { updateInternalData(i); });
}

void MainDTModel::updateInternalData(const QModelIndex& i)
{
    bool ok = false;
    {
        switch (classType(i)) {
        case SEGMENT: {
            const uint n = uint(parseNumber(text(i, ColSegmentNumber), &ok));
            if (ok && n < 256)
                m_freeSegmentNumbers[int(n)] = false;
            break;
        }
        case STATION: {
            const uint a = uint(parseNumber(text(i, ColStationAddress), &ok));
            if (ok && a < 256)
                m_freeStationAddresses[int(a)] = false;
            break;
        }
        case BUS_ARBITER: {
            const uint p = uint(parseNumber(text(i, ColArbiterPriorityLevel), &ok));
            if (ok && p < 16)
                m_freePriorityLevels[int(p)] = false;
            break;
        }
        case VARIABLE_OUT: {
            const quint16 id = parseID(text(i, ColVarOutId), &ok);
            if (ok && id < 65535)
                m_freeVariableIds[id] = false;
            break;
        }
        default:
            break;
        }
    }
}

float MainDTModel::getStationTSlotMs(const QModelIndex& index) const
{
    const QModelIndex station = getAncestor(index, STATION);
    bool ok = false;
    const qlonglong code = parseNumber(text(station, ColStationTSlot), &ok);
    return m_calculator.getFloatMsTSlotTime(getNetworkSpeed(), static_cast<unsigned char>(ok ? code : 0));
}

QList<int> MainDTModel::indexesRangeForClass(quint8 kind, const QVariant& selector)
{
    const QString sel = selector.toString();
    switch (kind) {
    case NETWORK: return { 0, 3, 4, 5, 6, 7, 8, 9 };
    case SEGMENT: return { 0, 12 };
    case STATION: return { 0, 13, 14 };
    case BUS_ARBITER: return { 0, 16, 17, 18, 19 };
    case SCAN_TABLE: return { 0, 22 };
    case INSTRUCTION: {
        QList<int> list = { 23 };
        if (sel == "SEND_ID_DAT" || sel == "SEND_ID_MSG")
            list << 24;
        else if (sel == "SEND_MSG" || sel == "SEND_APER" || sel == "WAIT_TIME" || sel == "WAIT_SYNC")
            list << 25;
        else if (sel == "SUSPEND")
            list << 27 << 30;
        return list;
    }
    case VARIABLE_OUT: return { 0, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41, 42, 43 };
    case VARIABLE_IN: return { 31, 44, 45, 46, 43 };
    case VARIABLE_REF: return { 48 };
    case MESSAGE_OUT: return { 0, 50, 51, 52, 53, 54, 55, 56, 57, 58, 66 };
    case MESSAGE_IN: return { 50, 51, 52, 53 };
    case APERIODIC_LIST: return { 0, 49 };
    case DATA_RENDERING: return { 0 };
    case MNEMONIC: {
        QList<int> list = { 0, 59 };
        if (sel != "Bool" && sel != "Int8" && sel != "UInt8")
            list << 60;
        list << 61 << 62 << 63 << 64;
        if (sel == "Ascii" || sel == "Hexa")
            list << 65;
        return list;
    }
    default: return {};
    }
}

QString MainDTModel::createDefaultName(const QString& name, const QString& base, int counter,
                                       const QModelIndex& parent, const QStringList& reserved) const
{
    const QModelIndex p = parent.isValid() ? parent.sibling(parent.row(), 0) : parent;
    const auto siblingHas = [&](const QString& candidate) {
        for (int r = 0; r < rowCount(p); ++r) {
            if (text(index(r, 0, p), ColObject) == candidate)
                return true;
        }
        return false;
    };
    QString candidate = name;
    for (;;) {
        while (siblingHas(candidate)) {
            ++counter;
            candidate = base + QLatin1Char(' ') + QString::number(counter + 1);
        }
        if (!reserved.contains(candidate))
            return candidate;
        ++counter;
        candidate = base + QLatin1Char(' ') + QString::number(counter + 1);
    }
}

quint16 MainDTModel::parseID(const QString& text, bool* ok)
{
    bool good = false;
    const QString t = text.trimmed();
    quint16 value = t.toUShort(&good, 10);
    if (!good)
        value = t.toUShort(&good, 16);
    if (ok)
        *ok = good;
    return good ? value : 0;
}

bool MainDTModel::compareIDs(const QString& a, const QString& b)
{
    bool okA = false, okB = false;
    const quint16 va = parseID(a, &okA);
    const quint16 vb = parseID(b, &okB);
    return okA && okB && va == vb;
}

QString MainDTModel::idToStr(quint16 id)
{
    return QString::asprintf("0x%4.4x", id);
}

qlonglong MainDTModel::parseNumber(const QString& text, bool* ok)
{
    const QString t = text.trimmed();
    bool good = false;
    qlonglong value = 0;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = t.mid(2).toLongLong(&good, 16);
    else {
        value = t.toLongLong(&good, 10);
        if (!good)
            value = t.toLongLong(&good, 16);
    }
    if (ok)
        *ok = good;
    return good ? value : 0;
}
