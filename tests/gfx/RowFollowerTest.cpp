#include "gfx/RowFollower.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

struct TFollowCase {
    const char* Name;
    int Rows;
    int Step; // rows said ready at a time; 0: all only at Finish
};

class RowFollowerTest : public ::testing::TestWithParam<TFollowCase> {};

TEST_P(RowFollowerTest, EveryRowOnceAndOnlyWhenReady) {
    const TFollowCase& c = GetParam();
    const auto worked = std::make_unique<std::atomic<int>[]>(std::size_t(c.Rows) + 1);
    std::atomic<int> ready{0};
    std::atomic<bool> early{false};
    TRowFollower follower([&](int first, int last) {
        if (last > ready.load()) early = true;
        for (int y = first; y < last; ++y) ++worked[std::size_t(y)];
    });
    if (c.Step > 0)
        for (int done = 0; done < c.Rows;) {
            done = std::min(done + c.Step, c.Rows);
            ready = done;
            follower.Ready(done);
        }
    ready = c.Rows;
    follower.Finish(c.Rows);
    EXPECT_FALSE(early) << "a row was worked before it was ready";
    for (int y = 0; y <= c.Rows; ++y)
        ASSERT_EQ(worked[std::size_t(y)].load(), y < c.Rows ? 1 : 0) << c.Name << " row " << y;
}

INSTANTIATE_TEST_SUITE_P(Producers, RowFollowerTest,
                         ::testing::Values(TFollowCase{"row by row", 1000, 1},
                                           TFollowCase{"strips", 4000, 16},
                                           TFollowCase{"one strip", 20, 20},
                                           TFollowCase{"all at the end", 777, 0},
                                           TFollowCase{"nothing", 0, 0}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(RowFollower, AbandonedRowsAreLeftAlone) {
    std::atomic<int> highest{0};
    TRowFollower follower([&](int, int last) {
        int seen = highest.load();
        while (last > seen && !highest.compare_exchange_weak(seen, last)) {
        }
    });
    follower.Ready(64);
    follower.Abandon();
    const int after = highest.load();
    EXPECT_LE(after, 64);
    follower.Finish(1000); // a producer that ends after all: nothing more happens
    EXPECT_EQ(highest.load(), after);
}

TEST(RowFollower, WhatTheWorkThrowsReachesFinish) {
    TRowFollower follower([](int first, int) {
        if (first >= 64) throw std::runtime_error("row failed");
    });
    for (int rows = 16; rows <= 256; rows += 16) follower.Ready(rows);
    EXPECT_THROW(follower.Finish(256), std::runtime_error);
}

} // namespace
