#include "gfx/Layers.h"

#include "gfx/Bitmap32.h"

#include <algorithm>
#include <cmath>

TCustomLayer::TCustomLayer(TLayerCollection& collection) : m_collection(&collection) {
    collection.Add(this);
}

TCustomLayer::~TCustomLayer() {
    if (m_collection == nullptr) return;
    if (m_visible) m_collection->Invalidate(Area());
    m_collection->Remove(this);
}

int TCustomLayer::Index() const {
    if (m_collection == nullptr) return -1;
    const auto& items = m_collection->m_items;
    return int(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCustomLayer::SetIndex(int index) {
    if (m_collection == nullptr) return;
    auto& items = m_collection->m_items;
    const int from = Index();
    const int to = std::clamp(index, 0, int(items.size()) - 1);
    if (from == to) return;
    items.erase(items.begin() + from);
    items.insert(items.begin() + to, this);
    if (m_visible) Changed();
}

void TCustomLayer::SetVisible(bool value) {
    if (m_visible == value) return;
    m_visible = value;
    if (m_collection == nullptr) return;
    if (!value) {
        // A hidden layer neither keeps the pointer nor the keyboard.
        if (m_collection->m_mouseListener == this) m_collection->m_mouseListener = nullptr;
        if (m_collection->m_keyboardLayer == this) m_collection->m_keyboardLayer = nullptr;
        if (m_collection->m_hoverLayer == this) m_collection->m_hoverLayer = nullptr;
        CancelPointer();
    }
    Changed();
}

double TCustomLayer::DeviceRatio() const {
    return m_collection ? m_collection->DeviceRatio() : 1.0;
}

TRect TCustomLayer::Area() const {
    return m_collection ? m_collection->Viewport() : TRect();
}

void TCustomLayer::Changed() {
    Changed(Area());
}

void TCustomLayer::Changed(const TRect& rect) {
    if (m_collection) m_collection->Invalidate(rect);
}

bool TCustomLayer::HitTest(int, int) {
    return false;
}

void TCustomLayer::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown) OnMouseDown(*this, button, shift, x, y);
}

void TCustomLayer::MouseMove(TShiftState shift, int x, int y) {
    SetScreenCursor(Cursor);
    if (OnMouseMove) OnMouseMove(*this, shift, x, y);
}

void TCustomLayer::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    SetScreenCursor(Cursor);
    if (OnMouseUp) OnMouseUp(*this, button, shift, x, y);
}

void TCustomLayer::KeyDown(std::uint16_t& key, TShiftState shift) {
    if (OnKeyDown) OnKeyDown(*this, key, shift);
}

void TCustomLayer::KeyUp(std::uint16_t& key, TShiftState shift) {
    if (OnKeyUp) OnKeyUp(*this, key, shift);
}

void TCustomLayer::KeyPress(QChar&) {}

void TCustomLayer::Paint(TBitmap32&) {}

void TCustomLayer::SetScreenCursor(Qt::CursorShape shape) {
    if (m_collection && m_collection->OnSetCursor) m_collection->OnSetCursor(shape);
}

TLayerCollection::~TLayerCollection() {
    for (TCustomLayer* layer : m_items) layer->m_collection = nullptr;
}

void TLayerCollection::Add(TCustomLayer* layer) {
    m_items.push_back(layer);
}

void TLayerCollection::Remove(TCustomLayer* layer) {
    std::erase(m_items, layer);
    if (m_mouseListener == layer) m_mouseListener = nullptr;
    if (m_keyboardLayer == layer) m_keyboardLayer = nullptr;
    if (m_hoverLayer == layer) m_hoverLayer = nullptr;
}

void TLayerCollection::Invalidate(const TRect& rect) const {
    if (!rect.IsEmpty() && OnInvalidate) OnInvalidate(DeviceRect(rect));
}

void TLayerCollection::SetDeviceRatio(double ratio) {
    if (!(ratio > 0) || !std::isfinite(ratio)) ratio = 1.0;
    if (ratio == m_ratio) return;
    m_ratio = ratio;
    // A copy: a layer may add or remove others while it makes its pictures anew.
    const std::vector<TCustomLayer*> items = m_items;
    for (TCustomLayer* layer : items)
        if (std::find(m_items.begin(), m_items.end(), layer) != m_items.end())
            layer->DeviceRatioChanged();
    Invalidate(m_viewport);
}

TRect TLayerCollection::DeviceRect(const TRect& logical) const {
    if (m_ratio == 1.0 || logical.IsEmpty()) return logical;
    return {ClampToInt(std::floor(logical.Left * m_ratio)),
            ClampToInt(std::floor(logical.Top * m_ratio)),
            ClampToInt(std::ceil(logical.Right * m_ratio)),
            ClampToInt(std::ceil(logical.Bottom * m_ratio))};
}

int TLayerCollection::LogicalCoord(int device) const {
    if (m_ratio == 1.0) return device;
    return ClampToInt(std::floor((device + 0.5) / m_ratio));
}

TCustomLayer* TLayerCollection::LayerAt(int x, int y) const {
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
        if ((*it)->Visible() && (*it)->MouseEvents() && (*it)->HitTest(x, y)) return *it;
    return nullptr;
}

TCustomLayer* TLayerCollection::MouseDown(TMouseButton button, TShiftState shift, int deviceX,
                                          int deviceY) {
    const int x = LogicalCoord(deviceX), y = LogicalCoord(deviceY);
    TCustomLayer* layer = m_mouseListener ? m_mouseListener : LayerAt(x, y);
    if (layer == nullptr) return nullptr;
    m_mouseListener = layer;
    m_keyboardLayer = layer;
    layer->MouseDown(button, shift, x, y);
    return layer;
}

TCustomLayer* TLayerCollection::MouseMove(TShiftState shift, int deviceX, int deviceY) {
    const int x = LogicalCoord(deviceX), y = LogicalCoord(deviceY);
    TCustomLayer* layer = m_mouseListener ? m_mouseListener : LayerAt(x, y);
    if (m_mouseListener == nullptr && layer != m_hoverLayer) {
        TCustomLayer* left = m_hoverLayer;
        m_hoverLayer = layer;
        if (left) left->MouseLeave();
    }
    if (layer) layer->MouseMove(shift, x, y);
    return layer;
}

void TLayerCollection::MouseLeave() {
    if (m_mouseListener != nullptr || m_hoverLayer == nullptr) return;
    TCustomLayer* left = m_hoverLayer;
    m_hoverLayer = nullptr;
    left->MouseLeave();
}

TCustomLayer* TLayerCollection::MouseUp(TMouseButton button, TShiftState shift, int deviceX,
                                        int deviceY) {
    const int x = LogicalCoord(deviceX), y = LogicalCoord(deviceY);
    TCustomLayer* layer = m_mouseListener ? m_mouseListener : LayerAt(x, y);
    m_mouseListener = nullptr;
    if (layer) layer->MouseUp(button, shift, x, y);
    return layer;
}

bool TLayerCollection::KeyDown(std::uint16_t& key, TShiftState shift) {
    if (m_keyboardLayer == nullptr) return false;
    m_keyboardLayer->KeyDown(key, shift);
    return true;
}

bool TLayerCollection::KeyUp(std::uint16_t& key, TShiftState shift) {
    if (m_keyboardLayer == nullptr) return false;
    m_keyboardLayer->KeyUp(key, shift);
    return true;
}

bool TLayerCollection::KeyPress(QChar& key) {
    if (m_keyboardLayer == nullptr) return false;
    m_keyboardLayer->KeyPress(key);
    return true;
}

void TLayerCollection::Paint(TBitmap32& buffer) {
    const TRect clip = buffer.ClipRect();
    // A copy: a layer may hide or reorder others while painting.
    const std::vector<TCustomLayer*> items = m_items;
    for (TCustomLayer* layer : items) {
        if (!layer->Visible()) continue;
        layer->Paint(buffer);
        buffer.SetClipRect(clip);
    }
}
