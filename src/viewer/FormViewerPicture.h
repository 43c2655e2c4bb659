#pragma once

#include "gfx/BitmapOps.h"
#include "gfx/Transform.h"
#include "gfx/ViewerZoom.h"

#include <QFont>
#include <QPoint>
#include <QString>

#include <functional>

class TImgView32;
class TVekImageLoaderPro;

struct TDialogStoreValues;

// The picture in the viewer's view: taken into it, zoomed and panned, and drawn under
// the layers: the background with its messages, the picture turned and zoomed (on a
// checkerboard, or the chosen colour, where it is transparent) with its frame, and the
// quick look while the picture still decodes. The zoom's state (fit mode, scale, turn)
// is the window's; this part applies it.
class TViewerPicture {
public:
    TViewerPicture(TImgView32& view, TViewerZoom& zoom);

    // The loader's picture into the view, moved, not copied, with the loader's drawing
    // of it for the view; what the view held goes with the loader's emptied bitmap.
    void TakeLoaded(TVekImageLoaderPro& loader, int filterKind);
    // `picture` (an animation's next frame, a thumbnail) in place of the shown one;
    // `picture` is left empty.
    void Replace(TBitmap32& picture, int filterKind);
    // The shown picture drawn with another filter.
    void SetFilter(int filterKind);

    // The fit scale of the shown picture in the view as it is now.
    [[nodiscard]] double FitScale() const;
    // The zoom's new scale to the view (`wasFitted`: the zoom left fit mode), and
    // OnZoomChanged.
    void ApplyZoom(bool wasFitted);
    void SetZoom(double value) { ApplyZoom(m_zoom.SetZoom(value)); }
    // One step in (direction > 0) or out, from the fit scale when fitted.
    void ZoomBy(int direction);
    // A wheel turn of `delta` eighths of a degree.
    void Wheel(int delta);
    // Fitted to the window again.
    void Fit();
    std::function<void()> OnZoomChanged;

    // Dragging the zoomed picture with the left button: from the press at (x, y) in
    // device pixels; Pan is false when no drag is on.
    void StartPan(int x, int y);
    bool Pan(int x, int y);
    void EndPan() { m_panning = false; }

    // The window's state as the painting needs it.
    struct TState {
        bool ImageLoaded = false;
        bool LoadFailed = false;
        bool SimpleMode = false;
        bool HasAlpha = false;
        // Nothing is shown and nothing is on its way: "No preview available".
        bool NothingToShow = false;
        // The quick look still stands in for the picture being opened.
        bool QuickLookWanted = false;
        QString ErrorText;
        // The file that failed, said under the error.
        QString ErrorPath;
        const TDialogStoreValues* Values = nullptr;
    };
    // One stage of the view's paint: 0 the background, 1 the picture.
    void Paint(TBitmap32& buffer, int stage, const TState& state);

    // The first look at `file` from a reduced decode, drawn for the view as it was.
    void SetQuickLook(const QString& file, TDrawnPicture&& drawn);
    void DropQuickLook() { m_quickLook = TDrawnPicture(); }
    [[nodiscard]] const QString& QuickLookFile() const { return m_quickLookFile; }

private:
    [[nodiscard]] TAffineTransformation PictureTransform(bool simpleMode) const;
    void PaintQuickLook(TBitmap32& buffer, const TState& state);

    TImgView32& m_view;
    TViewerZoom& m_zoom;
    bool m_panning = false;
    QPoint m_panFrom;
    QFont m_font;
    TDrawnPicture m_quickLook;
    QString m_quickLookFile;
};
