#pragma once
// The world as the XScript host functions reach it. The engine calls its one function handler
// with nothing but itself and the called name, so each engine is bound to its world here; the
// quest loader binds its engine once the person-script store exists and unbinds it before the
// engine goes. An engine without a world still takes every call's arguments off its stack.

#include <cstdint>
#include <string_view>

class CMainObjectSet;
class CPersonScriptStore;
class CXScript;

struct HostWorld {
    CMainObjectSet* npcs = nullptr;
    CPersonScriptStore* personScripts = nullptr;
};

void BindHostWorld(const CXScript* engine, HostWorld world);
void UnbindHostWorld(const CXScript* engine);

// The value GetVar and GetVarEx give for property `property` of NPC number `npc` (1-50):
// XPOS, YPOS, MESSAGE, INSTRUCTION, or ENDED of person script endedIndex + 1, the name
// compared exactly. -1 for any other name and for an NPC number outside 1-50; ENDED with an
// index outside 0-9 reads 0.
int32_t NpcPropertyValue(const CMainObjectSet& npcs, int32_t npc, std::string_view property,
                         int32_t endedIndex);

// NPC_MessageMap: fills entry `entry` (1-10) of NPC number `npc` (1-50) from a link list such
// as "3,4." (each number minus 1, at most five kept), a flag code (1 sets the flag, 2 clears
// it, others keep it) and a text. Numbers out of range write nothing.
void HostMessageMap(CMainObjectSet& npcs, int32_t npc, int32_t entry, std::string_view linkList,
                    int32_t flagCode, const char* text);
