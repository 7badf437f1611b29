#ifndef BX_ANALYSIS_MAINATMODEL_H
#define BX_ANALYSIS_MAINATMODEL_H

#include <QAbstractTableModel>
#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QIcon>
#include <QVector>

#include <algorithm>
#include <array>

/// The frame table: one row per line of a trace file.
///
/// Only the byte offset of each line is kept; a cell reads its line back from
/// the file. The last lines read stay split in a small cache, so painting the
/// 22 cells of a row reads the file once.
class MainATModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int ColumnCount = 22;

    explicit MainATModel(QObject* parent = nullptr);
    ~MainATModel() override;

    /// Drops every row, then opens and indexes the trace at path.
    void setFilePath(const QString& path);
    /// Indexes the whole open file.
    void update();
    /// Rows appended to the file since: the start offset of each line.
    void addRows(int count, const QVector<qint64>& offsets);
    void setAbsoluteCounterAnchor(quint64 tick);
    quint64 absoluteCounterAnchor() const { return m_anchor; }
    /// Bus speed code; 4 or more means unknown, and "Relative Date" then shows the file's field.
    void setOstrakSpeed(quint8 code) { m_speed = code; }
    quint8 ostrakSpeed() const { return m_speed; }
    void skipToRow(int row);
    QString filePath() const { return m_file.fileName(); }
    QVariant getColumnPropertyData(int column) const;
    /// Fields found on the first line of the indexed file.
    int firstLineFieldCount() const { return m_firstLineFields; }
    /// Where each row's line starts in the file; may run ahead of rowCount().
    const QVector<qint64>& rowOffsets() const { return m_offsets; }
    /// Bytes held for the row offsets.
    qint64 indexBytes() const { return qint64(m_offsets.capacity()) * qint64(sizeof(qint64)); }
    /// Rows the table holds at most: their index (8 bytes a row) stays well under what one
    /// array may hold. Lines beyond stay in the file and are counted, not shown.
    static constexpr int MaxRows = 100000000;
    /// A smaller limit, for tests.
    void setMaxRows(int rows) { m_maxRows = std::max(rows, 0); }
    quint64 rowsNotShown() const { return m_rowsNotShown; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

signals:
    void generateProgress(int percent);

private:
    // One line read back, with where each of its fields starts and ends.
    struct CachedLine {
        int row = -1;
        QByteArray bytes;
        int fieldCount = 0;
        std::array<int, ColumnCount + 1> starts {};
    };
    static constexpr int CacheSize = 64;

    const CachedLine* line(int row) const;
    bool readLine(qint64 offset, qint64 length, QByteArray* out) const;
    QString fieldText(const CachedLine& l, int column) const;
    bool rowTick(const CachedLine& l, quint64* tick) const;
    QString relativeDate(qint64 micros) const;
    QIcon icon(const QString& path) const;
    void invalidateCache() const;
    void beginLayout();
    void endLayout();
    void readFirstLine(qint64 size);
    void refineReserve(qint64 scanned, qint64 size);

    QVector<QVariant> m_headers;
    mutable QFile m_file;
    int m_rowCount = 0;
    int m_maxRows = MaxRows;
    quint64 m_rowsNotShown = 0;  ///< lines of the file past MaxRows
    int m_firstLineFields = 0;
    QVector<qint64> m_offsets;
    quint64 m_anchor = 0;
    quint8 m_speed = 4;
    // Bumped whenever the file changes, so an indexing pass that let events run
    // notices it was overtaken.
    quint64 m_generation = 0;
    mutable std::array<CachedLine, CacheSize> m_cache;
    mutable QByteArray m_readBuffer;
    mutable QHash<QString, QIcon> m_icons;
};

#endif
