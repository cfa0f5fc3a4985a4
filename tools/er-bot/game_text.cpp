#include "game_text.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/game_messages.h"
#include "visible_text.h"

namespace er_bot {

namespace {

struct TypeInfo {
    uint32_t type;
    std::string_view name;
    size_t size;  // the layout's bytes; list messages: their header
};

constexpr std::array<TypeInfo, 13> kTypes = {{
    {kMsgPlayerJoined, "PlayerJoined", kPlayerJoinedSize},
    {kMsgPlayerLeft, "PlayerLeft", 8},  // the rest is padding
    {kMsgWelcome, "Welcome", kWelcomeSize},
    {kMsgPlayerMoving, "PlayerMoving", kPositionReportSize},
    {kMsgPlayerStopped, "PlayerStopped", kPositionReportSize},
    {kMsgRateSettings, "RateSettings", kRateSettingsSize},
    {kMsgPlayerTag, "PlayerTag", kPlayerTagSize},
    {kMsgChat, "Chat", 8},  // the text ends at its terminator or with the message
    {kMsgSkyWeather, "SkyWeather", kSkyWeatherSize},
    {kMsgNpcText, "NpcText", 26},  // the text ends at its terminator or with the message
    {kMsgNpcSay, "NpcSay", kNpcSaySize},
    {kMsgNearbyPlayers, "NearbyPlayers", kListHeaderSize},
    {kMsgNpcUpdate, "NpcUpdate", kListHeaderSize},
}};

const TypeInfo* Find(uint32_t type) {
    for (const TypeInfo& t : kTypes)
        if (t.type == type)
            return &t;
    return nullptr;
}

std::string Format(const char* format, auto... values) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, format, values...);
    return buffer;
}

std::string Id(const uint8_t* at) {
    return Format("0x%08X", GetU32(at));
}

std::string Float(const uint8_t* at) {
    return Format("%g", double(GetF32(at)));
}

std::string Int(const uint8_t* at) {
    return std::to_string(int32_t(GetU32(at)));
}

std::string Unsigned(const uint8_t* at) {
    return std::to_string(GetU32(at));
}

// A zero-terminated text field of `width` bytes starting at `offset`, cut where the message ends.
std::string Text(std::span<const uint8_t> m, size_t offset, size_t width) {
    if (offset >= m.size())
        return "\"\"";
    const auto* text = reinterpret_cast<const char*>(m.data() + offset);
    const size_t available = std::min(width, m.size() - offset);
    const void* end = std::memchr(text, '\0', available);
    const size_t length = end ? size_t(static_cast<const char*>(end) - text) : available;
    return "\"" + VisibleCp1252(std::string_view(text, length)) + "\"";
}

std::string List(std::span<const uint8_t> m, bool players) {
    const size_t entrySize = players ? kNearbyPlayerEntrySize : kNpcUpdateEntrySize;
    const uint32_t count = GetU32(&m[4]);
    const size_t room = (m.size() - kListHeaderSize) / entrySize;
    std::string line = "count=" + std::to_string(count);
    const size_t shown = std::min<size_t>({count, room, size_t(kMaxListEntries)});
    for (size_t i = 0; i < shown; ++i) {
        const uint8_t* e = &m[kListHeaderSize + entrySize * i];
        if (players) {
            line += " {player=" + Id(e) + " x=" + Int(e + 4) + " y=" + Int(e + 8) +
                    " byte=" + std::to_string(e[12]) + " word=" + Unsigned(e + 13) +
                    " moving=" + Unsigned(e + 17) + "}";
        } else {
            line += " {npc=" + Unsigned(e) + " x=" + Int(e + 4) + " y=" + Int(e + 8) +
                    " facing=" + Unsigned(e + 13) + " headFacing=" + Unsigned(e + 17) +
                    " action=" + Unsigned(e + 21) + "}";
        }
    }
    if (count > shown)
        line += " (" + std::to_string(count - shown) + " more entries than the message holds)";
    return line;
}

std::string NpcText(std::span<const uint8_t> m) {
    const int32_t linkCount = int32_t(GetU32(&m[22]));
    std::string links = "[";
    for (int i = 0; i < std::clamp(linkCount, 0, 5); ++i)
        links += (i > 0 ? "," : "") + std::to_string(int8_t(m[16 + size_t(i)]));
    return "entry=" + Unsigned(&m[8]) + " npc=" + Unsigned(&m[12]) + " links=" + links +
           "] flag=" + std::to_string(m[21]) + " linkCount=" + std::to_string(linkCount) +
           " text=" + Text(m, 26, kNpcTextReplySize - 26);
}

std::string Fields(uint32_t type, std::span<const uint8_t> m) {
    const uint8_t* p = m.data();
    switch (type) {
        case kMsgPlayerJoined:
            return "player=" + Id(p + 4) + " name=" + Text(m, 8, 14);
        case kMsgPlayerLeft:
            return "player=" + Id(p + 4);
        case kMsgWelcome:
            return "you=" + Id(p + 4) + " updateRate=" + Float(p + 8) +
                   " messageTimeout=" + Float(p + 12);
        case kMsgPlayerMoving:
        case kMsgPlayerStopped:
            return "x=" + Float(p + 8) + " y=" + Float(p + 12) + " byte=" + std::to_string(p[16]) +
                   " word=" + Unsigned(p + 17);
        case kMsgRateSettings:
            return "updateRate=" + Float(p + 4) + " messageTimeout=" + Float(p + 8);
        case kMsgPlayerTag:
            return "player=" + Id(p + 4) + " tag=" + Unsigned(p + 8);
        case kMsgChat:
            return "sender=" + Id(p + 4) + " text=" + Text(m, 8, kChatTextSize);
        case kMsgSkyWeather:
            return "sky=" + Id(p + 4) + " rain=" + Float(p + 8) + " lightning=" + Unsigned(p + 12);
        case kMsgNpcText:
            return NpcText(m);
        case kMsgNpcSay:
            return "npc=" + Unsigned(p + 304) + " text=" + Text(m, 4, 300);
        case kMsgNearbyPlayers:
            return List(m, true);
        default:  // kMsgNpcUpdate
            return List(m, false);
    }
}

}  // namespace

std::string HexBytes(std::span<const uint8_t> bytes, size_t limit) {
    std::string out;
    for (size_t i = 0; i < std::min(limit, bytes.size()); ++i)
        out += Format("%02x", bytes[i]);
    return bytes.size() > limit ? out + "..." : out;
}

std::string FormatGameMessage(std::span<const uint8_t> message) {
    const auto type = ReadMessageType(message);
    const TypeInfo* info = type ? Find(*type) : nullptr;
    const std::string bytes =
        " size=" + std::to_string(message.size()) + " bytes=" + HexBytes(message);
    if (!type)
        return "Message" + bytes;
    if (!info)
        return "Message type=" + std::to_string(*type) + bytes;
    if (message.size() < info->size)
        return std::string(info->name) + " short (" + std::to_string(info->size) +
               " bytes expected)" + bytes;
    return std::string(info->name) + " " + Fields(*type, message);
}

std::string FormatClientMessage(std::span<const uint8_t> message) {
    const auto type = ReadMessageType(message);
    if (type == kMsgPlayerTag && message.size() >= kPlayerTagSize)
        return "PlayerTag tag=" + Unsigned(&message[8]);
    if (type == kMsgChat && message.size() >= 8)
        return "Chat text=" + Text(message, 8, kChatTextSize);
    if (type == kMsgNpcText && message.size() >= kNpcTextRequestSize)
        return "NpcText entry=" + Unsigned(&message[8]) + " npc=" + Unsigned(&message[12]);
    return FormatGameMessage(message);
}

std::optional<std::string_view> MessageTypeName(uint32_t type) {
    const TypeInfo* info = Find(type);
    return info ? std::optional(info->name) : std::nullopt;
}

std::optional<uint32_t> ParseMessageType(std::string_view text) {
    for (const TypeInfo& t : kTypes) {
        if (t.name.size() == text.size() &&
            std::equal(text.begin(), text.end(), t.name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            return t.type;
    }
    uint32_t value = 0;
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + uint32_t(c - '0');
    }
    return value;
}

std::string HResultText(int32_t result) {
    static constexpr struct {
        uint32_t code;
        const char* name;
    } kNames[] = {
        {0x00000000, "S_OK"},
        {0x80004005, "E_FAIL"},
        {0x80158050, "DPNERR_ALREADYCLOSING"},
        {0x80158260, "DPNERR_HOSTREJECTEDCONNECTION"},
        {0x80158300, "DPNERR_INVALIDAPPLICATION"},
        {0x80158380, "DPNERR_INVALIDINSTANCE"},
        {0x80158390, "DPNERR_INVALIDINTERFACE"},
        {0x80158410, "DPNERR_INVALIDPASSWORD"},
        {0x80158460, "DPNERR_INVALIDVERSION"},
        {0x80158530, "DPNERR_NOTHOST"},
    };
    const uint32_t code = uint32_t(result);
    for (const auto& n : kNames)
        if (n.code == code)
            return Format("0x%08X (%s)", code, n.name);
    return Format("0x%08X", code);
}

}  // namespace er_bot
