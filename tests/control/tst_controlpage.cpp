// The control page: arbitrator workers on simulated boards (example designs
// exported to real station files, real threads, the real start barrier), and its
// models and grids: the control tree over a loaded example
// project while boards are bound and unbound; the byte grids with filling, copy,
// paste and the byte editor; mnemonic values cut from known bytes and written
// back into them, and the mnemonic table.

#include "control/ArbitratorWorkers.h"
#include "control/FipAnalyze.h"
#include "control/FipBusArbitratorDevice.h"
#include "control/HexaTabDelegate.h"
#include "control/HexaTable.h"
#include "control/MainCTModel.h"
#include "control/MnemoCTModel.h"
#include "control/MnemoCodec.h"
#include "control/TableWidgetWithPaste.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"
#include "design/StationConfigurationExport.h"
#include "design/TreeItem.h"

#include "VantorSimulator.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QUndoStack>
#include <QValidator>
#include <QWaitCondition>
#include <QtTest>

#include <memory>
#include <thread>

using M = MainDTModel;

namespace {
QMutex logMutex;
QStringList logLines;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
    if (qEnvironmentVariableIsSet("BX_TEST_LOG"))
        fprintf(stderr, "%lld %s\n", QDateTime::currentMSecsSinceEpoch() % 100000, qPrintable(text));
    QMutexLocker lock(&logMutex);
    logLines.append(text);
}

int logCount(const QString& part)
{
    QMutexLocker lock(&logMutex);
    int n = 0;
    for (const QString& line : qAsConst(logLines))
        n += line.contains(part) ? 1 : 0;
    return n;
}

/// An example design on simulated USB boards (station i on board i), its files exported.
struct Network {
    M model;
    std::unique_ptr<QAbstractItemModelTester> tester; ///< from the loaded design on
    QTemporaryDir dir;
    QMutex mutex;
    QWaitCondition barrier;
    ArbitratorWorkers workers { &model, &mutex, &barrier };
    QModelIndexList stations;
    int started = 0, stopped = 0;
    QList<QStringList> reports; ///< title, text

    explicit Network(const QString& example)
    {
        QObject::connect(&workers, &ArbitratorWorkers::workerCreated, &model, [this](FipBusArbitratorDevice* w) {
            QObject::connect(w, &FipBusArbitratorDevice::processingStarted, &model, [this] { ++started; });
            QObject::connect(w, &FipBusArbitratorDevice::processingStopped, &model, [this] { ++stopped; });
            QObject::connect(w, &FipBusArbitratorDevice::reportMessage, &model,
                             [this](const QString& title, const QString& text) { reports.append({ title, text }); });
        });
        BrxprjFile file(&model);
        if (!file.load(QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/") + example))
            qFatal("example %s not loaded", qPrintable(example));
        stations = model.getStationIndexes();
        QVector<VantorSimulator::Board> boards(stations.size());
        VantorSimulator::setBoards(boards);
        for (int i = 0; i < stations.size(); ++i) {
            set(stations[i], M::ColBaPresence, model.hasArbiter(stations[i]) ? "true" : "false");
            set(stations[i], M::ColDeviceType, "USB");
            set(stations[i], M::ColDeviceIndex, QString::number(i));
            set(stations[i], M::ColBaStatusCode, "0x0000");
        }
        tester.reset(new QAbstractItemModelTester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal));
    }
    ~Network()
    {
        workers.stop();
        VantorSimulator::reset();
    }
    void set(const QModelIndex& row, int column, const QString& value)
    {
        model.setDataWithoutControl(model.cell(row, column), value);
    }
    QString get(const QModelIndex& row, int column) const { return model.text(row, column); }
    QModelIndex variable(int station, M::ClassT kind, quint16 id) const
    {
        for (const QModelIndex& v : model.getClassTypeIndexes(kind, stations[station])) {
            if (model.getOutId(v) == id)
                return v;
        }
        return QModelIndex();
    }
    void exportFiles()
    {
        StationConfigurationExport exporter(&model);
        exporter.setPause(0);
        exporter.generate(dir.path());
        for (const QModelIndex& s : qAsConst(stations))
            set(s, M::ColFilePath, dir.path() + '/' + StationConfigurationExport::fileName(model, s));
    }
    int start() { return workers.start(stations, dir.filePath(QStringLiteral("received"))); }
    /// Exports the station files and starts one worker per station.
    int run()
    {
        exportFiles();
        return start();
    }
    /// "0:0x0101 to 0:0x0100" made a plain message, received by the field unit's
    /// consumer of 0x0100; then both stations run.
    bool runPlainMessage(QModelIndex* sent, QModelIndex* received)
    {
        *sent = model.getClassTypeIndexes(M::MESSAGE_OUT, stations[0]).value(0);
        const QModelIndex consumer = variable(1, M::VARIABLE_IN, 0x0100);
        if (!model.setData(model.cell(*sent, M::ColMsgFileTransferEnabled), "false")
            || !model.setData(model.cell(consumer, M::ColVarMessageReceptionEnabled), "true"))
            return false;
        *received = model.getClassTypeIndexes(M::MESSAGE_IN, consumer).value(0);
        return received->isValid() && run() == 2;
    }
    /// The arbitrator sends the message with `data`, as the control page's Send does.
    void send(const QModelIndex& sent, const QString& data)
    {
        set(sent, M::ColData, data);
        const QModelIndex arbitrator = stations[0];
        command([=](FipBusArbitratorDevice* w) { w->onSendMsgCmdClicked(arbitrator, sent); });
    }
    FipBusArbitratorDevice* worker(int i) const { return workers.workers().value(i); }
    template <typename F>
    void command(F&& f) // as the main window does: every worker gets it, queued
    {
        for (FipBusArbitratorDevice* w : workers.workers())
            QMetaObject::invokeMethod(w, [w, f] { f(w); }, Qt::QueuedConnection);
    }
};


const QString kProject = QStringLiteral(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/file_transfer_1M.brxprj");

QString board(int index) { return QString("%1 - USB - 1 Mbits/s - 0x%2").arg(index).arg(index + 1, 8, 16, QChar('0')); }

/// Every row the proxy shows, as "kind:name", depth first.
void collect(const QAbstractItemModel& model, const QModelIndex& parent, QStringList* rows)
{
    for (int row = 0; row < model.rowCount(parent); ++row) {
        const QModelIndex name = model.index(row, MainDTModel::ColObject, parent);
        *rows << model.index(row, MainDTModel::ColClass, parent).data().toString() + ":" + name.data().toString();
        collect(model, name, rows);
    }
}

using Cells = QMap<int, QString>; // byte position -> text

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

MnemoField field(const QString& type, bool big, int start, int stop)
{
    MnemoField f;
    f.type = MnemoField::typeOf(type);
    f.bigEndian = big;
    f.startBit = start;
    f.stopBit = stop;
    return f;
}

} // namespace

enum Command { Aperiodic, AperiodicFailing, ChangeMacrocycleTwice, Continue, LedAndStart, Medium, AbortIdle };

class TestControlPage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_testLog = qInstallMessageHandler(captureLog); }
    void cleanupTestCase()
    {
        m_commandNet.reset();
        qInstallMessageHandler(m_testLog); // the test log's own handler, for its closing lines
    }
    void init()
    {
        const QByteArray test = QTest::currentTestFunction();
        if (test != "commands" && test != "mediumCounters" && test != "eventLogs")
            m_commandNet.reset(); // its boards are about to be replaced
        QMutexLocker lock(&logMutex);
        logLines.clear();
    }

    void commands_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("target");
        QTest::addColumn<QString>("expected"); // the board calls, in order
        QTest::newRow("aperiodic list in order") << int(Aperiodic) << 1
            << "vantor_send_aper_by_id(256,1) vantor_send_aper_by_id(512,1) vantor_send_aper_by_id(257,1)";
        QTest::newRow("aperiodic list emptied after failures") << int(AperiodicFailing) << 0
            << "vantor_send_aper_by_id(256,2) vantor_send_aper_by_id(512,2) vantor_send_aper_by_id(257,2)";
        QTest::newRow("macrocycle 2 then 1") << int(ChangeMacrocycleTwice) << 0
                                             << "vantor_change_macrocycle(2) vantor_change_macrocycle(1)";
        QTest::newRow("continue makes no call") << int(Continue) << 0 << "";
        QTest::newRow("LED and start need BA presence") << int(LedAndStart) << 1 << "";
        QTest::newRow("medium command") << int(Medium) << 1 << "vantor_set_medium_cmd(32)";
        QTest::newRow("abort of a file not in emission") << int(AbortIdle) << 0 << "";
    }

    void commands()
    {
        QFETCH(int, command);
        QFETCH(int, target);
        QFETCH(QString, expected);
        Network& net = running();
        QTRY_COMPARE(net.started, 2);
        const QStringList before[2] = { VantorSimulator::calls(0), VantorSimulator::calls(1) };
        const QModelIndex station = net.stations[target];
        const QModelIndex message = net.model.getClassTypeIndexes(M::MESSAGE_OUT, station).value(0);

        for (int round = 0; round < (command == ChangeMacrocycleTwice ? 2 : 1); ++round) {
            net.command([=](FipBusArbitratorDevice* w) {
                switch (command) {
                case Aperiodic:
                case AperiodicFailing:
                    w->onSendAperiodicListCmdClicked(station, { 0x0100, 0x0200, 0x0101 }, command == Aperiodic ? 1 : 2);
                    break;
                case ChangeMacrocycleTwice: w->onBaCmdClicked(station, 2); break;
                case Continue: w->onBaCmdClicked(station, 1); break;
                case LedAndStart:
                    w->onRgbColorCmdChanged(station, LED_RED);
                    w->onBaCmdClicked(station, 0);
                    break;
                case Medium: w->onSendMediumCmdClicked(station, 0x20); break;
                case AbortIdle: w->onAbortFileCmdClicked(station, message); break;
                }
            });
            QTest::qWait(150);
        }
        QTest::qWait(200);
        for (int i = 0; i < 2; ++i) {
            const QStringList now = VantorSimulator::calls(i);
            QVERIFY(now.size() >= before[i].size());
            QCOMPARE(now.mid(before[i].size()).join(' '), i == target ? expected : QString());
        }
        if (command == Continue)
            QCOMPARE(logCount("baContinueCmdToTreat has been treated"), 1);
    }

    void mediumCounters_data()
    {
        QTest::addColumn<int>("counter");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("second");
        QTest::addColumn<QString>("total");
        QTest::newRow("wrap counts 65535") << 2 << 65530 << 5 << "65540";
        QTest::newRow("rise is no wrap") << 3 << 5 << 65530 << "65530";
        QTest::newRow("last counter wraps") << 6 << 100 << 99 << "65634";
    }

    void mediumCounters()
    {
        QFETCH(int, counter);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(QString, total);
        Network& net = running();
        QTRY_COMPARE(net.started, 2);
        const QModelIndex field = net.stations[1];
        const int column = M::ColCh1NoError + counter;
        QVERIFY(VantorSimulator::setMediumCounter(1, counter, quint16(first)));
        QTRY_COMPARE(net.get(field, column), QString::number(first));
        QVERIFY(VantorSimulator::setMediumCounter(1, counter, quint16(second)));
        QTRY_COMPARE(net.get(field, column), total);
    }

    void eventLogs_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("param");
        QTest::addColumn<QString>("line");
        QTest::newRow("suspend") << 0x5A3 << 0x1234 << "Field unit - EVENT - BA_SUSPEND 163 - BA Address Program: 1234";
        QTest::newRow("idle") << 0x408 << 0 << "Field unit - EVENT - BA_IDLE";
        QTest::newRow("unknown") << 0x123 << 0x7 << "Field unit - EVENT - UNKNOWN - Event Code: 123 - Event Parameter: 7";
    }

    void eventLogs()
    {
        QFETCH(int, code);
        QFETCH(int, param);
        QFETCH(QString, line);
        Network& net = running();
        QTRY_COMPARE(net.started, 2);
        QVERIFY(VantorSimulator::postEvent(1, quint16(code), quint16(param)));
        QTRY_COMPARE(logCount(QStringLiteral("[BRANTIX] ") + line), 1);
    }

    void unchangedMediumNotRewritten()
    {
        QMap<int, int> writes; // outlives the network, whose last writes arrive as it stops
        Network net(QStringLiteral("2sta_worldfip_1M.brxprj"));
        net.run();
        const QModelIndex field = net.stations[1];
        QTRY_COMPARE(net.get(field, M::ColCh1Active), QStringLiteral("true"));
        QVERIFY(VantorSimulator::setTemperature(1, 41.5f));
        QTRY_COMPARE(net.get(field, M::ColDeviceTemperature), QString::fromUtf8("41.5 °C"));

        // Goes first, even from a failed check: the network's last writes arrive as it
        // stops, after `field` is gone.
        QObject counting;
        connect(&net.model, &QAbstractItemModel::dataChanged, &counting, [&](const QModelIndex& a) {
            if (net.model.getItem(a) == net.model.getItem(field))
                ++writes[a.column()];
        });
        QTest::qWait(600); // about six polls
        for (int column = M::ColCh1Active; column <= M::ColCh2WatchdogError; ++column)
            QCOMPARE(writes.value(column), 0);
        QCOMPARE(writes.value(M::ColDeviceTemperature), 0);

        // A changed status is written.
        QVERIFY(VantorSimulator::setMediumFault(1, 0x4, true));
        QTRY_COMPARE(net.get(field, M::ColCh1TxError), QStringLiteral("true"));
        QVERIFY(writes.value(M::ColCh1TxError) >= 1);
    }

    // Two messages sent, the receiver's history read back, then Purge and Erase and a new run.
    void messagesCountedAndHistory()
    {
        Network net(QStringLiteral("file_transfer_1M.brxprj"));
        QModelIndex sent, received;
        QVERIFY(net.runPlainMessage(&sent, &received));
        QTRY_COMPARE(net.started, 2);
        const QStringList data = { "01 02 03 ", "0A 0B " };
        for (int i = 0; i < data.size(); ++i) {
            net.send(sent, data[i]);
            QTRY_COMPARE(net.get(received, M::ColMessagesReceived), QString::number(i + 1));
        }
        QTRY_COMPARE(net.get(sent, M::ColMessagesSent), QStringLiteral("2"));
        QCOMPARE(net.get(received, M::ColMessagePosition), QStringLiteral("2"));
        QCOMPARE(net.get(received, M::ColData), data[1]);

        // Read back at position 0, at the last message and beyond it.
        QList<QPair<int, QList<quint8>>> answers;
        QObject listening; // goes first, so no late answer reaches the locals above
        for (FipBusArbitratorDevice* w : net.workers.workers())
            connect(w, &FipBusArbitratorDevice::msgHistoric, &listening,
                    [&](const QModelIndex& idx, quint16 n, const QList<quint8>& msg) {
                        QCOMPARE(idx, received);
                        answers.append({ int(n), msg });
                    });
        const QModelIndex field = net.stations[1];
        for (int position : { 0, 2, 3 })
            net.command([=](FipBusArbitratorDevice* w) { w->onMsgHistoricCmdClicked(field, received, quint16(position)); });
        QTRY_COMPARE(answers.size(), 2);
        QTest::qWait(300); // none for the position beyond the last
        QCOMPARE(answers, (QList<QPair<int, QList<quint8>>> { { 0, {} }, { 2, { 0x0A, 0x0B } } }));

        // Purge and Erase as the control page does them: the command, then the cleared cells.
        const QModelIndex arbitrator = net.stations[0];
        net.command([=](FipBusArbitratorDevice* w) { w->onPurgeMsgCmdClicked(arbitrator, 0); });
        net.set(sent, M::ColMessagesSent, "0");
        net.set(sent, M::ColReportCode, "-");
        net.command([=](FipBusArbitratorDevice* w) { w->onEraseMsgCmdClicked(field, received); });
        for (int column : { int(M::ColMessagePosition), int(M::ColMessagesReceived), int(M::ColMessageLength) })
            net.set(received, column, "0");
        net.set(received, M::ColReportCode, "-");
        net.send(sent, "01 02 ");
        QTRY_COMPARE(net.get(received, M::ColMessagesReceived), QStringLiteral("1"));
        QTRY_COMPARE(net.get(sent, M::ColMessagesSent), QStringLiteral("1"));
        QCOMPARE(net.get(received, M::ColMessagePosition), QStringLiteral("1"));
        QCOMPARE(net.get(received, M::ColMessageLength), QStringLiteral("2"));
        QTRY_COMPARE(net.get(received, M::ColReportCode), QStringLiteral("0x00000000"));

        // A new run starts both sides from nothing.
        net.workers.stop();
        QCOMPARE(net.start(), 2);
        QTRY_COMPARE(net.started, 4);
        for (const QModelIndex& message : { sent, received }) {
            QTRY_COMPARE(net.get(message, M::ColMessagesSent), QStringLiteral("0"));
            QCOMPARE(net.get(message, M::ColMessagesReceived), QStringLiteral("0"));
            QCOMPARE(net.get(message, M::ColMessagePosition), QStringLiteral("0"));
        }
        QVERIFY(net.worker(1)->getMsgReceivedList(received).isEmpty());
    }

    void fileCallbacks_data()
    {
        QTest::addColumn<int>("destSeg");
        QTest::addColumn<quint32>("report");
        QTest::addColumn<QString>("state");
        QTest::newRow("matching, success") << 0 << 0u << "2";
        QTest::newRow("matching, failure") << 0 << quint32(VANTOR_ERR_ABORTED) << "3";
        QTest::newRow("no matching message") << 1 << 0u << "0";
    }

    void fileCallbacks()
    {
        QFETCH(int, destSeg);
        QFETCH(quint32, report);
        QFETCH(QString, state);
        Network net(QStringLiteral("file_transfer_1M.brxprj"));
        net.run();
        FipBusArbitratorDevice* w = net.worker(0);
        const QModelIndex message = net.model.getClassTypeIndexes(M::MESSAGE_OUT, net.stations[0]).value(0);
        QTRY_COMPARE(net.get(message, M::ColReportCode), QStringLiteral("  -  "));
        // "0:0x0101 to 0:0x0100", from a thread standing for the library's.
        std::thread library([&] {
            char path[] = "/tmp/sent.bin";
            FipBusCallbacks::CallbackProgression(nullptr, 1, 0x0100, u8(destSeg), 0x0101, 0, 3, 10, 0.5, w);
            FipBusCallbacks::CallbackCompletion(nullptr, 1, 0x0100, u8(destSeg), 0x0101, 0, report, 1.5, path, w);
        });
        library.join();
        QTRY_COMPARE(net.get(message, M::ColTransferState), state);
        QTest::qWait(100);
        QCOMPARE(net.get(message, M::ColCurrentPacket), destSeg ? QStringLiteral("0") : QStringLiteral("3"));
        QCOMPARE(net.get(message, M::ColReportCode),
                 destSeg ? QStringLiteral("  -  ") : QString::asprintf("0x%8.8x", report));
        QCOMPARE(logCount("[CALLBACK - FILE EMISSION END] - Input path: /tmp/sent.bin"), destSeg ? 0 : 1);
    }

    void isolation_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("calls");
        QTest::addColumn<bool>("running");
        QTest::newRow("retry") << int(QMessageBox::Retry)
                               << "vantor_stop_ba() vantor_set_medium_cmd(10) vantor_set_medium_cmd(16) "
                                  "vantor_set_medium_cmd(32) vantor_set_medium_cmd(64) vantor_set_medium_cmd(5) "
                                  "vantor_set_medium_cmd(16)"
                               << true;
        QTest::newRow("abort") << int(QMessageBox::Abort) << "" << false;
    }

    void isolation()
    {
        QFETCH(int, answer);
        QFETCH(QString, calls);
        QFETCH(bool, running);
        Network net(QStringLiteral("2sta_worldfip_1M.brxprj"));
        net.run();
        QTRY_COMPARE(net.started, 2);
        QList<QModelIndex> events;
        QObject listening; // goes first, so no late event reaches the list above
        for (FipBusArbitratorDevice* w : net.workers.workers())
            connect(w, &FipBusArbitratorDevice::stationIsolationEvent, &listening,
                    [&](const QModelIndex& station) { events.append(station); });
        const int before = VantorSimulator::calls(1).size();
        QVERIFY(VantorSimulator::setMediumFault(1, 0x4 | 0x8)); // both channels fail to transmit
        QTRY_COMPARE(events.size(), 1);
        QCOMPARE(events[0], net.stations[1]);
        QTest::qWait(300); // still isolated: no second event
        QCOMPARE(events.size(), 1);

        const QModelIndex field = net.stations[1];
        net.command([=](FipBusArbitratorDevice* w) { w->onStationIsolationTreatment(field, answer); });
        QTRY_COMPARE(net.stopped, running ? 0 : 1);
        QTest::qWait(300);
        QCOMPARE(net.stopped, running ? 0 : 1);
        QCOMPARE(VantorSimulator::calls(1).mid(before, calls.isEmpty() ? 0 : calls.count(' ') + 1).join(' '), calls);
        QCOMPARE(net.worker(1)->isProcessing(), running);
        QCOMPARE(events.size(), 1);
        QVERIFY(net.reports.isEmpty());
    }

    // A station that cannot start, or whose board goes mid-run, is told; the other runs on.
    void stationFailure_data()
    {
        QTest::addColumn<int>("column"); // -1: the board is pulled once both run
        QTest::addColumn<QString>("value");
        QTest::newRow("board does not open") << int(M::ColDeviceIndex) << "7";
        QTest::newRow("network does not initialise") << int(M::ColFilePath) << "/nonexistent/Station9.xml";
        QTest::newRow("board pulled mid-run") << -1 << "The USB device did not respond to the last request.";
    }

    void stationFailure()
    {
        QFETCH(int, column);
        QFETCH(QString, value);
        Network net(QStringLiteral("2sta_worldfip_1M.brxprj"));
        net.exportFiles();
        if (column >= 0)
            net.set(net.stations[1], column, value);
        QCOMPARE(net.start(), 2);
        if (column < 0) {
            QTRY_COMPARE(net.started, 2);
            VantorSimulator::pullBoard(1);
            QTRY_COMPARE(net.stopped, 1);
            QTRY_VERIFY(!VantorSimulator::isOpen(1));
        }
        QTRY_COMPARE(net.reports.size(), 1);
        QCOMPARE(net.reports[0][0], QStringLiteral("Field unit"));
        QVERIFY(column >= 0 ? !net.reports[0][1].isEmpty() : net.reports[0][1] == value);
        QTRY_COMPARE(net.started, column >= 0 ? 1 : 2);
        QVERIFY(net.worker(0)->isProcessing());
        QVERIFY(!net.worker(1)->isProcessing());
    }

    void variablesCrossTheBus()
    {
        Network net(QStringLiteral("2sta_worldfip_1M.brxprj"));
        const QModelIndex produced = net.variable(0, M::VARIABLE_OUT, 0x0100);
        const QModelIndex consumed = net.variable(1, M::VARIABLE_IN, 0x0100);
        const QModelIndex skipped = net.variable(1, M::VARIABLE_IN, 0x0101);
        QVERIFY(produced.isValid() && consumed.isValid() && skipped.isValid());
        net.exportFiles();
        // An identifier that does not parse, once the files are built, is not exchanged.
        net.set(skipped, M::ColVarInId, "zz");
        QCOMPARE(net.start(), 2);
        QTRY_COMPARE(net.started, 2);
        // Nobody wrote it yet: the producing station's own application counts in its first two bytes.
        QTRY_VERIFY(net.get(consumed, M::ColData).endsWith(QStringLiteral("00 00 00 00 00 00 "))
                    && net.get(consumed, M::ColData) != QStringLiteral("00 00 00 00 00 00 00 00 "));
        QCOMPARE(net.get(produced, M::ColData), QStringLiteral("00 00 00 00 00 00 00 00 "));

        const QString value = QStringLiteral("11 22 33 44 AA BB CC DD ");
        net.model.setData(net.model.cell(produced, M::ColData), value);
        QVERIFY(!net.model.undoStack()->canUndo());
        QTRY_COMPARE_WITH_TIMEOUT(net.get(consumed, M::ColData), value, 2000);
        QTRY_COMPARE(net.get(consumed, M::ColRefreshment), QStringLiteral("true"));
        QCOMPARE(net.get(consumed, M::ColReportCode), QStringLiteral("0x00000000"));
        QCOMPARE(net.get(skipped, M::ColReportCode), QStringLiteral("0x00000000"));
        QCOMPARE(net.get(skipped, M::ColData), QString());
        QTest::qWait(1500);
        QCOMPARE(net.get(consumed, M::ColData), value);
        QVERIFY(net.worker(0)->isProcessing() && net.worker(1)->isProcessing());
        QVERIFY(VantorSimulator::macrocycles(QStringLiteral("net")) > 10);

        net.workers.stop();
        QVERIFY(!VantorSimulator::isOpen(0) && !VantorSimulator::isOpen(1));
        QCOMPARE(net.get(consumed, M::ColData), QString());
        QCOMPARE(net.get(net.stations[0], M::ColCh1Active), QStringLiteral("false"));
    }

    void filter_data()
    {
        QTest::addColumn<QStringList>("bound");
        QTest::addColumn<bool>("labels");
        QTest::addColumn<int>("stations");
        QTest::addColumn<int>("renderings");

        QTest::newRow("no board") << QStringList() << true << 0 << 0;
        QTest::newRow("one board, labels hidden") << QStringList{ "Arbitrator" } << false << 1 << 0;
        QTest::newRow("one board, labels shown") << QStringList{ "Arbitrator" } << true << 1 << 2;
        QTest::newRow("two boards, labels shown") << QStringList{ "Arbitrator", "Field unit" } << true << 2 << 4;
    }

    void filter()
    {
        QFETCH(QStringList, bound);
        QFETCH(bool, labels);
        QFETCH(int, stations);

        MainDTModel design;
        BrxprjFile file(&design);
        QVERIFY(file.load(kProject));
        MainCTModel control;
        control.setSourceModel(&design);
        QAbstractItemModelTester tester(&control, QAbstractItemModelTester::FailureReportingMode::QtTest);
        control.setLabelsVisible(!labels); // the flip below must refilter
        QStringList shown;
        collect(control, QModelIndex(), &shown);
        QCOMPARE(shown.filter("Station:").size(), 0);

        // Bind, then show or hide the labels, with the tester watching every step.
        int index = 0;
        for (const QModelIndex& station : design.getStationIndexes()) {
            if (bound.contains(design.text(station, MainDTModel::ColObject)))
                design.setDataWithoutControl(design.cell(station, MainDTModel::ColFipDevice), board(index++));
        }
        control.setLabelsVisible(labels);
        shown.clear();
        collect(control, QModelIndex(), &shown);
        QCOMPARE(shown.filter("Station:").size(), stations);
        QTEST(shown.filter("Data Rendering:").size(), "renderings");
        QCOMPARE(shown.filter("Bus Arbiter:").size(), 0);
        QCOMPARE(shown.filter("Reference Variable:").size(), 0);
        QCOMPARE(shown.filter("Instruction:").size(), 0);
        if (stations > 0)
            QVERIFY(shown.contains("Output Message:0:0x0101 to 0:0x0100"));

        // Unbinding every board empties the stations again; live values keep flowing meanwhile.
        for (const QModelIndex& station : design.getStationIndexes()) {
            design.setDataWithoutControl(design.cell(station, MainDTModel::ColDeviceTemperature), "41.5 °C");
            design.setDataWithoutControl(design.cell(station, MainDTModel::ColFipDevice), MainDTModel::BindADevice);
        }
        shown.clear();
        collect(control, QModelIndex(), &shown);
        QCOMPARE(shown, QStringList({ "Network:file_transfer_1M", "Segment:Segment 0" }));
    }

    void fill_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QList<int>>("bold");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("rows");

        QTest::newRow("one byte changed") << bytes({ 1, 2, 3 }) << bytes({ 1, 0xAB, 3 }) << QList<int>{ 1 } << true << 1;
        QTest::newRow("same bytes") << bytes({ 1, 2, 3 }) << bytes({ 1, 2, 3 }) << QList<int>{} << false << 1;
        QTest::newRow("16 bytes fill one row") << QByteArray(16, 7) << QByteArray(16, 7) << QList<int>{} << false << 1;
        QTest::newRow("17th byte opens a row") << QByteArray(16, 7) << QByteArray(17, 7) << QList<int>{ 16 } << false << 2;
        QList<int> grown;
        for (int i = 1; i < 256; ++i)
            grown << i;
        QTest::newRow("longer data: the new cells are changes") << bytes({ 5 }) << QByteArray(256, 5) << grown << false << 16;
        QTest::newRow("no data hides every row") << bytes({ 5 }) << QByteArray() << QList<int>{} << false << 0;
    }

    void fill()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(QList<int>, bold);

        TableWidgetWithPaste table;
        HexaTable::setup(&table);
        QSignalSpy cellChanges(&table, &QTableWidget::cellChanged);
        HexaTable::update(&table, before, true);
        HexaTable::update(&table, before, true); // shown twice: nothing left bold
        bool differs = false;
        HexaTable::update(&table, after, false, &before, &differs);

        QTEST(differs, "changed");
        QCOMPARE(cellChanges.count(), 0);
        int visible = 0;
        for (int row = 0; row < HexaTable::Side; ++row)
            visible += table.isRowHidden(row) ? 0 : 1;
        QTEST(visible, "rows");
        if (after.isEmpty())
            return;
        for (int i = 0; i < HexaTable::Cells; ++i) {
            QTableWidgetItem* cell = table.item(i / HexaTable::Side, i % HexaTable::Side);
            if (i >= after.size()) {
                QCOMPARE(cell->text(), QString());
                QCOMPARE(cell->flags(), Qt::NoItemFlags);
                continue;
            }
            QCOMPARE(cell->text(), QString::asprintf("%02X", uchar(after.at(i))));
            QCOMPARE(cell->font().weight(), bold.contains(i) ? 75 : 50);
            QCOMPARE(cell->flags(), Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        }
        QCOMPARE(HexaTable::parseData(HexaTable::dataText(after)), after);
    }

    void paste_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<Cells>("written");

        QTest::newRow("block inside")
            << 256 << 0x11 << "01\t02\n03\t04\n" << Cells{ { 0x11, "01" }, { 0x12, "02" }, { 0x21, "03" }, { 0x22, "04" } };
        QTest::newRow("past the right and bottom edges")
            << 256 << 0xFE << "AA\tBB\tCC\nDD\tEE\tFF" << Cells{ { 0xFE, "AA" }, { 0xFF, "BB" } };
        QTest::newRow("past the data length")
            << 3 << 1 << "AA\tBB\tCC\tDD" << Cells{ { 1, "AA" }, { 2, "BB" } };
        QTest::newRow("trailing empty lines and fields dropped, inner kept")
            << 256 << 0 << "AA\t\tCC\t\t\n\n\n" << Cells{ { 0, "AA" }, { 1, "" }, { 2, "CC" } };
        QTest::newRow("windows line ends") << 256 << 0 << "AA\r\nBB\r\n" << Cells{ { 0, "AA" }, { 16, "BB" } };
    }

    void paste()
    {
        QFETCH(int, length);
        QFETCH(int, start);
        QFETCH(QString, clipboard);
        QFETCH(Cells, written);

        TableWidgetWithPaste table;
        HexaTable::update(&table, QByteArray(length, char(0x55)), true);
        table.setCurrentCell(start / HexaTable::Side, start % HexaTable::Side);
        QApplication::clipboard()->setText(clipboard);
        QTest::keySequence(&table, QKeySequence::Paste);
        for (int i = 0; i < HexaTable::Cells; ++i) {
            const QString expected = written.value(i, i < length ? "55" : "");
            QCOMPARE(table.item(i / HexaTable::Side, i % HexaTable::Side)->text(), expected);
        }
    }

    void copyJoinsByRowThenColumn()
    {
        TableWidgetWithPaste table;
        HexaTable::update(&table, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f101112"), false);
        // Selected out of order, across two rows.
        for (int i : { 0x11, 0x0F, 0x02, 0x10, 0x01 })
            table.item(i / 16, i % 16)->setSelected(true);
        QTest::keySequence(&table, QKeySequence::Copy);
        QCOMPARE(QApplication::clipboard()->text(), QString("01\t02\t0F\n10\t11"));
    }

    void byteEditor_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");

        QTest::newRow("one digit") << "a" << true;
        QTest::newRow("two digits") << "F0" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("not hexadecimal") << "g" << false;
        QTest::newRow("three digits") << "123" << false;
    }

    void byteEditor()
    {
        QFETCH(QString, typed);

        HexaTabDelegate delegate;
        QWidget parent;
        std::unique_ptr<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex()));
        auto* editor = qobject_cast<QLineEdit*>(widget.get());
        QVERIFY(editor && editor->validator());
        QCOMPARE(editor->maxLength(), 2);
        int pos = 0;
        QString text = typed;
        QTEST(editor->validator()->validate(text, pos) == QValidator::Acceptable, "accepted");
    }

    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("big");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        const auto h = [](const char* hex) { return QByteArray::fromHex(hex); };
        QTest::newRow("uint16 little") << h("0180") << "UInt16" << false << 0 << 15 << "32769" << true;
        QTest::newRow("uint16 big") << h("0180") << "UInt16" << true << 0 << 15 << "384" << true;
        QTest::newRow("uint16 across bytes") << h("341200") << "UInt16" << false << 4 << 19 << "291" << true;
        QTest::newRow("uint16 past data") << h("0180") << "UInt16" << false << 1 << 16 << "0" << false;
        QTest::newRow("uint16 zero width") << h("0180") << "UInt16" << false << 5 << 4 << "0" << false;
        QTest::newRow("hexa little") << h("0180") << "Hexa" << false << 0 << 15 << "0x8001" << true;
        QTest::newRow("hexa big") << h("0180") << "Hexa" << true << 0 << 15 << "0x0180" << true;
        QTest::newRow("bool first bit") << h("0180") << "Bool" << false << 0 << 0 << "1" << true;
        QTest::newRow("bool last bit") << h("0180") << "Bool" << false << 15 << 15 << "1" << true;
        QTest::newRow("bool byte edge") << h("0180") << "Bool" << false << 8 << 8 << "0" << true;
        QTest::newRow("bool past data") << h("0180") << "Bool" << false << 16 << 16 << "0" << false;
        QTest::newRow("bool two bits") << h("0180") << "Bool" << false << 0 << 1 << "0" << false;
        QTest::newRow("uint8 across bytes") << h("f00f") << "UInt8" << false << 4 << 11 << "255" << true;
        QTest::newRow("uint8 seven bits") << h("ff") << "UInt8" << false << 0 << 6 << "0" << false;
        QTest::newRow("uint8 last bit is the end") << h("ff") << "UInt8" << false << 1 << 8 << "127" << true;
        QTest::newRow("int8 min") << h("80") << "Int8" << false << 0 << 7 << "-128" << true;
        QTest::newRow("int16 min big") << h("8000") << "Int16" << true << 0 << 15 << "-32768" << true;
        QTest::newRow("int16 max little") << h("ff7f") << "Int16" << false << 0 << 15 << "32767" << true;
        QTest::newRow("uint32 max") << h("ffffffff") << "UInt32" << false << 0 << 31 << "4294967295" << true;
        QTest::newRow("int32 minus one") << h("ffffffff") << "Int32" << true << 0 << 31 << "-1" << true;
        QTest::newRow("uint64 max") << h("ffffffffffffffff") << "UInt64" << false << 0 << 63 << "18446744073709551615" << true;
        QTest::newRow("int64 min big") << h("8000000000000000") << "Int64" << true << 0 << 63 << "-9223372036854775808" << true;
        QTest::newRow("float one and a half") << h("0000c03f") << "Float" << false << 0 << 31 << "1.5" << true;
        QTest::newRow("float third big") << h("3eaaaaab") << "Float" << true << 0 << 31 << "0.333333" << true;
        QTest::newRow("float nan") << h("0000c07f") << "Float" << false << 0 << 31 << "nan" << true;
        QTest::newRow("float inf") << h("0000807f") << "Float" << false << 0 << 31 << "inf" << true;
        QTest::newRow("double one big") << h("3ff0000000000000") << "Double" << true << 0 << 63 << "1" << true;
        QTest::newRow("double large") << h("000000000000f043") << "Double" << false << 0 << 63 << "1.84467e+19" << true;
        QTest::newRow("ascii little") << QByteArray("ABC") << "Ascii" << false << 0 << 23 << "ABC" << true;
        QTest::newRow("ascii big") << QByteArray("ABC") << "Ascii" << true << 0 << 23 << "CBA" << true;
        QTest::newRow("ascii past data") << QByteArray("ABC") << "Ascii" << false << 8 << 31 << "" << false;
    }

    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, type);
        QFETCH(bool, big);
        QFETCH(int, start);
        QFETCH(int, stop);
        QFETCH(QString, text);
        QFETCH(bool, ok);
        bool fits = !ok;
        QCOMPARE(MnemoCodec::toText(field(type, big, start, stop), bytes, &fits), text);
        QCOMPARE(fits, ok);
        // The typed value reads the same.
        const QVariant value = MnemoCodec::toVariant(field(type, big, start, stop), bytes, &fits);
        QCOMPARE(fits, ok);
        if (ok && type != "Float" && type != "Double")
            QCOMPARE(value.toString(), type == "Bool" ? (text == "1" ? QString("true") : QString("false")) : text);
    }

    void encodeRoundTrip_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("big");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("value");
        QTest::newRow("bool mid byte") << "Bool" << false << 13 << 13 << "1";
        QTest::newRow("uint8 unaligned") << "UInt8" << false << 3 << 10 << "201";
        QTest::newRow("int8 min") << "Int8" << false << 8 << 15 << "-128";
        QTest::newRow("uint16 big") << "UInt16" << true << 8 << 23 << "384";
        QTest::newRow("int16 little unaligned") << "Int16" << false << 5 << 20 << "-12345";
        QTest::newRow("int32 min big") << "Int32" << true << 0 << 31 << "-2147483648";
        QTest::newRow("uint64 max") << "UInt64" << false << 16 << 79 << "18446744073709551615";
        QTest::newRow("int64 big unaligned") << "Int64" << true << 3 << 66 << "-9223372036854775807";
        QTest::newRow("float little") << "Float" << false << 8 << 39 << "-2.5";
        QTest::newRow("double big") << "Double" << true << 16 << 79 << "3.14159";
        QTest::newRow("ascii big") << "Ascii" << true << 8 << 31 << "Hey";
        QTest::newRow("hexa little") << "Hexa" << false << 0 << 15 << "0x8001";
        QTest::newRow("hexa big") << "Hexa" << true << 4 << 27 << "0xabcdef";
    }

    void encodeRoundTrip()
    {
        QFETCH(QString, type);
        QFETCH(bool, big);
        QFETCH(int, start);
        QFETCH(int, stop);
        QFETCH(QString, value);
        const MnemoField f = field(type, big, start, stop);
        const QByteArray before = QByteArray::fromHex("5aa55aa55aa55aa55aa55aa5");
        QByteArray bytes = before;
        QByteArray encoded;
        QVERIFY(MnemoCodec::encode(f, value, &encoded));
        QVERIFY(MnemoCodec::writeBits(f, encoded, &bytes));
        bool ok = false;
        QCOMPARE(MnemoCodec::toText(f, bytes, &ok), value);
        QVERIFY(ok);
        for (int bit = 0; bit < before.size() * 8; ++bit) {
            if (bit >= start && bit <= stop)
                continue;
            QVERIFY2(((before[bit / 8] ^ bytes[bit / 8]) >> (bit % 8) & 1) == 0, qPrintable(QString::number(bit)));
        }
        // A range past the data is refused and leaves the bytes alone.
        QByteArray shortBytes = before.left((stop) / 8);
        const QByteArray shortBefore = shortBytes;
        QVERIFY(!MnemoCodec::writeBits(f, encoded, &shortBytes));
        QCOMPARE(shortBytes, shortBefore);
    }

    void bitCuttingAgrees()
    {
        // The byte path and the bit array path cut the same bits, ranges at and past the end included.
        QRandomGenerator random(7);
        QByteArray bytes(9, '\0');
        for (char& b : bytes)
            b = char(random.bounded(256));
        const QBitArray bits = FipAnalyze::bytesToBits(bytes);
        for (int start = 0; start <= 72; start += 3) {
            for (int stop = start - 1; stop <= 73; stop += 5) {
                bool okBytes = false, okBits = true;
                const QByteArray a = FipAnalyze::rawFrameBitsToMnemoBytes(bytes, start, stop, &okBytes);
                const QByteArray b = FipAnalyze::rawFrameBitsToMnemoBytes(bits, start, stop, &okBits);
                QCOMPARE(okBytes, okBits);
                QCOMPARE(a, b);
                QCOMPARE(okBytes, stop >= start && stop < 72);
                if (okBytes)
                    QCOMPARE(a.size(), (stop - start + 8) / 8);
            }
        }
    }

    void tableModel()
    {
        // A design row of the mnemonic columns, under a rendering under a variable.
        QStandardItemModel design(0, MainDTModel::ColumnCount);
        auto row = [&](QStandardItem* parent, const QMap<int, QString>& cells) {
            QList<QStandardItem*> items;
            for (int column = 0; column < MainDTModel::ColumnCount; ++column)
                items << new QStandardItem(cells.value(column));
            (parent ? parent : design.invisibleRootItem())->appendRow(items);
            return items.first();
        };
        QStandardItem* variable = row(nullptr, { { 0, "VAR" }, { 2, "6" } });
        QStandardItem* rendering = row(variable, { { 0, "Render" }, { 2, "12" } });
        QStandardItem* hexa = row(rendering, { { 0, "Word" }, { 2, "13" }, { 59, "Hexa" }, { 60, "Little-Endian" },
                                               { 63, "0" }, { 64, "15" }, { 61, "raw" } });
        row(rendering, { { 0, "Speed" }, { 2, "13" }, { 59, "UInt16" }, { 60, "Big-Endian" }, { 63, "0" }, { 64, "15" } });

        MnemoCTModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QByteArray bytes = QByteArray::fromHex("0180");
        bool ok = true;
        QCOMPARE(MnemoCTModel::extractToStr(variable->index(), bytes, &ok), QString());
        QVERIFY(!ok);
        for (int r = 0; r < rendering->rowCount(); ++r)
            model.appendMnemo(rendering->child(r)->index(), bytes, 6);
        QCOMPARE(model.rowCount(), 2);
        QCOMPARE(model.index(0, MnemoCTModel::ValueCol).data().toString(), QString("0x8001"));
        QCOMPARE(model.index(1, MnemoCTModel::ValueCol).data().toString(), QString("384"));
        QCOMPARE(model.index(0, MnemoCTModel::UnitCol).data().toString(), QString("raw"));
        QCOMPARE(model.index(0, MnemoCTModel::RenderingCol).data().toString(), QString("Render"));
        QCOMPARE(model.mnemonicOf(0), hexa->index());

        QSignalSpy refused(&model, &MnemoCTModel::invalidEntry);
        QVERIFY(!model.setData(model.index(0, MnemoCTModel::ValueCol), "0xZZ"));
        QCOMPARE(refused.count(), 1);
        QCOMPARE(refused.first().first().toString(), QString("Invalid hexa value entry."));
        QCOMPARE(model.index(0, MnemoCTModel::ValueCol).data().toString(), QString("0x8001"));
        QVERIFY(model.setData(model.index(0, MnemoCTModel::ValueCol), "0X00ff"));
        // Any text goes for other types; the main window checks it when encoding.
        QVERIFY(model.setData(model.index(1, MnemoCTModel::ValueCol), "12"));
        QCOMPARE(refused.count(), 1);
    }

private:
    /// One running network serves the rows that leave it as they found it.
    Network& running()
    {
        if (!m_commandNet) {
            m_commandNet.reset(new Network(QStringLiteral("file_transfer_1M.brxprj")));
            m_commandNet->run();
        }
        return *m_commandNet;
    }
    std::unique_ptr<Network> m_commandNet;
    QtMessageHandler m_testLog = nullptr;
};

QTEST_MAIN(TestControlPage)
#include "tst_controlpage.moc"
