#include "shell/simulation.h"

#include <gtest/gtest.h>

#include <string>

#include "npc/main_object_set.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

namespace {

TEST(SimulationDumpDue, AfterEveryKthTickAndTheLastAndOnlyTheLastForZero) {
    std::string due;
    for (int64_t tick = 1; tick <= 7; ++tick)
        due += SimulationDumpDue(tick, 7, 3) ? "y" : "n";
    EXPECT_EQ(due, "nnynnyy");
    EXPECT_TRUE(SimulationDumpDue(5, 5, 0) && !SimulationDumpDue(4, 5, 0));
}

TEST(StateBlockTest, PrintsTheClockAndEveryPlacedNpcWithEscapedTexts) {
    ManualTimeSource time{1000};
    std::atomic<int32_t> rate{50};
    CMainObjectSet npcs{[&] { return time.AppTime(); }, rate};
    NightDay clock{time};
    RuntimeRandom random;
    GameWeather weather{random};
    clock.InitNightDay(), weather.InitWeather();
    std::snprintf(clock.clockText, sizeof clock.clockText, "%s", "12 :  1");
    clock.shownHour = 12, clock.shownMinute = 1, clock.dayCount = 2;
    weather.raining = 1, weather.publishedVolume = 0.0125f;
    npcs.npcCount = 1;
    CServerNPC& npc = npcs.Npc(0);
    npc.posX = 1.0f / 3.0f, npc.posY = -2.5f, npc.scriptEnded[1] = 1, npc.currentMessage = -1;
    std::snprintf(npc.sayText, sizeof npc.sayText, "%s", "Hi \"you\"\\\x01\xE9");
    npc.messageMap[1] = MessageMapEntry{"Where to?", {2, -1}, 2, 0};
    npc.messageMap[6].flag = 1;  // entries 6-10 start with the placeholder too
    npc.messageMap[8].text[0] = '\0';

    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    PrintStateBlock(out, 12, clock, weather, nullptr, npcs);
    std::fclose(out);
    EXPECT_EQ(std::string(buffer, size),
              "# tick 12\n"
              "clock day=2 hour=12 minute=1 text=\"12 :  1\" sky=0xECF8F7 raining=1 "
              "volume=0.013 lightning=0\n"
              "globals\n"
              "npc 0 pos=0.333,-2.500 facing=2 head=2 action=0 visible=1 speed=35.000 type=0 "
              "message=-1 instruction=0 count=-1 ended=0100000000 wait=0.000 target=0,0 "
              "say=\"Hi \\\"you\\\"\\\\\\x01\\xE9\"\n"
              "map 0 2 flag=0 links=2,-1 text=\"Where to?\"\n"
              "map 0 7 flag=1 links= text=\"... `\"\n"
              "map 0 9 flag=0 links= text=\"\"\n");
    std::free(buffer);
}

}  // namespace
