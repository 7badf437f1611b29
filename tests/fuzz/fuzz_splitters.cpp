// Arbitrary bytes through the remote link's packet splitter, as many reads of a
// stream (state kept from one to the next) or as datagrams. The first byte picks
// the flow (bit 0) and datagrams (bit 1). Then each step is an op byte:
//   0x00-0x7F  n: the next n bytes are one read (or one datagram)
//   0x80-0xBF  a packet header declaring a huge length: an Osp header whose record
//              count is the next 4 bytes, or an event header of length 0xFFFF
//   0xC0-0xFF  the last read again, (op & 0x3F) + 1 times
// Whatever comes, every byte fed is taken once, dropped once or still pending,
// what goes out is whole packets, and the bytes held stay under the link's cap.
// The same bytes also go through the one-packet-per-call splitters and the
// capture-session handler's record walk.
#include "capture/device/OstrakCard.h"
#include "capture/device/OstrakStreamSplitter.h"

#include "pexil.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

inline quint32 be(const char* p, int n)
{
    quint32 v = 0;
    for (int i = 0; i < n; ++i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

// Whether out is a sequence of whole packets, walked here on its own.
bool wholePackets(const QByteArray& out, int flow)
{
    int at = 0;
    while (at < out.size()) {
        const char* p = out.constData() + at;
        const int left = out.size() - at;
        qint64 size = 0;
        if (flow == 2) {
            if (left < 16 || p[0] != 'O' || p[1] != 'S')
                return false;
            size = 16;
            for (quint32 r = be(p + 12, 4); r > 0; --r) {
                if (size + 3 > left || be(p + size + 1, 2) < 3)
                    return false;
                size += be(p + size + 1, 2);
            }
        } else {
            if (left < 7 || (quint8(p[0]) != 0x40 && quint8(p[0]) != 0x41))
                return false;
            size = 7 + be(p + 5, 2) + (quint8(p[0]) == 0x41 ? 2 : 0);
        }
        if (size > left)
            return false;
        at += int(size);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    static const bool installed = (qInstallMessageHandler(quiet), true);
    (void)installed;
    if (size < 1)
        return 0;
    const int flow = (data[0] & 1) ? 2 : 1;
    const bool datagrams = data[0] & 2;
    OstrakStreamSplitter splitter(flow);
    QByteArray read, out, fed, input, oneByOne;
    quint64 fedBytes = 0, outBytes = 0, last = 0;
    bool started = false;
    std::size_t pos = 1;
    while (pos < size) {
        const quint8 op = data[pos++];
        int repeat = 1;
        if (op < 0x80) {
            const std::size_t n = std::min<std::size_t>(op, size - pos);
            read = QByteArray(reinterpret_cast<const char*>(data + pos), int(n));
            pos += n;
        } else if (op < 0xC0) {
            const char count[4] = { char(pos < size ? data[pos] : 0xFF), char(0xFF), char(0xFF), char(0xFF) };
            read = flow == 2 ? QByteArray("OS\x01\x00\0\0\0\0\0\0\0\x01", 12) + QByteArray(count, 4)
                             : QByteArray("\x40\x00\x01\xA0\x00\xFF\xFF", 7);
        } else {
            repeat = (op & 0x3F) + 1;
        }
        for (int i = 0; i < repeat; ++i) {
            fedBytes += quint64(read.size());
            if (datagrams) {
                splitter.splitDatagram(read.constData(), read.size(), &out);
            } else {
                splitter.append(read.constData(), read.size());
                splitter.split(&out);
            }
            if (!wholePackets(out, flow))
                std::abort();
            outBytes += quint64(out.size());
            out.clear();
            if (outBytes + splitter.lostBytes() + quint64(splitter.pending()) != fedBytes)
                std::abort(); // a byte neither taken, dropped nor pending
            if (splitter.peak() > OstrakStreamSplitter::kMaxInput
                || splitter.pending() > OstrakStreamSplitter::kMaxOspPacket + 128)
                std::abort(); // held beyond a packet
        }
        // The one-packet-per-call splitters take the first few reads.
        if (fed.size() < 4096) {
            fed.append(read);
            input.append(read);
            bool more = true;
            for (int guard = 0; more; ++guard) {
                const int before = input.size();
                if (flow == 2)
                    OstrakCard::treatOspPkt(&input, &oneByOne, &last, &started, &more);
                else
                    OstrakCard::treatIProtEvtPkt(&input, &oneByOne, &last, &started, &more);
                if ((more && input.size() == before) || guard > 1 << 20)
                    std::abort(); // no progress yet more asked for
            }
            if (oneByOne + input != fed)
                std::abort();
        }
    }
    if (OstrakCard::treatOspPkt(nullptr, &out, &last, &started, nullptr))
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
