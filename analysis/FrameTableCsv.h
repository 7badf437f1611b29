#ifndef BX_ANALYSIS_FRAMETABLECSV_H
#define BX_ANALYSIS_FRAMETABLECSV_H

#include <QString>
#include <QVector>

#include <functional>

class QAbstractItemModel;
class QIODevice;

/// The rows of a frame table as comma-separated values: one header line of
/// the columns' titles, then one line per row, UTF-8, fields quoted when they
/// hold a comma, a quote or a line end.
namespace FrameTableCsv {

/// Writes `columns` of every row of `model`; `progress` gets the rows done and
/// returns false to stop. False with `error` set when writing failed or stopped.
bool write(QIODevice* out, const QAbstractItemModel& model, const QVector<int>& columns,
           const std::function<bool(qint64)>& progress, QString* error);

/// One field as it goes into the file.
QByteArray field(const QString& text);

} // namespace FrameTableCsv

#endif
