#ifndef BX_CAPTURE_FILES_TRACEFILECHECK_H
#define BX_CAPTURE_FILES_TRACEFILECHECK_H

#include <QString>

class QIODevice;

/// Whether a file opened as a `.vtrc` trace has a trace's shape: its first lines
/// are UTF-8 text of 22 tab-separated fields. Only the start is read, so a large
/// trace is checked at once; an empty file is an empty trace.
namespace TraceFileCheck {

/// Lines looked at, and bytes read at most to find them.
constexpr int kLines = 8;
constexpr int kBytes = 64 * 1024;

/// Why the file is not a trace, or an empty text when it looks like one.
QString problem(QIODevice& file);

} // namespace TraceFileCheck

#endif
