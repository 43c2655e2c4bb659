#include "app/BackgroundWork.h"

#include <cstdio>
#include <exception>

// Shared by the helper, its jobs' stop flags and their deliveries, so a job or a
// queued delivery may outlive the helper's last word without touching it.
struct TJobStop::TState {
    // Bumped by Cancel: jobs of an older epoch are stopped and deliver nothing.
    std::atomic<std::uint64_t> epoch{0};
    std::atomic<bool> closing{false};

    [[nodiscard]] bool Current(std::uint64_t jobEpoch) const {
        return !closing.load() && epoch.load() == jobEpoch;
    }
};

bool TJobStop::StopRequested() const {
    return !m_state->Current(m_epoch);
}

TBackgroundWork::TBackgroundWork() : m_state(std::make_shared<TJobStop::TState>()) {}

TBackgroundWork::~TBackgroundWork() {
    Shutdown();
}

void TBackgroundWork::Enqueue(TBody body, TFailed failed) {
    PICTREL_ASSERT_GUI_THREAD();
    std::thread ended;
    {
        std::lock_guard lock(m_mutex);
        if (m_state->closing.load()) return;
        m_queue.push_back({std::move(body), std::move(failed), m_state->epoch.load()});
        if (!m_workerRunning) {
            // The previous worker, if any, has left its loop and is ending.
            ended = std::move(m_thread);
            m_workerRunning = true;
            try {
                m_thread = std::thread([this] { Worker(); });
            } catch (...) {
                m_workerRunning = false;
                m_queue.pop_back();
                throw;
            }
        }
    }
    if (ended.joinable()) ended.join();
}

void TBackgroundWork::Cancel() {
    PICTREL_ASSERT_GUI_THREAD();
    std::lock_guard lock(m_mutex);
    m_state->epoch.fetch_add(1);
    m_queue.clear();
}

void TBackgroundWork::Shutdown() {
    PICTREL_ASSERT_GUI_THREAD();
    // Stop delivering first, then stop and wait for the worker.
    m_guard.Revoke();
    {
        std::lock_guard lock(m_mutex);
        m_state->closing.store(true);
        m_queue.clear();
    }
    if (m_thread.joinable()) m_thread.join();
}

void TBackgroundWork::WaitForIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_workerRunning; });
}

std::size_t TBackgroundWork::Pending() const {
    std::lock_guard lock(m_mutex);
    return m_queue.size() + (m_busy ? 1 : 0);
}

void TBackgroundWork::Worker() {
    for (;;) {
        TJob job;
        {
            std::lock_guard lock(m_mutex);
            m_busy = false;
            if (m_queue.empty() || m_state->closing.load()) {
                m_workerRunning = false;
                m_idle.notify_all();
                return;
            }
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_busy = true;
        }
        const TJobStop stop(m_state, job.epoch);
        if (stop.StopRequested()) continue;
        std::function<void()> delivery;
        QString error;
        try {
            delivery = job.body(stop);
        } catch (const std::exception& e) {
            error = QString::fromUtf8(e.what());
            if (error.isEmpty()) error = QStringLiteral("unknown error");
        } catch (...) {
            error = QStringLiteral("unknown error");
        }
        if (!delivery) {
            delivery = [failed = std::move(job.failed), error] {
                if (failed)
                    failed(error);
                else
                    std::fprintf(stderr, "pictrel: background work failed: %s\n",
                                 qPrintable(error));
            };
        }
        // The job's captures go here, on the worker, not in the GUI queue.
        job = TJob();
        Deliver(stop.m_epoch, std::move(delivery));
    }
}

void TBackgroundWork::Deliver(std::uint64_t epoch, std::function<void()> call) {
    PostToGuiThread(m_guard.GetToken(), [state = std::shared_ptr<const TJobStop::TState>(m_state),
                                         epoch, call = std::move(call)] {
        if (state->Current(epoch)) call();
    });
}
