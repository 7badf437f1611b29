#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

/// One station configuration file read back: what a communication board needs to take its
/// place on the network. Numbers are parsed from the file's texts ("0x.." hexadecimal, else
/// decimal; identifiers decimal first, then hexadecimal); an empty text reads as 0, a text that
/// is there but is no number is an error.
struct StationConfiguration
{
    /// One scan table instruction; `type` is the element name ("SEND_ID_DAT", ... "TESTP").
    struct Instruction
    {
        QString type;
        /// SEND_ID_DAT, SEND_ID_MSG: the identifier. SEND_MSG, SEND_APER, WAIT_TIME, WAIT_SYNC:
        /// the time in TSlots. SUSPEND: the event. NEXT_MACRO, TESTP: 0.
        quint32 value = 0;
        /// SUSPEND only: the delay in TSlots.
        quint32 delay = 0;
    };

    struct ScanTable
    {
        int number = 0;
        QVector<Instruction> instructions;
    };

    struct BusArbiter
    {
        bool enabled = false;
        quint8 maxSubscriberNumber = 0;
        quint8 priority = 0;
        quint8 maxPriority = 0;
        QString optimization;         ///< "OPTIMIZATION_0" .. "OPTIMIZATION_3", or empty
        QVector<ScanTable> scanTables; ///< in file order
        /// The scan table of a number; null when there is none.
        const ScanTable* scanTable(int number) const;
    };

    struct Variable
    {
        QString name;
        quint16 id = 0;
        quint8 pdu = 0x40;           ///< 0x40 MPS, 0x50 SM_MPS
        quint8 length = 0;           ///< bytes
        bool produced = true;        ///< "Type" 0x00 produced, 0x01 consumed
        quint8 refreshmentType = 0;  ///< 0 off, 1 on, 2 on and dynamic
        quint16 refreshmentPeriod = 0; ///< TSlots
        bool hasPromptitude = false; ///< consumed variables only
        quint8 promptitudeType = 0;  ///< 0 off, 1 on
        quint16 promptitudePeriod = 0; ///< TSlots
        bool aperiodicRequestEnabled = false;
        bool messageReceptionEnabled = false;
        bool messageEmissionEnabled = false;
        quint16 emissionChannel = 0;
    };

    struct Message
    {
        QString name;
        quint16 sourceId = 0;
        quint8 sourceSegment = 0;
        quint16 destinationId = 0;
        quint8 destinationSegment = 0;
        bool toSend = false;          ///< "toSend", else "toReceive"
        quint16 emissionChannel = 0;  ///< to send only
        bool ackRequestEnabled = false; ///< to send only
        bool fileTransferEnabled = false;
    };

    struct Tag
    {
        QString name;
        quint32 id = 0;
        QString typeName;
        int accessRights = 0;         ///< 1 read (through a consumed variable), 0 owned
        QString description;          ///< empty when the file has none
        quint16 identifier = 0;
        int startBit = 0;
        int stopBit = 0;
        bool hasEndianness = false;
        int endianness = -1;          ///< 1 little, 0 big, -1 other
    };

    QString version;                  ///< the root's "version", "1.1"
    QString subscriberName;
    quint8 subscriberNumber = 0;      ///< the station address
    quint8 speed = 0xFF;              ///< 0 31.25 kbit/s, 1 1 Mbit/s, 2 2.5 Mbit/s, 3 5 Mbit/s
    quint8 tSlot = 0;
    quint8 silence = 0;
    quint8 turnAround = 0;
    QString frameType;                ///< "FIP", "WorldFIP", "SlowFIP"
    bool hasBusArbiter = false;
    BusArbiter busArbiter;
    QVector<Variable> variables;      ///< in file order
    QVector<Message> messages;        ///< in file order
    QVector<Tag> tags;                ///< in file order

    /// The station's segment as its messages name it (source of one to send, destination of one
    /// to receive); -1 when the file holds no message.
    int segment() const;
    /// The variable of an identifier; null when there is none.
    const Variable* variable(quint16 id) const;
    /// Identifiers of the produced, respectively consumed, variables in file order.
    QVector<quint16> producedIds() const;
    QVector<quint16> consumedIds() const;
    /// Produced identifiers that may ask for aperiodic transfers ("requestEnabled").
    QVector<quint16> aperiodicRequestIds() const;

    /// Reads a file into `out` (left untouched on failure); false with `error` set (when given)
    /// when the file cannot be read or is not a station configuration.
    static bool load(const QString& path, StationConfiguration* out, QString* error);
    /// The same from the file's bytes.
    static bool parse(const QByteArray& content, StationConfiguration* out, QString* error);
};
