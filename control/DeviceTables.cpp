#include "control/DeviceTables.h"

#include "vantor.h"

#include <QStringList>

DeviceTables::DeviceTables()
{
    m_subSysId = {
        { 0x9050, QStringLiteral("PCI") },           { 0x5201, QStringLiteral("PCI") },
        { 0x5301, QStringLiteral("PCIe") },          { 0x5401, QStringLiteral("PCI/104") },
        { 0x5501, QStringLiteral("PCIe/104") },      { 0x5601, QStringLiteral("PXI") },
        { 0x5701, QStringLiteral("PXIe") },          { 0x5801, QStringLiteral("mPCIe") },
        { 0x5901, QStringLiteral("cPCI") },          { 0x7201, QStringLiteral("PCI Optical") },
        { 0x7301, QStringLiteral("PCIe Optical") },  { 0x7401, QStringLiteral("PCI/104 Optical") },
        { 0x7501, QStringLiteral("PCIe/104 Optical") }, { 0x7601, QStringLiteral("PXI Optical") },
        { 0x7701, QStringLiteral("PXIe Optical") },  { 0x7801, QStringLiteral("mPCIe Optical") },
        { 0x7901, QStringLiteral("cPCI Optical") },
    };
    m_speed = { { 0, QStringLiteral("31.25 kbits/s") }, { 1, QStringLiteral("1 Mbits/s") },
                { 2, QStringLiteral("2.5 Mbits/s") }, { 3, QStringLiteral("5 Mbits/s") } };
    m_impedance = { { 0, QStringLiteral("150 ohms") }, { 1, QStringLiteral("120 ohms") } };
    const char* const colours[] = { " Black", " Blue", " Green", " Cyan", " Red", " Magenta", " Yellow", " White" };
    for (quint8 i = 0; i < 8; ++i)
        m_rgbColor.insert(i, QString::fromLatin1(colours[i]));
}

QString DeviceTables::typeText(const TARVEXCONF& device) const
{
    switch (TarvexFields::interfaceType(device)) {
    case VANTOR_INTERFACE_USB: return QStringLiteral("USB");
    case VANTOR_INTERFACE_PCI: return m_subSysId.value(TarvexFields::subSysId(device), QStringLiteral("Unknown"));
    default: return QStringLiteral("Unknown");
    }
}

QString DeviceTables::speedText(const TARVEXCONF& device) const
{
    return m_speed.value(TarvexFields::speedCode(device));
}

QString DeviceTables::description(const TARVEXCONF& device) const
{
    return QStringList { QString::number(TarvexFields::boardIndex(device)), typeText(device), speedText(device),
                         QString::asprintf("0x%08x", TarvexFields::boardNumber(device)) }
        .join(QStringLiteral(" - "));
}

quint32 DeviceTables::interfaceTypeOf(const QString& deviceType)
{
    static const QStringList pciFamily = {
        QStringLiteral("PCI"),          QStringLiteral("PCIe"),          QStringLiteral("PCI/104"),
        QStringLiteral("PCIe/104"),     QStringLiteral("PXI"),           QStringLiteral("PXIe"),
        QStringLiteral("mPCIe"),        QStringLiteral("cPCI"),          QStringLiteral("PCI Optical"),
        QStringLiteral("PCIe Optical"), QStringLiteral("PCI/104 Optical"), QStringLiteral("PCIe/104 Optical"),
        QStringLiteral("PXI Optical"),  QStringLiteral("PXIe Optical"),  QStringLiteral("mPCIe Optical"),
        QStringLiteral("cPCI Optical"),
    };
    if (pciFamily.contains(deviceType))
        return VANTOR_INTERFACE_PCI;
    return deviceType == QLatin1String("USB") ? VANTOR_INTERFACE_USB : VANTOR_INTERFACE_OTHER;
}
