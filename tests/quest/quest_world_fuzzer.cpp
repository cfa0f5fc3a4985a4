// Any quest file, server script and XScript program: loading them and running ticks, with the
// person-script commands and the host functions, must stay within bounds and finish. The
// input is the quest file, then "@@@", then the server script, then "@@@" and the XScript
// program (each part may be missing).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

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

void WriteFile(const char* path, std::string_view bytes) {
    std::FILE* file = std::fopen(path, "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

// A working directory of our own with an NPC list and definitions.
void EnterWorld() {
    static bool entered = false;
    if (entered) {
        return;
    }
    entered = true;
    const auto dir =
        std::filesystem::temp_directory_path() / ("er-quest-fuzz-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "npc");
    std::filesystem::create_directories(dir / "screens");
    std::filesystem::create_directories(dir / "script");
    std::filesystem::current_path(dir);
    WriteFile("npc/clist.nst", "Guard\nGuard2\nMiller\nOld\n");
    WriteFile("npc/chars.npc", "[NAME]\nGuard\n[TYPE]\npersonscript\n[SPEED]\n40\n");
    WriteFile("script/walk.txt", "NPC[01]>WALKTO(1,2)\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EnterWorld();
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find("@@@");
    const std::string_view quest = input.substr(0, split);
    std::string_view script =
        split == std::string_view::npos ? std::string_view() : input.substr(split + 3);
    const size_t programSplit = script.find("@@@");
    const std::string_view program = programSplit == std::string_view::npos
                                         ? std::string_view()
                                         : script.substr(programSplit + 3);
    script = script.substr(0, programSplit);
    WriteFile("screens/ERtest2.qst", quest);
    WriteFile("script/ERtest2.ers", script);
    WriteFile("script/XScript.txt", program);

    ManualTimeSource time(1000);
    std::atomic<int32_t> rate{50};
    CMainObjectSet npcs([&time] { return time.AppTime(); }, rate);
    NightDay clock(time);
    clock.InitNightDay();
    RuntimeRandom random;
    GameWeather weather(random);
    weather.InitWeather();
    CServerQuestLoader loader(npcs, clock, weather, [] { return 0.05f; });
    loader.LoadQuest(kQuestFile);
    for (int32_t slot = 0; slot < 3; ++slot) {
        npcs.Npc(slot).type = kTypePersonscript;
    }
    if (npcs.npcCount < 3) {
        npcs.npcCount = 3;
    }
    for (int tick = 1; tick <= 6; ++tick) {
        loader.script()->RunMainPass();
        loader.engine()->Run();
        npcs.Tick(0.05f);
        if (tick % 5 == 0) {
            clock.UpdateNightDay(weather);
        }
    }
    return 0;
}
