#pragma once

#include "gfx/Geometry.h"
#include "gfx/Transform.h"

// Where the image view shows its picture when it draws it itself: at its scale and
// scroll offsets, with an over-size margin of extra scrollable room around it. All in
// device pixels of the view.
//
// The scrollable extent is the scaled picture plus the margin (scaled with the picture)
// on every side. Along an axis where the extent fits into the view, the picture is
// centred while centring is on; otherwise the offset keeps the extent covering the view,
// so panning stops at the picture's edges (plus margin).
class TImageViewModel {
public:
    void SetViewSize(int width, int height);
    void SetPictureSize(int width, int height);
    // Keeps the picture point under the view's centre where it was.
    void SetScale(float scale);
    // The picture stays in place (as far as the new extent allows).
    void SetOverSize(int margin);
    // Switching centring on puts the picture in the middle again.
    void SetCentered(bool value);
    // Moves the view over the picture by (dx, dy) view pixels: positive values show
    // more of the right and bottom.
    void Scroll(double dx, double dy);

    [[nodiscard]] int ViewWidth() const { return m_viewWidth; }
    [[nodiscard]] int ViewHeight() const { return m_viewHeight; }
    [[nodiscard]] float Scale() const { return m_scale; }
    [[nodiscard]] int OverSize() const { return m_overSize; }
    [[nodiscard]] bool Centered() const { return m_centered; }
    // Top-left corner of the scrollable extent in the view.
    [[nodiscard]] double OffsetHorz() const { return m_offsetX; }
    [[nodiscard]] double OffsetVert() const { return m_offsetY; }

    // Where the unturned picture lies in the view.
    [[nodiscard]] TFloatRect BitmapRect() const;
    // Picture pixel coordinates to view coordinates at the scale and offsets.
    [[nodiscard]] TAffineTransformation ViewTransform() const;

private:
    [[nodiscard]] double Margin() const { return m_overSize * double(m_scale); }
    [[nodiscard]] double ExtentWidth() const;
    [[nodiscard]] double ExtentHeight() const;
    void Clamp();

    int m_viewWidth = 0, m_viewHeight = 0;
    int m_pictureWidth = 0, m_pictureHeight = 0;
    float m_scale = 1;
    int m_overSize = 0;
    bool m_centered = true;
    double m_offsetX = 0, m_offsetY = 0;
};
