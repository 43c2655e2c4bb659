#include "loading/VekMultipageBitmap.h"

#include "loading/ImageConversion.h"
#include "loading/ImageLimits.h"
#include "loading/VekImageLoaderPro.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

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
}

void TVekMultipageBitmap::Assign(TVekImageLoaderPro& source) {
    Clear();
    if (IsMultiPageKind(source.ImageKind())) {
        m_multiBitmap = source.TakeMultiBitmap();
        m_imageKind = source.ImageKind();
        m_frameCount = m_multiBitmap ? FreeImage_GetPageCount(m_multiBitmap.get()) : 0;
        m_frameCount = std::max(0, m_frameCount);
        m_currentIndex = 0;
    }
    AfterAssign();
}

void TVekMultipageBitmap::Assign(TVekMultipageBitmap& source) {
    if (&source == this) return;
    Clear();
    if (IsMultiPageKind(source.m_imageKind)) {
        m_multiBitmap = std::move(source.m_multiBitmap);
        m_imageKind = source.m_imageKind;
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
        ComposeFirstFrame();
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
    m_multiBitmap.reset();
    m_composite.SetSize(0, 0);
    m_previousComposite.SetSize(0, 0);
    m_frame.SetSize(0, 0);
    m_currentIndex = 0;
    m_frameCount = 0;
    m_imageKind = TVekImageKind::ikNone;
    m_frameBackground = kNoBackgroundColour;
    m_zeroTimeRun = 0;
}

void TVekMultipageBitmap::DrawPage(int index, TBitmap32* target) {
    if (target == nullptr || !m_multiBitmap || index < 0 || index >= m_frameCount) return;
    m_currentIndex = index;
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

void TVekMultipageBitmap::SetFrameTime(FIBITMAP* page) {
    const auto value = AnimationValue(page, "FrameTime");
    std::int32_t time = kDefaultFrameTimeMs;
    // A negative time would stop the timer for good; treat it as missing.
    if (value && std::int32_t(*value) >= 0) time = std::int32_t(*value);
    m_zeroTimeRun = time == 0 ? m_zeroTimeRun + 1 : 0;
    if (time == 0 && m_frameCount > 0 && m_zeroTimeRun >= m_frameCount) time = kAllZeroFrameTimeMs;
    m_frameTimer.SetInterval(time);
}

void TVekMultipageBitmap::DrawFrame(FIBITMAP* page, int left, int top) {
    // A frame that cannot be converted comes out empty and draws nothing.
    if (!ConvertTo32Bits(page, m_frame, 0.0f, 0.0f)) return;
    m_composite.Draw(left, top, m_frame);
}

void TVekMultipageBitmap::ComposeFirstFrame() {
    const TLockedPage page(m_multiBitmap.get(), 0);
    SetFrameTime(page.Get());
    const int frameWidth = page.Get() ? int(FreeImage_GetWidth(page.Get())) : 0;
    const int frameHeight = page.Get() ? int(FreeImage_GetHeight(page.Get())) : 0;
    int width = Signed16(page.Get(), "LogicalWidth", 0);
    int height = Signed16(page.Get(), "LogicalHeight", 0);
    if (width <= 0) width = frameWidth;
    if (height <= 0) height = frameHeight;
    // Guards against a first page whose header claims a size nothing can hold.
    if (!WithinImageLimit(std::uint64_t(width), std::uint64_t(height))) width = height = 0;
    const int left = Signed16(page.Get(), "FrameLeft", 0);
    const int top = Signed16(page.Get(), "FrameTop", 0);
    try {
        PrepareTarget(m_composite, width, height);
        m_composite.Clear(m_frameBackground);
        if (page.Get() != nullptr) DrawFrame(page.Get(), left, top);
        CopyPixels(m_previousComposite, m_composite);
    } catch (const std::bad_alloc&) {
        m_composite.SetSize(0, 0);
        m_previousComposite.SetSize(0, 0);
    }
}

void TVekMultipageBitmap::ComposeNextFrame(int index) {
    const TLockedPage page(m_multiBitmap.get(), index);
    SetFrameTime(page.Get());
    const int left = Signed16(page.Get(), "FrameLeft", 0);
    const int top = Signed16(page.Get(), "FrameTop", 0);
    const auto disposal = AnimationValue(page.Get(), "DisposalMethod").value_or(0);
    try {
        if (disposal == 3) {
            m_composite.SwapPixels(m_previousComposite);
        } else {
            CopyPixels(m_previousComposite, m_composite);
            if (disposal == 2) m_composite.Clear(m_frameBackground);
        }
        if (page.Get() != nullptr) DrawFrame(page.Get(), left, top);
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
    if (m_currentIndex == 0)
        ComposeFirstFrame();
    else
        ComposeNextFrame(m_currentIndex);
    const std::shared_ptr<bool> alive = m_alive;
    FireBitmapChange();
    if (*alive && m_playing) m_frameTimer.SetEnabled(true);
}
