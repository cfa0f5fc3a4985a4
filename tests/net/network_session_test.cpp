#include "session_fixture.h"

namespace {

using NetworkSessionTest = SessionTest;

TEST_F(NetworkSessionTest, StartingHostsTheFieldsSessionAndShowsItsProgress) {
    console.sessionNameField = "Dragon Keep";
    console.portNumberField = "2300abc";
    session.ToggleServer();
    ASSERT_TRUE(session.hosting());
    EXPECT_EQ(console.statuses, (std::vector<std::string>{"Starting Server...", "Server started."}));
    EXPECT_TRUE(console.hostingShown);
    EXPECT_FALSE(console.waitCursor);
    EXPECT_STREQ(settings.sessionName, "Dragon Keep");
    EXPECT_EQ(settings.serverPort, 2300u);
    EXPECT_EQ(fake->hostedPort(), 2300u);
    const ApplicationDesc desc = fake->hostedDesc();
    EXPECT_EQ(desc.application, kApplicationGuid);
    EXPECT_EQ(desc.flags, DPNSESSION_CLIENT_SERVER);
    EXPECT_EQ(desc.maxPlayers, 0u);
    EXPECT_EQ(desc.sessionName, u"Dragon Keep");

    session.ToggleServer();
    EXPECT_FALSE(session.hosting());
    EXPECT_FALSE(console.hostingShown);
    EXPECT_EQ(console.statuses.back(), "Server stopped.");
    EXPECT_EQ(console.statuses[2], "Stopping Server...");
}

TEST_F(NetworkSessionTest, AnEmptyPortFieldLetsTheSessionChoose) {
    console.portNumberField = "";
    console.sessionNameField = std::string(300, 'n');
    Host();
    EXPECT_EQ(settings.serverPort, 0u);
    EXPECT_EQ(fake->hostedPort(), 0u);
    EXPECT_EQ(std::string(settings.sessionName), std::string(259, 'n'));
}

TEST_F(NetworkSessionTest, AFailedStartLogsAndClosesTheProgram) {
    LogOpen();
    configure = [](FakeSession& f) { f.hostResult = E_FAIL; };
    session.ToggleServer();
    EXPECT_FALSE(session.hosting());
    EXPECT_EQ(console.closes, 1);
    EXPECT_EQ(console.statuses.back(), "Starting Server...");
    EXPECT_TRUE(console.waitCursor);
    EXPECT_NE(dir.Read("ErrorChk.txt").find("\nError Starting Server!"), std::string::npos);
}

TEST_F(NetworkSessionTest, JoinKeepsThirteenCharactersAndIgnoresTheServersOwnPlayer) {
    Host();
    const DPNID id = fake->Connect(u"AVeryLongPlayerName");
    EXPECT_EQ(session.playerCount(), 1);
    EXPECT_EQ(console.lines, (std::vector<std::string>{std::to_string(id) + " AVeryLongPlay"}));
    const auto joined = Received(id, kMsgPlayerJoined);
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&joined[0].bytes[8]), "AVeryLongPlay");
    // The server's own player was created at Host without a record: never announced.
    for (const auto& sent : fake->AllSent()) {
        if (GetU32(sent.bytes.data()) == kMsgPlayerJoined) {
            EXPECT_NE(GetU32(&sent.bytes[4]), FakeSession::kServerPlayer);
        }
    }
    void* context = nullptr;
    fake->GetPlayerContext(FakeSession::kServerPlayer, &context, 0);
    EXPECT_EQ(context, nullptr);
}

TEST_F(NetworkSessionTest, APlayerWithoutClientInformationGetsNoRecord) {
    Host();
    const DPNID known = fake->Connect(u"known");
    fake->clientInfoResult = E_FAIL;
    fake->ClearSent();
    const DPNID nameless = fake->Connect(u"nameless");
    EXPECT_EQ(fake->lastCreateResult, E_FAIL);  // the failure goes back to the session
    EXPECT_EQ(session.playerCount(), 1);
    EXPECT_TRUE(fake->AllSent().empty());  // not announced, not welcomed
    fake->Deliver(nameless, Position(kMsgPlayerMoving, 1.0f, 1.0f));
    EXPECT_TRUE(fake->AllSent().empty());  // its messages are ignored
    fake->Disconnect(nameless);
    EXPECT_TRUE(Received(known, kMsgPlayerLeft).empty());
    EXPECT_EQ(session.playerCount(), 1);
}

TEST_F(NetworkSessionTest, LeavingIsAnnouncedToEveryoneAndStoppingLeavesEveryPlayer) {
    Host();
    const DPNID a = fake->Connect(u"a");
    const DPNID b = fake->Connect(u"b");
    const DPNID c = fake->Connect(u"c");
    EXPECT_EQ(session.playerCount(), 3);
    fake->Disconnect(b);
    EXPECT_EQ(session.playerCount(), 2);
    for (DPNID remaining : {a, c}) {
        const auto left = Received(remaining, kMsgPlayerLeft);
        ASSERT_EQ(left.size(), 1u);
        EXPECT_EQ(GetU32(&left[0].bytes[4]), b);
        EXPECT_TRUE(left[0].toAll);
    }
    EXPECT_EQ(console.left, (std::vector<DPNID>{b}));

    session.StopServer(true);
    EXPECT_EQ(session.playerCount(), 0);
    EXPECT_EQ(console.left.size(), 3u);
    EXPECT_FALSE(session.hosting());
}

TEST_F(NetworkSessionTest, SendPathsUseTheirFlagsAndTimeOuts) {
    Host();
    const DPNID a = fake->Connect(u"a");
    fake->ClearSent();
    const std::vector<uint8_t> message = {1, 2, 3};
    session.SendPlain(a, message);
    rates.messageTimeout = 60.9f;
    session.SendWithReliableRate(a, message, false, 60);
    session.SendWithReliableRate(a, message, true, 60);
    const auto sent = fake->SentTo(a);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].flags, DPNSEND_NOLOOPBACK);
    EXPECT_EQ(sent[0].timeoutMs, 0u);
    EXPECT_EQ(sent[1].flags, DPNSEND_NOCOMPLETE);
    EXPECT_EQ(sent[1].timeoutMs, 60u);
    EXPECT_EQ(sent[2].flags, DPNSEND_GUARANTEED);
}

TEST_F(NetworkSessionTest, ReliableRateDecidesEachSendFromTheFixedSequence) {
    Host();
    const DPNID a = fake->Connect(u"a");
    const std::vector<uint8_t> message = {0};
    const auto guaranteedSends = [&](int32_t rate, int sends) {
        rates.reliableRate = rate;
        fake->ClearSent();
        for (int i = 0; i < sends; ++i) {
            session.SendWithReliableRate(a, message, false, 0);
        }
        int guaranteed = 0;
        for (const auto& sent : fake->SentTo(a)) {
            guaranteed += sent.flags == DPNSEND_GUARANTEED ? 1 : 0;
        }
        return guaranteed;
    };
    EXPECT_EQ(guaranteedSends(0, 500), 0);
    EXPECT_EQ(guaranteedSends(100, 500), 500);
    const int half = guaranteedSends(50, 2000);
    EXPECT_GT(half, 800);
    EXPECT_LT(half, 1200);
}

TEST_F(NetworkSessionTest, TheFirstDrawIsGuaranteedOnlyFromRate95) {
    for (int32_t rate : {94, 95}) {
        CRandom fresh;
        ServerRates freshRates;
        freshRates.reliableRate = rate;
        FakeSession* created = nullptr;
        NetworkSession other(settings, freshRates, fresh, SessionWorld{npcs, clock, weather},
                             console, [&] {
                                 auto f = std::make_unique<FakeSession>();
                                 created = f.get();
                                 return f;
                             });
        ASSERT_EQ(other.StartServer(), S_OK);
        const DPNID a = created->Connect(u"a");  // joining sends only plain messages
        created->ClearSent();
        other.SendWithReliableRate(a, std::vector<uint8_t>{0}, false, 0);
        EXPECT_EQ(created->SentTo(a).at(0).flags == DPNSEND_GUARANTEED, rate == 95) << rate;
    }
}

TEST_F(NetworkSessionTest, NothingIsSentWhileNotHosting) {
    session.SendSkyWeather(1, 2.0f, 0);
    session.Broadcast(npcs);
    std::vector<DPNID> ids;
    EXPECT_TRUE(Failed(session.EnumeratePlayers(ids)));
    EXPECT_EQ(fake, nullptr);
}

TEST_F(NetworkSessionTest, EnumerationRetriesWhileTheSessionGrows) {
    configure = [](FakeSession& f) { f.enumerateGrowth = 3; };
    Host();
    fake->Connect(u"a");
    fake->Connect(u"b");
    std::vector<DPNID> ids;
    ASSERT_EQ(session.EnumeratePlayers(ids), S_OK);
    EXPECT_EQ(ids.size(), 3u);  // the server's own player and two clients
    fake->enumerateResult = E_FAIL;
    EXPECT_EQ(session.EnumeratePlayers(ids), E_FAIL);
    EXPECT_TRUE(ids.empty());
}

TEST_F(NetworkSessionTest, PlayerStatisticsAreCopiedFromTheConnection) {
    Host();
    const DPNID a = fake->Connect(u"a");
    fake->connectionInfo = ConnectionInfo{120, 3400, 10, 11, 2};
    PlayerRecord shown;
    EXPECT_TRUE(session.WithPlayerStatistics(a, [&](const PlayerRecord& r) { shown = r; }));
    EXPECT_EQ(shown.latency, 120u);
    EXPECT_EQ(shown.throughput, 3400u);
    EXPECT_EQ(shown.msgsSent, 10u);
    EXPECT_EQ(shown.msgsReceived, 11u);
    EXPECT_EQ(shown.msgsTimedOut, 2u);
    fake->Disconnect(a);
    EXPECT_FALSE(session.WithPlayerStatistics(a, nullptr));
}

}  // namespace
