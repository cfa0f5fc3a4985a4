#pragma once
// CServerQuestLoader holds the scripted world: the server script, the XScript engine with its
// host functions, the person-script store and the table of script globals. At start-up it
// reads the quest file, a map of screens on which the world's NPCs are placed, creates those
// NPCs through the NPC list "npc\clist.nst", and loads the server script.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "quest/person_script_store.h"
#include "quest/script_world.h"
#include "quest/server_script.h"

class CMainObjectSet;
class CXScript;
class NightDay;
class GameWeather;

constexpr int32_t kQuestScreenSlots = 1000;
constexpr int32_t kScreenWidth = 320;   // world units
constexpr int32_t kScreenHeight = 240;  // world units
// One read of the NPC list takes at most 49 characters, the line end included.
constexpr int32_t kNpcListLineSize = 50;  // bytes, terminating zero included

constexpr const char* kQuestFile = "screens\\ERtest2.qst";
constexpr const char* kNpcListFile = "npc\\clist.nst";
constexpr const char* kServerScriptFile = "script\\ERtest2.ers";
constexpr const char* kXScriptFile = "script\\XScript.txt";

struct QuestScreen {
    int32_t column = 0;
    int32_t row = 0;
    int32_t offset = 0;  // byte offset of the screen's object block in the quest file
};

class CServerQuestLoader {
public:
    // Creates the server script, sets up the XScript engine and creates the person-script
    // store. `frameTime` gives the seconds of the running game tick to the wait commands.
    CServerQuestLoader(CMainObjectSet& npcs, const NightDay& clock, const GameWeather& weather,
                       std::function<float()> frameTime);
    ~CServerQuestLoader();
    CServerQuestLoader(const CServerQuestLoader&) = delete;
    CServerQuestLoader& operator=(const CServerQuestLoader&) = delete;

    // Reads the quest file, places its NPCs and loads the server script. False when the quest
    // file cannot be opened; then nothing is loaded.
    bool LoadQuest(const char* fileName);
    // The quest file alone: the screens and the NPC placements, no server script.
    bool LoadQuestMap(const char* fileName);
    void PlaceQuestNPCs(std::FILE* questFile);
    void PlaceNPC(int32_t worldX, int32_t worldY, const char* name);

    CServerScript* script() { return script_.get(); }
    CXScript* engine() { return engine_.get(); }
    CPersonScriptStore* personScripts() { return personScripts_.get(); }

    QuestScreen screens[kQuestScreenSlots] = {};
    int32_t screenCount = 0;
    int32_t headerNumber = 0;
    int32_t globals[kGlobalCount] = {};

    // Called for every NPC the list places, after it is placed (tools watch the placement).
    std::function<void(int32_t slot, int32_t worldX, int32_t worldY, const char* name)> onPlaced;
    // Called for a placement whose name no list line holds.
    std::function<void(int32_t worldX, int32_t worldY, const char* name)> onUnmatched;
    // Called for a list line that would have created an NPC in a full NPC set.
    std::function<void(int32_t worldX, int32_t worldY, const char* name)> onRefused;
    // The screen count the quest file declared (screenCount keeps at most kQuestScreenSlots).
    int32_t declaredScreens = 0;

private:
    CMainObjectSet& npcs_;
    std::unique_ptr<CServerScript> script_;
    std::unique_ptr<CXScript> engine_;
    std::unique_ptr<CPersonScriptStore> personScripts_;
    bool reportedFull_ = false;
};

// The world position of a placement: the screen's corner plus half the offset from 100,
// rounded down (x = 99 lies one unit left of the screen's edge). Wraps like 32-bit arithmetic.
int32_t PlacementWorldX(int32_t column, int32_t x);
int32_t PlacementWorldY(int32_t row, int32_t y);
