#pragma once

#include "gfx/Geometry.h"

#include <QChar>
#include <Qt>

#include <cstdint>
#include <functional>
#include <vector>

class TBitmap32;
class TLayerCollection;

enum class TMouseButton : std::uint8_t { mbLeft, mbRight, mbMiddle };
// Keys and buttons held during an event; ssDouble marks the press of a double click.
enum TShiftStateFlag : std::uint8_t {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};
using TShiftState = std::uint8_t;

// Something drawn over the view's picture that may take the pointer and the keyboard:
// a panel, a toolbar, a progress box. A layer joins its collection when made and leaves
// it when destroyed; whoever made it owns it.
//
// A layer works in logical pixels: its rectangles, hit tests, pointer positions and
// repaint requests. It paints into the view's buffer of device pixels, at the
// collection's DeviceRatio() (see TLayerCanvas in the layers library).
class TCustomLayer {
public:
    explicit TCustomLayer(TLayerCollection& collection);
    virtual ~TCustomLayer();
    TCustomLayer(const TCustomLayer&) = delete;
    TCustomLayer& operator=(const TCustomLayer&) = delete;

    [[nodiscard]] TLayerCollection& LayerCollection() const { return *m_collection; }
    // Device pixels per logical pixel of the view it paints on; 1 once detached.
    [[nodiscard]] double DeviceRatio() const;
    // Position in paint order, 0 painted first.
    [[nodiscard]] int Index() const;
    void SetIndex(int index);
    [[nodiscard]] bool Visible() const { return m_visible; }
    void SetVisible(bool value);
    [[nodiscard]] bool MouseEvents() const { return m_mouseEvents; }
    void SetMouseEvents(bool value) { m_mouseEvents = value; }
    Qt::CursorShape Cursor = Qt::ArrowCursor;

    // The view area the layer covers, repainted by Changed(): the whole viewport here;
    // positioned layers return their rectangle.
    [[nodiscard]] virtual TRect Area() const;
    void Changed();
    void Changed(const TRect& rect);

    virtual bool HitTest(int x, int y);
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void KeyDown(std::uint16_t& key, TShiftState shift);
    virtual void KeyUp(std::uint16_t& key, TShiftState shift);
    virtual void KeyPress(QChar& key);
    virtual void Paint(TBitmap32& buffer);
    // The pointer went from this layer to another one, to the picture, or out of the view.
    virtual void MouseLeave() {}
    // The layer was hidden: a press it took will see no release.
    virtual void CancelPointer() {}
    // The view's device pixel ratio changed; a layer keeping pictures drawn at the old
    // ratio makes them anew. The collection repaints the whole view afterwards.
    virtual void DeviceRatioChanged() {}

    std::function<void(TCustomLayer&, TMouseButton, TShiftState, int, int)> OnMouseDown, OnMouseUp;
    std::function<void(TCustomLayer&, TShiftState, int, int)> OnMouseMove;
    std::function<void(TCustomLayer&, std::uint16_t&, TShiftState)> OnKeyDown, OnKeyUp;

protected:
    void SetScreenCursor(Qt::CursorShape shape);

private:
    friend class TLayerCollection;
    TLayerCollection* m_collection;
    bool m_visible = true;
    bool m_mouseEvents = false;
};

// The layers of one view in paint order. It routes the pointer (a layer that took a
// press keeps the pointer until the release; otherwise the top-most layer that wants
// the point gets it) and the keyboard (to the layer that took the last press), and
// passes repaint requests and cursor changes on to the view.
//
// The view speaks device pixels, the layers logical ones: pointer positions reach the
// collection in device pixels and the layers as the logical pixel holding the device
// pixel's centre; a layer's repaint request reaches OnInvalidate as every device pixel
// the logical rectangle touches. At a ratio of 1 both are the same.
class TLayerCollection {
public:
    TLayerCollection() = default;
    // Layers still here are detached: their owners may destroy them later.
    ~TLayerCollection();
    TLayerCollection(const TLayerCollection&) = delete;
    TLayerCollection& operator=(const TLayerCollection&) = delete;

    [[nodiscard]] int Count() const { return int(m_items.size()); }
    [[nodiscard]] TCustomLayer* Items(int index) const { return m_items.at(std::size_t(index)); }

    // Device pixels of the view to repaint.
    std::function<void(const TRect&)> OnInvalidate;
    std::function<void(Qt::CursorShape)> OnSetCursor;
    // The view in logical pixels.
    void SetViewport(const TRect& viewport) { m_viewport = viewport; }
    [[nodiscard]] TRect Viewport() const { return m_viewport; }

    [[nodiscard]] double DeviceRatio() const { return m_ratio; }
    // A ratio that is not a positive number counts as 1. A change tells every layer
    // (DeviceRatioChanged) and repaints the viewport.
    void SetDeviceRatio(double ratio);
    // The device pixels a logical rectangle touches: near edges rounded down, far
    // ones up.
    [[nodiscard]] TRect DeviceRect(const TRect& logical) const;
    // The logical pixel holding the centre of device pixel `device` (one axis).
    [[nodiscard]] int LogicalCoord(int device) const;

    // Positions in device pixels. The layer that took the event, or null: the view
    // then handles it itself.
    TCustomLayer* MouseDown(TMouseButton button, TShiftState shift, int deviceX, int deviceY);
    TCustomLayer* MouseMove(TShiftState shift, int deviceX, int deviceY);
    TCustomLayer* MouseUp(TMouseButton button, TShiftState shift, int deviceX, int deviceY);
    [[nodiscard]] TCustomLayer* MouseListener() const { return m_mouseListener; }
    // The pointer left the view: the layer under it hears of it, unless one holds it.
    void MouseLeave();
    [[nodiscard]] TCustomLayer* KeyboardLayer() const { return m_keyboardLayer; }
    void SetKeyboardLayer(TCustomLayer* layer) { m_keyboardLayer = layer; }
    // False when no layer has the keyboard.
    bool KeyDown(std::uint16_t& key, TShiftState shift);
    bool KeyUp(std::uint16_t& key, TShiftState shift);
    bool KeyPress(QChar& key);

    // Paints the visible layers in order; each finds the buffer's clip rectangle as
    // the view set it.
    void Paint(TBitmap32& buffer);

private:
    friend class TCustomLayer;
    void Add(TCustomLayer* layer);
    void Remove(TCustomLayer* layer);
    void Invalidate(const TRect& rect) const;
    [[nodiscard]] TCustomLayer* LayerAt(int x, int y) const;

    std::vector<TCustomLayer*> m_items;
    TRect m_viewport;
    double m_ratio = 1.0;
    TCustomLayer* m_mouseListener = nullptr;
    TCustomLayer* m_keyboardLayer = nullptr;
    // The layer the pointer was over at the last move.
    TCustomLayer* m_hoverLayer = nullptr;
};
