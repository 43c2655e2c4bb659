#include "app/GuiThread.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <thread>
#include <vector>

using pictrel::test::PumpFor;
using pictrel::test::PumpUntil;

TEST(GuiThread, IsGuiThreadOnlyOnTheEventLoopThread) {
    EXPECT_TRUE(IsGuiThread());
    std::atomic<bool> onWorker{true};
    std::thread worker([&] { onWorker = IsGuiThread(); });
    worker.join();
    EXPECT_FALSE(onWorker.load());
}

TEST(GuiThread, PostFromWorkerRunsOnGuiThread) {
    TDeliveryGuard guard;
    std::atomic<int> calls{0};
    std::atomic<bool> ranOnGui{false};
    QThread* runner = nullptr;
    std::thread worker([&] {
        EXPECT_TRUE(PostToGuiThread(guard.GetToken(), [&] {
            ranOnGui = IsGuiThread();
            runner = QThread::currentThread();
            ++calls;
        }));
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return calls.load() == 1; }));
    EXPECT_TRUE(ranOnGui.load());
    EXPECT_EQ(runner, QCoreApplication::instance()->thread());
}

TEST(GuiThread, PostsFromOneThreadArriveInOrder) {
    TDeliveryGuard guard;
    std::vector<int> seen;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            PostToGuiThread(guard.GetToken(), [&seen, i] { seen.push_back(i); });
    });
    worker.join();
    ASSERT_TRUE(PumpUntil([&] { return seen.size() == 100; }));
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
}

TEST(GuiThread, RevokedGuardDeliversNothing) {
    int queuedBeforeRevoke = 0;
    int postedAfterRevoke = 0;
    {
        TDeliveryGuard guard;
        ASSERT_TRUE(PostToGuiThread(guard.GetToken(), [&] { ++queuedBeforeRevoke; }));
        guard.Revoke();
        EXPECT_FALSE(guard.Alive());
        PostToGuiThread(guard.GetToken(), [&] { ++postedAfterRevoke; });
    }
    PumpFor(100);
    EXPECT_EQ(queuedBeforeRevoke, 0);
    EXPECT_EQ(postedAfterRevoke, 0);
}

TEST(GuiThread, DestroyedGuardDeliversNothing) {
    int calls = 0;
    TDeliveryGuard::Token token;
    {
        TDeliveryGuard guard;
        token = guard.GetToken();
        PostToGuiThread(token, [&] { ++calls; });
    }
    PumpFor(100);
    EXPECT_EQ(calls, 0);
    EXPECT_FALSE(token->load());
}

TEST(GuiThread, EmptyCallIsRejected) {
    TDeliveryGuard guard;
    EXPECT_FALSE(PostToGuiThread(guard.GetToken(), {}));
}
