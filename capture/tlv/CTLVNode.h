#ifndef BX_CAPTURE_TLV_CTLVNODE_H
#define BX_CAPTURE_TLV_CTLVNODE_H

#include "capture/tlv/CTLVComponent.h"

/// An element whose value is a sequence of encoded child elements.
class CTLVNode : public CTLVComponent
{
public:
    using Ptr = boost::shared_ptr<CTLVNode>;

    CTLVNode();
    explicit CTLVNode(unsigned char tag);
    /// Takes the children only with a node tag; length stays 0 either way.
    CTLVNode(unsigned char tag, const Children& children);
    /// Parses an encoded node of exactly frame_size bytes and all its descendants.
    /// A leaf frame gives an empty node with tag 0. Throws std::out_of_range for a
    /// node frame with no value bytes or nested deeper than MaxParseDepth.
    /// Malformed children are reported on the debug output and dropped.
    CTLVNode(const unsigned char* frame, unsigned int frame_size);
    /// Copies tag, length, value and flags; the copy shares the source's children.
    explicit CTLVNode(const CTLVComponent::Ptr& source);
    explicit CTLVNode(const CTLVNode::Ptr& source);

    /// Appends a child and grows length by its encoded size.
    void add(const CTLVComponent::Ptr& child);

    void ls_r() const override;
    Bytes get_frame() const override;
    void append_frame(Bytes& out) const override;

protected:
    void copy_from(const CTLVComponent& source);

private:
    CTLVNode(const unsigned char* frame, unsigned int frame_size, int depth);
    void parse(const unsigned char* frame, unsigned int frame_size, int depth);
    void split_children(int depth);
};

#endif
