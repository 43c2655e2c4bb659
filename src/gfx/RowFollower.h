#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Work on a picture's rows that follows a producer (a decoder) on a second thread:
// the producer says how many rows are ready, the follower works them in chunks as
// they come, and at the end the producer shares what is left with it. `work(first,
// last)` runs on rows [first, last), each row exactly once when Finish returns.
// Without a second core or a thread to be had, Finish does all the work itself. What
// `work` throws on the follower's thread reaches the caller of Finish.
class TRowFollower {
public:
    explicit TRowFollower(std::function<void(int first, int last)> work);
    // Abandons what was not worked yet (a stopped or failed decode) and waits for the
    // follower.
    ~TRowFollower();
    TRowFollower(const TRowFollower&) = delete;
    TRowFollower& operator=(const TRowFollower&) = delete;

    // Stops claiming rows and waits for the follower: after it nothing touches the rows
    // (for a producer about to free or reuse them). Finish does nothing after it.
    void Abandon();
    // Rows [0, rows) are ready (never fewer than said before).
    void Ready(int rows);
    // All `rows` rows are ready: works the rest with the follower and returns once every
    // row is done.
    void Finish(int rows);

private:
    // Claims and works chunks below the ready mark; false when none was left to claim.
    bool WorkChunk();
    void Follow();
    void FollowChunks();

    std::function<void(int, int)> m_work;
    std::atomic<int> m_ready{0};
    std::atomic<int> m_next{0}; // the first row not claimed yet
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_ended = false;       // under m_mutex: no more rows will come
    std::exception_ptr m_error; // from the follower's thread, read after the join
    std::thread m_thread;
};
