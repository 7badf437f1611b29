#pragma once

#include "control/BoardTypes.h"

#include <QMap>
#include <QString>

/// The texts a detected board is described with: form factor, speed, impedance
/// and LED colour names, and the description a bound station's "FIP Device" holds.
class DeviceTables
{
public:
    DeviceTables();

    const QMap<quint16, QString>& subSysIdMap() const { return m_subSysId; }
    const QMap<quint8, QString>& speedMap() const { return m_speed; }
    const QMap<quint8, QString>& impedanceMap() const { return m_impedance; }
    const QMap<quint8, QString>& rgbColorMap() const { return m_rgbColor; }

    /// "USB", the form factor of a PCI-family board, or "Unknown".
    QString typeText(const TARVEXCONF& device) const;
    QString speedText(const TARVEXCONF& device) const;
    /// Board index, type, speed and "0x%08x" board number, joined by " - ".
    QString description(const TARVEXCONF& device) const;
    /// The interface type to open a bound station's board with, from its "Device Type".
    static quint32 interfaceTypeOf(const QString& deviceType);

private:
    QMap<quint16, QString> m_subSysId;
    QMap<quint8, QString> m_speed;
    QMap<quint8, QString> m_impedance;
    QMap<quint8, QString> m_rgbColor;
};
