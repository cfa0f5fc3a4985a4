#include "console/console_session_view.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include "console/console_window.h"
#include "console/player_info_dialog.h"
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
                                            [this](int line) { return players.PlayerAtLine(line); },
                                            [this](DPNID p) { return FreshPlayerInfo(session, p); },
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
    EXPECT_EQ(std::tuple(model.PlayerLines(), players.PlayerAtLine(1),
                         model.Text(ConsoleField::PlayersInGame)),
              std::tuple(std::vector<std::string>{"first", "third"}, third, "2"));

    fake->TakeSent();
    commands.Press(ConsoleButton::ApplyChanges);  // with players connected: tells all of them
    const auto rates = BuildRateSettings(50.0f, 60.0f);
    EXPECT_EQ(fake->TakeSent(),
              (std::vector<FakeSession::Sent>{
                  {kAllPlayers, {rates.begin(), rates.end()}, 0, DPNSEND_NOLOOPBACK}}));
}

TEST_F(ConsoleSessionViewTest, ANameIsShownWithItsControlsVisibleButSentToPlayersAsChosen) {
    commands.Press(ConsoleButton::Start);
    const DPNID eve = fake->Connect(u"\x1B[2JEve\x81");
    RunPosted();
    const auto joined = BuildPlayerJoined(eve, "\x1B[2JEve\x81");
    const std::vector<FakeSession::Sent> sent = fake->TakeSent();
    EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const FakeSession::Sent& s) {
        return s.target == kAllPlayers &&
               std::equal(s.bytes.begin(), s.bytes.end(), joined.begin(), joined.end());
    }));
    EXPECT_EQ(std::tuple(model.PlayerLines(), commands.PlayerInfo(eve).value().values[0]),
              std::tuple(std::vector<std::string>{"\\x1B[2JEve\\x81"}, "\\x1B[2JEve\\x81"));
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

// Three players join through the session and the second leaves; Info on the window's second
// line follows the third, refreshes, and keeps its last values once the third has left too.
TEST_F(ConsoleSessionViewTest, InfoInTheWindowShowsTheSelectedPlayerLiveUntilOk) {
    commands.Press(ConsoleButton::Start);
    const DPNID ann = fake->Connect(u"Ann"), bob = fake->Connect(u"Bob"),
                cid = fake->Connect(u"Cid");
    fake->Disconnect(bob), RunPosted();
    ConsoleWindow window(commands, nullptr);
    window.show(), window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* list = window.findChild<QListWidget*>();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(1)).center());
    fake->connectionInfo = {120, 3400, 5, 7, 1};  // ms, bytes a second, sent, received, timed out
    std::vector<QStringList> shown;
    QTimer::singleShot(0, [&] {
        auto* dialog = dynamic_cast<PlayerInfoDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const auto texts = [&] {
            QStringList t;
            for (QLabel* v : dialog->values())
                t << v->text();
            return t;
        };
        shown.push_back(texts());
        if (const char* dir = std::getenv("ER_SCREENSHOTS"))  // tools/screenshots.sh
            window.grab().save(QString(dir) + "/console.png"),
                dialog->grab().save(QString(dir) + "/player-info.png");
        fake->connectionInfo.roundTripLatencyMs = 130;
        QTest::qWait(PlayerInfoDialog::kRefreshMs + 200), shown.push_back(texts());
        fake->Disconnect(cid);  // the last values stay
        QTest::qWait(PlayerInfoDialog::kRefreshMs + 200), shown.push_back(texts());
        QTest::keyClick(dialog, Qt::Key_Escape),
            QTest::keyClick(dialog, Qt::Key_X);  // neither closes it, nor exits
        EXPECT_TRUE(dialog->isVisible());
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
    });
    QTest::keyClick(list, Qt::Key_I, Qt::ControlModifier);
    const QStringList first = {"Cid", "120 ms", "5", "7", "1", "3400 Bytes/Sec"},
                      later = {"Cid", "130 ms", "5", "7", "1", "3400 Bytes/Sec"};
    EXPECT_EQ(shown, (std::vector<QStringList>{first, later, later}));
    EXPECT_EQ(std::tuple(exits, ann != cid), std::tuple(0, true));
}

}  // namespace
