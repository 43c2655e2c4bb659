#include "loading/ThreadBitmapLoader.h"

void TThreadBitmapLoader::Start(TThreadPriority priority, std::function<void()> run,
                                std::function<void()> finished) {
    {
        std::lock_guard lock(m_mutex);
        m_priority = priority;
    }
    m_thread = std::thread([this, run = std::move(run), finished = std::move(finished)] {
        {
            std::lock_guard lock(m_mutex);
            m_tid = CurrentThreadId();
            SetCurrentThreadPriority(m_priority);
        }
        run();
        {
            // The kernel may hand the id to another thread once this one has gone.
            std::lock_guard lock(m_mutex);
            m_tid = 0;
        }
        finished();
    });
}

void TThreadBitmapLoader::SetPriority(TThreadPriority priority) {
    std::lock_guard lock(m_mutex);
    m_priority = priority;
    if (m_tid != 0) ::SetThreadPriority(m_tid, priority);
}

pid_t TThreadBitmapLoader::ThreadId() const {
    std::lock_guard lock(m_mutex);
    return m_tid;
}
