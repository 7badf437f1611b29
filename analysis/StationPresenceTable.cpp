#include "analysis/StationPresenceTable.h"

#include "analysis/AnalysisContext.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QTableWidget>

namespace {

constexpr int Columns = 16;
constexpr int PictureSize = 24;

} // namespace

StationPresenceTable::StationPresenceTable(QTableWidget* table)
    : m_table(table)
{
    m_shownPresence.fill(-1);
    m_shownDate.fill(0);
    m_table->setRowCount(Columns);
    m_table->setColumnCount(Columns);
    QStringList rows;
    QStringList columns;
    for (int i = 0; i < Columns; ++i) {
        rows << QStringLiteral("0x%1_").arg(i, 0, 16);
        columns << QStringLiteral("_%1").arg(i, 0, 16);
    }
    m_table->setVerticalHeaderLabels(rows);
    m_table->setHorizontalHeaderLabels(columns);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
}

StationPresenceTable::Presence StationPresenceTable::presence(quint8 state)
{
    if (!(state & 0x80))
        return NeverAsked;
    if (!(state & 0x02))
        return Absent;
    return (state & 0x04) ? PresentWithAbsences : Present;
}

QString StationPresenceTable::presenceText(Presence presence)
{
    switch (presence) {
    case NeverAsked: return QCoreApplication::translate("StationPresenceTable", "Never asked");
    case Absent: return QCoreApplication::translate("StationPresenceTable", "Absent");
    case Present: return QCoreApplication::translate("StationPresenceTable", "Present");
    case PresentWithAbsences:
        return QCoreApplication::translate("StationPresenceTable", "Presence [with absence(s) in the past]");
    }
    return QString();
}

QString StationPresenceTable::picturePath(Presence presence)
{
    switch (presence) {
    case NeverAsked: return QStringLiteral(":/images/images/icon_none_96x96.png");
    case Absent: return QStringLiteral(":/images/images/icon_id_absence_52x52.png");
    case Present: return QStringLiteral(":/images/images/icon_id_with_rp_52x52.png");
    case PresentWithAbsences: return QStringLiteral(":/images/images/icon_id_with_rp_warning_52x52.png");
    }
    return QString();
}

QLabel* StationPresenceTable::cell(int address) const
{
    return qobject_cast<QLabel*>(m_table->cellWidget(address / Columns, address % Columns));
}

void StationPresenceTable::setPicture(int address, Presence presence)
{
    // A new label per cell on every reset held the window for tens of milliseconds
    // when a capture started: the labels stay, their picture changes.
    QLabel* label = cell(address);
    if (!label) {
        label = new QLabel;
        label->setAlignment(Qt::AlignCenter);
        m_table->setCellWidget(address / Columns, address % Columns, label);
    }
    QPixmap& picture = m_pictures[static_cast<size_t>(presence)];
    if (picture.isNull()) {
        picture = QPixmap(picturePath(presence));
        if (!picture.isNull())
            picture = picture.scaled(PictureSize, PictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    label->setPixmap(picture);
    label->setAccessibleDescription(presenceText(presence));
    m_shownPresence[static_cast<size_t>(address)] = presence;
}

void StationPresenceTable::razStationPresenceTable()
{
    for (int address = 0; address < 256; ++address) {
        if (QLabel* label = cell(address))
            label->setToolTip(QString());
        if (m_shownPresence[static_cast<size_t>(address)] != NeverAsked)
            setPicture(address, NeverAsked);
        m_shownDate[static_cast<size_t>(address)] = 0;
    }
}

void StationPresenceTable::refresh(const AnalysisContext& context)
{
    for (int address = 0; address < 256; ++address) {
        const IdentifierStats* entry = context.findIdentifier(quint16(FirstPresenceIdentifier + address));
        const quint8 state = entry ? entry->presenceState : 0;
        const quint64 date = entry ? entry->presenceDate : 0;
        const Presence now = presence(state);
        if (m_shownPresence[static_cast<size_t>(address)] != now)
            setPicture(address, now);
        if (m_shownDate[static_cast<size_t>(address)] != date) {
            const QString time = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(date / 1000))
                                     .toString(QStringLiteral("hh:mm:ss"));
            cell(address)->setToolTip(QCoreApplication::translate("StationPresenceTable", "Last status at ") + time);
            m_shownDate[static_cast<size_t>(address)] = date;
        }
    }
}
