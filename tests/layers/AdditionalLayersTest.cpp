#include "layers/VekAdditionalLayers.h"

#include "common/TestSupport.h"
#include "layers/LayerPaint.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

struct TPoint {
    int X, Y;
};

constexpr TColor32 kRed = 0xFFFF0000u;
constexpr TColor32 kBlue = 0xFF0000FFu;

std::unique_ptr<TTlItem> MakeIcon(TColor32 colour, int width32 = 32, int width16 = 16) {
    auto item = std::make_unique<TTlItem>();
    for (auto [image, width, height] :
         {std::tuple{&item->Image32, width32, 32}, std::tuple{&item->Image16, width16, 16}}) {
        image->SetSize(width, height);
        image->Clear(colour);
        image->DrawMode = TDrawMode::dmBlend;
    }
    return item;
}

TPoint Centre(const TRect& r) {
    return {r.Left + r.Width() / 2, r.Top + r.Height() / 2};
}

// A toolbar on its own 800 x 600 view with a hand-driven clock and every repaint
// request recorded.
class ToolbarFixture : public ::testing::Test {
protected:
    ToolbarFixture() {
        collection.SetViewport({0, 0, 800, 600});
        collection.OnInvalidate = [this](const TRect& r) { invalidated.push_back(r); };
        toolbar.Now = [this] { return clock; };
    }

    TTlItem& AddIcon(TColor32 colour, int width32 = 32, int width16 = 16) {
        return toolbar.AddItem(MakeIcon(colour, width32, width16));
    }

    // i: pointer over the band, o: pointer elsewhere, t: fade tick 10 ms later,
    // h: hide timer tick, w: 150 ms pass.
    void Run(const std::string& script) {
        const TPoint inside = Centre(toolbar.ToolbarRect());
        for (char op : script) {
            switch (op) {
            case 'i':
                toolbar.HitTest(inside.X, inside.Y);
                break;
            case 'o':
                toolbar.HitTest(10, 10);
                break;
            case 't':
                clock += 10;
                toolbar.FadeTimer.Tick();
                break;
            case 'h':
                toolbar.HideTimer.Tick();
                break;
            case 'w':
                clock += 150;
                break;
            default:
                FAIL() << "unknown step " << op;
            }
        }
    }

    TBitmap32 PaintWhite() {
        TBitmap32 buffer(800, 600);
        buffer.Clear(clWhite32);
        collection.Paint(buffer);
        return buffer;
    }

    // Declared first: the layers still report repaints as they go.
    std::vector<TRect> invalidated;
    std::uint32_t clock = 1000;
    TLayerCollection collection;
    TToolbarLayer toolbar{collection};
};

TEST_F(ToolbarFixture, Defaults) {
    EXPECT_EQ(toolbar.Placement(), tpBottom);
    EXPECT_EQ(toolbar.EdgeOffset, -3);
    EXPECT_TRUE(toolbar.BigIcons());
    EXPECT_EQ(toolbar.Spacing, 2);
    EXPECT_TRUE(toolbar.MouseEvents());
    EXPECT_EQ(toolbar.FadeTimer.Interval(), 10);
    EXPECT_EQ(toolbar.HideTimer.Interval(), 300);
    EXPECT_EQ(toolbar.HintTimer.Interval(), 1000);
    for (const TThreadedTimer* t : {&toolbar.FadeTimer, &toolbar.HideTimer, &toolbar.HintTimer}) {
        EXPECT_FALSE(t->Enabled());
        EXPECT_TRUE(t->AllowZero());
        EXPECT_EQ(t->ThreadPriority(), TThreadPriority::tpLowest);
    }
    EXPECT_EQ(toolbar.Items(0), nullptr);
    if (toolbar.HoverImage32.Empty()) GTEST_SKIP() << "hover pictures are not compiled in";
    EXPECT_EQ(toolbar.HoverInset32, 3);
    EXPECT_EQ(toolbar.HoverInset16, 2);
}

struct TBandCase {
    const char* Name;
    bool Big;
    TToolbarPlacement Placement;
    std::vector<int> Widths32; // the small picture is half as wide
    TRect Expected;
};

class ToolbarBandTest : public ToolbarFixture, public ::testing::WithParamInterface<TBandCase> {};

TEST_P(ToolbarBandTest, ToolbarRect) {
    const TBandCase& c = GetParam();
    for (int w : c.Widths32) AddIcon(kBlue, w, w / 2);
    toolbar.SetBigIcons(c.Big);
    toolbar.SetPlacement(c.Placement);
    EXPECT_EQ(toolbar.ToolbarRect(), c.Expected);
    EXPECT_EQ(toolbar.Area(), c.Expected);
    // Eight pixels of band around the icons, inside the one-pixel margin.
    const TRect first = toolbar.ItemRect(*toolbar.Items(0));
    EXPECT_EQ(first.Left, c.Expected.Left + 9);
    EXPECT_EQ(first.Top, c.Expected.Top + 9);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, ToolbarBandTest,
    ::testing::Values(
        // One 32-pixel icon: 16 wider than the icon, 48 high, plus the margin; the band
        // reaches 3 pixels past the viewport's edge (603 with a 600-pixel view).
        TBandCase{"OneBigBottom", true, tpBottom, {32}, {375, 554, 425, 604}},
        TBandCase{"OneBigTop", true, tpTop, {32}, {375, -4, 425, 46}},
        TBandCase{"OneSmallBottom", false, tpBottom, {32}, {383, 570, 417, 604}},
        TBandCase{"TwoBigBottom", true, tpBottom, {32, 20}, {364, 554, 436, 604}},
        TBandCase{"TwoSmallTop", false, tpTop, {32, 20}, {377, -4, 423, 30}}),
    [](const auto& info) { return std::string(info.param.Name); });

class ToolbarGapTest : public ToolbarFixture, public ::testing::WithParamInterface<int> {};

TEST_P(ToolbarGapTest, HiddenItemLeavesNoGap) {
    const int hidden = GetParam();
    const std::vector<int> widths{32, 20, 40, 32};
    for (int w : widths) AddIcon(kBlue, w, w / 2);
    std::vector<int> before;
    for (int i = 0; i < toolbar.ItemCount(); ++i) before.push_back(toolbar.Items(i)->Bounds.Left);
    invalidated.clear();
    toolbar.Items(hidden)->SetVisible(false);
    EXPECT_FALSE(invalidated.empty());
    for (int i = 0; i < toolbar.ItemCount(); ++i) {
        if (i == hidden) continue;
        const int shift = i > hidden ? widths[std::size_t(hidden)] + 2 : 0;
        EXPECT_EQ(toolbar.Items(i)->Bounds.Left, before[std::size_t(i)] - shift) << "item " << i;
    }
    // Three icons and two gaps are left.
    EXPECT_EQ(toolbar.ItemsBounds.Right, 32 + 20 + 40 + 32 - widths[std::size_t(hidden)] + 2 * 2);
}

INSTANTIATE_TEST_SUITE_P(Layout, ToolbarGapTest, ::testing::Values(0, 1, 2));

struct TFadeCase {
    const char* Name;
    std::string Script;
    int Level;
    bool Fading;
    bool Shown;
};

class ToolbarFadeTest : public ToolbarFixture, public ::testing::WithParamInterface<TFadeCase> {};

TEST_P(ToolbarFadeTest, Levels) {
    const TFadeCase& c = GetParam();
    AddIcon(kBlue);
    Run(c.Script);
    EXPECT_EQ(toolbar.FadeLevel, c.Level);
    EXPECT_EQ(toolbar.FadeTimer.Enabled(), c.Fading);
    EXPECT_EQ(toolbar.Shown, c.Shown);
}

const std::string kIn = "i" + std::string(11, 't'); // fully faded in
// Ten ticks, and "oh" followed by eleven ticks, spelt out (GCC 12 warns wrongly about
// building such strings with operator+ inside the test-case list).
const std::string kTenTicks = "itttttttttt";
const std::string kFadedOut = "ohttttttttttt";

INSTANTIATE_TEST_SUITE_P(
    Scripts, ToolbarFadeTest,
    ::testing::Values(TFadeCase{"Hidden", "", 0, false, false},
                      TFadeCase{"TenTicksReachFull", kTenTicks, 100, true, true},
                      TFadeCase{"EleventhTickStops", kIn, 100, false, true},
                      TFadeCase{"LateFirstTickJumps", "iwt", 100, false, true},
                      TFadeCase{"LeavingFreezes",
                                "ittttto"
                                "ttt",
                                50, false, true},
                      TFadeCase{"HideFadesOutFromFrozen", "itttttoht", 40, true, false},
                      TFadeCase{"StillShownUntilHide", kIn + "o", 100, false, true},
                      TFadeCase{"FullFadeOut", kIn + kFadedOut, 0, false, false},
                      TFadeCase{"BackDuringFadeOut",
                                kIn + "oh"
                                      "ttt"
                                      "i"
                                      "t",
                                80, true, true},
                      TFadeCase{"ReturnCancelsHide", kIn + "oih", 100, false, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// The pointer leaving the window straight from the band fades it out like any other
// way off it.
TEST_F(ToolbarFixture, LeavingTheViewFromTheBandHidesIt) {
    AddIcon(kBlue);
    const TPoint inside = Centre(toolbar.ToolbarRect());
    collection.MouseMove(0, inside.X, inside.Y);
    Run("tttttttttttt");
    ASSERT_TRUE(toolbar.Shown);
    ASSERT_FALSE(toolbar.HideTimer.Enabled());
    collection.MouseLeave();
    EXPECT_TRUE(toolbar.HideTimer.Enabled());
    Run("h");
    EXPECT_FALSE(toolbar.Shown);
    EXPECT_TRUE(toolbar.FadeTimer.Enabled());
}

TEST_F(ToolbarFixture, FadeTickRepaintsOnlyTheBand) {
    AddIcon(kBlue);
    Run("i");
    for (int i = 0; i < 12; ++i) {
        invalidated.clear();
        Run("t");
        for (const TRect& r : invalidated) EXPECT_EQ(r, toolbar.ToolbarRect());
    }
}

TEST_F(ToolbarFixture, BandSlidesWhileFading) {
    AddIcon(kBlue);
    Run("ittttt"); // level 50, half the band's height below its place
    ASSERT_EQ(toolbar.FadeLevel, 50);
    const TRect band = toolbar.ToolbarRect(); // (375, 554, 425, 604); drawn from 555 to 603
    const int x = band.Left + 5;              // beside the icon
    TBitmap32 half = PaintWhite();
    EXPECT_EQ(half.Pixel(x, 575), clWhite32) << "above the slid band";
    EXPECT_LT(RedOf(half.Pixel(x, 598)), 200) << "inside the slid band";
    Run(std::string(6, 't'));
    ASSERT_FALSE(toolbar.FadeTimer.Enabled());
    TBitmap32 full = PaintWhite();
    EXPECT_LT(RedOf(full.Pixel(x, 575)), 100);
    EXPECT_EQ(full.Pixel(x, 540), clWhite32) << "above the band";
}

struct TAlphaCase {
    const char* Name;
    bool ImageShown;
    std::string Script;
    bool Opaque; // the icon's centre is pure blue
};

class ToolbarIconAlphaTest : public ToolbarFixture,
                             public ::testing::WithParamInterface<TAlphaCase> {};

TEST_P(ToolbarIconAlphaTest, IconCentre) {
    const TAlphaCase& c = GetParam();
    TTlItem& item = AddIcon(kBlue);
    toolbar.ImageShown = [&c] { return c.ImageShown; };
    Run(c.Script);
    const TPoint centre = Centre(toolbar.ItemRect(item));
    const TColor32 pixel = PaintWhite().Pixel(centre.X, centre.Y);
    if (c.Opaque)
        EXPECT_EQ(pixel, kBlue);
    else
        EXPECT_GT(RedOf(pixel), 150) << std::hex << pixel; // faint blue over white
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolbarIconAlphaTest,
                         ::testing::Values(TAlphaCase{"NoImageHidden", false, "", true},
                                           TAlphaCase{"ImageHidden", true, "", false},
                                           TAlphaCase{"ImageShown", true, kIn, true},
                                           TAlphaCase{"NoImageShown", false, kIn, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ToolbarFixture, HoverAndHint) {
    TTlItem& a = AddIcon(kBlue);
    TTlItem& b = AddIcon(kRed);
    a.Hint = QStringLiteral("Previous image");
    b.Hint = QStringLiteral("Next image");
    const TPoint pa = Centre(toolbar.ItemRect(a)), pb = Centre(toolbar.ItemRect(b));

    ASSERT_EQ(collection.MouseMove(0, pa.X, pa.Y), &toolbar);
    EXPECT_TRUE(toolbar.Shown);
    EXPECT_EQ(toolbar.HotItem, &a);
    EXPECT_TRUE(toolbar.HintTimer.Enabled());
    EXPECT_FALSE(toolbar.HintVisible);

    invalidated.clear();
    toolbar.HintTimer.Tick();
    EXPECT_TRUE(toolbar.HintVisible);
    EXPECT_FALSE(toolbar.HintTimer.Enabled());
    EXPECT_EQ(invalidated, std::vector<TRect>{toolbar.HintRect(a)});

    // Another item: the hint goes and its timer starts again.
    collection.MouseMove(0, pb.X, pb.Y);
    EXPECT_EQ(toolbar.HotItem, &b);
    EXPECT_FALSE(toolbar.HintVisible);
    EXPECT_TRUE(toolbar.HintTimer.Enabled());
    toolbar.HintTimer.Tick();
    EXPECT_TRUE(toolbar.HintVisible);

    // Leaving the band hides the hint and the item's highlight at once and starts the
    // hide timer.
    invalidated.clear();
    EXPECT_EQ(collection.MouseMove(0, 10, 10), nullptr);
    EXPECT_FALSE(toolbar.HintVisible);
    EXPECT_EQ(toolbar.HotItem, nullptr);
    EXPECT_TRUE(toolbar.HideTimer.Enabled());
    const TRect item = toolbar.ItemRect(b);
    const int d = toolbar.HoverInset32;
    EXPECT_EQ(invalidated,
              (std::vector<TRect>{toolbar.HintRect(b),
                                  {item.Left - d, item.Top - d, item.Right + d, item.Bottom + d}}));
}

TEST_F(ToolbarFixture, HintBoxDrawnBesideTheItem) {
    TTlItem& a = AddIcon(kBlue);
    a.Hint = QStringLiteral("Previous image");
    toolbar.ImageShown = [] { return false; };
    const TPoint p = Centre(toolbar.ItemRect(a));
    collection.MouseMove(0, p.X, p.Y);
    toolbar.HintTimer.Tick();
    const TRect hint = toolbar.HintRect(a);
    const TColor32 back = SystemColor(TSystemColor::scInfoBackground);
    // The opaque frame, one pixel inside the hint rectangle.
    EXPECT_EQ(PaintWhite().Pixel(hint.Left + 1, hint.Top + 1), WithAlpha(back, 255));
}

struct THintCase {
    TToolbarPlacement Placement;
    int Top;    // relative to the item's top (bottom toolbar) or bottom (top toolbar)
    int Bottom; // same
};

class ToolbarHintRectTest : public ToolbarFixture,
                            public ::testing::WithParamInterface<THintCase> {};

TEST_P(ToolbarHintRectTest, Geometry) {
    const THintCase& c = GetParam();
    TTlItem& a = AddIcon(kBlue);
    toolbar.SetPlacement(c.Placement);
    EXPECT_TRUE(toolbar.HintRect(a).IsEmpty()) << "no hint, no box";
    a.Hint = QStringLiteral("Exit");
    const QSize text = TextSize(toolbar.HintFont, a.Hint);
    const TRect item = toolbar.ItemRect(a);
    const TRect hint = toolbar.HintRect(a);
    const int edge = c.Placement == tpBottom ? item.Top : item.Bottom;
    EXPECT_EQ(hint.Left, item.Right - 1);
    EXPECT_EQ(hint.Width(), text.width() + 6);
    EXPECT_EQ(hint.Height(), text.height() + 6);
    EXPECT_EQ(c.Placement == tpBottom ? hint.Bottom : hint.Top, edge + c.Bottom + c.Top);
}

INSTANTIATE_TEST_SUITE_P(Placements, ToolbarHintRectTest,
                         ::testing::Values(THintCase{tpBottom, 0, 3}, THintCase{tpTop, 1, 0}));

struct TClickCase {
    const char* Name;
    int Press;   // item index, or -1 for the band between items
    int Release; // same
    bool Enabled;
    int Clicks;
};

class ToolbarClickTest : public ToolbarFixture, public ::testing::WithParamInterface<TClickCase> {};

TEST_P(ToolbarClickTest, ReleaseRunsCommand) {
    const TClickCase& c = GetParam();
    std::vector<TTlItem*> items{&AddIcon(kBlue), &AddIcon(kRed)};
    int clicks = 0;
    TTlItem* sender = nullptr;
    for (TTlItem* item : items) {
        item->SetEnabled(c.Enabled);
        item->OnClick = [&](TTlItem& s) {
            ++clicks;
            sender = &s;
        };
    }
    const auto at = [&](int index) {
        if (index < 0)
            return TPoint{toolbar.ItemRect(*items[0]).Right + 1,
                          Centre(toolbar.ItemRect(*items[0])).Y};
        return Centre(toolbar.ItemRect(*items[std::size_t(index)]));
    };
    const TPoint down = at(c.Press), up = at(c.Release);
    collection.MouseMove(0, down.X, down.Y);
    ASSERT_EQ(collection.MouseDown(TMouseButton::mbLeft, ssLeft, down.X, down.Y), &toolbar);
    collection.MouseMove(ssLeft, up.X, up.Y);
    collection.MouseUp(TMouseButton::mbLeft, 0, up.X, up.Y);
    EXPECT_EQ(clicks, c.Clicks);
    if (c.Clicks > 0) {
        EXPECT_EQ(sender, items[std::size_t(c.Press)]);
    }
    EXPECT_EQ(toolbar.PressedItem, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, ToolbarClickTest,
                         ::testing::Values(TClickCase{"SameItem", 1, 1, true, 1},
                                           TClickCase{"OtherItem", 0, 1, true, 0},
                                           TClickCase{"ItemToBand", 0, -1, true, 0},
                                           TClickCase{"BandToItem", -1, 0, true, 0},
                                           TClickCase{"Disabled", 0, 0, false, 0}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ToolbarFixture, DisabledItemIsGreyWithoutHover) {
    TTlItem& item = AddIcon(kRed);
    Run(kIn);
    const TPoint centre = Centre(toolbar.ItemRect(item));
    collection.MouseMove(0, centre.X, centre.Y);
    ASSERT_EQ(toolbar.HotItem, &item);
    const TBitmap32 enabledHot = PaintWhite();

    invalidated.clear();
    item.SetEnabled(false);
    EXPECT_FALSE(invalidated.empty()) << "the item repaints";
    const TBitmap32 disabledHot = PaintWhite();
    const TColor32 grey = disabledHot.Pixel(centre.X, centre.Y);
    EXPECT_EQ(RedOf(grey), GreenOf(grey));
    EXPECT_EQ(GreenOf(grey), BlueOf(grey));
    EXPECT_EQ(RedOf(grey), 0x36); // the luma of pure red

    // No highlight: the same picture as with no item under the pointer.
    toolbar.HotItem = nullptr;
    const TBitmap32 disabledCold = PaintWhite();
    const int n = 800 * 600;
    EXPECT_TRUE(std::equal(disabledHot.Bits(), disabledHot.Bits() + n, disabledCold.Bits()));
    if (toolbar.HoverImage32.Empty()) GTEST_SKIP() << "hover pictures are not compiled in";
    // ... whereas the enabled item under the pointer is highlighted.
    item.SetEnabled(true);
    const TBitmap32 enabledCold = PaintWhite();
    EXPECT_FALSE(std::equal(enabledHot.Bits(), enabledHot.Bits() + n, enabledCold.Bits()));
}

TEST_F(ToolbarFixture, LabelWidensAndRelayouts) {
    TTlLabel& label = toolbar.AddItem(std::make_unique<TTlLabel>());
    TTlItem& next = AddIcon(kBlue);
    EXPECT_EQ(next.Bounds.Left, 34);
    label.SetCaption(QStringLiteral("1/2"));
    EXPECT_GE(label.Image32.Width(), 32);
    EXPECT_EQ(label.Image32.Height(), 32);
    const QString longCaption = QStringLiteral("Page 12 of 345");
    label.SetCaption(longCaption);
    EXPECT_EQ(label.Image32.Width(), TextSize(LayerFont(20), longCaption).width() + 4);
    EXPECT_EQ(label.Image16.Width(), TextSize(LayerFont(10), longCaption).width() + 4);
    EXPECT_EQ(next.Bounds.Left, label.Image32.Width() + 2);
    // Something was drawn, in the text colour.
    bool drawn = false;
    for (int i = 0; i < label.Image32.Width() * 32; ++i)
        drawn = drawn || AlphaOf(label.Image32.Bits()[i]) == 255;
    EXPECT_TRUE(drawn);
}

TEST_F(ToolbarFixture, ButtonLoadsBothPicturesAndRepaints) {
    TTlButton& button = toolbar.AddItem(std::make_unique<TTlButton>(QStringLiteral("zBack")));
    // A second button changes its picture while the first loads run.
    toolbar.AddItem(std::make_unique<TTlButton>(QStringLiteral("zNext")))
        .SetImageName(QStringLiteral("zExit"));
    EXPECT_EQ(button.ImageName(), QStringLiteral("zBack"));
    EXPECT_EQ(button.Image32.Width(), 32);
    invalidated.clear();
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !button.Loading(); }));
    EXPECT_EQ(button.Image32.Width(), 32);
    EXPECT_EQ(button.Image16.Width(), 16);
    EXPECT_EQ(button.Image32.DrawMode, TDrawMode::dmBlend);
    EXPECT_FALSE(invalidated.empty());
    bool opaque = false;
    for (int i = 0; i < 32 * 32; ++i) opaque = opaque || AlphaOf(button.Image32.Bits()[i]) > 0;
    EXPECT_TRUE(opaque) << "the back arrow was drawn";
}

TEST(ToolbarSeparator, CentredLine) {
    TTlSeparator separator;
    EXPECT_EQ(separator.Image32.Width(), 20);
    EXPECT_EQ(separator.Image32.Height(), 32);
    EXPECT_EQ(separator.Image16.Width(), 10);
    EXPECT_EQ(separator.Image16.Height(), 16);
    EXPECT_EQ(AlphaOf(separator.Image32.Pixel(0, 16)), 0);
    EXPECT_EQ(AlphaOf(separator.Image32.Pixel(19, 16)), 0);
    TBitmap32 line;
    if (!LoadPngResource(line, QStringLiteral("zSeparator32")))
        GTEST_SKIP() << "separator picture is not compiled in";
    int columnAlpha = 0;
    for (int y = 0; y < 32; ++y)
        columnAlpha +=
            AlphaOf(separator.Image32.Pixel(9, y)) + AlphaOf(separator.Image32.Pixel(10, y));
    EXPECT_GT(columnAlpha, 0);
}

// ---------------------------------------------------------------------------
// Progress box

struct TEdgeCase {
    int X, Y, Alpha;
};

class FadeEdgesTest : public ::testing::TestWithParam<TEdgeCase> {};

TEST_P(FadeEdgesTest, AlphaOnFiftyBySeventyFive) {
    // c = min(round(50 / 25), round(75 / 25)) = 2 bands: alpha 0 and 128 (64 where
    // a row and a column band meet).
    TBitmap32 b(50, 75);
    b.Clear(0xFF204060u);
    FadeEdges(b);
    const TEdgeCase& c = GetParam();
    const TColor32 p = b.Pixel(c.X, c.Y);
    EXPECT_EQ(AlphaOf(p), c.Alpha);
    EXPECT_EQ(p & 0xFFFFFFu, 0x204060u);
}

INSTANTIATE_TEST_SUITE_P(Table, FadeEdgesTest,
                         ::testing::Values(TEdgeCase{0, 0, 0}, TEdgeCase{0, 30, 0},
                                           TEdgeCase{30, 0, 0}, TEdgeCase{1, 30, 128},
                                           TEdgeCase{30, 1, 128}, TEdgeCase{1, 1, 64},
                                           TEdgeCase{48, 73, 64}, TEdgeCase{48, 30, 128},
                                           TEdgeCase{30, 73, 128}, TEdgeCase{49, 74, 0},
                                           TEdgeCase{2, 2, 255}, TEdgeCase{30, 30, 255}));

TEST(FadeEdges, TinyAndEmptyPicturesAreLeftAlone) {
    TBitmap32 empty;
    FadeEdges(empty);
    TBitmap32 tiny(12, 12); // round(12 / 25) = 0 bands
    tiny.Clear(clWhite32);
    FadeEdges(tiny);
    EXPECT_EQ(tiny.Pixel(0, 0), clWhite32);
}

class ProgressFixture : public ::testing::Test {
protected:
    ProgressFixture() {
        collection.SetViewport({0, 0, 800, 600});
        collection.OnInvalidate = [this](const TRect& r) { invalidated.push_back(r); };
    }
    void SetThumbnail(int w, int h) {
        TBitmap32 picture(w, h);
        picture.Clear(kBlue);
        progress.SetThumbnail(picture);
    }

    std::vector<TRect> invalidated;
    TLayerCollection collection;
    TProgressbarLayer progress{collection};
};

TEST_F(ProgressFixture, Defaults) {
    EXPECT_FALSE(progress.Visible());
    EXPECT_FALSE(progress.MouseEvents());
    EXPECT_EQ(progress.ClockTimer.Interval(), 300);
    EXPECT_FALSE(progress.ClockTimer.Enabled());
    EXPECT_EQ(progress.Min, 0);
    EXPECT_EQ(progress.Max, 100);
    EXPECT_EQ(progress.Thumbnail.MasterAlpha, 235);
    EXPECT_EQ(progress.ClockFrames[3].MasterAlpha, 80);
}

struct TBoxCase {
    const char* Name;
    int ThumbW, ThumbH;
    const char* Text;
    int ExtraWidth; // beyond what the thumbnail alone gives, -1: text and clock side by side
};

class ProgressBoxTest : public ProgressFixture, public ::testing::WithParamInterface<TBoxCase> {};

TEST_P(ProgressBoxTest, Size) {
    const TBoxCase& c = GetParam();
    SetThumbnail(c.ThumbW, c.ThumbH);
    progress.SetText(QString::fromUtf8(c.Text));
    const QFont font = LayerFont(11);
    const QSize opening = TextSize(font, QStringLiteral("Opening..."));
    const int tw = std::max(opening.width(), TextSize(font, progress.Text()).width());
    int width = c.ThumbW + c.ExtraWidth;
    if (c.ExtraWidth < 0) {
        ASSERT_GE(tw, c.ThumbW) << "the text must be wider than the thumbnail";
        // 20 pixels before the text, 8 between it and the 26-pixel clock, 2 after.
        width = c.ThumbW + 20 + tw + 8 + 26 + 2;
    }
    const int height = c.ThumbH >= 2 * opening.height() ? c.ThumbH + 16 : 2 * opening.height();
    const TRect box = progress.PanelRect();
    EXPECT_EQ(box.Width(), width);
    EXPECT_EQ(box.Height(), height);
    EXPECT_NEAR(box.Left + box.Width() / 2.0, 400, 0.5);
    EXPECT_NEAR(box.Top + box.Height() / 2.0, 300, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressBoxTest,
    ::testing::Values(TBoxCase{"NoTextSquare", 100, 100, "", 16},
                      TBoxCase{"ShortText", 120, 100, "a.jpg", 120 + 28},
                      TBoxCase{"LongText", 100, 80,
                               "a_rather_long_file_name_of_a_holiday_picture_0001.jpeg", -1},
                      TBoxCase{"FlatThumbnail", 10, 10, "", 16},
                      TBoxCase{"NoThumbnail", 0, 0, "big.png", -1}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(ProgressFixture, ThumbnailEdgesFade) {
    SetThumbnail(100, 100);
    EXPECT_EQ(AlphaOf(progress.Thumbnail.Pixel(0, 50)), 0);
    EXPECT_EQ(AlphaOf(progress.Thumbnail.Pixel(50, 50)), 255);
    EXPECT_EQ(progress.Thumbnail.DrawMode, TDrawMode::dmBlend);
    EXPECT_EQ(progress.Thumbnail.MasterAlpha, 235);
}

TEST_F(ProgressFixture, EightTicksTurnTheClockOnce) {
    SetThumbnail(64, 64);
    progress.Start();
    EXPECT_TRUE(progress.Visible());
    EXPECT_TRUE(progress.ClockTimer.Enabled());
    std::vector<int> seen;
    for (int i = 0; i < 8; ++i) {
        invalidated.clear();
        progress.ClockTimer.Tick();
        seen.push_back(progress.ClockIndex);
        EXPECT_EQ(invalidated, std::vector<TRect>{progress.PanelRect()});
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 0}));
    progress.Stop();
    EXPECT_FALSE(progress.Visible());
    EXPECT_FALSE(progress.ClockTimer.Enabled());
}

TEST_F(ProgressFixture, KeepsItselfOnTop) {
    TCustomLayer later{collection};
    EXPECT_EQ(collection.Items(collection.Count() - 1), &later);
    progress.Start();
    EXPECT_EQ(collection.Items(collection.Count() - 1), &progress);
    TCustomLayer evenLater{collection};
    progress.SetText(QStringLiteral("b.jpg"));
    EXPECT_EQ(collection.Items(collection.Count() - 1), &progress);
    progress.Stop();
}

TEST_F(ProgressFixture, PaintsTheBoxWithThumbnail) {
    SetThumbnail(100, 100);
    progress.SetText(QStringLiteral("holiday.jpeg"));
    progress.Start();
    TBitmap32 buffer(800, 600);
    buffer.Clear(clWhite32);
    collection.Paint(buffer);
    const TRect box = progress.PanelRect();
    const TColor32 thumb = buffer.Pixel(box.Left + 8 + 50, box.Top + box.Height() / 2);
    EXPECT_GT(BlueOf(thumb), 200);
    EXPECT_LT(RedOf(thumb), 40);
    EXPECT_EQ(buffer.Pixel(box.Left - 2, box.Top + box.Height() / 2), clWhite32);
    EXPECT_LT(RedOf(buffer.Pixel(box.Right - 4, box.Bottom - 4)), 150) << "the dark box";
    progress.Stop();
}

// ---------------------------------------------------------------------------
// Tint

struct TTintCase {
    const char* Name;
    TRect Image;
    int X, Y;
    bool Tinted;
};

class ColorLayerTest : public ::testing::TestWithParam<TTintCase> {};

TEST_P(ColorLayerTest, TintsOnlyThePicture) {
    const TTintCase& c = GetParam();
    TLayerCollection collection;
    collection.SetViewport({0, 0, 200, 100});
    TColorLayer layer{collection};
    EXPECT_FALSE(layer.Visible());
    EXPECT_FALSE(layer.MouseEvents());
    layer.ImageRect = [&c] { return c.Image; };
    layer.SetColor(kBlue);
    layer.SetVisible(true);
    TBitmap32 buffer(200, 100);
    buffer.Clear(clWhite32);
    collection.Paint(buffer);
    const TColor32 p = buffer.Pixel(c.X, c.Y);
    if (c.Tinted) {
        EXPECT_EQ(BlueOf(p), 255);
        EXPECT_NEAR(RedOf(p), 105, 1); // blue at alpha 150 over white
    } else {
        EXPECT_EQ(p, clWhite32);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Points, ColorLayerTest,
    ::testing::Values(TTintCase{"Inside", {50, 20, 150, 80}, 100, 50, true},
                      TTintCase{"TopLeftCorner", {50, 20, 150, 80}, 50, 20, true},
                      TTintCase{"BottomRightCorner", {50, 20, 150, 80}, 149, 79, true},
                      TTintCase{"LeftOfPicture", {50, 20, 150, 80}, 49, 50, false},
                      TTintCase{"RightOfPicture", {50, 20, 150, 80}, 150, 50, false},
                      TTintCase{"BelowPicture", {50, 20, 150, 80}, 100, 80, false},
                      TTintCase{"NoPicture", {}, 100, 50, false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ColorLayer, SetColorRepaintsOnlyOnChange) {
    TLayerCollection collection;
    collection.SetViewport({0, 0, 200, 100});
    std::vector<TRect> invalidated;
    collection.OnInvalidate = [&](const TRect& r) { invalidated.push_back(r); };
    TColorLayer layer{collection};
    invalidated.clear();
    layer.SetColor(kBlue);
    layer.SetColor(kBlue);
    EXPECT_EQ(invalidated, (std::vector<TRect>{{0, 0, 200, 100}}));
    EXPECT_TRUE(layer.HasColor());
}

TEST(ColorLayer, LabelInTheMiddle) {
    TLayerCollection collection;
    collection.SetViewport({0, 0, 200, 100});
    TColorLayer layer{collection};
    layer.Text = QStringLiteral("Empty");
    layer.SetVisible(true);
    TBitmap32 buffer(200, 100);
    buffer.Clear(clBlack32);
    collection.Paint(buffer);
    EXPECT_EQ(buffer.Pixel(5, 5), clBlack32);
    int bright = 0;
    for (int y = 40; y < 60; ++y)
        for (int x = 80; x < 120; ++x) bright += RedOf(buffer.Pixel(x, y)) > 200;
    EXPECT_GT(bright, 0) << "white text on the grey box";
}

} // namespace
