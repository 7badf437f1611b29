#ifndef BX_CAPTURE_DECODER_TRACEROW_H
#define BX_CAPTURE_DECODER_TRACEROW_H

#include <QByteArray>
#include <QString>

#include <array>
#include <string>

/// The 22 text fields of one trace line, in frame table column order.
///
/// Fields are UTF-8 byte strings that keep their capacity when cleared, so one
/// row reused for every frame does not allocate once it has grown.
class TraceRow
{
public:
    static constexpr int FieldCount = 22;

    /// Column numbers of the fields the capture pipeline writes.
    enum Column {
        Anchor = 0,
        Number = 1,
        RelativeDate = 2,
        RelativeDateTick = 3,
        AbsoluteDate = 4,
        AbsoluteDateTick = 5,
        InterFrameDelay = 6,
        FrameDelay = 7,
        Control = 8,
        Identifier = 9,
        Pdu = 10,
        DataLength = 11,
        Mnemonic = 12,
        Data = 13,
        Description = 14,
        Type = 15,
        BitRange = 16,
        Pixmap = 17,
        ProductionStatus = 18,
        MeaningStatus = 19,
        RefreshStatus = 20,
        Fcs = 21
    };

    /// Empties every field.
    void clear();

    std::string& field(int column) { return m_fields[static_cast<size_t>(column)]; }
    const std::string& field(int column) const { return m_fields[static_cast<size_t>(column)]; }

    void set(int column, const char* text);
    /// Stores a text; tabs and line ends become blanks so the line keeps its 22 fields.
    void setText(int column, const QString& text);
    QString text(int column) const;

    /// Appends the fields joined by tabs and a line end.
    void appendLine(QByteArray& out) const;
    QByteArray line() const;

    /// Splits a trace line (with or without its line end) back into a row;
    /// missing fields stay empty, fields beyond the 22nd are dropped.
    static TraceRow fromLine(const QByteArray& line);

private:
    std::array<std::string, FieldCount> m_fields;
};

#endif
