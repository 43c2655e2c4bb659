#pragma once

#include "app/BackgroundWork.h"
#include "app/DialogStoreValues.h"
#include "app/RotateAngleList.h"
#include "app/ThreadedTimer.h"
#include "app/VekFont.h"
#include "app/WallpaperStyle.h"
#include "gfx/Bitmap32.h"
#include "gfx/Layers.h"
#include "gfx/ViewerZoom.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"
#include "platform/StoreSnapshot.h"
#include "viewer/ViewerNavigator.h"

#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <QIcon>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QMenu;
class QPrinter;
class TAppContext;
class TColorLayer;
class TImgView32;
class TProgressbarLayer;
class TTlItem;
class TTlLabel;
class TToolbarLayer;
class TVekCustomControlLayer;
class TVekEditLayer;
class TVekHistogramLayer;
class TVekMetaDataLayer;
class TVekThreadedMethod;

// The image viewer window: one picture in a layered view, decoded off the GUI thread
// by the window's own loader, stepped through the images of its folder with one
// picture prefetched ahead, zoomed, panned and turned.
//
// Opening a file starts its decode at once; the folder is listed on a worker (in the
// natural order a file manager shows) while the picture decodes, so a large folder
// never holds the window up. The navigation list is empty until that listing arrives.
// What to decode, prefetch and show is decided by a TViewerNavigator; the window
// performs its decisions, and FileList, FileIndex, ShowOnLoad, Forward, PrefetchDone
// and PrefetchFailed mirror its state after every event.
//
// The hand-off: while visible, a hand-off message is answered with 13 and the file
// named by "New file name" is opened from `OpenViewerTimer` (1 ms) after the reply has
// gone; `MessageTimer` (10 ms) then brings the window to the front. With
// PICTREL_TRACE_OPEN set, every OpenFile call prints "pictrel: open <path>" on
// standard error, and every displayed load "pictrel: shown <path>" or
// "pictrel: failed <path>".
class TMainForm : public QWidget {
public:
    explicit TMainForm(TAppContext& context);
    ~TMainForm() override;

    // Components.
    TImgView32* ImgView32 = nullptr;
    TVekImageLoaderPro VekImageLoaderPro;
    TVekMultipageBitmap VekMultipageBitmap;
    TThreadedTimer MessageTimer;
    TThreadedTimer OpenViewerTimer;
    TThreadedTimer CacheTimer;
    QMenu* PagesPopupMenu = nullptr;
    // The picture's menu (right button over the picture) and one menu per panel.
    QMenu* ImageTBXPopupMenu = nullptr;
    QMenu* SimpleModeTBXPopupMenu = nullptr;
    QMenu* HistogramTBXPopupMenu = nullptr;
    QMenu* CommentTBXPopupMenu = nullptr;
    QMenu* ExifTBXPopupMenu = nullptr;
    QMenu* IptcTBXPopupMenu = nullptr;
    QMenu* XmpTBXPopupMenu = nullptr;
    QMenu* GeoTiffTBXPopupMenu = nullptr;
    QMenu* CommonInfoTBXPopupMenu = nullptr;
    // Menu icons by their index in the icon name list, loaded on a worker at start-up
    // (null icons until then); the histogram menu's four colour swatches.
    std::vector<QIcon> TBXImageList;
    std::array<QIcon, 4> ColorsTBXImageList;

    // The layers over the picture, in the view's paint order. Declared after the
    // components they call, so they go first.
    std::unique_ptr<TVekEditLayer> CommentPanel;
    std::unique_ptr<TVekHistogramLayer> HistogramPanel;
    std::unique_ptr<TVekMetaDataLayer> ExifPanel;
    std::unique_ptr<TVekMetaDataLayer> IptcPanel;
    std::unique_ptr<TVekMetaDataLayer> XmpPanel;
    std::unique_ptr<TVekMetaDataLayer> GeoTiffPanel;
    std::unique_ptr<TVekMetaDataLayer> InfoPanel;
    std::unique_ptr<TColorLayer> TintLayer;
    std::unique_ptr<TProgressbarLayer> ProgressPanel;
    std::unique_ptr<TToolbarLayer> MainToolbar;
    std::unique_ptr<TToolbarLayer> PagesToolbar;
    // The page number between the page toolbar's buttons.
    TTlLabel* PageNumberLabel = nullptr;
    std::unique_ptr<TVekThreadedMethod> LoadIconsVekThreadedMethod;

    QAction* OpenAction = nullptr;
    QAction* PreviousAction = nullptr;
    QAction* NextAction = nullptr;
    QAction* ZoomInAction = nullptr;
    QAction* ZoomOutAction = nullptr;
    QAction* ZoomFitAction = nullptr;
    QAction* ZoomRealAction = nullptr;
    QAction* RotateLeftAction = nullptr;
    QAction* RotateRightAction = nullptr;
    QAction* PrevPageAction = nullptr;
    QAction* NextPageAction = nullptr;
    QAction* DeleteAction = nullptr;
    QAction* ExitAction = nullptr;
    // Their windows come later; until then these stay disabled.
    QAction* SlideShowAction = nullptr;
    QAction* WizardSlideShowAction = nullptr;
    QAction* SettingsAction = nullptr;
    // "Simple mode" / "Normal mode".
    QAction* SimpleModeAction = nullptr;
    QAction* PrintAction = nullptr;
    // "Set as wallpaper" runs the optimal one; the submenu offers all four.
    QAction* WallpaperAction = nullptr;
    QAction* OptimalWallpaperAction = nullptr;
    QAction* TileWallpaperAction = nullptr;
    QAction* CenterWallpaperAction = nullptr;
    QAction* StretchWallpaperAction = nullptr;
    QMenu* WallpaperTBXSubmenu = nullptr;
    QAction* OpenEditAction = nullptr;
    // Do nothing when executed.
    QAction* PropertiesAction = nullptr;
    QAction* HelpAction = nullptr;
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

    // State. The navigation fields mirror the navigator (read-only for others).
    QStringList FileList;
    int FileIndex = 0;
    QString FileToOpen;
    bool ImageLoaded = false;
    bool LoadFailed = false;
    QString ErrorText;
    bool ShowOnLoad = false;
    bool Forward = true;
    bool PrefetchDone = false;
    bool PrefetchFailed = false;
    TBitmap32 PreviousPicture;
    // FitMode, ZoomScale and RotationAngle.
    TViewerZoom Zoom;
    TRotateAngleList RotateAngles;
    bool ShownHasAlpha = false;
    bool CommentAvailable = false;
    bool SimpleMode = false;
    std::int32_t SimpleLeft = 0, SimpleTop = 0, SimpleWidth = 0, SimpleHeight = 0, SimpleBlend = 0;
    // The normal window's place and state when simple mode began.
    QRect NormalBounds;
    Qt::WindowStates SavedWindowState = Qt::WindowNoState;
    QPoint DragStart;
    // The user's wish to see each panel, in the store's panel order (comment,
    // histogram, EXIF, IPTC, XMP, GeoTIFF, information).
    std::array<bool, 7> ShowPanels{};
    // What the settings dialog keeps: filter, background, frame, shortcuts.
    TDialogStoreValues DialogValues;
    // The pages toolbar: shown for TIFF and icon files of two or more pages.
    bool PagesToolbarVisible = false;
    QString PageLabel;

    void OpenFile(const QString& path);
    // A first look at the picture being opened, drawn for the view from a reduced decode
    // while the whole picture is still decoding; shown until it arrives (or fails), and
    // only where it lies centred in the view as it is.
    void ShowQuickLook(const QString& file, TDrawnPicture&& drawn);
    void ShowLoadedImage();
    void ShowLoadError(const QString& file);
    void UpdateToolbar();
    void UpdatePanels();
    // Every panel's OnClose: the user no longer wants to see it.
    void PanelClosed(TVekCustomControlLayer& panel);
    // The panel stored under `panel`'s name (comment ... information).
    [[nodiscard]] TVekCustomControlLayer* Panel(int panel) const;
    // Runs the update handlers of the menu actions (the state they show).
    void UpdateActions();
    void UpdatePageButtons();
    void ApplyShortcuts(const TDialogStoreValues& values);
    void LoadViewerSettings();
    // Writes the window's and the panels' values (used through the snapshot, which
    // passes on only what changed).
    void SaveViewerSettings();
    // What changed of the window's and the panels' values goes to the store now,
    // merged with what other processes stored; a failure is reported once a run.
    void WriteSettingsThrough();
    // The small borderless translucent frame on top, and back; each does nothing
    // when already there.
    void EnterSimpleMode();
    void LeaveSimpleMode();
    // Applies SimpleWidth, SimpleHeight and SimpleBlend to the frame at once (in
    // simple mode only).
    void ApplySimpleGeometry();
    void SetZoom(double value);
    // Files dropped on the window (local paths).
    void DropFiles(const QStringList& names);
    // One step forward (Next image) or back (Previous image).
    void Step(bool forward);
    void DeleteShownFile();
    void ShowPage(int index);
    void ShowPagesMenu();
    // The reply to a hand-off message: 13 when taken, 0 while hidden.
    std::uint32_t HandOffMessage();

    // The fit scale of the shown picture in the view as it is now.
    [[nodiscard]] double FitScale() const;
    // Whether the folder listing of the last open or drop is still running.
    [[nodiscard]] bool Listing() const { return m_nav.Listing(); }
    [[nodiscard]] const TViewerNavigator& Navigator() const { return m_nav; }
    // Every file OpenFile was asked for, in order.
    [[nodiscard]] const QStringList& OpenedFiles() const { return m_openedFiles; }

    // The Yes/No question before a deletion and the warning after a failed one;
    // message boxes unless replaced.
    std::function<bool(const QString& Question)> Confirm;
    std::function<void(const QString& Message)> Warn;
    // The print dialog on `printer`: true to print. The system dialog unless replaced.
    std::function<bool(QPrinter& printer)> PrintDialog;

    // Sets the desktop wallpaper on a worker thread: true when the desktop took it.
    // Filled by the composition root with the desktop's setter; without it the
    // wallpaper commands say that the wallpaper can't be set.
    std::function<bool(const TBitmap32& picture, TWallpaperStyle style, int screenW, int screenH)>
        WallpaperSetter;
    // Whether a wallpaper is being set now.
    [[nodiscard]] bool SettingWallpaper() const { return m_settingWallpaper; }

    // What the viewer asks of the other windows of the run. The composition root
    // (src/shell) fills it; an empty function means that window is not part of the
    // run, and its command stays disabled. Call PortsChanged after changing it.
    struct TPorts {
        // The slideshow from the picture at `index` of the folder: the multi-page holder
        // is handed over, and `shown`, when not empty, is the full-size picture of
        // `shownFile` the view had (the show fits it instead of decoding it again).
        std::function<void(int index, TVekMultipageBitmap& pages, TBitmap32&& shown,
                           const QString& shownFile)>
            PlaySlideShow;
        // The slideshow wizard in place of the viewer (it shows the viewer again when
        // it closes).
        std::function<void()> OpenWizard;
        // The settings dialog, modal; what it returns comes back through
        // ApplySettings.
        std::function<void()> OpenSettings;
        // The pictures a slideshow started later plays: the folder opened or the files
        // dropped.
        std::function<void(const QStringList& images)> SlideshowImages;
    };
    TPorts Ports;
    void PortsChanged();

    // The frame of simple mode: its translucency and size.
    struct TSimpleModeSettings {
        int Blend = 0;
        int Width = 0;
        int Height = 0;
    };
    [[nodiscard]] TSimpleModeSettings SimpleModeSettings() const {
        return {SimpleBlend, SimpleWidth, SimpleHeight};
    }
    // The settings dialog's values become the viewer's shortcuts and options, the
    // loader's orientation option included (when the root wires the dialog to it).
    void TakeDialogValues(const TDialogStoreValues& values);
    // The same without touching the loader: the dialog read its stored values again
    // (Cancel forgets what it captured).
    void TakeShortcuts(const TDialogStoreValues& values);
    // What the settings dialog returned with OK, applied at once.
    void ApplySettings(const TDialogStoreValues& values, const TSimpleModeSettings& simple);

    void SettingsActionExecute();
    // The slideshow from the shown picture of the folder, full-screen.
    void SlideShowActionExecute();
    // The slideshow wizard in place of the viewer, which shows again when it closes.
    void WizardSlideShowActionExecute();
    // The slideshow ended on `fileName` (a picture of the viewer's list): it is shown.
    void ReturnFromSlideShow(const QString& fileName);
    // A message box titled "Pictrel" unless Warn replaces it.
    void ShowWarning(const QString& message);

    // Prints the shown picture, turned as shown, fitted to the printable page.
    bool PrintShownPicture(QPrinter& printer);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    TDrawnPicture m_quickLook;
    QString m_quickLookFile;

    struct TShortcut {
        QAction* Action;
        std::vector<std::uint16_t> Keys;
    };

    void FormCreate();
    // Writes what changed shortly, so a drag or a resize is one write.
    void ScheduleSettingsSave();
    void CreateActions();
    void CreatePanels();
    void CreatePanelMenus();
    void CreateToolbars();
    void LoadIcons();
    // The shown file's metadata lines into the panels; the histogram counts anew.
    void FillPanels();
    [[nodiscard]] std::vector<QAction*> SimpleModeDisabledActions() const;
    // Empties every panel (no picture is shown) and hides them.
    void ClearPanels();
    void LoadPanelSettings();
    void SavePanelSettings();
    // The font dialog on `current`; none when it was cancelled.
    std::optional<TVekFont> AskFont(const TVekFont& current);
    void PopupAt(QMenu* menu, int x, int y);
    void PrintActionExecute();
    void OpenEditActionExecute();
    // The shown picture, turned as shown, as the desktop wallpaper in `style`.
    void SetWallpaperExecute(TWallpaperStyle style);
    void OpenViewerTimerTimer();
    void MessageTimerTimer();
    void CacheTimerTimer();
    void VekImageLoaderProStart(const QString& fileName);
    void VekImageLoaderProSucces();
    void VekImageLoaderProError();
    void VekMultipageBitmapBitmapChange(TBitmap32& bitmap);
    void ImgView32PaintStage(TBitmap32& buffer, int stage);
    // Whether a first look at `file` still stands in for the picture being opened.
    [[nodiscard]] bool QuickLookWanted(const QString& file) const;
    void PaintQuickLook(TBitmap32& buffer);
    void ImgView32MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void ImgView32MouseMove(TShiftState shift, int x, int y);
    void ImgView32MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    void Rotate(int quarterTurns);
    void ZoomBy(int direction);
    // Gives the view the zoom's new scale (`wasFitted`: the zoom left fit mode).
    void ApplyZoom(bool wasFitted);
    void AfterPageChange();
    // The loader's finished page in place of the shown one; zoom and turn stay.
    void ShowLoadedPage();
    // The loader's finished picture moved into the view, drawn as the settings say.
    void TakeLoadedPicture();
    void ShowPageError();
    // Nothing on screen: no picture, no panels, no pages.
    void ShowEmpty();
    // Performs one of the navigator's decisions.
    void NavigatorShow(TNavShow how, const QString& file, bool keepPrevious);
    void NavigatorDecode(const QString& file, int page);
    // After every navigation event: the mirrored fields and the commands' states.
    void AfterNavigation();
    void StartFileDrag();
    void SetCaption(const QString& fileName);
    static void Trace(const char* what, const QString& path);
    // Lists `entries` (files and folders) on the worker for the navigator.
    void StartListing(const QStringList& entries, std::uint64_t generation);
    [[nodiscard]] bool ValidIndex(int index) const { return index >= 0 && index < FileList.size(); }
    [[nodiscard]] TAffineTransformation PictureTransform() const;

    TAppContext& m_context;
    QStringList m_openedFiles;
    std::vector<TShortcut> m_shortcuts;
    QFont m_viewFont;
    TViewerNavigator m_nav;
    TStoreSnapshot m_storedSettings;
    QTimer m_settingsTimer;
    // Where the window's inside lies in its frame, taken when simple mode began.
    QPoint m_normalFrameOffset;
    // The shown page of a multi-page file, the page asked for last, and their count.
    int m_pageIndex = 0;
    int m_requestedPage = 0;
    int m_pageCount = 0;
    bool m_panning = false;
    // The histogram panel has not counted the shown picture yet.
    bool m_histogramStale = true;
    // The shown file's EXIF, IPTC, XMP, GeoTIFF and information lines.
    std::array<QStringList, 5> m_shownLists;
    // The actions and their index in the icon name list, given their icons once loaded.
    std::vector<std::pair<QAction*, int>> m_actionIcons;
    // A modifier-alone shortcut whose key is down; it runs when the key comes up.
    struct TPendingKey {
        QAction* Action = nullptr;
        std::uint16_t Key = 0;
    };
    TPendingKey m_pendingModifier;
    // Folder listings; a newer one revokes the older.
    TBackgroundWork m_listWork;
    // Desktop commands that may take seconds (the wallpaper setters).
    TBackgroundWork m_shellWork;
    // Reads the desktop entries "Edit" chooses from before it is asked for.
    TBackgroundWork m_editWork;
    bool m_settingWallpaper = false;
    TDeliveryGuard m_guard;
};
