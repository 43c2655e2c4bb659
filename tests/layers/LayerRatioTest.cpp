// The layers at device pixel ratios 1, 1.5 and 2: the same logical geometry, drawn
// that much larger, with sharp icons and text.
#include "layers/LayerCanvas.h"
#include "layers/ResourceLoader.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekCustomLayer.h"
#include "layers/VekEditLayer.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"

#include "common/TestSupport.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace {

constexpr TColor32 kWhite = 0xFFFFFFFFu;
constexpr TRect kViewport{0, 0, 400, 300};

std::string RatioName(double ratio) {
    std::string name = "At" + std::to_string(ratio);
    name.erase(name.find_last_not_of('0') + 1);
    if (name.back() == '.') name.pop_back();
    std::replace(name.begin(), name.end(), '.', '_');
    return name;
}

// The viewport painted at `ratio` on white.
TBitmap32 PaintAt(TLayerCollection& layers, double ratio) {
    TBitmap32 buffer(int(std::ceil(kViewport.Width() * ratio)),
                     int(std::ceil(kViewport.Height() * ratio)));
    buffer.Clear(kWhite);
    layers.Paint(buffer);
    return buffer;
}

// The pixels that differ from `background`.
TRect InkBounds(const TBitmap32& b, TColor32 background = kWhite) {
    TRect r{b.Width(), b.Height(), 0, 0};
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            if (b.Pixel(x, y) != background)
                r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1),
                     std::max(r.Bottom, y + 1)};
    return r.IsEmpty() ? TRect() : r;
}

// The device pixel holding the centre of logical pixel v.
int DevicePixel(int v, double ratio) {
    return int(std::floor((v + 0.5) * ratio));
}

// ---- The canvas ---------------------------------------------------------------------

struct TMapCase {
    const char* Name;
    double Ratio;
    TRect Logical, Device, Unmapped;
};

void PrintTo(const TMapCase& c, std::ostream* os) {
    *os << c.Name;
}

class CanvasMapTest : public ::testing::TestWithParam<TMapCase> {};

TEST_P(CanvasMapTest, RectangleEdgesRoundToTheNearestDevicePixel) {
    const TMapCase& c = GetParam();
    TBitmap32 buffer(10, 10);
    const TLayerCanvas canvas(buffer, c.Ratio);
    EXPECT_EQ(canvas.Map(c.Logical), c.Device);
    EXPECT_EQ(canvas.Unmap(c.Device), c.Unmapped);
    // A neighbour sharing the right edge starts on the same device column.
    const TRect right{c.Logical.Right, c.Logical.Top, c.Logical.Right + 7, c.Logical.Bottom};
    EXPECT_EQ(canvas.Map(right).Left, canvas.Map(c.Logical).Right);
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, CanvasMapTest,
    ::testing::Values(TMapCase{"At1", 1.0, {3, 5, 11, 12}, {3, 5, 11, 12}, {3, 5, 11, 12}},
                      TMapCase{"At2", 2.0, {3, 5, 11, 12}, {6, 10, 22, 24}, {3, 5, 11, 12}},
                      TMapCase{"At1_5", 1.5, {3, 5, 11, 12}, {5, 8, 17, 18}, {3, 5, 12, 12}},
                      TMapCase{"At1_25", 1.25, {2, 6, 9, 10}, {3, 8, 11, 13}, {2, 6, 9, 11}},
                      TMapCase{"At1_75", 1.75, {1, 1, 2, 2}, {2, 2, 4, 4}, {1, 1, 3, 3}}),
    [](const auto& info) { return std::string(info.param.Name); });

class CanvasRatioTest : public ::testing::TestWithParam<double> {};

TEST_P(CanvasRatioTest, FrameIsOneLogicalPixelThickAndFontsGrow) {
    const double ratio = GetParam();
    TBitmap32 buffer(150, 150);
    buffer.Clear(kWhite);
    const TLayerCanvas canvas(buffer, ratio);
    canvas.FrameRect({10, 10, 40, 30}, 0xFF000000u);
    const TRect outer = canvas.Map(TRect{10, 10, 40, 30});
    const int t = canvas.Thickness(1);
    EXPECT_EQ(t, std::max(1, int(std::lround(ratio))));
    // Each side: t black pixels from the edge inwards, then white.
    const int midX = (outer.Left + outer.Right) / 2, midY = (outer.Top + outer.Bottom) / 2;
    for (int i = 0; i < t; ++i) {
        EXPECT_EQ(buffer.Pixel(outer.Left + i, midY), 0xFF000000u) << i;
        EXPECT_EQ(buffer.Pixel(outer.Right - 1 - i, midY), 0xFF000000u) << i;
        EXPECT_EQ(buffer.Pixel(midX, outer.Top + i), 0xFF000000u) << i;
        EXPECT_EQ(buffer.Pixel(midX, outer.Bottom - 1 - i), 0xFF000000u) << i;
    }
    EXPECT_EQ(buffer.Pixel(outer.Left + t, midY), kWhite);
    EXPECT_EQ(buffer.Pixel(midX, outer.Bottom - 1 - t), kWhite);
    EXPECT_EQ(buffer.Pixel(outer.Left - 1, midY), kWhite);
    EXPECT_EQ(InkBounds(buffer), outer);

    QFont font = LayerFont(8);
    EXPECT_EQ(canvas.Font(font).pixelSize(), int(std::lround(font.pixelSize() * ratio)));
    font.setPointSizeF(9);
    EXPECT_DOUBLE_EQ(canvas.Font(font).pointSizeF(), 9 * ratio);
}

INSTANTIATE_TEST_SUITE_P(Ratios, CanvasRatioTest, ::testing::Values(1.0, 1.25, 1.5, 2.0, 3.0),
                         [](const auto& info) { return RatioName(info.param); });

// ---- Outlines drawn larger -----------------------------------------------------------

TFixedPolygon Pixels(std::initializer_list<std::pair<int, int>> points) {
    TFixedPolygon polygon;
    for (const auto& [x, y] : points) polygon.push_back({x * kFixedOne, y * kFixedOne});
    return polygon;
}

// Twice the area the closed polygon encloses, in square fixed-point units.
double DoubleArea(const TFixedPolygon& p) {
    double sum = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const TFixedPoint& a = p[i];
        const TFixedPoint& b = p[(i + 1) % p.size()];
        sum += double(a.X) * b.Y - double(b.X) * a.Y;
    }
    return sum;
}

struct TCollinearCase {
    const char* Name;
    TFixedPolygon Contour;
    TFixedPolygon Expected;
};

void PrintTo(const TCollinearCase& c, std::ostream* os) {
    *os << c.Name;
}

class CollinearPointsTest : public ::testing::TestWithParam<TCollinearCase> {};

TEST_P(CollinearPointsTest, OnlyPointsOnAStraightWayOnGo) {
    EXPECT_EQ(WithoutCollinearPoints(GetParam().Contour), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Contours, CollinearPointsTest,
    ::testing::Values(
        TCollinearCase{
            "SquareWithMidpoints",
            Pixels({{0, 0}, {5, 0}, {10, 0}, {10, 5}, {10, 10}, {5, 10}, {0, 10}, {0, 5}}),
            Pixels({{0, 0}, {10, 0}, {10, 10}, {0, 10}})},
        TCollinearCase{"TurningBackStays", Pixels({{0, 0}, {10, 0}, {5, 0}, {5, 5}}),
                       Pixels({{0, 0}, {10, 0}, {5, 0}, {5, 5}})},
        TCollinearCase{"RepeatedPointGoes", Pixels({{0, 0}, {0, 0}, {10, 0}, {10, 10}}),
                       Pixels({{0, 0}, {10, 0}, {10, 10}})},
        TCollinearCase{"TriangleStays", Pixels({{0, 0}, {10, 0}, {0, 10}}),
                       Pixels({{0, 0}, {10, 0}, {0, 10}})}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(CollinearPointsTest, RoundedPanelKeepsItsShapeInAFractionOfThePoints) {
    const TFixedPolygon rounded = RoundCorners(BodyOutline({0, 0, 400, 200}, 2.0), kFixedOne);
    const TFixedPolygon fewer = WithoutCollinearPoints(rounded);
    EXPECT_LT(fewer.size() * 4, rounded.size());
    EXPECT_DOUBLE_EQ(DoubleArea(fewer), DoubleArea(rounded));
}

// ---- Pictures made at a ratio ---------------------------------------------------------

struct TPictureCase {
    const char* Name;
    const char* Picture;
    double Scale;
    int Width, Height;
};

void PrintTo(const TPictureCase& c, std::ostream* os) {
    *os << c.Name;
}

class ScaledPictureTest : public ::testing::TestWithParam<TPictureCase> {};

TEST_P(ScaledPictureTest, DrawnAtTheScaledSize) {
    const TPictureCase& c = GetParam();
    TBitmap32 picture;
    if (!LoadPngResource(picture, QString::fromLatin1(c.Picture), c.Scale))
        GTEST_SKIP() << "no picture " << c.Picture << " compiled in";
    EXPECT_EQ(picture.Width(), c.Width);
    EXPECT_EQ(picture.Height(), c.Height);
    int drawn = 0;
    for (int i = 0; i < picture.Width() * picture.Height(); ++i)
        drawn += AlphaOf(picture.Bits()[i]) > 0;
    EXPECT_GT(drawn, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScaledPictureTest,
    ::testing::Values(TPictureCase{"IconAt1", "zBack32", 1.0, 32, 32},
                      TPictureCase{"IconAt2", "zBack32", 2.0, 64, 64},
                      TPictureCase{"SmallIconAt1_5", "zBack16", 1.5, 24, 24},
                      TPictureCase{"HoverAt1_5", "zMouseHover32", 1.5, 57, 57},
                      TPictureCase{"SeparatorAt1_5", "zSeparator32", 1.5, 3, 48},
                      TPictureCase{"ClockAt2", "zClock3", 2.0, 52, 52},
                      TPictureCase{"MenuIconAt2", "zPreviousFrame16", 2.0, 32, 32}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Every layer drawn larger -------------------------------------------------------

// The layers of one case with what they own.
struct TScene {
    TLayerCollection Layers;
    std::vector<std::unique_ptr<TCustomLayer>> Owned;

    TScene() { Layers.SetViewport(kViewport); }
    template <class T>
    T& Make() {
        auto layer = std::make_unique<T>(Layers);
        T& made = *layer;
        Owned.push_back(std::move(layer));
        return made;
    }
};

std::unique_ptr<TTlItem> ColourItem(TColor32 colour) {
    auto item = std::make_unique<TTlItem>();
    item->Image32.SetSize(32, 32);
    item->Image32.Clear(colour);
    item->Image16.SetSize(16, 16);
    item->Image16.Clear(colour);
    return item;
}

struct TLayerCase {
    const char* Name;
    std::function<void(TScene&)> Build;
};

void PrintTo(const TLayerCase& c, std::ostream* os) {
    *os << c.Name;
}

const TLayerCase kLayerCases[] = {
    {"Panel",
     [](TScene& s) {
         auto& panel = s.Make<TVekCustomControlLayer>();
         panel.Location = {30, 40, 230, 190};
         panel.Caption = "Panel";
     }},
    {"MetadataList",
     [](TScene& s) {
         auto& list = s.Make<TVekMetaDataLayer>();
         list.Location = {31, 41, 281, 241};
         list.SetLines({"Make:Acme;", "Model:One;", "Width:640;"});
     }},
    {"Histogram",
     [](TScene& s) {
         auto& histogram = s.Make<TVekHistogramLayer>();
         histogram.Location = {30, 40, 352, 190};
     }},
    {"CommentBand",
     [](TScene& s) {
         auto& band = s.Make<TVekEditLayer>();
         band.SetLeft(30);
         band.SetTop(200);
         band.SetWidth(300);
         band.SetText("A comment");
     }},
    {"Toolbar",
     [](TScene& s) {
         auto& bar = s.Make<TToolbarLayer>();
         bar.AddItem(ColourItem(0xFF0000FFu));
         bar.AddItem(ColourItem(0xFFFF0000u));
         bar.AddItem(std::make_unique<TTlSeparator>());
         bar.AddItem(ColourItem(0xFF00FF00u));
         bar.Shown = true;
     }},
    {"ProgressBox",
     [](TScene& s) {
         auto& progress = s.Make<TProgressbarLayer>();
         TBitmap32 thumbnail(40, 30);
         thumbnail.Clear(0xFF208020u);
         progress.SetThumbnail(thumbnail);
         progress.SetText("large.jpg");
         progress.Start();
     }},
    {"TintLabel",
     [](TScene& s) {
         auto& tint = s.Make<TColorLayer>();
         tint.SetVisible(true);
         tint.Text = "Printing";
         tint.SetColor(0xFF3060A0u);
         tint.ImageRect = [] { return TRect{50, 60, 150, 120}; };
     }},
};

class LayerScaleTest : public ::testing::TestWithParam<std::tuple<TLayerCase, double>> {};

// Whatever a layer draws at 1 it draws over the same logical pixels at any ratio.
TEST_P(LayerScaleTest, DrawnOverTheSameLogicalPixels) {
    const auto& [c, ratio] = GetParam();
    TScene at1, scaled;
    c.Build(at1);
    c.Build(scaled);
    scaled.Layers.SetDeviceRatio(ratio);
    const TRect one = InkBounds(PaintAt(at1.Layers, 1.0));
    const TRect device = InkBounds(PaintAt(scaled.Layers, ratio));
    ASSERT_FALSE(one.IsEmpty());
    // Antialiased edges may reach a device pixel further either way.
    EXPECT_NEAR(device.Left, one.Left * ratio, 1.5);
    EXPECT_NEAR(device.Top, one.Top * ratio, 1.5);
    EXPECT_NEAR(device.Right, one.Right * ratio, 1.5);
    EXPECT_NEAR(device.Bottom, one.Bottom * ratio, 1.5);
}

INSTANTIATE_TEST_SUITE_P(Layers, LayerScaleTest,
                         ::testing::Combine(::testing::ValuesIn(kLayerCases),
                                            ::testing::Values(1.5, 2.0)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).Name) +
                                    RatioName(std::get<1>(info.param));
                         });

// ---- Panels -------------------------------------------------------------------------

class PanelRatioTest : public ::testing::TestWithParam<double> {
protected:
    PanelRatioTest() {
        layers.SetViewport(kViewport);
        layers.SetDeviceRatio(GetParam());
        panel.Location = {30, 40, 230, 190};
    }
    TLayerCollection layers;
    TVekCustomControlLayer panel{layers};
};

TEST_P(PanelRatioTest, CaptionBarIsRatioTimesAsHigh) {
    const double ratio = GetParam();
    panel.FillColor = 0;
    panel.ShowBorder = false;
    panel.CaptionColor = 0xFF000000u;
    const TBitmap32 buffer = PaintAt(layers, ratio);
    // Down the middle: the gradient from the third row to the 25th, whose last row
    // has faded out completely.
    const int x = DevicePixel(130, ratio);
    int first = -1, rows = 0;
    for (int y = 0; y < buffer.Height(); ++y) {
        if (buffer.Pixel(x, y) == kWhite) continue;
        if (first < 0) first = y;
        ++rows;
    }
    EXPECT_NEAR(first, (40 + 2) * ratio, 1.0);
    EXPECT_NEAR(rows, 24 * ratio, 1.0);
}

struct TZoneCase {
    const char* Name;
    int X, Y;
    THitZone Zone;
};

const TZoneCase kZoneCases[] = {
    {"Caption", 100, 50, THitZone::hzCaption}, {"Client", 100, 100, THitZone::hzClient},
    {"Left", 30, 100, THitZone::hzLeft},       {"Right", 229, 100, THitZone::hzRight},
    {"Bottom", 100, 189, THitZone::hzBottom},  {"BottomRight", 229, 189, THitZone::hzBottomRight},
    {"TopLeft", 31, 41, THitZone::hzTopLeft},  {"Outside", 230, 100, THitZone::hzNone},
};

TEST_P(PanelRatioTest, PressAtTheDevicePixelHitsTheLogicalZone) {
    const double ratio = GetParam();
    for (const TZoneCase& c : kZoneCases) {
        layers.MouseDown(TMouseButton::mbLeft, ssLeft, DevicePixel(c.X, ratio),
                         DevicePixel(c.Y, ratio));
        EXPECT_EQ(panel.DragZone, c.Zone) << c.Name;
        EXPECT_EQ(panel.HitZone(c.X, c.Y), c.Zone) << c.Name;
        layers.MouseUp(TMouseButton::mbLeft, 0, DevicePixel(c.X, ratio), DevicePixel(c.Y, ratio));
    }
}

TEST_P(PanelRatioTest, DragMovesByLogicalPixelsAndRepaintsDevicePixels) {
    const double ratio = GetParam();
    std::vector<TRect> repaints;
    layers.OnInvalidate = [&](const TRect& r) { repaints.push_back(r); };
    layers.MouseDown(TMouseButton::mbLeft, ssLeft, DevicePixel(100, ratio), DevicePixel(50, ratio));
    layers.MouseMove(ssLeft, DevicePixel(140, ratio), DevicePixel(80, ratio));
    layers.MouseUp(TMouseButton::mbLeft, 0, DevicePixel(140, ratio), DevicePixel(80, ratio));
    EXPECT_EQ(panel.Location, (TPanelLocation{70, 70, 270, 220}));
    ASSERT_EQ(repaints.size(), 1u);
    EXPECT_EQ(repaints[0], layers.DeviceRect({30, 40, 270, 220}));
    // Resized at the bottom-right corner to a logical size.
    layers.MouseDown(TMouseButton::mbLeft, ssLeft, DevicePixel(269, ratio),
                     DevicePixel(219, ratio));
    layers.MouseMove(ssLeft, DevicePixel(299, ratio), DevicePixel(249, ratio));
    EXPECT_EQ(panel.Location, (TPanelLocation{70, 70, 299, 249}));
}

TEST_P(PanelRatioTest, ContextMenuGetsTheViewsDevicePixels) {
    const double ratio = GetParam();
    std::vector<std::pair<int, int>> menus;
    panel.OnContextMenu = [&](int x, int y) { menus.emplace_back(x, y); };
    layers.MouseDown(TMouseButton::mbRight, ssRight, DevicePixel(100, ratio),
                     DevicePixel(120, ratio));
    layers.MouseUp(TMouseButton::mbRight, 0, DevicePixel(100, ratio), DevicePixel(120, ratio));
    ASSERT_EQ(menus.size(), 1u);
    // The logical pixel's place in device pixels: the window maps it back by dividing.
    EXPECT_EQ(int(menus[0].first / ratio), 100);
    EXPECT_EQ(int(menus[0].second / ratio), 120);
}

const QString kKeyBase = QStringLiteral("Software\\PictrelLayerRatioTest\\");

TEST_P(PanelRatioTest, StoredPlaceIsLogicalAtEveryRatio) {
    const double ratio = GetParam();
    const QString key = kKeyBase + QString::fromStdString(RatioName(ratio));
    {
        TLayerCollection atOne;
        TVekCustomControlLayer stored(atOne);
        stored.Location = {30, 40, 230, 190};
        stored.SaveSettings(TRegRoot::rrCurrentUser, key);
    }
    panel.Location = {};
    panel.LoadSettings(TRegRoot::rrCurrentUser, key);
    EXPECT_EQ(panel.Location, (TPanelLocation{30, 40, 230, 190}));
    const TRect drawn = InkBounds(PaintAt(layers, ratio));
    EXPECT_NEAR(drawn.Left, 30 * ratio, 1.0);
    EXPECT_NEAR(drawn.Top, 40 * ratio, 1.0);

    // Moved here by ten logical pixels, stored, and opened again at 1.
    layers.MouseDown(TMouseButton::mbLeft, ssLeft, DevicePixel(100, ratio), DevicePixel(50, ratio));
    layers.MouseMove(ssLeft, DevicePixel(110, ratio), DevicePixel(50, ratio));
    layers.MouseUp(TMouseButton::mbLeft, 0, DevicePixel(110, ratio), DevicePixel(50, ratio));
    panel.SaveSettings(TRegRoot::rrCurrentUser, key);
    TLayerCollection atOne;
    TVekCustomControlLayer reopened(atOne);
    reopened.LoadSettings(TRegRoot::rrCurrentUser, key);
    EXPECT_EQ(reopened.Location, (TPanelLocation{40, 40, 240, 190}));
}

TEST_P(PanelRatioTest, CaptionTextIsSetAtTheDeviceSize) {
    const double ratio = GetParam();
    panel.ShowCaption = false;
    panel.ShowBorder = false;
    panel.FillColor = 0;
    panel.Caption = "Hamburgefonstiv";
    panel.SetCaptionFontColor(0xFF000000u);
    if (TextSize(panel.CaptionFont(), panel.Caption).width() == 0)
        GTEST_SKIP() << "no font to draw with";
    const TBitmap32 buffer = PaintAt(layers, ratio);
    const TRect ink = InkBounds(buffer);
    TLayerCollection atOne;
    atOne.SetViewport(kViewport);
    TVekCustomControlLayer one(atOne);
    one.Location = panel.Location;
    one.ShowCaption = false;
    one.ShowBorder = false;
    one.FillColor = 0;
    one.Caption = panel.Caption;
    one.SetCaptionFontColor(0xFF000000u);
    const TRect inkAt1 = InkBounds(PaintAt(atOne, 1.0));
    // The font's pixel size is rounded at the ratio: a few percent either way.
    EXPECT_NEAR(ink.Width(), inkAt1.Width() * ratio, 0.08 * inkAt1.Width() * ratio + 2);
    EXPECT_NEAR(ink.Height(), inkAt1.Height() * ratio, 0.08 * inkAt1.Height() * ratio + 2);
    if (ratio != 2.0) return;
    // A 1x drawing doubled would repeat every pixel in pairs; text set at the device
    // size has edges of its own on every device pixel.
    int unpaired = 0;
    for (int y = ink.Top; y < ink.Bottom; ++y)
        for (int x = ink.Left & ~1; x + 1 < ink.Right; x += 2)
            unpaired += buffer.Pixel(x, y) != buffer.Pixel(x + 1, y);
    EXPECT_GT(unpaired, ink.Height() * 2);
}

INSTANTIATE_TEST_SUITE_P(Ratios, PanelRatioTest, ::testing::Values(1.0, 1.5, 2.0),
                         [](const auto& info) { return RatioName(info.param); });

// ---- Toolbar icons ------------------------------------------------------------------

struct TEdgeCase {
    const char* Name;
    double Ratio;
    bool Button; // a button making its pictures at the ratio; else a picture stretched
    int MaxRun, MinRun;
};

void PrintTo(const TEdgeCase& c, std::ostream* os) {
    *os << c.Name;
}

class ToolbarIconEdgeTest : public ::testing::TestWithParam<TEdgeCase> {};

// The exit icon's door is a light rectangle in a dark outline whose edges lie on whole
// pixels of its drawing; across them the device pixels go from white to dark to light.
TEST_P(ToolbarIconEdgeTest, GreyRunAcrossAHardEdge) {
    const TEdgeCase& c = GetParam();
    TLayerCollection layers;
    layers.SetViewport(kViewport);
    layers.SetDeviceRatio(c.Ratio);
    TToolbarLayer bar(layers);
    bar.ImageShown = [] { return false; }; // icons opaque without the band
    TTlItem* item = nullptr;
    if (c.Button) {
        auto& button = bar.AddItem(std::make_unique<TTlButton>("zExit"));
        ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !button.Loading(); }));
        item = &button;
    } else {
        auto stretched = std::make_unique<TTlItem>();
        LoadPngResource(stretched->Image32, "zExit32");
        item = &bar.AddItem(std::move(stretched));
    }
    if (AlphaOf(item->Image32.Pixel(8, 28)) == 0) GTEST_SKIP() << "icons are not compiled in";
    const TBitmap32 buffer = PaintAt(layers, c.Ratio);
    const TRect icon = bar.ItemRect(*item);
    const int y = DevicePixel(icon.Top + 28, c.Ratio);
    int run = 0, longest = 0;
    for (int x = int(icon.Left * c.Ratio); x < int((icon.Left + 8) * c.Ratio); ++x) {
        const int red = RedOf(buffer.Pixel(x, y));
        run = red > 0x40 && red < 0xE0 ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LE(longest, c.MaxRun);
    EXPECT_GE(longest, c.MinRun);
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, ToolbarIconEdgeTest,
    ::testing::Values(TEdgeCase{"At1", 1.0, true, 1, 0}, TEdgeCase{"At1_5", 1.5, true, 1, 0},
                      TEdgeCase{"At2", 2.0, true, 1, 0},
                      // What the sharp ones avoid: the 1x picture stretched blurs the edge.
                      TEdgeCase{"StretchedAt2", 2.0, false, 99, 2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ToolbarRatioTest, ItemsMakeTheirPicturesAtEachNewRatio) {
    TLayerCollection layers;
    layers.SetViewport(kViewport);
    TToolbarLayer bar(layers);
    auto& button = bar.AddItem(std::make_unique<TTlButton>("zBack"));
    auto& separator = bar.AddItem(std::make_unique<TTlSeparator>());
    auto& label = bar.AddItem(std::make_unique<TTlLabel>());
    label.SetCaption("2 / 7");
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !button.Loading(); }));
    const TRect band = bar.ToolbarRect();
    EXPECT_EQ(button.ScaledImage(true, 1.0), nullptr);

    for (double ratio : {2.0, 1.5}) {
        layers.SetDeviceRatio(ratio);
        ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !button.Loading(); }));
        EXPECT_EQ(bar.ToolbarRect(), band); // the layout stays logical
        for (TTlItem* item : std::initializer_list<TTlItem*>{&button, &separator, &label}) {
            for (bool big : {true, false}) {
                const TBitmap32* made = item->ScaledImage(big, ratio);
                ASSERT_NE(made, nullptr) << ratio;
                const TBitmap32& logical = big ? item->Image32 : item->Image16;
                EXPECT_EQ(made->Width(), DeviceSize(logical.Width(), ratio)) << ratio;
                EXPECT_EQ(made->Height(), DeviceSize(logical.Height(), ratio)) << ratio;
            }
        }
    }
    // A caption changed at a ratio is drawn at it at once.
    label.SetCaption("12 / 70");
    EXPECT_EQ(label.ScaledImage(true, 1.5)->Width(), DeviceSize(label.Image32.Width(), 1.5));
}

} // namespace
