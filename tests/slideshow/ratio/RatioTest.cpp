// The slideshow, the wizard's picture preview and the effect preview at device pixel
// ratios from 1 to 2: pictures fitted to device pixels and shown one pixel on one device
// pixel, fitted again on a screen of another ratio. The binary runs on offscreen screens
// side by side, 320 x 240 logical pixels each, one per ratio.

#include "app/AppContext.h"
#include "authoring/WizardPreviewWidget.h"
#include "common/SharedSlideshow.h"
#include "common/TestSupport.h"
#include "gfx/PaintBox32Widget.h"
#include "show/EffectPreviewWidget.h"
#include "show/TransformerByName.h"
#include "slideshow/FormVekSlideShow.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <memory>

namespace {

constexpr double kRatios[] = {1, 1.25, 1.5, 1.75, 2};
constexpr int kWidth = 320, kHeight = 240;
constexpr QRgb kRed = 0xFFFF0000, kBlue = 0xFF0000FF, kMagenta = 0xFFFF00FF;

[[maybe_unused]] const bool kRunsOnRatioScreens = [] {
    pictrel::test::ApplicationFactory = [](int& argc, char** argv) {
        QStringList screens;
        for (const double r : kRatios)
            screens << QStringLiteral(R"({"name": "%1", "x": %2, "y": 0, "width": %3, "height": %4,
                                         "dpr": %1, "logicalDpi": 96, "logicalBaseDpi": 96})")
                           .arg(r)
                           .arg(int(screens.size()) * kWidth)
                           .arg(kWidth)
                           .arg(kHeight);
        QFile config(QDir::temp().filePath(QStringLiteral("ratio-screens.json")));
        if (config.open(QIODevice::WriteOnly))
            config.write(("{\"screens\": [" + screens.join(',') + "]}").toUtf8());
        config.close();
        if (qgetenv("QT_QPA_PLATFORM").startsWith("offscreen"))
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.fileName().toLocal8Bit());
        return std::make_unique<QApplication>(argc, argv);
    };
    return true;
}();

QScreen* ScreenOf(double ratio) {
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == QString::number(ratio) && screen->devicePixelRatio() == ratio)
            return screen;
    return nullptr;
}

void PutOn(QWidget& window, QScreen* screen) {
    window.windowHandle()->setScreen(screen);
    window.move(screen->geometry().topLeft());
    QCoreApplication::processEvents();
}

int Device(int logical, double ratio) {
    return int(std::ceil(logical * ratio));
}

// Whether the square of 48 pixels centred on (cx, cy) is a checker of one-pixel red and
// blue squares, not the flat mix a picture resampled on its way to the screen becomes.
bool IsChecker(const QImage& image, int cx, int cy) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = cy - 24; y < cy + 24; ++y)
        for (int x = cx - 24; x < cx + 24; ++x) {
            const QRgb here = rgb.pixel(x, y);
            if ((here != kRed && here != kBlue) || here == rgb.pixel(x + 1, y) ||
                here == rgb.pixel(x, y + 1))
                return false;
        }
    return true;
}

class AtRatio : public testing::TestWithParam<double>, protected pictrel::test::SharedSlideshow {
protected:
    void SetUp() override {
        // a.png: a small checker; b.png: a picture of the screens' shape, far larger.
        QImage checker(64, 64, QImage::Format_RGB32), large(1600, 1200, QImage::Format_RGB32);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x) checker.setPixel(x, y, (x + y) % 2 ? kBlue : kRed);
        large.fill(kBlue);
        ASSERT_TRUE(checker.save(File("a.png")) && large.save(File("b.png")));
        CreateCurrentSlideshow();
        CurrentSlideshow()->ImageList = {m_dir.path()};
        CurrentSlideshow()->Delay = 600000; // every step is the test's own
        CurrentSlideshow()->Transformer = TransformerByName(QStringLiteral("No effect"));
        show = std::make_unique<TSlideShowForm>(m_context, m_slideshow);
        show->ViewerScreen = [this] { return screen; };
    }
    void TearDown() override {
        show.reset();
        FreeCurrentSlideshow();
    }
    QString File(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    bool WaitShown(int width) const {
        return QTest::qWaitFor([&] { return show->CurrentPicture.Width() == width; }, 20000);
    }
    bool WaitPreloaded() const {
        const TSlideShowModel& m = show->Model;
        return QTest::qWaitFor([&] { return m.NextLoaded && m.Preloading && !m.FadingIn; }, 20000);
    }
    static bool WaitFitted(const TWizardPreview& preview, int width) {
        return QTest::qWaitFor([&] { return preview.Fitted().Width() == width; }, 20000);
    }

    QTemporaryDir m_dir;
    TAppContext m_context;
    std::unique_ptr<TSlideShowForm> show;
    QScreen* screen = nullptr;
};

TEST_P(AtRatio, TheShowFitsToDevicePixelsAndShowsThemOneToOne) {
    const double ratio = GetParam();
    if ((screen = ScreenOf(ratio)) == nullptr) GTEST_SKIP() << "no screen of ratio " << ratio;
    const QSize device(Device(kWidth, ratio), Device(kHeight, ratio));
    TBitmap32 viewers(1600, 1200);
    viewers.Clear(TColor32(kMagenta));
    show->StartFromViewer(1, *std::make_unique<TVekMultipageBitmap>(), std::move(viewers),
                          File("b.png"));
    ASSERT_TRUE(WaitPreloaded());
    EXPECT_EQ(show->BoxSize(), device);
    EXPECT_EQ(show->PaintBox32->Buffer().Width(), device.width());
    EXPECT_EQ(show->PaintBox32->Buffer().Height(), device.height());
    EXPECT_EQ(show->CurrentPicture.Width(), device.width()) << "the viewer's picture, fitted";
    EXPECT_EQ(show->PaintBox32->grab().toImage().pixel(device.width() / 2, 0), kMagenta);

    show->ShowNext();
    ASSERT_TRUE(WaitShown(64)) << "a small picture is not enlarged";
    const QImage shown = show->PaintBox32->grab().toImage();
    ASSERT_EQ(shown.size(), device);
    EXPECT_TRUE(IsChecker(shown, device.width() / 2, device.height() / 2));
}

TEST_P(AtRatio, ThePreviewsDrawInDevicePixels) {
    const double ratio = GetParam();
    if ((screen = ScreenOf(ratio)) == nullptr) GTEST_SKIP() << "no screen of ratio " << ratio;
    TEffectPreview effect;
    effect.setFixedSize(60, 40);
    effect.show();
    PutOn(effect, screen);
    effect.SetEffectIndex(0);
    effect.EffectTimerTimer();
    const int w = Device(60, ratio), h = Device(40, ratio), margin = int(std::lround(10 * ratio));
    EXPECT_EQ(effect.Output().Width(), w);
    EXPECT_EQ(effect.Output().Height(), h);
    EXPECT_EQ(effect.PictureA().Width(), w - margin);
    const QImage frame = effect.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(frame.pixel(margin / 2 - 1, h / 2), 0xFF000000u) << "the picture's edge, 1:1";
    EXPECT_EQ(frame.pixel(margin / 2, h / 2), kRed);

    TWizardPreview preview;
    preview.show();
    PutOn(preview, screen);
    const int side = Device(TWizardPreview::kSide, ratio);
    preview.ShowFile(File("b.png"));
    ASSERT_TRUE(WaitFitted(preview, side - 2));
    EXPECT_DOUBLE_EQ(preview.Scale(), (side - 2) / 1600.0) << "scales count device pixels";
    preview.ShowFile(File("a.png"));
    ASSERT_TRUE(WaitFitted(preview, 64));
    EXPECT_TRUE(IsChecker(preview.grab().toImage(), side / 2, side / 2));
}

INSTANTIATE_TEST_SUITE_P(Screens, AtRatio, testing::ValuesIn(kRatios),
                         [](const testing::TestParamInfo<double>& info) {
                             return "Ratio" + QString::number(info.param * 100).toStdString();
                         });

TEST_F(AtRatio, OnAScreenOfAnotherRatioPicturesAreFittedAgain) {
    QScreen* two = ScreenOf(2);
    if ((screen = ScreenOf(1)) == nullptr || two == nullptr) GTEST_SKIP() << "no screens 1, 2";
    show->StartFromViewer(1, *std::make_unique<TVekMultipageBitmap>());
    ASSERT_TRUE(WaitShown(kWidth));
    PutOn(*show, two);
    EXPECT_EQ(show->PaintBox32->Buffer().Width(), 2 * kWidth);
    ASSERT_TRUE(WaitShown(2 * kWidth));
    EXPECT_EQ(show->Model.ShownIndex(), 1) << "the same picture";
    ASSERT_TRUE(WaitPreloaded());
    show->ShowNext();
    ASSERT_TRUE(WaitShown(64)) << "the show goes on";

    TWizardPreview preview;
    preview.show();
    PutOn(preview, screen);
    preview.ShowFile(File("b.png"));
    ASSERT_TRUE(WaitFitted(preview, TWizardPreview::kSide - 2));
    PutOn(preview, two);
    EXPECT_TRUE(WaitFitted(preview, 2 * TWizardPreview::kSide - 2));
}

} // namespace
