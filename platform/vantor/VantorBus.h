#pragma once

#include "FipSimulatedNetwork.h"
#include "VantorSimulator.h"
#include "VantorStationFile.h"
#include "vantor.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class VantorBus;
class VantorFileTransfer;

/// An open board. Everything below the identity is guarded by its bus's mutex.
struct vantor_device : std::enable_shared_from_this<vantor_device> {
    enum class State { Open, Initialised, Running };

    struct Produced {
        QByteArray data;
        qint64 writtenNs = -1;
        bool writtenSinceTransfer = false;
        // The station's application moves the value until the control side writes
        // one of its own: anything but zeros, the value of a variable nobody set.
        bool written = false;
        quint16 walk = 0x8000;
        quint64 walkStep = 0;
    };
    struct Consumed {
        QByteArray data;
        qint64 receivedNs = -1;
        bool refreshed = false;
    };
    struct Outgoing {
        int channel = 0;
        QByteArray buffer; // VANTOR_MSG_SIZE bytes, lengths already in reception form
        bool acknowledged = false;
    };

    // Identity, fixed at open.
    std::shared_ptr<VantorBus> bus;
    int position = 0;
    quint32 interfaceType = 0;
    quint8 boardIndex = 0;
    quint8 speedCode = 1;
    std::atomic<bool> pulled { false };
    QElapsedTimer openedAt;

    State state = State::Open;
    VantorStationFile config;
    vantor_callbacks callbacks = {};
    QByteArray receptionDir;
    QMap<quint16, Produced> produced;
    QMap<quint16, Consumed> consumed;
    std::deque<std::pair<quint16, quint16>> events;
    std::deque<Outgoing> outgoing;
    std::deque<QByteArray> incoming;
    std::deque<quint16> aperiodic[2]; // normal, urgent
    quint16 counters[7] = {};
    bool channelOn[2] = { true, true };
    quint16 faultBits = 0;
    bool faultStuck = false;
    float fixedTemperature = 0;
    float baseTemperature = 40;
    bool baRequested = false; // vantor_start_ba succeeded and no stop since
    quint8 macrocycle = 1;
    quint16 baStatus = 0;
    QStringList calls;
    std::shared_ptr<VantorFileTransfer> emission;

    void postEvent(quint16 code, quint16 param);
    void log(const QString& call);
    quint16 mediumStatus() const;
    bool onBus() const { return state == State::Running && !pulled; }
};

/// What a bus shows the simulated capture card while its arbitrator scans: the
/// scan, the values last carried and the messages. The bus pushes into it with its
/// own mutex held; capture threads read it under this object's small mutex only.
class VantorPublishedNetwork : public FipSimulatedNetwork
{
public:
    bool scan(Scan* out, quint64* revision) const override;
    bool producedValue(quint16 id, QByteArray* data) const override;
    bool takeMessage(Message* out) override;

    void publish(const Scan& scan, const QHash<quint16, QByteArray>& values);
    void stop();
    void setValue(quint16 id, const QByteArray& data);
    void pushMessage(const Message& message);

private:
    mutable std::mutex m_mutex;
    bool m_running = false;
    Scan m_scan;
    quint64 m_revision = 0;
    QHash<quint16, QByteArray> m_values;
    std::deque<Message> m_messages;
};

/// The wire shared by the boards of one network: who produces and consumes
/// what, the message and aperiodic traffic, and the scan of the arbitrator that
/// holds the bus. Standby arbitrators take over in start order when it stops.
class VantorBus
{
public:
    explicit VantorBus(quint8 speedCode);
    ~VantorBus();

    std::mutex mutex;

    /// Padding, produced value patterns and faults; takes the mutex.
    void setNetwork(const VantorSimulator::Network& network);

    // All below with the mutex held.
    void join(vantor_device* board);
    void leave(vantor_device* board);
    /// Adds the board's arbitrator; true when the scan thread must be started by startScan.
    void startArbitrator(vantor_device* board);
    void stopArbitrator(vantor_device* board);
    bool arbitrating() const { return !m_arbiters.empty(); }
    bool isActiveArbiter(const vantor_device* board) const;
    const std::vector<vantor_device*>& boards() const { return m_boards; }
    quint64 macrocycles() const { return m_macrocycles; }
    /// The running board other than `except` that receives files for these addresses.
    vantor_device* fileReceiver(const vantor_device* except, quint16 destId, quint8 destSeg, quint16 srcId,
                                quint8 srcSeg) const;

    /// Without the mutex: starts or reaps the scan thread as the arbitrators require.
    void updateScanThread();

private:
    void scan();
    bool pause(std::unique_lock<std::mutex>& lock, double us);
    void transferVariable(quint16 id);
    void applyPattern(quint16 id, vantor_device::Produced& p, qint64 nowNs);
    void serveAperiodic();
    /// Delivers the queued messages, only those from one source identifier when given.
    void serveMessages(int sourceId = -1);
    void countFrames(int frames);
    double frameUs(int bytes) const;
    void setStatus(quint16 status);
    /// Publishes the scan of the arbitrator holding the bus, or withdraws it when none does.
    void republish();

    quint8 m_speedCode;
    double m_bitUs;
    VantorSimulator::Network m_network;
    std::vector<vantor_device*> m_boards;   // running stations
    std::vector<vantor_device*> m_arbiters; // front one holds the bus
    std::condition_variable m_wake;
    std::thread m_scanThread;
    bool m_scanRunning = false;
    bool m_quit = false;
    quint64 m_macrocycles = 0;
    double m_owedUs = 0;
    int m_table = -1; // scan table the holder runs, by position
    std::shared_ptr<VantorPublishedNetwork> m_published = std::make_shared<VantorPublishedNetwork>();
};

/// Nanoseconds on a clock shared by every board.
qint64 vantorNowNs();
