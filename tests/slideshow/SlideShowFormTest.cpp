// The slideshow window on the offscreen platform: what the screen shows after a start,
// a step and a failed picture, and what it hands back when it closes.

#include "app/AppContext.h"
#include "common/SharedSlideshow.h"
#include "common/TestSupport.h"
#include "gfx/PaintBox32Widget.h"
#include "loading/VekMultipageBitmapTestSupport.h"
#include "show/TransformerByName.h"
#include "slideshow/FormVekSlideShow.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;

void WritePicture(const QString& path, QRgb colour, QSize size = {120, 90}) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "PNG"));
}

class SlideShowWindow : public testing::Test, protected pictrel::test::SharedSlideshow {
protected:
    void SetUp() override {
        CreateCurrentSlideshow();
        CurrentSlideshow()->ImageList = {m_dir.path()};
        m_form = std::make_unique<TSlideShowForm>(m_context, m_slideshow);
        // No delay runs out during a test: every change is the test's own.
        CurrentSlideshow()->Delay = 600000;
        CurrentSlideshow()->Transformer = TransformerByName(QStringLiteral("No effect"));
        m_form->ReturnToViewer = [this](const QString& file, int index) {
            m_returned = file;
            m_returnedIndex = index;
        };
    }
    void TearDown() override {
        m_form.reset();
        FreeCurrentSlideshow();
    }
    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // The colour at the centre of the screen as the window shows it.
    QRgb Centre() const {
        const QImage image = m_form->PaintBox32->grab().toImage();
        return image.pixel(image.width() / 2, image.height() / 2);
    }
    bool WaitCentre(QRgb colour) {
        return QTest::qWaitFor([&] { return Centre() == colour; }, 20000);
    }
    bool WaitPreloaded() {
        return QTest::qWaitFor(
            [&] {
                const TSlideShowModel& m = m_form->Model;
                return m.NextLoaded && m.Preloading && !m.FadingIn;
            },
            20000);
    }
    // Lets the delay run out and waits for the transition to the preloaded picture.
    bool RunTransition() {
        if (!WaitPreloaded()) return false;
        m_form->DelayThreadedTimerTimer();
        return QTest::qWaitFor([&] { return !m_form->Model.DelayElapsed; }, 20000);
    }
    // Whether a white pixel (the message's text) is near the centre.
    bool MessageShown() const {
        const QImage image = m_form->PaintBox32->grab().toImage();
        const int cx = image.width() / 2, cy = image.height() / 2;
        for (int y = cy - 8; y <= cy + 8; ++y)
            for (int x = cx - 60; x <= cx + 60; ++x)
                if (image.pixel(x, y) == 0xFFFFFFFF) return true;
        return false;
    }

    QTemporaryDir m_dir;
    TAppContext m_context;
    std::unique_ptr<TSlideShowForm> m_form;
    QString m_returned;
    int m_returnedIndex = -1;
};

TEST_F(SlideShowWindow, StartsFromTheViewersPictureStepsAndHandsThePictureBack) {
    WritePicture(Path("a.png"), kRed);
    WritePicture(Path("b.png"), kGreen);
    WritePicture(Path("c.png"), kBlue);
    TVekMultipageBitmap viewerPages;
    m_form->StartFromViewer(1, viewerPages);
    ASSERT_TRUE(WaitCentre(kGreen)) << "the viewer's picture comes first";
    EXPECT_EQ(m_form->Images.size(), 3);
    EXPECT_TRUE(m_form->TBXAlignmentPanel->isVisible());

    // With the following picture preloaded, the key shows it.
    ASSERT_TRUE(WaitPreloaded());
    QTest::keyClick(m_form.get(), Qt::Key_Right);
    ASSERT_TRUE(WaitCentre(kBlue));
    ASSERT_TRUE(WaitPreloaded());
    QTest::keyClick(m_form.get(), Qt::Key_Escape);
    EXPECT_FALSE(m_form->isVisible());
    EXPECT_EQ(m_returned, Path("c.png"));
    EXPECT_EQ(m_returnedIndex, 2);
    EXPECT_TRUE(m_form->CurrentPicture.Empty()) << "nothing is held once closed";
}

// The music starts with the show without holding it up; a track that cannot be played
// is passed over for the next one.
TEST_F(SlideShowWindow, TheMusicPassesOverATrackThatCannotBePlayed) {
    qputenv("PICTREL_AUDIO_OUTPUT", "null");
    WritePicture(Path("a.png"), kRed);
    QFile bad(Path("bad.mp3"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("no music here");
    bad.close();
    ASSERT_TRUE(pictrel::test::WriteWav(Path("good.wav"), 5));
    CurrentSlideshow()->MusicList = {Path("bad.mp3"), Path("good.wav")};
    TVekMultipageBitmap viewerPages;
    m_form->StartFromViewer(0, viewerPages);
    ASSERT_TRUE(WaitCentre(kRed));
    TVekAudioPlayer& player = m_form->VekAudioPlayer;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.Opening() && player.Playing(); }, 20000) ||
                !player.Opened())
        << "neither playing nor refused";
    if (!player.Opened()) GTEST_SKIP() << "no music playback here";
    EXPECT_EQ(player.Title(), "good.wav");
}

// The viewer's picture is handed over and shows without being decoded again (the file on
// disk is green, the viewer's copy magenta); a picture of another file is not taken.
TEST_F(SlideShowWindow, TheViewersPictureIsHandedOverNotDecodedAgain) {
    constexpr QRgb kMagenta = 0xFFFF00FF;
    WritePicture(Path("a.png"), kRed);
    WritePicture(Path("b.png"), kGreen);
    WritePicture(Path("c.png"), kBlue);
    struct Case {
        const char* handedFile;
        QRgb first;
        const char* firstLoad;
    };
    for (const Case& c : {Case{"b.png", kMagenta, "c.png"}, Case{"z.png", kGreen, "b.png"}}) {
        SCOPED_TRACE(c.handedFile);
        QStringList loads;
        const auto started = m_form->VekImageLoaderPro.OnStart;
        m_form->VekImageLoaderPro.OnStart = [&](TVekImageLoaderPro& loader, const QString& file) {
            started(loader, file);
            loads << QFileInfo(file).fileName();
        };
        TBitmap32 viewers(120, 90);
        viewers.Clear(TColor32(kMagenta));
        m_form->StartFromViewer(1, *std::make_unique<TVekMultipageBitmap>(), std::move(viewers),
                                Path(c.handedFile));
        ASSERT_TRUE(WaitCentre(c.first));
        ASSERT_TRUE(WaitPreloaded());
        ASSERT_FALSE(loads.isEmpty());
        EXPECT_EQ(loads.front(), QString::fromLatin1(c.firstLoad));
        EXPECT_EQ(m_form->Model.ShownIndex(), 1);
        m_form->close();
        EXPECT_EQ(m_returned, Path("b.png"));
        m_form->VekImageLoaderPro.OnStart = started;
    }
}

// The stored play/pause key (by default one no PC keyboard has) or not, the
// keyboard's own play and pause keys toggle the show.
TEST_F(SlideShowWindow, TheKeyboardsPlayPauseKeyTogglesTheShow) {
    WritePicture(Path("a.png"), kRed);
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(WaitCentre(kRed));
    ASSERT_TRUE(m_form->PlayTBXItem->isChecked());
    // Sent as they come: the test library has no text for media keys.
    const auto press = [&](Qt::Key key) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(m_form.get(), &event);
    };
    press(Qt::Key_MediaTogglePlayPause);
    EXPECT_FALSE(m_form->PlayTBXItem->isChecked());
    press(Qt::Key_MediaPlay);
    EXPECT_TRUE(m_form->PlayTBXItem->isChecked());
    press(Qt::Key_MediaPause);
    EXPECT_FALSE(m_form->PlayTBXItem->isChecked());
    m_form->close();
}

TEST_F(SlideShowWindow, TheViewersSecondKeysStepToo) {
    WritePicture(Path("a.png"), kRed);
    WritePicture(Path("b.png"), kGreen);
    WritePicture(Path("c.png"), kBlue);
    TVekMultipageBitmap viewerPages;
    m_form->StartFromViewer(0, viewerPages);
    ASSERT_TRUE(WaitCentre(kRed));
    ASSERT_TRUE(WaitPreloaded());
    QTest::keyClick(m_form.get(), Qt::Key_Backspace);
    ASSERT_TRUE(WaitCentre(kGreen)) << "Backspace is the viewer's second Next key";
    ASSERT_TRUE(WaitPreloaded());
    QTest::keyClick(m_form.get(), Qt::Key_Space);
    EXPECT_TRUE(WaitCentre(kRed)) << "Space is the viewer's second Previous key";
}

TEST_F(SlideShowWindow, AnUnreadablePictureShowsItsMessageAndTheShowGoesOn) {
    WritePicture(Path("a.png"), kRed);
    QFile empty(Path("b.png"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly)); // zero bytes
    empty.close();
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(WaitCentre(kRed));
    ASSERT_TRUE(WaitPreloaded());
    m_form->ShowNext();
    ASSERT_TRUE(QTest::qWaitFor([&] { return MessageShown(); }, 20000));
    ASSERT_TRUE(WaitPreloaded());
    m_form->ShowNext();
    ASSERT_TRUE(WaitCentre(kRed)) << "wraps to the first picture";
    m_form->close();
}

TEST_F(SlideShowWindow, AnEmptyListShowsNoImages) {
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(QTest::qWaitFor([&] { return MessageShown(); }, 20000));
    EXPECT_TRUE(m_form->Images.isEmpty());
    m_form->ShowNext();
    m_form->close();
    EXPECT_TRUE(m_returned.isEmpty()) << "nothing to hand back";
}

TEST_F(SlideShowWindow, LeavingAShowTheWizardStartedEndsTheRun) {
    WritePicture(Path("a.png"), kRed);
    QWidget wizard;
    m_context.SetMainWindow(&wizard);
    wizard.show();
    m_form->StartFromWizard();
    ASSERT_TRUE(WaitCentre(kRed));
    m_form->close();
    EXPECT_FALSE(wizard.isVisible()) << "the main window was closed";
    EXPECT_TRUE(m_returned.isEmpty());

    // A later show started by the viewer returns to it.
    wizard.show();
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    EXPECT_FALSE(m_form->StartedFromWizard);
    ASSERT_TRUE(WaitCentre(kRed));
    m_form->close();
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_EQ(m_returned, Path("a.png"));
}

TEST_F(SlideShowWindow, AnAnimationStaysWithItsPictureAndDoesNotPlayOverTheNext) {
    WritePicture(Path("a.png"), kRed);
    // Frames far apart: only the test's own ticks change them.
    pictrel::test::TGifFrame green{.width = 120, .height = 90, .index = 1, .timeMs = 60000};
    pictrel::test::TGifFrame blue = green;
    blue.index = 2;
    pictrel::test::SaveGif(Path("b.gif"), {green, blue});
    WritePicture(Path("c.png"), kWhite);
    TVekMultipageBitmap& holder = m_form->VekMultipageBitmap;
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(WaitCentre(kRed));
    ASSERT_TRUE(RunTransition());
    EXPECT_EQ(Centre(), kGreen) << "the transition ends on the animation's first frame";
    ASSERT_TRUE(holder.Playing()) << "the animation runs after its transition";
    holder.FrameTimerTimer();
    EXPECT_EQ(Centre(), kBlue) << "its next frame shows";

    ASSERT_TRUE(RunTransition());
    EXPECT_EQ(Centre(), kWhite);
    EXPECT_FALSE(holder.Playing()) << "the still picture has nothing to animate";
    EXPECT_EQ(holder.FrameCount(), 0);
    holder.FrameTimerTimer(); // a frame that would be due now
    EXPECT_EQ(Centre(), kWhite) << "the animation before does not come back";
    m_form->close();
}

// Next while the following picture is still being decoded shows that picture when it is
// there (it is not passed over), and Previous then goes back to the one before it.
TEST_F(SlideShowWindow, NextDuringASlowPreloadWaitsForThatPicture) {
    WritePicture(Path("a.png"), kRed);
    // Large enough to take a while to decode and fit.
    WritePicture(Path("b.png"), kGreen, {4000, 3000});
    WritePicture(Path("c.png"), kBlue);
    bool stillLoading = false, pressed = false;
    const auto started = m_form->VekImageLoaderPro.OnStart;
    m_form->VekImageLoaderPro.OnStart = [&](TVekImageLoaderPro& loader, const QString& file) {
        started(loader, file);
        if (pressed || !file.endsWith("b.png") || !m_form->Model.Preloading) return;
        pressed = true;
        // The key comes before the decode can end: its end is queued behind it.
        QMetaObject::invokeMethod(
            m_form.get(),
            [&] {
                stillLoading = !m_form->Model.NextLoaded;
                QTest::keyClick(m_form.get(), Qt::Key_Right);
            },
            Qt::QueuedConnection);
    };
    m_form->StartFromViewer(0, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(WaitCentre(kGreen)) << "the picture being preloaded comes next";
    EXPECT_TRUE(stillLoading) << "the key came while it was decoded";
    ASSERT_TRUE(WaitPreloaded());
    EXPECT_EQ(m_form->Model.ShownIndex(), 1);
    QTest::keyClick(m_form.get(), Qt::Key_Left);
    ASSERT_TRUE(WaitCentre(kRed)) << "Previous goes back one";
    m_form->close();
    EXPECT_EQ(m_returned, Path("a.png"));
}

TEST_F(SlideShowWindow, ADamagedSlideshowFileIsRefused) {
    QFile file(Path("show.VekSS"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PK\x03\x04 damaged beyond repair");
    file.close();
    const QStringList before = CurrentSlideshow()->ImageList;
    EXPECT_THROW(m_form->OpenSlideshowFile(Path("show.VekSS")), std::runtime_error);
    EXPECT_EQ(CurrentSlideshow()->ImageList, before);
    m_form->OpenSlideshowFile(Path("a.png"));
    EXPECT_EQ(CurrentSlideshow()->ImageList, QStringList{Path("a.png")});
}

} // namespace
