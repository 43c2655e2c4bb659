#include "layers/VekCustomLayer.h"

#include "gfx/Bitmap32.h"
#include "gfx/BitmapText.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A panel on its own collection, with every repaint request recorded.
class PanelFixture : public ::testing::Test {
protected:
    PanelFixture() {
        collection.OnInvalidate = [this](const TRect& r) { invalidated.push_back(r); };
        collection.OnSetCursor = [this](Qt::CursorShape c) { cursor = c; };
    }

    TLayerCollection collection;
    TVekCustomControlLayer panel{collection};
    std::vector<TRect> invalidated;
    Qt::CursorShape cursor = Qt::BlankCursor;
};

using Rects = std::vector<TRect>;

TEST_F(PanelFixture, Defaults) {
    EXPECT_EQ(panel.Area(), TRect(0, 0, 100, 100));
    EXPECT_EQ(panel.CaptionHeight, 25);
    EXPECT_EQ(panel.BorderWidth, 1);
    EXPECT_EQ(panel.CaptionColor, 0xB4000000u);
    EXPECT_EQ(panel.OutlineColor, 0xC8000000u);
    EXPECT_EQ(panel.FillColor, 0x64C0C0C0u);
    EXPECT_EQ(panel.CaptionFontColor(), 0xFFFFFFFFu);
    EXPECT_TRUE(panel.Visible());
    EXPECT_TRUE(panel.MouseEvents());
    EXPECT_EQ(panel.DragZone, THitZone::hzNone);
    EXPECT_EQ(collection.Items(collection.Count() - 1), &panel);
}

TEST_F(PanelFixture, SetLeftInvalidatesOldAndNew) {
    panel.SetLeft(50);
    EXPECT_EQ(panel.Left(), 50);
    EXPECT_EQ(panel.Width(), 100);
    EXPECT_EQ(invalidated, (Rects{{0, 0, 100, 100}, {50, 0, 150, 100}}));
    invalidated.clear();
    panel.SetLeft(50);
    EXPECT_TRUE(invalidated.empty());
}

TEST_F(PanelFixture, SetTopInvalidatesOldAndNew) {
    panel.SetTop(30);
    EXPECT_EQ(panel.Top(), 30);
    EXPECT_EQ(panel.Height(), 100);
    EXPECT_EQ(invalidated, (Rects{{0, 0, 100, 100}, {0, 30, 100, 130}}));
}

struct TSizeCase {
    const char* Name;
    int Requested;
    int Expected;
    int FarEdge; // of the union of the old and the new rectangle
};

class PanelSizeTest : public PanelFixture, public ::testing::WithParamInterface<TSizeCase> {};

TEST_P(PanelSizeTest, WidthAndHeightKeepMinimum) {
    const TSizeCase& c = GetParam();
    panel.SetWidth(c.Requested);
    EXPECT_EQ(panel.Width(), c.Expected);
    EXPECT_EQ(invalidated, (Rects{{0, 0, c.FarEdge, 100}}));
    invalidated.clear();
    panel.SetHeight(c.Requested);
    EXPECT_EQ(panel.Height(), c.Expected);
    EXPECT_EQ(invalidated, (Rects{{0, 0, c.Expected, c.FarEdge}}));
}

INSTANTIATE_TEST_SUITE_P(Sizes, PanelSizeTest,
                         ::testing::Values(TSizeCase{"Grow", 150, 150, 150},
                                           TSizeCase{"Shrink", 40, 40, 100},
                                           TSizeCase{"BelowMinimum", 5, 10, 100}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PanelFixture, SetCaptionRepaintsCaptionStrip) {
    panel.SetLeft(10);
    invalidated.clear();
    panel.SetCaption("Histogram");
    EXPECT_EQ(panel.Caption, "Histogram");
    EXPECT_EQ(invalidated, (Rects{{10, 0, 110, 27}}));
    invalidated.clear();
    panel.SetCaption("Histogram");
    EXPECT_TRUE(invalidated.empty());
    panel.ShowCaption = false;
    panel.SetCaption("Other");
    EXPECT_TRUE(invalidated.empty());
}

TEST_F(PanelFixture, DoubleClickHidesAndClosesOnce) {
    int closed = 0;
    panel.OnClose = [&](TVekCustomControlLayer& sender) {
        EXPECT_EQ(&sender, &panel);
        ++closed;
    };
    EXPECT_EQ(collection.MouseDown(TMouseButton::mbLeft, ssLeft | ssDouble, 50, 10), &panel);
    EXPECT_FALSE(panel.Visible());
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(panel.ButtonDown);
    ASSERT_FALSE(invalidated.empty());
    EXPECT_EQ(invalidated.back(), TRect(0, 0, 100, 100));
    EXPECT_FALSE(panel.HitTest(50, 10));
    collection.MouseUp(TMouseButton::mbLeft, 0, 50, 10);
    EXPECT_EQ(closed, 1);
}

TEST_F(PanelFixture, DoubleClickKeepsPanelWhenNotClosable) {
    panel.CloseOnDoubleClick = false;
    int closed = 0;
    panel.OnClose = [&](TVekCustomControlLayer&) { ++closed; };
    collection.MouseDown(TMouseButton::mbLeft, ssLeft | ssDouble, 50, 10);
    EXPECT_TRUE(panel.Visible());
    EXPECT_EQ(closed, 0);
}

TEST_F(PanelFixture, RightReleaseOpensMenuAtPointer) {
    std::vector<QPoint> menus;
    panel.OnContextMenu = [&](int x, int y) { menus.emplace_back(x, y); };
    collection.MouseDown(TMouseButton::mbLeft, ssLeft, 50, 50);
    collection.MouseUp(TMouseButton::mbLeft, 0, 50, 50);
    EXPECT_TRUE(menus.empty());
    collection.MouseDown(TMouseButton::mbRight, ssRight, 50, 50);
    collection.MouseUp(TMouseButton::mbRight, 0, 60, 70);
    EXPECT_EQ(menus, (std::vector<QPoint>{{60, 70}}));
}

TEST_F(PanelFixture, CaptionDragMovesAndInvalidatesUnion) {
    panel.SetLeft(10);
    panel.SetTop(10);
    invalidated.clear();
    collection.MouseDown(TMouseButton::mbLeft, ssLeft, 50, 20);
    EXPECT_TRUE(panel.ButtonDown);
    EXPECT_EQ(panel.DragZone, THitZone::hzCaption);
    EXPECT_EQ(panel.DragPoint, QPoint(50, 20));
    collection.MouseMove(ssLeft, 70, 50);
    EXPECT_EQ(panel.Area(), TRect(30, 40, 130, 140));
    EXPECT_EQ(invalidated, (Rects{{10, 10, 130, 140}}));
    // Past the top-left edge of the view the panel stops at 0, keeping its size.
    collection.MouseMove(ssLeft, -100, -100);
    EXPECT_EQ(panel.Area(), TRect(0, 0, 100, 100));
    collection.MouseUp(TMouseButton::mbLeft, 0, -100, -100);
    EXPECT_FALSE(panel.ButtonDown);
    EXPECT_EQ(panel.DragZone, THitZone::hzNone);
    EXPECT_EQ(panel.DragPoint, QPoint(-1, -1));
}

// Hidden in the middle of a drag (a double click elsewhere, a new picture without
// lines), the panel sees no release: shown again, it must not jump with the pointer.
TEST_F(PanelFixture, AHiddenPanelForgetsItsDrag) {
    panel.SetLeft(10);
    panel.SetTop(10);
    collection.MouseDown(TMouseButton::mbLeft, ssLeft, 50, 20);
    panel.SetVisible(false);
    EXPECT_EQ(collection.MouseListener(), nullptr);
    panel.SetVisible(true);
    collection.MouseMove(0, 80, 60);
    EXPECT_EQ(panel.Area(), TRect(10, 10, 110, 110));
    EXPECT_FALSE(panel.ButtonDown);
}

// The sizing cursor of an edge goes back to the arrow when the pointer moves on to the
// picture or out of the view, not only when it crosses the panel's own inside.
TEST_F(PanelFixture, TheEdgesCursorEndsWhenThePointerLeaves) {
    panel.Resizable = true;
    for (const bool outOfView : {false, true}) {
        collection.MouseMove(0, 99, 50);
        EXPECT_EQ(cursor, Qt::SizeHorCursor);
        if (outOfView)
            collection.MouseLeave();
        else
            collection.MouseMove(0, 300, 50); // the picture, no layer there
        EXPECT_EQ(cursor, Qt::ArrowCursor) << (outOfView ? "left the view" : "onto the picture");
    }
}

TEST_F(PanelFixture, ClientPressDragsNothing) {
    collection.MouseDown(TMouseButton::mbLeft, ssLeft, 50, 50);
    EXPECT_TRUE(panel.ButtonDown);
    EXPECT_EQ(panel.DragPoint, QPoint(-1, -1));
    collection.MouseMove(ssLeft, 80, 90);
    EXPECT_EQ(panel.Area(), TRect(0, 0, 100, 100));
    EXPECT_TRUE(invalidated.empty());
}

TEST_F(PanelFixture, RightEdgeDragKeepsMinimumWidth) {
    collection.MouseDown(TMouseButton::mbLeft, ssLeft, 99, 50);
    EXPECT_EQ(panel.DragZone, THitZone::hzRight);
    collection.MouseMove(ssLeft, -20, 50);
    EXPECT_EQ(panel.Area(), TRect(0, 0, 10, 100));
}

struct TCursorCase {
    const char* Name;
    bool Resizable;
    int X, Y;
    Qt::CursorShape Expected;
};

class PanelCursorTest : public PanelFixture, public ::testing::WithParamInterface<TCursorCase> {};

TEST_P(PanelCursorTest, CursorByZone) {
    const TCursorCase& c = GetParam();
    panel.Resizable = c.Resizable;
    collection.MouseMove(0, c.X, c.Y);
    EXPECT_EQ(cursor, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Zones, PanelCursorTest,
    ::testing::Values(TCursorCase{"TopLeft", true, 0, 0, Qt::SizeFDiagCursor},
                      TCursorCase{"BottomRight", true, 99, 99, Qt::SizeFDiagCursor},
                      TCursorCase{"Top", true, 50, 0, Qt::SizeVerCursor},
                      TCursorCase{"Bottom", true, 50, 99, Qt::SizeVerCursor},
                      TCursorCase{"TopRight", true, 99, 0, Qt::SizeBDiagCursor},
                      TCursorCase{"BottomLeft", true, 0, 99, Qt::SizeBDiagCursor},
                      TCursorCase{"Right", true, 99, 50, Qt::SizeHorCursor},
                      TCursorCase{"Left", true, 0, 50, Qt::SizeHorCursor},
                      TCursorCase{"Caption", true, 50, 10, Qt::ArrowCursor},
                      TCursorCase{"Client", true, 50, 50, Qt::ArrowCursor},
                      TCursorCase{"EdgeOfFixedPanel", false, 99, 50, Qt::ArrowCursor}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- Settings ------------------------------------------------------------------

const QString kKeyBase = QStringLiteral("Software\\PictrelLayersTest\\");

TEST_F(PanelFixture, SaveThenLoadRestoresLocation) {
    panel.Location = {12.5f, 20.25f, 140.75f, 99.5f};
    panel.SaveSettings(TRegRoot::rrCurrentUser, kKeyBase + "roundTrip");

    TLayerCollection other;
    std::vector<TRect> otherInvalidated;
    other.OnInvalidate = [&](const TRect& r) { otherInvalidated.push_back(r); };
    TVekCustomControlLayer loaded(other);
    loaded.LoadSettings(TRegRoot::rrCurrentUser, kKeyBase + "roundTrip");
    EXPECT_EQ(loaded.Location, panel.Location);
    EXPECT_EQ(otherInvalidated, (Rects{{12, 20, 141, 100}}));

    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kKeyBase + "roundTrip", false));
    EXPECT_EQ(reg.GetDataType("left"), TRegDataType::rdBinary);
    EXPECT_EQ(reg.ReadBinaryData("top").value_or(QByteArray()).size(), 8);
}

TEST_F(PanelFixture, LoadWithOnlyLeftMovesOnlyLeftEdge) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKeyBase + "onlyLeft", true));
        reg.WriteFloat("left", 33.0);
        reg.WriteString("top", "not a float");
        reg.CloseKey();
    }
    panel.LoadSettings(TRegRoot::rrCurrentUser, kKeyBase + "onlyLeft");
    EXPECT_EQ(panel.Location, (TPanelLocation{33, 0, 100, 100}));
    EXPECT_EQ(invalidated, (Rects{{33, 0, 100, 100}}));
}

// ---- Painting ------------------------------------------------------------------

constexpr TColor32 kGrey = 0xFF808080u;

TEST_F(PanelFixture, PaintsRoundedTranslucentBodyAndCaption) {
    panel.SetLeft(40);
    panel.SetTop(30);
    panel.SetWidth(200);
    panel.SetHeight(150);
    TBitmap32 buffer(300, 220);
    buffer.Clear(kGrey);
    const TRect clip(5, 5, 290, 215);
    buffer.SetClipRect(clip);

    collection.Paint(buffer);
    EXPECT_EQ(buffer.ClipRect(), clip);

    // Silver at alpha 100 over grey: lighter grey, still opaque.
    const TColor32 body = buffer.Pixel(140, 150);
    EXPECT_EQ(AlphaOf(body), 255);
    EXPECT_NEAR(RedOf(body), 128 + (192 - 128) * 100 / 255, 3);
    EXPECT_EQ(RedOf(body), BlueOf(body));

    // The caption's top row (the panel's third) is far darker than the body; its
    // 25th and last row has faded out, and below it the body shows again.
    const TColor32 captionTop = buffer.Pixel(140, 32);
    EXPECT_LT(RedOf(captionTop), RedOf(body) / 2);
    EXPECT_LT(RedOf(buffer.Pixel(140, 33)), RedOf(body) / 2);
    EXPECT_NEAR(RedOf(buffer.Pixel(140, 32 + 24)), RedOf(body), 2);
    EXPECT_NEAR(RedOf(buffer.Pixel(140, 32 + 25)), RedOf(body), 2);

    // Outside the rounded corners and outside the panel nothing changed.
    for (const auto& [x, y] :
         {std::pair{40, 30}, std::pair{239, 30}, std::pair{40, 179}, std::pair{239, 179},
          std::pair{240, 100}, std::pair{100, 180}, std::pair{39, 100}, std::pair{100, 29}})
        EXPECT_EQ(buffer.Pixel(x, y), kGrey) << x << "," << y;
    // The outline darkens the left column halfway down.
    EXPECT_LT(RedOf(buffer.Pixel(40, 100)), RedOf(body));
}

TEST_F(PanelFixture, PaintStaysInsideClipAndSkipsHidden) {
    TBitmap32 buffer(150, 150);
    buffer.Clear(kGrey);
    buffer.SetClipRect({0, 0, 150, 60});
    collection.Paint(buffer);
    EXPECT_NE(buffer.Pixel(50, 50), kGrey);
    EXPECT_EQ(buffer.Pixel(50, 70), kGrey);
    EXPECT_EQ(buffer.ClipRect(), TRect(0, 0, 150, 60));

    buffer.Clear(kGrey);
    buffer.ResetClipRect();
    panel.SetVisible(false);
    panel.Paint(buffer);
    EXPECT_EQ(buffer.Pixel(50, 50), kGrey);
}

// A subclass's content gets the part inside the border and below the caption.
class ContentProbe : public TVekCustomControlLayer {
public:
    using TVekCustomControlLayer::TVekCustomControlLayer;
    std::vector<TPanelLocation> Painted;

protected:
    void PaintContent(TBitmap32&, const TPanelLocation& client) override {
        Painted.push_back(client);
    }
};

TEST(PanelContentTest, ContentGetsClientArea) {
    TLayerCollection collection;
    ContentProbe probe(collection);
    TBitmap32 buffer(120, 120);
    buffer.Clear(kGrey);
    probe.Paint(buffer);
    ASSERT_EQ(probe.Painted.size(), 1u);
    EXPECT_EQ(probe.Painted[0], (TPanelLocation{1, 27, 99, 99}));
    EXPECT_EQ(probe.ClientRect(), TRect(1, 27, 99, 99));

    // Out of the clip rectangle nothing is painted at all.
    buffer.SetClipRect({105, 105, 120, 120});
    probe.Paint(buffer);
    EXPECT_EQ(probe.Painted.size(), 1u);
}

} // namespace

TEST(PanelCaptionTextTest, DrawnInWhiteEvenWithoutCaptionBar) {
    TLayerCollection collection;
    TVekCustomControlLayer panel(collection);
    panel.ShowCaption = false;
    panel.ShowBorder = false;
    panel.FillColor = 0;
    panel.Caption = "WWWW";
    if (TextExtent(panel.CaptionFont(), panel.Caption).width() == 0)
        GTEST_SKIP() << "no font to draw with";
    TBitmap32 buffer(120, 120);
    buffer.Clear(kGrey);
    panel.Paint(buffer);
    int lighter = 0, changedBelow = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x) {
            const TColor32 c = buffer.Pixel(x, y);
            if (y < 25 && x >= 5 && RedOf(c) > 0x80 && RedOf(c) == BlueOf(c)) ++lighter;
            if ((y >= 25 || x < 5) && c != kGrey) ++changedBelow;
        }
    EXPECT_GT(lighter, 10);
    EXPECT_EQ(changedBelow, 0);
}
