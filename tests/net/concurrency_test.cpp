#include <atomic>
#include <cstring>
#include <thread>

#include "session_fixture.h"

namespace {

// Clients come and go on several threads while the window thread ticks (checked by the sanitizers).
TEST(ConcurrencyTest, PlayersComeAndGoWhileTheWindowThreadTicks) {
    SessionRig rig;
    ASSERT_EQ(rig.session.StartServer(), S_OK);
    for (int32_t slot = 0; slot < 10; ++slot)
        rig.npcs.Npc(slot).posX = float(slot * 20);
    rig.npcs.npcCount = 10, rig.rates.npcUpdateRate = 0, rig.rates.reliableRate = 50;
    rig.npcs.SetAudience(&rig.session);
    constexpr int kThreads = 4, kRounds = 60;
    std::atomic<bool> stop{false};
    std::thread window([&] {
        while (!stop) {
            // At a pace: a spinning window thread would bury the clients under broadcasts.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rig.time.Advance(50), rig.npcs.Tick(0.05f);
            std::lock_guard players(rig.session.playerLock());  // as the XScript run holds it
            std::lock_guard lock(rig.npcs.messageMapLock);
            std::strcpy(rig.npcs.Npc(1).messageMap[0].text,
                        rig.time.Milliseconds() % 100 ? "odd" : "even");
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t)
        clients.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const DPNID me = rig.fake->Connect(u"client");
                for (int i = 0; i < 5; ++i)
                    for (const auto& bytes :
                         {Pos(i % 2 ? kMsgPlayerMoving : kMsgPlayerStopped, float(t * 10 + i), 0),
                          Msg(kMsgChat, {'h', 'i', 0}), Msg(kMsgNpcText, {0, 0, 0, 0, 1, 0, 0, 0}),
                          Msg(kMsgPlayerTag, {uint8_t(round), 0, 0, 0})})
                        rig.fake->Deliver(me, bytes);
                if (round % 3 != 0)
                    rig.fake->Disconnect(me);  // the rest leave when the session closes
            }
        });
    for (auto& client : clients)
        client.join();
    stop = true, window.join();
    EXPECT_EQ(rig.session.playerCount(), kThreads * kRounds / 3);
    rig.session.StopServer(false);
    EXPECT_EQ(std::pair(rig.session.playerCount(), rig.session.hosting()), std::pair(0, false));
}

}  // namespace
