#ifndef BX_PLATFORM_SERVER_OSTRAKSERVER_H
#define BX_PLATFORM_SERVER_OSTRAKSERVER_H

#include "OstrakPacketSource.h"

#include <QSemaphore>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;

/// A remote capture server on the loopback interface: it streams the packets of an
/// OstrakPacketSource to one TCP client at a time, and/or sends them as UDP datagrams
/// to a loopback port. It can misbehave on purpose: stop in the middle of a packet,
/// close at once, send garbage, split packets into many small writes, or stay silent.
/// Each link runs on a thread of its own; every wait is bounded and checks stop().
class OstrakServer
{
public:
    enum class End { Idle, Close, MidPacket };

    struct Options {
        OstrakPacketSource::Settings source;
        int tcpPort = -1;           ///< -1 no TCP link; 0 picks a free port
        int udpPort = -1;           ///< -1 no UDP link; the loopback port datagrams go to
        int speedDigit = -1;        ///< 0..9: sent as an ASCII digit first on TCP
        double rateFps = 0;         ///< frames per second; 0 = as the bus runs (generator) or flat out
        bool flatOut = false;       ///< no pacing at all
        double timeScale = 1.0;     ///< bus time per wall-clock time when paced by the bus
        End end = End::Idle;        ///< after the last frame
        bool closeAtOnce = false;   ///< TCP: close each connection before sending anything
        bool silent = false;        ///< accept / start, then send nothing
        int garbageBytes = 0;       ///< pseudo-random bytes instead of the stream
        bool split = false;         ///< each packet in writes of 1 to 7 bytes
        qint64 pauseAfterFrames = 0;///< a silence once this many frames are sent
        int pauseMs = 0;
        int sessions = 0;           ///< TCP clients served before the link ends; 0 = no limit
        QString projectPath;        ///< a project whose bus the program plays (see VantorProjectBus)
    };

    static constexpr int kMaxGarbageBytes = 16 * 1024 * 1024;
    static constexpr int kMaxPauseMs = 60 * 1000;

    /// Reads the command-line options (program name first); false with the reason.
    static bool parseArguments(const QStringList& arguments, Options* options, QString* error);
    static QString usage();

    explicit OstrakServer(const Options& options);
    ~OstrakServer();
    OstrakServer(const OstrakServer&) = delete;
    OstrakServer& operator=(const OstrakServer&) = delete;

    /// Opens the replay, binds the TCP port and starts the links; false with errorString().
    bool start();
    /// Asks the links to end and waits for them.
    void stop();
    /// Waits until every link ended by itself (or the time ran out).
    bool wait(int ms);
    bool isRunning() const;

    quint16 tcpPort() const { return m_boundPort; }
    QString errorString() const { return m_error; }

    qint64 framesSent() const { return m_framesSent; }
    qint64 packetsSent() const { return m_packetsSent; }
    qint64 bytesSent() const { return m_bytesSent; }
    int clientsServed() const { return m_clients; }

    /// Where a link's bytes go (a TCP client or a UDP port).
    class Sender;

private:
    void runTcp();
    void runUdp();
    // Sends the whole stream and its end; false when the peer went away or stop() was asked.
    bool stream(Sender& sender);
    bool sleepMs(int ms) const;

    Options m_options;
    QString m_error;
    quint16 m_boundPort = 0;
    std::atomic<bool> m_stop{ false };
    std::atomic<qint64> m_framesSent{ 0 };
    std::atomic<qint64> m_packetsSent{ 0 };
    std::atomic<qint64> m_bytesSent{ 0 };
    std::atomic<int> m_clients{ 0 };
    std::unique_ptr<QThread> m_tcpThread;
    std::unique_ptr<QThread> m_udpThread;
    QSemaphore m_bound;
};

#endif
