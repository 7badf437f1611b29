#pragma once

#include <QString>

namespace XmlText {

/// XML 1.0 cannot carry control characters, not even as references: a file
/// holding one would never load again, so they are written as U+FFFD, as are
/// unpaired surrogates and the two non-characters.
inline QString safe(const QString& text)
{
    QString out = text;
    for (int i = 0; i < out.size(); ++i) {
        const QChar c = out.at(i);
        const ushort u = c.unicode();
        bool bad = (u < 0x20 && u != 0x09 && u != 0x0A && u != 0x0D) || u == 0xFFFE || u == 0xFFFF;
        if (c.isHighSurrogate()) {
            if (i + 1 < out.size() && out.at(i + 1).isLowSurrogate())
                ++i;
            else
                bad = true;
        } else if (c.isLowSurrogate()) {
            bad = true;
        }
        if (bad)
            out[i] = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

} // namespace XmlText
