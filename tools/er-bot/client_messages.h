#pragma once
// The game messages a client sends, byte for byte (the server's readers are in
// net/game_messages.h): position reports, its tag, chat and the NpcText request. The field at
// offset 4 of each is not read by the server and is sent as zero.

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "net/game_messages.h"

namespace er_bot {

// PlayerMoving (moving) or PlayerStopped: the position and the two values the server relays.
MessageBytes<kPositionReportSize> BuildPositionReport(bool moving, float x, float y,
                                                      uint8_t clientByte, uint32_t clientWord);
MessageBytes<kPlayerTagSize> BuildTagRequest(uint32_t tag);
// Up to the text's terminator: 8 + length + 1 bytes, the text cut to 499 characters (and at
// a zero byte inside it).
std::vector<uint8_t> BuildChatRequest(std::string_view cp1252Text);
MessageBytes<kNpcTextRequestSize> BuildNpcTextRequest(uint32_t entry, uint32_t npcSlot);

}  // namespace er_bot
