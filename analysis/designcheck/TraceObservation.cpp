#include "TraceObservation.h"

#include <QFile>
#include <QObject>

#include <cstring>
#include <vector>

namespace TraceObservation {

namespace {

// Trace columns the check reads.
enum : int { Number = 1, AbsoluteDateTick = 5, InterFrameDelay = 6, Control = 8, Identifier = 9, Pdu = 10,
             DataLength = 11, FieldsRead = 12 };

struct Field
{
    const char* begin = nullptr;
    int size = 0;
    bool is(const char* text) const
    {
        const int n = int(std::strlen(text));
        return size == n && std::memcmp(begin, text, size_t(n)) == 0;
    }
    bool startsWith(const char* text) const
    {
        const int n = int(std::strlen(text));
        return size >= n && std::memcmp(begin, text, size_t(n)) == 0;
    }
};

// Digits only: the frame number is written with thousands separators.
quint64 digits(const Field& f)
{
    quint64 value = 0;
    for (int i = 0; i < f.size; ++i)
        if (f.begin[i] >= '0' && f.begin[i] <= '9')
            value = value * 10 + quint64(f.begin[i] - '0');
    return value;
}

// "12.34 us".
double micros(const Field& f)
{
    double value = 0, scale = 0;
    for (int i = 0; i < f.size; ++i) {
        const char c = f.begin[i];
        if (c >= '0' && c <= '9') {
            if (scale > 0) {
                value += (c - '0') * scale;
                scale /= 10;
            } else {
                value = value * 10 + (c - '0');
            }
        } else if (c == '.') {
            scale = 0.1;
        } else if (c != ' ') {
            break;
        }
    }
    return value;
}

quint16 hexId(const Field& f)
{
    quint32 value = 0;
    for (int i = f.startsWith("0x") ? 2 : 0; i < f.size; ++i) {
        const char c = f.begin[i];
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            break;
        value = value * 16 + quint32(digit);
    }
    return quint16(value);
}

ObservedFrame::Kind kindOf(const Field& control)
{
    if (control.is("ID_DAT"))
        return ObservedFrame::VariableRequest;
    if (control.is("ID_MSG") || control.is("ID_RQ1") || control.is("ID_RQ2"))
        return ObservedFrame::OtherRequest;
    if (control.startsWith("RP_DAT"))
        return ObservedFrame::VariableReply;
    if (control.startsWith("RP_"))
        return ObservedFrame::OtherFrame;
    return ObservedFrame::ErrorFrame;
}

} // namespace

bool parseLine(const char* line, int size, ObservedFrame* frame)
{
    Field fields[FieldsRead];
    int column = 0;
    int start = 0;
    for (int i = 0; i <= size && column < FieldsRead; ++i) {
        if (i == size || line[i] == '\t' || line[i] == '\n' || line[i] == '\r') {
            fields[column].begin = line + start;
            fields[column].size = i - start;
            ++column;
            start = i + 1;
            if (i < size && line[i] != '\t')
                break;
        }
    }
    if (column <= Control)
        return false;
    frame->number = digits(fields[Number]);
    frame->timeUs = digits(fields[AbsoluteDateTick]);
    frame->gapUs = micros(fields[InterFrameDelay]);
    frame->kind = kindOf(fields[Control]);
    frame->identifier = hexId(fields[Identifier]);
    frame->dataLength = int(digits(fields[DataLength]));
    frame->smMps = fields[Pdu].is("SM_MPS");
    return true;
}

bool read(const QString& path, BusObservation* bus, QString* error,
          const std::function<void(qint64, qint64)>& progress)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QObject::tr("Cannot open %1: %2").arg(path, file.errorString());
        return false;
    }
    const qint64 total = file.size();
    std::vector<char> buffer(1 << 16);
    ObservedFrame frame;
    quint64 lines = 0;
    for (;;) {
        const qint64 n = file.readLine(buffer.data(), qint64(buffer.size()));
        if (n <= 0)
            break;
        // A line longer than the buffer: the fields read are at its start, skip the rest.
        bool cut = n == qint64(buffer.size()) - 1 && buffer[size_t(n - 1)] != '\n';
        if (parseLine(buffer.data(), int(n), &frame))
            bus->add(frame);
        while (cut) {
            const qint64 m = file.readLine(buffer.data(), qint64(buffer.size()));
            cut = m == qint64(buffer.size()) - 1 && buffer[size_t(m - 1)] != '\n';
        }
        if (progress && (++lines & 0xFFFF) == 0)
            progress(file.pos(), total);
    }
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = QObject::tr("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    if (progress)
        progress(total, total);
    return true;
}

bool readSearchingPadding(const QString& path, BusObservation* bus, quint16 alternative, QString* error,
                          const std::function<void(qint64, qint64)>& progress)
{
    if (!read(path, bus, error, progress))
        return false;
    const auto requested = [bus](quint16 id) {
        const ObservedIdentifier* seen = bus->find(id);
        return seen && seen->requests > 0;
    };
    const quint16 configured = bus->paddingIdentifier();
    if (!bus->fixedPadding() || alternative == configured || requested(configured) || !requested(alternative))
        return true;
    // Padding splits the microcycles as the frames come: the trace is read again.
    bus->setPadding(true, alternative);
    bus->reset();
    return read(path, bus, error, progress);
}

} // namespace TraceObservation
