#include "control/HexaTabDelegate.h"

#include <QLineEdit>
#include <QRegExp>
#include <QRegExpValidator>

QWidget* HexaTabDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&, const QModelIndex&) const
{
    auto* editor = new QLineEdit(parent);
    editor->setMaxLength(2);
    // QRegExp, unlike PCRE, reads "{,2}" as "at most two".
    editor->setValidator(new QRegExpValidator(QRegExp(QStringLiteral("[0-9A-Fa-f]{,2}")), editor));
    return editor;
}
