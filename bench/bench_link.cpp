// Frames per second carried to the GUI thread by the capture card's read loops, one figure per line:
//   tcp link   loopback server streaming flat out, event packets of 16 frames
//   udp link   the same as datagrams (the share that arrived is printed beside it)
//   usb loop   the simulated USB card with its bus sped up
// Packets reach a receiver on the main thread through a blocking queued connection, as in the main window.
#include "capture/device/OstrakCard.h"

#include "FipRecordEncoder.h"
#include "OstrakServer.h"
#include "OstrakSimulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QUdpSocket>

#include <cstdio>
#include <limits>

class Counter : public QObject
{
    Q_OBJECT
public:
    qint64 bytes = 0;
    bool stopped = false;
public slots:
    void onData(int, QByteArray data) { bytes += data.size(); }
    void onStopped() { stopped = true; }
};

namespace {

constexpr qint64 kFrames = 300000;
constexpr int kTimeoutMs = 60000;

// Runs the card's loop until `done` says so or the time runs out; returns the elapsed ms.
template<typename Done>
double runCard(OstrakCard* card, Counter& counter, Done done)
{
    QThread thread;
    QObject::connect(card, &OstrakCard::fipDataReceived, &counter, &Counter::onData, Qt::BlockingQueuedConnection);
    QObject::connect(card, &OstrakCard::scanStopped, &counter, &Counter::onStopped);
    card->attachThread(thread);
    card->moveToThread(&thread);
    QElapsedTimer t;
    t.start();
    thread.start();
    while (!done() && t.elapsed() < kTimeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    card->stopScan();
    while (!counter.stopped && t.elapsed() < kTimeoutMs + 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    thread.quit();
    thread.wait();
    card->close();
    delete card;
    return ms;
}

qint64 streamBytes(const OstrakPacketSource::Settings& s)
{
    OstrakPacketSource source(s);
    QByteArray packet;
    qint64 total = 0;
    while (source.next(&packet, nullptr, nullptr))
        total += packet.size();
    return total;
}

void tcpLink()
{
    OstrakServer::Options o;
    o.tcpPort = 0;
    o.flatOut = true;
    o.sessions = 1;
    o.source.frames = kFrames;
    OstrakServer server(o);
    if (!server.start()) {
        std::printf("tcp link: server failed: %s\n", qPrintable(server.errorString()));
        return;
    }
    const qint64 expected = streamBytes(o.source);
    Counter counter;
    auto* card = new OstrakCard(nullptr);
    if (card->remotelyTcpOpen(QStringLiteral("127.0.0.1"), server.tcpPort()) != 0) {
        std::printf("tcp link: no connection\n");
        delete card;
        return;
    }
    const double ms = runCard(card, counter, [&] { return counter.bytes >= expected; });
    std::printf("tcp link: %.0f frames/s\n", double(kFrames) * 1000.0 * double(counter.bytes) / double(expected) / ms);
}

void udpLink()
{
    QUdpSocket probe;
    probe.bind(QHostAddress(QHostAddress::LocalHost), 0);
    const quint16 port = probe.localPort();
    probe.close();
    Counter counter;
    auto* card = new OstrakCard(nullptr);
    card->remotelyUdpOpen(port);
    OstrakServer::Options o;
    o.udpPort = port;
    o.flatOut = true;
    o.source.frames = kFrames;
    const qint64 expected = streamBytes(o.source);
    OstrakServer server(o);
    QElapsedTimer quiet;
    qint64 last = -1;
    server.start();
    // Done when everything came, or nothing more came for 300 ms after the server finished sending.
    const double ms = runCard(card, counter, [&] {
        if (counter.bytes != last) {
            last = counter.bytes;
            quiet.restart();
        }
        return counter.bytes >= expected || (server.framesSent() >= kFrames && quiet.elapsed() > 300);
    });
    const double share = double(counter.bytes) / double(expected);
    const double activeMs = counter.bytes >= expected ? ms : ms - 300;
    std::printf("udp link: %.0f frames/s (%.1f%% delivered)\n", double(kFrames) * share * 1000.0 / activeMs,
                share * 100.0);
}

void usbLoop()
{
    OstrakSimulator::Settings s;
    s.timeScale = 2000;
    s.fifoSpanMs = std::numeric_limits<int>::max(); // the bus outruns the reader; keep every frame
    OstrakSimulator::setSettings(s);
    // Mean size of an event record's frame data, from the same bus.
    FipTrafficGenerator sample(s.speedCode, s.frameType);
    qint64 sampleBytes = 0;
    for (int i = 0; i < 10000; ++i)
        sampleBytes += FipRecordEncoder::tlvRecord(sample.next()).size();
    const double bytesPerFrame = double(sampleBytes) / 10000.0;
    Counter counter;
    auto* card = new OstrakCard(OstrakCard::FtdiD2xx, nullptr);
    if (card->locallyOpen(0) != 0 || card->startScan() != 0) {
        std::printf("usb loop: card not opened\n");
        delete card;
        return;
    }
    QElapsedTimer t;
    t.start();
    const double ms = runCard(card, counter, [&] { return t.elapsed() >= 3000; });
    // Event headers are a small share of the bytes; count them as frame bytes.
    std::printf("usb loop: %.0f frames/s\n", double(counter.bytes) / bytesPerFrame * 1000.0 / ms);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The card's debug lines (links opened, datagrams lost) are not figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    tcpLink();
    udpLink();
    usbLoop();
    return 0;
}

#include "bench_link.moc"
