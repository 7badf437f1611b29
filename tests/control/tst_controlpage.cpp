// The control page: arbitrator workers on simulated boards (example designs exported to real
// station files, real threads, the real start barrier), the control tree, the byte grids, the
// mnemonic values and table; and the simulated boards through the board library's own calls.

#include "control/ArbitratorWorkers.h"
#include "control/FipBusArbitratorDevice.h"
#include "control/HexaTabDelegate.h"
#include "control/KivDevicesDetection.h"
#include "control/HexaTable.h"
#include "control/MainCTModel.h"
#include "control/MnemoCTModel.h"
#include "control/MnemoCodec.h"
#include "control/TableWidgetWithPaste.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"
#include "design/StationConfigurationExport.h"
#include "design/TreeItem.h"

#include "FipSimulatedNetwork.h"
#include "VantorProjectBus.h"
#include "VantorSimulator.h"
#include "vantor.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMessageBox>
#include <QMutex>
#include <QSignalSpy>
#include <QUndoStack>
#include <QValidator>
#include <QWaitCondition>
#include <QtTest>

#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

using M = MainDTModel;

namespace {
QMutex logMutex;
QStringList logLines;

void captureLog(QtMsgType, const QMessageLogContext&, const QString& text)
{
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

MnemoField field(const QString& type, bool big, int start, int stop)
{
    MnemoField f;
    f.type = MnemoField::typeOf(type);
    f.bigEndian = big;
    f.startBit = start;
    f.stopBit = stop;
    return f;
}


// A station file at 1 Mbit/s: its optional bus arbiter element, its variables and its messages.
QByteArray stationXml(const char* name, int address, const char* arbiter, const QString& variables,
                      const QString& messages)
{
    return QString::asprintf("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<StationConfiguration version=\"1.1\">\n"
                             " <SubscriberName>%s</SubscriberName><SubscriberNumber>0x%02x</SubscriberNumber>\n"
                             " <Speed>0x01</Speed><TSlot>0x00</TSlot>\n%s\n <Variables>\n%s </Variables>\n"
                             " <Messages>\n%s </Messages>\n</StationConfiguration>\n",
                             name, address, arbiter, qPrintable(variables), qPrintable(messages))
        .toUtf8();
}

QString variable(int id, int length, int type, const char* extra = "")
{
    return QString::asprintf("  <Variable><Name>v%x</Name><ID>0x%04x</ID><Length>0x%02x</Length><Type>0x%02x</Type>%s</Variable>\n",
                             id, id, length, type, extra);
}

QString message(int source, int destination, int segment, const char* type)
{
    return QString::asprintf("  <Message><SourceID>0x%04x</SourceID><SourceSegment>0x00</SourceSegment>"
                             "<DestinationID>0x%04x</DestinationID><DestinationSegment>0x%02x</DestinationSegment>"
                             "<Type %s</Type></Message>\n",
                             source, destination, segment, type);
}

// Two stations of one network: "Arbitrator" at address 1 scans 0x0100 and 0x0200
// in its first table and 0x0101 in its second; "Field" produces 0x0200.
const QByteArray arbitratorXml = stationXml(
    "Arbitrator", 1,
    R"( <BusArbiter enabled="true"><BAMaxSubscriberNumber>0x02</BAMaxSubscriberNumber>
  <BAScanTable number="0"><SEND_ID_DAT>0x0100</SEND_ID_DAT><SEND_ID_DAT>512</SEND_ID_DAT>
   <SUSPEND delay="0x0001">0xa3</SUSPEND><WAIT_TIME>0x0010</WAIT_TIME><NEXT_MACRO/></BAScanTable>
  <BAScanTable number="1"><SEND_ID_DAT>0x0101</SEND_ID_DAT><NEXT_MACRO/></BAScanTable>
 </BusArbiter>)",
    variable(0x0100, 8, 0) + variable(0x0101, 2, 0, R"(<Refreshment type="0x01" period="0x0050"/>)")
        + variable(0x0200, 0x7e, 1, R"(<Promptitude type="0x01" period="0x0050"/>)"),
    message(0x0100, 0x0200, 0, R"(emissionChannel="0" ackRequestEnabled="true" fileTransferEnabled="false">toSend)")
        + message(0x0100, 0x0999, 0, R"(emissionChannel="1" ackRequestEnabled="true" fileTransferEnabled="false">toSend)")
        + message(0x0101, 0x0201, 1, R"(emissionChannel="2" ackRequestEnabled="false" fileTransferEnabled="true">toSend)"));

const QByteArray fieldXml = stationXml(
    "Field", 2, "", variable(0x0100, 8, 1) + variable(0x0101, 2, 1) + variable(0x0200, 0x7e, 0) + variable(0x0300, 4, 1),
    message(0x0100, 0x0200, 0, R"(fileTransferEnabled="false">toReceive)")
        + message(0x0101, 0x0201, 1, R"(fileTransferEnabled="true">toReceive)"));

u32 le32(const u8* p)
{
    return u32(p[0]) | u32(p[1]) << 8 | u32(p[2]) << 16 | u32(p[3]) << 24;
}

QByteArray readVar(vantor_device_handle* h, u16 id, u32* code, u8* promptness = nullptr)
{
    u8 buf[VANTOR_VAR_READ_SIZE];
    std::memset(buf, 0xEE, sizeof buf);
    u8 p = 9, r = 9;
    *code = vantor_read_var_by_id(h, id, buf, &p, &r);
    if (promptness)
        *promptness = p;
    return QByteArray(reinterpret_cast<const char*>(buf), int(sizeof buf));
}

// Polls until the board reports the event, collecting the others.
bool waitEvent(vantor_device_handle* h, u16 wanted, u16* param = nullptr, QList<u16>* seen = nullptr)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        u16 code = 0, p = 0;
        if (vantor_read_evt(h, &code, &p) == VANTOR_OK) {
            if (seen)
                seen->append(code);
            if (code == wanted) {
                if (param)
                    *param = p;
                return true;
            }
        } else {
            QThread::msleep(1);
        }
    }
    return false;
}

// What the file callbacks were given, from the library's threads.
struct FileLog {
    struct Seen {
        QList<QPair<int, int>> progress; // dir, current packet
        u32 total = 0;
        QMap<int, QPair<u32, QString>> completions; // dir -> report, path
        QSet<QThread*> threads;
    };
    std::mutex mutex; // a standard mutex, so thread checkers see the locking
    Seen seen;

    Seen snapshot()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

    static void progression(vantor_device_handle*, u8 dir, u16, u8, u16, u8, u32 current, u32 total, double,
                            void* user)
    {
        FileLog* log = static_cast<FileLog*>(user);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->seen.progress.append(qMakePair(int(dir), int(current)));
        log->seen.total = total;
        log->seen.threads.insert(QThread::currentThread());
    }

    static void completion(vantor_device_handle*, u8 dir, u16, u8, u16, u8, u32 report, double, char* path,
                           void* user)
    {
        FileLog* log = static_cast<FileLog*>(user);
        std::lock_guard<std::mutex> lock(log->mutex);
        log->seen.completions[dir] = qMakePair(report, QString::fromUtf8(path));
        log->seen.threads.insert(QThread::currentThread());
    }
};

} // namespace

enum Command { Aperiodic, AperiodicFailing, ChangeMacrocycleTwice, Continue, LedAndStart, Medium, AbortIdle };

class TestControlPage : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    vantor_device_handle* m_arb = nullptr;
    vantor_device_handle* m_field = nullptr;

    QString writeFile(const QString& name, const QByteArray& content)
    {
        QFile f(m_dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return QString();
        return f.fileName();
    }

    // Both stations running their files on a USB and a PCI board of one network.
    void startNetwork(vantor_callbacks* arbCb = nullptr, vantor_callbacks* fieldCb = nullptr)
    {
        VantorSimulator::Board usb, pci;
        pci.interfaceType = VANTOR_INTERFACE_PCI;
        VantorSimulator::setBoards({ usb, pci });
        u32 err = 1;
        m_arb = vantor_device_open(VANTOR_INTERFACE_USB, 0, &err);
        QCOMPARE(err, VANTOR_OK);
        m_field = vantor_device_open(VANTOR_INTERFACE_PCI, 0, &err);
        QCOMPARE(err, VANTOR_OK);
        const QByteArray arbPath = writeFile("Station1.xml", arbitratorXml).toUtf8();
        const QByteArray fieldPath = writeFile("Station2.xml", fieldXml).toUtf8();
        QCOMPARE(vantor_init_network(m_arb, 0, arbPath.constData(), arbCb), VANTOR_OK);
        QCOMPARE(vantor_init_network(m_field, 0, fieldPath.constData(), fieldCb), VANTOR_OK);
        QCOMPARE(vantor_start_network(m_arb), VANTOR_OK);
        QCOMPARE(vantor_start_network(m_field), VANTOR_OK);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_testLog = qInstallMessageHandler(captureLog);
    }
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
    void cleanup()
    {
        for (vantor_device_handle* h : { m_arb, m_field }) {
            if (h)
                vantor_device_close(h);
        }
        m_arb = m_field = nullptr;
        if (!m_commandNet) // the shared network keeps its boards for its next rows
            VantorSimulator::reset();
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
        // "0:0x0101 to 0:0x0100" made a plain message, received by the field unit's consumer of 0x0100.
        const QModelIndex sent = net.model.getClassTypeIndexes(M::MESSAGE_OUT, net.stations[0]).value(0);
        const QModelIndex consumer = net.variable(1, M::VARIABLE_IN, 0x0100);
        QVERIFY(net.model.setData(net.model.cell(sent, M::ColMsgFileTransferEnabled), "false"));
        QVERIFY(net.model.setData(net.model.cell(consumer, M::ColVarMessageReceptionEnabled), "true"));
        const QModelIndex received = net.model.getClassTypeIndexes(M::MESSAGE_IN, consumer).value(0);
        QVERIFY(received.isValid());
        QCOMPARE(net.run(), 2);
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
        QTRY_COMPARE((QStringList { net.get(received, M::ColMessagesReceived), net.get(sent, M::ColMessagesSent),
                                    net.get(received, M::ColMessagePosition), net.get(received, M::ColMessageLength),
                                    net.get(received, M::ColReportCode) }),
                     (QStringList { "1", "1", "1", "2", "0x00000000" }));

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
        QTRY_COMPARE(events, QList<QModelIndex> { net.stations[1] });

        const QModelIndex field = net.stations[1];
        net.command([=](FipBusArbitratorDevice* w) { w->onStationIsolationTreatment(field, answer); });
        QTRY_COMPARE(net.stopped, running ? 0 : 1);
        QTest::qWait(300);
        QCOMPARE(net.stopped, running ? 0 : 1);
        QCOMPARE(VantorSimulator::calls(1).mid(before, calls.isEmpty() ? 0 : calls.count(' ') + 1).join(' '), calls);
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
        QCOMPARE(net.get(skipped, M::ColReportCode), QStringLiteral("0x00000000"));
        QCOMPARE(net.get(skipped, M::ColData), QString());

        net.workers.stop();
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
        QVERIFY(file.load(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/file_transfer_1M.brxprj"));
        MainCTModel control;
        control.setSourceModel(&design);
        QAbstractItemModelTester tester(&control, QAbstractItemModelTester::FailureReportingMode::QtTest);
        control.setLabelsVisible(!labels); // the flip below must refilter

        // Bind, then show or hide the labels, with the tester watching every step.
        int index = 0;
        for (const QModelIndex& station : design.getStationIndexes()) {
            if (bound.contains(design.text(station, MainDTModel::ColObject)))
                design.setDataWithoutControl(design.cell(station, MainDTModel::ColFipDevice), board(index++));
        }
        control.setLabelsVisible(labels);
        QStringList shown;
        collect(control, QModelIndex(), &shown);
        QCOMPARE(shown.filter("Station:").size(), stations);
        QTEST(shown.filter("Data Rendering:").size(), "renderings");
        QCOMPARE(shown.filter(QRegularExpression("^(Bus Arbiter|Reference Variable|Instruction):")), QStringList());
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

        const QByteArray three = QByteArray::fromHex("010203");
        QTest::newRow("one byte changed") << three << QByteArray::fromHex("01ab03") << QList<int>{ 1 } << true << 1;
        QTest::newRow("same bytes") << three << three << QList<int>{} << false << 1;
        QTest::newRow("16 bytes fill one row") << QByteArray(16, 7) << QByteArray(16, 7) << QList<int>{} << false << 1;
        QTest::newRow("17th byte opens a row") << QByteArray(16, 7) << QByteArray(17, 7) << QList<int>{ 16 } << false << 2;
        QList<int> grown;
        for (int i = 1; i < 256; ++i)
            grown << i;
        QTest::newRow("longer data: the new cells are changes") << QByteArray(1, 5) << QByteArray(256, 5) << grown << false << 16;
        QTest::newRow("no data hides every row") << QByteArray(1, 5) << QByteArray() << QList<int>{} << false << 0;
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

    void byteEditorTakesTwoHexDigits()
    {
        HexaTabDelegate delegate;
        QWidget parent;
        std::unique_ptr<QWidget> widget(delegate.createEditor(&parent, QStyleOptionViewItem(), QModelIndex()));
        auto* editor = qobject_cast<QLineEdit*>(widget.get());
        QVERIFY(editor && editor->validator());
        QCOMPARE(editor->maxLength(), 2);
        QStringList accepted;
        for (QString typed : { "a", "F0", "", "g", "123" }) {
            int pos = 0;
            if (editor->validator()->validate(typed, pos) == QValidator::Acceptable)
                accepted << typed;
        }
        QCOMPARE(accepted, (QStringList { "a", "F0", "" }));
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
        QTest::newRow("uint16 across bytes") << h("341200") << "UInt16" << false << 4 << 19 << "291" << true;
        QTest::newRow("uint16 past data") << h("0180") << "UInt16" << false << 1 << 16 << "0" << false;
        QTest::newRow("uint16 zero width") << h("0180") << "UInt16" << false << 5 << 4 << "0" << false;
        QTest::newRow("hexa little") << h("0180") << "Hexa" << false << 0 << 15 << "0x8001" << true;
        QTest::newRow("hexa of twelve bits, bits past it cleared") << h("ffffff") << "Hexa" << false << 4 << 15 << "0x0fff" << true;
        QTest::newRow("bool first bit") << h("0180") << "Bool" << false << 0 << 0 << "1" << true;
        QTest::newRow("bool last bit") << h("0180") << "Bool" << false << 15 << 15 << "1" << true;
        QTest::newRow("bool past data") << h("0180") << "Bool" << false << 16 << 16 << "0" << false;
        QTest::newRow("bool two bits") << h("0180") << "Bool" << false << 0 << 1 << "0" << false;
        QTest::newRow("uint8 across bytes") << h("f00f") << "UInt8" << false << 4 << 11 << "255" << true;
        QTest::newRow("uint8 seven bits") << h("ff") << "UInt8" << false << 0 << 6 << "0" << false;
        QTest::newRow("uint8 last bit is the end") << h("ff") << "UInt8" << false << 1 << 8 << "127" << true;
        QTest::newRow("int8 min") << h("80") << "Int8" << false << 0 << 7 << "-128" << true;
        QTest::newRow("int16 min big") << h("8000") << "Int16" << true << 0 << 15 << "-32768" << true;
        QTest::newRow("float one and a half") << h("0000c03f") << "Float" << false << 0 << 31 << "1.5" << true;
        QTest::newRow("float third big") << h("3eaaaaab") << "Float" << true << 0 << 31 << "0.333333" << true;
        QTest::newRow("float nan") << h("0000c07f") << "Float" << false << 0 << 31 << "nan" << true;
        QTest::newRow("double one big") << h("3ff0000000000000") << "Double" << true << 0 << 63 << "1" << true;
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
        QTest::newRow("uint16 big") << "UInt16" << true << 8 << 23 << "384";
        QTest::newRow("int16 little unaligned") << "Int16" << false << 5 << 20 << "-12345";
        QTest::newRow("int32 min big") << "Int32" << true << 0 << 31 << "-2147483648";
        QTest::newRow("uint64 max") << "UInt64" << false << 16 << 79 << "18446744073709551615";
        QTest::newRow("int64 big unaligned") << "Int64" << true << 3 << 66 << "-9223372036854775807";
        QTest::newRow("float little") << "Float" << false << 8 << 39 << "-2.5";
        QTest::newRow("double big") << "Double" << true << 16 << 79 << "3.14159";
        QTest::newRow("ascii big") << "Ascii" << true << 8 << 31 << "Hey";
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
        QCOMPARE((QStringList { model.index(0, MnemoCTModel::ValueCol).data().toString(),
                                model.index(1, MnemoCTModel::ValueCol).data().toString(),
                                model.index(0, MnemoCTModel::UnitCol).data().toString(),
                                model.index(0, MnemoCTModel::RenderingCol).data().toString() }),
                 (QStringList { "0x8001", "384", "raw", "Render" }));
        QCOMPARE(model.mnemonicOf(0), hexa->index());

        QSignalSpy refused(&model, &MnemoCTModel::invalidEntry);
        QVERIFY(!model.setData(model.index(0, MnemoCTModel::ValueCol), "0xZZ"));
        QCOMPARE(QList<QVariantList>(refused), QList<QVariantList> { { "Invalid hexa value entry." } });
        QCOMPARE(model.index(0, MnemoCTModel::ValueCol).data().toString(), QString("0x8001"));
        QVERIFY(model.setData(model.index(0, MnemoCTModel::ValueCol), "0X00ff"));
        // Any text goes for other types; the main window checks it when encoding.
        QVERIFY(model.setData(model.index(1, MnemoCTModel::ValueCol), "12"));
        QCOMPARE(refused.count(), 1);
    }

    // A boards file: each board listed with its record, each network line's padding set.
    void boardsFile_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("error"); // the start of a refusal; empty: loaded
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<quint32>>("last"); // type, index, number, speed, subsystem of the last board
        QTest::addColumn<int>("padding");         // of the network "line1"
        const auto loaded = [](const char* name, const QString& description, int count, const QList<quint32>& last,
                               int padding = 0x9080) {
            QTest::newRow(name) << description << QString() << count << last << padding;
        };
        const auto refused = [](const char* name, const QString& description, const char* error) {
            QTest::newRow(name) << description << QString(error) << 0 << QList<quint32>() << 0;
        };
        loaded("none", "# nothing plugged\n", 0, {});
        loaded("one usb", "usb number=0x00012345 speed=3", 1, { 2, 0, 0x12345, 3, 0 });
        loaded("many, indexes per type", "pci subsys=0x5601\nusb\npci # spare\nother\nusb index=7 number=4096 speed=0", 5,
               { 2, 7, 4096, 0, 0 });
        loaded("pci form factor by default", "pci number=0xdeadbeef", 1, { 1, 0, 0xdeadbeef, 1, 0x5301 });
        loaded("counted around given indexes", "usb\nusb index=0\nusb", 3, { 2, 2, 0xA10023, 1, 0 });
        loaded("network defaults", "network line1", 0, {});
        loaded("network, every key",
               "network line1 padding=0x7530 pattern=0x0100:sine:4000,0x0201:static missing-reply=0.01 fcs=0.001 "
               "glitch=0.001 late-reply=0.02 dropout=0.001 dropout-ms=500",
               0, {}, 0x7530);
        loaded("network without padding", "usb network=line1\nnetwork line1 padding=0", 1, { 2, 0, 0xA10001, 1, 0 }, 0);
        refused("index given twice", "pci index=1\nusb index=1\npci index=1", "line 3");
        refused("unknown kind", "usb\nfirewire", "line 2");
        refused("speed out of range", "usb speed=4", "line 1");
        refused("more than the list holds", QString("usb\n").repeated(VANTOR_MAX_RECORDS + 1), "more than");
        refused("network without name", "network padding=0x7530", "line 1");
        refused("rate above one", "network line1 fcs=2", "line 1");
        refused("unknown pattern", "network line1 pattern=0x0100:wave", "line 1");
        refused("period too short", "network line1 pattern=0x0100:sine:5", "line 1");
        refused("unknown network key", "network line1 speed=1", "line 1");
    }

    void boardsFile()
    {
        QFETCH(QString, description);
        QFETCH(QString, error);
        QFETCH(int, count);
        QString why;
        QCOMPARE(VantorSimulator::loadBoardsFile(writeFile("boards.txt", description.toUtf8()), &why), error.isEmpty());
        QVERIFY2(why.startsWith(error), qPrintable(why));
        if (!error.isEmpty())
            return;
        QTEST(int(VantorSimulator::network("line1").paddingId), "padding");
        u8 n = 99;
        QCOMPARE(vantor_get_devices_number(&n), VANTOR_OK);
        QCOMPARE(int(n), count);
        vantor_record records[VANTOR_MAX_RECORDS];
        std::memset(records, 0xAA, sizeof records);
        QCOMPARE(vantor_get_devices_list(records, &n), VANTOR_OK);
        QCOMPARE(int(n), count);
        QCOMPARE(records[count].bytes[0], u8(0xAA)); // nothing written past the boards
        if (!count)
            return;
        const u8* r = records[count - 1].bytes;
        QTEST((QList<quint32> { le32(r), r[4], le32(r + 10), r[17], quint32(r[25] | r[26] << 8) }), "last");
        // It opens with the type and index its record gives; a closed handle is gone.
        u32 err = 1;
        vantor_device_handle* h = vantor_device_open(le32(r), r[4], &err);
        QCOMPARE(err, VANTOR_OK);
        QCOMPARE(vantor_device_close(h), VANTOR_OK);
        QCOMPARE(vantor_device_close(h), VANTOR_ERR_BAD_HANDLE);
    }

    void boardVariablesCrossTheBus_data()
    {
        QTest::addColumn<bool>("fromArbitrator");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("length");
        QTest::addColumn<u8>("macrocycle");
        QTest::addColumn<bool>("aperiodic");
        QTest::addColumn<u8>("changeTo");
        QTest::addColumn<bool>("arrives");

        QTest::newRow("field to arbitrator, longest") << false << 0x0200 << 126 << u8(1) << false << u8(0) << true;
        QTest::newRow("second table only") << true << 0x0101 << 2 << u8(2) << false << u8(0) << true;
        QTest::newRow("not in the running table") << true << 0x0101 << 2 << u8(1) << false << u8(0) << false;
        QTest::newRow("asked for aperiodically") << true << 0x0101 << 2 << u8(1) << true << u8(0) << true;
        QTest::newRow("changed to the second table") << true << 0x0101 << 2 << u8(1) << false << u8(2) << true;
    }

    void boardVariablesCrossTheBus()
    {
        QFETCH(bool, fromArbitrator);
        QFETCH(int, id);
        QFETCH(int, length);
        QFETCH(u8, macrocycle);
        QFETCH(bool, aperiodic);
        QFETCH(u8, changeTo);
        QFETCH(bool, arrives);
        startNetwork();
        vantor_device_handle* producer = fromArbitrator ? m_arb : m_field;
        vantor_device_handle* consumer = fromArbitrator ? m_field : m_arb;

        u8 data[VANTOR_VAR_WRITE_SIZE];
        for (int i = 0; i < VANTOR_VAR_WRITE_SIZE; ++i)
            data[i] = u8(0xA0 + i);
        QCOMPARE(vantor_write_var_by_id(producer, u16(id), data), VANTOR_OK);
        QCOMPARE(vantor_write_var_by_id(consumer, u16(id), data), VANTOR_ERR_NOT_FOUND);

        // Nothing moves before an arbitrator scans.
        u32 code = 0;
        u8 promptness = 9;
        QByteArray buf = readVar(consumer, u16(id), &code, &promptness);
        QCOMPARE(code, VANTOR_VAR_NOT_FRESH);
        QCOMPARE(promptness, u8(0));
        QCOMPARE(buf.mid(2, length), QByteArray(length, '\0'));

        QCOMPARE(vantor_start_ba(m_field, macrocycle), VANTOR_ERR_NOT_ARBITRATOR);
        QCOMPARE(vantor_change_macrocycle(m_arb, 2), VANTOR_ERR_STATE);
        QCOMPARE(vantor_start_ba(m_arb, macrocycle), VANTOR_OK);
        if (changeTo)
            QCOMPARE(vantor_change_macrocycle(m_arb, changeTo), VANTOR_OK);
        if (aperiodic) {
            QCOMPARE(vantor_send_aper_by_id(m_field, u16(id), 1), VANTOR_OK);
            u16 param = 0;
            QVERIFY(waitEvent(m_field, VANTOR_EVT_SEND_APU, &param));
            QCOMPARE(int(param), id);
        }
        const quint64 start = VantorSimulator::macrocycles("net");
        QTRY_VERIFY_WITH_TIMEOUT(VantorSimulator::macrocycles("net") >= start + 3, 3000);

        buf = readVar(consumer, u16(id), &code, &promptness);
        QCOMPARE(code, arrives ? VANTOR_OK : VANTOR_VAR_NOT_FRESH);
        QCOMPARE(int(u8(buf[1])), length);
        const QByteArray sent(reinterpret_cast<const char*>(data), length);
        QCOMPARE(buf.mid(2, length), arrives ? sent : QByteArray(length, '\0'));
        // Bytes past the variable are never the writer's extra bytes.
        QCOMPARE(buf.mid(2 + length), QByteArray(VANTOR_VAR_READ_SIZE - 2 - length, '\0'));
        QCOMPARE(vantor_stop_ba(m_arb), VANTOR_OK);
    }

    void stationValues_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("moves");
        for (const char* pattern : { "sawtooth:400", "square:200", "sine:400", "walk:200" })
            QTest::newRow(pattern) << pattern << true;
        QTest::newRow("static") << "static" << false;
    }

    // A produced variable nobody writes carries its station's own values; a value
    // written by the control side wins from then on.
    void stationValues()
    {
        QFETCH(QString, pattern);
        QVector<VantorSimulator::Board> boards;
        QVector<VantorSimulator::Network> networks;
        QString error;
        QVERIFY2(VantorSimulator::parseBoards("network net pattern=0x0100:" + pattern, &boards, &error, &networks),
                 qPrintable(error));
        VantorSimulator::setNetwork(networks.value(0));
        startNetwork();
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        u8 zeros[VANTOR_VAR_WRITE_SIZE] = {};
        QCOMPARE(vantor_write_var_by_id(m_arb, 0x0100, zeros), VANTOR_OK);
        u32 code = 0;
        QSet<QByteArray> seen;
        for (int i = 0; i < 6; ++i) {
            QTest::qWait(70);
            seen.insert(readVar(m_field, 0x0100, &code).mid(2, 8));
        }
        QTEST(seen.size() > 1, "moves");

        u8 data[VANTOR_VAR_WRITE_SIZE] = { 0x5A, 0xA5 };
        QCOMPARE(vantor_write_var_by_id(m_arb, 0x0100, data), VANTOR_OK);
        QCOMPARE(vantor_write_var_by_id(m_arb, 0x0100, zeros), VANTOR_OK); // written by hand, even zeros
        const quint64 start = VantorSimulator::macrocycles("net");
        QTRY_VERIFY_WITH_TIMEOUT(VantorSimulator::macrocycles("net") >= start + 3, 3000);
        QTest::qWait(250);
        QCOMPARE(readVar(m_field, 0x0100, &code).mid(2, 8), QByteArray(8, '\0'));
    }

    void initRefusals_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<u32>("code");

        const QByteArray good(fieldXml);
        QTest::newRow("runs") << good << VANTOR_OK;
        QTest::newRow("missing file") << QByteArray() << VANTOR_ERR_CONFIG_FILE;
        QTest::newRow("cut short") << good.left(good.size() / 2) << VANTOR_ERR_CONFIG_FILE;
        QTest::newRow("other document") << QByteArray("<brxprj version=\"1.0\"/>") << VANTOR_ERR_CONFIG_FILE;
        QTest::newRow("identifier not a number")
            << QByteArray(good).replace("<ID>0x0300</ID>", "<ID>three</ID>") << VANTOR_ERR_CONFIG_FILE;
        QTest::newRow("variable too long")
            << QByteArray(good).replace("<Length>0x04</Length>", "<Length>0x7f</Length>") << VANTOR_ERR_CONFIG_FILE;
        QTest::newRow("speed of another board")
            << QByteArray(good).replace("<Speed>0x01</Speed>", "<Speed>0x02</Speed>") << VANTOR_ERR_CONFIG_FILE;
    }

    void initRefusals()
    {
        QFETCH(QByteArray, content);
        QFETCH(u32, code);
        VantorSimulator::setBoards({ VantorSimulator::Board() });
        u32 err = 1;
        m_field = vantor_device_open(VANTOR_INTERFACE_USB, 0, &err);
        const QByteArray path = content.isEmpty() ? m_dir.filePath("absent.xml").toUtf8()
                                                  : writeFile("station.xml", content).toUtf8();
        QCOMPARE(vantor_start_network(m_field), VANTOR_ERR_STATE);
        QCOMPARE(vantor_init_network(m_field, 0, path.constData(), nullptr), code);
        QCOMPARE(vantor_start_network(m_field), code == VANTOR_OK ? VANTOR_OK : VANTOR_ERR_STATE);
    }

    void events()
    {
        startNetwork();
        u16 param = 0;
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        QList<u16> seen;
        // The third instruction of the first table suspends with event number 0xa3.
        QVERIFY(waitEvent(m_arb, VANTOR_EVT_BA_SUSPEND | 0xA3, &param, &seen));
        QCOMPARE(seen.first(), u16(VANTOR_EVT_BA_ACTIVITY));
        QCOMPARE(param, u16(2));
        QCOMPARE(vantor_stop_ba(m_arb), VANTOR_OK);
        QVERIFY(waitEvent(m_arb, VANTOR_EVT_BA_STOP1));
        vantor_medium medium;
        QCOMPARE(vantor_get_medium(m_arb, &medium), VANTOR_OK);
        QCOMPARE(medium.baStatus, u16(0));
    }

    void messages_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<u16>("destination");
        QTest::addColumn<bool>("ack");
        QTest::addColumn<u32>("code");
        QTest::addColumn<bool>("delivered");
        QTest::addColumn<u16>("report");

        QTest::newRow("no data") << 0 << u16(0x0200) << false << VANTOR_OK << true << u16(0);
        QTest::newRow("one byte, acknowledged") << 1 << u16(0x0200) << true << VANTOR_OK << true << u16(0);
        QTest::newRow("longest") << 256 << u16(0x0200) << false << VANTOR_OK << true << u16(0);
        QTest::newRow("too long") << 257 << u16(0x0200) << false << VANTOR_ERR_BAD_PARAM << false << u16(0);
        QTest::newRow("nobody listens") << 4 << u16(0x0999) << true << VANTOR_OK << false << u16(1);
        QTest::newRow("not in the file") << 4 << u16(0x0555) << false << VANTOR_ERR_NOT_FOUND << false << u16(0);
    }

    void messages()
    {
        QFETCH(int, length);
        QFETCH(u16, destination);
        QFETCH(bool, ack);
        QFETCH(u32, code);
        QFETCH(bool, delivered);
        startNetwork();
        u8 msg[VANTOR_MSG_SIZE] = {};
        msg[1] = ack ? 0x10 : 0;
        msg[2] = u8((length + 6) >> 8);
        msg[3] = u8(length + 6);
        msg[4] = u8(destination >> 8);
        msg[5] = u8(destination);
        msg[7] = 0x01; // source 0x0100, both segments 0
        for (int i = 10; i < VANTOR_MSG_SIZE; ++i)
            msg[i] = u8(i * 7);
        QCOMPARE(vantor_write_msg(m_arb, 0, msg), code);
        if (code != VANTOR_OK)
            return;
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        u16 param = 99;
        QVERIFY(waitEvent(m_arb, VANTOR_EVT_SEND_MSG, &param));
        QTEST(param, "report");

        u8 got[VANTOR_MSG_SIZE];
        std::memset(got, 0xEE, sizeof got);
        QCOMPARE(vantor_read_msg(m_field, got), delivered ? VANTOR_OK : VANTOR_ERR_NO_MESSAGE);
        if (!delivered)
            return;
        QCOMPARE(int(got[2] | got[3] << 8), length);
        // Addresses and data as sent, nothing past the data.
        QCOMPARE(QByteArray(reinterpret_cast<char*>(got + 4), 6 + VANTOR_MSG_DATA_MAX),
                 QByteArray(reinterpret_cast<char*>(msg + 4), 6 + length) + QByteArray(VANTOR_MSG_DATA_MAX - length, '\0'));
        QCOMPARE(vantor_read_msg(m_field, got), VANTOR_ERR_NO_MESSAGE);
    }

    void medium_data()
    {
        QTest::addColumn<quint16>("fault");
        QTest::addColumn<bool>("stuck");
        QTest::addColumn<QList<u16>>("commands");
        QTest::addColumn<quint16>("status");

        QTest::newRow("both channels") << quint16(0) << false << QList<u16> { 0x10 } << quint16(0x03);
        QTest::newRow("channel 1 transmit error") << quint16(0x04) << false << QList<u16>() << quint16(0x07);
        QTest::newRow("cleared") << quint16(0x3C) << false << QList<u16> { 0x10, 0x20, 0x40 } << quint16(0x03);
        QTest::newRow("stuck") << quint16(0x08) << true << QList<u16> { 0x40 } << quint16(0x0B);
        QTest::newRow("both off") << quint16(0) << false << QList<u16> { 0x0A } << quint16(0x00);
        QTest::newRow("off then on again") << quint16(0) << false << QList<u16> { 0x0A, 0x05 } << quint16(0x03);
    }

    void medium()
    {
        QFETCH(quint16, fault);
        QFETCH(bool, stuck);
        QFETCH(QList<u16>, commands);
        QFETCH(quint16, status);
        startNetwork();
        QVERIFY(VantorSimulator::setMediumFault(0, fault, stuck));
        for (u16 cmd : commands)
            QCOMPARE(vantor_set_medium_cmd(m_arb, cmd), VANTOR_OK);
        QCOMPARE(vantor_set_medium_cmd(m_arb, 0x80), VANTOR_ERR_BAD_PARAM);
        vantor_medium medium;
        QCOMPARE(vantor_get_medium(m_arb, &medium), VANTOR_OK);
        QCOMPARE(medium.mediumStatus, status);

        // Frames are counted on the channels that carry them, on every board.
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        const quint64 start = VantorSimulator::macrocycles("net");
        QTRY_VERIFY_WITH_TIMEOUT(VantorSimulator::macrocycles("net") >= start + 2, 3000);
        vantor_medium field;
        QCOMPARE(vantor_get_medium(m_arb, &medium), VANTOR_OK);
        QCOMPARE(vantor_get_medium(m_field, &field), VANTOR_OK);
        QCOMPARE(medium.counters[0] > 0, (status & 0x05) == 0x01);
        QCOMPARE(medium.counters[1] > 0, (status & 0x0A) == 0x02);
        QVERIFY(field.counters[0] > 0 && field.counters[1] > 0);
        QVERIFY(medium.baStatus != 0);
    }

    void pulledBoard_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<u32>("code");
        QTest::newRow("usb") << 0 << VANTOR_ERR_USB_NO_RESPONSE;
        QTest::newRow("pci") << 1 << VANTOR_ERR_NO_DEVICE;
    }

    void pulledBoard()
    {
        QFETCH(int, position);
        QFETCH(u32, code);
        startNetwork();
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        vantor_device_handle*& pulled = position == 0 ? m_arb : m_field;
        VantorSimulator::pullBoard(position);
        u8 data[VANTOR_VAR_WRITE_SIZE] = {};
        u32 readCode = 0;
        u16 ev = 0, param = 0;
        vantor_medium medium;
        vantor_monitoring_infos info;
        const u32 writeCode = vantor_write_var_by_id(pulled, position == 0 ? 0x0100 : 0x0200, data);
        readVar(pulled, 0x0100, &readCode);
        QCOMPARE((QList<u32> { writeCode, readCode, vantor_read_evt(pulled, &ev, &param), vantor_get_medium(pulled, &medium),
                               vantor_get_monitoring_infos(pulled, &info), vantor_stop_ba(pulled) }),
                 (QList<u32> { code, code, code, code, code, code }));
        QCOMPARE(vantor_device_close(pulled), VANTOR_OK);
        pulled = nullptr;

        // The scan goes on, or stops with its arbitrator.
        const quint64 before = VantorSimulator::macrocycles("net");
        QTest::qWait(50);
        QCOMPARE(VantorSimulator::macrocycles("net") > before, position != 0);

        VantorSimulator::plugBoard(position);
        u32 err = 1;
        pulled = vantor_device_open(position == 0 ? VANTOR_INTERFACE_USB : VANTOR_INTERFACE_PCI, 0, &err);
        QCOMPARE(err, VANTOR_OK);
    }

    void fileTransfer_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("case_");
        QTest::addColumn<u32>("report");
        QTest::addColumn<int>("packets");

        QTest::newRow("empty") << 0 << "" << VANTOR_OK << 1;
        QTest::newRow("one packet") << 256 << "" << VANTOR_OK << 1;
        QTest::newRow("one byte more") << 257 << "" << VANTOR_OK << 2;
        QTest::newRow("many packets") << 5000 << "" << VANTOR_OK << 20;
        QTest::newRow("aborted") << 100000 << "abort" << VANTOR_ERR_ABORTED << -1;
        QTest::newRow("no reception directory") << 10 << "nodir" << VANTOR_ERR_FILE << 1;
        QTest::newRow("receiver pulled") << 100000 << "pull" << VANTOR_ERR_NOT_FOUND << -1;
    }

    void fileTransfer()
    {
        QFETCH(int, size);
        QFETCH(QString, case_);
        QFETCH(u32, report);
        QFETCH(int, packets);
        FileLog log;
        vantor_callbacks cb = { &FileLog::completion, &FileLog::progression, nullptr, nullptr, &log };
        startNetwork(&cb, &cb);
        QTemporaryDir received;
        const QByteArray dir = case_ == "nodir" ? QByteArray() : (received.path() + "/").toUtf8();
        QCOMPARE(vantor_set_file_reception_dir_path(m_field, dir.constData()), VANTOR_OK);
        QCOMPARE(vantor_set_file_reception_dir_path(m_field, "/no/such/dir/"), VANTOR_ERR_FILE);

        QByteArray content(size, '\0');
        for (int i = 0; i < size; ++i)
            content[i] = char(i * 13 + i / 256);
        QByteArray path = writeFile("report.bin", content).toUtf8();
        QByteArray missing = m_dir.filePath("missing.bin").toUtf8();
        QCOMPARE(vantor_send_file(m_arb, 2, 0x0201, 1, 0x0101, 0, missing.data()), VANTOR_ERR_FILE);
        QCOMPARE(vantor_send_file(m_arb, 2, 0x0201, 0, 0x0101, 0, path.data()), VANTOR_ERR_NOT_FOUND);
        VantorSimulator::setFilePacketUs(case_.isEmpty() || case_ == "nodir" ? 0 : 2000);
        QCOMPARE(vantor_send_file(m_arb, 2, 0x0201, 1, 0x0101, 0, path.data()), VANTOR_OK);
        QCOMPARE(vantor_send_file(m_arb, 2, 0x0201, 1, 0x0101, 0, path.data()), VANTOR_ERR_BUSY);
        // Packets wait for an arbitrator.
        QTest::qWait(20);
        QVERIFY(log.snapshot().progress.isEmpty());
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        if (!case_.isEmpty() && case_ != "nodir") {
            QTRY_VERIFY(!log.snapshot().progress.isEmpty());
            if (case_ == "abort")
                QCOMPARE(vantor_abort_file_emission(m_arb), VANTOR_OK);
            else
                VantorSimulator::pullBoard(1);
        }
        QTRY_VERIFY_WITH_TIMEOUT(log.snapshot().completions.contains(1), 10000);
        const FileLog::Seen seen = log.snapshot();

        QVERIFY(!seen.threads.contains(QThread::currentThread()));
        QCOMPARE(seen.completions.value(1).first, report);
        QCOMPARE(seen.completions.value(1).second, QString::fromUtf8(path));
        QCOMPARE(seen.completions.contains(0), case_ != "pull");
        if (case_ != "pull")
            QCOMPARE(seen.completions.value(0).first, report);
        const QString target = received.filePath("report.bin");
        QCOMPARE(QFile::exists(target), report == VANTOR_OK);
        if (packets < 0)
            return;
        // Both ends see every packet, in order, of the same total.
        QList<QPair<int, int>> expected;
        for (int p = 1; p <= packets; ++p)
            expected << qMakePair(1, p) << qMakePair(0, p);
        QCOMPARE(seen.progress, expected);
        QCOMPARE(seen.total, u32(packets));
        if (report == VANTOR_OK) {
            QCOMPARE(seen.completions.value(0).second, target);
            QFile f(target);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), content);
        }
        QCOMPARE(vantor_abort_file_emission(m_arb), VANTOR_ERR_STATE);
    }

    // While its arbitrator scans, the bus is what the simulated capture card listens to.
    void publishedToTheCapture()
    {
        startNetwork();
        QVERIFY(!FipSimulatedNetwork::current());
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        QTRY_VERIFY(FipSimulatedNetwork::current());
        const std::shared_ptr<FipSimulatedNetwork> net = FipSimulatedNetwork::current();
        FipSimulatedNetwork::Scan scan;
        quint64 revision = 0;
        QVERIFY(net->scan(&scan, &revision));
        QCOMPARE(scan.variables.size(), 2);

        u8 msg[VANTOR_MSG_SIZE] = { 0, 0, 0, 6 + 2, 0x02, 0x00, 0, 0x01, 0x00, 0, 0xCA, 0xFE };
        QCOMPARE(vantor_write_msg(m_arb, 0, msg), VANTOR_OK);
        FipSimulatedNetwork::Message m;
        bool taken = false;
        QTRY_VERIFY(taken || (taken = net->takeMessage(&m)));
        QCOMPARE(m.data, QByteArray("\xCA\xFE"));
        QCOMPARE(m.destinationId, quint16(0x0200));

        // Faults asked of a running network reach the capture side at once.
        FipTrafficGenerator::Faults faults;
        faults.fcs = 0.25;
        VantorSimulator::setFaults("net", faults);
        QTRY_VERIFY(net->scan(&scan, nullptr) && scan.faults.fcs == 0.25);

        QCOMPARE(vantor_change_macrocycle(m_arb, 2), VANTOR_OK);
        QTRY_VERIFY(net->scan(&scan, nullptr) && scan.variables.size() == 1);
        quint64 changed = 0;
        net->scan(&scan, &changed);
        QVERIFY(changed != revision);
        QCOMPARE(scan.variables[0].id, quint16(0x0101));
        QCOMPARE(vantor_stop_ba(m_arb), VANTOR_OK);
        QVERIFY(!FipSimulatedNetwork::current());
        QVERIFY(!net->scan(&scan, nullptr));
    }

    // A project run with nobody at the controls (the capture server's --project):
    // its scan table, cycle by cycle and padded, is what a capture sees.
    void projectBusPlaysTheScanTable()
    {
        VantorProjectBus project;
        QString error;
        QVERIFY(!project.start(m_dir.filePath("missing.brxprj"), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY2(project.start(BX_SOURCE_DIR "/resources/examples/brantix/2sta_worldfip/2sta_worldfip_2M5.brxprj",
                               &error),
                 qPrintable(error));
        QCOMPARE(project.speedCode(), quint8(2));
        QTRY_VERIFY(FipSimulatedNetwork::current());
        FipSimulatedNetwork::Scan scan;
        QVERIFY(FipSimulatedNetwork::current()->scan(&scan, nullptr));
        QCOMPARE(scan.stations.size(), project.stations());
        QVERIFY(!scan.microcycles.isEmpty());
        QCOMPARE(scan.paddingId, quint16(0x9080));
        QVERIFY(scan.silenceUs > 0 && scan.turnaroundUs > 0 && scan.turnaroundUs < scan.silenceUs);

        FipTrafficGenerator bus(project.speedCode());
        QSet<quint16> sent;
        for (int i = 0; i < 2000; ++i) {
            const FipFrame f = bus.next();
            if (f.bytes.at(0) == 0x03)
                sent.insert(quint16(quint8(f.bytes.at(1)) << 8 | quint8(f.bytes.at(2))));
        }
        for (const FipMicrocycle& micro : scan.microcycles)
            for (quint16 id : micro.ids)
                QVERIFY(sent.contains(id));
        QVERIFY(sent.contains(0x9080));
        project.stop();
        QVERIFY(!FipSimulatedNetwork::current());
    }

    // A window closed at once stops the detection before its thread has run.
    void detectionStoppedBeforeItsThreadRunsEnds()
    {
        QMutex mutex;
        QThread thread;
        auto* detection = new KivDevicesDetection(&mutex);
        detection->attachThread(thread);
        detection->moveToThread(&thread);
        connect(&thread, &QThread::finished, detection, &QObject::deleteLater);
        detection->stopProcessing();
        thread.start();
        thread.quit();
        const bool ended = thread.wait(5000);
        if (!ended) { // stopped again, so that the test ends
            detection->stopProcessing();
            thread.wait();
        }
        QVERIFY(ended);
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
