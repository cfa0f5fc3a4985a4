// What one game tick of the default world costs the server: the server script's pass, the
// XScript program, the 23 villagers' moves and their updates and speech to three players who
// stand where the play test puts them (Ann and Bob in the square, Cal at the watchtower). A
// tick must stay under 0.5 ms, a hundredth of its 50 ms.
//
// Each iteration is one game tick 50 ms after the last, so the bread's story, the rounds and
// the clock run on as in the real server; every fifth tick also moves the clock.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "net/game_messages.h"
#include "quest/server_quest_loader.h"
#include "support/fake_session.h"
#include "support/null_session_console.h"
#include "support/session_test_world.h"
#include "support/temp_dir.h"
#include "world/game_tick.h"
#include "xscript/xscript.h"

namespace {

std::vector<uint8_t> Report(float x, float y) {
    std::vector<uint8_t> bytes(kPositionReportSize, 0);
    PutU32(bytes.data(), kMsgPlayerMoving);
    PutF32(bytes.data() + 8, x);
    PutF32(bytes.data() + 12, y);
    return bytes;
}

struct Village : SessionTestWorld {
    Village() : SessionTestWorld(1000) {
        std::filesystem::copy(GAMEDATA_DIR, dir.path(), std::filesystem::copy_options::recursive);
        loaded = quest.LoadQuest(kQuestFile);
        npcs.SetAudience(&session);
        clock.sendSkyWeather = [this](uint32_t sky, float volume, uint32_t lightning) {
            session.SendSkyWeather(sky, volume, lightning);
        };
        session.StartServer();
        for (auto [name, x, y] :
             {std::tuple(u"Ann", 130.0f, 40.0f), std::tuple(u"Bob", 130.0f, 180.0f),
              std::tuple(u"Cal", 800.0f, 600.0f)}) {
            fake->Deliver(fake->Connect(name), Report(x, y));
        }
        tick.TakeFirstTickTime();
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};  // the world's files are read relative to it
    NullSessionConsole console;
    FakeSession* fake = nullptr;
    NetworkSession session{settings, rates, random, World(), console, [this] {
                               auto created = std::make_unique<FakeSession>();
                               fake = created.get();
                               return created;
                           }};
    CServerQuestLoader quest{npcs, clock, weather, [this] { return tick.frameTime(); }};
    GameTick tick{time, clock, weather,
                  GameTickSteps{[this] { quest.script()->RunMainPass(); },
                                [this] {
                                    std::lock_guard lock(session.playerLock());
                                    quest.engine()->Run();
                                },
                                [this](float frameTime) { npcs.Tick(frameTime); },
                                [](TickField, const char*) {}}};
    bool loaded = false;
};

void BM_VillageTick(benchmark::State& state) {
    Village village;
    if (!village.loaded || village.npcs.npcCount != 23) {
        state.SkipWithError("the default world did not load its 23 NPCs");
        return;
    }
    size_t messages = 0;
    for (auto _ : state) {
        village.time.Advance(GameTick::kIntervalMs);
        village.tick.Run();
        messages +=
            village.fake->TakeSent().size();  // the session's sends, as a real one takes them
    }
    state.counters["npcs"] = village.npcs.npcCount;
    state.counters["script_lines"] = village.quest.script()->lineCount;
    state.counters["msgs_per_tick"] =
        static_cast<double>(messages) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_VillageTick)->Unit(benchmark::kMicrosecond);

}  // namespace
