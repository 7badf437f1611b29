#pragma once

#include <QSortFilterProxyModel>

/// The control tree: the design tree without what a running network has no
/// use for (arbitrators, referenced variables, stations with no board) and,
/// unless labels are shown, without the data renderings.
class MainCTModel : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit MainCTModel(QObject* parent = nullptr);

    bool labelsVisible() const { return m_labelsVisible; }
    void setLabelsVisible(bool visible);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    bool m_labelsVisible = true;
};
