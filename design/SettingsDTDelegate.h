#ifndef BX_DESIGN_SETTINGSDTDELEGATE_H
#define BX_DESIGN_SETTINGSDTDELEGATE_H

#include <QSpinBox>
#include <QStyledItemDelegate>

/// Spin box showing its value as "0x%2.2x" (or more digits); typing accepts hexadecimal
/// with or without the prefix.
class HexSpinBox : public QSpinBox
{
public:
    explicit HexSpinBox(int digits, QWidget* parent = nullptr);
    /// The current value as stored: "0x" and the zero-padded digits.
    QString valueText() const;

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString& text) const override;
    QValidator::State validate(QString& input, int& pos) const override;

private:
    int m_digits;
};

/// Paints the item editor's rows (group rows bold, fixed values dimmed) and creates the
/// editor each value cell asks for through SettingsDTModel::editorFor: combo boxes for
/// enumerated values, spin boxes bounded to the allowed range, line edits for texts.
class SettingsDTDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit SettingsDTDelegate(QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

#endif
