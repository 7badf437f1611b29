#include "OstrakSimulator.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>

namespace {

struct State {
    QMutex mutex;
    OstrakSimulator::Settings settings;
    bool paused = false;
    bool unplugged = false;
    FipTrafficGenerator::Error error = FipTrafficGenerator::Error::None;
    bool fifoOverflow = false;
    bool counterSkip = false;
    bool startRefusal = false;
    QSet<int> claimed; // family * 1000 + index
};

State& state()
{
    static State s;
    return s;
}

int key(OstrakSimulator::Family family, int index)
{
    return (family == OstrakSimulator::Family::Usb ? 0 : 1000) + index;
}

} // namespace

OstrakSimulator::Settings OstrakSimulator::settings()
{
    QMutexLocker lock(&state().mutex);
    return state().settings;
}

void OstrakSimulator::setSettings(const Settings& settings)
{
    QMutexLocker lock(&state().mutex);
    state().settings = settings;
}

void OstrakSimulator::reset()
{
    State& s = state();
    QMutexLocker lock(&s.mutex);
    s.settings = Settings();
    s.paused = false;
    s.unplugged = false;
    s.error = FipTrafficGenerator::Error::None;
    s.fifoOverflow = false;
    s.counterSkip = false;
    s.startRefusal = false;
    s.claimed.clear();
}

void OstrakSimulator::setTrafficPaused(bool paused)
{
    QMutexLocker lock(&state().mutex);
    state().paused = paused;
}

bool OstrakSimulator::trafficPaused()
{
    QMutexLocker lock(&state().mutex);
    return state().paused;
}

void OstrakSimulator::setUnplugged(bool unplugged)
{
    QMutexLocker lock(&state().mutex);
    state().unplugged = unplugged;
}

bool OstrakSimulator::unplugged()
{
    QMutexLocker lock(&state().mutex);
    return state().unplugged;
}

void OstrakSimulator::injectError(FipTrafficGenerator::Error error)
{
    QMutexLocker lock(&state().mutex);
    state().error = error;
}

FipTrafficGenerator::Error OstrakSimulator::takeInjectedError()
{
    QMutexLocker lock(&state().mutex);
    const FipTrafficGenerator::Error e = state().error;
    state().error = FipTrafficGenerator::Error::None;
    return e;
}

void OstrakSimulator::injectStartRefusal()
{
    QMutexLocker lock(&state().mutex);
    state().startRefusal = true;
}

bool OstrakSimulator::takeStartRefusal()
{
    QMutexLocker lock(&state().mutex);
    const bool taken = state().startRefusal;
    state().startRefusal = false;
    return taken;
}

void OstrakSimulator::injectFifoOverflow()
{
    QMutexLocker lock(&state().mutex);
    state().fifoOverflow = true;
}

bool OstrakSimulator::takeFifoOverflow()
{
    QMutexLocker lock(&state().mutex);
    const bool taken = state().fifoOverflow;
    state().fifoOverflow = false;
    return taken;
}

void OstrakSimulator::injectCounterSkip()
{
    QMutexLocker lock(&state().mutex);
    state().counterSkip = true;
}

bool OstrakSimulator::takeCounterSkip()
{
    QMutexLocker lock(&state().mutex);
    const bool taken = state().counterSkip;
    state().counterSkip = false;
    return taken;
}

bool OstrakSimulator::claim(Family family, int index)
{
    QMutexLocker lock(&state().mutex);
    if (state().claimed.contains(key(family, index)))
        return false;
    state().claimed.insert(key(family, index));
    return true;
}

void OstrakSimulator::release(Family family, int index)
{
    QMutexLocker lock(&state().mutex);
    state().claimed.remove(key(family, index));
}

bool OstrakSimulator::isClaimed(Family family, int index)
{
    QMutexLocker lock(&state().mutex);
    return state().claimed.contains(key(family, index));
}
