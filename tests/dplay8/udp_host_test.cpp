// The host on real loopback UDP, without the game: events on the handler threads, removing a
// player, statistics, many clients at once, enumeration on its own port, and sends that never
// wait for the network. What the session does is tested without sockets in host_session_test.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include "dplay8/udp_host.h"
#include "support/udp_test_client.h"

// Designated initializers name only the fields that matter.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace dplay8;
using er_test::UdpTestClient;

const SendOptions kGuaranteed{.guaranteed = true};

HostConfig Config() {
    HostConfig c;
    c.application = *ParseGuid("{EDE9493E-6AC8-4F15-8D01-8B163200B966}");
    c.session_name = u"udp";
    c.close_linger = 200;
    return c;
}

struct Events {
    std::mutex mutex;
    std::vector<HostEvent> seen;
    void operator()(HostEvent& e) {
        std::lock_guard lock(mutex);
        seen.push_back(e);
    }
    std::vector<HostEvent> Of(HostEventType type) {
        std::lock_guard lock(mutex);
        std::vector<HostEvent> out;
        std::copy_if(seen.begin(), seen.end(), std::back_inserter(out),
                     [&](auto& e) { return e.type == type; });
        return out;
    }
};

// On 127.0.0.1, a port the system chooses, with the enumeration port on one too when asked.
int Start(UdpHost& host, UdpHost::EventHandler handler, bool enumeration_port = false) {
    return host.Start(Config(),
                      {.bind_address = 0x7F000001,
                       .enumeration_port = enumeration_port,
                       .enumeration_port_number = 0},
                      std::move(handler));
}

TEST(Dplay8UdpHost, AJoinedClientsMessagesReachTheHandlerAndRemovingItEndsTheClient) {
    Events events;
    UdpHost host;
    ASSERT_EQ(Start(host, std::ref(events)), 0);
    EXPECT_NE(host.port(), 0);
    EXPECT_FALSE(host.answers_enumeration_port());
    UdpTestClient client(host.port());
    ASSERT_TRUE(client.Join(u"Zed", Config().application));
    ASSERT_TRUE(client.Queue({1, 2, 3}));
    ASSERT_TRUE(client.PumpUntil([&] { return events.Of(HostEventType::kMessage).size() == 1; }));
    EXPECT_EQ(events.Of(HostEventType::kPlayerCreated)[0].name, u"Zed");
    const HostEvent message = events.Of(HostEventType::kMessage)[0];
    EXPECT_EQ(std::pair(message.dpnid, message.data), std::pair(client.dpnid(), Bytes{1, 2, 3}));
    auto stats = host.Stats(client.dpnid());
    ASSERT_TRUE(stats);
    EXPECT_GE(stats->messages_received, 1u);
    EXPECT_EQ(host.player_count(), 1u);

    host.DestroyPlayer(client.dpnid());
    ASSERT_TRUE(client.PumpUntil([&] { return client.ended(); }));
    ASSERT_TRUE(
        client.PumpUntil([&] { return events.Of(HostEventType::kPlayerDestroyed).size() == 1; }));
    EXPECT_FALSE(host.Stats(client.dpnid()));
    host.Close();
}

// Sixteen clients each send numbered messages; the handler threads echo every one back at
// once. Each player's messages reach the handler in order, and every echo arrives in order.
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
                        host.Send(e.dpnid, e.data, kGuaranteed);
                    }),
              0);
    std::vector<std::unique_ptr<UdpTestClient>> clients;
    std::vector<Bytes> sent;
    for (int n = 0; n < kMessages; ++n)
        sent.push_back({uint8_t(n), uint8_t(n >> 8)});
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<UdpTestClient>(host.port()));
        ASSERT_TRUE(clients.back()->Join(u"c", Config().application));
    }
    for (int n = 0; n < kMessages; ++n) {
        for (auto& c : clients) {
            c->Queue(sent[size_t(n)]);
            if (n % 20 == 19)
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
    for (auto& c : clients)
        EXPECT_EQ(c->messages, sent);
    host.Close();
    std::lock_guard lock(mutex);
    ASSERT_EQ(received.size(), size_t(kClients));
    for (auto& [id, messages] : received)
        EXPECT_EQ(messages, sent) << id;
}

TEST(Dplay8UdpHost, SendsToAVanishedClientNeverWait) {
    Events events;
    UdpHost host;
    ASSERT_EQ(Start(host, std::ref(events)), 0);
    UdpTestClient client(host.port());
    ASSERT_TRUE(client.Join(u"gone", Config().application));
    const uint32_t id = client.dpnid();
    client.Drop();
    const Bytes message(600, 0x5A);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)
        host.Send(id, message, kGuaranteed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    // Closing with a peer that never answers takes the linger time, not the retry schedule.
    start = std::chrono::steady_clock::now();
    host.Close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(events.Of(HostEventType::kPlayerDestroyed).size(), 1u);
}

TEST(Dplay8UdpHost, AnswersEnumerationOnTheEnumerationPortToo) {
    Events events;
    UdpHost host;
    ASSERT_EQ(Start(host, std::ref(events), true), 0);
    ASSERT_TRUE(host.answers_enumeration_port());
    ASSERT_NE(host.enumeration_port(), 0);
    ASSERT_NE(host.enumeration_port(), host.port());
    auto found = UdpTestClient(host.enumeration_port()).Enumerate(Config().application);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->session_name, u"udp");
    EXPECT_TRUE(UdpTestClient(host.port()).Enumerate(std::nullopt));
    host.Close();
    EXPECT_EQ(host.enumeration_port(), 0);
}

}  // namespace
