#include "design/MainDTModel.h"

#include "design/MainDTCommands.h"
#include "design/TreeItem.h"

#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QUndoStack>

#include <algorithm>

const QString MainDTModel::BindADevice = QStringLiteral("<Bind a device>");
const QString MainDTModel::ItemModelMimeType = QStringLiteral("application/x-qabstractitemmodeldatalist");

namespace {
const char* const kIconPrefix = ":/images/images/icon_";
const char* const kIconSuffix = "_48x48.png";
const char* const kNoneIcon = ":/images/images/icon_none_96x96.png";
} // namespace

QVector<QVariant> MainDTModel::getColumnPropertyData()
{
    static const QStringList names = {
#include "design/MainDTColumnNames.inc"
    };
    QVector<QVariant> data;
    data.reserve(names.size());
    for (const QString& n : names)
        data.append(n);
    return data;
}

QStringList MainDTModel::instructionTypes()
{
    return { QStringLiteral("SEND_ID_DAT"), QStringLiteral("SEND_ID_MSG"), QStringLiteral("SEND_MSG"),
             QStringLiteral("SEND_APER"),   QStringLiteral("WAIT_TIME"),   QStringLiteral("WAIT_SYNC"),
             QStringLiteral("SUSPEND"),     QStringLiteral("NEXT_MACRO"),  QStringLiteral("TESTP") };
}

QStringList MainDTModel::mnemonicTypes()
{
    return { QStringLiteral("Ascii"), QStringLiteral("Bool"),   QStringLiteral("Double"), QStringLiteral("Float"),
             QStringLiteral("Hexa"),  QStringLiteral("Int8"),   QStringLiteral("Int16"),  QStringLiteral("Int32"),
             QStringLiteral("Int64"), QStringLiteral("UInt8"),  QStringLiteral("UInt16"), QStringLiteral("UInt32"),
             QStringLiteral("UInt64") };
}

int MainDTModel::mnemonicTypeBits(const QString& type, int byteSize)
{
    if (type == QLatin1String("Ascii") || type == QLatin1String("Hexa"))
        return byteSize * 8;
    if (type == QLatin1String("Bool"))
        return 1;
    if (type == QLatin1String("Int8") || type == QLatin1String("UInt8"))
        return 8;
    if (type == QLatin1String("Int16") || type == QLatin1String("UInt16"))
        return 16;
    if (type == QLatin1String("Int32") || type == QLatin1String("UInt32") || type == QLatin1String("Float"))
        return 32;
    if (type == QLatin1String("Int64") || type == QLatin1String("UInt64") || type == QLatin1String("Double"))
        return 64;
    return 0;
}

MainDTModel::MainDTModel(QObject* parent)
    : QAbstractItemModel(parent)
    , m_rootItem(new TreeItem(getColumnPropertyData()))
    , m_undoStack(new QUndoStack(this))
{
    auto moved = [this] { ++m_structureGeneration; };
    connect(this, &QAbstractItemModel::rowsAboutToBeInserted, this, moved);
    connect(this, &QAbstractItemModel::rowsAboutToBeRemoved, this, moved);
    connect(this, &QAbstractItemModel::rowsAboutToBeMoved, this, moved);
    connect(this, &QAbstractItemModel::modelAboutToBeReset, this, moved);
    connect(this, &QAbstractItemModel::layoutAboutToBeChanged, this, moved);
    connect(this, &QAbstractItemModel::layoutChanged, this, moved);
    const QStringList names = { "Network", "Segment", "Station", "Bus Arbiter", "Scan Table", "Instruction",
                                "Output Variable", "Input Variable", "Reference Variable", "Output Message",
                                "Input Message", "Aperiodic List", "Data Rendering", "Mnemonic" };
    const QStringList files = { "network", "segment", "station", "arbiter", "scan_table", "instruction",
                                "variable_out", "variable_in", "variable_ref", "message_out", "message_in",
                                "aperiodic_list", "data_rendering", "mnemo" };
    for (int k = 0; k < CLASS_COUNT; ++k) {
        m_classTypeToStr.insert(quint8(k), names.at(k));
        m_classTypeIcons.insert(quint8(k), QLatin1String(kIconPrefix) + files.at(k) + QLatin1String(kIconSuffix));
    }

    // Arbitrator status codes; the codes of TESTING, PENDING, APER. VAR WINDOW,
    // APER. MSG WINDOW and WAITING TIME are this implementation's choice.
    m_baStatusCodeToStr = { { 0x0000, "STOPPED" },        { 0x0003, "STARTING" },
                            { 0x0007, "IDLE" },           { 0x8022, "MACRO END" },
                            { 0x8023, "SENDING ID_DAT" }, { 0x8025, "SENDING ID_MSG" },
                            { 0x8028, "TESTING" },        { 0x8029, "TESTING END" },
                            { 0x8004, "PENDING" },        { 0x8038, "APER. VAR WINDOW" },
                            { 0x8039, "APER. MSG WINDOW" }, { 0x8030, "WAITING TIME" },
                            { 0x8031, "WAITING SYNC." },  { 0x8032, "WAITING SYNC. SILENT" } };
    const QString red = QStringLiteral(":/images/images/icon_arbiter_red_48x48.png");
    const QString yellow = QStringLiteral(":/images/images/icon_arbiter_yellow_48x48.png");
    const QString green = QStringLiteral(":/images/images/icon_arbiter_green_48x48.png");
    m_baStatusIcons = { { 0x0000, red },    { 0x0007, yellow }, { 0x8022, green }, { 0x8023, green },
                        { 0x8028, green },  { 0x8038, green },  { 0x8004, green }, { 0x8032, green } };
    m_flagIcons = { { true, QStringLiteral(":/images/images/icon_true_flag_green_48x48.png") },
                    { false, QStringLiteral(":/images/images/icon_false_flag_red_48x48.png") } };
    m_rgbColorMap = { { 0, " Black" }, { 1, " Blue" },    { 2, " Green" },  { 3, " Cyan" },
                      { 4, " Red" },   { 5, " Magenta" }, { 6, " Yellow" }, { 7, " White" } };
    m_insertionCountQuery = nullptr;
    clearInternalData();
}

MainDTModel::~MainDTModel()
{
    // The stack's commands refer to the model: drop them before the tree goes.
    m_undoStack->clear();
    delete m_rootItem;
}

// ---------------------------------------------------------------- item model

TreeItem* MainDTModel::getItem(const QModelIndex& index) const
{
    if (index.isValid()) {
        if (auto* item = static_cast<TreeItem*>(index.internalPointer()))
            return item;
    }
    return m_rootItem;
}

QModelIndex MainDTModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    if (row < 0 || column < 0 || column >= ColumnCount)
        return QModelIndex();
    TreeItem* parentItem = getItem(parent);
    TreeItem* childItem = parentItem->child(row);
    return childItem ? createIndex(row, column, childItem) : QModelIndex();
}

QModelIndex MainDTModel::parent(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    TreeItem* parentItem = getItem(index)->parent();
    if (!parentItem || parentItem == m_rootItem)
        return QModelIndex();
    return createIndex(parentItem->row(), 0, parentItem);
}

int MainDTModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return getItem(parent)->childCount();
}

int MainDTModel::columnCount(const QModelIndex&) const
{
    return m_rootItem->columnCount();
}

QVariant MainDTModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return m_rootItem->data(section);
    return QStringLiteral("Value");
}

quint8 MainDTModel::classType(const QModelIndex& index) const
{
    if (!index.isValid())
        return CLASS_NONE;
    bool ok = false;
    const uint k = getItem(index)->data(ColClassType).toString().toUInt(&ok);
    return (ok && k < CLASS_COUNT) ? quint8(k) : quint8(CLASS_NONE);
}

QString MainDTModel::text(const QModelIndex& index, int column) const
{
    if (!index.isValid())
        return QString();
    return getItem(index)->data(column).toString();
}

QModelIndex MainDTModel::cell(const QModelIndex& index, int column) const
{
    if (!index.isValid() || column < 0 || column >= ColumnCount)
        return QModelIndex();
    return createIndex(index.row(), column, index.internalPointer());
}

namespace {
QString instructionPosition(int row, int count)
{
    int width = 0;
    if (count >= 10000)
        width = 5;
    else if (count >= 1000)
        width = 4;
    else if (count >= 100)
        width = 3;
    else if (count >= 10)
        width = 2;
    return QStringLiteral("%1").arg(row + 1, width, 10, QLatin1Char('0'));
}

QColor ledColor(quint8 code)
{
    return QColor((code & 4) ? 255 : 0, (code & 2) ? 255 : 0, (code & 1) ? 255 : 0, 145);
}
} // namespace

QVariant MainDTModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role > Qt::EditRole)
        return QVariant();
    TreeItem* item = getItem(index);
    const int column = index.column();
    const quint8 kind = classType(index);

    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        const QVariant value = item->data(column);
        if (role == Qt::DisplayRole && column == ColObject && kind == INSTRUCTION) {
            const int count = item->parent() ? item->parent()->childCount() : 1;
            return instructionPosition(index.row(), count) + QStringLiteral(" - ") + value.toString();
        }
        return value;
    }

    // Decoration role.
    const QString value = item->data(column).toString();
    switch (column) {
    case ColObject:
        if (kind == MNEMONIC) {
            const QString pixmap = item->data(ColMnemoPixmap).toString();
            if (!pixmap.isEmpty() && QFileInfo::exists(pixmap))
                return QIcon(pixmap);
        }
        if (m_classTypeIcons.contains(kind))
            return QIcon(m_classTypeIcons.value(kind));
        return QVariant();
    case ColPromptness:
    case ColRefreshment:
        if ((kind == VARIABLE_OUT || kind == VARIABLE_IN) && (value == "true" || value == "false"))
            return QIcon(m_flagIcons.value(value == "true"));
        return QVariant();
    case ColBaStatus:
        if (kind == STATION) {
            bool ok = false;
            const quint16 code = item->data(ColBaStatusCode).toString().toUShort(&ok, 16);
            if (ok && m_baStatusIcons.contains(code))
                return QIcon(m_baStatusIcons.value(code));
        }
        return QVariant();
    case ColBaPresence:
    case ColDevicePresence:
        if (kind == STATION && (value == "true" || value == "false"))
            return QIcon(m_flagIcons.value(value == "true"));
        return QVariant();
    case ColDeviceColor:
        if (kind == STATION && !value.isEmpty()) {
            for (auto it = m_rgbColorMap.cbegin(); it != m_rgbColorMap.cend(); ++it) {
                if (it.value() == value || it.value().trimmed() == value.trimmed())
                    return ledColor(it.key());
            }
        }
        return QVariant();
    case ColFipDevice:
        if (kind == STATION && (value.isEmpty() || value == BindADevice))
            return QIcon(QLatin1String(kNoneIcon));
        return QVariant();
    default:
        return QVariant();
    }
}

Qt::ItemFlags MainDTModel::flags(const QModelIndex& index) const
{
    const Qt::ItemFlags base = QAbstractItemModel::flags(index);
    if (!index.isValid())
        return Qt::ItemIsDropEnabled; // the empty area takes new items; there is nothing to select
    const quint8 kind = classType(index);
    const int column = index.column();
    if (column == ColFipDevice) {
        if (kind == STATION)
            return base | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDropEnabled;
        return base | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    }
    if (column != ColObject)
        return base;
    if (kind == INSTRUCTION || kind == VARIABLE_IN || kind == VARIABLE_REF || kind == MESSAGE_IN)
        return base | Qt::ItemIsSelectable | Qt::ItemIsDropEnabled;
    return base | Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsDropEnabled;
}

bool MainDTModel::setDataWithoutControl(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    TreeItem* item = getItem(index);
    const QVariant old = item->data(index.column());
    if (!item->setData(index.column(), value))
        return false;
    emit dataChanged(index, index);
    if (index.column() == ColFipDevice && classType(index) == STATION && old != value) {
        updateDeviceFields(index);
        emit devicesBindingChanged();
    }
    return true;
}

bool MainDTModel::setLiveData(quint64 generation, const QModelIndex& row, int column, const QVariant& value)
{
    if (generation != m_structureGeneration || !row.isValid())
        return false;
    return setDataWithoutControl(cell(row, column), value);
}

void MainDTModel::updateDeviceFields(const QModelIndex& station)
{
    // "FIP Device" holds "<Bind a device>" or "index - type - speed - 0x%08x".
    const QString device = text(station, ColFipDevice);
    const QStringList parts = device.split(QStringLiteral(" - "));
    const bool bound = !device.isEmpty() && device != BindADevice && parts.size() >= 4;
    TreeItem* item = getItem(station);
    item->setData(ColDevicePresence, bound ? "true" : "false");
    item->setData(ColDeviceIndex, bound ? parts.at(0) : QString());
    item->setData(ColDeviceType, bound ? parts.at(1) : QString());
    item->setData(ColDeviceSpeed, bound ? parts.at(2) : QString());
    item->setData(ColDeviceProductNumber, bound ? parts.at(3) : QString());
    item->setData(ColDeviceTarget, bound ? device : QString());
    emit dataChanged(cell(station, ColDevicePresence), cell(station, ColDeviceSpeed));
}

bool MainDTModel::insertRowsWithoutControl(int row, int count, const QModelIndex& parent)
{
    TreeItem* parentItem = getItem(parent);
    if (row < 0 || row > parentItem->childCount() || count <= 0)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    const bool ok = parentItem->insertChildren(row, count, m_rootItem->columnCount());
    endInsertRows();
    renumberInstructions(parent);
    return ok;
}

bool MainDTModel::removeRowsWithoutControl(int row, int count, const QModelIndex& parent)
{
    TreeItem* parentItem = getItem(parent);
    if (row < 0 || count <= 0 || row + count > parentItem->childCount())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    const bool ok = parentItem->removeChildren(row, count);
    endRemoveRows();
    renumberInstructions(parent);
    return ok;
}

void MainDTModel::renumberInstructions(const QModelIndex& scanTable)
{
    // Instructions show their position: every sibling's text changes with the count.
    const int rows = rowCount(scanTable);
    if (rows > 0 && classType(scanTable) == SCAN_TABLE)
        emit dataChanged(index(0, 0, scanTable), index(rows - 1, 0, scanTable), { Qt::DisplayRole });
}

bool MainDTModel::insertRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() && parent.column() != 0)
        return true;
    m_undoStack->push(new MainDTAddCommand(parent, row, count, this));
    return true;
}

bool MainDTModel::removeRows(int row, int count, const QModelIndex& parent)
{
    TreeItem* parentItem = getItem(parent);
    if (row < 0 || count <= 0 || row + count > parentItem->childCount())
        return false;
    QList<QPersistentModelIndex> targets;
    for (int r = row; r < row + count; ++r)
        targets.append(QPersistentModelIndex(index(r, 0, parent)));
    const QString name = count == 1 ? text(targets.first(), ColObject) : QStringLiteral("Item(s)");
    m_undoStack->beginMacro(QStringLiteral("Remove - ") + name);
    for (const QPersistentModelIndex& target : targets) {
        if (target.isValid())
            removeNodeWithDependants(target);
    }
    updateNetworkMaxValues();
    m_undoStack->endMacro();
    emit indexChanged(parent);
    return true;
}

Qt::DropActions MainDTModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

QStringList MainDTModel::mimeTypes() const
{
    return { ItemModelMimeType };
}

void MainDTModel::clear()
{
    if (m_rootItem->childCount() > 0) {
        beginRemoveRows(QModelIndex(), 0, m_rootItem->childCount() - 1);
        m_rootItem->removeChildren(0, m_rootItem->childCount());
        endRemoveRows();
    }
    clearInternalData();
}

QUndoStack* MainDTModel::undoStack() const
{
    return m_undoStack;
}

// ---------------------------------------------------------------- main-window links

void MainDTModel::setCtrlPressedQuery(std::function<bool()> query)
{
    m_ctrlPressedQuery = std::move(query);
}

bool MainDTModel::isCtrlPressed() const
{
    return m_forcedCtrl || (m_ctrlPressedQuery && m_ctrlPressedQuery());
}

void MainDTModel::setForcedCtrl(bool forced)
{
    m_forcedCtrl = forced;
}

void MainDTModel::setInsertionCountQuery(std::function<bool(int*)> query)
{
    m_insertionCountQuery = std::move(query);
}

void MainDTModel::setMultiInsertPause(int ms)
{
    m_multiInsertPauseMs = qMax(0, ms);
}

void MainDTModel::setSavePathQuery(std::function<QString()> query)
{
    m_savePathQuery = std::move(query);
}

QString MainDTModel::savePath() const
{
    return m_savePathQuery ? m_savePathQuery() : QString();
}

void MainDTModel::setRgbColorMap(const QMap<quint8, QString>& map)
{
    m_rgbColorMap = map;
}

QMap<quint8, QString> MainDTModel::rgbColorMap() const
{
    return m_rgbColorMap;
}

// ---------------------------------------------------------------- maps

QMap<quint8, QString> MainDTModel::getClassTypeToStr() const
{
    return m_classTypeToStr;
}

QString MainDTModel::getClassTypeStr(quint8 kind) const
{
    return m_classTypeToStr.value(kind);
}

QMap<quint8, QString> MainDTModel::getClassTypeIcons() const
{
    return m_classTypeIcons;
}

QString MainDTModel::getBaStatusCodeToStr(quint16 code) const
{
    return m_baStatusCodeToStr.value(code);
}

QMap<quint16, QString> MainDTModel::getBaStatusCodeToStrMap() const
{
    return m_baStatusCodeToStr;
}

QMap<quint16, QString> MainDTModel::getBaStatusIcons() const
{
    return m_baStatusIcons;
}

QMap<bool, QString> MainDTModel::getFlagIcons() const
{
    return m_flagIcons;
}

void MainDTModel::emitIndexFocused(const QModelIndex& index)
{
    emit indexFocused(index);
}

void MainDTModel::emitDataChanged(const QModelIndex& index)
{
    emit dataChanged(index, index);
}

bool stationLessThan(const QModelIndex& a, const QModelIndex& b)
{
    const auto address = [](const QModelIndex& i) {
        return i.sibling(i.row(), MainDTModel::ColStationAddress).data(Qt::EditRole).toString().toUInt();
    };
    return address(a) < address(b);
}
