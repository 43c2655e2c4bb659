#include "app/DialogStoreValues.h"
#include "app/PanelStoreValues.h"
#include "app/SlideshowStoreValues.h"
#include "app/VekFont.h"
#include "app/ViewerStoreValues.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

namespace {

// Each test process has a private store; the other tests' values go first.
TEST(StoreValues, EmptyStoreGivesTheDefaults) {
    {
        TRegistry reg;
        reg.DeleteKey("\\software\\Brommel\\Pictrel\\Settings");
    }
    const TViewerStoreValues viewer = TViewerStoreValues::Load(1920, 1080);
    EXPECT_EQ(viewer.Left, 10);
    EXPECT_EQ(viewer.Top, 10);
    EXPECT_EQ(viewer.Width, 800);
    EXPECT_EQ(viewer.Height, 600);
    EXPECT_EQ(viewer.WindowState, 0);
    EXPECT_EQ(viewer.SimpleWidth, 240);
    EXPECT_EQ(viewer.SimpleHeight, 135);
    EXPECT_EQ(viewer.SimpleLeft, 1920 - 240 - 1);
    EXPECT_EQ(viewer.SimpleTop, 1080 - 135 - 1);
    EXPECT_EQ(viewer.SimpleBlend, 200);
    for (bool visible : viewer.LayerVisible) EXPECT_FALSE(visible);

    const TDialogStoreValues dialog = TDialogStoreValues::Load();
    EXPECT_EQ(dialog.ShortcutLeft, 37);
    EXPECT_EQ(dialog.ShortcutRight, 39);
    EXPECT_EQ(dialog.ShortcutLeft2, 32);
    EXPECT_EQ(dialog.ShortcutRight2, 8);
    EXPECT_EQ(dialog.ShortcutFitToPage, 70);
    EXPECT_EQ(dialog.ShortcutActual, 82);
    EXPECT_EQ(dialog.ShortcutRotateLeft, 160);
    EXPECT_EQ(dialog.ShortcutRotateRight, 161);
    EXPECT_EQ(dialog.ShortcutZoomIn, 107);
    EXPECT_EQ(dialog.ShortcutZoomOut, 109);
    EXPECT_EQ(dialog.ShortcutPlayPause, 43);
    EXPECT_EQ(dialog.ShortcutSlideshowExit, 27);
    EXPECT_EQ(dialog.ShortcutSimpleMode, 16467);
    EXPECT_EQ(dialog.FilterKind, 2);
    EXPECT_EQ(dialog.BackgroundColor, 0xFF000000u);
    EXPECT_FALSE(dialog.UseBackgroundColor);
    EXPECT_TRUE(dialog.ShowFrame);
    EXPECT_TRUE(dialog.BigIcons);
    EXPECT_TRUE(dialog.ExifOrientation);
    EXPECT_FALSE(dialog.DeleteToTrash);

    const TSlideshowStoreValues slideshow = TSlideshowStoreValues::Load();
    EXPECT_EQ(slideshow.Delay, 5000);
    EXPECT_FALSE(slideshow.Effect.has_value());
    EXPECT_FALSE(slideshow.MusicShuffle);
    EXPECT_FALSE(slideshow.MusicRepeatAll);

    const TPanelStoreValues panel = TPanelStoreValues::Load(layout::TPanel::pnExif);
    EXPECT_FALSE(panel.Left.has_value());
    EXPECT_FALSE(panel.TextFont.has_value());
    // Reading created the keys.
    TRegistry reg;
    EXPECT_TRUE(reg.KeyExists("software\\Brommel\\Pictrel\\Settings\\m_pExifLayer"));
}

TEST(StoreValues, ViewerValuesRoundTripUnderTheirNames) {
    TViewerStoreValues values = TViewerStoreValues::Defaults(1000, 800);
    values.Width = 1024;
    values.WindowState = 2;
    values.SimpleBlend = 77;
    values.LayerVisible[1] = true;
    values.Save();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("software\\Brommel\\Pictrel\\Settings", false));
    EXPECT_EQ(reg.ReadInteger("MainForm.width"), 1024);
    EXPECT_EQ(reg.ReadInteger("MainForm.window state"), 2);
    EXPECT_EQ(reg.ReadInteger("simple mode.blend"), 77);
    EXPECT_EQ(reg.ReadBool("m_pHistrogramLayerlayer visible"), true);
    EXPECT_EQ(reg.ReadBool("m_pCommentLayerlayer visible"), false);
    const TViewerStoreValues back = TViewerStoreValues::Load(1000, 800);
    EXPECT_EQ(back.Width, 1024);
    EXPECT_EQ(back.WindowState, 2);
    EXPECT_TRUE(back.LayerVisible[1]);
}

TEST(StoreValues, OddStoredValuesFallBackToDefaults) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("software\\Brommel\\Pictrel\\Settings", true));
    reg.WriteInteger("MainForm.window state", 7);
    reg.WriteString("MainForm.width", "wide");
    reg.WriteInteger("filter name", 9);
    reg.WriteInteger("Shortcut left", -5);
    reg.WriteInteger("Shortcut right", 0x6050);
    reg.WriteInteger("Background color", -1);
    reg.WriteInteger("Shortcut zoom in", 0x1FFFF);
    reg.WriteString("Exif orientation", "no");
    reg.CloseKey();
    const TViewerStoreValues viewer = TViewerStoreValues::Load(800, 600);
    EXPECT_EQ(viewer.WindowState, 0);
    EXPECT_EQ(viewer.Width, 800);
    const TDialogStoreValues dialog = TDialogStoreValues::Load();
    EXPECT_EQ(dialog.FilterKind, 2);
    EXPECT_EQ(dialog.ShortcutLeft, 37);
    EXPECT_EQ(dialog.ShortcutRight, 0x6050);
    EXPECT_EQ(dialog.BackgroundColor, 0xFFFFFFFFu);
    EXPECT_EQ(dialog.ShortcutZoomIn, 107);
    EXPECT_TRUE(dialog.ExifOrientation);

    // A colour nobody could see is not a background.
    ASSERT_TRUE(reg.OpenKey("software\\Brommel\\Pictrel\\Settings", false));
    reg.WriteInteger("Background color", 0x00123456);
    reg.CloseKey();
    EXPECT_EQ(TDialogStoreValues::Load().BackgroundColor, 0xFF000000u);
}

struct TFilterCase {
    const char* Name;
    int Kind;
    int Stored;
    int ReadBack;
};

class FilterNameTest : public ::testing::TestWithParam<TFilterCase> {};

TEST_P(FilterNameTest, KindStoresAndReadsBack) {
    EXPECT_EQ(TDialogStoreValues::StoredFromFilterKind(GetParam().Kind), GetParam().Stored);
    EXPECT_EQ(TDialogStoreValues::FilterKindFromStored(GetParam().Stored), GetParam().ReadBack);
}

INSTANTIATE_TEST_SUITE_P(Kinds, FilterNameTest,
                         ::testing::Values(TFilterCase{"Nearest", 0, 0, 0},
                                           TFilterCase{"Draft", 1, 0, 0},
                                           TFilterCase{"Linear", 2, 1, 2},
                                           TFilterCase{"Mitchell", 3, 1, 2},
                                           TFilterCase{"Bicubic", 4, 2, 4}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(StoreValues, PanelValuesAreFloatsAndAFont) {
    TPanelStoreValues values;
    values.Left = 12.5;
    values.Right = 212.25;
    values.Bottom = 300;
    values.Top = 100;
    TVekFont font;
    font.Name = "Times New Roman";
    values.TextFont = FontToText(font);
    values.ShowComment = true;
    values.Save(layout::TPanel::pnGeoTiff);
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("software\\Brommel\\Pictrel\\Settings\\m_pGeoTIFFLayer", false));
    EXPECT_EQ(reg.GetDataType("left"), TRegDataType::rdBinary);
    EXPECT_EQ(reg.GetValueNames(),
              (QStringList{"left", "right", "bottom", "top", "text font", "show comment"}));
    const TPanelStoreValues back = TPanelStoreValues::Load(layout::TPanel::pnGeoTiff);
    EXPECT_EQ(back.Right, 212.25);
    ASSERT_TRUE(back.TextFont.has_value());
    EXPECT_EQ(TextToFont(*back.TextFont)->Name, "Times New Roman");
    EXPECT_FALSE(back.ShowRed.has_value());
}

TEST(StoreValues, SlideshowValuesRoundTrip) {
    TSlideshowStoreValues values;
    values.Delay = 1500;
    values.Effect = "Blend";
    values.MusicRepeatAll = true;
    values.Save();
    const TSlideshowStoreValues back = TSlideshowStoreValues::Load();
    EXPECT_EQ(back.Delay, 1500);
    EXPECT_EQ(back.Effect, QString("Blend"));
    EXPECT_TRUE(back.MusicRepeatAll);
    EXPECT_FALSE(back.MusicShuffle);
}

} // namespace
