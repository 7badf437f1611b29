#include "analysis/ControlTable.h"

#include "capture/decoder/FipControls.h"

#include <cstring>

namespace {

struct Button {
    const char* name;
    quint8 codes[4];
    int count;
};

using namespace FipControls;

const Button kButtons[] = {
    { "idDatColor", { ID_DAT }, 1 },
    { "idMsgColor", { ID_MSG }, 1 },
    { "idRq1Color", { ID_RQ1 }, 1 },
    { "idRq2Color", { ID_RQ2 }, 1 },
    { "rpDatColor", { RP_DAT }, 1 },
    { "rpDatMsgColor", { RP_DAT_MSG }, 1 },
    { "rpDatRq1Color", { RP_DAT_RQ1 }, 1 },
    { "rpDatRq2Color", { RP_DAT_RQ2 }, 1 },
    { "rpDatRq1MsgColor", { RP_DAT_RQ1_MSG }, 1 },
    { "rpDatRq2MsgColor", { RP_DAT_RQ2_MSG }, 1 },
    { "rpRq1Color", { RP_RQ1 }, 1 },
    { "rpRq2Color", { RP_RQ2 }, 1 },
    { "rpMsgNoAckColor", { RP_MSG_NOACK }, 1 },
    { "rpMsgAckColor", { RP_MSG_ACKe, RP_MSG_ACKo }, 2 },
    { "rpAckColor", { RP_ACKpe, RP_ACKpo, RP_ACKme, RP_ACKmo }, 4 },
    { "rpFinColor", { RP_FIN }, 1 },
};

} // namespace

ControlTable::ControlTable()
{
    const Entry* entries = FipControls::table();
    for (int i = 0; i < FipControls::Count; ++i) {
        m_codes.insert(QString::fromLatin1(entries[i].name), entries[i].code);
        m_colors[entries[i].code] = defaultColor(entries[i].code);
    }
}

quint8 ControlTable::getControlCode(const QString& name) const
{
    return m_codes.value(name, 0);
}

quint8 ControlTable::getControlCode(const char* name, int len) const
{
    if (!name || len <= 0)
        return 0;
    const Entry* entries = FipControls::table();
    for (int i = 0; i < FipControls::Count; ++i) {
        const char* n = entries[i].name;
        if (std::strlen(n) == static_cast<size_t>(len) && std::memcmp(n, name, static_cast<size_t>(len)) == 0)
            return entries[i].code;
    }
    return 0;
}

QColor ControlTable::getControlColor(quint8 code) const
{
    const QColor& c = m_colors[code];
    return c.isValid() ? c : unknownColor();
}

void ControlTable::setControlColor(quint8 code, const QColor& c)
{
    m_colors[code] = c;
}

QList<quint8> ControlTable::codesOfButton(const QString& objectName)
{
    QList<quint8> codes;
    for (const Button& b : kButtons) {
        if (objectName == QLatin1String(b.name)) {
            for (int i = 0; i < b.count; ++i)
                codes.append(b.codes[i]);
            break;
        }
    }
    return codes;
}

QStringList ControlTable::buttonNames()
{
    QStringList names;
    for (const Button& b : kButtons)
        names.append(QString::fromLatin1(b.name));
    return names;
}

QString ControlTable::settingsKeySuffix(quint8 code)
{
    const char* name = FipControls::name(code);
    return name ? QString::fromLatin1(name).toLower() : QString();
}

QColor ControlTable::defaultColor(quint8 code)
{
    switch (code) {
    case ID_DAT: return QColor(150, 150, 255, 100);
    case ID_MSG: return QColor(150, 150, 225, 100);
    case ID_RQ1: return QColor(150, 150, 195, 100);
    case ID_RQ2: return QColor(150, 150, 165, 100);
    case RP_DAT: return QColor(100, 255, 100, 100);
    case RP_DAT_MSG: return QColor(100, 235, 100, 100);
    case RP_DAT_RQ1: return QColor(100, 215, 100, 100);
    case RP_DAT_RQ2: return QColor(100, 195, 100, 100);
    case RP_DAT_RQ1_MSG: return QColor(100, 175, 100, 100);
    case RP_DAT_RQ2_MSG: return QColor(100, 155, 100, 100);
    case RP_RQ1: return QColor(100, 135, 100, 100);
    case RP_RQ2: return QColor(100, 115, 100, 100);
    case RP_MSG_NOACK: return QColor(100, 95, 100, 100);
    case RP_MSG_ACKe:
    case RP_MSG_ACKo: return QColor(100, 75, 100, 100);
    case RP_ACKpe:
    case RP_ACKpo:
    case RP_ACKme:
    case RP_ACKmo: return QColor(100, 55, 100, 100);
    case RP_FIN: return QColor(100, 35, 100, 100);
    default: return unknownColor();
    }
}
