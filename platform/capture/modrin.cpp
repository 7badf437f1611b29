#include "modrin.h"

#include "FipRecordEncoder.h"
#include "FipTrafficPacer.h"
#include "OstrakSimulator.h"
#include "kiverrors.h"

#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Largest data block of one frame-records event.
constexpr int kEventDataMax = 1024;
constexpr int kBatchFrames = 4000;

} // namespace

struct CModrin::Impl {
    // The capture is stopped from the GUI thread while the read loop waits on the card.
    std::mutex mutex;
    int connectionType = MODRIN_CO_FTDI_D2XX;
    int index = -1;
    bool capturing = false;
    unsigned char cp = 0;
    unsigned char trigger[5] = {};
    std::unique_ptr<FipTrafficGenerator> generator;
    std::unique_ptr<FipTrafficPacer> pacer;
    std::vector<CEventFramePtr> events;

    void push(unsigned short id, const QByteArray& data, bool trailer = false, unsigned short trailerValue = 0)
    {
        if (OstrakSimulator::takeCounterSkip())
            ++cp;
        auto e = std::make_shared<CEventFrame>();
        e->marker = trailer ? 0x41 : 0x40;
        e->type = FipRecordEncoder::eventSpeedByte(OstrakSimulator::settings().speedCode);
        e->cp = cp++;
        e->event_id = id;
        e->length = (unsigned short)data.size();
        e->data.assign(data.constData(), data.constData() + data.size());
        e->trailer = trailerValue;
        events.push_back(e);
    }

    void startCapture()
    {
        const OstrakSimulator::Settings s = OstrakSimulator::settings();
        generator.reset(new FipTrafficGenerator(s.speedCode, s.frameType));
        generator->setErrorEvery(s.errorEvery);
        pacer.reset(new FipTrafficPacer(generator.get(), s.timeScale));
        capturing = true;
    }

    void stopCapture()
    {
        capturing = false;
        pacer.reset();
        generator.reset();
    }

    // Moves the traffic due by now into event frames; true when any were queued.
    bool collect()
    {
        const OstrakSimulator::Settings s = OstrakSimulator::settings();
        pacer->setPaused(OstrakSimulator::trafficPaused());
        if (OstrakSimulator::takeFifoOverflow() || pacer->dropBacklogOlderThan(s.fifoSpanMs)) {
            generator->skipToTick(pacer->nowTick());
            push(MODRIN_EVT_FIFO_OVERFLOW, QByteArray(), true, 0);
        }
        const FipTrafficGenerator::Error error = OstrakSimulator::takeInjectedError();
        if (error != FipTrafficGenerator::Error::None)
            generator->injectError(error);
        const QVector<FipFrame> frames = pacer->due(kBatchFrames);
        QByteArray block;
        for (const FipFrame& f : frames) {
            const QByteArray record = FipRecordEncoder::tlvRecord(f);
            if (!block.isEmpty() && block.size() + record.size() > kEventDataMax) {
                push(MODRIN_EVT_FRAME_RECORDS, block);
                block.clear();
            }
            block.append(record);
        }
        if (!block.isEmpty())
            push(MODRIN_EVT_FRAME_RECORDS, block);
        return !events.empty();
    }
};

CModrin::CModrin(int connectionType)
    : d(new Impl)
{
    d->connectionType = connectionType;
}

CModrin::~CModrin()
{
    disconnect();
}

int CModrin::connect(unsigned char index)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->index >= 0)
        return KIV_ERR_ALREADY_CONNECTED;
    if (OstrakSimulator::unplugged() || index >= OstrakSimulator::settings().usbCards)
        return KIV_ERR_DEVICE_NOT_FOUND;
    if (!OstrakSimulator::claim(OstrakSimulator::Family::Usb, index))
        return KIV_ERR_DEVICE_BUSY;
    d->index = index;
    return KIV_OK;
}

int CModrin::disconnect()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->index < 0)
        return KIV_ERR_NOT_CONNECTED;
    d->stopCapture();
    d->events.clear();
    OstrakSimulator::release(OstrakSimulator::Family::Usb, d->index);
    d->index = -1;
    return KIV_OK;
}

bool CModrin::is_connected() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->index >= 0;
}

int CModrin::rq_read_by_id(unsigned char module, unsigned char element, unsigned char subIndex,
                           unsigned short* length, unsigned char* buffer, bool wait)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    (void)subIndex;
    (void)wait;
    if (d->index < 0)
        return KIV_ERR_NOT_CONNECTED;
    if (OstrakSimulator::unplugged())
        return KIV_ERR_DEVICE_LOST;
    if (!length || !buffer)
        return KIV_ERR_INVALID_PARAMETER;
    const unsigned short capacity = *length ? *length : 256;
    const OstrakSimulator::Settings s = OstrakSimulator::settings();
    unsigned char reply[8];
    unsigned short size = 0;
    if (module != MODRIN_MODULE_CAPTURE)
        return KIV_ERR_REQUEST_REFUSED;
    switch (element) {
    case MODRIN_ELEMENT_SPEED:
        reply[0] = (unsigned char)((s.speedCode + 1) & 0x07);
        size = 1;
        break;
    case MODRIN_ELEMENT_CAPTURE:
        reply[0] = d->capturing ? MODRIN_CAPTURE_START : MODRIN_CAPTURE_STOP;
        size = 1;
        break;
    case MODRIN_ELEMENT_TRIGGER:
        if (!s.triggerSupported)
            return KIV_ERR_REQUEST_REFUSED;
        std::memcpy(reply, d->trigger, 5);
        size = static_cast<unsigned short>(std::clamp(s.triggerReplyLength, 0, 5));
        break;
    default:
        return KIV_ERR_REQUEST_REFUSED;
    }
    if (size > capacity)
        return KIV_ERR_REPLY_TOO_LONG;
    std::memcpy(buffer, reply, size);
    *length = size;
    return KIV_OK;
}

int CModrin::rq_write_by_id(unsigned char module, unsigned char element, unsigned short length,
                            const unsigned char* bytes, bool wait)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    (void)wait;
    if (d->index < 0)
        return KIV_ERR_NOT_CONNECTED;
    if (OstrakSimulator::unplugged())
        return KIV_ERR_DEVICE_LOST;
    if (!bytes && length)
        return KIV_ERR_INVALID_PARAMETER;
    if (module != MODRIN_MODULE_CAPTURE)
        return KIV_ERR_REQUEST_REFUSED;
    switch (element) {
    case MODRIN_ELEMENT_CAPTURE:
        if (length != 1)
            return KIV_ERR_INVALID_PARAMETER;
        if (bytes[0] == MODRIN_CAPTURE_START) {
            if (OstrakSimulator::takeStartRefusal())
                return KIV_ERR_REQUEST_REFUSED;
            d->startCapture();
        } else if (bytes[0] == MODRIN_CAPTURE_STOP)
            d->stopCapture();
        else
            return KIV_ERR_INVALID_PARAMETER;
        return KIV_OK;
    case MODRIN_ELEMENT_TRIGGER:
        if (!OstrakSimulator::settings().triggerSupported)
            return KIV_ERR_REQUEST_REFUSED;
        if (length != 5)
            return KIV_ERR_INVALID_PARAMETER;
        std::memcpy(d->trigger, bytes, 5);
        return KIV_OK;
    default:
        return KIV_ERR_REQUEST_REFUSED;
    }
}

int CModrin::rq_reset(unsigned char module, unsigned char element, bool wait)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    (void)element;
    (void)wait;
    if (d->index < 0)
        return KIV_ERR_NOT_CONNECTED;
    if (module != MODRIN_MODULE_CAPTURE)
        return KIV_ERR_REQUEST_REFUSED;
    d->stopCapture();
    d->cp = 0;
    return KIV_OK;
}

int CModrin::purge_rx()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->index < 0 ? KIV_ERR_NOT_CONNECTED : KIV_OK;
}

int CModrin::purge_tx()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->index < 0 ? KIV_ERR_NOT_CONNECTED : KIV_OK;
}

int CModrin::purge_event_frame()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->index < 0)
        return KIV_ERR_NOT_CONNECTED;
    d->events.clear();
    return KIV_OK;
}

int CModrin::purge_reply_frame()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->index < 0 ? KIV_ERR_NOT_CONNECTED : KIV_OK;
}

int CModrin::wait_for_event()
{
    QElapsedTimer waited;
    waited.start();
    const int waitMs = std::max(1, OstrakSimulator::settings().eventWaitMs);
    for (;;) {
        int sleepMs = 0;
        {
            // Held per look only, so a stop request gets in between.
            std::lock_guard<std::mutex> lock(d->mutex);
            if (d->index < 0)
                return KIV_ERR_NOT_CONNECTED;
            if (OstrakSimulator::unplugged())
                return KIV_ERR_DEVICE_LOST;
            if (!d->events.empty())
                return KIV_OK;
            if (d->capturing && d->collect())
                return KIV_OK;
            const int left = waitMs - int(waited.elapsed());
            if (left <= 0)
                return KIV_ERR_WAIT_TIMEOUT;
            const int next = d->capturing ? std::max(1, d->pacer->msUntilNext()) : left;
            sleepMs = std::min({ left, next, 10 });
        }
        QThread::msleep(unsigned(sleepMs));
    }
}

std::vector<CEventFramePtr> CModrin::read_event_frames()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    std::vector<CEventFramePtr> out;
    out.swap(d->events);
    return out;
}

// Plain function interface.

int MDGetComInfoList(MD_COM_INFO* list, unsigned int capacity, unsigned int* count)
{
    if (!count)
        return KIV_ERR_INVALID_PARAMETER;
    const int cards = OstrakSimulator::unplugged() ? 0 : OstrakSimulator::settings().usbCards;
    // A serial adapter that is not a capture card sits on the first port.
    const unsigned int total = unsigned(cards) + 1;
    *count = total;
    for (unsigned int i = 0; i < total && i < capacity && list; ++i) {
        MD_COM_INFO& info = list[i];
        std::memset(&info, 0, sizeof info);
        std::snprintf(info.port_name, sizeof info.port_name, "COM%u", i + 3);
        if (i == 0) {
            std::snprintf(info.device_description, sizeof info.device_description, "USB Serial Port");
            info.index = 0;
        } else {
            std::snprintf(info.device_description, sizeof info.device_description, "%s", MODRIN_OSTRAK_PRODUCT_NAME);
            info.index = i - 1;
        }
    }
    return KIV_OK;
}

MD_HANDLE MDGetInstance(int connectionType)
{
    return new CModrin(connectionType);
}

int MDConnect(MD_HANDLE handle, unsigned char index)
{
    return handle ? static_cast<CModrin*>(handle)->connect(index) : KIV_ERR_INVALID_HANDLE;
}

int MDReadByIdRq(MD_HANDLE handle, unsigned char module, unsigned char element, unsigned char subIndex,
                 unsigned short* length, unsigned char* buffer, int wait)
{
    if (!handle)
        return KIV_ERR_INVALID_HANDLE;
    return static_cast<CModrin*>(handle)->rq_read_by_id(module, element, subIndex, length, buffer, wait != 0);
}

int MDDisconnect(MD_HANDLE handle)
{
    return handle ? static_cast<CModrin*>(handle)->disconnect() : KIV_ERR_INVALID_HANDLE;
}

int MDCloseInstance(MD_HANDLE handle)
{
    if (!handle)
        return KIV_ERR_INVALID_HANDLE;
    delete static_cast<CModrin*>(handle);
    return KIV_OK;
}
