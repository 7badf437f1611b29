#pragma once

#include <QStyledItemDelegate>

/// Edits one byte cell: at most two hexadecimal digits.
class HexaTabDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
};
