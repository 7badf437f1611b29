// The board library over the simulated boards of VantorSimulator.

#include "vantor.h"

#include "VantorFileTransfer.h"
#include "VantorRegistry.h"

#include <QDir>
#include <QFile>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t MaxOutgoing = 64;
constexpr size_t MaxAperiodic = 64;

using Lock = std::unique_lock<std::mutex>;

// Runs f on a live, present board with its bus locked.
template <typename F>
u32 onBoard(vantor_device_handle* handle, F f)
{
    const std::shared_ptr<vantor_device> h = VantorRegistry::find(handle);
    if (!h)
        return VANTOR_ERR_BAD_HANDLE;
    Lock lock(h->bus->mutex);
    if (h->pulled)
        return VantorRegistry::pulledCode(*h);
    return f(*h, lock);
}

QString args(std::initializer_list<qint64> values)
{
    QStringList parts;
    for (qint64 v : values)
        parts << QString::number(v);
    return parts.join(QLatin1Char(','));
}

void log(vantor_device& d, const char* name, const QString& arguments = QString())
{
    d.log(QStringLiteral("%1(%2)").arg(QLatin1String(name), arguments));
}

const VantorStationFile::Message* configMessage(const vantor_device& d, bool toSend, bool file, u16 destId,
                                                u8 destSeg, u16 srcId, u8 srcSeg)
{
    for (const VantorStationFile::Message& m : d.config.messages()) {
        if (m.toSend == toSend && m.fileTransferEnabled == file && m.destinationId == destId
            && m.destinationSegment == destSeg && m.sourceId == srcId && m.sourceSegment == srcSeg)
            return &m;
    }
    return nullptr;
}

// Stops the board's part in the network: it leaves the bus, its arbitrator stops
// and a file in emission is abandoned. Returns the emission to wait for outside the lock.
std::shared_ptr<VantorFileTransfer> leaveNetwork(vantor_device& d)
{
    d.bus->leave(&d);
    d.baRequested = false;
    d.state = vantor_device::State::Open;
    std::shared_ptr<VantorFileTransfer> emission = std::move(d.emission);
    if (emission)
        emission->abort();
    return emission;
}

void finishLeaving(vantor_device& d, const std::shared_ptr<VantorFileTransfer>& emission)
{
    if (emission)
        emission->join();
    d.bus->updateScanThread();
}

bool running(const vantor_device& d)
{
    return d.state == vantor_device::State::Running;
}

} // namespace

extern "C" {

u32 vantor_get_devices_number(u8* count)
{
    if (!count)
        return VANTOR_ERR_BAD_PARAM;
    *count = u8(VantorRegistry::records(nullptr, VANTOR_MAX_RECORDS));
    return VANTOR_OK;
}

u32 vantor_get_devices_list(vantor_record* buffer, u8* count)
{
    if (!buffer || !count)
        return VANTOR_ERR_BAD_PARAM;
    *count = u8(VantorRegistry::records(buffer, VANTOR_MAX_RECORDS));
    return VANTOR_OK;
}

vantor_device_handle* vantor_device_open(u32 interfaceType, u8 boardIndex, u32* err)
{
    u32 code = VANTOR_OK;
    const std::shared_ptr<vantor_device> h = VantorRegistry::open(interfaceType, boardIndex, &code);
    if (err)
        *err = code;
    if (!h)
        return nullptr;
    std::lock_guard<std::mutex> lock(h->bus->mutex);
    log(*h, "vantor_device_open", args({ interfaceType, boardIndex }));
    return h.get();
}

u32 vantor_device_close(vantor_device_handle* handle)
{
    const std::shared_ptr<vantor_device> h = VantorRegistry::find(handle);
    if (!h)
        return VANTOR_ERR_BAD_HANDLE;
    std::shared_ptr<VantorFileTransfer> emission;
    {
        Lock lock(h->bus->mutex);
        log(*h, "vantor_device_close");
        emission = leaveNetwork(*h);
    }
    finishLeaving(*h, emission);
    VantorRegistry::close(handle);
    return VANTOR_OK;
}

u32 vantor_get_rgb_led(vantor_device_handle* handle, u32* colour)
{
    if (!colour)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        *colour = VantorRegistry::led(d.position);
        return VANTOR_OK;
    });
}

u32 vantor_set_rgb_led(vantor_device_handle* handle, u32 colour)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_set_rgb_led", args({ colour }));
        if (colour > 7)
            return VANTOR_ERR_BAD_PARAM;
        VantorRegistry::setLed(d.position, colour);
        return VANTOR_OK;
    });
}

u32 vantor_init_network(vantor_device_handle* handle, u32 mode, const char* path, vantor_callbacks* cb)
{
    // The file is read before the bus is locked, so other boards go on meanwhile.
    VantorStationFile config;
    QString error;
    const bool loaded = path && VantorStationFile::load(QString::fromUtf8(path), &config, &error);
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_init_network", QString::number(mode) + QLatin1Char(',') + QString::fromUtf8(path ? path : ""));
        if (mode != 0 || !path)
            return VANTOR_ERR_BAD_PARAM;
        if (d.state != vantor_device::State::Open)
            return VANTOR_ERR_STATE;
        if (!loaded) {
            qWarning("Simulated arbitrator board: %s", qPrintable(error));
            return VANTOR_ERR_CONFIG_FILE;
        }
        const u8 boardSpeed = d.speedCode;
        if (config.speedCode() != boardSpeed) {
            qWarning("Simulated arbitrator board: %s: speed code %d on a board of speed code %d", path,
                     config.speedCode(), boardSpeed);
            return VANTOR_ERR_CONFIG_FILE;
        }
        d.config = config;
        d.callbacks = cb ? *cb : vantor_callbacks {};
        d.produced.clear();
        d.consumed.clear();
        for (const VantorStationFile::Variable& v : config.variables()) {
            if (v.produced)
                d.produced[v.id].data = QByteArray(v.length, '\0');
            else
                d.consumed[v.id].data = QByteArray(v.length, '\0');
        }
        d.outgoing.clear();
        d.incoming.clear();
        d.aperiodic[0].clear();
        d.aperiodic[1].clear();
        std::memset(d.counters, 0, sizeof d.counters);
        d.macrocycle = 1;
        d.state = vantor_device::State::Initialised;
        return VANTOR_OK;
    });
}

u32 vantor_start_network(vantor_device_handle* handle)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_start_network");
        if (d.state != vantor_device::State::Initialised)
            return VANTOR_ERR_STATE;
        d.state = vantor_device::State::Running;
        d.channelOn[0] = d.channelOn[1] = true;
        d.bus->join(&d);
        return VANTOR_OK;
    });
}

u32 vantor_stop_network(vantor_device_handle* handle)
{
    std::shared_ptr<vantor_device> board;
    std::shared_ptr<VantorFileTransfer> emission;
    const u32 code = onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_stop_network");
        if (d.state == vantor_device::State::Open)
            return VANTOR_ERR_STATE;
        emission = leaveNetwork(d);
        board = d.shared_from_this();
        return VANTOR_OK;
    });
    if (board)
        finishLeaving(*board, emission);
    return code;
}

u32 vantor_set_file_reception_dir_path(vantor_device_handle* handle, const char* path)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_set_file_reception_dir_path", QString::fromUtf8(path ? path : ""));
        if (!path)
            return VANTOR_ERR_BAD_PARAM;
        if (d.state == vantor_device::State::Open)
            return VANTOR_ERR_STATE;
        const QByteArray dir(path);
        if (!dir.isEmpty() && !QDir(QString::fromUtf8(dir)).exists())
            return VANTOR_ERR_FILE;
        d.receptionDir = dir;
        return VANTOR_OK;
    });
}

u32 vantor_start_ba(vantor_device_handle* handle, u8 macrocycle)
{
    std::shared_ptr<VantorBus> bus;
    const u32 code = onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_start_ba", args({ macrocycle }));
        if (macrocycle != 1 && macrocycle != 2)
            return VANTOR_ERR_BAD_PARAM;
        if (!running(d))
            return VANTOR_ERR_STATE;
        if (!d.config.arbiterEnabled())
            return VANTOR_ERR_NOT_ARBITRATOR;
        d.macrocycle = macrocycle;
        d.baRequested = true;
        d.bus->startArbitrator(&d);
        bus = d.bus;
        return VANTOR_OK;
    });
    if (bus)
        bus->updateScanThread();
    return code;
}

u32 vantor_change_macrocycle(vantor_device_handle* handle, u8 macrocycle)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_change_macrocycle", args({ macrocycle }));
        if (macrocycle != 1 && macrocycle != 2)
            return VANTOR_ERR_BAD_PARAM;
        if (!d.baRequested)
            return VANTOR_ERR_STATE;
        d.macrocycle = macrocycle; // taken up at the end of the running macrocycle
        return VANTOR_OK;
    });
}

u32 vantor_stop_ba(vantor_device_handle* handle)
{
    std::shared_ptr<VantorBus> bus;
    const u32 code = onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_stop_ba");
        if (!d.config.hasArbiter())
            return VANTOR_ERR_NOT_ARBITRATOR;
        d.baRequested = false;
        d.bus->stopArbitrator(&d);
        bus = d.bus;
        return VANTOR_OK;
    });
    if (bus)
        bus->updateScanThread();
    return code;
}

u32 vantor_read_evt(vantor_device_handle* handle, u16* code, u16* param)
{
    if (!code || !param)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        if (d.events.empty())
            return VANTOR_NO_EVENT;
        *code = d.events.front().first;
        *param = d.events.front().second;
        d.events.pop_front();
        return VANTOR_OK;
    });
}

u32 vantor_write_var_by_id(vantor_device_handle* handle, u16 id, u8* data)
{
    if (!data)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        if (d.state == vantor_device::State::Open)
            return VANTOR_ERR_STATE;
        auto p = d.produced.find(id);
        if (p == d.produced.end())
            return VANTOR_ERR_NOT_FOUND;
        const QByteArray bytes(reinterpret_cast<const char*>(data), p->data.size());
        if (bytes.count('\0') != bytes.size())
            p->written = true;
        p->data = bytes;
        p->writtenNs = vantorNowNs();
        p->writtenSinceTransfer = true;
        return VANTOR_OK;
    });
}

u32 vantor_read_var_by_id(vantor_device_handle* handle, u16 id, u8* buf, u8* promptness, u8* refreshment)
{
    if (!buf)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        if (d.state == vantor_device::State::Open)
            return VANTOR_ERR_STATE;
        std::memset(buf, 0, VANTOR_VAR_READ_SIZE);
        u8 prompt = 1;
        u8 refresh = 1;
        u32 result = VANTOR_OK;
        auto c = d.consumed.find(id);
        if (c != d.consumed.end()) {
            buf[1] = u8(c->data.size());
            std::memcpy(buf + 2, c->data.constData(), size_t(c->data.size()));
            const VantorStationFile::Variable* v = d.config.variable(id);
            const bool watched = v && v->hasPromptitude && v->promptitudeType;
            const qint64 periodNs = watched ? qint64(v->promptitudePeriod * d.config.slotUs() * 1000) : 0;
            if (c->receivedNs < 0)
                prompt = 0;
            else if (periodNs > 0 && vantorNowNs() - c->receivedNs > periodNs)
                prompt = 0;
            refresh = c->receivedNs >= 0 && c->refreshed ? 1 : 0;
            if (!prompt)
                result = VANTOR_VAR_NOT_FRESH;
        } else {
            auto p = d.produced.find(id);
            if (p == d.produced.end())
                return VANTOR_ERR_NOT_FOUND;
            buf[1] = u8(p->data.size());
            std::memcpy(buf + 2, p->data.constData(), size_t(p->data.size()));
        }
        if (promptness)
            *promptness = prompt;
        if (refreshment)
            *refreshment = refresh;
        return result;
    });
}

u32 vantor_write_msg(vantor_device_handle* handle, u16 channel, u8* msg)
{
    if (!msg)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_write_msg", args({ channel, (msg[2] << 8 | msg[3]) - 6 }));
        const int length = (msg[2] << 8 | msg[3]) - 6;
        if (channel > 8 || length < 0 || length > VANTOR_MSG_DATA_MAX)
            return VANTOR_ERR_BAD_PARAM;
        if (!running(d))
            return VANTOR_ERR_STATE;
        const u16 destId = u16(msg[4] << 8 | msg[5]);
        const u16 srcId = u16(msg[7] << 8 | msg[8]);
        if (!configMessage(d, true, false, destId, msg[6], srcId, msg[9]))
            return VANTOR_ERR_NOT_FOUND;
        if (d.outgoing.size() >= MaxOutgoing)
            return VANTOR_ERR_QUEUE_FULL;
        // Kept as the receiver reads it: the data length, little-endian.
        vantor_device::Outgoing out;
        out.channel = channel;
        out.acknowledged = (msg[1] & 0x10) != 0;
        out.buffer = QByteArray(reinterpret_cast<const char*>(msg), VANTOR_MSG_SIZE);
        std::memset(out.buffer.data() + 10 + length, 0, size_t(VANTOR_MSG_DATA_MAX - length));
        out.buffer[2] = char(length & 0xFF);
        out.buffer[3] = char(length >> 8);
        d.outgoing.push_back(out);
        return VANTOR_OK;
    });
}

u32 vantor_read_msg(vantor_device_handle* handle, u8* msg)
{
    if (!msg)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        if (d.incoming.empty())
            return VANTOR_ERR_NO_MESSAGE;
        std::memcpy(msg, d.incoming.front().constData(), VANTOR_MSG_SIZE);
        d.incoming.pop_front();
        return VANTOR_OK;
    });
}

u32 vantor_send_aper_by_id(vantor_device_handle* handle, u16 id, u8 mode)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_send_aper_by_id", args({ id, mode }));
        if (mode > 1)
            return VANTOR_ERR_BAD_PARAM;
        if (!running(d))
            return VANTOR_ERR_STATE;
        if (d.aperiodic[mode].size() >= MaxAperiodic)
            return VANTOR_ERR_QUEUE_FULL;
        d.aperiodic[mode].push_back(id);
        return VANTOR_OK;
    });
}

u32 vantor_purge_aper(vantor_device_handle* handle, u8 mode)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_purge_aper", args({ mode }));
        if (mode > 1)
            return VANTOR_ERR_BAD_PARAM;
        d.aperiodic[mode].clear();
        return VANTOR_OK;
    });
}

u16 vantor_purge_msg(vantor_device_handle* handle, u8 channel, u16* blocksFreed, u8* scratch)
{
    Q_UNUSED(scratch);
    const u32 code = onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_purge_msg", args({ channel }));
        if (channel > 8)
            return VANTOR_ERR_BAD_PARAM;
        u16 freed = 0;
        for (auto it = d.outgoing.begin(); it != d.outgoing.end();) {
            if (it->channel == channel) {
                it = d.outgoing.erase(it);
                ++freed;
            } else {
                ++it;
            }
        }
        if (blocksFreed)
            *blocksFreed = freed;
        return VANTOR_OK;
    });
    return u16(code & 0xFFFF);
}

u32 vantor_set_medium_cmd(vantor_device_handle* handle, u16 cmd)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_set_medium_cmd", args({ cmd }));
        if (cmd & ~0x7F)
            return VANTOR_ERR_BAD_PARAM;
        // Off before on, so one word can restart a channel.
        if (cmd & VANTOR_MEDIUM_CH1_OFF)
            d.channelOn[0] = false;
        if (cmd & VANTOR_MEDIUM_CH2_OFF)
            d.channelOn[1] = false;
        if (cmd & VANTOR_MEDIUM_CH1_ON)
            d.channelOn[0] = true;
        if (cmd & VANTOR_MEDIUM_CH2_ON)
            d.channelOn[1] = true;
        if (!d.faultStuck) {
            if (cmd & VANTOR_MEDIUM_CLEAR_WATCHDOG)
                d.faultBits &= ~0x30;
            if (cmd & VANTOR_MEDIUM_CLEAR_CH1_TX_ERROR)
                d.faultBits &= ~0x04;
            if (cmd & VANTOR_MEDIUM_CLEAR_CH2_TX_ERROR)
                d.faultBits &= ~0x08;
        }
        return VANTOR_OK;
    });
}

u32 vantor_get_medium(vantor_device_handle* handle, vantor_medium* out)
{
    if (!out)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        std::memcpy(out->counters, d.counters, sizeof out->counters);
        out->reserved = 0;
        out->baStatus = d.baRequested ? d.baStatus : 0;
        out->mediumStatus = d.mediumStatus();
        return VANTOR_OK;
    });
}

u32 vantor_get_monitoring_infos(vantor_device_handle* handle, vantor_monitoring_infos* out)
{
    if (!out)
        return VANTOR_ERR_BAD_PARAM;
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        if (d.fixedTemperature != 0 || std::isnan(d.fixedTemperature)) {
            out->temperature = d.fixedTemperature;
        } else {
            // A slow drift in quarter degrees, so most polls see the same value.
            const double minutes = d.openedAt.elapsed() / 60000.0;
            out->temperature = d.baseTemperature + float(std::round(2 * std::sin(minutes)) * 0.25);
        }
        out->supplyVoltage = d.interfaceType == VANTOR_INTERFACE_USB ? 5.0f : 3.3f;
        out->uptimeSeconds = u32(d.openedAt.elapsed() / 1000);
        return VANTOR_OK;
    });
}

u32 vantor_send_file(vantor_device_handle* handle, u16 channel, u16 destId, u8 destSeg, u16 srcId, u8 srcSeg,
                     char* path)
{
    if (!path)
        return VANTOR_ERR_BAD_PARAM;
    const QString file = QString::fromUtf8(path);
    QFile f(file);
    const bool readable = f.open(QIODevice::ReadOnly);
    const QByteArray content = readable ? f.readAll() : QByteArray();
    std::shared_ptr<VantorFileTransfer> finished;
    const u32 code = onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_send_file", args({ channel, destId, destSeg, srcId, srcSeg }) + QLatin1Char(',') + file);
        if (!running(d))
            return VANTOR_ERR_STATE;
        if (d.emission && !d.emission->finished())
            return VANTOR_ERR_BUSY;
        if (!configMessage(d, true, true, destId, destSeg, srcId, srcSeg))
            return VANTOR_ERR_NOT_FOUND;
        if (!readable)
            return VANTOR_ERR_FILE;
        finished = std::move(d.emission);
        const VantorFileTransfer::Route route { channel, destId, destSeg, srcId, srcSeg };
        d.emission = std::make_shared<VantorFileTransfer>(d.shared_from_this(), route, file, content);
        return VANTOR_OK;
    });
    if (finished)
        finished->join();
    return code;
}

u32 vantor_abort_file_emission(vantor_device_handle* handle)
{
    return onBoard(handle, [&](vantor_device& d, Lock&) {
        log(d, "vantor_abort_file_emission");
        if (!d.emission || d.emission->finished())
            return VANTOR_ERR_STATE;
        d.emission->abort();
        return VANTOR_OK;
    });
}

const char* vantor_get_error_str(u32 code)
{
    switch (code) {
    case VANTOR_OK: return "Success";
    case VANTOR_VAR_NOT_FRESH: return "The variable has not been refreshed on the network";
    case VANTOR_ERR_BAD_HANDLE: return "Invalid device handle";
    case VANTOR_ERR_BAD_PARAM: return "Invalid parameter";
    case VANTOR_ERR_NOT_FOUND: return "Identifier or message not found in the station configuration";
    case VANTOR_NO_EVENT: return "No event";
    case VANTOR_ERR_NO_MESSAGE: return "No message received";
    case VANTOR_ERR_STATE: return "The request is not allowed in the current state of the device";
    case VANTOR_ERR_CONFIG_FILE: return "The station configuration file cannot be loaded";
    case VANTOR_ERR_NOT_ARBITRATOR: return "The station has no enabled bus arbitrator";
    case VANTOR_ERR_QUEUE_FULL: return "The emission queue is full";
    case VANTOR_ERR_FILE: return "The file cannot be read or written";
    case VANTOR_ERR_BUSY: return "A file transfer is already in progress";
    case VANTOR_ERR_ABORTED: return "The file transfer has been aborted";
    case VANTOR_ERR_NO_DEVICE: return "Device not found";
    case VANTOR_ERR_DEVICE_BUSY: return "Device already opened";
    case VANTOR_ERR_USB_NO_RESPONSE: return "The USB device did not respond to the last request.";
    default: break;
    }
    static thread_local char text[40];
    std::snprintf(text, sizeof text, "Unknown error 0x%08x", code);
    return text;
}

} // extern "C"
