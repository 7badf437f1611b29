#ifndef BX_CAPTURE_FILES_STATSFILE_H
#define BX_CAPTURE_FILES_STATSFILE_H

#include <QList>
#include <QPair>
#include <QString>

class QDomDocument;
class QDomElement;

/// The statistics of an analysis as an XML file: network information, capture
/// times, FIP times and the named counters.
///
/// The values live in the caller (the analysis context); the file is given
/// pointers to them. Saving replaces the file atomically; loading checks the
/// whole document before it changes any value, and never writes the file.
class StatsFile
{
public:
    using Counters = QList<QPair<QString, quint64*>>;
    using Texts = QList<QPair<QString, QString*>>;

    /// Attribute names of the texts, by element.
    static const char* const NetworkInfoTexts[2];    ///< frameType, speed
    static const char* const CapturingTimeTexts[3];  ///< startTime, endTime, duration
    static const char* const FipTimeTexts[4];        ///< microcycleTime, macrocycleTime, silenceTime, turnAroundTime

    StatsFile(const Counters& counters, const Texts& texts);

    /// The statistics file of a capture: beside it, ".xml" for its extension.
    static QString pathFor(const QString& capturePath);

    bool save(const QString& path);
    bool load(const QString& path);
    /// The message for the last failure.
    QString errorString() const { return m_error; }

    /// The XML of the current values.
    QByteArray toXml() const;
    /// Reads a document; false (values untouched) when it is not a statistics file.
    bool fromXml(const QByteArray& xml, const QString& path = QString());

    static void exportCounterToDomDocument(const QString& name, quint64 value, QDomDocument& document,
                                           QDomElement& parent);
    /// Fills the pointed-to values from a checked document root; counters and texts
    /// absent from the file keep their values.
    static void importDomDocumentToStatisticalAnalysis(const Counters& counters, const Texts& texts,
                                                       const QDomElement& root);
    /// Why root is not a statistics document of this version; empty when it is.
    static QString checkDocument(const QDomElement& root);

private:
    QString text(const QString& name) const;

    Counters m_counters;
    Texts m_texts;
    QString m_error;
};

#endif
