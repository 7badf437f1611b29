#ifndef BX_ANALYSIS_STATIONPRESENCETABLE_H
#define BX_ANALYSIS_STATIONPRESENCETABLE_H

#include <QPixmap>
#include <QString>
#include <QtGlobal>

#include <array>

class AnalysisContext;
class QLabel;
class QTableWidget;

/// The station presence page: one cell per station address (16 × 16), showing
/// the state of its presence variable 0x1400 + address.
///
/// A refresh changes only the cells whose state or status date changed; the
/// cells' labels are made once and kept.
class StationPresenceTable
{
public:
    enum Presence { NeverAsked, Absent, Present, PresentWithAbsences };

    static constexpr quint16 FirstPresenceIdentifier = 0x1400;

    explicit StationPresenceTable(QTableWidget* table);

    /// Every cell back to "never asked", tooltips cleared.
    void razStationPresenceTable();
    /// Shows what the analysis knows now.
    void refresh(const AnalysisContext& context);

    static Presence presence(quint8 state);
    static QString presenceText(Presence presence);
    static QString picturePath(Presence presence);
    /// The label in the cell of a station address; null before the first reset.
    QLabel* cell(int address) const;

private:
    void setPicture(int address, Presence presence);

    QTableWidget* m_table;
    std::array<qint16, 256> m_shownPresence;
    std::array<quint64, 256> m_shownDate;
    std::array<QPixmap, 4> m_pictures; ///< scaled once, per presence
};

#endif
