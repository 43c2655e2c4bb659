#pragma once

#include "app/GuiThread.h"
#include "platform/ThreadPriority.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

// A timer whose timing runs on a thread of its own, so its period does not depend
// on how busy the GUI event loop is; the tick handler still runs on the GUI thread.
//
// `Interval` is the time from the end of one tick to the next tick: the timing
// thread hands each tick to the GUI thread and waits until it has run, so ticks
// never overlap and a slow handler delays the next tick. Enabling (or changing the
// interval) restarts the wait, so the next tick comes one full interval later.
// An interval of 0 only runs with `AllowZero`; a negative interval never runs.
//
// The timing thread starts when the timer is first enabled with an interval that
// runs (or its id is asked for), so a timer that never runs holds no thread.
//
// Create, use and destroy the timer on the GUI thread. Destroying it is safe at
// any moment, including from inside its own `OnTimer` and while a tick is queued
// but not yet run: no tick is delivered afterwards.
class TThreadedTimer {
public:
    using TNotifyEvent = std::function<void(TThreadedTimer& Sender)>;

    TThreadedTimer();
    ~TThreadedTimer();
    TThreadedTimer(const TThreadedTimer&) = delete;
    TThreadedTimer& operator=(const TThreadedTimer&) = delete;

    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);

    [[nodiscard]] std::int32_t Interval() const { return m_interval; }
    void SetInterval(std::int32_t value);

    [[nodiscard]] bool AllowZero() const { return m_allowZero; }
    void SetAllowZero(bool value) { m_allowZero = value; }

    // Applies to the live timing thread at once.
    [[nodiscard]] TThreadPriority ThreadPriority() const { return m_priority; }
    void SetThreadPriority(TThreadPriority value);

    // The tick handler; runs on the GUI thread.
    TNotifyEvent OnTimer;

    // One tick as the timing thread delivers it: calls `OnTimer` while the timer is
    // enabled and not being destroyed; exceptions from the handler are swallowed.
    // Public so that owners and tests can drive ticks deterministically.
    void Tick();

    // Kernel id of the timing thread, 0 until it has started. Asking starts the
    // thread: its id (and the priority the kernel gives it) only exists on a live one.
    [[nodiscard]] pid_t ThreadId();
    // True once the timing thread has been started.
    [[nodiscard]] bool ThreadStarted() const { return m_thread.joinable(); }
    // True while a tick has been handed to the GUI thread and has not run yet.
    [[nodiscard]] bool TickPending() const;

private:
    struct TShared;
    class TTicket;

    static void TimingThread(std::shared_ptr<TShared> shared, TThreadedTimer* owner,
                             TDeliveryGuard::Token token);
    [[nodiscard]] bool CanRun() const;
    void StartThread();

    bool m_enabled = false;
    std::int32_t m_interval = 1000;
    bool m_allowZero = false;
    TThreadPriority m_priority = TThreadPriority::tpNormal;
    bool m_destroying = false;

    TDeliveryGuard m_guard;
    std::shared_ptr<TShared> m_shared;
    std::thread m_thread; // started lazily, GUI thread only
};
