#include "capture/records/CFipStatisticsNode.h"

#include <cinttypes>
#include <cstdio>

namespace {

bool isCounterTag(unsigned char tag)
{
    return tag >= CFipStatisticsNode::FirstCounterTag && tag <= CFipStatisticsNode::LastCounterTag;
}

bool isTextTag(unsigned char tag)
{
    return tag >= CFipStatisticsNode::FirstTextTag && tag <= CFipStatisticsNode::LastTextTag;
}

} // namespace

CFipStatisticsNode::CFipStatisticsNode(unsigned char tag)
    : CTLVNode(tag)
{
    init_tlv_children_map();
    update_tlv_children();
}

CFipStatisticsNode::CFipStatisticsNode(const CTLVNode::Ptr& tree)
    : CTLVNode(tree)
{
    init_tlv_children_map();
    const Children parsed = m_tlv_children;
    for (const CTLVComponent::Ptr& child : parsed) {
        if (!child || child->is_node())
            continue;
        const unsigned char tag = child->get_tag();
        if (!isCounterTag(tag) && !isTextTag(tag))
            continue;
        const std::vector<unsigned char>& v = child->get_value();
        store(tag, v.data(), static_cast<unsigned int>(v.size()));
    }
    update_tlv_children();
}

const char* CFipStatisticsNode::field_name(unsigned char tag)
{
    switch (tag) {
#define BX_STATS_COUNTER(t, name) case t: return #name;
#define BX_STATS_TEXT(t, name) case t: return #name;
#include "capture/records/CFipStatisticsFields.inc"
#undef BX_STATS_COUNTER
#undef BX_STATS_TEXT
    default:
        return nullptr;
    }
}

void CFipStatisticsNode::init_tlv_children_map()
{
    m_leaves.clear();
    for (unsigned t = FirstCounterTag; t <= LastTextTag; ++t) {
        const unsigned char tag = static_cast<unsigned char>(t);
        CTLVLeaf::Ptr leaf(new CTLVLeaf(tag));
        if (isCounterTag(tag)) {
            const unsigned char zeros[CounterSize] = {};
            leaf->set_value(zeros, CounterSize);
        }
        m_leaves[tag] = leaf;
    }
}

void CFipStatisticsNode::update_tlv_children()
{
    m_tlv_children.clear();
    m_length = 0;
    for (const auto& entry : m_leaves)
        add(entry.second);
}

void CFipStatisticsNode::store(unsigned char tag, const unsigned char* data, unsigned int size)
{
    auto it = m_leaves.find(tag);
    if (it == m_leaves.end())
        return;
    // A fresh leaf, so records copied from this one keep their own values.
    CTLVLeaf::Ptr leaf(new CTLVLeaf(tag));
    leaf->set_value(data, size);
    it->second = leaf;
}

std::uint64_t CFipStatisticsNode::get_counter(unsigned char tag) const
{
    if (!isCounterTag(tag))
        return 0;
    auto it = m_leaves.find(tag);
    return it == m_leaves.end() ? 0 : vector_to_uint64(it->second->get_value());
}

void CFipStatisticsNode::set_counter(unsigned char tag, std::uint64_t v)
{
    if (!isCounterTag(tag))
        return;
    unsigned char bytes[CounterSize];
    for (unsigned int i = 0; i < CounterSize; ++i)
        bytes[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xFF);
    store(tag, bytes, CounterSize);
    update_tlv_children();
}

std::string CFipStatisticsNode::get_text(unsigned char tag) const
{
    if (!isTextTag(tag))
        return std::string();
    auto it = m_leaves.find(tag);
    return it == m_leaves.end() ? std::string() : vector_to_string(it->second->get_value());
}

void CFipStatisticsNode::set_text(unsigned char tag, const std::string& text)
{
    if (!isTextTag(tag))
        return;
    // A leaf with a one-byte length holds at most 255 bytes.
    const std::size_t size = text.size() > 255 ? 255 : text.size();
    store(tag, reinterpret_cast<const unsigned char*>(text.data()), static_cast<unsigned int>(size));
    update_tlv_children();
}

std::uint64_t CFipStatisticsNode::vector_to_uint64(const std::vector<unsigned char>& bytes)
{
    if (bytes.size() != CounterSize)
        return 0;
    std::uint64_t v = 0;
    for (unsigned int i = CounterSize; i-- > 0;)
        v = (v << 8) | bytes[i];
    return v;
}

std::string CFipStatisticsNode::vector_to_string(const std::vector<unsigned char>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

void CFipStatisticsNode::print_fip_stats_node() const
{
    std::ostream* out = debug_output();
    if (out == nullptr)
        return;
    std::string text = "[FIP STATISTICS NODE]\n";
    char buf[320];
    for (const auto& entry : m_leaves) {
        const unsigned char tag = entry.first;
        if (isCounterTag(tag))
            std::snprintf(buf, sizeof buf, "    %-24s: %" PRIu64 "\n", field_name(tag), get_counter(tag));
        else
            std::snprintf(buf, sizeof buf, "    %-24s: %s\n", field_name(tag), get_text(tag).c_str());
        text += buf;
    }
    text += "[END:FIP STATISTICS NODE]\n";
    out->write(text.data(), static_cast<std::streamsize>(text.size()));
}
