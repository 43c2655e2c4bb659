#pragma once

#include "gfx/Bitmap32.h"
#include "layers/LayerPaint.h"
#include "layers/PanelGeometry.h"

#include <QFont>
#include <QString>

#include <cstdint>

// What a layer paints with: the view's buffer of device pixels and the ratio its own
// logical pixels are drawn at. Layers work out their geometry in logical pixels and
// draw through these mappings, so text is set in a font of the device size, outlines
// are scaled vector shapes and rectangles land on whole device pixels. At a ratio of 1
// every mapping is the identity and the drawing is the same as without a canvas.
//
// Rectangles map edge by edge (each edge rounded to the nearest device pixel), so two
// rectangles that share an edge in logical pixels still share it in device pixels.
class TLayerCanvas {
public:
    TLayerCanvas(TBitmap32& buffer, double ratio);

    [[nodiscard]] TBitmap32& Buffer() const { return *m_buffer; }
    [[nodiscard]] double Ratio() const { return m_ratio; }
    [[nodiscard]] bool Scaled() const { return m_ratio != 1.0; }

    // A logical coordinate or edge on the device grid.
    [[nodiscard]] int Map(double logical) const;
    [[nodiscard]] TRect Map(const TRect& logical) const;
    // Not rounded: shapes drawn from it keep their exact proportions.
    [[nodiscard]] TPanelLocation Map(const TPanelLocation& logical) const;
    [[nodiscard]] TFixedPolygon Map(const TFixedPolygon& logical) const;
    // A logical length (a line's width, a corner's radius) in device pixels, unrounded.
    [[nodiscard]] double Scale(double logical) const { return logical * m_ratio; }
    // A thickness of whole device pixels, at least one.
    [[nodiscard]] int Thickness(int logical) const;
    // The same face at the device size.
    [[nodiscard]] QFont Font(const QFont& logical) const;

    // The smallest logical rectangle covering the device one.
    [[nodiscard]] TRect Unmap(const TRect& device) const;
    // The buffer's clip rectangle in logical pixels (every logical pixel it touches).
    [[nodiscard]] TRect LogicalClip() const { return Unmap(m_buffer->ClipRect()); }
    // Whether the logical rectangle reaches into the buffer's clip rectangle.
    [[nodiscard]] bool Meets(const TRect& logical) const;

    // Blended fill of the logical rectangle.
    void FillRect(const TRect& logical, TColor32 colour) const;
    // Blended frame along the inside of the logical rectangle, one logical pixel
    // (Thickness(1) device pixels) thick, each pixel blended once.
    void FrameRect(const TRect& logical, TColor32 colour) const;
    // The rounded box (see DrawRoundPanel) over the logical rectangle.
    void RoundPanel(const TRect& logical, TColor32 outline, double radius, std::uint8_t corners,
                    TColor32 fill) const;
    // Text with the top-left corner of its cell at the logical point, in the font at the
    // device size (see RenderText).
    void Text(int x, int y, const QString& text, const QFont& font, TColor32 colour,
              int level) const;
    // A picture made at the device ratio, its top-left corner at the logical point.
    void Picture(int x, int y, const TBitmap32& picture) const;
    // A picture of logical pixels stretched over the logical rectangle: copied when the
    // ratio is 1, else smoothly resampled (for pictures that cannot be made anew).
    void Stretch(const TRect& logical, const TBitmap32& picture) const;

private:
    TBitmap32* m_buffer;
    double m_ratio;
};

// The size of a picture of `logical` pixels made at `ratio`: rounded, at least 1.
[[nodiscard]] int DeviceSize(int logical, double ratio);
// The same face at `ratio` times its size (a pixel size stays whole, at least 1).
[[nodiscard]] QFont DeviceFont(const QFont& logical, double ratio);
