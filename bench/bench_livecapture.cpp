// Live capture in the real window against the capture server over loopback TCP,
// at the densest traffic of a 5 Mbit/s bus (80,000 frames per second), with
// every frame traced into the frame table: how late the GUI thread's event loop
// gets and how many frames go missing. One figure per line. BENCH_LIVECAPTURE_PROJECT
// names a project to open first.

#include "analysis/AnalysisContext.h"
#include "analysis/MainATModel.h"
#include "app/BX.h"
#include "capture/files/CaptureSession.h"

#include "OstrakServer.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void run(const QString& flow, int frames, const QString& folder)
{
    OstrakServer::Options options;
    QString error;
    if (!OstrakServer::parseArguments({ "ostrak-server", "--tcp", "0", "--speed", "3", "--flow", flow, "--rate",
                                        "80000", "--frames", QString::number(frames), "--sessions", "1", "--end",
                                        "idle" },
                                      &options, &error)) {
        std::printf("live capture %s: %s\n", qPrintable(flow), qPrintable(error));
        return;
    }
    OstrakServer server(options);
    if (!server.start())
        return;

    BX bx;
    bx.show();
    // With a project open the design check runs on every fourth statistics tick too.
    if (qEnvironmentVariableIsSet("BENCH_LIVECAPTURE_PROJECT"))
        bx.loadFileProject(qEnvironmentVariable("BENCH_LIVECAPTURE_PROJECT"));
    bx.findChild<QRadioButton*>("serverLocation")->setChecked(true);
    bx.findChild<QRadioButton*>("tcpRemote")->setChecked(true);
    bx.findChild<QLineEdit*>("osIPAddress")->setText("127.0.0.1");
    bx.findChild<QSpinBox*>("osPortNumber")->setValue(server.tcpPort());
    bx.findChild<QRadioButton*>("backupYes")->setChecked(true);
    bx.findChild<QComboBox*>("backupFileType")->setCurrentIndex(1);
    // A folder per run: the second would otherwise ask before replacing the first's files.
    const QString runFolder = folder + QLatin1Char('/') + flow;
    QDir().mkpath(runFolder);
    bx.findChild<QLineEdit*>("backupRepository")->setText(runFolder);
    bx.findChild<QRadioButton*>("paddingVisibleYes")->setChecked(true);
    bx.findChild<QSlider*>("depthAnalysisSlider")->setValue(2);
    // A user starts on a window that has finished opening: its chart pages loaded.
    QElapsedTimer opening;
    opening.start();
    while (opening.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    // A 10 ms probe on the GUI thread: how late it fires is how late any user input would be handled.
    std::vector<qint64> lateness;
    QElapsedTimer clock;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    qint64 last = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        lateness.push_back(std::max<qint64>(0, now - last - 10));
        last = now;
    });

    QElapsedTimer click;
    click.start();
    bx.findChild<QPushButton*>("startStopCapturingButton")->click();
    const qint64 clickMs = click.elapsed();
    clock.start();
    probe.start(10);
    const FipCaptureCounters& counters = bx.captureSession()->decoder().counters();
    while (counters.frames < quint64(frames) && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const qint64 elapsed = clock.elapsed();
    // Two more statistics ticks hand the last rows over.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1200)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    probe.stop();
    bx.findChild<QPushButton*>("startStopCapturingButton")->click();
    while (bx.isCapturing() && settle.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    std::sort(lateness.begin(), lateness.end());
    const qint64 worst = lateness.empty() ? 0 : lateness.back();
    const qint64 p99 = lateness.empty() ? 0 : lateness[lateness.size() * 99 / 100];
    const char* name = qPrintable(flow);
    std::printf("live capture %s: %.0f frames/s received\n", name, counters.frames * 1000.0 / double(std::max<qint64>(1, elapsed)));
    std::printf("live capture %s: GUI event loop latency worst %lld ms\n", name, static_cast<long long>(worst));
    std::printf("live capture %s: GUI event loop latency 99th percentile %lld ms\n", name, static_cast<long long>(p99));
    std::printf("live capture %s: Start FIP Catch held the GUI thread %lld ms\n", name, static_cast<long long>(clickMs));
    std::printf("live capture %s: frames lost %lld of %d\n", name,
                static_cast<long long>(frames) - static_cast<long long>(counters.frames), frames);
    std::printf("live capture %s: packets lost %llu\n", name, static_cast<unsigned long long>(counters.lostPackets));
    std::printf("live capture %s: frame table rows %d\n", name, bx.frameTableModel()->rowCount());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir settings;
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    QTemporaryDir folder;
    const int frames = argc > 1 ? QByteArray(argv[1]).toInt() : 800000; // ten seconds of the densest bus
    // A second argument runs one flow only ("event" or "osp").
    const QString only = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString();
    for (const QString& flow : { QStringLiteral("event"), QStringLiteral("osp") })
        if (only.isEmpty() || only == flow)
            run(flow, frames, folder.path());
    return 0;
}
