#include "pexil.h"

#include "FipRecordEncoder.h"
#include "FipTrafficPacer.h"
#include "OstrakSimulator.h"

#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct pexil_device {
    unsigned int index;
};

namespace {

thread_local int lastError = PEXIL_OK;

int fail(int code)
{
    lastError = code;
    return code;
}

// State shared between a session and its thread, so that a thread still inside
// a handler call when the session ends can finish on its own.
struct SessionCore {
    std::mutex mutex; // makes "not stopped, so enter the handler" one step
    bool stop = false;
    bool inHandler = false;

    bool enterHandler()
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stop)
            return false;
        inHandler = true;
        return true;
    }
    bool leaveHandler()
    {
        std::lock_guard<std::mutex> lock(mutex);
        inHandler = false;
        return !stop;
    }
    void requestStop()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    bool stopped()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return stop;
    }
    /// Stops; true when the thread is inside a handler call.
    bool stopAndCheckHandler()
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        return inHandler;
    }
};

} // namespace

struct pexil_sess {
    pexil_sess_config_t config{};
    pexil_evt_handler_t evt_handler = nullptr;
    std::shared_ptr<SessionCore> core = std::make_shared<SessionCore>();
    std::thread thread;
    bool running = false;
};

namespace {

void runSession(pexil_sess_t* session, std::shared_ptr<SessionCore> core)
{
    const OstrakSimulator::Settings s = OstrakSimulator::settings();
    FipTrafficGenerator generator(s.speedCode, s.frameType);
    generator.setErrorEvery(s.errorEvery);
    FipTrafficPacer pacer(&generator, s.timeScale);
    pexil_evt_handler_t handler = session->evt_handler;
    pexil_error_handler_t onError = session->config.error_handler;
    std::vector<unsigned char> buffer(PEXIL_EVT_BUFFER_SIZE, 0);
    QByteArray carry; // a record that did not fit the previous buffer

    while (!core->stopped()) {
        if (OstrakSimulator::unplugged()) {
            if (onError && core->enterHandler()) {
                onError(session, PEXIL_ERR_DEVICE_LOST);
                core->leaveHandler();
            }
            QThread::msleep(100);
            continue;
        }
        pacer.setPaused(OstrakSimulator::trafficPaused());
        if (OstrakSimulator::takeFifoOverflow() || pacer.dropBacklogOlderThan(s.fifoSpanMs))
            generator.skipToTick(pacer.nowTick());
        const FipTrafficGenerator::Error error = OstrakSimulator::takeInjectedError();
        if (error != FipTrafficGenerator::Error::None)
            generator.injectError(error);

        QByteArray records = carry;
        carry.clear();
        for (;;) {
            const QVector<FipFrame> frames = pacer.due(1);
            if (frames.isEmpty())
                break;
            const QByteArray r = FipRecordEncoder::ospRecord(frames.first());
            if (records.size() + r.size() > PEXIL_EVT_RECORDS_MAX) {
                carry = r;
                break;
            }
            records.append(r);
        }
        if (!records.isEmpty()) {
            std::memcpy(buffer.data(), records.constData(), size_t(records.size()));
            std::memset(buffer.data() + records.size(), 0, size_t(PEXIL_EVT_BUFFER_SIZE - records.size()));
            if (!core->enterHandler())
                break;
            const int result = handler(session, buffer.data());
            if (!core->leaveHandler())
                break;
            if (result != 0 && onError)
                onError(session, PEXIL_ERR_NO_HANDLER);
        }
        if (carry.isEmpty())
            QThread::msleep(unsigned(std::max(1, std::min(10, pacer.msUntilNext()))));
    }
}

} // namespace

int pexil_device_list_get(pexil_device_list_t* list)
{
    if (!list)
        return fail(PEXIL_ERR_INVALID);
    std::memset(list, 0, sizeof *list);
    const int cards = OstrakSimulator::unplugged() ? 0 : OstrakSimulator::settings().pciCards;
    list->count = unsigned(std::min(cards, PEXIL_MAX_DEVICES));
    for (unsigned int i = 0; i < list->count; ++i) {
        list->entries[i].index = i;
        std::snprintf(list->entries[i].name, sizeof list->entries[i].name, "mPCIe Ostrak");
        std::snprintf(list->entries[i].serial, sizeof list->entries[i].serial, "MPC%05u", 1200 + i);
    }
    return PEXIL_OK;
}

pexil_device_t* pexil_device_open(unsigned int index)
{
    if (OstrakSimulator::unplugged() || int(index) >= OstrakSimulator::settings().pciCards) {
        fail(PEXIL_ERR_NO_DEVICE);
        return nullptr;
    }
    if (!OstrakSimulator::claim(OstrakSimulator::Family::Pci, int(index))) {
        fail(PEXIL_ERR_BUSY);
        return nullptr;
    }
    return new pexil_device{ index };
}

int pexil_device_close(pexil_device_t* device)
{
    if (!device)
        return fail(PEXIL_ERR_CLOSE);
    OstrakSimulator::release(OstrakSimulator::Family::Pci, int(device->index));
    delete device;
    return PEXIL_OK;
}

int pexil_device_infos_get(pexil_device_t* device, pexil_device_infos_t* infos)
{
    if (!device || !infos)
        return fail(PEXIL_ERR_INVALID);
    std::memset(infos, 0, sizeof *infos);
    infos->index = device->index;
    infos->speed = unsigned(OstrakSimulator::settings().speedCode) + 1;
    infos->firmware = 0x0203;
    std::snprintf(infos->serial, sizeof infos->serial, "MPC%05u", 1200 + device->index);
    return PEXIL_OK;
}

int pexil_device_reset(pexil_device_t* device)
{
    if (!device)
        return fail(PEXIL_ERR_INVALID);
    return OstrakSimulator::unplugged() ? fail(PEXIL_ERR_DEVICE_LOST) : PEXIL_OK;
}

pexil_sess_t* pexil_sess_init(const pexil_sess_config_t* config)
{
    if (!config || !config->device) {
        fail(PEXIL_ERR_INVALID);
        return nullptr;
    }
    pexil_sess_t* session = new pexil_sess;
    session->config = *config;
    return session;
}

int pexil_sess_evt_handler_set(pexil_sess_t* session, pexil_evt_handler_t handler)
{
    if (!session)
        return fail(PEXIL_ERR_INVALID);
    session->evt_handler = handler;
    return PEXIL_OK;
}

pexil_device_t* pexil_sess_device(pexil_sess_t* session)
{
    return session ? session->config.device : nullptr;
}

void* pexil_sess_user_data(pexil_sess_t* session)
{
    return session ? session->config.user_data : nullptr;
}

namespace {

// Waits for the session's thread unless it is inside a handler call, which may be
// waiting for the very thread that stops the session; that one ends by itself.
void retireThread(pexil_sess_t* session)
{
    if (!session->thread.joinable())
        return;
    const bool inHandler = session->core->stopAndCheckHandler();
    if (session->thread.get_id() == std::this_thread::get_id() || inHandler)
        session->thread.detach();
    else
        session->thread.join();
}

} // namespace

int pexil_sess_start(pexil_sess_t* session)
{
    if (!session)
        return fail(PEXIL_ERR_INVALID);
    if (!session->evt_handler)
        return fail(PEXIL_ERR_NO_HANDLER);
    if (session->running)
        return fail(PEXIL_ERR_STATE);
    if (OstrakSimulator::unplugged())
        return fail(PEXIL_ERR_DEVICE_LOST);
    retireThread(session);
    session->core = std::make_shared<SessionCore>();
    session->running = true;
    session->thread = std::thread(runSession, session, session->core);
    return PEXIL_OK;
}

int pexil_sess_stop(pexil_sess_t* session)
{
    if (!session)
        return fail(PEXIL_ERR_INVALID);
    session->core->requestStop();
    session->running = false;
    return PEXIL_OK;
}

int pexil_sess_exit(pexil_sess_t* session)
{
    if (!session)
        return fail(PEXIL_ERR_INVALID);
    session->running = false;
    retireThread(session);
    delete session;
    return PEXIL_OK;
}

int pexil_error_get(void)
{
    return lastError;
}

const char* pexil_strerror(int code)
{
    switch (code) {
    case PEXIL_OK: return "Success";
    case PEXIL_ERR_NO_DEVICE: return "No such device";
    case PEXIL_ERR_BUSY: return "Device busy";
    case PEXIL_ERR_CLOSE: return "Device could not be closed";
    case PEXIL_ERR_INVALID: return "Invalid argument";
    case PEXIL_ERR_STATE: return "Session already started";
    case PEXIL_ERR_DEVICE_LOST: return "Device lost";
    case PEXIL_ERR_NO_HANDLER: return "No event handler installed";
    default: return "Unknown pexil error";
    }
}
