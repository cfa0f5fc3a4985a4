// The real server on its terminal console, through pipes, with clients joining over loopback
// UDP: numbered players, info on a line, kick, and a start that fails on a port in use.

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "server_process.h"

namespace {

using er_test::FreeUdpPort;
using er_test::kApp;
using er_test::Server;
using er_test::UdpTestClient;

TEST(TerminalConsoleEndToEnd, PlayersAreNumberedInfoShowsALinesPlayerAndAFailedStartSaysWhy) {
    er_test::TempDir dir, second;
    Server server(dir);
    const uint16_t port = FreeUdpPort();
    const std::string setPort = "set port " + std::to_string(port) + "\nstart\n";
    for (int i = 0;
         i < 100 && server.Ask(i == 0 ? setPort : "").find("Server started.") == std::string::npos;
         ++i) {
    }
    UdpTestClient ann(port), bob(port), cid(port);
    std::vector<UdpTestClient*> joined;
    for (auto [client, name] :
         {std::pair(&ann, u"Ann"), std::pair(&bob, u"Bob"), std::pair(&cid, u"Cid")}) {
        ASSERT_TRUE(client->Join(name, kApp));  // one after the other, as the console sees them
        joined.push_back(client);
        server.Players(long(joined.size()), joined);
    }
    EXPECT_EQ(server.Players(3, joined), "0 Ann\n1 Bob\n2 Cid\n");
    EXPECT_THAT(server.Ask("stats", joined),
                testing::MatchesRegex(
                    "Players: 3\nTick lateness \\(ms, last [0-9]+ ticks\\): p50 [0-9.]+ "
                    "p99 [0-9.]+ max [0-9.]+\nTick CPU time \\(ms\\): mean [0-9.]+ max [0-9.]+\n"
                    "Messages per second: in [0-9]+ out [0-9]+\n"
                    "Datagrams per second: in [0-9]+ out [0-9]+\n"
                    "Bytes per second: in [0-9]+ out [0-9]+\n"
                    "Send queues: [0-9]+ messages, [0-9]+ bytes \\(longest [0-9]+ messages\\)\n"
                    "Totals: messages in [0-9]+ out [1-9][0-9]*, datagrams in [1-9][0-9]* out "
                    "[1-9][0-9]*\nPlayers lost 0, cut off 0; messages over the rate 0; "
                    "connections refused 0; enumeration replies refused 0\n"));
    ASSERT_TRUE(bob.Leave());
    EXPECT_EQ(server.Players(2, {&ann, &cid}), "0 Ann\n1 Cid\n");
    EXPECT_THAT(server.Ask("info 1", {&ann, &cid}),
                testing::MatchesRegex("Name: Cid\nLatency \\(ms\\) : [0-9]+ ms\n"
                                      "Messages Sent \\(normal priority\\) : [1-9][0-9]*\n"
                                      "Messages Recieved \\(normal priority\\) : [1-9][0-9]*\n"
                                      "Messages Timed-Out \\(normal priority\\) : 0\n"
                                      "Throughput \\(Bytes/Sec\\) : [0-9]+ Bytes/Sec\n"));
    EXPECT_EQ(server.Ask("kick\ninfo 2", {&ann, &cid}), "info: no player on line 2\n");
    EXPECT_EQ(server.Players(2, {&ann, &cid}), "0 Ann\n1 Cid\n");  // kick removes nobody

    Server late(second);  // its port is taken: the start fails, says why and ends the program
    EXPECT_EQ(late.Wait(setPort), 0);
    char err[256] = {};
    EXPECT_GT(read(late.errors, err, sizeof err - 1), 0);
    EXPECT_EQ(std::string(err), "Error Starting Server! (UDP port " + std::to_string(port) +
                                    " could not be hosted)\n");
    EXPECT_EQ(server.Wait("exit\n"), 0);
}

}  // namespace
