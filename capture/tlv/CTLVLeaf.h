#ifndef BX_CAPTURE_TLV_CTLVLEAF_H
#define BX_CAPTURE_TLV_CTLVLEAF_H

#include "capture/tlv/CTLVComponent.h"

/// An element whose value is plain bytes.
class CTLVLeaf : public CTLVComponent
{
public:
    using Ptr = boost::shared_ptr<CTLVLeaf>;

    CTLVLeaf();
    explicit CTLVLeaf(unsigned char tag);
    /// A leaf holding size bytes. A node tag (bit 6) keeps the tag but holds no value.
    CTLVLeaf(unsigned char tag, const unsigned char* data, unsigned int size);
    /// Parses an encoded leaf of exactly frame_size bytes. The encoded length bytes
    /// are not read: the value is everything after the header. A node frame gives
    /// a leaf with tag 0 and is_node set.
    CTLVLeaf(const unsigned char* frame, unsigned int frame_size);

    /// Appends bytes to the value; length becomes the new value size.
    void add_value(const unsigned char* data, unsigned int size);

    void ls_r() const override;
    Bytes get_frame() const override;
    void append_frame(Bytes& out) const override;
};

#endif
