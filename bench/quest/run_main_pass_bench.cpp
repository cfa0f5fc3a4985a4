// What the server script's main pass costs a game tick. Nothing is parsed in advance: every
// pass searches the stored lines for their keywords again, so the cost grows with the script.
// A script may run at most 500 lines; its pass should stay under 0.25 ms (half a percent of a
// 50 ms tick).

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include <unistd.h>

#include "npc/main_object_set.h"
#include "npc/npc_codes.h"
#include "quest/server_quest_loader.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

namespace {

// 500 lines in blocks of five: a condition with AND on a global and the clock, a global
// update, a direct walk command for one of ten NPCs, ENDIF, and an expression of clock terms.
// Every condition holds, so every line runs on every pass.
std::string FiveHundredLineScript() {
    std::string script;
    for (int block = 0; block < 100; ++block) {
        const std::string global = std::to_string(block % 90 + 1);
        const std::string npc = std::to_string(block % 10 + 1);
        script += "IF GLOBAL[" + global + "] > -1 AND HOUR_COUNT < 24\n";
        script += " SET_GLOBAL(GLOBAL[" + global + "], GLOBAL[" + global + "] % 1000 + 1)\n";
        script += " NPC[" + npc + "]>WALKTO(" + std::to_string(100 + block) + ",200)\n";
        script += "ENDIF\n";
        script += "SET_GLOBAL(GLOBAL[99], HOUR_COUNT * 60 + MINUTE_COUNT + DAY_COUNT)\n";
    }
    return script;
}

class BenchWorld {
public:
    BenchWorld() {
        dir_ = std::filesystem::temp_directory_path() /
               ("er-quest-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "script");
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        std::FILE* file = std::fopen("script/ERtest2.ers", "w");
        const std::string script = FiveHundredLineScript();
        std::fwrite(script.data(), 1, script.size(), file);
        std::fclose(file);

        clock.InitNightDay();
        weather.InitWeather();
        npcs.npcCount = 10;
        for (int slot = 0; slot < 10; ++slot) {
            npcs.Npc(slot).type = kTypePersonscript;
        }
        loader = std::make_unique<CServerQuestLoader>(npcs, clock, weather, [] { return 0.05f; });
        loader->script()->Load("script\\ERtest2.ers");
    }
    ~BenchWorld() {
        loader.reset();
        std::error_code error;
        std::filesystem::current_path(previous_, error);
        std::filesystem::remove_all(dir_, error);
    }

    ManualTimeSource time{1000};
    std::atomic<int32_t> rate{50};
    CMainObjectSet npcs{[this] { return time.AppTime(); }, rate};
    NightDay clock{time};
    RuntimeRandom random;
    GameWeather weather{random};
    std::unique_ptr<CServerQuestLoader> loader;

private:
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

void BM_RunMainPass500Lines(benchmark::State& state) {
    BenchWorld world;
    CServerScript& script = *world.loader->script();
    if (script.lineCount != 500) {
        state.SkipWithError("the script did not load 500 lines");
        return;
    }
    for (auto _ : state) {
        script.RunMainPass();
        benchmark::DoNotOptimize(world.loader->globals[0]);
    }
    state.counters["lines"] = script.lineCount;
}
BENCHMARK(BM_RunMainPass500Lines)->Unit(benchmark::kMicrosecond);

}  // namespace
