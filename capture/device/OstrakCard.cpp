#include "OstrakCard.h"
#include "OstrakStreamSplitter.h"

#include "kiverrors.h"
#include "modrin.h"
#include "pexil.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>

namespace {

// Packets handed on by the capture-session handler, across every session of the process.
std::atomic<quint64> pexilPacketCounter{ 0 };

constexpr int kEventHeader = 7;
constexpr int kOspHeader = 16;
constexpr int kPexilRecordsMax = 32768;
// Bytes taken off a remote socket per pass, so a fast link still checks its flags.
constexpr qint64 kReadChunk = 256 * 1024;

inline quint32 be16(const char* p)
{
    return (quint32(quint8(p[0])) << 8) | quint8(p[1]);
}

inline quint64 be(const char* p, int bytes)
{
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

inline void putBe(char* p, quint64 value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        p[i] = char(value & 0xFF);
}

void kivDebug(int code)
{
    qDebug().nospace() << "[OSC] " << get_kiv_error(code);
}

void pexilDebug(int code)
{
    qDebug().nospace() << "[OSC] " << pexil_strerror(code);
}

} // namespace

OstrakCard::OstrakCard(QObject* parent)
    : QObject(parent)
{
}

OstrakCard::OstrakCard(CoType type, QObject* parent)
    : QObject(parent)
    , coType(type)
{
    if (type == FtdiD2xx || type == CypressFx3)
        board = new CModrin(int(type));
}

OstrakCard::~OstrakCard()
{
    scanning = false;
    if (locallyConnected || tcpSocket || udpSocket)
        close();
    delete board;
}

int OstrakCard::locallyOpen(unsigned char index)
{
    if (remotelyConnected)
        return ErrRemotelyConnected;
    if (coType == PciFamily) {
        if (!device) {
            device = pexil_device_open(index);
            if (!device)
                return ErrNotOpen;
        }
        pexil_sess_config_t config{};
        config.device = device;
        config.error_handler = pexil_error_handler;
        config.reset_handler = pexil_reset_handler;
        config.user_data = this;
        session = pexil_sess_init(&config);
        if (!session) {
            pexilDebug(pexil_error_get());
            pexil_device_close(device);
            device = nullptr;
            return ErrGeneral;
        }
        pexil_device_infos_t infos{};
        if (pexil_device_infos_get(device, &infos) == PEXIL_OK)
            speed = infos.speed == 0 ? 255 : qint32(infos.speed) - 1;
        else
            speed = 255;
        locallyConnected = true;
        emit connected();
        return 0;
    }
    if (!board)
        return ErrGeneral;
    const int rc = board->connect(index);
    if (rc != 0)
        return rc;
    locallyConnected = true;
    unsigned char reply[256] = {};
    unsigned short length = sizeof reply;
    const int read = board->rq_read_by_id(MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_SPEED, 0, &length, reply, false);
    if (read != 0)
        return read;
    const int code = int(reply[0] & 7) - 1;
    speed = (length >= 1 && code >= 0 && code <= 3) ? code : 255;
    emit connected();
    return 0;
}

int OstrakCard::remotelyTcpOpen(const QString& host, unsigned short port)
{
    if (locallyConnected || remotelyConnected)
        return ErrAlreadyConnected;
    if (tcpSocket)
        return ErrGeneral;
    tcpSocket = new QTcpSocket(this);
    connect(tcpSocket, &QTcpSocket::connected, this, &OstrakCard::onRemoteConnection);
    connect(tcpSocket, &QTcpSocket::disconnected, this, &OstrakCard::onRemoteDisconnection);
    qDebug() << "[OSC] TCP Protocol";
    qDebug().nospace() << "[OSC] Host IP: " << qPrintable(host);
    qDebug().nospace() << "[OSC] Host Port: " << port;
    tcpSocket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    return tcpSocket->waitForConnected(kTcpConnectMs) ? 0 : ErrTcpTimeout;
}

int OstrakCard::remotelyUdpOpen(unsigned short port, const QString& serverAddress)
{
    if (locallyConnected || remotelyConnected)
        return ErrAlreadyConnected;
    if (udpSocket)
        return ErrGeneral;
    qDebug() << "[OSC] UDP Protocol";
    qDebug().nospace() << "[OSC] Host Port: " << port;
    const QHostAddress server(serverAddress.trimmed());
    QHostAddress local(QHostAddress::Any);
    m_udpServer.clear();
    if (!server.isNull() && !server.isEqual(QHostAddress(QHostAddress::AnyIPv4), QHostAddress::TolerantConversion)) {
        // Loopback stays loopback; a server elsewhere is heard on every address, alone.
        if (server.isLoopback() || QNetworkInterface::allAddresses().contains(server))
            local = server;
        else
            m_udpServer = server;
    }
    udpSocket = new QUdpSocket(this);
    if (!udpSocket->bind(local, port)) {
        m_udpBindError = udpSocket->errorString();
        qDebug().nospace() << "[OSC] UDP bind failed: " << qPrintable(m_udpBindError);
        delete udpSocket;
        udpSocket = nullptr;
        return ErrUdpBind;
    }
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kUdpReceiveBuffer);
    udpSocket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    remotelyConnected = true;
    emit connected();
    return 0;
}

void OstrakCard::onRemoteConnection()
{
    remotelyConnected = true;
    emit connected();
}

void OstrakCard::onRemoteDisconnection()
{
    remotelyConnected = false;
    emit disconnected();
}

int OstrakCard::close()
{
    if (tcpSocket) {
        tcpSocket->disconnectFromHost();
        disconnect(tcpSocket, &QTcpSocket::connected, this, &OstrakCard::onRemoteConnection);
        disconnect(tcpSocket, &QTcpSocket::disconnected, this, &OstrakCard::onRemoteDisconnection);
        delete tcpSocket;
        tcpSocket = nullptr;
        remotelyConnected = false;
        return 0;
    }
    if (udpSocket) {
        remotelyConnected = false;
        emit disconnected();
        udpSocket->close();
        delete udpSocket;
        udpSocket = nullptr;
        return 0;
    }
    if (coType == PciFamily) {
        if (session) {
            pexil_sess_exit(session);
            session = nullptr;
        }
        if (!device)
            return 0;
        const int rc = pexil_device_close(device);
        if (rc != PEXIL_OK) {
            pexilDebug(rc);
            return ErrDeviceClose;
        }
        device = nullptr;
        emit disconnected();
        locallyConnected = false;
        return 0;
    }
    if (!board)
        return 0;
    const int rc = board->disconnect();
    if (rc != 0) {
        kivDebug(rc);
        return rc;
    }
    emit disconnected();
    locallyConnected = false;
    return 0;
}

int OstrakCard::startScan()
{
    if (!locallyConnected)
        return 0;
    if (coType == PciFamily) {
        pexil_sess_evt_handler_set(session, pexil_evt_handler);
        const int rc = pexil_sess_start(session);
        if (rc != PEXIL_OK) {
            pexilDebug(rc);
            return ErrSession;
        }
        return 0;
    }
    if (!board)
        return ErrGeneral;
    board->purge_rx();
    board->purge_tx();
    board->purge_event_frame();
    board->purge_reply_frame();
    board->rq_reset(MODRIN_MODULE_CAPTURE, 1, false);
    const unsigned char start = MODRIN_CAPTURE_START;
    const int rc = board->rq_write_by_id(MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_CAPTURE, 1, &start, false);
    if (rc != 0)
        kivDebug(rc);
    return rc;
}

int OstrakCard::stopScan()
{
    int rc = 0;
    if (locallyConnected && board) {
        const unsigned char stop = MODRIN_CAPTURE_STOP;
        rc = board->rq_write_by_id(MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_CAPTURE, 1, &stop, false);
        board->rq_reset(MODRIN_MODULE_CAPTURE, 1, false);
        board->purge_rx();
        board->purge_tx();
        board->purge_event_frame();
        board->purge_reply_frame();
    } else if (locallyConnected && coType == PciFamily && session) {
        const int stopped = pexil_sess_stop(session);
        if (stopped != PEXIL_OK) {
            pexilDebug(stopped);
            rc = ErrSession;
        }
    }
    stopRequested = true;
    scanning = false;
    return rc;
}

int OstrakCard::setHardTrigger(unsigned char ctrl, unsigned short id, unsigned short delay)
{
    if (remotelyConnected)
        return ErrTriggerRemote;
    if (!locallyConnected)
        return ErrNotOpen;
    if (coType == PciFamily || !board)
        return 0;
    const unsigned char command[5] = { ctrl, quint8(id >> 8), quint8(id), quint8(delay >> 8), quint8(delay) };
    for (int i = 0; i < 5; ++i)
        qDebug().nospace() << "command[" << i << "]: " << qPrintable(QString::number(command[i], 16));
    return board->rq_write_by_id(MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_TRIGGER, 5, command, false);
}

int OstrakCard::getHardTrigger(unsigned char* ctrl, unsigned short* id, unsigned short* delay)
{
    if (remotelyConnected)
        return ErrTriggerRemote;
    if (!ctrl || !id || !delay)
        return ErrSession;
    *ctrl = 0;
    *id = 0;
    *delay = 0;
    if (!locallyConnected)
        return ErrNotOpen;
    if (coType == PciFamily || !board)
        return 0;
    unsigned char reply[256] = {};
    unsigned short length = sizeof reply;
    const int rc = board->rq_read_by_id(MODRIN_MODULE_CAPTURE, MODRIN_ELEMENT_TRIGGER, 0, &length, reply, false);
    if (rc != 0)
        return rc;
    if (length != 5)
        return ErrTriggerReply;
    *ctrl = reply[0];
    *id = quint16((reply[1] << 8) | reply[2]);
    *delay = quint16((reply[3] << 8) | reply[4]);
    return 0;
}

void OstrakCard::attachThread(QThread& thread)
{
    homeThread = QThread::currentThread();
    if (coType == FtdiD2xx)
        connect(&thread, &QThread::started, this, &OstrakCard::localUsbReadFipData);
    else if (coType == PciFamily)
        connect(&thread, &QThread::started, this, &OstrakCard::localPciReadFipData);
    else if (tcpSocket)
        connect(&thread, &QThread::started, this, &OstrakCard::remoteTcpReadFipData);
    else if (udpSocket)
        connect(&thread, &QThread::started, this, &OstrakCard::remoteUdpReadFipData);
}

int OstrakCard::whatFlowType(const QByteArray& packet)
{
    if (packet.size() <= 2)
        return 0;
    if (packet.at(0) == 'O' && packet.at(1) == 'S')
        return 2;
    const quint8 first = quint8(packet.at(0));
    return (first == 0x40 || first == 0x41) ? 1 : 0;
}

namespace {

// Size of the complete event packet at p, 0 when it is not all there; checks its counter.
int eventPacket(const char* p, int available, quint64* lastCounter, bool* started)
{
    if (available < kEventHeader)
        return 0;
    const int length = int(be16(p + 5)) + kEventHeader + (quint8(p[0]) == 0x41 ? 2 : 0);
    if (available < length)
        return 0;
    const quint8 cp = quint8(p[2]);
    if (*started) {
        const quint8 previous = quint8(*lastCounter);
        if (previous == 255 && cp != 0)
            qDebug().nospace() << "[OSC] Counter error 0 ! cpFrame: " << 255 << " / eventCp: " << int(cp);
        else if (cp != quint8(previous + 1))
            qDebug().nospace() << "[OSC] Counter error 1 ! cpFrame: " << int(previous) << " / eventCp: " << int(cp);
    }
    *lastCounter = cp;
    *started = true;
    return length;
}

// The same for an Osp packet; frameRecord tells whether it holds a 0xC0 record.
int ospPacket(const char* p, int available, quint64* lastCounter, bool* started, bool* frameRecord)
{
    *frameRecord = false;
    if (available < kOspHeader)
        return 0;
    const quint64 counter = be(p + 4, 8);
    const quint32 records = quint32(be(p + 12, 4));
    qint64 length = kOspHeader;
    for (quint32 i = 0; i < records; ++i) {
        if (length + 3 > available)
            return 0;
        const quint32 size = be16(p + length + 1);
        *frameRecord = *frameRecord || quint8(p[length]) == 0xC0;
        if (size == 0)
            break; // the remaining records would all be read at this same place
        length += size;
    }
    if (length > available)
        return 0;
    if (*started && counter != *lastCounter + 1)
        qDebug().nospace() << "[OSC] Counter error 1 ! cpFrame: " << *lastCounter << " / ospFrmCnt: " << counter;
    *lastCounter = counter;
    *started = true;
    return int(length);
}

} // namespace

bool OstrakCard::treatIProtEvtPkt(QByteArray* input, QByteArray* output, quint64* lastCounter, bool* started,
                                  bool* more)
{
    if (!input || !output || !lastCounter || !started || !more)
        return false;
    const int length = eventPacket(input->constData(), input->size(), lastCounter, started);
    if (length == 0) {
        *more = false;
        return true;
    }
    output->append(input->constData(), length);
    input->remove(0, length);
    if (input->isEmpty())
        *more = false;
    return true;
}

bool OstrakCard::treatOspPkt(QByteArray* input, QByteArray* output, quint64* lastCounter, bool* started, bool* more)
{
    if (!input || !output || !lastCounter || !started || !more)
        return false;
    bool frameRecord = false;
    const int length = ospPacket(input->constData(), input->size(), lastCounter, started, &frameRecord);
    if (length == 0) {
        *more = false;
        return false;
    }
    output->append(input->constData(), length);
    input->remove(0, length);
    if (input->isEmpty())
        *more = false;
    return frameRecord;
}

QString OstrakCard::coTypeStr() const
{
    switch (coType) {
    case FtdiD2xx: return QStringLiteral("Ftdi D2xx");
    case CypressFx3: return QStringLiteral("Cypress FX3");
    default: return QStringLiteral("Unknown");
    }
}

QString OstrakCard::frameTypeStr() const
{
    switch (frameType) {
    case 0: return QStringLiteral("Fip");
    case 1: return QStringLiteral("WorldFip");
    case 2: return QStringLiteral("SlowFip");
    default: return QStringLiteral("Unknown");
    }
}

QString OstrakCard::impedanceStr() const
{
    switch (impedance) {
    case 0: return QStringLiteral("150 Ohms");
    case 1: return QStringLiteral("120 Ohms");
    default: return QStringLiteral("Unknown");
    }
}

QString OstrakCard::speedStr() const
{
    switch (speed) {
    case 0: return QStringLiteral("31.25 kbits/s");
    case 1: return QStringLiteral("1 Mbits/s");
    case 2: return QStringLiteral("2.5 Mbits/s");
    case 3: return QStringLiteral("5 Mbits/s");
    default: return QStringLiteral("Unknown");
    }
}

void OstrakCard::handOver(int flowType, QByteArray& output)
{
    emit fipDataReceived(flowType, output);
    // Keeps the reserved room when the receiver did not keep the packet.
    output.resize(0);
}

void OstrakCard::endLoop()
{
    scanning = false;
    // Back to the thread that attached the loop, which closes and deletes the card.
    if (homeThread && homeThread != thread())
        moveToThread(homeThread);
    emit scanStopped();
}

void OstrakCard::localUsbReadFipData()
{
    scanning = true;
    lastError = 0;
    QByteArray buffer;
    buffer.reserve(2 * kHandOverSize + 2048);
    emit scanStarted();
    bool started = false;
    quint8 previous = 0;
    int result = 0;
    while (scanning && locallyConnected && board) {
        const int rc = board->wait_for_event();
        if (rc == 0) {
            const std::vector<CEventFramePtr> frames = board->read_event_frames();
            for (const CEventFramePtr& f : frames) {
                if (f->event_id == MODRIN_EVT_FIFO_OVERFLOW)
                    qDebug() << "[OSC] Error - Ostrak Card: FIFO overflow !!";
                if (started) {
                    if (previous == 255 && f->cp != 0)
                        qDebug().nospace() << "[OSC] Counter error 0 ! cpFrame: " << 255
                                           << " / event_frame->cp: " << int(f->cp);
                    else if (f->cp != quint8(previous + 1))
                        qDebug().nospace() << "[OSC] Counter error 1 ! cpFrame: " << int(previous)
                                           << " / event_frame->cp: " << int(f->cp);
                }
                previous = f->cp;
                started = true;
                const int dataSize = int(f->data.size());
                const int at = buffer.size();
                buffer.resize(at + kEventHeader + dataSize + (f->marker == 0x41 ? 2 : 0));
                char* out = buffer.data() + at;
                out[0] = char(f->marker);
                out[1] = char(f->type);
                out[2] = char(f->cp);
                putBe(out + 3, f->event_id, 2);
                putBe(out + 5, quint64(f->length), 2);
                if (dataSize)
                    memcpy(out + kEventHeader, f->data.data(), size_t(dataSize));
                if (f->marker == 0x41)
                    putBe(out + kEventHeader + dataSize, f->trailer, 2);
                if (buffer.size() >= kHandOverSize)
                    handOver(1, buffer);
            }
        } else if (rc == KIV_ERR_WAIT_TIMEOUT) {
            if (!scanning)
                break; // the silence of a stopped capture is no traffic pause
            handOver(1, buffer);
            emit noTrafficDetected();
            started = false;
        } else {
            stopScan();
            result = rc;
        }
    }
    // Records read before the stop are not lost.
    if (!buffer.isEmpty())
        handOver(1, buffer);
    lastError = result;
    endLoop();
}

void OstrakCard::localPciReadFipData()
{
    scanning = true;
    lastError = 0;
    emit scanStarted();
    while (scanning) {
        QThread::msleep(10);
        QCoreApplication::processEvents();
    }
    stopScan();
    endLoop();
}

void OstrakCard::reportFaults(const OstrakStreamSplitter& splitter)
{
    const quint64 faults = splitter.faults() - m_reportedFaults;
    const quint64 bytes = splitter.lostBytes() - m_reportedLostBytes;
    if (faults == 0 && bytes == 0)
        return;
    m_reportedFaults = splitter.faults();
    m_reportedLostBytes = splitter.lostBytes();
    qDebug().nospace() << "[OSC] Stream error: " << bytes << " bytes outside any packet";
    emit streamFaults(faults, bytes);
}

// Packets taken off the link: the traffic goes on, and a full output goes to the window.
void OstrakCard::afterSplit(bool taken, int flowType, QByteArray& output, QElapsedTimer& sincePacket,
                            const OstrakStreamSplitter& splitter)
{
    if (taken)
        sincePacket.restart();
    if (output.size() >= kHandOverSize) {
        reportFaults(splitter);
        handOver(flowType, output);
        // The time the window took to decode is no silence of the link.
        sincePacket.restart();
    }
    // Bytes that never make a packet (a trickle, garbage) are silence as well.
    if (sincePacket.elapsed() > kNoTrafficMs) {
        reportFaults(splitter);
        linkIdle(flowType, output, sincePacket);
    }
}

namespace {

// A server that sends no speed digit (always so over UDP) gives the card's speed
// in the second byte of each event record, as element 2 of the card gives it.
qint32 eventRecordSpeed(const QByteArray& input)
{
    const int code = input.size() > 1 ? (quint8(input.at(1)) & 7) - 1 : -1;
    return code >= 0 && code <= 3 ? code : 255;
}

} // namespace

void OstrakCard::remoteTcpReadFipData()
{
    scanning = true;
    stopRequested = false;
    lastError = 0;
    QElapsedTimer sincePacket;
    sincePacket.start();
    emit scanStarted();
    int flowType = 0;
    OstrakStreamSplitter splitter;
    QByteArray chunk(int(kReadChunk), Qt::Uninitialized);
    QByteArray head;
    QByteArray output;
    output.reserve(2 * kHandOverSize + 65536);
    m_reportedFaults = m_reportedLostBytes = 0;
    // Bytes the server sent before closing are still taken.
    while ((remotelyConnected || (tcpSocket && tcpSocket->bytesAvailable() > 0)) && scanning && tcpSocket) {
        const qint64 got = tcpSocket->read(chunk.data(), std::min(tcpSocket->bytesAvailable(), kReadChunk));
        const int size = int(std::max<qint64>(got, 0));
        if (flowType == 0) {
            // The flow is told by the stream's first bytes, however few each read brings.
            head.append(chunk.constData(), size);
            if (!head.isEmpty() && head.at(0) >= '0' && head.at(0) <= '9') {
                speed = head.at(0) - '0';
                head.remove(0, 1);
                flowType = 1;
            } else if (head.size() > 2) {
                flowType = std::max(whatFlowType(head), 1);
            }
            if (flowType != 0) {
                if (flowType == 1 && speed == 255)
                    speed = eventRecordSpeed(head);
                splitter.setFlowType(flowType);
                splitter.append(head.constData(), head.size());
                head.clear();
            }
        } else {
            splitter.append(chunk.constData(), size);
        }
        afterSplit(splitter.split(&output), flowType, output, sincePacket, splitter);
        if (tcpSocket->bytesAvailable() == 0 && !tcpSocket->waitForReadyRead(10))
            QCoreApplication::processEvents();
    }
    m_bufferPeak = splitter.peak();
    reportFaults(splitter);
    endRemoteLoop(flowType, output);
}

// A remote link that brought no packet for the no-traffic delay: what is gathered
// goes on and the pause is told.
void OstrakCard::linkIdle(int flowType, QByteArray& output, QElapsedTimer& sincePacket)
{
    if (!output.isEmpty())
        handOver(flowType == 0 ? 1 : flowType, output);
    emit noTrafficDetected();
    sincePacket.restart();
}

void OstrakCard::endRemoteLoop(int flowType, QByteArray& output)
{
    // Whole packets already received are not lost with the link.
    if (!output.isEmpty())
        handOver(flowType, output);
    scanning = false;
    if (!stopRequested)
        lastError = ErrStreamEnded;
    endLoop();
}

void OstrakCard::remoteUdpReadFipData()
{
    scanning = true;
    stopRequested = false;
    lastError = 0;
    QElapsedTimer sincePacket;
    sincePacket.start();
    emit scanStarted();
    int flowType = 0;
    OstrakStreamSplitter splitter;
    QByteArray datagram;
    QByteArray output;
    output.reserve(2 * kHandOverSize + 65536);
    m_reportedFaults = m_reportedLostBytes = 0;
    while (remotelyConnected && scanning && udpSocket) {
        bool taken = false;
        for (int i = 0; i < kDatagramsPerPass && udpSocket->hasPendingDatagrams(); ++i) {
            const qint64 size = udpSocket->pendingDatagramSize();
            datagram.resize(int(std::max<qint64>(size, 0)));
            QHostAddress sender;
            const qint64 got = udpSocket->readDatagram(datagram.data(), datagram.size(), &sender);
            if (got < 0)
                break;
            const int n = int(got);
            // Datagrams of other senders, and those before the flow is known, are not the capture's.
            const bool foreign = !m_udpServer.isNull() && !sender.isEqual(m_udpServer, QHostAddress::TolerantConversion);
            if (!foreign && flowType == 0) {
                flowType = whatFlowType(QByteArray::fromRawData(datagram.constData(), n));
                splitter.setFlowType(flowType);
                if (flowType == 1 && speed == 255)
                    speed = eventRecordSpeed(QByteArray::fromRawData(datagram.constData(), n));
            }
            if (foreign || flowType == 0) {
                splitter.discard(n);
                continue;
            }
            taken = splitter.splitDatagram(datagram.constData(), n, &output) || taken;
            if (output.size() >= kHandOverSize) {
                reportFaults(splitter);
                handOver(flowType, output);
                sincePacket.restart();
            }
        }
        afterSplit(taken, flowType, output, sincePacket, splitter);
        if (!udpSocket->hasPendingDatagrams() && !udpSocket->waitForReadyRead(10))
            QCoreApplication::processEvents();
    }
    m_bufferPeak = splitter.peak();
    reportFaults(splitter);
    endRemoteLoop(flowType, output);
}

int pexil_evt_handler(pexil_sess* session, unsigned char* buffer)
{
    if (!session || !buffer)
        return 0xFF;
    int total = 0;
    quint32 records = 0;
    while (buffer[total] == 0xC0) {
        const int size = int((buffer[total + 1] << 8) | buffer[total + 2]);
        if (size == 0)
            break;
        total += size;
        ++records;
        if (total > kPexilRecordsMax)
            break;
    }
    if (records == 0)
        return 0xFF;
    if (total > PEXIL_EVT_BUFFER_SIZE)
        total = PEXIL_EVT_BUFFER_SIZE;
    OstrakCard* card = static_cast<OstrakCard*>(pexil_sess_user_data(session));
    const quint64 counter = ++pexilPacketCounter;
    QByteArray packet(kOspHeader + total, Qt::Uninitialized);
    char* p = packet.data();
    p[0] = 'O';
    p[1] = 'S';
    p[2] = 1;
    p[3] = 0;
    putBe(p + 4, counter, 8);
    putBe(p + 12, records, 4);
    memcpy(p + kOspHeader, buffer, size_t(total));
    if (card)
        emit card->fipDataReceived(2, packet);
    return 0;
}

void pexil_error_handler(pexil_sess* session, int code)
{
    (void)session;
    qDebug().nospace() << "error: " << pexil_strerror(code);
}

void pexil_reset_handler(pexil_sess* session)
{
    const int rc = pexil_device_reset(pexil_sess_device(session));
    if (rc == PEXIL_OK)
        qDebug() << "reset component (mpcie ostrak)";
    else
        qDebug() << pexil_strerror(rc);
}
