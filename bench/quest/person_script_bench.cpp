// What person scripts and the XScript host functions cost a game tick. Forty NPCs walk, say,
// wait and fill a message-map entry in person-script blocks that the main section resets
// whenever they finish; the XScript program reads and writes every NPC once per run. Both
// should stay far below a millisecond, a fiftieth of the 50 ms tick.

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
#include "xscript/xscript.h"

namespace {

constexpr int kNpcs = 40;

std::string Number(int n) {
    return (n < 10 ? "0" : "") + std::to_string(n);
}

// 402 lines: a reset test per NPC, the section call, and one seven-line block per NPC.
std::string BlocksScript() {
    std::string script;
    for (int n = 1; n <= kNpcs; ++n) {
        script += "IF NPC[" + Number(n) + "]>ENDED[1] = 1\n";
        script += " NPC[" + Number(n) + "]>RESET_SCRIPT(1)\n";
        script += "ENDIF\n";
    }
    script += "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\n";
    for (int n = 1; n <= kNpcs; ++n) {
        const std::string npc = "NPC[" + Number(n) + "]>";
        const std::string x = std::to_string(100 + 5 * n);
        script += "PERSON_BEGIN[" + Number(n) + "]\n";
        script += npc + "WALKTO(" + x + " + 7, 200)\n";
        script += npc + "SAY ($Hello there$)\n";
        script += npc + "WAIT (3)\n";
        script += npc + "MESSAGE_MAP[01](2,3,TRUE)$Where to?$\n";
        script += npc + "WALKTO(" + x + ", 200)\n";
        script += "PERSON_END[" + Number(n) + "]\n";
    }
    return script;
}

// Every NPC read twice and given a message-map entry: 120 host calls a run.
std::string HostCallsProgram() {
    std::string program;
    for (int n = 1; n <= kNpcs; ++n) {
        const std::string npc = std::to_string(n);
        program += "x = GetVar(\"NPC\", " + npc + ", \"XPOS\");\n";
        program += "e = GetVarEx(\"NPC\", " + npc + ", \"ENDED\", 0);\n";
        program += "if (x > 100) { NPC_MessageMap(" + npc + ", 2, \"1,3.\", 1, \"Far east\"); }\n";
    }
    return program;
}

class BenchWorld {
public:
    BenchWorld() {
        dir_ = std::filesystem::temp_directory_path() /
               ("er-person-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_ / "script");
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        Write("script/ERtest2.ers", BlocksScript());
        Write("script/XScript.txt", HostCallsProgram());

        clock.InitNightDay();
        weather.InitWeather();
        npcs.npcCount = kNpcs;
        for (int slot = 0; slot < kNpcs; ++slot) {
            npcs.Npc(slot).posX = static_cast<float>(105 + 5 * slot);
            npcs.Npc(slot).posY = 200.0f;
            npcs.Npc(slot).slot = slot;
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
    static void Write(const char* path, const std::string& text) {
        std::FILE* file = std::fopen(path, "w");
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

// One tick's script pass and NPC movement with forty NPCs cycling through their blocks.
void BM_PersonBlocksTick(benchmark::State& state) {
    BenchWorld world;
    CServerScript& script = *world.loader->script();
    if (script.lineCount != 3 * kNpcs + 2 + 7 * kNpcs) {
        state.SkipWithError("the script did not load as written");
        return;
    }
    int64_t finished = 0;
    for (auto _ : state) {
        script.RunMainPass();
        world.npcs.Tick(0.05f);
        finished += world.npcs.Npc(0).scriptEnded[0];
    }
    state.counters["lines"] = script.lineCount;
    state.counters["rounds_of_npc_1"] = static_cast<double>(finished);
}
BENCHMARK(BM_PersonBlocksTick)->Unit(benchmark::kMicrosecond);

// One run of the XScript program with its 120 host calls.
void BM_HostFunctionsRun(benchmark::State& state) {
    BenchWorld world;
    CXScript& engine = *world.loader->engine();
    for (auto _ : state) {
        engine.Run();
    }
    if (std::string(world.npcs.Npc(kNpcs - 1).messageMap[1].text) != "Far east") {
        state.SkipWithError("the host functions did not fill the message maps");
    }
    state.counters["host_calls"] = 3 * kNpcs;
}
BENCHMARK(BM_HostFunctionsRun)->Unit(benchmark::kMicrosecond);

}  // namespace
