#pragma once

#include <QTableWidget>

/// A byte grid that copies its selection to the clipboard as tab- and
/// line-separated text and pastes such text from the current cell on.
class TableWidgetWithPaste : public QTableWidget
{
    Q_OBJECT
public:
    explicit TableWidgetWithPaste(QWidget* parent = nullptr);

    /// The selected cells sorted by row then column: tab within a row, line feed
    /// between rows, no final line feed.
    QString selectionText() const;
    /// Writes `text` into the grid from the current cell; fields on missing,
    /// disabled or read-only cells are skipped.
    void pasteText(const QString& text);

public slots:
    void copy();
    void paste();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private slots:
    void onCustomContextMenuRequested(const QPoint& pos);
};
