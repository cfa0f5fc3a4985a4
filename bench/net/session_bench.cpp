// The cost of the two walks over all players: one NearbyPlayers reply (a position report) and
// one NPC broadcast, at 100 to 1,000 connected players. The session underneath only counts
// what is sent, so the figures are the server's own work.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "net/game_messages.h"
#include "net/network_session.h"
#include "support/null_session_console.h"
#include "support/session_test_world.h"
#include "npc/npc_codes.h"

namespace {

class CountingSession final : public SessionService {
public:
    HRESULT Initialize(MessageHandler handler) override {
        handler_ = std::move(handler);
        return S_OK;
    }
    HRESULT Host(const ApplicationDesc&, uint32_t) override { return S_OK; }
    HRESULT SendTo(DPNID, const uint8_t*, uint32_t size, uint32_t, uint32_t) override {
        bytesSent += size;
        ++messagesSent;
        return S_OK;
    }
    HRESULT GetClientInfo(DPNID, PlayerInfo& info) override {
        info.name = u"bench";
        return S_OK;
    }
    HRESULT EnumPlayersAndGroups(DPNID* ids, uint32_t* count, uint32_t) override {
        if (ids == nullptr || *count < order_.size()) {
            *count = static_cast<uint32_t>(order_.size());
            return DPNERR_BUFFERTOOSMALL;
        }
        std::copy(order_.begin(), order_.end(), ids);
        *count = static_cast<uint32_t>(order_.size());
        return S_OK;
    }
    HRESULT GetPlayerContext(DPNID player, void** context, uint32_t) override {
        const auto it = contexts_.find(player);
        if (it == contexts_.end()) {
            return DPNERR_INVALIDPLAYER;
        }
        *context = it->second;
        return S_OK;
    }
    HRESULT GetConnectionInfo(DPNID, ConnectionInfo&) override { return S_OK; }
    HRESULT Close(uint32_t) override {
        for (DPNID id : order_) {
            DestroyPlayerMessage message{id, contexts_[id]};
            handler_(DPN_MSGID_DESTROY_PLAYER, &message);
        }
        order_.clear();
        contexts_.clear();
        return S_OK;
    }

    DPNID Connect() {
        const DPNID id = 0x1000 + static_cast<DPNID>(order_.size());
        order_.push_back(id);
        contexts_[id] = nullptr;
        CreatePlayerMessage message{id, nullptr};
        handler_(DPN_MSGID_CREATE_PLAYER, &message);
        contexts_[id] = message.playerContext;
        return id;
    }
    void Deliver(DPNID from, const std::vector<uint8_t>& bytes) {
        ReceiveMessage message{from, contexts_[from], bytes.data(),
                               static_cast<uint32_t>(bytes.size())};
        handler_(DPN_MSGID_RECEIVE, &message);
    }

    uint64_t bytesSent = 0;
    uint64_t messagesSent = 0;

private:
    MessageHandler handler_;
    std::vector<DPNID> order_;
    std::unordered_map<DPNID, void*> contexts_;
};

// A world of `players` players spread over a 4,000-unit square and 50 NPCs among them.
struct BenchWorld : SessionTestWorld {
    explicit BenchWorld(int players) : SessionTestWorld(1000) {
        for (int32_t slot = 0; slot < CMainObjectSet::kSlotCount; ++slot) {
            CServerNPC& npc = npcs.Npc(slot);
            npc.posX = static_cast<float>((slot * 797) % 4000);
            npc.posY = static_cast<float>((slot * 331) % 4000);
            npc.action = kActionWalking;
        }
        npcs.npcCount = CMainObjectSet::kSlotCount;
        session.StartServer();
        for (int i = 0; i < players; ++i) {
            const DPNID id = fake->Connect();
            ids.push_back(id);
            fake->Deliver(id, Report(static_cast<float>((i * 613) % 4000),
                                     static_cast<float>((i * 211) % 4000)));
        }
    }

    static std::vector<uint8_t> Report(float x, float y) {
        std::vector<uint8_t> bytes(kPositionReportSize, 0);
        PutU32(bytes.data(), kMsgPlayerMoving);
        PutF32(bytes.data() + 8, x);
        PutF32(bytes.data() + 12, y);
        return bytes;
    }

    NullSessionConsole console;
    CountingSession* fake = nullptr;
    NetworkSession session{settings, rates, random, SessionTestWorld::World(), console, [this] {
                               auto created = std::make_unique<CountingSession>();
                               fake = created.get();
                               return created;
                           }};
    std::vector<DPNID> ids;
};

void BM_NearbyPlayersReply(benchmark::State& state) {
    BenchWorld world(static_cast<int>(state.range(0)));
    const std::vector<uint8_t> report = BenchWorld::Report(2000.0f, 2000.0f);
    const DPNID reporter = world.ids.front();
    for (auto _ : state) {
        world.fake->Deliver(reporter, report);
    }
    state.counters["players"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_NearbyPlayersReply)->Arg(100)->Arg(250)->Arg(500)->Arg(1000);

void BM_NpcBroadcast(benchmark::State& state) {
    BenchWorld world(static_cast<int>(state.range(0)));
    const uint64_t before = world.fake->messagesSent;
    for (auto _ : state) {
        world.session.Broadcast(world.npcs);
    }
    state.counters["players"] = static_cast<double>(state.range(0));
    state.counters["updates_per_broadcast"] =
        static_cast<double>(world.fake->messagesSent - before) /
        static_cast<double>(state.iterations());
}
BENCHMARK(BM_NpcBroadcast)->Arg(100)->Arg(250)->Arg(500)->Arg(1000);

}  // namespace
