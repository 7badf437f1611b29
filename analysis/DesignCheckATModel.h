#ifndef BX_ANALYSIS_DESIGNCHECKATMODEL_H
#define BX_ANALYSIS_DESIGNCHECKATMODEL_H

#include "analysis/designcheck/DesignCheckTypes.h"

#include <QAbstractTableModel>

/// The findings of the design check, one row each, for the Design Check page.
class DesignCheckATModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column { SeverityCol, CheckCol, ObjectCol, DesignedCol, MeasuredCol, FirstFrameCol, ColumnCount };
    /// Role of the first frame number (qint64, -1 when none) on every column.
    static constexpr int FirstFrameRole = Qt::UserRole + 1;

    explicit DesignCheckATModel(QObject* parent = nullptr);

    /// Shows a new report; rows that stay the same findings are updated in place,
    /// so the selection survives a refresh during a capture.
    void setReport(const CheckReport& report);
    const CheckReport& report() const { return m_report; }
    void clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    static QString severityIconPath(CheckSeverity severity);

private:
    CheckReport m_report;
};

#endif
