#pragma once
// One entry of an NPC's message map: a conversation text with the entries it links to.
// Clients request entries one at a time; what links and flag mean is the client's business.

#include <cstdint>

constexpr int kMessageTextSize = 300;  // bytes, terminating zero included
constexpr int kMessageLinkCount = 5;

// Shown by an entry that no script has filled yet.
constexpr char kMessagePlaceholderText[] = "... `";

struct MessageMapEntry {
    char text[kMessageTextSize] = {};
    int8_t links[kMessageLinkCount] = {};  // entry numbers as written in the script, minus 1
    int8_t linkCount = 0;                  // how many of links are in use, 0-5
    uint8_t flag = 0;                      // TRUE (1) or FALSE (0) as written in the script

    bool operator==(const MessageMapEntry&) const = default;
};
