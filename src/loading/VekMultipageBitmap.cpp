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

// An integer tag of the animation model, whatever integer type the file gave it.
std::optional<std::int64_t> AnimationValue(FIBITMAP* page, const char* key) {
    FITAG* tag = nullptr;
    if (page == nullptr || !FreeImage_GetMetadata(FIMD_ANIMATION, page, key, &tag) ||
        tag == nullptr || FreeImage_GetTagCount(tag) < 1)
        return std::nullopt;
    const void* value = FreeImage_GetTagValue(tag);
    if (value == nullptr) return std::nullopt;
    const auto length = FreeImage_GetTagLength(tag);
    auto read = [&](auto sample) -> std::optional<std::int64_t> {
        if (length < sizeof(sample)) return std::nullopt;
        std::memcpy(&sample, value, sizeof(sample));
        return std::int64_t(sample);
    };
    switch (FreeImage_GetTagType(tag)) {
    case FIDT_BYTE:
        return read(std::uint8_t{});
    case FIDT_SBYTE:
        return read(std::int8_t{});
    case FIDT_SHORT:
        return read(std::uint16_t{});
    case FIDT_SSHORT:
        return read(std::int16_t{});
    case FIDT_LONG:
        return read(std::uint32_t{});
    case FIDT_SLONG:
        return read(std::int32_t{});
    default:
        return std::nullopt;
    }
}

// The 16-bit signed keys: a GIF stores them unsigned, so the low 16 bits are taken
// as two's complement.
int Signed16(FIBITMAP* page, const char* key, int fallback) {
    const auto value = AnimationValue(page, key);
    return value ? int(std::int16_t(std::uint16_t(*value & 0xFFFF))) : fallback;
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

void TVekMultipageBitmap::DecodePage(FIMULTIBITMAP* handle, int index, TDecodedPage& page,
                                     TBitmap32& pixels) noexcept {
    page = TDecodedPage{};
    page.index = index;
    try {
        const TLockedPage locked(handle, index);
        FIBITMAP* dib = locked.Get();
        page.present = dib != nullptr;
        page.frameTime = AnimationValue(dib, "FrameTime");
        page.left = Signed16(dib, "FrameLeft", 0);
        page.top = Signed16(dib, "FrameTop", 0);
        page.disposal = AnimationValue(dib, "DisposalMethod").value_or(0);
        page.logicalWidth = Signed16(dib, "LogicalWidth", 0);
        page.logicalHeight = Signed16(dib, "LogicalHeight", 0);
        if (dib != nullptr) {
            page.frameWidth = int(FreeImage_GetWidth(dib));
            page.frameHeight = int(FreeImage_GetHeight(dib));
            page.converted = ConvertTo32Bits(dib, pixels, 0.0f, 0.0f);
        }
    } catch (...) {
        page.converted = false;
        page.error = std::current_exception();
    }
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
    Clear();
    if (IsMultiPageKind(source.ImageKind())) {
        m_multiBitmap = source.TakeMultiBitmap();
        m_imageKind = source.ImageKind();
        m_path = QFile::encodeName(source.FileName());
        m_format = source.ImageFormat();
        m_frameCount = m_multiBitmap ? FreeImage_GetPageCount(m_multiBitmap.get()) : 0;
        m_frameCount = std::max(0, m_frameCount);
        m_currentIndex = 0;
    }
    AfterAssign();
}

void TVekMultipageBitmap::Assign(TVekMultipageBitmap& source) {
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
    AfterAssign();
}

void TVekMultipageBitmap::AfterAssign() {
    if (m_multiBitmap && m_imageKind == TVekImageKind::ikGif && m_frameCount > 0) {
        ReadBackground();
        ComposeFirstFrame(TakePage(0));
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
    if (!m_multiBitmap || m_frameCount <= 1 || m_imageKind != TVekImageKind::ikGif) return;
    m_playing = true;
    m_frameTimer.SetEnabled(true);
}

void TVekMultipageBitmap::Stop() {
    m_playing = false;
    m_frameTimer.SetEnabled(false);
    m_currentIndex = 0;
}

void TVekMultipageBitmap::Clear() {
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
    m_frameBackground = kNoBackgroundColour;
    const TLockedPage page(m_multiBitmap.get(), 0);
    if (page.Get() == nullptr) return;
    RGBQUAD colour{};
    if (!FreeImage_GetBackgroundColor(page.Get(), &colour)) return;
    if (FreeImage_GetBPP(page.Get()) == 8) {
        const RGBQUAD* palette = FreeImage_GetPalette(page.Get());
        if (palette != nullptr && colour.rgbReserved < FreeImage_GetColorsUsed(page.Get()))
            colour = palette[colour.rgbReserved];
    }
    m_frameBackground = Color32(colour.rgbRed, colour.rgbGreen, colour.rgbBlue, 255);
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
