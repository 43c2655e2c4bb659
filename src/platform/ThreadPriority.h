#pragma once

#include <cstdint>
#include <sys/types.h>

// Thread priorities as the windows and components name them, and how Linux
// honours them. Linux schedules ordinary threads by their nice value, which is
// per thread; an unprivileged process may only lower its threads' priority, so
// the levels above normal are attempted and quietly stay at normal when the
// kernel refuses.
//
//   tpIdle          SCHED_IDLE (runs only when a core is otherwise idle)
//   tpLowest        nice +10 relative to the process
//   tpLower         nice +5
//   tpNormal        the process's own nice value
//   tpHigher        nice -5   (needs CAP_SYS_NICE or an RLIMIT_NICE allowance)
//   tpHighest       nice -10  (same)
//   tpTimeCritical  nice -15  (same)
enum class TThreadPriority : std::uint8_t {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

// The nice offset (relative to the process) a priority maps to; tpIdle maps to 19
// with the idle scheduling class on top.
int NiceOffsetFor(TThreadPriority priority);

// The kernel id of the calling thread.
pid_t CurrentThreadId();

// Applies `priority` to the thread with kernel id `tid` (any thread of this
// process). Returns false when the kernel refused; the thread then keeps the
// closest priority it was allowed.
bool SetThreadPriority(pid_t tid, TThreadPriority priority);

// Shorthand for the calling thread.
inline bool SetCurrentThreadPriority(TThreadPriority priority) {
    return SetThreadPriority(CurrentThreadId(), priority);
}
