#pragma once

#include "app/BackgroundWork.h"
#include "gfx/Bitmap32.h"
#include "viewer/ViewerNavigator.h"

#include <QString>

#include <functional>

class TImgView32;
class TRotateAngleList;
class TVekImageLoaderPro;
class TVekMultipageBitmap;
class TViewerPanelSet;
class TViewerPicture;
class TViewerSimpleMode;
class TViewerToolbars;
class TViewerZoom;
struct TDialogStoreValues;

// With PICTREL_TRACE_OPEN set, prints "pictrel: <what> <path>" on standard error.
void TraceViewer(const char* what, const QString& path);

// What the viewer shows now. The window and its display part share it; the display
// part alone changes it.
struct TViewerState {
    bool ImageLoaded = false;
    bool LoadFailed = false;
    QString ErrorText;
    bool ShownHasAlpha = false;
    // The picture that left the screen at the last step, kept for a step back.
    TBitmap32 PreviousPicture;
    // The pages toolbar: shown for TIFF, icon and HEIF files of two or more pages.
    bool PagesToolbarVisible = false;
    // The shown page of a multi-page file, the page asked for last, and their count.
    int PageIndex = 0;
    int RequestedPage = 0;
    int PageCount = 0;
};

// Puts on screen what the navigator decided: the decoded picture or page with its
// panels, pages and caption, the error of a file that cannot be shown, the empty view,
// the picture kept for a step back while its file decodes again; and the "Opening..."
// box (or simple mode's thumbnail) while a displayed file decodes.
class TViewerDisplay {
public:
    // The window's parts it works with.
    struct TParts {
        TImgView32& View;
        TVekImageLoaderPro& Loader;
        TVekMultipageBitmap& Pages;
        TViewerPicture& Picture;
        TViewerPanelSet& Panels;
        TViewerToolbars& Toolbars;
        const TViewerSimpleMode& Simple;
        TViewerZoom& Zoom;
        const TRotateAngleList& Angles;
        const TDialogStoreValues& Values;
        const TViewerNavigator& Navigator;
    };
    struct THost {
        // The window's caption for `file` (none: the program's name alone).
        std::function<void(const QString& file)> Caption;
        // The panels and the commands follow what is shown.
        std::function<void()> PanelsChanged;
        std::function<void()> ToolbarChanged;
        std::function<void()> PagesChanged;
        // A picture is on screen (the window prepares what its commands need).
        std::function<void()> PictureShown;
    };
    TViewerDisplay(TViewerState& state, TParts parts, THost host);
    ~TViewerDisplay();

    // Performs one of the navigator's decisions.
    void Show(TNavShow how, const QString& file, bool keepPrevious);
    // The loader began `file`: the box comes up for a displayed file.
    void LoadStarted(const QString& file);
    // Whether a first look at `file` still stands in for the picture being opened.
    [[nodiscard]] bool QuickLookWanted(const QString& file) const;
    // Nothing on screen any more (the slideshow took the picture over).
    void Clear();
    // Stops the work on workers (the window is going).
    void Shutdown() { m_frameThumbnail.Shutdown(); }

private:
    void ShowLoadedImage();
    void ShowLoadError(const QString& file);
    void ShowLoadedPage();
    void ShowPageError();
    void ShowEmpty();
    void ClearPanels();

    TViewerState& m_state;
    TParts m_parts;
    THost m_host;
    TImgView32& m_view;
    TVekImageLoaderPro& m_loader;
    const TViewerNavigator& m_nav;
    // The thumbnail simple mode's frame shows while a large file decodes.
    TBackgroundWork m_frameThumbnail;
};
