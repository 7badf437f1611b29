#include "analysis/TransactionATDelegate.h"

#include "analysis/TransactionATModel.h"

#include <QColor>

TransactionATDelegate::TransactionATDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

void TransactionATDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // Every cell of a category row, not only its name.
    const QString name = index.siblingAtColumn(TransactionATModel::TransactionCol).data(Qt::DisplayRole).toString();
    if (!TransactionATModel::isCategoryName(name))
        return;
    option->font.setBold(true);
    option->fontMetrics = QFontMetrics(option->font);
    option->backgroundBrush = QColor(0xe8, 0xef, 0xf7);
}
