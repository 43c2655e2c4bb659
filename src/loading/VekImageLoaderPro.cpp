#include "loading/VekImageLoaderPro.h"

#include "loading/DecoderPool.h"
#include "loading/EarlyImageLoad.h"
#include "loading/FreeImageSetup.h"
#include "loading/ImageLoadJob.h"
#include "loading/ThreadBitmapLoader.h"

#include <algorithm>

namespace {

using enum TImageLoaderProStatus;

constexpr std::int32_t kWorkInterval = 50;

} // namespace

// One worker run: the request it was given, the result it fills, and its thread. The
// generation tells the completion of this run from that of any other.
struct TVekImageLoaderPro::TLoadJob {
    std::uint64_t Generation = 0;
    TImageLoadRequest Request;
    TImageLoadResult Result;
    TThreadBitmapLoader Thread; // last: joined before the request and result go
};

TVekImageLoaderPro::TVekImageLoaderPro() {
    EnsureFreeImage();
    m_workTimer.SetInterval(kWorkInterval);
    m_workTimer.OnTimer = [this](TThreadedTimer&) { WorkTimerTimer(); };
}

TVekImageLoaderPro::~TVekImageLoaderPro() {
    PICTREL_ASSERT_GUI_THREAD();
    // Stop delivering first, then stop and wait: no event and no pending restart
    // reaches a loader that is going.
    m_guard.Revoke();
    m_workTimer.SetEnabled(false);
    if (m_job) {
        m_job->Thread.Terminate();
        m_job->Thread.WaitFor();
        m_job.reset();
    }
}

void TVekImageLoaderPro::SetPriority(TThreadPriority value) {
    m_priority = value;
    if (m_job) m_job->Thread.SetPriority(value);
}

void TVekImageLoaderPro::Open(const QString& FileName, bool FireStart, int PageIndex) {
    PICTREL_ASSERT_GUI_THREAD();
    if (FireStart && OnStart) OnStart(*this, FileName);
    m_cancelled = false;
    if (m_job) {
        // Only the newest request waits; the running load is told to give up.
        m_job->Thread.Terminate();
        WorkCounter = 0;
        m_pending = true;
        PendingFileName = FileName;
        PendingPageIndex = PageIndex;
        return;
    }
    m_workTimer.SetEnabled(false);
    m_status = ilOpening;
    m_hasAlpha = false;
    m_imageKind = TVekImageKind::ikNone;
    m_exifList.clear();
    m_iptcList.clear();
    m_xmpList.clear();
    m_geoTiffList.clear();
    m_infoList.clear();
    m_errorReason.clear();
    ReleaseSource();
    if (!m_bitmap.Empty()) {
        m_spareBitmap.SetSize(0, 0);
        m_spareBitmap.SwapPixels(m_bitmap);
    }
    m_fileName = FileName;
    m_pageIndex = PageIndex;
    StartWorker();

    if (FireStart) WorkCounter = 0;
    m_workTimer.SetEnabled(true);
    WorkTimerTimer();
}

bool TVekImageLoaderPro::Loading(const QString& FileName, int PageIndex) const {
    if (!m_job || m_cancelled) return false;
    return m_pending ? PendingFileName == FileName && PendingPageIndex == PageIndex
                     : m_fileName == FileName && m_pageIndex == PageIndex;
}

void TVekImageLoaderPro::StartWorker() {
    auto job = std::make_unique<TLoadJob>();
    job->Generation = ++m_generation;
    job->Request.FileName = m_fileName;
    job->Request.PageIndex = m_pageIndex;
    job->Request.CombineAlpha = m_combineAlpha;
    job->Request.Settings = m_settings;
    if (PreparePicture) job->Request.Prepare = PreparePicture(m_fileName);
    job->Result.Bitmap = std::move(m_spareBitmap);
    m_job = std::move(job);

    TLoadJob& run = *m_job;
    const TDeliveryGuard::Token token = m_guard.GetToken();
    const std::uint64_t generation = run.Generation;
    run.Thread.Start(
        m_priority,
        [&run] {
            if (!TEarlyImageLoad::Take(run.Request, run.Thread.TerminateFlag(), run.Result))
                RunImageLoadIsolated(run.Request, run.Thread.TerminateFlag(), run.Result);
        },
        [this, token, generation] {
            PostToGuiThread(token, [this, generation] { WorkerFinished(generation); });
        });
}

void TVekImageLoaderPro::Cancel() {
    PICTREL_ASSERT_GUI_THREAD();
    m_cancelled = true;
    if (m_job) m_job->Thread.Terminate();
}

void TVekImageLoaderPro::ReleaseSource() {
    PICTREL_ASSERT_GUI_THREAD();
    ReleaseSingleBitmap();
    m_multiBitmap.reset();
    m_gifFirstFrame.reset();
}

void TVekImageLoaderPro::ReleaseSingleBitmap() {
    m_singleBitmap.reset();
}

void TVekImageLoaderPro::WorkTimerTimer() {
    // The timer runs only while a load does.
    m_workTimer.SetEnabled(Status() == ilOpening);
    if (!OnWork) return;
    WorkCounter += 2;
    const int percent = Status() == ilSucces ? 100 : WorkCounter;
    OnWork(*this, std::min(percent, 100));
}

void TVekImageLoaderPro::WorkerFinished(std::uint64_t generation) {
    PICTREL_ASSERT_GUI_THREAD();
    if (!m_job || m_job->Generation != generation) return;
    std::unique_ptr<TLoadJob> job = std::move(m_job);
    // The worker posted this completion as its last act, so the join is immediate.
    job->Thread.WaitFor();
    TImageLoadResult& result = job->Result;
    if (m_pending) {
        m_status = ilNone;
        ReleaseSource();
        // The next load starts at once: it may reuse this run's buffer.
        if (!result.Bitmap.Empty()) m_spareBitmap = std::move(result.Bitmap);
        const QString fileName = PendingFileName;
        const int pageIndex = PendingPageIndex;
        m_pending = false;
        PendingFileName.clear();
        PendingPageIndex = -1;
        Open(fileName, false, pageIndex);
        return;
    }

    // A stop request that came after the worker's last stop point still counts.
    const TImageLoaderProStatus status = job->Thread.Terminated() ? ilTerminated : result.Status;
    if (status == ilSucces || status == ilError) {
        m_hasAlpha = result.HasAlpha;
        m_imageKind = result.ImageKind;
        m_imageFormat = result.ImageFormat;
        m_pageIndex = result.PageIndex;
        if (result.PageCount) m_pageCount = *result.PageCount;
        m_exifList = std::move(result.ExifList);
        m_iptcList = std::move(result.IptcList);
        m_xmpList = std::move(result.XmpList);
        m_geoTiffList = std::move(result.GeoTiffList);
        m_infoList = std::move(result.InfoList);
        m_errorReason = std::move(result.ErrorReason);
    }
    if (status == ilSucces) {
        m_multiBitmap = std::move(result.MultiBitmap);
        m_gifFirstFrame = std::move(result.GifFirstFrame);
        m_singleBitmap = std::move(result.SingleBitmap);
        m_bitmap.SwapPixels(result.Bitmap);
        m_drawn = std::move(result.Drawn);
    }
    job.reset(); // what was not taken over goes before the handlers run
    m_status = status;

    const TDeliveryGuard::Token token = m_guard.GetToken();
    switch (status) {
    case ilSucces:
        // Handlers may destroy the loader; nothing is touched after that.
        if (const auto handler = OnBitmapChange) handler(*this, m_bitmap);
        if (!token->load()) return;
        if (const auto handler = OnSucces) handler(*this);
        break;
    case ilError:
        if (const auto handler = OnError) handler(*this);
        break;
    default:
        break;
    }
}
