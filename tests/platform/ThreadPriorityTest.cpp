#include "platform/ThreadPriority.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

int NiceOf(pid_t tid) {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return errno == 0 ? nice : -100;
}

int ProcessNice() {
    return NiceOf(::getpid());
}

// A thread that parks until released, so its priority can be changed and read back
// from outside while it is alive.
class TParkedThread {
public:
    TParkedThread() {
        m_thread = std::thread([this] {
            std::unique_lock lock(m_mutex);
            m_tid = CurrentThreadId();
            m_wake.notify_all();
            m_wake.wait(lock, [this] { return m_release; });
        });
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_tid != 0; });
    }
    ~TParkedThread() {
        {
            std::lock_guard lock(m_mutex);
            m_release = true;
            m_wake.notify_all();
        }
        m_thread.join();
    }
    [[nodiscard]] pid_t Tid() const { return m_tid; }

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    pid_t m_tid = 0;
    bool m_release = false;
    std::thread m_thread;
};

} // namespace

TEST(ThreadPriority, NiceOffsets) {
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpIdle), 19);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpLowest), 10);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpLower), 5);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpNormal), 0);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpHigher), -5);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpHighest), -10);
    EXPECT_EQ(NiceOffsetFor(TThreadPriority::tpTimeCritical), -15);
}

TEST(ThreadPriority, CurrentThreadIdIsPerThread) {
    EXPECT_EQ(CurrentThreadId(), ::getpid()); // the main thread's id is the process id
    std::atomic<pid_t> other{0};
    std::thread worker([&] { other = CurrentThreadId(); });
    worker.join();
    EXPECT_NE(other.load(), 0);
    EXPECT_NE(other.load(), ::getpid());
}

TEST(ThreadPriority, LowestRaisesNiceByTenAndNormalRestores) {
    const int base = ProcessNice();
    if (base > 19 - 10) GTEST_SKIP() << "process nice " << base << " leaves no room for +10";
    TParkedThread thread;
    ASSERT_EQ(NiceOf(thread.Tid()), base);

    EXPECT_TRUE(SetThreadPriority(thread.Tid(), TThreadPriority::tpLowest));
    EXPECT_EQ(NiceOf(thread.Tid()), base + 10);
    EXPECT_EQ(ProcessNice(), base); // only that thread changed

    EXPECT_TRUE(SetThreadPriority(thread.Tid(), TThreadPriority::tpLower));
    EXPECT_EQ(NiceOf(thread.Tid()), base + 5);

    EXPECT_TRUE(SetThreadPriority(thread.Tid(), TThreadPriority::tpNormal));
    EXPECT_EQ(NiceOf(thread.Tid()), base);
}

TEST(ThreadPriority, IdleUsesIdleClassAndNormalLeavesIt) {
    TParkedThread thread;
    EXPECT_TRUE(SetThreadPriority(thread.Tid(), TThreadPriority::tpIdle));
    EXPECT_EQ(::sched_getscheduler(thread.Tid()), SCHED_IDLE);

    EXPECT_TRUE(SetThreadPriority(thread.Tid(), TThreadPriority::tpNormal));
    EXPECT_EQ(::sched_getscheduler(thread.Tid()), SCHED_OTHER);
    EXPECT_EQ(NiceOf(thread.Tid()), ProcessNice());
}

TEST(ThreadPriority, CurrentThreadShorthand) {
    const int base = ProcessNice();
    if (base > 19 - 10) GTEST_SKIP() << "process nice " << base << " leaves no room for +10";
    std::atomic<int> seen{-100};
    std::atomic<bool> ok{false};
    std::thread worker([&] {
        ok = SetCurrentThreadPriority(TThreadPriority::tpLowest);
        seen = NiceOf(CurrentThreadId());
    });
    worker.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(seen.load(), base + 10);
}

TEST(ThreadPriority, RaisingEitherWorksOrStaysAtNormal) {
    // Above normal needs privileges; without them the thread keeps the process level.
    const int base = ProcessNice();
    TParkedThread thread;
    const bool ok = SetThreadPriority(thread.Tid(), TThreadPriority::tpHighest);
    if (ok)
        EXPECT_EQ(NiceOf(thread.Tid()), std::max(-20, base - 10));
    else
        EXPECT_EQ(NiceOf(thread.Tid()), base);
    EXPECT_EQ(::sched_getscheduler(thread.Tid()), SCHED_OTHER);
}
