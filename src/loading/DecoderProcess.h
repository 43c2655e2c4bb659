#pragma once

#include "loading/ImageLoadJob.h"

#include <QString>

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// One decoder helper process as the program sees it: started with a socket to talk
// over, handed one file at a time, killed when it does not answer in time.
class TDecoderProcess {
public:
    // How one decode in the helper ended.
    enum class TOutcome : std::uint8_t {
        Done,         // the helper answered (with any status); it may decode again
        Stopping,     // `stop` was set: the helper was told to stop, its answer is pending
        TimedOut,     // the decode ran past its limit; the helper was killed
        Died,         // the helper ended or broke the protocol (crash, killed by the system)
        NoSandbox,    // the helper could not confine itself and ended at its start
        NotListening, // the helper had ended before it got the request
    };

    struct TTimes {
        int LimitMs = 30000; // the longest a decode may take
        int GraceMs = 500;   // how long a stopped decode may take to end
    };

    // Starts `program` with a memory limit of `memoryLimit` bytes (0: none); null (with
    // the reason in `error`) when it cannot be started.
    [[nodiscard]] static std::unique_ptr<TDecoderProcess>
    Start(const std::string& program, std::uint64_t memoryLimit, QString& error);
    // Kills the helper if it still runs and collects it.
    ~TDecoderProcess();
    TDecoderProcess(const TDecoderProcess&) = delete;
    TDecoderProcess& operator=(const TDecoderProcess&) = delete;

    // Decodes the file open as `fileFd` (not taken) for `request` and fills `result`:
    // the result's status, lists and pixels (mapped from the helper's shared memory) on
    // Done; a reason for the user otherwise. A quick look the helper sends on the way is
    // drawn with the request's Prepare and handed to its Quick.Ready here, on the
    // calling thread. A set `stop` asks the helper to stop and returns at once.
    TOutcome Decode(const TImageLoadRequest& request, int fileFd, const std::atomic<bool>& stop,
                    const TTimes& times, TImageLoadResult& result, QString& reason);

    // After Stopping: waits up to `graceMs` for the helper's answer and drops it; true when
    // it came (the helper may decode again), else the helper is killed.
    [[nodiscard]] bool FinishStop(int graceMs);

    [[nodiscard]] pid_t Pid() const { return m_pid; }
    // The pool's setting this helper was started with (see TDecoderPool::SetProgram).
    std::uint64_t Generation = 0;
    // Kills the helper at once (SIGKILL) and collects it; `reason` tells how it ended.
    void Kill(QString* reason = nullptr);

private:
    TDecoderProcess(pid_t pid, int socket) : m_pid(pid), m_socket(socket) {}
    // Collects an ended (or killed) helper and tells how it ended.
    QString Collect(bool kill);
    void TakeQuickLook(const TImageLoadRequest& request, int fd, const QByteArray& body,
                       const std::atomic<bool>& stop);

    pid_t m_pid = -1;
    int m_socket = -1;
    int m_exitCode = -1;
    std::int32_t m_sequence = 0;
};
