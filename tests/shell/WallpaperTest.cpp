#include "shell/Wallpaper.h"

#include "common/TestSupport.h"
#include "gfx/BlendOps.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable failure messages for commands.
static void PrintTo(const TWallpaperCommand& c, std::ostream* os) {
    *os << (c.SetsPicture ? "[picture]" : "[layout]");
    for (const QString& a : c.Argv) *os << ' ' << '"' << a.toStdString() << '"';
}

namespace {

// ---- FitRect ----

struct TFitCase {
    std::string Name;
    int Sw, Sh, Tw, Th;
    int Width, Height;
};

void PrintTo(const TFitCase& c, std::ostream* os) {
    *os << c.Name;
}

class FitRectTest : public testing::TestWithParam<TFitCase> {};

TEST_P(FitRectTest, LargestFitAtTheOrigin) {
    const TFitCase& c = GetParam();
    EXPECT_EQ(FitRect(c.Sw, c.Sh, c.Tw, c.Th), TRect(0, 0, c.Width, c.Height));
}

INSTANTIATE_TEST_SUITE_P(
    Table, FitRectTest,
    testing::Values(TFitCase{"WideOnFullHd", 1000, 500, 1920, 1080, 1920, 960},
                    TFitCase{"SmallSourceIsEnlarged", 100, 50, 1920, 1080, 1920, 960},
                    TFitCase{"TallSource", 500, 1000, 1920, 1080, 540, 1080},
                    TFitCase{"TallSourceRounded", 333, 1000, 1920, 1080, 360, 1080},
                    TFitCase{"SquareOnWide", 100, 100, 1920, 1080, 1080, 1080},
                    TFitCase{"SameAspect", 3840, 2160, 1920, 1080, 1920, 1080},
                    TFitCase{"RoundsUp", 3, 2, 4, 4, 4, 3},
                    TFitCase{"HalfRoundsUp", 4, 1, 2, 2, 2, 1},
                    TFitCase{"RoundsDown", 3, 1, 4, 4, 4, 1},
                    TFitCase{"VeryWide", 20000, 100, 1920, 1080, 1920, 10},
                    TFitCase{"VeryTallRoundsToNothing", 1, 20000, 1920, 1080, 0, 1080},
                    TFitCase{"OnePixel", 1, 1, 1920, 1080, 1080, 1080},
                    TFitCase{"HugeSides", 2000000000, 1, 2000000000, 2000000000, 2000000000, 1},
                    TFitCase{"EmptySource", 0, 10, 1920, 1080, 0, 0},
                    TFitCase{"EmptyTarget", 10, 10, 0, 1080, 0, 0}),
    [](const testing::TestParamInfo<TFitCase>& info) { return info.param.Name; });

// ---- Composition ----

TBitmap32 Filled(int w, int h, TColor32 colour) {
    TBitmap32 b(w, h);
    b.Clear(colour);
    return b;
}

constexpr TColor32 kEdge = 0xFF3366CCu;
constexpr TColor32 kInside = 0xFFE0C020u;
constexpr TColor32 kSides = 0xFF10F010u;

TEST(ComposeWallpaper, OptimalDrawsBandsInTheEdgeColour) {
    // Top and bottom rows one colour, the sides another, the inside a third: the
    // free bands above and below take the colour of the edges that border them.
    TBitmap32 picture = Filled(1000, 500, kInside);
    for (int y = 0; y < 500; ++y) {
        picture.SetPixel(0, y, kSides);
        picture.SetPixel(999, y, kSides);
    }
    for (int x = 0; x < 1000; ++x) {
        picture.SetPixel(x, 0, kEdge);
        picture.SetPixel(x, 499, kEdge);
    }
    const TBitmap32 wall =
        ComposeWallpaper(picture, TWallpaperStyle::wsOptimal, 1920, 1080, clBlack32);
    ASSERT_EQ(wall.Width(), 1920);
    ASSERT_EQ(wall.Height(), 1080);
    for (int y : {0, 30, 59, 1020, 1050, 1079})
        for (int x : {0, 700, 1919}) EXPECT_EQ(wall.Pixel(x, y), kEdge) << x << ',' << y;
    // The picture fills rows 60 ... 1019, edge to edge.
    EXPECT_EQ(wall.Pixel(960, 540), kInside);
    EXPECT_LT(RedOf(wall.Pixel(0, 540)), 0x60); // mostly the side colour
    EXPECT_LT(RedOf(wall.Pixel(1919, 540)), 0x60);
    EXPECT_NE(wall.Pixel(960, 60), kInside); // the picture's top edge, not a band
    EXPECT_TRUE(wall.IsOpaque());
}

TEST(ComposeWallpaper, OptimalShowsTheBackgroundThroughTransparency) {
    TBitmap32 picture = Filled(100, 50, 0x00FF00FFu);
    for (int x = 0; x < 100; ++x) {
        picture.SetPixel(x, 0, kEdge);
        picture.SetPixel(x, 49, kEdge);
    }
    const TBitmap32 wall = ComposeWallpaper(picture, TWallpaperStyle::wsOptimal, 200, 100, 0);
    ASSERT_EQ(wall.Width(), 200);
    EXPECT_EQ(wall.Pixel(100, 50), kEdge);
    EXPECT_TRUE(wall.IsOpaque());
}

TEST(ComposeWallpaper, ExtremeShapesFitTheScreen) {
    // 1 x 1 is enlarged to the screen's height.
    TBitmap32 dot = Filled(1, 1, kInside);
    TBitmap32 wall = ComposeWallpaper(dot, TWallpaperStyle::wsOptimal, 192, 108, clBlack32);
    ASSERT_EQ(wall.Width(), 192);
    EXPECT_EQ(wall.Pixel(96, 54), kInside);

    // 20000 x 100 becomes a strip ten pixels high across the middle.
    TBitmap32 strip = Filled(20000, 100, kInside);
    for (int x = 0; x < 20000; ++x) {
        strip.SetPixel(x, 0, kEdge);
        strip.SetPixel(x, 99, kEdge);
    }
    wall = ComposeWallpaper(strip, TWallpaperStyle::wsOptimal, 1920, 1080, clBlack32);
    ASSERT_EQ(wall.Height(), 1080);
    EXPECT_EQ(wall.Pixel(960, 534), kEdge);
    EXPECT_EQ(wall.Pixel(960, 545), kEdge);
    EXPECT_EQ(RedOf(wall.Pixel(960, 540)), RedOf(kInside));

    // 1 x 20000 rounds to no width at all, yet keeps a one-pixel line.
    TBitmap32 line(1, 20000);
    for (int y = 0; y < 20000; ++y) line.SetPixel(0, y, y < 10000 ? kInside : kEdge);
    wall = ComposeWallpaper(line, TWallpaperStyle::wsOptimal, 64, 48, clBlack32);
    ASSERT_EQ(wall.Width(), 64);
    EXPECT_EQ(wall.Pixel(32, 5), kInside);
    EXPECT_EQ(wall.Pixel(32, 40), kEdge);
    EXPECT_NE(wall.Pixel(31, 5), kInside);
    EXPECT_NE(wall.Pixel(33, 5), kInside);
}

TEST(ComposeWallpaper, OtherStylesBlendThePictureOverTheDesktopColourAtItsOwnSize) {
    TBitmap32 picture(3, 1);
    picture.SetPixel(0, 0, 0xFFFF0000u);
    picture.SetPixel(1, 0, 0x0000FF00u);
    picture.SetPixel(2, 0, 0x800000FFu);
    constexpr TColor32 kDesktop = 0x00102030u; // its alpha does not matter
    for (TWallpaperStyle style :
         {TWallpaperStyle::wsTile, TWallpaperStyle::wsCenter, TWallpaperStyle::wsStretch}) {
        const TBitmap32 wall = ComposeWallpaper(picture, style, 1920, 1080, kDesktop);
        ASSERT_EQ(wall.Width(), 3);
        ASSERT_EQ(wall.Height(), 1);
        EXPECT_EQ(wall.Pixel(0, 0), 0xFFFF0000u);
        EXPECT_EQ(wall.Pixel(1, 0), 0xFF102030u);
        EXPECT_EQ(wall.Pixel(2, 0), BlendDraw(0x800000FFu, 0xFF102030u));
    }
}

TEST(ComposeWallpaper, NothingForAnEmptyPictureOrScreen) {
    EXPECT_TRUE(ComposeWallpaper(TBitmap32(), TWallpaperStyle::wsTile, 10, 10, clBlack32).Empty());
    EXPECT_TRUE(
        ComposeWallpaper(Filled(4, 4, kEdge), TWallpaperStyle::wsOptimal, 0, 10, 0).Empty());
}

// ---- BMP ----

TEST(EncodeBmp, ReadsBackWithPaddedRows) {
    TBitmap32 b(3, 2);
    const TColor32 colours[2][3] = {{0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu},
                                    {0xFF123456u, 0x80FFFFFFu, 0xFF000000u}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) b.SetPixel(x, y, colours[y][x]);
    const QByteArray bmp = EncodeBmp(b);
    ASSERT_EQ(bmp.size(), 54 + 2 * 12); // 9 bytes a row, padded to 12
    EXPECT_EQ(bmp.left(2), "BM");
    EXPECT_EQ(quint8(bmp[28]), 24);
    EXPECT_EQ(quint8(bmp[2]), 78);
    const QImage image = QImage::fromData(bmp, "BMP");
    ASSERT_EQ(image.size(), QSize(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(image.pixel(x, y), colours[y][x] | 0xFF000000u) << x << ',' << y;
    EXPECT_TRUE(EncodeBmp(TBitmap32()).isEmpty());
}

// ---- Commands ----

const QString kFile = QStringLiteral("/home/u/.local/share/Pictrel/VekImageViewer Wallpaper.bmp");
const QString kUri =
    QStringLiteral("file:///home/u/.local/share/Pictrel/VekImageViewer%20Wallpaper.bmp");

TWallpaperCommand Gs(const QString& schema, const QString& key, const QString& value,
                     bool picture) {
    return {{"gsettings", "set", schema, key, value}, picture};
}

std::vector<TWallpaperCommand> Gnome(const QString& option) {
    const QString s = QStringLiteral("org.gnome.desktop.background");
    return {Gs(s, "picture-options", option, false), Gs(s, "picture-uri", kUri, true),
            Gs(s, "picture-uri-dark", kUri, true)};
}

TWallpaperCommand Xfconf(const QStringList& args, bool picture) {
    return {QStringList{"xfconf-query", "-c", "xfce4-desktop"} + args, picture};
}

const QString kMonitor = QStringLiteral("/backdrop/screen0/monitorHDMI-1/workspace0/");
const QString kMonitor2 = QStringLiteral("/backdrop/screen0/monitor0/workspace1/");
const QStringList kXfceProperties{kMonitor + "image-style", kMonitor + "last-image",
                                  "/backdrop/single-workspace-mode", kMonitor2 + "last-image",
                                  "/desktop-icons/last-image-size"};

struct TCommandCase {
    std::string Name;
    QString Desktop;
    TWallpaperStyle Style;
    std::vector<TWallpaperCommand> Expected;
};

void PrintTo(const TCommandCase& c, std::ostream* os) {
    *os << c.Name;
}

class WallpaperCommandsTest : public testing::TestWithParam<TCommandCase> {};

TEST_P(WallpaperCommandsTest, ForTheDesktop) {
    EXPECT_EQ(WallpaperCommands(GetParam().Desktop, kFile, GetParam().Style, kXfceProperties),
              GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, WallpaperCommandsTest,
    testing::Values(
        TCommandCase{"GnomeTile", "GNOME", TWallpaperStyle::wsTile, Gnome("wallpaper")},
        TCommandCase{"UbuntuOptimal", "ubuntu:GNOME", TWallpaperStyle::wsOptimal, Gnome("zoom")},
        TCommandCase{"BudgieCenter", "Budgie:GNOME", TWallpaperStyle::wsCenter, Gnome("centered")},
        TCommandCase{"UnityStretchAnyCase", "unity", TWallpaperStyle::wsStretch,
                     Gnome("stretched")},
        TCommandCase{"Cinnamon",
                     "X-Cinnamon",
                     TWallpaperStyle::wsTile,
                     {Gs("org.cinnamon.desktop.background", "picture-options", "wallpaper", false),
                      Gs("org.cinnamon.desktop.background", "picture-uri", kUri, true)}},
        TCommandCase{"Mate",
                     "MATE",
                     TWallpaperStyle::wsOptimal,
                     {Gs("org.mate.background", "picture-options", "zoom", false),
                      Gs("org.mate.background", "picture-filename", kFile, true)}},
        TCommandCase{"Kde",
                     "KDE",
                     TWallpaperStyle::wsCenter,
                     {{{"plasma-apply-wallpaperimage", kFile}, true}}},
        TCommandCase{
            "XfceEveryMonitor",
            "XFCE",
            TWallpaperStyle::wsTile,
            {Xfconf({"-p", kMonitor + "image-style", "-n", "-t", "int", "-s", "2"}, false),
             Xfconf({"-p", kMonitor + "last-image", "-s", kFile}, true),
             Xfconf({"-p", kMonitor2 + "image-style", "-n", "-t", "int", "-s", "2"}, false),
             Xfconf({"-p", kMonitor2 + "last-image", "-s", kFile}, true)}},
        TCommandCase{
            "XfceCenter",
            "xfce",
            TWallpaperStyle::wsCenter,
            {Xfconf({"-p", kMonitor + "image-style", "-n", "-t", "int", "-s", "1"}, false),
             Xfconf({"-p", kMonitor + "last-image", "-s", kFile}, true),
             Xfconf({"-p", kMonitor2 + "image-style", "-n", "-t", "int", "-s", "1"}, false),
             Xfconf({"-p", kMonitor2 + "last-image", "-s", kFile}, true)}},
        TCommandCase{"UnknownFirstKnownSecond",
                     "sway:KDE",
                     TWallpaperStyle::wsTile,
                     {{{"plasma-apply-wallpaperimage", kFile}, true}}},
        TCommandCase{
            "NoDesktopTile", "", TWallpaperStyle::wsTile, {{{"feh", "--bg-tile", kFile}, true}}},
        TCommandCase{"OtherCenter",
                     "LXQt",
                     TWallpaperStyle::wsCenter,
                     {{{"feh", "--bg-center", kFile}, true}}},
        TCommandCase{"OtherStretch",
                     "sway",
                     TWallpaperStyle::wsStretch,
                     {{{"feh", "--bg-scale", kFile}, true}}},
        TCommandCase{"OtherOptimal",
                     "i3",
                     TWallpaperStyle::wsOptimal,
                     {{{"feh", "--bg-max", kFile}, true}}}),
    [](const testing::TestParamInfo<TCommandCase>& info) { return info.param.Name; });

TEST(WallpaperCommands, XfceWithoutPropertiesHasNothingToSet) {
    EXPECT_TRUE(WallpaperCommands("XFCE", kFile, TWallpaperStyle::wsTile, {}).empty());
    EXPECT_EQ(
        WallpaperCommands("XFCE", kFile, TWallpaperStyle::wsTile, {"/other/last-image2"}).size(),
        0u);
}

// ---- Setting the wallpaper ----

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

QString ReadStore(const QString& value) {
    TRegistry reg(TRegRoot::rrCurrentUser);
    if (!reg.OpenKey("\\Control panel\\Desktop", false)) return "<no key>";
    return reg.ReadString(value).value_or("<no value>");
}

// Fake desktop setters in a private folder that is the whole PATH: each records
// its name and arguments ('|' before each) as one line of a log.
class SetWallpaperTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_bin.isValid());
        ASSERT_TRUE(m_empty.isValid());
        m_log = m_bin.path() + "/calls.log";
        m_path = std::make_unique<TScopedEnv>("PATH", QFile::encodeName(m_bin.path()));
        for (const QString& file : WallpaperFiles()) QFile::remove(file);
    }

    void UseDesktop(const QByteArray& desktop) {
        m_desktop.reset(); // the old value comes back first
        m_desktop = std::make_unique<TScopedEnv>("XDG_CURRENT_DESKTOP", desktop);
    }

    // `body` runs after the call is logged.
    void Script(const QString& name, const QByteArray& body = {}) {
        const QString path = m_bin.path() + '/' + name;
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const QByteArray log = QFile::encodeName(m_log);
        file.write("#!/bin/sh\nprintf '%s' '" + name.toUtf8() + "' >> '" + log +
                   "'\nfor a in \"$@\"; do printf '|%s' \"$a\" >> '" + log +
                   "'; done\nprintf '\\n' >> '" + log + "'\n" + body);
        file.close();
        ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QStringList Calls() const {
        QFile file(m_log);
        if (!file.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
    }

    static QString Uri() {
        return QString::fromLatin1(QUrl::fromLocalFile(WallpaperFileName()).toEncoded());
    }

    static TBitmap32 Picture() {
        TBitmap32 picture = Filled(30, 20, kInside);
        picture.SetPixel(0, 0, kEdge);
        return picture;
    }

    QTemporaryDir m_bin, m_empty;
    QString m_log;
    std::unique_ptr<TScopedEnv> m_path, m_desktop;
};

TEST_F(SetWallpaperTest, FolderAndFileName) {
    const QString folder = qEnvironmentVariable("XDG_DATA_HOME") + "/Pictrel/";
    EXPECT_EQ(WallpaperFolder(), folder);
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_EQ(WallpaperFileName(), folder + "VekImageViewer Wallpaper 1.bmp");
}

// Desktops that compare the value they are handed see a new one each time; the
// two newest files stay (an unnumbered one from before counts as the oldest).
TEST_F(SetWallpaperTest, EachSetHandsOverANewFileAndKeepsTheLastTwo) {
    UseDesktop("GNOME");
    Script("gsettings");
    const QString folder = WallpaperFolder();
    QFile old(folder + "VekImageViewer Wallpaper.bmp");
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.close();
    QStringList uris;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(SetWallpaper(Picture(), TWallpaperStyle::wsCenter, 1920, 1080));
        uris << Uri();
        EXPECT_EQ(QImage(WallpaperFileName(), "BMP").size(), QSize(30, 20));
    }
    EXPECT_NE(uris[0], uris[1]);
    EXPECT_NE(uris[1], uris[2]);
    QStringList handed;
    for (const QString& call : Calls())
        if (call.contains("|picture-uri|")) handed << call.section('|', 4);
    EXPECT_EQ(handed, uris);
    EXPECT_EQ(WallpaperFiles(), QStringList({folder + "VekImageViewer Wallpaper 2.bmp",
                                             folder + "VekImageViewer Wallpaper 3.bmp"}));
}

TEST_F(SetWallpaperTest, TiledOnGnomeSavesThePictureAtItsOwnSize) {
    UseDesktop("ubuntu:GNOME");
    Script("gsettings");
    EXPECT_TRUE(SetWallpaper(Picture(), TWallpaperStyle::wsTile, 1920, 1080));
    EXPECT_EQ(ReadStore("TileWallpaper"), "1");
    EXPECT_EQ(ReadStore("WallpaperStyle"), "0");
    const QImage saved(WallpaperFileName(), "BMP");
    ASSERT_EQ(saved.size(), QSize(30, 20));
    EXPECT_EQ(saved.pixel(0, 0), kEdge);
    EXPECT_EQ(saved.pixel(29, 19), kInside);
    EXPECT_EQ(
        Calls(),
        QStringList({"gsettings|set|org.gnome.desktop.background|picture-options|wallpaper",
                     "gsettings|set|org.gnome.desktop.background|picture-uri|" + Uri(),
                     "gsettings|set|org.gnome.desktop.background|picture-uri-dark|" + Uri()}));
}

struct TStyleCase {
    std::string Name;
    TWallpaperStyle Style;
    QString Tile, WallpaperStyle;
    QSize Saved;
};

void PrintTo(const TStyleCase& c, std::ostream* os) {
    *os << c.Name;
}

class SetWallpaperStyleTest : public SetWallpaperTest,
                              public testing::WithParamInterface<TStyleCase> {};

TEST_P(SetWallpaperStyleTest, StoreValuesAndSavedSize) {
    UseDesktop("KDE");
    Script("plasma-apply-wallpaperimage");
    EXPECT_TRUE(SetWallpaper(Picture(), GetParam().Style, 64, 48));
    EXPECT_EQ(ReadStore("TileWallpaper"), GetParam().Tile);
    EXPECT_EQ(ReadStore("WallpaperStyle"), GetParam().WallpaperStyle);
    EXPECT_EQ(QImage(WallpaperFileName(), "BMP").size(), GetParam().Saved);
    EXPECT_EQ(Calls(), QStringList({"plasma-apply-wallpaperimage|" + WallpaperFileName()}));
}

INSTANTIATE_TEST_SUITE_P(
    Styles, SetWallpaperStyleTest,
    testing::Values(TStyleCase{"Tile", TWallpaperStyle::wsTile, "1", "0", QSize(30, 20)},
                    TStyleCase{"Center", TWallpaperStyle::wsCenter, "0", "0", QSize(30, 20)},
                    TStyleCase{"Stretch", TWallpaperStyle::wsStretch, "0", "2", QSize(30, 20)},
                    TStyleCase{"Optimal", TWallpaperStyle::wsOptimal, "0", "0", QSize(64, 48)}),
    [](const testing::TestParamInfo<TStyleCase>& info) { return info.param.Name; });

TEST_F(SetWallpaperTest, XfceSetsEveryListedMonitor) {
    UseDesktop("XFCE");
    Script("xfconf-query", "if [ \"$3\" = -l ]; then\n"
                           "  echo /backdrop/screen0/monitorHDMI-1/workspace0/image-style\n"
                           "  echo /backdrop/screen0/monitorHDMI-1/workspace0/last-image\n"
                           "  echo /backdrop/single-workspace-mode\n"
                           "fi\n");
    EXPECT_TRUE(SetWallpaper(Picture(), TWallpaperStyle::wsOptimal, 64, 48));
    const QString monitor = "/backdrop/screen0/monitorHDMI-1/workspace0/";
    EXPECT_EQ(Calls(), QStringList({"xfconf-query|-c|xfce4-desktop|-l",
                                    "xfconf-query|-c|xfce4-desktop|-p|" + monitor +
                                        "image-style|-n|-t|int|-s|5",
                                    "xfconf-query|-c|xfce4-desktop|-p|" + monitor +
                                        "last-image|-s|" + WallpaperFileName()}));
}

TEST_F(SetWallpaperTest, AFailingLayoutStepStillCountsThePicture) {
    UseDesktop("GNOME");
    Script("gsettings", "[ \"$3\" = picture-options ] && exit 1\nexit 0\n");
    EXPECT_TRUE(SetWallpaper(Picture(), TWallpaperStyle::wsCenter, 64, 48));
    EXPECT_EQ(Calls().size(), 3);
}

TEST_F(SetWallpaperTest, OnlyTheLayoutSucceedingIsFailure) {
    UseDesktop("GNOME");
    Script("gsettings", "[ \"$3\" = picture-options ] && exit 0\nexit 1\n");
    EXPECT_FALSE(SetWallpaper(Picture(), TWallpaperStyle::wsCenter, 64, 48));
    EXPECT_EQ(Calls().size(), 3);
}

TEST_F(SetWallpaperTest, MissingSetterIsFailureButTheFileIsSaved) {
    m_path.reset();
    m_path = std::make_unique<TScopedEnv>("PATH", QFile::encodeName(m_empty.path()));
    for (const QByteArray desktop : {"GNOME", "KDE", "XFCE", "", "sway"}) {
        UseDesktop(desktop);
        EXPECT_FALSE(SetWallpaper(Picture(), TWallpaperStyle::wsTile, 64, 48)) << desktop.data();
    }
    EXPECT_EQ(QImage(WallpaperFileName(), "BMP").size(), QSize(30, 20));
}

TEST_F(SetWallpaperTest, EmptyPictureDoesNothing) {
    UseDesktop("KDE");
    Script("plasma-apply-wallpaperimage");
    EXPECT_FALSE(SetWallpaper(TBitmap32(), TWallpaperStyle::wsOptimal, 64, 48));
    EXPECT_FALSE(QFile::exists(WallpaperFileName()));
    EXPECT_TRUE(Calls().isEmpty());
}

} // namespace
