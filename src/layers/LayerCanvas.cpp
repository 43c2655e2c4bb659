#include "layers/LayerCanvas.h"

#include <algorithm>
#include <cmath>

TLayerCanvas::TLayerCanvas(TBitmap32& buffer, double ratio)
    : m_buffer(&buffer), m_ratio(ratio > 0 && std::isfinite(ratio) ? ratio : 1.0) {}

int TLayerCanvas::Map(double logical) const {
    return ClampToInt(std::floor(logical * m_ratio + 0.5));
}

TRect TLayerCanvas::Map(const TRect& logical) const {
    if (!Scaled()) return logical;
    return {Map(double(logical.Left)), Map(double(logical.Top)), Map(double(logical.Right)),
            Map(double(logical.Bottom))};
}

TPanelLocation TLayerCanvas::Map(const TPanelLocation& logical) const {
    if (!Scaled()) return logical;
    const auto scale = [this](float v) { return float(double(v) * m_ratio); };
    return {scale(logical.Left), scale(logical.Top), scale(logical.Right), scale(logical.Bottom)};
}

TFixedPolygon TLayerCanvas::Map(const TFixedPolygon& logical) const {
    if (!Scaled()) return logical;
    return ScaledPolygon(logical, m_ratio, m_ratio, 0, 0);
}

int TLayerCanvas::Thickness(int logical) const {
    if (!Scaled()) return logical;
    return std::max(1, int(std::lround(logical * m_ratio)));
}

QFont TLayerCanvas::Font(const QFont& logical) const {
    return DeviceFont(logical, m_ratio);
}

TRect TLayerCanvas::Unmap(const TRect& device) const {
    if (!Scaled() || device.IsEmpty()) return device;
    return {ClampToInt(std::floor(device.Left / m_ratio)),
            ClampToInt(std::floor(device.Top / m_ratio)),
            ClampToInt(std::ceil(device.Right / m_ratio)),
            ClampToInt(std::ceil(device.Bottom / m_ratio))};
}

bool TLayerCanvas::Meets(const TRect& logical) const {
    return !Intersect(Map(logical), m_buffer->ClipRect()).IsEmpty();
}

void TLayerCanvas::FillRect(const TRect& logical, TColor32 colour) const {
    m_buffer->FillRectTS(Map(logical), colour);
}

void TLayerCanvas::FrameRect(const TRect& logical, TColor32 colour) const {
    const TRect outer = Map(logical);
    const int t = Thickness(1);
    if (t == 1) {
        m_buffer->FrameRectTS(outer, colour);
        return;
    }
    if (outer.IsEmpty() || AlphaOf(colour) == 0) return;
    // Bands as FrameRectTS lays them: the top and bottom ones across the whole width,
    // the side ones between them.
    const int top = std::min(outer.Top + t, outer.Bottom);
    const int bottom = std::max(outer.Bottom - t, top);
    m_buffer->BeginUpdate();
    m_buffer->FillRectTS({outer.Left, outer.Top, outer.Right, top}, colour);
    m_buffer->FillRectTS({outer.Left, bottom, outer.Right, outer.Bottom}, colour);
    const int left = std::min(outer.Left + t, outer.Right);
    m_buffer->FillRectTS({outer.Left, top, left, bottom}, colour);
    m_buffer->FillRectTS({std::max(outer.Right - t, left), top, outer.Right, bottom}, colour);
    m_buffer->EndUpdate();
}

void TLayerCanvas::RoundPanel(const TRect& logical, TColor32 outline, double radius,
                              std::uint8_t corners, TColor32 fill) const {
    DrawRoundPanel(*m_buffer, Map(logical), outline, Scale(radius), corners, fill,
                   Scale(kRoundPanelOutline));
}

void TLayerCanvas::Text(int x, int y, const QString& text, const QFont& font, TColor32 colour,
                        int level) const {
    RenderText(*m_buffer, Map(double(x)), Map(double(y)), text, Font(font), colour, level);
}

void TLayerCanvas::Picture(int x, int y, const TBitmap32& picture) const {
    m_buffer->Draw(Map(double(x)), Map(double(y)), picture);
}

void TLayerCanvas::Stretch(const TRect& logical, const TBitmap32& picture) const {
    if (picture.Empty()) return;
    if (!Scaled()) {
        m_buffer->Draw(logical, picture.BoundsRect(), picture);
        return;
    }
    TBitmap32 smooth(picture);
    smooth.Resampler = TResamplerKind::Linear;
    m_buffer->Draw(Map(logical), smooth.BoundsRect(), smooth);
}

int DeviceSize(int logical, double ratio) {
    if (ratio == 1.0) return logical;
    return std::max(1, int(std::lround(logical * ratio)));
}

QFont DeviceFont(const QFont& logical, double ratio) {
    if (ratio == 1.0) return logical;
    QFont font = logical;
    if (logical.pixelSize() > 0)
        font.setPixelSize(std::max(1, int(std::lround(logical.pixelSize() * ratio))));
    else if (logical.pointSizeF() > 0)
        font.setPointSizeF(logical.pointSizeF() * ratio);
    return font;
}
