#pragma once
// A small world for quest and script tests: the NPC set, the clock, the rain and a quest
// loader built on them, in a fresh working directory that tests fill with data files.

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "npc/main_object_set.h"
#include "quest/server_quest_loader.h"
#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

namespace quest_test {

// The bytes of a quest file holding these fields, each ended by '~'.
inline std::string QuestBytes(const std::vector<std::string>& fields) {
    std::string bytes;
    for (const std::string& field : fields) {
        for (const char c : field) {
            bytes += static_cast<char>(static_cast<unsigned char>(c) ^ 0x80u);
        }
        bytes += '~';
    }
    return bytes;
}

class QuestWorld {
public:
    QuestWorld() : cwd(dir.path()) {
        clock.InitNightDay();
        weather.InitWeather();
    }

    // Creates the loader once the data files are in place (it loads the XScript file).
    CServerQuestLoader& Loader() {
        if (!loader) {
            loader = std::make_unique<CServerQuestLoader>(npcs, clock, weather,
                                                          [this] { return frameTime; });
        }
        return *loader;
    }
    CServerScript& Script() { return *Loader().script(); }

    // Writes a server script and loads it.
    CServerScript& LoadScript(const std::string& text) {
        dir.Write("script/ERtest2.ers", text);
        Script().Load("script\\ERtest2.ers");
        return Script();
    }

    std::string Log() const { return dir.Read("ErrorChk.txt"); }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd;
    ManualTimeSource time{1000};
    std::atomic<int32_t> npcRate{50};
    CMainObjectSet npcs{[this] { return time.AppTime(); }, npcRate};
    NightDay clock{time};
    RuntimeRandom random;
    GameWeather weather{random};
    float frameTime = 0.05f;
    std::unique_ptr<CServerQuestLoader> loader;
};

}  // namespace quest_test
