#pragma once

#include "gfx/Bitmap32.h"

#include <QSize>
#include <QWidget>

#include <functional>

// A paint surface with a back buffer of its own size in device pixels: its owner draws
// into Buffer() and asks for a repaint; the widget only copies the buffer to the
// screen, one buffer pixel on one device pixel, so what the owner draws stays sharp on
// HiDPI screens. The buffer is made anew (black) when the widget's size or its device
// pixel ratio changes; the latter (the window moved to a screen of another ratio) is
// told through OnDeviceRatioChange, so the owner can draw its pictures anew at the new
// ratio. Pointer positions stay logical.
class TPaintBox32 : public QWidget {
public:
    explicit TPaintBox32(QWidget* parent = nullptr);

    [[nodiscard]] TBitmap32& Buffer() { return m_buffer; }
    [[nodiscard]] const TBitmap32& Buffer() const { return m_buffer; }
    // Makes the buffer fit the widget now (the resize may not have been delivered yet).
    void FitBuffer();

    // The device pixel ratio of the screen the box is on.
    [[nodiscard]] double DeviceRatio() const { return devicePixelRatioF(); }
    // The widget's size in device pixels: the buffer's once it fits.
    [[nodiscard]] QSize DeviceSize() const;

    std::function<void()> OnClick;
    std::function<void(int x, int y)> OnMouseMove;
    std::function<void()> OnMouseLeave;
    // After the buffer was made anew for another device pixel ratio.
    std::function<void()> OnDeviceRatioChange;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void RatioMayHaveChanged();

    TBitmap32 m_buffer;
    // The ratio the buffer was last fitted at.
    double m_ratio = 1;
    bool m_pressed = false;
};
