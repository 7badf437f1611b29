#include "FipTrafficPacer.h"

#include <algorithm>
#include <cmath>

FipTrafficPacer::FipTrafficPacer(FipTrafficGenerator* generator, double timeScale)
    : m_generator(generator)
    , m_timeScale(timeScale > 0 ? timeScale : 1.0)
{
    start();
}

void FipTrafficPacer::start()
{
    m_clock.start();
    m_originTick = m_generator->nextFrameTick();
}

quint64 FipTrafficPacer::nowTick() const
{
    const double seconds = double(m_clock.nsecsElapsed()) / 1e9 * m_timeScale;
    return m_originTick + quint64(seconds * m_generator->ticksPerSecond());
}

QVector<FipFrame> FipTrafficPacer::due(int maxFrames)
{
    QVector<FipFrame> frames;
    if (m_paused)
        return frames;
    const quint64 now = m_flatOut ? ~quint64(0) : nowTick();
    while (frames.size() < maxFrames && m_generator->nextFrameTick() <= now)
        frames.append(m_generator->next());
    return frames;
}

int FipTrafficPacer::msUntilNext() const
{
    if (m_flatOut)
        return 0;
    if (m_paused)
        return 1000;
    const quint64 now = nowTick();
    const quint64 next = m_generator->nextFrameTick();
    if (next <= now)
        return 0;
    const double ms = double(next - now) / m_generator->ticksPerSecond() * 1000.0 / m_timeScale;
    return int(std::min(1000.0, std::ceil(ms)));
}

void FipTrafficPacer::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (!paused)
        m_generator->skipToTick(nowTick());
}

bool FipTrafficPacer::dropBacklogOlderThan(int ms)
{
    if (m_flatOut || m_paused)
        return false;
    const quint64 now = nowTick();
    const quint64 span = quint64(double(ms) / 1000.0 * m_generator->ticksPerSecond());
    if (now > span && m_generator->nextFrameTick() + span < now) {
        m_generator->skipToTick(now);
        return true;
    }
    return false;
}
