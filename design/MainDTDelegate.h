#pragma once

#include <QColor>
#include <QList>
#include <QPair>
#include <QStyledItemDelegate>

#include <functional>

/// Design tree delegate: the "FIP Device" column edits through a board selector,
/// every other column through the standard editor.
class MainDTDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    /// One board offered for binding: its description and its LED colour.
    using Device = QPair<QString, QColor>;

    explicit MainDTDelegate(QObject* parent = nullptr);

    /// The boards that no station has bound yet.
    void setUnattachedDevices(const QList<Device>& devices);
    QList<Device> unattachedDevices() const;
    /// Asked each time the selector opens, when set; replaces the stored list.
    void setUnattachedDevicesQuery(std::function<QList<Device>()> query);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

private:
    bool isDeviceCell(const QModelIndex& index) const;

    QList<Device> m_devices;
    std::function<QList<Device>()> m_query;
};
