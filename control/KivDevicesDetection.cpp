#include "control/KivDevicesDetection.h"

#include "vantor.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <cstring>

KivDevicesDetection::KivDevicesDetection(QMutex* deviceMutex, QObject* parent)
    : QObject(parent)
    , m_deviceMutex(deviceMutex)
{
    qRegisterMetaType<TARVEXCONF>("TARVEXCONF");
    qRegisterMetaType<QList<TARVEXCONF>>("QList<TARVEXCONF>");
}

void KivDevicesDetection::attachThread(QThread& thread)
{
    connect(&thread, &QThread::started, this, &KivDevicesDetection::bkgdThread);
}

void KivDevicesDetection::stopProcessing()
{
    m_scanning = false;
    m_stopRequested = true;
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
        dispatcher->wakeUp();
}

void KivDevicesDetection::setScanning(bool scanning)
{
    if (scanning)
        m_forceUpdate = true;
    m_scanning = scanning;
}

void KivDevicesDetection::bkgdThread()
{
    // The timer is made here so that it lives in the detection thread.
    QTimer timer;
    timer.setInterval(m_intervalMs);
    connect(&timer, &QTimer::timeout, this, &KivDevicesDetection::onUpdate);
    m_timer = &timer;
    timer.start();
    // Boards already plugged in are listed at once rather than after the first period.
    m_forceUpdate = true;
    onUpdate();
    // Asleep until an event comes (the timer, a queued call, stopProcessing's wake-up).
    while (!m_stopRequested)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    m_timer = nullptr;
    timer.stop();
    thread()->quit();
}

void KivDevicesDetection::onUpdate()
{
    if (!m_scanning)
        return;
    u8 count = 0;
    {
        QMutexLocker lock(m_deviceMutex);
        if (vantor_get_devices_number(&count) != VANTOR_OK)
            count = 0;
    }
    if (!m_forceUpdate && count == m_lastCount)
        return;
    m_lastCount = count;
    const QList<TARVEXCONF> devices = queryDevices(m_deviceMutex);
    m_forceUpdate = false;
    emit devicesListUpdated(devices);
}

QList<TARVEXCONF> KivDevicesDetection::queryDevices(QMutex* deviceMutex)
{
    vantor_record records[VANTOR_MAX_RECORDS];
    std::memset(records, 0, sizeof records);
    u8 count = 0;
    {
        QMutexLocker lock(deviceMutex);
        if (vantor_get_devices_list(records, &count) != VANTOR_OK)
            count = 0;
    }
    count = qMin<u8>(count, VANTOR_MAX_RECORDS);
    QList<TARVEXCONF> devices;
    devices.reserve(count);
    for (int i = 0; i < count; ++i) {
        TARVEXCONF device;
        std::memcpy(device.record, records[i].bytes, TARVEXCONF::RecordSize);
        u32 err = 0;
        if (vantor_device_handle* handle = vantor_device_open(TarvexFields::interfaceType(device),
                                                              TarvexFields::boardIndex(device), &err)) {
            u32 colour = LED_BLACK;
            if (err == VANTOR_OK && vantor_get_rgb_led(handle, &colour) == VANTOR_OK)
                device.ledColor = colour & 0x7;
            vantor_device_close(handle);
        }
        devices.append(device);
    }
    return devices;
}
