#include "analysis/MnemoATModel.h"

#include "design/MainDTModel.h"

#include <QIcon>

MnemoATModel::MnemoATModel(QObject* parent)
    : QAbstractItemModel(parent)
{
}

QVector<QVariant> MnemoATModel::getColumnPropertyData()
{
    return { tr("Mnemonic"), tr("ID"), tr("Data Rendering"), tr("Endianness"), tr("Description"), tr("Start Bit"),
             tr("Stop Bit"), tr("Byte Size"), tr("Data Type"), tr("Data Changes"), tr("Data Value"), tr("Pixmap") };
}

void MnemoATModel::setMainDTMnemoIdxes(const QModelIndexList& mnemonics)
{
    beginResetModel();
    m_rows.clear();
    for (const QModelIndex& mnemonic : mnemonics) {
        auto text = [&](const QModelIndex& node, int column) {
            return node.sibling(node.row(), column).data().toString();
        };
        const QModelIndex rendering = mnemonic.parent();
        const QModelIndex owner = rendering.parent();
        const int ownerKind = text(owner, MainDTModel::ColClassType).toInt();
        const QString id = ownerKind == MainDTModel::MESSAGE_OUT ? text(owner, MainDTModel::ColMsgSourceId)
                                                                 : text(owner, MainDTModel::ColVarOutId);
        QString byteSize = text(mnemonic, MainDTModel::ColMnemoByteSize);
        if (byteSize.isEmpty()) {
            const int bits = text(mnemonic, MainDTModel::ColMnemoStopBit).toInt()
                - text(mnemonic, MainDTModel::ColMnemoStartBit).toInt() + 1;
            byteSize = QString::number(qMax(0, (bits + 7) / 8));
        }
        m_rows.append({ text(mnemonic, MainDTModel::ColObject), id, text(rendering, MainDTModel::ColObject),
                        text(mnemonic, MainDTModel::ColMnemoEndianness), text(mnemonic, MainDTModel::ColMnemoDescription),
                        text(mnemonic, MainDTModel::ColMnemoStartBit), text(mnemonic, MainDTModel::ColMnemoStopBit),
                        byteSize, text(mnemonic, MainDTModel::ColMnemoType), QStringLiteral("0"), QString(),
                        text(mnemonic, MainDTModel::ColMnemoPixmap) });
    }
    endResetModel();
}

void MnemoATModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

void MnemoATModel::setValueStr(int row, const QString& text)
{
    setData(index(row, DataValueCol), text);
}

void MnemoATModel::setDataChangesCounter(int row, quint64 count)
{
    setData(index(row, DataChangesCol), QString::number(count));
}

QModelIndex MnemoATModel::index(int row, int column, const QModelIndex& parent) const
{
    if (parent.isValid() || row < 0 || row >= m_rows.size() || column < 0 || column >= ColumnCount)
        return QModelIndex();
    return createIndex(row, column);
}

QModelIndex MnemoATModel::parent(const QModelIndex&) const
{
    return QModelIndex();
}

int MnemoATModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int MnemoATModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

QVariant MnemoATModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QVariant();
    return getColumnPropertyData().at(section);
}

Qt::ItemFlags MnemoATModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QVariant MnemoATModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const QVector<QVariant>& row = m_rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return row.at(index.column());
    if (role == Qt::DecorationRole && index.column() == MnemonicCol) {
        const QString path = row.at(PixmapCol).toString();
        return path.isEmpty() ? QVariant() : QVariant(QIcon(path));
    }
    return QVariant();
}

bool MnemoATModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.row() >= m_rows.size())
        return false;
    QVariant& cell = m_rows[index.row()][index.column()];
    if (cell == value)
        return true;
    cell = value;
    emit dataChanged(index, index, { Qt::DisplayRole, Qt::EditRole });
    return true;
}

bool MnemoATModel::insertRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || row > m_rows.size() || count <= 0)
        return false;
    beginInsertRows(parent, row, row + count - 1);
    for (int i = 0; i < count; ++i)
        m_rows.insert(row, QVector<QVariant>(ColumnCount));
    endInsertRows();
    return true;
}

bool MnemoATModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_rows.size())
        return false;
    beginRemoveRows(parent, row, row + count - 1);
    m_rows.remove(row, count);
    endRemoveRows();
    return true;
}

QVector<QVariant>* MnemoATModel::getItem(const QModelIndex& index)
{
    if (!index.isValid() || index.model() != this || index.row() >= m_rows.size())
        return nullptr;
    return &m_rows[index.row()];
}
