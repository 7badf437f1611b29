#include "capture/files/TraceFileCheck.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QTextCodec>

namespace {

constexpr int kFields = 22;

QString tr(const char* text)
{
    return QCoreApplication::translate("TraceFileCheck", text);
}

} // namespace

QString TraceFileCheck::problem(QIODevice& file)
{
    const QByteArray start = file.peek(kBytes);
    if (start.contains('\0'))
        return tr("it holds binary data, not text lines");
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(start.constData(), start.size(), &state);
    // A character cut by the end of what was read is not an error.
    if (state.invalidChars > 0)
        return tr("it is not UTF-8 text");
    int from = 0;
    for (int line = 1; line <= kLines && from < start.size(); ++line) {
        const int end = start.indexOf('\n', from);
        if (end < 0) {
            if (start.size() == kBytes && from == 0)
                return tr("its first line is longer than a trace row");
            break; // the last line may be cut by what was read, or still being written
        }
        const int fields = start.mid(from, end - from).count('\t') + 1;
        if (fields != kFields)
            return tr("line %1 holds %2 fields instead of %3").arg(line).arg(fields).arg(kFields);
        from = end + 1;
    }
    return QString();
}
