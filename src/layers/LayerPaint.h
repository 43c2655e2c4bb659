#pragma once

#include "app/VekFont.h"
#include "gfx/Bitmap32.h"
#include "layers/PanelGeometry.h"

#include <QFont>
#include <QSize>
#include <QString>

#include <cstdint>

// The drawing the on-image layers do on the view's 32-bit buffer: antialiased
// polygons in 16.16 fixed point, rounded boxes and text. Everything is clipped to
// the buffer's clip rectangle, and a colour whose alpha is 0 draws nothing.

enum class TPolyFillMode : std::uint8_t { pfAlternate, pfWinding }; // even-odd, nonzero

// Fills the closed polygon, antialiased. Points are pixel edges: (0,0)-(2,0)-(2,2)-(0,2)
// covers exactly four pixels.
void PolygonFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour,
               TPolyFillMode mode = TPolyFillMode::pfWinding);
// Fills the closed polygon with `pattern` tiled from (originX, originY).
void PolygonPatternFS(TBitmap32& buffer, const TFixedPolygon& points, const TBitmap32& pattern,
                      int originX, int originY, TPolyFillMode mode = TPolyFillMode::pfWinding);
// A one-pixel antialiased line along the points through pixel centres, so the outline
// of (0,0)-(9,0)-(9,9)-(0,9) covers the pixels of columns and rows 0 and 9. A wider
// line runs `width` / 2 in from the points: the same outline scaled by s, drawn `s`
// wide, covers the same pixels scaled.
void PolylineFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour, bool closed = true,
                double width = 1.0);
// The polygon's outline grown by `grow` pixels to each side, filled.
void OutlineFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour, double grow);
// Every point through x' = dx + x * sx, y' = dy + y * sy.
[[nodiscard]] TFixedPolygon ScaledPolygon(const TFixedPolygon& points, double sx, double sy,
                                          double dx, double dy);

// Which corners of a round panel are rounded.
enum TRoundCorner : std::uint8_t {
    rcBottomLeft = 1,
    rcBottomRight = 2,
    rcTopRight = 4,
    rcTopLeft = 8,
    rcAll = 15
};
// The flattened outline of a box with rounded corners (radius at most half the
// smaller side), 16.16 fixed point.
[[nodiscard]] TFixedPolygon RoundPanelPolygon(const TRect& r, double radius, std::uint8_t corners);
// How far a round box's outline reaches to each side of its edge, in pixels.
inline constexpr double kRoundPanelOutline = 0.7;
// The box filled with `fill` and outlined (`grow` pixels to each side) with `outline`.
void DrawRoundPanel(TBitmap32& buffer, const TRect& r, TColor32 outline, double radius,
                    std::uint8_t corners, TColor32 fill, double grow = kRoundPanelOutline);

// Text. `level` is the antialiasing level: 0 draws without antialiasing, 1, 2 and 4
// antialiased. The top-left corner of the text's cell is at (x, y).
void RenderText(TBitmap32& buffer, int x, int y, const QString& text, const QFont& font,
                TColor32 colour, int level = 2);
[[nodiscard]] QSize TextSize(const QFont& font, const QString& text);
// The font's height in pixels (a line's pitch).
[[nodiscard]] int FontHeight(const QFont& font);

// A font of the desktop's default face at `points` points (at 96 pixels per inch,
// as the stored fonts count them).
[[nodiscard]] QFont LayerFont(int points);
// The stored font as the layers draw it, and back. An unknown face falls back to the
// desktop's default face.
[[nodiscard]] QFont ToQFont(const TVekFont& font);
[[nodiscard]] TVekFont ToVekFont(const QFont& font, TColor32 colour);
// The colour of a stored font: a system colour (negative values) from the desktop's
// palette, otherwise the stored 0x00BBGGRR value, opaque.
[[nodiscard]] TColor32 FontColor(const TVekFont& font);

// The desktop's colours the layers use.
enum class TSystemColor : std::uint8_t {
    scWindowText,
    scInfoBackground,
    scInfoText,
    scHighlight,
    scHighlightText,
    scButtonFace
};
[[nodiscard]] TColor32 SystemColor(TSystemColor which);
