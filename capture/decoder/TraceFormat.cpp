#include "capture/decoder/TraceFormat.h"

#include <QDateTime>

namespace TraceFormat {

namespace {

const char kHex[] = "0123456789abcdef";

// Digits of value, least significant first, into buf; returns the count.
int digits(char* buf, quint64 value)
{
    int n = 0;
    do {
        buf[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    return n;
}

} // namespace

void appendDecimal(std::string& out, quint64 value)
{
    char buf[20];
    int n = digits(buf, value);
    while (n > 0)
        out.push_back(buf[--n]);
}

void appendGrouped(std::string& out, quint64 value)
{
    char buf[20];
    int n = digits(buf, value);
    while (n > 0) {
        out.push_back(buf[--n]);
        if (n > 0 && n % 3 == 0)
            out.push_back(',');
    }
}

void appendPadded(std::string& out, quint64 value, int width)
{
    char buf[20];
    int n = digits(buf, value);
    for (int i = n; i < width; ++i)
        out.push_back('0');
    while (n > 0)
        out.push_back(buf[--n]);
}

void appendHex4(std::string& out, quint16 value)
{
    const char text[6] = { '0', 'x', kHex[(value >> 12) & 0xF], kHex[(value >> 8) & 0xF],
                           kHex[(value >> 4) & 0xF], kHex[value & 0xF] };
    out.append(text, 6);
}

void appendHex2(std::string& out, quint8 value)
{
    const char text[4] = { '0', 'x', kHex[value >> 4], kHex[value & 0xF] };
    out.append(text, 4);
}

void appendBytes(std::string& out, const quint8* data, int size)
{
    if (size <= 0)
        return;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(size) * 3);
    char* p = &out[at];
    for (int i = 0; i < size; ++i) {
        *p++ = kHex[data[i] >> 4];
        *p++ = kHex[data[i] & 0xF];
        *p++ = ' ';
    }
}

void appendCentiMicros(std::string& out, quint64 centiMicros)
{
    appendDecimal(out, centiMicros / 100);
    out.push_back('.');
    appendPadded(out, centiMicros % 100, 2);
    out.append(" us", 3);
}

void DateText::append(std::string& out, quint64 micros)
{
    const quint64 second = micros / 1000000;
    if (second != m_second) {
        m_second = second;
        const QDateTime date = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(second * 1000));
        m_prefix = date.isValid() ? date.toString(QStringLiteral("[yyyy-MM-dd] hh:mm:ss.")).toStdString()
                                  : std::string();
    }
    out.append(m_prefix);
    appendPadded(out, (micros / 1000) % 1000, 3);
    appendPadded(out, micros % 1000, 3);
}

} // namespace TraceFormat
