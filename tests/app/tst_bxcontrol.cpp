// The control side of the main window: the control page over an example project
// with both stations bound, then the simulated boards found and bound to stations.
// With BX_SCREENSHOT set, the connected runs save the window as <BX_SCREENSHOT>-*.png.

#include "control/ArbitratorWorkers.h"
#include "control/DeviceTables.h"
#include "control/FipBusArbitratorDevice.h"
#include "control/KivDevicesDetection.h"
#include "control/MainCTModel.h"
#include "control/MnemoCTModel.h"
#include "tests/app/AppTestUtil.h"
#include "vantor.h"

#include <functional>

#include <sys/syscall.h>
#include <unistd.h>

Q_DECLARE_METATYPE(VantorSimulator::Board)

static const QString kProject = AppTest::exampleProject("file_transfer_1M.brxprj");

namespace {

using Board = VantorSimulator::Board;

const QString kTwoStations = AppTest::exampleProject("2sta_worldfip_1M.brxprj");

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

class TstBXControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void byteTyping_data();
    void byteTyping();
    void bytesToSendReloadMnemonics();
    void historyEnds_data();
    void historyEnds();
    void sendFile_data();
    void sendFile();
    void stationCommands();
    void liveValues_data();
    void liveValues();
    void isolationAnswer_data();
    void isolationAnswer();
    void connectedRun();
    void designStaysWhileConnected();
    void closeQuestionStopsTheRun();

    // The boards, with no window open before the test opens one.
    void boardDetection();
    void boardDetectionSleepsWhenIdle();
    void boardThatCannotOpen();
    void boardBinding_data();
    void boardBinding();
    void boardLedColourDirect();

private:
    MainDTModel* design() const { return m_bx->designModel(); }
    /// The first node of a kind (and name, when given) in the design.
    QModelIndex node(quint8 kind, const QString& name = QString()) const;
    void select(const QModelIndex& item);
    QModelIndex station(const QModelIndex& item) const { return design()->getAncestor(item, MainDTModel::STATION); }
    void write(const QModelIndex& item, int column, const QString& value)
    {
        design()->setDataWithoutControl(design()->cell(item, column), value);
    }
    template<typename T> T* child(const QString& name) const { return AppTest::child<T>(*m_bx, name); }
    /// Both stations on simulated boards, the network connected.
    void connectBoth();
    /// A window on the two-station example, its stations in address order.
    static std::unique_ptr<BX> openWindow(QModelIndexList* stations);

    QTemporaryDir m_settingsDir;
    QTemporaryDir m_dir;
    std::unique_ptr<BX> m_bx;
};

void TstBXControl::initTestCase()
{
    AppTest::isolateSettings(m_settingsDir.path());
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    qRegisterMetaType<QList<TARVEXCONF>>("QList<TARVEXCONF>");
}

void TstBXControl::init()
{
    if (QByteArray(QTest::currentTestFunction()).startsWith("board"))
        return;
    m_bx = std::make_unique<BX>();
    m_bx->loadFileProject(kProject);
    QVERIFY(m_bx->isProjectOpen());
    int board = 0;
    for (const QModelIndex& s : design()->getStationIndexes()) {
        write(s, MainDTModel::ColFipDevice, QString("%1 - USB - 1 Mbits/s - 0x%2").arg(board).arg(board + 1, 8, 16, QChar('0')));
        ++board;
    }
    // The field unit takes the arbitrator's message: its mirror is the input message.
    QVERIFY(design()->setData(design()->cell(node(MainDTModel::VARIABLE_IN, "ID (0x0100)"),
                                             MainDTModel::ColVarMessageReceptionEnabled), "true"));
    m_bx->findChild<QTreeView*>("mainCTView")->expandAll();
}

void TstBXControl::cleanup()
{
    if (m_bx)
        design()->undoStack()->setClean(); // nothing to save at close
    m_bx.reset();
    VantorSimulator::reset();
}

QModelIndex TstBXControl::node(quint8 kind, const QString& name) const
{
    for (const QModelIndex& i : design()->getAllIndexes()) {
        if (design()->classType(i) == kind && (name.isEmpty() || design()->text(i, MainDTModel::ColObject) == name))
            return i.sibling(i.row(), 0);
    }
    return QModelIndex();
}

void TstBXControl::select(const QModelIndex& item)
{
    const QModelIndex shown = m_bx->controlModel()->mapFromSource(item);
    QVERIFY(shown.isValid());
    m_bx->findChild<QTreeView*>("mainCTView")->setCurrentIndex(shown);
    QCOMPARE(m_bx->getMainCTSelectedIndex(), item);
}

void TstBXControl::byteTyping_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("idle");
    QTest::addColumn<QString>("data");
    QTest::addColumn<int>("sent");

    QTest::newRow("produced variable") << int(MainDTModel::VARIABLE_OUT) << "varHexaTable" << "varSendDataButton"
                                       << "Apply" << "00 0A 00 00 00 00 00 00 " << 0;
    QTest::newRow("output message") << int(MainDTModel::MESSAGE_OUT) << "msgHexaTable" << "msgSendDataButton"
                                    << "Send" << "00 0A " << 1;
}

void TstBXControl::byteTyping()
{
    QFETCH(int, kind);
    QFETCH(QString, table);
    QFETCH(QString, button);
    QFETCH(QString, idle);
    QFETCH(QString, data);
    QFETCH(int, sent);

    const QModelIndex item = node(quint8(kind));
    if (kind == MainDTModel::MESSAGE_OUT)
        write(item, MainDTModel::ColData, "00 00 ");
    select(item);
    auto* grid = child<QTableWidget>(table);
    auto* send = child<QPushButton>(button);
    QSignalSpy sends(m_bx.get(), &BX::sendMsgCmdClicked);

    QTableWidgetItem* cell = grid->item(0, 1);
    grid->setCurrentItem(cell);
    grid->editItem(cell);
    auto* editor = qobject_cast<QLineEdit*>(grid->viewport()->findChild<QLineEdit*>());
    QVERIFY(editor);
    QTest::keyClicks(editor, "a");
    QTest::keyClick(editor, Qt::Key_Return); // the delegate commits from the event loop
    QTRY_COMPARE(cell->text(), QString("0a"));
    QCOMPARE(cell->font().weight(), int(QFont::Bold));
    QCOMPARE(send->text(), idle + " *");

    send->click();
    QCOMPARE(send->text(), idle);
    QCOMPARE(design()->text(item, MainDTModel::ColData), data);
    QCOMPARE(grid->item(0, 1)->font().weight(), int(QFont::Normal));
    QCOMPARE(sends.count(), sent);
    if (!sent)
        return;
    QCOMPARE(sends.first(), QVariantList({ QVariant::fromValue(station(item)), QVariant::fromValue(item) }));

    // More bytes to send: the grid grows keeping the typed byte; "Data" waits for Send.
    child<QSpinBox>("msgBytesToSendSpinBox")->setValue(3);
    QCOMPARE(grid->item(0, 1)->text(), QString("0A"));
    QCOMPARE(grid->item(0, 2)->text(), QString("00"));
    QCOMPARE(grid->item(0, 3)->flags(), Qt::NoItemFlags);
    QCOMPARE(send->text(), idle + " *");
    QCOMPARE(design()->text(item, MainDTModel::ColData), data);
}

void TstBXControl::bytesToSendReloadMnemonics()
{
    // A mnemonic on the third byte of the output message: it has a value only once
    // three bytes are to be sent.
    const QModelIndex message = node(MainDTModel::MESSAGE_OUT);
    const auto lastChild = [this](const QModelIndex& parent) {
        return design()->index(design()->rowCount(parent) - 1, 0, parent);
    };
    QVERIFY(design()->dropItem("Data Rendering", message));
    const QModelIndex rendering = lastChild(message);
    QVERIFY(design()->dropItem("Mnemonic", rendering));
    const QModelIndex mnemonic = lastChild(rendering);
    write(mnemonic, MainDTModel::ColMnemoType, "UInt8");
    write(mnemonic, MainDTModel::ColMnemoStartBit, "16");
    write(mnemonic, MainDTModel::ColMnemoStopBit, "23");
    write(message, MainDTModel::ColData, "00 00 ");
    select(message);
    auto* view = child<QTreeView>("msgMnemoCTView");
    QCOMPARE(view->model()->rowCount(), 1);
    const QString before = view->model()->index(0, MnemoCTModel::ValueCol).data().toString();
    child<QSpinBox>("msgBytesToSendSpinBox")->setValue(3);
    child<QTableWidget>("msgHexaTable")->item(0, 2)->setText("2a");
    child<QSpinBox>("msgBytesToSendSpinBox")->setValue(4);
    QCOMPARE(view->model()->index(0, MnemoCTModel::ValueCol).data().toString(), QString("42"));
    QVERIFY(before != "42");
}

void TstBXControl::historyEnds_data()
{
    QTest::addColumn<int>("received");
    QTest::addColumn<int>("position");
    QTest::addColumn<bool>("next");
    QTest::addColumn<int>("asked"); // -1: nothing emitted

    QTest::newRow("previous at the first") << 3 << 1 << false << -1;
    QTest::newRow("previous at the second") << 3 << 2 << false << 1;
    QTest::newRow("next at the last") << 3 << 3 << true << -1;
    QTest::newRow("next below the last") << 3 << 2 << true << 3;
    QTest::newRow("nothing received") << 0 << 0 << true << -1;
}

void TstBXControl::historyEnds()
{
    QFETCH(int, received);
    QFETCH(int, position);
    QFETCH(bool, next);
    QFETCH(int, asked);

    const QModelIndex message = node(MainDTModel::MESSAGE_IN);
    select(message);
    write(message, MainDTModel::ColMessagesReceived, QString::number(received));
    write(message, MainDTModel::ColMessagePosition, QString::number(position));
    auto* button = child<QPushButton>(next ? "onNextMsgReceivedButton" : "onPreviousMsgReceivedButton");
    QCOMPARE(button->isEnabled(), asked >= 0);

    QSignalSpy history(m_bx.get(), &BX::msgHistoricCmdClicked);
    QVERIFY(QMetaObject::invokeMethod(m_bx.get(), next ? "onNextMsgReceivedButton" : "onPreviousMsgReceivedButton"));
    QCOMPARE(history.count(), asked >= 0 ? 1 : 0);
    if (asked < 0)
        return;
    QCOMPARE(history.first().at(0).value<QModelIndex>(), station(message));
    QCOMPARE(history.first().at(2).value<quint16>(), quint16(asked));

    // The worker's answer lands in the message and its byte table.
    m_bx->onMsgHistoric(message, quint16(asked), { 0xDE, 0xAD });
    QCOMPARE(design()->text(message, MainDTModel::ColData), QString("DE AD "));
    QCOMPARE(design()->text(message, MainDTModel::ColMessageLength), QString("2"));
    QCOMPARE(child<QTableWidget>("msgHexaTable")->item(0, 1)->text(), QString("AD"));
}

void TstBXControl::sendFile_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("missing path") << "0" << false << "warning";
    QTest::newRow("existing file") << "2" << true << "send";
    QTest::newRow("during a transfer") << "1" << false << "abort";
}

void TstBXControl::sendFile()
{
    QFETCH(QString, state);
    QFETCH(bool, exists);
    QFETCH(QString, outcome);

    const QModelIndex message = node(MainDTModel::MESSAGE_OUT);
    const QString path = m_dir.filePath("payload.bin");
    if (exists)
        QVERIFY(AppTest::writeFile(path, "payload"));
    write(message, MainDTModel::ColTransferPath, path);
    write(message, MainDTModel::ColTransferState, state);
    select(message);
    QSignalSpy sends(m_bx.get(), &BX::sendFileCmdClicked);
    QSignalSpy aborts(m_bx.get(), &BX::abortFileCmdClicked);
    BoxAnswerer answerer({ QMessageBox::Ok });
    child<QPushButton>("fileSendButton")->click();

    QCOMPARE(sends.count(), outcome == "send" ? 1 : 0);
    QCOMPARE(aborts.count(), outcome == "abort" ? 1 : 0);
    QCOMPARE(answerer.texts, outcome == "warning" ? QStringList{ "Impossible to send the file. The path doesn't exist." }
                                                  : QStringList());
    if (outcome != "warning")
        QCOMPARE((outcome == "send" ? sends : aborts).first().at(1).value<QModelIndex>(), message);
}

void TstBXControl::stationCommands()
{
    const QModelIndex arbitrator = node(MainDTModel::STATION, "Arbitrator");
    select(arbitrator);
    QCOMPARE(child<QStackedWidget>("controlStackedWidget")->currentIndex(), 2);
    QSignalSpy ba(m_bx.get(), &BX::baCmdClicked);
    QSignalSpy medium(m_bx.get(), &BX::sendMediumCmdClicked);
    // The arbitrator's buttons, command 0 to 3; the medium choices with their words, in list order.
    for (const char* button : { "baStartButton", "baContinueButton", "baToggleButton", "baStopButton" })
        child<QPushButton>(button)->click();
    for (int i = 0; i < 6; ++i) {
        child<QComboBox>("mediumCmdComboBox")->setCurrentIndex(i);
        child<QPushButton>("sendMediumCmdButton")->click();
    }
    QList<int> commands, words;
    for (const QVariantList& args : ba) {
        QCOMPARE(args.first().value<QModelIndex>(), arbitrator);
        commands << args.at(1).toInt();
    }
    for (const QVariantList& args : medium)
        words << args.at(1).value<quint16>();
    QCOMPARE(commands, QList<int>({ 0, 1, 2, 3 }));
    QCOMPARE(words, QList<int>({ 0x10, 0x20, 0x40, 0x09, 0x06, 0x05 }));
}

void TstBXControl::liveValues_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QStringList>("writes");   // column=value, in order
    QTest::addColumn<QStringList>("expected"); // widget=text (a progress bar: its value)

    const int in = MainDTModel::VARIABLE_IN, msgOut = MainDTModel::MESSAGE_OUT, msgIn = MainDTModel::MESSAGE_IN;
    const QString neverSeen = QString::fromLatin1(vantor_get_error_str(0x60000000));
    QTest::newRow("report code not a number") << in << QStringList{ "96=-" } << QStringList{ "varReportCodeValue= - " };
    QTest::newRow("variable never seen") << in << QStringList{ "96=0x60000000" }
                                         << QStringList{ "varReportCodeValue=Never seen on the network" };
    QTest::newRow("message never seen: the library's text") << msgIn << QStringList{ "96=0x60000000" }
                                                            << QStringList{ "msgReportCodeValue=" + neverSeen };
    QTest::newRow("refreshment and promptness") << in << QStringList{ "94=true", "93=false" }
                                                << QStringList{ "varRefreshmentValue=True", "varPromptnessValue=False" };
    QTest::newRow("emission in progress")
        << msgOut << QStringList{ "103=1.5", "104=3", "105=12", "102=1" }
        << QStringList{ "transferStateValue=Transfer in progress...", "fileSendButton=Cancel",
                        "transferProgressValue=Elapsed Time: 1.5 s - Packets: 3 / 12", "transferProgressBar=25" };
    QTest::newRow("no packet count yet") << msgOut << QStringList{ "105=0", "102=1" }
                                         << QStringList{ "transferProgressBar=0" };
    QTest::newRow("reception in progress") << msgIn << QStringList{ "102=1" }
                                           << QStringList{ "transferStateValue=Receiving Data..." };
    QTest::newRow("complete") << msgOut << QStringList{ "102=1", "102=2" }
                              << QStringList{ "transferStateValue=Complete", "fileSendButton=Send File" };
    QTest::newRow("aborted") << msgIn << QStringList{ "102=3" } << QStringList{ "transferStateValue=Aborted" };
    QTest::newRow("station counters and status")
        << int(MainDTModel::STATION) << QStringList{ "86=1234567", "69=0x8022", "106=41.5 °C" }
        << QStringList{ "ch1NoErrorValue=1,234,567", "baStatusValue=MACRO END", "deviceTemperatureValue=41.5 °C",
                        "baStatusLabel=MACRO END" }; // the information bar shows the first bound station
}

void TstBXControl::liveValues()
{
    QFETCH(int, kind);
    QFETCH(QStringList, writes);
    QFETCH(QStringList, expected);

    const QModelIndex item = node(quint8(kind));
    select(item);
    // A write to another row of the same kind leaves the panel alone.
    QModelIndex other;
    for (const QModelIndex& i : design()->getAllIndexes())
        if (design()->classType(i) == kind && i.sibling(i.row(), 0) != item)
            other = i;
    for (const QString& w : writes) {
        const int column = w.section('=', 0, 0).toInt();
        if (other.isValid())
            write(other, column, "0x00000000");
        write(item, column, w.section('=', 1));
    }
    for (const QString& e : expected) {
        QObject* widget = m_bx->findChild<QObject*>(e.section('=', 0, 0));
        QVERIFY2(widget, qPrintable(e));
        const QVariant shown = qobject_cast<QProgressBar*>(widget) ? widget->property("value") : widget->property("text");
        QCOMPARE(shown.toString(), e.section('=', 1));
    }
}

void TstBXControl::isolationAnswer_data()
{
    QTest::addColumn<int>("answer");
    QTest::newRow("retry") << int(QMessageBox::Retry);
    QTest::newRow("abort") << int(QMessageBox::Abort);
}

void TstBXControl::isolationAnswer()
{
    QFETCH(int, answer);
    const QModelIndex unit = node(MainDTModel::STATION, "Field unit");
    QSignalSpy treatment(m_bx.get(), &BX::stationIsolationTreatment);
    BoxAnswerer answerer({ QMessageBox::StandardButton(answer) });
    m_bx->onStationIsolationEvent(unit);
    QCOMPARE(answerer.titles, QStringList{ "FIP medium failure" });
    QCOMPARE(answerer.texts, QStringList{ "\"Field unit\" : The FIP communication is broken." });
    QCOMPARE(treatment.count(), 1);
    QCOMPARE(treatment.first(), QVariantList({ QVariant::fromValue(unit), answer }));
}

void TstBXControl::connectBoth()
{
    VantorSimulator::Board first, second;
    first.number = 1;
    second.number = 2;
    VantorSimulator::setBoards({ first, second });
    child<QLineEdit>("savePath")->setText(m_dir.path());
    child<QLineEdit>("fileReceptionDir")->setText(m_dir.filePath("received"));
    // The arbitrator station runs the bus.
    write(node(MainDTModel::STATION, "Arbitrator"), MainDTModel::ColBaPresence, "true");
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(m_bx->isNetworkConnected());
}

// The workers write into the design's rows: while they run, nothing replaces or
// restructures it. The actions are disabled and their slots refuse with a message.
void TstBXControl::designStaysWhileConnected()
{
    // Something to undo and something to redo.
    const QModelIndex network = design()->getNetworkIdx();
    QVERIFY(design()->setData(design()->cell(network, MainDTModel::ColObject), "Line A"));
    QVERIFY(design()->setData(design()->cell(network, MainDTModel::ColObject), "Line B"));
    design()->undoStack()->undo();
    m_bx->setCurrentFileProject(kProject, false); // in the recent list, and clean
    connectBoth();
    if (QTest::currentTestFailed())
        return;
    const QStringList before = AppTest::snapshot(*design());
    const int undoIndex = design()->undoStack()->index();
    AppTest::shotWindow(*m_bx, "connected-window");
    const QStringList actions = { "actionCloseProject", "actionNewProject", "actionOpenProject", "actionUndo", "actionRedo" };
    for (const QString& name : actions)
        QVERIFY2(!m_bx->findChild<QAction*>(name)->isEnabled(), qPrintable(name));
    QVERIFY(!child<QMenu>("menuOpenRecent")->isEnabled());

    BoxAnswerer answerer({ QMessageBox::No, QMessageBox::No }); // should a save question come
    int answer = 0;
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        { "close", [&] { m_bx->onActionCloseProject(&answer); } },
        { "new", [&] { m_bx->onActionNewProject(); } },
        { "open or recent", [&] { m_bx->loadFileProject(kProject); } },
        { "dropped project", [&] { m_bx->onBrxprjFileDropped(kProject); } },
    };
    for (const auto& attempt : refused) {
        m_bx->updateStatusBar(0, QString());
        attempt.second();
        QVERIFY2(child<QLabel>("statusMessageLabel")->text().contains("'Control' is in progress"), attempt.first);
    }
    QCOMPARE(answer, int(QMessageBox::Cancel));
    m_bx->findChild<QAction*>("actionUndo")->trigger();
    m_bx->findChild<QAction*>("actionRedo")->trigger();
    QTest::qWait(100); // the workers go on writing their rows
    QVERIFY(answerer.texts.isEmpty());
    QVERIFY(m_bx->isNetworkConnected());
    QCOMPARE(AppTest::snapshot(*design()), before);
    QCOMPARE(design()->undoStack()->index(), undoIndex);

    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(!m_bx->isNetworkConnected());
    for (const QString& name : actions)
        QVERIFY2(m_bx->findChild<QAction*>(name)->isEnabled(), qPrintable(name));
    QVERIFY(child<QMenu>("menuOpenRecent")->isEnabled());
}

// Closing the window while connected, Yes stops the run before anything else goes and
// the design model stays sound. (Cancel: tst_bx's closeDuringRuns.)
void TstBXControl::closeQuestionStopsTheRun()
{
    connectBoth();
    if (QTest::currentTestFailed())
        return;
    design()->undoStack()->setClean();
    const QStringList before = AppTest::snapshot(*design());
    m_bx->show();
    // Walks the whole tree at every change of the running workers: it watches the stop only,
    // which a loaded machine otherwise starves for minutes.
    QAbstractItemModelTester tester(design(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    {
        BoxAnswerer answerer({ QMessageBox::Yes });
        QVERIFY(m_bx->close());
        QCOMPARE(answerer.texts.size(), 1);
    }
    QVERIFY(!m_bx->isNetworkConnected());
    QCOMPARE(m_bx->arbitratorWorkers(), nullptr);
    QCoreApplication::processEvents();
    QCOMPARE(AppTest::snapshot(*design()), before);
}

// On the simulated boards: a byte applied on the producer reaches the consumer's grid;
// disconnected, nothing is left open or running, and the network connects again.
void TstBXControl::connectedRun()
{
    const int threadsBefore = threadCount();
    connectBoth();
    if (QTest::currentTestFailed())
        return;
    for (const QModelIndex& s : design()->getStationIndexes())
        QVERIFY(QFile::exists(m_dir.filePath("Station" + design()->text(s, MainDTModel::ColStationAddress) + ".xml")));
    QVERIFY(!m_bx->devicesDetection()->isScanning());

    const QModelIndex producer = node(MainDTModel::VARIABLE_OUT, "ID (0x0100)");
    select(producer);
    auto* grid = child<QTableWidget>("varHexaTable");
    grid->item(0, 3)->setText("11");
    child<QPushButton>("varSendDataButton")->click();

    const QModelIndex consumer = node(MainDTModel::VARIABLE_IN, "ID (0x0100)");
    select(consumer);
    QTRY_COMPARE(grid->item(0, 3)->text(), QString("11"));
    // The next value produced while the consumer is shown: only the changed byte is bold.
    write(producer, MainDTModel::ColData, "00 00 00 5C 00 00 00 00 ");
    QTRY_COMPARE(grid->item(0, 3)->text(), QString("5C"));
    QCOMPARE(grid->item(0, 3)->font().weight(), int(QFont::Bold));
    QCOMPARE(grid->item(0, 2)->font().weight(), int(QFont::Normal));
    QTRY_COMPARE(child<QLabel>("varReportCodeValue")->text(), QString("Success"));
    select(producer);
    QTRY_COMPARE(child<QLabel>("varRefreshmentValue")->text(), QString("True"));

    select(node(MainDTModel::STATION, "Arbitrator"));
    QTRY_VERIFY(child<QLabel>("deviceTemperatureValue")->text().endsWith(QString::fromUtf8(" °C")));
    AppTest::shotWindow(*m_bx, "control-connected-station");
    select(consumer);
    AppTest::shotWindow(*m_bx, "control-connected-variable");

    // Disconnected: the boards closed, scanning again, no worker or library thread left behind.
    const auto disconnect = [&] {
        m_bx->onCoDecoNetworkButtonClicked();
        QVERIFY(!m_bx->isNetworkConnected());
        QVERIFY(!m_bx->arbitratorWorkers());
        QVERIFY(!VantorSimulator::isOpen(0));
        QVERIFY(!VantorSimulator::isOpen(1));
        QVERIFY(m_bx->devicesDetection()->isScanning());
        QTRY_COMPARE(threadCount(), threadsBefore);
    };
    disconnect();
    // Connected again, every worker passes the barrier and runs.
    m_bx->onCoDecoNetworkButtonClicked();
    QVERIFY(m_bx->isNetworkConnected());
    QCOMPARE(m_bx->arbitratorWorkers()->workers().size(), 2);
    for (FipBusArbitratorDevice* worker : m_bx->arbitratorWorkers()->workers())
        QTRY_VERIFY(worker->isProcessing());
    disconnect();
}

// ---------------------------------------------------------------- boards

// Between two listings the detector's thread waits for an event instead of waking
// every millisecond; stopping it still ends the thread at once.
void TstBXControl::boardDetectionSleepsWhenIdle()
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

void TstBXControl::boardDetection()
{
    {
        // Boards present at start are published at once, even none.
        VantorSimulator::setBoards({});
        RunningDetection run(20);
        QTRY_COMPARE(run.spy.count(), 1);
        QCOMPARE(run.last(), QStringList {});
    }
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB, 3, 0, 0xA1), board(VANTOR_INTERFACE_PCI, 0, 0x9050, 0xB2),
                                 board(VANTOR_INTERFACE_PCI, 2, 0x7901, 0xB3), board(VANTOR_INTERFACE_PCI, 1, 0x1234, 0xB4),
                                 board(VANTOR_INTERFACE_OTHER, 1, 0, 0xC5) });
    RunningDetection run(20);
    QTRY_COMPARE(run.spy.count(), 1);
    QCOMPARE(run.last(), (QStringList { "0 - USB - 5 Mbits/s - 0x000000a1", "0 - PCI - 31.25 kbits/s - 0x000000b2",
                                        "1 - cPCI Optical - 2.5 Mbits/s - 0x000000b3", "2 - Unknown - 1 Mbits/s - 0x000000b4",
                                        "0 - Unknown - 1 Mbits/s - 0x000000c5" }));

    VantorSimulator::pullBoard(0);
    QTRY_COMPARE(run.spy.count(), 2);
    QCOMPARE(run.last().first(), QString("0 - PCI - 31.25 kbits/s - 0x000000b2"));
    VantorSimulator::plugBoard(0);
    QTRY_COMPARE(run.spy.count(), 3);
    QCOMPARE(run.last().size(), 5);

    // One board out and another in between two passes: same count, no new list...
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB, 1, 0, 1), board(VANTOR_INTERFACE_USB, 1, 0, 2),
                                 board(VANTOR_INTERFACE_USB, 1, 0, 3), board(VANTOR_INTERFACE_USB, 1, 0, 4),
                                 board(VANTOR_INTERFACE_USB, 1, 0, 9) });
    QTest::qWait(150);
    QCOMPARE(run.spy.count(), 3);
    // ...until a rescan is forced.
    run.detection.setScanning(true);
    QTRY_COMPARE(run.spy.count(), 4);
    QCOMPARE(run.last().last(), QString("4 - USB - 1 Mbits/s - 0x00000009"));

    // Scanning off: boards come and go unseen.
    run.detection.setScanning(false);
    VantorSimulator::pullBoard(1);
    QTest::qWait(150);
    QCOMPARE(run.spy.count(), 4);
}

void TstBXControl::boardThatCannotOpen()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB), board(VANTOR_INTERFACE_USB) });
    u32 err = 0;
    vantor_device_handle* second = vantor_device_open(VANTOR_INTERFACE_USB, 1, &err);
    QCOMPARE(vantor_set_rgb_led(second, LED_YELLOW), VANTOR_OK);
    QCOMPARE(vantor_device_close(second), VANTOR_OK);
    vantor_device_handle* first = vantor_device_open(VANTOR_INTERFACE_USB, 0, &err);
    QCOMPARE(vantor_set_rgb_led(first, LED_CYAN), VANTOR_OK);

    // The first board is held open elsewhere: listed, with colour 0.
    QMutex mutex;
    const QList<TARVEXCONF> devices = KivDevicesDetection::queryDevices(&mutex);
    vantor_device_close(first);
    QCOMPARE(devices.size(), 2);
    QCOMPARE(devices.at(0).ledColor, quint32(LED_BLACK));
    QCOMPARE(devices.at(1).ledColor, quint32(LED_YELLOW));
}

std::unique_ptr<BX> TstBXControl::openWindow(QModelIndexList* stations)
{
    auto bx = std::make_unique<BX>();
    bx->loadFileProject(kTwoStations);
    *stations = bx->designModel()->getStationIndexes();
    std::sort(stations->begin(), stations->end(), stationLessThan);
    return bx;
}

void TstBXControl::boardBinding_data()
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

void TstBXControl::boardBinding()
{
    QFETCH(QVector<Board>, boards);
    QFETCH(QStringList, bound);
    VantorSimulator::setBoards(boards);
    QModelIndexList list;
    std::unique_ptr<BX> bx = openWindow(&list);
    MainDTModel* design = bx->designModel();
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

    // Nothing bound: the network does not connect, and says why.
    BoxAnswerer answers({ QMessageBox::Ok });
    bx->onCoDecoNetworkButtonClicked();
    QCOMPARE(answers.titles, QStringList { "Connection to Network" });
    QCOMPARE(answers.texts, QStringList { "No station is linked to a device." });
    QVERIFY(!bx->isNetworkConnected());
    QVERIFY(!bx->arbitratorWorkers());
}

void TstBXControl::boardLedColourDirect()
{
    VantorSimulator::setBoards({ board(VANTOR_INTERFACE_USB), board(VANTOR_INTERFACE_PCI) });
    QModelIndexList list;
    std::unique_ptr<BX> bx = openWindow(&list);
    MainDTModel* design = bx->designModel();
    QTRY_COMPARE(bx->getTarvexList().size(), 2); // the detector's first pass is over
    bx->onAutoBindDevicesClicked();

    QVERIFY(bx->setBoardRgbColor(list.at(0), LED_MAGENTA));
    QCOMPARE(design->text(list.at(0), MainDTModel::ColDeviceColor), QString(" Magenta"));
    QCOMPARE(VantorSimulator::ledColour(0), quint32(LED_MAGENTA));
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
}

QTEST_MAIN(TstBXControl)
#include "tst_bxcontrol.moc"
