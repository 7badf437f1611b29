#pragma once

#include "control/BoardTypes.h"

#include <QList>
#include <QObject>

#include <atomic>

class QMutex;
class QThread;
class QTimer;

/// Lists the arbitrator boards in a thread of its own and publishes the list
/// whenever the number of boards changes or a rescan is forced. Library calls
/// that list devices run under the mutex the workers share; boards are opened
/// outside it to read their LED colour.
class KivDevicesDetection : public QObject
{
    Q_OBJECT
public:
    static constexpr int UpdateIntervalMs = 10000;

    KivDevicesDetection(QMutex* deviceMutex, QObject* parent = nullptr);

    /// Runs bkgdThread when the thread starts; the detector must then be moved to it.
    void attachThread(QThread& thread);
    /// Ends bkgdThread; safe from any thread.
    void stopProcessing();
    /// Off while the network is connected; turning it on forces a rescan.
    void setScanning(bool scanning);
    bool isScanning() const { return m_scanning; }
    /// Shorter periods for tests.
    void setUpdateInterval(int ms) { m_intervalMs = ms; }

    /// The device list as the library gives it now, LED colours read from each board.
    /// Used by the detector and by the main window's immediate query.
    static QList<TARVEXCONF> queryDevices(QMutex* deviceMutex);

public slots:
    void bkgdThread();
    void onUpdate();

signals:
    void devicesListUpdated(QList<TARVEXCONF> devices);

private:
    QMutex* m_deviceMutex;
    std::atomic<bool> m_stopRequested { false }; ///< never reset: a stop before the loop starts holds
    std::atomic<bool> m_scanning { true };
    std::atomic<bool> m_forceUpdate { false };
    quint8 m_lastCount = 0;
    int m_intervalMs = UpdateIntervalMs;
    QTimer* m_timer = nullptr;
};
