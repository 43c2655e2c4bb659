// The program's application object as the default handler of the windows'
// errors. This binary runs under it (see ApplicationFactory below).
#include "shell/VekApplication.h"

#include "app/GuiThread.h"
#include "app/ThreadedTimer.h"
#include "app/VekThreadedMethod.h"
#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

[[maybe_unused]] const bool kRunsUnderTheProgramsApplication = [] {
    pictrel::test::ApplicationFactory = [](int& argc,
                                           char** argv) -> std::unique_ptr<QApplication> {
        return std::make_unique<TVekApplication>(argc, argv);
    };
    return true;
}();

class VekApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_app = dynamic_cast<TVekApplication*>(QCoreApplication::instance());
        ASSERT_NE(m_app, nullptr);
        m_saved = m_app->ReportError;
        m_app->ReportError = [this](const QString& message) { Reported.append(message); };
    }
    void TearDown() override {
        if (m_app) m_app->ReportError = m_saved;
    }

    TVekApplication* m_app = nullptr;
    TVekApplication::TErrorReporter m_saved;
    QStringList Reported;
};

struct TThrowCase {
    const char* Name;
    std::function<void()> Throw;
    QString Message;
};

class VekApplicationThrowTest : public VekApplicationTest,
                                public ::testing::WithParamInterface<TThrowCase> {};

// The loader's and the threaded method's reports reach the GUI thread this way.
TEST_P(VekApplicationThrowTest, CallPostedFromAWorkerReportsAndTheLoopGoesOn) {
    TDeliveryGuard guard;
    bool after = false;
    std::thread worker([&] {
        PostToGuiThread(guard.GetToken(), GetParam().Throw);
        PostToGuiThread(guard.GetToken(), [&] { after = true; });
    });
    worker.join();
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return after; }));
    EXPECT_EQ(Reported, QStringList{GetParam().Message});
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, VekApplicationThrowTest,
    ::testing::Values(
        TThrowCase{"RuntimeError", [] { throw std::runtime_error("Cannot write the file"); },
                   "Cannot write the file"},
        TThrowCase{"Utf8Message", [] { throw std::invalid_argument("Datei \xc3\xbc fehlt"); },
                   QString::fromUtf8("Datei \xc3\xbc fehlt")},
        TThrowCase{"OutOfMemory", [] { throw std::bad_alloc(); }, "std::bad_alloc"},
        TThrowCase{"NotAnException", [] { throw 42; }, "An unexpected error occurred."}),
    [](const auto& info) { return std::string(info.param.Name); });

class TThrowingWidget : public QWidget {
protected:
    void customEvent(QEvent*) override { throw std::runtime_error("handler failed"); }
};

TEST_F(VekApplicationTest, WindowHandlerThatThrowsIsReported) {
    TThrowingWidget widget;
    QEvent sent(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&widget, &sent));
    EXPECT_EQ(Reported, QStringList{"handler failed"});

    QCoreApplication::postEvent(&widget, new QEvent(QEvent::User));
    EXPECT_TRUE(pictrel::test::PumpUntil([&] { return Reported.size() == 2; }));
}

TEST_F(VekApplicationTest, ThreadedMethodSuccessHandlerThatThrowsIsReported) {
    TVekThreadedMethod method;
    method.OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                       int&) {};
    method.OnSucces = [](TVekThreadedMethod&) { throw std::runtime_error("OnSucces failed"); };
    method.Execute();
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return !Reported.isEmpty(); }));
    EXPECT_EQ(Reported, QStringList{"OnSucces failed"});
}

// A timer's handler is the exception: the timer swallows what its tick throws
// and goes on ticking, so nothing reaches the default handler.
TEST_F(VekApplicationTest, TimerTickThatThrowsIsSwallowedAndTheTimerGoesOn) {
    TThreadedTimer timer;
    int ticks = 0;
    timer.SetInterval(1);
    timer.OnTimer = [&](TThreadedTimer&) {
        ++ticks;
        throw std::runtime_error("tick failed");
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return ticks >= 3; }));
    timer.SetEnabled(false);
    EXPECT_TRUE(Reported.isEmpty()) << Reported.join('|').toStdString();
}

// While one error is shown (the box runs the event loop), a further one goes to
// standard error instead of piling up boxes.
TEST_F(VekApplicationTest, ErrorWhileOneIsShownIsNotStacked) {
    TDeliveryGuard guard;
    bool secondRan = false;
    m_app->ReportError = [&](const QString& message) {
        Reported.append(message);
        if (Reported.size() > 1) return;
        PostToGuiThread(guard.GetToken(), [&] {
            secondRan = true;
            throw std::runtime_error("second failure");
        });
        pictrel::test::PumpUntil([&] { return secondRan; });
    };
    ::testing::internal::CaptureStderr();
    PostToGuiThread(guard.GetToken(), [] { throw std::runtime_error("first failure"); });
    pictrel::test::PumpUntil([&] { return secondRan; });
    pictrel::test::PumpFor(20);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Reported, QStringList{"first failure"});
    EXPECT_NE(errors.find("pictrel: second failure"), std::string::npos) << errors;

    // Once the first is done, the next error is shown again.
    PostToGuiThread(guard.GetToken(), [] { throw std::runtime_error("third failure"); });
    EXPECT_TRUE(pictrel::test::PumpUntil([&] { return Reported.size() == 2; }));
    EXPECT_EQ(Reported.value(1), "third failure");
}

TEST_F(VekApplicationTest, DefaultReportIsAMessageBoxCentredOnTheScreen) {
    m_app->ReportError = m_saved; // the real one
    QString title, text;
    QPoint offset(-1000, -1000);
    QObject scope;
    QTimer poll(&scope);
    QObject::connect(&poll, &QTimer::timeout, &scope, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        poll.stop();
        title = box->windowTitle();
        text = box->text();
        offset = box->frameGeometry().center() - box->screen()->availableGeometry().center();
        box->done(0);
    });
    poll.start(5);
    TDeliveryGuard guard;
    bool after = false;
    PostToGuiThread(guard.GetToken(), [] { throw std::runtime_error("Shown to the user"); });
    PostToGuiThread(guard.GetToken(), [&] { after = true; });
    ASSERT_TRUE(pictrel::test::PumpUntil([&] { return after; }, 20000));
    EXPECT_EQ(title, "Pictrel");
    EXPECT_EQ(text, "Shown to the user");
    EXPECT_LE(std::abs(offset.x()), 2);
    EXPECT_LE(std::abs(offset.y()), 2);
}

} // namespace
