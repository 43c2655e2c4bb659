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
    return QMetaObject::invokeMethod(
        app,
        [token = std::move(token), call = std::move(call)]() {
            if (token && token->load()) call();
        },
        Qt::QueuedConnection);
}
