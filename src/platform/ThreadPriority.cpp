#include "platform/ThreadPriority.h"

#include <algorithm>
#include <cerrno>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

int NiceOffsetFor(TThreadPriority priority) {
    switch (priority) {
    case TThreadPriority::tpIdle:
        return 19;
    case TThreadPriority::tpLowest:
        return 10;
    case TThreadPriority::tpLower:
        return 5;
    case TThreadPriority::tpNormal:
        return 0;
    case TThreadPriority::tpHigher:
        return -5;
    case TThreadPriority::tpHighest:
        return -10;
    case TThreadPriority::tpTimeCritical:
        return -15;
    }
    return 0;
}

pid_t CurrentThreadId() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

namespace {

int ProcessNice() {
    errno = 0;
    const int value = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    return errno == 0 ? value : 0;
}

} // namespace

bool SetThreadPriority(pid_t tid, TThreadPriority priority) {
    sched_param param{};
    param.sched_priority = 0;
    const int policy = priority == TThreadPriority::tpIdle ? SCHED_IDLE : SCHED_OTHER;
    // Leaving SCHED_IDLE for SCHED_OTHER is allowed to unprivileged threads since Linux 2.6.39.
    bool ok = ::sched_setscheduler(tid, policy, &param) == 0;

    const int nice = std::clamp(ProcessNice() + NiceOffsetFor(priority), -20, 19);
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) != 0) {
        ok = false;
        // Not allowed to raise: stay at the process's own level.
        if (NiceOffsetFor(priority) < 0)
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), ProcessNice());
    }
    return ok;
}
