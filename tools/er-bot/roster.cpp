#include "roster.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "net/game_messages.h"
#include "visible_text.h"

namespace er_bot {

namespace {

constexpr size_t kNameChars = 13;  // the server's name field holds 13 and the terminator

}  // namespace

Roster::Roster(std::string ownName) : ownName_(ownName.substr(0, kNameChars)) {}

void Roster::Apply(std::span<const uint8_t> message) {
    const auto type = ReadMessageType(message);
    if (!type)
        return;
    auto find = [this](uint32_t id) {
        return std::find_if(players_.begin(), players_.end(),
                            [id](const Player& p) { return p.id == id; });
    };
    auto add = [&](uint32_t id) {
        if (players_.size() == kMaxPlayers)
            players_.erase(players_.begin());
        players_.push_back(Player{id, {}, std::nullopt});
        return players_.end() - 1;
    };
    if (*type == kMsgPlayerJoined && message.size() >= kPlayerJoinedSize) {
        const uint32_t id = GetU32(&message[4]);
        const auto* name = reinterpret_cast<const char*>(&message[8]);
        const size_t length = strnlen(name, kPlayerJoinedSize - 8);
        auto it = find(id);
        if (it == players_.end())
            it = add(id);
        it->name.assign(name, length);
    } else if (*type == kMsgPlayerLeft && message.size() >= 8) {
        if (auto it = find(GetU32(&message[4])); it != players_.end())
            players_.erase(it);
    } else if (*type == kMsgPlayerTag && message.size() >= kPlayerTagSize) {
        if (auto it = find(GetU32(&message[4])); it != players_.end())
            it->tag = GetU32(&message[8]);
    } else if (*type == kMsgWelcome && message.size() >= kWelcomeSize) {
        self_ = GetU32(&message[4]);
        if (find(*self_) == players_.end())
            add(*self_)->name = ownName_;
    }
}

std::vector<std::string> Roster::Lines() const {
    std::vector<std::string> lines{"Who count=" + std::to_string(players_.size())};
    for (const Player& p : players_) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08X", p.id);
        lines.push_back(std::string("Player id=") + id + " name=\"" + VisibleCp1252(p.name) +
                        "\" tag=" + (p.tag ? std::to_string(*p.tag) : "-") +
                        (self_ == p.id ? " (you)" : ""));
    }
    return lines;
}

}  // namespace er_bot
