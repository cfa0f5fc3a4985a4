// The handler pool: one player's events in order and one at a time, other players not held
// up by a slow one, and Drain waiting for what runs.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "dplay8/ordered_dispatcher.h"

namespace {

using dplay8::HostEvent;
using dplay8::OrderedDispatcher;
using namespace std::chrono_literals;

HostEvent Item(uint32_t key, uint8_t n) {
    HostEvent e;
    e.dpnid = key;
    e.data = {n};
    return e;
}

TEST(Dplay8OrderedDispatcher, OnePlayersEventsRunInOrderAndNeverTwoAtOnce) {
    constexpr uint32_t kKeys = 8;
    constexpr int kPerKey = 250;
    std::mutex mutex;
    std::map<uint32_t, std::vector<int>> seen;
    std::vector<std::atomic<int>> inside(kKeys + 1);
    std::atomic<int> overlaps{0};
    std::atomic<int> concurrent{0}, most{0};
    {
        OrderedDispatcher pool(4, [&](HostEvent& e) {
            if (inside[e.dpnid].fetch_add(1) != 0)
                ++overlaps;
            const int now = ++concurrent;
            int seen_most = most.load();
            while (now > seen_most && !most.compare_exchange_weak(seen_most, now)) {
            }
            std::this_thread::yield();
            {
                std::lock_guard lock(mutex);
                seen[e.dpnid].push_back(e.data[0] | e.data[1] << 8);
            }
            --concurrent;
            inside[e.dpnid].fetch_sub(1);
        });
        for (int n = 0; n < kPerKey; ++n) {
            for (uint32_t key = 1; key <= kKeys; ++key) {
                HostEvent e = Item(key, uint8_t(n));
                e.data.push_back(uint8_t(n >> 8));
                pool.Post(std::move(e));
            }
        }
        pool.Drain();
        EXPECT_EQ(concurrent.load(), 0);
    }
    EXPECT_EQ(overlaps.load(), 0);
    for (uint32_t key = 1; key <= kKeys; ++key) {
        ASSERT_EQ(seen[key].size(), size_t(kPerKey));
        for (int n = 0; n < kPerKey; ++n)
            EXPECT_EQ(seen[key][size_t(n)], n);
    }
}

TEST(Dplay8OrderedDispatcher, ASlowPlayerDoesNotHoldUpAnother) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::promise<void> other_done;
    std::atomic<int> slow_runs{0};
    OrderedDispatcher pool(2, [&](HostEvent& e) {
        if (e.dpnid == 1) {
            ++slow_runs;
            released.wait();
        } else {
            other_done.set_value();
        }
    });
    pool.Post(Item(1, 0));
    pool.Post(Item(1, 1));  // queued behind the blocked one, on no other thread
    pool.Post(Item(2, 0));
    EXPECT_EQ(other_done.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_EQ(slow_runs.load(), 1);
    release.set_value();
    pool.Drain();
    EXPECT_EQ(slow_runs.load(), 2);
}

TEST(Dplay8OrderedDispatcher, DrainReturnsOnlyAfterTheRunningHandlerReturns) {
    std::atomic<bool> finished{false};
    OrderedDispatcher pool(3, [&](HostEvent&) {
        std::this_thread::sleep_for(50ms);
        finished = true;
    });
    pool.Post(Item(5, 0));
    pool.Drain();
    EXPECT_TRUE(finished.load());
}

}  // namespace
