#include "gfx/RowFollower.h"

#include <algorithm>
#include <limits>
#include <system_error>
#include <utility>

namespace {

// Large enough to keep the hand-over rare, small enough that the producer's last
// chunk is shared.
constexpr int kChunkRows = 32;

} // namespace

TRowFollower::TRowFollower(std::function<void(int, int)> work) : m_work(std::move(work)) {
    if (std::thread::hardware_concurrency() < 2) return;
    try {
        m_thread = std::thread([this] { Follow(); });
    } catch (const std::system_error&) {
        // Finish does everything on the producer's thread.
    }
}

TRowFollower::~TRowFollower() {
    Abandon();
}

void TRowFollower::Abandon() {
    {
        const std::lock_guard lock(m_mutex);
        m_ended = true;
        // Nothing further is claimed.
        m_next.store(std::numeric_limits<int>::max());
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void TRowFollower::Ready(int rows) {
    if (rows <= m_ready.load(std::memory_order_relaxed)) return;
    // Woken only once a whole chunk waits, so a row-by-row producer does not pay a wake
    // per row.
    const bool wake = rows - m_next.load(std::memory_order_relaxed) >= kChunkRows;
    m_ready.store(rows, std::memory_order_release);
    if (wake) m_wake.notify_one();
}

void TRowFollower::Finish(int rows) {
    {
        const std::lock_guard lock(m_mutex);
        m_ready.store(std::max(rows, m_ready.load()), std::memory_order_release);
        m_ended = true;
    }
    m_wake.notify_all();
    while (WorkChunk()) {
    }
    if (m_thread.joinable()) m_thread.join();
    if (m_error) std::rethrow_exception(std::exchange(m_error, nullptr));
}

bool TRowFollower::WorkChunk() {
    int first = m_next.load();
    for (;;) {
        const int ready = m_ready.load(std::memory_order_acquire);
        if (first >= ready) return false;
        const int last = std::min(first + kChunkRows, ready);
        if (m_next.compare_exchange_weak(first, last)) {
            m_work(first, last);
            return true;
        }
    }
}

void TRowFollower::Follow() {
    try {
        FollowChunks();
    } catch (...) {
        m_error = std::current_exception();
        // The producer takes the rows this thread leaves.
    }
}

void TRowFollower::FollowChunks() {
    for (;;) {
        while (WorkChunk()) {
        }
        std::unique_lock lock(m_mutex);
        if (m_ended) {
            lock.unlock();
            // What came with the end.
            while (WorkChunk()) {
            }
            return;
        }
        m_wake.wait(lock,
                    [this] { return m_ended || m_ready.load() - m_next.load() >= kChunkRows; });
    }
}
