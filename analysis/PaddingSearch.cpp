#include "analysis/PaddingSearch.h"

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
        m_identifier = m_identifier == FirstIdentifier ? SecondIdentifier : FirstIdentifier;
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
