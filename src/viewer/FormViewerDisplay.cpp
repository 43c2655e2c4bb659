#include "viewer/FormViewerDisplay.h"

#include "app/DialogStoreValues.h"
#include "app/FileHelpers.h"
#include "app/GuiThread.h"
#include "app/RotateAngleList.h"
#include "gfx/BitmapOps.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/ViewerZoom.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekHistogramLayer.h"
#include "loading/ShellThumbnail.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"
#include "viewer/FormViewerPanels.h"
#include "viewer/FormViewerPicture.h"
#include "viewer/FormViewerSimpleMode.h"
#include "viewer/FormViewerToolbars.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// Files above 1.1 MiB get a thumbnail while they decode.
constexpr qint64 kLargeFileSize = 1153433;

} // namespace

void TraceViewer(const char* what, const QString& path) {
    static const bool enabled = qEnvironmentVariableIsSet("PICTREL_TRACE_OPEN");
    if (enabled) std::fprintf(stderr, "pictrel: %s %s\n", what, path.toLocal8Bit().constData());
}

TViewerDisplay::TViewerDisplay(TViewerState& state, TParts parts, THost host)
    : m_state(state), m_parts(parts), m_host(std::move(host)), m_view(parts.View),
      m_loader(parts.Loader), m_nav(parts.Navigator) {}

TViewerDisplay::~TViewerDisplay() {
    m_frameThumbnail.Shutdown();
}

void TViewerDisplay::Show(TNavShow how, const QString& file, bool keepPrevious) {
    switch (how) {
    case TNavShow::nsPicture:
        // The picture leaving the screen is kept for a step back; otherwise it goes
        // with the loader's emptied bitmap.
        if (keepPrevious) m_state.PreviousPicture.SwapPixels(m_view.Bitmap);
        ShowLoadedImage();
        break;
    case TNavShow::nsPage:
        ShowLoadedPage();
        break;
    case TNavShow::nsFailed:
        ShowLoadError(file);
        break;
    case TNavShow::nsPageFailed:
        ShowPageError();
        break;
    case TNavShow::nsPlaceholder:
        // Back the way we came: the retained picture stands in while it decodes again.
        m_view.BeginUpdate();
        m_view.Bitmap.SwapPixels(m_state.PreviousPicture);
        m_view.EndUpdate();
        m_state.LoadFailed = false;
        m_view.Invalidate();
        break;
    case TNavShow::nsEmpty:
        ShowEmpty();
        break;
    }
}

bool TViewerDisplay::QuickLookWanted(const QString& file) const {
    return !m_state.ImageLoaded && !m_state.LoadFailed && m_nav.Displaying() &&
           file == m_nav.Target();
}

void TViewerDisplay::Clear() {
    m_parts.Pages.Stop();
    m_view.Bitmap.Delete();
    m_state.ImageLoaded = false;
    m_state.LoadFailed = false;
    m_state.PagesToolbarVisible = false;
    ClearPanels();
    m_view.Invalidate();
}

void TViewerDisplay::ClearPanels() {
    m_parts.Panels.Clear();
    m_host.PanelsChanged();
}

void TViewerDisplay::LoadStarted(const QString& fileName) {
    // A prefetch changes nothing on screen.
    if (!m_nav.Displaying() || m_nav.Target() != fileName) return;
    const bool large = FileSizeOf(fileName) > kLargeFileSize;
    const int angle = m_parts.Angles.Angle(fileName);
    const bool upright = m_parts.Values.ExifOrientation;
    if (m_nav.PageLoad()) {
        // The shown page stays until the next one is there.
        m_parts.Toolbars.StartOpening(fileName, large && !m_parts.Simple.SimpleMode, false, angle,
                                      upright);
        return;
    }
    m_state.LoadFailed = false;
    m_state.ImageLoaded = false;
    m_parts.Pages.Stop();
    if (!m_parts.Simple.SimpleMode) {
        m_parts.Toolbars.StartOpening(fileName, large, true, angle, upright);
        return;
    }
    if (!large) return;
    // The frame shows the thumbnail in place of the picture until the picture is there.
    ShellThumbnailAsync(m_frameThumbnail, fileName, m_parts.Simple.SimpleWidth, clBlack32,
                        m_parts.Simple.SimpleHeight, upright,
                        [this, fileName, angle](TBitmap32&& t) {
                            if (!m_parts.Simple.SimpleMode || !QuickLookWanted(fileName)) return;
                            TurnQuarter(t, angle);
                            m_parts.Picture.Replace(t, m_parts.Values.FilterKind);
                        });
}

void TViewerDisplay::ShowLoadedImage() {
    PICTREL_ASSERT_GUI_THREAD();
    m_parts.Toolbars.StopOpening();
    m_state.ShownHasAlpha = m_loader.HasAlpha();
    const QString shown = m_loader.FileName();
    TraceViewer("shown", shown);
    m_parts.Zoom.FitMode = true;
    m_state.ImageLoaded = true;
    m_state.LoadFailed = false;
    m_parts.Picture.DropQuickLook();

    m_view.BeginUpdate();
    m_parts.Picture.TakeLoaded(m_loader, m_parts.Values.FilterKind);
    m_host.Caption(shown);
    m_parts.Zoom.RotationAngle = m_parts.Angles.Angle(shown);
    m_parts.Panels.SetLines({m_loader.ExifList(), m_loader.IptcList(), m_loader.XmpList(),
                             m_loader.GeoTiffList(), m_loader.InfoList()},
                            !m_parts.Simple.SimpleMode);
    m_host.PanelsChanged();
    m_view.Invalidate();
    m_view.EndUpdate();

    const TVekImageKind kind = m_loader.ImageKind();
    m_state.PageCount = m_loader.PageCount();
    m_state.PageIndex = m_state.RequestedPage = std::max(m_loader.PageIndex(), 0);
    m_state.PagesToolbarVisible = (kind == TVekImageKind::ikTiff || kind == TVekImageKind::ikIcon ||
                                   kind == TVekImageKind::ikModern) &&
                                  m_state.PageCount >= 2;
    m_parts.Toolbars.SetPages(m_state.PagesToolbarVisible ? m_state.PageCount : 0);

    m_parts.Pages.Stop();
    m_parts.Pages.Clear();
    m_parts.Pages.Assign(m_loader);
    m_loader.ReleaseSource();
    if (kind == TVekImageKind::ikGif) m_parts.Pages.Play();
    m_host.ToolbarChanged();
    m_host.PagesChanged();
    // "Edit" chooses among the installed desktop entries; they are read here, on a
    // worker, while the user looks, so the command itself reads nothing.
    if (m_host.PictureShown) m_host.PictureShown();
}

void TViewerDisplay::ShowLoadError(const QString& file) {
    m_state.PagesToolbarVisible = false;
    m_parts.Toolbars.PagesToolbar->SetVisible(false);
    m_state.ShownHasAlpha = false;
    TraceViewer("failed", file);
    m_state.ImageLoaded = false;
    m_parts.Pages.Stop();
    m_parts.Pages.Clear();
    m_view.Bitmap.Delete();
    m_host.Caption(file);
    ClearPanels();
    m_state.LoadFailed = true;
    m_state.ErrorText = QStringLiteral("Can't open image");
    m_view.Invalidate();
    m_parts.Toolbars.StopOpening();
    m_host.ToolbarChanged();
}

void TViewerDisplay::ShowLoadedPage() {
    m_parts.Toolbars.StopOpening();
    m_state.ShownHasAlpha = m_loader.HasAlpha();
    m_state.ImageLoaded = true;
    m_state.LoadFailed = false;
    m_state.PageIndex = m_state.RequestedPage = m_loader.PageIndex();
    m_view.BeginUpdate();
    m_parts.Picture.TakeLoaded(m_loader, m_parts.Values.FilterKind);
    m_loader.ReleaseSource();
    m_view.Bitmap.Changed();
    // A new page has its own colours; the metadata stays the file'm_state.
    m_parts.Panels.PictureChanged();
    m_host.PanelsChanged();
    m_view.EndUpdate();
    m_view.Invalidate();
    m_parts.Picture.SetFilter(m_parts.Values.FilterKind);
    m_host.PagesChanged();
}

void TViewerDisplay::ShowPageError() {
    m_parts.Toolbars.StopOpening();
    m_state.ImageLoaded = false;
    m_state.LoadFailed = true;
    m_state.ErrorText = QStringLiteral("Can't open image");
    m_view.Bitmap.Delete();
    m_parts.Panels.HistogramPanel->Analyze(nullptr);
    m_parts.Panels.PictureChanged();
    m_host.PanelsChanged();
    m_view.Invalidate();
    // The pages stay, so another one can be chosen.
    m_host.PagesChanged();
}

void TViewerDisplay::ShowEmpty() {
    m_state.ImageLoaded = false;
    m_state.LoadFailed = false;
    m_state.PagesToolbarVisible = false;
    m_parts.Pages.Stop();
    m_parts.Pages.Clear();
    m_view.Bitmap.Delete();
    m_parts.Toolbars.StopOpening();
    m_host.Caption(QString());
    ClearPanels();
    m_view.Invalidate();
}
