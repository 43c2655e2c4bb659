#pragma once

#include "loading/DecoderProcess.h"
#include "loading/ImageLoadJob.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// The program's decoder helpers: one is kept warm, more are started while others are
// busy, and a helper that crashed, hung or did not stop in time is killed and replaced.
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

private:
    TDecoderPool();
    std::unique_ptr<TDecoderProcess> Take();
    std::unique_ptr<TDecoderProcess> StartOne();
    void GiveBack(std::unique_ptr<TDecoderProcess> helper);

    mutable std::mutex m_mutex;
    std::string m_program;
    TDecoderProcess::TTimes m_times;
    std::vector<std::unique_ptr<TDecoderProcess>> m_idle;
    int m_busy = 0;
    // Set when a helper could not be started or confined: in-process from then on.
    bool m_unavailable = false;
};

// Whether loads are decoded in the program itself (PICTREL_DECODE_IN_PROCESS=1).
[[nodiscard]] bool DecodeInProcess();

// RunImageLoad through a decoder helper where it can take the load: every load but the
// multi-page files whose open handle the program keeps (TIFF, GIF, icons) and the
// formats only the toolkit's readers know. The request's Prepare runs here after the
// pixels have arrived, its quick look as the helper delivers it.
void RunImageLoadIsolated(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                          TImageLoadResult& result);
