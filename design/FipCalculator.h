#ifndef BX_DESIGN_FIPCALCULATOR_H
#define BX_DESIGN_FIPCALCULATOR_H

#include "design/TParameters.h"

#include <QString>
#include <QStringList>

#include <array>

/// Bus timing rules of the four FIP speeds (names, silence and turnaround ranges,
/// TSlot durations, time formatting) and the two CRC-16 tables used for frame FCS checks.
/// Every operation taking a speed text expects one of the texts of `getSpeedList()`.
class FipCalculator
{
public:
    /// Speed codes, shared with the capture card and the decoder.
    enum SpeedCode : quint8 {
        Speed31k25 = 0,
        Speed1M = 1,
        Speed2M5 = 2,
        Speed5M = 3,
        SpeedUnknown = 255
    };

    static constexpr int TSlotCodeCount = 4;
    static constexpr quint16 PolyFip = 0x1021;
    static constexpr quint16 PolyWorldFip = 0x1DCF;
    using CrcTable = std::array<quint16, 256>;

    /// Builds the CRC tables, so an instance is ready for FCS checks at once.
    FipCalculator();

    const TParameters& parameters() const { return m_parameters; }

    /// The four speed texts in code order.
    static QStringList getSpeedList();
    /// Speed text of a code; codes above 3 give an empty text and *ok false (ok may be null).
    QString getSpeedStr(bool* ok, unsigned char code) const;
    /// Speed code of a text (case-sensitive); an unknown text gives SpeedUnknown and *ok false.
    unsigned char getSpeedFromStr(bool* ok, const QString& text) const;
    /// Bit time in µs, 0 for an unknown speed.
    float getBitTime(const QString& speed) const;

    /// Allowed silence parameter range of a speed; false for an unknown speed.
    bool getSilenceRange(const QString& speed, quint8* min, quint8* max) const;
    /// Allowed turnaround parameter range of a speed; false for an unknown speed.
    bool getTurnAroundRange(const QString& speed, quint8* min, quint8* max) const;

    /// Silence time in µs for a parameter value; 0 when out of range or for an unknown speed.
    float getSilenceTime(const QString& speed, unsigned char value) const;
    QString getSilenceTimeStr(const QString& speed, unsigned char value) const;
    /// Texts of every silence value from the minimum to the maximum of the speed.
    QStringList getSilenceTimeList(const QString& speed) const;

    /// Turnaround time in µs (value × unit × bit time); 0 when out of range or for an unknown speed.
    float getTurnAroundTime(const QString& speed, unsigned char value) const;
    QString getTurnAroundTimeStr(const QString& speed, unsigned char value) const;
    /// Texts of every turnaround value from the minimum to the maximum of the speed.
    QStringList getTurnAroundTimeList(const QString& speed) const;

    /// TSlot duration in ms for code AND 3; 1 ms for an unknown speed.
    float getFloatMsTSlotTime(const QString& speed, unsigned char code) const;
    QString getTSlotTimeStr(const QString& speed, unsigned char code) const;
    /// Texts of the four TSlot codes, in code order.
    QStringList getTSlotTimeList(const QString& speed) const;

    /// "… s" from 1,000,000 µs, "… ms" from 1000 µs, "… us" below; up to 6 significant digits.
    static QString floatUsToString(float us);

    /// Builds the most-significant-bit-first tables of polynomials 0x1021 and 0x1DCF.
    void initCRCTables();
    const CrcTable& crcTable1021() const { return m_crcTable1021; }
    const CrcTable& crcTable1DCF() const { return m_crcTable1DCF; }

    /// Running table-driven CRC-16 over a buffer, not complemented.
    static quint16 crc16(const CrcTable& table, quint16 start, const quint8* data, int size);
    /// Frame check sequence of the bytes before the FCS: FIP polynomial 0x1021 from 0,
    /// WorldFIP 0x1DCF from 0xFFFF, complemented.
    quint16 computeFcs(const quint8* data, int size, bool fip) const;
    quint16 computeFcs(const QByteArray& data, bool fip) const;

private:
    /// Index 0..3 of a speed text, -1 when unknown.
    static int speedIndex(const QString& speed);
    static void buildCrcTable(CrcTable& table, quint16 poly);

    TParameters m_parameters;
    CrcTable m_crcTable1021 {};
    CrcTable m_crcTable1DCF {};
};

#endif
