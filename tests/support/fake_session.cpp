#include "support/fake_session.h"

#include <utility>

HRESULT FakeSession::Call(uint32_t messageId, void* message) {
    const HRESULT result = handler_ ? handler_(messageId, message) : S_OK;
    {
        std::lock_guard lock(mutex_);
        --running_;
    }
    idle_.notify_all();
    return result;
}

DPNID FakeSession::Connect(const std::u16string& name) {
    DPNID id;
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return 0;
        }
        id = nextId_++;
        players_[id] = Player{name, nullptr};
        ++running_;
    }
    CreatePlayerMessage message{id, nullptr};
    lastCreateResult = Call(DPN_MSGID_CREATE_PLAYER, &message);
    std::lock_guard lock(mutex_);
    players_[id].context = message.playerContext;
    return id;
}

HRESULT FakeSession::Disconnect(DPNID player) {
    DestroyPlayerMessage message{player, nullptr};
    {
        std::lock_guard lock(mutex_);
        const auto it = players_.find(player);
        if (it == players_.end()) {
            return DPNERR_INVALIDPLAYER;
        }
        message.playerContext = it->second.context;
        players_.erase(it);
        ++running_;
    }
    return Call(DPN_MSGID_DESTROY_PLAYER, &message);
}

HRESULT FakeSession::Deliver(DPNID from, const std::vector<uint8_t>& bytes) {
    ReceiveMessage message{from, nullptr, bytes.data(), static_cast<uint32_t>(bytes.size())};
    {
        std::lock_guard lock(mutex_);
        const auto it = players_.find(from);
        if (closed_ || it == players_.end()) {
            return DPNERR_INVALIDPLAYER;
        }
        message.playerContext = it->second.context;
        ++running_;
    }
    return Call(DPN_MSGID_RECEIVE, &message);
}

std::vector<FakeSession::Sent> FakeSession::TakeSent() {
    std::lock_guard lock(mutex_);
    return std::exchange(sent_, {});
}

HRESULT FakeSession::Initialize(MessageHandler handler) {
    handler_ = std::move(handler);
    return S_OK;
}

HRESULT FakeSession::Host(const ApplicationDesc& desc, uint32_t port) {
    if (hostResult < 0) {
        return hostResult;
    }
    {
        std::lock_guard lock(mutex_);
        hostedDesc = desc;
        hostedPort = port;
        players_[kServerPlayer] = Player{u"", nullptr};
        ++running_;
    }
    CreatePlayerMessage self{kServerPlayer, nullptr};
    Call(DPN_MSGID_CREATE_PLAYER, &self);
    std::lock_guard lock(mutex_);
    players_[kServerPlayer].context = self.playerContext;
    return S_OK;
}

HRESULT FakeSession::SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs,
                            uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (target != kAllPlayers && players_.count(target) == 0) {
        return DPNERR_INVALIDPLAYER;
    }
    sent_.push_back(Sent{target, std::vector<uint8_t>(data, data + size), timeoutMs, flags});
    return S_OK;
}

HRESULT FakeSession::GetClientInfo(DPNID player, PlayerInfo& info) {
    std::lock_guard lock(mutex_);
    const auto it = players_.find(player);
    if (player == kServerPlayer || it == players_.end()) {
        return DPNERR_INVALIDPLAYER;
    }
    if (clientInfoResult < 0) {
        return clientInfoResult;
    }
    info.name = it->second.name;
    return S_OK;
}

HRESULT FakeSession::EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t) {
    if (enumerateResult < 0) {
        return enumerateResult;
    }
    std::lock_guard lock(mutex_);
    const auto total = static_cast<uint32_t>(players_.size());
    if (ids == nullptr || *count < total) {
        // A session that grows between the calls answers "too small" again.
        *count = total + (ids != nullptr ? 0 : static_cast<uint32_t>(enumerateGrowth));
        if (ids != nullptr || *count > 0) {
            return DPNERR_BUFFERTOOSMALL;
        }
        return S_OK;
    }
    uint32_t i = 0;
    for (const auto& entry : players_) {
        ids[i++] = entry.first;
    }
    *count = total;
    return S_OK;
}

HRESULT FakeSession::GetPlayerContext(DPNID player, void** context, uint32_t) {
    std::lock_guard lock(mutex_);
    const auto it = players_.find(player);
    if (it == players_.end()) {
        return DPNERR_INVALIDPLAYER;
    }
    *context = it->second.context;
    return S_OK;
}

HRESULT FakeSession::GetConnectionInfo(DPNID player, ConnectionInfo& info) {
    std::lock_guard lock(mutex_);
    if (players_.count(player) == 0 || player == kServerPlayer) {
        return DPNERR_INVALIDPLAYER;
    }
    info = connectionInfo;
    return S_OK;
}

HRESULT FakeSession::Close(uint32_t) {
    {
        // No new notification starts; the ones running finish before any player goes.
        std::unique_lock lock(mutex_);
        closed_ = true;
        idle_.wait(lock, [this] { return running_ == 0; });
    }
    for (;;) {
        DestroyPlayerMessage message{};
        {
            std::lock_guard lock(mutex_);
            const auto it = players_.begin();
            if (it == players_.end()) {
                break;
            }
            message = DestroyPlayerMessage{it->first, it->second.context};
            players_.erase(it);
            ++running_;
        }
        Call(DPN_MSGID_DESTROY_PLAYER, &message);
    }
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return running_ == 0; });
    return S_OK;
}
