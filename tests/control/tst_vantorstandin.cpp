// The simulated arbitrator boards through the board library's own calls, with
// hand-written station files; the design's exported files run on them in the
// arbitrator worker tests.

#include "FipSimulatedNetwork.h"
#include "VantorProjectBus.h"
#include "VantorSimulator.h"
#include "vantor.h"

#include <QtTest>

#include <cmath>
#include <cstring>
#include <mutex>

namespace {

// Two stations of one network: "Arbitrator" at address 1 scans 0x0100 and 0x0200
// in its first table and 0x0101 in its second; "Field" produces 0x0200.
const char* const arbitratorXml = R"(<?xml version="1.0" encoding="utf-8"?>
<StationConfiguration version="1.1">
 <SubscriberName>Arbitrator</SubscriberName>
 <SubscriberNumber>0x01</SubscriberNumber>
 <Speed>0x01</Speed>
 <TSlot>0x00</TSlot>
 <BusArbiter enabled="true">
  <BAMaxSubscriberNumber>0x02</BAMaxSubscriberNumber>
  <BAScanTable number="0">
   <SEND_ID_DAT>0x0100</SEND_ID_DAT>
   <SEND_ID_DAT>512</SEND_ID_DAT>
   <SUSPEND delay="0x0001">0xa3</SUSPEND>
   <WAIT_TIME>0x0010</WAIT_TIME>
   <NEXT_MACRO/>
  </BAScanTable>
  <BAScanTable number="1">
   <SEND_ID_DAT>0x0101</SEND_ID_DAT>
   <NEXT_MACRO/>
  </BAScanTable>
 </BusArbiter>
 <Variables>
  <Variable><Name>a</Name><ID>0x0100</ID><Length>0x08</Length><Type>0x00</Type></Variable>
  <Variable><Name>b</Name><ID>0x0101</ID><Length>0x02</Length><Type>0x00</Type>
   <Refreshment type="0x01" period="0x0050"/></Variable>
  <Variable><Name>c</Name><ID>0x0200</ID><Length>0x7e</Length><Type>0x01</Type>
   <Promptitude type="0x01" period="0x0050"/></Variable>
 </Variables>
 <Messages>
  <Message><SourceID>0x0100</SourceID><SourceSegment>0x00</SourceSegment><DestinationID>0x0200</DestinationID>
   <DestinationSegment>0x00</DestinationSegment><Type emissionChannel="0" ackRequestEnabled="true" fileTransferEnabled="false">toSend</Type></Message>
  <Message><SourceID>0x0100</SourceID><SourceSegment>0x00</SourceSegment><DestinationID>0x0999</DestinationID>
   <DestinationSegment>0x00</DestinationSegment><Type emissionChannel="1" ackRequestEnabled="true" fileTransferEnabled="false">toSend</Type></Message>
  <Message><SourceID>0x0101</SourceID><SourceSegment>0x00</SourceSegment><DestinationID>0x0201</DestinationID>
   <DestinationSegment>0x01</DestinationSegment><Type emissionChannel="2" ackRequestEnabled="false" fileTransferEnabled="true">toSend</Type></Message>
 </Messages>
</StationConfiguration>
)";

const char* const fieldXml = R"(<?xml version="1.0" encoding="utf-8"?>
<StationConfiguration version="1.1">
 <SubscriberName>Field</SubscriberName>
 <SubscriberNumber>0x02</SubscriberNumber>
 <Speed>0x01</Speed>
 <TSlot>0x00</TSlot>
 <Variables>
  <Variable><Name>a</Name><ID>0x0100</ID><Length>0x08</Length><Type>0x01</Type></Variable>
  <Variable><Name>b</Name><ID>0x0101</ID><Length>0x02</Length><Type>0x01</Type></Variable>
  <Variable><Name>c</Name><ID>0x0200</ID><Length>0x7e</Length><Type>0x00</Type></Variable>
  <Variable><Name>d</Name><ID>0x0300</ID><Length>0x04</Length><Type>0x01</Type></Variable>
 </Variables>
 <Messages>
  <Message><SourceID>0x0100</SourceID><SourceSegment>0x00</SourceSegment><DestinationID>0x0200</DestinationID>
   <DestinationSegment>0x00</DestinationSegment><Type fileTransferEnabled="false">toReceive</Type></Message>
  <Message><SourceID>0x0101</SourceID><SourceSegment>0x00</SourceSegment><DestinationID>0x0201</DestinationID>
   <DestinationSegment>0x01</DestinationSegment><Type fileTransferEnabled="true">toReceive</Type></Message>
 </Messages>
</StationConfiguration>
)";

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

class TestVantorStandIn : public QObject
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
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void cleanup()
    {
        for (vantor_device_handle* h : { m_arb, m_field }) {
            if (h)
                vantor_device_close(h);
        }
        m_arb = m_field = nullptr;
        VantorSimulator::reset();
    }

    void detection_data()
    {
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<quint32>>("last"); // type, index, number, speed, subsystem of the last board

        QTest::newRow("none") << "# nothing plugged\n" << 0 << QList<quint32>();
        QTest::newRow("one usb") << "usb number=0x00012345 speed=3" << 1
                                 << QList<quint32> { 2, 0, 0x12345, 3, 0 };
        QTest::newRow("many, indexes per type")
            << "pci subsys=0x5601\nusb\npci # spare\nother\nusb index=7 number=4096 speed=0" << 5
            << QList<quint32> { 2, 7, 4096, 0, 0 };
        QTest::newRow("pci form factor by default") << "pci number=0xdeadbeef" << 1
                                                    << QList<quint32> { 1, 0, 0xdeadbeef, 1, 0x5301 };
        QTest::newRow("counted around given indexes") << "usb\nusb index=0\nusb" << 3
                                                      << QList<quint32> { 2, 2, 0xA10023, 1, 0 };
        QTest::newRow("index given twice") << "pci index=1\nusb index=1\npci index=1" << -1 << QList<quint32>();
        QTest::newRow("unknown kind") << "usb\nfirewire" << -1 << QList<quint32>();
        QTest::newRow("speed out of range") << "usb speed=4" << -1 << QList<quint32>();
        QTest::newRow("more than the list holds") << QString("usb\n").repeated(VANTOR_MAX_RECORDS + 1) << -1
                                                  << QList<quint32>();
    }

    void detection()
    {
        QFETCH(QString, description);
        QFETCH(int, count);
        const QString path = writeFile("boards.txt", description.toUtf8());
        QString error;
        const bool loaded = VantorSimulator::loadBoardsFile(path, &error);
        QCOMPARE(loaded, count >= 0);
        if (!loaded) {
            QVERIFY(error.startsWith("line ") || error.contains("more than"));
            return;
        }
        u8 n = 99;
        QCOMPARE(vantor_get_devices_number(&n), VANTOR_OK);
        QCOMPARE(int(n), count);
        vantor_record records[VANTOR_MAX_RECORDS];
        std::memset(records, 0xAA, sizeof records);
        QCOMPARE(vantor_get_devices_list(records, &n), VANTOR_OK);
        QCOMPARE(int(n), count);
        QCOMPARE(records[count].bytes[0], u8(0xAA)); // nothing written past the boards
        for (int i = 0; i < count; ++i) {
            const u8* r = records[i].bytes;
            u32 err = 1;
            vantor_device_handle* h = vantor_device_open(le32(r), r[4], &err);
            QVERIFY2(h && err == VANTOR_OK, qPrintable(QString::number(i)));
            QVERIFY(!vantor_device_open(le32(r), r[4], &err));
            QCOMPARE(err, VANTOR_ERR_DEVICE_BUSY);
            QCOMPARE(vantor_device_close(h), VANTOR_OK);
            QCOMPARE(vantor_device_close(h), VANTOR_ERR_BAD_HANDLE);
        }
        if (count) {
            const u8* r = records[count - 1].bytes;
            QTEST((QList<quint32> { le32(r), r[4], le32(r + 10), r[17], quint32(r[25] | r[26] << 8) }), "last");
        }
        u32 err = 0;
        QVERIFY(!vantor_device_open(VANTOR_INTERFACE_USB, 42, &err));
        QCOMPARE(err, VANTOR_ERR_NO_DEVICE);
    }

    void variablesCrossTheBus_data()
    {
        QTest::addColumn<bool>("fromArbitrator");
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("length");
        QTest::addColumn<u8>("macrocycle");
        QTest::addColumn<bool>("aperiodic");
        QTest::addColumn<u8>("changeTo");
        QTest::addColumn<bool>("arrives");

        QTest::newRow("arbitrator to field") << true << 0x0100 << 8 << u8(1) << false << u8(0) << true;
        QTest::newRow("field to arbitrator, longest") << false << 0x0200 << 126 << u8(1) << false << u8(0) << true;
        QTest::newRow("second table only") << true << 0x0101 << 2 << u8(2) << false << u8(0) << true;
        QTest::newRow("not in the running table") << true << 0x0101 << 2 << u8(1) << false << u8(0) << false;
        QTest::newRow("asked for aperiodically") << true << 0x0101 << 2 << u8(1) << true << u8(0) << true;
        QTest::newRow("changed to the second table") << true << 0x0101 << 2 << u8(1) << false << u8(2) << true;
    }

    void variablesCrossTheBus()
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
        QTest::newRow("counter by default") << "" << true;
        QTest::newRow("sawtooth") << "sawtooth:400" << true;
        QTest::newRow("square") << "square:200" << true;
        QTest::newRow("sine") << "sine:400" << true;
        QTest::newRow("random walk") << "walk:200" << true;
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
        QVERIFY2(VantorSimulator::parseBoards("network net pattern=0x0100:" + (pattern.isEmpty() ? "counter" : pattern),
                                              &boards, &error, &networks),
                 qPrintable(error));
        if (!pattern.isEmpty())
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

    void networkLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("padding"); // -1: refused
        QTest::newRow("defaults") << "network line1" << 0x9080;
        QTest::newRow("everything")
            << "network line1 padding=0x7530 pattern=0x0100:sine:4000,0x0201:static missing-reply=0.01 fcs=0.001 "
               "glitch=0.001 late-reply=0.02 dropout=0.001 dropout-ms=500"
            << 0x7530;
        QTest::newRow("no padding") << "network line1 padding=0" << 0;
        QTest::newRow("no name") << "network padding=0x7530" << -1;
        QTest::newRow("rate above one") << "network line1 fcs=2" << -1;
        QTest::newRow("unknown pattern") << "network line1 pattern=0x0100:wave" << -1;
        QTest::newRow("period too short") << "network line1 pattern=0x0100:sine:5" << -1;
        QTest::newRow("unknown key") << "network line1 speed=1" << -1;
    }

    void networkLines()
    {
        QFETCH(QString, line);
        QFETCH(int, padding);
        QVector<VantorSimulator::Board> boards;
        QVector<VantorSimulator::Network> networks;
        QString error;
        QCOMPARE(VantorSimulator::parseBoards("usb network=line1\n" + line, &boards, &error, &networks), padding >= 0);
        if (padding < 0) {
            QVERIFY(error.startsWith("line 2"));
            return;
        }
        QCOMPARE(boards.size(), 1);
        QCOMPARE(networks.size(), 1);
        QCOMPARE(networks[0].name, QString("line1"));
        QCOMPARE(int(networks[0].paddingId), padding);
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
        u16 code = 0, param = 0;
        QCOMPARE(vantor_read_evt(m_arb, &code, &param), VANTOR_NO_EVENT);
        QVERIFY(VantorSimulator::postEvent(0, VANTOR_EVT_SEND_VAR_T, 0x1234));
        QCOMPARE(vantor_read_evt(m_arb, &code, &param), VANTOR_OK);
        QCOMPARE(code, u16(VANTOR_EVT_SEND_VAR_T));
        QCOMPARE(param, u16(0x1234));

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

        vantor_monitoring_infos info;
        QCOMPARE(vantor_get_monitoring_infos(m_field, &info), VANTOR_OK);
        QVERIFY(info.temperature > 20 && info.temperature < 70);
        QVERIFY(VantorSimulator::setTemperature(1, std::nanf("")));
        QCOMPARE(vantor_get_monitoring_infos(m_field, &info), VANTOR_OK);
        QVERIFY(std::isnan(info.temperature));
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
        QCOMPARE(vantor_write_var_by_id(pulled, position == 0 ? 0x0100 : 0x0200, data), code);
        readVar(pulled, 0x0100, &readCode);
        QCOMPARE(readCode, code);
        QCOMPARE(vantor_read_evt(pulled, &ev, &param), code);
        QCOMPARE(vantor_get_medium(pulled, &medium), code);
        QCOMPARE(vantor_get_monitoring_infos(pulled, &info), code);
        QCOMPARE(vantor_stop_ba(pulled), code);
        u8 n = 0;
        QCOMPARE(vantor_get_devices_number(&n), VANTOR_OK);
        QCOMPARE(n, u8(1));
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
        u8 data[VANTOR_VAR_WRITE_SIZE] = { 0x11, 0x22, 0x33 };
        QCOMPARE(vantor_write_var_by_id(m_arb, 0x0100, data), VANTOR_OK);
        QVERIFY(!FipSimulatedNetwork::current());
        QCOMPARE(vantor_start_ba(m_arb, 1), VANTOR_OK);
        QTRY_VERIFY(FipSimulatedNetwork::current());
        const std::shared_ptr<FipSimulatedNetwork> net = FipSimulatedNetwork::current();
        FipSimulatedNetwork::Scan scan;
        quint64 revision = 0;
        QVERIFY(net->scan(&scan, &revision));
        QCOMPARE(scan.cycleUs, quint32(16 * 62.5));
        QCOMPARE(scan.stations, (QVector<quint8> { 1, 2 }));
        QCOMPARE(scan.variables.size(), 2);
        QCOMPARE((QList<int> { scan.variables[0].id, scan.variables[0].length, scan.variables[1].id,
                               scan.variables[1].length, scan.variables[1].periodCycles }),
                 (QList<int> { 0x0100, 8, 0x0200, 126, 1 }));
        QByteArray value;
        QTRY_VERIFY(net->producedValue(0x0100, &value) && value.startsWith("\x11\x22\x33"));
        QVERIFY(!net->producedValue(0x0300, &value));

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
};

QTEST_MAIN(TestVantorStandIn)
#include "tst_vantorstandin.moc"
