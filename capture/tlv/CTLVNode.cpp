#include "capture/tlv/CTLVNode.h"

#include "capture/tlv/CTLVLeaf.h"

#include <boost/make_shared.hpp>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace {

// Diagnostics print their numbers as 16-bit values, like the card's tools do.
unsigned hex16(unsigned int v)
{
    return static_cast<unsigned short>(v);
}

void writeLine(std::ostream* out, const std::string& text)
{
    out->write(text.data(), static_cast<std::streamsize>(text.size()));
}

void reportStray(std::ostream* out, const std::vector<unsigned char>& value, unsigned int tagOffset,
                 unsigned char childTag, bool twoByte, unsigned int i, unsigned int start,
                 unsigned int length)
{
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "ERROR TLV PACKET SPLIT !! - Ne doit pas entrer ici - tag_offset = 0x%02x - tag = %02x"
                  " - i = %04x - cframe_start_value_index = %04x - cframe_value_length = %04x\n",
                  hex16(tagOffset), childTag, hex16(i), hex16(start), hex16(length));
    std::string text(buf);
    text += twoByte ? "two_byte_length = true\n" : "two_byte_length = false\n";
    text.reserve(text.size() + value.size() * 5 + 4);
    for (std::size_t k = 0; k < value.size(); ++k) {
        std::snprintf(buf, sizeof buf, k == i ? "\n 0x%02x\n" : " 0x%02x", value[k]);
        text += buf;
    }
    text += '\n';
    writeLine(out, text);
}

void reportOverrun(std::ostream* out, unsigned int end, unsigned int size)
{
    char buf[160];
    std::snprintf(buf, sizeof buf,
                  "ERROR TLV PACKET SPLIT !! LEN field too important"
                  " - cframe_start_value_index + cframe_value_length = %04x - frame size = %04x\n",
                  hex16(end), hex16(size));
    writeLine(out, buf);
}

} // namespace

CTLVNode::CTLVNode() = default;

CTLVNode::CTLVNode(unsigned char tag)
    : CTLVComponent(tag)
{
}

CTLVNode::CTLVNode(unsigned char tag, const Children& children)
    : CTLVComponent(tag)
{
    if (m_is_node)
        m_tlv_children = children;
}

CTLVNode::CTLVNode(const unsigned char* frame, unsigned int frame_size)
{
    parse(frame, frame_size, 0);
}

CTLVNode::CTLVNode(const unsigned char* frame, unsigned int frame_size, int depth)
{
    parse(frame, frame_size, depth);
}

CTLVNode::CTLVNode(const CTLVComponent::Ptr& source)
{
    if (source)
        copy_from(*source);
}

CTLVNode::CTLVNode(const CTLVNode::Ptr& source)
{
    if (source)
        copy_from(*source);
}

void CTLVNode::copy_from(const CTLVComponent& source)
{
    m_tag = source.get_tag();
    m_length = source.get_length();
    m_value = source.get_value();
    m_is_node = source.is_node();
    m_is_two_byte_length = source.is_two_byte_length();
    m_tlv_children = source.get_tlv_children();
}

void CTLVNode::parse(const unsigned char* frame, unsigned int frame_size, int depth)
{
    if (frame == nullptr || frame_size == 0)
        return;
    m_is_two_byte_length = (frame[0] & TwoByteLengthBit) != 0;
    if (!(frame[0] & NodeBit))
        return;
    m_is_node = true;
    m_tag = frame[0];
    const unsigned int header = header_size();
    if (frame_size <= header)
        throw std::out_of_range("TLV node without value bytes");
    if (depth >= MaxParseDepth)
        throw std::out_of_range("TLV nodes nested too deep");
    m_value.assign(frame + header, frame + frame_size);
    m_length = frame_size - header;
    split_children(depth);
}

// Splits the value into child frames the way the card's firmware tools do: a child
// whose length runs past the node, or whose length is 0, never completes; every
// following byte is reported and dropped, and that child and its later siblings are lost.
void CTLVNode::split_children(int depth)
{
    std::ostream* out = debug_output();
    const unsigned char* v = m_value.data();
    const unsigned int n = m_length;
    unsigned int tagOffset = 0;
    bool twoByte = false;
    unsigned int len = 0;
    unsigned int start = 0;
    m_tlv_children.clear();

    for (unsigned int i = 0; i < n; ++i) {
        if (i == tagOffset) {
            twoByte = (v[i] & TwoByteLengthBit) != 0;
            len = 0;
        } else if (i == tagOffset + 1) {
            if (twoByte) {
                len = v[i] * 256u;
            } else {
                len = v[i];
                start = tagOffset + 2;
            }
        } else if (i == tagOffset + 2 && twoByte) {
            len += v[i];
            start = tagOffset + 3;
        } else {
            // A value byte of the current child.
            if (len == 0) {
                if (out == nullptr)
                    break; // nothing more can complete and nobody listens
                writeLine(out, "cframe_value_length == 0 !!\n");
                reportStray(out, m_value, tagOffset, v[tagOffset], twoByte, i, start, len);
                continue;
            }
            if (start + len > n) {
                if (out == nullptr)
                    break;
                reportOverrun(out, start + len, n);
                continue;
            }
            // start <= i < start + len holds here; the rest of the child is in range.
            const unsigned int last = start + len - 1;
            const unsigned char* child = v + tagOffset;
            const unsigned int childSize = last + 1 - tagOffset;
            if (child[0] & NodeBit)
                m_tlv_children.push_back(CTLVComponent::Ptr(new CTLVNode(child, childSize, depth + 1)));
            else
                m_tlv_children.push_back(boost::make_shared<CTLVLeaf>(child, childSize));
            i = last;
            tagOffset = last + 1;
        }
    }
}

void CTLVNode::add(const CTLVComponent::Ptr& child)
{
    if (!child)
        return;
    m_tlv_children.push_back(child);
    m_length += child->encoded_size();
}

void CTLVNode::ls_r() const
{
    for (const CTLVComponent::Ptr& child : m_tlv_children) {
        if (child)
            child->ls_r();
    }
}

CTLVComponent::Bytes CTLVNode::get_frame() const
{
    Bytes out;
    out.reserve(encoded_size());
    append_frame(out);
    return out;
}

void CTLVNode::append_frame(Bytes& out) const
{
    append_header(out);
    for (const CTLVComponent::Ptr& child : m_tlv_children) {
        if (child)
            child->append_frame(out);
    }
}
