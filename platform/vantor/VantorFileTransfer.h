#pragma once

#include "VantorBus.h"

#include <atomic>
#include <memory>
#include <thread>

/// One file emission, packet by packet over the bus, on a thread of its own that
/// calls the progression and completion callbacks of the sending board and of the
/// board that receives the file.
class VantorFileTransfer
{
public:
    struct Route {
        u16 channel = 0;
        u16 destId = 0;
        u8 destSeg = 0;
        u16 srcId = 0;
        u8 srcSeg = 0;
    };

    VantorFileTransfer(std::shared_ptr<vantor_device> sender, const Route& route, const QString& path,
                       QByteArray content);
    ~VantorFileTransfer();
    VantorFileTransfer(const VantorFileTransfer&) = delete;
    VantorFileTransfer& operator=(const VantorFileTransfer&) = delete;

    void abort() { m_abort = true; }
    bool finished() const { return m_finished; }
    /// Waits for the thread, unless called from it.
    void join();

private:
    void run();

    std::shared_ptr<vantor_device> m_sender;
    Route m_route;
    QString m_path;
    QByteArray m_content;
    std::atomic<bool> m_abort { false };
    std::atomic<bool> m_finished { false };
    std::thread m_thread;
};
