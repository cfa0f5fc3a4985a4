#pragma once
// The NPC set, clock, rain and quest loader of quest tests, in a fresh working directory.

#include <atomic>
#include <memory>
#include <string>

#include "npc/main_object_set.h"
#include "npc/npc_codes.h"
#include "quest/server_quest_loader.h"
#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

namespace quest_test {

class QuestWorld {
public:
    // `npcCount` person-script NPCs placed at (100, 100), slots 0 up.
    explicit QuestWorld(int npcCount = 0) {
        clock.InitNightDay();
        weather.InitWeather();
        for (npcs.npcCount = 0; npcs.npcCount < npcCount; ++npcs.npcCount) {
            npcs.Npc(npcs.npcCount).Place(100, 100, "nobody");
            npcs.Npc(npcs.npcCount).slot = npcs.npcCount;
            npcs.Npc(npcs.npcCount).type = kTypePersonscript;
        }
    }
    // Made on first use, once the data files (the XScript program) are in place.
    CServerQuestLoader& Loader() {
        if (!loader) {
            loader = std::make_unique<CServerQuestLoader>(npcs, clock, weather,
                                                          [this] { return frameTime; });
        }
        return *loader;
    }
    CServerScript& Script() { return *Loader().script(); }
    CServerScript& LoadScript(const std::string& text) {
        dir.Write("script/ERtest2.ers", text);
        Script().Load("script\\ERtest2.ers");
        return Script();
    }
    // The non-zero globals, as "G1=5 G3=8".
    std::string Globals() {
        std::string text;
        for (int32_t n = 1; n <= kGlobalCount; ++n) {
            const int32_t value = Script().Global(n);
            text += value ? " G" + std::to_string(n) + "=" + std::to_string(value) : "";
        }
        return text.empty() ? text : text.substr(1);
    }
    std::string Log() const { return dir.Read("ErrorChk.txt"); }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time{1000};
    std::atomic<int32_t> npcRate{50};
    CMainObjectSet npcs{[this] { return time.AppTime(); }, npcRate};
    NightDay clock{time};
    RuntimeRandom random;
    GameWeather weather{random};
    float frameTime = 0.05f;
    std::unique_ptr<CServerQuestLoader> loader;
};

// How often `part` occurs in `text`.
inline int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// A message-map entry as "links flag text": "2,3, f1 Where to?".
inline std::string Entry(const MessageMapEntry& entry) {
    std::string text;
    for (int i = 0; i < entry.linkCount; ++i)
        text += std::to_string(entry.links[i]) + ",";
    return text + " f" + std::to_string(entry.flag) + " " + entry.text;
}

}  // namespace quest_test
