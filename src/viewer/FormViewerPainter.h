#pragma once

#include "gfx/BitmapOps.h"
#include "gfx/Transform.h"

#include <QFont>
#include <QString>

class TImgView32;
class TViewerZoom;
struct TDialogStoreValues;

// What the viewer draws under its layers: the background with its messages, the
// picture turned and zoomed (on a checkerboard, or the chosen colour, where it is
// transparent) with its frame, and the quick look while the picture still decodes.
class TViewerPainter {
public:
    explicit TViewerPainter(TImgView32& view);

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
        const TViewerZoom* Zoom = nullptr;
        const TDialogStoreValues* Values = nullptr;
    };
    // One stage of the view's paint: 0 the background, 1 the picture.
    void Paint(TBitmap32& buffer, int stage, const TState& state);

    // The first look at `file` from a reduced decode, drawn for the view as it was.
    void SetQuickLook(const QString& file, TDrawnPicture&& drawn);
    void DropQuickLook() { m_quickLook = TDrawnPicture(); }
    [[nodiscard]] const QString& QuickLookFile() const { return m_quickLookFile; }

    // The fit scale of the shown picture in the view as it is now.
    [[nodiscard]] double FitScale(const TViewerZoom& zoom) const;

private:
    [[nodiscard]] TAffineTransformation PictureTransform(const TViewerZoom& zoom,
                                                         bool simpleMode) const;
    void PaintQuickLook(TBitmap32& buffer, const TState& state);

    TImgView32& m_view;
    QFont m_font;
    TDrawnPicture m_quickLook;
    QString m_quickLookFile;
};
