#include "app/VekRandom.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

TEST(VekRandom, SeedReplaysTheSequence) {
    RandSeed(42);
    std::vector<int> first;
    for (int i = 0; i < 100; ++i) first.push_back(Random(1000));
    RandSeed(42);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(Random(1000), first[i]) << i;
    RandSeed(43);
    std::vector<int> other;
    for (int i = 0; i < 100; ++i) other.push_back(Random(1000));
    EXPECT_NE(first, other);
}

TEST(VekRandom, StaysInRangeAndIsRoughlyUniform) {
    RandSeed(7);
    std::array<int, 4> counts{};
    for (int i = 0; i < 40000; ++i) {
        const int r = Random(4);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 4);
        ++counts[r];
    }
    for (int c : counts) {
        EXPECT_GT(c, 9000);
        EXPECT_LT(c, 11000);
    }
    EXPECT_EQ(Random(0), 0);
    EXPECT_EQ(Random(-5), 0);
    EXPECT_EQ(Random(1), 0);
}

class RandomFillTest : public ::testing::TestWithParam<int> {};

TEST_P(RandomFillTest, EqualsSingleCallsAndLeavesTheSameState) {
    const int count = GetParam();
    for (int n : {3, 50, 1000, 0}) {
        RandSeed(99);
        std::vector<int> single(count);
        for (int& v : single) v = Random(n);
        const int after = Random(1 << 30);
        RandSeed(99);
        std::vector<int> filled(count, -1);
        RandomFill(filled.data(), filled.size(), n);
        EXPECT_EQ(filled, single) << "n " << n;
        EXPECT_EQ(Random(1 << 30), after) << "n " << n;
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, RandomFillTest, ::testing::Values(0, 1, 7, 8, 9, 13, 64, 1921));

} // namespace
