// The engine interface: host functions, the value stack convention, state across runs.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "xscript/xscript.h"

namespace {

// What the test host functions saw. Handlers are plain functions, so this is global.
struct HostLog {
    std::vector<std::string> calls;  // "name(arg, arg)"
    std::vector<std::pair<std::string, int32_t>> errors;
    int32_t argumentCount = 1;       // how many values every function takes
    bool pushResult = false;         // push the first argument's integer + 40
    CXScript* reloadInto = nullptr;  // loads more tokens during the run
};
HostLog hostLog;

int32_t RecordingHost(CXScript* engine, CXSymbol symbol) {
    EXPECT_EQ(symbol.code, xscript::kHostCall);
    std::vector<CXValue> arguments;
    engine->PopValues(hostLog.argumentCount, arguments, true);
    std::string call = symbol.text + "(";
    for (size_t i = 0; i < arguments.size(); ++i) {
        call += (i ? ", " : "") + arguments[i].Text();
    }
    hostLog.calls.push_back(call + ")");
    if (hostLog.pushResult) {
        engine->PushValue(CXValue(arguments.empty() ? 0 : arguments[0].ToInt() + 40));
    }
    if (hostLog.reloadInto != nullptr) {
        hostLog.reloadInto->LoadScriptText(std::string(5000, ';'));
    }
    return -1;
}

void RecordError(const char* message, int32_t line) {
    hostLog.errors.emplace_back(message, line);
}

class XScriptEngine : public ::testing::Test {
protected:
    void SetUp() override {
        hostLog = HostLog();
        for (const char* name : {"print", "f", "g", "GetVar", "GetVarEx"}) {
            engine.RegisterFunction(name);
        }
    }

    void Load(const std::string& source, bool withHandler = true) {
        ASSERT_EQ(engine.LoadScriptText(source), 0);
        if (withHandler) {
            engine.SetFunctionHandler(&RecordingHost);
        }
    }

    std::string Var(const std::string& name) const {
        const CXVariable* variable = engine.GetVariable(name);
        return variable ? variable->value.Text() : "<none>";
    }

    CXScript engine;
};

TEST_F(XScriptEngine, HostCallsTakeTheirArgumentsFromTheValueStack) {
    const struct {
        const char* source;
        int32_t argumentCount;
        bool pushResult;
        std::vector<std::string> calls;
        std::map<std::string, std::string> variables;  // "<none>": must not exist
    } cases[] = {
        // Arguments in source order, resolved.
        {"x = 5; f(1, \"a\", x); GetVarEx(y, 2 * 3, \"\");",
         3,
         false,
         {"f(1.000000, a, 5.000000)", "GetVarEx(y, 6.000000, )"},
         {}},
        // An extra argument stays on the stack below: here the assignment takes it.
        {"x = print(\"a\", \"b\");", 1, false, {"print(b)"}, {{"x", "a"}}},
        // Too few: the missing entry stays empty, or the call takes a value of the
        // surrounding expression, whose "+" then has too few values and is dropped.
        {"f(1); x = 9 + g(2);",
         2,
         false,
         {"f(, 1.000000)", "g(9.000000, 2.000000)"},
         {{"x", "<none>"}}},
        // A call's value is what the function pushes.
        {"x = f(2) + 1; y = g(f(1));",
         1,
         true,
         {"f(2.000000)", "f(1.000000)", "g(41)"},
         {{"x", "43.000000"}, {"y", "81"}}},
        // No short-circuit: both operands always run.
        {"x = f(0 - 40) && g(1); y = f(1) || g(2);",
         1,
         true,
         {"f(-40.000000)", "g(1.000000)", "f(1.000000)", "g(2.000000)"},
         {{"x", "0"}, {"y", "1"}}},
        // The longest registered name wins; an unregistered one is a word, and "h (4)" is a
        // word and a parenthesised value.
        {"GetVarEx(1); GetVar(2); x = h(4);",
         1,
         false,
         {"GetVarEx(1.000000)", "GetVar(2.000000)"},
         {{"h", "4.000000"}, {"x", "<none>"}}},
    };
    for (const auto& c : cases) {
        hostLog = HostLog();
        CXScript fresh;
        for (const char* name : {"print", "f", "g", "GetVar", "GetVarEx"}) {
            fresh.RegisterFunction(name);
        }
        ASSERT_EQ(fresh.LoadScriptText(c.source), 0);
        fresh.SetFunctionHandler(&RecordingHost);
        hostLog.argumentCount = c.argumentCount;
        hostLog.pushResult = c.pushResult;
        fresh.Run();
        EXPECT_EQ(hostLog.calls, c.calls) << c.source;
        for (const auto& [name, text] : c.variables) {
            const CXVariable* variable = fresh.GetVariable(name);
            EXPECT_EQ(variable ? variable->value.Text() : "<none>", text) << c.source;
        }
    }
}

TEST_F(XScriptEngine, WithoutAHandlerCallsLeaveTheirArguments) {
    Load("x = f(3);", false);
    engine.Run();
    EXPECT_EQ(Var("x"), "3.000000");
}

TEST_F(XScriptEngine, PopValuesResolvesNamesAndReportsTooFewValues) {
    engine.SetVariable("known", CXValue(7, 1));
    engine.PushValue(CXValue("known", 1));
    engine.PushValue(CXValue("unknown", 1));
    engine.PushValue(CXValue("known", 0));  // final text: not looked up
    std::vector<CXValue> list(9);
    ASSERT_EQ(engine.PopValues(3, list, true), 0);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Text(), "7.000000");  // the variable's "7", rewritten
    EXPECT_EQ(list[0].Flag(), 0);
    EXPECT_EQ(list[1].Text(), "unknown");
    EXPECT_EQ(list[1].Flag(), 1);
    EXPECT_EQ(list[2].Text(), "known");

    engine.PushValue(CXValue("known", 1));
    ASSERT_EQ(engine.PopValues(1, list, false), 0);
    EXPECT_EQ(list[0].Text(), "known");

    engine.PushValue(CXValue("last", 0));
    EXPECT_EQ(engine.PopValues(3, list, true), -1);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Text(), "");  // entries not reached are empty, not left from before
    EXPECT_EQ(list[1].Text(), "");
    EXPECT_EQ(list[2].Text(), "last");
    EXPECT_EQ(engine.ValueStackDepth(), 0);
}

TEST_F(XScriptEngine, AssignmentsStoreTheRightSideWithItsFlag) {
    Load("a = 5; b = a; c = 2 + 3; d = unknownName;");
    engine.Run();
    EXPECT_EQ(engine.GetVariable("a")->value.Flag(), 0);  // literal
    EXPECT_EQ(engine.GetVariable("b")->value.Flag(), 0);  // taken from a variable
    EXPECT_EQ(engine.GetVariable("c")->value.Flag(), 1);  // computed
    EXPECT_EQ(engine.GetVariable("d")->value.Flag(), 1);  // a name that is no variable
    EXPECT_EQ(Var("d"), "unknownName");
}

TEST_F(XScriptEngine, ComputedTextsAreLookedUpAsNames) {
    // 2 + 3 gives the text 5.000000 with the name flag, so a variable of that name wins.
    engine.SetVariable("5.000000", CXValue("five", 0));
    engine.SetVariable("x", CXValue("21"));
    Load("y = x * 2; z = 2 + 3;");
    engine.Run();
    EXPECT_EQ(Var("y"), "42.000000");
    EXPECT_EQ(Var("z"), "five");
}

TEST_F(XScriptEngine, VariablesPersistAcrossRunsUntilResetState) {
    Load("n += 1;");
    for (int i = 0; i < 3; ++i) {
        engine.Run();
    }
    EXPECT_EQ(Var("n"), "3.000000");
    EXPECT_EQ(engine.ResetState(), 0);
    EXPECT_EQ(engine.Variables().Count(), 0u);
    engine.Run();  // the tokens stay
    EXPECT_EQ(Var("n"), "1.000000");
}

TEST_F(XScriptEngine, LoopStackKeepsOnlyLoopsARunEndedInside) {
    Load("while (1) { x = 1;");  // the block never closes
    engine.Run();
    EXPECT_EQ(engine.LoopStackDepth(), 1);
    engine.Run();  // re-entering the same loop pushes nothing
    EXPECT_EQ(engine.LoopStackDepth(), 1);
    engine.ResetState();
    EXPECT_EQ(engine.LoopStackDepth(), 1);

    CXScript finished;
    finished.LoadScriptText("i = 0; while (i < 2) { i += 1; } while (1) { break; } while (0) { }");
    finished.Run();
    EXPECT_EQ(finished.LoopStackDepth(), 0);
}

TEST_F(XScriptEngine, SyntaxErrorsReachTheErrorHandlerWithTheirLineAndAreDropped) {
    engine.SetErrorHandler(&RecordError);
    Load("a = 1;\nif + 2;\nx = 1 , 2;\ny = 3;");
    engine.Run();
    using Error = std::pair<std::string, int32_t>;
    EXPECT_EQ(hostLog.errors, (std::vector<Error>{{"syntax error", 2}, {"syntax error", 3}}));
    EXPECT_EQ(Var("1.000000"), "2.000000");  // the comma was dropped
    EXPECT_EQ(Var("y"), "3.000000");         // execution goes on
}

TEST_F(XScriptEngine, StepLimitStopsARunOnlyWhenSet) {
    Load("i = 0; while (i < 1000) { i += 1; }");
    engine.Run();
    EXPECT_FALSE(engine.StepLimitReached());
    EXPECT_EQ(Var("i"), "1000.000000");

    engine.ResetState();
    engine.SetStepLimit(50);
    engine.Run();
    EXPECT_TRUE(engine.StepLimitReached());
    EXPECT_EQ(engine.StepsTaken(), 50u);
    EXPECT_NE(Var("i"), "1000.000000");

    engine.SetStepLimit(0);
    engine.Run();
    EXPECT_FALSE(engine.StepLimitReached());
}

TEST_F(XScriptEngine, HostFunctionsMayGrowTheTokenListDuringARun) {
    hostLog.reloadInto = &engine;
    Load("x = 1 + f(2) + 3; y = 4;");
    engine.Run();
    EXPECT_EQ(Var("y"), "4.000000");
    EXPECT_GT(engine.Tokens().size(), 5000u);
}

}  // namespace
