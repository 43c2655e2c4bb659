#pragma once

#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "gfx/Layers.h"
#include "layers/ResourceLoader.h"

#include <QFont>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The layers drawn over the viewer's picture without the panel machinery: the
// on-image toolbar with its items, the "Opening..." progress box and the tint over
// the picture. Their geometry is in logical pixels; their pictures are made again at
// the view's device pixel ratio when it is not 1.

class TToolbarLayer;

// One entry of a toolbar: a big and a small picture, a hint and a command.
class TTlItem {
public:
    TTlItem() = default;
    virtual ~TTlItem() = default;
    TTlItem(const TTlItem&) = delete;
    TTlItem& operator=(const TTlItem&) = delete;

    // Copies owner, visibility, enabled state and both pictures, then lets the owner
    // lay its items out anew.
    virtual void Assign(const TTlItem& source);

    // The toolbar the item was added to, or null.
    TToolbarLayer* Owner = nullptr;

    [[nodiscard]] bool Visible() const { return m_visible; }
    void SetVisible(bool value);
    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void SetEnabled(bool value);

    // Shown in the hint box after the pointer rested on the item; empty: no hint.
    QString Hint;
    // Runs when the button is released over the item it was pressed on.
    std::function<void(TTlItem& Sender)> OnClick;

    // The big (BigIcons) and the small picture, drawn blended; their sizes are the
    // item's size in logical pixels.
    TBitmap32 Image32;
    TBitmap32 Image16;
    // Where the item sits inside the toolbar (set by TToolbarLayer::Relayout).
    TRect Bounds;

    // Makes the pictures for a view drawn at `ratio` device pixels per logical one:
    // Image32 and Image16 made anew that much larger, as sharp as at their own size.
    // The toolbar asks when it takes the item and whenever the view's ratio changes.
    // Here nothing: pictures set from outside are stretched.
    virtual void ScaleTo(double ratio);
    // The big or small picture made for `ratio`; null while there is none (the
    // toolbar then stretches Image32 or Image16).
    [[nodiscard]] const TBitmap32* ScaledImage(bool big, double ratio) const;

protected:
    // Repaints the item on its toolbar, if any.
    void RepaintItem();
    // The ratio of the toolbar the item is on; 1 without one.
    [[nodiscard]] double OwnerRatio() const;

    // The pictures made at m_scaledRatio32 and m_scaledRatio16 (0: none).
    TBitmap32 m_scaled32;
    TBitmap32 m_scaled16;
    double m_scaledRatio32 = 0;
    double m_scaledRatio16 = 0;

private:
    bool m_visible = true;
    bool m_enabled = true;
};

// An icon button; its two pictures load off the GUI thread by name ("zBack" loads
// "zBack32" and "zBack16"), and so do the same pictures at the view's ratio.
class TTlButton : public TTlItem {
public:
    explicit TTlButton(const QString& imageName = QString());
    // Waits for the loads still running.
    ~TTlButton() override;

    void Assign(const TTlItem& source) override;
    void ScaleTo(double ratio) override;

    [[nodiscard]] const QString& ImageName() const { return m_imageName; }
    // A different name (compared case-sensitively) loads both pictures anew.
    void SetImageName(const QString& name);
    // True while any picture is still loading.
    [[nodiscard]] bool Loading() const {
        return m_load32 != nullptr || m_load16 != nullptr || m_loadScaled32 != nullptr ||
               m_loadScaled16 != nullptr;
    }

private:
    void LoadDone(std::unique_ptr<TResourceLoader>& load);
    // Loads both pictures at m_wantedRatio for the current name.
    void LoadScaled();

    std::unique_ptr<TResourceLoader> m_load32;
    std::unique_ptr<TResourceLoader> m_load16;
    std::unique_ptr<TResourceLoader> m_loadScaled32;
    std::unique_ptr<TResourceLoader> m_loadScaled16;
    QString m_imageName;
    // The ratio and name the scaled pictures are (being) loaded for.
    double m_wantedRatio = 1.0;
    QString m_scaledName;
};

// A thin vertical line between groups of buttons (20 x 32 and 10 x 16).
class TTlSeparator : public TTlItem {
public:
    TTlSeparator();

    void ScaleTo(double ratio) override;
};

// A line of text in place of an icon (the page number of the page toolbar).
class TTlLabel : public TTlItem {
public:
    TTlLabel();

    void Assign(const TTlItem& source) override;
    void ScaleTo(double ratio) override;

    [[nodiscard]] const QString& Caption() const { return m_caption; }
    // Draws the text into both pictures; the toolbar lays out anew when a picture
    // changed its width.
    void SetCaption(const QString& text);
    TColor32 TextColor = clWhite32;

private:
    QString m_caption;
};

enum TToolbarPlacement : std::uint8_t { tpTop, tpBottom };

// A row of items centred on the bottom (or top) edge of the view on a translucent band
// that slides and fades in while the pointer is near and fades out 300 ms after it
// left. Resting on an item highlights it and after a second shows its hint; releasing
// the button on the item it was pressed on runs its command. Every rectangle here is
// in logical pixels.
class TToolbarLayer : public TCustomLayer {
public:
    explicit TToolbarLayer(TLayerCollection& collection);
    ~TToolbarLayer() override;

    // Millisecond tick when the running fade began; 0 when none.
    std::uint32_t FadeStart = 0;
    TBitmap32 HoverImage32;
    int HoverInset32 = 0;
    TBitmap32 HoverImage16;
    int HoverInset16 = 0;
    [[nodiscard]] TToolbarPlacement Placement() const { return m_placement; }
    void SetPlacement(TToolbarPlacement value);
    // How far the band reaches past the view's edge (negative: beyond it).
    std::int32_t EdgeOffset = -3;
    TThreadedTimer FadeTimer; // 10 ms, one fade step
    TThreadedTimer HideTimer; // 300 ms after the pointer left
    TThreadedTimer HintTimer; // 1000 ms on an item
    QFont HintFont;
    bool HintVisible = false;
    bool Shown = false;
    TTlItem* HotItem = nullptr;
    TTlItem* PressedItem = nullptr;
    std::int32_t FadeLevel = 0; // 0 ... 100
    [[nodiscard]] bool BigIcons() const { return m_bigIcons; }
    void SetBigIcons(bool value);
    std::int32_t Spacing = 2;
    // The union of the visible items' Bounds.
    TRect ItemsBounds;

    // Whether the view shows a picture; without one the icons are drawn opaque even
    // while the band is hidden. Unset: a picture is shown.
    std::function<bool()> ImageShown;
    // Milliseconds of a steady clock (replaceable, so fades can be driven by hand).
    std::function<std::uint32_t()> Now;

    // Appends the item, takes it and lays the items out anew.
    TTlItem& AddItem(std::unique_ptr<TTlItem> item);
    template <class T>
    T& AddItem(std::unique_ptr<T> item) {
        T& added = *item;
        AddItem(std::unique_ptr<TTlItem>(std::move(item)));
        return added;
    }
    // The item at `index`, or null when out of range.
    [[nodiscard]] TTlItem* Items(int index) const;
    [[nodiscard]] int ItemCount() const { return int(m_items.size()); }

    // Places the visible items side by side and repaints the band's old and new area.
    void Relayout();
    // The band in view coordinates (one pixel wider on each side than drawn).
    [[nodiscard]] TRect ToolbarRect() const;
    [[nodiscard]] TRect ItemRect(const TTlItem& item) const;
    // Empty when the item has no hint.
    [[nodiscard]] TRect HintRect(const TTlItem& item) const;
    // Repaints the item with its hover highlight.
    void InvalidateItem(const TTlItem& item);

    [[nodiscard]] TRect Area() const override;
    bool HitTest(int x, int y) override;
    void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
    void MouseMove(TShiftState shift, int x, int y) override;
    void MouseLeave() override;
    void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
    void Paint(TBitmap32& buffer) override;
    void DeviceRatioChanged() override;

private:
    void FadeTimerTick();
    void HideTimerTick();
    void HintTimerTick();
    [[nodiscard]] std::uint32_t StartTick() const;
    // The hover picture as drawn at `ratio`.
    [[nodiscard]] const TBitmap32& HoverImage(bool big, double ratio);

    TToolbarPlacement m_placement = tpBottom;
    bool m_bigIcons = true;
    std::vector<std::unique_ptr<TTlItem>> m_items;
    TBitmap32 m_scaledHover32;
    TBitmap32 m_scaledHover16;
    double m_scaledHoverRatio = 0;
};

// Fades the outer band of the picture (1/25 of its smaller side) to transparent.
void FadeEdges(TBitmap32& bitmap);

// The "Opening..." box in the middle of the view while a large picture loads: a
// thumbnail, the file name and a turning clock. It keeps itself above every other
// layer.
class TProgressbarLayer : public TCustomLayer {
public:
    explicit TProgressbarLayer(TLayerCollection& collection);

    TThreadedTimer ClockTimer; // 300 ms, one clock frame
    [[nodiscard]] const QString& Text() const { return m_text; }
    void SetText(const QString& text);
    QFont TextFont;
    std::int32_t Min = 0;
    std::int32_t Max = 100;
    [[nodiscard]] std::int32_t Position() const { return m_position; }
    // Kept, not drawn.
    void SetPosition(std::int32_t value);
    // Drawn blended at master alpha 235, one picture pixel per logical pixel; every
    // change fades its edges.
    TBitmap32 Thumbnail;
    // Takes a copy of `picture` as the thumbnail (keeping the thumbnail's drawing
    // properties) and fades its edges once.
    void SetThumbnail(const TBitmap32& picture);
    std::array<TBitmap32, 8> ClockFrames;
    int ClockIndex = 0;

    // Shows the box and starts the clock; Stop hides it and stops the clock.
    void Start();
    void Stop();

    // The box, centred in the viewport.
    [[nodiscard]] TRect PanelRect() const;
    [[nodiscard]] TRect Area() const override;
    void Paint(TBitmap32& buffer) override;

private:
    void ThumbnailChanged();
    // Repaints the box where it was and where it is and keeps the layer on top.
    void PanelChanged();
    void BringToTop();
    // The clock frame and the thumbnail as drawn at `ratio`.
    [[nodiscard]] const TBitmap32& ClockFrame(int index, double ratio);
    [[nodiscard]] const TBitmap32& ScaledThumbnail(double ratio);

    QString m_text;
    std::int32_t m_position = 0;
    TRect m_lastPanel; // the box as last repainted
    std::array<TBitmap32, 8> m_scaledClocks;
    std::array<double, 8> m_scaledClockRatios{};
    TBitmap32 m_scaledThumbnail;
    double m_scaledThumbnailRatio = 0;
};

// A translucent tint over the picture's rectangle with an optional centred label.
class TColorLayer : public TCustomLayer {
public:
    explicit TColorLayer(TLayerCollection& collection);

    QFont TextFont;
    // None at first: only the label is drawn.
    [[nodiscard]] bool HasColor() const { return m_hasColor; }
    [[nodiscard]] TColor32 Color() const { return m_color; }
    // Its red, green and blue tint the picture at alpha 150.
    void SetColor(TColor32 colour);
    void ClearColor();
    QString Text;
    // The picture's rectangle in the view in logical pixels; empty (or unset) when
    // none is shown.
    std::function<TRect()> ImageRect;

    void Paint(TBitmap32& buffer) override;

private:
    TColor32 m_color = 0;
    bool m_hasColor = false;
};
