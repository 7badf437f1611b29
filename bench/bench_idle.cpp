// CPU the main window takes while it sits idle, over 10 s, as a share of one core
// (the detection thread, the window's timers and everything else in the process).

#include "app/BX.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 10;

    BX bx;
    bx.show();
    // Start-up work (first detection pass, first paints) is not idle time.
    QTimer::singleShot(2000, &app, &QApplication::quit);
    app.exec();

    const double cpu = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    app.exec();
    const double share = (cpuSeconds() - cpu) / (double(wall.nsecsElapsed()) / 1e9);
    std::printf("idle window CPU over %d s: %.2f %% of a core\n", seconds, share * 100.0);
    return 0;
}
