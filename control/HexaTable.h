#pragma once

#include <QByteArray>
#include <QString>

class QTableWidget;

/// Byte grids of 16 x 16 cells: byte i at row i / 16, column i % 16.
namespace HexaTable {

constexpr int Side = 16;
constexpr int Cells = Side * Side;

/// Sizes and labels an empty grid (rows "00" to "F0", columns "0" to "F").
void setup(QTableWidget* table);
/// "Data" text ("0A 1B ") to bytes; stops at the first field that is not a byte.
QByteArray parseData(const QString& data);
/// Bytes to "Data" text: two upper-case digits and one blank per byte.
QString dataText(const QByteArray& bytes);

/// Shows `bytes` in the grid. A cell whose byte differs from what it showed
/// turns bold; cells past the data are emptied and rows past the last byte
/// hidden. With `previous` of the same length, `changed` tells whether any byte
/// differs from it. The grid's own signals stay silent meanwhile.
void update(QTableWidget* table, const QByteArray& bytes, bool editable,
            const QByteArray* previous = nullptr, bool* changed = nullptr);

} // namespace HexaTable
