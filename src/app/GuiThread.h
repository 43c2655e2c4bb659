#pragma once

#include <atomic>
#include <functional>
#include <memory>

// The one way back to the GUI thread. Worker results and threaded-timer ticks
// are posted here; each delivery names the guard of the object it is meant for
// and runs only while that guard has not been revoked. Owners revoke their guard
// (on the GUI thread) before they go, so nothing reaches them afterwards: since
// deliveries also run on the GUI thread, a revoked guard is always seen.
class TDeliveryGuard {
public:
    TDeliveryGuard();
    ~TDeliveryGuard() { Revoke(); }
    TDeliveryGuard(const TDeliveryGuard&) = delete;
    TDeliveryGuard& operator=(const TDeliveryGuard&) = delete;

    // Stops every delivery that has not run yet.
    void Revoke() { m_alive->store(false); }
    [[nodiscard]] bool Alive() const { return m_alive->load(); }

    using Token = std::shared_ptr<const std::atomic<bool>>;
    [[nodiscard]] Token GetToken() const { return m_alive; }

private:
    std::shared_ptr<std::atomic<bool>> m_alive;
};

// True on the thread that runs the application's event loop.
[[nodiscard]] bool IsGuiThread();

// What a GUI-only function does when it finds itself on another thread. The default
// prints where it happened and aborts; tests install their own to count violations.
using TGuiThreadViolation = void (*)(const char* file, int line, const char* function);
// Installs `handler` (nullptr: the default) and returns the previous one.
TGuiThreadViolation SetGuiThreadViolationHandler(TGuiThreadViolation handler);

// Checks that the caller runs on the GUI thread; before the application object exists,
// the process's first thread counts as the GUI thread.
void CheckGuiThread(const char* file, int line, const char* function);

// Marks a function that must run on the GUI thread. Active in debug builds, and in
// builds that define PICTREL_GUI_THREAD_CHECKS (the sanitizer builds, so the tests
// catch a violation); compiled out otherwise.
#if !defined(NDEBUG) || defined(PICTREL_GUI_THREAD_CHECKS)
#define PICTREL_ASSERT_GUI_THREAD() ::CheckGuiThread(__FILE__, __LINE__, __func__)
#else
#define PICTREL_ASSERT_GUI_THREAD() static_cast<void>(0)
#endif

// Queues `call` to the GUI thread; it runs there later unless the guard behind
// `token` has been revoked by then. Returns false when there is no application
// object to deliver to (the call is dropped).
bool PostToGuiThread(TDeliveryGuard::Token token, std::function<void()> call);
