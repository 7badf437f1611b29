#include "design/MainDTDelegate.h"

#include "design/MainDTModel.h"

#include <QComboBox>
#include <QIcon>
#include <QPixmap>

namespace {
QIcon swatch(const QColor& color)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}
} // namespace

MainDTDelegate::MainDTDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

void MainDTDelegate::setUnattachedDevices(const QList<Device>& devices)
{
    m_devices = devices;
}

QList<MainDTDelegate::Device> MainDTDelegate::unattachedDevices() const
{
    return m_query ? m_query() : m_devices;
}

void MainDTDelegate::setUnattachedDevicesQuery(std::function<QList<Device>()> query)
{
    m_query = std::move(query);
}

bool MainDTDelegate::isDeviceCell(const QModelIndex& index) const
{
    if (!index.isValid() || index.column() != MainDTModel::ColFipDevice)
        return false;
    return index.sibling(index.row(), MainDTModel::ColClassType).data(Qt::EditRole).toString()
        == QString::number(MainDTModel::STATION);
}

QWidget* MainDTDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                      const QModelIndex& index) const
{
    if (!isDeviceCell(index))
        return QStyledItemDelegate::createEditor(parent, option, index);
    auto* combo = new QComboBox(parent);
    combo->addItem(QIcon(QStringLiteral(":/images/images/icon_none_96x96.png")), MainDTModel::BindADevice);
    for (const Device& device : unattachedDevices())
        combo->addItem(swatch(device.second), device.first);
    return combo;
}

void MainDTDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (!combo || !isDeviceCell(index)) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    const QString current = index.data(Qt::EditRole).toString();
    int position = combo->findText(current);
    if (position < 0 && !current.isEmpty()) {
        // The board bound to this station is not in the unattached list: offer it too.
        combo->insertItem(1, current);
        position = 1;
    }
    combo->setCurrentIndex(qMax(0, position));
}

void MainDTDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    auto* combo = qobject_cast<QComboBox*>(editor);
    if (!combo || !isDeviceCell(index)) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    model->setData(index, combo->currentText(), Qt::EditRole);
}
