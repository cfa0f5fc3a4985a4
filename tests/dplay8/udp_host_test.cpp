// The host on real loopback UDP, without the game: a smoke test and many clients at once.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "dplay8/udp_host.h"
#include "support/udp_test_client.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;
using er_test::UdpTestClient;
using Clock = std::chrono::steady_clock;

const Guid kApplication = *ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");

int Start(UdpHost& host, UdpHost::EventHandler handler, bool enumeration_port = false) {
    HostConfig c;
    c.application = kApplication, c.session_name = u"udp", c.close_linger = 200;
    return host.Start(c,
                      {.bind_address = 0x7F000001,
                       .enumeration_port = enumeration_port,
                       .enumeration_port_number = 0},
                      std::move(handler));
}

TEST(Dplay8UdpHost, EnumerateJoinTalkRemoveAndCloseWithoutWaitingOnAVanishedClient) {
    std::mutex mutex;
    std::vector<HostEvent> seen;
    auto count = [&](HostEventType type) {
        std::lock_guard lock(mutex);
        return std::count_if(seen.begin(), seen.end(), [&](auto& e) { return e.type == type; });
    };
    UdpHost host;
    auto record = [&](HostEvent& e) {
        std::lock_guard lock(mutex);
        seen.push_back(e);
    };
    ASSERT_EQ(Start(host, record, true), 0);
    ASSERT_TRUE(host.enumeration_port() != 0 && host.enumeration_port() != host.port());
    auto found = UdpTestClient(host.enumeration_port()).Enumerate(kApplication);
    EXPECT_EQ(found ? found->session_name : u"(no answer)", u"udp");
    EXPECT_TRUE(UdpTestClient(host.port()).Enumerate(std::nullopt));

    UdpTestClient client(host.port()), gone(host.port());
    ASSERT_TRUE(client.Join(u"Zed", kApplication));
    ASSERT_TRUE(gone.Join(u"gone", kApplication));
    ASSERT_TRUE(client.Queue({1, 2, 3}));
    ASSERT_TRUE(client.PumpUntil([&] { return count(HostEventType::kMessage) == 1; }));
    {
        std::lock_guard lock(mutex);  // gone's join may still be reported, so pick Zed's events
        std::vector<std::tuple<HostEventType, std::u16string, Bytes>> zed;
        for (const HostEvent& e : seen)
            if (e.dpnid == client.dpnid())
                zed.emplace_back(e.type, e.name, e.data);
        EXPECT_EQ(zed, (decltype(zed){{HostEventType::kPlayerCreated, u"Zed", {}},
                                      {HostEventType::kMessage, u"", {1, 2, 3}}}));
    }
    ASSERT_TRUE(host.Stats(client.dpnid()) && host.player_count() == 2);
    host.DestroyPlayer(client.dpnid());
    ASSERT_TRUE(client.PumpUntil(
        [&] { return client.ended() && count(HostEventType::kPlayerDestroyed) == 1; }));
    EXPECT_FALSE(host.Stats(client.dpnid()));

    // Sends to a vanished client never wait; closing takes the linger time at most.
    const uint32_t id = gone.dpnid();
    gone.Drop();
    auto start = Clock::now();
    for (int i = 0; i < 20000; ++i)
        host.Send(id, Bytes(600, 0x5A), {.guaranteed = true});
    host.Close();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(std::pair(count(HostEventType::kPlayerDestroyed), host.enumeration_port()),
              std::pair(2l, uint16_t(0)));
}

// Handler threads echo every message at once; each player's messages and echoes stay in order.
TEST(Dplay8UdpHost, ManyClientsAreHandledInOrderWhileHandlersSendConcurrently) {
    constexpr int kClients = 16, kMessages = 200;
    UdpHost host;
    std::mutex mutex;
    std::map<uint32_t, std::vector<Bytes>> received;
    ASSERT_EQ(Start(host,
                    [&](HostEvent& e) {
                        if (e.type != HostEventType::kMessage)
                            return;
                        {
                            std::lock_guard lock(mutex);
                            received[e.dpnid].push_back(e.data);
                        }
                        host.Send(e.dpnid, e.data, {.guaranteed = true});
                    }),
              0);
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    std::vector<Bytes> sent;
    for (int n = 0; n < kMessages; ++n)
        sent.push_back({uint8_t(n), uint8_t(n >> 8)});
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<UdpTestClient>(host.port()));
        ASSERT_TRUE(clients.back()->Join(u"c", kApplication));
    }
    for (int n = 0; n < kMessages; ++n) {
        for (auto& c : clients) {
            c->Queue(sent[size_t(n)]);
            if (n % 20 == 19)
                c->PumpFor(0);
        }
    }
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    for (bool all = false; !all && Clock::now() < deadline;) {
        all = true;
        for (auto& c : clients)
            c->PumpFor(0), all = all && c->messages.size() == size_t(kMessages);
    }
    for (auto& c : clients)
        EXPECT_EQ(c->messages, sent);
    host.Close();
    std::lock_guard lock(mutex);
    ASSERT_EQ(received.size(), size_t(kClients));
    for (auto& [id, messages] : received)
        EXPECT_EQ(messages, sent) << id;
}

}  // namespace
