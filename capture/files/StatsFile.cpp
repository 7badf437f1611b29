#include "capture/files/StatsFile.h"

#include "capture/files/CaptureFileLock.h"
#include "capture/files/CaptureFileMessages.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

namespace {

const QString kRoot = QStringLiteral("stats");
const QString kVersion = QStringLiteral("1.0");
const QString kNetworkInfo = QStringLiteral("networkInfo");
const QString kCapturingTime = QStringLiteral("capturingTime");
const QString kFipTime = QStringLiteral("fipTime");
const QString kCounters = QStringLiteral("counters");
const QString kCounter = QStringLiteral("counter");
const QString kName = QStringLiteral("name");
const QString kValue = QStringLiteral("value");

// Largest statistics file read; real ones are a few kilobytes.
constexpr qint64 MaxFileSize = 16 * 1024 * 1024;

QString tr(const char* text)
{
    return QCoreApplication::translate("StatsFile", text);
}

} // namespace

const char* const StatsFile::NetworkInfoTexts[2] = { "frameType", "speed" };
const char* const StatsFile::CapturingTimeTexts[3] = { "startTime", "endTime", "duration" };
const char* const StatsFile::FipTimeTexts[4] = { "microcycleTime", "macrocycleTime", "silenceTime", "turnAroundTime" };

StatsFile::StatsFile(const Counters& counters, const Texts& texts)
    : m_counters(counters)
    , m_texts(texts)
{
}

QString StatsFile::text(const QString& name) const
{
    for (const auto& t : m_texts) {
        if (t.first == name && t.second != nullptr)
            return *t.second;
    }
    return QString();
}

void StatsFile::exportCounterToDomDocument(const QString& name, quint64 value, QDomDocument& document,
                                           QDomElement& parent)
{
    QDomElement counter = document.createElement(kCounter);
    counter.setAttribute(kName, name);
    counter.setAttribute(kValue, QString::number(value));
    parent.appendChild(counter);
}

QByteArray StatsFile::toXml() const
{
    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(QStringLiteral("xml"),
                                                              QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    QDomElement root = document.createElement(kRoot);
    root.setAttribute(QStringLiteral("version"), kVersion);
    document.appendChild(root);

    auto element = [&](const QString& tag, const char* const* names, int count) {
        QDomElement e = document.createElement(tag);
        for (int i = 0; i < count; ++i)
            e.setAttribute(QLatin1String(names[i]), text(QLatin1String(names[i])));
        root.appendChild(e);
    };
    element(kNetworkInfo, NetworkInfoTexts, 2);
    element(kCapturingTime, CapturingTimeTexts, 3);
    element(kFipTime, FipTimeTexts, 4);

    QDomElement counters = document.createElement(kCounters);
    for (const auto& c : m_counters)
        exportCounterToDomDocument(c.first, c.second ? *c.second : 0, document, counters);
    root.appendChild(counters);

    QByteArray xml;
    QTextStream stream(&xml);
    stream.setCodec("UTF-8");
    document.save(stream, 2, QDomNode::EncodingFromTextStream);
    stream.flush();
    return xml;
}

QString StatsFile::pathFor(const QString& capturePath)
{
    const QFileInfo info(capturePath);
    return info.dir().filePath(info.completeBaseName() + QStringLiteral(".xml"));
}

bool StatsFile::save(const QString& path)
{
    m_error.clear();
    CaptureFileLock lock;
    if (!lock.lock(path)) {
        m_error = lock.heldByOther() ? CaptureFileMessages::statisticsInUse(path)
                                     : CaptureFileMessages::cannotSaveStatistics(path, tr("The lock file cannot be created."));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = CaptureFileMessages::cannotSaveStatistics(path, file.errorString());
        return false;
    }
    const QByteArray xml = toXml();
    if (file.write(xml) != xml.size() || !file.commit()) {
        m_error = CaptureFileMessages::cannotSaveStatistics(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool StatsFile::load(const QString& path)
{
    m_error.clear();
    if (!QFileInfo(path).isFile()) {
        m_error = CaptureFileMessages::cannotOpenStatistics(path, tr("The file does not exist."));
        return false;
    }
    CaptureFileLock lock;
    if (!lock.lock(path) && lock.heldByOther()) {
        m_error = CaptureFileMessages::statisticsInUse(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_error = CaptureFileMessages::cannotOpenStatistics(path, file.errorString());
        return false;
    }
    if (file.size() > MaxFileSize) {
        m_error = CaptureFileMessages::corruptStatistics(path, tr("The file is too large."));
        return false;
    }
    const QByteArray xml = file.readAll();
    file.close();
    return fromXml(xml, path);
}

bool StatsFile::fromXml(const QByteArray& xml, const QString& path)
{
    m_error.clear();
    QDomDocument document;
    QString parseError;
    int line = 0;
    int column = 0;
    if (!document.setContent(xml, &parseError, &line, &column)) {
        m_error = CaptureFileMessages::corruptStatistics(
            path, tr("%1 (line %2, column %3)").arg(parseError).arg(line).arg(column));
        return false;
    }
    const QDomElement root = document.documentElement();
    const QString problem = checkDocument(root);
    if (!problem.isEmpty()) {
        m_error = CaptureFileMessages::corruptStatistics(path, problem);
        return false;
    }
    importDomDocumentToStatisticalAnalysis(m_counters, m_texts, root);
    return true;
}

QString StatsFile::checkDocument(const QDomElement& root)
{
    if (root.tagName() != kRoot)
        return tr("This is not a statistics file.");
    if (root.attribute(QStringLiteral("version")) != kVersion)
        return tr("Unsupported statistics file version: %1").arg(root.attribute(QStringLiteral("version")));
    const QDomElement counters = root.firstChildElement(kCounters);
    for (QDomElement c = counters.firstChildElement(kCounter); !c.isNull(); c = c.nextSiblingElement(kCounter)) {
        const QString name = c.attribute(kName);
        if (name.isEmpty())
            return tr("A counter has no name.");
        bool ok = false;
        const QString value = c.attribute(kValue);
        value.toULongLong(&ok);
        // Plain decimal digits only: no sign, no blanks.
        if (!ok || value.isEmpty() || !value.at(0).isDigit())
            return tr("Invalid value of the counter %1: %2").arg(name, value);
    }
    return QString();
}

void StatsFile::importDomDocumentToStatisticalAnalysis(const Counters& counters, const Texts& texts,
                                                       const QDomElement& root)
{
    const QDomElement counterList = root.firstChildElement(kCounters);
    for (QDomElement c = counterList.firstChildElement(kCounter); !c.isNull(); c = c.nextSiblingElement(kCounter)) {
        const QString name = c.attribute(kName);
        bool ok = false;
        const quint64 value = c.attribute(kValue).toULongLong(&ok);
        if (!ok)
            continue;
        for (const auto& target : counters) {
            if (target.first == name && target.second != nullptr)
                *target.second = value;
        }
    }
    for (const QString& tag : { kNetworkInfo, kCapturingTime, kFipTime }) {
        const QDomElement e = root.firstChildElement(tag);
        if (e.isNull())
            continue;
        for (const auto& target : texts) {
            if (target.second != nullptr && e.hasAttribute(target.first))
                *target.second = e.attribute(target.first);
        }
    }
}
