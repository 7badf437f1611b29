#include "capture/records/CFipNode.h"

#include "capture/tlv/CTLVLeaf.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>

namespace {

std::uint64_t readBigEndian(const unsigned char* p, unsigned int n)
{
    std::uint64_t v = 0;
    for (unsigned int i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

void putBigEndian(std::vector<unsigned char>& out, std::uint64_t v, unsigned int n)
{
    for (unsigned int i = n; i-- > 0;)
        out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

void putLeaf(std::vector<unsigned char>& out, unsigned char tag, std::uint64_t v, unsigned int n)
{
    out.push_back(tag);
    out.push_back(static_cast<unsigned char>(n));
    putBigEndian(out, v, n);
}

const char* boolText(bool on)
{
    return on ? "true" : "false";
}

} // namespace

CFipNode::CFipNode()
    : CTLVNode(TagRecord)
{
}

CFipNode::CFipNode(const CTLVNode::Ptr& tree)
    : CTLVNode(tree)
{
    if (m_tag != TagRecord)
        return;
    for (const CTLVComponent::Ptr& child : m_tlv_children) {
        if (child)
            take_leaf(*child);
    }
    treat_frame_status();
    treat_frame_type();
}

// Reads one child of a parsed tree; number leaves may be shorter than their
// stream width (1 to 8 bytes for the 64-bit fields, 1 to 4 for Above_IFC).
void CFipNode::take_leaf(const CTLVComponent& leaf)
{
    const unsigned int n = leaf.get_length();
    const std::vector<unsigned char>& v = leaf.get_value();
    if (v.size() < n)
        return; // hand-built leaf whose length disagrees with its bytes
    const unsigned char* p = v.data();
    switch (leaf.get_tag()) {
    case TagFrameStatus:
        if (n == 2)
            m_frame_status = static_cast<unsigned short>(readBigEndian(p, 2));
        break;
    case TagFrameType:
        if (n == 1)
            m_frame_type = p[0];
        break;
    case TagCounter:
        if (n == 1)
            m_counter = p[0];
        break;
    case TagJitterMax:
        if (n == 1)
            m_jitter_max = p[0];
        break;
    case TagFC:
        if (n == 2)
            m_FC = static_cast<unsigned short>(readBigEndian(p, 2));
        break;
    case TagGLC:
        if (n == 2)
            m_GLC = static_cast<unsigned short>(readBigEndian(p, 2));
        break;
    case TagFrameNumber:
        if (n >= 1 && n <= 8)
            m_frame_number = readBigEndian(p, n);
        break;
    case TagDateTick:
        if (n >= 1 && n <= 8)
            m_date_tick = readBigEndian(p, n);
        break;
    case TagAboveIFC:
        if (n >= 1 && n <= 4)
            m_Above_IFC = static_cast<std::uint32_t>(readBigEndian(p, n));
        break;
    case TagFipData:
        m_fip_data.assign(p, p + n);
        break;
    default:
        break;
    }
}

void CFipNode::clear_fields()
{
    m_frame_status = 0;
    m_CHSL = m_TXErr1 = m_TXErr2 = false;
    m_GLC_overflow = m_IFC_overflow = m_FC_overflow = false;
    m_no_FED = m_FSD_unknown = m_no_FSD = m_glitch = false;
    m_frame_type = 0;
    m_FIP_type = m_WorldFIP_type = false;
    m_counter = 0;
    m_frame_number = 0;
    m_date_tick = 0;
    m_Above_IFC = 0;
    m_Next_IFC = 0;
    m_FC = 0;
    m_GLC = 0;
    m_jitter_max = 0;
    m_fip_data.clear();
    m_FIFO_overflow = false;
}

void CFipNode::reset()
{
    clear_fields();
    set_tag(TagRecord);
    m_length = 0;
    m_value.clear();
    m_tlv_children.clear();
}

CFipNode::FieldResult CFipNode::set_field(unsigned char tag, const unsigned char* value, unsigned int length)
{
    unsigned int need = 0;
    switch (tag) {
    case TagFrameStatus:
    case TagFC:
    case TagGLC:
        need = 2;
        break;
    case TagFrameType:
    case TagCounter:
    case TagJitterMax:
        need = 1;
        break;
    case TagFrameNumber:
    case TagDateTick:
        need = 8;
        break;
    case TagAboveIFC:
        need = 4;
        break;
    case TagFipData:
        set_fip_data(value, length);
        return FieldStored;
    default:
        return FieldUnknownTag;
    }
    if (length != need || value == nullptr)
        return FieldWrongLength;
    const std::uint64_t v = readBigEndian(value, need);
    switch (tag) {
    case TagFrameStatus: set_frame_status(static_cast<unsigned short>(v)); break;
    case TagFC: m_FC = static_cast<unsigned short>(v); break;
    case TagGLC: m_GLC = static_cast<unsigned short>(v); break;
    case TagFrameType: set_frame_type(static_cast<unsigned char>(v)); break;
    case TagCounter: m_counter = static_cast<unsigned char>(v); break;
    case TagJitterMax: m_jitter_max = static_cast<unsigned char>(v); break;
    case TagFrameNumber: m_frame_number = v; break;
    case TagDateTick: m_date_tick = v; break;
    case TagAboveIFC: m_Above_IFC = static_cast<std::uint32_t>(v); break;
    default: break;
    }
    return FieldStored;
}

void CFipNode::set_fip_data(const unsigned char* data, unsigned int size)
{
    if (data == nullptr || size == 0)
        m_fip_data.clear();
    else
        m_fip_data.assign(data, data + size);
}

void CFipNode::set_frame_status(unsigned short status)
{
    m_frame_status = status;
    treat_frame_status();
}

void CFipNode::set_frame_type(unsigned char type)
{
    m_frame_type = type;
    treat_frame_type();
}

void CFipNode::treat_frame_status()
{
    const unsigned short s = m_frame_status;
    m_CHSL = (s & StatusCHSL) != 0;
    m_TXErr1 = (s & StatusTXErr1) != 0;
    m_TXErr2 = (s & StatusTXErr2) != 0;
    m_GLC_overflow = (s & StatusGLCOverflow) != 0;
    m_IFC_overflow = (s & StatusIFCOverflow) != 0;
    m_FC_overflow = (s & StatusFCOverflow) != 0;
    m_no_FED = (s & StatusNoFED) != 0;
    m_FSD_unknown = (s & StatusFSDUnknown) != 0;
    m_no_FSD = (s & StatusNoFSD) != 0;
    m_glitch = (s & StatusGlitch) != 0;
}

void CFipNode::treat_frame_type()
{
    m_FIP_type = (m_frame_type == FrameTypeFIP);
    m_WorldFIP_type = (m_frame_type == FrameTypeWorldFIP);
}

void CFipNode::print_fip_node() const
{
    std::ostream* out = debug_output();
    if (out == nullptr)
        return;
    const char* type = m_FIP_type ? "FIP" : (m_WorldFIP_type ? "WorldFIP" : "Unknown");
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "[FIP NODE]\n"
                  "    Frame Type      : %s\n"
                  "    Channel         : %s\n"
                  "    Counter (8bits) : %u\n"
                  "    IFC Counter     : %" PRIu32 "\n"
                  "    FC Counter      : %u\n"
                  "    GLC Counter     : %u\n"
                  "    Jitter Max      : %u\n"
                  "    Date Tick       : %" PRIu64 "\n"
                  "    No PRE          : %s\n"
                  "    No FSD          : %s\n"
                  "    Unknown FSD     : %s\n"
                  "    No FED          : %s\n"
                  "    FC Overflow     : %s\n"
                  "    IFC Overflow    : %s\n"
                  "    GLC Overflow    : %s\n"
                  "    TXERR1          : %s\n"
                  "    TXERR2          : %s\n"
                  "    Data Length     : %zu\n"
                  "    Data :",
                  type, m_CHSL ? "canal2" : "canal1", unsigned(m_counter), m_Above_IFC, unsigned(m_FC),
                  unsigned(m_GLC), unsigned(m_jitter_max), m_date_tick, boolText(m_glitch), boolText(m_no_FSD),
                  boolText(m_FSD_unknown), boolText(m_no_FED), boolText(m_FC_overflow), boolText(m_IFC_overflow),
                  boolText(m_GLC_overflow), boolText(m_TXErr1), boolText(m_TXErr2), m_fip_data.size());
    std::string text(buf);
    text.reserve(text.size() + m_fip_data.size() * 5 + 20);
    for (unsigned char b : m_fip_data) {
        std::snprintf(buf, sizeof buf, " 0x%02x", b);
        text += buf;
    }
    text += "\n[END:FIP NODE]\n";
    out->write(text.data(), static_cast<std::streamsize>(text.size()));
}

std::vector<unsigned short> CFipNode::get_formatted_frame_for_OS() const
{
    std::vector<unsigned short> words;
    words.reserve(6 + m_fip_data.size() + 5 + 1);
    if (m_FIFO_overflow)
        words.insert(words.end(), {0x1FC, 0x0FC, 0, 0, 0, 0});

    if (!m_glitch && !m_no_FSD && !m_FSD_unknown) {
        if (m_fip_data.empty()) {
            words.push_back(0x100);
        } else {
            words.push_back(static_cast<unsigned short>(0x100 | m_fip_data.front()));
            for (std::size_t i = 1; i < m_fip_data.size(); ++i)
                words.push_back(m_fip_data[i]);
        }
    } else if (m_glitch) {
        words.push_back(0x1FD);
        words.push_back(0x0FD);
    } else {
        words.push_back(0x1FE);
        words.push_back(0x0FE);
    }

    const std::uint32_t gap = static_cast<std::uint32_t>(m_FC) + m_Next_IFC;
    for (int shift = 24; shift >= 0; shift -= 8)
        words.push_back(static_cast<unsigned short>((gap >> shift) & 0xFF));

    unsigned short status = (m_frame_status >> 8) & 0x07;
    if (m_IFC_overflow || m_FC_overflow)
        status |= 0x08;
    if (m_glitch)
        status |= 0x20;
    if (m_no_FSD)
        status |= 0x40;
    if (m_FSD_unknown)
        status |= 0x80;
    words.push_back(status);
    return words;
}

bool CFipNode::append_tlv_record(std::vector<unsigned char>& out) const
{
    if (m_fip_data.size() > MaxFipDataSize)
        return false;
    const unsigned int dataSize = static_cast<unsigned int>(m_fip_data.size());
    const unsigned int length = 50 + dataSize;
    // Grow geometrically: an exact reserve per record would make appending a stream quadratic.
    if (out.capacity() - out.size() < 3 + length)
        out.reserve(std::max(out.capacity() * 2, out.size() + 3 + length));
    out.push_back(TagRecord);
    putBigEndian(out, length, 2);
    putLeaf(out, TagFrameStatus, m_frame_status, 2);
    putLeaf(out, TagFrameType, m_frame_type, 1);
    putLeaf(out, TagCounter, m_counter, 1);
    putLeaf(out, TagFrameNumber, m_frame_number, 8);
    putLeaf(out, TagAboveIFC, m_Above_IFC, 4);
    putLeaf(out, TagFC, m_FC, 2);
    putLeaf(out, TagGLC, m_GLC, 2);
    putLeaf(out, TagJitterMax, m_jitter_max, 1);
    putLeaf(out, TagDateTick, m_date_tick, 8);
    out.push_back(TagFipData);
    putBigEndian(out, dataSize, 2);
    out.insert(out.end(), m_fip_data.begin(), m_fip_data.end());
    return true;
}

void CFipNode::update_tlv_children()
{
    std::vector<unsigned char> bytes;
    if (!append_tlv_record(bytes))
        return;
    const CTLVNode parsed(bytes.data(), static_cast<unsigned int>(bytes.size()));
    m_length = parsed.get_length();
    m_value = parsed.get_value();
    m_tlv_children = parsed.get_tlv_children();
    set_tag(TagRecord);
}
