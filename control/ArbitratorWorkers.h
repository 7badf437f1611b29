#pragma once

#include <QList>
#include <QModelIndexList>
#include <QObject>
#include <QString>

class FipBusArbitratorDevice;
class MainDTModel;
class QMutex;
class QThread;
class QWaitCondition;

/// One arbitrator worker per station, each in its own thread, started together:
/// the workers open and initialise their boards, then wait at the shared start
/// barrier until every one of them is ready, and all are released at once.
class ArbitratorWorkers : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxWorkers = 256;

    /// `deviceMutex` and `startCondition` are the ones the detection worker shares.
    ArbitratorWorkers(MainDTModel* model, QMutex* deviceMutex, QWaitCondition* startCondition,
                      QObject* parent = nullptr);
    ~ArbitratorWorkers() override;

    /// Creates and starts a worker for each station (at most MaxWorkers, in the given order),
    /// waits until all are ready and wakes them. workerCreated is emitted for each one before
    /// its thread starts, for the caller to connect its commands. Returns the number started.
    int start(const QModelIndexList& stations, const QString& fileReceptionDir);
    /// Stops every worker, waits for its thread and deletes both; nothing is left running.
    void stop();

    bool isRunning() const { return !m_workers.isEmpty(); }
    const QList<FipBusArbitratorDevice*>& workers() const { return m_workers; }

signals:
    void workerCreated(FipBusArbitratorDevice* worker);

private:
    void release();

    MainDTModel* m_model;
    QMutex* m_mutex;
    QWaitCondition* m_startCondition;
    bool m_released = false; ///< the start barrier's predicate, under m_mutex
    QList<FipBusArbitratorDevice*> m_workers;
    QList<QThread*> m_threads;
};
