// Runs the built xscript-run program on small scripts and checks its exact output.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace {

struct Result {
    int exitCode;
    std::string out;
    std::string err;
};

class XScriptRunTool : public ::testing::Test {
protected:
    // Writes the script (if any) and runs the tool with the arguments, FILE last.
    Result Run(const std::string& script, const std::string& arguments,
               const std::string& file = "script.txt") {
        if (!script.empty() || file == "script.txt") {
            dir.Write("script.txt", script);
        }
        const std::string command = std::string("'") + XSCRIPT_RUN_PATH + "' " + arguments + " '" +
                                    (dir.path() / file).string() + "' > '" +
                                    (dir.path() / "out").string() + "' 2> '" +
                                    (dir.path() / "err").string() + "'";
        const int status = std::system(command.c_str());
        return Result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, dir.Read("out"),
                      dir.Read("err")};
    }

    er_test::TempDir dir;
};

TEST_F(XScriptRunTool, PrintsWhatTheScriptPrintsThenTheSortedVariables) {
    const Result r =
        Run("b = 2 + 3;\n"
            "a = \"say \\\"hi\\\"\\n\";\n"
            "B = \"\xe9\\\\\";\n"
            "print(b); print(\"one\", \"two\");\n"
            "print(\"\");\n",
            "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out,
              "5.000000\n"
              "two\n"
              "\n"
              "B = \"\\xE9\\\\\"\n"
              "a = \"say \\\"hi\\\"\\x0A\"\n"
              "b = \"5.000000\"\n"
              "# loop stack: 0\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(XScriptRunTool, RunsTheScriptTheGivenNumberOfTimes) {
    const Result r = Run("n += 1; print(n);", "--runs 3");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "1.000000\n2.000000\n3.000000\nn = \"3.000000\"\n# loop stack: 0\n");
    const Result none = Run("n += 1;", "--runs 0");
    EXPECT_EQ(none.out, "# loop stack: 0\n");
}

TEST_F(XScriptRunTool, RegisteredFunctionsTakeTheirArgumentsAndPushNothing) {
    // With take2 registered, its two arguments are taken and print gets the 7; unregistered,
    // "take2" is a word and print gets the last value, 2.
    const char* script = "print(7, take2(1, 2));";
    EXPECT_EQ(Run(script, "--register take2:2").out, "7.000000\n# loop stack: 0\n");
    EXPECT_EQ(Run(script, "").out, "2.000000\n# loop stack: 0\n");
    EXPECT_EQ(Run("print(7, none(1));", "--register take2:2 --register none:0").out,
              "1.000000\n# loop stack: 0\n");
    // One --register may also name several functions.
    EXPECT_EQ(Run("print(7, none(1));", "--register take2:2 none:0").out,
              "1.000000\n# loop stack: 0\n");
}

TEST_F(XScriptRunTool, ErrorsOptionReportsSyntaxErrorsWithTheirLine) {
    const char* script = "x = 1;\nx = 2 , 3;\n";
    const Result quiet = Run(script, "");
    EXPECT_EQ(quiet.err, "");
    const Result loud = Run(script, "--errors");
    EXPECT_EQ(loud.exitCode, 0);
    EXPECT_EQ(loud.err, "syntax error at line 2\n");
    EXPECT_EQ(loud.out, quiet.out);
    EXPECT_EQ(loud.out, "2.000000 = \"3.000000\"\nx = \"1.000000\"\n# loop stack: 0\n");
}

TEST_F(XScriptRunTool, ReportsTheLoopStackDepth) {
    const Result r = Run("while (1) { x = 1;", "");
    EXPECT_EQ(r.out, "x = \"1.000000\"\n# loop stack: 1\n");
}

TEST_F(XScriptRunTool, AFileThatCannotBeReadExitsWithOne) {
    const Result r = Run("", "", "missing.txt");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
}

TEST_F(XScriptRunTool, CommentNestingErrorWarnsAndRunsTheTokensBeforeIt) {
    const Result r = Run("x = 1; */ y = 2;", "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "x = \"1.000000\"\n# loop stack: 0\n");
}

TEST_F(XScriptRunTool, StepLimitStopsAnEndlessLoopWithExitCodeFour) {
    const Result r = Run("print(1); while (1) { x = 1; }", "--max-steps 1000");
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_NE(r.err.find("1000"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "1.000000\nx = \"1.000000\"\n# loop stack: 1\n");
}

TEST_F(XScriptRunTool, BadCommandLinesExitWithTwo) {
    const char* bad[] = {"--runs",        "--runs x",      "--register", "--register noargc",
                         "--register :2", "--max-steps 0", "--bogus"};
    for (const char* arguments : bad) {
        const Result r = Run("x = 1;", arguments);
        EXPECT_EQ(r.exitCode, 2) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << arguments;
    }
}

}  // namespace
