#include "VantorFileTransfer.h"

#include "VantorRegistry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

namespace {
constexpr int PacketBytes = 256;
}

VantorFileTransfer::VantorFileTransfer(std::shared_ptr<vantor_device> sender, const Route& route,
                                       const QString& path, QByteArray content)
    : m_sender(std::move(sender)), m_route(route), m_path(path), m_content(std::move(content))
{
    m_thread = std::thread([this] { run(); });
}

VantorFileTransfer::~VantorFileTransfer()
{
    m_abort = true;
    join();
    if (m_thread.joinable())
        m_thread.detach();
}

void VantorFileTransfer::join()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void VantorFileTransfer::run()
{
    VantorBus& bus = *m_sender->bus;
    const Route& r = m_route;
    QElapsedTimer timer;
    timer.start();
    const u32 total = u32(std::max<qsizetype>(1, (m_content.size() + PacketBytes - 1) / PacketBytes));
    std::shared_ptr<vantor_device> receiver;
    vantor_callbacks senderCb;
    vantor_callbacks receiverCb = {};
    QByteArray receptionDir;
    u32 report = VANTOR_OK;
    {
        std::lock_guard<std::mutex> lock(bus.mutex);
        senderCb = m_sender->callbacks;
        if (vantor_device* found = bus.fileReceiver(m_sender.get(), r.destId, r.destSeg, r.srcId, r.srcSeg)) {
            receiver = found->shared_from_this();
            receiverCb = receiver->callbacks;
            receptionDir = receiver->receptionDir;
        } else {
            report = VANTOR_ERR_NOT_FOUND;
        }
    }

    // Each packet waits for an arbitrator to give the bus, like any message.
    for (u32 packet = 1; report == VANTOR_OK && packet <= total; ++packet) {
        for (;;) {
            if (m_abort) {
                report = VANTOR_ERR_ABORTED;
                break;
            }
            std::unique_lock<std::mutex> lock(bus.mutex);
            if (m_sender->pulled) {
                report = VantorRegistry::pulledCode(*m_sender);
                break;
            }
            if (!receiver->onBus() || !m_sender->onBus()) {
                report = VANTOR_ERR_NOT_FOUND;
                break;
            }
            if (bus.arbitrating())
                break;
            lock.unlock();
            QThread::msleep(2);
        }
        if (report != VANTOR_OK)
            break;
        if (const int us = VantorRegistry::filePacketUs())
            QThread::usleep(ulong(us));
        const double seconds = timer.nsecsElapsed() / 1e9;
        if (senderCb.progression)
            senderCb.progression(m_sender.get(), 1, r.destId, r.destSeg, r.srcId, r.srcSeg, packet, total, seconds,
                                 senderCb.user);
        if (receiverCb.progression)
            receiverCb.progression(receiver.get(), 0, r.destId, r.destSeg, r.srcId, r.srcSeg, packet, total,
                                   seconds, receiverCb.user);
    }

    QByteArray written;
    if (report == VANTOR_OK) {
        // The receiving board keeps the file's name in its reception directory.
        QString dir = QString::fromUtf8(receptionDir);
        if (dir.isEmpty() || !QDir(dir).exists()) {
            report = VANTOR_ERR_FILE;
        } else {
            const QString target = QDir(dir).filePath(QFileInfo(m_path).fileName());
            QSaveFile out(target);
            if (out.open(QIODevice::WriteOnly) && out.write(m_content) == m_content.size() && out.commit())
                written = QDir::cleanPath(target).toUtf8();
            else
                report = VANTOR_ERR_FILE;
        }
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    if (receiver && receiverCb.completion) {
        bool stillThere;
        {
            std::lock_guard<std::mutex> lock(bus.mutex);
            stillThere = receiver->onBus();
        }
        if (stillThere)
            receiverCb.completion(receiver.get(), 0, r.destId, r.destSeg, r.srcId, r.srcSeg, report, seconds,
                                  written.data(), receiverCb.user);
    }
    QByteArray source = m_path.toUtf8();
    if (senderCb.completion)
        senderCb.completion(m_sender.get(), 1, r.destId, r.destSeg, r.srcId, r.srcSeg, report, seconds,
                            source.data(), senderCb.user);
    m_finished = true;
}
