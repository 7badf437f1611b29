#ifndef BX_ANALYSIS_MNEMOATMODEL_H
#define BX_ANALYSIS_MNEMOATMODEL_H

#include <QAbstractItemModel>
#include <QModelIndexList>
#include <QVector>

/// The mnemonic table of the analysis page: one row per mnemonic of the
/// design, with its change count and current value during a capture.
class MnemoATModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Column { MnemonicCol, IdCol, RenderingCol, EndiannessCol, DescriptionCol, StartBitCol, StopBitCol,
                  ByteSizeCol, DataTypeCol, DataChangesCol, DataValueCol, PixmapCol, ColumnCount };

    explicit MnemoATModel(QObject* parent = nullptr);

    static QVector<QVariant> getColumnPropertyData();

    /// One row per design mnemonic row, in list order.
    void setMainDTMnemoIdxes(const QModelIndexList& mnemonics);
    void clear();
    void setValueStr(int row, const QString& text);
    void setDataChangesCounter(int row, quint64 count);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    /// The cells of a row; null for an invalid index.
    QVector<QVariant>* getItem(const QModelIndex& index);

private:
    QVector<QVector<QVariant>> m_rows;
};

#endif
