#pragma once

#include <QObject>
#include <QString>

class MainDTModel;
class QByteArray;
class QDomDocument;
class QDomElement;
class QModelIndex;
class QXmlStreamWriter;

/// Reads and writes a network project (.brxprj): the design tree's columns 0 to 66
/// as nested "maindtitem" elements under "brxprj" / "design".
class BrxprjFile : public QObject
{
    Q_OBJECT

public:
    BrxprjFile(MainDTModel* model, QObject* parent = nullptr);

    /// Writes the project; false when there is no Network node or the file cannot be written.
    /// The previous file stays whole when writing fails.
    bool save(const QString& path);
    /// Replaces the model's tree with the file's; false when the file cannot be read or is not
    /// well-formed XML. The undo stack is emptied: a loaded project is the base state.
    bool load(const QString& path);

    /// Limits no real project reaches (it is at most 7 levels deep and holds a few thousand
    /// items of short texts); a file beyond them is refused before anything is imported.
    static constexpr int MaxDepth = 32;
    static constexpr int MaxItems = 100000;
    static constexpr int MaxAttributeLength = 65536;
    static constexpr qint64 MaxFileSize = 128 << 20;
    /// Why the last load failed; empty after a load that worked.
    QString errorString() const { return m_error; }

    /// The DOM of the current tree, as save() writes it.
    QDomDocument buildDomDocument() const;
    /// The bytes save() writes.
    QByteArray toBytes() const;
    /// Fills the (already emptied) model from a document's bytes; false when it is not
    /// well-formed or goes beyond the limits.
    bool generateMainDTModel(const QByteArray& content);

signals:
    void generateProgress(int percent);

private:
    void exportItem(const QModelIndex& index, QDomDocument& document, QDomElement& parent) const;
    void writeElement(QXmlStreamWriter& writer, const QDomElement& element) const;
    /// Reads the whole document once, counting its items; why it cannot be loaded, or empty.
    QString checkContent(const QByteArray& content);
    /// Imports the "maindtitem" elements of a checked document under the model's root.
    void importMainDTItems(const QByteArray& content);
    void advanceProgress();

    MainDTModel* m_model;
    float m_progress = 0;
    float m_step = 0;
    int m_lastEmitted = -1;
    quint64 m_elementCount = 0;
    QString m_error;
};
