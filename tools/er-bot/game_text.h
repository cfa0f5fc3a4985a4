#pragma once
// Received game messages as one line of text each: the message's name, then its fields as
// name=value (ids in hex, texts quoted and made visible). A message too short for its layout,
// or of a type the game does not have, is shown with its size and bytes instead.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace er_bot {

std::string FormatGameMessage(std::span<const uint8_t> message);
// A message as a client sends it (position reports, tag, chat, the NpcText request), in the
// same form; other types as FormatGameMessage shows them.
std::string FormatClientMessage(std::span<const uint8_t> message);

// "PlayerJoined" for 2 and so on; nothing for a type the game does not have.
std::optional<std::string_view> MessageTypeName(uint32_t type);
// The type of a name (any case) or a decimal number.
std::optional<uint32_t> ParseMessageType(std::string_view text);

// A DirectPlay result as the bot reports it: "0x80158300 (DPNERR_INVALIDAPPLICATION)".
std::string HResultText(int32_t result);

// Bytes in hex, at most `limit` of them, then "..." when there were more.
std::string HexBytes(std::span<const uint8_t> bytes, size_t limit = 64);

}  // namespace er_bot
