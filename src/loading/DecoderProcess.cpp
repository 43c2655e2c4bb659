#include "loading/DecoderProcess.h"

#include "loading/ColourManagement.h"
#include "loading/DecoderProtocol.h"
#include "loading/DecoderService.h"
#include "loading/ImageLimits.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kHelperSocketFd = 3;
// A message that has begun arrives whole at once; a helper that stalls in the middle of
// one is treated as broken.
constexpr int kMessageTimeoutMs = 5000;

// The environment of the helper: the program's own, and in sanitizer builds an
// allocation limit standing in for the address-space limit the sanitizer cannot have.
std::vector<std::string> HelperEnvironment([[maybe_unused]] std::uint64_t memoryLimit) {
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) env.emplace_back(*e);
#if defined(__SANITIZE_ADDRESS__)
    if (memoryLimit != 0) {
        std::string options = "ASAN_OPTIONS=";
        for (auto it = env.begin(); it != env.end(); ++it)
            if (it->rfind("ASAN_OPTIONS=", 0) == 0) {
                options = *it + ":";
                env.erase(it);
                break;
            }
        options += "allocator_may_return_null=1:max_allocation_size_mb=" +
                   std::to_string(memoryLimit >> 20);
        env.push_back(options);
    }
#endif
    return env;
}

// Whether `fd` is the shared memory `bitmap` is mapped from.
bool SameSharedMemory(int fd, const TBitmap32& bitmap) {
    if (fd < 0 || bitmap.Empty()) return false;
    const int own = SharedPixelsFd(bitmap.Bits());
    struct stat a {
    }, b{};
    return own >= 0 && ::fstat(fd, &a) == 0 && ::fstat(own, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

std::unique_ptr<TDecoderProcess> TDecoderProcess::Start(const std::string& program,
                                                        std::uint64_t memoryLimit, QString& error) {
    int sockets[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        error = QStringLiteral("no socket pair");
        return nullptr;
    }
    int child = sockets[1];
    if (child == kHelperSocketFd) {
        // dup2 onto itself would keep close-on-exec.
        child = ::fcntl(sockets[1], F_DUPFD_CLOEXEC, kHelperSocketFd + 1);
        ::close(sockets[1]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child, kHelperSocketFd);
    // Nothing else of the program's reaches the helper.
    posix_spawn_file_actions_addclosefrom_np(&actions, kHelperSocketFd + 1);

    const std::string limit = std::to_string(memoryLimit);
    const std::string socketArg = std::to_string(kHelperSocketFd);
    std::vector<char*> argv{
        const_cast<char*>(program.c_str()),   const_cast<char*>("--socket"),
        const_cast<char*>(socketArg.c_str()), const_cast<char*>("--memory-limit"),
        const_cast<char*>(limit.c_str()),     nullptr};
    std::vector<std::string> env = HelperEnvironment(memoryLimit);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    // Stop requests wait, blocked, until the helper is ready for them.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGUSR1);
    posix_spawnattr_setsigmask(&attributes, &blocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const int rc =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(child);
    if (rc != 0) {
        ::close(sockets[0]);
        error = QStringLiteral("cannot start %1: %2")
                    .arg(QString::fromStdString(program), QString::fromUtf8(std::strerror(rc)));
        return nullptr;
    }
    const timeval timeout{kMessageTimeoutMs / 1000, 0};
    ::setsockopt(sockets[0], SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(sockets[0], SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return std::unique_ptr<TDecoderProcess>(new TDecoderProcess(pid, sockets[0]));
}

TDecoderProcess::~TDecoderProcess() {
    if (m_pid > 0) Kill();
    if (m_socket >= 0) ::close(m_socket);
}

void TDecoderProcess::Kill(QString* reason) {
    const QString how = Collect(true);
    if (reason != nullptr) *reason = how;
}

QString TDecoderProcess::Collect(bool kill) {
    if (m_pid <= 0) return {};
    if (kill) ::kill(m_pid, SIGKILL);
    int status = 0;
    pid_t r;
    do r = ::waitpid(m_pid, &status, 0);
    while (r < 0 && errno == EINTR);
    m_pid = -1;
    if (r < 0) return QStringLiteral("the decoder stopped");
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        if (kill && signal == SIGKILL) return QStringLiteral("the decoder was stopped");
        return QStringLiteral("the decoder stopped (signal %1, %2)")
            .arg(signal)
            .arg(QString::fromUtf8(::sigdescr_np(signal)));
    }
    m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return QStringLiteral("the decoder stopped (exit code %1)").arg(m_exitCode);
}

void TDecoderProcess::TakeQuickLook(const TImageLoadRequest& request, int fd,
                                    const QByteArray& body, const std::atomic<bool>& stop) {
    TPixelsHeader header;
    TBitmap32 small;
    if (!ParsePixelsHeader(body, header) || !AdoptSharedPixels(fd, header, small)) return;
    if (!request.Quick.Ready || !request.Prepare || stop) return;
    try {
        TDrawnPicture drawn;
        request.Prepare(small, drawn);
        if (!drawn.Bitmap.Empty()) request.Quick.Ready(std::move(drawn));
    } catch (const std::exception&) {
        // Only a first look: the whole picture follows all the same.
    }
}

TDecoderProcess::TOutcome TDecoderProcess::Decode(const TImageLoadRequest& request, int fileFd,
                                                  const std::atomic<bool>& stop,
                                                  const TTimes& times, TImageLoadResult& result,
                                                  QString& reason) {
    const auto died = [this, &reason] {
        // A helper that ends on its own has ended by the time its socket closes; one that
        // broke the protocol is ended here.
        reason = Collect(true);
        if (reason.isEmpty()) reason = QStringLiteral("the decoder stopped");
        return m_exitCode == kDecoderNoSandboxExit ? TOutcome::NoSandbox : TOutcome::Died;
    };
    if (m_pid <= 0) return died();

    TDecodeOrder order;
    order.Request.FileName = request.FileName;
    order.Request.PageIndex = request.PageIndex;
    order.Request.CombineAlpha = request.CombineAlpha;
    order.Request.Settings = request.Settings;
    order.Request.UseSecondary = request.UseSecondary;
    order.Request.Quick.Width = request.Quick.Width;
    order.Request.Quick.Height = request.Quick.Height;
    order.Request.Quick.FirstAfterMs = request.Quick.FirstAfterMs;
    order.QuickLook = request.Quick.Ready && request.Prepare;
    order.DisplayProfile = DisplayProfile();
    order.AvailableMemory = AvailableMemory();
    order.Sequence = ++m_sequence;
    // The buffer the result came with (the last picture's shared memory) goes back to
    // be decoded into; this side lets go of it.
    // It stays mapped here meanwhile: when the picture comes back in it, it needs no new
    // mapping (whose set-up costs as much as a tenth of the decode of a large picture).
    bool sent = true;
    TBitmap32 spare = std::move(result.Bitmap);
    if (!spare.Empty()) {
        if (const int fd = SharedPixelsFd(std::as_const(spare).Bits()); fd >= 0) {
            const TPixelsHeader header{spare.Width(), spare.Height(), std::nullopt};
            sent = SendDecoderMessage(m_socket, TDecoderMessage::dmSpare,
                                      EncodePixelsHeader(header), fd);
        } else {
            spare.SetSize(0, 0);
        }
    }
    if (!sent || !SendDecoderMessage(m_socket, TDecoderMessage::dmRequest, EncodeDecodeOrder(order),
                                     fileFd)) {
        // Ended while it waited for work: nothing of this picture reached it.
        reason = Collect(true);
        return m_exitCode == kDecoderNoSandboxExit ? TOutcome::NoSandbox : TOutcome::NotListening;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(times.LimitMs);
    for (;;) {
        pollfd p{m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, 10);
        const Clock::time_point now = Clock::now();
        if (ready > 0) {
            TDecoderEnvelope message;
            if (!ReceiveDecoderMessage(m_socket, message)) return died();
            if (message.Kind == TDecoderMessage::dmQuickLook) {
                TakeQuickLook(request, message.Fd, message.Body, stop);
                continue;
            }
            TPixelsHeader pixels;
            if (message.Kind != TDecoderMessage::dmResult ||
                !ParseDecodeResult(message.Body, result, pixels, reason)) {
                if (message.Fd >= 0) ::close(message.Fd);
                return died();
            }
            if (result.Status == TImageLoaderProStatus::ilSucces &&
                (message.Fd >= 0 || pixels.Width > 0 || pixels.Height > 0)) {
                if (SameSharedMemory(message.Fd, spare) && spare.Width() == pixels.Width &&
                    spare.Height() == pixels.Height) {
                    ::close(message.Fd);
                    result.Bitmap = std::move(spare);
                    // Its remembered opacity was the last picture's: written anew, counted
                    // anew here on the worker, so the first paint does not pay for it.
                    (void)result.Bitmap.Bits();
                    (void)std::as_const(result.Bitmap).IsOpaque();
                } else if (!AdoptSharedPixels(message.Fd, pixels, result.Bitmap)) {
                    return died();
                }
            } else if (message.Fd >= 0) {
                ::close(message.Fd);
            }
            return TOutcome::Done;
        }
        if (ready < 0 && errno != EINTR) return died();
        if (stop) {
            // Told to stop; the caller does not wait for it (see FinishStop).
            ::sigqueue(m_pid, SIGUSR1, sigval{.sival_int = order.Sequence});
            return TOutcome::Stopping;
        }
        if (now >= deadline) {
            Collect(true);
            reason =
                QStringLiteral("the decoder took longer than %1 s").arg(times.LimitMs / 1000.0);
            return TOutcome::TimedOut;
        }
    }
}

bool TDecoderProcess::FinishStop(int graceMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(graceMs);
    while (m_pid > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{m_socket, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        TDecoderEnvelope message;
        if (!ReceiveDecoderMessage(m_socket, message)) break;
        // What it still delivers is dropped.
        if (message.Fd >= 0) ::close(message.Fd);
        if (message.Kind == TDecoderMessage::dmResult) return true;
    }
    Kill();
    return false;
}
