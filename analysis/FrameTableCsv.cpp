#include "analysis/FrameTableCsv.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QIODevice>

namespace FrameTableCsv {

namespace {

// Rows between two progress calls and two writes.
constexpr int kBatchRows = 4096;

} // namespace

QByteArray field(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r')) {
        bytes.replace('"', "\"\"");
        bytes.prepend('"');
        bytes.append('"');
    }
    return bytes;
}

bool write(QIODevice* out, const QAbstractItemModel& model, const QVector<int>& columns,
           const std::function<bool(qint64)>& progress, QString* error)
{
    QByteArray buffer;
    const auto line = [&](auto cell) {
        for (int i = 0; i < columns.size(); ++i) {
            if (i)
                buffer += ',';
            buffer += field(cell(columns.at(i)));
        }
        buffer += "\r\n";
    };
    const auto flush = [&] {
        if (out->write(buffer) != buffer.size()) {
            *error = out->errorString();
            return false;
        }
        buffer.clear();
        return true;
    };
    line([&](int c) { return model.headerData(c, Qt::Horizontal).toString(); });
    const int rows = model.rowCount();
    for (int r = 0; r < rows; ++r) {
        line([&](int c) { return model.index(r, c).data().toString(); });
        if ((r + 1) % kBatchRows == 0) {
            if (!flush())
                return false;
            if (progress && !progress(r + 1)) {
                *error = QCoreApplication::translate("FrameTableCsv", "Export cancelled");
                return false;
            }
        }
    }
    return flush();
}

} // namespace FrameTableCsv
