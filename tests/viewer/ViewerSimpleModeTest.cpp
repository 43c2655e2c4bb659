#include "app/ViewerStoreValues.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekStringListLayer.h"
#include "viewer/ViewerFixture.h"

#include <QAction>
#include <QTest>

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

constexpr QRgb kRed = 0xFFFF0000, kGreen = 0xFF00FF00;

class ViewerSimpleMode : public ViewerWindow {
protected:
    void SetUp() override {
        ViewerWindow::SetUp();
        m_form->Panels->ShowPanels = {};
        m_form->Panels->ShowPanels[6] = true;
        WritePicture(Path("a.png"), kRed, 200, 100);
        WritePicture(Path("b.png"), kGreen, 200, 100);
        m_form->OpenFile(Path("a.png"));
        ASSERT_TRUE(WaitShown("a.png"));
        m_form->Simple.SimpleLeft = 300;
        m_form->Simple.SimpleTop = 200;
        m_form->Simple.SimpleWidth = 240;
        m_form->Simple.SimpleHeight = 135;
        m_form->Simple.SimpleBlend = 0x1C8; // only the low byte counts
    }

    void MoveBy(int dx, int dy) {
        QTest::mousePress(m_form->ImgView32, Qt::LeftButton, {}, QPoint(50, 50));
        QMouseEvent move(QEvent::MouseMove, QPointF(50 + dx, 50 + dy), QPointF(50 + dx, 50 + dy),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(m_form->ImgView32, &move);
        QTest::mouseRelease(m_form->ImgView32, Qt::LeftButton, {}, QPoint(50 + dx, 50 + dy));
    }
};

TEST_F(ViewerSimpleMode, BecomesASmallFrameOnTopAndComesBack) {
    const QRect normal = m_form->geometry();
    ASSERT_TRUE(m_form->Panels->InfoPanel->Visible());
    m_form->Actions.SimpleModeAction->trigger();
    ASSERT_TRUE(m_form->Simple.SimpleMode);
    EXPECT_TRUE(m_form->isVisible());
    EXPECT_EQ(m_form->geometry(), QRect(300, 200, 240, 135));
    EXPECT_TRUE(m_form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(m_form->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_NEAR(m_form->windowOpacity(), 200 / 255.0, 0.01);
    EXPECT_FALSE(m_form->Toolbars->MainToolbar->Visible());
    EXPECT_FALSE(m_form->Panels->InfoPanel->Visible());
    EXPECT_EQ(m_form->Actions.SimpleModeAction->text(), "Normal mode");
    // Stepping keys do nothing in the frame.
    QTest::keyClick(m_form.get(), Qt::Key_Right);
    EXPECT_FALSE(m_form->ShowOnLoad);
    EXPECT_EQ(m_form->FileIndex, 0);

    m_form->Actions.SimpleModeAction->trigger();
    EXPECT_FALSE(m_form->Simple.SimpleMode);
    EXPECT_EQ(m_form->geometry(), normal);
    EXPECT_FALSE(m_form->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_DOUBLE_EQ(m_form->windowOpacity(), 1.0);
    EXPECT_TRUE(m_form->Toolbars->MainToolbar->Visible());
    EXPECT_TRUE(m_form->Panels->InfoPanel->Visible());
    EXPECT_EQ(m_form->Actions.SimpleModeAction->text(), "Simple mode");
}

TEST_F(ViewerSimpleMode, DraggedFrameKeepsItsPlaceAcrossModesAndRestarts) {
    m_form->EnterSimpleMode();
    MoveBy(30, -20);
    EXPECT_EQ(m_form->geometry().topLeft(), QPoint(330, 180));
    // A double click on the picture leaves simple mode.
    QTest::mouseDClick(m_form->ImgView32, Qt::LeftButton, {}, QPoint(50, 50));
    ASSERT_FALSE(m_form->Simple.SimpleMode);
    m_form->EnterSimpleMode();
    EXPECT_EQ(m_form->geometry().topLeft(), QPoint(330, 180));

    const QRect normal = m_form->Simple.NormalBounds;
    m_form.reset(); // ends in simple mode: the normal window is what is stored
    Restart();
    EXPECT_FALSE(m_form->Simple.SimpleMode);
    EXPECT_EQ(m_form->Simple.SimpleLeft, 330);
    EXPECT_EQ(m_form->Simple.SimpleTop, 180);
    EXPECT_EQ(m_form->size(), normal.size());
}

// Where the windowing system tells no places (Wayland): the compositor moves the frame,
// a window's place read there (0,0) is not stored over the one an X11 run stored, and
// no opacity is asked for.
TEST_F(ViewerSimpleMode, UnknownPlacesLeaveTheStoredOnesAlone) {
    m_form.reset();
    {
        TViewerStoreValues stored = TViewerStoreValues::Load(1024, 768);
        stored.Left = 137;
        stored.Top = 91;
        stored.SimpleLeft = 300;
        stored.SimpleTop = 200;
        stored.Save();
    }
    Restart();
    m_form->Simple.PlacesKnown = false;
    m_form->Simple.OpacityWorks = false;
    m_form->EnterSimpleMode();
    MoveBy(30, -20);
    EXPECT_EQ(m_form->geometry().topLeft(), QPoint(300, 200));
    EXPECT_DOUBLE_EQ(m_form->windowOpacity(), 1.0);
    m_form->move(0, 0);
    m_form->LeaveSimpleMode();
    m_form->move(0, 0);
    TViewerStoreValues v;
    m_form->Simple.Store(v);
    EXPECT_EQ(QPoint(v.Left, v.Top), QPoint(137, 91));
    EXPECT_EQ(QPoint(v.SimpleLeft, v.SimpleTop), QPoint(300, 200));
}

TEST_F(ViewerSimpleMode, LeavingShowsTheShownFilesPanelsNotThePrefetchedOnes) {
    m_form->EnterSimpleMode();
    m_form->Panels->ShowPanels = {};
    m_form->LeaveSimpleMode();
    // The neighbour b.png has been prefetched meanwhile: the lines still name a.png.
    ASSERT_TRUE(PumpUntil([&] { return m_form->PrefetchDone; }));
    m_form->EnterSimpleMode();
    m_form->LeaveSimpleMode();
    const QStringList lines = m_form->Panels->InfoPanel->Lines();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_TRUE(lines.join('\n').contains("200")) << lines.join('\n').toStdString();
}

TEST_F(ViewerSimpleMode, FrameAroundTheWholeWindowWhenShowFrameIsOn) {
    m_form->DialogValues.ShowFrame = true;
    m_form->EnterSimpleMode();
    ASSERT_TRUE(PumpUntil([&] { return m_form->ImgView32->ViewWidth() == 240; }));
    const QImage image = Grab();
    // The picture sits fitted in the middle; the window's edge (not the picture's)
    // is darkened by the frame, the grey just inside it is not.
    EXPECT_EQ(image.pixel(120, 67), kRed);
    EXPECT_LT(qRed(image.pixel(0, 67)), 0x60);
    EXPECT_LT(qRed(image.pixel(120, 0)), 0x60);
    EXPECT_EQ(image.pixel(1, 67), 0xFF808080u);
    EXPECT_EQ(image.pixel(20, 67), kRed);
}

} // namespace
