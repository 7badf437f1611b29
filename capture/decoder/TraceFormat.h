#ifndef BX_CAPTURE_DECODER_TRACEFORMAT_H
#define BX_CAPTURE_DECODER_TRACEFORMAT_H

#include <QtGlobal>

#include <string>

/// Text forms of trace fields, appended to a byte string without temporary
/// strings or printf-style formatting: this runs for every frame.
namespace TraceFormat {

/// Decimal.
void appendDecimal(std::string& out, quint64 value);
/// Decimal with English digit grouping: 1,234,567.
void appendGrouped(std::string& out, quint64 value);
/// "0x%04x".
void appendHex4(std::string& out, quint16 value);
/// "0x%02x".
void appendHex2(std::string& out, quint8 value);
/// "%02x " for each byte.
void appendBytes(std::string& out, const quint8* data, int size);
/// A duration given in hundredths of a microsecond, as "%4.2f us".
void appendCentiMicros(std::string& out, quint64 centiMicros);
/// Zero-padded decimal of the given width.
void appendPadded(std::string& out, quint64 value, int width);

/// The value of a hexadecimal digit, either case; -1 for any other character.
inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

/// "[yyyy-MM-dd] hh:mm:ss.zzz" then the microseconds within the millisecond as
/// "%03d", in local time. The calendar part is worked out once per second.
class DateText
{
public:
    void append(std::string& out, quint64 microsSinceEpoch);

private:
    quint64 m_second = ~quint64(0);
    std::string m_prefix;
};

} // namespace TraceFormat

#endif
