#include "viewer/FormVekMain.h"

#include "app/AppContext.h"
#include "app/DesktopEntries.h"
#include "app/FileHelpers.h"
#include "app/SettingsLayout.h"
#include "app/StoreFailure.h"
#include "app/VekThreadedMethod.h"
#include "app/ViewerStoreValues.h"
#include "gfx/BitmapOps.h"
#include "gfx/BitmapText.h"
#include "gfx/ImgView32Widget.h"
#include "gfx/Resampler.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekEditLayer.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"
#include "loading/ImageFilter.h"
#include "loading/ShellThumbnail.h"
#include "platform/Registry.h"
#include "platform/VirtualKeys.h"
#include "show/VekSettingsFile.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr TColor32 kViewBackground = 0xFF808080;
constexpr TColor32 kViewText = 0xFF000000;
constexpr TColor32 kPictureFrame = 0xC8000000;
constexpr TColor32 kSimpleFrame = 0x96000000;
constexpr TColor32 kCheckerLight = 0xFFFFFFFF;
constexpr TColor32 kCheckerDark = 0xFFBFBFBF;
constexpr int kCheckerCell = 10;
// Files above 1.1 MiB get a thumbnail while they decode.
constexpr qint64 kLargeFileSize = 1153433;
constexpr int kProgressThumbnailSize = 100;
constexpr std::uint16_t kDeleteKey = 46; // the virtual-key code of Delete
constexpr std::uint16_t kPageUpKey = 33, kPageDownKey = 34;
// Changes of the window's values within this time are written together.
constexpr int kSettingsDelayMs = 500;

QString ProgramCaption(const QString& fileName) {
    return QFileInfo(fileName).fileName() + QStringLiteral(" - Pictrel");
}

// The screen's free area, which the stored defaults are measured against.
QRect AvailableScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

TShiftState ShiftOf(Qt::KeyboardModifiers m) {
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (m & Qt::AltModifier) s |= ssAlt;
    return s;
}

} // namespace

void TMainForm::Trace(const char* what, const QString& path) {
    static const bool enabled = qEnvironmentVariableIsSet("PICTREL_TRACE_OPEN");
    if (enabled) std::fprintf(stderr, "pictrel: %s %s\n", what, path.toLocal8Bit().constData());
}

TMainForm::TMainForm(TAppContext& context)
    : m_context(context),
      m_nav({[this](const QString& file, int page) { NavigatorDecode(file, page); },
             [this] { VekImageLoaderPro.Cancel(); },
             [this](const QStringList& entries, std::uint64_t generation) {
                 StartListing(entries, generation);
             },
             [this](TNavShow how, const QString& file, bool keep) {
                 NavigatorShow(how, file, keep);
             }}) {
    FormCreate();
}

TMainForm::~TMainForm() {
    m_guard.Revoke();
    OpenViewerTimer.SetEnabled(false);
    MessageTimer.SetEnabled(false);
    CacheTimer.SetEnabled(false);
    m_listWork.Shutdown();
    m_shellWork.Shutdown();
    m_editWork.Shutdown();
    // Turns were stored as they were made; what changed of the window goes now.
    m_settingsTimer.stop();
    WriteSettingsThrough();
}

void TMainForm::FormCreate() {
    setWindowTitle(QStringLiteral("Pictrel"));
    m_settingsTimer.setSingleShot(true);
    m_settingsTimer.setInterval(kSettingsDelayMs);
    connect(&m_settingsTimer, &QTimer::timeout, this, &TMainForm::WriteSettingsThrough);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);

    ImgView32 = new TImgView32(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ImgView32);
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
        VekImageLoaderProStart(name);
    };
    VekImageLoaderPro.OnSucces = [this](TVekImageLoaderPro&) { VekImageLoaderProSucces(); };
    VekImageLoaderPro.OnError = [this](TVekImageLoaderPro&) { VekImageLoaderProError(); };
    VekImageLoaderPro.OnWork = [](TVekImageLoaderPro&, int) {};
    // RAW files are developed at half size in the viewer.
    VekImageLoaderPro.Settings().HalfSize = true;
    // The next picture is drawn for the view on the worker, so showing it is a copy.
    VekImageLoaderPro.PreparePicture = [this](const QString& file) {
        return SimpleMode ? nullptr
                          : MakeFitPreparation(ImgView32->ViewWidth(), ImgView32->ViewHeight(),
                                               RotateAngles.Angle(file), DialogValues.FilterKind);
    };
    VekMultipageBitmap.OnBitmapChange = [this](TVekMultipageBitmap&, TBitmap32& bitmap) {
        VekMultipageBitmapBitmapChange(bitmap);
    };

    OpenViewerTimer.SetInterval(1);
    OpenViewerTimer.OnTimer = [this](TThreadedTimer&) { OpenViewerTimerTimer(); };
    MessageTimer.SetInterval(10);
    MessageTimer.OnTimer = [this](TThreadedTimer&) { MessageTimerTimer(); };
    CacheTimer.SetInterval(500);
    CacheTimer.OnTimer = [this](TThreadedTimer&) { CacheTimerTimer(); };

    PagesPopupMenu = new QMenu(this);
    m_viewFont = QFont(QStringLiteral("DejaVu Sans"));
    m_viewFont.setPointSizeF(10);

    CreateActions();
    LoadIcons();
    CreatePanelMenus();
    FileIndex = 0;
    CreatePanels();
    LoadViewerSettings();
    CreateToolbars();
    RotateAngles.LoadFromFile(DataFolder() + QStringLiteral("RotateAngles"));
    UpdateToolbar();
    UpdatePanels();
    // The values as stored: only what changes from here on is written.
    m_storedSettings.Take([this] { SaveViewerSettings(); });
    // A panel dragged or resized ends with the button's release over the view.
    ImgView32->installEventFilter(this);
    for (QMenu* menu : findChildren<QMenu*>())
        connect(menu, &QMenu::triggered, this, &TMainForm::ScheduleSettingsSave);
}

void TMainForm::ScheduleSettingsSave() {
    m_settingsTimer.start();
}

void TMainForm::WriteSettingsThrough() {
    QString error;
    if (!m_storedSettings.WriteChanges([this] { SaveViewerSettings(); }, &error))
        ReportStoreFailure(error);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ImgView32 && event->type() == QEvent::MouseButtonRelease) ScheduleSettingsSave();
    return QWidget::eventFilter(watched, event);
}

void TMainForm::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    ScheduleSettingsSave();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ScheduleSettingsSave();
}

void TMainForm::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) ScheduleSettingsSave();
}

void TMainForm::CreateActions() {
    OpenAction = new QAction(QStringLiteral("Open"), this);
    connect(OpenAction, &QAction::triggered, this, [this] {
        const QString file = QFileDialog::getOpenFileName(
            this, QStringLiteral("Open"),
            m_nav.Shown().isEmpty() ? QDir::homePath() : QFileInfo(m_nav.Shown()).path(),
            FileDialogFilter(GetImageFilter(true, true, true, true)));
        if (!file.isEmpty()) OpenFile(file);
    });
    PreviousAction = new QAction(QStringLiteral("Previous image"), this);
    connect(PreviousAction, &QAction::triggered, this, [this] { Step(false); });
    NextAction = new QAction(QStringLiteral("Next image"), this);
    connect(NextAction, &QAction::triggered, this, [this] { Step(true); });
    ZoomInAction = new QAction(QStringLiteral("Zoom in"), this);
    connect(ZoomInAction, &QAction::triggered, this, [this] { ZoomBy(1); });
    ZoomOutAction = new QAction(QStringLiteral("Zoom out"), this);
    connect(ZoomOutAction, &QAction::triggered, this, [this] { ZoomBy(-1); });
    ZoomFitAction = new QAction(QStringLiteral("Fit width"), this);
    connect(ZoomFitAction, &QAction::triggered, this, [this] {
        Zoom.FitMode = true;
        ImgView32->Invalidate();
        UpdateActions();
    });
    ZoomRealAction = new QAction(QStringLiteral("Actual size"), this);
    connect(ZoomRealAction, &QAction::triggered, this, [this] { SetZoom(1); });
    RotateLeftAction = new QAction(QStringLiteral("Rotate left"), this);
    connect(RotateLeftAction, &QAction::triggered, this, [this] { Rotate(1); });
    RotateRightAction = new QAction(QStringLiteral("Rotate right"), this);
    connect(RotateRightAction, &QAction::triggered, this, [this] { Rotate(-1); });
    PrevPageAction = new QAction(QStringLiteral("Previous page"), this);
    connect(PrevPageAction, &QAction::triggered, this, [this] {
        if (m_requestedPage > 0) ShowPage(m_requestedPage - 1);
    });
    NextPageAction = new QAction(QStringLiteral("Next page"), this);
    connect(NextPageAction, &QAction::triggered, this, [this] { ShowPage(m_requestedPage + 1); });
    DeleteAction = new QAction(QStringLiteral("Delete"), this);
    connect(DeleteAction, &QAction::triggered, this, &TMainForm::DeleteShownFile);
    ExitAction = new QAction(QStringLiteral("Exit"), this);
    connect(ExitAction, &QAction::triggered, this, &QWidget::close);
    SlideShowAction = new QAction(QStringLiteral("Start slideshow"), this);
    WizardSlideShowAction = new QAction(QStringLiteral("Start wizard"), this);
    SettingsAction = new QAction(QStringLiteral("Pictrel settings"), this);
    PrintAction = new QAction(QStringLiteral("Print"), this);
    PrintAction->setVisible(false);
    connect(PrintAction, &QAction::triggered, this, &TMainForm::PrintActionExecute);
    const auto wallpaper = [this](const char* caption, TWallpaperStyle style) {
        auto* action = new QAction(QString::fromLatin1(caption), this);
        connect(action, &QAction::triggered, this, [this, style] { SetWallpaperExecute(style); });
        return action;
    };
    OptimalWallpaperAction = wallpaper("optimal", TWallpaperStyle::wsOptimal);
    TileWallpaperAction = wallpaper("tile", TWallpaperStyle::wsTile);
    CenterWallpaperAction = wallpaper("center", TWallpaperStyle::wsCenter);
    StretchWallpaperAction = wallpaper("stretch", TWallpaperStyle::wsStretch);
    WallpaperAction = new QAction(QStringLiteral("Set as wallpaper"), this);
    connect(WallpaperAction, &QAction::triggered, OptimalWallpaperAction, &QAction::trigger);
    OpenEditAction = new QAction(QStringLiteral("Edit"), this);
    connect(OpenEditAction, &QAction::triggered, this, &TMainForm::OpenEditActionExecute);
    PropertiesAction = new QAction(QStringLiteral("Image properties"), this);
    HelpAction = new QAction(QStringLiteral("Help"), this);
    SimpleModeAction = new QAction(QStringLiteral("Simple mode"), this);
    connect(SimpleModeAction, &QAction::triggered, this, [this] {
        if (SimpleMode)
            LeaveSimpleMode();
        else
            EnterSimpleMode();
    });
    WizardSlideShowAction->setEnabled(false);
    connect(WizardSlideShowAction, &QAction::triggered, this,
            &TMainForm::WizardSlideShowActionExecute);
    connect(SettingsAction, &QAction::triggered, this, &TMainForm::SettingsActionExecute);
    connect(SlideShowAction, &QAction::triggered, this, &TMainForm::SlideShowActionExecute);

    // The stored shortcuts apply from the start, whether or not the settings dialog
    // exists yet; the composition root hands over its values once it does.
    DialogValues = TDialogStoreValues::Load();
    VekImageLoaderPro.Settings().ExifOrientation = DialogValues.ExifOrientation;
    ApplyShortcuts(DialogValues);
    PortsChanged();
}

void TMainForm::ApplyShortcuts(const TDialogStoreValues& v) {
    // Stored shortcuts are virtual-key values (a lone Shift key among them), so keys
    // are matched here rather than by Qt's shortcut map.
    m_shortcuts = {
        {PreviousAction, {v.ShortcutLeft, v.ShortcutLeft2}},
        {NextAction, {v.ShortcutRight, v.ShortcutRight2}},
        {RotateLeftAction, {v.ShortcutRotateLeft}},
        {RotateRightAction, {v.ShortcutRotateRight}},
        {ZoomFitAction, {v.ShortcutFitToPage}},
        {ZoomRealAction, {v.ShortcutActual}},
        {ZoomInAction, {v.ShortcutZoomIn}},
        {ZoomOutAction, {v.ShortcutZoomOut}},
        {DeleteAction, {kDeleteKey}},
        {OpenAction, {MakeShortcut('O', false, true, false)}},
        {PrevPageAction, {kPageUpKey}},
        {NextPageAction, {kPageDownKey}},
        {SimpleModeAction, {v.ShortcutSimpleMode}},
    };
    // A key given to two actions runs the first of them; say so once.
    std::vector<std::uint16_t> seen;
    for (const TShortcut& s : m_shortcuts)
        for (std::uint16_t k : s.Keys) {
            if (k == 0) continue;
            if (std::find(seen.begin(), seen.end(), k) != seen.end())
                std::fprintf(stderr, "pictrel: the key %s is given to more than one command\n",
                             ShortcutToText(k).toLocal8Bit().constData());
            else
                seen.push_back(k);
        }
    for (const TShortcut& s : m_shortcuts)
        s.Action->setToolTip(s.Action->text() + QStringLiteral(" (") + ShortcutToText(s.Keys[0]) +
                             u')');
}

void TMainForm::LoadViewerSettings() {
    const QRect screen = AvailableScreen();
    const TViewerStoreValues v = TViewerStoreValues::Load(screen.width(), screen.height());
    resize(std::max(v.Width, 100), std::max(v.Height, 100));
    move(v.Left, v.Top);
    if (v.WindowState == 2) setWindowState(Qt::WindowMaximized);
    for (int i = 0; i < layout::kPanelCount; ++i)
        ShowPanels[std::size_t(i)] = v.LayerVisible[std::size_t(i)];
    SimpleLeft = v.SimpleLeft;
    SimpleTop = v.SimpleTop;
    SimpleWidth = v.SimpleWidth;
    SimpleHeight = v.SimpleHeight;
    SimpleBlend = v.SimpleBlend;
    LoadPanelSettings();
}

void TMainForm::SaveViewerSettings() {
    const QRect screen = AvailableScreen();
    TViewerStoreValues v = TViewerStoreValues::Defaults(screen.width(), screen.height());
    if (SimpleMode) {
        // Where the user dragged the frame; the normal window comes back as it was.
        SimpleLeft = geometry().x();
        SimpleTop = geometry().y();
    }
    const QRect normal = SimpleMode ? NormalBounds : isMaximized() ? normalGeometry() : geometry();
    // The place is stored as the frame's, which is what move() restores: storing the
    // inside would move the window down and right by its frame at every start.
    const QPoint frame = SimpleMode ? m_normalFrameOffset : geometry().topLeft() - pos();
    v.Left = normal.x() - frame.x();
    v.Top = normal.y() - frame.y();
    v.Width = normal.width();
    v.Height = normal.height();
    v.WindowState = !SimpleMode && isMaximized() ? 2 : 0;
    v.SimpleLeft = SimpleLeft;
    v.SimpleTop = SimpleTop;
    v.SimpleWidth = SimpleWidth;
    v.SimpleHeight = SimpleHeight;
    v.SimpleBlend = SimpleBlend;
    for (int i = 0; i < layout::kPanelCount; ++i)
        v.LayerVisible[std::size_t(i)] = ShowPanels[std::size_t(i)];
    v.Save();
    SavePanelSettings();
}

// ---- opening ---------------------------------------------------------------------

void TMainForm::OpenFile(const QString& path) {
    PICTREL_ASSERT_GUI_THREAD();
    m_openedFiles.append(path);
    Trace("open", path);
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
        VekImageLoaderProStart(file);
    else
        VekImageLoaderPro.Open(file, true, page);
}

void TMainForm::NavigatorShow(TNavShow how, const QString& file, bool keepPrevious) {
    switch (how) {
    case TNavShow::nsPicture:
        // The picture leaving the screen is kept for a step back; otherwise it goes
        // with the loader's emptied bitmap.
        if (keepPrevious) PreviousPicture.SwapPixels(ImgView32->Bitmap);
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
        ImgView32->BeginUpdate();
        ImgView32->Bitmap.SwapPixels(PreviousPicture);
        ImgView32->EndUpdate();
        LoadFailed = false;
        ImgView32->Invalidate();
        break;
    case TNavShow::nsEmpty:
        ShowEmpty();
        break;
    }
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

void TMainForm::VekImageLoaderProStart(const QString& fileName) {
    // A prefetch changes nothing on screen.
    if (!m_nav.Displaying() || m_nav.Target() != fileName) return;
    ProgressPanel->SetText(QFileInfo(fileName).fileName());
    ProgressPanel->SetPosition(0);
    if (m_nav.PageLoad()) {
        // The shown page stays until the next one is there.
        if (FileSizeOf(fileName) > kLargeFileSize && !SimpleMode) {
            ProgressPanel->SetThumbnail(TBitmap32());
            ProgressPanel->Start();
        }
        return;
    }
    LoadFailed = false;
    ImageLoaded = false;
    VekMultipageBitmap.Stop();
    if (FileSizeOf(fileName) <= kLargeFileSize) return;
    const int angle = RotateAngles.Angle(fileName);
    const bool upright = DialogValues.ExifOrientation;
    if (SimpleMode) {
        // The frame shows the thumbnail at once in place of the picture.
        TBitmap32 thumbnail;
        if (!ShellThumbnail(fileName, thumbnail, SimpleWidth, clBlack32, SimpleHeight, upright))
            return;
        TurnQuarter(thumbnail, angle);
        ImgView32->BeginUpdate();
        ImgView32->Bitmap.SwapPixels(thumbnail);
        ImgView32->Bitmap.DrawMode = TDrawMode::dmBlend;
        MakeResampler(DialogValues.FilterKind, ImgView32->Bitmap);
        ImgView32->EndUpdate();
        ImgView32->Invalidate();
        return;
    }
    TBitmap32 thumbnail;
    if (ShellThumbnail(fileName, thumbnail, kProgressThumbnailSize, clBlack32,
                       kProgressThumbnailSize, upright)) {
        TurnQuarter(thumbnail, angle);
        ProgressPanel->SetThumbnail(thumbnail);
    } else {
        ProgressPanel->SetThumbnail(TBitmap32());
    }
    ProgressPanel->Start();
}

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

void TMainForm::ShowLoadedImage() {
    PICTREL_ASSERT_GUI_THREAD();
    ProgressPanel->Stop();
    ShownHasAlpha = VekImageLoaderPro.HasAlpha();
    const QString shown = VekImageLoaderPro.FileName();
    Trace("shown", shown);
    Zoom.FitMode = true;
    ImageLoaded = true;
    LoadFailed = false;
    m_quickLook = TDrawnPicture();

    ImgView32->BeginUpdate();
    TakeLoadedPicture();
    SetCaption(shown);
    Zoom.RotationAngle = RotateAngles.Angle(shown);
    m_shownLists = {VekImageLoaderPro.ExifList(), VekImageLoaderPro.IptcList(),
                    VekImageLoaderPro.XmpList(), VekImageLoaderPro.GeoTiffList(),
                    VekImageLoaderPro.InfoList()};
    if (!SimpleMode) FillPanels();
    UpdatePanels();
    ImgView32->Invalidate();
    ImgView32->EndUpdate();

    const TVekImageKind kind = VekImageLoaderPro.ImageKind();
    m_pageCount = VekImageLoaderPro.PageCount();
    m_pageIndex = m_requestedPage = std::max(VekImageLoaderPro.PageIndex(), 0);
    PagesToolbarVisible =
        (kind == TVekImageKind::ikTiff || kind == TVekImageKind::ikIcon) && m_pageCount >= 2;
    PagesPopupMenu->clear();
    if (PagesToolbarVisible)
        for (int i = 0; i < VekImageLoaderPro.PageCount(); ++i)
            connect(PagesPopupMenu->addAction(QString::number(i + 1)), &QAction::triggered, this,
                    [this, i] { ShowPage(i); });

    VekMultipageBitmap.Stop();
    VekMultipageBitmap.Clear();
    VekMultipageBitmap.Assign(VekImageLoaderPro);
    VekImageLoaderPro.ReleaseSource();
    if (kind == TVekImageKind::ikGif) VekMultipageBitmap.Play();
    UpdateToolbar();
    UpdatePageButtons();
    // "Edit" chooses among the installed desktop entries; they are read here, on a
    // worker, while the user looks, so the command itself reads nothing.
    m_editWork.RunLatest([](const TJobStop&) { (void)CachedDesktopEntries(); }, [] {});
}

void TMainForm::ShowLoadError(const QString& file) {
    PagesToolbarVisible = false;
    PagesToolbar->SetVisible(false);
    ShownHasAlpha = false;
    Trace("failed", file);
    ImageLoaded = false;
    VekMultipageBitmap.Stop();
    VekMultipageBitmap.Clear();
    ImgView32->Bitmap.Delete();
    SetCaption(file);
    ClearPanels();
    LoadFailed = true;
    ErrorText = QStringLiteral("Can't open image");
    ImgView32->Invalidate();
    ProgressPanel->Stop();
    UpdateToolbar();
}

void TMainForm::TakeLoadedPicture() {
    TBitmap32& picture = ImgView32->Bitmap;
    // Moved, not copied; what the view held goes with the loader's empty bitmap.
    picture.SwapPixels(VekImageLoaderPro.Bitmap());
    VekImageLoaderPro.Bitmap().Delete();
    MakeResampler(DialogValues.FilterKind, picture);
    picture.DrawMode = TDrawMode::dmBlend;
    picture.CombineMode = TCombineMode::cmBlend;
    ImgView32->AdoptDrawing(std::move(VekImageLoaderPro.Drawn()));
    ImgView32->Model().SetOverSize(TViewerZoom::ScrollMargin(picture.Width(), picture.Height()));
}

void TMainForm::ShowLoadedPage() {
    ProgressPanel->Stop();
    ShownHasAlpha = VekImageLoaderPro.HasAlpha();
    ImageLoaded = true;
    LoadFailed = false;
    m_pageIndex = m_requestedPage = VekImageLoaderPro.PageIndex();
    ImgView32->BeginUpdate();
    TakeLoadedPicture();
    VekImageLoaderPro.ReleaseSource();
    ImgView32->Bitmap.Changed();
    // A new page has its own colours; the metadata stays the file's.
    m_histogramStale = true;
    UpdatePanels();
    ImgView32->EndUpdate();
    ImgView32->Invalidate();
    AfterPageChange();
}

void TMainForm::ShowPageError() {
    ProgressPanel->Stop();
    ImageLoaded = false;
    LoadFailed = true;
    ErrorText = QStringLiteral("Can't open image");
    ImgView32->Bitmap.Delete();
    HistogramPanel->Analyze(nullptr);
    m_histogramStale = true;
    UpdatePanels();
    ImgView32->Invalidate();
    // The pages stay, so another one can be chosen.
    UpdatePageButtons();
}

void TMainForm::ShowEmpty() {
    ImageLoaded = false;
    LoadFailed = false;
    PagesToolbarVisible = false;
    VekMultipageBitmap.Stop();
    VekMultipageBitmap.Clear();
    ImgView32->Bitmap.Delete();
    ProgressPanel->Stop();
    setWindowTitle(QStringLiteral("Pictrel"));
    ClearPanels();
    ImgView32->Invalidate();
}

void TMainForm::SetCaption(const QString& fileName) {
    setWindowTitle(ProgramCaption(fileName));
}

void TMainForm::VekMultipageBitmapBitmapChange(TBitmap32& bitmap) {
    TBitmap32& picture = ImgView32->Bitmap;
    ImgView32->BeginUpdate();
    picture.SwapPixels(bitmap);
    picture.DrawMode = TDrawMode::dmBlend;
    picture.CombineMode = TCombineMode::cmBlend;
    MakeResampler(DialogValues.FilterKind, picture);
    ImgView32->EndUpdate();
    bitmap.Delete();
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

void TMainForm::DeleteShownFile() {
    // Only the picture on screen, and only while it is the list's current entry.
    if (!m_nav.ShownIsCurrent()) return;
    const QString path = m_nav.Shown();
    const bool toTrash = DialogValues.DeleteToTrash;
    const QString question =
        (toTrash ? QStringLiteral("Are you sure you want to move to the trash\n")
                 : QStringLiteral("Are you sure you want to delete\n")) +
        QDir::toNativeSeparators(path);
    if (!(Confirm ? Confirm(question)
                  : QMessageBox::question(this, QStringLiteral("Pictrel"), question,
                                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes))
        return;
    // The file asked about, whatever happened to the list while the question was open.
    QFile file(path);
    if (!(toTrash ? file.moveToTrash() : file.remove())) {
        ShowWarning((toTrash ? QStringLiteral("Can't move file to the trash\n")
                             : QStringLiteral("Can't delete file\n")) +
                    QDir::toNativeSeparators(path) + u'\n' + file.errorString());
        return;
    }
    if (path == m_nav.PreviousFile()) PreviousPicture.Delete();
    m_nav.Deleted(path);
    AfterNavigation();
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
    const TBitmap32& picture = ImgView32->Bitmap;
    if (picture.Empty()) return 1;
    return TViewerZoom::FitScale(picture.Width(), picture.Height(), ImgView32->ViewWidth(),
                                 ImgView32->ViewHeight(), Zoom.RotationAngle);
}

void TMainForm::SetZoom(double value) {
    ApplyZoom(Zoom.SetZoom(value));
}

void TMainForm::ApplyZoom(bool wasFitted) {
    TImageViewModel& model = ImgView32->Model();
    model.SetScale(Zoom.ViewScale);
    // An explicit zoom out of the fitted picture starts from a centred one.
    if (wasFitted) {
        model.SetCentered(false);
        model.SetCentered(true);
    }
    ImgView32->Invalidate();
    UpdateActions();
}

void TMainForm::ZoomBy(int direction) {
    if (!ImageLoaded) return;
    ApplyZoom(direction > 0 ? Zoom.ZoomIn(FitScale()) : Zoom.ZoomOut(FitScale()));
}

void TMainForm::wheelEvent(QWheelEvent* event) {
    event->accept();
    if (!ImageLoaded || SimpleMode) return;
    const int delta = event->angleDelta().y();
    if (delta != 0) ApplyZoom(Zoom.Wheel(delta, FitScale()));
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
    if (!PagesToolbarVisible || index < 0 || index >= m_pageCount) return;
    // Decoded on the loader's worker under the same size rule as a first page.
    m_requestedPage = index;
    m_nav.ShowPage(index);
    AfterNavigation();
}

void TMainForm::AfterPageChange() {
    MakeResampler(DialogValues.FilterKind, ImgView32->Bitmap);
    UpdatePageButtons();
}

void TMainForm::UpdatePageButtons() {
    const int index = m_requestedPage;
    PageLabel = QString::number(index + 1);
    PrevPageAction->setEnabled(PagesToolbarVisible && index > 0);
    NextPageAction->setEnabled(PagesToolbarVisible && index < m_pageCount - 1);
    PageNumberLabel->SetCaption(PageLabel);
    PagesToolbar->Items(0)->SetEnabled(PrevPageAction->isEnabled());
    PagesToolbar->Items(2)->SetEnabled(NextPageAction->isEnabled());
    PagesToolbar->SetVisible(PagesToolbarVisible && !SimpleMode);
}

void TMainForm::ShowPagesMenu() {
    if (!PagesToolbarVisible) return;
    PagesPopupMenu->popup(mapToGlobal(QPoint(width() / 2 - 27, 26)));
}

// ---- actions ----------------------------------------------------------------------

void TMainForm::UpdateActions() {
    const bool several = FileList.size() > 1;
    SlideShowAction->setEnabled(Ports.PlaySlideShow != nullptr && !FileList.isEmpty());
    PreviousAction->setVisible(several);
    NextAction->setVisible(several);
    for (QAction* a :
         {ZoomInAction, ZoomOutAction, ZoomRealAction, RotateLeftAction, RotateRightAction})
        a->setEnabled(ImageLoaded);
    ZoomFitAction->setEnabled(ImageLoaded && !Zoom.FitMode);
    DeleteAction->setVisible(ImageLoaded);
    // These name the file on screen: not while another one is on its way.
    for (QAction* a : {DeleteAction, PrintAction, OpenEditAction})
        a->setEnabled(m_nav.ShownIsCurrent());
    PrintAction->setVisible(ImageLoaded);
    WallpaperAction->setVisible(ImageLoaded);
    OpenEditAction->setVisible(ImageLoaded);
    for (QAction* a : {OptimalWallpaperAction, TileWallpaperAction, CenterWallpaperAction,
                       StretchWallpaperAction})
        a->setEnabled(ImageLoaded && !m_settingWallpaper);
    const std::pair<QAction*, layout::TPanel> shows[] = {
        {ShowCommonInfoAction, layout::TPanel::pnInfo},
        {ShowHistogramAction, layout::TPanel::pnHistogram},
        {ShowExifAction, layout::TPanel::pnExif},
        {ShowIPTCAction, layout::TPanel::pnIptc},
        {ShowXMPAction, layout::TPanel::pnXmp},
        {ShowGeoTiffAction, layout::TPanel::pnGeoTiff},
        {ShowCommentAction, layout::TPanel::pnComment}};
    for (const auto& [action, panel] : shows) {
        action->setChecked(ShowPanels[std::size_t(panel)]);
        bool visible = ImageLoaded;
        if (panel == layout::TPanel::pnComment)
            visible = visible && CommentAvailable;
        else if (panel != layout::TPanel::pnHistogram)
            visible =
                visible && !static_cast<TVekMetaDataLayer*>(Panel(int(panel)))->Lines().isEmpty();
        action->setVisible(visible);
    }
}

void TMainForm::UpdateToolbar() {
    UpdateActions();
    // Back, next, the separator after them and the slideshow button.
    const bool several = FileList.size() > 1;
    SlideShowAction->setEnabled(Ports.PlaySlideShow != nullptr && !FileList.isEmpty());
    for (int i : {0, 1, 2, 9}) MainToolbar->Items(i)->SetVisible(several);
    // Fit, actual size and the two turns.
    for (int i : {3, 4, 6, 7}) MainToolbar->Items(i)->SetEnabled(ImageLoaded);
    // The buttons of the other windows follow their commands.
    MainToolbar->Items(9)->SetEnabled(SlideShowAction->isEnabled());
    MainToolbar->Items(10)->SetEnabled(WizardSlideShowAction->isEnabled());
    MainToolbar->Items(12)->SetEnabled(SettingsAction->isEnabled());
    PagesToolbar->SetVisible(PagesToolbarVisible && !SimpleMode);
}

void TMainForm::ClearPanels() {
    for (TVekMetaDataLayer* panel :
         {ExifPanel.get(), IptcPanel.get(), XmpPanel.get(), GeoTiffPanel.get(), InfoPanel.get()})
        panel->ClearLines();
    m_shownLists = {};
    CommentPanel->SetText(QString());
    HistogramPanel->Analyze(nullptr);
    m_histogramStale = true;
    UpdatePanels();
}

namespace {

// A modifier key alone (left Shift turns left): it acts when released without another
// key pressed meanwhile, so holding Shift for another shortcut does not turn.
bool ModifierAlone(std::uint16_t shortcut) {
    switch (shortcut) {
    case vkShift:
    case vkControl:
    case vkMenu:
    case vkLShift:
    case vkRShift:
    case vkLControl:
    case vkRControl:
    case vkLMenu:
    case vkRMenu:
        return true;
    default:
        return false;
    }
}

bool IsModifierKey(int qtKey) {
    return qtKey == Qt::Key_Shift || qtKey == Qt::Key_Control || qtKey == Qt::Key_Alt ||
           qtKey == Qt::Key_AltGr || qtKey == Qt::Key_Meta;
}

} // namespace

void TMainForm::keyPressEvent(QKeyEvent* event) {
    // Shortcuts first, as a menu's would be; what they leave goes to the layer that
    // took the last click. While a comment is edited every key goes to the editor.
    const bool editing = CommentPanel && CommentPanel->Editing();
    if (event->isAutoRepeat() && m_pendingModifier.Action) return;
    m_pendingModifier = {};
    for (const TShortcut& s : m_shortcuts) {
        if (editing) break;
        for (std::uint16_t k : s.Keys) {
            if (k == 0 || !ShortcutMatches(k, *event)) continue;
            if (ModifierAlone(k))
                m_pendingModifier = TPendingKey{s.Action, k};
            else if (s.Action->isEnabled() && s.Action->isVisible())
                s.Action->trigger();
            return;
        }
    }
    std::uint16_t key = ShortcutFromKeyEvent(*event) & 0xFF;
    if (ImgView32->Layers.KeyDown(key, ShiftOf(event->modifiers()))) {
        // The characters the key typed follow, as the platform's text input gives them.
        for (QChar c : event->text()) ImgView32->Layers.KeyPress(c);
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMainForm::keyReleaseEvent(QKeyEvent* event) {
    const TPendingKey pending = m_pendingModifier;
    if (pending.Action && !event->isAutoRepeat()) {
        if (ShortcutMatches(pending.Key, *event)) {
            m_pendingModifier = {};
            if (pending.Action->isEnabled() && pending.Action->isVisible())
                pending.Action->trigger();
            return;
        }
        // Another modifier coming up leaves the lone key pending: input tools type right
        // Shift as left Shift down, right Shift down, left Shift up, right Shift up.
        if (!IsModifierKey(event->key())) m_pendingModifier = {};
    }
    std::uint16_t key = ShortcutFromKeyEvent(*event) & 0xFF;
    if (ImgView32->Layers.KeyUp(key, ShiftOf(event->modifiers()))) return;
    QWidget::keyReleaseEvent(event);
}

// ---- painting ---------------------------------------------------------------------

TAffineTransformation TMainForm::PictureTransform() const {
    const TBitmap32& picture = ImgView32->Bitmap;
    const int w = picture.Width(), h = picture.Height();
    if (Zoom.FitMode || SimpleMode)
        return TViewerZoom::FittedTransform(w, h, ImgView32->ViewWidth(), ImgView32->ViewHeight(),
                                            Zoom.RotationAngle, FitScale());
    if (Zoom.RotationAngle % 360 != 0) {
        const TFloatRect r = ImgView32->Model().BitmapRect();
        return TViewerZoom::TurnedTransform(w, h, Zoom.RotationAngle, Zoom.ViewScale,
                                            std::round(r.Left), std::round(r.Top));
    }
    return ImgView32->ViewTransform();
}

void TMainForm::ImgView32PaintStage(TBitmap32& buffer, int stage) {
    const TRect view = ImgView32->ViewRect();
    if (stage == 0) {
        buffer.FillRect(view, kViewBackground);
        QFont font = m_viewFont;
        font.setPointSizeF(m_viewFont.pointSizeF() * ImgView32->DeviceRatio());
        const auto centred = [&](const QString& text, int line) {
            const QSize size = TextExtent(font, text);
            TextOut(buffer, (view.Width() - size.width()) / 2,
                    (view.Height() - size.height()) / 2 + line * size.height(), text, font,
                    kViewText);
        };
        if (!ImageLoaded && FileList.isEmpty() && !LoadFailed && !m_nav.Listing() &&
            !m_nav.Displaying())
            centred(QStringLiteral("No preview available"), 0);
        if (!ImageLoaded && SimpleMode) buffer.FrameRectTS(view, kSimpleFrame);
        if (LoadFailed) {
            centred(ErrorText, 0);
            const QString& path = m_nav.Shown();
            if (!path.isEmpty()) centred(QDir::toNativeSeparators(path), 1);
        }
        return;
    }
    const TBitmap32& picture = ImgView32->Bitmap;
    if (picture.Empty()) {
        PaintQuickLook(buffer);
        return;
    }
    const TAffineTransformation t = PictureTransform();
    const TRect dest = OutsideRect(t.TransformRect(ToFloatRect(picture.BoundsRect())));
    if (!SimpleMode && ShownHasAlpha) {
        if (DialogValues.UseBackgroundColor)
            buffer.FillRectTS(dest, DialogValues.BackgroundColor);
        else
            CheckerFill(buffer, dest, kCheckerCell, kCheckerLight, kCheckerDark, kCheckerCell);
    }
    ImgView32->PaintPicture(buffer, t);
    if (DialogValues.ShowFrame)
        buffer.FrameRectTS(SimpleMode ? view : dest, SimpleMode ? kSimpleFrame : kPictureFrame);
}

bool TMainForm::QuickLookWanted(const QString& file) const {
    return !ImageLoaded && !LoadFailed && m_nav.Displaying() && file == m_nav.Target();
}

void TMainForm::ShowQuickLook(const QString& file, TDrawnPicture&& drawn) {
    if (SimpleMode || !QuickLookWanted(file)) return;
    m_quickLook = std::move(drawn);
    m_quickLookFile = file;
    // The picture is there: the rest of it comes without covering it.
    ProgressPanel->Stop();
    ImgView32->Invalidate();
}

void TMainForm::PaintQuickLook(TBitmap32& buffer) {
    if (m_quickLook.Bitmap.Empty()) return;
    if (!QuickLookWanted(m_quickLookFile)) {
        m_quickLook = TDrawnPicture();
        return;
    }
    // Drawn for the window's stored size: a view of another size shows nothing until
    // the picture itself arrives.
    const TRect view = ImgView32->ViewRect();
    const TRect& area = m_quickLook.Area;
    if (area.Left < 0 || area.Top < 0 || area.Right > view.Width() || area.Bottom > view.Height() ||
        std::abs(area.Left + area.Right - view.Width()) > 2 ||
        std::abs(area.Top + area.Bottom - view.Height()) > 2)
        return;
    TBitmap32& drawn = m_quickLook.Bitmap;
    drawn.DrawMode = TDrawMode::dmBlend;
    buffer.Draw(area.Left, area.Top, drawn);
    if (DialogValues.ShowFrame) buffer.FrameRectTS(area, kPictureFrame);
}

// ---- the mouse ----------------------------------------------------------------------

void TMainForm::ImgView32MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    // A press beside the comment ends its editing.
    if (CommentPanel) CommentPanel->SetEditing(false);
    if (button == TMouseButton::mbLeft) DragStart = {x, y};
    if (SimpleMode && button == TMouseButton::mbLeft) {
        if (shift & ssDouble) {
            LeaveSimpleMode();
            return;
        }
        // Where the compositor places windows itself, it moves the frame too.
        if (QGuiApplication::platformName() == QLatin1String("wayland") && windowHandle())
            windowHandle()->startSystemMove();
        return;
    }
    if (!ImageLoaded || button != TMouseButton::mbLeft || (shift & ssDouble)) return;
    if (!Zoom.FitMode) {
        m_panning = true;
        ImgView32->setCursor(Qt::SizeAllCursor);
    } else if ((shift & ssCtrl) && m_nav.ShownIsCurrent()) {
        StartFileDrag();
    }
}

void TMainForm::ImgView32MouseMove(TShiftState shift, int x, int y) {
    if (SimpleMode) {
        if (!(shift & ssLeft)) return;
        // The press point stays under the pointer as the frame follows it.
        const double ratio = ImgView32->DeviceRatio();
        ImgView32->setCursor(Qt::SizeAllCursor);
        setGeometry(geometry().translated(int((x - DragStart.x()) / ratio),
                                          int((y - DragStart.y()) / ratio)));
        return;
    }
    if (!ImageLoaded || !(shift & ssLeft) || Zoom.FitMode || !m_panning) return;
    ImgView32->setCursor(Qt::SizeAllCursor);
    ImgView32->Model().Scroll(DragStart.x() - x, DragStart.y() - y);
    DragStart = {x, y};
    ImgView32->Invalidate();
}

void TMainForm::ImgView32MouseUp(TMouseButton button, TShiftState, int x, int y) {
    m_panning = false;
    if (!ImageLoaded) return;
    if (button == TMouseButton::mbRight) {
        UpdateActions();
        PopupAt(SimpleMode ? SimpleModeTBXPopupMenu : ImageTBXPopupMenu, x, y);
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
