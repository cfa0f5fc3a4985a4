#include "quest/server_quest_loader.h"

#include <cstring>
#include <utility>

#include "npc/main_object_set.h"
#include "npc/text_line_reader.h"
#include "quest/host_functions.h"
#include "quest/leading_number.h"
#include "quest/quest_field.h"
#include "quest/script_engine_setup.h"
#include "base/data_path.h"
#include "base/debug_log.h"
#include "xscript/xscript.h"

namespace {

// 32-bit arithmetic that wraps: positions of absurd screens stay defined.
int32_t Wrap(int64_t value) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

int32_t PlacementWorld(int32_t cell, int32_t size, int32_t offset) {
    const int32_t fromEdge = Wrap(int64_t{offset} - 100);
    // An arithmetic shift: the half of a negative offset rounds down.
    return Wrap(int64_t{cell} * size + (fromEdge >> 1));
}

// Skips `count` fields; stops early at the end of the file, where every further field would
// read as empty anyway.
void SkipFields(std::FILE* file, int64_t count) {
    char buffer[kQuestFieldSize];
    for (int64_t i = 0; i < count; ++i) {
        if (!ReadField(file, buffer)) {
            return;
        }
    }
}

}  // namespace

int32_t PlacementWorldX(int32_t column, int32_t x) {
    return PlacementWorld(column, kScreenWidth, x);
}

int32_t PlacementWorldY(int32_t row, int32_t y) {
    return PlacementWorld(row, kScreenHeight, y);
}

CServerQuestLoader::CServerQuestLoader(CMainObjectSet& npcs, const NightDay& clock,
                                       const GameWeather& weather, std::function<float()> frameTime)
    : npcs_(npcs) {
    ScriptWorld world;
    world.npcs = &npcs;
    world.clock = &clock;
    world.weather = &weather;
    world.globals = globals;
    world.frameTime = std::move(frameTime);
    script_ = std::make_unique<CServerScript>(std::move(world));
    engine_ = SetUpScriptEngine(kXScriptFile);
    personScripts_ = std::make_unique<CPersonScriptStore>();
    // The engine runs only from the game tick, so its host functions meet a complete world.
    BindHostWorld(engine_.get(), HostWorld{&npcs, personScripts_.get()});
}

CServerQuestLoader::~CServerQuestLoader() {
    UnbindHostWorld(engine_.get());
    engine_.reset();
    script_.reset();
    personScripts_.reset();
}

bool CServerQuestLoader::LoadQuest(const char* fileName) {
    if (!LoadQuestMap(fileName)) {
        return false;
    }
    script_->Load(kServerScriptFile);
    return true;
}

bool CServerQuestLoader::LoadQuestMap(const char* fileName) {
    // Binary: the flipped bytes of a field must arrive exactly as stored.
    std::FILE* file = OpenDataFile(fileName, "rb");
    if (file == nullptr) {
        LogLine("LoadQuest: QST file not found!\n");
        return false;
    }
    char field[kQuestFieldSize];

    screenCount = 0;
    ReadField(file, field);
    headerNumber = LeadingNumber(field);
    const int32_t declared = ReadNumberField(file);
    declaredScreens = declared;
    if (declared > kQuestScreenSlots) {
        LogLine("LoadQuest: More than 1000 screens, the rest are ignored!");
    }
    // Screens beyond the table's slots are read past but not kept.
    for (int64_t i = 0; i < declared; ++i) {
        const int32_t column = ReadNumberField(file);
        const int32_t row = ReadNumberField(file);
        if (i < kQuestScreenSlots) {
            screens[i].column = column;
            screens[i].row = row;
            ++screenCount;
        } else if (std::feof(file)) {
            break;
        }
    }
    SkipFields(file, 4);

    const int32_t kept = screenCount;
    screenCount = 0;
    for (int32_t i = 0; i < kept; ++i) {
        screens[i].offset = static_cast<int32_t>(std::ftell(file));
        SkipFields(file, int64_t{ReadNumberField(file)} * 3);
        SkipFields(file, int64_t{ReadNumberField(file)} * 6);
        ++screenCount;
    }

    PlaceQuestNPCs(file);
    std::fclose(file);
    return true;
}

void CServerQuestLoader::PlaceQuestNPCs(std::FILE* questFile) {
    char name[kQuestFieldSize];
    for (int32_t i = 0; i < screenCount && i < kQuestScreenSlots; ++i) {
        if (std::fseek(questFile, screens[i].offset, SEEK_SET) != 0) {
            continue;
        }
        const int32_t placements = ReadNumberField(questFile);
        for (int32_t p = 0; p < placements; ++p) {
            const int32_t x = ReadNumberField(questFile);
            const int32_t y = ReadNumberField(questFile);
            // A placement cut off by the end of the file places nothing.
            if (!ReadField(questFile, name)) {
                break;
            }
            PlaceNPC(PlacementWorldX(screens[i].column, x), PlacementWorldY(screens[i].row, y),
                     name);
        }
    }
}

void CServerQuestLoader::PlaceNPC(int32_t worldX, int32_t worldY, const char* name) {
    std::FILE* list = OpenDataFile(kNpcListFile, "r");
    if (list == nullptr) {
        LogLine("CServerQuestLoader: Could not load NPC list!");
        return;
    }
    bool matched = false;
    char line[kNpcListLineSize];
    while (ReadTextLine(list, line, kNpcListLineSize)) {
        // The last character is cut: normally the line end, otherwise the name's last letter.
        const size_t length = std::strlen(line);
        if (length > 0) {
            line[length - 1] = '\0';
        }
        if (std::strlen(line) <= 3 || std::strstr(line, name) == nullptr) {
            continue;
        }
        matched = true;
        const int32_t slot = npcs_.npcCount;
        if (!CMainObjectSet::ValidSlot(slot)) {
            // The set is full: further NPCs are not created, and the world author is told once.
            if (!reportedFull_) {
                LogLine("CServerQuestLoader: NPC set is full, further NPCs are not placed!");
                reportedFull_ = true;
            }
            if (onRefused) {
                onRefused(worldX, worldY, line);
            }
            continue;
        }
        CServerNPC& npc = npcs_.Npc(slot);
        npc.Place(worldX, worldY, line);
        npc.slot = slot;
        ++npcs_.npcCount;
        if (onPlaced) {
            onPlaced(slot, worldX, worldY, line);
        }
    }
    std::fclose(list);
    if (!matched && onUnmatched) {
        onUnmatched(worldX, worldY, name);
    }
}
