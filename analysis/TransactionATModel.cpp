#include "analysis/TransactionATModel.h"

#include "design/TreeItem.h"

#include <QSet>

namespace {

constexpr quint8 ID_DAT = 0x03;
constexpr quint8 ID_MSG = 0x05;
constexpr quint8 ID_RQ1 = 0x29;
constexpr quint8 ID_RQ2 = 0x09;
constexpr quint8 RP_MSG_NOACK = 0x04;
constexpr quint8 RP_MSG_ACKE = 0x14;
constexpr quint8 RP_MSG_ACKO = 0x94;

const char* const kVariableCategory = "IdDat - Variable Transfer";
const char* const kMessageCategory = "IdMsg - Message Transfer";
const char* const kAperiodicCategory = "IdRqx - Aperiodic List Transfer";
const char* const kUrgentCategory = "IdRq1 - Urgent";
const char* const kNormalCategory = "IdRq2 - Normal";

const char* shortNameOf(quint8 control)
{
    switch (control) {
    case 0x03: return "IdDat";
    case 0x05: return "IdMsg";
    case 0x29: return "IdRq1";
    case 0x09: return "IdRq2";
    case 0x02: return "RpDat";
    case 0x06: return "RpDatMsg";
    case 0x2A: return "RpDatRq1";
    case 0x0A: return "RpDatRq2";
    case 0x2E: return "RpDatRq1Msg";
    case 0x0E: return "RpDatRq2Msg";
    case 0x28: return "RpRq1";
    case 0x08: return "RpRq2";
    case 0x04: return "RpMsgNoAck";
    case 0x14: return "RpMsgAckEven";
    case 0x94: return "RpMsgAckOdd";
    case 0x30: return "RpAckEven+";
    case 0xB0: return "RpAckOdd+";
    case 0x10: return "RpAckEven-";
    case 0x90: return "RpAckOdd-";
    case 0x40: return "RpFin";
    default: return nullptr;
    }
}

/// The request a control belongs to, following the response parents up; 0 when none.
quint8 rootRequest(quint8 control)
{
    while (control != 0 && !TransactionATModel::isRequest(control))
        control = TransactionATModel::responseParent(control);
    return control;
}

/// Message replies carry their own count but stand for other transactions than the
/// identifier row's: they stay out of its Reply.
bool excludedFromReplySum(const QVariant& name)
{
    static const QString noAck = QLatin1String(shortNameOf(RP_MSG_NOACK));
    static const QString ackEven = QLatin1String(shortNameOf(RP_MSG_ACKE));
    static const QString ackOdd = QLatin1String(shortNameOf(RP_MSG_ACKO));
    const QString text = name.toString();
    return text == noAck || text == ackEven || text == ackOdd;
}

bool converts(const QVariant& value, quint64* number)
{
    if (!value.isValid() || value.isNull())
        return false;
    bool ok = false;
    *number = value.toULongLong(&ok);
    return ok;
}

} // namespace

struct TransactionATModel::Icons
{
    QIcon variable{QStringLiteral(":/images/images/icon_variable_out_48x48.png")};
    QIcon aperiodic{QStringLiteral(":/images/images/icon_aperiodic_list_48x48.png")};
    QIcon message{QStringLiteral(":/images/images/icon_message_out_48x48.png")};
    QIcon absent{QStringLiteral(":/images/images/icon_id_absence_52x52.png")};
    QIcon withoutReply{QStringLiteral(":/images/images/icon_id_without_rp_52x52.png")};
    QIcon withReply{QStringLiteral(":/images/images/icon_id_with_rp_52x52.png")};
    QIcon withReplyWarning{QStringLiteral(":/images/images/icon_id_with_rp_warning_52x52.png")};
    QIcon refreshed{QStringLiteral(":/images/images/icon_true_flag_green_48x48.png")};
    QIcon notRefreshed{QStringLiteral(":/images/images/icon_false_flag_red_48x48.png")};
};

TransactionATModel::TransactionATModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_root(new TreeItem(QVector<QVariant>(ColumnCount)))
{
    const QString headers[ColumnCount] = {
        tr("Transaction"), tr("Request"), tr("Reply"), tr("No-Reply"), tr("No-Ack"), tr("Glitches / 2s"),
        tr("Max Jitter"), tr("Transaction Duration"), tr("Refresh State"), tr("No-Refresh"),
        tr("Last No-Refresh Date"), tr("Data Changes"), tr("Data Length"), tr("Data Value"),
        tr("Transaction State")};
    for (int c = 0; c < ColumnCount; ++c)
        m_root->setData(c, headers[c]);
}

TransactionATModel::~TransactionATModel() = default;

// ---- static tables ----

QString TransactionATModel::shortName(quint8 control)
{
    const char* name = shortNameOf(control);
    return name ? QString::fromLatin1(name) : QStringLiteral("UNKNOWN");
}

bool TransactionATModel::isRequest(quint8 control)
{
    return control == ID_DAT || control == ID_MSG || control == ID_RQ1 || control == ID_RQ2;
}

quint8 TransactionATModel::responseParent(quint8 control)
{
    switch (control) {
    case 0x02: case 0x06: case 0x2A: case 0x0A: case 0x2E: case 0x0E: return ID_DAT;
    case 0x28: return ID_RQ1;
    case 0x08: return ID_RQ2;
    case 0x04: case 0x14: case 0x94: case 0x40: return ID_MSG;
    case 0x30: case 0x10: return RP_MSG_ACKE;
    case 0xB0: case 0x90: return RP_MSG_ACKO;
    default: return 0;
    }
}

bool TransactionATModel::isCategoryName(const QString& text)
{
    return text == QLatin1String(kVariableCategory) || text == QLatin1String(kMessageCategory)
        || text == QLatin1String(kAperiodicCategory) || text == QLatin1String(kUrgentCategory)
        || text == QLatin1String(kNormalCategory);
}

// ---- row lookup and creation ----

TreeItem* TransactionATModel::itemFor(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<TreeItem*>(index.internalPointer()) : m_root.get();
}

QModelIndex TransactionATModel::indexFor(const RowRef& ref, int column) const
{
    if (!ref.item || ref.item == m_root.get())
        return QModelIndex();
    const TreeItem* parentItem = ref.item->parent();
    const int row = parentItem->child(ref.row) == ref.item ? ref.row : ref.item->row();
    return createIndex(row, column, ref.item);
}

TransactionATModel::RowRef TransactionATModel::appendRow(const RowRef& parent, const QString& text,
                                                         bool parentIsCategory)
{
    const int row = parent.item->childCount();
    const QModelIndex parentIndex = indexFor(parent, 0);
    insertRows(row, 1, parentIndex);
    const RowRef ref{parent.item->child(row), row};
    writeCell(ref, TransactionCol, text);
    if (parentIsCategory && row == 0)
        emit firstCategoryChildCreated(parentIndex);
    return ref;
}

TransactionATModel::RowRef TransactionATModel::category(quint8 control)
{
    const auto found = m_categories.constFind(control);
    if (found != m_categories.constEnd())
        return *found;

    const RowRef top{m_root.get(), 0};
    RowRef ref;
    switch (control) {
    case ID_DAT:
        ref = appendRow(top, QLatin1String(kVariableCategory), false);
        break;
    case ID_MSG:
        ref = appendRow(top, QLatin1String(kMessageCategory), false);
        break;
    case ID_RQ1:
    case ID_RQ2:
        if (!m_aperiodicRoot.item) {
            m_aperiodicRoot = appendRow(top, QLatin1String(kAperiodicCategory), false);
            emit newCategoryCreated();
        }
        ref = appendRow(m_aperiodicRoot,
                        QLatin1String(control == ID_RQ1 ? kUrgentCategory : kNormalCategory), true);
        break;
    default:
        return RowRef();
    }
    m_categories.insert(control, ref);
    emit newCategoryCreated();
    return ref;
}

TransactionATModel::RowRef TransactionATModel::identifierRow(quint16 id, quint8 control)
{
    const quint32 key = (quint32(id) << 8) | control;
    const auto found = m_identifiers.constFind(key);
    if (found != m_identifiers.constEnd())
        return *found;
    const RowRef parent = category(control);
    if (!parent.item)
        return RowRef();
    const RowRef ref = appendRow(parent, QString::asprintf("0x%4.4x", id), true);
    m_identifiers.insert(key, ref);
    return ref;
}

TransactionATModel::RowRef TransactionATModel::controlRow(quint16 id, quint8 control, RowRef* parentRow)
{
    if (isRequest(control))
        return identifierRow(id, control);
    const quint8 parentControl = responseParent(control);
    if (parentControl == 0)
        return RowRef();
    const RowRef parent = controlRow(id, parentControl);
    if (!parent.item)
        return RowRef();
    if (parentRow)
        *parentRow = parent;

    const QPair<quint8, const TreeItem*> key(control, parent.item);
    const auto found = m_responses.constFind(key);
    if (found != m_responses.constEnd())
        return *found;
    const RowRef ref = appendRow(parent, shortName(control), false);
    m_responses.insert(key, ref);
    return ref;
}

QModelIndex TransactionATModel::getCategoryIdx(quint8 control)
{
    return indexFor(category(rootRequest(control)), 0);
}

QModelIndex TransactionATModel::getRootIdIdx(quint16 id, quint8 control)
{
    const quint8 request = rootRequest(control);
    return request ? indexFor(identifierRow(id, request), 0) : QModelIndex();
}

QModelIndex TransactionATModel::getRootCtrlIdx(quint16 id, quint8 control)
{
    return indexFor(controlRow(id, control), 0);
}

void TransactionATModel::initRootCtrlColumn(const QModelIndex& index, quint8 control)
{
    if (index.isValid())
        setData(index.sibling(index.row(), TransactionCol), shortName(control));
}

// ---- cells ----

bool TransactionATModel::writeCell(const RowRef& ref, int column, const QVariant& value)
{
    const QVariant current = ref.item->data(column);
    if (current.userType() == value.userType() && current == value)
        return false;
    ref.item->setData(column, value);
    const QModelIndex cell = indexFor(ref, column);
    emit dataChanged(cell, cell);
    if (column == StateCol) {
        const QModelIndex icon = cell.siblingAtColumn(TransactionCol);
        emit dataChanged(icon, icon);
    }
    return true;
}

bool TransactionATModel::setAny(quint16 id, quint8 control, int column, const QVariant& value)
{
    const RowRef ref = controlRow(id, control);
    if (!ref.item)
        return false;
    writeCell(ref, column, value);
    return true;
}

bool TransactionATModel::setRequestOnly(quint16 id, quint8 control, int column, const QVariant& value)
{
    if (!isRequest(control))
        return rootRequest(control) != 0;
    return setAny(id, control, column, value);
}

void TransactionATModel::sumChildReplies(const RowRef& parent)
{
    quint64 sum = 0;
    for (int i = 0, n = parent.item->childCount(); i < n; ++i) {
        const TreeItem* child = parent.item->child(i);
        quint64 reply = 0;
        if (!excludedFromReplySum(child->data(TransactionCol)) && converts(child->data(ReplyCol), &reply))
            sum += reply;
    }
    writeCell(parent, ReplyCol, QVariant::fromValue(sum));
}

bool TransactionATModel::setRequestReplyCounter(quint16 id, quint8 control, quint64 value)
{
    if (isRequest(control))
        return setAny(id, control, RequestCol, QVariant::fromValue(value));
    RowRef parent;
    const RowRef ref = controlRow(id, control, &parent);
    if (!ref.item)
        return false;
    // An acknowledged message row shows what its acknowledgements add up to, not
    // its own count: writing both would flip the cell on every push.
    if (control == RP_MSG_ACKE || control == RP_MSG_ACKO)
        sumChildReplies(ref);
    else
        writeCell(ref, ReplyCol, QVariant::fromValue(value));
    sumChildReplies(parent);
    return true;
}

bool TransactionATModel::setNoReplyCounter(quint16 id, quint8 control, quint64 value)
{
    return setRequestOnly(id, control, NoReplyCol, QVariant::fromValue(value));
}

bool TransactionATModel::setNoAckCounter(quint16 id, quint8 control, quint64 value)
{
    return setAny(id, control, NoAckCol, QVariant::fromValue(value));
}

bool TransactionATModel::setGlitchesCounter(quint16 id, quint8 control, quint64 value)
{
    return setAny(id, control, GlitchesCol, QVariant::fromValue(value));
}

bool TransactionATModel::setNoRefreshCounter(quint16 id, quint8 control, quint64 value)
{
    return setAny(id, control, NoRefreshCol, QVariant::fromValue(value));
}

bool TransactionATModel::setDataChangesCounter(quint16 id, quint8 control, quint64 value)
{
    return setRequestOnly(id, control, DataChangesCol, QVariant::fromValue(value));
}

bool TransactionATModel::setDataLength(quint16 id, quint8 control, quint64 value)
{
    return setRequestOnly(id, control, DataLengthCol, QVariant::fromValue(value));
}

bool TransactionATModel::setJitterMaxDurationStr(quint16 id, quint8 control, const QString& text)
{
    return setAny(id, control, MaxJitterCol, text);
}

bool TransactionATModel::setTransactionDurationStr(quint16 id, quint8 control, const QString& text)
{
    return setRequestOnly(id, control, DurationCol, text);
}

bool TransactionATModel::setNoRefreshDateStr(quint16 id, quint8 control, const QString& text)
{
    return setAny(id, control, LastNoRefreshDateCol, text);
}

bool TransactionATModel::setRefreshStateStr(quint16 id, quint8 control, const QString& text)
{
    return setAny(id, control, RefreshStateCol, text);
}

bool TransactionATModel::setDataValueStr(quint16 id, quint8 control, const QString& text)
{
    return setRequestOnly(id, control, DataValueCol, text);
}

bool TransactionATModel::setIdState(quint16 id, quint8 control, quint8 state)
{
    return setRequestOnly(id, control, StateCol, QVariant::fromValue(uint(state)));
}

// ---- counters ----

void TransactionATModel::countRow(const TreeItem* item, bool message)
{
    quint64 request = 0;
    if (!converts(item->data(RequestCol), &request))
        return;
    if (m_padding != 0) {
        bool ok = false;
        const quint16 id = item->data(TransactionCol).toString().toUShort(&ok, 16);
        if (ok && id == m_padding)
            return;
    }
    quint64 reply = 0;
    const bool replied = converts(item->data(ReplyCol), &reply);
    const quint64 noReply = item->data(NoReplyCol).toULongLong();
    if (noReply == 0) {
        if (replied)
            m_counters[message ? 3 : 0] += reply;
    } else if (message) {
        m_counters[4] += noReply;
    } else {
        m_counters[replied ? 1 : 2] += noReply;
    }
}

void TransactionATModel::accumulate(const TreeItem* item, bool message)
{
    for (int i = 0, n = item->childCount(); i < n; ++i) {
        const TreeItem* child = item->child(i);
        countRow(child, message);
        accumulate(child, message);
    }
}

void TransactionATModel::getTransactionCounters(quint64* out1, quint64* out2, quint64* out3, quint64* out4,
                                                quint64* out5)
{
    m_counters.fill(0);
    const auto variables = m_categories.constFind(ID_DAT);
    if (variables != m_categories.constEnd())
        accumulate(variables->item, false);
    const auto messages = m_categories.constFind(ID_MSG);
    if (messages != m_categories.constEnd())
        accumulate(messages->item, true);

    quint64* outs[5] = {out1, out2, out3, out4, out5};
    for (int i = 0; i < 5; ++i) {
        if (outs[i])
            *outs[i] = m_counters[i];
    }
}

void TransactionATModel::setPadding(quint16 id)
{
    m_padding = id;
}

// ---- removal ----

void TransactionATModel::clear()
{
    beginResetModel();
    m_root->removeChildren(0, m_root->childCount());
    m_aperiodicRoot = RowRef();
    m_categories.clear();
    m_identifiers.clear();
    m_responses.clear();
    m_counters.fill(0);
    endResetModel();
}

void TransactionATModel::removeIdxChilds(const QModelIndex& index)
{
    const int count = itemFor(index)->childCount();
    if (count > 0)
        removeRows(0, count, index.siblingAtColumn(0));
}

void TransactionATModel::forgetSubtree(const TreeItem* item)
{
    QSet<const TreeItem*> doomed;
    QList<const TreeItem*> pending{item};
    while (!pending.isEmpty()) {
        const TreeItem* next = pending.takeLast();
        doomed.insert(next);
        for (int i = 0; i < next->childCount(); ++i)
            pending.append(next->child(i));
    }
    auto forget = [&doomed](auto& cache) {
        for (auto it = cache.begin(); it != cache.end();) {
            if (doomed.contains(it->item))
                it = cache.erase(it);
            else
                ++it;
        }
    };
    forget(m_categories);
    forget(m_identifiers);
    forget(m_responses);
    if (doomed.contains(m_aperiodicRoot.item))
        m_aperiodicRoot = RowRef();
}

// ---- QAbstractItemModel ----

QModelIndex TransactionATModel::index(int row, int column, const QModelIndex& parent) const
{
    if (!hasIndex(row, column, parent))
        return QModelIndex();
    TreeItem* child = itemFor(parent)->child(row);
    return child ? createIndex(row, column, child) : QModelIndex();
}

QModelIndex TransactionATModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    TreeItem* parentItem = itemFor(index)->parent();
    if (!parentItem || parentItem == m_root.get())
        return QModelIndex();
    return createIndex(parentItem->row(), 0, parentItem);
}

int TransactionATModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    return itemFor(parent)->childCount();
}

int TransactionATModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant TransactionATModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole))
        return m_root->data(section);
    return QVariant();
}

bool TransactionATModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role)
{
    if (orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole)
        || !m_root->setData(section, value))
        return false;
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags TransactionATModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QVariant TransactionATModel::decoration(const TreeItem* item, int column) const
{
    if (column != TransactionCol && column != RefreshStateCol)
        return QVariant();
    if (!m_icons)
        m_icons.reset(new Icons);
    const QString text = item->data(column).toString();

    if (column == RefreshStateCol) {
        if (text == QLatin1String("true"))
            return m_icons->refreshed;
        if (text == QLatin1String("false"))
            return m_icons->notRefreshed;
        return QVariant();
    }
    if (text == QLatin1String(kVariableCategory))
        return m_icons->variable;
    if (text == QLatin1String(kMessageCategory))
        return m_icons->message;
    if (isCategoryName(text))
        return m_icons->aperiodic;

    const QVariant stateValue = item->data(StateCol);
    if (!stateValue.isValid())
        return QVariant();
    const uint state = stateValue.toUInt();
    if (!(state & 0x80))
        return QVariant();
    if (!(state & 0x01))
        return m_icons->absent;
    if (!(state & 0x02))
        return m_icons->withoutReply;
    return (state & 0x04) ? m_icons->withReplyWarning : m_icons->withReply;
}

QVariant TransactionATModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    const TreeItem* item = itemFor(index);
    switch (role) {
    case Qt::DecorationRole:
        return decoration(item, index.column());
    case Qt::DisplayRole:
    case Qt::EditRole:
    case Qt::ToolTipRole:
    case Qt::StatusTipRole:
    case Qt::WhatsThisRole:
        return item->data(index.column());
    default:
        // Styling roles stay with the delegate; the value serves every role of our own.
        return role >= Qt::UserRole ? item->data(index.column()) : QVariant();
    }
}

bool TransactionATModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() >= ColumnCount || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    writeCell(RowRef{itemFor(index), index.row()}, index.column(), value);
    return true;
}

bool TransactionATModel::insertRows(int position, int rows, const QModelIndex& parent)
{
    TreeItem* parentItem = itemFor(parent);
    if (position < 0 || position > parentItem->childCount() || rows <= 0)
        return false;
    beginInsertRows(parent, position, position + rows - 1);
    const bool done = parentItem->insertChildren(position, rows, ColumnCount);
    endInsertRows();
    return done;
}

bool TransactionATModel::removeRows(int position, int rows, const QModelIndex& parent)
{
    TreeItem* parentItem = itemFor(parent);
    if (position < 0 || rows <= 0 || position + rows > parentItem->childCount())
        return false;
    for (int i = position; i < position + rows; ++i)
        forgetSubtree(parentItem->child(i));
    beginRemoveRows(parent, position, position + rows - 1);
    const bool done = parentItem->removeChildren(position, rows);
    endRemoveRows();
    return done;
}
