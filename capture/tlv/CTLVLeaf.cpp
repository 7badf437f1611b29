#include "capture/tlv/CTLVLeaf.h"

#include <cstdio>
#include <string>

CTLVLeaf::CTLVLeaf() = default;

CTLVLeaf::CTLVLeaf(unsigned char tag)
    : CTLVComponent(tag)
{
}

CTLVLeaf::CTLVLeaf(unsigned char tag, const unsigned char* data, unsigned int size)
    : CTLVComponent(tag)
{
    if (!m_is_node)
        set_value(data, size);
}

CTLVLeaf::CTLVLeaf(const unsigned char* frame, unsigned int frame_size)
{
    if (frame == nullptr || frame_size == 0)
        return;
    m_is_two_byte_length = (frame[0] & TwoByteLengthBit) != 0;
    if (frame[0] & NodeBit) {
        m_is_node = true;
        return;
    }
    m_tag = frame[0];
    const unsigned int header = header_size();
    if (frame_size > header)
        set_value(frame + header, frame_size - header);
}

void CTLVLeaf::add_value(const unsigned char* data, unsigned int size)
{
    if (data != nullptr && size > 0)
        m_value.insert(m_value.end(), data, data + size);
    m_length = static_cast<unsigned int>(m_value.size());
}

void CTLVLeaf::ls_r() const
{
    std::ostream* out = debug_output();
    if (out == nullptr)
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "    [TLV BASIC] [tag: %02x - two_byte_length(%d)] -",
                  m_tag, m_is_two_byte_length ? 1 : 0);
    std::string line(buf);
    if (m_value.empty()) {
        line += " none";
    } else {
        line.reserve(line.size() + m_value.size() * 5 + 1);
        for (unsigned char b : m_value) {
            std::snprintf(buf, sizeof buf, " 0x%02x", b);
            line += buf;
        }
    }
    line += '\n';
    out->write(line.data(), static_cast<std::streamsize>(line.size()));
}

CTLVComponent::Bytes CTLVLeaf::get_frame() const
{
    Bytes out;
    out.reserve(header_size() + m_value.size());
    append_frame(out);
    return out;
}

void CTLVLeaf::append_frame(Bytes& out) const
{
    append_header(out);
    out.insert(out.end(), m_value.begin(), m_value.end());
}
