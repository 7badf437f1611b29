// Start and stop of 256 arbitrator workers, one per station, on simulated USB
// boards: open, initialise and start under the shared mutex, the start barrier,
// then the stop of every loop and thread.

#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "design/MainDTModel.h"
#include "design/StationConfigurationExport.h"

#include "VantorSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>

namespace {
void quiet(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quiet);
    constexpr int Stations = ArbitratorWorkers::MaxWorkers;

    MainDTModel model;
    model.dropItem(QStringLiteral("Network"), QModelIndex());
    // 32 stations fill a segment.
    for (int i = 0; i < Stations / 32; ++i)
        model.dropItem(QStringLiteral("Segment"), model.getNetworkIdx());
    for (const QModelIndex& segment : model.getClassTypeIndexes(MainDTModel::SEGMENT)) {
        for (int i = 0; i < 32; ++i)
            model.dropItem(QStringLiteral("Station"), segment);
    }
    const QModelIndexList stations = model.getStationIndexes();
    for (const QModelIndex& station : stations)
        model.dropItem(QStringLiteral("Variable"), station);
    if (stations.size() != Stations) {
        std::fprintf(stderr, "design has %d stations\n", int(stations.size()));
        return 1;
    }

    QTemporaryDir dir;
    StationConfigurationExport exporter(&model);
    exporter.setPause(0);
    exporter.generate(dir.path());
    for (int i = 0; i < Stations; ++i) {
        const QModelIndex s = stations[i];
        model.setDataWithoutControl(model.cell(s, MainDTModel::ColFilePath),
                                    dir.path() + '/' + StationConfigurationExport::fileName(model, s));
        model.setDataWithoutControl(model.cell(s, MainDTModel::ColDeviceType), QStringLiteral("USB"));
        model.setDataWithoutControl(model.cell(s, MainDTModel::ColDeviceIndex), QString::number(i));
    }
    VantorSimulator::setBoards(QVector<VantorSimulator::Board>(Stations));

    QMutex mutex;
    QWaitCondition barrier;
    ArbitratorWorkers workers(&model, &mutex, &barrier);
    int running = 0;
    QObject::connect(&workers, &ArbitratorWorkers::workerCreated, &app, [&](FipBusArbitratorDevice* w) {
        QObject::connect(w, &FipBusArbitratorDevice::processingStarted, &app, [&] { ++running; });
    });

    QElapsedTimer timer;
    timer.start();
    const int started = workers.start(stations, dir.filePath(QStringLiteral("received")));
    while (running < started && timer.elapsed() < 60000) {
        QThread::msleep(5);
        QCoreApplication::processEvents();
    }
    std::printf("arbitrators start %d: %lld ms\n", started, timer.elapsed());
    std::fflush(stdout);
    if (running != started)
        std::fprintf(stderr, "%d of %d workers running\n", running, started);

    QThread::msleep(500);
    QCoreApplication::processEvents();
    timer.restart();
    workers.stop();
    std::printf("arbitrators stop %d: %lld ms\n", started, timer.elapsed());
    return running == started ? 0 : 1;
}
