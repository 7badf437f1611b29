#pragma once

#include "design/FipCalculator.h"

#include <QAbstractItemModel>
#include <QColor>
#include <QList>
#include <QMap>
#include <QModelIndex>
#include <QPair>
#include <QStringList>
#include <QVariant>
#include <QVector>

#include <functional>

class QUndoStack;
class TreeItem;

/// The network project: one tree of uniform 108-column rows.
///
/// Every edit made through setData, insertRows, removeRows and dropMimeData goes
/// through the undo stack; setDataWithoutControl writes without undo.
class MainDTModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    /// Node kinds, stored as an unsigned number in column ColClassType.
    enum ClassT : quint8 {
        NETWORK = 0,
        SEGMENT = 1,
        STATION = 2,
        BUS_ARBITER = 3,
        SCAN_TABLE = 4,
        INSTRUCTION = 5,
        VARIABLE_OUT = 6,
        VARIABLE_IN = 7,
        VARIABLE_REF = 8,
        MESSAGE_OUT = 9,
        MESSAGE_IN = 10,
        APERIODIC_LIST = 11,
        DATA_RENDERING = 12,
        MNEMONIC = 13,
        CLASS_COUNT = 14,
        CLASS_NONE = 0xFF ///< not a node (the root, an invalid index)
    };
    Q_ENUM(ClassT)

    /// The 108 design columns; names are those of getColumnPropertyData().
    enum Column : int {
        ColObject = 0,
        ColClass = 1,
        ColClassType = 2,
        ColNetworkFrameType = 3,
        ColNetworkSpeed = 4,
        ColNetworkBaMaxStationAddress = 5,
        ColNetworkBaMaxPriority = 6,
        ColNetworkBaOptimization = 7,
        ColNetworkSilenceTime = 8,
        ColNetworkTurnAroundTime = 9,
        ColNetworkSilence = 10,
        ColNetworkTurnAround = 11,
        ColSegmentNumber = 12,
        ColStationAddress = 13,
        ColStationTSlotTime = 14,
        ColStationTSlot = 15,
        ColArbiterEnabled = 16,
        ColArbiterPriorityLevel = 17,
        ColArbiterElectionTime = 18,
        ColArbiterStartTime = 19,
        ColArbiterElection = 20,
        ColArbiterStart = 21,
        ColScanTableNumber = 22,
        ColInstructionType = 23,
        ColInstructionId = 24,
        ColInstructionTime = 25,
        ColInstructionTimePar = 26,
        ColInstructionSuspendDelay = 27,
        ColInstructionSuspendDelayPar = 28,
        ColInstructionSuspendEvent = 29,
        ColInstructionSuspendEventNumber = 30,
        ColVariableDirection = 31,
        ColVarOutId = 32,
        ColVarOutPdu = 33,
        ColVarOutLength = 34,
        ColVarOutRefreshmentEnabled = 35,
        ColVarOutDynamicRefreshmentEnabled = 36,
        ColVarOutRefreshmentPeriod = 37,
        ColVarOutRefreshmentPeriodPar = 38,
        ColVarOutAperiodicRequestEnabled = 39,
        ColVarOutMessageTransferEnabled = 40,
        ColVarOutMessageTransferType = 41,
        ColVarOutMessageTransferChannel = 42,
        ColVarMessageReceptionEnabled = 43,
        ColVarInId = 44,
        ColVarInPromptnessEnabled = 45,
        ColVarInPromptnessPeriod = 46,
        ColVarInPromptnessPeriodPar = 47,
        ColVarRefId = 48,
        ColAperListMode = 49,
        ColMsgSourceSegment = 50,
        ColMsgSourceId = 51,
        ColMsgDestinationSegment = 52,
        ColMsgDestinationId = 53,
        ColMsgDirection = 54,
        ColMsgMode = 55,
        ColMsgChannelType = 56,
        ColMsgChannelNumber = 57,
        ColMsgAcknowledgmentEnabled = 58,
        ColMnemoType = 59,
        ColMnemoEndianness = 60,
        ColMnemoDescription = 61,
        ColMnemoPixmap = 62,
        ColMnemoStartBit = 63,
        ColMnemoStopBit = 64,
        ColMnemoByteSize = 65,
        ColMsgFileTransferEnabled = 66,
        ColBaPresence = 67,
        ColBaStatus = 68,
        ColBaStatusCode = 69,
        ColDevicePresence = 70,
        ColDeviceTarget = 71,
        ColDeviceType = 72,
        ColDeviceIndex = 73,
        ColDeviceProductNumber = 74,
        ColDeviceVersion = 75,
        ColDeviceSpeed = 76,
        ColDeviceImpedance = 77,
        ColDeviceColor = 78,
        ColFilePath = 79,
        ColCh1Active = 80,
        ColCh2Active = 81,
        ColCh1TxError = 82,
        ColCh2TxError = 83,
        ColCh1WatchdogError = 84,
        ColCh2WatchdogError = 85,
        ColCh1NoError = 86,
        ColCh2NoError = 87,
        ColCh1Error = 88,
        ColCh2Error = 89,
        ColNoEchoError = 90,
        ColCh1TestPError = 91,
        ColCh2TestPError = 92,
        ColPromptness = 93,
        ColRefreshment = 94,
        ColData = 95,
        ColReportCode = 96,
        ColMessagesSent = 97,
        ColMessagePosition = 98,
        ColMessagesReceived = 99,
        ColMessageLength = 100,
        ColTransferPath = 101,
        ColTransferState = 102,
        ColTransferTime = 103,
        ColCurrentPacket = 104,
        ColTotalPackets = 105,
        ColDeviceTemperature = 106,
        ColFipDevice = 107,
        ColumnCount = 108,
        /// Columns 0..LastProjectColumn are the project (saved, undoable); the rest is status.
        LastProjectColumn = 66,
        FirstStatusColumn = 67
    };

    explicit MainDTModel(QObject* parent = nullptr);
    ~MainDTModel() override;

    // ---- Fixed texts of the design ----
    static const QString BindADevice;           ///< "<Bind a device>"
    static const QString ItemModelMimeType;     ///< "application/x-qabstractitemmodeldatalist"
    /// The 108 column names, the root item's data.
    static QVector<QVariant> getColumnPropertyData();
    static QStringList instructionTypes();      ///< SEND_ID_DAT ... TESTP
    static QStringList mnemonicTypes();         ///< Ascii ... UInt64
    /// Size in bits of a mnemonic data type (Ascii and Hexa: byteSize * 8); 0 when unknown.
    static int mnemonicTypeBits(const QString& type, int byteSize = 1);
    /// The texts an enumerated column accepts; empty for a free column.
    static QStringList allowedValues(int column);

    // ---- Item-model operations ----
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    /// Validated edit through the undo stack; refusals go to statusBarMessage (level 1).
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    /// Writes a column without validation and without undo.
    bool setDataWithoutControl(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole);
    /// Counts the changes that free or move rows (insertions, removals, resets, layout changes).
    quint64 structureGeneration() const { return m_structureGeneration; }
    /// A live value written into `column` of `row` without undo, dropped when the rows moved
    /// since `generation`: a worker's queued write never reaches a row that is gone.
    bool setLiveData(quint64 generation, const QModelIndex& row, int column, const QVariant& value);
    /// Pushes a MainDTAddCommand; always reports success.
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    /// Removes what depends on the rows, then pushes a MainDTRemoveCommand, all in one macro.
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    Qt::DropActions supportedDropActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

    /// The TreeItem of an index; the root for an invalid index.
    TreeItem* getItem(const QModelIndex& index) const;
    /// Removes every node under the root and resets the free-value sets (does not clear the undo stack).
    void clear();
    QUndoStack* undoStack() const;

    // ---- Raw structural changes, used by the undo commands ----
    /// Inserts `count` empty rows (with begin/end insert rows); false on a bad position.
    bool insertRowsWithoutControl(int row, int count, const QModelIndex& parent);
    /// Removes `count` rows (with begin/end remove rows); false on a bad range.
    bool removeRowsWithoutControl(int row, int count, const QModelIndex& parent);

    // ---- Links to the main window (no dependency on app/) ----
    /// The main window's Ctrl flag (BX::isCtrlPressed); false when unset.
    void setCtrlPressedQuery(std::function<bool()> query);
    bool isCtrlPressed() const;
    /// Forces the Ctrl state for the next drops (the context menu's multiple entries).
    void setForcedCtrl(bool forced);
    /// Asks the number of items of a Ctrl+drop; returns false on cancel.
    /// Default: the "Advanced Insertion Menu" integer dialog.
    void setInsertionCountQuery(std::function<bool(int* count)> query);
    /// Pause between items of a multi-item drop (25 ms by default).
    void setMultiInsertPause(int ms);
    /// The configuration save path (BX::getFileConfigurationSavePath), for "File Path" (79).
    void setSavePathQuery(std::function<QString()> query);
    QString savePath() const;
    /// LED colour code → name (BX::getRgbColorMap); a default table is built in.
    void setRgbColorMap(const QMap<quint8, QString>& map);
    QMap<quint8, QString> rgbColorMap() const;

    // ---- Maps ----
    QMap<quint8, QString> getClassTypeToStr() const;
    QString getClassTypeStr(quint8 kind) const;
    QMap<quint8, QString> getClassTypeIcons() const;
    QString getBaStatusCodeToStr(quint16 code) const;
    QMap<quint16, QString> getBaStatusCodeToStrMap() const;
    QMap<quint16, QString> getBaStatusIcons() const;
    QMap<bool, QString> getFlagIcons() const;
    /// Kind of a node (column 2), CLASS_NONE for the root or an invalid index.
    quint8 classType(const QModelIndex& index) const;
    /// Column value of the node of `index` (any column of the row) as text.
    QString text(const QModelIndex& index, int column) const;
    /// The index of `column` in the row of `index`.
    QModelIndex cell(const QModelIndex& index, int column) const;

    // ---- Queries ----
    QModelIndex getNetworkIdx() const;
    QString getNetworkSpeed() const;
    QModelIndexList getClassTypeIndexes(ClassT kind, const QModelIndex& parent = QModelIndex()) const;
    QModelIndexList getStationIndexes() const;
    QModelIndexList getStationIndexes(const QModelIndex& parent) const;
    QModelIndex getSegmentIdx(quint8 number) const;
    QModelIndex getStationIdx(quint8 address) const;
    /// The node's ancestor (or itself) of a kind; invalid when none.
    QModelIndex getAncestor(const QModelIndex& index, ClassT kind) const;
    QModelIndex getArbiter(const QModelIndex& station) const;
    bool hasArbiter(const QModelIndex& station) const;
    /// Variables of `kind` (VARIABLE_OUT, VARIABLE_IN or VARIABLE_REF) carrying `id`.
    QModelIndexList getVariableIndexes(quint16 id, ClassT kind) const;
    /// Output and Input Variables under a node.
    QModelIndexList getVariableIndexes(const QModelIndex& parent) const;
    /// Output Variables of the station of `index` whose message transfer uses the aperiodic channel.
    QModelIndexList getVariableIndexesUsingAperiodicChannel(const QModelIndex& index) const;
    /// Output and Input Messages under a node.
    QModelIndexList getMessageIndexes(const QModelIndex& parent) const;
    /// Messages of `kind` whose source (or destination when `destination`) is (segment, id).
    QModelIndexList getMessageIndexes(quint8 segment, quint16 id, ClassT kind, bool destination = false) const;
    /// Output Messages under the station of `index` attached to channel `channel`
    /// (channel 0xFF: the aperiodic channel).
    QModelIndexList getOutputMessageIndexes(const QModelIndex& index, quint8 channel) const;
    /// Instructions whose Instruction ID names `id`.
    QModelIndexList getInstructionIndexes(quint16 id) const;
    QModelIndexList getScanTableIndexes(const QModelIndex& arbiter) const;
    /// Produced identifier of a variable (32, 44, 48) or message (51) node.
    quint16 getOutId(const QModelIndex& index, bool* ok = nullptr) const;
    QModelIndexList getAllIndexes() const;
    QList<quint8> getStationAddressesUsed() const;
    QList<quint8> getSegmentNumbersUsed() const;
    QList<quint8> getPriorityLevelsUsed() const;
    QList<quint16> getVariableOutIDsUsed() const;
    QList<quint16> getVariableOutIDsUsedInSegment(quint8 segment) const;
    /// Output identifiers of the segment, plus input identifiers when `withInputs`.
    QList<quint16> getVariableIDsUsedInSegment(quint8 segment, bool withInputs = true) const;
    /// Channel numbers of the periodic message channels emitted in the station at `address`.
    QList<quint8> getPeriodicChannelsUsedInStation(quint8 address) const;
    bool variableOutIDIsUsed(quint16 id) const;
    bool variableOutIDIsUsed(const QString& id) const;
    bool aperiodicChannelIsUsedInStation(quint8 address) const;
    quint8 getMaxStationAddress() const;
    quint8 getMaxPriorityLevel() const;
    quint8 getFirstFreeStationAddress(bool* ok = nullptr) const;
    quint8 getFirstFreeSegmentNumber(bool* ok = nullptr) const;
    quint8 getFirstFreePriorityLevel(bool* ok = nullptr) const;
    quint16 getFirstFreeVariableOutID(bool* ok = nullptr) const;
    /// Station slot time t in ms (network speed and the station's "Station TSlot"), for any node under it.
    float getStationTSlotMs(const QModelIndex& index) const;
    /// The bus timing rules used for the derived columns.
    const FipCalculator& calculator() const { return m_calculator; }

    /// Columns the item editor shows for a kind; `selector` is the instruction or mnemonic type.
    static QList<int> indexesRangeForClass(quint8 kind, const QVariant& selector = QVariant());
    /// A name unique among the children of `parent` and absent from `reserved`.
    QString createDefaultName(const QString& name, const QString& base, int counter,
                              const QModelIndex& parent, const QStringList& reserved = QStringList()) const;
    /// Identifier equality: decimal first, then hexadecimal, as 16-bit values.
    static bool compareIDs(const QString& a, const QString& b);
    /// Parses an identifier text (decimal first, then hexadecimal).
    static quint16 parseID(const QString& text, bool* ok = nullptr);
    /// "0x%4.4x".
    static QString idToStr(quint16 id);
    /// Parses a number text: "0x" prefix hexadecimal, else decimal, else hexadecimal.
    static qlonglong parseNumber(const QString& text, bool* ok = nullptr);

    /// Defined with the station configuration export.
    void generateStationXML(const QString& path);

    // ---- Derived columns and consequences (writes go through the undo stack) ----
    void updateSilenceTurnAroundTimes();
    void updateAllTSlotTimes();
    void updateAllTSlotMultipleForNetwork();
    void updateAllTSlotMultipleForStation(const QModelIndex& station);
    void updateAllStartElectionTimes();
    /// The network's BA maximum station address and priority follow the highest values in use.
    void updateNetworkMaxValues();
    void addInputMessages(const QModelIndex& outputMessage);
    void updateInputMessages(const QModelIndex& oldMessage, const QModelIndex& newMessage);
    void removeInputMessages(const QModelIndex& outputMessage);
    void removeIdxChilds(const QModelIndex& index);
    void removeVariableIdxDependancies(const QModelIndex& index);
    void removeChannelEmissionDependancies(const QModelIndex& index, quint8 channel);
    /// "File Path" (79) of a station: save path + "/Station" + address + ".xml" (status, no undo).
    void updateStationFilePath(const QModelIndex& station);
    /// The same for every station, after the save path changed or a project was loaded.
    void updateAllStationFilePaths();
    /// Views and proxies read every row again, after a load wrote cells quietly.
    /// Announced first, so proxies carry their persistent indexes across.
    void refreshLayout();
    /// Recomposes column 0 of an Instruction or a variable from its columns.
    void updateComposedName(const QModelIndex& index);

    // ---- Free-value sets ----
    /// Resets every set to "all free".
    void clearInternalData();
    /// Recomputes the sets from the tree (after loads and structural changes).
    void updateInternalData();
    /// Marks the values of one node as taken (after it was created).
    void updateInternalData(const QModelIndex& node);

    // ---- Item creation ----
    /// The item-box mime data for one kind name ("Network", "Segment", ... "Mnemonic").
    static QMimeData* createItemMimeData(const QString& kindName);
    /// Creates one node of `kindName` under `parent` through a drop (append when row < 0).
    bool dropItem(const QString& kindName, const QModelIndex& parent, int row = -1);
    /// Initial (column, value) pairs of a new node of a dropped kind under `parent`;
    /// empty with `refusal` set when a limit is reached.
    QList<QPair<int, QVariant>> initialValues(const QString& kindName, const QModelIndex& parent,
                                              QString* refusal) const;
    /// The Input Message refusal, else removeRows(row, 1, parent); false when refused.
    bool removeItem(const QModelIndex& index);

    void emitIndexFocused(const QModelIndex& index);
    void emitDataChanged(const QModelIndex& index);

signals:
    void statusBarMessage(quint8 level, QString text);
    void indexFocused(QModelIndex index);
    void indexChanged(QModelIndex index);
    void generateProgress(int percent);
    void devicesBindingChanged();

private:
    // Edit helpers (MainDTModel_edit.cpp)
    bool validateEdit(const QModelIndex& index, const QVariant& value, QString* refusal) const;
    void applyEditConsequences(const QModelIndex& index, const QVariant& oldValue, const QVariant& value);
    /// Pushes an edit command when the value differs.
    void pushEdit(const QModelIndex& index, int column, const QVariant& value);
    void pushEdit(const QModelIndex& cell, const QVariant& value);
    void changeVariableDirection(const QModelIndex& variable, const QString& direction);
    void changeVariableOutId(const QModelIndex& variable, const QString& oldId, const QString& newId);
    void changeSegmentNumber(const QModelIndex& segment, const QString& oldNumber, const QString& newNumber);
    void updateMnemonicStopBit(const QModelIndex& mnemonic);
    void updateDeviceFields(const QModelIndex& station);
    void renumberInstructions(const QModelIndex& scanTable);
    /// Pushes add + init commands for one child of `parent` at `row` (append when < 0).
    QModelIndex addNode(const QModelIndex& parent, int row, const QList<QPair<int, QVariant>>& values);
    /// Removes rows with their dependants, inside the caller's macro.
    void removeNodeWithDependants(const QModelIndex& index);
    int mnemonicOwnerLengthBits(const QModelIndex& mnemonic) const;
    QString dropTargetRefusal(const QString& kindName, const QModelIndex& parent) const;
    QString composedName(const QModelIndex& index) const;
    /// Clamped and snapped TSlot multiple; returns the snapped value and writes n.
    static double snapToTSlot(double value, double low, double high, double t, quint16* n);
    void collect(const QModelIndex& parent, const std::function<void(const QModelIndex&)>& visit) const;

    /// Election and start codes of an arbitrator at `priority` from the network's columns.
    void electionStartCodes(quint8 priority, quint16* election, quint16* start, float* silenceUs) const;
    /// Snaps a time or period column of one node to TSlot multiples.
    void updateTSlotMultiple(const QModelIndex& node, double t);
    void removeMirrors(const QString& srcSeg, const QString& srcId, const QString& dstSeg, const QString& dstId);
    bool emitsChannel(const QModelIndex& variable, quint8* channel) const;

    FipCalculator m_calculator;
    TreeItem* m_rootItem;
    QUndoStack* m_undoStack;
    QVector<bool> m_freeVariableIds;       // 0..65534
    QVector<bool> m_freeSegmentNumbers;    // 0..255
    QVector<bool> m_freeStationAddresses;  // 0..255
    QVector<bool> m_freePriorityLevels;    // 0..15
    QMap<quint8, QString> m_classTypeToStr;
    QMap<quint8, QString> m_classTypeIcons;
    QMap<quint16, QString> m_baStatusCodeToStr;
    QMap<quint16, QString> m_baStatusIcons;
    QMap<bool, QString> m_flagIcons;
    QMap<quint8, QString> m_rgbColorMap;
    std::function<bool()> m_ctrlPressedQuery;
    std::function<bool(int*)> m_insertionCountQuery;
    std::function<QString()> m_savePathQuery;
    bool m_forcedCtrl = false;
    quint64 m_structureGeneration = 0;
    int m_multiInsertPauseMs = 25;
};

/// Orders two station indexes by "Station Address" (column 13) as unsigned numbers.
bool stationLessThan(const QModelIndex& a, const QModelIndex& b);
