// The engine interface: the value stack convention, flags, state across runs, limits.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xscript/xscript.h"

namespace {

std::string Show(const CXValue& value) {
    return value.Text() + "/" + std::to_string(value.Flag());
}

std::string Var(const CXScript& engine, const std::string& name) {
    const CXVariable* variable = engine.GetVariable(name);
    return variable ? Show(variable->value) : "none";
}

TEST(XScriptEngine, PopValuesResolvesNamesAndReportsTooFewValues) {
    CXScript engine;
    engine.SetVariable("known", CXValue(7, 1));
    engine.PushValue(CXValue("known", 1));
    engine.PushValue(CXValue("unknown", 1));
    engine.PushValue(CXValue("known", 0));  // final text: not looked up
    std::vector<CXValue> list(9);
    const auto all = [&list] {
        std::string text;
        for (const CXValue& value : list) {
            text += Show(value) + " ";
        }
        return text;
    };
    ASSERT_EQ(engine.PopValues(3, list, true), 0);
    EXPECT_EQ(all(), "7.000000/0 unknown/1 known/0 ");  // the variable's "7", rewritten
    engine.PushValue(CXValue("known", 1));
    ASSERT_EQ(engine.PopValues(1, list, false), 0);
    EXPECT_EQ(all(), "known/1 ");
    engine.PushValue(CXValue("last", 0));
    EXPECT_EQ(engine.PopValues(3, list, true), -1);
    EXPECT_EQ(all(), "/1 /1 last/0 ");  // entries not reached are empty, not left from before
    EXPECT_EQ(engine.ValueStackDepth(), 0);
}

TEST(XScriptEngine, AssignmentsStoreTheRightSideWithItsFlag) {
    CXScript engine;
    engine.RegisterFunction("f");
    engine.LoadScriptText("a = 5; b = a; c = 2 + 3; d = unknownName; e = f(3);");
    engine.Run();  // without a handler a call leaves its arguments
    EXPECT_EQ(Var(engine, "a") + " " + Var(engine, "b") + " " + Var(engine, "c") + " " +
                  Var(engine, "d") + " " + Var(engine, "e"),
              "5.000000/0 5.000000/0 5.000000/1 unknownName/1 3.000000/0");
}

TEST(XScriptEngine, VariablesAndOpenLoopsPersistAcrossRunsResetStateClearsVariables) {
    CXScript engine;
    engine.LoadScriptText("n += 1; while (1) { x = 1;");  // the block never closes
    for (int i = 0; i < 3; ++i) {
        engine.Run();  // re-entering the same loop pushes nothing
        EXPECT_EQ(engine.LoopStackDepth(), 1);
    }
    EXPECT_EQ(Var(engine, "n"), "3.000000/1");
    EXPECT_EQ(engine.ResetState(), 0);
    EXPECT_EQ(engine.Variables().Count(), 0u);
    EXPECT_EQ(engine.LoopStackDepth(), 1);
    engine.Run();  // the tokens stay
    EXPECT_EQ(Var(engine, "n"), "1.000000/0");

    CXScript finished;
    finished.LoadScriptText("i = 0; while (i < 2) { i += 1; } while (1) { break; } while (0) { }");
    finished.Run();
    EXPECT_EQ(finished.LoopStackDepth(), 0);
}

TEST(XScriptEngine, StepLimitStopsARunOnlyWhenSet) {
    CXScript engine;
    engine.LoadScriptText("i = 0; while (i < 1000) { i += 1; }");
    engine.Run();
    EXPECT_FALSE(engine.StepLimitReached());
    EXPECT_EQ(Var(engine, "i"), "1000.000000/1");
    engine.SetStepLimit(50);
    engine.Run();
    EXPECT_TRUE(engine.StepLimitReached());
    EXPECT_EQ(engine.StepsTaken(), 50u);
    EXPECT_NE(Var(engine, "i"), "1000.000000/1");
    engine.SetStepLimit(0);
    engine.Run();
    EXPECT_FALSE(engine.StepLimitReached());
}

TEST(XScriptEngine, HostFunctionsMayGrowTheTokenListDuringARun) {
    CXScript engine;
    engine.RegisterFunction("f");
    engine.LoadScriptText("x = 1 + f(2) + 3; y = 4;");
    engine.SetFunctionHandler(
        [](CXScript* self, CXSymbol) { return self->LoadScriptText(std::string(5000, ';')); });
    engine.Run();
    EXPECT_EQ(Var(engine, "y"), "4.000000/0");
    EXPECT_GT(engine.Tokens().size(), 5000u);
}

}  // namespace
