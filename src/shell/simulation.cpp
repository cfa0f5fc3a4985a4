#include "shell/simulation.h"

#include <cstring>
#include <string>
#include <string_view>

#include "npc/main_object_set.h"
#include "quest/server_quest_loader.h"
#include "quest/text_escape.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

std::string Quoted(const char* text, size_t size) {
    return "\"" + EscapeText(std::string_view(text, strnlen(text, size))) + "\"";
}

double Shown(float value) {
    return static_cast<double>(value);
}

// Whether a message-map entry still holds what a newly placed NPC has there: the placeholder
// text, no links and no flag.
bool IsStartState(const MessageMapEntry& entry) {
    if (std::strncmp(entry.text, kMessagePlaceholderText, sizeof entry.text) != 0 ||
        entry.linkCount != 0 ||
        entry.flag != 0) {
        return false;
    }
    for (const int8_t link : entry.links) {
        if (link != 0) {
            return false;
        }
    }
    return true;
}

void PrintNpc(std::FILE* out, int32_t slot, const CServerNPC& npc) {
    char ended[kNpcScriptCount * 4 + 1] = {};
    size_t used = 0;
    for (const uint8_t flag : npc.scriptEnded) {
        used += std::snprintf(ended + used, sizeof ended - used, "%u", flag);
    }
    std::fprintf(out,
                 "npc %d pos=%.3f,%.3f facing=%d head=%d action=%d visible=%u speed=%.3f type=%d "
                 "message=%d instruction=%d count=%d ended=%s wait=%.3f target=%d,%d say=%s\n",
                 slot, Shown(npc.posX), Shown(npc.posY), npc.facing, npc.headFacing, npc.action,
                 npc.visible, Shown(npc.speed), npc.type, npc.currentMessage, npc.instruction,
                 npc.instructionCount, ended, Shown(npc.waitTimer), npc.targetX, npc.targetY,
                 Quoted(npc.sayText, sizeof npc.sayText).c_str());
}

void PrintMessageMap(std::FILE* out, int32_t slot, const CServerNPC& npc) {
    for (int32_t e = 0; e < kNpcMessageMapSize; ++e) {
        const MessageMapEntry& entry = npc.messageMap[e];
        if (IsStartState(entry)) {
            continue;
        }
        std::string links;
        const int32_t count = entry.linkCount < 0                   ? 0
                              : entry.linkCount > kMessageLinkCount ? kMessageLinkCount
                                                                    : entry.linkCount;
        for (int32_t l = 0; l < count; ++l) {
            if (l > 0) {
                links += ',';
            }
            links += std::to_string(entry.links[l]);
        }
        std::fprintf(out, "map %d %d flag=%u links=%s text=%s\n", slot, e + 1, entry.flag,
                     links.c_str(), Quoted(entry.text, sizeof entry.text).c_str());
    }
}

}  // namespace

bool SimulationDumpDue(int64_t tick, int64_t ticks, int64_t dumpEvery) {
    return tick == ticks || (dumpEvery > 0 && tick % dumpEvery == 0);
}

void PrintStateBlock(std::FILE* out, int64_t tick, const NightDay& clock,
                     const GameWeather& weather, const CServerQuestLoader* quest,
                     const CMainObjectSet& npcs) {
    std::fprintf(out, "# tick %lld\n", static_cast<long long>(tick));
    std::fprintf(out,
                 "clock day=%d hour=%d minute=%d text=%s sky=0x%06X raining=%d volume=%.3f "
                 "lightning=%d\n",
                 clock.dayCount, clock.shownHour, clock.shownMinute,
                 Quoted(clock.clockText, sizeof clock.clockText).c_str(),
                 static_cast<unsigned>(clock.skyColour.load()), weather.raining,
                 Shown(weather.publishedVolume.load()), weather.lightning.load());

    std::fputs("globals", out);
    if (quest != nullptr) {
        for (int32_t n = 1; n <= kScriptGlobalCount; ++n) {
            if (quest->globals[n - 1] != 0) {
                std::fprintf(out, " %d=%d", n, quest->globals[n - 1]);
            }
        }
    }
    std::fputs("\n", out);

    const int32_t placed = npcs.npcCount < 0                            ? 0
                           : npcs.npcCount > CMainObjectSet::kSlotCount ? CMainObjectSet::kSlotCount
                                                                        : npcs.npcCount;
    for (int32_t slot = 0; slot < placed; ++slot) {
        PrintNpc(out, slot, npcs.Npc(slot));
    }
    for (int32_t slot = 0; slot < placed; ++slot) {
        std::lock_guard lock(npcs.messageMapLock);
        PrintMessageMap(out, slot, npcs.Npc(slot));
    }
}
