#include "world/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

TEST(RuntimeRandomTest, MatchesTheWindowsRuntimeSequenceWithinFifteenBits) {
    RuntimeRandom random;  // unseeded behaves as seed 1
    EXPECT_EQ((std::vector{random.Draw(), random.Draw(), random.Draw()}),
              (std::vector{41, 18467, 6334}));
    random.Seed(0);
    EXPECT_EQ(random.Draw(), 38);
    random.Seed(0xDEADBEEF);
    for (int i = 0; i < 100000; ++i) {
        const int32_t value = random.Draw();
        ASSERT_TRUE(value >= 0 && value <= 32767) << value;
    }
}

TEST(CRandomTest, TheSequenceIsFixedAndAZeroModulusMeansTwoToThe32) {
    CRandom random;
    EXPECT_EQ(random.Next(), 86594u);
    EXPECT_EQ(random.Next(), (8121u * 86594u + 28411u) % 134456u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_LT(random.Next(), 134456u);
    }
    EXPECT_EQ(CRandom(3, 1, 0, 0x80000000u).Next(), 0x80000001u);
}

TEST(CRandomTest, ConcurrentDrawsNeitherLoseNorRepeatAValue) {
    constexpr int kThreads = 4, kDrawsEach = 20000;
    CRandom shared, sequential;
    std::vector<std::vector<uint32_t>> drawn(kThreads);
    std::vector<std::thread> threads;
    for (auto& values : drawn) {
        threads.emplace_back([&] {
            for (int i = 0; i < kDrawsEach; ++i) {
                values.push_back(shared.Next());
            }
        });
    }
    std::vector<uint32_t> together, expected;
    for (int t = 0; t < kThreads; ++t) {
        threads[t].join();
        together.insert(together.end(), drawn[t].begin(), drawn[t].end());
    }
    while (expected.size() < together.size()) {
        expected.push_back(sequential.Next());
    }
    std::sort(together.begin(), together.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(together, expected);
    EXPECT_EQ(shared.state.load(), sequential.state.load());
}

}  // namespace
