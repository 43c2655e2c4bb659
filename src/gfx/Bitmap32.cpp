#include "gfx/Bitmap32.h"

#include "gfx/BlendOps.h"
#include "gfx/Resampler.h"
#include "gfx/Transform.h"

#include <QImage>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include <sys/mman.h>

namespace {

constexpr std::align_val_t kBitsAlignment{64};

} // namespace

// Blocks from this size on are mapped in huge pages: the first write to a fresh
// 96 MB picture otherwise takes some 25,000 page faults, which cost more than
// decoding the picture (300 ms against 40 ms for a 24-megapixel JPEG here).
constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kMapFrom = std::size_t(4) << 20;

namespace {

std::atomic<const TBitmapMemory*> g_bitmapMemory{nullptr};

} // namespace

void SetBitmapMemory(const TBitmapMemory* memory) {
    g_bitmapMemory.store(memory);
}

void TBitmap32::FreeBits::operator()(TColor32* p) const noexcept {
    if (Mapped != 0) {
        if (const TBitmapMemory* memory = g_bitmapMemory.load())
            memory->Unmap(p, Mapped);
        else
            ::munmap(p, Mapped);
    } else {
        ::operator delete[](p, kBitsAlignment);
    }
}

namespace {

// Zero-filled memory for `bytes`, aligned to a huge page and marked for huge pages
// (where the system leaves that choice to the program); null when it cannot be mapped.
TColor32* MapBits(std::size_t bytes, std::size_t& mapped) {
    const std::size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* raw = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    if (const std::size_t tail = kHugePage - (aligned - start); tail > 0)
        ::munmap(reinterpret_cast<void*>(aligned + length), tail);
    ::madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
    mapped = length;
    return reinterpret_cast<TColor32*>(aligned);
}

} // namespace

TBitmap32::TBitmap32(int width, int height) {
    SetSize(width, height);
}

TBitmap32::TBitmap32(const TBitmap32& other) {
    Assign(other);
}

TBitmap32& TBitmap32::operator=(const TBitmap32& other) {
    if (this != &other) Assign(other);
    return *this;
}

TBitmap32::TBitmap32(TBitmap32&& other) noexcept
    : m_bits(std::move(other.m_bits)), m_width(other.m_width), m_height(other.m_height),
      m_clip(other.m_clip), m_opacity(other.m_opacity) {
    CopyProperties(other);
    other.m_width = other.m_height = 0;
    other.m_clip = {};
    other.m_opacity = Opacity::Unknown;
}

TBitmap32& TBitmap32::operator=(TBitmap32&& other) noexcept {
    if (this == &other) return *this;
    m_bits = std::move(other.m_bits);
    m_width = std::exchange(other.m_width, 0);
    m_height = std::exchange(other.m_height, 0);
    m_clip = std::exchange(other.m_clip, TRect{});
    m_opacity = std::exchange(other.m_opacity, Opacity::Unknown);
    CopyProperties(other);
    other.Changed();
    Changed();
    return *this;
}

void TBitmap32::CopyProperties(const TBitmap32& other) {
    OuterColor = other.OuterColor;
    DrawMode = other.DrawMode;
    CombineMode = other.CombineMode;
    MasterAlpha = other.MasterAlpha;
    Resampler = other.Resampler;
}

void TBitmap32::Assign(const TBitmap32& other) {
    if (this == &other) return;
    BeginUpdate();
    SetSize(other.m_width, other.m_height);
    if (!other.Empty())
        std::memcpy(m_bits.get(), other.m_bits.get(),
                    std::size_t(m_width) * m_height * sizeof(TColor32));
    CopyProperties(other);
    m_clip = other.m_clip;
    m_opacity = other.m_opacity;
    Changed();
    EndUpdate();
}

void TBitmap32::SwapPixels(TBitmap32& other) noexcept {
    std::swap(m_bits, other.m_bits);
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    std::swap(m_clip, other.m_clip);
    std::swap(m_opacity, other.m_opacity);
    other.Changed();
    Changed();
}

void TBitmap32::SetSize(int width, int height) {
    if (width <= 0 || height <= 0) width = height = 0;
    bool fresh = false;
    if (width != m_width || height != m_height) {
        const std::size_t count = std::size_t(width) * std::size_t(height);
        if (count > std::numeric_limits<std::size_t>::max() / sizeof(TColor32) / 2)
            throw std::bad_alloc();
        m_bits.reset();
        m_width = m_height = 0;
        if (count > 0) {
            const std::size_t bytes = count * sizeof(TColor32);
            std::size_t mapped = 0;
            TColor32* bits = nullptr;
            if (bytes >= kMapFrom) {
                const TBitmapMemory* memory = g_bitmapMemory.load();
                bits = memory != nullptr && memory->Map != nullptr ? memory->Map(bytes, mapped)
                                                                   : MapBits(bytes, mapped);
            }
            if (bits == nullptr)
                bits = static_cast<TColor32*>(::operator new[](bytes, kBitsAlignment));
            m_bits = std::unique_ptr<TColor32[], FreeBits>(bits, FreeBits{mapped});
            m_width = width;
            m_height = height;
            // Freshly mapped memory is zero already; writing it would fault every page in.
            if (mapped != 0) fresh = true;
        }
    }
    if (m_bits && !fresh)
        std::memset(m_bits.get(), 0, std::size_t(m_width) * m_height * sizeof(TColor32));
    m_opacity = Opacity::Unknown;
    ResetClipRect();
    Changed();
}

void TBitmap32::AdoptMapping(TColor32* bits, std::size_t length, int width, int height,
                             std::optional<bool> opaque) {
    m_bits = std::unique_ptr<TColor32[], FreeBits>(bits, FreeBits{length});
    m_width = width;
    m_height = height;
    m_opacity = !opaque ? Opacity::Unknown : *opaque ? Opacity::Opaque : Opacity::Translucent;
    ResetClipRect();
    Changed();
}

void TBitmap32::Clear(TColor32 colour) {
    const std::size_t count = std::size_t(m_width) * m_height;
    TColor32* p = m_bits.get();
    for (std::size_t i = 0; i < count; ++i) p[i] = colour;
    m_opacity = AlphaOf(colour) == 255 ? Opacity::Opaque : Opacity::Translucent;
    if (count == 0) m_opacity = Opacity::Unknown;
    Changed();
}

void TBitmap32::EndUpdate() {
    if (m_updateCount > 0 && --m_updateCount == 0 && m_changedWhileUpdating) {
        m_changedWhileUpdating = false;
        Changed();
    }
}

void TBitmap32::Changed() {
    if (m_updateCount > 0) {
        m_changedWhileUpdating = true;
        return;
    }
    if (OnChange) {
        // A handler may replace OnChange; keep the one being called alive.
        const auto handler = OnChange;
        handler(*this);
    }
}

bool TBitmap32::IsOpaque() const {
    if (m_opacity == Opacity::Unknown) {
        const std::size_t count = std::size_t(m_width) * m_height;
        const TColor32* p = m_bits.get();
        // AND all words in blocks so the loop vectorises; stop at the first block that fails.
        bool opaque = count > 0;
        std::size_t i = 0;
        for (; opaque && i + 64 <= count; i += 64) {
            TColor32 acc = 0xFFFFFFFFu;
            for (std::size_t k = 0; k < 64; ++k) acc &= p[i + k];
            opaque = (acc >> 24) == 0xFF;
        }
        for (; opaque && i < count; ++i) opaque = (p[i] >> 24) == 0xFF;
        m_opacity = opaque ? Opacity::Opaque : Opacity::Translucent;
    }
    return m_opacity == Opacity::Opaque;
}

void TBitmap32::SetPixelTS(int x, int y, TColor32 c) {
    if (!m_clip.Contains(x, y)) return;
    TColor32& d = ScanLine(y)[x];
    d = CombineMode == TCombineMode::cmMerge ? MergeOver(c, d) : BlendDraw(c, d);
}

void TBitmap32::FillRect(const TRect& r, TColor32 colour) {
    const TRect a = Intersect(r, m_clip);
    if (a.IsEmpty()) return;
    for (int y = a.Top; y < a.Bottom; ++y) {
        TColor32* row = ScanLine(y);
        for (int x = a.Left; x < a.Right; ++x) row[x] = colour;
    }
    Changed();
}

void TBitmap32::FillRectTS(const TRect& r, TColor32 colour) {
    const TRect a = Intersect(r, m_clip);
    if (a.IsEmpty() || AlphaOf(colour) == 0) return;
    for (int y = a.Top; y < a.Bottom; ++y) {
        TColor32* row = ScanLine(y) + a.Left;
        if (CombineMode == TCombineMode::cmMerge)
            MergeOverFill(row, colour, std::size_t(a.Width()));
        else
            BlendDrawFill(row, colour, std::size_t(a.Width()));
    }
    Changed();
}

void TBitmap32::FrameRectTS(const TRect& r, TColor32 colour) {
    if (r.IsEmpty() || AlphaOf(colour) == 0) return;
    BeginUpdate();
    FillRectTS({r.Left, r.Top, r.Right, r.Top + 1}, colour);
    if (r.Height() > 1) FillRectTS({r.Left, r.Bottom - 1, r.Right, r.Bottom}, colour);
    if (r.Height() > 2) {
        FillRectTS({r.Left, r.Top + 1, r.Left + 1, r.Bottom - 1}, colour);
        if (r.Width() > 1) FillRectTS({r.Right - 1, r.Top + 1, r.Right, r.Bottom - 1}, colour);
    }
    EndUpdate();
}

void ComposeRow(TColor32* dst, const TColor32* src, int n, TDrawMode mode, TCombineMode combine,
                int masterAlpha) {
    if (n <= 0) return;
    if (mode == TDrawMode::dmOpaque)
        std::memmove(dst, src, std::size_t(n) * sizeof(TColor32));
    else if (combine == TCombineMode::cmMerge)
        MergeOverRow(dst, src, std::size_t(n), masterAlpha);
    else
        BlendDrawRow(dst, src, std::size_t(n), masterAlpha);
}

void TBitmap32::Draw(int x, int y, const TBitmap32& src) {
    Draw(x, y, src.BoundsRect(), src);
}

void TBitmap32::Draw(int x, int y, const TRect& srcRect, const TBitmap32& src) {
    const TRect s = Intersect(srcRect, src.BoundsRect());
    if (s.IsEmpty() || Empty()) return;
    // Where the source part lands, clipped; then the matching source origin.
    const TRect d = Intersect(TRect{x + (s.Left - srcRect.Left), y + (s.Top - srcRect.Top),
                                    x + (s.Right - srcRect.Left), y + (s.Bottom - srcRect.Top)},
                              m_clip);
    if (d.IsEmpty()) return;
    const int sx = s.Left + (d.Left - (x + (s.Left - srcRect.Left)));
    const int sy = s.Top + (d.Top - (y + (s.Top - srcRect.Top)));
    if (&src == this) {
        // Drawing a bitmap onto itself: work from a copy of the source part.
        TBitmap32 part(d.Width(), d.Height());
        for (int row = 0; row < d.Height(); ++row)
            std::memcpy(part.ScanLine(row), ScanLine(sy + row) + sx,
                        std::size_t(d.Width()) * sizeof(TColor32));
        part.CopyProperties(*this);
        Draw(d.Left, d.Top, part);
        return;
    }
    for (int row = 0; row < d.Height(); ++row)
        ComposeRow(ScanLine(d.Top + row) + d.Left, src.ScanLine(sy + row) + sx, d.Width(),
                   src.DrawMode, src.CombineMode, src.MasterAlpha);
    Changed();
}

void TBitmap32::Draw(const TRect& dstRect, const TRect& srcRect, const TBitmap32& src) {
    if (dstRect.Width() == srcRect.Width() && dstRect.Height() == srcRect.Height())
        Draw(dstRect.Left, dstRect.Top, srcRect, src);
    else
        StretchDraw(ToFloatRect(dstRect), srcRect, src);
}

void TBitmap32::StretchDraw(const TFloatRect& dstRect, const TRect& srcRect, const TBitmap32& src) {
    TAffineTransformation t;
    const TRect s = Intersect(srcRect, src.BoundsRect());
    if (s.IsEmpty() || dstRect.IsEmpty() || srcRect.IsEmpty()) return;
    // Map srcRect onto dstRect; only the part of srcRect inside the source is drawn.
    t.Translate(-srcRect.Left, -srcRect.Top);
    t.Scale(dstRect.Width() / srcRect.Width(), dstRect.Height() / srcRect.Height());
    t.Translate(dstRect.Left, dstRect.Top);
    DrawTransformedPart(*this, t, src, s);
}

void TBitmap32::DrawTransformed(const TAffineTransformation& t, const TBitmap32& src) {
    DrawTransformedPart(*this, t, src, src.BoundsRect());
}

QImage TBitmap32::ImageView() {
    if (Empty()) return {};
    return QImage(reinterpret_cast<uchar*>(Bits()), m_width, m_height, qsizetype(m_width) * 4,
                  QImage::Format_ARGB32);
}

QImage TBitmap32::ImageView() const {
    if (Empty()) return {};
    return QImage(reinterpret_cast<const uchar*>(Bits()), m_width, m_height, qsizetype(m_width) * 4,
                  QImage::Format_ARGB32);
}
