#pragma once

#include <QStyledItemDelegate>

/// Draws the category rows of the transaction tree in bold on a light background, so the
/// identifiers below them stand out as their members.
class TransactionATDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TransactionATDelegate(QObject* parent = nullptr);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};
