// The XScript host functions: reading NPC properties, filling message maps and registering
// person-script files, as the world's XScript program calls them.

#include "quest/host_functions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "npc/npc_codes.h"
#include "quest/script_engine_setup.h"
#include "quest_world.h"
#include "xscript/xscript.h"

namespace {

using quest_test::QuestWorld;

class HostFunctionsTest : public ::testing::Test {
protected:
    CServerNPC& Npc(int slot) { return world.npcs.Npc(slot); }
    CXScript& Engine() { return *world.Loader().engine(); }

    // Calls a host function with these values on the stack, as a script call would leave
    // them; the values it pushed, deepest first.
    std::vector<CXValue> Call(const char* name, const std::vector<CXValue>& arguments) {
        CXScript& engine = Engine();
        for (const CXValue& value : arguments) {
            engine.PushValue(value);
        }
        EXPECT_EQ(HostFunction(&engine, CXSymbol(name)), -1);
        std::vector<CXValue> pushed;
        engine.PopValues(engine.ValueStackDepth(), pushed, false);
        return pushed;
    }

    QuestWorld world{3};
};

CXValue Text(const char* text) {
    return CXValue(text, 0);
}

CXValue Number(int32_t value) {
    return CXValue(std::to_string(value), 0);  // stored as "%f", as a script literal is
}

TEST_F(HostFunctionsTest, GetVarReadsAPropertyNamedExactly) {
    Npc(1).posX = 123.9f;
    Npc(1).posY = -4.5f;
    Npc(1).currentMessage = -2;
    Npc(1).instruction = 4;
    Npc(1).scriptEnded[0] = 1;
    const std::pair<const char*, int32_t> cases[] = {
        {"XPOS", 123}, {"YPOS", -4},      {"MESSAGE", -2},      {"INSTRUCTION", 5},
        {"ENDED", 1},  {"XPOSITION", -1}, {"xpos", -1},         {"XPOS ", -1},
        {"", -1},      {"POS", -1},       {"INSTRUCTIONS", -1}, {"ENDED[1]", -1},
    };
    for (const auto& [property, value] : cases) {
        const std::vector<CXValue> pushed =
            Call("GetVar", {Text("NPC"), Number(2), Text(property)});
        ASSERT_EQ(pushed.size(), 1u) << property;
        EXPECT_EQ(pushed[0].Text(), std::to_string(value)) << property;  // made from an integer
    }
    // The server script's query finds the property inside a longer word.
    EXPECT_EQ(world.Script().QueryNpc("NPC[02]>XPOSITION"), 123);
}

TEST_F(HostFunctionsTest, GetVarPushesNothingForAnyTargetButNpc) {
    for (const char* target : {"PLAYER", "npc", "NPC ", "", "NPCS"}) {
        EXPECT_TRUE(Call("GetVar", {Text(target), Number(1), Text("XPOS")}).empty()) << target;
        EXPECT_TRUE(Call("GetVarEx", {Text(target), Number(1), Text("XPOS"), Number(0)}).empty());
    }
}

TEST_F(HostFunctionsTest, GetVarExReadsTheEndedFlagOfScriptKPlusOne) {
    Npc(2).scriptEnded[1] = 1;
    Npc(2).scriptEnded[9] = 1;
    for (const auto& [k, value] : {std::pair{1, 1}, {0, 0}, {2, 0}, {9, 1}, {10, 0}, {-1, 0}}) {
        const auto pushed = Call("GetVarEx", {Text("NPC"), Number(3), Text("ENDED"), Number(k)});
        ASSERT_EQ(pushed.size(), 1u) << k;
        EXPECT_EQ(pushed[0].ToInt(), value) << k;
    }
    EXPECT_EQ(Call("GetVar", {Text("NPC"), Number(3), Text("ENDED")})[0].ToInt(), 0);
    Npc(2).scriptEnded[0] = 1;
    EXPECT_EQ(Call("GetVar", {Text("NPC"), Number(3), Text("ENDED")})[0].ToInt(), 1);
}

TEST_F(HostFunctionsTest, NpcNumbersOutsideOneToFiftyReadMinusOne) {
    for (const int32_t npc : {0, -1, 51, 1000}) {
        const std::vector<CXValue> pushed =
            Call("GetVar", {Text("NPC"), Number(npc), Text("XPOS")});
        ASSERT_EQ(pushed.size(), 1u);
        EXPECT_EQ(pushed[0].ToInt(), -1) << npc;
    }
    // Unplaced NPCs are still NPCs: slot 49 stands where Reset puts it.
    EXPECT_EQ(Call("GetVar", {Text("NPC"), Number(50), Text("XPOS")})[0].ToInt(), 150);
}

TEST_F(HostFunctionsTest, MessageMapLinkListsAreSplitAtCommasAndEndAtAPoint) {
    const std::pair<const char*, const char*> cases[] = {
        {"3,4.", "2,3,"},
        {"3,4", "2,3,"},
        {"", "-1,"},
        {".", "-1,"},
        {"5", "4,"},
        {"7.8,9", "6,"},
        {"3,,4.", "2,-1,3,"},
        {" 2, -3.", "1,-4,"},
        {"x,12abc.", "-1,11,"},
        {"200.", "-57,"},  // the low eight bits of 199
        {"1,2,3,4,5,6,7.", "0,1,2,3,4,"},
    };
    for (const auto& [list, links] : cases) {
        HostMessageMap(world.npcs, 1, 2, list, 0, "text");
        const MessageMapEntry& entry = Npc(0).messageMap[1];
        std::string read;
        for (int i = 0; i < entry.linkCount; ++i) {
            read += std::to_string(entry.links[i]) + ",";
        }
        EXPECT_EQ(read, links) << list;
    }
}

TEST_F(HostFunctionsTest, MessageMapFlagCodesSetClearOrKeepTheFlag) {
    // The flag after each code, from 0 and from 1: 1 sets, 2 clears, any other keeps.
    for (const auto& [code, after] :
         {std::pair{1, "11"}, {2, "00"}, {0, "01"}, {3, "01"}, {-1, "01"}}) {
        std::string flags;
        for (const uint8_t before : {0, 1}) {
            Npc(2).messageMap[6].flag = before;
            HostMessageMap(world.npcs, 3, 7, "1.", code, "t");
            flags += std::to_string(Npc(2).messageMap[6].flag);
        }
        EXPECT_EQ(flags, after) << code;
    }
}

TEST_F(HostFunctionsTest, MessageMapFromTheScriptFillsTheEntry) {
    world.dir.Write("script/XScript.txt",
                    "NPC_MessageMap(1, 2, \"3,4.\", 1, \"Where to?\");\n"
                    "n = 3; NPC_MessageMap(n, n + 7, \"1.\", 2, \"Last\");\n");
    Npc(2).messageMap[9].flag = 1;
    Engine().Run();
    const MessageMapEntry& entry = Npc(0).messageMap[1];
    EXPECT_EQ(entry.linkCount, 2);
    EXPECT_EQ(entry.links[0], 2);
    EXPECT_EQ(entry.links[1], 3);
    EXPECT_EQ(entry.flag, 1);
    EXPECT_STREQ(entry.text, "Where to?");
    EXPECT_STREQ(Npc(2).messageMap[9].text, "Last");
    EXPECT_EQ(Npc(2).messageMap[9].flag, 0);
    EXPECT_EQ(Engine().ValueStackDepth(), 0);
}

TEST_F(HostFunctionsTest, MessageMapTextsAreCutAndReplaceTheWholeText) {
    const std::string longText(400, 'x');
    HostMessageMap(world.npcs, 1, 1, "1.", 0, longText.c_str());
    EXPECT_EQ(std::strlen(Npc(0).messageMap[0].text), 299u);
    HostMessageMap(world.npcs, 1, 1, "1.", 0, "short");
    EXPECT_STREQ(Npc(0).messageMap[0].text, "short");
    // Nothing of the longer text stays behind the terminating zero.
    for (size_t i = 5; i < sizeof Npc(0).messageMap[0].text; ++i) {
        ASSERT_EQ(Npc(0).messageMap[0].text[i], '\0') << i;
    }
}

TEST_F(HostFunctionsTest, MessageMapNumbersOutOfRangeWriteNothing) {
    const struct {
        int32_t npc;
        int32_t entry;
    } cases[] = {{0, 1}, {51, 1}, {-5, 1}, {1, 0}, {1, 11}, {1, -1}, {2147483647, 1}};
    std::vector<MessageMapEntry> before;
    for (int slot = 0; slot < CMainObjectSet::kSlotCount; ++slot) {
        for (const MessageMapEntry& entry : Npc(slot).messageMap) {
            before.push_back(entry);
        }
    }
    for (const auto& c : cases) {
        HostMessageMap(world.npcs, c.npc, c.entry, "2,3.", 1, "never");
    }
    size_t i = 0;
    for (int slot = 0; slot < CMainObjectSet::kSlotCount; ++slot) {
        for (const MessageMapEntry& entry : Npc(slot).messageMap) {
            ASSERT_EQ(std::memcmp(&entry, &before[i++], sizeof entry), 0) << slot;
        }
    }
}

TEST_F(HostFunctionsTest, PrintTakesOneValueAndShowsNothing) {
    CXScript& engine = Engine();
    const std::string log = world.Log();
    engine.PushValue(Text("a"));
    engine.PushValue(Text("b"));
    HostFunction(&engine, CXSymbol("print"));
    std::vector<CXValue> left;
    engine.PopValues(engine.ValueStackDepth(), left, false);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].Text(), "a");
    EXPECT_EQ(world.Log(), log);
}

TEST_F(HostFunctionsTest, OtherNamesTakeNothing) {
    for (const char* name : {"NPC_Other", "getvar", "Print", "GetVarExtra"}) {
        EXPECT_EQ(Call(name, {Text("NPC"), Number(1), Text("XPOS")}).size(), 3u) << name;
    }
}

TEST_F(HostFunctionsTest, TooFewArgumentsReadAsEmpty) {
    // Two values for GetVar's three: the target is missing, so nothing is pushed.
    EXPECT_TRUE(Call("GetVar", {Number(1), Text("XPOS")}).empty());
    // Four values for NPC_MessageMap's five: the missing one is the first, the NPC number,
    // which reads as 0, so nothing is written.
    const MessageMapEntry before = Npc(0).messageMap[0];
    EXPECT_TRUE(Call("NPC_MessageMap", {Number(1), Text("2,3."), Number(1), Text("x")}).empty());
    EXPECT_EQ(std::memcmp(&before, &Npc(0).messageMap[0], sizeof before), 0);
}

TEST_F(HostFunctionsTest, RunPersonScriptRegistersEachNameOnce) {
    world.dir.Write("script/walk.txt", "one\ntwo\n");
    world.dir.Write("script/XScript.txt",
                    "RunPersonScript(\"walk.txt\", 1);\n"
                    "RunPersonScript(\"walk.txt\", 2);\n"
                    "RunPersonScript(\"gone.txt\", 1);\n");
    for (int run = 0; run < 3; ++run) {
        Engine().Run();
    }
    const CPersonScriptStore& store = *world.Loader().personScripts();
    ASSERT_EQ(store.Files().size(), 2u);
    EXPECT_STREQ(store.Files()[0].name, "walk.txt");
    EXPECT_EQ(store.Files()[0].lines.size(), 2u);
    EXPECT_STREQ(store.Files()[1].name, "gone.txt");
    const std::string log = world.Log();
    const std::string entries = "\nError: Could not open Person Script File:\nscript\\gone.txt";
    const size_t at = log.find(entries);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find("Person Script", at + entries.size()), std::string::npos);  // once
}

TEST_F(HostFunctionsTest, AnEngineWithoutAWorldStillTakesItsArguments) {
    auto engine = SetUpScriptEngine("script\\XScript.txt");
    engine->PushValue(Text("NPC"));
    engine->PushValue(Number(1));
    engine->PushValue(Text("XPOS"));
    HostFunction(engine.get(), CXSymbol("GetVar"));
    std::vector<CXValue> pushed;
    engine->PopValues(engine->ValueStackDepth(), pushed, false);
    ASSERT_EQ(pushed.size(), 1u);
    EXPECT_EQ(pushed[0].ToInt(), -1);
}

// Network threads copy entries while the script rewrites them; every copy must be one whole
// fill or the other, never a mixture.
TEST_F(HostFunctionsTest, ConcurrentCopiesSeeWholeEntries) {
    const std::string longText(200, 'A');
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        MessageMapEntry copy;
        while (!done.load()) {
            world.npcs.CopyMessageEntry(0, 0, copy);
            const bool first = copy.text[0] == 'A';
            const bool whole =
                first
                    ? copy.linkCount == 1 && copy.links[0] == 0 && std::strlen(copy.text) == 200
                    : std::strcmp(copy.text, "B") == 0 && copy.linkCount == 3 && copy.links[2] == 8;
            if (!whole && std::strcmp(copy.text, kMessagePlaceholderText) != 0) {
                torn.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        if (i % 2 == 0) {
            HostMessageMap(world.npcs, 1, 1, "1.", 1, longText.c_str());
        } else {
            HostMessageMap(world.npcs, 1, 1, "7,8,9.", 2, "B");
        }
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

}  // namespace
