#include "capture/tlv/CTLVComponent.h"

#include <atomic>
#include <iostream>

namespace {
std::atomic<std::ostream*> g_debugOutput{&std::cout};
}

CTLVComponent::CTLVComponent()
    : m_tag(0)
    , m_length(0)
    , m_is_node(false)
    , m_is_two_byte_length(false)
{
}

CTLVComponent::CTLVComponent(unsigned char tag)
    : m_tag(tag)
    , m_length(0)
    , m_is_node((tag & NodeBit) != 0)
    , m_is_two_byte_length((tag & TwoByteLengthBit) != 0)
{
}

CTLVComponent::~CTLVComponent() = default;

void CTLVComponent::set_tag(unsigned char tag)
{
    m_tag = tag;
    m_is_node = (tag & NodeBit) != 0;
    m_is_two_byte_length = (tag & TwoByteLengthBit) != 0;
}

void CTLVComponent::set_value(const unsigned char* data, unsigned int size)
{
    if (data == nullptr || size == 0) {
        m_value.clear();
        m_length = 0;
        return;
    }
    m_value.assign(data, data + size);
    m_length = size;
}

void CTLVComponent::append_header(Bytes& out) const
{
    out.push_back(m_tag);
    if (m_is_two_byte_length)
        out.push_back(static_cast<unsigned char>((m_length >> 8) & 0xFF));
    out.push_back(static_cast<unsigned char>(m_length & 0xFF));
}

void CTLVComponent::set_debug_output(std::ostream* out)
{
    g_debugOutput.store(out, std::memory_order_relaxed);
}

std::ostream* CTLVComponent::debug_output()
{
    return g_debugOutput.load(std::memory_order_relaxed);
}
