// The simulated arbitrator boards through the board library's own calls.

#include "VantorSimulator.h"
#include "vantor.h"

#include <QtTest>

#include <cstring>

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
  <Variable><Name>c</Name><ID>0x0200</ID><Length>0x7c</Length><Type>0x01</Type>
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
  <Variable><Name>c</Name><ID>0x0200</ID><Length>0x7c</Length><Type>0x00</Type></Variable>
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
[[maybe_unused]] bool waitEvent(vantor_device_handle* h, u16 wanted, u16* param = nullptr, QList<u16>* seen = nullptr)
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
        QTest::addColumn<QList<quint32>>("first"); // type, index, number, speed, subsystem of the last board

        QTest::newRow("none") << "# nothing plugged\n" << 0 << QList<quint32>();
        QTest::newRow("one usb") << "usb number=0x00012345 speed=3" << 1
                                 << QList<quint32> { 2, 0, 0x12345, 3, 0 };
        QTest::newRow("many, indexes per type")
            << "pci subsys=0x5601\nusb\npci # spare\nother\nusb index=7 number=4096 speed=0" << 5
            << QList<quint32> { 2, 7, 4096, 0, 0 };
        QTest::newRow("pci form factor by default") << "pci number=0xdeadbeef" << 1
                                                    << QList<quint32> { 1, 0, 0xdeadbeef, 1, 0x5301 };
        QTest::newRow("unknown kind") << "usb\nfirewire" << -1 << QList<quint32>();
        QTest::newRow("speed out of range") << "usb speed=4" << -1 << QList<quint32>();
        QTest::newRow("more than the list holds") << QString("usb\n").repeated(VANTOR_MAX_RECORDS + 1) << -1
                                                  << QList<quint32>();
    }

    void detection()
    {
        QFETCH(QString, description);
        QFETCH(int, count);
        QFETCH(QList<quint32>, first);
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
            QCOMPARE((QList<quint32> { le32(r), r[4], le32(r + 10), r[17], quint32(r[25] | r[26] << 8) }), first);
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
        QTest::addColumn<bool>("arrives");

        QTest::newRow("arbitrator to field") << true << 0x0100 << 8 << u8(1) << true;
        QTest::newRow("field to arbitrator, longest") << false << 0x0200 << 124 << u8(1) << true;
        QTest::newRow("second table only") << true << 0x0101 << 2 << u8(2) << true;
        QTest::newRow("not in the running table") << true << 0x0101 << 2 << u8(1) << false;
    }

    void variablesCrossTheBus()
    {
        QFETCH(bool, fromArbitrator);
        QFETCH(int, id);
        QFETCH(int, length);
        QFETCH(u8, macrocycle);
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
        QCOMPARE(vantor_start_ba(m_arb, macrocycle), VANTOR_OK);
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
};

QTEST_GUILESS_MAIN(TestVantorStandIn)
#include "tst_vantorstandin.moc"
