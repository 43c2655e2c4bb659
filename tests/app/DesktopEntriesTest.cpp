#include "app/DesktopEntries.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMimeDatabase>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// Readable failure messages for argument lists.
static void PrintTo(const QStringList& list, std::ostream* os) {
    *os << '{';
    for (const QString& item : list) *os << '"' << item.toStdString() << "\" ";
    *os << '}';
}

namespace {

const QString kFile = QStringLiteral("/tmp/My Pictures/a b.png");
const QString kUrl = QStringLiteral("file:///tmp/My%20Pictures/a%20b.png");

// ---- Exec expansion ----

struct TExecCase {
    std::string Name;
    QString Exec;
    std::optional<QStringList> Expected;
};

void PrintTo(const TExecCase& c, std::ostream* os) {
    *os << c.Name;
}

class ExpandExecTest : public testing::TestWithParam<TExecCase> {};

TEST_P(ExpandExecTest, GivesTheArguments) {
    TDesktopEntry entry;
    entry.Name = QStringLiteral("Paint Shop");
    entry.Icon = QStringLiteral("paint");
    entry.FileName = QStringLiteral("/usr/share/applications/paint.desktop");
    const std::optional<QStringList> argv = ExpandExec(GetParam().Exec, kFile, entry);
    ASSERT_EQ(argv.has_value(), GetParam().Expected.has_value());
    if (argv) {
        EXPECT_EQ(*argv, *GetParam().Expected);
    }
}

const QStringList kNone;

INSTANTIATE_TEST_SUITE_P(
    Table, ExpandExecTest,
    testing::Values(
        TExecCase{"UrlList", "paint %U", QStringList{"paint", kUrl}},
        TExecCase{"SingleUrl", "paint %u", QStringList{"paint", kUrl}},
        TExecCase{"SingleFile", "paint --open %f", QStringList{"paint", "--open", kFile}},
        TExecCase{"FileList", "paint %F", QStringList{"paint", kFile}},
        TExecCase{"FileInsideArgument", "paint --file=%f", QStringList{"paint", "--file=" + kFile}},
        TExecCase{"QuotedProgramAndArgument", R"("/opt/My App/paint" "--title=Hello World" %f)",
                  QStringList{"/opt/My App/paint", "--title=Hello World", kFile}},
        TExecCase{"PartlyQuotedArgument", R"(paint --opt="a b"c %f)",
                  QStringList{"paint", "--opt=a bc", kFile}},
        TExecCase{"EscapesInsideQuotes", R"(paint "a\"b" "c\\d" "e\$f" "g\`h" %f)",
                  QStringList{"paint", "a\"b", "c\\d", "e$f", "g`h", kFile}},
        TExecCase{"OtherBackslashKept", R"(paint "a\qb" %f)", QStringList{"paint", "a\\qb", kFile}},
        TExecCase{"EmptyQuotedArgument", R"(paint "" %f)", QStringList{"paint", "", kFile}},
        TExecCase{"RunsOfSpaces", "  paint   -x \t %f  ", QStringList{"paint", "-x", kFile}},
        TExecCase{"PercentPercent", "paint --zoom=100%% %f",
                  QStringList{"paint", "--zoom=100%", kFile}},
        TExecCase{"PercentPercentBeforeLetter", "paint %%f", QStringList{"paint", "%f", kFile}},
        TExecCase{"DeprecatedCodesDropped", "paint %d %D %n %N %v %m %f",
                  QStringList{"paint", kFile}},
        TExecCase{"DeprecatedCodeInsideArgument", "paint --dir=%d %f",
                  QStringList{"paint", "--dir=", kFile}},
        TExecCase{"NoFileCodeAppendsTheFile", "paint --new-window",
                  QStringList{"paint", "--new-window", kFile}},
        TExecCase{"OnlyTheFirstFileCodeTakesTheFile", "paint %f %U", QStringList{"paint", kFile}},
        TExecCase{"IconArgument", "paint %i %f", QStringList{"paint", "--icon", "paint", kFile}},
        TExecCase{"NameAndLocation", "paint --name %c --from %k %f",
                  QStringList{"paint", "--name", "Paint Shop", "--from",
                              "/usr/share/applications/paint.desktop", kFile}},
        TExecCase{"CodesInsideQuotesExpand", R"(paint "--file=%f")",
                  QStringList{"paint", "--file=" + kFile}},
        TExecCase{"UnbalancedQuote", R"(paint "--title=x %f)", std::nullopt},
        TExecCase{"TrailingBackslashInQuotes", R"(paint "abc\)", std::nullopt},
        TExecCase{"UnknownCode", "paint %x %f", std::nullopt},
        TExecCase{"LonePercentAtEnd", "paint %f %", std::nullopt},
        TExecCase{"IconInsideArgument", "paint --x%i %f", std::nullopt},
        TExecCase{"Empty", "", std::nullopt}, TExecCase{"OnlySpaces", "   ", std::nullopt},
        TExecCase{"OnlyDroppedCodes", "%d %m", std::nullopt}),
    [](const testing::TestParamInfo<TExecCase>& info) { return info.param.Name; });

TEST(ExpandExec, IconCodeWithoutIconGivesNothing) {
    EXPECT_EQ(ExpandExec("paint %i %f", kFile, {}), QStringList({"paint", kFile}));
}

// ---- Parsing ----

TEST(ParseDesktopEntry, ReadsTheKeysOfTheEntryGroup) {
    const QByteArray text = "# a comment\r\n"
                            "[Desktop Entry]\r\n"
                            "Type=Application\r\n"
                            "Name = Paint\\sShop\r\n"
                            "Name[de]=Malen\r\n"
                            "Exec=paint \"a\\\\\\\\b\" %f\r\n"
                            "TryExec=paint\r\n"
                            "Icon=paint\r\n"
                            "MimeType=image/png;image/x-odd\\;name;\r\n"
                            "Categories=Graphics;2DGraphics;\r\n"
                            "NoDisplay=true\r\n"
                            "Hidden=false\r\n"
                            "\r\n"
                            "[Desktop Action edit]\r\n"
                            "Name=Other\r\n"
                            "Exec=other\r\n";
    const std::optional<TDesktopEntry> entry = ParseDesktopEntry(text);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->Type, "Application");
    EXPECT_EQ(entry->Name, "Paint Shop");
    EXPECT_EQ(entry->Exec, R"(paint "a\\b" %f)");
    EXPECT_EQ(entry->TryExec, "paint");
    EXPECT_EQ(entry->Icon, "paint");
    EXPECT_EQ(entry->MimeTypes, QStringList({"image/png", "image/x-odd;name"}));
    EXPECT_EQ(entry->Categories, QStringList({"Graphics", "2DGraphics"}));
    EXPECT_TRUE(entry->NoDisplay);
    EXPECT_FALSE(entry->Hidden);
    // Four backslashes in the file are one in the argument.
    EXPECT_EQ(ExpandExec(entry->Exec, kFile, *entry), QStringList({"paint", "a\\b", kFile}));
}

struct TMalformedCase {
    std::string Name;
    QByteArray Text;
};

void PrintTo(const TMalformedCase& c, std::ostream* os) {
    *os << c.Name;
}

class MalformedEntryTest : public testing::TestWithParam<TMalformedCase> {};

TEST_P(MalformedEntryTest, GivesNone) {
    EXPECT_FALSE(ParseDesktopEntry(GetParam().Text));
}

INSTANTIATE_TEST_SUITE_P(
    Table, MalformedEntryTest,
    testing::Values(
        TMalformedCase{"Empty", ""},
        TMalformedCase{"NoEntryGroup", "[Other]\nType=Application\nName=x\n"},
        TMalformedCase{"KeyBeforeAnyGroup", "Type=Application\n[Desktop Entry]\nName=x\n"},
        TMalformedCase{"LineWithoutEquals", "[Desktop Entry]\nType=Application\nName=x\njunk\n"},
        TMalformedCase{"UnclosedGroup", "[Desktop Entry\nType=Application\nName=x\n"},
        TMalformedCase{"DuplicateKey", "[Desktop Entry]\nType=Application\nName=x\nName=y\n"},
        TMalformedCase{"DuplicateGroup",
                       "[Desktop Entry]\nType=Application\nName=x\n[Desktop Entry]\n"},
        TMalformedCase{"BadKeyName", "[Desktop Entry]\nType=Application\nNa me=x\n"},
        TMalformedCase{"BadLocale", "[Desktop Entry]\nType=Application\nName=x\nName[de=y\n"},
        TMalformedCase{"NoType", "[Desktop Entry]\nName=x\nExec=x\n"},
        TMalformedCase{"NoName", "[Desktop Entry]\nType=Application\nExec=x\n"},
        TMalformedCase{"NotUtf8", "[Desktop Entry]\nType=Application\nName=\xff\xfe\n"}),
    [](const testing::TestParamInfo<TMalformedCase>& info) { return info.param.Name; });

TEST(ParseDesktopEntry, EveryTruncationAndCorruptionIsSafe) {
    const QByteArray good = "[Desktop Entry]\nType=Application\nName=P\\\nExec=\"p\\\\\" %f\n"
                            "MimeType=a;b\\;\nCategories=Graphics;\n[X]\nk=v\n";
    int parsed = 0;
    for (qsizetype n = 0; n <= good.size(); ++n) {
        if (ParseDesktopEntry(good.left(n))) ++parsed;
        QByteArray bad = good;
        if (n < bad.size()) bad[n] = char(0x80 + n % 64);
        (void)ParseDesktopEntry(bad);
    }
    // Only the prefixes that already hold Type and Name are entries.
    EXPECT_GT(parsed, 0);
    EXPECT_FALSE(ParseDesktopEntry(good.left(good.indexOf("Name"))));
}

// ---- Finding the editor ----

class TScopedEnv {
public:
    TScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        qputenv(name, value);
    }
    ~TScopedEnv() {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

QByteArray Entry(const QString& exec, const QString& mime, const QString& categories,
                 const QByteArray& extra = {}) {
    return "[Desktop Entry]\nType=Application\nName=Editor\nExec=" + exec.toUtf8() +
           "\nMimeType=" + mime.toUtf8() + "\nCategories=" + categories.toUtf8() + "\n" + extra;
}

class EditorChoiceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        // The MIME database is looked up in the data folders too: keep the system's
        // within reach of the private ones, and load it before they take over.
        (void)QMimeDatabase().mimeTypeForName(QStringLiteral("image/png"));
        const QString mime = QStandardPaths::locate(QStandardPaths::GenericDataLocation, "mime",
                                                    QStandardPaths::LocateDirectory);
        QDir().mkpath(Path("sys2"));
        if (!mime.isEmpty()) {
            ASSERT_TRUE(QFile::link(mime, Path("sys2/mime")));
        }
        m_home = std::make_unique<TScopedEnv>("XDG_DATA_HOME", QFile::encodeName(Path("home")));
        m_dirs = std::make_unique<TScopedEnv>(
            "XDG_DATA_DIRS", QFile::encodeName(Path("sys1") + ":relative/dir:" + Path("sys2")));
        m_config =
            std::make_unique<TScopedEnv>("XDG_CONFIG_HOME", QFile::encodeName(Path("config")));
        QDir().mkpath(Path("config"));
        m_picture = Path("pictures/a picture.png");
        QDir().mkpath(Path("pictures"));
        ASSERT_TRUE(QImage(4, 4, QImage::Format_RGB32).save(m_picture, "PNG"));

        // The editors on offer. "true" is a program every system has.
        Write("home/applications/paint.desktop", Entry("true paint %f", "image/png;", "Graphics;"));
        Write("home/applications/office.desktop", Entry("true office %f", "image/png;", "Office;"));
        Write("home/applications/pictrel.desktop",
              Entry("true pictrel %f", "image/png;", "Graphics;Viewer;"));
        Write("home/applications/gone.desktop",
              Entry("true gone %f", "image/png;", "Graphics;", "Hidden=true\n"));
        Write("home/applications/notinstalled.desktop",
              Entry("true tryexec %f", "image/png;", "Graphics;", "TryExec=/nonexistent/x\n"));
        Write("home/applications/noprogram.desktop",
              Entry("/nonexistent/editor %f", "image/png;", "Graphics;"));
        Write("home/applications/badexec.desktop", Entry("\"true %f", "image/png;", "Graphics;"));
        Write("home/applications/jpegonly.desktop",
              Entry("true jpeg %f", "image/jpeg;", "Graphics;"));
        Write("home/applications/broken.desktop", "[Desktop Entry\nnonsense\n");
        Write("home/applications/shadowed.desktop", Entry("true x %f", "text/plain;", "Office;"));
        Write("sys1/applications/kde/draw.desktop",
              Entry("true draw %U", "image/png;", "Qt;RasterGraphics;"));
        Write("sys1/applications/shadowed.desktop",
              Entry("true shadowed %f", "image/png;", "Graphics;"));
        Write("sys2/applications/paint.desktop",
              Entry("true other-paint %f", "image/png;", "Graphics;"));
        Write("sys2/applications/zz.desktop",
              Entry("true zz %f", "image/png;", "2DGraphics;", "NoDisplay=true\n"));
    }

    void TearDown() override { SetEditLauncher({}); }

    QString Path(const QString& relative) const { return m_root.path() + '/' + relative; }

    void Write(const QString& relative, const QByteArray& text) {
        const QString path = Path(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    static QStringList Ids(const std::vector<TDesktopEntry>& entries) {
        QStringList ids;
        for (const TDesktopEntry& e : entries) ids << e.Id;
        return ids;
    }

    QTemporaryDir m_root;
    std::unique_ptr<TScopedEnv> m_home, m_dirs, m_config;
    QString m_picture;
};

TEST_F(EditorChoiceTest, FoldersComeFromTheVariablesWithoutRelativeOnes) {
    EXPECT_EQ(ApplicationFolders(),
              QStringList({Path("home/applications"), Path("sys1/applications"),
                           Path("sys2/applications")}));
}

TEST(ApplicationFolders, DefaultsWhenTheVariablesAreUnset) {
    TScopedEnv home("XDG_DATA_HOME", "relative/home");
    TScopedEnv dirs("XDG_DATA_DIRS", "");
    EXPECT_EQ(ApplicationFolders(),
              QStringList({QDir::homePath() + "/.local/share/applications",
                           "/usr/local/share/applications", "/usr/share/applications"}));
}

TEST_F(EditorChoiceTest, EarlierFoldersWinAndSubfoldersGiveDashedIds) {
    QStringList ids;
    QString paintExec;
    for (const TDesktopEntry& e : InstalledDesktopEntries()) {
        ids << e.Id;
        if (e.Id == "paint.desktop") paintExec = e.Exec;
    }
    EXPECT_EQ(ids.count("paint.desktop"), 1);
    EXPECT_EQ(paintExec, "true paint %f");
    EXPECT_TRUE(ids.contains("kde-draw.desktop"));
    EXPECT_FALSE(ids.contains("broken.desktop"));
}

TEST_F(EditorChoiceTest, OnlyGraphicsEditorsOfTheTypeThatAreInstalledAndNotOurs) {
    // Not: office (category), pictrel (ours), gone (hidden), notinstalled (TryExec),
    // noprogram (no program), badexec (unbalanced quote), jpegonly (type), shadowed
    // (the user's entry of that id is no editor).
    EXPECT_EQ(Ids(EditorCandidates(m_picture)),
              QStringList({"paint.desktop", "kde-draw.desktop", "zz.desktop"}));
}

TEST_F(EditorChoiceTest, TheUsersDefaultComesFirstWhenItQualifies) {
    Write("config/mimeapps.list", "[Default Applications]\n"
                                  "image/png=office.desktop;kde-draw.desktop;\n");
    EXPECT_EQ(Ids(EditorCandidates(m_picture)),
              QStringList({"kde-draw.desktop", "paint.desktop", "zz.desktop"}));
}

TEST_F(EditorChoiceTest, ADefaultThatIsNoEditorChangesNothing) {
    Write("config/mimeapps.list", "[Default Applications]\nimage/png=office.desktop;\n");
    EXPECT_EQ(Ids(EditorCandidates(m_picture)),
              QStringList({"paint.desktop", "kde-draw.desktop", "zz.desktop"}));
}

TEST_F(EditorChoiceTest, EditFileStartsTheFirstEditorWithTheFile) {
    Write("config/mimeapps.list", "[Default Applications]\nimage/png=kde-draw.desktop\n");
    std::vector<QStringList> started;
    SetEditLauncher([&](const QStringList& argv) {
        started.push_back(argv);
        return true;
    });
    const int result = EditFile(m_picture);
    EXPECT_GT(result, 32);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(
        started[0],
        QStringList({"true", "draw", QUrl::fromLocalFile(m_picture).toString(QUrl::FullyEncoded)}));
}

TEST_F(EditorChoiceTest, ARelativePathIsMadeAbsolute) {
    std::vector<QStringList> started;
    SetEditLauncher([&](const QStringList& argv) {
        started.push_back(argv);
        return true;
    });
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Path("pictures")));
    const int result = EditFile("a picture.png");
    QDir::setCurrent(old);
    EXPECT_EQ(result, kShellStarted);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0], QStringList({"true", "paint", m_picture}));
}

TEST_F(EditorChoiceTest, MissingFileOrFolderIsFileNotFound) {
    bool called = false;
    SetEditLauncher([&](const QStringList&) { return called = true; });
    EXPECT_EQ(EditFile(Path("pictures/missing.png")), kShellFileNotFound);
    EXPECT_EQ(EditFile(Path("pictures")), kShellFileNotFound);
    EXPECT_EQ(EditFile(QString()), kShellFileNotFound);
    EXPECT_FALSE(called);
}

TEST_F(EditorChoiceTest, NoEditorIsNoAssociation) {
    Write("pictures/notes.txt", "just text\n");
    bool called = false;
    SetEditLauncher([&](const QStringList&) { return called = true; });
    EXPECT_EQ(EditFile(Path("pictures/notes.txt")), kShellNoAssociation);
    EXPECT_FALSE(called);
}

TEST_F(EditorChoiceTest, AFailedLaunchIsAnotherError) {
    SetEditLauncher([](const QStringList&) { return false; });
    const int result = EditFile(m_picture);
    EXPECT_LE(result, 32);
    EXPECT_NE(result, kShellNoAssociation);
    EXPECT_NE(result, kShellFileNotFound);
}

TEST_F(EditorChoiceTest, TheRealLauncherStartsAProgram) {
    // "true" exits at once; a launcher that could not start it would say so.
    EXPECT_EQ(EditFile(m_picture), kShellStarted);
}

TEST_F(EditorChoiceTest, RememberedEntriesAreReadAgainOnlyWhenAFolderChanged) {
    const auto read = [] {
        QStringList ids;
        for (const TDesktopEntry& e : CachedDesktopEntries()) ids << e.Id;
        return ids;
    };
    EXPECT_FALSE(DesktopEntriesCached());
    const QStringList first = read();
    EXPECT_TRUE(first.contains("kde-draw.desktop"));
    EXPECT_TRUE(DesktopEntriesCached());
    const int scans = GuiThreadDesktopScans();
    EXPECT_EQ(read(), first);
    EXPECT_EQ(GuiThreadDesktopScans(), scans);

    // A new entry in a subfolder, a removed one in a top folder.
    Write("sys1/applications/kde/paintbox.desktop",
          Entry("true box %f", "image/png;", "Graphics;"));
    EXPECT_FALSE(DesktopEntriesCached());
    EXPECT_TRUE(read().contains("kde-paintbox.desktop"));
    ASSERT_TRUE(QFile::remove(Path("sys2/applications/zz.desktop")));
    EXPECT_FALSE(read().contains("zz.desktop"));
    EXPECT_EQ(read(), [] {
        QStringList ids;
        for (const TDesktopEntry& e : InstalledDesktopEntries()) ids << e.Id;
        return ids;
    }());
}

TEST_F(EditorChoiceTest, EntriesReadOnAWorkerServeTheGuiThread) {
    std::thread worker([] { (void)CachedDesktopEntries(); });
    worker.join();
    const int scans = GuiThreadDesktopScans();
    EXPECT_EQ(Ids(EditorCandidates(m_picture)),
              QStringList({"paint.desktop", "kde-draw.desktop", "zz.desktop"}));
    EXPECT_EQ(GuiThreadDesktopScans(), scans);
}

} // namespace
