#include "console/console_session_view.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "net/game_messages.h"
#include "support/fake_session.h"
#include "support/session_test_world.h"
#include "support/temp_dir.h"

namespace {

struct ConsoleSessionViewTest : ::testing::Test, SessionTestWorld {
    ConsoleSessionViewTest() { commands.Initialise("Ember Realms Game", 25857); }

    // What the window thread would run, in posting order.
    void RunPosted() {
        for (auto& job : std::exchange(posted, {}))
            job();
    }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    ConsoleModel model;
    int exits = 0;
    ConsoleCommands commands{model, rates, clock, weather,
                             ConsoleActions{[this] { session.ToggleServer(); },
                                            [this] { ++exits; },
                                            [this] { return session.playerCount(); },
                                            [this](float, float) { session.SendRateSettings(); },
                                            {},
                                            {}}};
    PlayerList players{model};
    std::vector<std::function<void()>> posted;
    ConsoleSessionView view{commands, players, [this](std::function<void()> work) {
                                posted.push_back(std::move(work));
                            }};
    FakeSession* fake = nullptr;
    HRESULT hostResult = S_OK;
    NetworkSession session{settings, rates, random, World(), view, [this] {
                               fake = new FakeSession, fake->hostResult = hostResult;
                               return std::unique_ptr<SessionService>(fake);
                           }};
};

TEST_F(ConsoleSessionViewTest, StartAndStopShowOnTheConsole) {
    const auto shown = [&] {
        return std::tuple(model.Text(ConsoleField::ServerStatus), model.StartButtonText(),
                          model.Enabled(ConsoleField::SessionName),
                          model.Enabled(ConsoleField::PortNumber));
    };
    model.SetText(ConsoleField::SessionName, "Dragon Keep");
    model.SetText(ConsoleField::PortNumber, "2300");
    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(shown(), std::tuple("Server started.", "Stop Server", false, false));
    EXPECT_EQ(std::tuple(fake->hostedDesc.sessionName, fake->hostedPort),
              std::tuple(u"Dragon Keep", 2300u));
    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(shown(), std::tuple("Server stopped.", "Start Server", true, true));
}

TEST_F(ConsoleSessionViewTest, JoinsAndLeavesReachTheListAndCountOnlyThroughThePostedQueue) {
    commands.Press(ConsoleButton::Start);
    fake->Connect(u"first");
    const DPNID second = fake->Connect(u"second");
    const DPNID third = fake->Connect(u"third");
    EXPECT_TRUE(model.PlayerLines().empty());  // nothing touched from the session's threads
    RunPosted();
    EXPECT_EQ(std::tuple(model.Text(ConsoleField::PlayersInGame), model.PlayerLines()),
              std::tuple("3", std::vector<std::string>{"first", "second", "third"}));

    fake->Disconnect(second);
    RunPosted();
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(players.PlayerAtLine(1), third);
    EXPECT_EQ(model.Text(ConsoleField::PlayersInGame), "2");

    fake->TakeSent();
    commands.Press(ConsoleButton::ApplyChanges);  // with players connected: tells all of them
    const auto rates = BuildRateSettings(50.0f, 60.0f);
    EXPECT_EQ(fake->TakeSent(),
              (std::vector<FakeSession::Sent>{
                  {kAllPlayers, {rates.begin(), rates.end()}, 0, DPNSEND_NOLOOPBACK}}));
}

TEST_F(ConsoleSessionViewTest, AFailedStartClosesTheConsoleAfterTheCommandReturns) {
    hostResult = E_FAIL;
    model.SetText(ConsoleField::PortNumber, "2302");
    testing::internal::CaptureStderr();
    commands.Press(ConsoleButton::Start);
    EXPECT_EQ(std::tuple(exits, model.Text(ConsoleField::ServerStatus),
                         testing::internal::GetCapturedStderr()),
              std::tuple(0, "Starting Server...",
                         "Error Starting Server! (UDP port 2302 could not be hosted)\n"));
    RunPosted();
    EXPECT_EQ(std::tuple(exits, model.StartButtonText()), std::tuple(1, "Start Server"));
}

}  // namespace
