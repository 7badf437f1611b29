// Throughput of the frame record paths, one figure per line:
//   tlv parse        CTLVNode tree from each encoded record
//   record build     CFipNode from each parsed tree
//   record fill      CFipRecordReader into one reused CFipNode (the decoder's path)
//   tlv serialise    get_frame of each parsed tree
//   record encode    append_tlv_record of a filled record
//   word form        get_formatted_frame_for_OS of a filled record
#include "capture/records/CFipNode.h"
#include "capture/records/CFipRecordReader.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int RecordCount = 200000;

volatile std::uint64_t g_sink = 0;

// Back-to-back TLV records with frames of 3 to 131 bytes, like a busy FIP bus.
std::vector<unsigned char> makeStream(std::vector<std::size_t>& offsets)
{
    std::vector<unsigned char> stream;
    CFipNode n;
    std::vector<unsigned char> data;
    for (int i = 0; i < RecordCount; ++i) {
        data.assign(3 + (i * 37) % 129, static_cast<unsigned char>(i));
        data[0] = (i % 2) ? 0x03 : 0x02;
        n.set_frame_status(static_cast<unsigned short>(i % 7 == 0 ? 0x0400 : 0));
        n.set_frame_type(1);
        n.set_counter(static_cast<unsigned char>(i));
        n.set_frame_number(std::uint64_t(i));
        n.set_Above_IFC(std::uint32_t(100 + i % 50));
        n.set_FC(static_cast<unsigned short>(data.size() * 10));
        n.set_date_tick(std::uint64_t(i) * 1000);
        n.set_fip_data(data);
        offsets.push_back(stream.size());
        n.append_tlv_record(stream);
    }
    return stream;
}

void report(const char* name, qint64 ns, double units, const char* unit)
{
    const double seconds = ns > 0 ? double(ns) / 1e9 : 1e-9;
    std::printf("%s: %.0f %s\n", name, units / seconds, unit);
    std::fflush(stdout);
}

} // namespace

int main()
{
    CTLVComponent::set_debug_output(nullptr);
    std::vector<std::size_t> offsets;
    const std::vector<unsigned char> stream = makeStream(offsets);
    offsets.push_back(stream.size());
    QElapsedTimer t;

    std::vector<CTLVNode::Ptr> trees;
    trees.reserve(RecordCount);
    t.start();
    for (int i = 0; i < RecordCount; ++i) {
        const unsigned size = unsigned(offsets[i + 1] - offsets[i]);
        trees.emplace_back(new CTLVNode(stream.data() + offsets[i], size));
    }
    report("tlv parse", t.nsecsElapsed(), RecordCount, "records/s");

    t.start();
    for (const CTLVNode::Ptr& tree : trees) {
        const CFipNode record(tree);
        g_sink += record.get_fip_data().size();
    }
    report("record build", t.nsecsElapsed(), RecordCount, "records/s");

    CFipNode node;
    int filled = 0;
    t.start();
    CFipRecordReader reader(stream.data(), stream.size());
    while (!reader.at_end()) {
        node.reset();
        reader.read_element(&node);
        g_sink += node.get_fip_data().size() + node.get_frame_status();
        ++filled;
    }
    const qint64 fillNs = t.nsecsElapsed();
    if (filled != RecordCount)
        return EXIT_FAILURE;
    report("record fill", fillNs, RecordCount, "records/s");
    report("record fill", fillNs, double(stream.size()) / 1e6, "MB/s");

    std::vector<unsigned char> out;
    out.reserve(70000);
    t.start();
    for (const CTLVNode::Ptr& tree : trees) {
        out.clear();
        tree->append_frame(out);
        g_sink += out.size();
    }
    report("tlv serialise", t.nsecsElapsed(), RecordCount, "records/s");

    t.start();
    for (int i = 0; i < RecordCount; ++i) {
        out.clear();
        node.append_tlv_record(out);
        g_sink += out.size();
    }
    report("record encode", t.nsecsElapsed(), RecordCount, "records/s");

    t.start();
    for (int i = 0; i < RecordCount; ++i)
        g_sink += node.get_formatted_frame_for_OS().size();
    report("word form", t.nsecsElapsed(), RecordCount, "records/s");
    return g_sink == 0 ? EXIT_FAILURE : EXIT_SUCCESS;
}
