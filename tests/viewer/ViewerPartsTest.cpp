// The viewer window's parts on their own: the actions and their keys, the toolbars by
// name, the panel set's rule for what is shown, simple mode's frame, the menu icons.

#include "app/DialogStoreValues.h"
#include "app/ViewerStoreValues.h"
#include "common/TestSupport.h"
#include "gfx/Bitmap32.h"
#include "gfx/Layers.h"
#include "layers/MenuIcons.h"
#include "layers/VekAdditionalLayers.h"
#include "layers/VekEditLayer.h"
#include "layers/VekStringListLayer.h"
#include "viewer/FormViewerActions.h"
#include "viewer/FormViewerPanels.h"
#include "viewer/FormViewerSimpleMode.h"
#include "viewer/FormViewerToolbars.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QKeyEvent>
#include <QWidget>

#include <map>

namespace {

using pictrel::test::PumpUntil;

// The actions of a bare window, each counting its runs.
class ViewerActionsPart : public testing::Test {
protected:
    void SetUp() override {
        m_actions.ApplyShortcuts(TDialogStoreValues());
        for (QAction* a : m_window.findChildren<QAction*>())
            QObject::connect(a, &QAction::triggered, [this, a] { ++m_runs[a]; });
    }
    bool Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool typing = false) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        return m_actions.KeyPress(event, typing);
    }
    bool Release(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyRelease, key, modifiers);
        return m_actions.KeyRelease(event);
    }

    QWidget m_window;
    TMenuIcons m_icons;
    TViewerActions m_actions{m_window, m_icons};
    std::map<QAction*, int> m_runs;
};

TEST_F(ViewerActionsPart, KeysRunTheirCommandsOnlyWhenRunnable) {
    struct TCase {
        const char* Name;
        int Key;
        Qt::KeyboardModifiers Modifiers;
        QAction* TViewerActions::*Action;
    };
    const TCase cases[] = {
        {"right arrow", Qt::Key_Right, Qt::NoModifier, &TViewerActions::NextAction},
        {"space", Qt::Key_Space, Qt::NoModifier, &TViewerActions::PreviousAction},
        {"page down", Qt::Key_PageDown, Qt::NoModifier, &TViewerActions::NextPageAction},
        {"delete", Qt::Key_Delete, Qt::NoModifier, &TViewerActions::DeleteAction},
        {"ctrl+o", Qt::Key_O, Qt::ControlModifier, &TViewerActions::OpenAction},
        {"f", Qt::Key_F, Qt::NoModifier, &TViewerActions::ZoomFitAction},
    };
    for (const TCase& c : cases) {
        QAction* action = m_actions.*c.Action;
        m_runs.clear();
        EXPECT_TRUE(Press(c.Key, c.Modifiers)) << c.Name;
        EXPECT_EQ(m_runs[action], 1) << c.Name;
        EXPECT_FALSE(Press(c.Key, c.Modifiers, /*typing=*/true)) << c.Name << ": text while typing";
        action->setEnabled(false);
        EXPECT_TRUE(Press(c.Key, c.Modifiers)) << c.Name << ": taken, but not run";
        action->setEnabled(true);
        action->setVisible(false);
        Press(c.Key, c.Modifiers);
        action->setVisible(true);
        EXPECT_EQ(m_runs[action], 1) << c.Name << ": neither disabled nor hidden runs";
    }
    EXPECT_FALSE(Press(Qt::Key_Q)) << "a key of no command is left to the layers";
}

TEST_F(ViewerActionsPart, ALoneModifierRunsWhenItComesUpAlone) {
    // Left Shift turns left when released with no other key pressed meanwhile.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier, 50, 0xffe1, 0);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Shift, Qt::NoModifier, 50, 0xffe1, 0);
    EXPECT_TRUE(m_actions.KeyPress(down, false));
    EXPECT_EQ(m_runs[m_actions.RotateLeftAction], 0) << "not on the press";
    EXPECT_TRUE(m_actions.KeyRelease(up));
    EXPECT_EQ(m_runs[m_actions.RotateLeftAction], 1);

    EXPECT_TRUE(m_actions.KeyPress(down, false));
    Press(Qt::Key_A, Qt::ShiftModifier);
    EXPECT_FALSE(m_actions.KeyRelease(up)) << "Shift held for another key does not turn";
    EXPECT_EQ(m_runs[m_actions.RotateLeftAction], 1);
}

TEST_F(ViewerActionsPart, SimpleModeTakesZoomAndStepsAndRenamesItsCommand) {
    m_actions.SetSimpleMode(true);
    for (QAction* a : {m_actions.ZoomFitAction, m_actions.ZoomRealAction, m_actions.NextAction,
                       m_actions.PreviousAction, m_actions.ZoomInAction, m_actions.ZoomOutAction})
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    EXPECT_EQ(m_actions.SimpleModeAction->text(), "Normal mode");
    m_actions.SetSimpleMode(false);
    EXPECT_TRUE(m_actions.NextAction->isEnabled());
    EXPECT_EQ(m_actions.SimpleModeAction->text(), "Simple mode");
}

TEST_F(ViewerActionsPart, CommandsOnTheShownFileWaitForItToBeTheCurrentOne) {
    TViewerActions::TState state;
    state.ImageLoaded = true;
    state.ShownIsCurrent = false;
    m_actions.Update(state);
    for (QAction* a : {m_actions.DeleteAction, m_actions.PrintAction, m_actions.OpenEditAction}) {
        EXPECT_TRUE(a->isVisible()) << a->text().toStdString();
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    }
    state.ShownIsCurrent = true;
    state.SettingWallpaper = true;
    m_actions.Update(state);
    EXPECT_TRUE(m_actions.DeleteAction->isEnabled());
    EXPECT_FALSE(m_actions.TileWallpaperAction->isEnabled()) << "one wallpaper at a time";
}

TEST(ViewerToolbarsPart, ButtonsByNameFollowTheWindowsState) {
    QWidget window;
    TMenuIcons icons;
    TViewerActions actions(window, icons);
    TLayerCollection layers;
    TViewerToolbars bars(
        layers, window, actions, [] { return true; }, [](int) {});
    using B = TViewerToolbars::TButton;
    struct TCase {
        bool Several, Loaded;
    };
    for (const TCase c : {TCase{false, false}, TCase{true, false}, TCase{true, true}}) {
        bars.Update({c.Several, c.Loaded, false, false});
        for (B b : {B::Back, B::Next, B::SlideShow})
            EXPECT_EQ(bars.Button(b)->Visible(), c.Several) << c.Several << c.Loaded;
        for (B b : {B::FitWidth, B::ActualSize, B::RotateLeft, B::RotateRight})
            EXPECT_EQ(bars.Button(b)->Enabled(), c.Loaded) << c.Several << c.Loaded;
        EXPECT_TRUE(bars.Button(B::Exit)->Visible());
    }
    actions.SettingsAction->setEnabled(true);
    bars.Update({true, true, false, false});
    EXPECT_TRUE(bars.Button(B::Settings)->Enabled());
    EXPECT_FALSE(bars.Button(B::Wizard)->Enabled()) << "no wizard in this run";
    EXPECT_EQ(bars.Button(B::Exit)->Hint, "Exit");
    EXPECT_EQ(bars.Button(B::RotateRight)->Hint, "Rotate right");

    // Pages: the number, the commands at the ends, the bar not in simple mode.
    bars.ShowPageNumber(0, 3, {true, true, true, false});
    EXPECT_EQ(bars.PageLabel, "1");
    EXPECT_FALSE(actions.PrevPageAction->isEnabled());
    EXPECT_TRUE(actions.NextPageAction->isEnabled());
    EXPECT_TRUE(bars.PagesToolbar->Visible());
    bars.ShowPageNumber(2, 3, {true, true, true, true});
    EXPECT_FALSE(actions.NextPageAction->isEnabled());
    EXPECT_FALSE(bars.PagesToolbar->Visible());
}

TEST(ViewerPanelSetPart, APanelShowsWhenWantedWithAPictureAndSomethingToShow) {
    QWidget window;
    TMenuIcons icons;
    TLayerCollection layers;
    int changes = 0;
    TViewerPanelSet panels(layers, window, icons, {nullptr, [&] { ++changes; }, nullptr});
    TBitmap32 picture;
    picture.SetSize(8, 8);
    constexpr int kExif = 2, kInfo = 6, kComment = 0;
    struct TCase {
        const char* Name;
        int Panel;
        bool Wanted, Shown, HasContent;
    };
    const TCase cases[] = {
        {"information with lines", kInfo, true, true, true},
        {"information not wanted", kInfo, false, true, true},
        {"information in simple mode", kInfo, true, false, true},
        {"information without lines", kInfo, true, true, false},
        {"EXIF with lines", kExif, true, true, true},
        {"comment with one", kComment, true, true, true},
        {"comment without one", kComment, true, true, false},
    };
    for (const TCase& c : cases) {
        panels.ShowPanels = {};
        panels.ShowPanels[std::size_t(c.Panel)] = c.Wanted;
        panels.CommentAvailable = c.HasContent;
        const QStringList lines = c.HasContent ? QStringList{"Width=8"} : QStringList();
        panels.SetLines({lines, {}, {}, {}, lines}, true);
        panels.Update(c.Shown, 800, 600, picture);
        const bool expected = c.Wanted && c.Shown && c.HasContent;
        EXPECT_EQ(panels.Panel(c.Panel)->Visible(), expected) << c.Name;
        panels.UpdateActions(c.Shown);
        const QAction* entry = c.Panel == kInfo   ? panels.ShowCommonInfoAction
                               : c.Panel == kExif ? panels.ShowExifAction
                                                  : panels.ShowCommentAction;
        EXPECT_EQ(entry->isChecked(), c.Wanted) << c.Name;
    }
    // A panel that comes into view is pulled inside it.
    panels.ShowPanels[kInfo] = true;
    panels.SetLines({QStringList(), {}, {}, {}, QStringList{"Width=8"}}, true);
    panels.InfoPanel->SetVisible(false);
    panels.InfoPanel->SetLeft(5000);
    panels.Update(true, 800, 600, picture);
    EXPECT_EQ(panels.InfoPanel->Left() + panels.InfoPanel->Width(), 800);
    // Closing it forgets the wish and tells the window.
    panels.PanelClosed(*panels.InfoPanel);
    EXPECT_FALSE(panels.ShowPanels[kInfo]);
    EXPECT_EQ(changes, 1);
}

TEST(ViewerSimpleModePart, TheDialogsValuesAreTakenOnlyWhenUsable) {
    QWidget window;
    TViewerSimpleMode simple(window);
    simple.SimpleWidth = 200;
    simple.SimpleHeight = 150;
    struct TCase {
        int Blend, Width, Height, WantBlend, WantWidth, WantHeight;
    };
    for (const TCase c : {TCase{300, 320, 240, 255, 320, 240}, TCase{-5, 0, -1, 0, 320, 240},
                          TCase{128, 100, 0, 128, 100, 240}}) {
        simple.TakeSettings(c.Blend, c.Width, c.Height);
        EXPECT_EQ(simple.SimpleBlend, c.WantBlend);
        EXPECT_EQ(simple.SimpleWidth, c.WantWidth);
        EXPECT_EQ(simple.SimpleHeight, c.WantHeight);
    }
}

TEST(ViewerSimpleModePart, TheStoreKeepsTheNormalWindowsPlaceWhileTheFrameLasts) {
    QWidget window;
    TViewerSimpleMode simple(window);
    TViewerStoreValues stored = TViewerStoreValues::Defaults(1280, 800);
    stored.Left = 40;
    stored.Top = 30;
    stored.Width = 500;
    stored.Height = 400;
    stored.SimpleLeft = 700;
    stored.SimpleTop = 20;
    stored.SimpleWidth = 160;
    stored.SimpleHeight = 120;
    stored.SimpleBlend = 200;
    simple.Load(stored);
    window.show();
    ASSERT_TRUE(PumpUntil([&] { return window.isVisible(); }));
    window.hide();
    simple.Enter();
    window.show();
    EXPECT_EQ(window.size(), QSize(160, 120));
    EXPECT_NEAR(window.windowOpacity(), 200 / 255.0, 0.01);

    TViewerStoreValues v = TViewerStoreValues::Defaults(1280, 800);
    simple.Store(v);
    EXPECT_EQ(QSize(v.Width, v.Height), QSize(500, 400)) << "the normal window's, not the frame's";
    EXPECT_EQ(v.SimpleWidth, 160);
    EXPECT_EQ(v.SimpleBlend, 200);

    window.hide();
    simple.Leave();
    EXPECT_FALSE(simple.SimpleMode);
    EXPECT_EQ(window.size(), QSize(500, 400));
    EXPECT_DOUBLE_EQ(window.windowOpacity(), 1.0);
}

TEST(MenuIcons, AttachedActionsGetTheirIconsByNameOnceLoaded) {
    TMenuIcons icons;
    QAction early(QStringLiteral("early"));
    icons.Attach(&early, "Print");
    auto gone = std::make_unique<QAction>(QStringLiteral("gone"));
    icons.Attach(gone.get(), "Exit");
    gone.reset(); // an action destroyed before the icons arrive is skipped
    EXPECT_TRUE(icons.Icon("Print").isNull()) << "nothing before loading";
    icons.Load();
    ASSERT_TRUE(PumpUntil([&] { return icons.Loaded(); }));
    EXPECT_EQ(icons.Size(), TMenuIcons::Names().size());
    EXPECT_FALSE(early.icon().isNull());
    EXPECT_FALSE(icons.Icon("Play").isNull());
    EXPECT_TRUE(icons.Icon("NoSuchIcon").isNull());
    QAction late(QStringLiteral("late"));
    icons.Attach(&late, "Play");
    EXPECT_FALSE(late.icon().isNull()) << "attached after loading: at once";
}

} // namespace
