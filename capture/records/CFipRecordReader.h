#ifndef BX_CAPTURE_RECORDS_CFIPRECORDREADER_H
#define BX_CAPTURE_RECORDS_CFIPRECORDREADER_H

#include "capture/records/CFipNode.h"

#include <array>
#include <cstddef>
#include <cstdint>

/// Fills `CFipNode` records straight from a buffer of TLV frame records (the data
/// of the card's 0xA000 events, or a raw capture file body), without building a
/// tree and without allocating once the record's data buffer is large enough.
///
/// One `read_element` call reads one top-level element, as the decoder's stream
/// pass does: a 0xC0 node has its children read into the same record until the
/// node's end; a known leaf is stored with `CFipNode::set_field`; an unknown tag
/// has only its header consumed. Every case is counted; malformed input is never
/// fatal, and a truncated element ends the buffer.
class CFipRecordReader
{
public:
    struct Counters {
        std::uint64_t nodes = 0;         ///< 0xC0 nodes entered
        std::uint64_t unknown_tags = 0;  ///< elements of a tag the record does not know
        std::uint64_t wrong_lengths = 0; ///< known leaves with a length of the wrong size
        std::uint64_t orphan_values = 0; ///< values read with no record to store them in
        std::uint64_t truncated = 0;     ///< elements cut short by the end of the buffer
        std::uint64_t too_deep = 0;      ///< nodes nested beyond MaxDepth, skipped whole
        std::uint64_t overruns = 0;      ///< nodes whose content ran past their length (a record cut and glued to the next)
        std::array<std::uint64_t, 256> tags{}; ///< leaves stored, per tag
    };

    /// Nodes nested deeper than this are skipped with their content.
    static constexpr int MaxDepth = 16;

    CFipRecordReader(const unsigned char* data, std::size_t size);

    bool at_end() const { return m_pos >= m_size; }
    std::size_t position() const { return m_pos; }
    const Counters& counters() const { return m_counters; }

    /// Reads one top-level element into node; with a null node the values are
    /// counted and dropped.
    void read_element(CFipNode* node);

private:
    void read(CFipNode* node, int depth);
    bool take(std::size_t n);

    const unsigned char* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    Counters m_counters;
};

#endif
