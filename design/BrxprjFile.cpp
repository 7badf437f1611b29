#include "design/BrxprjFile.h"

#include "design/MainDTModel.h"
#include "design/TreeItem.h"
#include "design/XmlText.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QPersistentModelIndex>
#include <QSaveFile>
#include <QUndoStack>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <algorithm>
#include <vector>

namespace {
const QString kItemTag = QStringLiteral("maindtitem");
const QString kColumnPrefix = QStringLiteral("col");

/// Column of a "colN" attribute: the low 8 bits of N; -1 when N is not a decimal number.
int attributeColumn(const QStringRef& name)
{
    if (!name.startsWith(kColumnPrefix))
        return -1;
    const QStringRef digits = name.mid(kColumnPrefix.size());
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; }))
        return -1;
    bool ok = false;
    const qulonglong n = digits.toULongLong(&ok);
    return ok ? int(n & 0xFF) : -1;
}

/// Sort key of an attribute name: columns by number, anything else after them by name.
qlonglong attributeOrder(const QString& name)
{
    const int column = attributeColumn(QStringRef(&name));
    return column < 0 ? (qlonglong(1) << 40) : name.midRef(kColumnPrefix.size()).toLongLong();
}
} // namespace

BrxprjFile::BrxprjFile(MainDTModel* model, QObject* parent)
    : QObject(parent)
    , m_model(model)
{
}

// ---------------------------------------------------------------- writing

QDomDocument BrxprjFile::buildDomDocument() const
{
    QDomDocument document;
    document.appendChild(
        document.createProcessingInstruction(QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = document.createElement(QStringLiteral("brxprj"));
    root.setAttribute(QStringLiteral("version"), QStringLiteral("1.0"));
    document.appendChild(root);
    QDomElement design = document.createElement(QStringLiteral("design"));
    root.appendChild(design);
    // One Network node in a project; a loaded odd file may hold more, and none is dropped.
    for (int r = 0; r < m_model->rowCount(); ++r)
        exportItem(m_model->index(r, 0), document, design);
    return document;
}

void BrxprjFile::exportItem(const QModelIndex& index, QDomDocument& document, QDomElement& parent) const
{
    QDomElement element = document.createElement(kItemTag);
    const TreeItem* item = m_model->getItem(index);
    // The stored value, not the display text: an Instruction's name is saved without its position.
    for (int c = 0; c <= MainDTModel::LastProjectColumn; ++c) {
        const QString value = item->data(c).toString();
        if (!value.isEmpty())
            element.setAttribute(kColumnPrefix + QString::number(c), XmlText::safe(value));
    }
    for (int r = 0; r < m_model->rowCount(index); ++r)
        exportItem(m_model->index(r, 0, index), document, element);
    parent.appendChild(element);
}

void BrxprjFile::writeElement(QXmlStreamWriter& writer, const QDomElement& element) const
{
    writer.writeStartElement(element.tagName());
    // The DOM keeps attributes in hash order; the file lists them by column so that the same
    // project always gives the same bytes.
    const QDomNamedNodeMap attributes = element.attributes();
    QStringList names;
    for (int i = 0; i < attributes.count(); ++i)
        names << attributes.item(i).nodeName();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const qlonglong ka = attributeOrder(a);
        const qlonglong kb = attributeOrder(b);
        return ka != kb ? ka < kb : a < b;
    });
    for (const QString& name : names)
        writer.writeAttribute(name, element.attribute(name));
    for (QDomElement child = element.firstChildElement(); !child.isNull(); child = child.nextSiblingElement())
        writeElement(writer, child);
    writer.writeEndElement();
}

QByteArray BrxprjFile::toBytes() const
{
    const QDomDocument document = buildDomDocument();
    QByteArray bytes;
    QXmlStreamWriter writer(&bytes);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writer.writeStartDocument(QStringLiteral("1.0"));
    writeElement(writer, document.documentElement());
    writer.writeEndDocument();
    return bytes;
}

bool BrxprjFile::save(const QString& path)
{
    if (m_model->rowCount() == 0)
        return false;
    const QByteArray bytes = toBytes();
    // Written aside and renamed over the old file only once complete.
    QSaveFile file(path);
    // Unbuffered: a write error then reaches commit(), which drops the partial copy. A buffered
    // write would fail only in the final flush, which commit() does not check.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        file.commit();
        return false;
    }
    return file.commit();
}

// ---------------------------------------------------------------- reading

bool BrxprjFile::load(const QString& path)
{
    m_model->undoStack()->clear();
    m_model->clear();
    m_error.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    if (file.size() > MaxFileSize) {
        m_error = tr("The file is larger than %L1 MB.").arg(MaxFileSize >> 20);
        return false;
    }
    const QByteArray content = file.readAll();
    file.close();
    return generateMainDTModel(content);
}

bool BrxprjFile::generateMainDTModel(const QByteArray& content)
{
    // A first pass checks the whole document and counts the nodes, so nothing is imported
    // from a file that turns out to be broken further down.
    m_elementCount = 0;
    m_error = checkContent(content);
    if (!m_error.isEmpty())
        return false;
    m_progress = 0;
    m_step = m_elementCount > 0 ? 100.0f / float(m_elementCount) : 0.0f;
    m_lastEmitted = 0;
    emit generateProgress(0);

    importMainDTItems(content);
    m_model->updateInternalData();
    m_model->undoStack()->clear();
    if (m_lastEmitted != 100) {
        m_lastEmitted = 100;
        emit generateProgress(100);
    }
    return true;
}

QString BrxprjFile::checkContent(const QByteArray& content)
{
    QXmlStreamReader reader(content);
    int depth = 0;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement && reader.name() == kItemTag)
            --depth;
        if (token != QXmlStreamReader::StartElement || reader.name() != kItemTag)
            continue;
        if (++m_elementCount > MaxItems)
            return tr("The project holds more than %L1 items.").arg(MaxItems);
        if (++depth > MaxDepth)
            return tr("The items are nested more than %1 levels deep.").arg(MaxDepth);
        for (const QXmlStreamAttribute& attribute : reader.attributes()) {
            if (attribute.value().size() > MaxAttributeLength)
                return tr("An item holds a value longer than %L1 characters.").arg(MaxAttributeLength);
        }
    }
    if (reader.hasError())
        return tr("Line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
    return QString();
}

void BrxprjFile::importMainDTItems(const QByteArray& content)
{
    // Parents are persistent: pending events run during the import.
    std::vector<QPersistentModelIndex> parents { QPersistentModelIndex() };
    std::vector<bool> pushed; // per open element: whether it opened a tree level
    QXmlStreamReader reader(content);
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement) {
            if (!pushed.empty()) {
                if (pushed.back())
                    parents.pop_back();
                pushed.pop_back();
            }
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() != kItemTag) {
            // Other elements ("design", unknown ones) are transparent.
            pushed.push_back(false);
            continue;
        }
        const QModelIndex parent = parents.back();
        const int row = m_model->rowCount(parent);
        if (!m_model->insertRowsWithoutControl(row, 1, parent)) {
            pushed.push_back(false);
            continue;
        }
        const QModelIndex node = m_model->index(row, 0, parent);
        const QXmlStreamAttributes attributes = reader.attributes();
        for (const QXmlStreamAttribute& attribute : attributes) {
            const int column = attributeColumn(attribute.qualifiedName());
            if (column >= 0)
                m_model->setDataWithoutControl(m_model->cell(node, column), attribute.value().toString(), Qt::EditRole);
        }
        const bool deeper = int(parents.size()) <= MaxDepth;
        if (deeper)
            parents.emplace_back(node);
        pushed.push_back(deeper);
        advanceProgress();
    }
}

void BrxprjFile::advanceProgress()
{
    m_progress += m_step;
    const int percent = qBound(0, qRound(m_progress), 100);
    if (percent == m_lastEmitted)
        return;
    m_lastEmitted = percent;
    emit generateProgress(percent);
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}
