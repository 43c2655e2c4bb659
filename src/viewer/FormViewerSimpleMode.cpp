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
    w.setWindowOpacity(Opacity(SimpleBlend));
}

void TViewerSimpleMode::Leave() {
    if (!SimpleMode) return;
    QWidget& w = m_window;
    SimpleLeft = w.geometry().x();
    SimpleTop = w.geometry().y();
    SimpleMode = false;
    w.setWindowFlags(Qt::Window);
    w.setGeometry(NormalBounds);
    w.setWindowState(SavedWindowState);
    w.setWindowOpacity(1.0);
}

void TViewerSimpleMode::ApplyGeometry() {
    if (!SimpleMode) return;
    m_window.resize(std::max(SimpleWidth, 1), std::max(SimpleHeight, 1));
    m_window.setWindowOpacity(Opacity(SimpleBlend));
}

void TViewerSimpleMode::TakeSettings(int blend, int width, int height) {
    SimpleBlend = std::clamp(blend, 0, 255);
    if (width > 0) SimpleWidth = width;
    if (height > 0) SimpleHeight = height;
    ApplyGeometry();
}

void TViewerSimpleMode::Drag(int dx, int dy, double ratio) {
    m_window.setGeometry(m_window.geometry().translated(int(dx / ratio), int(dy / ratio)));
}

void TViewerSimpleMode::Load(const TViewerStoreValues& v) {
    m_window.resize(std::max(v.Width, 100), std::max(v.Height, 100));
    m_window.move(v.Left, v.Top);
    if (v.WindowState == 2) m_window.setWindowState(Qt::WindowMaximized);
    SimpleLeft = v.SimpleLeft;
    SimpleTop = v.SimpleTop;
    SimpleWidth = v.SimpleWidth;
    SimpleHeight = v.SimpleHeight;
    SimpleBlend = v.SimpleBlend;
}

void TViewerSimpleMode::Store(TViewerStoreValues& v) {
    const QWidget& w = m_window;
    if (SimpleMode) {
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
    v.Left = normal.x() - frame.x();
    v.Top = normal.y() - frame.y();
    v.Width = normal.width();
    v.Height = normal.height();
    v.WindowState = !SimpleMode && w.isMaximized() ? 2 : 0;
    v.SimpleLeft = SimpleLeft;
    v.SimpleTop = SimpleTop;
    v.SimpleWidth = SimpleWidth;
    v.SimpleHeight = SimpleHeight;
    v.SimpleBlend = SimpleBlend;
}
