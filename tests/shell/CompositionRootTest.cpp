// The composition root's wiring: what one window asks through its port reaches the
// other window, and a window the run lacks leaves its command disabled.

#include "shell/CompositionRoot.h"

#include "app/FileHelpers.h"
#include "authoring/FormVekWizard.h"
#include "common/TestSupport.h"
#include "settings/FormVekSettings.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"
#include "viewer/ViewerFixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QTemporaryDir>

#include <memory>

namespace {

using pictrel::test::PumpUntil;
using pictrel::test::WritePicture;

class CompositionRoot : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        WritePicture(Path("a.png"), qRgb(255, 0, 0));
        WritePicture(Path("b.png"), qRgb(0, 0, 255));
    }
    void TearDown() override { m_root.reset(); }

    QString Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    // The viewer shown on a.png of the folder, its listing in.
    TMainForm& ViewerOnA() {
        TMainForm& viewer = m_root->MakeViewer();
        viewer.resize(400, 300);
        viewer.show();
        viewer.OpenFile(Path("a.png"));
        EXPECT_TRUE(PumpUntil([&] { return Settled(viewer, "a.png"); }, 20000));
        return viewer;
    }
    static bool Settled(const TMainForm& viewer, const char* name) {
        return viewer.ImageLoaded && !viewer.ShowOnLoad && !viewer.Listing() &&
               viewer.windowTitle() == QString::fromLatin1(name) + QStringLiteral(" - Pictrel");
    }

    QTemporaryDir m_dir;
    std::unique_ptr<TCompositionRoot> m_root = std::make_unique<TCompositionRoot>();
};

TEST_F(CompositionRoot, TheViewersCommandsFollowTheWindowsOfTheRunInAnyOrder) {
    TMainForm& viewer = ViewerOnA();
    EXPECT_FALSE(viewer.Actions.SettingsAction->isEnabled());
    EXPECT_FALSE(viewer.Actions.SlideShowAction->isEnabled());
    EXPECT_FALSE(viewer.Actions.WizardSlideShowAction->isEnabled());
    m_root->MakeSettings();
    EXPECT_TRUE(viewer.Actions.SettingsAction->isEnabled());
    EXPECT_FALSE(viewer.Actions.WizardSlideShowAction->isEnabled());
    m_root->MakeWizard();
    EXPECT_TRUE(viewer.Actions.WizardSlideShowAction->isEnabled());
    EXPECT_FALSE(viewer.Actions.SlideShowAction->isEnabled());
    m_root->MakeSlideShow();
    EXPECT_TRUE(viewer.Actions.SlideShowAction->isEnabled());
}

TEST_F(CompositionRoot, TheViewersFolderIsWhatALaterSlideshowPlays) {
    ViewerOnA();
    EXPECT_EQ(m_root->Slideshow().ImageList, QStringList{FolderOf(Path("a.png"))});
}

TEST_F(CompositionRoot, TheShowsReturnToTheViewerShowsItsPictureThere) {
    TMainForm& viewer = ViewerOnA();
    TSlideShowForm& show = m_root->MakeSlideShow();
    ASSERT_TRUE(show.ReturnToViewer);
    show.ReturnToViewer(Path("b.png"), 1);
    EXPECT_TRUE(PumpUntil([&] { return Settled(viewer, "b.png"); }, 20000));
    EXPECT_EQ(show.RotationOf(Path("b.png")), 0);
    EXPECT_EQ(show.Icons(), &viewer.TBXImageList);
}

TEST_F(CompositionRoot, TheViewersSlideshowCommandStartsTheShowFromItsPicture) {
    TMainForm& viewer = ViewerOnA();
    TSlideShowForm& show = m_root->MakeSlideShow();
    m_root->Slideshow().Delay = 600000; // nothing moves on by itself
    ASSERT_TRUE(viewer.Actions.SlideShowAction->isEnabled());
    viewer.Actions.SlideShowAction->trigger();
    EXPECT_TRUE(show.isVisible());
    EXPECT_FALSE(show.StartedFromWizard);
    EXPECT_FALSE(viewer.ImageLoaded) << "the picture went to the show";
    show.hide();
}

TEST_F(CompositionRoot, TheWizardsFinishPlaysTheShow) {
    TWizardForm& wizard = m_root->MakeWizard();
    ASSERT_FALSE(wizard.PlaySlideShow) << "no show in this run yet";
    TSlideShowForm& show = m_root->MakeSlideShow();
    m_root->Slideshow().Delay = 600000;
    wizard.show();
    wizard.Finish();
    EXPECT_TRUE(show.isVisible());
    EXPECT_TRUE(show.StartedFromWizard);
    EXPECT_FALSE(wizard.isVisible());
    show.hide();
}

TEST_F(CompositionRoot, AWizardOpenedFromTheViewerShowsTheViewerWhenItCloses) {
    TMainForm& viewer = ViewerOnA();
    TWizardForm& wizard = m_root->MakeWizard();
    ASSERT_TRUE(viewer.Actions.WizardSlideShowAction->isEnabled());
    viewer.Actions.WizardSlideShowAction->trigger();
    EXPECT_TRUE(wizard.isVisible());
    EXPECT_FALSE(viewer.isVisible());
    wizard.close();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(wizard.ReturnToViewer);
}

TEST_F(CompositionRoot, TheWindowsShareTheRootsDescription) {
    TSettingsForm& settings = m_root->MakeSettings();
    TWizardForm& wizard = m_root->MakeWizard();
    m_root->Slideshow().Delay = 7000;
    settings.PrepareControls({});
    EXPECT_EQ(settings.DelaySeconds(), 7);
    wizard.FillPages();
    TVekSettingsFile collected;
    wizard.CollectPages(collected);
    EXPECT_EQ(collected.Delay, 7000);
}

TEST_F(CompositionRoot, ClearedRootReachesNoWindow) {
    TMainForm& viewer = ViewerOnA();
    TSlideShowForm& show = m_root->MakeSlideShow();
    auto returnToViewer = show.ReturnToViewer;
    m_root->Clear();
    EXPECT_EQ(m_root->Viewer(), nullptr);
    returnToViewer(Path("b.png"), 1);
    // Neither shown nor being decoded: a port after Clear does nothing.
    EXPECT_EQ(viewer.Navigator().Shown(), Path("a.png"));
    EXPECT_TRUE(viewer.Navigator().Target().isEmpty());
}

} // namespace
