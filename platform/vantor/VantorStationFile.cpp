#include "VantorStationFile.h"

#include "design/FipCalculator.h"
#include "design/StationConfiguration.h"
#include "vantor.h"

bool VantorStationFile::load(const QString& path, VantorStationFile* out, QString* error)
{
    StationConfiguration c;
    if (!StationConfiguration::load(path, &c, error))
        return false;
    auto refuse = [&](const QString& why) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return false;
    };
    if (c.speed > 3)
        return refuse(QStringLiteral("no speed code from 0 to 3"));

    VantorStationFile f;
    f.name = c.subscriberName;
    f.address = c.subscriberNumber;
    f.speedCode = c.speed;
    f.tslotCode = c.tSlot & 3;
    const FipCalculator calculator;
    bool known = false;
    const QString speed = calculator.getSpeedStr(&known, c.speed);
    quint8 low = 0, high = 0;
    // Values out of the speed's range (a file without them) keep the usual times.
    if (known && calculator.getSilenceRange(speed, &low, &high) && c.silence >= low && c.silence <= high)
        f.silenceUs = calculator.getSilenceTime(speed, c.silence);
    if (known && calculator.getTurnAroundRange(speed, &low, &high) && c.turnAround >= low && c.turnAround <= high)
        f.turnaroundUs = calculator.getTurnAroundTime(speed, c.turnAround);
    f.hasArbiter = c.hasBusArbiter;
    f.arbiterEnabled = c.hasBusArbiter && c.busArbiter.enabled;
    for (const StationConfiguration::ScanTable& t : c.busArbiter.scanTables) {
        QVector<Instruction> table;
        for (const StationConfiguration::Instruction& i : t.instructions)
            table.append({ i.type, i.value, i.delay });
        f.scanTables.append(table);
    }
    for (const StationConfiguration::Variable& v : c.variables) {
        if (v.length > VANTOR_VAR_WRITE_SIZE)
            return refuse(QStringLiteral("variable 0x%1 of %2 bytes").arg(v.id, 4, 16, QLatin1Char('0')).arg(v.length));
        if (f.variable(v.id))
            return refuse(QStringLiteral("variable 0x%1 twice").arg(v.id, 4, 16, QLatin1Char('0')));
        Variable out;
        out.name = v.name;
        out.id = v.id;
        out.produced = v.produced;
        out.length = v.length;
        out.refreshmentType = v.refreshmentType;
        out.refreshmentPeriod = v.refreshmentPeriod;
        out.promptnessType = v.hasPromptitude ? v.promptitudeType : 0;
        out.promptnessPeriod = v.promptitudePeriod;
        f.variables.append(out);
    }
    for (const StationConfiguration::Message& m : c.messages) {
        Message out;
        out.name = m.name;
        out.sourceId = m.sourceId;
        out.sourceSegment = m.sourceSegment;
        out.destinationId = m.destinationId;
        out.destinationSegment = m.destinationSegment;
        out.toSend = m.toSend;
        out.channel = m.emissionChannel;
        out.acknowledged = m.ackRequestEnabled;
        out.fileTransfer = m.fileTransferEnabled;
        f.messages.append(out);
    }
    *out = f;
    return true;
}

double VantorStationFile::slotUs() const
{
    // Slot durations by speed code and slot code.
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
