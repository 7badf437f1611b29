#ifndef BX_ANALYSIS_PADDINGSEARCH_H
#define BX_ANALYSIS_PADDINGSEARCH_H

#include <QString>
#include <QtGlobal>

/// The automatic search for the padding identifier: when no padding frame was
/// counted, the two usual padding identifiers are tried in turn, three times.
class PaddingSearch
{
public:
    enum Outcome {
        Nothing,  ///< no search due
        Found,    ///< padding counted; `announce` when the search found it
        Switched, ///< no padding yet: the other identifier is tried
        GaveUp,   ///< three tries without padding, the search stops silently
        Missing   ///< the configured padding never came; `searching()` tells whether a search starts
    };

    static constexpr quint16 FirstIdentifier = 0x9080;
    static constexpr quint16 SecondIdentifier = 0x7530;
    static constexpr int MaxAttempts = 3;
    /// The identifier the search tries after `identifier`.
    static quint16 otherIdentifier(quint16 identifier)
    {
        return identifier == FirstIdentifier ? SecondIdentifier : FirstIdentifier;
    }

    /// A new capture with the configured identifier.
    void reset(quint16 identifier);
    /// The status bar message of a search that found `identifier`.
    static QString foundMessage(quint16 identifier);

    /// One check, every fourth statistics tick. `pending` is cleared when the search is over.
    Outcome check(bool* pending, quint64 paddingFrames, bool fixedPadding, bool autoDetect);

    quint16 identifier() const { return m_identifier; }
    bool searching() const { return m_searching; }
    bool announce() const { return m_announce; }
    int attempts() const { return m_attempts; }

private:
    quint16 m_identifier = FirstIdentifier;
    bool m_searching = false;
    bool m_announce = false;
    int m_attempts = 0;
};

#endif
