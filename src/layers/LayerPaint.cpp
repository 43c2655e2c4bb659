#include "layers/LayerPaint.h"

#include <QBrush>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPalette>
#include <QPen>
#include <QPolygonF>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace {

QPolygonF ToPolygonF(const TFixedPolygon& points, double shift = 0.0) {
    QPolygonF result;
    result.reserve(qsizetype(points.size()));
    for (const TFixedPoint& p : points)
        result.append(QPointF(double(p.X) / kFixedOne + shift, double(p.Y) / kFixedOne + shift));
    return result;
}

Qt::FillRule FillRuleOf(TPolyFillMode mode) {
    return mode == TPolyFillMode::pfAlternate ? Qt::OddEvenFill : Qt::WindingFill;
}

// Runs `draw` with a painter on the buffer's own pixels, clipped to its clip
// rectangle and antialiased; the buffer then reports the change.
template <typename Draw>
void Paint(TBitmap32& buffer, const Draw& draw) {
    const TRect clip = buffer.ClipRect();
    if (clip.IsEmpty()) return;
    QImage view = buffer.ImageView();
    QPainter painter(&view);
    painter.setClipRect(clip.Left, clip.Top, clip.Width(), clip.Height());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    draw(painter);
    painter.end();
    buffer.Changed();
}

std::int32_t Mid(std::int32_t a, std::int32_t b) {
    return std::int32_t((std::int64_t(a) + b) / 2);
}

TFixedPoint Mid(TFixedPoint a, TFixedPoint b) {
    return {Mid(a.X, b.X), Mid(a.Y, b.Y)};
}

std::int64_t Leg(TFixedPoint a, TFixedPoint b) {
    return std::llabs(std::int64_t(a.X) - b.X) + std::llabs(std::int64_t(a.Y) - b.Y);
}

// Appends the ends of the pieces of the cubic p0..p3 (p0 itself excluded), halving it
// while its control legs together exceed eight pixels.
void FlattenCubic(TFixedPoint p0, TFixedPoint p1, TFixedPoint p2, TFixedPoint p3,
                  TFixedPolygon& out, int depth = 0) {
    constexpr std::int64_t kTolerance = 8 * std::int64_t(kFixedOne);
    if (depth >= 16 || Leg(p0, p1) + Leg(p1, p2) + Leg(p2, p3) <= kTolerance) {
        out.push_back(p3);
        return;
    }
    const TFixedPoint p01 = Mid(p0, p1), p12 = Mid(p1, p2), p23 = Mid(p2, p3);
    const TFixedPoint p012 = Mid(p01, p12), p123 = Mid(p12, p23);
    const TFixedPoint m = Mid(p012, p123);
    FlattenCubic(p0, p01, p012, m, out, depth + 1);
    FlattenCubic(m, p123, p23, p3, out, depth + 1);
}

int PixelsForPoints(int points) {
    return std::max(1, int(std::lround(points * 96.0 / 72.0)));
}

TColor32 FromQColor(const QColor& c) {
    return TColor32(c.rgba());
}

// A narrow pattern as a texture at least this wide, made of copies of itself side by
// side: the same tiling, but Qt fills spans of a wide texture many times faster than
// it fetches a one-pixel-wide one pixel by pixel (the caption gradient is such a one).
constexpr int kMinTextureWidth = 64;

QImage Texture(const TBitmap32& pattern) {
    const int w = pattern.Width();
    if (w >= kMinTextureWidth) return pattern.ImageView();
    const int copies = (kMinTextureWidth + w - 1) / w;
    QImage texture(w * copies, pattern.Height(), QImage::Format_ARGB32);
    for (int y = 0; y < pattern.Height(); ++y) {
        const TColor32* from = pattern.ScanLine(y);
        auto* to = reinterpret_cast<TColor32*>(texture.scanLine(y));
        for (int c = 0; c < copies; ++c) std::copy(from, from + w, to + c * w);
    }
    return texture;
}

} // namespace

void PolygonFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour,
               TPolyFillMode mode) {
    if (AlphaOf(colour) == 0 || points.size() < 3) return;
    Paint(buffer, [&](QPainter& painter) {
        painter.setBrush(QColor::fromRgba(colour));
        painter.drawPolygon(ToPolygonF(points), FillRuleOf(mode));
    });
}

void PolygonPatternFS(TBitmap32& buffer, const TFixedPolygon& points, const TBitmap32& pattern,
                      int originX, int originY, TPolyFillMode mode) {
    if (pattern.Empty() || points.size() < 3) return;
    Paint(buffer, [&](QPainter& painter) {
        QBrush brush(Texture(pattern));
        brush.setTransform(QTransform::fromTranslate(originX, originY));
        painter.setBrush(brush);
        painter.drawPolygon(ToPolygonF(points), FillRuleOf(mode));
    });
}

void PolylineFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour, bool closed,
                double width) {
    if (AlphaOf(colour) == 0 || points.size() < 2 || !(width > 0)) return;
    Paint(buffer, [&](QPainter& painter) {
        QPen pen(QColor::fromRgba(colour), width);
        pen.setJoinStyle(Qt::MiterJoin);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        const QPolygonF line = ToPolygonF(points, width / 2);
        if (closed)
            painter.drawPolygon(line);
        else
            painter.drawPolyline(line);
    });
}

void OutlineFS(TBitmap32& buffer, const TFixedPolygon& points, TColor32 colour, double grow) {
    if (AlphaOf(colour) == 0 || points.size() < 2 || grow <= 0) return;
    Paint(buffer, [&](QPainter& painter) {
        QPainterPath path;
        path.addPolygon(ToPolygonF(points));
        path.closeSubpath();
        QPainterPathStroker stroker;
        stroker.setWidth(2 * grow);
        stroker.setJoinStyle(Qt::MiterJoin);
        painter.setBrush(QColor::fromRgba(colour));
        painter.drawPath(stroker.createStroke(path));
    });
}

TFixedPolygon ScaledPolygon(const TFixedPolygon& points, double sx, double sy, double dx,
                            double dy) {
    TFixedPolygon result;
    result.reserve(points.size());
    for (const TFixedPoint& p : points)
        result.push_back({ToFixed(dx + double(p.X) / kFixedOne * sx),
                          ToFixed(dy + double(p.Y) / kFixedOne * sy)});
    return result;
}

TFixedPolygon RoundPanelPolygon(const TRect& r, double radius, std::uint8_t corners) {
    const double rr = std::max(
        0.0, std::min({radius, (r.Right - r.Left - 1) / 2.0, (r.Bottom - r.Top - 1) / 2.0}));
    const std::int32_t rho = ToFixed(rr);
    const std::int32_t kappa = std::int32_t(std::lround(rho * 0.46956702032));
    const auto pick = [&](TRoundCorner corner, std::int32_t v) {
        return (corners & corner) != 0 ? v : 0;
    };
    const std::int32_t rtr = pick(rcTopRight, rho), ktr = pick(rcTopRight, kappa);
    const std::int32_t rbr = pick(rcBottomRight, rho), kbr = pick(rcBottomRight, kappa);
    const std::int32_t rbl = pick(rcBottomLeft, rho), kbl = pick(rcBottomLeft, kappa);
    const std::int32_t rtl = pick(rcTopLeft, rho), ktl = pick(rcTopLeft, kappa);
    const std::int32_t L = ToFixed(r.Left), T = ToFixed(r.Top), Rt = ToFixed(r.Right),
                       B = ToFixed(r.Bottom);

    // Seven cubic segments from the top-right corner clockwise; the top edge closes.
    const TFixedPoint path[22] = {{Rt - rtr, T}, {Rt - ktr, T}, {Rt, T + ktr},
                                  {Rt, T + rtr},                               // top right
                                  {Rt, T + rtr}, {Rt, B - rbr}, {Rt, B - rbr}, // right edge
                                  {Rt, B - kbr}, {Rt - kbr, B}, {Rt - rbr, B}, // bottom right
                                  {Rt - rbr, B}, {L + rbl, B},  {L + rbl, B},  // bottom edge
                                  {L + kbl, B},  {L, B - kbl},  {L, B - rbl},  // bottom left
                                  {L, B - rbl},  {L, T + rtl},  {L, T + rtl},  // left edge
                                  {L, T + ktl},  {L + ktl, T},  {L + rtl, T}}; // top left
    TFixedPolygon result{path[0]};
    for (int s = 0; s < 7; ++s) {
        const TFixedPoint& p0 = path[3 * s];
        const TFixedPoint& c1 = path[3 * s + 1];
        const TFixedPoint& c2 = path[3 * s + 2];
        const TFixedPoint& p3 = path[3 * s + 3];
        if (p0 == c1 && c2 == p3)
            result.push_back(p3);
        else
            FlattenCubic(p0, c1, c2, p3, result);
    }
    return result;
}

namespace {

// A round panel drawn once on a transparent bitmap, its rectangle at (margin, margin).
struct TPanelKey {
    int Width, Height;
    double Radius, Grow;
    std::uint8_t Corners;
    TColor32 Outline, Fill;
    TCombineMode Combine; // the buffer's, with which the picture is drawn on it
    bool operator==(const TPanelKey&) const = default;
};

struct TPanelPicture {
    TPanelKey Key;
    int Margin;
    std::shared_ptr<const TBitmap32> Picture;
};

// Enough for every step of a toolbar fade and the panels around it; at a ratio of 2 on a
// 4K screen the largest are well under a megabyte each.
constexpr std::size_t kPanelPictures = 16;

TPanelPicture PanelPicture(const TPanelKey& key) {
    static std::mutex mutex;
    static std::vector<TPanelPicture> kept; // most recently used last
    const std::lock_guard lock(mutex);
    const auto found = std::find_if(kept.begin(), kept.end(),
                                    [&](const TPanelPicture& p) { return p.Key == key; });
    if (found != kept.end()) {
        std::rotate(found, found + 1, kept.end());
        return kept.back();
    }
    TPanelPicture made{key, int(std::ceil(std::max(key.Grow, 0.0))) + 1, nullptr};
    auto picture =
        std::make_shared<TBitmap32>(key.Width + 2 * made.Margin, key.Height + 2 * made.Margin);
    picture->Clear(0);
    const TFixedPolygon polygon = RoundPanelPolygon(
        {made.Margin, made.Margin, made.Margin + key.Width, made.Margin + key.Height}, key.Radius,
        key.Corners);
    PolygonFS(*picture, polygon, key.Fill);
    OutlineFS(*picture, polygon, key.Outline, key.Grow);
    picture->DrawMode = TDrawMode::dmBlend;
    picture->CombineMode = key.Combine;
    made.Picture = std::move(picture);
    if (kept.size() >= kPanelPictures) kept.erase(kept.begin());
    kept.push_back(made);
    return made;
}

} // namespace

void DrawRoundPanel(TBitmap32& buffer, const TRect& r, TColor32 outline, double radius,
                    std::uint8_t corners, TColor32 fill, double grow) {
    if (r.IsEmpty() || buffer.ClipRect().IsEmpty()) return;
    // Panels are drawn again on every repaint of what lies under them (a toolbar fading,
    // a panel dragged): the shape is rasterised once and blended from then on.
    const TPanelPicture panel = PanelPicture(
        {r.Width(), r.Height(), radius, grow, corners, outline, fill, buffer.CombineMode});
    buffer.Draw(r.Left - panel.Margin, r.Top - panel.Margin, *panel.Picture);
}

void RenderText(TBitmap32& buffer, int x, int y, const QString& text, const QFont& font,
                TColor32 colour, int level) {
    if (AlphaOf(colour) == 0 || text.isEmpty()) return;
    Paint(buffer, [&](QPainter& painter) {
        QFont f = font;
        f.setStyleStrategy(level == 0 ? QFont::NoAntialias : QFont::PreferAntialias);
        painter.setRenderHint(QPainter::TextAntialiasing, level != 0);
        painter.setFont(f);
        painter.setPen(QColor::fromRgba(colour));
        painter.drawText(x, y + QFontMetrics(f).ascent(), text);
    });
}

QSize TextSize(const QFont& font, const QString& text) {
    const QFontMetrics metrics(font);
    return {metrics.horizontalAdvance(text), metrics.height()};
}

int FontHeight(const QFont& font) {
    return QFontMetrics(font).height();
}

QFont LayerFont(int points) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(PixelsForPoints(points));
    font.setBold(false);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

QFont ToQFont(const TVekFont& stored) {
    QFont font = QGuiApplication::font();
    if (!stored.Name.isEmpty() && QFontDatabase::hasFamily(stored.Name))
        font.setFamilies({stored.Name});
    font.setPixelSize(std::clamp(std::abs(stored.Height()), 1, 1000));
    font.setBold(stored.Bold);
    font.setItalic(stored.Italic);
    font.setUnderline(stored.Underline);
    font.setStrikeOut(stored.StrikeOut);
    return font;
}

TVekFont ToVekFont(const QFont& font, TColor32 colour) {
    TVekFont stored;
    stored.Name = font.family();
    const int pixels = font.pixelSize() > 0
                           ? font.pixelSize()
                           : std::max(1, int(std::lround(font.pointSizeF() * 96.0 / 72.0)));
    stored.SetHeight(-pixels);
    stored.Bold = font.bold();
    stored.Italic = font.italic();
    stored.Underline = font.underline();
    stored.StrikeOut = font.strikeOut();
    stored.Color = std::int32_t(BlueOf(colour) << 16 | GreenOf(colour) << 8 | RedOf(colour));
    return stored;
}

TColor32 FontColor(const TVekFont& font) {
    if (font.Color >= 0)
        return Color32(font.Color & 0xFF, (font.Color >> 8) & 0xFF, (font.Color >> 16) & 0xFF);
    // A system colour: its index in the low byte.
    switch (font.Color & 0xFF) {
    case 13:
        return SystemColor(TSystemColor::scHighlight);
    case 14:
        return SystemColor(TSystemColor::scHighlightText);
    case 15:
        return SystemColor(TSystemColor::scButtonFace);
    case 23:
        return SystemColor(TSystemColor::scInfoText);
    case 24:
        return SystemColor(TSystemColor::scInfoBackground);
    default:
        return SystemColor(TSystemColor::scWindowText);
    }
}

TColor32 SystemColor(TSystemColor which) {
    const QPalette palette = QGuiApplication::palette();
    switch (which) {
    case TSystemColor::scWindowText:
        return FromQColor(palette.color(QPalette::WindowText));
    case TSystemColor::scInfoBackground:
        return FromQColor(palette.color(QPalette::ToolTipBase));
    case TSystemColor::scInfoText:
        return FromQColor(palette.color(QPalette::ToolTipText));
    case TSystemColor::scHighlight:
        return FromQColor(palette.color(QPalette::Highlight));
    case TSystemColor::scHighlightText:
        return FromQColor(palette.color(QPalette::HighlightedText));
    case TSystemColor::scButtonFace:
        return FromQColor(palette.color(QPalette::Button));
    }
    return clBlack32;
}
