#include "console/terminal_commands.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

class TerminalCommandsTest : public ::testing::Test {
protected:
    TerminalCommandsTest() {
        clock.InitNightDay();
        weather.InitWeather();
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time;
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
    ConsoleModel model;
    ServerRates rates;
    int toggles = 0;
    ConsoleCommands commands{model, rates, clock, weather,
                             ConsoleActions{[this] { ++toggles; }, nullptr, nullptr, nullptr}};
    TerminalCommands terminal{commands};
};

TEST_F(TerminalCommandsTest, StatusListsEveryFieldWithItsLabel) {
    const std::string status = terminal.Execute("status");
    EXPECT_NE(status.find("Server Status: Server Stopped\n"), std::string::npos);
    EXPECT_NE(status.find("Game Time: 0:00\n"), std::string::npos);
    EXPECT_NE(status.find("Is it Raining?: No\n"), std::string::npos);
    EXPECT_NE(status.find("Day Length (Program Cycles): 1000\n"), std::string::npos);
    EXPECT_EQ(std::count(status.begin(), status.end(), '\n'), 17);
}

TEST_F(TerminalCommandsTest, SetTypesIntoFieldsAndDigitFieldsRefuseOtherText) {
    EXPECT_EQ(terminal.Execute("set session  The Old Keep "), "");
    EXPECT_EQ(model.Text(ConsoleField::SessionName), "The Old Keep");
    EXPECT_EQ(terminal.Execute("set daylength 24"), "");
    EXPECT_EQ(terminal.Execute("apply"), "");
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 1.0f);
    EXPECT_EQ(terminal.Execute("set port 12ab"), "set: port takes digits only\n");
    EXPECT_EQ(model.Text(ConsoleField::PortNumber), "25858");
    EXPECT_NE(terminal.Execute("set gametime 5").find("unknown field"), std::string::npos);
    model.SetEnabled(ConsoleField::SessionName, false);
    EXPECT_NE(terminal.Execute("set session x").find("while the server is hosting"),
              std::string::npos);
}

TEST_F(TerminalCommandsTest, RainAndStartPressTheirButtons) {
    EXPECT_EQ(terminal.Execute("rain 75"), "");
    EXPECT_EQ(weather.targetVolume, 60);
    EXPECT_EQ(terminal.Execute("rain -1"), "set: rainvolume takes digits only\n");
    EXPECT_EQ(terminal.Execute("stop"), "the server is not started\n");
    EXPECT_EQ(terminal.Execute("start"), "");
    EXPECT_EQ(toggles, 1);
}

TEST_F(TerminalCommandsTest, BadInputIsExplainedNeverFatal) {
    EXPECT_EQ(terminal.Execute(""), "");
    EXPECT_EQ(terminal.Execute("   \t "), "");
    EXPECT_NE(terminal.Execute("frobnicate now").find("unknown command 'frobnicate'"),
              std::string::npos);
    EXPECT_NE(terminal.Execute("help").find("rain [VOLUME]"), std::string::npos);
    EXPECT_EQ(terminal.Execute("players"), "no players\n");
    EXPECT_EQ(terminal.Execute("exit"), "");  // no close action: nothing happens
}

}  // namespace
