// Bytes → the simulated boards' description reader. An accepted description
// must list exactly its boards, each openable once with the type and index
// its record gives; every network it sets keeps rates within 0..1.

#include "VantorSimulator.h"
#include "vantor.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), int(size));
    QVector<VantorSimulator::Board> boards;
    QVector<VantorSimulator::Network> networks;
    QString error;
    if (!VantorSimulator::parseBoards(text, &boards, &error, &networks)) {
        if (error.isEmpty())
            abort();
        return 0;
    }
    if (boards.size() > VANTOR_MAX_RECORDS)
        abort();
    for (const VantorSimulator::Network& n : networks) {
        const FipTrafficGenerator::Faults& f = n.faults;
        for (double rate : { f.missingReply, f.fcs, f.glitch, f.lateReply, f.dropout })
            if (!(rate >= 0 && rate <= 1))
                abort();
        for (const VantorSimulator::ValuePattern& p : n.patterns)
            if (p.periodMs == 0)
                abort();
        VantorSimulator::setNetwork(n);
    }
    VantorSimulator::setBoards(boards);
    vantor_record records[VANTOR_MAX_RECORDS];
    u8 count = 0;
    if (vantor_get_devices_list(records, &count) != VANTOR_OK || count != boards.size())
        abort();
    for (int i = 0; i < count; ++i) {
        const u8* r = records[i].bytes;
        const u32 type = u32(r[0]) | u32(r[1]) << 8 | u32(r[2]) << 16 | u32(r[3]) << 24;
        if (r[17] > 3)
            abort();
        u32 err = 1;
        vantor_device_handle* h = vantor_device_open(type, r[4], &err);
        if (!h || err != VANTOR_OK || vantor_device_close(h) != VANTOR_OK)
            abort();
    }
    return 0;
}
