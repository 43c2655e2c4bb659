#include "loading/DecoderPool.h"

#include "loading/FreeImageSetup.h"
#include "loading/ImageLimits.h"
#include "loading/SecondaryFormatRegistry.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace {

using enum TImageLoaderProStatus;

// At most this many helpers wait for work; more are ended when they come back.
constexpr std::size_t kMaxIdle = 2;
// Room beyond the loader's memory rule for the helper's libraries, thread stacks and
// allocator arenas, which count against an address-space limit too.
constexpr std::uint64_t kAddressSpaceMargin = std::uint64_t(2) << 30;

std::string DefaultProgram() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "pictrel-decoder";
    return (self.parent_path() / "pictrel-decoder").string();
}

// The loader's rule (three quarters of the available memory) and a margin.
std::uint64_t HelperMemoryLimit() {
    return AvailableMemory() / 4 * 3 + kAddressSpaceMargin;
}

// Loads the program keeps in-process: a multi-page file's handle stays open for its
// holder, and the toolkit's readers need the program's running application.
bool StaysInProcess(const TImageLoadRequest& request) {
    EnsureFreeImage();
    const QByteArray path = QFile::encodeName(request.FileName);
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(path.constData());
    if (fif == FIF_ICO || fif == FIF_TIFF || fif == FIF_GIF) return true;
    return request.UseSecondary &&
           TSecondaryFormatRegistry::Instance().FormatFor(request.FileName) != nullptr;
}

void Fail(TImageLoadResult& result, const QString& reason) {
    result.Bitmap.SetSize(0, 0);
    result.Status = ilError;
    result.ErrorReason = reason;
    if (!reason.isEmpty()) result.InfoList << QStringLiteral("Decoder: %1;").arg(reason);
}

} // namespace

bool DecodeInProcess() {
    static const bool inProcess = qEnvironmentVariable("PICTREL_DECODE_IN_PROCESS") == "1";
    return inProcess;
}

TDecoderPool& TDecoderPool::Instance() {
    static TDecoderPool pool;
    return pool;
}

TDecoderPool::TDecoderPool() : m_program(DefaultProgram()), m_keeper([this] { KeeperLoop(); }) {}

TDecoderPool::~TDecoderPool() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_keeper.join();
}

void TDecoderPool::Post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_all();
}

void TDecoderPool::KeeperLoop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || !m_tasks.empty(); });
            if (m_quit) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

void TDecoderPool::StartSpare() {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty() || m_unavailable) return;
    }
    GiveBack(StartOne());
}

void TDecoderPool::SetProgram(const std::string& path) {
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    m_program = path;
    m_idle.clear();
    m_unavailable = false;
}

void TDecoderPool::SetTimes(const TDecoderProcess::TTimes& times) {
    const std::lock_guard lock(m_mutex);
    m_times = times;
}

TDecoderProcess::TTimes TDecoderPool::Times() const {
    const std::lock_guard lock(m_mutex);
    return m_times;
}

void TDecoderPool::Reset() {
    const std::lock_guard lock(m_mutex);
    ++m_generation;
    m_idle.clear();
    m_unavailable = false;
}

int TDecoderPool::HelperCount() const {
    const std::lock_guard lock(m_mutex);
    return int(m_idle.size()) + m_busy;
}

std::vector<pid_t> TDecoderPool::IdlePids() const {
    const std::lock_guard lock(m_mutex);
    std::vector<pid_t> pids;
    for (const auto& helper : m_idle) pids.push_back(helper->Pid());
    return pids;
}

std::unique_ptr<TDecoderProcess> TDecoderPool::StartOne() {
    std::string program;
    std::uint64_t generation = 0;
    {
        const std::lock_guard lock(m_mutex);
        if (m_unavailable) return nullptr;
        program = m_program;
        generation = m_generation;
    }
    QString error;
    std::unique_ptr<TDecoderProcess> helper =
        TDecoderProcess::Start(program, HelperMemoryLimit(), error);
    const std::lock_guard lock(m_mutex);
    if (!helper) {
        if (generation == m_generation) m_unavailable = true;
        return nullptr;
    }
    helper->Generation = generation;
    return helper;
}

void TDecoderPool::Warm() {
    if (DecodeInProcess()) return;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_idle.empty() || m_unavailable) return;
    }
    GiveBack(StartOne());
}

std::unique_ptr<TDecoderProcess> TDecoderPool::Take() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_unavailable) return nullptr;
        if (!m_idle.empty()) {
            std::unique_ptr<TDecoderProcess> helper = std::move(m_idle.back());
            m_idle.pop_back();
            ++m_busy;
            // The next load (the neighbour's prefetch, say) finds one waiting.
            if (m_idle.empty()) m_tasks.push_back([this] { StartSpare(); });
            m_wake.notify_all();
            return helper;
        }
    }
    // None waits: another starts beside the busy ones.
    std::unique_ptr<TDecoderProcess> helper = StartOne();
    if (helper) {
        const std::lock_guard lock(m_mutex);
        ++m_busy;
    }
    return helper;
}

void TDecoderPool::GiveBack(std::unique_ptr<TDecoderProcess> helper) {
    if (!helper) return;
    const std::lock_guard lock(m_mutex);
    if (m_idle.size() < kMaxIdle && helper->Generation == m_generation)
        m_idle.push_back(std::move(helper));
}

bool TDecoderPool::Run(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                       TImageLoadResult& result) {
    std::unique_ptr<TDecoderProcess> helper = Take();
    if (!helper) return false;
    const auto release = [this](std::unique_ptr<TDecoderProcess> back) {
        {
            const std::lock_guard lock(m_mutex);
            --m_busy;
        }
        GiveBack(std::move(back));
    };

    // The buffer the result brings (the last picture's) goes back to the helper, or is let go.
    result.Status = ilOpening;
    result.ImageKind = TVekImageKind::ikNone;
    result.PageIndex = request.PageIndex;
    if (stop) {
        result.Bitmap.SetSize(0, 0);
        result.Status = ilTerminated;
        release(std::move(helper));
        return true;
    }
    // Opened here, read there. Not blocking on a pipe's writer, and refused unless a
    // regular file, as the in-process load does.
    const int fd = ::open(QFile::encodeName(request.FileName).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) {
        if (fd >= 0) ::close(fd);
        Fail(result, {});
        release(std::move(helper));
        return true;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    QString reason;
    TDecoderProcess::TOutcome outcome = helper->Decode(request, fd, stop, Times(), result, reason);
    if (outcome == TDecoderProcess::TOutcome::NotListening) {
        // A waiting helper that went away (killed by the system, say) costs no picture.
        helper = StartOne();
        outcome = helper ? helper->Decode(request, fd, stop, Times(), result, reason)
                         : TDecoderProcess::TOutcome::Died;
        if (outcome == TDecoderProcess::TOutcome::NotListening)
            outcome = TDecoderProcess::TOutcome::Died;
    }
    ::close(fd);
    if (outcome == TDecoderProcess::TOutcome::NoSandbox) {
        // This system cannot confine the helper: decoding stays in the program.
        helper.reset();
        {
            const std::lock_guard lock(m_mutex);
            --m_busy;
            m_unavailable = true;
            m_idle.clear();
        }
        return false;
    }
    switch (outcome) {
    case TDecoderProcess::TOutcome::Done:
        result.ErrorReason = reason;
        release(std::move(helper));
        return true;
    case TDecoderProcess::TOutcome::Stopping: {
        result.Bitmap.SetSize(0, 0);
        result.Status = ilTerminated;
        // The helper finishes stopping beside the next load; one that does not stop in
        // time is killed and replaced.
        auto stopping = std::make_shared<std::unique_ptr<TDecoderProcess>>(std::move(helper));
        const int grace = Times().GraceMs;
        Post([this, stopping, grace] {
            std::unique_ptr<TDecoderProcess> back = std::move(*stopping);
            if (!back->FinishStop(grace)) back = StartOne();
            {
                const std::lock_guard lock(m_mutex);
                --m_busy;
            }
            GiveBack(std::move(back));
        });
        return true;
    }
    case TDecoderProcess::TOutcome::TimedOut:
    case TDecoderProcess::TOutcome::Died:
    case TDecoderProcess::TOutcome::NotListening:
        Fail(result, reason);
        break;
    case TDecoderProcess::TOutcome::NoSandbox: // handled above
        break;
    }
    // The helper is gone: a fresh one takes its place for the next picture.
    helper.reset();
    {
        const std::lock_guard lock(m_mutex);
        --m_busy;
    }
    Post([this] { StartSpare(); });
    return true;
}

void RunImageLoadIsolated(const TImageLoadRequest& request, const std::atomic<bool>& stop,
                          TImageLoadResult& result) {
    if (DecodeInProcess() || StaysInProcess(request) ||
        !TDecoderPool::Instance().Run(request, stop, result)) {
        RunImageLoad(request, stop, result);
        return;
    }
    if (result.Status != ilSucces || !request.Prepare || stop) return;
    try {
        request.Prepare(result.Bitmap, result.Drawn);
    } catch (...) {
        result.Drawn = TDrawnPicture();
    }
}
