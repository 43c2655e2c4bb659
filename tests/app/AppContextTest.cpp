#include "app/AppContext.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

namespace {

struct TCloseCase {
    const char* Name;
    bool ClosedIsMain;
    bool Accepted;
    bool EndsTheLoop;
};

class AppContextCloseTest : public ::testing::TestWithParam<TCloseCase> {};

// Runs the event loop around one close report: 0 when the report ended it, 7
// when it went on to the next event.
TEST_P(AppContextCloseTest, OnlyAnAcceptedCloseOfTheMainWindowEndsTheLoop) {
    QObject mainWindow, otherWindow;
    TAppContext context;
    context.SetMainWindow(&mainWindow);
    const QObject* closed = GetParam().ClosedIsMain ? &mainWindow : &otherWindow;
    QObject scope; // drops the queued calls that the loop did not reach
    QTimer::singleShot(0, &scope, [&] {
        context.WindowClosed(closed, GetParam().Accepted);
        QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(7); });
    });
    QTimer::singleShot(20000, &scope, [] { QCoreApplication::exit(9); }); // sanity bound
    EXPECT_EQ(QCoreApplication::exec(), GetParam().EndsTheLoop ? 0 : 7);
}

INSTANTIATE_TEST_SUITE_P(Windows, AppContextCloseTest,
                         ::testing::Values(TCloseCase{"MainAccepted", true, true, true},
                                           TCloseCase{"MainRefused", true, false, false},
                                           TCloseCase{"OtherAccepted", false, true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(AppContext, NoWindowIsTheMainWindowUntilSetOrAfterClear) {
    QObject window;
    TAppContext context;
    EXPECT_FALSE(context.IsMainWindow(&window));
    EXPECT_FALSE(context.IsMainWindow(nullptr));
    context.SetMainWindow(&window);
    EXPECT_TRUE(context.IsMainWindow(&window));
    EXPECT_FALSE(context.IsMainWindow(nullptr));
    context.Clear();
    EXPECT_FALSE(context.IsMainWindow(&window));
}

} // namespace
