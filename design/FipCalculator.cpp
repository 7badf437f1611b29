#include "design/FipCalculator.h"

#include <QByteArray>
#include <QDebug>

namespace {

const char* const SpeedTexts[TParameters::SpeedCount] = {
    "31.25 kbits/s", "1 Mbits/s", "2.5 Mbits/s", "5 Mbits/s"
};

// TSlot durations in µs by speed code and TSlot code; 2.5 and 5 Mbit/s share their row.
const double TSlotUs[TParameters::SpeedCount][FipCalculator::TSlotCodeCount] = {
    { 100.0, 400.0, 1000.0, 4000.0 },
    { 62.5, 250.0, 625.0, 2500.0 },
    { 50.0, 200.0, 500.0, 2000.0 },
    { 50.0, 200.0, 500.0, 2000.0 },
};
const double UnknownSpeedTSlotUs = 1000.0;

} // namespace

FipCalculator::FipCalculator()
{
    initCRCTables();
}

QStringList FipCalculator::getSpeedList()
{
    QStringList list;
    for (const char* text : SpeedTexts)
        list << QString::fromLatin1(text);
    return list;
}

int FipCalculator::speedIndex(const QString& speed)
{
    for (int i = 0; i < TParameters::SpeedCount; ++i) {
        if (speed == QLatin1String(SpeedTexts[i]))
            return i;
    }
    return -1;
}

QString FipCalculator::getSpeedStr(bool* ok, unsigned char code) const
{
    const bool known = code < TParameters::SpeedCount;
    if (ok)
        *ok = known;
    return known ? QString::fromLatin1(SpeedTexts[code]) : QString();
}

unsigned char FipCalculator::getSpeedFromStr(bool* ok, const QString& text) const
{
    const int index = speedIndex(text);
    if (ok)
        *ok = index >= 0;
    return index >= 0 ? static_cast<unsigned char>(index) : static_cast<unsigned char>(SpeedUnknown);
}

float FipCalculator::getBitTime(const QString& speed) const
{
    const int s = speedIndex(speed);
    return s < 0 ? 0.0f : m_parameters.bitTime[s];
}

bool FipCalculator::getSilenceRange(const QString& speed, quint8* min, quint8* max) const
{
    const int s = speedIndex(speed);
    if (s < 0)
        return false;
    if (min)
        *min = m_parameters.silenceParMin[s];
    if (max)
        *max = m_parameters.silenceParMax[s];
    return true;
}

bool FipCalculator::getTurnAroundRange(const QString& speed, quint8* min, quint8* max) const
{
    const int s = speedIndex(speed);
    if (s < 0)
        return false;
    if (min)
        *min = m_parameters.turnAroundParMin[s];
    if (max)
        *max = m_parameters.turnAroundParMax[s];
    return true;
}

float FipCalculator::getSilenceTime(const QString& speed, unsigned char value) const
{
    const int s = speedIndex(speed);
    if (s < 0)
        return 0.0f;
    if (value < m_parameters.silenceParMin[s] || value > m_parameters.silenceParMax[s]) {
        qDebug("getSilenceTime - Hors Plage");
        return 0.0f;
    }
    return value * m_parameters.silenceUnit[s];
}

QString FipCalculator::getSilenceTimeStr(const QString& speed, unsigned char value) const
{
    return floatUsToString(getSilenceTime(speed, value));
}

QStringList FipCalculator::getSilenceTimeList(const QString& speed) const
{
    QStringList list;
    quint8 min = 0;
    quint8 max = 0;
    if (!getSilenceRange(speed, &min, &max))
        return list;
    for (int value = min; value <= max; ++value)
        list << getSilenceTimeStr(speed, static_cast<unsigned char>(value));
    return list;
}

float FipCalculator::getTurnAroundTime(const QString& speed, unsigned char value) const
{
    const int s = speedIndex(speed);
    if (s < 0)
        return 0.0f;
    if (value < m_parameters.turnAroundParMin[s] || value > m_parameters.turnAroundParMax[s]) {
        qDebug("getTurnAroundTime - Hors Plage");
        return 0.0f;
    }
    return value * m_parameters.turnAroundUnit[s] * m_parameters.bitTime[s];
}

QString FipCalculator::getTurnAroundTimeStr(const QString& speed, unsigned char value) const
{
    return floatUsToString(getTurnAroundTime(speed, value));
}

QStringList FipCalculator::getTurnAroundTimeList(const QString& speed) const
{
    QStringList list;
    quint8 min = 0;
    quint8 max = 0;
    if (!getTurnAroundRange(speed, &min, &max))
        return list;
    for (int value = min; value <= max; ++value)
        list << getTurnAroundTimeStr(speed, static_cast<unsigned char>(value));
    return list;
}

float FipCalculator::getFloatMsTSlotTime(const QString& speed, unsigned char code) const
{
    const int s = speedIndex(speed);
    const double us = s < 0 ? UnknownSpeedTSlotUs : TSlotUs[s][code & 3];
    return static_cast<float>(us / 1000.0);
}

QString FipCalculator::getTSlotTimeStr(const QString& speed, unsigned char code) const
{
    const int s = speedIndex(speed);
    const double us = s < 0 ? UnknownSpeedTSlotUs : TSlotUs[s][code & 3];
    return floatUsToString(static_cast<float>(us));
}

QStringList FipCalculator::getTSlotTimeList(const QString& speed) const
{
    QStringList list;
    for (int code = 0; code < TSlotCodeCount; ++code)
        list << getTSlotTimeStr(speed, static_cast<unsigned char>(code));
    return list;
}

QString FipCalculator::floatUsToString(float us)
{
    const double value = us;
    if (value >= 1000000.0)
        return QString::number(value / 1000000.0, 'g', 6) + QStringLiteral(" s");
    if (value >= 1000.0)
        return QString::number(value / 1000.0, 'g', 6) + QStringLiteral(" ms");
    return QString::number(value, 'g', 6) + QStringLiteral(" us");
}

void FipCalculator::buildCrcTable(CrcTable& table, quint16 poly)
{
    for (int i = 0; i < 256; ++i) {
        quint16 crc = static_cast<quint16>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<quint16>((crc << 1) ^ poly) : static_cast<quint16>(crc << 1);
        table[static_cast<size_t>(i)] = crc;
    }
}

void FipCalculator::initCRCTables()
{
    buildCrcTable(m_crcTable1021, PolyFip);
    buildCrcTable(m_crcTable1DCF, PolyWorldFip);
}

quint16 FipCalculator::crc16(const CrcTable& table, quint16 start, const quint8* data, int size)
{
    quint16 crc = start;
    for (int i = 0; i < size; ++i)
        crc = static_cast<quint16>((crc << 8) ^ table[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

quint16 FipCalculator::computeFcs(const quint8* data, int size, bool fip) const
{
    const quint16 crc = fip ? crc16(m_crcTable1021, 0x0000, data, size)
                            : crc16(m_crcTable1DCF, 0xFFFF, data, size);
    return static_cast<quint16>(~crc);
}

quint16 FipCalculator::computeFcs(const QByteArray& data, bool fip) const
{
    return computeFcs(reinterpret_cast<const quint8*>(data.constData()), data.size(), fip);
}
