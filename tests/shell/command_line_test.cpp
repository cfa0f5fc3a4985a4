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

}  // namespace
