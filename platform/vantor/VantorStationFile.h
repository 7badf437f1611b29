#pragma once

#include <QMap>
#include <QString>
#include <QVector>
#include <QtGlobal>

/// What a simulated board takes from a station configuration file: its place on
/// the bus, its arbitrator program, the variables it produces and consumes and the
/// messages it sends or receives. Times are kept in slot counts as written.
struct VantorStationFile {
    struct Instruction {
        QString type;         ///< element name: SEND_ID_DAT, WAIT_TIME, NEXT_MACRO, ...
        quint32 value = 0;    ///< identifier, time in slots or suspend event
        quint32 delay = 0;    ///< SUSPEND only, in slots
    };
    struct Variable {
        QString name;
        quint16 id = 0;
        bool produced = false;
        int length = 0;
        quint8 refreshmentType = 0; ///< 0 off, 1 static, 2 dynamic
        quint32 refreshmentPeriod = 0;
        quint8 promptnessType = 0;
        quint32 promptnessPeriod = 0;
    };
    struct Message {
        QString name;
        quint16 sourceId = 0;
        quint8 sourceSegment = 0;
        quint16 destinationId = 0;
        quint8 destinationSegment = 0;
        bool toSend = false;
        int channel = 0;
        bool acknowledged = false;
        bool fileTransfer = false;
    };

    QString name;
    quint8 address = 0;
    quint8 speedCode = 1;
    quint8 tslotCode = 0;
    double silenceUs = 0;    ///< the network's silence, 0 when the file gives none
    double turnaroundUs = 0; ///< the network's turnaround, 0 when the file gives none
    bool hasArbiter = false;
    bool arbiterEnabled = false;
    QVector<QVector<Instruction>> scanTables; ///< in file order
    QVector<Variable> variables;
    QVector<Message> messages;

    /// Reads the file through the design's own reader; false with a one-line reason
    /// when it cannot be read or holds what no board can run.
    static bool load(const QString& path, VantorStationFile* out, QString* error);

    /// Slot duration in microseconds for the file's speed and slot code.
    double slotUs() const;
    const Variable* variable(quint16 id) const;
};
