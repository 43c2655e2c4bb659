#pragma once

#include "loading/DecoderProcess.h"
#include "loading/ImageLoadJob.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The program's decoder helpers: one is kept warm, a spare is started in the background
// while the others are busy, and a helper that crashed, hung or did not stop in time is
// killed and replaced. A stopped decode returns at once; its helper finishes stopping
// (or is killed after a grace) on the pool's own thread.
// Loads run in a helper unless in-process decoding is switched on
// (PICTREL_DECODE_IN_PROCESS=1) or no helper can be started, which falls back to
// decoding in the program itself.
class TDecoderPool {
public:
    // The process-wide pool; its helpers end with the program.
    static TDecoderPool& Instance();

    // The helper's executable; by default "pictrel-decoder" beside the running program.
    void SetProgram(const std::string& path);
    // The longest a decode may run before its helper is killed (default 30 s), and how
    // long a stopped decode may take to end (default 150 ms).
    void SetTimes(const TDecoderProcess::TTimes& times);
    [[nodiscard]] TDecoderProcess::TTimes Times() const;
    // Forget that helpers could not be started (tests).
    void Reset();

    // Starts a helper now, unless one waits already (program start).
    void Warm();

    // Runs `request` in a helper into `result`; false when no helper can be had, and the
    // caller decodes in-process. A crashed, hung or overlong decode ends in ilError with
    // the reason in result.ErrorReason; a stopped one in ilTerminated.
    [[nodiscard]] bool Run(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                           TImageLoadResult& result);

    // Helpers running now (waiting or decoding), for tests.
    [[nodiscard]] int HelperCount() const;
    // Pids of the helpers waiting for work (tests).
    [[nodiscard]] std::vector<pid_t> IdlePids() const;

    // Ends the helpers (they would end with the program anyway).
    ~TDecoderPool();
    TDecoderPool(const TDecoderPool&) = delete;
    TDecoderPool& operator=(const TDecoderPool&) = delete;

private:
    TDecoderPool();
    // Runs `task` on the pool's thread, which starts spares and finishes stopped decodes
    // so that no load waits for them.
    void Post(std::function<void()> task);
    void KeeperLoop();
    void StartSpare();
    std::unique_ptr<TDecoderProcess> Take();
    std::unique_ptr<TDecoderProcess> StartOne();
    void GiveBack(std::unique_ptr<TDecoderProcess> helper);

    mutable std::mutex m_mutex;
    std::string m_program;
    TDecoderProcess::TTimes m_times;
    std::vector<std::unique_ptr<TDecoderProcess>> m_idle;
    int m_busy = 0;
    // Counts the changes of program and the resets: helpers started before one are not
    // kept.
    std::uint64_t m_generation = 0;
    // Set when a helper could not be started or confined: in-process from then on.
    bool m_unavailable = false;
    std::deque<std::function<void()>> m_tasks;
    bool m_quit = false;
    std::condition_variable m_wake;
    std::thread m_keeper; // last: started once the rest is there
};

// Whether loads are decoded in the program itself (PICTREL_DECODE_IN_PROCESS=1).
[[nodiscard]] bool DecodeInProcess();

// RunImageLoad through a decoder helper where it can take the load: every load but the
// multi-page files whose open handle the program keeps (TIFF, GIF, icons) and the
// formats only the toolkit's readers know. The request's Prepare runs here after the
// pixels have arrived, its quick look as the helper delivers it.
void RunImageLoadIsolated(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                          TImageLoadResult& result);
