// The engine interface: host functions, the value stack convention, state across runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xscript/xscript.h"

namespace {

// What the test host functions saw. Handlers are plain functions, so this is global.
struct HostLog {
    std::vector<std::string> calls;       // "name(arg, arg)"
    std::vector<int32_t> depthsAfterPop;  // value stack depth after taking arguments
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
    hostLog.depthsAfterPop.push_back(engine->ValueStackDepth());
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
        engine.RegisterFunction("print");
        engine.RegisterFunction("f");
        engine.RegisterFunction("g");
        engine.RegisterFunction("GetVar");
        engine.RegisterFunction("GetVarEx");
    }

    void Load(const std::string& source) {
        ASSERT_EQ(engine.LoadScriptText(source), 0);
        engine.SetFunctionHandler(&RecordingHost);
    }

    std::string Var(const std::string& name) const {
        const CXVariable* variable = engine.GetVariable(name);
        return variable ? variable->value.Text() : "<none>";
    }

    CXScript engine;
};

TEST_F(XScriptEngine, HostFunctionsGetTheirArgumentsInSourceOrderResolved) {
    hostLog.argumentCount = 3;
    Load("x = 5; f(1, \"a\", x); GetVarEx(y, 2 * 3, \"\"); GetVar(1, 2, 3);");
    engine.Run();
    EXPECT_EQ(hostLog.calls,
              (std::vector<std::string>{"f(1.000000, a, 5.000000)", "GetVarEx(y, 6.000000, )",
                                        "GetVar(1.000000, 2.000000, 3.000000)"}));
}

TEST_F(XScriptEngine, ExtraArgumentsStayOnTheStackUntilTheStatementEnds) {
    Load("print(\"a\", \"b\"); print(\"c\");");
    engine.Run();
    EXPECT_EQ(hostLog.calls, (std::vector<std::string>{"print(b)", "print(c)"}));
    EXPECT_EQ(hostLog.depthsAfterPop, (std::vector<int32_t>{1, 0}));
}

TEST_F(XScriptEngine, TooFewArgumentsTakeTheSurroundingValuesOrLeaveEmptyEntries) {
    hostLog.argumentCount = 2;
    Load("f(1); x = 9 + g(2);");
    engine.Run();
    // f finds one value; the entry for the missing first argument stays empty. g takes the
    // 9 that belongs to the "+", which then has too few values and is dropped.
    EXPECT_EQ(hostLog.calls, (std::vector<std::string>{"f(, 1.000000)", "g(9.000000, 2.000000)"}));
    EXPECT_EQ(Var("x"), "<none>");
}

TEST_F(XScriptEngine, CallResultsAreWhatTheFunctionPushes) {
    hostLog.pushResult = true;
    Load("x = f(2) + 1; y = g(f(1));");
    engine.Run();
    EXPECT_EQ(Var("x"), "43.000000");
    EXPECT_EQ(Var("y"), "81");
    EXPECT_EQ(hostLog.calls, (std::vector<std::string>{"f(2.000000)", "f(1.000000)", "g(41)"}));
}

TEST_F(XScriptEngine, BothOperandsOfLogicalOperatorsAreAlwaysEvaluated) {
    hostLog.pushResult = true;
    Load("x = f(0 - 40) && g(1); y = f(1) || g(2);");
    engine.Run();
    EXPECT_EQ(hostLog.calls, (std::vector<std::string>{"f(-40.000000)", "g(1.000000)",
                                                       "f(1.000000)", "g(2.000000)"}));
    EXPECT_EQ(Var("x"), "0");
    EXPECT_EQ(Var("y"), "1");
}

TEST_F(XScriptEngine, LongestRegisteredNameWinsAndUnregisteredNamesAreWords) {
    Load("GetVarEx(1); GetVar(2); h(3); x = h(4);");
    engine.Run();
    EXPECT_EQ(hostLog.calls, (std::vector<std::string>{"GetVarEx(1.000000)", "GetVar(2.000000)"}));
    // "h (4)" is a word and a parenthesised value: the assignment takes the 4.
    EXPECT_EQ(Var("h"), "4.000000");
    EXPECT_EQ(Var("x"), "<none>");
}

TEST_F(XScriptEngine, WithoutAHandlerCallsLeaveTheirArguments) {
    ASSERT_EQ(engine.LoadScriptText("x = f(3);"), 0);
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
    EXPECT_EQ(engine.ValueStackDepth(), 0);

    engine.PushValue(CXValue("known", 1));
    ASSERT_EQ(engine.PopValues(1, list, false), 0);
    EXPECT_EQ(list[0].Text(), "known");

    engine.PushValue(CXValue("last", 0));
    EXPECT_EQ(engine.PopValues(3, list, true), -1);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Text(), "");
    EXPECT_EQ(list[1].Text(), "");
    EXPECT_EQ(list[2].Text(), "last");
    EXPECT_EQ(engine.ValueStackDepth(), 0);
}

TEST_F(XScriptEngine, PushValueCopiesAndGrowsWithoutBound) {
    CXValue value("v", 0);
    for (int i = 0; i < 1000; ++i) {
        engine.PushValue(value);
    }
    value.SetText("changed");
    EXPECT_EQ(engine.ValueStackDepth(), 1000);
    std::vector<CXValue> list;
    ASSERT_EQ(engine.PopValues(1000, list, true), 0);
    EXPECT_EQ(list[999].Text(), "v");
}

TEST_F(XScriptEngine, AssignmentsStoreTheRightSideWithItsFlag) {
    Load("a = 5; b = a; c = 2 + 3; d = unknownName;");
    engine.Run();
    EXPECT_EQ(engine.GetVariable("a")->value.Flag(), 0);  // literal
    EXPECT_EQ(engine.GetVariable("b")->value.Flag(), 0);  // taken from a variable
    EXPECT_EQ(engine.GetVariable("c")->value.Flag(), 1);  // computed
    EXPECT_EQ(engine.GetVariable("d")->value.Flag(), 1);  // a name that is no variable
    EXPECT_EQ(engine.GetVariable("d")->value.Text(), "unknownName");
}

TEST_F(XScriptEngine, ComputedTextsAreLookedUpAsNames) {
    // 2 + 3 gives the text 5.000000 with the name flag, so a variable of that name wins.
    engine.SetVariable("5.000000", CXValue("five", 0));
    Load("x = 2 + 3;");
    engine.Run();
    EXPECT_EQ(Var("x"), "five");
}

TEST_F(XScriptEngine, VariablesPersistAcrossRunsUntilResetState) {
    Load("n += 1;");
    for (int i = 0; i < 3; ++i) {
        engine.Run();
    }
    EXPECT_EQ(Var("n"), "3.000000");
    EXPECT_EQ(engine.ResetState(), 0);
    EXPECT_EQ(Var("n"), "<none>");
    EXPECT_EQ(engine.Variables().Count(), 0u);
    engine.Run();  // the tokens stay
    EXPECT_EQ(Var("n"), "1.000000");
}

TEST_F(XScriptEngine, SetVariableIsSeenByTheScript) {
    Load("y = x * 2;");
    engine.SetVariable("x", CXValue("21"));
    engine.Run();
    EXPECT_EQ(Var("y"), "42.000000");
    EXPECT_EQ(engine.GetVariable("x")->value.Text(), "21.000000");
}

TEST_F(XScriptEngine, LoopStackSurvivesARunThatEndsInsideALoop) {
    Load("while (1) { x = 1;");  // the block never closes
    engine.Run();
    EXPECT_EQ(engine.LoopStackDepth(), 1);
    engine.Run();  // re-entering the same loop pushes nothing
    EXPECT_EQ(engine.LoopStackDepth(), 1);
    engine.ResetState();
    EXPECT_EQ(engine.LoopStackDepth(), 1);
}

TEST_F(XScriptEngine, FinishedLoopsLeaveTheLoopStackEmpty) {
    Load("i = 0; while (i < 2) { i += 1; } while (1) { break; } while (0) { }");
    engine.Run();
    EXPECT_EQ(engine.LoopStackDepth(), 0);
}

TEST_F(XScriptEngine, SyntaxErrorsReachTheErrorHandlerWithTheirLineAndAreDropped) {
    engine.SetErrorHandler(&RecordError);
    Load("a = 1;\nif + 2;\nx = (1, 2) ;\ny = 3;");
    engine.Run();
    ASSERT_FALSE(hostLog.errors.empty());
    EXPECT_EQ(hostLog.errors[0], (std::pair<std::string, int32_t>{"syntax error", 2}));
    for (const auto& error : hostLog.errors) {
        EXPECT_EQ(error.first, "syntax error");
        EXPECT_GE(error.second, 2);
        EXPECT_LE(error.second, 3);
    }
    EXPECT_EQ(Var("y"), "3.000000");  // execution goes on
}

TEST_F(XScriptEngine, SyntaxErrorsAreSilentWithoutAHandler) {
    Load("x = 1 , 2;");
    engine.Run();
    EXPECT_EQ(Var("1.000000"), "2.000000");  // the comma was dropped
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
    EXPECT_NE(Var("i"), "1000.000000");
    EXPECT_EQ(engine.LoopStackDepth(), 1);

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
