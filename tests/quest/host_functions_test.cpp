// The XScript host functions, the engine the quest loader sets up, and the person-script store.

#include "quest/host_functions.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "quest/person_script_store.h"
#include "quest/script_engine_setup.h"
#include "quest_world.h"
#include "xscript/xscript.h"

namespace {

using namespace quest_test;

// Calls host function "name|value|value..." with the values stacked; gives the texts it leaves.
std::string Call(CXScript& engine, const std::string& call) {
    const size_t name = call.find('|');
    for (size_t at = name, end; at != std::string::npos; at = end) {
        end = call.find('|', at + 1);
        engine.PushValue(CXValue(call.substr(at + 1, end - at - 1), 0));
    }
    EXPECT_EQ(HostFunction(&engine, CXSymbol(call.substr(0, name))), -1);
    std::vector<CXValue> left;
    engine.PopValues(engine.ValueStackDepth(), left, false);
    std::string text;
    for (const CXValue& value : left)
        text += (text.empty() ? "" : " ") + value.Text();
    return text;
}

class HostFunctionsTest : public ::testing::Test {
protected:
    CServerNPC& Npc(int slot) { return world.npcs.Npc(slot); }
    CXScript& Engine() { return *world.Loader().engine(); }
    QuestWorld world{3};
};

TEST_F(HostFunctionsTest, CallsTakeTheirArgumentsAndPushWhatTheyRead) {
    // clang-format off
    Npc(1).posX = 123.9f; Npc(1).posY = -4.5f; Npc(1).currentMessage = -2; Npc(1).instruction = 4; Npc(1).scriptEnded[0] = 1;
    Npc(2).scriptEnded[1] = 1; Npc(2).scriptEnded[9] = 1;
    const auto maps = [this] {
        std::string text;
        for (int slot = 0; slot < CMainObjectSet::kSlotCount; ++slot) { for (const MessageMapEntry& entry : Npc(slot).messageMap) { text += Entry(entry) + "|"; } }
        return text;
    };
    const std::string before = maps(), log = world.Log();
    const std::pair<const char*, const char*> cases[] = {
        // The property is named exactly; the pushed value is made from an integer.
        {"GetVar|NPC|2|XPOS", "123"}, {"GetVar|NPC|2|YPOS", "-4"}, {"GetVar|NPC|2|MESSAGE", "-2"}, {"GetVar|NPC|2|INSTRUCTION", "5"},
        {"GetVar|NPC|2|ENDED", "1"}, {"GetVar|NPC|3|ENDED", "0"}, {"GetVar|NPC|2|XPOSITION", "-1"}, {"GetVar|NPC|2|xpos", "-1"},
        {"GetVar|NPC|2|XPOS ", "-1"}, {"GetVar|NPC|2|", "-1"}, {"GetVar|NPC|2|POS", "-1"}, {"GetVar|NPC|2|INSTRUCTIONS", "-1"},
        {"GetVar|NPC|2|ENDED[1]", "-1"}, {"GetVarEx|NPC|2|XPOS|7", "123"},
        // GetVarEx reads the ended flag of script k + 1.
        {"GetVarEx|NPC|3|ENDED|1", "1"}, {"GetVarEx|NPC|3|ENDED|0", "0"}, {"GetVarEx|NPC|3|ENDED|2", "0"},
        {"GetVarEx|NPC|3|ENDED|9", "1"}, {"GetVarEx|NPC|3|ENDED|10", "0"}, {"GetVarEx|NPC|3|ENDED|-1", "0"},
        // NPC numbers outside 1 to 50 read -1; unplaced NPCs stand where Reset puts them.
        {"GetVar|NPC|0|XPOS", "-1"}, {"GetVar|NPC|-1|XPOS", "-1"}, {"GetVar|NPC|51|XPOS", "-1"}, {"GetVar|NPC|50|XPOS", "150"},
        // Any other target pushes nothing; other names take nothing; print takes one value.
        {"GetVar|PLAYER|1|XPOS", ""}, {"GetVar|npc|1|XPOS", ""}, {"GetVar|NPC |1|XPOS", ""}, {"GetVar||1|XPOS", ""},
        {"GetVarEx|NPCS|1|XPOS|0", ""}, {"NPC_Other|NPC|1|x", "NPC 1.000000 x"}, {"getvar|NPC|1|x", "NPC 1.000000 x"},
        {"Print|a", "a"}, {"GetVarExtra|a", "a"}, {"print|a|b", "a"},
        // Too few values: the missing ones are the first, and read as empty.
        {"GetVar|1|XPOS", ""}, {"NPC_MessageMap|1|2,3.|1|x", ""},
        {"NPC_MessageMap|0|1|2,3.|1|x", ""}, {"NPC_MessageMap|51|1|2,3.|1|x", ""}, {"NPC_MessageMap|-5|1|2,3.|1|x", ""},
        {"NPC_MessageMap|1|0|2,3.|1|x", ""}, {"NPC_MessageMap|1|11|2,3.|1|x", ""}, {"NPC_MessageMap|1|-1|2,3.|1|x", ""},
        {"NPC_MessageMap|2147483647|1|2,3.|1|x", ""},
    };
    // clang-format on
    for (const auto& [call, left] : cases)
        EXPECT_EQ(Call(Engine(), call), left) << call;
    EXPECT_EQ(world.Log(), log);
    EXPECT_EQ(maps(), before);
    // An engine bound to no world still takes every call's arguments.
    const auto unbound = SetUpScriptEngine("script\\XScript.txt");
    EXPECT_EQ(Call(*unbound, "GetVar|NPC|1|XPOS") + Call(*unbound, "NPC_MessageMap|1|1|1.|1|x") +
                  Call(*unbound, "RunPersonScript|a|1"),
              "-1");
}

TEST_F(HostFunctionsTest, MessageMapsTakeLinksUpToAPointAFlagCodeAndAText) {
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {{"3,4.", "2,3,"}, {"3,4", "2,3,"}, {"", "-1,"}, {".", "-1,"}, {"5", "4,"},
        {"7.8,9", "6,"}, {"3,,4.", "2,-1,3,"}, {" 2, -3.", "1,-4,"}, {"x,12abc.", "-1,11,"}, {"200.", "-57,"} /* 199's low byte */,
        {"1,2,3,4,5,6,7.", "0,1,2,3,4,"}};
    // clang-format on
    for (const auto& [list, links] : cases) {
        HostMessageMap(world.npcs, 1, 2, list, 0, "text");
        EXPECT_EQ(Entry(Npc(0).messageMap[1]), std::string(links) + " f0 text") << list;
    }
    // The flag after each code, from 0 and from 1: 1 sets, 2 clears, any other keeps.
    std::string flags;
    for (int i = 0; i < 10; ++i) {
        Npc(2).messageMap[9].flag = i % 2;
        HostMessageMap(world.npcs, 3, 10, "1.", std::array{1, 2, 0, 3, -1}[i / 2], "t");
        flags += std::to_string(Npc(2).messageMap[9].flag) + (i % 2 ? " " : "");
    }
    EXPECT_EQ(flags, "11 00 01 01 01 ");
    // A text is cut to 299 characters, and a shorter one leaves nothing of it behind.
    HostMessageMap(world.npcs, 1, 1, "1.", 0, std::string(400, 'x').c_str());
    EXPECT_EQ(Entry(Npc(0).messageMap[0]), "0, f0 " + std::string(299, 'x'));
    HostMessageMap(world.npcs, 1, 1, "1.", 0, "short");
    EXPECT_EQ(std::string(Npc(0).messageMap[0].text, kMessageTextSize),
              "short" + std::string(kMessageTextSize - 5, '\0'));
}

TEST_F(HostFunctionsTest, TheWorldsProgramReachesTheNpcsAndThePersonScriptStore) {
    world.dir.Write("script/walk.txt", "one\ntwo\n");
    // clang-format off
    world.dir.Write("script/XScript.txt", "print(1); x = GetVar(\"NPC\", 2, \"XPOS\"); y = GetVarEx(\"NPC\", 1, \"ENDED\", 2);\n"
                    "NPC_MessageMap(1, 2, \"3,4.\", 1, \"Where to?\");\nn = 3; NPC_MessageMap(n, n + 7, \"1.\", 2, \"Last\");\n"
                    "RunPersonScript(\"walk.txt\", 1); RunPersonScript(\"walk.txt\", 2);\nRunPersonScript(\"gone.txt\", 1);\n");
    Npc(2).messageMap[9].flag = 1; Npc(0).scriptEnded[2] = 1;
    // clang-format on
    for (int run = 0; run < 3; ++run) {
        Engine().Run();
        EXPECT_EQ(Engine().ValueStackDepth(), 0) << run;
    }
    const auto text = [this](const char* name) { return Engine().GetVariable(name)->value.Text(); };
    EXPECT_EQ(text("x") + " " + text("y") + " " + Entry(Npc(0).messageMap[1]) + "|" +
                  Entry(Npc(2).messageMap[9]),
              "100 1 2,3, f1 Where to?|0, f0 Last");
    std::string files;
    for (const PersonScriptFile& file : world.Loader().personScripts()->Files())
        files += file.name + (":" + std::to_string(file.lines.size())) + " ";
    EXPECT_EQ(files, "walk.txt:2 gone.txt:0 ");
    EXPECT_EQ(Count(world.Log(), "Could not open Person Script File:\nscript\\gone.txt"), 1);

    QuestWorld looping;  // an endless loop stops at the step limit
    looping.dir.Write("script/XScript.txt", "x = 0; while (1) { x = x + 1; }");
    CXScript& engine = *looping.Loader().engine();
    engine.Run();
    EXPECT_TRUE(engine.StepLimitReached() && engine.StepsTaken() <= kScriptEngineStepLimit);
    QuestWorld missing;  // a missing program does nothing
    EXPECT_TRUE(missing.Loader().engine()->Tokens().empty());
    EXPECT_EQ(missing.Loader().engine()->Run(), 0);
}

// Network threads copy entries while the script rewrites them: never a mixture of two fills.
TEST_F(HostFunctionsTest, ConcurrentCopiesSeeWholeEntries) {
    const std::string longText(200, 'A');
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        MessageMapEntry copy;
        while (!done.load()) {
            world.npcs.CopyMessageEntry(0, 0, copy);
            const std::string seen = Entry(copy);
            if (seen != "0, f1 " + longText && seen != "6,7,8, f0 B" &&
                std::strcmp(copy.text, kMessagePlaceholderText) != 0) {
                torn.fetch_add(1);
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        HostMessageMap(world.npcs, 1, 1, i % 2 ? "7,8,9." : "1.", 1 + i % 2,
                       i % 2 ? "B" : longText.c_str());
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST(PersonScriptStoreTest, RegistersEachNameOnceAndReadsItsFileOneRecordPerRead) {
    QuestWorld world;
    const std::string kept(51, 'n');  // names keep their first 51 characters
    const std::string many(kPersonScriptMaxReads + 5, '\n');
    // clang-format off
    const std::pair<std::string, std::string> files[] = {
        {"three.txt", "NPC[01]>WALKTO(1,2)\nNPC[01]>SAY ($Hi$)\nEND"}, {"crlf.txt", "a\r\nb\r\n"}, {"empty.txt", ""},
        {"long.txt", std::string(2500, 'x') + "\n"},  // 1023 + 1023 + 455 bytes
        {"edge.txt", std::string(1023, 'y') + "\n"},  // the line end is a read of its own
        {"sub/inner.txt", "one\n"}, {"walk.txt", "one\n"}, {"folder/inside.txt", "x\n"}, {"a..b", "x\n"},
        {kept, "a\nb\n"}, {"many.txt", many}, {"../secret.txt", "secret\n"},
    };
    for (const auto& [path, content] : files) { world.dir.Write("script/" + path, content); }
    CPersonScriptStore store;
    // Names are compared exactly; files outside the script folder, or not regular, are not read.
    for (const std::string& name : std::vector<std::string>{
             "three.txt", "crlf.txt", "empty.txt", "long.txt", "edge.txt", "sub\\inner.txt", "walk.txt",
             "walk.txt", "Walk.txt", "missing.txt", "missing.txt", "..\\secret.txt", "../secret.txt",
             "folder", "folder/../../secret.txt", "..", "", "a..b", kept + "-and-more", kept, "many.txt"}) { store.AddFile(name.c_str()); }
    std::string listing;
    for (size_t i = 0; i < store.Files().size(); ++i) {
        const PersonScriptFile& file = store.Files()[i];
        listing += file.name + (":" + std::to_string(file.lines.size())) + " ";
        EXPECT_EQ(file.ordinal, static_cast<int32_t>(i));
        for (size_t read = 0; read < file.lines.size(); ++read) { ASSERT_EQ(file.lines[read].read, static_cast<int32_t>(read)); }
    }
    EXPECT_EQ(listing, "three.txt:3 crlf.txt:2 empty.txt:0 long.txt:3 edge.txt:2 sub\\inner.txt:1 walk.txt:1 Walk.txt:0 missing.txt:0 "
              "..\\secret.txt:0 ../secret.txt:0 folder:0 folder/../../secret.txt:0 ..:0 :0 a..b:1 " + kept + ":2 many.txt:10000 ");
    EXPECT_EQ(Count(world.Log(), "Error: Could not open Person Script File:\n"), 8);
    EXPECT_EQ(Count(world.Log(), "\nscript\\missing.txt"), 1);
    // The store is bounded: further names are not registered, and the log says so once.
    for (int i = 0; i < kPersonScriptMaxFiles; ++i) { store.AddFile(("f" + std::to_string(i)).c_str()); }
    // clang-format on
    EXPECT_EQ(store.Files().size(), static_cast<size_t>(kPersonScriptMaxFiles));
    EXPECT_EQ(store.Files().back().name, "f" + std::to_string(kPersonScriptMaxFiles - 19));
    EXPECT_EQ(Count(world.Log(), "Too many person script files"), 1);
}

}  // namespace
