#include "VantorStationFile.h"

#include "design/FipCalculator.h"
#include "vantor.h"

#include <QSet>

bool VantorStationFile::load(const QString& path, VantorStationFile* out, QString* error)
{
    VantorStationFile f;
    StationConfiguration& c = f.station;
    if (!StationConfiguration::load(path, &c, error))
        return false;
    auto refuse = [&](const QString& why) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return false;
    };
    if (c.speed > 3)
        return refuse(QStringLiteral("no speed code from 0 to 3"));
    QSet<quint16> ids;
    for (const Variable& v : c.variables) {
        if (v.length > VANTOR_VAR_WRITE_SIZE)
            return refuse(QStringLiteral("variable 0x%1 of %2 bytes").arg(v.id, 4, 16, QLatin1Char('0')).arg(v.length));
        if (ids.contains(v.id))
            return refuse(QStringLiteral("variable 0x%1 twice").arg(v.id, 4, 16, QLatin1Char('0')));
        ids.insert(v.id);
    }
    const FipCalculator calculator;
    bool known = false;
    const QString speed = calculator.getSpeedStr(&known, c.speed);
    quint8 low = 0, high = 0;
    // Values out of the speed's range (a file without them) keep the usual times.
    if (known && calculator.getSilenceRange(speed, &low, &high) && c.silence >= low && c.silence <= high)
        f.silenceUs = calculator.getSilenceTime(speed, c.silence);
    if (known && calculator.getTurnAroundRange(speed, &low, &high) && c.turnAround >= low && c.turnAround <= high)
        f.turnaroundUs = calculator.getTurnAroundTime(speed, c.turnAround);
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
    return table[station.speed & 3][station.tSlot & 3];
}
