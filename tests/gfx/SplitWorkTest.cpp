#include "gfx/SplitWork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

bool HasTwoCores() {
    return std::thread::hardware_concurrency() >= 2;
}

struct TCoverCase {
    const char* Name;
    std::size_t Count;
    bool WorthAThread;
};

class SplitWorkCoverTest : public ::testing::TestWithParam<TCoverCase> {};

TEST_P(SplitWorkCoverTest, EveryIndexOnceAndTheFirstHalfFromZero) {
    const TCoverCase& c = GetParam();
    std::vector<std::atomic<int>> hits(c.Count);
    std::mutex mutex;
    std::vector<std::pair<std::size_t, std::size_t>> calls;
    SplitWork(c.Count, c.WorthAThread, [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i < last; ++i) ++hits[i];
        std::lock_guard lock(mutex);
        calls.emplace_back(first, last);
    });
    for (std::size_t i = 0; i < c.Count; ++i) EXPECT_EQ(hits[i].load(), 1) << i;
    const bool split = c.WorthAThread && HasTwoCores() && c.Count >= 2;
    ASSERT_EQ(calls.size(), split ? 2u : 1u);
    std::sort(calls.begin(), calls.end());
    EXPECT_EQ(calls.front().first, 0u);
    EXPECT_EQ(calls.back().second, c.Count);
    if (split) {
        EXPECT_EQ(calls[0].second, calls[1].first);
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, SplitWorkCoverTest,
                         ::testing::Values(TCoverCase{"Empty", 0, true}, TCoverCase{"One", 1, true},
                                           TCoverCase{"Two", 2, true},
                                           TCoverCase{"OddSplit", 1001, true},
                                           TCoverCase{"SmallWorkStaysHere", 1001, false},
                                           TCoverCase{"LargeSplit", 1 << 17, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(SplitWork, SecondHalfRunsOnAnotherThreadOnlyWhenWorthIt) {
    if (!HasTwoCores()) GTEST_SKIP() << "one core: the work never leaves the calling thread";
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool worth : {true, false}) {
        std::thread::id secondHalf = caller;
        SplitWork(100, worth, [&](int first, int) {
            if (first != 0 || !worth) secondHalf = std::this_thread::get_id();
        });
        EXPECT_EQ(secondHalf != caller, worth);
    }
}

enum class TThrower { First, Second, Both };

struct TThrowCase {
    const char* Name;
    TThrower Thrower;
    const char* Message; // the one the caller sees
};

class SplitWorkThrowTest : public ::testing::TestWithParam<TThrowCase> {};

// A throwing half used to end the program (a joinable thread destroyed, or an
// exception leaving a thread); now the caller gets it once both halves are done.
TEST_P(SplitWorkThrowTest, ReachesTheCallerAfterBothHalvesEnded) {
    if (!HasTwoCores()) GTEST_SKIP() << "one core: there is no second half to throw from";
    const TThrowCase& c = GetParam();
    constexpr int kCount = 1 << 16;
    std::vector<int> done(kCount, 0);
    const auto body = [&](int first, int last) {
        const bool isFirst = first == 0;
        const bool throws =
            c.Thrower == TThrower::Both || (c.Thrower == TThrower::First) == isFirst;
        if (throws) throw std::runtime_error(isFirst ? "first" : "second");
        for (int i = first; i < last; ++i) done[i] = 1;
    };
    try {
        SplitWork(kCount, true, body);
        ADD_FAILURE() << "nothing was thrown";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), c.Message);
    }
    // The half that did not throw finished its work before the caller went on.
    int finished = 0;
    for (const int d : done) finished += d;
    EXPECT_EQ(finished, c.Thrower == TThrower::Both ? 0 : kCount / 2);
}

INSTANTIATE_TEST_SUITE_P(Halves, SplitWorkThrowTest,
                         ::testing::Values(TThrowCase{"FirstHalf", TThrower::First, "first"},
                                           TThrowCase{"SecondHalf", TThrower::Second, "second"},
                                           TThrowCase{"BothFirstWins", TThrower::Both, "first"}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
