#pragma once

#include "app/VekFont.h"
#include "gfx/Color32.h"
#include "gfx/Layers.h"
#include "layers/PanelGeometry.h"
#include "platform/RegistryHive.h"

#include <QFont>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class TBitmap32;

// A movable panel over the picture: a translucent rounded body with a caption bar.
// Its rectangle, the stored place, hit zones and drags are in logical pixels.
// The user drags it by the caption, resizes it by its edges and corners, hides it
// with a double click and opens the window's context menu with the right button.
// Subclasses draw their content into the client rectangle (PaintContent) and
// invalidate ClientRect() when it changes.
class TVekCustomControlLayer : public TCustomLayer {
public:
    explicit TVekCustomControlLayer(TLayerCollection& collection);
    ~TVekCustomControlLayer() override = default;

    TPanelLocation Location;
    QString Caption;
    std::int32_t CaptionHeight = 25;
    std::int32_t BorderWidth = 1;
    TColor32 CaptionColor = 0xB4000000u;
    TColor32 OutlineColor = 0xC8000000u;
    TColor32 FillColor = Color32(0xC0, 0xC0, 0xC0, 100);
    bool ShowCaption = true;
    bool ShowBorder = true;
    bool Resizable = true;
    bool Movable = true;
    bool CloseOnDoubleClick = true;
    std::int32_t MinWidth = 10;
    std::int32_t MinHeight = 10;
    // Opens the window's context menu; gets the view coordinates of the release in
    // device pixels, as the view's own pointer events give them, which the window maps
    // to the screen (this library links no widgets).
    std::function<void(int x, int y)> OnContextMenu;
    QPoint DragPoint;
    THitZone DragZone = THitZone::hzNone;
    bool ButtonDown = false;
    std::function<void(TVekCustomControlLayer& sender)> OnClose;

    [[nodiscard]] const QFont& CaptionFont() const { return m_captionFont; }
    [[nodiscard]] TColor32 CaptionFontColor() const { return m_captionFontColor; }
    // Both repaint the caption strip.
    void SetCaptionFont(const QFont& font);
    void SetCaptionFontColor(TColor32 colour);

    [[nodiscard]] int Left() const;
    [[nodiscard]] int Top() const;
    [[nodiscard]] int Width() const;
    [[nodiscard]] int Height() const;
    void SetLeft(int x);
    void SetTop(int y);
    void SetWidth(int w);
    void SetHeight(int h);
    void SetCaption(const QString& text);

    [[nodiscard]] TPanelFrame Frame() const;
    [[nodiscard]] TRect ClientRect() const;
    [[nodiscard]] THitZone HitZone(int x, int y) const;
    [[nodiscard]] TRect Area() const override;

    bool HitTest(int x, int y) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseLeave() override;
    void CancelPointer() override;
    void Paint(TBitmap32& buffer) override;

    // Subclasses storing more values call the base SaveSettings first and their
    // LoadSettings calls the base last. Saving throws ERegistryError when the store
    // cannot be written.
    virtual void SaveSettings(TRegRoot root, const QString& keyPath);
    virtual void LoadSettings(TRegRoot root, const QString& keyPath);

protected:
    virtual void PaintContent(TBitmap32& buffer, const TPanelLocation& client);
    virtual void PaintFrame(TBitmap32& buffer, const TPanelLocation& r);
    // A frame contour with rounded corners as drawn on the device grid, `scaled` when
    // the ratio is not 1.
    [[nodiscard]] static TFixedPolygon RoundedOutline(const TFixedPolygon& contour, bool scaled);

private:
    void InvalidateCaptionStrip();
    void InvalidateMove(const TRect& old);

    QFont m_captionFont;
    TColor32 m_captionFontColor = clWhite32;
};

// A panel's "text font" value under `keyPath`: written in the store's font text; read
// back as none when it is missing or unreadable.
void SaveTextFont(TRegRoot root, const QString& keyPath, const TVekFont& font);
[[nodiscard]] std::optional<TVekFont> LoadTextFont(TRegRoot root, const QString& keyPath);
