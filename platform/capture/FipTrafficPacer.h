#pragma once

#include "FipTrafficGenerator.h"

#include <QElapsedTimer>
#include <QVector>

/// Runs a traffic generator against the wall clock: the frames whose bus time has
/// come are handed out, so that a reader sees the rate of the real bus. With a
/// time scale above 1 the bus runs faster; in flat-out mode it is not paced.
class FipTrafficPacer
{
public:
    explicit FipTrafficPacer(FipTrafficGenerator* generator, double timeScale = 1.0);

    /// Starts (or restarts) the clock at the generator's next frame.
    void start();

    /// The frames due by now, at most maxFrames of them.
    QVector<FipFrame> due(int maxFrames);

    /// Milliseconds until the next frame is due (0 when one is due now).
    int msUntilNext() const;

    /// A silent bus: no frame is due while paused; on resume the bus takes up
    /// again at the current time, after a silence as long as the pause.
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }

    /// Frames are not paced at all.
    void setFlatOut(bool flatOut) { m_flatOut = flatOut; }
    void setTimeScale(double scale) { m_timeScale = scale > 0 ? scale : 1.0; }

    /// Bus time in ticks reached by the wall clock.
    quint64 nowTick() const;
    /// Drops the frames older than the given span: a reader too slow for the bus.
    /// Returns true when frames were dropped.
    bool dropBacklogOlderThan(int ms);

    FipTrafficGenerator* generator() const { return m_generator; }

private:
    FipTrafficGenerator* m_generator;
    double m_timeScale;
    bool m_paused = false;
    bool m_flatOut = false;
    QElapsedTimer m_clock;
    quint64 m_originTick = 0;
};
