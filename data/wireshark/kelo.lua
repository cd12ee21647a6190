-- Wireshark dissector for the packet protocol of Kelo's machine types 3 and 4: packet frames
-- from the host to the machine on TCP 9101 (type 3) and 9500 (type 4), reply frames from the
-- machine on the same connection. The firmware stream on TCP 9100 is an opaque image and is
-- left to Wireshark as data.
--
-- Packet frame (host to machine), lengths big-endian:
--   80 | L (2) | command (2) | data (n) | data-sum (0 or 1) | check byte
--   L counts the command, the data and the data-sum, so the frame is L + 4 bytes long. The
--   data-sum, (sum of the data + 1) mod 256, is carried by every command but 00 01, 00 02,
--   00 03 and 00 07. The check byte makes the byte sum of the whole frame 0xFF.
-- Reply frame (machine to host):
--   80 | L (2) | L bytes of data | check byte; it too sums to 0xFF.
--
-- Installed in Wireshark's Lua plugin folder by the kelo-cli package; by hand:
--   tshark -X lua_script:data/wireshark/kelo.lua -r trace.pcapng

-- Two copies (the installed plugin and one given with -X lua_script) would register the
-- protocol twice, which Wireshark refuses with an error: the first copy loaded serves.
if rawget(_G, "kelo_dissector_loaded") then
    io.stderr:write("kelo.lua: a copy is loaded already; this one is not used\n")
    return
end
_G.kelo_dissector_loaded = true

local kelo = Proto("kelo", "Kelo packet protocol")

local LEAD = 0x80
local MACHINE_PORTS = { [9101] = true, [9500] = true }

local COMMANDS = {
    [0x0001] = "Report request",
    [0x0002] = "Parameter half 1 request",
    [0x0003] = "Parameter half 2 request",
    [0x0004] = "Put parameter half 1",
    [0x0005] = "Put parameter half 2",
    [0x0006] = "Command text",
    [0x0007] = "Command 00 07 (no data-sum)",
}

local f = {
    lead = ProtoField.uint8("kelo.lead", "Lead byte", base.HEX),
    len = ProtoField.uint16("kelo.len", "Length", base.DEC, nil, nil,
        "Bytes between the length and the check byte"),
    cmd = ProtoField.uint16("kelo.cmd", "Command", base.HEX, COMMANDS),
    datasum_present = ProtoField.bool("kelo.datasum_present", "Data-sum carried"),
    datasum = ProtoField.uint8("kelo.datasum", "Data-sum", base.HEX),
    datasum_ok = ProtoField.bool("kelo.datasum_ok", "Data-sum right"),
    data = ProtoField.bytes("kelo.data", "Data"),
    text = ProtoField.string("kelo.text", "Text"),
    line = ProtoField.string("kelo.line", "Line"),
    check = ProtoField.uint8("kelo.check", "Check byte", base.HEX),
    check_ok = ProtoField.bool("kelo.check_ok", "Check byte right"),
    reply_to = ProtoField.uint16("kelo.reply_to", "Reply to", base.HEX, COMMANDS),
    request_in = ProtoField.framenum("kelo.request_in", "Request in frame", base.NONE,
        frametype.REQUEST),
    not_frame = ProtoField.bytes("kelo.not_frame", "Not a frame"),
}
kelo.fields = f

local e = {
    not_frame = ProtoExpert.new("kelo.expert.not_frame", "not a frame",
        expert.group.MALFORMED, expert.severity.WARN),
    bad_check = ProtoExpert.new("kelo.expert.bad_check", "Check byte wrong",
        expert.group.CHECKSUM, expert.severity.WARN),
    bad_datasum = ProtoExpert.new("kelo.expert.bad_datasum", "Data-sum wrong",
        expert.group.CHECKSUM, expert.severity.WARN),
    missing_datasum = ProtoExpert.new("kelo.expert.missing_datasum",
        "The command needs a data-sum but the frame has no room for one",
        expert.group.MALFORMED, expert.severity.WARN),
    unexpected_data = ProtoExpert.new("kelo.expert.unexpected_data",
        "Data after a request that carries none", expert.group.PROTOCOL, expert.severity.WARN),
    too_short = ProtoExpert.new("kelo.expert.too_short",
        "Length below 2: no room for the command", expert.group.MALFORMED,
        expert.severity.WARN),
    unassembled = ProtoExpert.new("kelo.expert.unassembled",
        "Frames across segments cannot be shown: TCP reassembly is off",
        expert.group.REASSEMBLE, expert.severity.WARN),
}
kelo.experts = e

-- Which request each reply answers: the last request seen on its TCP stream, noted on the
-- first pass and looked up again when Wireshark revisits a packet.
local tcp_stream = Field.new("tcp.stream")
local last_request = {}
local answered_request = {}

function kelo.init()
    last_request = {}
    answered_request = {}
end

-- Helpers ------------------------------------------------------------------------------------

local function byte_sum(tvb, offset, length)
    local sum = 0
    local bytes = tvb:raw(offset, length)
    for i = 1, length do
        sum = sum + bytes:byte(i)
    end
    return sum % 256
end

local function thousands(n)
    local text, changed = tostring(n), 1
    while changed > 0 do
        text, changed = text:gsub("^(%d+)(%d%d%d)", "%1,%2")
    end
    return text
end

local function byte_count(n)
    return n == 1 and "1 byte" or thousands(n) .. " bytes"
end

local ESCAPES = { ["\n"] = "\\n", ["\r"] = "\\r", ["\t"] = "\\t", ['"'] = '\\"', ["\\"] = "\\\\" }

-- A command text for the Info column: quoted, control and high bytes escaped, long ones cut.
local function quoted(bytes)
    local limit = 40
    local shown = bytes:sub(1, limit):gsub('[%c"\\\128-\255]', function(c)
        return ESCAPES[c] or ("\\x%02X"):format(c:byte())
    end)
    return '"' .. shown .. (#bytes > limit and '..."' or '"')
end

-- The commands 00 01, 00 02, 00 03 and 00 07 go without a data-sum.
local function carries_data_sum(cmd)
    return not (cmd == 1 or cmd == 2 or cmd == 3 or cmd == 7)
end

local function from_host(pinfo)
    if MACHINE_PORTS[pinfo.dst_port] then
        return true
    end
    if MACHINE_PORTS[pinfo.src_port] then
        return false
    end
    return pinfo.dst_port == pinfo.match_uint -- decoded on another port by the user
end

local function stream_key(pinfo)
    local field = tcp_stream()
    return field and field.value or tostring(pinfo.src) .. ":" .. tostring(pinfo.dst)
end

-- Sets the Info column to the first frame's summary in a packet and appends the others.
local function add_summary(pinfo, summary)
    pinfo.cols.protocol = "Kelo"
    if pinfo.private.kelo_summary then
        pinfo.cols.info:append("; " .. summary)
    else
        pinfo.cols.info:set(summary)
        pinfo.private.kelo_summary = "1"
    end
end

-- Numbers the frames of one packet, so that a revisit finds what the first pass noted.
local function next_frame_key(pinfo)
    local index = tonumber(pinfo.private.kelo_frames or "0") + 1
    pinfo.private.kelo_frames = tostring(index)
    return pinfo.number .. ":" .. index
end

-- Adds the text, and one item per line under it, so that a report reads as it was written.
local function add_text(tree, range)
    local text = tree:add_packet_field(f.text, range, ENC_UTF_8)
    local bytes = range:raw()
    local start = 1
    while start <= #bytes do
        local stop = bytes:find("\n", start, true) or #bytes
        local line_end = stop
        if bytes:sub(line_end, line_end) == "\n" then
            line_end = line_end - 1
        end
        if line_end >= start and bytes:sub(line_end, line_end) == "\r" then
            line_end = line_end - 1
        end
        if line_end >= start then
            text:add_packet_field(f.line, range:range(start - 1, line_end - start + 1), ENC_UTF_8)
        end
        start = stop + 1
    end
end

-- Adds the check byte and its verdict; true when the frame sums to 0xFF.
local function add_check(tree, tvb, offset, frame_length)
    local check_offset = offset + frame_length - 1
    local sum = byte_sum(tvb, offset, frame_length)
    local ok = sum == 0xFF
    local item = tree:add(f.check, tvb(check_offset, 1))
    if not ok then
        local right = (tvb(check_offset, 1):uint() + 0xFF - sum) % 256
        item:append_text((" (wrong: the frame sums to 0x%02X, not 0xFF; right would be 0x%02X)")
            :format(sum, right))
        item:add_proto_expert_info(e.bad_check)
    end
    tree:add(f.check_ok, tvb(check_offset, 1), ok):set_generated()
    return ok
end

-- Frames -------------------------------------------------------------------------------------

local function request_summary(cmd, data)
    if cmd == 1 then
        return "Report request"
    elseif cmd == 2 or cmd == 3 then
        return ("Parameter half %d request"):format(cmd - 1)
    elseif cmd == 4 or cmd == 5 then
        return ("Parameter half %d, %s"):format(cmd - 3, byte_count(#data))
    elseif cmd == 6 then
        return "Command text " .. quoted(data)
    end
    return ("Command %02X %02X, %s"):format(math.floor(cmd / 256), cmd % 256, byte_count(#data))
end

-- The command, data and data-sum of a packet frame whose length leaves room for a command;
-- returns the frame's summary for the Info column.
local function add_request_body(root, tvb, offset, length, pinfo)
    local cmd = tvb(offset + 3, 2):uint()
    root:add(f.cmd, tvb(offset + 3, 2))
    local carries = carries_data_sum(cmd)
    root:add(f.datasum_present, carries):set_generated()
    local data_length = length - 2
    if carries then
        data_length = math.max(data_length - 1, 0)
    end
    local data_offset = offset + 5
    local data = tvb:raw(data_offset, data_length)
    local summary = request_summary(cmd, data)
    if data_length > 0 then
        local range = tvb(data_offset, data_length)
        local item = root:add(f.data, range)
        if cmd == 6 then
            add_text(root, range)
        end
        if not carries and cmd ~= 7 then
            item:add_proto_expert_info(e.unexpected_data)
            summary = summary .. ", unexpected data"
        end
    end
    if not pinfo.visited then
        last_request[stream_key(pinfo)] = { cmd = cmd, frame = pinfo.number }
    end

    if not carries then
        return summary
    end
    if length == 2 then
        root:add(f.datasum_ok, false):set_generated()
        root:add_proto_expert_info(e.missing_datasum)
        return summary .. ", no data-sum"
    end
    local sum_range = tvb(data_offset + data_length, 1)
    local right = (byte_sum(tvb, data_offset, data_length) + 1) % 256
    local ok = sum_range:uint() == right
    local item = root:add(f.datasum, sum_range)
    if not ok then
        item:append_text((" (wrong: right would be 0x%02X)"):format(right))
        item:add_proto_expert_info(e.bad_datasum)
    end
    root:add(f.datasum_ok, sum_range, ok):set_generated()
    return ok and summary or summary .. ", data-sum wrong"
end

-- The frame's own tree with its lead byte and length, which both kinds of frame start with.
local function add_frame_header(tree, tvb, offset, length, label)
    local root = tree:add(kelo, tvb(offset, length + 4), label)
    root:add(f.lead, tvb(offset, 1))
    root:add(f.len, tvb(offset + 1, 2))
    return root
end

local function dissect_packet_frame(tvb, offset, length, pinfo, tree)
    local root = add_frame_header(tree, tvb, offset, length, "Kelo packet frame (to the machine)")
    local summary
    if length < 2 then
        if length > 0 then
            root:add(f.data, tvb(offset + 3, length))
        end
        root:add_proto_expert_info(e.too_short)
        summary = "Frame too short for a command"
    else
        summary = add_request_body(root, tvb, offset, length, pinfo)
    end
    if not add_check(root, tvb, offset, length + 4) then
        summary = summary .. ", check wrong"
    end
    root:append_text(": " .. summary)
    add_summary(pinfo, summary)
end

-- A reply is shown as text unless it answers a parameter request; with no request in the
-- capture, unless it holds a 0 byte, which a report never does.
local function reply_is_text(request, tvb, offset, length)
    if request then
        return request.cmd ~= 2 and request.cmd ~= 3
    end
    return not tvb:raw(offset, length):find("\0", 1, true)
end

local function dissect_reply_frame(tvb, offset, length, pinfo, tree)
    local root = add_frame_header(tree, tvb, offset, length, "Kelo reply frame (from the machine)")

    local key = next_frame_key(pinfo)
    if not pinfo.visited then
        answered_request[key] = last_request[stream_key(pinfo)]
    end
    local request = answered_request[key]
    if request then
        root:add(f.reply_to, request.cmd):set_generated()
        root:add(f.request_in, request.frame):set_generated()
    end

    if length > 0 then
        local range = tvb(offset + 3, length)
        root:add(f.data, range)
        if reply_is_text(request, tvb, offset + 3, length) then
            add_text(root, range)
        end
    end
    local ok = add_check(root, tvb, offset, length + 4)
    local summary = ("Reply %s, check %s"):format(byte_count(length), ok and "ok" or "wrong")
    root:append_text(": " .. summary)
    add_summary(pinfo, summary)
end

-- Bytes that do not start with the lead byte: the rest of the segment is shown as they are.
local function dissect_not_frame(tvb, offset, pinfo, tree)
    local count = tvb:len() - offset
    local root = tree:add(kelo, tvb(offset, count), "Kelo: not a frame")
    local item = root:add(f.not_frame, tvb(offset, count))
    item:add_proto_expert_info(e.not_frame,
        ("not a frame: the first byte is 0x%02X, not the lead byte 0x80")
            :format(tvb(offset, 1):uint()))
    add_summary(pinfo, byte_count(count) .. ", not a frame")
end

-- Only when TCP reassembly is switched off: bytes that are not one whole frame.
local function dissect_unassembled(tvb, offset, summary, pinfo, tree)
    local count = tvb:len() - offset
    local root = tree:add(kelo, tvb(offset, count), "Kelo: " .. summary)
    root:add(f.data, tvb(offset, count))
    root:add_proto_expert_info(e.unassembled)
    add_summary(pinfo, summary)
end

-- Every frame the segment holds; a frame that goes on in later segments is left to TCP to
-- reassemble, and the dissector is called again with the whole of it.
function kelo.dissector(tvb, pinfo, tree)
    local total = tvb:len()
    local to_machine = from_host(pinfo)
    local offset = 0
    while offset < total do
        if tvb(offset, 1):uint() ~= LEAD then
            if pinfo.can_desegment == 0 then
                dissect_unassembled(tvb, offset, byte_count(total - offset)
                    .. " without a frame start", pinfo, tree)
            else
                dissect_not_frame(tvb, offset, pinfo, tree)
            end
            return total
        end
        local frame_length = total - offset >= 3 and tvb(offset + 1, 2):uint() + 4 or nil
        if not frame_length or total - offset < frame_length then
            if pinfo.can_desegment == 0 then
                dissect_unassembled(tvb, offset, frame_length
                    and ("Incomplete frame, %s of %s"):format(thousands(total - offset),
                        byte_count(frame_length))
                    or "Incomplete frame, " .. byte_count(total - offset), pinfo, tree)
                return total
            end
            pinfo.desegment_offset = offset
            pinfo.desegment_len = frame_length and frame_length - (total - offset)
                or DESEGMENT_ONE_MORE_SEGMENT
            return total
        end
        if to_machine then
            dissect_packet_frame(tvb, offset, frame_length - 4, pinfo, tree)
        else
            dissect_reply_frame(tvb, offset, frame_length - 4, pinfo, tree)
        end
        offset = offset + frame_length
    end
    return offset
end

local tcp_port = DissectorTable.get("tcp.port")
for port in pairs(MACHINE_PORTS) do
    tcp_port:add(port, kelo)
end
