#include "app/BackgroundWork.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

using pictrel::test::PumpFor;
using pictrel::test::PumpUntil;

namespace {

// Spins on the worker until `flag` is set; gives up after a while so that a broken
// helper fails the test instead of hanging it.
bool WaitOnWorker(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::atomic<int> g_violations{0};
void CountViolation(const char*, int, const char*) {
    ++g_violations;
}

} // namespace

TEST(BackgroundWork, RunsOnAWorkerAndDeliversOnTheGuiThread) {
    TBackgroundWork work;
    std::atomic<bool> jobOnGui{true};
    bool doneOnGui = false;
    int result = 0;
    work.Run(
        [&](const TJobStop&) {
            jobOnGui = IsGuiThread();
            return 42;
        },
        [&](int value) {
            doneOnGui = IsGuiThread();
            result = value;
        });
    ASSERT_TRUE(PumpUntil([&] { return result != 0; }));
    EXPECT_FALSE(jobOnGui.load());
    EXPECT_TRUE(doneOnGui);
    EXPECT_EQ(result, 42);
}

TEST(BackgroundWork, JobWithoutResultCallsDone) {
    TBackgroundWork work;
    std::atomic<int> ran{0};
    int done = 0;
    work.Run([&](const TJobStop&) { ++ran; }, [&] { ++done; });
    ASSERT_TRUE(PumpUntil([&] { return done == 1; }));
    EXPECT_EQ(ran.load(), 1);
}

TEST(BackgroundWork, JobsRunOneAfterAnotherInOrder) {
    TBackgroundWork work;
    std::vector<int> delivered;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    for (int i = 0; i < 20; ++i)
        work.Run(
            [&, i](const TJobStop&) {
                if (++running > 1) overlapped = true;
                std::this_thread::yield();
                --running;
                return i;
            },
            [&](int value) { delivered.push_back(value); });
    ASSERT_TRUE(PumpUntil([&] { return delivered.size() == 20; }));
    EXPECT_FALSE(overlapped.load());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(delivered[static_cast<std::size_t>(i)], i);
}

TEST(BackgroundWork, CancelStopsTheRunningJobAndDropsItsResult) {
    TBackgroundWork work;
    std::atomic<bool> started{false};
    std::atomic<bool> sawStop{false};
    int delivered = 0;
    work.Run(
        [&](const TJobStop& stop) {
            started = true;
            sawStop = WaitOnWorker([&] { return stop.StopRequested(); });
            return 1;
        },
        [&](int) { ++delivered; });
    ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
    work.Cancel();
    ASSERT_TRUE(PumpUntil([&] { return work.Pending() == 0; }));
    PumpFor(50);
    EXPECT_TRUE(sawStop.load());
    EXPECT_EQ(delivered, 0);
}

TEST(BackgroundWork, NewerRequestRevokesTheOlderOnes) {
    TBackgroundWork work;
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::vector<int> delivered;
    work.Run(
        [&](const TJobStop&) {
            started = true;
            WaitOnWorker([&] { return release.load(); });
            return 1;
        },
        [&](int value) { delivered.push_back(value); });
    ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
    // Queued behind the first: skipped, never run.
    std::atomic<bool> secondRan{false};
    work.Run(
        [&](const TJobStop&) {
            secondRan = true;
            return 2;
        },
        [&](int value) { delivered.push_back(value); });
    work.RunLatest([](const TJobStop&) { return 3; },
                   [&](int value) { delivered.push_back(value); });
    release = true;
    ASSERT_TRUE(PumpUntil([&] { return !delivered.empty(); }));
    PumpFor(50);
    EXPECT_FALSE(secondRan.load());
    EXPECT_EQ(delivered, std::vector<int>{3});
}

TEST(BackgroundWork, OwnerGoingWaitsForTheRunningJobAndDeliversNothing) {
    struct TOwner {
        std::atomic<int> touched{0};
        TBackgroundWork work;
        ~TOwner() { work.Shutdown(); }
    };
    auto owner = std::make_unique<TOwner>();
    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    int delivered = 0;
    TOwner* raw = owner.get();
    owner->work.Run(
        [raw, &started, &finished](const TJobStop& stop) {
            started = true;
            WaitOnWorker([&] { return stop.StopRequested(); });
            // Still alive: the owner's destructor waits for this job.
            ++raw->touched;
            finished = true;
        },
        [&] { ++delivered; });
    ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
    owner.reset();
    EXPECT_TRUE(finished.load());
    PumpFor(50);
    EXPECT_EQ(delivered, 0);
}

TEST(BackgroundWork, NothingRunsAfterShutdown) {
    TBackgroundWork work;
    work.Shutdown();
    std::atomic<bool> ran{false};
    work.Run([&](const TJobStop&) { ran = true; }, [] {});
    PumpFor(50);
    EXPECT_FALSE(ran.load());
    EXPECT_EQ(work.Pending(), 0u);
}

TEST(BackgroundWork, ExceptionIsDeliveredAsAnError) {
    TBackgroundWork work;
    QString error;
    bool errorOnGui = false;
    int done = 0;
    work.Run([](const TJobStop&) -> int { throw std::runtime_error("disk on fire"); },
             [&](int) { ++done; },
             [&](const QString& message) {
                 errorOnGui = IsGuiThread();
                 error = message;
             });
    ASSERT_TRUE(PumpUntil([&] { return !error.isEmpty(); }));
    EXPECT_EQ(error, QStringLiteral("disk on fire"));
    EXPECT_TRUE(errorOnGui);
    EXPECT_EQ(done, 0);

    // Something that is not a std::exception is reported too, and the worker goes on.
    QString other;
    work.Run([](const TJobStop&) { throw 7; }, [] {},
             [&](const QString& message) { other = message; });
    ASSERT_TRUE(PumpUntil([&] { return !other.isEmpty(); }));
    int after = 0;
    work.Run([](const TJobStop&) { return 5; }, [&](int value) { after = value; });
    ASSERT_TRUE(PumpUntil([&] { return after == 5; }));
}

TEST(BackgroundWork, IdleHelperHoldsNoThreadAndStartsAgain) {
    TBackgroundWork work;
    std::atomic<Qt::HANDLE> first{nullptr};
    std::atomic<Qt::HANDLE> second{nullptr};
    int done = 0;
    work.Run([&](const TJobStop&) { first = QThread::currentThreadId(); }, [&] { ++done; });
    ASSERT_TRUE(PumpUntil([&] { return done == 1 && work.Pending() == 0; }));
    work.Run([&](const TJobStop&) { second = QThread::currentThreadId(); }, [&] { ++done; });
    ASSERT_TRUE(PumpUntil([&] { return done == 2; }));
    EXPECT_NE(first.load(), nullptr);
    EXPECT_NE(second.load(), nullptr);
}

// --- the GUI-thread check -----------------------------------------------------

TEST(GuiThreadCheck, CallsTheHandlerOffTheGuiThreadOnly) {
    g_violations = 0;
    const TGuiThreadViolation previous = SetGuiThreadViolationHandler(&CountViolation);
    CheckGuiThread(__FILE__, __LINE__, "here");
    EXPECT_EQ(g_violations.load(), 0);
    std::thread worker([] { CheckGuiThread(__FILE__, __LINE__, "there"); });
    worker.join();
    EXPECT_EQ(g_violations.load(), 1);
    SetGuiThreadViolationHandler(previous);
}

TEST(GuiThreadCheck, GuiOnlyEntryPointsAssert) {
#if !defined(NDEBUG) || defined(PICTREL_GUI_THREAD_CHECKS)
    g_violations = 0;
    const TGuiThreadViolation previous = SetGuiThreadViolationHandler(&CountViolation);
    TBackgroundWork work;
    std::thread worker([&] { work.Cancel(); });
    worker.join();
    EXPECT_EQ(g_violations.load(), 1);
    SetGuiThreadViolationHandler(previous);
#else
    GTEST_SKIP() << "GUI-thread checks are compiled out of this build";
#endif
}
