#ifndef BX_CAPTURE_RECORDS_CFIPSTATISTICSNODE_H
#define BX_CAPTURE_RECORDS_CFIPSTATISTICSNODE_H

#include "capture/tlv/CTLVLeaf.h"
#include "capture/tlv/CTLVNode.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

/// The TLV exchange form of a capture's statistics: 26 counters (8-byte values,
/// least significant byte first) and 8 texts (bytes without terminator), one leaf
/// per figure under a fixed tag. The leaves live in a map by tag; the node's
/// children are always the whole map in tag order.
class CFipStatisticsNode : public CTLVNode
{
public:
    using Ptr = boost::shared_ptr<CFipStatisticsNode>;
    using LeafMap = std::map<unsigned char, CTLVLeaf::Ptr>;

    /// Tag used when none is given: a node with a two-byte length, which the
    /// 34 leaves need (276 bytes when empty).
    static constexpr unsigned char DefaultTag = 0xC1;
    static constexpr unsigned char FirstCounterTag = 0x01;
    static constexpr unsigned char LastCounterTag = 0x1A;
    static constexpr unsigned char FirstTextTag = 0x1B;
    static constexpr unsigned char LastTextTag = 0x22;
    static constexpr unsigned int CounterSize = 8;

    explicit CFipStatisticsNode(unsigned char tag = DefaultTag);
    /// Takes the leaves of a parsed tree by tag; missing or unknown ones are left
    /// at their defaults, and the children are rebuilt in tag order.
    explicit CFipStatisticsNode(const CTLVNode::Ptr& tree);

#define BX_STATS_COUNTER(tag, name) \
    std::uint64_t get_##name() const { return get_counter(tag); } \
    void set_##name(std::uint64_t v) { set_counter(tag, v); }
#define BX_STATS_TEXT(tag, name) \
    std::string get_##name() const { return get_text(tag); } \
    void set_##name(const std::string& v) { set_text(tag, v); }
#include "capture/records/CFipStatisticsFields.inc"
#undef BX_STATS_COUNTER
#undef BX_STATS_TEXT

    /// Counter under a tag (0 for a non-counter tag or a malformed leaf).
    std::uint64_t get_counter(unsigned char tag) const;
    void set_counter(unsigned char tag, std::uint64_t v);
    /// Text under a tag (empty for an unknown tag).
    std::string get_text(unsigned char tag) const;
    void set_text(unsigned char tag, const std::string& text);

    const LeafMap& get_tlv_children_map() const { return m_leaves; }

    /// Name of the figure under a tag, or null for a tag outside the record.
    static const char* field_name(unsigned char tag);

    /// Counter of an 8-byte value, least significant byte first; other sizes give 0.
    static std::uint64_t vector_to_uint64(const std::vector<unsigned char>& bytes);
    static std::string vector_to_string(const std::vector<unsigned char>& bytes);

    /// Creates the 34 leaves (counters 0, texts empty).
    void init_tlv_children_map();
    /// Makes the map's leaves the children in tag order; length becomes their encoded size.
    void update_tlv_children();

    /// Debug listing on the debug output.
    void print_fip_stats_node() const;

private:
    void store(unsigned char tag, const unsigned char* data, unsigned int size);

    LeafMap m_leaves;
};

#endif
