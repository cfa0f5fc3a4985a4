#include "client_messages.h"

#include <algorithm>

namespace er_bot {

MessageBytes<kPositionReportSize> BuildPositionReport(bool moving, float x, float y,
                                                      uint8_t clientByte, uint32_t clientWord) {
    MessageBytes<kPositionReportSize> m{};
    PutU32(&m[0], moving ? kMsgPlayerMoving : kMsgPlayerStopped);
    PutF32(&m[8], x);
    PutF32(&m[12], y);
    m[16] = clientByte;
    PutU32(&m[17], clientWord);
    return m;
}

MessageBytes<kPlayerTagSize> BuildTagRequest(uint32_t tag) {
    MessageBytes<kPlayerTagSize> m{};
    PutU32(&m[0], kMsgPlayerTag);
    PutU32(&m[8], tag);
    return m;
}

std::vector<uint8_t> BuildChatRequest(std::string_view cp1252Text) {
    const std::string_view text = cp1252Text.substr(
        0, std::min({cp1252Text.find('\0'), cp1252Text.size(), kChatTextSize - 1}));
    std::vector<uint8_t> m(8 + text.size() + 1, 0);
    PutU32(&m[0], kMsgChat);
    std::copy(text.begin(), text.end(), m.begin() + 8);
    return m;
}

MessageBytes<kNpcTextRequestSize> BuildNpcTextRequest(uint32_t entry, uint32_t npcSlot) {
    MessageBytes<kNpcTextRequestSize> m{};
    PutU32(&m[0], kMsgNpcText);
    PutU32(&m[8], entry);
    PutU32(&m[12], npcSlot);
    return m;
}

}  // namespace er_bot
