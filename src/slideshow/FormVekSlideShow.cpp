#include "slideshow/FormVekSlideShow.h"

#include "app/AppContext.h"
#include "gfx/DevicePixels.h"
#include "gfx/PaintBox32Widget.h"
#include "layers/ResourceLoader.h"
#include "loading/ImageConversion.h"
#include "loading/ImageFilter.h"
#include "platform/VirtualKeys.h"
#include "show/CustomVekTransformer.h"
#include "show/StoredSlideshowValues.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPixmap>
#include <QScreen>
#include <QToolBar>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <string_view>
#include <utility>

namespace {

constexpr int kPanelWidth = 127;
constexpr int kPanelHeight = 22;
constexpr int kEffectIntervalMs = 26;
constexpr int kMouseHideMs = 1000;
// The pointer must move this far (left or up, or now any way) before the toolbar shows.
constexpr int kPointerSlack = 2;

} // namespace

TSlideShowForm::TSlideShowForm(TAppContext& context, TVekSettingsFile& slideshow)
    : m_context(context), m_slideshow(slideshow) {
    setWindowTitle(QStringLiteral("Pictrel"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(128, 128, 128));
    setPalette(grey);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(8);
    setFont(font);

    PaintBox32 = new TPaintBox32(this);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PaintBox32);
    PaintBox32->OnClick = [this] { ShowNext(); };
    PaintBox32->OnMouseMove = [this](int x, int y) { PaintBox32MouseMove(x, y); };
    PaintBox32->OnMouseLeave = [this] { MouseHideThreadedTimer.SetEnabled(false); };
    PaintBox32->OnDeviceRatioChange = [this] { DeviceRatioChanged(); };

    VekImageLoaderPro.SetPriority(TThreadPriority::tpHigher);
    // No alpha channel: translucent pictures are laid on black, as the screen is.
    VekImageLoaderPro.SetCombineAlpha(true);
    VekImageLoaderPro.Settings().BackgroundColor = clBlack32;
    VekImageLoaderPro.OnStart = [this](TVekImageLoaderPro&, const QString&) {
        m_pagesHandedOver = false;
        Model.LoadStarted();
    };
    VekImageLoaderPro.OnBitmapChange = [this](TVekImageLoaderPro&, TBitmap32&) {
        VekImageLoaderProBitmapChange();
    };
    VekImageLoaderPro.OnSucces = [](TVekImageLoaderPro& loader) { loader.ReleaseSingleBitmap(); };
    VekImageLoaderPro.OnError = [this](TVekImageLoaderPro&) { VekImageLoaderProError(); };
    VekImageLoaderPro.OnWork = [](TVekImageLoaderPro&, int) {};
    // The picture is fitted on the worker, right after its decode.
    VekImageLoaderPro.PreparePicture = [this](const QString& file) {
        const QSize box = BoxSize();
        const int angle = RotationOf ? RotationOf(file) : 0;
        const int filter = Values().FilterKind;
        return std::function<void(TBitmap32&, TDrawnPicture&)>(
            [box, angle, filter](TBitmap32& picture, TDrawnPicture& drawn) {
                FitPicture(picture, drawn.Bitmap, box.height(), box.width(), angle, filter);
                // The full-size picture is not needed once fitted.
                picture.Delete();
            });
    };
    VekMultipageBitmap.OnBitmapChange = [this](TVekMultipageBitmap&, TBitmap32& frame) {
        VekMultipageBitmapBitmapChange(frame);
    };

    DelayThreadedTimer.SetAllowZero(true);
    DelayThreadedTimer.SetThreadPriority(TThreadPriority::tpLower);
    DelayThreadedTimer.OnTimer = [this](TThreadedTimer&) { DelayThreadedTimerTimer(); };
    EffectThreadedTimer.SetAllowZero(true);
    EffectThreadedTimer.SetInterval(kEffectIntervalMs);
    EffectThreadedTimer.OnTimer = [this](TThreadedTimer&) { EffectThreadedTimerTimer(); };
    MouseHideThreadedTimer.SetInterval(kMouseHideMs);
    MouseHideThreadedTimer.OnTimer = [this](TThreadedTimer&) { MouseHideThreadedTimerTimer(); };
    VekAudioPlayer.OnEndPlay = [this](TVekAudioPlayer&) { VekAudioPlayerEndPlay(); };
    VekAudioPlayer.OnError = [this](TVekAudioPlayer&, const QString& error) {
        std::fprintf(stderr, "pictrel: %s\n", error.toLocal8Bit().constData());
    };
    OpenTimer.setSingleShot(true);
    OpenTimer.setInterval(100);
    connect(&OpenTimer, &QTimer::timeout, this, &TSlideShowForm::OpenTimerTimer);

    ReadStoredSlideshowValues(m_slideshow);
    DelayThreadedTimer.SetInterval(m_slideshow.Delay);
}

TSlideShowForm::~TSlideShowForm() {
    m_guard.Revoke();
    m_fitWork.Shutdown();
    m_listWork.Shutdown();
    OpenTimer.stop();
    Model.Stop();
    MouseHideThreadedTimer.SetEnabled(false);
    VekImageLoaderPro.Cancel();
    // Whatever the wizard, a slideshow file or the settings last chose is kept.
    try {
        StoreSlideshowValues(m_slideshow);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pictrel: slideshow settings not saved: %s\n", e.what());
    }
}

// ---- toolbar --------------------------------------------------------------------

void TSlideShowForm::CreateToolbar() {
    TBXAlignmentPanel = new QWidget(this);
    TBXAlignmentPanel->setFixedSize(kPanelWidth, kPanelHeight);
    auto* layout = new QHBoxLayout(TBXAlignmentPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    Toolbar = new QToolBar(TBXAlignmentPanel);
    Toolbar->setIconSize(QSize(16, 16));
    Toolbar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    layout->addWidget(Toolbar);
    const auto item = [this](const char* hint) {
        QAction* a = Toolbar->addAction(QString());
        a->setToolTip(QString::fromLatin1(hint));
        a->setText(QString::fromLatin1(hint));
        return a;
    };
    PlayTBXItem = item("Play");
    PauseTBXItem = item("Pause");
    auto* group = new QActionGroup(this);
    for (QAction* a : {PlayTBXItem, PauseTBXItem}) {
        a->setCheckable(true);
        group->addAction(a);
        connect(a, &QAction::triggered, this, [this] { PlayTBXItemClick(); });
    }
    PlayTBXItem->setChecked(true);
    Toolbar->addSeparator();
    PrevTBXItem = item("Previous image");
    NextTBXItem = item("Next image");
    Toolbar->addSeparator();
    ExitTBXItem = item("Exit from slide show");
    // A step while a picture is still loading waits for it (the model keeps it).
    connect(PrevTBXItem, &QAction::triggered, this, [this] { ShowPrevious(); });
    connect(NextTBXItem, &QAction::triggered, this, [this] { ShowNext(); });
    connect(ExitTBXItem, &QAction::triggered, this, [this] { close(); });
}

void TSlideShowForm::ApplyIcons() {
    const TMenuIcons* list = Icons ? Icons() : nullptr;
    const std::pair<QAction*, std::string_view> icons[] = {{PlayTBXItem, "Play"},
                                                           {PauseTBXItem, "Pause"},
                                                           {PrevTBXItem, "Previous"},
                                                           {NextTBXItem, "Next"},
                                                           {ExitTBXItem, "Exit"}};
    for (const auto& [action, name] : icons) {
        QIcon icon = list != nullptr ? list->Icon(name) : QIcon();
        if (icon.isNull()) {
            // The viewer's icons are not there (yet): the same pictures from the resources.
            const QString resource =
                QStringLiteral("z") + QLatin1String(name.data(), qsizetype(name.size()));
            if (const QPixmap p = LoadResourcePixmap(resource); !p.isNull()) icon = QIcon(p);
        }
        if (!icon.isNull()) action->setIcon(icon);
    }
    // The style's buttons may be larger than the panel planned for: the panel takes the
    // toolbar's own size, so the exit button is never pushed into an overflow menu.
    const QSize wanted = Toolbar->sizeHint();
    TBXAlignmentPanel->setFixedSize(std::max(kPanelWidth, wanted.width()),
                                    std::max(kPanelHeight, wanted.height()));
}

void TSlideShowForm::PlaceToolbar() {
    TBXAlignmentPanel->move(width() - TBXAlignmentPanel->width(), 0);
    TBXAlignmentPanel->raise();
}

void TSlideShowForm::ShowPointerAndToolbar(bool show) {
    PaintBox32->setCursor(show ? Qt::ArrowCursor : Qt::BlankCursor);
    TBXAlignmentPanel->setVisible(show);
    if (show) PlaceToolbar();
}

void TSlideShowForm::PlayTBXItemClick() {
    Model.SetPlaying(PlayTBXItem->isChecked());
    m_mpris.SetStatus(PlayTBXItem->isChecked() ? TMprisPlayer::TStatus::Playing
                                               : TMprisPlayer::TStatus::Paused);
}

void TSlideShowForm::ConnectMpris() {
    if (!m_mpris.Actions.Play) {
        const auto toggle = [this](bool play) {
            if (PlayTBXItem->isChecked() != play) (play ? PlayTBXItem : PauseTBXItem)->trigger();
        };
        m_mpris.Actions = {[this, toggle] { toggle(!PlayTBXItem->isChecked()); },
                           [toggle] { toggle(true); },
                           [toggle] { toggle(false); },
                           [this] { ShowNext(); },
                           [this] { ShowPrevious(); },
                           [this] { close(); }};
    }
    m_mpris.SetStatus(TMprisPlayer::TStatus::Playing);
    m_mpris.Register();
}

// ---- starting ---------------------------------------------------------------------

void TSlideShowForm::OpenSlideshowFile(const QString& path) {
    PICTREL_ASSERT_GUI_THREAD();
    TVekSettingsFile* slideshow = &m_slideshow;
    if (QFileInfo(path).suffix().compare(QStringLiteral("VekSS"), Qt::CaseInsensitive) == 0) {
        if (!slideshow->LoadFromFile(path))
            throw std::runtime_error("Can't open slideshow file\n" + path.toStdString());
        DelayThreadedTimer.SetInterval(slideshow->Delay);
    } else {
        slideshow->ImageList = {path};
    }
}

void TSlideShowForm::StartFromViewer(int index, TVekMultipageBitmap& pages, TBitmap32 shown,
                                     const QString& shownFile) {
    PICTREL_ASSERT_GUI_THREAD();
    StartedFromWizard = false;
    Model.ImageIndex = std::max(0, index);
    Model.Step = 0;
    Model.Preloading = false;
    VekMultipageBitmap.Assign(pages);
    // Until the viewer's picture is fitted (or, without it, decoded again) the screen
    // stays black.
    NextPicture.Delete();
    m_handedPicture = std::move(shown);
    m_handedFile = m_handedPicture.Empty() ? QString() : shownFile;
    PaintBox32->Buffer().Clear(clBlack32);
    show();
}

void TSlideShowForm::StartFromWizard() {
    PICTREL_ASSERT_GUI_THREAD();
    StartedFromWizard = true;
    Model.Step = 0;
    Model.Preloading = false;
    Model.ImageIndex = 0;
    show();
}

QSize TSlideShowForm::BoxSize() const {
    const QSize own = PaintBox32->DeviceSize();
    if (m_shown && !own.isEmpty()) return own;
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return {1024, 768};
    const double ratio = screen->devicePixelRatio();
    const QSize logical = screen->geometry().size();
    return {DeviceLength(logical.width(), ratio), DeviceLength(logical.height(), ratio)};
}

void TSlideShowForm::CoverScreen() {
    QScreen* screen = nullptr;
    if (ViewerScreen) screen = ViewerScreen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    setGeometry(screen->geometry());
    if (windowHandle() != nullptr) windowHandle()->setScreen(screen);
}

void TSlideShowForm::DeviceRatioChanged() {
    if (!m_shown) return;
    if (!m_begun) {
        // The viewer's picture, fitted or being fitted for the old ratio, is decoded
        // again by the show instead.
        if (m_fitting || !NextPicture.Empty()) {
            ++m_fitGeneration;
            m_fitWork.Cancel();
            m_fitting = false;
            NextPicture.Delete();
            m_handedFile.clear();
            BeginWhenReady();
        }
        return;
    }
    // The picture on screen stays, at its old size, until it is fitted again.
    DrawStep(0);
    if (!Images.isEmpty()) {
        Model.ShowAgain();
        return;
    }
    Model.Preloading = false;
    MessageArrives("No images");
}

void TSlideShowForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    m_begun = false;
    // Made when first needed: the window exists from the program's start, and the
    // viewer's first picture should not wait for a toolbar nobody sees yet.
    if (Toolbar == nullptr) CreateToolbar();
    CoverScreen();
    setWindowState(windowState() | Qt::WindowFullScreen);
    PaintBox32->setGeometry(rect());
    PaintBox32->FitBuffer();
    ApplyIcons();
    PlaceToolbar();
    m_keys = Values();
    // The screen stays on while the pictures show.
    m_screenSaver.Inhibit(QStringLiteral("Pictrel"), QStringLiteral("Playing a slideshow"));
    ConnectMpris();
    // Over the viewer that started it, with the keys.
    raise();
    activateWindow();
    setFocus();
    FitHandedPicture();
    OpenTimer.start();
}

void TSlideShowForm::FitHandedPicture() {
    m_fitting = false;
    if (m_handedPicture.Empty()) return;
    m_fitting = true;
    const QSize box = BoxSize();
    const int angle = RotationOf ? RotationOf(m_handedFile) : 0;
    const int filter = Values().FilterKind;
    auto picture = std::make_shared<TBitmap32>(std::move(m_handedPicture));
    m_handedPicture = TBitmap32();
    const std::uint64_t generation = ++m_fitGeneration;
    m_fitWork.RunLatest(
        [picture, box, angle, filter](const TJobStop&) {
            auto fitted = std::make_shared<TBitmap32>();
            FitPicture(*picture, *fitted, box.height(), box.width(), angle, filter);
            picture->Delete();
            // Laid on black, as the show's own loads are.
            CombineAlphaOver(*fitted, clBlack32);
            return fitted;
        },
        [this, generation](const std::shared_ptr<TBitmap32>& fitted) {
            if (generation != m_fitGeneration || !m_shown) return;
            m_fitting = false;
            NextPicture = std::move(*fitted);
            NextPicture.DrawMode = TDrawMode::dmOpaque;
            BeginWhenReady();
        },
        [this, generation](const QString& error) {
            // No room to fit it: the show decodes the file itself, as without it.
            std::fprintf(stderr, "pictrel: %s\n", error.toLocal8Bit().constData());
            if (generation != m_fitGeneration || !m_shown) return;
            m_fitting = false;
            NextPicture.Delete();
            m_handedFile.clear();
            BeginWhenReady();
        });
}

void TSlideShowForm::BeginWhenReady() {
    if (!m_listed || m_fitting) return;
    m_listed = false;
    BeginShow(std::exchange(m_listedImages, {}));
}

void TSlideShowForm::OpenTimerTimer() {
    PICTREL_ASSERT_GUI_THREAD();
    OpenTimer.stop();
    const TVekSettingsFile* slideshow = &m_slideshow;
    slideshow->GetMusicFiles(Music, false);
    // Turned and coloured as the viewer shows them.
    const TDialogStoreValues values = Values();
    VekImageLoaderPro.Settings().ExifOrientation = values.ExifOrientation;
    VekImageLoaderPro.Settings().ColourManagement = values.ColourManagement;
    // A folder of thousands of pictures is listed on a worker.
    const QStringList entries = slideshow->ImageList;
    const std::uint64_t generation = ++m_listGeneration;
    m_listing = true;
    m_listWork.RunLatest(
        [entries](const TJobStop&) { return ExpandFileList(entries, true, ImageExtensions()); },
        [this, generation](QStringList files) {
            if (generation != m_listGeneration || !m_shown) return;
            m_listing = false;
            m_listed = true;
            m_listedImages = std::move(files);
            BeginWhenReady();
        },
        [this, generation](const QString& error) {
            // The show still begins, with "No images", rather than staying black.
            std::fprintf(stderr, "pictrel: %s\n", error.toLocal8Bit().constData());
            if (generation != m_listGeneration || !m_shown) return;
            m_listing = false;
            m_listed = true;
            m_listedImages.clear();
            BeginWhenReady();
        });
}

void TSlideShowForm::BeginShow(QStringList images) {
    m_begun = true;
    Images = std::move(images);
    const TVekSettingsFile* slideshow = &m_slideshow;
    if (Images.isEmpty()) {
        Model.ImageCount = 0;
        MessageArrives("No images");
    } else {
        if (slideshow != nullptr) DelayThreadedTimer.SetInterval(slideshow->Delay);
        CurrentPicture.Delete();
        ShowPointerAndToolbar(true);
        LastMousePos = {-1, -1};
        PlayTBXItem->setChecked(true);
        MouseHideThreadedTimer.SetEnabled(true);
        const int first = std::clamp(Model.ImageIndex, 0, int(Images.size()) - 1);
        if (!NextPicture.Empty() && !m_handedFile.isEmpty() && Images[first] == m_handedFile) {
            // The viewer's picture is here already: it fades in now, with the viewer's
            // pages, and the next picture is decoded after it.
            m_pagesHandedOver = true;
            Model.ImageIndex = first;
            Model.BeginWithPicture(int(Images.size()));
        } else {
            NextPicture.Delete();
            Model.Begin(int(Images.size()), false);
        }
    }
    m_handedFile.clear();
    if (!Music.isEmpty() && slideshow != nullptr &&
        MusicSequence.Start(int(Music.size()), slideshow->Shuffle))
        PlayMusicTrack();
}

// ---- the sequence -------------------------------------------------------------------

TCustomVekTransformer* TSlideShowForm::Effect() const {
    return m_slideshow.Transformer.get();
}

void TSlideShowForm::LoadImage(int index) {
    if (index < 0 || index >= Images.size()) return;
    VekImageLoaderPro.Open(Images[index], true, 0);
}

void TSlideShowForm::SetDelayRunning(bool running) {
    DelayThreadedTimer.SetEnabled(running);
}

void TSlideShowForm::SetEffectRunning(bool running) {
    EffectThreadedTimer.SetEnabled(running);
}

void TSlideShowForm::DrawStep(int step) {
    TBitmap32& output = PaintBox32->Buffer();
    if (output.Empty()) return;
    if (TCustomVekTransformer* effect = Effect()) {
        effect->PixelRatio = PaintBox32->DeviceRatio();
        effect->DrawStep(CurrentPicture, NextPicture, step, output);
    }
    PaintBox32->update();
}

void TSlideShowForm::CurrentFromNext() {
    CurrentPicture.Assign(NextPicture);
}

void TSlideShowForm::StartAnimation() {
    VekMultipageBitmap.Play();
}

void TSlideShowForm::StopAnimation() {
    VekMultipageBitmap.Stop();
}

void TSlideShowForm::TakeOverPages() {
    // Once per picture: a step during a transition shows the picture whose pages the
    // holder has already taken.
    if (std::exchange(m_pagesHandedOver, true)) return;
    // A still picture or a message empties the holder too; otherwise the animation
    // before it would start again over it at the end of the transition.
    m_takingOverPages = true;
    VekMultipageBitmap.Assign(VekImageLoaderPro);
    m_takingOverPages = false;
}

void TSlideShowForm::EffectThreadedTimerTimer() {
    const TCustomVekTransformer* effect = Effect();
    Model.EffectTick(effect != nullptr ? effect->StepCount : 0);
}

void TSlideShowForm::VekImageLoaderProBitmapChange() {
    TBitmap32& fitted = VekImageLoaderPro.Drawn().Bitmap;
    if (!fitted.Empty()) {
        NextPicture = std::move(fitted);
        fitted = TBitmap32();
    } else {
        // Nothing was prepared on the worker (a picture the toolkit's own plugins read):
        // fitted here.
        const QSize box = BoxSize();
        FitPicture(VekImageLoaderPro.Bitmap(), NextPicture, box.height(), box.width(),
                   RotationOf ? RotationOf(VekImageLoaderPro.FileName()) : 0, Values().FilterKind);
    }
    NextPicture.DrawMode = TDrawMode::dmOpaque;
    VekImageLoaderPro.Bitmap().Delete();
    Model.PictureArrived();
}

void TSlideShowForm::MessageArrives(const char* text) {
    MakeMessagePicture(NextPicture, text, PaintBox32->DeviceRatio());
    m_pagesHandedOver = false;
    Model.PictureArrived();
}

void TSlideShowForm::VekImageLoaderProError() {
    MessageArrives("Can't open image");
}

void TSlideShowForm::VekMultipageBitmapBitmapChange(TBitmap32& frame) {
    // The first frame of pages just taken over is the fitted next picture already; it
    // must not replace the old picture a transition is about to leave.
    if (m_takingOverPages) return;
    CurrentPicture = std::move(frame);
    frame = TBitmap32();
    CurrentPicture.DrawMode = TDrawMode::dmBlend;
    DrawStep(0);
}

// ---- pointer, keys, wheel ----------------------------------------------------------

void TSlideShowForm::PaintBox32MouseMove(int x, int y) {
    // A real movement, in any direction: a jitter of a pixel or two does not count.
    if (std::abs(LastMousePos.x() - x) > kPointerSlack ||
        std::abs(LastMousePos.y() - y) > kPointerSlack) {
        MouseHideThreadedTimer.SetEnabled(false);
        MouseHideThreadedTimer.SetEnabled(true);
        ShowPointerAndToolbar(true);
    }
    LastMousePos = {x, y};
}

void TSlideShowForm::MouseHideThreadedTimerTimer() {
    MouseHideThreadedTimer.SetEnabled(false);
    ShowPointerAndToolbar(false);
}

TDialogStoreValues TSlideShowForm::Values() const {
    return DialogValues ? DialogValues() : TDialogStoreValues::Load();
}

void TSlideShowForm::keyPressEvent(QKeyEvent* event) {
    if (ShortcutMatches(m_keys.ShortcutSlideshowExit, *event)) {
        close();
    } else if (ShortcutMatches(m_keys.ShortcutRight, *event)) {
        ShowNext();
    } else if (ShortcutMatches(m_keys.ShortcutLeft, *event)) {
        ShowPrevious();
    } else if (ShortcutMatches(m_keys.ShortcutPlayPause, *event) ||
               ShortcutMatches(vkMediaPlayPause, *event)) { // the keyboard's own key too
        (PlayTBXItem->isChecked() ? PauseTBXItem : PlayTBXItem)->trigger();
    } else if (ShortcutMatches(m_keys.ShortcutRight2, *event)) {
        // The viewer's second keys step here too (after play/pause, which wins a clash).
        ShowNext();
    } else if (ShortcutMatches(m_keys.ShortcutLeft2, *event)) {
        ShowPrevious();
    } else {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void TSlideShowForm::wheelEvent(QWheelEvent* event) {
    const int notches = int(std::lround(event->angleDelta().y() / 120.0));
    VekAudioPlayer.SetVolume(VekAudioPlayer.GetVolume() + notches);
    event->accept();
}

// ---- music --------------------------------------------------------------------------

void TSlideShowForm::PlayMusicTrack() {
    const int track = MusicSequence.Current();
    if (track < 0) return;
    // Opened without holding the show up; a track that cannot be opened is passed over
    // (its error was reported), and after a whole order of such tracks the music ends.
    VekAudioPlayer.OpenAsync(Music[track], [this, track](bool opened) {
        if (opened) {
            VekAudioPlayer.Play();
            m_mpris.SetTrack(QFileInfo(Music[track]).completeBaseName(), track);
        } else if (MusicSequence.Advance(m_slideshow.RepeatAll, false)) {
            PlayMusicTrack();
        }
    });
}

void TSlideShowForm::VekAudioPlayerEndPlay() {
    if (Music.isEmpty()) return;
    const bool played = VekAudioPlayer.Length() > 0;
    if (MusicSequence.Advance(m_slideshow.RepeatAll, played)) PlayMusicTrack();
}

// ---- closing ------------------------------------------------------------------------

void TSlideShowForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (m_shown && !event->spontaneous()) FormHide();
}

void TSlideShowForm::FormHide() {
    m_shown = false;
    m_begun = false;
    m_listing = false;
    m_listed = false;
    m_fitting = false;
    m_listedImages.clear();
    m_handedPicture.Delete();
    m_handedFile.clear();
    ++m_listGeneration;
    ++m_fitGeneration;
    OpenTimer.stop();
    m_screenSaver.Release();
    m_mpris.Unregister();
    Model.Stop();
    MouseHideThreadedTimer.SetEnabled(false);
    VekImageLoaderPro.Cancel();
    VekMultipageBitmap.Stop();
    VekAudioPlayer.Close();
    if (StartedFromWizard) {
        // The wizard's show was what this run was for: closing its main window ends it.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != this && m_context.IsMainWindow(w)) {
                w->close();
                break;
            }
        return;
    }
    // A run that is only this show ends with it.
    if (m_context.IsMainWindow(this)) return;
    const int shown = Model.ShownIndex();
    CurrentPicture.Delete();
    NextPicture.Delete();
    VekMultipageBitmap.Clear();
    if (shown >= 0 && shown < Images.size() && ReturnToViewer) ReturnToViewer(Images[shown], shown);
}

void TSlideShowForm::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    m_context.WindowClosed(this, event->isAccepted());
}
