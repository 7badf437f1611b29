#include "design/SettingsDTModel.h"

#include "design/MainDTModel.h"

#include <QTreeView>

#include <cmath>

namespace {

struct RowDef {
    const char* name;
    QList<const char*> children;
};

const QList<RowDef>& rowDefs()
{
    static const QList<RowDef> defs = {
        { "Name", {} },
        { "Frame Type", {} },
        { "Speed", {} },
        { "Time Settings", { "Silence", "Turn Around", "Silence Parameter", "Turn Around Parameter" } },
        { "Global BA Settings", { "Optimization", "Max Station Address", "Max Priority Level" } },
        { "Number", {} },
        { "Address", {} },
        { "TSlot", {} },
        { "TSlot Par", {} },
        { "Enabled", {} },
        { "Priority Level", {} },
        { "Time Settings", { "Election Time", "Start Time", "Election Parameter", "Start Parameter" } },
        { "Number", {} },
        { "Type", {} },
        { "ID", {} },
        { "Time (ms)", {} },
        { "Event Number", {} },
        { "Delay (ms)", {} },
        { "Direction", {} },
        { "ID", {} },
        { "PDU", {} },
        { "Length", {} },
        { "Refreshment", { "Dynamic", "Production Period (ms)" } },
        { "Aperiodic's List Transfer Request", {} },
        { "Message Emission Channel", { "Type", "Number" } },
        { "ID", {} },
        { "Promptness", { "Consumption Period (ms)" } },
        { "Message Reception Channel", {} },
        { "ID", {} },
        { "Mode", {} },
        { "Source Address", { "Segment", "ID" } },
        { "Destination Address", { "Segment", "ID" } },
        { "Channel Emission Attached", { "Type", "Number" } },
        { "Acknowledgment", {} },
        { "File Transfer", {} },
        { "Type", {} },
        { "Endianness", {} },
        { "Description", {} },
        { "Pixmap", {} },
        { "Start Bit", {} },
        { "Stop Bit", {} },
        { "Size (bytes)", {} },
    };
    return defs;
}

// Design columns computed by the design model; they have no editor of their own.
bool isDerivedColumn(int column)
{
    switch (column) {
    case MainDTModel::ColArbiterElectionTime:
    case MainDTModel::ColArbiterStartTime:
    case MainDTModel::ColArbiterElection:
    case MainDTModel::ColArbiterStart:
    case MainDTModel::ColMnemoStopBit:
        return true;
    default:
        return false;
    }
}

// A time cell shown read-only brings its parameter row along, so the value stays editable.
int parameterOfTime(int column)
{
    switch (column) {
    case MainDTModel::ColNetworkSilenceTime: return MainDTModel::ColNetworkSilence;
    case MainDTModel::ColNetworkTurnAroundTime: return MainDTModel::ColNetworkTurnAround;
    default: return -1;
    }
}

QString hexText(qlonglong value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0'));
}

// "0x" prefix hexadecimal, else decimal.
bool parseInteger(const QString& text, qlonglong* value)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        *value = t.mid(2).toLongLong(&ok, 16);
    else
        *value = t.toLongLong(&ok, 10);
    return ok && !t.isEmpty();
}

bool parseHex(const QString& text, qlonglong* value)
{
    const QString t = text.trimmed();
    bool ok = false;
    *value = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLongLong(&ok, 16)
                                                                      : t.toLongLong(&ok, 16);
    return ok && !t.isEmpty();
}

QString decimalText(double value)
{
    return QString::number(value, 'g', 12);
}

const int MaxVariableBytes = 126;  // RP_DAT of at most 131 bytes: control, PDU, length, data, FCS

} // namespace

SettingsDTModel::SettingsDTModel(int rows, int columns, QObject* parent)
    : QStandardItemModel(qMax(rows, int(RowCountTotal)), qMax(columns, 2), parent)
{
    setHorizontalHeaderLabels({ QStringLiteral("Property"), QStringLiteral("Value") });
    buildRows();
}

void SettingsDTModel::buildRows()
{
    const auto makeItems = [](const QString& name, bool editable) {
        auto* property = new QStandardItem(name);
        property->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        auto* value = new QStandardItem;
        value->setFlags(editable ? (Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled)
                                 : (Qt::ItemIsSelectable | Qt::ItemIsEnabled));
        return QList<QStandardItem*> { property, value };
    };
    const QList<RowDef>& defs = rowDefs();
    for (int row = 0; row < defs.size(); ++row) {
        const QList<QStandardItem*> items = makeItems(QString::fromLatin1(defs.at(row).name), true);
        setItem(row, PropertyColumn, items.at(0));
        setItem(row, ValueColumn, items.at(1));
        for (int c = 0; c < defs.at(row).children.size(); ++c) {
            const QString name = QString::fromLatin1(defs.at(row).children.at(c));
            // the network's silence and turnaround times follow their parameters
            const bool readOnly = row == RowTimeSettings && (c == 0 || c == 1);
            items.at(0)->appendRow(makeItems(name, !readOnly));
        }
    }
}

QVariant SettingsDTModel::data(const QModelIndex& index, int role) const
{
    if (role == Qt::ToolTipRole && index.column() == ValueColumn)
        return QStandardItemModel::data(index, Qt::DisplayRole);
    return QStandardItemModel::data(index, role);
}

bool SettingsDTModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role == Qt::EditRole && !(flags(index) & Qt::ItemIsEditable))
        return false;
    return QStandardItemModel::setData(index, value, role);
}

QStringList SettingsDTModel::frameTypes() { return { "WorldFIP", "SlowFIP" }; }
QStringList SettingsDTModel::optimizations() { return { "Optimization 0", "Optimization 1", "Optimization 2" }; }
QStringList SettingsDTModel::instructionTypes()
{
    return { "SEND_ID_DAT", "SEND_ID_MSG", "SEND_MSG", "SEND_APER", "NEXT_MACRO",
             "SUSPEND", "WAIT_TIME", "WAIT_SYNC", "TESTP", "SM_MPS" };
}
QStringList SettingsDTModel::priorities() { return { "Normal", "Urgent" }; }
QStringList SettingsDTModel::priorityLevels()
{
    QStringList list;
    for (int level = 0; level <= 15; ++level) {
        if (level == 0)
            list << QStringLiteral("0  (Highest)");
        else if (level == 15)
            list << QStringLiteral("15  (Lowest)");
        else
            list << QString::number(level);
    }
    return list;
}
QStringList SettingsDTModel::channelTypes() { return { "Periodic", "Aperiodic" }; }
QStringList SettingsDTModel::dataTypes()
{
    return { "Ascii", "Bool", "Double", "Float", "Hexa", "Int8", "Int16", "Int32", "Int64",
             "UInt8", "UInt16", "UInt32", "UInt64" };
}
QStringList SettingsDTModel::byteOrders() { return { "Big-Endian", "Little-Endian" }; }
QStringList SettingsDTModel::directions() { return { "OUT", "IN" }; }
QStringList SettingsDTModel::pduTypes() { return { "MPS", "SM_MPS" }; }
QStringList SettingsDTModel::booleans() { return { "true", "false" }; }

const QList<QPair<int, SettingsDTModel::CellRef>>& SettingsDTModel::columnCells()
{
    static const QList<QPair<int, CellRef>> cells = {
        { 0, { RowName, -1 } },
        { 3, { RowFrameType, -1 } },
        { 4, { RowSpeed, -1 } },
        { 5, { RowGlobalBaSettings, 1 } },
        { 6, { RowGlobalBaSettings, 2 } },
        { 7, { RowGlobalBaSettings, 0 } },
        { 8, { RowTimeSettings, 0 } },
        { 9, { RowTimeSettings, 1 } },
        { 10, { RowTimeSettings, 2 } },
        { 11, { RowTimeSettings, 3 } },
        { 12, { RowSegmentNumber, -1 } },
        { 13, { RowStationAddress, -1 } },
        { 14, { RowTSlot, -1 } },
        { 15, { RowTSlotPar, -1 } },
        { 16, { RowArbiterEnabled, -1 } },
        { 17, { RowPriorityLevel, -1 } },
        { 18, { RowArbiterTimeSettings, 0 } },
        { 19, { RowArbiterTimeSettings, 1 } },
        { 20, { RowArbiterTimeSettings, 2 } },
        { 21, { RowArbiterTimeSettings, 3 } },
        { 22, { RowScanTableNumber, -1 } },
        { 23, { RowInstructionType, -1 } },
        { 24, { RowInstructionId, -1 } },
        { 25, { RowInstructionTime, -1 } },
        { 27, { RowDelay, -1 } },
        { 30, { RowEventNumber, -1 } },
        { 31, { RowDirection, -1 } },
        { 32, { RowVarOutId, -1 } },
        { 33, { RowPdu, -1 } },
        { 34, { RowLength, -1 } },
        { 35, { RowRefreshment, -1 } },
        { 36, { RowRefreshment, 0 } },
        { 37, { RowRefreshment, 1 } },
        { 39, { RowAperiodicRequest, -1 } },
        { 40, { RowMessageEmission, -1 } },
        { 41, { RowMessageEmission, 0 } },
        { 42, { RowMessageEmission, 1 } },
        { 43, { RowMessageReception, -1 } },
        { 44, { RowVarInId, -1 } },
        { 45, { RowPromptness, -1 } },
        { 46, { RowPromptness, 0 } },
        { 48, { RowVarRefId, -1 } },
        { 49, { RowMode, -1 } },
        { 50, { RowSourceAddress, 0 } },
        { 51, { RowSourceAddress, 1 } },
        { 52, { RowDestinationAddress, 0 } },
        { 53, { RowDestinationAddress, 1 } },
        { 56, { RowChannelEmission, 0 } },
        { 57, { RowChannelEmission, 1 } },
        { 58, { RowAcknowledgment, -1 } },
        { 59, { RowMnemoType, -1 } },
        { 60, { RowEndianness, -1 } },
        { 61, { RowDescription, -1 } },
        { 62, { RowPixmap, -1 } },
        { 63, { RowStartBit, -1 } },
        { 64, { RowStopBit, -1 } },
        { 65, { RowByteSize, -1 } },
        { 66, { RowFileTransfer, -1 } },
    };
    return cells;
}

bool SettingsDTModel::cellRef(int designColumn, CellRef* ref)
{
    for (const auto& entry : columnCells()) {
        if (entry.first == designColumn) {
            *ref = entry.second;
            return true;
        }
    }
    return false;
}

QList<int> SettingsDTModel::mappedColumns()
{
    QList<int> columns;
    for (const auto& entry : columnCells())
        columns << entry.first;
    return columns;
}

QStandardItem* SettingsDTModel::cellItem(const CellRef& ref, int column) const
{
    if (ref.child < 0)
        return item(ref.row, column);
    QStandardItem* group = item(ref.row, PropertyColumn);
    return group ? group->child(ref.child, column) : nullptr;
}

QStandardItem* SettingsDTModel::valueItem(int designColumn) const
{
    CellRef ref {};
    return cellRef(designColumn, &ref) ? cellItem(ref, ValueColumn) : nullptr;
}

QModelIndex SettingsDTModel::valueIndex(int designColumn) const
{
    QStandardItem* value = valueItem(designColumn);
    return value ? value->index() : QModelIndex();
}

int SettingsDTModel::designColumn(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.column() != ValueColumn)
        return -1;
    const QModelIndex parent = index.parent();
    const CellRef here { parent.isValid() ? parent.row() : index.row(), parent.isValid() ? index.row() : -1 };
    if (parent.isValid() && parent.parent().isValid())
        return -1;
    for (const auto& entry : columnCells()) {
        if (entry.second.row == here.row && entry.second.child == here.child)
            return entry.first;
    }
    return -1;
}

int SettingsDTModel::designColumn(const QStandardItem* item) const
{
    return item && item->model() == this ? designColumn(item->index()) : -1;
}

MainDTModel* SettingsDTModel::designModel() const
{
    return m_designModel.data();
}

QModelIndex SettingsDTModel::node() const
{
    return m_node;
}

void SettingsDTModel::connectDesignModel(MainDTModel* model)
{
    if (m_designModel == model)
        return;
    if (m_designModel)
        disconnect(m_designModel, nullptr, this, nullptr);
    m_designModel = model;
    if (!model)
        return;
    connect(model, &QAbstractItemModel::dataChanged, this, &SettingsDTModel::onDesignDataChanged);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &SettingsDTModel::onDesignStructureChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &SettingsDTModel::onDesignStructureChanged);
    connect(model, &QObject::destroyed, this, &SettingsDTModel::clearNode);
}

void SettingsDTModel::onDesignDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (!m_node.isValid() || m_loading)
        return;
    const QModelIndex node = m_node;
    if (topLeft.parent() == node.parent() && node.row() >= topLeft.row() && node.row() <= bottomRight.row())
        reload();
}

void SettingsDTModel::onDesignStructureChanged()
{
    // a removed node leaves its persistent index invalid: the table empties itself
    if (!m_node.isValid())
        reload();
}

QList<int> SettingsDTModel::columnsShownFor(const QModelIndex& node) const
{
    if (!m_designModel || !node.isValid())
        return {};
    const quint8 kind = m_designModel->classType(node);
    QVariant selector;
    if (kind == MainDTModel::INSTRUCTION)
        selector = nodeText(MainDTModel::ColInstructionType);
    else if (kind == MainDTModel::MNEMONIC)
        selector = nodeText(MainDTModel::ColMnemoType);
    QList<int> columns = MainDTModel::indexesRangeForClass(kind, selector);
    const QList<int> listed = columns;
    for (int column : listed) {
        const int parameter = parameterOfTime(column);
        if (parameter >= 0 && !columns.contains(parameter))
            columns << parameter;
    }
    return columns;
}

QString SettingsDTModel::nodeText(int column) const
{
    if (!m_designModel || !m_node.isValid())
        return QString();
    return m_designModel->data(m_node.sibling(m_node.row(), column), Qt::EditRole).toString();
}

void SettingsDTModel::loadFromIndex(MainDTModel* model, const QModelIndex& node)
{
    connectDesignModel(model);
    m_node = (model && node.isValid() && node.model() == model) ? QPersistentModelIndex(node.sibling(node.row(), 0))
                                                                : QPersistentModelIndex();
    reload();
}

void SettingsDTModel::clearNode()
{
    m_node = QPersistentModelIndex();
    reload();
}

void SettingsDTModel::reload()
{
    const QList<int> shown = columnsShownFor(m_node);
    m_loading = true;
    for (int column : mappedColumns()) {
        if (QStandardItem* value = valueItem(column))
            value->setText(nodeText(column));
    }
    m_loading = false;
    if (shown != m_shownColumns) {
        m_shownColumns = shown;
        emit rowsVisibilityChanged();
    }
}

bool SettingsDTModel::isRowShown(int row, const QModelIndex& parent) const
{
    if (parent.isValid()) {
        const int column = designColumn(index(row, ValueColumn, parent));
        return column >= 0 && m_shownColumns.contains(column);
    }
    const int column = designColumn(index(row, ValueColumn));
    if (column >= 0 && m_shownColumns.contains(column))
        return true;
    // a group row without a value of its own shows while one of its children does
    const QModelIndex group = index(row, PropertyColumn);
    if (column >= 0)
        return false;
    for (int child = 0; child < rowCount(group); ++child) {
        if (isRowShown(child, group))
            return true;
    }
    return false;
}

void SettingsDTModel::attachView(QTreeView* view)
{
    if (!view)
        return;
    view->setModel(this);
    const QPointer<QTreeView> guarded(view);
    connect(this, &SettingsDTModel::rowsVisibilityChanged, view, [this, guarded] { applyRowVisibility(guarded); });
    applyRowVisibility(view);
}

void SettingsDTModel::applyRowVisibility(QTreeView* view) const
{
    if (!view || view->model() != this)
        return;
    for (int row = 0; row < rowCount(); ++row) {
        const QModelIndex group = index(row, PropertyColumn);
        view->setRowHidden(row, QModelIndex(), !isRowShown(row));
        for (int child = 0; child < rowCount(group); ++child)
            view->setRowHidden(child, group, !isRowShown(child, group));
    }
}

QString SettingsDTModel::networkSpeed() const
{
    return m_designModel ? m_designModel->getNetworkSpeed() : QString();
}

double SettingsDTModel::stationTSlotMs() const
{
    return m_designModel && m_node.isValid() ? m_designModel->getStationTSlotMs(m_node) : 1.0;
}

SettingsDTModel::Editor SettingsDTModel::editorFor(const QModelIndex& index) const
{
    Editor editor;
    const int column = designColumn(index);
    if (column < 0 || !(flags(index) & Qt::ItemIsEditable) || isDerivedColumn(column))
        return editor;

    const auto combo = [&editor](const QStringList& items, const QStringList& values = QStringList()) {
        editor.kind = Editor::Combo;
        editor.items = items;
        editor.values = values;
    };
    const auto integer = [&editor](double min, double max) {
        editor.kind = Editor::Integer;
        editor.minimum = min;
        editor.maximum = max;
    };
    const auto hexadecimal = [&editor](double min, double max, int digits) {
        editor.kind = Editor::Hexadecimal;
        editor.minimum = min;
        editor.maximum = max;
        editor.hexDigits = digits;
    };
    // times are whole TSlot multiples, at most `count` of them
    const auto tslotTime = [&editor, this](double low, int count) {
        const double t = stationTSlotMs();
        editor.kind = Editor::Decimal;
        editor.minimum = low;
        editor.maximum = count * t;
        editor.step = t;
        editor.decimals = 4;
    };
    const auto period = [&](int switchColumn) {
        tslotTime(nodeText(switchColumn) == QLatin1String("false") ? 0.0 : stationTSlotMs(), 16383);
    };

    const QString speed = networkSpeed();
    quint8 min = 0;
    quint8 max = 0;
    switch (column) {
    case MainDTModel::ColObject:
    case MainDTModel::ColMnemoDescription:
    case MainDTModel::ColMnemoPixmap:
        editor.kind = Editor::Text;
        break;
    case MainDTModel::ColNetworkFrameType: combo(frameTypes()); break;
    case MainDTModel::ColNetworkSpeed: combo(FipCalculator::getSpeedList()); break;
    case MainDTModel::ColNetworkBaOptimization: combo(optimizations()); break;
    case MainDTModel::ColNetworkBaMaxStationAddress: integer(0, 255); break;
    case MainDTModel::ColNetworkBaMaxPriority: integer(0, 15); break;
    case MainDTModel::ColNetworkSilence:
        if (m_calculator.getSilenceRange(speed, &min, &max))
            hexadecimal(min, max, 2);
        break;
    case MainDTModel::ColNetworkTurnAround:
        if (m_calculator.getTurnAroundRange(speed, &min, &max))
            hexadecimal(min, max, 2);
        break;
    case MainDTModel::ColSegmentNumber:
    case MainDTModel::ColStationAddress:
    case MainDTModel::ColScanTableNumber:
    case MainDTModel::ColInstructionSuspendEventNumber:
    case MainDTModel::ColVarOutMessageTransferChannel:
    case MainDTModel::ColMsgSourceSegment:
    case MainDTModel::ColMsgDestinationSegment:
    case MainDTModel::ColMsgChannelNumber:
        integer(0, 255);
        break;
    case MainDTModel::ColStationTSlotTime: combo(m_calculator.getTSlotTimeList(speed)); break;
    case MainDTModel::ColStationTSlot: hexadecimal(0, FipCalculator::TSlotCodeCount - 1, 2); break;
    case MainDTModel::ColArbiterPriorityLevel: {
        QStringList values;
        for (int level = 0; level <= 15; ++level)
            values << QString::number(level);
        combo(priorityLevels(), values);
        break;
    }
    case MainDTModel::ColInstructionType: combo(instructionTypes()); break;
    case MainDTModel::ColInstructionId:
    case MainDTModel::ColVarOutId:
    case MainDTModel::ColVarInId:
    case MainDTModel::ColVarRefId:
    case MainDTModel::ColMsgSourceId:
    case MainDTModel::ColMsgDestinationId:
        hexadecimal(0, 0xFFFE, 4);
        break;
    case MainDTModel::ColInstructionTime:
    case MainDTModel::ColInstructionSuspendDelay:
        tslotTime(0.0, 32767);
        break;
    case MainDTModel::ColVarOutRefreshmentPeriod: period(MainDTModel::ColVarOutRefreshmentEnabled); break;
    case MainDTModel::ColVarInPromptnessPeriod: period(MainDTModel::ColVarInPromptnessEnabled); break;
    case MainDTModel::ColVariableDirection: combo(directions()); break;
    case MainDTModel::ColVarOutPdu: combo(pduTypes()); break;
    case MainDTModel::ColVarOutLength: integer(1, MaxVariableBytes); break;
    case MainDTModel::ColVarOutRefreshmentEnabled:
    case MainDTModel::ColVarOutDynamicRefreshmentEnabled:
    case MainDTModel::ColArbiterEnabled:
    case MainDTModel::ColVarOutAperiodicRequestEnabled:
    case MainDTModel::ColVarOutMessageTransferEnabled:
    case MainDTModel::ColVarMessageReceptionEnabled:
    case MainDTModel::ColVarInPromptnessEnabled:
    case MainDTModel::ColMsgAcknowledgmentEnabled:
    case MainDTModel::ColMsgFileTransferEnabled:
        combo(booleans());
        break;
    case MainDTModel::ColVarOutMessageTransferType:
    case MainDTModel::ColMsgChannelType:
        combo(channelTypes());
        break;
    case MainDTModel::ColAperListMode: combo(priorities()); break;
    case MainDTModel::ColMnemoType: combo(dataTypes()); break;
    case MainDTModel::ColMnemoEndianness: combo(byteOrders()); break;
    case MainDTModel::ColMnemoStartBit: integer(0, MaxVariableBytes * 8 - 1); break;
    case MainDTModel::ColMnemoByteSize: integer(1, MaxVariableBytes); break;
    default:
        break;
    }
    return editor;
}

bool SettingsDTModel::acceptsValue(const QModelIndex& index, const QString& text) const
{
    const Editor editor = editorFor(index);
    qlonglong integer = 0;
    switch (editor.kind) {
    case Editor::NoEditor:
        return false;
    case Editor::Text:
        return true;
    case Editor::Combo:
        return (editor.values.isEmpty() ? editor.items : editor.values).contains(text);
    case Editor::Integer:
        return parseInteger(text, &integer) && integer >= editor.minimum && integer <= editor.maximum;
    case Editor::Hexadecimal:
        return parseHex(text, &integer) && integer >= editor.minimum && integer <= editor.maximum;
    case Editor::Decimal: {
        bool ok = false;
        const double value = text.trimmed().toDouble(&ok);
        // the spin box rounds to its decimals: accept what it can show
        const double tolerance = 0.5 * std::pow(10.0, -editor.decimals);
        return ok && value >= editor.minimum - tolerance && value <= editor.maximum + tolerance;
    }
    }
    return false;
}

QString SettingsDTModel::normalized(const QModelIndex& index, const QString& text) const
{
    const Editor editor = editorFor(index);
    qlonglong integer = 0;
    switch (editor.kind) {
    case Editor::Integer:
        return parseInteger(text, &integer) ? QString::number(integer) : text;
    case Editor::Hexadecimal:
        return parseHex(text, &integer) ? hexText(integer, editor.hexDigits) : text;
    case Editor::Decimal:
        return decimalText(text.trimmed().toDouble());
    default:
        return text;
    }
}

void SettingsDTModel::refuse(const QModelIndex& index, const QString& text)
{
    const QString property = index.sibling(index.row(), PropertyColumn).data().toString();
    emit statusBarMessage(1, QStringLiteral("Invalid '%1' entry: %2 is not an allowed value.").arg(property, text.toHtmlEscaped()));
}

bool SettingsDTModel::applyItemChange(QStandardItem* item)
{
    if (m_loading || !item || !m_designModel || !m_node.isValid())
        return false;
    const int column = designColumn(item);
    if (column < 0 || column > MainDTModel::LastProjectColumn)
        return false;
    const QString text = item->text();
    const QString before = nodeText(column);
    if (text == before)
        return false;
    if (!acceptsValue(item->index(), text)) {
        refuse(item->index(), text);
        reload();
        return false;
    }
    // the design model derives the paired cells (TSlot code, silence and turnaround times)
    const QString value = normalized(item->index(), text);
    if (value != before)
        m_designModel->setData(m_node.sibling(m_node.row(), column), value, Qt::EditRole);
    const bool taken = nodeText(column) != before;
    // a refused value, or one the design adjusted (TSlot multiples), shows as the design keeps it
    reload();
    return taken;
}
