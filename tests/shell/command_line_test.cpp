#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "emberrealms-server");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, OptionsAreReadWithTheirDefaults) {
    using A = CommandLine::Action;
    // clang-format off
    const std::pair<std::vector<const char*>, CommandLine> cases[] = {{{}, {}},
        {{"--headless", "--data", "world", "--start"}, {A::Run, {"world", true, true, false, 0, 1, 0, "", false}, ""}},
        {{"--data=elsewhere"}, {A::Run, {"elsewhere", false, false, false, 0, 1, 0, "", false}, ""}},
        {{"--data", "w", "--simulate", "40"}, {A::Run, {"w", false, false, true, 40, 1, 40, "", false}, ""}},  // K defaults to N
        {{"--simulate=7", "--dump-every", "3", "--seed=4294967295"}, {A::Run, {"", false, false, true, 7, 4294967295u, 3, "", false}, ""}},
        {{"--start", "--help"}, {A::Help, {"", false, true, false, 0, 1, 0, "", false}, ""}}, {{"--version"}, {A::Version, {}, ""}},
        {{"--control-socket", "/run/x.sock"}, {A::Run, {"", false, false, false, 0, 1, 0, "/run/x.sock", false}, ""}},
        {{"--control-socket=s", "--no-control-socket"}, {A::Run, {"", false, false, false, 0, 1, 0, "s", true}, ""}},
        {{"--web-console", "0.0.0.0:8080"}, {A::Run, {"", false, false, false, 0, 1, 0, "", false, true, "0.0.0.0", 8080}, ""}},
        {{"--web-console=[::1]:0"}, {A::Run, {"", false, false, false, 0, 1, 0, "", false, true, "::1", 0}, ""}},
        {{"--port", "1"}, {A::Error, {}, "unknown option '--port'"}}};
    // clang-format on
    for (const auto& [args, expected] : cases)
        EXPECT_TRUE(Parse(args) == expected) << testing::PrintToString(args);
}

TEST(CommandLineTest, BadLinesAreErrors) {
    // clang-format off
    const std::vector<std::vector<const char*>> bad = {{"--port", "1"}, {"--data"}, {"--data="}, {"--simulate"},
        {"--simulate", "-1"}, {"--simulate", "12x"}, {"--simulate", "5", "--dump-every", "0"},
        {"--simulate", "5", "--seed", "4294967296"}, {"--seed", "3"}, {"--dump-every", "3"}, {"--simulate", "5", "--start"},
        {"--control-socket"}, {"--control-socket="}, {"--web-console", "8080"}, {"--web-console", ":8080"},
        {"--web-console", "h:65536"}, {"--web-console", "h:"}, {"--web-console", "[]:1"}};
    // clang-format on
    for (const auto& args : bad) {
        const CommandLine line = Parse(args);
        EXPECT_TRUE(line.action == CommandLine::Action::Error && !line.error.empty())
            << args.back();
    }
}

}  // namespace
