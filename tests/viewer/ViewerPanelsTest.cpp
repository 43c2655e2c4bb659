#include "layers/VekAdditionalLayers.h"
#include "layers/VekEditLayer.h"
#include "layers/VekHistogramLayer.h"
#include "layers/VekStringListLayer.h"
#include "viewer/ViewerFixture.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QTest>

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

constexpr QRgb kRed = 0xFFFF0000;
constexpr std::size_t kHistogram = 1, kExif = 2, kInfo = 6;

class ViewerPanels : public ViewerWindow {
protected:
    void SetUp() override {
        ViewerWindow::SetUp();
        m_form->resize(800, 600);
        // Wishes stored by an earlier test do not count here.
        m_form->Panels->ShowPanels = {};
        m_form->UpdatePanels();
        PumpUntil([&] { return m_form->ImgView32->ViewWidth() > 700; });
    }

    // The centre of a panel's client area on screen.
    QRgb PanelCentre(const TVekCustomControlLayer& panel) const {
        const TRect c = panel.ClientRect();
        return Grab().pixel((c.Left + c.Right) / 2, (c.Top + c.Bottom) / 2);
    }

    void OpenRed() {
        WritePicture(Path("red.png"), kRed, 800, 600);
        m_form->OpenFile(Path("red.png"));
        ASSERT_TRUE(WaitShown("red.png"));
    }
};

TEST_F(ViewerPanels, WishedPanelsShowOverThePictureAndGoWithAFailedLoad) {
    m_form->Panels->ShowPanels[kInfo] = m_form->Panels->ShowPanels[kHistogram] =
        m_form->Panels->ShowPanels[kExif] = true;
    m_form->UpdatePanels();
    OpenRed();
    ASSERT_TRUE(PumpUntil([&] { return m_form->Panels->HistogramPanel->Advice() != 0; }));

    EXPECT_TRUE(m_form->Panels->InfoPanel->Visible());
    EXPECT_TRUE(m_form->Panels->HistogramPanel->Visible());
    // A PNG has no EXIF lines: that panel stays away although it is wished for.
    EXPECT_FALSE(m_form->Panels->ExifPanel->Visible());
    EXPECT_FALSE(m_form->Panels->InfoPanel->Lines().isEmpty());
    // Both panels lie inside the view, the histogram pulled in from its far default.
    EXPECT_EQ(m_form->Panels->HistogramPanel->Left() + m_form->Panels->HistogramPanel->Width(),
              m_form->ImgView32->ViewWidth());
    EXPECT_NE(PanelCentre(*m_form->Panels->InfoPanel), kRed);
    EXPECT_NE(PanelCentre(*m_form->Panels->HistogramPanel), kRed);
    // A flat red picture has no contrast and one colour only.
    EXPECT_NE(m_form->Panels->HistogramPanel->Advice(), TAnalyzeHystrogramThread::kNoAdvice);

    QFile broken(Path("broken.png"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a picture");
    broken.close();
    m_form->OpenFile(Path("broken.png"));
    ASSERT_TRUE(WaitShown("broken.png"));
    EXPECT_FALSE(m_form->Panels->InfoPanel->Visible());
    EXPECT_FALSE(m_form->Panels->HistogramPanel->Visible());
    EXPECT_TRUE(m_form->Panels->InfoPanel->Lines().isEmpty());
    // The wish stays for the next picture.
    EXPECT_TRUE(m_form->Panels->ShowPanels[kInfo]);
}

TEST_F(ViewerPanels, UnwishedPanelsLeaveThePictureAlone) {
    OpenRed();
    EXPECT_FALSE(m_form->Panels->InfoPanel->Visible());
    EXPECT_EQ(PanelCentre(*m_form->Panels->InfoPanel), kRed);
}

TEST_F(ViewerPanels, MovedPanelComesBackWhereItWasAndDoubleClickCloses) {
    m_form->Panels->ShowPanels[kInfo] = true;
    OpenRed();
    TVekMetaDataLayer& info = *m_form->Panels->InfoPanel;
    ASSERT_TRUE(info.Visible());
    // Dragged by its caption 40 pixels right and 30 down.
    const int x = info.Left() + 30, y = info.Top() + 10;
    QTest::mousePress(m_form->ImgView32, Qt::LeftButton, {}, QPoint(x, y));
    QMouseEvent move(QEvent::MouseMove, QPointF(x + 40, y + 30), QPointF(x + 40, y + 30),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(m_form->ImgView32, &move);
    QTest::mouseRelease(m_form->ImgView32, Qt::LeftButton, {}, QPoint(x + 40, y + 30));
    const TPanelLocation moved = info.Location;
    EXPECT_EQ(info.Left(), x - 30 + 40);

    Restart();
    m_form->resize(800, 600);
    EXPECT_EQ(m_form->Panels->InfoPanel->Location, moved);
    OpenRed();
    TVekMetaDataLayer& again = *m_form->Panels->InfoPanel;
    ASSERT_TRUE(again.Visible());
    QTest::mouseDClick(m_form->ImgView32, Qt::LeftButton, {},
                       QPoint(again.Left() + 30, again.Top() + 10));
    EXPECT_FALSE(again.Visible());
    EXPECT_FALSE(m_form->Panels->ShowPanels[kInfo]);
    Restart();
    EXPECT_FALSE(m_form->Panels->ShowPanels[kInfo]);
}

TEST_F(ViewerPanels, RightClickOffersThePanelsOfThePicture) {
    OpenRed();
    QTest::mouseClick(m_form->ImgView32, Qt::RightButton, {}, QPoint(400, 300));
    ASSERT_TRUE(PumpUntil([&] { return m_form->Actions.ImageTBXPopupMenu->isVisible(); }));
    EXPECT_TRUE(m_form->Panels->ShowHistogramAction->isVisible());
    EXPECT_TRUE(m_form->Panels->ShowCommonInfoAction->isVisible());
    EXPECT_FALSE(m_form->Panels->ShowExifAction->isVisible());
    EXPECT_FALSE(m_form->Panels->ShowCommentAction->isVisible());
    m_form->Panels->ShowHistogramAction->trigger();
    m_form->Actions.ImageTBXPopupMenu->close();
    EXPECT_TRUE(m_form->Panels->ShowPanels[kHistogram]);
    EXPECT_TRUE(m_form->Panels->HistogramPanel->Visible());
}

TEST_F(ViewerPanels, MenuIconsArriveFromTheWorker) {
    ASSERT_TRUE(PumpUntil([&] { return !m_form->Actions.ZoomFitAction->icon().isNull(); }));
    EXPECT_FALSE(m_form->Actions.ExitAction->icon().isNull());
    EXPECT_EQ(m_form->TBXImageList.Size(), 37u);
}

TEST_F(ViewerPanels, TypingReachesTheCommentEditorAfterAClick) {
    m_form->Panels->CommentAvailable = true;
    m_form->Panels->ShowPanels[0] = true;
    OpenRed();
    TVekEditLayer& comment = *m_form->Panels->CommentPanel;
    ASSERT_TRUE(comment.Visible());
    const TRect c = comment.ClientRect();
    QTest::mouseClick(m_form->ImgView32, Qt::LeftButton, {},
                      QPoint((c.Left + c.Right) / 2, (c.Top + c.Bottom) / 2));
    ASSERT_TRUE(comment.Editing());
    QTest::keyClicks(m_form.get(), "ab");
    QTest::keyClick(m_form.get(), Qt::Key_Backspace);
    QTest::keyClicks(m_form.get(), "c");
    EXPECT_EQ(comment.Text(), "ac");
}

TEST_F(ViewerPanels, ToolbarFollowsTheListAndThePicture) {
    struct {
        const char* Name;
        int Files;
        bool Broken;
        bool Stepping, Zooming;
    } const cases[] = {{"one file", 1, false, false, true},
                       {"two files", 2, false, true, true},
                       {"broken file", 2, true, true, false}};
    int n = 0;
    for (const auto& c : cases) {
        const QString first = Path(QString("t%1_0.png").arg(n));
        for (int i = 0; i < c.Files; ++i)
            WritePicture(Path(QString("t%1_%2.png").arg(n).arg(i)), kRed);
        if (c.Broken) QFile(first).resize(10);
        // Each case in a folder of its own.
        QDir().mkpath(Path(QString("case%1").arg(n)));
        for (int i = 0; i < c.Files; ++i) {
            const QString name = QString("t%1_%2.png").arg(n).arg(i);
            QFile::rename(Path(name), Path(QString("case%1/").arg(n) + name));
        }
        m_form->OpenFile(Path(QString("case%1/t%1_0.png").arg(n)));
        ASSERT_TRUE(WaitShown(QString("t%1_0.png").arg(n))) << c.Name;
        const TToolbarLayer& bar = *m_form->Toolbars->MainToolbar;
        for (int i : {0, 1, 2, 9}) EXPECT_EQ(bar.Items(i)->Visible(), c.Stepping) << c.Name << i;
        for (int i : {3, 4, 6, 7}) EXPECT_EQ(bar.Items(i)->Enabled(), c.Zooming) << c.Name << i;
        EXPECT_TRUE(bar.Items(14)->Enabled()) << c.Name << " exit";
        ++n;
    }
}

} // namespace
