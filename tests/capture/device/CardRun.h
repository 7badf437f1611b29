#ifndef BX_TESTS_CAPTURE_DEVICE_CARDRUN_H
#define BX_TESTS_CAPTURE_DEVICE_CARDRUN_H

// The card wired as the main window wires it: its read loop on a capture thread,
// each hand-over blocking it until this thread has taken the packet.

#include "capture/device/OstrakCard.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <functional>

// Runs the event loop without the sleeps of QTest::qWait, so hand-overs are taken at once.
inline void pumpEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct CardRun
{
    OstrakCard* card;
    QThread thread;
    QObject receiver;
    QByteArray all;
    QVector<int> events;     // size of each hand-over; -1 for a no-traffic report
    QVector<qint64> offsets; // stream offset at which each hand-over starts
    QSet<int> flows;
    bool stopped = false;
    std::function<void(int, const QByteArray&)> onData;
    std::function<void()> onNoTraffic;
    std::function<void(qulonglong, qulonglong)> onFaults;

    explicit CardRun(OstrakCard* c) : card(c) {}

    void start()
    {
        QObject::connect(card, &OstrakCard::fipDataReceived, &receiver, [this](int flow, const QByteArray& data) {
            flows.insert(flow);
            offsets.append(all.size());
            all.append(data);
            events.append(data.size());
            if (onData)
                onData(flow, data);
        }, Qt::BlockingQueuedConnection);
        QObject::connect(card, &OstrakCard::noTrafficDetected, &receiver, [this] {
            events.append(-1);
            if (onNoTraffic)
                onNoTraffic();
        });
        QObject::connect(card, &OstrakCard::streamFaults, &receiver, [this](qulonglong faults, qulonglong bytes) {
            if (onFaults)
                onFaults(faults, bytes);
        });
        QObject::connect(card, &OstrakCard::scanStopped, &receiver, [this] { stopped = true; });
        card->attachThread(thread);
        card->moveToThread(&thread);
        thread.start();
    }
    bool waitStopped(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (!stopped && t.elapsed() < ms)
            pumpEvents(10);
        thread.quit();
        return stopped && thread.wait(5000);
    }
    bool stop(int ms)
    {
        card->stopScan();
        return waitStopped(ms);
    }
    ~CardRun()
    {
        if (thread.isRunning())
            stop(5000);
        card->close();
        delete card;
    }
};

#endif
