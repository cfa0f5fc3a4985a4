// The host on real loopback UDP, without the game: events on the handler threads, removing a
// player, statistics, enumeration on UDP 6073, and sends that never wait for the network.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dplay8/udp_host.h"
#include "support/udp_test_client.h"

namespace {

using er_test::UdpTestClient;

dplay8::HostConfig Config() {
    dplay8::HostConfig c;
    c.application = *dplay8::ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");
    c.instance = *dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
    c.session_name = u"udp";
    c.close_linger = 200;
    return c;
}

struct Events {
    std::mutex mutex;
    std::vector<dplay8::HostEvent> seen;
    void operator()(dplay8::HostEvent& e) {
        std::lock_guard lock(mutex);
        seen.push_back(e);
    }
    size_t Count(dplay8::HostEventType type) {
        std::lock_guard lock(mutex);
        return size_t(
            std::count_if(seen.begin(), seen.end(), [&](const auto& e) { return e.type == type; }));
    }
};

dplay8::UdpHostOptions Loopback() {
    dplay8::UdpHostOptions o;
    o.bind_address = 0x7F000001;
    o.enumeration_port = false;
    return o;
}

TEST(Dplay8UdpHost, AJoinedClientsMessagesReachTheHandlerAndRemovingItEndsTheClient) {
    Events events;
    dplay8::UdpHost host;
    ASSERT_EQ(host.Start(Config(), Loopback(), std::ref(events)), 0);
    EXPECT_NE(host.port(), 0);
    EXPECT_FALSE(host.answers_enumeration_port());
    UdpTestClient client(host.port());
    ASSERT_TRUE(client.Join(u"Zed", Config().application));
    ASSERT_TRUE(client.Send({1, 2, 3}));
    ASSERT_TRUE(
        client.PumpUntil([&] { return events.Count(dplay8::HostEventType::kMessage) == 1; }));
    {
        std::lock_guard lock(events.mutex);
        EXPECT_EQ(events.seen[0].type, dplay8::HostEventType::kPlayerCreated);
        EXPECT_EQ(events.seen[0].name, u"Zed");
        EXPECT_EQ(events.seen[1].data, (dplay8::Bytes{1, 2, 3}));
        EXPECT_EQ(events.seen[1].dpnid, client.dpnid());
    }
    auto stats = host.Stats(client.dpnid());
    ASSERT_TRUE(stats);
    EXPECT_GE(stats->messages_received, 1u);
    EXPECT_EQ(host.player_count(), 1u);

    host.DestroyPlayer(client.dpnid());
    ASSERT_TRUE(client.PumpUntil([&] { return client.ended(); }));
    ASSERT_TRUE(client.PumpUntil(
        [&] { return events.Count(dplay8::HostEventType::kPlayerDestroyed) == 1; }));
    EXPECT_FALSE(host.Stats(client.dpnid()));
    host.Close();
}

// Sixteen clients each send numbered messages; the handler threads echo every one back at
// once. Each player's messages reach the handler in order, and every echo arrives in order.
TEST(Dplay8UdpHost, ManyClientsAreHandledInOrderWhileHandlersSendConcurrently) {
    constexpr int kClients = 16;
    constexpr int kMessages = 200;
    dplay8::UdpHost host;
    std::mutex mutex;
    std::map<uint32_t, std::vector<int>> received;
    int out_of_order = 0;
    dplay8::SendOptions guaranteed;
    guaranteed.guaranteed = true;
    ASSERT_EQ(host.Start(Config(), Loopback(),
                         [&](dplay8::HostEvent& e) {
                             if (e.type != dplay8::HostEventType::kMessage || e.data.size() != 2)
                                 return;
                             const int n = e.data[0] | e.data[1] << 8;
                             {
                                 std::lock_guard lock(mutex);
                                 auto& seen = received[e.dpnid];
                                 if (seen.size() != size_t(n))
                                     ++out_of_order;
                                 seen.push_back(n);
                             }
                             host.Send(e.dpnid, e.data, guaranteed);
                         }),
              0);
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<UdpTestClient>(host.port()));
        ASSERT_TRUE(clients.back()->Join(u"c", Config().application));
    }
    for (int n = 0; n < kMessages; ++n) {
        for (auto& c : clients)
            c->Queue({uint8_t(n), uint8_t(n >> 8)});
        if (n % 20 == 19) {
            for (auto& c : clients)
                c->PumpFor(0);
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool all = false;
    while (!all && std::chrono::steady_clock::now() < deadline) {
        all = true;
        for (auto& c : clients) {
            c->PumpFor(0);
            all = all && c->messages.size() == size_t(kMessages);
        }
    }
    ASSERT_TRUE(all);
    for (auto& c : clients) {
        for (int n = 0; n < kMessages; ++n)
            ASSERT_EQ(c->messages[size_t(n)], (std::vector<uint8_t>{uint8_t(n), uint8_t(n >> 8)}));
    }
    host.Close();
    std::lock_guard lock(mutex);
    EXPECT_EQ(out_of_order, 0);
    EXPECT_EQ(received.size(), size_t(kClients));
}

TEST(Dplay8UdpHost, SendsToAVanishedClientNeverWait) {
    Events events;
    dplay8::UdpHost host;
    ASSERT_EQ(host.Start(Config(), Loopback(), std::ref(events)), 0);
    UdpTestClient client(host.port());
    ASSERT_TRUE(client.Join(u"gone", Config().application));
    const uint32_t id = client.dpnid();
    client.Drop();
    const std::vector<uint8_t> message(600, 0x5A);
    dplay8::SendOptions guaranteed;
    guaranteed.guaranteed = true;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)
        host.Send(id, message, guaranteed);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(2));
    // Closing with a peer that never answers takes the linger time, not the retry schedule.
    const auto closing = std::chrono::steady_clock::now();
    host.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(3));
    EXPECT_EQ(events.Count(dplay8::HostEventType::kPlayerDestroyed), 1u);
}

TEST(Dplay8UdpHost, AnswersEnumerationOnTheEnumerationPortToo) {
    Events events;
    dplay8::UdpHost host;
    dplay8::UdpHostOptions options = Loopback();
    options.enumeration_port = true;
    options.enumeration_port_number = 0;  // 6073 in service; here one the system chooses
    ASSERT_EQ(host.Start(Config(), options, std::ref(events)), 0);
    ASSERT_TRUE(host.answers_enumeration_port());
    ASSERT_NE(host.enumeration_port(), 0);
    ASSERT_NE(host.enumeration_port(), host.port());
    UdpTestClient asker(host.enumeration_port());
    auto found = asker.Enumerate(Config().application);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->session_name, u"udp");
    UdpTestClient direct(host.port());
    EXPECT_TRUE(direct.Enumerate(std::nullopt));
    host.Close();
    EXPECT_EQ(host.enumeration_port(), 0);
}

}  // namespace
