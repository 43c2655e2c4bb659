#include "app/VekThreadedMethod.h"

#include "common/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

using pictrel::test::PumpFor;
using pictrel::test::PumpUntil;

namespace {

void Nap() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Waits on a worker thread until `done` holds; bounded so a broken component
// fails the test instead of hanging it.
bool SpinUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        Nap();
    }
    return true;
}

// Records the GUI-thread events of a method as "stop", "succes:<state>",
// "error:<state>" and the OnWork percentages.
struct TRecorder {
    std::vector<std::string> events;
    std::vector<int> work;
    int stops = 0;

    void Attach(TVekThreadedMethod& method, bool withWork = true) {
        method.OnStop = [this](TVekThreadedMethod&) {
            ++stops;
            events.push_back("stop");
        };
        method.OnSucces = [this](TVekThreadedMethod& sender) {
            events.push_back("succes:" + std::to_string(sender.State()));
        };
        method.OnError = [this](TVekThreadedMethod& sender) {
            events.push_back("error:" + std::to_string(sender.State()));
        };
        if (withWork)
            method.OnWork = [this](TVekThreadedMethod&, int percent) { work.push_back(percent); };
    }
    [[nodiscard]] int Endings() const {
        int n = 0;
        for (const auto& e : events)
            if (e != "stop") ++n;
        return n;
    }
};

// A body that runs until it is asked to stop (or released), logging its start and
// end, and tracking how many bodies run at the same time.
struct TBodyLog {
    static constexpr int kMax = 16;
    std::mutex mutex;
    std::vector<std::string> log;
    std::atomic<int> next{0};
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    std::array<std::atomic<bool>, kMax> started{};
    std::array<std::atomic<bool>, kMax> ended{};
    std::array<std::atomic<bool>, kMax> release{};
    std::array<std::atomic<bool>, kMax> sawStop{};
    std::atomic<bool> holdStopped{false};

    void Add(const std::string& entry) {
        std::lock_guard lock(mutex);
        log.push_back(entry);
    }
    [[nodiscard]] std::ptrdiff_t IndexOf(const std::string& entry) {
        std::lock_guard lock(mutex);
        for (std::size_t i = 0; i < log.size(); ++i)
            if (log[i] == entry) return static_cast<std::ptrdiff_t>(i);
        return -1;
    }

    TThreadedMethodBody Body() {
        return [this](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback& stop,
                      int&) {
            const int id = next++;
            const int now = ++running;
            int seen = maxRunning.load();
            while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
            }
            Add("start" + std::to_string(id));
            started[static_cast<std::size_t>(id)] = true;
            while (!stop() && !release[static_cast<std::size_t>(id)]) Nap();
            sawStop[static_cast<std::size_t>(id)] = stop();
            while (stop() && holdStopped) Nap();
            // A slow teardown widens any window in which two bodies could overlap.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            Add("end" + std::to_string(id));
            --running;
            ended[static_cast<std::size_t>(id)] = true;
        };
    }
};

int NiceOfThread(pid_t tid) {
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    return errno == 0 ? nice : -100;
}

} // namespace

// --- properties -------------------------------------------------------------

TEST(VekThreadedMethodProperties, Defaults) {
    TVekThreadedMethod method;
    EXPECT_FALSE(method.WaitwhileTerminate());
    EXPECT_EQ(method.Priority(), TThreadPriority::tpNormal);
    EXPECT_TRUE(method.RudeTerminate());
    EXPECT_EQ(method.State(), tmsIdle);
    EXPECT_EQ(method.WorkerCount(), 0u);
}

// --- how a body ends ----------------------------------------------------------

TEST(VekThreadedMethodOutcome, ErrorZeroFiresOnError) {
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                       int& error) { error = 0; };
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error:2"}));
    EXPECT_EQ(method.State(), tmsFailed);
    EXPECT_EQ(method.WorkerCount(), 0u);
}

TEST(VekThreadedMethodOutcome, ErrorOneFiresOnSucces) {
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                       int&) {};
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"succes:5"}));
    EXPECT_EQ(method.State(), tmsSucceeded);
    EXPECT_EQ(method.WorkerCount(), 0u);
}

TEST(VekThreadedMethodOutcome, ExceptionInBodyIsAFailure) {
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                       int&) { throw std::runtime_error("body failed"); };
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"error:2"}));
}

TEST(VekThreadedMethodOutcome, ErrorOneAfterStopRequestFiresOnErrorStopped) {
    // Waiting for the stopped worker keeps it the last in the list when it ends,
    // so its own result becomes the state.
    TVekThreadedMethod method;
    method.SetRudeTerminate(false);
    method.SetWaitwhileTerminate(true);
    TRecorder rec;
    rec.Attach(method);
    std::atomic<bool> started{false};
    std::atomic<int> firstResult{-1};
    method.OnBody = [&](TVekThreadedMethod&, TThreadForMethod& thread,
                        const TThreadedMethodCallback& stop, int&) {
        started = true;
        while (!stop()) Nap();
        firstResult = thread.Result();
    };
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
    method.OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                       int&) {};
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 2; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"stop", "error:4", "succes:5"}));
    EXPECT_EQ(firstResult.load(), tmsRunning); // still running while the body runs
}

TEST(VekThreadedMethodOutcome, BodyRunsOnWorkerWithItsArguments) {
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    std::atomic<bool> offGui{false}, rightSender{false}, notStopped{false}, errorWasOne{false};
    std::atomic<int> result{-1};
    std::atomic<int> stateSeen{-1};
    std::atomic<bool> started{false}, release{false};
    method.OnBody = [&](TVekThreadedMethod& sender, TThreadForMethod& thread,
                        const TThreadedMethodCallback& stop, int& error) {
        offGui = !IsGuiThread();
        rightSender = &sender == &method;
        notStopped = !stop() && !thread.Terminated();
        errorWasOne = error == 1;
        result = thread.Result();
        stateSeen = sender.State();
        started = true;
        while (!release) Nap();
    };
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return started.load(); }));
    EXPECT_TRUE(offGui);
    EXPECT_TRUE(rightSender);
    EXPECT_TRUE(notStopped);
    EXPECT_TRUE(errorWasOne);
    EXPECT_EQ(result.load(), tmsRunning);
    EXPECT_EQ(stateSeen.load(), tmsRunning);
    EXPECT_EQ(method.State(), tmsRunning);
    EXPECT_EQ(method.WorkerCount(), 1u);
    release = true;
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    EXPECT_EQ(rec.events, (std::vector<std::string>{"succes:5"}));
}

TEST(VekThreadedMethodOutcome, WorkerGetsThePriority) {
    errno = 0;
    const int base = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
    if (base > 19 - 10) GTEST_SKIP() << "process nice " << base << " leaves no room for +10";
    TVekThreadedMethod method;
    method.SetPriority(TThreadPriority::tpLowest);
    std::atomic<int> nice{-100};
    std::atomic<bool> done{false};
    method.OnBody = [&](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                        int&) {
        nice = NiceOfThread(CurrentThreadId());
        done = true;
    };
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
    EXPECT_EQ(nice.load(), base + 10);
}

// --- restarting ---------------------------------------------------------------

TEST(VekThreadedMethodRestart, OnStopFiresForEachRunningWorker) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    method.SetRudeTerminate(false);
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();

    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    EXPECT_EQ(rec.stops, 0);

    bodies.holdStopped = true; // stopped bodies keep running until let go
    method.Execute();
    EXPECT_EQ(rec.stops, 1);
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[1].load() && bodies.sawStop[0].load(); }));

    method.Execute(); // the first worker still runs: both get OnStop
    EXPECT_EQ(rec.stops, 3);
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[2].load(); }));

    bodies.holdStopped = false;
    ASSERT_TRUE(PumpUntil([&] { return method.WorkerCount() == 1; }));
    // Stopped workers that end while a newer one runs report nothing.
    EXPECT_EQ(rec.Endings(), 0);
    EXPECT_EQ(method.State(), tmsRunning);
    EXPECT_TRUE(bodies.ended[0] && bodies.ended[1]);
    EXPECT_FALSE(bodies.ended[2]);
}

TEST(VekThreadedMethodRestart, RudeTerminateAbandonsTheWorker) {
    TBodyLog bodies;           // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method; // RudeTerminate is the default
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();

    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    method.Execute();
    EXPECT_EQ(rec.stops, 1);
    ASSERT_TRUE(PumpUntil([&] { return bodies.ended[0] && bodies.started[1]; }));
    EXPECT_TRUE(bodies.sawStop[0]); // asked to stop like a polite stop
    PumpFor(200);
    // Its end is never reported and it stays in the list.
    EXPECT_EQ(rec.Endings(), 0);
    EXPECT_EQ(method.WorkerCount(), 2u);

    method.Execute(); // only the running worker gets OnStop
    EXPECT_EQ(rec.stops, 2);
    EXPECT_EQ(method.WorkerCount(), 3u);
}

TEST(VekThreadedMethodRestart, WaitwhileTerminateStartsThroughTheWaitingThread) {
    TVekThreadedMethod method;
    method.SetWaitwhileTerminate(true);
    TRecorder rec;
    rec.Attach(method);
    std::atomic<bool> ran{false};
    method.OnBody = [&](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                        int&) { ran = true; };
    method.Execute();
    EXPECT_EQ(method.WorkerCount(), 0u); // not started at once
    EXPECT_EQ(method.State(), tmsIdle);
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(rec.events, (std::vector<std::string>{"succes:5"}));
}

TEST(VekThreadedMethodRestart, WaitwhileTerminateQuickRestartsNeverOverlap) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    method.SetRudeTerminate(false);
    method.SetWaitwhileTerminate(true);
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();

    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    method.Execute();
    method.Execute();
    EXPECT_EQ(rec.stops, 2); // the first worker was still running both times

    ASSERT_TRUE(PumpUntil(
        [&] { return bodies.ended[0] && (method.WorkerCount() == 0 || bodies.started[1]); }));
    // Hold the event loop so that both waiting threads see the empty list and ask
    // to start before either gets an answer.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[1].load(); }));
    EXPECT_GE(bodies.IndexOf("end0"), 0);
    EXPECT_LT(bodies.IndexOf("end0"), bodies.IndexOf("start1"));

    // The second waiting thread starts its worker only after the new one ended.
    PumpFor(150);
    EXPECT_FALSE(bodies.started[2]);
    bodies.release[1] = true;
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[2].load(); }));
    EXPECT_LT(bodies.IndexOf("end1"), bodies.IndexOf("start2"));

    bodies.release[2] = true;
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 3; }));
    PumpFor(150);
    EXPECT_EQ(bodies.next.load(), 3);
    EXPECT_EQ(bodies.maxRunning.load(), 1);
    EXPECT_EQ(rec.events,
              (std::vector<std::string>{"stop", "stop", "error:4", "succes:5", "succes:5"}));
    EXPECT_EQ(method.WorkerCount(), 0u);
}

// --- progress -----------------------------------------------------------------

TEST(VekThreadedMethodProgress, StartsAtZeroAndRisesByOneUpToHundred) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();

    method.Execute();
    // Delivered at once, before the event loop ran.
    ASSERT_EQ(rec.work, (std::vector<int>{0}));
    EXPECT_EQ(method.State(), tmsRunning);
    for (int i = 0; i < 130; ++i) method.ProgressTick();
    ASSERT_EQ(rec.work.size(), 131u);
    for (std::size_t i = 0; i < rec.work.size(); ++i)
        EXPECT_EQ(rec.work[i], std::min<int>(100, static_cast<int>(i))) << "tick " << i;
}

TEST(VekThreadedMethodProgress, RestartBeginsAgainAtZero) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    method.SetRudeTerminate(false);
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();
    method.Execute();
    for (int i = 0; i < 5; ++i) method.ProgressTick();
    method.Execute();
    EXPECT_EQ(rec.work, (std::vector<int>{0, 1, 2, 3, 4, 5, 0}));
}

TEST(VekThreadedMethodProgress, TimerDrivesProgressAndStopsAfterTheEnd) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method);
    method.OnBody = bodies.Body();
    method.Execute();
    ASSERT_TRUE(PumpUntil([&] { return rec.work.size() >= 4; }));
    for (std::size_t i = 0; i < rec.work.size(); ++i) EXPECT_EQ(rec.work[i], static_cast<int>(i));

    bodies.release[0] = true;
    ASSERT_TRUE(PumpUntil([&] { return rec.Endings() == 1; }));
    const std::size_t atEnd = rec.work.size();
    PumpFor(300);
    // At most the one tick that sees the worker gone and switches the timer off.
    EXPECT_LE(rec.work.size(), atEnd + 1);
}

TEST(VekThreadedMethodProgress, NoProgressWithoutOnWork) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    TVekThreadedMethod method;
    TRecorder rec;
    rec.Attach(method, /*withWork=*/false);
    method.OnBody = bodies.Body();
    method.Execute();
    method.ProgressTick();
    PumpFor(150);
    method.OnWork = [&](TVekThreadedMethod&, int percent) { rec.work.push_back(percent); };
    PumpFor(150); // the progress timer was never switched on
    EXPECT_TRUE(rec.work.empty());
}

// --- destruction ----------------------------------------------------------------

TEST(VekThreadedMethodLifetime, DestroyWhileBodyRunsJoinsAndDeliversNothing) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    auto method = std::make_unique<TVekThreadedMethod>();
    TRecorder rec;
    rec.Attach(*method);
    method->OnBody = bodies.Body();
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0] && rec.work.size() >= 2; }));
    const std::size_t workBefore = rec.work.size();
    method.reset();
    EXPECT_TRUE(bodies.ended[0]); // joined, not abandoned
    EXPECT_TRUE(bodies.sawStop[0]);
    PumpFor(200);
    EXPECT_EQ(rec.work.size(), workBefore);
    EXPECT_EQ(rec.Endings(), 0);
}

TEST(VekThreadedMethodLifetime, DestroyJoinsAbandonedWorkersToo) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    auto method = std::make_unique<TVekThreadedMethod>();
    method->OnBody = bodies.Body();
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    bodies.holdStopped = true;
    method->Execute(); // abandons the first
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[1].load(); }));
    std::thread letGo([&] {
        SpinUntil([&] { return bodies.sawStop[1].load(); });
        bodies.holdStopped = false;
    });
    method.reset();
    letGo.join();
    EXPECT_TRUE(bodies.ended[0]);
    EXPECT_TRUE(bodies.ended[1]);
}

TEST(VekThreadedMethodLifetime, DestroyWhileWaitingThreadWaits) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    auto method = std::make_unique<TVekThreadedMethod>();
    method->SetRudeTerminate(false);
    method->SetWaitwhileTerminate(true);
    TRecorder rec;
    rec.Attach(*method);
    method->OnBody = bodies.Body();
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    method->Execute();
    method.reset();
    EXPECT_TRUE(bodies.ended[0]);
    PumpFor(300);
    EXPECT_EQ(bodies.next.load(), 1); // the waiting thread started nothing
    EXPECT_EQ(rec.Endings(), 0);
}

TEST(VekThreadedMethodLifetime, DestroyInsideOnSucces) {
    auto method = std::make_unique<TVekThreadedMethod>();
    auto calls = std::make_shared<int>(0);
    method->OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                        int&) {};
    method->OnSucces = [&method, calls](TVekThreadedMethod&) {
        method.reset();
        ++*calls; // the closure's own capture, after its owner is gone
    };
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return method == nullptr; }));
    PumpFor(100);
    EXPECT_EQ(*calls, 1);
}

TEST(VekThreadedMethodLifetime, DestroyInsideOnError) {
    auto method = std::make_unique<TVekThreadedMethod>();
    auto calls = std::make_shared<int>(0);
    int work = 0;
    method->OnBody = [](TVekThreadedMethod&, TThreadForMethod&, const TThreadedMethodCallback&,
                        int& error) { error = 7; };
    method->OnWork = [&](TVekThreadedMethod&, int) { ++work; };
    method->OnError = [&method, calls](TVekThreadedMethod&) {
        method.reset();
        ++*calls; // the closure's own capture, after its owner is gone
    };
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return method == nullptr; }));
    const int workAtEnd = work;
    PumpFor(200);
    EXPECT_EQ(*calls, 1);
    EXPECT_EQ(work, workAtEnd);
}

TEST(VekThreadedMethodLifetime, DestroyInsideOnWork) {
    // Once inside the tick delivered by Execute itself, once inside a timer tick.
    for (const int at : {0, 2}) {
        TBodyLog bodies; // outlives the method, whose destructor joins the bodies
        std::vector<int> work;
        auto method = std::make_unique<TVekThreadedMethod>();
        method->OnBody = bodies.Body();
        auto seen = std::make_shared<std::vector<int>>();
        method->OnWork = [&method, &work, seen, at](TVekThreadedMethod&, int percent) {
            if (percent == at) method.reset();
            seen->push_back(percent); // the closure's own capture, after its owner is gone
            work = *seen;
        };
        method->Execute();
        ASSERT_TRUE(PumpUntil([&] { return method == nullptr; })) << "at " << at;
        EXPECT_TRUE(bodies.ended[0]);
        PumpFor(150);
        EXPECT_EQ(work.back(), at);
        EXPECT_EQ(work.size(), static_cast<std::size_t>(at) + 1);
    }
}

TEST(VekThreadedMethodLifetime, DestroyInsideOnStop) {
    TBodyLog bodies; // outlives the method, whose destructor joins the bodies
    auto method = std::make_unique<TVekThreadedMethod>();
    method->OnBody = bodies.Body();
    auto stops = std::make_shared<int>(0);
    method->OnStop = [&method, stops](TVekThreadedMethod&) {
        method.reset();
        ++*stops; // the closure's own capture, after its owner is gone
    };
    method->Execute();
    ASSERT_TRUE(PumpUntil([&] { return bodies.started[0].load(); }));
    TVekThreadedMethod* raw = method.get();
    raw->Execute(); // destroys the method from inside
    EXPECT_EQ(method, nullptr);
    EXPECT_EQ(*stops, 1);
    EXPECT_TRUE(bodies.ended[0]);
    PumpFor(100);
    EXPECT_EQ(bodies.next.load(), 1);
}
