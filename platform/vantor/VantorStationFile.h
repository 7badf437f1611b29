#pragma once

#include "design/StationConfiguration.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

/// What a simulated board takes from a station configuration file: the file as the
/// design reads it, with the times its speed gives. Times in the file stay slot counts.
struct VantorStationFile {
    using Instruction = StationConfiguration::Instruction;
    using Variable = StationConfiguration::Variable;
    using Message = StationConfiguration::Message;

    StationConfiguration station;
    double silenceUs = 0;    ///< the network's silence, 0 when the file gives none
    double turnaroundUs = 0; ///< the network's turnaround, 0 when the file gives none

    quint8 address() const { return station.subscriberNumber; }
    quint8 speedCode() const { return station.speed; }
    bool hasArbiter() const { return station.hasBusArbiter; }
    bool arbiterEnabled() const { return station.hasBusArbiter && station.busArbiter.enabled; }
    int scanTableCount() const { return station.busArbiter.scanTables.size(); }
    /// The instructions of the table at `index` in file order; empty when there is none.
    QVector<Instruction> scanTable(int index) const
    {
        return index >= 0 && index < scanTableCount() ? station.busArbiter.scanTables[index].instructions
                                                      : QVector<Instruction>();
    }
    const QVector<Variable>& variables() const { return station.variables; }
    const QVector<Message>& messages() const { return station.messages; }
    const Variable* variable(quint16 id) const { return station.variable(id); }

    /// Reads the file through the design's own reader; false with a one-line reason
    /// when it cannot be read or holds what no board can run.
    static bool load(const QString& path, VantorStationFile* out, QString* error);

    /// Slot duration in microseconds for the file's speed and slot code.
    double slotUs() const;
};
