// Simulated arbitrator boards of a 256-station network, one figure per line:
//   vantor bring-up     open, init (station file) and start of every board
//   vantor poll         variable reads and writes per second, one thread per group of boards
//   vantor published    scans and values read per second by a capture thread meanwhile
//   vantor frames       bus frames per second of processor time the capture side builds from the scan
//   padded frames       the same for a table whose waits are filled with padding
//   vantor shutdown     stop of the arbitrator and network, close of every board
#include "FipSimulatedNetwork.h"
#include "VantorSimulator.h"
#include "vantor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr int Stations = 256;
constexpr int Threads = 4;
constexpr int PollMs = 2000;

// Station i produces 0x1000 + i and consumes its neighbour's; station 0 scans them all.
QByteArray stationFile(int i)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<StationConfiguration version=\"1.1\">\n";
    xml += " <SubscriberName>S" + QByteArray::number(i) + "</SubscriberName>\n";
    xml += " <SubscriberNumber>0x" + QByteArray::number(i, 16) + "</SubscriberNumber>\n";
    xml += " <Speed>0x03</Speed>\n <TSlot>0x00</TSlot>\n";
    if (i == 0) {
        xml += " <BusArbiter enabled=\"true\">\n  <BAScanTable number=\"0\">\n";
        for (int s = 0; s < Stations; ++s)
            xml += "   <SEND_ID_DAT>0x" + QByteArray::number(0x1000 + s, 16) + "</SEND_ID_DAT>\n";
        xml += "   <NEXT_MACRO/>\n  </BAScanTable>\n </BusArbiter>\n";
    }
    auto variable = [&](int id, int type) {
        xml += "  <Variable><Name>v</Name><ID>0x" + QByteArray::number(id, 16)
            + "</ID><Length>0x10</Length><Type>0x0" + QByteArray::number(type) + "</Type></Variable>\n";
    };
    xml += " <Variables>\n";
    variable(0x1000 + i, 0);
    variable(0x1000 + (i + 1) % Stations, 1);
    xml += " </Variables>\n</StationConfiguration>\n";
    return xml;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QVector<QByteArray> paths;
    for (int i = 0; i < Stations; ++i) {
        QFile f(dir.filePath(QStringLiteral("Station%1.xml").arg(i)));
        if (!f.open(QIODevice::WriteOnly) || f.write(stationFile(i)) < 0)
            return 1;
        paths.append(f.fileName().toUtf8());
    }
    QVector<VantorSimulator::Board> boards(Stations);
    for (VantorSimulator::Board& b : boards)
        b.speedCode = 3;
    VantorSimulator::setBoards(boards);

    QElapsedTimer t;
    t.start();
    std::vector<vantor_device_handle*> handles;
    for (int i = 0; i < Stations; ++i) {
        u32 err = 0;
        vantor_device_handle* h = vantor_device_open(VANTOR_INTERFACE_USB, u8(i), &err);
        if (!h || vantor_init_network(h, 0, paths[i].constData(), nullptr) != VANTOR_OK
            || vantor_start_network(h) != VANTOR_OK)
            return 2;
        handles.push_back(h);
    }
    if (vantor_start_ba(handles[0], 1) != VANTOR_OK)
        return 3;
    std::printf("vantor bring-up: %.1f ms for %d boards\n", t.nsecsElapsed() / 1e6, Stations);

    // Each thread plays the workers of its group: write the produced variable, read the consumed one.
    std::atomic<long> calls { 0 };
    std::atomic<bool> failed { false };
    std::vector<std::thread> threads;
    for (int k = 0; k < Threads; ++k) {
        threads.emplace_back([&, k] {
            u8 out[VANTOR_VAR_WRITE_SIZE] = {};
            u8 in[VANTOR_VAR_READ_SIZE];
            u8 p, r;
            long n = 0;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < PollMs) {
                for (int i = k; i < Stations; i += Threads) {
                    out[0] = u8(n);
                    const u32 w = vantor_write_var_by_id(handles[i], u16(0x1000 + i), out);
                    const u32 rd = vantor_read_var_by_id(handles[i], u16(0x1000 + (i + 1) % Stations), in, &p, &r);
                    if (w != VANTOR_OK || (rd != VANTOR_OK && rd != VANTOR_VAR_NOT_FRESH))
                        failed = true;
                    n += 2;
                }
            }
            calls += n;
        });
    }
    // A capture thread follows the published network as the simulated card does.
    std::atomic<long> published { 0 };
    threads.emplace_back([&] {
        QElapsedTimer clock;
        clock.start();
        long n = 0;
        FipSimulatedNetwork::Scan scan;
        QByteArray value;
        while (clock.elapsed() < PollMs) {
            if (const std::shared_ptr<FipSimulatedNetwork> net = FipSimulatedNetwork::current()) {
                quint64 revision = 0;
                if (net->scan(&scan, &revision)) {
                    for (const FipTrafficGenerator::Variable& v : qAsConst(scan.variables))
                        n += net->producedValue(v.id, &value) ? 1 : 0;
                }
            }
        }
        published += n;
    });
    for (std::thread& th : threads)
        th.join();
    if (failed)
        return 4;
    std::printf("vantor published: %.0f values/s read by a capture thread\n", published * 1000.0 / PollMs);
    std::printf("vantor poll: %.0f calls/s over %d threads while scanning\n", calls * 1000.0 / PollMs, Threads);
    std::printf("vantor scan: %llu macrocycles of %d variables in %d ms\n",
                static_cast<unsigned long long>(VantorSimulator::macrocycles(QStringLiteral("net"))), Stations,
                PollMs);

    auto framesPerSecond = [](FipTrafficGenerator& bus) {
        constexpr int Frames = 200000;
        QElapsedTimer clock;
        clock.start();
        quint64 bytes = 0;
        for (int i = 0; i < Frames; ++i)
            bytes += quint64(bus.next().bytes.size());
        return bytes ? Frames * 1e9 / double(clock.nsecsElapsed()) : 0.0;
    };
    FipTrafficGenerator following(3);
    std::printf("vantor frames: %.0f frames/s built from the scan of %d variables\n", framesPerSecond(following),
                Stations);
    FipTrafficGenerator padded(3);
    padded.setFollowNetwork(false);
    padded.setPaddingId(FipTrafficGenerator::kDefaultPaddingId);
    const double paddedRate = framesPerSecond(padded);
    std::printf("padded frames: %.0f frames/s, %.0f%% of them padding\n", paddedRate,
                100.0 * double(padded.paddingFramesProduced()) / double(padded.framesProduced()));

    t.restart();
    vantor_stop_ba(handles[0]);
    for (vantor_device_handle* h : handles) {
        vantor_stop_network(h);
        vantor_device_close(h);
    }
    std::printf("vantor shutdown: %.1f ms for %d boards\n", t.nsecsElapsed() / 1e6, Stations);
    return 0;
}
