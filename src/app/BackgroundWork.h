#pragma once

#include "app/GuiThread.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

// What a running job polls to learn that nobody wants its result any more.
class TJobStop {
public:
    [[nodiscard]] bool StopRequested() const;

private:
    friend class TBackgroundWork;
    struct TState;
    TJobStop(std::shared_ptr<const TState> state, std::uint64_t epoch)
        : m_state(std::move(state)), m_epoch(epoch) {}

    std::shared_ptr<const TState> m_state;
    std::uint64_t m_epoch;
};

// The one way work leaves the GUI thread: a job runs on a worker, and its result is
// handed to `done` on the GUI thread through PostToGuiThread.
//
// Jobs of one helper run one after another, in the order given, on a thread of the
// helper's own that starts with the first job and ends when no job is left, so an
// idle helper holds no thread. An owner with work that may run side by side (a
// listing and a fit) keeps one helper per kind.
//
// - Revoked: `Cancel` (for instance before a newer request) and the helper's end drop
//   every delivery not yet run; a job not yet started is skipped.
// - Cancelled: a running job sees `TJobStop::StopRequested` turn true.
// - Joined: `Shutdown` (and the destructor) waits for the running job; an owner calls
//   it first thing in its destructor, so no job sees the owner half destroyed.
// - A job that throws does not end the program: the message reaches `failed` on the
//   GUI thread (without one, it is printed), and `done` is not called.
//
// Create, use and destroy the helper on the GUI thread. A job must never wait for
// the GUI thread.
class TBackgroundWork {
public:
    using TFailed = std::function<void(const QString& error)>;

    TBackgroundWork();
    ~TBackgroundWork();
    TBackgroundWork(const TBackgroundWork&) = delete;
    TBackgroundWork& operator=(const TBackgroundWork&) = delete;

    // Queues `job` (called with a `const TJobStop&`); its result goes to `done` on the
    // GUI thread (`done()` for a job returning nothing). After Shutdown nothing runs.
    template <class Job, class Done>
    void Run(Job job, Done done, TFailed failed = {});

    // Cancel, then Run: the newer request is the only one delivered.
    template <class Job, class Done>
    void RunLatest(Job job, Done done, TFailed failed = {}) {
        Cancel();
        Run(std::move(job), std::move(done), std::move(failed));
    }

    // Stops the running job, skips the queued ones and drops every delivery not yet
    // run. Jobs given afterwards run as usual.
    void Cancel();

    // Cancels, then waits for the running job. Nothing runs or is delivered afterwards.
    void Shutdown();

    // Blocks until no job is queued or running; their deliveries are still to run.
    // For owners that must finish their work before they go on (and for tests).
    void WaitForIdle();

    // Jobs queued or running (not counting deliveries waiting on the GUI thread).
    [[nodiscard]] std::size_t Pending() const;

private:
    // Runs on the worker; returns the delivery to post to the GUI thread.
    using TBody = std::function<std::function<void()>(const TJobStop&)>;
    struct TJob {
        TBody body;
        TFailed failed;
        std::uint64_t epoch = 0;
    };

    void Enqueue(TBody body, TFailed failed);
    void Worker();
    void Deliver(std::uint64_t epoch, std::function<void()> call);

    std::shared_ptr<TJobStop::TState> m_state;
    TDeliveryGuard m_guard;

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::deque<TJob> m_queue;
    bool m_workerRunning = false;
    bool m_busy = false;
    std::thread m_thread; // GUI thread only
};

template <class Job, class Done>
void TBackgroundWork::Run(Job job, Done done, TFailed failed) {
    using TResult = std::invoke_result_t<Job&, const TJobStop&>;
    Enqueue(
        [job = std::move(job),
         done = std::move(done)](const TJobStop& stop) mutable -> std::function<void()> {
            if constexpr (std::is_void_v<TResult>) {
                job(stop);
                return [done]() mutable { done(); };
            } else {
                // Shared so that the delivery stays copyable whatever the result type.
                auto result = std::make_shared<TResult>(job(stop));
                return [done, result]() mutable { done(std::move(*result)); };
            }
        },
        std::move(failed));
}
