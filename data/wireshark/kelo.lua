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
local HEADER_SIZE = 3 -- the lead byte and the length
local MACHINE_PORTS = { [9101] = true, [9500] = true }

-- The requests by code, named as the text trace names them, with what each carries after
-- the command: "nothing", or "data" or "text" followed by a data-sum. A code not named here
-- carries data and a data-sum, except UNSUMMED_COMMAND, which carries data without one. The
-- machine answers the parameter requests with data, the others with text.
local COMMANDS = {
    [0x0001] = { name = "get report", carries = "nothing" },
    [0x0002] = { name = "get the first half of the parameter set", carries = "nothing",
                 answer = "data" },
    [0x0003] = { name = "get the second half of the parameter set", carries = "nothing",
                 answer = "data" },
    [0x0004] = { name = "put the first half of the parameter set", carries = "data" },
    [0x0005] = { name = "put the second half of the parameter set", carries = "data" },
    [0x0006] = { name = "text command", carries = "text" },
}
local UNSUMMED_COMMAND = 0x0007

-- The names for the command fields, and a label for the one code that has none.
local COMMAND_NAMES = { [UNSUMMED_COMMAND] = "Command 00 07 (no data-sum)" }
for code, command in pairs(COMMANDS) do
    COMMAND_NAMES[code] = command.name
end

local f = {
    lead = ProtoField.uint8("kelo.lead", "Lead byte", base.HEX),
    len = ProtoField.uint16("kelo.len", "Length", base.DEC, nil, nil,
        "Bytes between the length and the check byte"),
    cmd = ProtoField.uint16("kelo.cmd", "Command", base.HEX, COMMAND_NAMES),
    datasum_present = ProtoField.bool("kelo.datasum_present", "Data-sum carried"),
    datasum = ProtoField.uint8("kelo.datasum", "Data-sum", base.HEX),
    datasum_ok = ProtoField.bool("kelo.datasum_ok", "Data-sum right"),
    data = ProtoField.bytes("kelo.data", "Data"),
    text = ProtoField.string("kelo.text", "Text"),
    line = ProtoField.string("kelo.line", "Line"),
    check = ProtoField.uint8("kelo.check", "Check byte", base.HEX),
    check_ok = ProtoField.bool("kelo.check_ok", "Check byte right"),
    reply_to = ProtoField.uint16("kelo.reply_to", "Reply to", base.HEX, COMMAND_NAMES),
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

-- Whether the command's data is followed by a data-sum.
local function carries_data_sum(cmd)
    local command = COMMANDS[cmd]
    return cmd ~= UNSUMMED_COMMAND and not (command and command.carries == "nothing")
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

-- Adds the frame's check byte, its last, and its verdict; true when the frame sums to 0xFF.
local function add_check(tree, tvb)
    local check_range = tvb(tvb:len() - 1, 1)
    local sum = byte_sum(tvb, 0, tvb:len())
    local ok = sum == 0xFF
    local item = tree:add(f.check, check_range)
    if not ok then
        local right = (check_range:uint() + 0xFF - sum) % 256
        item:append_text((" (wrong: the frame sums to 0x%02X, not 0xFF; right would be 0x%02X)")
            :format(sum, right))
        item:add_proto_expert_info(e.bad_check)
    end
    tree:add(f.check_ok, check_range, ok):set_generated()
    return ok
end

-- Frames -------------------------------------------------------------------------------------
-- Each function here is given a Tvb of its own that holds one whole frame, or bytes that are
-- none.

local function request_summary(cmd, data)
    local command = COMMANDS[cmd]
    if not command then
        return ("Command %02X %02X, %s"):format(math.floor(cmd / 256), cmd % 256,
            byte_count(#data))
    elseif command.carries == "text" then
        return command.name .. " " .. quoted(data)
    elseif command.carries == "data" then
        return command.name .. ", " .. byte_count(#data)
    end
    return command.name
end

-- The command, data and data-sum of a packet frame whose length leaves room for a command;
-- returns the frame's summary for the Info column.
local function add_request_body(root, tvb, length, pinfo)
    local cmd = tvb(3, 2):uint()
    local command = COMMANDS[cmd]
    root:add(f.cmd, tvb(3, 2))
    local carries = carries_data_sum(cmd)
    root:add(f.datasum_present, carries):set_generated()
    local data_length = length - 2
    if carries then
        data_length = math.max(data_length - 1, 0)
    end
    local data = tvb:raw(5, data_length)
    local summary = request_summary(cmd, data)
    if data_length > 0 then
        local range = tvb(5, data_length)
        local item = root:add(f.data, range)
        if command and command.carries == "text" then
            add_text(root, range)
        elseif command and command.carries == "nothing" then
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
    local sum_range = tvb(5 + data_length, 1)
    local right = (byte_sum(tvb, 5, data_length) + 1) % 256
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
local function add_frame_header(tree, tvb, label)
    local root = tree:add(kelo, tvb(), label)
    root:add(f.lead, tvb(0, 1))
    root:add(f.len, tvb(1, 2))
    return root
end

local function dissect_packet_frame(tvb, pinfo, tree)
    local root = add_frame_header(tree, tvb, "Kelo packet frame (to the machine)")
    local length = tvb(1, 2):uint()
    local summary
    if length < 2 then
        if length > 0 then
            root:add(f.data, tvb(3, length))
        end
        root:add_proto_expert_info(e.too_short)
        summary = "Frame too short for a command"
    else
        summary = add_request_body(root, tvb, length, pinfo)
    end
    if not add_check(root, tvb) then
        summary = summary .. ", check wrong"
    end
    root:append_text(": " .. summary)
    add_summary(pinfo, summary)
end

-- A reply is shown as text unless it answers a parameter request; with no request in the
-- capture, unless it holds a 0 byte, which a report never does.
local function reply_is_text(request, range)
    if request then
        local command = COMMANDS[request.cmd]
        return not (command and command.answer == "data")
    end
    return not range:raw():find("\0", 1, true)
end

local function dissect_reply_frame(tvb, pinfo, tree)
    local root = add_frame_header(tree, tvb, "Kelo reply frame (from the machine)")
    local length = tvb(1, 2):uint()

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
        local range = tvb(3, length)
        root:add(f.data, range)
        if reply_is_text(request, range) then
            add_text(root, range)
        end
    end
    local ok = add_check(root, tvb)
    local summary = ("Reply %s, check %s"):format(byte_count(length), ok and "ok" or "wrong")
    root:append_text(": " .. summary)
    add_summary(pinfo, summary)
end

-- Bytes that do not start with the lead byte: the rest of what TCP handed over.
local function dissect_not_frame(tvb, pinfo, tree)
    local root = tree:add(kelo, tvb(), "Kelo: not a frame")
    local item = root:add(f.not_frame, tvb())
    item:add_proto_expert_info(e.not_frame,
        ("not a frame: the first byte is 0x%02X, not the lead byte 0x80"):format(tvb(0, 1):uint()))
    add_summary(pinfo, byte_count(tvb:len()) .. ", not a frame")
end

-- One frame, or bytes that are none; returns the bytes it took.
local function dissect_frame(tvb, pinfo, tree)
    if tvb(0, 1):uint() ~= LEAD then
        dissect_not_frame(tvb, pinfo, tree)
    elseif from_host(pinfo) then
        dissect_packet_frame(tvb, pinfo, tree)
    else
        dissect_reply_frame(tvb, pinfo, tree)
    end
    return tvb:len()
end

-- How long the frame at the offset is: lead byte, length and check byte besides its L bytes.
-- Bytes without the lead byte run to the end of what TCP handed over; 0 asks TCP for another
-- segment while the length is not there yet.
local function frame_length_at(tvb, pinfo, offset)
    local left = tvb:len() - offset
    if tvb(offset, 1):uint() ~= LEAD then
        return left
    end
    if left < HEADER_SIZE then
        return 0
    end
    return tvb(offset + 1, 2):uint() + HEADER_SIZE + 1
end

-- Segments alone (TCP reassembly switched off) --------------------------------------------

local function unassembled_summary(tvb, offset, frame_length)
    local left = tvb:len() - offset
    if tvb(offset, 1):uint() ~= LEAD then
        return byte_count(left) .. " without a frame start"
    elseif frame_length then
        return ("Incomplete frame, %s of %s"):format(thousands(left), byte_count(frame_length))
    end
    return "Incomplete frame, " .. byte_count(left)
end

-- What is left of a segment that is not one whole frame.
local function dissect_unassembled(tvb, summary, pinfo, tree)
    local root = tree:add(kelo, tvb(), "Kelo: " .. summary)
    root:add(f.data, tvb())
    root:add_proto_expert_info(e.unassembled)
    add_summary(pinfo, summary)
end

-- The whole frames of one segment; a frame that goes on beyond it cannot be shown.
local function dissect_segment_alone(tvb, pinfo, tree)
    local offset = 0
    while offset < tvb:len() do
        local left = tvb:len() - offset
        local frame_length = tvb(offset, 1):uint() == LEAD and left >= HEADER_SIZE
            and frame_length_at(tvb, pinfo, offset) or nil
        if not frame_length or frame_length > left then
            dissect_unassembled(tvb(offset, left):tvb(),
                unassembled_summary(tvb, offset, frame_length), pinfo, tree)
            break
        end
        dissect_frame(tvb(offset, frame_length):tvb(), pinfo, tree)
        offset = offset + frame_length
    end
    return tvb:len()
end

-- Every frame of the stream, shown in the segment that completes it: TCP reassembles the
-- frames that go on in later segments and hands over each frame on its own. The lead byte
-- alone tells a frame from bytes that are none.
function kelo.dissector(tvb, pinfo, tree)
    if pinfo.can_desegment == 0 then
        return dissect_segment_alone(tvb, pinfo, tree)
    end
    dissect_tcp_pdus(tvb, tree, 1, frame_length_at, dissect_frame)
    return tvb:len()
end

local tcp_port = DissectorTable.get("tcp.port")
for port in pairs(MACHINE_PORTS) do
    tcp_port:add(port, kelo)
end
