#include "OstrakServer.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <algorithm>

namespace {

// Bytes queued on a TCP socket before the server waits for the client to take them.
constexpr qint64 kMaxQueued = 256 * 1024;
constexpr int kSliceMs = 20;
constexpr int kBindWaitMs = 5000;

bool parseEnd(const QString& text, OstrakServer::End* end)
{
    if (text == QLatin1String("idle"))
        *end = OstrakServer::End::Idle;
    else if (text == QLatin1String("close"))
        *end = OstrakServer::End::Close;
    else if (text == QLatin1String("mid-packet"))
        *end = OstrakServer::End::MidPacket;
    else
        return false;
    return true;
}

bool parseVariables(const QString& text, QVector<FipTrafficGenerator::Variable>* out)
{
    // id:length:period,... with the identifier in hexadecimal.
    for (const QString& item : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList f = item.split(QLatin1Char(':'));
        bool ok1 = false, ok2 = true, ok3 = true;
        FipTrafficGenerator::Variable v;
        v.id = quint16(f.value(0).toUInt(&ok1, 16));
        if (f.size() > 1)
            v.length = f.at(1).toInt(&ok2);
        if (f.size() > 2)
            v.periodCycles = f.at(2).toInt(&ok3);
        if (!ok1 || !ok2 || !ok3 || f.size() > 3 || v.length < 1 || v.length > 128 || v.periodCycles < 1
            || v.periodCycles > 1000)
            return false;
        out->append(v);
    }
    return !out->isEmpty() && out->size() <= 1000;
}

} // namespace

QString OstrakServer::usage()
{
    return QStringLiteral(
        "Usage: ostrak-server [--tcp PORT] [--udp PORT] [options]\n"
        "Streams simulated FIP traffic (or a raw capture file) like a remote Ostrak capture server,\n"
        "on the loopback interface only.\n"
        "  --tcp PORT             serve TCP clients on 127.0.0.1:PORT (0 picks a free port, printed)\n"
        "  --udp PORT             send datagrams to 127.0.0.1:PORT\n"
        "  --flow event|osp       event packets (default) or Osp packets\n"
        "  --speed CODE           bus speed 0..3; on TCP with event packets the digit is sent first\n"
        "  --frame-type fip|worldfip\n"
        "  --variables LIST       scan table: id:length:period,... (hexadecimal identifiers)\n"
        "  --cycle-us US          elementary cycle length\n"
        "  --errors-every N       every N-th frame carries a reception error\n"
        "  --frames N             frames to send (default: no end)\n"
        "  --per-packet N         frames per packet (1..128, default 16)\n"
        "  --replay FILE.praw     send the records of a raw capture file\n"
        "  --project FILE.brxprj  play that project's bus: its scan table with padding, its stations'\n"
        "                         values and presence, at its speed\n"
        "  --rate FPS             frames per second (default: bus time; replays flat out)\n"
        "  --flat-out             no pacing\n"
        "  --time-scale X         bus time per wall-clock time\n"
        "  --end idle|close|mid-packet   after the last frame (default idle)\n"
        "  --faults LIST          close,mid-packet,garbage,split,silent (split: TCP writes of 1-7 bytes,\n"
        "                         UDP packets in three datagrams)\n"
        "  --garbage-bytes N      size of the garbage (default 4096)\n"
        "  --pause-after N --pause-ms MS   a silence once N frames are sent\n"
        "  --sessions N           TCP clients to serve, then exit (default: no limit)\n");
}

bool OstrakServer::parseArguments(const QStringList& arguments, Options* options, QString* error)
{
    Options o;
    bool speedGiven = false;
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        const bool hasValue = i + 1 < arguments.size();
        const QString v = hasValue ? arguments.at(i + 1) : QString();
        bool ok = true;
        auto number = [&](qint64 low, qint64 high) {
            const qint64 n = v.toLongLong(&ok);
            ok = ok && hasValue && n >= low && n <= high;
            return n;
        };
        if (a == QLatin1String("--flat-out")) {
            o.flatOut = true;
            continue;
        }
        if (a == QLatin1String("--help") || a == QLatin1String("-h"))
            return fail(QString());
        static const QStringList withValue = { "--tcp", "--udp", "--flow", "--speed", "--frame-type", "--variables",
                                               "--cycle-us", "--errors-every", "--frames", "--per-packet", "--replay",
                                               "--project",
                                               "--rate", "--time-scale", "--end", "--faults", "--garbage-bytes",
                                               "--pause-after", "--pause-ms", "--sessions" };
        if (!withValue.contains(a))
            return fail(QStringLiteral("unknown option %1").arg(a));
        if (!hasValue)
            return fail(QStringLiteral("%1 needs a value").arg(a));
        ++i;
        if (a == QLatin1String("--tcp"))
            o.tcpPort = int(number(0, 65535));
        else if (a == QLatin1String("--udp"))
            o.udpPort = int(number(1, 65535));
        else if (a == QLatin1String("--flow")) {
            ok = v == QLatin1String("event") || v == QLatin1String("osp");
            o.source.flowType = v == QLatin1String("osp") ? 2 : 1;
        } else if (a == QLatin1String("--speed")) {
            o.source.speedCode = quint8(number(0, 3));
            o.speedDigit = o.source.speedCode;
            speedGiven = true;
        } else if (a == QLatin1String("--frame-type")) {
            ok = v == QLatin1String("fip") || v == QLatin1String("worldfip");
            o.source.frameType = v == QLatin1String("fip") ? 1 : 2;
        } else if (a == QLatin1String("--variables"))
            ok = parseVariables(v, &o.source.variables);
        else if (a == QLatin1String("--cycle-us"))
            o.source.cycleUs = quint32(number(100, 10000000));
        else if (a == QLatin1String("--errors-every"))
            o.source.errorEvery = int(number(0, 1000000));
        else if (a == QLatin1String("--frames"))
            o.source.frames = number(1, Q_INT64_C(1) << 40);
        else if (a == QLatin1String("--per-packet"))
            o.source.framesPerPacket = int(number(1, OstrakPacketSource::kMaxFramesPerPacket));
        else if (a == QLatin1String("--replay"))
            o.source.replayPath = v;
        else if (a == QLatin1String("--project"))
            o.projectPath = v;
        else if (a == QLatin1String("--rate")) {
            o.rateFps = v.toDouble(&ok);
            ok = ok && o.rateFps > 0 && o.rateFps <= 1e9;
        } else if (a == QLatin1String("--time-scale")) {
            o.timeScale = v.toDouble(&ok);
            ok = ok && o.timeScale >= 0.001 && o.timeScale <= 1e6;
        } else if (a == QLatin1String("--end"))
            ok = parseEnd(v, &o.end);
        else if (a == QLatin1String("--faults")) {
            for (const QString& f : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (f == QLatin1String("close"))
                    o.closeAtOnce = true;
                else if (f == QLatin1String("mid-packet"))
                    o.end = End::MidPacket;
                else if (f == QLatin1String("garbage"))
                    o.garbageBytes = o.garbageBytes ? o.garbageBytes : 4096;
                else if (f == QLatin1String("split"))
                    o.split = true;
                else if (f == QLatin1String("silent"))
                    o.silent = true;
                else
                    ok = false;
            }
        } else if (a == QLatin1String("--garbage-bytes"))
            o.garbageBytes = int(number(1, kMaxGarbageBytes));
        else if (a == QLatin1String("--pause-after"))
            o.pauseAfterFrames = number(1, Q_INT64_C(1) << 40);
        else if (a == QLatin1String("--pause-ms"))
            o.pauseMs = int(number(0, kMaxPauseMs));
        else if (a == QLatin1String("--sessions"))
            o.sessions = int(number(0, 1000000));
        else
            return fail(QStringLiteral("unknown option %1").arg(a));
        if (!ok)
            return fail(QStringLiteral("bad value for %1: %2").arg(a, v));
    }
    if (o.tcpPort < 0 && o.udpPort < 0)
        return fail(QStringLiteral("give --tcp PORT and/or --udp PORT"));
    if (!speedGiven)
        o.speedDigit = -1;
    *options = o;
    return true;
}

// Where a link's bytes go: a TCP client or a UDP port.
class OstrakServer::Sender
{
public:
    virtual ~Sender() = default;
    /// Sends; with flush, waits until the bytes left the process.
    virtual bool send(const char* data, int size, bool flush) = 0;
    virtual bool alive() = 0;
    /// Bytes of the next piece of a split packet.
    virtual int pieceSize(quint32 turn, int packetSize) const = 0;
};

namespace {

class TcpSender : public OstrakServer::Sender
{
public:
    TcpSender(QTcpSocket& socket, const std::atomic<bool>& stop)
        : m_socket(socket)
        , m_stop(stop)
    {
    }
    bool send(const char* data, int size, bool flush) override
    {
        if (m_socket.state() != QAbstractSocket::ConnectedState || m_socket.write(data, size) != size)
            return false;
        // No event loop runs here: hand the bytes to the system now.
        m_socket.flush();
        const qint64 keep = flush ? 0 : kMaxQueued;
        while (m_socket.bytesToWrite() > keep) {
            if (m_stop || m_socket.state() != QAbstractSocket::ConnectedState)
                return false;
            m_socket.waitForBytesWritten(kSliceMs);
        }
        return true;
    }
    bool alive() override
    {
        // Anything the client sends is read and dropped; this also notices a close.
        m_socket.waitForReadyRead(0);
        m_socket.readAll();
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }
    int pieceSize(quint32 turn, int) const override { return int(1 + turn % 7); }

private:
    QTcpSocket& m_socket;
    const std::atomic<bool>& m_stop;
};

class UdpSender : public OstrakServer::Sender
{
public:
    UdpSender(QUdpSocket& socket, quint16 port, const std::atomic<bool>& stop)
        : m_socket(socket)
        , m_port(port)
        , m_stop(stop)
    {
    }
    bool send(const char* data, int size, bool) override
    {
        if (size <= 0)
            return true;
        // The kernel may refuse for a moment when its buffers are full.
        for (int attempt = 0; attempt < 200 && !m_stop; ++attempt) {
            if (m_socket.writeDatagram(data, size, QHostAddress(QHostAddress::LocalHost), m_port) == size)
                return true;
            QThread::msleep(1);
        }
        return false;
    }
    bool alive() override { return true; }
    // Three datagrams per packet: tiny ones would outrun any reader's socket buffer.
    int pieceSize(quint32, int packetSize) const override { return std::max(1, packetSize / 3 + 1); }

private:
    QUdpSocket& m_socket;
    quint16 m_port;
    const std::atomic<bool>& m_stop;
};

} // namespace

OstrakServer::OstrakServer(const Options& options)
    : m_options(options)
{
    m_options.garbageBytes = std::clamp(m_options.garbageBytes, 0, kMaxGarbageBytes);
    m_options.pauseMs = std::clamp(m_options.pauseMs, 0, kMaxPauseMs);
}

OstrakServer::~OstrakServer()
{
    stop();
}

bool OstrakServer::start()
{
    if (isRunning()) {
        m_error = QStringLiteral("already running");
        return false;
    }
    OstrakPacketSource probe(m_options.source);
    if (!probe.open(&m_error))
        return false;
    if (m_options.tcpPort < 0 && m_options.udpPort < 0) {
        m_error = QStringLiteral("no link asked for (--tcp PORT or --udp PORT)");
        return false;
    }
    m_stop = false;
    m_error.clear();
    if (m_options.tcpPort >= 0) {
        m_tcpThread.reset(QThread::create([this] { runTcp(); }));
        m_tcpThread->start();
        if (!m_bound.tryAcquire(1, kBindWaitMs) || m_boundPort == 0) {
            m_tcpThread->wait();
            m_tcpThread.reset();
            if (m_error.isEmpty())
                m_error = QStringLiteral("the TCP port could not be bound");
            return false;
        }
    }
    if (m_options.udpPort >= 0) {
        m_udpThread.reset(QThread::create([this] { runUdp(); }));
        m_udpThread->start();
    }
    return true;
}

void OstrakServer::stop()
{
    m_stop = true;
    if (m_tcpThread) {
        m_tcpThread->wait();
        m_tcpThread.reset();
    }
    if (m_udpThread) {
        m_udpThread->wait();
        m_udpThread.reset();
    }
}

bool OstrakServer::wait(int ms)
{
    QElapsedTimer t;
    t.start();
    for (QThread* th : { m_tcpThread.get(), m_udpThread.get() }) {
        if (th && !th->wait(unsigned(std::max<qint64>(0, ms - t.elapsed()))))
            return false;
    }
    return true;
}

bool OstrakServer::isRunning() const
{
    return (m_tcpThread && m_tcpThread->isRunning()) || (m_udpThread && m_udpThread->isRunning());
}

bool OstrakServer::sleepMs(int ms) const
{
    QElapsedTimer t;
    t.start();
    while (!m_stop && t.elapsed() < ms)
        QThread::msleep(unsigned(std::min<qint64>(kSliceMs, ms - t.elapsed())));
    return !m_stop;
}

void OstrakServer::runTcp()
{
    QTcpServer listener;
    if (!listener.listen(QHostAddress(QHostAddress::LocalHost), quint16(m_options.tcpPort))) {
        m_error = listener.errorString();
        m_bound.release();
        return;
    }
    m_boundPort = listener.serverPort();
    m_bound.release();
    int served = 0;
    while (!m_stop && (m_options.sessions <= 0 || served < m_options.sessions)) {
        if (!listener.waitForNewConnection(kSliceMs))
            continue;
        std::unique_ptr<QTcpSocket> client(listener.nextPendingConnection());
        if (!client)
            continue;
        ++served;
        ++m_clients;
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        TcpSender sender(*client, m_stop);
        bool ended = m_options.closeAtOnce;
        // The digit is only understood before event packets.
        if (!ended && m_options.speedDigit >= 0 && m_options.speedDigit <= 9 && m_options.source.flowType == 1
            && m_options.source.replayPath.isEmpty()) {
            const char digit = char('0' + m_options.speedDigit);
            ended = !sender.send(&digit, 1, m_options.split);
        }
        if (!ended)
            stream(sender);
        if (client->state() == QAbstractSocket::ConnectedState) {
            client->disconnectFromHost();
            if (client->state() != QAbstractSocket::UnconnectedState)
                client->waitForDisconnected(1000);
        }
        client->abort();
    }
}

void OstrakServer::runUdp()
{
    QUdpSocket socket;
    UdpSender sender(socket, quint16(m_options.udpPort), m_stop);
    stream(sender);
}

bool OstrakServer::stream(Sender& sender)
{
    if (m_options.silent) {
        while (!m_stop && sender.alive())
            sleepMs(kSliceMs);
        return false;
    }
    if (m_options.garbageBytes > 0) {
        QByteArray garbage(m_options.garbageBytes, Qt::Uninitialized);
        quint32 x = 0x9E3779B9;
        for (char& c : garbage) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x >> 24);
        }
        for (int at = 0; at < garbage.size() && !m_stop; at += 1024) {
            if (!sender.send(garbage.constData() + at, std::min(1024, garbage.size() - at), false))
                return false;
        }
    } else {
        OstrakPacketSource source(m_options.source);
        if (!source.open(nullptr))
            return false;
        const bool byBus = !m_options.flatOut && m_options.rateFps <= 0 && m_options.source.replayPath.isEmpty();
        QElapsedTimer clock;
        clock.start();
        qint64 pausedMs = 0;
        bool pauseDone = m_options.pauseAfterFrames <= 0;
        qint64 frames = 0;
        QByteArray packet;
        int packetFrames = 0;
        quint64 busUs = 0;
        quint32 piece = 0;
        while (!m_stop && source.next(&packet, &packetFrames, &busUs)) {
            if (!pauseDone && frames >= m_options.pauseAfterFrames) {
                pauseDone = true;
                QElapsedTimer p;
                p.start();
                if (!sleepMs(m_options.pauseMs))
                    return false;
                pausedMs += p.elapsed();
            }
            double dueMs = 0;
            if (!m_options.flatOut && m_options.rateFps > 0)
                dueMs = double(frames) * 1000.0 / m_options.rateFps;
            else if (byBus)
                dueMs = double(busUs) / 1000.0 / std::max(1e-6, m_options.timeScale);
            const qint64 wait = qint64(dueMs) - (clock.elapsed() - pausedMs);
            if (wait > 0 && !sleepMs(int(std::min<qint64>(wait, kMaxPauseMs))))
                return false;
            bool ok = true;
            if (m_options.split) {
                int sent = 0;
                int pieces = 0;
                while (ok && sent < packet.size()) {
                    const int n = std::min(sender.pieceSize(piece++, packet.size()), packet.size() - sent);
                    ok = sender.send(packet.constData() + sent, n, true);
                    sent += n;
                    if (++pieces % 64 == 0)
                        QThread::msleep(1);
                }
            } else {
                ok = sender.send(packet.constData(), packet.size(), false);
            }
            if (!ok)
                return false;
            frames += packetFrames;
            m_framesSent += packetFrames;
            ++m_packetsSent;
            m_bytesSent += packet.size();
        }
        if (m_stop)
            return false;
        if (m_options.end == End::MidPacket) {
            // The first half of one more packet, then the link closes.
            QByteArray last;
            if (!source.next(&last, nullptr, nullptr))
                last = packet;
            const int half = std::max(1, last.size() / 2);
            if (!sender.send(last.constData(), half, true))
                return false;
            m_bytesSent += half;
            return true;
        }
    }
    if (m_options.end == End::Idle) {
        while (!m_stop && sender.alive())
            sleepMs(kSliceMs);
        return false;
    }
    // Flush what is queued before the caller closes.
    return sender.send(nullptr, 0, true);
}
