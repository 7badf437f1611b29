#ifndef BX_CAPTURE_RECORDS_CFIPNODE_H
#define BX_CAPTURE_RECORDS_CFIPNODE_H

#include "capture/tlv/CTLVNode.h"

#include <cstdint>
#include <vector>

/// One bus frame as reported by the capture card: the frame bytes, the reception
/// status, counters and timing. Its TLV form is a 0xC0 node of fixed leaves.
///
/// The stream decoder fills a record field by field (setters or `set_field`) and
/// may reuse one record for every frame with `reset`, which keeps the data buffer.
class CFipNode : public CTLVNode
{
public:
    using Ptr = boost::shared_ptr<CFipNode>;

    // Tags of the TLV form.
    static constexpr unsigned char TagRecord = 0xC0;
    static constexpr unsigned char TagFrameStatus = 0x20;
    static constexpr unsigned char TagFrameType = 0x21;
    static constexpr unsigned char TagCounter = 0x22;
    static constexpr unsigned char TagFrameNumber = 0x23;
    static constexpr unsigned char TagAboveIFC = 0x30;
    static constexpr unsigned char TagFC = 0x31;
    static constexpr unsigned char TagGLC = 0x32;
    static constexpr unsigned char TagJitterMax = 0x33;
    static constexpr unsigned char TagDateTick = 0x34;
    static constexpr unsigned char TagFipData = 0x90;

    /// True for the tags of a frame record's fields (not the record tag itself).
    static constexpr bool isFieldTag(unsigned char tag)
    {
        return tag == TagFrameStatus || tag == TagFrameType || tag == TagCounter
            || tag == TagFrameNumber || tag == TagAboveIFC || tag == TagFC || tag == TagGLC
            || tag == TagJitterMax || tag == TagDateTick || tag == TagFipData;
    }

    // Frame status bits.
    static constexpr unsigned short StatusCHSL = 0x0400;
    static constexpr unsigned short StatusTXErr2 = 0x0200;
    static constexpr unsigned short StatusTXErr1 = 0x0100;
    static constexpr unsigned short StatusGLCOverflow = 0x0040;
    static constexpr unsigned short StatusIFCOverflow = 0x0020;
    static constexpr unsigned short StatusFCOverflow = 0x0010;
    static constexpr unsigned short StatusNoFED = 0x0008;
    static constexpr unsigned short StatusFSDUnknown = 0x0004;
    static constexpr unsigned short StatusNoFSD = 0x0002;
    static constexpr unsigned short StatusGlitch = 0x0001;

    static constexpr unsigned char FrameTypeFIP = 1;
    static constexpr unsigned char FrameTypeWorldFIP = 2;

    /// Outcome of storing one TLV leaf with `set_field`.
    enum FieldResult {
        FieldStored,
        FieldUnknownTag,
        FieldWrongLength
    };

    /// An empty record (tag 0xC0, every field zero).
    CFipNode();
    /// Builds the record from a parsed tree; a tree whose tag is not 0xC0 gives an
    /// empty record. Leaves of unexpected tag or length are skipped.
    explicit CFipNode(const CTLVNode::Ptr& tree);

    /// Zeroes every record field and drops the TLV children; the data buffer keeps
    /// its capacity so a reused record does not allocate per frame.
    void reset();

    /// Stores one TLV leaf value by its tag, with the exact lengths of the card's
    /// stream (0x20/0x31/0x32: 2, 0x21/0x22/0x33: 1, 0x23/0x34: 8, 0x30: 4, 0x90: any),
    /// numbers most significant byte first.
    FieldResult set_field(unsigned char tag, const unsigned char* value, unsigned int length);

    unsigned short get_frame_status() const { return m_frame_status; }
    unsigned char get_frame_type() const { return m_frame_type; }
    unsigned char get_counter() const { return m_counter; }
    std::uint64_t get_frame_number() const { return m_frame_number; }
    /// Channel number: 2 when CHSL is set, else 1.
    unsigned char get_CHSL() const { return m_CHSL ? 2 : 1; }
    bool is_TXErr1() const { return m_TXErr1; }
    bool is_TXErr2() const { return m_TXErr2; }
    bool is_GLC_overflow() const { return m_GLC_overflow; }
    bool is_IFC_overflow() const { return m_IFC_overflow; }
    bool is_FC_overflow() const { return m_FC_overflow; }
    bool is_no_FED() const { return m_no_FED; }
    bool is_FSD_unknown() const { return m_FSD_unknown; }
    bool is_no_FSD() const { return m_no_FSD; }
    bool is_glitch() const { return m_glitch; }
    bool is_FIP_type() const { return m_FIP_type; }
    bool is_WorldFIP_type() const { return m_WorldFIP_type; }
    bool is_FIFO_overflow() const { return m_FIFO_overflow; }
    std::uint32_t get_Above_IFC() const { return m_Above_IFC; }
    std::uint32_t get_Next_IFC() const { return m_Next_IFC; }
    unsigned short get_FC() const { return m_FC; }
    unsigned short get_GLC() const { return m_GLC; }
    unsigned char get_jitter_max() const { return m_jitter_max; }
    std::uint64_t get_date_tick() const { return m_date_tick; }
    /// The frame bytes, control byte first, FCS last.
    const std::vector<unsigned char>& get_fip_data() const { return m_fip_data; }

    void set_frame_status(unsigned short status);
    void set_frame_type(unsigned char type);
    void set_counter(unsigned char counter) { m_counter = counter; }
    void set_frame_number(std::uint64_t number) { m_frame_number = number; }
    /// Channel 2 sets CHSL, any other channel clears it.
    void set_CHSL(unsigned char channel) { m_CHSL = (channel == 2); }
    void set_TXErr1(bool on) { m_TXErr1 = on; }
    void set_TXErr2(bool on) { m_TXErr2 = on; }
    void set_GLC_overflow(bool on) { m_GLC_overflow = on; }
    void set_IFC_overflow(bool on) { m_IFC_overflow = on; }
    void set_FC_overflow(bool on) { m_FC_overflow = on; }
    void set_no_FED(bool on) { m_no_FED = on; }
    void set_FSD_unknown(bool on) { m_FSD_unknown = on; }
    void set_no_FSD(bool on) { m_no_FSD = on; }
    void set_glitch(bool on) { m_glitch = on; }
    void set_FIP_type(bool on) { m_FIP_type = on; }
    void set_WorldFIP_type(bool on) { m_WorldFIP_type = on; }
    void set_Above_IFC(std::uint32_t ifc) { m_Above_IFC = ifc; }
    void set_Next_IFC(std::uint32_t ifc) { m_Next_IFC = ifc; }
    void set_FC(unsigned short fc) { m_FC = fc; }
    void set_GLC(unsigned short glc) { m_GLC = glc; }
    void set_jitter_max(unsigned char jitter) { m_jitter_max = jitter; }
    void set_date_tick(std::uint64_t tick) { m_date_tick = tick; }
    void set_fip_data(const std::vector<unsigned char>& data) { m_fip_data = data; }
    void set_fip_data(std::vector<unsigned char>&& data) { m_fip_data = std::move(data); }
    /// Copies size bytes into the kept buffer (no allocation once it is large enough).
    void set_fip_data(const unsigned char* data, unsigned int size);
    /// The card lost data before this frame.
    void set_FIFO_overflow() { m_FIFO_overflow = true; }

    /// Derives the ten status flags from the frame status word.
    void treat_frame_status();
    /// Derives FIP_type and WorldFIP_type from the frame type.
    void treat_frame_type();

    /// Debug block on the debug output.
    void print_fip_node() const;

    /// The frame in the card's 9-bit symbol form: a byte in bits 7..0, bit 8 marking
    /// a control symbol or a frame start; then FC + Next_IFC and one status word.
    std::vector<unsigned short> get_formatted_frame_for_OS() const;

    /// Appends the record's TLV form (0xC0 node, the nine number leaves in tag order,
    /// then 0x90). Returns false, appending nothing, when the data do not fit a record.
    bool append_tlv_record(std::vector<unsigned char>& out) const;
    /// Rebuilds the children and length from the fields, so that `get_frame`
    /// gives the TLV form.
    void update_tlv_children();

    /// Largest fip_data a record can carry.
    static constexpr unsigned int MaxFipDataSize = 0xFFFF - 50;

private:
    void clear_fields();
    void take_leaf(const CTLVComponent& leaf);

    unsigned short m_frame_status = 0;
    bool m_CHSL = false;
    bool m_TXErr1 = false;
    bool m_TXErr2 = false;
    bool m_GLC_overflow = false;
    bool m_IFC_overflow = false;
    bool m_FC_overflow = false;
    bool m_no_FED = false;
    bool m_FSD_unknown = false;
    bool m_no_FSD = false;
    bool m_glitch = false;
    unsigned char m_frame_type = 0;
    bool m_FIP_type = false;
    bool m_WorldFIP_type = false;
    unsigned char m_counter = 0;
    std::uint64_t m_frame_number = 0;
    std::uint64_t m_date_tick = 0;
    std::uint32_t m_Above_IFC = 0;
    std::uint32_t m_Next_IFC = 0;
    unsigned short m_FC = 0;
    unsigned short m_GLC = 0;
    unsigned char m_jitter_max = 0;
    std::vector<unsigned char> m_fip_data;
    bool m_FIFO_overflow = false;
};

#endif
