#include "control/HexaTable.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <QStringList>
#include <QTableWidget>

namespace HexaTable {

namespace {

// The grid takes the height of the rows it shows, no blank area below them.
void fitHeight(QTableWidget* table, int rows)
{
    table->setFixedHeight(table->horizontalHeader()->sizeHint().height() + rows * table->verticalHeader()->defaultSectionSize()
                          + 2 * table->frameWidth());
}

} // namespace

void setup(QTableWidget* table)
{
    const QSignalBlocker blocker(table);
    table->setRowCount(Side);
    table->setColumnCount(Side);
    QStringList rows, columns;
    for (int i = 0; i < Side; ++i) {
        rows << QString::asprintf("%02X", i * Side);
        columns << QString::asprintf("%X", i);
    }
    table->setVerticalHeaderLabels(rows);
    table->setHorizontalHeaderLabels(columns);
    // Sixteen columns must fit a side panel without scrolling.
    table->setStyleSheet(QStringLiteral("QHeaderView::section { padding: 1px 3px; } QTableView::item { padding: 0px; }"));
    table->setTextElideMode(Qt::ElideNone);
    QFont font = table->font();
    font.setPointSizeF(font.pointSizeF() > 8 ? font.pointSizeF() - 1 : font.pointSizeF());
    table->setFont(font);
    table->horizontalHeader()->setMinimumSectionSize(16);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setMinimumSectionSize(16);
    table->verticalHeader()->setDefaultSectionSize(22);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int i = 0; i < Cells; ++i) {
        if (!table->item(i / Side, i % Side)) {
            auto* cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            table->setItem(i / Side, i % Side, cell);
        }
    }
}

QByteArray parseData(const QString& data)
{
    QByteArray bytes;
    const QStringList fields = data.split(QChar(' '), Qt::SkipEmptyParts);
    for (const QString& field : fields) {
        bool ok = false;
        const uint value = field.toUInt(&ok, 16);
        if (!ok || value > 0xFF || bytes.size() == Cells)
            break;
        bytes.append(char(value));
    }
    return bytes;
}

QString dataText(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size() * 3);
    for (char b : bytes)
        text += QString::asprintf("%02X ", uchar(b));
    return text;
}

void update(QTableWidget* table, const QByteArray& bytes, bool editable, const QByteArray* previous, bool* changed)
{
    if (table->rowCount() != Side || table->columnCount() != Side)
        setup(table);
    const int length = qMin(bytes.size(), Cells);
    if (length == 0) {
        for (int row = 0; row < Side; ++row)
            table->setRowHidden(row, true);
        fitHeight(table, 0);
        return;
    }
    if (previous && changed && previous->size() == bytes.size())
        *changed = *previous != bytes;

    const QSignalBlocker blocker(table);
    const Qt::ItemFlags flags = Qt::ItemIsSelectable | Qt::ItemIsEnabled | (editable ? Qt::ItemIsEditable : Qt::NoItemFlags);
    for (int i = 0; i < Cells; ++i) {
        QTableWidgetItem* cell = table->item(i / Side, i % Side);
        if (!cell) {
            cell = new QTableWidgetItem;
            cell->setTextAlignment(Qt::AlignCenter);
            table->setItem(i / Side, i % Side, cell);
        }
        if (i >= length) {
            cell->setText(QString());
            cell->setFlags(Qt::NoItemFlags);
            continue;
        }
        const uchar byte = uchar(bytes.at(i));
        bool ok = false;
        const uint old = cell->text().toUInt(&ok, 16);
        QFont font = cell->font();
        font.setWeight(ok && old == byte ? QFont::Normal : QFont::Bold);
        cell->setFont(font);
        cell->setText(QString::asprintf("%02x", byte).toUpper());
        cell->setFlags(flags);
    }
    const int lastRow = (length - 1) / Side;
    for (int row = 0; row < Side; ++row)
        table->setRowHidden(row, row > lastRow);
    fitHeight(table, lastRow + 1);
}

} // namespace HexaTable
