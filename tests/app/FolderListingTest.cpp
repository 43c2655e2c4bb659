#include "app/FolderListing.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

const char kFilter[] = "bmp,gif,jpg,jpeg,jpe,png,tif,tiff";

struct TMatchCase {
    const char* Name;
    const char* Path;
    bool Matches;
};

class ExtensionTest : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(ExtensionTest, IsAWholeEntryIgnoringCase) {
    EXPECT_EQ(ExtensionMatches(QString::fromUtf8(GetParam().Path), QString::fromUtf8(kFilter)),
              GetParam().Matches);
}

const TMatchCase kMatchCases[] = {
    {"Listed", "/p/a.jpg", true},       {"UpperCase", "photo.JPG", true},
    {"ShortForm", "x.tif", true},       {"PartOfJpe", "x.pe", false},
    {"PartOfAnEntry", "main.c", false}, {"LetterOfAnEntry", "foo.h", false},
    {"CommaInside", "x.g,jp", false},   {"LongerThanAnEntry", "x.jpgx", false},
    {"NotListed", "notes.txt", false},  {"NoExtension", "/p/noext", false},
    {"TrailingDot", "x.", false},       {"DotOnlyInFolder", "/p.jpg/file", false},
};

INSTANTIATE_TEST_SUITE_P(Cases, ExtensionTest, ::testing::ValuesIn(kMatchCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(ExtensionMatches, FilterCaseIgnored) {
    EXPECT_TRUE(ExtensionMatches(QStringLiteral("a.png"), QStringLiteral("BMP, PNG")));
    EXPECT_FALSE(ExtensionMatches(QStringLiteral("README.md"), QStringLiteral("bmp, md2")));
    EXPECT_FALSE(ExtensionMatches(QStringLiteral("a.png"), QString()));
}

class ListFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(Dir.filePath("sub.jpg")));
        for (const char* name : {"a.jpg", "B.PNG", ".hidden.gif", "c.txt", "noext"}) {
            QFile f(Dir.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        ASSERT_TRUE(QFile::link(Dir.filePath("a.jpg"), Dir.filePath("link.jpg")));
        ASSERT_TRUE(QFile::link(Dir.filePath("gone"), Dir.filePath("dangling.jpg")));
        ASSERT_EQ(::mkfifo(QFile::encodeName(Dir.filePath("pipe.jpg")).constData(), 0600), 0);
    }
    static QSet<QString> Set(const QStringList& l) { return {l.begin(), l.end()}; }
    QTemporaryDir Dir;
};

TEST_F(ListFilesTest, FilesPassingTheFilterWithNamesOrFullPaths) {
    EXPECT_EQ(Set(ListFiles(Dir.path(), false, QString::fromUtf8(kFilter))),
              (QSet<QString>{"a.jpg", "B.PNG", ".hidden.gif", "link.jpg"}));
    const QString base = Dir.path() + "/";
    EXPECT_EQ(Set(ListFiles(Dir.path() + "/", true, QStringLiteral("txt"))),
              (QSet<QString>{base + "c.txt"}));
}

TEST_F(ListFilesTest, EmptyFilterKeepsEveryRegularFile) {
    EXPECT_EQ(Set(ListFiles(Dir.path(), false, QString())),
              (QSet<QString>{"a.jpg", "B.PNG", ".hidden.gif", "c.txt", "noext", "link.jpg"}));
}

TEST_F(ListFilesTest, RelativeFolderBecomesAbsolute) {
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Dir.path()));
    const QStringList files = ListFiles(QStringLiteral("."), true, QStringLiteral("txt"));
    QDir::setCurrent(saved);
    EXPECT_EQ(files, QStringList{QDir(Dir.path()).absolutePath() + "/c.txt"});
}

TEST(ListFiles, MissingFolderGivesNothing) {
    EXPECT_TRUE(ListFiles(QStringLiteral("/no/such/folder"), true, QString()).isEmpty());
}

} // namespace

TEST(SortNatural, OrdersAsAFileManagerShowsNames) {
    QStringList names = {"/p/img_10.jpg", "/p/IMG_2.jpg",  "/p/img_1.jpg", "/p/b.jpg",
                         "/p/A.jpg",      "/p/img_02.jpg", "/p/img_2.jpg", "/p/ä.jpg",
                         "/p/img_9x.jpg", "/p/img_9.jpg"};
    SortNatural(names);
    EXPECT_EQ(names, QStringList({"/p/A.jpg", "/p/b.jpg", "/p/img_1.jpg", "/p/IMG_2.jpg",
                                  "/p/img_02.jpg", "/p/img_2.jpg", "/p/img_9.jpg", "/p/img_9x.jpg",
                                  "/p/img_10.jpg", "/p/ä.jpg"}));
}
