#include "capture/decoder/TraceRow.h"

void TraceRow::clear()
{
    for (std::string& f : m_fields)
        f.clear();
}

void TraceRow::set(int column, const char* text)
{
    field(column).assign(text);
}

void TraceRow::setText(int column, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    std::string& f = field(column);
    f.assign(utf8.constData(), static_cast<size_t>(utf8.size()));
    for (char& c : f) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
}

QString TraceRow::text(int column) const
{
    const std::string& f = field(column);
    return QString::fromUtf8(f.data(), static_cast<int>(f.size()));
}

void TraceRow::appendLine(QByteArray& out) const
{
    for (int c = 0; c < FieldCount; ++c) {
        if (c > 0)
            out.append('\t');
        const std::string& f = m_fields[static_cast<size_t>(c)];
        out.append(f.data(), static_cast<int>(f.size()));
    }
    out.append('\n');
}

QByteArray TraceRow::line() const
{
    QByteArray out;
    appendLine(out);
    return out;
}

TraceRow TraceRow::fromLine(const QByteArray& line)
{
    TraceRow row;
    int end = line.size();
    while (end > 0 && (line.at(end - 1) == '\n' || line.at(end - 1) == '\r'))
        --end;
    int column = 0;
    int start = 0;
    for (int i = 0; i <= end && column < FieldCount; ++i) {
        if (i == end || line.at(i) == '\t') {
            row.field(column).assign(line.constData() + start, static_cast<size_t>(i - start));
            ++column;
            start = i + 1;
        }
    }
    return row;
}
