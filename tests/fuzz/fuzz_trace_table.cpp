// Bytes as a trace file → the shape check that decides whether it opens as one,
// then the frame table: indexing, every cell of every row (icons aside: they need
// a screen), then the same file grown by a second copy of itself, as a live
// capture grows it.

#include "analysis/MainATModel.h"
#include "capture/files/TraceFileCheck.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

namespace {

void readAll(const MainATModel& model)
{
    for (int row = 0; row < model.rowCount(); ++row) {
        for (int column = 0; column < model.columnCount(); ++column) {
            const QModelIndex index = model.index(row, column);
            model.data(index, Qt::DisplayRole);
            model.data(index, Qt::CheckStateRole);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_trace_table";
    static char* argv[] = { name, nullptr };
    static QCoreApplication app(argc, argv);
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("capture.vtrc"));
    QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        const bool trace = TraceFileCheck::problem(buffer).isEmpty();
        // An accepted start is text lines of 22 fields; nothing was consumed.
        if (buffer.pos() != 0 || (trace && bytes.left(TraceFileCheck::kBytes).contains('\0')))
            abort();
    }
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            abort();
        file.write(bytes);
    }
    MainATModel model;
    model.setOstrakSpeed(size > 0 ? data[0] % 5 : 0);
    model.setFilePath(path);
    const int rows = model.rowCount();
    readAll(model);
    {
        QFile file(path);
        if (!file.open(QIODevice::Append))
            abort();
        file.write(bytes);
    }
    model.update();
    if (model.rowCount() < rows)
        abort();
    readAll(model);
    return 0;
}
