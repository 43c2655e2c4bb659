// Loading slideshow files: values, fallbacks, entry names and damaged input.
#include "ArchiveTestSupport.h"

#include "app/FileHelpers.h"
#include "common/FilePermissionsApply.h"
#include "show/SlideshowArchive.h"
#include "show/TransformerByName.h"
#include "show/VekSettingsFile.h"

#include <gtest/gtest.h>

#include <QDirIterator>

#include <csignal>
#include <set>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace archive_test;

// A description with values unlike every default, to see what a load changes.
void MakeDistinct(TVekSettingsFile& s) {
    s.ImageList = {QStringLiteral("/old/image")};
    s.MusicList = {QStringLiteral("/old/music.mp3")};
    s.Transformer = TransformerByName(QStringLiteral("Slide"));
    s.Delay = 777;
    s.Shuffle = true;
    s.RepeatAll = true;
}

::testing::AssertionResult IsDistinct(const TVekSettingsFile& s) {
    if (s.ImageList != QStringList{QStringLiteral("/old/image")} ||
        s.MusicList != QStringList{QStringLiteral("/old/music.mp3")} ||
        s.Transformer->Name != QStringLiteral("Slide") || s.Delay != 777 || !s.Shuffle ||
        !s.RepeatAll)
        return ::testing::AssertionFailure() << "the description changed";
    return ::testing::AssertionSuccess();
}

class LoadTest : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    QString Path(const char* name) const { return Dir.filePath(QString::fromUtf8(name)); }
    // Loads a zip of the given entries into a distinct description.
    bool Load(const TEntries& entries, TVekSettingsFile& s) {
        const QString path = Path("test.VekSS");
        EXPECT_TRUE(MakeZip(path, entries));
        MakeDistinct(s);
        return s.LoadFromFile(path);
    }
};

struct TSettingsCase {
    const char* Name;
    const char* Settings; // the "Settings" entry
    int Delay;
    const char* Transformer;
    bool Shuffle, RepeatAll;
};

class SettingsValues : public LoadTest, public ::testing::WithParamInterface<TSettingsCase> {};

TEST_P(SettingsValues, AreReadAsDefined) {
    const TSettingsCase& c = GetParam();
    TVekSettingsFile s;
    ASSERT_TRUE(Load({{"Settings", c.Settings}}, s));
    EXPECT_EQ(s.Delay, c.Delay);
    EXPECT_EQ(s.Transformer->Name.toStdString(), c.Transformer);
    EXPECT_EQ(s.Shuffle, c.Shuffle);
    EXPECT_EQ(s.RepeatAll, c.RepeatAll);
}

// The description before each load: Delay 777, Slide, both flags true.
const TSettingsCase kSettingsCases[] = {
    {"AllWritten", "Delay=100\r\nTransformer=Blend\r\nShuffle=0\r\nRepeat all=0\r\n", 100, "Blend",
     false, false},
    {"OneAndTrueAreTrue", "Shuffle=0\r\nShuffle=1\r\nRepeat all=True", 777, "Random", false, true},
    {"OtherIntegersAreTrue", "Shuffle=2\nRepeat all=-1", 777, "Random", true, true},
    {"WordsInAnyCase", "Shuffle=FALSE\rRepeat all=fAlSe", 777, "Random", false, false},
    {"YesKeepsTheValue", "Shuffle=yes\r\nRepeat all=", 777, "Random", true, true},
    {"DiagonalRollMixedCase", "Transformer=dIAGONAL rOLL", 777, "Diagonal roll", true, true},
    {"CustomGivesRandom", "Transformer=Custom", 777, "Random", true, true},
    {"EmptyNameGivesRandom", "Transformer=", 777, "Random", true, true},
    {"KeysIgnoreCaseFirstWins", "DELAY=5\r\ndelay=6\r\ntransformer=wind\r\n", 5, "Wind", true,
     true},
    {"DelayNotANumberKept", "Delay=soon\r\nDelay=9", 777, "Random", true, true},
    {"ValueKeepsLaterEquals", "Transformer=Blend=x", 777, "Random", true, true},
    {"LinesWithoutEqualsIgnored", "Delay\r\nDelay=42", 42, "Random", true, true},
    {"NegativeDelayBecomesZero", "Delay=-5000", 0, "Random", true, true},
    {"DelayBeyondADayBecomesADay", "Delay=86400001", 86400000, "Random", true, true},
    {"DelayBeyondIntegersBecomesADay", "Delay=99999999999", 86400000, "Random", true, true},
    {"ADayIsKept", "Delay=86400000", 86400000, "Random", true, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, SettingsValues, ::testing::ValuesIn(kSettingsCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(LoadTest, ClampedDelayIsReportedOnStandardError) {
    TVekSettingsFile s;
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(Load({{"Settings", "Delay=-1"}}, s));
    const std::string clamped = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(clamped.find("delay -1 ms out of range, using 0 ms"), std::string::npos) << clamped;

    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(Load({{"Settings", "Delay=2500"}}, s));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(LoadTest, MissingSettingsGive5000AndRandomButKeepTheFlags) {
    TVekSettingsFile s;
    ASSERT_TRUE(Load({{"ImageList", "/a.jpg\r\n"}}, s));
    EXPECT_EQ(s.ImageList, QStringList{QStringLiteral("/a.jpg")});
    EXPECT_TRUE(s.MusicList.isEmpty()); // missing entry: cleared
    EXPECT_EQ(s.Delay, 5000);
    EXPECT_EQ(s.Transformer->Name, QStringLiteral("Random"));
    EXPECT_TRUE(s.Shuffle);
    EXPECT_TRUE(s.RepeatAll);
}

TEST_F(LoadTest, LinesSplitAtCrLfOrBoth) {
    TVekSettingsFile s;
    ASSERT_TRUE(Load({{"ImageList", "a\rb\nc\r\nd\n\re"}, {"MusicList", "x\r\n\r\ny\r\n"}}, s));
    EXPECT_EQ(s.ImageList, (QStringList{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(s.MusicList, (QStringList{"x", "", "y"}));
}

TEST_F(LoadTest, OnlyTheLastNameComponentCountsAndLaterEntriesWin) {
    TVekSettingsFile s;
    ASSERT_TRUE(Load({{"ImageList", "/top\r\n"},
                      {"sub/ImageList", "/in-folder\r\n"},
                      {"../../MusicList", "/escaped\r\n"},
                      {"C:\\win\\Settings", "Delay=12\r\n"},
                      {"sub/", ""},
                      {"Readme.txt", "ignored"}},
                     s));
    EXPECT_EQ(s.ImageList, QStringList{QStringLiteral("/in-folder")});
    EXPECT_EQ(s.MusicList, QStringList{QStringLiteral("/escaped")});
    EXPECT_EQ(s.Delay, 12);
}

TEST_F(LoadTest, NothingIsWrittenAnywhere) {
    const auto snapshot = [&] {
        std::set<QString> files;
        for (const QString& root : {QDir::tempPath(), Dir.path()}) {
            QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) files.insert(it.next());
        }
        return files;
    };
    const QString path = Path("escape.VekSS");
    ASSERT_TRUE(MakeZip(path, {{"../../../../tmp/ImageList", "x"}, {"../evil", "y"}}));
    const auto before = snapshot();
    TVekSettingsFile s;
    ASSERT_TRUE(s.LoadFromFile(path));
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(s.ImageList, QStringList{QStringLiteral("x")});
}

TEST_F(LoadTest, MissingFileOrFolderFails) {
    TVekSettingsFile s;
    MakeDistinct(s);
    for (const QString& path : {Path("nothing.VekSS"), Dir.path(), QString()})
        EXPECT_FALSE(s.LoadFromFile(path));
    EXPECT_TRUE(IsDistinct(s));
}

TEST_F(LoadTest, NotAZipLoadsAsNoEntries) {
    for (const QByteArray& content : {QByteArray("just some text"), QByteArray()}) {
        const QString path = Path("text.VekSS");
        ASSERT_TRUE(WriteBytes(path, content));
        TVekSettingsFile s;
        MakeDistinct(s);
        EXPECT_TRUE(s.LoadFromFile(path));
        EXPECT_TRUE(s.ImageList.isEmpty());
        EXPECT_TRUE(s.MusicList.isEmpty());
        EXPECT_EQ(s.Transformer->Name, QStringLiteral("Random"));
        EXPECT_EQ(s.Delay, 5000);
        EXPECT_TRUE(s.Shuffle); // no Settings entry: the flags stay
    }
}

struct TDamageCase {
    const char* Name;
    void (*Damage)(QByteArray& bytes);
};

class DamagedArchive : public LoadTest, public ::testing::WithParamInterface<TDamageCase> {};

TEST_P(DamagedArchive, FailsAndChangesNothing) {
    TVekSettingsFile good;
    good.ImageList = {QStringLiteral("/a.jpg"), QStringLiteral("/b.jpg")};
    good.MusicList = {QStringLiteral("/c.mp3")};
    const QString path = Path("damaged.VekSS");
    good.SaveToFile(path);
    QByteArray bytes = ReadBytes(path);
    GetParam().Damage(bytes);
    ASSERT_TRUE(WriteBytes(path, bytes));
    TVekSettingsFile s;
    MakeDistinct(s);
    EXPECT_FALSE(s.LoadFromFile(path));
    EXPECT_TRUE(IsDistinct(s));
}

void Put32(QByteArray& b, qsizetype at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (8 * i));
}

const TDamageCase kDamageCases[] = {
    {"TruncatedHalf", [](QByteArray& b) { b.truncate(b.size() / 2); }},
    {"TruncatedEndRecord", [](QByteArray& b) { b.chop(5); }},
    {"DirectoryPointsAtGarbage", [](QByteArray& b) { Put32(b, b.size() - 22 + 16, 7); }},
    {"DirectorySignatureBroken",
     [](QByteArray& b) { Put32(b, qsizetype(U32(b, b.size() - 22 + 16)), 0x12345678); }},
    {"LocalSignatureBroken", [](QByteArray& b) { b[2] = 'X'; }},
    {"EntryCountWrong", [](QByteArray& b) { b[b.size() - 22 + 10] = 9; }},
    {"CompressedDataGarbled", [](QByteArray& b) { b[30 + 9 + 2] ^= 0x5A; }},
};

INSTANTIATE_TEST_SUITE_P(Cases, DamagedArchive, ::testing::ValuesIn(kDamageCases),
                         [](const auto& info) { return std::string(info.param.Name); });

// Where the central header of the entry `name` is; -1 when there is none.
qsizetype CentralHeaderOf(const QByteArray& zip, const QByteArray& name) {
    for (qsizetype at = zip.indexOf("PK\x01\x02"); at >= 0; at = zip.indexOf("PK\x01\x02", at + 4))
        if (zip.mid(at + 46, qsizetype(U16(zip, at + 28))) == name) return at;
    return -1;
}

// Sets the compression method of the entry `name` in its local and central headers.
bool SetMethod(QByteArray& zip, const QByteArray& name, unsigned method) {
    const qsizetype central = CentralHeaderOf(zip, name);
    if (central < 0) return false;
    for (const qsizetype field : {central + 10, qsizetype(U32(zip, central + 42)) + 8}) {
        zip[field] = char(method & 0xFF);
        zip[field + 1] = char(method >> 8);
    }
    return true;
}

struct TMethodCase {
    const char* Name;
    const char* Entry;        // the entry given another method
    unsigned Method;          // 14 is LZMA
    bool BreakLocalSignature; // of that entry
    bool Loads;
};

class EntryMethod : public LoadTest, public ::testing::WithParamInterface<TMethodCase> {};

// Entries we do not know are skipped, whatever method they would need; ours must be
// readable, and every entry's local header must be where the directory says.
TEST_P(EntryMethod, OnlyOurEntriesMustBeReadable) {
    const TMethodCase& c = GetParam();
    const QString path = Path("method.VekSS");
    ASSERT_TRUE(MakeZip(path, {{"Extra.bin", QByteArray(300, 'x')},
                               {"ImageList", "/a.jpg\r\n"},
                               {"MusicList", "/b.mp3\r\n"},
                               {"Settings", "Delay=1234\r\nTransformer=Blend\r\n"},
                               {"Notes.txt", "more"}}));
    QByteArray bytes = ReadBytes(path);
    ASSERT_TRUE(SetMethod(bytes, c.Entry, c.Method));
    if (c.BreakLocalSignature)
        bytes[qsizetype(U32(bytes, CentralHeaderOf(bytes, c.Entry) + 42)) + 3] = 'X';
    ASSERT_TRUE(WriteBytes(path, bytes));
    TVekSettingsFile s;
    MakeDistinct(s);
    EXPECT_EQ(s.LoadFromFile(path), c.Loads);
    if (c.Loads) {
        EXPECT_EQ(s.ImageList, QStringList{QStringLiteral("/a.jpg")});
        EXPECT_EQ(s.MusicList, QStringList{QStringLiteral("/b.mp3")});
        EXPECT_EQ(s.Delay, 1234);
        EXPECT_EQ(s.Transformer->Name, QStringLiteral("Blend"));
    } else {
        EXPECT_TRUE(IsDistinct(s));
    }
}

const TMethodCase kMethodCases[] = {
    {"LzmaExtraFirst", "Extra.bin", 14, false, true},
    {"LzmaExtraLast", "Notes.txt", 14, false, true},
    {"UnheardOfMethodExtra", "Extra.bin", 99, false, true},
    {"DeflatedExtraLocalHeaderBroken", "Extra.bin", 8, true, false},
    {"LzmaExtraLocalHeaderBroken", "Extra.bin", 14, true, false},
    {"LzmaImageList", "ImageList", 14, false, false},
    {"LzmaSettings", "Settings", 14, false, false},
};

INSTANTIATE_TEST_SUITE_P(Cases, EntryMethod, ::testing::ValuesIn(kMethodCases),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TSpecialFileCase {
    const char* Name;
    QString (*Make)(const QString& dir); // the path to load; empty when it cannot be made
};

class SpecialFile : public LoadTest, public ::testing::WithParamInterface<TSpecialFileCase> {};

// Only regular files are read: a named pipe used to block the load in open() until
// some writer came, and a device may never end.
TEST_P(SpecialFile, FailsAtOnceAndChangesNothing) {
    const QString path = GetParam().Make(Dir.path());
    if (path.isEmpty()) GTEST_SKIP() << "the special file cannot be made here";
    TVekSettingsFile s;
    MakeDistinct(s);
    EXPECT_FALSE(s.LoadFromFile(path));
    EXPECT_TRUE(IsDistinct(s));
}

QString MakePipe(const QString& dir) {
    const QString path = dir + QStringLiteral("/x.VekSS");
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0 ? path : QString();
}

const TSpecialFileCase kSpecialFiles[] = {
    {"NamedPipe", MakePipe},
    {"LinkToANamedPipe",
     [](const QString& dir) {
         const QString pipe = MakePipe(dir);
         const QString link = dir + QStringLiteral("/link.VekSS");
         return !pipe.isEmpty() && QFile::link(pipe, link) ? link : QString();
     }},
    {"Device", [](const QString&) { return QStringLiteral("/dev/zero"); }},
};

INSTANTIATE_TEST_SUITE_P(Cases, SpecialFile, ::testing::ValuesIn(kSpecialFiles),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(LoadTest, LinkToARegularFileIsRead) {
    TVekSettingsFile saved;
    saved.Delay = 4321;
    saved.SaveToFile(Path("real.VekSS"));
    ASSERT_TRUE(QFile::link(Path("real.VekSS"), Path("link.VekSS")));
    TVekSettingsFile s;
    ASSERT_TRUE(s.LoadFromFile(Path("link.VekSS")));
    EXPECT_EQ(s.Delay, 4321);
}

TEST_F(LoadTest, EntryInflatingBeyondTheLimitIsRefused) {
    TVekSettingsFile s;
    const QByteArray huge(qsizetype(kMaxArchiveEntrySize) + 1, '\n');
    EXPECT_FALSE(Load({{"ImageList", huge}}, s));
    EXPECT_TRUE(IsDistinct(s));
}

// Saving failures: the error reaches the caller, no scratch folder stays behind,
// and an existing file is left whole.
class SaveFailure : public ::testing::Test {
protected:
    QTemporaryDir Dir;
    static bool ScratchLeft() { return !ListSubfolders(TempFolder(), false).isEmpty(); }
};

TEST_F(SaveFailure, MissingFolderThrows) {
    TVekSettingsFile s;
    EXPECT_THROW(s.SaveToFile(Dir.filePath(QStringLiteral("no/such/folder/x.VekSS"))),
                 std::runtime_error);
    EXPECT_FALSE(ScratchLeft());
}

TEST_F(SaveFailure, ReadOnlyFolderThrows) {
    const QString folder = Dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const QString path = folder + QStringLiteral("/x.VekSS");
    ASSERT_TRUE(WriteBytes(path, "precious"));
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    TVekSettingsFile s;
    {
        // Root would write into the folder regardless.
        const pictrel::test::TFilePermissionsApply permissions;
        if (!permissions.Active())
            GTEST_SKIP() << "cannot give up the capabilities that bypass file permissions";
        EXPECT_THROW(s.SaveToFile(path), std::runtime_error);
    }
    QFile::setPermissions(folder,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(ReadBytes(path), QByteArray("precious"));
    EXPECT_FALSE(ScratchLeft());
}

TEST_F(SaveFailure, WriteErrorLeavesTheOldFileWhole) {
    // A file-size limit makes the archive fail half-way while the small parts fit.
    const QString path = Dir.filePath(QStringLiteral("x.VekSS"));
    const QByteArray old(2000, 'o');
    ASSERT_TRUE(WriteBytes(path, old));
    TVekSettingsFile s;
    s.ImageList = {QStringLiteral("/a/b/c/d/e/f/g.jpg")};
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool threw = false;
    try {
        s.SaveToFile(path);
    } catch (const std::runtime_error&) {
        threw = true;
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_FALSE(ScratchLeft());
    EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("x.VekSS")});
}

} // namespace
