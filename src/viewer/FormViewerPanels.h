#pragma once

#include "app/VekFont.h"

#include <QIcon>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QWidget;
class TBitmap32;
class TLayerCollection;
class TMenuIcons;
class TVekCustomControlLayer;
class TVekEditLayer;
class TVekHistogramLayer;
class TVekMetaDataLayer;

// The viewer's seven panels over the picture (comment, histogram, EXIF, IPTC, XMP,
// GeoTIFF, information), their menus and the commands that show them.
//
// A panel is shown when the user wants to see it, a picture is on screen in the normal
// window, and it has something to show (the comment when the picture has one, a
// metadata panel when it has lines; the histogram always). A panel that comes into
// view is pulled inside the view. The histogram is counted only once somebody looks
// at it, and anew for every picture or page.
class TViewerPanelSet {
public:
    // What the panels ask of the window.
    struct THost {
        // Pops `menu` up at the view point (x, y), in device pixels.
        std::function<void(QMenu* menu, int x, int y)> Popup;
        // The user's wish to see a panel changed.
        std::function<void()> Changed;
        // The font dialog on `current`; none when it was cancelled. The system's
        // font dialog unless set.
        std::function<std::optional<TVekFont>(const TVekFont& current)> AskFont;
    };
    // The panels join `layers` in the stored order (the view paints them in it); their
    // menus and commands are children of `window`.
    TViewerPanelSet(TLayerCollection& layers, QWidget& window, TMenuIcons& icons, THost host);
    ~TViewerPanelSet();
    TViewerPanelSet(const TViewerPanelSet&) = delete;
    TViewerPanelSet& operator=(const TViewerPanelSet&) = delete;

    std::unique_ptr<TVekEditLayer> CommentPanel;
    std::unique_ptr<TVekHistogramLayer> HistogramPanel;
    std::unique_ptr<TVekMetaDataLayer> ExifPanel;
    std::unique_ptr<TVekMetaDataLayer> IptcPanel;
    std::unique_ptr<TVekMetaDataLayer> XmpPanel;
    std::unique_ptr<TVekMetaDataLayer> GeoTiffPanel;
    std::unique_ptr<TVekMetaDataLayer> InfoPanel;

    QMenu* HistogramTBXPopupMenu = nullptr;
    QMenu* CommentTBXPopupMenu = nullptr;
    QMenu* ExifTBXPopupMenu = nullptr;
    QMenu* IptcTBXPopupMenu = nullptr;
    QMenu* XmpTBXPopupMenu = nullptr;
    QMenu* GeoTiffTBXPopupMenu = nullptr;
    QMenu* CommonInfoTBXPopupMenu = nullptr;
    // The histogram menu's four colour swatches.
    std::array<QIcon, 4> ColorsTBXImageList;

    QAction* ShowCommonInfoAction = nullptr;
    QAction* ShowCommentAction = nullptr;
    QAction* ShowHistogramAction = nullptr;
    QAction* ShowExifAction = nullptr;
    QAction* ShowIPTCAction = nullptr;
    QAction* ShowXMPAction = nullptr;
    QAction* ShowGeoTiffAction = nullptr;
    QAction* ShowRedHistogramAction = nullptr;
    QAction* ShowGreenHistogramAction = nullptr;
    QAction* ShowBlueHistoramAction = nullptr;
    QAction* ShowIntensityHistogramAction = nullptr;

    // The user's wish to see each panel, in the store's panel order.
    std::array<bool, 7> ShowPanels{};
    // The shown picture has a comment to show.
    bool CommentAvailable = false;

    // The panel stored under `panel`'s name (comment ... information).
    [[nodiscard]] TVekCustomControlLayer* Panel(int panel) const;
    // The show commands in the picture menu's order.
    [[nodiscard]] std::vector<QAction*> ShowActions() const;

    // The shown file's EXIF, IPTC, XMP, GeoTIFF and information lines; `fill`: into the
    // panels now (else they wait for Fill).
    void SetLines(std::array<QStringList, 5> lines, bool fill);
    void Fill();
    // Empties every panel (no picture is shown); call Update after.
    void Clear();
    // The picture changed (another page): its histogram is counted again when looked at.
    void PictureChanged() { m_histogramStale = true; }
    // Shows and hides the panels for the window's state; the histogram counts `picture`.
    void Update(bool pictureShown, int viewWidth, int viewHeight, const TBitmap32& picture);
    // The show commands' checks and visibility.
    void UpdateActions(bool imageLoaded);
    // Every panel's OnClose: the user no longer wants to see it.
    void PanelClosed(TVekCustomControlLayer& panel);

    // The panels' places, sizes, fonts and options in the store.
    void LoadSettings();
    void SaveSettings();

private:
    void CreateMenus(QWidget& window, TMenuIcons& icons);
    void CreatePanels(TLayerCollection& layers);
    void Wish(int panel, bool shown);
    // The comment when there is one, the histogram always, a metadata panel its lines.
    [[nodiscard]] bool HasContent(int panel) const;

    THost m_host;
    // The histogram panel has not counted the shown picture yet.
    bool m_histogramStale = true;
    std::array<QStringList, 5> m_lines;
};
