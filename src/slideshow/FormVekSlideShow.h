#pragma once

#include "app/BackgroundWork.h"
#include "app/DialogStoreValues.h"
#include "app/GuiThread.h"
#include "app/ThreadedTimer.h"
#include "gfx/Bitmap32.h"
#include "layers/MenuIcons.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"
#include "platform/ScreenSaverInhibitor.h"
#include "show/SlideShowModel.h"
#include "show/VekAudioPlayer.h"
#include "slideshow/MprisPlayer.h"

#include <QIcon>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

class QAction;
class QToolBar;
class QScreen;
class TAppContext;
class TPaintBox32;
class TCustomVekTransformer;
class TVekSettingsFile;

// The full-screen slideshow: the pictures of the run's slideshow description (lent at
// construction by the composition root) one after another, each fitted to the screen, with the
// chosen transition between them and the music playing along. The next picture is decoded and
// fitted on the loader's worker while the current one shows; the window only copies and draws the
// steps. A small toolbar in the top-right corner and the pointer hide after a second without
// movement.
//
// Pictures are fitted to the screen's device pixels and the transitions run on buffers of that
// size, so the show is sharp on HiDPI screens; the messages are set at the screen's ratio. When
// the window moves to a screen of another ratio, the picture on screen is decoded and fitted
// again for it.
class TSlideShowForm : public QWidget, private TSlideShowModel::TPort {
public:
    TSlideShowForm(TAppContext& context, TVekSettingsFile& slideshow);
    ~TSlideShowForm() override;

    // Components.
    TPaintBox32* PaintBox32 = nullptr;
    QWidget* TBXAlignmentPanel = nullptr;
    QToolBar* Toolbar = nullptr;
    QAction* PlayTBXItem = nullptr;
    QAction* PauseTBXItem = nullptr;
    QAction* PrevTBXItem = nullptr;
    QAction* NextTBXItem = nullptr;
    QAction* ExitTBXItem = nullptr;
    TVekImageLoaderPro VekImageLoaderPro;
    TVekMultipageBitmap VekMultipageBitmap;
    TThreadedTimer DelayThreadedTimer;
    TThreadedTimer EffectThreadedTimer;
    TThreadedTimer MouseHideThreadedTimer;
    TVekAudioPlayer VekAudioPlayer;
    QTimer OpenTimer;

    // State.
    TBitmap32 CurrentPicture;
    TBitmap32 NextPicture;
    QStringList Images;
    QStringList Music;
    TSlideShowModel Model{*this};
    TMusicSequence MusicSequence;
    QPoint LastMousePos{-1, -1};
    bool StartedFromWizard = false;

    // The window's port, filled by the composition root when the run has a viewer: the
    // turn the user gave a file, the icons of the viewer's toolbar, its settings-dialog
    // values, taking the picture back when the show ends, and the screen the viewer is
    // on (null when it is hidden). Each stays empty without a viewer.
    std::function<int(const QString& fileName)> RotationOf;
    std::function<const TMenuIcons*()> Icons;
    std::function<TDialogStoreValues()> DialogValues;
    std::function<void(const QString& fileName, int index)> ReturnToViewer;
    std::function<QScreen*()> ViewerScreen;

    // Prepares a slideshow file (".VekSS") or a single picture or folder; called before
    // the window shows.
    void OpenSlideshowFile(const QString& path);
    // Starting by the viewer: its picture at `index` of the list (already the viewer's
    // folder) comes first; `pages` hands the viewer's multi-page holder over. `shown`,
    // when not empty, is the viewer's full-size picture of `shownFile`: it is fitted on a
    // worker and fades in as soon as the list is read, instead of being decoded again.
    void StartFromViewer(int index, TVekMultipageBitmap& pages, TBitmap32 shown = {},
                         const QString& shownFile = {});
    // Starting by the wizard: the first picture comes first, and leaving the show ends
    // the program.
    void StartFromWizard();

    // Handlers (public so that tests can drive them without waiting).
    void OpenTimerTimer();
    void DelayThreadedTimerTimer() { Model.DelayTick(); }
    void EffectThreadedTimerTimer();
    void MouseHideThreadedTimerTimer();
    void PaintBox32MouseMove(int x, int y);
    void ShowNext() { Model.ShowNext(); }
    void ShowPrevious() { Model.ShowPrevious(); }
    void PlayTBXItemClick();
    void VekAudioPlayerEndPlay();
    // Whether the image list is still being read (the show begins after it).
    [[nodiscard]] bool Listing() const { return m_listing; }
    // The screen size pictures are fitted to, in device pixels.
    [[nodiscard]] QSize BoxSize() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // TSlideShowModel::TPort
    void LoadImage(int index) override;
    void SetDelayRunning(bool running) override;
    void SetEffectRunning(bool running) override;
    void DrawStep(int step) override;
    void CurrentFromNext() override;
    void StartAnimation() override;
    void StopAnimation() override;
    void TakeOverPages() override;

    void CreateToolbar();
    void ApplyIcons();
    void PlaceToolbar();
    void ShowPointerAndToolbar(bool show);
    void FormHide();
    void BeginShow(QStringList images);
    // Fits the viewer's picture on a worker; the show begins when it and the list are in.
    void FitHandedPicture();
    void BeginWhenReady();
    void PlayMusicTrack();
    void VekImageLoaderProBitmapChange();
    void VekImageLoaderProError();
    void VekMultipageBitmapBitmapChange(TBitmap32& frame);
    // The picture arrival with a message picture in place of a decoded one.
    void MessageArrives(const char* text);
    [[nodiscard]] TCustomVekTransformer* Effect() const;
    [[nodiscard]] TDialogStoreValues Values() const;
    // The desktop's media keys reach the show through the player on the bus.
    void ConnectMpris();
    // Places the window over the screen the viewer is on, or the primary one.
    void CoverScreen();
    // The window moved to a screen of another device pixel ratio: what was fitted for
    // the old one is fitted again.
    void DeviceRatioChanged();

    TAppContext& m_context;
    // The description being played (the root's; it outlives the window).
    TVekSettingsFile& m_slideshow;
    TScreenSaverInhibitor m_screenSaver;
    TMprisPlayer m_mpris;
    TDialogStoreValues m_keys;
    bool m_listing = false;
    bool m_shown = false;
    // The list is read and the pictures show (or the message that there are none).
    bool m_begun = false;
    // The holder has the pages of the picture last loaded (or of the last message).
    bool m_pagesHandedOver = false;
    bool m_takingOverPages = false;
    std::uint64_t m_listGeneration = 0;
    // The viewer's picture while it is fitted, and what is in so far.
    TBitmap32 m_handedPicture;
    QString m_handedFile;
    bool m_fitting = false;
    std::uint64_t m_fitGeneration = 0;
    bool m_listed = false;
    QStringList m_listedImages;
    TDeliveryGuard m_guard;
    // The handed picture's fit and the listing run side by side.
    TBackgroundWork m_fitWork;
    TBackgroundWork m_listWork;
};
