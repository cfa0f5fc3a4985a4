#pragma once
// A small world for quest and script tests: the NPC set, the clock, the rain and a quest
// loader built on them, in a fresh working directory that tests fill with data files.

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "npc/main_object_set.h"
#include "npc/npc_codes.h"
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
    // `npcs` placed person-script NPCs at (100, 100), slots 0 up.
    explicit QuestWorld(int npcCount = 0) {
        clock.InitNightDay();
        weather.InitWeather();
        npcs.npcCount = npcCount;
        for (int slot = 0; slot < npcCount; ++slot) {
            npcs.Npc(slot).Place(100, 100, "nobody");
            npcs.Npc(slot).slot = slot;
            npcs.Npc(slot).type = kTypePersonscript;
        }
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
    CServerScript& LoadScript(const std::string& text) {
        dir.Write("script/ERtest2.ers", text);
        Script().Load("script\\ERtest2.ers");
        return Script();
    }
    // Runs the main pass this many times.
    void Passes(int count) {
        for (int i = 0; i < count; ++i) {
            Script().RunMainPass();
        }
    }
    // The non-zero globals, as "G1=5 G3=8".
    std::string Globals() {
        std::string text;
        for (int32_t n = 1; n <= kGlobalCount; ++n) {
            if (Script().Global(n) != 0) {
                text += (text.empty() ? "G" : " G") + std::to_string(n) + "=" +
                        std::to_string(Script().Global(n));
            }
        }
        return text;
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

// What an NPC is doing: "x,y action instruction/count facing head speed message wait ended".
inline std::string Doing(const CServerNPC& npc) {
    char text[160];
    std::snprintf(text, sizeof text, "%g,%g a%d i%d/%d f%d h%d s%g m%d w%g e", npc.posX, npc.posY,
                  npc.action, npc.instruction, npc.instructionCount, npc.facing, npc.headFacing,
                  npc.speed, npc.currentMessage, npc.waitTimer);
    std::string ended = text;
    for (const uint8_t flag : npc.scriptEnded) {
        ended += static_cast<char>('0' + flag);
    }
    return ended;
}

}  // namespace quest_test
