// Feeds arbitrary bytes to the record reader and to the record built from a parsed
// tree; every TLV record the reader fills must survive its own TLV form.
#include "capture/records/CFipNode.h"
#include "capture/records/CFipRecordReader.h"
#include "capture/records/CFipStatisticsNode.h"

#include <cstdlib>
#include <stdexcept>

namespace {

bool sameFields(const CFipNode& a, const CFipNode& b)
{
    return a.get_frame_status() == b.get_frame_status() && a.get_frame_type() == b.get_frame_type()
        && a.get_counter() == b.get_counter() && a.get_frame_number() == b.get_frame_number()
        && a.get_Above_IFC() == b.get_Above_IFC() && a.get_FC() == b.get_FC() && a.get_GLC() == b.get_GLC()
        && a.get_jitter_max() == b.get_jitter_max() && a.get_date_tick() == b.get_date_tick()
        && a.get_fip_data() == b.get_fip_data();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    CTLVComponent::set_debug_output(nullptr);
    if (size > 0x20000)
        return 0;

    CFipRecordReader reader(data, size);
    CFipNode node;
    std::size_t last = 0;
    while (!reader.at_end()) {
        node.reset();
        reader.read_element(&node);
        if (reader.position() <= last && reader.position() != 0)
            std::abort(); // no progress
        last = reader.position();

        std::vector<unsigned char> tlv;
        if (node.append_tlv_record(tlv)) {
            CFipRecordReader again(tlv.data(), tlv.size());
            CFipNode copy;
            again.read_element(&copy);
            if (!again.at_end() || !sameFields(node, copy))
                std::abort();
        }
        node.get_formatted_frame_for_OS();
    }

    if (size == 0)
        return 0;
    try {
        const CTLVNode::Ptr tree(new CTLVNode(data, static_cast<unsigned int>(size)));
        const CFipNode record(tree);
        record.get_formatted_frame_for_OS();
        record.print_fip_node();
        const CFipStatisticsNode stats(tree);
        stats.print_fip_stats_node();
        if (stats.get_frame().size() != stats.encoded_size())
            std::abort();
    } catch (const std::out_of_range&) {
    }
    return 0;
}
