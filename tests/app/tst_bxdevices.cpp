// Arbitrator boards found by the detector and bound to stations, on the
// simulated boards of the board library.

#include "app/BX.h"
#include "control/DeviceTables.h"
#include "control/KivDevicesDetection.h"
#include "design/MainDTModel.h"
#include "VantorSimulator.h"
#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "tests/app/BoxAnswerer.h"

#include <QComboBox>
#include <QDir>
#include <QTreeView>
#include "control/MainCTModel.h"
#include <QLineEdit>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUndoStack>
#include <QtTest>

#include <sys/syscall.h>
#include <unistd.h>

#include <memory>

Q_DECLARE_METATYPE(VantorSimulator::Board)

namespace {

using Board = VantorSimulator::Board;

const QString kProject
    = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_1M.brxprj");

Board board(quint32 type, quint8 speed = 1, quint16 subsys = 0, quint32 number = 0)
{
    Board b;
    b.interfaceType = type;
    b.speedCode = speed;
    b.subsystemId = subsys;
    b.number = number;
    return b;
}

QStringList descriptions(const QList<TARVEXCONF>& devices)
{
    const DeviceTables tables;
    QStringList texts;
    for (const TARVEXCONF& d : devices)
        texts << tables.description(d);
    return texts;
}

int threadCount()
{
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

/// A detector running in its own thread, as the main window runs it.
struct RunningDetection {
    QMutex mutex;
    KivDevicesDetection detection { &mutex };
    QThread thread;
    QSignalSpy spy { &detection, &KivDevicesDetection::devicesListUpdated };

    explicit RunningDetection(int intervalMs)
    {
        detection.setUpdateInterval(intervalMs);
        detection.attachThread(thread);
        detection.moveToThread(&thread);
        thread.start();
    }
    ~RunningDetection()
    {
        detection.stopProcessing();
        thread.quit();
        thread.wait();
    }
    QStringList last() const { return descriptions(spy.last().first().value<QList<TARVEXCONF>>()); }
};

// Times the thread running `object` was woken, from the kernel's count of its waits.
long wakeUps(QObject* object)
{
    long tid = 0;
    QMetaObject::invokeMethod(object, [&tid] { tid = long(syscall(SYS_gettid)); }, Qt::BlockingQueuedConnection);
    QFile status(QStringLiteral("/proc/self/task/%1/status").arg(tid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(24).trimmed().toLong();
    }
    return -1;
}

} // namespace

class TstBXDevices : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void detection_data();
    void detection();
    void changesBetweenPasses();
    void idleDetectionSleeps();
    void boardThatCannotOpen();
    void binding_data();
    void binding();
    void ledColourDirect();
    void connectWithoutBoundStation();
    void connectAndDisconnect();

private:
    std::unique_ptr<BX> openWindow();
    QModelIndexList stations(BX& bx) const;

    QTemporaryDir m_settingsDir;
};

void TstBXDevices::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    // The window opens its store in the native format: keep that one here too.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
    qRegisterMetaType<QList<TARVEXCONF>>("QList<TARVEXCONF>");
}

void TstBXDevices::cleanup()
{
    VantorSimulator::reset();
}

// Between two listings the detector's thread waits for an event instead of waking
// every millisecond; stopping it still ends the thread at once.
void TstBXDevices::idleDetectionSleeps()
{
    auto run = std::make_unique<RunningDetection>(10000);
    QTRY_COMPARE(run->spy.count(), 1);
    const long before = wakeUps(&run->detection);
    QTest::qWait(500);
    const long woken = wakeUps(&run->detection) - before;
    QVERIFY2(woken >= 0 && woken < 20, qPrintable(QString::number(woken)));
    QElapsedTimer stopping;
    stopping.start();
    run.reset();
    QVERIFY(stopping.elapsed() < 1000);
}

void TstBXDevices::detection_data()
{
    QTest::addColumn<QVector<Board>>("boards");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("none") << QVector<Board> {} << QStringList {};
    QTest::newRow("one usb") << QVector<Board> { board(VANTOR_INTERFACE_USB, 1, 0, 0x12345) }
                             << QStringList { "0 - USB - 1 Mbits/s - 0x00012345" };
    QTest::newRow("many") << QVector<Board> { board(VANTOR_INTERFACE_USB, 3, 0, 0xA1),
                                              board(VANTOR_INTERFACE_PCI, 0, 0x9050, 0xB2),
                                              board(VANTOR_INTERFACE_PCI, 2, 0x7901, 0xB3),
                                              board(VANTOR_INTERFACE_PCI, 1, 0x1234, 0xB4),
                                              board(VANTOR_INTERFACE_OTHER, 1, 0, 0xC5) }
                          << QStringList { "0 - USB - 5 Mbits/s - 0x000000a1", "0 - PCI - 31.25 kbits/s - 0x000000b2",
                                           "1 - cPCI Optical - 2.5 Mbits/s - 0x000000b3",
                                           "2 - Unknown - 1 Mbits/s - 0x000000b4",
                                           "0 - Unknown - 1 Mbits/s - 0x000000c5" };
}

void TstBXDevices::detection()
{
    QFETCH(QVector<Board>, boards);
    QFETCH(QStringList, expected);
    VantorSimulator::setBoards(boards);
    RunningDetection run(20);
    // Boards present at start are published at once, even none.
    QTRY_COMPARE(run.spy.count(), 1);
    QCOMPARE(run.last(), expected);
    // Later passes with the same count publish nothing.
    QTest::qWait(100);
    QCOMPARE(run.spy.count(), 1);
}

void TstBXDevices::changesBetweenPasses()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB, 1, 0, 1), board(VANTOR_INTERFACE_USB, 1, 0, 2) });
    RunningDetection run(20);
    QTRY_COMPARE(run.spy.count(), 1);

    VantorSimulator::pullBoard(0);
    QTRY_COMPARE(run.spy.count(), 2);
    QCOMPARE(run.last(), QStringList { "1 - USB - 1 Mbits/s - 0x00000002" });
    VantorSimulator::plugBoard(0);
    QTRY_COMPARE(run.spy.count(), 3);
    QCOMPARE(run.last().size(), 2);

    // One board out and another in between two passes: same count, no new list...
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB, 1, 0, 1), board(VANTOR_INTERFACE_USB, 1, 0, 9) });
    QTest::qWait(150);
    QCOMPARE(run.spy.count(), 3);
    // ...until a rescan is forced.
    run.detection.setScanning(true);
    QTRY_COMPARE(run.spy.count(), 4);
    QCOMPARE(run.last().last(), QString("1 - USB - 1 Mbits/s - 0x00000009"));

    // Scanning off: boards come and go unseen.
    run.detection.setScanning(false);
    VantorSimulator::pullBoard(1);
    QTest::qWait(150);
    QCOMPARE(run.spy.count(), 4);
}

void TstBXDevices::boardThatCannotOpen()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB), board(VANTOR_INTERFACE_USB) });
    u32 err = 0;
    vantor_device_handle* second = vantor_device_open(VANTOR_INTERFACE_USB, 1, &err);
    QVERIFY(second);
    QCOMPARE(vantor_set_rgb_led(second, LED_YELLOW), VANTOR_OK);
    QCOMPARE(vantor_device_close(second), VANTOR_OK);
    vantor_device_handle* first = vantor_device_open(VANTOR_INTERFACE_USB, 0, &err);
    QVERIFY(first);
    QCOMPARE(vantor_set_rgb_led(first, LED_CYAN), VANTOR_OK);

    // The first board is held open elsewhere: listed, with colour 0.
    QMutex mutex;
    const QList<TARVEXCONF> devices = KivDevicesDetection::queryDevices(&mutex);
    vantor_device_close(first);
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).ledColor, quint32(LED_BLACK));
    QCOMPARE(devices.at(1).ledColor, quint32(LED_YELLOW));
}

std::unique_ptr<BX> TstBXDevices::openWindow()
{
    auto bx = std::make_unique<BX>();
    bx->loadFileProject(kProject);
    return bx;
}

QModelIndexList TstBXDevices::stations(BX& bx) const
{
    QModelIndexList list = bx.designModel()->getStationIndexes();
    std::sort(list.begin(), list.end(), stationLessThan);
    return list;
}

void TstBXDevices::binding_data()
{
    QTest::addColumn<QVector<Board>>("boards");
    QTest::addColumn<QStringList>("bound"); // per station, in address order

    const QString none = MainDTModel::BindADevice;
    QTest::newRow("a board each") << QVector<Board> { board(VANTOR_INTERFACE_PCI, 1, 0x5801, 7),
                                                      board(VANTOR_INTERFACE_USB, 1, 0, 8) }
                                  << QStringList { "0 - mPCIe - 1 Mbits/s - 0x00000007",
                                                   "0 - USB - 1 Mbits/s - 0x00000008" };
    QTest::newRow("other speed never offered") << QVector<Board> { board(VANTOR_INTERFACE_USB, 2, 0, 1),
                                                                   board(VANTOR_INTERFACE_USB, 1, 0, 2) }
                                               << QStringList { "1 - USB - 1 Mbits/s - 0x00000002", none };
    QTest::newRow("more stations than boards") << QVector<Board> { board(VANTOR_INTERFACE_USB, 1, 0, 5) }
                                               << QStringList { "0 - USB - 1 Mbits/s - 0x00000005", none };
    QTest::newRow("no board") << QVector<Board> {} << QStringList { none, none };
}

void TstBXDevices::binding()
{
    QFETCH(QVector<Board>, boards);
    QFETCH(QStringList, bound);
    VantorSimulator::setBoards(boards);
    std::unique_ptr<BX> bx = openWindow();
    MainDTModel* design = bx->designModel();
    const QModelIndexList list = stations(*bx);
    QCOMPARE(list.size(), bound.size());
    QCOMPARE(bx->updateTarvexsList().size(), boards.size());

    // A station bound by hand takes its board out of the offer.
    if (!boards.isEmpty() && boards.first().speedCode == 1) {
        design->setDataWithoutControl(design->cell(list.last(), MainDTModel::ColFipDevice), bound.first());
        QCOMPARE(bx->getTarvexNotAttachedList().size(), boards.size() - 1);
        QCOMPARE(bx->getTarvexAttachedList(), QModelIndexList { list.last() });
    }

    bx->onAutoBindDevicesClicked();
    int attached = 0;
    for (int i = 0; i < list.size(); ++i) {
        QCOMPARE(design->text(list.at(i), MainDTModel::ColFipDevice), bound.at(i));
        const bool isBound = bound.at(i) != MainDTModel::BindADevice;
        QCOMPARE(design->text(list.at(i), MainDTModel::ColDevicePresence), QString(isBound ? "true" : "false"));
        attached += isBound;
    }
    QCOMPARE(bx->getTarvexAttachedList().size(), attached);

    bx->onUnbindAllDevicesClicked();
    QVERIFY(bx->getTarvexAttachedList().isEmpty());
    for (const QModelIndex& s : list)
        QCOMPARE(design->text(s, MainDTModel::ColFipDevice), MainDTModel::BindADevice);
    design->undoStack()->setClean();
}

void TstBXDevices::ledColourDirect()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB), board(VANTOR_INTERFACE_PCI) });
    std::unique_ptr<BX> bx = openWindow();
    MainDTModel* design = bx->designModel();
    QTRY_COMPARE(bx->getTarvexList().size(), 2); // the detector's first pass is over
    bx->onAutoBindDevicesClicked();
    const QModelIndexList list = stations(*bx);

    QVERIFY(bx->setBoardRgbColor(list.at(0), LED_MAGENTA));
    QVERIFY(bx->setBoardRgbColor(list.at(1), LED_GREEN));
    QCOMPARE(design->text(list.at(0), MainDTModel::ColDeviceColor), QString(" Magenta"));
    QCOMPARE(design->text(list.at(1), MainDTModel::ColDeviceColor), QString(" Green"));
    QCOMPARE(VantorSimulator::ledColour(0), quint32(LED_MAGENTA));
    QCOMPARE(VantorSimulator::ledColour(1), quint32(LED_GREEN));
    QVERIFY(!VantorSimulator::isOpen(0)); // closed again

    // The station panel's colour list does the same for the selected station.
    auto* tree = bx->findChild<QTreeView*>("mainCTView");
    tree->setCurrentIndex(bx->controlModel()->mapFromSource(list.at(1)));
    auto* colours = bx->findChild<QComboBox*>("rgbColorComboBox");
    colours->setCurrentIndex(colours->findText(" Red"));
    emit colours->activated(colours->currentIndex());
    QCOMPARE(VantorSimulator::ledColour(1), quint32(LED_RED));
    QCOMPARE(design->text(list.at(1), MainDTModel::ColDeviceColor), QString(" Red"));

    // A board that went away keeps the colour last shown.
    VantorSimulator::pullBoard(0);
    QVERIFY(!bx->setBoardRgbColor(list.at(0), LED_RED));
    QCOMPARE(design->text(list.at(0), MainDTModel::ColDeviceColor), QString(" Magenta"));
    design->undoStack()->setClean();
}

void TstBXDevices::connectWithoutBoundStation()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB) });
    std::unique_ptr<BX> bx = openWindow();
    BoxAnswerer answers({ QMessageBox::Ok });
    bx->onCoDecoNetworkButtonClicked();
    QCOMPARE(answers.titles, QStringList { "Connection to Network" });
    QCOMPARE(answers.texts, QStringList { "No station is linked to a device." });
    QVERIFY(!bx->isNetworkConnected());
    QVERIFY(!bx->arbitratorWorkers());
    bx->designModel()->undoStack()->setClean();
}

void TstBXDevices::connectAndDisconnect()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB), board(VANTOR_INTERFACE_USB) });
    QTemporaryDir work;
    std::unique_ptr<BX> bx = openWindow();
    MainDTModel* design = bx->designModel();
    bx->findChild<QLineEdit*>("savePath")->setText(work.path());
    bx->findChild<QLineEdit*>("fileReceptionDir")->setText(work.filePath("received"));
    QTRY_COMPARE(bx->getTarvexList().size(), 2);
    bx->onAutoBindDevicesClicked();
    const QModelIndexList list = stations(*bx);
    const int threadsBefore = threadCount();

    for (int cycle = 0; cycle < 2; ++cycle) {
        bx->onCoDecoNetworkButtonClicked();
        QVERIFY(bx->isNetworkConnected());
        QVERIFY(bx->arbitratorWorkers());
        QCOMPARE(bx->arbitratorWorkers()->workers().size(), 2);
        for (const QModelIndex& s : list)
            QVERIFY(QFile::exists(work.filePath("Station" + design->text(s, MainDTModel::ColStationAddress) + ".xml")));
        // Every worker passed the barrier and runs; the boards report their temperature.
        for (FipBusArbitratorDevice* worker : bx->arbitratorWorkers()->workers())
            QTRY_VERIFY(worker->isProcessing());
        for (const QModelIndex& s : list)
            QTRY_VERIFY(design->text(s, MainDTModel::ColDeviceTemperature).endsWith(QString::fromUtf8(" °C")));
        QCOMPARE(bx->devicesDetection()->isScanning(), false);

        bx->onCoDecoNetworkButtonClicked();
        QVERIFY(!bx->isNetworkConnected());
        QVERIFY(!bx->arbitratorWorkers());
        QVERIFY(!VantorSimulator::isOpen(0));
        QVERIFY(!VantorSimulator::isOpen(1));
        QCOMPARE(bx->devicesDetection()->isScanning(), true);
        QTRY_COMPARE(threadCount(), threadsBefore); // no worker or library thread left behind
    }
    design->undoStack()->setClean();
}

QTEST_MAIN(TstBXDevices)
#include "tst_bxdevices.moc"
