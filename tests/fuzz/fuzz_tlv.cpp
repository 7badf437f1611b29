// Feeds arbitrary bytes to the TLV node and leaf parsers and checks that a tree
// whose every child completed serialises back to the input's value bytes.
#include "capture/tlv/CTLVLeaf.h"
#include "capture/tlv/CTLVNode.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace {

// True when every node's children account for all of its value bytes.
bool complete(const CTLVComponent& c)
{
    if (!c.is_node())
        return true;
    unsigned int sum = 0;
    for (const CTLVComponent::Ptr& child : c.get_tlv_children()) {
        if (!complete(*child))
            return false;
        sum += child->encoded_size();
    }
    return sum == c.get_length();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size)
{
    CTLVComponent::set_debug_output(nullptr);
    if (size == 0 || size > 0x20000)
        return 0;
    const unsigned int n = static_cast<unsigned int>(size);

    const CTLVLeaf leaf(data, n);
    if (leaf.get_value().size() >= size)
        std::abort();

    try {
        const CTLVNode node(data, n);
        if (!node.is_node())
            return 0;
        const unsigned int header = node.header_size();
        if (node.get_length() != n - header)
            std::abort();
        if (complete(node)) {
            const CTLVComponent::Bytes frame = node.get_frame();
            if (frame.size() != size || std::memcmp(frame.data() + header, data + header, size - header) != 0)
                std::abort();
        }
        node.ls_r();
    } catch (const std::out_of_range&) {
        // empty or too deeply nested node: refused as designed
    }
    return 0;
}
