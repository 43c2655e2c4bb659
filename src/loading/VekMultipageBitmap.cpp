#include "loading/VekMultipageBitmap.h"

#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"
#include "loading/ImageSizeProbe.h"
#include "loading/VekImageLoaderPro.h"

#include <QFile>

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <system_error>

namespace {

bool IsMultiPageKind(TVekImageKind kind) {
    return kind == TVekImageKind::ikGif || kind == TVekImageKind::ikTiff ||
           kind == TVekImageKind::ikIcon;
}

// Copies pixels without re-allocating when the size stays, as it does on every frame.
void CopyPixels(TBitmap32& target, const TBitmap32& source) {
    PrepareTarget(target, source.Width(), source.Height());
    if (!source.Empty())
        std::memcpy(target.Bits(), source.Bits(),
                    std::size_t(source.Width()) * std::size_t(source.Height()) * sizeof(TColor32));
}

} // namespace

TVekMultipageBitmap::TVekMultipageBitmap() {
    m_frameTimer.SetEnabled(false);
    m_frameTimer.SetAllowZero(true);
    m_frameTimer.SetThreadPriority(TThreadPriority::tpIdle);
    m_frameTimer.OnTimer = [this](TThreadedTimer&) { FrameTimerTimer(); };
    m_frame.DrawMode = TDrawMode::dmBlend;
    // Porter-Duff over: a frame drawn onto a transparent logical screen keeps its own
    // colours and coverage.
    m_frame.CombineMode = TCombineMode::cmMerge;
}

TVekMultipageBitmap::~TVekMultipageBitmap() {
    *m_alive = false;
    m_frameTimer.SetEnabled(false);
    // The worker writes into members and reads the handle: it must end before they go.
    JoinPrefetch();
}

std::atomic<int> TVekMultipageBitmap::s_guiThreadPageReads{0};

void TVekMultipageBitmap::DecodePage(FIMULTIBITMAP* handle, int index, TDecodedPage& page,
                                     TBitmap32& pixels) noexcept {
    if (IsGuiThread()) ++s_guiThreadPageReads;
    DecodeGifPage(handle, index, page, pixels);
}

TVekMultipageBitmap::TDecodedPage TVekMultipageBitmap::TakePage(int index) {
    JoinPrefetch();
    if (m_next.index != index) DecodePage(m_multiBitmap.get(), index, m_next, m_frame);
    TDecodedPage page = std::move(m_next);
    m_next = TDecodedPage{};
    return page;
}

void TVekMultipageBitmap::StartPrefetch(int index) {
    JoinPrefetch();
    m_next = TDecodedPage{};
    if (!m_multiBitmap || m_imageKind != TVekImageKind::ikGif || m_frameCount <= 1) return;
    try {
        m_prefetch = std::thread([handle = m_multiBitmap.get(), index, &page = m_next,
                                  &pixels = m_frame] { DecodePage(handle, index, page, pixels); });
    } catch (const std::system_error&) {
        // No thread to be had: the tick decodes the page itself.
    }
}

void TVekMultipageBitmap::JoinPrefetch() {
    if (m_prefetch.joinable()) m_prefetch.join();
}

void TVekMultipageBitmap::Assign(TVekImageLoaderPro& source) {
    PICTREL_ASSERT_GUI_THREAD();
    Clear();
    std::unique_ptr<TGifFirstFrame> first = source.TakeGifFirstFrame();
    if (IsMultiPageKind(source.ImageKind())) {
        m_multiBitmap = source.TakeMultiBitmap();
        m_imageKind = source.ImageKind();
        m_path = QFile::encodeName(source.FileName());
        m_format = source.ImageFormat();
        m_frameCount = m_multiBitmap ? FreeImage_GetPageCount(m_multiBitmap.get()) : 0;
        m_frameCount = std::max(0, m_frameCount);
        m_currentIndex = 0;
    }
    AfterAssign(std::move(first));
}

void TVekMultipageBitmap::Assign(TVekMultipageBitmap& source) {
    PICTREL_ASSERT_GUI_THREAD();
    if (&source == this) return;
    Clear();
    // Its worker may still be reading the handle that moves here.
    source.JoinPrefetch();
    if (IsMultiPageKind(source.m_imageKind)) {
        m_multiBitmap = std::move(source.m_multiBitmap);
        m_imageKind = source.m_imageKind;
        m_path = source.m_path;
        m_format = source.m_format;
        m_frameCount = source.m_frameCount;
        // Nothing left there to close; this empties the rest of the source as well.
        source.Clear();
    }
    m_currentIndex = 0;
    AfterAssign(nullptr);
}

void TVekMultipageBitmap::AfterAssign(std::unique_ptr<TGifFirstFrame> first) {
    if (m_multiBitmap && m_imageKind == TVekImageKind::ikGif && m_frameCount > 0) {
        if (first && first->Page.index == 0) {
            // Read by the loader's worker beside the picture: nothing to decode here.
            m_frameBackground = first->Background.value_or(kNoBackgroundColour);
            m_frame.SwapPixels(first->Pixels);
            ComposeFirstFrame(first->Page);
        } else {
            ReadBackground();
            ComposeFirstFrame(TakePage(0));
        }
        // Decodes while the receiver of the event draws frame 0.
        StartPrefetch(1 % m_frameCount);
        FireBitmapChange();
    } else {
        // TIFF and icon pages are served by DrawPage.
        m_composite.SetSize(0, 0);
        m_previousComposite.SetSize(0, 0);
    }
}

void TVekMultipageBitmap::Play() {
    PICTREL_ASSERT_GUI_THREAD();
    if (!m_multiBitmap || m_frameCount <= 1 || m_imageKind != TVekImageKind::ikGif) return;
    m_playing = true;
    m_frameTimer.SetEnabled(true);
}

void TVekMultipageBitmap::Stop() {
    PICTREL_ASSERT_GUI_THREAD();
    m_playing = false;
    m_frameTimer.SetEnabled(false);
    m_currentIndex = 0;
}

void TVekMultipageBitmap::Clear() {
    PICTREL_ASSERT_GUI_THREAD();
    m_playing = false;
    m_frameTimer.SetEnabled(false);
    JoinPrefetch();
    m_next = TDecodedPage{};
    m_multiBitmap.reset();
    m_composite.SetSize(0, 0);
    m_previousComposite.SetSize(0, 0);
    m_frame.SetSize(0, 0);
    m_currentIndex = 0;
    m_frameCount = 0;
    m_imageKind = TVekImageKind::ikNone;
    m_path.clear();
    m_format = FIF_UNKNOWN;
    m_frameBackground = kNoBackgroundColour;
    m_zeroTimeRun = 0;
}

void TVekMultipageBitmap::DrawPage(int index, TBitmap32* target) {
    PICTREL_ASSERT_GUI_THREAD();
    if (target == nullptr || !m_multiBitmap || index < 0 || index >= m_frameCount) return;
    m_currentIndex = index;
    // A page prepared by the worker stays valid, as pages do not change; the next tick
    // uses it only when it wants that index.
    JoinPrefetch();
    // A page whose header claims a huge picture is refused before anything is allocated.
    if (m_imageKind != TVekImageKind::ikGif && !PageWithinLimit(m_format, m_path, index)) {
        target->SetSize(0, 0);
        target->Changed();
        return;
    }
    const TLockedPage page(m_multiBitmap.get(), index);
    // A page that cannot be read or converted leaves the target empty; the viewer
    // still hears of the change and shows that nothing is there.
    if (!ConvertTo32Bits(page.Get(), *target, 0.0f, 0.0f)) target->Changed();
}

void TVekMultipageBitmap::ReadBackground() {
    if (IsGuiThread()) ++s_guiThreadPageReads;
    const TLockedPage page(m_multiBitmap.get(), 0);
    m_frameBackground = GifBackground(page.Get()).value_or(kNoBackgroundColour);
}

void TVekMultipageBitmap::SetFrameTime(std::optional<std::int64_t> value) {
    std::int32_t time = kDefaultFrameTimeMs;
    // A negative time would stop the timer for good; treat it as missing.
    if (value && std::int32_t(*value) >= 0) time = std::int32_t(*value);
    m_zeroTimeRun = time == 0 ? m_zeroTimeRun + 1 : 0;
    if (time == 0 && m_frameCount > 0 && m_zeroTimeRun >= m_frameCount) time = kAllZeroFrameTimeMs;
    m_frameTimer.SetInterval(time);
}

void TVekMultipageBitmap::DrawFrame(const TDecodedPage& page) {
    if (!page.present) return;
    // The conversion's failure surfaces where it would have happened without the worker.
    if (page.error) std::rethrow_exception(page.error);
    // A frame that cannot be converted comes out empty and draws nothing.
    if (!page.converted) return;
    m_composite.Draw(page.left, page.top, m_frame);
}

void TVekMultipageBitmap::ComposeFirstFrame(const TDecodedPage& page) {
    SetFrameTime(page.frameTime);
    int width = page.logicalWidth;
    int height = page.logicalHeight;
    if (width <= 0) width = page.frameWidth;
    if (height <= 0) height = page.frameHeight;
    // Guards against a first page whose header claims a size nothing can hold.
    if (!WithinImageLimit(std::uint64_t(width), std::uint64_t(height))) width = height = 0;
    try {
        PrepareTarget(m_composite, width, height);
        m_composite.Clear(m_frameBackground);
        DrawFrame(page);
        CopyPixels(m_previousComposite, m_composite);
    } catch (const std::bad_alloc&) {
        m_composite.SetSize(0, 0);
        m_previousComposite.SetSize(0, 0);
    }
}

void TVekMultipageBitmap::ComposeNextFrame(const TDecodedPage& page) {
    SetFrameTime(page.frameTime);
    try {
        if (page.disposal == 3) {
            m_composite.SwapPixels(m_previousComposite);
        } else {
            CopyPixels(m_previousComposite, m_composite);
            if (page.disposal == 2) m_composite.Clear(m_frameBackground);
        }
        DrawFrame(page);
    } catch (const std::bad_alloc&) {
        // Only the per-frame conversion allocates; the screen simply keeps what it has.
    }
}

void TVekMultipageBitmap::FireBitmapChange() {
    if (!OnBitmapChange) return;
    TBitmap32 copy;
    try {
        copy = m_composite;
    } catch (const std::bad_alloc&) {
        return; // no frame to hand out; the next one may fit again
    }
    // Call a copy of the handler: it may replace OnBitmapChange or destroy the holder.
    const TMultiPageBitmapChange handler = OnBitmapChange;
    handler(*this, copy);
}

void TVekMultipageBitmap::FrameTimerTimer() {
    PICTREL_ASSERT_GUI_THREAD();
    if (!m_multiBitmap || m_frameCount <= 0) return;
    m_frameTimer.SetEnabled(false);
    if (++m_currentIndex >= m_frameCount) m_currentIndex = 0;
    const TDecodedPage page = TakePage(m_currentIndex);
    if (m_currentIndex == 0)
        ComposeFirstFrame(page);
    else
        ComposeNextFrame(page);
    // Decodes while the receiver of the event draws this frame and the timer waits.
    StartPrefetch((m_currentIndex + 1) % m_frameCount);
    const std::shared_ptr<bool> alive = m_alive;
    FireBitmapChange();
    if (*alive && m_playing) m_frameTimer.SetEnabled(true);
}
