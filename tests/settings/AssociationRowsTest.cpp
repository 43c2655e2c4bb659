#include "settings/AssociationRows.h"

#include "app/FileAssociations.h"
#include "app/MimeAppsList.h"
#include "loading/ImageFilter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <algorithm>
#include <string>

namespace {

struct TExtensionCase {
    const char* Patterns;
    int K;
    const char* Expected;
};

class ExtensionAtTest : public testing::TestWithParam<TExtensionCase> {};

TEST_P(ExtensionAtTest, TakesTheKthItemAfterItsFirstDot) {
    const TExtensionCase& c = GetParam();
    EXPECT_EQ(ExtensionAt(QString::fromLatin1(c.Patterns), c.K), QString::fromLatin1(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(Cases, ExtensionAtTest,
                         testing::Values(TExtensionCase{"*.jpg, *.jif, *.jpeg, *.jpe", 0, "jpg"},
                                         TExtensionCase{"*.jpg, *.jif, *.jpeg, *.jpe", 3, "jpe"},
                                         TExtensionCase{"*.jpg, *.jif, *.jpeg, *.jpe", 4, ""},
                                         TExtensionCase{"*.jpg, *.jif", -1, ""},
                                         TExtensionCase{"*.tar.gz", 0, "tar.gz"},
                                         TExtensionCase{"plain", 0, "plain"},
                                         TExtensionCase{"  *.a ,,  *.b", 1, "b"},
                                         TExtensionCase{"", 0, ""}));

TEST(AssociationRows, ComeFromTheFilterWithTheirStandardFlags) {
    const std::vector<TAssociationRow> rows =
        AssociationRowsOf("All files|*.*|JPEG (*.jpg;*.jif;*.jpeg;*.jpe)|*.jpg;*.jif;*.jpeg;*.jpe|"
                          "PCX (*.pcx)|*.pcx|Only jpeg (*.jpeg)|*.jpeg|TIFF (*.tif)|*.tif|Broken|");
    ASSERT_EQ(rows.size(), 4U);
    // jpeg is offered once, by the narrower row.
    EXPECT_EQ(rows[0].Display, "JPEG (*.jpg, *.jif, *.jpe)");
    EXPECT_EQ(rows[0].Patterns, "*.jpg, *.jif, *.jpe");
    EXPECT_EQ(rows[2].Patterns, "*.jpeg");
    const bool standard[] = {true, false, false, true};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Standard, standard[i]) << rows[i].Display.toStdString();
        EXPECT_FALSE(rows[i].Associated);
    }
}

TEST(AssociationRows, OfTheRealDialogFilter) {
    const std::vector<TAssociationRow> rows =
        AssociationRowsOf(GetImageFilter(true, true, true, true));
    ASSERT_FALSE(rows.empty());
    const auto find = [&](const char* ext) {
        return std::find_if(rows.begin(), rows.end(), [&](const TAssociationRow& row) {
            for (int k = 0; !ExtensionAt(row.Patterns, k).isEmpty(); ++k)
                if (ExtensionAt(row.Patterns, k) == QLatin1String(ext)) return true;
            return false;
        });
    };
    ASSERT_NE(find("jpg"), rows.end());
    EXPECT_TRUE(find("jpg")->Standard);
    EXPECT_TRUE(find("jpeg")->Standard) << "the row of jpg and jpeg is one";
    ASSERT_NE(find("pcx"), rows.end());
    EXPECT_FALSE(find("pcx")->Standard);
    for (const TAssociationRow& row : rows) {
        EXPECT_FALSE(row.Display.startsWith("All files"));
        EXPECT_FALSE(ExtensionAt(row.Patterns, 0).isEmpty()) << row.Display.toStdString();
        EXPECT_FALSE(row.Display.contains("  ")) << row.Display.toStdString();
    }
}

TEST(AssociationRows, CheckedAndUncheckedListTheirExtensions) {
    std::vector<TAssociationRow> rows =
        AssociationRowsOf("All files|*.*|A (*.a;*.b)|*.a;*.b|C (*.c)|*.c|");
    rows[0].Associated = true;
    EXPECT_EQ(CheckedExtensions(rows), QStringList({"a", "b"}));
    EXPECT_EQ(UncheckedExtensions(rows), QStringList({"c"}));
}

// The desktop's own choice decides; our store only for types the desktop cannot name.
TEST(AssociationRows, ReadWhatTheDesktopUsesNow) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    ASSERT_FALSE(config.isEmpty());
    ASSERT_TRUE(QDir().mkpath(config));
    TMimeAppsList list;
    ASSERT_TRUE(list.Load(config + "/mimeapps.list"));
    list.SetDefault("image/png", QString::fromLatin1(kViewerDesktopId) + ";");
    list.SetDefault("image/gif", "other.desktop;" + QString::fromLatin1(kViewerDesktopId) + ";");
    ASSERT_TRUE(list.Save());
    EXPECT_TRUE(ExtensionAssociated("png"));
    EXPECT_FALSE(ExtensionAssociated("gif")) << "another application comes first";
    EXPECT_FALSE(ExtensionAssociated("pcx"));

    // A type the system does not know: our own store says whether it is ours.
    EXPECT_TRUE(MimeTypeOfExtension("zqx").isEmpty());
    EXPECT_FALSE(ExtensionAssociated("zqx"));
    RegisterExtensions({"zqx"});
    EXPECT_TRUE(ExtensionAssociated("zqx"));
    UnregisterExtensions({"zqx"});
    EXPECT_FALSE(ExtensionAssociated("zqx"));

    list.SetDefault("image/bmp", QString::fromLatin1(kViewerDesktopId) + ";");
    ASSERT_TRUE(list.Save());
    std::vector<TAssociationRow> rows = AssociationRowsOf(
        "All files|*.*|PNG (*.png)|*.png|GIF (*.gif)|*.gif|Odd (*.zqx;*.bmp)|*.zqx;*.bmp|");
    ReadAssociations(rows);
    EXPECT_TRUE(rows[0].Associated);
    EXPECT_FALSE(rows[1].Associated);
    EXPECT_TRUE(rows[2].Associated) << "any of the row's types counts";
    QFile::remove(config + "/mimeapps.list");
}

} // namespace
