#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "session_fixture.h"

namespace {

// Joins, leaves, position reports, chats, tags and NPC-text requests from several threads
// while the window thread ticks, broadcasts and rewrites a message map: the race check under
// ThreadSanitizer; everywhere, every record is destroyed exactly once (AddressSanitizer shows
// a double destruction or a leak) and the count returns to zero.
TEST(ConcurrencyTest, PlayersComeAndGoWhileTheWindowThreadTicks) {
    SessionRig rig;
    ASSERT_EQ(rig.session.StartServer(), S_OK);
    for (int32_t slot = 0; slot < 10; ++slot) {
        rig.npcs.Npc(slot).posX = static_cast<float>(slot * 20);
    }
    rig.npcs.npcCount = 10;
    rig.npcs.SetAudience(&rig.session);
    rig.rates.npcUpdateRate = 0;
    rig.rates.reliableRate = 50;
    constexpr int kThreads = 4, kRounds = 60;
    std::atomic<bool> stop{false};
    std::thread window([&] {
        while (!stop) {
            rig.time.Advance(50);
            rig.npcs.Tick(0.05f);
            {
                std::lock_guard lock(rig.npcs.messageMapLock);
                std::strcpy(rig.npcs.Npc(1).messageMap[0].text,
                            (rig.time.Milliseconds() / 50) % 2 ? "odd" : "even");
            }
            std::lock_guard{rig.session.playerLock()};  // as the XScript run holds it
            // Ticks come at a pace: a window thread that spun would bury the clients under
            // broadcasts (and starve them of the lock under ThreadSanitizer).
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const DPNID me = rig.fake->Connect(u"client");
                for (int i = 0; i < 5; ++i) {
                    rig.fake->Deliver(me, Pos(i % 2 ? kMsgPlayerMoving : kMsgPlayerStopped,
                                              static_cast<float>(t * 10 + i), 0.0f));
                    rig.fake->Deliver(me, Msg(kMsgChat, {'h', 'i', 0}));
                    rig.fake->Deliver(me, Msg(kMsgNpcText, {0, 0, 0, 0, 1, 0, 0, 0}));
                    rig.fake->Deliver(me, Msg(kMsgPlayerTag, {uint8_t(round), 0, 0, 0}));
                }
                if (round % 3 != 0) {
                    rig.fake->Disconnect(me);  // the rest leave when the session closes
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    stop = true;
    window.join();

    EXPECT_EQ(rig.session.playerCount(), kThreads * kRounds / 3);
    rig.session.StopServer(false);
    EXPECT_EQ(rig.session.playerCount(), 0);
    EXPECT_FALSE(rig.session.hosting());
}

}  // namespace
