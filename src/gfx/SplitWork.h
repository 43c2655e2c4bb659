#pragma once

#include <exception>
#include <system_error>
#include <thread>

// Runs body(first, last) over [0, count) in two halves, the second on a thread of
// its own, when `worthAThread` says the work pays for one and the machine has a
// second core; otherwise body(0, count) runs here alone. The first half always
// starts at 0 (callers give it their own result slots). An exception thrown by
// either half reaches the caller once both halves have ended; when both throw,
// the first half's wins. Without a thread to be had, both halves run here.
template <typename Index, typename Body>
void SplitWork(Index count, bool worthAThread, const Body& body) {
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    if (!worthAThread || !twoCores || count < Index(2)) {
        body(Index(0), count);
        return;
    }
    const Index half = count / 2;
    std::exception_ptr secondError;
    std::thread second;
    try {
        second = std::thread([&] {
            try {
                body(half, count);
            } catch (...) {
                secondError = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        body(Index(0), half);
        body(half, count);
        return;
    }
    std::exception_ptr firstError;
    try {
        body(Index(0), half);
    } catch (...) {
        firstError = std::current_exception();
    }
    second.join();
    if (firstError) std::rethrow_exception(firstError);
    if (secondError) std::rethrow_exception(secondError);
}
