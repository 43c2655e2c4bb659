#include "app/GuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

void AbortOnViolation(const char* file, int line, const char* function) {
    std::fprintf(stderr, "pictrel: %s (%s:%d) must run on the GUI thread\n", function, file, line);
    std::abort();
}

std::atomic<TGuiThreadViolation> g_violation{&AbortOnViolation};

// Qt orders a posted call after its posting with its own futex-based locks, which
// ThreadSanitizer cannot see in the uninstrumented Qt libraries; these two calls tell
// it about that order, so the call's captures do not read as a race.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
void HandedOver(void* address) {
    __tsan_release(address);
}
void TakenOver(void* address) {
    __tsan_acquire(address);
}
#else
void HandedOver(void*) {}
void TakenOver(void*) {}
#endif

// The posted call as Qt stores it: its last move (into Qt's slot object, on the
// posting thread) announces the hand-over; running it on the GUI thread takes it.
// Qt may free it on either thread, whichever lets go of it last, so the run hands it
// back and the destructor takes it again.
class TPostedCall {
public:
    TPostedCall(TDeliveryGuard::Token token, std::function<void()> call)
        : m_token(std::move(token)), m_call(std::move(call)) {}
    TPostedCall(const TPostedCall& other) : m_token(other.m_token), m_call(other.m_call) {
        HandedOver(this);
    }
    TPostedCall(TPostedCall&& other) noexcept
        : m_token(std::move(other.m_token)), m_call(std::move(other.m_call)) {
        HandedOver(this);
    }
    TPostedCall& operator=(const TPostedCall&) = delete;
    TPostedCall& operator=(TPostedCall&&) = delete;
    ~TPostedCall() { TakenOver(this); }

    void operator()() {
        TakenOver(this);
        if (m_token && m_token->load()) m_call();
        HandedOver(this);
    }

private:
    TDeliveryGuard::Token m_token;
    std::function<void()> m_call;
};

} // namespace

TDeliveryGuard::TDeliveryGuard() : m_alive(std::make_shared<std::atomic<bool>>(true)) {}

bool IsGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

TGuiThreadViolation SetGuiThreadViolationHandler(TGuiThreadViolation handler) {
    return g_violation.exchange(handler != nullptr ? handler : &AbortOnViolation);
}

void CheckGuiThread(const char* file, int line, const char* function) {
    const bool onGui = QCoreApplication::instance() != nullptr
                           ? IsGuiThread()
                           : static_cast<pid_t>(::syscall(SYS_gettid)) == ::getpid();
    if (!onGui) g_violation.load()(file, line, function);
}

bool PostToGuiThread(TDeliveryGuard::Token token, std::function<void()> call) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || !call) return false;
    // Queued on the application object: if the application goes first, Qt drops the event.
    return QMetaObject::invokeMethod(app, TPostedCall(std::move(token), std::move(call)),
                                     Qt::QueuedConnection);
}
