// The real server as a public network would try it, over loopback UDP: what a newcomer hears,
// where enumeration is answered from, forged CONNECTs, floods of half-open connections and
// of messages, and clients that stop acknowledging.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dplay8/enum_messages.h"
#include "dplay8/frames.h"
#include "server_process.h"

namespace {

using dplay8::Bytes;
using dplay8::MonotonicMillis;
using er_test::kApp;
using er_test::Server;
using er_test::UdpTestClient;

constexpr uint32_t kPlayerJoined = 2, kPlayerLeft = 3, kWelcome = 4, kPlayerMoving = 5, kChat = 9,
                   kNearbyPlayers = 15;

uint32_t U32(const std::vector<uint8_t>& m, size_t at) {
    uint32_t v = 0;
    if (m.size() >= at + 4)
        std::memcpy(&v, &m[at], 4);
    return v;
}

std::vector<uint8_t> Message(uint32_t type, size_t size) {
    std::vector<uint8_t> m(size);
    std::memcpy(m.data(), &type, 4);
    return m;
}

std::vector<uint8_t> Position(float x, float y) {
    auto m = Message(kPlayerMoving, 21);
    std::memcpy(&m[8], &x, 4), std::memcpy(&m[12], &y, 4);
    return m;
}

std::vector<uint8_t> LongChat() {
    auto m = Message(kChat, 8 + 500);
    std::fill(m.begin() + 8, m.end() - 1, uint8_t('x'));
    return m;
}

// What four stalled clients may add to the server's memory: a few send queues' worth (the
// address sanitizer's quarantine keeps freed memory for a while).
#ifdef __SANITIZE_ADDRESS__
constexpr long kMostGrowthKiB = 256 * 1024;
#else
constexpr long kMostGrowthKiB = 32 * 1024;
#endif

long Count(const UdpTestClient& c, uint32_t type, uint32_t about) {
    return std::ranges::count_if(c.messages,
                                 [&](auto& m) { return U32(m, 0) == type && U32(m, 4) == about; });
}

// Sends an enumeration query to the port and returns the port the answer naming the session
// came from (another server on the machine may answer too), or -1.
int EnumerationAnswerPort(uint16_t to, const std::u16string& session) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const Bytes query = dplay8::Encode(dplay8::EnumQuery{0x1234, kApp, {}});
    sockaddr_in sa{AF_INET, htons(to), {htonl(INADDR_LOOPBACK)}, {}};
    sendto(fd, query.data(), query.size(), 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    int answer_port = -1;
    for (pollfd p{fd, POLLIN, 0}; answer_port < 0 && poll(&p, 1, 2000) == 1;) {
        Bytes buffer(2048);
        socklen_t length = sizeof sa;
        const ssize_t got = recvfrom(fd, buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&sa), &length);
        buffer.resize(size_t(std::max<ssize_t>(got, 0)));
        const auto answer = dplay8::DecodeEnumResponse(buffer);
        if (answer && answer->session_name == session)
            answer_port = ntohs(sa.sin_port);
    }
    close(fd);
    return answer_port;
}

void PumpAll(const std::vector<UdpTestClient*>& clients, dplay8::Millis ms) {
    const dplay8::Millis until = MonotonicMillis() + ms;
    do {
        for (UdpTestClient* c : clients)
            c->PumpFor(0);
    } while (MonotonicMillis() < until);
}

TEST(PublicNetworkEndToEnd, NewcomersEnumerationForgedConnectsHalfOpenFloodsAndChurn) {
    er_test::TempDir dir;
    Server server(dir);
    const std::string session = "Public " + std::to_string(getpid());
    server.Ask("set session " + session);
    const uint16_t port = er_test::StartHosting(server);
    const std::u16string name(session.begin(), session.end());
    UdpTestClient ann(port), bob(port);
    ASSERT_TRUE(ann.Join(u"Ann", kApp));
    // Bob comes once Ann is in the game, as the console shows: one after the other. (A player
    // whose creation is still under way has no record yet, so a newcomer's welcome cannot
    // list it.)
    ASSERT_TRUE(ann.PumpUntil([&] { return Count(ann, kWelcome, ann.dpnid()) == 1; }));
    for (int i = 0; i < 100 && server.Ask("players", {&ann}) != "0 Ann\n"; ++i) {
    }
    ASSERT_TRUE(bob.Join(u"Bob", kApp));
    ASSERT_TRUE(ann.PumpUntil([&] { return Count(ann, kPlayerJoined, bob.dpnid()) == 1; }));
    bob.PumpFor(200);
    // Bob's stream begins with his Welcome; he never hears of himself joining.
    ASSERT_FALSE(bob.messages.empty());
    EXPECT_EQ(
        std::tuple(U32(bob.messages[0], 0), U32(bob.messages[0], 4),
                   Count(bob, kPlayerJoined, bob.dpnid()), Count(bob, kPlayerJoined, ann.dpnid())),
        std::tuple(kWelcome, bob.dpnid(), 0l, 1l));

    EXPECT_EQ(EnumerationAnswerPort(port, name), port);
    // UDP 6073 is ours unless another server on the machine took it first (then only that
    // server answers there).
    const int answerPort = EnumerationAnswerPort(dplay8::kEnumerationPort, name);
    if (answerPort >= 0)
        EXPECT_EQ(answerPort, port);
    else
        std::printf("UDP %u is another server's here: its answers are not checked\n",
                    dplay8::kEnumerationPort);

    // CONNECTs for new sessions from Ann's own address and port: she answers the probe.
    for (uint32_t i = 0; i < 5; ++i) {
        Bytes connect;
        dplay8::EncodeHandshake({.session_id = 0xF00D0000 + i}, connect);
        ann.SendRaw(connect);
        PumpAll({&ann, &bob}, 300);
    }
    ann.Queue(Position(10, 10));
    ASSERT_TRUE(ann.PumpUntil(
        [&] { return ann.messages.size() > 0 && U32(ann.messages.back(), 0) == kNearbyPlayers; }));
    EXPECT_EQ(server.Players(2, {&ann, &bob}), "0 Ann\n1 Bob\n");

    // 300 half-open connections from fifty addresses, then 300 players who join and leave.
    std::vector<int> sockets;
    for (uint32_t i = 0; i < 300; ++i) {
        const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in from{AF_INET, 0, {htonl(0x7F000001 + i % 50)}, {}};
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from), 0);
        Bytes connect;
        dplay8::EncodeHandshake({.session_id = i}, connect);
        sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
        sendto(fd, connect.data(), connect.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        sockets.push_back(fd);
    }
    for (int round = 0; round < 300; ++round) {
        UdpTestClient churn(port);
        ASSERT_TRUE(churn.Join(u"churn", kApp)) << round;
        ASSERT_TRUE(churn.Leave()) << round;
        if (round % 20 == 0)
            PumpAll({&ann, &bob}, 0);
    }
    UdpTestClient last(port);
    EXPECT_TRUE(last.Join(u"Last", kApp));
    for (int fd : sockets)
        close(fd);
    EXPECT_EQ(server.Players(3, {&ann, &bob, &last}), "0 Ann\n1 Bob\n2 Last\n");
    EXPECT_EQ(server.Wait("exit\n"), 0);
}

TEST(PublicNetworkEndToEnd, AFlooderIsCutOffAndStalledClientsAreDroppedWithMemoryBounded) {
    er_test::TempDir dir;
    Server server(dir);
    const uint16_t port = er_test::StartHosting(server);
    UdpTestClient ann(port), flooder(port), chatter(port);
    std::vector<std::unique_ptr<UdpTestClient>> stalled;
    ASSERT_TRUE(ann.Join(u"Ann", kApp) && flooder.Join(u"Flood", kApp) &&
                chatter.Join(u"Chat", kApp));
    for (int i = 0; i < 4; ++i) {
        stalled.push_back(std::make_unique<UdpTestClient>(port));
        ASSERT_TRUE(stalled.back()->Join(u"Stalled", kApp));  // and never heard from again
    }
    const long residentBefore = er_test::ResidentKiB(server.pid);

    // Ann reports her position 20 times a second and times each NearbyPlayers answer, while
    // the flooder sends as fast as it can and the chatter relays long texts below its limit.
    std::vector<dplay8::Millis> roundTrips;
    dplay8::Millis asked = 0, nextReport = 0, nextChat = 0;
    size_t seen = 0;
    const auto chat = LongChat();
    auto step = [&](bool flood) {
        const dplay8::Millis now = MonotonicMillis();
        if (now >= nextReport && asked == 0) {
            ann.session().Send(Position(0, 0), {}, now);
            asked = now, nextReport = now + 50;
        }
        for (; seen < ann.messages.size(); ++seen) {
            if (U32(ann.messages[seen], 0) == kNearbyPlayers && asked != 0)
                roundTrips.push_back(MonotonicMillis() - asked), asked = 0;
        }
        if (asked != 0 && now - asked > 1000)
            asked = 0;  // an unguaranteed report or answer may be lost
        for (int i = 0; flood && i < 200; ++i)
            flooder.session().Send(chat, {}, now);
        if (now >= nextChat && chatter.joined()) {
            chatter.session().Send(chat, {}, now);
            nextChat = now + 8;  // 125 a second
        }
        PumpAll({&ann, &flooder, &chatter}, 1);
    };
    const dplay8::Millis floodUntil = MonotonicMillis() + 3000;
    while (MonotonicMillis() < floodUntil && Count(ann, kPlayerLeft, flooder.dpnid()) == 0)
        step(true);
    EXPECT_EQ(Count(ann, kPlayerLeft, flooder.dpnid()), 1) << "the flooder was not cut off";
    const dplay8::Millis deadline = MonotonicMillis() + 60000;
    auto allStalledGone = [&] {
        return std::ranges::all_of(
            stalled, [&](auto& s) { return Count(ann, kPlayerLeft, s->dpnid()) == 1; });
    };
    long residentMost = 0;
    while (!allStalledGone() && MonotonicMillis() < deadline) {
        step(false);
        residentMost = std::max(residentMost, er_test::ResidentKiB(server.pid));
    }
    EXPECT_TRUE(allStalledGone());
    std::ranges::sort(roundTrips);
    ASSERT_GT(roundTrips.size(), 50u);
    const dplay8::Millis p99 = roundTrips[roundTrips.size() * 99 / 100];
    std::printf(
        "server memory %ld KiB before, at most %ld KiB with four stalled clients "
        "(+%ld KiB); Ann's round trips: %zu, p99 %lld ms, max %lld ms\n",
        residentBefore, residentMost, residentMost - residentBefore, roundTrips.size(),
        static_cast<long long>(p99), static_cast<long long>(roundTrips.back()));
    EXPECT_LT(residentMost - residentBefore, kMostGrowthKiB);
    EXPECT_LT(p99, 200);
    EXPECT_TRUE(ann.joined() && chatter.joined());
    EXPECT_EQ(server.Wait("exit\n"), 0);
}

}  // namespace
