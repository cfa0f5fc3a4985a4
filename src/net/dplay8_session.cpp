#include "net/dplay8_session.h"

#include <algorithm>
#include <random>
#include <vector>

namespace {

// DPNSEND_NONSEQUENTIAL: the server never uses it, but a message without it keeps its order.
constexpr uint32_t kSendNonSequential = 0x10;

dplay8::Guid ToDplay8(const Guid& g) {
    dplay8::Guid out;
    out.data1 = g.data1;
    out.data2 = g.data2;
    out.data3 = g.data3;
    std::copy(std::begin(g.data4), std::end(g.data4), out.data4.begin());
    return out;
}

// A fresh instance GUID for each hosted session (random, version 4 layout).
dplay8::Guid NewInstanceGuid() {
    std::random_device device;
    std::mt19937_64 bits((uint64_t(device()) << 32) ^ device());
    const uint64_t high = bits(), low = bits();
    dplay8::Guid g;
    g.data1 = uint32_t(high >> 32);
    g.data2 = uint16_t(high >> 16);
    g.data3 = uint16_t((high & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i)
        g.data4[i] = uint8_t(low >> (8 * i));
    g.data4[0] = uint8_t((g.data4[0] & 0x3F) | 0x80);
    return g;
}

// The player whose CREATE_PLAYER this thread is handling, if any: what its handler sends to
// all players does not reach it.
thread_local DPNID playerBeingCreated = 0;

uint32_t Clamp32(uint64_t value) {
    return uint32_t(std::min<uint64_t>(value, UINT32_MAX));
}

}  // namespace

Dplay8Session::~Dplay8Session() {
    Close(0);
}

HRESULT Dplay8Session::Initialize(MessageHandler handler) {
    if (hosting_)
        return E_FAIL;
    handler_ = std::move(handler);
    return S_OK;
}

HRESULT Dplay8Session::Notify(uint32_t messageId, void* message) {
    return handler_ ? handler_(messageId, message) : S_OK;
}

HRESULT Dplay8Session::Host(const ApplicationDesc& desc, uint32_t port) {
    if (!handler_)
        return DPNERR_UNINITIALIZED;
    if (hosting_ || port > 0xFFFF)
        return E_FAIL;
    dplay8::HostConfig config;
    config.application = ToDplay8(desc.application);
    const dplay8::Guid instance = ToDplay8(desc.instance);
    config.instance = instance.IsZero() ? NewInstanceGuid() : instance;
    config.flags = desc.flags;
    config.max_players = desc.maxPlayers;
    config.session_name = desc.sessionName;
    config.close_linger = options_.closeLingerMs;
    config.limits = options_.limits;
    config.connection.max_queued_bytes = options_.sendQueueBytes;
    config.connection.poll_ack_hold = options_.pollAckHoldMs;

    dplay8::UdpHostOptions options;
    options.port = uint16_t(port);
    options.bind_address = options_.bindAddress;
    options.enumeration_port = options_.enumerationPort;
    options.handler_threads = options_.handlerThreads;
    // Handlers may run (and send) as soon as the host starts: everything they use is set
    // before it does.
    host_ = std::make_unique<dplay8::UdpHost>();
    hosting_ = true;
    if (host_->Start(std::move(config), options,
                     [this](dplay8::HostEvent& event) { OnHostEvent(event); }) != 0) {
        hosting_ = false;
        host_.reset();
        return E_FAIL;
    }
    port_ = host_->port();
    serverPlayer_ = host_->server_dpnid();

    CreatePlayerMessage self{serverPlayer_, nullptr};
    Notify(DPN_MSGID_CREATE_PLAYER, &self);
    std::lock_guard lock(mutex_);
    serverContext_ = self.playerContext;
    return S_OK;
}

void Dplay8Session::OnHostEvent(dplay8::HostEvent& event) {
    switch (event.type) {
        case dplay8::HostEventType::kPlayerCreated: {
            {
                // Known before the handler runs: it asks for the player's name.
                std::lock_guard lock(mutex_);
                players_[event.dpnid] = Player{event.name, nullptr};
            }
            CreatePlayerMessage message{event.dpnid, nullptr};
            playerBeingCreated = event.dpnid;
            Notify(DPN_MSGID_CREATE_PLAYER, &message);
            playerBeingCreated = 0;
            std::lock_guard lock(mutex_);
            if (auto it = players_.find(event.dpnid); it != players_.end())
                it->second.context = message.playerContext;
            break;
        }
        case dplay8::HostEventType::kMessage: {
            ReceiveMessage message{event.dpnid, nullptr, event.data.data(),
                                   uint32_t(event.data.size())};
            {
                std::lock_guard lock(mutex_);
                auto it = players_.find(event.dpnid);
                if (it == players_.end())
                    return;
                message.playerContext = it->second.context;
            }
            Notify(DPN_MSGID_RECEIVE, &message);
            break;
        }
        case dplay8::HostEventType::kPlayerInfo: {
            // The seam has no notification for it; GetClientInfo reports the new name.
            std::lock_guard lock(mutex_);
            if (auto it = players_.find(event.dpnid); it != players_.end())
                it->second.name = event.name;
            break;
        }
        case dplay8::HostEventType::kPlayerDestroyed: {
            DestroyPlayerMessage message{event.dpnid, nullptr};
            {
                std::lock_guard lock(mutex_);
                auto it = players_.find(event.dpnid);
                if (it == players_.end())
                    return;
                message.playerContext = it->second.context;
                players_.erase(it);
            }
            Notify(DPN_MSGID_DESTROY_PLAYER, &message);
            break;
        }
    }
}

HRESULT Dplay8Session::SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs,
                              uint32_t flags) {
    if (!hosting_)
        return DPNERR_UNINITIALIZED;
    if (data == nullptr || size == 0)
        return E_FAIL;
    dplay8::SendOptions options;
    options.guaranteed = (flags & DPNSEND_GUARANTEED) != 0;
    options.sequential = (flags & kSendNonSequential) == 0;
    options.timeout = timeoutMs;
    const dplay8::ByteSpan bytes(data, size);
    if (target == kAllPlayers) {
        // Loop-back to the server's own player is not delivered: the server sends to all
        // players only without it.
        // A send to all players reaches the players whose CREATE_PLAYER has begun, but not
        // the one the sending handler is creating: a newcomer hears nothing sent to everyone
        // before its creation is under way, and not its own announcement.
        std::vector<DPNID> members;
        {
            std::lock_guard lock(mutex_);
            members.reserve(players_.size());
            for (const auto& [id, player] : players_) {
                if (id != playerBeingCreated)
                    members.push_back(id);
            }
        }
        host_->SendToMany(std::move(members), bytes, options);
        return S_OK;
    }
    if (target == serverPlayer_)
        return S_OK;
    {
        std::lock_guard lock(mutex_);
        if (players_.count(target) == 0)
            return DPNERR_INVALIDPLAYER;
    }
    host_->Send(target, bytes, options);
    return S_OK;
}

HRESULT Dplay8Session::GetClientInfo(DPNID player, PlayerInfo& info) {
    std::lock_guard lock(mutex_);
    auto it = players_.find(player);
    if (it == players_.end())
        return DPNERR_INVALIDPLAYER;
    info.name = it->second.name;
    return S_OK;
}

HRESULT Dplay8Session::EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t) {
    if (count == nullptr)
        return E_FAIL;
    if (!hosting_)
        return DPNERR_UNINITIALIZED;
    std::lock_guard lock(mutex_);
    const auto total = uint32_t(players_.size() + 1);
    if (ids == nullptr || *count < total) {
        *count = total;
        return DPNERR_BUFFERTOOSMALL;
    }
    uint32_t i = 0;
    ids[i++] = serverPlayer_;
    for (const auto& entry : players_)
        ids[i++] = entry.first;
    *count = total;
    return S_OK;
}

HRESULT Dplay8Session::GetPlayerContext(DPNID player, void** context, uint32_t) {
    if (context == nullptr)
        return E_FAIL;
    std::lock_guard lock(mutex_);
    if (hosting_ && player == serverPlayer_) {
        *context = serverContext_;
        return S_OK;
    }
    auto it = players_.find(player);
    if (it == players_.end())
        return DPNERR_INVALIDPLAYER;
    *context = it->second.context;
    return S_OK;
}

HRESULT Dplay8Session::GetConnectionInfo(DPNID player, ConnectionInfo& info) {
    {
        std::lock_guard lock(mutex_);
        if (!hosting_ || players_.count(player) == 0)
            return DPNERR_INVALIDPLAYER;
    }
    auto stats = host_->Stats(player);
    if (!stats)
        return DPNERR_INVALIDPLAYER;
    info.roundTripLatencyMs = Clamp32(uint64_t(std::max<dplay8::Millis>(stats->round_trip_ms, 0)));
    info.throughputBps = stats->throughput_bps;
    info.messagesTransmittedNormalPriority = Clamp32(stats->messages_sent);
    info.messagesReceived = Clamp32(stats->messages_received);
    info.messagesTimedOutNormalPriority = Clamp32(stats->messages_timed_out);
    return S_OK;
}

bool Dplay8Session::GetTraffic(SessionTraffic& traffic) {
    if (!hosting_)
        return false;
    const dplay8::HostTraffic t = host_->traffic();
    const dplay8::HostCounters c = host_->counters();
    traffic = {t.messages_in,
               t.messages_out,
               t.datagrams_in,
               t.datagrams_out,
               t.bytes_in,
               t.bytes_out,
               t.queued_messages,
               t.queued_bytes,
               t.most_queued_messages,
               c.players_lost,
               c.flooders_disconnected + c.backlogs_disconnected,
               c.messages_dropped,
               c.connects_refused + c.pending_evicted + c.restarts_refused,
               c.enum_replies_refused};
    return true;
}

HRESULT Dplay8Session::Close(uint32_t) {
    if (!hosting_) {
        return S_OK;
    }
    // Every client's DESTROY_PLAYER is delivered and every handler call has returned.
    host_->Close();
    std::vector<std::pair<DPNID, void*>> remaining;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [id, player] : players_)
            remaining.emplace_back(id, player.context);
        players_.clear();
        remaining.emplace_back(serverPlayer_, serverContext_);
        serverContext_ = nullptr;
    }
    for (auto& [id, context] : remaining) {
        DestroyPlayerMessage message{id, context};
        Notify(DPN_MSGID_DESTROY_PLAYER, &message);
    }
    hosting_ = false;
    port_ = 0;
    return S_OK;
}
