#include "gfx/ImageViewModel.h"

#include <gtest/gtest.h>

namespace {

TImageViewModel Model(int viewW, int viewH, int picW, int picH, float scale = 1, int margin = 0) {
    TImageViewModel m;
    m.SetViewSize(viewW, viewH);
    m.SetPictureSize(picW, picH);
    m.SetOverSize(margin);
    m.SetScale(scale);
    return m;
}

void ExpectRect(const TFloatRect& r, double l, double t, double w, double h) {
    EXPECT_DOUBLE_EQ(r.Left, l);
    EXPECT_DOUBLE_EQ(r.Top, t);
    EXPECT_DOUBLE_EQ(r.Width(), w);
    EXPECT_DOUBLE_EQ(r.Height(), h);
}

TEST(ImageViewModelTest, SmallPictureStaysCentredWhateverTheScroll) {
    TImageViewModel m = Model(800, 600, 400, 300);
    ExpectRect(m.BitmapRect(), 200, 150, 400, 300);
    m.Scroll(500, -500);
    ExpectRect(m.BitmapRect(), 200, 150, 400, 300);
}

struct TScrollCase {
    double dx, dy;
    double left, top; // of the picture afterwards
};

class ImageViewModelScroll : public testing::TestWithParam<TScrollCase> {};

// A 2000 x 1000 picture with a 20-pixel margin in an 800 x 600 view: the extent is
// 2040 x 1040, so the picture's left edge may go from 20 to 800 - 2040 + 20 = -1220.
TEST_P(ImageViewModelScroll, StopsWhereTheExtentMeetsTheViewEdge) {
    const TScrollCase c = GetParam();
    TImageViewModel m = Model(800, 600, 2000, 1000, 1, 20);
    m.Scroll(c.dx, c.dy);
    ExpectRect(m.BitmapRect(), c.left, c.top, 2000, 1000);
}

INSTANTIATE_TEST_SUITE_P(Table, ImageViewModelScroll,
                         testing::Values(TScrollCase{0, 0, -600, -200},
                                         TScrollCase{100, 50, -700, -250},
                                         TScrollCase{-5000, -5000, 20, 20},
                                         TScrollCase{5000, 5000, -1220, -420}));

TEST(ImageViewModelTest, ZoomKeepsThePictureCentreOfTheViewInPlace) {
    TImageViewModel m = Model(800, 600, 4000, 3000);
    m.Scroll(-300, 200); // picture point under the view centre: (1700, 1700)
    const auto centrePoint = [&] {
        const TFloatRect r = m.BitmapRect();
        return std::pair((400 - r.Left) / m.Scale(), (300 - r.Top) / m.Scale());
    };
    EXPECT_EQ(centrePoint(), std::pair(1700.0, 1700.0));
    m.SetScale(0.5f);
    EXPECT_EQ(centrePoint(), std::pair(1700.0, 1700.0));
    m.SetScale(2);
    EXPECT_EQ(centrePoint(), std::pair(1700.0, 1700.0));
}

TEST(ImageViewModelTest, MarginGrowsWithTheScale) {
    // At scale 2 the 20-pixel margin is 40 view pixels: scrolled to the far left, the
    // picture starts 40 pixels in.
    TImageViewModel m = Model(800, 600, 4000, 3000, 2, 20);
    m.Scroll(-1e6, -1e6);
    ExpectRect(m.BitmapRect(), 40, 40, 8000, 6000);
}

TEST(ImageViewModelTest, RecentringAndResizingKeepTheMiddle) {
    TImageViewModel m = Model(800, 600, 4000, 3000);
    m.Scroll(1000, 1000);
    m.SetCentered(true);
    ExpectRect(m.BitmapRect(), -1600, -1200, 4000, 3000);
    m.SetViewSize(1000, 800); // 100 and 100 more on each side
    ExpectRect(m.BitmapRect(), -1500, -1100, 4000, 3000);
}

TEST(ImageViewModelTest, ViewTransformMapsPictureCornersOntoTheBitmapRect) {
    TImageViewModel m = Model(800, 600, 400, 300, 0.5f);
    const TAffineTransformation t = m.ViewTransform();
    double x, y;
    t.Transform(400, 300, x, y);
    const TFloatRect r = m.BitmapRect();
    EXPECT_DOUBLE_EQ(x, r.Right);
    EXPECT_DOUBLE_EQ(y, r.Bottom);
    ExpectRect(r, 300, 225, 200, 150);
}

} // namespace
