#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP (a logout, a shutdown, Ctrl+C in a terminal) reach the
// event loop as a call of `onSignal` with the signal's number, so the program can end
// as closing its window does; a second such signal ends the process at once. One
// may exist at a time; while it lives the three signals are its own.
class TSignalQuit {
public:
    explicit TSignalQuit(std::function<void(int signal)> onSignal);
    // The signals' default handling comes back.
    ~TSignalQuit();
    TSignalQuit(const TSignalQuit&) = delete;
    TSignalQuit& operator=(const TSignalQuit&) = delete;

    // False when the signals could not be taken (they then end the process as before).
    [[nodiscard]] bool Active() const { return m_active; }

private:
    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_notifier;
    bool m_active = false;
};
