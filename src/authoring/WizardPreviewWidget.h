#pragma once

#include "app/BackgroundWork.h"
#include "gfx/Bitmap32.h"
#include "gfx/ImageViewModel.h"
#include "gfx/ViewerZoom.h"
#include "loading/VekImageLoaderPro.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

// The wizard's picture preview: the focused file decoded on the loader's worker and
// fitted there into the box, shown turned by the preview's own angle with a soft shadow
// and a frame; "No preview available" when nothing is focused, "Can't open image" when
// the file cannot be read, and the file's name with the progress while it loads.
//
// Each picture first shows fitted; the zoom commands and the wheel show it at a scale of
// their own (zooming about the box's centre), and the left button then drags it about.
// Scales at or below the fitted one are drawn from the fitted copy, larger ones from the
// decoded picture, so a repaint only ever samples the box's own pixels.
//
// The picture is fitted and drawn in device pixels, so it stays sharp on HiDPI screens:
// scales are picture pixels per device pixel (1 is the viewer's actual size), and the
// fitted copy is laid whole pixel on whole device pixel. When the box moves to a screen
// of another ratio, the decoded picture is fitted again on a worker.
class TWizardPreview : public QWidget {
public:
    explicit TWizardPreview(QWidget* parent = nullptr);
    ~TWizardPreview() override;

    // Loads `file` (empty: nothing to preview).
    void ShowFile(const QString& file);
    // The preview's own turn in degrees (a multiple of 90); it changes nothing else.
    void SetAngle(int angle);
    [[nodiscard]] int Angle() const { return m_zoom.RotationAngle; }

    // A picture is decoded and shown.
    [[nodiscard]] bool Available() const { return !m_fitted.Empty() && m_error.isEmpty(); }
    [[nodiscard]] bool Loading() const { return m_loading; }
    [[nodiscard]] const QString& ErrorText() const { return m_error; }

    // The zoom commands; each leaves fit mode and does nothing without a picture.
    // "Fit width": the whole turned picture in the box, enlarged too; "Actual size": 1.
    void ZoomFit();
    void ActualSize();
    void ZoomIn();
    void ZoomOut();
    // One wheel turn of `delta` units (120 a notch; positive zooms in).
    void WheelZoom(int delta);
    [[nodiscard]] bool FitMode() const { return m_zoom.FitMode; }
    // The scale the picture is drawn at now (the fit scale in fit mode).
    [[nodiscard]] double Scale() const;

    // The fitted copy of the picture, in device pixels.
    [[nodiscard]] const TBitmap32& Fitted() const { return m_fitted; }

    // Called on the GUI thread when a picture arrives, with its file: the turn to show it
    // with (the viewer's remembered turn); when unset the preview's angle stays.
    std::function<int(const QString&)> AngleOf;
    // Called whenever Available() or Loading() may have changed.
    std::function<void()> OnStateChange;

    static constexpr int kSide = 185;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void Changed();
    // The capped fit scale of the turned picture (what fit mode shows).
    [[nodiscard]] double FitScale() const;
    // After a change of the zoom's scale: the view follows, centred when fit mode ended.
    void Zoomed(bool recentre);
    void DrawPicture(QPainter& painter);
    // The box's side in device pixels, and the square a picture is fitted into.
    [[nodiscard]] int DeviceSide() const;
    [[nodiscard]] int FitBox() const { return DeviceSide() - TViewerZoom::kFitMargin; }
    void RatioMayHaveChanged();
    // Fits the decoded picture at the current ratio on a worker.
    void Refit();
    [[nodiscard]] QPoint DevicePoint(const QPointF& p) const;

    TVekImageLoaderPro m_loader;
    // As decoded; shared with a worker that fits it again.
    std::shared_ptr<const TBitmap32> m_source = std::make_shared<TBitmap32>();
    TBitmap32 m_fitted; // fitted into the box on a worker
    TViewerZoom m_zoom;
    TImageViewModel m_view;
    QString m_file;
    QString m_error;
    QPoint m_dragFrom; // device pixels
    int m_percent = 0;
    bool m_loading = false;
    bool m_dragging = false;
    double m_ratio = 1;       // the ratio the view is laid out for
    double m_loadRatio = 1;   // the ratio the running load fits at
    double m_fittedRatio = 1; // the ratio m_fitted was fitted at
    // Last: joined first, so no fit meets a half-destroyed preview.
    TBackgroundWork m_refit;
};
