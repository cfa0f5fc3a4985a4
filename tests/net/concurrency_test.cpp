#include <atomic>
#include <chrono>
#include <thread>

#include "session_fixture.h"

namespace {

using ConcurrencyTest = SessionTest;

// Joins, leaves, position reports, chats and NPC-text requests from several threads while the
// window thread ticks, broadcasts and rewrites a message map. Under ThreadSanitizer this is
// the race check; everywhere it checks that every record is destroyed exactly once (a double
// destruction or a leak shows under AddressSanitizer) and that the count returns to zero.
TEST_F(ConcurrencyTest, PlayersComeAndGoWhileTheWindowThreadTicks) {
    Host();
    for (int32_t slot = 0; slot < 10; ++slot) {
        npcs.Npc(slot).posX = static_cast<float>(slot * 20);
        npcs.npcCount = slot + 1;
    }
    npcs.SetAudience(&session);
    rates.npcUpdateRate = 0;
    rates.reliableRate = 50;

    constexpr int kThreads = 4;
    constexpr int kRounds = 60;
    std::atomic<bool> stop{false};
    std::thread window([&] {
        while (!stop) {
            time.Advance(50);
            npcs.Tick(0.05f);
            {
                std::lock_guard lock(npcs.messageMapLock);
                std::strcpy(npcs.Npc(1).messageMap[0].text, (time.Milliseconds() / 50) % 2 ? "odd" : "even");
            }
            {
                std::lock_guard lock(session.playerLock());  // as the XScript run holds it
            }
            // Ticks come at a pace, not back to back: a window thread that spun would bury the
            // clients under broadcasts (and starve them of the lock under ThreadSanitizer).
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::vector<std::thread> clients;
    for (int t = 0; t < kThreads; ++t) {
        clients.emplace_back([&, t] {
            std::vector<uint8_t> npcText = Message(kMsgNpcText, {0, 0, 0, 0, 1, 0, 0, 0});
            for (int round = 0; round < kRounds; ++round) {
                const DPNID me = fake->Connect(u"client");
                for (int i = 0; i < 5; ++i) {
                    fake->Deliver(me, Position(i % 2 ? kMsgPlayerMoving : kMsgPlayerStopped,
                                               static_cast<float>(t * 10 + i), 0.0f));
                    fake->Deliver(me, Message(kMsgChat, {'h', 'i', 0}));
                    fake->Deliver(me, npcText);
                    fake->Deliver(me, Message(kMsgPlayerTag, {static_cast<uint8_t>(round), 0, 0, 0}));
                }
                if (round % 3 != 0) {
                    fake->Disconnect(me);  // the rest leave when the session closes
                }
            }
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    stop = true;
    window.join();

    EXPECT_EQ(session.playerCount(), kThreads * kRounds / 3);
    session.StopServer(false);
    EXPECT_EQ(session.playerCount(), 0);
    EXPECT_FALSE(session.hosting());
}

}  // namespace
