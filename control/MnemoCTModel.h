#pragma once

#include <QByteArray>
#include <QStandardItemModel>
#include <QStyledItemDelegate>

/// The mnemonics of the control page's selected variable or message, one row
/// each, with their values decoded from the item's live bytes.
class MnemoCTModel : public QStandardItemModel
{
    Q_OBJECT
public:
    enum Column { NameCol, ValueCol, UnitCol, TypeCol, EndiannessCol, StartBitCol, StopBitCol, RenderingCol,
                  PixmapCol, ColumnCount };

    explicit MnemoCTModel(QObject* parent = nullptr);

    /// Empty texts and ok false unless `mnemonic` is a design "Mnemonic" row.
    static QString extractToStr(const QModelIndex& mnemonic, const QByteArray& bytes, bool* ok);
    static QVariant extractToVariant(const QModelIndex& mnemonic, const QByteArray& bytes, bool* ok);

    /// Appends the row of one mnemonic decoded from `bytes`; the row's first item
    /// keeps the design row (UserRole) for writing values back.
    void appendMnemo(const QModelIndex& mnemonic, const QByteArray& bytes, quint8 classT);
    /// Rows emptied, headers kept.
    void clearRows();
    /// The design row of a model row.
    QModelIndex mnemonicOf(int row) const;

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    /// An entry refused; the main window shows it as a warning.
    void invalidEntry(const QString& text);
};

/// Editors of the mnemonic table: a list of the type names for "Type".
class MnemoCTDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
};
