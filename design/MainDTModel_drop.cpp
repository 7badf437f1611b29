// Creation of design nodes by drag and drop, their defaults and the structural limits.
#include "design/MainDTModel.h"

#include "design/MainDTCommands.h"
#include "design/TreeItem.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QInputDialog>
#include <QMimeData>
#include <QPersistentModelIndex>
#include <QThread>
#include <QUndoStack>

namespace {
const QStringList& itemBoxKinds()
{
    static const QStringList kinds = { "Network",  "Segment",        "Station", "Arbiter",
                                       "Scan Table", "Instruction",  "Variable", "Aperiodic List",
                                       "Message",  "Data Rendering", "Mnemonic" };
    return kinds;
}

QString strong(const QString& s)
{
    return QStringLiteral("<strong>") + s + QStringLiteral("</strong>");
}

/// The display-role text of the first entry of item-model mime data.
QString droppedKindName(const QMimeData* data)
{
    if (!data || !data->hasFormat(MainDTModel::ItemModelMimeType))
        return QString();
    QByteArray encoded = data->data(MainDTModel::ItemModelMimeType);
    QDataStream stream(&encoded, QIODevice::ReadOnly);
    if (stream.atEnd())
        return QString();
    int row = 0, column = 0;
    QMap<int, QVariant> roles;
    stream >> row >> column >> roles;
    if (stream.status() != QDataStream::Ok)
        return QString();
    return roles.value(Qt::DisplayRole).toString();
}
} // namespace

QMimeData* MainDTModel::mimeData(const QModelIndexList& indexes) const
{
    return QAbstractItemModel::mimeData(indexes);
}

QMimeData* MainDTModel::createItemMimeData(const QString& kindName)
{
    QByteArray encoded;
    QDataStream stream(&encoded, QIODevice::WriteOnly);
    QMap<int, QVariant> roles;
    roles.insert(Qt::DisplayRole, kindName);
    stream << 0 << 0 << roles;
    auto* mime = new QMimeData;
    mime->setData(ItemModelMimeType, encoded);
    return mime;
}

bool MainDTModel::canDropMimeData(const QMimeData* data, Qt::DropAction action, int, int,
                                  const QModelIndex&) const
{
    // Targets and limits are checked by dropMimeData, which tells the user why a drop is refused.
    if (action != Qt::CopyAction && action != Qt::MoveAction)
        return false;
    return itemBoxKinds().contains(droppedKindName(data));
}

QString MainDTModel::dropTargetRefusal(const QString& kind, const QModelIndex& parent) const
{
    const quint8 target = classType(parent);
    if (kind == QLatin1String("Network"))
        return parent.isValid() ? strong("Network") + QStringLiteral(" is only droppable on ") + strong("Root") + "."
                                : QString();
    if (!parent.isValid())
        return QStringLiteral("Unable to drop ") + strong(kind) + QStringLiteral(" on the Root. Only ")
            + strong("Network") + QStringLiteral(" item is allowed.");
    struct Rule {
        const char* kind;
        QList<quint8> targets;
        const char* message;
    };
    static const QList<Rule> rules = {
        { "Segment", { NETWORK }, "<strong>Segment</strong> is only droppable on <strong>Network</strong> item." },
        { "Station", { SEGMENT }, "<strong>Station</strong> is only droppable on <strong>Segment</strong> item." },
        { "Arbiter", { STATION }, "<strong>Arbiter</strong> is only droppable on <strong>Station</strong> item." },
        { "Scan Table", { BUS_ARBITER },
          "<strong>Scan Table</strong> is only droppable on <strong>Arbiter</strong> item." },
        { "Instruction", { SCAN_TABLE },
          "<strong>Instruction</strong> is only droppable on <strong>Scan Table</strong> item." },
        { "Variable", { STATION, APERIODIC_LIST },
          "<strong>Variable</strong> is only droppable on <strong>Station</strong> and <strong>Aperiodic "
          "List</strong> items." },
        { "Aperiodic List", { VARIABLE_OUT },
          "<strong>Aperiodic List</strong> is only droppable on <strong>Output Variable</strong> item." },
        { "Message", { VARIABLE_OUT, VARIABLE_IN },
          "<strong>Message</strong> is only droppable on <strong>Output Variable</strong> and <strong>Input "
          "Variable</strong> items." },
        { "Data Rendering", { VARIABLE_OUT, MESSAGE_OUT },
          "<strong>Data Rendering</strong> is only droppable on <strong>Output Variable</strong> and "
          "<strong>Output Message</strong> items." },
        { "Mnemonic", { DATA_RENDERING },
          "<strong>Mnemonic</strong> is only droppable on <strong>Data Rendering</strong> item." },
    };
    for (const Rule& rule : rules) {
        if (kind == QLatin1String(rule.kind))
            return rule.targets.contains(target) ? QString() : QString::fromUtf8(rule.message);
    }
    return QStringLiteral("Unable to drop ") + strong(kind) + QStringLiteral(".");
}

QList<QPair<int, QVariant>> MainDTModel::initialValues(const QString& kindName, const QModelIndex& parent,
                                                       QString* refusal) const
{
    using Values = QList<QPair<int, QVariant>>;
    const auto node = [this](ClassT kind, const QString& name) {
        return Values { { ColObject, name }, { ColClass, getClassTypeStr(kind) },
                        { ColClassType, QString::number(kind) } };
    };
    const quint8 target = classType(parent);
    const QString speed = getNetworkSpeed();
    bool ok = false;

    if (kindName == QLatin1String("Network")) {
        if (getNetworkIdx().isValid()) {
            *refusal = QStringLiteral("Cannot create more than one <strong>Network</strong> at the time.");
            return {};
        }
        const QString netSpeed = QStringLiteral("1 Mbits/s");
        quint8 silence = 0, turnAround = 0, max = 0;
        m_calculator.getSilenceRange(netSpeed, &silence, &max);
        m_calculator.getTurnAroundRange(netSpeed, &turnAround, &max);
        Values v = node(NETWORK, QStringLiteral("Network"));
        v << qMakePair(int(ColNetworkFrameType), QVariant("FIP"))
          << qMakePair(int(ColNetworkSpeed), QVariant(netSpeed))
          << qMakePair(int(ColNetworkBaMaxStationAddress), QVariant("0"))
          << qMakePair(int(ColNetworkBaMaxPriority), QVariant("0"))
          << qMakePair(int(ColNetworkBaOptimization), QVariant("Optimization 0"))
          << qMakePair(int(ColNetworkSilenceTime), QVariant(m_calculator.getSilenceTimeStr(netSpeed, silence)))
          << qMakePair(int(ColNetworkTurnAroundTime),
                       QVariant(m_calculator.getTurnAroundTimeStr(netSpeed, turnAround)))
          << qMakePair(int(ColNetworkSilence), QVariant(QString::asprintf("0x%2.2x", unsigned(silence))))
          << qMakePair(int(ColNetworkTurnAround), QVariant(QString::asprintf("0x%2.2x", unsigned(turnAround))));
        return v;
    }

    if (kindName == QLatin1String("Segment")) {
        const quint8 number = getFirstFreeSegmentNumber(&ok);
        if (!ok) {
            *refusal = QStringLiteral("Cannot create more than ") + QStringLiteral("256")
                + QStringLiteral(" <strong>Segment</strong> into a <strong>Network</strong>.");
            return {};
        }
        Values v = node(SEGMENT, QStringLiteral("Segment ") + QString::number(number));
        v << qMakePair(int(ColSegmentNumber), QVariant(QString::number(number)));
        return v;
    }

    if (kindName == QLatin1String("Station")) {
        const quint8 address = getFirstFreeStationAddress(&ok);
        if (!ok) {
            *refusal = QStringLiteral("Cannot create more than ") + QStringLiteral("256")
                + QStringLiteral(" <strong>Station</strong> into a <strong>Network</strong>.");
            return {};
        }
        if (getStationIndexes(parent).size() >= 32) {
            *refusal = QStringLiteral("Cannot create more than ") + QStringLiteral("32")
                + QStringLiteral(" <strong>Station</strong> into a <strong>Segment</strong>.");
            return {};
        }
        Values v = node(STATION, QStringLiteral("Station ") + QString::number(address));
        v << qMakePair(int(ColStationAddress), QVariant(QString::number(address)))
          << qMakePair(int(ColStationTSlot), QVariant("0x00"))
          << qMakePair(int(ColStationTSlotTime), QVariant(m_calculator.getTSlotTimeStr(speed, 0)))
          << qMakePair(int(ColFipDevice), QVariant(BindADevice));
        if (!savePath().isEmpty())
            v << qMakePair(int(ColFilePath),
                           QVariant(savePath() + QStringLiteral("/Station") + QString::number(address) + ".xml"));
        return v;
    }

    if (kindName == QLatin1String("Arbiter")) {
        if (hasArbiter(parent)) {
            *refusal = QStringLiteral("Cannot create more than one <strong>Arbiter</strong> into a "
                                      "<strong>Station</strong>.");
            return {};
        }
        const quint8 priority = getFirstFreePriorityLevel(&ok);
        if (!ok) {
            *refusal = QStringLiteral("Cannot create <strong>Arbiter</strong>. All priority levels are used on "
                                      "<strong>Network</strong>.");
            return {};
        }
        quint16 e = 0, s = 0;
        float silence = 0;
        electionStartCodes(priority, &e, &s, &silence);
        Values v = node(BUS_ARBITER, createDefaultName("Arbiter", "Arbiter", 0, parent));
        v << qMakePair(int(ColArbiterEnabled), QVariant("true"))
          << qMakePair(int(ColArbiterPriorityLevel), QVariant(QString::number(priority)))
          << qMakePair(int(ColArbiterElectionTime), QVariant(FipCalculator::floatUsToString(e * silence)))
          << qMakePair(int(ColArbiterStartTime), QVariant(FipCalculator::floatUsToString(s * silence)))
          << qMakePair(int(ColArbiterElection), QVariant(QString::asprintf("0x%4.4x", unsigned(e))))
          << qMakePair(int(ColArbiterStart), QVariant(QString::asprintf("0x%4.4x", unsigned(s))));
        return v;
    }

    if (kindName == QLatin1String("Scan Table")) {
        const QModelIndexList tables = getScanTableIndexes(parent);
        if (tables.size() >= 2) {
            *refusal = QStringLiteral("Cannot create more than two <strong>Scan Table</strong> into a "
                                      "<strong>Arbiter</strong>.");
            return {};
        }
        int number = 0;
        for (const QModelIndex& t : tables) {
            if (text(t, ColScanTableNumber) == QString::number(number))
                number = 1;
        }
        Values v = node(SCAN_TABLE, QStringLiteral("Scan Table ") + QString::number(number));
        v << qMakePair(int(ColScanTableNumber), QVariant(QString::number(number)));
        return v;
    }

    if (kindName == QLatin1String("Instruction")) {
        Values v = node(INSTRUCTION, QStringLiteral("NEXT_MACRO ()"));
        v << qMakePair(int(ColInstructionType), QVariant("NEXT_MACRO"));
        return v;
    }

    if (kindName == QLatin1String("Variable") && target == STATION) {
        const quint16 id = getFirstFreeVariableOutID(&ok);
        if (!ok) {
            *refusal = QStringLiteral("Cannot create more than ") + QStringLiteral("65536")
                + QStringLiteral(" <strong>Variable</strong> into a <strong>Network</strong>.");
            return {};
        }
        const QString t = QString::number(double(getStationTSlotMs(parent)), 'g', 6);
        const double tMs = t.toDouble();
        quint16 n = 0;
        const double period = snapToTSlot(5, tMs, 16383 * tMs, tMs, &n);
        Values v = node(VARIABLE_OUT, QStringLiteral("ID (") + idToStr(id) + QStringLiteral(")"));
        v << qMakePair(int(ColVariableDirection), QVariant("OUT"))
          << qMakePair(int(ColVarOutId), QVariant(idToStr(id)))
          << qMakePair(int(ColVarOutPdu), QVariant("MPS"))
          << qMakePair(int(ColVarOutLength), QVariant("1"))
          << qMakePair(int(ColVarOutRefreshmentEnabled), QVariant("true"))
          << qMakePair(int(ColVarOutDynamicRefreshmentEnabled), QVariant("false"))
          << qMakePair(int(ColVarOutRefreshmentPeriod), QVariant(QString::number(period, 'g', 9)))
          << qMakePair(int(ColVarOutRefreshmentPeriodPar), QVariant(QString::asprintf("0x%4.4x", unsigned(n))))
          << qMakePair(int(ColVarOutAperiodicRequestEnabled), QVariant("false"))
          << qMakePair(int(ColVarOutMessageTransferEnabled), QVariant("false"))
          << qMakePair(int(ColVarOutMessageTransferType), QVariant("Aperiodic"))
          << qMakePair(int(ColVarOutMessageTransferChannel), QVariant("0"))
          << qMakePair(int(ColVarMessageReceptionEnabled), QVariant("false"));
        return v;
    }

    if (kindName == QLatin1String("Variable") && target == APERIODIC_LIST) {
        const QModelIndexList outputs = getClassTypeIndexes(VARIABLE_OUT);
        if (outputs.isEmpty()) {
            *refusal = QStringLiteral("Cannot create <strong>Reference Variable</strong> without at least one "
                                      "<strong>Output Variable</strong> into <strong>Network</strong>.");
            return {};
        }
        QList<quint16> referenced;
        int references = 0;
        for (int r = 0; r < rowCount(parent); ++r) {
            const QModelIndex child = index(r, 0, parent);
            if (classType(child) == VARIABLE_REF) {
                ++references;
                referenced.append(parseID(text(child, ColVarRefId)));
            }
        }
        if (references >= 64) {
            *refusal = QStringLiteral("Cannot create more than 64 <strong>Reference Variable</strong> into an "
                                      "<strong>Aperiodic List</strong>.");
            return {};
        }
        quint16 id = parseID(text(outputs.first(), ColVarOutId));
        for (const QModelIndex& o : outputs) {
            const quint16 candidate = parseID(text(o, ColVarOutId));
            if (!referenced.contains(candidate)) {
                id = candidate;
                break;
            }
        }
        Values v = node(VARIABLE_REF, QStringLiteral("ID (") + idToStr(id) + QStringLiteral(")"));
        v << qMakePair(int(ColVarRefId), QVariant(idToStr(id)));
        return v;
    }

    if (kindName == QLatin1String("Aperiodic List")) {
        Values v = node(APERIODIC_LIST, createDefaultName("Aperiodic List", "Aperiodic List", 0, parent));
        v << qMakePair(int(ColAperListMode), QVariant("Normal"));
        return v;
    }

    if (kindName == QLatin1String("Message")) {
        const QModelIndexList outputs = getClassTypeIndexes(VARIABLE_OUT);
        if (outputs.size() < 2) {
            *refusal = QStringLiteral("Cannot create <strong>Output Message</strong> without at least 2 "
                                      "<strong>Output Variable</strong> into <strong>Network</strong>.");
            return {};
        }
        const QModelIndex station = getAncestor(parent, STATION);
        bool stationOk = false;
        const quint8 address = quint8(parseNumber(text(station, ColStationAddress), &stationOk));
        const QList<quint8> periodic = getPeriodicChannelsUsedInStation(address);
        const bool aperiodic = aperiodicChannelIsUsedInStation(address);
        if (!stationOk || (periodic.isEmpty() && !aperiodic)) {
            *refusal = QStringLiteral("Cannot create <strong>Output Message</strong> without at least one "
                                      "aperiodic/periodic channel configured for this <strong>Station</strong>.");
            return {};
        }
        const QString sourceSegment = text(getAncestor(parent, SEGMENT), ColSegmentNumber);
        const quint16 sourceId = getOutId(parent);
        QString destinationSegment, destinationId;
        for (const QModelIndex& o : outputs) {
            const quint16 id = parseID(text(o, ColVarOutId));
            if (id == sourceId)
                continue;
            const QString segment = text(getAncestor(o, SEGMENT), ColSegmentNumber);
            bool used = false;
            for (int r = 0; r < rowCount(parent) && !used; ++r) {
                const QModelIndex child = index(r, 0, parent);
                used = classType(child) == MESSAGE_OUT && text(child, ColMsgDestinationSegment) == segment
                    && compareIDs(text(child, ColMsgDestinationId), idToStr(id));
            }
            if (!used) {
                destinationSegment = segment;
                destinationId = idToStr(id);
                break;
            }
        }
        if (destinationId.isEmpty()) {
            *refusal = QStringLiteral("Cannot create <strong>Output Message</strong>. It's impossible to find an "
                                      "available <strong>Destination Address</strong>");
            return {};
        }
        const bool usePeriodic = !periodic.isEmpty();
        const QString name = sourceSegment + ":" + idToStr(sourceId) + QStringLiteral(" to ") + destinationSegment
            + ":" + destinationId;
        Values v = node(MESSAGE_OUT, name);
        v << qMakePair(int(ColMsgSourceSegment), QVariant(sourceSegment))
          << qMakePair(int(ColMsgSourceId), QVariant(idToStr(sourceId)))
          << qMakePair(int(ColMsgDestinationSegment), QVariant(destinationSegment))
          << qMakePair(int(ColMsgDestinationId), QVariant(destinationId))
          << qMakePair(int(ColMsgDirection), QVariant("OUT"))
          << qMakePair(int(ColMsgMode), QVariant("Normal"))
          << qMakePair(int(ColMsgChannelType), QVariant(usePeriodic ? "Periodic" : "Aperiodic"))
          << qMakePair(int(ColMsgChannelNumber), QVariant(QString::number(usePeriodic ? periodic.first() : 0)))
          << qMakePair(int(ColMsgAcknowledgmentEnabled), QVariant("false"))
          << qMakePair(int(ColMsgFileTransferEnabled), QVariant("false"));
        return v;
    }

    if (kindName == QLatin1String("Data Rendering"))
        return node(DATA_RENDERING, createDefaultName("Data Rendering", "Data Rendering", 0, parent));

    if (kindName == QLatin1String("Mnemonic")) {
        // A new Bool takes the first bit after its siblings, or bit 0 when the data is full.
        int start = 0;
        for (int r = 0; r < rowCount(parent); ++r) {
            const QModelIndex sibling = index(r, 0, parent);
            if (classType(sibling) == MNEMONIC)
                start = qMax(start, text(sibling, ColMnemoStopBit).toInt() + 1);
        }
        const QModelIndex owner = parent.parent();
        const int lengthBits = classType(owner) == VARIABLE_OUT
            ? int(parseNumber(text(owner, ColVarOutLength))) * 8 : 256 * 8;
        if (start + 1 > lengthBits)
            start = 0;
        Values v = node(MNEMONIC, createDefaultName("Mnemonic", "Mnemonic", 0, parent));
        v << qMakePair(int(ColMnemoType), QVariant("Bool"))
          << qMakePair(int(ColMnemoEndianness), QVariant("Little-Endian"))
          << qMakePair(int(ColMnemoStartBit), QVariant(QString::number(start)))
          << qMakePair(int(ColMnemoStopBit), QVariant(QString::number(start)))
          << qMakePair(int(ColMnemoByteSize), QVariant("1"));
        return v;
    }

    *refusal = QStringLiteral("Unable to drop ") + strong(kindName) + QStringLiteral(".");
    return {};
}

QModelIndex MainDTModel::addNode(const QModelIndex& parent, int row, const QList<QPair<int, QVariant>>& values)
{
    const QModelIndex p = parent.isValid() ? parent.sibling(parent.row(), 0) : parent;
    const int r = (row < 0 || row > rowCount(p)) ? rowCount(p) : row;
    m_undoStack->push(new MainDTAddCommand(p, r, 1, this));
    m_undoStack->push(new MainDTInitCommand(p, r, 1, { values }, this));
    return index(r, 0, p);
}

bool MainDTModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                               const QModelIndex& parent)
{
    Q_UNUSED(column)
    if (action == Qt::IgnoreAction)
        return true;
    const QString kind = droppedKindName(data);
    if (!itemBoxKinds().contains(kind))
        return false;
    const QModelIndex target = parent.isValid() ? parent.sibling(parent.row(), 0) : QModelIndex();

    int count = 1;
    if (isCtrlPressed() && kind != QLatin1String("Network")) {
        bool accepted = false;
        if (m_insertionCountQuery) {
            accepted = m_insertionCountQuery(&count);
        } else {
            count = QInputDialog::getInt(qobject_cast<QWidget*>(QObject::parent()),
                                         QStringLiteral("Advanced Insertion Menu"),
                                         QStringLiteral("Number of items to insert:"), 1, 1, 65535, 1, &accepted);
        }
        if (!accepted)
            return false;
        count = qBound(1, count, 65535);
    }

    const QString refusal = dropTargetRefusal(kind, target);
    if (!refusal.isEmpty()) {
        emit statusBarMessage(1, refusal);
        return false;
    }

    const QPersistentModelIndex persistentTarget(target);
    QPersistentModelIndex last;
    int progress = 0;
    if (count > 1)
        emit generateProgress(0);
    for (int i = 0; i < count; ++i) {
        // Between items events run: the target may have been removed or undone meanwhile.
        if (target.isValid() && (!persistentTarget.isValid() || !dropTargetRefusal(kind, persistentTarget).isEmpty())) {
            emit statusBarMessage(1, QStringLiteral("The insertion of <strong>") + kind
                                         + QStringLiteral("</strong> stopped: its target is gone."));
            break;
        }
        QString limit;
        const QList<QPair<int, QVariant>> values = initialValues(kind, persistentTarget, &limit);
        if (values.isEmpty()) {
            emit statusBarMessage(1, limit);
            break;
        }
        const QString kindStr = getClassTypeStr(quint8(values.at(2).second.toString().toUInt()));
        m_undoStack->beginMacro(QStringLiteral("Add - ") + kindStr);
        const int at = row < 0 || row + i > rowCount(persistentTarget) ? -1 : row + i;
        const QModelIndex created = addNode(persistentTarget, at, values);
        last = created;
        switch (classType(created)) {
        case MESSAGE_OUT:
            addInputMessages(created);
            break;
        case STATION:
        case BUS_ARBITER:
            updateNetworkMaxValues();
            break;
        case NETWORK:
            updateAllStartElectionTimes();
            break;
        default:
            break;
        }
        m_undoStack->endMacro();
        if (count > 1) {
            progress = (i + 1) * 100 / count;
            emit generateProgress(progress);
            if (m_multiInsertPauseMs > 0)
                QThread::msleep(ulong(m_multiInsertPauseMs));
            QCoreApplication::processEvents();
        }
    }
    if (count > 1)
        emit generateProgress(100);
    if (!last.isValid())
        return false;
    emit indexFocused(last);
    return true;
}

bool MainDTModel::dropItem(const QString& kindName, const QModelIndex& parent, int row)
{
    QScopedPointer<QMimeData> mime(createItemMimeData(kindName));
    return dropMimeData(mime.data(), Qt::CopyAction, row, 0, parent);
}

bool MainDTModel::removeItem(const QModelIndex& index)
{
    if (!index.isValid())
        return false;
    if (classType(index) == MESSAGE_IN) {
        emit statusBarMessage(2, QStringLiteral("<strong>Input Message</strong> can not be manually removed."));
        return false;
    }
    const QModelIndex node = index.sibling(index.row(), 0);
    return removeRows(node.row(), 1, node.parent());
}
