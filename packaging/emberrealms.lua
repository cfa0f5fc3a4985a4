-- EmberRealms game messages for Wireshark and tshark: the thirteen messages the server and its
-- players exchange inside DirectPlay 8 data frames. The DirectPlay 8 dissector ("dpnet")
-- shows the transport; this one, on the game's UDP port (preference "emberrealms.port",
-- 25857 by default), then reads each whole message a data frame carries, coalesced ones
-- included, and names every field. Names and texts are decoded from Windows-1252.

local proto = Proto("emberrealms", "EmberRealms game message")

local kTypes = {
    [2] = "PlayerJoined", [3] = "PlayerLeft", [4] = "Welcome", [5] = "PlayerMoving",
    [6] = "PlayerStopped", [7] = "RateSettings", [8] = "PlayerTag", [9] = "Chat",
    [10] = "SkyWeather", [11] = "NpcText", [14] = "NpcSay", [15] = "NearbyPlayers",
    [16] = "NpcUpdate",
}

local f = proto.fields
f.type = ProtoField.uint32("emberrealms.type", "Type", base.DEC, kTypes)
f.player = ProtoField.uint32("emberrealms.player", "Player", base.HEX)
f.name = ProtoField.string("emberrealms.name", "Name")
f.you = ProtoField.uint32("emberrealms.you", "You", base.HEX)
f.update_rate = ProtoField.float("emberrealms.update_rate", "Update rate")
f.message_timeout = ProtoField.float("emberrealms.message_timeout", "Message time-out (ms)")
f.report_x = ProtoField.float("emberrealms.report.x", "X")
f.report_y = ProtoField.float("emberrealms.report.y", "Y")
f.client_byte = ProtoField.uint8("emberrealms.client_byte", "Client byte")
f.client_word = ProtoField.uint32("emberrealms.client_word", "Client word")
f.tag = ProtoField.uint32("emberrealms.tag", "Tag")
f.sender = ProtoField.uint32("emberrealms.sender", "Sender", base.HEX)
f.text = ProtoField.string("emberrealms.text", "Text")
f.sky = ProtoField.uint32("emberrealms.sky", "Sky colour (0x00BBGGRR)", base.HEX)
f.rain = ProtoField.float("emberrealms.rain", "Rain volume")
f.lightning = ProtoField.uint32("emberrealms.lightning", "Lightning")
f.entry = ProtoField.uint32("emberrealms.npctext.entry", "Entry")
f.npc = ProtoField.uint32("emberrealms.npc", "NPC slot")
f.links = ProtoField.string("emberrealms.npctext.links", "Links")
f.flag = ProtoField.uint8("emberrealms.npctext.flag", "Flag")
f.link_count = ProtoField.int32("emberrealms.npctext.link_count", "Link count")
f.count = ProtoField.uint32("emberrealms.count", "Count")
f.id = ProtoField.uint32("emberrealms.entry.id", "Player or NPC", base.HEX)
f.x = ProtoField.int32("emberrealms.entry.x", "X")
f.y = ProtoField.int32("emberrealms.entry.y", "Y")
f.entry_byte = ProtoField.uint8("emberrealms.entry.byte", "Byte")
f.entry_word = ProtoField.uint32("emberrealms.entry.word", "Word")
f.moving = ProtoField.uint32("emberrealms.entry.moving", "Moving")
f.facing = ProtoField.uint32("emberrealms.entry.facing", "Facing")
f.head_facing = ProtoField.uint32("emberrealms.entry.head_facing", "Head facing")
f.action = ProtoField.uint32("emberrealms.entry.action", "Action")
f.short = ProtoField.bytes("emberrealms.short", "Shorter than its layout")

proto.prefs.port = Pref.uint("UDP port", 25857, "The game server's UDP port")

-- Windows-1252 to UTF-8.
local kHigh = { [0x80] = 0x20AC, [0x82] = 0x201A, [0x83] = 0x0192, [0x84] = 0x201E,
    [0x85] = 0x2026, [0x86] = 0x2020, [0x87] = 0x2021, [0x88] = 0x02C6, [0x89] = 0x2030,
    [0x8A] = 0x0160, [0x8B] = 0x2039, [0x8C] = 0x0152, [0x8E] = 0x017D, [0x91] = 0x2018,
    [0x92] = 0x2019, [0x93] = 0x201C, [0x94] = 0x201D, [0x95] = 0x2022, [0x96] = 0x2013,
    [0x97] = 0x2014, [0x98] = 0x02DC, [0x99] = 0x2122, [0x9A] = 0x0161, [0x9B] = 0x203A,
    [0x9C] = 0x0153, [0x9E] = 0x017E, [0x9F] = 0x0178 }

local function utf8_of(code)
    if code < 0x80 then return string.char(code) end
    if code < 0x800 then
        return string.char(0xC0 + math.floor(code / 64), 0x80 + code % 64)
    end
    return string.char(0xE0 + math.floor(code / 4096), 0x80 + math.floor(code / 64) % 64,
        0x80 + code % 64)
end

-- The zero-terminated Windows-1252 text in `range`, as UTF-8.
local function text_of(range)
    local out = {}
    for i = 0, range:len() - 1 do
        local b = range(i, 1):uint()
        if b == 0 then break end
        out[#out + 1] = utf8_of(kHigh[b] or b)
    end
    return table.concat(out)
end

local function add_text(tree, field, range)
    tree:add(field, range, text_of(range))
end

local kSizes = { [2] = 22, [3] = 22, [4] = 16, [5] = 21, [6] = 21, [7] = 12, [8] = 12,
    [9] = 8, [10] = 16, [11] = 16, [14] = 308, [15] = 8, [16] = 8 }

-- One game message in `buf`; `from_server` tells the requests from the replies.
local function dissect_message(buf, tree, from_server)
    local size = buf:len()
    if size < 4 then return end
    local kind = buf(0, 4):le_uint()
    local name = kTypes[kind] or ("type " .. kind)
    local t = tree:add(proto, buf(), "EmberRealms " .. name)
    t:add_le(f.type, buf(0, 4))
    if kSizes[kind] and size < kSizes[kind] then
        t:add(f.short, buf())
        return name
    end
    if kind == 2 or kind == 3 then
        t:add_le(f.player, buf(4, 4))
        if kind == 2 then add_text(t, f.name, buf(8, 14)) end
    elseif kind == 4 then
        t:add_le(f.you, buf(4, 4))
        t:add_le(f.update_rate, buf(8, 4))
        t:add_le(f.message_timeout, buf(12, 4))
    elseif kind == 5 or kind == 6 then
        t:add_le(f.report_x, buf(8, 4))
        t:add_le(f.report_y, buf(12, 4))
        t:add(f.client_byte, buf(16, 1))
        t:add_le(f.client_word, buf(17, 4))
    elseif kind == 7 then
        t:add_le(f.update_rate, buf(4, 4))
        t:add_le(f.message_timeout, buf(8, 4))
    elseif kind == 8 then
        if from_server then t:add_le(f.player, buf(4, 4)) end
        t:add_le(f.tag, buf(8, 4))
    elseif kind == 9 then
        if from_server then t:add_le(f.sender, buf(4, 4)) end
        if size > 8 then add_text(t, f.text, buf(8)) end
    elseif kind == 10 then
        t:add_le(f.sky, buf(4, 4))
        t:add_le(f.rain, buf(8, 4))
        t:add_le(f.lightning, buf(12, 4))
    elseif kind == 11 then
        t:add_le(f.entry, buf(8, 4))
        t:add_le(f.npc, buf(12, 4))
        if from_server and size >= 326 then
            local links = {}
            for i = 0, 4 do links[#links + 1] = tostring(buf(16 + i, 1):int()) end
            t:add(f.links, buf(16, 5), table.concat(links, ","))
            t:add(f.flag, buf(21, 1))
            t:add_le(f.link_count, buf(22, 4))
            add_text(t, f.text, buf(26, 300))
        end
    elseif kind == 14 then
        add_text(t, f.text, buf(4, 300))
        t:add_le(f.npc, buf(304, 4))
    elseif kind == 15 or kind == 16 then
        local count = buf(4, 4):le_uint()
        t:add_le(f.count, buf(4, 4))
        local width = kind == 15 and 21 or 25
        for i = 0, count - 1 do
            local at = 8 + width * i
            if at + width > size then
                t:add(f.short, buf(at))
                break
            end
            local e = t:add(proto, buf(at, width), "Entry " .. i)
            if kind == 15 then e:add_le(f.id, buf(at, 4)) else e:add_le(f.npc, buf(at, 4)) end
            e:add_le(f.x, buf(at + 4, 4))
            e:add_le(f.y, buf(at + 8, 4))
            e:add(f.entry_byte, buf(at + 12, 1))
            if kind == 15 then
                e:add_le(f.entry_word, buf(at + 13, 4))
                e:add_le(f.moving, buf(at + 17, 4))
            else
                e:add_le(f.facing, buf(at + 13, 4))
                e:add_le(f.head_facing, buf(at + 17, 4))
                e:add_le(f.action, buf(at + 21, 4))
            end
        end
    end
    return name
end

-- The DirectPlay 8 dissector has no name of its own to look it up by; it is the one on the
-- enumeration port.
local dpnet = DissectorTable.get("udp.port"):get_dissector(6073)
local kUser1 = 0x40  -- marks the session's own messages, not the game's

function proto.dissector(buf, pinfo, tree)
    if dpnet then dpnet:call(buf, pinfo, tree) end
    if buf:len() < 4 then return end
    local command, control = buf(0, 1):uint(), buf(1, 1):uint()
    if bit32.band(command, 0x01) == 0 then return end  -- not a data frame
    local whole = bit32.band(command, 0x30) == 0x30
    local at = 4
    for _, mask in ipairs({ 0x10, 0x20, 0x40, 0x80 }) do
        if bit32.band(control, mask) ~= 0 then at = at + 4 end
    end
    if bit32.band(control, 0x02) ~= 0 or at >= buf:len() or not whole then return end
    local from_server = pinfo.src_port == proto.prefs.port
    local names = {}
    if bit32.band(control, 0x04) == 0 then
        if bit32.band(command, kUser1) == 0 then
            names[#names + 1] = dissect_message(buf(at):tvb(), tree, from_server)
        end
    else
        -- Coalesced: two-byte headers (size low byte; flags with the size's top bits and the
        -- end mark), padded to four bytes, then the parts, each but the last padded.
        local parts, p = {}, at
        repeat
            if p + 2 > buf:len() then return end
            local low, flags = buf(p, 1):uint(), buf(p + 1, 1):uint()
            parts[#parts + 1] = { size = low + bit32.band(flags, 0x38) * 32, flags = flags }
            p = p + 2
        until bit32.band(flags, 0x01) ~= 0 or #parts == 32
        if #parts % 2 == 1 then p = p + 2 end
        for i, part in ipairs(parts) do
            if p + part.size > buf:len() then return end
            if bit32.band(part.flags, kUser1) == 0 and part.size > 0 then
                names[#names + 1] = dissect_message(buf(p, part.size):tvb(), tree, from_server)
            end
            p = p + part.size
            if i < #parts then p = p + (4 - part.size % 4) % 4 end
        end
    end
    if #names > 0 then
        pinfo.cols.protocol = "EmberRealms"
        pinfo.cols.info:append(" [" .. table.concat(names, ", ") .. "]")
    end
end

local registered
local function register_port()
    local udp = DissectorTable.get("udp.port")
    if registered then udp:remove(registered, proto) end
    registered = proto.prefs.port
    udp:add(registered, proto)
end
proto.prefs_changed = register_port
register_port()
