// Any quest file, server script and XScript program: loading them and running ticks, with the
// person-script commands and the host functions, must stay within bounds and finish. The
// input is the quest file, then "@@@", then the server script, then "@@@" and the XScript
// program (each part may be missing).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quest/quest_world.h"
#include "xscript/xscript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t npos = std::string_view::npos;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find("@@@");
    const std::string_view script = split == npos ? "" : input.substr(split + 3);
    const size_t programSplit = script.find("@@@");
    quest_test::QuestWorld world(3);
    world.dir.Write("screens/ERtest2.qst", std::string(input.substr(0, split)));
    world.dir.Write("script/ERtest2.ers", std::string(script.substr(0, programSplit)));
    world.dir.Write("script/XScript.txt",
                    programSplit == npos ? "" : std::string(script.substr(programSplit + 3)));
    world.dir.Write("npc/clist.nst", "Guard\nGuard2\nMiller\nOld\n");
    world.dir.Write("npc/chars.npc", "[NAME]\nGuard\n[TYPE]\npersonscript\n[SPEED]\n40\n");
    world.dir.Write("script/walk.txt", "NPC[01]>WALKTO(1,2)\n");
    world.Loader().LoadQuest(kQuestFile);
    for (int tick = 1; tick <= 6; ++tick) {
        world.Script().RunMainPass();
        world.Loader().engine()->Run();
        world.npcs.Tick(world.frameTime);
        if (tick % 5 == 0) {
            world.clock.UpdateNightDay(world.weather);
        }
    }
    return 0;
}
