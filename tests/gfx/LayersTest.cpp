#include "gfx/Layers.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// A layer over a rectangle that records what reaches it.
class TBoxLayer : public TCustomLayer {
public:
    TBoxLayer(TLayerCollection& c, std::string name, TRect box, std::vector<std::string>& log)
        : TCustomLayer(c), Name(std::move(name)), Box(box), m_log(log) {
        SetMouseEvents(true);
    }
    TRect Area() const override { return Box; }
    bool HitTest(int x, int y) override { return Box.Contains(x, y); }
    void MouseDown(TMouseButton b, TShiftState s, int x, int y) override {
        m_log.push_back(Name + ".down");
        TCustomLayer::MouseDown(b, s, x, y);
    }
    void MouseMove(TShiftState s, int x, int y) override {
        m_log.push_back(Name + ".move");
        TCustomLayer::MouseMove(s, x, y);
    }
    void MouseUp(TMouseButton b, TShiftState s, int x, int y) override {
        m_log.push_back(Name + ".up");
        TCustomLayer::MouseUp(b, s, x, y);
    }
    void KeyDown(std::uint16_t& key, TShiftState) override {
        m_log.push_back(Name + ".key" + std::to_string(key));
    }
    void Paint(TBitmap32& buffer) override {
        const TRect clip = buffer.ClipRect();
        m_log.push_back(Name + ".paint " + std::to_string(clip.Left) + "," +
                        std::to_string(clip.Top) + "," + std::to_string(clip.Right) + "," +
                        std::to_string(clip.Bottom));
        buffer.SetClipRect(Box); // a layer may narrow the clip for itself
    }

    std::string Name;
    TRect Box;

private:
    std::vector<std::string>& m_log;
};

class LayersTest : public testing::Test {
protected:
    LayersTest() {
        Layers.SetViewport({0, 0, 200, 100});
        Layers.OnInvalidate = [this](const TRect& r) { Invalidated.push_back(r); };
        Layers.OnSetCursor = [this](Qt::CursorShape c) { Cursors.push_back(c); };
    }
    std::unique_ptr<TBoxLayer> Make(const std::string& name, TRect box) {
        return std::make_unique<TBoxLayer>(Layers, name, box, Log);
    }

    TLayerCollection Layers;
    std::vector<std::string> Log;
    std::vector<TRect> Invalidated;
    std::vector<Qt::CursorShape> Cursors;
};

TEST_F(LayersTest, PaintsVisibleLayersInOrderWithTheViewsClipEachTime) {
    auto a = Make("a", {0, 0, 50, 50});
    auto b = Make("b", {40, 0, 90, 50});
    auto c = Make("c", {80, 0, 130, 50});
    c->SetVisible(false);
    b->SetIndex(0);
    TBitmap32 buffer(200, 100);
    buffer.SetClipRect({10, 10, 150, 60});
    Layers.Paint(buffer);
    EXPECT_EQ(Log, (std::vector<std::string>{"b.paint 10,10,150,60", "a.paint 10,10,150,60"}));
    EXPECT_EQ(buffer.ClipRect(), (TRect{10, 10, 150, 60}));
    EXPECT_EQ(a->Index(), 1);
    EXPECT_EQ(c->Index(), 2);
}

struct TRouteCase {
    const char* name;
    int x, y;
    const char* expected; // "" when the view keeps the event
};

class LayersRoute : public LayersTest, public testing::WithParamInterface<TRouteCase> {};

// a at the bottom, b above it overlapping, c on top but hidden, d without mouse events.
TEST_P(LayersRoute, TopMostLayerThatWantsThePointGetsThePress) {
    const TRouteCase& t = GetParam();
    auto a = Make("a", {0, 0, 50, 50});
    auto b = Make("b", {40, 0, 90, 50});
    auto c = Make("c", {0, 0, 200, 100});
    auto d = Make("d", {60, 60, 100, 100});
    c->SetVisible(false);
    d->SetMouseEvents(false);
    TCustomLayer* taken = Layers.MouseDown(TMouseButton::mbLeft, ssLeft, t.x, t.y);
    if (*t.expected == 0) {
        EXPECT_EQ(taken, nullptr);
        EXPECT_TRUE(Log.empty());
    } else {
        ASSERT_NE(taken, nullptr);
        EXPECT_EQ(static_cast<TBoxLayer*>(taken)->Name, t.expected);
        EXPECT_EQ(Layers.KeyboardLayer(), taken);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LayersRoute,
                         testing::Values(TRouteCase{"OnlyA", 10, 10, "a"},
                                         TRouteCase{"OverlapGoesToTheUpper", 45, 10, "b"},
                                         TRouteCase{"OnlyB", 80, 10, "b"},
                                         TRouteCase{"NoMouseEventsLayerIsSkipped", 70, 70, ""},
                                         TRouteCase{"Nothing", 150, 80, ""}),
                         [](const auto& info) { return info.param.name; });

TEST_F(LayersTest, PressCapturesThePointerUntilTheRelease) {
    auto a = Make("a", {0, 0, 50, 50});
    auto b = Make("b", {60, 0, 100, 50});
    Layers.MouseDown(TMouseButton::mbLeft, ssLeft, 10, 10);
    EXPECT_EQ(Layers.MouseMove(ssLeft, 80, 10), a.get()); // over b, still a's
    EXPECT_EQ(Layers.MouseUp(TMouseButton::mbLeft, 0, 180, 90), a.get());
    EXPECT_EQ(Layers.MouseListener(), nullptr);
    EXPECT_EQ(Layers.MouseMove(0, 80, 10), b.get());
    EXPECT_EQ(Log, (std::vector<std::string>{"a.down", "a.move", "a.up", "b.move"}));
    // The base type shows the layer's cursor on every move and on the release.
    EXPECT_EQ(Cursors.size(), 3u);
}

TEST_F(LayersTest, KeysGoToTheLastPressedLayerUntilItIsHiddenOrGone) {
    std::uint16_t key = 39;
    EXPECT_FALSE(Layers.KeyDown(key, 0));
    auto a = Make("a", {0, 0, 50, 50});
    auto b = Make("b", {60, 0, 100, 50});
    Layers.MouseDown(TMouseButton::mbLeft, ssLeft, 70, 10);
    Layers.MouseUp(TMouseButton::mbLeft, 0, 70, 10);
    EXPECT_TRUE(Layers.KeyDown(key, 0));
    EXPECT_EQ(Log.back(), "b.key39");
    b->SetVisible(false);
    EXPECT_FALSE(Layers.KeyDown(key, 0));

    Layers.MouseDown(TMouseButton::mbLeft, ssLeft, 10, 10); // a captures and has the keys
    a.reset();
    EXPECT_EQ(Layers.MouseListener(), nullptr);
    EXPECT_EQ(Layers.KeyboardLayer(), nullptr);
    EXPECT_EQ(Layers.MouseUp(TMouseButton::mbLeft, 0, 10, 10), nullptr);
}

TEST_F(LayersTest, ChangesRepaintTheLayersArea) {
    auto a = Make("a", {10, 10, 30, 30});
    auto whole = std::make_unique<TCustomLayer>(Layers);
    Invalidated.clear();
    a->SetVisible(false);
    a->SetVisible(false);     // no change, no repaint
    a->Changed({0, 0, 0, 0}); // empty: nothing to repaint
    a->Changed({1, 2, 3, 4});
    whole->Changed();
    a.reset();     // hidden: goes without a repaint
    whole.reset(); // visible: its area is repainted
    EXPECT_EQ(
        Invalidated,
        (std::vector<TRect>{{10, 10, 30, 30}, {1, 2, 3, 4}, {0, 0, 200, 100}, {0, 0, 200, 100}}));
    EXPECT_EQ(Layers.Count(), 0);
}

TEST(LayerCollection, LayersOutlivingTheirCollectionLeaveQuietly) {
    auto collection = std::make_unique<TLayerCollection>();
    auto layer = std::make_unique<TCustomLayer>(*collection);
    collection->OnInvalidate = [](const TRect&) { FAIL() << "no view to repaint"; };
    collection.reset();
    layer->SetVisible(false);
    EXPECT_EQ(layer->Index(), -1);
    layer.reset();
}

} // namespace
