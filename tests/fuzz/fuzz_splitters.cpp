// Arbitrary bytes through the capture card's packet splitters, arriving in
// chunks as a socket delivers them. The first byte picks the splitter; then each
// chunk is a 1-byte length and that many bytes. Whatever the bytes, every byte
// fed ends up once, in order, either in the output or still in the input.
// The same bytes also go through the capture-session handler's record walk.
#include "capture/device/OstrakCard.h"

#include "pexil.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    if (size < 1)
        return 0;
    const bool osp = data[0] & 1;
    QByteArray fed, input, output;
    quint64 last = 0;
    bool started = false;
    std::size_t pos = 1;
    while (pos < size) {
        const std::size_t take = std::min<std::size_t>(data[pos], size - pos - 1);
        input.append(reinterpret_cast<const char*>(data + pos + 1), int(take));
        fed.append(reinterpret_cast<const char*>(data + pos + 1), int(take));
        pos += take + 1;
        bool more = true;
        for (int guard = 0; more; ++guard) {
            const int before = input.size();
            if (osp)
                OstrakCard::treatOspPkt(&input, &output, &last, &started, &more);
            else
                OstrakCard::treatIProtEvtPkt(&input, &output, &last, &started, &more);
            if (more && input.size() == before)
                std::abort(); // no progress yet more asked for
            if (guard > 1 << 20)
                std::abort();
        }
        if (output + input != fed)
            std::abort();
    }
    if (OstrakCard::treatOspPkt(nullptr, &output, &last, &started, nullptr))
        std::abort();

    // The handler walks at most a library buffer, which is zero-filled past the records.
    std::vector<unsigned char> buffer(PEXIL_EVT_BUFFER_SIZE, 0);
    std::memcpy(buffer.data(), data + 1, std::min<std::size_t>(size - 1, buffer.size()));
    static pexil_sess_t* session = [] {
        pexil_sess_config_t config{};
        static pexil_device_t* device = pexil_device_open(0);
        config.device = device;
        return pexil_sess_init(&config);
    }();
    const int result = pexil_evt_handler(session, buffer.data());
    if (result != 0 && result != 0xFF)
        std::abort();
    return 0;
}
