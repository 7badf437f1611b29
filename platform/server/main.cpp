// ostrak-server: a remote capture server on the loopback interface, for trying
// the remote capture links without a capture card.

#include "OstrakServer.h"
#include "VantorProjectBus.h"

#include <QCoreApplication>
#include <QTextStream>

#include <csignal>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onSignal(int)
{
    interrupted = 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    OstrakServer::Options options;
    QString error;
    if (!OstrakServer::parseArguments(app.arguments(), &options, &error)) {
        if (!error.isEmpty())
            err << "ostrak-server: " << error << "\n";
        err << OstrakServer::usage();
        return error.isEmpty() ? 0 : 2;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    // The project's stations run here, on simulated boards the generator follows.
    VantorProjectBus project;
    if (!options.projectPath.isEmpty()) {
        if (!project.start(options.projectPath, &error)) {
            err << "ostrak-server: " << error << "\n";
            return 1;
        }
        options.source.speedCode = project.speedCode();
        options.speedDigit = project.speedCode();
        out << "project " << options.projectPath << ": " << project.stations() << " stations\n";
    }
    OstrakServer server(options);
    if (!server.start()) {
        err << "ostrak-server: " << server.errorString() << "\n";
        return 1;
    }
    if (options.tcpPort >= 0)
        out << "tcp 127.0.0.1:" << server.tcpPort() << "\n";
    if (options.udpPort >= 0)
        out << "udp to 127.0.0.1:" << options.udpPort << "\n";
    out.flush();
    while (!interrupted && !server.wait(100)) {
    }
    server.stop();
    out << "frames sent: " << server.framesSent() << ", packets: " << server.packetsSent()
        << ", bytes: " << server.bytesSent() << ", clients: " << server.clientsServed() << "\n";
    return 0;
}
