#include "platform/SignalQuit.h"

#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Written by the handler, read on the GUI thread: the only safe way out of a handler.
int g_pipe[2] = {-1, -1};
volatile sig_atomic_t g_received = 0;

extern "C" void OnQuitSignal(int signal) {
    if (g_received) _exit(128 + signal); // asked twice: the user means it
    g_received = 1;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
}

} // namespace

TSignalQuit::TSignalQuit(std::function<void(int)> onSignal) : m_onSignal(std::move(onSignal)) {
    if (g_pipe[0] >= 0 || ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    g_received = 0;
    m_notifier = std::make_unique<QSocketNotifier>(g_pipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] {
        char byte = 0;
        while (::read(g_pipe[0], &byte, 1) == 1)
            if (m_onSignal) m_onSignal(int(static_cast<unsigned char>(byte)));
    });
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : kSignals) ::sigaction(signal, &action, nullptr);
    m_active = true;
}

TSignalQuit::~TSignalQuit() {
    if (!m_active) return;
    for (int signal : kSignals) std::signal(signal, SIG_DFL);
    m_notifier.reset();
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}
