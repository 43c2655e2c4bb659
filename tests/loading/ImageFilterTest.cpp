#include "loading/ImageFilter.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {

struct FilterCase {
    const char* name;
    bool freeImage, secondary, raw;
};

class ImageFilterTest : public ::testing::TestWithParam<FilterCase> {
protected:
    QString Extensions() const {
        return GetImageFilter(GetParam().freeImage, GetParam().secondary, GetParam().raw, false);
    }
    QString Dialog() const {
        return GetImageFilter(GetParam().freeImage, GetParam().secondary, GetParam().raw, true);
    }
};

TEST_P(ImageFilterTest, ExtensionListHasNoEmptyOrGluedItems) {
    const QStringList items = Extensions().split(',');
    const QRegularExpression word("^[a-z0-9]{1,5}$");
    for (const QString& item : items)
        EXPECT_TRUE(word.match(item).hasMatch()) << '"' << item.toStdString() << '"';
    EXPECT_EQ(items.contains("svg"), GetParam().secondary);
    EXPECT_EQ(items.contains("png"), GetParam().freeImage);
    EXPECT_EQ(GetImageFilter(GetParam().freeImage, GetParam().secondary, GetParam().raw, true)
                  .contains("|Camera RAW ("),
              GetParam().raw);
    if (GetParam().raw) {
        EXPECT_TRUE(items.contains("cr2"));
    }
}

TEST_P(ImageFilterTest, DialogFilterIsPairsAfterAllFiles) {
    const QString filter = Dialog();
    ASSERT_TRUE(filter.startsWith("All files|*.*|") || filter == "All files|*.*");
    const QStringList fields = filter.split('|');
    ASSERT_EQ(fields.size() % 2, 0);
    for (int i = 2; i < fields.size(); i += 2) {
        // "Description (patterns)" then the patterns themselves.
        EXPECT_TRUE(fields[i].endsWith(')')) << fields[i].toStdString();
        for (const QString& pattern : fields[i + 1].split(';'))
            EXPECT_TRUE(pattern.startsWith("*.") && pattern.size() > 2) << pattern.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Filter, ImageFilterTest,
                         ::testing::Values(FilterCase{"AllSources", true, true, true},
                                           FilterCase{"WithoutSecondary", true, false, true},
                                           FilterCase{"FreeImageOnly", true, false, false},
                                           FilterCase{"SecondaryOnly", false, true, false},
                                           FilterCase{"RawOnly", false, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFilter, SecondaryFormatsComeFirst) {
    const QString extensions = GetImageFilter(true, true, true, false);
    EXPECT_TRUE(extensions.startsWith("svg,svgz,")) << extensions.toStdString();
    const QString dialog = GetImageFilter(true, true, true, true);
    EXPECT_TRUE(dialog.startsWith("All files|*.*|Scalable Vector Graphics (*.svg)|*.svg|"
                                  "Compressed Scalable Vector Graphics (*.svgz)|*.svgz|"))
        << dialog.toStdString();
    EXPECT_FALSE(dialog.contains("All images"));
}

TEST(ImageFilter, FreeImageEntriesUseItsDescriptions) {
    const QString dialog = GetImageFilter(true, true, true, true);
    EXPECT_TRUE(dialog.contains("|JPEG - JFIF Compliant (*.jpg;*.jif;*.jpeg;*.jpe)|"
                                "*.jpg;*.jif;*.jpeg;*.jpe|"));
    // Formats FreeImage lists twice (ASCII and binary variants) appear once.
    EXPECT_EQ(dialog.count("(*.pbm)"), 1);
}

TEST(ImageFilter, CameraRawComesLastWithThirtyExtensions) {
    ASSERT_EQ(CameraRawExtensions().size(), 30);
    const QString extensions = GetImageFilter(true, true, true, false);
    EXPECT_TRUE(extensions.endsWith("," + CameraRawExtensions().join(',')));
    const QString dialog = GetImageFilter(true, true, true, true);
    EXPECT_TRUE(dialog.endsWith("|Camera RAW (*.arw;*.bay;*.bmq;*.cr2;*.crw;*.cs1;*.dc2;*.dcr;"
                                "*.dng;*.erf;*.fff;*.hdr;*.ia;*.k25;*.kc2;*.kdc;*.mdc;*.mos;"
                                "*.mrw;*.nef;*.orf;*.pef;*.pxn;*.raf;*.raw;*.rdc;*.sr2;*.srf;"
                                "*.sti;*.x3f)|*.arw;*.bay;*.bmq;*.cr2;*.crw;*.cs1;*.dc2;*.dcr;"
                                "*.dng;*.erf;*.fff;*.hdr;*.ia;*.k25;*.kc2;*.kdc;*.mdc;*.mos;"
                                "*.mrw;*.nef;*.orf;*.pef;*.pxn;*.raf;*.raw;*.rdc;*.sr2;*.srf;"
                                "*.sti;*.x3f"));
}

} // namespace

namespace {

TEST(FileDialogFilter, PairsBecomeTheToolkitsFilterText) {
    const std::pair<const char*, const char*> cases[] = {
        {"All files|*.*|", "All files (*.*)"},
        {"Wav (*.wav)|*.wav|MPEG 3|*.mp3;*.MP3|", "Wav (*.wav);;MPEG 3 (*.mp3 *.MP3)"},
        {"Odd (text) here|*.x|", "Odd (text) here (*.x)"},
        {"", ""},
        {"No patterns|", ""},
    };
    for (const auto& [pairs, filter] : cases)
        EXPECT_EQ(FileDialogFilter(QString::fromLatin1(pairs)), QString::fromLatin1(filter))
            << pairs;
}

} // namespace
