#include "app/VekFont.h"

#include <gtest/gtest.h>

namespace {

TVekFont Tahoma() {
    TVekFont font;
    font.Name = "Tahoma";
    font.Color = -16777208;
    font.SetHeight(-13);
    font.Orientation = 0;
    font.Charset = 1;
    return font;
}

TEST(FontToText, WritesTheItemsInOrder) {
    TVekFont font = Tahoma();
    font.Bold = true;
    EXPECT_EQ(FontToText(font), "Family=Tahoma;Color=-16777208;Height=-13;Orientation=0;"
                                "Charset=1;Size=10;\"Style=Bold \"");
    font.Bold = false;
    EXPECT_EQ(FontToText(font),
              "Family=Tahoma;Color=-16777208;Height=-13;Orientation=0;Charset=1;Size=10");
}

TEST(FontToText, StyleWordsInTheirOrder) {
    TVekFont font = Tahoma();
    font.Bold = font.Italic = font.Underline = font.StrikeOut = true;
    EXPECT_TRUE(FontToText(font).endsWith("\"Style=Bold Underline Italic Strikeout \""));
}

TEST(TextToFont, FaceNameWithSpacesRoundTrips) {
    TVekFont font = Tahoma();
    font.Name = "Times New Roman";
    const QString text = FontToText(font);
    EXPECT_TRUE(text.startsWith("\"Family=Times New Roman\";")) << text.toStdString();
    const auto back = TextToFont(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Name, "Times New Roman");
    EXPECT_EQ(*back, font);
}

TEST(TextToFont, BoldItalicRoundTrips) {
    TVekFont font = Tahoma();
    font.Bold = font.Italic = true;
    const QString text = FontToText(font);
    EXPECT_TRUE(text.endsWith("\"Style=Bold Italic \""));
    const auto back = TextToFont(text);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->Bold);
    EXPECT_TRUE(back->Italic);
    EXPECT_FALSE(back->Underline);
    EXPECT_FALSE(back->StrikeOut);
}

TEST(TextToFont, QuotesAndSeparatorsInTheFaceName) {
    TVekFont font = Tahoma();
    font.Name = "Odd \"Face\"; Name";
    const auto back = TextToFont(FontToText(font));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->Name, font.Name);
}

TEST(TextToFont, SizeDecidesTheHeight) {
    const auto font =
        TextToFont("Family=Arial;Color=0;Height=-99;Orientation=900;Charset=0;Size=12");
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(font->Height(), -16);
    EXPECT_EQ(font->Orientation, 900);
}

TEST(TextToFont, ColourIsNarrowedTo32Bits) {
    const auto font =
        TextToFont("Family=A;Color=4294967295;Height=-13;Orientation=0;Charset=1;Size=10");
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(font->Color, -1);
}

struct TBadText {
    const char* Name;
    const char* Text;
};

class TextToFontBadTest : public ::testing::TestWithParam<TBadText> {};

TEST_P(TextToFontBadTest, KeepsTheCurrentFont) {
    EXPECT_FALSE(TextToFont(GetParam().Text));
}

INSTANTIATE_TEST_SUITE_P(
    Items, TextToFontBadTest,
    ::testing::Values(
        TBadText{"Empty", ""},
        TBadText{"MissingSize", "Family=A;Color=0;Height=-13;Orientation=0;Charset=1"},
        TBadText{"MissingFamily", "Color=0;Height=-13;Orientation=0;Charset=1;Size=10"},
        TBadText{"NonNumericColor",
                 "Family=A;Color=red;Height=-13;Orientation=0;Charset=1;Size=10"},
        TBadText{"EmptyHeight", "Family=A;Color=0;Height=;Orientation=0;Charset=1;Size=10"},
        TBadText{"CharsetTooBig", "Family=A;Color=0;Height=-13;Orientation=0;Charset=256;Size=10"},
        TBadText{"HugeSize",
                 "Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=99999999999"},
        // In 32 bits, but the height at 96 pixels per inch is not.
        TBadText{"LargestSize",
                 "Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=2147483647"},
        TBadText{"SmallestSize",
                 "Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=-2147483648"},
        TBadText{"FirstOverflowingSize",
                 "Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=1610612736"},
        TBadText{"UnclosedQuote", "\"Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=10"},
        TBadText{"Nonsense", ";;;===\"\"\"  ;"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TSizeCase {
    const char* Name;
    const char* Size;
    int PixelsPerInch;
    std::int32_t Height;
};

class TextToFontSizeTest : public ::testing::TestWithParam<TSizeCase> {};

// The largest sizes whose height still fits keep their exact height; only the ones
// past it are refused (above).
TEST_P(TextToFontSizeTest, HeightFollowsTheSize) {
    const auto font = TextToFont(
        QString("Family=A;Color=0;Height=-13;Orientation=0;Charset=1;Size=") + GetParam().Size,
        GetParam().PixelsPerInch);
    ASSERT_TRUE(font.has_value());
    EXPECT_EQ(font->Height(), GetParam().Height);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, TextToFontSizeTest,
    ::testing::Values(TSizeCase{"LargestThatFits", "1610612735", 96, -2147483647},
                      TSizeCase{"SmallestThatFits", "-1610612735", 96, 2147483647},
                      TSizeCase{"MinusOneIsNoOverflow", "-1", 72, 1},
                      TSizeCase{"LargestAtLowResolution", "2147483647", 72, -2147483647}),
    [](const auto& info) { return std::string(info.param.Name); });

} // namespace
