#include "console/player_list.h"

#include <tuple>
#include <vector>

#include "console_fixture.h"

namespace {

TEST(ReadFieldNumberTest, FollowsAtoiOnTheFirstCharactersOnly) {
    // clang-format off
    const struct { const char* text; std::size_t maxChars; int32_t expected; } cases[] = {
        {"50", 4, 50}, {"12345", 4, 1234}, {"", 4, 0}, {"abc", 4, 0}, {"  42x", 4, 42},
        {"-5", 4, -5}, {"+7", 4, 7}, {"1000", 19, 1000}, {"9999999999999999999", 19, 2147483647}, {"-9999999999", 19, -2147483647 - 1}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(ReadFieldNumber(c.text, c.maxChars), c.expected) << c.text;
}

auto Rates(const ServerRates& r) {
    return std::tuple(r.updateRate.load(), r.reliableRate.load(), r.npcUpdateRate.load(),
                      r.messageTimeout.load());
}

TEST_F(ConsoleCommandsTest, InitialiseShowsTheSettingsAndAppliesTheFieldTexts) {
    commands.Initialise("Dragon Keep", 25857);
    using enum ConsoleField;
    const auto shown = [&] {
        return std::tuple(model.Text(SessionName), model.Text(PortNumber),
                          model.Text(PlayersInGame));
    };
    EXPECT_EQ(
        std::tuple(shown(), Rates(rates), rateMessages.size()),
        std::tuple(std::tuple("Dragon Keep", "25857", "0"), std::tuple(50.0f, 0, 50, 60.0f), 0u));
    EXPECT_FLOAT_EQ(clock.ticksPerHour, 41.666668f);
    players = 3;
    commands.Initialise("x", 0);
    EXPECT_EQ(shown(), std::tuple("x", "", "3"));
}

TEST_F(ConsoleCommandsTest, ApplyChangesReadsFourCharactersAndTellsPlayersOnlyWhenThereAreSome) {
    using enum ConsoleField;
    // clang-format off
    const std::pair<ConsoleField, const char*> fields[] = {{UpdateRate, "12345"}, {ReliableRate, "77"}, {NpcUpdateRate, "99999"},
                                                           {MessageTimeout, ""}, {DayLength, "24"}};
    for (auto [field, text] : fields) model.SetText(field, text);
    // clang-format on
    commands.Press(ConsoleButton::ApplyChanges);
    EXPECT_EQ(std::tuple(Rates(rates), clock.ticksPerHour, rateMessages.size()),
              std::tuple(std::tuple(1234.0f, 77, 9999, 0.0f), 1.0f, 0u));
    players = 2;
    commands.Press(ConsoleButton::ApplyChanges);
    EXPECT_EQ(rateMessages, (std::vector<std::pair<float, float>>{{1234.0f, 0.0f}}));
}

TEST_F(ConsoleCommandsTest, TerminalStatusShowsEveryFieldUnderItsLabel) {
    EXPECT_EQ(terminal.Execute("status"),
              "Session Name: EmberRealms Game\nPort Number: 25858\nServer Status: Server Stopped\n"
              "Update Rate: 50\nReliable Rate: 0\nNPC Update Rate: 50\nMessage Timout (ms): 60\n"
              "Game Time: 0:00\nDays Running: 0\nDay Length (Program Cycles): 1000\n"
              "Players in Game: 0\nTime Delta: 0\nIs it Raining?: No\nRain Duration: 0\n"
              "Rain Progress: 0\nRain Volume: 0\nNew Rain Volume (0-60): 0\n");
}

TEST_F(ConsoleCommandsTest, TerminalCommandsAnswerAndBadInputIsExplainedNeverFatal) {
    // clang-format off
    const struct { const char* line; std::string reply; } cases[] = {
        {"", ""}, {"   \t ", ""}, {"set session  The Old Keep ", ""}, {"set daylength 24", ""}, {"apply", ""},
        {"set port 12ab", "set: port takes digits only\n"}, {"set gametime 5", "set: unknown field 'gametime'; type help for the list\n"},
        {"rain 75", ""}, {"rain -1", "set: rainvolume takes digits only\n"}, {"stop", "the server is not started\n"}, {"start", ""},
        {"frobnicate now", "unknown command 'frobnicate'; type help for the list\n"}, {"players", "0 Ann\n1 Zed\n"}, {"kick", ""},
        {"info", "info: give the LINE number that players shows\n"}, {"info -1", "info: give the LINE number that players shows\n"},
        {"info 1 2", "info: give the LINE number that players shows\n"}, {"info 9999999999", "info: give the LINE number that players shows\n"},
        {"info 0", "info: no player on line 0\n"}, {"info 2", "info: no player on line 2\n"},
        {"info 123456789", "info: no player on line 123456789\n"}, {"info  1 ", "Name: Zed\nLatency (ms) : 120 ms\nMessages Sent (normal priority) : 5\n"
            "Messages Recieved (normal priority) : 7\nMessages Timed-Out (normal priority) : 1\nThroughput (Bytes/Sec) : 3400 Bytes/Sec\n"},
        {"exit", ""}};
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(terminal.Execute(c.line), c.reply) << c.line;
    EXPECT_EQ(
        std::tuple(model.Text(ConsoleField::SessionName), model.Text(ConsoleField::PortNumber),
                   clock.ticksPerHour, weather.raining, weather.targetVolume),
        std::tuple("The Old Keep", "25858", 1.0f, 1, 60));  // the rain volume clamped
    for (const char* command : {"status", "players", "info LINE", "kick", "set FIELD", "apply",
                                "rain [VOLUME]", "start", "exit"})
        EXPECT_NE(terminal.Execute("help").find(command), std::string::npos) << command;
    model.SetEnabled(ConsoleField::SessionName, false);
    EXPECT_EQ(terminal.Execute("set session x"),
              "set: session cannot be changed while the server is hosting\n");
    commands.SetClosed();  // a closed console takes no commands
    model.SetText(ConsoleField::UpdateRate, "1");
    for (auto b : {ConsoleButton::Start, ConsoleButton::RainApply, ConsoleButton::ApplyChanges})
        commands.Press(b);
    commands.Exit();
    EXPECT_EQ(std::tuple(toggles, closes, rates.updateRate.load()), std::tuple(1, 1, 50.0f));
}

TEST_F(ConsoleCommandsTest, TerminalShowsANameWithEscapeSequencesMadeVisible) {
    list.Add(404, "\x1B]0;pwn\x07\x1B[2J");  // sets the terminal's title, clears the screen
    zed = FormatPlayerInfo({.name = "Zed\r\x1B[K\\"});
    EXPECT_EQ(terminal.Execute("players"), "0 Ann\n1 Zed\n2 \\x1B]0;pwn\\x07\\x1B[2J\n");
    EXPECT_EQ(
        terminal.Execute("info 1"),
        "Name: Zed\\x0D\\x1B[K\\\\\nLatency (ms) : 0 ms\nMessages Sent (normal priority) : 0\n"
        "Messages Recieved (normal priority) : 0\nMessages Timed-Out (normal priority) : 0\n"
        "Throughput (Bytes/Sec) : 0 Bytes/Sec\n");
}

// The meter turns running totals into rates over the time between samples; stats prints them.
TEST_F(ConsoleCommandsTest, StatsPrintsTheTickTimingAndTheTrafficRatesFromTheTotals) {
    EXPECT_EQ(terminal.Execute("stats"),
              "Players: 0\nTick lateness (ms, last 0 ticks): p50 0.0 p99 0.0 max 0.0\n"
              "Tick CPU time (ms): mean 0.00 max 0.00\nNetwork: not hosting\n");
    TrafficMeter meter;
    meter.Sample(1000, {10, 20, 30, 40, 500, 600});
    const TrafficRates none = meter.rates();
    meter.Sample(3000, {110, 420, 230, 440, 2500, 8600, 7, 900, 5});
    const TrafficRates rates = meter.rates();
    meter.Sample(4000, {1, 2, 3, 4, 5, 6});  // a new session: totals start again
    EXPECT_EQ(
        std::tuple(none, rates, meter.rates()),
        std::tuple(TrafficRates{}, TrafficRates{50, 200, 100, 200, 1000, 4000}, TrafficRates{}));
    players = 2;
    statistics = {2,
                  {1200, 0.2, 3.5, 12.25, 0.06, 0.9},
                  SessionTraffic{110, 420, 230, 440, 2500, 8600, 7, 900, 5, 1, 2, 3, 4, 5},
                  rates};
    EXPECT_EQ(terminal.Execute(" stats "),
              "Players: 2\nTick lateness (ms, last 1200 ticks): p50 0.2 p99 3.5 max 12.2\n"
              "Tick CPU time (ms): mean 0.06 max 0.90\n"
              "Messages per second: in 50 out 200\nDatagrams per second: in 100 out 200\n"
              "Bytes per second: in 1000 out 4000\n"
              "Send queues: 7 messages, 900 bytes (longest 5 messages)\n"
              "Totals: messages in 110 out 420, datagrams in 230 out 440\n"
              "Players lost 1, cut off 2; messages over the rate 3; connections refused 4; "
              "enumeration replies refused 5\n");
}

TEST(PlayerListTest, LinesFollowTheirPlayersAndAFullTableAddsNoLine) {
    ConsoleModel model, full;
    PlayerList list(model), fullList(full);
    int changes = 0;
    model.SetObserver([&](ConsoleModel::Change, ConsoleField) { ++changes; });
    list.Add(101, "first"), list.Add(202, "second"), list.Add(303, "third"), list.Remove(202);
    list.Remove(999);                               // unknown: nothing happens
    model.DeletePlayerLine(7);                      // no such line
    model.SetText(ConsoleField::GameTime, "0:00");  // unchanged text: no notification
    EXPECT_EQ(std::pair(model.PlayerLines(), changes),
              std::pair(std::vector<std::string>{"first", "third"}, 4));
    list.Add(404, "fourth");  // reuses the freed slot, appended as the last line
    const std::optional<DPNID> expected[] = {std::nullopt, 101, 303, 404, std::nullopt};
    for (int line = -1; line < 4; ++line)
        EXPECT_EQ(list.PlayerAtLine(line), expected[line + 1]) << line;
    list.Clear();
    EXPECT_FALSE(list.PlayerAtLine(0));
    for (DPNID id = 1; id <= PlayerList::kSlots + 1; ++id)
        fullList.Add(id, "p");
    EXPECT_EQ(std::pair(full.PlayerLines().size(), fullList.PlayerAtLine(PlayerList::kSlots - 1)),
              std::pair(size_t(PlayerList::kSlots), std::optional<DPNID>(PlayerList::kSlots)));
}

}  // namespace
