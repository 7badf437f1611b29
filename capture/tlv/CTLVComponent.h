#ifndef BX_CAPTURE_TLV_CTLVCOMPONENT_H
#define BX_CAPTURE_TLV_CTLVCOMPONENT_H

#include <boost/shared_ptr.hpp>

#include <cstddef>
#include <ostream>
#include <vector>

/// One tag/length/value element of the capture card's encoding, held as a tree.
///
/// Tag byte: bit 7 (0x80) means a two-byte length field (most significant byte
/// first), bit 6 (0x40) means a node whose value is a sequence of encoded child
/// elements. The whole byte, flag bits included, is the tag value.
///
/// Accessors hand out const references: callers that keep a copy get one by
/// assignment, the decoder's hot path reads in place.
class CTLVComponent
{
public:
    using Ptr = boost::shared_ptr<CTLVComponent>;
    using Children = std::vector<Ptr>;
    using Bytes = std::vector<unsigned char>;

    static constexpr unsigned char TwoByteLengthBit = 0x80;
    static constexpr unsigned char NodeBit = 0x40;
    /// Deepest nesting a parsed frame may have; deeper frames are refused.
    static constexpr int MaxParseDepth = 64;

    CTLVComponent();
    explicit CTLVComponent(unsigned char tag);
    // Virtual so that a record held through a CTLVNode pointer is destroyed whole.
    virtual ~CTLVComponent();

    /// Debug listing of the leaves on the debug output.
    virtual void ls_r() const = 0;
    /// Encoded bytes of the element and all its descendants.
    virtual Bytes get_frame() const = 0;
    /// Appends the encoded bytes to out (serialising without intermediate vectors).
    virtual void append_frame(Bytes& out) const = 0;

    unsigned char get_tag() const { return m_tag; }
    unsigned int get_length() const { return m_length; }
    const Bytes& get_value() const { return m_value; }
    const Children& get_tlv_children() const { return m_tlv_children; }
    bool is_node() const { return m_is_node; }
    bool is_two_byte_length() const { return m_is_two_byte_length; }

    /// Stores the tag and derives both flags from it.
    void set_tag(unsigned char tag);
    void set_length(unsigned int length) { m_length = length; }
    /// Replaces the value; length becomes size.
    void set_value(const unsigned char* data, unsigned int size);
    /// Replaces the children; length is left as it is.
    void set_tlv_children(const Children& children) { m_tlv_children = children; }

    /// Header size of the encoding: 3 with a two-byte length, else 2.
    unsigned int header_size() const { return m_is_two_byte_length ? 3u : 2u; }
    /// Header plus stored length: the size this element takes inside its parent.
    unsigned int encoded_size() const { return header_size() + m_length; }

    /// Where listings and parser diagnostics go (standard output by default,
    /// null silences them). Set once before use; not meant to change under load.
    static void set_debug_output(std::ostream* out);
    static std::ostream* debug_output();

protected:
    /// Emits the tag and the length field from the stored length.
    void append_header(Bytes& out) const;

    unsigned char m_tag;
    unsigned int m_length;
    Bytes m_value;
    bool m_is_node;
    bool m_is_two_byte_length;
    Children m_tlv_children;
};

#endif
