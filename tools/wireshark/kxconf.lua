-- Wireshark dissector for the kxconf device configuration protocols.
--
--   family A  text commands, device port 65535
--   family B  binary packets with a CRC-16, device port 65280
--   host      every request leaves from, and every reply returns to, port 65281
--
-- Load it for one run with   tshark -X lua_script:kxconf.lua ...
-- or copy it into a Wireshark plugin folder (the install rule does so).
--
-- Filter names: kxa.* for family A, kxb.* for family B; the family B settings
-- fields are named after the settings record (kxb.settings.dest_port, ...).

-- A second copy (a personal one beside the installed one, or one given with
-- -X lua_script) leaves the first in place instead of failing to load. Each
-- plugin runs in an environment of its own, so the mark goes where every
-- copy sees it: the shared package.loaded table.
if package.loaded.kxconf_dissector then return end
package.loaded.kxconf_dissector = true

local DEVICE_PORT_A = 65535
local DEVICE_PORT_B = 65280
local HOST_PORT = 65281
-- The host receives into a 256-byte area; a longer datagram is a receive error.
local RECEIVE_AREA = 256

-- Bit operations: Lua 5.2 builds have bit32, every Wireshark build has bit,
-- and Lua 5.3 and later have the operators (hidden from older parsers).
local bits = bit32 or bit
local bxor, band, lshift, rshift
if bits then
    bxor, band, lshift, rshift = bits.bxor, bits.band, bits.lshift, bits.rshift
else
    bxor, band, lshift, rshift = load([[
        return function(a, b) return a ~ b end, function(a, b) return a & b end,
               function(a, n) return a << n end, function(a, n) return a >> n end]])()
end

local SCRAMBLE_KEY = 0xC5

-- CRC-16 with polynomial 0x1021, initial value 0, no reflection, no final XOR.
local crc_table = {}
for i = 0, 255 do
    local c = lshift(i, 8)
    for _ = 1, 8 do
        if band(c, 0x8000) ~= 0 then
            c = band(bxor(lshift(c, 1), 0x1021), 0xFFFF)
        else
            c = band(lshift(c, 1), 0xFFFF)
        end
    end
    crc_table[i] = c
end

local function crc16(tvb, length)
    local crc = 0
    for i = 0, length - 1 do
        local b = tvb(i, 1):uint()
        crc = bxor(crc_table[band(bxor(rshift(crc, 8), b), 0xFF)], band(lshift(crc, 8), 0xFFFF))
    end
    return crc
end

-- Text up to its first NUL.
local function cstring(raw)
    local nul = raw:find("\0", 1, true)
    return nul and raw:sub(1, nul - 1) or raw
end

-- Adds a text field over bytes [offset, offset + length) of tvb; a field that
-- starts at the end of the datagram is empty and has no bytes to point at.
local function add_text(tree, field, tvb, offset, length, value)
    if length > 0 then
        return tree:add(field, tvb(offset, length), value)
    end
    return tree:add(field, value)
end

local function printable(text)
    return (text:gsub("[^\32-\126]", "."))
end

local function add_oversize_check(item, tvb, expert)
    local length = tvb:reported_len()
    if length > RECEIVE_AREA then
        item:add_proto_expert_info(expert, string.format(
            "Datagram of %d bytes: over the host's %d-byte receive area, so it cannot be received whole",
            length, RECEIVE_AREA))
    end
end

local request_frame = frametype and frametype.REQUEST or nil

---------------------------------------------------------------------------
-- Family A: text commands
---------------------------------------------------------------------------

local kxa = Proto("kxa", "kxconf family A")

-- Setting letters of the get and set commands, and the record field each
-- one carries.
local setting_fields_a = {
    FE = "device_id_text", IP = "ip_address", PN = "local_port", RM = "rm_value",
    DI = "dest_ip", DP = "dest_port", GI = "gateway", NM = "subnet_mask",
    BR = "baud_code", PR = "parity", BB = "data_bits", ML = "ml_value",
    MD = "md_value", TP = "tp_value", DN = "device_name", DH = "dhcp_enabled",
    FC = "flow_control", KL = "keep_alive", V = "firmware_version", DD = "dd_flag",
    LI = "li_address", Li = "li_address_2", WW = "ww_flag", DW = "dw_text",
    ON = "on_text", PW = "password", T = "family", NB = "nb_flag",
}

local baud_codes_a = {
    ["0"] = 1200, ["1"] = 2400, ["2"] = 4800, ["3"] = 9600,
    ["4"] = 19200, ["5"] = 38400, ["6"] = 57600, ["7"] = 115200,
}

-- What a value text means, for the settings whose text is a code.
local function value_meaning_a(letters, value)
    if letters == "BR" then
        local rate = baud_codes_a[value:sub(1, 1)]
        return rate and (rate .. " baud") or "unknown code, the host takes 9600 baud"
    elseif letters == "BB" then
        return value:sub(1, 1) == "0" and "7 data bits" or "8 data bits"
    end
    return nil
end

local fa = {
    kind = ProtoField.string("kxa.type", "Datagram"),
    text = ProtoField.string("kxa.text", "Text"),
    -- search
    search_marker = ProtoField.string("kxa.search.marker", "Family marker"),
    search_part_one = ProtoField.none("kxa.search.part_one", "Part one"),
    search_part_two = ProtoField.none("kxa.search.part_two", "Part two"),
    search_device_id = ProtoField.string("kxa.search.device_id", "device_id"),
    search_local_port = ProtoField.uint16("kxa.search.local_port", "local_port"),
    search_unused = ProtoField.string("kxa.search.unused", "Unused field"),
    search_device_name = ProtoField.string("kxa.search.device_name", "device_name"),
    search_part_one_rest = ProtoField.bytes("kxa.search.part_one_rest", "Rest of part one (unused)"),
    search_separator = ProtoField.bytes("kxa.search.separator", "Part separator (NUL and one byte)"),
    search_ip_address = ProtoField.string("kxa.search.ip_address", "ip_address"),
    search_subnet_mask = ProtoField.string("kxa.search.subnet_mask", "subnet_mask"),
    search_gateway = ProtoField.string("kxa.search.gateway", "gateway"),
    search_li_address = ProtoField.string("kxa.search.li_address", "li_address"),
    search_li_address_2 = ProtoField.string("kxa.search.li_address_2", "li_address_2"),
    search_dest_ip = ProtoField.string("kxa.search.dest_ip", "dest_ip"),
    family_b_name = ProtoField.string("kxa.family_b_name", "Family B device name"),
    -- tagged commands and their replies
    cmd_letters = ProtoField.string("kxa.cmd.letters", "Command letters"),
    cmd_kind = ProtoField.string("kxa.cmd.kind", "Command"),
    cmd_field = ProtoField.string("kxa.cmd.field", "Setting"),
    cmd_value = ProtoField.string("kxa.cmd.value", "Value"),
    cmd_tag = ProtoField.string("kxa.cmd.tag", "Tag"),
    reply_verdict = ProtoField.string("kxa.reply.verdict", "Verdict"),
    reply_value = ProtoField.string("kxa.reply.value", "Value"),
    reply_tag = ProtoField.string("kxa.reply.tag", "Tag"),
    reply_field = ProtoField.string("kxa.reply.field", "Setting"),
    reply_trailer = ProtoField.bytes("kxa.reply.trailer", "After the tag"),
    meaning = ProtoField.string("kxa.meaning", "Meaning"),
    request_in = ProtoField.framenum("kxa.request_in", "Request in frame", base.NONE, request_frame),
    -- closing byte and quick settings
    closing = ProtoField.string("kxa.closing", "Closing byte"),
    quick_letters = ProtoField.string("kxa.quick.letters", "Quick setting"),
    quick_parameter = ProtoField.string("kxa.quick.parameter", "Parameter"),
    quick_code = ProtoField.string("kxa.quick.code", "Code"),
}
kxa.fields = fa

local ea = {
    tag_mismatch = ProtoExpert.new("kxa.expert.tag_mismatch", "Reply tag does not match the pending request",
                                   expert.group.SEQUENCE, expert.severity.WARN),
    refused = ProtoExpert.new("kxa.expert.refused", "The device refused the request",
                              expert.group.RESPONSE_CODE, expert.severity.NOTE),
    oversize = ProtoExpert.new("kxa.expert.oversize", "Datagram over 256 bytes",
                               expert.group.PROTOCOL, expert.severity.ERROR),
    short_search_reply = ProtoExpert.new("kxa.expert.short_search_reply",
                                         "Search reply under 24 bytes: a broadcast search ignores it",
                                         expert.group.PROTOCOL, expert.severity.NOTE),
    name_cut = ProtoExpert.new("kxa.expert.name_cut", "Device name longer than the host keeps",
                               expert.group.PROTOCOL, expert.severity.NOTE),
    not_a_number = ProtoExpert.new("kxa.expert.not_a_number", "Port field is not a decimal number",
                                   expert.group.PROTOCOL, expert.severity.WARN),
}
kxa.experts = ea

-- The request each host has pending, by host address, and what it was when
-- each reply was first dissected (by frame number): later passes and other
-- orders of display see the same pairing.
local pending_a, reply_context_a

local function reset_a()
    pending_a, reply_context_a = {}, {}
end
reset_a()
kxa.init = reset_a

-- A tagged command: letters, argument, "|" and two upper-case hex digits.
local function split_tagged_a(text)
    local body, tag = text:match("^(.-)|([0-9A-F][0-9A-F])$")
    if not body or body == "" then return nil end
    return body, tag
end

-- Letters, kind, setting letters and argument of a tagged command's body.
local function classify_command_a(body)
    local first = body:sub(1, 1)
    if first == "W" then return "W", "selection", nil, body:sub(2) end
    if first == "L" then return "L", "login", nil, body:sub(2) end
    if body == "V" or body == "T" then return body, "get", body, "" end
    if #body >= 3 then
        local letters = body:sub(2, 3)
        if first == "G" and setting_fields_a[letters] then return body:sub(1, 3), "get", letters, body:sub(4) end
        if first == "S" and setting_fields_a[letters] then return body:sub(1, 3), "set", letters, body:sub(4) end
    end
    return first, "unknown", nil, body:sub(2)
end

local function dissect_search_reply_a(tvb, tree, pinfo, raw)
    tree:add(fa.kind, tvb(0, 1), "Search reply")
    tree:add(fa.search_marker, tvb(0, 1), "A"):append_text(" (family A device)")
    local length = #raw
    if length < 24 then
        tree:add_proto_expert_info(ea.short_search_reply)
    end
    local part_one = tree:add(fa.search_part_one, tvb(0, length))
    local at = 1
    -- Part one fields end at '/' or at the end of the datagram, NULs included.
    local function next_field()
        local start = math.min(at, length)
        local slash = raw:find("/", start + 1, true)
        local stop = slash and slash - 1 or length
        at = stop + 1
        return start, stop - start
    end
    local s, n = next_field()
    local id_text = printable(raw:sub(s + 1, s + n))
    add_text(part_one, fa.search_device_id, tvb, s, n, id_text)
    s, n = next_field()
    local port_text = raw:sub(s + 1, s + n)
    local port = 0
    for i = 1, #port_text do
        local c = port_text:byte(i)
        if c >= 128 then c = c - 256 end
        port = (port * 10 + (c - 48)) % 65536
    end
    local port_item = add_text(part_one, fa.search_local_port, tvb, s, n, port)
    if not port_text:match("^%d*$") then
        port_item:add_proto_expert_info(ea.not_a_number)
    end
    for _ = 3, 5 do
        s, n = next_field()
        add_text(part_one, fa.search_unused, tvb, s, n, printable(raw:sub(s + 1, s + n)))
    end
    s, n = next_field()
    local name = raw:sub(s + 1, s + n)
    local name_item = add_text(part_one, fa.search_device_name, tvb, s, n, cstring(name))
    if #name > 9 then
        name_item:add_proto_expert_info(ea.name_cut, "The host keeps the first 9 characters of the name")
    end

    local nul = raw:find("\0", 1, true)
    if at < length and (not nul or at < nul - 1) then
        local rest = (nul and nul - 1 or length) - at
        if rest > 0 then part_one:add(fa.search_part_one_rest, tvb(at, rest)) end
    end
    local info = "Search reply " .. id_text .. " " .. printable(cstring(name))
    if nul then
        local sep = math.min(2, length - (nul - 1))
        tree:add(fa.search_separator, tvb(nul - 1, sep))
        local part_two = tree:add(fa.search_part_two, tvb(nul - 1, length - (nul - 1)))
        at = nul + 1
        local fields = { fa.search_ip_address, fa.search_subnet_mask, fa.search_gateway,
                         fa.search_li_address, fa.search_li_address_2, fa.search_dest_ip }
        for i, field in ipairs(fields) do
            s, n = next_field()
            local value = printable(raw:sub(s + 1, s + n))
            add_text(part_two, field, tvb, s, n, value)
            if i == 1 then info = info .. " at " .. value end
        end
    end
    pinfo.cols.info:set(info)
end

local function dissect_request_a(tvb, tree, pinfo, host)
    local raw = tvb:raw()
    local length = #raw
    tree:add(fa.text, tvb(), printable(raw))
    if raw == "X" then
        tree:add(fa.kind, tvb(), "Search request")
        pinfo.cols.info:set("Search request X")
        pending_a[host] = { kind = "search", frame = pinfo.number }
        return
    end
    if raw == "O" or raw == "E" then
        tree:add(fa.kind, tvb(), "Closing byte")
        local meaning = raw == "E" and "ends a write whose every set command was accepted"
            or "ends the conversation; alone, it is the logout"
        tree:add(fa.closing, tvb(), raw):append_text(" (" .. meaning .. ")")
        pinfo.cols.info:set("Closing byte " .. raw .. " (" .. meaning .. ")")
        pending_a[host] = nil
        return
    end
    local quick = raw:match("^P([BP][BR])(.)$")
    if quick and (quick == "BR" or quick == "PR" or quick == "BB") then
        local digit = printable(raw:sub(4, 4))
        tree:add(fa.kind, tvb(), "Quick setting")
        tree:add(fa.quick_letters, tvb(0, 3), raw:sub(1, 3))
        local parameter, meaning
        if quick == "BR" then
            parameter = "baud rate"
            local rate = baud_codes_a[digit]
            meaning = rate and (rate .. " baud") or "unknown code"
        elseif quick == "PR" then
            parameter, meaning = "parity", "device parity code " .. digit
        else
            parameter, meaning = "data bits", digit == "0" and "7 data bits" or "8 data bits"
        end
        tree:add(fa.quick_parameter, tvb(0, 3), parameter)
        tree:add(fa.quick_code, tvb(3, 1), digit):append_text(" (" .. meaning .. ")")
        tree:add(fa.meaning, tvb(3, 1), meaning):set_generated()
        pinfo.cols.info:set("Quick setting " .. printable(raw) .. ": " .. parameter .. ", " .. meaning)
        pending_a[host] = { kind = "quick", frame = pinfo.number, text = raw }
        return
    end
    local body, tag = split_tagged_a(raw)
    if not body then
        tree:add(fa.kind, tvb(), "Unknown request")
        pinfo.cols.info:set("Unknown request " .. printable(raw))
        return
    end
    local letters, kind, setting, argument = classify_command_a(body)
    argument = printable(argument)
    tree:add(fa.kind, tvb(), "Command")
    tree:add(fa.cmd_letters, tvb(0, #letters), letters)
    local field = setting and setting_fields_a[setting]
    local kind_text = ({ selection = "selection of one device", login = "login",
                         get = "get", set = "set", unknown = "unknown command" })[kind]
    local kind_item = tree:add(fa.cmd_kind, tvb(0, #letters), kind)
    if kind == "selection" then kind_item:append_text(" (names the one device that takes part)") end
    if field then tree:add(fa.cmd_field, tvb(0, #letters), field) end
    local value_start, value_length = #letters, length - 3 - #letters
    if kind ~= "get" or value_length > 0 then
        local what = ({ selection = "device_id_text", login = "password" })[kind]
        local value_item = add_text(tree, fa.cmd_value, tvb, value_start, value_length, argument)
        if what then value_item:append_text(" (" .. (argument == "" and "empty " or "") .. what .. ")") end
        local meaning = kind == "set" and value_meaning_a(setting, argument)
        if meaning then tree:add(fa.meaning, tvb(value_start, math.max(value_length, 0)), meaning):set_generated() end
    end
    tree:add(fa.cmd_tag, tvb(length - 2, 2), tag)
    local info = "Command " .. printable(raw) .. " (" .. kind_text .. (field and (" " .. field) or "") .. ")"
    pinfo.cols.info:set(info)
    pending_a[host] = { kind = "command", frame = pinfo.number, text = raw, tag = tag,
                        setting = setting, command_kind = kind }
end

local function dissect_reply_a(tvb, tree, pinfo, host)
    local raw = tvb:raw()
    local length = #raw
    local context = reply_context_a[pinfo.number]
    if context == nil then
        context = pending_a[host] or false
        reply_context_a[pinfo.number] = context
    end
    tree:add(fa.text, tvb(), printable(raw))
    if context then
        tree:add(fa.request_in, context.frame):set_generated()
    end

    if raw:sub(1, 2) == "Q7" then
        tree:add(fa.kind, tvb(), "Family B device answering the search")
        tree:add(fa.search_marker, tvb(0, 2), "Q7"):append_text(" (family B device)")
        if length > 2 then tree:add(fa.family_b_name, tvb(2, length - 2), cstring(raw:sub(3))) end
        pinfo.cols.info:set("Search answer from a family B device " .. printable(raw))
        return
    end

    local text = cstring(raw) -- matching looks at the text up to its first NUL
    local pending_command = context and context.kind == "command"
    local searching = context and context.kind == "search"
    local tagged_tail = raw:match("|[0-9A-F][0-9A-F]$")
    local looks_like_search = raw:sub(1, 1) == "A" and raw:find("/", 1, true)
    if not tagged_tail and (searching or (looks_like_search and not pending_command)) then
        if raw:sub(1, 1) == "A" then
            dissect_search_reply_a(tvb, tree, pinfo, raw)
        else
            tree:add(fa.kind, tvb(), "Unrecognised search answer")
            tree:add(fa.search_marker, tvb(0, 1), printable(raw:sub(1, 1)))
                :append_text(" (neither A nor Q7: the host records family 255)")
            pinfo.cols.info:set("Unrecognised search answer " .. printable(raw))
        end
        return
    end
    if not tagged_tail and not pending_command then
        -- The answer to a quick setting: its first byte alone decides.
        tree:add(fa.kind, tvb(), "Quick setting reply")
        local verdict = raw:sub(1, 1)
        local accepted = verdict == "A"
        local item = length > 0 and tree:add(fa.reply_verdict, tvb(0, 1), verdict)
            or tree:add(fa.reply_verdict, "")
        item:append_text(accepted and " (accepted)" or (length == 0 and " (empty: the host counts it as no reply)" or " (refused)"))
        if not accepted and length > 0 then item:add_proto_expert_info(ea.refused) end
        pinfo.cols.info:set("Quick setting reply " .. printable(raw) .. (accepted and " (accepted)" or " (refused)"))
        return
    end

    tree:add(fa.kind, tvb(), "Command reply")
    local verdict = raw:sub(1, 1)
    local accepted = verdict == "A"
    local verdict_item = tree:add(fa.reply_verdict, tvb(0, 1), verdict)
    verdict_item:append_text(accepted and " (accepted)" or " (refused)")
    if not accepted then verdict_item:add_proto_expert_info(ea.refused) end
    -- The value runs from the second byte to the first '|'.
    local bar = raw:find("|", 2, true)
    local value_end = bar and bar - 1 or length
    local value = printable(raw:sub(2, value_end))
    local setting = pending_command and context.command_kind == "get" and context.setting or nil
    if setting then tree:add(fa.reply_field, tvb(0, 1), setting_fields_a[setting]):set_generated() end
    if value_end >= 2 or (setting and accepted) then
        add_text(tree, fa.reply_value, tvb, 1, value_end - 1, value)
        local meaning = setting and value_meaning_a(setting, value)
        if meaning then tree:add(fa.meaning, tvb(1, math.max(value_end - 1, 0)), meaning):set_generated() end
    end
    local tag_item, reply_tag
    if tagged_tail then
        reply_tag = raw:sub(-2)
        tag_item = tree:add(fa.reply_tag, tvb(length - 2, 2), reply_tag)
    elseif bar and bar + 2 <= length then
        reply_tag = printable(raw:sub(bar + 1, bar + 2))
        tag_item = tree:add(fa.reply_tag, tvb(bar, 2), reply_tag)
        if bar + 2 < length then tree:add(fa.reply_trailer, tvb(bar + 2, length - bar - 2)) end
    end
    local info = "Reply " .. printable(raw) .. (accepted and " (accepted)" or " (refused)")
    if setting and accepted then info = info .. ": " .. setting_fields_a[setting] .. " = " .. value end
    if pending_command then
        if text:find("|" .. context.tag, 1, true) then
            -- Answered: the host moves on and takes nothing more for it.
            if pending_a[host] == context then pending_a[host] = nil end
        else
            local item = tag_item or verdict_item
            local message
            if raw:find("|" .. context.tag, 1, true) then
                message = string.format("Tag %s of the pending request %s (frame %d) lies after a NUL byte, "
                    .. "and the host looks only before it: it drops this reply", context.tag,
                    printable(context.text), context.frame)
            else
                message = string.format("Reply tag %s does not match tag %s of the pending request %s (frame %d): "
                    .. "the host drops this reply", reply_tag or "none", context.tag,
                    printable(context.text), context.frame)
            end
            item:add_proto_expert_info(ea.tag_mismatch, message)
            info = info .. " [tag mismatch]"
        end
    end
    pinfo.cols.info:set(info)
end

local function dissect_a(tvb, pinfo, tree)
    pinfo.cols.protocol:set("KXA")
    local subtree = tree:add(kxa, tvb())
    add_oversize_check(subtree, tvb, ea.oversize)
    if pinfo.dst_port == DEVICE_PORT_A then
        dissect_request_a(tvb, subtree, pinfo, tostring(pinfo.src))
    else
        dissect_reply_a(tvb, subtree, pinfo, tostring(pinfo.dst))
    end
    return tvb:len()
end

function kxa.dissector(tvb, pinfo, tree)
    return dissect_a(tvb, pinfo, tree)
end

---------------------------------------------------------------------------
-- Family B: binary packets
---------------------------------------------------------------------------

local kxb = Proto("kxb", "kxconf family B")

local SHORT_SIZE = 36
local SETTINGS_SIZE = 158

local opcode_labels_b = {
    [1] = "search", [5] = "write settings", [7] = "write confirmation",
    [9] = "serial-line settings", [11] = "read settings, unicast", [13] = "read settings, broadcast",
    [15] = "login, broadcast", [17] = "login, unicast", [19] = "logout, broadcast",
    [21] = "logout, unicast",
}
local request_names_b = {
    [1] = "Search request", [5] = "Write settings request", [7] = "Write confirmation",
    [9] = "Serial-line settings request", [11] = "Read settings request (unicast)",
    [13] = "Read settings request (broadcast)", [15] = "Login request (broadcast)",
    [17] = "Login request (unicast)", [19] = "Logout request (broadcast)",
    [21] = "Logout request (unicast)",
}
-- The replies named by the request they answer.
local reply_names_b = {
    [1] = "Search reply", [5] = "Write reply", [7] = "Write confirmation reply",
    [9] = "Serial-line settings reply", [11] = "Read settings reply", [13] = "Read settings reply",
    [15] = "Login reply", [17] = "Login reply",
}
local sequenced_b = { [11] = true, [13] = true, [15] = true, [17] = true }
local crc_status = { [0] = "Bad", [1] = "Good" }

local fb = {
    kind = ProtoField.string("kxb.type", "Packet"),
    marker = ProtoField.uint8("kxb.marker", "Marker", base.HEX),
    sequence = ProtoField.uint8("kxb.sequence", "Sequence byte", base.HEX),
    opcode = ProtoField.uint8("kxb.opcode", "Opcode", base.DEC),
    family = ProtoField.uint8("kxb.settings.family", "family", base.DEC),
    device_id = ProtoField.string("kxb.device_id", "device_id"),
    device_id_scrambled = ProtoField.bytes("kxb.device_id.scrambled", "device_id as sent (XOR 0xC5)"),
    serial_block = ProtoField.none("kxb.serial", "Serial-line settings block (all ones: unchanged)"),
    serial_baud_hundreds = ProtoField.uint16("kxb.serial.baud_hundreds", "Baud rate / 100", base.DEC),
    serial_data_bits = ProtoField.uint8("kxb.serial.data_bits", "Data bits", base.DEC),
    serial_parity = ProtoField.uint8("kxb.serial.parity", "Parity code", base.DEC),
    serial_reserved = ProtoField.uint8("kxb.serial.reserved", "Reserved", base.HEX),
    password = ProtoField.string("kxb.password", "password"),
    crc = ProtoField.uint16("kxb.crc", "CRC-16", base.HEX),
    crc_computed = ProtoField.uint16("kxb.crc.computed", "CRC-16 computed", base.HEX),
    crc_status = ProtoField.uint8("kxb.crc.status", "CRC-16 status", base.DEC, crc_status),
    request_in = ProtoField.framenum("kxb.request_in", "Request in frame", base.NONE, request_frame),
    verdict = ProtoField.string("kxb.verdict", "Verdict"),
    -- settings, unscrambled; names as in the settings record
    settings = ProtoField.none("kxb.settings", "Settings (unscrambled, XOR 0xC5)"),
    s_device_id = ProtoField.string("kxb.settings.device_id", "device_id"),
    s_device_name = ProtoField.string("kxb.settings.device_name", "device_name"),
    s_firmware_version = ProtoField.string("kxb.settings.firmware_version", "firmware_version"),
    s_ip_address = ProtoField.ipv4("kxb.settings.ip_address", "ip_address"),
    s_subnet_mask = ProtoField.ipv4("kxb.settings.subnet_mask", "subnet_mask"),
    s_gateway = ProtoField.ipv4("kxb.settings.gateway", "gateway"),
    s_local_port = ProtoField.uint16("kxb.settings.local_port", "local_port", base.DEC),
    s_rm_value = ProtoField.uint8("kxb.settings.rm_value", "rm_value", base.DEC),
    s_dhcp_enabled = ProtoField.uint8("kxb.settings.dhcp_enabled", "dhcp_enabled", base.DEC),
    s_dest_ip = ProtoField.ipv4("kxb.settings.dest_ip", "dest_ip"),
    s_dest_port = ProtoField.uint16("kxb.settings.dest_port", "dest_port", base.DEC),
    s_tp_value = ProtoField.uint8("kxb.settings.tp_value", "tp_value", base.DEC),
    s_ww_flag = ProtoField.uint8("kxb.settings.ww_flag", "ww_flag", base.DEC),
    s_dd_flag = ProtoField.uint8("kxb.settings.dd_flag", "dd_flag", base.DEC),
    s_li_address = ProtoField.ipv4("kxb.settings.li_address", "li_address"),
    s_li_address_2 = ProtoField.ipv4("kxb.settings.li_address_2", "li_address_2"),
    s_dw_text = ProtoField.string("kxb.settings.dw_text", "dw_text"),
    s_ml_value = ProtoField.uint16("kxb.settings.ml_value", "ml_value", base.DEC),
    s_md_value = ProtoField.uint8("kxb.settings.md_value", "md_value", base.DEC),
    s_keep_alive = ProtoField.uint8("kxb.settings.keep_alive", "keep_alive", base.DEC),
    s_baud_hundreds = ProtoField.uint16("kxb.settings.baud_hundreds", "baud_hundreds", base.DEC),
    s_baud_rate = ProtoField.uint32("kxb.settings.baud_rate", "baud_rate", base.DEC),
    s_data_bits = ProtoField.uint8("kxb.settings.data_bits", "data_bits", base.DEC),
    s_parity = ProtoField.uint8("kxb.settings.parity", "parity", base.DEC),
    s_stop_bits = ProtoField.uint8("kxb.settings.stop_bits", "stop_bits", base.DEC),
    s_flow_control = ProtoField.uint8("kxb.settings.flow_control", "flow_control", base.DEC),
    s_on_text = ProtoField.string("kxb.settings.on_text", "on_text"),
    s_password = ProtoField.string("kxb.settings.password", "password"),
    s_reserved = ProtoField.bytes("kxb.settings.reserved", "Reserved"),
}
kxb.fields = fb

local eb = {
    bad_crc = ProtoExpert.new("kxb.expert.bad_crc", "Bad CRC-16",
                              expert.group.CHECKSUM, expert.severity.ERROR),
    sequence_mismatch = ProtoExpert.new("kxb.expert.sequence_mismatch",
                                        "Sequence byte does not echo the pending request's",
                                        expert.group.SEQUENCE, expert.severity.WARN),
    wrong_opcode = ProtoExpert.new("kxb.expert.wrong_opcode", "Reply opcode the host does not accept",
                                   expert.group.RESPONSE_CODE, expert.severity.WARN),
    refused = ProtoExpert.new("kxb.expert.refused", "Login refused",
                              expert.group.RESPONSE_CODE, expert.severity.NOTE),
    short = ProtoExpert.new("kxb.expert.short", "Datagram too short for its packet",
                            expert.group.MALFORMED, expert.severity.WARN),
    length = ProtoExpert.new("kxb.expert.length", "Request of an unexpected length",
                             expert.group.MALFORMED, expert.severity.WARN),
    unknown_opcode = ProtoExpert.new("kxb.expert.unknown_opcode", "Unknown request opcode",
                                     expert.group.PROTOCOL, expert.severity.WARN),
    oversize = ProtoExpert.new("kxb.expert.oversize", "Datagram over 256 bytes",
                               expert.group.PROTOCOL, expert.severity.ERROR),
}
kxb.experts = eb

local pending_b, reply_context_b

local function reset_b()
    pending_b, reply_context_b = {}, {}
end
reset_b()
kxb.init = reset_b

local function id_text(bytes)
    local parts = {}
    for i = 1, #bytes do parts[i] = tostring(bytes[i]) end
    return table.concat(parts, ".")
end

-- The six identifier bytes at offset of tvb, unscrambled.
local function add_device_id_b(tree, tvb, offset)
    local id = {}
    for i = 0, 5 do id[i + 1] = bxor(tvb(offset + i, 1):uint(), SCRAMBLE_KEY) end
    local text = id_text(id)
    local item = tree:add(fb.device_id, tvb(offset, 6), text)
    item:add(fb.device_id_scrambled, tvb(offset, 6))
    return text
end

-- Text of a fixed-width field, up to its first NUL.
local function add_fixed_text(tree, field, tvb, offset, width)
    return tree:add(field, tvb(offset, width), cstring(tvb(offset, width):raw()))
end

-- Unscrambles packet bytes 12..155 into a tab of their own and names every
-- field of the settings record in it.
local function dissect_settings_b(tvb, tree)
    local clear = ByteArray.new()
    clear:set_size(144)
    for i = 0, 143 do clear:set_index(i, bxor(tvb(12 + i, 1):uint(), SCRAMBLE_KEY)) end
    local payload = clear:tvb("Unscrambled settings")
    local settings = tree:add(fb.settings, tvb(12, 144))

    local id = {}
    for i = 0, 5 do id[i + 1] = payload(i, 1):uint() end
    settings:add(fb.s_device_id, payload(0, 6), id_text(id))
    settings:add(fb.s_reserved, payload(6, 2))
    add_fixed_text(settings, fb.s_device_name, payload, 8, 10)
    settings:add(fb.s_reserved, payload(18, 6))
    add_fixed_text(settings, fb.s_firmware_version, payload, 24, 16)
    settings:add(fb.s_ip_address, payload(40, 4))
    settings:add(fb.s_subnet_mask, payload(44, 4))
    settings:add(fb.s_gateway, payload(48, 4))
    settings:add(fb.s_local_port, payload(52, 2))
    settings:add(fb.s_rm_value, payload(54, 1))
    settings:add(fb.s_dhcp_enabled, payload(55, 1))
    settings:add(fb.s_dest_ip, payload(56, 4))
    settings:add(fb.s_dest_port, payload(60, 2))
    settings:add(fb.s_tp_value, payload(62, 1))
    settings:add(fb.s_ww_flag, payload(63, 1))
    settings:add(fb.s_dd_flag, payload(64, 1))
    settings:add(fb.s_reserved, payload(65, 3))
    settings:add(fb.s_li_address, payload(68, 4))
    settings:add(fb.s_li_address_2, payload(72, 4))
    add_fixed_text(settings, fb.s_dw_text, payload, 76, 30)
    settings:add(fb.s_reserved, payload(106, 6))
    settings:add_le(fb.s_ml_value, payload(112, 2))
    settings:add(fb.s_md_value, payload(114, 1))
    settings:add(fb.s_keep_alive, payload(115, 1))
    local hundreds = payload(116, 2):le_uint()
    settings:add_le(fb.s_baud_hundreds, payload(116, 2))
    settings:add(fb.s_baud_rate, payload(116, 2), hundreds * 100):set_generated()
    settings:add(fb.s_reserved, payload(118, 2))
    settings:add(fb.s_data_bits, payload(120, 1))
    settings:add(fb.s_parity, payload(121, 1))
    settings:add(fb.s_stop_bits, payload(122, 1))
    settings:add(fb.s_flow_control, payload(123, 1))
    add_fixed_text(settings, fb.s_on_text, payload, 124, 10)
    add_fixed_text(settings, fb.s_password, payload, 134, 10)
    return id_text(id), cstring(payload(8, 10):raw())
end

local function dissect_serial_block_b(tvb, tree)
    local block = tree:add(fb.serial_block, tvb(18, 6))
    local parts = {}
    local hundreds = tvb(18, 2):le_uint()
    local item = block:add_le(fb.serial_baud_hundreds, tvb(18, 2))
    if hundreds == 0xFFFF then
        item:append_text(" (unchanged)")
    else
        item:append_text(" (" .. hundreds * 100 .. " baud)")
        parts[#parts + 1] = hundreds * 100 .. " baud"
    end
    local data_bits = tvb(20, 1):uint()
    item = block:add(fb.serial_data_bits, tvb(20, 1))
    if data_bits == 0xFF then item:append_text(" (unchanged)") else parts[#parts + 1] = data_bits .. " data bits" end
    block:add(fb.serial_reserved, tvb(21, 1))
    local parity = tvb(22, 1):uint()
    item = block:add(fb.serial_parity, tvb(22, 1))
    if parity == 0xFF then item:append_text(" (unchanged)") else parts[#parts + 1] = "parity " .. parity end
    block:add(fb.serial_reserved, tvb(23, 1))
    return #parts > 0 and table.concat(parts, ", ") or "nothing changed"
end

local function add_crc_b(tvb, tree)
    local length = tvb:len()
    local sent = tvb(length - 2, 2):le_uint()
    local computed = crc16(tvb, length - 2)
    local good = sent == computed
    local item = tree:add_le(fb.crc, tvb(length - 2, 2))
    item:append_text(good and " [good]" or string.format(" [bad, should be 0x%04x]", computed))
    item:add(fb.crc_computed, tvb(length - 2, 2), computed):set_generated()
    local status = item:add(fb.crc_status, tvb(length - 2, 2), good and 1 or 0)
    status:set_generated()
    if not good then
        status:add_proto_expert_info(eb.bad_crc, string.format(
            "Bad CRC-16: 0x%04x sent, 0x%04x computed; the receiver drops the packet", sent, computed))
    end
    return good
end

local function dissect_request_b(tvb, tree, pinfo, host)
    local length = tvb:len()
    if length < 9 then
        tree:add(fb.kind, tvb(), "Unknown request")
        tree:add_proto_expert_info(eb.short, "Too short to carry an opcode")
        pinfo.cols.info:set("Request too short (" .. length .. " bytes)")
        return
    end
    local opcode = tvb(8, 1):uint()
    local name = request_names_b[opcode]
    name = name or "Unknown request"
    tree:add(fb.kind, tvb(8, 1), name)
    local info = name
    local marker_item = tree:add(fb.marker, tvb(0, 1))
    if tvb(0, 1):uint() == 0xFF then marker_item:append_text(" (request marker)") end
    local sequence = tvb(7, 1):uint()
    tree:add(fb.sequence, tvb(7, 1))
    local op_item = tree:add(fb.opcode, tvb(8, 1))
    op_item:append_text(" (" .. (opcode_labels_b[opcode] or "unknown") .. ")")
    local known = request_names_b[opcode] ~= nil
    if not known then op_item:add_proto_expert_info(eb.unknown_opcode) end
    local wanted = opcode == 5 and SETTINGS_SIZE or SHORT_SIZE
    if known and length ~= wanted then
        tree:add_proto_expert_info(eb.length, string.format("%s of %d bytes; it is %d bytes long",
                                                            name, length, wanted))
    end
    if opcode == 5 and length >= 156 then
        tree:add(fb.family, tvb(9, 1))
        local id, device_name = dissect_settings_b(tvb, tree)
        info = info .. " for " .. id .. " " .. printable(device_name)
    elseif length >= SHORT_SIZE then
        if opcode == 7 or opcode == 11 or opcode == 13 or opcode == 15 or opcode == 17
            or opcode == 19 or opcode == 21 then
            info = info .. " " .. add_device_id_b(tree, tvb, 12)
        end
        if opcode == 9 then info = info .. ": " .. dissect_serial_block_b(tvb, tree) end
        if opcode == 15 or opcode == 17 then add_fixed_text(tree, fb.password, tvb, 24, 10) end
    end
    if sequenced_b[opcode] then info = info .. string.format(", sequence 0x%02x", sequence) end
    if length >= 2 and not add_crc_b(tvb, tree) then info = info .. " [bad CRC]" end
    pinfo.cols.info:set(info)
    pending_b[host] = { opcode = opcode, sequence = sequence, frame = pinfo.number }
end

local function dissect_reply_b(tvb, tree, pinfo, host)
    local length = tvb:len()
    local context = reply_context_b[pinfo.number]
    if context == nil then
        context = pending_b[host] or false
        reply_context_b[pinfo.number] = context
    end
    local request = context and context.opcode
    local name = request and reply_names_b[request]
    if not name then
        -- No request seen: name it by its shape.
        if length >= 156 then
            name = (length >= 9 and tvb(8, 1):uint() == 11) and "Read settings reply" or "Settings packet"
        else
            name = "Reply"
        end
    end
    tree:add(fb.kind, tvb(0, math.min(length, 1)), name)
    if context then tree:add(fb.request_in, context.frame):set_generated() end
    local info = name
    if length < 10 then
        tree:add_proto_expert_info(eb.short, "Too short to carry bytes 7 and 8 and a CRC")
        pinfo.cols.info:set(info .. " (" .. length .. " bytes)")
        if length >= 2 then add_crc_b(tvb, tree) end
        return
    end
    tree:add(fb.marker, tvb(0, 1))
    local sequence = tvb(7, 1):uint()
    local seq_item = tree:add(fb.sequence, tvb(7, 1))
    local opcode = tvb(8, 1):uint()
    local op_item = tree:add(fb.opcode, tvb(8, 1))
    if context and sequenced_b[request] and sequence ~= context.sequence then
        seq_item:add_proto_expert_info(eb.sequence_mismatch, string.format(
            "Sequence byte 0x%02x does not echo 0x%02x of the pending request (frame %d): the host skips it",
            sequence, context.sequence, context.frame))
        info = info .. " [sequence mismatch]"
    end
    if request == 15 or request == 17 then
        local accepted = opcode == 17
        op_item:append_text(accepted and " (login accepted)" or " (login refused)")
        tree:add(fb.verdict, tvb(8, 1), accepted and "accepted" or "refused")
        if not accepted then op_item:add_proto_expert_info(eb.refused) end
        info = info .. (accepted and ": accepted" or ": refused")
    elseif request == 1 then
        op_item:append_text(" (not examined in a search reply)")
    elseif request == 11 or request == 13 then
        if opcode == 11 then
            op_item:append_text(" (read settings reply)")
        else
            op_item:add_proto_expert_info(eb.wrong_opcode, "A read settings reply carries opcode 11; the host gives up")
        end
    end
    if length >= 156 then
        tree:add(fb.family, tvb(9, 1))
        local id, device_name = dissect_settings_b(tvb, tree)
        info = info .. " " .. id .. " " .. printable(device_name)
    elseif length >= SHORT_SIZE then
        add_device_id_b(tree, tvb, 12)
    end
    if sequenced_b[request] then info = info .. string.format(", sequence 0x%02x", sequence) end
    if not add_crc_b(tvb, tree) then info = info .. " [bad CRC]" end
    pinfo.cols.info:set(info)
end

local function dissect_b(tvb, pinfo, tree)
    pinfo.cols.protocol:set("KXB")
    local subtree = tree:add(kxb, tvb())
    add_oversize_check(subtree, tvb, eb.oversize)
    if pinfo.dst_port == DEVICE_PORT_B then
        dissect_request_b(tvb, subtree, pinfo, tostring(pinfo.src))
    else
        dissect_reply_b(tvb, subtree, pinfo, tostring(pinfo.dst))
    end
    return tvb:len()
end

function kxb.dissector(tvb, pinfo, tree)
    return dissect_b(tvb, pinfo, tree)
end

---------------------------------------------------------------------------
-- The families: one line each, its device port, protocol and dissector.
-- Every family meets the others at the host port, told apart by its
-- device port.
---------------------------------------------------------------------------

local families = {
    { port = DEVICE_PORT_A, proto = kxa, dissect = dissect_a },
    { port = DEVICE_PORT_B, proto = kxb, dissect = dissect_b },
}

local kxconf = Proto("kxconf", "kxconf host port")

function kxconf.dissector(tvb, pinfo, tree)
    for _, family in ipairs(families) do
        if pinfo.src_port == family.port or pinfo.dst_port == family.port then
            return family.dissect(tvb, pinfo, tree)
        end
    end
    return 0
end

local udp_port = DissectorTable.get("udp.port")
for _, family in ipairs(families) do
    udp_port:add(family.port, family.proto)
end
udp_port:add(HOST_PORT, kxconf)
