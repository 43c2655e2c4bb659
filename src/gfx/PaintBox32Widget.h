#pragma once

#include "gfx/Bitmap32.h"

#include <QWidget>

#include <functional>

// A paint surface with a back buffer of its own size: its owner draws into Buffer() and
// asks for a repaint; the widget only copies the buffer to the screen. The buffer is
// made anew (black) when the widget's size changes.
class TPaintBox32 : public QWidget {
public:
    explicit TPaintBox32(QWidget* parent = nullptr);

    [[nodiscard]] TBitmap32& Buffer() { return m_buffer; }
    [[nodiscard]] const TBitmap32& Buffer() const { return m_buffer; }
    // Makes the buffer fit the widget now (the resize may not have been delivered yet).
    void FitBuffer();

    std::function<void()> OnClick;
    std::function<void(int x, int y)> OnMouseMove;
    std::function<void()> OnMouseLeave;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    TBitmap32 m_buffer;
    bool m_pressed = false;
};
