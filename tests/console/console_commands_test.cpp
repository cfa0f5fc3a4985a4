#include "console/console_commands.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"

namespace {

TEST(ReadFieldNumberTest, FollowsAtoiOnTheFirstCharactersOnly) {
    const struct {
        const char* text;
        std::size_t maxChars;
        int32_t expected;
    } cases[] = {
        {"50", 4, 50},          {"12345", 4, 1234},   {"", 4, 0},
        {"abc", 4, 0},          {"  42x", 4, 42},     {"-5", 4, -5},
        {"+7", 4, 7},           {"1000", 19, 1000},   {"9999999999999999999", 19, 2147483647},
        {"-9999999999", 19, -2147483647 - 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadFieldNumber(c.text, c.maxChars), c.expected) << c.text;
    }
}

class ConsoleCommandsTest : public ::testing::Test {
protected:
    ConsoleCommandsTest() {
        clock.InitNightDay();
        weather.InitWeather();
    }

    ConsoleCommands Make() {
        ConsoleActions actions;
        actions.playerCount = [this] { return players; };
        actions.sendRateSettings = [this](float update, float timeout) {
            rateMessages.push_back({update, timeout});
        };
        actions.toggleServer = [this] { ++toggles; };
        actions.close = [this] { ++closes; };
        return ConsoleCommands(model, rates, clock, weather, std::move(actions));
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time;
    RuntimeRandom random;
    NightDay clock{time};
    GameWeather weather{random};
    ConsoleModel model;
    ServerRates rates;
    int32_t players = 0;
    int toggles = 0;
    int closes = 0;
    std::vector<std::pair<float, float>> rateMessages;
};

TEST_F(ConsoleCommandsTest, InitialiseShowsTheSettingsAndAppliesTheFieldTexts) {
    EXPECT_EQ(rates.reliableRate, 15);  // before the console applies its fields
    EXPECT_EQ(model.Text(ConsoleField::PortNumber), "25858");
    ConsoleCommands commands = Make();
    commands.Initialise("Dragon Keep", 25857);
    EXPECT_EQ(model.Text(ConsoleField::SessionName), "Dragon Keep");
    EXPECT_EQ(model.Text(ConsoleField::PortNumber), "25857");
    EXPECT_EQ(rates.updateRate, 50.0f);
    EXPECT_EQ(rates.reliableRate, 0);
    EXPECT_EQ(rates.npcUpdateRate, 50);
    EXPECT_EQ(rates.messageTimeout, 60.0f);
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 41.666668f);
    EXPECT_EQ(model.Text(ConsoleField::PlayersInGame), "0");
    EXPECT_TRUE(rateMessages.empty());

    commands.Initialise("x", 0);
    EXPECT_EQ(model.Text(ConsoleField::PortNumber), "");
}

TEST_F(ConsoleCommandsTest, ApplyChangesReadsFourCharactersAndTellsPlayersOnlyWhenThereAreSome) {
    ConsoleCommands commands = Make();
    model.SetText(ConsoleField::UpdateRate, "12345");
    model.SetText(ConsoleField::MessageTimeout, "");
    model.SetText(ConsoleField::DayLength, "24");
    commands.Press(ConsoleButton::ApplyChanges);
    EXPECT_EQ(rates.updateRate, 1234.0f);
    EXPECT_EQ(rates.messageTimeout, 0.0f);
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 1.0f);
    EXPECT_TRUE(rateMessages.empty());

    players = 2;
    commands.Press(ConsoleButton::ApplyChanges);
    ASSERT_EQ(rateMessages.size(), 1u);
    EXPECT_EQ(rateMessages[0], std::make_pair(1234.0f, 0.0f));
}

TEST_F(ConsoleCommandsTest, RainButtonStartsRainWithTheClampedVolume) {
    ConsoleCommands commands = Make();
    model.SetText(ConsoleField::NewRainVolume, "99");
    commands.Press(ConsoleButton::RainApply);
    EXPECT_EQ(weather.raining, 1);
    EXPECT_EQ(weather.targetVolume, 60);
}

TEST_F(ConsoleCommandsTest, AClosedConsoleTakesNoMoreCommands) {
    ConsoleCommands commands = Make();
    commands.Press(ConsoleButton::Start);
    commands.Exit();
    commands.SetClosed();
    commands.Press(ConsoleButton::Start);
    commands.Press(ConsoleButton::RainApply);
    commands.Exit();
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(weather.raining, 0);
}

TEST(ConsoleModelTest, PlayerLinesMoveUpWhenOneIsDeleted) {
    ConsoleModel model;
    int changes = 0;
    model.SetObserver([&](ConsoleModel::Change, ConsoleField) { ++changes; });
    EXPECT_EQ(model.AddPlayerLine("first"), 0);
    EXPECT_EQ(model.AddPlayerLine("second"), 1);
    EXPECT_EQ(model.AddPlayerLine("third"), 2);
    model.DeletePlayerLine(1);
    model.DeletePlayerLine(7);  // no such line
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(changes, 4);
    model.SetText(ConsoleField::GameTime, "0:00");  // unchanged text: no notification
    EXPECT_EQ(changes, 4);
}

TEST(ConsoleLayoutTest, EveryFieldHasItsControlAndLabel) {
    EXPECT_STREQ(FieldLabel(ConsoleField::UpdateRate), "Update Rate:");
    EXPECT_STREQ(FieldLabel(ConsoleField::ReliableRate), "Reliable Rate:");
    EXPECT_STREQ(FieldLabel(ConsoleField::MessageTimeout), "Message Timout (ms):");
    EXPECT_STREQ(FieldLabel(ConsoleField::PlayersInGame), "Players in Game: ");
    EXPECT_STREQ(FieldControl(ConsoleField::GameTime).text, "0:00");
    EXPECT_EQ(FieldControl(ConsoleField::DayLength).width, 70);
    EXPECT_EQ(FieldControl(ConsoleField::NewRainVolume).kind, ControlKind::DigitsEdit);
    for (std::size_t i = 0; i < kConsoleFieldCount; ++i) {
        const auto field = static_cast<ConsoleField>(i);
        EXPECT_NE(FieldLabel(field), nullptr);
        EXPECT_EQ(FieldControl(field).field, field);
    }
}

}  // namespace
