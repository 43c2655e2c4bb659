#pragma once

#include "platform/ThreadPriority.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// The worker thread of an image loader: runs one load, then reports its end. Its
// stop request is a flag the load looks at between its steps; nothing is ever killed.
class TThreadBitmapLoader {
public:
    TThreadBitmapLoader() = default;
    // Waits for the thread: a worker is never left running behind its owner.
    ~TThreadBitmapLoader() { WaitFor(); }
    TThreadBitmapLoader(const TThreadBitmapLoader&) = delete;
    TThreadBitmapLoader& operator=(const TThreadBitmapLoader&) = delete;

    // Starts the thread: it takes `priority`, calls `run`, then `finished`.
    void Start(TThreadPriority priority, std::function<void()> run, std::function<void()> finished);

    void Terminate() { m_terminated.store(true); }
    [[nodiscard]] bool Terminated() const { return m_terminated.load(); }
    [[nodiscard]] const std::atomic<bool>& TerminateFlag() const { return m_terminated; }

    // Applies to the running thread at once.
    void SetPriority(TThreadPriority priority);
    // Kernel id of the thread, 0 before it runs.
    [[nodiscard]] pid_t ThreadId() const;

    void WaitFor() {
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::atomic<bool> m_terminated{false};
    mutable std::mutex m_mutex; // orders priority changes against the thread's start
    TThreadPriority m_priority = TThreadPriority::tpNormal;
    pid_t m_tid = 0;
    std::thread m_thread;
};
