#include "net/game_messages.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "npc/message_map_entry.h"

void PutU32(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}

void PutF32(uint8_t* at, float value) { PutU32(at, std::bit_cast<uint32_t>(value)); }

uint32_t GetU32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
           static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

float GetF32(const uint8_t* at) { return std::bit_cast<float>(GetU32(at)); }

namespace {

// Copies at most width - 1 characters of a zero-terminated text; the rest stays zero.
void PutText(uint8_t* at, std::size_t width, std::string_view text) {
    const std::size_t length = std::min(text.size(), width - 1);
    std::memcpy(at, text.data(), length);
}

std::string_view Bounded(const char* text, std::size_t limit) {
    if (text == nullptr) {
        return "";  // not {}: its null data pointer must not reach memcpy, even for no bytes
    }
    const void* end = std::memchr(text, '\0', limit);
    return {text, end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - text) : limit};
}

}  // namespace

MessageBytes<kPlayerJoinedSize> BuildPlayerJoined(DPNID player, const char* name) {
    MessageBytes<kPlayerJoinedSize> m{};
    PutU32(&m[0], kMsgPlayerJoined);
    PutU32(&m[4], player);
    PutText(&m[8], 14, Bounded(name, 14));
    return m;
}

MessageBytes<kPlayerLeftSize> BuildPlayerLeft(DPNID player) {
    MessageBytes<kPlayerLeftSize> m{};
    PutU32(&m[0], kMsgPlayerLeft);
    PutU32(&m[4], player);
    return m;
}

MessageBytes<kWelcomeSize> BuildWelcome(DPNID you, float updateRate, float messageTimeout) {
    MessageBytes<kWelcomeSize> m{};
    PutU32(&m[0], kMsgWelcome);
    PutU32(&m[4], you);
    PutF32(&m[8], updateRate);
    PutF32(&m[12], messageTimeout);
    return m;
}

MessageBytes<kRateSettingsSize> BuildRateSettings(float updateRate, float messageTimeout) {
    MessageBytes<kRateSettingsSize> m{};
    PutU32(&m[0], kMsgRateSettings);
    PutF32(&m[4], updateRate);
    PutF32(&m[8], messageTimeout);
    return m;
}

MessageBytes<kPlayerTagSize> BuildPlayerTag(DPNID player, uint32_t tag) {
    MessageBytes<kPlayerTagSize> m{};
    PutU32(&m[0], kMsgPlayerTag);
    PutU32(&m[4], player);
    PutU32(&m[8], tag);
    return m;
}

MessageBytes<kChatSize> BuildChat(DPNID sender, std::string_view text) {
    MessageBytes<kChatSize> m{};
    PutU32(&m[0], kMsgChat);
    PutU32(&m[4], sender);
    PutText(&m[8], kChatTextSize, text.substr(0, std::min(text.size(), text.find('\0'))));
    return m;
}

MessageBytes<kSkyWeatherSize> BuildSkyWeather(uint32_t skyColour, float rainVolume, uint32_t lightning) {
    MessageBytes<kSkyWeatherSize> m{};
    PutU32(&m[0], kMsgSkyWeather);
    PutU32(&m[4], skyColour);
    PutF32(&m[8], rainVolume);
    PutU32(&m[12], lightning);
    return m;
}

MessageBytes<kNpcTextReplySize> BuildNpcTextReply(uint32_t entry, uint32_t npcSlot,
                                                  const MessageMapEntry& map) {
    MessageBytes<kNpcTextReplySize> m{};
    PutU32(&m[0], kMsgNpcText);
    PutU32(&m[8], entry);
    PutU32(&m[12], npcSlot);
    // Only the links in use are sent; a count outside 0-5 sends none or all five.
    const int used = std::clamp<int>(map.linkCount, 0, kMessageLinkCount);
    for (int i = 0; i < used; ++i) {
        m[16 + static_cast<std::size_t>(i)] = static_cast<uint8_t>(map.links[i]);
    }
    m[21] = map.flag;
    PutU32(&m[22], static_cast<uint32_t>(static_cast<int32_t>(map.linkCount)));
    PutText(&m[26], kMessageTextSize, Bounded(map.text, kMessageTextSize));
    return m;
}

MessageBytes<kNpcSaySize> BuildNpcSay(const char* sayText, uint32_t npcSlot) {
    MessageBytes<kNpcSaySize> m{};
    PutU32(&m[0], kMsgNpcSay);
    PutText(&m[4], 300, Bounded(sayText, 300));
    PutU32(&m[304], npcSlot);
    return m;
}

template <std::size_t EntrySize>
ListMessage<EntrySize>::ListMessage(GameMessageType type) {
    PutU32(&buffer_[0], type);
}

template <std::size_t EntrySize>
bool ListMessage<EntrySize>::Add(uint32_t id, int32_t x, int32_t y, uint8_t byte, uint32_t word,
                                 uint32_t last, uint32_t extra) {
    if (full()) {
        return false;
    }
    uint8_t* entry = &buffer_[kListHeaderSize + EntrySize * static_cast<std::size_t>(count_)];
    PutU32(entry, id);
    PutU32(entry + 4, static_cast<uint32_t>(x));
    PutU32(entry + 8, static_cast<uint32_t>(y));
    entry[12] = byte;
    PutU32(entry + 13, word);
    PutU32(entry + 17, last);
    if constexpr (EntrySize == kNpcUpdateEntrySize) {
        PutU32(entry + 21, extra);
    }
    ++count_;
    PutU32(&buffer_[4], static_cast<uint32_t>(count_));
    return true;
}

template class ListMessage<kNearbyPlayerEntrySize>;
template class ListMessage<kNpcUpdateEntrySize>;

std::optional<uint32_t> ReadMessageType(std::span<const uint8_t> data) {
    if (data.size() < 4) {
        return std::nullopt;
    }
    return GetU32(data.data());
}

std::optional<PositionReport> ReadPositionReport(std::span<const uint8_t> data) {
    if (data.size() < kPositionReportSize) {
        return std::nullopt;
    }
    return PositionReport{GetF32(&data[8]), GetF32(&data[12]), data[16], GetU32(&data[17])};
}

std::optional<uint32_t> ReadPlayerTag(std::span<const uint8_t> data) {
    if (data.size() < kPlayerTagSize) {
        return std::nullopt;
    }
    return GetU32(&data[8]);
}

std::optional<std::string> ReadChat(std::span<const uint8_t> data) {
    if (data.size() < 8) {
        return std::nullopt;
    }
    const auto* text = reinterpret_cast<const char*>(data.data() + 8);
    const std::size_t available = std::min(data.size() - 8, kChatTextSize - 1);
    return std::string(Bounded(text, available));
}

std::optional<NpcTextRequest> ReadNpcTextRequest(std::span<const uint8_t> data) {
    if (data.size() < kNpcTextRequestSize) {
        return std::nullopt;
    }
    return NpcTextRequest{GetU32(&data[8]), GetU32(&data[12])};
}
