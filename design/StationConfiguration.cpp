#include "design/StationConfiguration.h"

#include <QFile>
#include <QXmlStreamReader>

namespace {

/// Reads one document; the first fault stops it and is kept with its line.
class Reader
{
public:
    explicit Reader(const QByteArray& content)
        : m_xml(content)
    {
    }

    bool read(StationConfiguration* c)
    {
        if (!m_xml.readNextStartElement()) {
            fail(QStringLiteral("no root element"));
            return false;
        }
        if (m_xml.name() != QLatin1String("StationConfiguration")) {
            fail(QStringLiteral("the root element is \"%1\", not \"StationConfiguration\"").arg(m_xml.name()));
            return false;
        }
        c->version = m_xml.attributes().value(QLatin1String("version")).toString();
        bool address = false;
        while (ok() && m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name == QLatin1String("SubscriberName"))
                c->subscriberName = text();
            else if (name == QLatin1String("SubscriberNumber")) {
                c->subscriberNumber = quint8(number(text(), 0xFF, name));
                address = true;
            } else if (name == QLatin1String("Speed"))
                c->speed = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("TSlot"))
                c->tSlot = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("Silence"))
                c->silence = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("TurnAround"))
                c->turnAround = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("FrameType"))
                c->frameType = text();
            else if (name == QLatin1String("BusArbiter")) {
                c->hasBusArbiter = true;
                readBusArbiter(&c->busArbiter);
            } else if (name == QLatin1String("Variables"))
                readList(QStringLiteral("Variable"), [&] { c->variables.append(readVariable()); });
            else if (name == QLatin1String("Messages"))
                readList(QStringLiteral("Message"), [&] { c->messages.append(readMessage()); });
            else if (name == QLatin1String("Tags"))
                readList(QStringLiteral("Tag"), [&] { c->tags.append(readTag()); });
            else
                m_xml.skipCurrentElement();
        }
        // What follows the root must still be well-formed.
        while (ok() && !m_xml.atEnd())
            m_xml.readNext();
        if (ok() && m_xml.hasError())
            fail(m_xml.errorString());
        if (ok() && !address)
            fail(QStringLiteral("no \"SubscriberNumber\""));
        return ok();
    }

    QString error() const
    {
        if (m_error.isEmpty() && m_xml.hasError())
            return QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(m_xml.errorString());
        return m_error;
    }

private:
    bool ok() const { return m_error.isEmpty() && !m_xml.hasError(); }

    void fail(const QString& what)
    {
        if (m_error.isEmpty())
            m_error = QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(what);
    }

    /// Text of the current element; child elements are a fault.
    QString text()
    {
        return m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement).trimmed();
    }

    quint32 number(const QString& t, quint32 max, const QString& what)
    {
        if (t.isEmpty())
            return 0;
        bool good = false;
        const qulonglong v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.midRef(2).toULongLong(&good, 16)
                                                                                  : t.toULongLong(&good, 10);
        if (!good || v > max) {
            fail(QStringLiteral("\"%1\" is not a number from 0 to %2 in \"%3\"").arg(t).arg(max).arg(what));
            return 0;
        }
        return quint32(v);
    }

    /// Identifiers are the design's texts: decimal first, then hexadecimal with or without "0x".
    quint16 identifier(const QString& t, const QString& what)
    {
        if (t.isEmpty())
            return 0;
        bool good = false;
        uint v = t.toUInt(&good, 10);
        if (!good)
            v = (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2) : t).toUInt(&good, 16);
        if (!good || v > 0xFFFF) {
            fail(QStringLiteral("\"%1\" is not an identifier in \"%2\"").arg(t, what));
            return 0;
        }
        return quint16(v);
    }

    int signedNumber(const QString& t, const QString& what)
    {
        if (t.isEmpty())
            return 0;
        bool good = false;
        const int v = t.toInt(&good, 10);
        if (!good)
            fail(QStringLiteral("\"%1\" is not a number in \"%2\"").arg(t, what));
        return good ? v : 0;
    }

    bool boolean(const QString& t, const QString& what)
    {
        if (t == QLatin1String("true"))
            return true;
        if (!t.isEmpty() && t != QLatin1String("false"))
            fail(QStringLiteral("\"%1\" is neither true nor false in \"%2\"").arg(t, what));
        return false;
    }

    QString attribute(const char* name) const
    {
        return m_xml.attributes().value(QLatin1String(name)).toString().trimmed();
    }

    template <typename F>
    void readList(const QString& item, F readItem)
    {
        while (ok() && m_xml.readNextStartElement()) {
            if (m_xml.name() == item)
                readItem();
            else
                m_xml.skipCurrentElement();
        }
    }

    void readBusArbiter(StationConfiguration::BusArbiter* ba)
    {
        ba->enabled = boolean(attribute("enabled"), QStringLiteral("BusArbiter enabled"));
        while (ok() && m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name == QLatin1String("BAMaxSubscriberNumber"))
                ba->maxSubscriberNumber = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("BAPriority"))
                ba->priority = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("BAMaxPriority"))
                ba->maxPriority = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("BAOptimization"))
                ba->optimization = text();
            else if (name == QLatin1String("BAScanTable"))
                ba->scanTables.append(readScanTable());
            else
                m_xml.skipCurrentElement();
        }
    }

    StationConfiguration::ScanTable readScanTable()
    {
        StationConfiguration::ScanTable table;
        const QString number = attribute("number");
        bool good = false;
        table.number = number.toInt(&good, 10);
        if (!good)
            fail(QStringLiteral("\"%1\" is not a scan table number").arg(number));
        while (ok() && m_xml.readNextStartElement()) {
            StationConfiguration::Instruction instruction;
            instruction.type = m_xml.name().toString();
            const QString t = instruction.type;
            if (t == QLatin1String("SUSPEND")) {
                instruction.delay = this->number(attribute("delay"), 0xFFFF, t + QStringLiteral(" delay"));
                instruction.value = this->number(text(), 0xFFFF, t);
            } else if (t == QLatin1String("SEND_ID_DAT") || t == QLatin1String("SEND_ID_MSG")) {
                instruction.value = identifier(text(), t);
            } else if (t == QLatin1String("SEND_MSG") || t == QLatin1String("SEND_APER") || t == QLatin1String("WAIT_TIME")
                       || t == QLatin1String("WAIT_SYNC")) {
                instruction.value = this->number(text(), 0xFFFF, t);
            } else if (t == QLatin1String("NEXT_MACRO") || t == QLatin1String("TESTP") || t == QLatin1String("SM_MPS")) {
                text();
            } else {
                fail(QStringLiteral("unknown instruction \"%1\"").arg(t));
            }
            table.instructions.append(instruction);
        }
        return table;
    }

    StationConfiguration::Variable readVariable()
    {
        StationConfiguration::Variable v;
        while (ok() && m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name == QLatin1String("Name"))
                v.name = text();
            else if (name == QLatin1String("ID"))
                v.id = identifier(text(), name);
            else if (name == QLatin1String("PDU"))
                v.pdu = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("Length"))
                v.length = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("Type"))
                v.produced = number(text(), 1, name) == 0;
            else if (name == QLatin1String("Refreshment")) {
                v.refreshmentType = quint8(number(attribute("type"), 2, QStringLiteral("Refreshment type")));
                v.refreshmentPeriod = quint16(number(attribute("period"), 0xFFFF, QStringLiteral("Refreshment period")));
                text();
            } else if (name == QLatin1String("Promptitude")) {
                v.hasPromptitude = true;
                v.promptitudeType = quint8(number(attribute("type"), 1, QStringLiteral("Promptitude type")));
                v.promptitudePeriod = quint16(number(attribute("period"), 0xFFFF, QStringLiteral("Promptitude period")));
                text();
            } else if (name == QLatin1String("AperiodicService")) {
                v.aperiodicRequestEnabled = boolean(attribute("requestEnabled"), QStringLiteral("requestEnabled"));
                text();
            } else if (name == QLatin1String("MessagingService")) {
                v.messageReceptionEnabled = boolean(attribute("receptionEnabled"), QStringLiteral("receptionEnabled"));
                v.messageEmissionEnabled = boolean(attribute("emissionEnabled"), QStringLiteral("emissionEnabled"));
                // Written in decimal.
                const QString channel = attribute("emissionChannel");
                bool good = channel.isEmpty();
                const uint c = good ? 0 : channel.toUInt(&good, 10);
                if (!good || c > 0xFFFF)
                    fail(QStringLiteral("\"%1\" is not an emission channel").arg(channel));
                v.emissionChannel = good ? quint16(c) : 0;
                text();
            } else
                m_xml.skipCurrentElement();
        }
        return v;
    }

    StationConfiguration::Message readMessage()
    {
        StationConfiguration::Message m;
        while (ok() && m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name == QLatin1String("Name"))
                m.name = text();
            else if (name == QLatin1String("SourceID"))
                m.sourceId = identifier(text(), name);
            else if (name == QLatin1String("SourceSegment"))
                m.sourceSegment = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("DestinationID"))
                m.destinationId = identifier(text(), name);
            else if (name == QLatin1String("DestinationSegment"))
                m.destinationSegment = quint8(number(text(), 0xFF, name));
            else if (name == QLatin1String("Type")) {
                const QString channel = attribute("emissionChannel");
                const QString ack = attribute("ackRequestEnabled");
                m.fileTransferEnabled = boolean(attribute("fileTransferEnabled"), QStringLiteral("fileTransferEnabled"));
                const QString direction = text();
                m.toSend = direction == QLatin1String("toSend");
                if (!m.toSend && direction != QLatin1String("toReceive"))
                    fail(QStringLiteral("\"%1\" is neither toSend nor toReceive").arg(direction));
                if (m.toSend) {
                    bool good = channel.isEmpty();
                    const int c = good ? 0 : channel.toInt(&good, 10);
                    if (!good || c < 0 || c > 0xFFFF)
                        fail(QStringLiteral("\"%1\" is not an emission channel").arg(channel));
                    m.emissionChannel = good ? quint16(c) : 0;
                    m.ackRequestEnabled = boolean(ack, QStringLiteral("ackRequestEnabled"));
                }
            } else
                m_xml.skipCurrentElement();
        }
        return m;
    }

    StationConfiguration::Tag readTag()
    {
        StationConfiguration::Tag t;
        while (ok() && m_xml.readNextStartElement()) {
            const QString name = m_xml.name().toString();
            if (name == QLatin1String("TagName"))
                t.name = text();
            else if (name == QLatin1String("TagId"))
                t.id = number(text(), 0xFFFFFFFFu, name);
            else if (name == QLatin1String("TypeName"))
                t.typeName = text();
            else if (name == QLatin1String("AccessRights"))
                t.accessRights = signedNumber(text(), name);
            else if (name == QLatin1String("Description"))
                t.description = text();
            else if (name == QLatin1String("Identifier"))
                t.identifier = identifier(text(), name);
            else if (name == QLatin1String("StartBit"))
                t.startBit = signedNumber(text(), name);
            else if (name == QLatin1String("StopBit"))
                t.stopBit = signedNumber(text(), name);
            else if (name == QLatin1String("Endianness")) {
                t.hasEndianness = true;
                t.endianness = signedNumber(text(), name);
            } else
                m_xml.skipCurrentElement();
        }
        return t;
    }

    QXmlStreamReader m_xml;
    QString m_error;
};

} // namespace

const StationConfiguration::ScanTable* StationConfiguration::BusArbiter::scanTable(int number) const
{
    for (const ScanTable& t : scanTables) {
        if (t.number == number)
            return &t;
    }
    return nullptr;
}

int StationConfiguration::segment() const
{
    if (messages.isEmpty())
        return -1;
    const Message& m = messages.first();
    return m.toSend ? m.sourceSegment : m.destinationSegment;
}

const StationConfiguration::Variable* StationConfiguration::variable(quint16 id) const
{
    for (const Variable& v : variables) {
        if (v.id == id)
            return &v;
    }
    return nullptr;
}

QVector<quint16> StationConfiguration::producedIds() const
{
    QVector<quint16> ids;
    for (const Variable& v : variables) {
        if (v.produced)
            ids.append(v.id);
    }
    return ids;
}

QVector<quint16> StationConfiguration::consumedIds() const
{
    QVector<quint16> ids;
    for (const Variable& v : variables) {
        if (!v.produced)
            ids.append(v.id);
    }
    return ids;
}

QVector<quint16> StationConfiguration::aperiodicRequestIds() const
{
    QVector<quint16> ids;
    for (const Variable& v : variables) {
        if (v.produced && v.aperiodicRequestEnabled)
            ids.append(v.id);
    }
    return ids;
}

bool StationConfiguration::load(const QString& path, StationConfiguration* out, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    const bool read = parse(file.readAll(), out, error);
    if (!read && error)
        *error = path + QStringLiteral(": ") + *error;
    return read;
}

bool StationConfiguration::parse(const QByteArray& content, StationConfiguration* out, QString* error)
{
    Reader reader(content);
    StationConfiguration read;
    if (!reader.read(&read)) {
        if (error)
            *error = reader.error();
        return false;
    }
    if (out)
        *out = read;
    if (error)
        error->clear();
    return true;
}
