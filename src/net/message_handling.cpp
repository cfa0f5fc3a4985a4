// What the server does with each game message a player sends, and the welcome of a newcomer.

#include <string>
#include <vector>

#include "net/game_messages.h"
#include "net/network_session.h"
#include "npc/float_truncate.h"
#include "world/game_weather.h"
#include "world/night_day.h"

void NetworkSession::WelcomeNewPlayer(DPNID newcomer) {
    SendPlain(newcomer, BuildWelcome(newcomer, rates_.updateRate, rates_.messageTimeout));

    std::vector<DPNID> ids;
    if (Failed(EnumeratePlayers(ids))) {
        return;
    }
    {
        std::lock_guard lock(playerLock_);
        for (DPNID id : ids) {
            if (id == newcomer) {
                continue;
            }
            if (const PlayerRecord* other = RecordOf(id)) {
                SendPlain(newcomer, BuildPlayerJoined(other->dpnid, other->name));
                SendPlain(newcomer, BuildPlayerTag(other->dpnid, other->clientTag));
            }
        }
    }
    SendPlain(newcomer, BuildSkyWeather(world_.clock.skyColour, world_.weather.publishedVolume,
                                        static_cast<uint32_t>(world_.weather.lightning.load())));
}

void NetworkSession::HandleGameMessage(PlayerRecord& sender, std::span<const uint8_t> data) {
    const std::optional<uint32_t> type = ReadMessageType(data);
    if (!type) {
        return;
    }
    switch (*type) {
        case kMsgPlayerMoving:
        case kMsgPlayerStopped: {
            const std::optional<PositionReport> report = ReadPositionReport(data);
            if (!report) {
                return;
            }
            {
                std::lock_guard lock(playerLock_);
                roster_.Place(sender, report->x, report->y);
                sender.moving = *type == kMsgPlayerMoving ? 1 : 0;
                sender.clientWord = report->clientWord;
                sender.clientByte = report->clientByte;
            }
            ReplyNearbyPlayers(sender, TruncateToInt32(report->x), TruncateToInt32(report->y));
            return;
        }
        case kMsgPlayerTag: {
            const std::optional<uint32_t> tag = ReadPlayerTag(data);
            if (!tag) {
                return;
            }
            DPNID id;
            {
                std::lock_guard lock(playerLock_);
                sender.clientTag = *tag;
                id = sender.dpnid;
            }
            SendPlain(kAllPlayers, BuildPlayerTag(id, *tag));
            return;
        }
        case kMsgChat:
            if (const std::optional<std::string> text = ReadChat(data)) {
                RelayChat(sender, *text);
            }
            return;
        case kMsgNpcText:
            if (const std::optional<NpcTextRequest> request = ReadNpcTextRequest(data)) {
                ReplyNpcText(sender, *request);
            }
            return;
        default:
            return;
    }
}

void NetworkSession::ReplyNearbyPlayers(const PlayerRecord& sender, int32_t px, int32_t py) {
    if (server() == nullptr) {
        return;
    }
    NearbyPlayersMessage message(kMsgNearbyPlayers);
    DPNID self;
    {
        std::lock_guard lock(playerLock_);
        self = sender.dpnid;
        const OpenRange rangeX(px, kNearbyPlayersRange), rangeY(py, kNearbyPlayersRange);
        const auto xs = roster_.xs(), ys = roster_.ys();
        const auto records = roster_.records();
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (!rangeX.Contains(xs[i]) || !rangeY.Contains(ys[i])) {
                continue;
            }
            const PlayerRecord& other = *records[i];
            if (other.dpnid == self) {
                continue;
            }
            message.Add(other.dpnid, TruncateToInt32(other.posX), TruncateToInt32(other.posY),
                        other.clientByte, other.clientWord, other.moving);
            if (message.full()) {
                break;
            }
        }
    }
    // Sent even when nobody is near.
    SendWithReliableRate(self, message.bytes(), false, MessageTimeoutMs());
}

void NetworkSession::RelayChat(const PlayerRecord& sender, const std::string& text) {
    if (server() == nullptr) {
        return;
    }
    std::lock_guard lock(playerLock_);
    const auto message = BuildChat(sender.dpnid, text);
    // Measured from the speaker's untruncated position.
    const OpenRange rangeX(sender.posX, kChatRange), rangeY(sender.posY, kChatRange);
    const auto xs = roster_.xs(), ys = roster_.ys();
    const auto records = roster_.records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (rangeX.Contains(xs[i]) && rangeY.Contains(ys[i]) && records[i] != &sender) {
            SendPlain(records[i]->dpnid, message);
        }
    }
}

void NetworkSession::ReplyNpcText(const PlayerRecord& sender, const NpcTextRequest& request) {
    MessageMapEntry entry;
    if (request.entry >= kNpcMessageMapSize || request.npcSlot >= CMainObjectSet::kSlotCount ||
        !world_.npcs.CopyMessageEntry(static_cast<int32_t>(request.npcSlot),
                                      static_cast<int32_t>(request.entry), entry)) {
        return;
    }
    DPNID id;
    {
        std::lock_guard lock(playerLock_);
        id = sender.dpnid;
    }
    SendPlain(id, BuildNpcTextReply(request.entry, request.npcSlot, entry));
}

void NetworkSession::Broadcast(const CMainObjectSet& set) {
    if (server() == nullptr) {
        return;
    }
    std::lock_guard lock(playerLock_);
    for (const PlayerRecord* player : roster_.records()) {
        BuildUpdateFor(set, *player);
    }
}

void NetworkSession::BuildUpdateFor(const CMainObjectSet& set, const PlayerRecord& player) {
    NpcUpdateMessage message(kMsgNpcUpdate);
    const int32_t placed = std::min(set.npcCount, CMainObjectSet::kSlotCount);
    for (int32_t slot = 0; slot < placed; ++slot) {
        const CServerNPC& npc = set.Npc(slot);
        const int32_t x = TruncateToInt32(npc.posX);
        const int32_t y = TruncateToInt32(npc.posY);
        // The NPC's whole-unit position is the reference; the player's float is compared.
        if (OpenRange(x, kNpcUpdateRange).Contains(player.posX) &&
            OpenRange(y, kNpcUpdateRange).Contains(player.posY)) {
            message.Add(static_cast<uint32_t>(slot), x, y, 0, static_cast<uint32_t>(npc.facing),
                        static_cast<uint32_t>(npc.headFacing), static_cast<uint32_t>(npc.action));
            if (message.full()) {
                break;
            }
        }
    }
    if (message.count() == 0) {
        return;
    }
    SendWithReliableRate(player.dpnid, message.bytes(), false, MessageTimeoutMs());
}

void NetworkSession::SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x,
                                        int32_t y) {
    if (server() == nullptr || !CMainObjectSet::ValidSlot(slot)) {
        return;
    }
    std::lock_guard lock(playerLock_);
    const OpenRange rangeX(x, kNpcSayRange), rangeY(y, kNpcSayRange);
    const auto xs = roster_.xs(), ys = roster_.ys();
    const auto records = roster_.records();
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (rangeX.Contains(xs[i]) && rangeY.Contains(ys[i])) {
            SendSayText(records[i]->dpnid, set, slot);
        }
    }
}

void NetworkSession::SendSayText(DPNID player, const CMainObjectSet& set, int32_t slot) {
    SendPlain(player, BuildNpcSay(set.Npc(slot).sayText, static_cast<uint32_t>(slot)));
}
