// Arbitrary text as a display filter expression, then matched against a
// trace line. The input's first line is the expression, the rest the trace
// line. A refused expression names a position inside the text; an accepted
// one matches or not, without crashing, whatever the line holds.
#include "analysis/filter/FrameFilter.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), int(size));
    const int nl = input.indexOf('\n');
    const QString text = QString::fromUtf8(nl < 0 ? input : input.left(nl));
    const QByteArray line = nl < 0 ? QByteArray() : input.mid(nl + 1);

    const FrameFilter filter = FrameFilter::parse(text);
    if (!filter.isValid()) {
        if (filter.error().position < 0 || filter.error().position > text.size())
            std::abort();
        if (filter.matches(line))
            std::abort();
        return 0;
    }
    FrameFilterContext context;
    context.anchor = line.size() ? quint64(quint8(line.at(0))) << 40 : 0;
    const bool once = filter.matches(line, context);
    if (filter.matches(line, context) != once)
        std::abort();
    return 0;
}
