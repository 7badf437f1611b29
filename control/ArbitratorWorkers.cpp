#include "control/ArbitratorWorkers.h"

#include "control/FipBusArbitratorDevice.h"
#include "design/MainDTModel.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

ArbitratorWorkers::ArbitratorWorkers(MainDTModel* model, QMutex* deviceMutex, QWaitCondition* startCondition,
                                     QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_mutex(deviceMutex)
    , m_startCondition(startCondition)
{
    qRegisterMetaType<QList<quint16>>("QList<quint16>");
    qRegisterMetaType<QList<quint8>>("QList<quint8>");
    qRegisterMetaType<LED_RGB_COLOR>("LED_RGB_COLOR");
}

ArbitratorWorkers::~ArbitratorWorkers()
{
    stop();
}

int ArbitratorWorkers::start(const QModelIndexList& stations, const QString& fileReceptionDir)
{
    stop();
    {
        QMutexLocker lock(m_mutex);
        m_released = false;
    }
    for (const QModelIndex& station : stations) {
        if (m_workers.size() >= MaxWorkers)
            break;
        auto* worker = new FipBusArbitratorDevice(m_model, station, fileReceptionDir, m_mutex, m_startCondition);
        worker->setStartPredicate(&m_released);
        auto* thread = new QThread;
        worker->attachThread(*thread);
        worker->moveToThread(thread);
        m_workers.append(worker);
        m_threads.append(thread);
        emit workerCreated(worker);
        thread->start(QThread::InheritPriority);
    }
    for (FipBusArbitratorDevice* worker : qAsConst(m_workers)) {
        while (!worker->isReady()) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
        }
    }
    QThread::msleep(200);
    QCoreApplication::processEvents();
    release();
    return m_workers.size();
}

void ArbitratorWorkers::release()
{
    QMutexLocker lock(m_mutex);
    m_released = true;
    qDebug().noquote() << "[BRANTIX] Main Process - Wake All !!";
    m_startCondition->wakeAll();
}

void ArbitratorWorkers::stop()
{
    if (m_workers.isEmpty())
        return;
    // A worker still before the barrier must not wait for a wake that never comes.
    {
        QMutexLocker lock(m_mutex);
        if (!m_released) {
            m_released = true;
            m_startCondition->wakeAll();
        }
    }
    // All workers are told first so their stop sequences overlap.
    for (int i = 0; i < m_workers.size(); ++i) {
        if (m_threads.at(i)->isRunning()) {
            m_workers.at(i)->stopProcessing();
            m_threads.at(i)->quit();
        }
    }
    for (QThread* thread : qAsConst(m_threads)) {
        while (!thread->isFinished() && thread->isRunning()) {
            QThread::msleep(10);
            QCoreApplication::processEvents();
        }
    }
    for (int i = 0; i < m_workers.size(); ++i) {
        m_workers.at(i)->disconnect();
        disconnect(m_workers.at(i));
        delete m_workers.at(i);
        delete m_threads.at(i);
    }
    m_workers.clear();
    m_threads.clear();
    // Writes the workers carried to the model's thread arrive before anyone reads it again.
    QCoreApplication::processEvents();
}
