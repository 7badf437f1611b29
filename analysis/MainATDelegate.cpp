#include "analysis/MainATDelegate.h"

#include "analysis/ControlTable.h"
#include "capture/decoder/TraceRow.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace {

QStyle* styleOf(const QStyleOptionViewItem& option)
{
    return option.widget ? option.widget->style() : QApplication::style();
}

} // namespace

MainATDelegate::MainATDelegate(const ControlTable* controls, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_controls(controls)
{
}

QRect MainATDelegate::checkRect(const QStyleOptionViewItem& option)
{
    const QStyle* style = styleOf(option);
    const QSize size(style->pixelMetric(QStyle::PM_IndicatorWidth, &option, option.widget),
                     style->pixelMetric(QStyle::PM_IndicatorHeight, &option, option.widget));
    return QStyle::alignedRect(option.direction, Qt::AlignCenter, size, option.rect);
}

void MainATDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QString control = index.sibling(index.row(), TraceRow::Control).data().toString();
    const quint8 code = m_controls ? m_controls->getControlCode(control) : 0;
    const QColor colour = m_controls ? m_controls->getControlColor(code) : ControlTable::unknownColor();
    painter->fillRect(option.rect, colour);

    if (index.column() == TraceRow::Anchor) {
        QStyleOptionButton box;
        box.rect = checkRect(option);
        box.state = QStyle::State_Enabled | (index.data().toBool() ? QStyle::State_On : QStyle::State_Off);
        styleOf(option)->drawControl(QStyle::CE_CheckBox, &box, painter, option.widget);
        return;
    }
    QStyleOptionViewItem plain(option);
    plain.state &= ~QStyle::State_HasFocus;
    QStyledItemDelegate::paint(painter, plain, index);
}

bool MainATDelegate::editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                                 const QModelIndex& index)
{
    const Qt::ItemFlags f = model->flags(index);
    if (!(f & Qt::ItemIsEnabled) || !(f & Qt::ItemIsUserCheckable))
        return false;
    const QVariant value = index.data();
    if (!value.isValid() || value.toString().isEmpty())
        return false;

    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (!checkRect(option).contains(static_cast<QMouseEvent*>(event)->pos()))
            return false;
        break;
    case QEvent::MouseButtonDblClick:
        // Swallowed so a double click on the box does not toggle it twice.
        return checkRect(option).contains(static_cast<QMouseEvent*>(event)->pos());
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Space && key != Qt::Key_Select)
            return false;
        break;
    }
    default:
        return false;
    }
    const int state = value.toBool() ? Qt::Unchecked : Qt::Checked;
    // Handled even when unchecking leaves the anchor where it is.
    model->setData(index, state, Qt::CheckStateRole);
    return true;
}

QWidget* MainATDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() == TraceRow::Anchor) {
        auto* box = new QCheckBox(parent);
        box->setChecked(false);
        return box;
    }
    return QStyledItemDelegate::createEditor(parent, option, index);
}

void MainATDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QCheckBox*>(editor)) {
        box->setChecked(index.data().toBool());
        return;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void MainATDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    if (auto* box = qobject_cast<QCheckBox*>(editor)) {
        model->setData(index, box->isChecked() ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

void MainATDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() == TraceRow::Anchor) {
        editor->setGeometry(checkRect(option));
        return;
    }
    QStyledItemDelegate::updateEditorGeometry(editor, option, index);
}

QSize MainATDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() == TraceRow::Anchor)
        return checkRect(option).size().expandedTo(QSize(24, 18));
    return QStyledItemDelegate::sizeHint(option, index);
}
