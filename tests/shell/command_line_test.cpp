#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "emberrealms-server");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, OptionsAreReadWithTheirDefaults) {
    const ShellOptions run = Parse({"--headless", "--data", "world", "--start"}).options;
    EXPECT_TRUE(run.headless && run.start && !run.simulate && run.dataDir == "world");
    EXPECT_EQ(Parse({"--data=elsewhere"}).options.dataDir, "elsewhere");
    EXPECT_FALSE(Parse({}).options.headless || Parse({}).options.start);
    const ShellOptions plain = Parse({"--data", "w", "--simulate", "40"}).options;
    EXPECT_TRUE(plain.simulate && plain.simulateTicks == 40 && plain.simulateSeed == 1u &&
                plain.simulateDumpEvery == 40);  // K defaults to N
    const ShellOptions full =
        Parse({"--simulate=7", "--dump-every", "3", "--seed=4294967295"}).options;
    EXPECT_TRUE(full.simulateTicks == 7 && full.simulateDumpEvery == 3 &&
                full.simulateSeed == 4294967295u);
}

TEST(CommandLineTest, HelpVersionAndErrors) {
    EXPECT_EQ(Parse({"--start", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, CommandLine::Action::Version);
    EXPECT_EQ(Parse({"--simulate", "5", "--seed", "4294967295"}).action, CommandLine::Action::Run);
    EXPECT_EQ(Parse({"--port", "1"}).error, "unknown option '--port'");
    // clang-format off
    const std::vector<std::vector<const char*>> bad = {{"--port", "1"}, {"--data"}, {"--data="}, {"--simulate"},
        {"--simulate", "-1"}, {"--simulate", "12x"}, {"--simulate", "5", "--dump-every", "0"},
        {"--simulate", "5", "--seed", "4294967296"}, {"--seed", "3"}, {"--dump-every", "3"}, {"--simulate", "5", "--start"}};
    // clang-format on
    for (const auto& args : bad) {
        const CommandLine line = Parse(args);
        EXPECT_TRUE(line.action == CommandLine::Action::Error && !line.error.empty())
            << args.back();
    }
}

}  // namespace
