#include "DesignCheckATModel.h"

#include <QIcon>

DesignCheckATModel::DesignCheckATModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

namespace {

bool sameRow(const CheckFinding& a, const CheckFinding& b)
{
    return a.severity == b.severity && a.kind == b.kind && a.object == b.object;
}

} // namespace

void DesignCheckATModel::setReport(const CheckReport& report)
{
    bool sameRows = report.findings.size() == m_report.findings.size();
    for (int i = 0; sameRows && i < report.findings.size(); ++i)
        sameRows = sameRow(report.findings.at(i), m_report.findings.at(i));
    if (!sameRows) {
        beginResetModel();
        m_report = report;
        endResetModel();
        return;
    }
    m_report = report;
    if (!m_report.findings.isEmpty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

void DesignCheckATModel::clear()
{
    setReport(CheckReport());
}

int DesignCheckATModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_report.findings.size();
}

int DesignCheckATModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString DesignCheckATModel::severityIconPath(CheckSeverity severity)
{
    switch (severity) {
    case CheckSeverity::Info: return QStringLiteral(":/images/images/icon_info_blue_tr_48x48.png");
    case CheckSeverity::Warning: return QStringLiteral(":/images/images/icon_warning_yellow_tr_48x48.png");
    case CheckSeverity::Error: return QStringLiteral(":/images/images/icon_error_red_tr_48x48.png");
    }
    return QString();
}

QVariant DesignCheckATModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    const CheckFinding& f = m_report.findings.at(index.row());
    if (role == FirstFrameRole)
        return f.firstFrame;
    if (role == Qt::ToolTipRole)
        return f.note;
    if (role == Qt::DecorationRole && index.column() == SeverityCol)
        return QIcon(severityIconPath(f.severity));
    if (role == Qt::TextAlignmentRole && index.column() == FirstFrameCol)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case SeverityCol: return checkSeverityName(f.severity);
    case CheckCol: return checkKindName(f.kind);
    case ObjectCol: return f.object;
    case DesignedCol: return f.designed;
    case MeasuredCol: return f.measured;
    case FirstFrameCol: return f.firstFrame < 0 ? QStringLiteral("-") : QString::number(f.firstFrame);
    default: return QVariant();
    }
}

QVariant DesignCheckATModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case SeverityCol: return tr("Severity");
    case CheckCol: return tr("Check");
    case ObjectCol: return tr("Object");
    case DesignedCol: return tr("Designed");
    case MeasuredCol: return tr("Measured");
    case FirstFrameCol: return tr("First Frame");
    default: return QVariant();
    }
}

Qt::ItemFlags DesignCheckATModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
