#include "DesignCheckInput.h"

#include "design/FipCalculator.h"
#include "design/MainDTModel.h"

namespace DesignCheckInput {

namespace {

// "5", "5 ms", "0.5 ms": the leading number, in milliseconds.
double leadingNumber(const QString& text)
{
    QString number;
    for (const QChar c : text.trimmed()) {
        if (!c.isDigit() && c != QLatin1Char('.'))
            break;
        number += c;
    }
    return number.toDouble();
}

int stationAddress(const MainDTModel& model, QModelIndex node)
{
    while (node.isValid() && model.classType(node) != MainDTModel::STATION)
        node = model.parent(node);
    return node.isValid() ? int(MainDTModel::parseNumber(model.text(node, MainDTModel::ColStationAddress))) : -1;
}

QString stationName(const MainDTModel& model, QModelIndex node)
{
    while (node.isValid() && model.classType(node) != MainDTModel::STATION)
        node = model.parent(node);
    return node.isValid() ? model.text(node, MainDTModel::ColObject) : QString();
}

DesignedScanTable scanTable(const MainDTModel& model, const QModelIndex& table)
{
    DesignedScanTable t;
    t.name = stationName(model, table) + QStringLiteral(" / ") + model.text(table, MainDTModel::ColObject);
    QVector<quint16> cycle;
    for (int row = 0; row < model.rowCount(table); ++row) {
        const QModelIndex i = model.index(row, 0, table);
        const QString type = model.text(i, MainDTModel::ColInstructionType);
        if (type == QLatin1String("SEND_ID_DAT")) {
            bool ok = false;
            const qlonglong id = MainDTModel::parseNumber(model.text(i, MainDTModel::ColInstructionId), &ok);
            if (ok)
                cycle.append(quint16(id));
        } else if (type == QLatin1String("WAIT_TIME") || type == QLatin1String("WAIT_SYNC")) {
            if (type == QLatin1String("WAIT_TIME") && t.microcycleMs == 0)
                t.microcycleMs = leadingNumber(model.text(i, MainDTModel::ColInstructionTime));
            if (!cycle.isEmpty())
                t.microcycles.append(cycle);
            cycle.clear();
        } else if (type == QLatin1String("NEXT_MACRO")) {
            break;
        }
    }
    if (!cycle.isEmpty())
        t.microcycles.append(cycle);
    return t;
}

} // namespace

DesignedNetwork fromDesign(const MainDTModel& model)
{
    DesignedNetwork d;
    const QModelIndexList networks = model.getClassTypeIndexes(MainDTModel::NETWORK);
    if (!networks.isEmpty()) {
        const QModelIndex n = networks.first();
        d.name = model.text(n, MainDTModel::ColObject);
        const QString speed = model.text(n, MainDTModel::ColNetworkSpeed);
        const FipCalculator calculator;
        d.silenceUs = calculator.getSilenceTime(
            speed, quint8(MainDTModel::parseNumber(model.text(n, MainDTModel::ColNetworkSilence))));
        d.turnaroundUs = calculator.getTurnAroundTime(
            speed, quint8(MainDTModel::parseNumber(model.text(n, MainDTModel::ColNetworkTurnAround))));
    }
    for (const QModelIndex& s : model.getClassTypeIndexes(MainDTModel::STATION))
        d.stations.append({ int(MainDTModel::parseNumber(model.text(s, MainDTModel::ColStationAddress))),
                            model.text(s, MainDTModel::ColObject) });
    for (const QModelIndex& v : model.getClassTypeIndexes(MainDTModel::VARIABLE_OUT)) {
        bool ok = false;
        const quint16 id = model.getOutId(v, &ok);
        if (!ok)
            continue;
        DesignedVariable var;
        var.id = id;
        var.name = model.text(v, MainDTModel::ColObject);
        var.producerAddress = stationAddress(model, v);
        var.length = model.text(v, MainDTModel::ColVarOutLength).toInt();
        var.smMps = model.text(v, MainDTModel::ColVarOutPdu).trimmed() == QLatin1String("SM_MPS");
        if (model.text(v, MainDTModel::ColVarOutRefreshmentEnabled) != QLatin1String("false"))
            var.periodMs = leadingNumber(model.text(v, MainDTModel::ColVarOutRefreshmentPeriod));
        d.variables.append(var);
    }
    for (const QModelIndex& t : model.getClassTypeIndexes(MainDTModel::SCAN_TABLE))
        d.scanTables.append(scanTable(model, t));
    return d;
}

} // namespace DesignCheckInput
