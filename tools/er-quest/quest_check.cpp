#include "quest_check.h"

#include <atomic>
#include <memory>

#include "npc/main_object_set.h"
#include "quest/server_quest_loader.h"
#include "quest/text_escape.h"
#include "base/data_path.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

namespace {

std::string Quoted(const char* text) {
    return "\"" + EscapeText(text) + "\"";
}

bool FileExists(const char* windowsPath) {
    std::FILE* file = OpenDataFile(windowsPath, "r");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

}  // namespace

int CheckQuest(const std::string& questPath, std::FILE* out) {
    std::FILE* probe = std::fopen(questPath.c_str(), "rb");
    if (probe == nullptr) {
        std::fprintf(out, "error: cannot open %s\n", questPath.c_str());
        return 2;
    }
    std::fclose(probe);

    ManualTimeSource time(0);
    std::atomic<int32_t> rate{50};
    CMainObjectSet npcs([&time] { return time.AppTime(); }, rate);
    NightDay clock(time);
    clock.InitNightDay();
    RuntimeRandom random;
    GameWeather weather(random);
    weather.InitWeather();
    CServerQuestLoader loader(npcs, clock, weather, [] { return 0.0f; });

    int problems = 0;
    const bool haveList = FileExists(kNpcListFile);
    if (!haveList) {
        std::fprintf(out, "problem: the NPC list npc/clist.nst is missing: no NPC is placed\n");
        ++problems;
    }
    if (!FileExists("npc\\chars.npc")) {
        std::fprintf(out,
                     "problem: the NPC definitions npc/chars.npc are missing: placed NPCs get no "
                     "kind and the default speed\n");
        ++problems;
    }

    int refused = 0;
    std::string lines;
    if (haveList) {
        loader.onPlaced = [&](int32_t slot, int32_t x, int32_t y, const char* name) {
            char line[160];
            std::snprintf(line, sizeof line, "npc %d world=%d,%d name=%s type=%d\n", slot, x, y,
                          Quoted(name).c_str(), npcs.Npc(slot).type);
            lines += line;
        };
        loader.onUnmatched = [&](int32_t x, int32_t y, const char* name) {
            lines += "problem: no NPC list line holds the name " + Quoted(name) + " (placed at " +
                     std::to_string(x) + "," + std::to_string(y) + ")\n";
            ++problems;
        };
        loader.onRefused = [&](int32_t x, int32_t y, const char* name) {
            lines += "problem: the NPC set is full (50 NPCs): " + Quoted(name) + " at " +
                     std::to_string(x) + "," + std::to_string(y) + " is not placed\n";
            ++refused;
        };
    }
    loader.LoadQuestMap(questPath.c_str());

    std::fprintf(out, "quest %s: header %d, %d screens declared\n", questPath.c_str(),
                 loader.headerNumber, loader.declaredScreens);
    for (int32_t i = 0; i < loader.screenCount; ++i) {
        const QuestScreen& screen = loader.screens[i];
        std::fprintf(out, "screen %d column=%d row=%d world=%d,%d\n", i, screen.column, screen.row,
                     PlacementWorldX(screen.column, 100), PlacementWorldY(screen.row, 100));
    }
    std::fputs(lines.c_str(), out);
    if (loader.declaredScreens > kQuestScreenSlots) {
        std::fprintf(out, "problem: %d screens declared, only the first %d are used\n",
                     loader.declaredScreens, kQuestScreenSlots);
        ++problems;
    }
    if (refused > 0) {
        ++problems;
    }
    std::fprintf(out, "summary: %d screens, %d NPCs placed of %d slots, %d refused, %d problems\n",
                 loader.screenCount, npcs.npcCount, CMainObjectSet::kSlotCount, refused, problems);
    return problems == 0 ? 0 : 1;
}
