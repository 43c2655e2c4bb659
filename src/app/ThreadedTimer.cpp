#include "app/ThreadedTimer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

// What the GUI side and the timing thread share. It lives as long as the longest
// holder: the timer, its thread or a tick still sitting in the GUI queue.
struct TThreadedTimer::TShared {
    mutable std::mutex mutex;
    std::condition_variable wake;
    bool signalled = false; // the auto-reset event
    bool resumed = false;   // false: the thread is suspended
    bool terminating = false;
    std::int32_t interval = 1000;
    TThreadPriority priority = TThreadPriority::tpNormal;
    pid_t tid = 0;
    std::uint64_t tickSeq = 0;
    bool tickPending = false;
};

// Ends the timing thread's wait for one tick: when the tick has run, or when the
// queued call is dropped without running (guard revoked, application gone), so the
// thread is never left waiting for a tick that will not come.
class TThreadedTimer::TTicket {
public:
    TTicket(std::shared_ptr<TShared> shared, std::uint64_t seq)
        : m_shared(std::move(shared)), m_seq(seq) {}
    ~TTicket() { Done(); }
    TTicket(const TTicket&) = delete;
    TTicket& operator=(const TTicket&) = delete;

    void Done() {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->tickPending && m_shared->tickSeq == m_seq) {
            m_shared->tickPending = false;
            m_shared->wake.notify_all();
        }
    }

private:
    std::shared_ptr<TShared> m_shared;
    std::uint64_t m_seq;
};

TThreadedTimer::TThreadedTimer() : m_shared(std::make_shared<TShared>()) {}

void TThreadedTimer::StartThread() {
    if (m_thread.joinable()) return;
    // Starts suspended unless the timer is already enabled (the shared state says so).
    m_thread = std::thread(&TThreadedTimer::TimingThread, m_shared, this, m_guard.GetToken());
}

TThreadedTimer::~TThreadedTimer() {
    PICTREL_ASSERT_GUI_THREAD();
    m_destroying = true;
    // First stop delivering (a queued tick will not run), then end and wait for the
    // thread; it may be waiting for a tick, which `terminating` releases.
    m_guard.Revoke();
    SetEnabled(false);
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->terminating = true;
        m_shared->signalled = true;
        m_shared->resumed = true;
        m_shared->wake.notify_all();
    }
    if (m_thread.joinable()) m_thread.join();
}

bool TThreadedTimer::CanRun() const {
    return m_interval > 0 || (m_interval == 0 && m_allowZero);
}

void TThreadedTimer::SetEnabled(bool value) {
    PICTREL_ASSERT_GUI_THREAD();
    if (value == m_enabled) return;
    m_enabled = value;
    if (value && CanRun() && !m_destroying) StartThread();
    std::lock_guard lock(m_shared->mutex);
    if (value) {
        // With an interval that may not run the timer reads as enabled but stays
        // suspended until the interval changes.
        if (!CanRun()) return;
        m_shared->signalled = true;
        m_shared->resumed = true;
    } else {
        m_shared->resumed = false;
    }
    m_shared->wake.notify_all();
}

void TThreadedTimer::SetInterval(std::int32_t value) {
    PICTREL_ASSERT_GUI_THREAD();
    if (value == m_interval) return;
    // Re-enabling restarts the wait with the new interval.
    const bool wasEnabled = m_enabled;
    SetEnabled(false);
    m_interval = value;
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->interval = value;
    }
    SetEnabled(wasEnabled);
}

void TThreadedTimer::SetThreadPriority(TThreadPriority value) {
    PICTREL_ASSERT_GUI_THREAD();
    m_priority = value;
    std::lock_guard lock(m_shared->mutex);
    m_shared->priority = value;
    // Not started yet: the thread applies it itself as it starts.
    if (m_shared->tid != 0) ::SetThreadPriority(m_shared->tid, value);
}

pid_t TThreadedTimer::ThreadId() {
    StartThread();
    std::lock_guard lock(m_shared->mutex);
    return m_shared->tid;
}

bool TThreadedTimer::TickPending() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->tickPending;
}

void TThreadedTimer::Tick() {
    PICTREL_ASSERT_GUI_THREAD();
    if (!m_enabled || m_destroying || !OnTimer) return;
    // Call a copy: the handler may destroy this timer, and OnTimer with it, while it
    // runs. Nothing below the call may touch the timer.
    const TNotifyEvent handler = OnTimer;
    try {
        handler(*this);
    } catch (...) {
        // A failing tick must not stop the timing.
    }
}

void TThreadedTimer::TimingThread(std::shared_ptr<TShared> shared, TThreadedTimer* owner,
                                  TDeliveryGuard::Token token) {
    TShared& s = *shared;
    std::unique_lock lock(s.mutex);
    s.tid = CurrentThreadId();
    ::SetThreadPriority(s.tid, s.priority);

    while (!s.terminating) {
        if (!s.resumed) {
            s.wake.wait(lock, [&] { return s.resumed || s.terminating; });
            continue;
        }
        const auto interval = std::chrono::milliseconds(std::max<std::int32_t>(0, s.interval));
        if (s.wake.wait_for(lock, interval,
                            [&] { return s.signalled || s.terminating || !s.resumed; })) {
            // Signalled (enabled, interval changed), disabled or ending: start over
            // without a tick.
            s.signalled = false;
            continue;
        }

        const std::uint64_t seq = ++s.tickSeq;
        s.tickPending = true;
        lock.unlock();
        {
            // The queued call holds only the shared state and the ticket; `owner` is
            // touched only while the guard is alive, which the delivery checks.
            auto ticket = std::make_shared<TTicket>(shared, seq);
            PostToGuiThread(token, [owner, ticket] {
                owner->Tick();
                ticket->Done();
            });
        }
        lock.lock();
        // Block until the tick has run, so ticks never overlap and the next wait
        // starts at the end of this tick; destruction releases the wait.
        s.wake.wait(lock, [&] { return !s.tickPending || s.terminating; });
    }
    s.tid = 0;
}
