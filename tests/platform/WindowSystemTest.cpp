#include "platform/WindowSystem.h"
#include "platform/ToolWindowHints.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QWindow>

// The tests run on the offscreen platform, which places windows as it is told and
// has no window manager to hint; the X11 and Wayland sides are checked by the
// end-to-end scripts in tests/e2e.

TEST(WindowSystem, OffscreenWindowsArePlacedByTheProgram) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    EXPECT_FALSE(OnWayland());
    EXPECT_TRUE(ClientPlacesWindows());
    EXPECT_TRUE(WindowOpacityWorks());
    QWindow window;
    window.setGeometry(40, 30, 100, 80);
    window.show();
    EXPECT_EQ(window.position(), QPoint(40, 30));
}

TEST(WindowSystem, ToolWindowHintsLetEveryShowThrough) {
    TToolWindowHints hints;
    qApp->installEventFilter(&hints);
    for (Qt::WindowType type : {Qt::Tool, Qt::Window, Qt::Popup}) {
        QWindow window;
        window.setFlags(type);
        window.resize(20, 20);
        window.show();
        EXPECT_TRUE(window.isVisible()) << int(type);
        // Without a window manager the hint is left alone.
        SetSkipTaskbar(window, true);
        EXPECT_TRUE(window.isVisible());
    }
    qApp->removeEventFilter(&hints);
}
