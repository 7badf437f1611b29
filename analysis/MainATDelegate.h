#ifndef BX_ANALYSIS_MAINATDELEGATE_H
#define BX_ANALYSIS_MAINATDELEGATE_H

#include <QStyledItemDelegate>

class ControlTable;

/// Paints each frame table row in the colour of its control type, and the
/// "Anchor" column as a centred check box that makes its row the anchor.
class MainATDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    MainATDelegate(const ControlTable* controls, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static QRect checkRect(const QStyleOptionViewItem& option);

    const ControlTable* m_controls;
};

#endif
