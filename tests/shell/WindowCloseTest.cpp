// Every window that can be the main window ends the program when it is closed
// as the main window and only hides otherwise.
#include "app/AppContext.h"
#include "authoring/FormVekWizard.h"
#include "show/VekSettingsFile.h"
#include "slideshow/FormVekSlideShow.h"
#include "viewer/FormVekMain.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace {

struct TWindowCase {
    const char* Name;
    std::function<std::unique_ptr<QWidget>(TAppContext&, TVekSettingsFile&)> Make;
    bool IsMain;
};

class WindowCloseTest : public ::testing::TestWithParam<TWindowCase> {};

TEST_P(WindowCloseTest, ClosingEndsTheLoopOnlyForTheMainWindow) {
    TAppContext context;
    TVekSettingsFile slideshow;
    const std::unique_ptr<QWidget> window = GetParam().Make(context, slideshow);
    QWidget other;
    context.SetMainWindow(GetParam().IsMain ? window.get() : &other);
    window->show();
    QObject scope; // drops the queued calls that the loop did not reach
    QTimer::singleShot(0, &scope, [&] {
        window->close();
        QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(7); });
    });
    QTimer::singleShot(20000, &scope, [] { QCoreApplication::exit(9); }); // sanity bound
    EXPECT_EQ(QCoreApplication::exec(), GetParam().IsMain ? 0 : 7);
    EXPECT_FALSE(window->isVisible());
}

std::unique_ptr<QWidget> Viewer(TAppContext& context, TVekSettingsFile&) {
    return std::make_unique<TMainForm>(context);
}
std::unique_ptr<QWidget> Wizard(TAppContext& context, TVekSettingsFile& slideshow) {
    return std::make_unique<TWizardForm>(context, slideshow);
}
std::unique_ptr<QWidget> SlideShow(TAppContext& context, TVekSettingsFile& slideshow) {
    return std::make_unique<TSlideShowForm>(context, slideshow);
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowCloseTest,
                         ::testing::Values(TWindowCase{"ViewerAsMain", Viewer, true},
                                           TWindowCase{"ViewerAsOther", Viewer, false},
                                           TWindowCase{"WizardAsMain", Wizard, true},
                                           TWindowCase{"WizardAsOther", Wizard, false},
                                           TWindowCase{"SlideShowAsMain", SlideShow, true},
                                           TWindowCase{"SlideShowAsOther", SlideShow, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

} // namespace
