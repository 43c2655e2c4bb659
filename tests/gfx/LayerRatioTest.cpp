// The layer collection between a view's device pixels and its layers' logical ones.
#include "gfx/Layers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

// A layer over a logical rectangle that records the points it is given.
class TPointLayer : public TCustomLayer {
public:
    TPointLayer(TLayerCollection& c, TRect box) : TCustomLayer(c), Box(box) {
        SetMouseEvents(true);
    }
    TRect Area() const override { return Box; }
    bool HitTest(int x, int y) override { return Box.Contains(x, y); }
    void MouseDown(TMouseButton, TShiftState, int x, int y) override {
        Log.push_back("down " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseMove(TShiftState, int x, int y) override {
        Log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    }
    void MouseUp(TMouseButton, TShiftState, int x, int y) override {
        Log.push_back("up " + std::to_string(x) + "," + std::to_string(y));
    }
    void DeviceRatioChanged() override { ++RatioChanges; }

    TRect Box;
    std::vector<std::string> Log;
    int RatioChanges = 0;
};

struct TPointCase {
    const char* Name;
    double Ratio;
    int DeviceX, DeviceY;
    bool Hits;
    int LogicalX, LogicalY;
};

void PrintTo(const TPointCase& c, std::ostream* os) {
    *os << c.Name;
}

class LayerPointTest : public ::testing::TestWithParam<TPointCase> {};

// The box covers logical pixels 10...49 x 10...29.
TEST_P(LayerPointTest, DevicePointReachesTheLayerAsTheLogicalPixelHoldingIt) {
    const TPointCase& c = GetParam();
    TLayerCollection layers;
    layers.SetDeviceRatio(c.Ratio);
    TPointLayer box(layers, {10, 10, 50, 30});
    EXPECT_EQ(layers.LogicalCoord(c.DeviceX), c.LogicalX);
    EXPECT_EQ(layers.LogicalCoord(c.DeviceY), c.LogicalY);
    const TCustomLayer* took = layers.MouseDown(TMouseButton::mbLeft, ssLeft, c.DeviceX, c.DeviceY);
    EXPECT_EQ(took, c.Hits ? &box : nullptr);
    const std::vector<std::string> reached{"down " + std::to_string(c.LogicalX) + "," +
                                           std::to_string(c.LogicalY)};
    EXPECT_EQ(box.Log, c.Hits ? reached : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, LayerPointTest,
    ::testing::Values(TPointCase{"TopLeftAt1", 1.0, 10, 10, true, 10, 10},
                      TPointCase{"TopLeftAt2", 2.0, 20, 20, true, 10, 10},
                      TPointCase{"TopLeftAt1_5", 1.5, 15, 15, true, 10, 10},
                      // Both device pixels of a logical one at 2 are that logical pixel.
                      TPointCase{"SecondDevicePixelAt2", 2.0, 21, 21, true, 10, 10},
                      TPointCase{"JustBeforeAt2", 2.0, 19, 19, false, 9, 9},
                      TPointCase{"LastPixelAt1", 1.0, 49, 29, true, 49, 29},
                      TPointCase{"LastPixelAt2", 2.0, 99, 59, true, 49, 29},
                      TPointCase{"PastTheEndAt2", 2.0, 100, 60, false, 50, 30},
                      // Device pixel 16 at 1.5 has its centre in logical pixel 11.
                      TPointCase{"CentreDecidesAt1_5", 1.5, 16, 16, true, 11, 11},
                      TPointCase{"LastPixelAt1_5", 1.5, 74, 44, true, 49, 29},
                      TPointCase{"PastTheEndAt1_5", 1.5, 75, 45, false, 50, 30}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LayerPointCaptureTest, AHeldLayerGetsLogicalPointsOutsideTheView) {
    TLayerCollection layers;
    layers.SetDeviceRatio(2.0);
    TPointLayer box(layers, {10, 10, 50, 30});
    layers.MouseDown(TMouseButton::mbLeft, ssLeft, 40, 40);
    layers.MouseMove(ssLeft, -1, -3);
    layers.MouseUp(TMouseButton::mbLeft, 0, 301, 0);
    EXPECT_EQ(box.Log, (std::vector<std::string>{"down 20,20", "move -1,-2", "up 150,0"}));
}

struct TRepaintCase {
    const char* Name;
    double Ratio;
    TRect Logical;
    TRect Device;
};

void PrintTo(const TRepaintCase& c, std::ostream* os) {
    *os << c.Name;
}

class LayerRepaintTest : public ::testing::TestWithParam<TRepaintCase> {};

TEST_P(LayerRepaintTest, RequestCoversEveryDevicePixelTheLogicalRectangleTouches) {
    const TRepaintCase& c = GetParam();
    TLayerCollection layers;
    layers.SetDeviceRatio(c.Ratio);
    std::vector<TRect> requests;
    layers.OnInvalidate = [&](const TRect& r) { requests.push_back(r); };
    TPointLayer box(layers, c.Logical);
    box.Changed();
    EXPECT_EQ(requests, std::vector<TRect>{c.Device});
    EXPECT_EQ(layers.DeviceRect(c.Logical), c.Device);
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, LayerRepaintTest,
    ::testing::Values(TRepaintCase{"At1", 1.0, {10, 10, 51, 31}, {10, 10, 51, 31}},
                      TRepaintCase{"At2", 2.0, {10, 10, 51, 31}, {20, 20, 102, 62}},
                      TRepaintCase{"At1_5", 1.5, {10, 11, 51, 31}, {15, 16, 77, 47}},
                      TRepaintCase{"NegativeAt1_5", 1.5, {-3, -1, 1, 1}, {-5, -2, 2, 2}},
                      TRepaintCase{"At1_25", 1.25, {1, 1, 3, 3}, {1, 1, 4, 4}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(LayerRatioTest, AChangeTellsEveryLayerAndRepaintsTheWholeView) {
    TLayerCollection layers;
    layers.SetViewport({0, 0, 200, 100});
    std::vector<TRect> requests;
    layers.OnInvalidate = [&](const TRect& r) { requests.push_back(r); };
    TPointLayer a(layers, {0, 0, 10, 10});
    TPointLayer b(layers, {20, 0, 30, 10});
    b.SetVisible(false);
    requests.clear();

    layers.SetDeviceRatio(1.5);
    EXPECT_EQ(layers.DeviceRatio(), 1.5);
    EXPECT_EQ(a.RatioChanges, 1);
    EXPECT_EQ(b.RatioChanges, 1); // hidden layers keep their pictures up to date too
    EXPECT_EQ(requests, std::vector<TRect>{TRect(0, 0, 300, 150)});

    // The same ratio again changes nothing.
    requests.clear();
    layers.SetDeviceRatio(1.5);
    EXPECT_EQ(a.RatioChanges, 1);
    EXPECT_TRUE(requests.empty());
}

TEST(LayerRatioTest, NoPositiveNumberCountsAsOne) {
    for (double refused : {0.0, -2.0, std::numeric_limits<double>::quiet_NaN(),
                           std::numeric_limits<double>::infinity()}) {
        TLayerCollection layers;
        layers.SetDeviceRatio(2.0);
        layers.SetDeviceRatio(refused);
        EXPECT_EQ(layers.DeviceRatio(), 1.0) << refused;
    }
}

} // namespace
