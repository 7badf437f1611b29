#pragma once

#include <QAbstractItemModel>
#include <QHash>
#include <QIcon>
#include <QPair>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>

class TreeItem;

/// The transaction tree: categories, one row per (identifier, request control) below them,
/// and the responses seen for it as child rows. Rows are made the first time a counter names
/// their pair; the statistics tick pushes the counters through the setters.
class TransactionATModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Column {
        TransactionCol = 0,
        RequestCol,
        ReplyCol,
        NoReplyCol,
        NoAckCol,
        GlitchesCol,
        MaxJitterCol,
        DurationCol,
        RefreshStateCol,
        NoRefreshCol,
        LastNoRefreshDateCol,
        DataChangesCol,
        DataLengthCol,
        DataValueCol,
        StateCol,
        ColumnCount
    };

    explicit TransactionATModel(QObject* parent = nullptr);
    ~TransactionATModel() override;

    // Each setter returns whether the pair has a row; request-only columns ignore responses
    // (true, nothing written).
    bool setRequestReplyCounter(quint16 id, quint8 control, quint64 value);
    bool setNoReplyCounter(quint16 id, quint8 control, quint64 value);
    bool setNoAckCounter(quint16 id, quint8 control, quint64 value);
    bool setGlitchesCounter(quint16 id, quint8 control, quint64 value);
    bool setNoRefreshCounter(quint16 id, quint8 control, quint64 value);
    bool setDataChangesCounter(quint16 id, quint8 control, quint64 value);
    bool setDataLength(quint16 id, quint8 control, quint64 value);
    bool setJitterMaxDurationStr(quint16 id, quint8 control, const QString& text);
    bool setTransactionDurationStr(quint16 id, quint8 control, const QString& text);
    bool setNoRefreshDateStr(quint16 id, quint8 control, const QString& text);
    bool setRefreshStateStr(quint16 id, quint8 control, const QString& text);
    bool setDataValueStr(quint16 id, quint8 control, const QString& text);
    bool setIdState(quint16 id, quint8 control, quint8 state);

    /// Find or create the rows; invalid for a control outside the tables.
    QModelIndex getCategoryIdx(quint8 control);
    QModelIndex getRootIdIdx(quint16 id, quint8 control);
    QModelIndex getRootCtrlIdx(quint16 id, quint8 control);
    void initRootCtrlColumn(const QModelIndex& index, quint8 control);

    /// Variables: replied, lost, never replied; messages: replied, not replied.
    void getTransactionCounters(quint64* out1, quint64* out2, quint64* out3, quint64* out4, quint64* out5);
    /// The identifier left out of the counters; 0 leaves out nothing.
    void setPadding(quint16 id);
    void clear();
    void removeIdxChilds(const QModelIndex& index);

    static QString shortName(quint8 control);
    static bool isRequest(quint8 control);
    static bool isCategoryName(const QString& text);
    /// The control a response hangs under, 0 for requests and unknown codes.
    static quint8 responseParent(quint8 control);

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    bool insertRows(int position, int rows, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int position, int rows, const QModelIndex& parent = QModelIndex()) override;

signals:
    void newCategoryCreated();
    void firstCategoryChildCreated(QModelIndex category);

private:
    /// A row and where it sat when cached; rows are only appended during a capture, so the
    /// position stays right and spares a search through the siblings.
    struct RowRef
    {
        TreeItem* item = nullptr;
        int row = -1;
    };

    TreeItem* itemFor(const QModelIndex& index) const;
    QModelIndex indexFor(const RowRef& ref, int column) const;
    RowRef appendRow(const RowRef& parent, const QString& text, bool parentIsCategory);
    RowRef category(quint8 control);
    RowRef identifierRow(quint16 id, quint8 control);
    RowRef controlRow(quint16 id, quint8 control, RowRef* parentRow = nullptr);
    bool writeCell(const RowRef& ref, int column, const QVariant& value);
    bool setAny(quint16 id, quint8 control, int column, const QVariant& value);
    bool setRequestOnly(quint16 id, quint8 control, int column, const QVariant& value);
    void sumChildReplies(const RowRef& parent);
    void accumulate(const TreeItem* item, bool message);
    void forgetSubtree(const TreeItem* item);
    void countRow(const TreeItem* item, bool message);
    QVariant decoration(const TreeItem* item, int column) const;

    std::unique_ptr<TreeItem> m_root;
    RowRef m_aperiodicRoot;
    QHash<quint8, RowRef> m_categories;
    QHash<quint32, RowRef> m_identifiers;                      // (id << 8) | control
    QHash<QPair<quint8, const TreeItem*>, RowRef> m_responses; // (control, parent row)
    quint16 m_padding = 0;
    std::array<quint64, 5> m_counters{};

    struct Icons;
    mutable std::unique_ptr<Icons> m_icons; // made on first paint
};
