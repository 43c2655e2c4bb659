#include "app/FileHelpers.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool Touch(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

TEST(Folders, DataFolderIsInXdgDataHome) {
    const QString expected = QString::fromLocal8Bit(std::getenv("XDG_DATA_HOME")) + "/Pictrel/";
    EXPECT_EQ(DataFolder(), expected);
    EXPECT_TRUE(FolderExists(expected));
}

TEST(Folders, TempFolderIsPrivateAndInTmpdir) {
    const QString temp = TempFolder();
    EXPECT_TRUE(temp.startsWith(QString::fromLocal8Bit(std::getenv("TMPDIR")) + "/Pictrel-"));
    EXPECT_TRUE(temp.endsWith(u'/'));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(temp).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
}

TEST(Folders, ScratchFoldersAreNumberedAndFresh) {
    const QString first = NewScratchFolder();
    const QString temp = TempFolder();
    ASSERT_TRUE(first.startsWith(temp));
    bool isNumber = false;
    const int n = first.mid(temp.size()).chopped(1).toInt(&isNumber);
    ASSERT_TRUE(isNumber) << first.toStdString();
    EXPECT_TRUE(FolderExists(first));

    // A leftover of the next number, from an earlier run, is emptied and replaced.
    const QString leftover = temp + QString::number(n + 1);
    ASSERT_TRUE(QDir().mkpath(leftover + "/deep"));
    ASSERT_TRUE(Touch(leftover + "/deep/old.txt"));
    const QString second = NewScratchFolder();
    EXPECT_EQ(second, leftover + "/");
    EXPECT_TRUE(QDir(second).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

    EXPECT_TRUE(DeleteTree(first));
    EXPECT_TRUE(DeleteTree(second));
    EXPECT_FALSE(FolderExists(first));
}

TEST(Folders, ScratchFolderInUseByAnotherInstanceIsSkipped) {
    const QString probe = NewScratchFolder();
    ASSERT_TRUE(DeleteTree(probe));
    const QString temp = TempFolder();
    const int n = probe.mid(temp.size()).chopped(1).toInt();
    // Another instance holds the next number: its folder and its claim.
    const QString busy = temp + QString::number(n + 1);
    ASSERT_TRUE(QDir().mkpath(busy));
    ASSERT_TRUE(Touch(busy + "/work.txt"));
    const int claim = ::open(QFile::encodeName(busy + ".lock").constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(claim, 0);
    ASSERT_EQ(::flock(claim, LOCK_EX | LOCK_NB), 0);
    const QString mine = NewScratchFolder();
    EXPECT_EQ(mine, temp + QString::number(n + 2) + "/");
    EXPECT_TRUE(FileExists(busy + "/work.txt"));
    EXPECT_TRUE(DeleteTree(mine));
    // The other instance's claim is its own to remove.
    EXPECT_TRUE(FileExists(busy + ".lock"));
    ::close(claim);
    EXPECT_TRUE(DeleteTree(busy));
    ::unlink(QFile::encodeName(busy + ".lock").constData());
}

// Whether another instance could claim the folder's number now.
bool ClaimIsHeld(const QString& folder) {
    const int fd = ::open(QFile::encodeName(folder.chopped(1) + ".lock").constData(), O_RDWR);
    if (fd < 0) return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return held;
}

struct TReleaseCase {
    const char* Name;
    std::vector<int> Order; // indexes of the folders in the order they are deleted
};

class ScratchClaimTest : public ::testing::TestWithParam<TReleaseCase> {};

// Claim files used to stay behind for ever, one per scratch number used.
TEST_P(ScratchClaimTest, ClaimFilesGoWithTheirFolders) {
    const QString temp = TempFolder();
    const QStringList before = QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QStringList folders;
    for (std::size_t i = 0; i < GetParam().Order.size(); ++i) folders.append(NewScratchFolder());
    for (const QString& folder : folders) {
        EXPECT_TRUE(FileExists(folder.chopped(1) + ".lock")) << folder.toStdString();
        EXPECT_TRUE(ClaimIsHeld(folder)) << folder.toStdString();
    }
    for (const int index : GetParam().Order) {
        const QString folder = folders[index];
        ASSERT_TRUE(DeleteTree(folder));
        EXPECT_FALSE(QFileInfo::exists(folder.chopped(1) + ".lock")) << folder.toStdString();
    }
    EXPECT_EQ(QDir(temp).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

INSTANTIATE_TEST_SUITE_P(Orders, ScratchClaimTest,
                         ::testing::Values(TReleaseCase{"One", {0}},
                                           TReleaseCase{"InOrder", {0, 1, 2}},
                                           TReleaseCase{"Reversed", {2, 1, 0}},
                                           TReleaseCase{"Mixed", {1, 0, 2}}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Folders, ClaimFileLeftByACrashIsTakenAndRemoved) {
    const QString probe = NewScratchFolder();
    ASSERT_TRUE(DeleteTree(probe));
    const QString temp = TempFolder();
    const int n = probe.mid(temp.size()).chopped(1).toInt();
    // A run that ended without releasing its claim: the file stays, its lock is gone.
    const QString next = temp + QString::number(n + 1);
    ASSERT_TRUE(Touch(next + ".lock"));
    const QString mine = NewScratchFolder();
    ASSERT_EQ(mine, next + "/");
    EXPECT_TRUE(ClaimIsHeld(mine));
    EXPECT_TRUE(DeleteTree(mine));
    EXPECT_FALSE(QFileInfo::exists(next + ".lock"));
}

TEST(DeleteTree, RemovesNestedContentButNeverFollowsLinks) {
    QTemporaryDir dir;
    const QString outside = dir.filePath("outside");
    ASSERT_TRUE(QDir().mkpath(outside));
    ASSERT_TRUE(Touch(outside + "/keep.txt"));
    const QString tree = dir.filePath("tree");
    ASSERT_TRUE(QDir().mkpath(tree + "/a/b"));
    ASSERT_TRUE(Touch(tree + "/a/b/file"));
    ASSERT_TRUE(Touch(tree + "/.hidden"));
    ASSERT_TRUE(QFile::link(outside, tree + "/a/link-to-folder"));
    ASSERT_TRUE(QFile::link(outside + "/keep.txt", tree + "/link-to-file"));
    ASSERT_TRUE(QFile::link(dir.filePath("missing"), tree + "/dangling"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree + "/pipe").constData(), 0600), 0);

    EXPECT_TRUE(DeleteTree(tree + "/"));
    EXPECT_FALSE(QFileInfo::exists(tree));
    EXPECT_TRUE(FileExists(outside + "/keep.txt"));
}

TEST(DeleteTree, LinkToAFolderOrMissingFolderIsLeftAlone) {
    QTemporaryDir dir;
    const QString target = dir.filePath("target");
    ASSERT_TRUE(QDir().mkpath(target));
    ASSERT_TRUE(Touch(target + "/keep.txt"));
    ASSERT_TRUE(QFile::link(target, dir.filePath("link")));
    EXPECT_FALSE(DeleteTree(dir.filePath("link")));
    EXPECT_TRUE(FileExists(target + "/keep.txt"));
    EXPECT_FALSE(DeleteTree(dir.filePath("missing")));
    EXPECT_FALSE(DeleteTree(QString()));
}

TEST(Folders, ListSubfoldersAndCreateFolder) {
    QTemporaryDir dir;
    const QString base = dir.path();
    EXPECT_EQ(CreateFolder(base + "/one"), base + "/one");
    EXPECT_EQ(CreateFolder(base + "/one"), QString());    // exists
    EXPECT_EQ(CreateFolder(base + "/no/two"), QString()); // one level only
    ASSERT_TRUE(Touch(base + "/file"));
    ASSERT_TRUE(QFile::link(base + "/one", base + "/linked"));
    QStringList names = ListSubfolders(base, false);
    names.sort();
    EXPECT_EQ(names, (QStringList{"linked", "one"}));
    QStringList full = ListSubfolders(base + "/", true);
    full.sort();
    EXPECT_EQ(full, (QStringList{base + "/linked/", base + "/one/"}));
}

struct TExtensionCase {
    const char* Name;
    const char* Path;
    const char* Extension;
};

class FileExtensionTable : public ::testing::TestWithParam<TExtensionCase> {};

TEST_P(FileExtensionTable, TextAfterTheLastDotOfTheName) {
    EXPECT_EQ(FileExtension(QString::fromUtf8(GetParam().Path)).toStdString(),
              GetParam().Extension);
}

const TExtensionCase kExtensionCases[] = {
    {"Plain", "/a/photo.jpg", "jpg"},
    {"KeepsCase", "photo.JPG", "JPG"},
    {"LastDot", "a.tar.gz", "gz"},
    {"None", "/a/README", ""},
    {"DotInFolder", "/a.b/file", ""},
    {"TrailingDot", "name.", ""},
    {"HiddenName", "/a/.profile", "profile"},
};

INSTANTIATE_TEST_SUITE_P(Cases, FileExtensionTable, ::testing::ValuesIn(kExtensionCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Folders, ExistenceOfFilesAndFolders) {
    QTemporaryDir dir;
    ASSERT_TRUE(Touch(dir.filePath("f")));
    ASSERT_TRUE(QFile::link(dir.filePath("f"), dir.filePath("lf")));
    ASSERT_TRUE(QFile::link(dir.path(), dir.filePath("ld")));
    EXPECT_TRUE(FileExists(dir.filePath("f")));
    EXPECT_TRUE(FileExists(dir.filePath("lf")));
    EXPECT_FALSE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir.filePath("ld")));
    EXPECT_FALSE(FileExists(dir.filePath("none")));
    EXPECT_TRUE(FolderExists(dir.path()));
    EXPECT_TRUE(FolderExists(dir.filePath("ld")));
    EXPECT_FALSE(FolderExists(dir.filePath("f")));
    EXPECT_FALSE(FolderExists(QString()));
    EXPECT_FALSE(FileExists(QString()));
}

struct TNumberCase {
    const char* Name;
    const char* Text;
    int Expected; // with -7 as the fallback
};

class StrToIntOrTable : public ::testing::TestWithParam<TNumberCase> {};

TEST_P(StrToIntOrTable, DecimalOrTheFallback) {
    EXPECT_EQ(StrToIntOr(QString::fromUtf8(GetParam().Text), -7), GetParam().Expected);
}

const TNumberCase kNumberCases[] = {
    {"Plain", "90", 90},
    {"Negative", "-270", -270},
    {"Plus", "+450", 450},
    {"Largest", "2147483647", 2147483647},
    {"TooLarge", "2147483648", -7},
    {"Empty", "", -7},
    {"SignOnly", "-", -7},
    {"Blank", " 90", -7},
    {"Fraction", "9.5", -7},
    {"Hex", "0x10", -7},
    {"ArabicDigits", "\u0669", -7},
};

INSTANTIATE_TEST_SUITE_P(Cases, StrToIntOrTable, ::testing::ValuesIn(kNumberCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(Files, SizeAndFolderOfAFile) {
    QTemporaryDir dir;
    QFile f(dir.filePath("five"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write("12345"), 5);
    f.close();
    EXPECT_EQ(FileSizeOf(dir.filePath("five")), 5);
    EXPECT_EQ(FileSizeOf(dir.filePath("none")), -1);
    // A pipe without a writer answers at once instead of waiting for one.
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("pipe")).constData(), 0600), 0);
    EXPECT_EQ(FileSizeOf(dir.filePath("pipe")), 0);

    EXPECT_EQ(FolderOf(dir.filePath("five")), QDir(dir.path()).absolutePath() + '/');
    EXPECT_EQ(FolderOf("/a/b/c.jpg"), "/a/b/");
    const QString relative = FolderOf("c.jpg");
    EXPECT_EQ(relative, QDir::currentPath() + '/');
}

} // namespace
