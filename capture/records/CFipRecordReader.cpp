#include "capture/records/CFipRecordReader.h"

CFipRecordReader::CFipRecordReader(const unsigned char* data, std::size_t size)
    : m_data(data)
    , m_size(data == nullptr ? 0 : size)
{
}

void CFipRecordReader::read_element(CFipNode* node)
{
    read(node, 0);
}

// True when n more bytes are there; otherwise the element is cut short and the
// rest of the buffer is dropped with it.
bool CFipRecordReader::take(std::size_t n)
{
    if (m_size - m_pos >= n)
        return true;
    ++m_counters.truncated;
    m_pos = m_size;
    return false;
}

void CFipRecordReader::read(CFipNode* node, int depth)
{
    if (at_end())
        return;
    const unsigned char tag = m_data[m_pos++];
    const bool twoByte = (tag & CTLVComponent::TwoByteLengthBit) != 0;
    if (!take(twoByte ? 2 : 1))
        return;
    std::size_t length = m_data[m_pos++];
    if (twoByte)
        length = (length << 8) | m_data[m_pos++];

    if (tag == CFipNode::TagRecord) {
        ++m_counters.nodes;
        const std::size_t end = m_pos + length;
        if (depth >= MaxDepth) {
            ++m_counters.too_deep;
            if (take(length))
                m_pos = end;
            return;
        }
        while (m_pos < end && !at_end())
            read(node, depth + 1);
        if (end > m_size)
            ++m_counters.truncated;
        else if (m_pos > end)
            ++m_counters.overruns;
        return;
    }

    if (!CFipNode::isFieldTag(tag)) {
        // Only the header is consumed: the decoder resynchronises on what follows.
        ++m_counters.unknown_tags;
        return;
    }

    if (!take(length))
        return;
    const unsigned char* value = m_data + m_pos;
    m_pos += length;
    if (node == nullptr) {
        ++m_counters.orphan_values;
        return;
    }
    if (node->set_field(tag, value, static_cast<unsigned int>(length)) == CFipNode::FieldStored)
        ++m_counters.tags[tag];
    else
        ++m_counters.wrong_lengths;
}
