// The XScript engine as the quest loader sets it up.

#include "quest/script_engine_setup.h"

#include <gtest/gtest.h>

#include <string>

#include "quest_world.h"
#include "xscript/xscript.h"

namespace {

using quest_test::QuestWorld;

TEST(ScriptEngineSetup, RegistersTheHostFunctionsBeforeLoadingAndEachTakesItsArguments) {
    QuestWorld world;
    world.dir.Write("script/XScript.txt",
                    "print(1); GetVar(\"NPC\", 1, \"XPOS\"); GetVarEx(\"NPC\", 1, \"ENDED\", 2);"
                    "RunPersonScript(\"walk.txt\", 1); NPC_MessageMap(1, 2, \"3,4.\", 1, \"Hi\");");
    CXScript& engine = *world.Loader().engine();
    std::string hostNames;
    for (const CXSymbol& symbol : engine.Symbols()) {
        hostNames += symbol.code == xscript::kHostCall ? symbol.text + " " : "";
    }
    EXPECT_EQ(hostNames, "print GetVar GetVarEx RunPersonScript NPC_MessageMap ");
    std::string calls;  // the file was loaded after registration, so the calls are host calls
    for (const CXToken& token : engine.Tokens()) {
        calls += token.code == xscript::kHostCall ? token.text + " " : "";
    }
    EXPECT_EQ(calls, hostNames);
    for (int run = 0; run < 3; ++run) {
        engine.Run();
        EXPECT_EQ(engine.ValueStackDepth(), 0) << run;
    }
}

TEST(ScriptEngineSetup, AMissingScriptDoesNothingAndAnEndlessLoopStopsAtTheStepLimit) {
    QuestWorld world;
    EXPECT_TRUE(world.Loader().engine()->Tokens().empty());
    EXPECT_EQ(world.Loader().engine()->Run(), 0);
    QuestWorld looping;
    looping.dir.Write("script/XScript.txt", "x = 0; while (1) { x = x + 1; }");
    CXScript& engine = *looping.Loader().engine();
    engine.Run();
    EXPECT_TRUE(engine.StepLimitReached());
    EXPECT_LE(engine.StepsTaken(), kScriptEngineStepLimit);
}

}  // namespace
