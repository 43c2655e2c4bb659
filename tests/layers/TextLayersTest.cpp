#include "layers/VekEditLayer.h"
#include "layers/VekStringListLayer.h"

#include "gfx/Bitmap32.h"
#include "platform/Registry.h"
#include "platform/VirtualKeys.h"

#include <QClipboard>
#include <QGuiApplication>

#include <gtest/gtest.h>

#include <string>

namespace {

const QString kKeyBase = QStringLiteral("Software\\PictrelTextLayersTest\\");

// ---- Metadata lines ---------------------------------------------------------------

struct TSplitCase {
    const char* Name;
    const char* Line;
    TMetaLine Expected;
};

class SplitMetaLineTest : public ::testing::TestWithParam<TSplitCase> {};

TEST_P(SplitMetaLineTest, TakesNameValueAndDescriptionApart) {
    EXPECT_EQ(SplitMetaLine(QString::fromUtf8(GetParam().Line)), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitMetaLineTest,
    ::testing::Values(TSplitCase{"Full",
                                 "Make:Acme;{Maker of the camera}",
                                 {"Make", "Acme", "Maker of the camera"}},
                      TSplitCase{"NoDescription", "Width:640;", {"Width", "640", ""}},
                      TSplitCase{"NoSemicolon", "Width:640", {"Width", "", ""}},
                      TSplitCase{"NoColon", "plain;", {"", "plain", ""}},
                      TSplitCase{"UnclosedDescription", "A:b;{open", {"A", "b", ""}},
                      TSplitCase{"ColonInValue", "Time:12:30;", {"Time", "12:30", ""}},
                      TSplitCase{"Empty", "", {"", "", ""}}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- String list ------------------------------------------------------------------

class StringListFixture : public ::testing::Test {
protected:
    StringListFixture() {
        panel.Location = {0, 0, 200, 127}; // a client area 100 pixels high
        for (int i = 0; i < 30; ++i) lines.append(QStringLiteral("Line %1").arg(i));
        panel.SetLines(lines);
    }

    // Ink (not the panel's own grey) in a row band of the client area.
    static int InkIn(const TBitmap32& b, int top, int bottom) {
        int ink = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 4; x < 190; ++x)
                if (RedOf(b.Pixel(x, y)) < 0x40) ++ink;
        return ink;
    }

    TLayerCollection collection;
    TVekMetaDataLayer panel{collection};
    QStringList lines;
};

TEST_F(StringListFixture, DragScrollsByDistanceAndStopsAtTheLastLine) {
    const int pitch = panel.LineHeight();
    panel.MouseDown(TMouseButton::mbLeft, ssLeft, 100, 60);
    EXPECT_EQ(panel.ScrollAnchor, QPoint(100, 60));
    panel.MouseMove(ssLeft, 100, 67);
    EXPECT_EQ(panel.ScrollSpeed, 7);
    panel.ScrollTimer.Tick();
    EXPECT_EQ(panel.ScrollOffset, 7);
    // Far down: the offset stops where the last line sits at the bottom of the text.
    panel.MouseMove(ssLeft, 100, 120);
    for (int i = 0; i < 100; ++i) panel.ScrollTimer.Tick();
    const int visible = panel.ClientRect().Height() - 4;
    EXPECT_EQ(panel.ScrollOffset, 30 * pitch - visible);
    // Back up past the top: never negative.
    panel.MouseMove(ssLeft, 100, 30);
    for (int i = 0; i < 100; ++i) panel.ScrollTimer.Tick();
    EXPECT_EQ(panel.ScrollOffset, 0);
    panel.MouseUp(TMouseButton::mbLeft, 0, 100, 30);
    EXPECT_FALSE(panel.ScrollTimer.Enabled());
    EXPECT_EQ(panel.ScrollAnchor, QPoint(-1, -1));
}

// Scrolled to the end of a long list, the next picture's short list is shown from its
// top, not scrolled out of sight.
TEST_F(StringListFixture, ShorterLinesBringTheScrollBackIntoRange) {
    panel.ScrollOffset = 25 * panel.LineHeight();
    panel.SetLines({QStringLiteral("A:b;"), QStringLiteral("C:d;")});
    EXPECT_EQ(panel.ScrollOffset, 0);
    panel.ScrollOffset = 25 * panel.LineHeight();
    panel.SetLines(lines);
    EXPECT_EQ(panel.ScrollOffset, 30 * panel.LineHeight() - (panel.ClientRect().Height() - 4));
    panel.ClearLines();
    EXPECT_EQ(panel.ScrollOffset, 0);
}

TEST_F(StringListFixture, ShortListDoesNotScroll) {
    panel.SetLines({QStringLiteral("A:b;")});
    panel.MouseDown(TMouseButton::mbLeft, ssLeft, 100, 60);
    panel.MouseMove(ssLeft, 100, 90);
    panel.ScrollTimer.Tick();
    EXPECT_EQ(panel.ScrollOffset, 0);
}

TEST_F(StringListFixture, TagCommentsWidenTheLineAndTextStaysInTheClient) {
    panel.SetLines({QStringLiteral("Make:Acme;{Maker of the camera}")});
    const auto paint = [&] {
        TBitmap32 buffer(220, 140);
        buffer.Clear(0xFFFFFFFF);
        panel.Paint(buffer);
        return buffer;
    };
    const auto rightmostInk = [](const TBitmap32& b) {
        int right = -1;
        // Inside the border, which is dark itself.
        for (int y = 28; y < 125; ++y)
            for (int x = 3; x < 196; ++x)
                if (RedOf(b.Pixel(x, y)) < 0x40) right = std::max(right, x);
        return right;
    };
    const TBitmap32 plain = paint();
    panel.SetShowTagComments(true);
    const TBitmap32 commented = paint();
    ASSERT_GT(rightmostInk(plain), 10) << "the line drew no text";
    EXPECT_GT(rightmostInk(commented), rightmostInk(plain) + 20);
    // Nothing beyond the panel's right edge.
    for (int y = 0; y < 140; ++y)
        for (int x = 200; x < 220; ++x) ASSERT_EQ(commented.Pixel(x, y), 0xFFFFFFFFu);
}

TEST_F(StringListFixture, ScrolledTextMovesUp) {
    TBitmap32 before(220, 140);
    before.Clear(0xFFFFFFFF);
    panel.Paint(before);
    panel.ScrollOffset = 3 * panel.LineHeight();
    TBitmap32 after(220, 140);
    after.Clear(0xFFFFFFFF);
    panel.Paint(after);
    // The line that was fourth is now first: the top band holds the same ink.
    const int pitch = panel.LineHeight();
    EXPECT_EQ(InkIn(after, 29, 29 + pitch), InkIn(before, 29 + 3 * pitch, 29 + 4 * pitch));
}

TEST_F(StringListFixture, SettingsKeepFontAndTagComments) {
    TVekFont font = panel.TextFont();
    font.SetSize(14);
    font.Italic = true;
    panel.SetTextFont(font);
    panel.SetShowTagComments(true);
    panel.SaveSettings(TRegRoot::rrCurrentUser, kKeyBase + "meta");

    TLayerCollection other;
    TVekMetaDataLayer loaded(other);
    loaded.LoadSettings(TRegRoot::rrCurrentUser, kKeyBase + "meta");
    EXPECT_EQ(loaded.TextFont(), font);
    EXPECT_TRUE(loaded.ShowTagComments());
    EXPECT_EQ(loaded.Location, panel.Location);
}

TEST_F(StringListFixture, UnreadableFontKeepsTheCurrentOne) {
    {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kKeyBase + "badFont", true));
        reg.WriteString("text font", "not a font");
    }
    const TVekFont before = panel.TextFont();
    panel.LoadSettings(TRegRoot::rrCurrentUser, kKeyBase + "badFont");
    EXPECT_EQ(panel.TextFont(), before);
}

// ---- Comment editor ---------------------------------------------------------------

struct TKey {
    std::uint16_t Key; // 0: type Char
    TShiftState Shift;
    char Char;
};

struct TEditCase {
    const char* Name;
    std::vector<TKey> Keys;
    const char* Text;
    int Caret;
    const char* Selected;
};

class EditKeysTest : public ::testing::TestWithParam<TEditCase> {
protected:
    TLayerCollection collection;
    TVekEditLayer edit{collection};
};

TEST_P(EditKeysTest, KeysEditTheText) {
    edit.SetText(QStringLiteral("hello"));
    edit.SetEditing(true);
    edit.CaretPos = 5;
    edit.SelAnchor = edit.SelEnd = 5;
    for (const TKey& k : GetParam().Keys) {
        if (k.Key == 0) {
            QChar c(k.Char);
            edit.KeyPress(c);
        } else {
            std::uint16_t key = k.Key;
            edit.KeyDown(key, k.Shift);
        }
    }
    EXPECT_EQ(edit.Text(), QString::fromLatin1(GetParam().Text));
    EXPECT_EQ(edit.CaretPos, GetParam().Caret);
    EXPECT_EQ(edit.GetSelText(), QString::fromLatin1(GetParam().Selected));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, EditKeysTest,
    ::testing::Values(
        TEditCase{"Type", {{0, 0, '!'}}, "hello!", 6, ""},
        TEditCase{"Backspace", {{vkBack, 0, 0}}, "hell", 4, ""},
        TEditCase{"DeleteAtEndDoesNothing", {{vkDelete, 0, 0}}, "hello", 5, ""},
        TEditCase{"HomeThenDelete", {{vkHome, 0, 0}, {vkDelete, 0, 0}}, "ello", 0, ""},
        TEditCase{
            "ShiftLeftSelects", {{vkLeft, ssShift, 0}, {vkLeft, ssShift, 0}}, "hello", 3, "lo"},
        TEditCase{"TypingReplacesSelection",
                  {{vkLeft, ssShift, 0}, {vkLeft, ssShift, 0}, {0, 0, 'p'}},
                  "help",
                  4,
                  ""},
        TEditCase{"ShiftHomeSelectsAll", {{vkHome, ssShift, 0}}, "hello", 0, "hello"},
        TEditCase{"LeftAtStartStays", {{vkHome, 0, 0}, {vkLeft, 0, 0}}, "hello", 0, ""},
        TEditCase{"RightAtEndStays", {{vkEnd, 0, 0}, {vkRight, 0, 0}}, "hello", 5, ""},
        TEditCase{
            "EscapeRestores", {{vkBack, 0, 0}, {vkBack, 0, 0}, {vkEscape, 0, 0}}, "hello", 3, ""},
        TEditCase{"ReturnKeeps", {{vkBack, 0, 0}, {vkReturn, 0, 0}, {0, 0, 'x'}}, "hell", 4, ""}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(EditLayerTest, NotEditingIgnoresKeys) {
    TLayerCollection collection;
    TVekEditLayer edit(collection);
    edit.SetText(QStringLiteral("abc"));
    std::uint16_t key = vkBack;
    edit.KeyDown(key, 0);
    QChar c('x');
    edit.KeyPress(c);
    EXPECT_EQ(edit.Text(), "abc");
}

TEST(EditLayerTest, LineBreaksBecomeBlanks) {
    EXPECT_EQ(LineBreaksToBlanks(QStringLiteral("a\n\rb\nc\rd\r\ne")), "a b c d  e");
}

TEST(EditLayerTest, ClipboardCutAndLimitedPaste) {
    if (qGuiApp == nullptr) GTEST_SKIP() << "needs a GUI application for the clipboard";
    TLayerCollection collection;
    TVekEditLayer edit(collection);
    edit.SetText(QStringLiteral("one two"));
    edit.SetEditing(true);
    edit.SelAnchor = 0;
    edit.SelEnd = edit.CaretPos = 4;
    edit.CutToClipboard();
    EXPECT_EQ(edit.Text(), "two");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "one ");
    EXPECT_TRUE(edit.CanPaste());

    edit.CaretPos = 3;
    edit.SelAnchor = edit.SelEnd = 3;
    QGuiApplication::clipboard()->setText(QStringLiteral("x\ny") + QString(300, u'z'));
    edit.PasteFromClipboard();
    EXPECT_EQ(edit.Text().size(), 3 + 254);
    EXPECT_TRUE(edit.Text().startsWith(QStringLiteral("twox y")));
    EXPECT_EQ(edit.CaretPos, 3 + 254);
}

TEST(EditLayerTest, ClickPlacesCaretAndStartsEditing) {
    TLayerCollection collection;
    TVekEditLayer edit(collection);
    edit.SetWidth(300);
    edit.SetText(QStringLiteral("abcdef"));
    const TRect client = edit.ClientRect();
    edit.MouseDown(TMouseButton::mbLeft, ssLeft, client.Left + 1, client.Top + 5);
    EXPECT_TRUE(edit.Editing());
    EXPECT_EQ(edit.CaretPos, 0);
    edit.MouseMove(ssLeft, client.Right - 1, client.Top + 5);
    EXPECT_EQ(edit.GetSelText(), "abcdef");
}

TEST(EditLayerTest, PlaceholderShowsOnlyWhileEmptyAndIdle) {
    TLayerCollection collection;
    TVekEditLayer edit(collection);
    edit.SetWidth(300);
    const auto ink = [&] {
        // On black: the band is faint there, the grey placeholder bright.
        TBitmap32 buffer(300, edit.Height());
        buffer.Clear(0xFF000000);
        edit.Paint(buffer);
        int n = 0;
        for (int y = 0; y < buffer.Height(); ++y)
            for (int x = 0; x < 300; ++x)
                if (RedOf(buffer.Pixel(x, y)) > 0x80) ++n;
        return n;
    };
    EXPECT_GT(ink(), 20) << "\"Please enter comment\" is drawn";
    edit.SetEditing(true);
    EXPECT_LT(ink(), 5);
}

} // namespace
