#include "viewer/FormVekMain.h"

#include "app/AppContext.h"
#include "app/FileHelpers.h"
#include "app/SettingsLayout.h"
#include "app/StoreFailure.h"
#include "gfx/ImgView32Widget.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekEditLayer.h"
#include "loading/ImageFilter.h"
#include "platform/Registry.h"
#include "platform/VirtualKeys.h"
#include "show/VekSettingsFile.h"
#include "viewer/FormViewerGallery.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

namespace {

QString ProgramCaption(const QString& fileName) {
    return QFileInfo(fileName).fileName() + QStringLiteral(" - Pictrel");
}

TShiftState ShiftOf(Qt::KeyboardModifiers m) {
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (m & Qt::AltModifier) s |= ssAlt;
    return s;
}

} // namespace

TMainForm::TMainForm(TAppContext& context)
    : Actions(*this, TBXImageList), Simple(*this),
      Commands(*this, {[this] {
                           return TViewerCommands::TShown{m_nav.ShownIsCurrent() ? m_nav.Shown()
                                                                                 : QString(),
                                                          &ImgView32->Bitmap, Zoom.RotationAngle};
                       },
                       [this] { return DialogValues.DeleteToTrash; },
                       [this](const QString& path) {
                           if (path == m_nav.PreviousFile()) PreviousPicture.Delete();
                           m_nav.Deleted(path);
                           AfterNavigation();
                           if (Gallery->isVisible()) {
                               if (m_nav.List().isEmpty())
                                   LeaveGallery();
                               else
                                   Gallery->SetFiles(m_nav.List(), Gallery->Selected());
                           }
                       },
                       [this] { UpdateActions(); }}),
      m_context(context),
      m_nav({[this](const QString& file, int page) { NavigatorDecode(file, page); },
             [this] { VekImageLoaderPro.Cancel(); },
             [this](const QStringList& entries, std::uint64_t generation) {
                 StartListing(entries, generation);
             },
             [this](TNavShow how, const QString& file, bool keep) {
                 m_display->Show(how, file, keep);
             }}) {
    FormCreate();
}

TMainForm::~TMainForm() {
    m_guard.Revoke();
    OpenViewerTimer.SetEnabled(false);
    MessageTimer.SetEnabled(false);
    CacheTimer.SetEnabled(false);
    m_listWork.Shutdown();
    if (m_display) m_display->Shutdown();
    Commands.Shutdown();
    // Turns were stored as they were made; what changed of the window goes now.
    m_store->WriteThrough();
}

void TMainForm::FormCreate() {
    setWindowTitle(QStringLiteral("Pictrel"));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    ImgView32 = new TImgView32(this);
    m_picture = std::make_unique<TViewerPicture>(*ImgView32, Zoom);
    m_picture->OnZoomChanged = [this] { UpdateActions(); };
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ImgView32);
    Gallery = new TGalleryView(this);
    Gallery->hide();
    layout->addWidget(Gallery);
    Gallery->OnOpen = [this](int index) {
        const QString file = Gallery->Files().value(index);
        LeaveGallery();
        if (!file.isEmpty() && file != m_nav.Shown()) {
            m_nav.ShowFile(file);
            AfterNavigation();
        }
    };
    Gallery->OnLeave = [this] { LeaveGallery(); };
    Gallery->OnDelete = [this](int index) { Commands.DeleteFile(Gallery->Files().value(index)); };
    Gallery->OnCopy = [this](int index) {
        TViewerCommands::CopyPaths({Gallery->Files().value(index)});
    };
    Gallery->OnMenu = [this](int index, const QPoint& at) {
        const QString file = Gallery->Files().value(index);
        QMenu menu(this);
        menu.addAction(QStringLiteral("Open"), this, [this, index] { Gallery->OnOpen(index); });
        menu.addSeparator();
        menu.addAction(QStringLiteral("Edit"), this, [this, file] { Commands.EditPath(file); });
        menu.addAction(QStringLiteral("Copy"), this,
                       [file] { TViewerCommands::CopyPaths({file}); });
        menu.addAction(QStringLiteral("Delete"), this, [this, file] { Commands.DeleteFile(file); });
        menu.exec(at);
    };
    ImgView32->OnPaintStage = [this](TImgView32&, TBitmap32& buffer, int stage) {
        ImgView32PaintStage(buffer, stage);
    };
    ImgView32->OnMouseDown = [this](TImgView32&, TMouseButton b, TShiftState s, int x, int y) {
        ImgView32MouseDown(b, s, x, y);
    };
    ImgView32->OnMouseMove = [this](TImgView32&, TShiftState s, int x, int y) {
        ImgView32MouseMove(s, x, y);
    };
    ImgView32->OnMouseUp = [this](TImgView32&, TMouseButton b, TShiftState s, int x, int y) {
        ImgView32MouseUp(b, s, x, y);
    };

    VekImageLoaderPro.SetPriority(TThreadPriority::tpHighest);
    VekImageLoaderPro.OnStart = [this](TVekImageLoaderPro&, const QString& name) {
        m_display->LoadStarted(name);
    };
    VekImageLoaderPro.OnSucces = [this](TVekImageLoaderPro&) { VekImageLoaderProSucces(); };
    VekImageLoaderPro.OnError = [this](TVekImageLoaderPro&) { VekImageLoaderProError(); };
    VekImageLoaderPro.OnWork = [](TVekImageLoaderPro&, int) {};
    // RAW files are developed at half size in the viewer.
    VekImageLoaderPro.Settings().HalfSize = true;
    // The next picture is drawn for the view on the worker, so showing it is a copy.
    VekImageLoaderPro.PreparePicture = [this](const QString& file) {
        return Simple.SimpleMode
                   ? nullptr
                   : MakeFitPreparation(ImgView32->ViewWidth(), ImgView32->ViewHeight(),
                                        RotateAngles.Angle(file), DialogValues.FilterKind);
    };
    VekMultipageBitmap.OnBitmapChange = [this](TVekMultipageBitmap&, TBitmap32& frame) {
        m_picture->Replace(frame, DialogValues.FilterKind);
    };

    OpenViewerTimer.SetInterval(1);
    OpenViewerTimer.OnTimer = [this](TThreadedTimer&) { OpenViewerTimerTimer(); };
    MessageTimer.SetInterval(10);
    MessageTimer.OnTimer = [this](TThreadedTimer&) { MessageTimerTimer(); };
    CacheTimer.SetInterval(500);
    CacheTimer.OnTimer = [this](TThreadedTimer&) { CacheTimerTimer(); };

    ConnectActions();
    TBXImageList.Load();
    Panels = std::make_unique<TViewerPanelSet>(
        ImgView32->Layers, *this, TBXImageList,
        TViewerPanelSet::THost{[this](QMenu* menu, int x, int y) { PopupAt(menu, x, y); },
                               [this] { UpdatePanels(); }, nullptr});
    Actions.BuildMenus(Panels->ShowActions());
    for (QMenu* menu :
         {Actions.ImageTBXPopupMenu, Actions.SimpleModeTBXPopupMenu, Actions.WallpaperTBXSubmenu})
        connect(menu, &QMenu::aboutToShow, this, &TMainForm::UpdateActions);
    FileIndex = 0;
    m_store = std::make_unique<TViewerStore>(*this, *ImgView32, Simple, *Panels);
    m_store->Load();
    Toolbars = std::make_unique<TViewerToolbars>(
        ImgView32->Layers, *this, Actions, [this] { return ImageLoaded; },
        [this](int page) { ShowPage(page); });
    m_display = std::make_unique<TViewerDisplay>(
        *this,
        TViewerDisplay::TParts{*ImgView32, VekImageLoaderPro, VekMultipageBitmap, *m_picture,
                               *Panels, *Toolbars, Simple, Zoom, RotateAngles, DialogValues, m_nav},
        TViewerDisplay::THost{[this](const QString& file) { SetCaption(file); },
                              [this] { UpdatePanels(); }, [this] { UpdateToolbar(); },
                              [this] { UpdatePageButtons(); }, [this] { Commands.PrepareEdit(); }});
    RotateAngles.LoadFromFile(DataFolder() + QStringLiteral("RotateAngles"));
    UpdateToolbar();
    UpdatePanels();
    // The values as stored: only what changes from here on is written.
    m_store->Watch();
}

void TMainForm::ConnectActions() {
    const std::pair<QAction*, std::function<void()>> commands[] = {
        {Actions.OpenAction,
         [this] {
             const QString file = QFileDialog::getOpenFileName(
                 this, QStringLiteral("Open"),
                 m_nav.Shown().isEmpty() ? QDir::homePath() : QFileInfo(m_nav.Shown()).path(),
                 FileDialogFilter(GetImageFilter(true, true, true, true)));
             if (!file.isEmpty()) OpenFile(file);
         }},
        {Actions.PreviousAction, [this] { Step(false); }},
        {Actions.NextAction, [this] { Step(true); }},
        {Actions.ZoomInAction, [this] { ZoomBy(1); }},
        {Actions.ZoomOutAction, [this] { ZoomBy(-1); }},
        {Actions.ZoomFitAction, [this] { m_picture->Fit(); }},
        {Actions.ZoomRealAction, [this] { SetZoom(1); }},
        {Actions.RotateLeftAction, [this] { Rotate(1); }},
        {Actions.RotateRightAction, [this] { Rotate(-1); }},
        {Actions.PrevPageAction,
         [this] {
             if (RequestedPage > 0) ShowPage(RequestedPage - 1);
         }},
        {Actions.NextPageAction, [this] { ShowPage(RequestedPage + 1); }},
        {Actions.DeleteAction, [this] { Commands.Delete(); }},
        {Actions.ExitAction, [this] { close(); }},
        {Actions.PrintAction, [this] { Commands.Print(); }},
        {Actions.CopyAction, [this] { Commands.CopyPicture(); }},
        {Actions.CopyPathAction, [this] { Commands.CopyPath(); }},
        {Actions.OptimalWallpaperAction,
         [this] { Commands.SetWallpaper(TWallpaperStyle::wsOptimal); }},
        {Actions.TileWallpaperAction, [this] { Commands.SetWallpaper(TWallpaperStyle::wsTile); }},
        {Actions.CenterWallpaperAction,
         [this] { Commands.SetWallpaper(TWallpaperStyle::wsCenter); }},
        {Actions.StretchWallpaperAction,
         [this] { Commands.SetWallpaper(TWallpaperStyle::wsStretch); }},
        {Actions.OpenEditAction, [this] { Commands.Edit(); }},
        {Actions.SimpleModeAction,
         [this] {
             if (Simple.SimpleMode)
                 LeaveSimpleMode();
             else
                 EnterSimpleMode();
         }},
        {Actions.WizardSlideShowAction, [this] { WizardSlideShowActionExecute(); }},
        {Actions.SettingsAction, [this] { SettingsActionExecute(); }},
        {Actions.SlideShowAction, [this] { SlideShowActionExecute(); }},
    };
    for (const auto& [action, run] : commands) connect(action, &QAction::triggered, this, run);

    // The stored shortcuts apply from the start, whether or not the settings dialog
    // exists yet; the composition root hands over its values once it does.
    DialogValues = TDialogStoreValues::Load();
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    VekImageLoaderPro.Settings().ColourManagement = DialogValues.ColourManagement;
    Actions.ApplyShortcuts(DialogValues);
    PortsChanged();
}

// ---- opening ---------------------------------------------------------------------

void TMainForm::OpenFile(const QString& path) {
    PICTREL_ASSERT_GUI_THREAD();
    LeaveGallery();
    m_openedFiles.append(path);
    TraceViewer("open", path);
    if (path.isEmpty()) return;
    if (FolderExists(path)) {
        // A folder shows its first picture, or the empty view when it has none.
        const QString folder = FolderOf(path + u'/');
        if (Ports.SlideshowImages) Ports.SlideshowImages({folder});
        m_nav.OpenEntries({folder});
        AfterNavigation();
        return;
    }
    const QString folder = FolderOf(path);
    if (Ports.SlideshowImages) Ports.SlideshowImages({folder});
    m_nav.Open(folder + QFileInfo(path).fileName(), folder);
    AfterNavigation();
}

void TMainForm::StartListing(const QStringList& entries, std::uint64_t generation) {
    PICTREL_ASSERT_GUI_THREAD();
    // The navigator takes only the listing of its latest generation.
    m_listWork.RunLatest(
        [entries](const TJobStop&) { return ExpandFileList(entries, true, ImageExtensions()); },
        [this, generation](const QStringList& files) {
            m_nav.ListingArrived(generation, files);
            AfterNavigation();
        },
        [this, generation](const QString& error) {
            // The folder could not be read whole: the picture opened stays the only one,
            // and steps waiting for the list do not wait for ever.
            std::fprintf(stderr, "pictrel: folder not read: %s\n", error.toLocal8Bit().constData());
            const QString only = m_nav.Target().isEmpty() ? m_nav.Shown() : m_nav.Target();
            m_nav.ListingArrived(generation, only.isEmpty() ? QStringList() : QStringList{only});
            AfterNavigation();
        });
}

void TMainForm::AfterNavigation() {
    PICTREL_ASSERT_GUI_THREAD();
    FileList = m_nav.List();
    FileIndex = m_nav.ShownIndex();
    ShowOnLoad = m_nav.Displaying();
    Forward = m_nav.Forward();
    PrefetchDone = m_nav.PrefetchState() == TViewerNavigator::TPrefetch::npDone;
    PrefetchFailed = m_nav.PrefetchState() == TViewerNavigator::TPrefetch::npFailed;
    UpdateToolbar();
    ImgView32->Invalidate();
}

void TMainForm::NavigatorDecode(const QString& file, int page) {
    // A step onto the neighbour being prefetched takes that decode over.
    if (VekImageLoaderPro.Loading(file, page))
        m_display->LoadStarted(file);
    else
        VekImageLoaderPro.Open(file, true, page);
}

void TMainForm::OpenViewerTimerTimer() {
    OpenViewerTimer.SetEnabled(false);
    OpenFile(FileToOpen);
}

void TMainForm::MessageTimerTimer() {
    MessageTimer.SetEnabled(false);
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
}

std::uint32_t TMainForm::HandOffMessage() {
    if (!isVisible()) return 0;
    TRegistry reg;
    reg.OpenKey(layout::kProgramKey, true);
    const QString name = reg.ReadString(layout::kNewFileName).value_or(QString());
    if (isMinimized()) showNormal();
    FileToOpen = name;
    OpenViewerTimer.SetEnabled(true);
    MessageTimer.SetEnabled(true);
    return 13;
}

// ---- the loader's events -----------------------------------------------------------

void TMainForm::VekImageLoaderProSucces() {
    const QString file = VekImageLoaderPro.FileName();
    const bool displayed = m_nav.Target() == file && !m_nav.PageLoad();
    m_nav.LoadSucceeded(file);
    // The picture kept for a step back goes half a second after a displayed load.
    if (displayed) CacheTimer.SetEnabled(true);
    AfterNavigation();
}

void TMainForm::VekImageLoaderProError() {
    m_nav.LoadFailed(VekImageLoaderPro.FileName());
    AfterNavigation();
}

bool TMainForm::ShowGallery() {
    if (Simple.SimpleMode || m_nav.List().isEmpty()) return false;
    const QString folder = QFileInfo(m_nav.List().first()).absoluteDir().dirName();
    setWindowTitle((folder.isEmpty() ? QStringLiteral("/") : folder) +
                   QStringLiteral(" - Pictrel"));
    ImgView32->hide();
    Gallery->show();
    Gallery->SetFiles(m_nav.List(), std::max(m_nav.ShownIndex(), 0));
    Gallery->setFocus();
    return true;
}

void TMainForm::LeaveGallery() {
    if (!Gallery->isVisible()) return;
    Gallery->hide();
    ImgView32->show();
    setFocus();
    SetCaption(m_nav.Shown());
}

void TMainForm::SetCaption(const QString& fileName) {
    setWindowTitle(fileName.isEmpty() ? QStringLiteral("Pictrel") : ProgramCaption(fileName));
}

// ---- navigation ---------------------------------------------------------------------

void TMainForm::Step(bool forward) {
    m_nav.Step(forward);
    AfterNavigation();
}

void TMainForm::CacheTimerTimer() {
    CacheTimer.SetEnabled(false);
    PreviousPicture.Delete();
    m_nav.PreviousReleased();
}

void TMainForm::DropFiles(const QStringList& names) {
    if (names.isEmpty()) return;
    raise();
    activateWindow();
    if (names.size() == 1 && !FolderExists(names[0])) {
        if (m_nav.ShownIsCurrent() && m_nav.Shown().compare(names[0], Qt::CaseInsensitive) == 0)
            return;
        OpenFile(names[0]);
        return;
    }
    if (Ports.SlideshowImages) Ports.SlideshowImages(names);
    LeaveGallery();
    m_nav.OpenEntries(names);
    AfterNavigation();
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); }))
        event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    QStringList names;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) names.append(QFileInfo(url.toLocalFile()).absoluteFilePath());
    event->acceptProposedAction();
    DropFiles(names);
}

// ---- zoom, turn, pages ------------------------------------------------------------

double TMainForm::FitScale() const {
    return m_picture->FitScale();
}

void TMainForm::SetZoom(double value) {
    m_picture->SetZoom(value);
}

void TMainForm::ZoomBy(int direction) {
    if (ImageLoaded) m_picture->ZoomBy(direction);
}

void TMainForm::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (!ImageLoaded || Simple.SimpleMode) return;
    m_picture->Wheel(event->angleDelta().y());
}

void TMainForm::Rotate(int quarterTurns) {
    if (!ImageLoaded) return;
    if (quarterTurns > 0)
        Zoom.RotateLeft();
    else
        Zoom.RotateRight();
    // Kept for the file on screen, also before its folder's listing is in, and
    // stored at once: a turn survives a crash or a kill.
    QString error;
    if (m_nav.ShownIsListed() &&
        !RotateAngles.StoreAngle(DataFolder() + QStringLiteral("RotateAngles"), m_nav.Shown(),
                                 Zoom.RotationAngle, &error))
        ReportStoreFailure(error);
    ImgView32->Invalidate();
}

void TMainForm::ShowPage(int index) {
    if (!PagesToolbarVisible || index < 0 || index >= PageCount) return;
    // Decoded on the loader's worker under the same size rule as a first page.
    RequestedPage = index;
    m_nav.ShowPage(index);
    AfterNavigation();
}

void TMainForm::UpdatePageButtons() {
    Toolbars->ShowPageNumber(RequestedPage, PageCount, ToolbarState());
}

// ---- actions ----------------------------------------------------------------------

void TMainForm::UpdateActions() {
    Actions.Update({FileList.size() > 1, ImageLoaded, Zoom.FitMode, m_nav.ShownIsCurrent(),
                    Commands.SettingWallpaper(),
                    Ports.PlaySlideShow != nullptr && !FileList.isEmpty()});
    Panels->UpdateActions(ImageLoaded);
}

TViewerToolbars::TState TMainForm::ToolbarState() const {
    return {FileList.size() > 1, ImageLoaded, PagesToolbarVisible, Simple.SimpleMode};
}

void TMainForm::UpdateToolbar() {
    UpdateActions();
    Toolbars->Update(ToolbarState());
}

void TMainForm::UpdatePanels() {
    // Panels are placed in logical pixels, within the view's logical size.
    const TRect view = ImgView32->Layers.Viewport();
    Panels->Update(ImageLoaded && !Simple.SimpleMode, view.Width(), view.Height(),
                   ImgView32->Bitmap);
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
    // Shortcuts first, as a menu's would be; what they leave goes to the layer that
    // took the last click. While a comment is edited every key goes to the editor.
    if (Actions.KeyPress(*event, Panels->CommentPanel->Editing())) return;
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier && !Panels->CommentPanel->Editing() && ShowGallery())
        return;
    std::uint16_t key = ShortcutFromKeyEvent(*event) & 0xFF;
    if (ImgView32->Layers.KeyDown(key, ShiftOf(event->modifiers()))) {
        // The characters the key typed follow, as the platform's text input gives them.
        for (QChar c : event->text()) ImgView32->Layers.KeyPress(c);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMainForm::keyReleaseEvent(QKeyEvent* event) {
    if (Actions.KeyRelease(*event)) return;
    std::uint16_t key = ShortcutFromKeyEvent(*event) & 0xFF;
    if (ImgView32->Layers.KeyUp(key, ShiftOf(event->modifiers()))) return;
    QWidget::keyReleaseEvent(event);
}

// ---- painting ---------------------------------------------------------------------

void TMainForm::ImgView32PaintStage(TBitmap32& buffer, int stage) {
    TViewerPicture::TState state;
    state.ImageLoaded = ImageLoaded;
    state.LoadFailed = LoadFailed;
    state.SimpleMode = Simple.SimpleMode;
    state.HasAlpha = ShownHasAlpha;
    state.NothingToShow = !ImageLoaded && FileList.isEmpty() && !LoadFailed && !m_nav.Listing() &&
                          !m_nav.Displaying();
    state.QuickLookWanted = m_display->QuickLookWanted(m_picture->QuickLookFile());
    state.ErrorText = ErrorText;
    state.ErrorPath = m_nav.Shown();
    state.Values = &DialogValues;
    m_picture->Paint(buffer, stage, state);
}

void TMainForm::ShowQuickLook(const QString& file, TDrawnPicture&& drawn) {
    if (Simple.SimpleMode || !m_display->QuickLookWanted(file)) return;
    m_picture->SetQuickLook(file, std::move(drawn));
    // The picture is there: the rest of it comes without covering it.
    Toolbars->StopOpening();
    ImgView32->Invalidate();
}

// ---- the mouse ----------------------------------------------------------------------

void TMainForm::ImgView32MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    // A press beside the comment ends its editing.
    Panels->CommentPanel->SetEditing(false);
    if (button == TMouseButton::mbLeft) DragStart = {x, y};
    if (Simple.SimpleMode && button == TMouseButton::mbLeft) {
        if (shift & ssDouble) {
            LeaveSimpleMode();
            return;
        }
        // Where the compositor places windows itself, it moves the frame too.
        if (!Simple.PlacesKnown && windowHandle()) windowHandle()->startSystemMove();
        return;
    }
    if (!ImageLoaded || button != TMouseButton::mbLeft || (shift & ssDouble)) return;
    if (!Zoom.FitMode)
        m_picture->StartPan(x, y);
    else if ((shift & ssCtrl) && m_nav.ShownIsCurrent()) {
        StartFileDrag();
    }
}

void TMainForm::ImgView32MouseMove(TShiftState shift, int x, int y) {
    if (Simple.SimpleMode) {
        if (!(shift & ssLeft)) return;
        // The press point stays under the pointer as the frame follows it.
        ImgView32->setCursor(Qt::SizeAllCursor);
        Simple.Drag(x - DragStart.x(), y - DragStart.y(), ImgView32->DeviceRatio());
        return;
    }
    if (ImageLoaded && (shift & ssLeft)) m_picture->Pan(x, y);
}

void TMainForm::ImgView32MouseUp(TMouseButton button, TShiftState, int x, int y) {
    m_picture->EndPan();
    if (!ImageLoaded) return;
    if (button == TMouseButton::mbRight) {
        UpdateActions();
        PopupAt(Simple.SimpleMode ? Actions.SimpleModeTBXPopupMenu : Actions.ImageTBXPopupMenu, x,
                y);
    }
    ImgView32->unsetCursor();
}

void TMainForm::StartFileDrag() {
    auto* drag = new QDrag(this);
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(m_nav.Shown())});
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    Toolbars->MainToolbar->SetBigIcons(DialogValues.BigIcons);
}

void TMainForm::PopupAt(QMenu* menu, int x, int y) {
    const double ratio = ImgView32->DeviceRatio();
    menu->popup(ImgView32->mapToGlobal(QPoint(int(x / ratio), int(y / ratio))));
}
