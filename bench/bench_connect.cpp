// Connect and Disconnect of an example project on simulated boards, again and
// again from the real window: time per cycle, and threads and resident memory
// before and after, so a leak of either shows as growth between runs.

#include "VantorSimulator.h"
#include "app/BX.h"
#include "design/MainDTModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUndoStack>

#include <cstdio>

namespace {

int threads()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

long rssKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.filePath("settings"));
    const int cycles = argc > 1 ? QByteArray(argv[1]).toInt() : 100;

    VantorSimulator::Board usb;
    VantorSimulator::setBoards({ usb, usb });
    BX bx;
    bx.loadFileProject(QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_1M.brxprj"));
    bx.findChild<QLineEdit*>("savePath")->setText(dir.filePath("stations"));
    bx.findChild<QLineEdit*>("fileReceptionDir")->setText(dir.filePath("received"));
    while (bx.getTarvexList().size() < 2)
        app.processEvents(QEventLoop::AllEvents, 10);
    bx.onAutoBindDevicesClicked();

    // One cycle first, so what is made once (stylesheets, fonts, library state) is not counted.
    bx.onCoDecoNetworkButtonClicked();
    bx.onCoDecoNetworkButtonClicked();
    const int threadsBefore = threads();
    const long rssBefore = rssKiB();
    QElapsedTimer timer;
    qint64 worstMs = 0;
    timer.start();
    for (int i = 0; i < cycles; ++i) {
        QElapsedTimer one;
        one.start();
        bx.onCoDecoNetworkButtonClicked();
        if (!bx.isNetworkConnected()) {
            std::printf("connect cycle %d: not connected\n", i);
            return 1;
        }
        bx.onCoDecoNetworkButtonClicked();
        worstMs = std::max(worstMs, one.elapsed());
    }
    const qint64 totalMs = timer.elapsed();
    app.processEvents();
    std::printf("connect/disconnect cycles: %d\n", cycles);
    std::printf("connect/disconnect cycle mean: %.1f ms\n", double(totalMs) / cycles);
    std::printf("connect/disconnect cycle worst: %lld ms\n", static_cast<long long>(worstMs));
    std::printf("threads before/after: %d/%d\n", threadsBefore, threads());
    std::printf("resident memory before/after: %ld/%ld KiB\n", rssBefore, rssKiB());
    bx.designModel()->undoStack()->setClean();
    return 0;
}
