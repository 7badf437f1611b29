#include "capture/pcapng/PcapngImport.h"

#include "capture/decoder/FipStreamDecoder.h"
#include "capture/files/CaptureSession.h"
#include "capture/pcapng/PcapngFormat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("PcapngImport", text);
}

// Packets looked at to tell the frame type by the FCS when the file does not name it.
constexpr int FrameTypeProbePackets = 1000;
// Long imports let the window breathe this often, as raw replays do.
constexpr qint64 EventsPeriodNs = 5000000;

QString wrongLinkType(quint16 linkType)
{
    return tr("The capture holds packets of link type %1, not FIP frames (link type %2, LINKTYPE_USER0).")
        .arg(linkType)
        .arg(Pcapng::LinkTypeFip);
}

} // namespace

bool PcapngImport::isCaptureFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("pcapng") || suffix == QLatin1String("pcap");
}

PcapngImport::Result PcapngImport::fail(Result result, const QString& message)
{
    m_error = message;
    return result;
}

PcapngImport::Result PcapngImport::open(const QString& path)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        return fail(OpenFailed, tr("Impossible to open the capture %1: %2").arg(path, m_file.errorString()));
    m_size = m_file.size();
    if (m_size > 0) {
        m_data = m_file.map(0, m_size);
        if (m_data == nullptr) {
            m_copy = m_file.readAll();
            if (m_copy.size() != m_size)
                return fail(OpenFailed, tr("Impossible to read the capture %1.").arg(path));
            m_data = reinterpret_cast<const uchar*>(m_copy.constData());
        }
    }
    // A file that is no capture of FIP frames is refused before anything is decoded.
    PcapngReader reader(m_data, m_size, Pcapng::BrantixEnterprise);
    PcapngReader::Packet packet;
    const PcapngReader::Status first = reader.next(&packet);
    if (first == PcapngReader::Failed && packet.data == nullptr && reader.interfaces().isEmpty())
        return fail(Damaged, reader.errorString());
    if (first == PcapngReader::PacketRead) {
        const quint16 linkType = reader.interfaces().at(packet.interfaceId).linkType;
        if (linkType != Pcapng::LinkTypeFip)
            return fail(WrongLinkType, wrongLinkType(linkType));
    }
    return Ok;
}

void PcapngImport::setData(const uchar* data, qint64 size)
{
    close();
    m_data = data;
    m_size = data ? size : 0;
    m_external = true;
}

void PcapngImport::close()
{
    if (m_data != nullptr && m_copy.isEmpty() && !m_external)
        m_file.unmap(const_cast<uchar*>(m_data));
    m_external = false;
    m_data = nullptr;
    m_copy.clear();
    m_size = 0;
    m_position = 0;
    if (m_file.isOpen())
        m_file.close();
}

PcapngImport::Result PcapngImport::decode(FipStreamDecoder& decoder, bool* stop, FipDecoderListener* events)
{
    m_frames = 0;
    m_position = 0;
    m_link = FipPcapng::Link();
    if (stop == nullptr)
        return Cancelled;
    *stop = false;

    // The bus comes from the first interface of FIP frames; an unnamed frame type
    // is the one whose FCS the frames carry.
    {
        PcapngReader probe(m_data, m_size, Pcapng::BrantixEnterprise);
        PcapngReader::Packet packet;
        bool linkKnown = false;
        for (int i = 0; i < FrameTypeProbePackets && probe.next(&packet) == PcapngReader::PacketRead; ++i) {
            const PcapngReader::Interface& interface = probe.interfaces().at(packet.interfaceId);
            if (interface.linkType != Pcapng::LinkTypeFip)
                continue;
            if (!linkKnown) {
                m_link = FipPcapng::linkOf(interface);
                linkKnown = true;
            }
            if (m_link.frameType != 0)
                break;
            m_link.frameType = FipPcapng::frameTypeByFcs(packet.data, packet.size);
        }
    }

    PcapngReader reader(m_data, m_size, Pcapng::BrantixEnterprise);
    PcapngReader::Packet packet;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (*stop)
            return Cancelled;
        const PcapngReader::Status status = reader.next(&packet);
        m_position = reader.position();
        if (status == PcapngReader::End)
            break;
        if (status == PcapngReader::Failed)
            return fail(Damaged, reader.errorString());
        const quint16 linkType = reader.interfaces().at(packet.interfaceId).linkType;
        if (linkType != Pcapng::LinkTypeFip)
            return fail(WrongLinkType, wrongLinkType(linkType));
        const FipPcapngFrame frame = FipPcapng::frameOf(packet);
        if (frame.kind == FipPcapngFrame::TrafficInterruption)
            decoder.treatImportedInterruption(frame.timestamp, frame.number);
        else
            decoder.treatImportedFrame(m_link.frameType, m_link.speedCode, frame.timestamp, frame.ifc, frame.fc,
                                       frame.number, packet.data, packet.size, frame.status);
        ++m_frames;
        if (events && timer.nsecsElapsed() > EventsPeriodNs) {
            events->onProcessEvents(m_position, m_size);
            timer.start();
        }
    }
    if (m_frames == 0 && reader.interfaces().isEmpty())
        return fail(Damaged, tr("The capture holds no interface and no packet."));
    return Ok;
}

PcapngImport::Result PcapngImport::toTrace(const QString& pcapngPath, const QString& tracePath,
                                           CaptureSession& session, const TraceRecordOptions& options, bool* stop)
{
    Result result = open(pcapngPath);
    if (result != Ok) {
        close();
        return result;
    }
    CaptureSession::Files files;
    files.trace = tracePath;
    QString error;
    TraceRecordOptions converting = options;
    converting.converting = true;
    if (!session.start(converting, files, &error)) {
        close();
        return fail(OpenFailed, error);
    }
    result = decode(session.decoder(), stop, &session);
    close();
    if (!session.stop() && result == Ok)
        return fail(OpenFailed, session.traceWriter().errorString());
    return result;
}
