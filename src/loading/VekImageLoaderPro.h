#pragma once

#include "app/GuiThread.h"
#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "gfx/BitmapOps.h"
#include "loading/FreeImagePtr.h"
#include "loading/GifFrame.h"
#include "loading/VekImageKind.h"
#include "loading/VekImageSettings.h"
#include "platform/ThreadPriority.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

// Turns one image file into one 32-bit bitmap on a worker thread, without blocking the
// window that owns it.
//
// `Open` starts a load (see RunImageLoad for the decoders and their order). Results
// are delivered on the GUI thread: `OnBitmapChange` and `OnSucces`, or `OnError`; a
// stopped load delivers nothing. A request while a load runs stops that load and
// waits; of several such requests only the newest is started.
//
// The worker never writes the loader: it fills a result of its own from a copy of the
// request (file, page, settings, alpha combination) taken by `Open`. Whether a load runs
// is the GUI thread's own knowledge (a worker whose completion has not run yet), and
// the completion takes the result over into `Bitmap`, the lists, the kind and the
// handles, then publishes `Status` last. So `Status` stays ilOpening until the
// completion runs, and the results may be read from the completion events onwards.
class TVekImageLoaderPro {
public:
    using TImageLoaderStart =
        std::function<void(TVekImageLoaderPro& Sender, const QString& FileName)>;
    using TImageLoaderWork = std::function<void(TVekImageLoaderPro& Sender, int Percent)>;
    using TImageLodaerBitmapChange =
        std::function<void(TVekImageLoaderPro& Sender, TBitmap32& Bitmap)>;
    using TNotifyEvent = std::function<void(TVekImageLoaderPro& Sender)>;

    TVekImageLoaderPro();
    // Stops a running load and waits for it; nothing is delivered afterwards.
    ~TVekImageLoaderPro();
    TVekImageLoaderPro(const TVekImageLoaderPro&) = delete;
    TVekImageLoaderPro& operator=(const TVekImageLoaderPro&) = delete;

    [[nodiscard]] TImageLoaderProStatus Status() const { return m_status; }

    [[nodiscard]] TThreadPriority Priority() const { return m_priority; }
    // Also changes the running worker's priority.
    void SetPriority(TThreadPriority value);

    [[nodiscard]] bool HasAlpha() const { return m_hasAlpha; }
    void SetHasAlpha(bool value) { m_hasAlpha = value; }
    [[nodiscard]] bool CombineAlpha() const { return m_combineAlpha; }
    void SetCombineAlpha(bool value) { m_combineAlpha = value; }

    // Asked on the GUI thread as each load starts; the work it returns runs on the
    // worker after a successful decode (see TImageLoadRequest::Prepare) and leaves its
    // drawing in Drawn().
    std::function<std::function<void(TBitmap32&, TDrawnPicture&)>(const QString& FileName)>
        PreparePicture;

    TImageLoaderStart OnStart;
    TNotifyEvent OnSucces;
    TNotifyEvent OnError;
    TImageLoaderWork OnWork;
    TImageLodaerBitmapChange OnBitmapChange;

    // Starts loading `FileName` (page `PageIndex` of a multi-page file). Owners pass
    // FireStart = true; false is for the loader's own restart of a waiting request.
    void Open(const QString& FileName, bool FireStart = true, int PageIndex = 0);
    // Whether the newest request, running or waiting for the running one to stop, is
    // page `PageIndex` of `FileName`.
    [[nodiscard]] bool Loading(const QString& FileName, int PageIndex) const;
    // Asks a running load to stop; it ends in ilTerminated without an event, even when
    // its worker had already finished the picture.
    void Cancel();
    // ReleaseSingleBitmap, then closes MultiBitmap.
    void ReleaseSource();
    // Unloads SingleBitmap at once.
    void ReleaseSingleBitmap();

    [[nodiscard]] const QString& FileName() const { return m_fileName; }
    [[nodiscard]] TBitmap32& Bitmap() { return m_bitmap; }
    [[nodiscard]] const TBitmap32& Bitmap() const { return m_bitmap; }
    // The last successful load's prepared drawing (empty when none was made).
    [[nodiscard]] TDrawnPicture& Drawn() { return m_drawn; }
    [[nodiscard]] TVekImageSettings& Settings() { return m_settings; }
    [[nodiscard]] const TVekImageSettings& Settings() const { return m_settings; }
    [[nodiscard]] TVekImageKind ImageKind() const { return m_imageKind; }
    [[nodiscard]] FREE_IMAGE_FORMAT ImageFormat() const { return m_imageFormat; }
    [[nodiscard]] int PageIndex() const { return m_pageIndex; }
    [[nodiscard]] int PageCount() const { return m_pageCount; }
    [[nodiscard]] const QStringList& ExifList() const { return m_exifList; }
    [[nodiscard]] const QStringList& IptcList() const { return m_iptcList; }
    [[nodiscard]] const QStringList& XmpList() const { return m_xmpList; }
    [[nodiscard]] const QStringList& GeoTiffList() const { return m_geoTiffList; }
    [[nodiscard]] const QStringList& InfoList() const { return m_infoList; }
    // Why the last load failed beyond an unreadable file ("the decoder stopped ..."), or empty.
    [[nodiscard]] const QString& ErrorReason() const { return m_errorReason; }

    // The open multi-page handle of the last load (ICO, TIFF, GIF), or null.
    [[nodiscard]] FIMULTIBITMAP* MultiBitmap() const { return m_multiBitmap.get(); }
    // Hands the handle over to the multi-page holder; the loader's becomes null.
    [[nodiscard]] TFreeImageMultiPtr TakeMultiBitmap() { return std::move(m_multiBitmap); }
    // A GIF load's first frame as the worker read it, for the holder; null otherwise.
    [[nodiscard]] std::unique_ptr<TGifFirstFrame> TakeGifFirstFrame() {
        return std::move(m_gifFirstFrame);
    }
    // The FreeImage bitmap of the last single-image load (for a JPEG, the header
    // without pixels), or null.
    [[nodiscard]] FIBITMAP* SingleBitmap() const { return m_singleBitmap.get(); }

    // The 50 ms progress timer.
    [[nodiscard]] TThreadedTimer& WorkTimer() { return m_workTimer; }

private:
    struct TLoadJob;

    void StartWorker();
    void WorkTimerTimer();
    void WorkerFinished(std::uint64_t generation);

    TImageLoaderProStatus m_status = TImageLoaderProStatus::ilNone;
    TThreadPriority m_priority = TThreadPriority::tpNormal;
    bool m_hasAlpha = false;
    bool m_combineAlpha = false;

    QString m_fileName;
    TBitmap32 m_bitmap;
    TDrawnPicture m_drawn;
    // Pixels of an earlier picture, handed to the next worker as its buffer: the next
    // picture of a camera folder usually has the same size and then needs no fresh
    // 100 MB allocation.
    TBitmap32 m_spareBitmap;
    TVekImageSettings m_settings;
    TVekImageKind m_imageKind = TVekImageKind::ikNone;
    FREE_IMAGE_FORMAT m_imageFormat = FIF_UNKNOWN;
    int m_pageIndex = -1;
    int m_pageCount = 0;
    QStringList m_exifList, m_iptcList, m_xmpList, m_geoTiffList, m_infoList;
    QString m_errorReason;
    TFreeImageMultiPtr m_multiBitmap;
    std::unique_ptr<TGifFirstFrame> m_gifFirstFrame;
    TFreeImagePtr m_singleBitmap;

    // The running load, from Open until its completion has run; null when none runs.
    std::unique_ptr<TLoadJob> m_job;
    std::uint64_t m_generation = 0;
    // A request that waits for the running load to give up (an empty name is a request too).
    bool m_pending = false;
    // Cancel was called since the last Open: nothing running or waiting will deliver.
    bool m_cancelled = false;
    QString PendingFileName;
    int PendingPageIndex = -1;
    int WorkCounter = 0;
    TThreadedTimer m_workTimer;
    TDeliveryGuard m_guard;
};
