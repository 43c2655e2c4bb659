#include "viewer/FormViewerSimpleMode.h"

#include "app/ViewerStoreValues.h"

#include <QWidget>

#include <algorithm>

namespace {

// The opacity the window takes for a stored blend value (its low byte counts).
double Opacity(std::int32_t blend) {
    return double(blend & 0xFF) / 255.0;
}

} // namespace

void TViewerSimpleMode::Enter() {
    if (SimpleMode) return;
    QWidget& w = m_window;
    SimpleMode = true;
    NormalBounds = w.isMaximized() || w.isFullScreen() ? w.normalGeometry() : w.geometry();
    m_normalFrameOffset = w.geometry().topLeft() - w.pos();
    SavedWindowState = w.windowState();
    // A tool window has no taskbar entry.
    w.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    w.setWindowState(Qt::WindowNoState);
    w.setGeometry(SimpleLeft, SimpleTop, std::max(SimpleWidth, 1), std::max(SimpleHeight, 1));
    SetOpacity(Opacity(SimpleBlend));
}

void TViewerSimpleMode::Leave() {
    if (!SimpleMode) return;
    QWidget& w = m_window;
    if (PlacesKnown) {
        SimpleLeft = w.geometry().x();
        SimpleTop = w.geometry().y();
    }
    SimpleMode = false;
    w.setWindowFlags(Qt::Window);
    w.setGeometry(NormalBounds);
    w.setWindowState(SavedWindowState);
    SetOpacity(1.0);
}

void TViewerSimpleMode::ApplyGeometry() {
    if (!SimpleMode) return;
    m_window.resize(std::max(SimpleWidth, 1), std::max(SimpleHeight, 1));
    SetOpacity(Opacity(SimpleBlend));
}

void TViewerSimpleMode::TakeSettings(int blend, int width, int height) {
    SimpleBlend = std::clamp(blend, 0, 255);
    if (width > 0) SimpleWidth = width;
    if (height > 0) SimpleHeight = height;
    ApplyGeometry();
}

void TViewerSimpleMode::Drag(int dx, int dy, double ratio) {
    // Where places are unknown the compositor moves the frame (startSystemMove).
    if (!PlacesKnown) return;
    m_window.setGeometry(m_window.geometry().translated(int(dx / ratio), int(dy / ratio)));
}

void TViewerSimpleMode::Load(const TViewerStoreValues& v) {
    m_window.resize(std::max(v.Width, 100), std::max(v.Height, 100));
    m_window.move(v.Left, v.Top);
    m_storedPlace = {v.Left, v.Top};
    if (v.WindowState == 2) m_window.setWindowState(Qt::WindowMaximized);
    SimpleLeft = v.SimpleLeft;
    SimpleTop = v.SimpleTop;
    SimpleWidth = v.SimpleWidth;
    SimpleHeight = v.SimpleHeight;
    SimpleBlend = v.SimpleBlend;
}

void TViewerSimpleMode::Store(TViewerStoreValues& v) {
    const QWidget& w = m_window;
    if (SimpleMode && PlacesKnown) {
        // Where the user dragged the frame; the normal window comes back as it was.
        SimpleLeft = w.geometry().x();
        SimpleTop = w.geometry().y();
    }
    const QRect normal = SimpleMode        ? NormalBounds
                         : w.isMaximized() ? w.normalGeometry()
                                           : w.geometry();
    // The place is stored as the frame's, which is what move() restores: storing the
    // inside would move the window down and right by its frame at every start.
    const QPoint frame = SimpleMode ? m_normalFrameOffset : w.geometry().topLeft() - w.pos();
    // A place the windowing system does not tell (Wayland's 0,0) is no place: the one
    // stored, for the next X11 session, stays.
    v.Left = PlacesKnown ? normal.x() - frame.x() : m_storedPlace.x();
    v.Top = PlacesKnown ? normal.y() - frame.y() : m_storedPlace.y();
    v.Width = normal.width();
    v.Height = normal.height();
    v.WindowState = !SimpleMode && w.isMaximized() ? 2 : 0;
    v.SimpleLeft = SimpleLeft;
    v.SimpleTop = SimpleTop;
    v.SimpleWidth = SimpleWidth;
    v.SimpleHeight = SimpleHeight;
    v.SimpleBlend = SimpleBlend;
}

void TViewerSimpleMode::SetOpacity(double opacity) {
    // Qt's Wayland plugin cannot, and says so on standard error at every call.
    if (OpacityWorks) m_window.setWindowOpacity(opacity);
}
