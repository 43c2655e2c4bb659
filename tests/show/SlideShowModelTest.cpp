#include "show/SlideShowModel.h"
#include "app/VekRandom.h"
#include "gfx/Bitmap32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Records what the model asks of its window, in order, as short words.
class TRecordingPort : public TSlideShowModel::TPort {
public:
    std::vector<std::string> Calls;
    bool DelayRunning = false;
    bool EffectRunning = false;
    std::vector<int> Loads;

    void LoadImage(int index) override {
        Loads.push_back(index);
        Calls.push_back("load " + std::to_string(index));
    }
    void SetDelayRunning(bool running) override { DelayRunning = running; }
    void SetEffectRunning(bool running) override { EffectRunning = running; }
    void DrawStep(int step) override { Calls.push_back("draw " + std::to_string(step)); }
    void CurrentFromNext() override { Calls.push_back("current"); }
    void StartAnimation() override { Calls.push_back("animate"); }
    void StopAnimation() override { Calls.push_back("still"); }
    void TakeOverPages() override { Calls.push_back("pages"); }
};

class SlideShow : public testing::Test {
protected:
    // A show of `count` pictures whose first picture arrived and was shown at once,
    // with the preload of the next one started.
    void Shown(int count, int first = 0) {
        model.ImageIndex = first;
        model.Begin(count);
        Arrive();
        port.Calls.clear();
        port.Loads.clear();
    }
    // The loader started a load and delivered it.
    void Arrive() {
        model.LoadStarted();
        model.PictureArrived();
    }
    // Ticks the effect until the transition is over.
    void RunTransition(int stepCount) {
        for (int i = 0; i <= stepCount + 1 && port.EffectRunning; ++i) model.EffectTick(stepCount);
    }

    TRecordingPort port;
    TSlideShowModel model{port};
};

TEST_F(SlideShow, APictureArrivingForAnImmediateShowIsShownAndTheNextPreloaded) {
    model.ImageIndex = 2;
    model.Begin(5);
    EXPECT_EQ(port.Loads, std::vector<int>{2});
    EXPECT_TRUE(port.EffectRunning) << "a transition from what the next picture holds runs";
    port.Calls.clear();
    Arrive();
    const std::vector<std::string> expected = {"current", "draw 0", "still", "pages", "load 3"};
    EXPECT_EQ(port.Calls, expected);
    EXPECT_TRUE(port.DelayRunning);
    EXPECT_FALSE(port.EffectRunning);
    EXPECT_TRUE(model.Preloading);
    EXPECT_EQ(model.ShownIndex(), 2);
}

// The delay and the preload race: whichever comes second starts the transition.
TEST_F(SlideShow, TheTransitionStartsWhenBothTheDelayAndThePictureAreThere) {
    struct Case {
        bool delayFirst;
    };
    for (const Case c : {Case{true}, Case{false}}) {
        TRecordingPort p;
        TSlideShowModel m{p};
        m.Begin(3);
        m.LoadStarted();
        m.PictureArrived(); // picture 0 shown, picture 1 preloading
        m.LoadStarted();
        if (c.delayFirst) {
            m.DelayTick();
            EXPECT_TRUE(m.DelayElapsed);
            EXPECT_FALSE(p.EffectRunning) << "waits for the picture";
            m.PictureArrived();
        } else {
            m.PictureArrived();
            EXPECT_FALSE(p.EffectRunning) << "waits for the delay";
            m.DelayTick();
        }
        EXPECT_TRUE(p.EffectRunning) << c.delayFirst;
        EXPECT_FALSE(p.DelayRunning);
        EXPECT_EQ(m.ImageIndex, 1) << "a preload does not move the index on arrival";
    }
}

TEST_F(SlideShow, ATransitionDrawsEveryStepThenMovesOnAndPreloads) {
    Shown(3);
    model.LoadStarted();
    model.PictureArrived();
    model.DelayTick();
    port.Calls.clear();
    RunTransition(4);
    const std::vector<std::string> expected = {"draw 0", "draw 1",  "draw 2",  "draw 3",
                                               "draw 4", "animate", "current", "load 2"};
    EXPECT_EQ(port.Calls, expected);
    EXPECT_EQ(model.Step, 0);
    EXPECT_FALSE(port.EffectRunning);
    EXPECT_TRUE(port.DelayRunning);
    EXPECT_EQ(model.ShownIndex(), 1);
}

// The viewer's picture, handed over, fades in at once: nothing is decoded until the fade
// ends (then the following picture), it counts as the picture on screen throughout, and a
// step during the fade shows it whole and moves on from it.
TEST_F(SlideShow, AHandedOverPictureFadesInAndCountsAsShown) {
    struct Case {
        const char* name;
        int stepDuringFade; // 0: none
        std::vector<int> loads;
        int shownAfter;
    };
    for (const Case& c : {Case{"fade ends", 0, {3}, 2}, Case{"next during fade", 1, {3, 4}, 3},
                          Case{"previous during fade", -1, {1, 2}, 1}}) {
        SCOPED_TRACE(c.name);
        TRecordingPort p;
        TSlideShowModel m{p};
        m.ImageIndex = 2;
        m.BeginWithPicture(5);
        EXPECT_TRUE(p.EffectRunning);
        EXPECT_TRUE(p.Loads.empty()) << "its file is not decoded again";
        EXPECT_EQ(m.ShownIndex(), 2);
        m.EffectTick(4);
        if (c.stepDuringFade != 0) {
            c.stepDuringFade > 0 ? m.ShowNext() : m.ShowPrevious();
            EXPECT_FALSE(p.EffectRunning);
            EXPECT_EQ(p.Calls,
                      (std::vector<std::string>{"draw 0", "current", "draw 0", "still", "pages",
                                                "load " + std::to_string(c.loads[0])}))
                << "shown whole, then the step";
            m.LoadStarted();
            m.PictureArrived();
        } else {
            for (int i = 0; i < 6 && p.EffectRunning; ++i) m.EffectTick(4);
            EXPECT_FALSE(p.EffectRunning);
            EXPECT_TRUE(p.DelayRunning);
        }
        EXPECT_EQ(p.Loads, c.loads);
        EXPECT_EQ(m.ShownIndex(), c.shownAfter);
        EXPECT_FALSE(m.FadingIn);
    }
}

TEST_F(SlideShow, PausingDuringATransitionLetsItEndWithoutANewDelay) {
    Shown(3);
    model.LoadStarted();
    model.PictureArrived();
    model.DelayTick();
    model.EffectTick(4);
    model.SetPlaying(false);
    RunTransition(4);
    EXPECT_FALSE(port.EffectRunning);
    EXPECT_FALSE(port.DelayRunning);
    model.SetPlaying(true);
    EXPECT_TRUE(port.DelayRunning);
}

// ShowNext and ShowPrevious, with the preload of the following picture done or still
// running, and at the ends of the list: the picture that comes is always the neighbour of
// the one on screen, and a preload is taken over rather than started again.
struct TStepCase {
    const char* name;
    int count;
    int shown;
    bool preloadDone;
    bool next;
    // The load started by the step itself (-1: none; the preload is taken over).
    int load;
    // The picture on screen once what the step waits for has arrived.
    int then;
};

void PrintTo(const TStepCase& c, std::ostream* os) {
    *os << c.name;
}

class Stepping : public testing::TestWithParam<TStepCase> {};

TEST_P(Stepping, ShowsTheNeighbourOfThePictureOnScreen) {
    const TStepCase& c = GetParam();
    TRecordingPort p;
    TSlideShowModel m{p};
    m.ImageIndex = c.shown;
    m.Begin(c.count);
    m.LoadStarted();
    m.PictureArrived();
    m.LoadStarted();
    if (c.preloadDone) m.PictureArrived();
    p.Loads.clear();
    p.Calls.clear();
    c.next ? m.ShowNext() : m.ShowPrevious();
    EXPECT_FALSE(p.EffectRunning);
    if (c.next && c.preloadDone) {
        // Shown at once, and the picture after it preloads.
        ASSERT_FALSE(p.Calls.empty());
        EXPECT_EQ(p.Calls.front(), "current");
        EXPECT_TRUE(m.Preloading);
        EXPECT_TRUE(p.DelayRunning);
        EXPECT_EQ(p.Loads, std::vector<int>{(c.then + 1) % c.count});
    } else {
        EXPECT_FALSE(m.Preloading);
        EXPECT_FALSE(p.DelayRunning) << "nothing moves on until the picture is there";
        EXPECT_EQ(p.Loads, c.load < 0 ? std::vector<int>{} : std::vector<int>{c.load});
        if (c.load >= 0) m.LoadStarted();
        m.PictureArrived();
    }
    EXPECT_EQ(m.ShownIndex(), c.then);
    EXPECT_TRUE(m.Preloading);
    EXPECT_EQ(m.ImageIndex, (c.then + 1) % c.count) << "the one after it preloads";
}

INSTANTIATE_TEST_SUITE_P(
    SlideShow, Stepping,
    testing::Values(TStepCase{"NextPreloadDone", 5, 1, true, true, -1, 2},
                    TStepCase{"NextWhilePreloadingWaitsForIt", 5, 1, false, true, -1, 2},
                    TStepCase{"NextWraps", 5, 4, true, true, -1, 0},
                    TStepCase{"NextWhilePreloadingWraps", 5, 4, false, true, -1, 0},
                    TStepCase{"PreviousPreloadDone", 5, 2, true, false, 1, 1},
                    TStepCase{"PreviousWhilePreloading", 5, 2, false, false, 1, 1},
                    TStepCase{"PreviousWraps", 5, 0, true, false, 4, 4},
                    TStepCase{"PreviousWhilePreloadingWraps", 5, 0, false, false, 4, 4},
                    TStepCase{"OnePictureNext", 1, 0, false, true, -1, 0},
                    TStepCase{"OnePicturePrevious", 1, 0, true, false, 0, 0}),
    [](const testing::TestParamInfo<TStepCase>& info) { return std::string(info.param.name); });

// Quick presses while pictures are still on their way: each picture comes in turn, and
// the presses beyond one are not stacked up.
TEST_F(SlideShow, StepsWhileAPictureIsOnItsWayWaitForIt) {
    Shown(6);
    model.LoadStarted(); // the preload of picture 1
    model.ShowNext();
    model.ShowNext(); // waits for picture 1
    model.ShowNext(); // dropped
    EXPECT_TRUE(port.Loads.empty());
    model.PictureArrived();
    EXPECT_EQ(model.ShownIndex(), 2) << "asked for at once";
    EXPECT_EQ(port.Loads, std::vector<int>{2});
    EXPECT_FALSE(port.DelayRunning) << "no delay for a picture that is left at once";
    model.LoadStarted();
    model.PictureArrived();
    EXPECT_EQ(model.ShownIndex(), 2);
    EXPECT_EQ(port.Loads, (std::vector<int>{2, 3})) << "then the preload of the next";
    EXPECT_TRUE(port.DelayRunning);
    std::vector<std::string> shown;
    for (const std::string& call : port.Calls)
        if (call == "current") shown.push_back(call);
    EXPECT_EQ(shown.size(), 2U) << "pictures 1 and 2 were each shown";

    // Next then Previous while a picture is on its way: it stays.
    model.ShowPrevious(); // picture 1 loads
    model.ShowNext();
    model.ShowPrevious();
    port.Loads.clear();
    model.LoadStarted();
    model.PictureArrived();
    EXPECT_EQ(model.ShownIndex(), 1);
    EXPECT_EQ(port.Loads, std::vector<int>{2});
}

TEST_F(SlideShow, OnePictureTransitionsToItself) {
    Shown(1);
    EXPECT_EQ(model.ImageIndex, 0) << "the same file is preloaded again";
    model.LoadStarted();
    model.PictureArrived();
    model.DelayTick();
    RunTransition(2);
    EXPECT_EQ(port.Loads, std::vector<int>{0});
    EXPECT_EQ(model.ShownIndex(), 0);
}

TEST_F(SlideShow, AnEmptyListIgnoresSteppingAndOnlyRedrawsItsMessage) {
    model.ImageCount = 0;
    model.PictureArrived(); // the "No images" picture
    EXPECT_TRUE(port.Loads.empty());
    EXPECT_TRUE(port.DelayRunning);
    model.ShowNext();
    model.ShowPrevious();
    EXPECT_TRUE(port.Loads.empty());
    model.DelayTick();
    RunTransition(3);
    EXPECT_TRUE(port.Loads.empty());
    EXPECT_EQ(model.ShownIndex(), -1);
}

TEST_F(SlideShow, ThePictureOnScreenIsHandedBackWhilePreloading) {
    Shown(4, 3);
    model.LoadStarted(); // preload of picture 0 still running
    EXPECT_EQ(model.ShownIndex(), 3);
    model.PictureArrived();
    EXPECT_EQ(model.ShownIndex(), 3);
}

// The window moved to a screen of another ratio: the picture on screen loads again and
// shows at once, whatever the show was doing; a step asked for still follows it.
TEST(SlideShowAgain, LoadsThePictureOnScreenAndShowsItAtOnce) {
    struct Case {
        const char* name;
        void (*before)(TSlideShowModel&);
        int load, thenLoads;
    };
    const Case cases[] = {{"transition",
                           [](TSlideShowModel& m) {
                               m.PictureArrived();
                               m.DelayTick();
                               m.EffectTick(4);
                           },
                           0, 1},
                          {"waiting step",
                           [](TSlideShowModel& m) {
                               m.ShowNext();
                               m.ShowNext();
                           },
                           1, 2},
                          {"fade-in", [](TSlideShowModel& m) { m.BeginWithPicture(3); }, 1, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TRecordingPort port;
        TSlideShowModel model{port};
        model.Begin(3);
        model.PictureArrived(); // the first picture shows, the second loads
        model.LoadStarted();
        c.before(model);
        model.ShowAgain();
        EXPECT_EQ(port.Loads.back(), c.load);
        EXPECT_FALSE(port.DelayRunning || port.EffectRunning || model.FadingIn);
        port.Calls.clear();
        model.PictureArrived();
        EXPECT_EQ(port.Calls.front(), "current") << "shown at once";
        EXPECT_EQ(port.Loads.back(), c.thenLoads);
    }
}

TEST(MusicOrder, InOrderOrEachTrackOnceShuffled) {
    EXPECT_EQ(BuildMusicOrder(4, false), (std::vector<int>{0, 1, 2, 3}));
    EXPECT_TRUE(BuildMusicOrder(0, true).empty());
    RandSeed(7);
    bool differs = false;
    for (int round = 0; round < 20; ++round) {
        std::vector<int> order = BuildMusicOrder(6, true);
        if (order != std::vector<int>{0, 1, 2, 3, 4, 5}) differs = true;
        std::sort(order.begin(), order.end());
        EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
    EXPECT_TRUE(differs);
}

TEST(MusicOrder, TheSequenceEndsOrStartsOverAndGivesUpOnSilentTracks) {
    TMusicSequence music;
    ASSERT_TRUE(music.Start(3, false));
    EXPECT_EQ(music.Current(), 0);
    EXPECT_TRUE(music.Advance(false));
    EXPECT_TRUE(music.Advance(false));
    EXPECT_EQ(music.Current(), 2);
    EXPECT_FALSE(music.Advance(false)) << "repeat-all off: the music ends";
    EXPECT_EQ(music.Current(), -1);

    ASSERT_TRUE(music.Start(2, false));
    EXPECT_TRUE(music.Advance(true));
    EXPECT_TRUE(music.Advance(true)) << "repeat-all: a new order";
    EXPECT_EQ(music.Position(), 0);

    // Tracks that cannot be played: after a whole round of them the music ends.
    ASSERT_TRUE(music.Start(3, false));
    EXPECT_TRUE(music.Advance(true, false));
    EXPECT_TRUE(music.Advance(true, true)) << "a played track resets the count";
    EXPECT_TRUE(music.Advance(true, false));
    EXPECT_TRUE(music.Advance(true, false));
    EXPECT_FALSE(music.Advance(true, false));
    EXPECT_FALSE(TMusicSequence().Start(0, false));
}

TEST(FitPicture, ShrinksToTheBoxKeepsSmallPicturesAndTurns) {
    struct Case {
        int w, h, boxW, boxH, angle;
        int fitW, fitH;
    };
    const Case cases[] = {
        {4000, 3000, 1920, 1080, 0, 1440, 1080}, {3000, 4000, 1920, 1080, 0, 810, 1080},
        {4000, 3000, 1920, 1080, 90, 810, 1080}, {800, 600, 1920, 1080, 0, 800, 600},
        {800, 600, 1920, 1080, 270, 600, 800},   {20000, 1, 1920, 1080, 0, 1920, 1},
    };
    for (const Case& c : cases) {
        TBitmap32 source(c.w, c.h);
        source.Clear(0xFF336699u);
        TBitmap32 target;
        FitPicture(source, target, c.boxH, c.boxW, c.angle, 2);
        EXPECT_EQ(target.Width(), c.fitW) << c.w << "x" << c.h << " " << c.angle;
        EXPECT_EQ(target.Height(), c.fitH) << c.w << "x" << c.h << " " << c.angle;
        EXPECT_EQ(target.Pixel(target.Width() / 2, target.Height() / 2), 0xFF336699u);
    }
}

// Set for a screen of a higher ratio, a message reads at the same size.
TEST(FitPicture, MessagePicturesGrowWithTheRatio) {
    TBitmap32 atOne;
    MakeMessagePicture(atOne, "No images");
    for (const double ratio : {1.25, 1.5, 1.75, 2.0}) {
        TBitmap32 message;
        MakeMessagePicture(message, "No images", ratio);
        // Within a tenth: text is hinted to whole pixels at every size.
        EXPECT_NEAR(message.Width(), atOne.Width() * ratio, atOne.Width() * ratio / 10) << ratio;
        EXPECT_NEAR(message.Height(), atOne.Height() * ratio, atOne.Height() * ratio / 10) << ratio;
    }
}

TEST(FitPicture, MessagePicturesAreWhiteOnBlack) {
    TBitmap32 message;
    MakeMessagePicture(message, "Can't open image");
    ASSERT_FALSE(message.Empty());
    EXPECT_GT(message.Width(), message.Height());
    bool white = false;
    for (int y = 0; y < message.Height(); ++y)
        for (int x = 0; x < message.Width(); ++x) white = white || message.Pixel(x, y) == clWhite32;
    EXPECT_TRUE(white);
    EXPECT_EQ(message.Pixel(message.Width() - 1, message.Height() - 1), clBlack32);
}

} // namespace
