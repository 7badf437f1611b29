#ifndef BX_DESIGN_SETTINGSDTMODEL_H
#define BX_DESIGN_SETTINGSDTMODEL_H

#include "design/FipCalculator.h"

#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QStringList>

class MainDTModel;
class QTreeView;

/// The item editor: one "Property"/"Value" row per property of the selected design node.
/// Value cells are mapped to design columns; group rows ("Time Settings", ...) hold child rows.
/// The model fills itself from a design node, decides which rows that node shows, describes
/// the editor of each value cell, and writes an edited cell back through the design model's
/// validated setData, so one undo reverts it.
class SettingsDTModel : public QStandardItemModel
{
    Q_OBJECT

public:
    enum Row : int {
        RowName = 0,
        RowFrameType,
        RowSpeed,
        RowTimeSettings,          // Silence, Turn Around, Silence Parameter, Turn Around Parameter
        RowGlobalBaSettings,      // Optimization, Max Station Address, Max Priority Level
        RowSegmentNumber,
        RowStationAddress,
        RowTSlot,
        RowTSlotPar,
        RowArbiterEnabled,
        RowPriorityLevel,
        RowArbiterTimeSettings,   // Election Time, Start Time, Election Parameter, Start Parameter
        RowScanTableNumber,
        RowInstructionType,
        RowInstructionId,
        RowInstructionTime,
        RowEventNumber,
        RowDelay,
        RowDirection,
        RowVarOutId,
        RowPdu,
        RowLength,
        RowRefreshment,           // Dynamic, Production Period (ms)
        RowAperiodicRequest,
        RowMessageEmission,       // Type, Number
        RowVarInId,
        RowPromptness,            // Consumption Period (ms)
        RowMessageReception,
        RowVarRefId,
        RowMode,
        RowSourceAddress,         // Segment, ID
        RowDestinationAddress,    // Segment, ID
        RowChannelEmission,       // Type, Number
        RowAcknowledgment,
        RowFileTransfer,
        RowMnemoType,
        RowEndianness,
        RowDescription,
        RowPixmap,
        RowStartBit,
        RowStopBit,
        RowByteSize,
        RowCountTotal
    };
    static constexpr int PropertyColumn = 0;
    static constexpr int ValueColumn = 1;

    /// How a value cell is edited.
    struct Editor {
        enum Kind { NoEditor, Combo, Integer, Hexadecimal, Decimal, Text };
        Kind kind = NoEditor;
        QStringList items;   ///< Combo: texts shown
        QStringList values;  ///< Combo: texts stored, parallel to items (empty: the items themselves)
        double minimum = 0;
        double maximum = 0;
        double step = 1;
        int decimals = 0;    ///< Decimal
        int hexDigits = 2;   ///< Hexadecimal: "0x%2.2x" or "0x%4.4x"
    };

    /// The table always has the 42 rows and 2 columns of the item editor; larger sizes are kept.
    SettingsDTModel(int rows, int columns, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    /// Refuses edit-role writes to cells that are not editable (property names, read-only times).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // ---- Texts offered by the editors ----
    static QStringList frameTypes();
    static QStringList optimizations();
    static QStringList instructionTypes();
    static QStringList priorities();
    static QStringList priorityLevels();
    static QStringList channelTypes();
    static QStringList dataTypes();
    static QStringList byteOrders();
    static QStringList directions();
    static QStringList pduTypes();
    static QStringList booleans();

    // ---- Design column ↔ value cell ----
    /// Design columns that have a value cell, in design column order.
    static QList<int> mappedColumns();
    QModelIndex valueIndex(int designColumn) const;
    QStandardItem* valueItem(int designColumn) const;
    /// Design column of a value cell; -1 for a property cell or an unmapped group row.
    int designColumn(const QModelIndex& index) const;
    int designColumn(const QStandardItem* item) const;

    // ---- Showing a design node ----
    /// Copies the node's mapped columns into the value cells and shows only the rows of its kind.
    /// The table follows later changes of the node (edits, undo) until another node is loaded.
    void loadFromIndex(MainDTModel* model, const QModelIndex& node);
    /// Shows nothing.
    void clearNode();
    /// Copies the current node again (after an edit, an undo or a refused value).
    void reload();
    MainDTModel* designModel() const;
    QModelIndex node() const;
    /// True while the table is being filled; item changes then are not edits.
    bool isLoading() const { return m_loading; }
    /// Design columns whose rows are shown for the current node.
    QList<int> shownColumns() const { return m_shownColumns; }
    bool isRowShown(int row, const QModelIndex& parent = QModelIndex()) const;
    /// Hides and shows the view's rows as isRowShown says.
    void applyRowVisibility(QTreeView* view) const;
    /// Sets this model on the view and keeps its rows hidden or shown as the node changes.
    void attachView(QTreeView* view);

    // ---- Editing ----
    /// The editor of a value cell for the current node (ranges follow the network speed and TSlot).
    Editor editorFor(const QModelIndex& index) const;
    /// True when `text` is acceptable for the cell's editor.
    bool acceptsValue(const QModelIndex& index, const QString& text) const;
    /// Writes an edited value cell back to the design node (the main window's
    /// onSettingsDTViewItemChanged) through the design model's validated setData, one undo
    /// step. Refused or unmapped changes restore the design value; returns true when the
    /// design node took the value.
    bool applyItemChange(QStandardItem* item);

signals:
    /// The shown rows changed; views call applyRowVisibility.
    void rowsVisibilityChanged();
    void statusBarMessage(quint8 level, QString text);

private:
    struct CellRef {
        int row;
        int child;  ///< -1: the row itself
    };
    static const QList<QPair<int, CellRef>>& columnCells();
    static bool cellRef(int designColumn, CellRef* ref);
    QStandardItem* cellItem(const CellRef& ref, int column) const;
    void buildRows();
    void connectDesignModel(MainDTModel* model);
    void onDesignDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void onDesignStructureChanged();
    QList<int> columnsShownFor(const QModelIndex& node) const;
    QString networkSpeed() const;
    double stationTSlotMs() const;
    QString nodeText(int column) const;
    /// The stored form of an accepted text: decimal integers, "0x%2.2x"/"0x%4.4x", plain decimals.
    QString normalized(const QModelIndex& index, const QString& text) const;
    void refuse(const QModelIndex& index, const QString& text);

    QPointer<MainDTModel> m_designModel;
    QPersistentModelIndex m_node;
    QList<int> m_shownColumns;
    bool m_loading = false;
    FipCalculator m_calculator;
};

#endif
