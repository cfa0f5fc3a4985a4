#include "world/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

TEST(RuntimeRandomTest, MatchesTheWindowsRuntimeSequence) {
    RuntimeRandom random;  // unseeded behaves as seed 1
    EXPECT_EQ(random.Draw(), 41);
    EXPECT_EQ(random.Draw(), 18467);
    EXPECT_EQ(random.Draw(), 6334);

    random.Seed(1);
    EXPECT_EQ(random.Draw(), 41);
    random.Seed(0);
    EXPECT_EQ(random.Draw(), 38);
}

TEST(RuntimeRandomTest, DrawsStayWithinFifteenBits) {
    RuntimeRandom random;
    random.Seed(0xDEADBEEF);
    for (int i = 0; i < 100000; ++i) {
        const int32_t value = random.Draw();
        ASSERT_GE(value, 0);
        ASSERT_LE(value, 32767);
    }
}

TEST(CRandomTest, FirstDrawIs86594AndTheSequenceIsFixed) {
    CRandom random;
    EXPECT_EQ(random.Next(), 86594u);
    EXPECT_EQ(random.Next(), (8121u * 86594u + 28411u) % 134456u);

    CRandom a, b;
    for (int i = 0; i < 1000; ++i) {
        const uint32_t value = a.Next();
        ASSERT_EQ(value, b.Next());
        ASSERT_LT(value, 134456u);
    }
}

TEST(CRandomTest, ConcurrentDrawsNeitherLoseNorRepeatAValue) {
    constexpr int kThreads = 4;
    constexpr int kDrawsEach = 20000;
    CRandom shared;
    std::vector<std::vector<uint32_t>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            drawn[t].reserve(kDrawsEach);
            for (int i = 0; i < kDrawsEach; ++i) {
                drawn[t].push_back(shared.Next());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }

    std::vector<uint32_t> together;
    for (const auto& values : drawn) {
        together.insert(together.end(), values.begin(), values.end());
    }
    CRandom sequential;
    std::vector<uint32_t> expected;
    for (int i = 0; i < kThreads * kDrawsEach; ++i) {
        expected.push_back(sequential.Next());
    }
    std::sort(together.begin(), together.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(together, expected);
    EXPECT_EQ(shared.state.load(), sequential.state.load());
}

}  // namespace
