// The design check of a 256-identifier network: a 10,000,000-frame stored trace
// of the simulated bus read and checked, and what a live capture pays for it
// (every frame measured, one check run every fourth statistics tick).
// One figure per line. BENCH_DESIGNCHECK_FRAMES changes the trace length.

#include "FipTrafficGenerator.h"
#include "analysis/designcheck/BusObservation.h"
#include "analysis/designcheck/DesignCheck.h"
#include "analysis/designcheck/TraceObservation.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr quint8 kSpeed = 3; // 5 Mbit/s: the densest bus
constexpr int kVariables = 256;

QVector<FipTrafficGenerator::Variable> variables()
{
    QVector<FipTrafficGenerator::Variable> list;
    // Shortest periods first, so each variable keeps its place in the microcycle.
    for (int i = 0; i < kVariables; ++i)
        list.append({ quint16(0x0100 + i), 4 + i % 29, 1 << (i / (kVariables / 4)) });
    return list;
}

DesignedNetwork design()
{
    DesignedNetwork d;
    d.name = QStringLiteral("bench");
    d.silenceUs = 108;
    d.turnaroundUs = 6.4;
    for (int s = 1; s <= 8; ++s)
        d.stations.append({ s, QStringLiteral("station %1").arg(s) });
    DesignedScanTable table;
    table.name = QStringLiteral("BA / Scan Table 0");
    table.microcycleMs = 20;
    table.microcycles.resize(8);
    for (const FipTrafficGenerator::Variable& v : variables()) {
        d.variables.append({ v.id, QString(), 1 + (v.id & 7), v.length, false, 20.0 * v.periodCycles });
        for (int c = 0; c < 8; c += v.periodCycles)
            table.microcycles[c].append(v.id);
    }
    d.scanTables.append(table);
    return d;
}

ObservedFrame::Kind kindOf(quint8 control)
{
    switch (control) {
    case 0x03: return ObservedFrame::VariableRequest;
    case 0x05: case 0x29: case 0x09: return ObservedFrame::OtherRequest;
    case 0x02: case 0x06: case 0x2A: case 0x0A: case 0x2E: case 0x0E: return ObservedFrame::VariableReply;
    default: return ObservedFrame::OtherFrame;
    }
}

const char* controlName(quint8 control)
{
    switch (control) {
    case 0x03: return "ID_DAT";
    case 0x05: return "ID_MSG";
    case 0x29: return "ID_RQ1";
    case 0x02: return "RP_DAT";
    case 0x06: return "RP_DAT_MSG";
    case 0x2A: return "RP_DAT_RQ1";
    case 0x28: return "RP_RQ1";
    case 0x04: return "RP_MSG_NOACK";
    case 0x40: return "RP_FIN";
    default: return "RP_ACKpe";
    }
}

FipTrafficGenerator makeGenerator()
{
    FipTrafficGenerator g(kSpeed, 2, 1700000000000000ull);
    g.setFollowNetwork(false);
    g.setVariables(variables());
    g.setCycleUs(20000);
    g.setAperiodicEvery(0);
    return g;
}

// Lines as the trace writer lays them out, with the date and the data bytes.
bool writeTrace(const QString& path, quint64 frames)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    FipTrafficGenerator g = makeGenerator();
    const double tickUs = FipTrafficGenerator::bitTimeUs(kSpeed) / 10.0;
    QByteArray out;
    out.reserve(1 << 22);
    char line[512];
    quint16 current = 0;
    for (quint64 n = 0; n < frames; ++n) {
        const FipFrame f = g.next();
        const quint8 control = quint8(f.bytes.at(0));
        if (kindOf(control) == ObservedFrame::VariableRequest || kindOf(control) == ObservedFrame::OtherRequest)
            current = quint16(quint8(f.bytes.at(1)) << 8 | quint8(f.bytes.at(2)));
        const bool variableReply = kindOf(control) == ObservedFrame::VariableReply;
        int size = std::snprintf(line, sizeof line,
                                 "\t%llu\t\t\t[2026-12-07] 10:00:00.000 000\t%llu\t%7.2f us\t%7.2f us\t%s\t0x%04x\t%s\t%d\t\t",
                                 (unsigned long long)(n + 1), (unsigned long long)f.timestampUs, f.gapTicks * tickUs,
                                 f.lengthTicks * tickUs, controlName(control), current,
                                 variableReply ? (quint8(f.bytes.at(1)) == 0x50 ? "SM_MPS" : "MPS") : "",
                                 f.bytes.size() - 3);
        for (int i = 1; i + 2 < f.bytes.size() && size < 400; ++i)
            size += std::snprintf(line + size, sizeof line - size_t(size), "%02x ", quint8(f.bytes.at(i)));
        out.append(line, size);
        out.append("\t\t\t\t\t\t\t\t\n");
        if (out.size() > (1 << 22) - 1024) {
            file.write(out);
            out.clear();
        }
    }
    file.write(out);
    return file.error() == QFileDevice::NoError;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const quint64 frames = qEnvironmentVariableIsSet("BENCH_DESIGNCHECK_FRAMES")
        ? qEnvironmentVariable("BENCH_DESIGNCHECK_FRAMES").toULongLong()
        : 10000000ull;
    QTemporaryDir dir;
    const QString trace = dir.filePath("bench.vtrc");
    QElapsedTimer timer;
    timer.start();
    if (!writeTrace(trace, frames)) {
        std::printf("design check: cannot write %s\n", qPrintable(trace));
        return 1;
    }
    std::printf("design check trace written: %llu frames, %.0f MB, %.1f s\n", (unsigned long long)frames,
                double(QFile(trace).size()) / 1e6, double(timer.nsecsElapsed()) / 1e9);

    const DesignedNetwork d = design();
    timer.restart();
    BusObservation bus;
    bus.setPadding(false, 0);
    QString error;
    if (!TraceObservation::read(trace, &bus, &error)) {
        std::printf("design check: %s\n", qPrintable(error));
        return 1;
    }
    const CheckReport report = DesignCheck::run(d, bus);
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("design check of a stored trace (%llu frames, %d identifiers): %.2f s\n", (unsigned long long)frames,
                kVariables, seconds);
    std::printf("design check stored trace rate: %.0f frames/s\n", double(frames) / seconds);
    std::printf("design check findings on the simulated bus: %d errors, %d warnings, %d checks\n",
                report.count(CheckSeverity::Error), report.count(CheckSeverity::Warning), report.checksMade);

    // Live: every decoded frame measured, then one run per fourth statistics tick.
    FipTrafficGenerator g = makeGenerator();
    const double tickUs = FipTrafficGenerator::bitTimeUs(kSpeed) / 10.0;
    const int live = 2000000;
    std::vector<ObservedFrame> observed(static_cast<size_t>(live));
    quint16 current = 0;
    for (ObservedFrame& o : observed) {
        const FipFrame f = g.next();
        o.kind = kindOf(quint8(f.bytes.at(0)));
        if (o.kind == ObservedFrame::VariableRequest || o.kind == ObservedFrame::OtherRequest)
            current = quint16(quint8(f.bytes.at(1)) << 8 | quint8(f.bytes.at(2)));
        o.number = f.number + 1;
        o.timeUs = f.timestampUs;
        o.gapUs = f.gapTicks * tickUs;
        o.identifier = current;
        o.dataLength = f.bytes.size() - 3;
    }
    BusObservation liveBus;
    timer.restart();
    for (const ObservedFrame& o : observed)
        liveBus.add(o);
    std::printf("design check measure per live frame: %.1f ns\n", double(timer.nsecsElapsed()) / live);
    timer.restart();
    const int runs = 50;
    int checks = 0;
    for (int i = 0; i < runs; ++i)
        checks += DesignCheck::run(d, liveBus).checksMade;
    std::printf("design check run on a live capture (%d identifiers): %.2f ms\n", kVariables,
                double(timer.nsecsElapsed()) / 1e6 / runs);
    return checks > 0 ? 0 : 1;
}
