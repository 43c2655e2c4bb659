#include "app/VekThreadedMethod.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>

// A small low-priority thread that starts the next worker once the worker list is
// empty. The list belongs to the GUI thread, so this thread only watches its size
// and asks the GUI thread to start; the GUI thread checks again and either starts
// the worker (this thread then ends) or tells it to keep waiting, because another
// waiting thread got there first.
class TWaitingThread {
public:
    TWaitingThread(TVekThreadedMethod& owner, TDeliveryGuard::Token token)
        : m_owner(owner), m_token(std::move(token)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~TWaitingThread() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
            m_wake.notify_all();
        }
        if (m_thread.joinable()) m_thread.join();
    }
    TWaitingThread(const TWaitingThread&) = delete;
    TWaitingThread& operator=(const TWaitingThread&) = delete;

    // GUI thread: the reply to a start request.
    void Answer(bool started) {
        std::lock_guard lock(m_mutex);
        m_answered = true;
        m_started = started;
        m_wake.notify_all();
    }

private:
    static constexpr std::chrono::milliseconds kPollInterval{100};

    void Run() {
        SetCurrentThreadPriority(TThreadPriority::tpLower);
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            if (m_owner.m_workerCount.load() == 0) {
                m_answered = false;
                lock.unlock();
                const bool posted = PostToGuiThread(
                    m_token, [owner = &m_owner, self = this] { owner->WaiterReady(self); });
                lock.lock();
                // Without an event loop nobody answers; the owner's destructor stops us.
                if (posted) m_wake.wait(lock, [&] { return m_answered || m_stop; });
                if (m_started) break;
            }
            m_wake.wait_for(lock, kPollInterval, [&] { return m_stop; });
        }
    }

    TVekThreadedMethod& m_owner;
    TDeliveryGuard::Token m_token;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_answered = false;
    bool m_started = false;
    std::thread m_thread;
};

// ---------------------------------------------------------------------------

TThreadForMethod::TThreadForMethod(TKey, TVekThreadedMethod& owner, TThreadedMethodBody body,
                                   TThreadPriority priority, TDeliveryGuard::Token token)
    : m_owner(owner), m_body(std::move(body)), m_token(std::move(token)), m_priority(priority) {}

TThreadForMethod::~TThreadForMethod() {
    Join();
}

void TThreadForMethod::Start() {
    m_thread = std::thread([this] { Run(); });
}

void TThreadForMethod::Abandon() {
    m_abandoned.store(true);
    m_terminated.store(true);
}

void TThreadForMethod::SetPriority(TThreadPriority priority) {
    std::lock_guard lock(m_mutex);
    m_priority = priority;
    if (m_tid != 0) ::SetThreadPriority(m_tid, priority);
}

void TThreadForMethod::Join() {
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

void TThreadForMethod::Run() {
    {
        std::lock_guard lock(m_mutex);
        m_tid = CurrentThreadId();
        ::SetThreadPriority(m_tid, m_priority);
    }
    if (!Abandoned()) m_owner.m_state.store(tmsRunning);

    int error = 1;
    const TThreadedMethodCallback callBack = [this] { return Terminated(); };
    try {
        if (m_body) m_body(m_owner, *this, callBack, error);
    } catch (...) {
        // A body that throws has failed, whatever it left in Error.
        if (error == 1) error = 0;
    }
    m_error.store(error);
    const int result = error != 1 ? tmsFailed : Terminated() ? tmsStopped : tmsSucceeded;
    // An abandoned worker keeps the result it had when it was given up.
    if (!Abandoned()) m_result.store(result);
    {
        // The kernel may hand the id to another thread once this one is gone.
        std::lock_guard lock(m_mutex);
        m_tid = 0;
    }
    // Last action of the thread: the GUI thread may join and free this object as
    // soon as the report has run.
    PostToGuiThread(m_token, [owner = &m_owner, self = this] { owner->WorkerEnded(self); });
}

// ---------------------------------------------------------------------------

TVekThreadedMethod::TVekThreadedMethod() : m_progressTimer(std::make_unique<TThreadedTimer>()) {
    m_progressTimer->SetInterval(50);
    m_progressTimer->OnTimer = [this](TThreadedTimer&) { ProgressTick(); };
}

TVekThreadedMethod::~TVekThreadedMethod() {
    // Stop delivering first, then stop and wait for every thread.
    m_guard.Revoke();
    m_progressTimer.reset();
    m_waiters.clear();
    for (const auto& worker : m_workers) worker->Terminate();
    for (const auto& worker : m_workers) worker->Join();
}

void TVekThreadedMethod::Execute() {
    const TDeliveryGuard::Token alive = m_guard.GetToken();
    // A snapshot: OnStop may run the event loop, where end reports change the list.
    const auto running = m_workers;
    for (const auto& worker : running) {
        if (worker->Abandoned()) continue;
        if (std::find(m_workers.begin(), m_workers.end(), worker) == m_workers.end()) continue;
        if (OnStop) {
            const TThreadedMethodNotify handler = OnStop;
            handler(*this);
            if (!alive->load()) return;
        }
        if (m_rudeTerminate) {
            worker->Abandon();
        } else {
            worker->SetPriority(TThreadPriority::tpHighest);
            worker->Terminate();
        }
    }
    m_state.store(tmsIdle);
    if (m_waitwhileTerminate)
        m_waiters.push_back(std::make_unique<TWaitingThread>(*this, m_guard.GetToken()));
    else
        StartWorker();
}

void TVekThreadedMethod::StartWorker() {
    auto worker = std::make_shared<TThreadForMethod>(TThreadForMethod::TKey{}, *this, OnBody,
                                                     m_priority, m_guard.GetToken());
    m_workers.push_back(worker);
    m_workerCount.store(m_workers.size());
    try {
        worker->Start();
    } catch (...) {
        m_workers.pop_back();
        m_workerCount.store(m_workers.size());
        throw;
    }
    m_counter = 0;
    m_reset = true;
    ProgressTick();
}

void TVekThreadedMethod::ProgressTick() {
    if (!OnWork) return;
    // Capped so that a body running for years cannot overflow it; the value
    // reported is capped at the maximum anyway.
    m_counter = m_reset ? 0 : std::min(m_counter + 1, kProgressMax);
    if (!m_workers.empty()) m_state.store(m_workers.back()->Result());
    m_progressTimer->SetEnabled(m_state.load() == tmsRunning);
    const int percent = std::min(kProgressMax, kProgressStart + m_counter);
    m_reset = false;
    // Last: the handler may destroy this component.
    const TThreadedMethodWork handler = OnWork;
    handler(*this, percent);
}

void TVekThreadedMethod::WorkerEnded(const TThreadForMethod* worker) {
    const auto it = std::find_if(m_workers.begin(), m_workers.end(),
                                 [worker](const auto& w) { return w.get() == worker; });
    if (it == m_workers.end()) return;
    // The body has returned; the thread is about to end.
    (*it)->Join();
    if ((*it)->Abandoned()) return;

    m_state.store(m_workers.back()->Result());
    m_workers.erase(it);
    m_workerCount.store(m_workers.size());

    const int state = m_state.load();
    TThreadedMethodNotify handler;
    if (state == tmsSucceeded)
        handler = OnSucces;
    else if (state == tmsFailed || state == tmsStopped)
        handler = OnError;
    // Last: the handler may destroy this component.
    if (handler) handler(*this);
}

void TVekThreadedMethod::WaiterReady(TWaitingThread* waiter) {
    const auto it = std::find_if(m_waiters.begin(), m_waiters.end(),
                                 [waiter](const auto& w) { return w.get() == waiter; });
    if (it == m_waiters.end()) return;
    if (!m_workers.empty()) {
        waiter->Answer(false);
        return;
    }
    waiter->Answer(true);
    m_waiters.erase(it); // joins; the thread ends on this answer
    StartWorker();
}
