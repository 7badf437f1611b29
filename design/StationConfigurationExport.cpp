#include "design/StationConfigurationExport.h"

#include "design/MainDTModel.h"
#include "design/XmlText.h"

#include <QCoreApplication>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QSaveFile>
#include <QThread>
#include <QXmlStreamWriter>

#include <algorithm>
#include <climits>

using M = MainDTModel;

namespace {

/// Boards read tag texts as Latin-1: anything outside it becomes '?'.
QString latin1(const QString& text)
{
    return XmlText::safe(QString::fromLatin1(text.toLatin1()));
}

/// "0x%2.2x" of a number column; a text that is no non-negative number gives 0.
QString hex2(const QString& text)
{
    bool ok = false;
    const qlonglong v = M::parseNumber(text, &ok);
    return QString::asprintf("0x%2.2llx", (ok && v >= 0) ? v : 0LL);
}

int decimal(const QString& text)
{
    bool ok = false;
    const qlonglong v = M::parseNumber(text, &ok);
    return (ok && v >= INT_MIN && v <= INT_MAX) ? int(v) : 0;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

bool isTrue(const QString& text)
{
    return text == QLatin1String("true");
}

QDomElement textElement(QDomDocument& document, const QString& name, const QString& text)
{
    QDomElement e = document.createElement(name);
    if (!text.isEmpty())
        e.appendChild(document.createTextNode(XmlText::safe(text)));
    return e;
}

QString optimization(const QString& text)
{
    static const char* const names[] = { "Optimization 0", "Optimization 1", "Optimization 2", "Optimization 3" };
    for (int i = 0; i < 4; ++i) {
        if (text == QLatin1String(names[i]))
            return QStringLiteral("OPTIMIZATION_") + QString::number(i);
    }
    return QString();
}

/// Attributes in the order they are described, so that a station always gives the same bytes.
int attributeRank(const QString& name)
{
    static const QStringList order = { "version", "enabled", "number", "delay", "type", "period",
                                       "requestEnabled", "receptionEnabled", "emissionEnabled",
                                       "emissionChannel", "ackRequestEnabled", "fileTransferEnabled" };
    const int i = order.indexOf(name);
    return i < 0 ? order.size() : i;
}

void writeNode(QXmlStreamWriter& writer, const QDomElement& element)
{
    writer.writeStartElement(element.tagName());
    const QDomNamedNodeMap attributes = element.attributes();
    QStringList names;
    for (int i = 0; i < attributes.count(); ++i)
        names << attributes.item(i).nodeName();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int ra = attributeRank(a), rb = attributeRank(b);
        return ra != rb ? ra < rb : a < b;
    });
    for (const QString& name : qAsConst(names))
        writer.writeAttribute(name, element.attribute(name));
    for (QDomNode child = element.firstChild(); !child.isNull(); child = child.nextSibling()) {
        if (child.isElement())
            writeNode(writer, child.toElement());
        else if (child.isText())
            writer.writeCharacters(child.nodeValue());
    }
    writer.writeEndElement();
}

} // namespace

StationConfigurationExport::StationConfigurationExport(MainDTModel* model)
    : m_model(model)
{
}

QString StationConfigurationExport::fileName(const MainDTModel& model, const QModelIndex& station)
{
    bool ok = false;
    const qlonglong address = M::parseNumber(model.text(station, M::ColStationAddress), &ok);
    if (!ok || address < 0 || address > 255)
        return QString();
    return QStringLiteral("Station") + QString::number(address) + QStringLiteral(".xml");
}

QModelIndex StationConfigurationExport::producer(const QModelIndex& variable) const
{
    if (m_model->classType(variable) == M::VARIABLE_OUT)
        return variable;
    bool ok = false;
    const quint16 id = M::parseID(m_model->text(variable, M::ColVarInId), &ok);
    if (!ok)
        return QModelIndex();
    // One walk of the tree for all consumers: a walk per consumer made a large network slow.
    if (!m_producersFound) {
        m_producers.clear();
        for (const QModelIndex& output : m_model->getClassTypeIndexes(M::VARIABLE_OUT)) {
            bool good = false;
            const quint16 key = M::parseID(m_model->text(output, M::ColVarOutId), &good);
            if (good && !m_producers.contains(key))
                m_producers.insert(key, output);
        }
        m_producersFound = true;
    }
    return m_producers.value(id);
}

QDomDocument StationConfigurationExport::buildDocument(const QModelIndex& station) const
{
    const M& m = *m_model;
    const QModelIndex network = station.parent().parent();
    QDomDocument document;
    document.appendChild(
        document.createProcessingInstruction(QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"utf-8\"")));
    QDomElement root = document.createElement(QStringLiteral("StationConfiguration"));
    root.setAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    document.appendChild(root);

    bool speedOk = false;
    const unsigned char speed = m.calculator().getSpeedFromStr(&speedOk, m.text(network, M::ColNetworkSpeed));
    root.appendChild(textElement(document, QStringLiteral("SubscriberName"), m.text(station, M::ColObject)));
    root.appendChild(textElement(document, QStringLiteral("SubscriberNumber"), hex2(m.text(station, M::ColStationAddress))));
    root.appendChild(textElement(document, QStringLiteral("Speed"), QString::asprintf("0x%2.2x", speed)));
    root.appendChild(textElement(document, QStringLiteral("TSlot"), hex2(m.text(station, M::ColStationTSlot))));
    root.appendChild(textElement(document, QStringLiteral("Silence"), m.text(network, M::ColNetworkSilence)));
    root.appendChild(textElement(document, QStringLiteral("TurnAround"), m.text(network, M::ColNetworkTurnAround)));
    root.appendChild(textElement(document, QStringLiteral("FrameType"), m.text(network, M::ColNetworkFrameType)));

    const QModelIndex arbiter = m.getArbiter(station);
    if (arbiter.isValid())
        appendBusArbiter(document, root, arbiter, network);

    const QModelIndexList variables = m.getVariableIndexes(station);
    if (!variables.isEmpty()) {
        QDomElement list = document.createElement(QStringLiteral("Variables"));
        for (const QModelIndex& v : variables)
            appendVariable(document, list, v);
        root.appendChild(list);
    }

    const QModelIndexList messages = m.getMessageIndexes(station);
    if (!messages.isEmpty()) {
        QDomElement list = document.createElement(QStringLiteral("Messages"));
        for (const QModelIndex& message : messages)
            appendMessage(document, list, message);
        root.appendChild(list);
    }

    QDomElement tags = document.createElement(QStringLiteral("Tags"));
    quint64 count = 0;
    for (const QModelIndex& v : variables) {
        const QModelIndex owner = producer(v);
        if (owner.isValid())
            appendTags(document, tags, owner, m.classType(v) == M::VARIABLE_IN, &count);
    }
    if (count > 0)
        root.appendChild(tags);
    return document;
}

void StationConfigurationExport::appendBusArbiter(QDomDocument& document, QDomElement& root, const QModelIndex& arbiter,
                                                  const QModelIndex& network) const
{
    const M& m = *m_model;
    QDomElement ba = document.createElement(QStringLiteral("BusArbiter"));
    ba.setAttribute(QStringLiteral("enabled"), boolText(isTrue(m.text(arbiter, M::ColArbiterEnabled))));
    ba.appendChild(textElement(document, QStringLiteral("BAMaxSubscriberNumber"),
                               hex2(m.text(network, M::ColNetworkBaMaxStationAddress))));
    ba.appendChild(textElement(document, QStringLiteral("BAPriority"), hex2(m.text(arbiter, M::ColArbiterPriorityLevel))));
    ba.appendChild(textElement(document, QStringLiteral("BAMaxPriority"), hex2(m.text(network, M::ColNetworkBaMaxPriority))));
    ba.appendChild(textElement(document, QStringLiteral("BAOptimization"),
                               optimization(m.text(network, M::ColNetworkBaOptimization))));
    for (const QModelIndex& table : m.getScanTableIndexes(arbiter)) {
        QDomElement t = document.createElement(QStringLiteral("BAScanTable"));
        t.setAttribute(QStringLiteral("number"), QString::number(decimal(m.text(table, M::ColScanTableNumber))));
        for (int r = 0; r < m.rowCount(table); ++r) {
            const QModelIndex i = m.index(r, 0, table);
            if (m.classType(i) != M::INSTRUCTION)
                continue;
            const QString type = m.text(i, M::ColInstructionType);
            QString content;
            if (type == QLatin1String("SEND_ID_DAT") || type == QLatin1String("SEND_ID_MSG"))
                content = m.text(i, M::ColInstructionId);
            else if (type == QLatin1String("SEND_MSG") || type == QLatin1String("SEND_APER")
                     || type == QLatin1String("WAIT_TIME") || type == QLatin1String("WAIT_SYNC"))
                content = m.text(i, M::ColInstructionTimePar);
            else if (type == QLatin1String("SUSPEND"))
                content = m.text(i, M::ColInstructionSuspendEvent);
            else if (type != QLatin1String("NEXT_MACRO") && type != QLatin1String("TESTP")
                     && type != QLatin1String("SM_MPS"))
                continue; // no element name for a type no board knows
            QDomElement e = textElement(document, type, content);
            if (type == QLatin1String("SUSPEND"))
                e.setAttribute(QStringLiteral("delay"), XmlText::safe(m.text(i, M::ColInstructionSuspendDelayPar)));
            t.appendChild(e);
        }
        ba.appendChild(t);
    }
    root.appendChild(ba);
}

void StationConfigurationExport::appendVariable(QDomDocument& document, QDomElement& parent, const QModelIndex& v) const
{
    const M& m = *m_model;
    const bool output = m.classType(v) == M::VARIABLE_OUT;
    const QModelIndex p = producer(v);
    QDomElement e = document.createElement(QStringLiteral("Variable"));
    e.appendChild(textElement(document, QStringLiteral("Name"), m.text(v, M::ColObject)));
    e.appendChild(textElement(document, QStringLiteral("ID"), m.text(v, output ? M::ColVarOutId : M::ColVarInId)));
    e.appendChild(textElement(document, QStringLiteral("PDU"),
                              m.text(p, M::ColVarOutPdu) == QLatin1String("SM_MPS") ? QStringLiteral("0x50")
                                                                                   : QStringLiteral("0x40")));
    e.appendChild(textElement(document, QStringLiteral("Length"), hex2(m.text(p, M::ColVarOutLength))));
    e.appendChild(textElement(document, QStringLiteral("Type"), output ? QStringLiteral("0x00") : QStringLiteral("0x01")));

    int refreshment = 0;
    if (isTrue(m.text(p, M::ColVarOutRefreshmentEnabled)))
        refreshment = isTrue(m.text(p, M::ColVarOutDynamicRefreshmentEnabled)) ? 2 : 1;
    QDomElement r = document.createElement(QStringLiteral("Refreshment"));
    r.setAttribute(QStringLiteral("type"), QString::asprintf("0x%2.2x", refreshment));
    r.setAttribute(QStringLiteral("period"), XmlText::safe(m.text(p, M::ColVarOutRefreshmentPeriodPar)));
    e.appendChild(r);

    if (!output) {
        QDomElement prompt = document.createElement(QStringLiteral("Promptitude"));
        prompt.setAttribute(QStringLiteral("type"),
                            QString::asprintf("0x%2.2x", isTrue(m.text(v, M::ColVarInPromptnessEnabled)) ? 1 : 0));
        prompt.setAttribute(QStringLiteral("period"), XmlText::safe(m.text(v, M::ColVarInPromptnessPeriodPar)));
        e.appendChild(prompt);
    }

    QDomElement aperiodic = document.createElement(QStringLiteral("AperiodicService"));
    aperiodic.setAttribute(QStringLiteral("requestEnabled"),
                           boolText(output && isTrue(m.text(v, M::ColVarOutAperiodicRequestEnabled))));
    e.appendChild(aperiodic);

    const bool emission = output && isTrue(m.text(v, M::ColVarOutMessageTransferEnabled));
    QDomElement messaging = document.createElement(QStringLiteral("MessagingService"));
    messaging.setAttribute(QStringLiteral("receptionEnabled"), boolText(isTrue(m.text(v, M::ColVarMessageReceptionEnabled))));
    messaging.setAttribute(QStringLiteral("emissionEnabled"), boolText(emission));
    messaging.setAttribute(QStringLiteral("emissionChannel"),
                           QString::number(emission ? decimal(m.text(v, M::ColVarOutMessageTransferChannel)) : 0));
    e.appendChild(messaging);
    parent.appendChild(e);
}

void StationConfigurationExport::appendMessage(QDomDocument& document, QDomElement& parent, const QModelIndex& message) const
{
    const M& m = *m_model;
    QDomElement e = document.createElement(QStringLiteral("Message"));
    e.appendChild(textElement(document, QStringLiteral("Name"), m.text(message, M::ColObject)));
    e.appendChild(textElement(document, QStringLiteral("SourceID"), m.text(message, M::ColMsgSourceId)));
    e.appendChild(textElement(document, QStringLiteral("SourceSegment"), hex2(m.text(message, M::ColMsgSourceSegment))));
    e.appendChild(textElement(document, QStringLiteral("DestinationID"), m.text(message, M::ColMsgDestinationId)));
    e.appendChild(
        textElement(document, QStringLiteral("DestinationSegment"), hex2(m.text(message, M::ColMsgDestinationSegment))));
    const bool send = m.text(message, M::ColMsgDirection) == QLatin1String("OUT");
    QDomElement type = textElement(document, QStringLiteral("Type"), send ? QStringLiteral("toSend") : QStringLiteral("toReceive"));
    if (send) {
        type.setAttribute(QStringLiteral("emissionChannel"), QString::number(decimal(m.text(message, M::ColMsgChannelNumber))));
        type.setAttribute(QStringLiteral("ackRequestEnabled"), boolText(isTrue(m.text(message, M::ColMsgAcknowledgmentEnabled))));
    }
    type.setAttribute(QStringLiteral("fileTransferEnabled"), boolText(isTrue(m.text(message, M::ColMsgFileTransferEnabled))));
    e.appendChild(type);
    parent.appendChild(e);
}

void StationConfigurationExport::appendTags(QDomDocument& document, QDomElement& parent, const QModelIndex& owner,
                                            bool read, quint64* count) const
{
    const M& m = *m_model;
    for (const QModelIndex& mnemonic : m.getClassTypeIndexes(M::MNEMONIC, owner)) {
        const QModelIndex rendering = mnemonic.parent();
        const QModelIndex holder = rendering.parent();
        if (m.classType(rendering) != M::DATA_RENDERING)
            continue;
        const quint8 holderKind = m.classType(holder);
        if (holderKind != M::VARIABLE_OUT && holderKind != M::MESSAGE_OUT)
            continue;
        const QString type = m.text(mnemonic, M::ColMnemoType);
        QDomElement tag = document.createElement(QStringLiteral("Tag"));
        tag.appendChild(textElement(document, QStringLiteral("TagName"), latin1(m.text(mnemonic, M::ColObject))));
        tag.appendChild(textElement(document, QStringLiteral("TagId"), QString::number(*count)));
        tag.appendChild(textElement(document, QStringLiteral("TypeName"), latin1(type)));
        tag.appendChild(textElement(document, QStringLiteral("AccessRights"), QString::number(read ? 1 : 0)));
        const QString description = m.text(mnemonic, M::ColMnemoDescription);
        if (!description.isEmpty())
            tag.appendChild(textElement(document, QStringLiteral("Description"), latin1(description)));
        tag.appendChild(textElement(document, QStringLiteral("Identifier"), QString::asprintf("0x%04x", m.getOutId(holder))));
        tag.appendChild(textElement(document, QStringLiteral("StartBit"), QString::number(decimal(m.text(mnemonic, M::ColMnemoStartBit)))));
        tag.appendChild(textElement(document, QStringLiteral("StopBit"), QString::number(decimal(m.text(mnemonic, M::ColMnemoStopBit)))));
        if (type != QLatin1String("Bool") && type != QLatin1String("Int8") && type != QLatin1String("UInt8")) {
            const QString endianness = m.text(mnemonic, M::ColMnemoEndianness);
            const int code = endianness == QLatin1String("Little-Endian") ? 1 : endianness == QLatin1String("Big-Endian") ? 0 : -1;
            tag.appendChild(textElement(document, QStringLiteral("Endianness"), QString::number(code)));
        }
        parent.appendChild(tag);
        ++*count;
    }
}

QByteArray StationConfigurationExport::toBytes(const QModelIndex& station) const
{
    const QDomDocument document = buildDocument(station);
    QByteArray body;
    QXmlStreamWriter writer(&body);
    writer.setCodec("UTF-8");
    writer.setAutoFormatting(true);
    writer.setAutoFormattingIndent(1);
    writeNode(writer, document.documentElement());
    writer.writeEndDocument();
    // The declaration goes first byte of the file: the writer would put a line break before it.
    const QDomProcessingInstruction declaration = document.firstChild().toProcessingInstruction();
    QByteArray bytes = "<?" + declaration.target().toUtf8() + ' ' + declaration.data().toUtf8() + "?>\n";
    bytes += body.startsWith('\n') ? body.mid(1) : body;
    return bytes;
}

void StationConfigurationExport::pause() const
{
    if (m_pauseMs > 0)
        QThread::msleep(ulong(m_pauseMs));
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

QStringList StationConfigurationExport::generate(const QString& dir)
{
    QStringList written;
    m_producersFound = false;
    if (!QDir().mkpath(dir) || !QFileInfo(dir).isDir())
        return written;
    // Indexes survive the events processed between stations only as persistent ones.
    QList<QPersistentModelIndex> stations;
    for (const QModelIndex& s : m_model->getStationIndexes())
        stations.append(s);
    const int total = stations.size();

    emit m_model->generateProgress(0);
    pause();
    const double step = total > 0 ? 100.0 / total : 0.0;
    double progress = 0;
    for (const QPersistentModelIndex& station : qAsConst(stations)) {
        if (!station.isValid())
            continue;
        const QString name = fileName(*m_model, station);
        if (name.isEmpty())
            continue;
        const QByteArray bytes = toBytes(station);
        QSaveFile file(dir + QLatin1Char('/') + name);
        // Unbuffered, so that a failed write reaches commit(), which then drops the partial copy.
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            continue;
        if (file.write(bytes) != bytes.size()) {
            file.cancelWriting();
            file.commit();
            continue;
        }
        if (!file.commit())
            continue;
        written << name;
        progress += step;
        emit m_model->generateProgress(qBound(0, qRound(progress), 100));
        pause();
    }
    if (total == 0) {
        emit m_model->generateProgress(0);
        emit m_model->generateProgress(100);
        return written;
    }

    const QString quoted = QLatin1Char('"') + dir + QLatin1Char('"');
    QString notice;
    if (total == 1)
        notice = QStringLiteral("The ") + written.join(QStringLiteral(", ")) + QStringLiteral(" file has been saved in ") + quoted
            + QStringLiteral(" directory.");
    else if (total <= 4)
        notice = QStringLiteral("The ") + written.join(QStringLiteral(", ")) + QStringLiteral(" files have been saved in ")
            + quoted + QStringLiteral(" directory.");
    else
        notice = QStringLiteral("All the station files have been saved in ") + quoted + QStringLiteral(" directory.");
    emit m_model->statusBarMessage(0, notice);
    return written;
}

QStringList StationConfigurationExport::oldFiles(const QString& dir)
{
    return QDir(dir).entryList({ QStringLiteral("*.xml") }, QDir::Files);
}

bool StationConfigurationExport::prepare(const QString& dir, bool ask,
                                         const std::function<bool(const QString& dir)>& confirmCleaning)
{
    if (m_model->getStationIndexes().isEmpty())
        return false;
    if (!ask)
        return true;
    const QStringList old = oldFiles(dir);
    if (old.isEmpty())
        return true;
    if (!confirmCleaning || !confirmCleaning(dir))
        return false;
    for (const QString& name : old)
        QFile::remove(dir + QLatin1Char('/') + name);
    return true;
}

bool StationConfigurationExport::askCleaning(QWidget* parent, const QString& dir)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Cleaning"),
                    QStringLiteral("This action will delete all the previous XML files in:\n") + dir + QStringLiteral(" ."),
                    QMessageBox::Yes | QMessageBox::No, parent);
    if (parent)
        box.setWindowIcon(parent->windowIcon());
    box.setInformativeText(QStringLiteral("Do you want to continue ?"));
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

bool StationConfigurationExport::buildAndSave(const QString& dir, bool ask,
                                              const std::function<bool(const QString& dir)>& confirmCleaning)
{
    if (!prepare(dir, ask, confirmCleaning))
        return false;
    generate(dir);
    return true;
}

void MainDTModel::generateStationXML(const QString& path)
{
    StationConfigurationExport(this).generate(path);
}
