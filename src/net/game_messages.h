#pragma once
// The game's messages, byte for byte: little-endian, packed, a 32-bit type first. Builders
// write into fixed buffers; readers take the received bytes and refuse what is too short.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "net/session_types.h"

struct MessageMapEntry;

enum GameMessageType : uint32_t {
    kMsgPlayerJoined = 2,
    kMsgPlayerLeft = 3,
    kMsgWelcome = 4,
    kMsgPlayerMoving = 5,
    kMsgPlayerStopped = 6,
    kMsgRateSettings = 7,
    kMsgPlayerTag = 8,
    kMsgChat = 9,
    kMsgSkyWeather = 10,
    kMsgNpcText = 11,
    kMsgNpcSay = 14,
    kMsgNearbyPlayers = 15,
    kMsgNpcUpdate = 16,
};

constexpr std::size_t kPlayerJoinedSize = 22;
constexpr std::size_t kPlayerLeftSize = 22;
constexpr std::size_t kWelcomeSize = 16;
constexpr std::size_t kPositionReportSize = 21;
constexpr std::size_t kRateSettingsSize = 12;
constexpr std::size_t kPlayerTagSize = 12;
constexpr std::size_t kChatSize = 508;
constexpr std::size_t kChatTextSize = 500;  // at most 499 characters and the terminator
constexpr std::size_t kSkyWeatherSize = 16;
constexpr std::size_t kNpcTextRequestSize = 16;
constexpr std::size_t kNpcTextReplySize = 326;
constexpr std::size_t kNpcSaySize = 308;
constexpr std::size_t kListHeaderSize = 8;
constexpr std::size_t kNearbyPlayerEntrySize = 21;
constexpr std::size_t kNpcUpdateEntrySize = 25;
constexpr int kMaxListEntries = 15;
constexpr std::size_t kNearbyPlayersMaxSize = kListHeaderSize + kNearbyPlayerEntrySize * kMaxListEntries;
constexpr std::size_t kNpcUpdateMaxSize = kListHeaderSize + kNpcUpdateEntrySize * kMaxListEntries;

template <std::size_t N>
using MessageBytes = std::array<uint8_t, N>;

// --- messages the server sends -------------------------------------------------------
MessageBytes<kPlayerJoinedSize> BuildPlayerJoined(DPNID player, const char* name);
MessageBytes<kPlayerLeftSize> BuildPlayerLeft(DPNID player);
MessageBytes<kWelcomeSize> BuildWelcome(DPNID you, float updateRate, float messageTimeout);
MessageBytes<kRateSettingsSize> BuildRateSettings(float updateRate, float messageTimeout);
MessageBytes<kPlayerTagSize> BuildPlayerTag(DPNID player, uint32_t tag);
MessageBytes<kChatSize> BuildChat(DPNID sender, std::string_view text);
MessageBytes<kSkyWeatherSize> BuildSkyWeather(uint32_t skyColour, float rainVolume, uint32_t lightning);
MessageBytes<kNpcTextReplySize> BuildNpcTextReply(uint32_t entry, uint32_t npcSlot,
                                                  const MessageMapEntry& map);
MessageBytes<kNpcSaySize> BuildNpcSay(const char* sayText, uint32_t npcSlot);

// A list message (NearbyPlayers or NpcUpdate) built entry by entry in a fixed buffer.
template <std::size_t EntrySize>
class ListMessage {
public:
    explicit ListMessage(GameMessageType type);
    // False, and nothing added, once the list holds 15 entries.
    bool Add(uint32_t id, int32_t x, int32_t y, uint8_t byte, uint32_t word, uint32_t last,
             uint32_t extra = 0);
    int count() const { return count_; }
    bool full() const { return count_ >= kMaxListEntries; }
    std::span<const uint8_t> bytes() const { return {buffer_.data(), kListHeaderSize + EntrySize * count_}; }

private:
    std::array<uint8_t, kListHeaderSize + EntrySize * kMaxListEntries> buffer_{};
    int count_ = 0;
};
using NearbyPlayersMessage = ListMessage<kNearbyPlayerEntrySize>;
using NpcUpdateMessage = ListMessage<kNpcUpdateEntrySize>;

// --- messages from clients -----------------------------------------------------------
// The type of a received message; nothing when it is shorter than a type.
std::optional<uint32_t> ReadMessageType(std::span<const uint8_t> data);

struct PositionReport {
    float x = 0.0f;
    float y = 0.0f;
    uint8_t clientByte = 0;
    uint32_t clientWord = 0;
    bool operator==(const PositionReport&) const = default;
};
std::optional<PositionReport> ReadPositionReport(std::span<const uint8_t> data);
std::optional<uint32_t> ReadPlayerTag(std::span<const uint8_t> data);
// The text ends at its terminator or at the end of the received bytes; at most 499 characters.
std::optional<std::string> ReadChat(std::span<const uint8_t> data);

struct NpcTextRequest {
    uint32_t entry = 0;
    uint32_t npcSlot = 0;
    bool operator==(const NpcTextRequest&) const = default;
};
std::optional<NpcTextRequest> ReadNpcTextRequest(std::span<const uint8_t> data);

// --- little-endian access, shared by the builders and tests ---------------------------
void PutU32(uint8_t* at, uint32_t value);
void PutF32(uint8_t* at, float value);
uint32_t GetU32(const uint8_t* at);
float GetF32(const uint8_t* at);
