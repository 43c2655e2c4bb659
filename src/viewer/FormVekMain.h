#pragma once

#include "app/BackgroundWork.h"
#include "app/DialogStoreValues.h"
#include "app/RotateAngleList.h"
#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "gfx/Layers.h"
#include "gfx/ViewerZoom.h"
#include "layers/MenuIcons.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"
#include "viewer/FormViewerActions.h"
#include "viewer/FormViewerCommands.h"
#include "viewer/FormViewerDisplay.h"
#include "viewer/FormViewerPanels.h"
#include "viewer/FormViewerPicture.h"
#include "viewer/FormViewerSimpleMode.h"
#include "viewer/FormViewerStore.h"
#include "viewer/FormViewerToolbars.h"
#include "viewer/ViewerNavigator.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TAppContext;
class TImgView32;
class TGalleryView;

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
//
// Its parts, each with one job: the commands as actions with their keys and menus
// (Actions), the panels over the picture (Panels), the toolbars and the progress box
// (Toolbars), the simple-mode frame and the window's place (Simple), and the commands
// on the shown file (Commands). The window decides what is shown and tells them.
class TMainForm : public QWidget, public TViewerState {
public:
    explicit TMainForm(TAppContext& context);
    ~TMainForm() override;

    // Components.
    TImgView32* ImgView32 = nullptr;
    // The folder as a grid of thumbnails, in the view's place while it is shown
    // (Return on a picture).
    TGalleryView* Gallery = nullptr;
    // Shows the grid of the list with the shown file selected; false when there is no
    // list (or simple mode).
    bool ShowGallery();
    // Back to the picture.
    void LeaveGallery();
    TVekImageLoaderPro VekImageLoaderPro;
    TVekMultipageBitmap VekMultipageBitmap;
    TThreadedTimer MessageTimer;
    TThreadedTimer OpenViewerTimer;
    TThreadedTimer CacheTimer;
    // The menu icons, by name; the slideshow shows them too.
    TMenuIcons TBXImageList;
    TViewerActions Actions;
    TViewerSimpleMode Simple;
    TViewerCommands Commands;
    // The layers over the picture, in the view's paint order: the panels, then the
    // toolbars. Declared after the components they call, so they go first.
    std::unique_ptr<TViewerPanelSet> Panels;
    std::unique_ptr<TViewerToolbars> Toolbars;

    // State. The navigation fields mirror the navigator (read-only for others).
    QStringList FileList;
    int FileIndex = 0;
    QString FileToOpen;
    bool ShowOnLoad = false;
    bool Forward = true;
    bool PrefetchDone = false;
    bool PrefetchFailed = false;
    // FitMode, ZoomScale and RotationAngle.
    TViewerZoom Zoom;
    TRotateAngleList RotateAngles;
    QPoint DragStart;
    // What the settings dialog keeps: filter, background, frame, shortcuts.
    TDialogStoreValues DialogValues;

    void OpenFile(const QString& path);
    // A first look at the picture being opened, drawn for the view from a reduced decode
    // while the whole picture is still decoding; shown until it arrives (or fails), and
    // only where it lies centred in the view as it is.
    void ShowQuickLook(const QString& file, TDrawnPicture&& drawn);
    void UpdateToolbar();
    // The panels for the window's state (see TViewerPanelSet).
    void UpdatePanels();
    // Runs the update handlers of the menu actions (the state they show).
    void UpdateActions();
    void UpdatePageButtons();
    // What changed of the window's and the panels' values goes to the store now,
    // merged with what other processes stored; a failure is reported once a run.
    void WriteSettingsThrough() { m_store->WriteThrough(); }
    // The small borderless translucent frame on top, and back; each does nothing
    // when already there.
    void EnterSimpleMode();
    void LeaveSimpleMode();
    void SetZoom(double value);
    // Files dropped on the window (local paths).
    void DropFiles(const QStringList& names);
    // One step forward (Next image) or back (Previous image).
    void Step(bool forward);
    void DeleteShownFile() { Commands.Delete(); }
    void ShowPage(int index);
    // The reply to a hand-off message: 13 when taken, 0 while hidden.
    std::uint32_t HandOffMessage();

    // The fit scale of the shown picture in the view as it is now.
    [[nodiscard]] double FitScale() const;
    // Whether the folder listing of the last open or drop is still running.
    [[nodiscard]] bool Listing() const { return m_nav.Listing(); }
    [[nodiscard]] const TViewerNavigator& Navigator() const { return m_nav; }
    // Every file OpenFile was asked for, in order.
    [[nodiscard]] const QStringList& OpenedFiles() const { return m_openedFiles; }

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
        return {Simple.SimpleBlend, Simple.SimpleWidth, Simple.SimpleHeight};
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    // Connects the actions to what they do.
    void ConnectActions();
    void PopupAt(QMenu* menu, int x, int y);
    void OpenViewerTimerTimer();
    void MessageTimerTimer();
    void CacheTimerTimer();
    void VekImageLoaderProSucces();
    void VekImageLoaderProError();
    void ImgView32PaintStage(TBitmap32& buffer, int stage);
    void ImgView32MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void ImgView32MouseMove(TShiftState shift, int x, int y);
    void ImgView32MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    void Rotate(int quarterTurns);
    void ZoomBy(int direction);
    void NavigatorDecode(const QString& file, int page);
    // After every navigation event: the mirrored fields and the commands' states.
    void AfterNavigation();
    void StartFileDrag();
    void SetCaption(const QString& fileName);
    // Lists `entries` (files and folders) on the worker for the navigator.
    void StartListing(const QStringList& entries, std::uint64_t generation);
    [[nodiscard]] bool ValidIndex(int index) const { return index >= 0 && index < FileList.size(); }
    [[nodiscard]] TViewerToolbars::TState ToolbarState() const;

    TAppContext& m_context;
    QStringList m_openedFiles;
    std::unique_ptr<TViewerPicture> m_picture;
    TViewerNavigator m_nav;
    std::unique_ptr<TViewerStore> m_store;
    std::unique_ptr<TViewerDisplay> m_display;
    // Folder listings; a newer one revokes the older.
    TBackgroundWork m_listWork;
    TDeliveryGuard m_guard;
};
