#pragma once

#include "app/GuiThread.h"
#include "app/ThreadedTimer.h"
#include "platform/ThreadPriority.h"

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TVekThreadedMethod;
class TThreadForMethod;
class TWaitingThread;

// Result codes of the component and of each of its workers.
enum TThreadedMethodState : int {
    tmsIdle = 0,
    tmsRunning = 1,
    tmsFailed = 2,
    tmsStopped = 4,
    tmsSucceeded = 5
};

// Returns true once the worker has been asked to stop.
using TThreadedMethodCallback = std::function<bool()>;
// The work, on the worker thread. `Error` arrives as 1; leave it at 1 for success,
// set any other value for failure. An exception counts as failure.
using TThreadedMethodBody =
    std::function<void(TVekThreadedMethod& Sender, TThreadForMethod& Thread,
                       const TThreadedMethodCallback& CallBack, int& Error)>;
using TThreadedMethodWork = std::function<void(TVekThreadedMethod& Sender, int Percent)>;
using TThreadedMethodNotify = std::function<void(TVekThreadedMethod& Sender)>;

// Runs `OnBody` on a worker thread, reports a moving progress value while it runs
// and success, failure or stop when it ends. Every event except `OnBody` runs on
// the GUI thread; create, use and destroy the component there.
//
// `Execute` restarts: every running worker gets `OnStop` and is stopped, then a new
// worker starts, at once or (with `WaitwhileTerminate`) once the worker list is empty.
// A stopped worker that ends while a newer one runs reports nothing. Each waiting
// start begins its worker only when the list is empty (checked again on the GUI
// thread), so quick restarts with `WaitwhileTerminate` run their bodies one after
// another, never side by side.
//
// `RudeTerminate`: a thread cannot be killed safely on Linux, so a rude stop asks
// the worker to stop exactly like a polite one (the body sees `CallBack` return
// true) and then abandons it: its end is never reported, it stays in the worker
// list (so combining it with `WaitwhileTerminate` waits for ever, as callers are
// told not to do), it gets no further `OnStop`, and its thread is joined once its
// body has returned. A polite stop raises the worker to tpHighest first, which
// the kernel may refuse to an unprivileged process.
//
// Destroying the component stops every delivery, asks every worker to stop and
// joins every thread, including abandoned ones; a body must therefore poll
// `CallBack` and must never wait for the GUI thread. Destroying it from inside
// `OnWork`, `OnSucces`, `OnError` or `OnStop` is allowed.
class TVekThreadedMethod {
public:
    TVekThreadedMethod();
    ~TVekThreadedMethod();
    TVekThreadedMethod(const TVekThreadedMethod&) = delete;
    TVekThreadedMethod& operator=(const TVekThreadedMethod&) = delete;

    [[nodiscard]] bool WaitwhileTerminate() const { return m_waitwhileTerminate; }
    void SetWaitwhileTerminate(bool value) { m_waitwhileTerminate = value; }

    // Given to each worker as it starts.
    [[nodiscard]] TThreadPriority Priority() const { return m_priority; }
    void SetPriority(TThreadPriority value) { m_priority = value; }

    [[nodiscard]] bool RudeTerminate() const { return m_rudeTerminate; }
    void SetRudeTerminate(bool value) { m_rudeTerminate = value; }

    TThreadedMethodBody OnBody;
    TThreadedMethodWork OnWork;
    TThreadedMethodNotify OnSucces;
    TThreadedMethodNotify OnError;
    TThreadedMethodNotify OnStop;

    // Stops the running workers and starts a new one.
    void Execute();

    // tmsIdle, tmsRunning, tmsFailed, tmsStopped or tmsSucceeded.
    [[nodiscard]] int State() const { return m_state.load(); }
    // Workers in the list, abandoned ones included.
    [[nodiscard]] std::size_t WorkerCount() const { return m_workers.size(); }

    // One progress tick as the 50 ms progress timer delivers it; public so that
    // tests can drive progress deterministically.
    void ProgressTick();

private:
    friend class TThreadForMethod;
    friend class TWaitingThread;

    void StartWorker();
    void WorkerEnded(const TThreadForMethod* worker);
    void WaiterReady(TWaitingThread* waiter);

    static constexpr int kProgressStart = 0;
    static constexpr int kProgressMax = 100;

    bool m_waitwhileTerminate = false;
    TThreadPriority m_priority = TThreadPriority::tpNormal;
    bool m_rudeTerminate = true;

    // Written by the GUI thread and by a worker as it starts.
    std::atomic<int> m_state{tmsIdle};
    int m_counter = 0;
    bool m_reset = true;

    TDeliveryGuard m_guard;
    std::unique_ptr<TThreadedTimer> m_progressTimer;
    // GUI thread only; the count mirrors the list's size for the waiting threads.
    std::vector<std::shared_ptr<TThreadForMethod>> m_workers;
    std::atomic<std::size_t> m_workerCount{0};
    std::vector<std::unique_ptr<TWaitingThread>> m_waiters;
};

// One run of the body. Created by `TVekThreadedMethod`, which releases (and joins)
// it when its end has been reported on the GUI thread.
class TThreadForMethod {
    struct TKey {
        explicit TKey() = default;
    };
    friend class TVekThreadedMethod;

public:
    TThreadForMethod(TKey, TVekThreadedMethod& owner, TThreadedMethodBody body,
                     TThreadPriority priority, TDeliveryGuard::Token token);
    ~TThreadForMethod();
    TThreadForMethod(const TThreadForMethod&) = delete;
    TThreadForMethod& operator=(const TThreadForMethod&) = delete;

    // True once the worker has been asked to stop (what `CallBack` returns).
    [[nodiscard]] bool Terminated() const { return m_terminated.load(); }
    // tmsRunning until the body returns, then tmsFailed, tmsStopped or tmsSucceeded.
    [[nodiscard]] int Result() const { return m_result.load(); }
    // The body's final `Error`; 1 until it has returned.
    [[nodiscard]] int Error() const { return m_error.load(); }

private:
    void Start();
    void Terminate() { m_terminated.store(true); }
    void Abandon();
    [[nodiscard]] bool Abandoned() const { return m_abandoned.load(); }
    void SetPriority(TThreadPriority priority);
    void Join();
    void Run();

    TVekThreadedMethod& m_owner;
    TThreadedMethodBody m_body;
    TDeliveryGuard::Token m_token;

    std::mutex m_mutex; // guards the priority against the thread's own start
    TThreadPriority m_priority;
    pid_t m_tid = 0;

    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<int> m_result{tmsRunning};
    std::atomic<int> m_error{1};
    std::thread m_thread;
};
