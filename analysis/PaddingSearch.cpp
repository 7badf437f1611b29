#include "analysis/PaddingSearch.h"

#include <QCoreApplication>

QString PaddingSearch::foundMessage(quint16 identifier)
{
    return QCoreApplication::translate("BX", "Velqor: The automatic search for the padding frame has detected the "
                                             "identifier: ID_DAT(0x%1)")
        .arg(identifier, 2, 16, QLatin1Char('0'));
}

void PaddingSearch::reset(quint16 identifier)
{
    m_identifier = identifier;
    m_searching = false;
    m_announce = false;
    m_attempts = 0;
}

PaddingSearch::Outcome PaddingSearch::check(bool* pending, quint64 paddingFrames, bool fixedPadding, bool autoDetect)
{
    m_announce = false;
    if (!*pending)
        return Nothing;
    if (paddingFrames != 0) {
        m_announce = m_searching;
        m_searching = false;
        *pending = false;
        return Found;
    }
    if (m_searching) {
        m_identifier = otherIdentifier(m_identifier);
        if (++m_attempts >= MaxAttempts) {
            m_searching = false;
            *pending = false;
            return GaveUp;
        }
        return Switched;
    }
    if (fixedPadding && autoDetect) {
        m_searching = true;
        m_attempts = 0;
    } else {
        *pending = false;
    }
    return Missing;
}
