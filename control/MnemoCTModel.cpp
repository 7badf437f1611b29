#include "control/MnemoCTModel.h"

#include "control/MnemoCodec.h"
#include "design/MainDTModel.h"

#include <QComboBox>
#include <QIcon>

namespace {

bool isMnemonic(const QModelIndex& index)
{
    return index.isValid()
        && index.sibling(index.row(), MainDTModel::ColClassType).data().toInt() == MainDTModel::MNEMONIC;
}

} // namespace

MnemoCTModel::MnemoCTModel(QObject* parent)
    : QStandardItemModel(0, ColumnCount, parent)
{
    setHorizontalHeaderLabels({ tr("Name"), tr("Value"), tr("Unit"), tr("Type"), tr("Endianness"), tr("Start Bit"),
                                tr("Stop Bit"), tr("Data Rendering"), tr("Pixmap") });
}

QString MnemoCTModel::extractToStr(const QModelIndex& mnemonic, const QByteArray& bytes, bool* ok)
{
    if (!isMnemonic(mnemonic)) {
        if (ok)
            *ok = false;
        return QString();
    }
    return MnemoCodec::toText(MnemoField::fromDesign(mnemonic), bytes, ok);
}

QVariant MnemoCTModel::extractToVariant(const QModelIndex& mnemonic, const QByteArray& bytes, bool* ok)
{
    if (!isMnemonic(mnemonic)) {
        if (ok)
            *ok = false;
        return QVariant();
    }
    return MnemoCodec::toVariant(MnemoField::fromDesign(mnemonic), bytes, ok);
}

void MnemoCTModel::appendMnemo(const QModelIndex& mnemonic, const QByteArray& bytes, quint8 classT)
{
    Q_UNUSED(classT)
    auto text = [&](int column) { return mnemonic.sibling(mnemonic.row(), column).data().toString(); };
    const QString value = extractToStr(mnemonic, bytes, nullptr);
    QList<QStandardItem*> row;
    for (const QString& cell : { text(MainDTModel::ColObject), value, text(MainDTModel::ColMnemoDescription),
                                 text(MainDTModel::ColMnemoType), text(MainDTModel::ColMnemoEndianness),
                                 text(MainDTModel::ColMnemoStartBit), text(MainDTModel::ColMnemoStopBit),
                                 mnemonic.parent().sibling(mnemonic.parent().row(), MainDTModel::ColObject).data().toString(),
                                 text(MainDTModel::ColMnemoPixmap) }) {
        auto* item = new QStandardItem(cell);
        item->setEditable(false);
        row << item;
    }
    row[ValueCol]->setEditable(true);
    row[NameCol]->setData(QVariant::fromValue(QPersistentModelIndex(mnemonic.sibling(mnemonic.row(), 0))), Qt::UserRole);
    appendRow(row);
}

void MnemoCTModel::clearRows()
{
    removeRows(0, rowCount());
}

QModelIndex MnemoCTModel::mnemonicOf(int row) const
{
    const QStandardItem* first = item(row, NameCol);
    return first ? QModelIndex(first->data(Qt::UserRole).value<QPersistentModelIndex>()) : QModelIndex();
}

QVariant MnemoCTModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return QStandardItemModel::data(index, role);
    if (role == Qt::DecorationRole && index.column() == NameCol) {
        const QString path = QStandardItemModel::data(index.sibling(index.row(), PixmapCol)).toString();
        return path.isEmpty() ? QVariant() : QVariant(QIcon(path));
    }
    if (role == Qt::UserRole)
        return QStandardItemModel::data(index, role);
    return QVariant();
}

bool MnemoCTModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid())
        return false;
    if (role == Qt::EditRole || role == Qt::DisplayRole) {
        if (QStandardItemModel::data(index, role) == value)
            return false;
        if (index.column() == ValueCol && QStandardItemModel::data(index.sibling(index.row(), TypeCol)).toString()
                                              == QLatin1String("Hexa")
            && !MnemoCodec::isValidHexa(value.toString())) {
            emit invalidEntry(tr("Invalid hexa value entry."));
            return false;
        }
    }
    return QStandardItemModel::setData(index, value, role);
}

QWidget* MnemoCTDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() == MnemoCTModel::TypeCol) {
        auto* box = new QComboBox(parent);
        box->addItems(MainDTModel::mnemonicTypes());
        return box;
    }
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void MnemoCTDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        box->setCurrentText(index.data().toString());
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void MnemoCTDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        model->setData(index, box->currentText());
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}
