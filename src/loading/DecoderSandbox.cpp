#include "loading/DecoderSandbox.h"

#include <seccomp.h>

#include <fcntl.h>
#include <linux/sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// The granted file, read by the signal handler on whichever thread a decoder runs.
char g_grantPath[4096];
std::atomic<int> g_grantFd{-1};
bool g_trace = false;

void TraceText(const char* what, const char* detail) {
    char text[600];
    std::size_t len = 0;
    for (const char* part : {"pictrel-decoder: ", what, detail, "\n"})
        for (const char* p = part; p != nullptr && *p != '\0' && len + 1 < sizeof text; ++p)
            text[len++] = *p;
    (void)!::write(2, text, len);
}

bool IsGranted(int dirfd, const char* path) {
    const int fd = g_grantFd.load(std::memory_order_acquire);
    // Relative names are looked up as the program named the file; another directory
    // than the working one never names the granted file.
    const bool granted = fd >= 0 && path != nullptr && (path[0] == '/' || dirfd == AT_FDCWD) &&
                         std::strcmp(path, g_grantPath) == 0;
    if (!granted && g_trace) TraceText("refused path ", path);
    return granted;
}

long RawFstat(int fd, struct stat* st) {
    return ::syscall(SYS_fstat, fd, st);
}

long Fail(int error) {
    return -long(error);
}

long OpenPath(int dirfd, const char* path, long flags) {
    if (!IsGranted(dirfd, path)) return Fail(EACCES);
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC | O_DIRECTORY)) != 0)
        return Fail(EACCES);
    const long fd = ::syscall(SYS_fcntl, g_grantFd.load(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return Fail(errno);
    // Each open starts reading at the beginning, as a fresh open would.
    ::syscall(SYS_lseek, int(fd), 0L, SEEK_SET);
    return fd;
}

// The descriptor a path-taking stat means: the granted file, the descriptor itself for
// an empty path with AT_EMPTY_PATH, or none.
int StatTarget(int dirfd, const char* path, long flags) {
    if (path != nullptr && path[0] == '\0' && (flags & AT_EMPTY_PATH) != 0) return dirfd;
    return IsGranted(dirfd, path) ? g_grantFd.load() : -1;
}

long StatPath(int dirfd, const char* path, struct stat* out, long flags) {
    const int fd = StatTarget(dirfd, path, flags);
    if (fd < 0) return Fail(EACCES);
    const long r = RawFstat(fd, out);
    return r < 0 ? Fail(errno) : 0;
}

long StatxPath(int dirfd, const char* path, long flags, struct statx* out) {
    const int fd = StatTarget(dirfd, path, flags);
    if (fd < 0) return Fail(EACCES);
    struct stat st;
    if (RawFstat(fd, &st) < 0) return Fail(errno);
    std::memset(out, 0, sizeof *out);
    out->stx_mask = STATX_BASIC_STATS;
    out->stx_blksize = std::uint32_t(st.st_blksize);
    out->stx_nlink = std::uint32_t(st.st_nlink);
    out->stx_uid = st.st_uid;
    out->stx_gid = st.st_gid;
    out->stx_mode = std::uint16_t(st.st_mode);
    out->stx_ino = st.st_ino;
    out->stx_size = std::uint64_t(st.st_size);
    out->stx_blocks = std::uint64_t(st.st_blocks);
    out->stx_atime = {st.st_atim.tv_sec, std::uint32_t(st.st_atim.tv_nsec), 0};
    out->stx_mtime = {st.st_mtim.tv_sec, std::uint32_t(st.st_mtim.tv_nsec), 0};
    out->stx_ctime = {st.st_ctim.tv_sec, std::uint32_t(st.st_ctim.tv_nsec), 0};
    out->stx_rdev_major = major(st.st_rdev);
    out->stx_rdev_minor = minor(st.st_rdev);
    out->stx_dev_major = major(st.st_dev);
    out->stx_dev_minor = minor(st.st_dev);
    return 0;
}

long AccessPath(int dirfd, const char* path, long mode) {
    if (!IsGranted(dirfd, path)) return Fail(EACCES);
    return (mode & (W_OK | X_OK)) != 0 ? Fail(EACCES) : 0;
}

void TraceRefused(long nr) {
    char digits[24];
    int n = int(sizeof digits) - 1;
    digits[n] = '\0';
    unsigned long v = static_cast<unsigned long>(nr);
    do digits[--n] = char('0' + v % 10);
    while ((v /= 10) != 0 && n > 0);
    TraceText("refused system call ", digits + n);
}

#if defined(__x86_64__)

// Answers a call the filter trapped: the path calls on the granted file; a refusal
// for everything else.
void OnTrappedCall(int, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    greg_t* r = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const long a0 = r[REG_RDI], a1 = r[REG_RSI], a2 = r[REG_RDX], a3 = r[REG_R10], a4 = r[REG_R8];
    long result = Fail(EPERM);
    switch (info->si_syscall) {
    case SYS_open:
        result = OpenPath(AT_FDCWD, reinterpret_cast<const char*>(a0), a1);
        break;
    case SYS_openat:
        result = OpenPath(int(a0), reinterpret_cast<const char*>(a1), a2);
        break;
    case SYS_stat:
    case SYS_lstat:
        result = StatPath(AT_FDCWD, reinterpret_cast<const char*>(a0),
                          reinterpret_cast<struct stat*>(a1), 0);
        break;
    case SYS_newfstatat:
        result = StatPath(int(a0), reinterpret_cast<const char*>(a1),
                          reinterpret_cast<struct stat*>(a2), a3);
        break;
    case SYS_statx:
        result = StatxPath(int(a0), reinterpret_cast<const char*>(a1), a2,
                           reinterpret_cast<struct statx*>(a4));
        break;
    case SYS_access:
        result = AccessPath(AT_FDCWD, reinterpret_cast<const char*>(a0), a1);
        break;
    case SYS_faccessat:
    case SYS_faccessat2:
        result = AccessPath(int(a0), reinterpret_cast<const char*>(a1), a2);
        break;
    default:
        if (g_trace) TraceRefused(info->si_syscall);
        break;
    }
    r[REG_RAX] = result;
    errno = savedErrno;
}

constexpr bool kSupported = true;
#else
void OnTrappedCall(int, siginfo_t*, void*) {}
constexpr bool kSupported = false;
#endif

// Calls decoding needs, admitted whatever their arguments.
constexpr int kAllowed[] = {
    SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(preadv), SCMP_SYS(lseek),
    SCMP_SYS(close), SCMP_SYS(fstat), SCMP_SYS(dup), SCMP_SYS(fcntl),
    // memory
    SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(memfd_create),
    SCMP_SYS(ftruncate), SCMP_SYS(mlock), SCMP_SYS(munlock), SCMP_SYS(membarrier),
    // threads and their synchronisation
    SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(get_robust_list), SCMP_SYS(rseq),
    SCMP_SYS(set_tid_address), SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity),
    SCMP_SYS(sched_getparam), SCMP_SYS(sched_getscheduler), SCMP_SYS(gettid), SCMP_SYS(getpid),
    SCMP_SYS(getppid), SCMP_SYS(exit), SCMP_SYS(exit_group),
    // time
    SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep),
    SCMP_SYS(gettimeofday), SCMP_SYS(time),
    // signals (the stop request, the trap handler itself, abort)
    SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    // identity and randomness some libraries ask for
    SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid), SCMP_SYS(getegid), SCMP_SYS(uname),
    SCMP_SYS(getrandom)};

// Calls refused with an error of their own instead of the trap's EPERM.
constexpr int kRefused[] = {SCMP_SYS(socket),  SCMP_SYS(socketpair), SCMP_SYS(connect),
                            SCMP_SYS(bind),    SCMP_SYS(execve),     SCMP_SYS(execveat),
                            SCMP_SYS(fork),    SCMP_SYS(vfork),      SCMP_SYS(ptrace),
                            SCMP_SYS(openat2), SCMP_SYS(readlink),   SCMP_SYS(readlinkat),
                            SCMP_SYS(ioctl)};

struct TFilter {
    scmp_filter_ctx Ctx = nullptr;
    ~TFilter() {
        if (Ctx != nullptr) seccomp_release(Ctx);
    }
};

bool BuildAndLoad(int socket, QString& error) {
    TFilter filter;
    // Everything not listed traps into OnTrappedCall, which answers the path calls and
    // refuses the rest.
    filter.Ctx = seccomp_init(SCMP_ACT_TRAP);
    if (filter.Ctx == nullptr) {
        error = QStringLiteral("seccomp_init failed");
        return false;
    }
    int rc = 0;
    const auto add = [&](std::uint32_t action, int call, unsigned count = 0, scmp_arg_cmp a = {},
                         scmp_arg_cmp b = {}) {
        if (rc != 0) return;
        if (count == 0)
            rc = seccomp_rule_add(filter.Ctx, action, call, 0);
        else if (count == 1)
            rc = seccomp_rule_add(filter.Ctx, action, call, 1, a);
        else
            rc = seccomp_rule_add(filter.Ctx, action, call, 2, a, b);
    };
    for (const int call : kAllowed) add(SCMP_ACT_ALLOW, call);
    for (const int call : kRefused) add(SCMP_ACT_ERRNO(EPERM), call);
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers probe whether memory is readable by writing it into a pipe of their
    // own (the undefined-behaviour checks of virtual calls do, for one).
    add(SCMP_ACT_ALLOW, SCMP_SYS(pipe2));
    add(SCMP_ACT_ALLOW, SCMP_SYS(write));
#else
    // Writing and messaging only on the connection (and errors on standard error).
    for (const int fd : {socket, 2})
        add(SCMP_ACT_ALLOW, SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(fd)));
#endif
    for (const int call :
         {SCMP_SYS(sendmsg), SCMP_SYS(recvmsg), SCMP_SYS(sendto), SCMP_SYS(recvfrom)})
        add(SCMP_ACT_ALLOW, call, 1, SCMP_A0(SCMP_CMP_EQ, scmp_datum_t(socket)));
    // No executable memory after start-up.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        add(SCMP_ACT_ALLOW, call, 1, SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    // Threads, never processes; clone3 hides its flags, so the C library falls back.
    add(SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
        SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    add(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    // Signals to itself only (abort, a thread's wake-up).
    add(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, std::uint64_t(::getpid())));
    // Limits may be read, not raised.
    add(SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 1, SCMP_A2(SCMP_CMP_EQ, 0));
    add(SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
    add(SCMP_ACT_ALLOW, SCMP_SYS(prctl), 1, SCMP_A0(SCMP_CMP_EQ, PR_GET_NAME));
    if (rc != 0) {
        error = QStringLiteral("seccomp_rule_add failed: %1")
                    .arg(QString::fromUtf8(std::strerror(-rc)));
        return false;
    }
    rc = seccomp_load(filter.Ctx);
    if (rc != 0) {
        error =
            QStringLiteral("seccomp_load failed: %1").arg(QString::fromUtf8(std::strerror(-rc)));
        return false;
    }
    return true;
}

} // namespace

void TraceRefusedSystemCalls(bool on) {
    g_trace = on;
}

void GrantDecoderFile(const QByteArray& path, int fd) {
    g_grantFd.store(-1, std::memory_order_release);
    if (path.isEmpty() || fd < 0 || std::size_t(path.size()) >= sizeof g_grantPath) return;
    std::memcpy(g_grantPath, path.constData(), std::size_t(path.size()));
    g_grantPath[path.size()] = '\0';
    g_grantFd.store(fd, std::memory_order_release);
}

bool EnterDecoderSandbox(int socket, std::uint64_t addressSpaceLimit, QString& error) {
    if (!kSupported) {
        error = QStringLiteral("no sandbox for this processor");
        return false;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        error = QStringLiteral("PR_SET_NO_NEW_PRIVS refused");
        return false;
    }
    struct sigaction action {};
    action.sa_sigaction = &OnTrappedCall;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGSYS, &action, nullptr) != 0) {
        error = QStringLiteral("no SIGSYS handler");
        return false;
    }
    if (addressSpaceLimit != 0) {
        const rlimit limit{addressSpaceLimit, addressSpaceLimit};
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            error = QStringLiteral("RLIMIT_AS refused");
            return false;
        }
    }
    return BuildAndLoad(socket, error);
}
