// Runs the built xscript-run program on small scripts and checks its exact output.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace {

TEST(XScriptRunTool, PrintsWhatTheScriptPrintsThenTheSortedVariables) {
    const std::string end = "# loop stack: 0\n";
    // clang-format off
    const struct { const char* script; const char* arguments; int exitCode; std::string out; const char* err; } cases[] = {
        {"b = 2 + 3;\na = \"say \\\"hi\\\"\\n\";\nB = \"\xe9\\\\\";\nprint(b); print(\"one\", \"two\");\nprint(\"\");\n", "", 0,
         "5.000000\ntwo\n\nB = \"\\xE9\\\\\"\na = \"say \\\"hi\\\"\\x0A\"\nb = \"5.000000\"\n" + end, ""},
        {"n += 1; print(n);", "--runs 3", 0, "1.000000\n2.000000\n3.000000\nn = \"3.000000\"\n" + end, ""},
        {"n += 1;", "--runs 0", 0, end, ""},
        // Registered, a function takes its arguments and pushes nothing; unregistered, it is a word.
        {"print(7, take2(1, 2));", "--register take2:2", 0, "7.000000\n" + end, ""},
        {"print(7, take2(1, 2));", "", 0, "2.000000\n" + end, ""},
        {"print(7, none(1));", "--register take2:2 --register none:0", 0, "1.000000\n" + end, ""},
        {"print(7, none(1));", "--register take2:2 none:0", 0, "1.000000\n" + end, ""},
        {"x = 1;\nx = 2 , 3;\n", "", 0, "2.000000 = \"3.000000\"\nx = \"1.000000\"\n" + end, ""},
        {"x = 1;\nx = 2 , 3;\n", "--errors", 0, "2.000000 = \"3.000000\"\nx = \"1.000000\"\n" + end, "syntax error at line 2\n"},
        {"while (1) { x = 1;", "", 0, "x = \"1.000000\"\n# loop stack: 1\n", ""},
        {"x = 1; */ y = 2;", "", 0, "x = \"1.000000\"\n" + end, "warning"},  // runs the tokens before a nesting error
        {"print(1); while (1) { x = 1; }", "--max-steps 1000", 4, "1.000000\nx = \"1.000000\"\n# loop stack: 1\n", "stopped after 1000"},
        {nullptr, "", 1, "", "cannot read"}, {"x = 1;", "--runs", 2, "", "usage"}, {"x = 1;", "--runs x", 2, "", "usage"},
        {"x = 1;", "--register", 2, "", "usage"}, {"x = 1;", "--register noargc", 2, "", "usage"},
        {"x = 1;", "--register :2", 2, "", "usage"}, {"x = 1;", "--max-steps 0", 2, "", "usage"}, {"x = 1;", "--bogus", 2, "", "usage"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.script ? c.script : "no file") + " " + c.arguments);
        er_test::TempDir dir;
        if (c.script != nullptr)
            dir.Write("script.txt", c.script);
        const std::string command = std::string("cd '") + dir.path().string() + "' && '" +
                                    XSCRIPT_RUN_PATH + "' " + c.arguments +
                                    " script.txt > out 2> err";
        const int status = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.exitCode);
        EXPECT_EQ(dir.Read("out"), c.out);
        const std::string err = dir.Read("err");
        EXPECT_TRUE(*c.err ? err.find(c.err) != std::string::npos : err.empty()) << err;
    }
}

}  // namespace
