// The picture menus, "Set as wallpaper" and "Edit" in the viewer.

#include "app/DesktopEntries.h"
#include "viewer/ViewerFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

#include <mutex>
#include <string>
#include <vector>

namespace {

using pictrel::test::ViewerWindow;
using pictrel::test::WritePicture;

// A menu as text: captions, "-" for separators, "[title]" for a submenu.
QStringList MenuText(const QMenu* menu) {
    QStringList items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items << QStringLiteral("-");
        else if (action->menu() != nullptr)
            items << u'[' + action->text() + u']';
        else
            items << action->text();
    }
    return items;
}

class ViewerCommands : public ViewerWindow {
protected:
    struct TCall {
        TWallpaperStyle Style;
        int Width, Height;
        QRgb TopLeft;
        int ScreenW, ScreenH;
    };

    void SetUp() override {
        ViewerWindow::SetUp();
        m_form->Commands.WallpaperSetter = [this](const TBitmap32& picture, TWallpaperStyle style,
                                                  int w, int h) {
            const std::lock_guard lock(m_mutex);
            m_calls.push_back({style, picture.Width(), picture.Height(),
                               picture.Empty() ? 0 : picture.ScanLine(0)[0], w, h});
            return m_accept;
        };
        // Red on the left half, blue on the right.
        WritePicture(Path("a.png"), qRgb(255, 0, 0), 40, 20, qRgb(0, 0, 255));
        m_form->OpenFile(Path("a.png"));
        ASSERT_TRUE(WaitShown("a.png"));
        m_form->UpdateActions();
    }

    void SetWallpaperBy(QAction* action) {
        ASSERT_TRUE(action->isEnabled());
        action->trigger();
        ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !m_form->Commands.SettingWallpaper(); }));
    }

    std::mutex m_mutex;
    std::vector<TCall> m_calls;
    bool m_accept = true;
};

TEST_F(ViewerCommands, PictureMenusHoldTheirItemsInOrder) {
    const QStringList tail = {"-", "Edit",        "Copy", "Copy path",        "Delete", "Print",
                              "-", "Simple mode", "-",    "Pictrel settings", "-",      "Exit"};
    EXPECT_EQ(MenuText(m_form->Actions.ImageTBXPopupMenu),
              QStringList({"Show image information", "Show comment", "Show histogram",
                           "Show EXIF information", "Show IPTC information", "Show XMP information",
                           "Show GeoTIFF information", "-", "[Set as wallpaper]", "-", "Fit width",
                           "Actual size"}) +
                  tail);
    EXPECT_EQ(MenuText(m_form->Actions.SimpleModeTBXPopupMenu),
              QStringList{"[Set as wallpaper]"} + tail);
    EXPECT_EQ(MenuText(m_form->Actions.WallpaperTBXSubmenu),
              QStringList({"optimal", "-", "tile", "center", "stretch"}));
}

TEST_F(ViewerCommands, EachWallpaperCommandSetsItsStyle) {
    const std::pair<QAction*, TWallpaperStyle> cases[] = {
        {m_form->Actions.WallpaperAction, TWallpaperStyle::wsOptimal},
        {m_form->Actions.OptimalWallpaperAction, TWallpaperStyle::wsOptimal},
        {m_form->Actions.TileWallpaperAction, TWallpaperStyle::wsTile},
        {m_form->Actions.CenterWallpaperAction, TWallpaperStyle::wsCenter},
        {m_form->Actions.StretchWallpaperAction, TWallpaperStyle::wsStretch}};
    for (const auto& [action, style] : cases) {
        m_calls.clear();
        SetWallpaperBy(action);
        ASSERT_EQ(m_calls.size(), 1U) << action->text().toStdString();
        EXPECT_EQ(m_calls[0].Style, style) << action->text().toStdString();
        EXPECT_EQ(m_calls[0].Width, 40);
        EXPECT_EQ(m_calls[0].TopLeft, 0xFFFF0000U);
        // The screen the window is on, in device pixels.
        const QScreen* screen = m_form->screen();
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(m_calls[0].ScreenW, qRound(screen->size().width() * screen->devicePixelRatio()));
        EXPECT_EQ(m_calls[0].ScreenH, qRound(screen->size().height() * screen->devicePixelRatio()));
    }
    EXPECT_TRUE(m_warnings.isEmpty()) << m_warnings.join(u'|').toStdString();
}

TEST_F(ViewerCommands, TheWallpaperIsTurnedAsShown) {
    m_form->Actions.RotateLeftAction->trigger();
    SetWallpaperBy(m_form->Actions.WallpaperAction);
    ASSERT_EQ(m_calls.size(), 1U);
    EXPECT_EQ(m_calls[0].Width, 20);
    EXPECT_EQ(m_calls[0].Height, 40);
    // Turned left, the blue right half comes to the top.
    EXPECT_EQ(m_calls[0].TopLeft, 0xFF0000FFU);
}

TEST_F(ViewerCommands, ADesktopThatRefusesTheWallpaperIsReported) {
    m_accept = false;
    // The file may even be gone: the wallpaper is made from the picture on screen.
    QFile::remove(Path("a.png"));
    SetWallpaperBy(m_form->Actions.TileWallpaperAction);
    EXPECT_EQ(m_calls.size(), 1U);
    EXPECT_EQ(m_warnings, QStringList{"Can't set the wallpaper on this desktop"});
}

TEST_F(ViewerCommands, WallpaperAndEditNeedAPicture) {
    WritePicture(Path("b.png"), qRgb(0, 255, 0));
    QFile bad(Path("c.png"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("not a picture");
    bad.close();
    m_form->OpenFile(Path("c.png"));
    ASSERT_TRUE(WaitShown("c.png"));
    m_form->UpdateActions();
    EXPECT_FALSE(m_form->Actions.WallpaperAction->isVisible());
    EXPECT_FALSE(m_form->Actions.OpenEditAction->isVisible());
    EXPECT_FALSE(m_form->Actions.TileWallpaperAction->isEnabled());
    EXPECT_FALSE(m_form->Actions.CopyAction->isVisible());
}

// Ctrl+C puts the picture, turned as shown, and the file's URI on the clipboard;
// Ctrl+Shift+C the path as text.
TEST_F(ViewerCommands, CopyGivesThePictureAsShownAndThePath) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    m_form->Actions.RotateLeftAction->trigger();
    m_form->UpdateActions();
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(m_form.get(), &copy);
    ASSERT_TRUE(pictrel::test::PumpUntil([&] {
        const QMimeData* data = clipboard->mimeData();
        return data != nullptr && data->hasFormat(QStringLiteral("image/png"));
    }));
    const QMimeData* data = clipboard->mimeData();
    const QImage image = QImage::fromData(data->data(QStringLiteral("image/png")), "png");
    ASSERT_EQ(image.size(), QSize(20, 40));
    // Turned left, the blue right half comes to the top.
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(0, 39), qRgb(255, 0, 0));
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(Path("a.png"))});

    QKeyEvent path(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier,
                   QStringLiteral("C"));
    QApplication::sendEvent(m_form.get(), &path);
    EXPECT_EQ(clipboard->text(), QDir::toNativeSeparators(Path("a.png")));
    EXPECT_TRUE(m_warnings.isEmpty()) << m_warnings.join(u'|').toStdString();
}

// The editor launch with a private set of desktop entries and a recording launcher.
class ViewerEdit : public ViewerCommands {
protected:
    void SetUp() override {
        m_oldHome = qgetenv("XDG_DATA_HOME");
        m_oldDirs = qgetenv("XDG_DATA_DIRS");
        m_oldConfig = qgetenv("XDG_CONFIG_HOME");
        ASSERT_TRUE(QDir().mkpath(m_apps.filePath("applications")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_apps.path()));
        // The system's MIME database, but none of its applications.
        ASSERT_TRUE(QDir().mkpath(m_apps.filePath("sys")));
        QFile::link(QStringLiteral("/usr/share/mime"), m_apps.filePath("sys/mime"));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_apps.filePath("sys")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_apps.filePath("config")));
        m_oldLauncher = SetEditLauncher([this](const QStringList& argv) {
            m_launched.append(argv);
            return m_launchWorks;
        });
        ViewerCommands::SetUp();
    }
    void TearDown() override {
        SetEditLauncher(m_oldLauncher);
        qputenv("XDG_DATA_HOME", m_oldHome);
        qputenv("XDG_DATA_DIRS", m_oldDirs);
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        ViewerCommands::TearDown();
    }
    void InstallEditor() {
        QFile entry(m_apps.filePath("applications/paint.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Paint\nExec=sh -c true %f\n"
                    "MimeType=image/png;\nCategories=Graphics;RasterGraphics;\n");
    }

    QTemporaryDir m_apps;
    QByteArray m_oldHome, m_oldDirs, m_oldConfig;
    TLauncher m_oldLauncher;
    QStringList m_launched;
    bool m_launchWorks = true;
};

TEST_F(ViewerEdit, ReportsEachOutcome) {
    struct {
        const char* Name;
        bool Editor, Launches, Deleted;
        QStringList Warnings;
    } const cases[] = {
        {"no editor", false, true, false, {"No association with this file type"}},
        {"started", true, true, false, {}},
        {"launch fails", true, false, false, {"Can't edit file"}},
        {"file deleted", true, true, true, {"Can't edit file"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.Editor) InstallEditor();
        m_launchWorks = c.Launches;
        if (c.Deleted) QFile::remove(Path("a.png"));
        m_warnings.clear();
        m_launched.clear();
        m_form->Actions.OpenEditAction->trigger();
        // An editor installed just now is read on a worker first.
        EXPECT_TRUE(pictrel::test::PumpUntil(
            [&] { return !m_warnings.isEmpty() || !m_launched.isEmpty(); }));
        EXPECT_EQ(m_warnings, c.Warnings);
        if (c.Editor && !c.Deleted)
            EXPECT_EQ(m_launched, QStringList({"sh", "-c", "true", Path("a.png")}));
        else
            EXPECT_TRUE(m_launched.isEmpty());
    }
}

TEST_F(ViewerEdit, TheEntriesAreReadOnAWorkerBeforeEditIsAsked) {
    InstallEditor();
    // Shown again now that the editor is there: the viewer reads the entries meanwhile.
    WritePicture(Path("b.png"), qRgb(0, 255, 0), 8, 8, qRgb(0, 255, 0));
    m_form->OpenFile(Path("b.png"));
    ASSERT_TRUE(WaitShown("b.png"));
    m_form->UpdateActions();
    ASSERT_TRUE(pictrel::test::PumpUntil([] { return DesktopEntriesCached(); }));
    const int scans = GuiThreadDesktopScans();
    m_form->Actions.OpenEditAction->trigger();
    EXPECT_EQ(m_launched, QStringList({"sh", "-c", "true", Path("b.png")}));
    EXPECT_TRUE(m_warnings.isEmpty());
    EXPECT_EQ(GuiThreadDesktopScans(), scans);
}

TEST_F(ViewerEdit, EditAskedBeforeTheEntriesAreReadWaitsForTheWorker) {
    InstallEditor(); // the folders changed: the entries are not known now
    ASSERT_FALSE(DesktopEntriesCached());
    const int scans = GuiThreadDesktopScans();
    m_form->Actions.OpenEditAction->trigger();
    EXPECT_TRUE(m_launched.isEmpty()) << "nothing started before the entries are in";
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !m_launched.isEmpty(); }));
    EXPECT_EQ(m_launched, QStringList({"sh", "-c", "true", Path("a.png")}));
    EXPECT_EQ(GuiThreadDesktopScans(), scans);
}

} // namespace
