#pragma once

#include <QWidget>

class QMimeData;

/// The start page of the design area: accepts a dropped .brxprj file and hands its path on.
class DesignDropAreaWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DesignDropAreaWidget(QWidget* parent = nullptr);

    /// True when the mime data carries a URL list whose first project path ends with "brxprj".
    static bool acceptsProjectDrop(const QMimeData* mime);

signals:
    void brxprjFileDropped(QString path);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
