#ifndef BX_CAPTURE_DEVICE_OSTRAKCARD_H
#define BX_CAPTURE_DEVICE_OSTRAKCARD_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <atomic>

class CModrin;
class QTcpSocket;
class QThread;
class QUdpSocket;
struct pexil_device;
struct pexil_sess;

/// The program's handle on one Ostrak capture card: a local USB or PCI-family card
/// through the maker's libraries, or a remote capture server over TCP or UDP. Its read
/// loop runs on the capture thread and hands whole packets on through fipDataReceived.
class QElapsedTimer;
class OstrakStreamSplitter;

class OstrakCard : public QObject
{
    Q_OBJECT

public:
    enum CoType : qint32 {
        FtdiD2xx = 0,
        CypressFx3 = 1,
        PciFamily = 100,
        NoCoType = 255,
    };

    // Result codes of the card's operations (0 is success).
    static constexpr int ErrGeneral = 0x20100000;
    static constexpr int ErrAlreadyConnected = 0x20100001;
    static constexpr int ErrRemotelyConnected = 0x20100002;
    static constexpr int ErrTcpTimeout = 0x20100003;
    static constexpr int ErrUdpBind = 0x20100004;
    static constexpr int ErrStreamEnded = 0x20100005;
    static constexpr int ErrSession = 0x20100006;
    static constexpr int ErrTriggerRemote = 0x20100007;
    static constexpr int ErrNotOpen = 0x20100008;
    static constexpr int ErrTriggerReply = 0x20100009;
    static constexpr int ErrDeviceClose = 0x30000003;

    /// Bytes gathered before a packet is handed on (less only at a traffic pause).
    static constexpr int kHandOverSize = 1000;
    /// Silence after which a remote link reports that no traffic comes.
    static constexpr int kNoTrafficMs = 1000;
    static constexpr int kTcpConnectMs = 1000;
    static constexpr int kUdpReceiveBuffer = 0x4000000;
    /// Datagrams read before the loop looks at its flags again.
    static constexpr int kDatagramsPerPass = 64;

    explicit OstrakCard(QObject* parent = nullptr);
    OstrakCard(CoType type, QObject* parent = nullptr);
    ~OstrakCard() override;

    int locallyOpen(unsigned char index);
    int remotelyTcpOpen(const QString& host, unsigned short port);
    /// Listens for a capture server's datagrams. With a server address, a loopback
    /// or local address is the one listened on; another address is listened for on
    /// every local address and only its datagrams are taken. ErrUdpBind when the
    /// port cannot be had (`udpBindError()` says why).
    int remotelyUdpOpen(unsigned short port, const QString& serverAddress = QString());
    QString udpBindError() const { return m_udpBindError; }
    int close();

    int startScan();
    int stopScan();

    int setHardTrigger(unsigned char ctrl, unsigned short id, unsigned short delay);
    int getHardTrigger(unsigned char* ctrl, unsigned short* id, unsigned short* delay);

    /// Connects the thread's start to the read loop of this connection. The card goes
    /// back to the calling thread when the loop ends, so it can be closed and deleted there.
    void attachThread(QThread& thread);

    /// 2 for an Osp packet, 1 for an event packet, 0 when it cannot be told.
    static int whatFlowType(const QByteArray& packet);

    /// Moves one complete event packet from the front of input to the end of output,
    /// checking its 8-bit counter; clears more when no complete packet is left.
    static bool treatIProtEvtPkt(QByteArray* input, QByteArray* output, quint64* lastCounter, bool* started,
                                 bool* more);
    /// The same for an Osp packet and its 64-bit counter; true when it holds a frame record.
    static bool treatOspPkt(QByteArray* input, QByteArray* output, quint64* lastCounter, bool* started,
                            bool* more);

    QString coTypeStr() const;
    QString frameTypeStr() const;
    QString impedanceStr() const;
    QString speedStr() const;

    int getLastError() const { return lastError; }
    CoType getCoType() const { return coType; }
    int getSpeed() const { return speed; }
    void setSpeed(int code) { speed = code; }
    bool isLocallyConnected() const { return locallyConnected; }
    bool isRemotelyConnected() const { return remotelyConnected; }
    bool isConnected() const { return locallyConnected || remotelyConnected; }
    bool isScanning() const { return scanning; }
    /// Most bytes a remote read loop held while waiting for whole packets.
    int bufferPeak() const { return m_bufferPeak; }

public slots:
    void onRemoteConnection();
    void onRemoteDisconnection();

    void localUsbReadFipData();
    void localPciReadFipData();
    void remoteTcpReadFipData();
    void remoteUdpReadFipData();

signals:
    void connected();
    void disconnected();
    void fipDataReceived(int flowType, QByteArray data);
    void scanStarted();
    void scanStopped();
    void noTrafficDetected();
    /// A remote stream broke `faults` more times and `lostBytes` more bytes were outside any packet.
    void streamFaults(qulonglong faults, qulonglong lostBytes);

private:
    void reportFaults(const OstrakStreamSplitter& splitter);
    void afterSplit(bool taken, int flowType, QByteArray& output, QElapsedTimer& sincePacket,
                    const OstrakStreamSplitter& splitter);
    void handOver(int flowType, QByteArray& output);
    void endLoop();
    void linkIdle(int flowType, QByteArray& output, QElapsedTimer& sincePacket);
    void endRemoteLoop(int flowType, QByteArray& output);

    CModrin* board = nullptr;
    pexil_device* device = nullptr;
    QTcpSocket* tcpSocket = nullptr;
    QUdpSocket* udpSocket = nullptr;
    std::atomic<bool> locallyConnected{ false };
    std::atomic<bool> remotelyConnected{ false };
    std::atomic<bool> scanning{ false };
    std::atomic<bool> stopRequested{ false };
    CoType coType = NoCoType;
    qint32 frameType = 255;
    qint32 impedance = 255;
    qint32 speed = 255;
    std::atomic<qint32> lastError{ 0 };
    pexil_sess* session = nullptr;

    QThread* homeThread = nullptr;
    QHostAddress m_udpServer;  ///< the only sender taken; null takes any
    QString m_udpBindError;
    quint64 m_reportedFaults = 0;
    quint64 m_reportedLostBytes = 0;
    int m_bufferPeak = 0;
};

// Handlers of the capture-session library, called on its own thread.
int pexil_evt_handler(pexil_sess* session, unsigned char* buffer);
void pexil_error_handler(pexil_sess* session, int code);
void pexil_reset_handler(pexil_sess* session);

#endif
