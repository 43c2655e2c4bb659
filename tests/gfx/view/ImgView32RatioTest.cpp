// The image view at the ratio of the screen it is on: its layers get that ratio and
// the view's logical size, it draws anew when it moves to a screen with another
// ratio, and the pointer reaches its layers in logical pixels.
//
// This binary runs on two offscreen screens side by side: "one" at a device pixel
// ratio of 1 and "two" at 2 (see ApplicationFactory below).
#include "gfx/ImgView32Widget.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <memory>
#include <string>
#include <vector>

namespace {

[[maybe_unused]] const bool kRunsOnTwoScreens = [] {
    pictrel::test::ApplicationFactory = [](int& argc,
                                           char** argv) -> std::unique_ptr<QApplication> {
        const QString path = QDir::temp().filePath(QStringLiteral("screens.json"));
        QFile config(path);
        if (config.open(QIODevice::WriteOnly))
            config.write(R"({"screens": [
                {"name": "one", "x": 0, "y": 0, "width": 800, "height": 600, "dpr": 1,
                 "logicalDpi": 96, "logicalBaseDpi": 96},
                {"name": "two", "x": 800, "y": 0, "width": 800, "height": 600, "dpr": 2,
                 "logicalDpi": 96, "logicalBaseDpi": 96}]})");
        config.close();
        if (qgetenv("QT_QPA_PLATFORM").startsWith("offscreen"))
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
        return std::make_unique<QApplication>(argc, argv);
    };
    return true;
}();

constexpr TColor32 kRed = 0xFFFF0000u;
constexpr QRgb kGrey = 0xFF808080u; // the view's own background without a handler

// A red box over a logical rectangle that records the points and ratios it is given.
class TBoxLayer : public TCustomLayer {
public:
    TBoxLayer(TLayerCollection& c, TRect box) : TCustomLayer(c), Box(box) { SetMouseEvents(true); }
    TRect Area() const override { return Box; }
    bool HitTest(int x, int y) override { return Box.Contains(x, y); }
    void MouseDown(TMouseButton, TShiftState, int x, int y) override {
        Log.push_back(std::to_string(x) + "," + std::to_string(y));
    }
    void Paint(TBitmap32& buffer) override {
        buffer.FillRect(LayerCollection().DeviceRect(Box), kRed);
    }
    void DeviceRatioChanged() override { Ratios.push_back(DeviceRatio()); }

    TRect Box;
    std::vector<std::string> Log;
    std::vector<double> Ratios;
};

class ViewRatioTest : public ::testing::Test {
protected:
    void SetUp() override {
        const QList<QScreen*> screens = QGuiApplication::screens();
        if (screens.size() < 2 || screens[0]->devicePixelRatio() != 1.0 ||
            screens[1]->devicePixelRatio() != 2.0)
            GTEST_SKIP() << "the platform did not make the two screens of ratio 1 and 2";
        m_one = screens[0];
        m_two = screens[1];
        view = std::make_unique<TImgView32>();
        view->resize(200, 100);
        view->OnResize = [this](TImgView32&) { ++resizes; };
        view->OnMouseDown = [this](TImgView32&, TMouseButton, TShiftState, int x, int y) {
            viewPoints.push_back(std::to_string(x) + "," + std::to_string(y));
        };
        box = std::make_unique<TBoxLayer>(view->Layers, TRect{20, 10, 60, 30});
        view->show();
        PutOn(m_one);
        resizes = 0;
    }

    void PutOn(QScreen* screen) {
        view->windowHandle()->setScreen(screen);
        QCoreApplication::processEvents();
    }
    void MoveToRatio2() { PutOn(m_two); }

    QImage Grab() { return view->grab().toImage().convertToFormat(QImage::Format_RGB32); }

    std::unique_ptr<TImgView32> view;
    std::unique_ptr<TBoxLayer> box;
    int resizes = 0;
    std::vector<std::string> viewPoints;

private:
    QScreen* m_one = nullptr;
    QScreen* m_two = nullptr;
};

// The red box's device rectangle and the grey pixels just outside it.
void ExpectBox(const QImage& image, const QRect& device) {
    for (const QPoint& p : {device.topLeft(), device.bottomRight()})
        EXPECT_EQ(image.pixel(p), QRgb(kRed)) << p.x() << "," << p.y();
    for (const QPoint& p :
         {device.topLeft() - QPoint(1, 0), device.topLeft() - QPoint(0, 1),
          device.bottomRight() + QPoint(1, 0), device.bottomRight() + QPoint(0, 1)})
        EXPECT_EQ(image.pixel(p), kGrey) << p.x() << "," << p.y();
}

TEST_F(ViewRatioTest, LayersGetTheScreensRatioAndTheLogicalSize) {
    EXPECT_EQ(view->DeviceRatio(), 1.0);
    EXPECT_EQ(view->Layers.DeviceRatio(), 1.0);
    EXPECT_EQ(view->Layers.Viewport(), TRect(0, 0, 200, 100));
    const QImage at1 = Grab();
    ASSERT_EQ(at1.size(), QSize(200, 100));
    ExpectBox(at1, QRect(20, 10, 40, 20));

    MoveToRatio2();
    EXPECT_EQ(view->DeviceRatio(), 2.0);
    EXPECT_EQ(view->Layers.DeviceRatio(), 2.0);
    EXPECT_EQ(view->Layers.Viewport(), TRect(0, 0, 200, 100));
    EXPECT_EQ(view->ViewRect(), TRect(0, 0, 400, 200));
    EXPECT_EQ(box->Ratios, std::vector<double>{2.0});
    // The picture is fitted to device pixels: the owner hears of the new size.
    EXPECT_EQ(resizes, 1);
    const QImage at2 = Grab();
    ASSERT_EQ(at2.size(), QSize(400, 200));
    ExpectBox(at2, QRect(40, 20, 80, 40));

    PutOn(QGuiApplication::screens()[0]);
    EXPECT_EQ(view->Layers.DeviceRatio(), 1.0);
    EXPECT_EQ(box->Ratios, (std::vector<double>{2.0, 1.0}));
    ExpectBox(Grab(), QRect(20, 10, 40, 20));
}

TEST_F(ViewRatioTest, PointerReachesLayersInLogicalAndTheOwnerInDevicePixels) {
    MoveToRatio2();
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(30, 15));
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(59, 29));
    EXPECT_EQ(box->Log, (std::vector<std::string>{"30,15", "59,29"}));
    QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(60, 29));
    EXPECT_EQ(viewPoints, std::vector<std::string>{"120,58"});
}

TEST_F(ViewRatioTest, AForcedRatioWinsOverTheScreensUntilCleared) {
    view->SetDeviceRatio(1.5);
    EXPECT_EQ(view->DeviceRatio(), 1.5);
    EXPECT_EQ(view->Layers.DeviceRatio(), 1.5);
    EXPECT_EQ(view->ViewRect(), TRect(0, 0, 300, 150));
    EXPECT_EQ(resizes, 1);
    MoveToRatio2();
    EXPECT_EQ(view->Layers.DeviceRatio(), 1.5);
    view->SetDeviceRatio(0);
    EXPECT_EQ(view->Layers.DeviceRatio(), 2.0);
    EXPECT_EQ(box->Ratios, (std::vector<double>{1.5, 2.0}));
    ExpectBox(Grab(), QRect(40, 20, 80, 40));
}

} // namespace
