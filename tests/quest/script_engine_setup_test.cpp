// The XScript engine as the quest loader sets it up.

#include "quest/script_engine_setup.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quest_world.h"
#include "xscript/xscript.h"

namespace {

using quest_test::QuestWorld;

TEST(ScriptEngineSetup, RegistersTheHostFunctionsInOrderBeforeLoading) {
    QuestWorld world;
    world.dir.Write("script/XScript.txt",
                    "x = 1; print(x); y = GetVarEx(\"NPC\", 1, \"XPOS\", 0);");
    CXScript& engine = *world.Loader().engine();
    std::vector<std::string> hostNames;
    for (const CXSymbol& symbol : engine.Symbols()) {
        if (symbol.code == xscript::kHostCall) {
            hostNames.push_back(symbol.text);
        }
    }
    EXPECT_EQ(hostNames, (std::vector<std::string>{"print", "GetVar", "GetVarEx", "RunPersonScript",
                                                   "NPC_MessageMap"}));
    // The file was loaded after registration, so the calls are host calls.
    int hostCalls = 0;
    for (const CXToken& token : engine.Tokens()) {
        hostCalls += token.code == xscript::kHostCall ? 1 : 0;
    }
    EXPECT_EQ(hostCalls, 2);
}

TEST(ScriptEngineSetup, EveryHostFunctionTakesItsArgumentsOffTheStack) {
    QuestWorld world;
    world.dir.Write("script/XScript.txt",
                    "print(1); GetVar(\"NPC\", 1, \"XPOS\"); GetVarEx(\"NPC\", 1, \"ENDED\", 2);"
                    "RunPersonScript(\"walk.txt\", 1); NPC_MessageMap(1, 2, \"3,4.\", 1, \"Hi\");");
    CXScript& engine = *world.Loader().engine();
    for (int run = 0; run < 3; ++run) {
        engine.Run();
        EXPECT_EQ(engine.ValueStackDepth(), 0) << run;
    }
}

TEST(ScriptEngineSetup, AMissingScriptLeavesAnEngineThatDoesNothing) {
    QuestWorld world;
    CXScript& engine = *world.Loader().engine();
    EXPECT_TRUE(engine.Tokens().empty());
    EXPECT_EQ(engine.Run(), 0);
}

TEST(ScriptEngineSetup, ALoopThatNeverEndsStopsAtTheStepLimit) {
    QuestWorld world;
    world.dir.Write("script/XScript.txt", "x = 0; while (1) { x = x + 1; }");
    CXScript& engine = *world.Loader().engine();
    engine.Run();
    EXPECT_TRUE(engine.StepLimitReached());
    EXPECT_LE(engine.StepsTaken(), kScriptEngineStepLimit);
}

}  // namespace
