// The wizard's picture preview on the offscreen platform: its scales after the zoom
// commands and the wheel, and what the box shows after a drag.

#include "authoring/WizardPreviewWidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// A picture in three upright bands: red, green and blue from left to right.
QString WriteBands(const QTemporaryDir& dir, int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    for (int x = 0; x < width; ++x) {
        const QRgb colour = x < width / 3       ? qRgb(255, 0, 0)
                            : x < 2 * width / 3 ? qRgb(0, 255, 0)
                                                : qRgb(0, 0, 255);
        for (int y = 0; y < height; ++y) image.setPixel(x, y, colour);
    }
    const QString path = dir.filePath(QStringLiteral("bands-%1x%2.png").arg(width).arg(height));
    return image.save(path) ? path : QString();
}

bool Load(TWizardPreview& preview, const QString& file) {
    preview.ShowFile(file);
    return QTest::qWaitFor([&] { return !preview.Loading(); }, 20000) && preview.Available();
}

QRgb Centre(TWizardPreview& preview) {
    const QImage shown = preview.grab().toImage();
    return shown.pixel(shown.width() / 2, shown.height() / 2) & 0xFFFFFF;
}

struct TZoomCase {
    const char* Name;
    int Width, Height, Angle;
    std::function<void(TWizardPreview&)> Steps;
    double Scale;
    bool FitMode;
};

class PreviewZoom : public testing::TestWithParam<TZoomCase> {};

TEST_P(PreviewZoom, GivesTheScale) {
    const TZoomCase& c = GetParam();
    QTemporaryDir dir;
    TWizardPreview preview;
    ASSERT_TRUE(Load(preview, WriteBands(dir, c.Width, c.Height)));
    preview.SetAngle(c.Angle);
    c.Steps(preview);
    EXPECT_NEAR(preview.Scale(), c.Scale, 1e-6);
    EXPECT_EQ(preview.FitMode(), c.FitMode);
}

const auto nothing = [](TWizardPreview&) {};
const auto times = [](int n, void (TWizardPreview::*step)()) {
    return [n, step](TWizardPreview& p) {
        for (int i = 0; i < n; ++i) (p.*step)();
    };
};

// The box leaves 2 pixels around a fitted picture: 183 of its 185.
INSTANTIATE_TEST_SUITE_P(
    Wizard, PreviewZoom,
    testing::Values(
        TZoomCase{"WideFits", 400, 200, 0, nothing, 183.0 / 400, true},
        TZoomCase{"TallTurnedFitsTheSwappedSides", 100, 300, 90, nothing, 183.0 / 300, true},
        TZoomCase{"SmallIsNotEnlargedByFitMode", 50, 20, 0, nothing, 1, true},
        TZoomCase{"FitWidthEnlargesASmallOne", 50, 20, 0, [](TWizardPreview& p) { p.ZoomFit(); },
                  183.0 / 50, false},
        TZoomCase{"ActualSize", 400, 200, 0, [](TWizardPreview& p) { p.ActualSize(); }, 1, false},
        TZoomCase{"ZoomInStartsAtTheFitScale", 400, 200, 0, times(3, &TWizardPreview::ZoomIn),
                  183.0 / 400 + 0.03, false},
        TZoomCase{"ZoomOutIsHeldAtOnePercent", 400, 200, 0, times(60, &TWizardPreview::ZoomOut),
                  0.01, false},
        TZoomCase{"WheelNotchFromTheFitScale", 400, 200, 0,
                  [](TWizardPreview& p) { p.WheelZoom(120); }, 183.0 / 400 + 0.08, false},
        TZoomCase{"HalfNotchBack", 400, 200, 0,
                  [](TWizardPreview& p) {
                      p.ActualSize();
                      p.WheelZoom(-60);
                  },
                  0.96, false},
        TZoomCase{"WheelIsHeldAtTenfold", 400, 200, 0,
                  [](TWizardPreview& p) {
                      for (int i = 0; i < 200; ++i) p.WheelZoom(120);
                  },
                  10, false}),
    [](const testing::TestParamInfo<TZoomCase>& info) { return std::string(info.param.Name); });

TEST(WizardPreview, ZoomCommandsWaitForAPicture) {
    TWizardPreview preview;
    preview.ZoomIn();
    preview.WheelZoom(120);
    EXPECT_TRUE(preview.FitMode()) << "nothing to zoom";
    QTemporaryDir dir;
    preview.ShowFile(dir.filePath(QStringLiteral("gone.png")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview.Loading(); }, 20000));
    EXPECT_EQ(preview.ErrorText(), "Can't open image");
    preview.ActualSize();
    EXPECT_TRUE(preview.FitMode());
}

TEST(WizardPreview, ActualSizeShowsTheMiddleAndADragMovesThePicture) {
    QTemporaryDir dir;
    TWizardPreview preview;
    ASSERT_TRUE(Load(preview, WriteBands(dir, 600, 300)));
    EXPECT_EQ(Centre(preview), 0x00FF00u);
    const QPoint middle(TWizardPreview::kSide / 2, TWizardPreview::kSide / 2);
    QTest::mousePress(&preview, Qt::LeftButton, {}, middle);
    EXPECT_NE(preview.cursor().shape(), Qt::SizeAllCursor) << "a fitted picture stays put";
    QTest::mouseRelease(&preview, Qt::LeftButton, {}, middle);
    preview.ActualSize();
    EXPECT_EQ(Centre(preview), 0x00FF00u) << "the middle band, centred";
    QTest::mousePress(&preview, Qt::LeftButton, {}, middle);
    EXPECT_EQ(preview.cursor().shape(), Qt::SizeAllCursor);
    QMouseEvent move(QEvent::MouseMove, QPointF(middle + QPoint(150, 0)),
                     QPointF(preview.mapToGlobal(middle + QPoint(150, 0))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&preview, &move);
    QTest::mouseRelease(&preview, Qt::LeftButton, {}, middle + QPoint(150, 0));
    EXPECT_EQ(preview.cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(Centre(preview), 0xFF0000u) << "dragged right: the left band comes to the middle";
}

TEST(WizardPreview, TheTurnComesFromTheViewerWhenAsked) {
    QTemporaryDir dir;
    TWizardPreview preview;
    QString asked;
    preview.AngleOf = [&](const QString& file) {
        asked = file;
        return 270;
    };
    const QString file = WriteBands(dir, 300, 60);
    ASSERT_TRUE(Load(preview, file));
    EXPECT_EQ(asked, file);
    EXPECT_EQ(preview.Angle(), 270);
    // Three quarters to the left: the bands now run across, the left one on top.
    const QImage shown = preview.grab().toImage();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2 - 40) & 0xFFFFFF, 0xFF0000u);
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2 + 40) & 0xFFFFFF, 0x0000FFu);
}

} // namespace
