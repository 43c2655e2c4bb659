#include "VekMultipageBitmapTestSupport.h"

#include "common/TestSupport.h"
#include "loading/VekImageLoaderPro.h"
#include "loading/VekMultipageBitmap.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace pictrel::test;

namespace {

constexpr TColor32 kRed = kGifColours[0], kGreen = kGifColours[1], kBlue = kGifColours[2],
                   kWhite = kGifColours[4];

class MultipageTest : public ::testing::Test {
protected:
    QString Path(const QString& name) const { return m_dir.path() + "/" + name; }

    // Loads `file` and lets `holder` take it over; counts the frames handed out.
    void Load(const QString& file, TVekMultipageBitmap& holder) {
        TLoaderRecorder rec(m_loader);
        ASSERT_TRUE(rec.OpenAndWait(file));
        ASSERT_EQ(m_loader.Status(), TImageLoaderProStatus::ilSucces);
        holder.OnBitmapChange = [this](TVekMultipageBitmap&, TBitmap32& bitmap) {
            ++m_frames;
            m_last = bitmap;
        };
        holder.Assign(m_loader);
    }

    // One frame-timer tick, as the timing thread would deliver it.
    static void Tick(TVekMultipageBitmap& holder) {
        ASSERT_TRUE(holder.FrameTimer().Enabled());
        holder.FrameTimer().Tick();
    }

    QTemporaryDir m_dir;
    TVekImageLoaderPro m_loader;
    int m_frames = 0;
    TBitmap32 m_last;
};

bool AllPixels(const TBitmap32& b, const TRect& r, TColor32 c) {
    for (int y = r.Top; y < r.Bottom; ++y)
        for (int x = r.Left; x < r.Right; ++x)
            if (b.Pixel(x, y) != c) return false;
    return true;
}

TEST_F(MultipageTest, NewHolderIsEmptyWithAnIdleZeroCapableTimer) {
    TVekMultipageBitmap holder;
    EXPECT_EQ(holder.MultiBitmap(), nullptr);
    EXPECT_EQ(holder.CurrentIndex(), 0);
    EXPECT_EQ(holder.FrameCount(), 0);
    EXPECT_EQ(holder.ImageKind(), TVekImageKind::ikNone);
    EXPECT_FALSE(holder.FrameTimer().Enabled());
    EXPECT_TRUE(holder.FrameTimer().AllowZero());
    EXPECT_EQ(holder.FrameTimer().ThreadPriority(), TThreadPriority::tpIdle);
    holder.Play();
    EXPECT_FALSE(holder.FrameTimer().Enabled());
}

// --- frame times ------------------------------------------------------------------

struct TFrameTimeCase {
    const char* name;
    std::vector<std::optional<int>> times;
    // The timer interval after Assign and after each following tick.
    std::vector<int> intervals;
};

class FrameTimeTest : public MultipageTest, public ::testing::WithParamInterface<TFrameTimeCase> {};

TEST_P(FrameTimeTest, TimerFollowsEachFramesTime) {
    std::vector<TGifFrame> frames;
    for (std::size_t i = 0; i < GetParam().times.size(); ++i)
        frames.push_back({.index = BYTE(i % 3), .timeMs = GetParam().times[i].value_or(-1)});
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("t.gif"), frames), holder);
    ASSERT_EQ(holder.FrameCount(), int(frames.size()));
    holder.Play();
    ASSERT_TRUE(holder.FrameTimer().Enabled());
    const auto& expected = GetParam().intervals;
    for (std::size_t step = 0; step < expected.size(); ++step) {
        SCOPED_TRACE(step);
        EXPECT_EQ(holder.CurrentIndex(), int(step % frames.size()));
        EXPECT_EQ(holder.FrameTimer().Interval(), expected[step]);
        EXPECT_EQ(m_frames, int(step) + 1);
        if (step + 1 < expected.size()) Tick(holder);
    }
    EXPECT_TRUE(holder.FrameTimer().Enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Gif, FrameTimeTest,
    ::testing::Values(
        // The last frame is followed at once by the first, and the cycle repeats.
        TFrameTimeCase{"Times50_200_0", {50, 200, 0}, {50, 200, 0, 50, 200, 0, 50}},
        // Once a whole cycle has passed without any delay, frames follow at the floor.
        TFrameTimeCase{"AllZero", {0, 0, 0}, {0, 0, 100, 100, 100, 100}},
        TFrameTimeCase{"ZeroThenDelay", {0, 30}, {0, 30, 0, 30, 0}},
        TFrameTimeCase{"TwoZerosAmongDelays", {0, 0, 40}, {0, 0, 40, 0, 0, 40}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- composition ------------------------------------------------------------------

TEST_F(MultipageTest, FirstFrameFillsTheLogicalScreenWithTheBackgroundWhereTransparent) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("a.gif"),
                 {{.width = 4,
                   .height = 4,
                   .index = 0,
                   .left = 2,
                   .top = 1,
                   .timeMs = 50,
                   .transparentColumns = 1},
                  {.index = 1, .timeMs = 50}},
                 8, 6, 2),
         holder);
    EXPECT_EQ(holder.ImageKind(), TVekImageKind::ikGif);
    EXPECT_EQ(m_loader.MultiBitmap(), nullptr);
    ASSERT_EQ(holder.Composite().Width(), 8);
    ASSERT_EQ(holder.Composite().Height(), 6);
    const TColor32 bg = holder.FrameBackground();
    EXPECT_EQ(AlphaOf(bg), 255);
    EXPECT_EQ(bg, kBlue) << std::hex << bg;
    const TBitmap32& c = holder.Composite();
    // The transparent column of the frame lets the background through.
    EXPECT_TRUE(AllPixels(c, {0, 0, 3, 6}, bg));
    EXPECT_TRUE(AllPixels(c, {3, 1, 6, 5}, kRed));
    EXPECT_TRUE(AllPixels(c, {6, 0, 8, 6}, bg));
    EXPECT_TRUE(AllPixels(c, {0, 0, 8, 1}, bg));
    EXPECT_TRUE(SamePixels(c, holder.PreviousComposite()));
    ASSERT_EQ(m_frames, 1);
    EXPECT_TRUE(SamePixels(m_last, c));
}

TEST_F(MultipageTest, HandedOutBitmapIsACopy) {
    TVekMultipageBitmap holder;
    TLoaderRecorder rec(m_loader);
    ASSERT_TRUE(rec.OpenAndWait(SaveGif(Path("c.gif"), {{.index = 0}, {.index = 1}})));
    int fired = 0;
    holder.OnBitmapChange = [&](TVekMultipageBitmap& sender, TBitmap32& bitmap) {
        ++fired;
        EXPECT_EQ(&sender, &holder);
        EXPECT_NE(bitmap.Bits(), sender.Composite().Bits());
        bitmap.Clear(kWhite);
    };
    holder.Assign(m_loader);
    ASSERT_EQ(fired, 1);
    EXPECT_TRUE(AllPixels(holder.Composite(), holder.Composite().BoundsRect(), kRed));
}

TEST_F(MultipageTest, LaterLargerFrameIsClippedToTheFirstFramesSize) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("b.gif"), {{.width = 4, .height = 3, .index = 0},
                                 {.width = 9, .height = 7, .index = 1, .left = 2, .top = 1}}),
         holder);
    ASSERT_EQ(holder.Composite().Width(), 4);
    ASSERT_EQ(holder.Composite().Height(), 3);
    holder.Play();
    Tick(holder);
    const TBitmap32& c = holder.Composite();
    ASSERT_EQ(c.Width(), 4);
    ASSERT_EQ(c.Height(), 3);
    EXPECT_TRUE(AllPixels(c, {0, 0, 2, 3}, kRed));
    EXPECT_TRUE(AllPixels(c, {0, 0, 4, 1}, kRed));
    EXPECT_TRUE(AllPixels(c, {2, 1, 4, 3}, kGreen));
    EXPECT_TRUE(SamePixels(m_last, c));
}

TEST_F(MultipageTest, DisposalTwoClearsToBackgroundAndThreeGoesBackTwoFrames) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("d.gif"),
                 {{.width = 4, .height = 4, .index = 0},
                  {.width = 2, .height = 2, .index = 1},
                  {.width = 2, .height = 2, .index = 2, .left = 2, .top = 2, .disposal = 2},
                  {.width = 1, .height = 1, .index = 4, .left = 3, .top = 0, .disposal = 3},
                  {.width = 1, .height = 1, .index = 2, .left = 0, .top = 3, .disposal = 1}},
                 4, 4, 4),
         holder);
    const TColor32 bg = holder.FrameBackground();
    ASSERT_EQ(bg, kWhite);
    holder.Play();
    Tick(holder); // frame 1: green on red
    const TBitmap32 afterFrame1 = holder.Composite();
    EXPECT_TRUE(AllPixels(afterFrame1, {0, 0, 2, 2}, kGreen));
    EXPECT_TRUE(AllPixels(afterFrame1, {2, 0, 4, 4}, kRed));

    Tick(holder); // frame 2: disposal 2, drawn on the background
    const TBitmap32& c = holder.Composite();
    EXPECT_TRUE(AllPixels(c, {0, 0, 4, 2}, bg));
    EXPECT_TRUE(AllPixels(c, {0, 2, 2, 4}, bg));
    EXPECT_TRUE(AllPixels(c, {2, 2, 4, 4}, kBlue));
    EXPECT_TRUE(SamePixels(holder.PreviousComposite(), afterFrame1));

    Tick(holder); // frame 3: disposal 3, drawn on the screen after frame 1
    TBitmap32 expected = afterFrame1;
    expected.SetPixel(3, 0, kWhite);
    EXPECT_TRUE(SamePixels(holder.Composite(), expected));
    const TBitmap32 afterFrame3 = holder.Composite();

    Tick(holder); // frame 4: disposal 1 keeps the screen
    expected.SetPixel(0, 3, kBlue);
    EXPECT_TRUE(SamePixels(holder.Composite(), expected));
    EXPECT_TRUE(SamePixels(holder.PreviousComposite(), afterFrame3));

    Tick(holder); // back to frame 0: the screen starts afresh
    EXPECT_EQ(holder.CurrentIndex(), 0);
    EXPECT_TRUE(AllPixels(holder.Composite(), {0, 0, 4, 4}, kRed));
    EXPECT_EQ(m_frames, 6);
}

TEST_F(MultipageTest, TransparentPixelsOfALaterFrameKeepWhatIsBelow) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("e.gif"), {{.index = 0}, {.index = 1, .transparentColumns = 2}}), holder);
    holder.Play();
    Tick(holder);
    EXPECT_TRUE(AllPixels(holder.Composite(), {0, 0, 2, 4}, kRed));
    EXPECT_TRUE(AllPixels(holder.Composite(), {2, 0, 4, 4}, kGreen));
}

// --- play, stop, clear, pages ---------------------------------------------------------

TEST_F(MultipageTest, PlayOnAOneFrameGifDoesNothing) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("one.gif"), {{.index = 1}}), holder);
    ASSERT_EQ(holder.FrameCount(), 1);
    EXPECT_EQ(m_frames, 1);
    holder.Play();
    EXPECT_FALSE(holder.FrameTimer().Enabled());
}

TEST_F(MultipageTest, TiffIsServedByDrawPageOnlyAndDoesNotPlay) {
    TVekMultipageBitmap holder;
    Load(SaveMultiPageTiff(Path("p.tif"), 4, 6, 5), holder);
    EXPECT_EQ(holder.ImageKind(), TVekImageKind::ikTiff);
    ASSERT_EQ(holder.FrameCount(), 4);
    EXPECT_EQ(m_frames, 0);
    EXPECT_TRUE(holder.Composite().Empty());
    holder.Play();
    EXPECT_FALSE(holder.FrameTimer().Enabled());

    TBitmap32 target;
    int changes = 0;
    target.OnChange = [&](TBitmap32&) { ++changes; };
    holder.DrawPage(2, &target);
    EXPECT_EQ(holder.CurrentIndex(), 2);
    EXPECT_EQ(target.Width(), 8);
    EXPECT_EQ(target.Height(), 5);
    EXPECT_GE(changes, 1);

    const int before = changes;
    holder.DrawPage(4, &target);
    holder.DrawPage(-1, &target);
    holder.DrawPage(1, nullptr);
    EXPECT_EQ(holder.CurrentIndex(), 2);
    EXPECT_EQ(target.Width(), 8);
    EXPECT_EQ(changes, before);

    holder.Stop();
    EXPECT_EQ(holder.CurrentIndex(), 0);
}

TEST_F(MultipageTest, TiffPagesOfDifferentSizesAndDepthsAllConvert) {
    TVekMultipageBitmap holder;
    Load(SaveMixedTiff(Path("mixed.tif")), holder);
    ASSERT_EQ(holder.FrameCount(), 5);
    const int sizes[][2] = {{10, 8}, {5, 3}, {7, 7}, {3, 9}, {5, 3}};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        TBitmap32 target;
        holder.DrawPage(i, &target);
        EXPECT_EQ(target.Width(), sizes[i][0]);
        EXPECT_EQ(target.Height(), sizes[i][1]);
    }
}

TEST_F(MultipageTest, HandOverMovesHandleAndCountAndEmptiesTheSource) {
    TVekMultipageBitmap viewer;
    Load(SaveGif(Path("h.gif"), {{.index = 0}, {.index = 1}, {.index = 2}}), viewer);
    viewer.Play();
    Tick(viewer);
    FIMULTIBITMAP* handle = viewer.MultiBitmap();
    ASSERT_NE(handle, nullptr);

    TVekMultipageBitmap slideshow;
    int fired = 0;
    slideshow.OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32&) { ++fired; };
    slideshow.Assign(viewer);
    EXPECT_EQ(slideshow.MultiBitmap(), handle);
    EXPECT_EQ(slideshow.FrameCount(), 3);
    EXPECT_EQ(slideshow.ImageKind(), TVekImageKind::ikGif);
    EXPECT_EQ(slideshow.CurrentIndex(), 0);
    EXPECT_EQ(fired, 1);
    EXPECT_TRUE(AllPixels(slideshow.Composite(), {0, 0, 4, 4}, kRed));

    EXPECT_EQ(viewer.MultiBitmap(), nullptr);
    EXPECT_EQ(viewer.FrameCount(), 0);
    EXPECT_EQ(viewer.ImageKind(), TVekImageKind::ikNone);
    EXPECT_FALSE(viewer.FrameTimer().Enabled());
    viewer.Play();
    EXPECT_FALSE(viewer.FrameTimer().Enabled());

    slideshow.Play();
    Tick(slideshow);
    EXPECT_EQ(slideshow.CurrentIndex(), 1);
    EXPECT_TRUE(AllPixels(slideshow.Composite(), {0, 0, 4, 4}, kGreen));

    slideshow.Assign(slideshow); // itself: keeps everything
    EXPECT_EQ(slideshow.MultiBitmap(), handle);
}

TEST_F(MultipageTest, StopAndClear) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("s.gif"), {{.index = 0}, {.index = 1}}), holder);
    holder.Play();
    Tick(holder);
    holder.Stop();
    EXPECT_FALSE(holder.FrameTimer().Enabled());
    EXPECT_EQ(holder.CurrentIndex(), 0);
    EXPECT_NE(holder.MultiBitmap(), nullptr);
    holder.Clear();
    EXPECT_EQ(holder.MultiBitmap(), nullptr);
    EXPECT_EQ(holder.FrameCount(), 0);
    EXPECT_EQ(holder.ImageKind(), TVekImageKind::ikNone);
    EXPECT_TRUE(holder.Composite().Empty());
    EXPECT_TRUE(holder.PreviousComposite().Empty());
    holder.DrawPage(0, &m_last);
    EXPECT_EQ(holder.CurrentIndex(), 0);
}

TEST_F(MultipageTest, StopFromInsideTheFrameEventHolds) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("s2.gif"), {{.index = 0}, {.index = 1}}), holder);
    holder.Play();
    holder.OnBitmapChange = [](TVekMultipageBitmap& sender, TBitmap32&) { sender.Stop(); };
    Tick(holder);
    EXPECT_FALSE(holder.FrameTimer().Enabled());
    EXPECT_EQ(holder.CurrentIndex(), 0);
}

TEST_F(MultipageTest, DestroyingTheHolderInsideTheFrameEventIsSafe) {
    auto holder = std::make_unique<TVekMultipageBitmap>();
    Load(SaveGif(Path("s3.gif"), {{.index = 0}, {.index = 1}}), *holder);
    holder->Play();
    holder->OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32&) { holder.reset(); };
    holder->FrameTimer().Tick();
    EXPECT_EQ(holder, nullptr);
}

TEST_F(MultipageTest, RealTimerAnimatesOnTheGuiThread) {
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("r.gif"), {{.index = 0, .timeMs = 10}, {.index = 1, .timeMs = 10}}), holder);
    holder.Play();
    // Waits for deliveries only; how long they take is not measured.
    EXPECT_TRUE(PumpUntil([&] { return m_frames >= 4; }));
    holder.Stop();
}

// --- bad input ----------------------------------------------------------------------

enum class TDamage : std::uint8_t {
    NegativeOffset,
    WhollyOutside,
    ZeroLogicalSize,
    NegativeLogicalSize,
    BrokenFrame
};

struct TBadGifCase {
    const char* name;
    TDamage damage;
    int width, height; // expected logical screen
};

class BadGifTest : public MultipageTest, public ::testing::WithParamInterface<TBadGifCase> {};

TEST_P(BadGifTest, AnimatesWithoutHarm) {
    const QString file = SaveGif(Path("bad.gif"), {{.width = 6, .height = 5, .index = 0},
                                                   {.width = 3, .height = 3, .index = 1},
                                                   {.width = 2, .height = 2, .index = 2}});
    QByteArray gif = ReadFile(file);
    const auto blocks = GifBlocks(gif);
    ASSERT_EQ(blocks.size(), 3u);
    switch (GetParam().damage) {
    case TDamage::NegativeOffset: // frame 1 at (-2, -1)
        PutWord(gif, blocks[1].descriptor + 1, 0xFFFE);
        PutWord(gif, blocks[1].descriptor + 3, 0xFFFF);
        break;
    case TDamage::WhollyOutside:
        PutWord(gif, blocks[1].descriptor + 1, 100);
        PutWord(gif, blocks[2].descriptor + 3, 5);
        break;
    case TDamage::ZeroLogicalSize:
        PutWord(gif, 6, 0);
        PutWord(gif, 8, 0);
        break;
    case TDamage::NegativeLogicalSize: // width -1, height smaller than frame 0
        PutWord(gif, 6, 0xFFFF);
        PutWord(gif, 8, 3);
        break;
    case TDamage::BrokenFrame: // an LZW code size no decoder accepts
        gif[blocks[1].lzwSize] = char(0x7F);
        break;
    }
    WriteFile(file, gif);

    TVekMultipageBitmap holder;
    Load(file, holder);
    ASSERT_GE(holder.FrameCount(), 2);
    EXPECT_EQ(holder.Composite().Width(), GetParam().width);
    EXPECT_EQ(holder.Composite().Height(), GetParam().height);
    holder.Play();
    for (int i = 0; i < 2 * holder.FrameCount(); ++i) Tick(holder);
    EXPECT_EQ(m_frames, 1 + 2 * holder.FrameCount());
    EXPECT_EQ(holder.CurrentIndex(), 0);

    // Frame 1 alone on top of frame 0.
    holder.Stop();
    holder.Play();
    Tick(holder);
    const TBitmap32& c = holder.Composite();
    switch (GetParam().damage) {
    case TDamage::NegativeOffset:
        EXPECT_TRUE(AllPixels(c, {0, 0, 1, 2}, kGreen));
        EXPECT_TRUE(AllPixels(c, {1, 0, 6, 5}, kRed));
        EXPECT_TRUE(AllPixels(c, {0, 2, 1, 5}, kRed));
        break;
    case TDamage::WhollyOutside:
    case TDamage::BrokenFrame:
        EXPECT_TRUE(AllPixels(c, c.BoundsRect(), kRed));
        break;
    default:
        EXPECT_TRUE(AllPixels(c, {0, 0, 3, 3}, kGreen));
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Gif, BadGifTest,
    ::testing::Values(TBadGifCase{"NegativeOffset", TDamage::NegativeOffset, 6, 5},
                      TBadGifCase{"WhollyOutside", TDamage::WhollyOutside, 6, 5},
                      TBadGifCase{"ZeroLogicalSize", TDamage::ZeroLogicalSize, 6, 5},
                      TBadGifCase{"NegativeLogicalSize", TDamage::NegativeLogicalSize, 6, 3},
                      TBadGifCase{"BrokenFrame", TDamage::BrokenFrame, 6, 5}),
    [](const auto& info) { return std::string(info.param.name); });

// The loader refuses a GIF cut short (even one that only lacks its trailer), so a holder
// assigned from that load holds nothing and cannot play.
TEST_F(MultipageTest, TruncatedGifLeavesTheHolderEmpty) {
    const QString file = SaveGif(Path("cut.gif"), {{.index = 0}, {.index = 1}, {.index = 2}});
    QByteArray gif = ReadFile(file);
    const auto blocks = GifBlocks(gif);
    ASSERT_EQ(blocks.size(), 3u);
    TVekMultipageBitmap holder;
    Load(SaveGif(Path("ok.gif"), {{.index = 0}, {.index = 1}}), holder);
    ASSERT_NE(holder.MultiBitmap(), nullptr);
    WriteFile(file, gif.left(blocks[2].lzwSize + 3));
    TLoaderRecorder rec(m_loader);
    ASSERT_TRUE(rec.OpenAndWait(file));
    EXPECT_EQ(m_loader.Status(), TImageLoaderProStatus::ilError);
    const int before = m_frames;
    holder.Assign(m_loader);
    EXPECT_EQ(holder.MultiBitmap(), nullptr);
    EXPECT_EQ(holder.FrameCount(), 0);
    EXPECT_TRUE(holder.Composite().Empty());
    EXPECT_EQ(m_frames, before);
    holder.Play();
    EXPECT_FALSE(holder.FrameTimer().Enabled());
}

// Frames copied block by block from a two-frame file, with their delays set to `delayCs`.
QByteArray ManyFrames(const QByteArray& gif, int count, int delayCs) {
    const auto blocks = GifBlocks(gif);
    QByteArray frame = gif.mid(blocks[1].start, blocks[1].end - blocks[1].start);
    if (blocks[1].gce >= 0) PutWord(frame, blocks[1].gce - blocks[1].start + 4, delayCs);
    QByteArray out = gif.left(blocks[1].start);
    if (blocks[0].gce >= 0) PutWord(out, blocks[0].gce + 4, delayCs);
    for (int i = 1; i < count; ++i) out += frame;
    out += char(0x3B);
    return out;
}

TEST_F(MultipageTest, FiveThousandZeroDelayFramesLoop) {
    const QString file = SaveGif(Path("many.gif"), {{.index = 0}, {.index = 1}});
    WriteFile(file, ManyFrames(ReadFile(file), 5000, 0));
    TVekMultipageBitmap holder;
    Load(file, holder);
    ASSERT_EQ(holder.FrameCount(), 5000);
    EXPECT_EQ(holder.FrameTimer().Interval(), 0);
    holder.Play();
    for (int i = 1; i <= 3; ++i) {
        Tick(holder);
        EXPECT_EQ(holder.CurrentIndex(), i);
        EXPECT_EQ(holder.FrameTimer().Interval(), 0);
    }
    EXPECT_TRUE(AllPixels(holder.Composite(), holder.Composite().BoundsRect(), kGreen));
    TBitmap32 page;
    holder.DrawPage(4998, &page);
    EXPECT_EQ(page.Width(), 4);
    Tick(holder);
    EXPECT_EQ(holder.CurrentIndex(), 4999);
    Tick(holder);
    EXPECT_EQ(holder.CurrentIndex(), 0);
    EXPECT_TRUE(AllPixels(holder.Composite(), holder.Composite().BoundsRect(), kRed));
    EXPECT_EQ(m_frames, 6);
}

// --- decoding ahead -------------------------------------------------------------------

// Every frame handed out while playing is exactly the one that decoding each page as it
// is shown gives, over several loops.
TEST_F(MultipageTest, FramesDecodedAheadMatchFreshlyDecodedOnes) {
    const QString file =
        SaveGif(Path("ahead.gif"),
                {{.width = 64, .height = 48, .timeMs = 20, .noiseSeed = 1},
                 {.width = 40,
                  .height = 20,
                  .left = 10,
                  .top = 20,
                  .timeMs = 0,
                  .disposal = 1,
                  .transparentColumns = 5,
                  .noiseSeed = 2},
                 {.width = 20, .height = 20, .left = 40, .top = 20, .disposal = 2, .noiseSeed = 3},
                 {.width = 10, .height = 12, .left = 5, .top = 5, .disposal = 3, .noiseSeed = 4},
                 {.width = 64, .height = 48, .transparentColumns = 8, .noiseSeed = 5},
                 {.width = 30, .height = 30, .left = 50, .top = 34, .disposal = 3, .noiseSeed = 6}},
                64, 48, 4);
    TVekMultipageBitmap holder;
    Load(file, holder);
    ASSERT_EQ(holder.FrameCount(), 6);
    std::vector<int> pages;
    for (int step = 0; step <= 3 * 6 + 2; ++step) pages.push_back(step % 6);
    const auto expected = FreshComposites(file, holder.FrameBackground(), pages);
    ASSERT_EQ(expected.size(), pages.size());
    holder.Play();
    for (std::size_t step = 0; step < pages.size(); ++step) {
        SCOPED_TRACE(step);
        if (step > 0) Tick(holder);
        ASSERT_EQ(holder.CurrentIndex(), pages[step]);
        EXPECT_TRUE(SamePixels(holder.Composite(), expected[step]));
        EXPECT_TRUE(SamePixels(m_last, expected[step]));
    }
    EXPECT_EQ(m_frames, int(pages.size()));
}

// Frames big enough that the worker is still decoding when the next call comes.
QString SaveBigGif(const QString& path) {
    std::vector<TGifFrame> frames;
    for (unsigned i = 0; i < 4; ++i)
        frames.push_back({.width = 1024,
                          .height = 768,
                          .timeMs = 40,
                          .transparentColumns = i == 0 ? 0 : int(100 * i),
                          .noiseSeed = 11 + i});
    return SaveGif(path, frames, 1024, 768, 4);
}

TEST_F(MultipageTest, DrawPageWhileTheNextFrameIsDecodedAhead) {
    const QString file = SaveBigGif(Path("big.gif"));
    TVekMultipageBitmap holder;
    Load(file, holder); // page 1 is now being decoded ahead
    TBitmap32 page;
    holder.DrawPage(2, &page);
    EXPECT_EQ(holder.CurrentIndex(), 2);
    EXPECT_TRUE(SamePixels(page, FreshPage(file, 2)));
    // The tick wants page 3, not the page 1 that was prepared.
    const auto expected = FreshComposites(file, holder.FrameBackground(), {0, 3, 0, 1});
    ASSERT_EQ(expected.size(), 4u);
    holder.Play();
    for (std::size_t step = 1; step < expected.size(); ++step) {
        SCOPED_TRACE(step);
        Tick(holder);
        EXPECT_TRUE(SamePixels(holder.Composite(), expected[step]));
        EXPECT_TRUE(SamePixels(m_last, expected[step]));
    }
    EXPECT_EQ(holder.CurrentIndex(), 1);
}

TEST_F(MultipageTest, ClearAndAssignAgainWhileTheNextFrameIsDecodedAhead) {
    const QString file = SaveBigGif(Path("big.gif"));
    TVekMultipageBitmap holder;
    Load(file, holder);
    holder.Clear();
    EXPECT_EQ(holder.MultiBitmap(), nullptr);
    EXPECT_TRUE(holder.Composite().Empty());

    // Cleared from inside the frame event, while the page after it is being decoded.
    Load(file, holder);
    holder.Play();
    holder.OnBitmapChange = [](TVekMultipageBitmap& sender, TBitmap32&) { sender.Clear(); };
    Tick(holder);
    EXPECT_EQ(holder.MultiBitmap(), nullptr);
    EXPECT_FALSE(holder.FrameTimer().Enabled());

    // A new handle gets nothing prepared for the old one.
    const int before = m_frames;
    Load(file, holder);
    EXPECT_EQ(m_frames, before + 1);
    const auto expected = FreshComposites(file, holder.FrameBackground(), {0, 1, 2});
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_TRUE(SamePixels(holder.Composite(), expected[0]));
    holder.Play();
    Tick(holder);
    Tick(holder);
    EXPECT_TRUE(SamePixels(holder.Composite(), expected[2]));
}

TEST_F(MultipageTest, DestroyingTheHolderWhileTheNextFrameIsDecodedAhead) {
    const QString file = SaveBigGif(Path("big.gif"));
    auto holder = std::make_unique<TVekMultipageBitmap>();
    Load(file, *holder);
    holder.reset();

    holder = std::make_unique<TVekMultipageBitmap>();
    Load(file, *holder);
    holder->Play();
    Tick(*holder);
    const int frames = m_frames;
    holder.reset();
    // Nothing arrives afterwards.
    QCoreApplication::processEvents();
    EXPECT_EQ(m_frames, frames);

    holder = std::make_unique<TVekMultipageBitmap>();
    Load(file, *holder);
    holder->Play();
    holder->OnBitmapChange = [&](TVekMultipageBitmap&, TBitmap32&) { holder.reset(); };
    holder->FrameTimer().Tick();
    EXPECT_EQ(holder, nullptr);
}

TEST_F(MultipageTest, HandOverWhileTheNextFrameIsDecodedAhead) {
    const QString file = SaveBigGif(Path("big.gif"));
    TVekMultipageBitmap viewer;
    Load(file, viewer);
    viewer.Play();
    Tick(viewer); // page 2 is now being decoded ahead
    TVekMultipageBitmap slideshow;
    slideshow.Assign(viewer);
    EXPECT_EQ(viewer.MultiBitmap(), nullptr);
    ASSERT_EQ(slideshow.FrameCount(), 4);
    const auto expected = FreshComposites(file, slideshow.FrameBackground(), {0, 1, 2, 3, 0});
    ASSERT_EQ(expected.size(), 5u);
    EXPECT_TRUE(SamePixels(slideshow.Composite(), expected[0]));
    slideshow.Play();
    for (std::size_t step = 1; step < expected.size(); ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(slideshow.FrameTimer().Enabled());
        slideshow.FrameTimer().Tick();
        EXPECT_TRUE(SamePixels(slideshow.Composite(), expected[step]));
    }
}

// Reading page n of a GIF costs time in proportion to n, so the whole loop is not played;
// a page jump brings the animation to its end, where frames decoded ahead lead through
// the wrap.
TEST_F(MultipageTest, FiveThousandFramesDecodedAheadThroughTheWrap) {
    const QString file = SaveGif(Path("many.gif"), {{.index = 0}, {.index = 1}});
    WriteFile(file, ManyFrames(ReadFile(file), 5000, 0));
    TVekMultipageBitmap holder;
    Load(file, holder);
    ASSERT_EQ(holder.FrameCount(), 5000);
    const std::vector<int> pages = {0, 1, 2, 3, 4998, 4999, 0, 1, 2};
    const auto expected = FreshComposites(file, holder.FrameBackground(), pages);
    ASSERT_EQ(expected.size(), pages.size());
    holder.Play();
    for (std::size_t step = 1; step < pages.size(); ++step) {
        SCOPED_TRACE(step);
        if (pages[step] == 4998) {
            TBitmap32 page;
            holder.DrawPage(4997, &page);
            EXPECT_TRUE(SamePixels(page, FreshPage(file, 4997)));
        }
        Tick(holder);
        ASSERT_EQ(holder.CurrentIndex(), pages[step]);
        EXPECT_EQ(holder.FrameTimer().Interval(), 0);
        EXPECT_TRUE(SamePixels(holder.Composite(), expected[step]));
        EXPECT_TRUE(SamePixels(m_last, expected[step]));
    }
    EXPECT_TRUE(AllPixels(holder.Composite(), holder.Composite().BoundsRect(), kGreen));
    EXPECT_EQ(m_frames, int(pages.size()));
}

// --- the first frame comes from the loader's worker -------------------------------

TEST_F(MultipageTest, LoadersFirstFrameSparesTheGuiThreadFromDecodingIt) {
    TVekMultipageBitmap holder;
    TLoaderRecorder rec(m_loader);
    ASSERT_TRUE(rec.OpenAndWait(SaveGif(Path("w.gif"),
                                        {{.width = 4,
                                          .height = 4,
                                          .index = 0,
                                          .left = 2,
                                          .top = 1,
                                          .timeMs = 50,
                                          .transparentColumns = 1},
                                         {.index = 1, .timeMs = 50}},
                                        8, 6, 2)));
    const int before = TVekMultipageBitmap::GuiThreadPageReads();
    holder.Assign(m_loader);
    EXPECT_EQ(TVekMultipageBitmap::GuiThreadPageReads(), before);
    // The same composition as decoding it here would give.
    ASSERT_EQ(holder.Composite().Width(), 8);
    ASSERT_EQ(holder.Composite().Height(), 6);
    EXPECT_EQ(holder.FrameBackground(), kBlue);
    EXPECT_TRUE(AllPixels(holder.Composite(), {0, 0, 3, 6}, kBlue));
    EXPECT_TRUE(AllPixels(holder.Composite(), {3, 1, 6, 5}, kRed));

    // Handed on to another holder, frame 0 is composed from the handle again.
    TVekMultipageBitmap other;
    other.Assign(holder);
    EXPECT_GT(TVekMultipageBitmap::GuiThreadPageReads(), before);
    EXPECT_TRUE(AllPixels(other.Composite(), {3, 1, 6, 5}, kRed));
}

TEST_F(MultipageTest, FirstFrameOfAnEarlierLoadIsNotReused) {
    TVekMultipageBitmap holder;
    TLoaderRecorder rec(m_loader);
    ASSERT_TRUE(rec.OpenAndWait(SaveGif(Path("x.gif"), {{.index = 0}, {.index = 1}})));
    m_loader.ReleaseSource();
    EXPECT_EQ(m_loader.TakeGifFirstFrame(), nullptr);
    ASSERT_TRUE(rec.OpenAndWait(SaveGif(Path("y.gif"), {{.index = 1}, {.index = 0}})));
    holder.Assign(m_loader);
    // y.gif starts with the second colour.
    EXPECT_TRUE(AllPixels(holder.Composite(), holder.Composite().BoundsRect(), kGreen));
    EXPECT_EQ(m_loader.TakeGifFirstFrame(), nullptr);
}

} // namespace
