#include "shell/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "emberrealms-server");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLineTest, OptionsAreRead) {
    const CommandLine line = Parse({"--headless", "--data", "world", "--start"});
    ASSERT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_TRUE(line.options.headless);
    EXPECT_TRUE(line.options.start);
    EXPECT_EQ(line.options.dataDir, "world");
    EXPECT_EQ(Parse({"--data=elsewhere"}).options.dataDir, "elsewhere");
    EXPECT_FALSE(Parse({}).options.headless);
}

TEST(CommandLineTest, HelpVersionAndErrors) {
    EXPECT_EQ(Parse({"--start", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--version"}).action, CommandLine::Action::Version);
    const CommandLine unknown = Parse({"--port", "1"});
    EXPECT_EQ(unknown.action, CommandLine::Action::Error);
    EXPECT_EQ(unknown.error, "unknown option '--port'");
    EXPECT_EQ(Parse({"--data"}).action, CommandLine::Action::Error);
    EXPECT_EQ(Parse({"--data="}).action, CommandLine::Action::Error);
}

TEST(CommandLineTest, SimulationOptionsAndTheirDefaults) {
    const CommandLine plain = Parse({"--data", "w", "--simulate", "40"});
    ASSERT_EQ(plain.action, CommandLine::Action::Run);
    EXPECT_TRUE(plain.options.simulate);
    EXPECT_EQ(plain.options.simulateTicks, 40);
    EXPECT_EQ(plain.options.simulateSeed, 1u);
    EXPECT_EQ(plain.options.simulateDumpEvery, 40);  // K defaults to N

    const CommandLine full = Parse({"--simulate=7", "--dump-every", "3", "--seed=4294967295"});
    ASSERT_EQ(full.action, CommandLine::Action::Run);
    EXPECT_EQ(full.options.simulateTicks, 7);
    EXPECT_EQ(full.options.simulateDumpEvery, 3);
    EXPECT_EQ(full.options.simulateSeed, 4294967295u);
    EXPECT_FALSE(Parse({"--headless"}).options.simulate);

    const std::vector<std::vector<const char*>> bad = {
        {"--simulate"},
        {"--simulate", "-1"},
        {"--simulate", "12x"},
        {"--simulate", "5", "--dump-every", "0"},
        {"--simulate", "5", "--seed", "4294967296"},
        {"--seed", "3"},
        {"--dump-every", "3"},
        {"--simulate", "5", "--start"},
    };
    for (const auto& args : bad) {
        const CommandLine line = Parse(args);
        EXPECT_EQ(line.action, CommandLine::Action::Error) << args[0] << " " << args.size();
        EXPECT_FALSE(line.error.empty());
    }
}

}  // namespace
