#pragma once

#include "platform/WindowSystem.h"

#include <QPoint>
#include <QRect>

#include <cstdint>

class QWidget;
struct TViewerStoreValues;

// Simple mode: the viewer as a small borderless translucent frame that stays on top,
// has no taskbar entry and is moved by dragging its picture. This part turns the
// window into the frame and back and keeps both places: the frame's, and the normal
// window's (frame included, as a window manager restores it) while the frame lasts.
// What the window shows in either is the window's own business.
class TViewerSimpleMode {
public:
    explicit TViewerSimpleMode(QWidget& window) : m_window(window) {}

    bool SimpleMode = false;
    std::int32_t SimpleLeft = 0, SimpleTop = 0, SimpleWidth = 0, SimpleHeight = 0, SimpleBlend = 0;
    // The normal window's place and state when simple mode began.
    QRect NormalBounds;
    Qt::WindowStates SavedWindowState = Qt::WindowNoState;
    // What the windowing system allows; on Wayland neither: the program learns its
    // windows' places (else the stored places are kept as they were, and the compositor
    // moves the frame), and a whole window can be made translucent. Tests set them.
    bool PlacesKnown = ClientPlacesWindows();
    bool OpacityWorks = WindowOpacityWorks();

    // The window becomes the frame, or the normal window again; call them with the
    // window hidden (changing a window's flags shows it anew). Each does nothing when
    // already there.
    void Enter();
    void Leave();
    // SimpleWidth, SimpleHeight and SimpleBlend applied to the frame at once (in simple
    // mode only).
    void ApplyGeometry();
    // The settings dialog's values: the blend within 0..255; a size that is not a
    // positive number would leave a frame nobody can find, so it is not taken.
    void TakeSettings(int blend, int width, int height);
    // The pointer dragged the frame by (dx, dy) device pixels at `ratio`.
    void Drag(int dx, int dy, double ratio);

    // The window placed as stored (the frame's values taken), and the window's place
    // and the frame's values for the store.
    void Load(const TViewerStoreValues& values);
    void Store(TViewerStoreValues& values);

private:
    QWidget& m_window;
    // Where the window's inside lies in its frame, taken when simple mode began.
    QPoint m_normalFrameOffset;
    // The normal window's stored place as read, stored again while places are unknown.
    QPoint m_storedPlace;

    void SetOpacity(double opacity);
};
