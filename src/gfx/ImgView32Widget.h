#pragma once

#include "gfx/Bitmap32.h"
#include "gfx/BitmapOps.h"
#include "gfx/ImageViewModel.h"
#include "gfx/Layers.h"
#include "gfx/Transform.h"

#include <QWidget>

#include <array>
#include <functional>

// The layered image view: one picture (`Bitmap`) at a scale and scroll offsets, with
// custom paint stages and a collection of layers painted over it.
//
// Everything is drawn into a back buffer of the widget's size in device pixels, so
// pictures stay sharp on HiDPI screens; positions handed to the owner are device
// pixels of that buffer. The layers work in logical pixels: the view gives their
// collection its ratio and logical size, and the collection maps the pointer and the
// layers' repaint requests between the two. A repaint covers only the invalidated
// rectangle: stage 0 (background) and stage 1 (picture) through `OnPaintStage`, then
// the layers in order. The picture as drawn at the current transformation, filter
// and size is kept, so a repaint that changes none of them (a layer moving, a
// toolbar fading) only copies from it.
class TImgView32 : public QWidget {
public:
    explicit TImgView32(QWidget* parent = nullptr);
    ~TImgView32() override;

    // The shown picture. Any change notification makes the view draw it anew.
    TBitmap32 Bitmap;
    TLayerCollection Layers;

    [[nodiscard]] TImageViewModel& Model() { return m_model; }
    [[nodiscard]] const TImageViewModel& Model() const { return m_model; }

    // Changes between these repaint once, at the last EndUpdate.
    void BeginUpdate() { ++m_updateCount; }
    void EndUpdate();
    // Repaints everything, or a rectangle of device pixels.
    void Invalidate();
    void Invalidate(const TRect& rect);

    // The view in device pixels.
    [[nodiscard]] int ViewWidth() const { return m_model.ViewWidth(); }
    [[nodiscard]] int ViewHeight() const { return m_model.ViewHeight(); }
    [[nodiscard]] TRect ViewRect() const { return {0, 0, ViewWidth(), ViewHeight()}; }
    [[nodiscard]] double DeviceRatio() const;
    // Draws at `ratio` whatever the screen's (benchmarks and tests compare ratios in
    // one process); 0 follows the screen again.
    void SetDeviceRatio(double ratio);
    // A device-pixel position of the view on the screen (for popup menus).
    [[nodiscard]] QPoint ScreenPoint(int x, int y) const;

    // Draws the picture through `t` (picture pixels to view pixels) into `buffer`
    // within its clip rectangle, from the kept drawing when `t`, the filter and the
    // size are unchanged. The drawing blends onto what the buffer holds.
    void PaintPicture(TBitmap32& buffer, const TAffineTransformation& t);
    // The view's own transformation of the picture: its scale and scroll offsets.
    [[nodiscard]] TAffineTransformation ViewTransform() const { return m_model.ViewTransform(); }
    // Takes a drawing of the current picture made elsewhere (on a loader's worker) as
    // the kept one; PaintPicture uses it when its transformation and area are the ones
    // it would draw with.
    void AdoptDrawing(TDrawnPicture&& drawn);
    // Number of times the kept drawing was made anew (for tests and benchmarks).
    [[nodiscard]] int CacheBuilds() const { return m_cacheBuilds; }

    // Stage 0 draws the background, stage 1 the picture; without a handler the view
    // fills grey and draws the picture at its own transformation.
    std::function<void(TImgView32& Sender, TBitmap32& Buffer, int StageNum)> OnPaintStage;
    // Pointer events that no layer took, in device pixels.
    std::function<void(TImgView32&Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>
        OnMouseDown, OnMouseUp;
    std::function<void(TImgView32& Sender, TShiftState Shift, int X, int Y)> OnMouseMove;
    std::function<void(TImgView32& Sender)> OnDblClick;
    std::function<void(TImgView32& Sender)> OnResize;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    struct TCacheKey {
        std::uint64_t Generation = 0;
        std::array<double, 6> Transform{};
        TResamplerKind Resampler = TResamplerKind::Nearest;
        TRect Area;
        bool operator==(const TCacheKey&) const = default;
    };
    [[nodiscard]] TCacheKey KeyOf(const TAffineTransformation& t, const TRect& area) const {
        return {m_generation, {t.A, t.B, t.C, t.D, t.E, t.F}, Bitmap.Resampler, area};
    }

    void PictureChanged();
    // Takes the widget's size and ratio; true when the size in device pixels changed.
    bool UpdateViewSize();
    // After the ratio may have changed: repaints everything and tells the owner when
    // the view's size in device pixels changed with it.
    void RatioMayHaveChanged();
    [[nodiscard]] QPoint DevicePoint(const QPointF& p) const;

    TImageViewModel m_model;
    TBitmap32 m_buffer;
    TDrawnPicture m_cache;
    TCacheKey m_cacheKey;
    bool m_cacheValid = false;
    std::uint64_t m_generation = 1;
    int m_pictureWidth = 0, m_pictureHeight = 0;
    int m_cacheBuilds = 0;
    int m_updateCount = 0;
    bool m_dirtyWhileUpdating = false;
    double m_forcedRatio = 0;
};
