#pragma once

#include "gfx/Color32.h"
#include "gfx/Geometry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QImage;
class TAffineTransformation;

// How a bitmap is put onto another when drawn.
enum class TDrawMode : std::uint8_t {
    dmOpaque, // copied as it is, alpha included; master alpha ignored
    dmBlend   // blended by its own alpha times the master alpha
};

// How a blended pixel meets the destination.
enum class TCombineMode : std::uint8_t {
    cmBlend, // straight blend onto a background taken as the surface (see BlendDraw)
    cmMerge  // compositing over a translucent destination (see MergeOver)
};

// The filter used when a bitmap is drawn at another size. The first five are the
// kinds the settings dialog stores (see MakeResampler); Lanczos is for the wallpaper.
enum class TResamplerKind : std::uint8_t {
    Nearest = 0,  // nearest neighbour
    Draft = 1,    // fast box-like averaging (Qt's smooth scaling)
    Linear = 2,   // triangle kernel, prefiltered when shrinking
    Mitchell = 3, // Mitchell-Netravali kernel (B = C = 1/3)
    Cubic = 4,    // Catmull-Rom cubic kernel
    Lanczos = 5   // Lanczos3 kernel
};

// A bitmap of 32-bit pixels (0xAARRGGBB, not premultiplied), the surface every
// decoded picture, panel and transition frame is drawn on.
//
// Reads and writes through the "safe" operations honour the clip rectangle:
// writes outside it are dropped, reads outside it give OuterColor. The plain
// Pixel/SetPixel and ScanLine accessors are unchecked.
class TBitmap32 {
public:
    TBitmap32() = default;
    TBitmap32(int width, int height);
    TBitmap32(const TBitmap32& other);
    TBitmap32& operator=(const TBitmap32& other);
    // Moving takes the pixels without copying them (a 24-megapixel copy costs tens
    // of milliseconds); the source is left empty. OnChange stays with its owner.
    TBitmap32(TBitmap32&& other) noexcept;
    TBitmap32& operator=(TBitmap32&& other) noexcept;
    ~TBitmap32() = default;

    // Copies pixels and properties (draw mode, master alpha, combine mode, outer
    // colour, resampler, clip rectangle), never OnChange; then notifies.
    void Assign(const TBitmap32& other);
    // Exchanges pixels and size with `other` (properties and handlers stay); both notify.
    void SwapPixels(TBitmap32& other) noexcept;

    [[nodiscard]] int Width() const { return m_width; }
    [[nodiscard]] int Height() const { return m_height; }
    [[nodiscard]] bool Empty() const { return m_width == 0 || m_height == 0; }
    [[nodiscard]] TRect BoundsRect() const { return {0, 0, m_width, m_height}; }

    // New size; the pixels become transparent black (0). Negative sizes count as 0.
    // Resets the clip rectangle to the bounds. Throws std::bad_alloc when the
    // picture cannot be held.
    void SetSize(int width, int height);
    // Drops the pixels (0 x 0).
    void Delete() { SetSize(0, 0); }
    // Takes over `length` bytes mapped with mmap (at least width x height pixels) as the
    // pixels, without a copy; they are unmapped with the bitmap. `opaque` is what is
    // already known of the alpha. Resets the clip rectangle and notifies.
    void AdoptMapping(TColor32* bits, std::size_t length, int width, int height,
                      std::optional<bool> opaque = std::nullopt);

    // Every pixel := colour, regardless of the clip rectangle.
    void Clear(TColor32 colour = clBlack32);

    // Raw access. Non-const access may change pixels, so it forgets the cached
    // opacity (see IsOpaque).
    [[nodiscard]] TColor32* Bits() {
        m_opacity = Opacity::Unknown;
        return m_bits.get();
    }
    [[nodiscard]] const TColor32* Bits() const { return m_bits.get(); }
    [[nodiscard]] TColor32* ScanLine(int y) { return Bits() + std::size_t(y) * m_width; }
    [[nodiscard]] const TColor32* ScanLine(int y) const {
        return m_bits.get() + std::size_t(y) * m_width;
    }
    [[nodiscard]] TColor32 Pixel(int x, int y) const { return ScanLine(y)[x]; }
    void SetPixel(int x, int y, TColor32 c) { ScanLine(y)[x] = c; }

    // Clip-aware pixel access.
    [[nodiscard]] TColor32 PixelS(int x, int y) const {
        return m_clip.Contains(x, y) ? m_bits[std::size_t(y) * m_width + x] : OuterColor;
    }
    void SetPixelS(int x, int y, TColor32 c) {
        if (m_clip.Contains(x, y)) ScanLine(y)[x] = c;
    }
    // Blends c onto the pixel with the combine mode (dropped outside the clip).
    void SetPixelTS(int x, int y, TColor32 c);

    [[nodiscard]] TRect ClipRect() const { return m_clip; }
    // The clip becomes the part of `r` inside the bounds.
    void SetClipRect(const TRect& r) { m_clip = Intersect(r, BoundsRect()); }
    void ResetClipRect() { m_clip = BoundsRect(); }

    // Opaque fill of the part of `r` inside the clip rectangle.
    void FillRect(const TRect& r, TColor32 colour);
    // Blended fill (combine mode) of the part of `r` inside the clip; alpha 0 draws nothing.
    void FillRectTS(const TRect& r, TColor32 colour);
    // Blended one-pixel frame along the inside of `r` (each pixel blended once).
    void FrameRectTS(const TRect& r, TColor32 colour);

    // Draws `src` with its top-left corner at (x, y), in src's draw mode, master
    // alpha and combine mode, clipped to this bitmap's clip rectangle.
    void Draw(int x, int y, const TBitmap32& src);
    // Draws the part `srcRect` of `src` with its top-left corner at (x, y).
    void Draw(int x, int y, const TRect& srcRect, const TBitmap32& src);
    // Draws `srcRect` of `src` into `dstRect`: copied when the sizes agree,
    // otherwise stretched through src's resampler.
    void Draw(const TRect& dstRect, const TRect& srcRect, const TBitmap32& src);
    // Draws `srcRect` of `src` stretched into a destination rectangle with
    // fractional edges, through src's resampler.
    void StretchDraw(const TFloatRect& dstRect, const TRect& srcRect, const TBitmap32& src);
    void StretchDraw(const TFloatRect& dstRect, const TBitmap32& src) {
        StretchDraw(dstRect, src.BoundsRect(), src);
    }
    // Draws `src` through the transformation (source pixel coordinates to this
    // bitmap's), with src's resampler. Quarter turns, mirroring, scaling and
    // translation are resampled properly; any other angle is sampled nearest.
    void DrawTransformed(const TAffineTransformation& t, const TBitmap32& src);

    // Whether every pixel has alpha 255. Computed once and remembered until the
    // pixels may have changed.
    [[nodiscard]] bool IsOpaque() const;

    // A QImage (Format_ARGB32) over this bitmap's own memory, no copy, so that
    // QPainter can draw text and antialiased shapes straight into it. Valid until
    // the size changes.
    [[nodiscard]] QImage ImageView();
    [[nodiscard]] QImage ImageView() const; // read-only

    // Change notification: Changed() calls OnChange unless an update is open;
    // the last EndUpdate() then reports a change that happened meanwhile.
    void BeginUpdate() { ++m_updateCount; }
    void EndUpdate();
    void Changed();
    std::function<void(TBitmap32&)> OnChange;

    // Properties used when this bitmap is drawn onto another.
    TColor32 OuterColor = 0;
    TDrawMode DrawMode = TDrawMode::dmOpaque;
    TCombineMode CombineMode = TCombineMode::cmBlend;
    std::uint8_t MasterAlpha = 255;
    TResamplerKind Resampler = TResamplerKind::Nearest;

private:
    enum class Opacity : std::uint8_t { Unknown, Opaque, Translucent };

    void CopyProperties(const TBitmap32& other);

    // Large pixel blocks are mapped straight from the system (see SetSize); Mapped is
    // then their mapped length, 0 for the heap.
    struct FreeBits {
        std::size_t Mapped; // value-initialised (0) with the pointer
        void operator()(TColor32* p) const noexcept;
    };
    std::unique_ptr<TColor32[], FreeBits> m_bits;
    int m_width = 0;
    int m_height = 0;
    TRect m_clip;
    int m_updateCount = 0;
    bool m_changedWhileUpdating = false;
    mutable Opacity m_opacity = Opacity::Unknown;
};

// Where the pixel blocks of large bitmaps come from. A process that hands its pictures to
// another maps them in shared memory instead of private pages.
struct TBitmapMemory {
    // Zero-filled memory for at least `bytes`, its mapped length in `mapped`; null when
    // none can be had (the bitmap then takes heap memory). Null: private mappings.
    TColor32* (*Map)(std::size_t bytes, std::size_t& mapped);
    // Releases a mapped block, also one that Map did not make (plain munmap then).
    void (*Unmap)(TColor32* bits, std::size_t mapped);
};
// For the whole process; null returns to private mappings. Set before any bitmap is made.
void SetBitmapMemory(const TBitmapMemory* memory);

// Puts rows of already-sampled pixels onto a destination with a source bitmap's
// draw mode, master alpha and combine mode.
void ComposeRow(TColor32* dst, const TColor32* src, int n, TDrawMode mode, TCombineMode combine,
                int masterAlpha);
