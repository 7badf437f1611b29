#include "control/TableWidgetWithPaste.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>

#include <algorithm>

TableWidgetWithPaste::TableWidgetWithPaste(QWidget* parent)
    : QTableWidget(parent)
{
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, &TableWidgetWithPaste::onCustomContextMenuRequested);
}

QString TableWidgetWithPaste::selectionText() const
{
    QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    std::sort(cells.begin(), cells.end(), [](const QModelIndex& a, const QModelIndex& b) {
        return a.row() != b.row() ? a.row() < b.row() : a.column() < b.column();
    });
    QString text;
    for (int i = 0; i < cells.size(); ++i) {
        if (i > 0)
            text += cells.at(i).row() == cells.at(i - 1).row() ? QChar('\t') : QChar('\n');
        text += cells.at(i).data().toString();
    }
    return text;
}

void TableWidgetWithPaste::pasteText(const QString& text)
{
    QStringList lines = text.split(QChar('\n'));
    while (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    const int top = qMax(0, currentRow());
    const int left = qMax(0, currentColumn());
    for (int r = 0; r < lines.size(); ++r) {
        QString line = lines.at(r);
        if (line.endsWith(QChar('\r')))
            line.chop(1);
        QStringList fields = line.split(QChar('\t'));
        while (!fields.isEmpty() && fields.last().isEmpty())
            fields.removeLast();
        for (int c = 0; c < fields.size(); ++c) {
            QTableWidgetItem* cell = item(top + r, left + c);
            if (!cell || !(cell->flags() & Qt::ItemIsEnabled) || !(cell->flags() & Qt::ItemIsEditable))
                continue;
            cell->setText(fields.at(c));
        }
    }
}

void TableWidgetWithPaste::copy()
{
    QApplication::clipboard()->setText(selectionText());
}

void TableWidgetWithPaste::paste()
{
    pasteText(QApplication::clipboard()->text());
}

void TableWidgetWithPaste::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copy();
        event->accept();
    } else if (event->matches(QKeySequence::Paste)) {
        paste();
        event->accept();
    } else {
        QTableWidget::keyPressEvent(event);
    }
}

void TableWidgetWithPaste::onCustomContextMenuRequested(const QPoint& pos)
{
    QMenu menu(this);
    QAction* copyAction = menu.addAction(tr("Copy"));
    QAction* pasteAction = menu.addAction(tr("Paste"));
    QAction* chosen = menu.exec(viewport()->mapToGlobal(pos));
    if (chosen == copyAction)
        copy();
    else if (chosen == pasteAction)
        paste();
}
