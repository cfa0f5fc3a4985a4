#include "console/console_session_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/fake_session.h"
#include "net/network_session.h"
#include "support/temp_dir.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"

namespace {

class ConsoleSessionViewTest : public ::testing::Test {
protected:
    ConsoleSessionViewTest() {
        clock.InitNightDay();
        weather.InitWeather();
        commands.Initialise("Ember Realms Game", 25857);
    }

    // What the window thread would run, in posting order.
    void RunPosted() {
        auto work = std::move(posted);
        posted.clear();
        for (auto& job : work) {
            job();
        }
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ManualTimeSource time{5000};
    RuntimeRandom runtimeRandom;
    NightDay clock{time};
    GameWeather weather{runtimeRandom};
    ServerRates rates;
    CRandom random;
    CMainObjectSet npcs{[this] { return time.AppTime(); }, rates.npcUpdateRate};
    SessionSettings settings;
    ConsoleModel model;
    int exits = 0;
    NetworkSession* sessionPointer = nullptr;
    ConsoleCommands commands{model, rates, clock, weather,
                             ConsoleActions{[this] { sessionPointer->ToggleServer(); },
                                            [this] { ++exits; },
                                            [this] { return sessionPointer->playerCount(); },
                                            [this](float, float) { sessionPointer->SendRateSettings(); }}};
    PlayerList players{model};
    std::vector<std::function<void()>> posted;
    ConsoleSessionView view{commands, players, [this](std::function<void()> work) {
                                posted.push_back(std::move(work));
                            }};
    FakeSession* fake = nullptr;
    HRESULT hostResult = S_OK;
    NetworkSession session{settings, rates, random, SessionWorld{npcs, clock, weather}, view,
                           [this] {
                               auto created = std::make_unique<FakeSession>();
                               created->hostResult = hostResult;
                               fake = created.get();
                               return created;
                           }};
    int bind = (sessionPointer = &session, 0);
};

TEST_F(ConsoleSessionViewTest, StartAndStopShowOnTheConsole) {
    model.SetText(ConsoleField::SessionName, "Dragon Keep");
    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(model.Text(ConsoleField::ServerStatus), "Server started.");
    EXPECT_EQ(model.StartButtonText(), "Stop Server");
    EXPECT_FALSE(model.Enabled(ConsoleField::SessionName));
    EXPECT_FALSE(model.Enabled(ConsoleField::PortNumber));
    EXPECT_STREQ(settings.sessionName, "Dragon Keep");

    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(model.Text(ConsoleField::ServerStatus), "Server stopped.");
    EXPECT_EQ(model.StartButtonText(), "Start Server");
    EXPECT_TRUE(model.Enabled(ConsoleField::SessionName));
}

TEST_F(ConsoleSessionViewTest, JoinsAndLeavesReachTheListAndCountOnlyThroughThePostedQueue) {
    commands.Press(ConsoleButton::Start);
    fake->Connect(u"first");
    const DPNID second = fake->Connect(u"second");
    const DPNID third = fake->Connect(u"third");
    EXPECT_TRUE(model.PlayerLines().empty());  // nothing touched from the session's threads
    RunPosted();
    EXPECT_EQ(model.Text(ConsoleField::PlayersInGame), "3");
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "second", "third"}));

    fake->Disconnect(second);
    RunPosted();
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(players.PlayerAtLine(1), third);
    EXPECT_EQ(model.Text(ConsoleField::PlayersInGame), "2");

    // Apply Changes with players connected tells each of them.
    fake->ClearSent();
    commands.Press(ConsoleButton::ApplyChanges);
    EXPECT_EQ(fake->SentTo(third).size(), 1u);
}

TEST_F(ConsoleSessionViewTest, AFailedStartClosesTheConsoleAfterTheCommandReturns) {
    hostResult = E_FAIL;
    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(exits, 0);
    EXPECT_EQ(model.Text(ConsoleField::ServerStatus), "Starting Server...");
    RunPosted();
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(model.StartButtonText(), "Start Server");
}

}  // namespace
