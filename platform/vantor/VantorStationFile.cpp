#include "VantorStationFile.h"

#include <QFile>
#include <QXmlStreamReader>

#include "vantor.h"

namespace {

// Decimal first, then hexadecimal with or without its 0x prefix.
bool parseNumber(const QString& text, quint32* value)
{
    const QString t = text.trimmed();
    bool ok = false;
    quint32 v = t.toUInt(&ok, 10);
    if (!ok)
        v = t.toUInt(&ok, 16);
    if (ok)
        *value = v;
    return ok;
}

bool attrTrue(const QXmlStreamAttributes& attrs, const char* name)
{
    return attrs.value(QLatin1String(name)).trimmed().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

quint32 attrNumber(const QXmlStreamAttributes& attrs, const char* name)
{
    quint32 v = 0;
    parseNumber(attrs.value(QLatin1String(name)).toString(), &v);
    return v;
}

class Reader
{
public:
    Reader(const QByteArray& xml, VantorStationFile* out) : m_xml(xml), m_out(out) {}

    bool run(QString* error)
    {
        if (!m_xml.readNextStartElement() || m_xml.name() != QLatin1String("StationConfiguration")) {
            fail(QStringLiteral("not a station configuration"));
        } else {
            while (m_failure.isEmpty() && m_xml.readNextStartElement())
                rootChild();
        }
        if (m_failure.isEmpty() && m_xml.hasError())
            fail(m_xml.errorString());
        if (!m_failure.isEmpty() && error)
            *error = QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(m_failure);
        return m_failure.isEmpty();
    }

private:
    void fail(const QString& why)
    {
        if (m_failure.isEmpty())
            m_failure = why;
    }

    quint32 number(const QString& text, const char* what)
    {
        quint32 v = 0;
        if (!parseNumber(text, &v))
            fail(QStringLiteral("%1 \"%2\" is not a number").arg(QLatin1String(what), text));
        return v;
    }

    void rootChild()
    {
        const QStringRef n = m_xml.name();
        if (n == QLatin1String("SubscriberName")) {
            m_out->name = m_xml.readElementText();
        } else if (n == QLatin1String("SubscriberNumber")) {
            m_out->address = quint8(number(m_xml.readElementText(), "SubscriberNumber"));
        } else if (n == QLatin1String("Speed")) {
            const quint32 speed = number(m_xml.readElementText(), "Speed");
            if (speed > 3)
                fail(QStringLiteral("unknown speed code %1").arg(speed));
            m_out->speedCode = quint8(speed);
        } else if (n == QLatin1String("TSlot")) {
            m_out->tslotCode = quint8(number(m_xml.readElementText(), "TSlot") & 3);
        } else if (n == QLatin1String("BusArbiter")) {
            busArbiter();
        } else if (n == QLatin1String("Variables")) {
            while (m_failure.isEmpty() && m_xml.readNextStartElement())
                m_xml.name() == QLatin1String("Variable") ? variable() : m_xml.skipCurrentElement();
        } else if (n == QLatin1String("Messages")) {
            while (m_failure.isEmpty() && m_xml.readNextStartElement())
                m_xml.name() == QLatin1String("Message") ? message() : m_xml.skipCurrentElement();
        } else {
            m_xml.skipCurrentElement(); // timings and tags do not change what the board does here
        }
    }

    void busArbiter()
    {
        m_out->hasArbiter = true;
        m_out->arbiterEnabled = attrTrue(m_xml.attributes(), "enabled");
        while (m_failure.isEmpty() && m_xml.readNextStartElement()) {
            if (m_xml.name() != QLatin1String("BAScanTable")) {
                m_xml.skipCurrentElement();
                continue;
            }
            QVector<VantorStationFile::Instruction> table;
            while (m_failure.isEmpty() && m_xml.readNextStartElement()) {
                VantorStationFile::Instruction ins;
                ins.type = m_xml.name().toString();
                ins.delay = attrNumber(m_xml.attributes(), "delay");
                const QString text = m_xml.readElementText().trimmed();
                if (!text.isEmpty())
                    ins.value = number(text, "instruction parameter");
                table.append(ins);
            }
            m_out->scanTables.append(table);
        }
    }

    void variable()
    {
        VantorStationFile::Variable v;
        bool haveId = false;
        while (m_failure.isEmpty() && m_xml.readNextStartElement()) {
            const QStringRef n = m_xml.name();
            const QXmlStreamAttributes a = m_xml.attributes();
            if (n == QLatin1String("Name")) {
                v.name = m_xml.readElementText();
            } else if (n == QLatin1String("ID")) {
                const quint32 id = number(m_xml.readElementText(), "variable ID");
                if (id > 0xFFFF)
                    fail(QStringLiteral("variable ID out of range"));
                v.id = quint16(id);
                haveId = true;
            } else if (n == QLatin1String("Length")) {
                v.length = int(number(m_xml.readElementText(), "variable Length"));
                if (v.length < 0 || v.length > VANTOR_VAR_WRITE_SIZE)
                    fail(QStringLiteral("variable length %1 out of range").arg(v.length));
            } else if (n == QLatin1String("Type")) {
                v.produced = number(m_xml.readElementText(), "variable Type") == 0;
            } else if (n == QLatin1String("Refreshment")) {
                v.refreshmentType = quint8(attrNumber(a, "type"));
                v.refreshmentPeriod = attrNumber(a, "period");
                m_xml.skipCurrentElement();
            } else if (n == QLatin1String("Promptitude")) {
                v.promptnessType = quint8(attrNumber(a, "type"));
                v.promptnessPeriod = attrNumber(a, "period");
                m_xml.skipCurrentElement();
            } else {
                m_xml.skipCurrentElement();
            }
        }
        if (!haveId)
            fail(QStringLiteral("variable without ID"));
        m_out->variables.append(v);
    }

    void message()
    {
        VantorStationFile::Message msg;
        while (m_failure.isEmpty() && m_xml.readNextStartElement()) {
            const QStringRef n = m_xml.name();
            if (n == QLatin1String("Name")) {
                msg.name = m_xml.readElementText();
            } else if (n == QLatin1String("SourceID")) {
                msg.sourceId = quint16(number(m_xml.readElementText(), "SourceID"));
            } else if (n == QLatin1String("SourceSegment")) {
                msg.sourceSegment = quint8(number(m_xml.readElementText(), "SourceSegment"));
            } else if (n == QLatin1String("DestinationID")) {
                msg.destinationId = quint16(number(m_xml.readElementText(), "DestinationID"));
            } else if (n == QLatin1String("DestinationSegment")) {
                msg.destinationSegment = quint8(number(m_xml.readElementText(), "DestinationSegment"));
            } else if (n == QLatin1String("Type")) {
                const QXmlStreamAttributes a = m_xml.attributes();
                msg.channel = int(attrNumber(a, "emissionChannel"));
                msg.acknowledged = attrTrue(a, "ackRequestEnabled");
                msg.fileTransfer = attrTrue(a, "fileTransferEnabled");
                msg.toSend = m_xml.readElementText().trimmed() == QLatin1String("toSend");
            } else {
                m_xml.skipCurrentElement();
            }
        }
        m_out->messages.append(msg);
    }

    QXmlStreamReader m_xml;
    VantorStationFile* m_out;
    QString m_failure;
};

} // namespace

bool VantorStationFile::parse(const QByteArray& xml, VantorStationFile* out, QString* error)
{
    VantorStationFile file;
    if (!Reader(xml, &file).run(error))
        return false;
    *out = file;
    return true;
}

bool VantorStationFile::load(const QString& path, VantorStationFile* out, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    return parse(f.readAll(), out, error);
}

double VantorStationFile::slotUs() const
{
    static const double table[4][4] = { { 100, 400, 1000, 4000 },
                                        { 62.5, 250, 625, 2500 },
                                        { 50, 200, 500, 2000 },
                                        { 50, 200, 500, 2000 } };
    return table[speedCode & 3][tslotCode & 3];
}

const VantorStationFile::Variable* VantorStationFile::variable(quint16 id) const
{
    for (const Variable& v : variables) {
        if (v.id == id)
            return &v;
    }
    return nullptr;
}
