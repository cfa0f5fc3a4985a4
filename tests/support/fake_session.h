#pragma once
// An in-process session: the test plays the clients (getting the server handler's answers) and
// reads its sends.

#include <atomic>
#include <map>
#include <mutex>
#include <ostream>
#include <shared_mutex>
#include <string>
#include <utility>
#include <vector>

#include "net/session_service.h"

// clang-format off
class FakeSession final : public SessionService {
public:
    static constexpr DPNID kServerPlayer = 0x00200001, kFirstClient = 0x00300001;

    struct Sent {
        DPNID target;  // kAllPlayers for a send to every player
        std::vector<uint8_t> bytes;
        uint32_t timeoutMs, flags;
        bool operator==(const Sent&) const = default;
        friend std::ostream& operator<<(std::ostream& out, const Sent& s) {
            out << "{to " << s.target << " timeout " << s.timeoutMs << " flags " << s.flags << ":";
            for (uint8_t b : s.bytes) out << ' ' << int(b);
            return out << '}';
        }
    };

    HRESULT hostResult = S_OK, enumerateResult = S_OK, clientInfoResult = S_OK;
    int enumerateGrowth = 0;  // players "joining" between the two enumeration calls
    std::atomic<HRESULT> lastCreateResult{S_OK};  // the handler's answer to the last Connect
    ConnectionInfo connectionInfo;
    ApplicationDesc hostedDesc;
    uint32_t hostedPort = 0;

    DPNID Connect(const std::u16string& name, DPNID id = 0) {  // the next id unless given one
        std::shared_lock running(calls_);
        std::unique_lock lock(mutex_);
        if (closed_) return 0;
        CreatePlayerMessage message{id ? id : nextId_++, nullptr};
        players_[message.player].name = name;
        lock.unlock();
        lastCreateResult = handler_(DPN_MSGID_CREATE_PLAYER, &message);
        lock.lock();
        return players_[message.player].context = message.playerContext, message.player;
    }
    HRESULT Disconnect(DPNID player) { return Notify(player, DPN_MSGID_DESTROY_PLAYER, {}); }
    HRESULT Deliver(DPNID from, const std::vector<uint8_t>& bytes) { return Notify(from, DPN_MSGID_RECEIVE, bytes); }
    std::vector<Sent> TakeSent() { std::lock_guard lock(mutex_); return std::exchange(sent_, {}); }

    HRESULT Initialize(MessageHandler handler) override { return handler_ = handler, S_OK; }
    HRESULT Host(const ApplicationDesc& desc, uint32_t port) override {
        if (Failed(hostResult)) return hostResult;
        hostedDesc = desc, hostedPort = port;
        CreatePlayerMessage self{kServerPlayer, nullptr};
        handler_(DPN_MSGID_CREATE_PLAYER, &self);
        std::lock_guard lock(mutex_);
        players_[kServerPlayer].context = self.playerContext;
        return S_OK;
    }
    HRESULT SendTo(DPNID target, const uint8_t* data, uint32_t size, uint32_t timeoutMs, uint32_t flags) override {
        std::lock_guard lock(mutex_);
        if (target != kAllPlayers && !players_.contains(target)) return DPNERR_INVALIDPLAYER;
        sent_.push_back({target, {data, data + size}, timeoutMs, flags});
        return S_OK;
    }
    HRESULT GetClientInfo(DPNID player, PlayerInfo& info) override {
        return With(player, false, [&](Player& p) { return Failed(clientInfoResult) ? clientInfoResult : (info.name = p.name, S_OK); });
    }
    HRESULT EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t) override {
        if (Failed(enumerateResult)) return enumerateResult;
        std::lock_guard lock(mutex_);
        const auto total = uint32_t(players_.size());
        if (ids == nullptr || *count < total) {
            *count = total + (ids ? 0 : uint32_t(enumerateGrowth));
            return DPNERR_BUFFERTOOSMALL;
        }
        for (const auto& entry : players_) *ids++ = entry.first;
        *count = total;
        return S_OK;
    }
    HRESULT GetPlayerContext(DPNID player, void** context, uint32_t) override {
        return With(player, true, [&](Player& p) { return *context = p.context, S_OK; });
    }
    HRESULT GetConnectionInfo(DPNID player, ConnectionInfo& info) override {
        return With(player, false, [&](Player&) { return info = connectionInfo, S_OK; });
    }
    HRESULT Close(uint32_t) override {
        closed_ = true;
        std::unique_lock wait(calls_);  // the running notifications finish before anyone leaves
        for (std::unique_lock lock(mutex_); !players_.empty(); lock.lock()) {
            auto player = players_.extract(players_.begin());
            lock.unlock();
            DestroyPlayerMessage message{player.key(), player.mapped().context};
            handler_(DPN_MSGID_DESTROY_PLAYER, &message);
        }
        return S_OK;
    }

private:
    struct Player { std::u16string name; void* context = nullptr; };
    // Runs f on the player (the server's own only with self) under the lock.
    HRESULT With(DPNID id, bool self, auto f) {
        std::lock_guard lock(mutex_);
        const auto it = players_.find(id);
        return it == players_.end() || (id == kServerPlayer && !self) ? DPNERR_INVALIDPLAYER : f(it->second);
    }
    HRESULT Notify(DPNID player, uint32_t messageId, const std::vector<uint8_t>& bytes) {
        std::shared_lock running(calls_);
        ReceiveMessage message{player, nullptr, bytes.data(), uint32_t(bytes.size())};
        {
            std::lock_guard lock(mutex_);
            const auto it = players_.find(player);
            if (closed_ || it == players_.end()) return DPNERR_INVALIDPLAYER;
            message.playerContext = it->second.context;
            if (messageId == DPN_MSGID_DESTROY_PLAYER) players_.erase(it);
        }
        DestroyPlayerMessage destroy{player, message.playerContext};
        return handler_(messageId, messageId == DPN_MSGID_RECEIVE ? &message : static_cast<void*>(&destroy));
    }

    std::mutex mutex_;
    std::shared_mutex calls_;  // held shared by each running notification
    MessageHandler handler_;
    std::map<DPNID, Player> players_;  // the server's own player and the clients
    std::vector<Sent> sent_;
    DPNID nextId_ = kFirstClient;
    std::atomic<bool> closed_ = false;
};
