#include "shell/SettingsFileCheck.h"

#include "capture/decoder/TraceFormat.h"

#include <QFile>
#include <QSaveFile>

#include <vector>

namespace {

/// Where the line starting at `from` ends, as Qt's INI reader sees it: a newline
/// inside quotes or right after a backslash does not end it.
int lineEnd(const QByteArray& text, int from)
{
    bool inQuotes = false;
    int i = from;
    while (i < text.size()) {
        const char ch = text.at(i++);
        if (ch == '\\' && i < text.size()) {
            const char next = text.at(i++);
            if (i < text.size() && ((next == '\n' && text.at(i) == '\r') || (next == '\r' && text.at(i) == '\n')))
                ++i;
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if ((ch == '\n' || ch == '\r') && !inQuotes) {
            return i - 1;
        }
    }
    return i;
}

/// The characters Qt makes of a stretch of the file, quotes dropped and escapes
/// decoded as its INI reader does. Bytes above 0x7F stay bytes: no encoding of
/// them makes the ASCII this check looks for.
std::vector<quint16> unescaped(const char* p, int size)
{
    std::vector<quint16> out;
    out.reserve(size_t(size));
    int i = 0;
    while (i < size) {
        const char ch = p[i++];
        if (ch == '"')
            continue;
        if (ch != '\\') {
            out.push_back(quint8(ch));
            continue;
        }
        if (i >= size)
            break;
        const char e = p[i++];
        static const char simple[] = "a\ab\bf\fn\nr\rt\tv\v\"\"?\?''\\\\";
        bool done = false;
        for (int k = 0; simple[k] && !done; k += 2) {
            if (e == simple[k]) {
                out.push_back(quint8(simple[k + 1]));
                done = true;
            }
        }
        if (done)
            continue;
        if (e == 'x' || (e >= '0' && e <= '7')) {
            const bool hex = e == 'x';
            unsigned value = hex ? 0 : unsigned(e - '0');
            if (hex && (i >= size || TraceFormat::hexValue(p[i]) < 0))
                continue;
            while (i < size && (hex ? TraceFormat::hexValue(p[i]) >= 0 : (p[i] >= '0' && p[i] <= '7')))
                value = (value << (hex ? 4 : 3)) + unsigned(TraceFormat::hexValue(p[i++]));
            out.push_back(quint16(value));
        } else if ((e == '\n' || e == '\r') && i < size && (p[i] == '\n' || p[i] == '\r') && p[i] != e) {
            ++i; // a line continued
        }
        // Any other escaped character is dropped, as Qt does.
    }
    return out;
}

/// Whether the decoded text holds "@Variant(" of any type but a colour: Qt reads a
/// colour with fixed-size reads. Wherever it stands, not only where Qt would read it.
bool holdsUnsafeVariant(const std::vector<quint16>& s)
{
    static const char tag[] = "@Variant(";
    const size_t tagSize = sizeof(tag) - 1;
    static const quint16 colour[] = { 0, 0, 0, 0x43 }; // QMetaType::QColor, big-endian
    for (size_t at = 0; at + tagSize <= s.size(); ++at) {
        bool found = true;
        for (size_t k = 0; k < tagSize && found; ++k)
            found = s[at + k] == quint8(tag[k]);
        if (!found || (at > 0 && s[at - 1] == '@')) // "@@" starts plain text
            continue;
        for (size_t k = 0; k < 4; ++k) {
            if (at + tagSize + k >= s.size() || s[at + tagSize + k] != colour[k])
                return true;
        }
    }
    return false;
}

QString keyOf(const QByteArray& line, const QString& section)
{
    const int equals = line.indexOf('=');
    QString key = QString::fromUtf8(equals < 0 ? line : line.left(equals)).trimmed();
    key.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return section.isEmpty() ? key : section + QLatin1Char('/') + key;
}

bool saveWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

} // namespace

QByteArray SettingsFileCheck::withoutUnsafeValues(const QByteArray& text, QStringList* keys)
{
    QByteArray kept;
    QString section;
    int from = 0;
    while (from < text.size()) {
        int end = lineEnd(text, from);
        while (end < text.size() && (text.at(end) == '\n' || text.at(end) == '\r'))
            ++end;
        const QByteArray line = text.mid(from, end - from);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('[') && trimmed.endsWith(']'))
            section = QString::fromUtf8(trimmed.mid(1, trimmed.size() - 2));
        if (holdsUnsafeVariant(unescaped(line.constData(), line.size()))) {
            if (keys)
                keys->append(keyOf(trimmed, section));
        } else {
            kept += line;
        }
        from = end;
    }
    return kept;
}

SettingsFileCheck::Result SettingsFileCheck::repair(const QString& path)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result; // no store yet
    const QByteArray text = file.readAll();
    file.close();
    const QByteArray sound = withoutUnsafeValues(text, &result.setAside);
    if (result.setAside.isEmpty())
        return result;

    result.keptAs = path + QStringLiteral(".unreadable");
    if (saveWhole(result.keptAs, text, &result.error))
        saveWhole(path, sound, &result.error);
    return result;
}
