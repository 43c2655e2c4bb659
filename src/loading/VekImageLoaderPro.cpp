#include "loading/VekImageLoaderPro.h"

#include "loading/FreeImageSetup.h"
#include "loading/ImageConversion.h"
#include "loading/ImageInformation.h"
#include "loading/ImageLimits.h"
#include "loading/ImageSizeProbe.h"
#include "loading/JpegDecoder.h"
#include "loading/PsdGuard.h"
#include "loading/RawImageEntry.h"
#include "loading/SecondaryFormatRegistry.h"
#include "loading/ThreadBitmapLoader.h"

#include <QFile>

#include <algorithm>
#include <stdexcept>

namespace {

using enum TImageLoaderProStatus;

constexpr std::int32_t kWorkInterval = 50;

// A failed load; the worker turns it into ilError.
class ELoadFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::int64_t FileSizeOf(const QString& fileName) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    return file.size();
}

TVekImageKind KindOf(FREE_IMAGE_FORMAT format) {
    switch (format) {
    case FIF_GIF:
        return TVekImageKind::ikGif;
    case FIF_TIFF:
        return TVekImageKind::ikTiff;
    case FIF_ICO:
        return TVekImageKind::ikIcon;
    case FIF_PNG:
        return TVekImageKind::ikPng;
    case FIF_JPEG:
        return TVekImageKind::ikJpeg;
    case FIF_BMP:
        return TVekImageKind::ikBmp;
    default:
        return TVekImageKind::ikOther;
    }
}

} // namespace

TVekImageLoaderPro::TVekImageLoaderPro() {
    EnsureFreeImage();
    m_workTimer.SetInterval(kWorkInterval);
    m_workTimer.OnTimer = [this](TThreadedTimer&) { WorkTimerTimer(); };
}

TVekImageLoaderPro::~TVekImageLoaderPro() {
    // Stop delivering first, then stop and wait: no event and no pending restart
    // reaches a loader that is going.
    m_guard.Revoke();
    m_workTimer.SetEnabled(false);
    if (m_worker) {
        m_worker->Terminate();
        m_worker->WaitFor();
        m_worker.reset();
    }
}

void TVekImageLoaderPro::SetPriority(TThreadPriority value) {
    m_priority = value;
    if (Status() == ilOpening && m_worker) m_worker->SetPriority(value);
}

void TVekImageLoaderPro::Open(const QString& FileName, bool FireStart, int PageIndex) {
    if (FireStart && OnStart) OnStart(*this, FileName);
    if (Status() == ilOpening && m_worker) {
        // Only the newest request waits; the running load is told to give up.
        m_worker->Terminate();
        WorkCounter = 0;
        PendingFileName = FileName;
        PendingPageIndex = PageIndex;
        return;
    }
    m_workTimer.SetEnabled(false);
    m_status = ilOpening;
    m_exifList.clear();
    m_iptcList.clear();
    m_xmpList.clear();
    m_geoTiffList.clear();
    m_infoList.clear();
    ReleaseSource();
    if (!m_bitmap.Empty()) {
        // The old pixels become the worker's scratch: the next picture of a camera
        // folder usually has the same size and then needs no fresh 100 MB buffer.
        m_workBitmap.SetSize(0, 0);
        m_workBitmap.SwapPixels(m_bitmap);
    }
    m_fileName = FileName;
    m_pageIndex = PageIndex;

    m_worker = std::make_unique<TThreadBitmapLoader>();
    const TThreadBitmapLoader& worker = *m_worker;
    const TDeliveryGuard::Token token = m_guard.GetToken();
    m_worker->Start(
        m_priority, [this, &worker] { Execute(worker); },
        [this, token] { PostToGuiThread(token, [this] { WorkerFinished(); }); });

    if (FireStart) WorkCounter = 0;
    m_workTimer.SetEnabled(true);
    WorkTimerTimer();
}

void TVekImageLoaderPro::Cancel() {
    if (Status() == ilOpening && m_worker) m_worker->Terminate();
}

void TVekImageLoaderPro::ReleaseSource() {
    ReleaseSingleBitmap();
    m_multiBitmap.reset();
}

void TVekImageLoaderPro::ReleaseSingleBitmap() {
    m_singleBitmap.reset();
}

// The last stop point: a picture decoded for a request that was stopped meanwhile
// is dropped instead of delivered.
TVekImageLoaderPro::TAttempt TVekImageLoaderPro::FinishDecoded(const std::atomic<bool>& stop) {
    Finish();
    if (stop.load()) {
        ReleaseSource();
        m_workBitmap.SetSize(0, 0);
        m_status = ilTerminated;
    }
    return TAttempt::Handled;
}

void TVekImageLoaderPro::WorkTimerTimer() {
    // The timer runs only while a load does.
    m_workTimer.SetEnabled(Status() == ilOpening);
    if (!OnWork) return;
    WorkCounter += 2;
    const int percent = Status() == ilSucces ? 100 : WorkCounter;
    OnWork(*this, std::min(percent, 100));
}

void TVekImageLoaderPro::WorkerFinished() {
    if (m_worker) {
        m_worker->WaitFor();
        m_worker.reset();
    }
    if (!PendingFileName.isEmpty()) {
        m_status = ilNone;
        ReleaseSource();
        const QString fileName = PendingFileName;
        const int pageIndex = PendingPageIndex;
        PendingFileName.clear();
        PendingPageIndex = -1;
        Open(fileName, false, pageIndex);
        return;
    }
    if (Status() != ilSucces) m_workBitmap.SetSize(0, 0);
    const TDeliveryGuard::Token token = m_guard.GetToken();
    switch (Status()) {
    case ilSucces: {
        m_bitmap.SwapPixels(m_workBitmap);
        m_workBitmap.SetSize(0, 0);
        // Handlers may destroy the loader; nothing is touched after that.
        if (const auto handler = OnBitmapChange) handler(*this, m_bitmap);
        if (!token->load()) return;
        if (const auto handler = OnSucces) handler(*this);
        break;
    }
    case ilError:
        if (const auto handler = OnError) handler(*this);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------
// Worker thread. It writes the loader's result fields; the GUI thread reads them only
// after the completion has been delivered.

void TVekImageLoaderPro::Execute(const TThreadBitmapLoader& worker) {
    const std::atomic<bool>& stop = worker.TerminateFlag();
    if (stop.load()) {
        m_status = ilTerminated;
        return;
    }
    m_hasAlpha = false;
    m_status = ilOpening;
    m_imageKind = TVekImageKind::ikNone;
    try {
        const std::int64_t fileSize = FileSizeOf(m_fileName);
        if (LoadRawImage(m_fileName, m_workBitmap, m_settings) == kRawLoaded) {
            m_imageKind = TVekImageKind::ikRaw;
            m_pageCount = 1;
            AddBitmapInfo(fileSize, QStringLiteral("RAW Image format"), m_workBitmap, m_infoList);
            Finish();
            return;
        }
        const QByteArray path = QFile::encodeName(m_fileName);
        if (LoadMultiPage(stop, path, fileSize) == TAttempt::Handled) return;
        if (LoadSingle(stop, path, fileSize) == TAttempt::Handled) return;
        LoadSecondary(fileSize);
    } catch (...) {
        // Nothing leaves the worker: every failure is a status.
        m_workBitmap.SetSize(0, 0);
        m_status = ilError;
    }
}

// Format, kind, transparency, metadata and information lines of a FreeImage bitmap.
void TVekImageLoaderPro::Describe(FIBITMAP* dib, FREE_IMAGE_FORMAT detected,
                                  std::int64_t fileSize) {
    m_imageFormat = detected;
    m_imageKind = KindOf(detected);
    m_hasAlpha = FreeImage_IsTransparent(dib) != FALSE;
    if (FreeImage_GetBPP(dib) > 32) m_imageKind = TVekImageKind::ikHighBitDepth;
    for (const FREE_IMAGE_MDMODEL model :
         {FIMD_EXIF_MAIN, FIMD_EXIF_EXIF, FIMD_EXIF_GPS, FIMD_EXIF_MAKERNOTE, FIMD_EXIF_INTEROP})
        CollectMetadata(dib, m_exifList, model);
    CollectMetadata(dib, m_iptcList, FIMD_IPTC);
    CollectMetadata(dib, m_xmpList, FIMD_XMP);
    CollectMetadata(dib, m_geoTiffList, FIMD_GEOTIFF);
    AddFreeImageInfo(fileSize, m_imageFormat, dib, m_infoList);
}

// Alpha combination and the opacity scan, so the first paint does not pay for it.
void TVekImageLoaderPro::Finish() {
    if (m_combineAlpha && m_hasAlpha) CombineAlphaOver(m_workBitmap, m_settings.BackgroundColor);
    (void)m_workBitmap.IsOpaque();
    m_status = ilSucces;
}

TVekImageLoaderPro::TAttempt TVekImageLoaderPro::LoadMultiPage(const std::atomic<bool>& stop,
                                                               const QByteArray& path,
                                                               std::int64_t fileSize) {
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFilename(path.constData());
    if (fif != FIF_ICO && fif != FIF_TIFF && fif != FIF_GIF) return TAttempt::NotOpened;
    m_multiBitmap.reset(FreeImage_OpenMultiBitmap(fif, path.constData(), FALSE, TRUE, FALSE, 0));
    if (!m_multiBitmap) return TAttempt::NotOpened;
    if (stop.load()) {
        m_multiBitmap.reset();
        m_status = ilTerminated;
        return TAttempt::Handled;
    }
    // A file that only claims the format (no page, or a page that does not decode) goes
    // on to the single-image attempt, which looks at its content.
    const int pageCount = FreeImage_GetPageCount(m_multiBitmap.get());
    if (pageCount <= 0) {
        m_multiBitmap.reset();
        return TAttempt::NotOpened;
    }
    const int pageIndex = std::clamp(m_pageIndex, 0, pageCount - 1);
    if (!PageWithinLimit(fif, path, pageIndex)) {
        m_multiBitmap.reset();
        throw ELoadFailed("picture above the size limit");
    }
    {
        const TLockedPage page(m_multiBitmap.get(), pageIndex);
        if (page.Get() == nullptr || !FreeImage_HasPixels(page.Get())) {
            m_multiBitmap.reset();
            return TAttempt::NotOpened;
        }
        m_pageCount = pageCount;
        m_pageIndex = pageIndex;
        FREE_IMAGE_FORMAT detected = FreeImage_GetFileType(path.constData(), 0);
        if (detected == FIF_UNKNOWN) detected = fif;
        Describe(page.Get(), detected, fileSize);
        if (!ConvertTo32Bits(page.Get(), m_workBitmap, m_settings.ToneMapGamma,
                             m_settings.ToneMapExposure))
            throw ELoadFailed("page cannot be converted");
    }
    return FinishDecoded(stop);
}

TVekImageLoaderPro::TAttempt TVekImageLoaderPro::LoadSingle(const std::atomic<bool>& stop,
                                                            const QByteArray& path,
                                                            std::int64_t fileSize) {
    const FREE_IMAGE_FORMAT detected = FreeImage_GetFileType(path.constData(), 0);
    FREE_IMAGE_FORMAT fif = detected;
    if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.constData());
    if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) return TAttempt::NotOpened;
    if (fif == FIF_JPEG) return LoadJpeg(stop, path, fileSize);
    if (!PictureWithinLimit(fif, path)) throw ELoadFailed("picture above the size limit");
    if (fif == FIF_PSD && !PsdDataIsSound(path)) throw ELoadFailed("damaged Photoshop data");

    m_singleBitmap.reset(FreeImage_Load(fif, path.constData(), 0));
    if (!m_singleBitmap) return TAttempt::NotOpened;
    if (stop.load()) {
        m_singleBitmap.reset();
        m_status = ilTerminated;
        return TAttempt::Handled;
    }
    // Formats without a signature are found by their extension; name that format
    // rather than none.
    Describe(m_singleBitmap.get(), detected != FIF_UNKNOWN ? detected : fif, fileSize);
    if (!ConvertTo32Bits(m_singleBitmap.get(), m_workBitmap, m_settings.ToneMapGamma,
                         m_settings.ToneMapExposure))
        throw ELoadFailed("picture cannot be converted");
    return FinishDecoded(stop);
}

// Header and metadata from FreeImage without pixels, the pixels from libjpeg-turbo
// straight into the bitmap; what the fast decoder refuses goes through FreeImage.
TVekImageLoaderPro::TAttempt TVekImageLoaderPro::LoadJpeg(const std::atomic<bool>& stop,
                                                          const QByteArray& path,
                                                          std::int64_t fileSize) {
    m_singleBitmap.reset(FreeImage_Load(FIF_JPEG, path.constData(), FIF_LOAD_NOPIXELS));
    if (!m_singleBitmap) return TAttempt::NotOpened;
    if (stop.load()) {
        m_singleBitmap.reset();
        m_status = ilTerminated;
        return TAttempt::Handled;
    }
    Describe(m_singleBitmap.get(), FIF_JPEG, fileSize);
    if (!WithinImageLimit(FreeImage_GetWidth(m_singleBitmap.get()),
                          FreeImage_GetHeight(m_singleBitmap.get())))
        throw ELoadFailed("picture above the size limit");

    switch (DecodeJpegPixels(path, m_workBitmap, stop)) {
    case TJpegDecodeResult::Decoded:
        break;
    case TJpegDecodeResult::Stopped:
        m_singleBitmap.reset();
        m_status = ilTerminated;
        return TAttempt::Handled;
    case TJpegDecodeResult::Truncated:
        throw ELoadFailed("JPEG data ends early");
    case TJpegDecodeResult::TooLarge:
        throw ELoadFailed("picture above the size limit");
    case TJpegDecodeResult::Refused: {
        TFreeImagePtr full(FreeImage_Load(FIF_JPEG, path.constData(), 0));
        if (!full) throw ELoadFailed("JPEG cannot be decoded");
        m_singleBitmap = std::move(full);
        m_hasAlpha = FreeImage_IsTransparent(m_singleBitmap.get()) != FALSE;
        if (!ConvertTo32Bits(m_singleBitmap.get(), m_workBitmap, m_settings.ToneMapGamma,
                             m_settings.ToneMapExposure))
            throw ELoadFailed("picture cannot be converted");
        break;
    }
    }
    m_workBitmap.Changed();
    return FinishDecoded(stop);
}

void TVekImageLoaderPro::LoadSecondary(std::int64_t fileSize) {
    TSecondaryFormatRegistry::Instance().Load(m_fileName, m_workBitmap);
    m_imageKind = TVekImageKind::ikOther;
    AddBitmapInfo(fileSize, QStringLiteral("Unknown Image format"), m_workBitmap, m_infoList);
    Finish();
}
