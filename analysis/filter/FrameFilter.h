#ifndef BX_ANALYSIS_FILTER_FRAMEFILTER_H
#define BX_ANALYSIS_FILTER_FRAMEFILTER_H

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QVector>

#include <array>
#include <memory>

/// One trace line seen as its tab-separated fields, split only as far as a
/// filter needs. The bytes stay where they are; nothing is copied.
class FrameLine
{
public:
    static constexpr int FieldCount = 22;

    /// Takes the line (without its line end) and splits its first `fields` fields.
    void reset(const char* data, int size, int fields = FieldCount);
    /// Field bytes and length; empty when the line has fewer fields.
    const char* field(int column, int* length) const;
    QByteArray fieldBytes(int column) const;

private:
    const char* m_data = nullptr;
    int m_split = 0;
    std::array<int, FieldCount + 1> m_starts {};
};

/// What a row is compared against besides its own text.
struct FrameFilterContext {
    /// Absolute date tick (µs) that `time` counts from: the frame table's anchor.
    quint64 anchor = 0;
};

/// A display filter expression over the frame table's columns, parsed once
/// and matched against many trace lines. Matching is const and may run on
/// several threads at once.
///
/// Fields: no, time, ctrl, id, pdu, len, data, fcs, mnemonic, mnemonic.value,
/// error and error.<kind>. See the help document for the grammar.
class FrameFilter
{
public:
    struct Error {
        QString message;
        int position = -1; ///< character offset in the expression, -1 when none
    };

    FrameFilter();

    /// Parses `text`; on failure the filter is invalid and `error()` says why
    /// and where. An empty or blank text gives a valid filter that matches all.
    static FrameFilter parse(const QString& text);

    bool isValid() const { return m_error.message.isEmpty(); }
    /// A valid filter with no condition.
    bool isEmpty() const { return isValid() && m_nodes.isEmpty(); }
    const Error& error() const { return m_error; }
    const QString& text() const { return m_text; }
    /// Highest field number the expression reads, plus one.
    int fieldsNeeded() const { return m_fieldsNeeded; }
    /// Whether the result depends on the anchor (the expression reads `time`).
    bool readsTime() const { return m_readsTime; }

    bool matches(const FrameLine& line, const FrameFilterContext& context) const;
    /// Convenience: splits and matches one line.
    bool matches(const QByteArray& line, const FrameFilterContext& context = {}) const;

    /// Names of the fields, for completion and the help text.
    static QStringList fieldNames();

    enum class Field : quint8 {
        Number, Time, Control, Identifier, Pdu, Length, Data, Fcs, Mnemonic, MnemonicValue,
        Error, ErrorOverflow, ErrorPre, ErrorFsd, ErrorFed, ErrorControl, ErrorSize, ErrorFcs,
        ErrorInterruption
    };
    enum class Op : quint8 { Present, Eq, Ne, Lt, Le, Gt, Ge, Contains, Matches, In };
    enum class NodeKind : quint8 { Test, And, Or, Not };

    struct Range {
        double low;
        double high;
    };
    struct Node {
        NodeKind kind = NodeKind::Test;
        Field field = Field::Number;
        Op op = Op::Present;
        int column = 0; ///< trace field the test reads
        int left = -1;  ///< And, Or, Not: first operand
        int right = -1; ///< And, Or: second operand
        double number = 0;
        QByteArray bytes;          ///< text or byte sequence
        QVector<Range> ranges;     ///< `in` over a numeric field
        QVector<QByteArray> texts; ///< `in` over a text field
        QRegularExpression regex;
    };

private:
    friend class FrameFilterParser;
    bool eval(int node, const FrameLine& line, const FrameFilterContext& context) const;
    bool test(const Node& n, const FrameLine& line, const FrameFilterContext& context) const;

    QString m_text;
    Error m_error;
    QVector<Node> m_nodes;
    int m_root = -1;
    int m_fieldsNeeded = 0;
    bool m_readsTime = false;
};

#endif
