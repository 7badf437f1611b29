-- FIP / WorldFIP frames in pcapng files written by Brantix (link type 147,
-- LINKTYPE_USER0): control, identifier, PDU, data and the FCS with its check.
--
-- Load it with  tshark -X lua_script:brantix_fip.lua -r capture.pcapng
-- or copy it into Wireshark's personal plugins folder
-- (Help > About Wireshark > Folders > Personal Lua Plugins).

local bit = bit32 or bit

-- "fip" is taken by the FCoE Initialization Protocol: the protocol is "fipbus",
-- its fields keep the short "fip." names engineers filter on.
local fip = Proto("fipbus", "FIP fieldbus frame")

local controls = {
    [0x03] = "ID_DAT", [0x05] = "ID_MSG", [0x29] = "ID_RQ1", [0x09] = "ID_RQ2",
    [0x02] = "RP_DAT", [0x06] = "RP_DAT_MSG", [0x2A] = "RP_DAT_RQ1", [0x0A] = "RP_DAT_RQ2",
    [0x2E] = "RP_DAT_RQ1_MSG", [0x0E] = "RP_DAT_RQ2_MSG", [0x28] = "RP_RQ1", [0x08] = "RP_RQ2",
    [0x04] = "RP_MSG_NOACK", [0x14] = "RP_MSG_ACKe", [0x94] = "RP_MSG_ACKo",
    [0x30] = "RP_ACKpe", [0xB0] = "RP_ACKpo", [0x10] = "RP_ACKme", [0x90] = "RP_ACKmo", [0x40] = "RP_FIN",
}

-- Frame sizes, control byte to FCS, of each control family.
local IDENTIFIER, REPLY_DATA, REPLY_REQUEST, REPLY_MESSAGE, REPLY_ACK = 1, 2, 3, 4, 5
local families = {
    [0x03] = IDENTIFIER, [0x05] = IDENTIFIER, [0x29] = IDENTIFIER, [0x09] = IDENTIFIER,
    [0x02] = REPLY_DATA, [0x06] = REPLY_DATA, [0x2A] = REPLY_DATA, [0x0A] = REPLY_DATA,
    [0x2E] = REPLY_DATA, [0x0E] = REPLY_DATA,
    [0x28] = REPLY_REQUEST, [0x08] = REPLY_REQUEST,
    [0x04] = REPLY_MESSAGE, [0x14] = REPLY_MESSAGE, [0x94] = REPLY_MESSAGE,
    [0x30] = REPLY_ACK, [0xB0] = REPLY_ACK, [0x10] = REPLY_ACK, [0x90] = REPLY_ACK, [0x40] = REPLY_ACK,
}
local sizes = {
    [IDENTIFIER] = { 5, 5 }, [REPLY_DATA] = { 6, 131 }, [REPLY_REQUEST] = { 5, 131 },
    [REPLY_MESSAGE] = { 9, 265 }, [REPLY_ACK] = { 3, 3 },
}

local fcs_status = { [0] = "Bad", [1] = "Good", [2] = "Unverified" }

local f = {
    ctrl = ProtoField.uint8("fip.ctrl", "Control", base.HEX, controls),
    id = ProtoField.uint16("fip.id", "Identifier", base.HEX),
    request_in = ProtoField.framenum("fip.request_in", "Request in", base.NONE, frametype.REQUEST),
    pdu = ProtoField.string("fip.pdu", "PDU"),
    len = ProtoField.uint16("fip.len", "Data Length", base.DEC),
    data = ProtoField.bytes("fip.data", "Data"),
    fcs = ProtoField.uint16("fip.fcs", "FCS", base.HEX),
    fcs_computed = ProtoField.uint16("fip.fcs.computed", "Computed FCS", base.HEX),
    fcs_status = ProtoField.uint8("fip.fcs.status", "FCS Status", base.DEC, fcs_status),
    frame_type = ProtoField.string("fip.frame_type", "Frame Type"),
}
fip.fields = f

local e = {
    fcs_bad = ProtoExpert.new("fip.fcs.bad", "FCS error", expert.group.CHECKSUM, expert.severity.ERROR),
    ctrl_unknown = ProtoExpert.new("fip.ctrl.unknown", "Unknown control", expert.group.PROTOCOL, expert.severity.ERROR),
    len_invalid = ProtoExpert.new("fip.len.invalid", "Invalid data size", expert.group.MALFORMED, expert.severity.ERROR),
    no_bytes = ProtoExpert.new("fip.interruption", "Traffic interruption", expert.group.SEQUENCE, expert.severity.WARN),
}
fip.experts = { e.fcs_bad, e.ctrl_unknown, e.len_invalid, e.no_bytes }

fip.prefs.frame_type = Pref.enum("Frame type when the capture does not name it", 2,
    "FCS polynomial of frames whose interface description names no frame type",
    { { 1, "FIP (0x1021)", 1 }, { 2, "WorldFIP (0x1DCF)", 2 } }, true)

-- CRC-16, most significant bit first; FIP 0x1021 from 0, WorldFIP 0x1DCF from 0xFFFF, complemented.
local function crc_table(poly)
    local t = {}
    for i = 0, 255 do
        local c = bit.lshift(i, 8)
        for _ = 1, 8 do
            if bit.band(c, 0x8000) ~= 0 then
                c = bit.band(bit.bxor(bit.lshift(c, 1), poly), 0xFFFF)
            else
                c = bit.band(bit.lshift(c, 1), 0xFFFF)
            end
        end
        t[i] = c
    end
    return t
end
local tables = { [1] = crc_table(0x1021), [2] = crc_table(0x1DCF) }

local function fcs_of(tvb, count, frame_type)
    local t = tables[frame_type]
    local crc = frame_type == 1 and 0 or 0xFFFF
    for i = 0, count - 1 do
        local index = bit.band(bit.bxor(bit.rshift(crc, 8), tvb:range(i, 1):uint()), 0xFF)
        crc = bit.band(bit.bxor(bit.lshift(crc, 8), t[index]), 0xFFFF)
    end
    return bit.band(bit.bnot(crc), 0xFFFF)
end

local interface_description = Field.new("frame.interface_description")

local function frame_type_of()
    local d = interface_description()
    if d then
        local text = tostring(d.value)
        if text:find("WorldFIP") then return 2 end
        if text:find("FIP") then return 1 end
    end
    return fip.prefs.frame_type
end

-- The transaction each frame belongs to, kept from the first pass: a reply
-- answers the last valid identifier frame before it.
local transactions = {}
local current = nil

function fip.init()
    transactions = {}
    current = nil
end

function fip.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "FIP"
    local size = tvb:len()
    local subtree = tree:add(fip, tvb(), "FIP frame")
    if size == 0 then
        -- Brantix writes a traffic interruption as a packet without bytes; the
        -- transaction in progress ends with it.
        if not pinfo.visited then
            current = nil
            transactions[pinfo.number] = false
        end
        subtree:add_proto_expert_info(e.no_bytes)
        pinfo.cols.info = "No frame bytes (traffic interruption)"
        return size
    end

    local frame_type = frame_type_of()
    subtree:add(f.frame_type, frame_type == 1 and "FIP" or "WorldFIP"):set_generated()
    local control = tvb(0, 1):uint()
    local ctrl_item = subtree:add(f.ctrl, tvb(0, 1))
    local name = controls[control] or string.format("Unknown [0x%02x]", control)

    local fcs_good = false
    if size >= 2 then
        local read = tvb(size - 2, 2):uint()
        local computed = fcs_of(tvb, size - 2, frame_type)
        if size >= 3 then
            subtree:add(f.len, size - 3):set_generated()
            if size > 3 then subtree:add(f.data, tvb(1, size - 3)) end
        end
        local fcs_item = subtree:add(f.fcs, tvb(size - 2, 2))
        subtree:add(f.fcs_computed, computed):set_generated()
        fcs_good = read == computed
        subtree:add(f.fcs_status, fcs_good and 1 or 0):set_generated()
        if not fcs_good then
            fcs_item:append_text(string.format(" [incorrect, should be 0x%04x]", computed))
            fcs_item:add_proto_expert_info(e.fcs_bad,
                string.format("FCS Error [read = 0x%04x, calculated = 0x%04x]", read, computed))
        end
    end

    -- The frame decodes as the capture's decoder does: FCS, then control, then size.
    local family = families[control]
    local valid = false
    if fcs_good then
        if not family then
            ctrl_item:add_proto_expert_info(e.ctrl_unknown, string.format("Unknown Control [0x%02x]", control))
        elseif size < sizes[family][1] or size > sizes[family][2] then
            subtree:add_proto_expert_info(e.len_invalid, "Invalid Data Size")
        else
            valid = true
        end
    end

    local number = pinfo.number
    if not pinfo.visited and transactions[number] == nil then
        if valid and family == IDENTIFIER then
            current = { id = tvb(1, 2):uint(), frame = number }
        end
        transactions[number] = current or false
    end
    local transaction = transactions[number]
    if valid and family == IDENTIFIER then
        subtree:add(f.id, tvb(1, 2))
    elseif transaction then
        subtree:add(f.id, transaction.id):set_generated()
        subtree:add(f.request_in, transaction.frame):set_generated()
    end
    if valid and family == REPLY_DATA then
        subtree:add(f.pdu, tvb(1, 1):uint() == 0x50 and "SM_MPS" or "MPS"):set_generated()
    end

    local info = name
    if transaction then info = info .. string.format(" 0x%04x", transaction.id) end
    if size >= 3 then info = info .. string.format(", %d data bytes", size - 3) end
    if not fcs_good then info = info .. " [FCS error]" end
    pinfo.cols.info = info
    subtree:append_text(", " .. info)
    return size
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, fip)
