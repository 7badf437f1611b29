#include "design/SettingsDTDelegate.h"

#include "design/SettingsDTModel.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QRegularExpression>


namespace {

const SettingsDTModel* settingsModel(const QModelIndex& index)
{
    return qobject_cast<const SettingsDTModel*>(index.model());
}

SettingsDTModel::Editor editorOf(const QModelIndex& index)
{
    const SettingsDTModel* model = settingsModel(index);
    return model ? model->editorFor(index) : SettingsDTModel::Editor();
}

qlonglong parseStoredInteger(const QString& text, bool hexadecimal)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        return t.mid(2).toLongLong(&ok, 16);
    const qlonglong value = t.toLongLong(&ok, hexadecimal ? 16 : 10);
    return ok ? value : 0;
}

} // namespace

HexSpinBox::HexSpinBox(int digits, QWidget* parent)
    : QSpinBox(parent)
    , m_digits(digits)
{
    setDisplayIntegerBase(16);
}

QString HexSpinBox::valueText() const
{
    return textFromValue(value());
}

QString HexSpinBox::textFromValue(int value) const
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(m_digits, QLatin1Char('0'));
}

int HexSpinBox::valueFromText(const QString& text) const
{
    QString t = text.trimmed();
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        t = t.mid(2);
    bool ok = false;
    const int value = t.toInt(&ok, 16);
    return ok ? value : minimum();
}

QValidator::State HexSpinBox::validate(QString& input, int&) const
{
    static const QRegularExpression hex(QStringLiteral("^(0[xX])?([0-9a-fA-F]*)$"));
    const QRegularExpressionMatch match = hex.match(input.trimmed());
    if (!match.hasMatch())
        return QValidator::Invalid;
    const QString digits = match.captured(2);
    if (digits.isEmpty())
        return QValidator::Intermediate;
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok, 16);
    if (!ok || value > maximum())
        return QValidator::Invalid;
    return value < minimum() ? QValidator::Intermediate : QValidator::Acceptable;
}

SettingsDTDelegate::SettingsDTDelegate(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QWidget* SettingsDTDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                          const QModelIndex& index) const
{
    Q_UNUSED(option)
    const SettingsDTModel::Editor editor = editorOf(index);
    switch (editor.kind) {
    case SettingsDTModel::Editor::NoEditor:
        return nullptr;
    case SettingsDTModel::Editor::Combo: {
        auto* combo = new QComboBox(parent);
        for (int i = 0; i < editor.items.size(); ++i)
            combo->addItem(editor.items.at(i), editor.values.value(i, editor.items.at(i)));
        return combo;
    }
    case SettingsDTModel::Editor::Integer: {
        auto* spin = new QSpinBox(parent);
        spin->setRange(int(editor.minimum), int(editor.maximum));
        return spin;
    }
    case SettingsDTModel::Editor::Hexadecimal: {
        auto* spin = new HexSpinBox(editor.hexDigits, parent);
        spin->setRange(int(editor.minimum), int(editor.maximum));
        return spin;
    }
    case SettingsDTModel::Editor::Decimal: {
        auto* spin = new QDoubleSpinBox(parent);
        spin->setDecimals(editor.decimals);
        spin->setRange(editor.minimum, editor.maximum);
        spin->setSingleStep(editor.step);
        return spin;
    }
    case SettingsDTModel::Editor::Text:
        return new QLineEdit(parent);
    }
    return nullptr;
}

void SettingsDTDelegate::setEditorData(QWidget* widget, const QModelIndex& index) const
{
    const QString text = index.data(Qt::EditRole).toString();
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        int position = combo->findData(text);
        if (position < 0 && !text.isEmpty()) {
            // keep a stored value the list does not offer (an older project) until the user picks
            combo->insertItem(0, text, text);
            position = 0;
        }
        combo->setCurrentIndex(position);
    } else if (auto* hex = dynamic_cast<HexSpinBox*>(widget)) {
        hex->setValue(int(parseStoredInteger(text, true)));
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        spin->setValue(int(parseStoredInteger(text, false)));
    } else if (auto* real = qobject_cast<QDoubleSpinBox*>(widget)) {
        real->setValue(text.trimmed().toDouble());
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        line->setText(text);
    } else {
        QStyledItemDelegate::setEditorData(widget, index);
    }
}

void SettingsDTDelegate::setModelData(QWidget* widget, QAbstractItemModel* model, const QModelIndex& index) const
{
    QString text;
    if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        if (combo->currentIndex() < 0)
            return;
        text = combo->currentData().toString();
    } else if (auto* hex = dynamic_cast<HexSpinBox*>(widget)) {
        hex->interpretText();
        text = hex->valueText();
    } else if (auto* spin = qobject_cast<QSpinBox*>(widget)) {
        spin->interpretText();
        text = QString::number(spin->value());
    } else if (auto* real = qobject_cast<QDoubleSpinBox*>(widget)) {
        real->interpretText();
        text = QString::number(real->value(), 'g', 12);
    } else if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        text = line->text();
    } else {
        QStyledItemDelegate::setModelData(widget, model, index);
        return;
    }
    model->setData(index, text, Qt::EditRole);
}

void SettingsDTDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                              const QModelIndex& index) const
{
    Q_UNUSED(index)
    editor->setGeometry(option.rect);
}

void SettingsDTDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    const SettingsDTModel* model = settingsModel(index);
    if (!model)
        return;
    if (index.column() == SettingsDTModel::PropertyColumn && model->hasChildren(index))
        option->font.setBold(true);
    if (index.column() == SettingsDTModel::ValueColumn && model->designColumn(index) >= 0
        && model->editorFor(index).kind == SettingsDTModel::Editor::NoEditor) {
        // values computed by the design (times, stop bit) read as fixed
        option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Disabled, QPalette::Text));
    }
}
