// Station configuration files of a full network, one figure per line:
//   station export   files written per second (DOM, bytes, atomic file) with their size
//   station read     files read back per second by the board-side reader
#include "design/MainDTModel.h"
#include "design/StationConfiguration.h"
#include "design/StationConfigurationExport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Segments = 8;
constexpr int StationsPerSegment = 32;
constexpr int OutputsPerStation = 4;
constexpr int InputsPerStation = 4;
constexpr int MnemonicsPerOutput = 8;

using M = MainDTModel;

QModelIndex addNode(M& m, const QModelIndex& parent, M::ClassT kind, const QList<QPair<int, QString>>& values)
{
    const int row = m.rowCount(parent);
    m.insertRowsWithoutControl(row, 1, parent);
    const QModelIndex node = m.index(row, 0, parent);
    m.setDataWithoutControl(m.cell(node, M::ColClassType), QString::number(kind));
    for (const auto& v : values)
        m.setDataWithoutControl(m.cell(node, v.first), v.second);
    return node;
}

/// 256 stations, each producing 4 variables read by the next station; the first carries
/// the arbitrator with a scan table naming every variable.
void buildNetwork(M& m)
{
    const QModelIndex network = addNode(m, QModelIndex(), M::NETWORK,
                                        { { M::ColObject, "big" }, { M::ColNetworkFrameType, "WorldFIP" },
                                          { M::ColNetworkSpeed, "1 Mbits/s" }, { M::ColNetworkSilence, "0x1b" },
                                          { M::ColNetworkTurnAround, "0x2d" }, { M::ColNetworkBaOptimization, "Optimization 1" } });
    const int stations = Segments * StationsPerSegment;
    QModelIndex table;
    for (int s = 0; s < Segments; ++s) {
        const QModelIndex segment = addNode(m, network, M::SEGMENT, { { M::ColSegmentNumber, QString::number(s) } });
        for (int k = 0; k < StationsPerSegment; ++k) {
            const int address = s * StationsPerSegment + k;
            const QModelIndex station = addNode(m, segment, M::STATION,
                                                { { M::ColObject, QString("Station %1").arg(address) },
                                                  { M::ColStationAddress, QString::number(address) }, { M::ColStationTSlot, "0x00" } });
            if (address == 0) {
                const QModelIndex arbiter = addNode(m, station, M::BUS_ARBITER, { { M::ColArbiterEnabled, "true" } });
                table = addNode(m, arbiter, M::SCAN_TABLE, { { M::ColScanTableNumber, "0" } });
            }
            for (int o = 0; o < OutputsPerStation; ++o) {
                const QString id = M::idToStr(quint16(address * OutputsPerStation + o));
                const QModelIndex out = addNode(m, station, M::VARIABLE_OUT,
                                                { { M::ColVarOutId, id }, { M::ColVarOutPdu, "MPS" }, { M::ColVarOutLength, "8" },
                                                  { M::ColVarOutRefreshmentEnabled, "true" }, { M::ColVarOutRefreshmentPeriodPar, "0x0050" } });
                const QModelIndex rendering = addNode(m, out, M::DATA_RENDERING, { { M::ColObject, "R" } });
                for (int b = 0; b < MnemonicsPerOutput; ++b)
                    addNode(m, rendering, M::MNEMONIC, { { M::ColObject, QString("TAG_%1_%2").arg(id).arg(b) }, { M::ColMnemoType, "Bool" },
                                                         { M::ColMnemoStartBit, QString::number(b) }, { M::ColMnemoStopBit, QString::number(b) } });
                addNode(m, table, M::INSTRUCTION, { { M::ColInstructionType, "SEND_ID_DAT" }, { M::ColInstructionId, id } });
            }
            for (int i = 0; i < InputsPerStation; ++i) {
                const int producer = (address + 1) % stations;
                addNode(m, station, M::VARIABLE_IN, { { M::ColVarInId, M::idToStr(quint16(producer * OutputsPerStation + i)) },
                                                      { M::ColVarInPromptnessPeriodPar, "0x0050" } });
            }
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    M model;
    buildNetwork(model);
    QTemporaryDir dir;
    StationConfigurationExport exporter(&model);
    exporter.setPause(0);

    QElapsedTimer timer;
    timer.start();
    const QStringList files = exporter.generate(dir.path());
    const double exportS = timer.nsecsElapsed() / 1e9;
    qint64 bytes = 0;
    for (const QString& f : files)
        bytes += QFileInfo(dir.filePath(f)).size();
    std::printf("station export: %.1f files/s\n", files.size() / exportS);
    std::printf("station export: %.0f bytes/file\n", files.isEmpty() ? 0.0 : double(bytes) / files.size());

    timer.restart();
    int read = 0;
    for (const QString& f : files) {
        StationConfiguration c;
        read += StationConfiguration::load(dir.filePath(f), &c, nullptr) ? 1 : 0;
    }
    const double readS = timer.nsecsElapsed() / 1e9;
    std::printf("station read: %.1f files/s\n", read / readS);
    return read == files.size() && files.size() == Segments * StationsPerSegment ? 0 : 1;
}
