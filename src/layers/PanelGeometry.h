#pragma once

#include "gfx/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

// Widget-free geometry of the movable on-image panels: where the pointer is on a
// panel, how a drag changes the panel's rectangle, and the outlines its frame is
// painted with.

// The part of a panel under the pointer. 9 is not used.
enum class THitZone : std::uint8_t {
    hzNone = 0,
    hzTopLeft = 1,
    hzTop = 2,
    hzTopRight = 3,
    hzRight = 4,
    hzBottomRight = 5,
    hzBottom = 6,
    hzBottomLeft = 7,
    hzLeft = 8,
    hzClient = 10,
    hzCaption = 11
};

// True for the eight edge and corner zones, the ones a resize drags.
[[nodiscard]] constexpr bool IsSizingZone(THitZone zone) {
    return zone >= THitZone::hzTopLeft && zone <= THitZone::hzLeft;
}

// A panel's rectangle in view coordinates, single precision as it is kept.
struct TPanelLocation {
    float Left = 0, Top = 0, Right = 100, Bottom = 100;
    bool operator==(const TPanelLocation&) const = default;
};

// The frame settings the geometry depends on.
struct TPanelFrame {
    int BorderWidth = 1;
    int CaptionHeight = 25;
    bool ShowCaption = true;
    bool ShowBorder = true;
};

// Floor of the near edges, ceil of the far ones.
[[nodiscard]] TRect OutsideRect(const TPanelLocation& r);
// Each edge rounded to the nearest integer.
[[nodiscard]] TRect NearestRect(const TPanelLocation& r);
[[nodiscard]] int RoundToInt(double v);

[[nodiscard]] THitZone HitZone(const TPanelLocation& location, const TPanelFrame& frame, int x,
                               int y);

// The part left to the panel's content: inside the border, below the caption.
[[nodiscard]] TPanelLocation ClientArea(const TPanelLocation& location, const TPanelFrame& frame);
[[nodiscard]] TRect ClientRect(const TPanelLocation& location, const TPanelFrame& frame);

struct TDragRules {
    bool Movable = true;
    bool Resizable = true;
    int MinWidth = 10;
    int MinHeight = 10;
};

// The rectangle after the pointer went from (fromX, fromY) to (x, y) while dragging
// `zone`; nullopt when that zone drags nothing under these rules. Moves stop at the
// view's top and left edge, never at its right or bottom one; a resize below the
// minimum size snaps back to the old top-left corner.
[[nodiscard]] std::optional<TPanelLocation> DragStep(const TPanelLocation& location, THitZone zone,
                                                     const TDragRules& rules, int fromX, int fromY,
                                                     int x, int y);

// Outlines in 16.16 fixed point.
struct TFixedPoint {
    std::int32_t X = 0, Y = 0;
    bool operator==(const TFixedPoint&) const = default;
};
using TFixedPolygon = std::vector<TFixedPoint>;

inline constexpr std::int32_t kFixedOne = 65536;
[[nodiscard]] std::int32_t ToFixed(double v);

// Appends the flattened quadratic curve p0-p1-p2 (p0 itself is not appended), split
// until each piece deviates by at most `tolerance` (fixed point) from its chord.
void FlattenQuadratic(TFixedPoint p0, TFixedPoint p1, TFixedPoint p2, std::int32_t tolerance,
                      TFixedPolygon& out);
// Replaces every vertex of the closed contour by a curve that starts and ends a
// third of the way to its neighbours.
[[nodiscard]] TFixedPolygon RoundCorners(const TFixedPolygon& contour, std::int32_t tolerance);
// The closed contour without the points that lie on the straight line between their
// neighbours: the same outline in fewer points (RoundCorners flattens the straight
// stretches between corners into pixel-long pieces too).
[[nodiscard]] TFixedPolygon WithoutCollinearPoints(const TFixedPolygon& contour);

// The outlines and the gradient are also made for a panel drawn at `scale` device
// pixels per logical one: `r` is then the panel's rectangle in device pixels and
// every length of the frame (legs, insets, the caption's height, the one-pixel outline
// they leave room for) grows by `scale`.

// The panel body: 12 points, 13-pixel legs at each corner, before rounding.
[[nodiscard]] TFixedPolygon BodyOutline(const TPanelLocation& r, double scale = 1.0);
// The caption strip inside the body: 13-pixel legs at the top, 5-pixel ones at the
// bottom, before rounding.
[[nodiscard]] TFixedPolygon CaptionOutline(const TPanelLocation& r, const TPanelFrame& frame,
                                           double scale = 1.0);
// Top row of the caption strip (where its gradient pattern starts).
[[nodiscard]] int CaptionTop(const TPanelLocation& r, double scale = 1.0);
// Alphas of the caption gradient, top row first: darkest at the top, transparent at
// the bottom. `alpha` is the caption colour's.
[[nodiscard]] std::vector<std::uint8_t> CaptionGradientAlphas(const TPanelFrame& frame, int alpha,
                                                              double scale = 1.0);
