// capture: a headless capture from a capture server or a local card, recorded
// as the window records it, stopped by the time limit or by SIGINT / SIGTERM.

#include "app/cli/CliCommand.h"

#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakConf.h"
#include "capture/files/StatsFile.h"

#include "kiverrors.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <csignal>

namespace Cli {

namespace {

// Card library results the window tells apart too.
constexpr int kDeviceInUse = 0x3010203F;
constexpr int kNoMoreFrames = 0x30100012;

volatile std::sig_atomic_t g_interrupted = 0;

void onSignal(int)
{
    g_interrupted = 1;
}

/// SIGINT and SIGTERM only raise the flag the capture polls; the previous
/// handlers come back when the capture ends.
class SignalGuard
{
public:
    SignalGuard()
    {
        g_interrupted = 0;
        m_int = std::signal(SIGINT, onSignal);
        m_term = std::signal(SIGTERM, onSignal);
    }
    ~SignalGuard()
    {
        std::signal(SIGINT, m_int);
        std::signal(SIGTERM, m_term);
    }

private:
    void (*m_int)(int);
    void (*m_term)(int);
};

/// Where the capture comes from, as the options name it.
struct Source
{
    bool local = false;
    int card = 1;        ///< local: 1 for the first card listed
    bool udp = false;
    QString host;
    quint16 port = 0;
};

bool readSource(const QCommandLineParser& parser, Source* source, QString* error)
{
    const bool server = parser.isSet("server");
    source->local = parser.isSet("local");
    if (server == source->local) {
        *error = QStringLiteral("give either --server HOST:PORT or --local");
        return false;
    }
    if (source->local) {
        bool ok = false;
        source->card = parser.value("card").toInt(&ok);
        if (!ok || source->card < 1 || source->card > 255) {
            *error = QStringLiteral("--card takes a card number from 1, not '%1'").arg(parser.value("card"));
            return false;
        }
        return true;
    }
    if (parser.isSet("tcp") && parser.isSet("udp")) {
        *error = QStringLiteral("give --tcp or --udp, not both");
        return false;
    }
    source->udp = parser.isSet("udp");
    const QString value = parser.value("server");
    const int colon = value.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = colon > 0 ? value.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535) {
        *error = QStringLiteral("--server takes HOST:PORT, not '%1'").arg(value);
        return false;
    }
    source->host = value.left(colon);
    source->port = quint16(port);
    return true;
}

/// Opens the card the source names; 0 or the card's code, with the window's message.
int openCard(const Source& source, OstrakCard** card, QString* error)
{
    if (source.local) {
        const QList<OSTRAKCONF> cards = localOstrakList();
        if (source.card > cards.size()) {
            *error = cards.isEmpty() ? QStringLiteral("Cannot find a local Ostrak on this machine. Please check the connection.")
                                     : QStringLiteral("there are %1 local cards, no card %2").arg(cards.size()).arg(source.card);
            return OstrakCard::ErrNotOpen;
        }
        const OSTRAKCONF chosen = cards.at(source.card - 1);
        *card = new OstrakCard(chosen.coType);
        const int opened = (*card)->locallyOpen(chosen.number);
        if (opened == 0) {
            (*card)->stopScan(); // a scan left running by another program
        } else {
            *error = opened == kDeviceInUse
                ? QStringLiteral("Cannot open the Ostrak device. It may be already in use.")
                : QString::fromLocal8Bit(get_kiv_error(opened));
        }
        return opened;
    }
    *card = new OstrakCard();
    const int opened = source.udp ? (*card)->remotelyUdpOpen(source.port)
                                  : (*card)->remotelyTcpOpen(source.host, source.port);
    if (opened != 0)
        *error = QStringLiteral("Cannot connect to the remote Ostrak %1:%2. Please check the server IP address and "
                                "your firewall parameters.")
                     .arg(source.host)
                     .arg(source.port);
    return opened;
}

/// Runs the card's read loop on a thread of its own until the time limit, a
/// signal or the end of the stream; returns the card's last error. `stopped`
/// tells whether the capture was stopped rather than ended by the card.
int scan(OstrakCard* card, CaptureAnalysis& analysis, qint64 seconds, bool* stopped, QString* writeError)
{
    // The card's thread waits while its packet is decoded here, as in the window.
    QObject receiver;
    QEventLoop loop;
    QThread thread;
    quint64 bytes = 0;
    QObject::connect(card, &OstrakCard::fipDataReceived, &receiver, [&](int flowType, const QByteArray& data) {
        bytes += quint64(data.size());
        analysis.session().decoder().setCardSpeed(quint8(card->getSpeed()));
        analysis.session().onOstrakDataReceived(flowType, data);
    }, Qt::BlockingQueuedConnection);
    QObject::connect(card, &OstrakCard::noTrafficDetected, &receiver,
                     [&] { analysis.session().decoder().onOstrakNoTrafficDetected(); });
    QObject::connect(card, &OstrakCard::scanStopped, &loop, &QEventLoop::quit, Qt::QueuedConnection);

    SignalGuard interruptions;
    ProgressLine progress;
    QElapsedTimer elapsed;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &receiver, [&] {
        if (!*stopped && (g_interrupted || (seconds > 0 && elapsed.elapsed() >= seconds * 1000))) {
            *stopped = true;
            card->stopScan();
            loop.quit();
        }
        // The statistics tick's flush: rows reach the trace while the capture runs.
        if (!analysis.session().writePending(nullptr) && writeError->isEmpty())
            *writeError = analysis.session().traceWriter().errorString();
        progress.update(QStringLiteral("capturing: %1 s, %2 frames, %3 bytes")
                            .arg(elapsed.elapsed() / 1000)
                            .arg(analysis.session().decoder().counters().frames)
                            .arg(bytes));
    });

    card->attachThread(thread);
    card->moveToThread(&thread);
    thread.start(QThread::InheritPriority);
    elapsed.start();
    if (card->startScan() == 0) {
        tick.start(100);
        loop.exec();
    } else {
        *stopped = true;
        card->stopScan();
    }
    tick.stop();
    // The read loop may still hand on a packet before it sees the stop: serve it while waiting.
    thread.quit();
    while (!thread.wait(100))
        QCoreApplication::processEvents();
    return card->getLastError();
}

} // namespace

int runCapture(const QStringList& arguments)
{
    const QString command = QStringLiteral("capture");
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Captures the bus into OUT: a raw capture (.praw) or a trace (.vtrc, at --depth), with the statistics file "
        "beside it (OUT with .xml). The capture ends after --seconds, or on SIGINT (Ctrl+C) or SIGTERM; the files "
        "are closed cleanly either way. With --udp the datagrams are received on PORT of this machine.");
    parser.addPositionalArgument("OUT", "The capture to write (.praw or .vtrc); an existing one is replaced.");
    parser.addOption({ "server", "A capture server.", "HOST:PORT" });
    parser.addOption({ "tcp", "Reach the server over TCP (the default)." });
    parser.addOption({ "udp", "Receive the server's UDP datagrams." });
    parser.addOption({ "local", "Capture with a local card." });
    parser.addOption({ "card", "The local card, 1 for the first one listed. Default 1.", "N", "1" });
    parser.addOption({ "seconds", "Stop after N seconds; without it, only a signal stops the capture.", "N" });
    addTraceOptions(parser);
    int exitCode = Success;
    if (!parse(parser, command, arguments, 1, &exitCode))
        return exitCode;

    Source source;
    CaptureAnalysis::Options options;
    QString error;
    if (!readSource(parser, &source, &error) || !traceOptions(parser, &options, &error))
        return fail(command, error);
    qint64 seconds = 0;
    if (parser.isSet("seconds")) {
        bool ok = false;
        seconds = parser.value("seconds").toLongLong(&ok);
        if (!ok || seconds < 1 || seconds > 366LL * 24 * 3600)
            return fail(command, QStringLiteral("--seconds takes a whole number of seconds from 1, not '%1'")
                                     .arg(parser.value("seconds")));
    }
    const QString out = parser.positionalArguments().first();
    const QString suffix = QFileInfo(out).suffix().toLower();
    CaptureSession::Files files;
    options.record.backupYes = true;
    if (suffix == QLatin1String("praw")) {
        options.record.backupFileType = TraceRecordOptions::RawFile;
        files.raw = out;
    } else if (suffix == QLatin1String("vtrc")) {
        options.record.backupFileType = TraceRecordOptions::TraceFile;
        files.trace = out;
    } else {
        return fail(command, QStringLiteral("%1: the capture is written as .praw or .vtrc").arg(out));
    }

    OstrakCard* card = nullptr;
    if (openCard(source, &card, &error) != 0) {
        delete card;
        return fail(command, error);
    }

    CaptureAnalysis analysis;
    analysis.reset(options);
    analysis.session().decoder().setPaddingRule(options.fixedPadding, options.paddingIdentifier);
    if (!analysis.session().start(options.record, files, &error)) {
        card->close();
        delete card;
        return fail(command, error);
    }
    analysis.reset(options);

    bool stopped = false;
    QString writeError;
    const int lastError = scan(card, analysis, seconds, &stopped, &writeError);
    if (card->isConnected())
        card->close();
    delete card;

    analysis.refreshFigures(QDateTime::currentMSecsSinceEpoch());
    const bool closed = analysis.session().stop();
    if (!analysis.saveStatistics(StatsFile::pathFor(out), &error))
        return fail(command, error);
    if (!closed || !writeError.isEmpty())
        return fail(command, QStringLiteral("%1: the capture could not be written completely: %2").arg(out, writeError));
    if (lastError == OstrakCard::ErrStreamEnded && !stopped)
        return fail(command, "Connection to the server has been interrupted. Maybe the remote server was shut or "
                             "the connection limit is reached.");
    if (lastError == kNoMoreFrames && !stopped)
        return fail(command, "No more frame received from the Ostrak. Please check its connection and/or your FIP "
                             "network.");
    return Success;
}

} // namespace Cli
